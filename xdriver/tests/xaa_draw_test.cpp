// XAA's drawing callbacks on a local-DMA board: what the 2D engine drew
// into the primary surface against references computed here (every raster
// operation with plane mask and clip, X stipples, glyph strips, memmove
// copies, the engine's line rule), and the packet words themselves where the
// engine depends on them word for word.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "core/bm_packets.h"
#include "platform/board/chip_2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/tests/xaa_fixture.h"
#include "xdriver/xaa_hooks.h"

namespace {

using twodtest::ReferenceAlu;
using Words = std::vector<uint32_t>;

// The memory type of a copy's temporary surface on a target in bank A.
constexpr uint32_t kCopyTmpMemory = 22;

class XaaDraw : public twodtest::XaaScreenTest {
 protected:
  // A surface that gives its memory back when the test ends.
  struct Filler : Surface2d {
    PDEV* pdev = nullptr;
    ~Filler() override { Disable(pdev->surfaceManager); }
  };
  bool PlaceFiller(uint32_t memoryType, uint32_t lines) {
    auto filler = std::make_unique<Filler>();
    filler->pdev = pdev_;
    filler->Describe(pdev_, 32, k2dLayoutBitmap, 50, lines, memoryType, kSurfLocal);
    if (!filler->Enable(pdev_->surfaceManager)) return false;
    fillers_.push_back(std::move(filler));
    return true;
  }
  // Fills the heap of `memoryType` with 32-pixel-wide surfaces at 32 bits
  // (sizes and places are multiples of 8 KB) but for one gap of 8 KB.
  void LeaveOneGap(uint32_t memoryType) {
    for (uint32_t lines = 8192; lines >= 64; lines /= 2)
      while (PlaceFiller(memoryType, lines)) {
      }
    ASSERT_FALSE(fillers_.empty());
    fillers_.erase(fillers_.begin());  // a hole of 1 MB, filled with 8 KB pieces
    while (PlaceFiller(memoryType, 64)) {
    }
    fillers_.pop_back();
  }
  void TearDown() override {
    fillers_.clear();
    twodtest::XaaScreenTest::TearDown();
  }
  std::vector<std::unique_ptr<Filler>> fillers_;


