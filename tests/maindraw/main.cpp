// The main job's drawing program: an X server stand-in with a simulated
// machine runs the X driver module on an X configuration file and draws a
// fixed scene on every screen; each monitor's picture is written as a PNG
// file and compared with the same scene drawn in software.
//
//   orv_main_draw --config FILE --module orv_drv.so --kernel-module FILE
//                 --out DIR [--board CHIP:SUBSYSTEM] [--memory MB]
//                 [--edid CONNECTOR=FILE]... [--outputs N] [--spoil]
//
// The machine: one board (chip and subsystem ids in hex, 5D63:0301 unless
// given) of MB megabytes of memory (64 unless given) at the PCI location
// of the configuration's BusID, or at 1:0:0 when it names none; its option
// ROM with a board description of N analog outputs (2 unless given) and its
// video BIOS (the console in text mode 3), its engines, display
// controllers, clocks and DDC lines; a monitor with the
// EDID of FILE on each connector given (0 to 3); the kernel module's file
// (--kernel-module) loaded into the process, which supplies its glue, with
// the board's device made, reached by the X driver through the stand-in's
// device node, so the driver draws through the kernel's DMA streams. After the scene each screen's largest off-screen
// area (what its framebuffer manager hands out) is filled through the
// screen's framebuffer, as a pixmap kept there would be: it must not show
// on any monitor. The kernel module given is the shipped one
// (liborv.so). After the screens are closed the board's device is destroyed and the module unloaded; anything
// it or the driver left behind fails the run. The program reads only
// the files it is given and writes only DIR/monitor-N.png (and, for a
// picture that differs, DIR/monitor-N-expected.png), beside the X server
// stand-in's system root, a temporary directory under TMPDIR removed at
// the end. --spoil changes one displayed pixel before the pictures are
// taken, to show that a difference is found. Exit status 0 when every
// picture equals its reference, 1 when one differs, 2 when the driver or
// the machine failed.
#include <stdio.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/board/chip_aperture.h"
#include "platform/board/chip_controllers.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_picture.h"
#include "platform/board/simulation.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "tests/maindraw/desktop.h"
#include "tests/maindraw/machine.h"
#include "tests/maindraw/png_file.h"
#include "tests/maindraw/reference.h"
#include "tests/maindraw/scene.h"
#include "tools/lib/parser/xconfig.h"

namespace maindraw {
namespace {

constexpr int kDiffers = 1;
constexpr int kFailed = 2;

void Usage() {
  fprintf(stderr,
          "usage: orv_main_draw --config FILE --module FILE --kernel-module FILE --out DIR\n"
          "                     [--board CHIP:SUBSYSTEM] [--memory MB] [--edid CONNECTOR=FILE]...\n"
          "                     [--outputs N] [--spoil]\n");
}

bool ParseNumber(const std::string& text, int base, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 16) return false;
  char* end = nullptr;
  const unsigned long long v = strtoull(text.c_str(), &end, base);
  if (*end != 0 || v > max || text[0] == '-') return false;
  *value = v;
  return true;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        fprintf(stderr, "orv_main_draw: %s needs a value\n", arg.c_str());
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (arg == "--spoil") {
      o.spoil = true;
      continue;
    }
    std::optional<std::string> v = value();
    if (!v) return std::nullopt;
    uint64_t n = 0, m = 0;
    if (arg == "--config") {
      o.config = *v;
    } else if (arg == "--module") {
      o.module = *v;
    } else if (arg == "--kernel-module") {
      o.kernelModule = *v;
    } else if (arg == "--out") {
      o.out = *v;
    } else if (arg == "--board") {
      const size_t colon = v->find(':');
      if (colon == std::string::npos || !ParseNumber(v->substr(0, colon), 16, 0xFFFF, &n) ||
          !ParseNumber(v->substr(colon + 1), 16, 0xFFFF, &m)) {
        fprintf(stderr, "orv_main_draw: --board wants CHIP:SUBSYSTEM in hex, not \"%s\"\n", v->c_str());
        return std::nullopt;
      }
      o.chip = static_cast<uint16_t>(n);
      o.subsystem = static_cast<uint16_t>(m);
    } else if (arg == "--memory") {
      // The board's memory is a power of two from 1 MB to 1 GB.
      if (!ParseNumber(*v, 10, 1024, &n) || n == 0 || (n & (n - 1)) != 0) {
        fprintf(stderr, "orv_main_draw: --memory wants a power of two from 1 to 1024 MB, not \"%s\"\n",
                v->c_str());
        return std::nullopt;
      }
      o.memoryMB = static_cast<uint32_t>(n);
    } else if (arg == "--edid") {
      const size_t eq = v->find('=');
      if (eq == std::string::npos || !ParseNumber(v->substr(0, eq), 10, 3, &n) || eq + 1 == v->size()) {
        fprintf(stderr, "orv_main_draw: --edid wants CONNECTOR=FILE with a connector 0 to 3, not \"%s\"\n",
                v->c_str());
        return std::nullopt;
      }
      o.edids[static_cast<unsigned>(n)] = v->substr(eq + 1);
    } else if (arg == "--outputs") {
      if (!ParseNumber(*v, 10, 4, &n) || n == 0) {
        fprintf(stderr, "orv_main_draw: --outputs wants 1 to 4, not \"%s\"\n", v->c_str());
        return std::nullopt;
      }
      o.outputs = static_cast<uint32_t>(n);
    } else {
      fprintf(stderr, "orv_main_draw: unknown argument \"%s\"\n", arg.c_str());
      return std::nullopt;
    }
  }
  if (o.config.empty() || o.module.empty() || o.kernelModule.empty() || o.out.empty())
    return std::nullopt;
  return o;
}

