// The X screens' side of the device binding.
#include "xdriver/orv_kstrn.h"

#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_multihead.h"
#include "xdriver/orv_regs.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/xaa_setup.h"

namespace {

int g_xaaPrivateIndex = -1;

uint32_t DesktopKind(const ORVRec* rec) {
  if (rec->merged) return kDesktopMergedKind;
  if (rec->spanthree) return kDesktopThreeHead;
  if (rec->spanfour) return kDesktopFourHead;
  return kDesktopSingle;
}

}  // namespace

Bool ORVKstrnLoadDriver(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  const uint32_t status = KstrnInitDriver(ORV_DRIVER_NAME);
  if ((status == kKstrnOpenFailed || status == kKstrnNoKernelModule) &&
      rec->busMastering == kBusMasteringKernel) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING, "Error #%u while loading Kernel Driver.\n", status);
    xf86DrvMsg(screen->scrnIndex, X_WARNING, " Falling back to Local DMA \n");
    rec->busMastering = kBusMasteringLocal;
  }
  if (g_xaaPrivateIndex < 0) g_xaaPrivateIndex = xf86AllocateScrnInfoPrivateIndex();
  return TRUE;
}

void ORVKstrnUnloadDriver() { KstrnCleanupDriver(); }

int ORVKstrnXaaPrivateIndex() { return g_xaaPrivateIndex; }

Bool ORVKstrnSetupXAAInfoRec(ScrnInfoPtr screen, XAAInfoRec* info) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pdev == nullptr || g_xaaPrivateIndex < 0) return FALSE;
  return KstrnXAAInit(rec->pdev, screen, g_xaaPrivateIndex, info) == kKstrnSuccess;
}

Bool ORVKstrnOpenDevice(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  KstrnDesktopDesc& d = rec->desktop;
  d = {};
  const pciVideoRec* pci = rec->pEnt->pPci;
  d.bus = static_cast<uint32_t>(pci->bus);
  d.device = static_cast<uint32_t>(pci->device);
  d.function = static_cast<uint32_t>(pci->func);
  const bool shadowRotated = rec->shadowFB && rec->shadowRotate != 0;
  const DisplayModeRec* mode = screen->currentMode;
  const uint32_t modeW = mode != nullptr ? static_cast<uint32_t>(mode->HDisplay) : 0;
  const uint32_t modeH = mode != nullptr ? static_cast<uint32_t>(mode->VDisplay) : 0;
  d.width = shadowRotated ? modeH : modeW;
  d.height = shadowRotated ? modeW : modeH;
  d.virtualWidth = static_cast<uint32_t>(shadowRotated ? screen->virtualY : screen->virtualX);
  d.virtualHeight = static_cast<uint32_t>(shadowRotated ? screen->virtualX : screen->virtualY);
  const uint32_t bytesPerPixel = static_cast<uint32_t>(screen->bitsPerPixel) / 8;
  const uint32_t lineBytes = d.virtualWidth * bytesPerPixel;
  d.lines = lineBytes != 0 ? rec->fbMemSize / lineBytes : 0;
  d.refresh = rec->modeInfo.ulRefreshRate;
  // A depth-30 head keeps 32 in its mode record; the core needs its own
  // pixel formats for it (10 bits per channel), not those of 32 bits.
  d.bitsPerPixel = screen->depth == 30 ? 30 : rec->modeInfo.ulBpp;
  d.redMask = screen->mask.red;
  d.greenMask = screen->mask.green;
  d.blueMask = screen->mask.blue;
  d.hwRotation = rec->hwRotate;
  d.desktopKind = DesktopKind(rec);
  d.busMastering = static_cast<uint32_t>(rec->busMastering);
  d.head = static_cast<uint32_t>(rec->head);
  d.controller = OrvModeConfig_GetController(screen, rec->head);
  d.videoBridge = static_cast<uint8_t>(rec->videoBridge);
  d.trackingWord = rec->pBridgeStatus;
  d.registers = rec->ioBase;
  d.frameBuffer = rec->fbBase;
  d.registerSize = kOrvRegisterApertureSize;
  d.frameBufferSize = static_cast<uint32_t>(screen->videoRam) * 1024u;
  const uint32_t status = KstrnEnableDevice(&d);
  if (status != kKstrnSuccess) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING,
               "Cannot use Kestrion module for acceleration, device failed to open with error "
               "code %u.\n",
               status);
    return FALSE;
  }
  rec->pdev = d.pdev;
  rec->pBridgeStatus = d.trackingWord;
  return TRUE;
}

void ORVKstrnCloseDevice(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pdev == nullptr) return;
  KstrnXAACleanup(rec->pdev, screen);
  KstrnDisableDevice(rec->pdev);
  rec->pdev = nullptr;
  rec->pBridgeStatus = rec->pEnt != nullptr ? &rec->pEnt->bridgeStatus : nullptr;
}

Bool ORVKstrnStartDevice(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pdev == nullptr) return FALSE;
  KstrnStartResult result{};
  const uint32_t status = KstrnStartDevice(rec->pdev, &result);
  if (status != kKstrnSuccess) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING,
               "Cannot use Kestrion module for acceleration, device failed to start with error "
               "code %u.\n",
               status);
    return FALSE;
  }
  rec->fbOffset = result.frameBufferOffset;
  rec->displayOffset = result.displayOffset;
  if (rec->merged && rec->aux[0] != nullptr) ORVPTR(rec->aux[0])->displayOffset = result.displayOffset;
  rec->cursorAperture = static_cast<unsigned long>(result.cursorAperture);
  rec->cursorOffset = result.cursorOffset;
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Cursor Aperture location 0x%lx.\n", rec->cursorAperture);
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Cursor Surface location 0x%lx.\n",
             static_cast<unsigned long>(rec->cursorOffset));
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Kestrion device started.\n");
  rec->deviceStarted = 1;
  return TRUE;
}

Bool ORVKstrnStopDevice(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pdev == nullptr || !rec->deviceStarted || KstrnStopDevice(rec->pdev) != kKstrnSuccess)
    return FALSE;
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Kestrion device stopped.\n");
  rec->deviceStarted = 0;
  return TRUE;
}

void ORVKstrnFlushDrawing(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pdev != nullptr && rec->deviceStarted) PostDrawXformFlush(rec->pdev);
}

// The features run on a started device only. The first mode set of a
// screen comes before its device start: the manager learns the head's TV
// entry then (the device start sets the features up from it), and the
// features start with the mode set that follows the start.
Bool OrvStartFeatures(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (KstrnNotifyFeatureMgr(rec->pdev, rec->pFeatures) != kKstrnSuccess) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING,
               "Error occured while notitying the Orvane xform manager.\n");
    return FALSE;
  }
  if (!rec->deviceStarted) return FALSE;
  if (KstrnStartFeatures(rec->pdev) != kKstrnSuccess) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING, "Error occured while starting the Orvane xform.\n");
    return FALSE;
  }
  return TRUE;
}

Bool OrvStopFeatures(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  // Nothing runs on a device that is not started.
  if (!rec->deviceStarted) return TRUE;
  if (KstrnStopFeatures(rec->pdev) != kKstrnSuccess) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING, "Cannot stop Orvane xform.\n");
    return FALSE;
  }
  return TRUE;
}
