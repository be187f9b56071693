// The glue's bookkeeping, which the services of kglue.h run over: the
// arena of bus addresses, blocks, failure injection, user memory, the
// parameter-name rule, the entry rules and the serving of interrupt lines.
#include "platform/kglue/glue_state.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <string_view>
#include <unordered_map>

#include <sanitizer/asan_interface.h>

#include "platform/board/chip_interrupts.h"

namespace kglue {

GlueState* g_state = nullptr;

void NoGlue() { Die("a glue service was called with no kglue::Glue installed"); }

namespace {

// The glue's per-thread words. The library is linked, never opened later,
// so they can live in the threads' static block: reached without a call of
// __tls_get_addr, which the sanitizers intercept, at every service the
// core calls.
#define ORV_GLUE_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))

ORV_GLUE_THREAD_LOCAL CallFrame* t_frame = nullptr;
ORV_GLUE_THREAD_LOCAL int t_fpuDepth = 0;

constexpr uint64_t kArenaPages = kArenaSize / kPageSize;
// Freed runs up to this many pages are cleared whole; of a longer run only
// the pages in memory are.
constexpr uint32_t kClearInPlacePages = 16;

uint32_t PagesFor(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kPageSize - 1) / kPageSize);
}

}  // namespace

void Die(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  fputs("kglue: ", stderr);
  vfprintf(stderr, format, arguments);
  fputc('\n', stderr);
  va_end(arguments);
  abort();
}

CallFrame* CurrentFrame() { return t_frame; }
int& FpuDepthOfThread() { return t_fpuDepth; }

EntryScope::EntryScope(const char* entry, File* file, uintptr_t record, size_t recordSize)
    : saved_(t_frame), fpuDepth_(t_fpuDepth) {
  frame_.file = file;
  frame_.record = record;
  frame_.recordSize = recordSize;
  frame_.entry = entry;
  t_frame = &frame_;
}

EntryScope::~EntryScope() {
  t_frame = saved_;
  // Each entry leaves the bracket as it found it.
  if (t_fpuDepth > fpuDepth_) {
    Die("%s returned with the floating-point bracket open (depth %d, %d at its call)", frame_.entry,
        t_fpuDepth, fpuDepth_);
  }
  if (t_fpuDepth < fpuDepth_) {
    Die("%s closed the floating-point bracket it was called in (depth %d, %d at its call)", frame_.entry,
        t_fpuDepth, fpuDepth_);
  }
}

// ---- GlueState ---------------------------------------------------------------------

