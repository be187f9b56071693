// DMA command buffers and rings of them.
//
// A BmBuffer is one buffer with its memory (local video, AGP, PCI-locked or
// process memory) and its CPU and bus addresses; a BmBufferPool is a ring of
// buffers of one unit with a write cursor, a start pointer (first word not
// yet handed to the chip) and a limit, switched as the buffers fill.
//
// Both builds have them (core/bm_pool.cpp); how a buffer allocates and
// frees its own memory, when it is busy and how a pool finds its next
// buffer are each build's own (core/bm_buffer.cpp, kernel/bm_buffer_kernel.cpp).
// The memory-manager members (a surface as memory) are the X driver's alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/mm_surface.h"

class PDEV;

// The memory a buffer lives in (MemoryType); the bus type is the memory
// type handed to the chip.
using MemoryType = uint32_t;
inline constexpr MemoryType kBmMemLocal = 0;
inline constexpr MemoryType kBmMemAgp = 2;
inline constexpr MemoryType kBmMemPciLocked = 3;
inline constexpr MemoryType kBmMemProcess = 4;  // the chip cannot reach it
inline constexpr uint32_t kBmBusTypeMask = 0x3;

// Bus flags of the shared block that decide AGP buses.
inline constexpr uint32_t kBusFlagAgp = 0x10;
inline constexpr uint32_t kBusFlagAgpAsPci = 0x400;
inline constexpr uint32_t kBusFlagsPciLocked = 0x100004;

// BmDebugFlags bits that keep command buffers out of system memory.
inline constexpr uint32_t kBmDebugNoSystemMemory = 0x10;
inline constexpr uint32_t kBmDebugNoPciLocked = 0x20;
inline constexpr uint32_t kBmDebugNoAgp = 0x40;

// Buffer state flags.
inline constexpr uint32_t kBmBufferCurrent = 0x1;
inline constexpr uint32_t kBmBufferReserved = 0x2;
inline constexpr uint32_t kBmBufferStateBits = kBmBufferCurrent | kBmBufferReserved;

inline constexpr uint32_t kBmMaxAllocEntries = 4;

struct BmBuffer_AllocOptions {
  uint8_t localKind;   // a local entry asks for surface kind 7 instead of 0
  uint8_t flag2;       // carried, unused
  uint8_t pad[2];
  uint32_t count;      // entries, at most 4
  MemoryType memoryType[kBmMaxAllocEntries];
  uint32_t size[kBmMaxAllocEntries];

  // Appends an entry; entries past the fourth are dropped.
  void Add(uint32_t type, uint32_t bytes) {
    if (count >= kBmMaxAllocEntries) return;
    memoryType[count] = type;
    size[count] = bytes;
    ++count;
  }
};
static_assert(sizeof(BmBuffer_AllocOptions) == 40);
static_assert(offsetof(BmBuffer_AllocOptions, count) == 4);
static_assert(offsetof(BmBuffer_AllocOptions, memoryType) == 8);
static_assert(offsetof(BmBuffer_AllocOptions, size) == 24);

// Bus type of a memory type on a board with these bus flags.
uint32_t BmBusTypeOf(MemoryType memoryType, uint32_t busFlags);
// The system-memory entries of a pool for a board with these bus flags:
// AGP, then PCI-locked memory, each unless a BmDebugFlags bit keeps it out.
void BmAddSystemMemoryEntries(BmBuffer_AllocOptions& alloc, uint32_t busFlags, uint32_t debugFlags,
                              uint32_t size);

// Flushes the engine's pending writes to memory: register 0x318 on the
// chips of kRevKestrionNext3, 0x314 on the others.
void BmFlushEngine(CommonData* common);

class BmBuffer : public OsHeapObject {
 public:
  // Each answers a new buffer or null; a half-made buffer is destroyed.
  static BmBuffer* Create(CommonData* common, uint32_t unit, MmSurface* surface);
  static BmBuffer* Create(CommonData* common, uint32_t unit, MemoryType memoryType, uint32_t size,
                          void* cpu, uint64_t bus);
  static BmBuffer* Create(CommonData* common, uint32_t unit, const BmBuffer_AllocOptions& options);

