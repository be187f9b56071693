// Device bitmaps: the surfaces that XAA, Xv and the post-draw transforms
// draw into, with their binding to one of the engine's surface descriptors
// and their optional host copy; the device's pool of host copies and its
// object pool of device bitmaps; component-table row 14.
#pragma once

#include <stdint.h>

#include <new>

#include "core/os.h"
#include "core/utils.h"
#include "xdriver/surface2d.h"

class PDEV;
class SurfDesc2dList;

// Flags of a device bitmap.
inline constexpr uint32_t kDevBitPrimary = 0x01;     // the device's primary surface
inline constexpr uint32_t kDevBitCleared = 0x02;     // zeroed by ClearSurface, until next bound
inline constexpr uint32_t kDevBitDiscarded = 0x04;   // memory taken away; Recache brings it back
inline constexpr uint32_t kDevBitDerived = 0x08;     // memory of another surface, kept over Disable
inline constexpr uint32_t kDevBitBound = 0x10;       // holds a surface descriptor
inline constexpr uint32_t kDevBitBoundLinear = 0x20; // bound to descriptor 0 as a linear one
inline constexpr uint32_t kDevBitHostCopy = 0x40;    // its host copy is valid

inline constexpr uint32_t kNoDescriptor = 0xFFFFFFFF;

class DeviceBitmap : public Surface2d {
 public:
  DeviceBitmap() = default;
  // A bitmap that goes gives its host-cache slot back.
  ~DeviceBitmap() override;

  // Leaves the bitmap as it is and answers true: device bitmaps keep their
  // state until Destroy or Recache.
  bool OnDiscard() override;
  // Drops the descriptor binding, then gives the memory back (a derived
  // bitmap keeps its memory).
  void Disable(MmSurfaceManager* manager) override;

  // With a size: a bitmap of that size in the device's format, placed now.
  // Without one (the primary surface): from the descriptor already set up.
  bool Create(PDEV* pdev, const LSIZE* size);
  // Create(pdev, null), then the given pixel format code.
  bool Create(PDEV* pdev, uint32_t formatCode);
  // A bitmap over the memory of `surface`, seen through its host aperture;
  // false without side effects for a descriptor the 2D engine cannot draw.
  bool CreateDerived(PDEV* pdev, MmSurface* surface);
  void Destroy();
  bool Uncache();
  bool Recache();
  static void RecacheAllDevBits(PDEV* pdev);
  // Gives the host-cache slot back (the cache must not point at a bitmap
  // that is gone).
  void ReleaseHostCopy();

  // {descriptor header, address word, mode word} into the primary buffer.
  void ProgSurfDesc();
  // Zeroes the bitmap through the engine (and its host copy).
  void ClearSurface();
  // Processor copy between system memory and the bitmap: toDevice copies
  // from mem at p to the bitmap at r, otherwise from the bitmap at p to mem
  // at r. The rectangle is clipped to the bitmap.
  void XferBitmap(void* mem, int32_t pitch, const LRECT* r, const LPOINT* p, bool toDevice);

  PDEV* pdev = nullptr;
  uint8_t* hostCopy = nullptr;
  DeviceBitmap* next = nullptr;  // recache list; the pool's free list while pooled
  uint32_t hostSlot = 0;
  uint32_t assignedWord = kNoDescriptor;
  SurfDesc2dList* surfDescList = nullptr;
  uint32_t width = 0;   // the pitch, pixels
  uint32_t height = 0;
  uint32_t flags = 0;
  uint32_t hostPitch = 0;  // bytes per row as the processor sees the bitmap
  uint32_t bitsPerPixel = 0;
  uint32_t bytesPerPixel = 0;
  uint32_t formatCode = 0;
};

// The device's pool of host copies: slots of bytes-per-pixel x 1024 bytes,
// handed out round-robin.
class HostBitmapCache : public OsHeapObject {
 public:
  HostBitmapCache(uint32_t slotSize, uint32_t slotCount);
  virtual ~HostBitmapCache();
  HostBitmapCache(const HostBitmapCache&) = delete;
  HostBitmapCache& operator=(const HostBitmapCache&) = delete;

  // A host copy for b when the cache is valid and a slot holds b's bytes:
  // the next slot, or after it the first whose owner has no valid copy;
  // with every slot taken the next slot's owner loses its copy. Answers
  // whether b holds a valid host copy now.
  bool AllocateHostBitmap(DeviceBitmap* b);
  // b's slot is free again.
  void Release(DeviceBitmap* b);

  uint8_t* memory = nullptr;
  DeviceBitmap** owners = nullptr;
  uint32_t slotSize;
  uint32_t slotCount;
  uint32_t nextSlot = 0;
  bool valid = false;
  DeviceBitmap empty;  // owner of every free slot
};

// Device bitmaps made in chunks and kept on a free list. Nothing of this
// driver takes objects from it yet; it only owns its chunks.
template <class T>
class MmObjectPool : public OsHeapObject {
 public:
  MmObjectPool(uint32_t count, uint32_t growth) : growth(growth) { ExpandFreeList(count); }
  ~MmObjectPool() {
    while (chunks != nullptr) {
      Chunk* chunk = chunks;
      chunks = chunk->next;
      for (uint32_t i = 0; i < chunk->count; ++i) chunk->Objects()[i].~T();
      memFree(chunk);
    }
  }
  MmObjectPool(const MmObjectPool&) = delete;
  MmObjectPool& operator=(const MmObjectPool&) = delete;

  // One allocation of count objects, each in front of the free list;
  // nothing when count is 0 or the allocation fails.
  void ExpandFreeList(uint32_t count) {
    if (count == 0) return;
    void* memory = memAlloc(sizeof(Chunk) + sizeof(T) * count);
    if (memory == nullptr) return;
    Chunk* chunk = static_cast<Chunk*>(memory);
    chunk->next = chunks;
    chunk->count = count;
    chunks = chunk;
    for (uint32_t i = 0; i < count; ++i) {
      T* object = ::new (&chunk->Objects()[i]) T();
      object->next = freeList;
      freeList = object;
    }
    total += count;
  }

  uint32_t growth;
  uint32_t total = 0;
  T* freeList = nullptr;

 private:
  struct alignas(alignof(T)) Chunk {
    Chunk* next;
    uint32_t count;
    T* Objects() { return reinterpret_cast<T*>(this + 1); }
  };
  Chunk* chunks = nullptr;
};

inline constexpr uint32_t kHostCacheSlots = 128;
inline constexpr uint32_t kHostCacheSlotPixels = 1024;
inline constexpr uint32_t kDeviceBitmapPoolSize = 256;

// Row 14: the device's host bitmap cache and device-bitmap pool.
bool InitDeviceBitmap(PDEV* pdev);
void CleanupDeviceBitmap(PDEV* pdev);
