// Mode validation over DisplayModeRec lists: each configured mode name is
// looked up among the monitor's modes and checked against the clock ranges,
// the monitor's sync ranges, the driver's ValidMode hook, the pitch and
// height bounds, the virtual size and the video memory; the screen's
// circular mode list is built from the outcome.
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/xserver/server_state.h"

namespace xstub::detail {
namespace {

// Sync values may miss a range by 1% and still count as inside it.
constexpr double kSyncTolerance = 0.01;
// A monitor without configured ranges and without an EDID range descriptor.
constexpr range kDefaultHSync = {37.9f, 31.5f};     // kHz
constexpr range kDefaultVRefresh = {70.0f, 50.0f};  // Hz

bool InRanges(double value, const range* ranges, int count) {
  for (int i = 0; i < count; ++i) {
    if (value >= ranges[i].lo * (1.0 - kSyncTolerance) &&
        value <= ranges[i].hi * (1.0 + kSyncTolerance))
      return true;
  }
  return false;
}

// Walks a mode list that is either circular or null-ended.
template <typename F>
void ForEachMode(DisplayModePtr first, F f) {
  for (DisplayModePtr m = first; m != nullptr;) {
    DisplayModePtr next = m->next;
    f(m);
    if (next == first) break;
    m = next;
  }
}

ModeStatus CheckClock(const DisplayModeRec& mode, const ClockRange* ranges) {
  bool above_all = true, below_all = true;
  for (const ClockRange* r = ranges; r != nullptr; r = r->next) {
    if (mode.Clock >= r->minClock && mode.Clock <= r->maxClock) {
      if ((mode.Flags & V_INTERLACE) && !r->interlaceAllowed) return MODE_NO_INTERLACE;
      if ((mode.Flags & V_DBLSCAN) && !r->doubleScanAllowed) return MODE_NO_DBLESCAN;
      return MODE_OK;
    }
    if (mode.Clock <= r->maxClock) above_all = false;
    if (mode.Clock >= r->minClock) below_all = false;
  }
  if (above_all) return MODE_CLOCK_HIGH;
  if (below_all) return MODE_CLOCK_LOW;
  return MODE_CLOCK_RANGE;
}

ModeStatus CheckTiming(const DisplayModeRec& m) {
  if (m.HDisplay <= 0 || m.HSyncStart < m.HDisplay || m.HSyncEnd < m.HSyncStart ||
      m.HTotal < m.HSyncEnd || m.HTotal <= 0)
    return MODE_H_ILLEGAL;
  if (m.VDisplay <= 0 || m.VSyncStart < m.VDisplay || m.VSyncEnd < m.VSyncStart ||
      m.VTotal < m.VSyncEnd || m.VTotal <= 0)
    return MODE_V_ILLEGAL;
  return MODE_OK;
}

ModeStatus CheckMonitor(const DisplayModeRec& mode, const MonRec& monitor) {
  if (!InRanges(xf86ModeHSync(&mode), monitor.hsync, monitor.nHsync)) return MODE_HSYNC;
  if (!InRanges(xf86ModeVRefresh(&mode), monitor.vrefresh, monitor.nVrefresh)) return MODE_VSYNC;
  return MODE_OK;
}

// The sync ranges that mode validation uses, written into the monitor:
// configured, else from the EDID's range descriptor, else the defaults.
void SettleSyncRanges(ScrnInfoPtr screen) {
  MonPtr monitor = screen->monitor;
  const char* hsync_from = "the configuration";
  const char* vrefresh_from = "the configuration";
  const monitor_ranges* edid = nullptr;
  if (monitor->DDC != nullptr) {
    for (const detailed_monitor_section& d : monitor->DDC->det_mon) {
      if (d.type == DS_RANGES) edid = &d.section.ranges;
    }
  }
  if (monitor->nHsync <= 0) {
    if (edid != nullptr) {
      monitor->hsync[0] = {static_cast<float>(edid->max_h), static_cast<float>(edid->min_h)};
      hsync_from = "the monitor's EDID";
    } else {
      monitor->hsync[0] = kDefaultHSync;
      hsync_from = "the server's defaults";
    }
    monitor->nHsync = 1;
  }
  if (monitor->nVrefresh <= 0) {
    if (edid != nullptr) {
      monitor->vrefresh[0] = {static_cast<float>(edid->max_v), static_cast<float>(edid->min_v)};
      vrefresh_from = "the monitor's EDID";
    } else {
      monitor->vrefresh[0] = kDefaultVRefresh;
      vrefresh_from = "the server's defaults";
    }
    monitor->nVrefresh = 1;
  }
  for (int i = 0; i < monitor->nHsync; ++i)
    xf86DrvMsg(screen->scrnIndex, X_INFO, "%s: hsync range %.2f-%.2f kHz from %s\n",
               monitor->id ? monitor->id : "monitor", static_cast<double>(monitor->hsync[i].lo),
               static_cast<double>(monitor->hsync[i].hi), hsync_from);
  for (int i = 0; i < monitor->nVrefresh; ++i)
    xf86DrvMsg(screen->scrnIndex, X_INFO, "%s: vrefresh range %.2f-%.2f Hz from %s\n",
               monitor->id ? monitor->id : "monitor",
               static_cast<double>(monitor->vrefresh[i].lo),
               static_cast<double>(monitor->vrefresh[i].hi), vrefresh_from);
}

char* CopyText(const char* text) {
  if (text == nullptr) text = "";
  size_t n = strlen(text) + 1;
  char* copy = static_cast<char*>(xalloc(n));
  if (copy != nullptr) memcpy(copy, text, n);
  return copy;
}

DisplayModePtr CopyMode(const DisplayModeRec& source, const char* name) {
  auto* mode = static_cast<DisplayModePtr>(xcalloc(1, sizeof(DisplayModeRec)));
  if (mode == nullptr) return nullptr;
  *mode = source;
  mode->prev = mode->next = nullptr;
  mode->name = CopyText(name);
  mode->Private = nullptr;
  mode->PrivSize = 0;
  mode->SynthClock = mode->Clock;
  mode->HSync = static_cast<float>(xf86ModeHSync(&source));
  mode->VRefresh = static_cast<float>(xf86ModeVRefresh(&source));
  return mode;
}

// Pitch in pixels for a width: rounded up to the increment (given in bits),
// raised to the minimum.
int PitchFor(int width, int bpp, int pitchInc, int minPitch, const int* linePitches) {
  if (linePitches != nullptr) {
    for (const int* p = linePitches; *p != 0; ++p) {
      if (*p >= width && *p >= minPitch) return *p;
    }
    return -1;
  }
  const long bits = static_cast<long>(width) * bpp;
  long pitch = ((bits + pitchInc - 1) / pitchInc) * pitchInc / bpp;
  if (pitch < minPitch) pitch = ((static_cast<long>(minPitch) * bpp + pitchInc - 1) / pitchInc) * pitchInc / bpp;
  return static_cast<int>(pitch);
}

bool FitsMemory(int pitch, int height, int bpp, int apertureSize) {
  return static_cast<long long>(pitch) * height * bpp / 8 <= apertureSize;
}

}  // namespace

void FreeMode(DisplayModePtr mode) {
  if (mode == nullptr) return;
  xfree(mode->name);
  xfree(mode);
}

}  // namespace xstub::detail

