#include "platform/board/chip_dma.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/board/chip_interrupts.h"
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
      pending_.push_back(Range{0, 0, 0, true, value, false});
    } else {
      ReachTag(value);
    }
    (void)b;
    return value;
  });
}

DmaEngine::~DmaEngine() {
  for (uint32_t reg : kStatusRegisters) board_.ClearHooks(reg);
  board_.ClearHooks(kDmaRegStart);
  board_.ClearHooks(kDmaRegEnd);
  board_.ClearHooks(kDmaRegSyncTag);
}

void DmaEngine::Reset() {
  reads_left_ = 0;
  fetch_ = 0;
  pending_.clear();
  decoder_ = Decoder{};
  repeat_header_ = 0;
  paused_ = false;
  pause_ = Cursor{};
  start_words_ = 0;
  command_ = 0;
  collecting_ = false;
  body_.clear();
  writes_.clear();
  trace_.clear();
  records_dropped_ = 0;
  decode_errors_.clear();
  abandon_ = false;
  faults_.clear();
  words_fetched_ = 0;
  ranges_run_ = 0;
}

uint32_t DmaEngine::ReachedTag() const { return board_.Peek(kDmaRegTagReached, 4); }
uint32_t DmaEngine::BufferCounter() const { return board_.Peek(kDmaRegBufferCounter, 4); }

void DmaEngine::Start(uint32_t endWord) {
  const uint32_t end = endWord & ~3u;
  const unsigned bus = endWord & 3u;
  const bool wasIdle = !Busy();
  if (paused_) {
    // The end written while the engine waits at an event lets it go on.
    pending_.push_front(Range{0, end, bus, false, 0, true});
  } else {
    pending_.push_back(Range{fetch_, end, bus, false, 0, false});
  }
  fetch_ = end;
  if (latency_ == 0) {
    RunPending();
  } else if (wasIdle || paused_) {
    reads_left_ = latency_;
  }
}

void DmaEngine::Execute(uint32_t start, uint32_t end, unsigned busType) {
  if (end < start) {
    Fault("DMA engine: board %u '%s': range end 0x%08" PRIX32 " lies below its start 0x%08" PRIX32,
          board_.Index(), board_.Name().c_str(), end, start);
    return;
  }
  const bool wasIdle = !Busy();
  pending_.push_back(Range{start, end, busType, false, 0, false});
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
    if (paused_ && !range.resume) break;  // waits behind the event
    pending_.pop_front();
    if (range.tagOnly) {
      ReachTag(range.tag);
    } else {
      Run(range);
    }
  }
  reads_left_ = 0;
}

void DmaEngine::ReachTag(uint32_t tag) {
  board_.Poke(kDmaRegTagReached, 4, tag);
  Record(trace_, TraceEntry{TraceKind::kTag, tag, 0, 0});
  const uint32_t base = board_.Peek(kDmaRegSharedBase, 4);
  if (base != 0) {
    uint32_t reached = 0;
    WriteSystemWord(base + kDmaSharedTagOffset, tag, &reached);
  }
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
      Fault("DMA engine: board %u '%s': bus type %u of range at 0x%08" PRIX32
            " names no memory space",
            board_.Index(), board_.Name().c_str(), busType, bus);
      return nullptr;
  }
  Fault("DMA engine: board %u '%s': fetch of %" PRIu32 " bytes at bus address 0x%08" PRIX32
        " (bus type %u) reaches no memory",
        board_.Index(), board_.Name().c_str(), length, bus, busType);
  return nullptr;
}

void DmaEngine::Fault(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  char text[256];
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (faults_fatal_) Fail("%s", text);
  faults_.emplace_back(text);
  abandon_ = true;
}

void DmaEngine::WriteSystemWord(uint32_t bus, uint32_t value, uint32_t* reached) {
  *reached = 0;
  uint8_t* host = system_ ? system_(bus, 4) : nullptr;
  if (host == nullptr) return;
  std::memcpy(host, &value, sizeof value);
  *reached = bus;
}

void DmaEngine::Run(const Range& range) {
  ++ranges_run_;
  start_words_ = 0;
  abandon_ = false;
  if (range.resume) {
    Cursor cursor = pause_;
    paused_ = false;
    Record(trace_, TraceEntry{TraceKind::kResume, cursor.pos, range.end, cursor.bus});
    RunTo(cursor, range.end);
  } else {
    Record(trace_, TraceEntry{TraceKind::kRange, range.start, range.end, range.bus});
    Cursor cursor{range.start, range.bus, 0, false};
    RunTo(cursor, range.end);
  }
  // After a fault the engine starts the next range on a fresh header.
  if (abandon_) decoder_ = Decoder{};
}

