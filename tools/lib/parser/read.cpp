// Reading the whole file: the section dispatch, validation and freeing.

#include "tools/lib/parser/read.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kTopLevelTab[] = {
    {kTokSection, "section"},
    {-1, ""},
};

template <typename T>
void SetSingle(T** slot, T* record, void (*free_fn)(T*)) {
  // A second section of a kind that appears once replaces the first.
  free_fn(*slot);
  *slot = record;
}

// The file's lists of sections, appended in constant time.
struct SectionLists {
  explicit SectionLists(XConfFile* file)
      : inputs(&file->inputs),
        videoadaptors(&file->videoadaptors),
        devices(&file->devices),
        monitors(&file->monitors),
        modes(&file->modes),
        screens(&file->screens),
        layouts(&file->layouts),
        vendors(&file->vendors) {}
  ListAppender<XConfInput> inputs;
  ListAppender<XConfVideoAdaptor> videoadaptors;
  ListAppender<XConfDevice> devices;
  ListAppender<XConfMonitor> monitors;
  ListAppender<XConfModes> modes;
  ListAppender<XConfScreen> screens;
  ListAppender<XConfLayout> layouts;
  ListAppender<XConfVendor> vendors;
};

// Runs the parser of the named section and files its record; false when the
// name is unknown or the parser failed.
bool ParseSection(XConfFile* file, SectionLists* lists, const char* name) {
  auto is = [name](const char* section) { return xf86nameCompare(name, section) == 0; };
  if (is("files")) {
    XConfFiles* r = xf86parseFilesSection();
    if (r == nullptr) return false;
    SetSingle(&file->files, r, xf86freeFiles);
  } else if (is("serverflags")) {
    XConfFlags* r = xf86parseFlagsSection();
    if (r == nullptr) return false;
    SetSingle(&file->flags, r, xf86freeFlags);
  } else if (is("keyboard")) {
    XConfInput* r = xf86parseKeyboardSection();
    if (r == nullptr) return false;
    lists->inputs.Append(r);
  } else if (is("pointer")) {
    XConfInput* r = xf86parsePointerSection();
    if (r == nullptr) return false;
    lists->inputs.Append(r);
  } else if (is("videoadaptor")) {
    XConfVideoAdaptor* r = xf86parseVideoAdaptorSection();
    if (r == nullptr) return false;
    lists->videoadaptors.Append(r);
  } else if (is("device")) {
    XConfDevice* r = xf86parseDeviceSection();
    if (r == nullptr) return false;
    lists->devices.Append(r);
  } else if (is("monitor")) {
    XConfMonitor* r = xf86parseMonitorSection();
    if (r == nullptr) return false;
    lists->monitors.Append(r);
  } else if (is("modes")) {
    XConfModes* r = xf86parseModesSection();
    if (r == nullptr) return false;
    lists->modes.Append(r);
  } else if (is("screen")) {
    XConfScreen* r = xf86parseScreenSection();
    if (r == nullptr) return false;
    lists->screens.Append(r);
  } else if (is("inputdevice")) {
    XConfInput* r = xf86parseInputSection();
    if (r == nullptr) return false;
    lists->inputs.Append(r);
  } else if (is("module")) {
    XConfModule* r = xf86parseModuleSection();
    if (r == nullptr) return false;
    SetSingle(&file->modules, r, xf86freeModules);
  } else if (is("serverlayout")) {
    XConfLayout* r = xf86parseLayoutSection();
    if (r == nullptr) return false;
    lists->layouts.Append(r);
  } else if (is("vendor")) {
    XConfVendor* r = xf86parseVendorSection();
    if (r == nullptr) return false;
    lists->vendors.Append(r);
  } else if (is("dri")) {
    XConfDri* r = xf86parseDRISection();
    if (r == nullptr) return false;
    SetSingle(&file->dri, r, xf86freeDRI);
  } else if (is("extensions")) {
    XConfExtensions* r = xf86parseExtensionsSection();
    if (r == nullptr) return false;
    SetSingle(&file->extensions, r, xf86freeExtensions);
  } else {
    xf86parseError("\"%s\" is not a valid section name.", name);
    return false;
  }
  return true;
}

bool ReadSections(XConfFile* file) {
  SectionLists lists(file);
  for (;;) {
    int token = xf86getToken(kTopLevelTab);
    switch (token) {
      case kTokEof: return true;
      case kTokComment: file->comment = xf86addComment(file->comment, xf86tokenString()); break;
      case kTokSection: {
        if (xf86getSubToken(&file->comment) != kTokString)
          Fail(kMsgQuotedString, "Section");
        std::string name = xf86tokenValue().str;
        xf86setSection(name.c_str());
        if (!ParseSection(file, &lists, name.c_str())) return false;
        break;
      }
      default: Fail(kMsgInvalidKeyword, xf86tokenString());
    }
  }
}

}  // namespace

