// A 3D client's requests: the dispatcher and the handlers of every code.
// Every handler works on the kernel's snapshot of the request block; every
// handle, id and index is looked up in the client's own tables.
#include "kernel/3d/client/dispatcher.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/draw_replay.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/3d/targets/render_target_state.h"
#include "core/driver_switches.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/locked_pages.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/range_map.h"
#include "kernel/sync_tags.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr uint32_t kPageBytes = 4096;
constexpr uint32_t kDataBufferResourceType = 2;
constexpr uint32_t kDataBufferPlacement = 2;

// Bus-master flags that allow buffers of kinds 1 (AGP) and 2 (PCI locked).
constexpr uint32_t kBusFlagAgp = 0x10;

bool PdevRunning(const PDEV* pdev) {
  return pdev != nullptr && pdev->active != 0 && pdev->constructed != 0;
}

int32_t Reattach(ClientContext* client, ClientRequest*) {
  if (!client->lost) return kRequestOk;
  if (!PdevRunning(client->device)) return kRequestNotRunning;
  return client->Reattach() ? kRequestOk : kRequestRefused;
}

int32_t WaitIdle(ClientContext* client, ClientRequest*) {
  return WaitEngineIdle3d(client->common) ? kRequestOk : kRequestBusy;
}

int32_t CreateBuffer(ClientContext* client, ClientRequest* request) {
  const uint32_t size = request->U32(16);
  const uint32_t kind = request->U32(24);
  if (size == 0 || size > 0xFFFFFFFFu - (kPageBytes - 1)) return kRequestRefused;
  const uint32_t rounded = (size + kPageBytes - 1) & ~(kPageBytes - 1);
  const uint32_t busFlags = ReadShared(&client->common->sharedLocked->busFlags);
  if (kind == kClientBufferAgp && (busFlags & kBusFlagAgp) == 0) return kRequestRefused;
  if (kind == kClientBufferPciLocked && (busFlags & kBusFlagsPciLocked) != kBusFlagsPciLocked)
    return kRequestRefused;
  if (kind != kClientBufferAgp && kind != kClientBufferPciLocked && kind != kClientBufferPages)
    return kRequestRefused;
  ClientBuffer3d* buffer = nullptr;
  const uint32_t handle = client->buffers.Allocate(&buffer);
  if (handle == 0) return kRequestRefused;
  CommonData* common = client->common;
  const uint32_t unit = client->device->unit;
  const uint32_t pages = rounded / kPageBytes;
  bool made = false;
  if (kind == kClientBufferAgp) made = MmAllocateAGPBuffer(common, unit, pages, &buffer->linear, &buffer->bus);
  if (kind == kClientBufferPciLocked)
    made = MmAllocatePciLockedBuffer(common, unit, pages, &buffer->linear, &buffer->bus);
  if (kind == kClientBufferPages) made = MmAllocateLockedPages(common, unit, pages, &buffer->linear, &buffer->bus);
  if (!made) {
    client->buffers.Free(handle);
    return kRequestRefused;
  }
  buffer->size = rounded;
  buffer->kind = kind;
  request->SetU64(32, handle);
  request->SetU64(16, rounded);
  request->SetU64(40, buffer->bus);
  return kRequestOk;
}

int32_t DestroyBuffer(ClientContext* client, ClientRequest* request) {
  const uint64_t handle = request->U64(16);
  if (handle == 0) return kRequestRefused;
  ClientBuffer3d* buffer = client->Buffer(handle);
  if (buffer == nullptr) return kRequestOk;
  // A 3D context that runs its streams from the buffer keeps it.
  bool inUse = false;
  Otl::Pair<ClientBuffer3d*, bool*> state{buffer, &inUse};
  client->contexts.ForEach(
      [](Context3d* context, void* argument, uint32_t, uint32_t) {
        auto* s = static_cast<Otl::Pair<ClientBuffer3d*, bool*>*>(argument);
        if (context->commandBuffer.linear == s->first->linear) *s->second = true;
      },
      &state);
  if (inUse) return kRequestRefused;
  if (!WaitEngineIdle3d(client)) return kRequestBusy;
  // No draw may read the buffer through a source bound to it.
  client->contexts.ForEach(
      [](Context3d* context, void* argument, uint32_t, uint32_t) {
        ForgetClientBuffer3d(context, *static_cast<const ClientBuffer3d*>(argument));
      },
      buffer);
  FreeClientBuffer(client->common, client->device->unit, buffer);
  client->buffers.Free(static_cast<uint32_t>(handle));
  return kRequestOk;
}

