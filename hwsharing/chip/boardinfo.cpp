// Board information and custom calls.
#include "hwsharing/chip/boardinfo.h"

#include <initializer_list>

#include <cstring>

#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/mcs.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/pins_boardinfo.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/vga.h"

namespace {

constexpr uint32_t kBoardTypeOneGpioSource = 5;
constexpr uint32_t kChecksumOffset = 511;

// The built-in board description: every byte not listed is 0.
struct PinsField {
  uint16_t offset;
  uint8_t width;  // 2 or 4
  uint32_t value;
};
constexpr PinsField kDefaultPins[] = {
    {0, 2, 0x412E},       // signature
    {2, 2, 0x0200},       // length
    {4, 2, 0x0600},       // version 6.0
    {36, 4, 220000},      // FS 0 target
    {44, 2, 600}, {46, 2, 1600}, {48, 2, 600}, {50, 2, 1600}, {52, 2, 50}, {54, 2, 400},
    {56, 4, 500000},      // FS 1 target
    {64, 2, 600}, {66, 2, 1200}, {68, 2, 600}, {70, 2, 1200}, {72, 2, 50}, {74, 2, 400},
    {84, 2, 600}, {86, 2, 1200}, {88, 2, 600}, {90, 2, 1200}, {92, 2, 50}, {94, 2, 400},
    {104, 2, 600}, {106, 2, 1200}, {108, 2, 600}, {110, 2, 1200}, {112, 2, 50}, {114, 2, 400},
    {116, 4, 25175},
    {124, 4, 28311},
    {132, 4, 0x10114},    // clock-select word
    {136, 4, 188},
    {140, 4, 0x9f810002},
    {144, 4, 0x242},
    {148, 4, 0xF0B},
    {152, 4, 0x2a2a6464},
    {156, 4, 0x23230000},
    {392, 4, 0x43706021},
    {396, 4, 8},
};
// The four memory-controller groups, 13 words each; the fourth word is 37 in
// the first two groups and 5 in the others.
constexpr uint16_t kMcGroups[] = {164, 216, 268, 320};
constexpr uint32_t kMcGroup[13] = {0x3978c200, 0x80041462, 0x1021a052, 37, 0x10240902, 0x40902,
                                   0x408, 0xE607F, 0, 0, 0xFFFFFFFF, 0, 0};
constexpr uint32_t kMcGroupFourthLate = 5;

void Put(uint8_t* block, uint32_t offset, uint32_t width, uint32_t value) {
  for (uint32_t i = 0; i < width; ++i) block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A negated divider field of a synthesizer word.
uint32_t Negated(uint32_t field, uint32_t mask) { return (0u - field) & mask; }

}  // namespace

HALSTATUS HSLKSTCSetDefaultPins(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint8_t* block = h->oPins.aucData;
  std::memset(block, 0, sizeof(h->oPins.aucData));
  for (const PinsField& f : kDefaultPins) Put(block, f.offset, f.width, f.value);
  for (uint32_t g = 0; g < 4; ++g) {
    for (uint32_t w = 0; w < 13; ++w) {
      const uint32_t value = (w == 3 && g >= 2) ? kMcGroupFourthLate : kMcGroup[w];
      Put(block, kMcGroups[g] + 4 * w, 4, value);
    }
  }
  uint8_t sum = 0;
  for (uint32_t i = 0; i < kChecksumOffset; ++i) sum = static_cast<uint8_t>(sum + block[i]);
  block[kChecksumOffset] = static_cast<uint8_t>(0u - sum);
  return h->status;
}

HALSTATUS HSLKSTDirectDebugPrint(BOARDHANDLE* h, const char*) { return h->status; }

HALSTATUS HSLKSTGetPInSInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTCSetDefaultPins(h);
  HSLBIOSReadData(h, h->oPins.aucData, &h->oPins.ulBiosVersion, h->oPins.szBiosVersion);
  if (HalFailed(h->status) || h->oPins.aucData[0] == 0) {
    // No description in the BIOS is no error: the default stands in.
    h->status = kHalOk;
    HSLKSTCSetDefaultPins(h);
    HSLKSTDirectDebugPrint(h, "HAL: Pins in use => DEFAULT\n");
  }
  return HSLPIN60GetBoardInfo(h);
}

HALSTATUS HSLKSTGetMCSInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLMCSReadData(h, 0, kMcsBlockSize, &h->aMcs[0]);
  HSLMCSReadData(h, 1, kMcsBlockSize, &h->aMcs[1]);
  return h->status;
}

