#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tools/gui/PreviewDrawArea.h"
#include "tools/gui/UiController.h"
#include "tools/gui/callbacks.h"
#include "tools/gui/tests/gui2_xvfb.h"

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

using namespace preview;

// A 3 x 2 RGBA image whose pixels are numbered 0-5 in the red byte.
GdkPixbuf* Numbered() {
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      guchar* px = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + x * 4;
      px[0] = guchar(y * 3 + x);
      px[1] = 0x11, px[2] = 0x22, px[3] = 0x33;
    }
  return p;
}

std::vector<std::vector<int>> Red(const GdkPixbuf* p) {
  std::vector<std::vector<int>> rows(size_t(gdk_pixbuf_get_height(p)));
  for (int y = 0; y < gdk_pixbuf_get_height(p); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(p); ++x)
      rows[size_t(y)].push_back(gdk_pixbuf_get_pixels(p)[y * gdk_pixbuf_get_rowstride(p) + x * 4]);
  return rows;
}

TEST(PreviewRotate, TurnsByQuarters) {
  // 0 1 2
  // 3 4 5
  GdkPixbuf* src = Numbered();
  const struct {
    int angle;
    std::vector<std::vector<int>> expect;
  } cases[] = {
      {0, {{0, 1, 2}, {3, 4, 5}}},
      {90, {{2, 5}, {1, 4}, {0, 3}}},   // counter-clockwise
      {180, {{5, 4, 3}, {2, 1, 0}}},
      {270, {{3, 0}, {4, 1}, {5, 2}}},  // clockwise
  };
  for (const auto& c : cases) {
    GdkPixbuf* out = GdkPixbufRotateSimple(src, c.angle);
    ASSERT_NE(out, nullptr) << c.angle;
    EXPECT_EQ(Red(out), c.expect) << c.angle;
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(out));
    EXPECT_EQ(gdk_pixbuf_get_n_channels(out), 4);
    EXPECT_EQ(gdk_pixbuf_get_pixels(out)[3], 0x33) << "alpha kept";
    g_object_unref(out);
  }
  EXPECT_EQ(GdkPixbufRotateSimple(src, 45), nullptr);
  EXPECT_EQ(GdkPixbufRotateSimple(src, 360), nullptr);
  g_object_unref(src);
}

Input g_state;
Input State() { return g_state; }

constexpr int kAreaSize = 200;

class PreviewDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_XVFB();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    area_ = gtk_drawing_area_new();
    gtk_widget_set_size_request(area_, kAreaSize, kAreaSize);
    gtk_container_add(GTK_CONTAINER(window_), area_);
    g_object_set_data(G_OBJECT(window_), "mwDrawArea", area_);
    g_signal_connect(area_, "configure_event", G_CALLBACK(DrawAreaConfigEvent), nullptr);
    g_signal_connect(area_, "expose_event", G_CALLBACK(DrawAreaExposeEvent), nullptr);
    InitPreviewDrawArea(window_, State);
    SetPreviewHooks({RedrawPreviewArea, EraseDrawPreviewArea});
    gtk_widget_show_all(window_);
    DrainEvents();
  }
  void TearDown() override {
    if (!window_) return;
    SetPreviewHooks({});
    ShutdownPreviewDrawArea();
    gtk_widget_destroy(window_);
    DrainEvents();
  }

  // Shows `in` and returns what reached the screen.
  GdkPixbuf* Show(const Input& in, const char* shotName) {
    g_state = in;
    gtk_widget_queue_draw(area_);
    DrainEvents();
    GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, area_->window, gdk_drawable_get_colormap(area_->window),
                                                   0, 0, 0, 0, area_->allocation.width,
                                                   area_->allocation.height);
    // Kept beside the build files, or where ORV_SCREENSHOT_DIR says.
    const char* dir = getenv("ORV_SCREENSHOT_DIR");
    std::string out = dir ? dir : ORV_ARTIFACT_DIR "/preview-shots";
    mkdir(out.c_str(), 0755);
    EXPECT_TRUE(gdk_pixbuf_save(shot, (out + "/" + shotName + ".png").c_str(), "png", nullptr, nullptr));
    return shot;
  }

  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
};

bool Dark(GdkPixbuf* p, int x, int y) {
  const guchar* px = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + x * gdk_pixbuf_get_n_channels(p);
  return px[0] < 0x40 && px[1] < 0x40 && px[2] < 0x40;
}
bool White(GdkPixbuf* p, int x, int y) {
  const guchar* px = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + x * gdk_pixbuf_get_n_channels(p);
  return px[0] == 0xFF && px[1] == 0xFF && px[2] == 0xFF;
}

