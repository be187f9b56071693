// Render contexts over a started board: the module-wide table, creation
// and its undo at every step, destruction, the bound surfaces, the
// auxiliary surfaces, the render state's application before a draw, and the
// device's blit engine (component entry 18).
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_context_fixture.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/3d/render/pixel_program_cache.h"

namespace {

constexpr uint32_t kClient = 4321;

class Contexts : public rtest::RenderContextBoard {
 protected:
  Contexts() : RenderContextBoard(kClient) {}

  // A surface's packed rows as the processor sees them (the look is no
  // access).
  static std::vector<uint32_t> Image(Surface3d* s) {
    std::vector<uint32_t> out;
    s->inSync = 1;
    const uint64_t at = s->Lock();
    EXPECT_NE(at, 0u);
    for (uint32_t y = 0; at != 0 && y < s->height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(at + uint64_t{y} * s->pitch));
      out.insert(out.end(), row, row + s->width);
    }
    s->Unlock();
    s->inSync = 0;
    return out;
  }
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

TEST_F(Contexts, ANewContextTakesTheDevicesAnswersFromTheEngineOwner) {
  EngineOwner3d* owner = Common()->engineOwner3d;
  owner->targetMode = 0x21;
  owner->contextSwitchValue = 5;
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->engineOwner, owner);
  EXPECT_EQ(context->state.deviceTargetMode, 0x21u);
  EXPECT_EQ(context->contextState->driverSwitchValue, 5u);
  // The state's first dirty byte asks for the synchronisation group.
  EXPECT_NE(context->contextState->dirty.words[0] & 0x80u, 0u);
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
  EngineOwner3d* owner = Common()->engineOwner3d;
  owner->waitCount = 0;
  context->SetTargets(record);
  EXPECT_EQ(context->targetCount, kBoundTargets);
  EXPECT_EQ(context->furtherCount, kBoundFurther);
  EXPECT_EQ(context->colourTarget, surface);
  EXPECT_EQ(context->targetFlags & (kTargetColourBound | kTargetDepthBound), kTargetColourBound);
  // A newly placed target sets the engine owner's wait count and is newly
  // placed no more.
  EXPECT_EQ(owner->waitCount, 15u);
  EXPECT_EQ(surface->flagsWord & kSurfFlagNewlyPlaced, 0u);
  owner->waitCount = 0;
  context->SetTargets(record);
  EXPECT_EQ(owner->waitCount, 0u);

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
    StippleRecord record{};
    record.flags = kStippleLine;
    record.lineStipple = row.word;
    ASSERT_TRUE(context->aux.Update(record));
    ASSERT_NE(context->aux.line, nullptr);
    EXPECT_EQ(context->aux.line->width, row.width);
    EXPECT_EQ(context->aux.line->height, 1u);
    // The surface holds the image, and the engine passed the tag posted
    // before the write.
    const std::vector<uint32_t> image(context->aux.lineImage, context->aux.lineImage + row.width);
    EXPECT_EQ(Image(context->aux.line), image);
    EXPECT_NE(context->aux.line->block->drawSyncTag, 0);
    EXPECT_FALSE(context->aux.line->IsBusy());
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
  ASSERT_TRUE(context->aux.Update(record));
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x)
      ASSERT_EQ(context->aux.polygonImage[y * 32 + x], (record.rows[y] >> x & 1) != 0 ? 0u : 0xD9D9D9D9u)
          << x << "," << y;
  const std::vector<uint32_t> image(context->aux.polygonImage, context->aux.polygonImage + 32 * 32);
  EXPECT_EQ(Image(context->aux.polygon), image);
  // Without its surface the step fails.
  context->aux.ReleaseAll();
  EXPECT_FALSE(context->aux.Update(record));
}

// ---- Application --------------------------------------------------------------------------------

