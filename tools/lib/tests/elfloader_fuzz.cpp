// Fuzz target of the module version reader: any bytes must read without
// touching memory outside the image, a refused image leaves the outputs
// untouched, and a version read fits the record's byte and word fields.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tools/lib/elfloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that the address sanitizer sees a read past the
  // image also when the caller's buffer is larger.
  std::vector<uint8_t> image(data, data + size);
  for (const char* name : {"orv", "qlb"}) {
    int major = -1, minor = -1, patch = -1;
    int result = GetModuleVersionFromImage(image.data(), image.size(), name, &major, &minor,
                                           &patch);
    if (result == 0) {
      if (major < 0 || major > 0xFF || minor < 0 || minor > 0xFF || patch < 0 || patch > 0xFFFF)
        std::abort();
    } else if (result != -1 || major != -1 || minor != -1 || patch != -1) {
      std::abort();
    }
  }
  return 0;
}
