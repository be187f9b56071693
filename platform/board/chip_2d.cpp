#include "platform/board/chip_2d.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "platform/board/fail.h"

namespace orvsim {

namespace {

// Coordinates are signed 16-bit fields: y in the high half, x in the low.
int Low16(uint32_t word) { return static_cast<int16_t>(word & 0xFFFF); }
int High16(uint32_t word) { return static_cast<int16_t>(word >> 16); }

// Result bit = h >> ((source bit << 1) | destination bit), for every bit.
uint32_t ApplyRop(uint32_t h, uint32_t s, uint32_t d) {
  uint32_t r = 0;
  if (h & 0x1) r |= ~s & ~d;
  if (h & 0x2) r |= ~s & d;
  if (h & 0x4) r |= s & ~d;
  if (h & 0x8) r |= s & d;
  return r;
}

uint32_t PixelMask(int bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1; }

// A pixel of 1, 2 or 4 bytes in memory order. The copies have a fixed size
// so that they are plain loads and stores: a copy of a variable size is a
// library call per pixel, which made whole-frame fills dominate the drivers'
// test and fuzz runs.
uint32_t LoadPixel(const uint8_t* at, int bytes) {
  switch (bytes) {
    case 1:
      return *at;
    case 2: {
      uint16_t v;
      std::memcpy(&v, at, sizeof v);
      return v;
    }
    default: {
      uint32_t v;
      std::memcpy(&v, at, sizeof v);
      return v;
    }
  }
}

void StorePixel(uint8_t* at, int bytes, uint32_t value) {
  switch (bytes) {
    case 1:
      *at = static_cast<uint8_t>(value);
      break;
    case 2: {
      const uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    default:
      std::memcpy(at, &value, sizeof value);
      break;
  }
}

// The inclusive clip rectangle, or everything when clipping is off.
struct Clip {
  int left, top, right, bottom;
};

}  // namespace

int BytesPerPixelOfFormat(uint32_t format) {
  switch (format) {
    case 0:  // 1 bit: expansion sources only
      return 0;
    case 16: case 17: case 18:
      return 1;
    case 32: case 33: case 40: case 46:
      return 2;
    case 48: case 49: case 50: case 51: case 52: case 59:
      return 4;
    default:
      return -1;
  }
}

struct Engine2d::Surface {
  unsigned descriptor;
  unsigned space;   // bits 0-1 of the address word: 0 local, 2 AGP, 3 PCI-locked
  uint32_t base;    // bus address
  uint32_t pitch;   // pixels
  uint32_t layout;
  uint32_t format;
  int bytes;        // per pixel; 0 for 1 bit
};

// Memory access for one operation: host bytes at a surface offset, and the
// accesses that fell outside every memory.
class Engine2d::Access {
 public:
  Access(Board& board, DmaEngine& dma, const char* operation)
      : board_(board), dma_(dma), operation_(operation) {}

  // Host bytes of [offset, offset + length) from the surface's base, or
  // null when they do not lie wholly in one memory.
  uint8_t* Host(const Surface& s, int64_t offset, uint32_t length) const {
    const int64_t bus = int64_t{s.base} + offset;
    if (bus < 0 || bus + length > (int64_t{1} << 32)) return nullptr;
    const uint32_t at = static_cast<uint32_t>(bus);
    if (s.space == kBusLocal) {
      return uint64_t{at} + length <= board_.LocalMemorySize() ? board_.LocalMemory() + at : nullptr;
    }
    if (s.space == kBusAgp || s.space == kBusPciLocked) return dma_.SystemMemoryAt(at, length);
    return nullptr;
  }

  // The same for one access of the operation: null is counted as a fault.
  uint8_t* Bytes(const Surface& s, int64_t offset, uint32_t length, bool write) {
    uint8_t* host = Host(s, offset, length);
    if (host == nullptr) {
      const uint32_t word = (static_cast<uint32_t>(int64_t{s.base} + offset) & ~3u) | s.space;
      if (write) {
        if (write_faults_++ == 0) first_write_ = word;
      } else if (read_faults_++ == 0) {
        first_read_ = word;
      }
    }
    return host;
  }

  const char* operation_name() const { return operation_; }
  uint32_t read_faults_ = 0;
  uint32_t write_faults_ = 0;
  uint32_t first_read_ = 0;
  uint32_t first_write_ = 0;

