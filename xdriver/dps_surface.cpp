#include "xdriver/dps_surface.h"

#include "core/bm_prim_int.h"
#include "core/hw_manager.h"
#include "core/mm_surface_manager.h"
#include "core/chip_ids.h"
#include "core/pdev.h"
#include "core/regs/display.h"
#include "core/regs/engine3d.h"
#include "xdriver/dps_hw.h"
#include "xdriver/engine2d_state.h"

namespace {

// Format codes of the three descriptors by pixel kind.
struct KindFormats {
  uint32_t kind;
  uint32_t allocation, texture, display;
};
constexpr KindFormats kKindFormats[] = {
    {8, 16, 17, 16},             // 8 bits per pixel
    {16, 32, 40, 40},            // 16 bits
    {30, 52, 52, 52},            // 30 bits
    {32, 48, 50, 50},            // 32 bits
    {kDpsKind40000, 46, 46, 46},
    {kDpsKindYCbCr, 59, 50, 59},  // the TV output format
    {kDpsKindC0000, 48, 52, 52},
};
constexpr KindFormats kOtherKind = {0, 32, 40, 32};

const KindFormats& FormatsOf(uint32_t kind) {
  for (const KindFormats& f : kKindFormats)
    if (f.kind == kind) return f;
  return kOtherKind;
}

constexpr uint32_t kSizeMask = 0x3FFF;
constexpr uint32_t kPitchAlign = 32;
constexpr uint32_t kHeightWordDepth = 0x10000;
constexpr uint32_t kAllocationLayout = 3;
constexpr uint32_t kTextureLayout = 2;

// YCbCr black, and the fill's control word: fill, copy, into descriptor 1.
constexpr uint32_t kYCbCrBlack = 0x108080;
constexpr uint32_t kFillControl = 0x5C0;
// A copy from descriptor 0 to descriptor 1.
constexpr uint32_t kBlitControl = 0x4C2;

// The stretch's control word: its base by the shader's length and the
// texture units it reads in bits 8-15.
constexpr uint32_t kStretchControlLong = 0x1C00CC;
constexpr uint32_t kStretchControlShort = 0x1400CC;
constexpr uint32_t kStretchUnitMasks[] = {0, 0x10, 0x30, 0x70, 0xF0};
constexpr float kStretchBias = 15.0f;

uint32_t WithFormat(uint32_t word, uint32_t layout, uint32_t format) {
  return Mode2dFormat::Set(Mode2dLayout::Set(word, layout), format);
}

uint32_t Point(int32_t x, int32_t y) {
  return static_cast<uint32_t>(y) << 16 | (static_cast<uint32_t>(x) & 0xFFFF);
}

uint32_t FillValue(uint32_t kind, uint32_t value) {
  if (kind == 8) return (value & 0xFF) * 0x01010101u;
  if (kind == 16) return (value & 0xFFFF) * 0x00010001u;
  return value;
}

}  // namespace

// ---- CDPSSurface --------------------------------------------------------------------------

bool CDPSSurface::Init(PDEV* pdev, LSIZE size, uint32_t k, uint32_t surfaceType) {
  initialised = 1;
  width = static_cast<uint32_t>(size.width) & kSizeMask;
  height = static_cast<uint32_t>(size.height) & kSizeMask;
  kind = k;
  const KindFormats& f = FormatsOf(kind);
  const uint32_t pitch = (width + kPitchAlign - 1) & ~(kPitchAlign - 1);
  const uint32_t allocation = MmSurfDesc::MakeWord1(pitch, kAllocationLayout, f.allocation);
  const uint32_t heightWord = kHeightWordDepth | height;

  MmSurfAllocOpt& o = surface.options;
  o.desc.word0 = 0;
  o.desc.word1 = allocation;
  o.desc.word2 = MmSurfDesc::MakeWord2(height, 1);
  o.desc.size = 0;
  o.desc.revision = pdev->revisionBits;
  o.heapSelector = surfaceType;
  o.requestedKind = kSurfLocal;
  o.unit = pdev->unit;
  o.physicalSize = o.desc.GetPhysicalMemSize(true);
  o.alignment = o.desc.GetRequiredAlignment(true);
  o.word28 = pdev->data2d.memoryId;

  destination = {0, allocation, heightWord};
  displayFormat = f.display != f.allocation ? WithFormat(allocation, kAllocationLayout, f.display)
                                            : allocation;
  texture = {0, WithFormat(allocation, kTextureLayout, f.texture), heightWord};
  displayAddress = 0;
  SetViewport(LRECT{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)});
  needsClear = 1;
  return true;
}

