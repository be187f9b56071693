// The glue's test-facing side: the machine, the module's life, open files
// and their requests and mappings, and what a test inspects afterwards.
#include "platform/kglue/glue.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "core/orv_ioctl.h"
#include "platform/board/board.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue_state.h"

namespace kglue {

namespace {

Glue* g_glue = nullptr;

uint64_t RoundToPages(uint64_t length) {
  return (length + kPageSize - 1) / kPageSize * kPageSize;
}

orvsim::PhysicalMap* PhysMap() {
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  return sim != nullptr ? &sim->Phys() : nullptr;
}

}  // namespace

Glue::Glue() : state_(std::make_unique<GlueState>()) {
  if (g_glue != nullptr) Die("a second kglue::Glue was made while one is installed");
  g_glue = this;
  g_state = state_.get();
}

Glue::~Glue() {
  GlueState& s = *state_;
  StopInterruptThread();
  StopUserMemoryMutator();
  // What the test left is torn down as the kernel would on unload: files
  // released (their mappings dropped), devices destroyed, module unloaded.
  for (auto& file : s.files) {
    if (file->released) continue;
    ReleaseAtOnce(file.get());
  }
  for (auto& device : s.devices) {
    if (device->kernel != nullptr) DestroyDevice(device.get());
  }
  if (s.loaded) Unload();
  if (s.moduleFile != nullptr) dlclose(s.moduleFile);
  g_glue = nullptr;
  g_state = nullptr;
}

Glue* Glue::Current() { return g_glue; }

void Glue::ReleaseAtOnce(File* file) {
  GlueState& s = *state_;
  for (UserMapping& m : file->mappings) {
    if (m.block != nullptr && --m.block->maps == 0 && m.block->freed) {
      m.block->freed = false;
      s.FreeBlock(m.block);
    }
  }
  file->mappings.clear();
  file->closed = true;
  Close(file);
}

// ---- Machine ------------------------------------------------------------------------

void Glue::SetCpuCount(uint32_t count) { state_->cpuCount = count; }

OrvDevice* Glue::AddBoard(orvsim::Board& board, const BoardOptions& options) {
  GlueState& s = *state_;
  for (const orvsim::BarInfo& bar : board.Bars()) {
    if (bar.base < kArenaBusBase + kArenaSize && kArenaBusBase < bar.base + bar.size) {
      Die("board '%s' has a range at 0x%llx that overlaps the glue's bus arena",
          board.Name().c_str(), static_cast<unsigned long long>(bar.base));
    }
  }
  auto device = std::make_unique<OrvDevice>();
  device->board = &board;
  device->minor = options.minor >= 0 ? static_cast<uint32_t>(options.minor)
                                     : static_cast<uint32_t>(s.devices.size());
  device->bmFlags = options.bm_flags;
  device->interrupts = options.interrupts;
  device->pci.at = board.Location();
  device->registers.board = &board;
  device->registerRange.kind = OrvRegion::Kind::kDeviceRange;
  device->registerRange.device = device.get();
  device->frameBufferRange.kind = OrvRegion::Kind::kDeviceRange;
  device->frameBufferRange.device = device.get();
  device->own.device = device.get();
  s.devices.push_back(std::move(device));
  return s.devices.back().get();
}

void Glue::SetBusMasterFlags(OrvDevice* device, uint32_t flags) {
  if (device->kernel != nullptr) Die("bus-master flags changed while the core has the device");
  device->bmFlags = flags;
}

orvsim::Board& Glue::BoardOf(OrvDevice* device) const { return *device->board; }
uint32_t Glue::MinorOf(OrvDevice* device) const { return device->minor; }

OrvDevice* Glue::DeviceByMinor(uint32_t minor) const {
  for (const auto& device : state_->devices) {
    if (device->minor == minor) return device.get();
  }
  return nullptr;
}

size_t Glue::DeviceCount() const { return state_->devices.size(); }
OrvDevice* Glue::DeviceAt(size_t index) const { return state_->devices.at(index).get(); }

// ---- Module ------------------------------------------------------------------------

void Glue::Use(const OrvKstrnDriver* driver) { state_->driver = driver; }

std::string Glue::OpenModule(const std::string& path) {
  GlueState& s = *state_;
  if (s.moduleFile != nullptr) return "a module file is open already";
  if (s.loaded) return "the module is loaded already";
  // The process's own definition of a service's name would win over the
  // glue's (the program comes first in the search), and the module would
  // run on it.
  for (const void* service : ServiceAddresses()) {
    Dl_info info;
    if (dladdr(service, &info) == 0 || info.dli_sname == nullptr) {
      return "a service of the glue is not among its exported symbols";
    }
    if (dlsym(RTLD_DEFAULT, info.dli_sname) != service) {
      return std::string("the program defines ") + info.dli_sname +
             " itself and would take the place of the glue's service";
    }
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    return why != nullptr ? why : "dlopen failed";
  }
  const auto* driver = static_cast<const OrvKstrnDriver*>(dlsym(handle, "orv_kstrn_driver"));
  if (driver == nullptr) {
    dlclose(handle);
    return path + ": no entry table orv_kstrn_driver";
  }
  s.moduleFile = handle;
  s.driver = driver;
  return "";
}

std::vector<std::string> Glue::ServiceNames() {
  std::vector<std::string> names;
  for (const void* service : ServiceAddresses()) {
    Dl_info info;
    if (dladdr(service, &info) != 0 && info.dli_sname != nullptr) names.push_back(info.dli_sname);
  }
  return names;
}

int Glue::Load() {
  GlueState& s = *state_;
  if (s.driver == nullptr) Die("Load with no entry table: open a module file or call Use()");
  if (s.loaded) Die("the module is loaded already");
  EntryScope scope("KernelCoreInit", nullptr);
  const int result = s.driver->KernelCoreInit();
  s.loaded = true;
  return result;
}

int Glue::Unload() {
  GlueState& s = *state_;
  if (!s.loaded) Die("Unload of a module that is not loaded");
  for (const auto& device : s.devices) {
    if (device->kernel != nullptr) Die("Unload while a device of the core exists");
  }
  EntryScope scope("KernelCoreExit", nullptr);
  const int result = s.driver->KernelCoreExit();
  s.loaded = false;
  return result;
}

bool Glue::Loaded() const { return state_->loaded; }

void Glue::Renew() {
  GlueState& s = *state_;
  if (s.loaded) Die("Renew while the module is loaded");
  for (const auto& file : s.files) {
    if (!file->released) Die("Renew while a file is open");
  }
  if (s.liveCount != 0 || !s.blocks.empty() || !s.kernelMappings.empty())
    Die("Renew with memory, regions, pages or kernel mappings of the core left");
  StopInterruptThread();
  StopUserMemoryMutator();
  // The boards' own records as AddBoard made them.
  for (auto& device : s.devices) {
    for (OrvRegion* range : {&device->registerRange, &device->frameBufferRange}) {
      *range = OrvRegion{};
      range->kind = OrvRegion::Kind::kDeviceRange;
      range->device = device.get();
    }
    device->own = OrvContext{};
    device->own.device = device.get();
  }
  s.files.clear();
  // With no block left the free runs have merged back into one.
  const uint64_t pages = kArenaSize / kPageSize;
  if (s.freeRuns.size() != 1 || s.freeRuns.begin()->first != 0 || s.freeRuns.begin()->second != pages) {
    s.freeRuns.clear();
    s.freeRuns[0] = pages;
  }
  s.bytesInUse = 0;
  s.freedWhileMapped = 0;
  for (uint64_t& count : s.attempts) count = 0;
  s.failAt = 0;
  s.failKind = AllocKind::kAny;
  s.failed = 0;
  s.misuses.clear();
  s.ioctls.clear();
  s.ioctlCalls.clear();
  s.parameters = nullptr;
  s.parameterTableCalls = 0;
  ResetModuleParameters();
  s.declared.clear();
  s.faulty.clear();
  s.readOnly.clear();
  s.interruptsDelivered = 0;
  s.schedules = 0;
  s.log.clear();
}

void Glue::DropReleasedFiles() {
  GlueState& s = *state_;
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  std::erase_if(s.files, [](const std::unique_ptr<File>& file) { return file->released; });
}

KernelDevice* Glue::CreateDevice(OrvDevice* device) {
  GlueState& s = *state_;
  if (!s.loaded) Die("CreateDevice before the module is loaded");
  if (device->kernel != nullptr) Die("CreateDevice twice for one board");
  {
    EntryScope scope("CreateDevice", nullptr);
    device->kernel = s.driver->CreateDevice(device, &device->own);
  }
  DeliverInterruptsNow(s, false);
  return device->kernel;
}

void Glue::DestroyDevice(OrvDevice* device) {
  GlueState& s = *state_;
  if (device->kernel == nullptr) Die("DestroyDevice of a board without a device");
  // The board goes away: every file still open on it is released first.
  for (auto& file : s.files) {
    if (file->released || file->context.device != device) continue;
    ReleaseAtOnce(file.get());
  }
  EntryScope scope("DestroyDevice", nullptr);
  s.driver->DestroyDevice(device->kernel);
  device->kernel = nullptr;
}

KernelDevice* Glue::KernelDeviceOf(OrvDevice* device) const { return device->kernel; }
OrvContext* Glue::OwnContext(OrvDevice* device) const { return &device->own; }

// ---- Files ----------------------------------------------------------------------------

File* Glue::Open(OrvDevice* device, uint32_t processId) {
  GlueState& s = *state_;
  if (device == nullptr || device->kernel == nullptr) return nullptr;
  auto file = std::make_unique<File>();
  file->context.device = device;
  file->context.file = file.get();
  file->context.processId = processId;
  File* raw = file.get();
  {
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    s.files.push_back(std::move(file));
  }
  KernelClient* client;
  {
    EntryScope scope("OpenClient", raw);
    client = s.driver->OpenClient(device->kernel, &raw->context);
  }
  if (client == nullptr) {
    raw->closed = true;
    raw->released = true;
    return nullptr;
  }
  raw->context.client = client;
  DeliverInterruptsNow(s, false);
  return raw;
}

void Glue::Close(File* file) {
  GlueState& s = *state_;
  if (file == nullptr || file->released) return;
  file->closed = true;
  if (!file->mappings.empty()) return;  // released with the last mapping
  {
    EntryScope scope("ReleaseClient", file);
    s.driver->ReleaseClient(file->context.device->kernel, file->context.client);
  }
  file->released = true;
  // Pages the process allocated through the node go with the file.
  std::vector<OrvRegion*> owned;
  {
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    for (const auto& [bus, block] : s.blocks) {
      if (block->owner == file) owned.push_back(block);
    }
  }
  for (OrvRegion* block : owned) s.FreeBlock(block);
  DeliverInterruptsNow(s, false);
}

OrvContext* Glue::ContextOf(File* file) const { return &file->context; }
KernelClient* Glue::ClientOf(File* file) const { return file->context.client; }
uint32_t Glue::ProcessOf(File* file) const { return file->context.processId; }

size_t Glue::OpenFileCount() const {
  size_t count = 0;
  for (const auto& file : state_->files) count += file->released ? 0 : 1;
  return count;
}

namespace {

// Requests the glue serves itself.
int AllocBuffer(GlueState& s, File* file, unsigned long argument);
int FreeBuffer(GlueState& s, File* file, unsigned long argument);
int NamedParameter(GlueState& s, File* file, unsigned long argument);
int MinorByLocation(GlueState& s, File* file, unsigned long argument);

struct Served {
  uint32_t code;
  int (*serve)(GlueState&, File*, unsigned long);
};
constexpr Served kServed[] = {
    {ORV_IOCTL_ALLOC_BUFFER, AllocBuffer},
    {ORV_IOCTL_FREE_BUFFER, FreeBuffer},
    {ORV_IOCTL_PARAMETER, NamedParameter},
    {ORV_IOCTL_GET_MINOR, MinorByLocation},
};

constexpr uint32_t IocType(uint32_t code) { return (code >> 8) & 0xFF; }

}  // namespace

int Glue::Ioctl(File* file, uint32_t code, unsigned long argument) {
  return Request(file, code, argument, OrvIocDirection(code) != 0 ? OrvIocSize(code) : 0);
}

int Glue::IoctlWithValue(File* file, uint32_t code, unsigned long value) {
  return Request(file, code, value, 0);
}

int Glue::Request(File* file, uint32_t code, unsigned long argument, size_t recordSize) {
  GlueState& s = *state_;
  if (file == nullptr || file->closed || file->released) return -EBADF;
  if (IocType(code) != kIocType) return -ENOTTY;
  const uint32_t number = code & 0xFF;
  for (const Served& served : kServed) {
    if ((served.code & 0xFF) != number) continue;
    if (served.code != code) return -EINVAL;
    EntryScope scope("ioctl", file, argument, recordSize);
    return served.serve(s, file, argument);
  }
  OrvIoctlHandler handler = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    for (const auto& [registered, entry] : s.ioctls) {
      if ((registered & 0xFF) != number) continue;
      if (registered != code) return -EINVAL;
      handler = entry.handler;
    }
  }
  if (handler == nullptr) return -ENOTTY;
  int answer;
  {
    EntryScope scope("ioctl", file, argument, recordSize);
    answer = handler(file->context.client, code, argument);
  }
  DeliverInterruptsNow(s, false);
  return answer;
}

