// The video extension layer's services: adaptor records, registering a
// screen's adaptors (the layer keeps copies, as the server does) and
// off-screen images (it keeps the driver's records, as the server does), generic adaptors, the colour-key helper, and the test's
// view of what was registered.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "platform/xserver/xaa.h"
#include "platform/xserver/xv_state.h"

namespace xstub::detail {

XvState* CurrentXv() {
  ServerState* s = CurrentServer();
  if (s == nullptr) return nullptr;
  if (!s->xv) s->xv = std::make_unique<XvState>();
  return s->xv.get();
}

namespace {

Bool XvCloseScreen(int scrnIndex, ScreenPtr screen);

}  // namespace

XvScreenState* XvState::Find(ScreenPtr screen) {
  for (auto& s : screens)
    if (s->screen == screen) return s.get();
  return nullptr;
}

XvScreenState& XvState::Screen(ScreenPtr screen) {
  if (XvScreenState* found = Find(screen)) return *found;
  screens.push_back(std::make_unique<XvScreenState>());
  XvScreenState& s = *screens.back();
  s.screen = screen;
  return s;
}

void XvState::Forget(ScreenPtr screen) {
  std::erase_if(screens, [screen](const auto& s) { return s->screen == screen; });
}

XvPort* XvState::FindPort(XID id, XvAdaptor** adaptor, XvScreenState** screen) {
  for (auto& s : screens) {
    for (auto& a : s->adaptors) {
      for (XvPort& p : a->ports) {
        if (p.id != id) continue;
        if (adaptor != nullptr) *adaptor = a.get();
        if (screen != nullptr) *screen = s.get();
        return &p;
      }
    }
  }
  return nullptr;
}

const XvWindow* XvState::FindWindow(XID id) const {
  for (const XvWindow& w : windows)
    if (w.id == id) return &w;
  return nullptr;
}

namespace {

Bool XvCloseScreen(int scrnIndex, ScreenPtr screen) {
  XvState* xv = CurrentXv();
  CloseScreenProcPtr wrapped = nullptr;
  if (xv != nullptr) {
    auto it = std::find_if(xv->screens.begin(), xv->screens.end(),
                           [screen](const auto& s) { return s->screen == screen; });
    if (it != xv->screens.end()) {
      wrapped = (*it)->wrapped_close;
      xv->screens.erase(it);
    }
  }
  screen->CloseScreen = wrapped;
  return wrapped != nullptr ? wrapped(scrnIndex, screen) : TRUE;
}

const char* Keep(std::vector<std::unique_ptr<std::string>>& names, const char* text) {
  names.push_back(std::make_unique<std::string>(text != nullptr ? text : ""));
  return names.back()->c_str();
}

std::unique_ptr<XvAdaptor> CopyAdaptor(XvState& xv, const XF86VideoAdaptorRec& from) {
  auto a = std::make_unique<XvAdaptor>();
  a->rec = from;
  a->name = from.name != nullptr ? from.name : "";
  a->rec.name = a->name.c_str();
  for (int i = 0; i < from.nEncodings; ++i) {
    XF86VideoEncodingRec e = from.pEncodings[i];
    e.name = Keep(a->encoding_names, e.name);
    a->encodings.push_back(e);
  }
  a->formats.assign(from.pFormats, from.pFormats + std::max(0, from.nFormats));
  for (int i = 0; i < from.nAttributes; ++i) {
    XF86AttributeRec at = from.pAttributes[i];
    at.name = Keep(a->attribute_names, at.name);
    a->attributes.push_back(at);
  }
  a->images.assign(from.pImages, from.pImages + std::max(0, from.nImages));
  a->rec.pEncodings = a->encodings.data();
  a->rec.pFormats = a->formats.data();
  a->rec.pAttributes = a->attributes.data();
  a->rec.pImages = a->images.data();
  a->rec.pPortPrivates = nullptr;  // the ports below hold them
  for (int i = 0; i < from.nPorts; ++i) a->ports.push_back({xv.next_port++, from.pPortPrivates[i].ptr});
  return a;
}

}  // namespace
}  // namespace xstub::detail

using namespace xstub::detail;

