// The head's mode record filled from an X mode: its timing words, and the
// routing of each head to its controllers and outputs by desktop kind,
// digital output, four-display series, KVD, KVDTV and output order; the
// head rectangles of a desktop.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_modeinit.h"
#include "xdriver/orv_multihead.h"

namespace {

// A bare head: screen record, driver record, board entity.
struct Head {
  explicit Head(xstub::XServer& server) {
    screen = server.NewScrnInfo();
    screen->driverPrivate = &rec;
    rec.pEnt = &entity;
    screen->depth = 16;
    screen->bitsPerPixel = 16;
    screen->virtualX = 1000;
    screen->virtualY = 750;
  }
  ScrnInfoPtr screen;
  ORVRec rec{};
  ORVEntityRec entity{};
};

// The VESA 1024x768 at 60 Hz timing.
DisplayModeRec Mode1024() {
  DisplayModeRec m{};
  m.name = const_cast<char*>("1024x768");
  m.Clock = 65000;
  m.HDisplay = 1024;
  m.HSyncStart = 1048;
  m.HSyncEnd = 1184;
  m.HTotal = 1344;
  m.VDisplay = 768;
  m.VSyncStart = 771;
  m.VSyncEnd = 777;
  m.VTotal = 806;
  m.Flags = V_NHSYNC | V_NVSYNC;
  return m;
}

TEST(OrvModeInfo, TimingWordsOfAPlainMode) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.displayOffset = 4096;
  DisplayModeRec m = Mode1024();
  m.VRefresh = 85.0f;  // the mode's own refresh does not count
  QLBMODEINFO mi;
  ORVFillModeInfoStruct(h.screen, &m, &mi, kFillPreInit);
  EXPECT_EQ(mi.ulDispWidth, 1024u);
  EXPECT_EQ(mi.ulDispHeight, 768u);
  EXPECT_EQ(mi.ulDeskWidth, 1024u);   // 1000 rounded up to 32
  EXPECT_EQ(mi.ulDeskHeight, 768u);   // 750 rounded up to 32
  EXPECT_EQ(mi.ulFBPitch, 1024u);
  EXPECT_EQ(mi.ulDepth, 16u);
  EXPECT_EQ(mi.ulBpp, 16u);
  EXPECT_EQ(mi.ulZoom, 1u);
  EXPECT_EQ(mi.flSignalMode, 0x10u);
  EXPECT_EQ(mi.ulRefreshRate, 60000u);
  EXPECT_EQ(mi.ulHorizRate, 48363u);  // 65,000,000 / 1344, truncated
  EXPECT_EQ(mi.ulPixClock, 65000u);
  EXPECT_EQ(mi.ulHFPorch, 24u);
  EXPECT_EQ(mi.ulHSync, 136u);
  EXPECT_EQ(mi.ulHBPorch, 160u);
  EXPECT_EQ(mi.ulVFPorch, 3u);
  EXPECT_EQ(mi.ulVSync, 6u);
  EXPECT_EQ(mi.ulVBPorch, 29u);
  EXPECT_EQ(mi.ulDisplayOrg, 2048u);  // bytes / 2
  EXPECT_EQ(mi.ulDstOrg, 0u);
  EXPECT_EQ(mi.ulPanXGran, 0u);
  EXPECT_EQ(mi.ulTvStandard, 1u);
  EXPECT_EQ(mi.ulTvScaling, 0u);
  EXPECT_EQ(mi.ulTvCableType, 5u);
  EXPECT_EQ(mi.flOutput, 0xC002u);

  // Positive syncs, interlace, packed pixels; a rotation swaps the desktop.
  m.Flags = V_PHSYNC | V_PVSYNC | V_INTERLACE;
  h.rec.packedPixel = 1;
  h.rec.hwRotate = kRotateCW;
  ORVFillModeInfoStruct(h.screen, &m, &mi, kFillPreInit);
  EXPECT_EQ(mi.flSignalMode, 0x4000u | 0x10 | 0x4 | 0x8 | 0x1);
  EXPECT_EQ(mi.ulHFPorch, 1048u - 512);
  EXPECT_EQ(mi.ulDeskWidth, 768u);
  EXPECT_EQ(mi.ulDeskHeight, 1024u);
}

