#include "core/mm_surface_manager.h"

#include "core/lnx_device.h"
#include "core/mm_aperture.h"
#include "core/os.h"
#include "core/phys_mem_mapper.h"

namespace {

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

uint64_t AlignDown(uint64_t value, uint64_t alignment) { return value / alignment * alignment; }

}  // namespace

bool MmApertureOffsetBase(uint32_t frameBufferSize, uint64_t* base) {
  switch (frameBufferSize) {
    case 64u << 20:
      *base = 0x6000000;
      return true;
    case 128u << 20:
      *base = 0x4000000;
      return true;
    case 256u << 20:
      *base = 0;
      return true;
    default:
      return false;
  }
}

// ---- MmSurfaceManager ---------------------------------------------------------------------

MmSurfaceManager::MmSurfaceManager(uint8_t* ok, MmSurfaceMapper* mapper, CommonData* common)
    : common(common), mapper(mapper) {
  *ok = 0;
  OsLocalMemoryInfo info = {};
  // A board-wide request: every filled slot holds the board's device, and
  // the board need not have a head on unit 0.
  LnxDevice* device = IocRequestGet(common->requestSlots, kIocAnyUnit);
  if (device == nullptr || !OsGetLocalMemoryInfo(device, 0, &info)) return;
  frameBufferCpuBase = const_cast<uint8_t*>(common->frameBuffer) + info.offset;
  localMemorySize = info.size;
  if (!MmSurface::InitList(&surfaceList)) return;
  *ok = 1;
}

MmSurfaceManager::~MmSurfaceManager() {
  // ReleaseSetAside gave the set-aside blocks back; any left (a manager
  // that goes without it) lose only their records, their memory going
  // with the heaps.
  while (SetAsideBlock* entry = setAside_) {
    setAside_ = entry->next;
    delete entry->block;
    delete entry;
  }
  // Surfaces belong to their owners: only the list goes.
  if (surfaceList == nullptr) return;
  while (surfaceList->next != surfaceList) surfaceList->next->Unlink();
  delete surfaceList;
  surfaceList = nullptr;
}

bool MmSurfaceManager::CreateSurface(MmSurface* surface) {
  if (surface->block != nullptr) return true;
  const uint32_t size = surface->options.physicalSize;
  if (size == 0 || size == kMmInvalid) return false;
  if (surface->options.requestedKind == kSurfProcess) {
    surface->placedKind = kSurfProcess;
    return true;
  }
  MmBlock* block = AllocateSurfaceBlock(surface->options);
  if (block == nullptr) return false;
  surface->manager = this;
  surface->placedKind = surface->options.requestedKind;
  surface->lockMapper = mapper;
  surface->shared = common->sharedLocked;
  surface->AttachToBlock(block);
  surface->OnRestore();
  surface->InsertAfter(surfaceList);
  return true;
}

bool MmSurfaceManager::DestroySurface(MmSurface* surface) {
  if (setAsideFrees) {
    SetAsideSurface(surface);
    return true;
  }
  surface->OnDestroy();
  MmBlock* block = surface->block;
  if (block != nullptr) {
    surface->DetachFromBlock();
    FreeSurfaceBlock(block, surface->options);
    surface->Unlink();
  }
  return true;
}

void MmSurfaceManager::SetAsideSurface(MmSurface* surface) {
  surface->OnDestroy();
  MmBlock* block = surface->block;
  if (block == nullptr) return;
  surface->DetachFromBlock();
  SetAside(block, surface->options);
  surface->Unlink();
}

void MmSurfaceManager::SetAside(MmBlock* block, const MmSurfAllocOpt& options) {
  SetAsideBlock* entry = new SetAsideBlock();
  // Without a record the block is lost until the process ends, which is
  // still better than handing out memory the engine may read.
  if (entry == nullptr) return;
  entry->block = block;
  entry->options = options;
  entry->next = setAside_;
  setAside_ = entry;
}