TEST_F(Contexts, ApplyRunsEveryDirtyGroupInItsOrder) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  state.MarkAllDirty();
  const uint32_t tags = SharedLocked()->syncTagCounter;
  EXPECT_TRUE(state.Apply());
  // The polygon image and the line image went into their surfaces, each
  // after a tag of its own.
  EXPECT_EQ(Image(context->aux.polygon),
            std::vector<uint32_t>(context->aux.polygonImage, context->aux.polygonImage + 32 * 32));
  EXPECT_EQ(Image(context->aux.line), std::vector<uint32_t>(context->aux.lineImage, context->aux.lineImage + 16));
  EXPECT_GT(static_cast<uint32_t>(context->aux.polygon->block->drawSyncTag), tags);
  EXPECT_GT(static_cast<uint32_t>(context->aux.line->block->drawSyncTag),
            static_cast<uint32_t>(context->aux.polygon->block->drawSyncTag));
  EXPECT_NE(state.drawEmitter, NoOpEmitter3d);
  EXPECT_EQ(state.raster.dirty, 0u);
  EXPECT_EQ(state.vertex.transformDirty, 0u);
  // Clean: applying again succeeds and keeps the program valid.
  EXPECT_TRUE(state.Apply());
  EXPECT_TRUE(PixelProgramCacheValid(context->programCache));
}

TEST_F(Contexts, AFailedStepTakesTheNoDrawPathAndKeepsEveryDirtyBit) {
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  const char* const kFailing[] = {"no polygon-stipple surface", "a primitive kind the vertex engine has no class for"};
  const std::string kBadKind = kFailing[1];
  Surface3d* const polygon = context->aux.polygon;
  for (const char* failing : kFailing) {
    SCOPED_TRACE(failing);
    state.MarkAllDirty();
    state.streams.noDraw = 0;
    if (failing == kBadKind)
      state.vertex.control = (state.vertex.control & ~0xFu) | 13;
    else
      context->aux.polygon = nullptr;  // the image has nowhere to go
    EXPECT_FALSE(state.Apply());
    state.vertex.control &= ~0xFu;
    context->aux.polygon = polygon;
    EXPECT_EQ(state.drawEmitter, NoOpEmitter3d);
    EXPECT_EQ(state.indexEmitter, NoOpEmitter3d);
    EXPECT_EQ(state.raster.dirty, ~0u);
    EXPECT_EQ(state.depthStencil.dirty, ~0u);
    EXPECT_EQ(state.stipple.dirty, ~0u);
    EXPECT_EQ(state.vertex.transformDirty, ~0u);
    EXPECT_EQ(state.streams.noDraw, 1u);

    // The next success reports the end of no-draw to the stream set-up
    // and runs every group's step again.
    EXPECT_TRUE(state.Apply());
    EXPECT_EQ(state.streams.noDraw, 0u);
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
    context->engineOwner->targetKind = row.kind;
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
  EXPECT_TRUE(state.Apply());
  const uint32_t expected[kTargetStatuses] = {3, 1, 3, 1, 3};
  EXPECT_EQ(memcmp(context->targetStatus, expected, sizeof expected), 0);
  EXPECT_EQ(state.raster.dirty, 0u);
  EXPECT_EQ(context->revalidating, 0u);

  // A failing revalidation takes the no-draw path: the colour target
  // became one the engine cannot draw into.
  Surface3d* surface = context->aux.polygon;
  const uint32_t placement = surface->Placement();
  surface->SetPlacement(kNibbleSystem);  // memory kind 1: the processor's only
  context->colourTarget = surface;
  context->targetStatus[0] = 2;
  EXPECT_FALSE(state.Apply());
  EXPECT_EQ(state.drawEmitter, NoOpEmitter3d);
  EXPECT_EQ(state.streams.noDraw, 1u);
  surface->SetPlacement(placement);
}

// The writes of the registers of the 3D window, in order, between two
// marks of the board's write list.
std::vector<std::pair<uint32_t, uint32_t>> CoordinateWrites(const orvsim::DmaEngine& dma, size_t from) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  const auto& writes = dma.Writes();
  for (size_t i = from; i < writes.size(); ++i) {
    const uint32_t reg = writes[i].reg;
    if (reg == 0x1000 || reg == 0x1040 || reg == 0x10B0 || reg == 0x10B4 || reg == 0x10B8)
      out.push_back({reg, writes[i].value});
  }
  return out;
}

