// Internal state of the kernel glue stand-in, shared by its source files.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/board/pci_function.h"
#include "platform/kglue/glue.h"

namespace orvsim {
class Board;
}

// An ordered map over one sorted array. The glue's tables of live blocks,
// free arena runs and registered requests change at every region, page
// block and load of the core; a tree would allocate a node each time, which
// under the sanitizers costs as much as an allocation of the core, while
// the array keeps its storage and holds a few dozen entries.
template <class K, class V>
class FlatMap {
 public:
  using value_type = std::pair<K, V>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  void clear() { items_.clear(); }
  void reserve(size_t count) { items_.reserve(count); }

  iterator lower_bound(const K& key) {
    return std::lower_bound(begin(), end(), key, KeyBefore);
  }
  const_iterator lower_bound(const K& key) const {
    return std::lower_bound(begin(), end(), key, KeyBefore);
  }
  iterator upper_bound(const K& key) { return std::upper_bound(begin(), end(), key, BeforeKey); }
  const_iterator upper_bound(const K& key) const {
    return std::upper_bound(begin(), end(), key, BeforeKey);
  }
  iterator find(const K& key) {
    auto it = lower_bound(key);
    return it != end() && it->first == key ? it : end();
  }
  const_iterator find(const K& key) const {
    auto it = lower_bound(key);
    return it != end() && it->first == key ? it : end();
  }
  V& operator[](const K& key) {
    auto it = lower_bound(key);
    if (it == end() || it->first != key) it = items_.insert(it, value_type{key, V{}});
    return it->second;
  }
  iterator erase(const_iterator it) { return items_.erase(it); }
  size_t erase(const K& key) {
    auto it = find(key);
    if (it == end()) return 0;
    items_.erase(it);
    return 1;
  }

 private:
  static bool KeyBefore(const value_type& entry, const K& key) { return entry.first < key; }
  static bool BeforeKey(const K& key, const value_type& entry) { return key < entry.first; }

  std::vector<value_type> items_;
};

// ---- The glue's handles ----------------------------------------------------------

struct OrvPciDevice {
  orvsim::PciLocation at;
};

// A region, or locked pages, or one of a board's physical ranges. Regions
// and pages live in the arena; their handles stay valid until freed.
struct OrvRegion {
  enum class Kind : uint8_t { kRegion, kPages, kDeviceRange };
  Kind kind = Kind::kRegion;
  OrvDevice* device = nullptr;
  kglue::File* owner = nullptr;  // pages allocated by request 0x01
  uint32_t type = 0;
  uint32_t flags = 0;
  uint32_t size = 0;   // bytes asked for
  uint32_t pages = 0;  // arena pages held
  uint64_t bus = 0;    // bus address (arena) or physical base (device range)
  uint8_t* cpu = nullptr;
  int refs = 0;
  unsigned maps = 0;   // user mappings of any part of it
  bool freed = false;  // freed while mapped: released at the last unmap

  bool UserMappable() const {
    return kind == Kind::kPages || (kind == Kind::kRegion && (flags & kOrvRegionShared));
  }
};

// What memReadDword and memWriteDword take. The magic word catches a handle
// that is not one.
struct RegisterHandle {
  static constexpr uint32_t kMagic = 0x52454748;  // "REGH"
  uint32_t magic = kMagic;
  orvsim::Board* board = nullptr;
};

struct OrvContext {
  OrvDevice* device = nullptr;
  kglue::File* file = nullptr;  // null for a device's own context
  KernelClient* client = nullptr;
  uint32_t processId = 0;
};

struct OrvDevice {
  orvsim::Board* board = nullptr;
  orvsim::InterruptController* interrupts = nullptr;
  uint32_t minor = 0;
  uint32_t bmFlags = 0;
  OrvPciDevice pci;
  RegisterHandle registers;
  OrvRegion registerRange;
  OrvRegion frameBufferRange;
  OrvContext own;
  KernelDevice* kernel = nullptr;
};