int32_t CreateContext3d(ClientContext* client, ClientRequest* request) {
  ClientBuffer3d* buffer = client->Buffer(request->U64(24));
  if (buffer == nullptr) return kRequestRefused;
  Surface3d* targets[2] = {};
  for (int i = 0; i < 2; ++i) {
    const uint32_t index = request->U32(32 + 8 * i);
    targets[i] = client->resources != nullptr ? client->resources->Get(1, index) : nullptr;
  }
  Context3d* context = nullptr;
  const uint32_t handle = client->contexts.Allocate(&context);
  if (handle == 0) return kRequestRefused;
  if (!context->Init(client->device, client, request->U64(16), *buffer, targets)) {
    context->Release();
    client->contexts.Free(handle);
    return kRequestRefused;
  }
  for (int i = 0; i < 2; ++i) context->targetIndices[i] = targets[i] != nullptr ? request->U32(32 + 8 * i) : 0;
  request->SetU32(48, handle);
  request->SetU64(72, context->statusPageBus);
  request->SetU64(56, context->renderContextHandles[0]);
  request->SetU64(64, context->renderContextHandles[1]);
  return kRequestOk;
}

int32_t DestroyContext3d(ClientContext* client, ClientRequest* request) {
  const uint32_t handle = request->U32(16);
  Context3d* context = client->Context(handle);
  if (context == nullptr) return kRequestRefused;
  context->Release();
  client->contexts.Free(handle);
  return kRequestOk;
}

// Request 9 does nothing and succeeds.
int32_t Nop() { return kRequestOk; }

int32_t SurfaceRequest(ClientContext* client, ClientRequest* request, uint8_t* record) {
  if (client->surfaces == nullptr) return kRequestRefused;
  return client->surfaces->Request(request, record);
}

