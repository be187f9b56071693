// Pixel transfers between system memory and device bitmaps, and copies
// inside video memory, through the device's scratch surfaces: uploads
// (with or without conversion of 4-, 8- and 24-bit pixels), read-backs and
// the copy through a temporary surface that overlapping screen copies use.
//
// Rectangles are LRECTs with right and bottom exclusive. The raster
// operation comes already shifted into bits 4-7 of the control word.
#pragma once

#include <stdint.h>

#include "core/utils.h"

class DeviceBitmap;
class PDEV;

// Upload without conversion (the source has the bitmap's depth): rows of
// `src` from `srcPoint` to `dst` on the bitmap, chunk by chunk through the
// bitmap's scratch surface. A transparent upload skips source pixels equal
// to `transColour`.
void XferNativeToVid(PDEV* pdev, DeviceBitmap* bitmap, const void* src, int32_t pitch, uint32_t bpp,
                     const uint32_t* table, const LRECT* dst, const LPOINT* srcPoint, uint32_t rop,
                     uint8_t transparent, uint32_t transColour);
// Upload converting 4-, 8- or 24-bit source pixels to the bitmap's depth.
// A 4- or 8-bit source without a colour table keeps its indexes onto an
// 8-bit bitmap and draws nothing onto a deeper one; 24 bits onto 8 draws
// nothing.
void XferXBppToVid(PDEV* pdev, DeviceBitmap* bitmap, const void* src, int32_t pitch, uint32_t bpp,
                   const uint32_t* table, const LRECT* dst, const LPOINT* srcPoint, uint32_t rop,
                   uint8_t transparent, uint32_t transColour);
// Read-back: the bitmap's pixels from `srcPoint` into `dst` (a rectangle of
// system memory at `pitch` bytes a row), directly from a valid host copy or
// video memory, else through the third scratch surface.
void XferVidToNative(PDEV* pdev, DeviceBitmap* bitmap, void* dst, int32_t pitch, uint32_t bpp,
                     const uint32_t* table, const LRECT* dstRect, const LPOINT* srcPoint,
                     uint32_t rop, uint8_t transparent, uint32_t transColour);
// A copy of `size` pixels from `srcPoint` on `src` to `dstPoint` on `dst`
// through a temporary surface, in tiles of the temporary's size in the
// order that keeps an overlapping copy right. `placement` picks the
// temporary's memory (the other bank than the destination's when set).
// False, with nothing drawn, when no temporary surface can be made.
bool XferVidToTmpToVid(DeviceBitmap* dst, DeviceBitmap* src, const LPOINT* dstPoint,
                       const LPOINT* srcPoint, const LSIZE* size, uint32_t rop, uint8_t transparent,
                       uint32_t transColour, uint8_t placement);
