// The chip's memory controllers and frequency synthesizers.
//
// - Memory controllers: registers 0xF00-0xFFF are banked per controller.
//   First generation: four controllers, select register 0xF00 (enable bits
//   0, 8, 16, 24), banked 0xF04-0xFFF; status 0xF08 bit 31 reads set while
//   the controller is idle. Later generation (device 0x5D63): two
//   controllers, select register 0xFFC (bits 0, 1), banked 0xF00-0xFF8;
//   status 0xFF8 bits 9 and 10 both read set while busy. A write goes to
//   every selected controller, a read answers the lowest selected one (0
//   with none selected). Writing the status register (first generation) or
//   the start register 0xFF4 (later) makes the controller busy for the
//   number of status reads chosen with SetMcBusyReads.
// - Frequency synthesizers FS 0-3 at 0xE10 (first generation) or 0xE30
//   (later). Their lock bits (24 and 25, or 24) read set when the dividers
//   in the register are legal: both VCOs inside the chip's range, M1 not
//   33 on the first generation, and the program bits clear. A lock mode can
//   instead make the lock flicker (set on the first k of every 100 reads
//   after a write) or never come.
// - What the clock registers select, decoded for tests (plain storage, no
//   behaviour): the frequency an FS word gives; first generation 0xE00
//   (graphics-clock select code in bits 8-11: 1, 2 FS 0; 3, 4 FS 1; 5, 6
//   FS 2; 7, 8 FS 3; divider code in bits 5-6: x1, /3, /2.5, /2; test
//   clock on in bit 29, its source in bits 20-24); later generation 0xE00,
//   0xE04, 0xE08 (source in bits 1-4: 1..4 FS 0..3, 0xE00 only FS 0;
//   divider code in bits 5-7: /1, /2, /3, /4, /5, /8, /16, stopped) and
//   0xE24 (test clock on in bit 1, its source in bits 2-7; 0 on a cold chip).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

enum class ClockGeneration : uint8_t { kFirst, kLater };
enum class FsLockMode : uint8_t { kLegal, kFlicker, kNever };

struct McWrite {
  unsigned controller;  // 0-based
  uint32_t reg;
  uint32_t value;
  bool operator==(const McWrite&) const = default;
};

struct FsProgram {
  unsigned fs;
  uint32_t word;  // a word written with the program bits clear
  bool operator==(const FsProgram&) const = default;
};

class ChipClocks {
 public:
  // The generation follows the board's device id.
  explicit ChipClocks(Board& board);
  ~ChipClocks();
  ChipClocks(const ChipClocks&) = delete;
  ChipClocks& operator=(const ChipClocks&) = delete;

  ClockGeneration Generation() const { return gen_; }
  unsigned Controllers() const { return gen_ == ClockGeneration::kFirst ? 4 : 2; }

  // ---- Memory controllers ---------------------------------------------------
  uint32_t McReg(unsigned controller, uint32_t reg) const;
  void SetMcReg(unsigned controller, uint32_t reg, uint32_t value);
  const std::vector<McWrite>& McWrites() const { return mc_writes_; }
  void ClearMcWrites() { mc_writes_.clear(); }
  // Status reads that show a controller busy after each start; kForever
  // keeps it busy.
  static constexpr uint32_t kForever = 0xFFFFFFFF;
  void SetMcBusyReads(uint32_t reads) { busy_reads_ = reads; }

  // ---- Frequency synthesizers --------------------------------------------------
  void SetFsLockMode(unsigned fs, FsLockMode mode, unsigned lockedPer100 = 0);
  void SetVcoRange(uint32_t min_khz, uint32_t max_khz);
  const std::vector<FsProgram>& FsPrograms() const { return fs_programs_; }
  void ClearFsPrograms() { fs_programs_.clear(); }
  uint32_t FsRegister(unsigned fs) const;
  bool FsLocked(unsigned fs) const;
  // The output frequency of an FS word, in kHz, from its dividers and
  // output selection (0 when a divider field gives 0).
  static uint32_t FsKHz(ClockGeneration gen, uint32_t word);
  uint32_t FsKHz(unsigned fs) const { return FsKHz(gen_, FsRegister(fs)); }

  // ---- Clock-select registers -------------------------------------------------
  // The FS the graphics clock runs from (first generation 0xE00 bits 8-11,
  // later 0xE04 bits 1-4), -1 for none.
  int GraphicsClockFs() const;
  // The graphics clock in kHz: its FS divided by the register's divider;
  // 0 without an FS or when stopped.
  uint32_t GraphicsClockKHz() const;
  // Later generation: clock 0 (system, 0xE00), 1 (graphics, 0xE04) or 2
  // (third, 0xE08) in kHz.
  uint32_t LaterClockKHz(unsigned clock) const;
  struct TestClock {
    bool on;
    uint32_t source;
  };
  TestClock TestClockState() const;

 private:
  uint32_t SelectReg() const;
  bool Selected(unsigned controller) const;
  int LowestSelected() const;  // -1 with none selected
  bool Banked(uint32_t reg) const;
  uint32_t StatusReg() const;
  uint32_t McRead(uint32_t reg);
  void McWriteDword(uint32_t reg, uint32_t value);
  uint32_t FsRead(unsigned fs);
  void FsWrite(unsigned fs, uint32_t value);
  bool LegalDividers(uint32_t word) const;

  Board& board_;
  ClockGeneration gen_;
  std::map<uint32_t, uint32_t> banks_[4];
  uint32_t busy_left_[4] = {};
  uint32_t busy_reads_ = 0;
  std::vector<McWrite> mc_writes_;

  struct Fs {
    FsLockMode mode = FsLockMode::kLegal;
    unsigned locked_per_100 = 0;
    uint32_t reads_since_write = 0;
  } fs_[4];
  uint32_t vco_min_, vco_max_;
  std::vector<FsProgram> fs_programs_;
};

}  // namespace orvsim
