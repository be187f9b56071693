// Fuzz target for the driver's parsers of configuration text: the MetaModes
// list of a merged desktop, the second monitor's sync ranges and the TV
// regions. The first byte picks the parser, the rest is the option's text.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_multihead.h"

namespace {

// A circular list of modes with these names, 640 pixels wider per name.
DisplayModePtr MakeList(const char* const* names, int n, DisplayModeRec* storage) {
  for (int i = 0; i < n; ++i) {
    storage[i] = {};
    storage[i].name = const_cast<char*>(names[i]);
    storage[i].HDisplay = 640 * (i + 1);
    storage[i].VDisplay = 480 * (i + 1);
    storage[i].next = &storage[(i + 1) % n];
    storage[i].prev = &storage[(i + n - 1) % n];
  }
  return storage;
}

void FreeBuilt(ScrnInfoPtr screen) {
  DisplayModePtr first = screen->modes;
  for (DisplayModePtr m = first; m != nullptr;) {
    DisplayModePtr next = m->next;
    if (OrvModePrivate* priv = OrvModePriv(m)) {
      xfree(priv->source);
      xfree(priv);
    }
    xfree(m->name);
    xfree(m);
    if (next == first) break;
    m = next;
  }
  screen->modes = nullptr;
}

void MetaModes(const std::string& text) {
  static xstub::Sandbox* box = new xstub::Sandbox;  // quiet message log
  (void)box;
  xstub::XServer server;
  ScrnInfoPtr screen = server.NewScrnInfo();
  ScrnInfoPtr second = server.NewScrnInfo();
  ORVRec rec{};
  ORVRec rec2{};
  rec.aux[0] = second;
  screen->driverPrivate = &rec;
  second->driverPrivate = &rec2;
  static const char* const kNames1[] = {"1024x768", "800x600", "1280x1024", "2560x1600"};
  static const char* const kNames2[] = {"800x600", "1280x1024", "2560x1600", "640x480"};
  DisplayModeRec list1[4], list2[4];
  ORVMergeGenerateModeList(screen, text.c_str(), MakeList(kNames1, 4, list1),
                           MakeList(kNames2, 4, list2), kPositionRightOf);
  FreeBuilt(screen);
  screen->driverPrivate = nullptr;
  second->driverPrivate = nullptr;
  box->ClearMessages();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      MetaModes(text);
      break;
    case 1: {
      range ranges[MAX_HSYNC] = {};
      const int n = ORVMergeStrToRanges(ranges, text.c_str());
      if (n < 0 || n > 1) __builtin_trap();
      break;
    }
    default: {
      OrvRegion region;
      if (!OrvParseRegion(text.c_str(), &region) &&
          (region.x0 | region.y0 | region.x1 | region.y1) != 0)
        __builtin_trap();
      break;
    }
  }
  return 0;
}
