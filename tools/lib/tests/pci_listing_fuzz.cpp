// Fuzz target of the tools' PCI listing reader (tools/lib/pci.cpp): any
// text as the kernel's listing of PCI functions under the system root,
// where the functions of bus 0 and 1 (devices 0 to 3, every function) have
// configuration spaces: the maker's board's header, with each function's
// number in its last byte. A listing the reader
// refuses ends the process with status 1 (a line it cannot parse, a
// function without a readable configuration space), which here ends the
// input (tools/lib/tests/fuzz_exit.h). Nothing may read or write outside
// its buffers (the sanitizers watch); a listing read whole gives records
// whose configuration words are the bytes the configuration space holds.
//
// Input: the listing's text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/pci.h"
#include "tools/lib/tests/fuzz_exit.h"
#include "tools/testsupport/files.h"
#include "tools/testsupport/fixture_root.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// A system root of the run's own with the functions' configuration
// spaces, taken away at its end.
struct Root {
  std::string path;
  Root() {
    char name[] = "/tmp/orv-pci-fuzz.XXXXXX";
    Check(mkdtemp(name) != nullptr);
    path = name;
    SysRootSet(path);
    for (int bus = 0; bus < 2; ++bus) {
      for (int device = 0; device < 4; ++device) {
        for (int function = 0; function < 8; ++function) {
          char file[32];
          snprintf(file, sizeof file, "/%02x/%02x.%d", bus, device, function);
          tools_test::WriteFile(path + "/proc/bus/pci" + file, Config(bus, device, function));
        }
      }
    }
  }
  ~Root() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  static std::string Config(int bus, int device, int function) {
    std::string c = tools_test::PciConfigSpace(kKestrionVendorId, kDeviceKestrionNext2, tools_test::kDisplayClassWord,
                                                kKestrionVendorId, 0x0301);
    c.back() = static_cast<char>(bus << 6 | device << 3 | function);
    return c;
  }
};

Root& TheRoot() {
  static Root root;
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Root& root = TheRoot();
  tools_test::WriteFile(root.path + "/proc/bus/pci/devices", std::string(reinterpret_cast<const char*>(data), size));

  PciDeviceList* list = PciAlloc();
  // Quiet: the reader says why it refuses a listing on standard error.
  FILE* saved = stderr;
  FILE* sink = fopen("/dev/null", "w");
  if (sink != nullptr) stderr = sink;
  const int status = toolfuzz::Trapped([&] { PciScan(list); });
  stderr = saved;
  if (sink != nullptr) fclose(sink);
  Check(status == -1 || status == 1);
  if (status == -1) {
    for (const PciDeviceRecord* r = *list; r != nullptr; r = r->next) {
      Check(r->bus < 2 && r->device < 4 && r->function < 8);
      // The record holds its own function's configuration space.
      const std::string config = Root::Config(r->bus, r->device, r->function);
      Check(memcmp(r->config, config.data(), kPciConfigHeaderSize) == 0);
      const auto word = [&](int at) { return uint16_t(uint8_t(config[at]) | uint8_t(config[at + 1]) << 8); };
      Check(r->classWord == word(kPciConfigClassOffset));
      Check(r->subsysVendorId == word(kPciConfigSubsysVendorOffset));
      Check(r->subsysId == word(kPciConfigSubsysIdOffset));
      Check(GetConfUINT16(r, kPciConfigHeaderSize - 1) == 0 && GetConfUINT16(r, -1) == 0);
    }
  }
  PciCleanup(list);
  return 0;
}
