// ServerFlags and Extensions sections.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_print.h"
#include "tools/lib/xconfig_scanner.h"

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

const XConfKeyword kExtensionsTab[] = {
    {kTokEndSection, "endsection"},
    {kTokOption, "option"},
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

void ParseExtensionsBody(XConfExtensions* ext) {
  for (;;) {
    int token = xf86getToken(kExtensionsTab);
    switch (token) {
      case kTokEndSection: return;
      case kTokComment: ext->comment = xf86addComment(ext->comment, xf86tokenString()); break;
      case kTokOption: ext->options = xf86parseOption(ext->options); break;
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

XConfExtensions* xf86parseExtensionsSection() {
  XConfExtensions* ext = nullptr;
  try {
    ext = NewRecord<XConfExtensions>();
    ParseExtensionsBody(ext);
  } catch (const ParseAbort&) {
    xf86freeExtensions(ext);
    return nullptr;
  }
  return ext;
}

void xf86printExtensionsSection(FILE* cf, XConfExtensions* ext) {
  if (ext == nullptr || (ext->options == nullptr && ext->comment == nullptr)) return;
  PrintSectionHead(cf, "Extensions", ext->comment);
  xf86printOptionList(cf, ext->options, 1);
  std::fprintf(cf, "EndSection\n\n");
}

void xf86freeExtensions(XConfExtensions* ext) {
  if (ext == nullptr) return;
  xf86optionListFree(ext->options);
  std::free(ext->comment);
  std::free(ext);
}
