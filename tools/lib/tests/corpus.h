#pragma once

// The real configuration files under tests/data/xorg-conf and what the reader
// says about the ones it refuses.

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/lib/tests/test_util.h"

namespace toolcfg_test {

inline constexpr const char* kGrammarOlder =
    "the library's grammar is older than the server's: it has no InputClass section and no "
    "Module Disable keyword";
inline constexpr const char* kServerLaxer =
    "the server is laxer: it accepts references to sections the file does not define and "
    "Device sections without a Driver line";

struct RefusedFile {
  const char* number;
  const char* message;
  const char* server_differs;  // null when the server refuses it the same way
};

inline const RefusedFile kRefusedFiles[] = {
    {"001", "Parse error on line 11 of section Module in file FILE\n\t\"Disable\" is not a valid keyword in this section.\n", kGrammarOlder},
    {"013", "Data incomplete in file FILE\n\tUndefined Device \"Card0\" referenced by Screen \"Screen0\".\n", kServerLaxer},
    {"015", "Parse error on line 41 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"019", "Parse error on line 10 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"023", "Parse error on line 30 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"027", "Data incomplete in file FILE\n\tUndefined Monitor \"Monitor0\" referenced by Screen \"Screen0\".\n", kServerLaxer},
    {"033", "Parse error on line 34 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"037", "Parse error on line 110 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"041", "Parse error on line 11 of section Module in file FILE\n\t\"Disable\" is not a valid keyword in this section.\n", kGrammarOlder},
    {"043", "Parse error on line 7 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"049", "Parse error on line 5 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"063", "Parse error on line 1 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"065", "Data incomplete in file FILE\n\tUndefined Device \"FBDEV\" referenced by Screen \"Screen0\".\n", kServerLaxer},
    {"079", "Parse error on line 1 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"085", "Data incomplete in file FILE\n\tUndefined Monitor \"Monitor1\" referenced by Screen \"Screen1\".\n", kServerLaxer},
    {"089", "Data incomplete in file FILE\n\tUndefined InputDevice \"Mouse0\" referenced by ServerLayout \"X.org Configured\".\n", nullptr},
    {"093", "Data incomplete in file FILE\n\tDevice section \"card0\" must have a Driver line.\n", kServerLaxer},
    {"095", "Data incomplete in file FILE\n\tUndefined Device \"radeon\" referenced by Screen \"Default Screen\".\n", kServerLaxer},
    {"103", "Parse error on line 6 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"107", "Parse error on line 4 of section InputClass in file FILE\n\t\"InputClass\" is not a valid section name.\n", kGrammarOlder},
    {"119", "Data incomplete in file FILE\n\tUndefined Device \"(null)\" referenced by Screen \"Default Screen\".\n", kServerLaxer},
};

inline const RefusedFile* FindRefused(const std::string& number) {
  for (const RefusedFile& r : kRefusedFiles) {
    if (number == r.number) return &r;
  }
  return nullptr;
}

inline std::string CorpusDir() { return SourceDir() + "/tests/data/xorg-conf"; }

// The numbers of the corpus files ("001", ...), in order.
inline std::vector<std::string> CorpusNumbers() {
  std::vector<std::string> numbers;
  if (DIR* dir = opendir(CorpusDir().c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() == 8 && name.substr(3) == ".conf") numbers.push_back(name.substr(0, 3));
    }
    closedir(dir);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// Reads a corpus file with its path replaced by "FILE" in the messages.
inline Parsed ParseCorpus(const std::string& number) {
  std::string path = CorpusDir() + "/" + number + ".conf";
  Parsed p = ParsePath(path);
  size_t at;
  while ((at = p.err.find(path)) != std::string::npos) p.err.replace(at, path.size(), "FILE");
  return p;
}

}  // namespace toolcfg_test
