// Legacy Keyboard section: it becomes an input device.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

char* Dup(const std::string& text) { return xf86configStrdup(text.c_str()); }

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

void ParseKeyboardBody(XConfInput* input) {
  char** c = &input->comment;
  for (;;) {
    int token = xf86getToken(kKeyboardTab);
    bool handled = true;
    switch (token) {
      case kTokEndSection:
        input->identifier = xf86configStrdup("Implicit Core Keyboard");
        input->driver = xf86configStrdup("keyboard");
        AddInputOption(input, "CoreKeyboard", nullptr);
        return;
      case kTokComment: input->comment = xf86addComment(input->comment, xf86tokenString()); break;
      case kTokKProtocol: AddInputOption(input, "Protocol", ExpectString(c, "Protocol")); break;
      case kTokAutoRepeat: {
        const char* message =
            "The AutoRepeat keyword requires 2 numbers (delay and rate) to follow it.";
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        std::string value = xf86tokenString();
        if (xf86getSubToken(c) != kTokNumber) Fail("%s", message);
        value += " ";
        value += xf86tokenString();
        AddInputOption(input, "AutoRepeat", Dup(value));
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
        AddInputOption(input, "XLeds", Dup(value));
        break;
      }
      case kTokXkbDisable: AddInputOption(input, "XkbDisable", nullptr); break;
      case kTokPanix106: AddInputOption(input, "Panix106", nullptr); break;
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
        AddInputOption(input, k.option, ExpectString(c, k.message_name));
        xkb = true;
        break;
      }
    }
    if (!xkb) FailToken(token);
  }
}

}  // namespace

XConfInput* xf86parseKeyboardSection() { return ParseInputRecord(ParseKeyboardBody); }
