// The Xv requests that reach an adaptor, decoded from the wire as the
// server's dispatcher does: the public request layouts in the client's
// byte order, the length checks, the port, drawable, atom and image
// look-ups, then the adaptor's callback; replies in the client's byte
// order. PutImage goes through the layer's clipping (the window's clip
// list, the viewport) as the server's does, and nothing else: every
// coordinate and size reaches the driver as the client sent it.
#include <string.h>

#include <algorithm>
#include <memory>

#include "platform/xserver/xv_state.h"

using namespace xstub::detail;

namespace xstub {
namespace {

constexpr int kBadImplementation = 17;
constexpr uint8_t kReply = 1;
constexpr size_t kReplySize = 32;

// Request sizes (bytes) as the protocol lays them out.
constexpr size_t kStopVideoSize = 12;
constexpr size_t kQueryBestSizeSize = 20;
constexpr size_t kSetPortAttributeSize = 16;
constexpr size_t kGetPortAttributeSize = 12;
constexpr size_t kQueryImageAttributesSize = 16;
constexpr size_t kPutImageSize = 40;  // the image data follows

// Multi-byte fields in the client's byte order (the server is little-endian).
class Wire {
 public:
  Wire(const uint8_t* bytes, bool swapped) : b_(bytes), swapped_(swapped) {}
  uint8_t U8(size_t at) const { return b_[at]; }
  uint16_t U16(size_t at) const {
    uint16_t v;
    memcpy(&v, b_ + at, 2);
    return swapped_ ? __builtin_bswap16(v) : v;
  }
  uint32_t U32(size_t at) const {
    uint32_t v;
    memcpy(&v, b_ + at, 4);
    return swapped_ ? __builtin_bswap32(v) : v;
  }
  int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }

 private:
  const uint8_t* b_;
  bool swapped_;
};

class Reply {
 public:
  Reply(bool swapped, uint16_t sequence, size_t extraWords) : swapped_(swapped) {
    bytes_.assign(kReplySize + extraWords * 4, 0);
    bytes_[0] = kReply;
    Put16(2, sequence);
    Put32(4, static_cast<uint32_t>(extraWords));
  }
  void Put16(size_t at, uint16_t v) {
    if (swapped_) v = __builtin_bswap16(v);
    memcpy(&bytes_[at], &v, 2);
  }
  void Put32(size_t at, uint32_t v) {
    if (swapped_) v = __builtin_bswap32(v);
    memcpy(&bytes_[at], &v, 4);
  }
  XvAnswer Answer() { return XvAnswer{Success, 0, std::move(bytes_)}; }

