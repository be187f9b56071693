// The board description (PInS block) and BIOS version of the option ROM,
// read through the memory window or from the flash behind it.
#include "hwsharing/chip/bios_pins.h"

#include <cstdio>
#include <cstring>

#include "core/board_description.h"
#include "core/regs/pci.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/eeprom_flash.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

constexpr uint32_t kRomBaseMask = 0xFF000000u;

// Option ROM layout.
constexpr uint16_t kRomSignature = 0xAA55;
constexpr uint32_t kRomVersionByte = 5;
constexpr uint32_t kRomVersionUnit = 4096;
constexpr uint32_t kRomPciDataPointer = 0x18;
constexpr uint32_t kPciDataVersionHigh = 18;
constexpr uint32_t kPciDataVersionLow = 19;
constexpr uint32_t kRomTextStart = 29;
constexpr uint32_t kRomTextEnd = 127;
constexpr uint32_t kRomOptionByte = 0x7FF1;
constexpr uint32_t kRomPinsPointer = 0x7FFC;
// The PInS block, and everything read for it, lies in the first 64 KiB.
constexpr uint32_t kRomScanSize = 0x10000;
constexpr uint32_t kScanMaxLength = 128;
constexpr uint32_t kLegacyPinsSize = 64;
constexpr uint8_t kLegacyPinsMark = 0x40;
constexpr uint32_t kFlashHeaderSize = 256;

// The ROM as the memory window shows it: read byte by byte, or from a copy
// of its first kRomScanSize bytes when one was taken.
struct Rom {
  BOARDHANDLE* h;
  const uint8_t* image = nullptr;
  uint8_t Byte(uint32_t offset) const {
    if (offset >= kRomScanSize) return 0xFF;
    return image != nullptr ? image[offset] : MemReadByte(h, offset);
  }
  uint16_t Word(uint32_t offset) const {
    return static_cast<uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
  }
  // The first offset from `from` on where `word` stands, with room for a
  // length byte after it; kRomScanSize when there is none.
  uint32_t FindWord(uint32_t from, uint16_t word) const {
    const auto low = static_cast<uint8_t>(word);
    const auto high = static_cast<uint8_t>(word >> 8);
    for (uint32_t at = from; at + 2 < kRomScanSize; ++at) {
      if (image != nullptr) {
        const void* hit = std::memchr(image + at, low, kRomScanSize - 2 - at);
        if (hit == nullptr) break;
        at = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - image);
      }
      if (Byte(at) == low && Byte(at + 1) == high) return at;
    }
    return kRomScanSize;
  }
  bool Matches(uint32_t offset, const char* text) const {
    for (size_t i = 0; text[i] != '\0'; ++i)
      if (Byte(offset + static_cast<uint32_t>(i)) != static_cast<uint8_t>(text[i])) return false;
    return true;
  }
  // Copies a block of `length` bytes at `offset` into the PInS area (cut to
  // the area) and answers whether it is taken: its bytes, all of them, sum
  // to 0. A block running past the ROM is never taken.
  bool TakeBlock(uint32_t offset, uint32_t length, uint8_t* area) const {
    if (static_cast<uint64_t>(offset) + length > kRomScanSize) return false;
    std::memset(area, 0, kPinsDataSize);
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) {
      const uint8_t b = Byte(offset + i);
      if (i < kPinsDataSize) area[i] = b;
      sum = static_cast<uint8_t>(sum + b);
    }
    return length == 0 || sum == 0;
  }
};

// Maps the ROM over the memory window at `base`; undone by Unmap.
struct RomMapping {
  uint32_t savedOptions = 0, savedRom = 0;
  void Map(BOARDHANDLE* h, uint32_t base) {
    savedOptions = CfgRead(h, kCfgChipOptions);
    CfgWrite(h, kCfgChipOptions, savedOptions | kChipOptionsRomOverMemory);
    savedRom = CfgRead(h, kCfgRomBar);
    CfgWrite(h, kCfgRomBar, base | kRomEnable);
  }
  void Unmap(BOARDHANDLE* h) {
    CfgWrite(h, kCfgRomBar, savedRom);
    CfgWrite(h, kCfgChipOptions, savedOptions);
  }
};

