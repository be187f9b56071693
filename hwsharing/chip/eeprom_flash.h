// One front end for the board's two serial memories: the SPI flash that holds
// the option ROM image (kind 0) and the 256-byte configuration EEPROM on an
// I2C port (kind 1). Open by kind, read, write, close.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kSeKindBios = 0;
inline constexpr uint32_t kSeKindConfig = 1;

inline constexpr uint32_t kFlashSize128K = 0x20000;
inline constexpr uint32_t kEepromSize = 256;
inline constexpr uint32_t kEepromPageSize = 16;

inline constexpr HALSTATUS kErrSeNotFound = 0xb1f01250;
inline constexpr HALSTATUS kErrEepromReadParams = 0xb2302131;
inline constexpr HALSTATUS kErrEepromReadFailed = 0xb2302220;
inline constexpr HALSTATUS kErrEepromWriteParams = 0xb2303131;
inline constexpr HALSTATUS kErrEepromWriteFailed = 0xb2303220;

struct SEINFO;
using SEPIN = HALSTATUS (*)(BOARDHANDLE* h);
using SEPINREAD = HALSTATUS (*)(BOARDHANDLE* h, uint32_t* level);
using SEREAD = HALSTATUS (*)(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer);
using SEWRITE = HALSTATUS (*)(SEINFO* se, uint32_t offset, uint32_t length, const uint8_t* data);

// One open serial memory; owned by the caller, cleared at open and close.
struct SEINFO {
  BOARDHANDLE* h;
  uint8_t ucRevision;
  uint16_t usDeviceId;
  uint32_t ulManufacturer;  // 0 when not identified
  char szPartName[16];
  uint32_t ulPageSize;
  uint32_t ulSize;  // 0 when not identified
  SEPIN pfnBypassLow, pfnBypassHigh;
  SEPIN pfnClockLow, pfnClockHigh;
  SEPIN pfnDataLow, pfnDataHigh;
  SEPIN pfnChipSelectLow, pfnChipSelectHigh;
  SEPINREAD pfnReadDataIn;
  SEREAD pfnRead;
  SEWRITE pfnWrite;  // none on the flash
};

HALSTATUS HSLOpenSE(BOARDHANDLE* h, uint32_t kind, SEINFO* se, uint32_t* found);
HALSTATUS HSLCloseSE(BOARDHANDLE* h, SEINFO* se);
HALSTATUS HSLReadSE(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer);
// The flash has no write routine: writing it does nothing and answers the status.
HALSTATUS HSLWriteSE(SEINFO* se, uint32_t offset, uint32_t length, const uint8_t* data);

HALSTATUS SEInitTypeBIOS(BOARDHANDLE* h, SEINFO* se, uint32_t* found);
HALSTATUS SEInitTypeCONFIG(BOARDHANDLE* h, SEINFO* se, uint32_t* found);

// SPI pins of register 0x304.
HALSTATUS KestrionSetE2PBYP_Low(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYP_High(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPCLK_Low(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPCLK_High(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPD_Low(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPD_High(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPCSN_Low(BOARDHANDLE* h);
HALSTATUS KestrionSetE2PBYPCSN_High(BOARDHANDLE* h);
HALSTATUS KestrionGetE2PQ(BOARDHANDLE* h, uint32_t* level);

// SPI flash.
HALSTATUS HSLSE128KEnableE2P(SEINFO* se);
HALSTATUS HSLSE128KDisableE2P(SEINFO* se);
HALSTATUS HSLSE128KSendData(SEINFO* se, uint8_t byte);
HALSTATUS HSLSE128KReceiveData(SEINFO* se, uint8_t* byte);
HALSTATUS HSLSE128KGetInfo(SEINFO* se);
HALSTATUS HSLSE128KRead(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer);

// Configuration EEPROM.
HALSTATUS HSLSE256GetInfo(SEINFO* se, uint32_t* found);
HALSTATUS HSLSE256ValidParameters(SEINFO* se, uint32_t offset, uint32_t length,
                                  const void* data, uint32_t* valid);
HALSTATUS HSLSE256Read(SEINFO* se, uint32_t offset, uint32_t length, uint8_t* buffer);
HALSTATUS HSLSE256Write(SEINFO* se, uint32_t offset, uint32_t length, const uint8_t* data);
