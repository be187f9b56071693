// The PLL divider library over a scripted synthesizer: the register the
// library programs is kept here, its lock bits follow a rule the test
// chooses, and the dividers that reached the register are checked against a
// search written here from the frequency model.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hwsharing/chip/bri90pll.h"
#include "hwsharing/chip/pll.h"
#include "hwsharing/chip/pll_common.h"

namespace {

constexpr uint32_t kFsReg0 = 0xE10;
constexpr uint32_t kB90FsReg0 = 0xE30;

struct Dividers {
  int m1, p1, m2, p2;
  bool operator==(const Dividers&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Dividers& d) {
  return o << "M1=" << d.m1 << " P1=" << d.p1 << " M2=" << d.m2 << " P2=" << d.p2;
}

// Decoding of the register words, from the bit tables.
Dividers DecodeKind0(uint32_t w) {
  Dividers d;
  d.m1 = ((w >> 5) & 1 ? 64 : 32) - static_cast<int>(w & 0x1F);
  d.m2 = 32 - static_cast<int>((w >> 6) & 0x1F);
  d.p1 = 32 - static_cast<int>((w >> 11) & 0x1F);
  d.p2 = (w >> 16) & 1 ? 2 : 64 - 2 * static_cast<int>((w >> 17) & 0x1F);
  return d;
}
Dividers DecodeKind1(uint32_t w) {
  return {static_cast<int>(w & 0x3F) + 1, static_cast<int>((w >> 11) & 0x1F) + 1,
          static_cast<int>((w >> 6) & 0x1F) + 1, static_cast<int>((w >> 16) & 0xF) + 1};
}

// The synthesizer: registers, a write log and the lock behaviour.
struct FakeFs {
  uint32_t kind = 0;
  uint32_t reg = kFsReg0;
  std::map<uint32_t, uint32_t> regs;
  std::map<uint32_t, uint32_t> shadow;
  std::vector<std::pair<uint32_t, uint32_t>> writes;  // register, value
  // Whether the divider set now in the register locks.
  std::function<bool(const Dividers&)> locks = [](const Dividers&) { return true; };
  // Reads of the lock bit since the last write; a flickering lock drops on
  // read number `flickerAt` after the first.
  int readsSinceWrite = 0;
  int flickerAt = 0;
  int lockReads = 0;

