// Fuzz target of the board description readers over the simulated board.
// The input's first byte picks the reader (its value modulo 3); the rest is
// the image of the board's flash, whose first 64 KiB the chip also shows as
// its option ROM:
//   0  the PInS block, BIOS version and flags from the option ROM;
//   1  the PInS block, version and text from the flash;
//   2  a colour-compensation record from the flash: record (first byte / 4)
//      modulo 2, reading (first byte / 8) data bytes: the data are only
//      copied and summed, so a short read covers the reader (the full
//      length is board_desc_test's) and keeps every run short.
// Any image must read without writing past the caller's areas, give
// terminated texts, leave the chip's configuration as it was and answer a
// known status. One reader a run keeps the target fast: the flash is read
// bit by bit over the chip's pins.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/mcs.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_rom_flash.h"

namespace {

constexpr uint32_t kRomSize = 64 * 1024;
constexpr uint32_t kWindow = 1u << 20;
constexpr uint8_t kGuard = 0xCC;
constexpr uint32_t kGuardBytes = 16;

// One opened board for the whole run, as board_desc_test sets it up.
struct Bench {
  std::unique_ptr<hwtest::HwBoard> hw;
  orvmachine::MachineBoard* parts = nullptr;  // the machine's board, holding the flash chip
  orvsim::ChipRomFlash* chip = nullptr;
  size_t romBytesSet = 0;  // bytes of the option ROM the last image wrote

  Bench() {
    orvsim::BoardConfig config = hwtest::Config(0x5D61);
    config.rom_size = kRomSize;
    hw = std::make_unique<hwtest::HwBoard>(config);
    parts = &hw->AddParts(orvmachine::kRomFlash);
    chip = parts->rom.get();
    if (hw->Open() != 0) std::abort();
    int mem = xf86open("/dev/mem", O_RDWR);
    void* fb = MAP_FAILED;
    for (const orvsim::BarInfo& bar : hw->board().Bars()) {
      if (bar.kind == orvsim::ResourceKind::kMemory)
        fb = xf86mmap(nullptr, kWindow, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                      static_cast<off_t>(bar.base));
    }
    if (fb == MAP_FAILED) std::abort();
    hw->client().frameBuffer = static_cast<volatile uint8_t*>(fb);
    hw->board().SetLogging(false, false);
  }
};

Bench& TheBench() {
  static Bench* bench = new Bench;  // lives until the process ends
  return *bench;
}

bool Terminated(const char* text, size_t size) { return strnlen(text, size) < size; }

enum Reader : uint8_t { kOptionRom, kFlashPins, kMcsRecords, kReaders };

bool GuardIntact(const std::vector<uint8_t>& area, size_t from) {
  for (size_t i = from; i < area.size(); ++i)
    if (area[i] != kGuard) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bench& bench = TheBench();
  orvsim::Board& board = bench.hw->board();
  BOARDHANDLE* h = bench.hw->h();
  if (size == 0) return 0;
  // The flash chip as a fresh one for every input: no selection, answer or
  // record of commands is left from the one before.
  bench.chip->Reset();
  const uint8_t selector = data[0];
  const uint8_t* image = data + 1;
  const size_t imageSize = size - 1;

  // Only what the last image wrote goes back to erased.
  const size_t romBytes = imageSize < board.RomSize() ? imageSize : board.RomSize();
  if (bench.romBytesSet > romBytes)
    std::memset(board.Rom() + romBytes, 0xFF, bench.romBytesSet - romBytes);
  if (romBytes > 0) std::memcpy(board.Rom(), image, romBytes);
  bench.romBytesSet = romBytes;
  bench.chip->SetFlash(orvsim::FlashKind::kAtmel, image, imageSize);
  const uint32_t options = board.Pci().Peek(0x40, 4);
  const uint32_t romBar = board.Pci().Peek(0x30, 4);
  h->status = 0;

  switch (selector % kReaders) {
    case kOptionRom: {
      uint32_t version = 0;
      if (HSLBIOSReadPins(h, &version) != 0) std::abort();
      if (!Terminated(h->oPins.szBiosVersion, sizeof h->oPins.szBiosVersion)) std::abort();
      h->status = 0;
      version = 0;
      const HALSTATUS got = HSLBIOSGetVersion(h, &version);
      if (got != 0 && got != kErrBiosNoPciData) std::abort();
      if (board.Pci().Peek(0x40, 4) != options || board.Pci().Peek(0x30, 4) != romBar) std::abort();
      if (bench.chip->RomVisible()) std::abort();
      break;
    }
    case kFlashPins: {
      uint32_t version = 0;
      std::vector<uint8_t> area(kPinsDataSize + kGuardBytes, kGuard);
      std::vector<uint8_t> text(kBiosVersionTextSize + kGuardBytes, kGuard);
      const HALSTATUS read = HSLBIOSReadData(h, area.data(), &version,
                                             reinterpret_cast<char*>(text.data()));
      if (read != 0 && read != kErrBiosNoVersionText) std::abort();
      if (!GuardIntact(area, kPinsDataSize) || !GuardIntact(text, kBiosVersionTextSize)) std::abort();
      if (!Terminated(reinterpret_cast<const char*>(text.data()), kBiosVersionTextSize)) std::abort();
      break;
    }
    default: {
      auto mcs = std::make_unique<MCSRECORD>();
      if (HSLMCSReadData(h, (selector / 4) % 2, selector / 8, mcs.get()) != 0) std::abort();
      if (mcs->ulFactor > 0xFF || mcs->ulFormatHigh > 7 || mcs->ulFormatMid > 7 ||
          mcs->ulFormatLow > 7)
        std::abort();
      break;
    }
  }
  h->status = 0;
  return 0;
}
