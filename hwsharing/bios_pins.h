// The board description (PInS block) and BIOS version from the option ROM,
// and the MCS colour-compensation records from the flash behind it.
#pragma once

#include <cstdint>

#include "hwsharing/haltypes.h"

inline constexpr uint16_t kPinsSignature = 0x412E;
inline constexpr uint16_t kPinsWideLengthVersion = 0x600;  // from here the length is a word
inline constexpr HALSTATUS kErrBiosNoPciData = 0xb0102170;
inline constexpr HALSTATUS kErrBiosNoVersionText = 0xb0105160;

inline constexpr uint32_t kBiosFlagTv = 1u << 8;
inline constexpr uint32_t kBiosFlagTextI = 1u << 9;

// Slot 4 of the MISC table: PInS block from the option ROM into the handle.
HALSTATUS HSLBIOSReadPins(BOARDHANDLE* h, uint32_t* version);
HALSTATUS HSLBIOSGetVersion(BOARDHANDLE* h, uint32_t* version);
// PInS block from the flash copy of the option ROM; `area` holds
// kPinsDataSize bytes, `text` kBiosVersionTextSize characters.
HALSTATUS HSLBIOSReadData(BOARDHANDLE* h, uint8_t* area, uint32_t* version, char* text);

// One colour-compensation record (1,040 bytes).
inline constexpr uint32_t kMcsDataSize = 1024;
struct MCSRECORD {
  uint32_t ulFactor;
  uint32_t ulFormatHigh;  // format bits 6-8
  uint32_t ulFormatMid;   // format bits 3-5
  uint32_t ulFormatLow;   // format bits 0-2
  uint8_t aucData[kMcsDataSize];
};
static_assert(sizeof(MCSRECORD) == 1040);

inline constexpr uint32_t kMcsSignature = 0x2053434D;  // "MCS "
// Record 0 or 1; at most kMcsDataSize bytes. A record that is missing or
// fails its sum is left all zero.
HALSTATUS HSLMCSReadData(BOARDHANDLE* h, uint32_t record, uint32_t length, MCSRECORD* out);
