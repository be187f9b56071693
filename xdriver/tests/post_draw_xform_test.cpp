// Post-draw transforms: the rotation's coordinate translation, the textured
// rectangle's corners, the pivot sequence the kernel module runs at each
// vertical sync (and what it draws, through a small sampler standing in for
// the 3D engine), and the 8-to-10-bit copy after drawing.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/bm_transform.h"
#include "xdriver/context2d.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/surf_format_xform.h"
#include "xdriver/tests/features_fixture.h"
#include "xdriver/tests/textured_sampler.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

using dpsgolden::Bits;

PostDrawXform Rotation(uint32_t code) {
  PostDrawXform x;
  x.flags = code << kXformRotationShift;
  return x;
}

TEST(XformTranslation, PointsOfA1024By768DesktopLandOnTheTurnedDisplay) {
  const LSIZE size = {1024, 768};
  const struct { uint32_t code; int32_t x, y, tx, ty; } cases[] = {
      {2, 0, 0, 1023, 767}, {1, 0, 0, 767, 0}, {4, 0, 0, 0, 1023},
      {1, 1023, 767, 0, 1023}, {4, 1023, 767, 767, 0}, {0, 5, 6, 5, 6},
  };
  for (const auto& c : cases) {
    int32_t x = c.x, y = c.y;
    Rotation(c.code).TranslatePoint(&x, &y, &size);
    EXPECT_EQ(x, c.tx) << "code " << c.code;
    EXPECT_EQ(y, c.ty) << "code " << c.code;
  }
}

TEST(XformTranslation, RectanglesAndSizesTurnWithThePoints) {
  const LSIZE size = {1024, 768};
  const struct { uint32_t code; LRECT in, out; } cases[] = {
      {1, {0, 0, 1024, 768}, {0, 0, 768, 1024}},
      {1, {10, 20, 30, 60}, {708, 10, 748, 30}},
      {2, {10, 20, 30, 60}, {994, 708, 1014, 748}},
      {4, {10, 20, 30, 60}, {20, 994, 60, 1014}},
      {0, {10, 20, 30, 60}, {10, 20, 30, 60}},
  };
  for (const auto& c : cases) {
    const PostDrawXform x = Rotation(c.code);
    LRECT r = c.in;
    x.TranslateRect(&r, &size);
    EXPECT_EQ((std::vector<int32_t>{r.left, r.top, r.right, r.bottom}),
              (std::vector<int32_t>{c.out.left, c.out.top, c.out.right, c.out.bottom}))
        << "code " << c.code;
    // The rectangle holds the translated points of its corner pixels.
    int32_t px = c.in.left, py = c.in.top;
    x.TranslatePoint(&px, &py, &size);
    EXPECT_TRUE(px >= r.left && px < r.right && py >= r.top && py < r.bottom) << "code " << c.code;
    LSIZE turned = size;
    x.TranslateSize(&turned);
    EXPECT_EQ(turned.width, c.code == 1 || c.code == 4 ? 768 : 1024) << "code " << c.code;
  }
}

// A primary interface over process memory for reading what a writer wrote.
class WordStream : public testing::Test {
 protected:
  void SetUp() override {
    common_ = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common_->sharedLocked = &shared_;
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 4096);
    prim_ = new BmPrimInt(common_, 0, o);
    ASSERT_TRUE(prim_->Open());
  }
  void TearDown() override {
    prim_->Close();
    delete prim_;
    free(common_);
  }
  std::vector<uint32_t> Words(const uint32_t* from) const {
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(prim_->cursor));
  }
  SharedLockedData_t shared_ = {};
  CommonData* common_ = nullptr;
  BmPrimInt* prim_ = nullptr;
};

TEST_F(WordStream, CornersTakeTheTexturePairsOfTheirRotation) {
  // Texture corner pairs (s, t) of the three corners by rotation code.
  const struct { uint32_t code; float s[3], t[3]; } cases[] = {
      {0, {0.25f, 0.75f, 0.25f}, {0.125f, 0.125f, 0.875f}},
      {1, {0.25f, 0.25f, 0.75f}, {0.875f, 0.125f, 0.875f}},
      {2, {0.75f, 0.25f, 0.75f}, {0.875f, 0.875f, 0.125f}},
      {4, {0.75f, 0.75f, 0.25f}, {0.125f, 0.875f, 0.125f}},
      {3, {0.25f, 0.75f, 0.25f}, {0.125f, 0.125f, 0.875f}},  // no such code: unturned
  };
  const LRECT p = {8, 16, 72, 48};
  const float xs[3] = {8, 72, 8}, ys[3] = {16, 16, 48};
  for (const auto& c : cases) {
    const uint32_t* from = prim_->cursor;
    DrawTexturedRectangleEx(prim_, p, 0.25f, 0.125f, 0.75f, 0.875f, c.code);
    std::vector<uint32_t> expected;
    const uint32_t positionHeaders[3] = {0x605E5D58, 0x605E5D59, 0x605F5D5A};
    for (uint32_t k = 0; k < 3; ++k) {
      expected.insert(expected.end(), {0x635E5D58 + k, 0, 0, Bits(c.t[k]), Bits(c.s[k]),
                                       positionHeaders[k], 0x3F800000, 0, Bits(ys[k]), Bits(xs[k])});
    }
    EXPECT_EQ(Words(from), expected) << "code " << c.code;
  }
}

