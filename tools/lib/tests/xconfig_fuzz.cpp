// Fuzz target: the scanner and reader on arbitrary file contents, and the
// writer on whatever the reader accepts.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/lib/parser/xconfig.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

XConfFile* ReadBack(const std::string& path) {
  if (xf86openConfigFile("%A", path.c_str(), nullptr) == nullptr) return nullptr;
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  return file;
}

}  // namespace

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
      // What we write must read back. Comments may settle once (a comment
      // between an option's name and value moves to its section); after that
      // writing what we read changes nothing.
      if (xf86writeConfigFile(out.c_str(), file) == 1) {
        std::string previous = ReadAll(out);
        for (int round = 0; round < 2; ++round) {
          XConfFile* again = ReadBack(out);
          if (again == nullptr) __builtin_trap();
          if (xf86writeConfigFile(out.c_str(), again) != 1) __builtin_trap();
          xf86freeConfig(again);
          std::string text = ReadAll(out);
          if (round == 1 && text != previous) __builtin_trap();
          previous = text;
        }
      }
      xf86freeConfig(file);
    }
  }
  std::fclose(stderr);
  stderr = saved;
  return 0;
}
