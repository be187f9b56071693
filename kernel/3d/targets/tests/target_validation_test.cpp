// The target steps of a draw over a started board: a render context's
// target-related render states applied, the engine state made current,
// and the board's registers compared with what the states ask for; the
// work-buffer mode of a draw with its control byte and shared buffers;
// the flip check and the resource lookup of a target.
#include <gtest/gtest.h>

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_context_fixture.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_binding.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/flip_controller.h"

namespace {

constexpr uint32_t kClient = 77;

uint32_t F(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

class TargetSteps : public rtest::RenderContextBoard {
 protected:
  TargetSteps() : RenderContextBoard(kClient) {}

  void SetUp() override {
    RenderContextBoard::SetUp();
    if (HasFatalFailure()) return;
    board3d = TargetBoard(Common());
    ASSERT_NE(board3d, nullptr);
    EngineMode3d() = EngineModeCache();
  }

  // The memory kind is the surface's placement nibble.
  static void Kind(Surface3d* s, uint32_t kind) { s->SetPlacement(kind); }

  TargetBoard3d* board3d = nullptr;
};

TEST_F(TargetSteps, DepthAndStencilStatesReachTheDepthRegisters) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* depth = Target(19);
  ASSERT_NE(depth, nullptr);
  Bind(c, nullptr, depth);
  // Depth on, writes on, function 4 (compare code 3); stencil on with
  // increment, decrement and replace, function 5 (code 4), reference 0x1AB
  // (cut to eight bits), mask 0x0F, write mask 0xF0.
  Set(c, {7, 1, 14, 1, 23, 4, 52, 1, 53, 4, 54, 5, 55, 3, 56, 5, 57, 0x1AB, 58, 0x0F, 59, 0xF0});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xB2), 1u | 3u << 1 | kDepthWriteBit | 8u << kDepthCodeShift);
  EXPECT_EQ(Reg(0xB3), F(1.0f / 0xFFFFFF));
  EXPECT_EQ(Reg(0xB4), depth->hw.records[kUsageDepthStencil].word0);
  EXPECT_EQ(Reg(0xB0), 0x80000000u | 1u | 4u << 5 | 6u << 8 | 7u << 11 | 1u << 14);
  EXPECT_EQ(Reg(0xB1), 0xABu | 0x0Fu << 8 | 0xF0u << 16);
  // The depth target's descriptor is surface unit 1.
  EXPECT_EQ(Reg(0x8A), depth->hw.records[kUsageDepthStencil].word0);
  EXPECT_EQ(Reg(0x8B), depth->hw.records[kUsageDepthStencil].word1);

  // Only the stencil changes: only its group is marked and written.
  c->contextState->dirty.words[0] = 0;
  Set(c, {58, 0x3});
  ASSERT_TRUE(c->state.Apply());
  EXPECT_EQ(c->contextState->dirty.words[0] & (kCsDirtyDepth | kCsDirtyStencil), kCsDirtyStencil);

  // A stencil of seven bits (format 21) cuts the values to them.
  Surface3d* depth21 = Target(21);
  ASSERT_NE(depth21, nullptr);
  Bind(c, nullptr, depth21);
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xB1), 0x2Bu | 0x03u << 8 | 0x70u << 16);
  EXPECT_EQ(Reg(0xB2) >> kDepthCodeShift & 0xF, 7u);

  // Without a depth target: no stencil, and the test is forced on with
  // function always only while the work buffer is in use.
  Bind(c, nullptr, nullptr);
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xB0) & 1, 0u);
  EXPECT_EQ(Reg(0xB2) & 1, 0u);
  EXPECT_EQ(Reg(0xB3), F(kDepthScaleNone));
}