  const uint32_t* Mark() { return pdev_->primInt->cursor; }
  Words Since(const uint32_t* from) { return WordsSince(pdev_->primInt, from); }
  static bool Ends(const Words& words, const Words& tail) {
    return words.size() >= tail.size() && std::equal(tail.begin(), tail.end(), words.end() - tail.size());
  }
  static long Count(const Words& words, uint32_t word) { return std::count(words.begin(), words.end(), word); }
};

class XaaDrawAtDepth : public XaaDraw, public testing::WithParamInterface<uint32_t> {
 protected:
  void SetUp() override {
    XaaDraw::SetUp();
    Start(GetParam());
  }
};

// ---- Solid fills ------------------------------------------------------------------------

TEST_P(XaaDrawAtDepth, FillsInEveryRasterOperationKeepThePlaneMaskAndTheInclusiveClip) {
  const uint32_t fg = 0xA5C3F00Fu & Mask();
  const uint32_t planes = 0x5AF0F0F3u & Mask();
  const BoxRec box = {45, 32, 75, 48};
  for (int rop = 0; rop < 16; ++rop) {
    Scribble(40, 30, 40, 20, 0x1234567u * static_cast<uint32_t>(rop + 1));
    const std::vector<uint32_t> before = Snapshot(40, 30, 40, 20);
    KstrnXAASetClippingRectangle(scrn_, 50, 35, 70, 45);
    BoxRec boxes[1] = {box};
    KstrnXAAFillSolidRects(scrn_, static_cast<int>(fg), rop, planes, 1, boxes);
    KstrnXAADisableClipping(scrn_);
    for (int y = 30; y < 50; ++y)
      for (int x = 40; x < 80; ++x) {
        const uint32_t old = before[static_cast<size_t>(y - 30) * 40 + (x - 40)];
        const bool drawn = x >= box.x1 && x < box.x2 && y >= box.y1 && y < box.y2 && x >= 50 &&
                           x <= 70 && y >= 35 && y <= 45;
        const uint32_t want = drawn ? ((ReferenceAlu(rop, fg, old) & planes) | (old & ~planes)) & Mask() : old;
        ASSERT_EQ(Pixel(x, y), want) << "rop " << rop << " at " << x << "," << y;
      }
  }
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(XaaDraw, CopyFillsHaveNoPreambleXorFillsOneAndASecondRectangleResendsNoState) {
  Start(32);
  KstrnXAASetupForSolidFill(scrn_, 0x11, GXcopy, 0xFFFFFFFF);
  const uint32_t* from = Mark();
  KstrnXAASubsequentSolidFillRect(scrn_, 1, 2, 3, 4);
  Words words = Since(from);
  const uint32_t copyControl = Shadow2dControl(pdev_->sharedLocked);
  // The state the set-up made dirty ends with the control word, then the rectangle.
  EXPECT_TRUE(Ends(words, {0x212121C0, copyControl, 0x2121E3C2, 2u << 16 | 1, 4u << 16 | 3}));
  EXPECT_EQ(Count(words, 0x707), 0);
  from = Mark();
  KstrnXAASubsequentSolidFillRect(scrn_, 5, 6, 7, 8);
  EXPECT_EQ(Since(from), (Words{0x2121E3C2, 6u << 16 | 5, 8u << 16 | 7}));

  KstrnXAASetupForSolidFill(scrn_, 0x11, GXxor, 0xFFFFFFFF);
  const uint32_t xorControl = Shadow2dControl(pdev_->sharedLocked);
  from = Mark();
  KstrnXAASubsequentSolidFillRect(scrn_, 1, 2, 3, 4);
  EXPECT_TRUE(Ends(Since(from), {0x2121C0C0, 0x707, xorControl, 0x2121E3C2, 2u << 16 | 1, 4u << 16 | 3}));
}

// A list of rectangles (and of spans that go as rectangles) is written as
// one batch: the engine receives, register by register, what one callback
// per rectangle after the same set-up sends it, also where the list runs
// past the end of the command buffer and the buffer starts again.
TEST_F(XaaDraw, ListsWriteWhatOneCallbackPerRectangleWrites) {
  Start(32);
  BmPrimInt* prim = pdev_->primInt;
  std::vector<BoxRec> boxes;
  for (short i = 0; i < 40; ++i) boxes.push_back(BoxRec{short(3 * i), short(2 * i), short(3 * i + 7 + i % 5), short(2 * i + 4)});
  std::vector<DDXPointRec> points = {{10, 300}, {12, 301}};
  std::vector<int> widths = {50, 9};
  using Writes = std::vector<orvsim::DmaEngine::RegWrite>;
  // The engine's writes for one drawing that starts `room` words before
  // the end of the buffer.
  auto writesOf = [&](uint32_t room, const std::function<void()>& draw) {
    prim->Start();
    if (prim->limit - prim->cursor < room) prim->SwitchToNewBuffer();
    const auto pad = static_cast<uint32_t>(prim->limit - prim->cursor) - room;
    if (pad != 0) {
      uint32_t* at = prim->Reserve(pad);
      EXPECT_NE(at, nullptr);
      if (at != nullptr) std::fill_n(at, pad, 0x21212121u);  // headers of padding alone
    }
    prim->Start();
    engine_->ClearWrites();
    draw();
    prim->Start();
    // Sync tags count on from drawing to drawing: each is compared as its
    // distance from the drawing's first.
    Writes writes = engine_->Writes();
    uint32_t first = 0;
    bool seen = false;
    for (auto& w : writes) {
      if (w.reg != kRegSyncTag) continue;
      if (!seen) first = w.value & ~kSyncTagIgnoredBits, seen = true;
      w.value -= first;
    }
    return writes;
  };
  for (int rop : {GXcopy, GXxor}) {
    for (uint32_t room : {4096u, 20u, 62u}) {
      const Writes one = writesOf(room, [&] {
        KstrnXAASetupForSolidFill(scrn_, 0x123456, rop, 0xFFFFFFFF);
        for (const BoxRec& b : boxes) KstrnXAASubsequentSolidFillRect(scrn_, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
      });
      ASSERT_GT(one.size(), boxes.size() * 2) << rop << " " << room;
      EXPECT_EQ(writesOf(room, [&] {
                  KstrnXAAFillSolidRects(scrn_, 0x123456, rop, 0xFFFFFFFF, static_cast<int>(boxes.size()), boxes.data());
                }),
                one)
          << "rectangles, rop " << rop << ", " << room << " words left";
      const Writes spans = writesOf(room, [&] {
        KstrnXAASetupForSolidFill(scrn_, 0x654321, rop, 0xFFFFFFFF);
        for (size_t i = 0; i < points.size(); ++i) KstrnXAASubsequentSolidFillRect(scrn_, points[i].x, points[i].y, widths[i], 1);
      });
      EXPECT_EQ(writesOf(room, [&] {
                  KstrnXAAFillSolidSpans(scrn_, 0x654321, rop, 0xFFFFFFFF, static_cast<int>(points.size()), points.data(),
                                         widths.data(), 0);
                }),
                spans)
          << "spans, rop " << rop << ", " << room << " words left";
    }
  }
  EXPECT_TRUE(engine_->DecodeErrors().empty());
  EXPECT_TRUE(engine2d_->Faults().empty());
}

// ---- 8x8 patterns ---------------------------------------------------------------------------

TEST_P(XaaDrawAtDepth, PatternFillsDrawTheXStippleOpaqueAndTransparent) {
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  const uint8_t stipple[8] = {0x81, 0x42, 0x24, 0x18, 0xF0, 0x0F, 0x33, 0xCC};
  std::memcpy(gc.stipple, stipple, 8);
  gc.fg = 0x00C0FFEEu & Mask();
  gc.bg = 0x00BADF00u & Mask();
  const std::vector<BoxRec> rects = {{10, 10, 27, 19}, {30, 12, 34, 30}};
  // Pattern origins in both halves of the pattern's 8 x 8 cell.
  struct Origin {
    int x, y;
    bool opaque;
    int alu;
  };
  const Origin kOrigins[] = {{3, 5, true, GXcopy}, {3, 5, true, GXxor},   {3, 5, false, GXcopy},
                             {3, 5, false, GXxor}, {4, 0, true, GXcopy},  {7, 6, false, GXcopy},
                             {5, 3, true, GXxor},  {6, 7, false, GXxor}};
  for (const Origin& o : kOrigins) {
    gc.stippleX = o.x;
    gc.stippleY = o.y;
    const bool opaque = o.opaque;
    const int alu = o.alu;
    gc.alu = alu;
    Scribble(0, 0, 40, 40, opaque ? 7u : 11u);
    const std::vector<uint32_t> before = Snapshot(0, 0, 40, 40);
    const uint32_t* from = Mark();
    front.FillStippled(gc, rects, opaque);
    // The pattern's control word: bit 13, and bit 12 for a transparent one.
    const uint32_t control = Shadow2dControl(pdev_->sharedLocked);
    EXPECT_EQ(control & 0x3000u, opaque ? 0x2000u : 0x3000u);
    EXPECT_EQ(Count(Since(from), 0x21E3C2C0), 1) << "the origin goes out once per set-up";
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        const uint32_t old = before[static_cast<size_t>(y) * 40 + x];
        bool inside = false;
        for (const BoxRec& r : rects) inside |= x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
        const bool set = (stipple[(y - gc.stippleY) & 7] >> ((x - gc.stippleX) & 7)) & 1;
        uint32_t want = old;
        if (inside && set) want = ReferenceAlu(alu, gc.fg, old) & Mask();
        if (inside && !set && opaque) want = ReferenceAlu(alu, gc.bg, old) & Mask();
        ASSERT_EQ(Pixel(x, y), want) << (opaque ? "opaque" : "transparent") << " alu " << alu
                                     << " origin " << o.x << "," << o.y << " at " << x << "," << y;
      }
  }
}

// ---- Colour expansion -----------------------------------------------------------------------

TEST_P(XaaDrawAtDepth, TextIsExpandedOpaqueAndTransparentAndNothingRightOfItIsTouched) {
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00123456u & Mask();
  gc.bg = 0x00FEDCBAu & Mask();
  const int x0 = 21, y0 = 13, w = 37, h = 9;
  std::vector<uint8_t> glyphs(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < glyphs.size(); ++i) glyphs[i] = (twodtest::Noise(static_cast<int>(i), 3, 5) >> 7) & 1;
  for (bool opaque : {true, false}) {
    Scribble(0, 0, 80, 30, opaque ? 3u : 4u);
    const std::vector<uint32_t> before = Snapshot(0, 0, 80, 30);
    front.Text(gc, x0, y0, w, h, glyphs, opaque);
    EXPECT_FALSE(data_->expansionPending);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 80; ++x) {
        const uint32_t old = before[static_cast<size_t>(y) * 80 + x];
        uint32_t want = old;
        if (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h) {
          const bool set = glyphs[static_cast<size_t>(y - y0) * w + (x - x0)] != 0;
          if (set) want = gc.fg;
          if (!set && opaque) want = gc.bg;
        }
        ASSERT_EQ(Pixel(x, y), want) << (opaque ? "opaque" : "transparent") << " at " << x << "," << y;
      }
  }
}

TEST_F(XaaDraw, ExpansionWithSkipLeftElevenStartsThreePixelsLeftAndReadsFromTheSecondByte) {
  Start(32);
  Scribble(0, 0, 64, 16);
  const std::vector<uint32_t> before = Snapshot(0, 0, 64, 16);
  KstrnXAASetupForCPUToScreenColorExpandFill(scrn_, 0x00AA00, 0x000055, GXcopy, 0xFFFFFFFF);
  KstrnXAASubsequentCPUToScreenColorExpandFill(scrn_, 20, 10, 16, 2, 11);
  // Rows are padded to dwords: 16 pixels take one.
  const uint32_t rows[2] = {0x0ACE5F00u, 0x73A15800u};
  std::memcpy(info_->ColorExpandBase, rows, sizeof(rows));
  const uint32_t* from = Mark();
  KstrnXAASync(scrn_);
  const Words words = Since(from);
  // Clipped to the rectangle (inclusive), drawn from x - 3, 24 pixels a row.
  EXPECT_EQ(Count(words, 0x2121CBCA), 1);
  const auto clip = std::find(words.begin(), words.end(), 0x2121CBCAu);
  ASSERT_LE(clip + 3, words.end());
  EXPECT_EQ(clip[1], 10u << 16 | 20);
  EXPECT_EQ(clip[2], 11u << 16 | 35);
  const auto draw = std::find(words.begin(), words.end(), 0xE3C2C18Eu);
  ASSERT_LE(draw + 5, words.end());
  EXPECT_EQ(draw[3], 10u << 16 | 17);
  EXPECT_EQ(draw[4], 2u << 16 | 24);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      uint32_t want = before[static_cast<size_t>(y) * 64 + x];
      if (y >= 10 && y < 12 && x >= 20 && x < 36) {
        // Pixel x takes bit 11 + (x - 20) of its row.
        want = (rows[y - 10] >> (11 + x - 20)) & 1 ? 0x00AA00u : 0x000055u;
      }
      ASSERT_EQ(Pixel(x, y), want) << x << "," << y;
    }
}

