// Render contexts over a started board: the module-wide table, creation
// and its undo at every step, destruction, the bound surfaces, the
// auxiliary surfaces, the render state's application before a draw, and the
// device's blit engine (component entry 18).
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/blit_engine.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/pending.h"

namespace {

constexpr uint32_t kClient = 4321;

class Contexts : public stest::SurfaceBoard {
 protected:
  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, kClient);
    ASSERT_NE(table, nullptr);
  }
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, kClient);
    SurfaceBoard::TearDown();
  }

  RenderContext3d* Create() {
    RenderContextRequest3d request{nullptr, pdev, kClient, 0, {nullptr, nullptr}, 0};
    if (!CreateRenderContext(&request)) {
      EXPECT_EQ(request.handle, 0u);
      return nullptr;
    }
    return RenderContextTableGet(request.handle);
  }

  // Calls of the names given, in the order they were logged.
  std::vector<std::string> Only(const std::vector<std::string>& names) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < orvstandin::CallCount(); ++i) {
      const std::string call = orvstandin::CallAt(i);
      for (const std::string& name : names)
        if (call == name) out.push_back(call);
    }
    return out;
  }

  ResourceTable* table = nullptr;
};

TEST_F(Contexts, HandlesStartAtOneAndTheTableGrowsBySixteen) {
  RenderContext3d* first = Create();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->handle, 1u);
  EXPECT_EQ(first->stamp, 1u);
  EXPECT_EQ(first->targetFlags, kTargetFlagsDefault);
  EXPECT_EQ(first->resources, table);
  EXPECT_EQ(table->ContextCount(), 1u);
  EXPECT_EQ(RenderContextTable()->Capacity(), 16u);
  for (uint32_t h = 2; h <= 15; ++h) ASSERT_NE(Create(), nullptr);
  EXPECT_EQ(RenderContextTable()->Capacity(), 16u);
  RenderContext3d* sixteenth = Create();
  ASSERT_NE(sixteenth, nullptr);
  EXPECT_EQ(sixteenth->handle, 16u);
  EXPECT_EQ(RenderContextTable()->Capacity(), 32u);
  // The three auxiliary surfaces are the client's, in its table.
  EXPECT_EQ(first->aux.constant->resourceTable, table);
  EXPECT_EQ(first->aux.constant->width, kAuxSide);
  EXPECT_EQ(first->aux.line->width, 16u);
  EXPECT_EQ(first->aux.line->height, 1u);
  EXPECT_EQ(first->aux.selected[2], first->aux.line);
  // The context state went to the context, with its flags.
  ASSERT_NE(first->contextState, nullptr);
  EXPECT_EQ(first->contextState->renderContext, first);
  EXPECT_EQ(first->contextState->flags, kCsFlagClientA | kCsFlagClientB | kCsFlagRenderContext);
  EXPECT_NE(first->contextState->dirty.words[0] & kCsDirtyAllBlocks, 0u);
  EXPECT_EQ(first->state.vertex.vertexShader, kVertexFormatDefault);
}

TEST_F(Contexts, ACreationFailingAtAnyStepLeavesNothing) {
  // The resource table is there before the baseline; the table of render
  // contexts goes with its last context.
  ASSERT_NE(Create(), nullptr);
  DestroyRenderContext(1);
  EXPECT_EQ(RenderContextTable(), nullptr);
  const Held before = Holding();
  const size_t liveBlocks = glue.LiveBlocks().size();

  int refused = 0;
  for (uint64_t nth = 1; nth < 400; ++nth) {
    const uint64_t failedBefore = glue.FailedAllocations();
    glue.FailAllocation(nth);
    RenderContext3d* context = Create();
    glue.FailAllocation(0);
    if (glue.FailedAllocations() == failedBefore) {
      ASSERT_NE(context, nullptr);
      DestroyRenderContext(context->handle);
      break;
    }
    if (context != nullptr) {
      DestroyRenderContext(context->handle);
    } else {
      ++refused;
      EXPECT_EQ(RenderContextTable(), nullptr) << nth;
      EXPECT_EQ(table->ContextCount(), 0u) << nth;
    }
    EXPECT_EQ(glue.LiveBlocks().size(), liveBlocks) << nth;
    EXPECT_EQ(Holding(), before) << nth;
  }
  EXPECT_GT(refused, 3);
  EXPECT_TRUE(glue.Misuses().empty());
}

