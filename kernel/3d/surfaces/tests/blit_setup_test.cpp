// The blit engine's colour transform and texture stages: the modes of a
// surface pair, when the transform counts as changed, the unit records of
// the pass-through and transform programs (golden words for matrices the
// test supplies) and the stage records of the sources.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <limits>
#include <vector>

#include "kernel/3d/surfaces/blit_setup.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"

namespace {

struct Pair {
  Pair(uint32_t from, uint32_t to) : sourceFormat(from, "source"), destinationFormat(to, "destination") {
    source.format = &sourceFormat;
    destination.format = &destinationFormat;
  }
  FormatDescriptor sourceFormat;
  FormatDescriptor destinationFormat;
  Surface3d source;
  Surface3d destination;
};

TEST(BlitTransform, SurfacePairsClassifyByFormatCodeAndClass) {
  struct Case {
    uint32_t from, to;
    bool ok;
    uint32_t sourceMode, destinationMode;
  } cases[] = {
      {39, 43, true, kBlitModePlanar3, kBlitModeRgb},
      {40, 43, true, kBlitModePlanar2, kBlitModeRgb},
      {41, 11, true, kBlitModeRgb, kBlitModeYuv},   // another video format: mode 0
      {11, 11, true, kBlitModeYuv, kBlitModeYuv},   // class 2
      {29, 32, true, kBlitModeYuv, kBlitModeYuv},
      {1, 19, true, kBlitModeYuv, kBlitModeYuv},    // classes 1 and 3
      {30, 11, false, 0, 0},                        // class 4 other than 29, 31, 32
      {11, 30, false, 0, 0},
      {11, 41, false, 0, 0},
      {44, 11, false, 0, 0},
  };
  for (const Case& c : cases) {
    Pair p(c.from, c.to);
    TransformState t;
    EXPECT_EQ(t.SetupBlit(&p.source, &p.destination, nullptr), c.ok) << c.from << " -> " << c.to;
    if (!c.ok) continue;
    EXPECT_EQ(t.sourceMode, c.sourceMode) << c.from;
    EXPECT_EQ(t.destinationMode, c.destinationMode) << c.to;
  }
}

TEST(BlitTransform, TheSameControlsTwiceLeaveItCleanAndNaNAlwaysCounts) {
  TransformState t;
  EXPECT_TRUE(t.dirty);
  BlitColourControls c;
  c.enabled = 1;
  c.brightness = 0.1f;
  c.contrast = 1.2f;
  c.saturation = 0.8f;
  c.hue = 0.3f;
  t.SetControls(&c);
  t.dirty = false;
  t.SetControls(&c);
  EXPECT_FALSE(t.dirty);
  c.brightness = std::numeric_limits<float>::quiet_NaN();
  t.SetControls(&c);
  EXPECT_TRUE(t.dirty);
  t.dirty = false;
  t.SetControls(&c);
  EXPECT_TRUE(t.dirty) << "a NaN brightness never equals the stored one";
  // Disabling: dirty only when they were on.
  t.dirty = false;
  t.SetControls(nullptr);
  EXPECT_TRUE(t.dirty);
  t.dirty = false;
  t.SetControls(nullptr);
  EXPECT_FALSE(t.dirty);
  // Modes: dirty only on a change.
  t.SetSourceMode(0);
  EXPECT_FALSE(t.dirty);
  t.SetSourceMode(1);
  EXPECT_TRUE(t.dirty);
}

TEST(BlitTransform, APlainPairWritesThePassThroughRecord) {
  Pair p(11, 11);
  TransformState t;
  ASSERT_TRUE(t.SetupBlit(&p.source, &p.destination, nullptr));
  t.pending = 1;
  ASSERT_TRUE(t.Flush());
  EXPECT_EQ(t.active, 0u);
  EXPECT_EQ(t.unitCount, 1u);
  EXPECT_EQ(t.word0, 1u);
  EXPECT_EQ(t.units[0].flags, 0u);
  EXPECT_EQ(t.units[0].a, 0u);
  EXPECT_EQ(t.units[0].b, 0x00400400u);
  // The flush reset the records above it.
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(t.units[i].a, 0x80u) << i;
    EXPECT_EQ(t.units[i].b, 0x00400400u) << i;
  }
  // Three planes into 43 classify (modes 2 and 0), but the mode table has
  // no transform for the pair: the flush fails and changes nothing.
  Pair q(39, 43);
  TransformState u;
  ASSERT_TRUE(u.SetupBlit(&q.source, &q.destination, nullptr));
  EXPECT_FALSE(u.Compute());
  u.pending = 1;
  HwUnitRecord before[kHwUnitRecords];
  memcpy(before, u.units, sizeof(before));
  const uint32_t units = u.unitCount;
  EXPECT_FALSE(u.Flush());
  EXPECT_EQ(memcmp(before, u.units, sizeof(before)), 0);
  EXPECT_EQ(u.unitCount, units);
  EXPECT_EQ(u.pending, 1);
}

