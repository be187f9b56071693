// The life of a screen after PreInit: ScreenInit, the block handler, the
// virtual-terminal switches, the return to the text console, CloseScreen,
// SaveScreen, the palette hook and the acceleration set-up.
#include <string.h>

#include "core/pci_config.h"
#include "core/regs/cursor.h"
#include "core/regs/pci.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/vgahw.h"
#include "platform/xserver/xaa.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_cursor.h"
#include "xdriver/orv_dga.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_gamma.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_logo.h"
#include "xdriver/orv_modeinit.h"
#include "xdriver/orv_multihead.h"
#include "xdriver/orv_options.h"
#include "xdriver/orv_palette.h"
#include "xdriver/orv_pci.h"
#include "xdriver/orv_preinit.h"
#include "xdriver/orv_register.h"
#include "xdriver/orv_regs.h"
#include "xdriver/orv_screen.h"
#include "xdriver/orv_shadow.h"
#include "xdriver/orv_xinerama.h"
#include "xdriver/orv_xv.h"
#include "xdriver/xaa_setup.h"

namespace {

constexpr int kVgaApertureOffset = 0x1C00;  // VGA port P is at aperture + 0x1C00 + P
constexpr int kMaxOffscreenLines = 4095;
constexpr int kS4ISmallMemory = 65536;       // kB
constexpr uint32_t kPciCommandBusMaster = 0x4;
constexpr int kPaletteEntries = 256;
constexpr int kPaletteBits = 8;

ScrnInfoPtr ScreenOf(int index) { return xf86Screens[index]; }

bool AnyRotation(const ORVRec* rec) { return rec->shadowRotate != 0 || rec->hwRotate != 0; }

}  // namespace

// Screen blanking is left to the power management; head 0 reports it done.
Bool ORVSaveScreen(ScreenPtr, int) { return TRUE; }
Bool ORVSaveScreenCrtc2(ScreenPtr, int) { return FALSE; }
Bool ORVSaveScreenCrtc3(ScreenPtr, int) { return FALSE; }
Bool ORVSaveScreenCrtc4(ScreenPtr, int) { return FALSE; }

Bool ORVAccelInit(ScreenPtr pScreen) {
  ScrnInfoPtr screen = ScreenOf(pScreen->myNum);
  ORVRec* rec = ORVPTR(screen);
  switch (screen->bitsPerPixel) {
    case 8:
    case 16:
    case 30:
    case 32:
      break;
    default:
      xf86DrvMsg(screen->scrnIndex, X_WARNING, "No acceleration supported in %d bpp mode\n",
                 screen->bitsPerPixel);
      ORVDisableAcceleration(rec);
      return FALSE;
  }
  XAAInfoRecPtr info = XAACreateInfoRec();
  if (info == nullptr) return FALSE;
  rec->pXaaInfo = info;
  info->Flags = kXaaRecordFlags;
  if (!ORVKstrnSetupXAAInfoRec(screen, info)) return FALSE;
  return XAAInit(pScreen, info);
}

void ORVBlockHandler(int index, pointer blockData, pointer timeout, pointer readmask) {
  ScrnInfoPtr screen = ScreenOf(index);
  ScreenPtr pScreen = screen->pScreen;
  ORVRec* rec = ORVPTR(screen);
  if (rec->deferredBlockHandler != nullptr) rec->deferredBlockHandler(screen);
  // What the processor drew since the last Sync reaches the displayed
  // surface before the server sleeps.
  ORVKstrnFlushDrawing(screen);
  pScreen->BlockHandler = rec->BlockHandler;
  pScreen->BlockHandler(index, blockData, timeout, readmask);
  pScreen->BlockHandler = ORVBlockHandler;
}

void ORVRestoreConsole(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  vgaHWPtr hwp = VGAHWPTR(screen);
  if (rec->pBoard != nullptr) ORVSwitchToVGA(rec->pBoard);
  if (rec->primaryVga) {
    if (rec->backupQuery) {
      if (rec->pBoard != nullptr) ORVRestoreVgaState(rec->pBoard, 0);
    } else {
      ORVSetConsoleMode(screen);
    }
  }
  if (hwp != nullptr) {
    vgaHWProtect(screen, TRUE);
    vgaHWRestore(screen, &hwp->SavedReg, VGA_SR_ALL);
    vgaHWProtect(screen, FALSE);
  }
}