void MmSurfaceManager::ReleaseSetAside() {
  while (SetAsideBlock* entry = setAside_) {
    setAside_ = entry->next;
    FreeSurfaceBlock(entry->block, entry->options);
    delete entry;
  }
}

size_t MmSurfaceManager::SetAsideCount() const {
  size_t count = 0;
  for (const SetAsideBlock* e = setAside_; e != nullptr; e = e->next) ++count;
  return count;
}

bool MmSurfaceManager::DestroySurfaceClone(MmSurface* surface) {
  if (surface->master != nullptr) return surface->DetachCloneFromMaster();
  if (surface->manager != nullptr) return surface->manager->DestroySurface(surface);
  return true;
}

MmBlock* MmSurfaceManager::AllocateSurfaceBlock(const MmSurfAllocOpt& options) {
  MmBlock* block = new MmBlock();
  if (block == nullptr) return nullptr;
  LnxDevice* device = IocRequestGet(common->requestSlots, options.unit);
  uint32_t bus = 0, size = 0, offset = 0;
  if (device == nullptr || !OsAllocSurfaceBlockMemory(device, &options, &bus, &size, &offset)) {
    delete block;
    return nullptr;
  }
  block->busAddress = bus;
  block->size = size;
  block->offset = offset;
  switch (options.requestedKind) {
    case kSurfAgp:
    case kSurfPciLocked:
      block->cpuAddress = static_cast<uint8_t*>(OsMapPhysicalMemory(device, bus, size));
      if (block->cpuAddress == nullptr) {
        // The kernel module's block goes back too.
        OsFreeSurfaceBlockMemory(device, bus, size, offset);
        delete block;
        return nullptr;
      }
      break;
    case kSurfLocalMapped:
    case kSurfLocal7:
      block->cpuAddress = frameBufferCpuBase + offset;
      break;
    default:
      break;
  }
  block->state = MmBlock::kHoldsMemory;
  return block;
}

void MmSurfaceManager::FreeSurfaceBlock(MmBlock* block, const MmSurfAllocOpt& options) {
  LnxDevice* device = IocRequestGet(common->requestSlots, options.unit);
  const uint32_t size = static_cast<uint32_t>(block->size);
  if ((options.requestedKind == kSurfAgp || options.requestedKind == kSurfPciLocked) &&
      block->cpuAddress != nullptr && device != nullptr) {
    OsUnmapMemory(device, block->cpuAddress, size);
  }
  if (device != nullptr) {
    OsFreeSurfaceBlockMemory(device, block->busAddress, size, static_cast<uint32_t>(block->offset));
  }
  delete block;
}

// ---- MemoryHeap ---------------------------------------------------------------------------

uint32_t MemoryHeap::Allocate(uint8_t* ok, uint32_t bytes, bool fromTop, uint32_t alignment) {
  *ok = 0;
  if (bytes == 0 || !blocks_.ok()) return 0;
  const uint64_t align = alignment == 0 ? 1 : alignment;
  const uint64_t heapEnd = uint64_t{start} + size;

  // Walk the gaps in address order; the lowest fit wins from the bottom,
  // the highest from the top.
  bool found = false;
  uint64_t place = 0;
  uint64_t gapStart = start;
  auto it = blocks_.begin();
  for (;;) {
    const bool last = it == blocks_.end();
    const uint64_t gapEnd = last ? heapEnd : it->first;
    if (gapEnd >= gapStart + bytes) {
      const uint64_t candidate =
          fromTop ? AlignDown(gapEnd - bytes, align) : AlignUp(gapStart, align);
      if (candidate >= gapStart && candidate + bytes <= gapEnd) {
        place = candidate;
        found = true;
        if (!fromTop) break;
      }
    }
    if (last) break;
    gapStart = uint64_t{it->first} + it->second.size;
    ++it;
  }
  if (!found) return 0;
  const uint32_t offset = static_cast<uint32_t>(place);
  if (!blocks_.insert({offset, Block{bytes, fromTop ? 1u : 0u}}).second) return 0;
  UpdateMarks();
  *ok = 1;
  return offset;
}