// The packing of the transform program for a matrix the test supplies.
TEST(BlitTransform, TheTransformProgramPacksTheScaledMatrixAndBias) {
  BlitMatrix m{};
  const float values[3][3] = {{1.0f, 0.5f, -0.25f}, {-1.0f, 2.0f, 0.125f}, {0.75f, -0.5f, 1.5f}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.m[r][c] = values[r][c];
  m.m[3][3] = 1.0f;
  Pair p(41, 11);  // video (mode 0) into colour (mode 1): three records
  TransformState t;
  t.toYuv = &m;
  ASSERT_TRUE(t.SetupBlit(&p.source, &p.destination, nullptr));
  // Bits the program keeps: the upper five of each half of E-H.
  for (HwUnitRecord& r : t.units) r.e = r.f = r.g = r.h = 0xF800F800;
  t.pending = 1;
  ASSERT_TRUE(t.Flush());
  EXPECT_EQ(t.active, 1u);
  EXPECT_EQ(t.unitCount, 3u);
  auto field = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(v * 0.2490234375 * 1024)) & 0x7FF; };
  auto biasField = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(v * 0.25 * 1024)) & 0x7FF; };
  const double bias[3] = {-0.0625, -0.5, -0.5};
  for (int c = 0; c < 3; ++c) {
    const HwUnitRecord& r = t.units[c];
    EXPECT_EQ(r.e, 0xF800F800u | field(values[0][c])) << c;
    EXPECT_EQ(r.f, 0xF800F800u | field(values[2][c]) | field(values[1][c]) << 16) << c;
  }
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(t.units[c].g, 0xF800F800u | biasField(bias[0])) << c;
    EXPECT_EQ(t.units[c].h, 0xF800F800u | biasField(bias[2]) | biasField(bias[1]) << 16) << c;
  }
  EXPECT_EQ(t.units[2].g, 0xF800F800u);
  EXPECT_EQ(t.units[0].flags, 6u);
  EXPECT_EQ(t.units[1].flags, 2u);
  EXPECT_EQ(t.units[2].flags, 2u);
  EXPECT_EQ(t.units[0].a, 15u << 14 | 7u << 24);
  EXPECT_EQ(t.units[0].b, 0x3u | 1u << 11 | 4u << 20);
  EXPECT_EQ(t.units[1].a, 0x80u | 4u << 14);
  EXPECT_EQ(t.units[1].b, (0x00400400u & ~3u) | 2u);
  EXPECT_EQ(t.units[2].b, (0x00400400u & ~3u & ~(7u << 17)) | 1u | 2u << 17 | 4u << 20);
  // Records 3 and 4 were reset by the flush.
  EXPECT_EQ(t.units[3].a, 0x80u);
}

