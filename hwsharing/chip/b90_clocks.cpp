// Later-generation clock services.
#include "hwsharing/chip/b90_clocks.h"

#include <cstring>

#include "core/board_description.h"
#include "core/client_services.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/outputs/display_clocks.h"
#include "hwsharing/outputs/mode_set.h"

namespace {

using ClockSource = RegField<1, 4>;
using ClockDivider = RegField<5, 3>;
using TestSource = RegField<2, 6>;
constexpr uint32_t kTestClockOn = 1u << 1;
constexpr uint32_t kRefKHz = 27000;
constexpr uint32_t kStopped = 7;
constexpr uint32_t kDivisor[8] = {1, 2, 3, 4, 5, 8, 16, 0};
constexpr uint32_t kTypeCode[8] = {17, 18, 19, 20, 21, 24, 22, 0};
constexpr uint32_t kSystemStoppedType = 255;
constexpr uint32_t kSelectRegs[3] = {kRegClockSelect0, kRegClockSelect1, kRegClockSelect2};
constexpr uint32_t kPinsSelect[3] = {kPinsB90ClockSelect0, kPinsB90ClockSelect1, kPinsB90ClockSelect2};
constexpr uint32_t kMemClkWaitUnits = 1000;

// The FS a select word's source names (-1: none); the system clock takes
// only FS 0.
int SourceFs(uint32_t clock, uint32_t word) {
  const uint32_t s = ClockSource::Get(word);
  if (clock == 0) return s == 1 ? 0 : -1;
  return s >= 1 && s <= 4 ? static_cast<int>(s - 1) : -1;
}

// The divider code of a type code; -1 leaves the code as it is.
int DividerOfType(uint32_t type) {
  for (int code = 0; code < 7; ++code)
    if (kTypeCode[code] == type) return code;
  return -1;
}

uint32_t RecordWord(uint32_t khz, uint32_t type, uint32_t source) {
  return ((khz + 500) / 1000 & 0xFFFF) | (type << 16) | (source << 24);
}

uint32_t FsFrequency(const BOARDHANDLE* h, uint32_t n) {
  return PinsDword(h, kPinsFsBlock + kPinsFsStride * n + kPinsFsFrequency);
}

void SetFsTarget(BOARDHANDLE* h, uint32_t n, uint32_t khz) {
  SetPinsDword(h, kPinsFsBlock + kPinsFsStride * n + kPinsFsFrequency, khz);
  SetPinsDword(h, kPinsFsBlock + kPinsFsStride * n + kPinsFsPreset, 0);
}


}  // namespace

HALSTATUS HSLB90GetFSFreq(BOARDHANDLE* h, uint32_t word, uint32_t* khz) {
  if (HalFailed(h->status)) return h->status;
  const uint64_t m1 = B90FsM1Field::Get(word) + 1;
  const uint64_t m2 = B90FsM2Field::Get(word) + 1;
  const uint64_t p1 = B90FsP1Field::Get(word) + 1;
  const uint64_t p2 = B90FsP2Field::Get(word) + 1;
  *khz = static_cast<uint32_t>((m2 * ((m1 * kRefKHz) / p1)) / (2 * p2));
  return h->status;
}

HALSTATUS HSLB90GetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t word = RegRead(h, kSelectRegs[i]);
    const int fs = SourceFs(i, word);
    uint32_t fsWord = 0;
    if (fs >= 0) HWBri90ReadRegShadowDword(h, kRegB90Fs0 + kRegFsStride * fs, &fsWord);
    uint32_t khz = 0;
    HSLB90GetFSFreq(h, fsWord, &khz);
    const uint32_t code = ClockDivider::Get(word);
    khz = kDivisor[code] == 0 ? 0 : khz / kDivisor[code];
    const uint32_t type = code == kStopped ? (i == 0 ? kSystemStoppedType : 0) : kTypeCode[code];
    clock->aulWord[i] = RecordWord(khz, type, fs >= 0 ? ClockSource::Get(word) : 0);
  }
  return h->status;
}

HALSTATUS HSLB90GetPInSSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t word = PinsDword(h, kPinsSelect[i]);
    const int fs = SourceFs(i, word);
    const uint32_t undivided = fs >= 0 ? FsFrequency(h, static_cast<uint32_t>(fs)) : 0;
    const uint32_t code = ClockDivider::Get(word);
    uint32_t khz, type;
    if (code == kStopped) {
      type = i == 0 ? kSystemStoppedType : 0;
      khz = i == 0 ? 0 : undivided;
    } else {
      type = kTypeCode[code];
      khz = undivided / kDivisor[code];
    }
    clock->aulWord[i] = RecordWord(khz, type, fs >= 0 ? ClockSource::Get(word) : 0);
  }
  return h->status;
}

