// Applying a render state before a draw: the dirty groups are validated and
// emitted in one fixed order; any failed step makes the draw emit nothing
// and keeps every dirty bit for the next draw.
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/3d/tnl/tnl_setup.h"

namespace {

constexpr uint32_t kVertexControlProgram = 0xC0000000;
constexpr uint32_t kVertexControlFixed = 0x80000000;
constexpr uint32_t kIndexKind32 = 2;
constexpr uint32_t kMaxProgramKind = 7;
constexpr uint32_t kPrimitiveList = 1;


constexpr uint32_t kStatusUnvalidated = 0;
constexpr uint32_t kStatusValidated = 1;
constexpr uint32_t kStatusChanged = 2;
constexpr uint32_t kStatusRevalidated = 3;
// The five target statuses turn from changed to revalidated in this order.
constexpr uint8_t kRevalidateOrder[kTargetStatuses] = {1, 4, 3, 2, 0};

}  // namespace

bool RenderState3d::ApplySteps() {
  RenderContext3d* context = owner;

  // Depth-stencil, then raster and blend, then the target binding, each only
  // after the one before succeeded.
  if (depthStencil.dirty != 0 && !ApplyDepthStencilState(context)) return false;
  if (depthStencil.dirty != 0 || raster.dirty != 0) {
    if (!ApplyBlendState(context)) return false;
    if (!ValidateTargetBinding3d(context)) return false;
  }

  // Fog switched off goes to the table too, which then switches the fog
  // unit off.
  if (fog.dirty != 0 && ((fog.dirty & (kFgTable | kFgEnable)) != 0 || (fog.enables & 3) != 0)) {
    if (!FogTableUpdate(context)) return false;
  }

  if (stipple.dirty != 0) {
    StippleRecord record;
    record.flags = ((stipple.dirty & kStRows) != 0 ? kStipplePolygon : 0) |
                   ((stipple.dirty & kStId10) != 0 ? kStippleLine : 0);
    for (uint32_t r = 0; r < kStippleRows; ++r) record.rows[r] = stipple.rows[r];
    record.lineStipple = stipple.id10;
    if (!context->aux.Update(record)) return false;
  }

  bool program;
  // The current program is committed again too when a surface it sampled
  // went or the colour target its units take changed.
  if (pixel.dirty != 0 || (depthStencilSub.flags & kDsubProgram) != 0 || (rasterSub.flags & kRsubFixedB) != 0 ||
      PixelProgramCacheNeedsCommit(context->programCache))
    program = PixelProgramCacheSelect(context->programCache, this);
  else
    program = PixelProgramCacheValid(context->programCache);
  if (!program) return false;

  const bool fixedFunction = (fogValues.flags & 1) != 0 || pipelineSub.first != 0 ||
                             (pipelineSub.second & ~2u) != 0 ||
                             (rasterSub.flags & (kRsubFixedA | kRsubFixedB)) != 0 ||
                             (depthStencilSub.flags & kDsubFixed) != 0;
  if (fixedFunction || vertex.transformDirty != 0 || vertex.matrixDirty != 0 || vertex.worldDirty != 0) {
    ContextState3d* state = context->contextState;
    TnlSetup* tnl = context->tnl;
    if (state == nullptr || tnl == nullptr) return false;
    tnl->force = fixedFunction ? 1 : 0;
    const bool updated = tnl->Update(&vertex, &fetch, &state->vertexEngine);
    // The upload slots follow the engine block's programs even after a
    // refused pass: they name only programs the block holds references on.
    tnl->LinkUploads(&state->vertexEngine, state->uploads, &state->dirty.words[0]);
    if (!updated) return false;
    state->constShadow = tnl->BoundImage();
  }
  return true;
}

