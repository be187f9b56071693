// The Chrontel encoders on the simulated board's port 1: which encoders
// serve an output word, the register sequences of each encoder mode, PLL
// lock supervision, sensing and power-down, as they reach the encoder.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/regs/chrontel.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using Writes = hwtest::RegWrites;

using hwtest::WritesOf;
Writes Only(const Writes& all, std::initializer_list<int> regs) {
  Writes out;
  for (const auto& w : all)
    if (std::find(regs.begin(), regs.end(), w.first) != regs.end()) out.push_back(w);
  return out;
}

class ChrontelEncoder : public hwtest::ChipTest {
 protected:
  ChrontelEncoder() {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    h->ulBoardFlags = 0;
  }
  orvsim::EncoderChip& Encoder(uint32_t index, uint8_t id, uint8_t address = 0xEC) {
    h->aChrontel[index] = I2CDEVICE{1, 1, address, id};
    return OnPort1<orvsim::EncoderChip>(address, id);
  }
};

// ---- Encoders per output word ------------------------------------------------------------

TEST_F(ChrontelEncoder, EncoderListsAreIncreasingAndWithoutRepeats) {
  struct Board {
    uint32_t multi, type, variant, module;
  } boards[] = {{0, 0, 0, 0}, {1, 2, 0, 0}, {1, 2, 0, 37}, {1, 10, 0, 37},
                {1, 13, 0, 0}, {1, 14, 0, 37}, {1, 19, 37, 0}};
  for (const Board& b : boards) {
    h->oCem.ulPresent = b.multi;
    h->oCem.ulBoardType = b.type;
    h->oCem.usModuleCode = static_cast<uint16_t>(b.variant);
    h->oPins.aucData[421] = static_cast<uint8_t>(b.module);
    for (uint32_t word : {0u, 0x2u, 0x6u, 0x4000070u, 0xFFFFFFFFu, 0xE9000176u}) {
      uint32_t list[4] = {9, 9, 9, 9}, count = 7;
      ASSERT_EQ(HSLCHRDetectChrIDs(h, word, list, &count), 0u);
      ASSERT_LE(count, 4u);
      for (uint32_t i = 1; i < count; ++i) EXPECT_LT(list[i - 1], list[i]) << "type " << b.type;
      if (word == 0) {
        EXPECT_EQ(count, 0u) << "type " << b.type;
      }
    }
  }
  // A quad board with module code 37: output 2's analog bit is served by
  // encoders 2 and 0, listed 0 first.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  h->oCem.usModuleCode = 0;
  h->oPins.aucData[421] = 37;
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, 0x2, list, &count);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(list[0], 0u);
  EXPECT_EQ(list[1], 2u);
}

// ---- Digital mode ----------------------------------------------------------------------------

// The DVI parameter rows of the encoder's documentation.
const std::vector<int> kDvi = {0x00, 0x2D, 0x07, 0x26, 0x30, 0xE0, 0x00};
const std::vector<int> kVerB[3] = {{0x00, 0x23, 0x08, 0x16, 0x30, 0x10, 0x00},
                                   {0x00, 0x23, 0x08, 0x16, 0x30, 0x60, 0x00},
                                   {0x00, 0x2D, 0x06, 0x26, 0x30, 0xA0, 0x00}};
const std::vector<int> kVerC[2] = {{0x00, 0x23, 0x08, 0x16, 0x30, 0x60, 0x00},
                                   {0x00, 0x2D, 0x06, 0x26, 0x70, 0xA0, 0x00}};