TEST_F(XaaDraw, ALaterExpansionOfTheSameSetUpStillDrawsWithItsRasterOperation) {
  Start(32);
  Scribble(0, 0, 40, 10);
  const std::vector<uint32_t> before = Snapshot(0, 0, 40, 10);
  KstrnXAASetupForCPUToScreenColorExpandFill(scrn_, 0x0F0F0F, -1, GXxor, 0xFFFFFFFF);
  for (int round = 0; round < 2; ++round) {
    KstrnXAASubsequentCPUToScreenColorExpandFill(scrn_, 4, 2 + 3 * round, 8, 2, 0);
    const uint32_t ones[2] = {0xFF, 0xFF};
    std::memcpy(info_->ColorExpandBase, ones, sizeof(ones));
    KstrnXAASync(scrn_);
  }
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t old = before[static_cast<size_t>(y) * 40 + x];
      const bool drawn = x >= 4 && x < 12 && ((y >= 2 && y < 4) || (y >= 5 && y < 7));
      ASSERT_EQ(Pixel(x, y), drawn ? old ^ 0x0F0F0Fu : old) << x << "," << y;
    }
}

TEST_F(XaaDraw, AfterAnExpansionTheClipOfXaaGoesOutAgainWithTheNextDrawing) {
  Start(32);
  const uint32_t one[1] = {0xFF};
  KstrnXAASetClippingRectangle(scrn_, 0, 0, 30, 30);
  KstrnXAASetupForCPUToScreenColorExpandFill(scrn_, 0x22, 0x33, GXcopy, 0xFFFFFFFF);
  KstrnXAASubsequentCPUToScreenColorExpandFill(scrn_, 40, 40, 8, 1, 0);
  std::memcpy(info_->ColorExpandBase, one, sizeof(one));
  KstrnXAASync(scrn_);
  const uint32_t* from = Mark();
  BoxRec box[1] = {{0, 0, 100, 100}};
  KstrnXAAFillSolidRects(scrn_, 0x44, GXcopy, 0xFFFFFFFF, 1, box);
  const Words words = Since(from);
  const uint32_t clip[3] = {0x2121CBCA, 0, 30u << 16 | 30};
  EXPECT_NE(std::search(words.begin(), words.end(), std::begin(clip), std::end(clip)), words.end());
  EXPECT_EQ(Pixel(30, 30), 0x44u);
  EXPECT_EQ(Pixel(31, 30), 0u);
  EXPECT_EQ(Pixel(40, 40), 0x22u) << "the expansion itself";

  // Without a clip the expansion leaves the control word unclipped.
  KstrnXAADisableClipping(scrn_);
  KstrnXAASetupForCPUToScreenColorExpandFill(scrn_, 0x22, 0x33, GXcopy, 0xFFFFFFFF);
  KstrnXAASubsequentCPUToScreenColorExpandFill(scrn_, 40, 50, 8, 1, 0);
  KstrnXAASync(scrn_);
  EXPECT_EQ(Shadow2dControl(pdev_->sharedLocked) & k2dClipOn, 0u);
  EXPECT_EQ(Shadow2dDirty(pdev_->sharedLocked) & (k2dDirtyClip | k2dDirtyControl), 0u);
}