Bool ORVCloseScreen(int index, ScreenPtr pScreen) {
  ScrnInfoPtr screen = ScreenOf(index);
  ORVRec* rec = ORVPTR(screen);
  if (screen->vtSema) {
    if (!rec->noAccel && rec->pXaaInfo != nullptr) {
      auto* info = static_cast<XAAInfoRecPtr>(rec->pXaaInfo);
      if (info->Sync != nullptr) info->Sync(screen);
    }
    ORVKstrnStopDevice(screen);
    if (rec->head == 0) {
      ORVPostInitPciAccessDisable(rec->pEnt);
      ORVRestoreConsole(screen);
      ORVRestoreBiosMemory(rec);
    }
    if (rec->pInt10 != nullptr) {
      xf86FreeInt10(rec->pInt10);
      rec->pInt10 = nullptr;
    }
    screen->vtSema = FALSE;
  }
  ORVCloseXV(screen);
  ORVKstrnCloseDevice(screen);
  if (rec->pXaaInfo != nullptr) {
    XAADestroyInfoRec(static_cast<XAAInfoRecPtr>(rec->pXaaInfo));
    rec->pXaaInfo = nullptr;
  }
  if (rec->pCursorInfo != nullptr) {
    xf86DestroyCursorInfoRec(static_cast<xf86CursorInfoPtr>(rec->pCursorInfo));
    rec->pCursorInfo = nullptr;
  }
  xfree(rec->shadowPtr);
  rec->shadowPtr = nullptr;
  ORVCloseBoard(screen);
  ORVUnmapMem(screen);
  if (rec->pEnt != nullptr) rec->pEnt->initialised = 0;
  if (rec->BlockHandler != nullptr) pScreen->BlockHandler = rec->BlockHandler;
  pScreen->CloseScreen = rec->CloseScreen;
  return pScreen->CloseScreen != nullptr ? pScreen->CloseScreen(index, pScreen) : TRUE;
}

Bool ORVEnterVT(int index, int) {
  ScrnInfoPtr screen = ScreenOf(index);
  ORVRec* rec = ORVPTR(screen);
  if (rec->head == 0) {
    FixBios(screen);
    if (rec->busMastering != kBusMasteringEmulated && rec->pEnt != nullptr) {
      uint32_t command = 0;
      csReadDword(rec->pEnt->pciTag, kCfgCommand, &command);
      if (!(command & kPciCommandBusMaster))
        csWriteDword(rec->pEnt->pciTag, kCfgCommand, command | kPciCommandBusMaster);
    }
  }
  ORVKstrnStartDevice(screen);
  if (rec->hwCursor) {
    // Both cursor engines read the image where the device start put it.
    for (uint32_t engine = 0; engine < kCursorEngines; ++engine)
      ORV_OUT_REG32(rec, rec->ioBase, CursorReg(kRegCursorImageBase, engine), rec->cursorOffset);
  }
  if (!rec->modeInit(screen, screen->currentMode)) return FALSE;
  // A merged desktop goes back to its first head's saved origin; any other
  // head to the viewport the server still has for it (a head showing part
  // of a larger virtual screen would otherwise show its corner).
  if (rec->merged)
    screen->AdjustFrame(index, rec->firstHeadOrigin[0], rec->firstHeadOrigin[1], 0);
  else
    screen->AdjustFrame(index, screen->frameX0, screen->frameY0, 0);
  return TRUE;
}

void ORVLeaveVT(int index, int) {
  ScrnInfoPtr screen = ScreenOf(index);
  ORVRec* rec = ORVPTR(screen);
  if (!rec->noAccel && rec->pXaaInfo != nullptr) {
    auto* info = static_cast<XAAInfoRecPtr>(rec->pXaaInfo);
    if (info->Sync != nullptr) info->Sync(screen);
  }
  ORVKstrnStopDevice(screen);
  // Only the board's last head gives the console back, for head 0.
  ORVEntityRec* entity = rec->pEnt;
  if (entity != nullptr && rec->head == entity->instanceCount && entity->heads[0] != nullptr) {
    ScrnInfoPtr head0 = entity->heads[0];
    ORVRestoreBiosMemory(ORVPTR(head0));
    ORVRestoreConsole(head0);
  }
}

