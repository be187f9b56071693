// Buffer rings: round-robin command-memory buffers for vertex and index
// data, grown instead of waited on.
#include "kernel/3d/surfaces/buffer_ring.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/chip_ids.h"
#include "core/common_data.h"
#include "core/regs/dma.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"

void SurfaceFlushEngineCaches(CommonData* common) {
  const uint32_t reg = (common->revisionBits & kRevKestrionNext3) != 0 ? kRegEngineStatus : kRegEngineFlush;
  KernelWriteRegister(common, reg, kEngineFlush);
}

namespace {

bool BufferBusyDma(const BmBuffer* buffer) {
  if (buffer->busyCheckOff) return false;
  return buffer->IsBusyDMA() || (buffer->surface != nullptr && buffer->surface->IsBusyDMA());
}

bool BufferBusyDrawing(const BmBuffer* buffer) {
  if (buffer->busyCheckOff || buffer->surface == nullptr) return false;
  uint32_t tag = kSyncTagOfBlock;
  return buffer->surface->IsBusyDWG(&tag, false);
}

}  // namespace

BmBufferRing* BmBufferRing::Create(uint32_t bufferSize, uint32_t memoryKind, CommonData* common,
                                   uint32_t unit, uint32_t flags) {
  if (common == nullptr) return nullptr;
  auto* ring = new BmBufferRing(bufferSize, memoryKind, common, unit, flags);
  if (ring == nullptr) return nullptr;
  if (!ring->AddBuffer()) {
    delete ring;
    return nullptr;
  }
  return ring;
}

BmBufferRing::~BmBufferRing() {
  while (lockCount != 0) Unlock();
  if (view != nullptr) view->DetachFromRing();
  while (current != nullptr) RemoveCurrentBuffer();
}

bool BmBufferRing::AddBuffer() {
  BmBuffer_AllocOptions options = {};
  options.localKind = 0;
  options.flag2 = 1;
  options.Add(memoryKind, bufferSize);
  BmBuffer* buffer = BmBuffer::Create(common, unit, options);
  if (buffer == nullptr) return false;
  if (current == nullptr) {
    buffer->next = buffer;
    buffer->previous = buffer;
  } else {
    buffer->next = current;
    buffer->previous = current->previous;
    current->previous->next = buffer;
    current->previous = buffer;
  }
  current = buffer;
  ++bufferCount;
  return true;
}

void BmBufferRing::RemoveCurrentBuffer() {
  BmBuffer* gone = current;
  if (gone == nullptr) return;
  if (gone->next != gone) {
    gone->previous->next = gone->next;
    gone->next->previous = gone->previous;
    current = gone->next;
  } else {
    current = nullptr;
  }
  gone->next = gone->previous = gone;
  delete gone;
  if (bufferCount != 0) --bufferCount;
}

bool BmBufferRing::AwaitEngine(BmBuffer* buffer) {
  if (!KernelWait("buffer ring DMA", [&] { return !BufferBusyDma(buffer); })) return false;
  if (!KernelWait("buffer ring drawing", [&] { return !BufferBusyDrawing(buffer); })) return false;
  SurfaceFlushEngineCaches(common);
  return true;
}

void* BmBufferRing::Lock(bool wait, bool discard) {
  if (current == nullptr) return nullptr;
  if (discard && lockCount == 0) {
    current = current->next;
    if (view != nullptr) {
      view->changed = 1;
      if (view->resourceTable != nullptr)
        view->resourceTable->InvalidateBindings(view->resourceType, view->resourceHandle);
    }
    // A busy next buffer: a fresh one instead while the ring may grow; a
    // ring that cannot grow uses the busy one (and waits for it below).
    if (BufferBusyDma(current) && bufferCount < kRingMaxBuffers) (void)AddBuffer();
  }
  BmBuffer* buffer = current;
  // The first lock of a buffer makes the engine give it up. The board has
  // no way to say a lock without wait may skip this, so every first lock
  // waits; a wait that runs out fails the lock.
  if (buffer->lockCount == 0 && !buffer->pinned) {
    if (!AwaitEngine(buffer)) return nullptr;
  }
  if (wait && !buffer->busyCheckOff &&
      !KernelWait("buffer ring DMA", [&] { return !BufferBusyDma(buffer); }))
    return nullptr;
  ++lockCount;
  ++buffer->lockCount;
  return buffer->cpuAddress;
}

uint32_t BmBufferRing::Unlock() {
  if (lockCount == 0 || current == nullptr) return 0;
  --lockCount;
  // The buffers keep their processor mapping for their whole life, so the
  // last lock leaves nothing to give back.
  if (current->lockCount != 0) --current->lockCount;
  return current->lockCount;
}

bool BmBufferRing::WriteAt(const void* source, const BufferRange& range, uint32_t destination) {
  if (destination > bufferSize) destination = bufferSize;
  uint32_t length = range.length;
  if (length > bufferSize - destination) length = bufferSize - destination;
  if (length == 0 || source == nullptr) return true;
  auto* to = static_cast<uint8_t*>(Lock(true, false));
  if (to == nullptr) return false;
  memcpy(to + destination, static_cast<const uint8_t*>(source) + range.offset, length);
  Unlock();
  return true;
}

bool BmBufferRing::CopyFrom(BmBufferRing* source, BufferRange* range, uint32_t destination) {
  if (source == nullptr) {
    range->length = 0;
    return true;
  }
  const uint32_t sourceSize = source->Size();
  if (range->offset > sourceSize) range->offset = sourceSize;
  if (range->length > sourceSize - range->offset) range->length = sourceSize - range->offset;
  if (destination > bufferSize) destination = bufferSize;
  if (range->length > bufferSize - destination) range->length = bufferSize - destination;
  if (range->length == 0) return true;
  auto* from = static_cast<const uint8_t*>(source->Lock(true, false));
  if (from == nullptr) return false;
  auto* to = static_cast<uint8_t*>(Lock(true, false));
  if (to != nullptr) memmove(to + destination, from + range->offset, range->length);
  source->Unlock();
  if (to == nullptr) return false;
  Unlock();
  return true;
}
