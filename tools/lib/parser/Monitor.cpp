// Monitor and Modes sections and the mode lines they hold.

#include <cfloat>
#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kMonitorTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokVendorName, "vendorname"},
    {kTokModelName, "modelname"},
    {kTokUseModes, "usemodes"},
    {kTokModeLine, "modeline"},
    {kTokDisplaySize, "displaysize"},
    {kTokHorizSync, "horizsync"},
    {kTokVertRefresh, "vertrefresh"},
    {kTokMode, "mode"},
    {kTokGamma, "gamma"},
    {kTokOption, "option"},
    {-1, ""},
};

const XConfKeyword kModesTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokModeLine, "modeline"},
    {kTokMode, "mode"},
    {-1, ""},
};

const XConfKeyword kVerboseModeTab[] = {
    {kTokDotClock, "dotclock"},
    {kTokHTimings, "htimings"},
    {kTokVTimings, "vtimings"},
    {kTokFlags, "flags"},
    {kTokHSkew, "hskew"},
    {kTokBCast, "bcast"},
    {kTokVScan, "vscan"},
    {kTokEndMode, "endmode"},
    {-1, ""},
};

const XConfKeyword kTimingTab[] = {
    {kTokTfInterlace, "interlace"},
    {kTokTfPHSync, "+hsync"},
    {kTokTfNHSync, "-hsync"},
    {kTokTfPVSync, "+vsync"},
    {kTokTfNVSync, "-vsync"},
    {kTokTfComposite, "composite"},
    {kTokTfPCSync, "+csync"},
    {kTokTfNCSync, "-csync"},
    {kTokTfDoubleScan, "doublescan"},
    {kTokTfHSkew, "hskew"},
    {kTokTfBCast, "bcast"},
    {kTokTfVScan, "vscan"},
    {kTokTfCustom, "CUSTOM"},
    {-1, ""},
};

// Flag bit of a timing-flag word; 0 for the words that take a value.
int TimingFlagBit(int token) {
  switch (token) {
    case kTokTfInterlace: return kConfFlagInterlace;
    case kTokTfPHSync: return kConfFlagPHSync;
    case kTokTfNHSync: return kConfFlagNHSync;
    case kTokTfPVSync: return kConfFlagPVSync;
    case kTokTfNVSync: return kConfFlagNVSync;
    case kTokTfComposite: return kConfFlagComposite;
    case kTokTfPCSync: return kConfFlagPCSync;
    case kTokTfNCSync: return kConfFlagNCSync;
    case kTokTfDoubleScan: return kConfFlagDoubleScan;
    case kTokTfBCast: return kConfFlagBCast;
    case kTokTfCustom: return kConfFlagCustom;
    default: return 0;
  }
}

// The last number as a float, kept finite so it prints back as a number.
float TokenFloat() {
  double v = xf86tokenValue().realnum;
  if (v > FLT_MAX) return FLT_MAX;
  return static_cast<float>(v);
}

void FreeModeLine(XConfModeLine* ml) {
  std::free(ml->identifier);
  std::free(ml->comment);
  std::free(ml);
}

int ModeLineInt(XConfModeLine* ml, const char* message) {
  if (xf86getSubToken(&ml->comment) != kTokNumber) Fail("%s", message);
  return xf86tokenValue().num;
}