// Present (16): the throttle on displayable sources, then a copy or fill
// per rectangle of the drawable.
int32_t PresentSurface(ClientContext* client, ClientRequest* request, const RequestCopies* copies) {
  const uint32_t* sourceBoxIn = copies != nullptr && copies->haveBox[0] ? copies->box[0] : nullptr;
  const uint32_t* destinationBoxIn = copies != nullptr && copies->haveBox[1] ? copies->box[1] : nullptr;
  const uint32_t flags = request->U32(16);
  Context3d* context = client->Context(request->U32(24));
  if (context == nullptr || client->surfaces == nullptr) return kRequestRefused;
  ClientObject* sourceObject = client->surfaces->Object(request->U64(40));
  Surface3d* source = sourceObject != nullptr ? sourceObject->surface : nullptr;
  if (source == nullptr || Surface3dMemoryKind(source) == 0) return kRequestRefused;
  const bool displayable = (Surface3dFlagByte(source) & 0x2) != 0;
  Surface3d* destination = source;
  ClientObject* destinationObject = sourceObject;
  if ((flags & 0x2) == 0 && request->U64(32) != 0) {
    destinationObject = client->surfaces->Object(request->U64(32));
    destination = destinationObject != nullptr ? destinationObject->surface : nullptr;
    if (destination == nullptr || Surface3dMemoryKind(destination) == 0) return kRequestRefused;
  }
  RangeMap* map = client->common->rangeMap;
  if (sourceBoxIn == nullptr || destinationBoxIn == nullptr || map == nullptr) return kRequestRefused;
  SharedLockedData_t* shared = client->common->sharedLocked;
  uint32_t tag = 0;
  if (displayable) {
    const uint32_t slot = static_cast<uint32_t>(client->presentIndex) % 6;
    const uint32_t counter = ReadShared(&shared->syncTagCounter);
    if (client->presentTags[slot] != 1 &&
        !ORVVideoTagPassed(client->presentTags[slot], CompletedTag3d(client->common), counter))
      return kRequestBusy;
    tag = TakeNextTag(shared);
    client->presentTags[slot] = tag;
    client->presentIndex = static_cast<int32_t>((slot + 1) % 6);
  }
  // Each box within its surface, never turned inside out.
  uint32_t boxes[2][6];
  memcpy(boxes[0], sourceBoxIn, sizeof(boxes[0]));
  memcpy(boxes[1], destinationBoxIn, sizeof(boxes[1]));
  Surface3d* owners[2] = {source, destination};
  for (int b = 0; b < 2; ++b) {
    uint32_t width = 0, height = 0;
    Surface3dExtent(owners[b], &width, &height);
    uint32_t* box = boxes[b];
    if (box[3] > width) box[3] = width;
    if (box[4] > height) box[4] = height;
    if (box[0] > box[3]) box[0] = box[3];
    if (box[1] > box[4]) box[1] = box[4];
  }
  sourceBoxIn = boxes[0];
  destinationBoxIn = boxes[1];
  const ClipRectList* list = displayable ? map->GetVisibleRects(context->drawableKey)
                                         : map->GetClipRects(context->drawableKey);
  if (list != nullptr) {
    const uint32_t count = list->count < kClipRectMax ? list->count : kClipRectMax;
    for (uint32_t i = 0; i < count; ++i) {
      const ClipRect& rect = list->rects[i];
      uint32_t src[6];
      uint32_t dst[6];
      memcpy(src, sourceBoxIn, sizeof(src));
      memcpy(dst, destinationBoxIn, sizeof(dst));
      // The clipping box and the one that follows it edge for edge.
      uint32_t* clipped = (flags & 0x4) != 0 ? src : dst;
      uint32_t* other = (flags & 0x4) != 0 ? dst : src;
      const int32_t before[4] = {static_cast<int32_t>(clipped[0]), static_cast<int32_t>(clipped[1]),
                                 static_cast<int32_t>(clipped[3]), static_cast<int32_t>(clipped[4])};
      int32_t x0 = before[0] > rect.left ? before[0] : rect.left;
      int32_t y0 = before[1] > rect.top ? before[1] : rect.top;
      const int32_t x1 = before[2] < rect.right ? before[2] : rect.right;
      const int32_t y1 = before[3] < rect.bottom ? before[3] : rect.bottom;
      if (x0 > x1) x0 = x1;
      if (y0 > y1) y0 = y1;
      if (x0 == x1 || y0 == y1) continue;
      if ((flags & 0x4) != 0) {
        clipped[0] = x0, clipped[1] = y0, clipped[3] = x1, clipped[4] = y1;
        memcpy(other, clipped, sizeof(src));
      } else {
        other[0] += static_cast<uint32_t>(x0 - before[0]);
        other[1] += static_cast<uint32_t>(y0 - before[1]);
        other[3] -= static_cast<uint32_t>(before[2] - x1);
        other[4] -= static_cast<uint32_t>(before[3] - y1);
        clipped[0] = x0, clipped[1] = y0, clipped[3] = x1, clipped[4] = y1;
      }
      if (flags & 0x1) ClientObjectCopyRect(destinationObject, sourceObject, src, dst, request);
      if (flags & 0x2) ClientObjectFill(destinationObject, dst, request);
    }
  }
  if (tag != 0 && client->common->primaryStream != nullptr) {
    if (uint32_t* at = client->common->primaryStream->Reserve(BmSyncTagWords())) {
      BmWriteSyncTag(at, tag | kTagProgress);
      client->common->primaryStream->Kick();
      // The tag packet writes register 0xC0, the engine state's control
      // word.
      ControlWordOverwritten(client->common);
    }
  }
  return kRequestOk;
}

int32_t CreateDataBuffer(ClientContext* client, ClientRequest* request, const uint8_t* data) {
  const uint32_t size = request->U32(24);
  uint32_t id = request->U32(32);
  if (!client->dataBuffers.ok() || client->dataBuffers.size() >= kClientMaxDataBuffers)
    return kRequestRefused;
  if (id == 0) {
    // The next id from the context's counter that names no buffer yet.
    for (uint32_t tries = 0; tries <= kClientMaxDataBuffers && id == 0; ++tries) {
      const uint32_t candidate = client->nextDataBufferId++;
      if (candidate != 0 && client->DataBuffer(candidate) == nullptr) id = candidate;
    }
    if (id == 0) return kRequestRefused;
  } else if (client->DataBuffer(id) != nullptr) {
    return kRequestRefused;
  }
  const uint32_t ringSize = static_cast<uint32_t>((uint64_t{size} + kPageBytes - 1) & ~uint64_t{kPageBytes - 1});
  if (ringSize == 0 || client->resources == nullptr) return kRequestRefused;
  BmBufferRing* ring = BmBufferRing::Create(ringSize, kDataBufferPlacement, client->device->common,
                                            client->device->unit, 0);
  if (ring == nullptr) return kRequestRefused;
  Surface3d* surface = client->resources->CreateBufferSurface(kDataBufferResourceType, ring);
  if (surface == nullptr) {
    delete ring;
    return kRequestRefused;
  }
  if (data != nullptr && size != 0) {
    if (void* at = ring->Lock(false, false)) {
      const uint32_t room = ring->Size();
      memcpy(at, data, size < room ? size : room);
      ring->Unlock();
    }
  }
  auto* record = static_cast<DataBuffer3d*>(memAlloc(sizeof(DataBuffer3d)));
  if (record == nullptr ||
      !client->dataBuffers.insert(Otl::Pair<const uint32_t, DataBuffer3d*>{id, record}).second) {
    memFree(record);
    client->resources->DestroyResource(kDataBufferResourceType, Surface3dResourceHandle(surface));
    delete ring;
    return kRequestRefused;
  }
  *record = DataBuffer3d{surface, ring, client->resources};
  request->SetU32(32, Surface3dResourceHandle(surface));
  request->SetU32(24, Surface3dSecondWord(surface));
  return kRequestOk;
}

