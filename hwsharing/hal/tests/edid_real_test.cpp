// 300 real monitor EDIDs through the orvedid test program (built with the
// sanitizers): every dump parses, and its maker letters, monitor name and
// first detailed timing equal what edid-decode printed for it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hwsharing/hal/tests/external_tool.h"

#ifndef ORVEDID_PATH
#error "ORVEDID_PATH names the orvedid test program"
#endif

namespace {

std::string EdidDir() {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/tests/data/edid";
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What edid-decode says about the base block.
struct Expected {
  std::string vendor, name;
  bool hasTiming = false;
  std::vector<uint32_t> timing;  // clock kHz, h active/front/sync/back, v active/front/sync/back
};

Expected FromEdidDecode(const std::string& text) {
  Expected e;
  // Only the base block: detailed timings of extensions are numbered on.
  const std::string base = text.substr(0, text.find("\nChecksum:"));
  // The value after a label, up to the end of its line.
  auto after = [&base](const std::string& label, std::string* out) {
    const size_t at = base.find(label);
    if (at == std::string::npos) return false;
    const size_t from = at + label.size();
    *out = base.substr(from, base.find('\n', from) - from);
    return true;
  };
  std::string value;
  if (after("Manufacturer: ", &value)) e.vendor = value.substr(0, value.find(' '));
  if (after("Display Product Name: '", &value)) e.name = value.substr(0, value.rfind('\''));
  size_t dtd = base.find("DTD  1:");
  if (dtd == std::string::npos) dtd = base.find("DTD 1:");
  if (dtd == std::string::npos) return e;
  // "DTD 1: WxH[i] ... CLOCK MHz", then "Hfront a Hsync b Hback c ..." and
  // "Vfront d Vsync e Vback f ...".
  std::istringstream lines(base.substr(base.find(':', dtd) + 1));
  std::string head, hline, vline;
  std::getline(lines, head);
  std::getline(lines, hline);
  std::getline(lines, vline);
  std::istringstream words(head);
  std::string size, word, previous, clock;
  words >> size;
  while (words >> word) {
    if (word == "MHz") clock = previous;
    previous = word;
  }
  auto fields = [](const std::string& line) {
    std::istringstream in(line);
    std::map<std::string, uint32_t> f;
    std::string name;
    uint32_t value = 0;
    while (in >> name >> value) f[name] = value;
    return f;
  };
  auto h = fields(hline);
  auto v = fields(vline);
  const size_t x = size.find('x');
  if (clock.empty() || x == std::string::npos) return e;
  e.hasTiming = true;
  e.timing = {static_cast<uint32_t>(std::lround(std::stod(clock) * 1000)),
              static_cast<uint32_t>(std::stoul(size.substr(0, x))),
              h["Hfront"],
              h["Hsync"],
              h["Hback"],
              static_cast<uint32_t>(std::stoul(size.substr(x + 1))),
              v["Vfront"],
              v["Vsync"],
              v["Vback"]};
  return e;
}

// orvedid's lines for one file.
struct Reported {
  std::string vendor, name;
  std::string preferred;
  bool limits = false;
  int modes = 0;
};

std::map<std::string, Reported> RunOrvedid(const std::vector<std::string>& files) {
  std::vector<std::string> argv{ORVEDID_PATH};
  argv.insert(argv.end(), files.begin(), files.end());
  const hwtest::ToolResult r = hwtest::RunTool(argv);
  EXPECT_EQ(r.exitCode, 0) << "orvedid failed (a sanitizer report ends it with another status)";
  std::map<std::string, Reported> out;
  std::istringstream lines(r.output);
  std::string line;
  Reported* current = nullptr;
  while (std::getline(lines, line)) {
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "file") {
      current = &out[std::filesystem::path(rest).filename().string()];
    } else if (current == nullptr) {
      ADD_FAILURE() << "line before any file: " << line;
    } else if (key == "vendor") {
      current->vendor = rest;
    } else if (key == "name") {
      current->name = rest;
    } else if (key == "preferred") {
      current->preferred = rest;
    } else if (key == "limits") {
      current->limits = rest != "none";
    } else if (key == "mode") {
      ++current->modes;
    }
  }
  return out;
}

TEST(RealEdids, ParseAndAgreeWithEdidDecode) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(EdidDir()))
    if (entry.path().extension() == ".bin") files.push_back(entry.path().string());
  ASSERT_EQ(files.size(), 300u);
  const std::map<std::string, Reported> reported = RunOrvedid(files);
  ASSERT_EQ(reported.size(), files.size());

  int timings = 0, names = 0, withModes = 0;
  for (const std::string& file : files) {
    const std::filesystem::path bin(file);
    const std::string key = bin.filename().string();
    const Expected e = FromEdidDecode(ReadText(std::filesystem::path(bin).replace_extension(".txt")));
    const Reported& r = reported.at(key);
    EXPECT_EQ(r.vendor, e.vendor) << key;
    EXPECT_EQ(r.name, e.name) << key;
    if (!e.name.empty()) ++names;
    if (e.hasTiming) {
      std::string expected;
      for (size_t i = 0; i < e.timing.size(); ++i) expected += (i ? " " : "") + std::to_string(e.timing[i]);
      EXPECT_EQ(r.preferred, expected) << key;
      ++timings;
    } else {
      EXPECT_EQ(r.preferred, "none") << key;
    }
    if (r.modes > 0) ++withModes;
  }
  // The corpus is what it claims to be: most monitors have a name and a
  // detailed timing, and the library finds modes in nearly all of them.
  EXPECT_GT(timings, 250);
  EXPECT_GT(names, 250);
  EXPECT_GT(withModes, 290);
}

}  // namespace
