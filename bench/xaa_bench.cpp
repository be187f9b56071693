// The XAA hooks in local-DMA mode on a simulated board (the DMA engine
// decodes every started range): rectangle lists, span lists and a mix of
// the two, in drawing commands per second, next to the driver core's packet
// writer storing and starting the same number of packet words through the
// same primary interface. The mix has screen copies, each through its
// temporary surface.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/pci_config.h"
#include "core/pdev.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/primary_surface.h"
#include "xdriver/temp_bit.h"
#include "xdriver/xaa_hooks.h"
#include "xdriver/xaa_setup.h"

namespace {

struct Screen {
  Screen() {
    orvmachine::BoardSpec spec;
    spec.config.memory_size = 64u << 20;
    spec.parts = orvmachine::kDma;
    orvmachine::MachineBoard& parts = machine.AddBoard(spec);
    board = &parts.board;
    dma = parts.dma.get();
    box.AttachBus(&machine.sim.Pci());
    box.AttachPhysicalMap(&machine.sim.Phys());
    box.AttachClock(&machine.sim.GetClock());
    board->SetLogging(false, false);
    dma->SetRecording(false);
    const auto at = board->Location();
    device = std::make_unique<EmulatedLnxDevice>(pciGetHandle(at.bus, at.device, at.function));
    device->Open();
    mode.dimension1 = 1024;
    mode.dimension2 = 768;
    mode.bitsPerPixel = 32;
    mode.bytesPerPixel = 4;
    mode.storageBits = 32;
    mode.pixelFormat = 50;
    mode.pixelFormat2 = 48;
    mode.localDma = 1;
    mode.lastRegWritten = reinterpret_cast<uintptr_t>(&lastReg);
    mode.registerWindowSize = 8192;
    uint8_t ok = 0;
    pdev = new PDEV(device.get(), &mode, 0, &ok);
    const bool primary = ok != 0 && CreatePrimarySurface(pdev) &&
                         pdev->data2d.tempBits[1]->Enable(pdev->surfaceManager);
    scrn = server.NewScrnInfo();
    scrn->bitsPerPixel = 32;
    info = XAACreateInfoRec();
    // One private slot for the process, as a driver keeps it: every run
    // makes a new screen, and a server has only so many slots.
    static const int privateIndex = xf86AllocateScrnInfoPrivateIndex();
    ready = ok != 0 && primary && KstrnXAAInit(pdev, scrn, privateIndex, info) == 1 &&
            KstrnXaaDataOf(scrn) != nullptr;
  }
  ~Screen() {
    KstrnXAACleanup(pdev, scrn);
    XAADestroyInfoRec(info);
    delete pdev;
  }

