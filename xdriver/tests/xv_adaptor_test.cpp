// The Xv adaptor in bus-mastering mode 0, driven through the X server
// stand-in's Xv layer and request decoder: which adaptor a screen gets and
// what it programs, the attributes and queries, the overlay's registers and
// buffers frame by frame, the blitting path's destination pyramid and
// blits, the off-screen images on the scaler, refused allocations, hostile
// sizes and coordinates, and what the screen's close releases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/client_services.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa.h"
#include "platform/xserver/xv_server.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"
#include "xdriver/tests/video_fixture.h"
#include "xdriver/tests/xv_wire.h"

namespace {

using videotest::KernelVideoTest;
using videotest::Wire;

constexpr XID kWindow = 0x900;
constexpr int kWidth = 640, kHeight = 480;

// A recording XAA: the colour key's fills.
std::vector<std::string> g_xaa;
void XaaSync(ScrnInfoPtr) {}
void XaaSetupFill(ScrnInfoPtr, int color, int rop, unsigned planemask) {
  g_xaa.push_back("setup " + std::to_string(static_cast<unsigned>(color)) + " " +
                  std::to_string(rop) + " " + std::to_string(planemask));
}
void XaaFill(ScrnInfoPtr, int x, int y, int w, int h) {
  g_xaa.push_back("fill " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) +
                  " " + std::to_string(h));
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at, bool swapped) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return swapped ? __builtin_bswap32(v) : v;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at, bool swapped) {
  uint16_t v;
  std::memcpy(&v, &b[at], 2);
  return swapped ? __builtin_bswap16(v) : v;
}

class XvAdaptor : public KernelVideoTest {
 protected:
  void SetUp() override {
    KernelVideoTest::SetUp();
    g_xaa.clear();
    server_ = std::make_unique<xstub::XServer>();
    view_ = std::make_unique<videotest::VideoScreen>(*machine_, *server_, kWidth, kHeight, 24);
    info_ = view_->info;
    screen_ = view_->screen;
    rec_ = view_->rec;
    xstub::AddXvWindow({kWindow, 0, 0, 0, kWidth, kHeight, {}});
  }

  void TearDown() override {
    ORVCloseXV(info_);
    if (rec_->pFeatures != nullptr) OrvFeatureConfig_FreeFeatureList(&rec_->pFeatures);
    if (xaa_ != nullptr) XAADestroyInfoRec(xaa_);
    view_.reset();
    server_.reset();
    KernelVideoTest::TearDown();
  }

  // The framebuffer layer over the board's memory (the primary at 0).
  void Framebuffer() {
    miClearVisualTypes();
    miSetVisualTypes(info_->depth, miGetDefaultVisualMask(info_->depth), 8, TrueColor);
    miSetPixmapDepths();
    ASSERT_TRUE(fbScreenInit(screen_, board_->Memory(), kWidth, kHeight, 75, 75, kWidth,
                             info_->bitsPerPixel));
  }
  void RecordingXaa() {
    xaa_ = XAACreateInfoRec();
    xaa_->Sync = XaaSync;
    xaa_->SetupForSolidFill = XaaSetupFill;
    xaa_->SubsequentSolidFillRect = XaaFill;
    ASSERT_TRUE(XAAInit(screen_, xaa_));
  }

  void Init() {
    board_->ClearLog();
    ORVInitXV(screen_);
    adaptors_ = xstub::XvAdaptors(0);
  }
  XID DriverPort() const { return adaptors_.back().ports[0]; }
  ORVPortPrivPtr Port(int i = 0) const {
    auto* a = static_cast<XF86VideoAdaptorPtr>(rec_->xvAdaptor);
    return static_cast<ORVPortPrivPtr>(a->pPortPrivates[i].ptr);
  }

  xstub::XvAnswer Send(const std::vector<uint8_t>& bytes, bool swapped = false) {
    return xstub::XvRequest(bytes.data(), bytes.size(), swapped);
  }
  std::vector<uint8_t> PutImage(uint32_t fourcc, int16_t srcX, int16_t srcY, uint16_t srcW,
                                uint16_t srcH, int16_t drwX, int16_t drwY, uint16_t drwW,
                                uint16_t drwH, uint16_t width, uint16_t height, size_t data,
                                bool swapped = false, XID port = 0) {
    Wire w(swapped, xstub::kXvPutImage);
    w.U32(port != 0 ? port : DriverPort()).U32(kWindow).U32(0x77).U32(fourcc);
    w.U16(static_cast<uint16_t>(srcX)).U16(static_cast<uint16_t>(srcY)).U16(srcW).U16(srcH);
    w.U16(static_cast<uint16_t>(drwX)).U16(static_cast<uint16_t>(drwY)).U16(drwW).U16(drwH);
    w.U16(width).U16(height).Data(data, 7);
    return w.Done();
  }
  Atom AtomOf(const char* name) { return MakeAtom(name, static_cast<unsigned>(strlen(name)), FALSE); }

  // Register writes logged since the last ClearLog, at or above `from`.
  std::vector<orvsim::RegAccessRecord> Accesses(uint32_t from, uint32_t to) const {
    std::vector<orvsim::RegAccessRecord> out;
    for (const auto& a : board_->Log())
      if (a.offset >= from && a.offset < to) out.push_back(a);
    return out;
  }
  std::vector<orvsim::RegAccessRecord> OverlayAccesses() const { return Accesses(0x1880, 0x1C00); }

