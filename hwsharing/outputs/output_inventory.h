// The output inventory: for each of the board's four outputs, whether it can
// be used now, what is attached, and which controller, DAC, DVO, expansion
// FPGA, Chrontel encoder and transmitters carry it (the hardware output
// table of the handle, rebuilt from the cables and monitors each time); and
// the answer of the get-output-info slot, which lists the requested outputs
// that exist and the groups of outputs that must move together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kHwOutputs = 4;

// Detected types of a table entry.
inline constexpr uint32_t kHwTypeNone = 0;
inline constexpr uint32_t kHwTypeDigital = 1;
inline constexpr uint32_t kHwTypeAnalog = 2;
inline constexpr uint32_t kHwTypeTv = 3;
inline constexpr uint32_t kHwTypeFourth = 4;

// Capability bits of a table entry.
inline constexpr uint32_t kHwCapDigital = 1;
inline constexpr uint32_t kHwCapAnalog = 2;
inline constexpr uint32_t kHwCapTv = 4;
inline constexpr uint32_t kHwCapFourth = 8;

inline constexpr int32_t kHwIndexNone = -1;

// Some requested output could not be listed.
inline constexpr HALSTATUS kWarnOutputsMissing = 0x40000000;

// The output bits (analog, digital, TV, fourth kind) of each output.
inline constexpr uint32_t kOutputModeType[kHwOutputs] = {
    0x21001010,  // output 0
    0x4C002000,  // output 1
    0x80004022,  // output 2
    0x00008144,  // output 3
};

// The answer of slot 48 (GetOutputInfo): 24 words.
struct OUTPUTGROUPS {
  uint32_t ulCount;
  uint32_t aulMask[kHwOutputs];
};
struct OUTPUTINFO {
  uint32_t ulCount;
  int32_t alOutput[kHwOutputs];     // listed outputs in increasing order, -1 after
  uint32_t aulCaps[kHwOutputs];     // each listed output's capability bits
  OUTPUTGROUPS oDisplayStartX;      // output masks that pan together horizontally
  OUTPUTGROUPS oDisplayStartY;      // ... vertically
  OUTPUTGROUPS oVideoParameters;    // output masks whose timings change together
};
static_assert(sizeof(OUTPUTINFO) == 24 * sizeof(uint32_t));
static_assert(offsetof(OUTPUTINFO, oDisplayStartX) == 9 * sizeof(uint32_t));

HALSTATUS HSLKSTGetOutputInfo(BOARDHANDLE* h, OUTPUTINFO* info, uint32_t requestMask);  // slot 48
HALSTATUS HSLKSTGetDefaultAllHwOutputInfo(BOARDHANDLE* h);
// Entry k of the table serves output k, except on boards of type 3, where the
// outputs take the entries in reverse.
HALSTATUS HSLKSTGetHwOutputIndices(BOARDHANDLE* h, uint32_t* indices);
HALSTATUS HSLKSTGetDetectedOutputType(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetHwOutputCapsCableBased(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTDetectUsableHWBased(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetDACIndex(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetDVOIndex(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetFPGAIndex(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetChrontelIndex(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetSIIndex(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLKSTGetControllerIndex(BOARDHANDLE* h);
HALSTATUS HSLKSTGetUsableOutputsNumber(BOARDHANDLE* h, uint32_t* count);
HALSTATUS HSLKSTUpdateUsableHwBased(BOARDHANDLE* h);
HALSTATUS HSLKSTUpdateUsableModeBased(BOARDHANDLE* h);
HALSTATUS HSLKSTGetDefaultModeType(BOARDHANDLE* h, uint32_t index, uint32_t* flOutput);
