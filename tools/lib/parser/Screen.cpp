// Screen sections and their Display subsections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kScreenTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokScrDriver, "driver"},
    {kTokScrDevice, "device"},
    {kTokScrMonitor, "monitor"},
    {kTokVideoAdaptor, "videoadaptor"},
    {kTokScreenNo, "screenno"},
    {kTokSubSection, "subsection"},
    {kTokDefaultDepth, "defaultcolordepth"},
    {kTokDefaultDepth, "defaultdepth"},
    {kTokDefaultBpp, "defaultbpp"},
    {kTokDefaultFbBpp, "defaultfbbpp"},
    {kTokOption, "option"},
    {-1, ""},
};

const XConfKeyword kDisplayTab[] = {
    {kTokEndSubSection, "endsubsection"},
    {kTokModes, "modes"},
    {kTokViewport, "viewport"},
    {kTokVirtual, "virtual"},
    {kTokVisual, "visual"},
    {kTokBlack, "black"},
    {kTokWhite, "white"},
    {kTokDepth, "depth"},
    {kTokFbBpp, "FbBPP"},
    {kTokWeight, "weight"},
    {kTokOption, "option"},
    {-1, ""},
};

constexpr const char* kOneOfIdentifierOrDriver = "This section must have only one of either %s line.";

void FreeDisplay(XConfDisplay* d) {
  std::free(d->visual);
  xf86freeModeList(d->modes);
  xf86optionListFree(d->options);
  std::free(d->comment);
  std::free(d);
}

void FreeScreen(XConfScreen* s) {
  if (s->identifier != s->driver) std::free(s->identifier);
  std::free(s->driver);
  std::free(s->monitor_name);
  std::free(s->device_name);
  xf86freeAdaptorLinkList(s->adaptors);
  xf86freeDisplayList(s->displays);
  xf86optionListFree(s->options);
  std::free(s->comment);
  std::free(s);
}

void ReadTriple(XConfDisplay* d, int* r, int* g, int* b, const char* message) {
  int values[3];
  for (int& v : values) {
    if (xf86getSubToken(&d->comment) != kTokNumber) Fail("%s", message);
    v = xf86tokenValue().num;
  }
  *r = values[0];
  *g = values[1];
  *b = values[2];
}

void ParseDisplayBody(XConfDisplay* d) {
  for (;;) {
    int token = xf86getToken(kDisplayTab);
    char** c = &d->comment;
    switch (token) {
      case kTokEndSubSection: return;
      case kTokComment: d->comment = xf86addComment(d->comment, xf86tokenString()); break;
      case kTokViewport: {
        const char* message = "The Viewport keyword must be followed by an X and Y value.";
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        int x = xf86tokenValue().num;
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        d->viewport_x = x;
        d->viewport_y = xf86tokenValue().num;
        break;
      }
      case kTokVirtual: {
        const char* message = "The Virtual keyword must be followed by a width and height value.";
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        int x = xf86tokenValue().num;
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        d->virtual_x = x;
        d->virtual_y = xf86tokenValue().num;
        break;
      }
      case kTokDepth: d->depth = ExpectInt(c, "Display"); break;
      case kTokFbBpp: d->fbbpp = ExpectInt(c, "Display"); break;
      case kTokVisual: SetString(&d->visual, ExpectString(c, "Display")); break;
      case kTokWeight:
        ReadTriple(d, &d->weight_red, &d->weight_green, &d->weight_blue,
                   "The Weight keyword must be followed by red, green and blue values.");
        break;
      case kTokBlack:
        ReadTriple(d, &d->black_red, &d->black_green, &d->black_blue,
                   "The Black keyword must be followed by red, green and blue values.");
        break;
      case kTokWhite:
        ReadTriple(d, &d->white_red, &d->white_green, &d->white_blue,
                   "The White keyword must be followed by red, green and blue values.");
        break;
      case kTokModes: {
        int t;
        ListAppender<XConfModeName> names(&d->modes);
        while ((t = xf86getSubToken(c)) == kTokString)
          names.Append(NewRecord<XConfModeName>())->name = xf86takeString();
        xf86unGetToken(t);
        break;
      }
      case kTokOption: d->options = xf86parseOption(d->options); break;
      default: FailToken(token);
    }
  }
}

