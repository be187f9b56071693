// The VGA register state of the chip, saved and restored as one block, and
// the low-level device access that runs a caller's list of waits and
// companion-chip register reads and writes.
#pragma once

#include <cstdint>

#include "core/regs/vga.h"
#include "hwsharing/chip/haltypes.h"
#include "hwsharing/chip/reg_access.h"

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

// Indexed VGA registers: the index goes to the index port, then the data
// port is read or written.
inline uint8_t VgaIndexedRead(BOARDHANDLE* h, uint32_t indexPort, uint8_t index) {
  RegWriteByte(h, indexPort, index);
  return RegReadByte(h, indexPort + 1);
}
inline void VgaIndexedWrite(BOARDHANDLE* h, uint32_t indexPort, uint8_t index, uint32_t value) {
  RegWriteByte(h, indexPort, index);
  RegWriteByte(h, indexPort + 1, static_cast<uint8_t>(value));
}
inline uint8_t VgaSeq(BOARDHANDLE* h, uint8_t i) { return VgaIndexedRead(h, kVgaSeqIndex, i); }
inline void SetVgaSeq(BOARDHANDLE* h, uint8_t i, uint32_t v) { VgaIndexedWrite(h, kVgaSeqIndex, i, v); }
inline uint8_t VgaCrtc(BOARDHANDLE* h, uint8_t i) { return VgaIndexedRead(h, kVgaCrtcIndex, i); }
inline void SetVgaCrtc(BOARDHANDLE* h, uint8_t i, uint32_t v) { VgaIndexedWrite(h, kVgaCrtcIndex, i, v); }
inline uint8_t VgaCrtcExt(BOARDHANDLE* h, uint8_t i) { return VgaIndexedRead(h, kVgaCrtcExtIndex, i); }
inline void SetVgaCrtcExt(BOARDHANDLE* h, uint8_t i, uint32_t v) {
  VgaIndexedWrite(h, kVgaCrtcExtIndex, i, v);
}
inline uint8_t VgaGfx(BOARDHANDLE* h, uint8_t i) { return VgaIndexedRead(h, kVgaGfxIndex, i); }
inline void SetVgaGfx(BOARDHANDLE* h, uint8_t i, uint32_t v) { VgaIndexedWrite(h, kVgaGfxIndex, i, v); }
// Sequencer register 1 bit 5: the screen blanked.
inline void SetVgaScreenOff(BOARDHANDLE* h, bool off) {
  const uint8_t v = VgaSeq(h, kVgaSeqClocking);
  SetVgaSeq(h, kVgaSeqClocking, off ? v | kVgaSeqScreenOff : v & ~kVgaSeqScreenOff);
}

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
