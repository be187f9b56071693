// VGA register state and low-level device access.
#include "hwsharing/chip/vga.h"

#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/chip/halstatus.h"
#include "core/poll.h"
#include "hwsharing/chip/reg_access.h"

const VGAINFO HSLVGAInfoDefault = {
    {0x20, 0x03, 0x00, 0x02},
    0x67,
    {0x5F, 0x4F, 0x50, 0x82, 0x55, 0x81, 0xBF, 0x1F, 0x00, 0x4F, 0x0D, 0x0E, 0x00,
     0x00, 0x00, 0x00, 0x9C, 0x8E, 0x8F, 0x28, 0x1F, 0x96, 0xB9, 0xA3, 0xFF},
    {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x14, 0x07, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D,
     0x3E, 0x3F, 0x0C, 0x00, 0x0F, 0x08},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0xFF},
    {0x00, 0x00, 0x00},
};

namespace {

// Reading input status 1 sets the attribute flip-flop to index.
void ResetAttrFlipFlop(BOARDHANDLE* h) { RegReadByte(h, kVgaInputStatus1); }

}  // namespace

HALSTATUS HSLVGAReadVgaInfo(BOARDHANDLE* h, VGAINFO* info) {
  info->ucMisc = RegReadByte(h, kVgaMiscOutRead);
  for (uint8_t i = 0; i < 4; ++i) info->aucSeq[i] = VgaSeq(h, static_cast<uint8_t>(i + 1));
  for (uint8_t i = 0; i < 25; ++i) info->aucCrtc[i] = VgaCrtc(h, i);
  for (uint8_t i = 0; i < 20; ++i) {
    ResetAttrFlipFlop(h);
    RegWriteByte(h, kVgaAttrIndexData, i);
    info->aucAttr[i] = RegReadByte(h, kVgaAttrDataRead);
  }
  ResetAttrFlipFlop(h);
  RegWriteByte(h, kVgaAttrIndexData, kVgaAttrVideoEnable);
  for (uint8_t i = 0; i < 9; ++i) info->aucGfx[i] = VgaGfx(h, i);
  return h->status;
}

HALSTATUS HSLVGAWriteVgaInfo(BOARDHANDLE* h, VGAINFO* info) {
  RegWriteByte(h, kVgaMiscOutWrite, info->ucMisc);
  for (uint8_t i = 0; i < 4; ++i) SetVgaSeq(h, static_cast<uint8_t>(i + 1), info->aucSeq[i]);
  // Lift the protection of CRTC 0x00-0x07 first; 0x11 is written again in turn.
  SetVgaCrtc(h, kCrtcVSyncEnd, 0);
  for (uint8_t i = 0; i < 25; ++i) SetVgaCrtc(h, i, info->aucCrtc[i]);
  for (uint8_t i = 0; i < 20; ++i) {
    ResetAttrFlipFlop(h);
    RegWriteByte(h, kVgaAttrIndexData, i);
    RegWriteByte(h, kVgaAttrIndexData, info->aucAttr[i]);
  }
  ResetAttrFlipFlop(h);
  RegWriteByte(h, kVgaAttrIndexData, kVgaAttrVideoEnable);
  for (uint8_t i = 0; i < 9; ++i) SetVgaGfx(h, i, info->aucGfx[i]);
  return h->status;
}

// ---- Low-level device access --------------------------------------------------

namespace {

constexpr uint32_t WordClass(uint32_t w) { return w >> 24; }
constexpr uint32_t ControlCode(uint32_t w) { return (w >> 16) & 0xFF; }
constexpr uint32_t Operation(uint32_t w) { return (w >> 10) & 3; }
constexpr uint32_t AccessSize(uint32_t w) { return (w >> 8) & 3; }
constexpr uint32_t DeviceUnit(uint32_t w) { return w >> 28; }
constexpr uint32_t DeviceKind(uint32_t w) { return (w >> 24) & 0xF; }
constexpr uint32_t DeviceRegister(uint32_t w) { return (w >> 8) & 0xFF; }

constexpr uint32_t kMaxEncoderUnit = 3;
constexpr uint32_t kMaxFpgaUnit = 1;

// Runs one control word; false when it is not accepted.
bool RunControl(BOARDHANDLE* h, uint32_t count, uint32_t* position, const uint32_t* words) {
  const uint32_t w = words[*position];
  switch (ControlCode(w)) {
    case kLlaControlNothing:
      *position += 1;
      return true;
    case kLlaControlWaitShort:
      Delay(h, w & 0xFFFF);
      *position += 1;
      return true;
    case kLlaControlWaitLong:
      // The microseconds are the next word; a list that ends here is short.
      if (*position + 1 >= count) return false;
      Delay(h, words[*position + 1]);
      *position += 2;
      return true;
    default:
      return false;
  }
}

}  // namespace

