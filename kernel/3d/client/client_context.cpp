// 3D client contexts and their 3D contexts.
#include "kernel/3d/client/client_context.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/common_data.h"
#include "core/engine_wait.h"
#include "core/float_bits.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/kernel_device.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/fpu_bracket.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/range_map.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/token_interpreter.h"

namespace {

// Memory kinds of the surfaces that keep a last-write tag.
constexpr uint32_t kSavedTargetKindA = 3;
constexpr uint32_t kSavedTargetKindB = 4;
// Render state 166 of a new render context: 2048.0.
constexpr uint32_t kRenderStateLineLimit = 166;
constexpr uint32_t kLineLimitValue = 0x45000000;
// The default transform entry: id 1, the identity.
constexpr uint32_t kDefaultTransformId = 1;

// A new render context's defaults, stored through the rules of the tokens
// that set them.
void SetRenderContextDefaults(Context3d* owner, RenderContext3d* context, int index) {
  RenderContext3dSetStamp(context, 1);
  TokenContext3d token = {owner, owner->client->device, owner->client->common, nullptr, context, index};
  uint32_t transform[17] = {kDefaultTransformId};
  for (int i = 0; i < 4; ++i) transform[1 + i * 5] = kFloat1;
  tokens::SetTransforms(&token, reinterpret_cast<const uint8_t*>(transform), 1, 0);
  const uint32_t state[4] = {kRenderStateLineLimit, kLineLimitValue, kDrawPassState, kDrawPassSingle};
  tokens::SetRenderStates(&token, reinterpret_cast<const uint8_t*>(state), 2, 0);
}

}  // namespace

// ---- Waits and tags ---------------------------------------------------------------------

bool WaitEngineIdle3d(CommonData* common) {
  if (common == nullptr || common->sharedLocked == nullptr) return true;
  return WaitEngineDrained(common, KernelReadRegister);
}

bool WaitEngineIdle3d(ClientContext* client) {
  if (client->engineStuck) return false;
  if (!WaitEngineIdle3d(client->common)) client->engineStuck = true;
  return !client->engineStuck;
}

uint32_t CompletedTag3d(CommonData* common) {
  if (common->syncTagManager != nullptr) return common->syncTagManager->EngineTag();
  return ReadShared(&common->sharedLocked->completedTag) & ~7u;
}

bool WaitTagPassed3d(CommonData* common, uint32_t tag) {
  return KernelWait("3D tag wait", [&] {
    return ORVVideoTagPassed(tag, CompletedTag3d(common), ReadShared(&common->sharedLocked->syncTagCounter));
  });
}

// ---- Vertex layouts ---------------------------------------------------------------------

VertexLayout3d::~VertexLayout3d() {
  delete programBuffer;
  delete vertexBuffer;
  memFree(ranges);
}

// ---- Context3d --------------------------------------------------------------------------

Context3d::Context3d() = default;

Context3d::~Context3d() { memFree(scratch); }

void Context3d::RestoreTargets(ResourceTable* resources) {
  Surface3d* targets[2] = {};
  for (int i = 0; i < 2; ++i)
    targets[i] = resources != nullptr && targetIndices[i] != 0 ? resources->Get(1, targetIndices[i]) : nullptr;
  for (RenderContext3d* render : renderContexts) RenderContext3dRestoreTargets(render, targets[0], targets[1]);
}

void Context3d::ReemitSavedTargets() {
  const uint32_t mask = savedTargets.mask & (kTargetColour | kTargetDepth);
  if (mask == 0 || client == nullptr || client->common == nullptr || client->surfaces == nullptr) return;
  Surface3d* surface = client->surfaces->Surface(savedTargets.surfaceIndex);
  if (surface == nullptr) return;
  CommonData* common = client->common;
  SharedLockedData_t* shared = common->sharedLocked;
  BmSecondaryInt* secondary = common->secondaryStream;
  if (shared == nullptr || secondary == nullptr) return;
  const uint32_t tag = TakeNextTag(shared);
  const uint32_t kind = Surface3dMemoryKind(surface);
  if (kind == kSavedTargetKindA || kind == kSavedTargetKindB) surface->lastWriteTag = tag;
  (void)EmitTargetTagPacket(common, mask, tag);
}

