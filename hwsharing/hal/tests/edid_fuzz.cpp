// Fuzz target of the EDID decoding: any 256 bytes stored as a monitor's raw
// EDID go through everything the library derives from it (properties, mode
// list, resolutions, limits, aspect ratio, every timing query of every
// listed size, the texts, the EDID 2.0 conversion). Nothing may read or
// write outside its buffers (the sanitizers watch), the mode list stays in
// width order with nothing after its end, and texts stay terminated.
//
// Input: a control byte, then the EDID (missing bytes read as 0). The
// control byte lies outside the EDID, so that every output and setting
// meets valid EDIDs too: bits 0-1 the output the monitor is on, bit 2 the
// monitor's pixel doubling, bit 3 a board with analog outputs only.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/edid_text.h"
#include "hwsharing/hal/monitor.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

BOARDHANDLE& Handle() {
  static BOARDHANDLE* h = static_cast<BOARDHANDLE*>(std::calloc(1, sizeof(BOARDHANDLE)));
  return *h;
}

constexpr uint8_t kOutputBits = 0x3;
constexpr uint8_t kPixelDoubledBit = 0x4;
constexpr uint8_t kAnalogOnlyBit = 0x8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t control = size > 0 ? data[0] : 0;
  const uint8_t* bytes = size > 0 ? data + 1 : data;
  const size_t count = size > 0 ? size - 1 : 0;
  // Exactly the 256 bytes a monitor record holds, on the heap.
  std::vector<uint8_t> edid(kEdidBufferSize, 0);
  if (count != 0) std::memcpy(edid.data(), bytes, count < kEdidBufferSize ? count : kEdidBufferSize);

  BOARDHANDLE* h = &Handle();
  h->ulOutputCaps = kCapsFirstAnalog | ((control & kAnalogOnlyBit) != 0 ? 0 : kCapsDigitalOutputs);
  const uint32_t output = (control & kOutputBits) % kMonitorOutputs;
  MONITORINFO& mi = h->aMonitorInfo[output];
  std::memset(&mi, 0, sizeof(mi));
  std::memcpy(mi.aucEdid, edid.data(), kEdidBufferSize);
  mi.ulEdidVersion = HALPGetEDIDVersion(edid.data());
  mi.flMonitor = kMonitorPresent | kMonitorEdidValid | ((control & kPixelDoubledBit) != 0 ? kMonitorPixelDoubled : 0);
  h->status = 0;
  HALPGetMonitorProperties(h, output);
  HALPGetEdidModes(h, output);
  HALPGetMonitorMinimalResolution(h, output);
  HALPGetMonitorMaximalResolution(h, output);
  HALPGetMonitorLimits(h, output);
  HALPGetMonitorAspectRatio(h, output);
  Check(h->status == 0);

  bool ended = false;
  for (size_t i = 0; i < kEdidModeEntries; ++i) {
    const EDIDMODE& m = mi.aEdidModes[i];
    if (m.ulWidth == 0) ended = true;
    Check(!ended || (m.ulWidth == 0 && m.ulHeight == 0));
    if (!ended && i > 0) Check(mi.aEdidModes[i - 1].ulWidth <= m.ulWidth);
    if (ended) continue;
    // Every query of a listed size runs to its end.
    for (uint32_t n = 0; n < 300; ++n) {
      MODEINFO q{};
      q.ulDispWidth = m.ulWidth;
      q.ulDispHeight = m.ulHeight;
      q.ulZoom = 1;
      if (HalFailed(HALGetDDCStandardParameters(h, &q, output, n, 1)) &&
          HalFailed(HALGetDDCDetailedParameters(h, &q, output, n)) &&
          HalFailed(HALGetDDCEstablishedParameters(h, &q, output, n)))
        break;
    }
  }

  char text[64];
  std::memset(text, 'x', sizeof(text));
  ORVGetVendorSign(edid.data(), text);
  Check(text[3] == 0);
  if (ORVGetMonitorName(edid.data(), text) != 0) Check(text[kEdidDescriptorTextSize] == 0);
  ORVGetSerialNumber(edid.data(), text);

  std::vector<uint8_t> converted = edid;
  HALPConvertEDID2toEDID1(converted.data());
  Check(HALPIsEDIDBufferValid(converted.data()) == 1);
  return 0;
}