  Dividers Current() const {
    auto it = regs.find(reg);
    uint32_t w = it == regs.end() ? 0 : it->second;
    return kind == 0 ? DecodeKind0(w) : DecodeKind1(w);
  }
};

uint32_t Read(void* h, uint32_t r) {
  auto* fs = static_cast<FakeFs*>(h);
  uint32_t v = fs->regs[r];
  if (r != fs->reg) return v;
  ++fs->lockReads;
  const uint32_t bits = fs->kind == 0 ? 0x3000000u : 0x1000000u;
  bool locked = fs->locks(fs->Current());
  if (fs->flickerAt != 0 && fs->readsSinceWrite++ == fs->flickerAt) locked = false;
  return locked ? v | bits : v & ~bits;
}
void Write(void* h, uint32_t value, uint32_t r) {
  auto* fs = static_cast<FakeFs*>(h);
  fs->regs[r] = value & ~0x3000000u;
  fs->writes.push_back({r, value});
  fs->readsSinceWrite = 0;
  if (fs->kind == 1 && r >= 0xE30 && r <= 0xE3C) fs->shadow[r] = value;
}
uint32_t ReadShadow(void* h, uint32_t r) { return static_cast<FakeFs*>(h)->shadow[r]; }
void Delay(void*, uint32_t) {}

// What the library prints, collected per channel.
std::string g_errors;
std::string g_debug;
template <std::string* Out>
void Collect(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  *Out += buffer;
}

// The two templates of the frequency-synthesizer bring-up.
PLLDESCRIPTOR Template(uint32_t kind) {
  PLLDESCRIPTOR d{};
  d.ulKind = kind;
  d.lFin = 27000;
  d.ulDefaultAlgorithm = 2;
  d.ulSearchMode = 1;
  if (kind == 0) {
    d.ulRegOffset = kFsReg0;
    d.vco1 = {0, 0, 1, 64, 2, -1, 2, 32, 1, 3, 64, 3, 32, 600000, 1250000, 50000, 400000,
              100, 0, 10, 0};
    d.vco2 = {1, 0, 1, 32, 2, -1, 2, 64, 2, 3, 32, 2, 64, 600000, 1250000, 10000, 1250000,
              100, 0, 10, 0};
  } else {
    d.ulRegOffset = kB90FsReg0;
    d.vco1 = {0, 0, 1, 64, 1, -1, 1, 32, 1, 1, 64, 1, 32, 800000, 1600000, 54000, 108000,
              100, 0, 10, 0};
    d.vco2 = {1, 0, 1, 32, 1, -1, 1, 16, 1, 1, 32, 1, 16, 800000, 1600000, 1, 1600000,
              100, 0, 10, 0};
    d.pfnReadShadow = ReadShadow;
  }
  d.lIfStart = 75000;
  d.lIfEnd = 300000;
  d.lIfStep = 5000;
  d.lErrLimitPercent = 512;
  d.pfnReadReg = Read;
  d.pfnWriteReg = Write;
  d.pfnDelay = Delay;
  d.pfnErrorPrint = Collect<&g_errors>;
  return d;
}

// ---- The reference search ---------------------------------------------------------
// Every divider set the search visits for an output frequency, in the
// order it visits them, with the legality rules of each generation.

struct Candidate {
  Dividers d;
  int64_t out;
  int64_t error;
};

bool InR(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }

// The derated limits of dividers equal to 18 (first generation).
bool Derated(const PLLDESCRIPTOR& t, const Dividers& d) {
  const int64_t fin = t.lFin;
  if (d.m1 == 18 || d.m1 == 50 || d.p1 == 18) {
    const int64_t v1 = fin * d.m1;
    if (v1 > t.vco1.lVcoMax * 85LL / 100 || v1 / d.p1 > t.vco1.lFoutMax * 85LL / 100) return true;
  }
  if (d.m2 == 18 || d.p2 == 18) {
    const int64_t v2 = fin * d.m1 / d.p1 * d.m2;
    if (v2 > t.vco2.lVcoMax * 85LL / 100 || v2 / d.p2 > t.vco2.lFoutMax * 85LL / 100) return true;
  }
  return false;
}

std::vector<Candidate> Visit(const PLLDESCRIPTOR& t, int64_t freq, bool firstFit) {
  const bool b90 = t.ulKind == 1;
  const int64_t fin = t.lFin;
  const int64_t limit = firstFit ? (freq * t.lErrLimitPercent / 100) >> 9 : 0;
  const int64_t outDiv = b90 ? 2 : 1;
  std::vector<Candidate> out;
  for (int m2 = t.vco2.lMStart; m2 >= t.vco2.lMEnd; --m2) {
    for (int p2 = t.vco2.lPStart; p2 <= t.vco2.lPEnd; p2 += t.vco2.lPStep) {
      const int64_t want = outDiv * p2 * freq / m2;
      if (!InR(want, t.vco1.lFoutMin, t.vco1.lFoutMax)) continue;
      const int64_t tol = limit * outDiv * p2 / m2;
      // Stage 1: nearest P1 (halves round down) for each M1, the first of
      // equal errors kept.
      int bm1 = 0, bp1 = 0;
      int64_t best = 10000000, bestIf = 0;
      for (int m1 = t.vco1.lMStart; m1 >= t.vco1.lMEnd; --m1) {
        const int64_t v = fin * m1;
        const int64_t p1 = (v + (want - 1) / 2) / want;
        const bool legal = InR(m1, t.vco1.lMMin, t.vco1.lMMax) &&
                           InR(p1, t.vco1.lPMin, t.vco1.lPMax) &&
                           InR(v, t.vco1.lVcoMin, t.vco1.lVcoMax) && p1 != 0 &&
                           InR(v / p1, t.vco1.lFoutMin, t.vco1.lFoutMax) &&
                           (b90 ? m1 >= 1 && m1 <= 64 && p1 <= 32
                                : m1 != 33 && m1 >= 2 && m1 <= 64);
        if (!legal) continue;
        const int64_t e = v / p1 > want ? v / p1 - want : want - v / p1;
        if (e < best) {
          best = e;
          bm1 = m1;
          bp1 = static_cast<int>(p1);
          bestIf = v / p1;
        }
        if (best < tol) break;
      }
      if (bm1 == 0) continue;
      const int64_t achieved = bestIf * m2 / (outDiv * p2);
      if (achieved == 0) continue;
      const int64_t in = outDiv * p2 * achieved / m2;
      const bool legal2 = InR(m2, t.vco2.lMMin, t.vco2.lMMax) &&
                          InR(p2, t.vco2.lPMin, t.vco2.lPMax) &&
                          InR(in * m2, t.vco2.lVcoMin, t.vco2.lVcoMax) &&
                          InR(in * m2 / p2, t.vco2.lFoutMin, t.vco2.lFoutMax) &&
                          (b90 ? p2 <= 16 : p2 % 2 == 0 && p2 <= 64);
      if (!legal2) continue;
      const Dividers d{bm1, bp1, m2, p2};
      // The lock test also checks both VCOs against their ranges.
      const int64_t vco2 = fin * bm1 / bp1 * m2;
      if (!InR(vco2, t.vco2.lVcoMin, t.vco2.lVcoMax)) continue;
      if (!b90 && Derated(t, d)) continue;
      const int64_t error = achieved > freq ? achieved - freq : freq - achieved;
      if (error * 100 * 512 / freq > t.lErrLimitPercent) continue;
      out.push_back({d, achieved, error});
    }
  }
  return out;
}

// The set the search must choose among the visited ones that lock.
struct Choice {
  bool found;
  Dividers d;
  int ties;  // candidates sharing the smallest error
};
Choice Choose(const std::vector<Candidate>& all, bool firstFit,
              const std::function<bool(const Dividers&)>& locks) {
  Choice c{false, {}, 0};
  int64_t best = INT64_MAX;
  for (const Candidate& k : all) {
    if (!locks(k.d)) continue;
    if (firstFit) return {true, k.d, 1};
    if (k.error < best) {
      best = k.error;
      c = {true, k.d, 1};
    } else if (k.error == best) {
      ++c.ties;
    }
  }
  return c;
}

class PllSearch : public testing::Test {
 protected:
  void SetUp() override { g_errors.clear(); }
  FakeFs fs;
};

const int32_t kFrequencies[] = {25175, 31500, 40000, 65000,  74250,  108000,
                                135000, 157500, 162000, 230000, 297000, 400000};

struct SearchCase {
  const char* name;
  uint32_t kind;
  uint32_t searchMode;
  std::function<bool(const Dividers&)> locks;
};

TEST_F(PllSearch, ChoosesWhatTheReferenceSearchChooses) {
  const SearchCase cases[] = {
      {"kind 0 best fit", 0, 1, [](const Dividers&) { return true; }},
      {"kind 0 first fit", 0, 2, [](const Dividers&) { return true; }},
      {"kind 0 best fit, odd M2 never locks", 0, 1,
       [](const Dividers& d) { return d.m2 % 2 == 0; }},
      {"kind 0 first fit, M1 above 40 never locks", 0, 2,
       [](const Dividers& d) { return d.m1 <= 40; }},
      {"kind 1 best fit", 1, 1, [](const Dividers&) { return true; }},
      {"kind 1 first fit", 1, 2, [](const Dividers&) { return true; }},
  };
  int tiesSeen = 0;
  for (const SearchCase& c : cases) {
    for (int32_t f : kFrequencies) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(f) + " kHz");
      FakeFs chip;
      chip.kind = c.kind;
      chip.reg = c.kind == 0 ? kFsReg0 : kB90FsReg0;
      chip.locks = c.locks;
      PLLDESCRIPTOR d = Template(c.kind);
      d.ulSearchMode = c.searchMode;
      const bool firstFit = c.searchMode == 2;
      const Choice want = Choose(Visit(d, f, firstFit), firstFit, c.locks);
      if (!firstFit && want.ties > 1) ++tiesSeen;
      const uint32_t result = pllInit(&chip, 0, kPllOutFs, f, &d);
      if (!want.found) {
        EXPECT_EQ(result, kPllNoDivider);
        continue;
      }
      ASSERT_EQ(result, kPllOk) << g_errors;
      EXPECT_EQ(chip.Current(), want.d);
      // The last two writes program the set: first with the program bit(s),
      // then without.
      ASSERT_GE(chip.writes.size(), 2u);
      const uint32_t program = c.kind == 0 ? 0x80000000u : 0x80200000u;
      EXPECT_EQ(chip.writes[chip.writes.size() - 2].second & program, program);
      EXPECT_EQ(chip.writes.back().second & program, 0u);
      EXPECT_EQ(d.ulLastValue, chip.writes.back().second);
    }
  }
  EXPECT_GT(tiesSeen, 0) << "no row exercised the order between equal errors";
}