int32_t DestroyDataBuffer(ClientContext* client, ClientRequest* request) {
  const uint32_t id = request->U32(16);
  DataBuffer3d* data = client->DataBuffer(id);
  if (data == nullptr) return kRequestRefused;
  client->dataBuffers.erase(client->dataBuffers.find(id));
  if (data->table != nullptr && data->surface != nullptr)
    data->table->DestroyResource(kDataBufferResourceType, Surface3dResourceHandle(data->surface));
  delete data->ring;
  memFree(data);
  return kRequestOk;
}

int32_t WriteDataBuffer(ClientContext* client, ClientRequest* request, const uint8_t* data,
                        uint32_t copied) {
  DataBuffer3d* buffer = client->DataBuffer(request->U32(16));
  if (buffer == nullptr || buffer->ring == nullptr) return kRequestRefused;
  if (data == nullptr || copied == 0) return kRequestOk;
  const uint32_t size = buffer->ring->Size();
  const uint32_t offset = request->U32(24);
  const uint32_t start = offset < size ? offset : size;
  uint32_t count = size - start;
  if (copied < count) count = copied;
  if (count == 0) return kRequestOk;
  if (auto* at = static_cast<uint8_t*>(buffer->ring->Lock(false, false))) {
    memcpy(at + start, data, count);
    buffer->ring->Unlock();
  }
  return kRequestOk;
}

int32_t SetDrawableRects(ClientContext* client, ClientRequest* request) {
  RangeMap* map = client->common->rangeMap;
  const uint32_t count = request->U32(40);
  if (map == nullptr || count > kClipRectMax) return kRequestRefused;
  // Request 29's rectangles run from 48 to the block's end: at most 32 fit.
  static_assert(48 + 16 * kClipRectMax <= kRequestLengthAt);
  const uint64_t key = request->U64(16);
  const bool known = map->Find(key) != nullptr;
  RangeMapEntry* entry = map->FindOrInsert(key);
  if (entry == nullptr) return kRequestRefused;
  // A drawable this request adds goes with the client unless a 3D context
  // uses it then: without the note it could not, so it is refused.
  if (!known && client->drawables.insert({key, 0}).first == client->drawables.end()) {
    map->Remove(key);
    return kRequestRefused;
  }
  memcpy(&entry->rect, request->bytes + 24, sizeof(ClipRect));
  entry->clip->count = count;
  memcpy(entry->clip->rects, request->bytes + 48, count * sizeof(ClipRect));
  const VideoMode& mode = client->device->mode;
  map->UpdateVisibleRects(request->U64(16), static_cast<int32_t>(mode.virtualWidth),
                          static_cast<int32_t>(mode.virtualHeight));
  return kRequestOk;
}

int32_t BindDrawable(ClientContext* client, ClientRequest* request) {
  Context3d* context = client->Context(request->U32(16));
  if (context == nullptr) return kRequestRefused;
  return context->BindDrawable(request->U64(24)) ? kRequestOk : kRequestRefused;
}

// ---- Flips (28) -------------------------------------------------------------------------

