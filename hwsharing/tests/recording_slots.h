// Recording replacements of the mode and power slots of a board's dispatch
// table, for tests of what calls them (library entries, adjustments, load
// sensing, the X driver's front end): each logs its call in the stand-in log
// under the chip layer's own name, runs the action and merges the status a
// test chose there (orvstandin::SetAction, SetResult), and programs nothing.
#pragma once

#include <cstdint>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "tests/standins/standin_log.h"

namespace hwtest {

inline HALSTATUS RecordSlotCall(BOARDHANDLE* h, const char* name) {
  uint32_t chosen = 0;
  const bool has = orvstandin::Called(name, &chosen, h);
  if (HalFailed(h->status)) return h->status;
  return has ? SetError(h, chosen) : h->status;
}

inline HALSTATUS RecordSetPowerState(BOARDHANDLE* h, uint32_t) {
  return RecordSlotCall(h, "HSLKSTSetPowerState");
}
inline HALSTATUS RecordValidateMode(BOARDHANDLE* h, MODEINFO*) {
  return RecordSlotCall(h, "HSLKSTValidateMode");
}
inline HALSTATUS RecordValidateVideoParameters(BOARDHANDLE* h, MODEINFO*) {
  return RecordSlotCall(h, "HSLKSTValidateVideoParameters");
}
inline HALSTATUS RecordSetMode(BOARDHANDLE* h, MODEINFO*) { return RecordSlotCall(h, "HSLKSTSetMode"); }
inline HALSTATUS RecordValidateDualCRTCConfig(BOARDHANDLE* h, MODEINFO*) {
  return RecordSlotCall(h, "HSLKSTValidateDualCRTCConfig");
}
inline HALSTATUS RecordGetModeBandwidth(BOARDHANDLE* h, MODEINFO*, uint32_t*) {
  return RecordSlotCall(h, "HSLKSTGetModeBandwidth");
}
inline HALSTATUS RecordClearDisplay(BOARDHANDLE* h, MODEINFO*) {
  return RecordSlotCall(h, "HSLKSTClearDisplay");
}

// Slots 0, 1, 2, 4, 38, 39 and 40 record instead of programming.
inline void RecordModeSlots(BOARDHANDLE* h) {
  DEVICEJUMPTABLE& t = h->oJumpTable;
  t.SetPowerState = RecordSetPowerState;
  t.ValidateMode = RecordValidateMode;
  t.ValidateVideoParameters = RecordValidateVideoParameters;
  t.SetMode = RecordSetMode;
  t.ValidateDualCRTCConfig = RecordValidateDualCRTCConfig;
  t.GetModeBandwidth = RecordGetModeBandwidth;
  t.ClearDisplay = RecordClearDisplay;
}

}  // namespace hwtest
