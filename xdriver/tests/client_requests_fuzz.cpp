// Fuzz target of what an X client can ask of the driver beyond drawing:
// DGA (modes, viewports, fills and blits, xdriver/orv_dga.cpp), cursor
// images of any size, hot spot, bits or colours (orv_cursor.cpp), palette
// loads of any range and colours (orv_palette.cpp), and the direct-client
// hooks the OpenGL module finds by name, with the screens, buffers and
// handles it passes on (orv_glx.cpp). The screens are the driver's own:
// two heads of a board at depth 24 brought up by PreInit and ScreenInit in
// the X server stand-in, talking to the kernel module's node (answered by
// the fake endpoint, whose posted ranges run on the board's DMA engine).
// Nothing may read or write outside its buffers (the sanitizers watch),
// and the board's engines may meet no malformed packet and no fault.
//
// The machine and the screens serve the whole run. After an input the
// screen leaves DGA, shows a plain cursor, gets the colours it started
// with, and the client buffers and direct client the input left are given
// back, as the server and the OpenGL module do when a client goes; the fake
// endpoint must then hold the buffers it held before the input.
//
// Program: operations of an opcode byte (modulo 4) and its operands;
// missing bytes read as 0. See tests/data/xdriver_client_requests_fuzz.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "kernel/tests/fuzz_reader.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_dma.h"
#include "platform/xserver/dga.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_glx.h"
#include "xdriver/orv_rec.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using orvfuzz::Reader;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "xdriver client requests fuzz: %s\n", what);
    abort();
  }
}

constexpr int kHeads = 2;
constexpr int kMaxSteps = 32;
// Mode sets of one input. A mode set costs the driver a clock search and
// waits on the display of a few frames, more than any other operation; two
// reach every change between modes (into DGA, between its modes and out),
// and the later ones of a longer input are skipped.
constexpr int kMostModeSets = 2;
// The line of a wait that gave up: on the simulated board, whose engines
// finish whatever they are given, no wait may.
constexpr const char* kWaitGaveUp = "no progress after";

// The board at 1:4:0 with its engines, the driver's two screens on it.
struct Desktop {
  orvmachine::Machine machine;
  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  xstub::XServer server;
  orvmachine::MachineBoard* parts = nullptr;
  // What the screens' colormaps held when they came up.
  std::vector<LOCO> colours[kHeads];
  // The buffers the fake endpoint held when the screens came up.
  size_t kernelBuffers = 0;

  Desktop() {
    orvstandin::Reset();
    fetest::Description() = fetest::BoardDescription();
    fetest::Description().edids[0] = fetest::MonitorEdid();
    fetest::Description().edids[1] = fetest::MonitorEdid(true);
    // The first chip, revision 2, whose idle test the fake endpoint's
    // shared block matches (it carries no chip revision).
    orvmachine::BoardSpec spec;
    spec.config.device_id = 0x0A41;
    spec.config.revision = 2;
    spec.config.subsystem_id = 0x0301;
    spec.config.memory_size = uint64_t{64} << 20;
    spec.config.location = orvsim::PciLocation{1, 4, 0};
    spec.parts = orvmachine::k2d | orvmachine::kWindows | orvmachine::kRomFlash | orvmachine::kDisplay;
    spec.flash = fetest::DescriptionRom();
    parts = &machine.AddBoard(spec);
    // Nothing here reads the board's record of register accesses.
    parts->board.SetLogging(false, false);
    for (const auto& [output, edid] : fetest::Description().edids) machine.AttachMonitor(*parts, output, edid);
    kernel.SetMinor(1, 4, 0, 0);
    kernel.AttachDmaEngine(parts->dma.get(), &parts->board);
    box.ProvideKernelModule("orv", 243, &kernel);
    Check(server.ReadConfig(fetest::FrontEnd::Config(kHeads, "  Option \"NoLogo\"\n", 24)), "the configuration was refused");
    Check(server.LoadModuleData("orv", &orvModuleData).ok, "the driver did not load");
    Check(server.Probe(), "no board was found");
    Check(server.PreInitScreens() == kHeads, "PreInit refused a screen");
    Check(server.InitScreens(), "ScreenInit failed");
    for (int s = 0; s < kHeads; ++s) {
      ColormapPtr cmap = miInstalledColormap(xf86Screens[s]->pScreen);
      Check(cmap != nullptr, "a screen has no colormap");
      colours[s].assign(cmap->entries, cmap->entries + cmap->numEntries);
    }
    Check(!box.Logged(kWaitGaveUp), "a wait on the board gave up while the screens came up");
    kernelBuffers = kernel.BufferCount();
    Settle();
  }

