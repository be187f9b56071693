// The parts of command buffers and their pools that both builds share: a
// buffer over memory someone else owns, creation from allocation options,
// and the pool's ring, open and close and cursor. How a buffer allocates its
// own memory, when it counts as busy and how a pool waits for the next free
// buffer belong to each build (core/bm_buffer.cpp for the X driver,
// kernel/bm_buffer_kernel.cpp for the kernel module).
#include "core/bm_buffer.h"

uint32_t BmBusTypeOf(uint32_t memoryType, uint32_t busFlags) {
  if (memoryType == kBmMemAgp &&
      ((busFlags & kBusFlagAgpAsPci) != 0 || (busFlags & kBusFlagAgp) == 0)) {
    return kBmMemPciLocked;
  }
  return memoryType;
}

void BmAddSystemMemoryEntries(BmBuffer_AllocOptions& alloc, uint32_t busFlags, uint32_t debugFlags,
                              uint32_t size) {
  if ((busFlags & kBusFlagAgp) && !(debugFlags & (kBmDebugNoSystemMemory | kBmDebugNoAgp)))
    alloc.Add(kBmMemAgp, size);
  if ((busFlags & kBusFlagsPciLocked) == kBusFlagsPciLocked &&
      !(debugFlags & (kBmDebugNoSystemMemory | kBmDebugNoPciLocked)))
    alloc.Add(kBmMemPciLocked, size);
}

// ---- BmBuffer -------------------------------------------------------------------------------

BmBuffer::BmBuffer(CommonData* c, uint32_t u)
    : common(c), unit(u), shared(c != nullptr ? c->sharedLocked : nullptr) {}

BmBuffer::~BmBuffer() { FreeMemory(); }

BmBuffer* BmBuffer::Create(CommonData* common, uint32_t unit, uint32_t type, uint32_t bytes,
                           void* cpu, uint64_t bus) {
  BmBuffer* buffer = new BmBuffer(common, unit);
  if (buffer != nullptr && !buffer->AssignMemory(type, bytes, cpu, bus)) {
    delete buffer;
    return nullptr;
  }
  return buffer;
}

BmBuffer* BmBuffer::Create(CommonData* common, uint32_t unit,
                           const BmBuffer_AllocOptions& options) {
  BmBuffer* buffer = new BmBuffer(common, unit);
  if (buffer != nullptr && !buffer->AllocMemory(options)) {
    delete buffer;
    return nullptr;
  }
  return buffer;
}

void BmBuffer::Reset() {
  memoryType = kBmMemAgp;
  busType = kBmMemAgp;
  surface = nullptr;
  size = 0;
  busAddress = 0;
  cpuAddress = nullptr;
  busDelta = 0;
  apertureBus = 0;
  allocated = 0;
  cpuMapped = 0;
  word = 0;
  processMemory = 0;
  fence = 0;
}

bool BmBuffer::AssignMemory(uint32_t type, uint32_t bytes, void* cpu, uint64_t bus) {
  if (allocated || bytes == 0 || cpu == nullptr || bus == 0) return false;
  memoryType = type;
  busType = BmBusTypeOf(type, shared != nullptr ? shared->busFlags : 0);
  size = bytes;
  busAddress = bus;
  cpuAddress = cpu;
  busDelta = static_cast<int64_t>(bus - reinterpret_cast<uintptr_t>(cpu));
  cpuMapped = 1;
  return true;
}

// ---- BmBufferPool ---------------------------------------------------------------------------

BmBufferPool::BmBufferPool(CommonData* c, uint32_t u, const CreateOptions& o)
    : options(o), common(c), unit(u) {
  options.alloc.localKind = 1;
}

BmBufferPool::~BmBufferPool() { FreeBufferPool(); }

bool BmBufferPool::AllocateBufferPool() {
  if (head != nullptr) return true;
  BmBuffer_AllocOptions alloc = options.alloc;
  while (bufferCount < options.bufferCount) {
    BmBuffer* buffer = BmBuffer::Create(common, unit, alloc);
    if (buffer == nullptr) break;
    if (head != nullptr) {
      // Into the ring before the current head; it becomes the head.
      buffer->next = head;
      buffer->previous = head->previous;
      head->previous->next = buffer;
      head->previous = buffer;
    }
    head = buffer;
    ++bufferCount;
    totalSize += buffer->size;
    if (!options.keepEntries && bufferCount == 1) {
      // Every further buffer lies in the same kind of memory.
      alloc.count = 1;
      alloc.memoryType[0] = buffer->memoryType;
      alloc.size[0] = buffer->size;
    }
  }
  if (head == nullptr) return false;
  head->state |= kBmBufferCurrent;
  return true;
}

void BmBufferPool::FreeBufferPool() {
  while (head != nullptr) {
    BmBuffer* buffer = head;
    head = buffer->next == buffer ? nullptr : buffer->next;
    buffer->previous->next = buffer->next;
    buffer->next->previous = buffer->previous;
    delete buffer;
  }
  bufferCount = 0;
  totalSize = 0;
  cursor = start = limit = beforeStart = nullptr;
}

void BmBufferPool::ResetCursor() {
  if (head == nullptr || !head->cpuMapped) {
    cursor = start = limit = nullptr;
    return;
  }
  cursor = start = head->Begin();
  limit = head->End() - options.reserve;
  beforeStart = cursor - 1;
}

bool BmBufferPool::Open() {
  if (openCount == 0) {
    if (!AllocateBufferPool()) return false;
    ResetCursor();
  }
  ++openCount;
  return true;
}

uint32_t BmBufferPool::Close() {
  if (openCount == 0) return 0;
  if (--openCount == 0) FreeBufferPool();
  return openCount;
}

bool BmBufferPool::SwitchForRoom(uint32_t words) {
  if (words > FreshRoom()) return false;
  SwitchToNewBuffer();
  return cursor != nullptr && Fits(words);
}

uint32_t BmBufferPool::FreshRoom() const {
  if (head == nullptr) return 0;
  uint32_t room = UINT32_MAX;
  const BmBuffer* b = head;
  do {
    const uint32_t words = b->cpuMapped ? b->size / sizeof(uint32_t) : 0;
    const uint32_t usable = words > options.reserve ? words - options.reserve : 0;
    if (usable < room) room = usable;
    b = b->next;
  } while (b != head);
  return room;
}

void BmBufferPool::SwitchToNewBuffer() {
  if (bufferCount >= 2) {
    // The kernel module's wait is bounded: when no buffer comes free nothing moves.
    BmBuffer* found = FindNextBuffer();
    if (found == nullptr) return;
    head->state &= ~kBmBufferStateBits;
    found->state |= kBmBufferCurrent;
    head = found;
  }
  ResetCursor();
}