uint8_t* Context3d::Scratch(size_t bytes) {
  if (bytes <= scratchSize && scratch != nullptr) return scratch;
  size_t size = scratchSize != 0 ? scratchSize : 4096;
  while (size < bytes) size *= 2;
  auto* grown = static_cast<uint8_t*>(memAlloc(size));
  if (grown == nullptr) return nullptr;
  memFree(scratch);
  scratch = grown;
  scratchSize = size;
  return scratch;
}

int Context3d::IndexOf(uint32_t handle) const {
  for (int i = 0; i < 2; ++i) {
    if (renderContextHandles[i] != 0 && renderContextHandles[i] == handle) return i;
  }
  return -1;
}

bool Context3d::Init(PDEV* pdev, ClientContext* owner, uint64_t key, const ClientBuffer3d& buffer,
                     Surface3d* targets[2]) {
  client = owner;
  commandBuffer = buffer;
  drawableKey = key;
  CommonData* common = pdev->common;
  if (!MmAllocatePciLockedBuffer(common, pdev->unit, 1, &statusPage, &statusPageBus)) {
    statusPage = nullptr;
    return false;
  }
  memset(statusPage, 0, kStatusPageZeroed);
  RangeMap* map = common->rangeMap;
  if (map == nullptr || !map->AddUse(key)) return false;
  drawableBound = true;
  for (int i = 0; i < 2; ++i) {
    RenderContextRequest3d request = {this, pdev, owner->processKey, static_cast<uint32_t>(i),
                                      {targets[0], targets[1]}, 0};
    const bool made = CreateRenderContext(&request);
    renderContextHandles[i] = request.handle;
    if (!made || request.handle == 0) return false;
    renderContexts[i] = RenderContextTableGet(request.handle);
    if (renderContexts[i] == nullptr) return false;
    SetRenderContextDefaults(this, renderContexts[i], i);
  }
  current = renderContexts[0];
  if (!BindDrawable(drawableKey)) return false;
  for (uint32_t& word : targetWords) word = 0;
  keys[0] = keys[1] = ~0ull;
  return true;
}

bool Context3d::BindDrawable(uint64_t key) {
  RangeMap* map = client != nullptr && client->common != nullptr ? client->common->rangeMap : nullptr;
  if (map == nullptr) return false;
  if (!drawableBound || key != drawableKey) {
    if (!map->AddUse(key)) return false;
    if (drawableBound) map->DropUse(drawableKey);
    drawableKey = key;
    drawableBound = true;
  }
  const ClipRect* rect = map->GetRect(key);
  if (rect != nullptr && current != nullptr) {
    // Sizes in unsigned arithmetic: a rectangle from outside may span more
    // than the signed range.
    const uint32_t width = static_cast<uint32_t>(rect->right) - static_cast<uint32_t>(rect->left);
    const uint32_t height = static_cast<uint32_t>(rect->bottom) - static_cast<uint32_t>(rect->top);
    RenderState3dSetDrawableViewport(current, rect->left, rect->top, static_cast<int32_t>(width),
                                     static_cast<int32_t>(height));
  }
  return true;
}

void Context3d::Release() {
  CommonData* common = client != nullptr ? client->common : nullptr;
  if (common != nullptr && client->EngineMayHoldWork()) (void)WaitEngineIdle3d(client);
  for (int i = 0; i < 2; ++i) {
    if (renderContextHandles[i] != 0) DestroyRenderContext(renderContextHandles[i]);
    renderContextHandles[i] = 0;
    renderContexts[i] = nullptr;
  }
  current = nullptr;
  if (drawableBound && common != nullptr && common->rangeMap != nullptr)
    common->rangeMap->DropUse(drawableKey);
  drawableBound = false;
  // The engine writes progress into the status page: kept when it may
  // still do so.
  if (statusPage != nullptr && common != nullptr && !client->engineStuck)
    MmFreePciLockedBuffer(common, client->device->unit, statusPage);
  statusPage = nullptr;
}

// ---- ClientContext ----------------------------------------------------------------------