  std::unique_ptr<xstub::XServer> server_;
  std::unique_ptr<videotest::VideoScreen> view_;
  ScrnInfoPtr info_ = nullptr;
  ScreenPtr screen_ = nullptr;
  ORVRec* rec_ = nullptr;
  XAAInfoRecPtr xaa_ = nullptr;
  std::vector<xstub::XvAdaptorView> adaptors_;
};

// ---- Which adaptor ----------------------------------------------------------------------

struct ChoiceCase {
  const char* name;
  void (*set)(ScrnInfoPtr, ORVRec*);
  enum { kNone, kBlit, kOverlay } expected;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

FeatureInfo* TvFeature() {
  auto* f = static_cast<FeatureInfo*>(xcalloc(1, sizeof(FeatureInfo)));
  f->kind = kFeatureTvOut;
  return f;
}

const ChoiceCase kChoices[] = {
    {"EightBitsPerPixel", [](ScrnInfoPtr s, ORVRec*) { s->bitsPerPixel = 8, s->depth = 8; }, ChoiceCase::kNone},
    {"ShadowRotation", [](ScrnInfoPtr, ORVRec* r) { r->shadowRotate = 1; }, ChoiceCase::kNone},
    {"HardwareRotation", [](ScrnInfoPtr, ORVRec* r) { r->hwRotate = -1; }, ChoiceCase::kNone},
    {"LocalDma", [](ScrnInfoPtr, ORVRec* r) { r->busMastering = kBusMasteringLocal; }, ChoiceCase::kNone},
    {"Spanthree", [](ScrnInfoPtr, ORVRec* r) { r->spanthree = 1; }, ChoiceCase::kBlit},
    {"Spanfour", [](ScrnInfoPtr, ORVRec* r) { r->spanfour = 1; }, ChoiceCase::kBlit},
    {"S3i", [](ScrnInfoPtr, ORVRec* r) { r->s3i = 1; }, ChoiceCase::kBlit},
    {"S4i", [](ScrnInfoPtr, ORVRec* r) { r->s4i = 1; }, ChoiceCase::kBlit},
    {"ExtendedFramebuffer", [](ScrnInfoPtr, ORVRec* r) { r->xfb = 1; }, ChoiceCase::kBlit},
    {"TvOutput", [](ScrnInfoPtr, ORVRec* r) { r->pFeatures = TvFeature(); }, ChoiceCase::kBlit},
    {"SingleHead", [](ScrnInfoPtr, ORVRec*) {}, ChoiceCase::kOverlay},
};

class XvChoice : public XvAdaptor, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(XvChoice, TheScreenGetsItsAdaptorAfterTheGenericOnes) {
  const ChoiceCase& c = GetParam();
  XF86VideoAdaptorRec generic{};
  DevUnion genericPort{};
  generic.type = XvInputMask | XvImageMask;
  generic.name = "generic";
  generic.nPorts = 1;
  generic.pPortPrivates = &genericPort;
  xstub::SetGenericXvAdaptors(0, {&generic});
  c.set(info_, rec_);
  Init();

