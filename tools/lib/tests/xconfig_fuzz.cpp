// Fuzz target: the scanner and reader on arbitrary file contents, and the
// writer on whatever the reader accepts.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/lib/xconfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = "/tmp/xconfig_fuzz_" + std::to_string(getpid());
  static const bool made = [] { return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST; }();
  if (!made) return 0;
  std::string in = dir + "/in.conf";
  std::string out = dir + "/out.conf";
  FILE* f = std::fopen(in.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  // The library reports parse errors on the error stream; keep the run quiet.
  FILE* saved = stderr;
  stderr = std::fopen("/dev/null", "w");
  if (xf86openConfigFile("%A", in.c_str(), nullptr) != nullptr) {
    XConfFile* file = xf86readConfigFile();
    xf86closeConfigFile();
    if (file != nullptr) {
      // What we write must read back.
      if (xf86writeConfigFile(out.c_str(), file) == 1 &&
          xf86openConfigFile("%A", out.c_str(), nullptr) != nullptr) {
        XConfFile* again = xf86readConfigFile();
        xf86closeConfigFile();
        if (again == nullptr) __builtin_trap();
        xf86freeConfig(again);
      }
      xf86freeConfig(file);
    }
  }
  std::fclose(stderr);
  stderr = saved;
  return 0;
}
