// Giving the console back when the X server leaves: which output path
// carried the VGA picture (the output-state word), saving the VGA registers,
// the palette and the expansion FPGAs' register sets, turning the four
// controllers off, and later putting the chip, its outputs and the
// companion chips (encoders, DVI transmitters, FPGAs) back into VGA mode
// from what was saved. The encoders that carry the console and the FPGA
// sets are kept in the board's own handle (VGARETURNSTATE).
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

struct VGARETURNSTATE;

// ---- The VGA output-state word ------------------------------------------------
inline constexpr uint32_t kVgaOutDacs = 0x10000000;     // VGA leaves through the DACs
inline constexpr uint32_t kVgaOutDvo = 0x20000000;      // through a DVO (digital path)
inline constexpr uint32_t kVgaOutEncoder = 0x80000000;  // through an encoder path
inline constexpr uint32_t kVgaOutEncoderTv = 0x2000000; // the encoder's TV probe found it
// Console width class and encoder kind, from the VGA probe.
inline constexpr uint32_t kVgaOutLvds = 0x4000;
inline constexpr uint32_t kVgaOutLvdsText = 0x5000;
inline constexpr uint32_t kVgaOutWidth1024 = 0x400;
inline constexpr uint32_t kVgaOutWidth1280 = 0x800;
inline constexpr uint32_t kVgaOutWidth1600 = 0x1000;
inline constexpr uint32_t kVgaOutWidthOther = 0x2000;
// Detail of the encoder's TV probe: 0x10 when its register 7 read 131 or
// 113 (the second TV timing class), 0x08 otherwise; both with 0x80.
inline constexpr uint32_t kVgaOutTvClassB = 0x90;
inline constexpr uint32_t kVgaOutTvClassA = 0x88;
inline constexpr uint32_t kVgaOutTvClassBBit = 0x10;
inline constexpr uint32_t kVgaOutTvAlternate = 0x100;
// Path selection: 0x20 both paths, 0x40 the second path alone, 0x2 and
// 0x200 the second path as well.
inline constexpr uint32_t kVgaOutBothPaths = 0x20;
inline constexpr uint32_t kVgaOutSecondOnly = 0x40;
inline constexpr uint32_t kVgaOutSecondToo = 0x2 | 0x200;

// The encoder error of a PLL that does not lock.
inline constexpr HALSTATUS kErrChrPllNotLocked = 0xB26011A0;

// The value the return passes to the encoder and transmitter enables.
inline constexpr uint32_t kVgaEnableValue = 29;

// Selector bit of HSLKSTGetFpgaVgaState: with a negative selector, the
// second preset.
inline constexpr uint32_t kFpgaPresetB = 0x10;

// Fills *word and answers 1. The handle's status is left as it was.
HALSTATUS HSLKSTGetVgaOutputState(BOARDHANDLE* h, uint32_t* word);
// A selector >= 0 reads both FPGA sets from the FPGAs; a negative one takes
// a preset.
HALSTATUS HSLKSTGetFpgaVgaState(BOARDHANDLE* h, uint32_t selector);
// Clears the status, then saves (FPGA sets on quad boards,) the VGA
// registers and the palette into `block` (830 bytes).
HALSTATUS HSLKSTGetVgaState(BOARDHANDLE* h, void* block, uint32_t selector);
HALSTATUS HSLKSTDisableControllers(BOARDHANDLE* h);
HALSTATUS HSLKSTReturnToVga(BOARDHANDLE* h, void* block, uint32_t word);

// ---- Steps of the return, for the tests ---------------------------------------
// The FPGA register lists: read each listed register's value into the list;
// write 31 := 0, 30 := 0, every pair, 30 := 1; the same with the devices'
// patches.
HALSTATUS GetFPGARegisters(BOARDHANDLE* h, uint8_t* list, uint32_t fpga);
HALSTATUS SetFPGARegisters(BOARDHANDLE* h, const uint8_t* list, uint32_t fpga);
HALSTATUS PatchFPGARegisters(BOARDHANDLE* h, const uint8_t* list, uint32_t fpga);
// The console encoders' start (value, output-state word), one encoder's
// start, and its two PLL checks.
HALSTATUS HSLKSTEnableChrontel(BOARDHANDLE* h, uint32_t value, uint32_t word);
HALSTATUS HSLKSTEnableChrontelDevice(BOARDHANDLE* h, uint32_t encoder, uint32_t value, uint32_t word);
HALSTATUS HSLKSTCheckChrontelPllLocked(BOARDHANDLE* h, uint32_t word, uint32_t encoder);
HALSTATUS HSLKSTCheckChrontelLvdsPllLocked(BOARDHANDLE* h, uint32_t encoder);
HALSTATUS HSLKSTSoftVidResetCRTCA(BOARDHANDLE* h);

// The per-board console state with its defaults filled in on first use.
VGARETURNSTATE& VgaReturnState(BOARDHANDLE* h);
