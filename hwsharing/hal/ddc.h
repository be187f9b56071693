// Transfers on a monitor's DDC lines: EDID reads with retries, slow reads
// and the same-monitor shortcut, byte writes, the tied-lines test of an
// HD15-to-TV adaptor, and the handshake of the maker's desktop expander box.
// Everything runs through the chip layer's I2C port slots and the I2C
// master's one-byte transactions.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDdcNoAck = 0x8010C0C0;
inline constexpr HALSTATUS kErrEdidBlockNumber = 0xA01030A2;
inline constexpr HALSTATUS kErrEdidBlockChecksum = 0xA01030D0;

inline constexpr uint32_t kDdcEdidAddress = 0xA0;
inline constexpr uint32_t kDesktopExpanderAddress = 0x6E;
inline constexpr uint32_t kDesktopExpanderMagic = 0xDE;
inline constexpr uint32_t kNoDesktopExpanderMagic = 0xFF;
// EDID attempts from which the reads run at the slow bit rate.
inline constexpr uint32_t kDdcFirstSlowAttempt = 14;

// The DDC port of outputs 0..3.
uint32_t DdcPortOfOutput(uint32_t output);

// Entry: reads and checks EDID block 0 or 1 into a 128-byte buffer.
HALSTATUS HALGetEdidBlockContent(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t block, uint32_t slow,
                                 uint8_t* buffer);
// Reads the output's EDID into its monitor record, `attempts` times at most,
// waiting `wait` units after each failed attempt.
HALSTATUS HALPReadDDCEDID(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address, uint32_t attempts,
                          uint32_t wait);
// Reads the first bytes of the EDID and compares them with the stored one;
// `length` is how many bytes of `buffer` the read filled (0 when nothing is
// stored). The same monitor gets the stored EDID copied into `buffer`.
HALSTATUS HALPDetectSameEDID(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address, uint32_t slow,
                             uint8_t* buffer, uint32_t* same, uint32_t* length);
// Asks the client for an EDID of the output: `custom` when it gave a valid
// one, `noEdid` when it said that the output has none.
HALSTATUS HALPGetCustomEDID(BOARDHANDLE* h, uint32_t output, uint8_t* buffer, uint32_t* custom, uint32_t* noEdid);
HALSTATUS HALPReadDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, uint8_t* buffer,
                          uint32_t count);
HALSTATUS HALPReadSlowDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, uint8_t* buffer,
                              uint32_t count);
HALSTATUS HALPWriteDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, const uint8_t* data,
                           uint32_t count);
// Tied lines: SCL follows SDA when SDA is driven low.
HALSTATUS HALPDetectShortDDCPort(BOARDHANDLE* h, uint32_t port, uint32_t* tied);
HALSTATUS HALPDetectHD15ToTVAdaptor(BOARDHANDLE* h, uint32_t output, uint32_t* found);
HALSTATUS HALPDetectSpanbox(BOARDHANDLE* h, uint32_t output);
HALSTATUS HALPGetDesktopExpanderMagicWord(BOARDHANDLE* h, uint32_t port, uint32_t* magic);
HALSTATUS HALPPollDesktopExpanderCommunication(BOARDHANDLE* h, uint32_t port, uint8_t* reply);
