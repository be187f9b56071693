// Conversion of 4-, 8- and 24-bit source pixels into the 8-, 16- and
// 32-bit pixels of a device bitmap, row by row into packed rows.
//
// Every converter takes (destination, source, rows, leading, groups,
// trailing, source row skip, colour table) and answers the source pointer
// after the last row. The destination rows follow each other without gaps.
// After each row the source advances by the row skip (its pitch less the
// bytes the row consumed).
//  - 4 bits: two pixels a byte, the high nibble first. `leading` 1 converts
//    the low nibble of the first byte first (the row starts at an odd
//    pixel); then `groups` whole bytes of two pixels; `trailing` 1 takes
//    the high nibble of one more byte.
//  - 8 and 24 bits: `groups` groups of four pixels, then `trailing` single
//    pixels; `leading` is not used.
// 4- and 8-bit pixels are looked up in the table of 32-bit entries. Onto
// 8-bit pixels a null table keeps the index (a 4-bit pixel widens to its
// byte); the 16- and 32-bit converters need a table.
// 24-bit pixels are bytes (blue, green, red): to 16 bits as RGB 5-6-5, to
// 32 bits as blue | green << 8 | red << 16.
#pragma once

#include <stdint.h>

using XferConverter = const uint8_t* (*)(uint8_t* dst, const uint8_t* src, uint32_t rows,
                                         uint32_t leading, uint32_t groups, uint32_t trailing,
                                         int32_t srcSkip, const uint32_t* table);

const uint8_t* Xfer4BppTo8Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                              uint32_t groups, uint32_t trailing, int32_t srcSkip,
                              const uint32_t* table);
const uint8_t* Xfer4BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table);
const uint8_t* Xfer4BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table);
const uint8_t* Xfer8BppTo8Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                              uint32_t groups, uint32_t trailing, int32_t srcSkip,
                              const uint32_t* table);
const uint8_t* Xfer8BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table);
const uint8_t* Xfer8BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                               uint32_t groups, uint32_t trailing, int32_t srcSkip,
                               const uint32_t* table);
const uint8_t* Xfer24BppTo16Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                                uint32_t groups, uint32_t trailing, int32_t srcSkip,
                                const uint32_t* table);
const uint8_t* Xfer24BppTo32Bpp(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t leading,
                                uint32_t groups, uint32_t trailing, int32_t srcSkip,
                                const uint32_t* table);

// The converter from `sourceBpp` (4, 8, 24) to `targetBpp` (8, 16, 32), or
// null for a pair the transfers do not convert (24 onto 8, or a table
// lookup onto 16 or 32 bits without a table).
XferConverter XferConverterFor(uint32_t sourceBpp, uint32_t targetBpp, bool haveTable);

// How one source row of `width` pixels starting at pixel `x` splits into
// the converter's leading, groups and trailing counts, and the bytes it
// consumes.
struct XferRowSplit {
  uint32_t leading;
  uint32_t groups;
  uint32_t trailing;
  uint32_t bytes;
};
XferRowSplit XferSplitRow(uint32_t sourceBpp, uint32_t x, uint32_t width);