TEST(OrvModeInfo, KvdHalvesTheWidthOutsideValidation) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.quadBoard = 1;
  h.rec.kvd = 1;
  DisplayModeRec m = Mode1024();
  QLBMODEINFO mi;
  ORVFillModeInfoStruct(h.screen, &m, &mi, kFillModeInitKvd);
  EXPECT_EQ(mi.ulDispWidth, 512u);
  EXPECT_EQ(mi.ulHFPorch, 1048u - 512);
  EXPECT_EQ(mi.flSignalMode & 0x80000u, 0x80000u);
  ORVFillModeInfoStruct(h.screen, &m, &mi, kFillValidate);
  EXPECT_EQ(mi.ulDispWidth, 1024u);
  EXPECT_EQ(mi.ulHFPorch, 24u);
}

struct TvCase {
  int32_t standard;  // screen record code
  uint32_t refresh;
  uint32_t word;
  uint32_t signal;
};

TEST(OrvModeInfo, KvdtvStandardsSetRefreshAndTheStandardWord) {
  const TvCase kCases[] = {{kOrvTvPal, 50000, 0, 0x00}, {kOrvTvPal60, 60000, 2, 0x20},
                           {kOrvTvNtsc, 60000, 1, 0x10}};
  for (const TvCase& c : kCases) {
    xstub::Sandbox box;
    xstub::XServer server;
    Head h(server);
    h.rec.quadBoard = 1;
    h.rec.kvdtv = 1;
    h.rec.tvStandard = c.standard;
    DisplayModeRec m = Mode1024();
    QLBMODEINFO mi;
    ORVFillModeInfoStruct(h.screen, &m, &mi, kFillPreInit);
    EXPECT_EQ(mi.ulRefreshRate, c.refresh) << c.standard;
    EXPECT_EQ(mi.ulTvStandard, c.word) << c.standard;
    EXPECT_EQ(mi.flSignalMode & 0x30u, c.signal) << c.standard;
  }
}

// One routing case: the head, its desktop and outputs, and what the fill
// gives the head's controller mask and the output word.
struct RouteCase {
  const char* name;
  int head;
  bool mergedSecond;  // the merged desktop's second head (head index 0)
  bool s3i, s4i;
  bool digital;  // the head's own digital output
  bool quad, inverted, kvd, kvdtv;
  uint16_t chip;
  int maskHead;  // whose controller mask is checked
  uint32_t mask;
  uint32_t output;
};

void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }

class OrvRouting : public testing::TestWithParam<RouteCase> {};

