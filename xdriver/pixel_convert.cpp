#include "xdriver/pixel_convert.h"

#include <string.h>

namespace {

template <typename Pixel>
inline void Store(uint8_t* at, uint32_t value) {
  const Pixel pixel = static_cast<Pixel>(value);
  memcpy(at, &pixel, sizeof(Pixel));
}

inline uint32_t Load32(const uint8_t* at) {
  uint32_t value;
  memcpy(&value, at, 4);
  return value;
}

// A table entry, or the index itself when there is no table (8-bit
// targets only).
inline uint32_t Look(const uint32_t* table, uint32_t index) { return table != nullptr ? table[index] : index; }

template <typename Pixel>
const uint8_t* From4(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                     uint32_t groups, uint32_t trailing, int32_t srcSkip, const uint32_t* table) {
  for (uint32_t row = 0; row < rows; ++row) {
    if (leading) {
      Store<Pixel>(dst, Look(table, *src++ & 0xF));
      dst += sizeof(Pixel);
    }
    for (uint32_t i = 0; i < groups; ++i) {
      const uint32_t byte = *src++;
      Store<Pixel>(dst, Look(table, byte >> 4));
      Store<Pixel>(dst + sizeof(Pixel), Look(table, byte & 0xF));
      dst += 2 * sizeof(Pixel);
    }
    if (trailing) {
      Store<Pixel>(dst, Look(table, *src++ >> 4));
      dst += sizeof(Pixel);
    }
    src += srcSkip;
  }
  return src;
}

template <typename Pixel>
const uint8_t* From8(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t groups,
                     uint32_t trailing, int32_t srcSkip, const uint32_t* table) {
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t i = 0; i < groups; ++i) {
      // Four pixels packed into whole dwords.
      const uint32_t p0 = Look(table, src[0]), p1 = Look(table, src[1]);
      const uint32_t p2 = Look(table, src[2]), p3 = Look(table, src[3]);
      if constexpr (sizeof(Pixel) == 1) {
        Store<uint32_t>(dst, (p0 & 0xFF) | (p1 & 0xFF) << 8 | (p2 & 0xFF) << 16 | p3 << 24);
      } else if constexpr (sizeof(Pixel) == 2) {
        Store<uint32_t>(dst, (p0 & 0xFFFF) | p1 << 16);
        Store<uint32_t>(dst + 4, (p2 & 0xFFFF) | p3 << 16);
      } else {
        Store<uint32_t>(dst, p0);
        Store<uint32_t>(dst + 4, p1);
        Store<uint32_t>(dst + 8, p2);
        Store<uint32_t>(dst + 12, p3);
      }
      src += 4;
      dst += 4 * sizeof(Pixel);
    }
    for (uint32_t i = 0; i < trailing; ++i) {
      Store<Pixel>(dst, Look(table, *src++));
      dst += sizeof(Pixel);
    }
    src += srcSkip;
  }
  return src;
}

inline uint32_t Rgb565(uint32_t b, uint32_t g, uint32_t r) {
  return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
}

template <typename Pixel>
const uint8_t* From24(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t groups,
                      uint32_t trailing, int32_t srcSkip) {
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t i = 0; i < groups; ++i) {
      // Four pixels from three dwords: b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3.
      const uint32_t w0 = Load32(src), w1 = Load32(src + 4), w2 = Load32(src + 8);
      const uint32_t p0 = w0 & 0xFFFFFF;
      const uint32_t p1 = w0 >> 24 | (w1 & 0xFFFF) << 8;
      const uint32_t p2 = w1 >> 16 | (w2 & 0xFF) << 16;
      const uint32_t p3 = w2 >> 8;
      if constexpr (sizeof(Pixel) == 2) {
        auto to565 = [](uint32_t p) { return Rgb565(p & 0xFF, (p >> 8) & 0xFF, p >> 16); };
        Store<uint32_t>(dst, to565(p0) | to565(p1) << 16);
        Store<uint32_t>(dst + 4, to565(p2) | to565(p3) << 16);
      } else {
        Store<uint32_t>(dst, p0);
        Store<uint32_t>(dst + 4, p1);
        Store<uint32_t>(dst + 8, p2);
        Store<uint32_t>(dst + 12, p3);
      }
      src += 12;
      dst += 4 * sizeof(Pixel);
    }
    for (uint32_t i = 0; i < trailing; ++i) {
      const uint32_t b = src[0], g = src[1], r = src[2];
      Store<Pixel>(dst, sizeof(Pixel) == 2 ? Rgb565(b, g, r) : (b | g << 8 | r << 16));
      src += 3;
      dst += sizeof(Pixel);
    }
    src += srcSkip;
  }
  return src;
}

}  // namespace

const uint8_t* Xfer4BppTo8Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                              uint32_t groups, uint32_t trailing, int32_t srcSkip,
                              const uint32_t* table) {
  return From4<uint8_t>(dst, src, rows, leading, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer4BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table) {
  return From4<uint16_t>(dst, src, rows, leading, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer4BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table) {
  return From4<uint32_t>(dst, src, rows, leading, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer8BppTo8Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t,
                              uint32_t groups, uint32_t trailing, int32_t srcSkip,
                              const uint32_t* table) {
  if (table == nullptr) {
    // The indexes themselves: a plain copy of each row.
    const uint32_t bytes = 4 * groups + trailing;
    for (uint32_t row = 0; row < rows; ++row) {
      memcpy(dst, src, bytes);
      dst += bytes;
      src += bytes + srcSkip;
    }
    return src;
  }
  return From8<uint8_t>(dst, src, rows, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer8BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table) {
  return From8<uint16_t>(dst, src, rows, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer8BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table) {
  return From8<uint32_t>(dst, src, rows, groups, trailing, srcSkip, table);
}
const uint8_t* Xfer24BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t,
                                uint32_t groups, uint32_t trailing, int32_t srcSkip,
                                const uint32_t*) {
  return From24<uint16_t>(dst, src, rows, groups, trailing, srcSkip);
}
const uint8_t* Xfer24BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t,
                                uint32_t groups, uint32_t trailing, int32_t srcSkip,
                                const uint32_t*) {
  return From24<uint32_t>(dst, src, rows, groups, trailing, srcSkip);
}

XferConverter XferConverterFor(uint32_t sourceBpp, uint32_t targetBpp, bool haveTable) {
  switch (sourceBpp) {
    case 4:
      if (targetBpp == 8) return Xfer4BppTo8Bpp;
      if (!haveTable) return nullptr;
      return targetBpp == 16 ? Xfer4BppTo16Bpp : Xfer4BppTo32Bpp;
    case 8:
      if (targetBpp == 8) return Xfer8BppTo8Bpp;
      if (!haveTable) return nullptr;
      return targetBpp == 16 ? Xfer8BppTo16Bpp : Xfer8BppTo32Bpp;
    case 24:
      if (targetBpp == 8) return nullptr;
      return targetBpp == 16 ? Xfer24BppTo16Bpp : Xfer24BppTo32Bpp;
    default:
      return nullptr;
  }
}

XferRowSplit XferSplitRow(uint32_t sourceBpp, uint32_t x, uint32_t width) {
  XferRowSplit split{};
  if (sourceBpp == 4) {
    split.leading = (x & 1) != 0 && width != 0 ? 1 : 0;
    split.groups = (width - split.leading) / 2;
    split.trailing = (width - split.leading) & 1;
    split.bytes = split.leading + split.groups + split.trailing;
  } else {
    split.groups = width / 4;
    split.trailing = width & 3;
    split.bytes = width * (sourceBpp / 8);
  }
  return split;
}
