// A desktop of the X driver on the simulated machine, as the main job's
// drawing program and the end-to-end tests take it apart: the board the
// configuration names, the screens the driver made, the monitors showing
// them, each monitor's picture against the same drawing done in software,
// and the kernel module's unload that must leave nothing behind.
#pragma once

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/board/chip_picture.h"
#include "platform/board/pci_function.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "tests/maindraw/scene.h"

namespace maindraw {

// The PCI location the configuration's Device sections of the driver name,
// through the configuration library; 1:0:0 when none names one. Null (with
// a message) when the file cannot be read or the sections name different
// boards.
std::optional<orvsim::PciLocation> BoardLocation(const std::string& path);

// A screen as the driver left it after ScreenInit.
struct ScreenState {
  ScreenShape shape;
  int pitch = 0;  // pixels
  uint64_t fbLocal = 0;  // where its framebuffer lies in the board's memory
  int frameX0 = 0, frameY0 = 0;
};

// A monitor: the output, the controller it shows, the picture.
struct Monitor {
  const char* output;
  int controller;
  orvsim::Picture picture;
  int screen = -1;  // whose framebuffer it shows
  int x0 = 0, y0 = 0;  // where in that screen
};

// The screens of the server's table, in order.
std::vector<ScreenState> ScreensOf(xstub::XServer& server, orvmachine::MachineBoard& board);

// The picture of every output that a controller drives, with the screen
// whose framebuffer it shows. `spoil` changes one pixel in the middle of the
// first monitor's picture before it is taken.
std::vector<Monitor> MonitorsOf(orvmachine::MachineBoard& board, const std::vector<ScreenState>& screens,
                                bool spoil = false);

// A monitor's picture against the drawing done in software on a screen of
// the same shape, with the board's colour table.
struct Comparison {
  bool equal = false;
  // Why the picture cannot be compared; empty when it was.
  std::string unusable;
  uint64_t differing = 0;
  uint32_t firstX = 0, firstY = 0;
  uint32_t got = 0, wanted = 0;  // 0xRRGGBB at the first difference
  orvsim::Picture expected;
};
Comparison CompareWithReference(xstub::XServer& server, orvmachine::MachineBoard& board, const Monitor& monitor,
                                const std::vector<ScreenState>& screens, const Drawing& drawing);
// The same against given pixels of the monitor's screen (rows of width x
// bytes a pixel).
Comparison CompareWithPixels(orvmachine::MachineBoard& board, const Monitor& monitor,
                             const std::vector<ScreenState>& screens, const std::vector<uint8_t>& pixels);
// The pixels of a screen's framebuffer in the board's memory, rows of width
// x bytes a pixel; empty when it does not lie in the memory.
std::vector<uint8_t> FramebufferPixels(orvmachine::MachineBoard& board, const ScreenState& screen);

// Takes the largest area the screen's framebuffer manager hands out and
// fills it through the screen's framebuffer, as a pixmap kept there would be
// drawn; the area is given back. True also when the screen has no manager
// or nothing to hand out.
bool FillOffscreenArea(ScreenPtr screen);

// The messages logged since the last call, tagged as the X server's log
// tags them, one a line.
std::vector<std::string> TakeMessages(const xstub::Sandbox& box, size_t* taken);

// Everything the board's engines found wrong: the DMA engine's decode
// errors and faults, the 2D engine's and the 3D rasteriser's faults, one a
// line; empty when nothing.
std::vector<std::string> EngineErrors(orvmachine::MachineBoard& board);

// Destroys the board's device and unloads the kernel module once the
// screens are closed, and checks that the module and the driver left
// nothing behind: no open file, mapping, region, page or block of memory.
// Empty, or what was left.
std::string UnloadKernelModule(orvmachine::KernelModule& module);

}  // namespace maindraw