TEST_P(OrvRouting, ControllerMaskAndOutputBits) {
  const RouteCase& c = GetParam();
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.head = c.head;
  h.rec.head2 = c.head == 1 || c.mergedSecond;
  h.rec.merged = c.mergedSecond;
  h.rec.s3i = c.s3i;
  h.rec.s4i = c.s4i;
  h.rec.quadBoard = c.quad;
  h.rec.invertedQuad = c.inverted;
  h.rec.kvd = c.kvd;
  h.rec.kvdtv = c.kvdtv;
  h.rec.tvStandard = kOrvTvNtsc;
  h.rec.chipId = c.chip;
  const bool second = c.head == 1 || c.mergedSecond;
  if (c.digital) {
    if (c.s3i) h.rec.digital1 = 1;
    else if (second) h.rec.digital2 = 1;
    else h.rec.digital1 = 1;
  }
  DisplayModeRec m = Mode1024();
  QLBMODEINFO mi;
  ORVFillModeInfoStruct(h.screen, &m, &mi, kFillPreInit);
  EXPECT_EQ(h.entity.controllerMask[c.maskHead], c.mask);
  EXPECT_EQ(mi.flOutput, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, OrvRouting,
    testing::Values(
        // name, head, merged2, s3i, s4i, digital, quad, inv, kvd, kvdtv, chip, maskHead, mask, output
        RouteCase{"H0Analog", 0, false, false, false, false, false, false, false, false, 0x5D63, 0, 1, 0xC002},
        RouteCase{"H0Digital", 0, false, false, false, true, false, false, false, false, 0x5D63, 0, 1, 0xC020},
        RouteCase{"H0AnalogQuad", 0, false, false, false, false, true, false, false, false, 0x5D63, 0, 1, 0xC002},
        RouteCase{"H0AnalogInv", 0, false, false, false, false, true, true, false, false, 0x5D63, 0, 2, 0x8C010},
        RouteCase{"H0AnalogKvd", 0, false, false, false, false, true, false, true, false, 0x5D63, 0, 1, 0xC006},
        RouteCase{"H0AnalogKvdInv", 0, false, false, false, false, true, true, true, false, 0x5D63, 0, 2, 0x8C018},
        RouteCase{"H0DigitalKvd", 0, false, false, false, true, true, false, true, false, 0x5D63, 0, 1, 0xC060},
        RouteCase{"H0DigitalKvdInv", 0, false, false, false, true, true, true, true, false, 0x5D63, 0, 2, 0x8C180},
        RouteCase{"H0DigitalInv", 0, false, false, false, true, true, true, false, false, 0x5D63, 0, 2, 0x8C100},
        RouteCase{"H0Kvdtv", 0, false, false, false, false, true, false, false, true, 0x5D63, 0, 1, 0xC200},
        RouteCase{"H0KvdtvInv", 0, false, false, false, false, true, true, false, true, 0x5D63, 0, 2, 0x8C800},
        RouteCase{"H0KvdtvKvd", 0, false, false, false, false, true, false, true, true, 0x5D63, 0, 1, 0xC600},
        RouteCase{"H0KvdtvKvdInv", 0, false, false, false, false, true, true, true, true, 0x5D63, 0, 2, 0x8D800},
        RouteCase{"H1Analog", 1, false, false, false, false, false, false, false, false, 0x5D63, 1, 2, 0x8C004},
        RouteCase{"H1AnalogQuad", 1, false, false, false, false, true, false, false, false, 0x5D63, 1, 2, 0x8C008},
        RouteCase{"H1AnalogInv", 1, false, false, false, false, true, true, false, false, 0x5D63, 1, 1, 0xC004},
        RouteCase{"H1AnalogKvd", 1, false, false, false, false, true, false, true, false, 0x5D63, 1, 2, 0x8C018},
        RouteCase{"H1AnalogKvdInv", 1, false, false, false, false, true, true, true, false, 0x5D63, 1, 1, 0xC006},
        RouteCase{"H1Digital", 1, false, false, false, true, false, false, false, false, 0x5D63, 1, 2, 0x8C040},
        RouteCase{"H1DigitalQuad", 1, false, false, false, true, true, false, false, false, 0x5D63, 1, 2, 0x8C080},
        RouteCase{"H1DigitalInv", 1, false, false, false, true, true, true, false, false, 0x5D63, 1, 1, 0xC040},
        RouteCase{"H1DigitalKvd", 1, false, false, false, true, true, false, true, false, 0x5D63, 1, 2, 0x8C180},
        RouteCase{"H1DigitalKvdInv", 1, false, false, false, true, true, true, true, false, 0x5D63, 1, 1, 0xC060},
        RouteCase{"H1Kvdtv", 1, false, false, false, false, true, false, false, true, 0x5D63, 1, 2, 0x8C800},
        RouteCase{"H1KvdtvInv", 1, false, false, false, false, true, true, false, true, 0x5D63, 1, 1, 0xC400},
        RouteCase{"H1KvdtvKvd", 1, false, false, false, false, true, false, true, true, 0x5D63, 1, 2, 0x8D800},
        RouteCase{"MergedSecond", 0, true, false, false, false, false, false, false, false, 0x5D63, 1, 2, 0x8C004},
        RouteCase{"MergedSecondDigital", 0, true, false, false, true, false, false, false, false, 0x5D63, 1, 2, 0x8C040},
        RouteCase{"H1S3IAnalog", 1, false, true, false, false, false, false, false, false, 0x5D63, 1, 2, 0x10C002},
        RouteCase{"H1S3IDigital", 1, false, true, false, true, false, false, false, false, 0x5D63, 1, 2, 0x10C020},
        RouteCase{"H1S3IKvdtv", 1, false, true, false, false, true, false, false, true, 0x5D63, 1, 2, 0x10C202},
        RouteCase{"H1S4I", 1, false, false, true, false, false, false, false, false, 0x5D63, 1, 2, 0x9C004},
        RouteCase{"H2Plain", 2, false, false, false, false, false, false, false, false, 0x5D63, 2, 8, 0xC008},
        RouteCase{"H2S3I", 2, false, true, false, false, false, false, false, false, 0x5D63, 2, 8, 0x8C010},
        RouteCase{"H2S4I5D63", 2, false, false, true, false, false, false, false, false, 0x5D63, 2, 8, 0x8C008},
        RouteCase{"H2S4IOther", 2, false, false, true, false, false, false, false, false, 0x5D62, 2, 8, 0x1C008},
        RouteCase{"H3Plain", 3, false, false, false, false, false, false, false, false, 0x5D63, 3, 8, 0xC010},
        RouteCase{"H3S4I5D63", 3, false, false, true, false, false, false, false, false, 0x5D63, 3, 8, 0x1C010},
        RouteCase{"H3S4IOther", 3, false, false, true, false, false, false, false, false, 0x0A41, 3, 8, 0x8C010},
        RouteCase{"H0S3I", 0, false, true, false, false, false, false, false, false, 0x5D63, 0, 2, 0x29C004},
        RouteCase{"H0S4I", 0, false, false, true, false, false, false, false, false, 0x5D63, 0, 1, 0x10C002}),
    [](const testing::TestParamInfo<RouteCase>& info) { return info.param.name; });

TEST(OrvModeInfo, ThreeHeadDesktopSelectsEachHeadsOutput) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.spanthree = 1;
  DisplayModeRec m = Mode1024();
  const uint32_t kOutputs[] = {0x2, 0x90004, 0x80010};
  const uint32_t kMasks[] = {1, 3, 11};
  for (int head = 1; head <= 3; ++head) {
    h.rec.headBeingSet = head;
    ORVFillModeInfoStruct(h.screen, &m, &h.rec.modeInfo, kFillModeInit);
    EXPECT_EQ(h.rec.modeInfo.flOutput, kOutputs[head - 1]) << head;
    EXPECT_EQ(h.entity.controllerMask[0], kMasks[head - 1]) << head;
  }
  EXPECT_TRUE(box.Logged("Head 1: Analog\n", X_INFO));
  EXPECT_TRUE(box.Logged("Head 3: Analog\n", X_INFO));
}

