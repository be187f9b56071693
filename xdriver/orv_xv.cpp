// The Xv adaptor's set-up and close, its records, the colour-control
// attributes and the size queries.
#include "xdriver/orv_xv.h"

#include <string.h>

#include "core/client_services.h"
#include "core/regs/overlay.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_rec.h"

namespace {

// ---- The adaptor's records --------------------------------------------------------------
XF86VideoEncodingRec g_encodings[] = {
    {0, "XV_IMAGE", kOrvXvMaxSize, kOrvXvMaxSize, {1, 1}},
};
XF86VideoFormatRec g_formats[] = {
    {16, TrueColor},
    {24, TrueColor},
    {16, DirectColor},
    {24, DirectColor},
};
XF86AttributeRec g_attributes[] = {
    {XvSettable | XvGettable, kOrvXvAttributeMin, kOrvXvAttributeMax, "XV_BRIGHTNESS"},
    {XvSettable | XvGettable, kOrvXvAttributeMin, kOrvXvAttributeMax, "XV_CONTRAST"},
    {XvSettable | XvGettable, kOrvXvAttributeMin, kOrvXvAttributeMax, "XV_HUE"},
    {XvSettable | XvGettable, kOrvXvAttributeMin, kOrvXvAttributeMax, "XV_SATURATION"},
};
XF86ImageRec g_images[] = {XVIMAGE_YUY2, XVIMAGE_YV12, XVIMAGE_I420, XVIMAGE_UYVY};
constexpr int kYuy2Image = 0;
constexpr int kUyvyImage = 3;

// The attribute atoms, made at set-up.
Atom g_brightness, g_contrast, g_hue, g_saturation;

// Overlay filter coefficients (a, b), written as (b << 19) | (a << 3).
struct FilterPair {
  uint32_t a, b;
};
constexpr FilterPair kFilter[32] = {
    {1025, 3},   {1059, 1015}, {44, 1029},  {0, 1025}, {1025, 5}, {1084, 990}, {97, 1035},
    {0, 1025},   {1025, 6},    {1100, 949}, {161, 1043}, {0, 1025}, {1025, 7}, {1109, 894},
    {233, 1052}, {1, 1025},    {1025, 6},   {1112, 827}, {313, 1062}, {1, 1025}, {1025, 6},
    {1110, 750}, {398, 1073},  {2, 1025},   {1025, 5}, {1104, 666}, {487, 1084}, {3, 1025},
    {1025, 4},   {1095, 577},  {577, 1095}, {4, 1025},
};

// Hue: the attribute's -128..127 as a turn of about -pi..pi.
constexpr float kHuePi = 3.1415f;

constexpr int Align32(int v) { return (v + 31) & ~31; }
constexpr int Align64(int v) { return (v + 63) & ~63; }

Atom MakeNamedAtom(const char* name) {
  return MakeAtom(name, static_cast<unsigned>(strlen(name)), TRUE);
}

void WriteHeadReg(ORVRec* rec, uint32_t reg, uint32_t head, uint32_t value) {
  ClientWriteRegisterDword(rec->pBoard, OverlayReg(reg, head), value);
}

// Switches the head's overlay off and loads the scaler's filter, on head 1
// too for a merged desktop.
void ResetOverlay(ORVRec* rec) {
  const uint32_t head = static_cast<uint32_t>(rec->head);
  WriteHeadReg(rec, kRegOverlayControl, head, kOverlayOff);
  WriteHeadReg(rec, kRegOverlayBlendControl, head, 0);
  if (rec->merged) {
    WriteHeadReg(rec, kRegOverlayControl, 1, kOverlayOff);
    WriteHeadReg(rec, kRegOverlayBlendControl, 1, 0);
  }
  WriteHeadReg(rec, kRegOverlayFilterIndex, head, 0);
  if (rec->merged) WriteHeadReg(rec, kRegOverlayFilterIndex, 1, 0);
  for (const FilterPair& f : kFilter) {
    WriteHeadReg(rec, kRegOverlayFilterData, head, OverlayFilterWord(f.a, f.b));
    if (rec->merged) WriteHeadReg(rec, kRegOverlayFilterData, 1, OverlayFilterWord(f.a, f.b));
  }
}

// The two off-screen image types; the server keeps pointing at the records.
XF86OffscreenImagePtr MakeOffscreenImages() {
  auto* images =
      static_cast<XF86OffscreenImagePtr>(xcalloc(kOrvOffscreenImages, sizeof(XF86OffscreenImageRec)));
  if (images == nullptr) return nullptr;
  const int which[kOrvOffscreenImages] = {kYuy2Image, kUyvyImage};
  for (int i = 0; i < kOrvOffscreenImages; ++i) {
    XF86OffscreenImageRec& o = images[i];
    o.image = &g_images[which[i]];
    o.flags = VIDEO_CLIP_TO_VIEWPORT;
    o.alloc_surface = ORVAllocateSurface;
    o.free_surface = ORVFreeSurface;
    o.display = ORVDisplaySurface;
    o.stop = ORVStopSurface;
    o.max_width = kOrvXvMaxSize;
    o.max_height = kOrvXvMaxSize;
    o.num_attributes = 0;
    o.attributes = nullptr;
  }
  return images;
}

// The block of port records: the first port's record starts it.
ORVPortPrivPtr PortsOf(XF86VideoAdaptorPtr adaptor) {
  return static_cast<ORVPortPrivPtr>(adaptor->pPortPrivates[0].ptr);
}

}  // namespace

