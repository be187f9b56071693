#include "xdriver/dps_manager.h"

#include <new>
#include <string.h>

#include "core/bm_transform.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "core/regs/field.h"
#include "xdriver/board_object.h"
#include "xdriver/context2d.h"
#include "xdriver/feature_mgr.h"

namespace {

// Display controllers 0, 1 and 3 raise the display-processing interrupts
// 0, 1 and 2; no other controller has one.
bool InterruptOfController(EDPSController c, uint32_t* interrupt) {
  switch (c) {
    case 0:
      *interrupt = 0;
      return true;
    case 1:
      *interrupt = 1;
      return true;
    case 3:
      *interrupt = 2;
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- CDPSManager ------------------------------------------------------------------------------

CDPSManager::CDPSManager(uint32_t revisionBits, SharedLockedData_t* shared)
    : hw(shared), backBuffers(revisionBits, &hw) {}

bool CDPSManager::AllocateDPSManager(CommonData* common, CDPSManager** manager) {
  if (manager == nullptr) return false;
  *manager = nullptr;
  if (common == nullptr) return false;
  for (DpsManagerSlot& slot : common->dpsManagerSlots) {
    if (slot.used != 0) continue;
    slot.used = 1;
    CDPSManager* m = ::new (slot.room) CDPSManager(common->revisionBits, common->sharedLocked);
    m->commonData = common;
    *manager = m;
    return true;
  }
  return false;
}

bool CDPSManager::FreeDPSManager(CommonData* common, CDPSManager* manager) {
  if (manager == nullptr) return false;
  if (common != nullptr && common->activeDpsManager == manager) common->activeDpsManager = nullptr;
  manager->~CDPSManager();
  if (common == nullptr) return true;
  for (DpsManagerSlot& slot : common->dpsManagerSlots) {
    if (reinterpret_cast<CDPSManager*>(slot.room) != manager) continue;
    memset(slot.room, 0, sizeof(slot.room));
    slot.used = 0;
  }
  return true;
}

void CDPSManager::Reset() {
  preScale = 0;
  filteringOn = 1;
  keepAspect = 1;
  running = 0;
  controller = kDpsNoController;
  outputType = kDpsOutputRgb;
  owner = 0;
  value = 0;
  srcUnit = -1;
  dstRect = {};
  backBuffers.Reset();
  preScaleSurface.Reset();
  secondSource.Reset();
  desktopSource.Reset();
  hw.Reset();
}

bool CDPSManager::SetGenericValues(EDPSOwnerID o, EDPSSrcUnit unit, uint32_t v, EDPSOutputType type,
                                   const LRECT* dst, EDPSController c, uint32_t keep) {
  value = v;
  srcUnit = unit;
  owner = o;
  outputType = type;
  keepAspect = keep;
  if (c == kDpsNoController) return false;
  controller = c;
  if (dst != nullptr) {
    dstRect = *dst;
  } else {
    dstRect = {0, 0, static_cast<int32_t>(backBuffers.buffers[0].width),
               static_cast<int32_t>(backBuffers.buffers[0].height)};
  }
  return true;
}

EDPSFiltering CDPSManager::ChooseFiltering(const CDPSSurface& source) const {
  return DpsChooseFiltering(filteringOn, outputType, source.viewport,
                            backBuffers.buffers[0].viewport);
}

bool CDPSManager::Start(PDEV* pdev) {
  if (!IsValid()) return false;
  EnableInterruptHandler(pdev, 0);
  commonData->activeDpsManager = this;
  const EDPSFiltering filtering = ChooseFiltering(desktopSource);
  if (!backBuffers.Initialize(outputType, filtering, preScale ? preScaleSurface : desktopSource,
                              dstRect, keepAspect)) {
    return false;
  }
  Scale(pdev, kDpsScalerStart);
  running = EnableInterruptHandler(pdev, 1) ? 1 : 0;
  return running != 0;
}

bool CDPSManager::Stop(PDEV* pdev) {
  EnableInterruptHandler(pdev, 0);
  if (!IsValid()) return false;
  running = 0;
  commonData->activeDpsManager = nullptr;
  return true;
}

bool CDPSManager::EnableInterruptHandler(PDEV* pdev, uint32_t on) {
  uint32_t interrupt;
  if (pdev == nullptr || !InterruptOfController(controller, &interrupt)) return false;
  const CFeatureMgr* features = pdev->featureMgr;
  const BmXformInt* xform = features != nullptr ? features->xformInterfaces[kFeatureDpsInterface] : nullptr;
  OrvVSyncStateRequest request = {};
  request.word[0] = kVSyncFlagDisplayProcessing;
  request.word[1] = interrupt;
  request.word[2] = on ? 1 : 0;
  request.word[3] = xform != nullptr ? xform->InterruptIdentity() : kXformSlotNone;
  return OsSetVSyncInterruptState(pdev->device, &request);
}

uint32_t CDPSManager::Scale(PDEV* pdev, EDPSScalerID id) {
  BeforeScaleSteps();
  CDPSSurface* source = nullptr;
  switch (id) {
    case 1:
    case 4:
    case 5:
      source = &desktopSource;
      break;
    case 2:
    case 3:
      source = &secondSource;
      break;
    default:
      break;
  }
  if (source != nullptr) {
    const uint32_t index = backBuffers.GetInactiveIndex();
    if (CDPSSurface* target = backBuffers.Lock(index)) {
      DoScaling(pdev, source, target);
      backBuffers.UnLock(target);
      backBuffers.SetActive(pdev, index, controller);
    }
  }
  AfterScaleSteps();
  return 0;
}

bool CDPSManager::DoScaling(PDEV* pdev, CDPSSurface* source, CDPSSurface* target) {
  HwManager* hwManager = pdev->hwManager;
  BmXformInt* xform = DpsInterfaceOf(hwManager);
  if (xform == nullptr) return false;
  // The sequence runs under the command lock, taken (nested) by BeginCmd;
  // whoever else holds the lock keeps it.
  if (!xform->BeginCmd()) return false;
  if (preScale && preScaleSurface.Blit(hwManager, source)) source = &preScaleSurface;
  target->Stretch(hwManager, source);
  return xform->EndCmd();
}

// ---- Entry points -------------------------------------------------------------------------------

bool DPS_Enable(uint32_t on, PDEV* pdev, CDPSManager* manager) {
  if (pdev == nullptr || manager == nullptr) return false;
  return on ? DPS_Activate(pdev, manager) : DPS_Desactivate(pdev, manager);
}

bool DPS_Activate(PDEV* pdev, CDPSManager* manager) {
  if (pdev->common == nullptr) return false;
  SProcampValues values;
  GetProcampValues(pdev, kProcampKindDisplayProcessing, &values);
  DPS_UpdateProcamp(manager, &values);
  if (!manager->Start(pdev)) return false;
  DPS_StateChangeNotify(pdev, 1);
  return true;
}

bool DPS_Desactivate(PDEV* pdev, CDPSManager* manager) {
  if (pdev->common == nullptr) return false;
  DPS_StateChangeNotify(pdev, 0);
  if (!manager->Stop(pdev)) return false;
  if (pdev->common->context2d != nullptr) pdev->common->context2d->InvalidateContext();
  return true;
}

bool DPS_StateChangeNotify(PDEV* pdev, uint32_t on) {
  if (pdev == nullptr || pdev->common == nullptr) return true;
  uint32_t& count = pdev->common->activeDpsCount;
  const bool flip = on ? count == 0 : count == 1;
  if (on) {
    ++count;
  } else if (count > 0) {
    --count;
  }
  if (!flip) return true;
  ForEachDeviceOfBoard(pdev, [on](PDEV* d) {
    PreDrawPostDraw& b = d->data2d.bracket;
    b.preDraw = WithBit(b.preDraw, kDrawFlagsDisplayProcessing, on != 0);
    b.postDraw = WithBit(b.postDraw, kDrawFlagsDisplayProcessing, on != 0);
  });
  return true;
}

bool DPS_UpdateProcamp(CDPSManager* manager, const SProcampValues* values) {
  if (manager == nullptr || values == nullptr) return false;
  if (!DpsIsTvOutput(manager->outputType)) return true;
  CDHProcampState state;
  state.Reset();
  state.Set(*values);
  CDPSBackBuffersMgr& b = manager->backBuffers;
  return b.shader.SetProcampState(&state, 1) && b.textureEngine.SetProcampState(&state, 1) &&
         b.textureSetup.SetProcampState(&state, 1);
}

bool DPS_ProcampChangeNotification(uint32_t, const SProcampValues* values, unsigned long manager) {
  if (values == nullptr || manager == 0) return false;
  return DPS_UpdateProcamp(reinterpret_cast<CDPSManager*>(manager), values);
}

bool InitDesktopPreScale(PDEV* pdev) {
  if (pdev == nullptr || pdev->common == nullptr) return false;
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) memset(common->dpsManagerSlots, 0, sizeof(common->dpsManagerSlots));
  return true;
}

void CleanupDesktopPreScale(PDEV*) {}

bool DPS_IsEnable(const PDEV* pdev) {
  return pdev != nullptr && pdev->common != nullptr && pdev->common->activeDpsManager != nullptr;
}
