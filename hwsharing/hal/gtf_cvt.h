// Timings computed from a size and a rate: the Generalized Timing Formula
// (from a vertical refresh, a horizontal rate or a pixel clock) and the
// Coordinated Video Timings, standard or reduced blanking. Everything is
// 32-bit unsigned integer arithmetic with halves rounded up; no floating
// point. The result goes into the MODEINFO whose ulDispWidth and
// ulDispHeight are the input; an invalid result is still written.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrGtfVerticalInvalid = 0xA0301070;
inline constexpr HALSTATUS kErrGtfHorizontalInvalid = 0xA0302070;
inline constexpr HALSTATUS kErrGtfPixelClockInvalid = 0xA0303070;
inline constexpr HALSTATUS kErrCvtInvalid = 0xA0304070;

// a / b with halves rounded up; 0 when b is 0.
uint32_t HALPGTFRoundDiv(uint32_t a, uint32_t b);
uint32_t HALPCVTRoundDiv(uint32_t a, uint32_t b);
// a / b truncated; 0 when b is 0.
uint32_t HALPCVTRoundDownDiv(uint32_t a, uint32_t b);
// The integer nearest to the square root of a, searched upward from
// 1001 - offset.
uint32_t HALPGTFSqrt(uint32_t a, uint32_t offset);
// Vertical sync lines of a CVT timing by the aspect ratio of the mode's
// size: 4 (4:3), 5 (16:9), 6 (16:10), 7 (5:4, 15:9), else 10; 0 for height 0.
uint32_t HALPGetCVTVSyncLines(const MODEINFO* mode);

// GTF from a refresh in Hz: 1 when the result is valid, else 0.
uint32_t HALPGetVerticalGTFParams(MODEINFO* mode, uint32_t refresh);

// Entries: clear the status, compute, and report an invalid result.
HALSTATUS HALGetVerticalGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh);
HALSTATUS HALGetHorizontalGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t rateKhz);
HALSTATUS HALGetPixelClockGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t clockKhz);
// reduced: 0 standard blanking, 1 reduced blanking (never reported invalid).
HALSTATUS HALGetVerticalCVTParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh, uint32_t reduced);

// The computations behind the entries, without a board handle; each answers
// whether the result is valid.
namespace orvtiming {
bool VerticalGtf(MODEINFO* mode, uint32_t refresh);
bool HorizontalGtf(MODEINFO* mode, uint32_t rateKhz);
bool PixelClockGtf(MODEINFO* mode, uint32_t clockKhz);
bool Cvt(MODEINFO* mode, uint32_t refresh);
void CvtReduced(MODEINFO* mode, uint32_t refresh);
}  // namespace orvtiming
