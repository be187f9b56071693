// Processor fills and copies of 3D surfaces and the completion tag that
// follows every write the engine must see ordered.
#include "kernel/3d/surfaces/surface_fill.h"

#include <string.h>

#include <initializer_list>
#include <utility>

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr uint32_t kSecondaryRangeMode = 2;

uint32_t StoredWidth(const Surface3d* s) { return s->Bordered() ? s->width + 2 : s->width; }
uint32_t StoredHeight(const Surface3d* s) { return s->Bordered() ? s->height + 2 : s->height; }

bool RectInside(const uint32_t* r, uint32_t width, uint32_t height) {
  return r[0] <= r[2] && r[1] <= r[3] && r[2] <= width && r[3] <= height;
}

uint32_t PixelBytes(const Surface3d* s) {
  if (s->bytesPerPixel != 0) return s->bytesPerPixel;
  return s->hw.records[kUsageCpuView].GetBitsPerPixel() / 8;
}

uint32_t CpuPitch(const Surface3d* s) {
  if (s->accessThroughLockedCopy && s->lockedCopy.rowPitch != 0) return s->lockedCopy.rowPitch;
  if (s->MemoryKind() == kBlockKindCpuOnly) return StoredWidth(s) * s->bitsPerPixel / 8;
  return s->pitch;
}

// The processor address of a surface for a fill or copy: its ring's
// current buffer, or the surface itself.
uint8_t* Acquire(Surface3d* s) {
  if (s->ring != nullptr) return static_cast<uint8_t*>(s->ring->Lock(true, false));
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(s->Lock()));
}

void Release(Surface3d* s, bool written) {
  if (s->ring != nullptr) {
    s->ring->Unlock();
    if (written) s->MarkWritten();
  } else if (written) {
    s->Unlock();
  } else {
    s->UnlockRead();
  }
}

void StorePixel(uint8_t* at, uint32_t value, uint32_t bytes) { memcpy(at, &value, bytes); }

uint32_t LoadPixel(const uint8_t* at, uint32_t bytes) {
  uint32_t v = 0;
  memcpy(&v, at, bytes);
  return v;
}

CommonData* CommonOf(const Surface3d* s) { return s->owner != nullptr ? s->owner->common : nullptr; }

}  // namespace

uint32_t PostCompletionTag(CommonData* common, Surface3d* first, Surface3d* second, bool fillForm) {
  if (common == nullptr || common->sharedLocked == nullptr) return 0;
  SharedLockedData_t* shared = common->sharedLocked;
  BmSecondaryInt* secondary = common->secondaryStream;
  if (secondary == nullptr) return 0;
  const uint32_t tag = TakeNextTag(shared);
  for (Surface3d* s : {first, second}) {
    if (s == nullptr) continue;
    MmBlock* b = s->block != nullptr ? s->block : (s->master != nullptr ? s->master->block : nullptr);
    if (b != nullptr) b->drawSyncTag = static_cast<int32_t>(tag);
  }
  const TagValue value = ReadTagValue(shared);
  secondary->startFlags = kSecondaryRangeMode;
  StreamSink sink{secondary};
  if (fillForm) {
    if (!PutPacket(sink, PacketHeader(k2dIdxControl, k2dIdxSyncTag, value.index), kTagMaskWord, tag | kTagProgress,
                   value.word))
      return 0;
  } else if (!PutOperationTag(sink, kTagMaskWord, tag, value)) {
    return 0;
  }
  // The packet wrote register 0xC0: the current engine state writes its
  // control word there again.
  ControlWordOverwritten(common);
  if (!secondary->ExecutePending()) return 0;
  return tag;
}

