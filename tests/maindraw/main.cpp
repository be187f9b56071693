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
// on any monitor. The kernel module given is its
// test build (liborv_test_module.so): the shipped one cannot be loaded
// while the kernel's 3D engine is not built. After the screens are
// closed the board's device is destroyed and the module unloaded; anything
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

// The PCI location the configuration's Device sections of the driver name,
// through the configuration library; 1:0:0 when none names one. Null when
// the file cannot be read or the sections name different boards.
std::optional<orvsim::PciLocation> BoardLocation(const std::string& path) {
  FILE* stream = fopen(path.c_str(), "r");
  if (stream == nullptr) {
    fprintf(stderr, "orv_main_draw: cannot open %s\n", path.c_str());
    return std::nullopt;
  }
  xconf::SetConfigStream(stream, path.c_str());
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  if (file == nullptr) {
    fprintf(stderr, "orv_main_draw: the configuration library refused %s\n", path.c_str());
    return std::nullopt;
  }
  std::optional<orvsim::PciLocation> found;
  bool ok = true;
  for (XConfDevice* d = file->devices; d != nullptr && ok; d = d->next) {
    if (d->driver == nullptr || xf86nameCompare(d->driver, "orv") != 0 || d->busid == nullptr) continue;
    unsigned bus = 0, device = 0, function = 0;
    char tail = 0;
    if (sscanf(d->busid, "PCI:%u:%u:%u%c", &bus, &device, &function, &tail) != 3 || bus > 255 ||
        device > 31 || function > 7) {
      fprintf(stderr, "orv_main_draw: BusID \"%s\" of Device \"%s\" is not PCI:bus:device:function\n",
              d->busid, d->identifier != nullptr ? d->identifier : "");
      ok = false;
      break;
    }
    const orvsim::PciLocation at{static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                                 static_cast<uint8_t>(function)};
    if (found && (found->bus != at.bus || found->device != at.device || found->function != at.function)) {
      fprintf(stderr, "orv_main_draw: the Device sections name more than one board\n");
      ok = false;
    }
    found = at;
  }
  xf86freeConfig(file);
  if (!ok) return std::nullopt;
  return found.value_or(orvsim::PciLocation{1, 0, 0});
}

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

// Whether the local-memory byte `byte` starts a pixel of screen `s`; if so,
// the pixel's place in the screen.
bool PixelOfScreen(const ScreenState& s, uint64_t byte, int* x0, int* y0) {
  const uint64_t bytes = static_cast<uint64_t>(s.shape.bitsPerPixel / 8);
  if (bytes == 0 || s.pitch <= 0 || byte < s.fbLocal) return false;
  const uint64_t at = (byte - s.fbLocal) / bytes;
  if ((byte - s.fbLocal) % bytes != 0) return false;
  const uint64_t y = at / static_cast<uint64_t>(s.pitch), x = at % static_cast<uint64_t>(s.pitch);
  if (y >= static_cast<uint64_t>(s.shape.height) || x >= static_cast<uint64_t>(s.shape.width)) return false;
  *x0 = static_cast<int>(x);
  *y0 = static_cast<int>(y);
  return true;
}

// Takes the largest area the screen's framebuffer manager hands out and
// fills it through the screen's framebuffer, as a pixmap kept there would be
// drawn; the area is given back. True also when the screen has no manager
// or nothing to hand out.
bool FillOffscreenArea(ScreenPtr screen) {
  int w = 0, h = 0;
  if (!xf86QueryLargestOffscreenArea(screen, &w, &h, 0, 0, 0) || w <= 0 || h <= 0) return true;
  FBAreaPtr area = xf86AllocateOffscreenArea(screen, w, h, 0, nullptr, nullptr, nullptr);
  PixmapPtr pixmap = fbGetScreenPixmap(screen);
  if (area == nullptr || pixmap == nullptr || pixmap->devPrivate == nullptr) return false;
  const BoxRec box = area->box;
  printf("Screen %d: off-screen area (%d,%d)-(%d,%d) filled\n", screen->myNum, box.x1, box.y1, box.x2,
         box.y2);
  const size_t bytes = static_cast<size_t>(pixmap->bitsPerPixel / 8);
  uint8_t* base = static_cast<uint8_t*>(pixmap->devPrivate);
  for (int y = box.y1; y < box.y2; ++y)
    memset(base + static_cast<size_t>(y) * static_cast<size_t>(pixmap->devKind) + static_cast<size_t>(box.x1) * bytes,
           0xA5, static_cast<size_t>(box.x2 - box.x1) * bytes);
  xf86FreeOffscreenArea(area);
  return true;
}

