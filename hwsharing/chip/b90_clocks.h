// The later generation's clock services (device 0x5D63): the three clock
// registers 0xE00 (system), 0xE04 (graphics) and 0xE08 (third clock), each
// with a source in bits 1-4 (1..4 = FS 0..3; 0xE00 takes only FS 0) and a
// divider code in bits 5-7; the system-clock record; the free synthesizer;
// the graphics clock and the test clock in 0xE24.
#pragma once

#include <cstdint>

#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrB90NoFreeFs = 0xB2701240;

HALSTATUS HSLB90GetFSFreq(BOARDHANDLE* h, uint32_t word, uint32_t* khz);
HALSTATUS HSLB90GetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);     // slot 53
HALSTATUS HSLB90GetPInSSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);  // slot 51
HALSTATUS HSLB90SetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);     // slot 52
// Whether FS n feeds a clock of the three select words.
uint32_t IsB90FSInUse(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t n);
HALSTATUS HSLB90GetFreeFS(BOARDHANDLE* h, uint32_t position, uint32_t* fs);  // slot 49
HALSTATUS HSLB90GetGclk(BOARDHANDLE* h, MODEINFO* mode, uint32_t* fs);       // slot 50
HALSTATUS HSLB90TranslateGclkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* isFs,
                                       uint32_t* fs);
HALSTATUS HSLB90IsGClkRecyclable(BOARDHANDLE* h, MODEINFO* mode, uint32_t* recyclable,
                                 uint32_t* select);
HALSTATUS HSLB90ChangeGclkSpeed(BOARDHANDLE* h, const GCLKREQUEST* request);
HALSTATUS HSLB90EnableTstClk(BOARDHANDLE* h, uint32_t position);
HALSTATUS HSLB90DisableTstClk(BOARDHANDLE* h);
// Stops the controllers, resets and restarts the memory and the clocks from
// the board description, reads the clocks back and restarts the controllers.
HALSTATUS HSLB90InitMemClk(BOARDHANDLE* h);
HALSTATUS HSLKSTCSetDefaultPinsB90(BOARDHANDLE* h);
