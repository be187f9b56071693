// The driver core's device binding: the process's device map, enabling and
// disabling heads, starting and stopping them, and the client calls. The
// engines' start-up programs are in engine2d_startup.cpp.
#include "xdriver/kstrn_device.h"

#include <initializer_list>
#include <new>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/chip_ids.h"
#include "core/dbg_output.h"
#include "core/engine_wait.h"
#include "core/hw_register_access.h"
#include "core/lnx_device.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/orv_ioctl.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/regs/dma.h"
#include "core/regs/engine2d.h"
#include "core/regs/engine3d.h"
#include "xdriver/context2d.h"
#include "xdriver/data2d.h"
#include "xdriver/engine2d_startup.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/orv_features.h"
#include "xdriver/primary_surface.h"
#include "xdriver/surface2d.h"
#include "xdriver/temp_bit.h"

namespace {

// The process's devices by kernel minor number, shared by every head of
// every board.
LnxDeviceTable* g_pDeviceMap = nullptr;

// Pixel formats of the enable request by bits per pixel: storage bits and
// the two format codes.
struct PixelFormats {
  uint32_t bpp, storage, format, format2;
};
constexpr PixelFormats kPixelFormats[] = {
    {8, 8, 17, 16},
    {16, 16, 40, 32},
    {30, 32, 52, 52},
    {32, 32, 50, 48},
};

constexpr uint32_t kEnableAnswerOk = 1;
// The device object's local-DMA word in bus-mastering mode 2.
constexpr uint32_t kLocalDmaMode = 2;
constexpr uint32_t kRequestAnswerOk = 0;

// The enable request: the mode record and the kernel's handle.
struct EnableRequest {
  VideoMode mode;
  uint64_t kernelHandle;
};
static_assert(sizeof(EnableRequest) == 128);

uint32_t BitCount(uint32_t v) { return static_cast<uint32_t>(__builtin_popcount(v)); }

// The surface the X server draws into when it is not the primary (a
// post-draw transform's bitmap), else none.
DeviceBitmap* DrawnSurface(PDEV* pdev) {
  DeviceBitmap* target = pdev->data2d.target;
  return target != nullptr && target != &pdev->data2d.Primary() ? target : nullptr;
}

// Feature entries the notifier looks at, at most.
constexpr unsigned kMaxFeatureEntries = 64;
// The feature word of a head with a TV output.
constexpr uint32_t kFeatureTvWanted = 1;

LRECT RectOf(const OrvRegion& r) {
  return {static_cast<int32_t>(r.x0), static_cast<int32_t>(r.y0), static_cast<int32_t>(r.x1),
          static_cast<int32_t>(r.y1)};
}

// The kernel's disable request takes the head's handle as its argument.
void DisableHandle(LnxDevice* device, uint64_t handle) {
  device->Ioctl(ORV_IOCTL_DISABLE_DEVICE, reinterpret_cast<void*>(static_cast<uintptr_t>(handle)),
                OrvIocSize(ORV_IOCTL_DISABLE_DEVICE));
}

}  // namespace

uint32_t KstrnInitDriver(const char*) {
  if (g_pDeviceMap == nullptr) {
    g_pDeviceMap = new (std::nothrow) LnxDeviceTable;
    if (g_pDeviceMap == nullptr) return kKstrnNoMemory;
  }
  return LnxDeviceTable::Prepare() ? kKstrnSuccess : kKstrnNoKernelModule;
}

void KstrnCleanupDriver() {
  delete g_pDeviceMap;
  g_pDeviceMap = nullptr;
}

namespace {

// The server never unloads the driver (the module has no tear-down); the
// map goes with the module when the process ends or the module is closed.
struct DeviceMapRelease {
  ~DeviceMapRelease() { KstrnCleanupDriver(); }
} g_deviceMapRelease;

}  // namespace

