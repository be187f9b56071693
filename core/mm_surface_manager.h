// The surface manager places surfaces in graphics memory: through the kernel
// module, which owns the heaps, or in local-DMA mode in five heaps of its own
// over the board's local memory. Also the board's memory-manager record and
// the system buffers declared to the physical memory mapper.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "core/otl_map.h"

class MmSurfaceMapper;
class PDEV;

// One per board, held by the common data.
struct MmManagerRecord {
  uint32_t frameBufferSize;   // shared frame-buffer size word, low 18 bits cleared
  uint32_t localMemorySize;   // known to the manager
  uint64_t apertureOffsetBase;
  MmSurfaceManager* manager;
  MmSurfaceMapper* mapper;
  uint8_t* apertureCpuBase;   // frame-buffer mapping
  uint8_t* realMappingBase;   // only with the fake host aperture
};

inline constexpr uint32_t kFrameBufferSizeMask = ~0x3FFFFu;

// Aperture offset base of a frame-buffer size; false for sizes the chip
// does not come in.
bool MmApertureOffsetBase(uint32_t frameBufferSize, uint64_t* base);

class MmSurfaceManager : public OsHeapObject {
 public:
  MmSurfaceManager(uint8_t* ok, MmSurfaceMapper* mapper, CommonData* common);
  virtual ~MmSurfaceManager();
  MmSurfaceManager(const MmSurfaceManager&) = delete;
  MmSurfaceManager& operator=(const MmSurfaceManager&) = delete;

  virtual MmBlock* AllocateSurfaceBlock(const MmSurfAllocOpt& options);
  virtual void FreeSurfaceBlock(MmBlock* block, const MmSurfAllocOpt& options);

  bool CreateSurface(MmSurface* surface);
  // Takes the surface's memory back: to its heap, or onto the set-aside
  // list while setAsideFrees is on.
  bool DestroySurface(MmSurface* surface);
  // Takes the surface's memory back without returning it to its heap: a
  // wait for the engine ran out, and the engine may still read it. The
  // block stays out of use on the set-aside list until the device goes
  // (ReleaseSetAside); the surface is left without memory, as after
  // DestroySurface.
  void SetAsideSurface(MmSurface* surface);
  // Returns every set-aside block to its heap. Only when the device goes:
  // nothing the engine was given can run after that.
  void ReleaseSetAside();
  size_t SetAsideCount() const;
  bool CreateSurfaceClone(MmSurface* clone, MmSurface* master) {
    return master->CreateClone(clone);
  }
  bool DestroySurfaceClone(MmSurface* surface);

  MmVertexWindow* vertexWindow = nullptr;
  uint8_t* frameBufferCpuBase = nullptr;
  uint32_t localMemorySize = 0;
  CommonData* common;
  MmSurfaceMapper* mapper;
  BmPrimInt* primInt = nullptr;
  MmSurface* surfaceList = nullptr;
  // While on, DestroySurface sets memory aside instead of freeing it: its
  // caller's wait for the engine ran out (MmSetAsideFrees).
  bool setAsideFrees = false;

 private:
  struct SetAsideBlock : OsHeapObject {
    MmBlock* block;
    MmSurfAllocOpt options;  // what FreeSurfaceBlock needs to give it back
    SetAsideBlock* next;
  };
  void SetAside(MmBlock* block, const MmSurfAllocOpt& options);
  SetAsideBlock* setAside_ = nullptr;
};

// Sets the manager's frees aside for as long as it lives, once Hold() is
// called (a wait for the engine ran out); as it was afterwards.
class MmSetAsideFrees {
 public:
  explicit MmSetAsideFrees(MmSurfaceManager* manager)
      : manager_(manager), was_(manager != nullptr && manager->setAsideFrees) {}
  ~MmSetAsideFrees() {
    if (manager_ != nullptr) manager_->setAsideFrees = was_;
  }
  MmSetAsideFrees(const MmSetAsideFrees&) = delete;
  MmSetAsideFrees& operator=(const MmSetAsideFrees&) = delete;
  void Hold() {
    if (manager_ != nullptr) manager_->setAsideFrees = true;
  }

 private:
  MmSurfaceManager* manager_;
  bool was_;
};

// A heap over a range of local memory. Blocks are taken from either end
// (lowest or highest gap that fits) and any block can be given back.
class MemoryHeap {
 public:
  MemoryHeap() = default;
  ~MemoryHeap() = default;
  MemoryHeap(const MemoryHeap&) = delete;
  MemoryHeap& operator=(const MemoryHeap&) = delete;

  // Offset of a new block of size bytes aligned to alignment (0 or 1: none);
  // *ok is 0 (and the answer 0) when no gap holds it.
  uint32_t Allocate(uint8_t* ok, uint32_t size, bool fromTop, uint32_t alignment = 1);
  // Gives back the block at offset; false when there is none.
  bool Free(uint32_t offset);
  // Empty over [start, start + size).
  void Reset();
  // All marks 0 and no blocks.
  void Clear();
  // Bytes between the marks.
  uint32_t FreeSpace() const { return highMark - lowMark; }
  size_t BlockCount() const { return blocks_.size(); }

  uint32_t base = 0;
  uint32_t end = 0;
  uint32_t lowMark = 0;   // above the highest block of the bottom
  uint32_t highMark = 0;  // below the lowest block of the top
  uint32_t start = 0;
  uint32_t size = 0;

 private:
  struct Block {
    uint32_t size;
    uint32_t fromTop;
  };
  void UpdateMarks();
  Otl::Map<uint32_t, Block> blocks_;  // live blocks by offset
};

class MemoryBank : public MemoryHeap {
 public:
  // Carves a heap of size bytes from one end; false when it does not fit.
  bool CreateHeap(MemoryHeap* heap, uint32_t size, bool fromTop);
  void ResetHeap(MemoryHeap* heap, bool empty);
};

// Heap selectors of the local-DMA manager.
enum : uint32_t {
  kHeapSelFourth = 0,
  kHeapSelSecond = 1,
  kHeapSelFirst = 18,
  kHeapSelThird = 21,
  kHeapSelFifth = 22,
};
inline constexpr uint32_t kBankBOffset = 0x8000000;
inline constexpr uint32_t kMegabyte = 0x100000;

class EmulMmSurfaceManager : public MmSurfaceManager {
 public:
  // Carves the heaps from two banks of half the record's frame-buffer size.
  EmulMmSurfaceManager(uint8_t* ok, MmSurfaceMapper* mapper, CommonData* common);
  ~EmulMmSurfaceManager() override = default;

  MmBlock* AllocateSurfaceBlock(const MmSurfAllocOpt& options) override;
  void FreeSurfaceBlock(MmBlock* block, const MmSurfAllocOpt& options) override;
  void Reset();

  // The heap of a selector, or null.
  MemoryHeap* HeapOf(uint32_t selector);

  MemoryHeap heaps[5];  // first .. fifth
};

void* GetSimulatorMemory(PDEV* pdev);

// AGP and PCI-locked system buffers, declared to the board's physical
// memory mapper.
bool MmAllocateAGPBuffer(CommonData* common, uint32_t slot, uint32_t pageCount,
                         void** cpuAddress, uint64_t* busAddress);
bool MmAllocatePciLockedBuffer(CommonData* common, uint32_t slot, uint32_t pageCount,
                               void** cpuAddress, uint64_t* busAddress);
bool MmFreeAGPBuffer(CommonData* common, uint32_t slot, void* cpuAddress);
bool MmFreePciLockedBuffer(CommonData* common, uint32_t slot, void* cpuAddress);
