// Mode validation over the monitor's modes, with outcomes computed by hand
// from the timings: clock ranges, interlace and double scan, sync ranges
// (configured, from the EDID, default), the driver's hook, pitch, virtual
// size and memory, best refresh among modes of one name.
#include <math.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xf86_edid.h"

namespace {

constexpr int kBig = 256 << 20;  // bytes of video memory that never limit

class XserverModes : public testing::Test {
 protected:
  // A screen with the configured monitor of `monitor_body` at 16 bits.
  ScrnInfoPtr Screen(const std::string& monitor_body) {
    const std::string text = "Section \"Device\"\n Identifier \"D\"\n Driver \"fixture\"\nEndSection\n"
                             "Section \"Monitor\"\n Identifier \"M\"\n" +
                             monitor_body +
                             "EndSection\n"
                             "Section \"Screen\"\n Identifier \"S\"\n Device \"D\"\n Monitor \"M\"\n"
                             "EndSection\n";
    EXPECT_TRUE(server.ReadConfig(text));
    ScrnInfoPtr screen = server.NewScrnInfo();
    GDevPtr* sections = nullptr;
    EXPECT_EQ(xf86MatchDevice("fixture", &sections), 1);
    screen->confScreen = sections[0]->myScreenSection;
    xfree(sections);
    screen->monitor = screen->confScreen->monitor;
    screen->bitsPerPixel = 16;
    screen->depth = 16;
    return screen;
  }

  int Validate(ScrnInfoPtr screen, std::vector<const char*> names, int aperture = kBig,
               int virtualX = 0, int virtualY = 0, int strategy = LOOKUP_BEST_REFRESH) {
    names.push_back(nullptr);
    return xf86ValidateModes(screen, screen->monitor->Modes, const_cast<char**>(names.data()),
                             &clocks, nullptr, 256, 0xFFFF, 16 * 32, 256, 0xFFFF, virtualX,
                             virtualY, aperture, strategy);
  }

  // The screen's list as name -> (status, clock).
  static std::vector<std::pair<std::string, std::pair<ModeStatus, int>>> Outcome(ScrnInfoPtr s) {
    std::vector<std::pair<std::string, std::pair<ModeStatus, int>>> out;
    DisplayModePtr m = s->modes;
    do {
      out.push_back({m->name, {m->status, m->Clock}});
      m = m->next;
    } while (m != s->modes);
    return out;
  }

