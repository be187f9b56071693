// The cursor layer: the record's life, the choice of hardware or software
// cursor, the order of the callbacks and the two-colour image layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"

namespace {

// What the driver side received.
struct Driver {
  std::vector<std::string> calls;
  std::vector<unsigned char> image;
  int bg = -1, fg = -1, x = 0, y = 0;
  bool use = true;
};
Driver g;
size_t g_image_bytes = 0;

void Colors(ScrnInfoPtr, int bg, int fg) {
  g.calls.push_back("colors");
  g.bg = bg;
  g.fg = fg;
}
void Position(ScrnInfoPtr, int x, int y) {
  g.calls.push_back("position");
  g.x = x;
  g.y = y;
}
void Load(ScrnInfoPtr, unsigned char* bits) {
  g.calls.push_back("load");
  g.image.assign(bits, bits + g_image_bytes);
}
void Hide(ScrnInfoPtr) { g.calls.push_back("hide"); }
void Show(ScrnInfoPtr) { g.calls.push_back("show"); }
Bool Use(ScreenPtr, CursorPtr) { return g.use; }
void LoadArgb(ScrnInfoPtr, CursorPtr) { g.calls.push_back("argb"); }

class CursorLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Driver{};
    info_ = server_.NewScrnInfo();
    screen_ = server_.NewScreen(info_);
  }
  void TearDown() override {
    if (rec_ != nullptr) xf86DestroyCursorInfoRec(rec_);
  }
  // A 64x64 record with the given flags and every callback.
  void Init(int flags, bool argb = true) {
    rec_ = xf86CreateCursorInfoRec();
    ASSERT_NE(rec_, nullptr);
    rec_->MaxWidth = 64;
    rec_->MaxHeight = 64;
    rec_->Flags = flags;
    rec_->SetCursorColors = Colors;
    rec_->SetCursorPosition = Position;
    rec_->LoadCursorImage = Load;
    rec_->HideCursor = Hide;
    rec_->ShowCursor = Show;
    rec_->UseHWCursor = Use;
    if (argb) {
      rec_->UseHWCursorARGB = Use;
      rec_->LoadCursorARGB = LoadArgb;
    }
    g_image_bytes = 64 * 64 / 4;
    ASSERT_TRUE(xf86InitCursor(screen_, rec_));
  }
  bool Bit(size_t bit, bool msbFirst = false) const {
    return (g.image.at(bit / 8) >> (msbFirst ? 7 - bit % 8 : bit % 8)) & 1;
  }

  xstub::Sandbox box_;
  xstub::XServer server_;
  ScrnInfoPtr info_ = nullptr;
  ScreenPtr screen_ = nullptr;
  xf86CursorInfoPtr rec_ = nullptr;
};

TEST_F(CursorLayerTest, TwoColourCursorIsHiddenLoadedColouredPlacedAndShown) {
  Init(HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 | HARDWARE_CURSOR_TRUECOLOR_AT_8BPP);
  EXPECT_EQ(rec_->pScrn, info_);
  xstub::TestCursor cursor(16, 16, 3, 5);
  cursor.SetColours(0x1234, 0x5678, 0x9ABC, 0xFF00, 0x00FF, 0x8000);
  cursor.SetSource(2, 1);
  cursor.SetMask(2, 1);
  cursor.SetMask(15, 15);
  EXPECT_TRUE(server_.DisplayCursor(0, cursor.get(), 100, 50));
  EXPECT_EQ(g.calls, (std::vector<std::string>{"hide", "load", "colors", "position", "show"}));
  EXPECT_EQ(server_.CursorCalls(0),
            (std::vector<std::string>{"UseHWCursor", "HideCursor", "LoadCursorImage",
                                      "SetCursorColors", "SetCursorPosition", "ShowCursor"}));
  server_.ClearCursorCalls(0);
  EXPECT_TRUE(server_.CursorCalls(0).empty());
  EXPECT_EQ(g.bg, 0xFF0080);
  EXPECT_EQ(g.fg, 0x12569A);
  EXPECT_EQ(g.x, 97);
  EXPECT_EQ(g.y, 45);
  // Rows of 16 bytes: 8 of source, 8 of mask.
  ASSERT_EQ(g.image.size(), 1024u);
  for (size_t i = 0; i < g.image.size(); ++i) {
    uint8_t want = 0;
    if (i == 16 * 1 + 0 || i == 16 * 1 + 8) want = 0x04;  // pixel 2 of row 1
    if (i == 16 * 15 + 8 + 1) want = 0x80;              // mask of pixel 15, row 15
    EXPECT_EQ(g.image[i], want) << "byte " << i;
  }
  server_.MoveCursor(0, 10, 10);
  EXPECT_EQ(g.x, 7);
  EXPECT_EQ(g.y, 5);
}

