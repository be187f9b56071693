// Fuzz target for the driver's parsers of configuration text: the MetaModes
// list of a merged desktop, the second monitor's sync ranges and the TV
// regions. The first byte picks the parser, the rest is the option's text;
// for MetaModes a layout byte and the two heads' mode lists come before it:
//   layout: bits 0-2 the second head's position (modulo 5: left of, right
//           of, above, below, clone), bit 3 a rotated screen, bits 4-5 and
//           6-7 the number of modes of heads 1 and 2, less one;
//   a byte per mode, head 1's then head 2's: bits 0-2 its name (of
//           kNames), bits 3-7 its size, k: 160 (k + 1) x 120 (k + 1).
// Every merged mode built must be at most 4096 pixels wide and pair a mode
// of each head at the layout's position, or clone a head-1 mode.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_multihead.h"

namespace {

constexpr const char* kNames[8] = {"1024x768", "800x600", "1280x1024", "2560x1600",
                                   "640x480",  "1920x1200", "x",       ""};
constexpr int kMostModes = 4;

// A circular list of the modes the input describes.
DisplayModePtr MakeList(const uint8_t* bytes, int n, DisplayModeRec* storage) {
  for (int i = 0; i < n; ++i) {
    const int k = bytes[i] >> 3;
    storage[i] = {};
    storage[i].name = const_cast<char*>(kNames[bytes[i] & 7]);
    storage[i].HDisplay = 160 * (k + 1);
    storage[i].VDisplay = 120 * (k + 1);
    storage[i].next = &storage[(i + 1) % n];
    storage[i].prev = &storage[(i + n - 1) % n];
  }
  return storage;
}

bool InList(const DisplayModeRec* mode, const DisplayModeRec* list, int n) {
  return mode >= list && mode < list + n;
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

void MetaModes(const uint8_t* data, size_t size) {
  static xstub::Sandbox* box = new xstub::Sandbox;  // quiet message log
  (void)box;
  uint8_t head[1 + 2 * kMostModes] = {};
  const size_t headBytes = size < sizeof head ? size : sizeof head;
  memcpy(head, data, headBytes);
  const uint8_t layout = head[0];
  const int position = (layout & 7) % 5;
  const int n1 = 1 + (layout >> 4 & 3);
  const int n2 = 1 + (layout >> 6 & 3);
  const size_t used = 1 + static_cast<size_t>(n1 + n2);
  const std::string text = size > used ? std::string(reinterpret_cast<const char*>(data + used), size - used) : "";

  xstub::XServer server;
  ScrnInfoPtr screen = server.NewScrnInfo();
  ScrnInfoPtr second = server.NewScrnInfo();
  ORVRec rec{};
  ORVRec rec2{};
  rec.aux[0] = second;
  rec.shadowRotate = (layout & 8) != 0 ? 1 : 0;
  screen->driverPrivate = &rec;
  second->driverPrivate = &rec2;
  DisplayModeRec list1[kMostModes], list2[kMostModes];
  ORVMergeGenerateModeList(screen, text.c_str(), MakeList(head + 1, n1, list1), MakeList(head + 1 + n1, n2, list2),
                           position);
  for (DisplayModePtr m = screen->modes; m != nullptr;) {
    const OrvMergedPair* pair = OrvMergedPairOf(m);
    if (pair == nullptr || m->HDisplay > 4096 || !InList(pair->mode1, list1, n1) ||
        !InList(pair->mode2, list2, n2) || (pair->position != position && pair->position != kPositionClone))
      __builtin_trap();
    m = m->next;
    if (m == screen->modes) break;
  }
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
      MetaModes(data + 1, size - 1);
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
