// The rules of target binding as tables: depth scales of every depth
// format, colour formats as bound, blend fields, the stencil's inactive
// rule, the depth test and the set-up mode of a draw.
#include <gtest/gtest.h>

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/targets/target_binding.h"

namespace {

TEST(TargetBinding, DepthScaleOfEveryDepthFormat) {
  for (uint32_t code = 17; code <= 28; ++code) {
    FormatDescriptor format(code, "depth");
    // Code 20 has no depth field in the catalogue.
    const float expected = code == 17   ? 1.0f / 65535
                           : code == 18 ? 1.0f / 32767
                           : code == 20 ? kDepthScaleNone
                                        : 1.0f / 16777215;
    EXPECT_FLOAT_EQ(DepthScale(&format), expected) << code;
  }
  EXPECT_EQ(DepthScale(nullptr), 1.5259022e-5f);
  // A format without a depth field divides by nothing.
  FormatDescriptor colour(21, "depth");
  colour.masks[kChannelDepth] = 0;
  EXPECT_EQ(DepthScale(&colour), kDepthScaleNone);
}

TEST(TargetBinding, ColourFormatsBoundAs) {
  const uint32_t rows[][2] = {{7, 6}, {9, 8}, {12, 11}, {6, 6}, {8, 8}, {11, 11}, {15, 15}, {0, 0}};
  for (const auto& r : rows) EXPECT_EQ(BoundColourFormatCode(r[0]), r[1]) << r[0];
}

TEST(TargetBinding, BlendFields) {
  struct Row {
    BlendStates states;
    bool alpha;
    uint32_t fields[4];
    uint32_t op;
  };
  const Row rows[] = {
      {{5, 6, 2, 1, 1}, false, {6, 7, 1, 0}, 0},    // plain table lookups
      {{7, 7, 7, 7, 2}, true, {10, 1, 10, 1}, 1},   // alpha changes the destination of 7
      {{12, 3, 4, 4, 3}, false, {6, 6, 7, 7}, 2},   // source 12: fields 1 and 3
      {{13, 3, 4, 4, 1}, false, {7, 6, 6, 7}, 0},   // source 13
      {{3, 12, 4, 4, 1}, false, {4, 6, 5, 7}, 0},   // destination 12: fields 2 and 4
      {{3, 13, 4, 4, 1}, false, {4, 7, 5, 6}, 0},   // destination 13
      {{12, 13, 4, 4, 4}, false, {1, 1, 1, 1}, 5},  // minimum: every field 1
      {{5, 6, 9, 10, 5}, false, {1, 1, 1, 1}, 6},   // maximum
      {{99, 0, 99, 0, 99}, false, {1, 1, 1, 1}, 0}, // unknown values
  };
  for (const Row& r : rows) {
    const uint32_t w = BlendWord(r.states, r.alpha);
    for (uint32_t f = 0; f < 4; ++f) EXPECT_EQ(BlendField(w, f), r.fields[f]) << r.states.source << " field " << f;
    EXPECT_EQ((w >> 16) & 7, r.op) << r.states.operation;
    EXPECT_EQ((w >> 19) & 7, r.op) << r.states.operation;
  }
}

TEST(TargetBinding, TheStencilInactiveRule) {
  struct Row {
    StencilStates s;
    bool pending;
    bool inactive;
  };
  const Row rows[] = {
      {{0, 2, 2, 2, 3, 0, 0, 0}, false, true},   // disabled
      {{1, 1, 1, 1, 3, 0, 0, 0}, false, true},   // keep, keep, keep
      {{1, 1, 1, 3, 8, 0, 0, 0}, false, true},   // keep, keep, replace, always
      {{1, 1, 1, 3, 8, 0, 0, 0}, true, false},   // ... unless a switch is pending
      {{1, 1, 1, 3, 7, 0, 0, 0}, false, false},  // another function
      {{1, 2, 1, 1, 8, 0, 0, 0}, false, false},  // fail zeroes
      {{1, 1, 2, 3, 8, 0, 0, 0}, false, false},
      {{1, 1, 1, 2, 8, 0, 0, 0}, false, false},
  };
  for (const Row& r : rows) EXPECT_EQ(StencilInactive(r.s, r.pending), r.inactive) << &r - rows;
}

TEST(TargetBinding, TheDepthTest) {
  struct Row {
    bool surface;
    uint32_t enable, write, function, wbMode, stateWord;
    bool on;
    uint32_t function2;
  };
  const Row rows[] = {
      {true, 1, 1, 4, kWbInUse, 0, true, 4},
      {true, 0, 1, 4, kWbInUse, 0, false, 4},
      {true, 1, 0, 8, kWbInUse, 0, true, 8},       // always without writes stays on in mode 0
      {true, 1, 0, 8, kWbNotInUse, 0, false, 8},   // ... and goes off outside it
      {true, 1, 0, 8, kWbSuspended, 0, false, 8},
      {true, 1, 1, 8, kWbNotInUse, 0, true, 8},
      {false, 1, 1, 4, kWbNotInUse, 0, false, 4},  // no surface
      {false, 0, 0, 4, kWbInUse, 0, true, 8},      // no surface, buffer in use: forced on, always
      {false, 0, 0, 4, kWbNotInUse, 1, true, 8},   // ... or state word 1
  };
  for (const Row& r : rows) {
    const DepthTest t = DecideDepthTest(r.surface, r.enable, r.write, r.function, r.wbMode, r.stateWord);
    EXPECT_EQ(t.on, r.on) << &r - rows;
    EXPECT_EQ(t.function, r.function2) << &r - rows;
    EXPECT_EQ(t.control & 1, r.on ? 1u : 0u);
    EXPECT_EQ(t.control >> 1, r.function2 == 8 ? 7u : r.function2 == 4 ? 3u : 99u) << &r - rows;
  }
}

TEST(TargetBinding, SetUpModeAndControlBits) {
  const uint32_t modes[][2] = {{0, 3}, {1, 0}, {2, 0}, {3, 2}, {4, 0}, {0xFFFFFFFF, 0}};
  for (const auto& m : modes) EXPECT_EQ(SetupModeOf(m[0]), m[1]) << m[0];
  struct Row {
    uint32_t setup, targets, stateWord, bits;
  };
  const Row rows[] = {{3, 1, 0, 1}, {3, 0, 0, 1}, {3, 1, 1, 0}, {3, 2, 0, 3}, {3, 2, 1, 3},
                      {0, 1, 0, 0}, {2, 1, 0, 2}, {2, 4, 1, 2}};
  for (const Row& r : rows)
    EXPECT_EQ(TargetControlLowBits(r.setup, r.targets, r.stateWord), r.bits) << r.setup << " " << r.targets;
}

}  // namespace