// The display shows the surface: a buffer slot of the flip controller takes
// its start address and a display event selects the slot, at once or at
// the next vertical blank. The client keeps the slots of its last two
// flips; the older one is free again once the newer flip is done.
int32_t FlipSurface(ClientContext* client, ClientRequest* request) {
  CommonData* common = client->common;
  PDEV* pdev = client->device;
  Surface3d* surface = client->surfaces != nullptr ? client->surfaces->Surface(request->U64(16)) : nullptr;
  if (surface == nullptr || common->flipController == nullptr || common->syncTagManager == nullptr ||
      common->primaryStream == nullptr)
    return kRequestRefused;
  FlipController* flips = common->flipController;
  const uint32_t mask = pdev->displayMask;
  Surface3dCompletePendingWork(surface);
  Surface3d* previous = BlitEngine3dDisplayedSurface(pdev);
  BlitEngine3dSetDisplayedSurface(pdev, surface);
  auto refuse = [&](int32_t result) {
    BlitEngine3dSetDisplayedSurface(pdev, previous);
    return result;
  };
  DriverSwitchesCommon* switches = common->driverSwitches;
  const uint32_t answer =
      switches != nullptr && switches->FlipOnVBlank != nullptr ? switches->FlipOnVBlank->GetValue() : 1;
  const uint32_t asked = request->U32(24);
  const uint32_t value = answer == 0 ? 0 : (answer == 1 && asked == 0 ? 1 : asked);
  uint32_t flags = 0;
  if (value != 0) {
    if (!flips->WaitNoFlipPending(mask)) return refuse(kRequestBusy);
    if (value == 1) flags |= kEventFlagNoVSync | kEventFlagAtOnce;
  } else {
    flags |= kEventFlagAtOnce;
  }
  // The older of the client's two slots is no longer shown once no flip is
  // pending.
  if (client->flipSlots[0] >= 0) {
    if (!flips->ReleaseBuffer(static_cast<uint32_t>(client->flipSlots[0]), client->flipMask))
      return refuse(kRequestBusy);
    client->flipSlots[0] = -1;
  }
  const uint32_t start = Surface3dFlipAddress(surface, (Surface3dFlagByte(surface) & 0x2) != 0);
  const int32_t slot = flips->AssignBuffer(start, mask);
  if (slot < 0) return refuse(kRequestBusy);
  const SyncTagEvent event = {static_cast<uint32_t>(slot), 0, flags, 0, mask};
  const bool posted = common->syncTagManager->PostEvent(common->primaryStream, event);
  // The event's packet writes register 0xC0, the engine state's control
  // word.
  ControlWordOverwritten(common);
  if (!posted) {
    for (uint32_t d = 0; d < kDisplayCount; ++d) {
      if (mask & (1u << d)) flips->slots[d][slot] = kFlipSlotFree;
    }
    return refuse(kRequestBusy);
  }
  if (client->flipSlots[1] >= 0 && client->flipMask != mask) {
    // Flips of another display set: its slot goes once this flip is done.
    (void)flips->ReleaseBuffer(static_cast<uint32_t>(client->flipSlots[1]), client->flipMask);
    client->flipSlots[1] = -1;
  }
  client->flipSlots[0] = client->flipSlots[1];
  client->flipSlots[1] = slot;
  client->flipMask = mask;
  return kRequestOk;
}

// ---- Read-back (31) ---------------------------------------------------------------------

constexpr uint32_t kStagingBytes = 4096;
constexpr uint32_t kReadRectOperation = 706;

constexpr uint32_t kCopyPresetIndex = 1;   // the engine owner's copy state (operation shape 2)
constexpr uint32_t kStagingSpace = 3;      // address bits 0-1: PCI-locked system memory
constexpr uint32_t kStagingLayout = 0x10000;  // the staging descriptor's layout 1
constexpr uint32_t kOneRow = 1u << 16;         // the copy's height 1

// The staging page's engine format by the surface's bits per pixel.
uint32_t StagingFormatBits(uint32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8:
      return 0x10000000;
    case 16:
      return 0x20000000;
    case 30:
      return 0x34000000;
    default:
      return 0x30000000;
  }
}

// The engine's descriptor of the surface a row is read from: false when
// the engine cannot address it (no descriptor, or a box beyond the
// 16-bit coordinates).
struct RowSource {
  uint32_t word0 = 0;
  uint32_t word1 = 0;
  uint32_t x = 0;
  uint32_t y = 0;
};
bool EngineRowSource(const Surface3d* surface, uint32_t left, uint32_t bottom, RowSource* out) {
  if (!SurfaceEngineDescriptor(surface, &out->word0, &out->word1)) return false;
  uint64_t x = left, y = 0;
  if (surface->view.active) x += surface->view.x, y += surface->view.y;
  if (x > 0xFFFF || y + bottom > 0x10000) return false;
  out->x = static_cast<uint32_t>(x);
  out->y = static_cast<uint32_t>(y);
  return true;
}

