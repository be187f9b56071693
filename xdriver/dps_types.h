// Values shared by the display-processing objects: output types, filtering,
// scaler ids, controllers and the three-word descriptor a texture unit
// takes.
#pragma once

#include <stdint.h>

// What the back buffers feed: 1 and 2 are RGB outputs (pass-through); 4 and
// 8 are TV output kinds 0-2 at the 484-line (4) or 576-line (8) standard;
// 16 and 32 are TV output kind 3 at those standards. Any other value is
// refused where the type is tested.
using EDPSOutputType = uint32_t;
inline constexpr EDPSOutputType kDpsOutputRgb = 1;
inline constexpr EDPSOutputType kDpsOutputRgb2 = 2;
inline constexpr EDPSOutputType kDpsOutputTv484 = 4;
inline constexpr EDPSOutputType kDpsOutputTv576 = 8;
inline constexpr EDPSOutputType kDpsOutputTv3of484 = 16;
inline constexpr EDPSOutputType kDpsOutputTv3of576 = 32;
// The TV types (4, 8, 16, 32).
inline constexpr EDPSOutputType kDpsOutputTvMask = 0x3C;

inline constexpr bool DpsIsTvOutput(EDPSOutputType t) {
  return t == kDpsOutputTv484 || t == kDpsOutputTv576 || t == kDpsOutputTv3of484 ||
         t == kDpsOutputTv3of576;
}
inline constexpr bool DpsIsRgbOutput(EDPSOutputType t) {
  return t == kDpsOutputRgb || t == kDpsOutputRgb2;
}

// 1 none (same size), 2 filtered stretch, 3 strong reduction.
using EDPSFiltering = uint32_t;
inline constexpr EDPSFiltering kDpsFilterNone = 1;
inline constexpr EDPSFiltering kDpsFilterStretch = 2;
inline constexpr EDPSFiltering kDpsFilterReduce = 3;

// Which source a scale draws from: 1, 4, 5 the desktop; 2, 3 the second
// source; 0 (and anything above 5) nothing.
using EDPSScalerID = uint32_t;
inline constexpr EDPSScalerID kDpsScalerStart = 4;

// The display controller that shows the back buffers; 0xFFFF: none.
using EDPSController = uint32_t;
inline constexpr EDPSController kDpsNoController = 0xFFFF;

using EDPSOwnerID = uint32_t;
using EDPSSrcUnit = int32_t;

// Pixel kinds beside the bits per pixel.
inline constexpr uint32_t kDpsKindYCbCr = 0xB0000;  // the TV output format
inline constexpr uint32_t kDpsKind40000 = 0x40000;
inline constexpr uint32_t kDpsKindC0000 = 0xC0000;

// What a texture unit is given of a surface: address, format word, height word.
struct SDPSSurfDesc {
  uint32_t address = 0;
  uint32_t format = 0;
  uint32_t height = 0;
};
