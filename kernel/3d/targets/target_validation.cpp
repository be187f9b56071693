#include "kernel/3d/targets/target_validation.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_binding.h"
#include "kernel/3d/targets/target_tables.h"
#include "kernel/flip_controller.h"

namespace {

constexpr uint32_t kFirstDepthCode = 17;
constexpr uint32_t kLastDepthCode = 28;
constexpr uint32_t kNoDitherCodes[] = {15, 16, 30};
constexpr uint32_t kMemoryKindTarget = 4;
constexpr uint32_t kLastTargetType = 2;
constexpr uint32_t kFlagDisplayable = 0x2;
// The raster-operation codes that leave the target unread.
constexpr uint32_t kPlainRasterOps[] = {0, 3, 12, 15};
constexpr FormatChannel kColourChannels[] = {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha};

uint32_t FloatWord(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

bool Usable(RenderContext3d* context) {
  return context != nullptr && context->targetState != nullptr && context->contextState != nullptr;
}

// Stores a word of a register image and marks its group when it changed.
void Put(ContextState3d* cs, uint32_t* word, uint32_t value, uint32_t group) {
  if (*word == value) return;
  *word = value;
  cs->dirty.words[0] |= group;
}

// The descriptor record a target is bound through: the usage's record when
// the format has one, else the engine's plain surface record.
const MmSurfDesc& RecordOf(const Surface3d* surface, uint32_t usage) {
  const FormatDescriptor* format = surface->format;
  if (format != nullptr && format->capabilities[usage] != nullptr) return surface->hw.records[usage];
  return surface->hw.records[kUsageSurface];
}

bool HasDepthFormat(const Surface3d* surface) {
  const FormatDescriptor* f = surface != nullptr ? surface->format : nullptr;
  return f != nullptr && f->code >= kFirstDepthCode && f->code <= kLastDepthCode;
}

// ---- Depth and stencil ----------------------------------------------------------------------

void ApplyDepthTest(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const DepthStencilGroup& g = context->state.depthStencil;
  const DepthTest test = DecideDepthTest(ts->depthRequested != nullptr, g.depthEnable, g.depthWrite, g.depthFunc,
                                         ts->workBufferMode, ts->stateWord);
  uint32_t word = cs->depthStencilBlock[kDsbDepthControl] & ~(0xFu | kDepthWriteBit);
  word |= test.control;
  if (g.depthWrite != 0 && ts->depthRequested != nullptr) word |= kDepthWriteBit;
  Put(cs, &cs->depthStencilBlock[kDsbDepthControl], word, kCsDirtyDepth);
}

void ApplyStencil(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const uint32_t* v = context->state.depthStencil.stencil;
  const StencilStates s = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  const bool on = ts->depthRequested != nullptr && !StencilInactive(s, ts->pendingSwitch != 0);
  const uint32_t control = (cs->depthStencilBlock[kDsbStencilControl] & kStencilKeptBits) | (on ? 1u : 0u) |
                           (CompareFunctionCode(s.function) & 7) << 5 | (StencilOperationCode(s.fail) & 7) << 8 |
                           (StencilOperationCode(s.depthFail) & 7) << 11 | (StencilOperationCode(s.pass) & 7) << 14;
  // The values keep the stencil bits of the depth format.
  const FormatDescriptor* f = ts->depthRequested != nullptr ? ts->depthRequested->format : nullptr;
  const uint32_t range = f != nullptr ? f->masks[kChannelStencil] >> (f->shifts[kChannelStencil] & 31) & 0xFF : 0;
  const uint32_t values = (s.reference & range) | (s.mask & range) << 8 | (s.writeMask & range) << 16;
  Put(cs, &cs->depthStencilBlock[kDsbStencilControl], control, kCsDirtyStencil);
  Put(cs, &cs->depthStencilBlock[kDsbStencilValues], values, kCsDirtyStencil);
}

void BindDepth(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  Surface3d* surface = context->depthTarget;
  BindDepthTarget(ts, surface, (ts->flagByte & kTargetUseShadows) != 0);
  RenderState3d& rs = context->state;
  rs.depthBinding[0] = surface != nullptr ? surface->resourceType : 0;
  rs.depthBinding[1] = surface != nullptr ? surface->resourceHandle : 0;
  uint32_t word = cs->depthStencilBlock[kDsbDepthControl] & ~(0xFu << kDepthCodeShift | kDepthWBufferBit);
  word |= (ts->depthCode & 0xF) << kDepthCodeShift | (ts->wBuffer != 0 ? kDepthWBufferBit : 0);
  Put(cs, &cs->depthStencilBlock[kDsbDepthControl], word, kCsDirtyDepth);
  Put(cs, &cs->depthStencilBlock[kDsbDepthScale], FloatWord(ts->depthScale), kCsDirtyDepth);
  const uint32_t address = ts->depthCurrent != nullptr ? RecordOf(ts->depthCurrent, kUsageDepthStencil).word0 : 0;
  Put(cs, &cs->depthStencilBlock[kDsbDepthAddress], address, kCsDirtyDepth);
  ts->depthScaleChanged = 0;
}

// ---- Colour, alpha test and blending ---------------------------------------------------------

const FormatDescriptor* ColourFormat(const RenderTargetState* ts) {
  return ts->colourRequested != nullptr ? ts->colourFormat : nullptr;
}

uint32_t TargetBitsPerPixel(const RenderTargetState* ts) {
  const FormatDescriptor* f = ColourFormat(ts);
  return f != nullptr ? f->bitsPerPixel : 0;
}

void ApplyColourControl(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const FormatDescriptor* f = ColourFormat(ts);
  bool dithers = f != nullptr;
  for (uint32_t code : kNoDitherCodes) dithers = dithers && f->code != code;
  uint32_t word = cs->rasterBlock[kRbColourControl] & ~(kColourDitherAllowed | kColourDitherOff);
  if (dithers) {
    word |= kColourDitherAllowed;
    if (context->state.raster.dither == 0) word |= kColourDitherOff;
  }
  Put(cs, &cs->rasterBlock[kRbColourControl], word, kCsDirtyRasterB);
}

void ApplyAlphaTest(RenderContext3d* context) {
  ContextState3d* cs = context->contextState;
  const RasterGroup& g = context->state.raster;
  const uint32_t word =
      (g.alphaTestEnable != 0 ? 1u : 0u) | (CompareFunctionCode(g.alphaFunc) & 7) << 1 | (g.alphaRef & 0xFF) << 8;
  Put(cs, &cs->rasterBlock[kRbAlphaTest], word, kCsDirtyRasterB);
}

void ApplyWriteMask(RenderContext3d* context, bool fromPlanes) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const RasterGroup& g = context->state.raster;
  const FormatDescriptor* f = ColourFormat(ts);
  const uint32_t bpp = TargetBitsPerPixel(ts);
  uint32_t mask;
  ts->partialMask = 0;
  if (fromPlanes) {
    mask = ReplicateFill(g.planeMask, bpp);
    if (f != nullptr) {
      for (FormatChannel c : kColourChannels) {
        const uint32_t channel = f->masks[c];
        const uint32_t kept = g.planeMask & channel;
        if (channel != 0 && kept != 0 && kept != channel) ts->partialMask = 1;
      }
    }
  } else {
    mask = ReplicateFill(ChannelWriteMask(g.colourWriteMask, f), bpp);
  }
  ts->writeMaskFromPlanes = fromPlanes ? 1 : 0;
  ts->colourWriteMask = mask;
  Put(cs, &cs->rasterBlock[kRbWriteMask], mask, kCsDirtyRasterB);
}

void ApplyRasterOp(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const uint32_t code = SmallCode(context->state.raster.rasterOp) & 0xF;
  bool plain = false;
  for (uint32_t p : kPlainRasterOps) plain = plain || code == p;
  ts->rasterOpReadsTarget = plain ? 0 : 1;
  const uint32_t word = (cs->rasterBlock[kRbColourControl] & ~(0xFu << kColourRasterOpShift)) |
                        code << kColourRasterOpShift;
  Put(cs, &cs->rasterBlock[kRbColourControl], word, kCsDirtyRasterB);
}

void ApplyBlend(RenderContext3d* context) {
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  const RasterGroup& g = context->state.raster;
  const FormatDescriptor* f = ColourFormat(ts);
  const bool withAlpha = f != nullptr && f->masks[kChannelAlpha] != 0;
  const BlendStates s = {g.srcBlend[0], g.dstBlend[0], g.srcBlend[1], g.dstBlend[1], g.blendOp};
  const uint32_t word = BlendWord(s, withAlpha) | (g.blendEnable != 0 ? kBlendEnableBit : 0);
  Put(cs, &cs->rasterBlock[kRbBlend], word, kCsDirtyRasterB);
}

// Shared buffers split the owning buffer equally among the owner and its
// sharers; a share whose owner is gone is given up.
void ResplitShare(RenderTargetState* ts) {
  if (ts->kind != kWorkBufferShared || ts->common == nullptr) return;
  const WorkBufferSlot* slots = reinterpret_cast<const WorkBufferSlot*>(ts->common->renderTargetSlots);
  const WorkBufferSlot* owner = nullptr;
  uint32_t sharers = 1;
  for (uint32_t i = 0; i < kRenderTargetSlots; ++i) {
    if (slots[i].key != ts->key || slots[i].owner == ts) continue;
    if (slots[i].kind == kWorkBufferOwn) owner = &slots[i];
    if (slots[i].kind == kWorkBufferShared) ++sharers;
  }
  if (owner == nullptr) {
    ReleaseTargetMemory(ts, true);
    ts->reservedFor = nullptr;
    return;
  }
  ts->requestedSize = (owner->size / (sharers + 1)) & ~255u;
  if (owner->owner != nullptr) memcpy(ts->addressWords, owner->owner->addressWords, sizeof ts->addressWords);
}

bool InUse(const RenderTargetState* ts) {
  return ts->kind == kWorkBufferOwn || ts->kind == kWorkBufferOwnNoKey || ts->kind == kWorkBufferShared;
}

}  // namespace