TEST_F(PllSearch, RequestsOutsideTheRangeAreClampedWithAWarning) {
  PLLDESCRIPTOR d = Template(0);
  // Above the maximum: the search runs for 1250000 kHz, which no set reaches.
  EXPECT_EQ(pllInit(&fs, 0, kPllOutFs, 2000000, &d), kPllNoDivider);
  EXPECT_NE(g_errors.find("\nWARNING in pll init : out freq 2000000 KHz is out of range\n"
                          "Setting out freq to 1250000 Khz\n"),
            std::string::npos)
      << g_errors;
  // Below the minimum: the search runs for 10000 kHz.
  g_errors.clear();
  const Choice want = Choose(Visit(d, 10000, false), false, fs.locks);
  ASSERT_TRUE(want.found);
  EXPECT_EQ(pllInit(&fs, 0, kPllOutFs, 5000, &d), kPllOk);
  EXPECT_NE(g_errors.find("out freq 5000 KHz is out of range\nSetting out freq to 10000 Khz\n"),
            std::string::npos)
      << g_errors;
  EXPECT_EQ(fs.Current(), want.d);
}

TEST_F(PllSearch, BadArgumentsProgramNothing) {
  PLLDESCRIPTOR d = Template(0);
  EXPECT_EQ(pllInit(&fs, 4, kPllOutFs, 100000, &d), kPllBadAlgorithm);
  EXPECT_EQ(pllInit(&fs, 0, 3, 100000, &d), kPllBadOutputSel);
  for (const auto& w : fs.writes) EXPECT_NE(w.first, kFsReg0);
  EXPECT_NE(g_errors.find("\nERROR PLL1 : invalid parameter type of algorithm 4\n"),
            std::string::npos);
  EXPECT_NE(g_errors.find("\nERROR PLL1 : invalid parameter output selection 3\n"),
            std::string::npos);
}

