#include "kernel/vidmem/surface_manager.h"

#include <initializer_list>

#include "core/chip_ids.h"
#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/pdev.h"
#include "kernel/locked_pages.h"
#include "platform/kglue/kglue.h"
#include "kernel/vidmem/frame_buffer_layout.h"

namespace {

constexpr uint32_t kLocalGranularity = 32;

template <class Switch>
uint32_t ValueOf(Switch* s) {
  return s != nullptr ? static_cast<uint32_t>(s->GetValue()) : 0;
}

DriverSwitchesCommon* Switches(CommonData* common) { return common->driverSwitches; }

}  // namespace

// ---- Construction --------------------------------------------------------------------------------

MmSurfaceManager::MmSurfaceManager(uint8_t* ok, MmSurfaceMapper* m, CommonData* c, uint32_t unit,
                                   uint32_t)
    : common(c), mapper(m) {
  *ok = 0;
  uint8_t policiesOk = 0;
  policies = new MmPolicySet(&policiesOk);
  if (policies == nullptr || !policiesOk) return;
  heapSet = OsNew<MmHeapSet>();
  if (heapSet == nullptr) return;
  for (auto& row : heapSet->table)
    for (MmPolicy*& cell : row) cell = policies->Member(0);

  const auto& layout = *reinterpret_cast<const FrameBufferLayout*>(common->frameBufferLayout);
  if (!MakeLocalHeaps(layout)) return;

  // System memory: AGP (type 2), PCI-locked pages (type 3), locked pages (type 4).
  if (!AddHeap(new MmSystemHeap(kSystemAgp, common, unit), kListAgp, nullptr)) return;
  if (!AddHeap(new MmPciPageHeap(common, unit), kListPciPages, nullptr)) return;
  if (!AddHeap(new MmLockedPageHeap(common, unit), kListLocked, nullptr)) return;

  for (uint32_t list = kListMain0; list <= kListMapped; ++list) {
    for (MmHeapOwner* owner : heapSet->lists[list])
      if (!localHeaps.Insert(localHeaps.end(), 1, owner->heap)) return;
  }
  FillPolicyTable(layout, unit);
  MakeFrameBufferWindow(layout);
  *ok = 1;
}

bool MmSurfaceManager::AddHeap(MmHeap* heap, uint32_t list, MmHeapOwner** owner) {
  if (heap == nullptr) return false;
  if (!heaps.Insert(heaps.end(), 1, heap)) {
    delete heap;
    return false;
  }
  uint8_t ok = 0;
  MmHeapOwner* o = new MmHeapOwner(&ok, heap);
  if (o == nullptr) return false;
  if (!ok || !owners.Insert(owners.end(), 1, o)) {
    delete o;
    return false;
  }
  if ((list == kListMain0 || list == kListMain1) && !o->MakeBankRanges(common->revisionBits)) return false;
  if (!heapSet->lists[list].Insert(heapSet->lists[list].end(), 1, o)) return false;
  if (owner != nullptr) *owner = o;
  return true;
}

