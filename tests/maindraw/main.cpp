// The main job's drawing program: an X server stand-in with a simulated
// machine runs the X driver module on an X configuration file and draws a
// fixed scene on every screen; each monitor's picture is written as a PNG
// file and compared with the same scene drawn in software.
//
//   orv_main_draw --config FILE --module orv_drv.so --kernel-module FILE
//                 --out DIR [--board CHIP:SUBSYSTEM] [--memory MB]
//                 [--edid CONNECTOR=FILE]... [--outputs N] [--client3d]
//                 [--vt-switch] [--spoil]
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
// (liborv.so).
//
// --client3d: a 3D client process (tests/maindraw/client_window.h) takes
// its device from the driver's direct-client hook and draws its scene in a
// window on the first screen (16 bits a pixel); the board gets its vertex
// engine and 3D rasteriser. The first screen's reference is the scene with
// the client's target, drawn in software from the board's rules
// (tests/maindraw/scene3d.h), presented into the window's visible part.
//
// --vt-switch: after the pictures are taken, one console switch: the X
// server leaves the virtual terminal (the driver's LeaveVT: request 23 per
// screen), another user of the board overwrites its whole local memory,
// the server comes back (EnterVT: requests 22 and 28 per screen) and
// paints every screen again; the client re-attaches (request 3) and draws
// its next frame. The pictures are taken again, written as
// monitor-N-after-vt.png and compared with the same references.
//
// After the screens are closed the board's device is destroyed and the module unloaded; anything
// it or the driver left behind fails the run. The program reads only
// the files it is given and writes only DIR/monitor-N.png (and
// DIR/monitor-N-after-vt.png; for a picture that differs, the same name
// with -expected), beside the X server
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
#include "tests/maindraw/client_window.h"
#include "tests/maindraw/desktop.h"
#include "tests/maindraw/machine.h"
#include "tests/maindraw/png_file.h"
#include "tests/maindraw/reference.h"
#include "tests/maindraw/scene.h"
#include "tests/maindraw/scene3d.h"
#include "tools/lib/parser/xconfig.h"

