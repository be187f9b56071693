// The hardware cursor on the simulated board's cursor engines: the record,
// two-colour and ARGB images as the engine decodes them, colours, and the
// positions, shows and controller bits of every desktop kind.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "xdriver/orv_cursor.h"
#include "xdriver/tests/bare_screen_fixture.h"

namespace {

using orvsim::ChipCursor;

constexpr uint32_t kCtl0 = 0x18C4, kCtl1 = 0x1AC4, kPal0 = 0x18C0, kPal1 = 0x1AC0;
constexpr uint32_t kPos0 = 0x18C8, kPos1 = 0x1AC8;
constexpr uint32_t kSpan0 = 0x1888, kSpan1 = 0x1A88;

uint32_t PosWord(uint32_t x, uint32_t y) { return ((x & 0x7FFF) << 14) + (y & 0x7FFF); }

class CursorTest : public baretest::BareBoardScreens {
 protected:
  ScrnInfoPtr Screen() { return xf86Screens[0]; }
  ORVRec* Init(int head = 0, void (*arrange)(ORVRec*) = nullptr) {
    ORVRec* rec = AddBoardScreen(head);
    if (arrange != nullptr) arrange(rec);
    EXPECT_TRUE(ORVHWCursorInit(Screen()->pScreen));
    board_sim_->ClearLog();
    return rec;
  }
  // The writes to the cursor and controller registers since the last clear.
  std::vector<std::pair<uint32_t, uint32_t>> Writes() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const auto& w : board_sim_->LoggedWrites()) {
      if ((w.offset >= 0x1880 && w.offset < 0x18E0) || (w.offset >= 0x1A80 && w.offset < 0x1AE0))
        out.push_back({w.offset, w.value});
    }
    board_sim_->ClearLog();
    return out;
  }
  uint8_t* Image() { return board_sim_->LocalMemory() + kCursorOffset; }
};

TEST_F(CursorTest, InitHandsTheLayerARecordAndPointsBothEnginesAtTheImage) {
  ORVRec* rec = AddBoardScreen();
  ASSERT_TRUE(ORVHWCursorInit(Screen()->pScreen));
  xf86CursorInfoPtr info = server_.CursorInfo(0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(rec->pCursorInfo, info);
  EXPECT_EQ(info->MaxWidth, 64);
  EXPECT_EQ(info->MaxHeight, 64);
  EXPECT_EQ(info->Flags, 0x300);
  for (unsigned e = 0; e < 2; ++e) {
    EXPECT_EQ(cursor_->ImageBase(e), kCursorOffset);
    EXPECT_EQ(cursor_->ImageFormat(e), 5u);
  }
  xf86DestroyCursorInfoRec(info);
}

TEST_F(CursorTest, WithoutARecordTheSoftwareCursorIsUsed) {
  ORVRec* rec = AddBoardScreen();
  box_.FailAllocation(1);
  EXPECT_FALSE(ORVHWCursorInit(Screen()->pScreen));
  EXPECT_TRUE(box_.Logged("Cannot initialize hardware cursor, falling back to software cursor.\n", X_ERROR));
  EXPECT_EQ(rec->hwCursor, 0);
}

TEST_F(CursorTest, OrderIsSwappedOnlyForKvdOnAnInvertedFourDisplayBoardThatIsNotMerged) {
  struct Case {
    const char* name;
    int kvd, quad, inverted, merged;
    bool swapped;
  };
  const Case cases[] = {
      {"all three", 1, 1, 1, 0, true},   {"no KVD", 0, 1, 1, 0, false},
      {"not quad", 1, 0, 1, 0, false},   {"not inverted", 1, 1, 0, 0, false},
      {"merged", 1, 1, 1, 1, false},
  };
  ORVRec* rec = AddBoardScreen();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    entity_->cursor = OrvCursorBoard{};
    rec->kvd = c.kvd;
    rec->quadBoard = c.quad;
    rec->invertedQuad = c.inverted;
    rec->merged = c.merged;
    const size_t logged = box_.Messages().size();
    ASSERT_TRUE(ORVHWCursorInit(Screen()->pScreen));
    bool said = false;
    for (size_t i = logged; i < box_.Messages().size(); ++i)
      said = said || box_.Messages()[i].text == "Swapping cursor order.\n";
    EXPECT_EQ(said, c.swapped);
    if (!c.merged) {
      // Head 0's cursor goes to the primary engine: controller 1 when swapped.
      ORVSetCursorPosition(Screen(), 10, 20);
      EXPECT_TRUE(cursor_->Shown(c.swapped ? 1 : 0));
      EXPECT_FALSE(cursor_->Shown(c.swapped ? 0 : 1));
    }
    xf86DestroyCursorInfoRec(server_.CursorInfo(0));
  }
}