// Where the source and mask bits of pixel (5, 2) land, by layout flags
// (64 pixels a row, so a row has 128 bits).
TEST_F(CursorLayerTest, ImageLayoutFollowsTheRecordsFlags) {
  struct Case {
    const char* name;
    int flags;
    size_t source_bit;
    size_t mask_bit;
    bool msb;
  };
  const Case cases[] = {
      {"interleave 64", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64, 256 + 5, 256 + 64 + 5, false},
      {"interleave 32", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_32, 256 + 5, 256 + 32 + 5, false},
      {"interleave 8", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_8, 256 + 5, 256 + 8 + 5, false},
      {"interleave 1", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_1, 256 + 10, 256 + 11, false},
      {"not interleaved", HARDWARE_CURSOR_SOURCE_MASK_NOT_INTERLEAVED, 128 + 5, 4096 + 128 + 5,
       false},
      {"swapped", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 | HARDWARE_CURSOR_SWAP_SOURCE_AND_MASK,
       256 + 64 + 5, 256 + 5, false},
      {"msb first", HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 | HARDWARE_CURSOR_BIT_ORDER_MSBFIRST,
       256 + 5, 256 + 64 + 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g = Driver{};
    Init(c.flags);
    xstub::TestCursor cursor(8, 8);
    cursor.SetSource(5, 2);
    cursor.SetMask(5, 2);
    ASSERT_TRUE(server_.DisplayCursor(0, cursor.get(), 0, 0));
    EXPECT_TRUE(Bit(c.source_bit, c.msb));
    EXPECT_TRUE(Bit(c.mask_bit, c.msb));
    size_t set = 0;
    for (uint8_t b : g.image) set += static_cast<size_t>(__builtin_popcount(b));
    EXPECT_EQ(set, 2u);
    xf86DestroyCursorInfoRec(rec_);
    rec_ = nullptr;
  }
}

TEST_F(CursorLayerTest, InvertedMaskAndSourceAndedWithMask) {
  Init(HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 | HARDWARE_CURSOR_INVERT_MASK |
       HARDWARE_CURSOR_AND_SOURCE_WITH_MASK);
  xstub::TestCursor cursor(8, 8);
  cursor.SetSource(1, 0);  // source without mask: dropped
  cursor.SetMask(2, 0);
  ASSERT_TRUE(server_.DisplayCursor(0, cursor.get(), 0, 0));
  EXPECT_FALSE(Bit(1));
  EXPECT_TRUE(Bit(64 + 1));   // invisible pixels read 1 in the inverted mask
  EXPECT_FALSE(Bit(64 + 2));  // the visible one 0
}

TEST_F(CursorLayerTest, SoftwareCursorTakesWhatTheRecordRefuses) {
  Init(HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64, /*argb=*/false);
  xstub::TestCursor small(64, 64);
  ASSERT_TRUE(server_.DisplayCursor(0, small.get(), 0, 0));
  g.calls.clear();
  xstub::TestCursor wide(65, 10);
  EXPECT_FALSE(server_.DisplayCursor(0, wide.get(), 0, 0));
  EXPECT_EQ(g.calls, (std::vector<std::string>{"hide"}));  // the hardware cursor goes away
  g.calls.clear();
  server_.MoveCursor(0, 5, 5);
  EXPECT_TRUE(g.calls.empty());
  xstub::TestCursor argb(16, 16, 0, 0, /*argb=*/true);
  EXPECT_FALSE(server_.DisplayCursor(0, argb.get(), 0, 0));  // no ARGB callbacks
  g.use = false;
  EXPECT_FALSE(server_.DisplayCursor(0, small.get(), 0, 0));
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(CursorLayerTest, ArgbCursorIsLoadedWithoutColours) {
  Init(HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64);
  xstub::TestCursor cursor(32, 32, 1, 1, /*argb=*/true);
  EXPECT_TRUE(server_.DisplayCursor(0, cursor.get(), 20, 30));
  EXPECT_EQ(g.calls, (std::vector<std::string>{"hide", "argb", "position", "show"}));
  EXPECT_EQ(server_.CursorCalls(0).front(), "UseHWCursorARGB");
  EXPECT_EQ(g.x, 19);
}

TEST_F(CursorLayerTest, RecordLife) {
  xf86CursorInfoPtr incomplete = xf86CreateCursorInfoRec();
  ASSERT_NE(incomplete, nullptr);
  incomplete->MaxWidth = incomplete->MaxHeight = 64;
  EXPECT_FALSE(xf86InitCursor(screen_, incomplete));  // no callbacks
  xf86DestroyCursorInfoRec(incomplete);

  Init(HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64);
  EXPECT_EQ(server_.CursorInfo(0), rec_);
  xf86CursorInfoPtr second = xf86CreateCursorInfoRec();
  *second = *rec_;
  EXPECT_FALSE(xf86InitCursor(screen_, second));  // one per screen
  xf86DestroyCursorInfoRec(second);
  xf86DestroyCursorInfoRec(rec_);
  rec_ = nullptr;
  EXPECT_EQ(server_.CursorInfo(0), nullptr);
  xstub::TestCursor cursor(8, 8);
  EXPECT_FALSE(server_.DisplayCursor(0, cursor.get(), 0, 0));

  box_.FailAllocation(1);
  EXPECT_EQ(xf86CreateCursorInfoRec(), nullptr);
}

}  // namespace
