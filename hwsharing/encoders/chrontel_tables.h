// The Chrontel encoders' TV modes: per mode code, the encoder's register
// values and the display timing the controller runs for it, plus the pairs
// every SDTV set-up starts with and the DVI parameter rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// One row of the encoder register table (48 bytes, twelve words).
struct CHRTVREGVALUES {
  uint32_t ulModeCode;        // low byte; the other bytes are 0
  uint32_t ulHTotal;          // pixels per line
  uint32_t ulVTotal;          // lines per frame
  uint32_t ulDisplayMode;     // low byte to 0x00, bit 8 to 0x09 bit 0
  uint32_t ulPllM;            // low byte to 0x0B, bits 8-9 to 0x09 bits 3-4
  uint32_t ulPllN;            // low byte to 0x0A, bit 8 to 0x09 bit 2
  uint32_t ulSubcarrier;      // 0x0C-0x0F without dot-crawl reduction
  uint32_t ulSubcarrierDotCrawl;  // the same with dot-crawl reduction
  uint32_t ulStart;           // low byte to 0x04, bit 8 to 0x03 bit 5; 0 = not written
  uint32_t ulHPosition;       // default horizontal position
  uint32_t ulVPosition;       // default vertical position
  uint32_t ulMaxHOffset;      // largest allowed positive horizontal offset
};
static_assert(sizeof(CHRTVREGVALUES) == 48);

// One row of the mode table (136 bytes): the code, its scaling level and
// the mode record the controller runs (display size, the eleven timing
// words and flSignalMode; everything else 0).
struct CHRTVMODEINFO {
  uint32_t ulModeCode;
  uint32_t ulScalingLevel;  // 1-3; every DTV row has 2
  MODEINFO oMode;
};
static_assert(sizeof(CHRTVMODEINFO) == 136);

inline constexpr size_t kChrTvModeCount = 65;
extern const CHRTVREGVALUES g_aoTVCHRRegValues[kChrTvModeCount];
extern const CHRTVMODEINFO g_aoCHRTVModeInfo[kChrTvModeCount];

// Mode codes 0-38 are SDTV modes, 48-66 and 99-109 DTV modes.
inline constexpr uint32_t kChrLastSdtvCode = 38;
inline constexpr uint32_t kChrFirstDtvCode = 48;
// DTV codes that need the expansion module's CPLD (103 does not).
bool ChrModeCodeNeedsCpld(uint32_t code);

// (register, value) pairs written first by every SDTV set-up.
struct CHRREGPAIR {
  uint8_t ucRegister;
  uint8_t ucValue;
};
inline constexpr size_t kChrInitTvDataCount = 4;
extern const CHRREGPAIR g_ucInitTVData[kChrInitTvDataCount];

// DVI parameters: seven bytes for registers 0x31-0x37, by pixel clock.
inline constexpr size_t kChrDviParamBytes = 7;
using CHRDVIPARAM = uint8_t[kChrDviParamBytes];
// The row for a device id and a pixel clock in kHz.
const uint8_t* ChrDviParamRow(uint32_t deviceId, uint32_t pixClockKHz);
extern const CHRDVIPARAM ChrDVIParam[1];
extern const CHRDVIPARAM ChrVerBDVIParam[3];
extern const CHRDVIPARAM ChrVerCDVIParam[2];