ClientContext::ClientContext() = default;

ClientContext::~ClientContext() { Cleanup(); }

ClientBuffer3d* ClientContext::Buffer(uint64_t handle) const {
  return handle != 0 && handle <= kClientMaxBuffers ? buffers.Get(static_cast<uint32_t>(handle)) : nullptr;
}

Context3d* ClientContext::Context(uint64_t handle) const {
  return handle != 0 && handle <= kClientMaxContexts3d ? contexts.Get(static_cast<uint32_t>(handle))
                                                        : nullptr;
}

DataBuffer3d* ClientContext::DataBuffer(uint32_t id) const {
  if (id == 0 || !dataBuffers.ok()) return nullptr;
  auto it = dataBuffers.find(id);
  return it != dataBuffers.end() ? it->second : nullptr;
}

bool ClientContext::Init(PDEV* pdev, uint32_t key) {
  device = pdev;
  common = pdev->common;
  processKey = key;
  resources = CreateResourceTable(pdev, key);
  if (resources == nullptr) return false;
  surfaces = SurfaceList3dCreate(pdev, this, resources);
  if (surfaces == nullptr) return false;
  void* block = nullptr;
  if (!MmAllocateLockedPages(common, pdev->unit, 1, &block, &requestBlockBus)) return false;
  requestBlock = static_cast<ClientRequest*>(block);
  memset(requestBlock, 0, sizeof(ClientRequest));
  for (int i = 0; i < 2; ++i) {
    if (!MmAllocatePciLockedBuffer(common, pdev->unit, 1, &staging[i], &stagingBus[i]))
      staging[i] = nullptr;
  }
  return true;
}

void ClientContext::MarkLost() {
  if (lost) return;
  if (surfaces != nullptr) surfaces->SaveAndRelease();
  contexts.ForEach(
      [](Context3d* context, void*, uint32_t, uint32_t) {
        if (context->current == nullptr) return;
        // Both render contexts let go of the targets: the surfaces are
        // released now, and the other one must not keep pointers to them.
        for (RenderContext3d* render : context->renderContexts) RenderContext3dDropTargets(render);
        RenderState3dMarkAllDirty(context->current);
      },
      nullptr);
  if (dataBuffers.ok()) {
    for (auto it = dataBuffers.begin(); it != dataBuffers.end(); ++it) {
      DataBuffer3d* data = it->second;
      if (data->table != nullptr && data->surface != nullptr)
        data->table->DestroyResource(2, Surface3dResourceHandle(data->surface));
      delete data->ring;
      memFree(data);
    }
    dataBuffers.clear();
  }
  layouts.FreeAll();
  // The device stopped behind its closing tag; when the engine reached
  // every tag given out, it holds no work of this client.
  idleAtLoss = false;
  if (common != nullptr && common->sharedLocked != nullptr) {
    const uint32_t newest = ReadShared(&common->sharedLocked->syncTagCounter);
    idleAtLoss = ORVVideoTagPassed(newest & ~7u, CompletedTag3d(common), newest);
  }
  lost = true;
}

bool ClientContext::Reattach() {
  if (surfaces != nullptr && !surfaces->Restore()) return false;
  contexts.ForEach(
      [](Context3d* context, void* resources, uint32_t, uint32_t) {
        context->RestoreTargets(static_cast<ResourceTable*>(resources));
        for (RenderContext3d* render : context->renderContexts) {
          if (render != nullptr) RenderState3dMarkAllDirty(render);
        }
        context->ReemitSavedTargets();
      },
      resources);
  lost = false;
  idleAtLoss = false;
  return true;
}

void FreeClientBuffer(CommonData* common, uint32_t unit, ClientBuffer3d* buffer) {
  if (buffer == nullptr || buffer->linear == nullptr) return;
  switch (buffer->kind) {
    case kClientBufferAgp:
      MmFreeAGPBuffer(common, unit, buffer->linear);
      break;
    case kClientBufferPciLocked:
      MmFreePciLockedBuffer(common, unit, buffer->linear);
      break;
    default:
      MmFreeLockedPages(common, unit, buffer->linear);
      break;
  }
  buffer->linear = nullptr;
}