bool ORVInitPortPrivates(ORVPortPrivPtr port, PDEV* device, ScrnInfoPtr screen) {
  memset(port, 0, sizeof(*port));
  port->colorKey = screen->depth == 16 ? kOrvColorKey16 : kOrvColorKey;
  port->screen = screen;
  ORVVideoInit(device, &port->video);
  if (port->video == nullptr) return false;
  REGION_NULL(screen->pScreen, &port->clip);
  return true;
}

void ORVFreePortBuffers(ORVPortPrivPtr port) {
  if (port->systemPtr != nullptr) {
    ORVVideoFreeSystemMem(port->video, port->systemPtr, port->systemKind);
    port->systemPtr = nullptr;
    port->systemBus = 0;
    port->systemKind = kVideoMemNone;
  }
  port->systemSize = 0;
  ORVVideoFreeLocalSurface(port->video, 0);
  ORVVideoFreeLocalSurface(port->video, 1);
  port->dstSize = 0;
  port->srcSize = 0;
}

XF86VideoAdaptorPtr ORVSetupImageVideo(ScreenPtr pScreen, bool blit) {
  ScrnInfoPtr screen = xf86Screens[pScreen->myNum];
  ORVRec* rec = ORVPTR(screen);
  XF86VideoAdaptorPtr adaptor = xf86XVAllocateVideoAdaptorRec(screen);
  if (adaptor == nullptr) return nullptr;
  // The five port records, then the five port pointers: one block.
  void* block = xcalloc(1, kOrvXvPorts * (sizeof(ORVPortPrivRec) + sizeof(DevUnion)));
  if (block == nullptr) {
    xf86XVFreeVideoAdaptorRec(adaptor);
    return nullptr;
  }
  auto* ports = static_cast<ORVPortPrivPtr>(block);
  auto* pointers = reinterpret_cast<DevUnion*>(ports + kOrvXvPorts);
  for (int i = 0; i < kOrvXvPorts; ++i) {
    if (!ORVInitPortPrivates(&ports[i], rec->pdev, screen)) {
      for (int k = 0; k < i; ++k) {
        REGION_UNINIT(pScreen, &ports[k].clip);
        ORVVideoCleanup(ports[k].video);
      }
      xfree(block);
      xf86XVFreeVideoAdaptorRec(adaptor);
      return nullptr;
    }
    pointers[i].ptr = &ports[i];
  }
  adaptor->type = kOrvXvTypes;
  adaptor->flags = blit ? kOrvXvBlitFlags : kOrvXvOverlayFlags;
  adaptor->name = "Orvane Kestrion";
  adaptor->nEncodings = 1;
  adaptor->pEncodings = g_encodings;
  adaptor->nFormats = static_cast<int>(sizeof g_formats / sizeof g_formats[0]);
  adaptor->pFormats = g_formats;
  adaptor->nPorts = blit ? kOrvXvPorts : kOrvXvOverlayPorts;
  adaptor->pPortPrivates = pointers;
  adaptor->nAttributes = static_cast<int>(sizeof g_attributes / sizeof g_attributes[0]);
  adaptor->pAttributes = g_attributes;
  adaptor->nImages = static_cast<int>(sizeof g_images / sizeof g_images[0]);
  adaptor->pImages = g_images;
  adaptor->PutVideo = nullptr;
  adaptor->PutStill = nullptr;
  adaptor->GetVideo = nullptr;
  adaptor->GetStill = nullptr;
  adaptor->StopVideo = ORVStopVideo;
  adaptor->SetPortAttribute = ORVSetPortAttribute;
  adaptor->GetPortAttribute = ORVGetPortAttribute;
  adaptor->QueryBestSize = ORVQueryBestSize;
  adaptor->PutImage = blit ? ORVPutImageBlit : ORVPutImageOverlay;
  adaptor->ReputImage = nullptr;
  adaptor->QueryImageAttributes = blit ? ORVQueryImageAttributesBlit : ORVQueryImageAttributesOverlay;

  g_brightness = MakeNamedAtom("XV_BRIGHTNESS");
  g_contrast = MakeNamedAtom("XV_CONTRAST");
  g_hue = MakeNamedAtom("XV_HUE");
  g_saturation = MakeNamedAtom("XV_SATURATION");
  rec->xvAdaptor = adaptor;
  return adaptor;
}

