#include "xdriver/feature_mgr.h"

#include <string.h>

#include "core/bm_packets.h"
#include "core/bm_transform.h"
#include "core/hw_manager.h"
#include "core/mm_surface_manager.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "xdriver/dps_manager.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/primary_surface.h"
#include "xdriver/surf_format_xform.h"

namespace {

// The ranges of the seven colour controls, in their order.
struct ProcampRange {
  int32_t low, high;
};
constexpr ProcampRange kProcampRanges[kProcampCount] = {
    {0, 25},       // anti-flicker level
    {0, 10000},    // brightness
    {0, 1},        // colour enable
    {0, 20000},    // contrast
    {1, 500},      // gamma
    {-180, 180},   // hue, degrees
    {0, 20000},    // saturation
};

// Kinds of procamp values a caller may ask for.
constexpr int kProcampKindFirst = 1;
constexpr int kProcampKindLast = 4;

// The destination sizes of the TV standards and of no TV.
constexpr LSIZE kTv484 = {720, 484};
constexpr LSIZE kTv576 = {720, 576};
constexpr LSIZE kNoTv = {640, 480};

// The display-processing manager of the desktop.
constexpr EDPSOwnerID kDpsOwnerDesktop = 8;

// Output types by output kind and standard.
EDPSOutputType OutputTypeOf(const CFeatureMgr& f) {
  if (!f.DisplayProcessingWanted()) return kDpsOutputRgb;
  const bool lines484 = f.tvStandard == kTvStandard484;
  if (f.outputKind == kTvOutputKind3) return lines484 ? kDpsOutputTv3of484 : kDpsOutputTv3of576;
  return lines484 ? kDpsOutputTv484 : kDpsOutputTv576;
}

bool HasArea(const LRECT& r) { return r.right > r.left && r.bottom > r.top; }

}  // namespace

// ---- Component-table row ----------------------------------------------------------------------

CFeatureMgr::CFeatureMgr(uint8_t* ok) { *ok = 1; }

bool InitFeatureMgr(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard() && common->featureMgr == nullptr) {
    // No manager is live without the feature manager: the slots start free.
    if (!InitDesktopPreScale(pdev)) return false;
    uint8_t ok = 0;
    CFeatureMgr* manager = new CFeatureMgr(&ok);
    if (manager != nullptr && !ok) {
      delete manager;
      manager = nullptr;
    }
    common->featureMgr = manager;
  }
  pdev->featureMgr = common->featureMgr;
  return common->featureMgr != nullptr;
}

void CleanupFeatureMgr(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) {
    delete pdev->common->featureMgr;
    pdev->common->featureMgr = nullptr;
    CleanupDesktopPreScale(pdev);
  }
  pdev->featureMgr = nullptr;
}

// ---- Procamp values -------------------------------------------------------------------------

bool EnsureProcampValuesWithinValidRange(int, SProcampValues& values) {
  for (unsigned i = 0; i < kProcampCount; ++i) {
    int32_t& v = values.value[i];
    if (v < kProcampRanges[i].low) v = kProcampRanges[i].low;
    if (v > kProcampRanges[i].high) v = kProcampRanges[i].high;
  }
  return true;
}

bool GetProcampValues(PDEV* pdev, int kind, SProcampValues* out) {
  if (pdev == nullptr || out == nullptr) return false;
  memset(out, 0, sizeof(*out));
  if (kind < kProcampKindFirst || kind > kProcampKindLast) return false;
  const CFeatureMgr* features = pdev->common != nullptr ? pdev->common->featureMgr : nullptr;
  if (features == nullptr) return false;
  *out = features->procamp;
  return EnsureProcampValuesWithinValidRange(kind, *out);
}

uint32_t SetProcampValues() { return 0; }

// ---- CFeatureMgr -------------------------------------------------------------------------------

uint32_t CFeatureMgr::GetInterruptFromRequester(uint32_t requester) {
  if (requester & 0x1) return 0;
  if (requester & 0x2) return 1;
  if (requester & 0x4) return 3;
  if (requester & 0x8) return 2;
  return 0;
}