using namespace xstub::detail;

extern "C" {

double xf86ModeHSync(const DisplayModeRec* mode) {
  if (mode == nullptr) return 0;
  if (mode->HSync > 0) return mode->HSync;
  if (mode->HTotal <= 0) return 0;
  return static_cast<double>(mode->Clock) / mode->HTotal;
}

double xf86ModeVRefresh(const DisplayModeRec* mode) {
  if (mode == nullptr) return 0;
  if (mode->VRefresh > 0) return mode->VRefresh;
  if (mode->HTotal <= 0 || mode->VTotal <= 0) return 0;
  double refresh = mode->Clock * 1000.0 / (static_cast<double>(mode->HTotal) * mode->VTotal);
  if (mode->Flags & V_INTERLACE) refresh *= 2.0;
  if (mode->Flags & V_DBLSCAN) refresh /= 2.0;
  if (mode->VScan > 1) refresh /= mode->VScan;
  return refresh;
}

const char* xf86ModeStatusToString(ModeStatus status) {
  switch (status) {
    case MODE_OK: return "Mode OK";
    case MODE_HSYNC: return "hsync out of range";
    case MODE_VSYNC: return "vrefresh out of range";
    case MODE_H_ILLEGAL: return "illegal horizontal timings";
    case MODE_V_ILLEGAL: return "illegal vertical timings";
    case MODE_BAD_WIDTH: return "width requires unsupported line pitch";
    case MODE_NOMODE: return "no mode of this name";
    case MODE_NO_INTERLACE: return "interlace mode not supported";
    case MODE_NO_DBLESCAN: return "doublescan mode not supported";
    case MODE_NO_VSCAN: return "multiscan mode not supported";
    case MODE_MEM: return "insufficient memory for mode";
    case MODE_VIRTUAL_X: return "width too large for virtual size";
    case MODE_VIRTUAL_Y: return "height too large for virtual size";
    case MODE_MEM_VIRT: return "insufficient memory given virtual size";
    case MODE_NOCLOCK: return "no clock available for mode";
    case MODE_CLOCK_HIGH: return "mode clock too high";
    case MODE_CLOCK_LOW: return "mode clock too low";
    case MODE_CLOCK_RANGE: return "bad mode clock/interlace/doublescan";
    case MODE_BAD_HVALUE: return "horizontal timing out of range";
    case MODE_BAD_VVALUE: return "vertical timing out of range";
    case MODE_BAD_VSCAN: return "VScan value out of range";
    case MODE_ERROR: return "internal error";
    case MODE_BAD: return "unknown reason";
  }
  return "unknown reason";
}

int xf86ValidateModes(ScrnInfoPtr screen, DisplayModePtr availModes, char** modeNames,
                      ClockRangePtr clockRanges, int* linePitches, int minPitch, int maxPitch,
                      int pitchInc, int minHeight, int maxHeight, int virtualX, int virtualY,
                      int apertureSize, int strategy) {
  if (screen == nullptr) return -1;
  const int index = screen->scrnIndex;
  const int bpp = screen->bitsPerPixel;
  if (clockRanges == nullptr || screen->monitor == nullptr || bpp <= 0 ||
      (linePitches == nullptr && (pitchInc <= 0 || maxPitch <= 0)) || apertureSize <= 0) {
    xf86DrvMsg(index, X_ERROR, "xf86ValidateModes: invalid arguments\n");
    return -1;
  }
  const bool fixed_width = virtualX > 0;
  const bool fixed_height = virtualY > 0;
  if (fixed_width && linePitches == nullptr && virtualX > maxPitch) {
    xf86DrvMsg(index, X_ERROR, "Virtual width (%d) is too large for the hardware (max %d)\n",
               virtualX, maxPitch);
    return -1;
  }
  if (fixed_height && virtualY > maxHeight) {
    xf86DrvMsg(index, X_ERROR, "Virtual height (%d) is too large for the hardware (max %d)\n",
               virtualY, maxHeight);
    return -1;
  }
  if (fixed_width && fixed_height) {
    const int pitch = PitchFor(virtualX, bpp, pitchInc, minPitch, linePitches);
    if (pitch < 0 || !FitsMemory(pitch, virtualY, bpp, apertureSize)) {
      xf86DrvMsg(index, X_ERROR, "Virtual size %dx%d needs more video memory than %d kB\n",
                 virtualX, virtualY, apertureSize / 1024);
      return -1;
    }
  }
  SettleSyncRanges(screen);

  // The names to look for: the configured ones, else every mode's name.
  std::vector<std::string> names;
  if (modeNames != nullptr && modeNames[0] != nullptr) {
    for (char** n = modeNames; *n != nullptr; ++n) names.emplace_back(*n);
  } else {
    ForEachMode(availModes, [&](DisplayModePtr m) {
      if (m->name == nullptr) return;
      for (const std::string& n : names) {
        if (n == m->name) return;
      }
      names.emplace_back(m->name);
    });
  }

  int width = fixed_width ? virtualX : 0;
  int height = fixed_height ? virtualY : 0;
  struct Outcome {
    DisplayModePtr chosen;   // passing candidate, or the first one seen
    ModeStatus status;
    std::string name;
  };
  std::vector<Outcome> outcomes;
  for (const std::string& name : names) {
    Outcome out{nullptr, MODE_NOMODE, name};
    double best_refresh = -1;
    ForEachMode(availModes, [&](DisplayModePtr m) {
      if (m->name == nullptr || name != m->name) return;
      ModeStatus st = CheckTiming(*m);
      if (st == MODE_OK) st = CheckClock(*m, clockRanges);
      if (st == MODE_OK) st = CheckMonitor(*m, *screen->monitor);
      if (st == MODE_OK && screen->ValidMode != nullptr)
        st = screen->ValidMode(index, m, FALSE, MODECHECK_INITIAL);
      if (st == MODE_OK && fixed_width && m->HDisplay > virtualX) st = MODE_VIRTUAL_X;
      if (st == MODE_OK && fixed_height && m->VDisplay > virtualY) st = MODE_VIRTUAL_Y;
      if (st == MODE_OK && m->VDisplay > maxHeight) st = MODE_BAD_VVALUE;
      if (st == MODE_OK) {
        const int w = fixed_width ? width : (m->HDisplay > width ? m->HDisplay : width);
        const int h = fixed_height ? height : (m->VDisplay > height ? m->VDisplay : height);
        const int pitch = PitchFor(w, bpp, pitchInc, minPitch, linePitches);
        if (pitch < 0 || (linePitches == nullptr && pitch > maxPitch)) st = MODE_BAD_WIDTH;
        else if (!FitsMemory(pitch, h, bpp, apertureSize)) st = MODE_MEM;
      }
      if (st != MODE_OK) {
        if (out.chosen == nullptr) {
          out.chosen = m;
          out.status = st;
        }
        return;
      }
      const double refresh = xf86ModeVRefresh(m);
      const bool better = (strategy & 0xFF) == LOOKUP_BEST_REFRESH ? refresh > best_refresh
                                                                   : best_refresh < 0;
      if (out.status != MODE_OK || better) {
        out.chosen = m;
        out.status = MODE_OK;
        best_refresh = refresh;
      }
    });
    if (out.status == MODE_OK) {
      if (!fixed_width && out.chosen->HDisplay > width) width = out.chosen->HDisplay;
      if (!fixed_height && out.chosen->VDisplay > height) height = out.chosen->VDisplay;
    }
    outcomes.push_back(out);
  }

  // The virtual size and pitch that every accepted mode shares.
  if (height > 0 && height < minHeight) height = minHeight;
  int pitch = width > 0 ? PitchFor(width, bpp, pitchInc, minPitch, linePitches) : 0;
  if (width > 0 && (pitch < 0 || (linePitches == nullptr && pitch > maxPitch))) {
    xf86DrvMsg(index, X_ERROR, "No line pitch fits a virtual width of %d\n", width);
    return -1;
  }

  // The driver's final word on each mode, then the screen's list.
  int usable = 0;
  DisplayModePtr first = nullptr, last = nullptr;
  for (Outcome& out : outcomes) {
    DisplayModePtr mode;
    if (out.chosen != nullptr) {
      mode = CopyMode(*out.chosen, out.name.c_str());
    } else {
      mode = static_cast<DisplayModePtr>(xcalloc(1, sizeof(DisplayModeRec)));
      if (mode != nullptr) mode->name = CopyText(out.name.c_str());
    }
    if (mode == nullptr) return -1;
    if (out.status == MODE_OK && screen->ValidMode != nullptr)
      out.status = screen->ValidMode(index, mode, FALSE, MODECHECK_FINAL);
    mode->status = out.status;
    if (out.status == MODE_OK) ++usable;
    if (first == nullptr) {
      first = mode;
    } else {
      last->next = mode;
      mode->prev = last;
    }
    last = mode;
  }
  if (first != nullptr) {
    last->next = first;
    first->prev = last;
  }
  screen->modes = first;
  if (width > 0) {
    screen->virtualX = width;
    screen->virtualY = height;
    screen->displayWidth = pitch;
    screen->virtualFrom = fixed_width ? X_CONFIG : X_PROBED;
  }
  return usable;
}

void xf86PruneDriverModes(ScrnInfoPtr screen) {
  if (screen == nullptr || screen->modes == nullptr) return;
  DisplayModePtr first = screen->modes;
  std::vector<DisplayModePtr> keep;
  ForEachMode(first, [&](DisplayModePtr m) {
    if (m->status == MODE_OK) {
      keep.push_back(m);
    } else {
      xf86DrvMsg(screen->scrnIndex, X_INFO, "Not using mode \"%s\" (%s)\n",
                 m->name ? m->name : "", xf86ModeStatusToString(m->status));
      FreeMode(m);
    }
  });
  for (size_t i = 0; i < keep.size(); ++i) {
    keep[i]->next = keep[(i + 1) % keep.size()];
    keep[i]->prev = keep[(i + keep.size() - 1) % keep.size()];
  }
  screen->modes = keep.empty() ? nullptr : keep.front();
}

void xf86SetCrtcForModes(ScrnInfoPtr screen, int adjustFlags) {
  if (screen == nullptr) return;
  ForEachMode(screen->modes, [&](DisplayModePtr m) {
    m->CrtcHDisplay = m->HDisplay;
    m->CrtcHSyncStart = m->HSyncStart;
    m->CrtcHSyncEnd = m->HSyncEnd;
    m->CrtcHTotal = m->HTotal;
    m->CrtcHSkew = m->HSkew;
    m->CrtcHBlankStart = m->HDisplay;
    m->CrtcHBlankEnd = m->HTotal;
    m->CrtcVDisplay = m->VDisplay;
    m->CrtcVSyncStart = m->VSyncStart;
    m->CrtcVSyncEnd = m->VSyncEnd;
    m->CrtcVTotal = m->VTotal;
    int factor_num = 1, factor_den = 1;
    if ((m->Flags & V_INTERLACE) && (adjustFlags & INTERLACE_HALVE_V)) factor_den = 2;
    if (m->Flags & V_DBLSCAN) factor_num *= 2;
    if (m->VScan > 1) factor_num *= m->VScan;
    for (int* v : {&m->CrtcVDisplay, &m->CrtcVSyncStart, &m->CrtcVSyncEnd, &m->CrtcVTotal})
      *v = *v * factor_num / factor_den;
    m->CrtcVBlankStart = m->CrtcVDisplay;
    m->CrtcVBlankEnd = m->CrtcVTotal;
    m->CrtcHAdjusted = m->CrtcVAdjusted = FALSE;
  });
}

void xf86PrintModes(ScrnInfoPtr screen) {
  if (screen == nullptr) return;
  xf86DrvMsg(screen->scrnIndex, screen->virtualFrom, "Virtual size is %dx%d (pitch %d)\n",
             screen->virtualX, screen->virtualY, screen->displayWidth);
  ForEachMode(screen->modes, [&](DisplayModePtr m) {
    const char* kind = (m->Flags & V_INTERLACE) ? " (I)" : (m->Flags & V_DBLSCAN) ? " (D)" : "";
    xf86DrvMsg(screen->scrnIndex, (m->type & M_T_DEFAULT) ? X_PROBED : X_CONFIG,
               "Mode \"%s\": %.1f MHz, %.1f kHz, %.1f Hz%s\n", m->name ? m->name : "",
               m->Clock / 1000.0, xf86ModeHSync(m), xf86ModeVRefresh(m), kind);
  });
}

void xf86DeleteMode(DisplayModePtr* modeList, DisplayModePtr mode) {
  if (modeList == nullptr || mode == nullptr) return;
  if (mode->next == mode) {
    *modeList = nullptr;
  } else {
    if (mode->prev != nullptr) mode->prev->next = mode->next;
    if (mode->next != nullptr) mode->next->prev = mode->prev;
    if (*modeList == mode) *modeList = mode->next;
  }
  FreeMode(mode);
}

}  // extern "C"
