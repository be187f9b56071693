// Memory-mapped access. Most addresses are plain memory (the frame buffer,
// buffers of an endpoint); an address inside a board's register window,
// mapped through /dev/mem, goes to the board so that its hooks, access log,
// clock and watchdog see the access.
#include <stdio.h>
#include <stdlib.h>

#include "platform/board/board.h"
#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

namespace xstub::detail {
namespace {

struct RegWindow {
  uintptr_t begin;
  uintptr_t size;
  orvsim::Board* board;
  uint32_t register_offset;
  unsigned references;
};

// A handful of boards with a mapping or two each: a short linear table keeps
// the check before a plain access to a compare per window.
constexpr int kMaxWindows = 16;
RegWindow g_windows[kMaxWindows];
int g_window_count = 0;

template <typename T>
inline T Read(volatile void* base, uint32_t offset) {
  uintptr_t address = reinterpret_cast<uintptr_t>(base) + offset;
  for (int i = 0; i < g_window_count; ++i) {
    const RegWindow& w = g_windows[i];
    if (address - w.begin < w.size) {
      return static_cast<T>(w.board->RegRead(
          w.register_offset + static_cast<uint32_t>(address - w.begin), sizeof(T)));
    }
  }
  return *reinterpret_cast<volatile T*>(address);
}

template <typename T>
inline void Write(volatile void* base, uint32_t offset, T value) {
  uintptr_t address = reinterpret_cast<uintptr_t>(base) + offset;
  for (int i = 0; i < g_window_count; ++i) {
    const RegWindow& w = g_windows[i];
    if (address - w.begin < w.size) {
      w.board->RegWrite(w.register_offset + static_cast<uint32_t>(address - w.begin),
                        sizeof(T), value);
      return;
    }
  }
  *reinterpret_cast<volatile T*>(address) = value;
}

}  // namespace

void AddRegisterWindow(void* host, size_t length, orvsim::Board* board,
                       uint32_t register_offset) {
  uintptr_t begin = reinterpret_cast<uintptr_t>(host);
  for (int i = 0; i < g_window_count; ++i) {
    RegWindow& w = g_windows[i];
    if (w.begin == begin && w.board == board) {
      if (length > w.size) w.size = length;
      ++w.references;
      return;
    }
  }
  if (g_window_count == kMaxWindows) {
    fprintf(stderr, "xserver stand-in: more than %d register mappings at once\n",
            kMaxWindows);
    abort();
  }
  g_windows[g_window_count++] = RegWindow{begin, length, board, register_offset, 1};
}

void RemoveRegisterWindow(void* host) {
  uintptr_t begin = reinterpret_cast<uintptr_t>(host);
  for (int i = 0; i < g_window_count; ++i) {
    if (g_windows[i].begin != begin) continue;
    if (--g_windows[i].references == 0) {
      g_windows[i] = g_windows[--g_window_count];
    }
    return;
  }
}

void ClearRegisterWindows() { g_window_count = 0; }

size_t RegisterWindowCount() { return static_cast<size_t>(g_window_count); }

}  // namespace xstub::detail

using xstub::detail::Read;
using xstub::detail::Write;

extern "C" {

CARD8 xf86ReadMmio8(volatile void* base, uint32_t offset) {
  return Read<CARD8>(base, offset);
}
CARD16 xf86ReadMmio16(volatile void* base, uint32_t offset) {
  return Read<CARD16>(base, offset);
}
CARD32 xf86ReadMmio32(volatile void* base, uint32_t offset) {
  return Read<CARD32>(base, offset);
}
void xf86WriteMmio8(volatile void* base, uint32_t offset, CARD8 value) {
  Write<CARD8>(base, offset, value);
}
void xf86WriteMmio16(volatile void* base, uint32_t offset, CARD16 value) {
  Write<CARD16>(base, offset, value);
}
void xf86WriteMmio32(volatile void* base, uint32_t offset, CARD32 value) {
  Write<CARD32>(base, offset, value);
}

}  // extern "C"
