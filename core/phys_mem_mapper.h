// Translation between bus and processor addresses of the system-memory
// buffers (AGP and PCI-locked) that the X driver allocated.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/dlinked_list.h"
#include "core/heap_object.h"
#include "core/otl_map.h"

class PDEV;

inline constexpr uint64_t kPhysPageSize = 4096;

struct tagSurfaceBuffer {
  uint64_t busAddress;
  uint64_t cpuAddress;
  uint32_t pageCount;
  uint64_t busEnd;  // busAddress + pageCount pages

  bool Covers(uint64_t bus) const { return busAddress <= bus && bus < busEnd; }
};

class PhysMemMapper : public OsHeapObject {
 public:
  using PageList = DLinkedList<tagSurfaceBuffer*>;

  explicit PhysMemMapper(CommonData* common) : common(common) {}
  virtual ~PhysMemMapper();
  PhysMemMapper(const PhysMemMapper&) = delete;
  PhysMemMapper& operator=(const PhysMemMapper&) = delete;

  // False when the map could not be made.
  bool ok() const { return buffers_.ok(); }

  // A buffer declared again at the same processor address replaces the
  // earlier one.
  bool DeclareSurfaceBuffer(void* cpuAddress, uint64_t busAddress, uint32_t pageCount);
  void UnDeclareSurfaceBuffer(void* cpuAddress);
  bool GetBufferPhysAttributes(void* cpuAddress, uint64_t* busAddress, uint32_t* pageCount) const;
  // The processor address of a bus address: the address itself on a page no
  // buffer covers, 0 on a covered page outside every buffer there. Where
  // buffers overlap, the one declared first answers.
  uint64_t GetBufferLinAddress(uint64_t busAddress);
  void RemoveSurfaceBuffer(PageList* list, uint64_t cpuAddress);

  size_t BufferCount() const { return buffers_.size(); }
  // The 4 KB bus pages the buffers touch, each counted once.
  size_t PageCount() const;

  CommonData* common;

 private:
  Otl::Map<uint64_t, tagSurfaceBuffer*> buffers_;  // by processor address
  // Every buffer in the order declared: one entry a buffer, not one a page
  // (a command buffer pool spans hundreds of pages and is declared at
  // every enable), searched by page when a bus address is translated.
  PageList declared_;
  tagSurfaceBuffer* lastFound_ = nullptr;
};

// The board's mapper, for code without a device object.
extern PhysMemMapper* g_poPhysMemMapper;
