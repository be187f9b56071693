// The render state's setters: what each client id, stage, sampler, driver
// and mode state stores and which dirty bits it marks, locks, and the
// bounds of every client index. The render state here belongs to a render
// context that was never initialised: the setters need nothing else.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_state_fixture.h"
#include "kernel/3d/render/render_state.h"

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}

class StateTest : public rtest::RenderStateTest {
 protected:

  // Every dirty word of the state, in one record, to compare whole.
  struct Dirty {
    uint32_t raster, depthStencil, fog, pixel, summary, stipple, transform, matrix, world;
    uint32_t stages[kStateStages];
    uint8_t streamFlags, streamMask;
    bool operator==(const Dirty&) const = default;
  };
  Dirty DirtyNow() const {
    Dirty d{state->raster.dirty, state->depthStencil.dirty, state->fog.dirty, state->pixel.dirty,
            state->pixel.stageSummary, state->stipple.dirty, state->vertex.transformDirty,
            state->vertex.matrixDirty, state->vertex.worldDirty, {}, state->streams.flags,
            state->streams.changedMask};
    for (uint32_t s = 0; s < kStateStages; ++s) d.stages[s] = state->stages[s].dirty;
    return d;
  }
};

// One row per translated id: the dirty words it alone marks from clean.
struct IdRow {
  uint32_t id;
  uint32_t value;
  uint32_t raster, depthStencil, fog, pixel, stipple, transform;
  uint32_t stage0;  // stage 0's dirty word (the summary follows it)
};

