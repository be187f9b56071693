#pragma once

// The section parsers and the helpers they share.

#include <cstdlib>

#include "tools/lib/parser/name_index.h"
#include "tools/lib/parser/scan.h"

XConfOption* xf86parseOption(XConfOption* list);

// Section parsers: called after the Section keyword and its name; null on a
// failure (the message has been printed).
XConfDevice* xf86parseDeviceSection();
XConfMonitor* xf86parseMonitorSection();
XConfModes* xf86parseModesSection();
XConfScreen* xf86parseScreenSection();
XConfVideoAdaptor* xf86parseVideoAdaptorSection();
XConfLayout* xf86parseLayoutSection();
XConfInput* xf86parseInputSection();
XConfInput* xf86parseKeyboardSection();
XConfInput* xf86parsePointerSection();
XConfFiles* xf86parseFilesSection();
XConfModule* xf86parseModuleSection();
XConfFlags* xf86parseFlagsSection();
XConfVendor* xf86parseVendorSection();
XConfDri* xf86parseDRISection();
XConfExtensions* xf86parseExtensionsSection();

// ---- Helpers for the section parsers ----
namespace xconf {

// Links the Modes sections a screen's monitor names, found through the
// index; false (the message printed) when one is missing.
bool ValidateMonitorModes(XConfScreen* screen, const NameIndex<XConfModes>& index);

// Thrown after a parse error has been printed; the section parser frees its
// partial record and returns null.
struct ParseAbort {};

extern const char* const kMsgQuotedString;
extern const char* const kMsgNumber;
extern const char* const kMsgPositiveInt;
extern const char* const kMsgMultipleLines;
extern const char* const kMsgUnexpectedEof;
extern const char* const kMsgInvalidKeyword;
extern const char* const kMsgNoIdentifier;

[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Fails with the message that fits an unexpected token: end of file or an
// invalid keyword.
[[noreturn]] void FailToken(int token);

template <typename T>
T* NewRecord();

// A quoted string must follow; returns a fresh copy.
char* ExpectString(char** comment, const char* keyword);
// A number must follow.
int ExpectInt(char** comment, const char* keyword);
double ExpectReal(char** comment, const char* keyword);
// Replaces an owned string.
void SetString(char** field, char* value);
// Stores the identifier, failing when the record already has one.
void SetIdentifier(char** field, char** comment);
// Input-device records, shared by InputDevice and the legacy Keyboard and
// Pointer sections: a record parsed by `body`, freed on a failure.
XConfInput* ParseInputRecord(void (*body)(XConfInput*));
void AddInputOption(XConfInput* input, const char* name, char* value);
void FreeInput(XConfInput* input);

// Stores a frequency written in MHz as kHz.
int MHzToKHz(double mhz);

}  // namespace xconf

template <typename T>
T* xconf::NewRecord() {
  void* block = calloc(1, sizeof(T));
  if (block == nullptr) throw ParseAbort{};
  return static_cast<T*>(block);
}
