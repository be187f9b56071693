// The overlay's scaler: a source surface the client writes through the
// processor, and a transform sequence (the frame, then its copies into the
// target) that the kernel module runs at every vertical sync once the
// overlay's VSync interrupt is on.
#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "core/bm_transform.h"
#include "core/dbg_output.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/surface2d.h"
#include "xdriver/video_frame.h"
#include "xdriver/video_layer.h"

namespace {

constexpr uint32_t kScalerFormat = 0x2e;
constexpr uint32_t kScalerLayout = 3;
// The overlay's transform interface kind and its VSync request.
constexpr EBmPostType kVideoOverlayInterface = 4;
constexpr uint32_t kVSyncVideoOverlay = 0x20000000;

}  // namespace

uint32_t ORVVideoAllocHWScalerSurface(ORVVideoPortPtr port, uint32_t fourcc, uint32_t width,
                                      uint32_t height, uint32_t slot, void** address,
                                      uint32_t* pitch) {
  slot &= 1;
  *address = nullptr;
  *pitch = 0;
  PDEV* pdev = port->device;
  CommonData* common = pdev->common;
  if (port->scalerInterface == nullptr) {
    port->scalerInterface = BmXformMgr::AllocateInterface(common, pdev->unit, kVideoOverlayInterface);
    if (port->scalerInterface == nullptr) return 0;
  }
  ORVVideoFreeLocalSurface(port, slot);
  Surface2d* s = VideoPlaceSurface(
      port, slot, (width + kVideoPitchAlign - 1) & ~(kVideoPitchAlign - 1), kScalerLayout,
      kScalerFormat, Dim2dHeight::Get(height), 0, fourcc == kFourccYUY2);
  uint8_t* cpu = nullptr;
  if (s != nullptr) {
    port->surfaces[slot] = s;
    if (VideoWaitSurfaceIdle(s)) {
      BmFlushEngine(common);
      cpu = LockSurfaceCpu(s);
    } else if (s->master == nullptr && pdev->surfaceManager != nullptr) {
      // The engine may still read the memory for its previous owner: it is
      // set aside until the device goes, so that no one writes it.
      pdev->surfaceManager->SetAsideSurface(s);
    }
  }
  if (cpu == nullptr) {
    ORVVideoFreeLocalSurface(port, slot);
    BmXformMgr::FreeInterface(common, &port->scalerInterface);
    return 0;
  }
  port->scalerLocked = 1;
  *address = cpu;
  *pitch = s->options.desc.GetHostAperturePitch();
  return s->addressWord;
}

void ORVVideoFreeHWScalerSurface(ORVVideoPortPtr port, uint32_t slot) {
  slot &= 1;
  // The kernel module must stop running the sequence before it goes.
  if (port->vsyncState != 0) ORVVideoSetVSyncInterrupt(port, 0);
  if (port->scalerInterface != nullptr)
    BmXformMgr::FreeInterface(port->device->common, &port->scalerInterface);
  if (port->scalerLocked && port->surfaces[slot] != nullptr) ReleaseSurfaceCpu(port->surfaces[slot]);
  port->scalerLocked = 0;
  ORVVideoFreeLocalSurface(port, slot);
}

void ORVVideoHWScalerDisplay(ORVVideoPortPtr port, uint32_t fourcc, uint32_t y, uint32_t p1,
                             uint32_t p2, uint32_t srcW, uint32_t srcH, uint32_t dst,
                             uint32_t index, int32_t kind, uint32_t dstW, uint32_t dstH,
                             uint32_t dstFormat, uint32_t target, uint32_t targetPitch,
                             uint32_t boxCount, const ORVVideoBox* boxes) {
  BmXformInt* xform = port->scalerInterface;
  if (xform == nullptr) return;
  PDEV* pdev = port->device;
  CommonData* common = pdev->common;
  if (!xform->BeginCmd()) return;
  BmPrimInt* devicePrevious = pdev->primInt;
  BmPrimInt* boardPrevious = common->primInt;
  pdev->primInt = xform;
  common->primInt = xform;
  port->dirty = 1;
  VideoWriteFrame(port, xform, fourcc, y, p1, p2, srcW, srcH, dst, index, kind, dstW, dstH,
                  dstFormat);
  for (uint32_t i = 0; i < boxCount; ++i) {
    const ORVVideoBox& b = boxes[i];
    VideoWriteBlit(xform, target, targetPitch, dstFormat, b.x, b.y, dst, dstW, b.srcX, b.srcY,
                   b.width, b.height);
  }
  if (!xform->EndCmd()) dbgOutput("The video scaler's sequence did not fit its buffer.\n");
  pdev->primInt = devicePrevious;
  common->primInt = boardPrevious;
  ORVVideoSetVSyncInterrupt(port, 1);
}

void ORVVideoStopHWScaler(ORVVideoPortPtr port, uint32_t) {
  ORVVideoSetVSyncInterrupt(port, 0);
  PDEV* pdev = port->device;
  SharedLockedData_t* shared = pdev->sharedLocked;
  if (!BmAcquireCommandLock(shared, kCmdLockOwnerXDriver)) return;
  Sync2dAndWait(pdev->common, pdev->primInt, "video scaler stop");
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
}

uint32_t ORVVideoSetVSyncInterrupt(ORVVideoPortPtr port, uint32_t state) {
  if (port->scalerInterface == nullptr) return 0;
  if (state == port->vsyncState) return 1;
  PDEV* pdev = port->device;
  // From now on every drawing bracket of the device takes the command lock:
  // the kernel module runs the scaler's sequence at vertical sync.
  pdev->data2d.bracket.lockDrawing = 1;
  OrvVSyncStateRequest request;
  request.word[0] = kVSyncVideoOverlay;
  request.word[1] = 0;
  request.word[2] = state;
  request.word[3] = port->scalerInterface->InterruptIdentity();
  if (!OsSetVSyncInterruptState(pdev->device, &request)) return 0;
  port->vsyncState = state;
  return 1;
}
