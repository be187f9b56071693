// Fuzz target of the 3D surfaces behind a client's resource table: the
// input is a program of creations (every field of the creation request:
// places, set kinds, border and companion flags, second flags, formats by
// code or by client number, memory-manager types, sizes, levels, depths,
// owner values, fixed handles, masters among the surfaces made), each with
// an allocation of the glue that may be refused, destructions of any type
// and handle, render-context records attached and detached, auxiliary
// rebuilds, transfers, fills, copies and software blits with every field
// of their requests
// over client memory of any size (no byte outside it may change), and
// ring writes and copies over any range; then the table is destroyed, the device too and the module
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

#include <new>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/kernel_device.h"
#include "kernel/tests/fuzz_books.h"
#include "kernel/tests/fuzz_machine.h"
#include "kernel/tests/fuzz_reader.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

constexpr uint32_t kKey = 4242;
constexpr int kMaxSteps = 64;
constexpr size_t kContexts = 4;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kernel surface3d fuzz: %s\n", what);
    abort();
  }
}

// The machine for the whole run: the board, its engines and the glue,
// the module loaded, the board's device made and one device object
// enabled. An input makes its resource table, render-context records and
// rings and lets all of them go; what a fresh start left is checked after
// every input (kernel/tests/fuzz_books.h).
struct Fixture {
  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::DmaEngine dma;
  orvsim::ApertureWindows windows;
  kglue::Glue glue;
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;
  // Render-context records never initialised, whose auxiliary surfaces
  // live in an input's table while they are attached. They are made once
  // (each is tens of kilobytes, which a fresh allocation maps and clears
  // again) and renewed in place after every input.
  RenderContext3d* contexts[kContexts] = {};
  orvfuzz::FreshBooks books;

  Fixture()
      : board((sim.AddBoard(orvsim::BoardConfig()), sim.GetBoard(0))), dma(board), windows(board),
        books(glue, board, [this](orvfuzz::Tables& t) { Tables(t); }, orvfuzz::kMovingRegisters,
              "kernel surface3d fuzz") {
    board.SetLogging(false, false);
    const orvfuzz::StartedDevice started = orvfuzz::StartDevice(glue, board, dma, "kernel surface3d fuzz");
    device = started.device;
    kdev = started.kdev;
    file = started.file;
    pdev = started.pdev;
    for (RenderContext3d*& context : contexts) {
      context = OsNew<RenderContext3d>();
      Check(context != nullptr, "a render context was not made");
    }
    books.Take();
  }

  // A record as OsNew makes it: its memory cleared, then constructed.
  static void Renew(RenderContext3d* context) { orvfuzz::RenewInPlace(context); }

  // What an input may change of the module's tables besides memory.
  void Tables(orvfuzz::Tables& t) const {
    t.push_back({"displayed surface", reinterpret_cast<uintptr_t>(BlitEngine3dDisplayedSurface(pdev))});
    t.push_back({"resource table of the input", FindResourceTable(pdev, kKey) != nullptr});
    orvfuzz::AddHeaps(t, pdev->common);
    orvfuzz::AddEngine(t, dma);
  }

  // For the next input: the device's list of resource tables as the
  // device made it, the engine's record of what ran dropped, the glue's
  // log too; then the books must be those of the fresh start.
  void EndInput() {
    Check(orvfuzz::RenewResourceTables(pdev), "a resource table is left, or the list was not made again");
    orvfuzz::SettleEngine(dma);
    books.Check();
    glue.ClearLog();
  }
};

Fixture& TheFixture() { return orvfuzz::KeptFixture<Fixture>(); }

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

// A surface of the table picked by type and a small handle (null for none).
Surface3d* Pick(Reader& in, ResourceTable* table) {
  const uint8_t pick = in.Byte();
  return table->Get(pick % 3, 1 + ((pick >> 2) % 16));
}

// A coordinate: mostly small, sometimes anything (negative too).
int32_t Coordinate(Reader& in) {
  const uint8_t how = in.Byte();
  return how < 0xF0 ? static_cast<int32_t>(Size(in)) : static_cast<int32_t>(in.Word());
}