TEST_F(ChrontelEncoder, DigitalModeParameterRowsByIdAndClock) {
  struct Case {
    uint8_t id;
    uint32_t clock;
    std::vector<int> row;
    bool reg70;
  } cases[] = {
      {133, 31999, kVerB[0], false}, {133, 32000, kVerB[1], false},
      {133, 64999, kVerB[1], false}, {133, 65000, kVerB[2], false},
      {149, 64999, kVerC[0], true},  {149, 65000, kVerC[1], true},
      {128, 31999, kVerC[0], true},  {128, 65000, kVerC[1], true},
      {0x81, 31999, kDvi, false},    {0x81, 65000, kDvi, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << int(c.id) << " at " << c.clock);
    orvsim::EncoderChip& chip = Encoder(0, c.id);
    chip.ScriptPllLock({true});
    h->status = 0;
    ASSERT_EQ(HSLCHREnableDigitalMode(h, 0, c.clock, c.id), 0u);
    const Writes w = WritesOf(chip);
    Writes row;
    for (size_t i = 0; i < 7; ++i) row.emplace_back(0x31 + int(i), c.row[i]);
    EXPECT_EQ(Only(w, {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}), row);
    const Writes reg70 = c.reg70 ? Writes{{0x70, 0xA0}} : Writes{};
    EXPECT_EQ(Only(w, {0x70}), reg70);
    const Writes reg23 = c.id != 0x81 ? Writes{{0x23, 0x04}} : Writes{};
    EXPECT_EQ(Only(w, {0x23}), reg23);
    EXPECT_EQ(w.front(), std::make_pair(0x49, 0xDE));
    Port1().Detach(&chip);
  }
  // Board-description word 136, bit 15: register 0x23 gets 0x06.
  h->oPins.aucData[137] = 0x80;
  orvsim::EncoderChip& chip = Encoder(0, 133);
  HSLCHREnableDigitalMode(h, 0, 50000, 133);
  EXPECT_EQ(Only(WritesOf(chip), {0x23}), (Writes{{0x23, 0x06}}));
}

// Enable in mode 1 on id 133 at 65,000 kHz, the whole sequence.
TEST_F(ChrontelEncoder, EnableDigitalGoldenSequence) {
  orvsim::EncoderChip& chip = Encoder(0, 133);
  chip.SetRegister(0x1E, 0xA5);
  chip.ScriptPllLock({true});
  MODEINFO r = hwtest::Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
  ASSERT_EQ(HSLCHREnable(h, 0, kChrModeDigital, &r), 0u);
  const Writes expected = {
      {0x48, 0x08}, {0x48, 0x18}, {0x48, 0x10},  // reset, alternate order
      {0x49, 0x1E}, {0x1E, 0xA5},                // GPIO nibble back
      {0x1C, 0x04}, {0x1F, 0x80},
      {0x49, 0xDE}, {0x23, 0x04},
      {0x31, 0x00}, {0x32, 0x2D}, {0x33, 0x06}, {0x34, 0x26}, {0x35, 0x30}, {0x36, 0xA0},
      {0x37, 0x00},
      {0x48, 0x18},
      {0x23, 0x04}, {0x35, 0x70},                // lock supervision on
  };
  EXPECT_EQ(WritesOf(chip), expected);
  EXPECT_EQ(chip.PllLockReads(), 3u + 20u);
}