bool CDPSSurface::Create(PDEV* pdev) {
  created = 0;
  if (pdev->surfaceManager == nullptr || !pdev->surfaceManager->CreateSurface(&surface)) return false;
  created = 1;
  SetAddress(surface.busWord);
  return true;
}

void CDPSSurface::Destroy(PDEV* pdev) {
  if (created && pdev->surfaceManager != nullptr) pdev->surfaceManager->DestroySurface(&surface);
  created = 0;
}

void CDPSSurface::Reset() {
  width = height = kind = 0;
  initialised = 0;
  created = 0;
  needsClear = 1;
  viewport = {};
  for (float& v : viewportF) v = 0;
  destination = texture = SDPSSurfDesc();
  displayAddress = displayFormat = 0;
  outputType = kDpsOutputRgb;
}

SDPSSurfDesc CDPSSurface::GetDPSSurfDesc(uint32_t which) const {
  return which == 1 ? texture : destination;
}

void CDPSSurface::SetViewport(const LRECT& r) {
  viewport = r;
  viewportF[0] = static_cast<float>(r.left);
  viewportF[1] = static_cast<float>(r.top);
  viewportF[2] = static_cast<float>(r.right);
  viewportF[3] = static_cast<float>(r.bottom);
}

void CDPSSurface::SetAddress(uint32_t address) {
  destination.address = address;
  texture.address = address;
  displayAddress = address;
}

bool CDPSSurface::Fill(HwManager* hwm, const LRECT& r, uint32_t value) {
  BmPrimInt* prim = hwm != nullptr && hwm->common != nullptr ? hwm->common->primInt : nullptr;
  if (prim == nullptr) return false;
  uint32_t* at = prim->Reserve(9);
  if (at == nullptr) return false;
  at[0] = PacketHeader(k2dIdxDescAddress1, k2dIdxDescMode1, k2dIdxControl);
  at[1] = destination.address;
  at[2] = destination.format;
  at[3] = kFillControl;
  at[4] = PacketHeader(k2dIdxForeground, k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo);
  at[5] = FillValue(kind, value);
  at[6] = 0;
  at[7] = Point(r.left, r.top);
  at[8] = Point(r.right - r.left, r.bottom - r.top);
  prim->Start();
  return true;
}

bool CDPSSurface::Clear(HwManager* hwm, uint32_t viewportOnly) {
  const LRECT whole = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  const bool ok = Fill(hwm, viewportOnly ? viewport : whole, kind == kDpsKindYCbCr ? kYCbCrBlack : 0);
  if (ok) needsClear = 0;
  return ok;
}

bool CDPSSurface::Blit(HwManager* hwm, CDPSSurface* src) {
  hw->Add(k3dRegTargetAddress, src->destination.address);
  hw->Add(k3dRegTargetMode, src->destination.format);
  hw->Add(DmaWindowReg(k2dIdxDescAddress1), destination.address);
  hw->Add(DmaWindowReg(k2dIdxDescMode1), destination.format);
  hw->Add(kReg2dControl, kBlitControl);
  hw->Add(DmaWindowReg(k2dIdxOrigin), Point(viewport.left, viewport.top));
  hw->Add(DmaWindowReg(k2dIdxStart), Point(src->viewport.left, src->viewport.top));
  hw->Add(DmaWindowReg(k2dIdxSizeGo),
          Point(viewport.right - viewport.left, viewport.bottom - viewport.top));
  hw->PostBuffer(hwm);
  return true;
}

