// The kernel module's file loaded into the process with its glue, as the
// machine's module loader and the kernel leave it for the X server: the
// board's DMA engine fetches system memory through the glue and its
// interrupt line is served, the module is loaded and the board's device
// made. Provided to the
// X server stand-in, xf86LoadKernelModule("orv") succeeds and every open of
// /dev/orvane/orv<minor> is a file of the glue. Used by the kernel's node
// tests and by the main job's drawing program.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/kglue/node_bridge.h"
#include "platform/xserver/sandbox.h"

namespace ktest {

inline constexpr uint32_t kNodeMajor = 243;
inline constexpr uint32_t kNodeMinor = 0;
// Bus-master flags: command buffers in page-locked memory, four a stream.
inline constexpr uint32_t kPageLockedBuffers = 0x300004;

class ModuleOnNode {
 public:
  // The glue must be made after the board's simulation and go before it.
  // `moduleFile` is the module's file (its test build while the 3D engine
  // is not built); why it was refused is kept in `error`.
  ModuleOnNode(orvsim::Board& board, orvsim::DmaEngine& dma, orvsim::InterruptController& irq,
               const std::string& moduleFile, uint32_t bmFlags = kPageLockedBuffers,
               uint32_t minor = kNodeMinor)
      : bridge(glue) {
    dma.SetInterrupts(&irq);
    glue.ServeDma(dma);
    device = glue.AddBoard(board, kglue::BoardOptions{bmFlags, static_cast<int>(minor), &irq});
    error = glue.OpenModule(moduleFile);
    if (!error.empty()) return;
    loaded = glue.Load() == 0;
    if (loaded) created = glue.CreateDevice(device);
  }
  // Whatever is left goes as the kernel would take it down (the glue's own
  // teardown): open files released, the device destroyed, the module unloaded.
  ~ModuleOnNode() = default;
  ModuleOnNode(const ModuleOnNode&) = delete;
  ModuleOnNode& operator=(const ModuleOnNode&) = delete;

  // Whether the module loaded and made the board's device.
  bool Ready() const { return loaded && created != nullptr; }

  // The module under the name the X driver loads, with its device node.
  void ProvideTo(xstub::Sandbox& box) { box.ProvideKernelModule("orv", kNodeMajor, &bridge); }

  // The board goes (every file still open on it is released first), then
  // the module is unloaded; 0, or the module's answer to its unload.
  int DestroyAndUnload() {
    if (created != nullptr) glue.DestroyDevice(device);
    created = nullptr;
    if (!glue.Loaded()) return 0;
    loaded = false;
    return glue.Unload();
  }

  kglue::Glue glue;
  kglue::NodeBridge bridge;
  OrvDevice* device = nullptr;
  KernelDevice* created = nullptr;
  bool loaded = false;
  std::string error;
};

}  // namespace ktest
