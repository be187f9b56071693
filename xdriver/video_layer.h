// The video hardware layer under the Xv adaptor: per port, the colour
// controls and the YCbCr-to-RGB conversion built from them (video_colour.cpp);
// drawing one
// frame through the texture engine (planar or packed YCbCr, the conversion
// in three combiner stages, the scaling by texture coordinates) into the
// frame buffer or the overlay's buffer; copies from system memory into
// video memory; the port's video surfaces; and the overlay's scaler with
// its VSync interrupt.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/regs/engine3d.h"
#include "xdriver/matrix.h"

class BmXformInt;
class PDEV;
class Surface2d;

// FOURCC codes of the images the layer draws.
inline constexpr uint32_t kFourccYUY2 = 0x32595559;  // packed 4:2:2, Y U Y V
inline constexpr uint32_t kFourccUYVY = 0x59565955;  // packed 4:2:2, U Y V Y
inline constexpr uint32_t kFourccYV12 = 0x32315659;  // planar 4:2:0, Y V U
inline constexpr uint32_t kFourccI420 = 0x30323449;  // planar 4:2:0, Y U V

inline constexpr bool VideoIsPlanar(uint32_t fourcc) {
  return fourcc == kFourccYV12 || fourcc == kFourccI420;
}

// Post kinds of a frame: drawn into the frame buffer and started with the
// primary buffer (-1), or handed to the kernel module as a video buffer.
inline constexpr int32_t kVideoPostPrimary = -1;

// System memory kinds ORVVideoAllocSystemMem answers.
inline constexpr int32_t kVideoMemNone = 0;
inline constexpr int32_t kVideoMemPciLocked = 1;
inline constexpr int32_t kVideoMemAgp = 2;
// ORVVideoAllocSystemMem counts pages of this many bytes.
inline constexpr uint32_t kVideoPageBytes = 4000;

// One combiner stage in the shader's layout: the flags (bit 0 writes the
// option pair to its registers, bits 1-2 the four constants), control,
// second word, option pair and constants (two 11-bit two's-complement
// fields each, 1.0 = 1024).
struct VideoStage {
  uint8_t flags = 0;
  uint32_t control = kDefaultControl;
  uint32_t second = kDefaultSecond;
  uint32_t option[2] = {0, 0};
  uint32_t constants[4] = {0, 0, 0, 0};

  static constexpr uint32_t kDefaultControl = 128;
  static constexpr uint32_t kDefaultSecond = k3dStageSecondDefault;
};

inline constexpr unsigned kVideoStageRecords = 6;
inline constexpr unsigned kVideoStagesUsed = 3;

// A port's state.
struct ORVVideoPortRec : OsHeapObject {
  PDEV* device = nullptr;
  Matrix combined;
  Vector offset;
  Vector brightness;
  Matrix contrast;
  Matrix saturation;
  Matrix hue;
  Matrix conversion;
  VideoStage stages[kVideoStageRecords];
  uint32_t stageCount = 0;
  uint8_t dirty = 1;
  Surface2d* surfaces[2] = {nullptr, nullptr};
  uint32_t tags[2] = {0, 0};
  uint32_t lastFourcc = 0;
  BmXformInt* scalerInterface = nullptr;
  uint32_t vsyncState = 0;
  // The scaler surface's processor address was locked through its host
  // aperture (memory types 0, 1, 7): it is unlocked when the surface goes.
  uint8_t scalerLocked = 0;
};
typedef ORVVideoPortRec* ORVVideoPortPtr;

// One rectangle the overlay's scaler copies from the frame just drawn.
struct ORVVideoBox {
  int32_t x, y;       // destination
  int32_t srcX, srcY; // in the frame
  int32_t width, height;
};

// ---- Port state -------------------------------------------------------------------------
// The port state of the device: identity controls, the BT.601 conversion,
// dirty; null in *port when memory is short.
void ORVVideoInit(PDEV* device, ORVVideoPortPtr* port);
void ORVVideoCleanup(ORVVideoPortPtr port);

// ---- Colour conversion (video_colour.cpp) -----------------------------------------------
// The BT.601 conversion with neutral brightness; the stages are rebuilt.
void ORVVideoResetColour(ORVVideoPortPtr port);
void ORVVideoSetBrightness(ORVVideoPortPtr port, float value);
void ORVVideoSetContrast(ORVVideoPortPtr port, float value);
void ORVVideoSetSaturation(ORVVideoPortPtr port, float value);
void ORVVideoSetHue(ORVVideoPortPtr port, float radians);
void ORVVideoInvalidate(ORVVideoPortPtr port);
// The three combiner stages of the image kind from the colour controls;
// the port is clean after it.
void ORVVideoBuildStages(ORVVideoPortPtr port, uint32_t fourcc);

