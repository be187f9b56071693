// Frequency synthesizers: limits, candidate table and programming, against
// the simulated board's synthesizers and a search written here.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

struct Div {
  int64_t m1, m2, p1, p2;  // p2 as a divider (2 for the byte 0)
  bool operator==(const Div&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Div& d) {
  return o << "M1=" << d.m1 << " M2=" << d.m2 << " P1=" << d.p1 << " P2=" << d.p2;
}

// First-generation register word, from the bit layout.
Div DecodeReg(uint32_t w) {
  return {((w >> 5) & 1 ? 64 : 32) - static_cast<int64_t>(w & 0x1F),
          32 - static_cast<int64_t>((w >> 6) & 0x1F), 32 - static_cast<int64_t>((w >> 11) & 0x1F),
          (w >> 16) & 1 ? 2 : 64 - 2 * static_cast<int64_t>((w >> 17) & 0x1F)};
}
Div FromParam(uint32_t w) {
  const int64_t p2 = w & 0xFF;
  return {w >> 24, (w >> 16) & 0xFF, (w >> 8) & 0xFF, p2 == 0 ? 2 : p2};
}

// The reference model of the table search.
struct Limits {
  int64_t vco1Min, vco1Max, vco2Min, vco2Max, ifMin, ifMax;
};
int64_t Output(const Div& d) { return d.m1 * 27000 / d.p1 * d.m2 / d.p2; }
double ErrorPercent(const Div& d, int64_t r) {
  return 100.0 * static_cast<double>(Output(d) - r) / static_cast<double>(r);
}
bool Has18(uint32_t w) {
  return ((w >> 24) & 0x1F) == 18 || ((w >> 16) & 0xFF) == 18 || ((w >> 8) & 0xFF) == 18 ||
         (w & 0xFF) / 2 == 18;
}
bool Acceptable(uint32_t w, const Limits& l, int64_t r) {
  const Div d = FromParam(w);
  if (d.m1 == 33 || (w & 0xFF) == 2 || d.p1 == 0) return false;
  if (std::abs(ErrorPercent(d, r)) > 0.5 + 1e-9) return false;
  const int64_t vco1 = d.m1 * 27000;
  if (vco1 < l.vco1Min || vco1 > l.vco1Max) return false;
  if (vco1 / d.p1 < 50000 || vco1 / d.p1 > 400000) return false;
  const int64_t vco2 = vco1 * d.m2 / d.p1;
  return vco2 >= l.vco2Min && vco2 <= l.vco2Max;
}
// The first `capacity` acceptable words in loop order, then ordered: words
// without an 18 first, then by error, ties in loop order.
std::vector<uint32_t> ReferenceTable(const FSLIMIT& b, const Limits& l, int64_t r,
                                     size_t capacity) {
  std::vector<uint32_t> out;
  for (uint32_t m1 = b.ucM1Min; m1 <= b.ucM1Max; ++m1)
    for (uint32_t m2 = b.ucM2Min; m2 <= b.ucM2Max; ++m2)
      for (uint32_t p1 = b.ucP1Min; p1 <= b.ucP1Max; ++p1)
        for (uint32_t p2 = b.ucP2Min; p2 <= b.ucP2Max; p2 += 2) {
          const uint32_t w = (m1 << 24) | (m2 << 16) | (p1 << 8) | p2;
          if (out.size() < capacity && Acceptable(w, l, r)) out.push_back(w);
        }
  std::stable_sort(out.begin(), out.end(), [&](uint32_t a, uint32_t c) {
    if (Has18(a) != Has18(c)) return !Has18(a);
    // Errors compare in whole hundredths of a percent, over a tenth of the request.
    auto hundredths = [&](uint32_t w) { return std::abs((Output(FromParam(w)) - r) * 1000 / (r / 10)); };
    return hundredths(a) < hundredths(c);
  });
  return out;
}

using hwtest::PutFsLimits;

constexpr int16_t kDefaultMHz[6] = {600, 1600, 600, 1600, 50, 400};
constexpr int16_t kB90MHz[6] = {800, 1600, 800, 1600, 54, 108};
const Limits kDefaultLimits{600000, 1600000, 600000, 1600000, 50000, 400000};

class Fs : public hwtest::ClockBoardTest {
 protected:
  explicit Fs(uint16_t device = 0x0A41) : ClockBoardTest(device, &kDefaultMHz) {}
  std::vector<uint32_t> ProgramsOf(unsigned fs) {
    std::vector<uint32_t> out;
    for (const orvsim::FsProgram& p : clocks->FsPrograms())
      if (p.fs == fs) out.push_back(p.word);
    return out;
  }
};

TEST(FsParam, ErrorInHundredthsOfAPercent) {
  const uint32_t w = MakeFsParam(20, 10, 5, 0);  // 20 x 27000 / 5 x 10 / 2 = 540000
  struct Row {
    uint32_t requested;
    int32_t error;
  } rows[] = {
      {540000, 0},
      {537300, 50},          // 0.5 % low request
      {600000, -1000},       // 10 % high request
      {530504, 179},         // 9496 x 1000 / 53050, over a truncated tenth (not 178)
      {9, 599990000},        // requests below 10 kHz divide by nothing
      {5, 1079990000},
      {1, 2147483647},       // clamped
      {0, kFsErrorUnknown},  // nothing requested
  };
  EXPECT_EQ(FsParamOutput(w), 540000);
  for (const Row& r : rows) EXPECT_EQ(FsParamError(w, r.requested), r.error) << r.requested;
  // On the 0.5 % bound: 101250 kHz for 101769 is 51 hundredths off, out of bounds.
  EXPECT_EQ(FsParamError(MakeFsParam(30, 5, 10, 4), 101769), -51);
  EXPECT_EQ(FsParamOutput(MakeFsParam(20, 10, 0, 0)), 0);
}

TEST_F(Fs, LimitsFollowTheBoardDescription) {
  FSLIMIT l{};
  EXPECT_EQ(HWKSTInitialiseFSLimit(h, &l, 1, 108000), 0u);
  EXPECT_EQ(l.ulRegister, 0xE14u);
  EXPECT_EQ(l.ulFrequency, 108000u);
  EXPECT_EQ(l.lVco1Max, 1600000);
  EXPECT_EQ(l.lIfMin, 50000);
  // M1 600000/27000 = 22 .. 1600000/27000 = 59; P1 22x27000/400000 = 1 -> 3
  // .. 59x27000/50000 = 31; M2 max(3, 1x1600000/(59x27000)) .. 31x600000/(22x27000).
  EXPECT_EQ(l.ucM1Min, 22);
  EXPECT_EQ(l.ucM1Max, 59);
  EXPECT_EQ(l.ucP1Min, 3);
  EXPECT_EQ(l.ucP1Max, 31);
  EXPECT_EQ(l.ucM2Min, 3);
  EXPECT_EQ(l.ucM2Max, 31);
  EXPECT_EQ(l.ucP2Min, 0);
  EXPECT_EQ(l.ucP2Max, 64);
}

TEST_F(Fs, ZeroLimitsGiveNoCandidatesInsteadOfDividingByZero) {
  const int16_t zero[6] = {};
  PutFsLimits(h, 2, zero);
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 2, 65000);
  uint32_t table[kFsTableSize];
  uint32_t count = kFsTableSize;
  EXPECT_EQ(HWKSTGenereMPTable(h, &l, table, &count), 0u);
  EXPECT_EQ(count, 0u);
}

