// Fuzz target of vertex program building: arbitrary state keys and
// selection inputs through every lookup of the board's builder, each found
// or built program linked and made resident, in slot mode or direct mode.
// Every listed fragment must be a catalogue fragment (1-574), no assembled
// program may be refused by the linker, a built program's code is its
// fragments' size, and everything goes with the device: no memory, region
// or page of the glue is left. The sanitizers end the run on any other
// fault.
//
// Program: a mode byte (bit 0: direct mode, bit 1: clip fragments), then
// operations, each an opcode byte (modulo 8) and its operands; missing
// bytes read as 0. See tests/data/kernel_tnl_program_fuzz/README.md.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/driver_switches.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/kernel_device.h"
#include "kernel/sync_tags.h"
#include "kernel/tests/fuzz_books.h"
#include "kernel/tests/fuzz_machine.h"
#include "kernel/tests/fuzz_reader.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

constexpr int kMaxSteps = 48;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kernel tnl program fuzz: %s\n", what);
    abort();
  }
}

// The machine for the whole run: the board with its engines, the glue,
// the module loaded, the board's device made and one device object
// enabled. Each input gets the board's builder made afresh (component
// entry 19, as the device object's construction makes it) in the cache
// mode it asks for; after the input the builder is made again in the
// default mode, and the books must be those of the fresh start
// (kernel/tests/fuzz_books.h).
struct Fixture {
  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::DmaEngine dma;
  orvsim::ApertureWindows windows;
  orvsim::VertexEngine vertex;
  kglue::Glue glue;
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;
  orvfuzz::FreshBooks books;

  Fixture()
      : board((sim.AddBoard(orvsim::BoardConfig()), sim.GetBoard(0))), dma(board), windows(board), vertex(board, dma),
        books(glue, board, [this](orvfuzz::Tables& t) { orvfuzz::AddEngine(t, dma); }, orvfuzz::kMovingRegisters,
              "kernel tnl program fuzz") {
    board.SetLogging(false, false);
    const orvfuzz::StartedDevice started = orvfuzz::StartDevice(glue, board, dma, "kernel tnl program fuzz");
    device = started.device;
    kdev = started.kdev;
    file = started.file;
    pdev = started.pdev;
    Check(kdev->commonData->vertexProgramBuilder != nullptr, "the builder was not made");
    books.Take();
  }

  // The board's builder made again with the cache-mode switch as the
  // module parameter gives it (1, the default: slot mode; 0: direct mode).
  VertexProgramBuilder* Rebuild(uint32_t cacheMode) {
    glue.SetParameter("reg3DVECacheMode", cacheMode);
    kdev->commonData->driverSwitches->VECacheMode->Validate(pdev);
    DestroyVertexProgramBuilder(pdev);
    Check(CreateVertexProgramBuilder(pdev), "the builder was not made again");
    return kdev->commonData->vertexProgramBuilder;
  }

  // For the next input: the builder of a fresh start, the engine's record
  // of what ran and the glue's log dropped; then the books.
  void EndInput() {
    Rebuild(1);
    orvfuzz::SettleEngine(dma);
    books.Check();
    glue.ClearLog();
  }
};

Fixture& TheFixture() { return orvfuzz::KeptFixture<Fixture>(); }

// What the last build listed: catalogue fragments only, and as many bytes
// as the program's code.
void CheckLists(const VertexProgramBuilder* b) {
  uint32_t bytes = 0;
  for (const FragmentRef& f : b->fragments) {
    Check(f.entry >= 1 && f.entry <= 574, "a fragment outside the catalogue was listed");
    bytes += b->catalogue.directory[f.entry].size;
  }
  Check(bytes == b->assembledSize, "the assembled size is not the fragments' size");
  Check(b->refusedLinks == 0, "the linker refused an assembled program");
}

