#include "platform/board/chip_lut.h"

#include "platform/board/chip_raster.h"

namespace orvsim {

namespace {

// The four tables: controllers 0 and 1 on the first register group of their
// module, 2 and 3 on the second.
uint32_t IndexRegister(unsigned controller) {
  return (controller < 2 ? kLutFirstIndex : kLutSecondIndex) +
         kChipModuleStride * (controller & 1);
}

uint32_t Keep(unsigned controller, uint32_t value) {
  return controller < 2 ? value & (kLutFirstMask | kLutCompensationMask) : value & kLutSecondMask;
}

}  // namespace

ChipLut::ChipLut(Board& board) : board_(board) {
  for (unsigned c = 0; c < 4; ++c) {
    const Port port{c, IndexRegister(c)};
    board_.SetWriteHook(port.base, 16,
                        [this, port](Board& b, RegAccess access, uint32_t value, uint32_t) {
                          // Registers are written as dwords; a narrower write
                          // merges into the dword it falls in.
                          const uint32_t reg = access.offset & ~3u;
                          const unsigned shift = 8 * (access.offset & 3);
                          const uint32_t mask =
                              (access.width == 4 ? 0xFFFFFFFFu : (1u << (8 * access.width)) - 1)
                              << shift;
                          const uint32_t whole =
                              (b.Peek(reg, 4) & ~mask) | ((value << shift) & mask);
                          Write(port, reg, whole);
                          return value;
                        });
  }
}

ChipLut::~ChipLut() {
  for (unsigned c = 0; c < 4; ++c) board_.ClearHooks(IndexRegister(c));
}

void ChipLut::Reset() {
  for (auto& table : tables_) table.fill({});
  for (unsigned c = 0; c < 4; ++c) {
    latch_[c] = {};
    index_[c] = 0;
  }
  stored_ = 0;
}

void ChipLut::Write(const Port& port, uint32_t reg, uint32_t value) {
  const unsigned c = port.controller;
  switch (reg - port.base) {
    case 0:
      index_[c] = static_cast<uint8_t>(value);
      break;
    case 4:
      latch_[c].red = Keep(c, value);
      break;
    case 8:
      latch_[c].green = Keep(c, value);
      break;
    case 12:
      latch_[c].blue = Keep(c, value);
      if (value & kLutCommit) {
        tables_[c][index_[c]++] = latch_[c];
        ++stored_;
      }
      break;
  }
}

}  // namespace orvsim