// Outline edges are solid; the inside of the outline's top edge row is
// checked away from the digit images.
void ExpectOutline(GdkPixbuf* shot, const Rect& r) {
  for (int y = r.y; y <= r.y + r.height; ++y) {
    EXPECT_TRUE(Dark(shot, r.x, y)) << "left edge " << r.x << "," << y;
    EXPECT_TRUE(Dark(shot, r.x + r.width, y)) << "right edge " << r.x + r.width << "," << y;
  }
  for (int x = r.x; x <= r.x + r.width; ++x) {
    EXPECT_TRUE(Dark(shot, x, r.y)) << "top edge";
    EXPECT_TRUE(Dark(shot, x, r.y + r.height)) << "bottom edge";
  }
  EXPECT_TRUE(White(shot, r.x - 2, r.y + r.height / 2));
}

// A dashed vertical line: along its length it is dark about half the time.
void ExpectDashedColumn(GdkPixbuf* shot, int x, int y1, int y2) {
  int dark = 0, n = 0;
  for (int y = y1 + 1; y < y2; ++y, ++n) dark += Dark(shot, x, y) || Dark(shot, x - 1, y);
  EXPECT_GT(dark, n / 4) << "x=" << x;
  EXPECT_LT(dark, n * 3 / 4 + 1) << "x=" << x;
}

int DarkInColumn(GdkPixbuf* shot, int x, int y1, int y2) {
  int dark = 0;
  for (int y = y1 + 1; y < y2; ++y) dark += Dark(shot, x, y);
  return dark;
}

// The digit image reached the screen one pixel right of and below its anchor.
// Pixels in column `separatorX` (and the one before it, the line is two wide)
// may belong to a dashed separator under the image.
void ExpectDigit(GdkPixbuf* shot, const Digit& d, int separatorX = -10) {
  GdkPixbuf* img = GdkPixbufRotateSimple(PreviewDigitImage(d.digit), d.angle);
  ASSERT_NE(img, nullptr);
  int mismatches = 0;
  for (int y = 0; y < gdk_pixbuf_get_height(img); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(img); ++x) {
      const bool ink = gdk_pixbuf_get_pixels(img)[y * gdk_pixbuf_get_rowstride(img) + x * 4 + 3] == 0xFF;
      const int sx = d.x + 1 + x, sy = d.y + 1 + y;
      if (!ink && (sx == separatorX || sx == separatorX - 1)) continue;
      if (ink != Dark(shot, sx, sy)) ++mismatches;
    }
  EXPECT_EQ(mismatches, 0) << "digit " << d.digit;
  g_object_unref(img);
}

TEST_F(PreviewDraw, ThreeMergedDisplaysInARow) {
  GdkPixbuf* shot = Show({kAreaSize, kAreaSize, 3, kHorizontal, kMerge, false, {}}, "row_merge_3");
  ExpectOutline(shot, {61, 87, 78, 26});
  ExpectDashedColumn(shot, 87, 87, 113);
  ExpectDashedColumn(shot, 113, 87, 113);
  for (int d = 0; d < 3; ++d) ExpectDigit(shot, {d + 1, 61 + 26 * d, 87, 0});
  EXPECT_TRUE(White(shot, 2, 2));
  EXPECT_TRUE(White(shot, 100, 150));
  EXPECT_TRUE(White(shot, 100, 60));
  g_object_unref(shot);
}

TEST_F(PreviewDraw, TwoIndependentDisplaysHaveNoSeparator) {
  GdkPixbuf* shot = Show({kAreaSize, kAreaSize, 2, kHorizontal, kIndependent, false, {}}, "row_independent_2");
  ExpectOutline(shot, {71, 87, 26, 26});
  ExpectOutline(shot, {103, 87, 26, 26});
  EXPECT_EQ(DarkInColumn(shot, 71 + 20, 87, 113), 0);
  EXPECT_EQ(DarkInColumn(shot, 100, 87, 113), 0) << "the 6-pixel gap is empty";
  ExpectDigit(shot, {1, 71, 87, 0});
  ExpectDigit(shot, {2, 103, 87, 0});
  g_object_unref(shot);
}

TEST_F(PreviewDraw, FourSquareIndependentDisplaysOnAPairedBoard) {
  GdkPixbuf* shot = Show({kAreaSize, kAreaSize, 4, kSquare, kIndependent, true, {0, 0, 0, kRotationClockwise}},
                         "square_independent_4_rot");
  ExpectOutline(shot, {74, 71, 52, 26});
  ExpectOutline(shot, {74, 103, 52, 26});
  ExpectDashedColumn(shot, 100, 71, 97);
  ExpectDashedColumn(shot, 100, 103, 129);
  ExpectDigit(shot, {1, 74, 71, 0});
  ExpectDigit(shot, {2, 99, 71, 0}, 100);
  ExpectDigit(shot, {3, 74, 103, 270});
  ExpectDigit(shot, {4, 99, 103, 270}, 100);
  g_object_unref(shot);
}

