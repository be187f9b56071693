#include "xdriver/video_layer.h"
#include "xdriver/video_frame.h"

#include <string.h>

#include <initializer_list>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/bm_transform.h"
#include "core/chip_ids.h"
#include "core/dbg_output.h"
#include "core/hw_thread2d.h"
#include "core/ioc_request_mgr.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/regs/engine2d.h"
#include "core/regs/engine3d.h"
#include "core/utils.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/surface2d.h"

namespace {

// The hardware stage numbers the three records go to, and the five stages
// the default state sets.
constexpr uint32_t kStageNumbers[kVideoStagesUsed] = {0, 2, 4};
constexpr uint32_t kDefaultStageNumbers[] = {0, 2, 4, 8, 10};
constexpr uint32_t kStageNumberMask = 0x1F;
constexpr uint8_t kStageFlagOption = 0x1;
constexpr uint8_t kStageFlagConstants = 0x6;

// ---- Packet headers ----------------------------------------------------------------------
constexpr uint32_t kHdrTarget = PacketHeader(k2dIdxDescAddress0, k2dIdxDescMode0);
constexpr uint32_t kHdrControl = PacketHeader(k2dIdxControl, k3dIdxWordE8);
constexpr uint32_t UnitHeader(uint32_t u) {
  return PacketHeader(k3dIdxUnitControl0 + u, k3dIdxTexAddress, k3dIdxTexMode, k3dIdxTexDimensions);
}
constexpr uint32_t kHdrUnitWords = PacketHeader(k3dIdxTexFilter, k3dIdxTexWord585, k3dIdxTexWordCC, k3dIdxTexWordD0);
constexpr uint32_t kHdrUnitZeros = PacketHeader(k3dIdxTexWordC8, k3dIdxTexWordD4, k3dIdxTexWordD8);
constexpr uint32_t kHdrStage = PacketHeader(k3dIdxStageControl, k3dIdxStageSecond, kIdxDiscard, kIdxDiscard);
constexpr uint32_t kHdrStageConstants =
    PacketHeader(k3dIdxStageConst0, k3dIdxStageConst1, k3dIdxStageConst2, k3dIdxStageConst3);
constexpr uint32_t kHdrTag = PacketHeader(k2dIdxSyncTag);
// A corner j (0-2) of a coordinate record: w3, w2, w1 and last w0 into the
// register of the record's kind.
constexpr uint32_t CornerHeader(uint32_t j, uint32_t kindReg, bool alternate) {
  return PacketHeader(k3dIdxVertexW3 + j, k3dIdxVertexW2, alternate ? k3dIdxVertexW1Alt : k3dIdxVertexW1,
                      IndexOfReg(kindReg));
}
// Blits and uploads.
constexpr uint32_t kHdrEngineWord = PacketHeader(k3dIdxWordE8);
constexpr uint32_t kHdrSurfaces =
    PacketHeader(k2dIdxDescMode0, k2dIdxDescAddress0, k2dIdxDescMode1, k2dIdxDescAddress1);
constexpr uint32_t kHdrBlit = PacketHeader(k2dIdxControl, k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo);
constexpr uint32_t kHdrUpload = PacketHeader(k2dIdxControl, k2dIdxStart, k2dIdxOrigin, k2dIdxSize);
constexpr uint32_t kHdrUploadGo =
    PacketHeader(k2dIdxStart, k2dIdxOrigin, k2dIdxStoredSizeGo, k2dIdxSize);

static_assert(UnitHeader(0) == 0x79787780 && UnitHeader(3) == 0x79787783);
static_assert(kHdrUnitWords == 0x74737170 && kHdrUnitZeros == 0x21767572);
static_assert(kHdrStage == 0x20209b99);
static_assert(kHdrStageConstants == 0xa1a09f9e && kHdrControl == 0x2121bac0);
static_assert(CornerHeader(0, k3dRegVertexTex0, false) == 0x635e5d58);
static_assert(CornerHeader(2, k3dRegVertexPosition, true) == 0x605f5d5a);
static_assert(kHdrSurfaces == 0x8a8b8889 && kHdrBlit == 0xe3c2c1c0);
static_assert(kHdrUpload == 0xc3c2c1c0 && kHdrUploadGo == 0xc3e9c2c1);

// ---- Words -------------------------------------------------------------------------------
constexpr uint32_t kUnitEnabled = 0x40100;
constexpr uint32_t kUnitDisabled = 0x10000;
constexpr uint32_t kUnitFilter = 0x1010;
constexpr uint32_t kUnitWord585Video = 0x49;
constexpr uint32_t kUnitHeightBit = 0x10000;
constexpr uint32_t kUnitWidthPacked = 0x2e020000;  // 16-bit texels
constexpr uint32_t kUnitWidthPlanar = 0x12020000;  // 8-bit texels
constexpr uint32_t kUnitTablePlanar = 0x1200000;
constexpr uint32_t kTargetLayoutPrimary = 0x40000;  // drawn into the frame buffer
constexpr uint32_t kTargetLayoutVideo = 0x30000;    // into the overlay's buffer
constexpr uint32_t kEngineControlLater = 0x410CC;
constexpr uint32_t kEngineControl = k3dControlTextureDraw;
constexpr uint32_t kRestoreUnitsOff = 0x1000F;
constexpr uint32_t kRestoreControl = 0x2010CC;
constexpr uint32_t kBlitControl = 0x4C2;
constexpr uint32_t kUploadControl = 0x2004C2;
constexpr uint32_t kUploadGo = 0xFFFFFFFF;
constexpr uint32_t kSourceLayout = 0x40000;
constexpr uint32_t kDestLayout = 0x30000;
constexpr uint32_t kUploadSourcePacked = 0x2e010000;
constexpr uint32_t kUploadSourceYUY2 = 0x2e810000;  // byte-swapped 16-bit pixels
constexpr uint32_t kUploadSourcePlanar = 0x12010000;
constexpr uint32_t kUploadDestPacked = 0x2e030000;
constexpr uint32_t kUploadDestPlanar = 0x12030000;
constexpr uint32_t kSystemMemoryBits = 2;  // | 1 for page-locked PCI memory
constexpr uint32_t kUnitDisabledPrefix = 0;
constexpr uint32_t kVideoPostWord = 5;
constexpr uint32_t kPlainFormat = 16;
constexpr uint32_t kSurfaceFormat16 = 32;
constexpr uint32_t kSurfaceFormat32 = 50;
constexpr uint32_t kSurfaceLayoutByDim = 4;
// Memory types of the two slots.
constexpr uint32_t kSlotMemoryType[2] = {19, 21};

uint32_t FloatWord(float f) {
  uint32_t w;
  memcpy(&w, &f, 4);
  return w;
}

// Writes the words at the cursor of the device's current buffer; nothing
// when no buffer holds them.
void Emit(BmPrimInt* prim, std::initializer_list<uint32_t> words) {
  uint32_t* at = prim->Reserve(static_cast<uint32_t>(words.size()));
  if (at == nullptr) return;
  for (uint32_t w : words) *at++ = w;
}

bool LaterBoard(const PDEV* pdev) { return IsLaterGenerationRevision(pdev->common->revisionBits); }

void EmitSync(BmPrimInt* prim) {
  const uint32_t tag = Sync2dNewTag(prim->shared);
  if (uint32_t* at = prim->Reserve(BmSyncTagWords(k2dIdxSyncTag))) {
    BmWriteSyncTag(at, tag | Sync2dStreamBit(prim), k2dIdxSyncTag, tag);
  }
}

void EmitUnit(BmPrimInt* prim, bool later, uint32_t u, uint32_t plane, uint32_t width,
              uint32_t height, uint32_t table) {
  Emit(prim, {kPacketSyncZero, 0});
  Emit(prim, {UnitHeader(u), 1u << u | kUnitEnabled, plane, width, height | kUnitHeightBit});
  Emit(prim, {kHdrUnitWords, kUnitFilter, kUnitWord585Video, 0xFFFFFFFF, 0});
  Emit(prim, {kHdrUnitZeros, 0, 0, 0});
  if (later && u < 2) Emit(prim, {kPacketUnitTable, table});
}

void EmitUnitOff(BmPrimInt* prim, uint32_t u) {
  Emit(prim, {kPacketSyncZero, 0});
  Emit(prim, {UnitHeader(u), 1u << u | kUnitDisabled, kUnitDisabledPrefix, 0, 0});
}

void EmitStages(ORVVideoPortRec* port, BmPrimInt* prim, uint32_t fourcc) {
  if (port->dirty || fourcc != port->lastFourcc) ORVVideoBuildStages(port, fourcc);
  for (uint32_t n = 0; n < port->stageCount && n < kVideoStagesUsed; ++n) {
    const VideoStage& s = port->stages[n];
    const uint32_t control = (s.control & ~kStageNumberMask) | kStageNumbers[n];
    Emit(prim, {(s.flags & kStageFlagOption) ? kPacketStageWithOption : kHdrStage, control,
                s.second, s.option[0], s.option[1]});
    if (s.flags & kStageFlagConstants) {
      Emit(prim, {kHdrStageConstants, s.constants[0], s.constants[1], s.constants[2],
                  s.constants[3]});
    }
  }
}

// The whole source onto the destination rectangle: texture coordinates
// (0, 0), (1, 0), (0, 1) for units 0-2, the destination's corners with w = 1.
void EmitCoordinates(BmPrimInt* prim, uint32_t dstW, uint32_t dstH) {
  const uint32_t one = FloatWord(1.0f);
  const uint32_t kinds[] = {k3dRegVertexTex0, k3dRegVertexTex1, k3dRegVertexTex2};
  // Corner j of the texture records: (w3, w2, w1, w0) = (0, 0, t, s).
  const uint32_t s[3] = {0, one, 0}, t[3] = {0, 0, one};
  const uint32_t x[3] = {0, FloatWord(static_cast<float>(dstW)), 0};
  const uint32_t y[3] = {0, 0, FloatWord(static_cast<float>(dstH))};
  for (uint32_t j = 0; j < 3; ++j) {
    for (uint32_t kind : kinds) Emit(prim, {CornerHeader(j, kind, false), 0, 0, t[j], s[j]});
    // The destination record: w = 1.0, then y through the alternate w1, x.
    Emit(prim, {CornerHeader(j, k3dRegVertexPosition, j == 2), one, 0, y[j], x[j]});
  }
}

void EmitDefaultState(PDEV* pdev, BmPrimInt* prim) {
  for (uint32_t u = 0; u < 4; ++u) {
    Emit(prim, {UnitStateHeader(u), kUnitEnabled | 1u << u, 0, k3dTexWord585, 0});
    Emit(prim, {kPacketUnitWords, 0xFFFFFFFF, 0, 0, 0});
    if (LaterBoard(pdev)) Emit(prim, {kPacketUnitTable, 0});
  }
  Emit(prim, {kPacketSyncZero, 0});
  Emit(prim, {kPacketAllUnits, kRestoreUnitsOff, 0, 0, 0});
  Emit(prim, {kPacketControl, kRestoreControl});
  for (uint32_t n : kDefaultStageNumbers) {
    Emit(prim, {kPacketStageWithOption, VideoStage::kDefaultControl | n, VideoStage::kDefaultSecond,
                VideoStage::kDefaultControl, VideoStage::kDefaultSecond});
  }
  Emit(prim, {kPacketSyncZero, 0});
  EmitSync(prim);
}

}  // namespace

