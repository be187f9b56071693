// Count-prefixed register-group packets of the 3D stream: a count word n,
// then n + 1 words of groups. A group is a header of four register indices
// (the first in the low byte, unused places padded with 0x21, which takes
// no data word) followed by one data word per index. A packet is built in
// a fixed buffer and copied into the stream in one reservation, so that it
// never straddles a buffer switch.
#pragma once

#include <stdint.h>
#include <string.h>

#include <initializer_list>

#include "core/bm_buffer.h"
#include "core/regs/engine3d.h"

// The index that takes a data word and writes nothing.
inline constexpr uint8_t kDummyIndex = IndexOfReg(k3dRegPad);
inline constexpr uint32_t kMaxPacketWords = 96;

// A packet whose words are known where it is written (headers from
// PacketHeader), copied straight into the stream: count, then the words.
template <class... W>
inline bool WritePacket(BmBufferPool* stream, W... words) {
  constexpr uint32_t n = sizeof...(W);
  uint32_t* at = stream->Reserve(n + 1);
  if (at == nullptr) return false;
  at[0] = n - 1;
  uint32_t i = 1;
  ((at[i++] = static_cast<uint32_t>(words)), ...);
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