void ParseModeLineBody(XConfModeLine* ml) {
  if (xf86getSubToken(&ml->comment) != kTokString) Fail("ModeLine identifier expected");
  ml->identifier = xf86takeString();
  if (xf86getSubToken(&ml->comment) != kTokNumber) Fail("ModeLine dotclock expected");
  ml->clock = MHzToKHz(xf86tokenValue().realnum);
  ml->hdisplay = ModeLineInt(ml, "ModeLine Hdisplay expected");
  ml->hsyncstart = ModeLineInt(ml, "ModeLine HSyncStart expected");
  ml->hsyncend = ModeLineInt(ml, "ModeLine HSyncEnd expected");
  ml->htotal = ModeLineInt(ml, "ModeLine HTotal expected");
  ml->vdisplay = ModeLineInt(ml, "ModeLine Vdisplay expected");
  ml->vsyncstart = ModeLineInt(ml, "ModeLine VSyncStart expected");
  ml->vsyncend = ModeLineInt(ml, "ModeLine VSyncEnd expected");
  ml->vtotal = ModeLineInt(ml, "ModeLine VTotal expected");
  for (;;) {
    int token = xf86getSubTokenWithTab(&ml->comment, kTimingTab);
    if (int bit = TimingFlagBit(token)) {
      ml->flags |= bit;
    } else if (token == kTokTfHSkew) {
      ml->hskew = ExpectInt(&ml->comment, "Hskew");
      ml->flags |= kConfFlagHSkew;
    } else if (token == kTokTfVScan) {
      ml->vscan = ExpectInt(&ml->comment, "Vscan");
      ml->flags |= kConfFlagVScan;
    } else if (token == kTokEof) {
      Fail("%s", kMsgUnexpectedEof);
    } else {
      xf86unGetToken(token);
      return;
    }
  }
}

XConfModeLine* xf86parseModeLine() {
  XConfModeLine* ml = NewRecord<XConfModeLine>();
  try {
    ParseModeLineBody(ml);
  } catch (const ParseAbort&) {
    FreeModeLine(ml);
    throw;
  }
  return ml;
}

void ParseVerboseModeBody(XConfModeLine* ml) {
  if (xf86getSubToken(&ml->comment) != kTokString) Fail("Mode name expected");
  ml->identifier = xf86takeString();
  bool had_clock = false, had_h = false, had_v = false;
  for (;;) {
    int token = xf86getToken(kVerboseModeTab);
    switch (token) {
      case kTokComment:
        ml->comment = xf86addComment(ml->comment, xf86tokenString());
        break;
      case kTokDotClock:
        ml->clock = MHzToKHz(ExpectReal(&ml->comment, "DotClock"));
        had_clock = true;
        break;
      case kTokHTimings:
        ml->hdisplay = ModeLineInt(ml, "Horizontal display expected");
        ml->hsyncstart = ModeLineInt(ml, "Horizontal sync start expected");
        ml->hsyncend = ModeLineInt(ml, "Horizontal sync end expected");
        ml->htotal = ModeLineInt(ml, "Horizontal total expected");
        had_h = true;
        break;
      case kTokVTimings:
        ml->vdisplay = ModeLineInt(ml, "Vertical display expected");
        ml->vsyncstart = ModeLineInt(ml, "Vertical sync start expected");
        ml->vsyncend = ModeLineInt(ml, "Vertical sync end expected");
        ml->vtotal = ModeLineInt(ml, "Vertical total expected");
        had_v = true;
        break;
      case kTokFlags: {
        int t;
        while ((t = xf86getSubToken(&ml->comment)) == kTokString) {
          int bit = TimingFlagBit(xf86getStringToken(kTimingTab));
          if (bit == 0 || bit == kConfFlagBCast) Fail("Unknown flag string");
          ml->flags |= bit;
        }
        xf86unGetToken(t);
        break;
      }
      case kTokHSkew:
        ml->hskew = ModeLineInt(ml, "Horizontal skew expected");
        ml->flags |= kConfFlagHSkew;
        break;
      case kTokVScan:
        ml->vscan = ModeLineInt(ml, "Vertical scan count expected");
        ml->flags |= kConfFlagVScan;
        break;
      case kTokBCast:
        ml->flags |= kConfFlagBCast;
        break;
      case kTokEndMode:
        if (!had_clock) Fail("the dotclock is missing");
        if (!had_h) Fail("the horizontal timings are missing");
        if (!had_v) Fail("the vertical timings are missing");
        return;
      case kTokEof:
        Fail("%s", kMsgUnexpectedEof);
      default:
        Fail("Unexepcted token in verbose \"Mode\" entry\n");
    }
  }
}

