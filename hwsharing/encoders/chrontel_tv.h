// The Chrontel encoders' TV modes: the look-ups between mode records and
// the TV mode tables, the per-encoder picture position and scaling level,
// the proc-amp settings, the cable type, the TV clock source and the SDTV
// and DTV set-ups.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/encoders/chrontel_tables.h"

inline constexpr HALSTATUS kErrChrTvAdjust = 0xb2004130;
inline constexpr HALSTATUS kErrChrTvMode = 0xb2005130;
inline constexpr HALSTATUS kErrChrTvStep = 0xb2006130;
inline constexpr HALSTATUS kErrChrTvCable = 0xb2008130;

// flSignalMode: the TV standard in bits 4-7, DTV, adjust groups valid.
inline constexpr uint32_t kSignalStandardShift = 4;
inline constexpr uint32_t kSignalStandardMask = 0xF0;
inline constexpr uint32_t kSignalDtv = 0x40;
inline constexpr uint32_t kSignalTvAdjust = 0x8000;

// Bytes of a per-encoder adjust group.
inline constexpr unsigned kTvAdjustH = 0;
inline constexpr unsigned kTvAdjustV = 1;
inline constexpr unsigned kTvAdjustLevel = 2;
inline constexpr unsigned kTvAdjustCode = 3;
inline constexpr int8_t kTvDefaultLevel = 2;

// Proc-amp mask bits of the Chrontel settings.
inline constexpr uint32_t kChrProcAmpDotCrawl = 0x01;
inline constexpr uint32_t kChrProcAmpFlicker = 0x02;
inline constexpr uint32_t kChrProcAmpBrightness = 0x08;
inline constexpr uint32_t kChrProcAmpContrast = 0x10;
inline constexpr uint32_t kChrProcAmpSharpness = 0x100;
inline constexpr uint32_t kChrProcAmpTextFlicker = 0x200;
inline constexpr uint32_t kChrProcAmpAll = 0x31B;

HALSTATUS HSLCHRGetTVChrRegValues(BOARDHANDLE* h, uint32_t code, CHRTVREGVALUES* row);
HALSTATUS HSLCHRGetTVModeInfo(BOARDHANDLE* h, MODEINFO* mode, uint32_t index);
HALSTATUS HSLCHRGetSDTVModeInfo(BOARDHANDLE* h, MODEINFO* mode, uint32_t standard);
HALSTATUS HSLCHRGetDTVModeInfo(BOARDHANDLE* h, MODEINFO* mode, uint32_t index);
HALSTATUS HSLCHRGetTVModeInfoByVideoCode(BOARDHANDLE* h, MODEINFO* mode, uint32_t code);
HALSTATUS HSLCHRGetTVModeInfoSet(BOARDHANDLE* h, uint32_t encoder, MODEINFO* out,
                                 uint32_t* found);
HALSTATUS HSLCHRGetDefaultTVAdjustParam(BOARDHANDLE* h, MODEINFO* mode, int8_t* adjust);
HALSTATUS HSLCHRValidateTVAdjustParam(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLCHRModifyTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t operation);
HALSTATUS HSLCHRTVSetPosition(BOARDHANDLE* h, uint32_t encoder, uint32_t hpos, uint32_t vpos);
HALSTATUS HSLCHRTVSetPositionAllChr(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLCHRSetTVCableType(BOARDHANDLE* h, uint32_t encoder, uint32_t cable);
HALSTATUS HSLCHRSetTVCableTypeAllChr(BOARDHANDLE* h, uint32_t cable);
HALSTATUS HSLCHRSetBrightness(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder);
HALSTATUS HSLCHRSetContrast(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder);
HALSTATUS HSLCHRSetSharpness(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder);
HALSTATUS HSLCHRSetAntiFlicker(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder);
HALSTATUS HSLCHRSetTextAntiFlicker(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder);
HALSTATUS HSLCHRSetDotCrawl(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t encoder,
                            uint32_t code);
HALSTATUS HSLCHRSetTVProcAmpStruct(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t mask);
HALSTATUS HSLCHRSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* settings, uint32_t mask);
HALSTATUS HSLCHREnableTVClockSource(BOARDHANDLE* h, uint32_t encoder, MODEINFO* mode);
HALSTATUS HSLCHREnableSDTVMode(BOARDHANDLE* h, uint32_t encoder, MODEINFO* mode);
HALSTATUS HSLCHREnableDTVMode(BOARDHANDLE* h, uint32_t encoder, MODEINFO* mode);
// Whether the first encoder's mode code of the record needs the CPLD; false
// when no encoder serves the record.
HALSTATUS HSLCHRUseCPLD(BOARDHANDLE* h, MODEINFO* mode, uint32_t* use);