TEST(BlitTransform, IntoRgbWithControlsWritesFiveRecords) {
  Pair p(40, 43);
  TransformState t;
  BlitColourControls c;
  c.enabled = 1;
  c.contrast = 1.0f;
  c.saturation = 1.0f;
  ASSERT_TRUE(t.SetupBlit(&p.source, &p.destination, &c));
  t.pending = 1;
  ASSERT_TRUE(t.Flush());
  EXPECT_EQ(t.unitCount, 5u);
  const uint32_t s = 4;  // the count word
  EXPECT_EQ(t.units[3].flags, 2u);
  EXPECT_EQ(t.units[3].a, s << 5 | 14u << 14 | 7u << 24);
  EXPECT_EQ(t.units[3].b, 1u << 10 | 1u << 11 | 1u << 12 | 1u << 14 | 4u << 20);
  EXPECT_EQ(t.units[3].e & 0x7FF, 0x3ACu);
  EXPECT_EQ(t.units[3].f, 0x3C0u | 0x3C0u << 16);
  EXPECT_EQ(t.units[4].a, 14u << 5 | s << 14 | 7u << 24);
  EXPECT_EQ(t.units[4].e & 0x7FF, 0u);
  EXPECT_EQ(t.units[4].f, 64u | 64u << 16);
  // Two planes: record 1 clears bit 2 of B and takes 1 in bits 5-9 of A.
  EXPECT_EQ(t.units[1].b & 0x4, 0u);
  EXPECT_EQ((t.units[1].a >> 5) & 0x1F, 1u);
  EXPECT_EQ(t.units[0].b & 7, 0x4u);
}

TEST(BlitTransform, CoefficientsConvertWithoutUndefinedBehaviour) {
  EXPECT_EQ(BlitCoefficientField(1e9f), 0x7FFu);                      // clamped to INT32_MAX
  EXPECT_EQ(BlitCoefficientField(-1e9f), 0u);                         // INT32_MIN's low bits
  EXPECT_EQ(BlitCoefficientField(std::numeric_limits<float>::quiet_NaN()), 0u);
  EXPECT_EQ(BlitCoefficientField(-0.5f), 0x600u);                     // -512
  EXPECT_EQ(BlitCoefficientField(0.0009f), 0u);                       // truncated toward zero
  EXPECT_EQ(BlitCoefficientField(-0.0009f), 0u);
}

// ---- Texture stages ----------------------------------------------------------------------------

TEST(BlitStages, SourcesGiveStagesUpToTheFirstMissingOne) {
  FormatDescriptor f(11, "argb");
  Surface3d a, b, c;
  for (Surface3d* s : {&a, &b, &c}) {
    s->format = &f;
    s->width = 64;
    s->height = 32;
  }
  BlitSource main{0, &a, 0, 0, 64, 32, 0, 0};
  BlitSource one{0, &b, 0, 0, 32, 16, 1, 0};
  BlitSource two{0, &c, 0, 0, 32, 16, 2, 0};
  TextureStageSetup t;
  EXPECT_FALSE(t.SetSources(nullptr, &one, nullptr, nullptr));
  EXPECT_EQ(t.pending, 0);
  struct Case {
    const BlitSource* o1;
    const BlitSource* o2;
    const BlitSource* o3;
    uint32_t stages, mask;
  } cases[] = {
      {nullptr, nullptr, nullptr, 1, 0x1000},
      {&one, &two, nullptr, 3, 0x7000},
      {&one, &two, &one, 4, 0xF000},
      {&one, nullptr, &two, 2, 0x3000},  // a missing second optional ends the list
  };
  for (const Case& k : cases) {
    ASSERT_TRUE(t.SetSources(&main, k.o1, k.o2, k.o3));
    EXPECT_EQ(t.pending, 1);
    ASSERT_TRUE(t.FlushPending());
    EXPECT_EQ(t.pending, 0);
    EXPECT_EQ(t.stageCount, k.stages);
    EXPECT_EQ(t.StageMask(), k.mask);
    for (uint32_t i = 0; i < kHwStageRecords; ++i) {
      const bool used = i < k.stages;
      EXPECT_EQ(t.stages[i].words[0] & kHwStageModeMask, used ? 0u : kHwStageDisabled) << i;
      EXPECT_EQ(t.stages[i].words[kStageWordPalette], 0xFFFFFFFFu) << i;
      if (!used) {
        EXPECT_EQ(StageControlByte(t.stages[i], 12) & 0xF, 14u) << i;
        EXPECT_EQ(StageControlByte(t.stages[i], 14) & 0x7, 1u) << i;
        EXPECT_EQ(t.stages[i].uScale, 0.0f) << i;
      } else {
        EXPECT_EQ(StageControlByte(t.stages[i], 0) & 0xF, 1u << i) << i;
        EXPECT_EQ(StageControlByte(t.stages[i], 14), 255u) << i;
      }
    }
  }
  // Filters in byte 4: 2 -> (and 0x6D) or 9 from 0x40; 1 -> or 18; none.
  ASSERT_TRUE(t.SetSources(&main, &one, &two, nullptr));
  ASSERT_TRUE(t.FlushPending());
  EXPECT_EQ(StageControlByte(t.stages[0], 4), 0x40u);
  EXPECT_EQ(StageControlByte(t.stages[1], 4), 0x40u | 18u);
  EXPECT_EQ(StageControlByte(t.stages[2], 4), (0x40u & 0x6D) | 9u);
  // The stamp reaches each present source.
  t.StampSources(77);
  EXPECT_EQ(a.usageStamp, 77u);
  EXPECT_EQ(c.usageStamp, 77u);
}

