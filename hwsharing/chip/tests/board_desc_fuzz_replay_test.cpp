// Replays the board description fuzzer's corpus and the inputs it once
// failed on, under the normal build.
#include <vector>

#include "platform/board/chip_rom_flash.h"
#include "platform/board/simulation.h"
#include "tests/support/fuzz_replay.h"

TEST(BoardDescFuzzReplay, CorpusReadsCleanly) { orvtest::ReplayCorpus("board_desc_fuzz"); }

// The target resets its flash chip between inputs instead of making it
// again: a reset chip is a fresh one, what it had shown and received gone.
TEST(BoardDescFuzzReplay, AResetFlashChipIsAFreshOne) {
  orvsim::Simulation sim;
  orvsim::BoardConfig config;
  config.rom_size = 64 * 1024;
  orvsim::Board& board = sim.AddBoard(config);
  orvsim::ChipRomFlash chip(board);
  const std::vector<uint8_t> image(300, 0x42);
  chip.SetFlash(orvsim::FlashKind::kSst, image);
  EXPECT_EQ(chip.FlashContents()[299], 0x42);
  // The pins' bits: bypass (0), clock (4), data out (8); chip select (12)
  // is low-active. Bypass on, the chip selected, a read command and an
  // address byte clocked in.
  constexpr uint32_t kBypass = 1u << 0, kClock = 1u << 4, kDataOut = 1u << 8;
  board.RegWrite(orvsim::kChipRegSpiPins, 4, kBypass);
  for (uint8_t byte : {0x03, 0x00}) {
    for (int bit = 7; bit >= 0; --bit) {
      const uint32_t data = (byte >> bit & 1) != 0 ? kDataOut : 0;
      board.RegWrite(orvsim::kChipRegSpiPins, 4, kBypass | data);
      board.RegWrite(orvsim::kChipRegSpiPins, 4, kBypass | data | kClock);
    }
  }
  EXPECT_FALSE(chip.Commands().empty());
  chip.Reset();
  EXPECT_TRUE(chip.Commands().empty());
  EXPECT_FALSE(chip.RomVisible());
  EXPECT_EQ(chip.FlashContents(), std::vector<uint8_t>(0x20000, 0xFF));
  // Shorter contents than before leave erased bytes behind them.
  chip.SetFlash(orvsim::FlashKind::kSst, image.data(), 10);
  EXPECT_EQ(chip.FlashContents()[9], 0x42);
  EXPECT_EQ(chip.FlashContents()[10], 0xFF);
}