void DmaEngine::RunTo(Cursor& cursor, uint32_t end) {
  while (cursor.pos != end && !paused_ && !abandon_) {
    const uint8_t* at = Fetch(cursor.pos, cursor.bus, 4);
    if (at == nullptr) return;
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    cursor.pos += 4;
    ++words_fetched_;
    if (++start_words_ > max_words_) {
      Fault("DMA engine: board %u '%s': more than %" PRIu64
            " words fetched for one start without reaching its end 0x%08" PRIX32,
            board_.Index(), board_.Name().c_str(), max_words_, end);
      return;
    }
    Word(word, cursor);
  }
}

void DmaEngine::RunNested(uint32_t start, uint32_t end, unsigned bus, unsigned depth,
                          bool counted) {
  if (end < start) {
    Fault("DMA engine: board %u '%s': executed range end 0x%08" PRIX32
          " lies below its start 0x%08" PRIX32,
          board_.Index(), board_.Name().c_str(), end, start);
    return;
  }
  if (depth > 1) {
    Fault("DMA engine: board %u '%s': an execute packet inside an executed range",
          board_.Index(), board_.Name().c_str());
    return;
  }
  Record(trace_, TraceEntry{TraceKind::kNested, start, end, bus});
  const Decoder outer = decoder_;
  decoder_ = Decoder{};
  Cursor cursor{start, bus, depth, counted};
  RunTo(cursor, end);
  if (!abandon_ && (decoder_.left != 0 || decoder_.countLeft != 0 || decoder_.bodyLeft != 0))
    decode_errors_.emplace_back("an executed range ends inside a packet");
  collecting_ = false;
  decoder_ = outer;
}

void DmaEngine::StartHeader(uint32_t header) {
  Decoder& d = decoder_;
  d.header = header;
  d.left = 4;
  d.padded = false;
  d.counterPending = false;
  Record(trace_, TraceEntry{TraceKind::kGroup, header, 0, 0});
}

void DmaEngine::Word(uint32_t word, Cursor& cursor) {
  if (cursor.counted) {
    CountedWord(word, cursor);
    return;
  }
  Decoder& d = decoder_;
  if (d.left == 0 && d.repeatLeft > 0) {
    // A repeated header takes no word of its own: this word is its first data.
    --d.repeatLeft;
    StartHeader(repeat_header_);
    SkipPadding();
  }
  if (d.left == 0) {
    StartHeader(word);
  } else {
    const uint8_t index = static_cast<uint8_t>(d.header);
    d.header >>= 8;
    --d.left;
    ApplyIndex(index, word, cursor);
    if (index == kDmaIndexRepeatCount) decoder_.left = 0;
  }
  SkipPadding();
}

// Words of a command word's body: bits 0-15 + 1, but primitive commands
// (bits 24 and 25) by their kind in bits 26-28.
uint32_t CommandBodyWords(uint32_t word) {
  const uint32_t n = (word & kDmaCommandLengthMask) + 1;
  if ((word & kDmaPrimitiveCommand) != kDmaPrimitiveCommand) return n;
  switch ((word >> 26) & 7) {
    case 1:
      return (n + 1) / 2;
    case 2:
      return n;
    default:
      return 2;
  }
}

void DmaEngine::CountedWord(uint32_t word, Cursor& cursor) {
  Decoder& d = decoder_;
  if (d.bodyLeft > 0) {
    // A command word's body: its type's decoder reads it.
    --d.bodyLeft;
    if (collecting_) {
      body_.push_back(word);
      if (d.bodyLeft == 0) {
        collecting_ = false;
        std::string error = decoders_[command_ >> 24](command_, body_);
        if (!error.empty()) decode_errors_.push_back(std::move(error));
      }
    }
    return;
  }
  if (d.countLeft == 0) {
    if ((word & kDmaCommandTypeMask) != 0) {
      Record(trace_, TraceEntry{TraceKind::kCommand, word, cursor.pos - 4, cursor.bus});
      d.bodyLeft = CommandBodyWords(word);
      collecting_ = static_cast<bool>(decoders_[word >> 24]);
      command_ = word;
      command_bus_ = cursor.bus;
      body_.clear();
    } else {
      d.countLeft = uint64_t{word} + 1;  // the count n: n + 1 words of groups follow
    }
    return;
  }
  --d.countLeft;
  if (d.left == 0) {
    StartHeader(word);
  } else {
    const uint8_t index = static_cast<uint8_t>(d.header);
    d.header >>= 8;
    --d.left;
    ApplyCountedIndex(index, word, cursor);
  }
  SkipPadding();
  if (d.countLeft == 0 && d.left != 0) {
    char text[96];
    std::snprintf(text, sizeof text, "a count ends inside a group, before register index 0x%02X",
                  static_cast<unsigned>(d.header & 0xFF));
    decode_errors_.emplace_back(text);
    d.left = 0;  // the next word is a count again
  }
}