void* Glue::Mmap(File* file, uint64_t offset, size_t length) {
  GlueState& s = *state_;
  if (file == nullptr || file->closed || file->released) return nullptr;
  if (length == 0 || offset % kPageSize != 0 || length % kPageSize != 0) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  if (OrvRegion* block = s.FindBlock(offset, length)) {
    if (!block->UserMappable() || block->device != file->context.device) return nullptr;
    ++block->maps;
    uint8_t* host = block->cpu + (offset - block->bus);
    file->mappings.push_back(UserMapping{host, length, block});
    return host;
  }
  orvsim::PhysicalMap* map = PhysMap();
  orvsim::PhysTarget target;
  if (map == nullptr || !map->Resolve(offset, length, &target)) return nullptr;
  file->mappings.push_back(UserMapping{target.host, length, nullptr});
  return target.host;
}

int Glue::Munmap(File* file, void* address, size_t length) {
  GlueState& s = *state_;
  if (file == nullptr || file->released) return -EINVAL;
  const uint64_t pages = RoundToPages(length);
  {
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    auto it = std::find_if(file->mappings.begin(), file->mappings.end(),
                           [&](const UserMapping& m) {
                             return m.host == address && m.length == pages;
                           });
    if (it == file->mappings.end()) return -EINVAL;
    OrvRegion* block = it->block;
    file->mappings.erase(it);
    if (block != nullptr && --block->maps == 0 && block->freed) {
      block->freed = false;  // now it goes for good
      s.FreeBlock(block);
    }
  }
  if (file->closed && file->mappings.empty()) Close(file);
  return 0;
}

