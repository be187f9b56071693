#include "platform/board/pci_function.h"

#include <cstdio>
#include <stdexcept>

namespace orvsim {

namespace {

uint32_t WidthMask(unsigned width) {
  return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Register defaults and writable bits of each capability we model.
struct CapabilityLayout {
  uint8_t id;
  unsigned size;  // bytes the body occupies, rounded to 8
};

constexpr CapabilityLayout kCapabilityLayouts[] = {
    {kPciCapPowerManagement, 8},
    {kPciCapAgp, 16},
    {kPciCapExpress, 40},
};

}  // namespace

std::string PciLocation::ToString() const {
  char text[16];
  std::snprintf(text, sizeof text, "%02x:%02x.%u", bus & 0xFF, device & 0x1F, function & 7);
  return text;
}

PciFunction::PciFunction(unsigned config_size) : bytes_(config_size, 0), writable_(config_size, 0) {
  if (config_size != kPciConfigSize && config_size != kPciExpressConfigSize)
    throw std::invalid_argument("configuration space must be 256 or 4096 bytes");
}

uint32_t PciFunction::Peek(unsigned offset, unsigned width) const {
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned at = offset + i;
    const uint32_t byte = at < bytes_.size() ? bytes_[at] : 0xFF;
    value |= byte << (8 * i);
  }
  return value;
}

void PciFunction::Poke(unsigned offset, unsigned width, uint32_t value) {
  for (unsigned i = 0; i < width && offset + i < bytes_.size(); ++i)
    bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PciFunction::SetWritable(unsigned offset, unsigned width, uint32_t mask) {
  for (unsigned i = 0; i < width && offset + i < writable_.size(); ++i)
    writable_[offset + i] = static_cast<uint8_t>(mask >> (8 * i));
}

uint32_t PciFunction::Writable(unsigned offset, unsigned width) const {
  uint32_t mask = 0;
  for (unsigned i = 0; i < width && offset + i < writable_.size(); ++i)
    mask |= static_cast<uint32_t>(writable_[offset + i]) << (8 * i);
  return mask;
}

uint32_t PciFunction::ConfigRead(unsigned offset, unsigned width) const {
  if (offset >= bytes_.size()) return WidthMask(width);
  return Peek(offset, width);
}

void PciFunction::ConfigWrite(unsigned offset, unsigned width, uint32_t value) {
  if (offset >= bytes_.size()) return;
  for (unsigned i = 0; i < width && offset + i < bytes_.size(); ++i) {
    const uint8_t mask = writable_[offset + i];
    const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
    bytes_[offset + i] = static_cast<uint8_t>((bytes_[offset + i] & ~mask) | (byte & mask));
  }
  if (write_hook_) write_hook_(offset, width, value & WidthMask(width));
  for (auto& [id, hook] : extra_hooks_) hook(offset, width, value & WidthMask(width));
}

unsigned PciFunction::AddExtraWriteHook(WriteHook hook) {
  extra_hooks_.emplace_back(next_extra_hook_, std::move(hook));
  return next_extra_hook_++;
}

void PciFunction::RemoveExtraWriteHook(unsigned id) {
  for (auto it = extra_hooks_.begin(); it != extra_hooks_.end(); ++it) {
    if (it->first == id) {
      extra_hooks_.erase(it);
      return;
    }
  }
}

void PciFunction::DefineMemoryBar(unsigned offset, uint64_t size, bool is_64bit, bool prefetchable,
                                  uint64_t base) {
  if (!IsPowerOfTwo(size) || size < 16)
    throw std::invalid_argument("a memory range must be a power of two of at least 16 bytes");
  if (!is_64bit && (size > 0x80000000ull || base + size > 0x100000000ull))
    throw std::invalid_argument("a 32-bit memory range must lie below 4 GiB");
  if (base & (size - 1)) throw std::invalid_argument("a memory range must be aligned to its size");
  const uint32_t type = (is_64bit ? 0x4u : 0x0u) | (prefetchable ? 0x8u : 0x0u);
  Poke(offset, 4, (static_cast<uint32_t>(base) & 0xFFFFFFF0u) | type);
  SetWritable(offset, 4, static_cast<uint32_t>(~(size - 1)) & 0xFFFFFFF0u);
  if (is_64bit) {
    Poke(offset + 4, 4, static_cast<uint32_t>(base >> 32));
    SetWritable(offset + 4, 4, static_cast<uint32_t>(~((size - 1) >> 32)));
  }
}

void PciFunction::DefineRomBar(unsigned offset, uint32_t size, uint32_t base) {
  if (!IsPowerOfTwo(size) || size < 2048)
    throw std::invalid_argument("an expansion ROM must be a power of two of at least 2 KiB");
  if (base & (size - 1)) throw std::invalid_argument("an expansion ROM must be aligned to its size");
  Poke(offset, 4, base & 0xFFFFF800u);
  SetWritable(offset, 4, (~(size - 1) & 0xFFFFF800u) | kPciRomEnable);
}

uint64_t PciFunction::MemoryBarAddress(unsigned offset) const {
  const uint32_t low = Peek(offset, 4);
  uint64_t address = low & 0xFFFFFFF0u;
  if ((low & 0x6) == 0x4) address |= static_cast<uint64_t>(Peek(offset + 4, 4)) << 32;
  return address;
}

void PciFunction::BuildCapabilities(const std::vector<uint8_t>& ids, unsigned first_offset) {
  const uint16_t status = static_cast<uint16_t>(Peek(kPciStatus, 2));
  if (ids.empty()) {
    Poke(kPciCapabilityPointer, 1, 0);
    Poke(kPciStatus, 2, status & ~kPciStatusCapList);
    return;
  }
  if (first_offset < 0x40 || (first_offset & 3))
    throw std::invalid_argument("capabilities start at a dword offset from 0x40 on");
  unsigned at = first_offset;
  unsigned previous = 0;
  for (uint8_t id : ids) {
    const CapabilityLayout* layout = nullptr;
    for (const auto& l : kCapabilityLayouts)
      if (l.id == id) layout = &l;
    if (!layout) throw std::invalid_argument("unknown capability id " + std::to_string(id));
    if (at + layout->size > kPciConfigSize)
      throw std::invalid_argument("capabilities do not fit in configuration space");
    for (unsigned i = 0; i < layout->size; ++i) Poke(at + i, 1, 0);
    Poke(at, 1, id);
    switch (id) {
      case kPciCapPowerManagement:
        Poke(at + 2, 2, 0x0002);  // version 2
        SetWritable(at + 4, 2, 0x0103);  // power state, PME enable
        break;
      case kPciCapAgp:
        Poke(at + 2, 1, 0x20);        // version 2.0
        Poke(at + 4, 4, 0x1F000207);  // queue depth 32, sideband, 1x/2x/4x
        SetWritable(at + 8, 4, 0xFF000337);
        break;
      case kPciCapExpress:
        Poke(at + 2, 2, 0x0001);       // version 1, endpoint
        Poke(at + 0x0C, 4, 0x00000101 | (16u << 4));  // 2.5 GT/s, x16
        Poke(at + 0x12, 2, 0x0001 | (16u << 4));      // linked at 2.5 GT/s x16
        SetWritable(at + 0x08, 2, 0x7FFF);            // device control
        SetWritable(at + 0x10, 2, 0x0FFB);            // link control
        break;
    }
    if (previous) Poke(previous + 1, 1, at);
    previous = at;
    at += layout->size;
  }
  Poke(kPciCapabilityPointer, 1, first_offset);
  Poke(kPciStatus, 2, status | kPciStatusCapList);
}

unsigned PciFunction::FindCapability(uint8_t id) const {
  if (!(Peek(kPciStatus, 2) & kPciStatusCapList)) return 0;
  unsigned at = Peek(kPciCapabilityPointer, 1) & ~3u;
  for (int guard = 0; guard < 48 && at >= 0x40 && at < kPciConfigSize; ++guard) {
    if (Peek(at, 1) == id) return at;
    at = Peek(at + 1, 1) & ~3u;
  }
  return 0;
}

}  // namespace orvsim
