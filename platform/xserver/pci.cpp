// PCI configuration access through the simulated bus.
#include <stdio.h>

#include "platform/board/pci_bus.h"
#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr PCITAG kTagMask = 0xFFFF;

// The bus to use, or null after saying why there is none.
orvsim::PciBus* BusFor(const char* service, PCITAG tag) {
  xstub::detail::State* s = xstub::detail::Current();
  orvsim::PciBus* bus = s ? s->Bus() : nullptr;
  if (bus == nullptr) {
    fprintf(stderr, "xserver stand-in: %s(tag 0x%x) with no simulated PCI bus attached\n",
            service, tag);
    return nullptr;
  }
  if ((tag & ~kTagMask) != 0) {
    fprintf(stderr, "xserver stand-in: %s: tag 0x%x has bits above the bus number\n",
            service, tag);
    return nullptr;
  }
  return bus;
}

uint32_t Read(const char* service, PCITAG tag, int offset, unsigned width) {
  orvsim::PciBus* bus = BusFor(service, tag);
  if (bus == nullptr) return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
  return bus->ConfigRead((tag >> 8) & 0xFF, (tag >> 3) & 0x1F, tag & 7,
                         static_cast<unsigned>(offset), width);
}

void Write(const char* service, PCITAG tag, int offset, unsigned width, uint32_t value) {
  orvsim::PciBus* bus = BusFor(service, tag);
  if (bus == nullptr) return;
  bus->ConfigWrite((tag >> 8) & 0xFF, (tag >> 3) & 0x1F, tag & 7,
                   static_cast<unsigned>(offset), width, value);
}

}  // namespace

extern "C" {

PCITAG pciTag(int bus, int device, int function) {
  return ((static_cast<PCITAG>(bus) & 0xFF) << 8) |
         ((static_cast<PCITAG>(device) & 0x1F) << 3) | (static_cast<PCITAG>(function) & 7);
}

CARD8 pciReadByte(PCITAG tag, int offset) {
  return static_cast<CARD8>(Read("pciReadByte", tag, offset, 1));
}
CARD16 pciReadWord(PCITAG tag, int offset) {
  return static_cast<CARD16>(Read("pciReadWord", tag, offset, 2));
}
CARD32 pciReadLong(PCITAG tag, int offset) { return Read("pciReadLong", tag, offset, 4); }

void pciWriteByte(PCITAG tag, int offset, CARD8 value) {
  Write("pciWriteByte", tag, offset, 1, value);
}
void pciWriteWord(PCITAG tag, int offset, CARD16 value) {
  Write("pciWriteWord", tag, offset, 2, value);
}
void pciWriteLong(PCITAG tag, int offset, CARD32 value) {
  Write("pciWriteLong", tag, offset, 4, value);
}

}  // extern "C"
