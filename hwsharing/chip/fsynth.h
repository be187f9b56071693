// The four frequency synthesizers (FS 0..3) of both chip generations:
// limits from the board description, the divider search through the PLL
// library, and on the first generation a fallback over a sorted table of
// candidate divider words.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/chip/pll.h"

inline constexpr int32_t kFsRefKHz = 27000;
inline constexpr uint32_t kFsTableSize = 20;
// Reads of the lock bits after programming, and how many must show both.
inline constexpr uint32_t kFsLockReads = 100;
inline constexpr uint32_t kFsLockMinReads = 90;
// Candidates further off than this (hundredths of a percent) are refused.
inline constexpr int32_t kFsMaxErrorHundredths = 50;
inline constexpr int32_t kFsErrorUnknown = 0x7FFFFFFF;

// FS parameter word of the table search: M1, M2, P1, P2 from the top byte
// down; P2 = 0 stands for a division by 2.
inline constexpr uint32_t FsParamM1(uint32_t w) { return w >> 24; }
inline constexpr uint32_t FsParamM2(uint32_t w) { return (w >> 16) & 0xFF; }
inline constexpr uint32_t FsParamP1(uint32_t w) { return (w >> 8) & 0xFF; }
inline constexpr uint32_t FsParamP2(uint32_t w) { return w & 0xFF; }
inline constexpr uint32_t MakeFsParam(uint32_t m1, uint32_t m2, uint32_t p1, uint32_t p2) {
  return (m1 << 24) | ((m2 & 0xFF) << 16) | ((p1 & 0xFF) << 8) | (p2 & 0xFF);
}
// Output of a parameter word in kHz (0 when P1 is 0).
int64_t FsParamOutput(uint32_t word);
// Error of a parameter word against `requested` kHz in hundredths of a
// percent; kFsErrorUnknown when nothing was requested.
int32_t FsParamError(uint32_t word, uint32_t requested);

struct FSLIMIT {
  uint32_t ulRegister;
  uint32_t ulFrequency;  // kHz
  uint32_t ulParam;      // parameter word to write
  int32_t lVco1Min, lVco1Max, lVco2Min, lVco2Max, lIfMin, lIfMax;  // kHz
  uint8_t ucM1Min, ucM1Max, ucM2Min, ucM2Max, ucP1Min, ucP1Max, ucP2Min, ucP2Max;
  uint8_t ucSortKey;  // index into the sort-key table
};

// Candidate order: negative when `a` ranks before `b`.
int32_t CompareFSParamBy18(const FSLIMIT* limits, uint32_t a, uint32_t b);
int32_t CompareFSParamByError(const FSLIMIT* limits, uint32_t a, uint32_t b);

HALSTATUS HWKSTFSWaitLock(BOARDHANDLE* h, uint32_t reg, uint32_t* locked);
HALSTATUS HWKSTWriteFSParameters(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t* locked);
HALSTATUS HWKSTValidateFSParam(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t word,
                               uint32_t* ok);
HALSTATUS HWKSTAddFSParamInTable(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t word,
                                 uint32_t* table, uint32_t n);
// `count` holds the table's capacity on entry and the number of words on
// return.
HALSTATUS HWKSTGenereMPTable(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t* table,
                             uint32_t* count);
HALSTATUS HWKSTInitialiseFSLimit(BOARDHANDLE* h, FSLIMIT* limits, uint32_t n, uint32_t frequency);

// 1 when FS n runs at (or near) `frequency` kHz, else 0.
uint32_t HWKSTInitialiseFSController(BOARDHANDLE* h, uint32_t n, uint32_t frequency);
// Table only, sorted candidates.
uint32_t HWKSTInitialiseFSController1(BOARDHANDLE* h, uint32_t n, uint32_t frequency);
// Table only, candidates in loop order, none with an 18.
uint32_t HWKSTInitialiseFSController2(BOARDHANDLE* h, uint32_t n, uint32_t frequency);
uint32_t HWB90InitialiseFSController(BOARDHANDLE* h, uint32_t n, uint32_t frequency);

// Register callbacks handed to the PLL library; `handle` is the board handle.
uint32_t FSReadRegister(void* handle, uint32_t reg);
void FSWriteRegister(void* handle, uint32_t value, uint32_t reg);
uint32_t Bri90FSReadRegister(void* handle, uint32_t reg);
uint32_t Bri90FSReadShadow(void* handle, uint32_t reg);
// Also keeps the register shadow of 0xE30..0xE3C.
void Bri90FSWriteRegister(void* handle, uint32_t value, uint32_t reg);
void FSDelay(void* handle, uint32_t units);

// Parameter blocks of the PLL library for the synthesizers, one per
// generation; a caller copies one and fills in the PLL number, register and
// ranges.
extern const PLLDESCRIPTOR kKstFsPllTemplate;
extern const PLLDESCRIPTOR kB90FsPllTemplate;
