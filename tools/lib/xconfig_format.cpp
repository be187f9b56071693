// Number formatting and string checks of the writer.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_print.h"
#include "tools/lib/xconfig_scanner.h"

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
