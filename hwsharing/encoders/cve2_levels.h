// The TV encoder's luma levels from brightness, contrast and the black- and
// white-level trims.
#pragma once

#include <cstdint>

#include "hwsharing/encoders/tv_tables.h"

struct CVE2LEVELS {
  uint32_t blank, black, white;
};

// Raises or lowers a level by a trim: 127 leaves it, 0-255 add trim - 127
// (up to `maximum`), above 255 adds 128 (up to `maximum`); the result never
// stays below `minimum`.
uint32_t Cve2AdjustLevel(uint32_t level, uint32_t trim, uint32_t minimum, uint32_t maximum);

// Levels for brightness `b` of `bMax` and contrast `k` of `kMax`; false
// when either maximum is 0.
bool Cve2ComputeLevels(const CVE2LUMA& luma, uint32_t b, uint32_t bMax, uint32_t k,
                       uint32_t kMax, uint32_t blackTrim, uint32_t whiteTrim, CVE2LEVELS* out);
