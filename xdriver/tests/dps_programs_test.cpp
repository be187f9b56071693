// Display-processing programs: the colour controls, the shader stages, the
// texture units and coordinates as register lists, the destination fit and
// the filtering choice. No device is needed: the lists are read from the
// register-list writer.
#include <gtest/gtest.h>

#include <string.h>

#include <utility>
#include <vector>

#include "core/regs/engine3d.h"
#include "xdriver/tests/dps_golden.h"
#include "xdriver/dps_hw.h"
#include "xdriver/dps_shader.h"
#include "xdriver/dps_surface.h"
#include "xdriver/dps_texture.h"

namespace {

using dpsgolden::Bits;
using dpsgolden::Pairs;

Pairs ListOf(const CDPSHwManager& hw) {
  Pairs out;
  for (uint32_t i = 0; i < hw.count; ++i) out.push_back({hw.pairs[i].reg, hw.pairs[i].value});
  return out;
}

SProcampValues Procamp(int32_t level, int32_t brightness, int32_t colour, int32_t contrast,
                       int32_t hue, int32_t saturation) {
  return SProcampValues{{level, brightness, colour, contrast, 100, hue, saturation}};
}

CDHProcampState StateOf(const SProcampValues& v) {
  CDHProcampState s;
  s.Set(v);
  return s;
}

// An 11-bit field of a constant word as a signed number.
int32_t Field(uint32_t word, unsigned shift) {
  const int32_t v = static_cast<int32_t>((word >> shift) & 0x7FF);
  return v >= 0x400 ? v - 0x800 : v;
}

class ShaderTest : public testing::Test {
 protected:
  void SetUp() override { shader_.hw = &hw_; }
  // The shader built for TV output with these colour controls.
  void Build(const SProcampValues& values) {
    const CDHProcampState state = StateOf(values);
    ASSERT_TRUE(shader_.SetupShader(kDpsOutputTv576, &state));
    hw_.Reset();
    ASSERT_TRUE(shader_.UpdateHardware());
  }
  SharedLockedData_t shared_ = {};
  CDPSHwManager hw_{&shared_};
  CDPSPixelShader shader_;
};

TEST(ProcampState, ConvertsTheControlsToTheirScales) {
  const CDHProcampState s = StateOf(Procamp(5, 750, 1, 10000, 180, 20000));
  EXPECT_EQ(s.valid, 1u);
  EXPECT_EQ(s.antiFlickerLevel, 5);
  EXPECT_EQ(s.brightness.f, 0.0f) << "750 is no brightness change";
  EXPECT_EQ(s.contrast.f, 1.0f);
  EXPECT_EQ(s.saturation.f, 2.0f);
  EXPECT_FLOAT_EQ(s.hue.f, 3.1415923f);
  EXPECT_FLOAT_EQ(StateOf(Procamp(0, 10000, 1, 0, 0, 0)).brightness.f,
                  (10000 * 213.33334f / 10000 - 16) / 256);
  // Two invalid states are equal whatever they hold; a valid one differs.
  CDHProcampState a, b;
  b.antiFlickerLevel = 7;
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == s);
}

TEST(AntiFlicker, LevelsWeighTheLinesAroundTheCentre) {
  CDPSAntiFlicker af;
  for (int32_t level : {0, 1, 12, 25}) {
    af.SetLevel(level);
    int32_t above, centre, below;
    af.GetLevelData(&above, &centre, &below);
    EXPECT_EQ(above, level);
    EXPECT_EQ(below, level);
    EXPECT_EQ(centre, 100 - 2 * level) << level;
  }
}

TEST(ShaderStages, WrittenInTheHardwareOrder) {
  const uint32_t expected[] = {0, 2, 4, 8, 10, 1, 3, 5, 9, 11};
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(DpsStageNumber(i), expected[i]) << i;
}

// Default colour controls: the product is the BT.601 matrix itself and the
// five stages are the conversion and the two clamps, word for word.
TEST_F(ShaderTest, DefaultProcampWritesTheBt601ConversionAndClamps) {
  Build(Procamp(0, 750, 1, 10000, 0, 10000));
  const float bt601[9] = {0.257f, -0.148f, 0.439f, 0.504f, -0.291f, -0.368f, 0.098f, 0.439f, -0.071f};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(shader_.product.e[i].f, bt601[i]) << i;
  EXPECT_EQ(shader_.offset.x.f, 0.0625f);
  EXPECT_EQ(shader_.offset.y.f, 0.5f);
  EXPECT_EQ(shader_.mode, 1u);
  EXPECT_EQ(shader_.stageCount, 5u);

  const Pairs expected = dpsgolden::DefaultShader();
  EXPECT_EQ(ListOf(hw_), expected);
}