 private:
  bool swapped_;
  std::vector<uint8_t> bytes_;
};

XvAnswer Error(int code, uint32_t value) { return XvAnswer{code, value, {}}; }

struct PortRef {
  XvPort* port = nullptr;
  XvAdaptor* adaptor = nullptr;
  XvScreenState* screen = nullptr;
  ScrnInfoPtr info = nullptr;
};

PortRef LookupPort(XvState& xv, XID id) {
  PortRef r;
  r.port = xv.FindPort(id, &r.adaptor, &r.screen);
  if (r.port != nullptr) {
    const int index = r.screen->screen->myNum;
    r.info = index >= 0 && index < xf86NumScreens ? xf86Screens[index] : nullptr;
    if (r.info == nullptr) r.port = nullptr;
  }
  return r;
}

const XF86ImageRec* FindImage(const XvAdaptor& a, uint32_t id) {
  for (const XF86ImageRec& image : a.images)
    if (static_cast<uint32_t>(image.id) == id) return &image;
  return nullptr;
}

XvAnswer QueryBestSize(XvState& xv, const Wire& w, bool swapped) {
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  if (r.adaptor->rec.QueryBestSize == nullptr) return Error(kBadImplementation, 0);
  unsigned int width = 0, height = 0;
  r.adaptor->rec.QueryBestSize(r.info, w.U8(16) != 0 ? TRUE : FALSE,
                               static_cast<short>(w.U16(8)), static_cast<short>(w.U16(10)),
                               static_cast<short>(w.U16(12)), static_cast<short>(w.U16(14)),
                               &width, &height, r.port->data);
  Reply reply(swapped, xv.sequence, 0);
  reply.Put16(8, static_cast<uint16_t>(width));
  reply.Put16(10, static_cast<uint16_t>(height));
  return reply.Answer();
}

XvAnswer SetPortAttribute(XvState& xv, const Wire& w) {
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  const Atom attribute = w.U32(8);
  const int32_t value = w.I32(12);
  if (!ValidAtom(attribute)) return Error(BadAtom, attribute);
  if (r.adaptor->rec.SetPortAttribute == nullptr) return Error(BadMatch, attribute);
  const int status = r.adaptor->rec.SetPortAttribute(r.info, attribute, value, r.port->data);
  if (status == Success) return XvAnswer{};
  return Error(status, status == BadMatch ? attribute : static_cast<uint32_t>(value));
}

XvAnswer GetPortAttribute(XvState& xv, const Wire& w, bool swapped) {
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  const Atom attribute = w.U32(8);
  if (!ValidAtom(attribute)) return Error(BadAtom, attribute);
  if (r.adaptor->rec.GetPortAttribute == nullptr) return Error(BadMatch, attribute);
  INT32 value = 0;
  const int status = r.adaptor->rec.GetPortAttribute(r.info, attribute, &value, r.port->data);
  if (status != Success) return Error(status, attribute);
  Reply reply(swapped, xv.sequence, 0);
  reply.Put32(8, static_cast<uint32_t>(value));
  return reply.Answer();
}

XvAnswer QueryImageAttributes(XvState& xv, const Wire& w, bool swapped) {
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  const XF86ImageRec* image = FindImage(*r.adaptor, w.U32(8));
  if (image == nullptr) return Error(BadMatch, w.U32(8));
  if (r.adaptor->rec.QueryImageAttributes == nullptr) return Error(kBadImplementation, 0);
  const size_t planes = static_cast<size_t>(std::max(0, image->num_planes));
  // Exactly as many entries as the image has planes, as the server gives.
  std::unique_ptr<int[]> pitches(new int[planes]());
  std::unique_ptr<int[]> offsets(new int[planes]());
  unsigned short width = w.U16(12), height = w.U16(14);
  const int size = r.adaptor->rec.QueryImageAttributes(r.info, image->id, &width, &height,
                                                       pitches.get(), offsets.get());
  Reply reply(swapped, xv.sequence, planes * 2);
  reply.Put32(8, static_cast<uint32_t>(planes));
  reply.Put32(12, static_cast<uint32_t>(size));
  reply.Put16(16, width);
  reply.Put16(18, height);
  for (size_t i = 0; i < planes; ++i) {
    reply.Put32(kReplySize + 4 * i, static_cast<uint32_t>(pitches[i]));
    reply.Put32(kReplySize + 4 * (planes + i), static_cast<uint32_t>(offsets[i]));
  }
  return reply.Answer();
}

// The window's clip list in screen coordinates: its own list, or its
// rectangle cut to the screen.
void WindowClip(const XvWindow& win, ScreenPtr screen, RegionPtr out) {
  if (!win.clip.empty()) {
    miRegionInit(out, nullptr, 0);
    miRegionFromBoxes(out, win.clip.data(), static_cast<int>(win.clip.size()));
    return;
  }
  BoxRec box{std::max<short>(win.x, 0), std::max<short>(win.y, 0),
             static_cast<short>(std::min<int>(win.x + win.width, screen->width)),
             static_cast<short>(std::min<int>(win.y + win.height, screen->height))};
  miRegionInit(out, &box, 0);
}

XvAnswer PutImage(XvState& xv, const Wire& w, const uint8_t* request, size_t size) {
  const XID drawable = w.U32(8);
  const XvWindow* win = xv.FindWindow(drawable);
  if (win == nullptr) return Error(BadDrawable, drawable);
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  const XF86VideoAdaptorRec& a = r.adaptor->rec;
  if ((a.type & XvImageMask) == 0 || (a.type & XvInputMask) == 0) return Error(BadMatch, w.U32(4));
  if (win->screen != r.info->scrnIndex) return Error(BadMatch, drawable);
  const uint32_t id = w.U32(16);
  const XF86ImageRec* image = FindImage(*r.adaptor, id);
  if (image == nullptr) return Error(BadMatch, id);
  if (a.QueryImageAttributes == nullptr || a.PutImage == nullptr)
    return Error(kBadImplementation, 0);

  // The data must cover what the adaptor says an image of this size takes.
  unsigned short qw = w.U16(36), qh = w.U16(38);
  const int64_t bytes = a.QueryImageAttributes(r.info, image->id, &qw, &qh, nullptr, nullptr);
  const int64_t needed = (std::max<int64_t>(bytes, 0) + kPutImageSize + 3) / 4;
  if (static_cast<int64_t>(size / 4) < needed) return Error(BadLength, 0);

  if (!r.info->vtSema) return XvAnswer{};
  const short drw_x = w.I16(28), drw_y = w.I16(30);
  const unsigned short drw_w = w.U16(32), drw_h = w.U16(34);
  // The drawable's box on the screen, in the server's 16-bit box fields.
  BoxRec winBox;
  winBox.x1 = static_cast<short>(win->x + drw_x);
  winBox.y1 = static_cast<short>(win->y + drw_y);
  winBox.x2 = static_cast<short>(winBox.x1 + drw_w);
  winBox.y2 = static_cast<short>(winBox.y1 + drw_h);
  RegionRec winRegion, windowClip, clip;
  miRegionInit(&winRegion, &winBox, 1);
  WindowClip(*win, r.screen->screen, &windowClip);
  miRegionInit(&clip, nullptr, 0);
  miIntersect(&clip, &winRegion, &windowClip);
  if (a.flags & VIDEO_CLIP_TO_VIEWPORT) {
    BoxRec view{static_cast<short>(r.info->frameX0), static_cast<short>(r.info->frameY0),
                static_cast<short>(r.info->frameX1 + 1), static_cast<short>(r.info->frameY1 + 1)};
    RegionRec viewRegion;
    miRegionInit(&viewRegion, &view, 1);
    miIntersect(&clip, &clip, &viewRegion);
    miRegionUninit(&viewRegion);
  }

  int status = Success;
  const bool clippedAway = !miRegionNotEmpty(&clip);
  if (!clippedAway) {
    status = a.PutImage(r.info, w.I16(20), w.I16(22), winBox.x1, winBox.y1,
                        static_cast<short>(w.U16(24)), static_cast<short>(w.U16(26)),
                        static_cast<short>(drw_w), static_cast<short>(drw_h), image->id,
                        const_cast<uint8_t*>(request + kPutImageSize),
                        static_cast<short>(w.U16(36)), static_cast<short>(w.U16(38)), FALSE,
                        &clip, r.port->data);
    if (status == Success && (a.flags & VIDEO_OVERLAID_IMAGES)) {
      r.port->status = XvPortStatus::kOn;
      r.port->drawable = drawable;
    }
  }
  // A port whose image is clipped away or refused stops showing it.
  if ((clippedAway || status != Success) && r.port->status == XvPortStatus::kOn &&
      a.StopVideo != nullptr) {
    a.StopVideo(r.info, r.port->data, FALSE);
    r.port->status = XvPortStatus::kPending;
  }
  miRegionUninit(&clip);
  miRegionUninit(&windowClip);
  miRegionUninit(&winRegion);
  return status == Success ? XvAnswer{} : Error(status, 0);
}

XvAnswer StopVideo(XvState& xv, const Wire& w) {
  PortRef r = LookupPort(xv, w.U32(4));
  if (r.port == nullptr) return Error(kXvBadPort, w.U32(4));
  const XID drawable = w.U32(8);
  if (xv.FindWindow(drawable) == nullptr) return Error(BadDrawable, drawable);
  if (r.port->drawable != drawable || !r.info->vtSema) return XvAnswer{};
  if (r.port->status != XvPortStatus::kOff && r.adaptor->rec.StopVideo != nullptr) {
    r.adaptor->rec.StopVideo(r.info, r.port->data, TRUE);
    r.port->status = XvPortStatus::kOff;
  }
  return XvAnswer{};
}

}  // namespace

