// The first generation's system-clock record read back from the chip and
// from the board description, and the digital output formats an output may
// carry, alone and in groups.
#include <cstring>

#include <gtest/gtest.h>

#include "core/regs/clocks.h"
#include "hwsharing/boardhandle.h"
#include "hwsharing/digital_formats.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/sysclock.h"
#include "hwsharing/system_clock.h"
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