TEST_F(TargetSteps, TheStencilCountsAsInactive) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* depth = Target(19);
  ASSERT_NE(depth, nullptr);
  Bind(c, nullptr, depth);
  struct Row {
    uint32_t enable, fail, depthFail, pass, function;
    bool pending;
    uint32_t on;
  };
  const Row rows[] = {
      {0, 2, 2, 2, 5, false, 0},  // disabled
      {1, 1, 1, 1, 5, false, 0},  // keep, keep, keep
      {1, 1, 1, 3, 8, false, 0},  // keep, keep, replace, always
      {1, 1, 1, 3, 8, true, 1},   // the same while a switch is pending
      {1, 1, 1, 3, 5, false, 1},  // another function
      {1, 2, 1, 1, 8, false, 1},  // fail zeroes
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.enable << r.fail << r.depthFail << r.pass << r.function << r.pending);
    c->targetState->pendingSwitch = r.pending ? 1 : 0;
    Set(c, {52, r.enable, 53, r.fail, 54, r.depthFail, 55, r.pass, 56, r.function});
    c->state.depthStencil.dirty |= kDsStencil;
    ASSERT_TRUE(Draw(c));
    EXPECT_EQ(Reg(0xB0) & 1, r.on);
  }
  c->targetState->pendingSwitch = 0;
}

TEST_F(TargetSteps, AFreshContextDrawsWithTheGroupDefaults) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  Surface3d* depth = Target(19);
  ASSERT_NE(colour, nullptr);
  ASSERT_NE(depth, nullptr);
  Bind(c, colour, depth);
  // Nothing set: the first draw takes the groups' defaults. Depth test off,
  // writes on, function 4 (code 3); stencil off, keep, keep, keep, always
  // (code 7), reference 0, masks all ones (cut to 8 bits); alpha test off,
  // always; source factor one (1), destination zero (0), operation add,
  // blending off; all channels written; raster operation 12; dithering on.
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xB2), 3u << 1 | kDepthWriteBit | 8u << kDepthCodeShift);
  EXPECT_EQ(Reg(0xB0), 0x80000000u | 7u << 5);
  EXPECT_EQ(Reg(0xB1), 0xFFu << 8 | 0xFFu << 16);
  EXPECT_EQ(Reg(0xB9), 7u << 1);
  EXPECT_EQ(Reg(0xBA), 1u | 1u << 8);
  EXPECT_EQ(Reg(0xBC), 0xFFFFFFFFu);
  EXPECT_EQ(Reg(0xBB) >> kColourRasterOpShift, 12u);
  EXPECT_EQ(Reg(0xBB) & kColourDitherOff, 0u);
  // A client value equal to a default changes nothing; one that differs,
  // 0 included, takes effect.
  c->state.ClearDirty();
  Set(c, {168, 15, 23, 4});
  EXPECT_EQ(c->state.raster.dirty, 0u);
  EXPECT_EQ(c->state.depthStencil.dirty, 0u);
  Set(c, {168, 0});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBC), 0u);
}

