#include "platform/board/chip_dma.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/board/fail.h"

namespace orvsim {

namespace {

constexpr uint32_t kStatusRegisters[] = {kDmaRegStatusA, kDmaRegStatusB, kDmaRegTagReached,
                                         kDmaRegStatus, kDmaRegEngineStatus};

}  // namespace

DmaEngine::DmaEngine(Board& board) : board_(board) {
  for (uint32_t reg : kStatusRegisters) {
    board_.SetReadHook(reg, 4, [this, reg](Board& b, RegAccess, uint32_t stored) -> uint32_t {
      StatusRead();
      const bool idle = !Busy();
      const uint16_t device = b.Config().device_id;
      switch (reg) {
        case kDmaRegStatusA:
          if (device == kDeviceKestrionNext3) return stored;  // its flush register
          if (device == kDeviceKestrionNext2) return idle ? kNewerStatusIdle : 0;
          return idle ? kOlderStatusIdle : kOlderStatusBusy;
        case kDmaRegStatusB:
          if (device == kDeviceKestrionNext3) return idle ? kNewerStatusIdle : 0;
          return stored;
        case kDmaRegStatus:
          return (fifo_room_held_ ? 0 : kDmaStatusFifoRoom) | (idle ? 0 : kDmaStatusActive);
        case kDmaRegEngineStatus:
          return idle ? kEngineStatusIdle : 0;
        default:
          return b.Peek(kDmaRegTagReached, 4);  // may have moved just now
      }
    });
  }
  board_.SetWriteHook(kDmaRegStart, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    fetch_ = value & ~3u;
    return value;
  });
  board_.SetWriteHook(kDmaRegEnd, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    Start(value);
    return value;
  });
  board_.SetWriteHook(kDmaRegSyncTag, 4, [this](Board& b, RegAccess, uint32_t value, uint32_t) {
    // A tag written directly is reached once the ranges before it have run.
    if (Busy()) {
      pending_.push_back(Range{0, 0, 0, true, value});
    } else {
      b.Poke(kDmaRegTagReached, 4, value);
    }
    return value;
  });
}

DmaEngine::~DmaEngine() {
  for (uint32_t reg : kStatusRegisters) board_.ClearHooks(reg);
  board_.ClearHooks(kDmaRegStart);
  board_.ClearHooks(kDmaRegEnd);
  board_.ClearHooks(kDmaRegSyncTag);
}

uint32_t DmaEngine::ReachedTag() const { return board_.Peek(kDmaRegTagReached, 4); }
uint32_t DmaEngine::BufferCounter() const { return board_.Peek(kDmaRegBufferCounter, 4); }

void DmaEngine::Start(uint32_t endWord) {
  const uint32_t end = endWord & ~3u;
  Execute(fetch_, end, endWord & 3u);
  fetch_ = end;
}

void DmaEngine::Execute(uint32_t start, uint32_t end, unsigned busType) {
  const bool wasIdle = !Busy();
  pending_.push_back(Range{start, end, busType, false, 0});
  if (latency_ == 0) {
    RunPending();
  } else if (wasIdle) {
    reads_left_ = latency_;
  }
}

void DmaEngine::StatusRead() {
  if (pending_.empty()) return;
  if (reads_left_ > 0) --reads_left_;
  if (reads_left_ == 0) RunPending();
}

void DmaEngine::RunPending() {
  while (!pending_.empty()) {
    const Range range = pending_.front();
    pending_.pop_front();
    if (range.tagOnly) {
      board_.Poke(kDmaRegTagReached, 4, range.tag);
    } else {
      Run(range);
    }
  }
  reads_left_ = 0;
}

const uint8_t* DmaEngine::Fetch(uint32_t bus, unsigned busType, uint32_t length) {
  switch (busType) {
    case kBusLocal:
      if (bus <= board_.LocalMemorySize() && length <= board_.LocalMemorySize() - bus)
        return board_.LocalMemory() + bus;
      break;
    case kBusAgp:
    case kBusPciLocked:
      if (system_) {
        if (const uint8_t* host = system_(bus, length)) return host;
      }
      break;
    default:
      Fail("DMA engine: board %u '%s': bus type %u of range at 0x%08" PRIX32
           " names no memory space",
           board_.Index(), board_.Name().c_str(), busType, bus);
  }
  Fail("DMA engine: board %u '%s': fetch of %" PRIu32 " bytes at bus address 0x%08" PRIX32
       " (bus type %u) reaches no memory",
       board_.Index(), board_.Name().c_str(), length, bus, busType);
}

void DmaEngine::Run(const Range& range) {
  if (range.end < range.start) {
    Fail("DMA engine: board %u '%s': range end 0x%08" PRIX32 " lies below its start 0x%08" PRIX32,
         board_.Index(), board_.Name().c_str(), range.end, range.start);
  }
  ++ranges_run_;
  const uint32_t length = range.end - range.start;
  if (length == 0) return;
  const uint8_t* bytes = Fetch(range.start, range.bus, length);
  for (uint32_t at = 0; at < length; at += 4) {
    uint32_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    ++words_fetched_;
    Word(word);
  }
}

void DmaEngine::Word(uint32_t word) {
  if (header_left_ == 0 && repeat_left_ > 0) {
    // A repeated header takes no word of its own: this word is its first data.
    --repeat_left_;
    header_ = repeat_header_;
    header_left_ = 4;
    padded_ = false;
    SkipPadding();
  }
  if (header_left_ == 0) {
    header_ = word;
    header_left_ = 4;
    padded_ = false;
  } else {
    const uint8_t index = static_cast<uint8_t>(header_);
    header_ >>= 8;
    --header_left_;
    ApplyIndex(index, word);
    if (index == kDmaIndexRepeatCount) header_left_ = 0;
  }
  SkipPadding();
}

void DmaEngine::SkipPadding() {
  // Padding indexes take no data word; a header that is all padding is
  // followed directly by the next header.
  while (header_left_ > 0 && static_cast<uint8_t>(header_) == kDmaIndexPad) {
    header_ >>= 8;
    --header_left_;
    padded_ = true;
  }
  if (header_left_ > 0 && padded_) {
    char text[96];
    std::snprintf(text, sizeof text, "register index 0x%02X after a padding index",
                  static_cast<unsigned>(header_ & 0xFF));
    decode_errors_.emplace_back(text);
    padded_ = false;
  }
}

void DmaEngine::ApplyIndex(uint8_t index, uint32_t data) {
  if (index == kDmaIndexNoWrite) return;
  if (index == kDmaIndexRepeatCount) {
    repeat_left_ = data;
    return;
  }
  if (index == kDmaIndexRepeatHeader) repeat_header_ = data;
  const uint32_t reg = kDmaRegWindow + 4u * index;
  writes_.push_back(RegWrite{reg, data});
  board_.Poke(reg, 4, data);
  if (reg == kDmaRegSyncTag) board_.Poke(kDmaRegTagReached, 4, data);
  if (sink_) sink_(reg, data);
}

}  // namespace orvsim
