// Identifiers for "another vendor" and "an unknown device" in tests. Made
// up: never a real vendor's or chip's, so a test cannot pass by accident
// on what some real device would do.
#pragma once

#include <stdint.h>

inline constexpr uint16_t kTestOtherVendorId = 0x1234;
// A device id no table of the drivers or tools knows.
inline constexpr uint16_t kTestUnknownDeviceId = 0x0BAD;
