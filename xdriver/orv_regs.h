// Access to the board's registers through the mapped 8 KB register aperture,
// with the write tracking that boards behind the PCI video bridge need: a
// write that closely follows another one (at most 128 bytes above it) is
// preceded by a dummy write of 0 to register 900.
#pragma once

#include <stdint.h>

#include "xdriver/orv_rec.h"

inline constexpr uint32_t kOrvRegisterApertureSize = 8192;

void ORV_OUT_REG8(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint8_t value);
void ORV_OUT_REG16(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint16_t value);
void ORV_OUT_REG32(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint32_t value);
uint8_t ORV_IN_REG8(ORVRec* rec, uint8_t* aperture, uint32_t offset);
uint16_t ORV_IN_REG16(ORVRec* rec, uint8_t* aperture, uint32_t offset);
uint32_t ORV_IN_REG32(ORVRec* rec, uint8_t* aperture, uint32_t offset);
