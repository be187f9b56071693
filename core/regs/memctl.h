// Registers of the memory controllers, both chip generations.
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

// ---- First generation: four controllers behind one select register ----------
inline constexpr uint32_t kRegMcSelect = 0xF00;  // one enable bit per controller
inline constexpr uint32_t kMcSelectShift = 8;    // controller bit k -> select bit 8k
inline constexpr uint32_t kMcSelectBits = 0x01010101u;
inline constexpr uint32_t kMcControllerCount = 4;

inline constexpr uint32_t kRegMcRefresh = 0xF04;
inline constexpr uint32_t kRegMcStatus = 0xF08;  // status and control
inline constexpr uint32_t kMcStatusIdle = 1u << 31;
inline constexpr uint32_t kMcPhaseErrorReset = 1u << 2;
inline constexpr uint32_t kMcStatusHoldMask = 0xFFFu << 16;  // kept from block dword 0
inline constexpr uint32_t kMcStatusProgram = 0x9004;
inline constexpr uint32_t kMcStatusProgramDone = 0x9005;
inline constexpr uint32_t kMcStatusQuiesce = 0x1004;
inline constexpr uint32_t kRegMcPhase = 0xF24;
inline constexpr uint32_t kMcPhaseErrorClear = 1u << 16;
inline constexpr uint32_t kRegMcDll = 0xF5C;
inline constexpr uint32_t kMcDllReset = 0x138;
inline constexpr uint32_t kMcDllRun = 0x130;
inline constexpr uint32_t kMcDllLocked = 0x100;
inline constexpr uint32_t kRegMcTrain0 = 0xF40;
inline constexpr uint32_t kRegMcTrain1 = 0xF44;

// The 13 dwords of a first-generation controller block go to these
// registers, dword 0 first (dword 0 is written last, after the others).
inline constexpr uint32_t kMcBlockDwords = 13;

// ---- Later generation: two controllers ---------------------------------------
inline constexpr uint32_t kRegB90McSelect = 0xFFC;  // bit 0 controller 1, bit 1 controller 2
inline constexpr uint32_t kB90McSelectMask = 0x3;
inline constexpr uint32_t kRegB90McStatus = 0xFF8;
inline constexpr uint32_t kB90McBusy = (1u << 9) | (1u << 10);  // both set = busy
inline constexpr uint32_t kRegB90McStart = 0xFF4;  // 1 start, 0 reset
inline constexpr uint32_t kRegB90McConfig = 0xF00;
inline constexpr uint32_t kB90McSecondPhase = 1u << 30;

// Controller masks.
inline constexpr uint32_t kMc1 = 1, kMc2 = 2, kMc4 = 4, kMc8 = 8;
inline constexpr uint32_t kB90McBoth = kMc1 | kMc2;

// ---- Memory configuration --------------------------------------------------------
inline constexpr uint32_t kRegMemoryConfig = 0x1E44;
using MemoryType = RegField<22, 2>;  // the memory type the request priorities weigh
