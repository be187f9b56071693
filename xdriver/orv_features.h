// The screen's feature list: the display features beside its mode. The one
// this driver builds is TV output (the head's picture cloned to the TV
// encoder), with its settings from the TV options.
#pragma once

#include <stdint.h>

#include "platform/xserver/xf86_types.h"

// Feature kinds.
inline constexpr int32_t kFeatureTvOut = 8;

// TV standard codes of the feature list (the screen record has its own).
inline constexpr int32_t kFeatureTvPal = 0;
inline constexpr int32_t kFeatureTvNtsc = 1;
inline constexpr int32_t kFeatureTvPal60 = 2;

struct OrvRegion {
  uint32_t x0, y0, x1, y1;
};

struct OrvTvOptions {
  int32_t standard;  // kFeatureTv*
  int32_t scaling;   // always 5
  int32_t selectedRegionValid;
  OrvRegion selectedRegion;
  int32_t outputRegionValid;
  OrvRegion outputRegion;
  int32_t antiFlickerLevel;
  int32_t brightness;
  int32_t colorEnable;
  int32_t contrast;
  int32_t gamma;
  int32_t hue;
  int32_t saturation;
};

struct FeatureInfo {
  int32_t kind;  // kFeatureTvOut
  FeatureInfo* next;
  int32_t flags;  // the feature manager's output mode in bits 0-3
  OrvTvOptions tv;
};

// Adds the TV entry (newest first) when option TvOut is present; always 1.
int OrvFeatureConfig_GenerateFeatureList(ScrnInfoPtr screen, FeatureInfo** list);
int OrvFeatureConfig_GetTvOptions(ScrnInfoPtr screen, OrvTvOptions* settings);
FeatureInfo* OrvFeatureConfig_GetFeatureInfo(FeatureInfo* list, int32_t kind);
bool OrvFeatureConfig_IsTvOut(FeatureInfo* list);
void OrvFeatureConfig_FreeFeatureList(FeatureInfo** list);
// The rest of the text after its leading non-digits (possibly empty).
const char* OrvTool_RemoveNonDigits(const char* text, int base);

// Four unsigned decimal numbers of a region option; false (region left all
// zero) when fewer are found.
bool OrvParseRegion(const char* text, OrvRegion* region);
// Usable: not a single point and within (0, 0)-(width, height).
bool OrvRegionUsable(const OrvRegion& region, uint32_t width, uint32_t height);
