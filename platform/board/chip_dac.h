// The chip's integrated DAC, on boards whose register window is at least
// 16 KiB (its ports lie past the 8,192-byte window of the standard board).
//
// - 0x3C00: index of the DAC's indexed registers, and palette write index
//   (it also starts a palette entry); 0x3C01: palette data, red, green, blue
//   of the entry, then the next entry; 0x3C02: pixel read mask; 0x3C0A: the
//   indexed register the index names (256 of them, plain storage unless
//   listed below).
// - Pixel PLL M, N, P-and-S at 0x4C, 0x4D, 0x4E, status 0x4F; system PLL at
//   0x2C, 0x2D, 0x2E, status 0x2F. Status bit 6 reads set while the PLL is
//   locked: its dividers are legal (M 1..6, N 7..127, P of 0, 1, 3 or 7,
//   VCO = Fref x (N + 1) / (M + 1) between 50,000 kHz and the VCO maximum)
//   and, for the pixel PLL, bit 3 of 0x1A (the PLL reset) is set. A lock mode
//   can keep a PLL from ever locking, or let the pixel PLL lock only after
//   its reset was cleared and set again since the dividers last changed.
// - Load sense 0x3A: while bit 7 (sense on) is set, bits 0-2 read 0 when a
//   monitor loads the outputs and 1 each when none does.
// - DDC lines 0x2A (drive enable) and 0x2B (data): a line with its enable
//   bit set is pulled low when its data bit is clear; a line with the
//   enable bit clear is released, and its data bit reads the wire. Port 0
//   (SCL bit 3, SDA bit 1) is wired to bus kBusDdcConnector0, port 1 (bits
//   5 and 4) to kBusDdcConnector1, port 5 (bits 2 and 0) to
//   kBusDdcConnector2 of the board.
// - 0x1E14 (status) bit 3 reads set while controller module 0 is in
//   vertical sync (from ChipRaster when one is given).
// - The TV encoder's 64-register file: 0x87 names a register, 0x88 reads
//   or writes it. A register can be made to drop bits on write, to model a
//   write that does not take.
// - The DVD decoder's presence line on bit 6 of 0x2A/0x2B: with 0x2A bit 6
//   clear the line is released and 0x2B bit 6 reads low while a decoder
//   holds it (`SetDvdDecoder`), high otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

class ChipRaster;

inline constexpr uint32_t kDacIndex = 0x3C00;
inline constexpr uint32_t kDacPaletteData = 0x3C01;
inline constexpr uint32_t kDacReadMask = 0x3C02;
inline constexpr uint32_t kDacData = 0x3C0A;
inline constexpr uint32_t kChipRegStatus = 0x1E14;
inline constexpr uint32_t kDacMinimumWindow = 16384;

inline constexpr uint8_t kDacPixelClockControl = 0x1A;
inline constexpr uint8_t kDacPllReset = 0x08;  // 0x1A bit 3: set lets the PLL run
inline constexpr uint8_t kDacPixelM = 0x4C;
inline constexpr uint8_t kDacSystemM = 0x2C;
inline constexpr uint8_t kDacPllLocked = 0x40;
inline constexpr uint8_t kDacLoadSense = 0x3A;
inline constexpr uint8_t kDacDdcEnable = 0x2A;
inline constexpr uint8_t kDacDdcData = 0x2B;
inline constexpr uint8_t kDacCve2Index = 0x87;
inline constexpr uint8_t kDacCve2Data = 0x88;
inline constexpr uint8_t kDacDvdLine = 0x40;

enum class DacPll : uint8_t { kPixel, kSystem };
enum class DacLockMode : uint8_t { kLegal, kNever, kAfterReset };

class ChipDac {
 public:
  // Throws std::invalid_argument on a board with a smaller window.
  explicit ChipDac(Board& board, ChipRaster* raster = nullptr);
  ~ChipDac();
  ChipDac(const ChipDac&) = delete;
  ChipDac& operator=(const ChipDac&) = delete;

  uint8_t Reg(uint8_t index) const { return regs_[index]; }
  void SetReg(uint8_t index, uint8_t value) { regs_[index] = value; }
  std::array<uint8_t, 3> Palette(unsigned i) const { return palette_[i & 0xFF]; }

  void SetLockMode(DacPll pll, DacLockMode mode) { modes_[Which(pll)] = mode; }
  void SetReferenceKHz(uint32_t khz) { ref_khz_ = khz; }
  void SetVcoMaxKHz(uint32_t khz) { vco_max_khz_ = khz; }
  bool Locked(DacPll pll) const;
  // Output frequency of the PLL's dividers in kHz (0 when M + 1 or P + 1
  // would divide by 0).
  uint32_t OutputKHz(DacPll pll) const;
  // Reads of the lock status that found the PLL unlocked.
  uint64_t UnlockedReads(DacPll pll) const { return unlocked_reads_[Which(pll)]; }

  void SetMonitorLoad(bool present) { load_ = present; }

  // The TV encoder's register file behind 0x87/0x88.
  uint8_t Cve2(uint8_t reg) const { return cve2_[reg & 63]; }
  void SetCve2(uint8_t reg, uint8_t value) { cve2_[reg & 63] = value; }
  void DropCve2Bits(uint8_t reg, uint8_t bits) { cve2_dropped_[reg & 63] = bits; }
  // Registers written through 0x88, in order, as (register, value written).
  const std::vector<std::pair<uint8_t, uint8_t>>& Cve2Writes() const { return cve2_writes_; }

  void SetDvdDecoder(bool present) { dvd_ = present; }

  // The board bus a DDC port of the DAC is wired to.
  static unsigned DdcBus(unsigned port);

 private:
  static unsigned Which(DacPll pll) { return pll == DacPll::kPixel ? 0 : 1; }
  uint8_t ReadIndexed(uint8_t index);
  void WriteIndexed(uint8_t index, uint8_t value);
  void DriveDdc();

  Board& board_;
  ChipRaster* raster_;
  std::array<uint8_t, 256> regs_{};
  std::array<std::array<uint8_t, 3>, 256> palette_{};
  uint8_t index_ = 0;
  uint8_t palette_index_ = 0, palette_part_ = 0;
  DacLockMode modes_[2] = {DacLockMode::kLegal, DacLockMode::kLegal};
  bool reset_toggled_ = false;  // pixel PLL reset cleared and set since the last divider write
  uint64_t unlocked_reads_[2] = {};
  uint32_t ref_khz_ = 27000;
  uint32_t vco_max_khz_ = 220000;
  bool load_ = false;
  std::array<uint8_t, 64> cve2_{};
  std::array<uint8_t, 64> cve2_dropped_{};
  std::vector<std::pair<uint8_t, uint8_t>> cve2_writes_;
  bool dvd_ = false;
};

}  // namespace orvsim
