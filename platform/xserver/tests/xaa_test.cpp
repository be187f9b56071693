// The XAA stand-in: the record, its private slot, the generic filler, and
// the drawing front against a recording driver: set-up then subsequent
// calls, NeedToSync and Sync, clipping as ClippingFlags ask, colour
// expansion rows and stipple words as the flags order them, and the
// software fallback.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa.h"
#include "platform/xserver/xaa_front.h"

namespace {

std::vector<std::string> g_calls;
std::vector<std::vector<uint8_t>> g_expanded;  // ColorExpandBase at each Sync
XAAInfoRecPtr g_info;
int g_expandRows;
int g_expandRowBytes;

// One call of the record's hooks, in printf's terms (the compiler checks
// every format against its arguments).
[[gnu::format(printf, 1, 2)]] void Log(const char* format, ...) {
  char text[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  g_calls.emplace_back(text);
}

void Sync(ScrnInfoPtr) {
  Log("Sync");
  if (g_expandRows != 0) {
    g_expanded.emplace_back(g_info->ColorExpandBase,
                            g_info->ColorExpandBase + g_expandRows * g_expandRowBytes);
    g_expandRows = 0;
  }
}
void SetupFill(ScrnInfoPtr, int c, int rop, unsigned pm) { Log("SetupFill %x %d %x", c, rop, pm); }
void Fill(ScrnInfoPtr, int x, int y, int w, int h) { Log("Fill %d %d %d %d", x, y, w, h); }
void FillRects(ScrnInfoPtr, int fg, int rop, unsigned, int n, BoxPtr b) {
  std::string text = "FillRects " + std::to_string(fg) + " " + std::to_string(rop);
  for (int i = 0; i < n; ++i)
    text += " [" + std::to_string(b[i].x1) + "," + std::to_string(b[i].y1) + "," +
            std::to_string(b[i].x2) + "," + std::to_string(b[i].y2) + "]";
  g_calls.push_back(text);
}
void Spans(ScrnInfoPtr, int, int, unsigned, int n, DDXPointPtr p, int* w, int) {
  std::string text = "Spans";
  if (g_info->ClipBox != nullptr)
    text += " clip " + std::to_string(g_info->ClipBox->x1) + "," + std::to_string(g_info->ClipBox->x2);
  for (int i = 0; i < n; ++i)
    text += " " + std::to_string(p[i].x) + "," + std::to_string(p[i].y) + "+" + std::to_string(w[i]);
  g_calls.push_back(text);
}
void SetupCopy(ScrnInfoPtr, int xdir, int ydir, int rop, unsigned, int trans) {
  Log("SetupCopy %d %d %d %d", xdir, ydir, rop, trans);
}
void Copy(ScrnInfoPtr, int x1, int y1, int x2, int y2, int w, int h) {
  Log("Copy %d %d %d %d %d %d", x1, y1, x2, y2, w, h);
}
void SetupLine(ScrnInfoPtr, int c, int, unsigned) { Log("SetupLine %x", c); }
void TwoPoint(ScrnInfoPtr, int x1, int y1, int x2, int y2, int f) {
  Log("TwoPoint %d %d %d %d %d", x1, y1, x2, y2, f);
}
void HorVert(ScrnInfoPtr, int x, int y, int len, int dir) { Log("HorVert %d %d %d %d", x, y, len, dir); }
void SetClip(ScrnInfoPtr, int l, int t, int r, int b) { Log("SetClip %d %d %d %d", l, t, r, b); }
void NoClip(ScrnInfoPtr) { Log("NoClip"); }
void SetupPattern(ScrnInfoPtr, int p0, int p1, int fg, int bg, int, unsigned) {
  Log("SetupPattern %08x %08x %x %d", static_cast<unsigned>(p0), static_cast<unsigned>(p1), fg, bg);
}
void Pattern(ScrnInfoPtr, int px, int py, int x, int y, int w, int h) {
  Log("Pattern %d %d %d %d %d %d", px, py, x, y, w, h);
}
void SetupExpand(ScrnInfoPtr, int fg, int bg, int, unsigned) { Log("SetupExpand %x %d", fg, bg); }
void Expand(ScrnInfoPtr, int x, int y, int w, int h, int skip) {
  Log("Expand %d %d %d %d %d", x, y, w, h, skip);
  g_expandRows = h;
  g_expandRowBytes = (w + 31) / 32 * 4;
}
void WritePixmap(ScrnInfoPtr, int x, int y, int w, int h, unsigned char* src, int pitch, int, unsigned,
                 int trans, int bpp, int) {
  Log("WritePixmap %d %d %d %d first %u pitch %d trans %d bpp %d", x, y, w, h, src[0], pitch, trans, bpp);
}

class XaaStandIn : public testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_expanded.clear();
    info_ = server_.NewScrnInfo();
    info_->depth = 8;
    info_->bitsPerPixel = 8;
    info_->virtualX = 64;
    info_->virtualY = 32;
    screen_ = server_.NewScreen(info_);
    miClearVisualTypes();
    miSetVisualTypes(8, miGetDefaultVisualMask(8), 8, PseudoColor);
    miSetPixmapDepths();
    ASSERT_TRUE(fbScreenInit(screen_, memory_.data(), 64, 32, 75, 75, 64, 8));
    rec_ = XAACreateInfoRec();
    ASSERT_NE(rec_, nullptr);
    g_info = rec_;
    rec_->Sync = Sync;
  }
  void TearDown() override { XAADestroyInfoRec(rec_); }

