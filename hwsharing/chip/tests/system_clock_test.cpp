// The first generation's system-clock record read back from the chip and
// from the board description, and the digital output formats an output may
// carry, alone and in groups.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/digital_formats.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

// A synthesizer word of 720,000 kHz (N 40, M 8, D 3, P 4 from 27,000 kHz).
constexpr uint32_t kFs720MHz = 0x3CEE38;

uint32_t Word(uint32_t mhz, uint32_t type, uint32_t source) { return mhz | (type << 16) | (source << 24); }

class SystemClock : public hwtest::ChipTest {
 protected:
  SystemClock() { std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData)); }
};

TEST_F(SystemClock, ChipRecordFromTheSelectRegisterAndTheSynthesizers) {
  // System clock from FS 1 (code 2), graphics clock from FS 1 (code 3)
  // through the 2.5 divider (code 2); no third clock.
  Board().Poke(kRegFs0 + 4, 4, kFs720MHz);
  Board().Poke(kRegClockSelect0, 4, (2u << 1) | (2u << 5) | (3u << 8));
  SYSCLOCKINFO clock{};
  ASSERT_EQ(HSLKSTGetSystemCLock(h, &clock), 0u);
  EXPECT_EQ(clock.aulWord[0], Word(360, 0, 2)) << "half the synthesizer";
  EXPECT_EQ(clock.aulWord[1], Word(288, 37, 2));
  EXPECT_EQ(clock.aulWord[2], Word(0, 17, 0)) << "no synthesizer: 0 MHz";
  // Third clock from FS 3 (code 7) by 3, graphics clock on no synthesizer
  // (code 2, even) reads 0 and not the system clock's frequency.
  Board().Poke(kRegFs0 + 12, 4, kFs720MHz);
  Board().Poke(kRegClockSelect0, 4, (2u << 1) | (3u << 5) | (2u << 8) | (1u << 13) | (7u << 16));
  ASSERT_EQ(HSLKSTGetSystemCLock(h, &clock), 0u);
  EXPECT_EQ(clock.aulWord[1], Word(0, 18, 0));
  EXPECT_EQ(clock.aulWord[2], Word(240, 19, 4));
}

TEST_F(SystemClock, DescriptionRecordWithTheSystemDividers) {
  hwtest::PutPinsDword(h, 36, 400000);       // FS 0
  hwtest::PutPinsDword(h, 36 + 40, 250000);  // FS 2
  struct Case {
    uint32_t bits;
    uint32_t mhz, type;
  } cases[] = {{0, 400, 17}, {1u << 4, 200, 18}, {(1u << 4) | (1u << 28), 100, 20}, {1u << 28, 400, 17}};
  for (const Case& c : cases) {
    // System clock on FS 0 (code 1); graphics clock on FS 2 (code 5) by 2.
    hwtest::PutPinsDword(h, kPinsClockSelect, c.bits | (1u << 1) | (3u << 5) | (5u << 8));
    SYSCLOCKINFO clock{};
    ASSERT_EQ(HSLKSTGetPInSSystemCLock(h, &clock), 0u);
    EXPECT_EQ(clock.aulWord[0], Word(c.mhz, c.type, 1)) << std::hex << c.bits;
    EXPECT_EQ(clock.aulWord[1], Word(125, 18, 3));
    EXPECT_EQ(clock.aulWord[2], Word(0, 17, 0));
  }
  // Truncated, not rounded: 251,600 kHz by 2.5 is 100,640 kHz, 100 MHz.
  hwtest::PutPinsDword(h, 36 + 40, 251600);
  hwtest::PutPinsDword(h, kPinsClockSelect, (5u << 8) | (2u << 5));
  SYSCLOCKINFO clock{};
  HSLKSTGetPInSSystemCLock(h, &clock);
  EXPECT_EQ(clock.aulWord[1], Word(100, 37, 3));
  EXPECT_EQ(clock.aulWord[0], Word(0, 17, 0));
}

// ---- Setting the clocks ------------------------------------------------------------------------