  ASSERT_FALSE(adaptors_.empty());
  EXPECT_STREQ(adaptors_[0].adaptor->name, "generic") << "generic adaptors come first";
  const bool blitLog = box_->Logged("Using blitting for video\n");
  const bool overlayLog = box_->Logged("Using overlay for video\n");
  EXPECT_EQ(xstub::XvOffscreenImages(0).size(), 2u) << "whatever the adaptor";
  if (c.expected == ChoiceCase::kNone) {
    EXPECT_EQ(adaptors_.size(), 1u);
    EXPECT_FALSE(blitLog || overlayLog);
    EXPECT_TRUE(OverlayAccesses().empty());
    return;
  }
  ASSERT_EQ(adaptors_.size(), 2u);
  const XF86VideoAdaptorRec& a = *adaptors_[1].adaptor;
  EXPECT_STREQ(a.name, "Orvane Kestrion");
  EXPECT_EQ(a.type, 0x20011u);
  EXPECT_EQ(a.nEncodings, 1);
  EXPECT_STREQ(a.pEncodings[0].name, "XV_IMAGE");
  EXPECT_EQ(a.pEncodings[0].width, 2048);
  ASSERT_EQ(a.nFormats, 4);
  EXPECT_EQ(a.pFormats[0].depth, 16);
  EXPECT_EQ(a.pFormats[0].c_class, TrueColor);
  EXPECT_EQ(a.pFormats[3].depth, 24);
  EXPECT_EQ(a.pFormats[3].c_class, DirectColor);
  ASSERT_EQ(a.nAttributes, 4);
  EXPECT_STREQ(a.pAttributes[2].name, "XV_HUE");
  EXPECT_EQ(a.pAttributes[2].min_value, -128);
  EXPECT_EQ(a.pAttributes[2].max_value, 127);
  ASSERT_EQ(a.nImages, 4);
  EXPECT_EQ(a.pImages[0].id, FOURCC_YUY2);
  EXPECT_EQ(a.pImages[1].id, FOURCC_YV12);
  EXPECT_EQ(a.pImages[2].id, FOURCC_I420);
  EXPECT_EQ(a.pImages[3].id, FOURCC_UYVY);
  EXPECT_EQ(a.PutVideo, nullptr);
  EXPECT_EQ(a.ReputImage, nullptr);
  if (c.expected == ChoiceCase::kBlit) {
    EXPECT_TRUE(blitLog);
    EXPECT_EQ(a.flags, 0x10);
    EXPECT_EQ(adaptors_[1].ports.size(), 5u);
    EXPECT_TRUE(OverlayAccesses().empty()) << "the blitting adaptor leaves the overlay alone";
  } else {
    EXPECT_TRUE(overlayLog);
    EXPECT_EQ(a.flags, 0x14);
    EXPECT_EQ(adaptors_[1].ports.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Screens, XvChoice, testing::ValuesIn(kChoices),
                         [](const testing::TestParamInfo<ChoiceCase>& i) {
                           return std::string(i.param.name);
                         });

// The filter's 32 words in order.
std::vector<uint32_t> FilterWords() {
  const uint32_t pairs[32][2] = {
      {1025, 3},   {1059, 1015}, {44, 1029},  {0, 1025},   {1025, 5},   {1084, 990},
      {97, 1035},  {0, 1025},    {1025, 6},   {1100, 949}, {161, 1043}, {0, 1025},
      {1025, 7},   {1109, 894},  {233, 1052}, {1, 1025},   {1025, 6},   {1112, 827},
      {313, 1062}, {1, 1025},    {1025, 6},   {1110, 750}, {398, 1073}, {2, 1025},
      {1025, 5},   {1104, 666},  {487, 1084}, {3, 1025},   {1025, 4},   {1095, 577},
      {577, 1095}, {4, 1025}};
  std::vector<uint32_t> out;
  for (const auto& p : pairs) out.push_back(p[1] << 19 | p[0] << 3);
  return out;
}

TEST_F(XvAdaptor, TheOverlayStartsOffWithItsFilterLoadedOnEveryHeadItShows) {
  for (int merged = 0; merged <= 1; ++merged) {
    rec_->merged = merged;
    Init();
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    for (const auto& a : OverlayAccesses())
      if (a.op == orvsim::RegOp::kWrite) writes.emplace_back(a.offset, a.value);
    std::vector<std::pair<uint32_t, uint32_t>> expected = {{0x19A8, 0}, {0x1888, 0}};
    if (merged) expected.insert(expected.end(), {{0x1BA8, 0}, {0x1A88, 0}});
    expected.push_back({0x19E8, 0});
    if (merged) expected.push_back({0x1BE8, 0});
    for (uint32_t w : FilterWords()) {
      expected.push_back({0x19EC, w});
      if (merged) expected.push_back({0x1BEC, w});
    }
    EXPECT_EQ(writes, expected) << "merged " << merged;
    EXPECT_EQ(FilterWords()[0], 0x182008u);
    ORVCloseXV(info_);
    screen_->CloseScreen(0, screen_);  // the server's Xv layer goes with the generation
    screen_ = server_->NewScreen(info_);
    screen_->width = kWidth;
    screen_->height = kHeight;
  }
}

// ---- Attributes and queries ---------------------------------------------------------------

class XvRequests : public XvAdaptor, public testing::WithParamInterface<bool> {};

TEST_P(XvRequests, AttributesAreCheckedStoredAndHandedToTheLayer) {
  const bool swapped = GetParam();
  Init();
  const Atom hue = AtomOf("XV_HUE");
  ASSERT_NE(hue, 0u);
  auto set = [&](Atom atom, int32_t value) {
    return Send(Wire(swapped, xstub::kXvSetPortAttribute).U32(DriverPort()).U32(atom).U32(value).Done(),
                swapped);
  };
  auto get = [&](Atom atom) {
    return Send(Wire(swapped, xstub::kXvGetPortAttribute).U32(DriverPort()).U32(atom).Done(), swapped);
  };
  EXPECT_EQ(set(hue, 128).error, BadValue);
  EXPECT_EQ(set(hue, -129).error, BadValue);
  ASSERT_EQ(set(hue, -128).error, Success);
  // -128 / 128 x 3.1415 radians reaches the layer's hue matrix.
  const Matrix& m = Port()->video->hue;
  EXPECT_FLOAT_EQ(m.e[4 * 1 + 1], std::cos(-3.1415f));
  EXPECT_FLOAT_EQ(m.e[4 * 2 + 1], std::sin(-3.1415f)) << "element [1][2] is +sin";
  EXPECT_FLOAT_EQ(m.e[4 * 1 + 2], -std::sin(-3.1415f));
  xstub::XvAnswer got = get(hue);
  ASSERT_EQ(got.error, Success);
  EXPECT_EQ(static_cast<int32_t>(Get32(got.reply, 8, swapped)), -128);

  ASSERT_EQ(set(AtomOf("XV_BRIGHTNESS"), 64).error, Success);
  EXPECT_FLOAT_EQ(Port()->video->brightness.x, 0.25f);
  ASSERT_EQ(set(AtomOf("XV_CONTRAST"), -64).error, Success);
  EXPECT_FLOAT_EQ(Port()->video->contrast.e[0], 0.5f);
  ASSERT_EQ(set(AtomOf("XV_SATURATION"), 127).error, Success);
  EXPECT_FLOAT_EQ(Port()->video->saturation.e[5], 1 + 127.0f / 128);
  EXPECT_FLOAT_EQ(Port()->video->saturation.e[10], 1 + 127.0f / 128);

  const Atom other = MakeAtom("XV_COLORKEY", 11, TRUE);
  EXPECT_EQ(set(other, 0).error, BadMatch);
  EXPECT_EQ(get(other).error, BadMatch);
}

TEST_P(XvRequests, BestSizeIsHalfTheDrawableAndImageSizesAreClamped) {
  const bool swapped = GetParam();
  Init();
  xstub::XvAnswer best = Send(Wire(swapped, xstub::kXvQueryBestSize)
                                  .U32(DriverPort()).U16(1920).U16(1080).U16(641).U16(480).U8(0)
                                  .U8(0).U16(0).Done(),
                              swapped);
  ASSERT_EQ(best.error, Success);
  EXPECT_EQ(Get16(best.reply, 8, swapped), 320);
  EXPECT_EQ(Get16(best.reply, 10, swapped), 480);

  struct Case {
    uint32_t fourcc;
    uint16_t w, h;
    uint16_t outW, outH;
    uint32_t size;
    std::vector<uint32_t> pitches, offsets;
  };
  const Case cases[] = {
      {FOURCC_YV12, 100, 50, 100, 50, 16384, {128, 64, 64}, {0, 8192, 12288}},
      {FOURCC_I420, 2049, 100, 2048, 100, 2048 * 128 + 2 * 1024 * 64, {2048, 1024, 1024},
       {0, 2048 * 128, 2048 * 128 + 1024 * 64}},
      {FOURCC_YUY2, 2049, 100, 2048, 100, 2 * 2048 * 128, {4096}, {0}},
      {FOURCC_UYVY, 5, 3000, 5, 2048, 2 * 32 * 2048, {64}, {0}},
  };
  for (const Case& c : cases) {
    xstub::XvAnswer a = Send(Wire(swapped, xstub::kXvQueryImageAttributes)
                                 .U32(DriverPort()).U32(c.fourcc).U16(c.w).U16(c.h).Done(),
                             swapped);
    ASSERT_EQ(a.error, Success);
    const size_t planes = c.pitches.size();
    ASSERT_EQ(a.reply.size(), 32 + 8 * planes);
    EXPECT_EQ(Get32(a.reply, 12, swapped), c.size) << c.w << "x" << c.h;
    EXPECT_EQ(Get16(a.reply, 16, swapped), c.outW);
    EXPECT_EQ(Get16(a.reply, 18, swapped), c.outH);
    for (size_t i = 0; i < planes; ++i) {
      EXPECT_EQ(Get32(a.reply, 32 + 4 * i, swapped), c.pitches[i]);
      EXPECT_EQ(Get32(a.reply, 32 + 4 * (planes + i), swapped), c.offsets[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, XvRequests, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                           return i.param ? "Swapped" : "Native";
                         });

// ---- The overlay -----------------------------------------------------------------------

TEST_F(XvAdaptor, TheOverlayIsProgrammedOncePerPositionAndFramesAlternateHalves) {
  Framebuffer();
  rec_->noAccel = 1;  // the key through the framebuffer layer
  Init();
  // A 100x50 YV12 image (128 wide in memory) onto 200x100 at (40, 30).
  board_->Poke(0x192C, 4, 0x12345678);
  board_->ClearLog();
  ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, 30, 200, 100, 100, 50, 16384)).error,
            Success);
  std::vector<orvsim::RegAccessRecord> frame = OverlayAccesses();
  // The buffer's two halves, then the window.
  ORVPortPrivPtr port = Port();
  ASSERT_GE(frame.size(), 2u);
  EXPECT_EQ(frame[0].offset, 0x19C8u);
  EXPECT_EQ(frame[0].value, port->dstHalf[0]);
  EXPECT_EQ(frame[1].offset, 0x19CCu);
  EXPECT_EQ(frame[1].value, port->dstHalf[0] + 4 * 128 * 128) << "4 x W x align64(drw_h)";
  // W = 128 (the source pitch: the window is wider); the source span 0..100
  // in 16.16, lines 0..100 of the 100-line destination.
  const uint32_t step = ((100u << 14) - 0x4000) / 199;
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0x19A8, 0},
      {0x19E4, (step * 4) & 0x1FFFC},
      {0x19B4, 127u << 16},
      {0x19AC, 0},
      {0x19B0, ((199 * step) * 4) & 0x3FFFFFC},
      {0x19F0, 0},
      {0x19F4, 100},
      {0x19DC, 0},
      {0x19E0, 0x3FCFF3FC},
      {0x19D8, 128 | 0x32u << 24 | 0x30000},
      {0x192C, 0x12345678},  // read
      {0x190C, 40 | 239u << 16},
      {0x1928, 30 | 129u << 16},
      {0x1918, 0x12340001},
      {0x19A8, 0x839},
      {0x1888, 0},
      {0x1880, 0x4000040},
      {0x1884, 0x4000040},
      {0x1888, 4}};
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (size_t i = 2; i < frame.size(); ++i) got.emplace_back(frame[i].offset, frame[i].value);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(frame[12].op, orvsim::RegOp::kRead);
  // The key painted over the window's part (with a framebuffer, no XAA).
  uint32_t key;
  std::memcpy(&key, board_->Memory() + (35 * kWidth + 50) * 4, 4);
  EXPECT_EQ(key, kOrvColorKey);
  EXPECT_EQ(port->bufferIndex, 1);