TEST_F(Fs, CandidateTableMatchesTheReferenceSearch) {
  for (uint32_t f : {25175u, 65000u, 108000u, 135000u, 220000u}) {
    FSLIMIT l{};
    HWKSTInitialiseFSLimit(h, &l, 0, f);
    uint32_t table[kFsTableSize];
    uint32_t count = kFsTableSize;
    HWKSTGenereMPTable(h, &l, table, &count);
    const std::vector<uint32_t> want = ReferenceTable(l, kDefaultLimits, f, kFsTableSize);
    EXPECT_EQ(std::vector<uint32_t>(table, table + count), want) << f << " kHz";
    EXPECT_FALSE(want.empty()) << f;
  }
}

TEST_F(Fs, WordsWithAnEighteenRankLastWhateverTheirError) {
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 0, 540000);
  const uint32_t exact50 = MakeFsParam(50, 4, 5, 0);    // M1 = 50 counts as 18, error 0
  const uint32_t off = MakeFsParam(20, 10, 5, 0);       // 540000 too, no 18
  const uint32_t worse = MakeFsParam(21, 10, 5, 0);     // 567000, no 18
  uint32_t table[3];
  HWKSTAddFSParamInTable(h, &l, exact50, table, 0);
  HWKSTAddFSParamInTable(h, &l, worse, table, 1);
  HWKSTAddFSParamInTable(h, &l, off, table, 2);
  EXPECT_EQ(std::vector<uint32_t>(table, table + 3), (std::vector<uint32_t>{off, worse, exact50}));
}

