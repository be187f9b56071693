// The board information decoded from a version-6 board description, and
// the expansion-module record with its control methods.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

struct CEMSTRUCTURE;

inline constexpr char kNoSerialNumber[] = "*** NO SERIAL NUMBER ***";
inline constexpr uint32_t kOutputKindDigitalPair = 0x8002;  // outputs 0 and 1
inline constexpr uint32_t kOutputKindOther = 0x8003;        // outputs 2 and 3
inline constexpr uint32_t kBoardInfoLevel = 13;

// Board flags and features this decoding sets or reads.
inline constexpr uint32_t kBoardFlagPinsOption = 1u << 27;  // memory configuration bit 2
inline constexpr uint32_t kBoardFlagsBandwidthNarrow = 0x80;  // bits 5-7 = 0b100
inline constexpr uint32_t kBoardFlagsBandwidthWide = 0xE0;    // bits 5-7 = 0b111
inline constexpr uint32_t kFeatureNarrowBandwidth = 1u << 0;

// Expansion-module FPGAs: register read to find one, where to look.
inline constexpr uint32_t kCemFpgaProbeRegister = 12;
inline constexpr uint8_t kCemFpgaMinControlByte = 5;  // below: the board's default byte
inline constexpr uint32_t kCemMaxFpgas = 2;
inline constexpr uint32_t kCemCpldPort = 1;
inline constexpr uint32_t kCemCpldAddress = 0xE6;

HALSTATUS HSLPIN60GetBoardInfo(BOARDHANDLE* h);
HALSTATUS HSLPIN60InitCEMStructure(BOARDHANDLE* h, CEMSTRUCTURE* cem);
HALSTATUS HSLPIN60InitCEMCntlMtd3ChrGpio(BOARDHANDLE* h, CEMSTRUCTURE* cem);
HALSTATUS HSLPIN60InitCEMCntlMtd_1Cpld2LinesI2c(BOARDHANDLE* h, CEMSTRUCTURE* cem);
HALSTATUS HSLPIN60InitCEMCntlMtd_Fpga(BOARDHANDLE* h, CEMSTRUCTURE* cem);
HALSTATUS HSLPIN60InitCEMProgMtd(BOARDHANDLE* h, CEMSTRUCTURE* cem);