// ---- Interrupts and the DMA engine ----------------------------------------------------

void Glue::ServeDma(orvsim::DmaEngine& engine) {
  engine.SetSystemMemory([this](uint32_t bus, uint32_t length) { return ResolveBus(bus, length); });
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  if (std::find(state_->engines.begin(), state_->engines.end(), &engine) == state_->engines.end())
    state_->engines.push_back(&engine);
}

bool Glue::DeliverInterrupts() { return DeliverInterruptsNow(*state_, false); }

uint64_t Glue::InterruptsDelivered() const { return state_->interruptsDelivered.load(); }

void Glue::SetUserMemoryMutator(std::function<void()> mutator) {
  state_->mutator = std::move(mutator);
}

void Glue::StartUserMemoryMutatorThread(std::function<void()> mutator) {
  GlueState& s = *state_;
  StopUserMemoryMutator();
  s.stopMutator = false;
  s.mutatorThread = std::thread([&s, mutator] {
    while (!s.stopMutator.load()) mutator();
  });
}

void Glue::StopUserMemoryMutator() {
  GlueState& s = *state_;
  if (s.mutatorThread.joinable()) {
    s.stopMutator = true;
    s.mutatorThread.join();
  }
  s.mutator = nullptr;
}

void Glue::StartInterruptThread() {
  GlueState& s = *state_;
  if (s.interruptThread.joinable()) return;
  s.concurrent = true;
  s.stopInterrupts = false;
  s.interruptThread = std::thread([&s] {
    MarkInterruptThread();
    while (!s.stopInterrupts.load()) {
      if (!DeliverInterruptsNow(s, false)) std::this_thread::yield();
    }
  });
}