TEST_F(TargetSteps, BlendAlphaTestWriteMaskAndRasterOperation) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  ASSERT_NE(colour, nullptr);
  Bind(c, colour, nullptr);
  // Source factor 7 and destination 8 on a target with alpha: 10 and 0;
  // operation 2 (code 1); blending on. Alpha test on, function 7 (code 5),
  // reference 0x80. Write enables red and alpha; raster operation 6;
  // dithering (on by default) off.
  Set(c, {19, 7, 20, 8, 171, 2, 27, 1, 15, 1, 25, 7, 24, 0x180, 168, 0x9, 12, 6, 26, 0});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBA), 10u | 0u << 4 | 10u << 8 | 0u << 12 | 1u << 16 | 1u << 19 | kBlendEnableBit);
  EXPECT_EQ(Reg(0xB9), 1u | 5u << 1 | 0x80u << 8);
  EXPECT_EQ(Reg(0xBC), 0xFFFF0000u);
  EXPECT_EQ(Reg(0xBB) >> kColourRasterOpShift, 6u);
  EXPECT_EQ(c->targetState->rasterOpReadsTarget, 1);
  EXPECT_NE(Reg(0xBB) & kColourDitherAllowed, 0u);
  EXPECT_NE(Reg(0xBB) & kColourDitherOff, 0u);  // dithering off (render state 26 set to 0)
  // The colour target's descriptor is surface unit 0.
  EXPECT_EQ(Reg(0x88), colour->hw.records[kUsageRenderTarget].word0);
  EXPECT_EQ(Reg(0x89), colour->hw.records[kUsageRenderTarget].word1);

  // Constant-colour factors take both fields of their side; minimum and
  // maximum take none.
  Set(c, {19, 12, 20, 13});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBA) & 0xFFFF, 6u | 7u << 4 | 7u << 8 | 6u << 12);
  Set(c, {171, 4});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBA) & 0xFFFF, 0x1111u);

  // A plane mask covering half of the red channel is a partial mask.
  Set(c, {13, 0x000F0000});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBC), 0x000F0000u);
  EXPECT_EQ(c->targetState->partialMask, 1);
  Set(c, {13, 0x00FF00FF});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(c->targetState->partialMask, 0);

  // A 16-bit target of a format without alpha repeats its mask and takes
  // factor 7 as 10, 10; codes 15, 16 and 30 take no dithering.
  Surface3d* colour16 = Target(10);
  ASSERT_NE(colour16, nullptr);
  Bind(c, colour16, nullptr);
  Set(c, {19, 7, 171, 2, 168, 0x1});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBC), 0xF800F800u);
  EXPECT_EQ(Reg(0xBA) & 0xF, 10u);
  Surface3d* wide = Target(16);
  ASSERT_NE(wide, nullptr);
  Bind(c, wide, nullptr);
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBB) & (kColourDitherAllowed | kColourDitherOff), 0u);
}

TEST_F(TargetSteps, AColourTargetTheEngineCannotDrawIntoDrawsNothing) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  ASSERT_NE(colour, nullptr);
  Kind(colour, 1);
  Bind(c, colour, nullptr);
  EXPECT_FALSE(c->state.Apply());
  EXPECT_EQ(c->state.drawEmitter, NoOpEmitter3d);
  EXPECT_EQ(c->colourTarget, nullptr);
  EXPECT_EQ(c->targetFlags & kTargetColourBound, 0u);
  EXPECT_EQ(c->targetState->colourRequested, nullptr);
  // Without a colour target the next draw goes ahead.
  EXPECT_TRUE(c->state.Apply());
}

TEST_F(TargetSteps, ADestroyedTargetLeavesTheTargetState) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  Surface3d* depth = Target(19);
  ASSERT_NE(depth, nullptr);
  Bind(c, colour, depth);
  ASSERT_TRUE(c->state.Apply());
  ASSERT_EQ(c->targetState->depthRequested, depth);
  UnbindSurfaceReferences(c, depth);
  UnbindSurfaceReferences(c, colour);
  EXPECT_EQ(c->targetState->depthRequested, nullptr);
  EXPECT_EQ(c->targetState->depthCurrent, nullptr);
  EXPECT_EQ(c->targetState->colourRequested, nullptr);
  EXPECT_NE(c->state.depthStencil.dirty & kDsTargetGone, 0u);
  EXPECT_NE(c->state.raster.dirty & kRsTargetGone, 0u);
  EXPECT_TRUE(c->state.Apply());
  EXPECT_EQ(c->contextState->depthStencilBlock[kDsbDepthAddress], 0u);
}

// ---- The work-buffer mode ---------------------------------------------------------------------