// The engine copies one row of the surface (width pixels from left) into
// a staging page: the engine owner's copy state gets operation 706 (copy
// from descriptor 2 to descriptor 0), the surface as source and the page
// as a one-row destination, and runs; what it wrote is handed to the
// primary stream.
bool CopyRowToStaging(ClientContext* client, Surface3d* surface, const RowSource& source, uint32_t row,
                      uint32_t width, uint64_t stagingBus) {
  EngineOwner3d* owner = client->common->engineOwner3d;
  ContextState3d* state = owner != nullptr ? owner->presets[kCopyPresetIndex] : nullptr;
  if (state == nullptr) return false;
  uint32_t* block = state->operationBlock;
  block[kOpCode] = kReadRectOperation;
  block[kOpPlaneMask] = 0xFFFFFFFF;
  block[kOpForeground] = 0;
  block[kOpBackground] = 0;
  block[kOpSizeGo] = kOneRow | width;
  block[kOpOrigin] = 0;
  block[kOpStart] = (source.y + row) << 16 | source.x;
  block[kOpSurface88] = static_cast<uint32_t>(stagingBus) | kStagingSpace;
  block[kOpSurface89] = StagingFormatBits(Surface3dBitsPerPixel(surface)) | kStagingLayout | width;
  block[kOpSurface88 + 2] = source.word0;
  block[kOpSurface89 + 2] = source.word1;
  owner->Execute(state, 0, false);
  return true;
}

// Rows of a box come back bottom-up through the two staging pages: the
// engine copies row r - 1 into one page while the processor copies row r
// out of the other, once the engine is done with it.
int32_t ReadRect(ClientContext* client, ClientRequest* request, const RequestCopies* copies) {
  if (client->staging[0] == nullptr || client->staging[1] == nullptr || client->surfaces == nullptr ||
      copies == nullptr || !copies->haveBox[0])
    return kRequestRefused;
  Surface3d* surface = client->surfaces->Surface(request->U64(16));
  if (surface == nullptr || Surface3dMemoryKind(surface) == 0) return kRequestRefused;
  uint32_t width = 0, height = 0;
  Surface3dExtent(surface, &width, &height);
  const int32_t* box = reinterpret_cast<const int32_t*>(copies->box[0]);
  if (int64_t{box[3]} - box[0] > 1024) return kRequestRefused;
  const int64_t left = box[0] > 0 ? box[0] : 0;
  const int64_t top = box[1] > 0 ? box[1] : 0;
  const int64_t right = box[3] < static_cast<int64_t>(width) ? box[3] : width;
  const int64_t bottom = box[4] < static_cast<int64_t>(height) ? box[4] : height;
  if (right <= left || bottom <= top || right - left > 1024) return kRequestRefused;
  const uint32_t columns = static_cast<uint32_t>(right - left);
  const uint64_t rowBytes = uint64_t{columns} * Surface3dBitsPerPixel(surface) / 8;
  if (rowBytes == 0 || rowBytes > kStagingBytes) return kRequestRefused;
  // The staging pages are engine addresses of 32 bits, and the engine
  // must be able to address the rows.
  if (client->stagingBus[0] > 0xFFFFFFFFu - kStagingBytes || client->stagingBus[1] > 0xFFFFFFFFu - kStagingBytes)
    return kRequestRefused;
  RowSource source;
  if (!EngineRowSource(surface, static_cast<uint32_t>(left), static_cast<uint32_t>(bottom), &source))
    return kRequestRefused;
  BmPrimInt* primary = client->common->primaryStream;
  if (primary == nullptr) return kRequestRefused;
  if (!Surface3dIsSyncSuspended(surface)) Surface3dFlushIfRenderTarget(surface);
  const uint32_t pitch = request->U32(32);
  uint64_t destination = request->U64(40);
  for (int64_t r = bottom; r >= top; --r) {
    if (r != top) {
      if (!CopyRowToStaging(client, surface, source, static_cast<uint32_t>(r - 1), columns,
                            client->stagingBus[(r - 1) % 2]))
        return kRequestRefused;
      primary->Kick();
    }
    if (r != bottom) {
      // The engine may still be writing the page: wait for it first.
      if (!WaitEngineIdle3d(client)) return kRequestBusy;
      void* user = reinterpret_cast<void*>(static_cast<uintptr_t>(destination));
      if (ClientCopyToUserSpace(user, client->staging[r % 2], static_cast<size_t>(rowBytes)) != 0)
        return kRequestRefused;
      destination += pitch;
    }
  }
  SharedLockedData_t* shared = client->common->sharedLocked;
  const uint32_t tag = TakeNextTag(shared);
  uint32_t* at = primary->Reserve(BmSyncTagWords(k2dIdxControl));
  if (at == nullptr) return kRequestRefused;
  BmWriteSyncTag(at, tag | kTagProgress, k2dIdxControl, kReadRectOperation);
  primary->Kick();
  ControlWordOverwritten(client->common);  // the tag packet's register 0xC0
  return WaitTagPassed3d(client->common, tag) ? kRequestOk : kRequestBusy;
}

