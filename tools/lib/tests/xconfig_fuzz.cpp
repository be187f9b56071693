// Fuzz target: the scanner and reader on arbitrary file contents, and the
// writer on whatever the reader accepts. Everything stays in memory: the
// bytes are read through a memory stream as the reader reads a file, and
// the written text is formatted as the writer would put it on disk.

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"

namespace {

XConfFile* Read(const void* data, size_t size) {
  // fmemopen refuses an empty buffer; an empty file reads as one.
  static char empty = '\0';
  FILE* stream = fmemopen(size != 0 ? const_cast<void*>(data) : &empty, size, "r");
  if (stream == nullptr) return nullptr;
  xconf::SetConfigStream(stream, "fuzz.conf");
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  return file;
}

// The library reports parse errors on the error stream; keep the run quiet.
struct QuietErrors {
  QuietErrors() : saved(stderr), sink(std::fopen("/dev/null", "w")) {
    if (sink != nullptr) stderr = sink;
  }
  ~QuietErrors() {
    stderr = saved;
    if (sink != nullptr) std::fclose(sink);
  }
  FILE* saved;
  FILE* sink;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietErrors quiet;
  XConfFile* file = Read(data, size);
  if (file == nullptr) return 0;
  // What we write must read back. Comments may settle once (a comment
  // between an option's name and value moves to its section); after that
  // writing what we read changes nothing.
  std::string previous;
  if (xconf::FormatConfigFile(file, &previous) == xconf::FormatResult::kOk) {
    for (int round = 0; round < 2; ++round) {
      XConfFile* again = Read(previous.data(), previous.size());
      if (again == nullptr) __builtin_trap();
      std::string text;
      if (xconf::FormatConfigFile(again, &text) != xconf::FormatResult::kOk) __builtin_trap();
      xf86freeConfig(again);
      if (round == 1 && text != previous) __builtin_trap();
      previous = text;
    }
  }
  xf86freeConfig(file);
  return 0;
}