TEST_F(WordStream, CacheFlushRestoresTheControlWordOnlyWhenGiven) {
  const uint32_t* from = prim_->cursor;
  SendCacheFlushInv3dNoWrite(prim_, 16, 0xFFFFFFFF);
  SendCacheFlushInv3dNoWrite(prim_, 24, 0x2010CC);
  XformWriteDraw(prim_);
  EXPECT_EQ(Words(from), (std::vector<uint32_t>{0xAFAFDDC0, 0x707, 0, 16, 16,
                                                0xAFAFDDC0, 0x707, 0, 24, 24, 0x212121C0, 0x2010CC,
                                                0x218180DD, 0, 0x1000F, 0}));
}

// ---- The pivot on a mode-0 board -------------------------------------------------------------

class PivotTest : public featuretest::FeatureBoardTest {
 protected:
  // A display of w x h turned by `code`: the X server draws into the
  // returned bitmap; the pivot's sequence waits in its slot.
  DeviceBitmap* Pivoted(uint32_t code, uint32_t w, uint32_t h) {
    pdev_ = Started(0, w, h, code << kXformRotationShift);
    EXPECT_TRUE(SetUpFeatures(pdev_));
    EXPECT_TRUE(pdev_->featureMgr->Enable(pdev_));
    return pdev_->data2d.target;
  }
  uint32_t* Pixel(const DeviceBitmap* b, uint32_t x, uint32_t y) {
    return reinterpret_cast<uint32_t*>(board_->LocalMemory() + (b->addressWord & ~3u) +
                                       4 * (y * b->width + x));
  }
  PDEV* pdev_ = nullptr;
};

TEST_F(PivotTest, SequenceLoadsTheDisplayAsTargetAndTheDesktopAsTexture) {
  DeviceBitmap* desktop = Pivoted(1, 1024, 768);
  ASSERT_NE(desktop, nullptr);
  ASSERT_NE(desktop, &pdev_->data2d.Primary()) << "the X server draws off screen";
  EXPECT_EQ(desktop->width, 768u);
  EXPECT_EQ(desktop->height, 1024u);
  const DeviceBitmap& primary = pdev_->data2d.Primary();
  BmXformInt* xform = pdev_->featureMgr->xformInterfaces[0];
  const SharedPendingSlot& slot = pdev_->sharedLocked->pendingSlots[xform->InterruptIdentity()];
  EXPECT_EQ(slot.postType, kXformKindPivot);
  const uint32_t* words = xform->head->Begin();
  const std::vector<uint32_t> written(words, static_cast<const uint32_t*>(xform->cursor));
  EXPECT_EQ(slot.busStart, xform->head->BusOf(words));
  EXPECT_EQ(slot.busEnd, xform->head->BusOf(xform->cursor) | xform->head->busType);

  auto linear = [](const DeviceBitmap& b) { return (b.ModeWord() & 0xC0F8FFFF) | 0x20000 | 50u << 24; };
  std::vector<uint32_t> expected = {
      0x21AFDDC0, 0x707, 0, 8,
      0x21218988, primary.addressWord, linear(primary),
      0xAFAFDDC0, 0x707, 0, 16, 16,
      0x78778081, 0x1000E, 0x40101, desktop->addressWord, linear(*desktop),
      0x99C0BA79, (desktop->DimensionsWord() & ~0x3FFFu) | 1024, 0, 0x2410CC, 0,
      0x2121219B, 0x400400,
      // Display corners (0, 0), (1024, 0), (0, 768) take the desktop's
      // bottom-left, top-left and bottom-right.
      0x635E5D58, 0, 0, Bits(1), Bits(0), 0x605E5D58, 0x3F800000, 0, Bits(0), Bits(0),
      0x635E5D59, 0, 0, Bits(0), Bits(0), 0x605E5D59, 0x3F800000, 0, Bits(0), Bits(1024),
      0x635E5D5A, 0, 0, Bits(1), Bits(1), 0x605F5D5A, 0x3F800000, 0, Bits(768), Bits(0),
      0x218180DD, 0, 0x1000F, 0,
      0xAFAFDDC0, 0x707, 0, 24, 24,
  };
  EXPECT_EQ(written, expected);
  EXPECT_EQ(desktop->block->drawSyncTag, -1) << "the desktop is in use by the engine";
}