TEST_F(XaaDraw, AnExpansionChunkNeverCrossesATwoMegabyteBoundary) {
  Start(8);
  // A scratch buffer of 3 MB whose cursor lies just below 2 MB.
  std::unique_ptr<TempBit> big = SystemScratch(0x300000);
  ASSERT_NE(big, nullptr);
  TempBitBuffer* buffer = big->buffer;
  data_->expansionTemp = big.get();
  buffer->cursor = 0x200000 - 100;
  KstrnXAASetupForCPUToScreenColorExpandFill(scrn_, 0x77, 0x11, GXcopy, 0xFF);
  KstrnXAASubsequentCPUToScreenColorExpandFill(scrn_, 0, 100, 64, 30, 0);
  std::vector<uint8_t> rows(64 / 8 * 30);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(twodtest::Noise(static_cast<int>(i), 1, 2));
  std::memcpy(info_->ColorExpandBase, rows.data(), rows.size());
  const uint32_t* from = Mark();
  KstrnXAASync(scrn_);
  const Words words = Since(from);
  const auto draw = std::find(words.begin(), words.end(), 0xE3C2C18Eu);
  ASSERT_LE(draw + 5, words.end());
  EXPECT_EQ(draw[1], big->addressWord + 0x200000) << "the chunk starts at the boundary";
  EXPECT_EQ(draw[2], 0u) << "bit offset";
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(Pixel(x, 100 + y), (rows[static_cast<size_t>(y) * 8 + x / 8] >> (x & 7)) & 1 ? 0x77u : 0x11u)
          << x << "," << y;
  data_->expansionTemp = nullptr;
}

