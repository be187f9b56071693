// The library's timing catalogue: VESA display modes, CEA-861 television
// timings by video code and the timings behind the EDID established-timing
// bits, with their look-ups. Rows are MODEINFO records holding only size,
// zoom, refresh (Hz), horizontal rate (kHz, truncated), pixel clock (kHz),
// porches, syncs and flSignalMode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrVesaNotEnoughRows = 0xA0501040;
inline constexpr HALSTATUS kErrVesaNoRow = 0xA0501070;
inline constexpr HALSTATUS kErrVesaIndex = 0xA0503070;
inline constexpr HALSTATUS kErrDtvNoRow = 0xA0801070;

// flSignalMode bit of a VESA row that marks a reduced-blanking timing; the
// look-ups by size and refresh skip such rows.
inline constexpr uint32_t kSignalReducedBlankingRow = 0x80;

inline constexpr size_t kVesaRows = 66;  // 65 modes and the end row
inline constexpr uint32_t kVesaEndWidth = 0xFFFFFFFF;
extern const MODEINFO VesaParam[kVesaRows];

// A CEA-861 row: the video code, then its timing.
struct DTVPARAM {
  uint32_t ulVideoCode;
  MODEINFO oMode;
};
static_assert(sizeof(DTVPARAM) == 132);
inline constexpr size_t kDtvRows = 19;  // 18 codes and the end row
inline constexpr uint32_t kDtvEndCode = 0xFF;
extern const DTVPARAM DTVParam[kDtvRows];

// Row 8 x k + b is the timing of EDID established-timing byte 35 + k, bit b;
// rows with width 0 are timings the library does not offer.
inline constexpr size_t kEstabRows = 24;
extern const MODEINFO EstabParam[kEstabRows];

// Copies refresh, rates, clock, porches, syncs, borders and flSignalMode.
void CopyTimingFromRefresh(MODEINFO* dst, const MODEINFO* src);

// The first VESA row of the mode's size and the refresh that a look-up may
// answer with (zoom 0 or the mode's, not reduced blanking); null when none.
const MODEINFO* FindVesaRow(const MODEINFO* mode, uint32_t refresh);

uint32_t HALGetVESATableLenght();
// The n-th row (from 0) of the mode's size whose zoom is 0 or the mode's,
// reduced-blanking rows skipped.
HALSTATUS HALGetVESAParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t n);
HALSTATUS HALGetVESAParametersByIndex(BOARDHANDLE* h, MODEINFO* mode, uint32_t index);
HALSTATUS HALGetVESAMode(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh);
// Leave the status alone and return at once when it holds an error.
HALSTATUS HALEnumerateDTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t n);
HALSTATUS HALGetDTVParametersForResolution(BOARDHANDLE* h, MODEINFO* mode, uint32_t n);
// 1 when a row has the code's low byte (the native bit is not stripped).
uint32_t HALPGetDTVParametersFromVideoCode(MODEINFO* mode, uint32_t code);
