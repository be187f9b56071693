// The chip's 2D drawing engine on the simulated board.
//
// The engine draws into surfaces in local video memory or system memory:
// rectangle fills (solid and 8x8 pattern), lines between two points,
// surface-to-surface copies and colour expansion of a 1-bit source. Its
// state is the 2D register file (0x1220-0x123C surface descriptors,
// 0x1300-0x132C drawing state); a write of the size register 0x138C starts
// a fill, copy or expansion, a write of the line end 0x1388 draws a line,
// and a write of 0x13A4 starts the control word's operation with the size
// held in 0x130C (the video upload's start).
// The writes act alike whether a DMA packet or the processor makes them.
//
// Written from the register descriptions alone; it never calls driver
// code. Every convention the register descriptions leave open is decided
// once in README.md ("The 2D engine") and tested against a reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/chip_dma.h"

namespace orvsim {

// ---- Registers (packet index i writes 0x1000 + 4 * i) -------------------------
inline constexpr uint32_t k2dRegDescAddress0 = 0x1220;  // index 0x88; descriptor d at + 8 * d
inline constexpr uint32_t k2dRegDescMode0 = 0x1224;     // index 0x89
inline constexpr uint32_t k2dDescStride = 8;
inline constexpr unsigned k2dDescriptors = 4;
inline constexpr uint32_t k2dRegControl = 0x1300;       // index 0xC0
inline constexpr uint32_t k2dRegStart = 0x1304;         // index 0xC1: source start, line start
inline constexpr uint32_t k2dRegOrigin = 0x1308;        // index 0xC2: destination y << 16 | x
inline constexpr uint32_t k2dRegSize = 0x130C;          // index 0xC3: h << 16 | w, stored only
inline constexpr uint32_t k2dRegForeground = 0x1314;    // index 0xC5
inline constexpr uint32_t k2dRegBackground = 0x1318;    // index 0xC6
inline constexpr uint32_t k2dRegPatternLow = 0x131C;    // index 0xC7: pattern rows 0-3
inline constexpr uint32_t k2dRegPatternHigh = 0x1320;   // index 0xC8: pattern rows 4-7
inline constexpr uint32_t k2dRegPlaneMask = 0x1324;     // index 0xC9
inline constexpr uint32_t k2dRegClipTopLeft = 0x1328;   // index 0xCA: top << 16 | left
inline constexpr uint32_t k2dRegClipBottomRight = 0x132C;  // index 0xCB: bottom << 16 | right
inline constexpr uint32_t k2dRegLineEnd = 0x1388;       // index 0xE2: y << 16 | x; draws a line
inline constexpr uint32_t k2dRegSizeGo = 0x138C;        // index 0xE3: h << 16 | w; draws
inline constexpr uint32_t k2dRegStoredSizeGo = 0x13A4;  // index 0xE9: draws with 0x130C's size
// The 3D engine's operation starts: recorded with the control word in force.
inline constexpr uint32_t k3dRegOperationStart = 0x1374;  // index 0xDD
inline constexpr uint32_t k3dRegFlushStart = 0x1378;      // index 0xDE

// ---- Control word (0x1300) ------------------------------------------------------
inline constexpr uint32_t k2dOpMask = 0xF;
inline constexpr uint32_t k2dOpFill = 0;
inline constexpr uint32_t k2dOpLine = 1;
inline constexpr uint32_t k2dOpCopy = 2;
inline constexpr uint32_t k2dOpExpand = 3;
inline constexpr unsigned k2dRopShift = 4;         // bits 4-7
inline constexpr unsigned k2dSourceShift = 8;      // bits 8-9
inline constexpr unsigned k2dDestShift = 10;       // bits 10-11
inline constexpr uint32_t k2dRightToLeft = 0x1000;        // copy
inline constexpr uint32_t k2dTransparentBg = 0x1000;      // pattern fill, expansion
inline constexpr uint32_t k2dBottomToTop = 0x2000;        // copy
inline constexpr uint32_t k2dPatternFill = 0x2000;        // fill
inline constexpr unsigned k2dPatternXShift = 14;   // bits 14-16
inline constexpr unsigned k2dPatternYShift = 17;   // bits 17-19
inline constexpr uint32_t k2dLineLastPixel = 0x400000;    // line
inline constexpr uint32_t k2dTransparent = 0x400000;      // copy
inline constexpr uint32_t k2dClipOn = 0x800000;

// ---- Descriptor mode word ---------------------------------------------------------
inline constexpr uint32_t k2dModePitchMask = 0x3FFF;  // pixels
inline constexpr unsigned k2dModeLayoutShift = 16;    // bits 16-18
inline constexpr unsigned k2dModeFormatShift = 24;    // bits 24-29
inline constexpr uint32_t k2dLayoutXY = 3;            // source start y << 16 | x
inline constexpr uint32_t k2dFormatOneBit = 0;

// Bytes per pixel of a format code; 0 for the 1-bit format; -1 for a code
// the engine does not draw.
int BytesPerPixelOfFormat(uint32_t format);

// The pixels of a line from (x1, y1) to (x2, y2) as the engine draws them,
// in order from the start: n = max(|dx|, |dy|) steps along the major axis,
// the minor coordinate of step i the nearest integer to i x minor / n (a
// half rounded away from the start); the end pixel only with `last`.
template <class Plot>
void ForEachLinePixel(int x1, int y1, int x2, int y2, bool last, Plot plot) {
  const int dx = x2 - x1, dy = y2 - y1;
  const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const bool xMajor = adx >= ady;
  const int64_t n = xMajor ? adx : ady;
  const int64_t minor = xMajor ? ady : adx;
  const int majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
  for (int64_t i = 0; i < (last ? n + 1 : n); ++i) {
    const int along = static_cast<int>(i) * majorStep;
    const int across = static_cast<int>(n == 0 ? 0 : (2 * i * minor + n) / (2 * n)) * minorStep;
    plot(xMajor ? x1 + along : x1 + across, xMajor ? y1 + across : y1 + along);
  }
}

class Engine2d {
 public:
  // An access outside every memory: nothing is written (reads give 0) and
  // one record per operation and direction is kept.
  struct Fault {
    std::string operation;  // "fill", "line", "copy", "expand"
    bool write;
    uint32_t address;       // first bus address outside, memory bits included
    uint32_t pixels;        // accesses of the operation that fell outside
  };

