// The hardware state blocks over a started board: unit records written as
// register groups or folded into a context state, stage records, and the
// texture coordinates of a blit quad.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/hw_state_block.h"
#include "kernel/tests/stream_fixture.h"

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}
float Float(uint32_t b) {
  float f;
  memcpy(&f, &b, 4);
  return f;
}

// A unit block whose pending write can be made to fail, and that counts it.
class TestUnits : public HwStateBlock {
 public:
  bool EmitPending() override {
    ++calls;
    if (!succeed) return false;
    units[1].c = 0x1234;
    return true;
  }
  bool succeed = true;
  int calls = 0;
};

class TestStages : public StageStateBlock {
 public:
  bool EmitPending() override { return succeed; }
  void FlushSources() override {}
  bool BuildStages() override { return true; }
  bool succeed = true;
};

class HwBlocks : public ktest::StartedBoard {
 protected:
  template <class F>
  std::vector<uint32_t> Written(F&& f) {
    BmSecondaryInt* s = Secondary();
    const uint32_t* from = s->cursor;
    f(s);
    std::vector<uint32_t> words(from, static_cast<const uint32_t*>(s->cursor));
    s->ExecutePending();
    dma.RunPending();
    return words;
  }
  uint32_t Reg(uint8_t index) const { return board.Peek(0x1000 + 4u * index, 4); }
};

TEST_F(HwBlocks, RecordsInUseFollowTheUnitCount) {
  auto block = std::make_unique<TestUnits>();
  EXPECT_EQ(block->units[0].a, 0u);
  EXPECT_EQ(block->units[3].a, kHwWordADefault);
  EXPECT_EQ(block->units[9].b, kHwWordBDefault);
  for (uint32_t count = 0; count <= 12; ++count) {
    block->unitCount = count;
    EXPECT_EQ(block->RecordsInUse(), count < 6 ? 5u : 10u) << count;
  }
  // A flush resets the records from the unit count up to the last in use.
  for (HwUnitRecord& r : block->units) r = HwUnitRecord{7, 7, 7, 7, 7, 7, 7, 7, 7};
  block->unitCount = 3;
  ASSERT_TRUE(block->Flush());
  for (uint32_t i = 0; i < kHwUnitRecords; ++i) {
    const bool reset = i == 3 || i == 4;
    EXPECT_EQ(block->units[i].flags, reset ? 0u : 7u) << i;
    EXPECT_EQ(block->units[i].a, reset ? 0x80u : 7u) << i;
    EXPECT_EQ(block->units[i].b, reset ? 0x00400400u : 7u) << i;
    EXPECT_EQ(block->units[i].c, 7u) << i;
  }
  EXPECT_EQ(block->calls, 0);
  // The pending write runs once, and reports itself.
  uint8_t was = 9;
  block->pending = 1;
  ASSERT_TRUE(block->Flush(&was));
  EXPECT_EQ(was, 1);
  EXPECT_EQ(block->calls, 1);
  EXPECT_EQ(block->emitted, 1);
  ASSERT_TRUE(block->Flush(&was));
  EXPECT_EQ(was, 0);
  EXPECT_EQ(block->calls, 1);
}

TEST_F(HwBlocks, EmitWritesEachRecordInUseBehindItsCount) {
  auto block = std::make_unique<TestUnits>();
  block->unitCount = 7;
  for (uint32_t i = 0; i < kHwUnitRecords; ++i) {
    HwUnitRecord& r = block->units[i];
    r = HwUnitRecord{0, 0xA0u << 8 | 0x1F, 0xB0 + i, 0xC0 + i, 0xD0 + i, 0xE0 + i, 0xF0 + i, 0x100 + i, 0x110 + i};
  }
  block->units[2].flags = kHwUnitFull;
  block->units[4].flags = 2;
  block->units[5].flags = 4 | kHwUnitFull;
  const std::vector<uint32_t> words = Written([&](BmSecondaryInt* s) { ASSERT_TRUE(block->Emit(s)); });
  // Records 7-9 lie past the unit count: the flush reset them.
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < kHwUnitRecords; ++i) {
    const HwUnitRecord& r = block->units[i];
    const uint32_t a = (i < 7 ? 0xA0u << 8 : 0x80u) | kHwUnitNumber[i];
    if (i >= 7) {
      EXPECT_EQ(r.b, 0x00400400u);
      EXPECT_EQ(r.flags, 0u);
    }
    EXPECT_EQ(r.a, a);
    const bool full = (r.flags & 1) != 0;
    expected.insert(expected.end(), {4, full ? 0x9A989B99u : 0x20209B99u, a, r.b, r.c, r.d});
    if ((r.flags & 6) != 0) expected.insert(expected.end(), {4, 0xA1A09F9Eu, r.e, r.f, r.g, r.h});
  }
  EXPECT_EQ(words, expected);
  EXPECT_EQ(block->emitted, 0);
  // What reached the engine: the last record's words (record 9, unit 11).
  EXPECT_EQ(Reg(0x99), 0x80u | 11);
  EXPECT_EQ(Reg(0x9B), 0x00400400u);
  EXPECT_EQ(Reg(0x9A), 0xD5u);   // the last full record's D
  EXPECT_EQ(Reg(0x9E), 0xE5u);   // the last record with its second group
  EXPECT_EQ(Reg(0xA1), 0x115u);
}