void VideoWriteFrame(ORVVideoPortRec* port, BmPrimInt* prim, uint32_t fourcc, uint32_t y,
                     uint32_t p1, uint32_t p2, uint32_t srcW, uint32_t srcH, uint32_t dst,
                     uint32_t index, int32_t kind, uint32_t dstW, uint32_t dstH,
                     uint32_t dstFormat) {
  PDEV* pdev = port->device;
  const bool later = LaterBoard(pdev);
  EmitSync(prim);
  Emit(prim, {kHdrTarget, dst,
              dstW | Mode2dFormat::Word(dstFormat) |
                  (kind == kVideoPostPrimary ? kTargetLayoutPrimary : kTargetLayoutVideo)});
  Emit(prim, {kHdrControl, later ? kEngineControlLater : kEngineControl, 0});
  if (VideoIsPlanar(fourcc)) {
    // Unit 1 samples Cr (V), unit 2 Cb (U).
    const uint32_t cr = fourcc == kFourccYV12 ? p2 : p1;
    const uint32_t cb = fourcc == kFourccYV12 ? p1 : p2;
    EmitUnit(prim, later, 0, y, srcW | kUnitWidthPlanar, srcH, kUnitTablePlanar);
    EmitUnit(prim, later, 1, cr, (srcW >> 1) | kUnitWidthPlanar, srcH >> 1, kUnitTablePlanar);
    EmitUnit(prim, later, 2, cb, (srcW >> 1) | kUnitWidthPlanar, srcH >> 1, kUnitTablePlanar);
  } else {
    EmitUnit(prim, later, 0, y, srcW | kUnitWidthPacked, srcH, 0);
    EmitUnitOff(prim, 1);
    EmitUnitOff(prim, 2);
  }
  EmitUnitOff(prim, 3);
  EmitStages(port, prim, fourcc);
  EmitCoordinates(prim, dstW, dstH);
  EmitDefaultState(pdev, prim);
  const uint32_t tag = Sync2dNewTag(prim->shared);
  port->tags[index & 1] = tag;
  Emit(prim, {kHdrTag, tag});
}

