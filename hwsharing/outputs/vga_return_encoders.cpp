// The encoders' part of the console's return: which encoders start, each
// one's start as an LVDS, digital, analog or TV encoder, and the two PLL
// lock checks.
#include <cstddef>

#include "core/board_description.h"
#include "core/poll.h"
#include "core/regs/chrontel.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/vga_return.h"

namespace {

struct RegPair {
  uint8_t reg, value;
};

// PLL tables by kind (1..6), registers 0x31 to 0x37.
constexpr size_t kPllPairs = 7;
constexpr RegPair kPllTables[6][kPllPairs] = {
    {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x07}, {0x34, 0x26}, {0x35, 0x30}, {0x36, 0xe0}, {0x37, 0x00}},
    {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x10}, {0x37, 0x00}},
    {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x60}, {0x37, 0x00}},
    {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x06}, {0x34, 0x26}, {0x35, 0x30}, {0x36, 0xa0}, {0x37, 0x00}},
    {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x60}, {0x37, 0x00}},
    {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x06}, {0x34, 0x26}, {0x35, 0x70}, {0x36, 0xa0}, {0x37, 0x00}},
};

constexpr RegPair kLvdsStart[] = {
    {0x48, 0x08}, {0x48, 0x18}, {0x66, 0x18}, {0x63, 0x40}, {0x63, 0x00}, {0x67, 0x0a}, {0x68, 0x00},
    {0x69, 0x00}, {0x6a, 0x0a}, {0x6b, 0x08}, {0x70, 0x40}, {0x71, 0xe3}, {0x72, 0xad}, {0x73, 0xdb},
    {0x74, 0xf6}, {0x76, 0x8f}, {0x78, 0x60}, {0x1c, 0x04}, {0x64, 0x3c}, {0x66, 0x00}, {0x66, 0x01},
};
static_assert(sizeof(kLvdsStart) / sizeof(kLvdsStart[0]) == 21);

constexpr RegPair kTvStart[] = {{0x1d, 0xc8}, {0x02, 0x60}, {0x15, 0x00}, {0x1e, 0xf2}, {0x1f, 0x80}};

// TV timing tables of the two TV standard classes.
constexpr RegPair kTvTimingA[] = {{0x00, 0x6a}, {0x0c, 0x20}, {0x0d, 0x80}, {0x0e, 0x00},
                                  {0x0f, 0x00}, {0x0a, 0x3f}, {0x0b, 0x7e}, {0x09, 0x80},
                                  {0x04, 0x0a}, {0x05, 0x2e}, {0x06, 0xfc}, {0x03, 0x05}};
constexpr RegPair kTvTimingB[] = {{0x00, 0x61}, {0x0c, 0x26}, {0x0d, 0x6f}, {0x0e, 0x1f},
                                  {0x0f, 0xd0}, {0x0a, 0x04}, {0x0b, 0x09}, {0x09, 0x81},
                                  {0x04, 0x26}, {0x05, 0x34}, {0x06, 0x30}, {0x03, 0x0d}};
static_assert(sizeof(kTvTimingA) == sizeof(kTvTimingB));

constexpr uint8_t kChrDacConsole = 11;
constexpr uint8_t kChrDac2Console = 22;
constexpr uint8_t kChrClockModeConsole = 4;
constexpr uint8_t kChrSyncConsole = 0x80;
constexpr uint8_t kChrResetRunning = 0x18;
constexpr uint8_t kChr70Digital95 = 0xA0;
constexpr uint8_t kTerminationExternal = 6;
constexpr uint8_t kTerminationInternal = 4;

// Lock checks.
constexpr uint32_t kPllPolls = 8;
constexpr uint32_t kPllPollPowerPulse = 4;
constexpr uint8_t kChrLvdsRegister = 0x66;
constexpr uint8_t kChrLvdsRun = 0x01;
constexpr uint8_t kChrLvdsLocked = 0x04;
constexpr uint8_t kChrLvdsRegister76 = 0x76;
constexpr uint8_t kChrLvdsRestart76 = 0x04;
constexpr uint32_t kLvdsTries = 5;
constexpr uint32_t kLvdsReadsPerTry = 150;
constexpr uint32_t kLvdsRetryWaitUs = 1200;

