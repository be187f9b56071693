// What add-on detection records in the board handle: the add-on flag word
// (the board feature word's detection bits) and the add-on bytes (the
// configuration byte and where each chip answered).
#pragma once

#include <cstdint>

#include "hwsharing/chip/boardhandle.h"

// ---- Add-on flag word bits (the board feature word) ------------------------------------
inline constexpr uint32_t kAddOnVb2Kind1 = 0x20;
inline constexpr uint32_t kAddOnVb2Kind0 = 0x40;
inline constexpr uint32_t kAddOnVelanA = 0x80;
inline constexpr uint32_t kAddOnVelanB = 0x100;
inline constexpr uint32_t kAddOnVelan = kAddOnVelanA | kAddOnVelanB;
inline constexpr uint32_t kAddOnMjpegKind1 = 0x200;
inline constexpr uint32_t kAddOnMjpegKind0 = 0x400;
inline constexpr uint32_t kAddOnDvd = 0x1000;
inline constexpr uint32_t kAddOnDvdBits = 0x1800;
inline constexpr uint32_t kAddOnPanelLinkA = kFeatureTransmitter0;   // also transmitter 0 (feature bit 13)
inline constexpr uint32_t kAddOnPanelLinkB = kFeatureTransmitter1;   // also transmitter 1 (feature bit 14)
// DVI transmitters 0-3 found (bits 13, 14, 26, 27).
inline constexpr uint32_t kAddOnTransmitter0 = kAddOnPanelLinkA;
inline constexpr uint32_t kAddOnTransmitter1 = kAddOnPanelLinkB;
inline constexpr uint32_t kAddOnTransmitter2 = 1u << 26;
inline constexpr uint32_t kAddOnTransmitter3 = 1u << 27;
inline constexpr uint32_t kAddOnTransmitterBits[4] = {kAddOnTransmitter0, kAddOnTransmitter1,
                                                      kAddOnTransmitter2, kAddOnTransmitter3};
inline constexpr uint32_t kAddOnTunerA = 0x8000;
inline constexpr uint32_t kAddOnTunerB = 0x10000;
inline constexpr uint32_t kAddOnSecondHd15 = 0x40000;
// Feature bit 24 has a second meaning: on the family's first chip up to
// revision 1 it also moves I2C port 16 onto the board lines (see
// Port16OnBoardLines). Detection sets it when it finds encoder 0.
inline constexpr uint32_t kAddOnChrontel0 = kFeatureEncoder0;
inline constexpr uint32_t kAddOnChrontel1 = kFeatureEncoder1;  // feature bit 25

// Configuration byte bits: which bit of a pair a detector sets.
inline constexpr uint8_t kAddOnConfigVelanB = 0x01;
inline constexpr uint8_t kAddOnConfigDvd = 0x02;
inline constexpr uint8_t kAddOnConfigMjpeg = 0x04;
inline constexpr uint8_t kAddOnConfigTunerB = 0x10;
inline constexpr uint8_t kAddOnConfigPanelLinkB = 0x40;

// ---- Add-on bytes ----------------------------------------------------------------------------
enum AddOnByte : unsigned {
  kAddOnConfigByte,
  kAddOnVelanAddress,
  kAddOnVelanVersion,
  kAddOnDecoderAddress,
  kAddOnDecoderKind,
  kAddOnPanelLinkAddress,
  kAddOnMspAddress,
  kAddOnTunerAddress,
  kAddOnSecondHd15Address,
};

inline uint8_t AddOn(const BOARDHANDLE* h, AddOnByte b) { return h->aucAddOnPresent[b]; }
inline void SetAddOn(BOARDHANDLE* h, AddOnByte b, uint32_t v) {
  h->aucAddOnPresent[b] = static_cast<uint8_t>(v);
}
inline uint8_t VelanVersion(const BOARDHANDLE* h) { return AddOn(h, kAddOnVelanVersion); }
// Whether detection found Chrontel encoder 0 or 1 (bits 24 and 25).
inline bool ChrontelEncoderFound(const BOARDHANDLE* h, unsigned encoder) {
  return (h->ulFeatures & (encoder == 0 ? kAddOnChrontel0 : kAddOnChrontel1)) != 0;
}
inline bool VelanPresent(const BOARDHANDLE* h) { return (h->ulFeatures & kAddOnVelan) != 0; }