  // Installs the engine on the board's trigger registers and on the DMA
  // engine's packet writes; system memory is reached through the DMA
  // engine's resolver. Both must outlive the 2D engine.
  Engine2d(Board& board, DmaEngine& dma);
  ~Engine2d();
  Engine2d(const Engine2d&) = delete;
  Engine2d& operator=(const Engine2d&) = delete;

  const std::vector<Fault>& Faults() const { return faults_; }
  void ClearFaults() { faults_.clear(); }
  // A write of 0xDD or 0xDE (a packet's or the processor's): the index
  // and the control word (0x1300, index 0xC0) in force when it came.
  struct OperationStart {
    uint8_t index;
    uint32_t control;
    bool operator==(const OperationStart&) const = default;
  };
  const std::vector<OperationStart>& OperationStarts() const { return starts_; }
  void ClearOperationStarts() { starts_.clear(); }

  // Operations run and pixels written (after clip, transparency and faults).
  uint64_t Operations() const { return operations_; }
  uint64_t PixelsWritten() const { return pixels_written_; }

  // Rows of fills and copies that lie wholly in one memory are drawn a row
  // at a time, as one block where the operation allows. With this on, every
  // pixel is read and written on its own, each access checked, as the
  // drawing is defined: the reference the rows drawn at once must equal.
  void SetPixelByPixel(bool on) { pixel_by_pixel_ = on; }

 private:
  struct Surface;
  struct Writer;
  class Access;

  void RegisterWritten(uint32_t reg, uint32_t value);
  Writer WriterFor(const Surface& dst);
  template <typename Source, typename Row>
  void Walk(Access& access, const Writer& writer, const Surface& dst, int x0, int y0, int w, int h,
            bool rightToLeft, bool bottomToTop, Source&& source, Row&& row);
  void Draw(uint32_t size);
  void DrawLine(uint32_t end);
  void Fill(const Surface& dst, int x0, int y0, int w, int h);
  void Copy(const Surface& dst, const Surface& src, int x0, int y0, int w, int h);
  void Expand(const Surface& dst, const Surface& src, int x0, int y0, int w, int h);
  Surface SurfaceOf(unsigned descriptor) const;
  // The control word's destination; a 1-bit one ends the test.
  Surface DestinationOf(uint32_t control) const;
  uint32_t Reg(uint32_t offset) const { return board_.Peek(offset, 4); }
  void NoteFault(Access& access);

  Board& board_;
  DmaEngine& dma_;
  std::vector<Fault> faults_;
  std::vector<OperationStart> starts_;
  uint64_t operations_ = 0;
  uint64_t pixels_written_ = 0;
  bool pixel_by_pixel_ = false;
};

}  // namespace orvsim