bool CDPSSurface::Stretch(HwManager* hwm, CDPSSurface* src) {
  if (needsClear) Clear(hwm, 0);
  hw->Reset();
  const uint32_t units = textureSetup->ActiveUnits();
  const uint32_t control = (shader->stageCount > kDpsShaderShortStages ? kStretchControlLong
                                                                         : kStretchControlShort) |
                           kStretchUnitMasks[units <= 4 ? units : 4] << 8;
  hw->Add(kReg2dControl, control);
  hw->SetDwgCtl(hwm, control);
  if (option) hw->AddFloat(k3dRegStretchBias, kStretchBias);
  hw->Add(k3dRegTargetAddress, texture.address);
  hw->Add(k3dRegTargetMode, texture.format);
  const SDPSSurfDesc source = src->GetDPSSurfDesc(1);
  textureEngine->UpdateSrcSurfDesc(&source);
  hw->Add(k3dRegWordC0, 0xFFFFFFFF);
  hw->Add(k3dRegWordC4, 0x7FFFFFFF);
  hw->Add(k3dRegWordE8, 0);
  hw->Add(k3dRegWordC8, 0);
  hw->Add(k3dRegWordFC, 0);
  hw->Add(k3dRegWordE4, 0);
  hw->Add(DmaWindowReg(k2dIdxPlaneMask), 0xFFFFFFFF);
  shader->UpdateHardware();
  textureEngine->UpdateHardware();
  textureSetup->UpdateHardware();
  hw->Add(kReg2dControl, k2dControlDone);
  hw->Add(kRegSyncTag, hw->shared->syncTagCounter);
  hw->Add(kRegSyncTag, hw->shared->syncTagCounter);
  hw->PostBuffer(hwm);
  return true;
}

bool CDPSSurface::Display(PDEV* pdev, EDPSController controller) {
  DisplayBufferInfo info;
  info.format = displayFormat;
  info.address = displayAddress;
  switch (outputType) {
    case kDpsOutputRgb2:
    case kDpsOutputTv484:
    case kDpsOutputTv576:
    case kDpsOutputTv3of484:
      info.secondField = 1;
      info.address |= kFlipFieldAddressBit;
      break;
    case kDpsOutputTv3of576:
      info.secondField = 1;
      break;
    default:
      break;
  }
  DisplayIndexController::ChangeDisplayedBuffer(pdev, controller, &info);
  return true;
}

// ---- CDPSBackBuffersMgr ---------------------------------------------------------------------

CDPSBackBuffersMgr::CDPSBackBuffersMgr(uint32_t revisionBits, CDPSHwManager* hw) {
  shader.hw = hw;
  textureEngine.hw = hw;
  textureSetup.hw = hw;
  const bool later = IsLaterGenerationRevision(revisionBits);
  for (CDPSSurface& b : buffers) {
    b.hw = hw;
    b.shader = &shader;
    b.textureEngine = &textureEngine;
    b.textureSetup = &textureSetup;
    if (later) b.option = 1;
  }
  if (later) textureEngine.tableFlag = 1;
}

bool CDPSBackBuffersMgr::Init(PDEV* pdev, LSIZE size, uint32_t kind, uint32_t surfaceType) {
  bool ok = false;
  for (CDPSSurface& b : buffers) {
    ok = b.Init(pdev, size, kind, surfaceType);
    if (!ok) break;
  }
  return ok;
}

bool CDPSBackBuffersMgr::Create(PDEV* pdev) {
  createdCount = 0;
  for (CDPSSurface& b : buffers) {
    if (b.initialised && b.Create(pdev)) ++createdCount;
  }
  return createdCount > 1;
}

bool CDPSBackBuffersMgr::Destroy(PDEV* pdev) {
  for (CDPSSurface& b : buffers) {
    if (!b.created) continue;
    b.Destroy(pdev);
    if (createdCount > 0) --createdCount;
  }
  return true;
}

