// The integrated DAC of the 16 KiB board: indexed registers, palette, PLL
// lock, load sense, DDC lines and the retrace status.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/board/chip_dac.h"
#include "platform/board/chip_raster.h"
#include "platform/board/i2c.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

BoardConfig DacBoard() {
  BoardConfig config;
  config.register_window_size = kDacMinimumWindow;
  return config;
}

class DacTest : public ::testing::Test {
 protected:
  uint8_t Get(uint8_t index) {
    board.RegWrite(kDacIndex, 1, index);
    return static_cast<uint8_t>(board.RegRead(kDacData, 1));
  }
  void Set(uint8_t index, uint8_t value) {
    board.RegWrite(kDacIndex, 1, index);
    board.RegWrite(kDacData, 1, value);
  }
  void Pll(uint8_t base, uint8_t m, uint8_t n, uint8_t p) {
    Set(base, m);
    Set(base + 1, n);
    Set(base + 2, p);
  }

  Simulation sim;
  Board& board = sim.AddBoard(DacBoard());
  ChipRaster raster{board};
  ChipDac dac{board, &raster};
};

TEST(DacWindow, NeedsTheLargerWindow) {
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  EXPECT_THROW(ChipDac{board}, std::invalid_argument);
}

TEST_F(DacTest, PllLocksOnLegalDividersOnly) {
  struct Row {
    const char* name;
    uint8_t m, n, p;
    bool locked;
    uint32_t khz;
  } rows[] = {
      {"25,175 kHz", 6, 45, 7, true, 27000 * 46 / (7 * 8)},  // VCO 177,428
      {"M of 0", 0, 45, 7, false, 27000 * 46 / 8},
      {"M of 7", 7, 45, 7, false, 27000 * 46 / (8 * 8)},
      {"N of 6", 2, 6, 0, false, 27000 * 7 / 3},
      {"P of 2", 2, 45, 2, false, 27000 * 46 / 9},
      {"VCO past 220,000", 1, 30, 0, false, 27000 * 31 / 2},
      {"VCO below 50,000", 6, 7, 0, false, 27000 * 8 / 7},
  };
  for (const Row& r : rows) {
    Pll(kDacPixelM, r.m, r.n, r.p);
    Pll(kDacSystemM, r.m, r.n, r.p | 0x18);  // S bits do not matter
    EXPECT_EQ((Get(0x4F) & kDacPllLocked) != 0, r.locked) << r.name;
    EXPECT_EQ((Get(0x2F) & kDacPllLocked) != 0, r.locked) << r.name;
    EXPECT_EQ(dac.OutputKHz(DacPll::kPixel), r.khz) << r.name;
  }
}

TEST_F(DacTest, LockModesNeverAndAfterReset) {
  Pll(kDacPixelM, 6, 45, 7);
  dac.SetLockMode(DacPll::kPixel, DacLockMode::kAfterReset);
  EXPECT_FALSE(Get(0x4F) & kDacPllLocked);
  Set(kDacPixelClockControl, 0x01);  // reset held
  EXPECT_FALSE(Get(0x4F) & kDacPllLocked);
  Set(kDacPixelClockControl, 0x09);  // released
  EXPECT_TRUE(Get(0x4F) & kDacPllLocked);
  Set(kDacPixelM + 1, 46);  // new dividers need a new reset
  EXPECT_FALSE(Get(0x4F) & kDacPllLocked);
  dac.SetLockMode(DacPll::kSystem, DacLockMode::kNever);
  Pll(kDacSystemM, 6, 45, 7);
  EXPECT_FALSE(Get(0x2F) & kDacPllLocked);
  EXPECT_EQ(dac.UnlockedReads(DacPll::kSystem), 1u);
}

TEST_F(DacTest, LoadSenseComparatorsReadClearWithAMonitor) {
  EXPECT_EQ(Get(kDacLoadSense), 0u) << "nothing while sensing is off";
  Set(kDacLoadSense, 0x80);
  EXPECT_EQ(Get(kDacLoadSense), 0x87u);
  dac.SetMonitorLoad(true);
  EXPECT_EQ(Get(kDacLoadSense), 0x80u);
}

TEST_F(DacTest, PaletteAndIndexShareThePort) {
  board.RegWrite(kDacIndex, 1, 7);
  for (uint8_t v : {0x11, 0x22, 0x33, 0x44}) board.RegWrite(kDacPaletteData, 1, v);
  EXPECT_EQ(dac.Palette(7), (std::array<uint8_t, 3>{0x11, 0x22, 0x33}));
  EXPECT_EQ(dac.Palette(8)[0], 0x44);
}

TEST_F(DacTest, DdcLinesAreOpenDrainOnTheirBuses) {
  I2cBus& port1 = board.I2c(ChipDac::DdcBus(1));
  Set(kDacDdcData, 0x00);
  Set(kDacDdcEnable, 0x20);  // port 1 SCL driven low
  EXPECT_FALSE(port1.SclLevel());
  EXPECT_TRUE(port1.SdaLevel());
  EXPECT_EQ(Get(kDacDdcData) & 0x30, 0x10) << "data bits read the wires";
  Set(kDacDdcEnable, 0x00);
  EXPECT_TRUE(port1.SclLevel());
  port1.Sda().SetStuckLow(true);
  EXPECT_EQ(Get(kDacDdcData) & 0x30, 0x20);
  EXPECT_TRUE(board.I2c(ChipDac::DdcBus(0)).SclLevel());
}

TEST_F(DacTest, StatusRetraceBitFollowsModule0) {
  ChipRaster::PowerOnTiming(board, 0);
  board.RegWrite(kChipRegControl, 4, 1);  // controller 0 drives module 0
  sim.GetClock().SetReadCost(0);
  sim.GetClock().Advance(31778 * 490 + 100);
  EXPECT_EQ(board.RegRead(kChipRegStatus, 4) & 8u, 8u);
  sim.GetClock().Advance(31778 * 2);
  EXPECT_EQ(board.RegRead(kChipRegStatus, 4) & 8u, 0u);
}

// The TV encoder's registers behind 0x87/0x88, one of them dropping a bit.
TEST_F(DacTest, EncoderRegisterFileBehindItsIndexPair) {
  dac.DropCve2Bits(5, 0x01);
  Set(kDacCve2Index, 4);
  Set(kDacCve2Data, 0xA5);
  Set(kDacCve2Index, 5);
  Set(kDacCve2Data, 0x0F);
  EXPECT_EQ(Get(kDacCve2Data), 0x0E);
  Set(kDacCve2Index, 4);
  EXPECT_EQ(Get(kDacCve2Data), 0xA5);
  EXPECT_EQ(dac.Cve2(5), 0x0E);
  EXPECT_EQ(dac.Cve2Writes(), (std::vector<std::pair<uint8_t, uint8_t>>{{4, 0xA5}, {5, 0x0F}}));
}

// With 0x2A bit 6 clear, 0x2B bit 6 reads low only while a decoder holds it.
TEST_F(DacTest, DvdPresenceLine) {
  Set(kDacDdcEnable, 0x00);
  EXPECT_EQ(Get(kDacDdcData) & kDacDvdLine, kDacDvdLine);
  dac.SetDvdDecoder(true);
  EXPECT_EQ(Get(kDacDdcData) & kDacDvdLine, 0);
  Set(kDacDdcEnable, kDacDvdLine);
  Set(kDacDdcData, kDacDvdLine);
  EXPECT_EQ(Get(kDacDdcData) & kDacDvdLine, kDacDvdLine);
}

}  // namespace
}  // namespace orvsim