uint32_t KstrnEnableDevice(KstrnDesktopDesc* desc) {
  if (desc == nullptr) return kKstrnBadArgument;
  if (g_pDeviceMap == nullptr) {
    g_pDeviceMap = new (std::nothrow) LnxDeviceTable;
    if (g_pDeviceMap == nullptr) return kKstrnNoMemory;
  }
  const bool local = desc->busMastering != 0;
  const uint32_t minor = LnxDevice::GetMinor(desc->bus, desc->device, desc->function, local);
  LnxDevice* device = g_pDeviceMap->Acquire(minor, local);
  if (device == nullptr) return kKstrnOpenFailed;

  const PixelFormats* formats = nullptr;
  for (const PixelFormats& f : kPixelFormats) {
    if (f.bpp == desc->bitsPerPixel) formats = &f;
  }
  if (desc->desktopKind > kDesktopFourHead || formats == nullptr) {
    g_pDeviceMap->Release(device);
    return kKstrnBadArgument;
  }
  VideoMode& m = desc->mode;
  m = {};
  m.desktopKind = desc->desktopKind;
  m.dimension1 = desc->width;
  m.dimension2 = desc->height;
  m.bitsPerPixel = desc->bitsPerPixel;
  m.bytesPerPixel = formats->storage >> 3;
  m.storageBits = formats->storage;
  m.pixelFormat = formats->format;
  m.pixelFormat2 = formats->format2;
  m.caller32 = desc->refresh;
  m.redMask = desc->redMask;
  m.greenMask = desc->greenMask;
  m.blueMask = desc->blueMask;
  m.redBits = BitCount(desc->redMask);
  m.virtualWidth = desc->virtualWidth;
  m.lines = desc->lines;
  m.virtualHeight = desc->virtualHeight;
  m.localDma = desc->busMastering;
  m.unit = desc->head;
  m.controller = desc->controller;
  m.callerFlag80 = desc->videoBridge;
  m.registerMapping = reinterpret_cast<uint64_t>(desc->registers);
  m.frameBufferMapping = reinterpret_cast<uint64_t>(desc->frameBuffer);
  m.registerWindowSize = desc->registerSize;
  m.frameBufferMapSize = desc->frameBufferSize;

  // The kernel gets the tracking word's value; the device object its
  // address.
  EnableRequest request{};
  request.mode = m;
  request.mode.lastRegWritten = desc->trackingWord != nullptr ? *desc->trackingWord : 0;
  if (local) request.mode.lastRegWritten = reinterpret_cast<uint64_t>(desc->trackingWord);
  m.lastRegWritten = reinterpret_cast<uint64_t>(desc->trackingWord);
  if (device->Ioctl(ORV_IOCTL_ENABLE_DEVICE, &request, sizeof(request)) !=
      static_cast<int>(kEnableAnswerOk)) {
    g_pDeviceMap->Release(device);
    return kKstrnKernelRefused;
  }

  uint8_t ok = 0;
  PDEV* pdev = new PDEV(device, &m, request.kernelHandle, &ok);
  if (pdev == nullptr || !ok) {
    delete pdev;
    DisableHandle(device, request.kernelHandle);
    g_pDeviceMap->Release(device);
    return kKstrnNoMemory;
  }
  if (desc->hwRotation == 1) pdev->bindingFlags |= kPdevRotateCW;
  if (desc->hwRotation == -1) pdev->bindingFlags |= kPdevRotateCCW;
  desc->pdev = pdev;
  desc->trackingWord = reinterpret_cast<uint32_t*>(m.lastRegWritten);
  return kKstrnSuccess;
}

void KstrnDisableDevice(PDEV* pdev) {
  if (pdev == nullptr) return;
  LnxDevice* device = pdev->device;
  uint64_t handle = pdev->kernelHandle;
  delete pdev;
  if (device == nullptr) return;
  DisableHandle(device, handle);
  if (g_pDeviceMap != nullptr) g_pDeviceMap->Release(device);
}