void Use(VertexProgramBuilder* b, VertexProgram* p, bool built, Reader& in, SharedLockedData_t* shared) {
  if (p == nullptr) return;
  if (built) Check(p->codeSize == b->assembledSize && p->code != nullptr, "a built program has no code");
  const uint8_t how = in.Byte();
  (void)b->MakeResident(p, (how & 1) != 0, how >> 1 & 15, nullptr);
  if (b->slotMode && !b->LastPlacementFailed()) {
    Check(p->resident == 1, "a placed program is not resident");
    Check(p->firstSlot + p->slotCount <= kProgramSlots, "a run passes the ring's end");
  }
  // The batch ends at once and the engine is done with it.
  const uint32_t tag = TakeNextTag(shared);
  b->SealBatchTag(tag);
  shared->completedTag = tag;
}

void Drop(VertexProgramBuilder* b, VertexProgramList* list) {
  while (VertexProgramNode* n = list->Head()) {
    VertexProgram* p = n->program;
    list->Unlink(n);
    delete n;
    b->DetachProgram(p, nullptr);
    delete p;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = TheFixture();
  Reader in(data, size);
  const uint8_t mode = in.Byte();
  // The builder the fixture left is the slot mode's, as at a fresh start.
  VertexProgramBuilder* b = (mode & 1) != 0 ? f.Rebuild(0) : f.kdev->commonData->vertexProgramBuilder;
  Check(b != nullptr, "the builder was not made");
  Check(b->slotMode == ((mode & 1) ? 0u : 1u), "the cache mode switch was not followed");
  b->clipFragments = mode >> 1 & 1;
  SharedLockedData_t* shared = f.kdev->sharedLocked;

  TnlStateKey tnl;
  TnlProgramInputs render;
  memset(&render, 0, sizeof render);
  VertexProgramList kinds, fixed;
  RecentPrograms recent;
  int steps = 0;
  while (in.More() && ++steps < kMaxSteps) {
    switch (in.Byte() % 8) {
      case 0:
        in.Bytes(&tnl, sizeof tnl);
        break;
      case 1:
        in.Bytes(&render, sizeof render);
        break;
      case 2: {  // a few bytes of either
        const uint8_t at = in.Byte();
        const uint8_t value = in.Byte();
        if (at & 0x80) {
          reinterpret_cast<uint8_t*>(&render)[(at & 0x7F) % sizeof render] = value;
        } else {
          reinterpret_cast<uint8_t*>(&tnl)[at % sizeof tnl] = value;
        }
        break;
      }
      case 3: {
        const uint32_t before = kinds.Count();
        VertexProgram* p = FindOrBuildVertexProgram(b, ProgramStateWord(render, tnl), 0, render, tnl, &kinds);
        const bool built = kinds.Count() != before;
        if (built) CheckLists(b);
        Use(b, p, built, in, shared);
        break;
      }
      case 4: {
        const uint32_t kind = 2 + in.Byte() % 5;
        const uint32_t before = kinds.Count();
        VertexProgram* p = FindOrBuildKindProgram(b, ProgramStateWord(render, tnl), kind, render, tnl, &kinds);
        const bool built = kinds.Count() != before;
        if (built || p == nullptr) CheckLists(b);
        Use(b, p, built, in, shared);
        break;
      }
      case 5: {
        const uint32_t before = fixed.Count();
        VertexProgram* p = FindOrBuildFixedFunctionProgram(b, &fixed, &recent, render, tnl);
        const bool built = fixed.Count() != before;
        if (built) CheckLists(b);
        Use(b, p, built, in, shared);
        break;
      }
      case 6:
        Use(b, b->GetFixedProgram(static_cast<int8_t>(in.Byte()) % 20, in.Byte() % 20), false, in, shared);
        break;
      default:
        b->ResetSlots((in.Byte() & 1) != 0);
        break;
    }
  }
  Drop(b, &kinds);
  Drop(b, &fixed);
  f.EndInput();
  return 0;
}