TEST_F(Contexts, OnlyTheLastLiveContextFreesTheProgramSlotsBeforeItGoes) {
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  ASSERT_NE(builder, nullptr);
  RenderContext3d* a = Create();
  RenderContext3d* b = Create();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // Programs fill the ring past its start.
  builder->ringHead = builder->ringStart + 7;
  builder->slots[builder->ringStart + 3].runLength = 4;
  builder->memoryChanged = 0;
  DestroyRenderContext(a->handle);
  EXPECT_EQ(builder->ringHead, builder->ringStart + 7);
  EXPECT_EQ(builder->memoryChanged, 0u);
  DestroyRenderContext(99);  // beyond the table
  DestroyRenderContext(1);   // freed
  EXPECT_EQ(builder->memoryChanged, 0u);

  // The last context frees the slots.
  DestroyRenderContext(b->handle);
  EXPECT_EQ(builder->memoryChanged, 1u);
  EXPECT_EQ(builder->ringHead, builder->ringStart);
  EXPECT_EQ(builder->slots[builder->ringStart + 3].runLength, 0u);
  EXPECT_EQ(RenderContextTable(), nullptr);
  EXPECT_EQ(table->ContextCount(), 0u);
}

TEST_F(Contexts, ADrawSavesTheCountersOfTheContextThatRenderedLast) {
  RenderContext3d* a = Create();
  RenderContext3d* b = Create();
  ASSERT_NE(b, nullptr);
  ASSERT_NE(a->targetState, nullptr);
  EXPECT_EQ(a->targetState->context, a);
  EXPECT_EQ(a->targetState->handle, a->handle);
  TargetBoard3d* board = Common()->targetBoard3d;
  ASSERT_NE(board, nullptr);
  ASSERT_NE(board->readback, nullptr);  // made by the first binding
  {
    TargetSurfaceMapping map(Common(), board->readback, kReadbackSize);
    ASSERT_NE(map.cpu, nullptr);
    auto* words = reinterpret_cast<uint32_t*>(map.cpu);
    for (uint32_t i = 0; i < 64; ++i) words[i] = 0x40000 | i;
  }
  a->targetState->kind = kWorkBufferOwn;
  a->targetState->pendingSwitch = 1;
  a->PrepareTargets();
  b->PrepareTargets();
  EXPECT_EQ(a->targetState->counters[0][3], 3u);   // 18 bits of word 3
  EXPECT_EQ(a->targetState->counters[1][0], 32u);  // word 32
  // The last context takes the board's record with it.
  DestroyRenderContext(a->handle);
  EXPECT_NE(Common()->targetBoard3d, nullptr);
  DestroyRenderContext(b->handle);
  EXPECT_EQ(Common()->targetBoard3d, nullptr);
}

TEST_F(Contexts, TheBoardForgetsTheContextThatRenderedLastWhenItGoes) {
  RenderContext3d* a = Create();
  RenderContext3d* b = Create();
  ASSERT_NE(b, nullptr);
  orvstandin::Reset();
  a->PrepareTargets();
  EXPECT_EQ(Common()->renderedLast3d, a);
  b->PrepareTargets();
  ASSERT_NE(b->targetState, nullptr);
  EXPECT_EQ(b->targetState->context, b);
  EXPECT_EQ(Common()->renderedLast3d, b);
  // Each preparation made its context's state the engine's.
  EXPECT_EQ(Common()->engineOwner3d->Current(), b->contextState);
  DestroyRenderContext(a->handle);
  EXPECT_EQ(Common()->renderedLast3d, b);
  DestroyRenderContext(b->handle);
  EXPECT_EQ(Common()->renderedLast3d, nullptr);
}

TEST_F(Contexts, BoundSurfaceListsNeverGrowPastTheirRoom) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  Surface3d* surface = context->aux.polygon;
  surface->flagsWord |= kSurfFlagNewlyPlaced;
  std::vector<TargetListEntry> entries(15, TargetListEntry{surface, {}});
  Surface3d* further[15];
  for (Surface3d*& f : further) f = surface;
  BoundSurfaceRecord record{};
  record.targets = {1, 15, entries.data()};
  record.colour = {1, surface};
  record.depth = {4, nullptr};
  record.further.bytes[1] = 7 << 5;  // 7 + 8 = 15 slots
  record.further.bytes[2] = 1;
  record.further.bytes[4] = 8;
  record.further.surfaces = further;
  orvstandin::Reset();
  context->SetTargets(record);
  EXPECT_EQ(context->targetCount, kBoundTargets);
  EXPECT_EQ(context->furtherCount, kBoundFurther);
  EXPECT_EQ(context->colourTarget, surface);
  EXPECT_EQ(context->targetFlags & (kTargetColourBound | kTargetDepthBound), kTargetColourBound);
  // A newly placed target makes the engine owner wait, once.
  EXPECT_EQ(orvstandin::TimesCalled("EngineOwner3dSetWaitCount"), 1u);
  EXPECT_EQ(orvstandin::ArgsOf("EngineOwner3dSetWaitCount").values[0], 15u);
  EXPECT_EQ(surface->flagsWord & kSurfFlagNewlyPlaced, 0u);

  // Disabled parts leave what is bound.
  BoundSurfaceRecord none{};
  context->SetTargets(none);
  EXPECT_EQ(context->targetCount, kBoundTargets);
  EXPECT_EQ(context->colourTarget, surface);
}