TEST(BlitStages, CoordinatesFollowTheSourceRectangleAndTheViewOrigin) {
  FormatDescriptor f(11, "argb");
  Surface3d s;
  s.format = &f;
  s.width = 200;
  s.height = 100;
  s.view.active = 1;
  s.view.x = 20;
  s.view.y = 10;
  BlitSource main{0, &s, 50, 25, 150, 75, 0, 0};
  TextureStageSetup t;
  ASSERT_TRUE(t.SetSources(&main, nullptr, nullptr, nullptr));
  ASSERT_TRUE(t.FlushPending());
  const HwStageRecord& st = t.stages[0];
  EXPECT_EQ(st.width, 200);
  EXPECT_EQ(st.height, 100);
  EXPECT_FLOAT_EQ(st.uOffset, 20.0f / 200 + 50.0f / 200);
  EXPECT_FLOAT_EQ(st.vOffset, 10.0f / 100 + 25.0f / 100);
  EXPECT_FLOAT_EQ(st.uScale, 0.5f);
  EXPECT_FLOAT_EQ(st.vScale, 0.5f);
  // Flag bit 1: the height from the bottom coordinate's low 14 bits.
  main.flags = kBlitSourceHeightFromBottom;
  main.bottom = 0x4000 + 50;
  ASSERT_TRUE(t.SetSources(&main, nullptr, nullptr, nullptr));
  ASSERT_TRUE(t.FlushPending());
  EXPECT_EQ(t.stages[0].height, 50);
}

}  // namespace

namespace {

// ---- Texture coordinates -----------------------------------------------------------------------

TEST(BlitCoordinates, RotationsTurnTheNormalisedRectangle) {
  struct Case {
    uint32_t turns;
    float want[4];  // left, right, top, bottom
  } cases[] = {
      {0, {0.1f, 0.5f, 0.2f, 0.7f}},
      {1, {1 - 0.7f, 1 - 0.2f, 0.1f, 0.5f}},
      {2, {1 - 0.5f, 1 - 0.1f, 1 - 0.7f, 1 - 0.2f}},
      {3, {0.2f, 0.7f, 1 - 0.5f, 1 - 0.1f}},
      {5, {1 - 0.7f, 1 - 0.2f, 0.1f, 0.5f}},  // the low two bits
  };
  for (const Case& c : cases) {
    float l = 0.1f, r = 0.5f, t = 0.2f, b = 0.7f;
    RotateTexCoords(c.turns, l, r, t, b);
    EXPECT_FLOAT_EQ(l, c.want[0]) << c.turns;
    EXPECT_FLOAT_EQ(r, c.want[1]) << c.turns;
    EXPECT_FLOAT_EQ(t, c.want[2]) << c.turns;
    EXPECT_FLOAT_EQ(b, c.want[3]) << c.turns;
  }
}

}  // namespace