TEST_F(Fs, P2OfTwoAndM1Of33AreNeverAccepted) {
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 0, 324000);
  struct Row {
    uint32_t requested, word, ok;
  } rows[] = {
      {324000, MakeFsParam(32, 6, 8, 0), 1},  // 864000 / 8 x 6 / 2
      {324000, MakeFsParam(32, 6, 8, 2), 0},  // the same division written as byte 2
      {334125, MakeFsParam(33, 6, 8, 0), 0},  // exact, but M1 = 33
      {324000, MakeFsParam(32, 6, 0, 0), 0},  // no P1
      {326000, MakeFsParam(32, 6, 8, 0), 0},  // 0.61 % off
  };
  for (const Row& r : rows) {
    l.ulFrequency = r.requested;
    uint32_t ok = 9;
    HWKSTValidateFSParam(h, &l, r.word, &ok);
    EXPECT_EQ(ok, r.ok) << std::hex << r.word;
  }
}

TEST_F(Fs, WritingAWordProgramsItsDividersAndCountsTheLock) {
  struct Row {
    orvsim::FsLockMode mode;
    unsigned lockedPer100;
    uint32_t locked;
  } rows[] = {
      {orvsim::FsLockMode::kLegal, 0, 1},
      {orvsim::FsLockMode::kFlicker, 90, 1},
      {orvsim::FsLockMode::kFlicker, 89, 0},  // both bits on 89 of 100 reads
      {orvsim::FsLockMode::kNever, 0, 0},
  };
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 3, 324000);
  l.ulParam = MakeFsParam(40, 6, 10, 4);
  for (const Row& r : rows) {
    clocks->SetFsLockMode(3, r.mode, r.lockedPer100);
    hw.board().ClearLog();
    uint32_t locked = 7;
    HWKSTWriteFSParameters(h, &l, &locked);
    EXPECT_EQ(locked, r.locked) << r.lockedPer100;
    const std::vector<uint32_t> writes = hw.WritesTo(0xE1C);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0] & 0x80000000u, 0x80000000u);
    EXPECT_EQ(writes[1] & 0x80000000u, 0x80000000u);
    EXPECT_EQ(writes[2] & 0x80000000u, 0u);
    EXPECT_EQ(DecodeReg(writes[2]), (Div{40, 6, 10, 4}));
  }
}

TEST_F(Fs, SynthesizerRunsNearTheRequestedFrequency) {
  for (uint32_t f : {25175u, 108000u, 220000u}) {
    EXPECT_EQ(HWKSTInitialiseFSController(h, 0, f), 1u) << f;
    EXPECT_TRUE(clocks->FsLocked(0));
    const Div d = DecodeReg(clocks->FsRegister(0));
    EXPECT_LE(std::abs(ErrorPercent(d, f)), 0.5) << f << " " << d;
  }
}

