#include "tools/gui/ProbeUtils.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace {

struct Word {
  const char* text;
  uint32_t value;
};

template <size_t N>
int Lookup(const Word (&table)[N], const char* word, uint32_t* out, bool ignoreCase) {
  if (word == nullptr) return -1;
  for (const Word& w : table) {
    if ((ignoreCase ? strcasecmp(w.text, word) : std::strcmp(w.text, word)) == 0) {
      *out = w.value;
      return 1;
    }
  }
  return -1;
}

constexpr Word kPivots[] = {{"none", 0}, {"cw", 1}, {"ccw", 2}};
constexpr Word kModes[] = {{"merge", 1}, {"independent", 2}, {"xinerama", 3}};
constexpr Word kLayouts[] = {{"horizontal", 1}, {"vertical", 2}, {"square", 3}};
constexpr Word kBools[] = {{"true", 1}, {"false", 0}};
constexpr Word kMonitors[] = {{"1", 0}, {"2", 1}, {"3", 2}, {"4", 3}, {"all", 5}};

}  // namespace

int GetOutputEnum(int outputs, uint32_t* index) {
  if (outputs >= 1 && outputs <= 4) {
    *index = static_cast<uint32_t>(outputs - 1);
    return 1;
  }
  *index = 0;
  return -1;
}

int GetPivotEnum(const char* word, uint32_t* pivot) { return Lookup(kPivots, word, pivot, true); }
int GetAgglutinationEnum(const char* word, uint32_t* mode) { return Lookup(kModes, word, mode, false); }
int GetTopologyEnum(const char* word, uint32_t* layout) { return Lookup(kLayouts, word, layout, false); }
int ConvertToBool(const char* word, uint32_t* value) { return Lookup(kBools, word, value, false); }

int GetMonitorEnum(const char* word, uint32_t* output) {
  int result = Lookup(kMonitors, word, output, false);
  if (result < 0) std::fprintf(stderr, "Enum OutputId not found\n");
  return result;
}

int GetX86PolarityValue(int hpolarity, int vpolarity) {
  if (hpolarity == 0 && vpolarity == 1) return 9;
  if (hpolarity == 1 && vpolarity == 0) return 6;
  if (hpolarity == 1 && vpolarity == 1) return 10;
  return 5;
}