// Over the built-in board description, with the clock blocks modelled.
class SetSystemClock : public hwtest::ModeChipTest {
 protected:
  // FS n starts at (n + 1) x 100,000 kHz with preset 0x11 x (n + 1).
  void Synthesizers() {
    for (uint32_t n = 0; n < 4; ++n) {
      hwtest::PutPinsDword(h, 36 + 20 * n, 100000 * (n + 1));
      hwtest::PutPinsDword(h, 40 + 20 * n, 0x11 * (n + 1));
    }
  }
  uint32_t FsKHz(uint32_t n) { return PinsDword(h, 36 + 20 * n); }
  uint32_t FsPreset(uint32_t n) { return PinsDword(h, 40 + 20 * n); }
  HALSTATUS Set(uint32_t system, uint32_t graphics, uint32_t third) {
    SYSCLOCKINFO clock{};
    clock.aulWord[0] = system;
    clock.aulWord[1] = graphics;
    clock.aulWord[2] = third;
    return HSLKSTSetSystemCLock(h, &clock);
  }
  // Controllers 0 and 1 running XGA on analog outputs 0 and 1.
  void TwoControllersOn() {
    MODEINFO m0 = hwtest::XgaOn(0, kOutAnalog0);
    MODEINFO m1 = hwtest::XgaOn(1, kOutAnalog1);
    ASSERT_EQ(HSLKSTSetMode(h, &m0), 0u);
    ASSERT_EQ(HSLKSTSetMode(h, &m1), 0u);
    ASSERT_FALSE(RecordOff(h->aModeInfo[0]));
    ASSERT_FALSE(RecordOff(h->aModeInfo[1]));
  }
  // The controller's on bit as written, one entry per change.
  std::vector<bool> OnBitChanges(uint32_t controller) {
    std::vector<bool> out;
    for (uint32_t v : hw.WritesTo(kRegControllerCtl + kControllerStride * controller))
      if (out.empty() || out.back() != ((v & 1) != 0)) out.push_back((v & 1) != 0);
    return out;
  }
};

