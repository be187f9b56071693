// System-clock start-up: which synthesizers start, presets against the
// search, and the select-word loading, on the simulated board.
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

using hwtest::PutPinsDword;

constexpr int16_t kDefaultMHz[6] = {600, 1600, 600, 1600, 50, 400};
constexpr int16_t kB90MHz[6] = {800, 1600, 800, 1600, 54, 108};

TEST(ScUseFs, SelectFieldsNameTheSynthesizers) {
  struct Row {
    uint32_t word;
    bool used[4];
  } rows[] = {
      {0x10114, {true, true, false, false}},  // bits 8-11 = 1, bits 1-3 = 2, bits 16-19 = 1
      {0x00000, {false, false, false, false}},
      {0x00800, {false, false, false, true}},  // bits 8-11 = 8
      {0x00008, {false, false, false, true}},  // bits 1-3 = 4
      {0x60000, {false, false, true, false}},  // bits 16-19 = 6
      {0x00300, {false, true, false, false}},  // bits 8-11 = 3
  };
  for (const Row& r : rows)
    for (uint32_t n = 0; n < 4; ++n)
      EXPECT_EQ(IsScUseFS(r.word, n), r.used[n] ? 1u : 0u) << std::hex << r.word << " FS" << n;
  EXPECT_EQ(IsScUseFS(0xFFFFFFFF, 4), 0u);
}

TEST(ScUseFs, LaterGenerationFieldsPerWord) {
  auto f = [](uint32_t code) { return code << 1; };
  struct Row {
    uint32_t w0, w1, w2;
    bool used[4];
  } rows[] = {
      {f(2), 0, 0, {false, false, false, false}},  // FS 1 counts only in words 1 and 2
      {f(9), 0, 0, {true, false, false, false}},
      {0, f(11), 0, {false, true, false, false}},
      {0, 0, f(13), {false, false, true, false}},
      {0, f(4), f(15), {false, false, false, true}},
      {f(1), f(8), f(12), {true, false, true, false}},
  };
  for (const Row& r : rows)
    for (uint32_t n = 0; n < 4; ++n)
      EXPECT_EQ(IsScUseFS_BRI90(r.w0, r.w1, r.w2, n), r.used[n] ? 1u : 0u)
          << r.w0 << "," << r.w1 << "," << r.w2 << " FS" << n;
  EXPECT_EQ(IsScUseFS_BRI90(f(1), f(1), f(1), 5), 0u);
}

class SysClock : public hwtest::ClockBoardTest {
 protected:
  explicit SysClock(uint16_t device = 0x0A42) : ClockBoardTest(device, &kDefaultMHz) {}
};

TEST_F(SysClock, PresetSkipsTheSearchAndOnlyUsedSynthesizersStart) {
  const uint32_t select = 0x10114;  // FS 0 and FS 1
  PutPinsDword(h, 132, select);
  PutPinsDword(h, 36, 220000);
  PutPinsDword(h, 40, 0x0012A3C5);  // FS 0 preset
  PutPinsDword(h, 56, 108000);       // FS 1: search
  PutPinsDword(h, 76, 95000);        // FS 2: not selected
  hw.board().Poke(0xE00, 4, 0x40000000);
  hw.board().Poke(0x1C04, 4, 0x7);
  hw.board().Poke(0x1A00, 4, 0x3);

  EXPECT_EQ(HWKSTInitializeSystemClock(h), 0u);

  EXPECT_EQ(hw.WritesTo(0xE10), (std::vector<uint32_t>{0x8012A3C5, 0x0012A3C5}));
  EXPECT_FALSE(hw.WritesTo(0xE14).empty());
  EXPECT_TRUE(clocks->FsLocked(1));
  EXPECT_TRUE(hw.WritesTo(0xE18).empty());
  EXPECT_TRUE(hw.WritesTo(0xE1C).empty());
  EXPECT_EQ(hw.WritesTo(0xE00), (std::vector<uint32_t>{0x40008081, 0x8081, 0, 0x8081,
                                                    select | 0x8081, select}));
  EXPECT_EQ(hw.WritesTo(0x1C04), (std::vector<uint32_t>{0x27, 0x7}));
  EXPECT_EQ(hw.WritesTo(0x1A00), (std::vector<uint32_t>{0x2, 0x3}));
}

