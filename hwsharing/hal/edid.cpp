#include "hwsharing/hal/edid.h"

#include <cstring>

#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/timing_tables.h"

namespace {

// ---- EDID 1.x layout ------------------------------------------------------------
constexpr size_t kEdid1Revision = 19;
constexpr size_t kEdid1VideoInput = 20;
constexpr size_t kEdid1ImageWidthCm = 21;
constexpr size_t kEdid1ImageHeightCm = 22;
constexpr size_t kEdid1Gamma = 23;
constexpr size_t kEdid1Features = 24;
constexpr uint8_t kFeaturePreferredFirst = 0x02;
constexpr size_t kEdid1Chromaticity = 25;
constexpr size_t kEdid1ChromaticityBytes = 10;
constexpr size_t kEdid1Established = 35;
constexpr size_t kEdid1EstablishedBytes = 3;
constexpr size_t kEdid1Standard = 38;
constexpr size_t kEdid1StandardCount = 8;
constexpr size_t kEdid1ExtensionCount = 126;
constexpr size_t kEdidChecksum = 127;
constexpr uint8_t kStandardUnused = 0x01;

// ---- CEA-861 extension ------------------------------------------------------------
constexpr size_t kCeaTag = 128;
constexpr uint8_t kCeaTagValue = 0x02;
constexpr size_t kCeaRevision = 129;
constexpr uint8_t kCeaFirstRevisionWithBlocks = 3;
constexpr size_t kCeaDetailedOffset = 130;
constexpr uint32_t kCeaFirstDataBlock = 4;  // offset in the extension block
constexpr uint8_t kCeaVideoBlockTag = 2;
constexpr uint8_t kSvdNative = 0x80;
constexpr uint8_t kSvdCodeMask = 0x7F;

// ---- EDID 2.0 layout ------------------------------------------------------------
constexpr size_t kEdid2Vendor = 1;
constexpr size_t kEdid2Week = 5;
constexpr size_t kEdid2Year = 6;
constexpr uint8_t kEdid2YearToEdid1 = 58;
constexpr size_t kEdid2AnalogInput = 66;
constexpr size_t kEdid2Interface = 79;
constexpr uint8_t kEdid2FirstDigitalInterface = 16;
constexpr size_t kEdid2Display = 81;
constexpr size_t kEdid2Gamma = 86;
constexpr size_t kEdid2Features = 91;
constexpr size_t kEdid2Chromaticity = 94;
constexpr size_t kEdid2ImageWidthMm = 114;
constexpr size_t kEdid2ImageHeightMm = 116;
constexpr size_t kEdid2MapA = 126;
constexpr size_t kEdid2MapB = 127;
constexpr size_t kEdid2Variable = 128;
constexpr size_t kEdid2Standby = 125;
constexpr uint32_t kEdid2FrequencySize = 8;
constexpr uint32_t kEdid2RangeSize = 27;
constexpr uint32_t kEdid2TimingCodeSize = 4;

inline uint32_t Word(const uint8_t* p) { return p[0] | (p[1] << 8); }

bool IsDisplayDescriptor(const uint8_t* d) {
  if (d[0] == 0 && d[1] == 0) return true;
  for (size_t i = 0; i < kEdidDescriptorSize; ++i)
    if (d[i] != 0x01) return false;
  return true;  // a descriptor slot filled with 0x01: unused
}

bool CeaPresent(const uint8_t* edid) {
  return IsEdid1(HALPGetEDIDVersion(edid)) && edid[kEdid1ExtensionCount] != 0 && edid[kCeaTag] == kCeaTagValue;
}

bool SameSize(const MODEINFO& a, const MODEINFO* b) {
  return a.ulDispWidth == b->ulDispWidth && a.ulDispHeight == b->ulDispHeight;
}

// Visits the timings of the standard-timing enumeration that have the
// query's size, in order, until `visit` answers true; answers whether it did.
template <class Visit>
bool ForEachStandardTiming(const uint8_t* edid, const MODEINFO* query, bool gtfAllowed, Visit visit) {
  const uint32_t version = HALPGetEDIDVersion(edid);
  for (size_t i = 0; i < kEdid1StandardCount; ++i) {
    const uint8_t* st = edid + kEdid1Standard + 2 * i;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!HALPGetResFromStandardTiming(version, st, &width, &height)) continue;
    if (width != query->ulDispWidth || height != query->ulDispHeight) continue;
    const uint32_t refresh = (st[1] & 0x3F) + 60;
    MODEINFO timing = *query;
    if (const MODEINFO* row = FindVesaRow(query, refresh)) {
      CopyTimingFromRefresh(&timing, row);
    } else if (!gtfAllowed || !HALPGetVerticalGTFParams(&timing, refresh)) {
      continue;
    }
    if (visit(timing)) return true;
  }
  uint8_t svd[kCeaMaxVideoDescriptors];
  const uint32_t codes = HALPGetExtCEA861VideoCodeNumber(edid, svd);
  for (uint32_t i = 0; i < codes; ++i) {
    MODEINFO timing = *query;
    if (!HALPGetExtCEA861StandardTimingFromVideoCode(svd[i], &timing) || !SameSize(timing, query)) continue;
    if (visit(timing)) return true;
  }
  return false;
}

}  // namespace