void VideoWriteBlit(BmPrimInt* prim, uint32_t dstOffset, uint32_t dstPitch, uint32_t format,
                    int32_t dstX, int32_t dstY, uint32_t srcOffset, uint32_t srcPitch,
                    int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
  auto xy = [](int32_t x, int32_t y) {
    return (static_cast<uint32_t>(x) & 0xFFFF) | static_cast<uint32_t>(y) << 16;
  };
  Emit(prim, {kHdrEngineWord, 0});
  Emit(prim, {kHdrSurfaces, srcPitch | Mode2dFormat::Word(format) | kSourceLayout, srcOffset,
              dstPitch | Mode2dFormat::Word(format) | kDestLayout, dstOffset});
  Emit(prim, {kHdrBlit, kBlitControl, xy(srcX, srcY), xy(dstX, dstY), xy(width, height)});
}

Surface2d* VideoPlaceSurface(ORVVideoPortRec* port, uint32_t slot, uint32_t pitch,
                             uint32_t layout, uint32_t format, uint32_t height, uint32_t bytes,
                             bool swap) {
  PDEV* pdev = port->device;
  Surface2d* s = new Surface2d();
  if (s == nullptr) return nullptr;
  s->memoryId = pdev->data2d.memoryId;
  s->Describe(pdev, pitch, layout, format, height, kSlotMemoryType[slot & 1], k2dLocationLocal);
  if (layout == kLayoutPlain) {
    s->options.desc.size = bytes;
    s->options.physicalSize = s->options.desc.GetPhysicalMemSize(true);
  }
  s->SwapSurfMode(swap);
  if (!s->Enable(pdev->surfaceManager)) {
    delete s;
    return nullptr;
  }
  return s;
}