  void Init() { ASSERT_TRUE(XAAInit(screen_, rec_)); }
  uint8_t Pixel(int x, int y) const { return memory_[y * 64 + x]; }

  xstub::Sandbox box_;
  xstub::XServer server_;
  ScrnInfoPtr info_ = nullptr;
  ScreenPtr screen_ = nullptr;
  std::vector<uint8_t> memory_ = std::vector<uint8_t>(64 * 32);
  XAAInfoRecPtr rec_ = nullptr;
};

TEST_F(XaaStandIn, TheRecordLivesInXaasPrivateSlotOfTheScreen) {
  EXPECT_EQ(rec_->Flags, 0);
  EXPECT_EQ(rec_->FillSolidRects, nullptr);
  rec_->Sync = nullptr;
  EXPECT_FALSE(XAAInit(screen_, rec_)) << "XAA needs a Sync hook";
  rec_->Sync = Sync;
  Init();
  EXPECT_GE(XAAScreenIndex, 0);
  EXPECT_EQ(screen_->devPrivates[XAAScreenIndex].ptr, rec_);
  EXPECT_EQ(XAAGetInfoRec(screen_), rec_);
  EXPECT_EQ(rec_->pScrn, info_);
  XAADestroyInfoRec(rec_);
  rec_ = nullptr;
  EXPECT_EQ(XAAGetInfoRec(screen_), nullptr);

  box_.FailAllocation(1);
  EXPECT_EQ(XAACreateInfoRec(), nullptr);
}

TEST_F(XaaStandIn, RectanglesGoThroughTheListHookOrSetUpThenEachAndAreClippedByXaa) {
  rec_->SetupForSolidFill = SetupFill;
  rec_->SubsequentSolidFillRect = Fill;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 5;
  gc.clip = {BoxRec{0, 0, 10, 10}, BoxRec{20, 0, 30, 10}};
  front.FillRects(gc, {BoxRec{5, 2, 25, 4}});
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupFill 5 3 ffffffff", "Fill 5 2 5 2", "Fill 20 2 5 2"}));
  EXPECT_TRUE(rec_->NeedToSync);

  rec_->FillSolidRects = FillRects;
  g_calls.clear();
  front.FillRects(gc, {BoxRec{5, 2, 25, 4}});
  EXPECT_EQ(g_calls, (std::vector<std::string>{"FillRects 5 3 [5,2,10,4] [20,2,25,4]"}));

  // A raster operation the hook refuses: Sync, then the framebuffer layer.
  rec_->FillSolidRectsFlags = GXCOPY_ONLY;
  rec_->SolidFillFlags = GXCOPY_ONLY;
  memory_[2 * 64 + 6] = 0x0F;
  g_calls.clear();
  gc.alu = GXxor;
  front.FillRects(gc, {BoxRec{6, 2, 7, 3}});
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Sync"}));
  EXPECT_EQ(Pixel(6, 2), 0x0F ^ 5);
  EXPECT_FALSE(rec_->NeedToSync);
}