extern "C" {

XF86VideoAdaptorPtr xf86XVAllocateVideoAdaptorRec(ScrnInfoPtr) {
  return static_cast<XF86VideoAdaptorPtr>(xcalloc(1, sizeof(XF86VideoAdaptorRec)));
}

void xf86XVFreeVideoAdaptorRec(XF86VideoAdaptorPtr adaptor) {
  if (adaptor != nullptr) xfree(adaptor);
}

Bool xf86XVScreenInit(ScreenPtr screen, XF86VideoAdaptorPtr* adaptors, int num) {
  XvState* xv = CurrentXv();
  if (xv == nullptr || screen == nullptr) return FALSE;
  XvScreenState& s = xv->Screen(screen);
  if (s.adaptors_registered) return FALSE;
  s.adaptors_registered = true;
  // The layer wraps the screen's close: what it kept goes there, before the
  // driver's close runs.
  s.wrapped_close = screen->CloseScreen;
  screen->CloseScreen = XvCloseScreen;
  for (int i = 0; i < num; ++i) {
    const XF86VideoAdaptorRec* a = adaptors != nullptr ? adaptors[i] : nullptr;
    // An adaptor without ports offers nothing; the server skips it.
    if (a == nullptr || a->nPorts <= 0 || a->pPortPrivates == nullptr) continue;
    s.adaptors.push_back(CopyAdaptor(*xv, *a));
  }
  return TRUE;
}

int xf86XVListGenericAdaptors(ScrnInfoPtr screen, XF86VideoAdaptorPtr** adaptors) {
  *adaptors = nullptr;
  XvState* xv = CurrentXv();
  if (xv == nullptr || screen == nullptr) return 0;
  auto it = xv->generic.find(screen->scrnIndex);
  if (it == xv->generic.end() || it->second.empty()) return 0;
  const std::vector<XF86VideoAdaptorPtr>& list = it->second;
  auto* out = static_cast<XF86VideoAdaptorPtr*>(xalloc(list.size() * sizeof(XF86VideoAdaptorPtr)));
  if (out == nullptr) return 0;
  std::copy(list.begin(), list.end(), out);
  *adaptors = out;
  return static_cast<int>(list.size());
}

Bool xf86XVRegisterOffscreenImages(ScreenPtr screen, XF86OffscreenImagePtr images, int num) {
  XvState* xv = CurrentXv();
  if (xv == nullptr || screen == nullptr) return FALSE;
  XvScreenState& s = xv->Screen(screen);
  s.offscreen = images;
  s.offscreen_count = images != nullptr && num > 0 ? num : 0;
  return TRUE;
}

void xf86XVFillKeyHelper(ScreenPtr screen, CARD32 key, RegionPtr clipBoxes) {
  if (screen == nullptr || clipBoxes == nullptr) return;
  const int n = REGION_NUM_RECTS(clipBoxes);
  BoxPtr boxes = REGION_RECTS(clipBoxes);
  // The root window's rectangle fill: through XAA's filler when the screen
  // has XAA, else the framebuffer layer's.
  if (XAAGetInfoRec(screen) != nullptr && screen->myNum < xf86NumScreens) {
    XAAFillSolidRects(xf86Screens[screen->myNum], static_cast<int>(key), GXcopy, ~0u, n, boxes);
    return;
  }
  PixmapPtr pixmap = fbGetScreenPixmap(screen);
  if (pixmap == nullptr) return;
  for (int i = 0; i < n; ++i) {
    fbSolidFill(pixmap, boxes[i].x1, boxes[i].y1, boxes[i].x2 - boxes[i].x1,
                boxes[i].y2 - boxes[i].y1, key);
  }
}

}  // extern "C"

namespace xstub {

void SetGenericXvAdaptors(int scrnIndex, std::vector<XF86VideoAdaptorPtr> adaptors) {
  XvState* xv = CurrentXv();
  if (xv == nullptr) {
    fprintf(stderr, "xserver stand-in: SetGenericXvAdaptors without an installed X server\n");
    abort();
  }
  xv->generic[scrnIndex] = std::move(adaptors);
}

namespace {

XvScreenState* ScreenState(int scrnIndex) {
  XvState* xv = CurrentXv();
  if (xv == nullptr || scrnIndex < 0 || scrnIndex >= xf86NumScreens) return nullptr;
  return xv->Find(xf86Screens[scrnIndex]->pScreen);
}

}  // namespace

std::vector<XvAdaptorView> XvAdaptors(int scrnIndex) {
  std::vector<XvAdaptorView> out;
  if (XvScreenState* s = ScreenState(scrnIndex)) {
    for (auto& a : s->adaptors) {
      XvAdaptorView view{&a->rec, {}};
      for (const XvPort& p : a->ports) view.ports.push_back(p.id);
      out.push_back(std::move(view));
    }
  }
  return out;
}

std::vector<const XF86OffscreenImageRec*> XvOffscreenImages(int scrnIndex) {
  std::vector<const XF86OffscreenImageRec*> out;
  if (XvScreenState* s = ScreenState(scrnIndex)) {
    for (int i = 0; i < s->offscreen_count; ++i) out.push_back(&s->offscreen[i]);
  }
  return out;
}

bool XvPortOn(XID port) {
  XvState* xv = CurrentXv();
  XvPort* p = xv != nullptr ? xv->FindPort(port, nullptr, nullptr) : nullptr;
  return p != nullptr && p->status == XvPortStatus::kOn;
}

void AddXvWindow(const XvWindow& window) {
  XvState* xv = CurrentXv();
  if (xv == nullptr) {
    fprintf(stderr, "xserver stand-in: AddXvWindow without an installed X server\n");
    abort();
  }
  xv->windows.push_back(window);
}

}  // namespace xstub