TEST_F(HwBlocks, AFailingPendingWriteChangesNothing) {
  auto block = std::make_unique<TestUnits>();
  block->succeed = false;
  block->pending = 1;
  block->unitCount = 2;
  block->units[3].a = 5;
  auto state = std::make_unique<ContextState3d>(nullptr);
  const uint32_t units = state->textureUnits.unitCount;
  uint32_t image[10];
  memcpy(image, state->textureUnits.units[0].words, sizeof image);
  const std::vector<uint32_t> words = Written([&](BmSecondaryInt* s) { EXPECT_FALSE(block->Emit(s)); });
  EXPECT_TRUE(words.empty());
  EXPECT_FALSE(block->ApplyTo(*state));
  EXPECT_EQ(block->units[3].a, 5u);
  EXPECT_EQ(block->pending, 1);
  EXPECT_EQ(state->textureUnits.unitCount, units);
  EXPECT_EQ(memcmp(image, state->textureUnits.units[0].words, sizeof image), 0);
}

TEST_F(HwBlocks, ApplyToFoldsTheRecordsIntoTheContextState) {
  auto block = std::make_unique<TestUnits>();
  block->pending = 1;
  block->unitCount = 2;
  block->units[0] = HwUnitRecord{kHwUnitFull | 2, 0xFFF, 0x3FF, 0xC, 0xD, 0xE, 0xF, 0x10, 0x11};
  block->units[1] = HwUnitRecord{0, 0xFFF, 0x7FF, 0xC, 0xD, 0xE, 0xF, 0x10, 0x11};
  auto state = std::make_unique<ContextState3d>(nullptr);
  state->dirty.words[2] = 0;
  ASSERT_TRUE(block->ApplyTo(*state));
  EXPECT_EQ(state->textureUnits.unitCount, 5u);
  const uint32_t* full = state->textureUnits.units[0].words;
  // By register: 0x99, 0x9B, 0x9E, 0x9F, 0xA0, 0xA1, 0x98, 0x9A.
  EXPECT_EQ(std::vector<uint32_t>(full + 2, full + 10),
            (std::vector<uint32_t>{0xFFF, 0x3FF, 0xE, 0xF, 0x10, 0x11, 0xC, 0xD}));
  const uint32_t* derived = state->textureUnits.units[1].words;
  EXPECT_EQ(derived[8], 0xFFFu & ~0x124u);
  EXPECT_EQ(derived[9], 0x7FFu & ~0x124u);
  // Records 2-4 were reset by the flush before they were folded in.
  EXPECT_EQ(state->textureUnits.units[3].words[2], 0x80u);
  EXPECT_EQ(state->textureUnits.units[3].words[3], 0x00400400u);
  EXPECT_EQ(state->dirty.words[2] & 0x3FF, 0x3FFu);
}

TEST_F(HwBlocks, LevelCopyStateSetsUpOneUnit) {
  LevelCopyState copy;
  copy.unitCount = 4;
  copy.units[0].a = 99;
  EXPECT_EQ(copy.pending, 1);
  const std::vector<uint32_t> words = Written([&](BmSecondaryInt* s) { ASSERT_TRUE(copy.Emit(s)); });
  ASSERT_EQ(words.size(), 5u * 6);
  EXPECT_EQ(std::vector<uint32_t>(words.begin(), words.begin() + 6),
            (std::vector<uint32_t>{4, 0x20209B99, 0, 0x00400403, 0, 0}));
  EXPECT_EQ(copy.unitCount, 1u);
  EXPECT_EQ(words[6 + 2], 0x80u | 2);  // record 1 reset, unit 2
}

