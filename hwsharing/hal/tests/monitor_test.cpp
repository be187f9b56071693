// Monitor records derived from a stored EDID: properties, resolution, rate
// and clock limits, aspect ratio, and the timing queries with their errors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/tests/edid_fixture.h"

namespace {

using hwtest::Edid1;

struct Board {
  std::unique_ptr<BOARDHANDLE> h = std::make_unique<BOARDHANDLE>();
  Board() { std::memset(h.get(), 0, sizeof(BOARDHANDLE)); }
  BOARDHANDLE* operator->() { return h.get(); }
  BOARDHANDLE* get() { return h.get(); }

  // Stores an EDID on an output as a successful read leaves it.
  MONITORINFO& Attach(uint32_t output, const uint8_t* edid) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    std::memcpy(mi.aucEdid, edid, kEdidBufferSize);
    mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
    mi.ulEdidVersion = HALPGetEDIDVersion(edid);
    return mi;
  }
  void Derive(uint32_t output) {
    HALPGetMonitorProperties(get(), output);
    HALPGetEdidModes(get(), output);
    HALPGetMonitorMinimalResolution(get(), output);
    HALPGetMonitorMaximalResolution(get(), output);
    HALPGetMonitorLimits(get(), output);
    HALPGetMonitorAspectRatio(get(), output);
  }
};

MODEINFO Query(uint32_t w, uint32_t h, uint32_t flOutput = 0) {
  MODEINFO m{};
  m.ulDispWidth = w;
  m.ulDispHeight = h;
  m.ulZoom = 1;
  m.flOutput = flOutput;
  return m;
}

TEST(MonitorRecord, PropertiesFromAnEdid1Block) {
  Board b;
  Edid1 e;
  e[20] = 0x80;   // digital input
  e[24] |= 0x01;  // GTF
  e.SetDetailed(0, hwtest::Timing1080p()).SetStandard(0, 0x81, 0x80);
  MONITORINFO& mi = b.Attach(0, e.data());
  b->ulOutputCaps = kCapsFirstAnalog;  // no digital output on the board
  HALPGetMonitorProperties(b.get(), 0);
  EXPECT_EQ(mi.ulVendorProduct, (uint32_t{e[8]} << 24) | (e[9] << 16) | (e[10] << 8) | e[11]);
  EXPECT_EQ(mi.flMonitor & kMonitorDigital, 0u);
  EXPECT_EQ(mi.flMonitor & kMonitorGtf, kMonitorGtf);
  EXPECT_EQ(mi.ulPreferredWidth, 1920u);
  EXPECT_EQ(mi.ulPreferredHeight, 1080u);
  EXPECT_EQ(mi.ulPreferredRefresh, 60u);

  b->ulOutputCaps = 0x100;  // a digital panel output
  HALPGetMonitorProperties(b.get(), 0);
  EXPECT_EQ(mi.flMonitor & kMonitorDigital, kMonitorDigital);

  // Without a preferred timing a digital monitor is taken at its largest
  // mode; an analog one has none.
  e[24] &= ~0x02;
  e.Seal();
  b.Attach(0, e.data());
  HALPGetMonitorProperties(b.get(), 0);
  EXPECT_EQ(mi.ulPreferredWidth, 1920u);
  EXPECT_EQ(mi.ulPreferredHeight, 1080u);
  e.SetStandard(1, 0xA9, 0x40);  // 1600x1200 is larger
  b.Attach(0, e.data());
  HALPGetMonitorProperties(b.get(), 0);
  EXPECT_EQ(mi.ulPreferredWidth, 1920u);
  e[20] = 0x08;
  e.Seal();
  b.Attach(0, e.data());
  HALPGetMonitorProperties(b.get(), 0);
  EXPECT_EQ(mi.ulPreferredWidth, 0u);
}