TEST_F(Contexts, TargetModeSwitchResynchronisesTheEngine) {
  using Write = std::pair<uint32_t, uint32_t>;
  using Writes = std::vector<Write>;
  EngineOwner3d* owner = Common()->engineOwner3d;
  RenderContext3d* context = Create();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  // The context took the device's target-mode word.
  EXPECT_EQ(state.deviceTargetMode, kDeviceTargetMode);
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  VertexProgram* program = builder->GetFixedProgram(0, 0);
  ASSERT_NE(program, nullptr);
  const uint32_t code[4] = {0x1000, 0x1001, 0x1002, 0x1003};
  ContextState3d* cs = context->contextState;
  // A program upload: what reaches the coordinate registers before the
  // upload's own packets, and what the state writes after it.
  auto upload = [&] {
    cs->uploads[0] = VertexUploadSlot{program, code, 4};
    cs->dirty.words[0] |= kCsDirtyUpload1;
    const size_t from = dma.Writes().size();
    owner->Execute(cs, 0, false);
    dma.RunPending();
    return CoordinateWrites(dma, from);
  };
  context->PrepareTargets();
  owner->resync = 0;
  (void)upload();
  // Without a switch an upload writes only the state's own coordinate
  // groups, none of them dirty now.
  EXPECT_EQ(upload(), (Writes{}));

  state.ClearDirty();
  const uint32_t on[2] = {62, 1};
  state.SetRenderStates(on, 1);
  EXPECT_EQ(context->targetModeFlag, 1u);
  EXPECT_EQ(state.raster.targetMode, kDeviceTargetMode);
  EXPECT_EQ(state.raster.dirty, kRsAntialias | kRsTargetMode);
  EXPECT_EQ(state.depthStencil.dirty, kDsTargetMode);
  EXPECT_EQ(context->targetState->targetMode, kDeviceTargetMode);
  // The next upload writes the coordinate registers first (0, 4, and the
  // primitive word of the stream's first use), then the state's own.
  Writes written = upload();
  ASSERT_GE(written.size(), 5u);
  EXPECT_EQ(Writes(written.begin(), written.begin() + 5),
            (Writes{
                {0x1000, 0}, {0x1040, 4}, {0x10B0, 0x2305C}, {0x10B4, 0}, {0x10B8, 0x83C00000}}));
  EXPECT_EQ(owner->resync, 0u);
  // The state's own words follow.
  EXPECT_EQ(written[5], Write(0x1000, cs->coordinateBlock[0]));

  const uint32_t off[2] = {62, 0x100};
  state.SetRenderStates(off, 1);
  EXPECT_EQ(context->targetModeFlag, 0u);
  EXPECT_EQ(context->targetModeSwitches, 1u);
  EXPECT_EQ(state.raster.targetMode, kDeviceTargetMode & ~1u);
  // Turning it off asks for nothing; on again resynchronises in the short
  // form (the stream's first use is over).
  EXPECT_EQ(upload(), (Writes{}));
  state.SetRenderStates(on, 1);
  written = upload();
  ASSERT_GE(written.size(), 4u);
  EXPECT_EQ(Writes(written.begin(), written.begin() + 4),
            (Writes{{0x1000, 0}, {0x1040, 4}, {0x10B4, 0}, {0x10B8, 0x83C00000}}));
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

// ---- What the vertex engine takes from the client's states ---------------------------------------

uint32_t FloatWord(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

class VertexStates : public Contexts {
 protected:
  void SetUp() override {
    Contexts::SetUp();
    context = Create();
    ASSERT_NE(context, nullptr);
    ASSERT_NE(context->tnl, nullptr);
    ASSERT_TRUE(context->state.Apply());
  }
  // Applies the state as a draw does and answers the constant of image F.
  bool Draw() {
    return context->state.Apply();
  }
  const float* F(uint32_t c) { return context->tnl->F(c); }
  const float* S(uint32_t c) { return context->tnl->S(c); }
  void Set(uint32_t id, uint32_t value) {
    const uint32_t pair[2] = {id, value};
    context->state.SetRenderStates(pair, 1);
  }
  RenderContext3d* context = nullptr;
};

TEST_F(VertexStates, AViewportAndDepthRangeBecomeTheScreenMapping) {
  const struct {
    int32_t x, y;
    uint32_t w, h;
    float zScale, zOffset;
  } kCases[] = {
      {0, 0, 640, 480, 1.0f, 0.0f},
      {16, 32, 320, 200, 0.5f, 0.25f},
      {-8, -4, 1024, 768, 0.75f, 0.125f},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.w);
    const uint32_t words[6] = {static_cast<uint32_t>(c.x), static_cast<uint32_t>(c.y), c.w, c.h, 0, 0};
    context->state.SetViewport(words);
    const uint32_t range[2] = {FloatWord(c.zScale), FloatWord(c.zOffset)};
    context->state.SetDepthRange(range);
    ASSERT_TRUE(Draw());
    // Scale factors 1: half the size, y flipped, centred on the origin.
    const float hw = static_cast<float>(c.w) / 2, hh = static_cast<float>(c.h) / 2;
    const float scale[4] = {hw, -hh, c.zScale, 1.0f};
    const float offset[4] = {static_cast<float>(c.x) + hw, static_cast<float>(c.y) + hh, c.zOffset,
                             static_cast<float>(c.h)};
    for (int k = 0; k < 4; ++k) {
      EXPECT_FLOAT_EQ(F(352)[k], scale[k]) << k;
      EXPECT_FLOAT_EQ(S(352)[k], scale[k]) << k;
      EXPECT_FLOAT_EQ(F(353)[k], offset[k]) << k;
      EXPECT_FLOAT_EQ(S(353)[k], offset[k]) << k;
    }
    EXPECT_EQ(context->state.vertex.viewportGroup.dirty, 0u);
  }
  // The drawable's rectangle takes the same path.
  RenderState3dSetDrawableViewport(context, 100, 50, 200, 100);
  ASSERT_TRUE(Draw());
  EXPECT_FLOAT_EQ(F(352)[0], 100.0f);
  EXPECT_FLOAT_EQ(F(353)[0], 200.0f);
  EXPECT_FLOAT_EQ(F(353)[1], 100.0f);
}

TEST_F(VertexStates, FogStatesBecomeTheVertexFogConstants) {
  const float kLog2e = 1.442695f;
  const struct {
    uint32_t enable, tableMode, vertexMode;
    float start, end, density;
    bool vertexFog;
  } kCases[] = {
      {1, 0, 3, 10.0f, 110.0f, 0.5f, true},   // linear
      {1, 0, 1, 0.0f, 50.0f, 0.25f, true},    // exponential
      {1, 0, 2, 0.0f, 50.0f, 0.25f, true},    // exponential squared: density squared
      {1, 3, 3, 5.0f, 25.0f, 0.5f, false},    // a table mode fogs per pixel
      {0, 0, 3, 5.0f, 25.0f, 0.5f, false},    // fog off
      {1, 0, 0, 5.0f, 25.0f, 0.5f, false},    // no vertex mode
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.enable << c.tableMode << c.vertexMode);
    // From a state without fog, so that every row is a change.
    Set(28, 0);
    ASSERT_TRUE(Draw());
    Set(35, c.tableMode);
    Set(140, c.vertexMode);
    Set(36, FloatWord(c.start));
    Set(37, FloatWord(c.end));
    Set(38, FloatWord(c.density));
    Set(28, c.enable);
    float before[4];
    memcpy(before, F(340), sizeof before);
    ASSERT_TRUE(Draw());
    const uint32_t control = context->contextState->vertexEngine.vertexControl;
    EXPECT_EQ((control & 0x20) != 0, c.vertexFog);
    if (!c.vertexFog) continue;
    const float r = 1.0f / (c.end - c.start);
    const float density = c.vertexMode == 2 ? c.density * c.density : c.density;
    const float expected[4] = {c.start, c.end * r, r, density * kLog2e};
    for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(F(340)[k], expected[k]) << k;
    EXPECT_EQ(context->contextState->vertexEngine.fogNibble, 2u);
  }
  // Storing the same values again changes nothing the engine reads.
  Set(28, 1);
  Set(35, 0);
  Set(140, 3);
  ASSERT_TRUE(Draw());
  const uint32_t words[2] = {FloatWord(20.0f), FloatWord(20.0f)};
  Set(36, words[0]);
  Set(37, words[1]);
  ASSERT_TRUE(Draw());
  // Start equal to end divides by nothing.
  EXPECT_FLOAT_EQ(F(340)[0], 20.0f);
  EXPECT_TRUE(isfinite(F(340)[1]) && isfinite(F(340)[2]));
}