void RenderState3d::RunStreams(bool failing) {
  RenderContext3d* context = owner;
  if (!failing && streams.noDraw != 0) {
    streams.noDraw = 0;
    streams.flags |= kSfNoDrawChanged;
  }
  streams.scratch = 0;
  context->vertexControl = (vertexSub.bytes[1] & kVsubByte1Control) != 0 ? kVertexControlProgram : kVertexControlFixed;

  const uint8_t layout = vertexSub.bytes[4];
  bool streamResult = true;
  // A new index source or new per-draw binding words alone are taken too
  // (a draw that moves only its indices or its first vertex keeps its
  // vertex streams).
  if (streams.changedMask != 0 || (layout & kVsubLayoutMask) != 0 || (depthStencilSub.flags & kDsubClip) != 0 ||
      (streams.flags & (kSfIndexSource | kSfElements)) != 0) {
    if (streams.changedMask != 0) VertexStreamSetStreamSources(context);
    if ((streams.flags & kSfIndexSource) != 0) VertexStreamSetIndexSource(context);
    if ((layout & kVsubLayoutElements) != 0) {
      streams.elements = vertexSub.elementWord;
      VertexStreamSetVertexElements(context);
    }
    if ((streams.flags & kSfElements) != 0 || (layout & kVsubLayoutElements) != 0) {
      VertexStreamComputeAddresses(context);
      VertexStreamSetIndexStart(context);
    }
    if ((streams.flags & kSfPrimitiveType) != 0) {
      VertexStreamSetPrimitiveType(context);
      if (context->contextState != nullptr) context->contextState->dirty.words[0] |= kCsDirtyPrimitiveType;
    }
    if (streams.changedMask != 0 || (streams.flags & kSfElements) != 0 || (layout & kVsubLayoutElements) != 0)
      streamResult = VertexStreamComputeVertexLimit(context);
    if ((layout & kVsubLayoutChanged) != 0 && context->contextState != nullptr)
      context->contextState->dirty.words[0] |= kCsDirtyLayout;
  }

  const bool noDraw = failing || streams.noDraw != 0;
  if ((streams.flags & (kSfIndexSource | kSfPrimitiveType | kSfIndexSize)) != 0 || streams.changedMask != 0 ||
      (layout & kVsubLayoutChanged) != 0) {
    if ((streams.flags & kSfIndexSize) != 0 && streams.indexKind == kIndexKind32)
      InstallIndex32Emitters3d(context);
    if (vertexSub.vertexProgram != 0) {
      if (streamResult && vertexSub.programKind <= kMaxProgramKind && !noDraw) {
        drawEmitter = ProgramDrawEmitter3d(vertexSub.programKind, streams.primitiveType);
        indexEmitter = ProgramIndexEmitter3d(vertexSub.programKind, streams.primitiveType);
      } else {
        drawEmitter = indexEmitter = NoOpEmitter3d;
      }
    } else if (!noDraw) {
      VertexFetchSetElements(context);
      vertexSub.fetchWord = VertexFetchEmitLayout(context, streams.primitiveType == kPrimitiveList);
      drawEmitter = PrimitiveDrawEmitter3d(streams.primitiveType);
      indexEmitter = PrimitiveIndexEmitter3d(streams.primitiveType);
    } else {
      drawEmitter = indexEmitter = NoOpEmitter3d;
    }
  }
  // A failed application never leaves a draw emitter in place.
  if (noDraw) drawEmitter = indexEmitter = NoOpEmitter3d;
  if (drawEmitter == nullptr) drawEmitter = NoOpEmitter3d;
  if (indexEmitter == nullptr) indexEmitter = NoOpEmitter3d;
  if ((depthStencilSub.flags & kDsubClip) != 0) {
    streams.clip[0] = depthStencilSub.clip[0];
    streams.clip[1] = depthStencilSub.clip[1];
    context->streamSetup.offsets[0] = static_cast<int32_t>(depthStencilSub.clip[0]);
    context->streamSetup.offsets[1] = static_cast<int32_t>(depthStencilSub.clip[1]);
  }
}

void RenderState3d::BuildControlWord() {
  RenderContext3d* context = owner;
  const uint32_t kind = context->engineOwner != nullptr ? context->engineOwner->targetKind : kTargetKindNone;
  const uint8_t byte3 = vertexSub.bytes[3];
  uint32_t word = kControlWordBase | rasterSub.target | (byte3 >> 1 & 0xF);
  if ((byte3 & 0x20) != 0) word |= kControlVertexBit5;
  if ((pipelineSub.control & kPsubTargetTag) != 0) word |= kControlTargetTag;
  if (kind == kTargetKindAlways || (kind == kTargetKindTagged && (pipelineSub.control & kPsubTargetKind2) != 0))
    word |= kControlTargetKind;
  ContextState3d* state = context->contextState;
  if (state != nullptr && state->controlWord != word) {
    state->controlWord = word;
    state->dirty.words[0] |= kCsDirtyControlWord;
  }
}

void RenderState3d::BindTargetsIfNeeded() {
  if (pipelineSub.second != 0 || (depthStencilSub.flags & kDsubBinding) != 0 ||
      (rasterSub.flags & kRsubBinding) != 0 || (vertexSub.bytes[4] & kVsubLayoutBinding) != 0)
    BindRenderTargets3d(owner);
}

void RenderState3d::NoDrawPath() {
  if (streams.noDraw == 0) {
    streams.noDraw = 1;
    streams.flags |= kSfNoDrawChanged;
  }
  RunStreams(true);
  BuildControlWord();
  BindTargetsIfNeeded();
}

bool RenderState3d::Apply() {
  if (owner == nullptr) return false;
  // Clears run after an application whatever it decided for draws.
  SyncTargetViewport3d(owner);
  if (!ApplySteps()) {
    NoDrawPath();
    return false;
  }
  RunStreams(false);
  BuildControlWord();
  BindTargetsIfNeeded();
  ClearDirty();
  const uint32_t mode = owner->targetStatusMode;
  if ((mode == 1 || mode == 2) && !Revalidate()) {
    NoDrawPath();
    return false;
  }
  return true;
}

bool RenderState3d::Revalidate() {
  RenderContext3d* context = owner;
  if (context->revalidating != 0) return true;
  auto forceAndApply = [&]() {
    depthStencil.dirty |= kDsTargetMode | kDsDepth;
    raster.dirty |= kRsBlend | kRsAntialias | kRsColourWriteMask | kRsFloat4A;
    context->revalidating = 1;
    const bool result = Apply();
    context->revalidating = 0;
    return result;
  };

  bool unvalidated = false;
  for (uint32_t& status : context->targetStatus) {
    if (status == kStatusUnvalidated) {
      status = kStatusValidated;
      unvalidated = true;
    }
  }
  if (unvalidated && !forceAndApply()) return false;

  bool changed = false;
  for (uint32_t status : context->targetStatus) changed |= status == kStatusChanged;
  if (!changed) {
    ClearDirty();
    return true;
  }
  const bool result = forceAndApply();
  for (uint8_t index : kRevalidateOrder) {
    if (context->targetStatus[index] == kStatusChanged) context->targetStatus[index] = kStatusRevalidated;
  }
  if (result) ClearDirty();
  return result;
}
