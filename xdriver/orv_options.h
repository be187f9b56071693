// The driver's options of the Device section: their tokens and the table
// the server is shown (ORVAvailableOptions). The table holds no defaults;
// each reader passes its own.
#pragma once

#include "platform/xserver/xf86_types.h"

// Tokens, fixed: the configuration tools and older files rely on them.
// Token 19 is not used.
enum OrvOptionToken : int {
  OPTION_SW_CURSOR = 0,
  OPTION_HW_CURSOR = 1,
  OPTION_PCI_RETRY = 2,
  OPTION_NOACCEL = 3,
  OPTION_SHADOW_FB = 4,
  OPTION_ROTATE = 5,
  OPTION_CRTC2HALF = 6,
  OPTION_CRTC2RAM = 7,
  OPTION_BUSMASTERING = 8,
  OPTION_DMA_EMULATED = 9,
  OPTION_MERGEDFB = 10,
  OPTION_MONITOR2HSYNC = 11,
  OPTION_MONITOR2VREFRESH = 12,
  OPTION_MONITOR2POS = 13,
  OPTION_METAMODES = 14,
  OPTION_DIGITAL_SCREEN = 15,
  OPTION_DIGITAL_SCREEN1 = 16,
  OPTION_DIGITAL_SCREEN2 = 17,
  OPTION_DVIDL = 18,
  OPTION_NOLOGO = 20,
  OPTION_SPANTHREE = 21,
  OPTION_SPANFOUR = 22,
  OPTION_S3I = 23,
  OPTION_S4I = 24,
  OPTION_TVOUT = 25,
  OPTION_TVSTANDARD = 26,
  OPTION_TVSCALING = 27,
  OPTION_SELECTED_REGION = 28,
  OPTION_OUTPUT_REGION = 29,
  OPTION_ANTIFLICKER = 30,
  OPTION_BRIGHTNESS = 31,
  OPTION_COLOR_ENABLE = 32,
  OPTION_CONTRAST = 33,
  OPTION_GAMMA = 34,
  OPTION_HUE = 35,
  OPTION_SATURATION = 36,
  OPTION_OFFSCREEN = 37,
  OPTION_KVD = 38,
  OPTION_KVDTV = 39,
  OPTION_GNLK = 40,
  OPTION_XFB = 41,
  OPTION_PACKED_PIXEL = 42,
  OPTION_PACKED_PIXEL_TYPE = 43,
  OPTION_MVGA = 44,
  OPTION_OCC = 45,
  OPTION_PSEUDO_XINERAMA = 46,
};

// 46 options and the terminator (token -1, no name).
inline constexpr int kOrvOptionRows = 47;
extern const OptionInfoRec ORVOptions[kOrvOptionRows];