TEST_F(CursorTest, TwoColourCursorThroughTheCursorLayer) {
  Init();
  std::memset(Image(), 0xFF, 2048);
  xstub::TestCursor cursor(20, 10, 2, 3);
  cursor.SetColours(0xFFFF, 0x8000, 0x0000, 0x0000, 0x0000, 0xFFFF);  // fg orange, bg blue
  cursor.SetMask(0, 0);
  cursor.SetMask(19, 9);
  cursor.SetSource(19, 9);
  ASSERT_TRUE(server_.DisplayCursor(0, cursor.get(), 100, 50));
  const auto writes = Writes();
  // The colours: controller 0, then 1; entry 0 the background, 1 the foreground.
  std::vector<std::pair<uint32_t, uint32_t>> colours;
  for (const auto& w : writes) {
    if (w.first == kPal0 || w.first == kPal1 || w.first == kCtl0 || w.first == kCtl1) colours.push_back(w);
  }
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {kCtl0, 0}, {kCtl1, 0},  // hide
      {kCtl0, 3}, {kPal0, 0x0000FF}, {kCtl0, 0x103}, {kPal0, 0xFF8000},
      {kCtl1, 3}, {kPal1, 0x0000FF}, {kCtl1, 0x103}, {kPal1, 0xFF8000},
      {kCtl1, 0}, {kCtl0, 3},  // shown on the primary by the position update
      {kCtl1, 0}, {kCtl0, 3},  // and by the show, where the position went
  };
  EXPECT_EQ(colours, expected);
  EXPECT_EQ(cursor_->X(0), 98u + 64);
  EXPECT_EQ(cursor_->Y(0), 47u + 64);
  EXPECT_EQ(cursor_->ImagePixel(0, 0, 0), (ChipCursor::Pixel{0, 0x0000FF, 0xFF}));
  EXPECT_EQ(cursor_->ImagePixel(0, 19, 9), (ChipCursor::Pixel{1, 0xFF8000, 0xFF}));
  EXPECT_EQ(cursor_->ImagePixel(0, 1, 0).alpha, 0);
  EXPECT_EQ(cursor_->ImagePixel(0, 63, 63).alpha, 0);
  for (int row = 0; row < 64; ++row) {
    for (int b = 16; b < 32; ++b) ASSERT_EQ(Image()[row * 32 + b], 0) << row << " " << b;
  }
  // Showing again re-shows where the last position went.
  ORVHideCursor(Screen());
  ORVShowCursor(Screen());
  EXPECT_EQ(cursor_->Mode(0), 3u);
}

TEST_F(CursorTest, UseCallbacksTakeCursorsUpTo64By64) {
  xstub::TestCursor wide(65, 10), tall(10, 65), largest(64, 64, 0, 0, true);
  for (CursorPtr c : {wide.get(), tall.get()}) {
    EXPECT_FALSE(ORVUseHWCursor(nullptr, c));
    EXPECT_FALSE(ORVUseHWCursorARGB(nullptr, c));
  }
  EXPECT_TRUE(ORVUseHWCursor(nullptr, largest.get()));
  EXPECT_TRUE(ORVUseHWCursorARGB(nullptr, largest.get()));
}

// An ARGB cursor of the given pixels (row-major, 16 wide).
struct Argb {
  explicit Argb(const std::vector<uint32_t>& pixels, int w = 16, int h = 16)
      : cursor(w, h, 0, 0, /*argb=*/true) {
    for (size_t i = 0; i < pixels.size(); ++i)
      cursor.SetArgb(static_cast<int>(i % w), static_cast<int>(i / w), pixels[i]);
  }
  xstub::TestCursor cursor;
};

