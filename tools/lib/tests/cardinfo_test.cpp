#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/orvcfg_proto.h"
#include "tools/lib/Probe.h"
#include "tools/lib/XCommInterface.h"
#include "tools/testsupport/fake_extension.h"

namespace {

using LayoutRow = std::tuple<int, int, int, int>;  // n, layout, mode, rotation

CardAttribute Board(uint32_t id, int32_t driver, int32_t kvd, int32_t outputs) {
  CardAttribute b{};
  b.boardId = id;
  std::strcpy(b.name, "Board");
  b.driver = driver;
  b.kvd = kvd;
  b.outputs = outputs;
  b.openGL = 1;
  return b;
}

std::vector<LayoutRow> Layouts(const CardInfo& card) {
  std::vector<LayoutRow> rows;
  for (PrivateList* n = card.layouts; n; n = n->next) {
    auto* l = static_cast<const CardLayout*>(n->Payload());
    rows.emplace_back(l->outputsMinusOne + 1, l->layout, l->mode, l->rotation);
  }
  return rows;
}

std::vector<int> Counts(const CardInfo& card) {
  std::vector<int> counts;
  for (int i = 0; i < kMaxOutputCounts && card.outputCounts[i] != -1; ++i)
    counts.push_back(card.outputCounts[i]);
  return counts;
}

std::vector<int> Rates(const CardMonitorMode& mode) {
  std::vector<int> rates;
  for (int i = 0; i < kMaxRefreshRates && mode.refresh[i] != -1; ++i) rates.push_back(mode.refresh[i]);
  return rates;
}

constexpr int H = kLayoutHorizontal, V = kLayoutVertical, S = kLayoutSquare;
constexpr int M = kDisplayMerge, I = kDisplayIndependent;

struct LayoutCase {
  const char* name;
  CardAttribute board;
  std::vector<int> counts;
  std::vector<LayoutRow> layouts;
};

class CardInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    ORVCommResetForTesting();
    testing::internal::CaptureStdout();
  }
  void TearDown() override {
    testing::internal::GetCapturedStdout();
    ORVCommResetForTesting();
    unsetenv("DISPLAY");
  }
  FakeOrvCfgServer server_;
};

TEST_F(CardInfoTest, OutputCountsAndLayouts) {
  const LayoutCase cases[] = {
      {"orv dual", Board(0x101, kDriverOrv, 0, 2), {1, 2},
       {{1, H, M, 1}, {2, H, M, 1}, {2, V, I, 1}, {2, H, I, 1}, {2, V, M, 1}}},
      {"orv quad outside the series", Board(0x202, kDriverOrv, 0, 4), {1, 2, 3, 4},
       {{1, H, M, 1}, {2, H, M, 1}, {2, V, I, 1}, {2, H, I, 1}, {2, V, M, 1},
        {3, H, M, 0}, {3, V, I, 0}, {4, H, M, 0}, {4, V, I, 0}}},
      {"orv quad display series", Board(0x102, kDriverOrv, 1, 4), {2, 4},
       {{2, H, M, 0}, {4, H, M, 0}, {4, H, I, 0}, {4, S, M, 0}, {4, S, I, 0}}},
      {"orv board 0x80", Board(0x80, kDriverOrv, 0, 2), {1, 2},
       {{1, H, M, 1}, {2, H, M, 1}, {2, H, I, 1}}},
      {"orv board 0xC0", Board(0xC0, kDriverOrv, 0, 4), {1, 2, 3, 4},
       {{1, H, M, 1}, {2, H, M, 1}, {2, H, I, 1}, {3, H, M, 0}, {3, H, I, 0},
        {4, H, M, 0}, {4, H, I, 0}}},
      {"qlb dual", Board(0x81, kDriverQlb, 0, 2), {1, 2},
       {{1, H, M, 1}, {2, H, M, 1}, {2, V, I, 1}, {2, H, I, 1}, {2, V, M, 1}}},
      {"unknown family", Board(0x55, 7, 0, 2), {1, 2}, {}},
      // Counts beyond the five slots are cut, not written past them.
      {"too many outputs", Board(0x303, kDriverOrv, 1, 40), {2, 4},
       {{2, H, M, 0}, {4, H, M, 0}, {4, H, I, 0}, {4, S, M, 0}, {4, S, I, 0}}},
  };
  for (const LayoutCase& c : cases) {
    CardInfo card;
    std::memset(&card, 0x7f, sizeof card);
    ProbeCardInfo(&card, "PCI:1:0:0", c.board);
    EXPECT_EQ(Counts(card), c.counts) << c.name;
    EXPECT_EQ(Layouts(card), c.layouts) << c.name;
    EXPECT_STREQ(card.busId, "PCI:1:0:0");
    EXPECT_STREQ(card.driver, c.board.driver == kDriverOrv   ? "orv"
                              : c.board.driver == kDriverQlb ? "qlb"
                                                             : "unknown");
    FreeCardInfo(&card);
  }
}

