#pragma once

// The scanner: tokens, keyword tables, comments and the file search.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/parser/xconfig.h"

enum XConfToken : int {
  kTokNumber = 1,
  kTokString = 2,
  kTokSection = 3,
  kTokSubSection = 4,
  kTokEndSection = 5,
  kTokEndSubSection = 6,
  kTokIdentifier = 7,
  kTokVendorName = 8,
  kTokDash = 9,
  kTokComma = 10,
  kTokOption = 11,
  kTokComment = 12,
  kTokError = -2,
  kTokNone = -3,
  kTokEof = -4,

  // Files
  kTokFontPath = 16, kTokRgbPath = 17, kTokModulePath = 18, kTokInputDevices = 19,
  kTokLogFile = 20,
  // ServerFlags
  kTokNoTrapSignals = 21, kTokDontZap = 22, kTokDontZoom = 23, kTokDisableVidMode = 24,
  kTokAllowNonLocalXvidtune = 25, kTokDisableModInDev = 26, kTokAllowNonLocalModInDev = 27,
  kTokAllowMouseOpenFail = 28, kTokBlankTime = 29, kTokStandbyTime = 30, kTokSuspendTime = 31,
  kTokOffTime = 32, kTokDefaultLayout = 33,
  // Monitor
  kTokModelName = 34, kTokModeLine = 35, kTokDisplaySize = 36, kTokHorizSync = 37,
  kTokVertRefresh = 38, kTokMode = 39, kTokGamma = 40, kTokUseModes = 41,
  // verbose mode
  kTokDotClock = 42, kTokHTimings = 43, kTokVTimings = 44, kTokFlags = 45, kTokHSkew = 46,
  kTokBCast = 47, kTokVScan = 48, kTokEndMode = 49,
  // Screen
  kTokScrDriver = 50, kTokScrDevice = 51, kTokScrMonitor = 52, kTokScreenNo = 53,
  kTokDefaultDepth = 54, kTokDefaultBpp = 55, kTokDefaultFbBpp = 56, kTokVideoAdaptor = 57,
  // timing flags
  kTokTfInterlace = 58, kTokTfPHSync = 59, kTokTfNHSync = 60, kTokTfPVSync = 61,
  kTokTfNVSync = 62, kTokTfComposite = 63, kTokTfPCSync = 64, kTokTfNCSync = 65,
  kTokTfDoubleScan = 66, kTokTfHSkew = 67, kTokTfBCast = 68, kTokTfVScan = 69,
  kTokTfCustom = 70,
  // Module
  kTokLoad = 71, kTokLoadDriver = 72,
  // Device
  kTokDriver = 73, kTokChipset = 74, kTokClocks = 75, kTokVideoRam = 76, kTokBoardName = 77,
  kTokIoBase = 78, kTokRamdac = 79, kTokDacSpeed = 80, kTokBiosBase = 81, kTokMemBase = 82,
  kTokClockChip = 83, kTokChipId = 84, kTokChipRev = 85, kTokCard = 86, kTokBusId = 87,
  kTokTextClockFreq = 88, kTokIrq = 89,
  // Keyboard
  kTokAutoRepeat = 90, kTokXLeds = 91, kTokKProtocol = 92, kTokXkbKeymap = 93,
  kTokXkbCompat = 94, kTokXkbTypes = 95, kTokXkbKeycodes = 96, kTokXkbGeometry = 97,
  kTokXkbSymbols = 98, kTokXkbDisable = 99, kTokPanix106 = 100, kTokXkbRules = 101,
  kTokXkbModel = 102, kTokXkbLayout = 103, kTokXkbVariant = 104, kTokXkbOptions = 105,
  kTokVtInit = 106, kTokVtSysReq = 107, kTokServerNumLock = 108, kTokLeftAlt = 109,
  kTokRightAlt = 110, kTokScrollLock = 111, kTokRightCtl = 112,
  // Pointer
  kTokEmulate3Buttons = 119, kTokBaudRate = 120, kTokSampleRate = 121, kTokResolution = 122,
  kTokClearDtr = 123, kTokClearRts = 124, kTokChordMiddle = 125, kTokPProtocol = 126,
  kTokPDevice = 127, kTokEmulate3Timeout = 128, kTokDeviceName = 129, kTokAlwaysCore = 130,
  kTokButtons = 131, kTokZAxisMapping = 132, kTokXAxis = 133, kTokYAxis = 134,
  // Display
  kTokModes = 135, kTokViewport = 136, kTokVirtual = 137, kTokVisual = 138, kTokBlack = 139,
  kTokWhite = 140, kTokDepth = 141, kTokFbBpp = 142, kTokWeight = 143,
  // ServerLayout
  kTokScreen = 144, kTokInactive = 145, kTokInputDevice = 146, kTokRightOf = 147,
  kTokLeftOf = 148, kTokAbove = 149, kTokBelow = 150, kTokRelative = 151, kTokAbsolute = 152,
  // DRI
  kTokGroup = 154, kTokBuffers = 155,
};

// A keyword of a table; words match it regardless of case, blanks and
// underscores (xf86nameCompare), so "BoardName" reads "boardname" too.
struct XConfKeyword {
  int token;
  const char* name;
};

// Value of the last token.
struct XConfTokenValue {
  int num;  // capped at INT_MAX, so a number never prints back negative
  unsigned long unum;
  double realnum;
  const char* str;  // string or comment text, valid until the next token
};

int xf86getToken(const XConfKeyword* table);
int xf86getSubToken(char** comment);
int xf86getSubTokenWithTab(char** comment, const XConfKeyword* table);
void xf86unGetToken(int token);
const char* xf86tokenString();
int xf86getStringToken(const XConfKeyword* table);
void xf86setSection(const char* name);
const XConfTokenValue& xf86tokenValue();
// A fresh copy of the last string token.
char* xf86takeString();

void xf86parseError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void xf86parseWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void xf86validationError(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace xconf {

// Internal glue between the scanner, the file search and the reader.
void ScannerReset(FILE* file, const char* const* builtin, const char* path);
void ScannerClose();
// Whether the file being read turned out larger than kConfMaxFileSize (the
// scanner has said so and stopped there).
bool ScannerTooLarge();

// Expands one path template; false when the expansion fails.
bool DoSubstitution(const char* templ, const char* cmdline, const char* projroot,
                    bool* cmdline_used, bool* env_used, const char* filename, std::string* out);

// The host name, HOME and XORGCONFIG are looked up once per process; this
// makes the next search look them up again.
void ForgetEnvironment();

}  // namespace xconf
