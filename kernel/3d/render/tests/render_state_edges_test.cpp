// The edges of the render state's client indices: the last valid id,
// stage or set is taken, the first invalid one changes nothing at all in
// the render state; and the setters that compare before they store mark
// nothing when given the value they hold.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <vector>

#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_state_fixture.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/render/tests/state_block_queries.h"

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}

class StateEdges : public rtest::RenderStateTest {
 protected:
  // One render state of `s`, by its client id.
  static void Set(RenderState3d& s, uint32_t id, uint32_t value) {
    const uint32_t pair[2] = {id, value};
    s.SetRenderStates(pair, 1);
  }

  // The render state's bytes, to see that a refused index touched nothing.
  std::vector<uint8_t> Bytes() const {
    const auto* at = reinterpret_cast<const uint8_t*>(state);
    return std::vector<uint8_t>(at, at + sizeof(RenderState3d));
  }
};

// Each row: what the last valid index does, and the first invalid one,
// after which the render state must be byte for byte as before (for
// coordinate sets: the vertex group's sets, as a stage past them keeps
// its own fields).
TEST_F(StateEdges, TheLastIndexIsTakenAndThePastOneTouchesNothing) {
  struct Row {
    const char* name;
    std::function<void(RenderState3d&)> last;
    std::function<bool(const RenderState3d&)> took;
    std::function<void(RenderState3d&)> past;
    bool setsOnly = false;
  };
  const uint32_t stageValues[kStageStates + 1] = {0, 7};
  const Row rows[] = {
      {"lock control: 512 locks id 256, 513 is no id",
       [](RenderState3d& t) {
         Set(t, 256, 5);
         Set(t, 512, 1);
         Set(t, 256, 6);
       },
       [](const RenderState3d& s) { return s.values[256] == 5 && (s.locks[7] >> 31 & 1) == 1; },
       [](RenderState3d& t) { Set(t, 513, 1); }},
      {"driver states: 28 is stored, 29 is no id",
       [](RenderState3d& t) {
         const uint32_t pair[2] = {28, 9};
         t.SetDriverStates(pair, 1);
       },
       [](const RenderState3d& s) { return s.driverValues[28] == 9; },
       [](RenderState3d& t) {
         const uint32_t pair[2] = {29, 9};
         t.SetDriverStates(pair, 1);
       }},
      {"stage textures: stage 9 is bound, stage 10 is none",
       [](RenderState3d& t) { t.SetStageTexture(9, 4, kStageTextureHandle); },
       [](const RenderState3d& s) { return s.stages[9].texture == 4 && (s.stages[9].dirty & kSgTexture) != 0; },
       [](RenderState3d& t) { t.SetStageTexture(10, 4, kStageTextureHandle); }},
      {"stage states in a run: stage 9 is set, stage 10 is none",
       [&stageValues](RenderState3d& t) { t.SetStageStates(9, 1u << 1, stageValues); },
       [](const RenderState3d& s) { return s.stages[9].colourOp == 7; },
       [&stageValues](RenderState3d& t) { t.SetStageStates(10, 1u << 1, stageValues); }},
      {"clip planes: plane 5 is set, plane 6 is none",
       [](RenderState3d& t) {
         const uint32_t plane[4] = {1, 2, 3, 4};
         t.SetClipPlane(5, plane);
       },
       [](const RenderState3d& s) { return s.vertex.clipPlanes[5][3] == 4; },
       [](RenderState3d& t) {
         const uint32_t plane[4] = {5, 6, 7, 8};
         t.SetClipPlane(6, plane);
       }},
      {"coordinate sets: stage 3 routes the last set, stage 4 has none",
       [](RenderState3d& t) { t.SetStageState(kTexCoordSets - 1, 11, 0x00010003); },
       [](const RenderState3d& s) {
         return (s.vertex.texCoords.sets[kTexCoordSets - 1].control >> kTcSourceShift & 7) == 3 &&
                (s.vertex.texCoords.sets[kTexCoordSets - 1].control >> kTcGenerationShift & 7) == 1;
       },
       [](RenderState3d& t) { t.SetStageState(kTexCoordSets, 11, 0x00010003); }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    state->ClearDirty();
    row.last(*state);
    EXPECT_TRUE(row.took(*state));
    state->ClearDirty();
    const std::vector<uint8_t> before = Bytes();
    VertexTexCoordGroup sets;
    memcpy(&sets, &state->vertex.texCoords, sizeof sets);
    row.past(*state);
    if (row.setsOnly)
      EXPECT_EQ(memcmp(&sets, &state->vertex.texCoords, sizeof sets), 0) << "a coordinate set changed";
    else
      EXPECT_TRUE(Bytes() == before) << "the render state changed";
  }
}

// The setters that compare before they store: the value the state holds
// marks nothing dirty.
TEST_F(StateEdges, AValueEqualToTheOneHeldMarksNothing) {
  struct Row {
    const char* name;
    std::function<void(RenderState3d&)> set;
  };
  const uint32_t quad[4] = {Bits(0.25f), Bits(0.5f), Bits(0.75f), 3};
  const float ambient[4] = {0.1f, 0.2f, 0.3f, 1.0f};
  const Row rows[] = {
      {"four-word state A", [&quad](RenderState3d& s) { s.SetFloat4StateA(quad); }},
      {"ambient colour", [&ambient](RenderState3d& s) { s.SetFloat4StateB(ambient, 1); }},
      {"index size", [](RenderState3d& s) { s.SetIndexSize(4); }},
      {"target mode",
       [](RenderState3d& s) {
         s.deviceTargetMode = 3;
         s.SetTargetMode(true);
       }},
      {"driver state 9",
       [](RenderState3d& s) {
         const uint32_t pair[2] = {9, 0x44};
         s.SetDriverStates(pair, 1);
       }},
      {"driver state 21",
       [](RenderState3d& s) {
         const uint32_t pair[2] = {21, Bits(2.0f)};
         s.SetDriverStates(pair, 1);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.set(*state);
    state->ClearDirty();
    const std::vector<uint8_t> before = Bytes();
    row.set(*state);
    EXPECT_TRUE(Bytes() == before) << "the same value changed the render state";
  }
  // A stage's texture: the same value leaves the stage's own bits clear
  // (the pixel group is told of every entry).
  state->SetStageTexture(3, 7);
  state->ClearDirty();
  state->SetStageTexture(3, 7);
  EXPECT_EQ(state->stages[3].dirty, 0u);
  EXPECT_EQ(state->pixel.stageSummary, 0u);
  // The primitive mode always names its type; its class, when unchanged,
  // leaves the raster group alone.
  state->SetPrimitiveMode(5);
  state->ClearDirty();
  state->SetPrimitiveMode(6);  // the same class as 5
  EXPECT_EQ(state->raster.dirty, 0u);
  state->SetPrimitiveMode(1);
  EXPECT_EQ(state->raster.dirty, kRsPrimitiveMode);
}

// ---- State blocks ------------------------------------------------------------------------------

// The ids a block keeps of each kind: the last valid id (and stage) is
// kept, the first invalid one is refused; asking about a stage past the
// last answers nothing held.
TEST_F(StateEdges, AStateBlockKeepsTheLastIdOfEachKindAndRefusesThePastOne) {
  StateBlockTable table(state);
  ASSERT_TRUE(table.ok());
  ASSERT_EQ(table.Add(1), 1u);
  StateBlock* b = table.Find(1);
  ASSERT_NE(b, nullptr);
  struct Row {
    const char* name;
    uint32_t kind;
    uint32_t lastId, lastStage;
    uint32_t pastId, pastStage;
  };
  const Row rows[] = {
      {"render states", kSbRenderStates, 256, 0, 257, 0},
      {"render states from 1", kSbRenderStates, 1, 0, 0, 0},
      {"stage states: stage", kSbStageStates, 1, kBlockStages - 1, 1, kBlockStages},
      {"stage states: state", kSbStageStates, kStageStates, 0, kStageStates + 1, 0},
      {"transforms", kSbTransforms, kTransformCapturedOnly, 0, kTransformCapturedOnly + 1, 0},
      {"texture transforms", kSbTransforms, 23, 0, 24, 0},
      {"clip planes", kSbClipPlanes, kMaxClipPlanes - 1, 0, kMaxClipPlanes, 0},
      {"lights", kSbLights, kMaxLightIndex, 0, kMaxLightIndex + 1, 0},
      {"light enables", kSbLightEnables, kMaxLightIndex, 0, kMaxLightIndex + 1, 0},
      {"viewport", kSbViewport, 0, 0, 1, 0},
      {"pixel constants", kSbPixelConstants, kBlockPixelConstants - 1, 0, kBlockPixelConstants, 0},
      {"vertex constants", kSbVertexConstants, kMaxVertexConstantId, 0, kMaxVertexConstantId + 1, 0},
      {"streams", kSbStreams, kBlockStreams - 1, 0, kBlockStreams, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = StateBlockCount(*b, row.kind, row.pastStage);
    EXPECT_FALSE(b->AddKey(row.kind, row.pastId, row.pastStage));
    EXPECT_FALSE(StateBlockHolds(*b, row.kind, row.pastId, row.pastStage));
    EXPECT_EQ(StateBlockCount(*b, row.kind, row.pastStage), before);
    EXPECT_TRUE(b->AddKey(row.kind, row.lastId, row.lastStage));
    EXPECT_TRUE(StateBlockHolds(*b, row.kind, row.lastId, row.lastStage));
  }
  EXPECT_EQ(StateBlockCount(*b, kSbStageStates, kBlockStages), 0u);
}

// A table holds up to 4,096 blocks: the last is added, the next refused;
// a key already held is still replaced at the limit.
TEST_F(StateEdges, AStateBlockTableHoldsItsLastBlockAndRefusesTheNext) {
  StateBlockTable table(state);
  ASSERT_TRUE(table.ok());
  for (uint32_t key = 1; key < kMaxStateBlocks; ++key) ASSERT_EQ(table.Add(key), 1u) << key;
  ASSERT_EQ(table.blocks.size(), kMaxStateBlocks - 1);
  EXPECT_EQ(table.Add(kMaxStateBlocks), 1u) << "the last block";
  EXPECT_NE(table.Find(kMaxStateBlocks), nullptr);
  EXPECT_EQ(table.Add(kMaxStateBlocks + 1), 0u) << "one past the last";
  EXPECT_EQ(table.Find(kMaxStateBlocks + 1), nullptr);
  EXPECT_EQ(table.blocks.size(), kMaxStateBlocks);
  StateBlock* old = table.Find(7);
  EXPECT_EQ(table.Add(7), 1u);
  EXPECT_NE(table.Find(7), nullptr);
  EXPECT_NE(table.Find(7), old);
  EXPECT_EQ(table.blocks.size(), kMaxStateBlocks);
}

}  // namespace