  xstub::Sandbox box;
  xstub::XServer server;
  ClockRange clocks{nullptr, 12000, 200000, -1, TRUE, FALSE, 1, 1, 0};
};

using Entry = std::pair<std::string, std::pair<ModeStatus, int>>;

TEST_F(XserverModes, ConfiguredRangesPickTheBestRefreshInsideThem) {
  ScrnInfoPtr s = Screen(" HorizSync 31.5-50\n VertRefresh 50-75\n");
  // 1024x768: only the 60 Hz timing (48.4 kHz) fits; 70 Hz needs 56.5 kHz.
  // 800x600: 56, 60, 72 and 75 Hz fit, 85 Hz needs 53.7 kHz: 75 Hz (49.5 MHz).
  // 640x480: 60, 72, 75 Hz fit, 85 Hz is above 75 Hz: 75 Hz (31.5 MHz, HTotal 840).
  // 1280x1024 at 60 Hz needs 64 kHz; 2000x1000 does not exist.
  EXPECT_EQ(Validate(s, {"1024x768", "800x600", "640x480", "1280x1024", "2000x1000"}), 3);
  EXPECT_EQ(Outcome(s), (std::vector<Entry>{{"1024x768", {MODE_OK, 65000}},
                                            {"800x600", {MODE_OK, 49500}},
                                            {"640x480", {MODE_OK, 31500}},
                                            {"1280x1024", {MODE_HSYNC, 108000}},
                                            {"2000x1000", {MODE_NOMODE, 0}}}));
  EXPECT_EQ(s->modes->next->next->HTotal, 840);
  EXPECT_EQ(s->virtualX, 1024);
  EXPECT_EQ(s->virtualY, 768);
  EXPECT_EQ(s->displayWidth, 1024);
  EXPECT_NEAR(s->modes->HSync, 65000.0 / 1344, 1e-3);

  xf86PruneDriverModes(s);
  EXPECT_EQ(Outcome(s).size(), 3u);
  EXPECT_TRUE(box.Logged("Not using mode \"1280x1024\" (hsync out of range)", X_INFO));
  EXPECT_TRUE(box.Logged("Not using mode \"2000x1000\" (no mode of this name)", X_INFO));
}

TEST_F(XserverModes, ListOrderWithoutBestRefreshTakesTheFirstThatFits) {
  ScrnInfoPtr s = Screen(" HorizSync 31.5-50\n VertRefresh 50-75\n");
  EXPECT_EQ(Validate(s, {"800x600"}, kBig, 0, 0, LOOKUP_DEFAULT), 1);
  EXPECT_EQ(s->modes->Clock, 36000);  // the 56 Hz timing comes first
}

TEST_F(XserverModes, TheEdidRangeDescriptorStandsInForMissingRanges) {
  ScrnInfoPtr s = Screen("");
  xf86Monitor edid{};
  edid.det_mon[2].type = DS_RANGES;
  edid.det_mon[2].section.ranges = {50, 76, 30, 60, 170};
  s->monitor->DDC = &edid;
  // 1024x768 at 75 Hz: 60.0 kHz, 75.0 Hz fits; 85 Hz needs 68.7 kHz.
  EXPECT_EQ(Validate(s, {"1024x768"}), 1);
  EXPECT_EQ(s->modes->Clock, 78750);
  EXPECT_FLOAT_EQ(s->monitor->hsync[0].lo, 30.0f);
  EXPECT_FLOAT_EQ(s->monitor->vrefresh[0].hi, 76.0f);
  EXPECT_TRUE(box.Logged("from the monitor's EDID"));
  s->monitor->DDC = nullptr;  // the test owns it
}

TEST_F(XserverModes, WithoutRangesTheServersDefaultsApply) {
  ScrnInfoPtr s = Screen("");
  // 31.5-37.9 kHz and 50-70 Hz: 800x600 at 60 Hz (37.9 kHz, 60.3 Hz); no
  // 1024x768 timing is slow enough; 640x480 at 60 Hz, its 72 and 75 Hz
  // timings refresh too fast.
  EXPECT_EQ(Validate(s, {"1024x768", "800x600", "640x480"}), 2);
  EXPECT_EQ(Outcome(s), (std::vector<Entry>{{"1024x768", {MODE_HSYNC, 65000}},
                                            {"800x600", {MODE_OK, 40000}},
                                            {"640x480", {MODE_OK, 25175}}}));
  EXPECT_TRUE(box.Logged("from the server's defaults"));
}

TEST_F(XserverModes, ClockRangeInterlaceAndDoubleScan) {
  ScrnInfoPtr s = Screen(
      " HorizSync 15-100\n VertRefresh 40-200\n"
      " ModeLine \"slow\" 10.0 640 656 752 800 480 490 492 525\n"
      " ModeLine \"fast\" 120.0 1280 1328 1440 1688 1024 1025 1028 1066\n"
      " ModeLine \"laced\" 44.9 1024 1032 1208 1264 768 768 776 817 Interlace\n"
      " ModeLine \"dbl\" 25.175 320 328 376 400 240 245 246 262 DoubleScan\n");
  ClockRange upper{nullptr, 110000, 130000, -1, FALSE, FALSE, 1, 1, 0};
  clocks.maxClock = 100000;
  clocks.next = &upper;
  // "fast" lies above the first range but in the second, which refuses
  // nothing it needs; "laced" falls in the first (interlace allowed).
  EXPECT_EQ(Validate(s, {"slow", "fast", "laced", "dbl"}), 2);
  EXPECT_EQ(Outcome(s), (std::vector<Entry>{{"slow", {MODE_CLOCK_LOW, 10000}},
                                            {"fast", {MODE_OK, 120000}},
                                            {"laced", {MODE_OK, 44900}},
                                            {"dbl", {MODE_NO_DBLESCAN, 25175}}}));
  // 105 MHz lies between the two ranges; interlace in the upper one is out.
  clocks.interlaceAllowed = FALSE;
  ScrnInfoPtr t = Screen(
      " HorizSync 15-100\n VertRefresh 40-200\n"
      " ModeLine \"gap\" 105.0 1280 1328 1440 1688 1024 1025 1028 1066\n"
      " ModeLine \"laced\" 44.9 1024 1032 1208 1264 768 768 776 817 Interlace\n"
      " ModeLine \"high\" 140.0 1280 1328 1440 1688 1024 1025 1028 1066\n");
  EXPECT_EQ(Validate(t, {"gap", "laced", "high"}), 0);
  EXPECT_EQ(Outcome(t), (std::vector<Entry>{{"gap", {MODE_CLOCK_RANGE, 105000}},
                                            {"laced", {MODE_NO_INTERLACE, 44900}},
                                            {"high", {MODE_CLOCK_HIGH, 140000}}}));
}

TEST_F(XserverModes, PitchRoundsUpToTheIncrementInBits) {
  ScrnInfoPtr s = Screen(" HorizSync 15-100\n VertRefresh 40-200\n"
                         " ModeLine \"1000x700\" 60.0 1000 1040 1120 1300 700 701 704 730\n");
  // 1000 pixels x 16 bits = 16000 bits, rounded up to 512-bit steps: 16384,
  // so a pitch of 1024 pixels.
  EXPECT_EQ(Validate(s, {"1000x700"}), 1);
  EXPECT_EQ(s->virtualX, 1000);
  EXPECT_EQ(s->displayWidth, 1024);
}

TEST_F(XserverModes, MemoryLimitsTheVirtualSize) {
  ScrnInfoPtr s = Screen(" HorizSync 31.5-50\n VertRefresh 50-75\n");
  // 1024 x 768 x 2 bytes is one byte too many; 800 x 600 fits.
  EXPECT_EQ(Validate(s, {"1024x768", "800x600"}, 1024 * 768 * 2 - 1), 1);
  EXPECT_EQ(Outcome(s)[0].second.first, MODE_MEM);
  EXPECT_EQ(s->virtualX, 800);
  EXPECT_EQ(s->virtualY, 600);
}

TEST_F(XserverModes, AFixedVirtualSizeRefusesLargerModes) {
  ScrnInfoPtr s = Screen(" HorizSync 31.5-50\n VertRefresh 50-75\n");
  EXPECT_EQ(Validate(s, {"1024x768", "800x600"}, kBig, 800, 700), 1);
  EXPECT_EQ(Outcome(s)[0].second.first, MODE_VIRTUAL_X);
  EXPECT_EQ(s->virtualX, 800);
  EXPECT_EQ(s->virtualY, 700);
  EXPECT_EQ(s->virtualFrom, X_CONFIG);
  // A virtual size that does not fit the memory is an error.
  EXPECT_EQ(Validate(s, {"800x600"}, 800 * 700 * 2 - 2, 800, 700), -1);
}

std::vector<std::pair<std::string, int>> g_hook_calls;
ModeStatus RefuseFinal800(int, DisplayModePtr mode, Bool, int flags) {
  g_hook_calls.push_back({mode->name, flags});
  if (flags == MODECHECK_FINAL && std::string(mode->name) == "800x600") return MODE_BAD;
  return MODE_OK;
}

TEST_F(XserverModes, TheDriversHookSeesEachCandidateThenTheFinalModes) {
  ScrnInfoPtr s = Screen(" HorizSync 31.5-50\n VertRefresh 50-75\n");
  s->ValidMode = RefuseFinal800;
  g_hook_calls.clear();
  EXPECT_EQ(Validate(s, {"1024x768", "800x600"}), 1);
  EXPECT_EQ(Outcome(s)[1].second.first, MODE_BAD);
  // Initial checks: the one 1024x768 timing inside the ranges, the four
  // 800x600 timings inside them; then the final check of both choices.
  std::vector<std::pair<std::string, int>> finals;
  int initial = 0;
  for (const auto& c : g_hook_calls) {
    if (c.second == MODECHECK_FINAL) finals.push_back(c);
    else ++initial;
  }
  EXPECT_EQ(initial, 5);
  EXPECT_EQ(finals, (std::vector<std::pair<std::string, int>>{{"1024x768", 1}, {"800x600", 1}}));
}

TEST_F(XserverModes, BadArgumentsAnswerMinusOne) {
  ScrnInfoPtr s = Screen("");
  char* none[] = {nullptr};
  EXPECT_EQ(xf86ValidateModes(s, s->monitor->Modes, none, nullptr, nullptr, 256, 0xFFFF, 512,
                              256, 0xFFFF, 0, 0, kBig, 0),
            -1);
  EXPECT_EQ(Validate(s, {"800x600"}, kBig, 0x10000, 0), -1);
}

TEST_F(XserverModes, CrtcValuesFollowTheFlags) {
  ScrnInfoPtr s = Screen(" HorizSync 15-100\n VertRefresh 40-200\n"
                         " ModeLine \"laced\" 44.9 1024 1032 1208 1264 768 768 776 817 Interlace\n");
  ASSERT_EQ(Validate(s, {"laced"}), 1);
  xf86SetCrtcForModes(s, INTERLACE_HALVE_V);
  EXPECT_EQ(s->modes->CrtcVTotal, 408);
  EXPECT_EQ(s->modes->CrtcHTotal, 1264);
  EXPECT_EQ(s->modes->CrtcHBlankStart, 1024);
}

TEST(XserverDefaultModes, EveryBuiltInTimingRefreshesAtItsNominalRate) {
  // The nominal rates of the built-in table, in its order.
  const std::map<std::string, std::vector<double>> kNominal = {
      {"640x480", {60, 72, 75, 85}},     {"800x600", {56, 60, 72, 75, 85}},
      {"1024x768", {60, 70, 75, 85}},    {"1152x864", {75}},
      {"1280x960", {60, 85}},            {"1280x1024", {60, 75, 85}},
      {"1600x1200", {60, 65, 70, 75, 85}}, {"1792x1344", {60}},
      {"1856x1392", {60}},               {"1920x1440", {60}}};
  xstub::Sandbox box;
  xstub::XServer server;
  ScrnInfoPtr s = server.NewScrnInfo();
  server.Probe();
  std::map<std::string, size_t> seen;
  for (DisplayModePtr m = s->monitor->Modes; m != nullptr; m = m->next) {
    auto it = kNominal.find(m->name);
    ASSERT_NE(it, kNominal.end()) << m->name;
    const size_t i = seen[m->name]++;
    ASSERT_LT(i, it->second.size()) << m->name;
    EXPECT_NEAR(xf86ModeVRefresh(m), it->second[i], 1.0) << m->name << " #" << i;
  }
}

}  // namespace