bool VideoWaitSurfaceIdle(MmSurface* s) {
  return WaitFor("video surface: DMA", kEngineWaitMicroseconds, [&] { return !s->IsBusyDMA(); }) &&
         WaitFor("video surface: drawing", kEngineWaitMicroseconds, [&] {
           uint32_t tag = kSyncTagOfBlock;
           return !s->IsBusyDWG(&tag, true);
         });
}

// ---- Port state -------------------------------------------------------------------------

void ORVVideoInit(PDEV* device, ORVVideoPortPtr* port) {
  *port = nullptr;
  ORVVideoPortRec* p = new ORVVideoPortRec();
  if (p == nullptr) return;
  p->device = device;
  ORVVideoResetColour(p);
  *port = p;
}

void ORVVideoCleanup(ORVVideoPortPtr port) {
  if (port == nullptr) return;
  // Whatever the adaptor left goes with the port.
  if (port->scalerInterface != nullptr) ORVVideoFreeHWScalerSurface(port, 0);
  for (uint32_t slot = 0; slot < 2; ++slot) ORVVideoFreeLocalSurface(port, slot);
  delete port;
}

// ---- Memory -------------------------------------------------------------------------------

int32_t ORVVideoAllocSystemMem(ORVVideoPortPtr port, uint32_t bytes, void** address,
                               uint64_t* busAddress) {
  *address = nullptr;
  *busAddress = 0;
  if (bytes == 0) return kVideoMemNone;
  CommonData* common = port->device->common;
  const uint32_t pages = bytes / kVideoPageBytes + (bytes % kVideoPageBytes != 0 ? 1 : 0);
  if (MmAllocateAGPBuffer(common, kIocAnyUnit, pages, address, busAddress)) return kVideoMemAgp;
  if (MmAllocatePciLockedBuffer(common, kIocAnyUnit, pages, address, busAddress))
    return kVideoMemPciLocked;
  *address = nullptr;
  *busAddress = 0;
  return kVideoMemNone;
}

