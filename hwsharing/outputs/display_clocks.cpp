// Graphics clock, controller clock selects and the test clock.
#include "hwsharing/outputs/display_clocks.h"

#include "core/chip_ids.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

using GclkSelect = RegField<8, 4>;
using TestClockSourceField = RegField<20, 5>;
constexpr uint32_t kTestClockOn = 1u << 29;
constexpr uint8_t kGclkRequestType = 18;

}  // namespace

uint32_t TestClockSource(uint32_t position) {
  static constexpr uint32_t kSources[4] = {1, 4, 7, 10};
  return position < 4 ? kSources[position] : 0;
}

HALSTATUS HSLKSTTranslateGclkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* used, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *used = code >= 1 && code <= 8 ? 1 : 0;
  if (*used) *fs = (code - 1) / 2;
  return h->status;
}

HALSTATUS HSLKSTTranslateDcmClkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* used, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *used = code >= 1 && code <= 4 ? 1 : 0;
  if (*used) *fs = code - 1;
  return h->status;
}

HALSTATUS HSLKSTGetGclk(BOARDHANDLE* h, MODEINFO*, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *fs = kNoFs;
  uint32_t used = 0;
  return HSLKSTTranslateGclkSelIntoFS(h, GclkSelect::Get(RegRead(h, kRegClockSelect0)), &used, fs);
}

HALSTATUS HSLKSTIsGClkRecyclable(BOARDHANDLE* h, MODEINFO* mode, uint32_t* recyclable,
                                 uint32_t* select) {
  if (HalFailed(h->status)) return h->status;
  *recyclable = 0;
  uint32_t gclkFs = kNoFs, used = 0;
  HSLKSTTranslateGclkSelIntoFS(h, GclkSelect::Get(RegRead(h, kRegClockSelect0)), &used, &gclkFs);
  if (gclkFs == kNoFs) return h->status;
  return RecycleThroughController(h, mode, gclkFs, recyclable, select);
}

HALSTATUS RecycleThroughController(BOARDHANDLE* h, const MODEINFO* mode, uint32_t gclkFs,
                                   uint32_t* recyclable, uint32_t* select) {
  for (uint32_t c = 0; c < 2; ++c) {
    const MODEINFO& r = h->aModeInfo[c];
    if (RecordOff(r) || r.ulPixClock != mode->ulPixClock) continue;
    const uint32_t code = ModuleClockSelect::Get(RegRead(h, c == 0 ? kRegModuleClock0 : kRegModuleClock1));
    uint32_t used = 0, fs = kNoFs;
    HSLKSTTranslateDcmClkSelIntoFS(h, code, &used, &fs);
    if (used && fs == gclkFs) {
      *recyclable = 1;
      *select = code;
      return h->status;
    }
  }
  return h->status;
}

HALSTATUS HSLKSTSetGclk(BOARDHANDLE* h, MODEINFO* mode, uint32_t fs) {
  if (HalFailed(h->status)) return h->status;
  GCLKREQUEST request{};
  request.ulFrequency = mode->ulPixClock / 2;
  request.ucType = kGclkRequestType;
  request.ucFs = static_cast<uint8_t>(fs);
  if (HasLaterGenerationClocks(h->usDeviceId)) return HSLB90ChangeGclkSpeed(h, &request);
  return HSLKSTChangeGclkSpeed(h, &request);
}

HALSTATUS HSLKSTEnableTstClk(BOARDHANDLE* h, uint32_t position) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t v = RegRead(h, kRegClockSelect0) | kTestClockOn;
  RegWrite(h, kRegClockSelect0, TestClockSourceField::Set(v, TestClockSource(position)));
  return h->status;
}

HALSTATUS HSLKSTDisableTstClk(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  RegModify(h, kRegClockSelect0, kTestClockOn, 0);
  return h->status;
}

HALSTATUS HSLCHRTranslClkSourceToChrID(BOARDHANDLE* h, uint32_t source, uint32_t* encoder) {
  if (HalFailed(h->status)) return h->status;
  *encoder = source >= 6 && source <= 8 ? source - 5 : 0;
  return h->status;
}