TEST_F(ShaderTest, ColourOffLeavesChromaAtTheOffsetAlone) {
  Build(Procamp(0, 750, 0, 10000, 30, 10000));
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(shader_.product.e[3 * row + 1].f, 0.0f) << row;
    EXPECT_EQ(shader_.product.e[3 * row + 2].f, 0.0f) << row;
    EXPECT_EQ(shader_.stages[row].constants[1], 0u) << "no Cb or Cr coefficient in row " << row;
    EXPECT_EQ(shader_.stages[row].constants[3], (128u | 128u << 16)) << row;
  }
}

TEST_F(ShaderTest, ControlsReachTheProductInRowVectorOrder) {
  // Contrast doubles Y, the hue turns Cb into Cr by a quarter turn,
  // saturation halves both, brightness adds to Y's offset.
  Build(Procamp(0, 10000, 1, 20000, 90, 5000));
  const float s = 0.5f;
  EXPECT_FLOAT_EQ(shader_.product.e[0].f, 2 * 0.257f);
  // Hue matrix [1][2] = -sin, [2][1] = sin: Cb' = Cr sin, Cr' = -Cb sin.
  EXPECT_NEAR(shader_.product.e[1].f, 0.439f * s, 1e-6);
  EXPECT_NEAR(shader_.product.e[2].f, 0.148f * s, 1e-6);
  EXPECT_FLOAT_EQ(shader_.offset.x.f, 0.0625f + (213.33334f - 16) / 256);
  EXPECT_EQ(Field(shader_.stages[0].constants[0], 0), 131) << "trunc(2 x 0.257 x 255)";
}

TEST_F(ShaderTest, AntiFlickerAddsThreeStagesAndTenAreWritten) {
  Build(Procamp(10, 750, 1, 10000, 0, 10000));
  EXPECT_EQ(shader_.mode, 2u);
  EXPECT_EQ(shader_.stageCount, 8u);
  std::vector<uint32_t> numbers;
  for (const auto& [reg, value] : ListOf(hw_)) {
    if (reg == k3dRegStageControl) numbers.push_back(value & 0x1F);
  }
  EXPECT_EQ(numbers, (std::vector<uint32_t>{0, 2, 4, 8, 10, 1, 3, 5, 9, 11}));
  // Weights 10, 80, 10 percent of 1024, into the line above, itself, below.
  EXPECT_EQ(shader_.stages[0].constants[0], 102u);
  EXPECT_EQ(shader_.stages[1].constants[0], 819u);
  EXPECT_EQ(shader_.stages[2].constants[1], 102u | 102u << 16);
  EXPECT_EQ(shader_.stages[1].control & 0x3E0, 1u << 5) << "the second line is input 1";
  EXPECT_EQ(shader_.stages[3].control & 0x3E0, 3u << 5) << "the conversion reads the filter's output";
  // The two unused stages pass through.
  EXPECT_EQ(shader_.stages[8].second, 0x400400u);
  EXPECT_EQ(shader_.stages[9].control & ~0x1Fu, 128u);

  // Level 0 again: five stages.
  Build(Procamp(0, 750, 1, 10000, 0, 10000));
  EXPECT_EQ(shader_.stageCount, 5u);
  EXPECT_EQ(hw_.count, 30u);
}

TEST_F(ShaderTest, RgbOutputPassesThroughAndOtherTypesAreRefused) {
  ASSERT_TRUE(shader_.SetupShader(kDpsOutputRgb, nullptr));
  hw_.Reset();
  ASSERT_TRUE(shader_.UpdateHardware());
  EXPECT_EQ(shader_.mode, 0u);
  EXPECT_EQ(ListOf(hw_)[0], (std::pair<uint32_t, uint32_t>{0x1264, 0}));
  EXPECT_EQ(ListOf(hw_)[1], (std::pair<uint32_t, uint32_t>{0x126C, 0x400400}));
  for (EDPSOutputType bad : {0u, 3u, 64u, 0x3Cu}) EXPECT_FALSE(shader_.SetOutputFormat(bad)) << bad;
}

TEST_F(ShaderTest, DirtyShaderWritesNothing) {
  EXPECT_FALSE(shader_.UpdateHardware());
  EXPECT_EQ(hw_.count, 0u);
}

class TextureTest : public testing::Test {
 protected:
  void SetUp() override {
    engine_.hw = &hw_;
    setup_.hw = &hw_;
  }
  SharedLockedData_t shared_ = {};
  CDPSHwManager hw_{&shared_};
  CDPSTextureEngine engine_;
  CDPSTextureSetup setup_;
};