void WriteTable(BOARDHANDLE* h, uint32_t encoder, const RegPair* table, size_t count) {
  for (size_t i = 0; i < count; ++i) ChrWriteByte(h, encoder, table[i].reg, table[i].value);
}
template <size_t N>
void WriteTable(BOARDHANDLE* h, uint32_t encoder, const RegPair (&table)[N]) {
  WriteTable(h, encoder, table, N);
}

void SetBit(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t bit) {
  ChrModifyByte(h, encoder, reg, 0, bit);
}
void ClearBit(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t bit) {
  ChrModifyByte(h, encoder, reg, bit, 0);
}
// Cleared, then set: each a read, change and write.
void PulseBit(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t bit) {
  ClearBit(h, encoder, reg, bit);
  SetBit(h, encoder, reg, bit);
}

void ExternalTermination(BOARDHANDLE* h, uint32_t encoder) {
  ChrWriteByte(h, encoder, kChrRegDviControl,
               (PinsDword(h, kPinsOptionWord) & kPinsOptionDviTermination) ? kTerminationExternal
                                                                          : kTerminationInternal);
}

void WritePllTable(BOARDHANDLE* h, uint32_t encoder, uint32_t kind) {
  WriteTable(h, encoder, kPllTables[kind - 1], kPllPairs);
}

// The digital encoder's PLL table by its id and the value V.
void StartDigital(BOARDHANDLE* h, uint32_t encoder, uint8_t id, uint32_t value) {
  ChrWriteByte(h, encoder, kChrRegPower, kChrConsoleMarkDigital);
  if (id == kChrIdVerB) {
    ExternalTermination(h, encoder);
    WritePllTable(h, encoder, value <= 32 ? 2 : value <= 64 ? 3 : 4);
  } else if (id == kChrIdVerC) {
    ChrWriteByte(h, encoder, kChrReg70, kChr70Digital95);
    ExternalTermination(h, encoder);
    WritePllTable(h, encoder, value < 65 ? 5 : 6);
  } else {
    WritePllTable(h, encoder, 1);
  }
}

// The encoder as the console's TV output; W's bit 0x10 picks the second
// timing class, bit 0x100 the alternate levels.
void HSLKSTEnableChrontelTV(BOARDHANDLE* h, uint32_t encoder, uint32_t w) {
  const bool classB = (w & kVgaOutTvClassBBit) != 0;
  const bool alternate = (w & kVgaOutTvAlternate) != 0;
  ChrWriteByte(h, encoder, kChrRegPower, kChrConsoleMarkTv);
  WriteTable(h, encoder, kTvStart);
  ChrWriteByte(h, encoder, kChrRegClockMode, 0x0C);
  ChrWriteByte(h, encoder, kChrRegClockSource, 0);
  ChrModifyByte(h, encoder, kChrRegInput, 0x1F, 0x1A);
  ChrModifyByte(h, encoder, kChrRegFlicker, 0x7F, alternate ? 0x56 : 0x16);
  SetBit(h, encoder, kChrRegFlicker, alternate ? 0x40 : 0x10);
  const uint8_t dac = classB ? 16 : 18;
  ChrWriteByte(h, encoder, kChrRegDac, alternate ? static_cast<uint8_t>(dac - 16) : dac);
  ChrWriteByte(h, encoder, kChrRegBrightness, classB ? 113 : 133);
  ChrWriteByte(h, encoder, kChrRegContrast, 1);
  if (classB)
    WriteTable(h, encoder, kTvTimingB);
  else
    WriteTable(h, encoder, kTvTimingA);
}

}  // namespace

