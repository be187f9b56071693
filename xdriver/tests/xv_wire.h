// Xv requests as a client puts them on the wire: the extension's major
// opcode, the request number, the length in 4-byte units, the fields in the
// client's byte order.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <cstring>
#include <vector>

namespace videotest {

// Request bytes in the client's byte order.
class Wire {
 public:
  static constexpr uint8_t kXvMajor = 140;  // the extension's major opcode in these tests
  Wire(bool swapped, uint8_t minor) : swapped_(swapped), bytes_{kXvMajor, minor, 0, 0} {}
  Wire& U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Wire& U16(uint16_t v) {
    if (swapped_) v = __builtin_bswap16(v);
    Put(&v, 2);
    return *this;
  }
  Wire& U32(uint32_t v) {
    if (swapped_) v = __builtin_bswap32(v);
    Put(&v, 4);
    return *this;
  }
  Wire& Data(size_t n, uint8_t seed) {
    for (size_t i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(seed + i * 13));
    return *this;
  }
  std::vector<uint8_t> Done() {
    bytes_.resize((bytes_.size() + 3) / 4 * 4);
    uint16_t words = static_cast<uint16_t>(bytes_.size() / 4);
    if (swapped_) words = __builtin_bswap16(words);
    std::memcpy(&bytes_[2], &words, 2);
    return bytes_;
  }

 private:
  void Put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  bool swapped_;
  std::vector<uint8_t> bytes_;
};

}  // namespace videotest
