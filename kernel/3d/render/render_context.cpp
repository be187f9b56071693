// Render contexts and the module-wide table that holds them.
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/engine/engine_owner.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/same_bytes.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/3d/render/pixel_program_cache.h"

namespace {

class RenderContexts : public HandleTable<RenderContext3d> {
 public:
  RenderContexts() : HandleTable<RenderContext3d>(kRenderContextTableStep) {}
};

RenderContexts* g_renderContexts = nullptr;

constexpr uint32_t kNewlyPlacedWaitCount = 15;
constexpr uint32_t kStreamSubmitMode = 2;
constexpr uint32_t kTnlClientModeBits = 1;
// Memory kinds of render targets.
constexpr uint32_t kMemoryKindTargetA = 3;
constexpr uint32_t kMemoryKindTargetB = 4;
// The target mask of a batch's seal.
constexpr uint32_t kSealColour = 0x100;
constexpr uint32_t kSealDepth = 0x200;

}  // namespace

HandleTable<RenderContext3d>* RenderContextTable() { return g_renderContexts; }

void EmptyRenderContextTable() {
  // Each destruction may take the table with it.
  for (uint32_t handle = 1; g_renderContexts != nullptr && handle < g_renderContexts->Capacity(); ++handle)
    DestroyRenderContext(handle);
  if (RenderContexts* table = g_renderContexts) {
    g_renderContexts = nullptr;
    OsDelete(table);
  }
}

namespace {

// Frees a handle; the table goes with its last context, so a module
// without render contexts holds nothing for them.
void ReleaseHandle(uint32_t handle) {
  RenderContexts* table = g_renderContexts;
  if (table == nullptr) return;
  table->Release(handle);
  if (table->Count() == 0) {
    g_renderContexts = nullptr;
    OsDelete(table);
  }
}

}  // namespace

RenderContext3d* RenderContextTableGet(uint32_t handle) {
  return g_renderContexts != nullptr ? g_renderContexts->Get(handle) : nullptr;
}

RenderContext3d::RenderContext3d() = default;

RenderContext3d::~RenderContext3d() {
  // The set-up first: its programs leave the engine block's slots before
  // the block goes.
  delete tnl;
  tnl = nullptr;
  if (contextState != nullptr) DeleteContextState3d(contextState);
  if (programCache != nullptr) DeletePixelProgramCache(programCache);
  delete targetState;
  if (common != nullptr && common->renderedLast3d == this) common->renderedLast3d = nullptr;
  // The embedded parts go in reverse: auxiliary surfaces, then the render
  // state (their own destructors).
}

void RenderContext3d::SetStamp(uint32_t value) {
  stamp = value;
  state.SetStamp(value);
}

bool RenderContext3d::Init(RenderContextRequest3d* request) {
  owner3d = request->owner;
  index = request->index;
  PDEV* pdev = request->device;
  if (pdev == nullptr) return false;
  device = pdev;
  common = pdev->common;
  deviceWord = pdev->unitIndex;
  unit = pdev->unit;
  primaryStream = pdev->primaryStream;
  secondaryStream = pdev->secondaryStream;
  engineOwner = common != nullptr ? common->engineOwner3d : nullptr;

  resources = FindResourceTable(pdev, request->processKey);
  if (resources == nullptr) resources = CreateResourceTable(pdev, request->processKey);
  if (resources == nullptr) return false;

  if (!aux.Bind(this, pdev)) return false;
  if (!resources->AttachContext(this)) return false;

  contextState = NewContextState3d(engineOwner);
  if (contextState == nullptr) return false;
  contextState->flags |= kCsFlagClientA | kCsFlagClientB;
  contextState->flags |= kCsFlagRenderContext;
  contextState->renderContext = this;
  contextState->pending = ContextStatePending{};
  contextState->vertexEngine.owner = pdev;
  VertexEngineBlockSetUp(&contextState->vertexEngine);

  tnl = new TnlSetup;
  if (tnl == nullptr) return false;
  tnl->SetProgramBuilder(common != nullptr ? common->vertexProgramBuilder : nullptr);
  if (!tnl->AttachContext(&tnlRecord)) return false;
  // Client constants go to the shader image; the engine state sends the
  // image the set-up binds.
  state.constShadow = &tnl->shaderImage;

  if (!state.Init(this) || !BindRenderTargetState3d(this) || !FogTableBind(this) || !VertexStreamSetupBind(this))
    return false;
  if (state.vertex.vertexShader != kVertexFormatDefault) {
    state.vertex.vertexShader = kVertexFormatDefault;
    state.vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
  }
  tnl->SetModeBits(kTnlClientModeBits);

  programCache = NewPixelProgramCache(this);
  if (programCache == nullptr) return false;

  targetCount = furtherCount = 0;
  depthTarget = colourTarget = nullptr;
  targetFlags = kTargetFlagsDefault;
  contextState->driverSwitchValue = engineOwner != nullptr ? engineOwner->contextSwitchValue : 0;
  contextState->dirty.words[0] |= kCsDirtyAllBlocks;
  suspended = 0;
  // The 3D context's target description: its colour and depth targets.
  colourTarget = request->targets[0];
  depthTarget = request->targets[1];
  if (colourTarget != nullptr) targetFlags |= kTargetColourBound;
  if (depthTarget != nullptr) targetFlags |= kTargetDepthBound;
  return true;
}

