// DRI sections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kDriTab[] = {
    {kTokEndSection, "endsection"},
    {kTokGroup, "group"},
    {kTokBuffers, "buffers"},
    {kTokMode, "mode"},
    {-1, ""},
};

void xf86parseBuffers(XConfDri* dri) {
  auto* buffers = NewRecord<XConfBuffers>();
  dri->buffers = xf86addListItem(dri->buffers, buffers);
  if (xf86getSubToken(&buffers->comment) != kTokNumber) Fail("Buffers count expected");
  buffers->count = xf86tokenValue().num;
  if (xf86getSubToken(&buffers->comment) != kTokNumber) Fail("Buffers size expected");
  buffers->size = xf86tokenValue().num;
  int token = xf86getSubToken(&buffers->comment);
  if (token != kTokString) {
    xf86unGetToken(token);
    return;
  }
  buffers->flags = xf86takeString();
  token = xf86getToken(nullptr);
  if (token == kTokComment) buffers->comment = xf86addComment(buffers->comment, xf86tokenString());
  else xf86unGetToken(token);
}

void ParseDriBody(XConfDri* dri) {
  for (;;) {
    int token = xf86getToken(kDriTab);
    char** c = &dri->comment;
    switch (token) {
      case kTokEndSection: return;
      case kTokComment: dri->comment = xf86addComment(dri->comment, xf86tokenString()); break;
      case kTokGroup: {
        int t = xf86getSubToken(c);
        if (t == kTokString) {
          SetString(&dri->group_name, xf86takeString());
        } else if (t == kTokNumber) {
          dri->group = xf86tokenValue().num;
        } else {
          Fail("The Group keyword must be followed by either a group name in quotes or\n\ta "
               "numerical group id.");
        }
        break;
      }
      case kTokMode: dri->mode = ExpectInt(c, "Mode"); break;
      case kTokBuffers: xf86parseBuffers(dri); break;
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfDri* xf86parseDRISection() {
  XConfDri* dri = nullptr;
  try {
    dri = NewRecord<XConfDri>();
    dri->group = -1;
    ParseDriBody(dri);
  } catch (const ParseAbort&) {
    xf86freeDRI(dri);
    return nullptr;
  }
  return dri;
}

void xf86printDRISection(FILE* cf, XConfDri* dri) {
  if (dri == nullptr) return;
  PrintSectionHead(cf, "DRI", dri->comment);
  if (dri->group_name) std::fprintf(cf, "\tGroup        \"%s\"\n", Quoted(dri->group_name));
  else if (dri->group >= 0) std::fprintf(cf, "\tGroup        %d\n", dri->group);
  if (dri->mode) std::fprintf(cf, "\tMode         0%o\n", static_cast<unsigned>(dri->mode));
  for (XConfBuffers* b = dri->buffers; b != nullptr; b = b->next) {
    std::fprintf(cf, "\tBuffers      %d %d", b->count, b->size);
    if (b->flags) std::fprintf(cf, " \"%s\"", Quoted(b->flags));
    PrintTrailingComment(cf, b->comment);
  }
  std::fprintf(cf, "EndSection\n\n");
}

void xf86freeDRI(XConfDri* dri) {
  if (dri == nullptr) return;
  std::free(dri->group_name);
  xf86freeBuffersList(dri->buffers);
  std::free(dri->comment);
  std::free(dri);
}

void xf86freeBuffersList(XConfBuffers* list) {
  while (list != nullptr) {
    XConfBuffers* next = list->next;
    std::free(list->flags);
    std::free(list->comment);
    std::free(list);
    list = next;
  }
}
