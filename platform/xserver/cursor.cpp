// The cursor layer: a screen's cursor-information record, the choice
// between the driver's hardware cursor and the software cursor, two-colour
// images realised in the layout the record's flags ask for, and the
// callbacks in the layer's order (hide, load, colours, position, show).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/xserver/server_state.h"

namespace xstub {
namespace detail {
namespace {

[[noreturn]] void Die(const char* why) {
  fprintf(stderr, "xserver stand-in: %s\n", why);
  abort();
}

bool BitAt(const unsigned char* plane, size_t rowBytes, int x, int y) {
  return (plane[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) / 8] >> (x % 8)) & 1;
}

// Bits per unit of the source/mask interleave; 0 when not interleaved.
int InterleaveUnit(int flags) {
  if (flags & HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_1) return 1;
  if (flags & HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_8) return 8;
  if (flags & HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_16) return 16;
  if (flags & HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_32) return 32;
  if (flags & HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64) return 64;
  return 0;
}

// The two-colour image as the record's flags lay it out: MaxHeight rows of
// MaxWidth pixels, two bits each (source and mask).
std::vector<unsigned char> Realize(const xf86CursorInfoRec& info, const CursorBits& bits) {
  const int w = info.MaxWidth;
  const int h = info.MaxHeight;
  std::vector<unsigned char> out((2 * static_cast<size_t>(w) * static_cast<size_t>(h) + 7) / 8);
  const int unit = InterleaveUnit(info.Flags);
  const size_t rowBytes = (static_cast<size_t>(bits.width) + 31) / 32 * 4;
  const bool msbFirst = (info.Flags & HARDWARE_CURSOR_BIT_ORDER_MSBFIRST) != 0;
  const bool swap = (info.Flags & HARDWARE_CURSOR_SWAP_SOURCE_AND_MASK) != 0;
  auto put = [&](size_t bit) {
    const int shift = msbFirst ? 7 - static_cast<int>(bit % 8) : static_cast<int>(bit % 8);
    out[bit / 8] |= static_cast<unsigned char>(1u << shift);
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool inside = x < bits.width && y < bits.height;
      bool mask = inside && BitAt(bits.mask, rowBytes, x, y);
      bool source = inside && BitAt(bits.source, rowBytes, x, y);
      if (info.Flags & HARDWARE_CURSOR_AND_SOURCE_WITH_MASK) source = source && mask;
      if (info.Flags & HARDWARE_CURSOR_INVERT_MASK) mask = !mask;
      const bool planes[2] = {swap ? mask : source, swap ? source : mask};
      for (int p = 0; p < 2; ++p) {
        if (!planes[p]) continue;
        size_t bit;
        if (unit == 0) {
          bit = static_cast<size_t>(p) * w * h + static_cast<size_t>(y) * w + x;
        } else {
          bit = static_cast<size_t>(y) * 2 * w + static_cast<size_t>(x / unit) * 2 * unit +
                static_cast<size_t>(p) * unit + x % unit;
        }
        put(bit);
      }
    }
  }
  return out;
}

int Colour(unsigned short r, unsigned short g, unsigned short b) {
  return ((r >> 8) << 16) | ((g >> 8) << 8) | (b >> 8);
}

}  // namespace
}  // namespace detail

TestCursor::TestCursor(int width, int height, int xhot, int yhot, bool argb) {
  bits_.width = static_cast<unsigned short>(width);
  bits_.height = static_cast<unsigned short>(height);
  bits_.xhot = static_cast<unsigned short>(xhot);
  bits_.yhot = static_cast<unsigned short>(yhot);
  bits_.refcnt = 1;
  source_.assign(RowBytes() * static_cast<size_t>(height), 0);
  mask_.assign(RowBytes() * static_cast<size_t>(height), 0);
  bits_.source = source_.data();
  bits_.mask = mask_.data();
  if (argb) {
    argb_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    bits_.argb = argb_.data();
  }
  cursor_.bits = &bits_;
  cursor_.refcnt = 1;
  SetColours(0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0);
}

void TestCursor::SetSource(int x, int y, bool on) {
  unsigned char& byte = source_[static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) / 8];
  byte = on ? byte | (1u << (x % 8)) : byte & ~(1u << (x % 8));
}

void TestCursor::SetMask(int x, int y, bool on) {
  unsigned char& byte = mask_[static_cast<size_t>(y) * RowBytes() + static_cast<size_t>(x) / 8];
  byte = on ? byte | (1u << (x % 8)) : byte & ~(1u << (x % 8));
}

void TestCursor::SetArgb(int x, int y, CARD32 pixel) {
  argb_.at(static_cast<size_t>(y) * bits_.width + static_cast<size_t>(x)) = pixel;
}

void TestCursor::SetColours(CARD16 fr, CARD16 fg, CARD16 fb, CARD16 br, CARD16 bg, CARD16 bb) {
  cursor_.foreRed = fr;
  cursor_.foreGreen = fg;
  cursor_.foreBlue = fb;
  cursor_.backRed = br;
  cursor_.backGreen = bg;
  cursor_.backBlue = bb;
}

