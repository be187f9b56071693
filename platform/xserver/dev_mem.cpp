#include "platform/xserver/dev_mem.h"

#include <errno.h>
#include <inttypes.h>
#include <stdio.h>

#include "platform/board/phys_map.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/state.h"

namespace xstub::detail {
namespace {

class MemEndpoint final : public Endpoint {
 public:
  int Open(uint32_t minor) override { return minor == kMemMinor ? 0 : -ENXIO; }

  int Ioctl(uint32_t, unsigned long, void*) override { return -ENOTTY; }

  void* Mmap(uint32_t, uint64_t offset, size_t length) override {
    State* s = Current();
    orvsim::PhysicalMap* map = s ? s->PhysMap() : nullptr;
    if (map == nullptr) {
      fprintf(stderr,
              "xserver stand-in: /dev/mem mapping of 0x%" PRIx64
              " with no physical map attached\n",
              offset);
      return nullptr;
    }
    orvsim::PhysTarget target;
    if (!map->Resolve(offset, length, &target)) {
      fprintf(stderr,
              "xserver stand-in: /dev/mem: nothing decodes 0x%" PRIx64
              "..+0x%zx\n",
              offset, length);
      return nullptr;
    }
    // The router enters register windows in its routing table.
    return target.host;
  }
};

}  // namespace

std::unique_ptr<Endpoint> MakeMemEndpoint() {
  return std::make_unique<MemEndpoint>();
}

}  // namespace xstub::detail