// ---- Vertex layouts (17, 18) -----------------------------------------------------------

constexpr uint32_t kLayoutIndex[13] = {0, 2, 3, 4, 5, 6, 7, 9, 10, 1, 5, 5, 5};
constexpr uint32_t kLayoutMode[13] = {32, 32, 61, 61, 61, 92, 92, 92, 92, 92, 92, 61, 92};
constexpr uint32_t kLayoutSub[13] = {0, 0, 1, 2, 2, 3, 4, 5, 5, 6, 7, 1, 3};
constexpr uint32_t kLayoutClass[14] = {0, 1, 1, 3, 4, 4, 4, 7, 7, 9, 10, 11, 12, 13};
constexpr uint32_t kLayoutNoType = 13;
constexpr uint32_t kLayoutRecordCommand = 0x0B000000;
constexpr uint32_t kLayoutFirstRecord = 0x80000000;
constexpr uint32_t kModePacketWords = 3;

// A buffer of the layout: local video memory, else AGP memory.
BmBuffer* CreateLayoutBuffer(ClientContext* client, uint32_t bytes) {
  BmBuffer_AllocOptions options = {};
  options.Add(kBmMemLocal, bytes);
  options.Add(kBmMemAgp, bytes);
  BmBuffer* buffer = BmBuffer::Create(client->common, client->device->unit, options);
  if (buffer != nullptr && (buffer->Begin() == nullptr || buffer->size < bytes)) {
    delete buffer;
    return nullptr;
  }
  return buffer;
}

bool WriteLayoutProgram(VertexLayout3d* layout, const LayoutElementCopy* elements, uint32_t count,
                        uint32_t rangeCount) {
  layout->ranges = static_cast<LayoutRange*>(memAlloc(sizeof(LayoutRange) * (rangeCount != 0 ? rangeCount : 1)));
  if (layout->ranges == nullptr) return false;
  BmBuffer* program = layout->programBuffer;
  uint32_t* at = program->Begin();
  uint32_t mode = (kLayoutMode[kLayoutIndex[elements[0].type]] & 127) | (1u << 18);
  uint32_t previous = kLayoutNoType;
  LayoutRange* open = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const LayoutElementCopy& element = elements[i];
    if (element.type != previous) {
      if (kLayoutClass[element.type] == kLayoutClass[previous]) {
        mode = (mode & ~(7u << 12)) | ((kLayoutSub[kLayoutIndex[element.type]] & 7) << 12);
        DirectSink sink{at};
        PutPacket(sink, PacketHeader(k3dIdxPrimitiveControl), mode);
        at = sink.at;
      } else {
        if (open != nullptr) open->end = program->BusOf(at);
        if (layout->rangeCount == rangeCount) return false;
        open = &layout->ranges[layout->rangeCount++];
        *open = LayoutRange{1, element.type, program->BusOf(at), 0};
      }
      previous = element.type;
    }
    PacketWords record{at};
    record.Word(((element.wordCount - 1) & 0xFFFF) | kLayoutRecordCommand | (i == 0 ? kLayoutFirstRecord : 0));
    at = record.Copy(element.words, element.wordCount).End();
  }
  if (open != nullptr) open->end = program->BusOf(at);
  return true;
}

int32_t CreateVertexLayout(ClientContext* client, ClientRequest* request, const RequestCopies* copies) {
  request->SetU64(64, 0);
  if (copies == nullptr || copies->layoutRefused) return kRequestRefused;
  const uint32_t count = copies->elementCount;
  const uint32_t stride = request->U32(32);
  const uint32_t vertices = request->U32(40);
  VertexLayout3d* layout = nullptr;
  const uint32_t handle = client->layouts.Allocate(&layout);
  if (handle == 0) return kRequestRefused;
  layout->elementCount = request->U32(16);
  layout->stride = stride;
  layout->vertexCount = vertices;
  const uint64_t vertexBytes = (uint64_t{stride} * vertices + 3) & ~uint64_t{3};
  uint32_t rangeCount = 0;
  const uint64_t programBytes = MeasureProgram(copies->elements, count, &rangeCount);
  auto fail = [&] {
    client->layouts.Free(handle);
    return kRequestRefused;
  };
  if (vertexBytes > kLayoutMaxBytes || programBytes > kLayoutMaxBytes) return fail();
  if (vertexBytes != 0) {
    layout->vertexBuffer = CreateLayoutBuffer(client, static_cast<uint32_t>(vertexBytes));
    if (layout->vertexBuffer == nullptr) return fail();
    if (copies->data != nullptr)
      memcpy(layout->vertexBuffer->Begin(), copies->data, copies->dataSize < vertexBytes ? copies->dataSize : vertexBytes);
    layout->executeFlags = layout->vertexBuffer->busType & kBmBusTypeMask;
  }
  if (count == 0) {
    // Nothing to draw: no layout, handle 0.
    client->layouts.Free(handle);
    return kRequestOk;
  }
  layout->programSize = static_cast<uint32_t>(programBytes);
  layout->programBuffer = CreateLayoutBuffer(client, layout->programSize);
  if (layout->programBuffer == nullptr) return fail();
  if (!WriteLayoutProgram(layout, copies->elements, count, rangeCount)) return fail();
  request->SetU64(64, handle);
  return kRequestOk;
}

