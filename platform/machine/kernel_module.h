// The kernel module as the machine's module loader and the kernel leave it
// for the X server: the module's file loaded into the process with the
// kernel glue stand-in (or, for tests that link the kernel core, its entry
// table handed over), the board's DMA engine fetching system memory through
// the glue and its interrupt line served, the module loaded and the
// board's device made. Provided to the X server stand-in, every open of
// /dev/orvane/orv<minor> is a file of the glue. Made through
// Machine::LoadKernelModule.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/kglue/glue.h"
#include "platform/kglue/node_bridge.h"
#include "platform/xserver/sandbox.h"

namespace orvmachine {

struct MachineBoard;

inline constexpr uint32_t kNodeMajor = 243;
// Bus-master flags: command buffers in page-locked memory, four a stream.
inline constexpr uint32_t kPageLockedBuffers = 0x300004;

struct KernelModuleOptions {
  // The module's file (the shipped module, liborv.so); or, when empty,
  // the entry table of a core linked into the program.
  std::string file;
  const OrvKstrnDriver* table = nullptr;
  uint32_t bmFlags = kPageLockedBuffers;
  uint32_t minor = 0;
  // Whether the board's device is made once the module is loaded.
  bool makeDevice = true;
};

class KernelModule {
 public:
  // The glue is made after the board's simulation and goes before it.
  KernelModule(MachineBoard& board, const KernelModuleOptions& options);
  // Whatever is left goes as the kernel would take it down (the glue's own
  // teardown): open files released, the device destroyed, the module
  // unloaded.
  ~KernelModule() = default;
  KernelModule(const KernelModule&) = delete;
  KernelModule& operator=(const KernelModule&) = delete;

  // Whether the module loaded and, when asked, made the board's device.
  bool Ready() const { return loaded && (created != nullptr || !makeDevice_); }

  // The module under the name the X driver loads, with its device node.
  void ProvideTo(xstub::Sandbox& box) { box.ProvideKernelModule("orv", kNodeMajor, &bridge); }

  // The board goes (every file still open on it is released first), then
  // the module is unloaded; 0, or the module's answer to its unload.
  int DestroyAndUnload();

  kglue::Glue glue;
  kglue::NodeBridge bridge;
  OrvDevice* device = nullptr;
  KernelDevice* created = nullptr;
  bool loaded = false;
  // Why the module's file was refused; empty when it was not.
  std::string error;

 private:
  bool makeDevice_;
};

}  // namespace orvmachine