// ---- The render-state application's steps ------------------------------------------------------

bool ApplyDepthStencilState(RenderContext3d* context) {
  if (!Usable(context)) return false;
  RenderTargetState* ts = context->targetState;
  const uint32_t dirty = context->state.depthStencil.dirty;
  const bool rebind = (dirty & kDsTargetGone) != 0 || context->depthTarget != ts->depthRequested;
  if (rebind) BindDepth(context);
  if (rebind || (dirty & (kDsDepth | kDsTargetMode)) != 0) ApplyDepthTest(context);
  if (rebind || (dirty & kDsStencil) != 0) ApplyStencil(context);
  return true;
}

bool ApplyBlendState(RenderContext3d* context) {
  if (!Usable(context)) return false;
  RenderTargetState* ts = context->targetState;
  RenderState3d& rs = context->state;
  const uint32_t dirty = rs.raster.dirty;
  const bool rebind = (dirty & kRsTargetGone) != 0 || context->colourTarget != ts->colourRequested;
  if (rebind) {
    Surface3d* surface = context->colourTarget;
    const bool bound = BindColourTarget(ts, surface, (ts->flagByte & kTargetUseShadows) != 0);
    if (surface != nullptr && !bound) {
      // A target the engine cannot draw into leaves the context without
      // one: this draw emits nothing.
      context->colourTarget = nullptr;
      context->targetFlags &= ~kTargetColourBound;
      rs.colourBinding[0] = rs.colourBinding[1] = 0;
      return false;
    }
    rs.colourBinding[0] = surface != nullptr ? surface->resourceType : 0;
    rs.colourBinding[1] = surface != nullptr ? surface->resourceHandle : 0;
  }
  // What depends on the target's format is redone with a new target.
  if (rebind || (dirty & (kRsTargetGone | kRsDither)) != 0) ApplyColourControl(context);
  if (rebind || (dirty & kRsAlphaTest) != 0) ApplyAlphaTest(context);
  if ((dirty & kRsColourWriteMask) != 0)
    ApplyWriteMask(context, false);
  else if ((dirty & kRsPlaneMask) != 0)
    ApplyWriteMask(context, true);
  else if (rebind)
    ApplyWriteMask(context, ts->writeMaskFromPlanes != 0);
  if (rebind || (dirty & kRsRasterOp) != 0) ApplyRasterOp(context);
  if (rebind || (dirty & kRsBlend) != 0) ApplyBlend(context);
  return true;
}

