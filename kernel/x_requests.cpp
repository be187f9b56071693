#include "kernel/x_requests.h"

#include "core/bm_buffer.h"
#include "core/common_data.h"
#include "core/pdev.h"
#include "core/regs/interrupts.h"
#include "kernel/client_blocks.h"
#include "kernel/dma_streams.h"
#include "kernel/interrupts.h"
#include "kernel/locked_pages.h"
#include "kernel/kernel_device.h"
#include "kernel/kernel_wait.h"
#include "kernel/pdev_kernel.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/register_guard.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/kglue/kglue.h"

namespace {

PDEV* RingHead(KernelClient* client) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  return common != nullptr ? common->ringHead : nullptr;
}

// The device object behind a handle, when it is in the board ring and the
// calling client enabled it (the node may be opened by anyone).
PDEV* OwnDeviceObject(KernelClient* client, uint64_t handle) {
  PDEV* pdev = FindPdev(RingHead(client), handle);
  return pdev != nullptr && pdev->owner == client->context ? pdev : nullptr;
}

}  // namespace

// Any process may open the node: a range the engine runs must lie inside
// memory the kernel handed to the client, in the memory space the end's
// flags name (0 local, 2 and 3 system memory): a surface block of its own
// (its command buffers), or locked pages the glue gave its file.
bool ClientOwnsDmaRange(KernelClient* client, uint32_t start, uint32_t end) {
  if (client == nullptr) return false;
  const uint64_t from = start & ~kAddressFlagBits;
  const uint64_t to = end & ~kAddressFlagBits;
  const uint32_t space = end & kAddressFlagBits;
  if (from > to) return false;
  if (space != kBmMemLocal && space != kBmMemAgp && space != kBmMemPciLocked) return false;
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  MmSurfaceManager* manager = common != nullptr ? common->memoryManager : nullptr;
  for (const ClientBlockRecord* r = client->blocks; r != nullptr; r = r->next) {
    if (r->kind != 0 || manager == nullptr) continue;
    const MmSurface* surface = static_cast<const MmSurface*>(r->object);
    const MmBlock* block = surface->block;
    if (block == nullptr) continue;
    const bool local = manager->IsLocalHeap(block->heap);
    // Memory without a bus address (plain kernel memory) is never the engine's.
    if (!local && block->busAddress == 0) continue;
    if (local != (space == kBmMemLocal)) continue;
    // The bytes the client asked for, from the block's address.
    const uint64_t asked = surface->options.physicalSize;
    const uint64_t length = asked != 0 && asked < block->size ? asked : block->size;
    if (from >= block->busAddress && to <= block->busAddress + length) return true;
  }
  return space != kBmMemLocal && OrvContext_OwnsLockedPages(client->context, from, to - from) != 0;
}

bool BoardClientOwnsDmaRange(CommonData* common, uint32_t start, uint32_t end) {
  PDEV* head = common != nullptr ? common->ringHead : nullptr;
  if (head == nullptr) return false;
  PDEV* pdev = head;
  for (uint32_t n = 0; n < kMaxDeviceObjects; ++n) {
    if (pdev->owner != nullptr && ClientOwnsDmaRange(OrvContext_GetPrivate(pdev->owner), start, end))
      return true;
    pdev = pdev->next;
    if (pdev == nullptr || pdev == head) break;
  }
  return false;
}

int IoctlEnableDevice(KernelClient* client, uint32_t, unsigned long argument) {
  OrvEnableRequest request;
  const void* user = reinterpret_cast<const void*>(argument);
  if (!CopyUserData(&request, user, sizeof(request), kCopyFromUser)) return 0;
  uint8_t ok = 0;
  PDEV* pdev = new PDEV(client->context, &request.mode, &ok);
  if (pdev == nullptr) return 0;
  if (ok) {
    pdev->owner = client->context;
    request.kernelHandle = reinterpret_cast<uintptr_t>(pdev);
    if (CopyUserData(&request, user, sizeof(request), kCopyToUser)) return 1;
  }
  delete pdev;
  return 0;
}

int IoctlDisableDevice(KernelClient* client, uint32_t, unsigned long handle) {
  PDEV* pdev = OwnDeviceObject(client, handle);
  if (pdev == nullptr) return kErrnoInvalid;
  DestroyPdev(client->device, pdev);
  return 0;
}

int IoctlStartDevice(KernelClient* client, uint32_t, unsigned long handle) {
  PDEV* pdev = OwnDeviceObject(client, handle);
  if (pdev == nullptr) return kErrnoInvalid;
  EnablePdev(pdev);
  pdev->primarySurface = nullptr;
  return 0;
}