TEST_F(PllSearch, ALockThatFlickersFailsTheSearch) {
  PLLDESCRIPTOR d = Template(0);
  fs.flickerAt = 37;  // locked at once, then one clear read among the next 100
  EXPECT_EQ(pllInit(&fs, 0, kPllOutFs, 108000, &d), kPllNoDivider);
  EXPECT_NE(g_errors.find("\nERROR PLL1 : VCO1 doesn't lock\n"), std::string::npos);
  EXPECT_NE(g_errors.find("\nERROR PLL1 : didn't found any divider value\n"), std::string::npos);
  EXPECT_EQ(d.vco1.lLastUnlock, 1);
}

TEST_F(PllSearch, LockTestReadsTheBitAtMostPollCountTimes) {
  PLLDESCRIPTOR d = Template(0);
  fs.locks = [](const Dividers&) { return false; };
  EXPECT_EQ(pllHwInit(&fs, kPllOutFs, 40, 5, 10, 2, &d), kPllVco1NoLock);
  EXPECT_EQ(fs.lockReads, 1 + 100);  // the read that builds the word, then 100 polls
  // Without a lock test on VCO1 the same set fails on VCO2.
  d.vco1.lLockSpan = 0;
  EXPECT_EQ(pllHwInit(&fs, kPllOutFs, 40, 5, 10, 2, &d), kPllVco2NoLock);
}

std::vector<uint32_t> g_delays;
void RecordDelay(void*, uint32_t units) { g_delays.push_back(units); }

TEST_F(PllSearch, AFailedVco1StillWaitsTheVco2SettleDelay) {
  PLLDESCRIPTOR d = Template(0);
  d.pfnDelay = RecordDelay;
  d.vco1.ulSettleDelay = 11;
  d.vco2.ulSettleDelay = 23;
  fs.locks = [](const Dividers&) { return false; };
  g_delays.clear();
  EXPECT_EQ(pllHwInit(&fs, kPllOutFs, 40, 5, 10, 2, &d), kPllVco1NoLock);
  EXPECT_EQ(g_delays, (std::vector<uint32_t>{11, 23}));
  EXPECT_EQ(fs.lockReads, 1 + 100) << "VCO2's lock is not tested once VCO1 failed";
  EXPECT_EQ(d.ulLastValue, 0u) << "a failed set is not the last programmed one";
}