TEST_F(TargetSteps, TheWorkBufferModeGivesTheSetUpModeAndTheControlBits) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* depth = Target(19, 256, 256);
  ASSERT_NE(depth, nullptr);
  depth->flagsWord |= 0x8;  // asks for a work buffer
  Bind(c, nullptr, depth);
  RenderTargetState* ts = c->targetState;

  // The board's switch refuses: not in use, set-up mode 0.
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(ts->workBufferMode, kWbNotInUse);
  EXPECT_EQ(ts->setupMode, 0u);
  EXPECT_EQ(Reg(0xBF) & 0x1B, 0u);
  EXPECT_EQ(ts->kind, kWorkBufferNone);

  // A new depth target with the switch allowing: the buffer is reserved
  // and in use; fewer than two targets turn set-up mode 3 into 1.
  board3d->switches.memoryBits = 3;
  board3d->switches.sizeMiB = 8.0f;
  Surface3d* depth2 = Target(19, 256, 256);
  ASSERT_NE(depth2, nullptr);
  depth2->flagsWord |= 0x8;
  Bind(c, nullptr, depth2);
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(ts->kind, kWorkBufferOwn);
  EXPECT_EQ(ts->workBufferMode, kWbInUse);
  EXPECT_EQ(ts->setupMode, 3u);
  EXPECT_EQ(ts->modeChanged, 1);
  EXPECT_EQ(Reg(0xBF) & 0x3, 1u);
  EXPECT_EQ(c->state.targetRecord[0], ts->addressWords[0]);
  EXPECT_EQ(c->state.targetRecord[2], 1u);
  EXPECT_EQ(ts->setupWords[0], Reg(0xBF));
  EXPECT_EQ(ts->setupWords[1], Reg(0xB2));

  // Two render targets keep set-up mode 3; the target-mode flag 0x20 sets
  // bit 0x10.
  c->targetCount = 2;
  c->state.raster.targetMode = kTargetModeFlag;
  c->state.raster.dirty |= kRsTargetMode;
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xBF) & 0x1B, 0x13u);
  c->targetCount = 0;
  c->state.raster.targetMode = 0;

  // The depth test "always" without writes is turned off only while the
  // buffer is out of use.
  Set(c, {7, 1, 14, 0, 23, 8});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(Reg(0xB2) & 1, 1u);

  // The buffer goes out of use: mode 2 flushes the set-up once, then 1.
  Bind(c, nullptr, nullptr);
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(ts->workBufferMode, kWbFlushPending);
  EXPECT_EQ(Reg(0xBF) & 0x3, 0u);
  // Without a depth surface the test is off outside mode 0.
  EXPECT_EQ(Reg(0xB2) & 1, 0u);
  c->state.raster.dirty |= kRsTargetMode;
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(ts->workBufferMode, kWbNotInUse);

  // A suspended context is mode 3: set-up mode 2.
  c->SetSuspended(true);
  c->state.raster.dirty |= kRsTargetMode;
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(ts->workBufferMode, kWbSuspended);
  EXPECT_EQ(Reg(0xBF) & 0x3, 2u);
  c->SetSuspended(false);
}

TEST_F(TargetSteps, ContextsOnOneDepthSurfaceShareItsWorkBuffer) {
  board3d->switches.memoryBits = 3;
  board3d->switches.sizeMiB = 8.0f;
  Surface3d* depth = Target(19, 256, 256);
  ASSERT_NE(depth, nullptr);
  depth->flagsWord |= 0x8;
  RenderContext3d* a = Create();
  RenderContext3d* b = Create();
  RenderContext3d* d = Create();
  ASSERT_TRUE(a && b && d);
  Bind(a, nullptr, depth);
  ASSERT_TRUE(Draw(a));
  ASSERT_EQ(a->targetState->kind, kWorkBufferOwn);
  const uint32_t size = a->targetState->requestedSize;
  Bind(b, nullptr, depth);
  Bind(d, nullptr, depth);
  ASSERT_TRUE(Draw(b));
  ASSERT_TRUE(Draw(d));
  // Nothing placed for the sharers.
  EXPECT_EQ(b->targetState->block, nullptr);
  EXPECT_EQ(d->targetState->block, nullptr);
  EXPECT_EQ(b->targetState->kind, kWorkBufferShared);
  EXPECT_EQ(d->targetState->kind, kWorkBufferShared);
  EXPECT_EQ(b->targetState->addressWords[0], a->targetState->addressWords[0]);
  // The next draws split the owner's buffer among the three.
  b->state.raster.dirty |= kRsTargetMode;
  ASSERT_TRUE(Draw(b));
  EXPECT_EQ(b->targetState->requestedSize, (size / 3) & ~255u);
  // The owner goes: the sharer gives its share up and takes a buffer of its
  // own.
  DestroyRenderContext(a->handle);
  b->state.raster.dirty |= kRsTargetMode;
  ASSERT_TRUE(Draw(b));
  EXPECT_EQ(b->targetState->kind, kWorkBufferOwn);
  EXPECT_EQ(b->targetState->workBufferMode, kWbInUse);
}