// Client memory of a chosen size between canaries; a transfer may touch
// only the bytes between them. One buffer serves the run (a transfer may
// ask for megabytes, which a fresh allocation each time would map and
// fault in again): the memory lies at its end, right before the
// sanitizer's guard of the allocation, and what lies before the canaries
// is poisoned, so that a read or write outside the client's memory is
// caught as it would be on memory of its own.
constexpr uint8_t kCanary = 0xA7;
constexpr size_t kCanaryBytes = 64;
constexpr size_t kMostClientBytes = size_t{0xFFFF} * 4 * 16;
class ClientMemory {
 public:
  explicit ClientMemory(size_t size) : size_(size) {
    static uint8_t* const buffer = new uint8_t[kBufferBytes];
    uint8_t* const end = buffer + kBufferBytes;
    data_ = end - kCanaryBytes - size;
    uint8_t* const front = buffer + ((data_ - kCanaryBytes - buffer) & ~size_t{7});
    if (front > poisonedTo_) {
      ASAN_POISON_MEMORY_REGION(poisonedTo_ != nullptr ? poisonedTo_ : buffer,
                                front - (poisonedTo_ != nullptr ? poisonedTo_ : buffer));
    } else if (front < poisonedTo_) {
      ASAN_UNPOISON_MEMORY_REGION(front, poisonedTo_ - front);
    }
    poisonedTo_ = front;
    memset(front, kCanary, end - front);
  }
  uint8_t* Data() { return data_; }
  size_t Size() const { return size_; }
  bool Intact() const {
    for (size_t i = 1; i <= kCanaryBytes; ++i)
      if (data_[-static_cast<ptrdiff_t>(i)] != kCanary || data_[size_ + i - 1] != kCanary) return false;
    return true;
  }

 private:
  static constexpr size_t kBufferBytes = kMostClientBytes + 2 * kCanaryBytes + 8;
  static inline uint8_t* poisonedTo_ = nullptr;
  uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = TheFixture();
  kglue::Glue& glue = f.glue;
  PDEV* pdev = f.pdev;
  ResourceTable* table = CreateResourceTable(pdev, kKey);
  Check(table != nullptr, "the resource table was not made");
  const FormatCatalogue* catalogue = pdev->formatCatalogue;
  // Render contexts never initialised, whose auxiliary surfaces live in
  // the table while they are attached.
  RenderContext3d* const* contexts = f.contexts;
  for (RenderContext3d* context : f.contexts) {
    context->aux.owner = context;
    context->resources = table;
  }

  // Two rings for the ring writes and copies.
  BmBufferRing* rings[2] = {BmBufferRing::Create(4096, 2, pdev->common, pdev->unit, 0),
                            BmBufferRing::Create(8192, 2, pdev->common, pdev->unit, 0)};
  Check(rings[0] != nullptr && rings[1] != nullptr, "the rings were not made");
  static const std::vector<uint8_t> ringSource(1024, 0x5C);

