// The CVE2 TV encoder's register set, reached on a Velan chip over I2C, on
// the encoder integrated in the graphics chip, or through the DAC's indexed
// port: register access, value formats, the full load, enable, blanking and
// the proc-amp controls. The HSLCVE2 operations.
#pragma once

#include <cstdint>

#include "core/regs/cve2.h"
#include "hwsharing/chip/haltypes.h"
#include "hwsharing/encoders/tv_tables.h"

inline constexpr HALSTATUS kErrCve2DacMismatch = 0xb1b01220;

// Value formats (the kind argument).
inline constexpr uint32_t kCve2Kind8 = 8;
inline constexpr uint32_t kCve2Kind10 = 10;
inline constexpr uint32_t kCve2Kind11 = 11;
inline constexpr uint32_t kCve2Kind15 = 15;
inline constexpr uint32_t kCve2Kind16 = 16;
inline constexpr uint32_t kCve2Kind32 = 32;
// Bytes a kind takes; 0 for a kind that writes nothing.
uint32_t Cve2KindBytes(uint32_t kind);

// The DAC's indexed port to the encoder's register file.
inline constexpr uint32_t kDacIndexCve2Index = 0x87;
inline constexpr uint32_t kDacIndexCve2Data = 0x88;
// Add-on flag: reach the encoder through the DAC's port.
inline constexpr uint32_t kAddOnCve2ThroughDac = 0x00100000;

// Dot-crawl freeze subcarriers of the 60 Hz standard.
inline constexpr uint32_t kCve2SubcarrierFrozen = 0x21F072CC;
inline constexpr uint32_t kCve2SubcarrierNtsc = 0x21F07C1F;

HALSTATUS HSLCVE2ReadRegister(BOARDHANDLE* h, uint32_t first, uint8_t* bytes, uint32_t count);
HALSTATUS HSLCVE2WriteRegister(BOARDHANDLE* h, uint32_t first, uint8_t* bytes, uint32_t count);
HALSTATUS HSLCVE2ConvertMUINT32ToRegisterFormat(BOARDHANDLE* h, uint32_t value, uint32_t kind,
                                                uint8_t* bytes);
HALSTATUS HSLCVE2ConvertRegisterFormatToMUINT32(BOARDHANDLE* h, uint8_t* bytes, uint32_t kind,
                                                uint32_t* value);
HALSTATUS HSLCVE2EnableEncoder(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLCVE2SetEncoderRegister(BOARDHANDLE* h, CVE2PARAMS* params);
HALSTATUS HSLCVE2InitTVEncoder(BOARDHANDLE* h);
HALSTATUS HSLCVE2Blank(BOARDHANDLE* h);
HALSTATUS HSLCVE2SetHue(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2SetSaturation(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2SetOutputBW(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2SetDotCrawlFreeze(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2SetBrightness(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2SetContrast(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLCVE2AdjustLevel(BOARDHANDLE* h, uint32_t* level, uint32_t trim, uint32_t minimum,
                             uint32_t maximum);