namespace kglue {

struct UserMapping {
  uint8_t* host;
  size_t length;
  OrvRegion* block;  // null for a board's physical range
};

struct File {
  OrvContext context;
  std::vector<UserMapping> mappings;
  bool closed = false;    // descriptor closed; released at the last unmap
  bool released = false;  // ReleaseClient ran
};

// The request being served on this thread: whose process, and which record
// counts as its user memory.
struct CallFrame {
  File* file = nullptr;
  uintptr_t record = 0;
  size_t recordSize = 0;
  const char* entry = "";
};

struct KernelMapping {
  uint8_t* cpu;
  uint32_t size;
  OrvDevice* device;
};

struct UserRange {
  uint32_t processId;
  uintptr_t begin;
  size_t size;
};

class GlueState {
 public:
  GlueState();
  ~GlueState();

  // ---- Bookkeeping lock: every table below. Register accesses take the
  // machine lock (the board model is single-threaded).
  std::recursive_mutex mu;
  std::recursive_mutex machine;
  // DMA engines the glue serves: their system memory is the arena, and each
  // yield of the core (OsSchedule) gives each one step of latency.
  std::vector<orvsim::DmaEngine*> engines;

  // ---- Machine
  uint32_t cpuCount = 1;
  std::vector<std::unique_ptr<OrvDevice>> devices;

  // ---- Module
  const OrvKstrnDriver* driver = nullptr;
  bool loaded = false;
  void* moduleFile = nullptr;  // dlopen handle of OpenModule's file

  // ---- Files
  std::vector<std::unique_ptr<File>> files;

  // ---- Allocator
  // Every block of memAlloc carries this header in front of it, on a list of
  // the live blocks.
  struct BlockHeader {
    static constexpr uint64_t kLive = 0x4B474C55454C4956;  // "KGLUELIV"
    static constexpr uint64_t kFreed = 0x4B474C5546524545;
    uint64_t magic;
    BlockHeader* previous;
    BlockHeader* next;
    size_t size;
    const char* file;
    int line;
  };
  static constexpr size_t kHeaderSize = (sizeof(BlockHeader) + 15) / 16 * 16;
  BlockHeader liveBlocks{0, &liveBlocks, &liveBlocks, 0, nullptr, 0};
  size_t liveCount = 0;
  // Register accesses and allocations lock only while a second thread runs.
  bool concurrent = false;
  uint64_t attempts[5] = {};  // by AllocKind
  uint64_t failAt = 0;        // attempt number (of failKind) that fails; 0 none
  AllocKind failKind = AllocKind::kAny;
  uint64_t failed = 0;
  // Counts one attempt of a kind; false when this one is to fail.
  bool Attempt(AllocKind kind);

  // ---- Arena
  uint8_t* arenaHost = nullptr;
  FlatMap<uint64_t, uint64_t> freeRuns;    // first page -> page count
  FlatMap<uint64_t, OrvRegion*> blocks;    // bus address -> live block
  uint64_t bytesInUse = 0;
  uint64_t freedWhileMapped = 0;
  // Bus address of `pages` zeroed pages, or 0 when the arena is full.
  uint64_t ArenaAllocate(uint32_t pages);
  void ArenaRelease(uint64_t bus, uint32_t pages);
  uint8_t* ArenaHost(uint64_t bus) const { return arenaHost + (bus - kArenaBusBase); }
  // New region or pages block; null when the arena or the injection refuses.
  OrvRegion* NewBlock(OrvRegion::Kind kind, OrvDevice* device, uint32_t size, AllocKind what);
  // Gives the block back, or keeps it until its last user mapping goes.
  void FreeBlock(OrvRegion* block);
  // The live block that holds [bus, bus + length), or null (a block freed
  // while mapped is no longer live).
  OrvRegion* FindBlock(uint64_t bus, uint64_t length) const;
  bool IsLiveBlock(const OrvRegion* block) const;

  std::vector<KernelMapping> kernelMappings;
  std::vector<std::string> misuses;
  void Misuse(std::string what);