TEST_F(PllSearch, WordEncodingAndReadBack) {
  struct Row {
    Dividers d;
    uint32_t fields;  // bits 0-21 expected
  };
  const Row rows[] = {
      {{40, 5, 10, 2}, 0x1D800u | (0x16u << 6) | 0x38u | 0x10000u},  // P2 = 2 is bit 16
      {{32, 3, 32, 64}, (29u << 11)},                                   // all fields wrap to 0
      {{64, 32, 3, 4}, 0x20u | (29u << 6) | (60u << 16)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.d);
    FakeFs chip;
    PLLDESCRIPTOR d = Template(0);
    d.vco1.lLockSpan = d.vco2.lLockSpan = 0;
    ASSERT_EQ(pllHwInit(&chip, kPllOutFs, r.d.m1, r.d.p1, r.d.m2, r.d.p2, &d), kPllOk);
    EXPECT_EQ(chip.writes.back().second & 0x3FFFFFu, r.fields);
    EXPECT_EQ(DecodeKind0(chip.writes.back().second), r.d);
    // Read-back decodes every divider, M1 included.
    EXPECT_EQ(pllGetDivider(&chip, 0, 0, &d), static_cast<uint32_t>(r.d.m1));
    EXPECT_EQ(pllGetDivider(&chip, 0, 1, &d), static_cast<uint32_t>(r.d.p1));
    EXPECT_EQ(pllGetDivider(&chip, 1, 0, &d), static_cast<uint32_t>(r.d.m2));
    EXPECT_EQ(pllGetDivider(&chip, 1, 1, &d), static_cast<uint32_t>(r.d.p2));
  }
}

TEST_F(PllSearch, OtherRegisterBitsSurviveProgramming) {
  PLLDESCRIPTOR d = Template(0);
  d.ulOptionBit = 1;
  fs.regs[kFsReg0] = 0x20C00000u;  // bits 22, 23, 29 belong to others
  ASSERT_EQ(pllHwInit(&fs, kPllOutFs, 40, 5, 10, 2, &d), kPllOk);
  const uint32_t w = fs.writes.back().second;
  EXPECT_EQ(w & 0x20C00000u, 0x20C00000u);
  EXPECT_EQ(w & (1u << 28), 1u << 28);
  EXPECT_EQ(w & (3u << 26), 0u);  // output selection 0
}

TEST_F(PllSearch, DeratedLimitsRejectAnM1Of18) {
  PLLDESCRIPTOR d = Template(0);
  d.vco1.lVcoMin = 400000;
  d.vco1.lVcoMax = 550000;  // 18 x 27000 = 486000 lies above 85 % of it
  // VCO1 486000, Fout1 97200, VCO2 777600, output 388800.
  EXPECT_EQ(pllTestDividers(&fs, 1, kPllOutFs, 388800, 388800, 18, 5, 8, 2, &d), kPllNoDivider);
  EXPECT_TRUE(fs.writes.empty());
  d.vco1.lVcoMax = 600000;  // 85 % = 510000: now it passes
  EXPECT_EQ(pllTestDividers(&fs, 1, kPllOutFs, 388800, 388800, 18, 5, 8, 2, &d), kPllOk);
  EXPECT_EQ(fs.Current(), (Dividers{18, 5, 8, 2}));
}

TEST_F(PllSearch, BestErrorAboveTheKHzLimitProgramsNothing) {
  // Without lock-test spans the candidates pass untested; the best one is
  // then refused against the kHz limit, with the generation's own name.
  struct Row {
    uint32_t kind;
    uint32_t reg;
    const char* message;
  } rows[] = {
      {0, kFsReg0, "\nERROR PLL3 : out frequency error out of limit "},
      {1, kB90FsReg0, "\nERROR FS3 : out frequency error out of limit "},
  };
  for (const Row& row : rows) {
    g_errors.clear();
    FakeFs synth;
    synth.kind = row.kind;
    synth.reg = row.reg;
    PLLDESCRIPTOR d = Template(row.kind);
    d.ulPllNumber = 2;
    d.ulRegOffset = row.reg;
    d.vco1.lLockSpan = 0;
    d.vco2.lLockSpan = 0;
    d.lErrLimitPercent = 0;
    d.lErrLimitKHz = 1;
    EXPECT_EQ(pllInit(&synth, 0, kPllOutFs, 40007, &d), kPllNoDivider) << row.kind;
    EXPECT_NE(g_errors.find(row.message), std::string::npos) << g_errors;
    for (const auto& w : synth.writes) EXPECT_NE(w.first, row.reg) << row.kind;
  }
}

