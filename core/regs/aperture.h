// Registers of the host-aperture slots of the emulated surface mapper:
// slot i (0..19) is four words at kRegApertureSlotStride * i.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kApertureSlots = 20;
inline constexpr uint32_t kRegApertureSlotStride = 16;
inline constexpr uint32_t kRegApertureKey = 0x0;  // offset | base bits | enable; 0 = off
inline constexpr uint32_t kRegApertureDesc0 = 0x4;
inline constexpr uint32_t kRegApertureDesc1 = 0x8;
inline constexpr uint32_t kRegApertureDesc2 = 0xC;
inline constexpr uint32_t kApertureSlotEnable = 0x10000000;
inline constexpr uint32_t kApertureBaseBitsMask = 0x0E000000;
