// InputDevice sections, and the input-device records that the legacy
// Keyboard and Pointer sections become.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kInputTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokOption, "option"},
    {kTokDriver, "driver"},
    {-1, ""},
};

void ParseInputBody(XConfInput* input) {
  for (;;) {
    int token = xf86getToken(kInputTab);
    char** c = &input->comment;
    switch (token) {
      case kTokEndSection:
        if (input->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment: input->comment = xf86addComment(input->comment, xf86tokenString()); break;
      case kTokIdentifier: SetIdentifier(&input->identifier, c); break;
      case kTokDriver: SetString(&input->driver, ExpectString(c, "Driver")); break;
      case kTokOption: input->options = xf86parseOption(input->options); break;
      default: FailToken(token);
    }
  }
}

}  // namespace

void xconf::FreeInput(XConfInput* input) {
  std::free(input->identifier);
  std::free(input->driver);
  xf86optionListFree(input->options);
  std::free(input->comment);
  std::free(input);
}

void xconf::AddInputOption(XConfInput* input, const char* name, char* value) {
  input->options = xf86addNewOption(input->options, xf86configStrdup(name), value);
}

XConfInput* xconf::ParseInputRecord(void (*body)(XConfInput*)) {
  XConfInput* input = nullptr;
  try {
    input = NewRecord<XConfInput>();
    body(input);
  } catch (const ParseAbort&) {
    if (input != nullptr) FreeInput(input);
    return nullptr;
  }
  return input;
}

XConfInput* xf86parseInputSection() { return ParseInputRecord(ParseInputBody); }

void xf86printInputSection(FILE* cf, XConfInput* list) {
  for (XConfInput* i = list; i != nullptr; i = i->next) {
    PrintSectionHead(cf, "InputDevice", i->comment);
    if (i->identifier) std::fprintf(cf, "\tIdentifier  \"%s\"\n", Quoted(i->identifier));
    if (i->driver) std::fprintf(cf, "\tDriver      \"%s\"\n", Quoted(i->driver));
    xf86printOptionList(cf, i->options, 1);
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfInput* xf86findInput(const char* name, XConfInput* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

XConfInput* xf86findInputByDriver(const char* driver, XConfInput* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(driver, list->driver) == 0) return list;
  }
  return nullptr;
}

int xf86validateInput(XConfFile* file) {
  for (XConfInput* i = file->inputs; i != nullptr; i = i->next) {
    if (i->driver == nullptr) {
      xf86validationError("InputDevice section \"%s\" must have a Driver line.", i->identifier);
      return 0;
    }
  }
  return 1;
}

void xf86freeInputList(XConfInput* list) {
  while (list != nullptr) {
    XConfInput* next = list->next;
    FreeInput(list);
    list = next;
  }
}
