#include "kernel/3d/targets/clear_values.h"

#include <math.h>

#include "kernel/3d/surfaces/format_catalogue.h"

namespace {

constexpr uint32_t kClassPacked = 2;
constexpr uint32_t kClassSpecial = 4;

uint32_t Depth24(float z) {
  const double v = static_cast<double>(z) * 16777216.0;
  return v >= 16777215.0 ? 0xFFFFFF : static_cast<uint32_t>(v);
}

int32_t Saturate(double v) {
  if (!(v == v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

bool GetDepthClearValue(uint32_t code, float zIn, uint32_t s, bool clearDepth, bool clearStencil, DepthClear* out) {
  if (out == nullptr || code < 17 || code > 28) return false;
  const float z = SanitiseClearDepth(zIn);
  const uint32_t d24 = Depth24(z);
  uint32_t value = 0;
  uint32_t stencilMask = 0;
  uint32_t depthMask = 0x00FFFFFF;
  uint32_t always = 0;
  switch (code) {
    case 17: {
      const double t = static_cast<double>(z) * 65536.0;
      const uint32_t v = t >= 65535.0 ? 0xFFFF : static_cast<uint32_t>(t);
      value = v | v << 16;
      depthMask = 0xFFFFFFFF;
      break;
    }
    case 18: {
      const double t = static_cast<double>(z) * 32768.0;
      const uint32_t v = (t >= 32767.0 ? 0x7FFF : static_cast<uint32_t>(t)) * 2 | (s & 1);
      value = v | v << 16;
      stencilMask = 0x00010001;
      depthMask = 0xFFFEFFFE;
      break;
    }
    case 20:
      value = d24;
      depthMask = 0xFFFFFFFF;
      break;
    case 21: {
      const uint32_t s7 = s <= 127 ? s : static_cast<uint32_t>(static_cast<double>(s) * 0.5 + 0.5) % 127;
      value = s7 << 25 | d24;
      stencilMask = 0xFF000000;
      always = 0x01000000;
      break;
    }
    case 25:
      value = s << 28 | d24;
      stencilMask = 0xFF000000;
      always = 0x0F000000;
      break;
    default: {
      // 19, 22-24 and 26-28: s at the stencil field's shift.
      static constexpr uint32_t kShift[] = {24, 0, 0, 31, 30, 29, 0, 27, 26, 25};  // codes 19-28
      const uint32_t shift = kShift[code - 19];
      value = s << shift | d24;
      stencilMask = ~0u << shift;
      break;
    }
  }
  uint32_t mask = always;
  if (clearStencil) mask |= stencilMask;
  if (clearDepth) mask |= depthMask;
  *out = {value, mask};
  return true;
}

bool GetColourClearValue(const FormatDescriptor* format, uint32_t colour, uint32_t mode, uint32_t* value) {
  if (format == nullptr || value == nullptr) return false;
  const uint32_t blue = colour & 0xFF;
  if (format->formatClass == kClassPacked) {
    if (mode == 1 || mode == 3) return false;
    const uint32_t channels[4] = {(colour >> 16) & 0xFF, (colour >> 8) & 0xFF, blue, colour >> 24};
    const FormatChannel which[4] = {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha};
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const uint32_t shift = format->shifts[which[i]] & 31;
      const uint64_t range = format->masks[which[i]] >> shift;
      const uint64_t field = uint64_t{channels[i]} * range / 255;
      v |= static_cast<uint32_t>(field << shift) & format->masks[which[i]];
    }
    if (mode == 2) v = (v & 0xFFFF) | v << 16;
    *value = v;
    return true;
  }
  if (format->formatClass != kClassSpecial) return false;
  switch (format->code) {
    case 29:
      *value = blue * 0x01010101u;
      return true;
    case 32: {
      const uint32_t x = (colour & 0xFF) | ((colour >> 16) & 0xFF00);
      *value = x | x << 16;
      return true;
    }
    case 30: {
      const uint32_t t = static_cast<uint32_t>(static_cast<double>(blue) / 255.0 * 1023.0);
      *value = t << 22 | t * 64;
      return true;
    }
    default:
      return false;
  }
}

ClearRect ScaleClearRect(ClearRect r, float scaleX, float scaleY) {
  r.left = Saturate(r.left * static_cast<double>(scaleX));
  r.right = Saturate(r.right * static_cast<double>(scaleX));
  r.top = Saturate(r.top * static_cast<double>(scaleY));
  r.bottom = Saturate(r.bottom * static_cast<double>(scaleY));
  return r;
}