TEST(MonitorRecord, RangeDescriptorLimitsAreDerated) {
  struct Case {
    uint8_t vmax, hmax, clock;
    uint32_t maxV, maxH, maxClock;
  };
  const Case cases[] = {
      {75, 83, 16, 74, 82, 157600},
      {200, 255, 34, 197, 252, 334900},
      {60, 30, 0, 60, 30, 0},
  };
  for (const Case& c : cases) {
    Board b;
    Edid1 e;
    e.SetDetailed(0, hwtest::Timing1080p()).SetRange(2, 50, c.vmax, 28, c.hmax, c.clock);
    MONITORINFO& mi = b.Attach(0, e.data());
    b.Derive(0);
    EXPECT_EQ(mi.ulMinVRate, 50u) << +c.vmax;
    EXPECT_EQ(mi.ulMaxVRate, c.maxV) << +c.vmax;
    EXPECT_EQ(mi.ulMinHRate, 28u) << +c.vmax;
    EXPECT_EQ(mi.ulMaxHRate, c.maxH) << +c.vmax;
    EXPECT_EQ(mi.ulMaxPixClock, c.maxClock) << +c.vmax;
    EXPECT_EQ(mi.ulImageWidthMm, 520u);
    EXPECT_EQ(mi.ulImageHeightMm, 320u);
    EXPECT_EQ(b->status, kHalOk);
  }
}

TEST(MonitorRecord, LimitsFromTheTimingsWithoutARangeDescriptor) {
  Board b;
  Edid1 e;
  // Established 640x480 at 60, 72, 75; standard 1280x1024 at 60 and 75.
  e.SetEstablished(0, 0x2C).SetStandard(0, 0x81, 0x80).SetStandard(1, 0x81, 0x8F);
  e.SetDetailed(0, {10800, 1280, 408, 1024, 42, 48, 112, 1, 3});
  // The same EDID on output 2, and a different monitor on output 1: each
  // output's limits come from its own EDID.
  Edid1 other;
  other.SetEstablished(0, 0x01).SetDetailed(0, {4000, 800, 256, 600, 28, 40, 128, 1, 4});
  MONITORINFO& m0 = b.Attach(0, e.data());
  b.Attach(1, other.data());
  MONITORINFO& m2 = b.Attach(2, e.data());
  b.Derive(1);
  b.Derive(0);
  b.Derive(2);
  for (const MONITORINFO* mi : {&m0, &m2}) {
    EXPECT_EQ(mi->ulMinResWidth, 640u);
    EXPECT_EQ(mi->ulMaxResWidth, 1280u);
    EXPECT_EQ(mi->ulMaxResHeight, 1024u);
    EXPECT_EQ(mi->ulMinVRate, 60u);
    EXPECT_EQ(mi->ulMaxVRate, 75u);
    EXPECT_EQ(mi->ulMinHRate, 31u);   // 640x480 at 60: 31.469 kHz, truncated
    EXPECT_EQ(mi->ulMaxHRate, 79u);   // 1280x1024 at 75
    EXPECT_EQ(mi->ulMaxPixClock, 135000u);
  }
  EXPECT_EQ(b->aMonitorInfo[1].ulMaxPixClock, 40000u);
  EXPECT_EQ(b->status, kHalOk);  // running out of timings is no error
}

TEST(MonitorRecord, AFullModeListStillHasAMaximalResolution) {
  Board b;
  Edid1 e;
  e.SetDetailed(0, hwtest::Timing1080p());
  MONITORINFO& mi = b.Attach(0, e.data());
  b.Derive(0);
  // 64 entries, the widest last.
  for (uint32_t i = 0; i < kEdidModeEntries; ++i) mi.aEdidModes[i] = {640 + 16 * i, 480, 60, kEdidModeStandard};
  mi.aEdidModes[kEdidModeEntries - 1] = {1920, 1080, 60, kEdidModePreferred};
  mi.ulMaxResWidth = mi.ulMaxResHeight = 0;
  mi.ulMaxPixClock = 0;
  HALPGetMonitorMinimalResolution(b.get(), 0);
  HALPGetMonitorMaximalResolution(b.get(), 0);
  EXPECT_EQ(mi.ulMinResWidth, 640u);
  EXPECT_EQ(mi.ulMaxResWidth, 1920u);
  EXPECT_EQ(mi.ulMaxResHeight, 1080u);
  HALPGetMonitorLimits(b.get(), 0);
  EXPECT_EQ(mi.ulMaxPixClock, 148500u);
}

