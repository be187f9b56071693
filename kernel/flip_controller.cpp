#include "kernel/flip_controller.h"

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"

namespace {

bool HasDisplay(uint32_t mask, uint32_t display) { return (mask & (1u << display)) != 0; }

// Mode record word 0: 1 adds display 2, 2 adds displays 2 and 8.
constexpr uint32_t kModeTwoDisplays = 1;
constexpr uint32_t kModeFourDisplays = 2;

}  // namespace

FlipController::FlipController(CommonData* c, uint32_t mode) : common(c), modeWord(mode) {
  for (auto& display : slots) {
    display[0] = kFlipSlotTaken;
    for (uint32_t s = 1; s < kFlipSlotsPerDisplay; ++s) display[s] = kFlipSlotFree;
  }
}

int32_t FlipController::FindFreeBuffer(uint32_t mask) {
  if ((mask & kAllDisplays) == 0) return -1;
  for (uint32_t slot = 0; slot < kFlipSlotsPerDisplay; ++slot) {
    bool free = true;
    for (uint32_t d = 0; d < kDisplayCount && free; ++d)
      if (HasDisplay(mask, d) && slots[d][slot] != kFlipSlotFree) free = false;
    if (!free) continue;
    for (uint32_t d = 0; d < kDisplayCount; ++d)
      if (HasDisplay(mask, d)) slots[d][slot] = kFlipSlotTaken;
    return static_cast<int32_t>(slot);
  }
  return -1;
}

int32_t FlipController::AssignBuffer(uint32_t startAddress, uint32_t mask) {
  const int32_t slot = FindFreeBuffer(mask);
  if (slot < 0) return slot;
  for (uint32_t d = 0; d < kDisplayCount; ++d) {
    if (!HasDisplay(mask, d)) continue;
    KernelWriteRegister(common, kDisplayFlipRegs[d].bufferStart + 4 * static_cast<uint32_t>(slot),
                        startAddress & kBufferStartMask);
  }
  return slot;
}

bool FlipController::ReleaseBuffer(uint32_t slot, uint32_t mask) {
  if (!WaitNoFlipPending(mask)) return false;
  if (slot >= kFlipSlotsPerDisplay) return true;
  for (uint32_t d = 0; d < kDisplayCount; ++d) {
    if (!HasDisplay(mask, d)) continue;
    // A display still showing the slot would go on scanning memory its
    // owner gave up (a client gone while its flipped surface shows): it
    // goes back to the primary surface's slot first.
    const uint32_t control = KernelReadRegister(common, kDisplayFlipRegs[d].control);
    if (slot != 0 && DisplayCurrentSlot::Get(control) == slot) SelectDisplayedBuffer(1u << d, 0, 0);
    slots[d][slot] = kFlipSlotFree;
  }
  return true;
}

void FlipController::SelectDisplayedBuffer(uint32_t mask, uint32_t slot, uint32_t sync) {
  for (uint32_t d = 0; d < kDisplayCount; ++d) {
    if (!HasDisplay(mask, d)) continue;
    const DisplayFlipRegs& r = kDisplayFlipRegs[d];
    uint32_t control = KernelReadRegister(common, r.control);
    control = (control & ~(kDisplaySlotMask << r.slotShift)) | ((slot & kDisplaySlotMask) << r.slotShift);
    control = (sync & 1) ? (control | r.syncBit) : (control & ~r.syncBit);
    KernelWriteRegister(common, r.control, control);
  }
}

int FlipController::IsFlipPending(uint32_t mask, bool quick) {
  if (quick && modeWord != 0) return 0;
  if (ReadShared(&common->sharedLocked->pendingSubmissions) != 0) return 1;
  if (InterruptManager* interrupts = common->interruptManager) {
    if ((mask & kDisplaysOfController0) && interrupts->sources[kSourceVBlank0].EventEnabled(kEventFlip))
      return 1;
    if ((mask & kDisplaysOfController1) && interrupts->sources[kSourceVBlank1].EventEnabled(kEventFlip))
      return 1;
  }
  for (uint32_t d = 0; d < kDisplayCount; ++d) {
    if (!HasDisplay(mask, d)) continue;
    const DisplayFlipRegs& r = kDisplayFlipRegs[d];
    const uint32_t control = KernelReadRegister(common, r.control);
    if (((control >> r.slotShift) & kDisplaySlotMask) != DisplayCurrentSlot::Get(control)) return 1;
  }
  return 0;
}

bool FlipController::WaitNoFlipPending(uint32_t mask) {
  return KernelWait("flip pending", [&] { return IsFlipPending(mask, false) == 0; });
}

uint32_t DisplayMaskOf(uint32_t unit, uint32_t modeWord0) {
  uint32_t mask = unit == 0 ? 0x1 : 0x2;
  if (modeWord0 == kModeTwoDisplays) mask |= 0x2;
  if (modeWord0 == kModeFourDisplays) mask |= 0x2 | 0x8;
  return mask;
}

bool InitFlipController(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    // The flip-on-vertical-blank switch at 0 makes flip-pending questions
    // that may be quick answer at once.
    DriverSwitchesCommon* switches = common->driverSwitches;
    const bool flipOnVBlank =
        switches == nullptr || switches->FlipOnVBlank == nullptr || switches->FlipOnVBlank->GetValue() != 0;
    common->flipController = new FlipController(common, flipOnVBlank ? 0 : 1);
    if (common->flipController == nullptr) return false;
  }
  pdev->displayMask = DisplayMaskOf(pdev->unit, pdev->mode.desktopKind);
  return true;
}

void CleanupFlipController(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return;
  CommonData* common = pdev->common;
  if (common->flipController == nullptr) return;
  // With the interrupt enable given back no vertical blank is served: a
  // flip still waiting for one never comes and is dropped.
  InterruptManager* interrupts = common->interruptManager;
  if (interrupts != nullptr && interrupts->useCount == 0) {
    for (uint32_t source = kSourceVBlank0; source <= kSourceVBlank1; ++source)
      interrupts->sources[source].DisableEvent(kEventFlip, true);
  }
  // Logged when it runs out; the controller is the kernel's own memory,
  // which the engine never reads.
  (void)common->flipController->WaitNoFlipPending(kAllDisplays);
  delete common->flipController;
  common->flipController = nullptr;
}