uint32_t DecideWorkBufferMode(RenderContext3d* context) {
  if (!Usable(context)) return kWbNotInUse;
  RenderTargetState* ts = context->targetState;
  if (context->suspended != 0) return kWbSuspended;
  Surface3d* depth = ts->depthRequested;
  // The work buffer serves a depth target of a depth format with a z
  // buffer; it is reserved per depth surface, shared by the contexts that
  // draw into the same one.
  const bool wanted = depth != nullptr && HasDepthFormat(depth) && ts->wBuffer == 0;
  if (wanted) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(depth);
    ResplitShare(ts);
    if (InUse(ts) && ts->key != key) {
      ReleaseTargetMemory(ts, true);
      ts->reservedFor = nullptr;
    }
    if (!InUse(ts) && ts->reservedFor != depth) {
      ts->kind = kWorkBufferNone;
      ts->reservedFor = depth;
      ReserveTargetMemory(ts, depth, key);
    }
  }
  const uint32_t mode = wanted && InUse(ts) ? kWbInUse : ts->workBufferMode == kWbInUse ? kWbFlushPending
                                                                                        : kWbNotInUse;
  if (mode == kWbNotInUse || mode == kWbFlushPending) {
    EmitRenderTargetSetup(ts);
    UnbindClearTargets(ts);
  }
  return mode;
}

