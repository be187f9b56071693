// The kernel module's block (selected by core/mm_block.h): what every heap
// of the kernel's video-memory manager hands out. A block knows its heap;
// giving it back (Release) returns it there.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/kcore_names.h"

class MmHeap;

class MmBlock : public OsHeapObject {
 public:
  MmBlock() : serial(s_nextSerial++) {}
  virtual void DebugDump() const {}
  virtual ~MmBlock() = default;
  MmBlock(const MmBlock&) = delete;
  MmBlock& operator=(const MmBlock&) = delete;

  // Gives the block back to its heap, which frees or destroys it.
  void Release();

  uint32_t kind = 3;
  MmHeap* heap = nullptr;
  uint8_t inUse = 0;
  uint64_t size = 0;           // allocated
  uint64_t offset = 0;         // in the heap
  uint64_t requestedSize = 0;
  uint8_t* cpuAddress = nullptr;
  uint8_t* cpuAddress2 = nullptr;
  uint64_t busAddress = 0;     // bus address (system memory) or device address (local)
  int32_t drawSyncTag = 0;
  uint32_t dmaStamp = 0;
  uint32_t serial;
  uint32_t rangeMask = 0;

  static inline uint32_t s_nextSerial = 0;
};