TEST_F(TextureTest, StandardUnitReadsTheSourceWithTheFilterOfTheScale) {
  const SDPSSurfDesc source = {0x400000, 0x32020280, 0x101E0};
  ASSERT_TRUE(engine_.SetupTextureEngine(kDpsFilterStretch, &source, nullptr));
  ASSERT_TRUE(engine_.UpdateHardware());
  const Pairs expected = {
      {0x1200, 0x40101},
      {0x11C0, 0x12}, {0x11C4, 585}, {0x11C8, 0}, {0x11CC, 0xFFFFFFFF},
      {0x11D0, 0}, {0x11D4, 0}, {0x11D8, 0},
      {0x11DC, 0x400000}, {0x11E0, 0x32020280}, {0x11E4, 0x101E0},
      {0x1204, 0x10002}, {0x1208, 0x10004}, {0x120C, 0x10008},
  };
  EXPECT_EQ(ListOf(hw_), expected);
}

TEST_F(TextureTest, AntiFlickerUsesThreeUnitsAndTheLaterBoardsTable) {
  engine_.tableFlag = 1;
  const SDPSSurfDesc source = {0x1000, 0x2, 0x3};
  const CDHProcampState state = StateOf(Procamp(4, 750, 1, 10000, 0, 10000));
  ASSERT_TRUE(engine_.SetupTextureEngine(kDpsFilterReduce, &source, &state));
  ASSERT_TRUE(engine_.UpdateHardware());
  std::vector<uint32_t> controls, tables;
  uint32_t filters = 0;
  for (const auto& [reg, value] : ListOf(hw_)) {
    if (reg >= 0x1200 && reg <= 0x120C) controls.push_back(value);
    if (reg == k3dRegTexTable) tables.push_back(value);
    if (reg == k3dRegTexFilter) {
      EXPECT_EQ(value, 0x09u);
      ++filters;
    }
  }
  EXPECT_EQ(controls, (std::vector<uint32_t>{0x40101, 0x40102, 0x40104, 0x10008}));
  EXPECT_EQ(tables, (std::vector<uint32_t>{0x1600000, 0x1600000, 0x400000, 0x400000}));
  EXPECT_EQ(filters, 3u);
}

TEST_F(TextureTest, CoordinatesSampleTheCentresOfTheSourcePixels) {
  const LRECT full = {0, 0, 640, 480};
  const LRECT dst = {0, 18, 720, 558};
  ASSERT_TRUE(setup_.SetupTextureSetup(full, full, dst, nullptr));
  ASSERT_TRUE(setup_.UpdateHardware());
  const float ih = 640.0f / 720.0f, iv = 480.0f / 540.0f;
  const float s0 = (0 + ih / 2) / 640, s1 = (640 + ih / 2) / 640;
  const float t0 = (0 + iv / 2) / 480, t1 = (480 + iv / 2) / 480;
  const Pairs expected = {
      // Unit 0, its three corners: w3, w2, w1 = t, w0 = s into kind 2.
      {0x1160, 0}, {0x1174, 0}, {0x1178, Bits(t0)}, {0x118C, Bits(s0)},
      {0x1164, 0}, {0x1174, 0}, {0x1178, Bits(t0)}, {0x118C, Bits(s1)},
      {0x1168, 0}, {0x1174, 0}, {0x1178, Bits(t1)}, {0x118C, Bits(s0)},
      // The destination: w3 = 1, w1 = y, w0 = x into kind 1.
      {0x1160, Bits(1)}, {0x1174, 0}, {0x1178, Bits(18)}, {0x1180, Bits(0)},
      {0x1164, Bits(1)}, {0x1174, 0}, {0x1178, Bits(18)}, {0x1180, Bits(720)},
      {0x1168, Bits(1)}, {0x1174, 0}, {0x117C, Bits(558)}, {0x1180, Bits(0)},
  };
  EXPECT_EQ(ListOf(hw_), expected);
  EXPECT_EQ(setup_.ActiveUnits(), 1u);
}