bool SurfaceFillCpu(Surface3d* surface, const SurfaceFillRequest& request) {
  if (surface == nullptr) return false;
  const uint32_t* r = request.rect;
  if (!RectInside(r, StoredWidth(surface), StoredHeight(surface))) return false;
  const uint32_t bytes = PixelBytes(surface);
  if (bytes == 0 || bytes > 4) return false;
  uint8_t* base = Acquire(surface);
  if (base == nullptr) return false;
  const uint64_t pitch = CpuPitch(surface);
  const uint32_t width = r[2] - r[0];
  // Bits outside the write mask keep their value, as the engine's fill
  // keeps them (a depth clear leaves the stencil bits alone).
  const uint32_t pixelBits = bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
  const uint32_t mask = request.mask & pixelBits;
  for (uint32_t y = r[1]; y < r[3]; ++y) {
    uint8_t* row = base + y * pitch + uint64_t{r[0]} * bytes;
    if (mask != pixelBits) {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* at = row + uint64_t{x} * bytes;
        StorePixel(at, (LoadPixel(at, bytes) & ~mask) | (request.value & mask), bytes);
      }
    } else if (bytes == 1) {
      memset(row, static_cast<int>(request.value & 0xFF), width);
    } else if (bytes == 4) {
      auto* words = reinterpret_cast<uint32_t*>(row);
      if ((reinterpret_cast<uintptr_t>(row) & 3) == 0) {
        for (uint32_t x = 0; x < width; ++x) words[x] = request.value;
      } else {
        for (uint32_t x = 0; x < width; ++x) StorePixel(row + x * 4u, request.value, 4);
      }
    } else {
      for (uint32_t x = 0; x < width; ++x) StorePixel(row + uint64_t{x} * bytes, request.value, bytes);
    }
  }
  Release(surface, true);
  if ((request.flags & kFillNoTag) == 0) (void)PostCompletionTag(CommonOf(surface), surface, nullptr, true);
  return true;
}

namespace {

constexpr uint32_t kFillOperation = 0x500;
constexpr uint32_t kFillStateKind = 3;  // the preset of fills: descriptor 1, value, mask
constexpr uint32_t kCopyStateKind = 2;  // the preset of copies: descriptors 0 and 2, key
constexpr uint32_t kEnginePitchMask = 0x3FFF;

uint32_t RoundUp(uint32_t v, uint32_t unit) { return unit == 0 ? v : (v + unit - 1) / unit * unit; }

bool WholeTiledFill(const Surface3d* s, const uint32_t* r) {
  if (s->view.active) return false;
  const MmSurfDesc& d = s->hw.records[0];
  return r[0] == 0 && r[1] == 0 && r[2] == RoundUp(s->width, d.GetWidthGranularity()) &&
         r[3] == RoundUp(s->height, d.GetHeightGranularity());
}

// The engine's descriptor of a surface: record 0's address word and its
// mode word with the width field holding the row pitch in pixels (the
// engine steps rows by that field, and a surface's rows may be laid out
// wider than its width: a layout-2 surface 100 wide has rows of 128).
// False when the pitch is no whole number of pixels or too wide for the
// field.
bool EngineDescriptor(const Surface3d* s, uint32_t bytes, uint32_t* word0, uint32_t* word1, uint32_t usage = 0) {
  const uint32_t pitch = s->pitch;
  if (bytes == 0 || pitch == 0 || pitch % bytes != 0 || pitch / bytes > kEnginePitchMask) return false;
  *word0 = s->hw.records[usage].word0;
  *word1 = (s->hw.records[usage].word1 & ~kEnginePitchMask) | pitch / bytes;
  return true;
}

uint32_t Replicate(uint32_t value, uint32_t bytes) {
  if (bytes == 1) return (value & 0xFF) * 0x01010101u;
  if (bytes == 2) return (value & 0xFFFF) * 0x00010001u;
  return value;
}

}  // namespace

bool SurfaceEngineDescriptor(const Surface3d* surface, uint32_t* word0, uint32_t* word1) {
  return surface != nullptr && EngineDescriptor(surface, PixelBytes(surface), word0, word1);
}

bool SurfaceEngineRecord(const Surface3d* surface, uint32_t usage, uint32_t* word0, uint32_t* word1) {
  return surface != nullptr && usage < kUsageCount &&
         EngineDescriptor(surface, PixelBytes(surface), word0, word1, usage);
}

