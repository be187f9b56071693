// The display side of the simulated chip: raster, VGA register file,
// colour tables and the configuration-space reset.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/board/chip_display.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

class DisplayTest : public ::testing::Test {
 protected:
  DisplayTest() { board.SetLogging(false, false); }

  uint32_t Line(unsigned module) { return board.RegRead(kChipRegLineCounter + 0x200 * module, 4) & 0xFFF; }
  void Crtc(uint8_t index, uint8_t value) {
    board.RegWrite(kVgaCrtcIndex, 1, index);
    board.RegWrite(kVgaCrtcData, 1, value);
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  ChipDisplay chip{board};
};

// ---- Raster ------------------------------------------------------------------

TEST_F(DisplayTest, LineCounterFollowsVirtualTimeAndWrapsAtTheVerticalTotal) {
  sim.GetClock().SetReadCost(0);
  chip.Raster().SetLineTimeNs(0, 10000);
  const uint32_t start = Line(0);
  sim.GetClock().Advance(10000 * 7);
  EXPECT_EQ(Line(0), (start + 7) % 525);
  // A whole frame later the counter shows the same line; it never reaches 525.
  sim.GetClock().Advance(10000 * 525);
  EXPECT_EQ(Line(0), (start + 7) % 525);
  uint32_t highest = 0;
  for (int i = 0; i < 600; ++i) {
    sim.GetClock().Advance(10000);
    highest = std::max(highest, Line(0));
  }
  EXPECT_EQ(highest, 524u);
}

TEST_F(DisplayTest, GatedClockOrFrozenCounterHoldsTheLine) {
  board.RegWrite(kChipRegControl + 0x200, 4, 1);  // controller 1 drives module 1
  sim.GetClock().Advance(31778 * 100);
  board.RegWrite(kChipRegModuleClock1, 4, kChipModuleClockGate);
  const uint32_t held = Line(1);
  sim.GetClock().Advance(31778 * 50);
  EXPECT_EQ(Line(1), held);
  EXPECT_NE(Line(0), held) << "module 0 runs on";
  board.RegWrite(kChipRegModuleClock1, 4, 0);
  sim.GetClock().Advance(31778 * 3 + 10);
  EXPECT_EQ(Line(1), held + 3);

  chip.Raster().Freeze(0, true);
  const uint32_t frozen = Line(0);
  sim.GetClock().Advance(31778 * 200);
  EXPECT_EQ(Line(0), frozen);
}

TEST_F(DisplayTest, FieldBitOfControllersTwoAndThreeChangesEveryFrame) {
  sim.GetClock().SetReadCost(0);
  board.RegWrite(kChipRegFieldControl + 0x200, 4, 0x2701);
  board.RegWrite(kChipRegControl + 0x200, 4, 1);  // controller 1 drives module 1
  chip.Raster().Freeze(0, true);  // controller 2 holds its field
  for (unsigned m : {0u, 1u}) chip.Raster().SetLineTimeNs(m, 1000);
  const uint32_t reg2 = kChipRegFieldControl, reg3 = kChipRegFieldControl + 0x200;
  const uint32_t field2 = board.RegRead(reg2, 4) & kChipFieldToggle;
  std::vector<uint32_t> seen;
  for (int frame = 0; frame < 4; ++frame) {
    seen.push_back(board.RegRead(reg3, 4));
    sim.GetClock().Advance(1000 * 525);
  }
  EXPECT_EQ(seen[0] & ~kChipFieldToggle, 0x2701u) << "the other bits are stored";
  for (int i = 1; i < 4; ++i) EXPECT_NE(seen[i] & kChipFieldToggle, seen[i - 1] & kChipFieldToggle) << i;
  EXPECT_EQ(board.RegRead(reg2, 4) & kChipFieldToggle, field2);
  EXPECT_EQ(board.RegRead(reg3 + 2, 1), (seen[0] >> 16) & 0xFF) << "a byte read sees it, four frames on";
}

TEST_F(DisplayTest, InputStatusShowsModule0SyncAndBlank) {
  sim.GetClock().SetReadCost(0);
  struct Row {
    uint32_t line;
    uint8_t status;
  } rows[] = {{0, 0}, {479, 0}, {480, 0x01}, {489, 0x01}, {490, 0x09}, {491, 0x09}, {492, 0x01}, {524, 0x01}};
  for (const Row& r : rows) {
    sim.GetClock().Advance((r.line + 525 - Line(0)) % 525 * 31778);
    ASSERT_EQ(Line(0), r.line);
    EXPECT_EQ(board.RegRead(kVgaInputStatus1, 1), r.status) << "line " << r.line;
  }
}

// ---- VGA register file -----------------------------------------------------------

TEST_F(DisplayTest, ProtectionBitGuardsCrtc0To7ButLineCompareBit) {
  Crtc(0x11, 0x80);
  Crtc(0x00, 0x5F);
  Crtc(0x07, 0xFF);
  Crtc(0x08, 0x12);
  EXPECT_EQ(chip.Vga().Crtc(0x00), 0);
  EXPECT_EQ(chip.Vga().Crtc(0x07), 0x10) << "bit 4 of the overflow stays writable";
  EXPECT_EQ(chip.Vga().Crtc(0x08), 0x12);
  Crtc(0x11, 0x0E);
  board.RegWrite(kVgaCrtcIndex, 2, 0x5F00);  // index and data in one word write
  EXPECT_EQ(chip.Vga().Crtc(0x00), 0x5F);
  board.RegWrite(kVgaCrtcIndex, 1, 0);
  EXPECT_EQ(board.RegRead(kVgaCrtcData, 1), 0x5Fu);
  ASSERT_GE(chip.Vga().Writes().size(), 2u);
  EXPECT_TRUE(chip.Vga().Writes()[1].dropped);
}

TEST_F(DisplayTest, AttributeFlipFlopAlternatesAndInputStatusResetsIt) {
  board.RegWrite(kVgaAttribute, 1, 0x03);
  board.RegWrite(kVgaAttribute, 1, 0x3F);
  EXPECT_EQ(chip.Vga().Attr(3), 0x3F);
  board.RegWrite(kVgaAttribute, 1, 0x05);  // index
  board.RegRead(kVgaInputStatus1, 1);      // back to index
  board.RegWrite(kVgaAttribute, 1, 0x34);  // index 0x14 with video enabled
  board.RegWrite(kVgaAttribute, 1, 0x07);
  EXPECT_EQ(chip.Vga().Attr(0x14), 0x07);
  EXPECT_EQ(chip.Vga().Attr(5), 0);
  EXPECT_EQ(board.RegRead(kVgaAttribute, 1), 0x34u);
  EXPECT_EQ(board.RegRead(kVgaAttributeRead, 1), 0x07u);
}

TEST_F(DisplayTest, PaletteStepsThroughEntriesBothWays) {
  board.RegWrite(kVgaPaletteWriteIndex, 1, 254);
  for (uint8_t v : {1, 2, 3, 4, 5, 6, 7, 8, 9}) board.RegWrite(kVgaPaletteData, 1, v * 20);
  EXPECT_EQ(chip.Vga().Palette(254), (std::array<uint8_t, 3>{20, 40, 60}));
  EXPECT_EQ(chip.Vga().Palette(255), (std::array<uint8_t, 3>{80, 100, 120}));
  EXPECT_EQ(chip.Vga().Palette(0), (std::array<uint8_t, 3>{140, 160, 180})) << "wraps after 255";
  board.RegWrite(kVgaPaletteReadIndex, 1, 255);
  for (uint8_t v : {4, 5, 6, 7, 8, 9}) EXPECT_EQ(board.RegRead(kVgaPaletteData, 1), v * 20u);
}

// ---- Colour tables ------------------------------------------------------------------

TEST_F(DisplayTest, TablesKeepTheirBitsAndCommitOnTheMarkedBlueWrite) {
  board.RegWrite(0x1838, 4, 10);
  board.RegWrite(0x183C, 4, 0x1FFFF);
  board.RegWrite(0x1840, 4, 0x0ABCD);
  board.RegWrite(0x1844, 4, 0x1234);  // latched only
  EXPECT_EQ(chip.Lut().EntriesStored(), 0u);
  board.RegWrite(0x1844, 4, 0x8007FFFF);
  EXPECT_EQ(chip.Lut().At(0, 10), (LutEntry{0x1FFC0, 0xABC0, 0x7FFC0}));
  board.RegWrite(0x1844, 4, 0x80000000);
  EXPECT_EQ(chip.Lut().At(0, 11).blue, 0u) << "the index stepped on";
  // Controller 3: second table of module 1, eight bits kept.
  board.RegWrite(0x1BB8, 4, 0);
  board.RegWrite(0x1BBC, 4, 0x7FFFF);
  board.RegWrite(0x1BC0, 4, 0x12FF);
  board.RegWrite(0x1BC4, 4, 0x8000FFFF);
  EXPECT_EQ(chip.Lut().At(3, 0), (LutEntry{0xFF00, 0x1200, 0xFF00}));
  EXPECT_EQ(chip.Lut().At(1, 0), (LutEntry{}));
}

// ---- Reset ----------------------------------------------------------------------------

TEST_F(DisplayTest, ResetPulseBringsRegistersAndConfigurationBack) {
  board.Pci().Poke(kPciBusInterfaceStatus, 4, 0x12);
  board.RegWrite(0xE20, 4, 0x1234);
  board.RegWrite(0x1C08, 4, kRegimeHires);
  Crtc(0x13, 0x50);
  const uint32_t bar = board.Pci().ConfigRead(0x10, 4);
  board.Pci().ConfigWrite(kPciBusInterfaceControl, 4, 0xAB);
  board.Pci().ConfigWrite(0x40, 4, 0x3);

  board.Pci().ConfigWrite(kPciChipReset, 1, 3);
  EXPECT_EQ(chip.Reset().Pulses(), 1u);
  board.Pci().ConfigWrite(kPciChipReset, 1, 3);  // still held: no second pulse
  board.Pci().ConfigWrite(kPciChipReset, 1, 0);
  EXPECT_EQ(chip.Reset().Pulses(), 1u);
  EXPECT_EQ(board.Peek(0xE20, 4), 0u);
  EXPECT_EQ(board.Peek(0x1C08, 4), kRegimeVga) << "power-on is the cold chip";
  EXPECT_EQ(chip.Vga().Crtc(0x13), 0);
  EXPECT_NE(bar & ~0xFu, 0u);
  EXPECT_EQ(board.Pci().ConfigRead(0x10, 4) & ~0xFu, 0u);
  EXPECT_EQ(board.Pci().ConfigRead(0x04, 2) & 3u, 0u) << "decoding off";
  EXPECT_EQ(board.Pci().ConfigRead(kPciBusInterfaceControl, 4), 0u);
  EXPECT_EQ(board.Pci().ConfigRead(0x40, 4), 0u);
  EXPECT_EQ(board.Pci().ConfigRead(kPciBusInterfaceStatus, 4), 0x12u) << "read-only";
  EXPECT_EQ(board.Pci().ConfigRead(0x00, 2), kKestrionVendorId);
}

}  // namespace
}  // namespace orvsim