GlueState::GlueState() {
  void* host = mmap(nullptr, kArenaSize, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (host == MAP_FAILED) Die("cannot reserve the %llu-byte arena", static_cast<unsigned long long>(kArenaSize));
  arenaHost = static_cast<uint8_t*>(host);
  // Only allocated bytes are addressable: a stray access of the core into
  // the arena is reported by the address sanitizer.
  ASAN_POISON_MEMORY_REGION(arenaHost, kArenaSize);
  // Room for more entries than a run of the core uses, so that a harness
  // that renews the glue between runs sees every run free what it allocated.
  freeRuns.reserve(256);
  blocks.reserve(256);
  ioctls.reserve(64);
  freeRuns[0] = kArenaPages;
  ResetModuleParameters();
}

GlueState::~GlueState() {
  for (auto& [bus, block] : blocks) delete block;
  blocks.clear();
  ASAN_UNPOISON_MEMORY_REGION(arenaHost, kArenaSize);
  munmap(arenaHost, kArenaSize);
}

bool GlueState::Attempt(AllocKind kind) {
  MaybeLock lock(*this, mu);
  ++attempts[static_cast<int>(AllocKind::kAny)];
  if (kind != AllocKind::kAny) ++attempts[static_cast<int>(kind)];
  if (failAt != 0 && (failKind == AllocKind::kAny || failKind == kind) &&
      attempts[static_cast<int>(failKind)] == failAt) {
    failAt = 0;
    ++failed;
    return false;
  }
  return true;
}

namespace {

// Zeroes the pages of [host, host + pages pages) that are in memory and
// leaves the rest alone; gives the whole range back to the system when the
// kernel cannot tell which pages are in memory.
void ClearTouchedPages(uint8_t* host, uint32_t pages) {
  constexpr uint32_t kChunk = 256;
  unsigned char resident[kChunk];
  for (uint32_t done = 0; done < pages; done += kChunk) {
    const uint32_t n = std::min(kChunk, pages - done);
    uint8_t* at = host + uint64_t{done} * kPageSize;
    if (mincore(at, uint64_t{n} * kPageSize, resident) != 0) {
      madvise(at, uint64_t{n} * kPageSize, MADV_DONTNEED);
      continue;
    }
    for (uint32_t i = 0; i < n; ++i) {
      if ((resident[i] & 1) != 0) memset(at + uint64_t{i} * kPageSize, 0, kPageSize);
    }
  }
}

}  // namespace

uint64_t GlueState::ArenaAllocate(uint32_t pages) {
  if (pages == 0) return 0;
  for (auto it = freeRuns.begin(); it != freeRuns.end(); ++it) {
    if (it->second < pages) continue;
    const uint64_t first = it->first;
    const uint64_t left = it->second - pages;
    if (left != 0) {
      // The rest of the run keeps its place in the order.
      it->first = first + pages;
      it->second = left;
    } else {
      freeRuns.erase(it);
    }
    const uint64_t bus = kArenaBusBase + first * kPageSize;
    uint8_t* host = ArenaHost(bus);
    // Zero already: never touched, or cleared when freed.
    // Touching them here would fault in every page of a large buffer.
    ASAN_UNPOISON_MEMORY_REGION(host, uint64_t{pages} * kPageSize);
    bytesInUse += uint64_t{pages} * kPageSize;
    return bus;
  }
  return 0;
}

void GlueState::ArenaRelease(uint64_t bus, uint32_t pages) {
  const uint64_t first = (bus - kArenaBusBase) / kPageSize;
  uint8_t* host = ArenaHost(bus);
  // Freed pages read as zero when taken again. They are cleared where they
  // are, which is cheaper than giving them back and faulting them in again
  // on the next use.
  const uint64_t bytes = uint64_t{pages} * kPageSize;
  ASAN_UNPOISON_MEMORY_REGION(host, bytes);
  if (pages <= kClearInPlacePages) {
    memset(host, 0, bytes);
  } else {
    // Of a larger run only the pages that were touched are cleared in
    // place; the others were never faulted in and read as zero already.
    ClearTouchedPages(host, pages);
  }
  ASAN_POISON_MEMORY_REGION(host, bytes);
  bytesInUse -= uint64_t{pages} * kPageSize;
  uint64_t start = first;
  uint64_t count = pages;
  auto next = freeRuns.lower_bound(first);
  if (next != freeRuns.end() && next->first == first + count) {
    count += next->second;
    next = freeRuns.erase(next);
  }
  if (next != freeRuns.begin()) {
    auto previous = std::prev(next);
    if (previous->first + previous->second == start) {
      start = previous->first;
      count += previous->second;
      freeRuns.erase(previous);
    }
  }
  freeRuns[start] = count;
}

OrvRegion* GlueState::NewBlock(OrvRegion::Kind kind, OrvDevice* device, uint32_t size,
                               AllocKind what) {
  if (size == 0 || !Attempt(what)) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(mu);
  const uint32_t pages = PagesFor(size);
  const uint64_t bus = ArenaAllocate(pages);
  if (bus == 0) return nullptr;
  auto* block = new OrvRegion;
  block->kind = kind;
  block->device = device;
  block->size = size;
  block->pages = pages;
  block->bus = bus;
  block->cpu = ArenaHost(bus);
  // Bytes past the size asked for stay unaddressable.
  ASAN_POISON_MEMORY_REGION(block->cpu + size, uint64_t{pages} * kPageSize - size);
  blocks[bus] = block;
  return block;
}

void GlueState::FreeBlock(OrvRegion* block) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  if (block->maps != 0) {
    if (!block->freed) ++freedWhileMapped;
    block->freed = true;
    return;
  }
  blocks.erase(block->bus);
  ArenaRelease(block->bus, block->pages);
  delete block;
}

OrvRegion* GlueState::FindBlock(uint64_t bus, uint64_t length) const {
  if (length == 0 || bus < kArenaBusBase || bus - kArenaBusBase >= kArenaSize) return nullptr;
  auto it = blocks.upper_bound(bus);
  if (it == blocks.begin()) return nullptr;
  OrvRegion* block = std::prev(it)->second;
  const uint64_t end = block->bus + uint64_t{block->pages} * kPageSize;
  if (bus + length > end || bus + length < bus || block->freed) return nullptr;
  return block;
}

bool GlueState::IsLiveBlock(const OrvRegion* block) const {
  if (block == nullptr) return false;
  for (const auto& device : devices) {
    if (block == &device->registerRange || block == &device->frameBufferRange) return true;
  }
  auto it = blocks.find(block->bus);
  return it != blocks.end() && it->second == block && !block->freed;
}

void GlueState::Misuse(std::string what) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  if (echo) fprintf(stderr, "kglue: misuse: %s\n", what.c_str());
  misuses.push_back(std::move(what));
}