TEST_F(HwBlocks, StagesFoldWithTheirCoordinateFormatsAndLodLimit) {
  struct Case {
    uint32_t count;
    uint32_t formats[4];
    float limit;
  };
  const Case cases[] = {
      {1, {0x500000}, 32.0f},
      {2, {0x500000, 0x500000}, 32.0f},
      {3, {0x1600000, 0x1600000, 0x400000}, 16.0f},
      {4, {0x1600000, 0x1600000, 0x1600000, 0x1600000}, 16.0f},
      {9, {0x1600000, 0x1600000, 0x1600000, 0x1600000}, 16.0f},  // at most four stages
  };
  EngineOwner3d* owner = Common()->engineOwner3d;
  ASSERT_NE(owner, nullptr);
  for (bool capable : {false, true}) {
    owner->capabilities = capable ? 0x400 : 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.count << " capable " << capable);
      auto block = std::make_unique<TestStages>();
      block->stageCount = c.count;
      for (uint32_t i = 0; i < 4; ++i)
        for (uint32_t k = 0; k < 12; ++k) block->stages[i].words[k] = 0x100 * i + k;
      auto state = std::make_unique<ContextState3d>(owner);
      state->lodControl = 0;
      const uint32_t before = state->textureUnits.stageEnable;
      ASSERT_TRUE(block->ApplyTo(*state));
      const uint32_t n = c.count < 4 ? c.count : 4;
      EXPECT_EQ(state->textureUnits.stageCount, n);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t* w = state->textureUnits.stages[i].words;
        EXPECT_EQ(w[1], 0x100 * i);
        EXPECT_EQ(w[2], c.formats[i]);
        // The pair and the nine images: record words 1-11 in words 3-13.
        for (uint32_t k = 3; k < 14; ++k) EXPECT_EQ(w[k], 0x100 * i + k - 2) << "word " << k;
      }
      EXPECT_EQ(state->lodControl & 1, capable ? 1 : 0);
      EXPECT_EQ(state->textureUnits.stageEnable, capable ? Bits(c.limit) : before);
    }
  }
  owner->capabilities = 0;
}

TEST_F(HwBlocks, ADisabledStageSendsItsControlWordOnly) {
  HwStageRecord stage{};
  for (uint32_t k = 0; k < 12; ++k) stage.words[k] = 0x50 + k;
  stage.words[0] = 0x10003;
  std::vector<uint32_t> words =
      Written([&](BmSecondaryInt* s) { ASSERT_TRUE(StageStateBlock::EmitStage(stage, 2, s)); });
  EXPECT_EQ(words, (std::vector<uint32_t>{1, 0x21212182, 0x10003}));
  EXPECT_EQ(Reg(0x82), 0x10003u);

  stage.words[0] = 0x20003;
  words = Written([&](BmSecondaryInt* s) { ASSERT_TRUE(StageStateBlock::EmitStage(stage, 1, s)); });
  EXPECT_EQ(words, (std::vector<uint32_t>{4, 0x72717081, 0x20003, 0x51, 0x53, 0x54,  //
                                          4, 0x76757473, 0x55, 0x56, 0x57, 0x58,     //
                                          4, 0x20797877, 0x59, 0x5A, 0x5B, 0x20003}));
  EXPECT_EQ(Reg(0x70), 0x51u);
  EXPECT_EQ(Reg(0x79), 0x5Bu);
}

TEST(BlitCoords, RotateTexCoordsByQuarterTurns) {
  struct Case {
    uint32_t turns;
    float out[4];  // left, right, top, bottom
  };
  // The rectangle {0.1, 0.3, 0.2, 0.7}.
  const Case cases[] = {
      {0, {0.1f, 0.3f, 0.2f, 0.7f}}, {1, {1 - 0.7f, 1 - 0.2f, 0.1f, 0.3f}},
      {2, {1 - 0.3f, 1 - 0.1f, 1 - 0.7f, 1 - 0.2f}}, {3, {0.2f, 0.7f, 1 - 0.3f, 1 - 0.1f}},
      {6, {1 - 0.3f, 1 - 0.1f, 1 - 0.7f, 1 - 0.2f}},
  };
  for (const Case& c : cases) {
    float l = 0.1f, r = 0.3f, t = 0.2f, b = 0.7f;
    RotateTexCoords(c.turns, l, r, t, b);
    EXPECT_FLOAT_EQ(l, c.out[0]) << c.turns;
    EXPECT_FLOAT_EQ(r, c.out[1]) << c.turns;
    EXPECT_FLOAT_EQ(t, c.out[2]) << c.turns;
    EXPECT_FLOAT_EQ(b, c.out[3]) << c.turns;
  }
}