// ---- Lookups and flips ---------------------------------------------------------------------------

TEST_F(TargetSteps, LookupsAndTheFlipCheck) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(LookupTargetSurface(c, kSurfaceType, colour->resourceHandle), colour);
  EXPECT_EQ(LookupTargetSurface(c, 3, colour->resourceHandle), nullptr);
  EXPECT_EQ(LookupTargetSurface(c, kSurfaceType, colour->resourceHandle + 100), nullptr);
  Kind(colour, 3);
  EXPECT_EQ(LookupTargetSurface(c, kSurfaceType, colour->resourceHandle), nullptr);

  // No target, or one the display cannot show: done at once.
  EXPECT_TRUE(IsTargetFlipDone(c));
  Bind(c, colour, nullptr);
  SharedLocked()->pendingSubmissions = 1;
  EXPECT_TRUE(IsTargetFlipDone(c));
  // A displayable target waits while a flip is in flight.
  colour->flagsWord |= 0x2;  // displayable
  EXPECT_FALSE(IsTargetFlipDone(c));
  SharedLocked()->pendingSubmissions = 0;
  EXPECT_TRUE(IsTargetFlipDone(c));
}

TEST_F(TargetSteps, ADrawInSetUpModeThreeMakesTheSetUpPending) {
  board3d->switches.memoryBits = 3;
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* depth = Target(19, 256, 256);
  ASSERT_NE(depth, nullptr);
  depth->flagsWord |= 0x8;
  Bind(c, nullptr, depth);
  MarkTargetsBusy(c);
  EXPECT_EQ(c->targetState->pendingSwitch, 0u);  // set-up mode 0
  ASSERT_TRUE(Draw(c));
  ASSERT_EQ(c->targetState->setupMode, 3u);
  MarkTargetsBusy(c);
  EXPECT_EQ(c->targetState->pendingSwitch, 1u);
  EXPECT_EQ(c->targetState->setupWords[1], c->contextState->depthStencilBlock[kDsbDepthControl]);
  EXPECT_EQ(c->targetState->setupWords[3], c->contextState->depthStencilBlock[kDsbDepthScale]);
}

TEST_F(TargetSteps, ADrawMarksItsDepthSurfaceInUseUntilTheMarkIsCleared) {
  EngineOwner3d* owner = Common()->engineOwner3d;
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* depth = Target(19, 64, 32);
  Surface3d* other = Target(19, 64, 32);
  ASSERT_NE(depth, nullptr);
  ASSERT_NE(other, nullptr);
  Bind(c, nullptr, depth);
  ASSERT_TRUE(Draw(c));
  ASSERT_EQ(c->targetState->depthCurrent, depth);
  owner->targetsInUse = 0;
  MarkTargetsBusy(c);
  EXPECT_EQ(owner->targetsInUse, 1u);
  EXPECT_EQ(owner->depthInUse, depth);
  // Another surface's mark, or none, leaves it.
  ClearSurfaceBusy(other);
  ClearSurfaceBusy(nullptr);
  EXPECT_EQ(owner->depthInUse, depth);
  ClearSurfaceBusy(depth);
  EXPECT_EQ(owner->targetsInUse, 0u);
  EXPECT_EQ(owner->depthInUse, nullptr);
  // A depth surface that goes takes its mark along.
  MarkTargetsBusy(c);
  EXPECT_EQ(owner->depthInUse, depth);
  table->DestroyResource(kSurfaceType, depth->resourceHandle);
  EXPECT_EQ(owner->depthInUse, nullptr);
  EXPECT_EQ(owner->targetsInUse, 0u);
}