void RenderContext3d::SetTargets(const BoundSurfaceRecord& record) {
  if (record.targets.enable != 0) {
    targetCount = 0;
    for (uint32_t i = 0; i < record.targets.count && record.targets.entries != nullptr; ++i) {
      Surface3d* surface = record.targets.entries[i].surface;
      if (surface == nullptr) continue;
      // The list holds four targets; further entries are not taken.
      if (targetCount == kBoundTargets) break;
      if ((surface->flagsWord & kSurfFlagNewlyPlaced) != 0) {
        if (engineOwner != nullptr) engineOwner->waitCount = kNewlyPlacedWaitCount;
        surface->flagsWord &= ~kSurfFlagNewlyPlaced;
      }
      targets[targetCount++] = surface;
    }
  }
  // A target that changes is bound again at the next application.
  if ((record.colour.flags & 0x1) != 0) {
    if (colourTarget != record.colour.surface) state.raster.dirty |= kRsTargetGone;
    colourTarget = record.colour.surface;
    targetFlags = colourTarget != nullptr ? targetFlags | kTargetColourBound : targetFlags & ~kTargetColourBound;
  }
  if ((record.depth.flags & 0x4) != 0) {
    if (depthTarget != record.depth.surface) state.depthStencil.dirty |= kDsTargetGone;
    depthTarget = record.depth.surface;
    targetFlags = depthTarget != nullptr ? targetFlags | kTargetDepthBound : targetFlags & ~kTargetDepthBound;
  }
  if ((record.further.bytes[4] & 0x8) != 0) {
    furtherCount = 0;
    const uint32_t n = (record.further.bytes[2] & 1u) * 8 + (record.further.bytes[1] >> 5);
    for (uint32_t i = 0; i < n && record.further.surfaces != nullptr; ++i) {
      Surface3d* surface = record.further.surfaces[i];
      if (surface == nullptr) continue;
      // Room for nine: the count field may name up to fifteen slots.
      if (furtherCount == kBoundFurther) break;
      further[furtherCount++] = surface;
    }
  }
}

void RenderContext3d::PrepareTargets() {
  RenderContext3d* last = common != nullptr ? common->renderedLast3d : nullptr;
  PrepareRenderTargetState3d(this, last);
  if (common != nullptr) common->renderedLast3d = this;
  if (!EngineOwner3dExecute(engineOwner, contextState, 0, 0)) return;
}

void RenderContext3d::HandOverStream() {
  if (secondaryStream == nullptr) return;
  secondaryStream->startFlags = kStreamSubmitMode;
  (void)secondaryStream->ExecutePending();
}

void RenderContext3d::SetSuspended(bool on) {
  if (on) {
    suspended = 1;
  } else {
    suspended = 0;
    ++resumeCount;
  }
}

bool CreateRenderContext(RenderContextRequest3d* request) {
  if (request == nullptr) return false;
  request->handle = 0;
  if (g_renderContexts == nullptr) g_renderContexts = OsNew<RenderContexts>();
  HandleTable<RenderContext3d>* table = g_renderContexts;
  if (table == nullptr) return false;
  RenderContext3d* context = nullptr;
  const uint32_t handle = table->Allocate(&context);
  if (handle == 0 || context == nullptr) {
    if (table->Count() == 0) {
      g_renderContexts = nullptr;
      OsDelete(table);
    }
    return false;
  }
  context->handle = handle;
  request->handle = handle;
  context->SetStamp(kRenderContextStamp);
  if (!context->Init(request)) {
    if (context->resources != nullptr) context->resources->DetachContext(context);
    context->aux.ReleaseAll();
    CommonData* common = context->common;
    ReleaseHandle(handle);
    if (g_renderContexts == nullptr) ReleaseTargetBoard3d(common);
    request->handle = 0;
    return false;
  }
  return true;
}

void DestroyRenderContext(uint32_t handle) {
  HandleTable<RenderContext3d>* table = g_renderContexts;
  if (table == nullptr) return;
  RenderContext3d* context = table->Get(handle);
  if (context == nullptr) return;
  context->aux.ReleaseAll();
  if (context->resources != nullptr) {
    context->resources->DetachContext(context);
    context->resources = nullptr;
  }
  if (context->targetState != nullptr) ReleaseTargetMemory(context->targetState, true);
  // The last render context leaves the vertex engine's program memory
  // empty before it goes.
  const bool last = table->Count() == 1;
  CommonData* common = context->common;
  if (last && common != nullptr && common->vertexProgramBuilder != nullptr)
    common->vertexProgramBuilder->ResetSlots(false);
  ReleaseHandle(handle);
  // With it goes the board's render-target record (made again by the next
  // render context).
  if (last) ReleaseTargetBoard3d(common);
}

