#include "hwsharing/chip/mcs.h"

#include <cstring>

#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/eeprom_flash.h"
#include "hwsharing/chip/halstatus.h"

namespace {

// The block chain of the flash is walked at most this far: 128 KiB holds no
// more 512-byte images, and a corrupt chain of short steps would otherwise
// read the whole part eight bytes at a time over the bit-banged pins.
constexpr uint32_t kMcsMaxChainBlocks = 256;

}  // namespace

HALSTATUS HSLMCSReadData(BOARDHANDLE* h, uint32_t record, uint32_t length, MCSRECORD* out) {
  if (HalFailed(h->status)) return h->status;
  std::memset(out, 0, sizeof(*out));
  if (record > 1) return h->status;
  if (length > kMcsDataSize) length = kMcsDataSize;
  SEINFO se;
  uint32_t found = 0;
  HSLOpenSE(h, kSeKindBios, &se, &found);
  if (HalFailed(h->status)) return h->status;

  auto u32 = [](const uint8_t* b) {
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  };
  bool accepted = false;
  const uint64_t size = se.ulSize;
  uint8_t start[3] = {};
  HSLReadSE(&se, 0, sizeof(start), start);
  uint64_t position = uint64_t{start[kRomSizeByte]} * kRomSizeUnit;
  if (size >= 64 && start[0] == 0x55 && start[1] == 0xAA && position < size - 64) {
    // Each step moves forward or ends the walk, so it cannot loop, and the
    // walk ends after kMcsMaxChainBlocks blocks.
    for (uint32_t blocks = 0; blocks < kMcsMaxChainBlocks && position + 8 <= size; ++blocks) {
      uint8_t block[8];
      HSLReadSE(&se, static_cast<uint32_t>(position), sizeof(block), block);
      const uint32_t signature = u32(block);
      if (signature == 0 || signature == 0xFFFFFFFFu) break;
      if (signature == kMcsSignature) {
        uint8_t entry[9];
        HSLReadSE(&se, static_cast<uint32_t>(position + 32 + 16 * record), sizeof(entry), entry);
        const uint64_t data = position + u32(entry);
        const uint16_t sum = static_cast<uint16_t>(entry[4] | (entry[5] << 8));
        const uint16_t format = static_cast<uint16_t>(entry[6] | (entry[7] << 8));
        if (data + length <= size) {
          HSLReadSE(&se, static_cast<uint32_t>(data), length, out->aucData);
          uint16_t got = 0;
          for (uint32_t i = 0; i < length; ++i) got = static_cast<uint16_t>(got + out->aucData[i]);
          out->ulFactor = entry[8];
          out->ulFormatHigh = (format >> 6) & 7;
          out->ulFormatMid = (format >> 3) & 7;
          out->ulFormatLow = format & 7;
          accepted = got == sum;
        }
        break;
      }
      const uint32_t advance = u32(block + 4);
      if (advance == 0) break;
      position += advance;
    }
  }
  HSLCloseSE(h, &se);
  if (!accepted) std::memset(out, 0, sizeof(*out));
  return h->status;
}
