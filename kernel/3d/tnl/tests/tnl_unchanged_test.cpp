// The transform-and-lighting set-up writes a constant, a program binding
// or a vertex-engine word only when it differs from what the engine
// holds: after a full update, a second update over the same state with
// every dirty word set leaves nothing to emit. Left clear are the words
// that stand for a change of everything they feed: the matrices' (a
// matrix or layout change recomputes every matrix in use) and the fill
// mode's (which rewrites the program header).
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <ostream>
#include <string>

#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/tests/tnl_fixture.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

namespace {

using tnltest::Bits;

class TnlUnchanged : public tnltest::TnlBoard {
 protected:
  void SetUp() override {
    TnlBoard::SetUp();
    if (HasFatalFailure()) return;
    for (int i = 0; i < 16; ++i) {
      const uint32_t v = Bits(i % 5 == 0 ? 1.0f : 0.5f * static_cast<float>(i % 3));
      block->view.m[i] = block->projection.m[i] = v;
      for (auto& w : block->world) w.m[i] = v;
    }
  }

  // Every dirty word set but the matrices' and the layout's.
  bool AllButMatrices(bool force = false) {
    const bool shader = force || hw.constantImage == &setup->shaderImage;
    block->transformDirty = ~(kLayoutBit | kFillModeBit);
    block->matrixDirty = block->worldDirty = 0;
    block->texCoords.dirty = block->texCoords.dirty1 = ~0u;
    block->fog.dirty = block->third.dirty = block->viewportGroup.dirty = ~0u;
    setup->force = force ? 1 : 0;
    const bool updated = setup->Update(block.get(), &fetch, &hw);
    EXPECT_EQ(hw.constantImage == &setup->shaderImage, shader) << "the mode changed";
    return updated;
  }
  static constexpr uint32_t kLayoutBit = 0x20;
  static constexpr uint32_t kFillModeBit = 0x80;
  static constexpr uint8_t kLightCombinationBit = 0x04;
  // What the last update asked to emit counts as emitted.
  void Settle() {
    for (VecConstShadow* image : {&setup->fixedImage, &setup->shaderImage}) {
      image->FoldSent();
      for (uint32_t& w : image->dirty) w = 0;
      image->dirtySummary = 0;
    }
    hw.dirtyR1 = hw.dirtyR2 = 0;
    record.programDirty[0] = record.programDirty[1] = 0;
  }
  // A light of the fixture's, placed at x = 2 with a falloff of 1.
  LightRecord* Light(uint32_t index, uint32_t type) {
    LightRecord* l = TnlBoard::Light(index, type);
    l->position[0] = Bits(2.0f);
    l->falloff = Bits(1.0f);
    return l;
  }
};

enum class Setting { kPlain, kLightsPlanesBlend, kPoints, kShader };
struct Row {
  const char* name;
  Setting setting;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class TnlUnchangedRow : public TnlUnchanged, public testing::WithParamInterface<Row> {
 protected:
  void Arrange(Setting setting) {
    switch (setting) {
      case Setting::kPlain:
        break;
      case Setting::kLightsPlanesBlend:
        block->flags |= kVfLighting;
        Light(1, 2);
        Light(2, 3);
        block->enabledLights[0] = 1;
        block->enabledLights[1] = 2;
        block->enabledLightCount = 2;
        block->clipPlaneEnable = 3;
        block->tnlMode = 2u << 14;
        break;
      case Setting::kPoints:
        block->control = 1 | 1u << 4;
        block->pointSize = Bits(4.0f);
        break;
      case Setting::kShader:
        break;
    }
  }
};

TEST_P(TnlUnchangedRow, ASecondUpdateOfTheSameStateEmitsNothing) {
  Arrange(GetParam().setting);
  ASSERT_TRUE(Full());
  if (GetParam().setting == Setting::kShader) {
    // A vertex shader's state: the shader image bound by a forced pass.
    setup->fixedFunction = 0;
    ASSERT_TRUE(AllButMatrices(true));
    ASSERT_EQ(hw.constantImage, &setup->shaderImage);
  }
  Settle();
  const VertexEngineBlock before = hw;
  const TnlStateRecord recordBefore = record;
  ASSERT_TRUE(AllButMatrices());
  for (VecConstShadow* image : {&setup->fixedImage, &setup->shaderImage}) {
    EXPECT_EQ(image->dirtySummary, 0u) << "constants to send again";
    for (uint32_t c = 0; c < kVecConstCount; ++c) EXPECT_FALSE(image->Dirty(c)) << "constant " << c;
  }
  EXPECT_EQ(hw.dirtyR1, 0) << "vertex-engine words to send again";
  // The light-combination entry is entered again whenever the lights are
  // collected (its bit says the entry is present, not that it changed).
  EXPECT_EQ(hw.dirtyR2 & ~kLightCombinationBit, 0) << "vertex-engine words to send again";
  EXPECT_EQ(memcmp(hw.mainPrograms, before.mainPrograms, sizeof hw.mainPrograms), 0);
  EXPECT_EQ(memcmp(&record, &recordBefore, sizeof record), 0);
  // The bound image writes nothing into the stream.
  const uint32_t* cursor = Secondary()->cursor;
  EXPECT_TRUE(setup->BoundImage()->CopyDirty(Secondary()));
  EXPECT_EQ(Secondary()->cursor, cursor);
}

INSTANTIATE_TEST_SUITE_P(States, TnlUnchangedRow,
                         testing::Values(Row{"Plain", Setting::kPlain},
                                         Row{"LightsPlanesBlend", Setting::kLightsPlanesBlend},
                                         Row{"Points", Setting::kPoints}, Row{"Shader", Setting::kShader}),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
