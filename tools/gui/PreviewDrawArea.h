// The layout preview drawn into the main window's "mwDrawArea": the
// geometry of the picture (outlines, separators, digits), computed without
// drawing so it can be checked by numbers, and its drawing.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace preview {

// Layout and multi-display mode numbers, as the controller holds them.
constexpr uint32_t kHorizontal = 1;
constexpr uint32_t kVertical = 2;
constexpr uint32_t kSquare = 3;
constexpr uint32_t kMerge = 1;
constexpr uint32_t kIndependent = 2;
constexpr uint32_t kXinerama = 3;

// Display rotations (the controller's rotation word).
constexpr uint32_t kRotationNone = 0;
constexpr uint32_t kRotationClockwise = 1;
constexpr uint32_t kRotationCounterClockwise = 2;

constexpr int32_t kDisplaySize = 26;      // one display is a square of this side
constexpr int32_t kPairLength = 52;       // a display pair on a KVD board
constexpr int32_t kDigitStep = 25;        // digits sharing one outline
constexpr int kMaxDisplays = 4;

struct Rect {
  int32_t x, y, width, height;
  bool operator==(const Rect&) const = default;
};

// oDrawingInfo: up to four outlines, their number and the number of displays.
struct DrawingInfo {
  std::array<Rect, kMaxDisplays> rects{};
  int32_t rectCount = 0;
  int32_t displayCount = 0;
};

struct Line {
  int32_t x1, y1, x2, y2;
  bool operator==(const Line&) const = default;
};

struct Digit {
  int digit;       // 1-4
  int32_t x, y;    // anchor; the image goes one pixel right of and below it
  int angle;       // turn for GdkPixbufRotateSimple: 0, 90 (ccw) or 270 (cw)
  bool operator==(const Digit&) const = default;
};

struct Input {
  int32_t areaWidth = 0;   // the drawing area's size: each axis is placed
  int32_t areaHeight = 0;  // with its own, and the picture is centred

  int displays = 1;  // 1-4 (output-count index + 1)
  uint32_t layout = kHorizontal;
  uint32_t mode = kMerge;
  bool kvd = false;
  std::array<uint32_t, kMaxDisplays> rotation{};  // GetPivotState per display
};

struct Picture {
  DrawingInfo info;
  std::vector<Line> separators;  // dashed
  std::vector<Digit> digits;
};

DrawingInfo GetCoordSquare(int32_t areaWidth, int32_t areaHeight, uint32_t mode);
DrawingInfo GetCoordLine(int32_t areaWidth, int32_t areaHeight, int displays, uint32_t layout,
                         uint32_t mode, bool kvd);
// The image angle that shows a display turned by `rotation`.
int DigitAngle(uint32_t rotation);
Picture ComputePreview(const Input& in);

}  // namespace preview

// What the controller currently holds; the area width is filled in here.
using PreviewStateFn = preview::Input (*)();

// Finds "mwDrawArea" on `window` and makes the digit images.
void InitPreviewDrawArea(GtkWidget* window, PreviewStateFn state);
// A new white backing pixmap of the area's size (configure event).
void EraseDrawPreviewArea();
// Copies that part of the backing pixmap onto the area and draws the
// picture over it (expose event).
void RedrawPreviewArea(int x, int y, int w, int h);
void DrawPreview();
void ShutdownPreviewDrawArea();


// A turned copy: 90 counter-clockwise, 270 clockwise, 180 upside down, 0 a
// plain copy; null (with a warning) for any other angle.
GdkPixbuf* GdkPixbufRotateSimple(const GdkPixbuf* src, int angle);
// Digit image 1-4 (owned by the preview).
GdkPixbuf* PreviewDigitImage(int digit);
