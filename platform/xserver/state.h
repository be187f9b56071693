// Internal state of the X server stand-in, shared by its service files.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/xserver/endpoint.h"
#include "platform/xserver/sandbox.h"

namespace orvsim {
class Board;
}

namespace xstub::detail {

// A device node: its placeholder is a regular file under the root; this
// record gives it its type, permissions and device number. The record holds
// only while the placeholder is the same file (inode).
struct NodeRecord {
  mode_t mode;
  dev_t device;
  dev_t host_device;
  ino_t host_inode;
};

// Permission bits asked for by the driver. The sandbox acts for a root
// process, so the host file keeps owner access whatever the driver asks;
// stat reports the bits asked for.
struct PermRecord {
  mode_t permissions;
  dev_t host_device;
  ino_t host_inode;
};

struct OpenDevice {
  Endpoint* endpoint;  // null once the endpoint is unregistered
  uint32_t major;
  uint32_t minor;
  uint64_t file;  // the endpoint's file number of this open
};

struct Mapping {
  void* address;
  size_t length;
  Endpoint* endpoint;
  uint32_t major;
  uint32_t minor;
  uint64_t file;
  bool registers;  // a board's register window: entered in the routing table
};

struct ModuleProvider {
  uint32_t major;
  Endpoint* endpoint;
  bool loaded;
};

// Path resolution result: 0 and the host path, or an errno.
struct Resolved {
  int error;
  std::string host;
};

class State {
 public:
  Sandbox* owner = nullptr;
  std::filesystem::path root;
  std::string root_text;  // root as text, no trailing slash

  std::map<std::string, NodeRecord> nodes;  // by host path
  std::map<std::string, PermRecord> perms;  // by host path
  std::vector<std::string> escapes;
  std::vector<FileCall> file_calls;
  std::function<void(const std::string&)> escape_handler;

  // Attached explicitly, or else those of orvsim::Simulation::Current().
  orvsim::PciBus* bus = nullptr;
  orvsim::PhysicalMap* phys_map = nullptr;
  orvsim::Clock* clock = nullptr;
  orvsim::PciBus* Bus() const;
  orvsim::PhysicalMap* PhysMap() const;
  orvsim::Clock* SimClock() const;

  std::unique_ptr<Endpoint> mem_endpoint;  // behind /dev/mem
  std::map<uint32_t, Endpoint*> endpoints;
  std::map<int, OpenDevice> open_devices;  // host descriptor -> route
  std::set<int> open_files;                // plain files opened by the driver
  std::set<FILE*> streams;
  std::vector<Mapping> mappings;
  uint64_t next_file = 1;  // file numbers of device opens

  std::map<std::string, ModuleProvider> modules;
  std::vector<std::string> module_loads;

  uint64_t slept_us = 0;

  std::vector<Message> messages;
  bool echo = false;

  // Resolves a system path inside the root. follow_last: a symbolic link in
  // the last component is followed (stat, open) or not (remove).
  Resolved Resolve(const char* path, bool follow_last);
  // Records an escape attempt; answers EACCES.
  int Escape(const std::string& path);

  // The node or permission record of a host path when it still describes
  // that file; stale records are dropped.
  const NodeRecord* FindNode(const std::string& host);
  const PermRecord* FindPerm(const std::string& host);
  void Forget(const std::string& host);
  void SetPerm(const std::string& host, mode_t permissions);

  void DropMappings(Endpoint* endpoint);
  // Drops the mappings of one major (its endpoint is gone) without calling it.
  void DropMappings(uint32_t major);
};

// The installed sandbox's state, or null.
State* Current();

// Writes a one-line diagnostic to stderr when a service is used without a
// sandbox, and sets errno to ENOSYS.
void NoSandbox(const char* service, const char* detail);

// The process umask the stand-in applies to new files, directories and nodes.
inline constexpr mode_t kUmask = 022;

void ResetAllocator();

// Register windows of the boards mapped through a device node (/dev/mem, or
// a kernel module that maps board ranges): accesses through
// xf86ReadMmio*/xf86WriteMmio* inside one go to Board::RegRead/RegWrite.
// Mapping the same window twice counts references.
void AddRegisterWindow(void* host, size_t length, orvsim::Board* board,
                       uint32_t register_offset);
void RemoveRegisterWindow(void* host);
void ClearRegisterWindows();
size_t RegisterWindowCount();

}  // namespace xstub::detail
