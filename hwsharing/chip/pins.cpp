// Look-ups in the board description's misc-IO, expander, DDC and encoder
// GPIO maps.
#include "hwsharing/chip/pins.h"

#include "core/board_description.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "core/regs/misc_io.h"

namespace {

uint32_t Nibble(uint32_t word, unsigned n) { return (word >> (4 * n)) & 0xF; }

// Function code of board line 0..10.
uint32_t LineFunction(const BOARDHANDLE* h, unsigned line) {
  if (line < 8) {
    uint32_t map = PinsDword(h, kPinsMiscIoMap);
    if (map == 0 || map == 0xFFFFFFFF) map = kPinsDefaultMiscIoMap;
    return Nibble(map, line);
  }
  return Nibble(PinsDword(h, kPinsMiscIoMapHigh), line - 8);
}

// Expander code of board line 0..10.
uint32_t LineExpanderCode(const BOARDHANDLE* h, unsigned line) {
  if (line < 8) return Nibble(PinsDword(h, kPinsExpanderMap), line);
  return Nibble(PinsDword(h, kPinsMiscIoMapHigh), line - 4);
}

void LineMasks(unsigned line, uint32_t* reg, uint32_t* outputMask, uint32_t* inputMask) {
  if (line < kMiscIoHighFirstLine) {
    *reg = kRegGpio;
    *inputMask = 1u << line;
    *outputMask = (1u << line) << kGpioEnableShift;
  } else {
    *reg = kRegMiscIoHigh;
    *outputMask = 1u << (line - kMiscIoHighFirstLine);
    *inputMask = *outputMask << kMiscIoHighDataShift;
  }
}

}  // namespace

HALSTATUS HSLPIN60GetMISCIORegMasks(BOARDHANDLE* h, uint32_t function, uint32_t occurrence,
                                    uint32_t* line, uint32_t* reg, uint32_t* outputMask,
                                    uint32_t* inputMask) {
  if (HalFailed(h->status)) return h->status;
  *reg = kRegGpio;
  *outputMask = 0;
  *inputMask = 0;
  uint32_t seen = 0;
  for (unsigned n = 0; n < kMiscIoLineCount; ++n) {
    if (LineFunction(h, n) != function) continue;
    if (seen++ != occurrence) continue;
    if (line != nullptr) *line = n;
    LineMasks(n, reg, outputMask, inputMask);
    break;
  }
  return h->status;
}

HALSTATUS HSLPIN60GetMISCIOExpRegMasks(BOARDHANDLE* h, uint32_t expanderCode, uint32_t* reg,
                                       uint32_t* outputMask, uint32_t* inputMask) {
  if (HalFailed(h->status)) return h->status;
  *reg = kRegGpio;
  *outputMask = 0;
  *inputMask = 0;
  for (unsigned n = 0; n < kMiscIoLineCount; ++n) {
    if (LineFunction(h, n) != kMiscIoExpanderFunction) continue;
    if (LineExpanderCode(h, n) != expanderCode) continue;
    LineMasks(n, reg, outputMask, inputMask);
    break;
  }
  return h->status;
}

HALSTATUS HSLPIN60GetDDCIORegMasks(BOARDHANDLE* h, uint32_t ddcId, uint32_t* outputMask,
                                   uint32_t* inputMask) {
  if (HalFailed(h->status)) return h->status;
  *outputMask = 0;
  *inputMask = 0;
  const uint32_t map =
      PinsVersion(h) >= kPinsVersion60A ? PinsDword(h, kPinsDdcMap) : kPinsDefaultDdcMap;
  for (unsigned k = 0; k < kDdcPinCount; ++k) {
    if (((map >> (8 * k)) & 0xFF) != ddcId) continue;
    *inputMask = 1u << k;
    *outputMask = *inputMask << kDdcEnableShift;
    break;
  }
  return h->status;
}

HALSTATUS HSLPIN60GetCHRGPIOData(BOARDHANDLE* h, uint32_t slotMask, uint32_t function,
                                 uint32_t* slot, uint32_t* nibble, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  *found = 0;
  if (PinsVersion(h) < kPinsVersion609) return h->status;
  const uint32_t map = PinsDword(h, kPinsEncoderGpioMap);
  for (unsigned s = 0; s < 4; ++s) {
    if (!(slotMask & (1u << s))) continue;
    for (unsigned n = 0; n < 2; ++n) {
      if (Nibble(map, 2 * s + n) != function) continue;
      *slot = s;
      *nibble = n;
      *found = 1;
      return h->status;
    }
  }
  return h->status;
}