int32_t DestroyVertexLayout(ClientContext* client, ClientRequest* request) {
  const uint64_t handle = request->U64(16);
  if (handle == 0) return kRequestRefused;
  if (handle > kClientMaxLayouts || client->layouts.Get(static_cast<uint32_t>(handle)) == nullptr)
    return kRequestOk;
  if (!WaitEngineIdle3d(client)) return kRequestBusy;
  client->layouts.Free(static_cast<uint32_t>(handle));
  return kRequestOk;
}

}  // namespace

uint64_t MeasureProgram(const LayoutElementCopy* elements, uint32_t count, uint32_t* ranges) {
  uint64_t bytes = 0;
  uint32_t previous = kLayoutNoType;
  *ranges = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t type = elements[i].type;
    if (type != previous) {
      if (kLayoutClass[type] == kLayoutClass[previous]) {
        bytes += kModePacketWords * 4;
      } else {
        ++*ranges;
      }
      previous = type;
    }
    bytes += 4 * (uint64_t{elements[i].wordCount} + 1);
  }
  return bytes;
}

bool DispatchClientRequest(ClientContext* client, ClientRequest* request, RequestCopies* copies) {
  int32_t result = kRequestRefused;
  switch (request->Code()) {
    case kRequestRunTokens: {
      Context3d* context = client->Context(request->U32(kRequestHandleAt));
      if (context == nullptr) break;
      CommandTokenInterpreter(context, client->device, request);
      return request->Result() == kRequestOk;
    }
    case kRequestReattach:
      result = Reattach(client, request);
      break;
    case kRequestWaitIdle:
      result = WaitIdle(client, request);
      break;
    case kRequestCreateBuffer:
      result = CreateBuffer(client, request);
      break;
    case kRequestDestroyBuffer:
      result = DestroyBuffer(client, request);
      break;
    case kRequestNop:
      result = Nop();
      break;
    case kRequestCreateContext3d:
      result = CreateContext3d(client, request);
      break;
    case kRequestDestroyContext3d:
      result = DestroyContext3d(client, request);
      break;
    case kRequestCreateSurface:
    case kRequestLockSurface:
      result = SurfaceRequest(client, request, copies != nullptr && copies->haveRecord ? copies->record : nullptr);
      if (copies == nullptr || !copies->haveRecord) result = kRequestRefused;
      break;
    case kRequestDestroySurface:
    case kRequestUnlockSurface:
      result = SurfaceRequest(client, request, nullptr);
      break;
    case kRequestPresentSurface:
      result = PresentSurface(client, request, copies);
      break;
    case kRequestCreateVertexLayout:
      result = CreateVertexLayout(client, request, copies);
      break;
    case kRequestDestroyVertexLayout:
      result = DestroyVertexLayout(client, request);
      break;
    case kRequestCreateDataBuffer:
      result = CreateDataBuffer(client, request, copies != nullptr ? copies->data : nullptr);
      break;
    case kRequestDestroyDataBuffer:
      result = DestroyDataBuffer(client, request);
      break;
    case kRequestWriteDataBuffer:
      result = WriteDataBuffer(client, request, copies != nullptr ? copies->data : nullptr,
                               copies != nullptr ? copies->dataSize : 0);
      break;
    case kRequestFlipSurface:
      result = FlipSurface(client, request);
      break;
    case kRequestReadRect:
      result = ReadRect(client, request, copies);
      break;
    case kRequestSetDrawableRects:
      result = SetDrawableRects(client, request);
      break;
    case kRequestBindDrawable:
      result = BindDrawable(client, request);
      break;
    default:
      break;
  }
  request->SetResult(result);
  return result == kRequestOk;
}
