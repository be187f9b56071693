// Extensions section.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"

using namespace xconf;

namespace {

const XConfKeyword kExtensionsTab[] = {
    {kTokEndSection, "endsection"},
    {kTokOption, "option"},
    {-1, ""},
};

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