bool SurfaceFillEngine(Surface3d* surface, const SurfaceFillRequest& request) {
  if (surface == nullptr) return false;
  const uint32_t* r = request.rect;
  if (surface->layoutType == kLayoutTypeTiled) {
    if (!WholeTiledFill(surface, r)) return SurfaceFillCpu(surface, request);
  } else if (!RectInside(r, StoredWidth(surface), StoredHeight(surface))) {
    return false;
  }
  CommonData* common = CommonOf(surface);
  EngineOwner3d* owner = common != nullptr ? common->engineOwner3d : nullptr;
  ContextState3d* state = owner != nullptr ? owner->presets[kFillStateKind - 1] : nullptr;
  const uint32_t bytes = PixelBytes(surface);
  if (state == nullptr || bytes == 0 || bytes > 4) return false;
  uint32_t word0 = 0, word1 = 0;
  if (!EngineDescriptor(surface, bytes, &word0, &word1)) return SurfaceFillCpu(surface, request);
  surface->PrepareAccess(0);
  uint32_t x = r[0], y = r[1];
  if (surface->view.active) x += surface->view.x, y += surface->view.y;
  const uint32_t w = r[2] - r[0], h = r[3] - r[1];
  if (x > 0xFFFF || y > 0xFFFF || w > 0xFFFF || h > 0xFFFF) return false;
  const uint32_t rop = (request.flags & kFillRop) != 0 ? request.rop & 0xFF : kRopCopy;
  uint32_t* op = state->operationBlock;
  op[kOpCode] = kFillOperation | rop;
  op[kOpForeground] = Replicate(request.value, bytes);
  op[kOpOrigin] = y << 16 | x;
  op[kOpSizeGo] = h << 16 | w;
  op[kOpPlaneMask] = request.mask;
  op[kOpSurface88 + 1] = word0;
  op[kOpSurface89 + 1] = word1;
  owner->Execute(state, 0, false);
  if ((request.flags & kFillNoTag) == 0) (void)PostCompletionTag(common, surface, nullptr, false);
  surface->MarkWritten();
  return true;
}