TEST_F(TargetSteps, TheDisplayedSurfaceTest) {
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  Surface3d* shown = Target(11);
  ASSERT_NE(colour, nullptr);
  ASSERT_NE(shown, nullptr);
  // Whether the context's current colour target is the surface the device
  // displays.
  auto IsTargetDisplayed = [this](RenderContext3d* context) {
    const Surface3d* current = context->targetState->colourCurrent;
    return current != nullptr && current == BlitEngine3dDisplayedSurface(pdev);
  };
  EXPECT_FALSE(IsTargetDisplayed(c));
  Bind(c, colour, nullptr);
  ASSERT_TRUE(Draw(c));
  ASSERT_EQ(c->targetState->colourCurrent, colour);
  EXPECT_FALSE(IsTargetDisplayed(c));
  BlitEngine3dSetDisplayedSurface(pdev, shown);
  EXPECT_FALSE(IsTargetDisplayed(c));
  BlitEngine3dSetDisplayedSurface(pdev, colour);
  EXPECT_TRUE(IsTargetDisplayed(c));
  BlitEngine3dSetDisplayedSurface(pdev, nullptr);
  EXPECT_FALSE(IsTargetDisplayed(c));
}

TEST_F(TargetSteps, ClearRecordsHoldTheTargetsWhileTheWorkBufferIsInUse) {
  board3d->switches.memoryBits = 3;
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  RenderTargetState* ts = c->targetState;
  for (const TargetClearRecord* record : {&ts->colourClear, &ts->depthClear}) {
    EXPECT_EQ(record->context, c);
    EXPECT_EQ(record->state, ts);
  }
  Surface3d* depth = Target(19, 256, 256);
  Surface3d* colour = Target(11, 256, 256);
  ASSERT_NE(depth, nullptr);
  ASSERT_NE(colour, nullptr);
  depth->flagsWord |= 0x8;
  Bind(c, colour, depth);
  ASSERT_TRUE(Draw(c));
  ASSERT_EQ(ts->workBufferMode, 0u);
  // Each record took its target and three words of the target's usage
  // record.
  EXPECT_EQ(ts->depthClear.target, depth);
  const MmSurfDesc& d = depth->hw.records[kUsageDepthStencil];
  EXPECT_EQ(std::vector<uint32_t>(ts->depthClear.addressWords, ts->depthClear.addressWords + 3),
            (std::vector<uint32_t>{d.word0, d.word1, d.word2}));
  EXPECT_EQ(ts->colourClear.target, colour);
  EXPECT_NE(ts->colourClear.addressWords[0], 0u);
  // A suspended context keeps them (work-buffer mode 3).
  c->SetSuspended(true);
  c->state.depthStencil.dirty |= kDsTargetGone;
  (void)Draw(c);
  ASSERT_EQ(ts->workBufferMode, 3u);
  EXPECT_EQ(ts->depthClear.target, depth);
  EXPECT_EQ(ts->colourClear.target, colour);
  // Out of use, both records drop their targets, the colour one too.
  c->SetSuspended(false);
  Bind(c, colour, nullptr);
  ASSERT_TRUE(Draw(c));
  ASSERT_TRUE(ts->workBufferMode == 1u || ts->workBufferMode == 2u) << ts->workBufferMode;
  EXPECT_EQ(ts->colourCurrent, colour);
  for (const TargetClearRecord* record : {&ts->colourClear, &ts->depthClear}) {
    EXPECT_EQ(record->target, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(record->addressWords, record->addressWords + 3),
              (std::vector<uint32_t>{0, 0, 0}));
  }
  // Bound again (the colour target too), then a target that goes leaves
  // its record.
  Bind(c, colour, depth);
  c->state.raster.dirty |= kRsTargetGone;
  ASSERT_TRUE(Draw(c));
  ASSERT_EQ(ts->workBufferMode, 0u);
  ASSERT_EQ(ts->colourClear.target, colour);
  table->DestroyResource(kSurfaceType, colour->resourceHandle);
  EXPECT_EQ(ts->colourClear.target, nullptr);
  EXPECT_EQ(ts->colourClear.addressWords[0], 0u);
  EXPECT_EQ(ts->depthClear.target, depth);
}

}  // namespace