bool MmSurfaceManager::MakeLocalHeaps(const FrameBufferLayout& l) {
  auto region = [&](uint32_t kind, uint32_t base, uint8_t* cpu, uint32_t size) -> MmRegionHeap* {
    uint8_t ok = 0;
    MmRegionHeap* heap = new MmRegionHeap(&ok, common, kind, base, cpu, size, kLocalGranularity);
    if (heap != nullptr && !ok) {
      delete heap;
      return nullptr;
    }
    return heap;
  };
  // 1. The CPU-mapped area of partition 1, through a window at the top of
  // the aperture that stays mapped.
  if (l.partition1 != 0 && l.mappedSize != 0) {
    const uint32_t apertureSize = mapper->GetApertureSize();
    if (apertureSize < l.mappedSize) return false;
    mappedWindow.options = kApertureFixedOffset;
    mappedWindow.fixedOffset = apertureSize - l.mappedSize;
    mappedWindow.desc.word0 = l.mappedOffset;
    mappedWindow.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
    mappedWindow.desc.size = l.mappedSize;
    mappedWindow.desc.revision = common->revisionBits;
    if (!mapper->AllocateAperture(&mappedWindow)) return false;
    mappedWindowBus = mappedWindow.block->busAddress;
    OrvDevice* device = BoardGlueDevice(common);
    mappedCpu = device != nullptr ? static_cast<uint8_t*>(OsMapPhysicalMemory(device, mappedWindowBus, l.mappedSize))
                                  : nullptr;
    if (mappedCpu == nullptr) return false;
    mappedHeap = region(kHeapDeviceAddress | kHeapCpuAddress, l.mappedOffset, mappedCpu, l.mappedSize);
    if (!AddHeap(mappedHeap, kListMapped, &mappedOwner)) return false;
  }
  // 2, 3. The reserved top areas.
  if (!AddHeap(region(kHeapDeviceAddress, l.top0Offset, nullptr, l.top0Size), kListTop0, &top0Owner))
    return false;
  if (l.top1Size != 0 &&
      !AddHeap(region(kHeapDeviceAddress, l.top1Offset, nullptr, l.top1Size), kListTop1, &top1Owner))
    return false;
  // 4, 5. The main heaps.
  if (!AddHeap(region(kHeapDeviceAddress, l.main0Offset, nullptr, l.main0Size), kListMain0, nullptr))
    return false;
  if (l.hasPartition1 &&
      !AddHeap(region(kHeapDeviceAddress, l.main1Offset, nullptr, l.main1Size), kListMain1, nullptr))
    return false;
  return true;
}

