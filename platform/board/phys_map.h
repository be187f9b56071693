// The machine's physical address space as the boards decode it.
//
// Each board answers at the addresses in its base address registers, as long
// as its memory decoding is on (and, for the expansion ROM, the ROM's enable
// bit is set). The map reads configuration space at every look-up, so a
// driver that moves a range or switches decoding off sees the effect at once.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

struct PhysTarget {
  Board* board = nullptr;
  ResourceKind kind = ResourceKind::kMemory;
  uint64_t offset = 0;      // from the start of the range
  uint8_t* host = nullptr;  // the bytes at `offset` in the simulator's memory
  uint64_t range_base = 0;  // the whole range the address fell in
  uint64_t range_size = 0;
};

class PhysicalMap {
 public:
  void AddBoard(Board* board);
  void RemoveBoard(Board* board);

  // Finds the decoded range that holds all of [physical, physical + length).
  // Fails for a zero length, an address nothing decodes, or a range that
  // runs past the end of what holds its start.
  bool Resolve(uint64_t physical, uint64_t length, PhysTarget* out) const;

  // The reverse: which board's register window, frame buffer or ROM holds
  // the host bytes [address, address + length). Register accesses made
  // through a mapping must go through Board::RegRead/RegWrite, so the
  // platform uses this to route them. The host bytes stay where they are
  // whatever configuration space says, so decoding is not checked here.
  bool ResolveHost(const volatile void* address, uint64_t length, PhysTarget* out) const;

  // Legacy VGA ports 0x3B0-0x3DF of a VGA-class board with I/O decoding on:
  // the register at port + 0x1C00. The first such board answers.
  bool ResolveVgaPort(unsigned port, unsigned width, PhysTarget* out) const;

 private:
  std::vector<Board*> boards_;
};

}  // namespace orvsim
