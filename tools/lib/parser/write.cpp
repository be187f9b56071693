// Writing the tree back: the fixed section order and the safe replacement of
// the file on disk.

#include "tools/lib/parser/write.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/Log.h"
#include "tools/lib/parser/scan.h"

using namespace xconf;

namespace {

void PrintFile(FILE* cf, XConfFile* file) {
  if (file->comment != nullptr) {
    // The comments outside every section lead the file.
    if (file->comment[0] != '\n') std::fputc('\n', cf);
    PrintComment(cf, file->comment);
    std::fputc('\n', cf);
  }
  xf86printLayoutSection(cf, file->layouts);
  PrintSectionHead(cf, "Files", file->files != nullptr ? file->files->comment : nullptr);
  xf86printFileSection(cf, file->files);
  std::fprintf(cf, "EndSection\n\n");
  PrintSectionHead(cf, "Module", file->modules != nullptr ? file->modules->comment : nullptr);
  xf86printModuleSection(cf, file->modules);
  std::fprintf(cf, "EndSection\n\n");
  xf86printVendorSection(cf, file->vendors);
  xf86printServerFlagsSection(cf, file->flags);
  xf86printInputSection(cf, file->inputs);
  xf86printVideoAdaptorSection(cf, file->videoadaptors);
  xf86printModesSection(cf, file->modes);
  xf86printMonitorSection(cf, file->monitors);
  xf86printDeviceSection(cf, file->devices);
  xf86printScreenSection(cf, file->screens);
  xf86printDRISection(cf, file->dri);
  xf86printExtensionsSection(cf, file->extensions);
}

bool Render(XConfFile* file, std::string* text) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* cf = open_memstream(&buffer, &size);
  if (cf == nullptr) return false;
  ResetQuoteCheck();
  PrintFile(cf, file);
  bool ok = std::fflush(cf) == 0 && !std::ferror(cf);
  std::fclose(cf);
  if (ok) text->assign(buffer, size);
  std::free(buffer);
  return ok;
}

}  // namespace

xconf::FormatResult xconf::FormatConfigFile(XConfFile* file, std::string* text) {
  if (file == nullptr) return FormatResult::kNoMemory;
  if (!Render(file, text)) return FormatResult::kNoMemory;
  if (QuoteCheckFailed()) return FormatResult::kUnquotable;
  return FormatResult::kOk;
}

namespace {

// What the last write said: why it failed, or what the user should know.
std::string g_write_failure;
int g_write_error = 0;
std::string g_write_notice;

// A plain write: the whole new text replaces the file.
SafeWrite PlainReplace(const char* path, const std::string& text) {
  SafeWrite result;
  result.ok = ReplaceFile(path, text);
  if (!result.ok) {
    result.error = errno;
    result.failure = std::string(path) + ": " + std::strerror(result.error);
  }
  return result;
}

int FormatAndPut(const char* path, XConfFile* file, xconf::PutText put) {
  using xconf::FormatResult;
  g_write_failure.clear();
  g_write_error = 0;
  g_write_notice.clear();
  if (path == nullptr || file == nullptr) {
    g_write_failure = "no file to write";
    return 0;
  }
  std::string text;
  switch (xconf::FormatConfigFile(file, &text)) {
    case FormatResult::kOk: break;
    case FormatResult::kNoMemory:
      g_write_failure = std::string(path) + ": " + std::strerror(ENOMEM);
      g_write_error = ENOMEM;
      return 0;
    case FormatResult::kUnquotable:
      g_write_failure = std::string(path) +
                        ": a name holds a double quote or a line break, or a comment holds a "
                        "line that is not a comment";
      return 0;
  }
  const SafeWrite written = put(path, text);
  g_write_failure = written.failure;
  g_write_error = written.error;
  g_write_notice = written.notice;
  return written.ok ? 1 : 0;
}

}  // namespace

const std::string& xconf::LastWriteFailure() { return g_write_failure; }
int xconf::LastWriteError() { return g_write_error; }
const std::string& xconf::LastWriteNotice() { return g_write_notice; }

int doWriteConfigFile(const char* path, XConfFile* file) {
  const int written = FormatAndPut(path, file, PlainReplace);
  if (!written) ErrorF("Cannot write %s\n", g_write_failure.c_str());
  return written;
}

int xconf::WriteConfigFileWith(const char* path, XConfFile* file, PutText put) {
  uid_t real = getuid();
  uid_t effective = geteuid();
  if (real == effective) return FormatAndPut(path, file, put);
  // Write with the rights of the user who ran the program.
  if (seteuid(real) != 0) {
    g_write_error = errno;
    ErrorF("xf86writeConfigFile(): seteuid(%d) failed (%s)\n", static_cast<int>(real),
           std::strerror(g_write_error));
    g_write_failure = std::string("seteuid failed: ") + std::strerror(g_write_error);
    return 0;
  }
  int result = FormatAndPut(path, file, put);
  if (seteuid(effective) != 0) {
    ErrorF("xf86writeConfigFile(): seteuid(%d) failed (%s)\n", static_cast<int>(effective),
           std::strerror(errno));
  }
  return result;
}

int xf86writeConfigFile(const char* path, XConfFile* file) {
  const int written = xconf::WriteConfigFileWith(path, file, PlainReplace);
  if (!written && !g_write_failure.empty()) ErrorF("Cannot write %s\n", g_write_failure.c_str());
  return written;
}

namespace {

bool g_quote_failed = false;

std::string KHzToMHzText(int khz, bool force_decimal) {
  long long value = khz;
  std::string text;
  if (value < 0) {
    text.push_back('-');
    value = -value;
  }
  text += std::to_string(value / 1000);
  long long fraction = value % 1000;
  if (fraction != 0) {
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%03lld", fraction);
    std::string decimals(digits);
    while (decimals.back() == '0') decimals.pop_back();
    text += "." + decimals;
  } else if (force_decimal) {
    text += ".0";
  }
  return text;
}

}  // namespace

std::string xconf::FormatKHzAsMHz(int khz) { return KHzToMHzText(khz, true); }

std::string xconf::FormatKHzAsMHzShort(int khz) { return KHzToMHzText(khz, false); }

std::string xconf::FormatFloat(float value, bool force_decimal) {
  char buffer[128];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  if (text.empty()) text = "0";
  if (force_decimal && text.find('.') == std::string::npos) text += ".0";
  return text;
}

void xconf::ResetQuoteCheck() { g_quote_failed = false; }

bool xconf::QuoteCheckFailed() { return g_quote_failed; }

const char* xconf::Quoted(const char* text) {
  if (text == nullptr) {
    g_quote_failed = true;
    return "";
  }
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '"' || *p == '\n' || *p == '\r') g_quote_failed = true;
  }
  return text;
}

void xconf::CheckComment(const char* comment) {
  // Every line of a kept comment must read back as a comment line.
  bool line_start = true;
  bool in_comment = false;
  for (const char* p = comment; *p != '\0'; ++p) {
    if (*p == '\n' || *p == '\r') {
      line_start = true;
      in_comment = false;
    } else if (in_comment || *p == ' ' || *p == '\t') {
      continue;
    } else if (*p == '#' && line_start) {
      in_comment = true;
      line_start = false;
    } else {
      g_quote_failed = true;
      return;
    }
  }
}
