// The merged framebuffer's configuration: the second monitor's sync ranges
// and the merged mode list built from the MetaModes text.
#include <stdio.h>
#include <string.h>

#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_multihead.h"

namespace {

// The widest merged mode the heads can show.
constexpr int kMaxMergedWidth = 4096;
// A MetaModes name longer than this is refused.
constexpr size_t kMaxModeName = 255;

bool IsSeparator(char c) { return c == ' ' || c == '-' || c == '\0'; }

// A head's width and height in a mode: swapped on a rotated screen.
void HeadSize(const ORVRec* rec, const DisplayModeRec* mode, int* w, int* h) {
  const bool rotated = rec->shadowRotate != 0 || rec->hwRotate != 0;
  *w = rotated ? mode->VDisplay : mode->HDisplay;
  *h = rotated ? mode->HDisplay : mode->VDisplay;
}

// Ties take head 2's value; it is the same number.
int Larger(int first, int second) { return first > second ? first : second; }

char* CopyName(const char* name) {
  const size_t n = strlen(name) + 1;
  char* copy = static_cast<char*>(xalloc(n));
  if (copy != nullptr) memcpy(copy, name, n);
  return copy;
}

// One name of the text: its start and length.
struct Word {
  const char* start;
  size_t length;
  bool Fits() const { return length <= kMaxModeName; }
};

Word ReadWord(const char*& p) {
  Word w{p, 0};
  while (!IsSeparator(*p)) ++p;
  w.length = static_cast<size_t>(p - w.start);
  return w;
}

// The mode of that name in the list; an over-long name names none.
DisplayModePtr Find(const Word& w, DisplayModePtr list) {
  if (!w.Fits()) return nullptr;
  char name[kMaxModeName + 1];
  memcpy(name, w.start, w.length);
  name[w.length] = '\0';
  return ORVMergeGetModeFromName(name, list);
}

int Len(const Word& w) { return static_cast<int>(w.length); }

}  // namespace

Bool ORVInRegion(int x, int y, range xrange, range yrange) {
  return x >= xrange.lo && x < xrange.hi && y >= yrange.lo && y < yrange.hi;
}

int ORVMergeStrToRanges(range* ranges, const char* text) {
  if (ranges == nullptr || text == nullptr) return 0;
  int count = 0;
  char number[64];
  size_t length = 0;
  bool overflow = false;
  for (const char* p = text;; ++p) {
    const char c = *p;
    if (c == ' ' || c == '-' || c == '\0') {
      if (length > 0 && !overflow) {
        number[length] = '\0';
        float value = 0;
        if (sscanf(number, "%f", &value) == 1) {
          if (count == 0) {
            ranges[0].lo = ranges[0].hi = value;
            count = 1;
          } else {
            ranges[0].hi = value;
          }
        }
      }
      length = 0;
      overflow = false;
      if (c == '\0') break;
      continue;
    }
    if (c != '.' && (c < '0' || c > '9')) return 0;
    if (length + 1 < sizeof(number)) number[length++] = c;
    else overflow = true;
  }
  return count;
}

DisplayModePtr ORVMergeGetModeFromName(const char* name, DisplayModePtr list) {
  if (name == nullptr) return nullptr;
  for (DisplayModePtr m = list; m != nullptr;) {
    if (m->name != nullptr && strcmp(m->name, name) == 0) return m;
    m = m->next;
    if (m == list) break;
  }
  return nullptr;
}

DisplayModePtr ORVMergeCopyModeNLink(ScrnInfoPtr screen, DisplayModePtr mode1,
                                     DisplayModePtr mode2, int position) {
  ORVRec* rec = ORVPTR(screen);
  int w1, h1, w2, h2;
  HeadSize(rec, mode1, &w1, &h1);
  HeadSize(rec, mode2, &w2, &h2);
  int width = mode1->HDisplay, height = mode1->VDisplay;
  switch (position) {
    case kPositionLeftOf:
    case kPositionRightOf:
      width = w1 + w2;
      height = Larger(h1, h2);
      break;
    case kPositionAbove:
    case kPositionBelow:
      width = Larger(w1, w2);
      height = h1 + h2;
      break;
    case kPositionClone:
      width = Larger(w1, w2);
      height = Larger(h1, h2);
      break;
    default:
      break;
  }
  if (width > kMaxMergedWidth) {
    // The screen's virtual width stays what it was.
    screen->virtualFrom = X_DEFAULT;
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Mode: %dx%d is larger than 4096.\n", width, height);
    return nullptr;
  }
  auto* mode = static_cast<DisplayModePtr>(xalloc(sizeof(DisplayModeRec)));
  auto* priv = static_cast<OrvModePrivate*>(xcalloc(1, sizeof(OrvModePrivate)));
  auto* pair = static_cast<OrvMergedPair*>(xcalloc(1, sizeof(OrvMergedPair)));
  char* name = CopyName(mode1->name != nullptr ? mode1->name : "");
  if (mode == nullptr || priv == nullptr || pair == nullptr || name == nullptr) {
    xfree(mode);
    xfree(priv);
    xfree(pair);
    xfree(name);
    return nullptr;
  }
  *mode = *mode1;
  mode->name = name;
  *pair = {mode1, mode2, position};
  *priv = {kModeMergedPair, pair};
  mode->PrivSize = 0;
  mode->Private = reinterpret_cast<INT32*>(priv);
  mode->HDisplay = width;
  mode->VDisplay = height;

  screen->virtualX = width;
  if (screen->virtualY < height) screen->virtualY = height;
  screen->virtualFrom = X_PROBED;
  if (ScrnInfoPtr second = rec->aux[0]) {
    second->virtualX = screen->virtualX;
    second->virtualY = screen->virtualY;
    second->virtualFrom = screen->virtualFrom;
  }
  if (screen->modes == nullptr) {
    mode->next = mode->prev = mode;
    screen->modes = mode;
  } else {
    DisplayModePtr last = screen->modes->prev;
    last->next = mode;
    mode->prev = last;
    mode->next = screen->modes;
    screen->modes->prev = mode;
  }
  return mode;
}