XConfFile* xf86readConfigFile() {
  auto* file = static_cast<XConfFile*>(std::calloc(1, sizeof(XConfFile)));
  if (file == nullptr) return nullptr;
  bool ok;
  try {
    ok = ReadSections(file);
  } catch (const ParseAbort&) {
    ok = false;
  }
  // A file cut off at the size limit may end between two sections: it must
  // not pass for the whole file.
  if (!ok || ScannerTooLarge() || !xf86validateConfig(file)) {
    xf86freeConfig(file);
    return nullptr;
  }
  return file;
}

int xf86validateConfig(XConfFile* file) {
  if (!xf86validateDevice(file)) return 0;
  if (!xf86validateScreen(file)) return 0;
  if (!xf86validateInput(file)) return 0;
  if (!xf86validateLayout(file)) return 0;
  return 1;
}

void xf86freeConfig(XConfFile* file) {
  if (file == nullptr) return;
  xf86freeFiles(file->files);
  xf86freeModules(file->modules);
  xf86freeFlags(file->flags);
  xf86freeVideoAdaptorList(file->videoadaptors);
  xf86freeModesList(file->modes);
  xf86freeMonitorList(file->monitors);
  xf86freeDeviceList(file->devices);
  xf86freeScreenList(file->screens);
  xf86freeInputList(file->inputs);
  xf86freeLayoutList(file->layouts);
  xf86freeVendorList(file->vendors);
  xf86freeDRI(file->dri);
  xf86freeExtensions(file->extensions);
  std::free(file->comment);
  std::free(file);
}

namespace xconf {

const char* const kMsgQuotedString = "The %s keyword requires a quoted string to follow it.";
const char* const kMsgNumber = "The %s keyword requires a number to follow it.";
const char* const kMsgPositiveInt = "The %s keyword requires a positive integer to follow it.";
const char* const kMsgMultipleLines = "Multiple \"%s\" lines.";
const char* const kMsgUnexpectedEof = "Unexpected EOF. Missing EndSection keyword?";
const char* const kMsgInvalidKeyword = "\"%s\" is not a valid keyword in this section.";
const char* const kMsgNoIdentifier = "This section must have an Identifier line.";

void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char message[1024];
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  xf86parseError("%s", message);
  throw ParseAbort{};
}

void FailToken(int token) {
  if (token == kTokEof) Fail("%s", kMsgUnexpectedEof);
  Fail(kMsgInvalidKeyword, xf86tokenString());
}

char* ExpectString(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokString) Fail(kMsgQuotedString, keyword);
  return xf86takeString();
}

int ExpectInt(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokNumber) Fail(kMsgNumber, keyword);
  return xf86tokenValue().num;
}

double ExpectReal(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokNumber) Fail(kMsgNumber, keyword);
  return xf86tokenValue().realnum;
}

void SetString(char** field, char* value) {
  std::free(*field);
  *field = value;
}

void SetIdentifier(char** field, char** comment) {
  char* name = ExpectString(comment, "Identifier");
  if (*field != nullptr) {
    std::free(name);
    Fail(kMsgMultipleLines, "Identifier");
  }
  *field = name;
}

int MHzToKHz(double mhz) {
  double khz = mhz * 1000.0 + 0.5;
  if (!(khz < static_cast<double>(INT_MAX))) return INT_MAX;
  if (!(khz > static_cast<double>(INT_MIN))) return INT_MIN;
  return static_cast<int>(khz);
}

void PrintSectionHead(FILE* stream, const char* name, const char* comment) {
  std::fprintf(stream, "Section \"%s\"", name);
  PrintHeadComment(stream, comment);
}

void PrintSubSectionHead(FILE* stream, const char* name, const char* comment) {
  std::fprintf(stream, "\tSubSection \"%s\"", Quoted(name));
  PrintHeadComment(stream, comment);
}

void PrintHeadComment(FILE* stream, const char* comment) {
  // A comment that stood on the Section line stays there; the others follow
  // on their own lines.
  if (comment == nullptr || comment[0] == '\0') {
    std::fputc('\n', stream);
    return;
  }
  if (comment[0] != '\n') {
    const char* p = comment;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '#') {
      if (p == comment) std::fputc(' ', stream);
    } else {
      std::fputc('\n', stream);
    }
  }
  PrintComment(stream, comment);
}

void PrintComment(FILE* stream, const char* comment) {
  if (comment == nullptr) return;
  CheckComment(comment);
  std::fputs(comment, stream);
}

void PrintTrailingComment(FILE* stream, const char* comment) {
  if (comment == nullptr || comment[0] == '\0') {
    std::fputc('\n', stream);
    return;
  }
  const char* p = comment;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '#' && *p != '\n') std::fputc('\n', stream);
  PrintComment(stream, comment);
  size_t len = std::strlen(comment);
  if (comment[len - 1] != '\n') std::fputc('\n', stream);
}

}  // namespace xconf