void Glue::StopInterruptThread() {
  GlueState& s = *state_;
  if (!s.interruptThread.joinable()) return;
  s.stopInterrupts = true;
  s.interruptThread.join();
  s.concurrent = false;
}

// ---- Memory ---------------------------------------------------------------------------

void Glue::FailAllocation(uint64_t nth, AllocKind kind) {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  state_->failKind = kind;
  state_->failAt = nth == 0 ? 0 : state_->attempts[static_cast<int>(kind)] + nth;
}

uint64_t Glue::AllocationCount(AllocKind kind) const {
  return state_->attempts[static_cast<int>(kind)];
}

uint64_t Glue::FailedAllocations() const { return state_->failed; }

std::vector<LiveBlock> Glue::LiveBlocks() const {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  std::vector<LiveBlock> blocks;
  const GlueState::BlockHeader* end = &state_->liveBlocks;
  for (const GlueState::BlockHeader* h = end->next; h != end; h = h->next) {
    blocks.push_back(LiveBlock{reinterpret_cast<const uint8_t*>(h) + GlueState::kHeaderSize,
                               h->size, h->file != nullptr ? h->file : "?", h->line});
  }
  return blocks;
}

Glue::BlockTotals Glue::LiveBlockTotals() const {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  BlockTotals totals;
  const GlueState::BlockHeader* end = &state_->liveBlocks;
  for (const GlueState::BlockHeader* h = end->next; h != end; h = h->next) {
    ++totals.count;
    totals.bytes += h->size;
  }
  return totals;
}