void ORVVideoFreeSystemMem(ORVVideoPortPtr port, void* address, int32_t kind) {
  CommonData* common = port->device->common;
  if (kind == kVideoMemPciLocked) {
    MmFreePciLockedBuffer(common, kIocAnyUnit, address);
  } else if (kind == kVideoMemAgp) {
    MmFreeAGPBuffer(common, kIocAnyUnit, address);
  }
}

uint32_t ORVVideoAllocLocalSurface(ORVVideoPortPtr port, uint32_t bytes, uint32_t slot) {
  slot &= 1;
  ORVVideoFreeLocalSurface(port, slot);
  Surface2d* s = VideoPlaceSurface(port, slot, 0, kLayoutPlain, kPlainFormat, 1, bytes, false);
  if (s == nullptr) return 0;
  port->surfaces[slot] = s;
  return s->addressWord;
}

uint32_t ORVVideoAllocLocalSurfaceByDim(ORVVideoPortPtr port, uint32_t width, uint32_t height,
                                        uint32_t bitsPerPixel, uint32_t slot) {
  slot &= 1;
  ORVVideoFreeLocalSurface(port, slot);
  const uint32_t pitch = (width + kVideoPitchAlign - 1) & ~(kVideoPitchAlign - 1);
  const uint32_t format = bitsPerPixel == 16 ? kSurfaceFormat16 : kSurfaceFormat32;
  Surface2d* s = VideoPlaceSurface(port, slot, pitch, kSurfaceLayoutByDim, format,
                                   Dim2dHeight::Get(height), 0, false);
  if (s == nullptr) return 0;
  port->surfaces[slot] = s;
  return s->addressWord;
}

