// InputDevice sections and the legacy Keyboard and Pointer sections, which
// become input devices.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_print.h"
#include "tools/lib/xconfig_scanner.h"

using namespace xconf;

namespace {

const XConfKeyword kInputTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokOption, "option"},
    {kTokDriver, "driver"},
    {-1, ""},
};

const XConfKeyword kKeyboardTab[] = {
    {kTokEndSection, "endsection"},
    {kTokKProtocol, "protocol"},
    {kTokAutoRepeat, "autorepeat"},
    {kTokXLeds, "xleds"},
    {kTokPanix106, "panix106"},
    {kTokXkbKeymap, "xkbkeymap"},
    {kTokXkbCompat, "xkbcompat"},
    {kTokXkbTypes, "xkbtypes"},
    {kTokXkbKeycodes, "xkbkeycodes"},
    {kTokXkbGeometry, "xkbgeometry"},
    {kTokXkbSymbols, "xkbsymbols"},
    {kTokXkbDisable, "xkbdisable"},
    {kTokXkbRules, "xkbrules"},
    {kTokXkbModel, "xkbmodel"},
    {kTokXkbLayout, "xkblayout"},
    {kTokXkbVariant, "xkbvariant"},
    {kTokXkbOptions, "xkboptions"},
    {kTokVtInit, "vtinit"},
    {kTokVtSysReq, "vtsysreq"},
    {kTokServerNumLock, "servernumlock"},
    {kTokLeftAlt, "leftalt"},
    {kTokRightAlt, "rightalt"},
    {kTokRightAlt, "altgr"},
    {kTokScrollLock, "scrolllock"},
    {kTokRightCtl, "rightctl"},
    {-1, ""},
};

const XConfKeyword kPointerTab[] = {
    {kTokPProtocol, "protocol"},
    {kTokEmulate3Buttons, "emulate3buttons"},
    {kTokEmulate3Timeout, "emulate3timeout"},
    {kTokEndSubSection, "endsubsection"},
    {kTokEndSection, "endsection"},
    {kTokPDevice, "device"},
    {kTokPDevice, "port"},
    {kTokBaudRate, "baudrate"},
    {kTokSampleRate, "samplerate"},
    {kTokClearDtr, "cleardtr"},
    {kTokClearRts, "clearrts"},
    {kTokChordMiddle, "chordmiddle"},
    {kTokResolution, "resolution"},
    {kTokDeviceName, "devicename"},
    {kTokAlwaysCore, "alwayscore"},
    {kTokButtons, "buttons"},
    {kTokZAxisMapping, "zaxismapping"},
    {-1, ""},
};

const XConfKeyword kZAxisTab[] = {
    {kTokXAxis, "x"},
    {kTokYAxis, "y"},
    {-1, ""},
};

// Keyboard keywords that take a string, with the option they become and the
// name used when the string is missing.
struct XkbKeyword {
  int token;
  const char* option;
  const char* message_name;
};

const XkbKeyword kXkbKeywords[] = {
    {kTokXkbKeymap, "XkbKeymap", "XKBKeymap"},
    {kTokXkbCompat, "XkbCompat", "XKBCompat"},
    {kTokXkbTypes, "XkbTypes", "XKBTypes"},
    {kTokXkbKeycodes, "XkbKeycodes", "XKBKeycodes"},
    {kTokXkbGeometry, "XkbGeometry", "XKBGeometry"},
    {kTokXkbSymbols, "XkbSymbols", "XKBSymbols"},
    {kTokXkbRules, "XkbRules", "XKBRules"},
    {kTokXkbModel, "XkbModel", "XKBModel"},
    {kTokXkbLayout, "XkbLayout", "XKBLayout"},
    {kTokXkbVariant, "XkbVariant", "XKBVariant"},
    {kTokXkbOptions, "XkbOptions", "XKBOptions"},
};

void FreeInput(XConfInput* input) {
  std::free(input->identifier);
  std::free(input->driver);
  xf86optionListFree(input->options);
  std::free(input->comment);
  std::free(input);
}

void AddOption(XConfInput* input, const char* name, char* value) {
  input->options = xf86addNewOption(input->options, xf86configStrdup(name), value);
}

char* Dup(const std::string& text) { return xf86configStrdup(text.c_str()); }