size_t Glue::LiveRegions() const {
  size_t count = 0;
  for (const auto& [bus, block] : state_->blocks)
    count += block->kind == OrvRegion::Kind::kRegion ? 1 : 0;
  return count;
}

size_t Glue::LiveLockedPages() const {
  size_t count = 0;
  for (const auto& [bus, block] : state_->blocks)
    count += block->kind == OrvRegion::Kind::kPages ? 1 : 0;
  return count;
}

uint64_t Glue::ArenaBytesInUse() const { return state_->bytesInUse; }
size_t Glue::LiveKernelMappings() const { return state_->kernelMappings.size(); }

size_t Glue::LiveUserMappings() const {
  size_t count = 0;
  for (const auto& file : state_->files) count += file->mappings.size();
  return count;
}

uint64_t Glue::FreedWhileMapped() const { return state_->freedWhileMapped; }
const std::vector<std::string>& Glue::Misuses() const { return state_->misuses; }

uint8_t* Glue::ResolveBus(uint64_t bus, uint64_t length) const {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  OrvRegion* block = state_->FindBlock(bus, length);
  if (block == nullptr || bus - block->bus + length > block->size) return nullptr;
  return block->cpu + (bus - block->bus);
}

int Glue::RegionRefCount(const void* linear) const {
  for (const auto& [bus, block] : state_->blocks)
    if (block->cpu == linear) return block->refs;
  return -1;
}