HALSTATUS HSLKSTCheckChrontelPllLocked(BOARDHANDLE* h, uint32_t w, uint32_t encoder) {
  if (HalFailed(h->status) || !(w & kVgaOutDvo)) return h->status;
  const uint8_t id = ChrReadByte(h, encoder, kChrRegDeviceId);
  if (id != kChrIdVerB && id != kChrIdVerC) return h->status;
  SetBit(h, encoder, kChrRegDviControl, kChrDviLockEnable);
  SetBit(h, encoder, kChrRegDviParam5, kChrDviParam5LockEnable);
  for (uint32_t failed = 0; !HalFailed(h->status);) {
    if (ChrPllLockPoll(h, encoder)) break;
    if (++failed == kPllPolls) return SetError(h, kErrChrPllNotLocked);
    if (failed == kPllPollPowerPulse) PulseBit(h, encoder, kChrRegPower, kChrPowerPll);
    PulseBit(h, encoder, kChrRegReset, kChrResetDataPath);
  }
  return h->status;
}

HALSTATUS HSLKSTCheckChrontelLvdsPllLocked(BOARDHANDLE* h, uint32_t encoder) {
  if (HalFailed(h->status)) return h->status;
  ClearBit(h, encoder, kChrLvdsRegister, kChrLvdsRun);
  for (uint32_t attempt = 1; !HalFailed(h->status); ++attempt) {
    const bool locked = PollUntil(
        [&] { return HalFailed(h->status) || (ChrReadByte(h, encoder, kChrLvdsRegister) & kChrLvdsLocked) != 0; },
        kLvdsReadsPerTry);
    if (locked || attempt == kLvdsTries) break;
    // Restarted for the next try.
    ClearBit(h, encoder, kChrLvdsRegister76, kChrLvdsRestart76);
    Delay(h, kLvdsRetryWaitUs);
    SetBit(h, encoder, kChrLvdsRegister, kChrLvdsLocked);
  }
  // Started whether or not the PLL locked.
  SetBit(h, encoder, kChrLvdsRegister, kChrLvdsRun);
  return h->status;
}

HALSTATUS HSLKSTEnableChrontelDevice(BOARDHANDLE* h, uint32_t encoder, uint32_t value, uint32_t w) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t id = ChrReadByte(h, encoder, kChrRegDeviceId);
  if (id == kChrIdLvds) {
    WriteTable(h, encoder, kLvdsStart);
    HSLKSTCheckChrontelLvdsPllLocked(h, encoder);
  } else {
    ChrWriteByte(h, encoder, kChrRegClockMode, kChrClockModeConsole);
    ChrWriteByte(h, encoder, kChrRegSync, kChrSyncConsole);
    if (static_cast<int32_t>(w) < 0) {
      HSLKSTEnableChrontelTV(h, encoder, w);
    } else if (w & kVgaOutDvo) {
      StartDigital(h, encoder, id, value);
    } else {
      ChrWriteByte(h, encoder, kChrRegPower, kChrConsoleMarkTv);
      ChrWriteByte(h, encoder, kChrRegDac, kChrDacConsole);
      ChrWriteByte(h, encoder, kChrRegDac2, kChrDac2Console);
    }
  }
  ChrWriteByte(h, encoder, kChrRegReset, kChrResetRunning);
  return HSLKSTCheckChrontelPllLocked(h, w, encoder);
}

HALSTATUS HSLKSTEnableChrontel(BOARDHANDLE* h, uint32_t value, uint32_t w) {
  if (HalFailed(h->status)) return h->status;
  const VGARETURNSTATE& state = VgaReturnState(h);
  const bool both = (w & kVgaOutBothPaths) != 0;
  bool primary = true, secondary = false;
  if (IsQuadBoard(h)) {
    secondary = both;
  } else if (MultiOutputFlag(h) && (w & kVgaOutSecondOnly) && !both) {
    primary = false;
    secondary = true;
  } else {
    constexpr uint32_t kSecondPath = 0x2;
    secondary = (w & (kSecondPath | kVgaOutBothPaths)) != 0;
  }
  if (primary) HSLKSTEnableChrontelDevice(h, state.ulPrimaryChrontel, value, w);
  if (secondary) HSLKSTEnableChrontelDevice(h, state.ulSecondaryChrontel, value, w);
  return h->status;
}