  Reader in(data, size);
  int steps = 0;
  while (in.More() && ++steps < kMaxSteps) {
    const uint8_t op = in.Byte() % 10;
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
      case 5: {  // a transfer with every field of the request the client's
        Surface3d* surface = Pick(in, table);
        SurfaceLockRequest request;
        request.flags = in.Byte() & 7;
        request.direction = in.Byte() & 1;
        request.clientPitch = in.Half();
        request.clientSlicePitch = in.Word() & 0xFFFFF;
        for (int32_t& v : request.source) v = Coordinate(in);
        request.destX = static_cast<uint32_t>(Coordinate(in));
        request.destY = static_cast<uint32_t>(Coordinate(in));
        for (uint32_t& v : request.box) v = static_cast<uint32_t>(Coordinate(in));
        request.boxDestX = static_cast<uint32_t>(Coordinate(in));
        request.boxDestY = static_cast<uint32_t>(Coordinate(in));
        request.boxDestZ = in.Byte() % 8;
        ClientMemory client(Size(in) * 16);
        request.clientAddress = reinterpret_cast<uintptr_t>(client.Data());
        request.clientSize = client.Size();
        if (surface != nullptr) (void)surface->LockWithRequest(&request);
        Check(client.Intact(), "a transfer wrote outside the client's memory");
        break;
      }
      case 6: {  // a fill by the processor, or by the path the surface picks
        Surface3d* surface = Pick(in, table);
        SurfaceFillRequest request;
        const uint8_t how = in.Byte();
        request.flags = how & 3;
        for (uint32_t& v : request.rect) v = static_cast<uint32_t>(Coordinate(in));
        request.value = in.Word();
        if (surface != nullptr) (void)((how & 0x80) != 0 ? surface->Fill(request) : SurfaceFillCpu(surface, request));
        break;
      }
      case 7: {  // a copy, keyed or not, within or between surfaces: the processor's or the dispatch's
        Surface3d* destination = Pick(in, table);
        Surface3d* source = Pick(in, table);
        SurfaceCopyRequest request;
        const uint8_t how = in.Byte();
        request.flags = how & 7;
        for (uint32_t& v : request.source) v = static_cast<uint32_t>(Coordinate(in));
        for (uint32_t& v : request.destination) v = static_cast<uint32_t>(Coordinate(in));
        request.key = in.Word();
        if (destination != nullptr && source != nullptr)
          (void)((how & 0x80) != 0 ? Surface3d::CopyRect(destination, source, request)
                                   : SurfaceCopyCpu(destination, source, request));
        break;
      }
      case 9: {  // a blit by the processor or by the path the pair picks
        Surface3d* destination = Pick(in, table);
        Surface3d* source = Pick(in, table);
        SurfaceBlitRequest request;
        const uint8_t how = in.Byte();
        request.flags = how & 0x79;
        for (int32_t& v : request.source) v = Coordinate(in);
        for (int32_t& v : request.clipped) v = Coordinate(in);
        for (int32_t& v : request.full) v = Coordinate(in);
        request.key = in.Word();
        request.filter = how >> 7;
        if (destination != nullptr && source != nullptr)
          (void)((how & 0x80) != 0 ? Surface3d::Blit(destination, source, request)
                                   : SurfaceBlitSoftware(destination, source, request));
        break;
      }
      case 8: {  // ring writes and copies over any range
        BmBufferRing* ring = rings[in.Byte() & 1];
        const uint8_t how = in.Byte();
        BufferRange range{in.Word(), in.Word()};
        const uint32_t destination = in.Word();
        if ((how & 1) != 0) {
          // The source range stays within the writer's own bytes.
          range.offset %= ringSource.size();
          const uint32_t room = static_cast<uint32_t>(ringSource.size()) - range.offset;
          if (range.length > room) range.length = room;
          (void)ring->WriteAt(ringSource.data(), range, destination);
        } else {
          (void)ring->CopyFrom(rings[(how >> 1) & 1], &range, destination);
          Check(range.offset <= rings[(how >> 1) & 1]->Size() &&
                    uint64_t{range.offset} + range.length <= rings[(how >> 1) & 1]->Size(),
                "a ring copy range was not clamped");
        }
        if ((how & 4) != 0 && ring->Lock(false, true) != nullptr) ring->Unlock();
        break;
      }
    }
    CheckDisplayed(pdev, table);
  }

  delete rings[0];
  delete rings[1];
  // A context attached twice and detached once is still attached: the
  // table's clearing lets its surfaces go.
  Check(DestroyResourceTable(pdev, kKey) == 1, "the table was not found");
  for (RenderContext3d* context : f.contexts) {
    Check(context->aux.constant == nullptr && context->aux.polygon == nullptr && context->aux.line == nullptr,
          "a render context holds a surface of a table that went");
    f.Renew(context);
  }
  Check(BlitEngine3dDisplayedSurface(pdev) == nullptr, "a destroyed surface is still displayed");
  f.EndInput();
  return 0;
}
