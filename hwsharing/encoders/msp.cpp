#include "hwsharing/encoders/msp.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/encoders/addon_info.h"

namespace {

constexpr uint32_t kMspPort = 1;
constexpr uint8_t kMspWriteDsp = 0x12;
constexpr uint8_t kMspReadDsp = 0x13;
constexpr uint8_t kMspControl = 0x00;

// One DSP word: 0x13, the register, then two bytes after a repeated start;
// false at the first missing acknowledge (a stop ends the transfer).
bool ReadWord(BOARDHANDLE* h, const I2cTarget& t, uint32_t reg, uint16_t* word) {
  uint8_t hi = 0, lo = 0;
  const bool ok = I2cStep(h, t, kI2cOpWrite, t.address, kI2cStart | kI2cAck) &&
                  I2cStep(h, t, kI2cOpWrite, kMspReadDsp, kI2cAck) &&
                  I2cStep(h, t, kI2cOpWrite, (reg >> 8) & 0xFF, kI2cAck) &&
                  I2cStep(h, t, kI2cOpWrite, reg & 0xFF, kI2cAck) &&
                  I2cStep(h, t, kI2cOpWrite, t.address | 1, kI2cStart | kI2cAck) &&
                  I2cStep(h, t, kI2cOpRead, 0, kI2cAck, &hi) &&
                  I2cStep(h, t, kI2cOpRead, 0, kI2cNak | kI2cStop, &lo);
  if (!ok) I2cSendStop(h, t, false);
  *word = static_cast<uint16_t>((hi << 8) | lo);
  return ok;
}

// The address, then the bytes, the last with a stop.
bool WriteBytes(BOARDHANDLE* h, const I2cTarget& t, const uint8_t* bytes, uint32_t count) {
  bool ok = I2cStep(h, t, kI2cOpWrite, t.address, kI2cStart | kI2cAck);
  for (uint32_t i = 0; ok && i < count; ++i)
    ok = I2cStep(h, t, kI2cOpWrite, bytes[i], (i + 1 == count ? kI2cStop : 0) | kI2cAck);
  if (!ok) I2cSendStop(h, t, false);
  return ok;
}

struct DspWord {
  uint16_t reg, value;
};
constexpr DspWord kPassThrough[] = {
    {0x000A, 0x0220}, {0x000D, 0x1900}, {0x0007, 0x7301}, {0x0013, 0x0C00}};
constexpr DspWord kPassThroughBreakOutBox[] = {
    {0x0007, 0x0001}, {0x000D, 0x1900}, {0x0013, 0x0400}, {0x0008, 0x0220}, {0x0000, 0x7300}};

}  // namespace

HALSTATUS HSLMSPI2CGetVersion(BOARDHANDLE* h, uint32_t address, uint32_t* version) {
  if (HalFailed(h->status)) return h->status;
  *version = 0;
  const I2cTarget t = I2cOpen(h, kMspPort, address);
  uint16_t word = 0;
  if (ReadWord(h, t, 0x001E, &word)) *version |= static_cast<uint32_t>(word) << 16;
  if (ReadWord(h, t, 0x001F, &word)) *version |= word;
  I2cClose(h);
  return h->status;
}

HALSTATUS HSLMSPI2CWriteWord(BOARDHANDLE* h, uint32_t reg, uint32_t value) {
  if (HalFailed(h->status)) return h->status;
  const I2cTarget t = I2cOpen(h, kMspPort, AddOn(h, kAddOnMspAddress));
  const uint8_t bytes[5] = {kMspWriteDsp, static_cast<uint8_t>(reg >> 8),
                            static_cast<uint8_t>(reg), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value)};
  if (!WriteBytes(h, t, bytes, 5)) SetError(h, kErrMspWrite);
  I2cClose(h);
  return h->status;
}

HALSTATUS HSLMSPI2CSoftReset(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const I2cTarget t = I2cOpen(h, kMspPort, AddOn(h, kAddOnMspAddress));
  static constexpr uint8_t kEnter[3] = {kMspControl, 0x80, 0x00};
  static constexpr uint8_t kLeave[3] = {kMspControl, 0x00, 0x00};
  if (!WriteBytes(h, t, kEnter, 3) || !WriteBytes(h, t, kLeave, 3)) SetError(h, kErrMspReset);
  I2cClose(h);
  return h->status;
}

HALSTATUS HSLMSPSetAudioPassThroughMode(BOARDHANDLE* h) {
  HSLMSPI2CSoftReset(h);
  for (const DspWord& w : kPassThrough) HSLMSPI2CWriteWord(h, w.reg, w.value);
  return h->status;
}

HALSTATUS HSLMSPSetAudioPassThroughModeForBreakOutBox(BOARDHANDLE* h) {
  HSLMSPI2CSoftReset(h);
  for (const DspWord& w : kPassThroughBreakOutBox) HSLMSPI2CWriteWord(h, w.reg, w.value);
  return h->status;
}