bool ValidateTargetBinding3d(RenderContext3d* context) {
  if (!Usable(context)) return false;
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  RenderState3d& rs = context->state;
  const uint32_t mode = DecideWorkBufferMode(context);
  const uint32_t setup = SetupModeOf(mode);
  if (mode != ts->workBufferMode) {
    ts->workBufferMode = mode;
    ts->modeChanged = 1;
    // The depth test depends on whether the buffer is in use.
    ApplyDepthTest(context);
  }
  ts->setupMode = setup;
  if (mode == kWbInUse) {
    // The draw record takes the buffer's two address words and a mark.
    rs.targetRecord[0] = ts->addressWords[0];
    rs.targetRecord[1] = ts->addressWords[1];
    rs.targetRecord[2] = 1;
  }
  const bool flag = (rs.raster.targetMode & kTargetModeFlag) != 0;
  uint32_t control = cs->rasterBlock[kRbTargetControl] & 0xFF;
  if (ts->depthCurrent != nullptr && ts->depthCurrent != ts->depthRequested) {
    // Drawing into a shadow depth surface: only the flag counts.
    if (flag) control &= ~kControlSetupBits;
  } else {
    control &= ~(kControlTargetFlag | kControlSwitchBit | kControlSetupBits);
    if (flag) control |= kControlTargetFlag;
    TargetBoard3d* board = TargetBoard(ts->common);
    if (ts->common != nullptr && (ts->common->revisionBits & kCapsControlSwitch) != 0 && board != nullptr &&
        board->switches.targetControl != 0)
      control |= kControlSwitchBit;
    control |= TargetControlLowBits(setup, context->targetCount, ts->stateWord);
  }
  Put(cs, &cs->rasterBlock[kRbTargetControl], (cs->rasterBlock[kRbTargetControl] & ~0xFFu) | control,
      kCsDirtyRasterA);
  if (setup == 3) {
    ts->setupWords[0] = cs->rasterBlock[kRbTargetControl];
    ts->setupWords[1] = cs->depthStencilBlock[kDsbDepthControl];
    ts->setupWords[2] = cs->depthStencilBlock[kDsbDepthAddress];
    ts->setupWords[3] = cs->depthStencilBlock[kDsbDepthScale];
  }
  cs->dirty.words[0] |= kCsDirtyRasterA;
  return true;
}

void BindRenderTargets3d(RenderContext3d* context) {
  if (!Usable(context)) return;
  RenderTargetState* ts = context->targetState;
  ContextState3d* cs = context->contextState;
  uint32_t* op = cs->operationBlock;
  // Each target's record with the width field holding its row pitch, as
  // its fills and copies give the engine: the rows a draw writes are the
  // rows the clears fill and the presents read.
  auto words = [](Surface3d* s, uint32_t usage, uint32_t* w0, uint32_t* w1) {
    const bool own = s->format != nullptr && s->format->capabilities[usage] != nullptr;
    if (SurfaceEngineRecord(s, own ? usage : kUsageSurface, w0, w1)) return;
    const MmSurfDesc& r = RecordOf(s, usage);
    *w0 = r.word0;
    *w1 = r.word1;
  };
  if (Surface3d* colour = ts->colourCurrent) {
    uint32_t w0 = 0, w1 = 0;
    words(colour, kUsageRenderTarget, &w0, &w1);
    Put(cs, &op[kOpSurface88], w0, kCsDirtySurfacesA);
    Put(cs, &op[kOpSurface89], w1, kCsDirtySurfacesA);
  }
  if (Surface3d* depth = ts->depthCurrent) {
    uint32_t w0 = 0, w1 = 0;
    words(depth, kUsageDepthStencil, &w0, &w1);
    Put(cs, &op[kOpSurface88 + 1], w0, kCsDirtySurfacesB);
    Put(cs, &op[kOpSurface89 + 1], w1, kCsDirtySurfacesB);
  }
}