OrvModuleParameter* GlueState::FindParameter(const char* name) const {
  if (name == nullptr) return nullptr;
  // The table's names never change: indexed once (every switch of every
  // device object is looked up by name).
  static const std::unordered_map<std::string_view, OrvModuleParameter*> index = [] {
    std::unordered_map<std::string_view, OrvModuleParameter*> byName;
    for (OrvModuleParameter* p = g_aoOrvModKstrnParms; p->name != nullptr; ++p) byName.emplace(p->name, p);
    return byName;
  }();
  const auto it = index.find(name);
  return it != index.end() ? it->second : nullptr;
}

bool GlueState::IsUserMemory(uint32_t processId, const CallFrame* frame, uintptr_t begin,
                             size_t size, bool forWrite) {
  if (size == 0) return true;
  if (begin + size < begin) return false;
  const uintptr_t end = begin + size;
  std::lock_guard<std::recursive_mutex> lock(mu);
  for (const auto& [at, length] : faulty) {
    if (begin < at + length && at < end) return false;
  }
  if (forWrite) {
    for (const auto& [at, length] : readOnly) {
      if (begin < at + length && at < end) return false;
    }
  }
  auto inside = [&](uintptr_t b, size_t n) { return begin >= b && end <= b + n; };
  if (frame != nullptr && frame->recordSize != 0 && inside(frame->record, frame->recordSize))
    return true;
  for (const auto& file : files) {
    if (file->context.processId != processId) continue;
    for (const UserMapping& m : file->mappings) {
      if (inside(reinterpret_cast<uintptr_t>(m.host), m.length)) return true;
    }
  }
  for (const UserRange& r : declared) {
    if (r.processId == processId && inside(r.begin, r.size)) return true;
  }
  return false;
}

void GlueState::AddLog(int level, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  if (echo) fprintf(stderr, "%s", text.c_str());
  log.push_back(LogLine{level, text});
}

// The prefix rule of the driver's named parameters.
void ParameterNameInto(const char* section, const char* key, char (&name)[kParameterNameRoom]) {
  const char first = section != nullptr ? section[0] : 'D';
  const char* prefix = "";
  if (first == '3' || first == 'O') {
    prefix = "reg3D";
  } else if (first == 'D') {
    prefix = "sw";
  } else if (first == 'S') {
    prefix = "regSys";
  }
  size_t length = 0;
  for (const char* p = prefix; *p != '\0' && length < kParameterNameRoom - 1; ++p) name[length++] = *p;
  if (key != nullptr)
    for (const char* p = key; *p != '\0' && length < kParameterNameRoom - 1; ++p) name[length++] = *p;
  name[length] = '\0';
}

std::string ParameterName(const char* section, const char* key) {
  char name[kParameterNameRoom];
  ParameterNameInto(section, key, name);
  return name;
}

// ---- Interrupts ----------------------------------------------------------------------

namespace {

// At most this many rounds of service per line in one delivery: an engine
// that raises its interrupt again at every resume is served that often, and
// the rest waits for the next delivery.
constexpr int kMaxServiceRounds = 1024;
ORV_GLUE_THREAD_LOCAL bool t_delivering = false;
ORV_GLUE_THREAD_LOCAL bool t_interruptThread = false;

}  // namespace

bool DeliverInterruptsNow(GlueState& s, bool fromSchedule) {
  if (t_delivering || !s.loaded) return false;
  // With a second thread serving, the core's own thread never does.
  if (s.concurrent && !t_interruptThread) return false;
  (void)fromSchedule;
  t_delivering = true;
  bool delivered = false;
  for (const auto& device : s.devices) {
    if (device->kernel == nullptr || device->interrupts == nullptr) continue;
    auto lineUp = [&] {
      MaybeLock lock(s, s.machine);
      device->interrupts->Tick();
      return device->interrupts->LineUp();
    };
    auto acknowledgements = [&] {
      MaybeLock lock(s, s.machine);
      return device->interrupts->Acknowledgements();
    };
    for (int rounds = 0; rounds < kMaxServiceRounds && lineUp(); ++rounds) {
      delivered = true;
      ++s.interruptsDelivered;
      const uint64_t acknowledged = acknowledgements();
      int wantsDeferred;
      {
        EntryScope scope("CollectInterrupts", nullptr);
        wantsDeferred = s.driver->CollectInterrupts(device->kernel);
      }
      if (wantsDeferred == 1) {
        EntryScope scope("RunDeferredInterruptWork", nullptr);
        s.driver->RunDeferredInterruptWork(device->kernel);
      }
      // A service that acknowledged nothing leaves the line up for ever.
      if (acknowledgements() == acknowledged && lineUp()) {
        s.Misuse("an interrupt line stays up after its service");
        break;
      }
    }
  }
  t_delivering = false;
  return delivered;
}

void MarkInterruptThread() { t_interruptThread = true; }

void GlueState::Mutate() {
  if (!mutator || mutating || mutatorThread.joinable()) return;
  mutating = true;
  mutator();
  mutating = false;
}

}  // namespace kglue