namespace {

// The engine reaching a fresh sync tag: what it was given has run.
bool SyncEngine(PDEV* pdev) {
  BmPrimInt* prim = pdev->primInt;
  if (prim == nullptr) return true;
  const uint32_t tag = prim->WriteSyncPacket();
  prim->Start();
  return prim->WaitForSyncTag(tag);
}

void EnableScratch(PDEV* pdev) {
  for (unsigned i = 0; i < 2; ++i) {
    if (TempBit* t = pdev->data2d.tempBits[i]) t->Enable(pdev->surfaceManager);
  }
}

void DisableScratch(PDEV* pdev) {
  for (unsigned i = 0; i < 2; ++i) {
    if (TempBit* t = pdev->data2d.tempBits[i]) t->Disable(pdev->surfaceManager);
  }
}

// The board's first two-colour cursor buffer: the one the hardware cursor
// draws its images in.
HardPointerBuffer* CursorBuffer(PDEV* pdev) { return pdev->pointer.twoColour[0]; }

bool EnableCursorBuffer(PDEV* pdev) {
  HardPointerBuffer* buffer = CursorBuffer(pdev);
  if (buffer == nullptr) return false;
  return buffer->enabled || buffer->Enable(pdev->surfaceManager);
}

void DisableCursorBuffer(PDEV* pdev) {
  if (HardPointerBuffer* buffer = CursorBuffer(pdev)) buffer->Disable(pdev->surfaceManager);
}

// A start that failed after the features were set up: the cursor buffer,
// the scratch bitmaps and the features' surfaces and interfaces go back.
uint32_t UnwindStart(PDEV* pdev, uint32_t status) {
  DisableCursorBuffer(pdev);
  DisableScratch(pdev);
  if (pdev->featureMgr != nullptr) pdev->featureMgr->Cleanup(pdev);
  return status;
}

}  // namespace

uint32_t KstrnStartDevice(PDEV* pdev, KstrnStartResult* result) {
  if (pdev == nullptr || pdev->device == nullptr) return kKstrnNoDevice;
  const uint32_t mode = pdev->localDma;
  if (mode == kLocalDmaMode && !(pdev->bindingFlags & kPdevLocalDmaRunning) &&
      pdev->primInt != nullptr) {
    if (!pdev->primInt->Reset()) return kKstrnKernelRefused;
    pdev->bindingFlags |= kPdevLocalDmaRunning;
  }
  if (!(pdev->bindingFlags & kPdevStartedOnce)) {
    const uint32_t status = ApplyEAR547(pdev);
    if (status != kKstrnSuccess) return status;
    if (mode != 0) SetupHardwareForDisplayDriver(pdev);
    pdev->bindingFlags |= kPdevStartedOnce;
  }
  if (!pdev->device->Start(pdev)) return kKstrnKernelRefused;
  pdev->Activate();
  if (pdev->data2d.context != nullptr) pdev->data2d.context->SetContext(pdev);
  if (!CreatePrimarySurface(pdev)) return kKstrnSetupFailed;
  if (pdev->featureMgr == nullptr || !pdev->featureMgr->Setup(pdev)) return kKstrnSetupFailed;
  EnableScratch(pdev);
  if (!EnableCursorBuffer(pdev)) return UnwindStart(pdev, kKstrnSetupFailed);
  if (result == nullptr) return kKstrnSuccess;

  DeviceBitmap& primary = pdev->data2d.Primary();
  uint8_t* cpu = LockSurfaceCpu(&primary);
  if (cpu == nullptr) {
    dbgOutput("------------------------------------------------\n");
    dbgOutput("Fail to allocate apperture for primary surface. \nTry to modprobe the orv kernel "
              "module with\n the option regSysMmFlags=0\n");
    dbgOutput("------------------------------------------------\n");
    return UnwindStart(pdev, kKstrnNoAperture);
  }
  OrvDeclarePrimaryRequest declare{};
  declare.surfaceBlock = primary.block != nullptr ? primary.block->busAddress : 0;
  declare.apertureBlock =
      primary.aperture != nullptr && primary.aperture->block != nullptr ? primary.aperture->block->busAddress : 0;
  declare.pdevHandle = pdev->kernelHandle;
  if (pdev->device->Ioctl(ORV_IOCTL_DECLARE_PRIMARY, &declare, sizeof(declare)) !=
      static_cast<int>(kRequestAnswerOk)) {
    ReleaseSurfaceCpu(&primary);
    return UnwindStart(pdev, kKstrnKernelRefused);
  }
  // The cursor's images are written by the processor at this address of the
  // frame-buffer mapping; the engines read them at the local address.
  HardPointerBuffer* cursor = CursorBuffer(pdev);
  uint8_t* cursorCpu = LockSurfaceCpu(cursor);
  if (cursorCpu == nullptr) {
    ReleaseSurfaceCpu(&primary);
    return UnwindStart(pdev, kKstrnNoAperture);
  }
  // With a post-draw transform the X server draws into the transform's
  // bitmap: the framebuffer is there, the display stays on the primary.
  DeviceBitmap* drawn = DrawnSurface(pdev);
  uint8_t* drawnCpu = drawn != nullptr ? LockSurfaceCpu(drawn) : cpu;
  if (drawnCpu == nullptr) {
    ReleaseSurfaceCpu(cursor);
    ReleaseSurfaceCpu(&primary);
    return UnwindStart(pdev, kKstrnNoAperture);
  }
  *result = {};
  const uint8_t* frameBuffer = reinterpret_cast<const uint8_t*>(pdev->mode.frameBufferMapping);
  if (frameBuffer == nullptr) frameBuffer = const_cast<uint8_t*>(pdev->common->frameBuffer);
  result->frameBufferOffset = static_cast<uint32_t>(drawnCpu - frameBuffer);
  result->displayOffset = primary.block != nullptr ? static_cast<uint32_t>(primary.block->offset) : 0;
  result->cursorAperture = static_cast<uint64_t>(cursorCpu - frameBuffer);
  result->cursorOffset = cursor->block != nullptr ? cursor->block->busAddress : 0;
  pdev->bindingFlags |= kPdevPrimaryDeclared;
  return kKstrnSuccess;
}

