// Test-facing control of the kernel glue stand-in (namespace kglue).
//
// A test makes one kglue::Glue after its orvsim::Simulation; while it lives,
// the glue operations of platform/kglue/kglue.h work over it: memory with
// live-block accounting, regions and locked pages from one bus-address
// arena, the simulated boards' registers and configuration space, the
// ioctl and module-parameter tables, user copies checked against the
// calling process's memory, virtual time and a captured log. The test then
// drives the core's entry table through it as the kernel would: load,
// device create, open, ioctl, mmap, release, device destroy, unload.
//
// The glue is a shared library (liborv_kglue.so): a process that links it
// supplies the services the kernel module leaves undefined, and loads the
// module with OpenModule. NodeBridge (node_bridge.h) puts the glue behind
// the X server stand-in's device-node router, so the X driver's own
// device-node code reaches the kernel core in-process.
//
// See README.md for what the stand-in models and what it leaves out.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kglue/kglue.h"

namespace orvsim {
class Board;
class DmaEngine;
class InterruptController;
}

namespace kglue {

class GlueState;
struct File;

// The arena of bus addresses behind regions and locked pages: 32-bit,
// below every board's default ranges. A board whose ranges overlap it is
// refused.
inline constexpr uint64_t kArenaBusBase = 0x10000000;
inline constexpr uint64_t kArenaSize = 64ull << 20;
inline constexpr uint32_t kPageSize = 4096;

inline constexpr uint32_t kDefaultProcessId = 1000;

// What a glue allocation was for; failure injection can aim at one kind.
enum class AllocKind { kAny, kMemory, kRegion, kLockedPages, kMapping };

struct BoardOptions {
  uint32_t bm_flags = 0;  // bus-master flags the glue reports for the board
  int minor = -1;         // -1: the board's index among the glue's boards
  // The board's interrupt controller, whose line the glue serves; none: the
  // board raises no interrupts.
  orvsim::InterruptController* interrupts = nullptr;
};

struct LiveBlock {
  const void* address;
  size_t size;
  std::string file;
  int line;
};

struct IoctlRegistration {
  uint32_t code;
  OrvIoctlHandler handler;
  int kind, a, b;  // as given
};

// One call of OrvIoctl_Register (registered = true) or OrvIoctl_UnRegister.
struct IoctlTableCall {
  bool registered;
  uint32_t code;
  int kind, a, b;
  bool operator==(const IoctlTableCall&) const = default;
};

struct LogLine {
  int level;  // ClientPrintLevel's level; -1 for dbgOutput
  std::string text;
};

class Glue {
 public:
  // Installs the glue; only one may be installed at a time. The board
  // library's current simulation must outlive it.
  Glue();
  // Unloads the module and destroys devices the test left (in that order's
  // reverse), then uninstalls.
  ~Glue();
  Glue(const Glue&) = delete;
  Glue& operator=(const Glue&) = delete;

  static Glue* Current();

  // ---- Machine ----------------------------------------------------------
  void SetCpuCount(uint32_t count);
  OrvDevice* AddBoard(orvsim::Board& board, const BoardOptions& options = {});
  // The bus-master flags the glue reports for the board from now on; the
  // core reads them when it makes its device, so a change while the core
  // has a device for the board ends the test.
  void SetBusMasterFlags(OrvDevice* device, uint32_t flags);
  orvsim::Board& BoardOf(OrvDevice* device) const;
  uint32_t MinorOf(OrvDevice* device) const;
  OrvDevice* DeviceByMinor(uint32_t minor) const;
  size_t DeviceCount() const;
  OrvDevice* DeviceAt(size_t index) const;

