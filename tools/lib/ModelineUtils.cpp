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

namespace {

constexpr int kMaxNameLength = int(sizeof(UiModeLine{}.name)) - 1;

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

int32_t ConvertMHzToKHz(const char* text) {
  double mhz = 0.0;
  if (text == nullptr || !ParseModeLineClock(text, &mhz)) return 0;
  return ConvertDoubleMHzToKHz(mhz);
}

bool ParseModeLineClock(std::string_view text, double* mhz) {
  text = TrimBlanks(text);
  bool digit = false;
  int points = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  if (!digit || points > 1) return false;
  double value = 0.0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  const double khz = std::round(value * 1000.0);
  if (!(khz >= 1.0) || khz > double(kModeLineMaxClockKHz)) return false;
  *mhz = khz / 1000.0;
  return true;
}

bool ParseModeLineTiming(std::string_view text, int32_t* value) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  int32_t v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v < 1) return false;
  *value = v;
  return true;
}

bool IsModeLineNameValid(std::string_view name) {
  if (name.empty() || int(name.size()) > kMaxNameLength) return false;
  for (char c : name)
    if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}
