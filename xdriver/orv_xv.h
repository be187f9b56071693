// The Xv video adaptor: one driver adaptor that shows YUV images through
// the head's overlay scaler ("overlay", one port) or by converting and
// stretching them into the window with the acceleration engine
// ("blitting", five ports), two off-screen image types that drive the
// scaler directly, the colour-control attributes and the registration with
// the server's Xv layer. The drawing itself is the video hardware layer's.
#pragma once

#include <stdint.h>

#include "platform/xserver/region.h"
#include "platform/xserver/xv.h"
#include "xdriver/video_layer.h"

// What an adaptor and its images accept.
inline constexpr int kOrvXvMaxSize = 2048;
// The largest destination the engine can draw a frame into (its pitch and
// height fields).
inline constexpr int kOrvXvMaxDestination = 8192;
inline constexpr int kOrvXvPorts = 5;
inline constexpr int kOrvXvOverlayPorts = 1;
inline constexpr int kOrvXvAttributeMin = -128;
inline constexpr int kOrvXvAttributeMax = 127;
inline constexpr uint32_t kOrvXvTypes = XvInputMask | XvImageMask | XvWindowMask;
inline constexpr int kOrvXvBlitFlags = VIDEO_CLIP_TO_VIEWPORT;
inline constexpr int kOrvXvOverlayFlags = VIDEO_CLIP_TO_VIEWPORT | VIDEO_OVERLAID_IMAGES;
inline constexpr uint32_t kOrvColorKey16 = 0x10021002;
inline constexpr uint32_t kOrvColorKey = 0x00100010;
inline constexpr int kOrvOffscreenImages = 2;

// One port; the five of an adaptor are one allocation followed by the
// five port pointers handed to Xv.
struct ORVPortPrivRec {
  ORVVideoPortPtr video;
  int32_t brightness, contrast, hue, saturation;  // as set through the attributes
  uint32_t colorKey;
  RegionRec clip;  // last painted with the colour key
  // The system-memory frame buffer: its size, processor address, engine
  // address and memory kind (kVideoMem*).
  int32_t systemSize;
  void* systemPtr;
  uint64_t systemBus;
  int32_t systemKind;
  // Video memory: the destination's two halves and the source's (the
  // off-screen image's scaler surface in srcHalf[0]).
  uint32_t dstHalf[2];
  int32_t dstSize;
  uint32_t srcHalf[2];
  int32_t srcSize;
  int16_t lastBox[4];  // the box last programmed into the overlay: x1, y1, x2, y2
  int32_t bufferIndex;
  ScrnInfoPtr screen;
  // Off-screen images: the clip-box records handed to the scaler.
  int32_t boxCapacity;
  ORVVideoBox* boxes;
};
typedef ORVPortPrivRec* ORVPortPrivPtr;

// A destination box in screen coordinates, wider than the server's 16-bit
// boxes while it is being clipped.
struct OrvXvBox {
  int32_t x1, y1, x2, y2;
};

// ---- Set-up and close -------------------------------------------------------------------
// Registers the driver's adaptor (unless the screen cannot show video),
// the off-screen images and the generic adaptors.
void ORVInitXV(ScreenPtr screen);
// Releases every port's buffers and video layer, the adaptor and the
// off-screen records, and the screen's video-layer slot.
void ORVCloseXV(ScrnInfoPtr screen);
// The adaptor with its five ports, or null.
XF86VideoAdaptorPtr ORVSetupImageVideo(ScreenPtr screen, bool blit);
bool ORVInitPortPrivates(ORVPortPrivPtr port, PDEV* device, ScrnInfoPtr screen);
// Frees a port's system buffer and video surfaces (sizes recorded 0).
void ORVFreePortBuffers(ORVPortPrivPtr port);

// ---- Callbacks ------------------------------------------------------------------------------
void ORVStopVideo(ScrnInfoPtr screen, pointer data, Bool exit);
int ORVSetPortAttribute(ScrnInfoPtr screen, Atom attribute, INT32 value, pointer data);
int ORVGetPortAttribute(ScrnInfoPtr screen, Atom attribute, INT32* value, pointer data);
void ORVQueryBestSize(ScrnInfoPtr screen, Bool motion, short vid_w, short vid_h, short drw_w,
                      short drw_h, unsigned int* p_w, unsigned int* p_h, pointer data);
int ORVPutImageOverlay(ScrnInfoPtr screen, short src_x, short src_y, short drw_x, short drw_y,
                       short src_w, short src_h, short drw_w, short drw_h, int id,
                       unsigned char* buf, short width, short height, Bool sync,
                       RegionPtr clipBoxes, pointer data);
int ORVPutImageBlit(ScrnInfoPtr screen, short src_x, short src_y, short drw_x, short drw_y,
                    short src_w, short src_h, short drw_w, short drw_h, int id,
                    unsigned char* buf, short width, short height, Bool sync, RegionPtr clipBoxes,
                    pointer data);
int ORVQueryImageAttributesOverlay(ScrnInfoPtr screen, int id, unsigned short* width,
                                   unsigned short* height, int* pitches, int* offsets);
int ORVQueryImageAttributesBlit(ScrnInfoPtr screen, int id, unsigned short* width,
                                unsigned short* height, int* pitches, int* offsets);

int ORVAllocateSurface(ScrnInfoPtr screen, int id, unsigned short width, unsigned short height,
                       XF86SurfacePtr surface);
int ORVFreeSurface(XF86SurfacePtr surface);
int ORVDisplaySurface(XF86SurfacePtr surface, short src_x, short src_y, short drw_x, short drw_y,
                      short src_w, short src_h, short drw_w, short drw_h, RegionPtr clipBoxes);
int ORVStopSurface(XF86SurfacePtr surface);

// ---- Arithmetic -----------------------------------------------------------------------------
// Pitches, offsets (either may be null) and size of an image of width
// (already aligned) x height.
int ORVQueryImageSize(int id, int width, int height, int* pitches, int* offsets);
// Clips dst to the region's extents and the source span [x1, x2] x [y1, y2]
// (16.16, in and out) to width x height, scaling one into the other; the
// region is cut to dst. False when nothing is visible.
bool ORVClipVideo(ScrnInfoPtr screen, OrvXvBox* dst, int64_t* x1, int64_t* x2, int64_t* y1,
                  int64_t* y2, RegionPtr region, int width, int height);
// The same against one head's viewport `view` (x2, y2 exclusive).
bool ORVClipToViewport(OrvXvBox* dst, int64_t* x1, int64_t* x2, int64_t* y1, int64_t* y2,
                       int width, int height, const OrvXvBox& view);
// The overlay registers of one head for the source span and dst.
void ORVDisplayVideo(ScrnInfoPtr screen, ORVPortPrivPtr port, uint32_t head, int64_t x1,
                     int64_t x2, int64_t y1, int64_t y2, const OrvXvBox& dst, uint32_t width);
