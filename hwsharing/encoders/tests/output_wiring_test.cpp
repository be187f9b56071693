// The wiring tables: which encoders and FPGAs serve an output word on each
// board group.
#include <gtest/gtest.h>

#include "hwsharing/encoders/output_wiring.h"

namespace {

BOARDWIRING Board(uint32_t type, bool variant37 = false, bool module37 = false,
                  bool allTransmitters = false, bool fpgaFlag = false) {
  return BOARDWIRING{true, type, variant37, module37, allTransmitters, fpgaFlag};
}
BOARDWIRING Plain() { return BOARDWIRING{false, 0, false, false, false, false}; }

TEST(OutputWiring, GroupsOfTheEncoderList) {
  struct Case {
    BOARDWIRING board;
    ChrGroup group;
  } cases[] = {
      {Plain(), ChrGroup::kPlain},
      {BOARDWIRING{false, 2, false, false, false, false}, ChrGroup::kPlain},  // no module
      {Board(2), ChrGroup::kQuad},         {Board(18), ChrGroup::kQuad},
      {Board(10), ChrGroup::kPair},        {Board(16), ChrGroup::kPair},
      {Board(13), ChrGroup::kT13},         {Board(13, true), ChrGroup::kPlain},
      {Board(14), ChrGroup::kT14},         {Board(21), ChrGroup::kT14},
      {Board(19, true), ChrGroup::kPlain}, {Board(11), ChrGroup::kPlain},
      {Board(15), ChrGroup::kPlain},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChrGroupOf(c.board), c.group) << "type " << c.board.boardType;
}

TEST(OutputWiring, EncodersPerBit) {
  struct Case {
    const char* name;
    BOARDWIRING board;
    uint32_t bits;
    uint32_t encoders;  // bit i = encoder i
  } cases[] = {
      {"quad analog 2", Board(2), 0x2, 0b0100},
      {"quad analog 2, module 37", Board(2, false, true), 0x2, 0b0101},
      {"quad analog 3, module 37", Board(5, false, true), 0x4, 0b1010},
      {"quad TV 1 and analog 1", Board(3), 0x4000000 | 0x8000000, 0b0010},
      {"pair analog 3", Board(10), 0x4, 0},
      {"pair analog 3, module 37", Board(10, false, true), 0x4, 0b0010},
      {"t13 digital 1", Board(13), 0x40000000, 0},
      {"t13 digital 1, FPGA flag", Board(13, false, false, false, true), 0x40000000, 0b0100},
      {"t14 digital 1", Board(14), 0x40000000, 0b0010},
      {"t14 digital 1, FPGA flag", Board(19, false, false, false, true), 0x40000000, 0b0100},
      {"plain fourth kind 2", Plain(), 0x4000, 0b0001},
      {"plain digital 0 and 2", Plain(), 0x20000000 | 0x80000000, 0b0001},
      {"plain digital 3", Plain(), 0x100, 0b0010},
  };
  for (const Case& c : cases) EXPECT_EQ(ChrEncodersForBits(c.board, c.bits), c.encoders) << c.name;
}

TEST(OutputWiring, EmptyWordServesNoEncoderOnAnyBoard) {
  for (uint32_t type = 0; type < 24; ++type)
    for (int facts = 0; facts < 16; ++facts) {
      BOARDWIRING b = Board(type, facts & 1, facts & 2, facts & 4, facts & 8);
      EXPECT_EQ(ChrEncodersForBits(b, 0), 0u);
      EXPECT_EQ(OppositeEncoder(b, 0), -1);
      EXPECT_FALSE(ModeUsesCemFpga(b, 0));
      EXPECT_EQ(FpgasForOutputs(b, 3, 0), 0u);
      // No single output bit is served by more than two encoders.
      for (uint32_t bit : kWiringBit) EXPECT_LE(__builtin_popcount(ChrEncodersForBits(b, bit)), 2);
    }
}

TEST(OutputWiring, OppositeEncoderPrefersEncoder1) {
  EXPECT_EQ(OppositeEncoder(Plain(), 0x2), 1);
  EXPECT_EQ(OppositeEncoder(Plain(), 0x4), 0);
  EXPECT_EQ(OppositeEncoder(Plain(), 0x2 | 0x4), 1);
  EXPECT_EQ(OppositeEncoder(Plain(), 0x10), -1);
  EXPECT_EQ(OppositeEncoder(Board(14, true), 0x4000), 1);  // variant 37: default wiring
  EXPECT_EQ(OppositeEncoder(Board(2), 0x2), -1);
  EXPECT_EQ(OppositeEncoder(Board(2, false, true), 0x2), 1);
  EXPECT_EQ(OppositeEncoder(Board(2, false, false, true), 0x80000000), 1);
  EXPECT_EQ(OppositeEncoder(Board(13), 0x2), 0);
  EXPECT_EQ(OppositeEncoder(Board(21, false, false, false, true), 0x40000000), -1);
  EXPECT_EQ(OppositeEncoder(Board(21), 0x40000000), 0);
}

TEST(OutputWiring, ModesThatUseTheFpgas) {
  EXPECT_FALSE(ModeUsesCemFpga(Plain(), 0x2));
  EXPECT_FALSE(ModeUsesCemFpga(Board(2, true), 0x2));  // variant 37
  EXPECT_FALSE(ModeUsesCemFpga(Board(18), 0x2));       // quad type without FPGAs
  EXPECT_TRUE(ModeUsesCemFpga(Board(2), 0x80000000));
  EXPECT_FALSE(ModeUsesCemFpga(Board(2), 0x4000));
  EXPECT_FALSE(ModeUsesCemFpga(Board(10), 0x4));
  EXPECT_TRUE(ModeUsesCemFpga(Board(10, false, true), 0x4));
  EXPECT_FALSE(ModeUsesCemFpga(Board(10, false, false, true), 0x2));
  EXPECT_TRUE(ModeUsesCemFpga(Board(10, false, true, true), 0x2));
  EXPECT_FALSE(ModeUsesCemFpga(Board(13), 0x40000000));
  EXPECT_TRUE(ModeUsesCemFpga(Board(13, false, false, false, true), 0x40000000));
  EXPECT_TRUE(ModeUsesCemFpga(Board(11), 0x8000));
  EXPECT_TRUE(ModeUsesCemFpga(Board(19, false, true), 0x4));
  EXPECT_FALSE(ModeUsesCemFpga(Board(19), 0x4));
}

uint32_t Swap(uint32_t fpgas) {
  return ((fpgas & kFpgaE0) ? kFpgaE2 : 0) | ((fpgas & kFpgaE2) ? kFpgaE0 : 0);
}

// Outside the quad family, methods 3 and 8 put the primary FPGA at 0xE2 and
// every output on the other FPGA than the remaining methods do.
TEST(OutputWiring, MethodsThreeAndEightMirrorTheOthersOutsideTheQuadFamily) {
  std::vector<BOARDWIRING> boards = {Plain()};
  for (uint32_t type = 0; type < 24; ++type)
    for (int facts = 0; facts < 16; ++facts)
      boards.push_back(Board(type, facts & 1, facts & 2, facts & 4, facts & 8));
  for (const BOARDWIRING& b : boards) {
    if (ChrGroupOf(b) == ChrGroup::kQuad) continue;
    for (uint32_t bit : kWiringBit)
      EXPECT_EQ(FpgasForOutputs(b, 3, bit), Swap(FpgasForOutputs(b, 0, bit)))
          << "type " << b.boardType << " bit 0x" << std::hex << bit;
  }
}

TEST(OutputWiring, FpgasServingQuadOutputs) {
  // Quad boards keep analog 2 on 0xE2 unless all four transmitters are fitted,
  // where mirrored types swap under methods 3 and 8 and the others under the rest.
  EXPECT_EQ(FpgasForOutputs(Board(2), 3, 0x2), kFpgaE2);
  EXPECT_EQ(FpgasForOutputs(Board(2), 0, 0x2), kFpgaE2);
  EXPECT_EQ(FpgasForOutputs(Board(2, false, false, true), 3, 0x2), kFpgaE2);
  EXPECT_EQ(FpgasForOutputs(Board(2, false, false, true), 0, 0x2), kFpgaE0);
  EXPECT_EQ(FpgasForOutputs(Board(4, false, false, true), 3, 0x2), kFpgaE0);
  EXPECT_EQ(FpgasForOutputs(Board(4, false, false, true), 2, 0x2), kFpgaE2);
  EXPECT_EQ(FpgasForOutputs(Board(2), 0, 0x4000 | 0x8000), 0u);
  EXPECT_EQ(FpgasForOutputs(Board(2), 0, 0x2 | 0x10), kFpgaE0 | kFpgaE2);
  EXPECT_EQ(FpgasForOutputs(Board(13, true), 3, 0x2), kFpgaE0 | kFpgaE2);
}

}  // namespace
