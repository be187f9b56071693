#include "tests/maindraw/board_info.h"

#include "hwsharing/boardhandle.h"
#include "hwsharing/pins.h"
#include "tests/standins/standin_log.h"

namespace maindraw {

namespace {

uint32_t g_outputs = 2;

void FillBoardInfo(void* subject) {
  auto* h = static_cast<BOARDHANDLE*>(subject);
  static constexpr uint32_t kOutputBits[4] = {0x1, 0x2, 0x100, 0x200};
  for (uint32_t i = 0; i < g_outputs && i < 4; ++i) h->ulOutputCaps |= kOutputBits[i];
  for (uint32_t type = 0; type < 2; ++type) {
    h->oBoardInfo.aOutputLimit[type].ulMaxClock = 230000;   // kHz
    h->oBoardInfo.aOutputLimit[type].ulSecondLimit = 165000;
  }
  // The default misc-IO lines route the DDC ports, as the simulated chip's
  // default wiring has them.
  for (uint32_t i = 0; i < 4; ++i) h->oPins.aucData[kPinsMiscIoMap + i] = 0;
}

}  // namespace

void FillBoardInfoForTestModule(uint32_t outputs) {
  g_outputs = outputs;
  orvstandin::Reset();
  orvstandin::SetAction("HSLKSTGetAddOnInfo", FillBoardInfo);
}

}  // namespace maindraw