bool SurfaceCopyEngine(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  if (destination == nullptr || source == nullptr) return false;
  const uint32_t* sr = request.source;
  const uint32_t* dr = request.destination;
  const bool tiledTo = destination->layoutType == kLayoutTypeTiled;
  if (tiledTo != (source->layoutType == kLayoutTypeTiled)) return false;
  if (tiledTo) {
    for (const auto& [s, r] : {std::pair<const Surface3d*, const uint32_t*>{source, sr}, {destination, dr}}) {
      const MmSurfDesc& d = s->hw.records[0];
      if (s->view.active || r[0] != 0 || r[1] != 0 || r[2] < RoundUp(s->width, d.GetWidthGranularity()) ||
          r[3] < RoundUp(s->height, d.GetHeightGranularity()) || r[0] > r[2] || r[1] > r[3])
        return false;
    }
  } else if (!RectInside(sr, StoredWidth(source), StoredHeight(source)) ||
             !RectInside(dr, StoredWidth(destination), StoredHeight(destination))) {
    return false;
  }
  const uint32_t bytes = PixelBytes(destination);
  if (bytes == 0 || bytes > 4 || PixelBytes(source) != bytes) return false;
  uint32_t w = sr[2] - sr[0], h = sr[3] - sr[1];
  if (dr[2] - dr[0] < w) w = dr[2] - dr[0];
  if (dr[3] - dr[1] < h) h = dr[3] - dr[1];
  int64_t sx = sr[0], sy = sr[1], dx = dr[0], dy = dr[1];
  if (source->view.active) sx += source->view.x, sy += source->view.y;
  if (destination->view.active) dx += destination->view.x, dy += destination->view.y;
  uint32_t op = ((request.flags & kCopyRop) != 0 ? request.rop & 0xFF : kRopCopy) | 0x202;
  if (destination == source && w > 0 && h > 0) {
    const int64_t rows = dy - sy;
    if ((rows >= -1 && rows <= 1) || (((dy ^ sy) & 1) != 0 && h >= 3))
      return SurfaceCopyOverlapping(destination, source, request);
    if (dy > sy && dy < sy + h && dx < sx + w && sx < dx + w) {
      sy += h - 1, dy += h - 1;
      op |= 0x2000;
    }
    if (dx > sx && dx < sx + w + 32) {
      sx += w - 1, dx += w - 1;
      op |= 0x1000;
    }
  }
  if (sx > 0xFFFF || sy > 0xFFFF || dx > 0xFFFF || dy > 0xFFFF || w > 0xFFFF || h > 0xFFFF) return false;
  CommonData* common = CommonOf(destination);
  EngineOwner3d* owner = common != nullptr ? common->engineOwner3d : nullptr;
  ContextState3d* state = owner != nullptr ? owner->presets[kCopyStateKind - 1] : nullptr;
  if (state == nullptr) return false;
  uint32_t key = 0, keyMask = 0;
  if ((request.flags & kCopyKey) != 0) {
    op |= 0x400000;
    key = Replicate(request.key, bytes);
    keyMask = bytes <= 2 ? 0xFFFFFFFF
              : (destination->format != nullptr && destination->format->code == 16) ? 0x3FFFFFFF
                                                                                    : 0x00FFFFFF;
  }
  uint32_t to0 = 0, to1 = 0, from0 = 0, from1 = 0;
  if (!EngineDescriptor(destination, bytes, &to0, &to1) || !EngineDescriptor(source, bytes, &from0, &from1))
    return false;
  source->PrepareAccess(1);
  destination->PrepareAccess(0);
  uint32_t* block = state->operationBlock;
  block[kOpCode] = op;
  block[kOpPlaneMask] = request.mask;
  block[kOpForeground] = key;
  block[kOpBackground] = keyMask;
  block[kOpSizeGo] = h << 16 | w;
  block[kOpOrigin] = static_cast<uint32_t>(dy) << 16 | static_cast<uint32_t>(dx);
  block[kOpStart] = static_cast<uint32_t>(sy) << 16 | static_cast<uint32_t>(sx);
  block[kOpSurface88] = to0;
  block[kOpSurface89] = to1;
  block[kOpSurface88 + 2] = from0;
  block[kOpSurface89 + 2] = from1;
  owner->Execute(state, 0, false);
  if ((request.flags & kCopyNoTag) == 0) (void)PostCompletionTag(common, destination, source, false);
  destination->MarkWritten();
  return true;
}

bool SurfaceCopyWholeMemory(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request,
                            bool engine) {
  if (destination == nullptr || source == nullptr || destination->pitch == 0) return false;
  const MmSurfDesc& d = destination->hw.records[0];
  const uint32_t width = RoundUp(destination->width, d.GetWidthGranularity());
  uint32_t rows = RoundUp(destination->height, d.GetHeightGranularity());
  const uint64_t bits = destination->bitsPerPixel;
  uint64_t bytes = uint64_t{width} * rows * bits / 8;
  const uint32_t alignment = destination->hw.records[7].GetRequiredAlignment(false);
  const uint64_t rowBytes = uint64_t{width} * bits / 8;
  if (alignment != 0 && alignment != kMmInvalid && rowBytes != 0) {
    while (bytes % alignment != 0 && rows < 0xFFFF) {
      bytes += rowBytes;
      ++rows;
    }
  }
  const MmBlock* to = destination->block != nullptr ? destination->block
                      : destination->master != nullptr ? destination->master->block : nullptr;
  const MmBlock* from = source->block != nullptr ? source->block
                        : source->master != nullptr ? source->master->block : nullptr;
  const uint64_t inTo = to != nullptr ? to->size : 0, inFrom = from != nullptr ? from->size : 0;
  if (engine && PixelBytes(destination) != 0 && destination->layoutType == source->layoutType) {
    // Whole rows of the engine's pitch, never past either block.
    const uint64_t span = uint64_t{rows} * destination->pitch;
    if (span <= inTo && uint64_t{rows} * source->pitch <= inFrom) {
      SurfaceCopyRequest whole = request;
      const uint32_t r[4] = {0, 0, width, rows};
      memcpy(whole.source, r, sizeof(r));
      memcpy(whole.destination, r, sizeof(r));
      return SurfaceCopyEngine(destination, source, whole);
    }
    return false;
  }
  // The processor: the same bytes, bounded by both blocks.
  if (bytes > inTo) bytes = inTo;
  if (bytes > inFrom) bytes = inFrom;
  if (!source->inSync && !source->syncSuspended) source->RunSyncSequence();
  destination->PrepareAccess(2);
  uint8_t* t = Acquire(destination);
  uint8_t* f = t != nullptr ? Acquire(source) : nullptr;
  if (t == nullptr || f == nullptr) {
    if (t != nullptr) Release(destination, false);
    return false;
  }
  memmove(t, f, bytes);
  Release(source, false);
  Release(destination, true);
  if ((request.flags & kCopyNoTag) == 0) (void)PostCompletionTag(CommonOf(destination), destination, source, false);
  return true;
}

