#include "platform/board/chip_dac.h"

#include <stdexcept>

#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/chip_raster.h"
#include "platform/board/i2c.h"

namespace orvsim {

namespace {

constexpr uint32_t kStatusRetrace = 1u << 3;
constexpr uint8_t kLoadSenseOn = 0x80;
constexpr uint8_t kLoadComparators = 0x07;
constexpr uint32_t kMinVcoKHz = 50000;

struct DdcPort {
  unsigned port;
  uint8_t scl, sda;  // bits of 0x2A / 0x2B
};
constexpr DdcPort kDdcPorts[] = {
    {0, 1u << 3, 1u << 1},
    {1, 1u << 5, 1u << 4},
    {5, 1u << 2, 1u << 0},
};

uint8_t Base(DacPll pll) { return pll == DacPll::kPixel ? kDacPixelM : kDacSystemM; }

}  // namespace

unsigned ChipDac::DdcBus(unsigned port) {
  switch (port) {
    case 0:
      return kBusDdcConnector0;
    case 1:
      return kBusDdcConnector1;
    default:
      return kBusDdcConnector2;
  }
}

ChipDac::ChipDac(Board& board, ChipRaster* raster) : board_(board), raster_(raster) {
  if (board_.RegisterWindowSize() < kDacMinimumWindow)
    throw std::invalid_argument("the integrated DAC needs a register window of 16 KiB");
  regs_[kDacPixelClockControl] = kDacPllReset;  // the PLL runs at power-on
  board_.SetWriteHook(kDacIndex, 3, [this](Board&, RegAccess access, uint32_t value, uint32_t) {
    for (unsigned i = 0; i < access.width; ++i) {
      const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
      switch (access.offset + i) {
        case kDacIndex:
          index_ = byte;
          palette_index_ = byte;
          palette_part_ = 0;
          break;
        case kDacPaletteData:
          palette_[palette_index_][palette_part_] = byte;
          if (++palette_part_ == 3) {
            palette_part_ = 0;
            ++palette_index_;
          }
          break;
        default:
          break;  // the read mask is plain storage
      }
    }
    return value;
  });
  board_.SetReadHook(kDacData, 1, [this](Board&, RegAccess, uint32_t) {
    return static_cast<uint32_t>(ReadIndexed(index_));
  });
  board_.SetWriteHook(kDacData, 1, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    WriteIndexed(index_, static_cast<uint8_t>(value));
    return value;
  });
  board_.SetReadHook(kChipRegStatus, 1, [this](Board&, RegAccess, uint32_t stored) {
    const bool retrace = raster_ != nullptr && raster_->InVerticalSync(0);
    return retrace ? stored | kStatusRetrace : stored & ~kStatusRetrace;
  });
  DriveDdc();
}

ChipDac::~ChipDac() {
  board_.ClearHooks(kDacIndex);
  board_.ClearHooks(kDacData);
  board_.ClearHooks(kChipRegStatus);
}

uint32_t ChipDac::OutputKHz(DacPll pll) const {
  const uint8_t base = Base(pll);
  const uint32_t m = regs_[base], n = regs_[base + 1], p = regs_[base + 2] & 7;
  return static_cast<uint32_t>(uint64_t{ref_khz_} * (n + 1) / ((m + 1) * (p + 1)));
}

bool ChipDac::Locked(DacPll pll) const {
  const unsigned w = Which(pll);
  if (modes_[w] == DacLockMode::kNever) return false;
  const uint8_t base = Base(pll);
  const uint32_t m = regs_[base], n = regs_[base + 1], p = regs_[base + 2] & 7;
  if (m < 1 || m > 6 || n < 7 || n > 127 || (p != 0 && p != 1 && p != 3 && p != 7)) return false;
  const uint64_t vco = uint64_t{ref_khz_} * (n + 1) / (m + 1);
  if (vco < kMinVcoKHz || vco > vco_max_khz_) return false;
  if (pll == DacPll::kPixel) {
    if (!(regs_[kDacPixelClockControl] & kDacPllReset)) return false;
    if (modes_[w] == DacLockMode::kAfterReset && !reset_toggled_) return false;
  }
  return true;
}

uint8_t ChipDac::ReadIndexed(uint8_t index) {
  uint8_t value = regs_[index];
  switch (index) {
    case kDacPixelM + 3:
    case kDacSystemM + 3: {
      const DacPll pll = index == kDacPixelM + 3 ? DacPll::kPixel : DacPll::kSystem;
      if (Locked(pll)) return value | kDacPllLocked;
      ++unlocked_reads_[Which(pll)];
      return value & ~kDacPllLocked;
    }
    case kDacLoadSense:
      if (value & kLoadSenseOn)
        value = load_ ? value & ~kLoadComparators : value | kLoadComparators;
      return value;
    case kDacDdcData:
      for (const DdcPort& p : kDdcPorts) {
        I2cBus& bus = board_.I2c(DdcBus(p.port));
        value = bus.ReadScl() ? value | p.scl : value & ~p.scl;
        value = bus.ReadSda() ? value | p.sda : value & ~p.sda;
      }
      if (!(regs_[kDacDdcEnable] & kDacDvdLine))
        value = dvd_ ? value & ~kDacDvdLine : value | kDacDvdLine;
      return value;
    case kDacCve2Data:
      return cve2_[regs_[kDacCve2Index] & 63];
    default:
      return value;
  }
}

void ChipDac::WriteIndexed(uint8_t index, uint8_t value) {
  const uint8_t old = regs_[index];
  regs_[index] = value;
  switch (index) {
    case kDacPixelM:
    case kDacPixelM + 1:
    case kDacPixelM + 2:
      reset_toggled_ = false;
      break;
    case kDacPixelClockControl:
      if (!(old & kDacPllReset) && (value & kDacPllReset)) reset_toggled_ = true;
      break;
    case kDacDdcEnable:
    case kDacDdcData:
      DriveDdc();
      break;
    case kDacCve2Data: {
      const uint8_t reg = regs_[kDacCve2Index] & 63;
      cve2_[reg] = static_cast<uint8_t>(value & ~cve2_dropped_[reg]);
      cve2_writes_.emplace_back(reg, value);
      break;
    }
    default:
      break;
  }
}

void ChipDac::DriveDdc() {
  const uint8_t enable = regs_[kDacDdcEnable], data = regs_[kDacDdcData];
  for (const DdcPort& p : kDdcPorts) {
    const bool scl_low = (enable & p.scl) && !(data & p.scl);
    const bool sda_low = (enable & p.sda) && !(data & p.sda);
    board_.I2c(DdcBus(p.port)).MasterDrive(!scl_low, !sda_low);
  }
}

}  // namespace orvsim