// ---- Memory -------------------------------------------------------------------------------
// System memory for `bytes`, in pages of kVideoPageBytes: AGP pages first,
// else page-locked PCI pages. Answers the kind (kVideoMem*), the processor
// address and the address the engine reads; 0 when neither can be had.
int32_t ORVVideoAllocSystemMem(ORVVideoPortPtr port, uint32_t bytes, void** address,
                               uint64_t* busAddress);
void ORVVideoFreeSystemMem(ORVVideoPortPtr port, void* address, int32_t kind);
// A plain surface of `bytes` in video memory in slot 0 or 1; answers its
// address word, 0 when it cannot be placed.
uint32_t ORVVideoAllocLocalSurface(ORVVideoPortPtr port, uint32_t bytes, uint32_t slot);
// A surface of width x height pixels (16 or 32 bits per pixel) in the slot;
// answers its address word, 0 when it cannot be placed.
uint32_t ORVVideoAllocLocalSurfaceByDim(ORVVideoPortPtr port, uint32_t width, uint32_t height,
                                        uint32_t bitsPerPixel, uint32_t slot);
void ORVVideoFreeLocalSurface(ORVVideoPortPtr port, uint32_t slot);

// ---- Drawing ------------------------------------------------------------------------------
// Waits until the engine has passed the tag of buffer `index` (at once when
// it has none); false, logged, when the wait gave up.
[[nodiscard]] bool ORVVideoWait(ORVVideoPortPtr port, uint32_t index);
// Waits (bounded) for both frames the port posted; false when either did
// not end, and the engine may still use the port's memory.
[[nodiscard]] bool ORVVideoFramesDone(ORVVideoPortPtr port);
// One frame: the source planes (y, then p1 and p2, the chroma planes of a
// planar image) of srcW x srcH drawn onto dstW x dstH at `dst` in the
// destination format; the buffer's tag is kept for ORVVideoWait. Post kind
// kVideoPostPrimary starts the primary buffer, any other hands it to the
// kernel module as a video buffer of buffer `index`.
void ORVVideoDisplay(ORVVideoPortPtr port, uint32_t fourcc, uint32_t y, uint32_t p1, uint32_t p2,
                     uint32_t srcW, uint32_t srcH, uint32_t dst, uint32_t index, int32_t kind,
                     uint32_t dstW, uint32_t dstH, uint32_t dstFormat);
// Copies a plane (or a packed image) of width x height from system memory
// at srcBus into video memory at dstOffset; posted.
void ORVVideoSystem2Local(ORVVideoPortPtr port, uint32_t fourcc, uint64_t srcBus,
                          uint32_t dstOffset, uint32_t width, uint32_t height,
                          int32_t memoryKind);
// Copies a rectangle between two surfaces of the same format; posted.
void ORVVideoBlit(ORVVideoPortPtr port, uint32_t dstOffset, uint32_t dstPitch, uint32_t format,
                  int32_t dstX, int32_t dstY, uint32_t srcOffset, uint32_t srcPitch,
                  int32_t srcX, int32_t srcY, int32_t width, int32_t height);

// ---- The overlay's scaler -----------------------------------------------------------------
// The scaler's source surface of width x height in the slot with its
// transform interface; answers its address word (0 on failure, nothing
// left made), its processor address and its host pitch in bytes.
uint32_t ORVVideoAllocHWScalerSurface(ORVVideoPortPtr port, uint32_t fourcc, uint32_t width,
                                      uint32_t height, uint32_t slot, void** address,
                                      uint32_t* pitch);
void ORVVideoFreeHWScalerSurface(ORVVideoPortPtr port, uint32_t slot);
// Draws the frame into `dst` through the scaler's transform interface and
// copies the boxes into the target; the kernel module runs it at every
// vertical sync once the VSync interrupt is on.
void ORVVideoHWScalerDisplay(ORVVideoPortPtr port, uint32_t fourcc, uint32_t y, uint32_t p1,
                             uint32_t p2, uint32_t srcW, uint32_t srcH, uint32_t dst,
                             uint32_t index, int32_t kind, uint32_t dstW, uint32_t dstH,
                             uint32_t dstFormat, uint32_t target, uint32_t targetPitch,
                             uint32_t boxCount, const ORVVideoBox* boxes);
// Switches the VSync interrupt off and waits for the engine.
void ORVVideoStopHWScaler(ORVVideoPortPtr port, uint32_t index);
// Switches the overlay's VSync interrupt on (1) or off (0): 1 when the
// state is granted or already was, 0 without a scaler interface or when
// the kernel module refused.
uint32_t ORVVideoSetVSyncInterrupt(ORVVideoPortPtr port, uint32_t state);