bool SurfaceFill(Surface3d* surface, const SurfaceFillRequest& request) {
  if (surface == nullptr) return false;
  const uint32_t* r = request.rect;
  if (surface->layoutType == kLayoutTypeTiled) {
    // Only a whole fill goes to the engine, over the rounded-up surface.
    if (surface->view.active || r[0] != 0 || r[1] != 0 || r[2] != surface->width || r[3] != surface->height)
      return SurfaceFillCpu(surface, request);
    SurfaceFillRequest whole = request;
    whole.rect[2] = RoundUp(r[2], kWidthGranularity);
    whole.rect[3] = RoundUp(r[3], kWidthGranularity);
    return SurfaceFillEngine(surface, whole);
  }
  if (surface->MemoryKind() == kBlockKindCpuOnly) return SurfaceFillCpu(surface, request);
  return SurfaceFillEngine(surface, request);
}

bool SurfaceCopyCpu(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  if (destination == nullptr || source == nullptr) return false;
  const uint32_t* sr = request.source;
  const uint32_t* dr = request.destination;
  if (!RectInside(sr, StoredWidth(source), StoredHeight(source)) ||
      !RectInside(dr, StoredWidth(destination), StoredHeight(destination)))
    return false;
  uint32_t w = sr[2] - sr[0], h = sr[3] - sr[1];
  // The destination rectangle bounds what is written.
  if (dr[2] - dr[0] < w) w = dr[2] - dr[0];
  if (dr[3] - dr[1] < h) h = dr[3] - dr[1];
  const bool same = destination == source;
  const bool compressed = destination->format != nullptr && destination->format->formatClass == kClassBlockCompressed;
  uint32_t bytes = PixelBytes(destination);
  if (!compressed && (bytes == 0 || bytes > 4 || PixelBytes(source) != bytes)) return false;

  if (!source->inSync && !source->syncSuspended) source->RunSyncSequence();
  destination->PrepareAccess(2);
  uint8_t* to = Acquire(destination);
  uint8_t* from = same ? to : (to != nullptr ? Acquire(source) : nullptr);
  if (to == nullptr || from == nullptr) {
    if (to != nullptr) Release(destination, false);
    if (!same && from != nullptr) Release(source, false);
    return false;
  }
  uint64_t toPitch = CpuPitch(destination), fromPitch = CpuPitch(source);
  uint32_t sx = sr[0], sy = sr[1], dx = dr[0], dy = dr[1];
  if (compressed) {
    // One row of 4 x 4 blocks at a time.
    bytes = destination->format->code == 1 ? 8 : 16;
    sx = (sx + 3) / 4, sy = (sy + 3) / 4, dx = (dx + 3) / 4, dy = (dy + 3) / 4;
    w = (w + 3) / 4, h = (h + 3) / 4;
    toPitch *= 4;
    fromPitch *= 4;
  }
  const bool keyed = (request.flags & kCopyKey) != 0 && !compressed;
  const uint32_t keyMask = !keyed ? 0 : bytes >= 4 ? 0xFFFFFFFFu : (1u << (bytes * 8)) - 1;
  const uint32_t key = request.key & keyMask;
  // Within one surface: bottom-up when the destination starts below the
  // source within its height; right to left on the same rows.
  const bool bottomUp = same && dy > sy && dy - sy < h;
  const bool rightToLeft = same && dy == sy && dx > sx && dx - sx < w;
  const uint64_t rowBytes = uint64_t{w} * bytes;
  for (uint32_t i = 0; i < h; ++i) {
    const uint32_t row = bottomUp ? h - 1 - i : i;
    uint8_t* t = to + (uint64_t{dy} + row) * toPitch + uint64_t{dx} * bytes;
    const uint8_t* f = from + (uint64_t{sy} + row) * fromPitch + uint64_t{sx} * bytes;
    if (!keyed) {
      LocMemCpy(t, f, rowBytes);
      continue;
    }
    for (uint32_t j = 0; j < w; ++j) {
      const uint32_t x = rightToLeft ? w - 1 - j : j;
      const uint32_t pixel = LoadPixel(f + uint64_t{x} * bytes, bytes);
      if ((pixel & keyMask) != key) StorePixel(t + uint64_t{x} * bytes, pixel, bytes);
    }
  }
  if (!same) Release(source, false);
  Release(destination, true);
  if ((request.flags & kCopyNoTag) == 0)
    (void)PostCompletionTag(CommonOf(destination), destination, same ? nullptr : source, false);
  return true;
}

