#include "core/bm_rows.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/bm_prim_int.h"
#include "core/bm_transform.h"
#include "core/driver_switches.h"
#include "core/hw_register_access.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/dma.h"

namespace {

uint32_t BmDebugFlagsOf(CommonData* common) {
  DriverSwitchesCommon* switches = common->driverSwitches;
  if (switches == nullptr || switches->BmDebugFlags == nullptr) return 0;
  return switches->BmDebugFlags->GetValue();
}

void DeletePrimary(CommonData* common) {
  delete common->primInt;
  common->primInt = nullptr;
  if (common->bmMarker != nullptr) memFree(common->bmMarker);
  common->bmMarker = nullptr;
  if (common->memoryManager != nullptr) common->memoryManager->primInt = nullptr;
}

}  // namespace

bool InitBmXformMgr(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) {
    const BmBufferPool::CreateOptions options =
        BmXformOptions(pdev->sharedLocked->busFlags, BmDebugFlagsOf(pdev->common));
    memcpy(pdev->common->xformBufferOptions, &options, sizeof(options));
  }
  return true;
}

void CleanupBmXformMgr(PDEV*) {}

bool InitBusmastering(PDEV* pdev) {
  CommonData* common = pdev->common;
  SharedLockedData_t* shared = pdev->sharedLocked;
  const bool first = pdev->IsFirstForBoard();
  if (first && common->primInt == nullptr) {
    MmSurfaceManager* manager = common->memoryManager;
    const BmBufferPool::CreateOptions options =
        BmPrimaryOptions(shared->dmaMode, shared->busFlags, BmDebugFlagsOf(common),
                         manager != nullptr ? manager->localMemorySize : 0);
    common->primInt = new BmPrimInt(common, pdev->unit, options);
    common->bmMarker = static_cast<uint8_t*>(memAlloc(1));
    if (common->primInt == nullptr || common->bmMarker == nullptr) {
      DeletePrimary(common);
      return false;
    }
  }
  if (common->primInt == nullptr) return false;
  if (pdev->mode.localDma != 0) {
    shared->expectedDmaStatus = HwReadRegister(common, kRegDmaStatus);
  }
  if (!common->primInt->Open()) {
    // This row failed: nothing of it stays behind.
    if (first) DeletePrimary(common);
    return false;
  }
  pdev->primInt = common->primInt;
  if (common->memoryManager != nullptr) common->memoryManager->primInt = common->primInt;
  return true;
}

void CleanupBusmastering(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard() && pdev->primInt != nullptr) {
    pdev->primInt->Close();
    DeletePrimary(common);
  }
  pdev->primInt = nullptr;
}
