// Linked into every test program of the sanitizer build (orv_test).
//
// A test program starts once for every test case, and at its exit the leak
// checker reads all of the program's writable data for pointers: most of it
// is the sanitizer runtime's own tables, about 10 MB of zeroes the program
// never touches. Read one page at a time, that is some 2,500 page faults in
// every test process, a third of its start-up and exit cost on a virtual
// machine, where each fault is a round trip through the hypervisor. One
// populate call per segment at start-up maps the same pages (the kernel's
// zero page where nothing was written) without a fault each. What the
// leak checker reads, and so what it finds, is unchanged; a kernel without
// the call refuses it and the pages fault in as before.
#include <link.h>
#include <sys/mman.h>

#include <cstdint>

namespace {

// Linux 5.14 and later; the C library's headers may predate it.
constexpr int kMadvisePopulateRead = 22;

int PrefaultWritableSegments(dl_phdr_info* info, size_t, void*) {
  constexpr uintptr_t kPage = 4096;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) == 0 || segment.p_memsz == 0) {
      continue;
    }
    const uintptr_t begin = (info->dlpi_addr + segment.p_vaddr) & ~(kPage - 1);
    const uintptr_t end = (info->dlpi_addr + segment.p_vaddr + segment.p_memsz + kPage - 1) & ~(kPage - 1);
    // Advice only: a refusal leaves the pages to fault in when read.
    (void)madvise(reinterpret_cast<void*>(begin), end - begin, kMadvisePopulateRead);
  }
  return 0;
}

__attribute__((constructor)) void PrefaultForLeakCheck() {
  dl_iterate_phdr(PrefaultWritableSegments, nullptr);
}

}  // namespace