const IdRow kIdRows[] = {
    {1, 5, 0, 0, 0, kPxStages, 0, 0, kSgTexture | kSgPresence},
    {2, 1, kRsAntialias, 0, 0, 0, 0, 0, 0},
    {3, 2, 0, 0, 0, kPxStages, 0, 0, kSgAddress},
    {5, 1, 0, 0, 0, kPxWrap, 0, 0, 0},
    {6, 1, 0, 0, 0, kPxWrap, 0, 0, 0},
    {7, 1, 0, kDsDepth, 0, 0, 0, 0, 0},
    {8, 2, 0, 0, 0, 0, 0, kVxFillMode, 0},
    {9, 2, 0, 0, 0, 0, 0, kVxShadeMode, 0},
    {10, 0x00020F0F, 0, 0, 0, kPxId10, kStId10, kVxDriver13, 0},
    {12, 3, kRsRasterOp, 0, 0, 0, 0, 0, 0},
    {13, 0xFF, kRsPlaneMask, 0, 0, 0, 0, 0, 0},
    {14, 1, 0, kDsDepth, 0, 0, 0, 0, 0},
    {15, 1, kRsAlphaTest, 0, 0, 0, 0, 0, 0},
    {16, 1, 0, 0, 0, 0, 0, kVxId16, 0},
    {17, 2, 0, 0, 0, kPxStages, 0, 0, kSgFilter},
    {18, 4, 0, 0, 0, kPxStages, 0, 0, kSgFilter},
    {19, 5, kRsBlend, 0, 0, 0, 0, 0, 0},
    {20, 6, kRsBlend, 0, 0, 0, 0, 0, 0},
    {22, 2, 0, 0, 0, 0, 0, kVxCullMode, 0},
    {23, 4, 0, kDsDepth, 0, 0, 0, 0, 0},
    {24, 9, kRsAlphaTest, 0, 0, 0, 0, 0, 0},
    {25, 9, kRsAlphaTest, 0, 0, 0, 0, 0, 0},
    {26, 1, kRsDither, 0, 0, 0, 0, 0, 0},
    {27, 1, kRsBlend, 0, 0, 0, 0, 0, 0},
    {28, 1, 0, 0, kFgEnable, 0, 0, 0, 0},
    {29, 1, 0, 0, 0, kPxSpecular, 0, 0, 0},
    {34, 7, 0, 0, kFgColour, 0, 0, 0, 0},
    {35, 1, 0, 0, kFgTable, 0, 0, 0, 0},
    {36, 1, 0, 0, kFgTable, 0, 0, 0, 0},
    {37, 1, 0, 0, kFgTable, 0, 0, 0, 0},
    {38, 1, 0, 0, kFgTable, 0, 0, 0, 0},
    {39, 1, 0, 0, 0, kPxStages, 0, 0, 0},
    {41, 1, 0, 0, 0, kPxColourKey, 0, 0, 0},
    {43, 1, 0, 0, 0, kPxStages, 0, 0, kSgBorder},
    {44, 1, 0, 0, 0, kPxStages, 0, 0, kSgAddress},
    {45, 1, 0, 0, 0, kPxStages, 0, 0, kSgAddress},
    {46, 1, 0, 0, 0, kPxStages, 0, 0, kSgLod},
    {47, 2, 0, 0, 0, 0, 0, kVxDepthBias, 0},
    {48, 1, 0, 0, kFgEnable, 0, 0, 0, 0},
    {49, 2, 0, 0, 0, kPxStages, 0, 0, kSgFilter},
    {52, 1, 0, kDsStencil, 0, 0, 0, 0, 0},
    {59, 1, 0, kDsStencil, 0, 0, 0, 0, 0},
    {64, 0xF0F0F0F0, 0, 0, 0, 0, kStRows, 0, 0},
    {95, 1, 0, 0, 0, 0, kStRows, 0, 0},
    {128, 7, 0, 0, 0, kPxWrap, 0, 0, 0},
    {135, 7, 0, 0, 0, kPxWrap, 0, 0, 0},
    {136, 1, 0, 0, 0, 0, 0, 0, 0},
    {137, 1, 0, 0, 0, 0, 0, kVxLighting, 0},
    {139, 0xFF00FF00, 0, 0, 0, 0, 0, kVxAmbient, 0},
    {140, 3, 0, 0, kFgTable, 0, 0, 0, 0},
    {141, 1, 0, 0, 0, 0, 0, kVxMaterialSource, 0},
    {142, 1, 0, 0, 0, 0, 0, kVxLocalViewer, 0},
    {143, 1, 0, 0, 0, 0, 0, kVxNormalise, 0},
    {144, 1, 0, 0, 0, kPxColourKey, 0, 0, 0},
    {145, 1, 0, 0, 0, 0, 0, kVxMaterialSource, 0},
    {148, 2, 0, 0, 0, 0, 0, kVxMaterialSource, 0},
    {151, 3, 0, 0, 0, 0, 0, kVxVertexBlend, 0},
    {152, 0x3F, 0, 0, 0, 0, 0, kVxClipPlaneEnable, 0},
    {154, 1, 0, 0, 0, 0, 0, kVxPoint, 0},
    {157, 1, 0, 0, 0, 0, 0, kVxPoint, 0},
    {166, 1, 0, 0, 0, 0, 0, kVxPoint, 0},
    {161, 1, kRsAntialias, 0, 0, 0, 0, 0, 0},
    {167, 1, 0, 0, 0, 0, 0, kVxVertexBlend, 0},
    {168, 0xF, kRsColourWriteMask, 0, 0, 0, 0, 0, 0},
    {170, 1, 0, 0, 0, 0, 0, kVxVertexBlend, 0},
    {171, 2, kRsBlend, 0, 0, 0, 0, 0, 0},
    {100, 1, 0, 0, 0, 0, 0, 0, 0},  // no translation: stored only
    {172, 1, 0, 0, 0, 0, 0, 0, 0},
    {256, 1, 0, 0, 0, 0, 0, 0, 0},
};

TEST_F(StateTest, EachIdStoresItsValueAndMarksOnlyItsGroupsBits) {
  for (const IdRow& row : kIdRows) {
    SCOPED_TRACE("id " + std::to_string(row.id));
    state->ClearDirty();
    memset(state->values, 0, sizeof state->values);
    memset(&state->stages[0], 0, sizeof state->stages[0]);
    Set(row.id, row.value);
    EXPECT_EQ(state->GetStateValues()[row.id], row.value);
    Dirty expected{};
    expected.raster = row.raster;
    expected.depthStencil = row.depthStencil;
    expected.fog = row.fog;
    expected.pixel = row.pixel;
    expected.stipple = row.stipple;
    expected.transform = row.transform;
    expected.stages[0] = row.stage0;
    expected.summary = row.stage0 | (row.id == 39 ? kSgStipple : 0);
    EXPECT_EQ(DirtyNow(), expected);
    // The same value again marks nothing.
    state->ClearDirty();
    Set(row.id, row.value);
    EXPECT_EQ(DirtyNow(), Dirty{});
  }
}

