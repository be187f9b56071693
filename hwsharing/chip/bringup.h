// Chip bring-up and the switch between the VGA and the high-resolution
// regimes; waits on a controller's vertical position; the small helpers of
// the mode-setting code that name a record's controller.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrPitchNotAligned = 0xb1d0a141;
inline constexpr uint32_t kPitchAlign = 32;

// Vertical reference of HSLKSTWaitForVertical.
inline constexpr uint32_t kVerticalTotal = 0;
inline constexpr uint32_t kVerticalBlankStart = 1;
inline constexpr uint32_t kVerticalLineZero = 2;
inline constexpr uint32_t kVerticalSyncStart = 3;
// Bounds of one wait for a line: a counter that shows its first line this
// many times in a row is not moving; no wait reads more than kLineReadsMax.
inline constexpr uint32_t kLineFrozenReads = 1000;
inline constexpr uint32_t kLineReadsMax = 100000;
inline constexpr uint32_t kRetraceReadsMax = 1000000;
// HSLKSTWaitForVertical's answer when a wait ended without its line: a
// warning, which the handle's status does not keep.
inline constexpr HALSTATUS kWarnLineNotShown = 0x71d0a142;

HALSTATUS HSLKSTSwitchToVGA(BOARDHANDLE* h);  // slot 3
HALSTATUS HSLKSTSwitchToHIRES(BOARDHANDLE* h);
HALSTATUS HSLKSTInitializeHardware(BOARDHANDLE* h);  // slot 34, first generation
HALSTATUS HSLB90InitializeHardware(BOARDHANDLE* h);  // slot 34, later generation
HALSTATUS HSLKSTValidatePhysAddr(BOARDHANDLE* h);   // slot 35
HALSTATUS HSLKSTWaitForVertical(BOARDHANDLE* h, uint32_t controller, uint32_t type,
                                uint32_t offset);
HALSTATUS HSLKSTVGAWaitForVerticalRetrace(BOARDHANDLE* h);
HALSTATUS HSLKSTComputePitch(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTWaitEngineNotBusy(BOARDHANDLE* h);
HALSTATUS HSLKSTComputeDSTORG(BOARDHANDLE* h);
HALSTATUS HSLKSTSetCRTC(BOARDHANDLE* h);

// The flOutput word of a temporary record for every output the board's
// output-enable word offers, the controller off.
uint32_t AllOutputsOffWord(uint32_t outputEnable);

// Controller 0..3 of a record, its module, its partner, and a module's bit.
inline uint32_t SelectDC(const MODEINFO* mode) {
  return ((mode->flOutput & kOutModule1) ? 1u : 0u) + ((mode->flOutput & kOutSecondController) ? 2u : 0u);
}
inline uint32_t SelectDCModule(const MODEINFO* mode) {
  return (mode->flOutput & kOutModule1) ? 1u : 0u;
}
inline uint32_t GetLinkedDC(const MODEINFO* mode) { return SelectDC(mode) ^ 2u; }
inline uint32_t SelectDCMModeType(uint32_t module) { return module == 1 ? kOutModule1 : 0u; }
