// Files section.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kFilesTab[] = {
    {kTokEndSection, "endsection"},
    {kTokFontPath, "fontpath"},
    {kTokRgbPath, "rgbpath"},
    {kTokModulePath, "modulepath"},
    {kTokInputDevices, "inputdevices"},
    {kTokLogFile, "logfile"},
    {-1, ""},
};


// Paths that may repeat join into one comma-separated list.
void AppendPath(char** field, char* added) {
  if (*field == nullptr) {
    *field = added;
    return;
  }
  std::string joined = *field;
  if (joined.empty() || joined.back() != ',') joined += ",";
  joined += added;
  std::free(added);
  SetString(field, xf86configStrdup(joined.c_str()));
}

void ParseFilesBody(XConfFiles* files) {
  for (;;) {
    int token = xf86getToken(kFilesTab);
    char** c = &files->comment;
    switch (token) {
      case kTokEndSection: return;
      case kTokComment: files->comment = xf86addComment(files->comment, xf86tokenString()); break;
      case kTokLogFile: SetString(&files->logfile, ExpectString(c, "LogFile")); break;
      case kTokRgbPath: SetString(&files->rgbpath, ExpectString(c, "RGBPath")); break;
      case kTokModulePath: AppendPath(&files->modulepath, ExpectString(c, "ModulePath")); break;
      case kTokInputDevices:
        AppendPath(&files->inputdevices, ExpectString(c, "InputDevices"));
        break;
      case kTokFontPath: AppendPath(&files->fontpath, ExpectString(c, "FontPath")); break;
      default: FailToken(token);
    }
  }
}

void PrintPathList(FILE* cf, const char* format, const char* list) {
  if (list == nullptr) return;
  std::string all = list;
  size_t start = 0;
  for (;;) {
    size_t comma = all.find(',', start);
    std::string part = all.substr(start, comma == std::string::npos ? std::string::npos
                                                                    : comma - start);
    std::fprintf(cf, format, Quoted(part.c_str()));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}


}  // namespace

XConfFiles* xf86parseFilesSection() {
  XConfFiles* files = nullptr;
  try {
    files = NewRecord<XConfFiles>();
    ParseFilesBody(files);
  } catch (const ParseAbort&) {
    xf86freeFiles(files);
    return nullptr;
  }
  return files;
}

void xf86printFileSection(FILE* cf, XConfFiles* files) {
  if (files == nullptr) return;
  if (files->logfile) std::fprintf(cf, "\tLogFile      \"%s\"\n", Quoted(files->logfile));
  if (files->rgbpath) std::fprintf(cf, "\tRgbPath      \"%s\"\n", Quoted(files->rgbpath));
  PrintPathList(cf, "\tModulePath   \"%s\"\n", files->modulepath);
  PrintPathList(cf, "\tInputDevices   \"%s\"\n", files->inputdevices);
  PrintPathList(cf, "\tFontPath     \"%s\"\n", files->fontpath);
}

void xf86freeFiles(XConfFiles* files) {
  if (files == nullptr) return;
  std::free(files->logfile);
  std::free(files->rgbpath);
  std::free(files->modulepath);
  std::free(files->inputdevices);
  std::free(files->fontpath);
  std::free(files->comment);
  std::free(files);
}

