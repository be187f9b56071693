#include "platform/board/phys_map.h"

#include <algorithm>

namespace orvsim {

namespace {

constexpr unsigned kVgaPortFirst = 0x3B0;
constexpr unsigned kVgaPortEnd = 0x3E0;
constexpr uint32_t kVgaRegisterOffset = 0x1C00;

// Whether [start, start + length) lies inside [base, base + size), without
// overflowing near the top of the address space.
bool Inside(uint64_t start, uint64_t length, uint64_t base, uint64_t size) {
  return start >= base && start - base < size && length <= size - (start - base);
}

uint8_t* HostBytes(Board& board, ResourceKind kind) {
  switch (kind) {
    case ResourceKind::kRegisters:
      return board.Registers();
    case ResourceKind::kMemory:
      return board.Memory();
    case ResourceKind::kRom:
      return board.Rom();
  }
  return nullptr;
}

}  // namespace

void PhysicalMap::AddBoard(Board* board) {
  if (std::find(boards_.begin(), boards_.end(), board) == boards_.end()) boards_.push_back(board);
}

void PhysicalMap::RemoveBoard(Board* board) {
  boards_.erase(std::remove(boards_.begin(), boards_.end(), board), boards_.end());
}

bool PhysicalMap::Resolve(uint64_t physical, uint64_t length, PhysTarget* out) const {
  if (length == 0) return false;
  for (Board* board : boards_) {
    for (ResourceKind kind : Board::kBarOrder) {
      const std::optional<BarInfo> range = board->Bar(kind);
      if (!range) continue;
      const BarInfo& bar = *range;
      if (!bar.decoded || !Inside(physical, 1, bar.base, bar.size)) continue;
      // The range that holds the start decides: a range that runs past its
      // end does not continue into whatever lies next.
      if (!Inside(physical, length, bar.base, bar.size)) return false;
      if (out) {
        const uint64_t offset = physical - bar.base;
        *out = PhysTarget{board, bar.kind, offset, HostBytes(*board, bar.kind) + offset, bar.base,
                          bar.size};
      }
      return true;
    }
  }
  return false;
}

bool PhysicalMap::ResolveHost(const volatile void* address, uint64_t length,
                              PhysTarget* out) const {
  // Called for every register access made through a mapping: no allocation,
  // and the register windows are tried first.
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (int pass = 0; pass < 3; ++pass) {
    const auto kind = pass == 0 ? ResourceKind::kRegisters
                      : pass == 1 ? ResourceKind::kMemory
                                  : ResourceKind::kRom;
    for (Board* board : boards_) {
      uint8_t* host = HostBytes(*board, kind);
      const uint64_t size = kind == ResourceKind::kRegisters ? board->RegisterBarSize()
                            : kind == ResourceKind::kMemory  ? board->MemorySize()
                                                             : board->RomSize();
      if (!host || !Inside(at, length, reinterpret_cast<uintptr_t>(host), size)) continue;
      if (out) {
        const uint64_t offset = at - reinterpret_cast<uintptr_t>(host);
        const unsigned bar = kind == ResourceKind::kRegisters ? board->RegisterBarOffset()
                             : kind == ResourceKind::kMemory  ? kFrameBufferBar
                                                              : kPciRomBar;
        const uint64_t base = kind == ResourceKind::kRom
                                  ? board->Pci().Peek(kPciRomBar, 4) & 0xFFFFF800u
                                  : board->Pci().MemoryBarAddress(bar);
        *out = PhysTarget{board, kind, offset, host + offset, base, size};
      }
      return true;
    }
  }
  return false;
}

bool PhysicalMap::ResolveVgaPort(unsigned port, unsigned width, PhysTarget* out) const {
  if (width == 0 || port < kVgaPortFirst || port + width > kVgaPortEnd) return false;
  for (Board* board : boards_) {
    const PciFunction& pci = board->Pci();
    if (!pci.IoDecode() || (pci.Peek(kPciClassCode, 3) >> 8) != (kClassVgaDisplay >> 8)) continue;
    const uint32_t offset = port + kVgaRegisterOffset;
    if (offset + width > board->RegisterWindowSize()) continue;
    if (out) {
      *out = PhysTarget{board, ResourceKind::kRegisters, offset, board->Registers() + offset,
                        kVgaPortFirst, kVgaPortEnd - kVgaPortFirst};
    }
    return true;
  }
  return false;
}

}  // namespace orvsim