// What the pivot's sequence draws: for each turn, the displayed surface
// shows the desktop as the rotation places its points.
class PivotTurn : public PivotTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(PivotTurn, DisplayShowsTheDesktopTurnedAtEachVerticalSync) {
  const uint32_t code = GetParam();
  DeviceBitmap* desktop = Pivoted(code, 64, 32);
  ASSERT_NE(desktop, nullptr);
  const uint32_t w = desktop->width, h = desktop->height;
  EXPECT_EQ(w, code == 2 ? 64u : 32u);
  // What the X server drew, kept aside as the reference's source.
  std::vector<uint32_t> drawn(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) *Pixel(desktop, x, y) = drawn[y * w + x] = y << 16 | x;

  for (int frame = 0; frame < 2; ++frame) {
    TakeWrites();
    ASSERT_EQ(kernel_.VerticalSync(0), 1u);
    samplertest::Draw(*board_, samplertest::Decode(TakeWrites()));
    const DeviceBitmap& primary = pdev_->data2d.Primary();
    int wrong = 0;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        // The reference turn: clockwise (h-1-y, x), half (w-1-x, h-1-y),
        // counter-clockwise (y, w-1-x).
        uint32_t dx = x, dy = y;
        if (code == 1) dx = h - 1 - y, dy = x;
        if (code == 2) dx = w - 1 - x, dy = h - 1 - y;
        if (code == 4) dx = y, dy = w - 1 - x;
        wrong += *Pixel(&primary, dx, dy) != drawn[y * w + x];
        wrong += *Pixel(desktop, x, y) != drawn[y * w + x];
      }
    }
    EXPECT_EQ(wrong, 0) << "frame " << frame;
    // What the X server draws next reaches the display at the next sync.
    *Pixel(desktop, 0, 0) = drawn[0] = 0xC0FFEE;
  }
}

// Named by the rotation code and the turn it stands for: "Code1_Clockwise".
INSTANTIATE_TEST_SUITE_P(Codes, PivotTurn, testing::Values(1u, 2u, 4u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           const char* turn = info.param == 1   ? "Clockwise"
                                              : info.param == 2 ? "HalfTurn"
                                              : info.param == 4 ? "CounterClockwise"
                                                                : "Unknown";
                           return "Code" + std::to_string(info.param) + "_" + turn;
                         });

TEST_F(PivotTest, CleanupGivesTheDrawingBackToThePrimary) {
  DeviceBitmap* desktop = Pivoted(4, 256, 128);
  ASSERT_NE(desktop, nullptr);
  pdev_->featureMgr->Disable(pdev_);
  pdev_->featureMgr->Cleanup(pdev_);
  setUp_.clear();
  EXPECT_EQ(pdev_->data2d.target, &pdev_->data2d.Primary());
  EXPECT_EQ(pdev_->data2d.bitmaps[1].block, nullptr);
  EXPECT_EQ(pdev_->featureMgr->xformInterfaces[0], nullptr);
  EXPECT_EQ(pdev_->data2d.xform.flags & kXformIdMask, 0u);
  EXPECT_EQ(pdev_->data2d.bracket.postDraw & kPostDrawXform, 0u);
}

// ---- The 8-to-10-bit copy in local DMA ------------------------------------------------------

class EightToTenTest : public twodtest::Local2dTest {
 protected:
  PDEV* Transformed(bool primary = true) {
    PDEV* pdev = Head(0, 1024, 768);
    if (primary) {
      EXPECT_TRUE(CreatePrimarySurface(pdev));
    }
    pdev->bindingFlags |= kXformWord8to10;
    return pdev;
  }
};

