#include "platform/board/chip_aperture.h"

#include <unistd.h>

#include <algorithm>

#include "platform/board/chip_2d.h"

namespace orvsim {

namespace {

uint64_t RoundUp(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }
uint64_t PowerOfTwoAtLeast(uint64_t v) {
  uint64_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

}  // namespace

uint64_t ApertureSlot::Extent() const {
  const int bytes = BytesPerPixelOfFormat((desc1 >> 24) & 0x3F);
  const uint32_t layout = Layout();
  if (layout == 0 || bytes <= 0) return 0;
  // Rows as the processor sees them through the window: 8192 pixels with
  // the fixed-pitch bit, else the width rounded up to 32 (layout 1) or to a
  // power of two of at least 32 (the tiled layouts), as wide as the engine
  // lays the rows out.
  const uint64_t width = desc1 & 0x3FFF;
  const uint64_t pixels = (desc1 & 0x2000) != 0 ? 8192
                          : layout == 1         ? RoundUp(width, 32)
                          : layout <= 5         ? PowerOfTwoAtLeast(std::max<uint64_t>(width, 32))
                                                : width;
  // Every used line of every slice; the rows past the height that the
  // layouts round to stay outside, so a window never reaches past what the
  // driver set aside for it.
  const uint64_t lines = uint64_t{desc2 & 0x3FFF} * std::max<uint32_t>((desc2 >> 16) & 0xFFF, 1);
  return pixels * static_cast<uint64_t>(bytes) * lines;
}

ApertureSlot ApertureSlots::Slot(unsigned index) const {
  const uint32_t reg = kApertureSlotStride * index;
  ApertureSlot slot;
  slot.key = board_.Peek(reg, 4);
  slot.desc0 = board_.Peek(reg + 4, 4);
  slot.desc1 = board_.Peek(reg + 8, 4);
  slot.desc2 = board_.Peek(reg + 12, 4);
  return slot;
}

std::vector<ApertureSlot> ApertureSlots::Enabled() const {
  std::vector<ApertureSlot> slots;
  for (unsigned i = 0; i < kApertureSlotCount; ++i) {
    ApertureSlot slot = Slot(i);
    if (slot.Enabled()) slots.push_back(slot);
  }
  return slots;
}

bool ApertureSlots::Resolve(uint32_t apertureOffset, uint32_t* localAddress) const {
  const ApertureSlot* best = nullptr;
  const std::vector<ApertureSlot> slots = Enabled();
  for (const ApertureSlot& slot : slots) {
    if (slot.Offset() <= apertureOffset && (best == nullptr || slot.Offset() > best->Offset())) {
      best = &slot;
    }
  }
  if (best == nullptr || best->MemoryBits() != 0) return false;
  *localAddress = best->Address() + (apertureOffset - best->Offset());
  return true;
}

ApertureWindows::ApertureWindows(Board& board) : board_(board) {
  // The chip decodes a window from its slot's current words: a write of any
  // of them (key or descriptor, in whatever order the slot is programmed)
  // moves the windows.
  for (unsigned i = 0; i < kApertureSlotCount * kApertureSlotStride / 4; ++i) {
    const uint32_t word = 4 * i;
    board_.SetWriteHook(word, 4, [this, word](Board& b, RegAccess access, uint32_t value,
                                              uint32_t /*stored*/) {
      // Store the new word first, so the windows follow it.
      const unsigned shift = 8 * (access.offset - word);
      const uint32_t mask = access.width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * access.width)) - 1);
      const uint32_t whole = (b.Peek(word, 4) & ~(mask << shift)) | ((value & mask) << shift);
      b.Poke(word, 4, whole);
      if (!held_) Apply();
      return value;
    });
  }
  Apply();
}

ApertureWindows::~ApertureWindows() {
  for (unsigned i = 0; i < kApertureSlotCount * kApertureSlotStride / 4; ++i) board_.ClearHooks(4 * i);
  board_.UnmapMemoryWindows();
}

void ApertureWindows::Apply() {
  bool same = applied_;
  for (unsigned i = 0; i < kApertureSlotCount * kApertureSlotStride / 4; ++i) {
    const uint32_t word = board_.Peek(4 * i, 4);
    if (word != words_[i]) {
      words_[i] = word;
      same = false;
    }
  }
  if (same) return;
  std::vector<Window>& windows = windows_;
  std::vector<ApertureSlot>& slots = slots_;
  windows.clear();
  slots.clear();
  for (unsigned i = 0; i < kApertureSlotCount; ++i) {
    const uint32_t* w = words_ + 4 * i;
    const ApertureSlot slot{w[0], w[1], w[2], w[3]};
    if (slot.Enabled()) slots.push_back(slot);
  }
  // Slots of one offset keep their slot order: the first of them is the
  // one the chip decodes (as Resolve picks it), and the others show
  // nothing. A driver that moves windows between slots writes a slot's key
  // while the slot before still holds the same window: the view stays as
  // it was until the move is done.
  std::stable_sort(slots.begin(), slots.end(),
                   [](const ApertureSlot& a, const ApertureSlot& b) { return a.Offset() < b.Offset(); });
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t frameBufferEnd = board_.MemorySize();
  const uint64_t localEnd = board_.LocalMemorySize();
  for (size_t i = 0; i < slots.size(); ++i) {
    const ApertureSlot& slot = slots[i];
    if (i > 0 && slots[i - 1].Offset() == slot.Offset()) continue;  // hidden by an earlier slot
    if (slot.MemoryBits() != 0) continue;  // not a window onto local memory
    const uint64_t offset = slot.Offset();
    const uint64_t local = slot.Address();
    // A window onto an address inside a page is a copy the board compares
    // at every register access, so only a surface with a size gets one; a
    // plain buffer's window (reaching on to the next key) keeps the plain
    // view there.
    if (offset % page != 0 || (local % page != 0 && slot.Extent() == 0)) continue;
    if (offset >= frameBufferEnd || local >= localEnd) continue;
    size_t next = i + 1;
    while (next < slots.size() && slots[next].Offset() == offset) ++next;
    uint64_t end = next < slots.size() ? slots[next].Offset() : frameBufferEnd;
    if (end > frameBufferEnd) end = frameBufferEnd;
    // A surface with a pitch shows no further than its own size: the
    // frame buffer after it keeps its plain view.
    const uint64_t extent = slot.Extent();
    if (extent != 0) {
      const uint64_t surfaceEnd = offset + (extent + page - 1) / page * page;
      if (surfaceEnd < end) end = surfaceEnd;
    }
    uint64_t length = end > offset ? end - offset : 0;
    if (length > localEnd - local) length = localEnd - local;
    length -= length % page;
    if (length != 0) windows.push_back(Window{offset, local, length});
  }
  if (applied_ && windows == mapped_) return;
  if (!applied_) {
    board_.UnmapMemoryWindows();
    mapped_.clear();
  }
  // Windows of one list never overlap, so a window both lists hold stays
  // mapped while the others go and come.
  auto holds = [](const std::vector<Window>& list, const Window& w) {
    return std::find(list.begin(), list.end(), w) != list.end();
  };
  for (const Window& w : mapped_) {
    if (!holds(windows, w)) board_.UnmapMemoryWindow(w.offset, w.length);
  }
  for (const Window& w : windows) {
    if (!holds(mapped_, w)) board_.MapMemoryWindow(w.offset, w.local, w.length);
  }
  mapped_.swap(windows);
  applied_ = true;
}

}  // namespace orvsim
