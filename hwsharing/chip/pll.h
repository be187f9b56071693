// The two-stage PLL divider library: searches and programs the four dividers
// (M1, P1, M2, P2) of a frequency synthesizer. It touches the hardware only
// through the callbacks of its parameter block, so it runs over any register
// layer. Kind 0 is the first chip generation (this file); kind 1, the later
// generation, is forwarded to its twins in bri90pll.h.
//
// Frequencies are integers in kHz; every division truncates.
//   VCO1 = Fin x M1, Fout1 = VCO1 / P1
//   VCO2 = Fin2 x M2 (Fin2 = Fout1, or Fin when VCO2 takes the reference)
//   Fout2 = VCO2 / P2 (kind 0), VCO2 / (2 x P2) (kind 1)
#pragma once

#include <cstdint>

// Output selection.
inline constexpr uint32_t kPllOutFs = 0;    // synthesizer output Fout2
inline constexpr uint32_t kPllOutVco1 = 1;  // VCO1 alone (P1 = 1, stage 2 unused)
inline constexpr uint32_t kPllOutVco2 = 2;  // VCO2 (P2 = 1)

inline constexpr uint32_t kPllKindFirst = 0;
inline constexpr uint32_t kPllKindB90 = 1;

inline constexpr uint32_t kPllSearchFirstFit = 2;  // any other value: best fit

// Result codes.
inline constexpr uint32_t kPllOk = 0;
inline constexpr uint32_t kPllBadOutputSel = 1;
inline constexpr uint32_t kPllBadAlgorithm = 4;
inline constexpr uint32_t kPllNoDivider = 8;
inline constexpr uint32_t kPllBadP2 = 0x20;
inline constexpr uint32_t kPllVco1NoLock = 0x1010;
inline constexpr uint32_t kPllVco2NoLock = 0x2010;
inline constexpr uint32_t kPllB90NoLock = 0x3010;

// Percent limits carry 9 fraction bits: 512 = 1.000 %.
inline constexpr int32_t kPllPercentOne = 512;
inline constexpr uint32_t kPllPercentShift = 9;

// One stage of the synthesizer.
struct PLLVCOCONFIG {
  uint32_t ulVcoIndex;  // 0 = VCO1, 1 = VCO2
  uint32_t ulInputSel;  // VCO2: 1 = takes the reference directly
  int32_t lLockSpan;    // 0: no lock test; n: test M - (n - 1) .. M + (n - 1)
  int32_t lMStart, lMEnd, lMStep;
  int32_t lPStart, lPEnd, lPStep;
  int32_t lMMin, lMMax, lPMin, lPMax;
  int32_t lVcoMin, lVcoMax;
  int32_t lFoutMin, lFoutMax;  // VCO1: the intermediate-frequency range
  int32_t lLockPolls;
  int32_t lMaxUnlockPercent;
  uint32_t ulSettleDelay;  // HWDelay units
  int32_t lLastUnlock;     // written by the lock test
};

using PLLREADREG = uint32_t (*)(void* handle, uint32_t reg);
using PLLWRITEREG = void (*)(void* handle, uint32_t value, uint32_t reg);
using PLLDELAY = void (*)(void* handle, uint32_t units);
typedef void (*PLLPRINT)(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The library's parameter block, owned by the caller.
struct PLLDESCRIPTOR {
  uint32_t ulPllNumber;
  uint32_t ulKind;
  int32_t lFin;
  uint32_t ulRegOffset;
  uint32_t ulLastValue;  // last word programmed successfully
  uint32_t ulDefaultAlgorithm;
  uint32_t ulSearchMode;
  uint32_t ulOptionBit;
  PLLVCOCONFIG vco1;
  PLLVCOCONFIG vco2;
  int32_t lIfStart, lIfEnd, lIfStep;
  int32_t lErrLimitPercent;  // 9 fraction bits; 0 = none
  int32_t lErrLimitKHz;      // 0 = none
  PLLREADREG pfnReadReg;
  PLLWRITEREG pfnWriteReg;
  PLLREADREG pfnReadShadow;  // kind 1 only
  PLLDELAY pfnDelay;
  PLLPRINT pfnErrorPrint;
  PLLPRINT pfnDebugPrint;
  uint32_t ulVerbose;
};

uint32_t pllInit(void* handle, uint32_t algorithm, uint32_t outputSel, int32_t frequency,
                 PLLDESCRIPTOR* d);
uint32_t pllHwInit(void* handle, uint32_t outputSel, int32_t m1, int32_t p1, int32_t m2,
                   int32_t p2, PLLDESCRIPTOR* d);
uint32_t pllTestDividers(void* handle, uint32_t program, uint32_t outputSel, int32_t target,
                         int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                         PLLDESCRIPTOR* d);
uint32_t pllIsInvalidDividers(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                              const PLLDESCRIPTOR* d);
int32_t pllUnlockStatus(void* handle, uint32_t reg, int32_t count, PLLVCOCONFIG* vco,
                        const PLLDESCRIPTOR* d);
uint32_t pllHwOscOn(void* handle, PLLDESCRIPTOR* d);
// vcoIndex 0/1, divider 0 = M, 1 = P; 0 on a bad selection or a register
// caught in the middle of programming.
uint32_t pllGetDivider(void* handle, uint32_t vcoIndex, uint32_t divider, PLLDESCRIPTOR* d);
uint32_t pllGetVcoOutputDriver(void* handle, uint32_t vcoIndex, PLLDESCRIPTOR* d);
uint32_t pllGetVco2Input(void* handle, PLLDESCRIPTOR* d);
uint32_t pllGetRegOffset(const PLLDESCRIPTOR* d);

// Internal steps, exported for the later-generation twins and for tests.
int32_t pllSearchMultiplier(int32_t target, int32_t fin, int32_t p, const PLLVCOCONFIG* vco);
int32_t pllSearchStageDividers(int32_t fin, int32_t target, int32_t* m, int32_t* p,
                               int32_t tolerance, const PLLVCOCONFIG* vco,
                               const PLLDESCRIPTOR* d);
uint32_t pllCheckDivider18Limits(uint32_t outputSel, int32_t m1, int32_t p1, int32_t m2,
                                 int32_t p2, const PLLDESCRIPTOR* d);
int32_t pllWaitVcoLock(void* handle, PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d);
uint32_t pllAlgorithm1(void* handle, uint32_t outputSel, int32_t frequency, PLLDESCRIPTOR* d);
uint32_t pllAlgorithm2(void* handle, uint32_t outputSel, int32_t frequency, PLLDESCRIPTOR* d);
