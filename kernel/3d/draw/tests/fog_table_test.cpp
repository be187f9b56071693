// The fog table: the sample offsets, distance and depth tables against a
// reference, the marks, and defined entries for every degenerate state.
#include <gtest/gtest.h>

#include <math.h>

#include <limits>

#include "kernel/3d/draw/fog_table.h"
#include "kernel/3d/draw/tests/draw_fixture.h"

namespace {

int32_t SlopeOf(uint32_t entry) {
  const int32_t raw = static_cast<int32_t>(entry >> 23);
  return raw >= 256 ? raw - 512 : raw;
}
uint32_t ValueOf(uint32_t entry) { return (entry >> 8) & 0xFF; }
const uint32_t* Entries(const FogTable& t) { return t.Record() + kFogRecordEntries; }

FogState Linear(float start, float end, bool range) {
  FogState s;
  s.enabled = 1;
  s.range = range ? 1 : 0;
  s.mode = kFogLinear;
  s.start = start;
  s.end = end;
  s.nearPlane = 1.0f;
  s.farPlane = 101.0f;
  return s;
}

TEST(FogTable, SampleOffsets) {
  EXPECT_EQ(FogSampleOffsets[0], 1.0f);
  EXPECT_EQ(FogSampleOffsets[1], 0.875f);
  EXPECT_EQ(FogSampleOffsets[5], 0.4375f);
  EXPECT_EQ(FogSampleOffsets[59], ldexpf(0.625f, -14));
  EXPECT_EQ(FogSampleOffsets[60], ldexpf(1.0f, -15));
  EXPECT_EQ(FogSampleOffsets[61], ldexpf(0.75f, -15));
  EXPECT_EQ(FogSampleOffsets[63], ldexpf(0.25f, -15));
  EXPECT_EQ(FogSampleOffsets[64], 0.0f);
  for (uint32_t i = 0; i < 64; ++i) EXPECT_GT(FogSampleOffsets[i], FogSampleOffsets[i + 1]) << i;
}

TEST(FogTable, LinearFogWithStartAtItsEndIsFlat) {
  for (bool range : {true, false}) {
    FogTable t;
    ASSERT_TRUE(t.Update(Linear(30, 30, range)));
    EXPECT_EQ(t.linearScale, 1.0e7f);
    for (uint32_t i = 0; i < kFogEntries; ++i) {
      EXPECT_EQ(SlopeOf(Entries(t)[i]), 0) << i;
      EXPECT_EQ(Entries(t)[i] & 0x3F, i);
    }
  }
}

TEST(FogTable, AFactorAboveOneHasNoSlope) {
  FogTable t;
  // Distances 1 to 101; the factor falls from 1 only past distance 60.
  t.Update(Linear(60, 120, true));
  EXPECT_EQ(t.Record()[kFogRecordControl] & (kFogControlOn | kFogControlDistanceTable | kFogControlDepthTable),
            kFogControlOn | kFogControlDistanceTable);
  for (uint32_t i = 0; i < 37; ++i) {
    EXPECT_EQ(SlopeOf(Entries(t)[i]), 0) << i;
    EXPECT_EQ(ValueOf(Entries(t)[i]), 255u) << i;
  }
  // The sample whose next one falls below 1 slopes down from 1.
  const float f1 = (120.0f - (1.0f + 38.0f / 64.0f * 100.0f)) / 60.0f;
  ASSERT_LT(f1, 1.0f);
  EXPECT_EQ(SlopeOf(Entries(t)[37]), static_cast<int32_t>((f1 - 1.0f) * 255.0f));
  EXPECT_EQ(ValueOf(Entries(t)[37]), 255u);
  EXPECT_LT(SlopeOf(Entries(t)[40]), 0);
  EXPECT_LT(ValueOf(Entries(t)[40]), 255u);
}

TEST(FogTable, ExponentialModesAgainstAReference) {
  for (uint32_t mode : {kFogExp, kFogExp2, kFogLinear}) {
    SCOPED_TRACE(mode);
    FogState s = Linear(10, 80, true);
    s.mode = mode;
    s.density = 0.04f;
    FogTable t;
    t.Update(s);
    for (uint32_t i = 0; i < kFogEntries; ++i) {
      auto factor = [&](double d) {
        if (mode == kFogExp) return exp(-0.04 * d);
        if (mode == kFogExp2) return exp(-(0.04 * d) * (0.04 * d));
        return (80.0 - d) / 70.0;
      };
      const double f0 = factor(1.0 + i / 64.0 * 100.0);
      const double f1 = factor(1.0 + (i + 1) / 64.0 * 100.0);
      double slope = f1 - f0;
      if (f1 < 0)
        slope = f0 < 0 ? 0 : f0 > 0 ? -f0 : slope;
      else if (f1 > 1)
        slope = f0 > 1 ? 0 : slope;
      else if (f0 > 1)
        slope = f1 - 1;
      const double value = (f0 < 0 ? 0 : f0 > 1 ? 1 : f0) * 255.0;
      EXPECT_NEAR(ValueOf(Entries(t)[i]), value, 1.0) << i;
      EXPECT_NEAR(SlopeOf(Entries(t)[i]), slope * 255.0, 1.0) << i;
    }
  }
}

TEST(FogTable, DepthTablesSampleNearToFarAndMarkTheirEnds) {
  FogTable t;
  FogState s = Linear(10, 50, false);
  s.depthScale = 1.0f;
  t.Update(s);
  const uint32_t control = t.Record()[kFogRecordControl];
  EXPECT_EQ(control & (kFogControlOn | kFogControlDepthTable | kFogControlDistanceTable | kFogControlFromNear),
            kFogControlOn | kFogControlDepthTable | kFogControlFromNear);
  EXPECT_EQ(t.alternateSampling, 0u);
  EXPECT_EQ(t.inputIsDistance, 0u);
  // The depth of a distance, and back.
  EXPECT_NEAR(t.DepthToDistance(t.DistanceToDepth(50.0f)), 50.0f, 1e-3);
  // Fog is whole where the distance passes 50: the end mark lies there,
  // interpolated on the sample's segment; fog starts at a sample before
  // distance 10.
  const double endDepth = t.DistanceToDepth(50.0f);
  const uint32_t endMark = t.Record()[kFogRecordEnd];
  EXPECT_EQ(endMark & 0xFF, 0u);
  EXPECT_NEAR(endMark / 16777215.0, endDepth, 0.01);
  const uint32_t startMark = t.Record()[kFogRecordStart];
  EXPECT_GT(startMark, 0u);
  EXPECT_LE(startMark / 16777215.0, t.DistanceToDepth(10.0f));
  EXPECT_LT(startMark, endMark);
  // Entry i samples depth 1 - offset i.
  for (uint32_t i : {0u, 20u, 63u}) {
    const float f = t.FogFactor(1.0f - FogSampleOffsets[i]);
    EXPECT_EQ(ValueOf(Entries(t)[i]), static_cast<uint32_t>((f < 0 ? 0 : f > 1 ? 1 : f) * 255.0f)) << i;
  }
  // Fog off: the unit is switched off and the table kept.
  s.enabled = 0;
  const uint32_t entry = Entries(t)[5];
  t.Update(s);
  EXPECT_EQ(t.Record()[kFogRecordControl] & (kFogControlOn | kFogControlDepthTable), 0u);
  EXPECT_EQ(Entries(t)[5], entry);
}

TEST(FogTable, DegenerateStatesGiveDefinedEntries) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    const char* name;
    uint32_t mode;
    float density, start, end, nearPlane, farPlane, depthScale;
  };
  const Row rows[] = {
      {"near = far", kFogLinear, 0, 10, 50, 5, 5, 1},
      {"near = far = 0", kFogLinear, 0, 10, 50, 0, 0, 1},
      {"all zero", kFogExp, 0, 0, 0, 0, 0, 0},
      {"NaN density", kFogExp2, nan, 0, 1, 1, 100, 1},
      {"NaN start", kFogLinear, 0, nan, 1, 1, 100, 1},
      {"infinite range", kFogLinear, 0, -inf, inf, 1, 100, 1},
      {"infinite far", kFogExp, 1, 0, 1, 1, inf, 1},
      {"NaN planes", kFogLinear, 0, 0, 1, nan, nan, nan},
      {"huge density", kFogExp2, 1e30f, 0, 1, 1, 100, 1},
      {"mode 9", 9, 0, 0, 100, 1, 100, 1},
  };
  for (const Row& r : rows) {
    for (bool range : {true, false}) {
      SCOPED_TRACE(testing::Message() << r.name << (range ? " (range)" : " (depth)"));
      FogState s;
      s.enabled = 1;
      s.range = range ? 1 : 0;
      s.mode = r.mode;
      s.density = r.density;
      s.start = r.start;
      s.end = r.end;
      s.nearPlane = r.nearPlane;
      s.farPlane = r.farPlane;
      s.depthScale = r.depthScale;
      FogTable a, b;
      a.Update(s);
      b.Update(s);
      for (uint32_t i = 0; i < kFogRecordWords; ++i) ASSERT_EQ(a.Record()[i], b.Record()[i]) << i;
      for (uint32_t i = 0; i < kFogEntries; ++i) ASSERT_EQ(Entries(a)[i] & 0x7F00FF, i) << i;
      EXPECT_LE(a.Record()[kFogRecordStart], 0xFFFFFFu);
      EXPECT_LE(a.Record()[kFogRecordEnd], 0xFFFFFFu);
      if (r.nearPlane == r.farPlane && range) {
        for (uint32_t i = 0; i < kFogEntries; ++i) EXPECT_EQ(SlopeOf(Entries(a)[i]), 0) << i;
      }
    }
  }
}