void SyncTargetViewport3d(RenderContext3d* context) {
  if (context == nullptr || context->targetState == nullptr) return;
  RenderTargetState* ts = context->targetState;
  const VertexViewportGroup& g = context->state.vertex.viewportGroup;
  // Corners in doubles (a drawable far out plus a wide viewport), then held
  // to what an int32_t rectangle keeps; NaN scale factors give 0.
  auto clamp = [](double v) {
    if (!(v == v)) return int32_t{0};
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
  };
  const double left = static_cast<double>(static_cast<int32_t>(g.targetOrigin[0])) + static_cast<int32_t>(g.origin[0]);
  const double top = static_cast<double>(static_cast<int32_t>(g.targetOrigin[1])) + static_cast<int32_t>(g.origin[1]);
  const int32_t l = clamp(left * ts->scaleX), t = clamp(top * ts->scaleY);
  const int32_t r = clamp((left + g.size[0]) * ts->scaleX), b = clamp((top + g.size[1]) * ts->scaleY);
  ts->viewport[0] = l;
  ts->viewport[1] = t;
  ts->viewport[2] = r > l ? static_cast<int32_t>(int64_t{r} - l) : 0;
  ts->viewport[3] = b > t ? static_cast<int32_t>(int64_t{b} - t) : 0;
  ts->clip[0] = l;
  ts->clip[1] = t;
  ts->clip[2] = r > l ? r : l;
  ts->clip[3] = b > t ? b : t;
}

void RenderTargetStateSetMode(RenderContext3d* context, uint32_t mode) {
  if (context != nullptr && context->targetState != nullptr) context->targetState->targetMode = mode;
}

// ---- Lookups and the draw's marks ------------------------------------------------------------------

Surface3d* LookupTargetSurface(RenderContext3d* context, uint32_t type, uint32_t handle) {
  if (context == nullptr || context->resources == nullptr || type > kLastTargetType) return nullptr;
  Surface3d* surface = context->resources->Get(type, handle);
  return surface != nullptr && Surface3dMemoryKind(surface) == kMemoryKindTarget ? surface : nullptr;
}

bool IsTargetFlipDone(RenderContext3d* context) {
  if (context == nullptr) return true;
  Surface3d* target = context->colourTarget;
  if (target == nullptr || (Surface3dFlagByte(target) & kFlagDisplayable) == 0) return true;
  PDEV* device = context->device;
  FlipController* flips = device != nullptr && device->common != nullptr ? device->common->flipController : nullptr;
  return flips == nullptr || flips->IsFlipPending(device->displayMask, false) == 0;
}

void MarkTargetsBusy(RenderContext3d* context) {
  if (!Usable(context)) return;
  RenderTargetState* ts = context->targetState;
  if (EngineOwner3d* owner = context->engineOwner) {
    owner->targetsInUse = 1;
    owner->depthInUse = ts->depthCurrent;
  }
  if (ts->setupMode != 3) return;
  ContextState3d* cs = context->contextState;
  ts->pendingSwitch = 1;
  ts->setupWords[0] = cs->rasterBlock[kRbTargetControl];
  ts->setupWords[1] = cs->depthStencilBlock[kDsbDepthControl];
  ts->setupWords[2] = cs->depthStencilBlock[kDsbDepthAddress];
  ts->setupWords[3] = cs->depthStencilBlock[kDsbDepthScale];
}

bool IsTargetBusy(RenderContext3d* context, bool withDepth) {
  if (context == nullptr || context->targetState == nullptr) return false;
  RenderTargetState* ts = context->targetState;
  if (ts->colourCurrent != nullptr && ts->colourCurrent->IsBusy()) return true;
  return withDepth && ts->depthCurrent != nullptr && ts->depthCurrent->IsBusy();
}

void ClearSurfaceBusy(const Surface3d* surface) {
  if (surface == nullptr || surface->owner == nullptr || surface->owner->common == nullptr) return;
  EngineOwner3d* owner = surface->owner->common->engineOwner3d;
  if (owner == nullptr || owner->depthInUse != surface) return;
  owner->depthInUse = nullptr;
  owner->targetsInUse = 0;
}