  // The record of what ran, and the messages, dropped.
  void Settle() {
    for (int s = 0; s < kHeads; ++s) server.ClearCursorCalls(s);
    kernel.ClearCalls();
    parts->dma->ClearWrites();
    parts->dma->ClearTrace();
    parts->board.ClearLog();
    box.ClearMessages();
  }
};

Desktop& TheDesktop() {
  static Desktop* desktop = new Desktop;  // made once, never taken down
  return *desktop;
}

// A coordinate or size: a byte below 0xF0 gives a small one (-128 to 111),
// else a 16-bit one follows. Small ones keep most fills and blits cheap
// for the simulated engine, which walks every pixel.
int Coordinate(Reader& in) {
  const uint8_t how = in.Byte();
  return how < 0xF0 ? static_cast<int8_t>(how) : static_cast<int16_t>(in.Half());
}

// A cursor of the input's size (up to 80 x 80, past the driver's 64), hot
// spot, colours and bits or ARGB pixels.
void ShowCursor(Desktop& d, int screen, Reader& in) {
  const uint8_t how = in.Byte();
  const int width = 1 + in.Byte() % 80;
  const int height = 1 + in.Byte() % 80;
  const bool argb = (how & 1) != 0;
  xstub::TestCursor cursor(width, height, in.Byte() % 96, in.Byte() % 96, argb);
  cursor.SetColours(in.Half(), in.Half(), in.Half(), in.Half(), in.Half(), in.Half());
  // Rows of the input's bits or pixels; the rest of the image repeats them.
  const int rows = 1 + in.Byte() % 8;
  for (int y = 0; y < rows && y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (argb) {
        const uint32_t pixel = (how & 2) != 0 ? in.Word() : 0xFF000000u * (in.Byte() & 1) | in.Byte() * 0x010101u;
        for (int yy = y; yy < height; yy += rows) cursor.SetArgb(x, yy, pixel);
      } else if (x % 8 == 0) {
        const uint8_t source = in.Byte(), mask = in.Byte();
        for (int b = 0; b < 8 && x + b < width; ++b) {
          for (int yy = y; yy < height; yy += rows) {
            cursor.SetSource(x + b, yy, (source >> b & 1) != 0);
            cursor.SetMask(x + b, yy, (mask >> b & 1) != 0);
          }
        }
      }
    }
  }
  d.server.DisplayCursor(screen, cursor.get(), Coordinate(in), Coordinate(in));
  d.server.MoveCursor(screen, Coordinate(in), Coordinate(in));
  // The server keeps showing the cursor it was given last: a plain one
  // takes this one's place before it goes.
  xstub::TestCursor plain(16, 16);
  d.server.DisplayCursor(screen, plain.get(), 0, 0);
}

// Colours of the colormap from an index, of any count, as a client's
// StoreColors gives them; the driver loads them at the next block handler.
void StoreColours(Desktop& d, int screen, Reader& in) {
  const int first = static_cast<int16_t>(in.Half()) % 300;
  const int count = in.Byte() + (in.Byte() & 1) * 256;
  std::vector<LOCO> colours(static_cast<size_t>(count));
  for (LOCO& c : colours) c = {static_cast<unsigned short>(in.Half()), static_cast<unsigned short>(in.Half()),
                               static_cast<unsigned short>(in.Half())};
  xf86StoreColors(xf86Screens[screen]->pScreen, first, count, colours.data());
  d.server.RunMainLoop(1);
}

// The direct-client hooks with what the OpenGL module passes on: a screen
// of the server or a record naming any screen number, buffers it was given
// or any address and handle.
struct Glx {
  struct Buffer {
    void* address;
    uint64_t handle;
    int screen;  // the screen whose device gave it
  };
  // Every buffer the input was given and has not freed: each one is given
  // back when the input ends, or it would stay the fake endpoint's (and
  // the process's) for the rest of the run.
  std::vector<Buffer> buffers;
  bool direct[kHeads] = {};

  Glx() { buffers.reserve(kMaxSteps); }

