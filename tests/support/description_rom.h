// A simulated board's option ROM image with a board description, as the
// board's ROM and the SPI flash copy of it hold it: 64 KiB with the PCI
// data structure (BIOS version 1.0) and the hardware library's built-in
// description, given the board's connectors, clock limits and board type.
// Outputs 0 and 1 are analog connectors; a third output makes a twin board
// and a fourth a board of the four-display series (quadType, or type 2),
// both as a description from version 0x609 gives them. The misc-IO map is
// 0: the library's default lines, which route the DDC ports as the
// simulated chip's default wiring has them.
#pragma once

#include <stdint.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/boardinfo.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/pins_boardinfo.h"

namespace testsupport {

struct DescribedBoard {
  uint32_t outputs = 2;           // 1 to 4
  uint32_t analogClock = 232000;  // kHz, types 0 and 1 (4 MHz units)
  uint32_t secondClock = 168000;  // kHz, head 1 (4 MHz units)
  uint32_t quadType = 0;          // a board type of the four-display series, 0 none
};

inline constexpr size_t kDescriptionRomSize = 64 * 1024;

inline std::vector<uint8_t> DescriptionRom(const DescribedBoard& d) {
  constexpr size_t kRomPinsPointer = 0x7FFC;
  constexpr size_t kRomPinsAt = 0x4000;
  std::vector<uint8_t> rom(kDescriptionRomSize, 0);
  rom[0] = 0x55;
  rom[1] = 0xAA;
  rom[2] = kDescriptionRomSize / 512;
  // The PCI data structure at 0x20 with BIOS version 1.0.
  rom[0x18] = 0x20;
  std::memcpy(rom.data() + 0x20, "PCIR", 4);
  rom[0x20 + 18] = 0x10;
  rom[kRomPinsPointer] = static_cast<uint8_t>(kRomPinsAt);
  rom[kRomPinsPointer + 1] = static_cast<uint8_t>(kRomPinsAt >> 8);

  auto scratch = std::make_unique<BOARDHANDLE>();
  std::memset(scratch.get(), 0, sizeof(BOARDHANDLE));
  HSLKSTCSetDefaultPins(scratch.get());
  uint8_t* pins = scratch->oPins.aucData;
  static constexpr uint8_t kConnector[4] = {0x01, 0x01, 0x08, 0x08};  // analog, analog B
  for (uint32_t i = 0; i < 4; ++i) pins[kPinsConnectorBytes + i] = i < d.outputs ? kConnector[i] : 0;
  for (uint32_t type = 0; type < 2; ++type) {
    pins[kPinsOutputMaxClock + type] = static_cast<uint8_t>(d.analogClock / 4000);
    pins[kPinsOutputSecondLimit + type] = static_cast<uint8_t>(d.secondClock / 4000);
  }
  const uint32_t type = d.quadType != 0 ? d.quadType : d.outputs >= 4 ? 2 : d.outputs == 3 ? 10 : 0;
  if (type != 0) {
    pins[kPinsVersion] = 0x09;  // 0x609: the expansion-module bytes
    pins[kPinsBoardType] = static_cast<uint8_t>(type);
    pins[kPinsCemCntlMethod] = 5;  // a module with no control lines
  }
  for (size_t i = 0; i < 4; ++i) pins[kPinsMiscIoMap + i] = 0;
  // The block's bytes sum to 0.
  const size_t length = static_cast<size_t>(pins[2] | (pins[3] << 8));
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < length; ++i) sum = static_cast<uint8_t>(sum + pins[i]);
  pins[length - 1] = static_cast<uint8_t>(0u - sum);
  std::memcpy(rom.data() + kRomPinsAt, pins, length);
  return rom;
}

}  // namespace testsupport
