// Board information and expansion-module record from a version-6 board
// description.
#include "hwsharing/chip/pins_boardinfo.h"

#include <cstring>

#include "core/board_description.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/chip/miscio.h"

namespace {

constexpr uint32_t kMemSizeCodeMask = 0x3;
constexpr uint32_t kMemBoardOption = 1u << 2;
constexpr uint32_t kMemFullWidth = 1u << 3;
constexpr uint32_t kMemConfigAbsent = 0xFFFFFFFF;
constexpr uint32_t kMemSmallestBytes = 32u << 20;

constexpr uint32_t kClockUnitKHz = 16000;
constexpr uint32_t kOutputClockUnitKHz = 4000;
constexpr uint32_t kRefClockKHz = 27000;
constexpr uint32_t kWord3YearOffset = 6000;
constexpr uint32_t kWord3YearLimit = 1000;
constexpr uint8_t kSerialFirstLow = 0x20;
constexpr uint8_t kSerialFirstHigh = 0x80;

// Encoder GPIO functions the three-line control method needs.
constexpr uint32_t kCemGpioFunctions[3] = {2, 3, 4};
constexpr uint32_t kAllEncoderSlots = 0xF;

constexpr uint32_t kCemFpgaPorts[2] = {1, 16};
constexpr uint32_t kCemFpgaAddresses[2] = {0xE0, 0xE2};
constexpr uint32_t kCemClockStates[2] = {0, 1};

constexpr uint32_t kCntlFirstAbsent = 10;

enum class CntlKind { kNone, kPresentOnly, kChrGpio, kCpld, kFpga };

// Control methods 0..9; 10 and above mean no module.
constexpr CntlKind kCntlMethods[kCntlFirstAbsent] = {
    CntlKind::kNone,         // 0
    CntlKind::kChrGpio,      // 1
    CntlKind::kFpga,         // 2
    CntlKind::kFpga,         // 3
    CntlKind::kChrGpio,      // 4
    CntlKind::kPresentOnly,  // 5
    CntlKind::kFpga,         // 6
    CntlKind::kCpld,         // 7
    CntlKind::kFpga,         // 8
    CntlKind::kFpga,         // 9
};

// Programming methods 2..4 have a routine.
constexpr uint32_t kProgMethodFirst = 2, kProgMethodLast = 4;

uint8_t Byte(const BOARDHANDLE* h, uint32_t offset) { return h->oPins.aucData[offset]; }
uint16_t Word(const BOARDHANDLE* h, uint32_t offset) {
  return static_cast<uint16_t>(Byte(h, offset) | (Byte(h, offset + 1) << 8));
}

void CopyText(char* to, const BOARDHANDLE* h, uint32_t offset) {
  std::memset(to, 0, kBoardTextSize);
  std::memcpy(to, h->oPins.aucData + offset, kPinsTextLength);
}

uint32_t MemorySize(uint32_t config) {
  if (config == kMemConfigAbsent) return kMemSmallestBytes;
  const uint32_t size = kMemSmallestBytes << (config & kMemSizeCodeMask);
  return (config & kMemFullWidth) ? size : size / 2;
}

// The description has no field that lists the board's I2C ports 1 and 16:
// it gives them through the misc-IO and expander lines it wires. A port is
// there when its lines resolve the way opening it resolves them (port 16
// on the first chip's early revisions is always there, on the chip's own
// GPIO lines). No field says a port runs fast either, so both run at the
// slow clock class.
void DerivePortWords(BOARDHANDLE* h) {
  uint32_t word = 0;
  if (BoardPortWired(h, kI2cPortBoard1)) word |= kPinsPortWordPort1;
  if (BoardPortWired(h, kI2cPortBoard16)) word |= kPinsPortWordPort16;
  h->ulPinsPortWord = word;
  h->ulPinsPortSpeed = 0;
}

}  // namespace

HALSTATUS HSLPIN60GetBoardInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  BOARDINFO* info = &h->oBoardInfo;
  std::memset(info, 0, sizeof(*info));
  info->ulBoardWord1 = PinsDword(h, kPinsBoardWord1);
  info->ulBoardWord2 = Word(h, kPinsBoardWord2);
  const uint32_t w = Word(h, kPinsBoardWord3);
  uint32_t high = w >> 4;
  if (high > kWord3YearLimit) high += kWord3YearOffset;
  info->ulBoardWord3 = (high << 16) | (w & 0xF);

  const uint8_t first = Byte(h, kPinsSerialText);
  if (first >= kSerialFirstLow && first <= kSerialFirstHigh)
    CopyText(info->szSerialNumber, h, kPinsSerialText);
  else
    std::memcpy(info->szSerialNumber, kNoSerialNumber, sizeof(kNoSerialNumber));
  CopyText(info->szBoardText, h, kPinsBoardText);

  const uint32_t memory = PinsDword(h, kPinsMemoryConfig);
  info->ulMemorySize = MemorySize(memory);
  info->ulAvailMemorySize = info->ulMemorySize;
  if (PinsVersion(h) >= kPinsVersion604) info->ulClock = Byte(h, kPinsMemoryClock) * kClockUnitKHz;
  info->ulRefClock = kRefClockKHz;
  info->ulInfoLevel = kBoardInfoLevel;

  uint32_t flags = h->ulBoardFlags & ~(kBoardFlagsLowBandwidthMask | kBoardFlagPinsOption);
  flags |= (h->ulFeatures & kFeatureNarrowBandwidth) ? kBoardFlagsBandwidthNarrow
                                                     : kBoardFlagsBandwidthWide;
  // An erased memory word carries no option bit.
  if (memory != kMemConfigAbsent && (memory & kMemBoardOption)) flags |= kBoardFlagPinsOption;
  h->ulBoardFlags = flags;

  for (uint32_t i = 0; i < 4; ++i) {
    OUTPUTLIMIT& limit = info->aOutputLimit[i];
    limit.ulKind = i < 2 ? kOutputKindDigitalPair : kOutputKindOther;
    limit.ulMaxClock = Byte(h, kPinsOutputMaxClock + i) * kOutputClockUnitKHz;
    limit.ulSecondLimit = i < 2 ? Byte(h, kPinsOutputSecondLimit + i) * kOutputClockUnitKHz : 0;
  }
  info->ulCapability = (Byte(h, kPinsCapability) & 1) ? 0 : 1;
  DerivePortWords(h);
  return HSLPIN60InitCEMStructure(h, &h->oCem);
}