bool CDPSBackBuffersMgr::ComputeDstViewport(const LRECT& src, LRECT& dst) {
  const int32_t sw = src.right - src.left;
  const int32_t sh = src.bottom - src.top;
  const int32_t dw = dst.right - dst.left;
  const int32_t dh = dst.bottom - dst.top;
  if (sw == 0) return false;
  int32_t nw, nh;
  if (dh < sh * dw / sw) {
    if (sh == 0) return false;
    nw = sw * dh / sh;
    nh = dh;
  } else {
    nw = dw;
    nh = sh * dw / sw;
  }
  dst.left += (dw - nw) / 2;
  dst.right -= (dw - nw) / 2;
  dst.top += (dh - nh) / 2;
  dst.bottom -= (dh - nh) / 2;
  return true;
}

bool CDPSBackBuffersMgr::Initialize(EDPSOutputType type, EDPSFiltering f, const CDPSSurface& source,
                                    const LRECT& dst, uint32_t keepAspect) {
  const LRECT area = {0, 0, static_cast<int32_t>(buffers[0].width),
                      static_cast<int32_t>(buffers[0].height)};
  if (!TOOL_RectIsLargerOrEgual(&area, &dst)) return false;
  LRECT fitted = dst;
  if (keepAspect) ComputeDstViewport(source.viewport, fitted);
  for (CDPSSurface& b : buffers) {
    b.SetViewport(fitted);
    b.outputType = type;
    b.needsClear = 1;
  }
  shader.SetupShader(type, nullptr);
  filtering = f;
  const SDPSSurfDesc texture = source.GetDPSSurfDesc(1);
  textureEngine.SetupTextureEngine(f, &texture, nullptr);
  const LRECT full = {0, 0, static_cast<int32_t>(source.width), static_cast<int32_t>(source.height)};
  textureSetup.SetupTextureSetup(full, source.viewport, fitted, nullptr);
  return true;
}

void CDPSBackBuffersMgr::Reset() {
  createdCount = 0;
  activeIndex = 0;
  filtering = kDpsFilterNone;
  shader.Reset();
  textureEngine.Reset();
  textureSetup.Reset();
  for (CDPSSurface& b : buffers) b.Reset();
  for (uint32_t& l : locks) l = 0;
}

CDPSSurface* CDPSBackBuffersMgr::Lock(uint32_t index) {
  if (index >= createdCount || index >= kDpsBackBuffers) return nullptr;
  locks[index] = 1;
  return &buffers[index];
}

bool CDPSBackBuffersMgr::UnLock(CDPSSurface* s) {
  for (uint32_t i = 0; i < kDpsBackBuffers; ++i) {
    if (&buffers[i] != s) continue;
    locks[i] = 0;
    return true;
  }
  return false;
}

bool CDPSBackBuffersMgr::SetActive(PDEV* pdev, uint32_t index, EDPSController controller) {
  if (index >= kDpsBackBuffers || !buffers[index].Display(pdev, controller)) return false;
  activeIndex = index;
  return true;
}

uint32_t CDPSBackBuffersMgr::GetBackBufferAddress(uint32_t index) const {
  if (index >= createdCount || index >= kDpsBackBuffers) return 0xFFFFFFFF;
  return buffers[index].displayAddress;
}

EDPSFiltering DpsChooseFiltering(uint32_t filteringOn, EDPSOutputType type, const LRECT& s,
                                 const LRECT& d) {
  if (filteringOn == 0) return kDpsFilterNone;
  const uint32_t ws = static_cast<uint32_t>(s.right - s.left);
  const uint32_t hs = static_cast<uint32_t>(s.bottom - s.top);
  const uint32_t wd = static_cast<uint32_t>(d.right - d.left);
  const uint32_t hd = static_cast<uint32_t>(d.bottom - d.top);
  if (ws == wd && hs == hd) return kDpsFilterNone;
  const uint32_t k = (type & kDpsOutputTvMask) != 0 ? 40 : 39;
  return wd * hd * 100 < ws * hs * k ? kDpsFilterReduce : kDpsFilterStretch;
}
