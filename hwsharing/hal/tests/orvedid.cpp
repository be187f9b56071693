// orvedid FILE...: what the library makes of each EDID dump, in lines that a
// test compares with edid-decode. For each file:
//   file NAME
//   vendor XYZ
//   name TEXT                      (the monitor name up to its line feed)
//   preferred CLOCK_KHZ HACTIVE HFP HSYNC HBP VACTIVE VFP VSYNC VBP | preferred none
//   limits VMIN VMAX HMIN_KHZ HMAX_KHZ MAXCLOCK_KHZ | limits none
//   mode WIDTH HEIGHT REFRESH      (one per entry of the mode list, in order)
// The preferred line is the first detailed timing of the base block, with
// the frame's active lines. Exit status 1 when a file cannot be read.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/edid_text.h"
#include "hwsharing/hal/monitor.h"

namespace {

void Describe(BOARDHANDLE* h, const std::vector<uint8_t>& bytes) {
  MONITORINFO& mi = h->aMonitorInfo[0];
  std::memset(&mi, 0, sizeof(mi));
  std::memcpy(mi.aucEdid, bytes.data(), bytes.size() < kEdidBufferSize ? bytes.size() : kEdidBufferSize);
  mi.ulEdidVersion = HALPGetEDIDVersion(mi.aucEdid);
  mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
  h->status = 0;
  HALPGetMonitorProperties(h, 0);
  HALPGetEdidModes(h, 0);
  HALPGetMonitorMinimalResolution(h, 0);
  HALPGetMonitorMaximalResolution(h, 0);
  HALPGetMonitorLimits(h, 0);
  HALPGetMonitorAspectRatio(h, 0);

  // Texts and timings are read from the EDID 1.x form.
  uint8_t edid[kEdidBufferSize];
  std::memcpy(edid, mi.aucEdid, sizeof(edid));
  if (IsEdid2(mi.ulEdidVersion)) HALPConvertEDID2toEDID1(edid);
  char vendor[4];
  ORVGetVendorSign(edid, vendor);
  std::printf("vendor %s\n", vendor);
  char name[kEdidTextBufferSize] = {};
  ORVGetMonitorName(edid, name);
  if (char* lf = std::strchr(name, '\n')) *lf = 0;
  std::printf("name %s\n", name);

  bool found = false;
  for (size_t i = 0; i < kEdidDescriptorCount && !found; ++i) {
    MODEINFO m{};
    if (!HALPGetTranslatedDetailedTimingInfo(edid + kEdidFirstDescriptor + i * kEdidDescriptorSize, 0, &m)) continue;
    found = true;
    std::printf("preferred %u %u %u %u %u %u %u %u %u\n", m.ulPixClock, m.ulDispWidth, m.ulHFPorch, m.ulHSync,
                m.ulHBPorch, m.ulDispHeight, m.ulVFPorch, m.ulVSync, m.ulVBPorch);
  }
  if (!found) std::printf("preferred none\n");
  if (mi.ulMinVRate | mi.ulMaxVRate | mi.ulMinHRate | mi.ulMaxHRate | mi.ulMaxPixClock) {
    std::printf("limits %u %u %u %u %u\n", mi.ulMinVRate, mi.ulMaxVRate, mi.ulMinHRate, mi.ulMaxHRate,
                mi.ulMaxPixClock);
  } else {
    std::printf("limits none\n");
  }
  for (const EDIDMODE& m : mi.aEdidModes) {
    if (m.ulWidth == 0) break;
    std::printf("mode %u %u %u\n", m.ulWidth, m.ulHeight, m.ulRefresh);
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  h->ulOutputCaps = kCapsFirstAnalog | kCapsDigitalOutputs;  // analog and digital outputs
  int result = 0;
  for (int i = 1; i < argc; ++i) {
    std::printf("file %s\n", argv[i]);
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "orvedid: cannot read %s\n", argv[i]);
      result = 1;
      continue;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Describe(h.get(), bytes);
  }
  return result;
}