namespace {

// What the set-up steps of ScreenInit share about the screen.
struct ScreenInitHead {
  int index;
  ScreenPtr pScreen;
  ScrnInfoPtr screen;
  ORVRec* rec;
  vgaHWPtr hwp;
  int bytesPerPixel = 0;
  uint8_t* fbBase = nullptr;  // what the framebuffer layer draws into
  int fbWidth = 0;            // its width in pixels
};

// The apertures and the board's hardware library.
bool OpenApertures(ScreenInitHead& h) {
  ORVRec* rec = h.rec;
  if ((rec->ioBase == nullptr || rec->fbBase == nullptr) && !ORVMapMem(h.screen)) return false;
  return ORVOpenBoard(h.screen) != FALSE;
}

// Dual link again, the board with the configuration extension, the VGA
// registers through the aperture and, on the first head, the console's
// state to return to.
bool SaveConsoleState(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  vgaHWPtr hwp = h.hwp;
  if (rec->head == 0 && rec->digital1 && xf86ReturnOptValBool(rec->pOptions, OPTION_DVIDL, FALSE))
    ORVSetDualLinkCaps(rec->pBoard);
  ORVRegisterWithExtension(screen);
  if (hwp != nullptr) {
    vgaHWSetMmioFuncs(hwp, rec->ioBase, kVgaApertureOffset);
    vgaHWGetIOBase(hwp);
  }
  if (rec->head == 0) {
    ORVSaveVgaState(rec->pBoard, 0);
    if (hwp != nullptr) vgaHWSave(screen, &hwp->SavedReg, VGA_SR_ALL);
  }
  return true;
}

// The screen goes active: the accelerator device is opened, the first mode
// set and the device started.
bool StartDevice(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  screen->vtSema = TRUE;
  if (!ORVKstrnOpenDevice(screen)) return false;
  rec->savedPitch = rec->modeInfo.ulFBPitch;
  rec->savedDeskWidth = rec->modeInfo.ulDeskWidth;
  if (!rec->modeInit(screen, screen->currentMode)) return false;
  return ORVKstrnStartDevice(screen) != FALSE;
}

// The first head clears what it shows (never past its mapping); the mode
// is set again over the started device and the frame placed.
bool ShowFirstMode(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  h.bytesPerPixel = screen->bitsPerPixel / 8;
  if (!rec->head2 && !rec->head3 && !rec->head4) {
    uint64_t bytes = static_cast<uint64_t>(screen->virtualY) * screen->displayWidth * h.bytesPerPixel;
    const uint64_t mapped = static_cast<uint64_t>(screen->videoRam) * 1024;
    if (bytes > mapped) bytes = mapped;
    memset(rec->fbBase, 0, bytes);
  }
  if (!rec->modeInit(screen, screen->currentMode)) return false;
  screen->AdjustFrame(h.index, screen->frameX0, screen->frameY0, 0);
  ORVComputeHeadLayout(screen, screen->currentMode);
  return true;
}

// TrueColor above 8 bits per pixel, the depth's default visuals at 8.
bool SetVisuals(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  miClearVisualTypes();
  if (screen->bitsPerPixel > 8) {
    if (!miSetVisualTypes(screen->depth, TrueColorMask, screen->rgbBits, TrueColor)) return false;
  } else if (!miSetVisualTypes(screen->depth, miGetDefaultVisualMask(screen->depth),
                               screen->rgbBits, screen->defaultVisual)) {
    return false;
  }
  return miSetPixmapDepths() != FALSE;
}

// What the framebuffer layer draws into: a shadow buffer, or the head's
// primary surface in the mapped frame buffer.
bool ChooseFramebufferMemory(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  if (rec->shadowFB) {
    rec->shadowPitch = ((screen->bitsPerPixel * screen->virtualX + 31) / 32) * 4;
    rec->shadowPtr = static_cast<uint8_t*>(
        xalloc(static_cast<size_t>(rec->shadowPitch) * static_cast<size_t>(screen->virtualY)));
    if (rec->shadowPtr == nullptr) return false;
    h.fbBase = rec->shadowPtr;
    h.fbWidth = rec->shadowPitch / h.bytesPerPixel;
  } else {
    h.fbBase = rec->fbBase + rec->fbOffset;
    h.fbWidth = screen->displayWidth;
  }
  return true;
}

// The framebuffer layer, Render, the visuals' colour masks and the black
// and white pixels.
bool InitFramebufferLayer(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ScreenPtr pScreen = h.pScreen;
  if (!fbScreenInit(pScreen, h.fbBase, screen->virtualX, screen->virtualY, screen->xDpi,
                    screen->yDpi, h.fbWidth, screen->bitsPerPixel))
    return false;
  fbPictureInit(pScreen, nullptr, 0);
  if (screen->bitsPerPixel > 8) {
    for (int i = 0; i < pScreen->numVisuals; ++i) {
      VisualRec& v = pScreen->visuals[i];
      if (v.visualClass != TrueColor && v.visualClass != DirectColor) continue;
      v.offsetRed = static_cast<int>(screen->offset.red);
      v.offsetGreen = static_cast<int>(screen->offset.green);
      v.offsetBlue = static_cast<int>(screen->offset.blue);
      v.redMask = screen->mask.red;
      v.greenMask = screen->mask.green;
      v.blueMask = screen->mask.blue;
    }
  }
  xf86SetBlackWhitePixels(pScreen);
  return true;
}

// The off-screen memory manager over the head's memory, its lines the
// head's bytes at the pitch; it wraps the initialised screen, so it comes
// after the framebuffer layer. A manager that cannot be set up leaves the
// screen without off-screen memory.
bool InitOffscreenManager(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  if (rec->shadowFB) return true;
  int lines = static_cast<int>(rec->fbMemSize /
                               (static_cast<uint32_t>(screen->displayWidth) * h.bytesPerPixel));
  if (lines > kMaxOffscreenLines) lines = kMaxOffscreenLines;
  BoxRec box = {0, 0, static_cast<short>(screen->virtualX), static_cast<short>(lines)};
  if (rec->s4i && screen->videoRam <= kS4ISmallMemory) {
    xf86DrvMsg(index, X_WARNING, "Memory manager initialization disabled.\n");
  } else if (xf86InitFBManager(h.pScreen, &box)) {
    xf86DrvMsg(index, X_INFO, "Using %d lines for offscreen memory.\n", lines - screen->virtualY);
    xf86DrvMsg(index, X_INFO, "Memory manager initialized to (%d,%d) (%d,%d)\n", box.x1, box.y1,
               box.x2, box.y2);
    int areaWidth = 0, areaHeight = 0;
    if (xf86QueryLargestOffscreenArea(h.pScreen, &areaWidth, &areaHeight, 0, 0, 0))
      xf86DrvMsg(index, X_INFO, "Largest offscreen area available: %d x %d\n", areaWidth, areaHeight);
  } else {
    xf86DrvMsg(index, X_ERROR, "Memory manager initialization to (%d,%d) (%d,%d) failed\n",
               box.x1, box.y1, box.x2, box.y2);
  }
  return true;
}

// The block handler, then 2D acceleration; acceleration that cannot be set
// up is turned off and the screen goes on without it.
bool InitAcceleration(ScreenInitHead& h) {
  ORVRec* rec = h.rec;
  rec->BlockHandler = h.pScreen->BlockHandler;
  h.pScreen->BlockHandler = ORVBlockHandler;
  if (!rec->noAccel && !ORVAccelInit(h.pScreen)) {
    xf86DrvMsg(h.index, X_ERROR, "2D Acceleration initialization failed\n");
    ORVDisableAcceleration(rec);
  }
  return true;
}

// DGA, backing store, silken mouse, the software cursor layer, and the
// hardware cursor where the head can show it (its failure leaves the
// software cursor).
bool InitCursor(ScreenInitHead& h) {
  ScreenPtr pScreen = h.pScreen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  ORVDGAInit(pScreen);
  miInitializeBackingStore(pScreen);
  xf86SetBackingStore(pScreen);
  xf86SetSilkenMouse(pScreen);
  miDCInitialize(pScreen, xf86GetPointerScreenFuncs());

  if (!rec->hwCursor || AnyRotation(rec) || rec->noAccel || OrvFeatureConfig_IsTvOut(rec->pFeatures)) {
    xf86DrvMsg(index, X_INFO, "Using SW cursor\n");
  } else {
    xf86DrvMsg(index, X_INFO, "Initializing HW cursor\n");
    if (!ORVHWCursorInit(pScreen)) {
      xf86DrvMsg(index, X_ERROR, "Hardware cursor initialization failed\n");
      rec->hwCursor = 0;
    }
  }
  return true;
}

// The default colormap and, below depth 30, the palette handling.
bool InitColormap(ScreenInitHead& h) {
  if (!miCreateDefColormap(h.pScreen)) {
    xf86DrvMsg(h.index, X_ERROR, "Could not create default colormap!\n");
    return false;
  }
  if (h.screen->depth != 30 &&
      !xf86HandleColormaps(h.pScreen, kPaletteEntries, kPaletteBits, ORVLoadPalette, nullptr,
                           CMAP_RELOAD_ON_MODE_SWITCH | CMAP_PALETTED_TRUECOLOR)) {
    xf86DrvMsg(h.index, X_ERROR, "xf86HandleColormaps failed!\n");
    return false;
  }
  return true;
}

// The shadow framebuffer's refresh (turned with a shadow rotation) and the
// power management.
bool InitShadowAndPower(ScreenInitHead& h) {
  if (h.rec->shadowFB) {
    RefreshAreaFuncPtr refresh = ORVRefreshArea;
    if (h.rec->shadowRotate != 0) {
      switch (h.screen->bitsPerPixel) {
        case 8:
          refresh = ORVRefreshRotatedArea8;
          break;
        case 16:
          refresh = ORVRefreshRotatedArea16;
          break;
        case 32:
          refresh = ORVRefreshRotatedArea32;
          break;
        default:
          break;
      }
    }
    ShadowFBInit(h.pScreen, refresh);
  }
  xf86DPMSInit(h.pScreen, ORVDisplayPowerManagementSet, 0);
  return true;
}

// The pointer-moved hooks of the desktops over several heads, and the
// driver's own Xinerama answers for them.
bool InstallDesktopHooks(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  if (rec->PointerMoved == nullptr) rec->PointerMoved = screen->PointerMoved;
  if (rec->merged) {
    screen->PointerMoved = ORVMergePointerMoved;
    if (rec->aux[0] != nullptr) rec->aux[0]->PointerMoved = ORVMergePointerMoved;
  } else if (rec->spanthree) {
    screen->PointerMoved = ORVSpanthreePointerMoved;
  } else if (rec->spanfour) {
    screen->PointerMoved = ORVSpanfourPointerMoved;
  }
  if (rec->pseudoXinerama && (rec->merged || rec->spanthree || rec->spanfour || rec->kvd))
    PSRAMAExtensionInit();
  return true;
}

// The framebuffer's base, the SaveScreen and CloseScreen hooks, and gamma.
bool InstallScreenHooks(ScreenInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ScreenPtr pScreen = h.pScreen;
  ORVRec* rec = h.rec;
  screen->memPhysBase = rec->fbPhysAddress;
  screen->fbOffset = rec->fbOffset;
  static const SaveScreenProcPtr kSaveScreen[] = {ORVSaveScreen, ORVSaveScreenCrtc2,
                                                  ORVSaveScreenCrtc3, ORVSaveScreenCrtc4};
  pScreen->SaveScreen = kSaveScreen[rec->head >= 0 && rec->head < 4 ? rec->head : 0];
  rec->CloseScreen = pScreen->CloseScreen;
  pScreen->CloseScreen = ORVCloseScreen;
  if (screen->bitsPerPixel != 8) screen->ChangeGamma = ORVChangeGamma;
  ORVChangeGamma(h.index, screen->gamma);
  return true;
}

// Xv, the unused options, both cursors off, the start-up logo.
bool InitVideoAndLogo(ScreenInitHead& h) {
  ORVInitXV(h.pScreen);
  if (serverGeneration == 1) xf86ShowUnusedOptions(h.index, h.screen->options);
  ORVDisableCursors(h.rec->pBoard);
  if (ORVLogoWanted(h.screen)) ORVDisplayLogo(h.screen);
  return true;
}

// The set-up steps in their order; the first that fails ends ScreenInit.
using ScreenInitStep = bool (*)(ScreenInitHead&);
constexpr ScreenInitStep kScreenInitSteps[] = {
    OpenApertures,
    SaveConsoleState,
    StartDevice,
    ShowFirstMode,
    SetVisuals,
    ChooseFramebufferMemory,
    InitFramebufferLayer,
    InitOffscreenManager,
    InitAcceleration,
    InitCursor,
    InitColormap,
    InitShadowAndPower,
    InstallDesktopHooks,
    InstallScreenHooks,
    InitVideoAndLogo,
};

}  // namespace

Bool ORVScreenInit(int index, ScreenPtr pScreen, int, char**) {
  ScrnInfoPtr screen = ScreenOf(index);
  ScreenInitHead head{index, pScreen, screen, ORVPTR(screen), VGAHWPTR(screen)};
  for (ScreenInitStep step : kScreenInitSteps) {
    if (!step(head)) return FALSE;
  }
  return TRUE;
}