// ---- Version, size, validity ---------------------------------------------------

uint32_t HALPGetEDIDVersion(const uint8_t* edid) {
  if (std::memcmp(edid, kEdidHeader, kEdidHeaderSize) == 0) return 0x10 | (edid[kEdid1Revision] & 0xF);
  return edid[0];
}

uint32_t HALPGetEDIDBufferSize(const uint8_t* edid) {
  const uint32_t version = HALPGetEDIDVersion(edid);
  if (IsEdid2(version)) return kEdidBufferSize;
  if (IsEdid1(version)) return edid[kEdid1ExtensionCount] != 0 ? kEdidBufferSize : kEdidBlockSize;
  return 0;
}

uint32_t HALPIsEDIDBufferValid(const uint8_t* edid) {
  const uint32_t size = HALPGetEDIDBufferSize(edid);
  if (size == 0) return 0;
  uint8_t sum = 0;
  for (uint32_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + edid[i]);
  return sum == 0 ? 1 : 0;
}

// ---- Timings of an EDID 1.x block -------------------------------------------------

bool HALPGetResFromStandardTiming(uint32_t version, const uint8_t* bytes, uint32_t* width, uint32_t* height) {
  if (bytes[0] == kStandardUnused || bytes[1] == kStandardUnused) return false;
  const uint32_t w = bytes[0] * 8u + 248;
  uint32_t h = 0;
  switch (bytes[1] >> 6) {
    case 0:  // 16:10 from revision 3 on, 1:1 before
      h = (version & 0xF) >= 3 ? w * 10 / 16 : w;
      break;
    case 1:  // 4:3
      h = w * 3 / 4;
      break;
    case 2:  // 5:4
      h = w * 4 / 5;
      break;
    default:  // 16:9, but for the two sizes whose 16:9 height is not whole
      if (bytes[1] == 0xC0 && bytes[0] == 0x8B) {
        h = 768;
      } else if (bytes[1] == 0xC0 && bytes[0] == 0x4B) {
        h = 480;
      } else {
        h = w * 9 / 16;
      }
      break;
  }
  *width = w;
  *height = h;
  return true;
}

bool HALPGetEDIDDetailedTimingInfo(const uint8_t* d, MODEINFO* mode) {
  const uint32_t clock10k = d[0] | (d[1] << 8);
  const uint32_t width = d[2] | ((d[4] >> 4) << 8);
  const uint32_t hblank = d[3] | ((d[4] & 0xF) << 8);
  const uint32_t height = d[5] | ((d[7] >> 4) << 8);
  const uint32_t vblank = d[6] | ((d[7] & 0xF) << 8);
  mode->ulDispWidth = width;
  mode->ulDispHeight = height;
  mode->ulPixClock = clock10k * 10;
  mode->ulHFPorch = d[8] | ((d[11] >> 6) << 8);
  mode->ulHSync = d[9] | (((d[11] >> 4) & 3) << 8);
  mode->ulHBPorch = hblank - mode->ulHSync - mode->ulHFPorch;
  mode->ulVFPorch = (d[10] >> 4) + 16 * ((d[11] >> 2) & 3);
  mode->ulVSync = (d[10] & 0xF) + 16 * (d[11] & 3);
  mode->ulVBPorch = vblank - mode->ulVSync - mode->ulVFPorch;
  mode->ulHBorder = d[15];
  mode->ulVBorder = d[16];
  uint32_t signal = (d[17] & 0x80) ? kSignalInterlaced : 0;
  if (((d[17] >> 3) & 3) == 3) {  // digital separate sync
    if (d[17] & 0x02) signal |= kSignalHSyncPositive;
    if (d[17] & 0x04) signal |= kSignalVSyncPositive;
  }
  mode->flSignalMode = signal;
  const uint32_t htotal = width + hblank;
  const uint32_t vtotal = height + vblank;
  if (htotal == 0 || vtotal == 0) {
    mode->ulRefreshRate = 0;
    mode->ulHorizRate = 0;
    return false;
  }
  // In 64 bits: clocks above 429 MHz would overflow the product.
  mode->ulRefreshRate = static_cast<uint32_t>((uint64_t{clock10k} * 100000 / (htotal * vtotal) + 5) / 10);
  mode->ulHorizRate = (clock10k * 100 / htotal + 5) / 10;
  return true;
}