  BmBuffer(CommonData* common, uint32_t unit);
  ~BmBuffer();
  BmBuffer(const BmBuffer&) = delete;
  BmBuffer& operator=(const BmBuffer&) = delete;

  bool AssignMemory(MmSurface* surface);
  bool AssignMemory(uint32_t type, uint32_t bytes, void* cpu, uint64_t bus);
  bool AllocMemory(const BmBuffer_AllocOptions& options);
  // Only memory that the buffer allocated itself.
  void FreeMemory();
  void Reset();

  uint32_t* Begin() const { return static_cast<uint32_t*>(cpuAddress); }
  uint32_t* End() const {
    return cpuAddress == nullptr ? nullptr : reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(cpuAddress) + size);
  }
  // 32-bit bus address of a CPU pointer into the buffer; 0 without a mapping.
  uint32_t BusOf(const void* at) const {
    if (!cpuMapped) return 0;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at) + static_cast<uintptr_t>(busDelta));
  }
  // Busy while the engine has not passed the buffer's last switch stamp: its
  // surface's in the X driver, its fence in the kernel module.
  bool IsBusyDMA() const;

  uint32_t state = 0;
  BmBuffer* next = this;
  BmBuffer* previous = this;
  CommonData* common;
  uint32_t unit;
  SharedLockedData_t* shared;
  MemoryType memoryType = kBmMemAgp;
  uint32_t busType = kBmMemAgp;
  MmSurface* surface = nullptr;
  uint32_t size = 0;
  uint64_t busAddress = 0;
  void* cpuAddress = nullptr;
  int64_t busDelta = 0;
  uint64_t apertureBus = 0;
  uint8_t allocated = 0;
  uint8_t cpuMapped = 0;
  uint32_t word = 0;  // cleared on reset, otherwise unused
  uint8_t processMemory = 0;
  // Kernel module: the progress counter of the switch that left the buffer;
  // 0 when it was never left.
  uint32_t fence = 0;
  // Buffer rings of the kernel's 3D engine: the buffer's own locks, a
  // buffer kept mapped and idle-checked by its owner (pinned), and a buffer
  // whose busy check is switched off (always idle).
  uint32_t lockCount = 0;
  uint8_t pinned = 0;
  uint8_t busyCheckOff = 0;

 private:
  bool TakeCpuAddress();
  void GiveBackSurface();
};

class BmBufferPool : public OsHeapObject {
 public:
  struct CreateOptions {
    uint32_t bufferCount = 0;
    uint8_t keepEntries = 0;
    uint32_t reserve = 0;  // 32-bit words kept free at the end of every buffer
    BmBuffer_AllocOptions alloc = {};
    uint32_t word = 0;     // carried, unused
  };

  BmBufferPool(CommonData* common, uint32_t unit, const CreateOptions& options);
  virtual ~BmBufferPool();
  BmBufferPool(const BmBufferPool&) = delete;
  BmBufferPool& operator=(const BmBufferPool&) = delete;

  virtual bool Open();
  // The open count left; the last close frees the buffers.
  virtual uint32_t Close();
  virtual void SwitchToNewBuffer();

  // Room for words at the cursor, switching buffers when they would pass
  // the limit; the cursor moves past them. Null, with nothing moved or
  // switched, for more words than a fresh buffer holds below its limit.
  uint32_t* Reserve(uint32_t words) {
    if (!Fits(words) && !SwitchForRoom(words)) return nullptr;
    uint32_t* at = cursor;
    cursor += words;
    return at;
  }

  // Batch reservation: room for `words` at the cursor, switching buffers
  // when they would pass the limit exactly as Reserve does, but without
  // moving the cursor. The writer stores several packets from there
  // through a pointer of its own and hands Commit the pointer past the
  // last word it wrote (at most `words` on), so the pool's cursor is
  // stored once for the lot. Null as Reserve.
  uint32_t* Room(uint32_t words) { return Fits(words) || SwitchForRoom(words) ? cursor : nullptr; }
  void Commit(uint32_t* end) { cursor = end; }

