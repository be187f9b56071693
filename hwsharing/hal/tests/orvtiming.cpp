// orvtiming gtf|cvt|cvt-rb WIDTH HEIGHT REFRESH [WIDTH HEIGHT REFRESH ...]:
// the library's timing for a size and a vertical refresh, one line each
//   CLOCK_KHZ HACTIVE HFP HSYNC HBP VACTIVE VFP VSYNC VBP HRATE_KHZ REFRESH_HZ
// Exit status 1 for bad arguments, 2 when the library reports a result
// invalid (its line is printed all the same).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hwsharing/hal/gtf_cvt.h"

namespace {

bool Number(const char* text, uint32_t* out) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != 0 || v == 0 || v > 65535) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    std::fprintf(stderr, "usage: orvtiming gtf|cvt|cvt-rb WIDTH HEIGHT REFRESH [WIDTH HEIGHT REFRESH ...]\n");
    return 1;
  }
  const std::string kind = argv[1];
  if (kind != "gtf" && kind != "cvt" && kind != "cvt-rb") {
    std::fprintf(stderr, "orvtiming: unknown formula %s\n", argv[1]);
    return 1;
  }
  int result = 0;
  for (int i = 2; i + 2 < argc; i += 3) {
    MODEINFO m{};
    uint32_t refresh = 0;
    if (!Number(argv[i], &m.ulDispWidth) || !Number(argv[i + 1], &m.ulDispHeight) || !Number(argv[i + 2], &refresh)) {
      std::fprintf(stderr, "orvtiming: bad size or refresh %s %s %s\n", argv[i], argv[i + 1], argv[i + 2]);
      return 1;
    }
    bool valid = true;
    if (kind == "gtf") {
      valid = orvtiming::VerticalGtf(&m, refresh);
    } else if (kind == "cvt") {
      valid = orvtiming::Cvt(&m, refresh);
    } else {
      orvtiming::CvtReduced(&m, refresh);
    }
    std::printf("%u %u %u %u %u %u %u %u %u %u %u\n", m.ulPixClock, m.ulDispWidth, m.ulHFPorch, m.ulHSync,
                m.ulHBPorch, m.ulDispHeight, m.ulVFPorch, m.ulVSync, m.ulVBPorch, m.ulHorizRate, m.ulRefreshRate);
    if (!valid) result = 2;
  }
  return result;
}
