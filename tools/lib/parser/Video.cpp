// VideoAdaptor sections and their VideoPort subsections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kVideoAdaptorTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokVendorName, "vendorname"},
    {kTokBoardName, "BoardName"},
    {kTokBusId, "busid"},
    {kTokDriver, "driver"},
    {kTokOption, "option"},
    {kTokSubSection, "subsection"},
    {-1, ""},
};

const XConfKeyword kVideoPortTab[] = {
    {kTokEndSubSection, "endsubsection"},
    {kTokIdentifier, "identifier"},
    {kTokOption, "option"},
    {-1, ""},
};

void FreePort(XConfVideoPort* port) {
  std::free(port->identifier);
  xf86optionListFree(port->options);
  std::free(port->comment);
  std::free(port);
}

void FreeAdaptor(XConfVideoAdaptor* a) {
  std::free(a->identifier);
  std::free(a->vendor);
  std::free(a->board);
  std::free(a->busid);
  std::free(a->driver);
  xf86optionListFree(a->options);
  xf86freeVideoPortList(a->ports);
  std::free(a->screen_identifier);
  std::free(a->comment);
  std::free(a);
}

void ParsePortBody(XConfVideoPort* port) {
  for (;;) {
    int token = xf86getToken(kVideoPortTab);
    switch (token) {
      case kTokEndSubSection: return;
      case kTokComment: port->comment = xf86addComment(port->comment, xf86tokenString()); break;
      case kTokIdentifier: SetIdentifier(&port->identifier, &port->comment); break;
      case kTokOption: port->options = xf86parseOption(port->options); break;
      default: FailToken(token);
    }
  }
}

XConfVideoPort* xf86parseVideoPortSubSection() {
  XConfVideoPort* port = NewRecord<XConfVideoPort>();
  try {
    ParsePortBody(port);
  } catch (const ParseAbort&) {
    FreePort(port);
    throw;
  }
  return port;
}

void ParseAdaptorBody(XConfVideoAdaptor* a) {
  for (;;) {
    int token = xf86getToken(kVideoAdaptorTab);
    char** c = &a->comment;
    switch (token) {
      case kTokEndSection:
        if (a->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment: a->comment = xf86addComment(a->comment, xf86tokenString()); break;
      case kTokIdentifier: SetIdentifier(&a->identifier, c); break;
      case kTokVendorName: SetString(&a->vendor, ExpectString(c, "Vendor")); break;
      case kTokBoardName: SetString(&a->board, ExpectString(c, "Board")); break;
      case kTokBusId: SetString(&a->busid, ExpectString(c, "BusID")); break;
      case kTokDriver: SetString(&a->driver, ExpectString(c, "Driver")); break;
      case kTokOption: a->options = xf86parseOption(a->options); break;
      case kTokSubSection:
        std::free(ExpectString(c, "SubSection"));
        a->ports = xf86addListItem(a->ports, xf86parseVideoPortSubSection());
        break;
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfVideoAdaptor* xf86parseVideoAdaptorSection() {
  XConfVideoAdaptor* a = nullptr;
  try {
    a = NewRecord<XConfVideoAdaptor>();
    ParseAdaptorBody(a);
  } catch (const ParseAbort&) {
    if (a != nullptr) FreeAdaptor(a);
    return nullptr;
  }
  return a;
}

void xf86printVideoAdaptorSection(FILE* cf, XConfVideoAdaptor* list) {
  for (XConfVideoAdaptor* a = list; a != nullptr; a = a->next) {
    PrintSectionHead(cf, "VideoAdaptor", a->comment);
    if (a->identifier) std::fprintf(cf, "\tIdentifier  \"%s\"\n", Quoted(a->identifier));
    if (a->vendor) std::fprintf(cf, "\tVendorName  \"%s\"\n", Quoted(a->vendor));
    if (a->board) std::fprintf(cf, "\tBoardName   \"%s\"\n", Quoted(a->board));
    if (a->busid) std::fprintf(cf, "\tBusID       \"%s\"\n", Quoted(a->busid));
    if (a->driver) std::fprintf(cf, "\tDriver      \"%s\"\n", Quoted(a->driver));
    xf86printOptionList(cf, a->options, 1);
    for (XConfVideoPort* p = a->ports; p != nullptr; p = p->next) {
      PrintSubSectionHead(cf, "VideoPort", p->comment);
      if (p->identifier) std::fprintf(cf, "\t\tIdentifier \"%s\"\n", Quoted(p->identifier));
      xf86printOptionList(cf, p->options, 2);
      std::fprintf(cf, "\tEndSubSection\n");
    }
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfVideoAdaptor* xf86findVideoAdaptor(const char* name, XConfVideoAdaptor* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

void xf86freeVideoAdaptorList(XConfVideoAdaptor* list) {
  while (list != nullptr) {
    XConfVideoAdaptor* next = list->next;
    FreeAdaptor(list);
    list = next;
  }
}

void xf86freeVideoPortList(XConfVideoPort* list) {
  while (list != nullptr) {
    XConfVideoPort* next = list->next;
    FreePort(list);
    list = next;
  }
}
