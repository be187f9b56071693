// The VGA register state of the chip, saved and restored as one block, and
// the low-level device access that runs a caller's list of waits and
// companion-chip register reads and writes.
#pragma once

#include <cstdint>

#include "hwsharing/haltypes.h"

// Standard VGA registers in save order (62 bytes).
struct VGAINFO {
  uint8_t aucSeq[4];     // sequencer 1-4
  uint8_t ucMisc;        // miscellaneous output
  uint8_t aucCrtc[25];   // CRTC 0x00-0x18
  uint8_t aucAttr[20];   // attribute controller 0x00-0x13
  uint8_t aucGfx[9];     // graphics controller 0-8
  uint8_t aucReserved[3];
};
static_assert(sizeof(VGAINFO) == 62);

// The standard 80-column text mode, screen off.
extern const VGAINFO HSLVGAInfoDefault;

// Slots 2 and 3 of the MISC table. They do not look at the status first.
HALSTATUS HSLVGAReadVgaInfo(BOARDHANDLE* h, VGAINFO* info);
HALSTATUS HSLVGAWriteVgaInfo(BOARDHANDLE* h, VGAINFO* info);

// ---- Low-level device access --------------------------------------------------
// Word classes (bits 24-31) of a command list.
inline constexpr uint32_t kLlaClassControl = 1;
inline constexpr uint32_t kLlaClassRegister = 2;
inline constexpr uint32_t kLlaClassConfig = 3;
inline constexpr uint32_t kLlaClassI2c = 4;
// Control codes (bits 16-23 of a control word).
inline constexpr uint32_t kLlaControlNothing = 1;
inline constexpr uint32_t kLlaControlWaitShort = 2;  // bits 0-15 microseconds
inline constexpr uint32_t kLlaControlWaitLong = 3;   // the next word, microseconds
// Device kinds of an I2C command (bits 24-27 of its second word).
inline constexpr uint32_t kLlaDeviceNone = 0;
inline constexpr uint32_t kLlaDeviceEncoder = 1;
inline constexpr uint32_t kLlaDeviceFan = 2;
inline constexpr uint32_t kLlaDeviceFpga = 3;
// Operations (bits 10-11 of the first word).
inline constexpr uint32_t kLlaRead = 0;
inline constexpr uint32_t kLlaWrite = 1;
inline constexpr uint32_t kLlaPoll = 2;
// Register command sizes (bits 8-9).
inline constexpr uint32_t kLlaSizeByte = 0;
inline constexpr uint32_t kLlaSizeDword = 2;
inline constexpr uint32_t kLlaPollMaxReads = 10000001;

// Runs the list; answers 1 when all of it ran (results and their count
// given back), 0 otherwise (count 0). Clears the status word first.
uint32_t HALPLowLevelDeviceAccess(BOARDHANDLE* h, uint32_t count, const uint32_t* words,
                                  uint32_t* resultCount, uint32_t* results);
// One I2C command at *position; 1 when it ran, 0 when it is not accepted.
uint32_t HSLKSTAccessI2C(BOARDHANDLE* h, uint32_t count, uint32_t* position,
                         const uint32_t* words, uint32_t* resultIndex, uint32_t* results);
// One register or configuration-space command at *position.
uint32_t HSLKSTAccessRegister(BOARDHANDLE* h, uint32_t count, uint32_t* position,
                              const uint32_t* words, uint32_t* resultIndex, uint32_t* results);
