// The monitor record of each output as the chip layer gathers it: EDID at
// the addresses the output's kind asks for, TV by the cable, limits from the
// range descriptor or measured from the timings, the cross-checks between
// outputs, fast digital monitors, and monitors that answer only once their
// output carries sync. Also the small questions load sensing asks: whether
// an output exists and whether its module is already in use.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Monitor flags this layer adds.
inline constexpr uint32_t kMonitorTvSignal1 = 0x100;
inline constexpr uint32_t kMonitorTvSignal3 = 0x200;
inline constexpr uint32_t kMonitorFastDigital = 0x20000;
// Flags a TV output gets: present, TV, and the adaptor's TV bit.
inline constexpr uint32_t kMonitorTvFlags = 0x31;
// A detailed timing above this clock (kHz) marks a fast digital monitor.
inline constexpr uint32_t kFastDigitalClockKHz = 164999;

// Gathering of monitors that answer DDC only with sync.
inline constexpr uint32_t kNotRespondingPasses = 20;
inline constexpr uint32_t kNotRespondingWaitUnits = 100000;

// Output lists end with this entry.
inline constexpr int32_t kOutputListEnd = -1;

HALSTATUS HSLKSTGetAllMonitorInfo(BOARDHANDLE* h);  // slot 43
HALSTATUS HSLKSTGetSpecificMonitorInfo(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetNotRespondingMonitorInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTGetMonitorInfo(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetMonitorEDID(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetMonitorInfoTV(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetAdditionalMonitorProperties(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetMonitorLimits(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTDetectMonitorLimits(BOARDHANDLE* h, MONITORINFO* limits, uint32_t output);
// The index-th timing of the query's size in the output's EDID: detailed
// timings first, then standard, then established ones.
HALSTATUS HSLKSTGetDDCParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t index, uint32_t output);
HALSTATUS HSLKSTValidateAllMonitorInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTDetectSpecialMonitor(BOARDHANDLE* h);
HALSTATUS HSLKSTValidateMonitorIndex(BOARDHANDLE* h, uint32_t output, uint32_t* exists);
// The analog bits of the listed outputs (at most four, ended by -1) that no
// controller record drives.
HALSTATUS HSLKSTBuildOutputModeType(BOARDHANDLE* h, const int32_t* outputs, uint32_t* flOutput);
HALSTATUS HSLKSTSetOutputAnalogModeType(BOARDHANDLE* h, uint32_t output, uint32_t* flOutput);
// Whether the DVO or DAC that a word needs is switched on already.
HALSTATUS HSLKSTIsOutputInUse(BOARDHANDLE* h, uint32_t flOutput, uint32_t* inUse);
