// Fuzz target of what the tools do with a parsed X configuration: the
// read-back of their options from any configuration the parser accepts
// (SetParsedOptFromConfig, XConfigOp.cpp) and the update the wizard and
// the configuration tool make of it with a user's choices
// (UpdateConfigFile, ConfigFileGenerator.cpp), on a system root of the
// run's own with the maker's board on the PCI bus and the board database.
// The tools end the process on a word they do not take (a rotation, a
// boolean); here that ends the input (tools/lib/tests/fuzz_exit.h). An
// update must end with one of the library's results, and a configuration
// it wrote must read again.
//
// Input: 16 bytes of the user's choices, then the configuration's text:
//   0  choices given: bit 0 outputs, 1 family, 2 KVD, 3 bus mastering,
//      4 OpenGL, 5 EDID, 6 digital outputs forced, 7 the display mode;
//   1  bit 0 the layout, 1 resolutions, 2 refresh rates, 3 depths,
//      4 rotations; bit 5 overwrite, bit 6 the board's capabilities used;
//   2  outputs (1 + byte modulo 4); 3 family (1 + bit 0);
//   4  the switches' values: bit 0 KVD, 1 bus mastering, 2 OpenGL, 3 EDID,
//      4 digital outputs forced;
//   5  mode (1 + byte modulo 3); 6 layout (1 + byte modulo 3);
//   7  rotations (modulo 3, of bits 0-1 and 2-3);
//   8, 9 resolutions of the two screens (of kResolutions);
//   10, 11 refresh rates (of kRefreshRates); 12, 13 depths (of kDepths);
//   14, 15 not used.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"
#include "tools/lib/XConfigOp.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/fuzz_exit.h"
#include "tools/testsupport/files.h"
#include "tools/testsupport/fixture_root.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    dprintf(2, "config update fuzz: %s\n", what);
    abort();
  }
}

constexpr size_t kChoiceBytes = 16;
constexpr const char* kResolutions[] = {"1024x768", "1280x1024", "1600x1200", "640x480", "1920x1080", "x", ""};
constexpr uint32_t kRefreshRates[] = {0, 60, 75, 85, kRefreshNoValue, 1};
constexpr uint32_t kDepths[] = {0, 8, 16, 24, 32, 15};

template <class T, size_t N>
const T& Of(const T (&table)[N], uint8_t pick) {
  return table[pick % N];
}

// The run's system root, taken away at its end.
struct Root {
  std::string path;
  std::string file;
  Root() {
    char name[] = "/tmp/orv-config-fuzz.XXXXXX";
    Check(mkdtemp(name) != nullptr, "no root");
    path = name;
    file = path + "/xorg.conf";
    tools_test::WriteFixtureBoard(path, 0x0301);
    tools_test::InstallBoardDatabase(path, ORV_SOURCE_DIR);
    SysRootSet(path);
    SetWriteAnnouncement(false);
  }
  ~Root() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

Root& TheRoot() {
  static Root root;
  return root;
}

// The configuration read from memory, as the reader reads a file; null
// when the parser refuses it.
XConfFile* Read(const std::string& text) {
  static char empty = '\0';
  FILE* stream = fmemopen(text.empty() ? &empty : const_cast<char*>(text.data()), text.size(), "r");
  if (stream == nullptr) return nullptr;
  xconf::SetConfigStream(stream, "fuzz.conf");
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  return file;
}

UserSelection Choices(const uint8_t* c, const char* file) {
  UserSelection sel{};
  sel.outputFile = file;
  sel.presentFlags = kSelOutputFile;
  const uint32_t given[] = {kSelOutputs, kSelFamily, kSelKvd, kSelBusMastering, kSelOpenGL, kSelEdid, kSelForceDigital,
                            kSelMode, kSelLayout, kSelResolution, kSelRefresh, kSelDepth, kSelRotation};
  const uint32_t bits = c[0] | uint32_t{c[1]} << 8;
  for (size_t i = 0; i < sizeof given / sizeof given[0]; ++i)
    if ((bits >> i & 1) != 0) sel.presentFlags |= given[i];
  sel.overwrite = (c[1] >> 5) & 1;
  sel.useCapabilities = (c[1] >> 6) & 1;
  sel.outputs = 1 + c[2] % 4;
  sel.family = 1 + (c[3] & 1);
  sel.kvd = c[4] & 1;
  sel.busMastering = (c[4] >> 1) & 1;
  sel.openGL = (c[4] >> 2) & 1;
  sel.edid = (c[4] >> 3) & 1;
  sel.forceDigital = (c[4] >> 4) & 1;
  sel.mode = 1 + c[5] % 3;
  sel.layout = 1 + c[6] % 3;
  sel.rotation[0] = (c[7] & 3) % 3;
  sel.rotation[1] = ((c[7] >> 2) & 3) % 3;
  for (int i = 0; i < 2; ++i) {
    snprintf(sel.resolution[i], kToolTextSize, "%s", Of(kResolutions, c[8 + i]));
    sel.refresh[i] = Of(kRefreshRates, c[10 + i]);
    sel.depth[i] = Of(kDepths, c[12 + i]);
  }
  return sel;
}

// Quiet: the tools say on standard error why they refuse a file.
struct Quiet {
  FILE* saved = stderr;
  FILE* sink = fopen("/dev/null", "w");
  Quiet() {
    if (sink != nullptr) stderr = sink;
  }
  ~Quiet() {
    stderr = saved;
    if (sink != nullptr) fclose(sink);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Root& root = TheRoot();
  uint8_t choices[kChoiceBytes] = {};
  const size_t choiceBytes = size < kChoiceBytes ? size : kChoiceBytes;
  if (choiceBytes != 0) memcpy(choices, data, choiceBytes);
  const std::string text(reinterpret_cast<const char*>(data) + choiceBytes, size - choiceBytes);
  Quiet quiet;
  XConfFile* config = Read(text);
  if (config == nullptr) return 0;

  // The read-back alone, of the file as it stands and again as a probe.
  // Whatever it stripped, the configuration still writes. A read-back that
  // ended the process may leave the records half changed: they are left.
  bool ended = false;
  for (int probe : {0, 1}) {
    ParsedOpt parsed;
    InitParsedOpt(&parsed);
    const int status =
        toolfuzz::Trapped([&] { (void)SetParsedOptFromConfig(&parsed, config, choices[1] >> 5 & 1, probe); });
    Check(status == -1 || status == 1, "the read-back ended with a status other than 1");
    ended = status != -1;
    if (ended) break;
    FreeParsedOpt(&parsed);
    std::string written;
    Check(xconf::FormatConfigFile(config, &written) == xconf::FormatResult::kOk,
          "a configuration the read-back stripped does not write");
  }
  if (!ended) xf86freeConfig(config);

  // The update of the file with the user's choices.
  tools_test::WriteFile(root.file, text);
  UserSelection sel = Choices(choices, root.file.c_str());
  int result = -1;
  const int status = toolfuzz::Trapped([&] { result = UpdateConfigFile(&sel); });
  Check(status == -1 || status == 1, "the update ended with a status other than 1");
  if (status == -1)
    Check(result == kErrConfigRefused || (result >= 0 && result < kErrorCodeCount),
          "the update answered no result of the library");
  XConfFile* again = Read(tools_test::ReadFile(root.file));
  Check(again != nullptr, "the configuration the update left does not read again");
  xf86freeConfig(again);
  return 0;
}