// The description's select word and synthesizers after a set: a word of 0
// leaves its clock, a source of 0 keeps the clock's synthesizer, the type
// code picks the divider (another keeps it), and the synthesizer gets the
// frequency the divider needs with its preset cleared.
TEST_F(SetSystemClock, DescriptionWordAndSynthesizers) {
  struct Row {
    const char* name;
    uint32_t select;
    uint32_t words[3];
    uint32_t selectAfter;
    int fs;  // the synthesizer changed, -1 none
    uint32_t khz;
  } rows[] = {
      {"zero words leave everything", (2u << 1) | (3u << 8) | (1u << 13) | (5u << 16), {0, 0, 0},
       (2u << 1) | (3u << 8) | (1u << 13) | (5u << 16), -1, 0},
      {"system clock on its own synthesizer at twice the MHz", (2u << 1) | (1u << 4), {Word(150, 0, 0), 0, 0},
       (2u << 1) | (1u << 4), 1, 300000},
      {"graphics type 37 takes the 2.5 divider", 3u << 8, {0, Word(200, 37, 0), 0}, (3u << 8) | (2u << 5), 1,
       500000},
      {"graphics type 18: by 2", (5u << 8) | (1u << 5), {0, Word(100, 18, 0), 0}, (5u << 8) | (3u << 5), 2,
       200000},
      {"an unknown type keeps the divider", (5u << 8) | (1u << 5), {0, Word(100, 99, 0), 0},
       (5u << 8) | (1u << 5), 2, 300000},
      {"third clock type 17: undivided", (7u << 16) | (3u << 13), {0, 0, Word(90, 17, 0)}, 7u << 16, 3, 90000},
      {"graphics on no synthesizer changes none", 2u << 8, {0, Word(100, 17, 0), 0}, 2u << 8, -1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Synthesizers();
    hwtest::PutPinsDword(h, kPinsClockSelect, r.select);
    Board().ClearLog();
    ASSERT_EQ(Set(r.words[0], r.words[1], r.words[2]), 0u);
    EXPECT_EQ(PinsDword(h, kPinsClockSelect), r.selectAfter);
    for (uint32_t n = 0; n < 4; ++n) {
      const bool changed = static_cast<int>(n) == r.fs;
      EXPECT_EQ(FsKHz(n), changed ? r.khz : 100000 * (n + 1)) << n;
      EXPECT_EQ(FsPreset(n), changed ? 0 : 0x11 * (n + 1)) << n;
    }
    // The handle's record is read back from the chip after the bring-up.
    SYSCLOCKINFO chip{};
    HSLKSTGetSystemCLock(h, &chip);
    EXPECT_EQ(std::memcmp(&chip, &h->oSystemClock, sizeof(chip)), 0);
  }
}

// A new source: the synthesizer that now feeds the clock gets the
// frequency; controllers 0 and 1 are switched off and set again with their
// records as they were; 2 and 3 are left alone.
TEST_F(SetSystemClock, ASourceChangeSetsControllersZeroAndOneAgain) {
  TwoControllersOn();
  const MODEINFO before[4] = {h->aModeInfo[0], h->aModeInfo[1], h->aModeInfo[2], h->aModeInfo[3]};
  const uint32_t control2 = Reg(kRegControllerCtl + 0x1A8);
  const uint32_t control3 = Reg(kRegControllerCtl + kControllerStride + 0x1A8);
  Synthesizers();
  hwtest::PutPinsDword(h, kPinsClockSelect, (2u << 1) | (3u << 8));
  Board().ClearLog();
  // System clock from FS 0 (was FS 1), graphics clock on FS 2 by 3.
  ASSERT_EQ(Set(Word(133, 0, 1), Word(100, 19, 3), 0), 0u);
  EXPECT_EQ(PinsDword(h, kPinsClockSelect), (1u << 1) | (5u << 8) | (1u << 5));
  EXPECT_EQ(FsKHz(0), 266000u);
  EXPECT_EQ(FsPreset(0), 0u);
  EXPECT_EQ(FsKHz(2), 300000u);
  EXPECT_EQ(FsPreset(2), 0u);
  EXPECT_EQ(FsKHz(1), 200000u) << "the old source keeps its frequency";
  // Each is switched off, its output with it, before the synthesizers are
  // programmed (the bring-up alone only holds the controllers), and its
  // timing is written again after.
  for (uint32_t c : {0u, 1u}) {
    const uint32_t control = kRegControllerCtl + kControllerStride * c;
    const uint32_t dac = 0x1C18 + 4 * c;     // DAC 1 shows controller 0, DAC 2 controller 1
    constexpr uint32_t kDacOff = (1u << 10) | (1u << 12);
    bool offBeforeClocks = false, timingAfterClocks = false, clocks = false;
    for (const orvsim::RegAccessRecord& r : Board().LoggedWrites()) {
      if (r.offset >= kRegFs0 && r.offset < kRegFs0 + 4 * kRegFsStride) clocks = true;
      if (!clocks && r.offset == dac && (r.value & kDacOff)) offBeforeClocks = true;
      if (clocks && r.offset >= control + 0x108 && r.offset <= control + 0x134) timingAfterClocks = true;
    }
    EXPECT_TRUE(offBeforeClocks) << c;
    EXPECT_TRUE(timingAfterClocks) << c;
    const std::vector<bool> on = OnBitChanges(c);
    ASSERT_FALSE(on.empty());
    EXPECT_TRUE(on.back()) << c << " on again";
  }
  EXPECT_EQ(Reg(kRegControllerCtl + 0x1A8), control2);
  EXPECT_EQ(Reg(kRegControllerCtl + kControllerStride + 0x1A8), control3);
  for (uint32_t c = 0; c < 4; ++c) {
    EXPECT_EQ(h->aModeInfo[c].flOutput, before[c].flOutput) << c;
    EXPECT_EQ(h->aModeInfo[c].ulPixClock, before[c].ulPixClock) << c;
  }
  EXPECT_EQ(std::memcmp(&h->aModeInfo[2], &before[2], 2 * sizeof(MODEINFO)), 0);
  // Both rasters run their modes again.
  EXPECT_NEAR(Raster().Timing(0).frame_hz, 60.0, 0.1);
  EXPECT_NEAR(Raster().Timing(1).frame_hz, 60.0, 0.1);
}

// Only a controller that was on is switched off; one that was off is set
// again with its off record.
TEST_F(SetSystemClock, AControllerThatWasOffStaysOff) {
  MODEINFO m0 = hwtest::XgaOn(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &m0), 0u);
  Board().ClearLog();
  ASSERT_EQ(Set(0, 0, Word(100, 17, 2)), 0u);
  const std::vector<bool> on0 = OnBitChanges(0);
  EXPECT_NE(std::find(on0.begin(), on0.end(), false), on0.end());
  ASSERT_FALSE(on0.empty());
  EXPECT_TRUE(on0.back());
  for (bool on : OnBitChanges(1)) EXPECT_FALSE(on);
  EXPECT_TRUE(RecordOff(h->aModeInfo[1]));
  EXPECT_FALSE(RecordOff(h->aModeInfo[0]));
}