  // In place again: no register, the other half; the video buffers go to
  // the module with their index.
  kernel_->ClearCalls();
  board_->ClearLog();
  ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, 30, 200, 100, 100, 50, 16384)).error,
            Success);
  EXPECT_TRUE(OverlayAccesses().empty());
  EXPECT_EQ(port->bufferIndex, 0);
  std::vector<uint32_t> indexes;
  for (const auto& call : kernel_->CallsTo(0x1b)) {
    OrvDmaPostRequest r;
    std::memcpy(&r, call.record.data(), sizeof r);
    if (r.kind == kDmaPostVideo) indexes.push_back(r.video[0]);
  }
  EXPECT_EQ(indexes, std::vector<uint32_t>{0});
  // Moved: programmed once more, at the new place.
  board_->ClearLog();
  ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 41, 30, 200, 100, 100, 50, 16384)).error,
            Success);
  int controls = 0;
  for (const auto& a : OverlayAccesses()) controls += a.offset == 0x19A8 && a.value == 0x839;
  EXPECT_EQ(controls, 1);
}

// A scaled image whose destination runs past the screen's bottom: the
// lines cut off are counted in the vertical scale, not the horizontal one,
// so the overlay reads only the source lines that still show.
TEST_F(XvAdaptor, TheBottomCutOfAScaledImageDropsItsSourceLinesByTheVerticalScale) {
  Framebuffer();
  rec_->noAccel = 1;
  Init();
  struct Case {
    int16_t drwY;
    uint16_t drwW, drwH;
    uint32_t lineEnd;  // of the destination's lines, drw_h of them
    uint32_t windowY;
  };
  // A 100 x 50 image at (40, drwY); the screen is 480 lines tall.
  const Case kCases[] = {
      // Half the width, a third of the height: 70 of 150 lines cut; 80 remain.
      {400, 200, 150, 80, 400 | 479u << 16},
      // A quarter of the width, half the height: 40 of 100 lines cut.
      {420, 400, 100, 60, 420 | 479u << 16},
      // Nothing cut: every line.
      {300, 200, 150, 150, 300 | 449u << 16},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.drwY);
    board_->ClearLog();
    ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, c.drwY, c.drwW, c.drwH, 100, 50, 16384)).error,
              Success);
    std::map<uint32_t, uint32_t> written;
    for (const auto& a : OverlayAccesses())
      if (a.op == orvsim::RegOp::kWrite) written[a.offset] = a.value;
    EXPECT_EQ(written[0x19F0], 0u) << "from the image's first line";
    EXPECT_EQ(written[0x19F4], c.lineEnd);
    EXPECT_EQ(written[0x1928], c.windowY);
  }
}

