// Screens on simulated boards with their DMA and 2D engines and aperture
// windows, for the tests that bring screens up: PreInit and ScreenInit in
// the X server stand-in, in local-DMA mode unless a test provides the
// kernel module.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/orv_abi.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "xdriver/orv_preinit.h"
#include "xdriver/tests/frontend_fixture.h"

namespace fetest {

// What a board's memory holds before the driver runs.
inline constexpr uint8_t kFill = 0x5A;
inline const std::string kNoLogo = "  Option \"NoLogo\"\n";

class Screens : public FrontEnd {
 protected:
  // A board with its engines (bus mastering starts the DMA engine), its
  // memory filled with a pattern.
  orvsim::Board& AddEngineBoard(uint16_t chip = 0x5D63, unsigned device = 4, uint32_t memoryMB = 64,
                                uint8_t revision = 0) {
    orvsim::Board& board =
        AddBoard(chip, device, memoryMB, 0x0301, revision, orvmachine::k2d | orvmachine::kWindows);
    orvmachine::MachineBoard& parts = machine.Board(machine.BoardCount() - 1);
    dma_.push_back(parts.dma.get());
    engines_.push_back(parts.engine2d.get());
    std::memset(board.LocalMemory(), kFill, board.LocalMemorySize());
    return board;
  }

  // A board with monitors on outputs 0 and 1, and PreInit of `heads`
  // screens on it; without the start-up logo (which paints the cleared
  // screen) unless `logo`.
  orvsim::Board& Up(int heads, const std::string& options = "", int depth = 16, bool logo = false) {
    orvsim::Board& board = AddEngineBoard();
    Description().edids[0] = MonitorEdid();
    Description().edids[1] = MonitorEdid();
    EXPECT_EQ(PreInit(Config(heads, (logo ? "" : kNoLogo) + options, depth)), heads);
    return board;
  }

  uint16_t Pixel16(orvsim::Board& board, int screen, int x, int y) {
    const ORVRec* rec = Rec(screen);
    const size_t at = rec->fbOffset + (static_cast<size_t>(y) * xf86Screens[screen]->displayWidth + x) * 2;
    uint16_t v;
    std::memcpy(&v, board.LocalMemory() + at, 2);
    return v;
  }

  // The engines of the boards made here, in order.
  std::vector<orvsim::DmaEngine*> dma_;
  std::vector<orvsim::Engine2d*> engines_;
};

// Screens whose heads talk to the kernel module's node (answered by the
// fake endpoint, its posted ranges run on the board's DMA engine). The
// endpoint's shared block carries no chip revision, so the board is one of
// the first chips, whose idle test that matches.
class KernelScreens : public Screens {
 public:
  static constexpr uint32_t kMinor = 0;

 protected:
  orvsim::Board& KernelBoard(int heads, int depth = 16, const std::string& options = "") {
    // Revision 2: the first two revisions of the first chip take only
    // 32-bit modes without zoom.
    orvsim::Board& board = AddEngineBoard(0x0A41, 4, 64, 2);
    kernel.SetMinor(1, 4, 0, kMinor);
    kernel.AttachDmaEngine(dma_.back());
    box.ProvideKernelModule("orv", 243, &kernel);
    Description().edids[0] = MonitorEdid();
    EXPECT_EQ(PreInit(Config(heads, kNoLogo + options, depth)), heads);
    for (int i = 0; i < heads; ++i) EXPECT_TRUE(ORVMapMem(xf86Screens[i]));
    return board;
  }
  // The mode record of the i-th enable request, and its handle word.
  VideoMode Sent(size_t i, uint64_t* handle = nullptr) const {
    const std::vector<xstub::KernelCall> calls = kernel.CallsTo(0x14);
    VideoMode m{};
    if (i >= calls.size() || calls[i].record.size() != 128) {
      ADD_FAILURE() << "no enable request " << i;
      return m;
    }
    std::memcpy(&m, calls[i].record.data(), sizeof(m));
    if (handle != nullptr) std::memcpy(handle, calls[i].record.data() + 120, 8);
    return m;
  }
};

}  // namespace fetest