void HALPGetResFromDetailedTiming(const uint8_t* d, uint32_t monitorFlags, uint32_t* width, uint32_t* height,
                                  bool* widthDoubled) {
  *widthDoubled = false;
  if (IsDisplayDescriptor(d)) {
    *width = 0;
    *height = 0;
    return;
  }
  uint32_t w = d[2] | ((d[4] >> 4) << 8);
  uint32_t h = d[5] | ((d[7] >> 4) << 8);
  if (d[17] & 0x80) h *= 2;
  if ((monitorFlags & kMonitorPixelDoubled) && HALPComputeAspectRatio(2 * w, h) != kAspectVeryWide) {
    w *= 2;
    *widthDoubled = true;
  }
  *width = w;
  *height = h;
}

bool HALPGetTranslatedDetailedTimingInfo(const uint8_t* d, uint32_t monitorFlags, MODEINFO* mode) {
  if (IsDisplayDescriptor(d)) return false;
  if (!HALPGetEDIDDetailedTimingInfo(d, mode)) return false;
  bool doubled = false;
  HALPGetResFromDetailedTiming(d, monitorFlags, &mode->ulDispWidth, &mode->ulDispHeight, &doubled);
  if (doubled) mode->flSignalMode |= 0x4000;
  return true;
}

uint32_t HALPComputeAspectRatio(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return 0;
  if (width == height) return kAspectSquare;
  const uint32_t base = width < height ? kAspectTall : kAspectWide;
  if (width < 640 || (width == 640 && height < 480)) return base;
  const uint32_t r = static_cast<uint32_t>(uint64_t{height} * 100 / width);
  if (r <= 50) return kAspectVeryWide;
  if (r <= 59) return kAspect16x9;
  if (r <= 71) return kAspect16x10;
  return base;
}

// ---- CEA-861 extension -----------------------------------------------------------

uint32_t HALPGetExtCEA861DetailedTimingOffset(const uint8_t* edid) {
  if (!CeaPresent(edid)) return 0;
  const uint32_t d = edid[kCeaDetailedOffset];
  // The detailed timings and the data blocks before them lie between the
  // four header bytes and the checksum.
  return d >= kCeaFirstDataBlock && d < kEdidBlockSize ? d : 0;
}

uint32_t HALPGetExtCEA861VideoCodeNumber(const uint8_t* edid, uint8_t* descriptors) {
  const uint32_t d = HALPGetExtCEA861DetailedTimingOffset(edid);
  if (d == 0 || edid[kCeaRevision] < kCeaFirstRevisionWithBlocks) return 0;
  // Walk every data block up to the detailed timings: many televisions put
  // their audio block before the video block. A block that claims to run
  // past the detailed timings is cut there.
  const uint32_t end = kEdidBlockSize + d;
  uint32_t count = 0;
  for (uint32_t at = kEdidBlockSize + kCeaFirstDataBlock; at < end;) {
    const uint8_t header = edid[at];
    const uint32_t length = header & 0x1F;
    if ((header >> 5) == kCeaVideoBlockTag) {
      for (uint32_t i = at + 1; i <= at + length && i < end; ++i) {
        if (descriptors != nullptr && count < kCeaMaxVideoDescriptors) descriptors[count] = edid[i];
        ++count;
      }
    }
    at += 1 + length;
  }
  return count < kCeaMaxVideoDescriptors ? count : kCeaMaxVideoDescriptors;
}

bool HALPIsExtCEA861VideoCodeModeNative(uint8_t descriptor) { return (descriptor & kSvdNative) != 0; }

bool HALPGetExtCEA861StandardTimingFromVideoCode(uint8_t descriptor, MODEINFO* mode) {
  return HALPGetDTVParametersFromVideoCode(mode, descriptor & kSvdCodeMask) != 0;
}

