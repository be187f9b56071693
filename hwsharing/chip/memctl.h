// The chip's memory controllers, programmed from the board description:
// four controllers on the first generation (devices 0x0A41, 0x0A42, 0x5D61,
// 0x5D62), two on the later one (device 0x5D63). Controllers are named by
// mask bits 1, 2, 4, 8. The accessors leave the controller-select register
// as they found it.
#pragma once

#include <cstdint>

#include "core/board_description.h"
#include "hwsharing/chip/haltypes.h"

// Reads of the status register before a controller counts as stuck.
inline constexpr uint32_t kMemoryIdleMaxReads = 100000;

// One first-generation controller block: 13 dwords of the board description.
struct MCREGISTERS {
  uint32_t aulDword[13];
};

// First generation: the module clocks and display controllers are held
// while memory or clocks are reprogrammed; Release writes the saved values
// of 0x1C00, 0x1C04, 0x1800 and 0x1A00 back.
struct MODULEHOLD {
  uint32_t aulValue[4];
};
void HoldModules(BOARDHANDLE* h, MODULEHOLD* saved);
void ReleaseModules(BOARDHANDLE* h, const MODULEHOLD* saved);

// ---- First generation -----------------------------------------------------------
HALSTATUS SelectMemoryController(BOARDHANDLE* h, uint32_t mask);
HALSTATUS WriteMemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask, uint32_t value);
HALSTATUS ReadMemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask, uint32_t* value);
// Waits for every controller of the mask to go idle; false when one stayed
// busy for kMemoryIdleMaxReads reads.
bool WaitForMemoryIdle(BOARDHANDLE* h, uint32_t mask);

HALSTATUS HWKSTGetMCRegisters(BOARDHANDLE* h, uint32_t controller, MCREGISTERS* block);
HALSTATUS HWKSTSetMCRegisters(BOARDHANDLE* h, uint32_t mask, const MCREGISTERS* block);
HALSTATUS HWResetMemoryPhaseError(BOARDHANDLE* h);
HALSTATUS HWKSTInitializeMemoryController(BOARDHANDLE* h);

// ---- Later generation -------------------------------------------------------------
HALSTATUS SelectB90MemoryController(BOARDHANDLE* h, uint32_t mask);
HALSTATUS WriteB90MemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask,
                                        uint32_t value);
HALSTATUS ReadB90MemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask,
                                       uint32_t* value);
bool WaitForB90MemoryIdle(BOARDHANDLE* h);
HALSTATUS HWB90ResetMemoryController(BOARDHANDLE* h);
HALSTATUS HWB90InitializeMemoryController(BOARDHANDLE* h);

// One row of the later generation's programme: board-description word at
// kPinsB90McWords + offset goes to `reg` on the controllers of `mask`.
struct PINSMCROW {
  uint32_t ulOffset;
  uint32_t ulRegister;
  uint32_t ulMask;
};
inline constexpr uint32_t kB90McProgramRows = 44;
extern const PINSMCROW pinsDatasConvertor[kB90McProgramRows];
