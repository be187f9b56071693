// Render contexts and the module-wide table that holds them.
#include "kernel/3d/render/render_context.h"

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/pending.h"

namespace {

class RenderContexts : public HandleTable<RenderContext3d> {
 public:
  RenderContexts() : HandleTable<RenderContext3d>(kRenderContextTableStep) {}
};

RenderContexts* g_renderContexts = nullptr;
uint32_t g_renderContextsConstructed = 0;

constexpr uint32_t kNewlyPlacedWaitCount = 15;
constexpr uint32_t kTnlClientModeBits = 1;

}  // namespace

HandleTable<RenderContext3d>* RenderContextTable() {
  if (g_renderContexts == nullptr) g_renderContexts = OsNew<RenderContexts>();
  return g_renderContexts;
}

void EmptyRenderContextTable() {
  RenderContexts* table = g_renderContexts;
  if (table == nullptr) return;
  for (uint32_t handle = 1; handle < table->Capacity(); ++handle) DestroyRenderContext(handle);
  g_renderContexts = nullptr;
  OsDelete(table);
}

uint32_t RenderContextsConstructed() { return g_renderContextsConstructed; }

RenderContext3d* FindRenderContext(uint32_t handle) {
  return g_renderContexts != nullptr ? g_renderContexts->Get(handle) : nullptr;
}

RenderContext3d::RenderContext3d() { ++g_renderContextsConstructed; }

RenderContext3d::~RenderContext3d() {
  if (contextState != nullptr) DeleteContextState3d(contextState);
  if (programCache != nullptr) DeletePixelProgramCache(programCache);
  if (tnl != nullptr) DeleteTnlSetup(tnl);
  if (common != nullptr && common->renderedLast3d == this) common->renderedLast3d = nullptr;
  // The embedded parts go in reverse: auxiliary surfaces, then the render
  // state (their own destructors).
}

void RenderContext3d::SetStamp(uint32_t value) {
  stamp = value;
  state.SetStamp(value);
}

bool RenderContext3d::Init(RenderContextRecord* record) {
  contextWord = record->contextWord;
  secondWord = record->secondWord;
  PDEV* pdev = record->device;
  if (pdev == nullptr) return false;
  device = pdev;
  common = pdev->common;
  deviceWord = pdev->unitIndex;
  unit = pdev->unit;
  primaryStream = pdev->primaryStream;
  secondaryStream = pdev->secondaryStream;
  engineOwner = common != nullptr ? common->engineOwner3d : nullptr;

  resources = FindResourceTable(pdev, record->clientId);
  if (resources == nullptr) resources = CreateResourceTable(pdev, record->clientId);
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

  tnl = NewTnlSetup();
  if (tnl == nullptr) return false;
  TnlSetupSetProgramBuilder(tnl, common != nullptr ? common->vertexProgramBuilder : nullptr);
  if (!TnlSetupAttachContext(tnl, this, 0)) return false;

  if (!state.Init(this) || !RenderTargetStateBind(this) || !FogTableBind(this) || !VertexStreamSetupBind(this))
    return false;
  if (state.vertex.vertexShader != kVertexFormatDefault) {
    state.vertex.vertexShader = kVertexFormatDefault;
    state.vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
  }
  TnlSetupSetModeBits(tnl, kTnlClientModeBits);

  programCache = NewPixelProgramCache(this);
  if (programCache == nullptr) return false;

  targetCount = furtherCount = 0;
  depthTarget = colourTarget = nullptr;
  targetFlags = kTargetFlagsDefault;
  contextState->driverSwitchValue = ContextStateSwitchValue3d(pdev);
  contextState->dirty.words[0] |= kCsDirtyAllBlocks;
  suspended = 0;
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
        EngineOwner3dSetWaitCount(engineOwner, kNewlyPlacedWaitCount);
        surface->flagsWord &= ~kSurfFlagNewlyPlaced;
      }
      targets[targetCount++] = surface;
    }
  }
  if ((record.colour.flags & 0x1) != 0) {
    colourTarget = record.colour.surface;
    targetFlags = colourTarget != nullptr ? targetFlags | kTargetColourBound : targetFlags & ~kTargetColourBound;
  }
  if ((record.depth.flags & 0x4) != 0) {
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

void RenderContext3d::SetSuspended(bool on) {
  if (on) {
    suspended = 1;
  } else {
    suspended = 0;
    ++resumeCount;
  }
}

int CreateRenderContext(RenderContextRecord* record) {
  if (record == nullptr) return 0;
  HandleTable<RenderContext3d>* table = RenderContextTable();
  if (table == nullptr) return 0;
  RenderContext3d* context = nullptr;
  const uint32_t handle = table->Allocate(&context);
  if (handle == 0 || context == nullptr) return 0;
  context->handle = handle;
  record->handle = handle;
  context->SetStamp(kRenderContextStamp);
  if (!context->Init(record)) {
    if (context->resources != nullptr) context->resources->DetachContext(context);
    context->aux.ReleaseAll();
    table->Release(handle);
    record->handle = 0;
    return 0;
  }
  return 1;
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
  ReleaseRenderTargetMemory3d(context);
  // The last render context leaves the vertex engine's program memory
  // empty before it goes.
  if (table->Count() == 1 && context->common != nullptr)
    VertexProgramBuilderResetSlots(context->common->vertexProgramBuilder, 0);
  table->Release(handle);
}
