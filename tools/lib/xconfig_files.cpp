// Files and Module sections.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_print.h"
#include "tools/lib/xconfig_scanner.h"

using namespace xconf;

namespace {

const XConfKeyword kFilesTab[] = {
    {kTokEndSection, "endsection"},
    {kTokFontPath, "fontpath"},
    {kTokRgbPath, "rgbpath"},
    {kTokModulePath, "modulepath"},
    {kTokInputDevices, "inputdevices"},
    {kTokLogFile, "logfile"},
    {-1, ""},
};

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

// Paths that may repeat join into one comma-separated list.
void AppendPath(char** field, char* added) {
  if (*field == nullptr) {
    *field = added;
    return;
  }
  std::string joined = *field;
  if (joined.empty() || joined.back() != ',') joined += ",";
  joined += added;
  std::free(added);
  SetString(field, xf86configStrdup(joined.c_str()));
}

void ParseFilesBody(XConfFiles* files) {
  for (;;) {
    int token = xf86getToken(kFilesTab);
    char** c = &files->comment;
    switch (token) {
      case kTokEndSection: return;
      case kTokComment: files->comment = xf86addComment(files->comment, xf86tokenString()); break;
      case kTokLogFile: SetString(&files->logfile, ExpectString(c, "LogFile")); break;
      case kTokRgbPath: SetString(&files->rgbpath, ExpectString(c, "RGBPath")); break;
      case kTokModulePath: AppendPath(&files->modulepath, ExpectString(c, "ModulePath")); break;
      case kTokInputDevices:
        AppendPath(&files->inputdevices, ExpectString(c, "InputDevices"));
        break;
      case kTokFontPath: AppendPath(&files->fontpath, ExpectString(c, "FontPath")); break;
      default: FailToken(token);
    }
  }
}

void PrintPathList(FILE* cf, const char* format, const char* list) {
  if (list == nullptr) return;
  std::string all = list;
  size_t start = 0;
  for (;;) {
    size_t comma = all.find(',', start);
    std::string part = all.substr(start, comma == std::string::npos ? std::string::npos
                                                                    : comma - start);
    std::fprintf(cf, format, Quoted(part.c_str()));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

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

void ParseModuleSub(XConfLoad* load) {
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
        auto* load = static_cast<XConfLoad*>(std::calloc(1, sizeof(XConfLoad)));
        if (load == nullptr) {
          std::free(name);
          throw ParseAbort{};
        }
        load->kind = token == kTokLoad ? kConfLoadModule : kConfLoadDriver;
        load->name = name;
        module->loads = xf86addListItem(module->loads, load);
        int t = xf86getToken(nullptr);
        if (t == kTokComment) load->comment = xf86addComment(load->comment, xf86tokenString());
        else xf86unGetToken(t);
        break;
      }
      case kTokSubSection: {
        char* name = ExpectString(c, "SubSection");
        auto* load = static_cast<XConfLoad*>(std::calloc(1, sizeof(XConfLoad)));
        if (load == nullptr) {
          std::free(name);
          throw ParseAbort{};
        }
        load->kind = kConfLoadModule;
        load->name = name;
        module->loads = xf86addListItem(module->loads, load);
        ParseModuleSub(load);
        break;
      }
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfFiles* xf86parseFilesSection() {
  XConfFiles* files = nullptr;
  try {
    files = NewRecord<XConfFiles>();
    ParseFilesBody(files);
  } catch (const ParseAbort&) {
    xf86freeFiles(files);
    return nullptr;
  }
  return files;
}

void xf86printFileSection(FILE* cf, XConfFiles* files) {
  if (files == nullptr) return;
  if (files->logfile) std::fprintf(cf, "\tLogFile      \"%s\"\n", Quoted(files->logfile));
  if (files->rgbpath) std::fprintf(cf, "\tRgbPath      \"%s\"\n", Quoted(files->rgbpath));
  PrintPathList(cf, "\tModulePath   \"%s\"\n", files->modulepath);
  PrintPathList(cf, "\tInputDevices   \"%s\"\n", files->inputdevices);
  PrintPathList(cf, "\tFontPath     \"%s\"\n", files->fontpath);
}

void xf86freeFiles(XConfFiles* files) {
  if (files == nullptr) return;
  std::free(files->logfile);
  std::free(files->rgbpath);
  std::free(files->modulepath);
  std::free(files->inputdevices);
  std::free(files->fontpath);
  std::free(files->comment);
  std::free(files);
}

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