// The messages logged since the last call, tagged as the X server's log
// tags them.
void PrintMessages(const xstub::Sandbox& box, size_t* printed) {
  static constexpr const char* kTags[] = {"(--)", "(**)", "(==)", "(++)", "(!!)",
                                          "(EE)", "(WW)", "(II)", "",     "(NI)"};
  const std::vector<xstub::Message>& messages = box.Messages();
  for (; *printed < messages.size(); ++*printed) {
    const xstub::Message& m = messages[*printed];
    std::string text = m.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const unsigned type = static_cast<unsigned>(m.type);
    const char* tag = type < std::size(kTags) ? kTags[type] : "";
    if (m.screen >= 0)
      printf("%s screen %d: %s\n", tag, m.screen, text.c_str());
    else
      printf("%s%s%s\n", tag, *tag != 0 ? " " : "", text.c_str());
  }
}

// Destroys the board's device and unloads the kernel module once the
// screens are closed, and checks that the module and the driver left nothing
// behind: no open file, mapping, region, page or block of memory.
bool UnloadKernelModule(orvmachine::KernelModule& module) {
  const kglue::Glue& glue = module.glue;
  const size_t files = glue.OpenFileCount(), mappings = glue.LiveUserMappings();
  const int unloaded = module.DestroyAndUnload();
  const size_t regions = glue.LiveRegions(), pages = glue.LiveLockedPages();
  const size_t blocks = glue.LiveBlocks().size(), misuses = glue.Misuses().size();
  if (unloaded != 0 || files + mappings + regions + pages + blocks + misuses != 0) {
    fprintf(stderr,
            "orv_main_draw: the kernel module was left %zu open files and %zu mappings; after its unload"
            " (answer %d) %zu regions, %zu locked pages and %zu blocks remain, %zu misuses\n",
            files, mappings, unloaded, regions, pages, blocks, misuses);
    for (const std::string& m : glue.Misuses()) fprintf(stderr, "  %s\n", m.c_str());
    return false;
  }
  printf("Kernel module: the board's device destroyed, the module unloaded, nothing left\n");
  return true;
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

    for (int i = 0; i < server.NumScreens(); ++i) {
      ScrnInfoPtr info = xf86Screens[i];
      ScreenState s;
      s.shape = ScreenShape{info->virtualX, info->virtualY, info->depth, info->bitsPerPixel};
      s.pitch = info->displayWidth;
      // The framebuffer's offset in the aperture reaches local memory
      // through the aperture window that covers it, if any.
      s.fbLocal = info->fbOffset;
      uint32_t local = 0;
      if (info->fbOffset <= UINT32_MAX &&
          orvsim::ApertureSlots(board->board).Resolve(static_cast<uint32_t>(info->fbOffset), &local))
        s.fbLocal = local;
      s.frameX0 = info->frameX0;
      s.frameY0 = info->frameY0;
      screens.push_back(s);
      xstub::XaaFront front(info->pScreen);
      DrawScene(front, s.shape);
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

    static constexpr struct {
      orvsim::BoardOutput output;
      const char* name;
    } kOutputs[] = {{orvsim::BoardOutput::kDac1, "DAC 1"},
                    {orvsim::BoardOutput::kDac2, "DAC 2"},
                    {orvsim::BoardOutput::kDvo1, "DVO 1"},
                    {orvsim::BoardOutput::kDvo2, "DVO 2"}};
    for (const auto& out : kOutputs) {
      const int controller = orvsim::OutputController(board->display->Outputs(), out.output);
      if (controller < 0) continue;
      Monitor m{out.name, controller, {}};
      const orvsim::ControllerSurface surface = orvsim::ReadControllerSurface(board->board, controller);
      for (size_t s = 0; s < screens.size() && m.screen < 0; ++s)
        if (PixelOfScreen(screens[s], surface.FirstPixelByte(), &m.x0, &m.y0)) m.screen = static_cast<int>(s);
      if (o.spoil && monitors.empty() && surface.bytes_per_pixel != 0) {
        // A pixel the driver would have got wrong, in the middle of the
        // first monitor's picture.
        const uint64_t byte = surface.FirstPixelByte() +
                              (uint64_t{(surface.window_y1 - surface.window_y0) / 2} * surface.pitch +
                               (surface.window_x1 - surface.window_x0) / 2) *
                                  surface.bytes_per_pixel;
        if (byte < board->board.LocalMemorySize()) board->board.LocalMemory()[byte] ^= 0x55;
      }
      m.picture = orvsim::ControllerPicture(board->board, board->display->Lut(), controller);
      monitors.push_back(std::move(m));
    }

    server.CloseScreens();
    server.FreeScreens();
    PrintMessages(box, &printed);
    if (!UnloadKernelModule(module)) return kFailed;

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
      if (m.picture.Empty() || m.screen < 0) {
        printf("DIFFERS: %s shows %s\n", name.c_str(), m.picture.Empty() ? "nothing" : "no screen's framebuffer");
        status = kDiffers;
        continue;
      }
      const ScreenState& s = screens[static_cast<size_t>(m.screen)];
      if (m.x0 != s.frameX0 || m.y0 != s.frameY0) {
        printf("DIFFERS: %s shows screen %d from (%d, %d), its viewport starts at (%d, %d)\n", name.c_str(),
               m.screen, m.x0, m.y0, s.frameX0, s.frameY0);
        status = kDiffers;
        continue;
      }
      const std::vector<uint8_t> pixels = DrawReference(server, s.shape);
      const orvsim::ChipLut& lut = board->display->Lut();
      const unsigned controller = static_cast<unsigned>(m.controller);
      const orvsim::Picture expected = ReferencePicture(
          pixels, s.shape, m.x0, m.y0, m.picture.width, m.picture.height, [&](uint32_t index) {
            const orvsim::LutEntry e = lut.At(controller, index);
            return (e.red >> 8 & 0xFF) << 16 | (e.green >> 8 & 0xFF) << 8 | (e.blue >> 8 & 0xFF);
          });
      if (expected.Empty()) {
        printf("DIFFERS: %s shows a window outside screen %d\n", name.c_str(), m.screen);
        status = kDiffers;
        continue;
      }
      uint64_t differing = 0;
      uint32_t fx = 0, fy = 0;
      for (uint32_t y = 0; y < expected.height; ++y)
        for (uint32_t x = 0; x < expected.width; ++x)
          if (expected.At(x, y) != m.picture.At(x, y) && differing++ == 0) {
            fx = x;
            fy = y;
          }
      if (differing == 0) {
        printf("%s equals the reference scene\n", name.c_str());
        continue;
      }
      status = kDiffers;
      const std::string expectedPath = o.out + "/monitor-" + std::to_string(n + 1) + "-expected.png";
      const std::string error = WritePng(expectedPath, expected.width, expected.height, expected.rgb);
      printf("DIFFERS: %s differs from the reference in %" PRIu64 " pixels, first at (%u, %u): "
             "#%06X, expected #%06X (reference: %s)\n",
             name.c_str(), differing, fx, fy, m.picture.At(fx, fy), expected.At(fx, fy),
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
