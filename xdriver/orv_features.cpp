#include "xdriver/orv_features.h"

#include <stdlib.h>

#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_options.h"
#include "xdriver/orv_rec.h"

namespace {

constexpr int32_t kTvScalingAlways = 5;
// The TV's picture area by standard.
constexpr uint32_t kTvWidth = 720;
constexpr uint32_t kTvLinesPal = 576;
constexpr uint32_t kTvLinesNtsc = 484;

struct IntegerOption {
  int token;
  int32_t OrvTvOptions::*field;
  int32_t fallback;
};
const IntegerOption kTvIntegers[] = {
    {OPTION_ANTIFLICKER, &OrvTvOptions::antiFlickerLevel, 25},
    {OPTION_BRIGHTNESS, &OrvTvOptions::brightness, 750},
    {OPTION_COLOR_ENABLE, &OrvTvOptions::colorEnable, 1},
    {OPTION_CONTRAST, &OrvTvOptions::contrast, 10000},
    {OPTION_GAMMA, &OrvTvOptions::gamma, 100},
    {OPTION_HUE, &OrvTvOptions::hue, 0},
    {OPTION_SATURATION, &OrvTvOptions::saturation, 10000},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* OrvTool_RemoveNonDigits(const char* text, int) {
  if (text == nullptr) return "";
  while (*text != '\0' && !IsDigit(*text)) ++text;
  return text;
}

bool OrvParseRegion(const char* text, OrvRegion* region) {
  *region = {0, 0, 0, 0};
  uint32_t values[4];
  const char* p = text;
  for (uint32_t& value : values) {
    p = OrvTool_RemoveNonDigits(p, 10);
    if (*p == '\0') return false;
    char* end = nullptr;
    const unsigned long number = strtoul(p, &end, 10);
    // A number beyond 32 bits cannot be a pixel position.
    value = number > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<uint32_t>(number);
    p = end;
  }
  *region = {values[0], values[1], values[2], values[3]};
  return true;
}

bool OrvRegionUsable(const OrvRegion& r, uint32_t width, uint32_t height) {
  if (r.x0 == r.x1 && r.y0 == r.y1) return false;
  return r.x1 <= width && r.y1 <= height;
}

int OrvFeatureConfig_GetTvOptions(ScrnInfoPtr screen, OrvTvOptions* settings) {
  ORVRec* rec = ORVPTR(screen);
  const OptionInfoRec* options = rec->pOptions;
  *settings = {};
  const char* standard = xf86GetOptValString(options, OPTION_TVSTANDARD);
  settings->standard = kFeatureTvNtsc;
  if (standard != nullptr && xf86NameCmp(standard, "PAL60") == 0) settings->standard = kFeatureTvPal60;
  else if (standard != nullptr && xf86NameCmp(standard, "PAL") == 0) settings->standard = kFeatureTvPal;
  settings->scaling = kTvScalingAlways;

  if (const char* text = xf86GetOptValString(options, OPTION_SELECTED_REGION)) {
    OrvParseRegion(text, &settings->selectedRegion);
  }
  if (const char* text = xf86GetOptValString(options, OPTION_OUTPUT_REGION)) {
    OrvParseRegion(text, &settings->outputRegion);
  }
  const DisplayModeRec* first = screen->modes;
  settings->selectedRegionValid =
      first != nullptr && OrvRegionUsable(settings->selectedRegion,
                                          static_cast<uint32_t>(first->HDisplay),
                                          static_cast<uint32_t>(first->VDisplay));
  const uint32_t lines = settings->standard == kFeatureTvNtsc ? kTvLinesNtsc : kTvLinesPal;
  settings->outputRegionValid = OrvRegionUsable(settings->outputRegion, kTvWidth, lines);

  for (const IntegerOption& o : kTvIntegers) {
    int value = 0;
    settings->*o.field = xf86GetOptValInteger(options, o.token, &value) ? value : o.fallback;
  }
  xf86DrvMsg(screen->scrnIndex, X_CONFIG, "Cloning output to TV\n");
  return 1;
}

int OrvFeatureConfig_GenerateFeatureList(ScrnInfoPtr screen, FeatureInfo** list) {
  ORVRec* rec = ORVPTR(screen);
  // Present with any value, "off" included, TV output is asked for.
  if (!xf86IsOptionSet(rec->pOptions, OPTION_TVOUT)) return 1;
  if (rec->busMastering != kBusMasteringKernel) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR,
               "TV output could not be activated because bus mastering is not available.\n");
    return 1;
  }
  auto* entry = static_cast<FeatureInfo*>(xcalloc(1, sizeof(FeatureInfo)));
  if (entry == nullptr) {
    xf86DrvMsg(screen->scrnIndex, X_CONFIG, "FeatureInfo allocation failed\n");
    return 1;
  }
  OrvFeatureConfig_GetTvOptions(screen, &entry->tv);
  entry->kind = kFeatureTvOut;
  entry->next = *list;
  *list = entry;
  return 1;
}

FeatureInfo* OrvFeatureConfig_GetFeatureInfo(FeatureInfo* list, int32_t kind) {
  for (FeatureInfo* f = list; f != nullptr; f = f->next) {
    if (f->kind == kind) return f;
  }
  return nullptr;
}

bool OrvFeatureConfig_IsTvOut(FeatureInfo* list) {
  return OrvFeatureConfig_GetFeatureInfo(list, kFeatureTvOut) != nullptr;
}

void OrvFeatureConfig_FreeFeatureList(FeatureInfo** list) {
  while (*list != nullptr) {
    FeatureInfo* next = (*list)->next;
    xfree(*list);
    *list = next;
  }
}
