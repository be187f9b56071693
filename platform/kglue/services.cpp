// The glue operations the kernel core calls (kglue.h), over the installed
// kglue::Glue and the simulated machine.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>

#include "platform/board/board.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue_state.h"
#include "platform/kglue/kglue.h"

using kglue::AllocKind;
using kglue::CurrentFrame;
using kglue::Die;
using kglue::GlueState;
using kglue::State;

namespace {

void CheckRegion(GlueState& s, const OrvRegion* region, const char* service) {
  if (!s.IsLiveBlock(region)) Die("%s(%p): not a live region", service, region);
}

const RegisterHandle* Handle(const volatile void* handle, const char* service) {
  auto* h = static_cast<const RegisterHandle*>(const_cast<const void*>(handle));
  if (h == nullptr || h->magic != RegisterHandle::kMagic)
    Die("%s(%p): not a register handle", service, handle);
  return h;
}

// Refreshes a board range from its base address register now.
OrvRegion* DeviceRange(OrvDevice* device, orvsim::ResourceKind kind) {
  OrvRegion& range =
      kind == orvsim::ResourceKind::kRegisters ? device->registerRange : device->frameBufferRange;
  if (auto bar = device->board->Bar(kind)) {
    range.bus = bar->base;
    range.size = static_cast<uint32_t>(std::min<uint64_t>(bar->size, UINT32_MAX));
  }
  return &range;
}

std::string Format(const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  char small[256];
  const int length = vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (length < 0) return std::string();
  if (static_cast<size_t>(length) < sizeof(small)) return std::string(small, length);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(text.data(), text.size(), format, arguments);
  text.resize(static_cast<size_t>(length));
  return text;
}

uint32_t CurrentProcess() {
  const kglue::CallFrame* frame = CurrentFrame();
  return frame != nullptr && frame->file != nullptr ? frame->file->context.processId : 0;
}

// A request of a process is running: the test's mutator may rewrite what
// the process maps.
void MaybeMutate() {
  if (CurrentProcess() != 0) State().Mutate();
}

}  // namespace

// ---- Device, context and PCI -----------------------------------------------------------

KernelClient* OrvContext_GetPrivate(OrvContext* context) {
  return context != nullptr ? context->client : nullptr;
}

OrvPciDevice* OrvDevice_GetPciHandle(OrvDevice* device) { return &device->pci; }

OrvRegion* OrvDevice_GetRegisters(OrvDevice* device) {
  return DeviceRange(device, orvsim::ResourceKind::kRegisters);
}

OrvRegion* OrvDevice_GetFrameBuffer(OrvDevice* device) {
  return DeviceRange(device, orvsim::ResourceKind::kMemory);
}

uint32_t OrvDevice_GetBmFlags(OrvDevice* device) { return device->bmFlags; }

void OrvDevice_GetLocalMemory(OrvDevice* device, uint32_t* partition0, uint32_t* partition1) {
  if (partition0 != nullptr) *partition0 = static_cast<uint32_t>(device->board->Partition0Size());
  if (partition1 != nullptr) *partition1 = static_cast<uint32_t>(device->board->Partition1Size());
}

void* OrvDevice_GetRegisterHandle(OrvDevice* device) {
  return device != nullptr ? &device->registers : nullptr;
}

OrvPciDevice* OrvPciDevice_GetHostHandle() {
  static OrvPciDevice host{orvsim::PciLocation{0, 0, 0}};
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  return sim != nullptr && sim->HostBridge() != nullptr ? &host : nullptr;
}