void ORVInitXV(ScreenPtr pScreen) {
  ScrnInfoPtr screen = xf86Screens[pScreen->myNum];
  ORVRec* rec = ORVPTR(screen);
  rec->xvVideo = nullptr;

  XF86VideoAdaptorPtr adaptor = nullptr;
  const bool capable = screen->bitsPerPixel != 8 && rec->shadowRotate == 0 &&
                       rec->hwRotate == 0 && rec->busMastering == kBusMasteringKernel;
  if (capable) {
    const bool blit = rec->spanthree || rec->s3i || rec->spanfour || rec->s4i || rec->xfb ||
                      OrvFeatureConfig_IsTvOut(rec->pFeatures);
    xf86DrvMsg(screen->scrnIndex, X_INFO,
               blit ? "Using blitting for video\n" : "Using overlay for video\n");
    adaptor = ORVSetupImageVideo(pScreen, blit);
    if (adaptor != nullptr && !blit) ResetOverlay(rec);
  }

  if (XF86OffscreenImagePtr images = MakeOffscreenImages()) {
    if (xf86XVRegisterOffscreenImages(pScreen, images, kOrvOffscreenImages)) {
      rec->xvOffscreen = images;
    } else {
      xfree(images);
    }
  }

  XF86VideoAdaptorPtr* generic = nullptr;
  const int genericCount = xf86XVListGenericAdaptors(screen, &generic);
  if (adaptor != nullptr && genericCount == 0) {
    xf86XVScreenInit(pScreen, &adaptor, 1);
  } else if (adaptor != nullptr) {
    // The generic adaptors first, the driver's last.
    auto* list = static_cast<XF86VideoAdaptorPtr*>(
        xalloc((genericCount + 1) * sizeof(XF86VideoAdaptorPtr)));
    if (list != nullptr) {
      memcpy(list, generic, genericCount * sizeof(XF86VideoAdaptorPtr));
      list[genericCount] = adaptor;
      xf86XVScreenInit(pScreen, list, genericCount + 1);
      xfree(list);
    }
  } else if (genericCount > 0) {
    xf86XVScreenInit(pScreen, generic, genericCount);
  }
  if (generic != nullptr) xfree(generic);
}