// ---- Copies ---------------------------------------------------------------------------------

// What a copy of (sx, sy, w, h) to (dx, dy) leaves in a snapshot of the
// area (x0, y0, aw, ah): the source as it was before the copy.
std::vector<uint32_t> CopiedReference(const std::vector<uint32_t>& before, int x0, int y0, int aw,
                                      int sx, int sy, int w, int h, int dx, int dy) {
  std::vector<uint32_t> out = before;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out[static_cast<size_t>(dy + y - y0) * aw + (dx + x - x0)] =
          before[static_cast<size_t>(sy + y - y0) * aw + (sx + x - x0)];
  return out;
}

TEST_P(XaaDrawAtDepth, OverlappingCopiesInEveryDirectionEqualAMemmove) {
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  struct Shift { int dx, dy; };
  for (const Shift s : {Shift{5, 3}, Shift{-5, 3}, Shift{5, -3}, Shift{-5, -3}, Shift{7, 0},
                        Shift{-7, 0}, Shift{0, 4}, Shift{0, -4}}) {
    Scribble(0, 0, 120, 60, static_cast<uint32_t>(s.dx * 31 + s.dy));
    const std::vector<uint32_t> before = Snapshot(0, 0, 120, 60);
    front.CopyArea(gc, 20, 20, 70, 25, 20 + s.dx, 20 + s.dy);
    EXPECT_EQ(Snapshot(0, 0, 120, 60), CopiedReference(before, 0, 0, 120, 20, 20, 70, 25, 20 + s.dx, 20 + s.dy))
        << "shift " << s.dx << "," << s.dy;
  }
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(XaaDraw, ACopyWhoseTemporaryCameOutAtHalfHeightRunsTwoTileRowsInDirectionOrder) {
  Start(32);
  // The temporary surfaces' heap keeps one gap of 8 KB: room for 32 x 64
  // pixels, not for a 32 x 120 copy.
  LeaveOneGap(kCopyTmpMemory);
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  for (int dy : {40, -40}) {
    Scribble(100, 100, 40, 300, static_cast<uint32_t>(dy + 1000));
    const std::vector<uint32_t> before = Snapshot(100, 100, 40, 300);
    const uint32_t* from = Mark();
    const int sy = dy > 0 ? 110 : 200;
    front.CopyArea(gc, 104, sy, 32, 120, 104, sy + dy);
    const Words words = Since(from);
    // The reads into the temporary (destination descriptor 3): two tiles
    // of 60 rows, the one farther along the move first.
    Words starts;
    for (size_t i = 0; i + 2 < words.size(); ++i)
      if (words[i] == 0xE3C2C1C0u && (words[i + 1] & 0xC00u) == 0xC00u) starts.push_back(words[i + 2]);
    const uint32_t top = static_cast<uint32_t>(sy) << 16 | 104, bottom = static_cast<uint32_t>(sy + 60) << 16 | 104;
    EXPECT_EQ(starts, dy > 0 ? (Words{bottom, top}) : (Words{top, bottom})) << "dy " << dy;
    EXPECT_EQ(Snapshot(100, 100, 40, 300), CopiedReference(before, 100, 100, 40, 104, sy, 32, 120, 104, sy + dy))
        << "dy " << dy;
  }
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(XaaDraw, ATransparentCopySkipsTheTransparencyColour) {
  Start(16);
  Scribble(0, 0, 60, 20);
  for (int x = 0; x < 20; x += 3) SetPixel(x, 2, 0x1234);
  const std::vector<uint32_t> before = Snapshot(0, 0, 60, 20);
  const uint32_t* from = Mark();
  KstrnXAASetupForScreenToScreenCopy(scrn_, 1, 1, GXcopy, 0xFFFF, 0x1234);
  const uint32_t control = Shadow2dControl(pdev_->sharedLocked);
  EXPECT_EQ(control & 0x400000u, 0x400000u);
  KstrnXAASubsequentScreenToScreenCopy(scrn_, 0, 0, 30, 5, 20, 10);
  const Words words = Since(from);
  const uint32_t colours[3] = {0x2121C6C5u, 0x12341234u, 0xFFFFFFFFu};
  EXPECT_NE(std::search(words.begin(), words.end(), std::begin(colours), std::end(colours)), words.end())
      << "the colour as foreground, background all ones";
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      uint32_t want = before[static_cast<size_t>(y) * 60 + x];
      if (x >= 30 && x < 50 && y >= 5 && y < 15) {
        const uint32_t source = before[static_cast<size_t>(y - 5) * 60 + (x - 30)];
        if (source != 0x1234) want = source;
      }
      ASSERT_EQ(Pixel(x, y), want) << x << "," << y;
    }
}

// ---- Lines ----------------------------------------------------------------------------------

TEST_F(XaaDraw, HorizontalAndVerticalLinesAreOnePixelRectangles) {
  Start(32);
  KstrnXAASetupForSolidLine(scrn_, 0x00FF00, GXcopy, 0xFFFFFFFF);
  const uint32_t control = Shadow2dControl(pdev_->sharedLocked);
  EXPECT_EQ(Shadow2dDirty(pdev_->sharedLocked) & k2dDirtyControl, 0u) << "the control word goes with each line";
  const uint32_t* from = Mark();
  KstrnXAASubsequentSolidHorVertLine(scrn_, 5, 7, 10, DEGREES_0);
  EXPECT_TRUE(Ends(Since(from), {0x21E3C2C0, control, 7u << 16 | 5, 1u << 16 | 10}));
  from = Mark();
  KstrnXAASubsequentSolidHorVertLine(scrn_, 30, 2, 6, DEGREES_270);
  EXPECT_EQ(Since(from), (Words{0x21E3C2C0, control, 2u << 16 | 30, 6u << 16 | 1}));
  for (int x = 0; x < 20; ++x) EXPECT_EQ(Pixel(x, 7), x >= 5 && x < 15 ? 0x00FF00u : 0u) << x;
  for (int y = 0; y < 12; ++y) EXPECT_EQ(Pixel(30, y), y >= 2 && y < 8 ? 0x00FF00u : 0u) << y;
}

TEST_F(XaaDraw, TwoPointLinesAddTheLineBitsForThemselvesOnly) {
  Start(32);
  KstrnXAASetupForSolidLine(scrn_, 0x0000FF, GXcopy, 0xFFFFFFFF);
  const uint32_t control = Shadow2dControl(pdev_->sharedLocked);
  const uint32_t* from = Mark();
  KstrnXAASubsequentSolidTwoPointLine(scrn_, 10, 10, 30, 17, OMIT_LAST);
  KstrnXAASubsequentSolidTwoPointLine(scrn_, 40, 40, 45, 60, 0);
  const Words words = Since(from);
  EXPECT_TRUE(Ends(words, {0x21E2C1C0, control | 0x300001, 10u << 16 | 10, 17u << 16 | 30, 0x21E2C1C0,
                           control | 0x700001, 40u << 16 | 40, 60u << 16 | 45}));
  EXPECT_EQ(Shadow2dControl(pdev_->sharedLocked), control);
  std::vector<std::pair<int, int>> pixels;
  orvsim::ForEachLinePixel(10, 10, 30, 17, false, [&](int x, int y) { pixels.push_back({x, y}); });
  orvsim::ForEachLinePixel(40, 40, 45, 60, true, [&](int x, int y) { pixels.push_back({x, y}); });
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool on = std::find(pixels.begin(), pixels.end(), std::make_pair(x, y)) != pixels.end();
      ASSERT_EQ(Pixel(x, y), on ? 0x0000FFu : 0u) << x << "," << y;
    }
}