// Version from the PCI data structure, 0 when there is none.
uint32_t PciDataVersion(const Rom& rom) {
  if (rom.Word(0) != kRomSignature) return 0;
  const uint32_t p = rom.Word(kRomPciDataPointer);
  if (!rom.Matches(p, "PCIR")) return 0;
  return (uint32_t{rom.Byte(p + kPciDataVersionHigh)} << 12) | rom.Byte(p + kPciDataVersionLow);
}

bool FindBlock(const Rom& rom, uint8_t* area) {
  if (rom.Word(0) == kRomSignature) {
    const uint32_t p = rom.Word(kRomPinsPointer);
    const uint16_t version = rom.Word(p + 4);
    const uint32_t length = version < kPinsVersion600 ? rom.Byte(p + 2) : rom.Word(p + 2);
    if (rom.Word(p) == kPinsSignature && rom.TakeBlock(p, length, area)) return true;
  }
  for (uint32_t at = rom.FindWord(0, kPinsSignature); at < kRomScanSize;
       at = rom.FindWord(at + 1, kPinsSignature)) {
    const uint32_t length = rom.Byte(at + 2);
    if (length <= kScanMaxLength && rom.TakeBlock(at, length, area)) return true;
  }
  // An old block without signature or sum.
  const uint32_t p = rom.Word(kRomPinsPointer);
  std::memset(area, 0, kPinsDataSize);
  for (uint32_t i = 0; i < kLegacyPinsSize; ++i) area[i] = rom.Byte(p + i);
  return area[0] == kLegacyPinsMark;
}

void ReadFlagsAndText(const Rom& rom, PINSDATA* pins) {
  const uint8_t option = rom.Byte(kRomOptionByte);
  uint32_t flags = option == 0xFF ? 0 : option;
  uint32_t mark = 0;
  for (uint32_t at = kRomTextStart; at < kRomTextEnd; ++at) {
    if (rom.Matches(at, "(V")) {
      mark = at;
      break;
    }
  }
  if (mark != 0 && rom.Matches(kRomTextStart, " IBM") && rom.Matches(mark + 6, "TVO"))
    flags |= kBiosFlagTv;
  std::memset(pins->szBiosVersion, 0, sizeof(pins->szBiosVersion));
  uint32_t text = 0;
  for (uint32_t at = kRomTextStart + 1; at < kRomTextEnd; ++at) {
    if (rom.Matches(at, "(V")) {
      text = at + 2;
      break;
    }
  }
  if (text != 0) {
    size_t n = 0;
    for (uint32_t at = text; n + 1 < sizeof(pins->szBiosVersion); ++at) {
      const char c = static_cast<char>(rom.Byte(at));
      if (c == '\0') break;
      if (c != ')') pins->szBiosVersion[n++] = c;
    }
    if (pins->szBiosVersion[3] == 'I') flags |= kBiosFlagTextI;
  }
  pins->ulBiosFlags = flags;
}

}  // namespace

HALSTATUS HSLBIOSReadPins(BOARDHANDLE* h, uint32_t* version) {
  if (HalFailed(h->status)) return h->status;
  PINSDATA* pins = &h->oPins;
  std::memset(pins->aucData, 0, sizeof(pins->aucData));
  RomMapping mapping;
  mapping.Map(h, h->ulFrameBufferApertureLow & ~0x7FFu);
  // The search may look at every byte of the first 64 KiB, some twice: one
  // pass of dword reads over the window copies them first.
  uint8_t image[kRomScanSize];
  for (uint32_t at = 0; at < kRomScanSize; at += 4) {
    const uint32_t dword = MemReadDword(h, at);
    std::memcpy(image + at, &dword, sizeof(dword));
  }
  const Rom rom{h, image};
  const bool taken = FindBlock(rom, pins->aucData);
  uint32_t v = PciDataVersion(rom);
  if (v == 0) v = rom.Byte(kRomVersionByte) * kRomVersionUnit;
  ReadFlagsAndText(rom, pins);
  mapping.Unmap(h);

  pins->ulBiosVersion = v;
  if (version != nullptr) *version = v;
  if (!taken) {
    std::memset(pins->aucData, 0, sizeof(pins->aucData));
    const HALSTATUS before = h->status;
    uint32_t size = kPinsDataSize;
    if (ClientGetBiosInfo(h, pins->aucData, &size) != 0 || HalFailed(h->status)) {
      h->status = before;
      std::memset(pins->aucData, 0, sizeof(pins->aucData));
    }
    h->ulBoardFlags |= kBoardFlagPinsNotFromRom;
  }
  return h->status;
}

