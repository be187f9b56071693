// GTF and CVT in integer arithmetic: the rounding helpers, the vertical sync
// rule and whole timings whose every field is known.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/gtf_cvt.h"

namespace {

MODEINFO Mode(uint32_t w, uint32_t h) {
  MODEINFO m{};
  m.ulDispWidth = w;
  m.ulDispHeight = h;
  return m;
}

std::unique_ptr<BOARDHANDLE> Handle() {
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  return h;
}

TEST(GtfCvtArithmetic, RoundingDivisionsRoundHalvesUpAndGiveZeroForZero) {
  struct Case {
    uint32_t a, b, rounded, truncated;
  };
  const Case cases[] = {
      {5, 2, 3, 2},          {7, 3, 2, 2},  {8, 3, 3, 2}, {9, 6, 2, 1}, {8, 6, 1, 1},
      {0, 5, 0, 0},          {17, 0, 0, 0}, {0, 0, 0, 0},
      {0xFFFFFFFFu, 2, 0x80000000u, 0x7FFFFFFFu},  // the remainder test must not overflow
      {0xFFFFFFFFu, 0xFFFFFFFEu, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HALPGTFRoundDiv(c.a, c.b), c.rounded) << c.a << " / " << c.b;
    EXPECT_EQ(HALPCVTRoundDiv(c.a, c.b), c.rounded) << c.a << " / " << c.b;
    EXPECT_EQ(HALPCVTRoundDownDiv(c.a, c.b), c.truncated) << c.a << " / " << c.b;
  }
}

TEST(GtfCvtArithmetic, SquareRootIsTheNearestIntegerAndAlwaysEnds) {
  EXPECT_EQ(HALPGTFSqrt(490000, 300), 700u);
  EXPECT_EQ(HALPGTFSqrt(491401, 300), 701u);
  EXPECT_EQ(HALPGTFSqrt(1000000, 300), 1000u);
  EXPECT_EQ(HALPGTFSqrt(1001000, 300), 1000u);  // 1000.5^2 = 1001000.25
  EXPECT_EQ(HALPGTFSqrt(1001001, 300), 1001u);
  // Larger than the square of any 16-bit number: the search stops at 65,536.
  EXPECT_EQ(HALPGTFSqrt(0xFFFFFFFFu, 300), 65536u);
}

TEST(GtfCvtArithmetic, VerticalSyncLinesFollowTheAspectRatio) {
  struct Case {
    uint32_t w, h, lines;
  };
  const Case cases[] = {
      {1024, 768, 4}, {1280, 720, 5},   {1360, 768, 5}, {1920, 1200, 6}, {1280, 1024, 7},
      {1280, 768, 7},  // 15:9
      {1366, 768, 10}, {1024, 0, 0},
  };
  for (const Case& c : cases) {
    const MODEINFO m = Mode(c.w, c.h);
    EXPECT_EQ(HALPGetCVTVSyncLines(&m), c.lines) << c.w << "x" << c.h;
  }
}

// Timings whose every value is known, from the published examples of each
// formula.
struct Known {
  const char* name;
  int kind;  // 0 GTF, 1 CVT, 2 CVT reduced blanking
  uint32_t w, h, r;
  uint32_t clock, hrate, refresh;
  uint32_t hfp, hs, hbp, vfp, vs, vbp;
  uint32_t signal;
};
const Known kKnown[] = {
    {"GTF 640x480@60", 0, 640, 480, 60, 23873, 30, 60, 16, 64, 80, 1, 3, 13, 8},
    {"GTF 1024x768@60", 0, 1024, 768, 60, 64122, 48, 60, 56, 104, 160, 1, 3, 23, 8},
    {"CVT 1024x768@60", 1, 1024, 768, 60, 63500, 48, 60, 48, 104, 152, 3, 4, 23, 8},
    {"CVT 1920x1080@60", 1, 1920, 1080, 60, 173000, 67, 60, 128, 200, 328, 3, 5, 32, 8},
    {"CVT 1280x1024@60", 1, 1280, 1024, 60, 109000, 64, 60, 80, 136, 216, 3, 7, 29, 8},
    {"CVT-RB 1920x1200@60", 2, 1920, 1200, 60, 154000, 74, 60, 48, 32, 80, 3, 6, 26, 4},
    {"CVT-RB 1024x768@60", 2, 1024, 768, 60, 56000, 47, 60, 48, 32, 80, 3, 4, 15, 4},
};

TEST(GtfCvtTimings, KnownTimingsComeOutExactly) {
  auto h = Handle();
  for (const Known& k : kKnown) {
    MODEINFO m = Mode(k.w, k.h);
    m.ulHBorder = m.ulVBorder = 7;
    if (k.kind == 0) {
      EXPECT_EQ(HALGetVerticalGTFParams(h.get(), &m, k.r), kHalOk) << k.name;
    } else {
      EXPECT_EQ(HALGetVerticalCVTParams(h.get(), &m, k.r, k.kind == 2 ? 1 : 0), kHalOk) << k.name;
    }
    EXPECT_EQ(m.ulPixClock, k.clock) << k.name;
    EXPECT_EQ(m.ulHorizRate, k.hrate) << k.name;
    EXPECT_EQ(m.ulRefreshRate, k.refresh) << k.name;
    EXPECT_EQ(m.ulHFPorch, k.hfp) << k.name;
    EXPECT_EQ(m.ulHSync, k.hs) << k.name;
    EXPECT_EQ(m.ulHBPorch, k.hbp) << k.name;
    EXPECT_EQ(m.ulVFPorch, k.vfp) << k.name;
    EXPECT_EQ(m.ulVSync, k.vs) << k.name;
    EXPECT_EQ(m.ulVBPorch, k.vbp) << k.name;
    EXPECT_EQ(m.flSignalMode, k.signal) << k.name;
    EXPECT_EQ(m.ulDispWidth, k.w) << k.name;
    // CVT clears the borders, GTF leaves them.
    EXPECT_EQ(m.ulHBorder, k.kind == 0 ? 7u : 0u) << k.name;
  }
}

TEST(GtfCvtTimings, PartsTotalsOfThePublishedExamples) {
  auto h = Handle();
  MODEINFO m = Mode(640, 480);
  HALGetVerticalGTFParams(h.get(), &m, 60);
  EXPECT_EQ(m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch, 800u);
  EXPECT_EQ(m.ulDispHeight + m.ulVFPorch + m.ulVSync + m.ulVBPorch, 497u);
  m = Mode(1920, 1080);
  HALGetVerticalCVTParams(h.get(), &m, 60, 0);
  EXPECT_EQ(m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch, 2576u);
  EXPECT_EQ(m.ulDispHeight + m.ulVFPorch + m.ulVSync + m.ulVBPorch, 1120u);
  m = Mode(1920, 1200);
  HALGetVerticalCVTParams(h.get(), &m, 60, 1);
  EXPECT_EQ(m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch, 2080u);
  EXPECT_EQ(m.ulDispHeight + m.ulVFPorch + m.ulVSync + m.ulVBPorch, 1235u);
}

TEST(GtfCvtTimings, HorizontalRateAndPixelClockFormsRoundTheWidthToACell) {
  auto h = Handle();
  // 1021 pixels are 128 cells; the forms answer for 1024.
  MODEINFO m = Mode(1021, 768);
  EXPECT_EQ(HALGetHorizontalGTFParams(h.get(), &m, 48), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 1024u);
  EXPECT_EQ(m.ulHorizRate, 48u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
  EXPECT_EQ(m.ulHFPorch + m.ulHSync + m.ulHBPorch, 320u);  // the GTF 1024x768 line
  // The total over the line period in whole 10-ns ticks (2,083).
  EXPECT_EQ(m.ulPixClock, 64522u);

  m = Mode(1021, 768);
  EXPECT_EQ(HALGetPixelClockGTFParams(h.get(), &m, 64000), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 1024u);
  EXPECT_EQ(m.ulPixClock, 64000u);
  EXPECT_EQ(m.ulHFPorch, 56u);
  EXPECT_EQ(m.ulHSync, 104u);
  EXPECT_EQ(m.ulHBPorch, 160u);
  EXPECT_EQ(m.ulVBPorch, 23u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
}

TEST(GtfCvtTimings, EntriesClearTheStatusAndReportInvalidResults) {
  auto h = Handle();
  struct Case {
    const char* name;
    HALSTATUS (*run)(BOARDHANDLE*, MODEINFO*);
    uint32_t w, hgt;
    HALSTATUS expected;
  };
  const Case cases[] = {
      // 320x200 at 75 Hz: GTF's blanking leaves the front porch negative.
      {"vertical GTF", [](BOARDHANDLE* b, MODEINFO* m) { return HALGetVerticalGTFParams(b, m, 75); }, 320, 200,
       kErrGtfVerticalInvalid},
      {"CVT without height", [](BOARDHANDLE* b, MODEINFO* m) { return HALGetVerticalCVTParams(b, m, 60, 0); }, 640, 0,
       kErrCvtInvalid},
      // One cell: no blanking, so no sync.
      {"horizontal GTF", [](BOARDHANDLE* b, MODEINFO* m) { return HALGetHorizontalGTFParams(b, m, 30); }, 8, 8,
       kErrGtfHorizontalInvalid},
      {"pixel-clock GTF", [](BOARDHANDLE* b, MODEINFO* m) { return HALGetPixelClockGTFParams(b, m, 1000); }, 8, 8,
       kErrGtfPixelClockInvalid},
      {"reduced CVT is never invalid",
       [](BOARDHANDLE* b, MODEINFO* m) { return HALGetVerticalCVTParams(b, m, 60, 1); }, 640, 0, kHalOk},
      {"valid GTF", [](BOARDHANDLE* b, MODEINFO* m) { return HALGetVerticalGTFParams(b, m, 60); }, 800, 600, kHalOk},
  };
  for (const Case& c : cases) {
    h->status = 0xC0000001;  // a fatal code of an earlier call
    MODEINFO m = Mode(c.w, c.hgt);
    EXPECT_EQ(c.run(h.get(), &m), c.expected) << c.name;
    EXPECT_EQ(h->status, c.expected) << c.name;
  }
  // The invalid result is written all the same.
  MODEINFO m = Mode(320, 200);
  EXPECT_EQ(HALPGetVerticalGTFParams(&m, 75), 0u);
  EXPECT_EQ(m.ulRefreshRate, 75u);
  EXPECT_NE(m.ulPixClock, 0u);
}

TEST(GtfCvtTimings, LongLinePeriodsTakeTheDutyCycleFloor) {
  // 64x48 at 60 Hz: a 316 us line, far beyond where the ideal duty cycle
  // reaches 20 %; the blanking is 20 % of the total, rounded to two cells.
  auto h = Handle();
  MODEINFO m = Mode(64, 48);
  EXPECT_EQ(HALGetVerticalCVTParams(h.get(), &m, 60, 0), kErrCvtInvalid);  // its sync rounds to 0
  EXPECT_EQ(m.ulHFPorch + m.ulHSync + m.ulHBPorch, 16u);
  EXPECT_EQ(m.ulVSync, 4u);
}

}  // namespace