TEST_F(XaaStandIn, SpansGetTheClipBoxWhenOneRectangleClipsThem) {
  rec_->SetupForSolidFill = SetupFill;
  rec_->SubsequentSolidFillRect = Fill;
  rec_->FillSolidSpans = Spans;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.clip = {BoxRec{4, 0, 20, 20}};
  front.FillSpans(gc, {DDXPointRec{0, 1}, DDXPointRec{6, 2}}, {10, 3}, true);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Spans clip 4,20 0,1+10 6,2+3"}));
  EXPECT_EQ(rec_->ClipBox, nullptr) << "only for the request";
  // Two rectangles: XAA clips the spans itself.
  g_calls.clear();
  gc.clip = {BoxRec{0, 0, 3, 20}, BoxRec{8, 0, 20, 20}};
  front.FillSpans(gc, {DDXPointRec{0, 1}}, {10}, true);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Spans 0,1+3 8,1+2"}));
  // Without the span hook, rectangles one line high.
  rec_->FillSolidSpans = nullptr;
  g_calls.clear();
  front.FillSpans(gc, {DDXPointRec{1, 4}}, {2}, true);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupFill 0 3 ffffffff", "Fill 1 4 2 1"}));
}

TEST_F(XaaStandIn, CopiesRunInTheDirectionThatKeepsTheSource) {
  rec_->SetupForScreenToScreenCopy = SetupCopy;
  rec_->SubsequentScreenToScreenCopy = Copy;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.clip = {BoxRec{0, 0, 64, 10}, BoxRec{0, 12, 64, 32}};
  // Down and right: bottom box first, xdir and ydir -1.
  front.CopyArea(gc, 0, 0, 8, 16, 4, 2);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupCopy -1 -1 3 -1", "Copy 0 10 4 12 8 6",
                                               "Copy 0 0 4 2 8 8"}));
  g_calls.clear();
  front.CopyArea(gc, 4, 4, 4, 4, 0, 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupCopy 1 1 3 -1", "Copy 4 4 0 0 4 4"}));
}

TEST_F(XaaStandIn, LinesAreClippedByXaaOrByTheHardwareAsTheFlagsSay) {
  rec_->SetupForSolidLine = SetupLine;
  rec_->SubsequentSolidTwoPointLine = TwoPoint;
  rec_->SubsequentSolidHorVertLine = HorVert;
  rec_->SetClippingRectangle = SetClip;
  rec_->DisableClipping = NoClip;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 9;
  gc.clip = {BoxRec{0, 0, 10, 30}, BoxRec{14, 0, 64, 30}};
  // A horizontal line of 10 from (5, 7), its last pixel left out, in two
  // clipped pieces; a vertical one upwards; a slanted one inside a box.
  front.Segments(gc, {{5, 7, 15, 7}, {20, 9, 20, 3}, {15, 1, 25, 6}}, true);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupLine 9", "HorVert 5 7 5 0", "HorVert 14 7 1 0",
                                               "HorVert 20 4 6 3", "TwoPoint 15 1 25 6 1"}));

  // A slanted line across two boxes: the hardware clip only when asked for.
  rec_->ClippingFlags = HARDWARE_CLIP_SOLID_LINE;
  g_calls.clear();
  front.Segments(gc, {{2, 2, 20, 8}}, false);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupLine 9", "SetClip 0 0 9 29", "TwoPoint 2 2 20 8 0",
                                               "SetClip 14 0 63 29", "TwoPoint 2 2 20 8 0", "NoClip"}));
  rec_->ClippingFlags = 0;
  g_calls.clear();
  front.Segments(gc, {{2, 2, 20, 8}}, false);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Sync"})) << "XAA draws it itself";
  EXPECT_EQ(Pixel(2, 2), 9);
  EXPECT_EQ(Pixel(12, 5), 0) << "between the clip boxes";
  EXPECT_EQ(Pixel(20, 8), 9);
}

