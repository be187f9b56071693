// Serial EEPROM and SPI flash.
#include "hwsharing/chip/eeprom_flash.h"

#include <cstdio>
#include <cstring>

#include "core/chip_ids.h"
#include "core/poll.h"
#include "core/regs/pci.h"
#include "core/regs/serial.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/reg_access.h"

namespace {

// Attempts to address the EEPROM while it finishes writing the last byte.
constexpr uint32_t kEepromWriteCycleAttempts = 50;

HALSTATUS ModifyPins(BOARDHANDLE* h, uint32_t set, uint32_t clear) {
  if (HalFailed(h->status)) return h->status;
  RegModify(h, kRegSpiPins, clear, set);
  return h->status;
}

// The flash parts answered by identification.
struct FlashPart {
  uint8_t command;
  uint8_t first, second;
  bool anySecond;
  uint32_t maker;
  uint32_t pageSize;
  const char* name;
};
const FlashPart kFlashParts[] = {
    {kFlashCmdAtmelId, 0x1F, 0, true, 31, 256, "ATMEL AT25F1024"},  // Atmel
    {kFlashCmdReleaseId, 0x10, 0, true, 16, 128, "ST M25P10"},      // ST
    {kFlashCmdReleaseId, 0xBF, 0x49, false, 191, 1, "SST SST25VF010"},  // SST
    {kFlashCmdReleaseId, 0x9D, 0x7C, false, 157, 256, "PMC 25LV010"},   // PMC
};

void TakePart(SEINFO* se, const FlashPart& part) {
  se->ulManufacturer = part.maker;
  se->ulPageSize = part.pageSize;
  se->ulSize = kFlashSize128K;
  std::snprintf(se->szPartName, sizeof(se->szPartName), "%s", part.name);
}

// One I2C byte transaction on the EEPROM's port; answers whether it went.
bool Transfer(BOARDHANDLE* h, I2CTRANSACTION* t, uint32_t op, uint32_t data, uint32_t control) {
  t->ulOpCode = op;
  t->ucData = data & 0xFF;
  t->flI2CControl = control;
  t->ulI2CStatus = kI2cDone;
  HALPI2CExecute(h, h->oCfgEeprom.ulPort, t);
  return t->ulI2CStatus == kI2cDone && !HalFailed(h->status);
}

void Abort(BOARDHANDLE* h, I2CTRANSACTION* t) {
  t->ulOpCode = kI2cOpNull;
  t->flI2CControl = kI2cStop;
  const HALSTATUS saved = h->status;
  h->status = kHalOk;  // the stop must reach the bus even after a failure
  HALPI2CExecute(h, h->oCfgEeprom.ulPort, t);
  h->status = saved;
}

bool OpenEepromPort(BOARDHANDLE* h, I2CTRANSACTION* t) {
  std::memset(t, 0, sizeof(*t));
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, h->oCfgEeprom.ulPort);
  t->ulHalfBitTime = clock;
  return !HalFailed(h->status);
}

}  // namespace

// ---- Pins -----------------------------------------------------------------------------

HALSTATUS KestrionSetE2PBYP_Low(BOARDHANDLE* h) { return ModifyPins(h, 0, kSpiBypass); }
HALSTATUS KestrionSetE2PBYP_High(BOARDHANDLE* h) { return ModifyPins(h, kSpiBypass, 0); }
HALSTATUS KestrionSetE2PBYPCLK_Low(BOARDHANDLE* h) { return ModifyPins(h, 0, kSpiClock); }
HALSTATUS KestrionSetE2PBYPCLK_High(BOARDHANDLE* h) { return ModifyPins(h, kSpiClock, 0); }
HALSTATUS KestrionSetE2PBYPD_Low(BOARDHANDLE* h) { return ModifyPins(h, 0, kSpiDataOut); }
HALSTATUS KestrionSetE2PBYPD_High(BOARDHANDLE* h) { return ModifyPins(h, kSpiDataOut, 0); }
HALSTATUS KestrionSetE2PBYPCSN_Low(BOARDHANDLE* h) { return ModifyPins(h, 0, kSpiChipSelectN); }
HALSTATUS KestrionSetE2PBYPCSN_High(BOARDHANDLE* h) { return ModifyPins(h, kSpiChipSelectN, 0); }
HALSTATUS KestrionGetE2PQ(BOARDHANDLE* h, uint32_t* level) {
  if (HalFailed(h->status)) return h->status;
  *level = (RegRead(h, kRegSpiPins) & kSpiDataIn) != 0 ? 1 : 0;
  return h->status;
}

// ---- SPI flash --------------------------------------------------------------------------

HALSTATUS HSLSE128KEnableE2P(SEINFO* se) {
  se->pfnClockLow(se->h);
  se->pfnChipSelectHigh(se->h);
  return se->pfnBypassHigh(se->h);
}

