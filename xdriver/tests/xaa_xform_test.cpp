// With the 8-to-10-bit transform on, XAA draws into the transform's bitmap,
// and what it drew reaches the displayed surface: a drawing callback hands
// its box to the post-draw step, Sync marks the whole desktop for the
// processor's drawing that follows, and the block handler's flush renders
// what is still pending. The 3D copies are drawn by a test-side sampler.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/primary_surface.h"
#include "xdriver/surf_format_xform.h"
#include "xdriver/temp_bit.h"
#include "xdriver/tests/textured_sampler.h"
#include "xdriver/tests/xaa_fixture.h"
#include "xdriver/xaa_setup.h"

namespace {

class XaaXform : public twodtest::XaaScreenTest {
 protected:
  void SetUp() override {
    twodtest::XaaScreenTest::SetUp();
    Start();
  }
  // The device start's transform, before XAA is set up.
  void BeforeXaa() override {
    pdev_->bindingFlags |= kXformWord8to10;
    ASSERT_TRUE(CreateSurfFormatXform_8to10(pdev_));
  }
  void TearDown() override {
    if (pdev_ != nullptr) {
      KstrnXAACleanup(pdev_, scrn_);
      CleanupSurfFormatXform_8to10(pdev_);
    }
    twodtest::XaaScreenTest::TearDown();
  }
  uint32_t At(const DeviceBitmap& b, int x, int y) {
    return LocalWord((b.addressWord & ~3u) + (static_cast<uint32_t>(y) * b.width + static_cast<uint32_t>(x)) * 4);
  }
  // Draws the copies the engine was sent since the last call.
  samplertest::TexturedRectangle RunCopies() {
    const auto rect = samplertest::Decode(engine_->Writes());
    samplertest::Draw(*board_, rect);
    engine_->ClearWrites();
    return rect;
  }
};

TEST_F(XaaXform, DrawnRectangleReachesTheDisplayedSurface) {
  const DeviceBitmap& drawn = *pdev_->data2d.target;
  const DeviceBitmap& primary = pdev_->data2d.Primary();
  ASSERT_NE(&drawn, &primary);
  EXPECT_EQ(KstrnXaaDataOf(scrn_)->target, &drawn) << "XAA draws into the transform's bitmap";

  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00ABCDEF;
  engine_->ClearWrites();
  front.FillRects(gc, {BoxRec{10, 20, 60, 50}});
  EXPECT_EQ(At(drawn, 10, 20), 0x00ABCDEFu) << "the 2D engine drew into the bitmap";
  EXPECT_EQ(At(primary, 10, 20), 0u) << "not into the displayed surface";
  EXPECT_FALSE(PostDrawXformPending(pdev_)) << "the bracket's post-draw step ran";
  const samplertest::TexturedRectangle copy = RunCopies();
  EXPECT_EQ(copy.corners[0].x, 10);
  EXPECT_EQ(copy.corners[1].x, 60);
  EXPECT_EQ(copy.corners[2].y, 50);
  for (int y = 18; y < 52; ++y)
    for (int x = 8; x < 62; ++x)
      ASSERT_EQ(At(primary, x, y), (x >= 10 && x < 60 && y >= 20 && y < 50) ? 0x00ABCDEFu : 0u)
          << x << "," << y;

  // Sync: the processor draws next, so the whole desktop waits; the block
  // handler renders it before the server sleeps.
  front.Sync();
  EXPECT_TRUE(PostDrawXformPending(pdev_));
  const uint32_t at = (drawn.addressWord & ~3u) + (400 * drawn.width + 500) * 4;
  std::memcpy(board_->LocalMemory() + at, "\x11\x22\x33\x00", 4);
  engine_->ClearWrites();
  PostDrawXformFlush(pdev_);
  EXPECT_FALSE(PostDrawXformPending(pdev_));
  const samplertest::TexturedRectangle whole = RunCopies();
  EXPECT_EQ(whole.corners[1].x, 1024);
  EXPECT_EQ(whole.corners[2].y, 768);
  EXPECT_EQ(At(primary, 500, 400), 0x00332211u);
  // Nothing pending: the flush sends nothing.
  PostDrawXformFlush(pdev_);
  EXPECT_TRUE(engine_->Writes().empty());
}

TEST_F(XaaXform, SpansJoinOnePendingBox) {
  const DeviceBitmap& primary = pdev_->data2d.Primary();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00445566;
  engine_->ClearWrites();
  front.FillSpans(gc, {DDXPointRec{100, 10}, DDXPointRec{90, 11}, DDXPointRec{95, 12}}, {20, 5, 40}, true);
  const samplertest::TexturedRectangle copy = RunCopies();
  EXPECT_EQ(copy.corners[0].x, 90);
  EXPECT_EQ(copy.corners[0].y, 10);
  EXPECT_EQ(copy.corners[1].x, 135);
  EXPECT_EQ(copy.corners[2].y, 13);
  EXPECT_EQ(At(primary, 134, 12), 0x00445566u);
  EXPECT_EQ(At(primary, 119, 10), 0x00445566u);
}

// Each kind of drawing callback hands its destination box to the post-draw
// step: after the drawing, the displayed surface shows what the bitmap
// holds over the box.
struct DrawCase {
  const char* name;
  void (*draw)(xstub::XaaFront& front, const xstub::XaaGC& gc);
  BoxRec box;  // where it draws, x2 and y2 exclusive
};
void PrintTo(const DrawCase& c, std::ostream* os) { *os << c.name; }

const uint8_t kGlyphs[4 * 8] = {1, 0, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1,
                                0, 1, 1, 0, 1, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
const uint32_t kImage[3 * 2] = {0x00010203, 0x00040506, 0x00070809, 0x000A0B0C, 0x000D0E0F, 0x00101112};

const DrawCase kDrawCases[] = {
    {"Copy", [](xstub::XaaFront& f, const xstub::XaaGC& gc) { f.CopyArea(gc, 0, 0, 30, 20, 200, 100); },
     {200, 100, 230, 120}},
    {"HorizontalLine",
     [](xstub::XaaFront& f, const xstub::XaaGC& gc) { f.Segments(gc, {{300, 40, 340, 40}}, false); },
     {300, 40, 341, 41}},
    {"SlantedLine",
     [](xstub::XaaFront& f, const xstub::XaaGC& gc) { f.Segments(gc, {{420, 90, 400, 60}}, false); },
     {400, 60, 421, 91}},
    {"Stipple",
     [](xstub::XaaFront& f, const xstub::XaaGC& gc) {
       xstub::XaaGC s = gc;
       for (int i = 0; i < 8; ++i) s.stipple[i] = static_cast<uint8_t>(0x55 << (i & 1));
       f.FillStippled(s, {{500, 300, 540, 316}}, true);
     },
     {500, 300, 540, 316}},
    {"Image",
     [](xstub::XaaFront& f, const xstub::XaaGC& gc) {
       f.PutImage(gc, 600, 500, 3, 2, reinterpret_cast<const uint8_t*>(kImage), 12);
     },
     {600, 500, 603, 502}},
    {"Text",
     [](xstub::XaaFront& f, const xstub::XaaGC& gc) {
       f.Text(gc, 700, 600, 8, 4, std::vector<uint8_t>(kGlyphs, kGlyphs + sizeof(kGlyphs)), true);
     },
     {700, 600, 708, 604}},
};

class XaaXformDraws : public XaaXform, public testing::WithParamInterface<DrawCase> {};

TEST_P(XaaXformDraws, DestinationReachesTheDisplayedSurface) {
  const DrawCase& c = GetParam();
  const DeviceBitmap& drawn = *pdev_->data2d.target;
  const DeviceBitmap& primary = pdev_->data2d.Primary();
  // Something to copy: a patterned corner of the bitmap.
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x)
      std::memcpy(board_->LocalMemory() + (drawn.addressWord & ~3u) + (y * drawn.width + x) * 4u, &kImage[(x + y) % 6], 4);
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00ABCDEF;
  gc.bg = 0x00123456;
  engine_->ClearWrites();
  c.draw(front, gc);
  EXPECT_FALSE(PostDrawXformPending(pdev_));
  RunCopies();
  EXPECT_NE(At(drawn, c.box.x1, c.box.y1), 0u) << "the 2D engine drew into the bitmap";
  int wrong = 0;
  for (int y = c.box.y1; y < c.box.y2; ++y)
    for (int x = c.box.x1; x < c.box.x2; ++x) wrong += At(primary, x, y) != At(drawn, x, y);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Callbacks, XaaXformDraws, testing::ValuesIn(kDrawCases),
                         [](const testing::TestParamInfo<DrawCase>& i) { return std::string(i.param.name); });

}  // namespace