bool Glue::RegionMapped(const void* linear) const {
  for (const auto& [bus, block] : state_->blocks)
    if (block->cpu == linear) return block->maps != 0;
  return false;
}

// ---- Tables ---------------------------------------------------------------------------

std::vector<IoctlRegistration> Glue::Registrations() const {
  std::vector<IoctlRegistration> out;
  for (const auto& [code, entry] : state_->ioctls) out.push_back(entry);
  return out;
}

const std::vector<IoctlTableCall>& Glue::IoctlTableCalls() const { return state_->ioctlCalls; }
int Glue::ParameterTableCalls() const { return state_->parameterTableCalls; }

bool Glue::ParameterTableHandedOver() const {
  return state_->parameters == g_aoOrvModKstrnParms;
}

void Glue::SetParameter(const std::string& name, uint32_t value) {
  OrvModuleParameter* p = state_->FindParameter(name.c_str());
  if (p == nullptr) Die("the module has no parameter %s", name.c_str());
  p->value = value;
  p->given = 1;
}

bool Glue::ReadParameter(const std::string& name, uint32_t* value) const {
  const OrvModuleParameter* p = state_->FindParameter(name.c_str());
  if (p == nullptr || !p->given) return false;
  *value = p->value;
  return true;
}

// ---- User memory ---------------------------------------------------------------------

void Glue::DeclareUserMemory(uint32_t processId, const void* address, size_t size) {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  state_->declared.push_back(UserRange{processId, reinterpret_cast<uintptr_t>(address), size});
}

void Glue::MarkFaulty(const void* address, size_t size) {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  state_->faulty.emplace_back(reinterpret_cast<uintptr_t>(address), size);
}

void Glue::MarkReadOnly(const void* address, size_t size) {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  state_->readOnly.emplace_back(reinterpret_cast<uintptr_t>(address), size);
}

void Glue::ClearUserMemory() {
  std::lock_guard<std::recursive_mutex> lock(state_->mu);
  state_->declared.clear();
  state_->faulty.clear();
  state_->readOnly.clear();
}

// ---- Processor, time and log -----------------------------------------------------------

void Glue::SetScheduleCost(uint64_t nanoseconds) { state_->scheduleCostNs = nanoseconds; }
uint64_t Glue::ScheduleCount() const { return state_->schedules.load(); }
int Glue::FpuDepth() const { return FpuDepthOfThread(); }
const std::vector<LogLine>& Glue::Log() const { return state_->log; }

std::string Glue::LogText() const {
  std::string text;
  for (const LogLine& line : state_->log) text += line.text;
  return text;
}

bool Glue::Logged(const std::string& text) const {
  for (const LogLine& line : state_->log)
    if (line.text.find(text) != std::string::npos) return true;
  return false;
}

void Glue::ClearLog() { state_->log.clear(); }
void Glue::EchoLog(bool on) { state_->echo = on; }

// ---- Requests served by the glue ----------------------------------------------------------