uint32_t KstrnStopDevice(PDEV* pdev) {
  if (pdev == nullptr || pdev->device == nullptr) return kKstrnNoDevice;
  // A wait that runs out leaves the engine with work that may read any
  // surface: what the stop gives up is set aside until the device goes,
  // never handed out again.
  MmSetAsideFrees setAside(pdev->surfaceManager);
  bool ok = WaitEngineIdle(pdev->common, HwReadRegister) && SyncEngine(pdev);
  if (!ok) setAside.Hold();
  if (pdev->bindingFlags & kPdevPrimaryDeclared) {
    if (HardPointerBuffer* cursor = CursorBuffer(pdev)) ReleaseSurfaceCpu(cursor);
    if (DeviceBitmap* drawn = DrawnSurface(pdev)) ReleaseSurfaceCpu(drawn);
    ReleaseSurfaceCpu(&pdev->data2d.Primary());
    pdev->bindingFlags &= ~kPdevPrimaryDeclared;
  }
  DisableScratch(pdev);
  if (CFeatureMgr* features = pdev->featureMgr) {
    // The features' stop drains the engine once more; when that does not
    // end, their surfaces are set aside too.
    if (!features->Disable(pdev) && pdev->primInt != nullptr) setAside.Hold();
    features->Cleanup(pdev);
  }
  DisableCursorBuffer(pdev);
  if (pdev->localDma == kLocalDmaMode) pdev->bindingFlags &= ~kPdevLocalDmaRunning;
  pdev->Desactivate();
  if (!pdev->device->Stop(pdev)) ok = false;
  return ok ? kKstrnSuccess : kKstrnKernelRefused;
}