TEST_F(EightToTenTest, DrawnBoxIsRenderedIntoTheDisplayedSurfaceAfterDrawing) {
  PDEV* pdev = Transformed();
  ASSERT_TRUE(CreateSurfFormatXform_8to10(pdev));
  DeviceBitmap* drawn = pdev->data2d.target;
  DeviceBitmap& primary = pdev->data2d.Primary();
  ASSERT_EQ(drawn, &pdev->data2d.bitmaps[1]);
  EXPECT_EQ(drawn->formatCode, 52u);
  EXPECT_EQ(pdev->data2d.xform.flags & (kXformId8to10 | kXformEnabled | kXformDisabled),
            kXformId8to10 | kXformEnabled);

  BmPrimInt* prim = pdev->primInt;
  const uint32_t* from = prim->cursor;
  engine_->ClearWrites();
  {
    DrawBracket bracket(pdev);
    PostDrawXformAddBox(pdev, 10, 20, 60, 50);
    PostDrawXformAddBox(pdev, 40, 30, 110, 70);  // joins the pending box
  }
  EXPECT_FALSE(PostDrawXformPending(pdev));
  const std::vector<uint32_t> words(from, static_cast<const uint32_t*>(prim->cursor));
  // The displayed surface is bound first as descriptor 0, linear.
  const std::vector<orvsim::DmaEngine::RegWrite> writes = engine_->Writes();
  ASSERT_GE(writes.size(), 2u);
  size_t bind = 0;
  while (bind < writes.size() && writes[bind].reg != 0x1220) ++bind;
  ASSERT_LT(bind + 1, writes.size());
  EXPECT_EQ(writes[bind].value, primary.addressWord);
  EXPECT_EQ((writes[bind + 1].value >> 16) & 7, 2u) << "linear";

  size_t at = 0;
  while (at < words.size() && words[at] != 0xAFAFDDC0) ++at;
  ASSERT_LT(at + 4, words.size());
  const uint32_t t1 = words[at + 4];
  const uint32_t t2 = pdev->sharedLocked->syncTagCounter;
  const float w = 1024, h = 768;
  const std::vector<uint32_t> expected = {
      0xAFAFDDC0, 0x707, 0, t1, t1,
      0x78778081, 0x1000E, 0x40101, drawn->addressWord, (drawn->ModeWord() & 0xF2FAFFFF) | 0x32020000,
      0x99C0BA79, drawn->DimensionsWord(), 0, 0x2410CC, 0,
      0x2121219B, 0x400400,
      0x635E5D58, 0, 0, Bits(20 / h), Bits(10 / w), 0x605E5D58, 0x3F800000, 0, Bits(20), Bits(10),
      0x635E5D59, 0, 0, Bits(20 / h), Bits(110 / w), 0x605E5D59, 0x3F800000, 0, Bits(20), Bits(110),
      0x635E5D5A, 0, 0, Bits(70 / h), Bits(10 / w), 0x605F5D5A, 0x3F800000, 0, Bits(70), Bits(10),
      0x218180DD, 0, 0x1000F, 0,
      0xAFAFDDC0, 0x707, 0, t2, t2,
  };
  EXPECT_EQ(std::vector<uint32_t>(words.begin() + static_cast<long>(at), words.end()), expected);
  EXPECT_EQ(t2, t1 + 8);
  EXPECT_EQ(drawn->block->drawSyncTag, -1);
  EXPECT_EQ(primary.flags & kDevBitHostCopy, 0u);
  CleanupSurfFormatXform_8to10(pdev);
  EXPECT_EQ(pdev->data2d.target, &primary);
}

TEST_F(EightToTenTest, BoxOutsideTheDesktopDrawsNothing) {
  PDEV* pdev = Transformed();
  ASSERT_TRUE(CreateSurfFormatXform_8to10(pdev));
  const uint32_t* from = pdev->primInt->cursor;
  {
    DrawBracket bracket(pdev);
    PostDrawXformAddBox(pdev, 1100, 10, 1200, 20);
  }
  EXPECT_EQ(from, pdev->primInt->cursor);
  EXPECT_FALSE(PostDrawXformPending(pdev));
  // Nothing is collected while the transform is off.
  CleanupSurfFormatXform_8to10(pdev);
  PostDrawXformAddBox(pdev, 0, 0, 10, 10);
  EXPECT_FALSE(PostDrawXformPending(pdev));
}

TEST_F(EightToTenTest, WithoutTheDisplayedSurfaceTheTransformIsRefused) {
  PDEV* pdev = Transformed(false);
  EXPECT_FALSE(CreateSurfFormatXform_8to10(pdev));
  EXPECT_EQ(pdev->data2d.xform.flags & kXformDisabled, kXformDisabled);
  EXPECT_EQ(pdev->data2d.xform.flags & kXformId8to10, 0u);
  EXPECT_EQ(pdev->data2d.target, nullptr);
  EXPECT_EQ(pdev->data2d.bitmaps[1].block, nullptr) << "the bitmap's memory went back";
}

}  // namespace
