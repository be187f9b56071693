#include "tests/maindraw/board_info.h"

#include <cstring>
#include <memory>

#include "hwsharing/boardhandle.h"
#include "hwsharing/boardinfo.h"
#include "hwsharing/pins.h"
#include "hwsharing/pins_boardinfo.h"
#include "tests/standins/standin_log.h"

namespace maindraw {

namespace {

constexpr size_t kRomPinsPointer = 0x7FFC;
constexpr size_t kRomPinsAt = 0x4000;
constexpr uint32_t kAnalogClock = 232000;  // kHz, output types 0 and 1 (4 MHz units)
constexpr uint32_t kSecondClock = 168000;  // kHz, head 1

uint32_t g_outputs = 2;

void FillBoardInfo(void* subject) {
  auto* h = static_cast<BOARDHANDLE*>(subject);
  static constexpr uint32_t kOutputBits[4] = {0x1, 0x2, 0x100, 0x200};
  for (uint32_t i = 0; i < g_outputs && i < 4; ++i) h->ulOutputCaps |= kOutputBits[i];
}

}  // namespace

std::vector<uint8_t> DescriptionRom(uint32_t outputs) {
  std::vector<uint8_t> rom(kRomSize);
  rom[0] = 0x55;
  rom[1] = 0xAA;
  rom[2] = kRomSize / 512;
  rom[5] = 3;  // BIOS version 3 x 4096
  rom[kRomPinsPointer] = static_cast<uint8_t>(kRomPinsAt);
  rom[kRomPinsPointer + 1] = static_cast<uint8_t>(kRomPinsAt >> 8);

  auto scratch = std::make_unique<BOARDHANDLE>();
  std::memset(scratch.get(), 0, sizeof(BOARDHANDLE));
  HSLKSTCSetDefaultPins(scratch.get());
  uint8_t* pins = scratch->oPins.aucData;
  static constexpr uint8_t kConnector[4] = {0x01, 0x01, 0x08, 0x08};  // analog, analog B
  for (uint32_t i = 0; i < 4; ++i) pins[kPinsConnectorBytes + i] = i < outputs ? kConnector[i] : 0;
  for (uint32_t type = 0; type < 2; ++type) {
    pins[kPinsOutputMaxClock + type] = static_cast<uint8_t>(kAnalogClock / 4000);
    pins[kPinsOutputSecondLimit + type] = static_cast<uint8_t>(kSecondClock / 4000);
  }
  const uint32_t type = outputs >= 4 ? 2 : outputs == 3 ? 10 : 0;
  if (type != 0) {
    pins[kPinsVersion] = 0x09;  // 0x609: the expansion-module bytes
    pins[kPinsBoardType] = static_cast<uint8_t>(type);
    pins[kPinsCemCntlMethod] = 5;  // a module with no control lines
  }
  // The default misc-IO lines route the DDC ports as the simulated chip's
  // default wiring has them.
  for (size_t i = 0; i < 4; ++i) pins[kPinsMiscIoMap + i] = 0;
  // The block's bytes sum to 0.
  const size_t length = static_cast<size_t>(pins[2] | (pins[3] << 8));
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < length; ++i) sum = static_cast<uint8_t>(sum + pins[i]);
  pins[length - 1] = static_cast<uint8_t>(0u - sum);
  std::memcpy(rom.data() + kRomPinsAt, pins, length);
  return rom;
}

void FillBoardInfoForTestModule(uint32_t outputs) {
  g_outputs = outputs;
  orvstandin::Reset();
  orvstandin::SetAction("HSLKSTGetAddOnInfo", FillBoardInfo);
}

}  // namespace maindraw