  // Batch reservation of a run of `count` commands of `words` words each:
  // how many of them go at the cursor in one piece (all of them, or as many
  // as the buffer holds below its limit), after a switch to a new buffer
  // when not even one fits, as Reserve would make for the first of them; 0
  // when no buffer holds one. The cursor does not move: the writer stores
  // that many commands through a pointer of its own and commits once, and
  // they land where as many calls of Reserve would have put them, buffer
  // switches included. BmWriteRun below does all of it.
  uint32_t RunRoom(uint32_t count, uint32_t words) {
    if (words == 0) return count;
    if (!Fits(words) && !SwitchForRoom(words)) return 0;
    const size_t fit = static_cast<size_t>(limit - cursor) / words;
    return fit < count ? static_cast<uint32_t>(fit) : count;
  }
  // Words below the limit of the smallest buffer of the ring (any of them
  // may come next); 0 for a buffer the processor cannot write.
  uint32_t FreshRoom() const;
  bool Fits(uint32_t words) const { return static_cast<size_t>(limit - cursor) >= words; }

  CreateOptions options;
  uint32_t openCount = 0;
  uint32_t bufferCount = 0;
  CommonData* common;
  uint32_t unit;
  uint32_t totalSize = 0;
  BmBuffer* head = nullptr;
  uint32_t* cursor = nullptr;
  uint32_t* start = nullptr;
  uint32_t* limit = nullptr;
  uint32_t* beforeStart = nullptr;

 protected:
  // The slow path of a reservation that does not fit below the limit: a
  // switch to a new buffer, unless a fresh buffer could not hold the words
  // either; whether they fit at the cursor afterwards.
  bool SwitchForRoom(uint32_t words);
  bool AllocateBufferPool();
  void FreeBufferPool();
  // The next buffer not in use and not busy; waits for one (the kernel
  // module's wait is bounded and answers null when it ends).
  BmBuffer* FindNextBuffer();
  // Cursor, start and limit to the beginning of the head buffer.
  void ResetCursor();
};

// Create options of the primary interface for the board's DMA mode.
BmBufferPool::CreateOptions BmPrimaryOptions(uint32_t dmaMode, uint32_t busFlags,
                                             uint32_t debugFlags, uint32_t localMemorySize);

// Writes a run of `count` commands of `words` words each, write(at, i)
// storing command i at `at`: each piece of the run that fits in a buffer is
// written through a local cursor, with one check against the limit and one
// store of the pool's cursor, and every command lands where a call of
// Reserve per command would have put it, buffer switches included. Answers
// how many commands were written: fewer than `count` only when no buffer
// holds one (the rest is not written).
template <class Write>
uint32_t BmWriteRun(BmBufferPool* pool, uint32_t count, uint32_t words, Write&& write) {
  uint32_t done = 0;
  while (done < count) {
    const uint32_t fit = pool->RunRoom(count - done, words);
    if (fit == 0) break;
    uint32_t* at = pool->cursor;
    for (const uint32_t end = done + fit; done != end; ++done, at += words) write(at, done);
    pool->Commit(at);
  }
  return done;
}

// A batch of packets of different sizes written in a row through a cursor
// of its own: each Put checks its packet against a copy of the limit and,
// when the packet would pass it, hands the pool its cursor and reserves
// through Reserve, which switches buffers exactly where one Reserve per
// packet would. The pool's cursor is stored once, by Commit (the
// destructor commits too). While a batch is open nothing else writes to
// its pool: commit first.
class BmBatch {
 public:
  explicit BmBatch(BmBufferPool* pool) : pool_(pool), at_(pool->cursor), limit_(pool->limit) {}
  ~BmBatch() { Commit(); }
  BmBatch(const BmBatch&) = delete;
  BmBatch& operator=(const BmBatch&) = delete;

  // Room for a packet of `words`; null, with nothing moved, when no buffer
  // holds it.
  uint32_t* Put(uint32_t words) {
    if (static_cast<size_t>(limit_ - at_) < words) return PutAfterSwitch(words);
    uint32_t* at = at_;
    at_ += words;
    return at;
  }
  void Commit() { pool_->Commit(at_); }

 private:
  uint32_t* PutAfterSwitch(uint32_t words) {
    pool_->Commit(at_);
    uint32_t* at = pool_->Reserve(words);
    at_ = pool_->cursor;
    limit_ = pool_->limit;
    return at;
  }

  BmBufferPool* pool_;
  uint32_t* at_;
  uint32_t* limit_;
};