TEST_F(VertexStates, TheMaterialGoesInto308To311AndScalesTheGlobalAmbient) {
  const float material[16] = {0.5f, 0.25f, 1.0f, 1.0f,   // diffuse
                              0.5f, 0.5f, 0.25f, 1.0f,   // ambient
                              1.0f, 1.0f, 1.0f, 16.0f,   // specular, power 16
                              0.125f, 0.0f, 0.0f, 1.0f}; // emissive
  uint32_t words[16];
  memcpy(words, material, sizeof words);
  context->state.SetMaterial(words);
  EXPECT_NE(context->state.vertex.transformDirty & kVxMaterial, 0u);
  for (uint32_t c = 308; c <= 311; ++c)
    EXPECT_NE(context->tnl->fixedImage.dirty[c >> 5] >> (c & 31) & 1, 0u) << c;
  // Global ambient 0x80402010 (a, r, g, b): 312 is its product with 309.
  Set(139, 0x80402010);
  ASSERT_TRUE(Draw());
  for (uint32_t i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(F(308 + i / 4)[i % 4], material[i]) << i;
  const float ambient[4] = {0x40 / 255.0f, 0x20 / 255.0f, 0x10 / 255.0f, 0x80 / 255.0f};
  for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(F(312)[k], ambient[k] * material[4 + k]) << k;
  // The same material again marks nothing.
  context->state.vertex.transformDirty = 0;
  context->state.SetMaterial(words);
  EXPECT_EQ(context->state.vertex.transformDirty, 0u);
}

TEST_F(VertexStates, StageCoordinateSetsFeedTheRoutingAndTheTextureMatrices) {
  // Nothing the client sends sets the number of coordinate sets: two here.
  context->state.vertex.texCoords.setCount = 2;
  Matrix4Words matrices[8];
  for (uint32_t m = 0; m < 8; ++m)
    for (uint32_t i = 0; i < 16; ++i) matrices[m].m[i] = FloatWord(static_cast<float>(m * 16 + i));
  for (uint32_t m = 0; m < 8; ++m) context->state.SetTransform(16 + m, matrices[m]);
  const struct {
    uint32_t source[2];
    uint32_t flags[2];
  } kCases[] = {
      {{3, 5}, {2, 2}},
      {{1, 0}, {0x102, 3}},
      {{7, 6}, {4, 0}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.source[0]);
    for (uint32_t k = 0; k < 2; ++k) {
      context->state.SetStageState(k, 11, c.source[k]);
      context->state.SetStageState(k, 24, c.flags[k]);
    }
    // A draw that also sets a texture matrix, so the pass is a full one.
    context->state.SetTransform(16, matrices[0]);
    ASSERT_TRUE(Draw());
    EXPECT_EQ(context->contextState->vertexEngine.routing & 0xFF, (c.source[1] + 3) << 4 | (c.source[0] + 3));
    for (uint32_t k = 0; k < 2; ++k) {
      if (c.flags[k] == 0) continue;
      // Set k's matrix is the client's texture matrix of its source.
      for (uint32_t i = 0; i < 4; ++i)
        for (uint32_t r = 0; r < 4; ++r)
          EXPECT_FLOAT_EQ(F(313 + 4 * k + i)[r], static_cast<float>(c.source[k] * 16 + 4 * r + i)) << k << i << r;
    }
  }
}

}  // namespace