HALSTATUS HSLB90SetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  uint32_t words[3];
  bool sourceChange = false;
  for (uint32_t i = 0; i < 3; ++i) {
    words[i] = PinsDword(h, kPinsSelect[i]);
    const uint32_t r = clock->aulWord[i];
    if (r == 0) continue;
    const uint32_t s = (r >> 24) & 0xF;
    if (s != 0) {
      sourceChange = true;
      const uint32_t select = i == 0 ? (s == 1 ? 1 : 0) : (s <= 4 ? s : 0);
      words[i] = ClockSource::Set(words[i], select);
    }
    const int divider = DividerOfType((r >> 16) & 0xFF);
    if (divider >= 0) words[i] = ClockDivider::Set(words[i], static_cast<uint32_t>(divider));
    const uint32_t code = ClockDivider::Get(words[i]);
    const uint32_t khz = (r & 0xFFFF) * 1000 * kDivisor[code];
    const int fs = SourceFs(i, words[i]);
    if (fs >= 0) SetFsTarget(h, static_cast<uint32_t>(fs), khz);
  }
  // A source change switches controllers 0 and 1 off around the bring-up
  // and back on afterwards (a copy per call, no shared buffer).
  MODEINFO saved[2] = {h->aModeInfo[0], h->aModeInfo[1]};
  if (sourceChange) {
    for (uint32_t c = 0; c < 2; ++c) {
      if (RecordOff(saved[c])) continue;
      MODEINFO off = saved[c];
      off.flOutput |= kOutControllerOff;
      HSLKSTSetMode(h, &off);
    }
  }
  for (uint32_t i = 0; i < 3; ++i) SetPinsDword(h, kPinsSelect[i], words[i]);
  HSLB90InitMemClk(h);
  if (sourceChange) {
    HSLKSTSetMode(h, &saved[0]);
    HSLKSTSetMode(h, &saved[1]);
  }
  return h->status;
}

uint32_t IsB90FSInUse(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t n) {
  return IsScUseFS_BRI90(word0, word1, word2, n);
}

HALSTATUS HSLB90GetFreeFS(BOARDHANDLE* h, uint32_t position, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *fs = kNoFs;
  const uint32_t w0 = RegRead(h, kRegClockSelect0);
  const uint32_t w1 = RegRead(h, kRegClockSelect1);
  const uint32_t w2 = RegRead(h, kRegClockSelect2);
  uint32_t seen = 0;
  for (uint32_t n = 0; n < kFsCount; ++n) {
    if (IsB90FSInUse(w0, w1, w2, n)) continue;
    if (seen++ == position) {
      *fs = n;
      return h->status;
    }
  }
  return SetError(h, kErrB90NoFreeFs);
}

HALSTATUS HSLB90TranslateGclkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* isFs,
                                       uint32_t* fs) {
  // The same table as a controller's clock select: 1..4 are FS 0..3.
  return HSLKSTTranslateDcmClkSelIntoFS(h, code, isFs, fs);
}

HALSTATUS HSLB90GetGclk(BOARDHANDLE* h, MODEINFO*, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *fs = kNoFs;
  uint32_t isFs = 0;
  return HSLB90TranslateGclkSelIntoFS(h, ClockSource::Get(RegRead(h, kRegClockSelect1)), &isFs, fs);
}

HALSTATUS HSLB90IsGClkRecyclable(BOARDHANDLE* h, MODEINFO* mode, uint32_t* recyclable,
                                 uint32_t* select) {
  if (HalFailed(h->status)) return h->status;
  *recyclable = 0;
  uint32_t gclkFs = kNoFs, isFs = 0;
  HSLB90TranslateGclkSelIntoFS(h, ClockSource::Get(RegRead(h, kRegClockSelect1)), &isFs, &gclkFs);
  if (!isFs) return h->status;
  return RecycleThroughController(h, mode, gclkFs, recyclable, select);
}

HALSTATUS HSLB90ChangeGclkSpeed(BOARDHANDLE* h, const GCLKREQUEST* request) {
  if (HalFailed(h->status)) return h->status;
  if (request->ulFrequency != 0) {
    uint32_t word = PinsDword(h, kPinsB90ClockSelect1);
    if (request->ucFs != 0) word = ClockSource::Set(word, request->ucFs <= 3 ? request->ucFs + 1u : 0);
    const int divider = DividerOfType(request->ucType);
    if (divider >= 0) word = ClockDivider::Set(word, static_cast<uint32_t>(divider));
    const uint32_t khz = request->ulFrequency * kDivisor[ClockDivider::Get(word)];
    const int fs = SourceFs(1, word);
    if (fs >= 0) SetFsTarget(h, static_cast<uint32_t>(fs), khz);
    SetPinsDword(h, kPinsB90ClockSelect1, word);
  }
  HWB90InitializeSystemClock(h);
  return HWB90InitializeMemoryController(h);
}