TEST_F(XvAdaptor, AColourKeyIsPaintedThroughXaaOnlyWhenTheClipChanges) {
  RecordingXaa();
  Init();
  ASSERT_EQ(Send(PutImage(FOURCC_YUY2, 0, 0, 64, 32, 10, 20, 64, 32, 64, 32, 64 * 64 * 2)).error,
            Success);
  EXPECT_EQ(g_xaa, (std::vector<std::string>{"setup 1048592 3 4294967295", "fill 10 20 64 32"}));
  g_xaa.clear();
  ASSERT_EQ(Send(PutImage(FOURCC_YUY2, 0, 0, 64, 32, 10, 20, 64, 32, 64, 32, 64 * 64 * 2)).error,
            Success);
  EXPECT_TRUE(g_xaa.empty()) << "the same clip is not painted again";
}

TEST_F(XvAdaptor, AMergedDesktopProgramsBothHeadsEachRelativeToItsViewport) {
  rec_->merged = 1;
  rec_->head1Frame[0] = 0, rec_->head1Frame[1] = 0, rec_->head1Frame[2] = 319,
  rec_->head1Frame[3] = 479;
  ScrnInfoPtr second = server_->NewScrnInfo();
  second->frameX0 = 320, second->frameY0 = 0, second->frameX1 = 639, second->frameY1 = 479;
  rec_->aux[0] = second;
  RecordingXaa();
  Init();
  board_->ClearLog();
  kernel_->ClearCalls();
  // 200 wide from x 220: 100 on each head.
  ASSERT_EQ(Send(PutImage(FOURCC_UYVY, 0, 0, 64, 32, 220, 10, 200, 64, 64, 32, 64 * 64 * 2)).error,
            Success);
  uint32_t window0 = 0, window1 = 0;
  int on0 = 0, on1 = 0;
  for (const auto& a : OverlayAccesses()) {
    if (a.offset == 0x190C) window0 = a.value;
    if (a.offset == 0x1B0C) window1 = a.value;
    on0 += a.offset == 0x19A8 && a.value == 0x839;
    on1 += a.offset == 0x1BA8 && a.value == 0x839;
  }
  EXPECT_EQ(on0, 1);
  EXPECT_EQ(on1, 1);
  EXPECT_EQ(window0, 220 | 319u << 16);
  EXPECT_EQ(window1, 0 | 99u << 16) << "relative to the second head's frame";
  // The frame goes to the module as a video buffer of kind 2 (12).
  bool merged = false;
  for (const auto& call : kernel_->CallsTo(0x1b)) {
    OrvDmaPostRequest r;
    std::memcpy(&r, call.record.data(), sizeof r);
    merged |= r.kind == kDmaPostVideo && r.video[2] == 12;
  }
  EXPECT_TRUE(merged);
}

TEST_F(XvAdaptor, RefusedAllocationsAnswerBadAllocAndAreTriedAgainNextFrame) {
  RecordingXaa();
  Init();
  const auto frame = PutImage(FOURCC_YUY2, 0, 0, 64, 32, 0, 0, 64, 32, 64, 32, 64 * 64 * 2);
  kernel_->SetAnswer(0x01, -12);
  xstub::XvAnswer a = Send(frame);
  EXPECT_EQ(a.error, BadAlloc);
  EXPECT_TRUE(box_->Logged("can't allocate video system memory.\n"));
  EXPECT_EQ(Port()->systemSize, 0);
  kernel_->SetHandler(0x01, nullptr);

  machine_->refuseBlocks = 1;
  EXPECT_EQ(Send(frame).error, BadAlloc);
  EXPECT_TRUE(box_->Logged("can't allocate dest local video memory.\n"));
  EXPECT_EQ(Port()->dstSize, 0);
  EXPECT_GT(Port()->systemSize, 0) << "the system buffer stays";

  machine_->refuseBlocks = 0;
  TakeBlocks();
  EXPECT_EQ(Send(frame).error, Success);
  EXPECT_EQ(TakeBlocks().size(), 2u) << "both surfaces placed on the next frame";
  EXPECT_GT(Port()->dstSize, 0);
}