TEST_F(Contexts, LineStippleSurfaceFollowsTheClampedRepeat) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  struct Row {
    uint32_t word;
    uint32_t width;
  };
  const Row rows[] = {{0x0000FFFF, 16}, {0x0003AAAA, 48}, {0x012CFFFF, 4096}, {0xFFFF0001, 4096}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word);
    orvstandin::Reset();
    StippleRecord record{};
    record.flags = kStippleLine;
    record.lineStipple = row.word;
    ASSERT_TRUE(context->aux.Update(record));
    ASSERT_NE(context->aux.line, nullptr);
    EXPECT_EQ(context->aux.line->width, row.width);
    EXPECT_EQ(context->aux.line->height, 1u);
    ASSERT_EQ(orvstandin::TimesCalled("Surface3dWriteImage"), 1u);
    const orvstandin::CallArgs args = orvstandin::ArgsOf("Surface3dWriteImage");
    EXPECT_EQ(args.values[0], reinterpret_cast<uintptr_t>(context->aux.line));
    EXPECT_EQ(args.values[1], row.width * 4);
  }
  // Repeat 3 of pattern 0xAAAA: entry i from bit i / 3.
  StippleRecord record{};
  record.flags = kStippleLine;
  record.lineStipple = 0x0003AAAA;
  ASSERT_TRUE(context->aux.Update(record));
  for (uint32_t i = 0; i < 48; ++i)
    EXPECT_EQ(context->aux.lineImage[i], ((0xAAAAu >> (i / 3)) & 1) != 0 ? 0u : kStipplePixelClear) << i;
}

TEST_F(Contexts, PolygonStippleRowsBecomeTheImage) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  StippleRecord record{};
  record.flags = kStipplePolygon;
  for (uint32_t r = 0; r < 32; ++r) record.rows[r] = 0x80000001u << (r & 1) | r;
  orvstandin::Reset();
  ASSERT_TRUE(context->aux.Update(record));
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x)
      ASSERT_EQ(context->aux.polygonImage[y * 32 + x], (record.rows[y] >> x & 1) != 0 ? 0u : 0xD9D9D9D9u)
          << x << "," << y;
  EXPECT_EQ(orvstandin::ArgsOf("Surface3dWriteImage").values[1], 4096u);
  // Without its surface the step fails.
  context->aux.ReleaseAll();
  EXPECT_FALSE(context->aux.Update(record));
}

// ---- Application --------------------------------------------------------------------------------

// The steps of parts still pending, in the order an application runs
// them; the target steps before them are checked by what they leave in
// the engine state.
const std::vector<std::string> kSteps = {
    "Surface3dWriteImage", "SurfaceOwnerTargetKind3d"};

TEST_F(Contexts, ApplyRunsEveryDirtyGroupInItsOrder) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  state.MarkAllDirty();
  orvstandin::Reset();
  EXPECT_TRUE(state.Apply());
  // The polygon image goes before the line image: two image writes.
  std::vector<std::string> expected = kSteps;
  expected.insert(expected.begin() + 1, "Surface3dWriteImage");
  EXPECT_EQ(Only(kSteps), expected);
  EXPECT_NE(state.drawEmitter, NoOpEmitter3d);
  EXPECT_EQ(state.raster.dirty, 0u);
  EXPECT_EQ(state.vertex.transformDirty, 0u);
  // Clean: only the program's validity, the streams' fixed parts and the
  // control word.
  orvstandin::Reset();
  EXPECT_TRUE(state.Apply());
  EXPECT_EQ(Only(kSteps), (std::vector<std::string>{"SurfaceOwnerTargetKind3d"}));
  EXPECT_TRUE(PixelProgramCacheValid(context->programCache));
}

