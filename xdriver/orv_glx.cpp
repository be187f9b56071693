// The hooks the board's OpenGL module finds in this module by name: mode
// switch notices, direct-rendering clients, one-page device buffers and
// the current mode.
#include "xdriver/orv_glx.h"

#include "platform/xserver/xf86_server.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_rec.h"

namespace {

// A client buffer: one system page of this buffer type.
constexpr uint32_t kClientBufferKind = 3;

// The screen record of the X screen the module names (its first word is
// the screen number), or null.
ORVRec* RecOf(ScreenPtr screen, ScrnInfoPtr* info = nullptr) {
  if (screen == nullptr || screen->myNum < 0 || screen->myNum >= xf86NumScreens) return nullptr;
  ScrnInfoPtr scrn = xf86Screens[screen->myNum];
  if (info != nullptr) *info = scrn;
  return scrn != nullptr ? ORVPTR(scrn) : nullptr;
}

}  // namespace

extern "C" {

int ORVGLXInitialize(ScreenPtr screen, OrvGlxModeSwitchProc callback) {
  ScrnInfoPtr info = nullptr;
  ORVRec* rec = RecOf(screen, &info);
  if (rec == nullptr) return 0;
  if (rec->busMastering != kBusMasteringKernel) {
    xf86DrvMsg(info->scrnIndex, X_WARNING,
               "OpenGL is disabled on this screen because it is not hardware accelerated\n");
    return 0;
  }
  rec->glxActive = 1;
  rec->glxModeSwitch = callback;
  return 1;
}

int ORVGLXCleanup(ScreenPtr screen) {
  ORVRec* rec = RecOf(screen);
  if (rec == nullptr) return 0;
  rec->glxActive = 0;
  return 1;
}

int ORVGLXEnableDirectClient(ScreenPtr screen, uint8_t* minor, uint64_t* handle) {
  ORVRec* rec = RecOf(screen);
  if (rec == nullptr || minor == nullptr || handle == nullptr) return 0;
  KstrnUserProcess process{};
  if (KstrnEnableUserProcess(rec->pdev, &process) != kKstrnSuccess) return 0;
  *minor = static_cast<uint8_t>(process.minor);
  *handle = process.pdevHandle;
  return 1;
}

int ORVGLXDisableDirectClient(ScreenPtr screen) {
  ORVRec* rec = RecOf(screen);
  if (rec == nullptr) return 0;
  return static_cast<int>(KstrnDisableUserProcess(rec->pdev, 0));
}

int ORVGLXAllocateClientBuffer(ScreenPtr screen, void** address, uint64_t* handle) {
  ORVRec* rec = RecOf(screen);
  if (rec == nullptr || address == nullptr || handle == nullptr) return 0;
  KstrnDeviceBuffer buffer{};
  buffer.size = static_cast<uint32_t>(xf86getpagesize());
  buffer.kind = kClientBufferKind;
  buffer.flagged = 1;
  buffer.extra = 1;
  if (KstrnAllocateDeviceBuffer(rec->pdev, &buffer) != kKstrnSuccess) return 0;
  *address = buffer.address;
  *handle = buffer.handle;
  return buffer.handle != 0 ? 1 : 0;
}

int ORVGLXFreeClientBuffer(ScreenPtr screen, void* address, uint64_t handle) {
  ORVRec* rec = RecOf(screen);
  if (rec == nullptr) return 0;
  KstrnDeviceBuffer buffer{};
  buffer.size = static_cast<uint32_t>(xf86getpagesize());
  buffer.kind = kClientBufferKind;
  buffer.flagged = 1;
  buffer.address = address;
  buffer.handle = handle;
  return KstrnFreeDeviceBuffer(rec->pdev, &buffer) == kKstrnSuccess ? 1 : 0;
}

int ORVGLXGetModeInfo(ScreenPtr screen, uint32_t* modeInfo) {
  ScrnInfoPtr info = nullptr;
  ORVRec* rec = RecOf(screen, &info);
  if (rec == nullptr || modeInfo == nullptr) return 0;
  const uint32_t rotated = rec->shadowRotate != 0 || rec->hwRotate != 0 ? 1 : 0;
  modeInfo[0] = rec->modeInfo.ulDispWidth;
  modeInfo[1] = rec->modeInfo.ulDispHeight;
  modeInfo[2] = static_cast<uint32_t>(info->bitsPerPixel);
  modeInfo[3] = rotated;
  return static_cast<int>(rotated);
}

}  // extern "C"
