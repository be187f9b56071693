#include "core/hw_device.h"

#include "core/hw_register_access.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/regs/display.h"

namespace {

// Waits until the controller's line counter has passed line 1 and come back
// to line 0: the end of one frame.
void WaitFrameEnd(CommonData* common, uint32_t controller) {
  const uint32_t counter = ControllerReg(kRegLineCounter, controller);
  HwPollRegister(common, counter, kLineCounterMask, 1);
  HwPollRegister(common, counter, kLineCounterMask, 0);
}

}  // namespace

void HwDevice::EnablePrimarySurface(CommonData* common, bool enable, uint32_t controller) {
  const uint32_t reg = ControllerReg(kRegControllerCtl, controller);
  HwWriteRegister(common, reg, WithBit(HwReadRegister(common, reg), kControllerEnable, enable));
  // Let the controller finish the frame that still shows the surface.
  if (!enable) WaitFrameEnd(common, controller);
}

void HwDevice::ShowPrimary(CommonData* common, uint32_t controller) {
  EnablePrimarySurface(common, true, controller);
  for (int cycle = 0; cycle < 2; ++cycle) WaitFrameEnd(common, controller);
  EnablePrimarySurface(common, false, controller);
}

bool HwDevice::IsInterlacedMode(CommonData* common, uint32_t controller) {
  return (HwReadRegister(common, ControllerReg(kRegDisplayMode, controller)) &
          kDisplayInterlaced) != 0;
}

uint32_t HwDevice::GetDwordFromBuffer(CommonData* common, uint32_t index) {
  return common->emulDma.shadow[index & (kDmaIndexCount - 1)];
}

