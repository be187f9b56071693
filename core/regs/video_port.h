// Registers of the chip's video port: the second controller's ITU-656
// output to a TV encoder (0x3C10-0x3C4C), the DVD decoder's control lines
// and the sync-polarity line of the add-on TV encoder.
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

// ---- ITU-656 output of the second controller ----------------------------------------
inline constexpr uint32_t kRegItu656Control = 0x3C10;  // bits 21-23: input format
using Itu656InputFormat = RegField<21, 3>;
inline constexpr uint32_t kRegItu656H = 0x3C14;        // start << 16 | end
inline constexpr uint32_t kRegItu656H2 = 0x3C18;
inline constexpr uint32_t kRegItu656V = 0x3C1C;        // start << 16 | end
inline constexpr uint32_t kRegItu656V2 = 0x3C20;
inline constexpr uint32_t kRegItu656Pitch = 0x3C40;    // bytes
inline constexpr uint32_t kRegItu656Lines = 0x3C44;    // bits 16-27: lines
using Itu656Lines = RegField<16, 12>;
inline constexpr uint32_t kRegItu656Pixels = 0x3C4C;   // low byte: pixel packing

// ---- DVD decoder lines (byte registers) ----------------------------------------------
inline constexpr uint32_t kRegDvdControl = 0x3E40;  // bit 0: lines held while set
inline constexpr uint8_t kDvdHold = 0x01;
inline constexpr uint32_t kRegDvdLines = 0x3E43;
inline constexpr uint8_t kDvdLineReset = 0x04;
inline constexpr uint8_t kDvdLineStart = 0x40;

// ---- Add-on TV encoder ------------------------------------------------------------------
inline constexpr uint32_t kRegTvSyncPolarity = 0x1E40;