  orvmachine::Machine machine;
  orvsim::Board* board;
  orvsim::DmaEngine* dma;
  xstub::Sandbox box;
  xstub::XServer server;
  std::unique_ptr<EmulatedLnxDevice> device;
  uint32_t lastReg = 0;
  VideoMode mode = {};
  PDEV* pdev = nullptr;
  ScrnInfoPtr scrn = nullptr;
  XAAInfoRecPtr info = nullptr;
  bool ready = false;  // the screen draws through XAA
};

std::vector<BoxRec> Rectangles() {
  std::vector<BoxRec> boxes;
  for (short i = 0; i < 16; ++i) boxes.push_back(BoxRec{short(4 * i), short(3 * i), short(4 * i + 20), short(3 * i + 9)});
  return boxes;
}

void Spans(std::vector<DDXPointRec>* points, std::vector<int>* widths) {
  for (short i = 0; i < 32; ++i) {
    points->push_back(DDXPointRec{short(100 + (i % 7)), short(200 + i)});
    widths->push_back(40 + i);
  }
}

void BM_XaaRectangleLists(benchmark::State& state) {
  Screen s;
  if (!s.ready) return state.SkipWithError("the screen did not come up with XAA");
  std::vector<BoxRec> boxes = Rectangles();
  for (auto _ : state) {
    KstrnXAAFillSolidRects(s.scrn, 0x123456, GXcopy, 0xFFFFFFFF, static_cast<int>(boxes.size()), boxes.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(boxes.size()));
  state.SetLabel("rectangles");
}
BENCHMARK(BM_XaaRectangleLists);

void BM_XaaSpanLists(benchmark::State& state) {
  Screen s;
  if (!s.ready) return state.SkipWithError("the screen did not come up with XAA");
  std::vector<DDXPointRec> points;
  std::vector<int> widths;
  Spans(&points, &widths);
  for (auto _ : state) {
    KstrnXAAFillSolidSpans(s.scrn, 0x654321, GXcopy, 0xFFFFFFFF, static_cast<int>(points.size()),
                           points.data(), widths.data(), 1);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
  state.SetLabel("spans");
}
BENCHMARK(BM_XaaSpanLists);

// Screen copies of 64 x 32 pixels, each through its own temporary surface.
void BM_XaaScreenCopies(benchmark::State& state) {
  Screen s;
  if (!s.ready) return state.SkipWithError("the screen did not come up with XAA");
  for (auto _ : state) {
    KstrnXAASetupForScreenToScreenCopy(s.scrn, 1, 1, GXcopy, 0xFFFFFFFF, -1);
    for (int i = 0; i < 4; ++i) KstrnXAASubsequentScreenToScreenCopy(s.scrn, 10 + i, 20, 300, 40 + 40 * i, 64, 32);
  }
  state.SetItemsProcessed(state.iterations() * 4);
  state.SetLabel("copies");
}
BENCHMARK(BM_XaaScreenCopies);

// Rectangle lists in two raster operations, span lists and screen copies,
// as a desktop redraw issues them.
void BM_XaaMix(benchmark::State& state) {
  Screen s;
  if (!s.ready) return state.SkipWithError("the screen did not come up with XAA");
  std::vector<BoxRec> boxes = Rectangles();
  std::vector<DDXPointRec> points;
  std::vector<int> widths;
  Spans(&points, &widths);
  for (auto _ : state) {
    KstrnXAAFillSolidRects(s.scrn, 0x123456, GXcopy, 0xFFFFFFFF, static_cast<int>(boxes.size()), boxes.data());
    KstrnXAAFillSolidSpans(s.scrn, 0x654321, GXcopy, 0xFFFFFFFF, static_cast<int>(points.size()),
                           points.data(), widths.data(), 1);
    KstrnXAAFillSolidRects(s.scrn, 0xFFFFFF, GXxor, 0x00FFFFFF, 4, boxes.data());
    KstrnXAASetupForScreenToScreenCopy(s.scrn, -1, 1, GXcopy, 0xFFFFFFFF, -1);
    KstrnXAASubsequentScreenToScreenCopy(s.scrn, 100, 300, 108, 300, 64, 32);
    KstrnXAASubsequentScreenToScreenCopy(s.scrn, 200, 300, 208, 300, 64, 32);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(boxes.size() + points.size() + 4 + 2));
  state.SetLabel("rectangles, spans, xor rectangles, copies");
}
BENCHMARK(BM_XaaMix);

// The packet writer alone: a fill rectangle's three words stored and
// started one by one through the same primary interface.
void BM_PacketWriterSameInterface(benchmark::State& state) {
  Screen s;
  if (!s.ready) return state.SkipWithError("the screen did not come up with XAA");
  BmPrimInt* prim = s.pdev->primInt;
  for (auto _ : state) {
    for (int i = 0; i < 16; ++i) {
      uint32_t* at = prim->Reserve(3);
      at[0] = 0x2121E3C2;
      at[1] = static_cast<uint32_t>(i) << 16 | 8;
      at[2] = 9u << 16 | 20;
      prim->Start();
    }
  }
  state.SetItemsProcessed(state.iterations() * 16);
  state.SetLabel("rectangle packets");
}
BENCHMARK(BM_PacketWriterSameInterface);

}  // namespace