  // ---- Ioctls and parameters
  FlatMap<uint32_t, IoctlRegistration> ioctls;
  std::vector<IoctlTableCall> ioctlCalls;
  OrvModuleParameter* parameters = nullptr;  // as handed over by the core
  int parameterTableCalls = 0;
  // The entry of the module's table by full name, given or not; null when
  // the module has no such parameter.
  OrvModuleParameter* FindParameter(const char* name) const;

  // ---- User memory
  std::vector<UserRange> declared;
  std::vector<std::pair<uintptr_t, size_t>> faulty;
  std::vector<std::pair<uintptr_t, size_t>> readOnly;
  // Whether the process may read (or, with forWrite, write) every byte of
  // the range.
  bool IsUserMemory(uint32_t processId, const CallFrame* frame, uintptr_t begin,
                    size_t size, bool forWrite);

  // ---- User-memory mutator: run at services the core calls in a request
  // (never inside itself), or on a thread of its own.
  std::function<void()> mutator;
  std::atomic<bool> mutating{false};
  std::thread mutatorThread;
  std::atomic<bool> stopMutator{false};
  void Mutate();

  // ---- Interrupts
  std::thread interruptThread;
  std::atomic<bool> stopInterrupts{false};
  std::atomic<uint64_t> interruptsDelivered{0};

  // ---- Time and log
  uint64_t scheduleCostNs = 1000;
  std::atomic<uint64_t> schedules{0};
  std::vector<LogLine> log;
  bool echo = false;
  void AddLog(int level, const std::string& text);
};

// Locks the machine, or the bookkeeping, only while a second thread runs.
class MaybeLock {
 public:
  MaybeLock(GlueState& s, std::recursive_mutex& mutex) : mutex_(s.concurrent ? &mutex : nullptr) {
    if (mutex_ != nullptr) mutex_->lock();
  }
  ~MaybeLock() {
    if (mutex_ != nullptr) mutex_->unlock();
  }
  MaybeLock(const MaybeLock&) = delete;
  MaybeLock& operator=(const MaybeLock&) = delete;

 private:
  std::recursive_mutex* mutex_;
};

// The installed glue's state, kept where every service reaches it at once;
// State() dies with a message when there is none.
extern GlueState* g_state;
[[noreturn]] void NoGlue();
inline GlueState& State() {
  if (g_state == nullptr) [[unlikely]]
    NoGlue();
  return *g_state;
}

// Prints "kglue: <message>" and aborts: a fault of the code under test.
[[noreturn]] void Die(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The request served on this thread, or null outside requests.
CallFrame* CurrentFrame();

// Runs an entry point of the core under the glue's rules: the call frame is
// set for user copies and the process id, and the floating-point bracket
// must be closed when it returns.
class EntryScope {
 public:
  EntryScope(const char* entry, File* file, uintptr_t record = 0, size_t recordSize = 0);
  ~EntryScope();
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;

 private:
  CallFrame frame_;
  CallFrame* saved_;
  // The bracket's depth when the entry was called: an interrupt served
  // while a request of the core holds the bracket finds it open.
  int fpuDepth_;
};

int& FpuDepthOfThread();

// Serves the interrupt lines of the boards (Glue::DeliverInterrupts), unless
// this thread is delivering already or a second thread does it.
bool DeliverInterruptsNow(GlueState& s, bool fromSchedule);
// This thread is the second thread that serves the lines.
void MarkInterruptThread();

// Every service of kglue.h by its address in the glue: what the symbols a
// module leaves undefined must resolve to.
const std::vector<const void*>& ServiceAddresses();

// The request-name rule of the module parameters (shared with request 0x03).
std::string ParameterName(const char* section, const char* key);
// The same into a buffer of the longest name and its terminator, without
// allocating (the core looks switches up by the hundred at every enable).
inline constexpr size_t kParameterNameRoom = 50;
void ParameterNameInto(const char* section, const char* key, char (&name)[kParameterNameRoom]);

// The module's parameters as at load: none given but regSysBmDebugFlags (0).
void ResetModuleParameters();

}  // namespace kglue