TEST_F(PreviewDraw, RotatedDigitIsTurned) {
  GdkPixbuf* shot = Show({kAreaSize, kAreaSize, 2, kHorizontal, kXinerama, false, {kRotationCounterClockwise, 0, 0, 0}},
                         "row_xinerama_2_ccw");
  ExpectDigit(shot, {1, 74, 87, 90});
  ExpectDigit(shot, {2, 100, 87, 0});
  // The turned image differs from the upright one.
  GdkPixbuf* upright = GdkPixbufRotateSimple(PreviewDigitImage(1), 0);
  int same = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      same += (gdk_pixbuf_get_pixels(upright)[y * gdk_pixbuf_get_rowstride(upright) + x * 4 + 3] == 0xFF) ==
              Dark(shot, 75 + x, 88 + y);
  EXPECT_LT(same, 16 * 16);
  g_object_unref(upright);
  g_object_unref(shot);
}

TEST_F(PreviewDraw, ConfigureThenExposeRepaintsFromWhite) {
  GdkPixbuf* first = Show({kAreaSize, kAreaSize, 3, kHorizontal, kMerge, false, {}}, "before_resize");
  g_object_unref(first);
  // Scribble over the window, then resize: nothing of it survives.
  gdk_draw_rectangle(area_->window, area_->style->black_gc, TRUE, 0, 0, kAreaSize, kAreaSize);
  gtk_widget_set_size_request(area_, kAreaSize, kAreaSize + 10);
  DrainEvents();
  GdkPixbuf* shot = Show({kAreaSize, kAreaSize, 1, kHorizontal, kMerge, false, {}}, "after_resize");
  EXPECT_TRUE(White(shot, 2, 2));
  EXPECT_TRUE(White(shot, 70, 87)) << "old outline gone";
  ExpectOutline(shot, {87, 92, 26, 26});
  g_object_unref(shot);
}

// In an area wider than tall, as the main window's, columns of displays
// and the square stay inside and centred: every outline is drawn where the
// geometry puts it, and nothing is drawn outside them.
TEST_F(PreviewDraw, ColumnsAndSquaresStayInsideAWideArea) {
  constexpr int kWide = 320, kLow = 140;
  gtk_widget_set_size_request(area_, kWide, kLow);
  gtk_window_resize(GTK_WINDOW(window_), kWide, kLow);
  DrainEvents();
  ASSERT_EQ(area_->allocation.width, kWide);
  ASSERT_EQ(area_->allocation.height, kLow);
  const struct {
    const char* shot;
    Input in;
  } cases[] = {
      {"column_independent_4", {kWide, kLow, 4, kVertical, kIndependent, false, {}}},
      {"column_merge_3", {kWide, kLow, 3, kVertical, kMerge, false, {}}},
      {"column_xinerama_4", {kWide, kLow, 4, kVertical, kXinerama, false, {}}},
      {"square_merge_4", {kWide, kLow, 4, kSquare, kMerge, true, {}}},
      {"square_independent_4", {kWide, kLow, 4, kSquare, kIndependent, true, {}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shot);
    GdkPixbuf* shot = Show(c.in, c.shot);
    const Picture pic = ComputePreview(c.in);
    ASSERT_GT(pic.info.rectCount, 0);
    int left = kWide, top = kLow, right = 0, bottom = 0;
    for (int i = 0; i < pic.info.rectCount; ++i) {
      const Rect& r = pic.info.rects[size_t(i)];
      ASSERT_GE(r.x, 1);
      ASSERT_GE(r.y, 1);
      ASSERT_LT(r.x + r.width, kWide - 1);
      ASSERT_LT(r.y + r.height, kLow - 1);
      ExpectOutline(shot, r);
      left = std::min(left, r.x);
      top = std::min(top, r.y);
      right = std::max(right, r.x + r.width);
      bottom = std::max(bottom, r.y + r.height);
    }
    EXPECT_LE(std::abs(left - (kWide - 1 - right)), 2);
    EXPECT_LE(std::abs(top - (kLow - 1 - bottom)), 2);
    int outside = 0;
    for (int y = 0; y < kLow; ++y)
      for (int x = 0; x < kWide; ++x)
        if ((x < left || x > right || y < top || y > bottom) && !White(shot, x, y)) ++outside;
    EXPECT_EQ(outside, 0);
    g_object_unref(shot);
  }
}

}  // namespace