TEST_F(XaaStandIn, TextRowsArePaddedToDwordsInTheFlagsBitOrderThenSync) {
  std::vector<uint8_t> base(16);
  rec_->SetupForCPUToScreenColorExpandFill = SetupExpand;
  rec_->SubsequentCPUToScreenColorExpandFill = Expand;
  rec_->ColorExpandBase = base.data();
  rec_->ColorExpandRange = 16;  // two rows of 2 dwords each
  rec_->TEGlyphRendererFlags = SYNC_AFTER_COLOR_EXPAND;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 7;
  gc.bg = 2;
  // 34 pixels wide, 3 rows: pixel 0 and 33 of each row set, and pixel 1 in row 1.
  std::vector<uint8_t> pixels(34 * 3);
  for (int r = 0; r < 3; ++r) pixels[r * 34] = pixels[r * 34 + 33] = 1;
  pixels[34 + 1] = 1;
  front.Text(gc, 3, 4, 34, 3, pixels, false);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupExpand 7 -1", "Expand 3 4 34 2 0", "Sync",
                                               "Expand 3 6 34 1 0", "Sync"}));
  ASSERT_EQ(g_expanded.size(), 2u);
  EXPECT_EQ(g_expanded[0], (std::vector<uint8_t>{0x01, 0, 0, 0, 0x02, 0, 0, 0,  //
                                                 0x03, 0, 0, 0, 0x02, 0, 0, 0}));
  EXPECT_EQ(g_expanded[1], (std::vector<uint8_t>{0x01, 0, 0, 0, 0x02, 0, 0, 0}));
  EXPECT_TRUE(rec_->NeedToSync);

  // The most significant bit first when the flags ask for it.
  rec_->TEGlyphRendererFlags |= BIT_ORDER_IN_BYTE_MSBFIRST;
  g_expanded.clear();
  front.Text(gc, 0, 0, 2, 1, {1, 0}, true);
  ASSERT_EQ(g_expanded.size(), 1u);
  EXPECT_EQ(g_expanded[0][0], 0x80);
}

TEST_F(XaaStandIn, StipplesGoOutAsPatternWordsWithTheScreenOrigin) {
  rec_->SetupForMono8x8PatternFill = SetupPattern;
  rec_->SubsequentMono8x8PatternFillRect = Pattern;
  rec_->SetClippingRectangle = SetClip;
  rec_->DisableClipping = NoClip;
  rec_->Mono8x8PatternFillFlags = HARDWARE_PATTERN_PROGRAMMED_BITS | HARDWARE_PATTERN_PROGRAMMED_ORIGIN |
                                  HARDWARE_PATTERN_SCREEN_ORIGIN | BIT_ORDER_IN_BYTE_MSBFIRST;
  rec_->ClippingFlags = HARDWARE_CLIP_MONO_8x8_FILL;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 1;
  const uint8_t rows[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
  std::copy(rows, rows + 8, gc.stipple);
  gc.stippleX = 11;
  gc.stippleY = 5;
  gc.clip = {BoxRec{0, 0, 10, 32}, BoxRec{12, 0, 64, 32}};
  front.FillStippled(gc, {BoxRec{1, 1, 5, 5}, BoxRec{8, 1, 14, 3}}, false);
  // Row r's leftmost pixel in bit 7: pixel r of row r is bit 7 - r.
  EXPECT_EQ(g_calls, (std::vector<std::string>{
                         "SetupPattern 10204080 01020408 1 -1", "Pattern 3 5 1 1 4 4",
                         "SetClip 0 0 9 31", "Pattern 3 5 8 1 6 2", "SetClip 12 0 63 31",
                         "Pattern 3 5 8 1 6 2", "NoClip"}));
}

TEST_F(XaaStandIn, ImagesAreWrittenPerClippedBoxAndReadAfterASync) {
  rec_->WritePixmap = WritePixmap;
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.clip = {BoxRec{0, 0, 4, 32}, BoxRec{6, 0, 64, 32}};
  std::vector<uint8_t> image(8 * 2);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  front.PutImage(gc, 2, 3, 8, 2, image.data(), 8);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"WritePixmap 2 3 2 2 first 0 pitch 8 trans -1 bpp 8",
                                               "WritePixmap 6 3 4 2 first 4 pitch 8 trans -1 bpp 8"}));
  g_calls.clear();
  memory_[9 * 64 + 9] = 0x5A;
  uint8_t out = 0;
  front.GetImage(9, 9, 1, 1, &out, 1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Sync"}));
  EXPECT_EQ(out, 0x5A);
}

TEST_F(XaaStandIn, TheGenericFillerSetsUpOnceAndMarksTheNeedToSync) {
  rec_->SetupForSolidFill = SetupFill;
  rec_->SubsequentSolidFillRect = Fill;
  Init();
  BoxRec boxes[2] = {{1, 2, 3, 4}, {5, 6, 9, 7}};
  XAAFillSolidRects(info_, 4, GXcopy, 0xFF, 2, boxes);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetupFill 4 3 ff", "Fill 1 2 2 2", "Fill 5 6 4 1"}));
  EXPECT_TRUE(rec_->NeedToSync);
}

}  // namespace