int IoctlStopDevice(KernelClient* client, uint32_t, unsigned long unit) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  PDEV* pdev = PDEV::GetActive(common, static_cast<uint32_t>(unit));
  if (pdev == nullptr || pdev->owner != client->context) return kErrnoInvalid;
  // A 3D request of another client may be running on the device: the stop
  // takes the command lock first, so the request ends on a running device
  // and none starts until the clients are marked lost. When the lock does
  // not come, nothing is stopped.
  SharedLockedData_t* shared = client->device->sharedLocked;
  if (shared != nullptr &&
      !KernelWait("3D command lock", [&] { return OsInterlockedExchange(&shared->commandLock, 1) == 0; }))
    return kErrnoDeviceBusy;
  // The 3D clients' surfaces that survive the loss are saved while the
  // device object can still reach them.
  for (KernelClient* other = client->device->clients; other != nullptr; other = other->next) {
    if (other->context3d != nullptr && ClientContext3dDevice(other->context3d) == pdev)
      SaveClientContext3dSurfaces(other);
  }
  DisablePdev(pdev);
  pdev->primarySurface = nullptr;
  for (KernelClient* other = client->device->clients; other != nullptr; other = other->next) {
    if (other->context3d != nullptr && ClientContext3dDevice(other->context3d) == pdev)
      MarkClientContext3dLost(other);
  }
  if (shared != nullptr) OsInterlockedExchange(&shared->commandLock, 0);
  return 0;
}

int IoctlPostBusmasteringBuffer(KernelClient* client, uint32_t, unsigned long argument) {
  OrvDmaPostRequest record;
  if (!CopyUserData(&record, reinterpret_cast<const void*>(argument), sizeof(record), kCopyFromUser))
    return kErrnoFault;
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  if (common == nullptr || common->primaryStream == nullptr) return kErrnoInvalid;
  if (!ClientOwnsDmaRange(client, record.start, record.end)) return kErrnoInvalid;
  return SubmitClientDmaBuffer(common, record) ? 0 : kErrnoInvalid;
}

int IoctlSetVSyncInterruptState(KernelClient* client, uint32_t, unsigned long argument) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  if (common == nullptr) return kErrnoInvalid;
  OrvVSyncStateRequest request;
  if (!CopyUserData(&request, reinterpret_cast<const void*>(argument), sizeof(request), kCopyFromUser))
    return kErrnoFault;
  const uint32_t kind = request.word[0];
  const uint32_t which = request.word[1];
  const bool enable = request.word[2] != 0;
  const uint32_t slot = request.word[3];
  // Only the pending slots of the Shared locked data can be posted.
  if (slot >= kPendingSlotCount) return kErrnoInvalid;
  InterruptManager* interrupts = common->interruptManager;
  if (interrupts == nullptr) return 0;
  uint32_t source;
  if (which == 0) {
    source = kSourceVBlank0;
  } else if (which == 1) {
    source = kSourceVBlank1;
  } else if (which == 2 &&
             (KernelReadRegister(common, kRegDisplayConfig) & kDisplayConfigThirdVBlank) != 0) {
    source = kSourceVBlank2;
  } else {
    return 0;
  }
  if (kind != kVSyncEventPost && kind != kVSyncEventKindA && kind != kVSyncEventKindB) return 0;
  InterruptSource& s = interrupts->sources[source];
  if (enable) {
    s.AddPostSlot(slot);
    s.EnableEvent(kEventPeriodicPost, true);
  } else {
    s.DisableEvent(kEventPeriodicPost, false);
    s.RemovePostSlot(slot);
  }
  return 0;
}

// ---- Blocks, local memory and the primary surface (24 to 26, 28) ---------------------------------