TEST_F(Contexts, AFailedStepTakesTheNoDrawPathAndKeepsEveryDirtyBit) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  const char* const kFailing[] = {"Surface3dWriteImage", "a primitive kind the vertex engine has no class for"};
  const std::string kBadKind = kFailing[1];
  static uint8_t seenFlags;
  static RenderContext3d* seen;
  seen = context;
  for (const char* failing : kFailing) {
    SCOPED_TRACE(failing);
    state.MarkAllDirty();
    state.streams.noDraw = 0;
    orvstandin::Reset();
    orvstandin::SetResult(failing, 1);
    if (failing == kBadKind) state.vertex.control = (state.vertex.control & ~0xFu) | 13;
    EXPECT_FALSE(state.Apply());
    state.vertex.control &= ~0xFu;
    EXPECT_EQ(state.drawEmitter, NoOpEmitter3d);
    EXPECT_EQ(state.indexEmitter, NoOpEmitter3d);
    EXPECT_EQ(state.raster.dirty, ~0u);
    EXPECT_EQ(state.depthStencil.dirty, ~0u);
    EXPECT_EQ(state.stipple.dirty, ~0u);
    EXPECT_EQ(state.vertex.transformDirty, ~0u);
    EXPECT_EQ(state.streams.noDraw, 1u);

    // The next success reports the end of no-draw to the stream set-up
    // and runs every group's step again.
    orvstandin::Reset();
    seenFlags = 0;
    orvstandin::SetAction("SurfaceOwnerTargetKind3d", [](void*) { seenFlags = seen->state.streams.flags; });
    EXPECT_TRUE(state.Apply());
    EXPECT_NE(seenFlags & kSfNoDrawChanged, 0u);
    EXPECT_EQ(state.streams.noDraw, 0u);
    std::vector<std::string> expected = kSteps;
    expected.insert(expected.begin() + 1, "Surface3dWriteImage");
    EXPECT_EQ(Only(kSteps), expected);
    EXPECT_NE(state.drawEmitter, NoOpEmitter3d);
  }
}

TEST_F(Contexts, TheEngineControlWord) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  struct Row {
    uint32_t kind;
    uint8_t byte92;
    uint32_t target;
    uint8_t byte3;
    uint32_t word;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0x860E00},
      {1, 0, 0, 0, 0x860E00 | 0x200000},
      {2, 0, 0, 0, 0x860E00},
      {2, 0x40, 0, 0, 0x860E00 | 0x200000},
      {0, 0x40, 0, 0, 0x860E00},
      {0, 0x20, 0, 0, 0x860E00 | 0x80000},
      {1, 0x60, 0x3000000, 0, 0x3860E00 | 0x280000},
      {0, 0, 0, 0x1E, 0x860E0F},
      {0, 0, 0, 0x20, 0x860E00 | 1u << 22},
      {0, 0, 0, 0x3F, 0x860E0F | 1u << 22},
  };
  // The first application selects the pixel program; later clean ones
  // keep it.
  ASSERT_TRUE(state.Apply());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word);
    state.ClearDirty();
    state.pipelineSub.control = row.byte92;
    state.rasterSub.target = row.target;
    state.vertexSub.bytes[3] = row.byte3;
    context->contextState->controlWord = 0;
    context->contextState->dirty.words[0] = 0;
    orvstandin::Reset();
    orvstandin::SetResult("SurfaceOwnerTargetKind3d", row.kind);
    EXPECT_TRUE(state.Apply());
    EXPECT_EQ(context->contextState->controlWord, row.word);
    EXPECT_EQ(context->contextState->dirty.words[0], kCsDirtyControlWord);
    // The same word again marks nothing.
    context->contextState->dirty.words[0] = 0;
    state.vertexSub.bytes[3] = row.byte3;
    EXPECT_TRUE(state.Apply());
    EXPECT_EQ(context->contextState->dirty.words[0], 0u);
  }
}

TEST_F(Contexts, RevalidateTurnsChangedStatusesIntoRevalidatedOnes) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  ASSERT_TRUE(state.Apply());
  context->targetStatusMode = 1;
  const uint32_t statuses[kTargetStatuses] = {2, 0, 2, 1, 2};
  memcpy(context->targetStatus, statuses, sizeof statuses);
  orvstandin::Reset();
  EXPECT_TRUE(state.Apply());
  const uint32_t expected[kTargetStatuses] = {3, 1, 3, 1, 3};
  EXPECT_EQ(memcmp(context->targetStatus, expected, sizeof expected), 0);
  // Two forced applications: the unvalidated one, then the changed ones.
  EXPECT_EQ(orvstandin::TimesCalled("SurfaceOwnerTargetKind3d"), 3u);
  EXPECT_EQ(state.raster.dirty, 0u);
  EXPECT_EQ(context->revalidating, 0u);

  // A failing revalidation takes the no-draw path: the colour target
  // became one the engine cannot draw into.
  Surface3d* surface = context->aux.polygon;
  orvstandin::SetOutValue("Surface3dMemoryKind", reinterpret_cast<uintptr_t>(surface) % 64, 1);
  context->colourTarget = surface;
  context->targetStatus[0] = 2;
  EXPECT_FALSE(state.Apply());
  EXPECT_EQ(state.drawEmitter, NoOpEmitter3d);
  EXPECT_EQ(state.streams.noDraw, 1u);
}