bool MemoryHeap::Free(uint32_t offset) {
  auto it = blocks_.find(offset);
  if (it == blocks_.end()) return false;
  blocks_.erase(it);
  UpdateMarks();
  return true;
}

void MemoryHeap::UpdateMarks() {
  uint32_t low = start;
  uint32_t high = start + size;
  for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
    if (it->second.fromTop != 0) {
      if (it->first < high) high = it->first;
    } else if (it->first + it->second.size > low) {
      low = it->first + it->second.size;
    }
  }
  lowMark = low;
  highMark = high < low ? low : high;
}

void MemoryHeap::Reset() {
  blocks_.clear();
  base = lowMark = start;
  end = highMark = start + size;
}

void MemoryHeap::Clear() {
  blocks_.clear();
  base = end = lowMark = highMark = start = size = 0;
}

bool MemoryBank::CreateHeap(MemoryHeap* heap, uint32_t bytes, bool fromTop) {
  uint8_t ok = 0;
  const uint32_t offset = Allocate(&ok, bytes, fromTop);
  if (!ok) return false;
  heap->start = offset;
  heap->size = bytes;
  heap->Reset();
  return true;
}

void MemoryBank::ResetHeap(MemoryHeap* heap, bool empty) {
  if (empty) {
    heap->Clear();
  } else {
    heap->Reset();
  }
}

// ---- EmulMmSurfaceManager -----------------------------------------------------------------

namespace {

constexpr uint32_t kFirstHeapSize = 1 * kMegabyte;
constexpr uint32_t kThirdHeapSize = 4 * kMegabyte;
constexpr uint32_t kFourthHeapSize = 1 * kMegabyte;

enum { kFirstHeap, kSecondHeap, kThirdHeap, kFourthHeap, kFifthHeap };

}  // namespace

EmulMmSurfaceManager::EmulMmSurfaceManager(uint8_t* ok, MmSurfaceMapper* mapper,
                                           CommonData* common)
    : MmSurfaceManager(ok, mapper, common) {
  if (*ok == 0) return;
  *ok = 0;
  if (common->memoryRecord == nullptr) return;
  const uint32_t half = common->memoryRecord->frameBufferSize / 2;
  MemoryBank bankA;
  MemoryBank bankB;
  bankA.start = 0;
  bankA.size = half;
  bankA.Reset();
  bankB.start = kBankBOffset;
  bankB.size = half;
  bankB.Reset();
  if (!bankA.CreateHeap(&heaps[kFirstHeap], kFirstHeapSize, true)) return;
  if (!bankA.CreateHeap(&heaps[kSecondHeap], bankA.FreeSpace(), false)) return;
  if (!bankB.CreateHeap(&heaps[kThirdHeap], kThirdHeapSize, false)) return;
  if (!bankB.CreateHeap(&heaps[kFourthHeap], kFourthHeapSize, true)) return;
  if (!bankB.CreateHeap(&heaps[kFifthHeap], bankB.FreeSpace(), false)) return;
  *ok = 1;
}

MemoryHeap* EmulMmSurfaceManager::HeapOf(uint32_t selector) {
  switch (selector) {
    case kHeapSelFirst:
      return &heaps[kFirstHeap];
    case kHeapSelSecond:
      return &heaps[kSecondHeap];
    case kHeapSelThird:
      return &heaps[kThirdHeap];
    case kHeapSelFourth:
      return &heaps[kFourthHeap];
    case kHeapSelFifth:
      return &heaps[kFifthHeap];
    default:
      return nullptr;
  }
}