HALSTATUS HSLBIOSGetVersion(BOARDHANDLE* h, uint32_t* version) {
  if (HalFailed(h->status)) return h->status;
  RomMapping mapping;
  mapping.Map(h, CfgRead(h, kCfgBar0) & kRomBaseMask);
  const Rom rom{h};
  const bool hasPciData = rom.Word(0) == kRomSignature && rom.Matches(rom.Word(kRomPciDataPointer), "PCIR");
  if (hasPciData)
    *version = PciDataVersion(rom);
  else
    SetError(h, kErrBiosNoPciData);  // the caller's value stays unless it is 0
  if (*version == 0) *version = rom.Byte(kRomVersionByte) * kRomVersionUnit;
  mapping.Unmap(h);
  return h->status;
}

HALSTATUS HSLBIOSReadData(BOARDHANDLE* h, uint8_t* area, uint32_t* version, char* text) {
  if (HalFailed(h->status)) return h->status;
  SEINFO se;
  uint32_t found = 0;
  HSLOpenSE(h, kSeKindBios, &se, &found);
  if (HalFailed(h->status)) return h->status;

  uint8_t header[kFlashHeaderSize];
  HSLReadSE(&se, 0, sizeof(header), header);
  uint8_t word[2] = {};
  HSLReadSE(&se, kRomPinsPointer, 2, word);
  const uint32_t p = word[0] | (word[1] << 8);
  uint8_t head[6] = {};
  HSLReadSE(&se, p, sizeof(head), head);
  if ((head[0] | (head[1] << 8)) == kPinsSignature) {
    const uint32_t v = head[4] | (head[5] << 8);
    uint32_t length = v < kPinsVersion600 ? head[2] : (head[2] | (head[3] << 8));
    if (length > kPinsDataSize) length = kPinsDataSize;
    HSLReadSE(&se, p, length, area);
  }

  // Version and its text come from the PCI data structure of the header; a
  // structure that does not fit in the header counts as absent.
  *version = 0;
  text[0] = '\0';
  const uint32_t pci = header[kRomPciDataPointer] | (header[kRomPciDataPointer + 1] << 8);
  if (pci + kPciDataVersionLow < sizeof(header) && std::memcmp(header + pci, "PCIR", 4) == 0) {
    const uint8_t high = header[pci + kPciDataVersionHigh];
    const uint8_t low = header[pci + kPciDataVersionLow];
    *version = (uint32_t{high} << 12) | low;
    static const char kDigits[] = "0123456789ABCDEF";
    std::snprintf(text, kBiosVersionTextSize, "%c.%c - %u", kDigits[high >> 4],
                  kDigits[high & 15], static_cast<unsigned>(low));
    for (uint32_t at = 0; at + 4 <= sizeof(header); ++at) {
      if (std::memcmp(header + at, "BIOS", 4) != 0) continue;
      const void* open = std::memchr(header + at + 4, '(', sizeof(header) - at - 4);
      if (open == nullptr) break;
      const uint32_t o = static_cast<uint32_t>(static_cast<const uint8_t*>(open) - header);
      if (o + 6 < sizeof(header) && header[o + 5] != ')') {
        const size_t n = std::strlen(text);
        if (n + 3 < kBiosVersionTextSize) {
          text[n] = ' ';
          text[n + 1] = static_cast<char>(header[o + 5]);
          text[n + 2] = static_cast<char>(header[o + 6]);
          text[n + 3] = '\0';
        }
      }
      break;
    }
  }
  HSLCloseSE(h, &se);
  if (text[0] == '\0') return SetError(h, kErrBiosNoVersionText);
  return h->status;
}