bool XServer::DisplayCursor(int scrnIndex, CursorPtr cursor, int x, int y) {
  detail::ServerState& s = *state_;
  if (scrnIndex < 0 || scrnIndex >= static_cast<int>(s.table.size()) || cursor == nullptr)
    detail::Die("DisplayCursor on a screen that does not exist");
  ScrnInfoPtr info = s.table[static_cast<size_t>(scrnIndex)];
  detail::CursorScreen& cs = s.dix.cursors[scrnIndex];
  xf86CursorInfoPtr r = cs.info;
  const CursorBits& bits = *cursor->bits;
  bool hardware = false;
  if (r != nullptr && bits.width <= r->MaxWidth && bits.height <= r->MaxHeight) {
    if (bits.argb != nullptr) {
      if (r->UseHWCursorARGB != nullptr && r->LoadCursorARGB != nullptr) {
        cs.calls.push_back("UseHWCursorARGB");
        hardware = r->UseHWCursorARGB(info->pScreen, cursor) != FALSE;
      }
    } else if (r->UseHWCursor != nullptr) {
      cs.calls.push_back("UseHWCursor");
      hardware = r->UseHWCursor(info->pScreen, cursor) != FALSE;
    } else {
      hardware = true;
    }
  }
  cs.current = cursor;
  if (!hardware) {
    if (cs.hardware) {
      cs.calls.push_back("HideCursor");
      r->HideCursor(info);
    }
    cs.hardware = false;
    return false;
  }
  cs.hardware = true;
  cs.calls.push_back("HideCursor");
  r->HideCursor(info);
  if (bits.argb != nullptr) {
    cs.calls.push_back("LoadCursorARGB");
    r->LoadCursorARGB(info, cursor);
  } else {
    cs.calls.push_back("LoadCursorImage");
    if (r->RealizeCursor != nullptr) {
      unsigned char* image = r->RealizeCursor(r, cursor);
      r->LoadCursorImage(info, image);
      xfree(image);
    } else {
      std::vector<unsigned char> image = detail::Realize(*r, bits);
      r->LoadCursorImage(info, image.data());
    }
    if (r->SetCursorColors != nullptr) {
      cs.calls.push_back("SetCursorColors");
      r->SetCursorColors(info, detail::Colour(cursor->backRed, cursor->backGreen, cursor->backBlue),
                         detail::Colour(cursor->foreRed, cursor->foreGreen, cursor->foreBlue));
    }
  }
  cs.calls.push_back("SetCursorPosition");
  r->SetCursorPosition(info, x - bits.xhot, y - bits.yhot);
  cs.calls.push_back("ShowCursor");
  r->ShowCursor(info);
  return true;
}

void XServer::MoveCursor(int scrnIndex, int x, int y) {
  detail::ServerState& s = *state_;
  auto it = s.dix.cursors.find(scrnIndex);
  if (it == s.dix.cursors.end() || !it->second.hardware || it->second.info == nullptr) return;
  detail::CursorScreen& cs = it->second;
  cs.calls.push_back("SetCursorPosition");
  cs.info->SetCursorPosition(s.table[static_cast<size_t>(scrnIndex)], x - cs.current->bits->xhot,
                             y - cs.current->bits->yhot);
}

const std::vector<std::string>& XServer::CursorCalls(int scrnIndex) {
  return state_->dix.cursors[scrnIndex].calls;
}

void XServer::ClearCursorCalls(int scrnIndex) {
  auto it = state_->dix.cursors.find(scrnIndex);
  if (it != state_->dix.cursors.end()) it->second.calls.clear();
}

xf86CursorInfoPtr XServer::CursorInfo(int scrnIndex) {
  auto it = state_->dix.cursors.find(scrnIndex);
  return it == state_->dix.cursors.end() ? nullptr : it->second.info;
}

}  // namespace xstub

extern "C" {

xf86CursorInfoPtr xf86CreateCursorInfoRec(void) {
  return static_cast<xf86CursorInfoPtr>(xcalloc(1, sizeof(xf86CursorInfoRec)));
}

void xf86DestroyCursorInfoRec(xf86CursorInfoPtr info) {
  if (info == nullptr) return;
  if (xstub::detail::ServerState* s = xstub::detail::CurrentServer()) {
    for (auto& [index, cs] : s->dix.cursors) {
      if (cs.info != info) continue;
      cs.info = nullptr;
      cs.hardware = false;
    }
  }
  xfree(info);
}

Bool xf86InitCursor(ScreenPtr screen, xf86CursorInfoPtr info) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || screen == nullptr || info == nullptr) return FALSE;
  if (info->MaxWidth <= 0 || info->MaxHeight <= 0 || info->SetCursorPosition == nullptr ||
      info->LoadCursorImage == nullptr || info->HideCursor == nullptr ||
      info->ShowCursor == nullptr)
    return FALSE;
  const int index = screen->myNum;
  if (index < 0 || index >= static_cast<int>(s->table.size())) return FALSE;
  xstub::detail::CursorScreen& cs = s->dix.cursors[index];
  if (cs.info != nullptr) return FALSE;
  cs.info = info;
  info->pScrn = s->table[static_cast<size_t>(index)];
  return TRUE;
}

}  // extern "C"
