#include "core/hw_device.h"

#include "core/hw_register_access.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/regs/display.h"

namespace {

// Waits until the controller's line counter has passed line 1 and come back
// to line 0: the end of one frame.
bool WaitFrameEnd(CommonData* common, uint32_t controller) {
  const uint32_t counter = ControllerReg(kRegLineCounter, controller);
  return HwPollRegister(common, counter, kLineCounterMask, 1, "line counter at line 1",
                        kFrameWaitMicroseconds, WaitPace::kSpin) &&
         HwPollRegister(common, counter, kLineCounterMask, 0, "line counter at line 0",
                        kFrameWaitMicroseconds, WaitPace::kSpin);
}

}  // namespace

bool HwDevice::EnablePrimarySurface(CommonData* common, bool enable, uint32_t controller) {
  const uint32_t reg = ControllerReg(kRegControllerCtl, controller);
  HwWriteRegister(common, reg, WithBit(HwReadRegister(common, reg), kControllerEnable, enable));
  // Let the controller finish the frame that still shows the surface.
  return enable || WaitFrameEnd(common, controller);
}

bool HwDevice::ShowPrimary(CommonData* common, uint32_t controller) {
  if (!EnablePrimarySurface(common, true, controller)) return false;
  for (int cycle = 0; cycle < 2; ++cycle)
    if (!WaitFrameEnd(common, controller)) return false;
  return EnablePrimarySurface(common, false, controller);
}

bool HwDevice::IsInterlacedMode(CommonData* common, uint32_t controller) {
  return (HwReadRegister(common, ControllerReg(kRegDisplayMode, controller)) &
          kDisplayInterlaced) != 0;
}

uint32_t HwDevice::GetDwordFromBuffer(CommonData* common, uint32_t index) {
  return common->emulDma.shadow[index & (kDmaIndexCount - 1)];
}