// ---- Video pixels ------------------------------------------------------------------------------

namespace {

uint32_t Channel(double value) {
  if (value < 0.0) value = 0.0;
  if (value > 1.0) value = 1.0;
  return static_cast<uint32_t>(value * 255.0 + 0.5);
}

uint32_t YuvToArgb(uint32_t y, uint32_t u, uint32_t v) {
  const double yy = static_cast<double>(y) - 16.0;
  const double uu = static_cast<double>(u) - 128.0;
  const double vv = static_cast<double>(v) - 128.0;
  const double r = 0.00456621 * yy + 0.00625893 * vv;
  const double g = 0.00456621 * yy - 0.00153632 * uu - 0.00318811 * vv;
  const double b = 0.00456621 * yy + 0.00791071 * uu;
  return 0xFF000000u | Channel(r) << 16 | Channel(g) << 8 | Channel(b);
}

// The packed 4:2:2 sample of pixel x of a row: luma, and the chroma byte
// (U at even pixels, V at odd ones).
struct Packed {
  const uint8_t* row;
  uint32_t width;
  uint32_t lumaByte;
  uint32_t Chroma(uint32_t x) const { return row[x * 2 + (1 - lumaByte)]; }
};

}  // namespace

uint32_t FetchVideoPixel(uint32_t formatCode, const uint8_t* base, uint32_t pitch, uint32_t width,
                         uint32_t height, uint32_t x, uint32_t y) {
  if (base == nullptr || x >= width || y >= height) return 0;
  switch (formatCode) {
    case 39: {  // Y, then V and U planes of half pitch and half height
      const uint32_t ch = height / 2 == 0 ? 1 : height / 2;
      const uint32_t cp = pitch / 2;
      const uint32_t cx = x / 2 < cp ? x / 2 : (cp == 0 ? 0 : cp - 1);
      const uint32_t cy = y / 2 < ch ? y / 2 : ch - 1;
      const uint8_t* v = base + uint64_t{pitch} * height;
      const uint8_t* u = v + uint64_t{cp} * ch;
      return YuvToArgb(base[uint64_t{y} * pitch + x], u[uint64_t{cy} * cp + cx], v[uint64_t{cy} * cp + cx]);
    }
    case 40: {  // Y, then one plane of U (low) and V (high) byte pairs
      const uint32_t ch = height / 2 == 0 ? 1 : height / 2;
      const uint32_t pairs = pitch / 2;
      const uint32_t cx = x / 2 < pairs ? x / 2 : (pairs == 0 ? 0 : pairs - 1);
      const uint32_t cy = y / 2 < ch ? y / 2 : ch - 1;
      const uint8_t* pair = base + uint64_t{pitch} * height + uint64_t{cy} * pitch + uint64_t{cx} * 2;
      return YuvToArgb(base[uint64_t{y} * pitch + x], pair[0], pair[1]);
    }
    case 41:
    case 42: {
      const Packed p{base + uint64_t{y} * pitch, width, formatCode == 41 ? 1u : 0u};
      const uint32_t luma = p.row[x * 2 + p.lumaByte];
      // The sample two to the right, or the pixel's own at the row's end.
      const uint32_t twoRight = x + 2 < width ? x + 2 : x;
      uint32_t u, v;
      if ((x & 1) == 0) {
        // U of itself and of x + 2, V of both neighbours.
        u = (p.Chroma(x) + p.Chroma(twoRight) + 1) / 2;
        if (width == 1) {
          v = 128;  // a one-pixel row has no V
        } else {
          const uint32_t left = x >= 1 ? x - 1 : x + 1;
          const uint32_t right = x + 1 < width ? x + 1 : left;
          v = (p.Chroma(left) + p.Chroma(right) + 1) / 2;
        }
      } else {
        // U of both neighbours, V of itself and of x + 2.
        const uint32_t right = x + 1 < width ? x + 1 : x - 1;
        u = (p.Chroma(x - 1) + p.Chroma(right) + 1) / 2;
        v = (p.Chroma(x) + p.Chroma(twoRight) + 1) / 2;
      }
      return YuvToArgb(luma, u, v);
    }
    default:
      return 0;
  }
}