TEST_F(XvAdaptor, ANarrowWindowStillGetsA64PixelBuffer) {
  RecordingXaa();
  Init();
  board_->ClearLog();
  ASSERT_EQ(Send(PutImage(FOURCC_YUY2, 0, 0, 320, 20, 0, 0, 40, 20, 320, 20, 320 * 64 * 2)).error,
            Success);
  for (const auto& a : OverlayAccesses()) {
    if (a.offset == 0x19B4) {
      EXPECT_EQ(a.value, 63u << 16);
    }
    if (a.offset == 0x19D8) {
      EXPECT_EQ(a.value & 0x3FFF, 64u);
    }
  }
  EXPECT_EQ(Port()->dstSize, 8 * 64 * 64);
}

// ---- The blitting adaptor ---------------------------------------------------------------

TEST_F(XvAdaptor, BlittingDrawsIntoAPyramidAndCopiesEachClipBoxOut) {
  rec_->xfb = 1;
  Init();
  // Two clip boxes of the window: the image's left and right parts.
  xstub::AddXvWindow({0x901, 0, 0, 0, kWidth, kHeight, {{10, 20, 40, 70}, {70, 20, 110, 70}}});
  Wire w(false, xstub::kXvPutImage);
  w.U32(DriverPort()).U32(0x901).U32(0).U32(FOURCC_YUY2);
  w.U16(0).U16(0).U16(100).U16(50).U16(10).U16(20).U16(100).U16(50).U16(100).U16(50);
  w.Data(2 * 128 * 64, 1);
  TakeBlocks();
  BmPrimInt* prim = pdev_->primInt;
  const uint32_t* from = prim->cursor;
  ASSERT_EQ(Send(w.Done()).error, Success);
  auto blocks = TakeBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].memoryType, 21u) << "the destination in slot 1";
  EXPECT_GE(blocks[0].size, 90112u);
  EXPECT_EQ(Port()->dstSize, 90112) << "two pyramids of 45,056 bytes";
  const uint32_t dst = Port()->dstHalf[0];

  // The blit packets: one per box, from the pyramid at the box's place.
  const std::vector<uint32_t> words = WordsSince(prim, from);
  std::vector<std::vector<uint32_t>> blits;
  for (size_t i = 0; i + 5 < words.size(); ++i) {
    if (words[i] == 0x8a8b8889 && words[i + 2] == dst)
      blits.push_back(std::vector<uint32_t>(words.begin() + i, words.begin() + i + 10));
  }
  ASSERT_EQ(blits.size(), 2u);
  const std::vector<uint32_t> first = {0x8a8b8889, 100 | 50u << 24 | 0x40000, dst,
                                       640 | 50u << 24 | 0x30000, 0, 0xe3c2c1c0, 0x4C2, 0,
                                       10 | 20 << 16, 30 | 50 << 16};
  const std::vector<uint32_t> second = {0x8a8b8889, 100 | 50u << 24 | 0x40000, dst,
                                        640 | 50u << 24 | 0x30000, 0, 0xe3c2c1c0, 0x4C2, 60,
                                        70 | 20 << 16, 40 | 50 << 16};
  EXPECT_EQ(blits[0], first);
  EXPECT_EQ(blits[1], second);
  EXPECT_TRUE(OverlayAccesses().empty());
}