namespace {

CommonData* CommonOf(KernelClient* client) {
  return client->device != nullptr ? client->device->commonData : nullptr;
}

// The X driver's request rows and columns: its local command-buffer kind 7
// is surface type 0, its default heap selector 24 placement code 3.
constexpr uint32_t kXLocalCommandKind = 7;
constexpr uint32_t kXDefaultSelector = 24;
constexpr uint32_t kSlotAnswerUnmapped = 0xFFFFFFFE;

uint32_t NormalKind(uint32_t kind) { return kind == kClientBlockAperture ? kClientBlockAperture : 0; }

void Link(KernelClient* client, ClientBlockRecord* record, uint32_t kind, uint64_t address, void* object) {
  record->kind = kind;
  record->id = static_cast<uint32_t>(address);
  record->object = object;
  record->next = client->blocks;
  client->blocks = record;
}

void Unlink(KernelClient* client, ClientBlockRecord* record) {
  for (ClientBlockRecord** at = &client->blocks; *at != nullptr; at = &(*at)->next) {
    if (*at == record) {
      *at = record->next;
      return;
    }
  }
}

int AllocateWindow(CommonData* common, const OrvBlockRequest& in, OrvBlockRequest* out,
                   MmHostAperture** made) {
  MmSurfaceMapper* mapper = common->memoryRecord != nullptr ? common->memoryRecord->mapper : nullptr;
  if (mapper == nullptr) return kErrnoInvalid;
  MmHostApertureDesc description;
  memcpy(&description, in.apertureOptions, sizeof(description));
  const uint64_t aperture = mapper->GetApertureSize();
  // Values the caller gives that index the aperture must lie inside it.
  if (description.options & kApertureExplicitSize) {
    if (description.explicitSize == 0 || description.explicitSize > aperture) return kErrnoInvalid;
  }
  if (description.options & kApertureFixedOffset) {
    const uint64_t size = (description.options & kApertureExplicitSize)
                              ? description.explicitSize
                              : description.desc.GetHostApertureSize();
    if (uint64_t{description.fixedOffset} + size > aperture) return kErrnoInvalid;
  }
  MmHostAperture* window = new MmHostAperture(description);
  if (window == nullptr) return kErrnoInvalid;
  if (!mapper->AllocateAperture(window) || !window->Lock(nullptr, nullptr)) {
    mapper->ReleaseAperture(window);
    delete window;
    return kErrnoNoMemory;
  }
  out->handle = window->block->busAddress + window->surfaceOffset;
  out->second = window->hostSize;
  out->third = static_cast<uint32_t>(window->block->offset + window->surfaceOffset);
  out->fourth = window->slotIndex >= 0 ? static_cast<uint32_t>(window->slotIndex) : kSlotAnswerUnmapped;
  *made = window;
  return 0;
}

int AllocateSurface(CommonData* common, const OrvBlockRequest& in, OrvBlockRequest* out,
                    MmSurface** made) {
  MmSurfaceManager* manager = common->memoryManager;
  if (manager == nullptr) return kErrnoInvalid;
  MmSurfAllocOpt options;
  memcpy(&options, in.surfaceOptions, sizeof(options));
  options.mapper = nullptr;  // the caller's process pointer means nothing here
  if (options.requestedKind == kXLocalCommandKind) options.requestedKind = 0;
  if (options.heapSelector == kXDefaultSelector) options.heapSelector = 3;
  if (options.requestedKind >= kSurfaceTypes || options.heapSelector >= kPlacementCodes)
    return kErrnoInvalid;
  if (options.unit > kMaxUnit && options.unit != kUnitAny) return kErrnoInvalid;
  MmSurface* surface = new MmSurface();
  if (surface == nullptr) return kErrnoInvalid;
  surface->options = options;
  if (!manager->CreateSurface(surface)) {
    delete surface;
    return kErrnoNoMemory;
  }
  MmBlock* block = surface->block;
  out->handle = block->busAddress;
  out->second = static_cast<uint32_t>(block->size);
  // Local memory: the device address is the offset the X driver adds to its
  // frame-buffer mapping; system memory has none.
  out->third = manager->IsLocalHeap(block->heap) ? static_cast<uint32_t>(block->busAddress) : 0;
  *made = surface;
  return 0;
}

}  // namespace

int IoctlAllocBlockMemory(KernelClient* client, uint32_t, unsigned long argument) {
  OrvBlockRequest request;
  void* user = reinterpret_cast<void*>(argument);
  if (!CopyUserData(&request, user, sizeof(request), kCopyFromUser)) return kErrnoFault;
  CommonData* common = CommonOf(client);
  if (common == nullptr || common->ringHead == nullptr) return kErrnoInvalid;
  auto* record = static_cast<ClientBlockRecord*>(memAlloc(sizeof(ClientBlockRecord)));
  if (record == nullptr) return kErrnoNoMemory;
  OrvBlockRequest answer = request;
  int result;
  if (request.kind == kClientBlockAperture) {
    MmHostAperture* window = nullptr;
    result = AllocateWindow(common, request, &answer, &window);
    if (result == 0) Link(client, record, kClientBlockAperture, answer.handle, window);
  } else {
    MmSurface* surface = nullptr;
    result = AllocateSurface(common, request, &answer, &surface);
    if (result == 0) Link(client, record, 0, answer.handle, surface);
  }
  if (result != 0) {
    memFree(record);
    return result;
  }
  if (!CopyUserData(&answer, user, sizeof(answer), kCopyToUser)) {
    Unlink(client, record);
    FreeClientBlockObject(client, record);
    memFree(record);
    return kErrnoFault;
  }
  return 0;
}