 private:
  Board& board_;
  DmaEngine& dma_;
  const char* operation_;
};

Engine2d::Engine2d(Board& board, DmaEngine& dma) : board_(board), dma_(dma) {
  for (uint32_t reg : {k2dRegLineEnd, k2dRegSizeGo, k2dRegStoredSizeGo, k3dRegOperationStart, k3dRegFlushStart}) {
    board_.SetWriteHook(reg, 4, [this, reg](Board&, RegAccess access, uint32_t value, uint32_t) {
      // A narrow write changes its bytes of the register; the engine then
      // starts with the whole word.
      const unsigned shift = 8 * (access.offset - reg);
      const uint32_t mask = (access.width >= 4 ? 0xFFFFFFFFu : (1u << (8 * access.width)) - 1)
                            << shift;
      const uint32_t word = (board_.Peek(reg, 4) & ~mask) | ((value << shift) & mask);
      board_.Poke(reg, 4, word);
      RegisterWritten(reg, word);
      return value;
    });
  }
  dma_.SetPacketWriteSink([this](uint32_t reg, uint32_t value) { RegisterWritten(reg, value); });
}

Engine2d::~Engine2d() {
  dma_.SetPacketWriteSink(nullptr);
  board_.ClearHooks(k2dRegLineEnd);
  board_.ClearHooks(k2dRegSizeGo);
  board_.ClearHooks(k2dRegStoredSizeGo);
  board_.ClearHooks(k3dRegOperationStart);
  board_.ClearHooks(k3dRegFlushStart);
}

void Engine2d::RegisterWritten(uint32_t reg, uint32_t value) {
  if (reg == k2dRegSizeGo) {
    Draw(value);
  } else if (reg == k2dRegLineEnd) {
    DrawLine(value);
  } else if (reg == k2dRegStoredSizeGo) {
    Draw(Reg(k2dRegSize));
  } else if (reg == k3dRegOperationStart || reg == k3dRegFlushStart) {
    starts_.push_back(OperationStart{static_cast<uint8_t>((reg - kDmaRegWindow) / 4), Reg(k2dRegControl)});
  }
}

Engine2d::Surface Engine2d::SurfaceOf(unsigned descriptor) const {
  const uint32_t address = Reg(k2dRegDescAddress0 + k2dDescStride * descriptor);
  const uint32_t mode = Reg(k2dRegDescMode0 + k2dDescStride * descriptor);
  Surface s;
  s.descriptor = descriptor;
  s.space = address & 3u;
  s.base = address & ~3u;
  s.pitch = mode & k2dModePitchMask;
  s.layout = (mode >> k2dModeLayoutShift) & 0x7;
  s.format = (mode >> k2dModeFormatShift) & 0x3F;
  s.bytes = BytesPerPixelOfFormat(s.format);
  if (s.bytes < 0) {
    Fail("2D engine: board %u '%s': surface descriptor %u (mode word 0x%08" PRIX32
         ") has pixel format %" PRIu32 ", which the engine does not draw",
         board_.Index(), board_.Name().c_str(), descriptor, mode, s.format);
  }
  return s;
}

Engine2d::Surface Engine2d::DestinationOf(uint32_t control) const {
  const Surface dst = SurfaceOf((control >> k2dDestShift) & 3);
  if (dst.bytes == 0) {
    Fail("2D engine: board %u '%s': drawing into the 1-bit surface of descriptor %u",
         board_.Index(), board_.Name().c_str(), dst.descriptor);
  }
  return dst;
}

void Engine2d::NoteFault(Access& access) {
  if (access.write_faults_ != 0) {
    faults_.push_back(Fault{access.operation_name(), true, access.first_write_, access.write_faults_});
  }
  if (access.read_faults_ != 0) {
    faults_.push_back(Fault{access.operation_name(), false, access.first_read_, access.read_faults_});
  }
}

// The pixel-writing core shared by every operation: read the destination,
// raster operation, plane mask, write.
struct Engine2d::Writer {
  uint32_t rop;
  uint32_t planeMask;
  uint32_t pixelMask;
  int bytes;
  uint64_t* written;

  uint32_t Result(uint32_t source, uint32_t d) const {
    const uint32_t r = ApplyRop(rop, source, d);
    return ((r & planeMask) | (d & ~planeMask)) & pixelMask;
  }

  void Put(uint8_t* at, uint32_t source) const {
    StorePixel(at, bytes, Result(source, LoadPixel(at, bytes)));
    ++*written;
  }

  // The pixel a source value writes over any destination, or false when
  // the result depends on the destination. The raster operation and the
  // mask work bit by bit, so a result that comes out the same over all
  // zeros and over all ones comes out the same over every destination.
  bool Fixed(uint32_t source, uint32_t* pixel) const {
    *pixel = Result(source, 0);
    return *pixel == Result(source, 0xFFFFFFFF);
  }

