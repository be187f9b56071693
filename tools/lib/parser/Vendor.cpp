// Vendor sections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kVendorTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokOption, "option"},
    {kTokSubSection, "subsection"},
    {-1, ""},
};

const XConfKeyword kVendorSubTab[] = {
    {kTokEndSubSection, "endsubsection"},
    {kTokIdentifier, "identifier"},
    {kTokOption, "option"},
    {-1, ""},
};

void FreeVendor(XConfVendor* vendor) {
  std::free(vendor->identifier);
  xf86optionListFree(vendor->options);
  xf86freeVendorSubList(vendor->subs);
  std::free(vendor->comment);
  std::free(vendor);
}

void xf86parseVendorSubSection(XConfVendorSub* sub) {
  for (;;) {
    int token = xf86getToken(kVendorSubTab);
    switch (token) {
      case kTokEndSubSection: return;
      case kTokComment: sub->comment = xf86addComment(sub->comment, xf86tokenString()); break;
      case kTokIdentifier: SetIdentifier(&sub->identifier, &sub->comment); break;
      case kTokOption: sub->options = xf86parseOption(sub->options); break;
      default: FailToken(token);
    }
  }
}

void ParseVendorBody(XConfVendor* vendor) {
  for (;;) {
    int token = xf86getToken(kVendorTab);
    char** c = &vendor->comment;
    switch (token) {
      case kTokEndSection:
        if (vendor->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment: vendor->comment = xf86addComment(vendor->comment, xf86tokenString()); break;
      case kTokIdentifier: SetIdentifier(&vendor->identifier, c); break;
      case kTokOption: vendor->options = xf86parseOption(vendor->options); break;
      case kTokSubSection: {
        auto* sub = NewRecord<XConfVendorSub>();
        vendor->subs = xf86addListItem(vendor->subs, sub);
        sub->name = ExpectString(c, "SubSection");
        xf86parseVendorSubSection(sub);
        break;
      }
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfVendor* xf86parseVendorSection() {
  XConfVendor* vendor = nullptr;
  try {
    vendor = NewRecord<XConfVendor>();
    ParseVendorBody(vendor);
  } catch (const ParseAbort&) {
    if (vendor != nullptr) FreeVendor(vendor);
    return nullptr;
  }
  return vendor;
}

void xf86printVendorSection(FILE* cf, XConfVendor* list) {
  for (XConfVendor* v = list; v != nullptr; v = v->next) {
    PrintSectionHead(cf, "Vendor", v->comment);
    if (v->identifier) std::fprintf(cf, "\tIdentifier     \"%s\"\n", Quoted(v->identifier));
    xf86printOptionList(cf, v->options, 1);
    for (XConfVendorSub* s = v->subs; s != nullptr; s = s->next) {
      // The subsection keeps the name it was read with.
      PrintSubSectionHead(cf, s->name != nullptr ? s->name : "Vendor", s->comment);
      if (s->identifier) std::fprintf(cf, "\t\tIdentifier \"%s\"\n", Quoted(s->identifier));
      xf86printOptionList(cf, s->options, 2);
      std::fprintf(cf, "\tEndSubSection\n");
    }
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfVendor* xf86findVendor(const char* name, XConfVendor* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

void xf86freeVendorList(XConfVendor* list) {
  while (list != nullptr) {
    XConfVendor* next = list->next;
    FreeVendor(list);
    list = next;
  }
}

void xf86freeVendorSubList(XConfVendorSub* list) {
  while (list != nullptr) {
    XConfVendorSub* next = list->next;
    std::free(list->name);
    std::free(list->identifier);
    xf86optionListFree(list->options);
    std::free(list->comment);
    std::free(list);
    list = next;
  }
}