TEST(MonitorRecord, MonitorsWithoutEdid) {
  Board b;
  MONITORINFO& sensed = b->aMonitorInfo[1];
  sensed.flMonitor = kMonitorPresent;
  b.Derive(1);
  EXPECT_EQ(sensed.ulMinResWidth, 640u);
  EXPECT_EQ(sensed.ulMinResHeight, 400u);
  EXPECT_EQ(sensed.ulMaxResWidth, 640u);
  EXPECT_EQ(sensed.ulMaxResHeight, 480u);
  EXPECT_EQ(sensed.flAspectRatio, kAspectWide);
  EXPECT_EQ(sensed.aEdidModes[0].ulWidth, 0u);
  MONITORINFO& none = b->aMonitorInfo[3];
  none.ulMaxResWidth = 77;
  b.Derive(3);
  EXPECT_EQ(none.ulMinResWidth, 0u);
  EXPECT_EQ(none.ulMaxResWidth, 0u);
  EXPECT_EQ(b->status, kHalOk);
}

TEST(MonitorRecord, Edid2MonitorsAreReadThroughTheirConversion) {
  Board b;
  std::vector<uint8_t> v2(256, 0);
  v2[0] = 0x20;
  v2[1] = 0x12;
  v2[79] = 20;                                 // digital interface
  v2[114] = 0x01;                              // 300 x 225 mm, big-endian here
  v2[115] = 0x2C;
  v2[116] = 0x00;
  v2[117] = 0xE1;
  v2[126] = (1 << 2) | 0x40;                   // a frequency range, preferred timing first
  v2[127] = 1;                                 // one detailed timing
  const uint8_t range[8] = {12, 19, 7, 20, 0xE4, 0, 0x10, 0x01};
  std::memcpy(&v2[128], range, 8);
  hwtest::PutDetailed(&v2[136], hwtest::Timing1080p());
  MONITORINFO& mi = b.Attach(0, v2.data());
  b->ulOutputCaps = 0x200000;
  b.Derive(0);
  EXPECT_EQ(mi.ulVendorProduct >> 24, 0x12u);
  EXPECT_EQ(mi.flMonitor & kMonitorDigital, kMonitorDigital);
  EXPECT_EQ(mi.ulPreferredWidth, 1920u);
  EXPECT_EQ(mi.aEdidModes[0].ulWidth, 1920u);
  EXPECT_EQ(mi.ulMinVRate, 48u);              // 12 x 4 + 0
  EXPECT_EQ(mi.ulMaxVRate, 77u);              // 19 x 4 + 1
  EXPECT_EQ(mi.ulMinHRate, 30u);              // 7 x 4 + 2
  EXPECT_EQ(mi.ulMaxHRate, 83u);              // 20 x 4 + 3
  EXPECT_EQ(mi.ulMaxPixClock, 2720000u);      // 0x110 x 10 MHz
  EXPECT_EQ(mi.ulImageWidthMm, 300u);
  EXPECT_EQ(mi.ulImageHeightMm, 225u);
  // The stored block stays EDID 2.0.
  EXPECT_EQ(mi.aucEdid[0], 0x20);

  MODEINFO q = Query(1920, 1080);
  EXPECT_EQ(HALGetDDCEstablishedParameters(b.get(), &q, 0, 0), kErrDdcNoTiming);
  uint32_t count = 9;
  b->status = 0;
  EXPECT_EQ(HALPGetDDCEstablishedTimingNumber(b.get(), &q, 0, &count), kHalOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(HALPGetDDCEstablishedTiming(b.get(), &q, 0, 0), kErrEdid2NoEstablished);
  EXPECT_EQ(HALGetDDCDetailedParameters(b.get(), &q, 0, 0), kHalOk);
  EXPECT_EQ(q.ulPixClock, 148500u);
}

TEST(MonitorQueries, TypedQueriesAndTheirErrors) {
  Board b;
  Edid1 e;
  e.SetEstablished(1, 0x08).SetStandard(0, 0x61, 0x4F).SetDetailed(0, {6500, 1024, 320, 768, 38, 24, 136, 3, 6});
  b.Attach(1, e.data());
  struct Case {
    const char* name;
    HALSTATUS (*run)(BOARDHANDLE*, MODEINFO*, uint32_t output, uint32_t n);
    uint32_t w, output, n;
    HALSTATUS status;
    uint32_t clock;
  };
  auto est = [](BOARDHANDLE* h, MODEINFO* q, uint32_t o, uint32_t n) {
    return HALGetDDCEstablishedParameters(h, q, o, n);
  };
  auto std = [](BOARDHANDLE* h, MODEINFO* q, uint32_t o, uint32_t n) {
    return HALGetDDCStandardParameters(h, q, o, n, 0);
  };
  auto det = [](BOARDHANDLE* h, MODEINFO* q, uint32_t o, uint32_t n) { return HALGetDDCDetailedParameters(h, q, o, n); };
  const Case cases[] = {
      {"established", est, 1024, 1, 0, kHalOk, 65000},
      {"standard", std, 1024, 1, 0, kHalOk, 78750},
      {"detailed", det, 1024, 1, 0, kHalOk, 65000},
      {"index past the count", std, 1024, 1, 1, kErrDdcTimingIndex, 0},
      {"no timing of the size", det, 800, 1, 0, kErrDdcNoTiming, 0},
      {"output without EDID", est, 1024, 0, 0, kErrDdcNoEdid, 0},
      {"output above 3", est, 1024, 4, 0, kErrDdcNoEdid, 0},
  };
  for (const Case& c : cases) {
    b->status = 0xC0000001;  // entries clear what an earlier call left
    MODEINFO q = Query(c.w, 768);
    EXPECT_EQ(c.run(b.get(), &q, c.output, c.n), c.status) << c.name;
    EXPECT_EQ(q.ulPixClock, c.clock) << c.name;
  }
}

TEST(MonitorQueries, AnyTimingWalksEstablishedStandardThenDetailed) {
  Board b;
  Edid1 e;
  e.SetEstablished(1, 0x08).SetStandard(0, 0x61, 0x4F).SetDetailed(0, {6500, 1024, 320, 768, 38, 24, 136, 3, 6});
  b.Attach(1, e.data());
  const uint32_t expected[] = {60, 75, 60};
  for (uint32_t n = 0; n < 3; ++n) {
    MODEINFO q = Query(1024, 768, kQueryOutput1);
    EXPECT_EQ(HALGetDDCParameters(b.get(), &q, n), kHalOk) << n;
    EXPECT_EQ(q.ulRefreshRate, expected[n]) << n;
  }
  MODEINFO q = Query(1024, 768, kQueryOutput1);
  EXPECT_EQ(HALGetDDCParameters(b.get(), &q, 3), kErrDdcTimingIndex);
  q = Query(1024, 768, kQueryOutput0);  // output 0 has no EDID
  EXPECT_EQ(HALGetDDCParameters(b.get(), &q, 0), kErrDdcNoEdid);
  b.Attach(0, hwtest::Edid1().data());
  EXPECT_EQ(HALGetDDCParameters(b.get(), &q, 0), kErrDdcNoTiming);
}

TEST(MonitorQueries, UnknownVersionsAndFailedStatus) {
  Board b;
  MONITORINFO& mi = b->aMonitorInfo[0];
  mi.flMonitor = kMonitorEdidValid;
  mi.ulEdidVersion = 0x30;
  MODEINFO q = Query(640, 480);
  uint32_t count = 0;
  EXPECT_EQ(HALPGetDDCEstablishedTimingNumber(b.get(), &q, 0, &count), kErrEdidVersionEstablishedCount);
  b->status = 0;
  EXPECT_EQ(HALPGetDDCStandardTimingNumber(b.get(), &q, 0, &count), kErrEdidVersionStandardCount);
  b->status = 0;
  EXPECT_EQ(HALPGetDDCDetailedTiming(b.get(), &q, 0, 0), kErrEdidVersionDetailed);
  // An internal routine does nothing while an error is held.
  b->status = 0xA0000001;
  mi.ulPreferredWidth = 5;
  EXPECT_EQ(HALPGetMonitorProperties(b.get(), 0), 0xA0000001u);
  EXPECT_EQ(mi.ulPreferredWidth, 5u);
}

}  // namespace
