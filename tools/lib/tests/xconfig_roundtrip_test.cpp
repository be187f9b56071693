#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/corpus.h"
#include "tools/lib/tests/test_util.h"

namespace {

using namespace toolcfg_test;

std::string FixtureDir() { return SourceDir() + "/tools/lib/tests/fixtures"; }

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// Splits a line into its quoted strings and its comment (from the first '#'
// outside quotes).
void SplitLine(const std::string& line, std::vector<std::string>* strings, std::string* comment) {
  comment->clear();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#') {
      *comment = Trim(line.substr(i));
      return;
    }
    if (line[i] == '"') {
      size_t end = line.find_first_of("\"\r", i + 1);
      if (end == std::string::npos) end = line.size();
      strings->push_back(line.substr(i + 1, end - i - 1));
      i = end;
    }
  }
}

std::string FirstWord(const std::string& line) {
  std::string t = Trim(line);
  size_t end = t.find_first_of(" \t\"");
  std::string word = t.substr(0, end);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// What an independent reading of the original says must survive: its comments
// and the quoted strings of its keyword lines (Section and SubSection names
// are rewritten in their canonical spelling, the later of two like-named
// options is dropped).
void ExpectNothingLost(const std::string& original, const std::string& written,
                       const std::string& what) {
  std::set<std::string> out_comments;
  std::string quoted_out;
  for (const std::string& line : Lines(written)) {
    std::vector<std::string> strings;
    std::string comment;
    SplitLine(line, &strings, &comment);
    if (!comment.empty()) out_comments.insert(comment);
    for (const std::string& s : strings) quoted_out += "\"" + s + "\"\n";
  }
  std::vector<std::string> seen_options;
  for (const std::string& line : Lines(original)) {
    std::vector<std::string> strings;
    std::string comment;
    SplitLine(line, &strings, &comment);
    if (!comment.empty()) {
      EXPECT_TRUE(out_comments.count(comment)) << what << ": comment lost: " << comment;
    }
    std::string word = FirstWord(line);
    if (word == "section" || word == "endsection") seen_options.clear();
    // Flag words of a verbose mode come back unquoted on its mode line.
    if (word == "section" || word == "subsection" || word == "flags") continue;
    if (word == "option" && !strings.empty()) {
      bool dup = false;
      for (const std::string& o : seen_options) dup = dup || xf86nameCompare(o.c_str(), strings[0].c_str()) == 0;
      if (dup) continue;
      seen_options.push_back(strings[0]);
    }
    for (const std::string& s : strings) {
      if (quoted_out.find("\"" + s + "\"\n") != std::string::npos) continue;
      // Path lists come back one element per line.
      size_t start = 0;
      bool all = true;
      while (true) {
        size_t comma = s.find(',', start);
        std::string part = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        all = all && quoted_out.find("\"" + part + "\"\n") != std::string::npos;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      EXPECT_TRUE(all) << what << ": string lost: \"" << s << "\" in line: " << line;
    }
  }
}

TEST(CfgRoundTrip, FixturesMatchTheirGoldenTextAndAreStable) {
  for (const char* name : {"layout_multi", "legacy_input", "monitor_modes"}) {
    std::string source = FixtureDir() + "/" + name + ".conf";
    std::string golden = ReadFile(FixtureDir() + "/" + name + ".golden");
    ASSERT_FALSE(golden.empty()) << name;
    Parsed p = ParsePath(source);
    ASSERT_NE(p.file, nullptr) << name << "\n" << p.err;
    EXPECT_EQ(p.err, "") << name;
    std::string first = WriteText(p.file);
    EXPECT_EQ(first, golden) << name;
    Parsed again = ParseText(first);
    ASSERT_NE(again.file, nullptr) << name << "\n" << again.err;
    EXPECT_EQ(WriteText(again.file), first) << name;
    ExpectNothingLost(ReadFile(source), first, name);
  }
}

TEST(CfgRoundTrip, WrittenFileAlwaysHasFilesAndModuleSections) {
  Parsed p = ParseText("");
  ASSERT_NE(p.file, nullptr);
  EXPECT_EQ(WriteText(p.file), "Section \"Files\"\nEndSection\n\nSection \"Module\"\nEndSection\n\n");
}

TEST(CfgRoundTrip, ModeLinesKeepClockAndFieldsEverywhere) {
  const char* modeline = "\tModeLine     \"m\" 65.5 1024 1048 1184 1344 768 771 777 806 -hsync -vsync\n";
  Parsed p = ParseText(
      "Section \"Modes\"\n Identifier \"x\"\n ModeLine \"m\" 65.5 1024 1048 1184 1344 768 771 777 "
      "806 -hsync -vsync\nEndSection\n"
      "Section \"Monitor\"\n Identifier \"mon\"\n ModeLine \"c\" 108.108 1 2 3 4 5 6 7 8 vscan 2 "
      "# keep me\n ModeLine \"d\" 0.001 1 2 3 4 5 6 7 8\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  std::string text = WriteText(p.file);
  EXPECT_NE(text.find(modeline), std::string::npos) << text;
  EXPECT_NE(text.find("\"c\" 108.108 1 2 3 4 5 6 7 8 vscan 2 # keep me\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\"d\" 0.001 1 2"), std::string::npos) << text;
}

// Found by fuzzing: the comment of a dropped like-named option joined the kept
// option's comment behind an empty line.
TEST(CfgRoundTrip, DroppedOptionLeavesItsCommentWithoutEmptyLine) {
  Parsed p = ParseText(
      "Section \"Device\"\n Identifier \"d\"\n Driver \"v\"\n Option \"C\" \"off\"\n # about C\n"
      " Option \"C\" \"on\"\n # about C again\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  std::string text = WriteText(p.file);
  EXPECT_NE(text.find("\tOption\t    \"C\" \"off\"\n # about C\n # about C again\nEndSection\n"),
            std::string::npos)
      << text;
}

// Found by fuzzing: numbers beyond the integer range printed back negative,
// and a dash does not read as a sign.
TEST(CfgRoundTrip, HugeNumbersStayReadable) {
  Parsed p = ParseText(
      "Section \"Device\"\n Identifier \"d\"\n Driver \"v\"\n VideoRam 99999999999999999999\n"
      " MemBase 0xfffffffff0000000\nEndSection\n"
      "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 1" + std::string(60, '0') + "\n"
      " ModeLine \"x\" 99999999999 1 2 3 4 5 6 7 8\nEndSection\n"
      "Section \"Screen\"\n Identifier \"s\"\n Device \"d\"\nEndSection\n"
      "Section \"ServerLayout\"\n Identifier \"l\"\n Screen 0 \"s\" 22222222222222222222 0\n"
      "EndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  EXPECT_EQ(p.file->devices->mem_base, 0xfffffffff0000000ul);
  std::string first = WriteText(p.file);
  for (size_t at = first.find(" -"); at != std::string::npos; at = first.find(" -", at + 1))
    EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(first[at + 2]))) << first;
  Parsed again = ParseText(first);
  ASSERT_NE(again.file, nullptr) << again.err << first;
  EXPECT_EQ(WriteText(again.file), first);
}

// Found by fuzzing: a comment behind carriage returns was taken for text
// and got a second '#', so every rewrite split one more line off it.
TEST(CfgRoundTrip, CommentBehindCarriageReturnsStaysOneComment) {
  Parsed p = ParseText("\r\r\r# one\r\r\r# two\n\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  const std::string first = WriteText(p.file);
  EXPECT_EQ(first.find("#\r"), std::string::npos) << first;
  Parsed again = ParseText(first);
  ASSERT_NE(again.file, nullptr) << again.err << first;
  EXPECT_EQ(WriteText(again.file), first);
}

TEST(CfgRoundTrip, RealFiles) {
  std::vector<std::string> numbers = CorpusNumbers();
  ASSERT_EQ(numbers.size(), 60u);
  for (const std::string& n : numbers) {
    Parsed p = ParseCorpus(n);
    const RefusedFile* refused = FindRefused(n);
    if (refused != nullptr) {
      EXPECT_EQ(p.file, nullptr) << n;
      EXPECT_EQ(p.err, refused->message) << n;
      continue;
    }
    ASSERT_NE(p.file, nullptr) << n << "\n" << p.err;
    std::string first = WriteText(p.file);
    Parsed again = ParseText(first);
    ASSERT_NE(again.file, nullptr) << n << "\n" << again.err;
    EXPECT_EQ(WriteText(again.file), first) << n;
    ExpectNothingLost(ReadFile(CorpusDir() + "/" + n + ".conf"), first, n);
  }
}

}  // namespace
