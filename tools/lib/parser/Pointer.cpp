// Legacy Pointer section: it becomes an input device.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

char* Dup(const std::string& text) { return xf86configStrdup(text.c_str()); }


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
    {kTokDeviceName, "DeviceName"},
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
        AddInputOption(input, "CorePointer", nullptr);
        return;
      case kTokComment: input->comment = xf86addComment(input->comment, xf86tokenString()); break;
      case kTokPProtocol: AddInputOption(input, "Protocol", ExpectString(c, "Protocol")); break;
      case kTokPDevice: AddInputOption(input, "Device", ExpectString(c, "Device")); break;
      case kTokEmulate3Buttons: AddInputOption(input, "Emulate3Buttons", nullptr); break;
      case kTokChordMiddle: AddInputOption(input, "ChordMiddle", nullptr); break;
      case kTokClearDtr: AddInputOption(input, "ClearDTR", nullptr); break;
      case kTokClearRts: AddInputOption(input, "ClearRTS", nullptr); break;
      case kTokEmulate3Timeout:
        AddInputOption(input, "Emulate3Timeout", Dup(std::to_string(PointerInt(input, "Emulate3Timeout"))));
        break;
      case kTokButtons:
        AddInputOption(input, "Buttons", Dup(std::to_string(PointerInt(input, "Buttons"))));
        break;
      case kTokBaudRate:
        AddInputOption(input, "BaudRate", Dup(std::to_string(PointerInt(input, "BaudRate"))));
        break;
      case kTokSampleRate:
        AddInputOption(input, "SampleRate", Dup(std::to_string(PointerInt(input, "SampleRate"))));
        break;
      case kTokResolution:
        AddInputOption(input, "Resolution", Dup(std::to_string(PointerInt(input, "Resolution"))));
        break;
      case kTokZAxisMapping: {
        const char* message =
            "The ZAxisMapping keyword requires 2 positive numbers or X or Y to follow it.";
        int t = xf86getSubTokenWithTab(c, kZAxisTab);
        if (t == kTokXAxis) {
          AddInputOption(input, "ZAxisMapping", xf86configStrdup("x"));
        } else if (t == kTokYAxis) {
          AddInputOption(input, "ZAxisMapping", xf86configStrdup("y"));
        } else if (t == kTokNumber && xf86tokenValue().num >= 0) {
          int first = xf86tokenValue().num;
          if (xf86getSubToken(c) != kTokNumber || xf86tokenValue().num < 0) Fail("%s", message);
          AddInputOption(input, "ZAxisMapping",
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

XConfInput* xf86parsePointerSection() { return ParseInputRecord(ParsePointerBody); }