HALSTATUS HSLSE128KDisableE2P(SEINFO* se) { return se->pfnBypassLow(se->h); }

HALSTATUS HSLSE128KSendData(SEINFO* se, uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit) {
    se->pfnClockLow(se->h);
    if ((byte >> bit) & 1)
      se->pfnDataHigh(se->h);
    else
      se->pfnDataLow(se->h);
    se->pfnClockHigh(se->h);
  }
  return se->h->status;
}

HALSTATUS HSLSE128KReceiveData(SEINFO* se, uint8_t* byte) {
  uint32_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    se->pfnClockLow(se->h);
    se->pfnClockHigh(se->h);
    uint32_t level = 0;
    se->pfnReadDataIn(se->h, &level);
    value = (value << 1) | (level & 1);
  }
  *byte = static_cast<uint8_t>(value);
  return se->h->status;
}

HALSTATUS HSLSE128KGetInfo(SEINFO* se) {
  BOARDHANDLE* h = se->h;
  if (HalFailed(h->status)) return h->status;
  uint8_t b1 = 0, b2 = 0;
  HSLSE128KEnableE2P(se);
  se->pfnChipSelectLow(h);
  HSLSE128KSendData(se, kFlashCmdAtmelId);
  HSLSE128KReceiveData(se, &b1);
  HSLSE128KReceiveData(se, &b2);
  se->pfnChipSelectHigh(h);
  HSLSE128KDisableE2P(se);
  if (b1 == kFlashParts[0].first) {
    TakePart(se, kFlashParts[0]);
    return h->status;
  }

  HSLSE128KEnableE2P(se);
  se->pfnChipSelectLow(h);
  HSLSE128KSendData(se, kFlashCmdReleaseId);
  for (int i = 0; i < 3; ++i) HSLSE128KSendData(se, 0);
  HSLSE128KReceiveData(se, &b1);
  HSLSE128KReceiveData(se, &b2);
  se->pfnChipSelectHigh(h);
  HSLSE128KDisableE2P(se);
  for (const FlashPart& part : kFlashParts) {
    if (part.command != kFlashCmdReleaseId) continue;
    if (b1 == part.first && (part.anySecond || b2 == part.second)) {
      TakePart(se, part);
      break;
    }
  }
  return h->status;
}

HALSTATUS HSLSE128KRead(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer) {
  BOARDHANDLE* h = se->h;
  if (HalFailed(h->status)) return h->status;
  HSLSE128KEnableE2P(se);
  se->pfnChipSelectLow(h);
  HSLSE128KSendData(se, kFlashCmdRead);
  HSLSE128KSendData(se, static_cast<uint8_t>(offset >> 16));
  HSLSE128KSendData(se, static_cast<uint8_t>(offset >> 8));
  HSLSE128KSendData(se, static_cast<uint8_t>(offset));
  for (uint32_t i = 0; i < length; ++i) HSLSE128KReceiveData(se, &buffer[i]);
  se->pfnChipSelectHigh(h);
  HSLSE128KDisableE2P(se);
  return h->status;
}

// ---- Configuration EEPROM -----------------------------------------------------------------

HALSTATUS HSLSE256GetInfo(SEINFO* se, uint32_t* found) {
  se->ulPageSize = kEepromPageSize;
  se->ulSize = kEepromSize;
  *found = 1;
  return se->h->status;
}

HALSTATUS HSLSE256ValidParameters(SEINFO* se, uint32_t offset, uint32_t length,
                                  const void* data, uint32_t* valid) {
  // Compared without the sum, which could wrap.
  *valid = se != nullptr && data != nullptr && offset <= kEepromSize &&
           length <= kEepromSize - offset;
  return se != nullptr ? se->h->status : kHalOk;
}

HALSTATUS HSLSE256Read(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer) {
  BOARDHANDLE* h = se->h;
  if (HalFailed(h->status)) return h->status;
  uint32_t valid = 0;
  HSLSE256ValidParameters(se, offset, length, buffer, &valid);
  if (!valid || h->oCfgEeprom.ulPresent == 0) return SetError(h, kErrEepromReadParams);
  const uint32_t address = h->oCfgEeprom.ulAddress & 0xFE;

  I2CTRANSACTION t;
  if (!OpenEepromPort(h, &t)) return h->status;
  uint8_t contents[kEepromSize] = {};
  bool ok = Transfer(h, &t, kI2cOpWrite, address, kI2cStart | kI2cAck) &&
            Transfer(h, &t, kI2cOpWrite, 0, kI2cAck) &&
            Transfer(h, &t, kI2cOpWrite, address | 1, kI2cStart | kI2cAck) &&
            Transfer(h, &t, kI2cOpRead, 0, kI2cNak | kI2cStop);
  if (ok) {
    contents[0] = static_cast<uint8_t>(t.ucData);
    ok = Transfer(h, &t, kI2cOpWrite, address | 1, kI2cStart | kI2cAck);
  }
  for (uint32_t i = 1; ok && i < kEepromSize; ++i) {
    const uint32_t control = i + 1 == kEepromSize ? (kI2cNak | kI2cStop) : kI2cAck;
    ok = Transfer(h, &t, kI2cOpRead, 0, control);
    contents[i] = static_cast<uint8_t>(t.ucData);
  }
  if (!ok) {
    Abort(h, &t);
    h->oJumpTable.I2CClosePort(h);
    return SetError(h, kErrEepromReadFailed);
  }
  std::memcpy(buffer, contents + offset, length);
  return h->oJumpTable.I2CClosePort(h);
}