HALSTATUS HSLKSTGetPixelClockSourceCaps(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  h->ulPixClockSourceCaps = 0;
  if (!IsQuadBoard(h)) return h->status;
  if (BoardType(h) == kBoardTypeOneGpioSource) {
    h->ulPixClockSourceCaps = kPixSourceChrontelKind1;
    return h->status;
  }
  // One source per encoder slot that carries the clock function: slot 0 is
  // the ordinary source, slots 1-3 the encoder sources of kinds 1-3.
  for (uint32_t entry : {1u, 2u, 4u, 8u}) {
    uint32_t slot = 0, nibble = 0, found = 0;
    HSLPIN60GetCHRGPIOData(h, entry, kChrGpioPixelClock, &slot, &nibble, &found);
    if (found) h->ulPixClockSourceCaps |= slot >= 1 && slot <= 3 ? 1u << slot : kPixSourceOrdinary;
  }
  return h->status;
}

HALSTATUS HSLKSTGetBoardInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTGetPInSInfo(h);
  HSLKSTGetMCSInfo(h);
  h->ulInterruptConfig = CfgRead(h, kCfgInterrupt);
  h->oJumpTable.GetPInSSystemCLock(h, &h->oSystemClock);
  return HSLKSTGetPixelClockSourceCaps(h);
}

HALSTATUS HSLKSTGetFSFreq(BOARDHANDLE* h, uint32_t value, uint32_t* khz) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t nField = FsM1Raw(value);
  const uint32_t n = ((nField - 1) & 0x20) + Negated(nField, 0x1F);
  const uint32_t m = Negated(FsM2Field::Get(value), 0x1F);
  const uint32_t d = Negated(FsP1Field::Get(value), 0x1F);
  const int32_t pField = static_cast<int32_t>(FsP2Field::Get(value));
  const uint32_t p = (value & kFsP2IsTwo) ? 0 : 2 * ((static_cast<uint32_t>(-pField >> 1)) & 0x1F);
  if (d == 0) return h->status;
  *khz = n * kFsRefKHzDecode / d * m / (p == 0 ? 2 : p);
  return h->status;
}

HALSTATUS HSLKSTCustomCall(BOARDHANDLE* h, uint32_t code, void* in, void* out) {
  if (HalFailed(h->status)) return h->status;
  auto* inBytes = static_cast<uint8_t*>(in);
  auto* outBytes = static_cast<uint8_t*>(out);
  // A call without the buffers it reads or fills does nothing.
  const bool needsIn = code == kCustomSetSystemClock || code == kCustomLowLevelAccess ||
                       code == kCustomEmulatedLut;
  const bool needsOut = code == kCustomGetSystemClock || code == kCustomLowLevelAccess ||
                        code == kCustomEmulatedLut;
  if ((needsIn && in == nullptr) || (needsOut && out == nullptr)) return h->status;
  switch (code) {
    case kCustomGetSystemClock:
      return h->oJumpTable.GetSystemCLock(h, static_cast<SYSCLOCKINFO*>(out));
    case kCustomSetSystemClock:
      return h->oJumpTable.SetSystemCLock(h, static_cast<SYSCLOCKINFO*>(in));
    case kCustomLowLevelAccess: {
      uint32_t count = 0, resultCount = 0;
      std::memcpy(&count, inBytes, 4);
      HALPLowLevelDeviceAccess(h, count, reinterpret_cast<const uint32_t*>(inBytes + 4),
                               &resultCount, reinterpret_cast<uint32_t*>(outBytes + 4));
      std::memcpy(outBytes, &resultCount, 4);
      return h->status;
    }
    case kCustomEmulatedLut: {
      uint32_t controller = 0, useGiven = 0, channel = 0, method = 0;
      const uint16_t* ramps = nullptr;
      uint16_t* outputs = nullptr;
      std::memcpy(&controller, inBytes, 4);
      std::memcpy(&ramps, inBytes + 8, sizeof(ramps));
      std::memcpy(&useGiven, inBytes + 16, 4);
      std::memcpy(&channel, inBytes + 20, 4);
      std::memcpy(&method, inBytes + 24, 4);
      std::memcpy(&outputs, outBytes, sizeof(outputs));
      return HSLKSTSetEmulated10BitLutPerChannel(h, controller, ramps, useGiven, channel, method,
                                                 reinterpret_cast<uint32_t*>(outBytes + 8),
                                                 outputs);
    }
    default:
      return h->status;
  }
}

HALSTATUS HSLKSTConfigOverride(BOARDHANDLE* h, uint32_t, uint32_t) { return h->status; }
