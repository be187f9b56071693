// The board information the test build of orv_drv takes from this program:
// its hardware library's add-on entry is a recording stand-in there, and
// the board's outputs and clock limits are filled in when it runs. The
// shipped module reads them from the board itself and never calls this.
#pragma once

#include <cstdint>

namespace maindraw {

// The stand-in fills `outputs` (1 to 4) outputs in.
void FillBoardInfoForTestModule(uint32_t outputs);

}  // namespace maindraw