void ORVVideoFreeLocalSurface(ORVVideoPortPtr port, uint32_t slot) {
  slot &= 1;
  Surface2d* s = port->surfaces[slot];
  if (s == nullptr) return;
  MmSurfaceManager* manager = port->device->surfaceManager;
  // A frame posted before may still be read or written by the engine: when
  // it does not end in time, the memory is set aside until the device goes
  // instead of going back to the heap for another owner.
  MmSetAsideFrees setAside(manager);
  if (!ORVVideoFramesDone(port)) setAside.Hold();
  s->Disable(manager);
  if (manager != nullptr) manager->DestroySurfaceClone(s);
  delete s;
  port->surfaces[slot] = nullptr;
}

// ---- Drawing ------------------------------------------------------------------------------

bool ORVVideoWait(ORVVideoPortPtr port, uint32_t index) {
  const uint32_t tag = port->tags[index & 1];
  if (tag == 0) return true;
  return Sync2dWaitForTag(port->device->common, tag, "video frame");
}

bool ORVVideoFramesDone(ORVVideoPortPtr port) { return ORVVideoWait(port, 0) && ORVVideoWait(port, 1); }

void ORVVideoDisplay(ORVVideoPortPtr port, uint32_t fourcc, uint32_t y, uint32_t p1, uint32_t p2,
                     uint32_t srcW, uint32_t srcH, uint32_t dst, uint32_t index, int32_t kind,
                     uint32_t dstW, uint32_t dstH, uint32_t dstFormat) {
  PDEV* pdev = port->device;
  BmPrimInt* prim = pdev->primInt;
  DrawBracket bracket(pdev);
  if (!bracket.Drawing()) return;
  HwThread2d::SetupHardware(pdev->sharedLocked, prim);
  VideoWriteFrame(port, prim, fourcc, y, p1, p2, srcW, srcH, dst, index, kind, dstW, dstH,
                  dstFormat);
  if (kind == kVideoPostPrimary) {
    prim->Start();
  } else {
    const uint32_t buffer = kind == 2 ? 12 : kind == 1 ? 8 : 4;
    prim->StartVideo(index, kVideoPostWord, buffer);
  }
}

void ORVVideoSystem2Local(ORVVideoPortPtr port, uint32_t fourcc, uint64_t srcBus,
                          uint32_t dstOffset, uint32_t width, uint32_t height,
                          int32_t memoryKind) {
  PDEV* pdev = port->device;
  BmPrimInt* prim = pdev->primInt;
  const bool packed = fourcc == kFourccUYVY || fourcc == kFourccYUY2;
  const uint32_t source = fourcc == kFourccUYVY   ? kUploadSourcePacked
                          : fourcc == kFourccYUY2 ? kUploadSourceYUY2
                                                  : kUploadSourcePlanar;
  const uint32_t memory = kSystemMemoryBits | (memoryKind == kVideoMemPciLocked ? 1 : 0);
  DrawBracket bracket(pdev);
  if (!bracket.Drawing()) return;
  HwThread2d::SetupHardware(pdev->sharedLocked, prim);
  Emit(prim, {kHdrEngineWord, 0});
  Emit(prim, {kHdrSurfaces, source | width, static_cast<uint32_t>(srcBus) | memory,
              (packed ? kUploadDestPacked : kUploadDestPlanar) | width, dstOffset});
  Emit(prim, {kHdrUpload, kUploadControl, 0, 0, width | height << 16});
  Emit(prim, {kHdrUploadGo, 0, 0, kUploadGo, 0});
  prim->Start();
}

void ORVVideoBlit(ORVVideoPortPtr port, uint32_t dstOffset, uint32_t dstPitch, uint32_t format,
                  int32_t dstX, int32_t dstY, uint32_t srcOffset, uint32_t srcPitch,
                  int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
  PDEV* pdev = port->device;
  BmPrimInt* prim = pdev->primInt;
  DrawBracket bracket(pdev);
  if (!bracket.Drawing()) return;
  HwThread2d::SetupHardware(pdev->sharedLocked, prim);
  VideoWriteBlit(prim, dstOffset, dstPitch, format, dstX, dstY, srcOffset, srcPitch, srcX, srcY,
                 width, height);
  prim->Start();
}