TEST_F(CardInfoTest, WithoutExtensionOnlyFallbackModes) {
  CardInfo card;
  ProbeCardInfo(&card, "", Board(0x101, kDriverOrv, 0, 2));
  EXPECT_EQ(card.resolutions, nullptr);
  EXPECT_EQ(card.preferredModes, nullptr);
  std::vector<std::pair<std::string, std::vector<int>>> got;
  for (PrivateList* n = card.fallbackResolutions; n; n = n->next) {
    auto* m = static_cast<const CardMonitorMode*>(n->Payload());
    EXPECT_EQ(m->output, kAllOutputs);
    got.emplace_back(m->resolution, Rates(*m));
  }
  const std::vector<std::pair<std::string, std::vector<int>>> expected = {
      {"640x480", {60, 72, 75, 85}},   {"800x600", {60, 72, 75, 85}},
      {"1024x768", {60, 70, 75, 85}},  {"1280x1024", {60, 75, 85}},
      {"1600x1200", {60, 65}}};
  EXPECT_EQ(got, expected);
  FreeCardInfo(&card);
}

ORVCFGVideoMode Timing(uint32_t w, uint32_t h, uint32_t refresh, uint32_t khz) {
  ORVCFGVideoMode m{};
  m.ulRefreshRate = refresh;
  m.ulPixClock = khz;
  m.ulHActive = w;
  m.ulHFrontPorch = 16;
  m.ulHSyncWidth = 96;
  m.ulHBackPorch = 48;
  m.ulVActive = h;
  m.ulVFrontPorch = 10;
  m.ulVSyncWidth = 2;
  m.ulVBackPorch = 33;
  return m;
}

TEST_F(CardInfoTest, MonitorModesFromTheExtension) {
  FakeOrvCfgServer& server = server_;
  ASSERT_TRUE(tools_test::ServeAsDisplay(server));
  auto state = std::make_unique<ORVCFGOutputState>();
  std::memset(state->szVendor, 'V', sizeof state->szVendor);  // no terminating zero
  state->oPreferred = Timing(1280, 1024, 60, 108000);
  state->aoEdidModes[0] = Timing(1024, 768, 60, 65000);
  state->aoEdidModes[1] = Timing(800, 600, 60, 40000);
  state->aoEdidModes[2] = Timing(1024, 768, 75, 78750);
  state->aoEdidModes[3] = Timing(0, 768, 75, 78750);   // no width: skipped
  state->aoEdidModes[4] = Timing(1024, 768, 85, 0);    // no clock: skipped
  // More rates of one resolution than the record holds.
  for (int i = 5; i < ORVCFG_EDID_MODE_COUNT; ++i)
    state->aoEdidModes[i] = Timing(640, 480, 50 + uint32_t(i), 25000);
  server.SetReply(X_ORVCFGGetOutputState,
                  std::vector<uint8_t>(reinterpret_cast<uint8_t*>(state.get()),
                                       reinterpret_cast<uint8_t*>(state.get() + 1)));

  CardInfo card;
  ProbeCardInfo(&card, "", Board(0x101, kDriverOrv, 0, 2));

  int preferred = 0;
  for (PrivateList* n = card.preferredModes; n; n = n->next, ++preferred) {
    auto* p = static_cast<const CardPreferredMode*>(n->Payload());
    EXPECT_EQ(p->output, preferred);
    EXPECT_EQ(std::string(p->mode.name), std::string(32, 'V') + "_1280x1024@60");
    EXPECT_DOUBLE_EQ(p->mode.clock, 108.0);
  }
  EXPECT_EQ(preferred, 4);  // the fake answers the same state for all four outputs

  std::vector<std::tuple<int, std::string, std::vector<int>>> got;
  for (PrivateList* n = card.resolutions; n; n = n->next) {
    auto* m = static_cast<const CardMonitorMode*>(n->Payload());
    got.emplace_back(m->output, m->resolution, Rates(*m));
  }
  ASSERT_EQ(got.size(), 12u);
  std::vector<int> cut;
  for (int i = 5; i < 5 + kMaxRefreshRates - 1; ++i) cut.push_back(50 + i);
  for (int output = 0; output < 4; ++output) {
    EXPECT_EQ(got[output * 3 + 0], std::make_tuple(output, std::string("1024x768"),
                                                   std::vector<int>{60, 75}));
    EXPECT_EQ(got[output * 3 + 1], std::make_tuple(output, std::string("800x600"),
                                                   std::vector<int>{60}));
    EXPECT_EQ(got[output * 3 + 2], std::make_tuple(output, std::string("640x480"), cut));
  }
  EXPECT_NE(card.fallbackResolutions, nullptr);
  FreeCardInfo(&card);
}

}  // namespace