TEST_F(StateTest, LocksKeepValuesAndOnlyTheirOwnBit) {
  Set(257, 1);  // locks id 1
  EXPECT_EQ(state->locks[0], 1u);
  Set(1, 9);
  EXPECT_EQ(state->values[1], 0u);
  EXPECT_EQ(DirtyNow(), Dirty{});
  Set(257, 0);
  EXPECT_EQ(state->locks[0], 0u);
  Set(1, 9);
  EXPECT_EQ(state->values[1], 9u);

  uint32_t before[kRenderStateIds];
  memcpy(before, state->values, sizeof before);
  Set(300, 5);  // id 44's lock, nothing else
  const uint32_t expectedLocks[8] = {0, 1u << 11, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(state->locks, expectedLocks, sizeof expectedLocks), 0);
  Set(44, 3);
  EXPECT_EQ(state->values[44], 0u);
  Set(600, 1);
  Set(0, 1);
  EXPECT_EQ(memcmp(state->locks, expectedLocks, sizeof expectedLocks), 0);
  EXPECT_EQ(memcmp(state->values, before, sizeof before), 0);
}

TEST_F(StateTest, TranslatedValues) {
  Set(161, 5);
  EXPECT_EQ(state->raster.antialias, 3u);
  Set(2, 7);
  EXPECT_EQ(state->raster.antialias, 0u);
  Set(2, 1);
  EXPECT_EQ(state->raster.antialias, 2u);
  Set(151, 255);
  EXPECT_EQ(state->vertex.tnlMode >> 14 & 7, 4u);
  Set(151, 256);
  EXPECT_EQ(state->vertex.tnlMode >> 14 & 7, 5u);
  Set(151, 13);
  EXPECT_EQ(state->vertex.tnlMode >> 14 & 7, 5u);

  Set(60, 0x80FF0000);
  for (uint32_t s = 0; s < kStateStages; ++s) {
    SCOPED_TRACE(s);
    const float expected[4] = {s < 8 ? 1.0f : 0.0f, 0.0f, 0.0f, s < 8 ? 128.0f / 255.0f : 0.0f};
    EXPECT_EQ(memcmp(state->stages[s].factor, expected, sizeof expected), 0);
    EXPECT_EQ(state->stages[s].dirty, s < 8 ? kSgFactor : 0u);
  }
  EXPECT_EQ(state->pixel.stageSummary, kSgFactor);

  // The magnification and minification filters follow the anisotropy.
  Set(17, 2);
  EXPECT_EQ(state->stages[0].magFilter, 2u);
  Set(49, 2);
  Set(17, 1);
  Set(17, 2);
  EXPECT_EQ(state->stages[0].magFilter, 3u);
  Set(18, 6);
  EXPECT_EQ(state->stages[0].minFilter, 3u);
  EXPECT_EQ(state->stages[0].mipFilter, 2u);
  Set(18, 9);  // leaves both
  EXPECT_EQ(state->stages[0].minFilter, 3u);

  // Stage-0 texture: 0 -> non-zero and back set presence; a change between
  // two non-zero handles only the texture bit.
  state->ClearDirty();
  Set(1, 4);
  EXPECT_EQ(state->stages[0].dirty, kSgTexture | kSgPresence);
  state->ClearDirty();
  Set(1, 5);
  EXPECT_EQ(state->stages[0].dirty, kSgTexture);
}