TEST_F(XvAdaptor, APannedViewportDoesNotMoveTheBlitsSource) {
  rec_->xfb = 1;
  info_->frameX0 = 100;
  info_->frameX1 = 100 + kWidth - 1;
  Init();
  TakeBlocks();
  BmPrimInt* prim = pdev_->primInt;
  const uint32_t* from = prim->cursor;
  ASSERT_EQ(Send(PutImage(FOURCC_YUY2, 0, 0, 64, 32, 150, 10, 64, 32, 64, 32, 64 * 64 * 2)).error,
            Success);
  const std::vector<uint32_t> words = WordsSince(prim, from);
  bool found = false;
  for (size_t i = 0; i + 4 < words.size(); ++i) {
    if (words[i] == 0xe3c2c1c0 && words[i + 1] == 0x4C2) {
      EXPECT_EQ(words[i + 2], 0u) << "the box's left edge is the image's";
      EXPECT_EQ(words[i + 3], 150u | 10 << 16);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

// ---- Hostile requests ---------------------------------------------------------------------

struct HostileCase {
  const char* name;
  uint32_t fourcc;
  int16_t srcX, srcY;
  uint16_t srcW, srcH;
  int16_t drwX, drwY;
  uint16_t drwW, drwH, width, height;
  int error;
};

const HostileCase kHostile[] = {
    {"ZeroSourceWidth", FOURCC_YUY2, 0, 0, 0, 10, 0, 0, 100, 100, 64, 32, Success},
    {"ZeroSourceHeight", FOURCC_YV12, 0, 0, 10, 0, 0, 0, 100, 100, 64, 32, Success},
    {"OnePixelDrawable", FOURCC_YUY2, 0, 0, 64, 32, 0, 0, 1, 100, 64, 32, Success},
    {"WidestSource", FOURCC_YUY2, -32768, -32768, 65535, 65535, 0, 0, 640, 480, 64, 32, Success},
    {"SourceOffTheImage", FOURCC_I420, 30000, 30000, 100, 100, 0, 0, 640, 480, 64, 32, Success},
    {"ClippedAwayCorner", FOURCC_I420, 32767, 32767, 65535, 65535, 32767, 32767, 65535, 65535, 64,
     32, Success},
    {"FarOffDestination", FOURCC_UYVY, 5, 5, 60, 30, -8000, -8000, 8192, 8192, 64, 32, Success},
    {"HugeNegativeDestination", FOURCC_UYVY, 0, 0, 64, 32, -32768, -32768, 40000, 40000, 64, 32,
     BadValue},
    {"WiderThanTheEngine", FOURCC_YUY2, 0, 0, 64, 32, 0, 0, 8193, 100, 64, 32, BadValue},
    {"TooHighImage", FOURCC_YV12, 0, 0, 64, 32, 0, 0, 100, 100, 16, 2049, BadValue},
    {"EmptyImage", FOURCC_YV12, 0, 0, 10, 10, 0, 0, 100, 100, 0, 0, Success},
};

// A row and the adaptor that takes it (the blit adaptor with xfb on, the
// overlay without): "ZeroSourceWidthBlit".
void PrintTo(const std::tuple<HostileCase, bool>& p, std::ostream* out) {
  *out << std::get<0>(p).name << (std::get<1>(p) ? "Blit" : "Overlay");
}

class XvHostile : public XvAdaptor, public testing::WithParamInterface<std::tuple<HostileCase, bool>> {};

TEST_P(XvHostile, NothingDividesByZeroOverflowsOrLeavesItsBuffers) {
  const HostileCase& c = std::get<0>(GetParam());
  rec_->xfb = std::get<1>(GetParam()) ? 1 : 0;
  RecordingXaa();
  Init();
  unsigned short w = c.width, h = c.height;
  const size_t data = static_cast<size_t>(ORVQueryImageAttributesOverlay(info_, static_cast<int>(c.fourcc), &w, &h, nullptr, nullptr));
  xstub::XvAnswer a = Send(PutImage(c.fourcc, c.srcX, c.srcY, c.srcW, c.srcH, c.drwX, c.drwY,
                                    c.drwW, c.drwH, c.width, c.height, data));
  EXPECT_EQ(a.error, c.error);
  EXPECT_TRUE(engine2d_->Faults().empty());
}

INSTANTIATE_TEST_SUITE_P(Requests, XvHostile,
                         testing::Combine(testing::ValuesIn(kHostile), testing::Bool()),
                         testing::PrintToStringParamName());

TEST_F(XvAdaptor, AnImageWiderThanTheAdaptorTakesIsRefusedBeforeItsDataIsRead) {
  // Too long for a request the decoder takes: straight to the callbacks,
  // with the data a clamped image would have.
  Init();
  auto* adaptor = static_cast<XF86VideoAdaptorPtr>(rec_->xvAdaptor);
  unsigned short w = 4096, h = 1;
  std::vector<unsigned char> data(static_cast<size_t>(
      adaptor->QueryImageAttributes(info_, FOURCC_YUY2, &w, &h, nullptr, nullptr)));
  EXPECT_EQ(w, 2048);
  BoxRec whole{0, 0, kWidth, kHeight};
  RegionRec clip;
  REGION_INIT(nullptr, &clip, &whole, 1);
  EXPECT_EQ(adaptor->PutImage(info_, 0, 0, 0, 0, 64, 1, 100, 100, FOURCC_YUY2, data.data(), 4096, 1,
                              FALSE, &clip, Port()),
            BadValue);
  // A height the engine cannot hold either, on the blitting side too.
  EXPECT_EQ(ORVPutImageBlit(info_, 0, 0, 0, 0, 64, 1, 100, 100, FOURCC_YUY2, data.data(), 16,
                            static_cast<short>(3000), FALSE, &clip, Port()),
            BadValue);
  EXPECT_EQ(Port()->systemSize, 0) << "nothing was allocated";
  REGION_UNINIT(nullptr, &clip);
}

// ---- Off-screen images --------------------------------------------------------------------

TEST_F(XvAdaptor, AnOffscreenImageRunsOnTheScalerFromAllocationToFree) {
  Init();
  auto images = xstub::XvOffscreenImages(0);
  ASSERT_EQ(images.size(), 2u);
  const XF86OffscreenImageRec& uyvy = *images[1];
  EXPECT_EQ(uyvy.image->id, FOURCC_UYVY);
  EXPECT_EQ(uyvy.flags, 0x10);
  EXPECT_EQ(uyvy.max_width, 2048);
  XF86SurfaceRec surface{};
  EXPECT_EQ(uyvy.alloc_surface(info_, FOURCC_UYVY, 2049, 16, &surface), BadAlloc);
  EXPECT_EQ(uyvy.alloc_surface(info_, FOURCC_UYVY, 16, 2049, &surface), BadAlloc);

  ASSERT_EQ(uyvy.alloc_surface(info_, FOURCC_UYVY, 100, 40, &surface), Success);
  ASSERT_NE(surface.pitches, nullptr);
  EXPECT_EQ(surface.pitches[0], 128 * 2);
  EXPECT_NE(surface.offsets[0], 0);
  EXPECT_EQ(surface.width, 100);
  EXPECT_EQ(surface.id, FOURCC_UYVY);
  auto* port = static_cast<ORVPortPrivPtr>(surface.devPrivate.ptr);

  const BoxRec boxes[2] = {{10, 10, 60, 40}, {70, 10, 110, 40}};
  RegionRec clip;
  REGION_NULL(nullptr, &clip);
  miRegionFromBoxes(&clip, boxes, 2);
  kernel_->ClearCalls();
  ASSERT_EQ(uyvy.display(&surface, 0, 0, 10, 10, 100, 40, 100, 30, &clip), Success);
  // A sync to stop the scaler, a destination of the drawable's size, the
  // boxes, the sequence, and the VSync request switched on.
  EXPECT_FALSE(kernel_->CallsTo(0x1b).empty());
  ASSERT_EQ(port->boxCapacity, 2);
  EXPECT_EQ(port->boxes[1].x, 70);
  EXPECT_EQ(port->boxes[1].srcX, 60);
  EXPECT_EQ(port->boxes[1].width, 40);
  auto vsync = kernel_->CallsTo(0x1d);
  ASSERT_EQ(vsync.size(), 1u) << "the stop found the interrupt off";
  OrvVSyncStateRequest r;
  std::memcpy(&r, vsync[0].record.data(), sizeof r);
  EXPECT_EQ(r.word[0], 0x20000000u);
  EXPECT_EQ(r.word[2], 1u);

  // Displayed again: off, then on again.
  ASSERT_EQ(uyvy.display(&surface, 0, 0, 10, 10, 100, 40, 100, 30, &clip), Success);
  vsync = kernel_->CallsTo(0x1d);
  ASSERT_EQ(vsync.size(), 3u);
  std::memcpy(&r, vsync[1].record.data(), sizeof r);
  EXPECT_EQ(r.word[2], 0u);

  EXPECT_EQ(uyvy.stop(&surface), Success);
  EXPECT_EQ(kernel_->CallsTo(0x1d).size(), 4u);
  const size_t live = box_->LiveAllocations();
  EXPECT_EQ(uyvy.free_surface(&surface), Success);
  EXPECT_LT(box_->LiveAllocations(), live);
  for (const SharedPendingSlot& s : pdev_->sharedLocked->pendingSlots)
    EXPECT_EQ(s.postType, kPendingSlotFree);
  REGION_UNINIT(nullptr, &clip);
}

// ---- Close -----------------------------------------------------------------------------

TEST_F(XvAdaptor, ClosingTheScreenReleasesEveryPortAndBuffer) {
  rec_->xfb = 1;
  const size_t before = box_->LiveAllocations();
  TakeBlocks();
  Init();
  // Two ports with buffers.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 64, 32, 0, 0, 64, 32, 64, 32, 64 * 64 * 2, false,
                            adaptors_.back().ports[i]))
                  .error,
              Success);
  }
  ASSERT_GT(kernel_->BufferCount(), 1u);
  const size_t kernelBuffers = kernel_->BufferCount();
  ORVCloseXV(info_);
  EXPECT_EQ(rec_->xvAdaptor, nullptr);
  EXPECT_EQ(kernel_->BufferCount(), kernelBuffers - 2) << "both system buffers went back";
  for (const videotest::PlacedBlock& b : machine_->blocks) EXPECT_TRUE(b.freed) << std::hex << b.bus;
  screen_->CloseScreen(0, screen_);
  EXPECT_EQ(box_->LiveAllocations(), before);
}

