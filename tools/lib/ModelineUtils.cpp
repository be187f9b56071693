#include "tools/lib/ModelineUtils.h"

#include <strings.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

int ConvertModelineArgsToFlags(const char* hword, const char* vword) {
  int flags = 0;
  if (hword != nullptr) {
    if (strcasecmp(hword, "+hsync") == 0) flags = kModeFlagPHSync;
    else if (strcasecmp(hword, "-hsync") == 0) flags = kModeFlagNHSync;
  }
  if (vword != nullptr) {
    if (strcasecmp(vword, "+vsync") == 0) flags += kModeFlagPVSync;
    else if (strcasecmp(vword, "-vsync") == 0) flags += kModeFlagNVSync;
  }
  return flags;
}

int ConvertEnumModelineArgsToFlags(int hpolarity, int vpolarity) {
  int flags = 0;
  if (hpolarity == kPolarityPositive) flags = kModeFlagPHSync;
  else if (hpolarity == kPolarityNegative) flags = kModeFlagNHSync;
  if (vpolarity == kPolarityPositive) flags += kModeFlagPVSync;
  else if (vpolarity == kPolarityNegative) flags += kModeFlagNVSync;
  return flags;
}

double ConvertKHzToMHz(int32_t khz) { return khz / 1000.0; }

int32_t ConvertDoubleMHzToKHz(double mhz) {
  double khz = std::round(mhz * 1000.0);
  if (!(khz > INT32_MIN)) return khz != khz ? 0 : INT32_MIN;  // NaN gives 0
  if (khz >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(khz);
}

int32_t ConvertMHzToKHz(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
         *text == '\v')
    ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  double mhz = 0.0;
  std::from_chars(text, text + std::strlen(text), mhz, std::chars_format::general);
  return ConvertDoubleMHzToKHz(negative ? -mhz : mhz);
}