TEST_F(ChrontelEncoder, SpreadSpectrumOnlyWhenEveryConditionHolds) {
  MODEINFO r = hwtest::Mode(1920, 1200, 32, 162001, 48, 32, 80, 3, 6, 26);
  struct Case {
    const char* name;
    uint16_t version;
    uint8_t byte452;
    uint32_t flags;
    bool spread;
  } cases[] = {
      {"all", 0x60C, 1, 0x80000000, true},
      {"old description", 0x60B, 1, 0x80000000, false},
      {"not allowed by the description", 0x60C, 0, 0x80000000, false},
      {"not allowed by the board", 0x60C, 1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvsim::EncoderChip& chip = Encoder(0, 149);
    chip.ScriptPllLock({true});
    chip.SetRegister(0x31, 0xFF);
    h->oPins.aucData[4] = static_cast<uint8_t>(c.version);
    h->oPins.aucData[5] = static_cast<uint8_t>(c.version >> 8);
    h->oPins.aucData[452] = c.byte452;
    h->ulBoardFlags = c.flags;
    h->status = 0;
    ASSERT_EQ(HSLCHREnable(h, 0, kChrModeDigital, &r), 0u);
    const Writes w = WritesOf(chip);
    EXPECT_EQ(!Only(w, {0x7D}).empty(), c.spread);
    if (c.spread) {
      // Above 162,000 kHz register 0x31 keeps bits 0xA0 and gets 0x50; it
      // held the digital row's 0x00.
      EXPECT_EQ(Only(w, {0x31}).back(), std::make_pair(0x31, 0x50));
      EXPECT_EQ(Only(w, {0x33}).back(), std::make_pair(0x33, 0x06 | 0x06));
    }
    Port1().Detach(&chip);
  }
}

// Without a record the enable still resets the data path and checks the
// lock, but has no clock for spread spectrum.
TEST_F(ChrontelEncoder, EnableWithoutARecordSkipsWhatNeedsOne) {
  orvsim::EncoderChip& chip = Encoder(0, 149);
  chip.ScriptPllLock({true});
  h->oPins.aucData[4] = 0x0C;
  h->oPins.aucData[5] = 0x06;
  h->oPins.aucData[452] = 1;
  h->ulBoardFlags = 0x80000000;
  ASSERT_EQ(HSLCHREnable(h, 0, kChrModeDigital, nullptr), 0u);
  EXPECT_EQ(WritesOf(chip), (Writes{{0x48, 0x18}, {0x23, 0x04}, {0x35, 0x40}}));
  ASSERT_EQ(HSLCHREnable(h, 0, kChrModeDtv, nullptr), 0u);
}

TEST_F(ChrontelEncoder, AnalogModeAndTheEmbeddedSyncPerGroup) {
  struct Case {
    uint32_t multi, type, flOutput;
    bool sync;
  } cases[] = {
      {0, 0, 0x4, true},         {0, 0, 0x1000000, false},  {1, 2, 0x8000000, true},
      {1, 2, 0x100, false},      {1, 10, 0x8000000, true},  {1, 13, 0x1000000, true},
      {1, 13, 0x4, false},       {1, 14, 0x4, true},        {1, 21, 0x8000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " word 0x" << std::hex << c.flOutput);
    h->oCem.ulPresent = c.multi;
    h->oCem.ulBoardType = c.type;
    h->oPins.aucData[421] = 37;
    orvsim::EncoderChip& chip = Encoder(1, 0x81);
    chip.SetRegister(0x1F, 0xFF);
    h->status = 0;
    ASSERT_EQ(HSLCHREnableAnalogMode(h, 1, c.flOutput), 0u);
    Writes expected = {{0x49, 0x10}, {0x21, 0x0B}, {0x22, 0x16}};
    if (c.sync) {
      expected.insert(expected.end(), {{0x1F, 0xFD}, {0x21, 0x0B}, {0x49, 0x10}});
    }
    EXPECT_EQ(WritesOf(chip), expected);
    Port1().Detach(&chip);
  }
  // Without module code 37 the switch does nothing.
  h->oPins.aucData[421] = 5;
  orvsim::EncoderChip& chip = Encoder(1, 0x81);
  HSLCHREnableClone3MonoEmbeddedSync(h, 1);
  HSLCHRDisableClone3MonoEmbeddedSync(h, 1);
  EXPECT_TRUE(chip.Transfers().empty());
}

TEST_F(ChrontelEncoder, DisableOnTheQuadEncodersInTvMode) {
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;  // a quad board: encoder 2 serves digital, TV and analog output 2
  for (uint32_t i = 0; i < 4; ++i) h->aChrontel[i] = I2CDEVICE{1, 1, 0xEA, 133};
  orvsim::EncoderChip& chip = OnPort1<orvsim::EncoderChip>(0xEA, 133);
  MODEINFO r{};
  r.flOutput = kOutTv2;
  ASSERT_EQ(HSLCHRDisable(h, 2, &r), 0u);
  EXPECT_EQ(WritesOf(chip), (Writes{{0x49, 0x01}}));
  // Any other mode, or any other id: the encoder is reset.
  chip.ClearTransfers();
  r.flOutput = kOutAnalog2;
  HSLCHRDisable(h, 2, &r);
  EXPECT_EQ(Only(WritesOf(chip), {0x48}).size(), 3u);
  chip.ClearTransfers();
  r.flOutput = kOutTv2;
  h->aChrontel[3].ulData = 0x81;
  HSLCHRDisable(h, 2, &r);
  EXPECT_EQ(Only(WritesOf(chip), {0x48}).size(), 3u);
}

// ---- PLL lock supervision ----------------------------------------------------------------

// Writes of register 0x48 with the data-path bit clear, and of 0x49 with
// the PLL power bit clear, in order: the toggles.
struct Toggles {
  int dataPath = 0;
  int power = 0;
  int dataPathBeforePower = -1;
};
Toggles ToggleCount(const Writes& w) {
  Toggles t;
  for (const auto& [reg, value] : w) {
    if (reg == 0x48 && !(value & 0x08)) ++t.dataPath;
    if (reg == 0x49 && !(value & 0x40)) {
      if (t.power++ == 0) t.dataPathBeforePower = t.dataPath;
    }
  }
  return t;
}

class PllCheck : public ChrontelEncoder {
 protected:
  // Runs the check against a lock script; answers the reads of register
  // 0x4D and the toggles written.
  Toggles Run(std::vector<bool> script, unsigned* reads) {
    orvsim::EncoderChip& chip = Encoder(0, 133);
    chip.ScriptPllLock(std::move(script));
    EXPECT_EQ(HSLCHRPllCheck(h, 0, 133), 0u);
    *reads = chip.PllLockReads();
    return ToggleCount(WritesOf(chip));
  }
};

TEST_F(PllCheck, LockedAtOnce) {
  unsigned reads = 0;
  const Toggles t = Run({true}, &reads);
  EXPECT_EQ(reads, 3u + 20u);
  EXPECT_EQ(t.dataPath, 0);
  EXPECT_EQ(t.power, 0);
}

// Eight first-lock polls of 150 reads: four data-path resets, the PLL power
// toggle with a fifth, four more resets, then the check gives up.
TEST_F(PllCheck, NeverLocks) {
  unsigned reads = 0;
  const Toggles t = Run({false}, &reads);
  EXPECT_EQ(reads, 8u * 150u);
  EXPECT_EQ(t.dataPath, 9);
  EXPECT_EQ(t.power, 1);
  EXPECT_EQ(t.dataPathBeforePower, 4) << "the power toggle follows the 4th reset";
}

TEST_F(PllCheck, LockLostInTheHoldResetsTheDataPath) {
  std::vector<bool> script(3 + 5, true);
  script.push_back(false);  // the sixth read of the hold loses the lock ...
  script.push_back(true);   // ... which comes back for good
  unsigned reads = 0;
  const Toggles t = Run(script, &reads);
  EXPECT_EQ(reads, 3u + 6u + 3u + 20u);
  EXPECT_EQ(t.dataPath, 1);
  EXPECT_EQ(t.power, 0);
}

TEST_F(PllCheck, OtherIdsAreNotSupervised) {
  orvsim::EncoderChip& chip = Encoder(0, 140);
  ASSERT_EQ(HSLCHRPllCheck(h, 0, 140), 0u);
  EXPECT_TRUE(chip.Transfers().empty());
}

// ---- Sensing ----------------------------------------------------------------------------

TEST_F(ChrontelEncoder, TvSignalTypeFromTheSenseBits) {
  struct Case {
    uint8_t bits;
    uint32_t type;
  } cases[] = {{0x10, 3}, {0x02, 3}, {0x0E, 1}, {0x0C, 2}, {0x00, 0}, {0x1E, 0}, {0x04, 0}};
  orvsim::EncoderChip& chip = Encoder(0, 0x81);
  chip.SetRegister(0x49, 0x5A);
  for (const Case& c : cases) {
    chip.SetSenseResult(c.bits);
    uint32_t type = 99;
    ASSERT_EQ(HSLCHRDetectTVSignalType(h, 0, &type), 0u);
    EXPECT_EQ(type, c.type) << "bits 0x" << std::hex << int(c.bits);
    EXPECT_EQ(chip.Register(0x49), 0x5A) << "power register restored";
  }
}

TEST_F(ChrontelEncoder, LoadBitsFromTheSenseRegister) {
  struct Case {
    uint8_t bits;
    uint32_t load;
  } cases[] = {{0x02, 0x8000}, {0x04, 0x4000}, {0x08, 0x2000}, {0x10, 0x10000},
               {0x1E, 0x1E000}, {0x00, 0}};
  orvsim::EncoderChip& chip = Encoder(3, 0x81, 0xEA);
  chip.SetRegister(0x49, 0x44);
  chip.SetRegister(0x21, 0x0B);
  for (const Case& c : cases) {
    chip.SetSenseResult(c.bits);
    chip.ClearTransfers();
    uint32_t load = 99;
    ASSERT_EQ(HSLCHRDetectLoad(h, 3, &load), 0u);
    EXPECT_EQ(load, c.load) << "bits 0x" << std::hex << int(c.bits);
    EXPECT_EQ(chip.Register(0x49), 0x44);
    EXPECT_EQ(chip.Register(0x21), 0x0B);
    EXPECT_EQ(Only(WritesOf(chip), {0x21}).front(), std::make_pair(0x21, 0x0A));
  }
}

TEST_F(ChrontelEncoder, GpioLines) {
  orvsim::EncoderChip& chip = Encoder(1, 0x81);
  chip.SetRegister(0x49, 0x01);  // powered down: opening powers the GPIO up
  uint32_t level = 1;
  ASSERT_EQ(HSLCHRAccessGPIO(h, 1, 1, 1, &level), 0u);
  EXPECT_EQ(chip.Register(0x49), 0x1E);
  EXPECT_EQ(chip.GpioHistory(1), std::vector<bool>{true});
  level = 0;
  HSLCHRAccessGPIO(h, 1, 1, 1, &level);
  EXPECT_EQ(chip.GpioHistory(1), (std::vector<bool>{true, false}));
  // A sync buffer is present when line 1 reads low.
  chip.SetGpioInput(1, false);
  uint32_t present = 0;
  ASSERT_EQ(HSLCHRDetectSyncBuffer(h, 1, &present), 0u);
  EXPECT_EQ(present, 1u);
  chip.SetGpioInput(1, true);
  HSLCHRDetectSyncBuffer(h, 1, &present);
  EXPECT_EQ(present, 0u);
  uint32_t direction = 7, data = 7;
  EXPECT_EQ(HSLCHRGetGPIOMasks(h, 2, &direction, &data), kErrChrGpioLine);
  EXPECT_EQ(direction | data, 0u);
}

TEST_F(ChrontelEncoder, FailedStatusTouchesNoEncoder) {
  orvsim::EncoderChip& chip = Encoder(0, 133);
  MODEINFO r = hwtest::Mode(640, 480, 32, 25175, 16, 96, 48, 10, 2, 33);
  h->status = 0xb1d05120;
  EXPECT_EQ(HSLCHREnable(h, 0, kChrModeDigital, &r), 0xb1d05120u);
  EXPECT_EQ(HSLCHRDisable(h, 0, &r), 0xb1d05120u);
  EXPECT_EQ(HSLCHRPllCheck(h, 0, 133), 0xb1d05120u);
  EXPECT_TRUE(chip.Transfers().empty());
}

}  // namespace