bool HALPGetExtCEA861VideoCodeTiming(const uint8_t* edid, MODEINFO* query, uint32_t n) {
  uint8_t svd[kCeaMaxVideoDescriptors];
  const uint32_t codes = HALPGetExtCEA861VideoCodeNumber(edid, svd);
  for (uint32_t i = 0; i < codes; ++i) {
    MODEINFO timing = *query;
    if (!HALPGetExtCEA861StandardTimingFromVideoCode(svd[i], &timing) || !SameSize(timing, query)) continue;
    if (n-- == 0) {
      CopyTimingFromRefresh(query, &timing);
      return true;
    }
  }
  return false;
}

uint32_t HALPGetCompleteDetailedTimingBuffer(const uint8_t* edid, const uint8_t* descriptors[kMaxDetailedBuffer]) {
  uint32_t count = 0;
  for (size_t i = 0; i < kEdidDescriptorCount; ++i)
    descriptors[count++] = edid + kEdidFirstDescriptor + i * kEdidDescriptorSize;
  const uint32_t d = HALPGetExtCEA861DetailedTimingOffset(edid);
  if (d == 0) return count;
  for (uint32_t at = d; at + kEdidDescriptorSize <= kEdidBlockSize && count < kMaxDetailedBuffer;
       at += kEdidDescriptorSize)
    descriptors[count++] = edid + kEdidBlockSize + at;
  return count;
}

// ---- EDID 2.0 ----------------------------------------------------------------------

void HALPCalcEDID2Offset(const uint8_t* edid, EDID2LAYOUT* layout) {
  const uint8_t a = edid[kEdid2MapA];
  const uint8_t b = edid[kEdid2MapB];
  uint32_t at = kEdid2Variable;
  if (a & 0x20) {  // luminance table
    const uint8_t head = edid[kEdid2Variable];
    const uint32_t entries = head & 0x1F;
    at += (head & 0x80) ? 1 + entries * 3 : 1 + entries;
  }
  // Each section starts after the previous one; what the map bytes announce
  // beyond the block is dropped.
  auto section = [&at](uint32_t count, uint32_t size, uint32_t* offset, uint32_t* fitting) {
    *offset = at;
    const uint32_t room = at < kEdidBufferSize ? static_cast<uint32_t>(kEdidBufferSize) - at : 0;
    *fitting = count < room / size ? count : room / size;
    at += count * size;
  };
  section((a >> 2) & 0x7, kEdid2FrequencySize, &layout->ulFrequencyOffset, &layout->ulFrequencyCount);
  section(a & 0x3, kEdid2RangeSize, &layout->ulRangeOffset, &layout->ulRangeCount);
  section(b >> 3, kEdid2TimingCodeSize, &layout->ulTimingCodeOffset, &layout->ulTimingCodeCount);
  section(b & 0x7, kEdidDescriptorSize, &layout->ulDetailedOffset, &layout->ulDetailedCount);
}

void HALPConvertEDID2toEDID1(uint8_t* edid) {
  uint8_t src[kEdidBufferSize];
  std::memcpy(src, edid, kEdidBufferSize);
  EDID2LAYOUT layout;
  HALPCalcEDID2Offset(src, &layout);
  std::memset(edid, 0, kEdidBufferSize);

  std::memcpy(edid, kEdidHeader, kEdidHeaderSize);
  std::memcpy(edid + 8, src + kEdid2Vendor, 4);
  edid[16] = src[kEdid2Week];
  edid[17] = static_cast<uint8_t>(src[kEdid2Year] + kEdid2YearToEdid1);
  edid[18] = 1;
  edid[kEdid1Revision] = 1;
  edid[kEdid1VideoInput] = src[kEdid2Interface] < kEdid2FirstDigitalInterface ? src[kEdid2AnalogInput] : 0x80;
  edid[kEdid1ImageWidthCm] = static_cast<uint8_t>((Word(src + kEdid2ImageWidthMm) + 5) / 10);
  edid[kEdid1ImageHeightCm] = static_cast<uint8_t>((Word(src + kEdid2ImageHeightMm) + 5) / 10);
  edid[kEdid1Gamma] = src[kEdid2Gamma];
  edid[kEdid1Features] = static_cast<uint8_t>((src[kEdid2Display] & 0xE0) | ((src[kEdid2Features] & 0x80) ? 0x0C : 0x08) |
                                              ((src[kEdid2MapA] & 0x40) ? kFeaturePreferredFirst : 0) |
                                              (src[kEdid2Standby] != 0 ? 0x01 : 0));
  std::memcpy(edid + kEdid1Chromaticity, src + kEdid2Chromaticity, kEdid1ChromaticityBytes);

  for (uint32_t k = 0; k < kEdid1StandardCount; ++k) {
    uint8_t* st = edid + kEdid1Standard + 2 * k;
    if (k >= layout.ulTimingCodeCount) {
      st[0] = kStandardUnused;
      st[1] = kStandardUnused;
      continue;
    }
    const uint8_t* code = src + layout.ulTimingCodeOffset + kEdid2TimingCodeSize * k;
    uint8_t aspect = 1;  // 4:3
    if (code[2] == 100) aspect = 0;
    if (code[2] == 125) aspect = 2;
    if (code[2] == 178) aspect = 3;
    int refresh = code[3] - 60;
    if (refresh < 0) refresh = 0;
    if (refresh > 63) refresh = 63;
    st[0] = static_cast<uint8_t>(2 * code[0] + 1);
    st[1] = static_cast<uint8_t>((aspect << 6) | refresh);
  }
  for (uint32_t k = 0; k < kEdidDescriptorCount && k < layout.ulDetailedCount; ++k)
    std::memcpy(edid + kEdidFirstDescriptor + k * kEdidDescriptorSize,
                src + layout.ulDetailedOffset + k * kEdidDescriptorSize, kEdidDescriptorSize);

  uint8_t sum = 0;
  for (size_t i = 0; i < kEdidChecksum; ++i) sum = static_cast<uint8_t>(sum + edid[i]);
  edid[kEdidChecksum] = static_cast<uint8_t>(0x100 - sum);
}

