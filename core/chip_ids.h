// Identities of the chips this suite knows: the vendor, the device ids, the
// revision bits of the driver core and the generation predicates. Every
// layer (drivers and tools) takes them from here; no other file defines a
// device id.
#pragma once

#include <stdint.h>

inline constexpr uint16_t kKestrionVendorId = 0x1E7A;

// ---- The five supported chips ------------------------------------------------
inline constexpr uint16_t kDeviceKestrion1 = 0x0A41;      // first chip of the family
inline constexpr uint16_t kDeviceKestrion2 = 0x0A42;      // second chip
inline constexpr uint16_t kDeviceKestrionNext1 = 0x5D61;  // first chip of the later generation
inline constexpr uint16_t kDeviceKestrionNext2 = 0x5D62;
inline constexpr uint16_t kDeviceKestrionNext3 = 0x5D63;

// ---- Older chips --------------------------------------------------------------
// Known only by their aperture layout (board set-up) and their revision bit;
// the chip layer refuses them.
inline constexpr uint16_t kDeviceOlder6A19 = 0x6A19;
inline constexpr uint16_t kDeviceOlder6A1A = 0x6A1A;  // base registers swapped up to revision 2
inline constexpr uint16_t kDeviceOlder6A1B = 0x6A1B;
inline constexpr uint16_t kDeviceOlder6A1E = 0x6A1E;
inline constexpr uint16_t kDeviceOlder6A1F = 0x6A1F;
inline constexpr uint16_t kDeviceOlder6A20 = 0x6A20;
inline constexpr uint16_t kDeviceOlder6A21 = 0x6A21;
inline constexpr uint16_t kDeviceOlder6A25 = 0x6A25;
inline constexpr uint16_t kDeviceOlder6C27 = 0x6C27;

// The PCI vendor-and-device dword of a device of this vendor.
inline constexpr uint32_t KestrionVendorDevice(uint16_t device) {
  return (uint32_t{device} << 16) | kKestrionVendorId;
}

// ---- Generation predicates ------------------------------------------------------
// Each names one grouping the drivers and tools rely on.

// The chips the chip layer drives.
inline constexpr bool IsSupportedChip(uint16_t device) {
  return device == kDeviceKestrion1 || device == kDeviceKestrion2 ||
         device == kDeviceKestrionNext1 || device == kDeviceKestrionNext2 ||
         device == kDeviceKestrionNext3;
}

// The family's first two chips: their digital outputs are resolution
// limited (configuration tools), and they always use the first output
// arrangement.
inline constexpr bool IsEarlyKestrion(uint16_t device) {
  return device == kDeviceKestrion1 || device == kDeviceKestrion2;
}

// The later generation's three chips: a display start steps by 16 pixels,
// the surface address keeps two more bits, the DVOs are wired apart.
inline constexpr bool IsLaterKestrion(uint16_t device) {
  return device == kDeviceKestrionNext1 || device == kDeviceKestrionNext2 ||
         device == kDeviceKestrionNext3;
}

// The chip whose clocks and memory controllers the chip layer programs with
// its later-generation code (synthesizer library kind 1, the B90 services).
// Every other supported chip, 0x5D61 and 0x5D62 included, uses the
// first-generation clock and memory code.
inline constexpr bool HasLaterGenerationClocks(uint16_t device) {
  return device == kDeviceKestrionNext3;
}

// The chips reset through the later hardware-reset service.
inline constexpr bool HasLaterHardwareReset(uint16_t device) {
  return device == kDeviceKestrionNext2 || device == kDeviceKestrionNext3;
}

// ---- Revision bits ---------------------------------------------------------------
// One bit per chip and revision (the driver core's HwRevisionID computes
// them); a driver switch or a code path tests a group with one of these
// masks.
inline constexpr uint32_t kRevOlderChips = 0x1;         // 0x6A25, 0x6C27
inline constexpr uint32_t kRevKestrion1 = 0x3E;         // 0x0A41, every revision
inline constexpr uint32_t kRevKestrion1Rev3 = 0x10;     // 0x0A41 revision 3
inline constexpr uint32_t kRevKestrion1Rev2On = 0x38;   // 0x0A41 revision 2 and later
inline constexpr uint32_t kRevKestrion2 = 0x3C0;        // 0x0A42, every revision
inline constexpr uint32_t kRevKestrionNext1 = 0x1C00;   // 0x5D61
inline constexpr uint32_t kRevKestrionNext2 = 0xE000;   // 0x5D62
inline constexpr uint32_t kRevKestrionNext3 = 0x70000;  // 0x5D63
inline constexpr uint32_t kRevLaterGeneration = kRevKestrionNext1 | kRevKestrionNext2 |
                                                kRevKestrionNext3;
static_assert(kRevLaterGeneration == 0x7FC00);

// The later generation as the driver core and the 3D engine see it (0x5D61,
// 0x5D62 and 0x5D63): surface alignment, engine status and clear forms
// differ from the first two chips.
inline constexpr bool IsLaterGenerationRevision(uint32_t revisionBits) {
  return (revisionBits & kRevLaterGeneration) != 0;
}
