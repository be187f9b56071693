// The board description (PInS block) and BIOS version from the option ROM.
#pragma once

#include <cstdint>

#include "core/board_description.h"
#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrBiosNoPciData = 0xb0102170;
inline constexpr HALSTATUS kErrBiosNoVersionText = 0xb0105160;

// Option ROM image: byte 2 holds its size in 512-byte units.
inline constexpr uint32_t kRomSizeByte = 2;
inline constexpr uint32_t kRomSizeUnit = 512;

inline constexpr uint32_t kBiosFlagTv = 1u << 8;
inline constexpr uint32_t kBiosFlagTextI = 1u << 9;

// Slot 4 of the MISC table: PInS block from the option ROM into the handle.
HALSTATUS HSLBIOSReadPins(BOARDHANDLE* h, uint32_t* version);
HALSTATUS HSLBIOSGetVersion(BOARDHANDLE* h, uint32_t* version);
// PInS block from the flash copy of the option ROM; `area` holds
// kPinsDataSize bytes, `text` kBiosVersionTextSize characters.
HALSTATUS HSLBIOSReadData(BOARDHANDLE* h, uint8_t* area, uint32_t* version, char* text);
