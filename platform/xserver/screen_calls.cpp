// Screen-layer set-up calls that the stand-in only records (backing store,
// silken mouse, the software cursor, power management), and the shadow
// framebuffer: the refresh function gets the boxes the server drew after
// each drawing request.
#include <algorithm>

#include "platform/xserver/server_state.h"

using xstub::detail::CurrentServer;

namespace {
int g_pointer_funcs;  // what xf86GetPointerScreenFuncs hands out
}

extern "C" {

void miInitializeBackingStore(ScreenPtr screen) {
  if (auto* s = CurrentServer()) s->Record("miInitializeBackingStore", screen);
}

void xf86SetBackingStore(ScreenPtr screen) {
  if (auto* s = CurrentServer()) s->Record("xf86SetBackingStore", screen);
}

void xf86SetSilkenMouse(ScreenPtr screen) {
  if (auto* s = CurrentServer()) s->Record("xf86SetSilkenMouse", screen);
}

pointer xf86GetPointerScreenFuncs(void) { return &g_pointer_funcs; }

Bool miDCInitialize(ScreenPtr screen, pointer pointerScreenFuncs) {
  auto* s = CurrentServer();
  if (s == nullptr || screen == nullptr || pointerScreenFuncs == nullptr) return FALSE;
  s->Record("miDCInitialize", screen);
  return TRUE;
}

Bool xf86DPMSInit(ScreenPtr screen, xf86DPMSSetProc set, int) {
  auto* s = CurrentServer();
  if (s == nullptr || screen == nullptr || set == nullptr) return FALSE;
  xf86Screens[screen->myNum]->DPMSSet = set;
  s->Record("xf86DPMSInit", screen);
  return TRUE;
}

Bool ShadowFBInit(ScreenPtr screen, RefreshAreaFuncPtr refresh) {
  auto* s = CurrentServer();
  if (s == nullptr || screen == nullptr || refresh == nullptr) return FALSE;
  s->Layer(screen).shadow_refresh = refresh;
  s->Record("ShadowFBInit", screen);
  return TRUE;
}

}  // extern "C"

namespace xstub::detail {

void ShadowDamage(ScreenPtr screen, const std::vector<BoxRec>& boxes) {
  auto* s = CurrentServer();
  if (s == nullptr || screen == nullptr || boxes.empty()) return;
  LayerScreen& layer = s->Layer(screen);
  if (layer.shadow_refresh == nullptr || !layer.fb) return;
  const short width = static_cast<short>(layer.pixmap.width);
  const short height = static_cast<short>(layer.pixmap.height);
  std::vector<BoxRec> clipped;
  for (const BoxRec& b : boxes) {
    const BoxRec c = {std::max<short>(b.x1, 0), std::max<short>(b.y1, 0), std::min(b.x2, width),
                      std::min(b.y2, height)};
    if (c.x1 < c.x2 && c.y1 < c.y2) clipped.push_back(c);
  }
  if (clipped.empty()) return;
  layer.shadow_refresh(xf86Screens[screen->myNum], static_cast<int>(clipped.size()), clipped.data());
}

}  // namespace xstub::detail