int ClientPciConfigReadDword(OrvPciDevice* pci, uint32_t offset, uint32_t* out) {
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  if (pci == nullptr || sim == nullptr || out == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(State().machine);
  *out = sim->Pci().ConfigRead(pci->at, offset, 4);
  return 0;
}

// ---- Regions -------------------------------------------------------------------------------

OrvRegion* OrvRegion_Alloc(OrvContext* pool, uint32_t size, uint32_t type, uint32_t flags,
                           uint32_t) {
  GlueState& s = State();
  if (pool == nullptr || pool->device == nullptr) Die("OrvRegion_Alloc without a pool");
  if (type != kOrvRegionLocked && type != kOrvRegionPlain) {
    s.Misuse("OrvRegion_Alloc of type " + std::to_string(type));
    return nullptr;
  }
  OrvRegion* region = s.NewBlock(OrvRegion::Kind::kRegion, pool->device, size, AllocKind::kRegion);
  if (region == nullptr) return nullptr;
  region->type = type;
  region->flags = flags;
  return region;
}

void* OrvRegion_GetLinear(OrvRegion* region) {
  CheckRegion(State(), region, "OrvRegion_GetLinear");
  return region->cpu;
}

uint64_t OrvRegion_GetPhys(OrvRegion* region) {
  CheckRegion(State(), region, "OrvRegion_GetPhys");
  return region->bus;
}

uint32_t OrvRegion_GetSize(OrvRegion* region) {
  CheckRegion(State(), region, "OrvRegion_GetSize");
  return region->size;
}

OrvRegion* OrvRegion_FindFromVirtual(OrvDevice* device, const void* linear) {
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  if (linear == nullptr) return nullptr;
  for (const auto& [bus, block] : s.blocks) {
    if (block->kind == OrvRegion::Kind::kRegion && block->device == device &&
        block->cpu == linear && !block->freed) {
      return block;
    }
  }
  return nullptr;
}

int OrvContext_OwnsLockedPages(OrvContext* context, uint64_t bus, uint64_t size) {
  if (context == nullptr || context->file == nullptr) return 0;
  const uint64_t end = bus + size;
  if (end < bus) return 0;
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  auto it = s.blocks.upper_bound(bus);
  if (it == s.blocks.begin()) return 0;
  const OrvRegion* block = std::prev(it)->second;
  if (block->kind != OrvRegion::Kind::kPages || block->owner != context->file || block->freed)
    return 0;
  return end <= block->bus + block->size ? 1 : 0;
}

void OrvRegion_IncrementRefCount(OrvRegion* region) {
  GlueState& s = State();
  CheckRegion(s, region, "OrvRegion_IncrementRefCount");
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  ++region->refs;
}

void OrvRegion_DecrementRefCount(OrvRegion* region) {
  GlueState& s = State();
  CheckRegion(s, region, "OrvRegion_DecrementRefCount");
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  if (region->refs == 0) {
    s.Misuse("reference count of a region dropped below 0");
    return;
  }
  --region->refs;
}

int OrvRegion_DecrementRefCountAndTest(OrvRegion* region) {
  GlueState& s = State();
  CheckRegion(s, region, "OrvRegion_DecrementRefCountAndTest");
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  if (region->refs == 0) {
    s.Misuse("reference count of a region dropped below 0");
    return 1;
  }
  return --region->refs == 0 ? 1 : 0;
}

void OrvRegion_Free(OrvContext* pool, OrvRegion* region) {
  GlueState& s = State();
  CheckRegion(s, region, "OrvRegion_Free");
  if (region->kind != OrvRegion::Kind::kRegion) Die("OrvRegion_Free of something not a region");
  if (pool == nullptr || pool->device != region->device)
    s.Misuse("OrvRegion_Free from another device's pool");
  if (region->refs != 0)
    s.Misuse("region of " + std::to_string(region->size) + " bytes freed with " +
             std::to_string(region->refs) + " references");
  s.FreeBlock(region);
}

// ---- Ioctls and parameters ------------------------------------------------------------

int OrvIoctl_Register(uint32_t code, OrvIoctlHandler handler, int kind, int a, int b) {
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  s.ioctlCalls.push_back(kglue::IoctlTableCall{true, code, kind, a, b});
  if (handler == nullptr) return -22;
  for (const auto& [registered, entry] : s.ioctls) {
    if ((registered & 0xFF) == (code & 0xFF)) return -16;
  }
  s.ioctls[code] = kglue::IoctlRegistration{code, handler, kind, a, b};
  return 0;
}

void OrvIoctl_UnRegister(uint32_t code) {
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  s.ioctlCalls.push_back(kglue::IoctlTableCall{false, code, 0, 0, 0});
  if (s.ioctls.erase(code) == 0) s.Misuse("OrvIoctl_UnRegister of an unregistered code");
}

void OrvParm_InitLut(int, OrvModuleParameter* table) {
  GlueState& s = State();
  ++s.parameterTableCalls;
  s.parameters = table;
}

void* OrvKstrnParameterLookup(const char* section, const char* key) {
  GlueState& s = State();
  if (s.parameters == nullptr) return nullptr;  // not handed over yet
  char name[kglue::kParameterNameRoom];
  kglue::ParameterNameInto(section, key, name);
  OrvModuleParameter* p = s.FindParameter(name);
  return p != nullptr && p->given ? &p->value : nullptr;
}

// ---- User memory ----------------------------------------------------------------------

namespace {

// Copies when every byte of the user range is the calling process's memory
// (and writable, for a copy to user space);
// else copies nothing and answers how many bytes were not copied.
int CopyUser(void* destination, const void* source, const void* user, size_t size, bool toUser) {
  if (!State().IsUserMemory(CurrentProcess(), CurrentFrame(), reinterpret_cast<uintptr_t>(user),
                            size, toUser)) {
    return static_cast<int>(std::min<size_t>(size, INT32_MAX));
  }
  if (size != 0) memcpy(destination, source, size);
  return 0;
}

}  // namespace

int ClientCopyFromUserSpace(void* kernel, const void* user, size_t size) {
  MaybeMutate();
  return CopyUser(kernel, user, user, size, false);
}

int ClientCopyToUserSpace(void* user, const void* kernel, size_t size) {
  MaybeMutate();
  return CopyUser(user, kernel, user, size, true);
}

// ---- Memory ------------------------------------------------------------------------------

void* memAlloc(size_t size) {
  MaybeMutate();
  return memFileAlloc(size, nullptr, 0);
}

void* LocMemSet(void* destination, int value, size_t size) {
  return size != 0 ? memset(destination, value, size) : destination;
}

void* LocMemCpy(void* destination, const void* source, size_t size) {
  return size != 0 ? memmove(destination, source, size) : destination;
}

void* memFileAlloc(size_t size, const char* file, int line) {
  GlueState& s = State();
  if (!s.Attempt(AllocKind::kMemory)) return nullptr;
  if (size > SIZE_MAX - GlueState::kHeaderSize) return nullptr;
  auto* header = static_cast<GlueState::BlockHeader*>(calloc(1, GlueState::kHeaderSize + size));
  if (header == nullptr) return nullptr;
  header->magic = GlueState::BlockHeader::kLive;
  header->size = size;
  header->file = file;
  header->line = line;
  kglue::MaybeLock lock(s, s.mu);
  header->previous = s.liveBlocks.previous;
  header->next = &s.liveBlocks;
  s.liveBlocks.previous->next = header;
  s.liveBlocks.previous = header;
  ++s.liveCount;
  return reinterpret_cast<uint8_t*>(header) + GlueState::kHeaderSize;
}

bool memFree(void* address) {
  if (address == nullptr) return true;
  GlueState& s = State();
  auto* header = reinterpret_cast<GlueState::BlockHeader*>(static_cast<uint8_t*>(address) -
                                                           GlueState::kHeaderSize);
  if (header->magic != GlueState::BlockHeader::kLive)
    Die("memFree(%p): not a live block of memAlloc (freed twice, or never allocated here)",
        address);
  {
    kglue::MaybeLock lock(s, s.mu);
    header->previous->next = header->next;
    header->next->previous = header->previous;
    --s.liveCount;
  }
  header->magic = GlueState::BlockHeader::kFreed;
  free(header);
  return true;
}

// ---- Registers ------------------------------------------------------------------------------

void memReadDword(const volatile void* handle, uint32_t offset, uint32_t* out) {
  const RegisterHandle* h = Handle(handle, "memReadDword");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  *out = h->board->RegRead(offset, 4);
}

void memReadWord(const volatile void* handle, uint32_t offset, uint16_t* out) {
  const RegisterHandle* h = Handle(handle, "memReadWord");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  *out = static_cast<uint16_t>(h->board->RegRead(offset, 2));
}

void memReadByte(const volatile void* handle, uint32_t offset, uint8_t* out) {
  const RegisterHandle* h = Handle(handle, "memReadByte");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  *out = static_cast<uint8_t>(h->board->RegRead(offset, 1));
}

void memWriteDword(volatile void* handle, uint32_t offset, uint32_t value) {
  const RegisterHandle* h = Handle(handle, "memWriteDword");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  h->board->RegWrite(offset, 4, value);
}

void memWriteWord(volatile void* handle, uint32_t offset, uint16_t value) {
  const RegisterHandle* h = Handle(handle, "memWriteWord");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  h->board->RegWrite(offset, 2, value);
}

void memWriteByte(volatile void* handle, uint32_t offset, uint8_t value) {
  const RegisterHandle* h = Handle(handle, "memWriteByte");
  GlueState& s = State();
  kglue::MaybeLock lock(s, s.machine);
  h->board->RegWrite(offset, 1, value);
}

// ---- Locked pages and mappings -----------------------------------------------------------

uint64_t OsAllocLockedPages(OrvDevice* device, uint32_t pageCount, uint32_t agp,
                            uint32_t locked, void** cpu) {
  GlueState& s = State();
  if (device == nullptr || pageCount == 0 || pageCount > kglue::kArenaSize / kglue::kPageSize)
    return 0;
  OrvRegion* block = s.NewBlock(OrvRegion::Kind::kPages, device, pageCount * kglue::kPageSize,
                                AllocKind::kLockedPages);
  if (block == nullptr) return 0;
  block->type = agp != 0 ? 2 : (locked != 0 ? 1 : 3);
  if (cpu != nullptr) *cpu = block->cpu;
  return block->bus;
}

int OsFreeLockedPages(OrvDevice* device, uint64_t bus, void* cpu, uint32_t pageCount) {
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  auto it = s.blocks.find(bus);
  OrvRegion* block = it != s.blocks.end() ? it->second : nullptr;
  if (block == nullptr || block->freed || block->kind != OrvRegion::Kind::kPages ||
      block->owner != nullptr || block->device != device || block->cpu != cpu ||
      block->pages != pageCount) {
    s.Misuse("OsFreeLockedPages of pages it never gave out");
    return 0;
  }
  s.FreeBlock(block);
  return 1;
}

void* OsMapPhysicalMemory(OrvDevice* device, uint64_t bus, uint32_t size) {
  GlueState& s = State();
  if (device == nullptr || size == 0 || !s.Attempt(AllocKind::kMapping)) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  uint8_t* cpu = nullptr;
  if (OrvRegion* block = s.FindBlock(bus, size)) {
    cpu = block->cpu + (bus - block->bus);
  } else if (orvsim::Simulation* sim = orvsim::Simulation::Current()) {
    orvsim::PhysTarget target;
    if (sim->Phys().Resolve(bus, size, &target)) cpu = target.host;
  }
  if (cpu != nullptr) s.kernelMappings.push_back(kglue::KernelMapping{cpu, size, device});
  return cpu;
}

void OsUnmapMemory(OrvDevice* device, void* cpu, uint32_t size) {
  GlueState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  auto it = std::find_if(s.kernelMappings.begin(), s.kernelMappings.end(),
                         [&](const kglue::KernelMapping& m) {
                           return m.cpu == cpu && m.size == size && m.device == device;
                         });
  if (it == s.kernelMappings.end()) {
    s.Misuse("OsUnmapMemory of a range it never mapped");
    return;
  }
  s.kernelMappings.erase(it);
}

uint32_t OsGetPageSize() { return kglue::kPageSize; }

// ---- Processor services ---------------------------------------------------------------------

int32_t OsInterlockedExchange(volatile int32_t* word, int32_t value) {
  return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

int32_t OsInterlockedIncrement(volatile int32_t* word) {
  return __atomic_add_fetch(word, 1, __ATOMIC_SEQ_CST);
}

int32_t OsInterlockedDecrement(volatile int32_t* word) {
  return __atomic_sub_fetch(word, 1, __ATOMIC_SEQ_CST);
}

void OsEnterFPUMode() { ++kglue::FpuDepthOfThread(); }

void OsExitFPUMode() {
  int& depth = kglue::FpuDepthOfThread();
  if (depth == 0) Die("OsExitFPUMode without OsEnterFPUMode");
  --depth;
}

void OsSchedule() {
  // A kernel may not give the processor away inside the bracket: the
  // floating-point state the bracket holds is not saved for it.
  const int depth = kglue::FpuDepthOfThread();
  if (depth != 0) Die("OsSchedule inside the floating-point bracket (depth %d)", depth);
  MaybeMutate();
  GlueState& s = State();
  ++s.schedules;
  if (orvsim::Simulation* sim = orvsim::Simulation::Current()) {
    kglue::MaybeLock lock(s, s.machine);
    sim->GetClock().Advance(s.scheduleCostNs);
    for (orvsim::DmaEngine* engine : s.engines) engine->Step();
  }
  // Spins of the core yield here: pending interrupts are served.
  kglue::DeliverInterruptsNow(s, true);
  // With a second thread serving interrupts, that thread stands for another
  // processor, which runs while this one spins: give it the host processor,
  // or a waiter pinned beside it could spend its whole bound on the
  // simulated clock before the server ever runs.
  if (s.concurrent) std::this_thread::yield();
}

uint32_t OsGetCurrentProcessId() { return CurrentProcess(); }

uint32_t ClientGetNbCPUs() { return State().cpuCount; }

// ---- Log ------------------------------------------------------------------------------------

void ClientPrintLevel(int level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = Format(format, arguments);
  va_end(arguments);
  State().AddLog(level, text);
}

void dbgOutput(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = Format(format, arguments);
  va_end(arguments);
  State().AddLog(-1, text);
}

int dbgOutputToStringVA(char* buffer, size_t size, const char* format, va_list arguments) {
  if (buffer == nullptr || size == 0) return 0;
  const int length = vsnprintf(buffer, size, format, arguments);
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return std::min(length, static_cast<int>(size - 1));
}

// ---- The services by address ---------------------------------------------------------

namespace kglue {

namespace {

template <typename Function>
const void* Address(Function* function) {
  return reinterpret_cast<const void*>(function);
}

}  // namespace

const std::vector<const void*>& ServiceAddresses() {
  static const std::vector<const void*> kAll = {
      Address(OrvContext_GetPrivate), Address(OrvContext_OwnsLockedPages), Address(OrvDevice_GetPciHandle),
      Address(OrvDevice_GetRegisters), Address(OrvDevice_GetFrameBuffer),
      Address(OrvDevice_GetBmFlags), Address(OrvDevice_GetLocalMemory),
      Address(OrvDevice_GetRegisterHandle), Address(OrvPciDevice_GetHostHandle),
      Address(ClientPciConfigReadDword), Address(OrvRegion_Alloc), Address(OrvRegion_GetLinear),
      Address(OrvRegion_GetPhys), Address(OrvRegion_GetSize), Address(OrvRegion_FindFromVirtual),
      Address(OrvRegion_IncrementRefCount), Address(OrvRegion_DecrementRefCount),
      Address(OrvRegion_DecrementRefCountAndTest), Address(OrvRegion_Free),
      Address(OrvIoctl_Register), Address(OrvIoctl_UnRegister), &g_aoOrvModKstrnParms,
      Address(OrvParm_InitLut), Address(OrvKstrnParameterLookup),
      Address(ClientCopyFromUserSpace), Address(ClientCopyToUserSpace), Address(memAlloc),
      Address(memFileAlloc), Address(memFree), Address(memReadDword), Address(memReadWord),
      Address(memReadByte), Address(memWriteDword), Address(memWriteWord),
      Address(memWriteByte), Address(LocMemSet), Address(LocMemCpy), Address(OsAllocLockedPages),
      Address(OsFreeLockedPages),
      Address(OsMapPhysicalMemory), Address(OsUnmapMemory), Address(OsGetPageSize),
      Address(OsInterlockedExchange), Address(OsInterlockedIncrement),
      Address(OsInterlockedDecrement), Address(OsEnterFPUMode), Address(OsExitFPUMode),
      Address(OsSchedule), Address(OsGetCurrentProcessId), Address(ClientGetNbCPUs),
      Address(ClientPrintLevel), Address(dbgOutput), Address(dbgOutputToStringVA),
  };
  return kAll;
}

}  // namespace kglue
