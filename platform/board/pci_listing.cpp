#include "platform/board/pci_listing.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace orvsim {

namespace {

constexpr unsigned kBarCount = 6;
constexpr unsigned kFirstBar = 0x10;
constexpr unsigned kRomBar = 0x30;
constexpr unsigned kInterruptLine = 0x3C;

// The size of the range behind a register whose address bits are
// `writable`: the lowest writable bit's value.
uint64_t RangeSize(uint64_t writable) { return writable == 0 ? 0 : ~writable + 1; }

}  // namespace

std::string PciDevicesLine(const PciLocation& at, const PciFunction& f) {
  uint64_t base[kBarCount + 1] = {};
  uint64_t size[kBarCount + 1] = {};
  for (unsigned i = 0; i < kBarCount; ++i) {
    const unsigned offset = kFirstBar + 4 * i;
    const uint32_t value = f.Peek(offset, 4);
    const bool io = (value & 1) != 0;
    const uint32_t writable = f.Writable(offset, 4) & (io ? ~0x3u : ~0xFu);
    base[i] = value;
    if (!io && ((value >> 1) & 3) == 2 && i + 1 < kBarCount) {
      // A 64-bit memory register: its upper half is part of it.
      base[i] |= uint64_t(f.Peek(offset + 4, 4)) << 32;
      size[i] = RangeSize(writable | uint64_t(f.Writable(offset + 4, 4)) << 32);
      ++i;
    } else {
      size[i] = uint32_t(RangeSize(0xFFFFFFFF00000000ull | writable));
    }
  }
  base[kBarCount] = f.Peek(kRomBar, 4);
  size[kBarCount] = uint32_t(RangeSize(0xFFFFFFFF00000000ull | (f.Writable(kRomBar, 4) & ~0x7FFu)));
  char line[512];
  int n = std::snprintf(line, sizeof line, "%02x%02x\t%04x%04x\t%x", at.bus,
                        (at.device << 3) | at.function, f.VendorId(), f.DeviceId(),
                        f.Peek(kInterruptLine, 1));
  for (uint64_t b : base)
    n += std::snprintf(line + n, sizeof line - size_t(n), "\t%16llx", (unsigned long long)b);
  for (uint64_t s : size)
    n += std::snprintf(line + n, sizeof line - size_t(n), "\t%16llx", (unsigned long long)s);
  return std::string(line, size_t(n)) + "\n";
}

bool WritePciListing(const PciBus& bus, const std::string& root) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(root) / "proc/bus/pci";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    errno = ec.value();
    return false;
  }
  std::string devices;
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned d = 0; d < 32; ++d) {
      for (unsigned fn = 0; fn < 8; ++fn) {
        const PciLocation at{b, d, fn};
        const PciFunction* f = bus.At(at);
        if (f == nullptr) continue;
        devices += PciDevicesLine(at, *f);
        char busName[8], functionName[16];
        std::snprintf(busName, sizeof busName, "%02x", b);
        std::snprintf(functionName, sizeof functionName, "%02x.%x", d, fn);
        fs::create_directories(dir / busName, ec);
        std::vector<char> bytes(f->ConfigSize());
        for (unsigned i = 0; i < f->ConfigSize(); ++i) bytes[i] = char(f->Peek(i, 1));
        std::ofstream out(dir / busName / functionName, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) {
          errno = EIO;
          return false;
        }
      }
    }
  }
  std::ofstream out(dir / "devices", std::ios::binary);
  out << devices;
  if (!out) {
    errno = EIO;
    return false;
  }
  return true;
}

}  // namespace orvsim