void ORVCloseXV(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec == nullptr) return;
  if (rec->xvVideo != nullptr) {
    ORVVideoCleanup(static_cast<ORVVideoPortPtr>(rec->xvVideo));
    rec->xvVideo = nullptr;
  }
  // Nothing of the ports outlives the screen: each server generation
  // makes them anew.
  if (auto* adaptor = static_cast<XF86VideoAdaptorPtr>(rec->xvAdaptor)) {
    ORVPortPrivPtr ports = PortsOf(adaptor);
    for (int i = 0; i < kOrvXvPorts; ++i) {
      ORVFreePortBuffers(&ports[i]);
      REGION_UNINIT(screen->pScreen, &ports[i].clip);
      ORVVideoCleanup(ports[i].video);
    }
    xfree(ports);
    xf86XVFreeVideoAdaptorRec(adaptor);
    rec->xvAdaptor = nullptr;
  }
  if (rec->xvOffscreen != nullptr) {
    xfree(rec->xvOffscreen);
    rec->xvOffscreen = nullptr;
  }
}

// ---- Attributes and queries ---------------------------------------------------------------

int ORVSetPortAttribute(ScrnInfoPtr, Atom attribute, INT32 value, pointer data) {
  auto* port = static_cast<ORVPortPrivPtr>(data);
  if (value < kOrvXvAttributeMin || value > kOrvXvAttributeMax) return BadValue;
  const float v = static_cast<float>(value);
  if (attribute == g_brightness) {
    port->brightness = value;
    ORVVideoSetBrightness(port->video, v / 256);
  } else if (attribute == g_contrast) {
    port->contrast = value;
    ORVVideoSetContrast(port->video, 1 + v / 128);
  } else if (attribute == g_saturation) {
    port->saturation = value;
    ORVVideoSetSaturation(port->video, 1 + v / 128);
  } else if (attribute == g_hue) {
    port->hue = value;
    ORVVideoSetHue(port->video, v / 128 * kHuePi);
  } else {
    return BadMatch;
  }
  return Success;
}

int ORVGetPortAttribute(ScrnInfoPtr, Atom attribute, INT32* value, pointer data) {
  auto* port = static_cast<ORVPortPrivPtr>(data);
  if (attribute == g_brightness) {
    *value = port->brightness;
  } else if (attribute == g_contrast) {
    *value = port->contrast;
  } else if (attribute == g_saturation) {
    *value = port->saturation;
  } else if (attribute == g_hue) {
    *value = port->hue;
  } else {
    return BadMatch;
  }
  return Success;
}

void ORVQueryBestSize(ScrnInfoPtr, Bool, short, short, short drw_w, short drw_h,
                      unsigned int* p_w, unsigned int* p_h, pointer) {
  // Half the drawable's width, whatever the video's size.
  *p_w = static_cast<unsigned int>(drw_w / 2);
  *p_h = static_cast<unsigned int>(drw_h);
}

int ORVQueryImageSize(int id, int width, int height, int* pitches, int* offsets) {
  const int luma = width * Align64(height);
  if (id == FOURCC_I420 || id == FOURCC_YV12) {
    const int chromaPitch = Align32(width / 2);
    const int chroma = chromaPitch * Align64(height / 2);
    if (pitches != nullptr) {
      pitches[0] = width;
      pitches[1] = pitches[2] = chromaPitch;
    }
    if (offsets != nullptr) {
      offsets[0] = 0;
      offsets[1] = luma;
      offsets[2] = luma + chroma;
    }
    return luma + 2 * chroma;
  }
  if (pitches != nullptr) pitches[0] = 2 * width;
  if (offsets != nullptr) offsets[0] = 0;
  return 2 * luma;
}

int ORVQueryImageAttributesOverlay(ScrnInfoPtr, int id, unsigned short* width,
                                   unsigned short* height, int* pitches, int* offsets) {
  if (*width > kOrvXvMaxSize) *width = kOrvXvMaxSize;
  if (*height > kOrvXvMaxSize) *height = kOrvXvMaxSize;
  return ORVQueryImageSize(id, Align32(*width), *height, pitches, offsets);
}

int ORVQueryImageAttributesBlit(ScrnInfoPtr screen, int id, unsigned short* width,
                                unsigned short* height, int* pitches, int* offsets) {
  return ORVQueryImageAttributesOverlay(screen, id, width, height, pitches, offsets);
}