XvAnswer XvRequest(const uint8_t* request, size_t size, bool swapped) {
  XvState* xv = CurrentXv();
  if (xv == nullptr || request == nullptr) return Error(BadRequest, 0);
  ++xv->sequence;
  if (size < 4) return Error(BadLength, 0);
  const Wire w(request, swapped);
  if (static_cast<size_t>(w.U16(2)) * 4 != size) return Error(BadLength, 0);
  auto exactly = [size](size_t expected) { return size == expected; };
  switch (request[1]) {
    case kXvQueryBestSize:
      return exactly(kQueryBestSizeSize) ? QueryBestSize(*xv, w, swapped) : Error(BadLength, 0);
    case kXvSetPortAttribute:
      return exactly(kSetPortAttributeSize) ? SetPortAttribute(*xv, w) : Error(BadLength, 0);
    case kXvGetPortAttribute:
      return exactly(kGetPortAttributeSize) ? GetPortAttribute(*xv, w, swapped)
                                            : Error(BadLength, 0);
    case kXvQueryImageAttributes:
      return exactly(kQueryImageAttributesSize) ? QueryImageAttributes(*xv, w, swapped)
                                                : Error(BadLength, 0);
    case kXvPutImage:
      return size >= kPutImageSize ? PutImage(*xv, w, request, size) : Error(BadLength, 0);
    case kXvStopVideo:
      return exactly(kStopVideoSize) ? StopVideo(*xv, w) : Error(BadLength, 0);
    default:
      return Error(BadRequest, 0);
  }
}

}  // namespace xstub