HALSTATUS HSLB90EnableTstClk(BOARDHANDLE* h, uint32_t position) {
  if (HalFailed(h->status)) return h->status;
  RegWrite(h, kRegB90OscTest,
           TestSource::Set(RegRead(h, kRegB90OscTest), TestClockSource(position)) | kTestClockOn);
  return h->status;
}

HALSTATUS HSLB90DisableTstClk(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  RegModify(h, kRegB90OscTest, kTestClockOn, 0);
  return h->status;
}

HALSTATUS HSLB90InitMemClk(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t regs[4] = {kRegModuleClock0, kRegModuleClock1, kRegControllerCtl,
                            ControllerReg(kRegControllerCtl, 1)};
  uint32_t saved[4];
  for (uint32_t i = 0; i < 4; ++i) saved[i] = RegRead(h, regs[i]);
  RegWrite(h, regs[0], saved[0] | kModuleClockHold);
  RegWrite(h, regs[1], saved[1] | kModuleClockHold);
  RegWrite(h, regs[2], saved[2] & ~kControllerEnable);
  RegWrite(h, regs[3], saved[3] & ~kControllerEnable);
  Delay(h, kMemClkWaitUnits);
  HWB90ResetMemoryController(h);
  HWB90InitializeSystemClock(h);
  HWB90InitializeMemoryController(h);
  HSLB90GetSystemCLock(h, &h->oSystemClock);
  for (uint32_t i = 0; i < 4; ++i) RegWrite(h, regs[i], saved[i]);
  return h->status;
}

HALSTATUS HSLKSTCSetDefaultPinsB90(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  struct Field {
    uint16_t offset;
    uint8_t width;
    uint32_t value;
  };
  static constexpr Field kFields[] = {
      {0, 2, 0x412E},   {2, 2, 1024},    {4, 2, 0x0700},  {6, 2, 2616},     {10, 2, 525},
      {34, 2, 20672},   {36, 4, 400000}, {56, 4, 400000}, {76, 4, 400000},  {116, 2, 25175},
      {124, 2, 28311},  {136, 2, 32956}, {140, 4, 0x9F9F0006}, {144, 2, 578}, {148, 2, 1795},
      {152, 2, 25700},  {156, 4, 0x29290000}, {160, 4, 0x474040}, {372, 4, 0x24BFDAC},
      {392, 4, 0x700021}, {396, 2, 13},  {400, 2, 7936},  {404, 2, 16},     {412, 4, 0x8000707},
      {416, 2, 5120},   {432, 4, 0xFFFFFFFF}, {436, 4, 0x3040102}, {440, 2, 513},
      {512, 4, 0x20922}, {516, 4, 6},    {520, 4, 6},     {524, 4, 0x70000000}, {528, 4, 0x83E80},
      {532, 2, 1228},   {536, 2, 125},   {540, 4, 0xE7435}, {544, 2, 12},   {568, 4, 0x84210000},
      {572, 4, 0xDD22EE11}, {576, 4, 0x7788BB44}, {584, 2, 2674}, {588, 2, 4},
      {600, 4, 0x1F1F1F}, {604, 2, 1},   {608, 4, 0x3CB78892}, {656, 4, 0x3CB78892},
      {612, 4, 0xAB8000A0}, {660, 4, 0xAB8000A0}, {624, 2, 85}, {628, 2, 85}, {672, 2, 85},
      {676, 2, 85},     {648, 2, 1755},  {652, 2, 1755},  {696, 2, 1755},   {700, 2, 1755},
  };
  static constexpr uint16_t kFsLimits[6] = {800, 1600, 800, 1600, 54, 108};
  uint8_t* block = h->oPins.aucData;
  std::memset(block, 0, sizeof(h->oPins.aucData));
  auto put = [block](uint32_t offset, uint32_t width, uint32_t value) {
    for (uint32_t i = 0; i < width; ++i) block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  for (const Field& f : kFields) put(f.offset, f.width, f.value);
  for (uint32_t n = 0; n < kFsCount; ++n)
    for (uint32_t k = 0; k < 6; ++k) put(kPinsFsBlock + kPinsFsStride * n + kPinsFsLimits + 2 * k, 2, kFsLimits[k]);
  for (uint32_t offset = 632; offset <= 644; offset += 4) put(offset, 4, 0xFFFFFFFF);
  for (uint32_t offset = 680; offset <= 692; offset += 4) put(offset, 4, 0xFFFFFFFF);
  return h->status;
}
