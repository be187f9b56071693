// The X driver's block record (selected by core/mm_block.h).
#pragma once

#include <stdint.h>

#include "core/heap_object.h"

// The X driver's classes that place and map surfaces (core/mm_aperture.h,
// core/mm_surface_manager.h); the kernel build's namesakes are declared by
// core/kcore_names.h.
class MmHostAperture;
class MmSurfaceManager;
class MmSurfaceMapper;

class MmBlock : public OsHeapObject {
 public:
  enum : int32_t { kHoldsMemory = 1, kConstructed = 2 };

  MmBlock() : traceId(s_ulNextTraceID++) {}
  ~MmBlock() = default;
  bool IsLargeEnoughToHold(uint64_t bytes) const { return size >= bytes; }
  void DebugDump() const {}

  int32_t state = kConstructed;
  uint64_t size = 0;
  uint64_t offset = 0;  // in its heap or aperture
  uint8_t* cpuAddress = nullptr;
  uint32_t busAddress = 0;
  int32_t drawSyncTag = 0;
  uint32_t dmaStamp = 0;  // buffer counter at the last buffer switch
  uint32_t traceId;

  static inline uint32_t s_ulNextTraceID = 0;
};
