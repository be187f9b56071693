// Mapping a PCI device's memory (frame buffer, register aperture) through
// /dev/mem, as the server maps video memory for a driver.
#include <fcntl.h>
#include <sys/mman.h>

#include "platform/xserver/server_state.h"

namespace xstub {

size_t XServer::VideoMappingCount() const { return state_->video_mappings.size(); }

namespace detail {

void ReleaseVideoMappings(ServerState& s) {
  for (const VideoMapping& m : s.video_mappings) xf86munmap(m.mapped, m.length);
  s.video_mappings.clear();
  if (s.mem_fd >= 0) xf86close(s.mem_fd);
  s.mem_fd = -1;
}

}  // namespace detail
}  // namespace xstub

extern "C" {

pointer xf86MapPciMem(int scrnIndex, int flags, PCITAG, unsigned long base, unsigned long size) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || size == 0) return nullptr;
  if (s->mem_fd < 0) {
    s->mem_fd = xf86open("/dev/mem", (flags & VIDMEM_READONLY) ? O_RDONLY : O_RDWR);
    if (s->mem_fd < 0) {
      xf86DrvMsg(scrnIndex, X_ERROR, "xf86MapPciMem: cannot open /dev/mem\n");
      return nullptr;
    }
  }
  const unsigned long page = static_cast<unsigned long>(xf86getpagesize());
  const unsigned long start = base & ~(page - 1);
  const size_t length = ((base - start) + size + page - 1) & ~(page - 1);
  const int protection = (flags & VIDMEM_READONLY) ? PROT_READ : PROT_READ | PROT_WRITE;
  void* mapped = xf86mmap(nullptr, length, protection, MAP_SHARED, s->mem_fd,
                          static_cast<off_t>(start));
  if (mapped == MAP_FAILED) {
    xf86DrvMsg(scrnIndex, X_ERROR, "xf86MapPciMem: cannot map 0x%lx bytes at 0x%lx\n", size,
               base);
    return nullptr;
  }
  void* user = static_cast<char*>(mapped) + (base - start);
  s->video_mappings.push_back({user, mapped, length});
  return user;
}

void xf86UnMapVidMem(int scrnIndex, pointer base, unsigned long) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr) return;
  for (auto it = s->video_mappings.begin(); it != s->video_mappings.end(); ++it) {
    if (it->user == base) {
      xf86munmap(it->mapped, it->length);
      s->video_mappings.erase(it);
      return;
    }
  }
  xf86DrvMsg(scrnIndex, X_WARNING, "xf86UnMapVidMem: %p was not mapped\n", base);
}

}  // extern "C"
