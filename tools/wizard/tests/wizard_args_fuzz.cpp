// Fuzz target of the wizard's command line: any sequence of its options
// (and of words it does not know), with any values, through the wizard's
// own main (tools/wizard/orvwizard.cpp, built in with its main renamed) on
// a system root of the run's own: the maker's board alone on the PCI bus,
// the board database, and an X configuration with a layout, input devices
// and the board. The options that name files take one of the root's: the
// configuration, a second copy of it, a file that is not there, a folder.
// The wizard ends the process on a word it does not take; here that ends
// the input (tools/lib/tests/fuzz_exit.h). It must end with status 0 or 1,
// and a configuration it wrote must read again.
//
// Input: arguments one after the other, each a byte and its value: bits
// 0-4 the option (modulo the 27 options, 27 and 28 a word of the input's
// own, with one dash or none), bit 5 the value in the same word after '='
// (else the next word), bit 6 one dash (else two), bit 7 an option without
// its value; a value is a length byte and as many bytes (a file option's:
// a byte naming one of the root's files).
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lib/carddb.h"
#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/fuzz_exit.h"
#include "tools/testsupport/files.h"
#include "tools/testsupport/fixture_root.h"

int OrvWizardMain(int argc, char** argv);

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "wizard arguments fuzz: %s\n", what);
    abort();
  }
}

struct Option {
  const char* name;
  bool value;
  bool file;
};
constexpr Option kOptions[] = {
    {"outputfile", true, true}, {"cardfile", true, true}, {"orv", false, false},
    {"qlb", false, false},       {"kvd", true, false},     {"output", true, false},
    {"merge", false, false},     {"independent", false, false}, {"xinerama", false, false},
    {"horizontal", false, false}, {"square", false, false}, {"vertical", false, false},
    {"resolution", true, false}, {"vrefresh", true, false}, {"bpp", true, false},
    {"rotate", true, false},     {"bm", true, false},      {"gl", true, false},
    {"edid", true, false},       {"dvi", true, false},     {"version", false, false},
    {"overwrite", false, false}, {"probe", true, false},   {"modeline", true, false},
    {"ignorecap", false, false}, {"clearmodeline", false, false}, {"help", false, false},
};
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];
constexpr int kMostArguments = 24;

// The run's system root, taken away at its end.
struct Root {
  std::string path;
  std::string config;  // what etc/X11/xorg.conf holds at the start of an input
  Root() {
    char name[] = "/tmp/orv-wizard-fuzz.XXXXXX";
    Check(mkdtemp(name) != nullptr, "no root");
    path = name;
    tools_test::WriteFixtureBoard(path, 0x0301);
    tools_test::InstallBoardDatabase(path, ORV_SOURCE_DIR);
    config = tools_test::ReadFile(std::string(ORV_SOURCE_DIR) + "/tools/lib/tests/fixtures/layout_multi.conf");
    Check(!config.empty(), "no configuration to start from");
    std::filesystem::create_directories(path + "/folder");
    setenv("ORV_SYSROOT", path.c_str(), 1);
  }
  ~Root() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string File(uint8_t pick) const {
    switch (pick % 4) {
      case 0: return path + "/etc/X11/xorg.conf";
      case 1: return path + "/copy.conf";
      case 2: return path + "/none.conf";
      default: return path + "/folder";
    }
  }
  void Reset() const {
    tools_test::WriteFile(path + "/etc/X11/xorg.conf", config);
    tools_test::WriteFile(path + "/copy.conf", config);
    std::error_code ec;
    std::filesystem::remove(path + "/none.conf", ec);
  }
};

Root& TheRoot() {
  static Root root;
  return root;
}

// Whether the file reads as an X configuration.
bool Reads(const std::string& path) {
  const std::string text = tools_test::ReadFile(path);
  static char empty = '\0';
  FILE* stream = fmemopen(text.empty() ? &empty : const_cast<char*>(text.data()), text.size(), "r");
  if (stream == nullptr) return false;
  xconf::SetConfigStream(stream, path.c_str());
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  const bool read = file != nullptr;
  xf86freeConfig(file);
  return read;
}

// Standard output and error go nowhere while the wizard runs.
struct Quiet {
  int out = dup(1), err = dup(2);
  Quiet() {
    fflush(stdout);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    dup2(sink, 2);
    close(sink);
  }
  ~Quiet() {
    fflush(stdout);
    fflush(stderr);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Root& root = TheRoot();
  root.Reset();
  std::vector<std::string> words = {"orvwizard"};
  size_t at = 0;
  auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  while (at < size && words.size() < kMostArguments) {
    const uint8_t how = byte();
    const size_t pick = how & 31;
    const std::string dashes = (how & 0x40) != 0 ? "-" : "--";
    std::string value;
    bool hasValue = false;
    if (pick < kOptionCount && kOptions[pick].file) {
      value = root.File(byte());
      hasValue = true;
    } else if (pick >= kOptionCount || kOptions[pick].value) {
      const size_t length = byte();
      for (size_t i = 0; i < length && at < size; ++i) value += static_cast<char>(data[at++]);
      hasValue = true;
    }
    if (pick >= kOptionCount) {
      // A word of the input's own: an option the wizard does not know, or
      // a word without dashes.
      words.push_back(pick == kOptionCount ? dashes + value : value);
      continue;
    }
    const std::string name = dashes + kOptions[pick].name;
    if (!hasValue || (how & 0x80) != 0) {
      words.push_back(name);
    } else if ((how & 0x20) != 0) {
      words.push_back(name + "=" + value);
    } else {
      words.push_back(name);
      words.push_back(value);
    }
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  optind = 0;  // getopt starts over
  int answer = -1;
  int status;
  {
    Quiet quiet;
    status = toolfuzz::Trapped([&] { answer = OrvWizardMain(static_cast<int>(words.size()), argv.data()); });
  }
  if (status == -1) status = answer;
  // The wizard keeps the name of a board database folder it was given,
  // which lived in its arguments.
  SetDatabaseCardFile(nullptr);
  Check(status == 0 || status == 1, "the wizard ended with a status other than 0 or 1");
  // What it wrote reads again.
  for (uint8_t pick : {0, 1}) Check(Reads(root.File(pick)), "a configuration the wizard wrote does not read again");
  return 0;
}