uint32_t KstrnNotifyFeatureMgr(PDEV* pdev, FeatureInfo* features) {
  if (pdev == nullptr || pdev->featureMgr == nullptr) return kKstrnNoDevice;
  CFeatureMgr* f = pdev->featureMgr;
  // The list is the front end's; a bound keeps a looped one from hanging.
  unsigned entries = 0;
  for (const FeatureInfo* e = features; e != nullptr && entries < kMaxFeatureEntries;
       e = e->next, ++entries) {
    if (e->kind != kFeatureTvOut) continue;
    f->flags = kFeatureTvWanted;
    if (e->flags & 0x1) {
      f->outputKind = 0;
    } else if (e->flags & 0x2) {
      f->outputKind = 1;
    } else if (e->flags & 0x4) {
      f->outputKind = 2;
    } else if (e->flags & 0x8) {
      f->outputKind = 3;
    }
    // The standard decides the back buffers' lines: NTSC's 484 or 576.
    f->tvStandard = static_cast<uint32_t>(e->tv.standard);
    const OrvTvOptions& tv = e->tv;
    f->procamp = SProcampValues{{tv.antiFlickerLevel, tv.brightness, tv.colorEnable, tv.contrast,
                                 tv.gamma, tv.hue, tv.saturation}};
    f->srcRect = tv.selectedRegionValid ? RectOf(tv.selectedRegion) : LRECT{};
    f->dstRect = tv.outputRegionValid ? RectOf(tv.outputRegion) : LRECT{};
  }
  return kKstrnSuccess;
}

uint32_t KstrnStartFeatures(PDEV* pdev) {
  if (pdev == nullptr || pdev->featureMgr == nullptr || !pdev->active) return kKstrnNoDevice;
  return pdev->featureMgr->Enable(pdev) ? kKstrnSuccess : kKstrnSetupFailed;
}

uint32_t KstrnStopFeatures(PDEV* pdev) {
  if (pdev == nullptr || pdev->featureMgr == nullptr || !pdev->active) return kKstrnNoDevice;
  pdev->featureMgr->Disable(pdev);
  return kKstrnSuccess;
}

uint32_t KstrnEnableUserProcess(PDEV* pdev, KstrnUserProcess* out) {
  if (pdev == nullptr || pdev->device == nullptr || out == nullptr) return kKstrnNoDevice;
  out->minor = pdev->device->minor;
  out->pdevHandle = pdev->kernelHandle;
  return kKstrnSuccess;
}

uint32_t KstrnDisableUserProcess(PDEV* pdev, uint32_t flag) {
  if (pdev == nullptr || pdev->device == nullptr) return kKstrnNoDevice;
  return flag != 0 ? kKstrnSuccess : kKstrnBadArgument;
}

namespace {

// The device's buffer request of a client's: access 3 when flagged, else 1.
orv_ioctl_buffer BufferRequest(const KstrnDeviceBuffer& request) {
  orv_ioctl_buffer buffer{};
  buffer.kind = request.kind;
  buffer.flags = request.flagged ? 3 : 1;
  buffer.reserved = request.extra;
  buffer.size = request.size;
  buffer.offset = request.handle;
  return buffer;
}

uint32_t CheckBufferCall(PDEV* pdev, const KstrnDeviceBuffer* request) {
  if (pdev == nullptr || pdev->device == nullptr) return kKstrnNoDevice;
  if (request == nullptr || request->size == 0 || request->kind > 3) return kKstrnBadArgument;
  return kKstrnSuccess;
}

}  // namespace

uint32_t KstrnAllocateDeviceBuffer(PDEV* pdev, KstrnDeviceBuffer* request) {
  const uint32_t status = CheckBufferCall(pdev, request);
  if (status != kKstrnSuccess) return status;
  orv_ioctl_buffer buffer = BufferRequest(*request);
  buffer.offset = 0;
  void* address = pdev->device->AllocateBuffer(buffer);
  if (address == nullptr) return kKstrnSetupFailed;
  request->address = address;
  request->handle = buffer.offset;
  return kKstrnSuccess;
}

uint32_t KstrnFreeDeviceBuffer(PDEV* pdev, KstrnDeviceBuffer* request) {
  const uint32_t status = CheckBufferCall(pdev, request);
  if (status != kKstrnSuccess) return status;
  orv_ioctl_buffer buffer = BufferRequest(*request);
  return pdev->device->FreeBuffer(request->address, buffer) ? kKstrnSuccess : kKstrnNoMemory;
}