TEST_F(CursorTest, FourteenColoursStayExactAndAFifteenthMovesToFiveBits) {
  Init();
  std::vector<uint32_t> pixels;
  for (uint32_t k = 1; k <= 14; ++k) pixels.push_back(0xFF000000 | (k * 0x10) << 16 | 0x8000);
  {
    Argb a(pixels);
    ORVLoadCursorARGB(Screen(), a.cursor.get());
    for (int k = 0; k < 14; ++k) {
      EXPECT_EQ(cursor_->ImagePixel(0, k, 0).colour, pixels[k] & 0xFFFFFF) << k;
      EXPECT_EQ(cursor_->ImagePixel(1, k, 0).colour, pixels[k] & 0xFFFFFF) << k;
    }
    EXPECT_EQ(cursor_->ImagePixel(0, 15, 15), (ChipCursor::Pixel{0, 0, 0}));  // transparent black
  }
  pixels.push_back(0x80010101);  // the fifteenth: black once reduced
  Argb a(pixels);
  ORVLoadCursorARGB(Screen(), a.cursor.get());
  // 0x30 0x80 0x00 reduced to five bits: 0x31 0x84 0x00.
  EXPECT_EQ(cursor_->ImagePixel(0, 2, 0).colour, 0x318400u);
  EXPECT_EQ(cursor_->ImagePixel(0, 14, 0), (ChipCursor::Pixel{0, 0, 0x80}));
  EXPECT_EQ(cursor_->ImageFormat(0), 4u);
  EXPECT_EQ(cursor_->ImageFormat(1), 4u);
  EXPECT_EQ(cursor_->ImageBase(0), kCursorOffset);  // not written by the load
}

TEST_F(CursorTest, SixteenColoursOfTheFixedTableUseEverySlot) {
  Init();
  // Distinct even at two bits per channel, nearest to each fixed colour.
  const std::vector<uint32_t> pixels = {
      0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
      0xFF008080, 0xFFAAAAAA, 0xFF646464, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
      0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
  Argb a(pixels);
  ORVLoadCursorARGB(Screen(), a.cursor.get());
  EXPECT_EQ(cursor_->Palette(0, 15), 0xFFFFFFu);
  EXPECT_EQ(cursor_->ImagePixel(0, 15, 0).index, 15u);
  EXPECT_EQ(cursor_->ImagePixel(0, 7, 0).colour, 0xC0C0C0u);  // silver
  EXPECT_EQ(cursor_->ImagePixel(0, 8, 0).colour, 0x808080u);  // gray
}

TEST_F(CursorTest, ArgbImageOutsideTheCursorIsIndexZeroAndTransparent) {
  Init();
  std::memset(Image(), 0xFF, 8192);
  std::vector<uint32_t> pixels(32 * 32, 0xFFFF0000);
  Argb a(pixels, 32, 32);
  ORVLoadCursorARGB(Screen(), a.cursor.get());
  for (int row = 0; row < 64; ++row) {
    const uint8_t* r = Image() + row * 128;
    for (int plane = 0; plane < 9; ++plane) {
      uint32_t words[2];
      std::memcpy(words, r + plane * 8, 8);
      EXPECT_EQ(words[1], 0u) << row << " " << plane;  // columns 32-63
      if (row >= 32) {
        EXPECT_EQ(words[0], 0u) << row << " " << plane;
      }
    }
    for (int b = 72; b < 128; ++b) ASSERT_EQ(r[b], 0) << row;
  }
  EXPECT_EQ(cursor_->ImagePixel(0, 31, 31), (ChipCursor::Pixel{1, 0xFF0000, 0xF8}));
}

TEST_F(CursorTest, ShowModeFollowsTheKindOfTheLastImage) {
  Init();
  Argb a({0xFF112233});
  ORVLoadCursorARGB(Screen(), a.cursor.get());
  Writes();
  ORVSetCursorColors(Screen(), 0x123456, 0x654321);
  EXPECT_TRUE(Writes().empty());
  ORVSetCursorPosition(Screen(), 0, 0);
  EXPECT_EQ(cursor_->Mode(0), 4u);
  uint8_t bits[1024] = {};
  ORVLoadCursorImage(Screen(), bits);
  ORVSetCursorPosition(Screen(), 0, 0);
  EXPECT_EQ(cursor_->Mode(0), 3u);
  EXPECT_EQ(cursor_->ImageFormat(1), 5u);
}

// ---- Positions ----------------------------------------------------------------------------------

struct PositionCase {
  const char* name;
  void (*arrange)(ORVRec* rec, ScrnInfoPtr screen);
  int head;
  int x, y;
  unsigned engine;  // where the position goes and the cursor shows
  uint32_t X, Y;
};

TEST_F(CursorTest, PositionsByDesktopKindAndHead) {
  const PositionCase cases[] = {
      {"single head 0", nullptr, 0, 100, 200, 0, 164, 264},
      {"single head 1", nullptr, 1, 100, 200, 1, 164, 264},
      {"three heads, x 1278: first head",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanthree = 1; s->virtualX = 3840; s->virtualY = 1024; }, 0,
       1278, 10, 1, 1279 + 64, 75},
      {"three heads, x 1279: second head",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanthree = 1; s->virtualX = 3840; s->virtualY = 1024; }, 0,
       1279, 10, 0, 64, 75},
      {"three heads, x 3000: third head",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanthree = 1; s->virtualX = 3840; s->virtualY = 1024; }, 0,
       3000, 10, 1, 3000 + 65 - 2560, 75},
      {"four heads, x 3069: third head",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanfour = 1; s->virtualX = 4096; s->virtualY = 768; }, 0,
       3069, 0, 0, 3069 + 65 - 2048, 65},
      {"four heads, x 3070: fourth head",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanfour = 1; s->virtualX = 4096; s->virtualY = 768; }, 0,
       3070, 0, 1, 63, 65},
      {"four heads, beyond the right edge",
       [](ORVRec* r, ScrnInfoPtr s) { r->spanfour = 1; s->virtualX = 4096; s->virtualY = 768; }, 0,
       5000, -5, 1, 4096 + 65 - 3072, 65},
  };
  for (const PositionCase& c : cases) {
    SCOPED_TRACE(c.name);
    entity_->cursor = OrvCursorBoard{};
    ORVRec* rec = AddBoardScreen(c.head);
    ScrnInfoPtr screen = xf86Screens[xf86NumScreens - 1];
    if (c.arrange != nullptr) c.arrange(rec, screen);
    ASSERT_TRUE(ORVHWCursorInit(screen->pScreen));
    xstub::TestCursor shape(8, 8);
    server_.DisplayCursor(screen->scrnIndex, shape.get(), 0, 0);
    server_.MoveCursor(screen->scrnIndex, c.x, c.y);
    EXPECT_EQ(cursor_->X(c.engine), c.X);
    EXPECT_EQ(cursor_->Y(c.engine), c.Y);
    EXPECT_TRUE(cursor_->Shown(c.engine));
    EXPECT_FALSE(cursor_->Shown(1 - c.engine));
    xf86DestroyCursorInfoRec(server_.CursorInfo(screen->scrnIndex));
  }
}

