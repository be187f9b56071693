// Load sensing on the analog outputs, TV detection and the analog and
// flat-panel EDID reads of outputs 0 and 1. The chip's DAC senses a load by
// driving a fixed colour and reading its channel comparators; an output on
// a Chrontel encoder asks the encoder instead. The results mark the monitor
// records present.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// What HSLKSTSenseLoad reports: one bit per DAC channel that drives a load.
inline constexpr uint32_t kSenseLoadChannel0 = 0x8000;
inline constexpr uint32_t kSenseLoadChannel1 = 0x4000;
inline constexpr uint32_t kSenseLoadChannel2 = 0x2000;

// Load-sense sources: the chip's DACs 0 and 1, Chrontel encoders 0-3.
inline constexpr uint32_t kSenseSourceDac0 = 0;
inline constexpr uint32_t kSenseSourceDac1 = 1;
inline constexpr uint32_t kSenseSourceEncoder0 = 2;
inline constexpr uint32_t kSenseSourceNone = 255;

// Selectors of slot 28 (GetMonitorEDID_OLD).
inline constexpr uint32_t kMonitorEdidAnalog0 = 0;
inline constexpr uint32_t kMonitorEdidAnalog1 = 1;
inline constexpr uint32_t kMonitorEdidPanel1 = 2;
inline constexpr uint32_t kMonitorEdidPanel0 = 4;
inline constexpr HALSTATUS kErrMonitorEdidKind = 0x80000130;

HALSTATUS HSLKSTSenseLoadOnInternalDAC(BOARDHANDLE* h, uint32_t dac, uint32_t* result);
HALSTATUS HSLKSTSenseLoad(BOARDHANDLE* h, uint32_t source, uint32_t* result);
// Every output without an EDID is sensed; the results go into its flags.
HALSTATUS HSLKSTSenseAllLoads(BOARDHANDLE* h);
HALSTATUS HSLKSTDetectTV(BOARDHANDLE* h, uint32_t* detected);  // slot 14
HALSTATUS HSLKSTGetAnalogMonitorEDID(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetFlatPanelMonitorEDID(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTGetMonitorEDID_OLD(BOARDHANDLE* h, uint32_t kind);  // slot 28
// The source that senses output 0..3 on this board (kSenseSourceNone when
// none does); reads the handle only.
uint32_t HSLKSTGetLoadSenseSource(const BOARDHANDLE* h, uint32_t output);
