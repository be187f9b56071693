// Module section.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kModuleTab[] = {
    {kTokEndSection, "endsection"},
    {kTokLoad, "load"},
    {kTokLoadDriver, "loaddriver"},
    {kTokSubSection, "subsection"},
    {-1, ""},
};

const XConfKeyword kModuleSubTab[] = {
    {kTokEndSubSection, "endsubsection"},
    {kTokOption, "option"},
    {-1, ""},
};

void FreeLoads(XConfLoad* load) {
  while (load != nullptr) {
    XConfLoad* next = load->next;
    std::free(load->name);
    xf86optionListFree(load->options);
    std::free(load->comment);
    std::free(load);
    load = next;
  }
}

// Appends a load of the module or driver `name` (taken over) to the
// section's list and answers it.
XConfLoad* xf86addNewLoadDirective(XConfModule* module, char* name, int kind) {
  auto* load = static_cast<XConfLoad*>(std::calloc(1, sizeof(XConfLoad)));
  if (load == nullptr) {
    std::free(name);
    throw ParseAbort{};
  }
  load->kind = kind;
  load->name = name;
  module->loads = xf86addListItem(module->loads, load);
  return load;
}

void xf86parseModuleSubSection(XConfLoad* load) {
  for (;;) {
    int token = xf86getToken(kModuleSubTab);
    switch (token) {
      case kTokEndSubSection: return;
      case kTokComment: load->comment = xf86addComment(load->comment, xf86tokenString()); break;
      case kTokOption: load->options = xf86parseOption(load->options); break;
      default: FailToken(token);
    }
  }
}

void ParseModuleBody(XConfModule* module) {
  for (;;) {
    int token = xf86getToken(kModuleTab);
    char** c = &module->comment;
    switch (token) {
      case kTokEndSection: return;
      case kTokComment:
        module->comment = xf86addComment(module->comment, xf86tokenString());
        break;
      case kTokLoad:
      case kTokLoadDriver: {
        char* name = ExpectString(c, token == kTokLoad ? "Load" : "LoadDriver");
        XConfLoad* load =
            xf86addNewLoadDirective(module, name, token == kTokLoad ? kConfLoadModule : kConfLoadDriver);
        int t = xf86getToken(nullptr);
        if (t == kTokComment) load->comment = xf86addComment(load->comment, xf86tokenString());
        else xf86unGetToken(t);
        break;
      }
      case kTokSubSection: {
        char* name = ExpectString(c, "SubSection");
        xf86parseModuleSubSection(xf86addNewLoadDirective(module, name, kConfLoadModule));
        break;
      }
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfModule* xf86parseModuleSection() {
  XConfModule* module = nullptr;
  try {
    module = NewRecord<XConfModule>();
    ParseModuleBody(module);
  } catch (const ParseAbort&) {
    xf86freeModules(module);
    return nullptr;
  }
  return module;
}

void xf86printModuleSection(FILE* cf, XConfModule* module) {
  if (module == nullptr) return;
  for (XConfLoad* l = module->loads; l != nullptr; l = l->next) {
    if (l->kind == kConfLoadModule && l->options != nullptr) {
      PrintSubSectionHead(cf, l->name, l->comment);
      xf86printOptionList(cf, l->options, 2);
      std::fprintf(cf, "\tEndSubSection\n");
    } else {
      if (l->kind == kConfLoadModule) std::fprintf(cf, "\tLoad  \"%s\"", Quoted(l->name));
      else std::fprintf(cf, "\tLoadDriver  \"%s\"", Quoted(l->name));
      PrintTrailingComment(cf, l->comment);
    }
  }
}

void xf86freeModules(XConfModule* module) {
  if (module == nullptr) return;
  FreeLoads(module->loads);
  std::free(module->comment);
  std::free(module);
}
