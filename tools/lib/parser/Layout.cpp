// ServerLayout sections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kLayoutTab[] = {
    {kTokEndSection, "endsection"},
    {kTokScreen, "screen"},
    {kTokIdentifier, "identifier"},
    {kTokInactive, "inactive"},
    {kTokInputDevice, "inputdevice"},
    {kTokOption, "option"},
    {-1, ""},
};

const XConfKeyword kPositionTab[] = {
    {kTokRightOf, "rightof"},
    {kTokLeftOf, "leftof"},
    {kTokAbove, "above"},
    {kTokBelow, "below"},
    {kTokRelative, "relative"},
    {kTokAbsolute, "Absolute"},
    {-1, ""},
};

constexpr const char* kMsgInvalidScreenLine = "Invalid Screen line.";
constexpr const char* kMsgScreenLine =
    "The Screen keyword must be followed by an optional number, a screen name\n\tin quotes, "
    "and optional position/layout information.";

void FreeAdjacency(XConfAdjacency* adj) {
  std::free(adj->screen_name);
  for (char* name : adj->legacy) std::free(name);
  std::free(adj->refscreen);
  std::free(adj);
}

void FreeLayout(XConfLayout* layout) {
  std::free(layout->identifier);
  xf86freeAdjacencyList(layout->adjacencies);
  xf86freeInactiveList(layout->inactives);
  xf86freeInputrefList(layout->inputs);
  xf86optionListFree(layout->options);
  std::free(layout->comment);
  std::free(layout);
}

// Reads a token that must be of the given kind for a valid Screen line; a
// missing part, end of file included, makes the line invalid.
void ExpectScreenPart(char** comment, int wanted, const char* message) {
  if (xf86getSubToken(comment) != wanted) Fail("%s", message);
}

void ParseScreenLine(XConfLayout* layout, ListAppender<XConfAdjacency>* lines) {
  char** c = &layout->comment;
  auto* adj = lines->Append(NewRecord<XConfAdjacency>());
  adj->screen_num = -1;
  adj->x = adj->y = -1;
  adj->where = kConfPosAbsolute;

  int token = xf86getSubToken(c);
  if (token == kTokNumber) {
    adj->screen_num = xf86tokenValue().num;
    token = xf86getSubToken(c);
  }
  if (token != kTokString) Fail("%s", kMsgScreenLine);
  adj->screen_name = xf86takeString();

  token = xf86getSubTokenWithTab(c, kPositionTab);
  switch (token) {
    case kTokRightOf:
    case kTokLeftOf:
    case kTokAbove:
    case kTokBelow:
      adj->where = token == kTokRightOf  ? kConfPosRightOf
                   : token == kTokLeftOf ? kConfPosLeftOf
                   : token == kTokAbove  ? kConfPosAbove
                                         : kConfPosBelow;
      ExpectScreenPart(c, kTokString, kMsgInvalidScreenLine);
      adj->refscreen = xf86takeString();
      break;
    case kTokRelative:
      adj->where = kConfPosRelative;
      ExpectScreenPart(c, kTokString, kMsgInvalidScreenLine);
      adj->refscreen = xf86takeString();
      ExpectScreenPart(c, kTokNumber, kMsgInvalidScreenLine);
      adj->x = xf86tokenValue().num;
      ExpectScreenPart(c, kTokNumber, kMsgInvalidScreenLine);
      adj->y = xf86tokenValue().num;
      break;
    case kTokAbsolute:
      adj->where = kConfPosAbsolute;
      ExpectScreenPart(c, kTokNumber, kMsgInvalidScreenLine);
      adj->x = xf86tokenValue().num;
      ExpectScreenPart(c, kTokNumber, kMsgInvalidScreenLine);
      adj->y = xf86tokenValue().num;
      break;
    case kTokEof:
      Fail("%s", kMsgUnexpectedEof);
    case kTokString:
      adj->where = kConfPosLegacy;
      adj->legacy[0] = xf86takeString();
      // The legacy form names all four neighbours.
      for (int i = 1; i < 4; ++i) {
        ExpectScreenPart(c, kTokString, kMsgScreenLine);
        adj->legacy[i] = xf86takeString();
      }
      break;
    case kTokNumber:
      adj->x = xf86tokenValue().num;
      ExpectScreenPart(c, kTokNumber, kMsgInvalidScreenLine);
      adj->y = xf86tokenValue().num;
      break;
    default:
      xf86unGetToken(token);
      break;
  }
}

