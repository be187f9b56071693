// The server's video extension layer (Xv) as a driver sees it: the adaptor,
// encoding, format, attribute and image records a driver fills, the
// off-screen image and surface records, registering adaptors and
// off-screen images for a screen, the generic adaptors other modules
// offer, the colour-key helper, atoms and the standard image definitions.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in
// (platform/xserver/xv.cpp, atoms.cpp); the requests of Xv clients reach a
// driver's adaptors through xv_requests.h. The layout is the stand-in's own;
// the names, the flag bits and the callbacks' arguments are the Xv layer's.
#pragma once

#include "platform/xserver/dix.h"
#include "platform/xserver/region.h"
#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Protocol status codes beside the request side's (dix.h) ------------------------------
#define BadAtom 5
#define BadDrawable 9

// ---- Atoms ---------------------------------------------------------------------------------
typedef XID Atom;
// The atom of a name: an existing one of the same name, else a new one when
// `makeit` is true, else 0.
Atom MakeAtom(const char* name, unsigned len, Bool makeit);
// The name of an atom, or null.
const char* NameForAtom(Atom atom);
Bool ValidAtom(Atom atom);

// ---- Adaptor records ----------------------------------------------------------------------
// Adaptor types.
#define XvInputMask 0x00000001
#define XvOutputMask 0x00000002
#define XvVideoMask 0x00000004
#define XvStillMask 0x00000008
#define XvImageMask 0x00000010
#define XvPixmapMask 0x00010000
#define XvWindowMask 0x00020000

// Adaptor flags.
#define VIDEO_NO_CLIPPING 0x00000001
#define VIDEO_INVERT_CLIPLIST 0x00000002
#define VIDEO_OVERLAID_IMAGES 0x00000004  // the port stays on over frames (colour key)
#define VIDEO_OVERLAID_STILLS 0x00000008
#define VIDEO_CLIP_TO_VIEWPORT 0x00000010  // the clip list is cut to the screen's viewport

// Attribute flags.
#define XvGettable 0x01
#define XvSettable 0x02

// Image record fields.
#define XvRGB 0
#define XvYUV 1
#define XvPacked 0
#define XvPlanar 1
#define XvTopToBottom 0
#define XvBottomToTop 1
#define LSBFirst 0
#define MSBFirst 1

typedef struct {
  int numerator;
  int denominator;
} XvRationalRec;

typedef struct {
  int id;
  const char* name;
  unsigned short width, height;
  XvRationalRec rate;
} XF86VideoEncodingRec, *XF86VideoEncodingPtr;

typedef struct {
  char depth;
  short c_class;  // visual class
} XF86VideoFormatRec, *XF86VideoFormatPtr;

typedef struct {
  int flags;  // XvGettable | XvSettable
  int min_value;
  int max_value;
  const char* name;
} XF86AttributeRec, *XF86AttributePtr;

typedef struct {
  int id;  // the FOURCC
  int type;
  int byte_order;
  unsigned char guid[16];
  int bits_per_pixel;
  int format;  // XvPacked or XvPlanar
  int num_planes;
  // RGB formats only.
  int depth;
  unsigned int red_mask, green_mask, blue_mask;
  // YUV formats only.
  unsigned int y_sample_bits, u_sample_bits, v_sample_bits;
  unsigned int horz_y_period, horz_u_period, horz_v_period;
  unsigned int vert_y_period, vert_u_period, vert_v_period;
  char component_order[32];
  int scanline_order;
} XF86ImageRec, *XF86ImagePtr;

typedef int (*PutVideoFuncPtr)(ScrnInfoPtr screen, short vid_x, short vid_y, short drw_x,
                               short drw_y, short vid_w, short vid_h, short drw_w, short drw_h,
                               RegionPtr clipBoxes, pointer data);
typedef int (*PutImageFuncPtr)(ScrnInfoPtr screen, short src_x, short src_y, short drw_x,
                               short drw_y, short src_w, short src_h, short drw_w, short drw_h,
                               int image, unsigned char* buf, short width, short height,
                               Bool sync, RegionPtr clipBoxes, pointer data);
typedef void (*StopVideoFuncPtr)(ScrnInfoPtr screen, pointer data, Bool exit);
typedef int (*SetPortAttributeFuncPtr)(ScrnInfoPtr screen, Atom attribute, INT32 value,
                                       pointer data);
typedef int (*GetPortAttributeFuncPtr)(ScrnInfoPtr screen, Atom attribute, INT32* value,
                                       pointer data);
typedef void (*QueryBestSizeFuncPtr)(ScrnInfoPtr screen, Bool motion, short vid_w, short vid_h,
                                     short drw_w, short drw_h, unsigned int* p_w,
                                     unsigned int* p_h, pointer data);
typedef int (*ReputImageFuncPtr)(ScrnInfoPtr screen, short drw_x, short drw_y,
                                 RegionPtr clipBoxes, pointer data);
typedef int (*QueryImageAttributesFuncPtr)(ScrnInfoPtr screen, int image, unsigned short* width,
                                           unsigned short* height, int* pitches, int* offsets);