// Sources of 0 change dividers and frequencies only: no controller is
// switched off.
TEST_F(SetSystemClock, WithoutASourceNoControllerIsTouched) {
  TwoControllersOn();
  Board().ClearLog();
  ASSERT_EQ(Set(Word(150, 0, 0), Word(120, 18, 0), Word(0, 0, 0)), 0u);
  // The memory bring-up holds the controllers while it runs and lets them
  // go again; no mode is set (their timing is not written) and both stay on.
  for (uint32_t c : {0u, 1u}) {
    EXPECT_TRUE(WrittenIn(0x1908 + kControllerStride * c, 0x1934 + kControllerStride * c).empty()) << c;
    EXPECT_NE(Reg(kRegControllerCtl + kControllerStride * c) & 1, 0u) << c;
    EXPECT_FALSE(RecordOff(h->aModeInfo[c])) << c;
  }
}

TEST_F(SetSystemClock, AFailedStatusChangesNothing) {
  const uint32_t select = PinsDword(h, kPinsClockSelect);
  h->status = 0xb0000001;
  EXPECT_EQ(Set(Word(150, 0, 1), 0, 0), 0xb0000001u);
  EXPECT_EQ(PinsDword(h, kPinsClockSelect), select);
}

// ---- Digital output formats ----------------------------------------------------------------

class Formats : public SystemClock {
 protected:
  Formats() {
    h->oCem.ulPresent = 0;
    h->oCem.ulBoardType = 0;
    h->status = 0;
  }
  HALSTATUS Check(uint32_t format, uint32_t output) {
    h->status = 0;
    return HSLKSTIsDigitalFormatSupported(h, format, output);
  }
};

