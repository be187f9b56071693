// The timing catalogue: every VESA and CEA-861 row held against the public
// tables as edid-decode prints them, the rows of modes that are not VESA
// modes against GTF, and the look-ups by size, refresh, index and discrete
// identifier.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/hal/discrete_timing.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/tests/external_tool.h"
#include "hwsharing/hal/timing_tables.h"

namespace {

std::unique_ptr<BOARDHANDLE> Handle() {
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  return h;
}

MODEINFO Mode(uint32_t w, uint32_t h, uint32_t zoom = 0) {
  MODEINFO m{};
  m.ulDispWidth = w;
  m.ulDispHeight = h;
  m.ulZoom = zoom;
  return m;
}

// One timing as edid-decode prints it (--dmt, --vic), borders counted in the
// porches as the library's rows hold them.
struct Printed {
  bool ok = false;
  uint32_t w = 0, h = 0, clock = 0;
  double refresh = 0;
  bool interlaced = false, reduced = false, hpos = false, vpos = false;
  uint32_t hfp = 0, hs = 0, hbp = 0, vfp = 0, vs = 0, vbp = 0;
};

Printed Parse(const std::string& text) {
  Printed p;
  std::smatch m;
  const std::regex head(R"((\d+)x(\d+)(i?)\s+([\d.]+) Hz.*?([\d.]+) MHz(.*))");
  if (!std::regex_search(text, m, head)) return p;
  p.w = std::stoul(m[1]);
  p.h = std::stoul(m[2]);
  p.interlaced = m[3] == "i";
  p.refresh = std::stod(m[4]);
  p.clock = static_cast<uint32_t>(std::lround(std::stod(m[5]) * 1000));
  p.reduced = m[6].str().find("(RB") != std::string::npos;
  auto field = [&text](const char* name) {
    std::smatch f;
    return std::regex_search(text, f, std::regex(std::string(name) + R"(\s+(\d+))")) ? std::stoul(f[1]) : 0ul;
  };
  const uint32_t hb = field("Hborder");
  const uint32_t vb = field("Vborder");
  p.hfp = field("Hfront") + hb;
  p.hs = field("Hsync");
  p.hbp = field("Hback") + hb;
  p.vfp = field("Vfront") + vb;
  p.vs = field("Vsync");
  p.vbp = field("Vback") + vb;
  p.hpos = text.find("Hpol P") != std::string::npos;
  p.vpos = text.find("Vpol P") != std::string::npos;
  p.ok = true;
  return p;
}

void ExpectRowIs(const MODEINFO& row, const Printed& p, uint32_t clock, const std::string& name) {
  ASSERT_TRUE(p.ok) << name;
  EXPECT_EQ(row.ulDispWidth, p.w) << name;
  EXPECT_EQ(row.ulDispHeight, p.h) << name;
  EXPECT_EQ(row.ulPixClock, clock) << name;
  EXPECT_EQ(row.ulHFPorch, p.hfp) << name;
  EXPECT_EQ(row.ulHSync, p.hs) << name;
  EXPECT_EQ(row.ulHBPorch, p.hbp) << name;
  EXPECT_EQ(row.ulVFPorch, p.vfp) << name;
  EXPECT_EQ(row.ulVSync, p.vs) << name;
  EXPECT_EQ(row.ulVBPorch, p.vbp) << name;
  EXPECT_EQ((row.flSignalMode & kSignalInterlaced) != 0, p.interlaced) << name;
  const uint32_t total = row.ulDispWidth + row.ulHFPorch + row.ulHSync + row.ulHBPorch;
  EXPECT_EQ(row.ulHorizRate, row.ulPixClock / total) << name;
}

// VESA row and the DMT identifier it transcribes.
struct DmtRow {
  uint32_t row, dmt;
};
const DmtRow kDmtRows[] = {
    {7, 0x01},  {8, 0x02},  {9, 0x04},  {10, 0x05}, {11, 0x06}, {12, 0x07}, {13, 0x03}, {14, 0x0e},
    {15, 0x08}, {16, 0x09}, {17, 0x0a}, {18, 0x0b}, {19, 0x0c}, {20, 0x0f}, {21, 0x10}, {22, 0x11},
    {23, 0x12}, {24, 0x13}, {25, 0x15}, {28, 0x16}, {29, 0x17}, {30, 0x18}, {31, 0x19}, {32, 0x20},
    {33, 0x21}, {34, 0x23}, {35, 0x24}, {36, 0x25}, {37, 0x27}, {38, 0x2e}, {39, 0x2f}, {40, 0x30},
    {41, 0x31}, {42, 0x29}, {43, 0x2a}, {44, 0x2b}, {45, 0x2c}, {46, 0x33}, {47, 0x34}, {48, 0x35},
    {49, 0x36}, {50, 0x37}, {51, 0x39}, {52, 0x3a}, {53, 0x3b}, {54, 0x3c}, {55, 0x3e}, {56, 0x3f},
    {57, 0x41}, {58, 0x42}, {59, 0x45}, {60, 0x44}, {61, 0x46}, {62, 0x47}, {63, 0x49}, {64, 0x4a},
};

TEST(TimingTables, VesaRowsAreThePublicDmtTimings) {
  if (hwtest::FindProgram("edid-decode").empty()) GTEST_SKIP() << "edid-decode is not installed";
  for (const DmtRow& d : kDmtRows) {
    const std::string name = "row " + std::to_string(d.row) + " (DMT " + std::to_string(d.dmt) + ")";
    const Printed p = Parse(hwtest::RunTool({"edid-decode", "--dmt", std::to_string(d.dmt)}).output);
    const MODEINFO& row = VesaParam[d.row];
    ExpectRowIs(row, p, p.clock, name);
    EXPECT_EQ((row.flSignalMode & kSignalHSyncPositive) != 0, p.hpos) << name;
    EXPECT_EQ((row.flSignalMode & kSignalVSyncPositive) != 0, p.vpos) << name;
    const double frames = p.interlaced ? p.refresh / 2 : p.refresh;
    EXPECT_LE(std::fabs(row.ulRefreshRate - frames), 1.0) << name;
    // Reduced-blanking rows are marked, but for the 1920x1200 one, which the
    // look-ups find.
    EXPECT_EQ((row.flSignalMode & kSignalReducedBlankingRow) != 0, p.reduced && d.row != 60) << name;
  }
}

TEST(TimingTables, CeaRowsAreThePublicTimingsAtSixtyHertz) {
  if (hwtest::FindProgram("edid-decode").empty()) GTEST_SKIP() << "edid-decode is not installed";
  size_t rows = 0;
  for (const DTVPARAM& row : DTVParam) {
    if ((row.ulVideoCode & 0xFF) == kDtvEndCode) break;
    ++rows;
    const std::string name = "video code " + std::to_string(row.ulVideoCode);
    const Printed p = Parse(hwtest::RunTool({"edid-decode", "--vic", std::to_string(row.ulVideoCode)}).output);
    // Timings of 59.94 Hz are held in their 60.00 Hz form.
    const bool ntsc = std::fabs(p.refresh - 59.94) < 0.01;
    const uint32_t clock = ntsc ? static_cast<uint32_t>(std::lround(p.clock * 1.001)) : p.clock;
    ExpectRowIs(row.oMode, p, clock, name);
    EXPECT_EQ(row.oMode.ulRefreshRate, static_cast<uint32_t>(std::lround(p.refresh))) << name;
    if (row.ulVideoCode == 2 || row.ulVideoCode == 3) {
      EXPECT_EQ(row.oMode.flSignalMode & 0xC, 0xCu) << name;  // the library's own syncs
    } else {
      EXPECT_EQ((row.oMode.flSignalMode & kSignalHSyncPositive) != 0, p.hpos) << name;
      EXPECT_EQ((row.oMode.flSignalMode & kSignalVSyncPositive) != 0, p.vpos) << name;
    }
  }
  EXPECT_EQ(rows, kDtvRows - 1);
}

TEST(TimingTables, RowsOfModesThatAreNotVesaModes) {
  // Rows 1-6 are GTF timings; row 0 and the zoom rows are the library's own.
  for (uint32_t i = 1; i <= 6; ++i) {
    const MODEINFO& row = VesaParam[i];
    MODEINFO g = Mode(row.ulDispWidth, row.ulDispHeight);
    ASSERT_EQ(HALPGetVerticalGTFParams(&g, row.ulRefreshRate), 1u) << i;
    EXPECT_EQ(row.ulPixClock, g.ulPixClock) << i;
    EXPECT_EQ(row.ulHFPorch, g.ulHFPorch) << i;
    EXPECT_EQ(row.ulHSync, g.ulHSync) << i;
    EXPECT_EQ(row.ulHBPorch, g.ulHBPorch) << i;
    EXPECT_EQ(row.ulVFPorch, g.ulVFPorch) << i;
    EXPECT_EQ(row.ulVSync, g.ulVSync) << i;
    EXPECT_EQ(row.ulVBPorch, g.ulVBPorch) << i;
    EXPECT_EQ(row.flSignalMode, g.flSignalMode) << i;
  }
  EXPECT_EQ(VesaParam[0].ulPixClock, 12918u);
  EXPECT_EQ(VesaParam[0].ulHFPorch + VesaParam[0].ulHSync + VesaParam[0].ulHBPorch, 88u);
  EXPECT_EQ(VesaParam[27].ulPixClock, 110150u);
  EXPECT_EQ(VesaParam[27].ulHFPorch, 128u);
  EXPECT_EQ(VesaParam[65].ulDispWidth, kVesaEndWidth);
}

TEST(TimingTables, EstablishedRowsAreTheVesaTimingsOfTheirBits) {
  struct Bit {
    uint32_t row, w, h, refresh;
  };
  // Row 8 x k + b: EDID byte 35 + k, bit b.
  const Bit offered[] = {{0, 800, 600, 60},    {1, 800, 600, 56},   {2, 640, 480, 75},  {3, 640, 480, 72},
                         {5, 640, 480, 60},    {8, 1280, 1024, 75}, {9, 1024, 768, 75}, {10, 1024, 768, 70},
                         {11, 1024, 768, 60},  {12, 1024, 768, 43}, {14, 800, 600, 75}, {15, 800, 600, 72}};
  uint32_t offeredRows = 0;
  for (const Bit& b : offered) {
    const MODEINFO& row = EstabParam[b.row];
    EXPECT_EQ(row.ulDispWidth, b.w) << b.row;
    EXPECT_EQ(row.ulDispHeight, b.h) << b.row;
    EXPECT_EQ(row.ulRefreshRate, b.refresh) << b.row;
    const MODEINFO q = Mode(b.w, b.h);
    const MODEINFO* vesa = FindVesaRow(&q, b.refresh);
    ASSERT_NE(vesa, nullptr) << b.row;
    EXPECT_EQ(std::memcmp(&row, vesa, sizeof(MODEINFO)), 0) << b.row;
    offeredRows |= 1u << b.row;
  }
  for (uint32_t i = 0; i < kEstabRows; ++i) {
    if (!(offeredRows & (1u << i))) {
      EXPECT_EQ(EstabParam[i].ulDispWidth, 0u) << i;
    }
  }
}

TEST(TimingTables, VesaLookUpsBySize) {
  auto h = Handle();
  // n = 0 is the standard 1280x768 timing, never the reduced-blanking row.
  MODEINFO m = Mode(1280, 768);
  EXPECT_EQ(HALGetVESAParameters(h.get(), &m, 0), kHalOk);
  EXPECT_EQ(m.ulPixClock, 79500u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
  m = Mode(1280, 768);
  EXPECT_EQ(HALGetVESAParameters(h.get(), &m, 2), kHalOk);
  EXPECT_EQ(m.ulRefreshRate, 85u);
  MODEINFO untouched = Mode(1280, 768);
  EXPECT_EQ(HALGetVESAParameters(h.get(), &untouched, 3), kErrVesaNotEnoughRows);
  EXPECT_EQ(untouched.ulPixClock, 0u);
  m = Mode(1366, 768);
  EXPECT_EQ(HALGetVESAParameters(h.get(), &m, 0), kErrVesaNoRow);

  // The reduced-blanking 1920x1200 row carries no mark and is found second.
  m = Mode(1920, 1200);
  EXPECT_EQ(HALGetVESAParameters(h.get(), &m, 1), kHalOk);
  EXPECT_EQ(m.ulPixClock, 154000u);
  EXPECT_EQ(m.flSignalMode, kSignalHSyncPositive);
}

TEST(TimingTables, VesaModeMatchesZoom) {
  auto h = Handle();
  struct Case {
    uint32_t zoom;
    HALSTATUS status;
    uint32_t clock;
  };
  const Case cases[] = {{4, kHalOk, 110150}, {2, kHalOk, 108000}, {1, kHalOk, 108000}, {0, kErrVesaNoRow, 0},
                        {3, kErrVesaNoRow, 0}};
  for (const Case& c : cases) {
    MODEINFO m = Mode(1152, 864, c.zoom);
    EXPECT_EQ(HALGetVESAMode(h.get(), &m, 75), c.status) << c.zoom;
    EXPECT_EQ(m.ulPixClock, c.clock) << c.zoom;
  }
  MODEINFO m = Mode(1024, 768);
  EXPECT_EQ(HALGetVESAMode(h.get(), &m, 70), kHalOk);
  EXPECT_EQ(m.ulPixClock, 75000u);
  EXPECT_EQ(m.ulHorizRate, 56u);  // 56.476 kHz, truncated
}

TEST(TimingTables, VesaLookUpByIndex) {
  auto h = Handle();
  MODEINFO m = Mode(1, 1, 3);
  EXPECT_EQ(HALGetVESAParametersByIndex(h.get(), &m, 9), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 640u);
  EXPECT_EQ(m.ulDispHeight, 480u);
  EXPECT_EQ(m.ulPixClock, 25175u);
  EXPECT_EQ(m.ulZoom, 3u);  // not a timing field
  EXPECT_EQ(HALGetVESAParametersByIndex(h.get(), &m, 65), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 0xFFFFFFFFu);
  m = Mode(1, 1);
  EXPECT_EQ(HALGetVESAParametersByIndex(h.get(), &m, 66), kErrVesaIndex);
  EXPECT_EQ(m.ulDispWidth, 1u);
  EXPECT_EQ(HALGetVESATableLenght(), 66u);
}

TEST(TimingTables, CeaLookUps) {
  auto h = Handle();
  MODEINFO m = Mode(1920, 1080);
  EXPECT_EQ(HALEnumerateDTVParameters(h.get(), &m, 0), kHalOk);
  EXPECT_EQ(m.ulPixClock, 74250u);  // code 5, interlaced, first in code order
  EXPECT_EQ(m.flSignalMode, 13u);
  m = Mode(1920, 1080);
  m.ulRefreshRate = 50;
  EXPECT_EQ(HALGetDTVParametersForResolution(h.get(), &m, 1), kHalOk);
  EXPECT_EQ(m.ulPixClock, 148500u);  // code 31
  EXPECT_EQ(m.ulHFPorch, 528u);
  m = Mode(1920, 1080);
  m.ulRefreshRate = 48;
  EXPECT_EQ(HALGetDTVParametersForResolution(h.get(), &m, 0), kErrDtvNoRow);
  // An error already held stops both.
  h->status = kErrDtvNoRow;
  m = Mode(720, 576);
  EXPECT_EQ(HALEnumerateDTVParameters(h.get(), &m, 0), kErrDtvNoRow);
  EXPECT_EQ(m.ulPixClock, 0u);

  // By code: the native bit is not stripped here.
  m = Mode(0, 0);
  EXPECT_EQ(HALPGetDTVParametersFromVideoCode(&m, 0x85), 0u);
  EXPECT_EQ(HALPGetDTVParametersFromVideoCode(&m, 0x105), 1u);  // the low byte counts
  EXPECT_EQ(m.ulDispWidth, 1920u);
  EXPECT_EQ(m.ulDispHeight, 1080u);
  EXPECT_EQ(HALPGetDTVParametersFromVideoCode(&m, 2), 1u);
  EXPECT_EQ(m.ulPixClock, 27027u);
  EXPECT_EQ(m.ulVFPorch, 9u);
}

TEST(DiscreteTimings, GroupsAndMembersEnumerate) {
  auto h = Handle();
  uint32_t group = 99;
  for (uint32_t n = 0; n < 5; ++n) {
    EXPECT_EQ(HALEnumDiscreteVidParmGroupID(h.get(), n, &group), kHalOk);
    EXPECT_EQ(group, n);
  }
  EXPECT_EQ(HALEnumDiscreteVidParmGroupID(h.get(), 5, &group), kErrDiscreteIdRange);

  struct Case {
    uint32_t group, index;
    HALSTATUS status;
    uint32_t id;
  };
  const Case cases[] = {
      {0, 0, kHalOk, 0},
      {0, 55, kHalOk, 55},
      {0, 56, kErrDiscreteIdRange, 0},  // the end row
      {0, 57, kErrDiscreteIdRange, 0},
      {1, 2, kHalOk, 0x10002},
      {1, 38, kHalOk, 0x10026},
      {1, 39, kErrDiscreteIdRange, 0},
      {2, 23, kHalOk, 0x20017},
      {2, 24, kErrDiscreteIdRange, 0},
      // The CVT groups hold identifiers below their member counts.
      {3, 0x3FFF, kHalOk, 0x33FFF},
      {3, 0x4000, kErrDiscreteIdRange, 0},
      {4, 8191, kHalOk, 0x41FFF},
      {4, 8192, kErrDiscreteIdRange, 0},
      {5, 0, kErrDiscreteIdRange, 0},
  };
  for (const Case& c : cases) {
    uint32_t id = 0;
    EXPECT_EQ(HALEnumDiscreteVidParmID(h.get(), c.group, c.index, &id), c.status) << c.group << "/" << c.index;
    EXPECT_EQ(id, c.id) << c.group << "/" << c.index;
  }
  h->status = 0;
  EXPECT_EQ(HALPGetDiscreteVidParmGroupInformation(h.get()), kErrDiscreteIdRange);
  h->status = 0xC0000001;
  EXPECT_EQ(HALPGetDiscreteVidParmGroupInformation(h.get()), 0xC0000001u);
}

TEST(DiscreteTimings, IdentifiersNameTheirTimings) {
  auto h = Handle();
  // Group 3: e2 = 4, e3 = 1, refresh index 1, aspect 4:3: 64x48 CVT at 60 Hz.
  MODEINFO m = Mode(0, 0);
  HALPGetDiscreteVideoParameters(h.get(), &m, 0x30414);
  EXPECT_EQ(m.ulDispWidth, 64u);
  EXPECT_EQ(m.ulDispHeight, 48u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
  EXPECT_EQ(m.ulVSync, 4u);

  // Group 3 with 2^8 x 3 = 768 lines, aspect 4:3 at 85 Hz: the CVT timing.
  h->status = 0;
  m = Mode(0, 0);
  HALPGetDiscreteVideoParameters(h.get(), &m, 0x30000 | (3u << 10) | (1u << 4) | 8);
  EXPECT_EQ(m.ulDispWidth, 1024u);
  EXPECT_EQ(m.ulDispHeight, 768u);
  MODEINFO cvt = Mode(1024, 768);
  HALGetVerticalCVTParams(h.get(), &cvt, 85, 0);
  EXPECT_EQ(m.ulPixClock, cvt.ulPixClock);

  // Group 4: 1200 = 2^4 x 3 x 5^2, aspect 16:10 at 60 Hz, reduced blanking.
  h->status = 0;
  m = Mode(0, 0);
  HALPGetDiscreteVideoParameters(h.get(), &m, 0x40000 | (4u << 11) | (2u << 7) | (1u << 4) | 4);
  EXPECT_EQ(m.ulDispWidth, 1920u);
  EXPECT_EQ(m.ulDispHeight, 1200u);
  EXPECT_EQ(m.ulPixClock, 154000u);
  EXPECT_EQ(h->status, kHalOk);

  // An aspect index past the five pairs changes nothing.
  h->status = 0;
  m = Mode(7, 7);
  EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &m, 0x30000 | (5u << 12)), kErrDiscreteIdRange);
  EXPECT_EQ(m.ulDispWidth, 7u);

  // Group 0: DMT identifier 25 is VESA row 34, 1280x1024 at 60 Hz.
  h->status = 0;
  m = Mode(0, 0);
  EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &m, 25), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 1280u);
  EXPECT_EQ(m.ulPixClock, 108000u);
  // Groups 1 and 2 name TV-encoder modes: the encoder's row of their code.
  const struct {
    uint32_t identifier, code;
  } tv[] = {{0x10000, 37}, {0x20017, 109}};
  for (const auto& t : tv) {
    MODEINFO want = Mode(0, 0), got = Mode(0, 0);
    ASSERT_EQ(HSLCHRGetTVModeInfoByVideoCode(h.get(), &want, t.code), kHalOk) << t.code;
    EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &got, t.identifier), kHalOk);
    EXPECT_NE(got.ulDispWidth, 0u) << t.code;
    EXPECT_EQ(got.ulDispWidth, want.ulDispWidth) << t.code;
    EXPECT_EQ(got.ulDispHeight, want.ulDispHeight) << t.code;
    EXPECT_EQ(got.ulPixClock, want.ulPixClock) << t.code;
    EXPECT_EQ(got.flSignalMode, want.flSignalMode) << t.code;
  }
  m = Mode(7, 7);
  EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &m, 0x20018), kHalOk);  // no such row
  EXPECT_EQ(m.ulDispWidth, 7u);

  // An identifier that no row has and a group above 4 leave everything alone.
  m = Mode(0, 0);
  EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &m, 77), kHalOk);
  EXPECT_EQ(HALPGetDiscreteVideoParameters(h.get(), &m, 0x50000), kHalOk);
  EXPECT_EQ(m.ulDispWidth, 0u);
}

}  // namespace