// ---- Mode list ------------------------------------------------------------------

void HSLKSTInsertEDIDMode(EDIDMODE* list, const EDIDMODE& entry) {
  if (entry.ulWidth == 0 || entry.ulHeight == 0) return;
  EDIDMODE carried = entry;
  for (size_t i = 0; i < kEdidModeEntries; ++i) {
    EDIDMODE& slot = list[i];
    if (slot.ulWidth == 0) {
      slot = carried;
      return;
    }
    if (slot.ulWidth == carried.ulWidth && slot.ulHeight == carried.ulHeight &&
        slot.ulRefresh == carried.ulRefresh && slot.flSource == carried.flSource)
      return;  // already listed
    const bool before = slot.ulWidth > carried.ulWidth ||
                        (slot.ulWidth == carried.ulWidth && slot.ulHeight > carried.ulHeight) ||
                        (slot.ulWidth == carried.ulWidth && slot.ulHeight == carried.ulHeight &&
                         slot.ulRefresh >= carried.ulRefresh && slot.flSource != carried.flSource);
    if (before) {
      // The new entry takes this place; the one it displaces goes on down
      // the list.
      const EDIDMODE displaced = slot;
      slot = carried;
      carried = displaced;
    }
  }
  // A full list drops the entry that falls off its end.
}

void HALPGetEDID1EdidModes(const uint8_t* edid, EDIDMODE* list, uint32_t monitorFlags) {
  std::memset(list, 0, kEdidModeEntries * sizeof(EDIDMODE));
  for (size_t k = 0; k < kEdid1EstablishedBytes; ++k) {
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (!(edid[kEdid1Established + k] & (1u << bit))) continue;
      const MODEINFO& row = EstabParam[8 * k + bit];
      if (row.ulDispWidth == 0) continue;
      HSLKSTInsertEDIDMode(list, {row.ulDispWidth, row.ulDispHeight, row.ulRefreshRate, kEdidModeEstablished});
    }
  }
  const uint32_t version = HALPGetEDIDVersion(edid);
  for (size_t i = 0; i < kEdid1StandardCount; ++i) {
    const uint8_t* st = edid + kEdid1Standard + 2 * i;
    uint32_t width = 0;
    uint32_t height = 0;
    if (HALPGetResFromStandardTiming(version, st, &width, &height))
      HSLKSTInsertEDIDMode(list, {width, height, (st[1] & 0x3Fu) + 60, kEdidModeStandard});
  }
  uint8_t svd[kCeaMaxVideoDescriptors];
  const uint32_t codes = HALPGetExtCEA861VideoCodeNumber(edid, svd);
  for (uint32_t i = 0; i < codes; ++i) {
    MODEINFO timing{};
    if (!HALPGetExtCEA861StandardTimingFromVideoCode(svd[i], &timing)) continue;
    const uint32_t source = kEdidModeStandard | (HALPIsExtCEA861VideoCodeModeNative(svd[i]) ? kEdidModePreferred : 0);
    HSLKSTInsertEDIDMode(list, {timing.ulDispWidth, timing.ulDispHeight, timing.ulRefreshRate, source});
  }
  const uint8_t* descriptors[kMaxDetailedBuffer];
  const uint32_t count = HALPGetCompleteDetailedTimingBuffer(edid, descriptors);
  const bool preferredFirst = (edid[kEdid1Features] & kFeaturePreferredFirst) != 0;
  for (uint32_t i = 0; i < count; ++i) {
    MODEINFO timing{};
    if (!HALPGetTranslatedDetailedTimingInfo(descriptors[i], monitorFlags, &timing)) continue;
    const uint32_t source = i == 0 && preferredFirst ? kEdidModePreferred : kEdidModeDetailed;
    HSLKSTInsertEDIDMode(list, {timing.ulDispWidth, timing.ulDispHeight, timing.ulRefreshRate, source});
  }
}

