// The Chrontel encoders' modes: which encoders serve an output word, and
// bringing an encoder up as DVI, analog, SDTV or DTV output with its PLL
// supervision, spread spectrum, sensing, reset and power-down. Register
// transfers and the chip select are in chrontel.h, the TV modes in
// chrontel_tv.h.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrChrGpioLine = 0xb2003131;

// Encoder modes of HSLCHREnable.
inline constexpr uint32_t kChrModeDigital = 1;
inline constexpr uint32_t kChrModeAnalog = 2;
inline constexpr uint32_t kChrModeSdtv = 3;
inline constexpr uint32_t kChrModeDtv = 4;

// Output-word masks callers apply before asking for encoders.
inline constexpr uint32_t kChrTvOutputs = 0x4000070;
inline constexpr uint32_t kChrFourthOutputs = 0xF000;
inline constexpr uint32_t kChrAllOutputs = 0x400F070;

// HSLCHRDetectTVSignalType answers; HSLCHRDetectLoad's bits.
inline constexpr uint32_t kChrLoadBit02 = 0x8000;
inline constexpr uint32_t kChrLoadBit04 = 0x4000;
inline constexpr uint32_t kChrLoadBit08 = 0x2000;
inline constexpr uint32_t kChrLoadBit10 = 0x10000;

// Encoder GPIO functions of the board description's map, and the slots it
// may name.
inline constexpr uint32_t kChrGpioFunctionTvClock = 6;
inline constexpr uint32_t kChrGpioFunctionCpld = 14;
inline constexpr uint32_t kChrAllEncoderSlots = 0xF;

// Reset flags.
inline constexpr uint32_t kChrResetRestore = 0x1;
inline constexpr uint32_t kChrResetAlternate = 0x2;

// One poll of an encoder's PLL lock bit (register 0x4D bit 2): up to 150
// reads until it reads set three times in a row, then 20 reads that must
// all see it set. Answers whether the PLL is locked.
bool ChrPllLockPoll(BOARDHANDLE* h, uint32_t encoder);

// `list` gets up to four encoder indexes in increasing order.
HALSTATUS HSLCHRDetectChrIDs(BOARDHANDLE* h, uint32_t flOutput, uint32_t* list, uint32_t* count);
HALSTATUS HSLCHRGetGPIOMasks(BOARDHANDLE* h, uint32_t line, uint32_t* direction, uint32_t* data);
// GPIO lines 0 and 1 of an encoder (register 0x1E). Open powers the GPIO
// up when the encoder is powered down and tells whether it was not.
HALSTATUS HSLCHROpenGPIO(BOARDHANDLE* h, uint32_t encoder, uint32_t* wasOn);
HALSTATUS HSLCHRWriteGPIO(BOARDHANDLE* h, uint32_t encoder, uint32_t line, uint32_t value);
HALSTATUS HSLCHRReadGPIO(BOARDHANDLE* h, uint32_t encoder, uint32_t line, uint32_t* value);
HALSTATUS HSLCHRCloseGPIO(BOARDHANDLE* h, uint32_t encoder, uint32_t wasOn);
// Open, read (write 0) or write (write 1) the line, close.
HALSTATUS HSLCHRAccessGPIO(BOARDHANDLE* h, uint32_t write, uint32_t encoder, uint32_t line,
                           uint32_t* value);
HALSTATUS HSLCHRDetectSyncBuffer(BOARDHANDLE* h, uint32_t encoder, uint32_t* present);
HALSTATUS HSLCHRDetectTVSignalType(BOARDHANDLE* h, uint32_t encoder, uint32_t* type);
HALSTATUS HSLCHRDetectLoad(BOARDHANDLE* h, uint32_t encoder, uint32_t* load);
HALSTATUS HSLCHRReset(BOARDHANDLE* h, uint32_t encoder, uint32_t flags);
HALSTATUS HSLCHRDisable(BOARDHANDLE* h, uint32_t encoder, MODEINFO* mode);
HALSTATUS HSLCHREnable(BOARDHANDLE* h, uint32_t encoder, uint32_t encoderMode, MODEINFO* mode);
HALSTATUS HSLCHREnableDigitalMode(BOARDHANDLE* h, uint32_t encoder, uint32_t pixClockKHz,
                                  uint32_t deviceId);
HALSTATUS HSLCHREnableAnalogMode(BOARDHANDLE* h, uint32_t encoder, uint32_t flOutput);
HALSTATUS HSLCHREnableSpreadSpectrum(BOARDHANDLE* h, uint32_t encoder, uint32_t pixClockKHz);
HALSTATUS HSLCHRPllCheck(BOARDHANDLE* h, uint32_t encoder, uint32_t deviceId);
HALSTATUS HSLCHREnableClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t encoder);
HALSTATUS HSLCHRDisableClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t encoder);

// Whether all four encoder records hold the quad boards' device id.
bool ChrAllFourVerB(const BOARDHANDLE* h);
