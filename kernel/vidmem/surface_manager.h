// The kernel's video-memory manager of a board: the board record, the
// host-aperture mapper and the surface manager, which owns every heap of the
// board (local memory cut by the frame-buffer layout, the CPU-mapped area of
// partition 1, AGP, PCI-locked and locked pages), the policy set and the
// policy table, and places and frees surfaces.
//
// The X driver has a surface manager of the same name
// (core/mm_surface_manager.h): this one is the kernel core's, in namespace
// kcore (core/kcore_names.h).
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/kcore_names.h"
#include "core/mm_surface.h"
#include "core/otl_vector.h"
#include "kernel/vidmem/heaps.h"
#include "kernel/vidmem/policies.h"
#include "kernel/vidmem/surface_mapper.h"

struct CommonData;
struct FrameBufferLayout;
class PDEV;

struct MmBoardRecord {
  uint32_t apertureSize;    // rounded down to 256 KB
  uint32_t mappedHeapSize;  // 0 without one
  MmSurfaceManager* manager;
  MmSurfaceMapper* mapper;
  uint8_t rest[24];
};
static_assert(sizeof(MmBoardRecord) == 48);

// The MmFlags bits the manager reads.
inline constexpr uint32_t kMmFlagNoProbe = 0x1;
inline constexpr uint32_t kMmFlagFrameBufferWindow = 0x2;
// DebugPatches bit 0 changes the row-0 recipes.
inline constexpr uint32_t kDebugPatchesBit0 = 0x1;

namespace kcore {

class MmSurfaceManager : public OsHeapObject {
 public:
  MmSurfaceManager(uint8_t* ok, MmSurfaceMapper* mapper, CommonData* common, uint32_t unit,
                   uint32_t twoPartitionSwitch);
  virtual ~MmSurfaceManager();
  MmSurfaceManager(const MmSurfaceManager&) = delete;
  MmSurfaceManager& operator=(const MmSurfaceManager&) = delete;

  // Places the surface by the policy of its type (options.requestedKind)
  // and placement code (options.heapSelector); a placed surface succeeds at
  // once, a size of 0 or a cell outside the table fails.
  bool CreateSurface(MmSurface* surface);
  void DestroySurface(MmSurface* surface);
  bool CreateSurfaceClone(MmSurface* clone, MmSurface* master) { return master->CreateClone(clone); }
  void DestroySurfaceClone(MmSurface* surface);
  uint32_t MappedHeapSize() const;
  // Whether the heap is one of the board's local-memory heaps.
  bool IsLocalHeap(const MmHeap* heap) const;
  // The processor's address of local memory [device, device + size)
  // through the frame-buffer window, which stays mapped; null when the
  // window does not cover it.
  uint8_t* FrameBufferWindowAddress(uint64_t device, uint64_t size) const;
  // Keeps [offset, offset + size) of a local heap out of use until the
  // manager goes.
  bool ReserveRange(uint32_t offset, uint32_t size);
  uint32_t GetLocalHeapSize(uint32_t unit) const;
  uint32_t GetAvailableBytes(uint32_t unit, uint32_t flag);
  void EvictLocal(uint32_t unit);

  MmPolicySet* policies = nullptr;
  MmHeapSet* heapSet = nullptr;
  Otl::Vector<MmHeap*> heaps;
  Otl::Vector<MmHeapOwner*> owners;
  Otl::Vector<MmBlock*> reservedBlocks;
  Otl::Vector<MmHeap*> localHeaps;
  MmRegionHeap* mappedHeap = nullptr;
  MmHeapOwner* mappedOwner = nullptr;
  MmHeapOwner* top0Owner = nullptr;
  MmHeapOwner* top1Owner = nullptr;
  MmHostAperture mappedWindow;
  uint64_t mappedWindowBus = 0;
  uint8_t* mappedCpu = nullptr;
  MmHostAperture* frameBufferWindow = nullptr;
  CommonData* common;
  MmSurfaceMapper* mapper;

 private:
  bool AddHeap(MmHeap* heap, uint32_t list, MmHeapOwner** owner);
  bool MakeLocalHeaps(const FrameBufferLayout& layout);
  void FillPolicyTable(const FrameBufferLayout& layout, uint32_t unit);
  void MakeFrameBufferWindow(const FrameBufferLayout& layout);
};

}  // namespace kcore

// Component entry 10.
bool InitMemoryManager(PDEV* pdev);
void CleanupMemoryManager(PDEV* pdev);