void MmSurfaceManager::FillPolicyTable(const FrameBufferLayout& l, uint32_t unit) {
  MmPolicy* (&row0)[kPlacementCodes] = heapSet->table[0];
  auto member = [&](uint32_t index) { return policies->Member(index); };
  auto set = [&](std::initializer_list<uint32_t> cells, uint32_t index) {
    for (uint32_t cell : cells) row0[cell] = member(index);
  };
  DriverSwitchesCommon* s = Switches(common);
  const uint32_t debugPatches = s != nullptr ? ValueOf(s->DebugPatches) : 0;
  const bool brisol = (common->revisionBits & kRevLaterGeneration) != 0 && s != nullptr &&
                      ValueOf(s->UseBrisolMemoryStrategies) != 0;
  if (brisol) {
    set({0}, 9);
    set({1, 2, 6, 7}, 18);
    set({3, 12, 14, 18, 19}, 8);
    set({4, 13, 15, 16, 17, 22}, 7);
    set({5}, 28);
    set({8}, 29);
    set({11}, 5);
    set({20}, 6);
    set({21}, 9);
    auto pick = [&](DriverSwitchU8* ab, DriverSwitchU8* cd) -> uint32_t {
      const bool a = ValueOf(ab) != 0;
      const bool c = ValueOf(cd) != 0;
      return a && !c ? 8 : (!a && c ? 9 : 23);
    };
    set({9}, pick(s->Force3DTextureToABBrisol, s->Force3DTextureToCDBrisol));
    set({10}, pick(s->Force3DTextureTextiledToABBrisol, s->Force3DTextureTextiledToCDBrisol));
    if (debugPatches & kDebugPatchesBit0) {
      set({5}, 27);
      set({6, 7}, 18);
      set({8, 9, 10}, 9);
      set({11, 12, 13, 15}, 8);
    }
  } else if (l.hasPartition1) {
    // The two-partition recipe (chosen here): the general placements
    // alternate between the partitions, or start with partition 0 when
    // DebugPatches bit 0 is set.
    set({0, 8}, 0);
    set({1, 2, 6, 7}, 18);
    set({3, 4, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22}, (debugPatches & kDebugPatchesBit0) ? 6 : 5);
    set({5}, 19);
    set({8}, 29);
    set({21}, 9);
  } else {
    set({0, 8, 21}, 0);
    set({1, 2, 6, 7}, 18);
    set({3, 4, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22}, 8);
    set({5}, 19);
  }
  for (uint32_t cell = 0; cell < kPlacementCodes; ++cell) {
    heapSet->table[2][cell] = member(1);
    heapSet->table[3][cell] = member(2);
    heapSet->table[4][cell] = member(3);
    if (!heapSet->lists[kListMapped].empty()) heapSet->table[6][cell] = member(4);
  }
  MmPolicy* (&row1)[kPlacementCodes] = heapSet->table[1];
  if (!heapSet->lists[kListTop1].empty()) {
    for (uint32_t cell : {15u, 16u, 17u, 22u}) row1[cell] = member(12);
    row1[18] = row1[19] = member(13);
    row1[20] = member(11);
    row1[21] = member(14);
  } else {
    for (uint32_t cell : {15u, 16u, 17u, 18u, 19u, 20u, 22u}) row1[cell] = member(13);
    row1[21] = member(0);
  }

  // Refinement of row 0 and the probe of the active display's size.
  if (debugPatches & kDebugPatchesBit0) {
    if (brisol) return;
  } else if (brisol) {
    set({5}, 28);
    set({6}, 18);
    set({8}, 29);
  } else if (l.hasPartition1) {
    set({5}, 16);
    set({6}, 15);
    set({8}, 17);
  }
  PDEV* active = PDEV::GetActive(common, unit);
  const uint32_t mmFlags = s != nullptr ? ValueOf(s->MmFlags) : 0;
  if ((mmFlags & kMmFlagNoProbe) || unit >= kUnitSlots || common->unitSlots[unit][0] != 0 ||
      active == nullptr)
    return;
  if (!brisol && !l.hasPartition1) return;
  MmSurfAllocOpt probe;
  probe.physicalSize = active->mode.virtualWidth * active->mode.lines * active->mode.bytesPerPixel;
  probe.alignment = 1;
  probe.word28 = 1;  // a probe never evicts
  MmHeapOwner* owner = nullptr;
  MmBlock* block = member(21)->Allocate(probe, *heapSet, &owner);
  if (block == nullptr) return;
  block->Release();
  if (brisol) {
    set({5}, 27);
    set({6}, 26);
    set({8}, 30);
  } else {
    set({5}, 21);
    set({6}, 20);
    set({8}, 22);
  }
}

void MmSurfaceManager::MakeFrameBufferWindow(const FrameBufferLayout& l) {
  DriverSwitchesCommon* s = Switches(common);
  const uint32_t mmFlags = s != nullptr && s->MmFlags != nullptr ? ValueOf(s->MmFlags) : kMmFlagFrameBufferWindow;
  if (l.partition1 == 0 || !(mmFlags & kMmFlagFrameBufferWindow)) return;
  const uint64_t total = uint64_t{l.partition0} + l.partition1;
  const uint64_t aperture = mapper->GetApertureSize();
  const bool halfBehindHalf = total == 0x10000000 && aperture == 0x8000000;
  if (aperture < total && !halfBehindHalf) return;
  const uint32_t mapped = MappedHeapSize();
  const uint32_t span = halfBehindHalf ? l.partition1 / 2 : l.partition1;
  if (span <= mapped) return;
  frameBufferWindow = new MmHostAperture();
  if (frameBufferWindow == nullptr) return;
  frameBufferWindow->options = kAperturePlaceHigh;
  frameBufferWindow->desc.word0 = kPartition1Base + mapped;
  frameBufferWindow->desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
  frameBufferWindow->desc.size = span - mapped;
  frameBufferWindow->desc.revision = common->revisionBits;
  if (!mapper->AllocateAperture(frameBufferWindow) || !frameBufferWindow->Lock(nullptr, nullptr)) {
    mapper->ReleaseAperture(frameBufferWindow);
    delete frameBufferWindow;
    frameBufferWindow = nullptr;
  }
}

