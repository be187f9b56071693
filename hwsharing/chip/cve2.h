// Register access of the chip's integrated TV encoder (CVE2) by field
// number: each setting is a field number naming a register of 0x1D80-0x1DC0
// and a mask.
#pragma once

#include <stdint.h>

#include "hwsharing/chip/haltypes.h"

// Field 52 is the standard control byte, spread over two registers.
inline constexpr uint32_t kCve2FieldStandardControl = 52;

// Writes take the bytes most significant first; reads give them least
// significant first.
HALSTATUS HSLKSTCVE2AccessRegister(BOARDHANDLE* h, uint32_t write, uint32_t field, uint8_t* bytes,
                                   uint32_t length);
HALSTATUS HSLKSTCVE2AccessRegister_ENC_STANDARD_CTR(BOARDHANDLE* h, uint32_t write,
                                                    uint8_t* byte);