namespace maindraw {
namespace {

constexpr int kDiffers = 1;
constexpr int kFailed = 2;

void Usage() {
  fprintf(stderr,
          "usage: orv_main_draw --config FILE --module FILE --kernel-module FILE --out DIR\n"
          "                     [--board CHIP:SUBSYSTEM] [--memory MB] [--edid CONNECTOR=FILE]...\n"
          "                     [--outputs N] [--client3d] [--vt-switch] [--spoil]\n");
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
    if (arg == "--spoil" || arg == "--client3d" || arg == "--vt-switch") {
      (arg == "--spoil" ? o.spoil : arg == "--client3d" ? o.client3d : o.vtSwitch) = true;
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

// The kernel module's log since the last call, one line each after
// "Kernel: ".
void PrintKernelMessages(const kglue::Glue& glue, size_t* printed) {
  const std::vector<kglue::LogLine>& log = glue.Log();
  for (; *printed < log.size(); ++*printed) {
    std::string text = log[*printed].text;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    printf("Kernel: %s\n", text.c_str());
  }
}

// The device node as the driver reaches it, every call passed on to the
// kernel glue's bridge; the numbers of the requests are kept.
class NodeRequests : public xstub::Endpoint {
 public:
  explicit NodeRequests(xstub::Endpoint& bridge) : bridge_(bridge) {}
  int Ioctl(uint32_t minor, unsigned long code, void* arg) override { return bridge_.Ioctl(minor, code, arg); }
  int OpenFile(uint32_t minor, uint64_t file) override { return bridge_.OpenFile(minor, file); }
  void CloseFile(uint32_t minor, uint64_t file) override { bridge_.CloseFile(minor, file); }
  int FileIoctl(uint32_t minor, uint64_t file, unsigned long code, void* arg) override {
    numbers_.push_back(static_cast<uint32_t>(code & 0xFF));
    return bridge_.FileIoctl(minor, file, code, arg);
  }
  void* FileMmap(uint32_t minor, uint64_t file, uint64_t offset, size_t length) override {
    return bridge_.FileMmap(minor, file, offset, length);
  }
  void FileUnmap(uint32_t minor, uint64_t file, void* address, size_t length) override {
    bridge_.FileUnmap(minor, file, address, length);
  }

  // The numbers of the requests since the last call that make, start,
  // stop and end the device objects and declare their primary surfaces
  // (20 to 23 and 28), one space before each.
  std::string Take() {
    std::string out;
    for (; taken_ < numbers_.size(); ++taken_) {
      const uint32_t n = numbers_[taken_];
      if ((n >= 20 && n <= 23) || n == 28) out += " " + std::to_string(n);
    }
    return out;
  }

 private:
  xstub::Endpoint& bridge_;
  std::vector<uint32_t> numbers_;
  size_t taken_ = 0;
};

// The drawing of every screen through the driver's hooks.
void DrawEveryScreen(const std::vector<ScreenState>& screens) {
  for (size_t i = 0; i < screens.size(); ++i) {
    xstub::XaaFront front(xf86Screens[i]->pScreen);
    DrawScene(front, screens[i].shape);
  }
}

// The pictures of one moment, written as monitor-N<suffix>.png.
struct PictureSet {
  std::string suffix;
  std::vector<Monitor> monitors;
};

// Writes the set's pictures; false (with a message) when one cannot be
// written.
bool WritePictures(const std::string& out, const PictureSet& set) {
  for (size_t n = 0; n < set.monitors.size(); ++n) {
    const Monitor& m = set.monitors[n];
    const std::string path = out + "/monitor-" + std::to_string(n + 1) + set.suffix + ".png";
    if (m.picture.Empty()) {
      printf("  %s: not written, %s shows controller %d, which shows nothing\n", path.c_str(), m.output,
             m.controller);
      continue;
    }
    const std::string error = WritePng(path, m.picture.width, m.picture.height, m.picture.rgb);
    if (!error.empty()) {
      fprintf(stderr, "orv_main_draw: %s\n", error.c_str());
      return false;
    }
    printf("  %s: %s, controller %d, %ux%u", path.c_str(), m.output, m.controller, m.picture.width,
           m.picture.height);
    if (m.screen >= 0)
      printf(", screen %d at (%d, %d)\n", m.screen, m.x0, m.y0);
    else
      printf(", no screen's framebuffer\n");
  }
  return true;
}

// The 3D client's window as its reference draws it: where it lies and
// what its targets hold.
struct Window3d {
  client3d::SceneLayout layout;
  Target target;
};

// Compares the set's pictures with their references, drawn in software on
// screens of the same shapes; the first screen's with the 3D client's
// window when it is given. False when one differs.
bool CompareWithReferences(const std::string& out, xstub::XServer& server, orvmachine::MachineBoard& board,
                           const PictureSet& set, const std::vector<ScreenState>& screens,
                           const Window3d* window) {
  bool all = true;
  for (size_t n = 0; n < set.monitors.size(); ++n) {
    const Monitor& m = set.monitors[n];
    const std::string stem = "monitor-" + std::to_string(n + 1) + set.suffix;
    const std::string name = stem + ".png";
    const bool withWindow = window != nullptr && m.screen == 0;
    Comparison c;
    if (withWindow) {
      c = CompareWithPixels(board, m, screens,
                            PresentedDesktop(DrawReference(server, screens[0].shape), screens[0], window->layout,
                                             window->target));
    } else {
      c = CompareWithReference(server, board, m, screens, DrawScene);
    }
    const char* what = withWindow ? "the reference scene with the 3D window" : "the reference scene";
    if (!c.unusable.empty()) {
      printf("DIFFERS: %s %s\n", name.c_str(), c.unusable.c_str());
      all = false;
      continue;
    }
    if (c.equal) {
      printf("%s equals %s\n", name.c_str(), what);
      continue;
    }
    all = false;
    const std::string expectedPath = out + "/" + stem + "-expected.png";
    const std::string error = WritePng(expectedPath, c.expected.width, c.expected.height, c.expected.rgb);
    printf("DIFFERS: %s differs from the reference in %" PRIu64 " pixels, first at (%u, %u): "
           "#%06X, expected #%06X (reference: %s)\n",
           name.c_str(), c.differing, c.firstX, c.firstY, c.got, c.wanted,
           error.empty() ? expectedPath.c_str() : error.c_str());
  }
  return all;
}

int Run(const Options& given) {
  Options o = given;
  // The 3D client's device: the vertex engine's memories and the
  // rasteriser behind the DMA engine.
  if (o.client3d) o.extraParts |= orvmachine::kVertex | orvmachine::k3d;
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
  size_t printedKernel = 0;
  PrintKernelMessages(module.glue, &printedKernel);

  std::vector<PictureSet> sets;
  std::vector<ScreenState> screens;
  std::optional<Window3d> window;
  int status = 0;
  {
    xstub::Sandbox box;
    xstub::XServer server;
    // The board's video BIOS, which reports the console's text mode.
    xstub::VbeModel bios;
    server.SetVbe(xstub::PciLocationId{static_cast<int>(at->bus), static_cast<int>(at->device),
                                       static_cast<int>(at->function)},
                  &bios);
    NodeRequests node(module.bridge);
    box.ProvideKernelModule("orv", orvmachine::kNodeMajor, &node);
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
    PrintKernelMessages(module.glue, &printedKernel);
    if (!up) {
      fprintf(stderr, "orv_main_draw: %s\n",
              !probed ? "the driver found no board" : kept == 0 ? "PreInit kept no screen" : "ScreenInit failed");
      return kFailed;
    }
    printf("Requests to the device node:%s\n", node.Take().c_str());
    // What the board's engines found wrong while the desktop came up fails
    // the run at once, as any later decode error or fault does at its end.
    const std::vector<std::string> bringUp = EngineErrors(*board);
    for (const std::string& e : bringUp) fprintf(stderr, "orv_main_draw: at bring-up: %s\n", e.c_str());
    if (!bringUp.empty()) return kFailed;

    screens = ScreensOf(server, *board);
    DrawEveryScreen(screens);
    server.RunMainLoop(1);
    PrintMessages(box, &printed);
    PrintKernelMessages(module.glue, &printedKernel);
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

    std::unique_ptr<ClientWindow> client;
    if (o.client3d) {
      if (screens.empty() || screens[0].shape.bitsPerPixel != 16) {
        fprintf(stderr, "orv_main_draw: the 3D client's targets are 16 bits a pixel; screen 0 has %d\n",
                screens.empty() ? 0 : screens[0].shape.bitsPerPixel);
        return kFailed;
      }
      std::string error;
      client = ClientWindow::Start(o.module, xf86Screens[0]->pScreen, module.glue, &error);
      if (client == nullptr || !client->DrawFrame(&error)) {
        fprintf(stderr, "orv_main_draw: the 3D client failed: %s\n", error.c_str());
        return kFailed;
      }
    }

    sets.push_back({"", MonitorsOf(*board, screens, o.spoil)});

    if (o.vtSwitch) {
      printf("Console switch:\n");
      server.LeaveVT();
      PrintMessages(box, &printed);
      PrintKernelMessages(module.glue, &printedKernel);
      printf("LeaveVT: requests to the device node:%s\n", node.Take().c_str());
      if (client) client->ProbeWhileAway();
      // Another user of the board, while the server is away.
      memset(board->board.LocalMemory(), 0xA5, board->board.LocalMemorySize());
      printf("Local memory overwritten with 0xA5: partitions of %" PRIu64 " and %" PRIu64 " MB\n",
             board->board.Partition0Size() >> 20, board->board.Partition1Size() >> 20);
      const bool back = server.EnterVT();
      PrintMessages(box, &printed);
      PrintKernelMessages(module.glue, &printedKernel);
      printf("EnterVT: requests to the device node:%s\n", node.Take().c_str());
      if (!back) {
        fprintf(stderr, "orv_main_draw: a screen did not come back from the console switch\n");
        return kFailed;
      }
      // The server paints its screens again on its return.
      DrawEveryScreen(screens);
      server.RunMainLoop(1);
      PrintMessages(box, &printed);
      PrintKernelMessages(module.glue, &printedKernel);
      if (client) {
        std::string error;
        if (client->Reattach() != 0 || !client->DrawFrame(&error)) {
          fprintf(stderr, "orv_main_draw: the 3D client did not come back: %s\n",
                  error.empty() ? "request 3 was refused" : error.c_str());
          return kFailed;
        }
      }
      sets.push_back({"-after-vt", MonitorsOf(*board, screens, false)});
    }
    // The client's window, for the reference; the client goes before the
    // screens, as its process ends first.
    if (client) window = Window3d{client->scene().layout(), ReferenceTarget(client->scene(), true)};
    client.reset();
    PrintMessages(box, &printed);
    PrintKernelMessages(module.glue, &printedKernel);

    server.CloseScreens();
    server.FreeScreens();
    PrintMessages(box, &printed);
    PrintKernelMessages(module.glue, &printedKernel);
    const std::string left = UnloadKernelModule(module);
    if (!left.empty()) {
      fprintf(stderr, "orv_main_draw: %s\n", left.c_str());
      return kFailed;
    }
    PrintKernelMessages(module.glue, &printedKernel);
    printf("Kernel module: the board's device destroyed, the module unloaded, nothing left\n");
    // A decode error or a fault of the board's engines after the bring-up,
    // up to the unload, fails the run.
    const std::vector<std::string> errors = EngineErrors(*board);
    for (const std::string& e : errors) fprintf(stderr, "orv_main_draw: %s\n", e.c_str());
    if (!errors.empty()) return kFailed;

    if (sets[0].monitors.empty()) {
      fprintf(stderr, "orv_main_draw: no output shows a picture\n");
      return kFailed;
    }
    printf("Pictures:\n");
    for (const PictureSet& set : sets)
      if (!WritePictures(o.out, set)) return kFailed;
    for (const PictureSet& set : sets)
      if (!CompareWithReferences(o.out, server, *board, set, screens, window ? &*window : nullptr))
        status = kDiffers;
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
