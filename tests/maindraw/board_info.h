// What the simulated board tells the driver about itself: its option ROM
// with the board description (connectors, clock limits, board type), and,
// for the test build of orv_drv, whose hardware library's add-on entry is
// still a recording stand-in, the outputs that entry fills in.
#pragma once

#include <cstdint>
#include <vector>

namespace maindraw {

inline constexpr uint32_t kRomSize = 64 * 1024;

// A 64 KiB option ROM whose board description is the hardware library's
// built-in one with `outputs` (1 to 4) analog connectors: a third makes a
// twin board, a fourth a board of the four-display series.
std::vector<uint8_t> DescriptionRom(uint32_t outputs);

// The test build's add-on stand-in fills `outputs` outputs in.
void FillBoardInfoForTestModule(uint32_t outputs);

}  // namespace maindraw
