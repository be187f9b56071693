// Registers of the chip's interrupt controller: the latched sources, their
// acknowledge and enable words, the source bits, and the configuration word
// whose bit 3 gives the chip a third vertical-blank source.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kRegIrqPending = 0x8F4;      // read: latched sources
inline constexpr uint32_t kRegIrqAcknowledge = 0x8F8;  // write the bits to clear them
inline constexpr uint32_t kRegIrqEnable = 0x8FC;       // mask of the sources that interrupt

inline constexpr uint32_t kIrqVBlank0 = 0x1;     // first display controller (displays 1 and 4)
inline constexpr uint32_t kIrqVBlank1 = 0x2;     // second display controller (displays 2 and 8)
inline constexpr uint32_t kIrqVBlank2 = 0x8;     // the third source
inline constexpr uint32_t kIrqEngine = 0x10000;  // drawing engine: an event packet reached

inline constexpr uint32_t kRegDisplayConfig = 0x1DC4;
inline constexpr uint32_t kDisplayConfigThirdVBlank = 0x8;