  // Whether every pixel written is the source pixel as it is.
  bool CopiesSource() const { return rop == 0xC && (planeMask & pixelMask) == pixelMask; }
};

Engine2d::Writer Engine2d::WriterFor(const Surface& dst) {
  return Writer{(Reg(k2dRegControl) >> k2dRopShift) & 0xF, Reg(k2dRegPlaneMask), PixelMask(dst.bytes),
                dst.bytes, &pixels_written_};
}

namespace {

Clip ClipOf(uint32_t control, uint32_t topLeft, uint32_t bottomRight) {
  if ((control & k2dClipOn) == 0) return Clip{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  return Clip{Low16(topLeft), High16(topLeft), Low16(bottomRight), High16(bottomRight)};
}

// Pixel (or, for a 1-bit source, bit) number of pixel (i, j) of an
// operation of width w from the source's address: layout 3 starts at
// y << 16 | x in the source's pitch, the other layouts at a number with the
// rows packed at the operation's width.
uint32_t XYWord(int x, int y) {
  return (static_cast<uint32_t>(y) & 0xFFFF) << 16 | (static_cast<uint32_t>(x) & 0xFFFF);
}

int64_t SourceIndex(uint32_t layout, uint32_t pitch, uint32_t start, int w, int i, int j) {
  if (layout == k2dLayoutXY) return int64_t{High16(start) + j} * pitch + Low16(start) + i;
  return int64_t{start} + int64_t{j} * w + i;
}

bool Inside(const Clip& c, int x, int y) {
  return x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
}

// Fills [row + filled, row + length) with copies of the bytes before it:
// a repeating row drawn from its first period, doubling what is done.
void RepeatLeadingBytes(uint8_t* row, size_t filled, size_t length) {
  while (filled < length) {
    const size_t more = std::min(filled, length - filled);
    std::memcpy(row + filled, row, more);
    filled += more;
  }
}

// For an operation whose rows are always drawn one pixel at a time.
struct NoWholeRows {
  bool operator()(int, int, int, uint8_t*) const { return false; }
};

}  // namespace

// Walks the destination rectangle in the given order; source(i, j, &v)
// gives the source value of pixel (i, j) of the rectangle, or false to leave
// the pixel alone. The clip leaves the same columns on every row. A row
// whose columns lie wholly in one memory is reached through one host
// pointer, and row(j, first, n, line) may draw its n columns from `first`
// at once, exactly as the walk would leave them (true), or leave them to
// the walk (false); a row that runs outside every memory goes pixel by
// pixel, each access checked on its own.
template <typename Source, typename Row>
void Engine2d::Walk(Access& access, const Writer& writer, const Surface& dst, int x0, int y0, int w,
                    int h, bool rightToLeft, bool bottomToTop, Source&& source, Row&& row) {
  const Clip clip = ClipOf(Reg(k2dRegControl), Reg(k2dRegClipTopLeft), Reg(k2dRegClipBottomRight));
  const int first = static_cast<int>(std::max<int64_t>(0, int64_t{clip.left} - x0));
  const int last = static_cast<int>(std::min<int64_t>(w - 1, int64_t{clip.right} - x0));
  if (first > last) return;
  const int n = last - first + 1;
  const uint32_t bytes = static_cast<uint32_t>(dst.bytes);
  for (int r = 0; r < h; ++r) {
    const int j = bottomToTop ? h - 1 - r : r;
    const int y = y0 + j;
    if (y < clip.top || y > clip.bottom) continue;
    const int64_t rowStart = int64_t{y} * dst.pitch + x0 + first;
    uint8_t* line = pixel_by_pixel_ ? nullptr : access.Host(dst, rowStart * bytes, n * bytes);
    if (line != nullptr && row(j, first, n, line)) {
      pixels_written_ += static_cast<uint64_t>(n);
      continue;
    }
    for (int column = 0; column < n; ++column) {
      const int i = rightToLeft ? last - column : first + column;
      uint32_t value;
      if (!source(i, j, &value)) continue;
      uint8_t* at = line != nullptr ? line + static_cast<size_t>(i - first) * bytes
                                    : access.Bytes(dst, (rowStart + i - first) * bytes, bytes, true);
      if (at != nullptr) writer.Put(at, value);
    }
  }
}

void Engine2d::Draw(uint32_t size) {
  const uint32_t control = Reg(k2dRegControl);
  const uint32_t op = control & k2dOpMask;
  if (op != k2dOpFill && op != k2dOpCopy && op != k2dOpExpand) return;  // stored only
  const Surface dst = DestinationOf(control);
  const uint32_t origin = Reg(k2dRegOrigin);
  const int x0 = Low16(origin), y0 = High16(origin);
  const int w = static_cast<int>(size & 0xFFFF), h = static_cast<int>(size >> 16);
  ++operations_;
  switch (op) {
    case k2dOpFill:
      Fill(dst, x0, y0, w, h);
      break;
    case k2dOpCopy:
      Copy(dst, SurfaceOf((control >> k2dSourceShift) & 3), x0, y0, w, h);
      break;
    default:
      Expand(dst, SurfaceOf((control >> k2dSourceShift) & 3), x0, y0, w, h);
      break;
  }
}

void Engine2d::Fill(const Surface& dst, int x0, int y0, int w, int h) {
  const uint32_t control = Reg(k2dRegControl);
  const uint32_t fg = Reg(k2dRegForeground), bg = Reg(k2dRegBackground);
  const Writer writer = WriterFor(dst);
  const size_t bytes = static_cast<size_t>(dst.bytes);
  Access access(board_, dma_, "fill");
  // Where the pixels written do not depend on what they replace, a row is
  // its first pixel (solid) or its first eight (pattern) repeated.
  uint32_t fgPixel, bgPixel;
  const bool fgFixed = writer.Fixed(fg, &fgPixel), bgFixed = writer.Fixed(bg, &bgPixel);
  if ((control & k2dPatternFill) == 0) {
    auto solid = [&](int, int, uint32_t* v) {
      *v = fg;
      return true;
    };
    auto row = [&](int, int, int n, uint8_t* line) {
      if (!fgFixed) return false;
      StorePixel(line, dst.bytes, fgPixel);
      RepeatLeadingBytes(line, bytes, static_cast<size_t>(n) * bytes);
      return true;
    };
    Walk(access, writer, dst, x0, y0, w, h, false, false, solid, row);
  } else {
    const uint64_t pattern = uint64_t{Reg(k2dRegPatternLow)} | uint64_t{Reg(k2dRegPatternHigh)} << 32;
    const int ox = static_cast<int>((control >> k2dPatternXShift) & 7);
    const int oy = static_cast<int>((control >> k2dPatternYShift) & 7);
    const bool transparent = (control & k2dTransparentBg) != 0;
    // Row (Y - oy) & 7 is byte of that number; its bit 7 is the leftmost pixel.
    auto set = [&](int i, int j) {
      const unsigned patternRow = static_cast<unsigned>((y0 + j - oy) & 7);
      const unsigned patternColumn = static_cast<unsigned>((x0 + i - ox) & 7);
      return ((pattern >> (8 * patternRow)) >> (7 - patternColumn) & 1) != 0;
    };
    auto patterned = [&](int i, int j, uint32_t* v) {
      const bool bit = set(i, j);
      if (!bit && transparent) return false;
      *v = bit ? fg : bg;
      return true;
    };
    auto row = [&](int j, int first, int n, uint8_t* line) {
      if (transparent || !fgFixed || !bgFixed) return false;
      const int period = std::min(n, 8);
      for (int k = 0; k < period; ++k) StorePixel(line + k * bytes, dst.bytes, set(first + k, j) ? fgPixel : bgPixel);
      RepeatLeadingBytes(line, static_cast<size_t>(period) * bytes, static_cast<size_t>(n) * bytes);
      return true;
    };
    Walk(access, writer, dst, x0, y0, w, h, false, false, patterned, row);
  }
  NoteFault(access);
}

void Engine2d::Copy(const Surface& dst, const Surface& src, int x0, int y0, int w, int h) {
  if (src.bytes != dst.bytes) {
    Fail("2D engine: board %u '%s': copy from descriptor %u (%d bytes per pixel) to descriptor "
         "%u (%d bytes per pixel)",
         board_.Index(), board_.Name().c_str(), src.descriptor, src.bytes, dst.descriptor,
         dst.bytes);
  }
  const uint32_t control = Reg(k2dRegControl);
  const bool rightToLeft = (control & k2dRightToLeft) != 0;
  const bool bottomToTop = (control & k2dBottomToTop) != 0;
  // The origin and an x/y source start name the corner the walk starts at:
  // the right column with bit 12, the bottom row with bit 13.
  const int back = rightToLeft ? w - 1 : 0, up = bottomToTop ? h - 1 : 0;
  x0 -= back;
  y0 -= up;
  uint32_t start = Reg(k2dRegStart);
  if (src.layout == k2dLayoutXY) {
    start = XYWord(Low16(start) - back, High16(start) - up);
  }
  const bool transparent = (control & k2dTransparent) != 0;
  // The key is compared under the background word, the key mask.
  const uint32_t keyMask = Reg(k2dRegBackground) & PixelMask(dst.bytes);
  const uint32_t key = Reg(k2dRegForeground) & keyMask;
  const Writer writer = WriterFor(dst);
  Access access(board_, dma_, "copy");
  auto source = [&](int i, int j, uint32_t* v) {
    const int64_t pixel = SourceIndex(src.layout, src.pitch, start, w, i, j);
    const uint8_t* at = access.Bytes(src, pixel * src.bytes, static_cast<uint32_t>(src.bytes), false);
    if (at == nullptr) return false;
    const uint32_t value = LoadPixel(at, src.bytes);
    if (transparent && (value & keyMask) == key) return false;
    *v = value;
    return true;
  };
  // A plain copy moves a row whose source lies in one memory as one block
  // where that leaves what the walk leaves. The walk reads each source pixel
  // before it writes its destination, so a row that does not overlap its
  // source, or moves toward the end its walk starts from, comes out the
  // same; one that moves away from it over itself repeats pixels, and is
  // walked.
  const bool plain = !transparent && writer.CopiesSource();
  auto row = [&](int j, int first, int n, uint8_t* line) {
    if (!plain) return false;
    const uint32_t length = static_cast<uint32_t>(n) * static_cast<uint32_t>(src.bytes);
    const int64_t pixel = SourceIndex(src.layout, src.pitch, start, w, first, j);
    const uint8_t* from = access.Host(src, pixel * src.bytes, length);
    if (from == nullptr) return false;
    const uintptr_t to = reinterpret_cast<uintptr_t>(line), at = reinterpret_cast<uintptr_t>(from);
    const bool overlap = to < at + length && at < to + length;
    if (overlap && (rightToLeft ? to < at : to > at)) return false;
    std::memmove(line, from, length);
    return true;
  };
  Walk(access, writer, dst, x0, y0, w, h, rightToLeft, bottomToTop, source, row);
  NoteFault(access);
}

void Engine2d::Expand(const Surface& dst, const Surface& src, int x0, int y0, int w, int h) {
  if (src.bytes != 0) {
    Fail("2D engine: board %u '%s': colour expansion from descriptor %u, which is not a 1-bit "
         "surface (format %" PRIu32 ")",
         board_.Index(), board_.Name().c_str(), src.descriptor, src.format);
  }
  const uint32_t control = Reg(k2dRegControl);
  const uint32_t start = Reg(k2dRegStart);
  const uint32_t fg = Reg(k2dRegForeground), bg = Reg(k2dRegBackground);
  const bool transparent = (control & k2dTransparentBg) != 0;
  Access access(board_, dma_, "expand");
  auto source = [&](int i, int j, uint32_t* v) {
    const int64_t bit = SourceIndex(src.layout, src.pitch, start, w, i, j);
    const int64_t byte = bit >= 0 ? bit / 8 : (bit - 7) / 8;
    const uint8_t* at = access.Bytes(src, byte, 1, false);
    if (at == nullptr) return false;
    // Bit 0 of each byte is the leftmost pixel.
    const bool set = (*at >> (bit & 7)) & 1;
    if (!set && transparent) return false;
    *v = set ? fg : bg;
    return true;
  };
  Walk(access, WriterFor(dst), dst, x0, y0, w, h, false, false, source, NoWholeRows{});
  NoteFault(access);
}

void Engine2d::DrawLine(uint32_t end) {
  const uint32_t control = Reg(k2dRegControl);
  if ((control & k2dOpMask) != k2dOpLine) return;  // stored only
  const Surface dst = DestinationOf(control);
  ++operations_;
  const Clip clip = ClipOf(control, Reg(k2dRegClipTopLeft), Reg(k2dRegClipBottomRight));
  const Writer writer = WriterFor(dst);
  const uint32_t fg = Reg(k2dRegForeground);
  const uint32_t start = Reg(k2dRegStart);
  const int x1 = Low16(start), y1 = High16(start), x2 = Low16(end), y2 = High16(end);
  Access access(board_, dma_, "line");
  ForEachLinePixel(x1, y1, x2, y2, (control & k2dLineLastPixel) != 0, [&](int x, int y) {
    if (!Inside(clip, x, y)) return;
    const int64_t at = (int64_t{y} * dst.pitch + x) * dst.bytes;
    if (uint8_t* host = access.Bytes(dst, at, static_cast<uint32_t>(dst.bytes), true)) {
      writer.Put(host, fg);
    }
  });
  NoteFault(access);
}

}  // namespace orvsim
