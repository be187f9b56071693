// Post-draw transforms: with the 8-to-10-bit or the pivot transform the X
// server draws into an off-screen device bitmap (the source), and the
// transform copies what was drawn into the displayed surface (the
// destination) with a textured rectangle of the 3D engine: re-rendered in
// the displayed surface's pixel format, or rotated. This file holds the
// transform object of a device, the coordinate translation of a rotation,
// the command words both copies write, and the step the drawing bracket
// runs after drawing.
#pragma once

#include <stdint.h>

#include "core/utils.h"

class BmPrimInt;
class DeviceBitmap;
class PDEV;
class PostDrawXform;

using XformFunction = void (*)(const PostDrawXform* xform);

// Flags of a transform.
inline constexpr uint32_t kXformDisabled = 0x1;  // a bitmap is missing or the function does nothing
inline constexpr uint32_t kXformEnabled = 0x4;
inline constexpr uint32_t kXformId8to10 = 0x80000000;
inline constexpr uint32_t kXformIdMask = 0xF0000000;
// Rotation codes in bits 28-30: 90 degrees clockwise, 180 degrees, 90
// degrees counter-clockwise.
inline constexpr uint32_t kXformRotateCW = 0x10000000;
inline constexpr uint32_t kXformRotate180 = 0x20000000;
inline constexpr uint32_t kXformRotateCCW = 0x40000000;
inline constexpr uint32_t kXformRotationMask = 0x70000000;
inline constexpr unsigned kXformRotationShift = 28;
// Rectangle words: bit 1 marks pending drawing.
inline constexpr uint32_t kXformRectPending = 0x2;
inline constexpr int32_t kXformNoRect = -1;
inline constexpr unsigned kXformRects = 2;

// Bits the transform sets in the device's drawing bracket.
inline constexpr uint32_t kPreDrawXform = 0x20;
inline constexpr uint32_t kPostDrawXform = 0x40;

void NullXform(const PostDrawXform* xform);

class PostDrawXform {
 public:
  PostDrawXform() : PostDrawXform(nullptr, nullptr, NullXform) {}
  PostDrawXform(DeviceBitmap* source, DeviceBitmap* destination, XformFunction function);

  // Answers whether the destination is missing; the transform stays
  // disabled (flag bit 0) unless both bitmaps exist.
  bool SetXformOperation(DeviceBitmap* source, DeviceBitmap* destination, XformFunction function);
  // Hooks the transform into the device's drawing bracket.
  void Enable(PDEV* pdev);
  void Disable(PDEV* pdev);
  void OnAssert(PDEV*, unsigned) {}

  // The rotation's view of a rectangle, a point and a size of the desktop
  // (w x h): where it lands on the displayed surface.
  void TranslateRect(LRECT* rect, const LSIZE* size) const;
  void TranslatePoint(int32_t* x, int32_t* y, const LSIZE* size) const;
  void TranslateSize(LSIZE* size) const;
  // The rotation code (1, 2, 4; 0 for none).
  uint32_t RotationCode() const { return (flags & kXformRotationMask) >> kXformRotationShift; }

  DeviceBitmap* source;
  DeviceBitmap* destination;
  XformFunction function;
  uint32_t flags;
  int32_t current;  // the rectangle drawing goes to, or kXformNoRect
  uint32_t word;
  LRECT rects[kXformRects];
  uint32_t rectWords[kXformRects];
  uint32_t width;   // of the transformed desktop
  uint32_t height;
};

bool InitPostDrawXform(PDEV* pdev);
bool CreatePostDrawXform(PDEV* pdev);
void CleanupPostDrawXform(PDEV* pdev);

// ---- Command words -------------------------------------------------------------------------
// {0xAFAFDDC0, 0x707, 0, tag | stream bit, tag}.
void XformWriteTagPacket(BmPrimInt* stream, uint32_t tag);
// Texture unit 0 reads the surface (address, mode word m, dimensions word d)
// and the engine draws with one pass-through shader stage.
void XformWriteRenderSetup(BmPrimInt* stream, uint32_t address, uint32_t mode, uint32_t dimensions);
// The three corners of `positions` (top-left, top-right, bottom-left) with
// their texture coordinates for the rotation code.
void DrawTexturedRectangleEx(BmPrimInt* stream, const LRECT& positions, float s0, float t0,
                             float s1, float t1, uint32_t rotation);
// The draw itself: {0x218180DD, 0, 0x1000F, 0}.
void XformWriteDraw(BmPrimInt* stream);
// Cache flush with V; with W other than 0xFFFFFFFF also {0x212121C0, W}.
void SendCacheFlushInv3dNoWrite(BmPrimInt* stream, uint32_t v, uint32_t w);

// ---- What drawing code calls --------------------------------------------------------------------
// Every drawing callback that draws into the device's drawing target hands
// its destination box (right and bottom exclusive) here: while the
// 8-to-10-bit transform is on, the box joins the pending rectangle; else
// nothing happens.
void PostDrawXformAddBox(PDEV* pdev, int32_t left, int32_t top, int32_t right, int32_t bottom);
// The whole desktop is pending (the processor is about to draw).
void PostDrawXformMarkAll(PDEV* pdev);
// The post-draw step: with the 8-to-10-bit transform on, copies the pending
// rectangle into the displayed surface, then nothing is pending. Runs in
// the drawing bracket (or under the command lock).
void PostDrawXformRun(PDEV* pdev);
// Whether anything waits for the post-draw step.
bool PostDrawXformPending(const PDEV* pdev);
// For the X server's block handler, before it sleeps: runs the post-draw
// step, in a drawing bracket, when anything is pending (the processor's
// drawing after a Sync).
void PostDrawXformFlush(PDEV* pdev);