  // ---- The module's life ------------------------------------------------
  // Loads a module file into the process, as the kernel's module loader
  // does: every symbol the module leaves undefined must resolve now, to the
  // glue's services (kglue.h) or the runtime, or the module is refused. A
  // process whose own definitions would take the place of a service is
  // refused before the module is opened. Its entry table (orv_kstrn_driver)
  // is the one Load runs; the file stays open until the glue goes. "" on
  // success, else why it was refused.
  std::string OpenModule(const std::string& path);
  // The symbol names of the services the glue supplies (kglue.h).
  static std::vector<std::string> ServiceNames();
  // The entry table Load runs, when the core is linked into the test itself.
  void Use(const OrvKstrnDriver* driver);
  int Load();
  int Unload();
  bool Loaded() const;
  // For a harness that keeps one glue for many runs (a fuzz target): makes
  // the glue as a fresh one with the same boards, entry table and DMA
  // engines would be. The module must be unloaded, every file released
  // and nothing of the core left (memory, regions, pages, kernel
  // mappings), or the test ends. The boards' ranges and own contexts are
  // as AddBoard made them; released files, the log, misuses, the
  // freed-while-mapped count, allocation counts and failure injection, the
  // record of ioctl table calls, user memory declarations, the mutator and
  // the counts of schedules and delivered interrupts are dropped; the
  // module parameters are as at load again.
  void Renew();
  // For a harness that keeps the module loaded and its device for many
  // runs: drops the records of files already released (the core has let
  // them go; their File pointers are no longer valid), which the glue
  // otherwise keeps until Renew.
  void DropReleasedFiles();
  // Creates the core's device for a board (with the board's own context);
  // null when the core refuses.
  KernelDevice* CreateDevice(OrvDevice* device);
  void DestroyDevice(OrvDevice* device);
  KernelDevice* KernelDeviceOf(OrvDevice* device) const;
  OrvContext* OwnContext(OrvDevice* device) const;

  // ---- Open files -------------------------------------------------------
  // Opens the device node of a board for a process: OpenClient; null when
  // the core refuses.
  File* Open(OrvDevice* device, uint32_t processId = kDefaultProcessId);
  // Unmaps what the file still maps, frees its locked pages, ReleaseClient.
  void Close(File* file);
  OrvContext* ContextOf(File* file) const;
  KernelClient* ClientOf(File* file) const;
  uint32_t ProcessOf(File* file) const;
  size_t OpenFileCount() const;
  // A request on the file, as the character device's ioctl receives it: the
  // code is checked for type 'F' and its size field; 0x01, 0x02, 0x03 and
  // 0x06 are served here, registered codes go to their handlers. A negative
  // errno on refusal.
  int Ioctl(File* file, uint32_t code, unsigned long argument);
  // The same with an argument that is a plain value, not the address of a
  // record the process hands over: no memory of the process comes with it,
  // so a handler that copies through it faults.
  int IoctlWithValue(File* file, uint32_t code, unsigned long value);
  // Maps [offset, offset + length) of the node for the file's process:
  // whole pages of a region user space may map or of locked pages (offset =
  // bus address), or of a board's physical range. Null when refused.
  void* Mmap(File* file, uint64_t offset, size_t length);
  // 0, or -EINVAL when the address and length name no mapping of the file.
  int Munmap(File* file, void* address, size_t length);

  // ---- Memory -----------------------------------------------------------
  // The nth glue allocation from now (1 = the next) of the kind fails; 0
  // disarms. kAny counts every allocating call.
  void FailAllocation(uint64_t nth, AllocKind kind = AllocKind::kAny);
  uint64_t AllocationCount(AllocKind kind = AllocKind::kAny) const;
  uint64_t FailedAllocations() const;
  std::vector<LiveBlock> LiveBlocks() const;
  // How many blocks LiveBlocks would list and their bytes, without making
  // the list: what a harness compares after every input.
  struct BlockTotals {
    size_t count = 0;
    uint64_t bytes = 0;
    bool operator==(const BlockTotals&) const = default;
  };
  BlockTotals LiveBlockTotals() const;
  size_t LiveRegions() const;
  size_t LiveLockedPages() const;
  // Regions and locked pages in use (the arena's allocated bytes).
  uint64_t ArenaBytesInUse() const;
  // Kernel-side mappings (OsMapPhysicalMemory) not yet undone.
  size_t LiveKernelMappings() const;
  // User mappings through Mmap not yet undone.
  size_t LiveUserMappings() const;
  // Regions and locked pages the core freed while user space still mapped
  // them: kept until unmapped, and counted here.
  uint64_t FreedWhileMapped() const;
  // Glue-usage faults the core made without dying (a free of a region that
  // still holds references, a mismatched page free): counted and described.
  const std::vector<std::string>& Misuses() const;
  // Host bytes of [bus, bus + length) inside one live allocation of the
  // arena, or null: the DMA engine's view of system memory.
  uint8_t* ResolveBus(uint64_t bus, uint64_t length) const;
  // Region bookkeeping for tests.
  int RegionRefCount(const void* linear) const;
  bool RegionMapped(const void* linear) const;