void DmaEngine::SkipPadding() {
  Decoder& d = decoder_;
  // Padding indexes take no data word; a header that is all padding is
  // followed directly by the next header.
  while (d.left > 0 && static_cast<uint8_t>(d.header) == kDmaIndexPad) {
    d.header >>= 8;
    --d.left;
    d.padded = true;
  }
  if (d.left > 0 && d.padded) {
    char text[96];
    std::snprintf(text, sizeof text, "register index 0x%02X after a padding index",
                  static_cast<unsigned>(d.header & 0xFF));
    decode_errors_.emplace_back(text);
    d.padded = false;
  }
}

void DmaEngine::ApplyCountedIndex(uint8_t index, uint32_t data, Cursor& cursor) {
  switch (index) {
    case kDmaIndexNoWrite:
      return;
    case kDmaIndexSyncTag:
    case kDmaIndexCounter:
    case kDmaIndexCounterAddress:
      ApplyIndex(index, data, cursor);  // as in the primary stream
      return;
    default:
      break;
  }
  // Every other index is a plain register write here: the primary stream's
  // repeat, event, jump and execute indexes have no meaning in this grammar.
  const uint32_t reg = kDmaRegWindow + 4u * index;
  Record(writes_, RegWrite{reg, data});
  board_.Poke(reg, 4, data);
  Sink(reg, data);
}

void DmaEngine::ApplyIndex(uint8_t index, uint32_t data, Cursor& cursor) {
  if (index == kDmaIndexNoWrite) return;
  if (index == kDmaIndexRepeatCount) {
    decoder_.repeatLeft = data;
    return;
  }
  if (index == kDmaIndexRepeatHeader) repeat_header_ = data;
  const uint32_t reg = kDmaRegWindow + 4u * index;
  Record(writes_, RegWrite{reg, data});
  board_.Poke(reg, 4, data);
  switch (index) {
    case kDmaIndexSyncTag:
      ReachTag(data);
      break;
    case kDmaIndexCounter:
      decoder_.counterPending = true;
      decoder_.counter = data;
      break;
    case kDmaIndexCounterAddress:
      if (decoder_.counterPending) {
        uint32_t reached = 0;
        WriteSystemWord(data & ~3u, decoder_.counter, &reached);
        Record(trace_, TraceEntry{TraceKind::kCounter, decoder_.counter, reached, 0});
        decoder_.counterPending = false;
      }
      break;
    case kDmaIndexJump:
      Record(trace_, TraceEntry{TraceKind::kJump, data & ~3u, 0, data & 3u});
      cursor.pos = data & ~3u;
      cursor.bus = data & 3u;
      break;
    case kDmaIndexExecStart:
      decoder_.execStart = data;
      break;
    case kDmaIndexExecEnd:
      RunNested(decoder_.execStart & ~3u, data & ~3u, data & 3u, cursor.depth + 1,
                (decoder_.execStart & 3u) == kDmaExecCounted);
      break;
    case kDmaIndexEvent:
      if (cursor.depth != 0) {
        Fault("DMA engine: board %u '%s': an event packet inside an executed range",
              board_.Index(), board_.Name().c_str());
        break;
      }
      Record(trace_, TraceEntry{TraceKind::kEvent, cursor.pos, 0, cursor.bus});
      paused_ = true;
      pause_ = cursor;
      if (interrupts_ != nullptr) interrupts_->Raise(kIrqEngine);
      break;
    default:
      break;
  }
  Sink(reg, data);
}

void DmaEngine::Sink(uint32_t reg, uint32_t data) {
  if (sink_) sink_(reg, data);
  for (const auto& [id, sink] : more_sinks_) sink(reg, data);
}

unsigned DmaEngine::AddPacketWriteSink(PacketWriteSink sink) {
  const unsigned id = next_sink_id_++;
  more_sinks_.emplace_back(id, std::move(sink));
  return id;
}

void DmaEngine::RemovePacketWriteSink(unsigned id) {
  for (auto it = more_sinks_.begin(); it != more_sinks_.end(); ++it) {
    if (it->first == id) {
      more_sinks_.erase(it);
      return;
    }
  }
}

}  // namespace orvsim
