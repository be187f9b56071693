// The monitor record of each output (MONITORINFO): properties, mode list,
// resolution, rate and clock limits and aspect ratios derived from the
// stored EDID, and the queries for the n-th EDID timing of a size.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kMonitorOutputs = 4;

inline constexpr HALSTATUS kErrDdcNoEdid = 0xA01020A0;
inline constexpr HALSTATUS kErrDdcTimingIndex = 0xA0102040;
inline constexpr HALSTATUS kErrDdcNoTiming = 0xA0102070;
inline constexpr HALSTATUS kErrEdid2NoEstablished = 0x80109070;
inline constexpr HALSTATUS kErrEdidVersionEstablishedCount = 0x801060A1;
inline constexpr HALSTATUS kErrEdidVersionStandardCount = 0x801070A1;
inline constexpr HALSTATUS kErrEdidVersionDetailedCount = 0x801080A1;
inline constexpr HALSTATUS kErrEdidVersionEstablished = 0x801090A1;
inline constexpr HALSTATUS kErrEdidVersionDetailed = 0x8010A0A1;
inline constexpr HALSTATUS kErrEdidVersionStandard = 0x8010B0A1;

// Capability bits of the board's outputs that the monitor code tests.
inline constexpr uint32_t kCapsFirstAnalog = 0x1;
inline constexpr uint32_t kCapsSecondHd15 = 0x2;
inline constexpr uint32_t kCapsTvOutput = 0x8;
inline constexpr uint32_t kCapsDigitalOutputs = 0x200004;
inline constexpr uint32_t kCapsDigitalPanels = 0x100 | 0x200;
inline constexpr uint32_t kCapsSecondDigital = 0x200000;

// Board flags that the monitor code reads or toggles.
inline constexpr uint32_t kBoardFlagSamePreferredSize = 0x100;
inline constexpr uint32_t kBoardFlagSecondMonitorWithFirst = 0x1000;
inline constexpr uint32_t kBoardFlagSeparatePreferredSizes = 0x80000;

// flOutput bit of a query that names output 1 (else output 0).
inline constexpr uint32_t kQueryOutput1 = 0x400000;
inline constexpr uint32_t kQueryOutput0 = 0x200000;

// Gathers one output: detects its monitor, reads its EDID and derives the
// rest. Outputs 0 and 1 are detected through the chip's monitor-EDID and
// TV-detect slots; outputs 2 and 3 by an EDID read on their own DDC port.
HALSTATUS HALGetMonitorInfo(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetMonitorInfo(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetPrimaryMonitorInfo(BOARDHANDLE* h);
HALSTATUS HALPGetSecondMonitorInfo(BOARDHANDLE* h);
// Exchanges the records of outputs 0 and 1 and toggles the swapped flag.
HALSTATUS HALPSwapMonitorInfo(BOARDHANDLE* h);
// Clears the board's TV-detected byte; reports no TV.
HALSTATUS HALPDetectNoTV(BOARDHANDLE* h, uint32_t* detected);

// Internal steps of gathering one output (the status is not cleared; each
// returns at once on an error).
HALSTATUS HALPGetMonitorProperties(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetEdidModes(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetMonitorMinimalResolution(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetMonitorMaximalResolution(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetMonitorLimits(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetMonitorAspectRatio(BOARDHANDLE* h, uint32_t output);

// Counts and fetches of the timings of the output's EDID that have the
// query's size (EDID 2.0 converted first; it has no established timings).
// Standard timings without a VESA row are left out (no GTF).
HALSTATUS HALPGetDDCEstablishedTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count);
HALSTATUS HALPGetDDCStandardTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count);
HALSTATUS HALPGetDDCDetailedTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count);
HALSTATUS HALPGetDDCEstablishedTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n);
HALSTATUS HALPGetDDCStandardTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n);
HALSTATUS HALPGetDDCDetailedTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n);

// Entries (clear the status first).
HALSTATUS HALGetDDCEstablishedParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n);
HALSTATUS HALGetDDCStandardParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n,
                                      uint32_t gtfAllowed);
HALSTATUS HALGetDDCDetailedParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n);
// Over established, standard (no GTF) and detailed timings of output 1 when
// the query's flOutput has kQueryOutput1, else of output 0.
HALSTATUS HALGetDDCParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t n);