TEST_F(PllSearch, LaterGenerationLowersVco2MinForLowRequests) {
  PLLDESCRIPTOR d = Template(1);
  fs.kind = 1;
  fs.reg = kB90FsReg0;
  d.ulVerbose = 1;
  d.pfnDebugPrint = Collect<&g_debug>;
  g_debug.clear();
  // 3000 kHz lies below 800000 / (2 x 16): the search runs with VCO2 min
  // 2 x 16 x 5000 (the template's stage 1 cannot reach it even so).
  pllInit(&fs, 0, kPllOutFs, 3000, &d);
  const std::string prefix = "\nReject VCO2 is out of limit (";
  int rejects = 0;
  for (size_t at = g_debug.find(prefix); at != std::string::npos;
       at = g_debug.find(prefix, at + 1)) {
    const size_t colon = g_debug.find(" : ", at);
    EXPECT_EQ(g_debug.compare(colon, 18, " : 160000-1600000)"), 0) << g_debug.substr(at, 60);
    ++rejects;
  }
  EXPECT_GT(rejects, 0);
  EXPECT_EQ(d.vco2.lVcoMin, 800000);  // restored
}

TEST_F(PllSearch, LaterGenerationKeepsTheWordInTheShadow) {
  PLLDESCRIPTOR d = Template(1);
  fs.kind = 1;
  fs.reg = kB90FsReg0;
  fs.shadow[kB90FsReg0] = 0xF0A00000u;  // bits 23, 28-30 never carry over; 21 and 31 are program bits
  ASSERT_EQ(pllInit(&fs, 0, kPllOutFs, 65000, &d), kPllOk) << g_errors;
  const Dividers got = fs.Current();
  const int64_t out = 27000LL * got.m1 / got.p1 * got.m2 / (2 * got.p2);
  EXPECT_LE(std::abs(out - 65000), 650);
  const uint32_t last = fs.writes.back().second;
  EXPECT_EQ(fs.shadow[kB90FsReg0], last);
  EXPECT_EQ(last & 0xF0A00000u, 0u);
  EXPECT_EQ(pllGetDivider(&fs, 0, 0, &d), static_cast<uint32_t>(got.m1));
  EXPECT_EQ(pllGetDivider(&fs, 0, 1, &d), static_cast<uint32_t>(got.p1));
  EXPECT_EQ(pllGetDivider(&fs, 1, 0, &d), static_cast<uint32_t>(got.m2));
  EXPECT_EQ(pllGetDivider(&fs, 1, 1, &d), static_cast<uint32_t>(got.p2));
  EXPECT_EQ(pllGetDivider(&fs, 2, 0, &d), 0u);
  EXPECT_NE(g_errors.find("\nInternal ERROR in file 'hwsharing/bri90pll' line "),
            std::string::npos);
  EXPECT_NE(g_errors.find(": invalid VCO selection.\n"), std::string::npos);
}

TEST_F(PllSearch, LaterGenerationOscillatorAndTestCounter) {
  PLLDESCRIPTOR d = Template(1);
  fs.regs[0xE24] = 0x80000000u;  // held, off
  EXPECT_EQ(pllHwOscOn(&fs, &d), 0u);
  ASSERT_EQ(fs.writes.size(), 2u);
  EXPECT_EQ(fs.writes[0].second, 0u);
  EXPECT_EQ(fs.writes[1].second, 0x40000000u);
  EXPECT_EQ(pllHwOscOn(&fs, &d), 0u);  // already running: nothing written
  EXPECT_EQ(fs.writes.size(), 2u);

  EXPECT_EQ(bri90pllInitTestCounter(&fs, 5, 3, &d), 0u);
  EXPECT_EQ(fs.regs[0xE24], 0x40000000u | 3u | (5u << 2) | (3u << 8));
  EXPECT_EQ(bri90pllInitTestCounter(&fs, 20, 3, &d), 0u);
  EXPECT_EQ(fs.regs[0xE24] & 3u, 0u);
  EXPECT_EQ(bri90pllInitTestCounter(&fs, 5, 8, &d), 1u);
  EXPECT_NE(g_errors.find("\nERROR FS1, Invalid divider 8.\n"), std::string::npos);
}

// ---- The search against a straightforward one --------------------------------
// The search skips what cannot change its outcome: multipliers outside the
// M limits and VCO range of a stage, and the candidates after a best fit
// without error. What reaches the synthesizer (every word written, every
// lock read) and the answer must be those of a search that tries every
// multiplier and every candidate, written here as the library's first
// generation did it.

