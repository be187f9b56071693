// Test-facing control of the X server stand-in.
//
// A test creates one Sandbox; while it lives, every X server service of
// platform/xserver/xservices.h works inside it:
//   - paths resolve under a fresh temporary directory that stands for "/";
//     /dev/mem, /proc/devices and /proc/modules are fixtures there;
//   - character device nodes route open/ioctl/mmap to the Endpoint
//     registered under their major number;
//   - /dev/mem maps the physical ranges of the attached simulated boards;
//   - messages go to a log the test reads; allocations can be made to fail.
// Without a Sandbox the file and device services fail with ENOSYS and say so
// on stderr; nothing ever reaches the real /dev or /proc.
//
// The stand-in is single-threaded, like the X server's main loop.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xserver/endpoint.h"
#include "platform/xserver/xservices.h"

namespace orvsim {
class Board;
class Clock;
class PciBus;
class PhysicalMap;
}  // namespace orvsim

namespace xstub {

namespace detail {
class State;
}

// Where a logged message came from.
enum class MessageSource { kErrorF, kDrvMsg, kMsg };

struct Message {
  MessageSource source;
  MessageType type;  // X_NONE for ErrorF
  int screen;        // -1 unless from xf86DrvMsg/xf86DrvMsgVerb
  int verbosity;     // 1 unless given
  std::string text;  // formatted, without any prefix
};

// A character (or block) device node as the sandbox sees it.
struct NodeInfo {
  mode_t mode;  // S_IFCHR or S_IFBLK plus the permission bits
  uint32_t major;
  uint32_t minor;
};

// A call that changes the tree: xf86mkdir, xf86mknod, xf86chmod or
// xf86remove, as the driver made it and as it ended.
enum class FileOp { kMkdir, kMknod, kChmod, kRemove };

struct FileCall {
  FileOp op;
  std::string path;  // as the driver passed it
  mode_t mode;       // as passed; 0 for remove
  dev_t device;      // as passed to mknod; 0 otherwise
  int result;        // 0 or -1
  int error;         // errno of a failed call, else 0

  bool operator==(const FileCall&) const = default;
};

// The device number of a node: the encoding of the C library and the kernel.
dev_t MakeDevice(uint32_t major, uint32_t minor);
uint32_t DeviceMajor(dev_t device);
uint32_t DeviceMinor(dev_t device);

// Major and minor of the /dev/mem fixture.
inline constexpr uint32_t kMemMajor = 1;
inline constexpr uint32_t kMemMinor = 1;

// The page size the stand-in answers and maps with.
inline constexpr size_t kPageSize = 4096;

class Sandbox {
 public:
  // Creates the root and installs the sandbox. Only one may be installed at
  // a time; a second one aborts the test with a message.
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // ---- The root ----------------------------------------------------------
  const std::filesystem::path& Root() const;
  // Host path of a system path ("/dev/orvane/orv0"), resolved lexically; for
  // inspecting the tree from a test. Aborts on a path that leaves the root.
  std::filesystem::path HostPath(std::string_view system_path) const;

  void WriteFile(std::string_view system_path, std::string_view contents);
  // Contents of a regular file, or nullopt when it is missing.
  std::optional<std::string> ReadFile(std::string_view system_path) const;
  bool Exists(std::string_view system_path) const;
  // Creates the directory and its parents (mode 0755).
  void MakeDirectories(std::string_view system_path);

  // Creates a device node (char unless block is set); parents must exist.
  void MakeNode(std::string_view system_path, uint32_t major, uint32_t minor,
                mode_t permissions = 0666, bool block = false);
  // The node at the path, or nullopt when the path is no device node.
  std::optional<NodeInfo> Node(std::string_view system_path) const;

  // /proc/devices and /proc/modules. The Add helpers keep the file's format:
  // a character device goes into the "Character devices:" section.
  void SetProcDevices(std::string_view contents);
  void SetProcModules(std::string_view contents);
  void AddCharDevice(uint32_t major, std::string_view name);
  void AddModule(std::string_view name);

  // Paths that tried to leave the root, in order. Every such call failed
  // with EACCES; the handler, when set, sees each one as it happens (a
  // fixture can turn it into a test failure).
  const std::vector<std::string>& Escapes() const;
  void SetEscapeHandler(std::function<void(const std::string&)> handler);

  // Every xf86mkdir, xf86mknod, xf86chmod and xf86remove since the sandbox
  // started (or the last clear), in order, failed ones included.
  const std::vector<FileCall>& FileCalls() const;
  void ClearFileCalls();

  // ---- Device-node router ------------------------------------------------
  // The endpoint stays owned by the test and must outlive its registration.
  // Registering a major that is taken replaces the endpoint.
  void RegisterEndpoint(uint32_t major, Endpoint* endpoint);
  // Descriptors still open on the major then fail with ENODEV, and its
  // mappings are forgotten.
  void UnregisterEndpoint(uint32_t major);
  // Descriptors open on device nodes, and live mappings of devices.
  size_t OpenDeviceCount() const;
  size_t MappingCount() const;

  // ---- Kernel-module loader ----------------------------------------------
  // xf86LoadKernelModule(name) succeeds: the module joins /proc/modules, its
  // major joins /proc/devices and the endpoint is registered under it.
  // Loading a module that is already loaded succeeds without repeating that.
  void ProvideKernelModule(std::string_view name, uint32_t major,
                           Endpoint* endpoint);
  // Names that have no provider fail to load.
  const std::vector<std::string>& KernelModuleLoads() const;

  // ---- Simulated machine -------------------------------------------------
  // The bus answers pciRead*/pciWrite*, the physical map answers mappings
  // of /dev/mem and the clock advances on xf86usleep. By default they are
  // those of orvsim::Simulation::Current(): make the Simulation before the
  // Sandbox, so that it outlives every mapping. Attaching parts explicitly
  // (not owned; null returns to the default) overrides that.
  void AttachBus(orvsim::PciBus* bus);
  void AttachPhysicalMap(orvsim::PhysicalMap* map);
  void AttachClock(orvsim::Clock* clock);

  // ---- Time --------------------------------------------------------------
  // Total of every xf86usleep so far; no call really sleeps.
  uint64_t SleptMicroseconds() const;

  // ---- Messages ----------------------------------------------------------
  const std::vector<Message>& Messages() const;
  // Every message's text, in order, joined.
  std::string LogText() const;
  // Whether a message of the type (any type when nullopt) contains text.
  bool Logged(std::string_view text,
              std::optional<MessageType> type = std::nullopt) const;
  void ClearMessages();
  void EchoMessages(bool on);  // also print to stderr

  // ---- Allocator ---------------------------------------------------------
  // The nth allocation from now (1 = the next) of xalloc, xcalloc or
  // xrealloc fails; 0 disarms. Counts restart with the sandbox.
  void FailAllocation(uint64_t nth);
  uint64_t AllocationCount() const;  // attempts since the sandbox started
  uint64_t FailedAllocations() const;
  size_t LiveAllocations() const;  // blocks not yet freed, all time

  detail::State& state() { return *state_; }

 private:
  std::unique_ptr<detail::State> state_;
};

}  // namespace xstub