TEST_F(Formats, SupportByOutputWordsAndModule) {
  constexpr uint32_t T0 = 1u << 13, T1 = 1u << 14;  // feature word
  constexpr uint32_t D0 = 1u << 2, DL = 1u << 5, D1 = 1u << 21, R1 = 1u << 29, R2 = 1u << 30;
  struct Case {
    uint32_t format, output, features, enables, code, control;
    bool ok;
  } cases[] = {
      {kNone, 3, 0, 0, 0, 0, true},        {1, 2, 0, 0, 0, 0, true},
      {2, 0, T0 | T1, D0 | DL, 0, 0, true}, {2, 1, T0 | T1, D0 | DL, 0, 0, false},
      {2, 0, T0, D0 | DL, 0, 0, false},    {3, 0, 0, D0 | D1, 0, 0, true},
      {3, 0, 0, D0, 0, 0, false},          {18, 0, 0, D0 | DL, 0, 0, true},
      {18, 1, 0, D0 | DL, 0, 0, false},    {4, 0, 0, R1, 0, 0, true},
      {4, 1, 0, R1, 0, 0, false},          {7, 1, 0, R2, 0, 0, true},
      {10, 0, 0, 0, 0, 0, false},          {5, 0, 0, R1, 2, 3, true},
      {5, 0, 0, R1, 2, 2, false},          {8, 0, 0, R1, 3, 2, true},
      {5, 0, 0, R1, 25, 0x80, true},       {5, 0, 0, 0, 25, 0x80, false},
      {6, 1, 0, R2, 4, 2, true},           {9, 1, 0, R2, 3, 5, false},
      {13, 0, 0, R1, 4, 1, true},          {13, 0, 0, R1, 4, 0, false},
      {16, 3, 0, 0, 5, 1, true},           {17, 2, 0, 0, 5, 0, false},
      {19, 0, 0, R1, 4, 4, true},          {20, 0, 0, R1, 4, 3, false},
      {21, 0, 0, R1, 25, 0x81, true},      {21, 0, 0, R1, 25, 0x80, false},
      {22, 0, 0, R1, 4, 5, true},          {23, 0, 0, R1, 4, 4, false},
      {24, 0, 0, R1, 6, 1, true},          {24, 0, 0, R1, 25, 0x80, true},
      {25, 0, 0, R1, 4, 7, true},          {25, 0, 0, R1, 4, 6, false},
      {26, 0, 0, R1, 6, 2, true},          {26, 0, 0, R1, 6, 1, false},
      {0, 0, ~0u, ~0u, 25, 0xFF, false},   {11, 0, ~0u, ~0u, 25, 0xFF, false},
      {12, 0, ~0u, ~0u, 25, 0xFF, false},  {14, 0, ~0u, ~0u, 25, 0xFF, false},
      {27, 0, ~0u, ~0u, 25, 0xFF, false},
  };
  for (const Case& c : cases) {
    h->ulFeatures = c.features;
    h->ulOutputCaps = c.enables;
    h->oPins.aucData[421] = static_cast<uint8_t>(c.code);
    h->oPins.aucData[420] = static_cast<uint8_t>(c.control);
    EXPECT_EQ(Check(c.format, c.output), c.ok ? 0u : kErrFormatNotSupported)
        << "format " << static_cast<int32_t>(c.format) << " output " << c.output << " module " << c.code << "/"
        << c.control;
  }
  // On a twin board the first routed output is output 1, the second output 2.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 10;
  h->ulOutputCaps = R1;
  EXPECT_EQ(Check(4, 1), 0u);
  EXPECT_EQ(Check(4, 0), kErrFormatNotSupported);
  h->ulOutputCaps = R2;
  EXPECT_EQ(Check(4, 2), 0u);
  // A failed status is kept and nothing is checked.
  h->status = 0x80000001;
  EXPECT_EQ(HSLKSTIsDigitalFormatSupported(h, 0, 0), 0x80000001u);
}

TEST_F(Formats, Combinations) {
  struct Case {
    uint32_t formats[5];
    uint32_t count, group;
    bool ok;
  } cases[] = {
      {{4, 7, kNone, kNone}, 4, 2, true},   {{4, 5}, 2, 2, false},
      {{7, 4, kNone, kNone}, 4, 2, true},   {{4, 7, 4, kNone}, 4, 2, false},
      {{4, kNone}, 2, 2, false},            {{1, 1, 1, 1}, 4, 4, true},
      {{2, kNone}, 2, 2, true},             {{3, 3}, 2, 2, false},
      {{18, kNone, kNone}, 3, 3, true},     {{22, 22}, 2, 2, true},
      {{22, 23}, 2, 2, false},              {{16, 17}, 2, 2, true},
      {{12, 15}, 2, 2, true},               {{10, 13}, 2, 2, true},
      {{19, 20}, 2, 2, true},               {{21, 21}, 2, 2, false},
      {{kNone, kNone}, 2, 2, false},        {{0, 0}, 2, 2, false},
      {{27, 27}, 2, 2, false},
      // Nothing is checked: more than four, a group of one, fewer than the group.
      {{0, 0, 0, 0, 0}, 5, 2, true},        {{0, 5}, 2, 1, true},
      {{4, 5}, 2, 3, true},
  };
  for (const Case& c : cases) {
    h->status = 0;
    EXPECT_EQ(HSLKSTIsValidFormatCombination(h, c.formats, c.count, c.group), c.ok ? 0u : kErrFormatCombination)
        << c.formats[0] << "," << c.formats[1] << " count " << c.count << " group " << c.group;
  }
}

}  // namespace