// Heads of 1280 x 1024 side by side (or as the position says) on one
// merged screen.
class MergedCursorTest : public CursorTest {
 protected:
  ORVRec* Merged(int position) {
    ORVRec* rec = AddBoardScreen();
    ScrnInfoPtr screen = Screen();
    rec->merged = 1;
    rec->monitor2Position = position;
    const bool sideBySide = position == kPositionLeftOf || position == kPositionRightOf;
    screen->virtualX = sideBySide ? 2560 : 1280;
    screen->virtualY = position == 3 ? 2048 : 1024;
    second_ = server_.NewScrnInfo();
    second_->frameX0 = position == 1 ? 1280 : 0;
    second_->frameY0 = position == 3 ? 1024 : 0;
    second_->frameX1 = second_->frameX0 + 1279;
    second_->frameY1 = second_->frameY0 + 1023;
    rec->aux[0] = second_;
    // Head 1 is right of head 2 when head 2 is left of it.
    const int32_t x0 = position == kPositionLeftOf ? 1280 : 0;
    const int32_t frame[4] = {x0, 0, x0 + 1279, 1023};
    std::memcpy(rec->head1Frame, frame, sizeof(frame));
    EXPECT_TRUE(ORVHWCursorInit(screen->pScreen));
    return rec;
  }
  ScrnInfoPtr second_ = nullptr;
};