// Every byte is written in its own write cycle; the part does not answer
// its address until the previous cycle has ended.
HALSTATUS HSLSE256Write(SEINFO* se, uint32_t offset, uint32_t length, const uint8_t* data) {
  BOARDHANDLE* h = se->h;
  if (HalFailed(h->status)) return h->status;
  uint32_t valid = 0;
  HSLSE256ValidParameters(se, offset, length, data, &valid);
  if (!valid || h->oCfgEeprom.ulPresent == 0) return SetError(h, kErrEepromWriteParams);
  const uint32_t address = h->oCfgEeprom.ulAddress & 0xFE;

  I2CTRANSACTION t;
  if (!OpenEepromPort(h, &t)) return h->status;
  bool ok = true;
  for (uint32_t i = 0; ok && i < length; ++i) {
    ok = PollUntil([&] { return Transfer(h, &t, kI2cOpWrite, address, kI2cStart | kI2cAck); },
                   kEepromWriteCycleAttempts) &&
         Transfer(h, &t, kI2cOpWrite, offset + i, kI2cAck) &&
         Transfer(h, &t, kI2cOpWrite, data[i], kI2cAck | kI2cStop);
  }
  if (!ok) {
    Abort(h, &t);
    h->oJumpTable.I2CClosePort(h);
    return SetError(h, kErrEepromWriteFailed);
  }
  return h->oJumpTable.I2CClosePort(h);
}

// ---- Front end -------------------------------------------------------------------------------

HALSTATUS SEInitTypeBIOS(BOARDHANDLE* h, SEINFO* se, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  if (!IsSupportedChip(CfgDeviceId(h))) return h->status;
  se->pfnBypassLow = KestrionSetE2PBYP_Low;
  se->pfnBypassHigh = KestrionSetE2PBYP_High;
  se->pfnClockLow = KestrionSetE2PBYPCLK_Low;
  se->pfnClockHigh = KestrionSetE2PBYPCLK_High;
  se->pfnDataLow = KestrionSetE2PBYPD_Low;
  se->pfnDataHigh = KestrionSetE2PBYPD_High;
  se->pfnChipSelectLow = KestrionSetE2PBYPCSN_Low;
  se->pfnChipSelectHigh = KestrionSetE2PBYPCSN_High;
  se->pfnReadDataIn = KestrionGetE2PQ;
  HSLSE128KGetInfo(se);
  se->pfnRead = HSLSE128KRead;
  se->pfnWrite = nullptr;
  *found = 1;  // an unidentified part opens with size 0
  return h->status;
}

HALSTATUS SEInitTypeCONFIG(BOARDHANDLE* h, SEINFO* se, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  if (!IsSupportedChip(CfgDeviceId(h))) return h->status;
  HSLSE256GetInfo(se, found);
  se->pfnRead = HSLSE256Read;
  se->pfnWrite = HSLSE256Write;
  return h->status;
}

HALSTATUS HSLOpenSE(BOARDHANDLE* h, uint32_t kind, SEINFO* se, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  std::memset(se, 0, sizeof(*se));
  *found = 0;
  se->h = h;
  se->usDeviceId = CfgDeviceId(h);
  se->ucRevision = static_cast<uint8_t>(CfgRevision::Get(CfgRead(h, kCfgClassRevision)));
  if (kind == kSeKindBios) SEInitTypeBIOS(h, se, found);
  if (kind == kSeKindConfig) SEInitTypeCONFIG(h, se, found);
  if (*found == 0) return SetError(h, kErrSeNotFound);
  return h->status;
}

HALSTATUS HSLCloseSE(BOARDHANDLE* h, SEINFO* se) {
  std::memset(se, 0, sizeof(*se));
  return h->status;
}

HALSTATUS HSLReadSE(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer) {
  if (HalFailed(se->h->status)) return se->h->status;
  if (se->pfnRead == nullptr) return se->h->status;
  return se->pfnRead(se, offset, length, buffer);
}

HALSTATUS HSLWriteSE(SEINFO* se, uint32_t offset, uint32_t length, const uint8_t* data) {
  if (HalFailed(se->h->status)) return se->h->status;
  if (se->pfnWrite == nullptr) return se->h->status;
  return se->pfnWrite(se, offset, length, data);
}