namespace {

// Copies a request's record in or out through the user-copy rules.
bool CopyIn(void* kernel, unsigned long user, size_t size) {
  return ClientCopyFromUserSpace(kernel, reinterpret_cast<const void*>(user), size) == 0;
}
bool CopyOut(unsigned long user, const void* kernel, size_t size) {
  return ClientCopyToUserSpace(reinterpret_cast<void*>(user), kernel, size) == 0;
}

// The largest buffer request 0x01 hands out.
constexpr uint32_t kMaxUserBuffer = 64u << 20;

int AllocBuffer(GlueState& s, File* file, unsigned long argument) {
  orv_ioctl_buffer record;
  if (!CopyIn(&record, argument, sizeof(record))) return -EFAULT;
  OrvDevice* device = file->context.device;
  if (record.flags & kOrvBufferFlagCommon) {
    // One of the device's blocks shared with user space, found by kind and size.
    uint32_t type = 0;
    if (record.kind == kOrvBufferSharedLocked) type = kOrvRegionLocked;
    if (record.kind == kOrvBufferShared) type = kOrvRegionPlain;
    OrvRegion* found = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(s.mu);
      for (const auto& [bus, block] : s.blocks) {
        if (block->kind == OrvRegion::Kind::kRegion && block->device == device &&
            (block->flags & kOrvRegionShared) && block->type == type &&
            block->size == record.size) {
          found = block;
          break;
        }
      }
    }
    if (found == nullptr) return -EINVAL;
    record.offset = found->bus;
  } else if (record.flags & kOrvBufferFlagLocked) {
    if (record.size == 0 || record.size > kMaxUserBuffer ||
        (record.kind != kOrvBufferSharedLocked && record.kind != kOrvBufferAgp &&
         record.kind != kOrvBufferShared)) {
      return -EINVAL;
    }
    OrvRegion* block = s.NewBlock(OrvRegion::Kind::kPages, device, record.size,
                                  AllocKind::kLockedPages);
    if (block == nullptr) return -ENOMEM;
    block->type = record.kind;
    block->flags = record.flags;
    block->owner = file;
    record.offset = block->bus;
    if (!CopyOut(argument, &record, sizeof(record))) {
      s.FreeBlock(block);
      return -EFAULT;
    }
    return 0;
  } else {
    return -EINVAL;
  }
  return CopyOut(argument, &record, sizeof(record)) ? 0 : -EFAULT;
}

int FreeBuffer(GlueState& s, File* file, unsigned long argument) {
  orv_ioctl_buffer record;
  if (!CopyIn(&record, argument, sizeof(record))) return -EFAULT;
  std::lock_guard<std::recursive_mutex> lock(s.mu);
  OrvRegion* block = s.FindBlock(record.offset, 1);
  if (block == nullptr || block->bus != record.offset || block->size != record.size ||
      block->device != file->context.device) {
    return -EINVAL;
  }
  if (record.flags & kOrvBufferFlagCommon) {
    // The shared blocks belong to the device; the process only lets go.
    return block->kind == OrvRegion::Kind::kRegion && (block->flags & kOrvRegionShared)
               ? 0
               : -EINVAL;
  }
  if (block->kind != OrvRegion::Kind::kPages || block->owner != file) return -EINVAL;
  if (block->maps != 0) return -EBUSY;
  s.FreeBlock(block);
  return 0;
}

// Reads a given parameter, or writes (and so gives) any parameter of the
// module, by full name.
int NamedParameter(GlueState& s, File*, unsigned long argument) {
  OrvParameterRequest record;
  if (!CopyIn(&record, argument, sizeof(record))) return -EFAULT;
  if (memchr(record.name, 0, sizeof(record.name)) == nullptr) return -EINVAL;
  OrvModuleParameter* parameter = s.FindParameter(record.name);
  if (parameter == nullptr) return -EINVAL;
  if (record.operation == kParameterRead) {
    if (!parameter->given) return -EINVAL;
    record.value = parameter->value;
    return CopyOut(argument, &record, sizeof(record)) ? 0 : -EFAULT;
  }
  if (record.operation != kParameterWrite) return -EINVAL;
  parameter->value = record.value;
  parameter->given = 1;
  return 0;
}

int MinorByLocation(GlueState& s, File*, unsigned long argument) {
  OrvMinorRequest record;
  if (!CopyIn(&record, argument, sizeof(record))) return -EFAULT;
  record.minor = kMinorUnknown;
  for (const auto& device : s.devices) {
    const orvsim::PciLocation& at = device->pci.at;
    if (at.bus == record.bus && at.device == record.device && at.function == record.function) {
      record.minor = device->minor;
      break;
    }
  }
  return CopyOut(argument, &record, sizeof(record)) ? 0 : -EFAULT;
}

}  // namespace

}  // namespace kglue