TEST_F(StateTest, LegacyBlendPresets) {
  struct Row {
    uint32_t value;
    uint8_t colour, alpha;
    bool keepsSecond;
  };
  const Row rows[] = {{2, 4, 27, false}, {6, 4, 27, false}, {4, 4, 4, false}, {3, 13, 3, false},
                      {8, 7, 3, false},  {1, 2, 2, true},   {9, 2, 2, true},  {1000, 2, 2, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    state->values[21] = 0;
    state->stages[0].colourArg2 = state->stages[0].alphaArg2 = 9;
    state->ClearDirty();
    Set(21, row.value);
    EXPECT_EQ(state->stages[0].colourOp, row.colour);
    EXPECT_EQ(state->stages[0].alphaOp, row.alpha);
    EXPECT_EQ(state->stages[0].colourArg1, 2u);
    EXPECT_EQ(state->stages[0].alphaArg1, 2u);
    EXPECT_EQ(state->stages[0].colourArg2, row.keepsSecond ? 9u : 0u);
    EXPECT_EQ(state->stages[0].alphaArg2, row.keepsSecond ? 9u : 0u);
    EXPECT_EQ(state->stages[0].dirty & kSgOps, kSgOps);
    EXPECT_EQ(state->stages[1].dirty & kSgOps, kSgOps);
  }
}

TEST_F(StateTest, SamplerStatesStayInsideTheirStage) {
  auto triple = [](uint16_t stage, uint16_t s, uint32_t value) {
    std::vector<uint16_t> t{stage, s, static_cast<uint16_t>(value), static_cast<uint16_t>(value >> 16)};
    return t;
  };
  auto set = [&](uint16_t stage, uint16_t s, uint32_t value) {
    const std::vector<uint16_t> t = triple(stage, s, value);
    state->SetSamplerStates(t.data(), 1);
  };
  uint32_t before[kStateStages][kSamplerStates];
  memcpy(before, state->samplers, sizeof before);
  set(10, 1, 5);
  set(15, 1, 5);
  set(3, 11, 5);
  set(3, 15, 5);
  EXPECT_EQ(memcmp(before, state->samplers, sizeof before), 0);
  EXPECT_EQ(DirtyNow(), Dirty{});

  // State 10 is stored in its own stage's slot only.
  set(3, 10, 77);
  EXPECT_EQ(state->samplers[3][10], 77u);
  EXPECT_EQ(state->samplers[4][0], 0u);
  set(9, 10, 78);  // the last stage's last slot: nothing past the array
  EXPECT_EQ(state->samplers[9][10], 78u);

  state->ClearDirty();
  set(2, 1, 0x13);
  EXPECT_EQ(state->stages[2].samplerFields[0], 3u);
  EXPECT_EQ(state->stages[2].dirty, kSgTexGen);
  set(2, 7, 9);
  EXPECT_EQ(state->stages[2].dirty, kSgTexGen | kSgLod);
  set(2, 9, Bits(3.0f));
  EXPECT_EQ(state->stages[2].anisotropy, 3u);
  EXPECT_EQ(state->pixel.stageSummary, kSgTexGen | kSgLod | kSgFilter);
  EXPECT_EQ(state->pixel.dirty, kPxStages);
  state->ClearDirty();
  set(2, 9, Bits(3.0f));  // unchanged
  EXPECT_EQ(DirtyNow(), Dirty{});
}

TEST_F(StateTest, StageStatesOfStagesFromTenAndAboveStateTwentyEightAreIgnored) {
  TextureStage before[kStateStages];
  memcpy(before, state->stages, sizeof before);
  state->SetStageState(10, 1, 5);
  state->SetStageState(0, 29, 5);
  state->SetStageState(0, 0, 5);
  EXPECT_EQ(memcmp(before, state->stages, sizeof before), 0);
  state->SetStageState(9, 1, 5);
  EXPECT_EQ(state->stages[9].colourOp, 5u);
  EXPECT_EQ(state->stages[9].dirty, kSgOps);
  // The bump matrix compares as floats: -0.0 after 0.0 is no change.
  state->SetStageState(4, 7, Bits(0.0f));
  EXPECT_EQ(state->stages[4].dirty, 0u);
  state->SetStageState(4, 7, Bits(-0.0f));
  EXPECT_EQ(state->stages[4].dirty, 0u);
  state->SetStageState(4, 7, Bits(0.5f));
  EXPECT_EQ(state->stages[4].dirty, kSgBump);
  state->stages[4].dirty = 0;
  state->SetStageState(4, 11, 0x00020005);
  EXPECT_EQ(state->stages[4].coordIndex, 5u);
  EXPECT_EQ(state->stages[4].texGen, 2u);
  EXPECT_EQ(state->stages[4].dirty, kSgCoordIndex | kSgTexGen);
}

// Each stage state: the field its value lands in (masked as the field
// takes it) and the group it marks; the same value again marks nothing.
TEST_F(StateTest, EachStageStateStoresItsFieldAndMarksItsGroup) {
  using Field = uint32_t (*)(const TextureStage&);
  struct Case {
    uint32_t state, value;
    Field field;
    uint32_t expected, bits;
  };
  const Case cases[] = {
      {1, 0x1FE, [](const TextureStage& t) -> uint32_t { return t.colourOp; }, 0xFE, kSgOps},
      {2, 0x103, [](const TextureStage& t) -> uint32_t { return t.colourArg1; }, 0x03, kSgOps},
      {3, 0x104, [](const TextureStage& t) -> uint32_t { return t.colourArg2; }, 0x04, kSgOps},
      {4, 0x105, [](const TextureStage& t) -> uint32_t { return t.alphaOp; }, 0x05, kSgOps},
      {5, 0x106, [](const TextureStage& t) -> uint32_t { return t.alphaArg1; }, 0x06, kSgOps},
      {6, 0x107, [](const TextureStage& t) -> uint32_t { return t.alphaArg2; }, 0x07, kSgOps},
      {7, Bits(1.5f), [](const TextureStage& t) -> uint32_t { return t.bumpMatrix[0]; }, Bits(1.5f), kSgBump},
      {8, Bits(2.5f), [](const TextureStage& t) -> uint32_t { return t.bumpMatrix[1]; }, Bits(2.5f), kSgBump},
      {9, Bits(3.5f), [](const TextureStage& t) -> uint32_t { return t.bumpMatrix[2]; }, Bits(3.5f), kSgBump},
      {10, Bits(4.5f), [](const TextureStage& t) -> uint32_t { return t.bumpMatrix[3]; }, Bits(4.5f), kSgBump},
      {11, 0x0003000E, [](const TextureStage& t) -> uint32_t { return t.coordIndex | t.texGen << 8; }, 0x306,
       kSgCoordIndex | kSgTexGen},
      {12, 0x0D, [](const TextureStage& t) -> uint32_t { return t.addressU | t.addressV << 8; }, 0x505, kSgAddress},
      {13, 0x0E, [](const TextureStage& t) -> uint32_t { return t.addressU; }, 6, kSgAddress},
      {14, 0x0B, [](const TextureStage& t) -> uint32_t { return t.addressV; }, 3, kSgAddress},
      {15, 0xAABBCCDD, [](const TextureStage& t) -> uint32_t { return t.border; }, 0xAABBCCDD, kSgBorder},
      {16, 0x0A, [](const TextureStage& t) -> uint32_t { return t.magFilter; }, 2, kSgFilter},
      {17, 0x0B, [](const TextureStage& t) -> uint32_t { return t.minFilter; }, 3, kSgFilter},
      {18, 0x0C, [](const TextureStage& t) -> uint32_t { return t.mipFilter; }, 4, kSgFilter},
      {19, 0x12345678, [](const TextureStage& t) -> uint32_t { return t.lodBias; }, 0x12345678, kSgLod},
      {20, 0x9ABCDEF0, [](const TextureStage& t) -> uint32_t { return t.maxMipLevel; }, 0x9ABCDEF0, kSgLod},
      {21, 0x07, [](const TextureStage& t) -> uint32_t { return t.anisotropy; }, 3, kSgFilter},
      {22, 0x11223344, [](const TextureStage& t) -> uint32_t { return t.bumpScale; }, 0x11223344, kSgBump},
      {23, 0x55667788, [](const TextureStage& t) -> uint32_t { return t.bumpOffset; }, 0x55667788, kSgBump},
      {24, 0xFFFF, [](const TextureStage& t) -> uint32_t { return t.transformFlags; }, 0x107, kSgTexGen},
      {25, 0x0F, [](const TextureStage& t) -> uint32_t { return t.addressW; }, 7, kSgAddress},
      {26, 0x1A1, [](const TextureStage& t) -> uint32_t { return t.colourArg0; }, 0xA1, kSgOps},
      {27, 0x1A2, [](const TextureStage& t) -> uint32_t { return t.alphaArg0; }, 0xA2, kSgOps},
      {28, 0x1A3, [](const TextureStage& t) -> uint32_t { return t.resultArg; }, 0xA3, kSgOps},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    state->ClearDirty();
    state->SetStageState(5, c.state, c.value);
    EXPECT_EQ(state->stageValues[5][c.state], c.value);
    EXPECT_EQ(c.field(state->stages[5]), c.expected);
    EXPECT_EQ(state->stages[5].dirty, c.bits);
    EXPECT_EQ(state->pixel.stageSummary, c.bits);
    EXPECT_EQ(state->pixel.dirty, kPxStages);
    state->ClearDirty();
    state->SetStageState(5, c.state, c.value);
    EXPECT_EQ(state->stages[5].dirty, 0u);
    EXPECT_EQ(state->pixel.dirty, 0u);
  }
}

// A run of one stage's states through SetStageStates leaves the state as
// SetStageState of each in ascending order does: values, fields,
// coordinate sets and every dirty word, with invalid stages and states
// skipped alike.
TEST_F(StateTest, StageStatesInARunSetWhatOneAtATimeSets) {
  RenderContext3d* other = OsNew<RenderContext3d>();
  ASSERT_NE(other, nullptr);
  RenderState3d* single = &other->state;
  single->owner = other;
  struct Run {
    uint32_t stage;
    std::vector<uint32_t> pairs;  // ascending states
  };
  const Run runs[] = {
      {0, {1, 4, 2, 3, 3, 2, 4, 7, 5, 1, 6, 0, 26, 9, 27, 8, 28, 1}},
      {1, {7, Bits(0.5f), 8, Bits(-0.0f), 9, Bits(0.0f), 10, Bits(2.0f), 22, 5, 23, 6}},
      {2, {11, 0x00020005, 24, 0x10F}},  // both sync the coordinate set
      {2, {11, 0x00010003, 24, 3}},
      {3, {12, 9, 13, 2, 14, 3, 15, 0xAABBCCDD, 25, 4}},
      {4, {16, 2, 17, 10, 18, 1, 19, 3, 20, 4, 21, 7}},
      {5, {0, 5, 12, 1, 29, 5, 31, 1}},  // states 0 and past 28 are skipped
      {9, {1, 5, 11, 0x30002}},          // the last stage has no coordinate set
      {10, {1, 5}},                      // no stage 10
      {0, {1, 4, 2, 3}},                 // unchanged: nothing marked
      {6, {}},
  };
  for (const Run& run : runs) {
    state->ClearDirty();
    single->ClearDirty();
    uint32_t held = 0;
    uint32_t values[kStageStates + 1] = {};
    for (size_t i = 0; i < run.pairs.size(); i += 2) {
      const uint32_t id = run.pairs[i];
      if (id < 32) held |= 1u << id;
      if (id <= kStageStates) values[id] = run.pairs[i + 1];
      single->SetStageState(run.stage, id, run.pairs[i + 1]);
    }
    state->SetStageStates(run.stage, held, values);
    SCOPED_TRACE(run.stage);
    EXPECT_EQ(memcmp(state->stageValues, single->stageValues, sizeof state->stageValues), 0);
    EXPECT_EQ(memcmp(state->stages, single->stages, sizeof state->stages), 0);
    EXPECT_EQ(memcmp(&state->vertex.texCoords, &single->vertex.texCoords, sizeof state->vertex.texCoords), 0);
    const Dirty mine = DirtyNow();
    std::swap(state, single);
    EXPECT_EQ(mine, DirtyNow());
    std::swap(state, single);
  }
  OsDelete(other);
}

TEST_F(StateTest, DriverStates) {
  const uint32_t pairs[] = {1, 1, 9, 0x11, 12, 0x44, 27, 5, 29, 1, 100, 1};
  state->SetDriverStates(pairs, 6);
  EXPECT_EQ(state->driverValues[1], 1u);
  EXPECT_EQ(state->raster.blendConstants[0], 0x11u);
  EXPECT_EQ(state->raster.blendConstants[3], 0x44u);
  EXPECT_EQ(state->raster.dirty, kRsBlend);
  EXPECT_EQ(state->vertex.transformDirty, kVxDriver1 | kVxDriver27);
  // Block 20 + 1 is stored (this context has no cache to load it from).
  const uint32_t block[] = {20, 4};
  state->SetDriverStates(block, 1);
  EXPECT_EQ(state->pixel.constantBlock, 5u);
  EXPECT_NE(state->pixel.dirty & kPxProgram, 0u);
}

TEST_F(StateTest, ModeStatesRewriteTheMaterialSources) {
  struct Row {
    uint32_t value, mode, first, second;
  };
  // Diffuse bits 0-1, specular 2-3, ambient 4-5, emissive 6-7.
  const Row rows[] = {{0, 1, 0x01, 0}, {3, 1, 0x01, 0x01}, {3, 2, 0x10, 0x10}, {1, 3, 0x04, 0},
                      {3, 4, 0x40, 0x40}, {3, 5, 0x11, 0x11}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    state->vertex.materialSources = 0xFF;
    state->vertex.materialSourcesB = 0xFF;
    const uint32_t pair[2] = {row.value, row.mode};
    state->SetModeStates(pair, 1);
    EXPECT_EQ(state->vertex.materialSources, row.first);
    EXPECT_EQ(state->vertex.materialSourcesB, row.second);
  }
  const uint32_t skipped[2] = {3, 6};
  state->SetModeStates(skipped, 1);
  EXPECT_EQ(state->vertex.materialSources, 0x11u);
  EXPECT_EQ(DirtyNow(), Dirty{});
}

TEST_F(StateTest, TransformsByIdAndTheirDirtyBits) {
  Matrix4Words m{};
  for (uint32_t i = 0; i < 16; ++i) m.m[i] = i + 1;
  state->SetTransform(2, m);
  EXPECT_EQ(state->vertex.matrixDirty, kMxViewWorld);
  state->ClearDirty();
  state->SetTransform(2, m);  // the stored matrix again
  EXPECT_EQ(DirtyNow(), Dirty{});
  state->SetTransform(3, m);
  EXPECT_EQ(state->vertex.matrixDirty, kMxProjection);
  EXPECT_EQ(state->vertex.projectionChanged, 1u);
  state->ClearDirty();
  for (uint32_t id = 16; id <= 23; ++id) state->SetTransform(id, m);
  EXPECT_EQ(state->vertex.matrixDirty, 0x3FCu);  // bits 2-9
  state->ClearDirty();
  state->SetTransform(256 + 31, m);
  EXPECT_EQ(state->vertex.worldDirty, 1u << 31);
  state->ClearDirty();
  state->SetTransform(24, m);
  state->SetTransform(288, m);
  state->SetTransform(0, m);
  EXPECT_EQ(DirtyNow(), Dirty{});
}

TEST_F(StateTest, StageTexturesRectanglesPlanesAndFloatPairs) {
  state->SetStageTexture(3, 7);
  EXPECT_EQ(state->stages[3].dirty, kSgTexture | kSgPresence);
  state->stages[3].dirty = 0;
  state->SetStageTexture(3, 8);
  EXPECT_EQ(state->stages[3].dirty, kSgTexture);
  TextureStage before[kStateStages];
  memcpy(before, state->stages, sizeof before);
  state->SetStageTexture(10, 1);
  state->SetStageTexture(15, 1);
  EXPECT_EQ(memcmp(before, state->stages, sizeof before), 0);

  state->ClearDirty();
  const uint32_t rect[4] = {1, 2, 3, 4};
  state->SetRectA(rect);
  state->SetRectB(rect);
  EXPECT_EQ(state->vertex.transformDirty, kVxRectA | kVxRectB);
  state->ClearDirty();
  state->SetRectA(rect);
  state->SetRectB(rect);
  EXPECT_EQ(DirtyNow(), Dirty{});

  uint32_t planes[kMaxClipPlanes][4];
  memcpy(planes, state->vertex.clipPlanes, sizeof planes);
  state->SetClipPlane(6, rect);
  EXPECT_EQ(memcmp(planes, state->vertex.clipPlanes, sizeof planes), 0);
  state->SetClipPlane(5, rect);
  EXPECT_EQ(state->vertex.clipPlanes[5][3], 4u);

  state->ClearDirty();
  const uint32_t pair[2] = {Bits(0.5f), Bits(1.0f)};
  state->SetDepthRange(pair);
  state->SetFloatPair(pair);
  EXPECT_EQ(state->vertex.transformDirty, kVxDepthRange | kVxViewport | kVxFloatPair);
  state->ClearDirty();
  state->SetDepthRange(pair);
  state->SetFloatPair(pair);
  EXPECT_EQ(DirtyNow(), Dirty{});
}

TEST_F(StateTest, PipelineRecordCountIsBoundedByItsStages) {
  auto* record = OsNew<PipelineRecord>();
  ASSERT_NE(record, nullptr);
  record->count = 0xFFFFFFFF;
  for (uint32_t s = 0; s < kPipelineStages; ++s) {
    record->stages[s].colour.operation = 100 + s;
    record->stages[s].alphaEnable = 1;
    record->stages[s].alpha.operation = 200 + s;
  }
  record->stages[4].colourEnable = 0;
  state->LoadPipelineRecord(record);
  EXPECT_EQ(state->pixel.dirty, kPxProgram | kPxStageRecords);
  for (uint32_t s = 0; s < kPipelineStages; ++s) {
    uint32_t colour, alpha;
    memcpy(&colour, state->pixel.stageRecords[s][0], 4);
    memcpy(&alpha, state->pixel.stageRecords[s][1], 4);
    EXPECT_EQ(colour, s == 4 ? 0u : 100 + s) << s;
    EXPECT_EQ(alpha, 200 + s) << s;
  }
  OsDelete(record);
}

TEST_F(StateTest, PipelineRecordDefaults) {
  const StageRecord stage;
  EXPECT_EQ(stage.colourEnable, 1u);
  EXPECT_EQ(stage.alphaEnable, 0u);
  EXPECT_EQ(stage.colour.word4, 4u);
  EXPECT_EQ(stage.colour.word12, 1u);
  EXPECT_EQ(stage.alpha.args[2].index, 255u);
  EXPECT_EQ(stage.words[5], 0u);
}

TEST_F(StateTest, LightsAreBoundedAndChangedOnlyWhenTheirBytesDiffer) {
  LightRecord light{};
  light.type = 1;
  EXPECT_FALSE(state->SetLight(kMaxLightIndex + 1, &light));
  EXPECT_FALSE(state->SetLight(0xFFFFFFFF, &light));
  EXPECT_TRUE(state->SetLight(kMaxLightIndex, &light));
  EXPECT_EQ(state->vertex.transformDirty, kVxLight);
  state->ClearDirty();
  EXPECT_TRUE(state->SetLight(kMaxLightIndex, &light));
  EXPECT_EQ(DirtyNow(), Dirty{});

  // A spot light's angle becomes its cosine; a directional light's three
  // words move from the position to the direction.
  light.type = 2;
  light.theta = Bits(60.0f);
  EXPECT_TRUE(state->SetLight(1, &light));
  float cosine;
  memcpy(&cosine, &state->lights[1]->theta, 4);
  EXPECT_NEAR(cosine, 0.5f, 1e-6);
  light.type = 3;
  light.position[0] = 7;
  light.position[2] = 9;
  EXPECT_TRUE(state->SetLight(2, &light));
  EXPECT_EQ(state->lights[2]->direction[0], 7u);
  EXPECT_EQ(state->lights[2]->direction[2], 9u);
}

TEST_F(StateTest, ForgetBufferMarksTheBindingsOfThatBuffer) {
  state->streams.bindings[2].handle = 5;
  state->streams.bindings[6].handle = 5;
  state->streams.bindings[7] = StreamBinding{1, 5, 0, 0, 0};  // a surface: not this kind
  state->streams.indexSource.handle = 5;
  state->ForgetBuffer(2, 5);
  EXPECT_EQ(state->streams.changedMask, 0x44u);
  EXPECT_EQ(state->streams.flags, kSfIndexSource);
}

TEST_F(StateTest, MarkAllDirtyThenClearDirty) {
  state->MarkAllDirty();
  EXPECT_EQ(state->raster.dirty, ~0u);
  EXPECT_EQ(state->stages[9].dirty, ~0u);
  EXPECT_EQ(state->streams.flags, 0xFFu);
  state->ClearDirty();
  EXPECT_EQ(DirtyNow(), Dirty{});
}

}  // namespace
