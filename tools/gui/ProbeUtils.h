// Words of the configuration and their numbers. Each answers 1, or -1 for
// an unknown word (the result then untouched unless said).
#pragma once
#include <cstdint>

int GetOutputEnum(int outputs, uint32_t* index);  // unknown: index 0
int GetPivotEnum(const char* word, uint32_t* pivot);
int GetAgglutinationEnum(const char* word, uint32_t* mode);
int GetTopologyEnum(const char* word, uint32_t* layout);
int ConvertToBool(const char* word, uint32_t* value);
int GetMonitorEnum(const char* word, uint32_t* output);
// X mode flags of the two sync polarities (0 positive, 1 negative).
int GetX86PolarityValue(int hpolarity, int vpolarity);