HALSTATUS HSLPIN60InitCEMStructure(BOARDHANDLE* h, CEMSTRUCTURE* cem) {
  if (HalFailed(h->status)) return h->status;
  std::memset(cem, 0, sizeof(*cem));
  if (PinsVersion(h) < kPinsVersion609) return h->status;
  cem->ulBoardType = Byte(h, kPinsBoardType);
  cem->usModuleCode = Byte(h, kPinsCemCode);
  cem->ulCntlMethod = Byte(h, kPinsCemCntlMethod);
  const CntlKind kind =
      cem->ulCntlMethod < kCntlFirstAbsent ? kCntlMethods[cem->ulCntlMethod] : CntlKind::kNone;
  if (kind != CntlKind::kNone) cem->ulPresent = 1;
  switch (kind) {
    case CntlKind::kChrGpio: HSLPIN60InitCEMCntlMtd3ChrGpio(h, cem); break;
    case CntlKind::kCpld: HSLPIN60InitCEMCntlMtd_1Cpld2LinesI2c(h, cem); break;
    case CntlKind::kFpga: HSLPIN60InitCEMCntlMtd_Fpga(h, cem); break;
    case CntlKind::kNone:
    case CntlKind::kPresentOnly: break;
  }
  cem->ulProgMethod = Byte(h, kPinsCemProgMethod);
  if (cem->ulProgMethod >= kProgMethodFirst && cem->ulProgMethod <= kProgMethodLast)
    HSLPIN60InitCEMProgMtd(h, cem);
  return h->status;
}

HALSTATUS HSLPIN60InitCEMCntlMtd3ChrGpio(BOARDHANDLE* h, CEMSTRUCTURE* cem) {
  if (HalFailed(h->status)) return h->status;
  bool all = true;
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t slot = 0, nibble = 0, found = 0;
    HSLPIN60GetCHRGPIOData(h, kAllEncoderSlots, kCemGpioFunctions[i], &slot, &nibble, &found);
    cem->aulMethodData[2 * i] = slot;
    cem->aulMethodData[2 * i + 1] = nibble;
    all &= found != 0;
  }
  cem->ulPresent = all ? 1 : 0;
  return h->status;
}

HALSTATUS HSLPIN60InitCEMCntlMtd_1Cpld2LinesI2c(BOARDHANDLE* h, CEMSTRUCTURE* cem) {
  if (HalFailed(h->status)) return h->status;
  cem->aulMethodData[0] = 1;
  cem->usControlByte = 0;
  h->oCpld = I2CDEVICE{1, kCemCpldPort, kCemCpldAddress, cem->usModuleCode};
  return h->status;
}

HALSTATUS HSLPIN60InitCEMCntlMtd_Fpga(BOARDHANDLE* h, CEMSTRUCTURE* cem) {
  if (HalFailed(h->status)) return h->status;
  std::memset(h->aFpga, 0, sizeof(h->aFpga));
  const uint32_t code = cem->usModuleCode;
  uint32_t found = 0;
  for (uint32_t port : kCemFpgaPorts) {
    for (uint32_t address : kCemFpgaAddresses) {
      if (found >= kCemMaxFpgas) break;
      for (uint32_t clockState : kCemClockStates) {
        // A board without this FPGA fails the read; that is no error.
        const HALSTATUS before = h->status;
        uint8_t value = 0;
        HSLKSTAccessCEM_FPGAI2CRead(h, port, address, clockState, kCemFpgaProbeRegister, &value,
                                    1);
        if (HalFailed(h->status)) {
          h->status = before;
          continue;
        }
        const uint32_t control =
            value < kCemFpgaMinControlByte ? Byte(h, kPinsCemControlByte) : value;
        h->aFpga[found++] = I2CDEVICE{1, port, address, (code << 16) + control};
        break;
      }
    }
  }
  cem->aulMethodData[0] = found;
  if (found > 0) cem->usControlByte = static_cast<uint16_t>(h->aFpga[0].ulData & 0xFFFF);
  return h->status;
}

HALSTATUS HSLPIN60InitCEMProgMtd(BOARDHANDLE* h, CEMSTRUCTURE*) { return h->status; }