void RenderContext3dSetStamp(RenderContext3d* context, uint32_t stamp) {
  if (context != nullptr) context->SetStamp(stamp);
}

void RenderContext3dDropTargets(RenderContext3d* context) {
  if (context == nullptr) return;
  for (Surface3d*& target : context->targets) target = nullptr;
  context->targetCount = 0;
  context->colourTarget = context->depthTarget = nullptr;
  context->targetFlags = kTargetFlagsDefault;
}

void RenderContext3dRestoreTargets(RenderContext3d* context, Surface3d* colour, Surface3d* depth) {
  if (context == nullptr) return;
  context->colourTarget = colour;
  context->depthTarget = depth;
  if (colour != nullptr) context->targetFlags |= kTargetColourBound;
  if (depth != nullptr) context->targetFlags |= kTargetDepthBound;
  context->state.raster.dirty |= kRsTargetGone;
  context->state.depthStencil.dirty |= kDsTargetGone;
}

void RenderContext3dHandOverStream(RenderContext3d* context) {
  if (context != nullptr) context->HandOverStream();
}

void RenderContext3dHandOverProgressStream(RenderContext3d* context) {
  if (context != nullptr) context->HandOverStream();
}

uint32_t RenderContext3dSealTargets(RenderContext3d* context, uint32_t tag) {
  if (context == nullptr) return 0;
  uint32_t mask = 0;
  struct {
    Surface3d* surface;
    uint32_t bit;
  } const targets[] = {{context->colourTarget, kSealColour}, {context->depthTarget, kSealDepth}};
  for (const auto& target : targets) {
    if (target.surface == nullptr) continue;
    mask |= target.bit;
    const uint32_t kind = Surface3dMemoryKind(target.surface);
    if (kind == kMemoryKindTargetA || kind == kMemoryKindTargetB) target.surface->lastWriteTag = tag;
  }
  return mask;
}

void RenderState3dFlushVertexConstants(RenderContext3d* context) {
  if (context != nullptr) context->state.FlushVertexConstants();
}

void RenderState3dSetDrawableViewport(RenderContext3d* context, int32_t left, int32_t top, int32_t width,
                                      int32_t height) {
  if (context == nullptr) return;
  RenderState3d& state = context->state;
  uint32_t words[6];
  memcpy(words, state.vertex.viewport, sizeof words);
  words[0] = static_cast<uint32_t>(left);
  words[1] = static_cast<uint32_t>(top);
  words[2] = static_cast<uint32_t>(width);
  words[3] = static_cast<uint32_t>(height);
  if (!SameBytes(words, state.vertex.viewport, sizeof words)) state.SetViewport(words);
}

void UnbindSurfaceReferences(RenderContext3d* context, Surface3d* surface) {
  if (context == nullptr || surface == nullptr) return;
  context->aux.Forget(surface);
  auto drop = [surface](Surface3d** list, uint32_t* count) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < *count; ++i)
      if (list[i] != surface) list[kept++] = list[i];
    for (uint32_t i = kept; i < *count; ++i) list[i] = nullptr;
    *count = kept;
  };
  drop(context->targets, &context->targetCount);
  drop(context->further, &context->furtherCount);
  if (context->colourTarget == surface) {
    context->colourTarget = nullptr;
    context->targetFlags &= ~kTargetColourBound;
  }
  if (context->depthTarget == surface) {
    context->depthTarget = nullptr;
    context->targetFlags &= ~kTargetDepthBound;
  }
  // The target state's slots forget it too, and the next application
  // binds again.
  if (RenderTargetState* ts = context->targetState) {
    if (ts->UsesColourSurface(surface)) context->state.raster.dirty |= kRsTargetGone;
    if (ts->UsesSurface(surface)) context->state.depthStencil.dirty |= kDsTargetGone;
    Surface3d** const slots[] = {&ts->colourRequested, &ts->colourCurrent, &ts->depthRequested, &ts->depthCurrent};
    for (Surface3d** slot : slots)
      if (*slot == surface) *slot = nullptr;
    if (surface->bindingOwner == context) surface->bindingOwner = nullptr;
    if (ts->reservedFor == surface) ts->reservedFor = nullptr;
    ForgetClearTarget(ts, surface);
  }
  // No pixel program samples it any more.
  PixelProgramCacheForgetSurface(context->programCache, surface);
  // A surface that goes is no longer in use by a draw.
  ClearSurfaceBusy(surface);
}

void RenderContext3dForgetSurface(RenderContext3d* context, const Surface3d* surface) {
  if (context != nullptr) PixelProgramCacheForgetSurface(context->programCache, surface);
}

void RenderContext3dForgetResourceTable(RenderContext3d* context) {
  if (context != nullptr) context->resources = nullptr;
}

void RenderState3dForgetBuffer(RenderContext3d* context, uint32_t type, uint32_t handle) {
  if (context != nullptr) context->state.ForgetBuffer(type, handle);
}

void RenderState3dMarkAllDirty(RenderContext3d* context) {
  if (context != nullptr) context->state.MarkAllDirty();
}