DisplayModePtr ORVMergeGenerateModeList(ScrnInfoPtr screen, const char* text,
                                        DisplayModePtr list1, DisplayModePtr list2,
                                        int position) {
  ORVRec* rec = ORVPTR(screen);
  const int index = screen->scrnIndex;
  rec->savedModes = screen->modes;
  screen->modes = nullptr;
  if (text == nullptr) text = "";

  DisplayModePtr first = nullptr, second = nullptr, built = nullptr;
  Word firstWord{nullptr, 0};
  bool afterDash = false;
  const char* p = text;
  for (;;) {
    const Word word = ReadWord(p);
    if (word.length > 0) {
      if (!afterDash) {
        first = Find(word, list1);
        firstWord = word;
        if (first == nullptr) {
          xf86DrvMsg(index, X_CONFIG, "Mode: \"%.*s\" is not a supported mode for monitor 1\n",
                     Len(word), word.start);
          // The entry's second name goes with it.
          const char* q = p;
          while (*q == ' ') ++q;
          if (*q == '-') {
            ++q;
            while (*q == ' ') ++q;
            const Word pairWord = ReadWord(q);
            xf86DrvMsg(index, X_CONFIG, "Skipping metamode \"%.*s-%.*s\".\n", Len(word),
                       word.start, Len(pairWord), pairWord.start);
            p = q;
          } else {
            xf86DrvMsg(index, X_CONFIG, "Skipping metamode \"%.*s\".\n", Len(word), word.start);
          }
        }
      } else {
        if (first == nullptr) {
          // A second name with no first mode before it (the text or an entry
          // begins with a dash, or a pair runs on past a refused second
          // name): the list is refused as a whole.
          return nullptr;
        } else {
          second = Find(word, list2);
          if (second == nullptr) {
            xf86DrvMsg(index, X_CONFIG, "Mode: \"%.*s\" is not a supported mode for monitor 2\n",
                       Len(word), word.start);
            xf86DrvMsg(index, X_CONFIG, "Skipping metamode \"%.*s-%.*s\".\n", Len(firstWord),
                       firstWord.start, Len(word), word.start);
            first = nullptr;
          }
        }
      }
    }
    const char separator = *p;
    afterDash = separator == '-';
    if (!afterDash && first != nullptr) {
      if (second != nullptr) {
        if (DisplayModePtr m = ORVMergeCopyModeNLink(screen, first, second, position)) built = m;
      } else if (DisplayModePtr clone = ORVMergeGetModeFromName(first->name, list2)) {
        if (DisplayModePtr m = ORVMergeCopyModeNLink(screen, first, clone, kPositionClone))
          built = m;
      } else {
        xf86DrvMsg(index, X_CONFIG, "Mode: \"%s\" is not a supported mode for monitor 2\n",
                   first->name);
        xf86DrvMsg(index, X_CONFIG, "Skipping clone mode.\n");
      }
      first = second = nullptr;
    }
    if (separator == '\0') break;
    ++p;
  }
  screen->currentMode = screen->modes;
  return built;
}

void ORVMergeVirtualSize(ScrnInfoPtr screen, int* width, int* height) {
  *width = *height = 0;
  for (DisplayModePtr m = screen->modes; m != nullptr;) {
    if (m->HDisplay > *width) *width = m->HDisplay;
    if (m->VDisplay > *height) *height = m->VDisplay;
    m = m->next;
    if (m == screen->modes) break;
  }
}

DisplayModePtr OrvSourceMode(const DisplayModeRec* mode) {
  OrvModePrivate* priv = OrvModePriv(mode);
  if (priv == nullptr || priv->source == nullptr) return const_cast<DisplayModePtr>(mode);
  if (priv->kind == kModeMergedPair) return static_cast<OrvMergedPair*>(priv->source)->mode1;
  return *static_cast<DisplayModePtr*>(priv->source);
}

OrvMergedPair* OrvMergedPairOf(const DisplayModeRec* mode) {
  OrvModePrivate* priv = OrvModePriv(mode);
  if (priv == nullptr || priv->kind != kModeMergedPair) return nullptr;
  return static_cast<OrvMergedPair*>(priv->source);
}

void OrvModeConfig_AssignController(ScrnInfoPtr screen, int head, uint32_t bits) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pEnt != nullptr && head >= 0 && head < kOrvMaxHeads) rec->pEnt->controllerMask[head] |= bits;
}

uint32_t OrvModeConfig_GetController(ScrnInfoPtr screen, int head) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pEnt == nullptr || head < 0 || head >= kOrvMaxHeads) return 0;
  return rec->pEnt->controllerMask[head];
}

void OrvModeConfig_ResetController(ScrnInfoPtr screen, int head) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pEnt != nullptr && head >= 0 && head < kOrvMaxHeads) rec->pEnt->controllerMask[head] = 0;
}
