// The chip's output side between the controllers and the connectors: the
// two DAC control words, the DVO words and the integrated TV encoder's
// output CRC.
//
// - DAC and DVO registers are plain storage; the model decodes them for
//   tests. 0x1C18 (DAC 1) and 0x1C1C (DAC 2): bits 10 and 12 set switch the
//   DAC off; bit 11 / 13 negative horizontal / vertical sync; DAC 1 bit 14
//   takes module 1, bit 15 blanks its sync; DAC 2 bits 14-15 take
//   controller 0, 1, the TV path (2) or controller 3, bit 16 blanks its
//   sync. 0x1C24: bit 0 DVO 1 off, bit 1 DVO 2 off, bit 2 both off. 0x1C20:
//   DVO 1 source in bits 14-15 (0 controller 0, 1 controller 1, 3
//   controller 2; on devices 0x5D61-0x5D63 with bit 8: 0 / clear controller
//   0, 0 / set controller 1, 1 / set controller 2, 2 / clear controller 3),
//   DVO 2 source in bit 30 (controller 0 or 1). 0x1C54, 0x1C58 and 0x1C70
//   are plain.
// - TV-encoder CRC: writing 0x1C34 starts a CRC run; 0x1C30 then reads the
//   CRC of the field module 1 scans: 0x736DCE76 and 0x15D2EAC4 on
//   alternate fields, while the 30-register TV block (0x1B00 ... 0x1A8C,
//   0x1D80 + 8k, 0x1D84 + 8k) holds the encoder's test mode (bits 16-17 of
//   0x1B00, the video-reset hold, do not count). Any other
//   picture, no run started, the first runs a test declared unstable, or
//   the never-match mode read a value of neither kind.
#pragma once

#include <cstdint>

#include "platform/board/board.h"
#include "platform/board/chip_raster.h"

namespace orvsim {

inline constexpr uint32_t kChipRegDac1 = 0x1C18;
inline constexpr uint32_t kChipRegDac2 = 0x1C1C;
inline constexpr uint32_t kChipRegDvoSource = 0x1C20;
inline constexpr uint32_t kChipRegDvoPower = 0x1C24;
inline constexpr uint32_t kChipRegTvCrc = 0x1C30;
inline constexpr uint32_t kChipRegTvCrcStart = 0x1C34;
inline constexpr uint32_t kTvCrcEvenField = 0x736DCE76;
inline constexpr uint32_t kTvCrcOddField = 0x15D2EAC4;

// The registers of the TV block in word order (word 20 has none: 0).
inline constexpr uint32_t kTvBlockRegs[30] = {
    0x1B00, 0x1B08, 0x1B10, 0x1B14, 0x1B1C, 0x1B20, 0x1B2C, 0x1B30, 0x1B34, 0x1A8C,
    0x1D80, 0x1D88, 0x1D90, 0x1D98, 0x1DA0, 0x1DA8, 0x1DB0, 0x1DB8, 0x1DC0, 0x1DC8,
    0,      0x1D84, 0x1D8C, 0x1D94, 0x1D9C, 0x1DA4, 0x1DAC, 0x1DB4, 0x1DBC, 0x1DC4};

struct DacState {
  bool on;              // bits 10 and 12 clear
  bool blanked;         // sync off
  unsigned source;      // DAC 1: module 0 or 1; DAC 2: 0, 1, 2 (TV), 3
  bool hsync_negative;
  bool vsync_negative;
};

struct DvoState {
  bool on;
  int source;  // controller, -1 when the source bits name none
};

class ChipOutputs {
 public:
  // Installs the CRC registers; the raster gives module 1's fields.
  ChipOutputs(Board& board, ChipRaster& raster);
  ~ChipOutputs();
  ChipOutputs(const ChipOutputs&) = delete;
  ChipOutputs& operator=(const ChipOutputs&) = delete;

  DacState Dac(unsigned dac) const;  // 0: DAC 1, 1: DAC 2
  DvoState Dvo(unsigned dvo) const;  // 0: DVO 1, 1: DVO 2

  // Whether the TV block holds the encoder's test mode now.
  bool TvBlockInTestMode() const;
  // The first `runs` CRC runs show an unstable picture (no pair).
  void SetUnstableRuns(unsigned runs) { unstable_runs_ = runs; }
  void SetNeverMatch(bool never) { never_match_ = never; }
  unsigned CrcRuns() const { return runs_; }
  unsigned CrcReads() const { return reads_; }
  // Writes the test mode into the TV block (for tests of the model).
  static void WriteTvTestMode(Board& board);
  // Back to no CRC run (the chip's reset).
  void Reset();

 private:
  uint32_t CrcRead();

  Board& board_;
  ChipRaster& raster_;
  bool later_dvo_;
  unsigned runs_ = 0;
  unsigned reads_ = 0;
  unsigned unstable_runs_ = 0;
  bool never_match_ = false;
  uint64_t run_frame_ = 0;
};

}  // namespace orvsim