int32_t PlainStageSearch(int32_t fin, int32_t target, int32_t* m, int32_t* p, int32_t tolerance,
                         const PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d) {
  int32_t bestError = 10000000;
  int32_t bestAchieved = 0;
  *m = 0;
  *p = 0;
  if (target <= 0) return 0;
  pllutil::ForEach(vco->lMStart, vco->lMEnd, vco->lMStep, [&](int32_t mm) {
    if (vco->ulVcoIndex == 0 && !pllutil::IsB90(d) && pllutil::Vco1Forbidden(mm)) return true;
    const int64_t freq = static_cast<int64_t>(fin) * mm;
    int64_t pp = freq / target;
    if (freq % target > target / 2) ++pp;
    if (pp > INT_MAX) return true;
    if (pllIsInvalidDividers(fin, mm, static_cast<int32_t>(pp), vco, d) != 0) return true;
    const int64_t achieved = pllutil::Divide(freq, static_cast<int32_t>(pp));
    const int32_t error = pllutil::Abs(achieved - target);
    if (error < bestError) {
      bestError = error;
      bestAchieved = static_cast<int32_t>(achieved);
      *m = mm;
      *p = static_cast<int32_t>(pp);
    }
    return !(bestError < tolerance);
  });
  return bestAchieved;
}

uint32_t PlainInit(void* handle, int32_t frequency, PLLDESCRIPTOR* d) {
  pllHwOscOn(handle, d);
  frequency = pllutil::ClampRequest(kPllOutFs, frequency, d);
  const bool firstFit = d->ulSearchMode == kPllSearchFirstFit;
  pllutil::Best best;
  bool stop = false;
  pllutil::ForEach(d->vco2.lMStart, d->vco2.lMEnd, d->vco2.lMStep, [&](int32_t m2) {
    pllutil::ForEach(d->vco2.lPStart, d->vco2.lPEnd, d->vco2.lPStep, [&](int32_t p2) {
      if (m2 <= 0 || p2 <= 0) return true;
      const int64_t wanted = static_cast<int64_t>(frequency) * p2 / m2;
      if (!pllutil::InRange(wanted, d->vco1.lFoutMin, d->vco1.lFoutMax)) return true;
      const int32_t tolerance =
          firstFit ? static_cast<int32_t>(static_cast<int64_t>(
                         pllutil::FirstFitTolerance(d, frequency)) * p2 / m2)
                   : 0;
      int32_t m1 = 0, p1 = 0;
      const int32_t inter = PlainStageSearch(d->lFin, static_cast<int32_t>(wanted), &m1, &p1,
                                             tolerance, &d->vco1, d);
      const int64_t achieved = static_cast<int64_t>(inter) * m2 / p2;
      if (achieved == 0) return true;
      if (pllIsInvalidDividers(static_cast<int32_t>(achieved * p2 / m2), m2, p2, &d->vco2, d))
        return true;
      stop = pllutil::Consider(handle, kPllOutFs, frequency, m1, p1, m2, p2,
                               static_cast<int32_t>(achieved), &best, d);
      return !stop;
    });
    return !stop;
  });
  return pllutil::Finish(handle, kPllOutFs, frequency, best, "", d);
}

// The FS limits of the boards, in MHz (VCO1, VCO2, intermediate range), and
// a board whose VCO limits are no multiple of the reference crystal.
struct BoardLimits {
  const char* name;
  int32_t mhz[6];
};
constexpr BoardLimits kBoardLimits[] = {
    {"template", {600, 1250, 600, 1250, 50, 400}},
    {"first generation", {600, 1600, 600, 1600, 50, 400}},
    {"later generation", {800, 1600, 800, 1600, 54, 108}},
    {"uneven", {631, 1117, 655, 1301, 61, 293}},
};

