#include "xdriver/dps_hw.h"

#include <string.h>

#include "core/bm_transform.h"
#include "core/dbg_output.h"
#include "core/engine_wait.h"
#include "core/float_bits.h"
#include "core/hw_manager.h"
#include "core/hw_register_access.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "core/regs/engine3d.h"
#include "xdriver/feature_mgr.h"

namespace {

constexpr uint32_t kPairsPerPacket = 4;
constexpr uint32_t kPacketWords = 1 + kPairsPerPacket;


}  // namespace

BmXformInt* DpsInterfaceOf(const HwManager* hw) {
  if (hw == nullptr || hw->feature == nullptr) return nullptr;
  return hw->feature->xformInterfaces[kFeatureDpsInterface];
}

// ---- CDPSHwManager ------------------------------------------------------------------------

void CDPSHwManager::Add(uint32_t reg, uint32_t value) {
  if (count >= kMaxPairs) {
    overflowed = true;
    return;
  }
  pairs[count++] = {reg, value};
}

void CDPSHwManager::AddFloat(uint32_t reg, float value) { Add(reg, FloatBits(value)); }

void CDPSHwManager::PadBuffer() {
  while (count % kPairsPerPacket != 0 && !overflowed) Add(k3dRegPad, 0);
}

bool CDPSHwManager::WriteBuffer(HwManager* hw) {
  PadBuffer();
  BmXformInt* xform = DpsInterfaceOf(hw);
  const bool ok = xform != nullptr && !overflowed;
  for (uint32_t i = 0; ok && i < count; i += kPairsPerPacket) {
    uint32_t* at = xform->Reserve(kPacketWords);
    if (at == nullptr) break;
    at[0] = PacketHeader(IndexOfReg(pairs[i].reg), IndexOfReg(pairs[i + 1].reg),
                         IndexOfReg(pairs[i + 2].reg), IndexOfReg(pairs[i + 3].reg));
    for (uint32_t k = 0; k < kPairsPerPacket; ++k) at[1 + k] = pairs[i + k].value;
  }
  Reset();
  return ok;
}

bool CDPSHwManager::PostBuffer(HwManager* hw) {
  if (!WriteBuffer(hw)) return false;
  return DpsInterfaceOf(hw)->Start();
}

void CDPSHwManager::SetDwgCtl(HwManager*, uint32_t value) { shared->last1300Value = value; }

bool CDPSHwManager::WaitBusMastering(HwManager* hw) {
  if (hw == nullptr || hw->common == nullptr) return false;
  return WaitEngineDrained(hw->common, HwReadRegister);
}

// ---- DisplayIndexController ---------------------------------------------------------------

bool DisplayIndexController::WaitForVsync(PDEV* pdev, EDPSController c) {
  CommonData* common = pdev->common;
  if (c >= 2) {
    const uint32_t reg = ControllerReg(kRegFlipControlHigh, c);
    const uint32_t field = HwReadRegister(common, reg) & kFlipFieldToggleHigh;
    return !PollUntil([&] { return (HwReadRegister(common, reg) & kFlipFieldToggleHigh) != field; },
                      kDpsVSyncPolls);
  }
  const uint32_t reference = HwReadRegister(common, ControllerReg(kRegVSync, c)) & kLineCounterMask;
  auto line = [&] { return HwReadRegister(common, ControllerReg(kRegLineCounter, c)) & kLineCounterMask; };
  // Out of the lines at and below the sync start, then back into them.
  (void)PollUntil([&] { return line() <= reference; }, kDpsVSyncPolls);  // either way the next loop runs
  return !PollUntil([&] { return line() > reference; }, kDpsVSyncPolls);
}

uint32_t DisplayIndexController::ChangeDisplayedBuffer(PDEV* pdev, EDPSController c,
                                                       const DisplayBufferInfo* info) {
  CommonData* common = pdev->common;
  const bool high = c >= 2;
  const uint32_t control = ControllerReg(high ? kRegFlipControlHigh : kRegControllerCtl, c);
  const uint32_t address = ControllerReg(high ? kRegFlipAddressHigh : kRegFlipAddressLow, c);
  const uint32_t address2 = ControllerReg(high ? kRegFlipAddress2High : kRegFlipAddress2Low, c);
  const uint32_t format = ControllerReg(high ? kRegFlipFormatHigh : kRegFlipFormatLow, c);

  uint32_t value = HwReadRegister(common, control);
  if (high) {
    value = WithBit(value & ~kFlipSlotBitsHigh, kFlipSecondFieldHigh, info->secondField != 0);
  } else {
    value &= ~kFlipSlotBitsLow;
  }
  HwWriteRegister(common, control, value & ~kControllerEnable);
  (void)WaitForVsync(pdev, c);  // a missed sync only costs a torn frame
  HwWriteRegister(common, format, info->format);
  HwWriteRegister(common, address, info->address);
  if (info->secondField != 0) HwWriteRegister(common, address2, info->address ^ kFlipFieldAddressBit);
  HwWriteRegister(common, control, value);
  return 0;
}