typedef struct {
  unsigned int type;  // Xv*Mask
  int flags;          // VIDEO_*
  const char* name;
  int nEncodings;
  XF86VideoEncodingPtr pEncodings;
  int nFormats;
  XF86VideoFormatPtr pFormats;
  int nPorts;
  DevUnion* pPortPrivates;  // handed back to the callbacks as `data`
  int nAttributes;
  XF86AttributePtr pAttributes;
  int nImages;
  XF86ImagePtr pImages;
  PutVideoFuncPtr PutVideo;
  PutVideoFuncPtr PutStill;
  PutVideoFuncPtr GetVideo;
  PutVideoFuncPtr GetStill;
  StopVideoFuncPtr StopVideo;
  SetPortAttributeFuncPtr SetPortAttribute;
  GetPortAttributeFuncPtr GetPortAttribute;
  QueryBestSizeFuncPtr QueryBestSize;
  PutImageFuncPtr PutImage;
  ReputImageFuncPtr ReputImage;
  QueryImageAttributesFuncPtr QueryImageAttributes;
} XF86VideoAdaptorRec, *XF86VideoAdaptorPtr;

// ---- Off-screen images and surfaces --------------------------------------------------------
typedef struct {
  ScrnInfoPtr pScrn;
  int id;
  unsigned short width, height;
  int* pitches;  // bytes
  int* offsets;  // bytes from the start of the frame buffer
  DevUnion devPrivate;
} XF86SurfaceRec, *XF86SurfacePtr;

typedef struct {
  XF86ImagePtr image;
  int flags;
  int (*alloc_surface)(ScrnInfoPtr screen, int id, unsigned short width, unsigned short height,
                       XF86SurfacePtr surface);
  int (*free_surface)(XF86SurfacePtr surface);
  int (*display)(XF86SurfacePtr surface, short vid_x, short vid_y, short drw_x, short drw_y,
                 short vid_w, short vid_h, short drw_w, short drw_h, RegionPtr clipBoxes);
  int (*stop)(XF86SurfacePtr surface);
  int (*getAttribute)(ScrnInfoPtr screen, Atom attribute, INT32* value);
  int (*setAttribute)(ScrnInfoPtr screen, Atom attribute, INT32 value);
  int max_width;
  int max_height;
  int num_attributes;
  XF86AttributePtr attributes;
} XF86OffscreenImageRec, *XF86OffscreenImagePtr;

// ---- The layer's services ---------------------------------------------------------------
// A zeroed adaptor record from the allocator (null when it fails).
XF86VideoAdaptorPtr xf86XVAllocateVideoAdaptorRec(ScrnInfoPtr screen);
void xf86XVFreeVideoAdaptorRec(XF86VideoAdaptorPtr adaptor);
// Registers the adaptors of a screen (once per screen and server
// generation); the layer copies what it needs, the driver keeps its records
// and port privates. False when a screen registers twice.
Bool xf86XVScreenInit(ScreenPtr screen, XF86VideoAdaptorPtr* adaptors, int num);
// The adaptors other modules offer for the screen: a list from the
// allocator the caller frees (the adaptors stay theirs); answers how many.
int xf86XVListGenericAdaptors(ScrnInfoPtr screen, XF86VideoAdaptorPtr** adaptors);
// Registers the off-screen image types of a screen. The layer keeps
// pointing at the driver's records: they must live until the screen closes.
Bool xf86XVRegisterOffscreenImages(ScreenPtr screen, XF86OffscreenImagePtr images, int num);
// Paints the region's boxes with the colour key through the framebuffer
// layer.
void xf86XVFillKeyHelper(ScreenPtr screen, CARD32 key, RegionPtr clipBoxes);

// ---- The standard image definitions -------------------------------------------------------
#define FOURCC_YUY2 0x32595559
#define FOURCC_YV12 0x32315659
#define FOURCC_I420 0x30323449
#define FOURCC_UYVY 0x59565955

// The GUID of a FOURCC: its four characters, then the common tail.
#define XV_FOURCC_GUID(a, b, c, d) \
  {a, b, c, d, 0x00, 0x00, 0x00, 0x10, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}

#define XVIMAGE_YUY2                                                                       \
  {FOURCC_YUY2, XvYUV, LSBFirst, XV_FOURCC_GUID('Y', 'U', 'Y', '2'), 16, XvPacked, 1, 0, 0, 0, \
   0, 8, 8, 8, 1, 2, 2, 1, 1, 1, {'Y', 'U', 'Y', 'V'}, XvTopToBottom}
#define XVIMAGE_YV12                                                                       \
  {FOURCC_YV12, XvYUV, LSBFirst, XV_FOURCC_GUID('Y', 'V', '1', '2'), 12, XvPlanar, 3, 0, 0, 0, \
   0, 8, 8, 8, 1, 2, 2, 1, 2, 2, {'Y', 'V', 'U'}, XvTopToBottom}
#define XVIMAGE_I420                                                                       \
  {FOURCC_I420, XvYUV, LSBFirst, XV_FOURCC_GUID('I', '4', '2', '0'), 12, XvPlanar, 3, 0, 0, 0, \
   0, 8, 8, 8, 1, 2, 2, 1, 2, 2, {'Y', 'U', 'V'}, XvTopToBottom}
#define XVIMAGE_UYVY                                                                       \
  {FOURCC_UYVY, XvYUV, LSBFirst, XV_FOURCC_GUID('U', 'Y', 'V', 'Y'), 16, XvPacked, 1, 0, 0, 0, \
   0, 8, 8, 8, 1, 2, 2, 1, 1, 1, {'U', 'Y', 'V', 'Y'}, XvTopToBottom}

#ifdef __cplusplus
}  // extern "C"
#endif