  void Run(int screen, Reader& in) {
    ScreenRec stranger{};
    const uint8_t how = in.Byte();
    ScreenPtr target = xf86Screens[screen]->pScreen;
    if ((how & 0x80) != 0) {
      stranger.myNum = static_cast<int16_t>(in.Half());
      target = &stranger;
    }
    switch (how % 7) {
      case 0:
        (void)ORVGLXInitialize(target, nullptr);
        break;
      case 1:
        (void)ORVGLXCleanup(target);
        break;
      case 2: {
        uint8_t minor = 0;
        uint64_t handle = 0;
        if (ORVGLXEnableDirectClient(target, &minor, &handle) != 0 && target != &stranger) direct[screen] = true;
        break;
      }
      case 3:
        if (ORVGLXDisableDirectClient(target) != 0 && target != &stranger) direct[screen] = false;
        break;
      case 4: {
        void* address = nullptr;
        uint64_t handle = 0;
        if (ORVGLXAllocateClientBuffer(target, &address, &handle) != 0)
          buffers.push_back({address, handle, target->myNum});
        break;
      }
      case 5: {
        // A buffer given before, its handle or address changed, or any.
        const uint8_t pick = in.Byte();
        Buffer b{reinterpret_cast<void*>(static_cast<uintptr_t>(in.Quad())), in.Quad(), screen};
        if (!buffers.empty() && pick < 0xC0) {
          const size_t i = pick % buffers.size();
          b = buffers[i];
          if ((pick & 0x40) != 0) b.handle ^= in.Word();
          if (ORVGLXFreeClientBuffer(target, b.address, b.handle) != 0 && (pick & 0x40) == 0)
            buffers.erase(buffers.begin() + static_cast<long>(i));
        } else {
          (void)ORVGLXFreeClientBuffer(target, b.address, b.handle);
        }
        break;
      }
      default: {
        uint32_t info[4] = {};
        (void)ORVGLXGetModeInfo(target, info);
        break;
      }
    }
  }

  // What the input left is given back as the module does when its client
  // goes.
  void GiveBack() {
    for (const Buffer& b : buffers) (void)ORVGLXFreeClientBuffer(xf86Screens[b.screen]->pScreen, b.address, b.handle);
    buffers.clear();
    for (int s = 0; s < kHeads; ++s) {
      if (direct[s]) (void)ORVGLXDisableDirectClient(xf86Screens[s]->pScreen);
      direct[s] = false;
    }
  }
};

// A screen's DGA client, and whether it entered DGA.
struct DgaSession {
  std::unique_ptr<xstub::DgaClient> client;
  bool entered = false;
};

void Dga(DgaSession& session, int screen, Reader& in, int& modeSets) {
  std::unique_ptr<xstub::DgaClient>& client = session.client;
  if (!client) {
    client = std::make_unique<xstub::DgaClient>(screen);
    if (!client->Available() || !client->OpenFramebuffer()) return;
  }
  switch (in.Byte() % 6) {
    case 0: {
      const int mode = in.Byte() % (client->ModeCount() + 2);
      if (modeSets++ >= kMostModeSets) break;
      if (client->SetMode(mode)) session.entered = mode != 0;
      break;
    }
    case 1:
      client->SetViewport(Coordinate(in), Coordinate(in), in.Byte() % 4);
      (void)client->GetViewport();
      break;
    case 2:
      client->FillRect(Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in), in.Word());
      break;
    case 3:
      client->BlitRect(Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in),
                       Coordinate(in));
      break;
    case 4:
      client->BlitTransRect(Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in),
                            Coordinate(in), in.Word());
      break;
    default:
      client->Sync();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Desktop& d = TheDesktop();
  Reader in(data, size);
  DgaSession dga[kHeads];
  Glx glx;
  int steps = 0;
  int modeSets = 0;
  while (in.More() && ++steps < kMaxSteps) {
    const uint8_t op = in.Byte();
    const int screen = (op >> 2) & 1;
    switch (op % 4) {
      case 0:
        Dga(dga[screen], screen, in, modeSets);
        break;
      case 1:
        ShowCursor(d, screen, in);
        break;
      case 2:
        StoreColours(d, screen, in);
        break;
      default:
        glx.Run(screen, in);
        break;
    }
  }
  // The client goes: out of DGA, its buffers and direct client given back,
  // the colours it changed as they were.
  for (DgaSession& session : dga) {
    if (session.client && session.entered) session.client->SetMode(0);
    if (session.client && session.client->Available()) session.client->CloseFramebuffer();
    session.client.reset();
  }
  glx.GiveBack();
  for (int s = 0; s < kHeads; ++s)
    xf86StoreColors(xf86Screens[s]->pScreen, 0, static_cast<int>(d.colours[s].size()), d.colours[s].data());
  d.server.RunMainLoop(1);
  Check(d.parts->dma->DecodeErrors().empty(), "the DMA engine met a malformed packet");
  if (!d.parts->engine2d->Faults().empty()) {
    const orvsim::Engine2d::Fault& f = d.parts->engine2d->Faults().front();
    fprintf(stderr, "xdriver client requests fuzz: the 2D engine's %s %s outside the board's memory at 0x%08X (%u pixels)\n",
            f.operation.c_str(), f.write ? "wrote" : "read", f.address, f.pixels);
    abort();
  }
  Check(!d.box.Logged(kWaitGaveUp), "a wait on the board gave up");
  Check(d.kernel.BufferCount() == d.kernelBuffers, "a buffer the input was given is still held");
  d.Settle();
  return 0;
}
