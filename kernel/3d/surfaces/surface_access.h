// The processor's access to a 3D surface: Surface3d::Lock and Unlock
// bracket every CPU access, Surface3d::LockWithRequest moves a rectangle,
// a box or the whole surface between the surface and client memory in the
// surface's linear, tiled or block-compressed layout. Each access first
// makes the engine finish with the surface (bounded waits) and flushes its
// write caches.
//
// A SurfaceLockRequest is client data: every rectangle and box is checked
// against the surface and against the client memory the caller names
// (clientSize) before a byte moves.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Request flags.
inline constexpr uint32_t kLockBox = 0x1;
inline constexpr uint32_t kLockWhole = 0x2;
inline constexpr uint32_t kLockBordered = 0x4;
// Direction: surface to client memory; any other value writes the surface.
inline constexpr uint32_t kLockRead = 1;

struct SurfaceLockRequest {
  uint32_t flags = 0;
  uint64_t clientAddress = 0;
  uint32_t clientPitch = 0;
  int32_t source[4] = {};  // left, top, right, bottom (exclusive) on the source side
  uint32_t destX = 0;
  uint32_t destY = 0;
  uint32_t unused[2] = {};
  uint32_t direction = 0;
  uint32_t box[6] = {};    // left, top, right, bottom, front, back
  uint32_t boxDestX = 0;
  uint32_t boxDestY = 0;
  uint32_t boxUnused[2] = {};
  uint32_t boxDestZ = 0;
  uint32_t clientSlicePitch = 0;
  // Bytes of client memory from clientAddress; the callers fill it.
  uint64_t clientSize = 0;
};
static_assert(offsetof(SurfaceLockRequest, clientAddress) == 8);
static_assert(offsetof(SurfaceLockRequest, source) == 20);
static_assert(offsetof(SurfaceLockRequest, direction) == 52);
static_assert(offsetof(SurfaceLockRequest, box) == 56);
static_assert(offsetof(SurfaceLockRequest, clientSlicePitch) == 100);

// Tiled memory: tiles of 32 x 16 pixels; the byte offset of pixel (x, y)
// of slice z from the surface's start, for 1, 2 or 4 bytes a pixel (0 for
// other sizes).
uint64_t TiledPixelOffset(uint32_t x, uint32_t y, uint32_t z, uint32_t width, uint32_t depth,
                          uint32_t bytesPerPixel);
// The same for a 4 x 4 block at pixel (x, y) of a compressed format.
uint64_t TiledBlockOffset(uint32_t x, uint32_t y, uint32_t z, uint32_t width, uint32_t depth,
                          uint32_t formatCode, uint32_t bitsPerPixel);

// Format 16's widening of 8-bit channels to 10 bits as it is stored, and
// its inverse as it is read back.
inline uint32_t WidenFormat16(uint32_t in) {
  return (in & 0xC0000000u) | ((in << 6) & 0x3FF00000u) | ((in << 4) & 0x000FFC00u) | ((in << 2) & 0x000003FFu);
}
inline uint32_t NarrowFormat16(uint32_t out) {
  return (out & 0xC0000000u) | ((out >> 6) & 0x00FF0000u) | ((out >> 4) & 0x0000FF00u) | ((out >> 2) & 0x000000FFu);
}