XConfModeLine* xf86parseVerboseMode() {
  XConfModeLine* ml = NewRecord<XConfModeLine>();
  try {
    ParseVerboseModeBody(ml);
  } catch (const ParseAbort&) {
    FreeModeLine(ml);
    throw;
  }
  return ml;
}

// Reads a list of ranges such as "30-50, 60, 70 - 80".
void ParseRanges(XConfRange* ranges, int* count, int max, const char* keyword,
                 const char* too_many, char** comment) {
  if (xf86getSubToken(comment) != kTokNumber)
    Fail("The %s keyword must be followed by a list of numbers or ranges.", keyword);
  for (;;) {
    if (*count >= max) Fail("%s", too_many);
    float lo = TokenFloat();
    float hi = lo;
    int token = xf86getSubToken(comment);
    if (token == kTokDash) {
      if (xf86getSubToken(comment) != kTokNumber)
        Fail("The %s keyword must be followed by a list of numbers or ranges.", keyword);
      hi = TokenFloat();
      if (hi < lo)
        Fail("The %s keyword must be followed by a list of numbers or ranges.", keyword);
      token = xf86getSubToken(comment);
    }
    ranges[*count] = XConfRange{lo, hi};
    ++*count;
    if (token != kTokComma) {
      xf86unGetToken(token);
      return;
    }
    token = xf86getSubToken(comment);
    if (token != kTokNumber) {
      // A trailing comma ends the list.
      xf86unGetToken(token);
      return;
    }
  }
}

void ParseGamma(XConfMonitor* mon) {
  const char* message = "gamma correction value(s) expected\n either one value or three r/g/b values.";
  if (xf86getSubToken(&mon->comment) != kTokNumber) Fail("%s", message);
  float red = TokenFloat();
  int token = xf86getSubToken(&mon->comment);
  if (token != kTokNumber) {
    xf86unGetToken(token);
    mon->gamma_red = mon->gamma_green = mon->gamma_blue = red;
    return;
  }
  float green = TokenFloat();
  if (xf86getSubToken(&mon->comment) != kTokNumber) Fail("%s", message);
  mon->gamma_red = red;
  mon->gamma_green = green;
  mon->gamma_blue = TokenFloat();
}