TEST_F(SysClock, SynthesizerThatNeverLocksKeepsTheLastTableWordAndStartUpGoesOn) {
  PutPinsDword(h, 132, 0x00800);  // FS 3 only
  PutPinsDword(h, 96, 135000);
  clocks->SetFsLockMode(3, orvsim::FsLockMode::kNever);
  EXPECT_EQ(HWKSTInitializeSystemClock(h), 0u);

  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 3, 135000);
  uint32_t table[kFsTableSize];
  uint32_t count = kFsTableSize;
  HWKSTGenereMPTable(h, &l, table, &count);
  ASSERT_GT(count, 0u);
  std::vector<uint32_t> last;
  for (const orvsim::FsProgram& p : clocks->FsPrograms())
    if (p.fs == 3) last.push_back(p.word & 0x3FFFFF);
  ASSERT_GE(last.size(), count);
  // The table's words, in its order, end the synthesizer's programming.
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t w = table[i];
    const uint32_t m1 = w >> 24, m2 = (w >> 16) & 0xFF, p1 = (w >> 8) & 0xFF, p2 = w & 0xFF;
    uint32_t reg = ((0u - m1) & 0x1F) | (m1 > 32 ? 0x20u : 0u) | (((0u - m2) & 0x1F) << 6) |
                   (((0u - p1) & 0x1F) << 11) |
                   (p2 == 0 ? 0x10000u : (((0u - p2 / 2) & 0x1F) * 2) << 16);
    EXPECT_EQ(last[last.size() - count + i], reg) << i;
  }
  const std::vector<uint32_t> e00 = hw.WritesTo(0xE00);
  ASSERT_GE(e00.size(), 3u);
  EXPECT_EQ(e00.back(), 0x00800u);
}

class B90SysClock : public SysClock {
 protected:
  B90SysClock() : SysClock(0x5D63) { SetFsLimits(kB90MHz); }
};

TEST_F(B90SysClock, LoadsTheThreeSelectWordsAroundTheSynthesizers) {
  const uint32_t w0 = 1u << 1, w1 = 3u << 1 | 0x100, w2 = 0x40;  // FS 0 and FS 2
  PutPinsDword(h, 512, w0);
  PutPinsDword(h, 516, w1);
  PutPinsDword(h, 520, w2);
  PutPinsDword(h, 524, 0x1234);
  PutPinsDword(h, 40, 0x00021C45);  // FS 0 preset
  PutPinsDword(h, 76, 148500);       // FS 2 search
  hw.board().Poke(0xE04, 4, 0x10);

  EXPECT_EQ(HWB90InitializeSystemClock(h), 0u);

  EXPECT_EQ(hw.WritesTo(0xE30), (std::vector<uint32_t>{0x80021C45, 0x00021C45}));
  EXPECT_EQ(hw.client().fsCache[0], 0x00021C45u);
  EXPECT_TRUE(clocks->FsLocked(2));
  EXPECT_EQ(hw.client().fsCache[2], clocks->FsRegister(2));
  EXPECT_TRUE(hw.WritesTo(0xE34).empty());
  EXPECT_TRUE(hw.WritesTo(0xE3C).empty());
  EXPECT_EQ(hw.WritesTo(0xE04), (std::vector<uint32_t>{0x11, 1, 0, 1, w1 | 1, w1}));
  EXPECT_EQ(hw.WritesTo(0xE08), (std::vector<uint32_t>{1, 1, 0, 1, w2 | 1, w2}));
  EXPECT_EQ(hw.Reg(0xE24), 0x1234u);
}

}  // namespace
