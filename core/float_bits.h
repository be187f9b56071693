// A float's bit pattern and back: the engine's registers and the clients'
// records carry floats as 32-bit words.
#pragma once

#include <stdint.h>

#include <bit>

constexpr uint32_t FloatBits(float value) { return std::bit_cast<uint32_t>(value); }

constexpr float BitsFloat(uint32_t bits) { return std::bit_cast<float>(bits); }

// The floats the engine words take most.
inline constexpr uint32_t kFloat1 = FloatBits(1.0f);
inline constexpr uint32_t kFloat15 = FloatBits(15.0f);
inline constexpr uint32_t kFloat16 = FloatBits(16.0f);
inline constexpr uint32_t kFloat31 = FloatBits(31.0f);
inline constexpr uint32_t kFloat32 = FloatBits(32.0f);
static_assert(kFloat1 == 0x3F800000 && kFloat31 == 0x41F80000 && kFloat32 == 0x42000000);