void ClientContext::ReleaseFlipSlots() {
  FlipController* flips = common != nullptr ? common->flipController : nullptr;
  for (int32_t& slot : flipSlots) {
    if (slot >= 0 && flips != nullptr && !flips->ReleaseBuffer(static_cast<uint32_t>(slot), flipMask)) continue;
    slot = -1;
  }
}

void ClientContext::Cleanup() {
  const uint32_t unit = device != nullptr ? device->unit : 0;
  ReleaseFlipSlots();
  contexts.ForEach(
      [](Context3d* context, void*, uint32_t, uint32_t) { context->Release(); }, nullptr);
  contexts.FreeAll();
  if (buffers.Count() != 0 && common != nullptr && (!EngineMayHoldWork() || WaitEngineIdle3d(this))) {
    for (uint32_t handle = 1; handle < buffers.Capacity(); ++handle) {
      if (ClientBuffer3d* buffer = buffers.Get(handle)) FreeClientBuffer(common, unit, buffer);
    }
  }
  buffers.FreeAll();
  // A layout's buffers are the engine's to read: kept when it may still.
  if (engineStuck) layouts.DetachAll();
  layouts.FreeAll();
  if (surfaces != nullptr) SurfaceList3dDestroy(surfaces);
  surfaces = nullptr;
  if (dataBuffers.ok()) {
    for (auto it = dataBuffers.begin(); it != dataBuffers.end(); ++it) {
      DataBuffer3d* data = it->second;
      if (data->table != nullptr && data->surface != nullptr)
        data->table->DestroyResource(2, Surface3dResourceHandle(data->surface));
      delete data->ring;
      memFree(data);
    }
    dataBuffers.clear();
  }
  if (resources != nullptr && device != nullptr) DestroyResourceTable(device, processKey);
  resources = nullptr;
  // A drawable the client put into the board's map that no 3D context uses
  // (its own are released above) would otherwise stay for the board's
  // life, still cutting into the visible rectangles of other drawables and
  // holding a place of the map.
  RangeMap* map = common != nullptr ? common->rangeMap : nullptr;
  if (drawables.ok()) {
    for (auto it = drawables.begin(); it != drawables.end(); ++it) {
      const RangeMapEntry* entry = map != nullptr ? map->Find(it->first) : nullptr;
      if (entry != nullptr && entry->users == 0 && it->first != 0) map->Remove(it->first);
    }
    drawables.clear();
  }
  if (common != nullptr) {
    for (int i = 0; i < 2; ++i) {
      if (staging[i] != nullptr && !engineStuck) MmFreePciLockedBuffer(common, unit, staging[i]);
      staging[i] = nullptr;
    }
    if (requestBlock != nullptr) MmFreeLockedPages(common, unit, requestBlock);
    requestBlock = nullptr;
    // Tag 1 is the ring's initial value, never a tag the engine is given.
    const uint32_t tag = presentTags[(presentIndex + 5) % 6];
    if (common->sharedLocked != nullptr && tag != 1 && EngineMayHoldWork()) (void)WaitTagPassed3d(common, tag);
    for (uint32_t& present : presentTags) present = 1;
  }
}

// ---- The kernel core's calls ------------------------------------------------------------

PDEV* ClientContext3dDevice(ClientContext* context) {
  return context != nullptr ? context->device : nullptr;
}

void DestroyClientContext3d(KernelClient* client) {
  if (client == nullptr || client->context3d == nullptr) return;
  ClientContext* context = client->context3d;
  client->context3d = nullptr;
  OpenFpuBracket();
  context->Cleanup();
  CloseFpuBracket();
  delete context;
}

void SaveClientContext3dSurfaces(KernelClient* client) {
  if (client == nullptr || client->context3d == nullptr) return;
  ClientContext* context = client->context3d;
  // Saving twice saves nothing more: the saved surfaces are gone from the
  // list until request 3 brings them back.
  if (!context->lost && context->surfaces != nullptr) context->surfaces->SaveAndRelease();
}

void MarkClientContext3dLost(KernelClient* client) {
  if (client == nullptr || client->context3d == nullptr) return;
  client->context3d->MarkLost();
}