struct Rect {
  int x, y, w, h;
  bool operator==(const Rect&) const = default;
};

std::vector<Rect> Rects(const ORVRec& rec) {
  std::vector<Rect> out;
  for (int i = 0; i < rec.headCount; ++i)
    out.push_back({rec.headRects[i][0], rec.headRects[i][1], rec.headRects[i][2], rec.headRects[i][3]});
  return out;
}

TEST(OrvHeadLayout, SpanthreePutsThreeHeadsSideBySide) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.spanthree = 1;
  DisplayModeRec source{};
  source.HDisplay = 1280;
  source.VDisplay = 1024;
  DisplayModePtr refs[1] = {&source};
  OrvModePrivate priv{kModeThreeHead, refs};
  DisplayModeRec built = source;
  built.HDisplay = 3840;
  built.Private = reinterpret_cast<INT32*>(&priv);
  ORVComputeHeadLayout(h.screen, &built);
  EXPECT_EQ(Rects(h.rec), (std::vector<Rect>{{0, 0, 1280, 1024}, {1280, 0, 1280, 1024},
                                             {2560, 0, 1280, 1024}}));
  EXPECT_TRUE(box.Logged("3 monitors configured.\n", X_INFO));
  EXPECT_TRUE(box.Logged("Monitor 2 (2560,0)-(1280,1024)\n", X_INFO));
}

TEST(OrvHeadLayout, LeftOfPutsTheSecondHeadFirst) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.merged = 1;
  h.rec.monitor2Position = kPositionLeftOf;
  DisplayModeRec a{}, b{};
  a.HDisplay = 1024;
  a.VDisplay = 768;
  b.HDisplay = 800;
  b.VDisplay = 600;
  OrvMergedPair pair{&a, &b, kPositionLeftOf};
  OrvModePrivate priv{kModeMergedPair, &pair};
  DisplayModeRec merged = a;
  merged.Private = reinterpret_cast<INT32*>(&priv);
  ORVComputeHeadLayout(h.screen, &merged);
  EXPECT_EQ(Rects(h.rec), (std::vector<Rect>{{0, 0, 800, 600}, {800, 0, 1024, 768}}));
  // Below: the second head under the first.
  h.rec.monitor2Position = kPositionBelow;
  ORVComputeHeadLayout(h.screen, &merged);
  EXPECT_EQ(Rects(h.rec), (std::vector<Rect>{{0, 0, 1024, 768}, {0, 768, 800, 600}}));
}

TEST(OrvHeadLayout, KvdSplitsOneModeOverTwoHeads) {
  xstub::Sandbox box;
  xstub::XServer server;
  Head h(server);
  h.rec.kvd = 1;
  h.rec.quadBoard = 1;
  DisplayModeRec m = Mode1024();
  m.HDisplay = 2048;
  ORVComputeHeadLayout(h.screen, &m);
  EXPECT_EQ(Rects(h.rec), (std::vector<Rect>{{0, 0, 1024, 768}, {1024, 0, 1024, 768}}));
}

}  // namespace
