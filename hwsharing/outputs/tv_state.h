// The TV slots of the device jump table: TV standard, cable type and the
// procamp values, kept in the board handle's TV state.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrTvStandardRefused = 0xB1E04130;
inline constexpr HALSTATUS kErrTvCableRefused = 0xB1E05131;
// Device id of the encoders of the four-output TV boards.
inline constexpr uint32_t kEncoderIdQuadTv = 133;

HALSTATUS HSLKSTGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t standard,
                             uint32_t level);                                      // slot 10
HALSTATUS HSLKSTSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask);  // slot 11
HALSTATUS HSLKSTSetTVStandard(BOARDHANDLE* h, uint32_t standard);                // slot 12
HALSTATUS HSLKSTSetTVCableType(BOARDHANDLE* h, uint32_t cable);                  // slot 13

// All four encoder records carry the quad TV boards' device id.
bool AllEncodersQuadTv(const BOARDHANDLE* h);