TEST_F(MergedCursorTest, TheCursorGoesToTheControllerOfTheHeadItIsOn) {
  ORVRec* rec = Merged(1);
  ORVMergeSetCursorPosition(Screen(), 100, 10);
  EXPECT_EQ(rec->cursorFrame, 1);
  EXPECT_EQ(cursor_->X(0), 164u);
  EXPECT_TRUE(cursor_->Shown(0));
  Writes();
  ORVMergeSetCursorPosition(Screen(), 1300, 10);
  EXPECT_EQ(rec->cursorFrame, 2);
  // Controls first, then the position, on the second head's controller.
  const std::vector<std::pair<uint32_t, uint32_t>> moved = {
      {kCtl0, 0}, {kCtl1, 3}, {kPos1, PosWord(1300 + 64 - 1280, 74)}};
  EXPECT_EQ(Writes(), moved);
  ORVMergeSetCursorPosition(Screen(), 1400, 10);
  EXPECT_EQ(Writes(), (std::vector<std::pair<uint32_t, uint32_t>>{{kPos1, PosWord(1400 + 64 - 1280, 74)}}));
  ORVMergeShowCursor(Screen());
  EXPECT_TRUE(cursor_->Shown(1));
}

// The columns where the heads meet, side by side: the first head's last
// column is on the first head, at its own last column; the next one over
// is the other head's first or last.
struct SeamCase {
  int position;
  int x;
  int frame;        // the head that shows the cursor
  uint32_t engine;  // its cursor engine
  uint32_t X;       // the engine's position, 64 added
};
void PrintTo(const SeamCase& c, std::ostream* os) {
  *os << (c.position == kPositionLeftOf ? "LeftOf" : "RightOf") << " column " << c.x;
}
class MergedSeam : public MergedCursorTest, public testing::WithParamInterface<SeamCase> {};

TEST_P(MergedSeam, TheHeadUnderTheColumnShowsTheCursorAtItsOwnColumn) {
  const SeamCase& c = GetParam();
  ORVRec* rec = Merged(c.position);
  ORVMergeSetCursorPosition(Screen(), c.x, 10);
  EXPECT_EQ(rec->cursorFrame, c.frame);
  EXPECT_TRUE(cursor_->Shown(c.engine));
  EXPECT_FALSE(cursor_->Shown(1 - c.engine));
  EXPECT_EQ(cursor_->X(c.engine), c.X);
  EXPECT_EQ(cursor_->Y(c.engine), 74u);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, MergedSeam,
    testing::Values(SeamCase{kPositionRightOf, 1279, 1, 0, 1279 + 64},
                    SeamCase{kPositionRightOf, 1280, 2, 1, 64},
                    SeamCase{kPositionLeftOf, 2559, 1, 0, 1279 + 64},
                    SeamCase{kPositionLeftOf, 1280, 1, 0, 64},
                    SeamCase{kPositionLeftOf, 1279, 2, 1, 1279 + 64}));

TEST_F(MergedCursorTest, BelowSubtractsTheFirstHeadsHeightAndCloneShowsBoth) {
  ORVRec* rec = Merged(3);
  ORVMergeSetCursorPosition(Screen(), 50, 1100);
  EXPECT_EQ(cursor_->X(1), 114u);
  EXPECT_EQ(cursor_->Y(1), 1100u + 64 - 1024);
  rec->monitor2Position = 4;
  Writes();
  ORVMergeSetCursorPosition(Screen(), 50, 60);
  const std::vector<std::pair<uint32_t, uint32_t>> clone = {
      {kCtl0, 3}, {kCtl1, 3}, {kPos0, PosWord(114, 124)}, {kPos1, PosWord(114, 124)}};
  EXPECT_EQ(Writes(), clone);
  EXPECT_EQ(rec->cursorFrame, 2);  // unchanged by the clone
}

