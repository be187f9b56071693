// Connectors and cables: which cable or adaptor sits on each of the four
// connectors (an LFH-60 breakout with TV, a TL40 cable whose wiring the
// Chrontel encoders' GPIO lines read back, an HD15-to-TV adaptor), what each
// connector can drive with it, and the completion of the cable table once
// the monitors are known.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kCableConnectors = 4;

// Cable types.
inline constexpr uint8_t kCableNone = 0;
inline constexpr uint8_t kCableDefault = 3;
inline constexpr uint8_t kCableTvSignal1 = 7;
inline constexpr uint8_t kCableTvSignal3 = 8;
inline constexpr uint8_t kCableTvUnknown = 9;

// Capability bits of a connector.
inline constexpr uint32_t kCableCapAnalog = 1;
inline constexpr uint32_t kCableCapDigital = 2;
inline constexpr uint32_t kCableCapTv = 4;
inline constexpr uint32_t kCableCapFourth = 8;

// Detection request bits of a connector.
inline constexpr uint32_t kDetectAdaptor1 = 1;   // HD15-to-TV adaptor on connector 1
inline constexpr uint32_t kDetectAdaptor3 = 2;   // HD15-to-TV adaptor on connector 3
inline constexpr uint32_t kDetectTl40 = 4;
inline constexpr uint32_t kDetectLfh60 = 8;

// The TL40 cable codes read through the encoders' GPIO functions 10-13.
inline constexpr uint32_t kTl40FirstGpioFunction = 10;
inline constexpr uint32_t kTl40CodeBits = 4;

HALSTATUS HSLKSTGetAllCableInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTGetCableInfo(BOARDHANDLE* h, uint32_t connector);
HALSTATUS HSLKSTGetCablesToDetect(BOARDHANDLE* h, uint32_t connector, uint32_t* mask);
HALSTATUS HSLKSTGetCable(BOARDHANDLE* h, uint32_t connector);
HALSTATUS HSLKSTDetectLFH60TVCable(BOARDHANDLE* h, uint32_t connector, uint32_t* type, uint32_t* found);
HALSTATUS HSLKSTDetectTL40Cable(BOARDHANDLE* h, uint32_t connector, uint32_t* type, uint32_t* found);
HALSTATUS HSLKSTGetCableOutputCaps(BOARDHANDLE* h, uint32_t connector);
HALSTATUS HSLKSTUpdateCableInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTCompleteTVCableDetection(BOARDHANDLE* h);
HALSTATUS HSLKSTCompleteY_CableDetectionTop(BOARDHANDLE* h);
HALSTATUS HSLKSTCompleteY_CableDetectionBottom(BOARDHANDLE* h);
HALSTATUS HSLKSTCompleteComboCableDetection(BOARDHANDLE* h);
HALSTATUS HSLKSTCompleteQuadDualCableDetection(BOARDHANDLE* h);

// The cable type a TL40 code gives on a connector, and whether the code is
// one the cable can carry.
uint8_t Tl40CableType(uint32_t code, uint32_t connector, bool* found);
// Whether the board's connectors are the quad-dual layout: codes 6, 7, 0, 0,
// description bits 0 and 3 on connectors 0 and 1, nothing on 2 and 3.
bool IsQuadDualLayout(const BOARDHANDLE* h);