// With the 8-to-10-bit transform on (and nothing hooked into the bracket,
// so the boxes stay), each drawing hands its destination box to the
// post-draw step; a plain Sync marks the whole desktop.
TEST_F(XaaDraw, EachDrawingHandsItsDestinationBoxToThePostDrawStep) {
  Start(32);
  PostDrawXform& xform = pdev_->data2d.xform;
  xform.flags = (xform.flags & ~kXformDisabled) | kXformId8to10 | kXformEnabled;
  xform.width = 1024;
  xform.height = 768;
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x123456;
  const std::vector<uint8_t> image(6 * 4 * 4, 0x5A);
  const std::vector<uint8_t> glyphs(9 * 5, 1);
  struct Case {
    const char* what;
    std::function<void()> draw;
    LRECT box;  // right and bottom exclusive
  };
  const Case cases[] = {
      {"rectangle", [&] { front.FillRects(gc, {{10, 20, 30, 25}}); }, {10, 20, 30, 25}},
      {"pattern", [&] { front.FillStippled(gc, {{40, 50, 48, 70}}, true); }, {40, 50, 48, 70}},
      {"copy", [&] { front.CopyArea(gc, 0, 0, 16, 8, 100, 200); }, {100, 200, 116, 208}},
      {"image", [&] { front.PutImage(gc, 300, 10, 6, 4, image.data(), 6 * 4); }, {300, 10, 306, 14}},
      {"horizontal line", [&] { front.Segments(gc, {{5, 7, 14, 7}}, false); }, {5, 7, 15, 8}},
      {"sloped line", [&] { front.Segments(gc, {{30, 17, 10, 10}}, false); }, {10, 10, 31, 18}},
      {"text", [&] { front.Text(gc, 500, 600, 9, 5, glyphs, true); }, {500, 600, 509, 605}},
  };
  for (const Case& c : cases) {
    xform.rectWords[0] = 0;
    c.draw();
    ASSERT_NE(xform.rectWords[0] & kXformRectPending, 0u) << c.what;
    EXPECT_EQ(xform.rects[0].left, c.box.left) << c.what;
    EXPECT_EQ(xform.rects[0].top, c.box.top) << c.what;
    EXPECT_EQ(xform.rects[0].right, c.box.right) << c.what;
    EXPECT_EQ(xform.rects[0].bottom, c.box.bottom) << c.what;
  }
  xform.rectWords[0] = 0;
  front.Sync();
  EXPECT_NE(xform.rectWords[0] & kXformRectPending, 0u);
  EXPECT_EQ(xform.rects[0].right, 1024);
  EXPECT_EQ(xform.rects[0].bottom, 768);
}

INSTANTIATE_TEST_SUITE_P(Depths, XaaDrawAtDepth, testing::Values(8u, 16u, 32u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           return std::to_string(info.param) + "bpp";
                         });

}  // namespace