  // ---- Ioctl and parameter tables -----------------------------------------
  std::vector<IoctlRegistration> Registrations() const;
  const std::vector<IoctlTableCall>& IoctlTableCalls() const;
  // Number of OrvParm_InitLut calls; whether the last one handed over the
  // glue's table.
  int ParameterTableCalls() const;
  bool ParameterTableHandedOver() const;
  // Gives a module parameter by full name, as loading the module with it
  // would; a name the module does not have ends the test.
  void SetParameter(const std::string& name, uint32_t value);
  // The value of a given parameter; false when it was not given.
  bool ReadParameter(const std::string& name, uint32_t* value) const;

  // ---- User memory ------------------------------------------------------
  // Extra user memory of a process (besides the ioctl record and its
  // mappings), ranges whose copies fail whoever owns them, and ranges
  // that can be read but not written (copies to user space fail).
  void DeclareUserMemory(uint32_t processId, const void* address, size_t size);
  void MarkFaulty(const void* address, size_t size);
  void MarkReadOnly(const void* address, size_t size);
  void ClearUserMemory();

  // A test function that rewrites memory the client maps, run at each glue
  // service the core calls during a request that may read it (user copies,
  // allocations, yields); an empty function removes it. The thread variant
  // runs it over and over on a second thread while the test's thread runs
  // the core, until StopUserMemoryMutator (the glue's destructor too).
  void SetUserMemoryMutator(std::function<void()> mutator);
  void StartUserMemoryMutatorThread(std::function<void()> mutator);
  void StopUserMemoryMutator();

  // ---- Interrupts and the DMA engine ----------------------------------------
  // The engine fetches system memory from the glue's arena, and each
  // OsSchedule of the core gives it one step of its latency (time passing
  // while the core yields). The engine must outlive the glue.
  void ServeDma(orvsim::DmaEngine& engine);
  // Serves every board whose interrupt line is up: CollectInterrupts, then
  // RunDeferredInterruptWork when the core asks for it, until the line is
  // down (a service that acknowledges nothing while the line stays up is a
  // misuse). The glue does this itself at
  // OsSchedule and after every entry point of the core returns, never in
  // the middle of a register access. True when anything was delivered.
  bool DeliverInterrupts();
  uint64_t InterruptsDelivered() const;
  // From now on a second thread delivers interrupts as soon as a line is up,
  // while the test's thread runs the core; register accesses and the
  // glue's bookkeeping lock. Stop joins it (the glue's destructor too).
  void StartInterruptThread();
  void StopInterruptThread();

  // ---- Processor, time and log -------------------------------------------
  // Virtual nanoseconds each OsSchedule advances the simulation's clock.
  void SetScheduleCost(uint64_t nanoseconds);
  uint64_t ScheduleCount() const;
  int FpuDepth() const;
  const std::vector<LogLine>& Log() const;
  std::string LogText() const;
  bool Logged(const std::string& text) const;
  void ClearLog();
  void EchoLog(bool on);

  GlueState& state() { return *state_; }

 private:
  int Request(File* file, uint32_t code, unsigned long argument, size_t recordSize);
  // The file's mappings dropped and the file released, as when its process
  // ends or its board goes away.
  void ReleaseAtOnce(File* file);

  std::unique_ptr<GlueState> state_;
};

}  // namespace kglue