bool CFeatureMgr::GetDstResolution(PDEV*, LSIZE& size, unsigned) const {
  if (!DisplayProcessingWanted()) {
    size = kNoTv;
  } else {
    size = tvStandard == kTvStandard484 ? kTv484 : kTv576;
  }
  return true;
}

int CFeatureMgr::PivotSlot(const PDEV* pdev) {
  return pdev->unit < kFeaturePivotInterfaces ? static_cast<int>(pdev->unit) : -1;
}

bool CFeatureMgr::PivotSelected(const PDEV* pdev) const {
  const int slot = PivotSlot(pdev);
  return (pdev->bindingFlags & kXformWord8to10) == 0 && (pdev->bindingFlags & kXformWordPivot) != 0 &&
         slot >= 0 && xformInterfaces[slot] != nullptr;
}

bool CFeatureMgr::Setup(PDEV* pdev) {
  CommonData* common = pdev->common;
  bool transform = false;
  if (pdev->bindingFlags & kXformWord8to10) {
    transform = CreateSurfFormatXform_8to10(pdev);
  } else if (pdev->bindingFlags & kXformWordPivot) {
    const int slot = PivotSlot(pdev);
    if (slot >= 0) {
      BmXformInt*& xform = xformInterfaces[slot];
      xform = BmXformMgr::AllocateInterface(common, pdev->unit, kXformKindPivot);
      if (xform != nullptr) {
        transform = CreateSurfFormatXform_Pivot(pdev);
        if (!transform) BmXformMgr::FreeInterface(common, &xform);
      }
    }
  }
  if (!DisplayProcessingWanted() || dpsOwner != nullptr) return true;

  dpsOwner = pdev;
  BmXformInt*& dps = xformInterfaces[kFeatureDpsInterface];
  dps = BmXformMgr::AllocateInterface(common, pdev->unit, kXformKindDisplayProcessing);
  if (dps != nullptr && InitHwManager(pdev) && CDPSManager::AllocateDPSManager(common, &manager))
    return true;
  if (!transform) Cleanup(pdev);
  return transform;
}

bool CFeatureMgr::SendPivotVSync(PDEV* pdev, uint32_t on) {
  OrvVSyncStateRequest request = {};
  request.word[0] = kVSyncFlagPivot;
  request.word[1] = GetInterruptFromRequester(pdev->requester);
  request.word[2] = on;
  request.word[3] = xformInterfaces[PivotSlot(pdev)]->InterruptIdentity();
  return OsSetVSyncInterruptState(pdev->device, &request);
}

bool CFeatureMgr::Enable(PDEV* pdev) {
  const bool pivot = PivotSelected(pdev);
  if (pivot) SurfFormatXform_Pivot(&pdev->data2d.xform);
  if (RunsDisplayProcessing(pdev)) {
    bool ok = manager != nullptr && SetDPSResources(pdev, manager) &&
              AllocateDPSResources(pdev, manager);
    if (ok) {
      // Drawing takes the command lock while display processing may use
      // the engine.
      pdev->data2d.bracket.lockDrawing = 1;
      ok = DPS_Enable(1, pdev, manager);
    }
    if (!ok) {
      Disable(pdev);
      return false;
    }
  }
  if (pivot) {
    pdev->data2d.bracket.lockDrawing = 1;
    if (!SendPivotVSync(pdev, 1)) {
      Disable(pdev);
      return false;
    }
  }
  return true;
}

bool CFeatureMgr::Disable(PDEV* pdev) {
  const bool displayProcessing = RunsDisplayProcessing(pdev) && manager != nullptr;
  if (displayProcessing) DPS_Enable(0, pdev, manager);
  if (PivotSelected(pdev)) SendPivotVSync(pdev, 0);
  bool drained = false;
  if (pdev->primInt != nullptr) {
    SharedLockedData_t* shared = pdev->sharedLocked;
    if (BmAcquireCommandLock(shared, kCmdLockOwnerXDriver)) {
      drained = Sync2dAndWait(pdev->common, pdev->primInt, "feature stop");
      BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
    }
  }
  if (displayProcessing) {
    // The engine may still run display processing posted before: its
    // surfaces go back to the heap only once the engine has drained, and
    // are set aside until the device goes when it has not.
    MmSetAsideFrees setAside(pdev->surfaceManager);
    if (!drained && pdev->primInt != nullptr) setAside.Hold();
    FreeDPSResources(pdev, manager);
  }
  return drained;
}