TEST_F(TextureTest, AntiFlickerUnitsReadTheLinesAboveAndBelow) {
  const LRECT full = {0, 0, 640, 480};
  const CDHProcampState state = StateOf(Procamp(3, 750, 1, 10000, 0, 10000));
  ASSERT_TRUE(setup_.SetupTextureSetup(full, full, {0, 0, 640, 240}, &state));
  EXPECT_EQ(setup_.ActiveUnits(), 3u);
  const float iv = 2.0f;  // 480 lines into 240
  for (uint32_t u = 0; u < 3; ++u) {
    const float shift = (static_cast<float>(u) - 1.0f) * iv;
    EXPECT_FLOAT_EQ(setup_.units[u].corners[0].w1.f, (shift + iv / 2) / 480) << u;
    EXPECT_FLOAT_EQ(setup_.units[u].corners[2].w1.f, (480 + shift + iv / 2) / 480) << u;
  }
}

TEST_F(TextureTest, ZeroWidthDestinationStaysDirtyAndWritesNothing) {
  const LRECT full = {0, 0, 640, 480};
  EXPECT_FALSE(setup_.SetupTextureSetup(full, full, {10, 0, 10, 480}, nullptr));
  EXPECT_EQ(setup_.dirty, 1u);
  EXPECT_FALSE(setup_.UpdateHardware());
  EXPECT_EQ(hw_.count, 0u);
}

TEST(RegisterList, PadsToWholePacketsAndRefusesAnOverflow) {
  SharedLockedData_t shared = {};
  CDPSHwManager hw(&shared);
  hw.Add(0x1300, 1);
  hw.Add(0x1304, 2);
  hw.PadBuffer();
  EXPECT_EQ(ListOf(hw), (Pairs{{0x1300, 1}, {0x1304, 2}, {0x1080, 0}, {0x1080, 0}}));
  for (uint32_t i = 0; i < CDPSHwManager::kMaxPairs; ++i) hw.Add(0x1300, i);
  EXPECT_EQ(hw.count, CDPSHwManager::kMaxPairs);
  EXPECT_TRUE(hw.overflowed);
  EXPECT_FALSE(hw.WriteBuffer(nullptr));
  EXPECT_EQ(hw.count, 0u);
}

TEST(DestinationFit, KeepsTheSourceAspectAroundTheCentre) {
  struct Case {
    LRECT src, dst, fitted;
    bool ok;
  };
  const Case cases[] = {
      {{0, 0, 640, 480}, {0, 0, 720, 576}, {0, 18, 720, 558}, true},    // 4:3 into PAL
      {{0, 0, 1280, 480}, {0, 0, 720, 576}, {0, 153, 720, 423}, true},  // wide
      {{0, 0, 480, 640}, {0, 0, 720, 576}, {144, 0, 576, 576}, true},   // tall
      {{0, 0, 0, 480}, {0, 0, 720, 576}, {0, 0, 720, 576}, false},      // no width
  };
  for (const Case& c : cases) {
    LRECT d = c.dst;
    EXPECT_EQ(CDPSBackBuffersMgr::ComputeDstViewport(c.src, d), c.ok);
    EXPECT_EQ(d.left, c.fitted.left);
    EXPECT_EQ(d.top, c.fitted.top);
    EXPECT_EQ(d.right, c.fitted.right);
    EXPECT_EQ(d.bottom, c.fitted.bottom);
  }
}

TEST(Filtering, ChosenFromTheAreasAndTheOutputType) {
  struct Case {
    uint32_t on;
    EDPSOutputType type;
    LRECT source, dest;
    EDPSFiltering expected;
  };
  const Case cases[] = {
      {1, kDpsOutputTv576, {0, 0, 720, 576}, {0, 0, 720, 576}, kDpsFilterNone},     // equal
      {0, kDpsOutputTv576, {0, 0, 1024, 768}, {0, 0, 720, 576}, kDpsFilterNone},    // off
      {1, kDpsOutputTv576, {0, 0, 640, 480}, {0, 0, 720, 576}, kDpsFilterStretch},  // enlarged
      {1, kDpsOutputTv576, {0, 0, 1920, 1080}, {0, 0, 720, 576}, kDpsFilterReduce},
      // 40 x 1000 x 1000 against 100 x 400 x 1000: at the limit for TV,
      // below it with 39 for RGB.
      {1, kDpsOutputTv484, {0, 0, 1000, 1000}, {0, 0, 400, 1000}, kDpsFilterStretch},
      {1, kDpsOutputRgb, {0, 0, 1000, 1000}, {0, 0, 400, 1000}, kDpsFilterStretch},
      {1, kDpsOutputRgb, {0, 0, 1000, 1000}, {0, 0, 389, 1000}, kDpsFilterReduce},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DpsChooseFiltering(c.on, c.type, c.source, c.dest), c.expected)
        << c.source.right << "x" << c.source.bottom << " -> " << c.dest.right << "x" << c.dest.bottom;
  }
}

}  // namespace