// The corners a blit writes: (u, v) of packets 0, 1, 2 of one stage.
struct Corners {
  float u[3], v[3];
};
Corners CornersOf(const std::vector<uint32_t>& words, size_t first) {
  Corners c{};
  for (int k = 0; k < 3; ++k) {
    c.v[k] = Float(words[first + 1 + 5 * k + 3]);
    c.u[k] = Float(words[first + 1 + 5 * k + 4]);
  }
  return c;
}

TEST_F(HwBlocks, BlitCornersFollowRotationAndMirror) {
  auto block = std::make_unique<TestStages>();
  for (HwStageRecord& s : block->stages) s.words[0] = kHwStageDisabled;
  HwStageRecord& stage = block->stages[1];
  stage.words[0] = 0;
  stage.width = 64;
  stage.height = 32;
  stage.uScale = 1.0f;
  stage.vScale = 1.0f;
  const BlitRect source{0, 0, 64, 32};
  const BlitRect outer{0, 0, 100, 100};
  const BlitRect inner{0, 0, 100, 100};
  // Mode 3 keeps the half-texel terms unscaled: 0.5 / 64 and 0.5 / 32.
  const float hu = 0.5f / 64, hv = 0.5f / 32;
  const float L = hu, R = 1 + hu, T = hv, B = 1 + hv;
  struct Case {
    uint32_t rotation, mirror;
    Corners expected;
  };
  const Case cases[] = {
      {0, 0, {{L, R, L}, {T, T, B}}},
      {1, 0, {{L, L, R}, {B, T, B}}},
      {2, 0, {{R, L, R}, {B, B, T}}},
      {3, 0, {{R, R, L}, {T, B, T}}},
      {0, 1, {{R, L, R}, {T, T, B}}},
      {0, 2, {{L, R, L}, {B, B, T}}},
      {1, 3, {{R, R, L}, {T, B, T}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << c.rotation << " mirror " << c.mirror);
    const std::vector<uint32_t> words = Written([&](BmSecondaryInt* s) {
      ASSERT_TRUE(ComputeBlitTexCoords(*block, s, source, outer, inner, 64, 32, c.rotation, c.mirror, 3, false));
    });
    ASSERT_EQ(words.size(), 16u);  // one stage: one run of three groups
    EXPECT_EQ(words[0], 14u);
    EXPECT_EQ(words[1], 0x645E5D58u);
    EXPECT_EQ(words[6], 0x645E5D59u);
    EXPECT_EQ(words[11], 0x645E5D5Au);
    const Corners got = CornersOf(words, 0);
    for (int k = 0; k < 3; ++k) {
      EXPECT_FLOAT_EQ(got.u[k], c.expected.u[k]) << k;
      EXPECT_FLOAT_EQ(got.v[k], c.expected.v[k]) << k;
    }
  }
}

TEST_F(HwBlocks, HalfTexelTermsScaleWithTheStepUnlessItIsZero) {
  auto block = std::make_unique<TestStages>();
  for (HwStageRecord& s : block->stages) s.words[0] = kHwStageDisabled;
  HwStageRecord& stage = block->stages[0];
  stage.words[0] = 0;
  stage.width = 64;
  stage.height = 64;
  stage.uScale = 1.0f;
  stage.vScale = 1.0f;
  // A source half as wide as the texture: du = 0.5 * 64 / 32 = 1; a source
  // of zero height: dv = 0, so the v term stays 0.5 / 64.
  const BlitRect source{0, 16, 32, 16};
  const BlitRect outer{0, 0, 10, 10};
  const std::vector<uint32_t> words = Written([&](BmSecondaryInt* s) {
    ASSERT_TRUE(ComputeBlitTexCoords(*block, s, source, outer, outer, 64, 64, 0, 0, 0, true));
  });
  ASSERT_EQ(words.size(), 16u);
  const Corners got = CornersOf(words, 0);
  EXPECT_FLOAT_EQ(got.u[0], 0.5f / 64);
  EXPECT_FLOAT_EQ(got.u[1], 0.5f + 0.5f / 64);
  // vT = 16 / 64, the unscaled term, lowered by the bias.
  EXPECT_FLOAT_EQ(got.v[0], 0.25f + 0.5f / 64 - 0.5f / 64);
  EXPECT_EQ(Reg(0x63), words[15]);  // the last corner's u went to the stage's coordinate register
}

}  // namespace