void ParseMonitorBody(XConfMonitor* mon) {
  ListAppender<XConfModeLine> lines(&mon->modelines);
  ListAppender<XConfModesLink> links(&mon->modes_links);
  for (;;) {
    int token = xf86getToken(kMonitorTab);
    char** c = &mon->comment;
    switch (token) {
      case kTokEndSection:
        if (mon->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment:
        mon->comment = xf86addComment(mon->comment, xf86tokenString());
        break;
      case kTokIdentifier: SetIdentifier(&mon->identifier, c); break;
      case kTokVendorName: SetString(&mon->vendor, ExpectString(c, "Vendor")); break;
      case kTokModelName: SetString(&mon->model, ExpectString(c, "ModelName")); break;
      case kTokDisplaySize: {
        const char* message = "The DisplaySize keyword must be followed by the width and height in mm.";
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        int width = xf86tokenValue().num;
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        mon->width = width;
        mon->height = xf86tokenValue().num;
        break;
      }
      case kTokHorizSync:
        ParseRanges(mon->hsync, &mon->n_hsync, kConfMaxHSync, "HorizSync",
                    "Sorry. Too many horizontal sync intervals.", c);
        break;
      case kTokVertRefresh:
        ParseRanges(mon->vrefresh, &mon->n_vrefresh, kConfMaxVRefresh, "VertRefresh",
                    "Sorry. Too many vertical refresh intervals.", c);
        break;
      case kTokGamma: ParseGamma(mon); break;
      case kTokUseModes: {
        auto* link = links.Append(NewRecord<XConfModesLink>());
        link->name = ExpectString(c, "UseModes");
        break;
      }
      case kTokModeLine: lines.Append(xf86parseModeLine()); break;
      case kTokMode: lines.Append(xf86parseVerboseMode()); break;
      case kTokOption: mon->options = xf86parseOption(mon->options); break;
      default: FailToken(token);
    }
  }
}

void FreeModesLinks(XConfModesLink* link) {
  while (link != nullptr) {
    XConfModesLink* next = link->next;
    std::free(link->name);
    std::free(link);
    link = next;
  }
}

void FreeMonitor(XConfMonitor* mon) {
  std::free(mon->identifier);
  std::free(mon->vendor);
  std::free(mon->model);
  xf86freeModeLineList(mon->modelines);
  xf86optionListFree(mon->options);
  FreeModesLinks(mon->modes_links);
  std::free(mon->comment);
  std::free(mon);
}

void FreeModes(XConfModes* modes) {
  std::free(modes->identifier);
  xf86freeModeLineList(modes->modelines);
  std::free(modes->comment);
  std::free(modes);
}

void ParseModesBody(XConfModes* modes) {
  ListAppender<XConfModeLine> lines(&modes->modelines);
  for (;;) {
    int token = xf86getToken(kModesTab);
    switch (token) {
      case kTokEndSection:
        if (modes->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment:
        modes->comment = xf86addComment(modes->comment, xf86tokenString());
        break;
      case kTokIdentifier: SetIdentifier(&modes->identifier, &modes->comment); break;
      case kTokModeLine: lines.Append(xf86parseModeLine()); break;
      case kTokMode: lines.Append(xf86parseVerboseMode()); break;
      default: FailToken(token);
    }
  }
}

void PrintRange(FILE* cf, const char* label, const XConfRange& r) {
  std::fprintf(cf, "\t%s%s - %s\n", label, FormatFloat(r.lo, true).c_str(),
               FormatFloat(r.hi, true).c_str());
}

}  // namespace

XConfMonitor* xf86parseMonitorSection() {
  XConfMonitor* mon = nullptr;
  try {
    mon = NewRecord<XConfMonitor>();
    ParseMonitorBody(mon);
  } catch (const ParseAbort&) {
    if (mon != nullptr) FreeMonitor(mon);
    return nullptr;
  }
  return mon;
}

XConfModes* xf86parseModesSection() {
  XConfModes* modes = nullptr;
  try {
    modes = NewRecord<XConfModes>();
    ParseModesBody(modes);
  } catch (const ParseAbort&) {
    if (modes != nullptr) FreeModes(modes);
    return nullptr;
  }
  return modes;
}

// Mode lines print the same way in Modes and Monitor sections, so a mode line
// keeps its scan count and comment wherever it stands.
static void PrintModeLines(FILE* cf, XConfModeLine* list) {
  for (XConfModeLine* ml = list; ml != nullptr; ml = ml->next) {
    std::fprintf(cf, "\tModeLine     \"%s\" %s ", Quoted(ml->identifier),
                 FormatKHzAsMHz(ml->clock).c_str());
    std::fprintf(cf, "%d %d %d %d %d %d %d %d", ml->hdisplay, ml->hsyncstart, ml->hsyncend,
                 ml->htotal, ml->vdisplay, ml->vsyncstart, ml->vsyncend, ml->vtotal);
    int f = ml->flags;
    if (f & kConfFlagPHSync) std::fprintf(cf, " +hsync");
    if (f & kConfFlagNHSync) std::fprintf(cf, " -hsync");
    if (f & kConfFlagPVSync) std::fprintf(cf, " +vsync");
    if (f & kConfFlagNVSync) std::fprintf(cf, " -vsync");
    if (f & kConfFlagInterlace) std::fprintf(cf, " interlace");
    if (f & kConfFlagComposite) std::fprintf(cf, " composite");
    if (f & kConfFlagPCSync) std::fprintf(cf, " +csync");
    if (f & kConfFlagNCSync) std::fprintf(cf, " -csync");
    if (f & kConfFlagDoubleScan) std::fprintf(cf, " doublescan");
    if (f & kConfFlagHSkew) std::fprintf(cf, " hskew %d", ml->hskew);
    if (f & kConfFlagVScan) std::fprintf(cf, " vscan %d", ml->vscan);
    if (f & kConfFlagBCast) std::fprintf(cf, " bcast");
    if (f & kConfFlagCustom) std::fprintf(cf, " CUSTOM");
    PrintTrailingComment(cf, ml->comment);
  }
}

void xf86printModesSection(FILE* cf, XConfModes* list) {
  for (XConfModes* m = list; m != nullptr; m = m->next) {
    PrintSectionHead(cf, "Modes", m->comment);
    if (m->identifier) std::fprintf(cf, "\tIdentifier     \"%s\"\n", Quoted(m->identifier));
    PrintModeLines(cf, m->modelines);
    std::fprintf(cf, "EndSection\n\n");
  }
}

void xf86printMonitorSection(FILE* cf, XConfMonitor* list) {
  for (XConfMonitor* m = list; m != nullptr; m = m->next) {
    PrintSectionHead(cf, "Monitor", m->comment);
    if (m->identifier) std::fprintf(cf, "\tIdentifier   \"%s\"\n", Quoted(m->identifier));
    if (m->vendor) std::fprintf(cf, "\tVendorName   \"%s\"\n", Quoted(m->vendor));
    if (m->model) std::fprintf(cf, "\tModelName    \"%s\"\n", Quoted(m->model));
    for (XConfModesLink* l = m->modes_links; l != nullptr; l = l->next)
      std::fprintf(cf, "\tUseModes     \"%s\"\n", Quoted(l->name));
    if (m->width) std::fprintf(cf, "\tDisplaySize  %d\t%d\n", m->width, m->height);
    for (int i = 0; i < m->n_hsync && i < kConfMaxHSync; ++i)
      PrintRange(cf, "HorizSync    ", m->hsync[i]);
    for (int i = 0; i < m->n_vrefresh && i < kConfMaxVRefresh; ++i)
      PrintRange(cf, "VertRefresh  ", m->vrefresh[i]);
    if (m->gamma_red != 0.0f) {
      if (m->gamma_red == m->gamma_green && m->gamma_red == m->gamma_blue)
        std::fprintf(cf, "\tGamma        %s\n", FormatFloat(m->gamma_red, false).c_str());
      else
        std::fprintf(cf, "\tGamma        %s %s %s\n", FormatFloat(m->gamma_red, false).c_str(),
                     FormatFloat(m->gamma_green, false).c_str(),
                     FormatFloat(m->gamma_blue, false).c_str());
    }
    PrintModeLines(cf, m->modelines);
    xf86printOptionList(cf, m->options, 1);
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfMonitor* xf86findMonitor(const char* name, XConfMonitor* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

XConfModes* xf86findModes(const char* name, XConfModes* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

XConfModeLine* xf86findModeLine(const char* name, XConfModeLine* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

int xf86validateMonitor(XConfFile* file, XConfScreen* screen) {
  return ValidateMonitorModes(screen, NameIndex<XConfModes>(file->modes)) ? 1 : 0;
}

namespace xconf {

bool ValidateMonitorModes(XConfScreen* screen, const NameIndex<XConfModes>& index) {
  XConfMonitor* mon = screen->monitor;
  for (XConfModesLink* l = mon->modes_links; l != nullptr; l = l->next) {
    XConfModes* modes = index.Find(l->name);
    if (modes == nullptr) {
      xf86validationError("Undefined Modes Section \"%s\" referenced by Monitor \"%s\".",
                          l->name, mon->identifier);
      return false;
    }
    l->modes = modes;
  }
  return true;
}

}  // namespace xconf

void xf86freeModeLineList(XConfModeLine* list) {
  while (list != nullptr) {
    XConfModeLine* next = list->next;
    FreeModeLine(list);
    list = next;
  }
}

void xf86freeMonitorList(XConfMonitor* list) {
  while (list != nullptr) {
    XConfMonitor* next = list->next;
    FreeMonitor(list);
    list = next;
  }
}

void xf86freeModesList(XConfModes* list) {
  while (list != nullptr) {
    XConfModes* next = list->next;
    FreeModes(list);
    list = next;
  }
}