// ---- Software blit -----------------------------------------------------------------------------

namespace {

constexpr uint32_t kFixedShift = 19;

bool OrderedInside(const int32_t* r, uint32_t width, uint32_t height) {
  return r[0] >= 0 && r[1] >= 0 && r[0] <= r[2] && r[1] <= r[3] && static_cast<uint32_t>(r[2]) <= width &&
         static_cast<uint32_t>(r[3]) <= height;
}

// An ARGB colour in a format's channels: each 8-bit channel scaled to its
// field.
uint32_t ArgbToFormat(const FormatDescriptor* f, uint32_t argb) {
  const uint32_t channels[4] = {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha};
  const uint32_t shifts[4] = {16, 8, 0, 24};
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t mask = f->masks[channels[i]];
    const uint32_t shift = f->shifts[channels[i]];
    if (mask == 0 || shift >= 32) continue;
    const uint64_t top = mask >> shift;
    const uint64_t c = (argb >> shifts[i]) & 0xFF;
    out |= static_cast<uint32_t>((c * top / 255) << shift) & mask;
  }
  return out;
}

}  // namespace

bool SurfaceBlitSoftware(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  if (destination == nullptr || source == nullptr || destination->format == nullptr || source->format == nullptr)
    return false;
  const int32_t* s = request.source;
  const int32_t* c = request.clipped;
  const int32_t* f = request.full;
  if (!OrderedInside(s, StoredWidth(source), StoredHeight(source)) ||
      !OrderedInside(c, StoredWidth(destination), StoredHeight(destination)))
    return false;
  if (f[2] <= f[0] || f[3] <= f[1] || s[2] <= s[0] || s[3] <= s[1]) return false;
  if (c[0] < f[0] || c[1] < f[1] || c[2] > f[2] || c[3] > f[3]) return false;
  if (c[2] == c[0] || c[3] == c[1]) return true;
  const uint32_t bytes = PixelBytes(destination);
  const bool video = source->format->formatClass == kClassVideo;
  if (bytes == 0 || bytes > 4 || (!video && PixelBytes(source) != bytes)) return false;
  if (video) {
    // The chroma planes follow the luma plane: they must be in the block.
    const MmBlock* b = source->block != nullptr ? source->block : (source->master != nullptr ? source->master->block : nullptr);
    const uint64_t pitch = CpuPitch(source), h = StoredHeight(source), ch = h / 2 == 0 ? 1 : h / 2;
    const uint32_t code = source->format->code;
    const uint64_t need = code == 39 ? pitch * h + 2 * (pitch / 2) * ch : code == 40 ? pitch * h + pitch * ch : pitch * h;
    if (b == nullptr || b->size < need + (source->inSet ? source->levelEntry.offset : 0)) return false;
  }

  // 13.19 fixed point in 64 bits: a 4,096-pixel side times its step
  // overflows 32.
  const uint64_t fullW = static_cast<uint64_t>(int64_t{f[2]} - f[0]);
  const uint64_t fullH = static_cast<uint64_t>(int64_t{f[3]} - f[1]);
  const uint64_t stepX = (static_cast<uint64_t>(s[2] - s[0]) << kFixedShift) / fullW;
  const uint64_t stepY = (static_cast<uint64_t>(s[3] - s[1]) << kFixedShift) / fullH;
  const uint64_t startX = (uint64_t{static_cast<uint32_t>(s[0])} << kFixedShift) + uint64_t(c[0] - f[0]) * stepX;
  const uint64_t startY = (uint64_t{static_cast<uint32_t>(s[1])} << kFixedShift) + uint64_t(c[1] - f[1]) * stepY;
  const uint32_t lastX = static_cast<uint32_t>(s[2]) - 1, lastY = static_cast<uint32_t>(s[3]) - 1;

  if (!source->inSync && !source->syncSuspended) source->RunSyncSequence();
  destination->PrepareAccess(2);
  const bool same = destination == source;
  uint8_t* to = Acquire(destination);
  uint8_t* from = same ? to : (to != nullptr ? Acquire(source) : nullptr);
  if (to == nullptr || from == nullptr) {
    if (to != nullptr) Release(destination, false);
    return false;
  }
  const uint64_t toPitch = CpuPitch(destination), fromPitch = CpuPitch(source);
  const bool keyed = (request.flags & kBlitKey) != 0;
  const uint32_t keyMask = bytes >= 4 ? 0xFFFFFFFFu : (1u << (bytes * 8)) - 1;
  uint64_t fy = startY;
  for (int32_t y = c[1]; y < c[3]; ++y, fy += stepY) {
    uint32_t sy = static_cast<uint32_t>(fy >> kFixedShift);
    if (sy > lastY) sy = lastY;
    uint8_t* row = to + static_cast<uint64_t>(y) * toPitch;
    uint64_t fx = startX;
    if (bytes == 4 && !video && !keyed) {
      // The common case: whole words, no conversion, no key.
      const uint8_t* line = from + sy * fromPitch;
      for (int32_t x = c[0]; x < c[2]; ++x, fx += stepX) {
        uint32_t sx = static_cast<uint32_t>(fx >> kFixedShift);
        if (sx > lastX) sx = lastX;
        uint32_t v;
        memcpy(&v, line + uint64_t{sx} * 4, 4);
        memcpy(row + static_cast<uint64_t>(x) * 4, &v, 4);
      }
      continue;
    }
    for (int32_t x = c[0]; x < c[2]; ++x, fx += stepX) {
      uint32_t sx = static_cast<uint32_t>(fx >> kFixedShift);
      if (sx > lastX) sx = lastX;
      uint32_t pixel;
      if (video) {
        pixel = ArgbToFormat(destination->format,
                             FetchVideoPixel(source->format->code, from, static_cast<uint32_t>(fromPitch),
                                             source->width, source->height, sx, sy));
      } else {
        pixel = LoadPixel(from + sy * fromPitch + uint64_t{sx} * bytes, bytes);
      }
      if (keyed && (pixel & keyMask) == (request.key & keyMask)) continue;
      StorePixel(row + static_cast<uint64_t>(x) * bytes, pixel, bytes);
    }
  }
  if (!same) Release(source, false);
  Release(destination, true);
  if ((request.flags & kBlitNoTag) == 0)
    (void)PostCompletionTag(CommonOf(destination), destination, same ? nullptr : source, false);
  return true;
}
