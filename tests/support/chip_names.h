// Short names of the supported chips for the names of parametrised test
// cases: "KestrionNext3" reads better in a test list than 0x5D63, and stays
// the same from build to build.
#pragma once

#include <stdint.h>

#include <cstdio>
#include <string>

#include "core/chip_ids.h"

// The chip's name, or "Device" and its id in hexadecimal for any other id.
inline std::string TestChipName(uint16_t device) {
  switch (device) {
    case kDeviceKestrion1: return "Kestrion1";
    case kDeviceKestrion2: return "Kestrion2";
    case kDeviceKestrionNext1: return "KestrionNext1";
    case kDeviceKestrionNext2: return "KestrionNext2";
    case kDeviceKestrionNext3: return "KestrionNext3";
    default: break;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "Device%04X", static_cast<unsigned>(device));
  return text;
}