// The controller words' cursor bits: set and cleared exactly when the
// cursor passes between the two heads of one controller, the other bits
// kept.
TEST_F(CursorTest, ControllerBitsFollowTheHeadChangesOnThreeAndFourHeads) {
  ORVRec* rec = AddBoardScreen();
  ScrnInfoPtr screen = Screen();
  screen->virtualX = 3840;
  screen->virtualY = 1024;
  rec->spanthree = 1;
  ASSERT_TRUE(ORVHWCursorInit(screen->pScreen));
  board_sim_->Poke(kSpan0, 4, 0x100);
  board_sim_->Poke(kSpan1, 4, 0x100);
  struct Step {
    int x;
    uint32_t span0, span1;
  };
  const Step three[] = {{10, 0x100, 0x100},  {1500, 0x100, 0x100}, {3000, 0x100, 0x116},
                        {2000, 0x100, 0x100}, {10, 0x100, 0x100},   {3000, 0x100, 0x100}};
  for (const Step& s : three) {
    SCOPED_TRACE(s.x);
    ORVTripleSetCursorPosition(screen, s.x, 0);
    EXPECT_EQ(cursor_->ControllerWord(0), s.span0);
    EXPECT_EQ(cursor_->ControllerWord(1), s.span1);
  }
  ORVTripleShowCursor(screen);
  xf86DestroyCursorInfoRec(server_.CursorInfo(0));

  rec->spanthree = 0;
  rec->spanfour = 1;
  rec->cursorFrame = 0;
  screen->virtualX = 4096;
  ASSERT_TRUE(ORVHWCursorInit(screen->pScreen));
  const Step four[] = {{10, 0x100, 0x100},   {1500, 0x100, 0x116}, {2500, 0x116, 0x116},
                       {3500, 0x116, 0x100}, {2500, 0x116, 0x100}, {1500, 0x116, 0x116},
                       {10, 0x100, 0x116}};
  for (const Step& s : four) {
    SCOPED_TRACE(s.x);
    ORVQuadSetCursorPosition(screen, s.x, 0);
    EXPECT_EQ(cursor_->ControllerWord(0), s.span0);
    EXPECT_EQ(cursor_->ControllerWord(1), s.span1);
  }
  EXPECT_TRUE(box_.Logged("SetCursor Frame[4].\n", X_INFO));
  xf86DestroyCursorInfoRec(server_.CursorInfo(0));
}

// Heads of a board that are screens of their own (S3I, S4I): the engine
// and the controller bits by head index and chip.
TEST_F(CursorTest, SingleHeadsOfThreeAndFourHeadBoards) {
  struct Case {
    const char* name;
    bool s4i;
    int head;
    uint16_t chip;
    unsigned engine;
    uint32_t span0, span1;
  };
  const Case cases[] = {
      {"S4I head 0", true, 0, 0x5D63, 0, 0x100, 0x116},
      {"S4I head 1", true, 1, 0x5D63, 1, 0x116, 0x116},
      {"S4I head 2 on 0x5D63", true, 2, 0x5D63, 1, 0x116, 0x100},
      {"S4I head 2 elsewhere", true, 2, 0x0A41, 0, 0x116, 0x116},
      {"S4I head 3 on 0x5D63", true, 3, 0x5D63, 0, 0x116, 0x116},
      {"S4I head 3 elsewhere", true, 3, 0x0A41, 1, 0x116, 0x100},
      {"S3I head 0", false, 0, 0x5D63, 1, 0x116, 0x100},
      {"S3I head 1", false, 1, 0x5D63, 0, 0x116, 0x100},
      {"S3I head 2", false, 2, 0x5D63, 1, 0x116, 0x116},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board_sim_->Poke(kSpan0, 4, 0x116);
    board_sim_->Poke(kSpan1, 4, 0x116);
    entity_->cursor = OrvCursorBoard{};
    ORVRec* rec = AddBoardScreen(c.head);
    rec->s4i = c.s4i;
    rec->s3i = !c.s4i;
    rec->chipId = c.chip;
    ORVSetCursorPosition(xf86Screens[xf86NumScreens - 1], 5, 6);
    EXPECT_TRUE(cursor_->Shown(c.engine));
    EXPECT_FALSE(cursor_->Shown(1 - c.engine));
    EXPECT_EQ(cursor_->X(c.engine), 69u);
    EXPECT_EQ(cursor_->ControllerWord(0), c.span0);
    EXPECT_EQ(cursor_->ControllerWord(1), c.span1);
  }
}

TEST_F(CursorTest, APositionWaitsForTheStatusBitAndSkipsTheUpdateWhenItNeverComes) {
  Init();
  board_sim_->SetLogging(false, true);
  ORVSetCursorPosition(Screen(), 1, 1);
  EXPECT_EQ(cursor_->X(0), 65u);
  Writes();
  dma_->HoldFifoRoomClear(true);
  ORVSetCursorPosition(Screen(), 300, 1);
  ORVSetCursorPosition(Screen(), 400, 1);
  EXPECT_TRUE(Writes().empty());
  size_t said = 0;
  for (const auto& m : box_.Messages())
    said += m.text.find("did not take a cursor position") != std::string::npos ? 1 : 0;
  EXPECT_EQ(said, 1u);
  dma_->HoldFifoRoomClear(false);
  ORVSetCursorPosition(Screen(), 500, 1);
  EXPECT_EQ(cursor_->X(0), 564u);
}

}  // namespace