TEST(FogTable, SlopesAreNineBitsClamped) {
  FogState s = Linear(1.0f, 1.001f, true);  // a cliff: the slope is -1 x 255 at most
  FogTable t;
  t.Update(s);
  for (uint32_t i = 0; i < kFogEntries; ++i) {
    EXPECT_GE(SlopeOf(Entries(t)[i]), -256);
    EXPECT_LE(SlopeOf(Entries(t)[i]), 255);
  }
  // Rising fog (start past end) slopes up, clamped to 255.
  FogTable up;
  up.Update(Linear(50.0f, 49.9f, true));
  int32_t largest = 0;
  for (uint32_t i = 0; i < kFogEntries; ++i) largest = std::max(largest, SlopeOf(Entries(up)[i]));
  EXPECT_EQ(largest, 255);
}

// ---- Through the render state ------------------------------------------------------------------

class Fog : public dtest::DrawBoard {};

TEST_F(Fog, TheRenderStateBuildsTheContextsTable) {
  RenderState3d& state = context->state;
  ContextState3d* cs = context->contextState;
  ASSERT_NE(cs, nullptr);
  EXPECT_EQ(context->fogTable.Record(), cs->fogBlock);
  const uint32_t states[] = {28, 1, 48, 1, 35, 3, 36, dtest::Bits(10.0f), 37, dtest::Bits(50.0f)};
  state.SetRenderStates(states, 5);
  cs->dirty.words[0] = 0;
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cs->fogBlock[kFogRecordControl] & 7, kFogControlOn | kFogControlDistanceTable);
  EXPECT_NE(cs->dirty.words[0] & kCsDirtyFogTable, 0u);
  // Unchanged fog state is not rebuilt; fog off switches the unit off.
  cs->dirty.words[0] = 0;
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cs->dirty.words[0] & kCsDirtyFogTable, 0u);
  const uint32_t off[] = {28, 0, 48, 0};
  state.SetRenderStates(off, 2);
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cs->fogBlock[kFogRecordControl] & 1, 0u);
}

TEST(FogTableBinding, ANullContextIsRefused) {
  FogTable t;
  EXPECT_FALSE(t.Bind(nullptr));
  EXPECT_EQ(t.valid, 1u);
  EXPECT_EQ(t.Record()[kFogRecordEnd], kFogMarkEndDefault);
}

}  // namespace
