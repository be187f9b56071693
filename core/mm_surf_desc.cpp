// The surface descriptor's rules (both builds): bits per pixel, alignment,
// height granularity, physical size and the host-aperture layout.
#include "core/mm_surface.h"

namespace {

// Column of the alignment tables.
enum DepthClass { kDepth1or8, kDepth4, kDepth16, kDepth32, kDepthOther };

DepthClass ClassOf(uint32_t bpp) {
  switch (bpp) {
    case 1:
    case 8:
      return kDepth1or8;
    case 4:
      return kDepth4;
    case 16:
      return kDepth16;
    case 30:
    case 32:
      return kDepth32;
    default:
      return kDepthOther;
  }
}

constexpr uint32_t X = kMmInvalid;

// Alignment in bytes by layout (rows 0..5) and depth class; tiled layouts
// take only 8 bpp in the first column, so 1 bpp is handled by the caller.
constexpr uint32_t kSystemAlign[6][4] = {
    {32, 32, 32, 32},       // plain buffer
    {32, X, 64, 128},       // pitch-linear
    {512, X, 1024, 2048},   // tiled 2
    {512, X, 1024, 2048},   // tiled 3
    {512, X, 1024, 2048},   // tiled 4
    {512, 256, X, X},       // tiled 5
};
// Local memory: {flag clear, flag set}.
constexpr uint32_t kLocalAlign[6][4][2] = {
    {{64, 512}, {64, 512}, {64, 512}, {64, 512}},            // plain buffer
    {{64, 64}, {X, X}, {64, 128}, {256, 256}},               // pitch-linear
    {{1024, 8192}, {X, X}, {2048, 4096}, {4096, 8192}},      // tiled 2
    {{1024, 8192}, {X, X}, {2048, 4096}, {4096, 8192}},      // tiled 3
    {{1024, 4096}, {X, X}, {2048, 8192}, {2048, 8192}},      // tiled 4
    {{1024, 4096}, {512, 2048}, {X, X}, {X, X}},             // tiled 5
};

uint64_t RoundUp(uint64_t value, uint64_t granule) {
  if (granule == 0) return value;
  return (value + granule - 1) / granule * granule;
}

uint64_t NextPowerOfTwo(uint64_t value) {
  uint64_t power = 1;
  while (power < value) power <<= 1;
  return power;
}

uint32_t Fit32(uint64_t value, uint32_t invalid) {
  return value > 0xFFFFFFFFull ? invalid : static_cast<uint32_t>(value);
}

}  // namespace

// ---- MmSurfDesc -------------------------------------------------------------------------

uint32_t MmSurfDesc::GetBitsPerPixel() const {
  switch (Format()) {
    case 0x00: case 0x02: case 0x04: case 0x05:
      return 1;
    case 0x08:
      return 4;
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x10: case 0x11: case 0x12:
      return 8;
    case 0x20: case 0x21: case 0x22: case 0x24: case 0x25: case 0x26: case 0x27:
    case 0x28: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E:
      return 16;
    case 0x30: case 0x32: case 0x33: case 0x34: case 0x36: case 0x38: case 0x3A: case 0x3B:
      return 32;
    default:
      return 0;
  }
}

uint32_t MmSurfDesc::GetRequiredAlignment(bool strict) const {
  return GetAlignmentAndGranularityREVB(strict);
}

uint32_t MmSurfDesc::GetAlignmentAndGranularityREVB(bool strict) const {
  const uint32_t layout = Layout();
  if (layout > kLayoutTiledLast) return kMmInvalid;
  const uint32_t bpp = GetBitsPerPixel();
  DepthClass column = ClassOf(bpp);
  if (layout == kLayoutPlain) column = kDepth1or8;  // any depth
  if (column == kDepthOther) return kMmInvalid;
  // Tiled layouts take 8 bpp but not 1 bpp.
  if (layout >= kLayoutTiledFirst && bpp == 1) return kMmInvalid;

  if (MemoryBits() != kMemLocal) return kSystemAlign[layout][column];
  const uint32_t alignment = kLocalAlign[layout][column][strict ? 1 : 0];
  // The later generation halves local alignments; an invalid one stays invalid.
  if (alignment != kMmInvalid && IsLaterGeneration()) return alignment >> 1;
  return alignment;
}

uint32_t MmSurfDesc::GetHeightGranularity() const {
  if (MemoryBits() != kMemLocal) return kSystemHeightGranularity;
  const bool later = IsLaterGeneration();
  switch (Layout()) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 2:
    case 3:
      return later ? 16 : 32;
    case 4:
    case 5:
      if (later) return 32;
      if (ClassOf(GetBitsPerPixel()) == kDepth32) return Height() <= 16 ? 16 : 32;
      return Height() <= 32 ? 32 : 64;
    default:
      return kMmInvalid;
  }
}

uint32_t MmSurfDesc::GetPhysicalMemSize(bool strict) const {
  const uint32_t layout = Layout();
  if (layout > kLayoutTiledLast) return kMmInvalid;
  const uint32_t alignment = GetRequiredAlignment(strict);
  if (alignment == kMmInvalid) return kMmInvalid;
  if (layout == kLayoutPlain) return Fit32(RoundUp(size, alignment), kMmInvalid);

  const uint32_t heightGranule = GetHeightGranularity();
  if (heightGranule == kMmInvalid) return kMmInvalid;
  const uint64_t w = RoundUp(Width(), kWidthGranularity);
  const uint64_t h = RoundUp(Height(), heightGranule);
  const uint64_t slice = w * h * GetBitsPerPixel() / 8;
  // Computed wide: a description whose size passes 32 bits is invalid, not
  // a small wrapped size.
  return Fit32(RoundUp(uint64_t{Depth()} * slice, alignment), kMmInvalid);
}

uint32_t MmSurfDesc::GetHostAperturePitch() const {
  const uint32_t bpp = GetBitsPerPixel();
  const uint32_t layout = Layout();
  uint64_t pixels;
  if (word1 & kDescFixedPitch) {
    pixels = kFixedPitchPixels;
  } else if (layout <= kLayoutPitchLinear) {
    pixels = RoundUp(Width(), kWidthGranularity);
  } else if (layout <= kLayoutTiledLast) {
    pixels = NextPowerOfTwo(Width() > kWidthGranularity ? Width() : kWidthGranularity);
  } else {
    return 0;
  }
  return Fit32(pixels * bpp / 8, 0);
}

uint32_t MmSurfDesc::GetHostApertureSize() const {
  const uint32_t layout = Layout();
  if (layout == kLayoutPlain) return Fit32(RoundUp(size, 32), 0);
  if (layout == kLayoutPitchLinear) {
    return Fit32(RoundUp(Height(), 2) * GetHostAperturePitch(), 0);
  }
  if (layout > kLayoutTiledLast) return 0;
  const uint32_t heightGranule = GetHeightGranularity();
  if (heightGranule == kMmInvalid) return 0;
  uint64_t lines = RoundUp(Height(), heightGranule);
  if (Depth() >= 2) lines = uint64_t{Depth()} * NextPowerOfTwo(lines);
  return Fit32(lines * GetHostAperturePitch(), 0);
}
