// Screen-layer set-up calls that the stand-in only records: backing store,
// silken mouse, the software cursor, power management and the shadow
// framebuffer (whose refresh the test may run).
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
