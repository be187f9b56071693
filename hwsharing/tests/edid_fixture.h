// Small EDID blocks built field by field for the tests: a base EDID 1.x
// block, its CEA-861 extension and an EDID 2.0 block.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hwtest {

struct Detailed {
  uint32_t clock10k, w, hblank, h, vblank, hfp, hs, vfp, vs;
  uint8_t flags = 0x18;  // digital separate sync, negative polarities
  uint8_t hborder = 0, vborder = 0;
};

inline void PutDetailed(uint8_t* d, const Detailed& t) {
  std::memset(d, 0, 18);
  d[0] = t.clock10k & 0xFF;
  d[1] = (t.clock10k >> 8) & 0xFF;
  d[2] = t.w & 0xFF;
  d[3] = t.hblank & 0xFF;
  d[4] = static_cast<uint8_t>(((t.w >> 8) << 4) | ((t.hblank >> 8) & 0xF));
  d[5] = t.h & 0xFF;
  d[6] = t.vblank & 0xFF;
  d[7] = static_cast<uint8_t>(((t.h >> 8) << 4) | ((t.vblank >> 8) & 0xF));
  d[8] = t.hfp & 0xFF;
  d[9] = t.hs & 0xFF;
  d[10] = static_cast<uint8_t>(((t.vfp & 0xF) << 4) | (t.vs & 0xF));
  d[11] = static_cast<uint8_t>(((t.hfp >> 8) << 6) | (((t.hs >> 8) & 3) << 4) | (((t.vfp >> 4) & 3) << 2) |
                               ((t.vs >> 4) & 3));
  d[15] = t.hborder;
  d[16] = t.vborder;
  d[17] = t.flags;
}

// 1920x1080 at 60 Hz, 148.5 MHz, positive syncs.
inline Detailed Timing1080p() { return {14850, 1920, 280, 1080, 45, 88, 44, 4, 5, 0x1E}; }

// A 256-byte buffer holding a base EDID 1.x block (128 bytes, then zeros
// unless an extension is added).
class Edid1 {
 public:
  explicit Edid1(uint8_t revision = 3) : bytes_(256, 0) {
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(bytes_.data(), header, 8);
    SetVendor("ABC");
    bytes_[18] = 1;
    bytes_[19] = revision;
    bytes_[20] = 0x08;  // analog
    bytes_[21] = 52;    // 52 x 32 cm
    bytes_[22] = 32;
    bytes_[24] = 0x0A;  // RGB colour, preferred timing first
    for (int i = 0; i < 8; ++i) SetStandard(i, 0x01, 0x01);
    Seal();
  }

  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  uint8_t& operator[](size_t i) { return bytes_.at(i); }

  Edid1& SetVendor(const char* letters) {
    const uint32_t word = ((letters[0] - 0x40) << 10) | ((letters[1] - 0x40) << 5) | (letters[2] - 0x40);
    bytes_[8] = static_cast<uint8_t>(word >> 8);
    bytes_[9] = static_cast<uint8_t>(word);
    return Seal();
  }
  Edid1& SetStandard(int i, uint8_t b0, uint8_t b1) {
    bytes_[38 + 2 * i] = b0;
    bytes_[39 + 2 * i] = b1;
    return Seal();
  }
  Edid1& SetEstablished(int byte, uint8_t bits) {
    bytes_[35 + byte] = bits;
    return Seal();
  }
  Edid1& SetDetailed(int i, const Detailed& t) {
    PutDetailed(&bytes_[54 + 18 * i], t);
    return Seal();
  }
  // A display descriptor with a 13-byte text (padded as monitors do).
  Edid1& SetText(int i, uint8_t tag, const std::string& text) {
    uint8_t* d = &bytes_[54 + 18 * i];
    std::memset(d, 0, 18);
    d[3] = tag;
    std::memset(d + 5, ' ', 13);
    std::memcpy(d + 5, text.data(), text.size() < 13 ? text.size() : 13);
    if (text.size() < 13) d[5 + text.size()] = 0x0A;
    return Seal();
  }
  Edid1& SetRange(int i, uint8_t vmin, uint8_t vmax, uint8_t hmin, uint8_t hmax, uint8_t clock10MHz) {
    uint8_t* d = &bytes_[54 + 18 * i];
    std::memset(d, 0, 18);
    d[3] = 0xFD;
    d[5] = vmin;
    d[6] = vmax;
    d[7] = hmin;
    d[8] = hmax;
    d[9] = clock10MHz;
    d[10] = 0x00;
    d[11] = 0x0A;
    return Seal();
  }
  // A CEA-861 extension of the revision, whose data blocks (each with its
  // header byte) come first and whose detailed timings start at `offset`
  // (0: taken right after the blocks).
  Edid1& AddCea(uint8_t revision, const std::vector<std::vector<uint8_t>>& blocks,
                const std::vector<Detailed>& timings, uint32_t offset = 0) {
    bytes_[126] = 1;
    uint8_t* e = &bytes_[128];
    std::memset(e, 0, 128);
    e[0] = 0x02;
    e[1] = revision;
    uint32_t at = 4;
    for (const auto& b : blocks)
      for (uint8_t byte : b) e[at++ & 127] = byte;
    if (offset == 0) offset = timings.empty() && blocks.empty() ? 0 : at;
    e[2] = static_cast<uint8_t>(offset);
    uint32_t t = offset;
    for (const Detailed& d : timings) {
      PutDetailed(e + t, d);
      t += 18;
    }
    return Seal();
  }
  // Recomputes the checksums of both blocks.
  Edid1& Seal() {
    Checksum(0);
    if (bytes_[126] != 0) Checksum(128);
    return *this;
  }

 private:
  void Checksum(size_t block) {
    uint8_t sum = 0;
    for (size_t i = block; i < block + 127; ++i) sum = static_cast<uint8_t>(sum + bytes_[i]);
    bytes_[block + 127] = static_cast<uint8_t>(0x100 - sum);
  }
  std::vector<uint8_t> bytes_;
};

// A CEA-861 video data block of short video descriptors.
inline std::vector<uint8_t> VideoBlock(const std::vector<uint8_t>& svds) {
  std::vector<uint8_t> b{static_cast<uint8_t>((2 << 5) | svds.size())};
  b.insert(b.end(), svds.begin(), svds.end());
  return b;
}
// An audio data block with one short audio descriptor.
inline std::vector<uint8_t> AudioBlock() { return {(1 << 5) | 3, 0x09, 0x07, 0x07}; }

}  // namespace hwtest