TEST_F(Contexts, TargetModeSwitch) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  state.deviceTargetMode = 0x7;
  state.ClearDirty();
  const uint32_t on[2] = {62, 1};
  orvstandin::Reset();
  state.SetRenderStates(on, 1);
  EXPECT_EQ(context->targetModeFlag, 1u);
  EXPECT_EQ(state.raster.targetMode, 0x7u);
  EXPECT_EQ(state.raster.dirty, kRsAntialias | kRsTargetMode);
  EXPECT_EQ(state.depthStencil.dirty, kDsTargetMode);
  EXPECT_EQ(orvstandin::TimesCalled("SurfaceOwnerResync3d"), 1u);
  EXPECT_EQ(context->targetState->targetMode, 0x7u);
  const uint32_t off[2] = {62, 0x100};
  state.SetRenderStates(off, 1);
  EXPECT_EQ(context->targetModeFlag, 0u);
  EXPECT_EQ(context->targetModeSwitches, 1u);
  EXPECT_EQ(state.raster.targetMode, 0x6u);
}

// ---- The blit engine ----------------------------------------------------------------------------

TEST_F(Contexts, TheBlitEngineHasItsTwoStatesAndFormat) {
  BlitEngine3d* engine = BlitEngineOf(pdev);
  EXPECT_EQ(engine->device, pdev);
  EXPECT_EQ(engine->formatCode, kBlitFormatOther);  // 32 bits per pixel
  EXPECT_NE(engine->states[0], nullptr);
  EXPECT_NE(engine->states[1], nullptr);
  EXPECT_EQ(engine->displayed, nullptr);

  // A second state that cannot be had leaves no first one behind.
  const size_t live = glue.LiveBlocks().size();
  CleanupBlitEngine3d(pdev);
  EXPECT_EQ(glue.LiveBlocks().size(), live - 2);
  glue.FailAllocation(2);
  EXPECT_FALSE(InitBlitEngine3d(pdev));
  glue.FailAllocation(0);
  EXPECT_EQ(glue.LiveBlocks().size(), live - 2);
  EXPECT_TRUE(InitBlitEngine3d(pdev));
  EXPECT_EQ(glue.LiveBlocks().size(), live);
}

TEST_F(Contexts, ReleasingTheDisplayedSurfaceWaitsBoundedForTheFlips) {
  BlitEngine3d* engine = BlitEngineOf(pdev);
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  Surface3d* surface = context->aux.polygon;
  EXPECT_TRUE(engine->SetDisplayedSurface(surface));
  EXPECT_EQ(engine->displayed, surface);
  engine->ReleaseDisplayedSurface();
  EXPECT_EQ(engine->displayed, nullptr);

  // A flip that never finishes: the wait runs out with its error line, and
  // the surface is forgotten all the same.
  EXPECT_TRUE(engine->SetDisplayedSurface(surface));
  SharedLocked()->pendingSubmissions = 1;
  engine->ReleaseDisplayedSurface();
  SharedLocked()->pendingSubmissions = 0;
  EXPECT_EQ(engine->displayed, nullptr);
  bool logged = false;
  for (const auto& line : glue.Log())
    logged = logged || line.text.find("*ERROR* flip pending: no progress") != std::string::npos;
  EXPECT_TRUE(logged) << glue.LogText();
  expectErrors = true;

  // A surface that keeps its place on the display waits for nothing.
  surface->flagsWord |= kSurfFlagKeepDisplayed;
  EXPECT_TRUE(engine->SetDisplayedSurface(surface));
  SharedLocked()->pendingSubmissions = 1;
  const size_t lines = glue.Log().size();
  engine->ReleaseDisplayedSurface();
  SharedLocked()->pendingSubmissions = 0;
  EXPECT_EQ(engine->displayed, nullptr);
  EXPECT_EQ(glue.Log().size(), lines);
}

}  // namespace