TEST(PllSearchShortcuts, WriteAndReadWhatTheFullSearchDoes) {
  struct Mode {
    const char* name;
    uint32_t searchMode;
    std::function<bool(const Dividers&)> locks;
  };
  const Mode modes[] = {
      {"best fit", 1, [](const Dividers&) { return true; }},
      {"best fit, M2 a multiple of 3 never locks", 1,
       [](const Dividers& x) { return x.m2 % 3 != 0; }},
      {"first fit", 2, [](const Dividers&) { return true; }},
  };
  // Every kHz would take minutes here: a dense sample of the range, with
  // the frequencies the reference crystal divides exactly.
  std::vector<int32_t> frequencies;
  for (int32_t f = 4000; f <= 460000; f += 1733) frequencies.push_back(f);
  for (int32_t f = 13500; f <= 460000; f += 13500) frequencies.push_back(f);
  int exact = 0;
  for (const BoardLimits& board : kBoardLimits) {
    for (const Mode& mode : modes) {
      for (int32_t f : frequencies) {
        PLLDESCRIPTOR d = Template(0);
        d.ulSearchMode = mode.searchMode;
        d.vco1.lVcoMin = board.mhz[0] * 1000;
        d.vco1.lVcoMax = board.mhz[1] * 1000;
        d.vco2.lVcoMin = board.mhz[2] * 1000;
        d.vco2.lVcoMax = board.mhz[3] * 1000;
        d.vco1.lFoutMin = board.mhz[4] * 1000;
        d.vco1.lFoutMax = board.mhz[5] * 1000;
        PLLDESCRIPTOR plainD = d;
        FakeFs fast, plain;
        fast.locks = plain.locks = mode.locks;
        g_errors.clear();
        const uint32_t got = pllInit(&fast, 0, kPllOutFs, f, &d);
        const std::string fastErrors = g_errors;
        g_errors.clear();
        const uint32_t want = PlainInit(&plain, f, &plainD);
        const std::string where = std::string(board.name) + ", " + mode.name + ", " + std::to_string(f) + " kHz";
        ASSERT_EQ(got, want) << where;
        ASSERT_EQ(fast.writes, plain.writes) << where;
        ASSERT_EQ(fast.lockReads, plain.lockReads) << where;
        ASSERT_EQ(fastErrors, g_errors) << where;
        ASSERT_EQ(d.ulLastValue, plainD.ulLastValue) << where;
        if (want == kPllOk && plain.Current().m1 != 0 &&
            int64_t{27000} * plain.Current().m1 / plain.Current().p1 * plain.Current().m2 / plain.Current().p2 == f)
          ++exact;
      }
    }
  }
  // Rows where a best fit without error ends the search early.
  EXPECT_GT(exact, 0);
}

TEST(PllSearchShortcuts, StageSearchAnswersWhatTryingEveryMultiplierAnswers) {
  struct Walk {
    int32_t start, end, step;
  };
  // Downwards and upwards, by more than one, and a single value.
  const Walk walks[] = {{64, 2, -1}, {2, 64, 1}, {1, 64, 3}, {64, 1, -5}, {30, 30, 0}, {40, 20, 1}};
  int found = 0;
  for (uint32_t kind : {0u, 1u}) {
    for (const BoardLimits& board : kBoardLimits) {
      for (const Walk& walk : walks) {
        for (int32_t tolerance : {0, 700, 20000}) {
          PLLDESCRIPTOR d = Template(kind);
          d.vco1.lVcoMin = board.mhz[0] * 1000;
          d.vco1.lVcoMax = board.mhz[1] * 1000;
          d.vco1.lFoutMin = board.mhz[4] * 1000;
          d.vco1.lFoutMax = board.mhz[5] * 1000;
          d.vco1.lMStart = walk.start;
          d.vco1.lMEnd = walk.end;
          d.vco1.lMStep = walk.step;
          for (int32_t fin : {27000, 14318, 1}) {
            for (int32_t target = -1000; target <= 500000; target += 2003) {
              int32_t m = -1, p = -1, wantM = -1, wantP = -1;
              const int32_t got = pllSearchStageDividers(fin, target, &m, &p, tolerance, &d.vco1, &d);
              const int32_t want = PlainStageSearch(fin, target, &wantM, &wantP, tolerance, &d.vco1, &d);
              const std::string where = "kind " + std::to_string(kind) + ", " + board.name + ", M " +
                                        std::to_string(walk.start) + ".." + std::to_string(walk.end) +
                                        " by " + std::to_string(walk.step) + ", tolerance " +
                                        std::to_string(tolerance) + ", Fin " + std::to_string(fin) +
                                        ", target " + std::to_string(target);
              ASSERT_EQ(got, want) << where;
              ASSERT_EQ(m, wantM) << where;
              ASSERT_EQ(p, wantP) << where;
              if (want != 0) ++found;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(found, 0);
}

TEST(PllRegisters, OffsetsByNumberAndKind) {
  const struct {
    uint32_t number, kind0, kind1;
  } rows[] = {{0, 0xE10, 0xE30}, {3, 0xE1C, 0xE3C}, {6, 0xE20, 0xE40},
              {7, 0xE2C, 0xE44}, {4, 0xFFFFFFFF, 0xFFFFFFFF}};
  for (const auto& r : rows) {
    PLLDESCRIPTOR d = Template(0);
    d.ulPllNumber = r.number;
    EXPECT_EQ(pllGetRegOffset(&d), r.kind0) << r.number;
    d.ulKind = 1;
    EXPECT_EQ(pllGetRegOffset(&d), r.kind1) << r.number;
  }
}

}  // namespace