TEST_F(XvAdaptor, AFrameWhoseHalfTheEngineStillReadsIsGivenUpUnwritten) {
  Framebuffer();
  rec_->noAccel = 1;
  Init();
  auto frame = [&](uint8_t flip) {
    std::vector<uint8_t> request = PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, 30, 200, 100, 100, 50, 16384);
    for (size_t i = request.size() - 16384; i < request.size(); ++i) request[i] ^= flip;
    return request;
  };
  ASSERT_EQ(Send(frame(0)).error, Success);  // half 0, run
  kernel_->SetAnswer(0x1b, 0);               // posts accepted, never run
  ASSERT_EQ(Send(frame(0)).error, Success);  // half 1, its first frame
  ASSERT_EQ(Send(frame(0)).error, Success);  // half 0, whose frame ran
  ORVPortPrivPtr port = Port();
  ASSERT_EQ(port->bufferIndex, 1);
  const auto* system = static_cast<const uint8_t*>(port->systemPtr);
  const std::vector<uint8_t> before(system, system + port->systemSize);

  // Half 1's frame never ran: the engine may still read it.
  EXPECT_EQ(Send(frame(0xFF)).error, BadAlloc);
  EXPECT_TRUE(box_->Logged("[orv] *ERROR* sync tag 0x"));
  EXPECT_EQ(std::vector<uint8_t>(system, system + port->systemSize), before)
      << "the system buffer the engine reads was written";
}

// A larger image needs a larger system buffer while a frame the engine never
// finishes may still read the old one: the frame is given up and the old
// buffer stays as it was, not given back for another owner.
TEST_F(XvAdaptor, TheSystemBufferAFrameMayStillReadIsNotReplaced) {
  Framebuffer();
  rec_->noAccel = 1;
  Init();
  ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, 30, 200, 100, 100, 50, 16384)).error, Success);
  kernel_->SetAnswer(0x1b, 0);  // posts accepted, never run
  ASSERT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 100, 50, 40, 30, 200, 100, 100, 50, 16384)).error, Success);
  ORVPortPrivPtr port = Port();
  const void* system = port->systemPtr;
  const int32_t size = port->systemSize;
  const size_t buffers = kernel_->BufferCount();

  EXPECT_EQ(Send(PutImage(FOURCC_YV12, 0, 0, 200, 100, 40, 30, 200, 100, 200, 100, 65536)).error, BadAlloc);
  EXPECT_TRUE(box_->Logged("[orv] *ERROR* sync tag 0x"));
  EXPECT_EQ(port->systemPtr, system);
  EXPECT_EQ(port->systemSize, size);
  EXPECT_EQ(kernel_->BufferCount(), buffers) << "the old buffer went back while the engine may read it";
}

}  // namespace
