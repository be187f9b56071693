// ServerFlags section and the option lists every section shares.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"

using namespace xconf;

namespace {

const XConfKeyword kFlagsTab[] = {
    {kTokEndSection, "endsection"},
    {kTokNoTrapSignals, "notrapsignals"},
    {kTokDontZap, "dontzap"},
    {kTokDontZoom, "dontzoom"},
    {kTokDisableVidMode, "disablevidmodeextension"},
    {kTokAllowNonLocalXvidtune, "allownonlocalxvidtune"},
    {kTokDisableModInDev, "disablemodindev"},
    {kTokAllowNonLocalModInDev, "allownonlocalmodindev"},
    {kTokAllowMouseOpenFail, "allowmouseopenfail"},
    {kTokOption, "option"},
    {kTokBlankTime, "blanktime"},
    {kTokStandbyTime, "standbytime"},
    {kTokSuspendTime, "suspendtime"},
    {kTokOffTime, "offtime"},
    {kTokDefaultLayout, "defaultserverlayout"},
    {-1, ""},
};

// The option name of a flag keyword is the keyword as the table holds it.
const char* FlagName(int token) {
  for (const XConfKeyword* k = kFlagsTab; k->token != -1; ++k) {
    if (k->token == token) return k->name;
  }
  return "";
}

void ParseFlagsBody(XConfFlags* flags) {
  for (;;) {
    int token = xf86getToken(kFlagsTab);
    char** c = &flags->comment;
    switch (token) {
      case kTokEndSection: return;
      case kTokComment: flags->comment = xf86addComment(flags->comment, xf86tokenString()); break;
      case kTokOption: flags->options = xf86parseOption(flags->options); break;
      case kTokNoTrapSignals:
      case kTokDontZap:
      case kTokDontZoom:
      case kTokDisableVidMode:
      case kTokAllowNonLocalXvidtune:
      case kTokDisableModInDev:
      case kTokAllowNonLocalModInDev:
      case kTokAllowMouseOpenFail:
        flags->options =
            xf86addNewOption(flags->options, xf86configStrdup(FlagName(token)), nullptr);
        break;
      case kTokBlankTime:
      case kTokStandbyTime:
      case kTokSuspendTime:
      case kTokOffTime: {
        int value = ExpectInt(c, FlagName(token));
        flags->options = xf86addNewOption(flags->options, xf86configStrdup(FlagName(token)),
                                          xf86configStrdup(std::to_string(value).c_str()));
        break;
      }
      case kTokDefaultLayout: {
        char* value = ExpectString(c, FlagName(token));
        flags->options =
            xf86addNewOption(flags->options, xf86configStrdup(FlagName(token)), value);
        break;
      }
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfFlags* xf86parseFlagsSection() {
  XConfFlags* flags = nullptr;
  try {
    flags = NewRecord<XConfFlags>();
    ParseFlagsBody(flags);
  } catch (const ParseAbort&) {
    xf86freeFlags(flags);
    return nullptr;
  }
  return flags;
}

void xf86printServerFlagsSection(FILE* cf, XConfFlags* flags) {
  // A section with only comments is kept for its comments.
  if (flags == nullptr || (flags->options == nullptr && flags->comment == nullptr)) return;
  PrintSectionHead(cf, "ServerFlags", flags->comment);
  xf86printOptionList(cf, flags->options, 1);
  std::fprintf(cf, "EndSection\n\n");
}

void xf86freeFlags(XConfFlags* flags) {
  if (flags == nullptr) return;
  xf86optionListFree(flags->options);
  std::free(flags->comment);
  std::free(flags);
}

namespace {

void FreeOption(XConfOption* option) {
  std::free(option->name);
  std::free(option->value);
  std::free(option->comment);
  std::free(option);
}

}  // namespace

XConfOption* xf86newOption(char* name, char* value) {
  auto* option = static_cast<XConfOption*>(std::calloc(1, sizeof(XConfOption)));
  if (option == nullptr) {
    std::free(name);
    std::free(value);
    return nullptr;
  }
  option->name = name;
  option->value = value;
  return option;
}

XConfOption* addNewOption2(XConfOption* list, char* name, char* value, int used) {
  XConfOption* option = xf86findOption(list, name);
  if (option != nullptr) {
    std::free(option->name);
    std::free(option->value);
    option->name = name;
    option->value = value;
    option->used = used;
    return list;
  }
  option = xf86newOption(name, value);
  if (option == nullptr) return list;
  option->used = used;
  return xf86addListItem(list, option);
}

XConfOption* xf86addNewOption(XConfOption* list, char* name, char* value) {
  return addNewOption2(list, name, value, 0);
}

XConfOption* xf86optionListCreate(const char** pairs, int count, int used) {
  if (count == -1) {
    count = 0;
    while (pairs[count] != nullptr) ++count;
  }
  if (count % 2 != 0) {
    std::fprintf(stderr, "xf86optionListCreate: count must be an even number.\n");
    return nullptr;
  }
  XConfOption* list = nullptr;
  for (int i = 0; i < count; i += 2) {
    list = addNewOption2(list, xf86configStrdup(pairs[i]), xf86configStrdup(pairs[i + 1]), used);
  }
  return list;
}

XConfOption* xf86optionListDup(XConfOption* list) {
  XConfOption* copy = nullptr;
  for (XConfOption* o = list; o != nullptr; o = o->next) {
    XConfOption* option = xf86newOption(xf86configStrdup(o->name), xf86configStrdup(o->value));
    if (option == nullptr) break;
    option->used = o->used;
    option->comment = xf86configStrdup(o->comment);
    copy = xf86addListItem(copy, option);
  }
  return copy;
}

XConfOption* xf86optionListMerge(XConfOption* head, XConfOption* tail) {
  XConfOption* rest = nullptr;
  XConfOption* next;
  for (XConfOption* t = tail; t != nullptr; t = next) {
    next = t->next;
    t->next = nullptr;
    XConfOption* prev = nullptr;
    XConfOption* h = head;
    while (h != nullptr && xf86nameCompare(h->name, t->name) != 0) {
      prev = h;
      h = h->next;
    }
    if (h != nullptr) {
      // The tail entry takes the place of the head entry of that name.
      t->next = h->next;
      if (prev != nullptr) prev->next = t;
      else head = t;
      FreeOption(h);
    } else {
      rest = xf86addListItem(rest, t);
    }
  }
  return xf86addListItem(head, rest);
}

XConfOption* xf86findOption(XConfOption* list, const char* name) {
  for (XConfOption* o = list; o != nullptr; o = o->next) {
    if (xf86nameCompare(o->name, name) == 0) return o;
  }
  return nullptr;
}

char* xf86findOptionValue(XConfOption* list, const char* name) {
  XConfOption* option = xf86findOption(list, name);
  if (option == nullptr) return nullptr;
  return option->value != nullptr ? option->value : const_cast<char*>("");
}

char* xf86optionName(XConfOption* option) { return option != nullptr ? option->name : nullptr; }

char* xf86optionValue(XConfOption* option) { return option != nullptr ? option->value : nullptr; }

XConfOption* xf86nextOption(XConfOption* option) {
  return option != nullptr ? option->next : nullptr;
}

void xf86optionListFree(XConfOption* list) {
  while (list != nullptr) {
    XConfOption* next = list->next;
    FreeOption(list);
    list = next;
  }
}

void xf86printOptionList(FILE* stream, XConfOption* list, int tabs) {
  for (XConfOption* o = list; o != nullptr; o = o->next) {
    for (int i = 0; i < tabs; ++i) std::fputc('\t', stream);
    if (o->value != nullptr)
      std::fprintf(stream, "Option\t    \"%s\" \"%s\"", xconf::Quoted(o->name),
                   xconf::Quoted(o->value));
    else
      std::fprintf(stream, "Option\t    \"%s\"", xconf::Quoted(o->name));
    if (o->comment != nullptr) xconf::PrintComment(stream, o->comment);
    else std::fputc('\n', stream);
  }
}

void xf86debugListOptions(XConfOption* list) {
  for (XConfOption* o = list; o != nullptr; o = o->next) {
    std::fprintf(stderr, "Option: %s Value: %s\n", o->name != nullptr ? o->name : "",
                 o->value != nullptr ? o->value : "");
  }
}

char* xf86uLongToString(unsigned long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%lu", value);
  return strdup(buffer);
}

XConfOption* xf86parseOption(XConfOption* list) {
  char* comment = nullptr;
  int token = xf86getSubToken(&comment);
  if (token != kTokString) {
    xf86parseError("The Option keyword requires 1 or 2 quoted strings to follow it.");
    std::free(comment);
    return list;
  }
  char* name = xf86takeString();
  char* value = nullptr;
  token = xf86getSubToken(&comment);
  if (token == kTokString) {
    value = xf86takeString();
    token = xf86getToken(nullptr);
    if (token == kTokComment) comment = xf86addComment(comment, xf86tokenString());
    else xf86unGetToken(token);
  } else {
    xf86unGetToken(token);
  }
  XConfOption* existing = xf86findOption(list, name);
  if (existing != nullptr) {
    // The first of two like-named lines wins; its comment keeps the other's.
    if (comment != nullptr) {
      std::string joined = existing->comment != nullptr ? existing->comment : "";
      const char* added = comment;
      // One line break between the two, never an empty line.
      if (!joined.empty() && joined.back() != '\n') joined += '\n';
      if (!joined.empty() && added[0] == '\n') ++added;
      joined += added;
      std::free(existing->comment);
      existing->comment = xf86configStrdup(joined.c_str());
    }
    std::free(name);
    std::free(value);
    std::free(comment);
    return list;
  }
  XConfOption* option = xf86newOption(name, value);
  if (option == nullptr) {
    std::free(comment);
    return list;
  }
  option->comment = comment;
  return xf86addListItem(list, option);
}
