// VGA state and palette, memory-controller check, graphics-clock change.
#include "hwsharing/chip/chip_services.h"

#include "core/board_description.h"
#include "core/regs/clocks.h"
#include "core/regs/memctl.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/chip/vga.h"

namespace {

constexpr uint32_t kPaletteEntries = 256;

}  // namespace

uint32_t GetBytePerPixel(uint32_t format) {
  switch (format) {
    case 0x40000: case 0x50000: case 0x90000: case 0xA0000: return 2;
    case 0xB0000: case 0xC0000: return 4;
    default: return (format + 7) / 8;
  }
}

HALSTATUS HSLKSTVgaLut(BOARDHANDLE* h, uint8_t* planes, uint32_t read) {
  if (HalFailed(h->status)) return h->status;
  RegWriteByte(h, read ? kVgaPaletteReadIndex : kVgaPaletteWriteIndex, 0);
  for (uint32_t i = 0; i < kPaletteEntries; ++i) {
    for (uint32_t c = 0; c < 3; ++c) {
      uint8_t& v = planes[c * kPaletteEntries + i];
      if (read)
        v = RegReadByte(h, kVgaPaletteData);
      else
        RegWriteByte(h, kVgaPaletteData, v);
    }
  }
  return h->status;
}

HALSTATUS HSLKSTVgaState(BOARDHANDLE* h, VGASTATE* state, uint32_t read) {
  if (HalFailed(h->status)) return h->status;
  if (read) {
    HSLVGAReadVgaInfo(h, &state->oVgaInfo);
  } else {
    HSLKSTSwitchToVGA(h);
    HSLVGAWriteVgaInfo(h, &state->oVgaInfo);
  }
  return HSLKSTVgaLut(h, state->aucPalette, read);
}

HALSTATUS HSLKSTMemoryControllerCheck(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (PinsVersion(h) >= kPinsVersion700) return h->status;
  const bool four = (PinsDword(h, kPinsMemoryConfig) & kPinsMemOptNoMc48) == 0;
  uint32_t phase = 0;
  for (uint32_t i = 0; i < (four ? 4u : 2u); ++i) {
    uint32_t v = 0;
    ReadMemoryControllerDword(h, kRegMcPhase, 1u << i, &v);
    phase |= (v & 3u) << (4 * i);
  }
  if (phase != 0) HWKSTInitializeMemoryController(h);
  return h->status;
}

HALSTATUS HSLKSTChangeGclkSpeed(BOARDHANDLE* h, const GCLKREQUEST* request) {
  if (HalFailed(h->status)) return h->status;
  uint64_t f = request->ulFrequency;
  if (f != 0) {
    uint32_t word = PinsDword(h, kPinsClockSelect);
    uint32_t select = ClockSelectA::Get(word);
    if (request->ucFs != 0) select = request->ucFs <= 3 ? 2u * request->ucFs + 1 : 0;
    uint32_t divider = ClockSelectGclkDivider::Get(word);
    switch (request->ucType) {
      case 17: divider = 0; break;
      case 18: divider = 3; break;
      case 19: divider = 1; break;
      case 37: divider = 2; break;
      default: break;
    }
    switch (divider) {
      case 1: f *= 3; break;
      case 2: f = (5 * f) >> 1; break;
      case 3: f *= 2; break;
      default: break;
    }
    word = ClockSelectGclkDivider::Set(ClockSelectA::Set(word, select), divider);
    SetPinsDword(h, kPinsClockSelect, word);
    if (select == 1 || select == 3 || select == 5 || select == 7) {
      const uint32_t fs = (select - 1) / 2;
      const uint32_t at = kPinsFsBlock + kPinsFsStride * fs;
      SetPinsDword(h, at + kPinsFsFrequency, static_cast<uint32_t>(f));
      SetPinsDword(h, at + kPinsFsPreset, 0);
    }
  }
  HWKSTInitializeSystemClock(h);
  HSLKSTGetSystemCLock(h, &h->oSystemClock);
  return HWKSTInitializeMemoryController(h);
}
