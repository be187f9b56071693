#include "hwsharing/hal/edid_text.h"

#include <cstring>

#include "hwsharing/hal/edid.h"

namespace {
constexpr size_t kEdidVendor = 8;
constexpr size_t kEdidSerial = 12;
constexpr size_t kDescriptorTag = 3;
constexpr size_t kDescriptorText = 5;
}  // namespace

void ORVGetVendorSign(const uint8_t* edid, char* out) {
  const uint32_t word = (edid[kEdidVendor] << 8) | edid[kEdidVendor + 1];
  out[0] = static_cast<char>(0x40 + ((word >> 10) & 0x1F));
  out[1] = static_cast<char>(0x40 + ((word >> 5) & 0x1F));
  out[2] = static_cast<char>(0x40 + (word & 0x1F));
  out[3] = 0;
}

uint32_t GetEdidDescriptorString(const uint8_t* edid, uint8_t tag, char* out) {
  for (size_t i = 0; i < kEdidDescriptorCount; ++i) {
    const uint8_t* d = edid + kEdidFirstDescriptor + i * kEdidDescriptorSize;
    // Only a display descriptor (first two bytes zero) carries a tag; the
    // same byte of a detailed timing is part of its blanking.
    if (d[0] != 0 || d[1] != 0 || d[kDescriptorTag] != tag) continue;
    std::memcpy(out, d + kDescriptorText, kEdidDescriptorTextSize);
    out[kEdidDescriptorTextSize] = 0;
    return 12;
  }
  return 0;
}

uint32_t ORVGetMonitorName(const uint8_t* edid, char* out) {
  return GetEdidDescriptorString(edid, kEdidTagMonitorName, out);
}

uint32_t ORVGetSerialNumber(const uint8_t* edid, char* out) {
  std::memcpy(out, edid + kEdidSerial, 4);
  out[5] = 0;
  return GetEdidDescriptorString(edid, kEdidTagSerialText, out);
}
