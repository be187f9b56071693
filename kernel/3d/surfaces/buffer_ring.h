// A ring of command-memory buffers of one size and memory kind that vertex
// and index data live in: the processor writes the current buffer, the
// engine reads it. A writer that throws the old contents away moves on to
// the next buffer instead of waiting for the engine; when that one is still
// in use the ring grows by a buffer, up to kRingMaxBuffers, rather than
// wait. A surface view (Surface3d::CreateOverRing) gives the ring a handle
// in a client's resource table.
//
// Callers hold the 3D command lock of the request path; the ring has no
// lock of its own.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"

class BmBuffer;
class Surface3d;
struct CommonData;

inline constexpr uint32_t kRingMaxBuffers = 8;

// A byte range of a ring write or copy; the ring writes back what it
// clamped it to.
struct BufferRange {
  uint32_t offset;
  uint32_t length;
};

class BmBufferRing : public OsHeapObject {
 public:
  // The ring with its first buffer, or null when that cannot be had.
  static BmBufferRing* Create(uint32_t bufferSize, uint32_t memoryKind, CommonData* common,
                              uint32_t unit, uint32_t flags);

  virtual ~BmBufferRing();
  BmBufferRing(const BmBufferRing&) = delete;
  BmBufferRing& operator=(const BmBufferRing&) = delete;

  // A new buffer linked in just before the current one, made current.
  bool AddBuffer();
  // The current buffer with two or more; with one the ring is left empty.
  void RemoveCurrentBuffer();

  // The processor address of the current buffer (null when the ring has
  // none or the engine did not give it up in time). A discard with no lock
  // outstanding moves to the next buffer first, growing the ring when that
  // one is busy.
  void* Lock(bool wait, bool discard);
  // Ends one lock; answers the buffer's locks left (0 without a lock).
  uint32_t Unlock();
  // Copies range.length bytes from source + range.offset to the buffer at
  // destination, clamped to the buffer (the caller vouches for the source
  // range). False only when the buffer could not be locked.
  bool WriteAt(const void* source, const BufferRange& range, uint32_t destination);
  // Copies a range of another ring's buffer into this one at destination,
  // clamped to both; the clamped range is written back. False only when a
  // buffer could not be locked.
  bool CopyFrom(BmBufferRing* source, BufferRange* range, uint32_t destination);

  uint32_t Size() const { return bufferSize; }
  BmBuffer* Current() const { return current; }
  uint32_t Count() const { return bufferCount; }

  CommonData* common;
  uint32_t unit;
  uint32_t memoryKind;
  uint32_t bufferSize;
  uint32_t bufferCount = 0;
  BmBuffer* current = nullptr;
  uint32_t lockCount = 0;
  Surface3d* view = nullptr;
  uint32_t flags;

 private:
  BmBufferRing(uint32_t size, uint32_t kind, CommonData* board, uint32_t unitIndex, uint32_t ringFlags)
      : common(board), unit(unitIndex), memoryKind(kind), bufferSize(size), flags(ringFlags) {}
  // The first lock of a buffer: the engine done with it, its write caches
  // flushed. False when the engine did not give it up in time.
  bool AwaitEngine(BmBuffer* buffer);
};

// The engine's write caches flushed before the processor reads memory it
// wrote: 1 to register 0x314, or 0x318 on boards whose revision bits
// 16-18 are set, under the register-write guard.
void SurfaceFlushEngineCaches(CommonData* common);