void ParseLayoutBody(XConfLayout* layout) {
  ListAppender<XConfAdjacency> lines(&layout->adjacencies);
  ListAppender<XConfInactive> inactives(&layout->inactives);
  ListAppender<XConfInputRef> inputs(&layout->inputs);
  for (;;) {
    int token = xf86getToken(kLayoutTab);
    char** c = &layout->comment;
    switch (token) {
      case kTokEndSection:
        if (layout->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment:
        layout->comment = xf86addComment(layout->comment, xf86tokenString());
        break;
      case kTokIdentifier: SetIdentifier(&layout->identifier, c); break;
      case kTokScreen: ParseScreenLine(layout, &lines); break;
      case kTokInactive: {
        if (xf86getSubToken(c) != kTokString)
          Fail("The Inactive keyword must be followed by a Device name in quotes.");
        auto* inactive = inactives.Append(NewRecord<XConfInactive>());
        inactive->device_name = xf86takeString();
        break;
      }
      case kTokInputDevice: {
        if (xf86getSubToken(c) != kTokString)
          Fail("The InputDevice keyword must be followed by an input device name in quotes.");
        auto* ref = inputs.Append(NewRecord<XConfInputRef>());
        ref->input_name = xf86takeString();
        int t;
        while ((t = xf86getSubToken(c)) == kTokString)
          ref->options = xf86addNewOption(ref->options, xf86takeString(), nullptr);
        xf86unGetToken(t);
        break;
      }
      case kTokOption: layout->options = xf86parseOption(layout->options); break;
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfLayout* xf86parseLayoutSection() {
  XConfLayout* layout = nullptr;
  try {
    layout = NewRecord<XConfLayout>();
    ParseLayoutBody(layout);
  } catch (const ParseAbort&) {
    if (layout != nullptr) FreeLayout(layout);
    return nullptr;
  }
  return layout;
}

void xf86printLayoutSection(FILE* cf, XConfLayout* list) {
  for (XConfLayout* l = list; l != nullptr; l = l->next) {
    PrintSectionHead(cf, "ServerLayout", l->comment);
    if (l->identifier) std::fprintf(cf, "\tIdentifier     \"%s\"\n", Quoted(l->identifier));
    for (XConfAdjacency* a = l->adjacencies; a != nullptr; a = a->next) {
      std::fprintf(cf, "\tScreen     ");
      if (a->screen_num >= 0) std::fprintf(cf, "%2d", a->screen_num);
      else std::fprintf(cf, "  ");
      std::fprintf(cf, "  \"%s\"", Quoted(a->screen_name));
      const char* ref = a->refscreen != nullptr ? a->refscreen : "";
      switch (a->where) {
        case kConfPosLegacy:
          for (const char* name : a->legacy)
            std::fprintf(cf, " \"%s\"", Quoted(name != nullptr ? name : ""));
          std::fprintf(cf, "\n");
          break;
        case kConfPosAbsolute:
          if (a->x == -1) std::fprintf(cf, "\n");
          else std::fprintf(cf, " %d %d\n", a->x, a->y);
          break;
        case kConfPosRightOf: std::fprintf(cf, " RightOf \"%s\"\n", Quoted(ref)); break;
        case kConfPosLeftOf: std::fprintf(cf, " LeftOf \"%s\"\n", Quoted(ref)); break;
        case kConfPosAbove: std::fprintf(cf, " Above \"%s\"\n", Quoted(ref)); break;
        case kConfPosBelow: std::fprintf(cf, " Below \"%s\"\n", Quoted(ref)); break;
        case kConfPosRelative:
          std::fprintf(cf, " Relative \"%s\" %d %d\n", Quoted(ref), a->x, a->y);
          break;
        default: std::fprintf(cf, "\n"); break;
      }
    }
    for (XConfInactive* i = l->inactives; i != nullptr; i = i->next)
      std::fprintf(cf, "\tInactive       \"%s\"\n", Quoted(i->device_name));
    for (XConfInputRef* r = l->inputs; r != nullptr; r = r->next) {
      std::fprintf(cf, "\tInputDevice    \"%s\"", Quoted(r->input_name));
      for (XConfOption* o = r->options; o != nullptr; o = o->next)
        std::fprintf(cf, " \"%s\"", Quoted(o->name));
      std::fprintf(cf, "\n");
    }
    xf86printOptionList(cf, l->options, 1);
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfLayout* xf86findLayout(const char* name, XConfLayout* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

int xf86validateLayout(XConfFile* file) {
  const NameIndex<XConfScreen> screens(file->screens);
  const NameIndex<XConfDevice> devices(file->devices);
  const NameIndex<XConfInput> inputs(file->inputs);
  for (XConfLayout* l = file->layouts; l != nullptr; l = l->next) {
    for (XConfAdjacency* a = l->adjacencies; a != nullptr; a = a->next) {
      a->screen = screens.Find(a->screen_name);
      if (a->screen == nullptr) {
        xf86validationError("Undefined Screen \"%s\" referenced by ServerLayout \"%s\".",
                            a->screen_name, l->identifier);
        return 0;
      }
    }
    for (XConfInactive* i = l->inactives; i != nullptr; i = i->next) {
      i->device = devices.Find(i->device_name);
      if (i->device == nullptr) {
        xf86validationError("Undefined Device \"%s\" referenced by ServerLayout \"%s\".",
                            i->device_name, l->identifier);
        return 0;
      }
    }
    for (XConfInputRef* r = l->inputs; r != nullptr; r = r->next) {
      r->input = inputs.Find(r->input_name);
      if (r->input == nullptr) {
        xf86validationError("Undefined InputDevice \"%s\" referenced by ServerLayout \"%s\".",
                            r->input_name, l->identifier);
        return 0;
      }
    }
  }
  return 1;
}

void xf86freeLayoutList(XConfLayout* list) {
  while (list != nullptr) {
    XConfLayout* next = list->next;
    FreeLayout(list);
    list = next;
  }
}

void xf86freeAdjacencyList(XConfAdjacency* list) {
  while (list != nullptr) {
    XConfAdjacency* next = list->next;
    FreeAdjacency(list);
    list = next;
  }
}

void xf86freeInactiveList(XConfInactive* list) {
  while (list != nullptr) {
    XConfInactive* next = list->next;
    std::free(list->device_name);
    std::free(list);
    list = next;
  }
}

void xf86freeInputrefList(XConfInputRef* list) {
  while (list != nullptr) {
    XConfInputRef* next = list->next;
    std::free(list->input_name);
    xf86optionListFree(list->options);
    std::free(list);
    list = next;
  }
}