uint32_t HALPGetEDID1AspectRatio(const uint8_t* edid, uint32_t monitorFlags) {
  EDIDMODE list[kEdidModeEntries];
  HALPGetEDID1EdidModes(edid, list, monitorFlags);
  uint32_t classes = 0;
  for (const EDIDMODE& m : list) classes |= HALPComputeAspectRatio(m.ulWidth, m.ulHeight);
  return classes;
}

// ---- Timing enumeration ----------------------------------------------------------

uint32_t HALPGetEDID1EstablishedTimingNumber(const uint8_t* edid, const MODEINFO* query) {
  uint32_t count = 0;
  for (size_t i = 0; i < kEdid1EstablishedBytes * 8; ++i)
    if ((edid[kEdid1Established + i / 8] & (1u << (i % 8))) && SameSize(EstabParam[i], query)) ++count;
  return count;
}

bool HALPGetEDID1EstablishedTiming(const uint8_t* edid, MODEINFO* query, uint32_t n) {
  for (size_t i = 0; i < kEdid1EstablishedBytes * 8; ++i) {
    if (!(edid[kEdid1Established + i / 8] & (1u << (i % 8))) || !SameSize(EstabParam[i], query)) continue;
    if (n-- == 0) {
      CopyTimingFromRefresh(query, &EstabParam[i]);
      return true;
    }
  }
  return false;
}

uint32_t HALPGetEDID1StandardTimingNumber(const uint8_t* edid, const MODEINFO* query, bool gtfAllowed) {
  uint32_t count = 0;
  ForEachStandardTiming(edid, query, gtfAllowed, [&count](const MODEINFO&) {
    ++count;
    return false;
  });
  return count;
}

bool HALPGetEDID1StandardTiming(const uint8_t* edid, MODEINFO* query, uint32_t n, bool gtfAllowed) {
  MODEINFO found;
  if (!ForEachStandardTiming(edid, query, gtfAllowed, [&n, &found](const MODEINFO& timing) {
        found = timing;
        return n-- == 0;
      }))
    return false;
  CopyTimingFromRefresh(query, &found);
  return true;
}

uint32_t HALPGetEDID1DetailedTimingNumber(const uint8_t* edid, const MODEINFO* query, uint32_t monitorFlags) {
  const uint8_t* descriptors[kMaxDetailedBuffer];
  const uint32_t count = HALPGetCompleteDetailedTimingBuffer(edid, descriptors);
  uint32_t matches = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t width = 0;
    uint32_t height = 0;
    bool doubled = false;
    HALPGetResFromDetailedTiming(descriptors[i], monitorFlags, &width, &height, &doubled);
    if (width != 0 && width == query->ulDispWidth && height == query->ulDispHeight) ++matches;
  }
  return matches;
}

bool HALPGetEDID1DetailedTiming(const uint8_t* edid, MODEINFO* query, uint32_t n, uint32_t monitorFlags) {
  const uint8_t* descriptors[kMaxDetailedBuffer];
  const uint32_t count = HALPGetCompleteDetailedTimingBuffer(edid, descriptors);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t width = 0;
    uint32_t height = 0;
    bool doubled = false;
    HALPGetResFromDetailedTiming(descriptors[i], monitorFlags, &width, &height, &doubled);
    if (width == 0 || width != query->ulDispWidth || height != query->ulDispHeight) continue;
    if (n-- != 0) continue;
    MODEINFO timing = *query;
    HALPGetTranslatedDetailedTimingInfo(descriptors[i], monitorFlags, &timing);
    CopyTimingFromRefresh(query, &timing);
    return true;
  }
  return false;
}
