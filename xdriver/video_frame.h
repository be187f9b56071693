// What the video layer's drawing and the overlay's scaler share: the writers
// of a frame and of a blit into a command buffer, and the surfaces of a
// port's two slots.
#pragma once

#include <stdint.h>

#include "xdriver/video_layer.h"

class BmPrimInt;
class MmSurface;
class Surface2d;

// Surfaces of the layer are a multiple of this many pixels wide.
inline constexpr uint32_t kVideoPitchAlign = 32;

// The steps of one frame up to its tag, into the buffer; the tag is kept
// for ORVVideoWait.
void VideoWriteFrame(ORVVideoPortRec* port, BmPrimInt* prim, uint32_t fourcc, uint32_t y,
                     uint32_t p1, uint32_t p2, uint32_t srcW, uint32_t srcH, uint32_t dst,
                     uint32_t index, int32_t kind, uint32_t dstW, uint32_t dstH,
                     uint32_t dstFormat);
// A rectangle copied between two surfaces of the same format.
void VideoWriteBlit(BmPrimInt* prim, uint32_t dstOffset, uint32_t dstPitch, uint32_t format,
                    int32_t dstX, int32_t dstY, uint32_t srcOffset, uint32_t srcPitch,
                    int32_t srcX, int32_t srcY, int32_t width, int32_t height);
// A surface of the layer, described and placed in the slot's memory type;
// null when it cannot be placed.
Surface2d* VideoPlaceSurface(ORVVideoPortRec* port, uint32_t slot, uint32_t pitch,
                             uint32_t layout, uint32_t format, uint32_t height, uint32_t bytes,
                             bool swap);
// Waits, bounded, until the engine has left the surface; false, logged,
// when the wait gave up.
bool VideoWaitSurfaceIdle(MmSurface* s);