// The messages logged since the last call, tagged as the X server's log
// tags them.
void PrintMessages(const xstub::Sandbox& box, size_t* printed) {
  for (const std::string& line : TakeMessages(box, printed)) printf("%s\n", line.c_str());
}

int Run(const Options& o) {
  std::optional<std::string> configText = ReadFile(o.config);
  if (!configText) {
    fprintf(stderr, "orv_main_draw: cannot read %s\n", o.config.c_str());
    return kFailed;
  }
  std::optional<orvsim::PciLocation> at = BoardLocation(o.config);
  if (!at) return kFailed;

  orvmachine::Machine machine;
  orvmachine::MachineBoard* board = BuildMachine(o, *at, &machine);
  if (board == nullptr) return kFailed;
  printf("Machine: board %04X:%04X with %u MB at PCI %u:%u:%u, monitors on connectors",
         o.chip, o.subsystem, o.memoryMB, at->bus, at->device, at->function);
  for (const auto& e : o.edids) printf(" %u", e.first);
  printf("\n");
  // The kernel module as the machine's module loader leaves it. It outlives
  // the X server stand-in, which reaches it through its device node.
  orvmachine::KernelModule& module = machine.LoadKernelModule(*board, {.file = o.kernelModule});
  if (!module.error.empty()) {
    fprintf(stderr, "orv_main_draw: the kernel module %s was refused: %s\n", o.kernelModule.c_str(),
            module.error.c_str());
    return kFailed;
  }
  if (!module.Ready()) {
    fprintf(stderr, "orv_main_draw: the kernel module did not load or refused the board\n");
    return kFailed;
  }
  printf("Kernel module: %s loaded, the board's device made\n", o.kernelModule.c_str());

  std::vector<Monitor> monitors;
  std::vector<ScreenState> screens;
  int status = 0;
  {
    xstub::Sandbox box;
    xstub::XServer server;
    // The board's video BIOS, which reports the console's text mode.
    xstub::VbeModel bios;
    server.SetVbe(xstub::PciLocationId{static_cast<int>(at->bus), static_cast<int>(at->device),
                                       static_cast<int>(at->function)},
                  &bios);
    module.ProvideTo(box);
    size_t printed = 0;
    if (!server.ReadConfig(*configText)) {
      fprintf(stderr, "orv_main_draw: the X server stand-in refused %s\n", o.config.c_str());
      return kFailed;
    }
    xstub::XServer::LoadResult loaded = server.LoadModule(o.module);
    if (!loaded.ok) {
      fprintf(stderr, "orv_main_draw: %s did not load: %s\n", o.module.c_str(), loaded.error.c_str());
      return kFailed;
    }
    printf("Messages:\n");
    const bool probed = server.Probe();
    const int kept = probed ? server.PreInitScreens() : 0;
    const bool up = kept > 0 && server.InitScreens();
    PrintMessages(box, &printed);
    if (!up) {
      fprintf(stderr, "orv_main_draw: %s\n",
              !probed ? "the driver found no board" : kept == 0 ? "PreInit kept no screen" : "ScreenInit failed");
      return kFailed;
    }

    screens = ScreensOf(server, *board);
    for (size_t i = 0; i < screens.size(); ++i) {
      xstub::XaaFront front(xf86Screens[i]->pScreen);
      DrawScene(front, screens[i].shape);
    }
    server.RunMainLoop(1);
    PrintMessages(box, &printed);
    // What the framebuffer manager hands out is the screen's own memory:
    // pixmaps kept there are drawn through the screen's framebuffer. Each
    // screen's largest off-screen area is filled so, and no monitor's
    // picture may change for it.
    for (int i = 0; i < server.NumScreens(); ++i) {
      if (!FillOffscreenArea(xf86Screens[i]->pScreen)) {
        fprintf(stderr, "orv_main_draw: screen %d: its off-screen area could not be filled\n", i);
        return kFailed;
      }
    }

    monitors = MonitorsOf(*board, screens, o.spoil);

    server.CloseScreens();
    server.FreeScreens();
    PrintMessages(box, &printed);
    const std::string left = UnloadKernelModule(module);
    if (!left.empty()) {
      fprintf(stderr, "orv_main_draw: %s\n", left.c_str());
      return kFailed;
    }
    printf("Kernel module: the board's device destroyed, the module unloaded, nothing left\n");

    if (monitors.empty()) {
      fprintf(stderr, "orv_main_draw: no output shows a picture\n");
      return kFailed;
    }
    printf("Pictures:\n");
    for (size_t n = 0; n < monitors.size(); ++n) {
      Monitor& m = monitors[n];
      const std::string path = o.out + "/monitor-" + std::to_string(n + 1) + ".png";
      if (m.picture.Empty()) {
        printf("  %s: not written, %s shows controller %d, which shows nothing\n", path.c_str(), m.output,
               m.controller);
        continue;
      }
      const std::string error = WritePng(path, m.picture.width, m.picture.height, m.picture.rgb);
      if (!error.empty()) {
        fprintf(stderr, "orv_main_draw: %s\n", error.c_str());
        return kFailed;
      }
      printf("  %s: %s, controller %d, %ux%u", path.c_str(), m.output, m.controller, m.picture.width,
             m.picture.height);
      if (m.screen >= 0)
        printf(", screen %d at (%d, %d)\n", m.screen, m.x0, m.y0);
      else
        printf(", no screen's framebuffer\n");
    }

    // The references, drawn in software on screens of the same shapes.
    for (size_t n = 0; n < monitors.size(); ++n) {
      Monitor& m = monitors[n];
      const std::string name = "monitor-" + std::to_string(n + 1) + ".png";
      const Comparison c = CompareWithReference(server, *board, m, screens, DrawScene);
      if (!c.unusable.empty()) {
        printf("DIFFERS: %s %s\n", name.c_str(), c.unusable.c_str());
        status = kDiffers;
        continue;
      }
      if (c.equal) {
        printf("%s equals the reference scene\n", name.c_str());
        continue;
      }
      status = kDiffers;
      const std::string expectedPath = o.out + "/monitor-" + std::to_string(n + 1) + "-expected.png";
      const std::string error = WritePng(expectedPath, c.expected.width, c.expected.height, c.expected.rgb);
      printf("DIFFERS: %s differs from the reference in %" PRIu64 " pixels, first at (%u, %u): "
             "#%06X, expected #%06X (reference: %s)\n",
             name.c_str(), c.differing, c.firstX, c.firstY, c.got, c.wanted,
             error.empty() ? expectedPath.c_str() : error.c_str());
    }
  }
  return status;
}

}  // namespace
}  // namespace maindraw

int main(int argc, char** argv) {
  std::optional<maindraw::Options> options = maindraw::ParseOptions(argc, argv);
  if (!options) {
    maindraw::Usage();
    return maindraw::kFailed;
  }
  return maindraw::Run(*options);
}