uint8_t* MmSurfaceManager::FrameBufferWindowAddress(uint64_t device, uint64_t size) const {
  const MmHostAperture* w = frameBufferWindow;
  if (w == nullptr || w->mapped == nullptr) return nullptr;
  const uint64_t base = w->desc.word0;
  if (device < base || size > w->desc.size || device - base > w->desc.size - size) return nullptr;
  return w->mapped + w->surfaceOffset + (device - base);
}

MmSurfaceManager::~MmSurfaceManager() {
  if (frameBufferWindow != nullptr) {
    frameBufferWindow->Unlock();
    delete frameBufferWindow;
    frameBufferWindow = nullptr;
  }
  if (mappedCpu != nullptr) {
    OsUnmapMemory(BoardGlueDevice(common), mappedCpu, static_cast<uint32_t>(mappedWindow.hostSize));
    mappedCpu = nullptr;
  }
  if (mapper != nullptr) mapper->ReleaseAperture(&mappedWindow);
  for (size_t i = reservedBlocks.size(); i-- > 0;) reservedBlocks[i]->Release();
  for (size_t i = owners.size(); i-- > 0;) delete owners[i];
  for (size_t i = heaps.size(); i-- > 0;) delete heaps[i];
  OsDelete(heapSet);
  heapSet = nullptr;
  delete policies;
  policies = nullptr;
}

// ---- Surfaces ------------------------------------------------------------------------------------

bool MmSurfaceManager::CreateSurface(MmSurface* surface) {
  if (surface->block != nullptr) return true;
  const uint32_t type = surface->options.requestedKind;
  const uint32_t placement = surface->options.heapSelector;
  if (RequestSize(surface->options) == 0 || type >= kSurfaceTypes || placement >= kPlacementCodes)
    return false;
  MmHeapOwner* owner = nullptr;
  MmBlock* block = heapSet->table[type][placement]->Allocate(surface->options, *heapSet, &owner);
  if (block == nullptr) return false;
  surface->manager = this;
  surface->placedKind = type;
  surface->placement = placement;
  surface->lockMapper = mapper;
  surface->shared = common->sharedLocked;
  surface->AttachToBlock(block);
  owner->Place(surface);
  surface->OnRestore();
  return true;
}

void MmSurfaceManager::DestroySurface(MmSurface* surface) {
  surface->OnDestroy();
  MmBlock* block = surface->block;
  if (block == nullptr) return;
  surface->DetachFromBlock();
  block->Release();
  surface->Unlink();
}

void MmSurfaceManager::DestroySurfaceClone(MmSurface* surface) {
  if (surface->master != nullptr) {
    surface->DetachCloneFromMaster();
  } else if (surface->manager != nullptr) {
    surface->manager->DestroySurface(surface);
  }
}

bool MmSurfaceManager::IsLocalHeap(const MmHeap* heap) const {
  for (MmHeap* local : localHeaps)
    if (local == heap) return true;
  return false;
}

uint32_t MmSurfaceManager::MappedHeapSize() const { return mappedHeap != nullptr ? mappedHeap->size : 0; }

bool MmSurfaceManager::ReserveRange(uint32_t offset, uint32_t size) {
  if (size == 0) return false;
  for (MmHeap* heap : localHeaps) {
    const uint64_t start = heap->deviceBase;
    if (offset < start || uint64_t{offset} + size > start + heap->size) continue;
    MmHeapRequest request;
    request.size = size;
    request.flags = kRequestFixed;
    request.fixedOffset = static_cast<uint32_t>(offset - start);
    MmBlock* block = heap->AllocateRequest(request);
    if (block == nullptr) continue;
    if (!reservedBlocks.Insert(reservedBlocks.end(), 1, block)) {
      block->Release();
      return false;
    }
    return true;
  }
  return false;
}

