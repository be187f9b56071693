// The translations of the target-related render states, as tables: every
// client value the tables name, and the values they don't.
#include <gtest/gtest.h>

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/targets/target_tables.h"

namespace {

TEST(TargetTables, CompareStencilAndBlendOperations) {
  struct Row {
    uint32_t client, compare, stencil, blend;
  };
  const Row rows[] = {
      {1, 0, 0, 0}, {2, 2, 3, 1}, {3, 1, 1, 2}, {4, 3, 6, 5}, {5, 4, 7, 6},
      {6, 6, 2, 0}, {7, 5, 4, 0}, {8, 7, 5, 0}, {0, 2, 0, 0}, {9, 2, 0, 0},
      {0xFFFFFFFF, 2, 0, 0},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CompareFunctionCode(r.client), r.compare) << r.client;
    EXPECT_EQ(StencilOperationCode(r.client), r.stencil) << r.client;
    EXPECT_EQ(BlendOperationCode(r.client), r.blend) << r.client;
  }
}

TEST(TargetTables, BlendFactorsWithAndWithoutAlpha) {
  struct Row {
    uint32_t client;
    BlendFactorCodes plain, alpha;
  };
  const Row rows[] = {
      {1, {0, 0}, {0, 0}},       {2, {1, 1}, {1, 1}},       {3, {4, 6}, {4, 6}},     {4, {5, 7}, {5, 7}},
      {5, {6, 6}, {6, 6}},       {6, {7, 7}, {7, 7}},       {7, {10, 10}, {10, 1}},  {8, {11, 11}, {11, 0}},
      {9, {8, 10}, {8, 10}},     {10, {9, 11}, {9, 11}},    {11, {12, 1}, {12, 1}},  {12, {1, 1}, {1, 1}},
      {13, {1, 1}, {1, 1}},      {14, {2, 14}, {2, 14}},    {15, {3, 15}, {3, 15}},  {16, {14, 14}, {14, 14}},
      {17, {15, 15}, {15, 15}},  {18, {1, 1}, {1, 1}},      {0, {1, 1}, {1, 1}},     {1000, {1, 1}, {1, 1}},
  };
  for (const Row& r : rows) {
    const BlendFactorCodes plain = BlendFactorCode(r.client, false);
    const BlendFactorCodes alpha = BlendFactorCode(r.client, true);
    EXPECT_EQ(plain.source, r.plain.source) << r.client;
    EXPECT_EQ(plain.destination, r.plain.destination) << r.client;
    EXPECT_EQ(alpha.source, r.alpha.source) << r.client;
    EXPECT_EQ(alpha.destination, r.alpha.destination) << r.client;
  }
}

TEST(TargetTables, DepthFormatCodes) {
  const uint32_t expected[] = {0, 1, 8, 0, 7, 1, 2, 3, 4, 5, 6, 0};  // codes 17-28
  for (uint32_t code = 17; code <= 28; ++code) EXPECT_EQ(GetDepthFormatCode(code), expected[code - 17]) << code;
  for (uint32_t code : {0u, 16u, 29u, 0xFFFFFFFFu}) EXPECT_EQ(GetDepthFormatCode(code), 0u) << code;
  // What the engine state records: a forced code of 9 or more as 8.
  for (uint32_t hw = 0; hw <= 8; ++hw) EXPECT_EQ(DepthFormatEngineCode(hw), hw);
  for (uint32_t hw : {9u, 15u, 0xFFFFFFFFu}) EXPECT_EQ(DepthFormatEngineCode(hw), 8u) << hw;
}

TEST(TargetTables, SmallTranslations) {
  for (uint32_t v = 0; v <= 15; ++v) EXPECT_EQ(SmallCode(v), v);
  for (uint32_t v : {16u, 17u, 255u, 0xFFFFFFFFu}) EXPECT_EQ(SmallCode(v), 12u) << v;

  struct Fill {
    uint32_t value, bpp, expected;
  };
  const Fill fills[] = {
      {0x123456AB, 8, 0xABABABAB}, {0x1234CDEF, 16, 0xCDEFCDEF}, {0x12345678, 32, 0x12345678},
      {0x12345678, 24, 0},         {0x12345678, 0, 0},           {0xFFFFFFFF, 64, 0},
  };
  for (const Fill& f : fills) EXPECT_EQ(ReplicateFill(f.value, f.bpp), f.expected) << f.bpp;

  FormatDescriptor format(21, "test");
  format.masks[kChannelRed] = 0x00FF0000;
  format.masks[kChannelGreen] = 0x0000FF00;
  format.masks[kChannelBlue] = 0x000000FF;
  format.masks[kChannelAlpha] = 0xFF000000;
  EXPECT_EQ(ChannelWriteMask(0, &format), 0u);
  EXPECT_EQ(ChannelWriteMask(1, &format), 0x00FF0000u);
  EXPECT_EQ(ChannelWriteMask(2 | 8, &format), 0xFF00FF00u);
  EXPECT_EQ(ChannelWriteMask(15, &format), 0xFFFFFFFFu);
  EXPECT_EQ(ChannelWriteMask(0xF0, &format), 0u);  // bits above the four channels name none
  EXPECT_EQ(ChannelWriteMask(15, nullptr), 0u);
}

}  // namespace
