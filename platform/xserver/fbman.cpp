// The off-screen memory manager: the part of the managed box outside the
// visible screen, handed out as rectangles (first fit, the rest of a free
// box split into the part beside and the part below the new area).
#include <algorithm>

#include "platform/xserver/server_state.h"

namespace xstub::detail {
namespace {

int Width(const BoxRec& b) { return b.x2 - b.x1; }
int Height(const BoxRec& b) { return b.y2 - b.y1; }
bool Empty(const BoxRec& b) { return Width(b) <= 0 || Height(b) <= 0; }

// Two boxes that share a whole edge become one.
bool Join(BoxRec* a, const BoxRec& b) {
  if (a->x1 == b.x1 && a->x2 == b.x2 && (a->y2 == b.y1 || b.y2 == a->y1)) {
    a->y1 = std::min(a->y1, b.y1);
    a->y2 = std::max(a->y2, b.y2);
    return true;
  }
  if (a->y1 == b.y1 && a->y2 == b.y2 && (a->x2 == b.x1 || b.x2 == a->x1)) {
    a->x1 = std::min(a->x1, b.x1);
    a->x2 = std::max(a->x2, b.x2);
    return true;
  }
  return false;
}

void AddFree(LayerScreen& layer, BoxRec box) {
  if (Empty(box)) return;
  layer.free_boxes.push_back(box);
  for (bool joined = true; joined;) {
    joined = false;
    for (size_t i = 0; i < layer.free_boxes.size() && !joined; ++i) {
      for (size_t j = i + 1; j < layer.free_boxes.size(); ++j) {
        if (Join(&layer.free_boxes[i], layer.free_boxes[j])) {
          layer.free_boxes.erase(layer.free_boxes.begin() + static_cast<ptrdiff_t>(j));
          joined = true;
          break;
        }
      }
    }
  }
}

}  // namespace
}  // namespace xstub::detail

using xstub::detail::CurrentServer;
using xstub::detail::LayerScreen;
using xstub::detail::ServerState;

extern "C" {

Bool xf86InitFBManager(ScreenPtr screen, BoxPtr fullBox) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || fullBox == nullptr) return FALSE;
  LayerScreen& layer = s->Layer(screen);
  if (layer.fbman) return FALSE;
  // The visible screen is the screen's virtual size: a driver sets the
  // manager up before or after the framebuffer layer.
  ScrnInfoPtr info = screen->myNum >= 0 && screen->myNum < xf86NumScreens ? xf86Screens[screen->myNum] : nullptr;
  const short w = static_cast<short>(info != nullptr && info->virtualX > 0 ? info->virtualX : screen->width);
  const short h = static_cast<short>(info != nullptr && info->virtualY > 0 ? info->virtualY : screen->height);
  if (fullBox->x2 <= fullBox->x1 || fullBox->y2 <= fullBox->y1) return FALSE;
  if (fullBox->y2 <= h && fullBox->x2 <= w) return FALSE;  // nothing beside the screen
  layer.full_box = *fullBox;
  layer.free_boxes.clear();
  xstub::detail::AddFree(layer, {fullBox->x1, std::max<short>(h, fullBox->y1), fullBox->x2, fullBox->y2});
  xstub::detail::AddFree(layer, {std::max<short>(w, fullBox->x1), fullBox->y1, fullBox->x2,
                                 std::min<short>(h, fullBox->y2)});
  layer.fbman = true;
  return TRUE;
}

Bool xf86QueryLargestOffscreenArea(ScreenPtr screen, int* width, int* height, int, int, int) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || !s->Layer(screen).fbman) return FALSE;
  int bw = 0, bh = 0;
  for (const BoxRec& b : s->Layer(screen).free_boxes) {
    if (xstub::detail::Width(b) * xstub::detail::Height(b) > bw * bh) {
      bw = xstub::detail::Width(b);
      bh = xstub::detail::Height(b);
    }
  }
  if (width != nullptr) *width = bw;
  if (height != nullptr) *height = bh;
  return TRUE;
}

FBAreaPtr xf86AllocateOffscreenArea(ScreenPtr screen, int w, int h, int granularity,
                                    MoveAreaCallbackProcPtr, RemoveAreaCallbackProcPtr,
                                    pointer privData) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || w <= 0 || h <= 0) return nullptr;
  LayerScreen& layer = s->Layer(screen);
  if (!layer.fbman) return nullptr;
  const int gran = granularity > 1 ? granularity : 1;
  for (size_t i = 0; i < layer.free_boxes.size(); ++i) {
    const BoxRec b = layer.free_boxes[i];
    const int x = (b.x1 + gran - 1) / gran * gran;
    if (x + w > b.x2 || h > xstub::detail::Height(b)) continue;
    layer.free_boxes.erase(layer.free_boxes.begin() + static_cast<ptrdiff_t>(i));
    const short x0 = static_cast<short>(x), x1 = static_cast<short>(x + w),
                y1 = static_cast<short>(b.y1 + h);
    xstub::detail::AddFree(layer, {b.x1, b.y1, x0, y1});  // alignment gap
    xstub::detail::AddFree(layer, {x1, b.y1, b.x2, y1});  // beside
    xstub::detail::AddFree(layer, {b.x1, y1, b.x2, b.y2});  // below
    auto area = std::make_unique<FBArea>();
    area->pScreen = screen;
    area->box = {x0, b.y1, x1, y1};
    area->granularity = gran;
    area->devPrivate = privData;
    layer.areas.push_back(std::move(area));
    return layer.areas.back().get();
  }
  return nullptr;
}

void xf86FreeOffscreenArea(FBAreaPtr area) {
  ServerState* s = CurrentServer();
  if (s == nullptr || area == nullptr) return;
  LayerScreen& layer = s->Layer(area->pScreen);
  for (auto it = layer.areas.begin(); it != layer.areas.end(); ++it) {
    if (it->get() == area) {
      const BoxRec box = area->box;
      layer.areas.erase(it);
      xstub::detail::AddFree(layer, box);
      return;
    }
  }
}

}  // extern "C"
