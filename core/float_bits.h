// A float's bit pattern and back: the engine's registers and the clients'
// records carry floats as 32-bit words.
#pragma once

#include <stdint.h>
#include <string.h>

inline uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline float BitsFloat(uint32_t bits) {
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}
