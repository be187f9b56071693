// Refresh of the shadow framebuffer: the boxes the server drew into the
// system-memory shadow are copied into the head's framebuffer, turned by 90
// degrees when the screen is rotated (1 clockwise, -1 counter-clockwise).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/xserver/screen_layer.h"
#include "xdriver/orv_rec.h"

void ORVRefreshArea(ScrnInfoPtr screen, int count, BoxPtr boxes);
// The reverse copy, framebuffer to shadow, of the same boxes.
void ORVRefreshShadowArea(ScrnInfoPtr screen, int count, BoxPtr boxes);
void ORVRefreshRotatedArea8(ScrnInfoPtr screen, int count, BoxPtr boxes);
void ORVRefreshRotatedArea16(ScrnInfoPtr screen, int count, BoxPtr boxes);
void ORVRefreshRotatedArea32(ScrnInfoPtr screen, int count, BoxPtr boxes);

// The turn itself, for one box of the shadow (x1..x2, y1..y2 exclusive,
// inside the shadow of `width` x `height` pixels at `shadowPitch` bytes a
// row) into the framebuffer at `fbPitch` pixels a row: shadow pixel (x, y)
// lands at framebuffer row x, column height - 1 - y when clockwise, at row
// width - 1 - x, column y otherwise. Rows are taken in groups of 4 (8 bits
// per pixel) or 2 (16 bits) from a multiple of the group, so each
// framebuffer word is written whole, within the shadow's height.
void OrvRotateBox8(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                   int height, int x1, int y1, int x2, int y2, bool clockwise);
void OrvRotateBox16(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                    int height, int x1, int y1, int x2, int y2, bool clockwise);
void OrvRotateBox32(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                    int height, int x1, int y1, int x2, int y2, bool clockwise);
