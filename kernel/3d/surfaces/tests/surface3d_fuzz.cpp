// Fuzz target of the 3D surfaces behind a client's resource table: the
// input is a program of creations (every field of the creation request:
// places, set kinds, border and companion flags, second flags, formats by
// code or by client number, memory-manager types, sizes, levels, depths,
// owner values, fixed handles, masters among the surfaces made), each with
// an allocation of the glue that may be refused, destructions of any type
// and handle, render-context records attached and detached, and auxiliary
// rebuilds; then the table is destroyed, the device too and the module
// unloaded. Nothing may be left: no memory, region or page of the glue, no
// displayed surface that is not in the table (and none once it is gone);
// the sanitizers end the run on any other fault.
//
// Program: a sequence of operations, each an opcode byte and its operands;
// missing bytes read as 0. See tests/data/kernel_surface3d_fuzz/README.md.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/render/blit_engine.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/kernel_device.h"
#include "kernel/pending.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "tests/standins/standin_log.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Half() { return Byte() | uint32_t{Byte()} << 8; }
  uint32_t Word() { return Half() | Half() << 16; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr uint32_t kKey = 4242;
constexpr int kMaxSteps = 64;
constexpr size_t kContexts = 4;

orvsim::Simulation& Machine() {
  static orvsim::Simulation* sim = [] {
    auto* s = new orvsim::Simulation;
    s->AddBoard(orvsim::BoardConfig());
    return s;
  }();
  return *sim;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kernel surface3d fuzz: %s\n", what);
    abort();
  }
}

// A size from two bytes: mostly small, sometimes anything.
uint32_t Size(Reader& in) {
  const uint32_t raw = in.Half();
  return (raw & 0x8000) != 0 ? raw << 2 : raw & 0x1FF;
}

// The displayed surface, when there is one, stands in the table.
void CheckDisplayed(PDEV* pdev, ResourceTable* table) {
  Surface3d* displayed = BlitEngine3dDisplayedSurface(pdev);
  if (displayed == nullptr) return;
  Check(table != nullptr && table->Get(displayed->resourceType, displayed->resourceHandle) == displayed,
        "the displayed surface is not in the table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvsim::Simulation& sim = Machine();
  orvsim::Board& board = sim.GetBoard(0);
  orvstandin::Reset();
  orvsim::DmaEngine dma(board);
  dma.SetFaultsFatal(false);
  orvsim::ApertureWindows windows(board);
  kglue::Glue glue;
  glue.Use(&orv_kstrn_driver);
  glue.ServeDma(dma);
  OrvDevice* device = glue.AddBoard(board, kglue::BoardOptions{0x300004, 0, nullptr});
  glue.Load();
  KernelDevice* kdev = glue.CreateDevice(device);
  Check(kdev != nullptr, "the device was not made");
  kglue::File* file = glue.Open(device);
  OrvEnableRequest enable;
  memset(&enable, 0, sizeof(enable));
  enable.mode.bitsPerPixel = 32;
  enable.mode.bytesPerPixel = 4;
  enable.mode.registerWindowSize = 8192;
  Check(glue.Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) == 1,
        "the device object was not made");
  auto* pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
  ResourceTable* table = CreateResourceTable(pdev, kKey);
  Check(table != nullptr, "the resource table was not made");
  const FormatCatalogue* catalogue = pdev->formatCatalogue;
  // Render contexts never initialised, whose auxiliary surfaces live in
  // the table while they are attached.
  RenderContext3d* contexts[kContexts] = {};
  for (RenderContext3d*& context : contexts) {
    context = OsNew<RenderContext3d>();
    Check(context != nullptr, "a render context was not made");
    context->aux.owner = context;
    context->resources = table;
  }

  Reader in(data, size);
  int steps = 0;
  while (in.More() && ++steps < kMaxSteps) {
    const uint8_t op = in.Byte() % 5;
    switch (op) {
      case 0:
      case 1: {  // create
        const uint32_t type = in.Byte() % 5;
        SurfaceCreateRequest request;
        request.placement = in.Byte();
        request.flags2 = in.Byte();
        const uint8_t how = in.Byte();
        request.format = (how & 1) != 0 ? catalogue->FindByClientFormat(how >> 1) : catalogue->Find(how >> 1);
        request.surfaceType = in.Byte() % 24;
        request.width = Size(in);
        request.height = Size(in);
        request.levels = in.Byte() % 16;
        request.depth = Size(in);
        request.ownerValue = in.Word();
        const uint8_t fixed = in.Byte();
        request.fixedHandle = fixed < 0xF0 ? fixed % 32 : in.Word();
        const uint8_t master = in.Byte();
        if (master >= 0xF0) request.master = table->Get(master & 3, 1 + ((master >> 2) & 3));
        const uint8_t fail = in.Byte();
        if (fail != 0) glue.FailAllocation(fail);
        SurfaceCreateRequest copy = request;
        Surface3d* made = table->CreateSurface(type, &request);
        glue.FailAllocation(0);
        Check(memcmp(&copy, &request, sizeof(request)) == 0, "the request was changed");
        if (made != nullptr) Check(table->Get(type, made->resourceHandle) == made, "a surface without its handle");
        break;
      }
      case 2: {  // destroy any type and handle
        const uint32_t type = in.Byte() % 4;
        const uint32_t handle = in.Byte() < 0xF0 ? in.Byte() % 40 : in.Word();
        table->DestroyResource(type, handle);
        break;
      }
      case 3: {  // a render context attached or detached
        const uint8_t pick = in.Byte();
        RenderContext3d* context = contexts[pick % kContexts];
        if (pick & 0x80) {
          // A context lets its surfaces go before it leaves, as its
          // destruction does.
          context->aux.ReleaseAll();
          table->DetachContext(context);
        } else if (table->ContextCount() < 16) {
          table->AttachContext(context);
        }
        break;
      }
      case 4:
        table->RebuildAuxSurfaces((in.Byte() & 1) != 0 ? pdev : nullptr);
        break;
    }
    CheckDisplayed(pdev, table);
  }

  // A context attached twice and detached once is still attached: the
  // table's clearing lets its surfaces go.
  Check(DestroyResourceTable(pdev, kKey) == 1, "the table was not found");
  for (RenderContext3d* context : contexts) {
    Check(context->aux.constant == nullptr && context->aux.polygon == nullptr && context->aux.line == nullptr,
          "a render context holds a surface of a table that went");
    OsDelete(context);
  }
  Check(BlitEngine3dDisplayedSurface(pdev) == nullptr, "a destroyed surface is still displayed");
  glue.Close(file);
  glue.DestroyDevice(device);
  glue.Unload();
  Check(glue.LiveBlocks().empty(), "memory of the glue is left");
  Check(glue.LiveRegions() == 0 && glue.LiveLockedPages() == 0, "a region or pages are left");
  Check(glue.Misuses().empty(), "the glue was misused");
  return 0;
}
