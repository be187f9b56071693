// Texts of a monitor's EDID 1.x block that the X driver shows: the maker's
// three letters, the monitor name and the serial number.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint8_t kEdidTagSerialText = 0xFF;
inline constexpr uint8_t kEdidTagMonitorName = 0xFC;
inline constexpr size_t kEdidDescriptorTextSize = 13;
// Room a caller gives for a descriptor text: the text and a terminating zero.
inline constexpr size_t kEdidTextBufferSize = kEdidDescriptorTextSize + 1;

// Three letters from bytes 8-9 and a zero byte (4 bytes).
void ORVGetVendorSign(const uint8_t* edid, char* out);
// The 13 text bytes of the first display descriptor with the tag, followed
// by a zero byte (kEdidTextBufferSize bytes); returns 12. Without such a
// descriptor `out` is left alone and 0 is returned.
uint32_t GetEdidDescriptorString(const uint8_t* edid, uint8_t tag, char* out);
uint32_t ORVGetMonitorName(const uint8_t* edid, char* out);
// Bytes 12-15 (the binary serial number) to out[0..3] and a zero at out[5],
// then the serial-number text over them when the EDID has one.
uint32_t ORVGetSerialNumber(const uint8_t* edid, char* out);
