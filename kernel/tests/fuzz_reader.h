// Reads a fuzz target's input front to back as bytes and little-endian
// words; past the end every read answers 0, so a harness never has to
// check the length before a field.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace orvfuzz {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Half() { return Byte() | uint32_t{Byte()} << 8; }
  uint32_t Word() { return Half() | Half() << 16; }
  uint64_t Quad() { return Word() | uint64_t{Word()} << 32; }
  void Bytes(void* out, size_t count) {
    auto* to = static_cast<uint8_t*>(out);
    const size_t have = at_ < size_ ? (count < size_ - at_ ? count : size_ - at_) : 0;
    if (have != 0) memcpy(to, data_ + at_, have);
    if (count != have) memset(to + have, 0, count - have);
    at_ += have;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace orvfuzz