XConfInput* ParseGuarded(void (*body)(XConfInput*)) {
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

void ParseKeyboardBody(XConfInput* input) {
  char** c = &input->comment;
  for (;;) {
    int token = xf86getToken(kKeyboardTab);
    bool handled = true;
    switch (token) {
      case kTokEndSection:
        input->identifier = xf86configStrdup("Implicit Core Keyboard");
        input->driver = xf86configStrdup("keyboard");
        AddOption(input, "CoreKeyboard", nullptr);
        return;
      case kTokComment: input->comment = xf86addComment(input->comment, xf86tokenString()); break;
      case kTokKProtocol: AddOption(input, "Protocol", ExpectString(c, "Protocol")); break;
      case kTokAutoRepeat: {
        const char* message =
            "The AutoRepeat keyword requires 2 numbers (delay and rate) to follow it.";
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        std::string value = xf86tokenString();
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        value += " ";
        value += xf86tokenString();
        AddOption(input, "AutoRepeat", Dup(value));
        break;
      }
      case kTokXLeds: {
        if (xf86getSubToken(c) != kTokNumber)
          Fail("The XLeds keyword requries one or more numbers to follow it.");
        std::string value = xf86tokenString();
        int t;
        while ((t = xf86getSubToken(c)) == kTokNumber) {
          value += " ";
          value += xf86tokenString();
        }
        xf86unGetToken(t);
        AddOption(input, "XLeds", Dup(value));
        break;
      }
      case kTokXkbDisable: AddOption(input, "XkbDisable", nullptr); break;
      case kTokPanix106: AddOption(input, "Panix106", nullptr); break;
      case kTokVtInit:
        std::free(ExpectString(c, "VTInit"));
        xf86parseWarning("Keyword \"%s\" is now an Option flag in the ServerFlags section.",
                         "VTInit");
        break;
      case kTokVtSysReq:
        xf86parseWarning("Keyword \"%s\" is now an Option flag in the ServerFlags section.",
                         "VTSysReq");
        break;
      case kTokServerNumLock:
      case kTokLeftAlt:
      case kTokRightAlt:
      case kTokScrollLock:
      case kTokRightCtl:
        xf86parseWarning("Ignoring obsolete keyword \"%s\".", xf86tokenString());
        break;
      default:
        handled = false;
        break;
    }
    if (handled) continue;
    bool xkb = false;
    for (const XkbKeyword& k : kXkbKeywords) {
      if (k.token == token) {
        AddOption(input, k.option, ExpectString(c, k.message_name));
        xkb = true;
        break;
      }
    }
    if (!xkb) FailToken(token);
  }
}

int PointerInt(XConfInput* input, const char* keyword) {
  if (xf86getSubToken(&input->comment) != kTokNumber || xf86tokenValue().num < 0)
    Fail(kMsgPositiveInt, keyword);
  return xf86tokenValue().num;
}

void ParsePointerBody(XConfInput* input) {
  char** c = &input->comment;
  for (;;) {
    int token = xf86getToken(kPointerTab);
    switch (token) {
      case kTokEndSection:
        input->identifier = xf86configStrdup("Implicit Core Pointer");
        input->driver = xf86configStrdup("mouse");
        AddOption(input, "CorePointer", nullptr);
        return;
      case kTokComment: input->comment = xf86addComment(input->comment, xf86tokenString()); break;
      case kTokPProtocol: AddOption(input, "Protocol", ExpectString(c, "Protocol")); break;
      case kTokPDevice: AddOption(input, "Device", ExpectString(c, "Device")); break;
      case kTokEmulate3Buttons: AddOption(input, "Emulate3Buttons", nullptr); break;
      case kTokChordMiddle: AddOption(input, "ChordMiddle", nullptr); break;
      case kTokClearDtr: AddOption(input, "ClearDTR", nullptr); break;
      case kTokClearRts: AddOption(input, "ClearRTS", nullptr); break;
      case kTokEmulate3Timeout:
        AddOption(input, "Emulate3Timeout", Dup(std::to_string(PointerInt(input, "Emulate3Timeout"))));
        break;
      case kTokButtons:
        AddOption(input, "Buttons", Dup(std::to_string(PointerInt(input, "Buttons"))));
        break;
      case kTokBaudRate:
        AddOption(input, "BaudRate", Dup(std::to_string(PointerInt(input, "BaudRate"))));
        break;
      case kTokSampleRate:
        AddOption(input, "SampleRate", Dup(std::to_string(PointerInt(input, "SampleRate"))));
        break;
      case kTokResolution:
        AddOption(input, "Resolution", Dup(std::to_string(PointerInt(input, "Resolution"))));
        break;
      case kTokZAxisMapping: {
        const char* message =
            "The ZAxisMapping keyword requires 2 positive numbers or X or Y to follow it.";
        int t = xf86getSubTokenWithTab(c, kZAxisTab);
        if (t == kTokXAxis) {
          AddOption(input, "ZAxisMapping", xf86configStrdup("x"));
        } else if (t == kTokYAxis) {
          AddOption(input, "ZAxisMapping", xf86configStrdup("y"));
        } else if (t == kTokNumber && xf86tokenValue().num >= 0) {
          int first = xf86tokenValue().num;
          if (xf86getSubToken(c) != kTokNumber || xf86tokenValue().num < 0) Fail("%s", message);
          AddOption(input, "ZAxisMapping",
                    Dup(std::to_string(first) + " " + std::to_string(xf86tokenValue().num)));
        } else {
          Fail("%s", message);
        }
        break;
      }
      case kTokAlwaysCore: break;
      default: FailToken(token);
    }
  }
}

}  // namespace

XConfInput* xf86parseInputSection() { return ParseGuarded(ParseInputBody); }
XConfInput* xf86parseKeyboardSection() { return ParseGuarded(ParseKeyboardBody); }
XConfInput* xf86parsePointerSection() { return ParseGuarded(ParsePointerBody); }

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