TEST_F(Fs, NoLockFallsBackToTheTableInOrderAndReportsFailure) {
  clocks->SetFsLockMode(1, orvsim::FsLockMode::kNever);
  const uint32_t f = 135000;
  EXPECT_EQ(HWKSTInitialiseFSController(h, 1, f), 0u);
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 1, f);
  const std::vector<uint32_t> table = ReferenceTable(l, kDefaultLimits, f, kFsTableSize);
  const std::vector<uint32_t> programs = ProgramsOf(1);
  ASSERT_GE(programs.size(), table.size());
  for (size_t i = 0; i < table.size(); ++i)
    EXPECT_EQ(DecodeReg(programs[programs.size() - table.size() + i]), FromParam(table[i])) << i;
  // Left with the last candidate.
  EXPECT_EQ(DecodeReg(clocks->FsRegister(1)), FromParam(table.back()));
}

TEST_F(Fs, TableStrategyStopsAtTheFirstLock) {
  const uint32_t f = 65000;
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 2, f);
  const std::vector<uint32_t> table = ReferenceTable(l, kDefaultLimits, f, kFsTableSize);
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(HWKSTInitialiseFSController1(h, 2, f), 1u);
  const std::vector<uint32_t> programs = ProgramsOf(2);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(DecodeReg(programs[0]), FromParam(table[0]));
}

TEST_F(Fs, DirectStrategyWritesValidWordsWithoutEighteenInLoopOrder) {
  clocks->SetFsLockMode(0, orvsim::FsLockMode::kNever);
  const uint32_t f = 108000;
  EXPECT_EQ(HWKSTInitialiseFSController2(h, 0, f), 0u);
  FSLIMIT l{};
  HWKSTInitialiseFSLimit(h, &l, 0, f);
  std::vector<Div> got;
  for (uint32_t w : ProgramsOf(0)) got.push_back(DecodeReg(w));
  // Loop order is the reference's order before sorting.
  std::vector<Div> loopOrder;
  for (uint32_t m1 = l.ucM1Min; m1 <= l.ucM1Max; ++m1)
    for (uint32_t m2 = l.ucM2Min; m2 <= l.ucM2Max; ++m2)
      for (uint32_t p1 = l.ucP1Min; p1 <= l.ucP1Max; ++p1)
        for (uint32_t p2 = 0; p2 <= 64; p2 += 2) {
          const uint32_t w = (m1 << 24) | (m2 << 16) | (p1 << 8) | p2;
          if (!Has18(w) && Acceptable(w, kDefaultLimits, f)) loopOrder.push_back(FromParam(w));
        }
  EXPECT_FALSE(loopOrder.empty());
  EXPECT_EQ(got, loopOrder);
}

TEST_F(Fs, OnlyFourSynthesizersExist) {
  hw.board().ClearLog();
  EXPECT_EQ(HWKSTInitialiseFSController(h, 4, 100000), 0u);
  EXPECT_EQ(HWKSTInitialiseFSController1(h, 7, 100000), 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

class B90Fs : public Fs {
 protected:
  B90Fs() : Fs(0x5D63) { SetFsLimits(kB90MHz); }
};

TEST_F(B90Fs, SearchesThroughTheLibraryAndKeepsTheShadow) {
  EXPECT_EQ(HWB90InitialiseFSController(h, 2, 148500), 1u);
  EXPECT_TRUE(clocks->FsLocked(2));
  const uint32_t w = clocks->FsRegister(2);
  const int64_t m1 = (w & 0x3F) + 1, m2 = ((w >> 6) & 0x1F) + 1;
  const int64_t p1 = ((w >> 11) & 0x1F) + 1, p2 = ((w >> 16) & 0xF) + 1;
  const int64_t out = 27000 * m1 / p1 * m2 / (2 * p2);
  EXPECT_LE(std::abs(out - 148500) * 1000, 148500 * 5) << out;
  EXPECT_EQ(hw.client().fsCache[2], w);

  clocks->SetFsLockMode(1, orvsim::FsLockMode::kNever);
  EXPECT_EQ(HWB90InitialiseFSController(h, 1, 148500), 0u);
}

}  // namespace