uint32_t MmSurfaceManager::GetLocalHeapSize(uint32_t) const {
  uint64_t bytes = 0;
  for (uint32_t list : {kListMain0, kListMain1})
    for (MmHeapOwner* owner : heapSet->lists[list]) bytes += owner->heap->size;
  return static_cast<uint32_t>(bytes);
}

uint32_t MmSurfaceManager::GetAvailableBytes(uint32_t, uint32_t flag) {
  MmPolicy* policy = heapSet->table[0][11];
  uint64_t bytes = policy->GetEvictableBytes(*heapSet);
  if (flag == 0) bytes += policy->GetFreeBytes(*heapSet);
  return static_cast<uint32_t>(bytes);
}

void MmSurfaceManager::EvictLocal(uint32_t) {
  MmSurfAllocOpt everything;
  everything.word28 = 0;
  everything.physicalSize = 0x7FFFFFFF;
  everything.alignment = 1;
  for (uint32_t index : {8u, 9u}) {
    if (!heapSet->lists[index == 8 ? kListMain0 : kListMain1].empty())
      policies->Member(index)->MakeRoom(everything, *heapSet);
  }
}

// ---- Component entry 10 --------------------------------------------------------------------------

bool InitMemoryManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard()) {
    MmBoardRecord* record = common->memoryRecord;
    if (record == nullptr) return false;
    pdev->memoryRecord = record;
    pdev->surfaceManager = record->manager;
    pdev->surfaceMapper = record->mapper;
    return true;
  }
  MmBoardRecord* record = OsNew<MmBoardRecord>();
  if (record == nullptr) return false;
  common->memoryRecord = record;
  pdev->memoryRecord = record;
  OrvDevice* device = BoardGlueDevice(common);
  OrvRegion* aperture = device != nullptr ? OrvDevice_GetFrameBuffer(device) : nullptr;
  if (aperture == nullptr) {
    CleanupMemoryManager(pdev);
    return false;
  }
  const uint32_t apertureBus = static_cast<uint32_t>(OrvRegion_GetPhys(aperture));
  record->apertureSize = OrvRegion_GetSize(aperture) & ~(kApertureGranule - 1);
  uint8_t ok = 0;
  record->mapper = new MmSurfaceMapper(&ok, apertureBus, 0, record->apertureSize, common);
  if (record->mapper == nullptr || !ok) {
    CleanupMemoryManager(pdev);
    return false;
  }
  DriverSwitchesCommon* s = common->driverSwitches;
  const uint32_t twoPartitionLayout = s != nullptr ? ValueOf(s->FixedZero66) : 0;
  record->manager = new MmSurfaceManager(&ok, record->mapper, common, pdev->unit, twoPartitionLayout);
  common->memoryManager = record->manager;
  if (record->manager == nullptr || !ok) {
    CleanupMemoryManager(pdev);
    return false;
  }
  common->heapTable = record->manager->heapSet;
  record->mappedHeapSize = record->manager->MappedHeapSize();
  pdev->surfaceManager = record->manager;
  pdev->surfaceMapper = record->mapper;
  return true;
}

void CleanupMemoryManager(PDEV* pdev) {
  pdev->memoryRecord = nullptr;
  pdev->surfaceManager = nullptr;
  pdev->surfaceMapper = nullptr;
  if (!pdev->IsFirstForBoard()) return;
  CommonData* common = pdev->common;
  MmBoardRecord* record = common->memoryRecord;
  if (record == nullptr) return;
  delete record->manager;
  record->manager = nullptr;
  common->memoryManager = nullptr;
  common->heapTable = nullptr;
  delete record->mapper;
  record->mapper = nullptr;
  OsDelete(record);
  common->memoryRecord = nullptr;
}
