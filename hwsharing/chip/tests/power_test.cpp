// Power management on the simulated board: the display power levels in the
// DAC words, blanking, and the ACPI off/on cycle.
#include <gtest/gtest.h>

#include <vector>

#include "core/chip_ids.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/power.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

MODEINFO Xga(uint32_t controller, uint32_t outputs) { return hwtest::XgaOn(controller, outputs); }

class Power : public hwtest::ModeChipTest {
 protected:
  explicit Power(uint16_t device = kDeviceKestrion2) : ModeChipTest(device) {}
};

constexpr uint32_t kDac1Level = (1u << 10) | (1u << 12) | (1u << 15);
constexpr uint32_t kDac2Level = (1u << 10) | (1u << 12) | (1u << 16);

TEST_F(Power, DisplayPowerLevelsInTheDacWords) {
  // Standby stops horizontal sync, suspend vertical, off both; each blanks.
  struct Row {
    uint32_t level, dac1, dac2;
  } rows[] = {
      {1, (1u << 10) | (1u << 15), (1u << 10) | (1u << 16)},
      {4, (1u << 12) | (1u << 15), (1u << 12) | (1u << 16)},
      {8, kDac1Level, kDac2Level},
      {0, 0, 0},
  };
  h->aModeInfo[0] = Xga(0, kOutAnalog0 | kOutAnalog1);
  Set(kRegRegime, kRegimeHires);
  Set(kRegDacCtl1, 0x1AC);
  Set(kRegDacCtl2, 0x5F);
  for (const Row& r : rows) {
    ASSERT_EQ(HSLKSTSetPowerState(h, 0x20000000 | r.level), 0u) << r.level;
    EXPECT_EQ(Reg(kRegDacCtl1) & kDac1Level, r.dac1) << r.level;
    EXPECT_EQ(Reg(kRegDacCtl2) & kDac2Level, r.dac2) << r.level;
    EXPECT_EQ(Reg(kRegDacCtl1) & 0x1FF, 0x1ACu) << "other bits kept";
  }
  EXPECT_TRUE(display.Outputs().Dac(0).on);
  EXPECT_TRUE(display.Outputs().Dac(1).on) << "the second DAC wakes up too";
  // Class 0x10 is controller 1's: controller 0's DACs stay.
  ASSERT_EQ(HSLKSTSetPowerState(h, 0x10000008), 0u);
  EXPECT_EQ(Reg(kRegDacCtl1) & kDac1Level, 0u) << "controller 1 is off";
}

TEST_F(Power, StandbyInTheVgaRegime) {
  h->aModeInfo[0] = Xga(0, kOutAnalog0);
  Set(kRegRegime, kRegimeVga);
  Set(kRegDacCtl1, 0x1FF);
  ASSERT_EQ(HSLKSTSetPowerState(h, 0x20000001), 0u);
  EXPECT_EQ(Vga().Seq(1) & 0x20, 0x20) << "screen off";
  EXPECT_EQ(Reg(kRegDacCtl1), 0x8400u) << "the level bits alone";
  ASSERT_EQ(HSLKSTSetPowerState(h, 0x20000000), 0u);
  EXPECT_EQ(Vga().Seq(1) & 0x20, 0);
}

TEST_F(Power, BlankAndUnblankTheFirstTwoControllers) {
  h->aModeInfo[0] = Xga(0, kOutAnalog0);
  h->aModeInfo[1] = Xga(1, kOutAnalog1);
  Set(kRegDacCtl1, 0);
  Set(kRegDacCtl2, (1u << 14));
  ASSERT_EQ(HSLKSTSetPowerState(h, 0x30000003), 0u);
  EXPECT_TRUE(display.Outputs().Dac(0).blanked);
  EXPECT_TRUE(display.Outputs().Dac(1).blanked);
  ASSERT_EQ(HSLKSTSetPowerState(h, 0x40000002), 0u);
  EXPECT_TRUE(display.Outputs().Dac(0).blanked) << "only controller 1 unblanked";
  EXPECT_FALSE(display.Outputs().Dac(1).blanked);
  // APM and unknown classes do nothing.
  Board().ClearLog();
  EXPECT_EQ(HSLKSTSetPowerState(h, 0x50000000), 0u);
  EXPECT_EQ(HSLKSTSetPowerState(h, 0x60000001), 0u);
  EXPECT_EQ(HSLKSTSetPowerState(h, 0x80000004), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

class PowerLater : public Power {
 protected:
  PowerLater() : Power(kDeviceKestrionNext3) {}
};

void AcpiCycle(Power& t, BOARDHANDLE* h, hwtest::HwBoard& hw, bool keepsPixelClocks) {
  MODEINFO m = Xga(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &m), 0u);
  ASSERT_TRUE(hw.Reg(kRegControllerCtl) & kControllerEnable);
  hw.board().Poke(0xE20, 4, 0x1234);
  hw.board().Poke(0xE2C, 4, 0x80000000);
  hw.board().Poke(0x360, 4, 0x360360);
  hw.board().Poke(0x364, 4, 0x364364);
  ASSERT_EQ(HSLKSTSetPowerState(h, kPowerAcpiOff), 0u);
  EXPECT_EQ(h->ulSavedE20, 0x1234u);
  EXPECT_EQ(h->ulSavedE2C, 0x80000000u);
  EXPECT_EQ(h->ulSaved360, keepsPixelClocks ? 0x360360u : 0u);
  for (uint32_t c = 0; c < 4; ++c) {
    EXPECT_EQ(hw.Reg(kRegControllerCtl + kControllerStride * c) & kControllerEnable, 0u) << c;
    EXPECT_TRUE(RecordOff(h->aModeInfo[c])) << c;
  }
  EXPECT_EQ(h->ulBoardFlags & kBoardFlagHwInitialised, 0u) << "the next set starts cold";
  hw.board().ClearLog();
  ASSERT_EQ(HSLKSTSetPowerState(h, kPowerAcpiOn), 0u);
  EXPECT_EQ(hw.WritesTo(0xE20), (std::vector<uint32_t>{0x80001234, 0x1234})) << "the bit-31 pulse";
  EXPECT_TRUE(hw.WritesTo(0xE2C).empty()) << "a saved bare pulse bit is not written";
  EXPECT_EQ(hw.WritesTo(0x360).size(), keepsPixelClocks ? 1u : 0u);
  (void)t;
}

TEST_F(Power, AcpiOffSavesTheClocksAndTurnsEveryControllerOff) { AcpiCycle(*this, h, hw, false); }
TEST_F(PowerLater, AcpiOffKeepsThePixelClocksOfTheLaterChips) { AcpiCycle(*this, h, hw, true); }

}  // namespace