MmBlock* EmulMmSurfaceManager::AllocateSurfaceBlock(const MmSurfAllocOpt& options) {
  // Without the kernel module there is no locked system memory.
  if (options.requestedKind == kSurfPciLocked) return nullptr;
  MemoryHeap* heap = HeapOf(options.heapSelector);
  if (heap == nullptr) return nullptr;
  uint64_t bytes = options.physicalSize;
  if (options.heapSelector == kHeapSelSecond) bytes = AlignUp(bytes, kMegabyte);
  if (bytes == 0 || bytes >= kMmInvalid) return nullptr;

  uint8_t ok = 0;
  const uint32_t offset = heap->Allocate(&ok, static_cast<uint32_t>(bytes), false, options.alignment);
  if (!ok) return nullptr;
  MmBlock* block = new MmBlock();
  if (block == nullptr) {
    heap->Free(offset);
    return nullptr;
  }
  block->busAddress = offset;
  block->offset = offset;
  block->size = options.desc.GetHostApertureSize();
  block->state = MmBlock::kHoldsMemory;
  return block;
}

void EmulMmSurfaceManager::FreeSurfaceBlock(MmBlock* block, const MmSurfAllocOpt& options) {
  if (options.requestedKind != kSurfPciLocked) {
    MemoryHeap* heap = HeapOf(options.heapSelector);
    if (heap != nullptr) heap->Free(static_cast<uint32_t>(block->offset));
  }
  delete block;
}

void EmulMmSurfaceManager::Reset() {
  for (MemoryHeap& heap : heaps) heap.Reset();
}

// ---- Component-table rows -----------------------------------------------------------------

void* GetSimulatorMemory(PDEV*) { return nullptr; }

// ---- System buffers -----------------------------------------------------------------------

namespace {

bool AllocateSystemBuffer(CommonData* common, uint32_t slot, uint32_t pageCount, bool agp,
                          void** cpuAddress, uint64_t* busAddress) {
  LnxDevice* device = IocRequestGet(common->requestSlots, slot);
  PhysMemMapper* mapper = common->physMemMapper;
  if (device == nullptr || mapper == nullptr) return false;
  void* address = nullptr;
  const uint64_t bus = OsAllocLockedPages(device, pageCount, agp, !agp, &address);
  if (bus == 0) return false;
  if (!mapper->DeclareSurfaceBuffer(address, bus, pageCount)) {
    // A buffer nobody can translate is of no use: give it back.
    OsFreeLockedPages(device, bus, address, pageCount, agp, !agp);
    return false;
  }
  *cpuAddress = address;
  *busAddress = bus;
  return true;
}

bool FreeSystemBuffer(CommonData* common, uint32_t slot, void* cpuAddress, bool agp) {
  LnxDevice* device = IocRequestGet(common->requestSlots, slot);
  PhysMemMapper* mapper = common->physMemMapper;
  if (device == nullptr || mapper == nullptr) return false;
  uint64_t bus = 0;
  uint32_t pageCount = 0;
  if (!mapper->GetBufferPhysAttributes(cpuAddress, &bus, &pageCount)) return false;
  if (!OsFreeLockedPages(device, bus, cpuAddress, pageCount, agp, !agp)) return false;
  mapper->UnDeclareSurfaceBuffer(cpuAddress);
  return true;
}

}  // namespace

bool MmAllocateAGPBuffer(CommonData* common, uint32_t slot, uint32_t pageCount,
                         void** cpuAddress, uint64_t* busAddress) {
  return AllocateSystemBuffer(common, slot, pageCount, true, cpuAddress, busAddress);
}

bool MmAllocatePciLockedBuffer(CommonData* common, uint32_t slot, uint32_t pageCount,
                               void** cpuAddress, uint64_t* busAddress) {
  return AllocateSystemBuffer(common, slot, pageCount, false, cpuAddress, busAddress);
}

bool MmFreeAGPBuffer(CommonData* common, uint32_t slot, void* cpuAddress) {
  return FreeSystemBuffer(common, slot, cpuAddress, true);
}

bool MmFreePciLockedBuffer(CommonData* common, uint32_t slot, void* cpuAddress) {
  return FreeSystemBuffer(common, slot, cpuAddress, false);
}