void CFeatureMgr::Cleanup(PDEV* pdev) {
  const uint32_t id = pdev->data2d.xform.flags;
  if (id & kXformWord8to10) {
    CleanupSurfFormatXform_8to10(pdev);
  } else if (id & kXformWordPivot) {
    CleanupSurfFormatXform_Pivot(pdev);
  }
  const int slot = PivotSlot(pdev);
  if (slot >= 0) BmXformMgr::FreeInterface(pdev->common, &xformInterfaces[slot]);
  if (RunsDisplayProcessing(pdev)) {
    CDPSManager::FreeDPSManager(pdev->common, manager);
    manager = nullptr;
    CleanupHwManager(pdev);
    BmXformMgr::FreeInterface(pdev->common, &xformInterfaces[kFeatureDpsInterface]);
    dpsOwner = nullptr;
  }
}

bool CFeatureMgr::SetDPSResources(PDEV* pdev, CDPSManager* m) {
  if (pdev == nullptr || m == nullptr) return false;
  const LSIZE desktop = PrimaryDesktopSize(pdev);
  const uint32_t kind = pdev->mode.bitsPerPixel;
  m->desktopSource.Init(pdev, desktop, kind, kDpsSurfaceDesktop);
  // The desktop is not placed by display processing: it is the surface the
  // X server draws into.
  if (const DeviceBitmap* target = pdev->data2d.target) m->desktopSource.SetAddress(target->addressWord);
  const LSIZE clamped = {desktop.width < kDpsMaxBltSize ? desktop.width : kDpsMaxBltSize,
                         desktop.height < kDpsMaxBltSize ? desktop.height : kDpsMaxBltSize};
  m->preScaleSurface.Init(pdev, clamped, kind, kDpsSurfacePreScale);
  LSIZE tv;
  GetDstResolution(pdev, tv, 0);
  m->backBuffers.Init(pdev, tv, kDpsKindYCbCr, kDpsSurfaceBackBuffer);
  return DesktopPreScaleInit(m);
}

bool CFeatureMgr::DesktopPreScaleInit(CDPSManager* m) {
  const EDPSOutputType type = OutputTypeOf(*this);
  // A destination without area is the whole TV frame.
  if (!m->SetGenericValues(kDpsOwnerDesktop, 0, 0, type, HasArea(dstRect) ? &dstRect : nullptr,
                           outputKind, 1)) {
    return false;
  }
  // A source without area is the whole desktop.
  const LRECT source = HasArea(srcRect) ? srcRect
                                        : LRECT{0, 0, static_cast<int32_t>(m->desktopSource.width),
                                                static_cast<int32_t>(m->desktopSource.height)};
  m->desktopSource.SetViewport(source);
  CDPSSurface* chosen = &m->desktopSource;
  if (m->preScale) {
    m->preScaleSurface.SetViewport({0, 0, source.right - source.left, source.bottom - source.top});
    chosen = &m->preScaleSurface;
  }
  const EDPSFiltering filtering = m->ChooseFiltering(m->desktopSource);
  m->backBuffers.Initialize(type, filtering, *chosen, m->dstRect, m->keepAspect);
  return true;
}

bool CFeatureMgr::AllocateDPSResources(PDEV* pdev, CDPSManager* m) {
  if (pdev == nullptr || m == nullptr) return false;
  const bool ok = (!m->preScaleSurface.initialised || m->preScaleSurface.Create(pdev)) &&
                  m->backBuffers.Create(pdev);
  if (!ok) FreeDPSResources(pdev, m);
  return ok;
}

bool CFeatureMgr::FreeDPSResources(PDEV* pdev, CDPSManager* m) {
  if (pdev == nullptr || m == nullptr) return false;
  if (m->preScaleSurface.created) m->preScaleSurface.Destroy(pdev);
  m->backBuffers.Destroy(pdev);
  m->Reset();
  return true;
}