XConfDisplay* xf86parseDisplaySubSection() {
  XConfDisplay* d = NewRecord<XConfDisplay>();
  d->viewport_x = d->viewport_y = -1;
  d->black_red = d->black_green = d->black_blue = -1;
  d->white_red = d->white_green = d->white_blue = -1;
  try {
    ParseDisplayBody(d);
  } catch (const ParseAbort&) {
    FreeDisplay(d);
    throw;
  }
  return d;
}

void ParseScreenBody(XConfScreen* s) {
  bool named = false;
  for (;;) {
    int token = xf86getToken(kScreenTab);
    char** c = &s->comment;
    switch (token) {
      case kTokEndSection:
        if (!named) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment: s->comment = xf86addComment(s->comment, xf86tokenString()); break;
      case kTokIdentifier: {
        char* name = ExpectString(c, "Identifier");
        if (named) {
          std::free(name);
          Fail(kOneOfIdentifierOrDriver, "Identifier or Driver");
        }
        s->identifier = name;
        named = true;
        break;
      }
      case kTokScrDriver: {
        char* name = ExpectString(c, "Driver");
        if (named) {
          std::free(name);
          Fail(kOneOfIdentifierOrDriver, "Identifier or Driver");
        }
        s->driver = name;
        named = true;
        break;
      }
      case kTokScrDevice: SetString(&s->device_name, ExpectString(c, "Device")); break;
      case kTokScrMonitor: SetString(&s->monitor_name, ExpectString(c, "Monitor")); break;
      case kTokVideoAdaptor: {
        char* name = ExpectString(c, "VideoAdaptor");
        bool known = false;
        for (XConfAdaptorLink* l = s->adaptors; l != nullptr; l = l->next)
          known = known || xf86nameCompare(l->name, name) == 0;
        if (known) {
          std::free(name);
          break;
        }
        XConfAdaptorLink* link;
        try {
          link = NewRecord<XConfAdaptorLink>();
        } catch (const ParseAbort&) {
          std::free(name);
          throw;
        }
        link->name = name;
        s->adaptors = xf86addListItem(s->adaptors, link);
        break;
      }
      case kTokDefaultDepth: s->default_depth = ExpectInt(c, "DefaultDepth"); break;
      case kTokDefaultBpp: s->default_bpp = ExpectInt(c, "DefaultBPP"); break;
      case kTokDefaultFbBpp: s->default_fbbpp = ExpectInt(c, "DefaultFbBPP"); break;
      case kTokSubSection:
        std::free(ExpectString(c, "SubSection"));
        s->displays = xf86addListItem(s->displays, xf86parseDisplaySubSection());
        break;
      case kTokOption: s->options = xf86parseOption(s->options); break;
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfScreen* xf86parseScreenSection() {
  XConfScreen* s = nullptr;
  try {
    s = NewRecord<XConfScreen>();
    ParseScreenBody(s);
  } catch (const ParseAbort&) {
    if (s != nullptr) FreeScreen(s);
    return nullptr;
  }
  return s;
}

void xf86printScreenSection(FILE* cf, XConfScreen* list) {
  for (XConfScreen* s = list; s != nullptr; s = s->next) {
    PrintSectionHead(cf, "Screen", s->comment);
    // The grammar takes one of Identifier and Driver: a screen named by its
    // driver keeps its Driver line.
    if (s->identifier != nullptr && s->identifier != s->driver)
      std::fprintf(cf, "\tIdentifier \"%s\"\n", Quoted(s->identifier));
    else if (s->driver != nullptr)
      std::fprintf(cf, "\tDriver     \"%s\"\n", Quoted(s->driver));
    if (s->device_name) std::fprintf(cf, "\tDevice     \"%s\"\n", Quoted(s->device_name));
    if (s->monitor_name) std::fprintf(cf, "\tMonitor    \"%s\"\n", Quoted(s->monitor_name));
    if (s->default_depth) std::fprintf(cf, "\tDefaultDepth     %d\n", s->default_depth);
    if (s->default_bpp) std::fprintf(cf, "\tDefaultBPP     %d\n", s->default_bpp);
    if (s->default_fbbpp) std::fprintf(cf, "\tDefaultFbBPP     %d\n", s->default_fbbpp);
    xf86printOptionList(cf, s->options, 1);
    for (XConfAdaptorLink* l = s->adaptors; l != nullptr; l = l->next)
      std::fprintf(cf, "\tVideoAdaptor \"%s\"\n", Quoted(l->name));
    for (XConfDisplay* d = s->displays; d != nullptr; d = d->next) {
      PrintSubSectionHead(cf, "Display", d->comment);
      if (d->viewport_x >= 0 || d->viewport_y >= 0)
        std::fprintf(cf, "\t\tViewport   %d %d\n", d->viewport_x, d->viewport_y);
      if (d->virtual_x != 0 || d->virtual_y != 0)
        std::fprintf(cf, "\t\tVirtual   %d %d\n", d->virtual_x, d->virtual_y);
      if (d->depth) std::fprintf(cf, "\t\tDepth     %d\n", d->depth);
      if (d->fbbpp) std::fprintf(cf, "\t\tFbBPP     %d\n", d->fbbpp);
      if (d->visual) std::fprintf(cf, "\t\tVisual    \"%s\"\n", Quoted(d->visual));
      if (d->weight_red != 0)
        std::fprintf(cf, "\t\tWeight    %d %d %d\n", d->weight_red, d->weight_green,
                     d->weight_blue);
      if (d->black_red != -1)
        std::fprintf(cf, "\t\tBlack     0x%04x 0x%04x 0x%04x\n", d->black_red, d->black_green,
                     d->black_blue);
      if (d->white_red != -1)
        std::fprintf(cf, "\t\tWhite     0x%04x 0x%04x 0x%04x\n", d->white_red, d->white_green,
                     d->white_blue);
      if (d->modes != nullptr) {
        std::fprintf(cf, "\t\tModes   ");
        for (XConfModeName* m = d->modes; m != nullptr; m = m->next)
          std::fprintf(cf, " \"%s\"", Quoted(m->name));
        std::fprintf(cf, "\n");
      }
      xf86printOptionList(cf, d->options, 2);
      std::fprintf(cf, "\tEndSubSection\n");
    }
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfScreen* xf86findScreen(const char* name, XConfScreen* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

int xf86validateScreen(XConfFile* file) {
  const NameIndex<XConfMonitor> monitors(file->monitors);
  const NameIndex<XConfModes> modes(file->modes);
  const NameIndex<XConfDevice> devices(file->devices);
  const NameIndex<XConfVideoAdaptor> adaptors(file->videoadaptors);
  for (XConfScreen* s = file->screens; s != nullptr; s = s->next) {
    if (s->identifier == nullptr) s->identifier = s->driver;
    if (s->monitor_name != nullptr) {
      s->monitor = monitors.Find(s->monitor_name);
      if (s->monitor == nullptr) {
        xf86validationError("Undefined Monitor \"%s\" referenced by Screen \"%s\".",
                            s->monitor_name, s->identifier);
        return 0;
      }
      if (!ValidateMonitorModes(s, modes)) return 0;
    }
    s->device = devices.Find(s->device_name);
    if (s->device == nullptr) {
      xf86validationError("Undefined Device \"%s\" referenced by Screen \"%s\".",
                          s->device_name != nullptr ? s->device_name : "(null)", s->identifier);
      return 0;
    }
    for (XConfAdaptorLink* l = s->adaptors; l != nullptr; l = l->next) {
      XConfVideoAdaptor* adaptor = adaptors.Find(l->name);
      if (adaptor == nullptr) {
        xf86validationError("Undefined VideoAdaptor \"%s\" referenced by Screen \"%s\".",
                            l->name, s->identifier);
        return 0;
      }
      if (adaptor->screen_identifier != nullptr &&
          xf86nameCompare(adaptor->screen_identifier, s->identifier) != 0) {
        xf86validationError("VideoAdaptor \"%s\" already referenced by Screen \"%s\".",
                            l->name, adaptor->screen_identifier);
        return 0;
      }
      l->adaptor = adaptor;
      SetString(&adaptor->screen_identifier, xf86configStrdup(s->identifier));
    }
  }
  return 1;
}

void xf86freeScreenList(XConfScreen* list) {
  while (list != nullptr) {
    XConfScreen* next = list->next;
    FreeScreen(list);
    list = next;
  }
}

void xf86freeDisplayList(XConfDisplay* list) {
  while (list != nullptr) {
    XConfDisplay* next = list->next;
    FreeDisplay(list);
    list = next;
  }
}

void xf86freeModeList(XConfModeName* list) {
  while (list != nullptr) {
    XConfModeName* next = list->next;
    std::free(list->name);
    std::free(list);
    list = next;
  }
}

void xf86freeAdaptorLinkList(XConfAdaptorLink* list) {
  while (list != nullptr) {
    XConfAdaptorLink* next = list->next;
    std::free(list->name);
    std::free(list);
    list = next;
  }
}
