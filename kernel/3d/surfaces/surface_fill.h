// Fills and copies of 3D surfaces by the processor, each ending with a
// completion tag in the secondary stream that marks the surfaces' blocks
// busy until the engine passes it. Rectangles are client data: reversed,
// negative or outside the surface (or the source) are refused before
// anything is written.
#pragma once

#include <stdint.h>

class Surface3d;
struct CommonData;

// Fill flags.
inline constexpr uint32_t kFillRop = 0x1;
inline constexpr uint32_t kFillNoTag = 0x2;
// Copy flags.
inline constexpr uint32_t kCopyKey = 0x1;
inline constexpr uint32_t kCopyNoTag = 0x2;
inline constexpr uint32_t kCopyRop = 0x4;

inline constexpr uint32_t kRopCopy = 0xC0;

struct SurfaceFillRequest {
  uint32_t flags = 0;
  uint32_t rect[4] = {};  // left, top, right, bottom (exclusive)
  uint32_t value = 0;
  uint32_t mask = 0xFFFFFFFF;
  uint32_t rop = kRopCopy;
};

struct SurfaceCopyRequest {
  uint32_t flags = 0;
  uint32_t source[4] = {};
  uint32_t destination[4] = {};
  uint32_t mask = 0xFFFFFFFF;
  uint32_t key = 0;
  uint32_t rop = kRopCopy;
};

// The completion tags' operation word (the operation tag of the 3D stream,
// or the processor fill's short form: the word, the tag | 1, V).
inline constexpr uint32_t kTagMaskWord = 0x707;

// A new sync tag stored in the surfaces' blocks, its packet appended to the
// secondary stream and handed to the engine. The tag (0 when the stream
// had no room or there is none).
uint32_t PostCompletionTag(CommonData* common, Surface3d* first, Surface3d* second, bool fillForm);

// The processor fill: every pixel of the rectangle gets the value.
bool SurfaceFillCpu(Surface3d* surface, const SurfaceFillRequest& request);
// The engine's descriptor words of a surface: record 0's address word and
// its mode word with the width field holding the row pitch in pixels (the
// engine steps rows by it). False when the pitch is no whole number of
// pixels or wider than the field.
bool SurfaceEngineDescriptor(const Surface3d* surface, uint32_t* word0, uint32_t* word1);
// The same for the record of another usage (the render-target and
// depth-stencil records a draw binds): the engine draws a target's rows
// where fills, copies and the processor find them.
bool SurfaceEngineRecord(const Surface3d* surface, uint32_t usage, uint32_t* word0, uint32_t* word1);
// The engine fill: the device's fill state gets operation 5 with the raster
// operation, the value replicated to 32 bits, the rectangle, the write mask
// and the surface's own descriptor. A layout-2 fill that does not cover the
// granularity-rounded surface goes to the processor.
bool SurfaceFillEngine(Surface3d* surface, const SurfaceFillRequest& request);
// The engine copy (operation 0x202 with the raster operation, directions
// for overlaps within one surface, the key under its mask); false when
// the engine cannot take it: mixed layouts, partial layout-2 copies.
bool SurfaceCopyEngine(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
// The engine copy of a rectangle within one surface whose rows overlap
// too closely for a directed copy: through a scratch surface, tile by
// tile (the scratch halved while it cannot be had, down to 32 pixels).
bool SurfaceCopyOverlapping(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
inline constexpr uint32_t kScratchResourceType = 0;
inline constexpr uint32_t kScratchSmallestSide = 32;
// The copy of a whole engine-laid-out surface into another of its size:
// the granularity-rounded rows, padded by whole rows to the memory view's
// alignment, by the engine (2D copy) or the processor; never past either
// surface's memory.
bool SurfaceCopyWholeMemory(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request,
                            bool engine);
// A fill by the path the surface's layout and memory choose.
bool SurfaceFill(Surface3d* surface, const SurfaceFillRequest& request);
// The processor copy of a rectangle of the source to the destination
// rectangle's origin (same extent); within one surface overlapping rows
// and columns are copied in the order that keeps the source intact.
bool SurfaceCopyCpu(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);

// One pixel of a video format (39: three planes, 40: two planes, 41 and 42:
// packed 4:2:2) as 32-bit ARGB, limited-range BT.601. The planes follow the
// luma plane of pitch x height bytes; every chroma read stays inside its
// row and plane (the last pixels of a row and odd sizes reuse the nearest
// sample). 0 for other formats or a pixel outside width x height.
uint32_t FetchVideoPixel(uint32_t formatCode, const uint8_t* base, uint32_t pitch, uint32_t width,
                         uint32_t height, uint32_t x, uint32_t y);

// Blit flags.
inline constexpr uint32_t kBlitKey = 0x1;
inline constexpr uint32_t kBlitCallerTransform = 0x2;
inline constexpr uint32_t kBlitCallerStages = 0x4;
inline constexpr uint32_t kBlitNoTag = 0x8;
// Options handed to the rectangle's texture coordinates: bit 4 and the
// filter mode in bits 5-6; bit 7 for the engine state.
inline constexpr uint32_t kBlitOptionBit4 = 0x10;
inline constexpr uint32_t kBlitFilterModeShift = 5;
inline constexpr uint32_t kBlitFilterModeMask = 0x60;

struct SurfaceBlitRequest {
  uint32_t flags = 0;
  int32_t source[4] = {};       // left, top, right, bottom
  int32_t clipped[4] = {};      // the part of the destination drawn
  uint32_t mask = 0xFFFFFFFF;
  int32_t full[4] = {};         // the unclipped destination: the scale
  uint32_t key = 0;
  uint32_t filter = 0;
  uint32_t options[2] = {};
  void* transform = nullptr;     // an HwStateBlock with kBlitCallerTransform
  void* stageSource = nullptr;  // a BlitSource with kBlitCallerStages
  uint32_t stageWidth = 0;
  uint32_t stageHeight = 0;
};

// The processor's point-sampled blit: each pixel of the clipped rectangle
// takes the source pixel its 13.19 fixed-point position falls on (video
// sources converted to the destination's channels); keyed pixels are
// skipped. False for empty extents or rectangles outside the surfaces or
// a clipped rectangle outside the full one.
bool SurfaceBlitSoftware(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);