uint32_t HSLKSTAccessI2C(BOARDHANDLE* h, uint32_t count, uint32_t* position,
                         const uint32_t* words, uint32_t* resultIndex, uint32_t* results) {
  if (*position + 1 >= count) return 0;  // the device word is missing
  const uint32_t op = Operation(words[*position]);
  const uint32_t device = words[*position + 1];
  const uint32_t kind = DeviceKind(device), unit = DeviceUnit(device);
  const uint32_t reg = DeviceRegister(device);
  uint8_t data = static_cast<uint8_t>(device);
  if (kind > kLlaDeviceFpga) return 0;
  // The unit indexes the board's encoder and FPGA records: refuse one the
  // board cannot have.
  if ((kind == kLlaDeviceEncoder && unit > kMaxEncoderUnit) ||
      (kind == kLlaDeviceFpga && unit > kMaxFpgaUnit))
    return 0;
  *position += 2;
  if (kind == kLlaDeviceNone || (op != kLlaRead && op != kLlaWrite)) return 1;
  const bool read = op == kLlaRead;
  switch (kind) {
    case kLlaDeviceEncoder:
      if (read)
        HSLCHRI2CRead(h, unit, reg, &data, 1);
      else
        HSLCHRI2CWrite(h, unit, reg, &data, 1);
      break;
    case kLlaDeviceFan:
      if (read)
        HSLTC664I2CRead(h, unit, reg, &data);
      else
        HSLTC664I2CWrite(h, unit, reg, data);
      break;
    default:
      if (read)
        HSLKSTAccessCEM_2FPgasI2CRead(h, unit, reg, &data, 1);
      else
        HSLKSTAccessCEM_2FPgasI2CWrite(h, unit, reg, &data, 1);
      break;
  }
  if (read) results[(*resultIndex)++] = data;
  return 1;
}

uint32_t HSLKSTAccessRegister(BOARDHANDLE* h, uint32_t count, uint32_t* position,
                              const uint32_t* words, uint32_t* resultIndex, uint32_t* results) {
  const uint32_t w = words[*position];
  const bool config = WordClass(w) == kLlaClassConfig;
  const uint32_t size = AccessSize(w);
  const uint32_t op = Operation(w);
  const uint32_t length = op == kLlaRead ? 2 : op == kLlaWrite ? 3 : op == kLlaPoll ? 4 : 0;
  if (length == 0) return 1;  // operation 3: nothing, position unchanged
  if (*position + length > count) return 0;
  const uint32_t offset = words[*position + 1];
  auto read = [&]() -> uint32_t {
    if (size == kLlaSizeByte) return config ? CfgReadByte(h, offset) : RegReadByte(h, offset);
    return config ? CfgRead(h, offset) : RegRead(h, offset);
  };
  const bool sized = size == kLlaSizeByte || size == kLlaSizeDword;
  if (sized) {
    if (op == kLlaRead) {
      results[(*resultIndex)++] = read();
    } else if (op == kLlaWrite) {
      const uint32_t v = words[*position + 2];
      if (size == kLlaSizeByte) {
        if (config)
          CfgWriteByte(h, offset, static_cast<uint8_t>(v));
        else
          RegWriteByte(h, offset, static_cast<uint8_t>(v));
      } else if (config) {
        CfgWrite(h, offset, v);
      } else {
        RegWrite(h, offset, v);
      }
    } else {
      const uint32_t mask = words[*position + 2], expected = words[*position + 3];
      // Nothing reports a poll that never matches; the list goes on.
      (void)PollUntil([&] { return (read() & mask) == expected; }, kLlaPollMaxReads);
    }
  }
  *position += length;
  return 1;
}

uint32_t HALPLowLevelDeviceAccess(BOARDHANDLE* h, uint32_t count, const uint32_t* words,
                                  uint32_t* resultCount, uint32_t* results) {
  h->status = kHalOk;
  *resultCount = 0;
  uint32_t position = 0, index = 0;
  while (position < count) {
    bool ok = false;
    switch (WordClass(words[position])) {
      case kLlaClassControl:
        ok = RunControl(h, count, &position, words);
        break;
      case kLlaClassI2c:
        ok = HSLKSTAccessI2C(h, count, &position, words, &index, results) != 0;
        break;
      default:
        // Register and configuration access are not taken from a list.
        ok = false;
        break;
    }
    if (!ok) return 0;
  }
  *resultCount = index;
  return 1;
}