int IoctlFreeBlockMemory(KernelClient* client, uint32_t, unsigned long argument) {
  OrvBlockRequest request;
  if (!CopyUserData(&request, reinterpret_cast<const void*>(argument), sizeof(request), kCopyFromUser))
    return kErrnoFault;
  ClientBlockRecord* record =
      FindClientBlock(client, static_cast<uint32_t>(request.handle), NormalKind(request.kind));
  if (record == nullptr) return kErrnoInvalid;
  Unlink(client, record);
  FreeClientBlockObject(client, record);
  memFree(record);
  return 0;
}

int IoctlGetLocalMemoryInfo(KernelClient* client, uint32_t, unsigned long argument) {
  CommonData* common = CommonOf(client);
  if (common == nullptr || common->memoryManager == nullptr || common->memoryRecord == nullptr)
    return kErrnoInvalid;
  OrvLocalMemoryRequest request;
  void* user = reinterpret_cast<void*>(argument);
  if (!CopyUserData(&request, user, sizeof(request), kCopyFromUser)) return kErrnoFault;
  MmHeapSet* set = common->memoryManager->heapSet;
  if (request.index >= kHeapLists || set->lists[request.index].empty()) return kErrnoInvalid;
  const MmHeap* heap = set->lists[request.index][0]->heap;
  uint32_t m0 = 0;
  uint32_t m1 = 0;
  OrvDevice* device = BoardGlueDevice(common);
  if (device != nullptr) OrvDevice_GetLocalMemory(device, &m0, &m1);
  auto put32 = [&](size_t at, uint32_t value) { memcpy(reinterpret_cast<uint8_t*>(&request) + at, &value, 4); };
  put32(8, heap->size);
  put32(16, heap->GetFreeBytes());
  put32(24, heap->deviceBase);
  put32(32, heap->GetLargestFree());
  put32(40, m0);
  put32(48, m1);
  put32(56, common->memoryRecord->apertureSize);
  put32(64, m0 + m1);
  request.value72 = common->memoryRecord->mapper != nullptr ? common->memoryRecord->mapper->apertureBus : 0;
  request.size = heap->size;
  request.offset = heap->deviceBase;
  if (!CopyUserData(&request, user, sizeof(request), kCopyToUser)) return kErrnoFault;
  return 0;
}

int IoctlSetPrimarySurface(KernelClient* client, uint32_t, unsigned long argument) {
  OrvDeclarePrimaryRequest request;
  if (!CopyUserData(&request, reinterpret_cast<const void*>(argument), sizeof(request), kCopyFromUser))
    return kErrnoFault;
  PDEV* pdev = OwnDeviceObject(client, request.pdevHandle);
  if (pdev == nullptr) return kErrnoInvalid;
  ClientBlockRecord* surfaceRecord = FindClientBlock(client, static_cast<uint32_t>(request.surfaceBlock), 0);
  if (surfaceRecord == nullptr) return kErrnoInvalid;
  auto* surface = static_cast<MmSurface*>(surfaceRecord->object);
  if (surface->block == nullptr || surface->block->heap == nullptr ||
      surface->block->heap->kind != kHeapDeviceAddress)
    return kErrnoInvalid;
  pdev->primarySurface = surface;
  ClientBlockRecord* windowRecord =
      FindClientBlock(client, static_cast<uint32_t>(request.apertureBlock), kClientBlockAperture);
  if (windowRecord == nullptr) return kErrnoInvalid;
  // A clone the surface had before goes; the window of its own block record
  // becomes the new one.
  if (surface->aperture != nullptr && !(surface->options.flags & kSurfForeignAperture)) {
    while (surface->aperture->lockCount != 0) surface->aperture->Unlock();
    delete surface->aperture;
  }
  surface->aperture = nullptr;
  surface->options.flags &= ~kSurfForeignAperture;
  surface->CreateCloneApertureFrom(static_cast<MmHostAperture*>(windowRecord->object));
  return 0;
}
