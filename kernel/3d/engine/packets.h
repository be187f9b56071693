// Count-prefixed register-group packets of the 3D stream: a count word n,
// then n + 1 words of groups. A group is a header of four register indices
// (the first in the low byte, unused places padded with 0x21, which takes
// no data word) followed by one data word per index. A packet is built in
// a fixed buffer and copied into the stream in one reservation, so that it
// never straddles a buffer switch.
#pragma once

#include <stdint.h>
#include <string.h>

#include <bit>
#include <initializer_list>

#include "core/bm_buffer.h"
#include "core/regs/engine3d.h"

// The index that takes a data word and writes nothing.
inline constexpr uint8_t kDummyIndex = IndexOfReg(k3dRegPad);
inline constexpr uint32_t kMaxPacketWords = 96;

// Where the writers put packets: the stream itself, which reserves room
// packet by packet (switching buffers between packets, never inside one)...
struct StreamSink {
  BmBufferPool* stream;
  uint32_t* Take(uint32_t words) { return stream->Reserve(words); }
};
// ...or straight at a cursor, once the caller has checked that the current
// buffer holds the most the packets can take: every reservation would then
// have fitted without a switch, so the words land where they would anyway.
struct DirectSink {
  uint32_t* at;
  uint32_t* Take(uint32_t words) {
    uint32_t* p = at;
    // A buffer that holds words has a cursor: the writers' checks for no
    // room fold away.
    if (p == nullptr) __builtin_unreachable();
    at += words;
    return p;
  }
};

// Runs write(sink) straight at the stream's cursor when its buffer holds
// maxWords, else through the stream's reservations.
template <class Write>
inline void WriteBounded(BmBufferPool* stream, uint32_t maxWords, Write write) {
  if (stream->Fits(maxWords)) {
    DirectSink sink{stream->cursor};
    write(sink);
    stream->cursor = sink.at;
  } else {
    StreamSink sink{stream};
    write(sink);
  }
}

// Two stream words in one 8-byte store, the first at the lower address:
// the packets' words are written in order with as few stores as their
// sources allow.
static_assert(std::endian::native == std::endian::little);
inline void Put2(uint32_t* at, uint32_t first, uint32_t second) {
  const uint64_t pair = uint64_t{first} | uint64_t{second} << 32;
  memcpy(at, &pair, sizeof pair);
}

// A packet whose words are known where it is written (headers from
// PacketHeader), copied straight into the sink: count, then the words.
template <class Sink, class... W>
inline bool PutPacket(Sink& sink, W... words) {
  constexpr uint32_t n = sizeof...(W);
  uint32_t* at = sink.Take(n + 1);
  if (at == nullptr) return false;
  at[0] = n - 1;
  uint32_t i = 1;
  ((at[i++] = static_cast<uint32_t>(words)), ...);
  return true;
}
template <class... W>
inline bool WritePacket(BmBufferPool* stream, W... words) {
  StreamSink sink{stream};
  return PutPacket(sink, words...);
}
// A packet of count words built elsewhere.
template <class Sink>
inline bool PutWords(Sink& sink, const uint32_t* words, uint32_t count) {
  if (count == 0) return false;
  uint32_t* at = sink.Take(count + 1);
  if (at == nullptr) return false;
  at[0] = count - 1;
  memcpy(at + 1, words, 4u * count);
  return true;
}

class GroupPacket {
 public:
  // One group: up to four registers with their data words.
  GroupPacket& G(std::initializer_list<uint8_t> regs, std::initializer_list<uint32_t> values) {
    uint32_t header = 0x21212121u;
    unsigned i = 0;
    for (uint8_t r : regs) {
      header = (header & ~(0xFFu << (8 * i))) | uint32_t{r} << (8 * i);
      ++i;
    }
    Put(header);
    for (uint32_t v : values) Put(v);
    return *this;
  }
  // A group whose header and data words are given as they stand.
  GroupPacket& Raw(uint32_t header, const uint32_t* values, unsigned count) {
    Put(header);
    for (unsigned i = 0; i < count; ++i) Put(values[i]);
    return *this;
  }
  uint32_t Words() const { return size_; }
  const uint32_t* Data() const { return words_; }
  bool Empty() const { return size_ == 0; }

  // Copies the packet, its count first, into the stream; false when the
  // stream has no room for it (nothing is written then).
  bool WriteTo(BmBufferPool* stream) const {
    if (size_ == 0 || stream == nullptr) return false;
    uint32_t* at = stream->Reserve(size_ + 1);
    if (at == nullptr) return false;
    at[0] = size_ - 1;
    memcpy(at + 1, words_, 4u * size_);
    return true;
  }

 private:
  void Put(uint32_t w) {
    if (size_ < kMaxPacketWords) words_[size_++] = w;
  }
  uint32_t words_[kMaxPacketWords];
  uint32_t size_ = 0;
};
