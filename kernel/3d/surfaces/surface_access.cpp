// The processor's access to 3D surfaces: locks, transfers between a
// surface and client memory in every layout, the page-locked copy, and the
// synchronisation that follows processor writes (edge replication, the
// companion copy, a render target flushed first).
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/surfaces/surface_fill.h"

#include <string.h>

#include "core/common_data.h"
#include "core/common_data_kernel.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/vidmem/surface_mapper.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr uint32_t kTileWidth = 32;
constexpr uint32_t kBlockSide = 4;
// Formats whose rows move in whole 32-bit words.
constexpr uint32_t kFormatPackedA = 41;
constexpr uint32_t kFormatPackedB = 42;
constexpr uint32_t kFormatWide = 16;
// Usage bits of the owner device that keep the padding row as it is.
constexpr uint32_t kUsageNoRowReplication = 0x7FC00;

uint64_t RoundUp64(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

bool IsCompressed(const Surface3d* s) { return s->format != nullptr && s->format->formatClass == kClassBlockCompressed; }

// Where the pixels of a transfer are: the surface-side and client-side
// origins and the extent, in pixels (compressed formats: still pixels, the
// variants step by blocks).
struct Region {
  uint32_t sx, sy, sz;
  uint32_t cx, cy, cz;
  uint32_t w, h, d;
};

// The surface's processor address by the memory kind of its block, and
// whether a host aperture was locked for it.
struct Mapping {
  uint8_t* cpu = nullptr;
  uint64_t bus = 0;
  bool aperture = false;
};

bool KindUsesAperture(uint32_t kind) { return kind == 0 || kind == 1 || kind == 7; }

}  // namespace

uint64_t TiledPixelOffset(uint32_t x, uint32_t y, uint32_t z, uint32_t width, uint32_t depth,
                          uint32_t bytesPerPixel) {
  uint32_t shift = 0;
  uint64_t inTile = 0;
  switch (bytesPerPixel) {
    case 4:
      shift = 11;
      inTile = ((y & 12u) << 7) | ((x % 32u) * 16u) | ((y & 3u) * 4u);
      break;
    case 2:
      shift = 10;
      inTile = ((y & 12u) * 64u) | ((x & 30u) * 8u) | ((x & 1u) * 2u) | ((y & 3u) * 4u);
      break;
    case 1:
      shift = 9;
      inTile = ((y & 12u) * 32u) | ((x & 28u) * 4u) | (x & 3u) | ((y & 3u) * 4u);
      break;
    default:
      return 0;
  }
  const uint64_t w32 = RoundUp64(width, kTileWidth);
  const uint64_t tile = ((uint64_t{y >> 4} * w32) + x) >> 5;
  return ((tile * depth + z) << shift) + inTile;
}

uint64_t TiledBlockOffset(uint32_t x, uint32_t y, uint32_t z, uint32_t width, uint32_t depth,
                          uint32_t formatCode, uint32_t bitsPerPixel) {
  const uint64_t w32 = RoundUp64(width, kTileWidth);
  const uint64_t tile = ((uint64_t{y >> 4} * w32) + x) >> 5;
  const uint32_t shift = formatCode == 1 ? 8 : 9;
  const uint64_t inTile = bitsPerPixel == 4 ? (((y & 12u) << 4) | ((x & 28u) * 2u))
                                            : (((y & 12u) * 32u) | ((x & 28u) * 4u));
  return ((tile * depth + z) << shift) + inTile;
}

// ---- Engine wait and addresses -----------------------------------------------------------------

uint32_t Surface3d::MemoryKind() const {
  const MmBlock* b = block;
  if (b == nullptr && master != nullptr) b = master->block;
  return b != nullptr ? placedKind : kMemoryKindNone;
}

bool Surface3d::AwaitEngine() {
  if (!KernelWait("surface DMA", [&] { return !IsBusyDMA(); })) return false;
  if (!KernelWait("surface drawing", [&] {
        uint32_t tag = kSyncTagOfBlock;
        return !IsBusyDWG(&tag, false);
      }))
    return false;
  if (owner != nullptr && owner->common != nullptr) SurfaceFlushEngineCaches(owner->common);
  return true;
}

namespace {

// The longest chain of clones of clones followed to the memory's owner;
// a chain is as long as the clones a client made of clones.
constexpr uint32_t kMaxCloneChain = 64;

// The surface that owns the memory: a clone's master, or where clones were
// made of clones, the master at the chain's root (the levels of a texture
// set share their master's block); null past the longest chain. A window
// made for the memory belongs to that surface, which gives it back with
// its block; a clone never frees one.
MmSurface* MemoryOwner(Surface3d* s) {
  MmSurface* owner = s;
  for (uint32_t i = 0; i < kMaxCloneChain && owner->master != nullptr; ++i) owner = owner->master;
  return owner->master == nullptr ? owner : nullptr;
}

// The owner's window over the memory, or null.
MmHostAperture* OwnersWindow(Surface3d* s) {
  const MmSurface* owner = MemoryOwner(s);
  return owner != nullptr ? owner->aperture : nullptr;
}

// Local memory without a mapping of its own: a window of the host aperture
// over the owner's whole block (it goes with the owner's block).
bool LockLocalWindow(Surface3d* s, const MmBlock* b, Mapping* m) {
  MmSurface* owner = MemoryOwner(s);
  if (owner == nullptr) return false;
  CommonData* common = s->owner != nullptr ? s->owner->common : nullptr;
  MmSurfaceMapper* mapper = common != nullptr && common->memoryRecord != nullptr ? common->memoryRecord->mapper : nullptr;
  if (owner->aperture == nullptr) {
    if (mapper == nullptr || b->size == 0 || b->size > 0xFFFFFFFFu) return false;
    MmHostApertureDesc window = {};
    window.options = kApertureExplicitSize;
    window.explicitSize = static_cast<uint32_t>(b->size);
    window.desc = owner->options.desc;
    window.desc.word0 = owner->busWord;
    window.desc.size = static_cast<uint32_t>(b->size);
    owner->aperture = new MmHostAperture(window);
    if (owner->aperture == nullptr) return false;
    owner->aperture->mapper = mapper;
    owner->aperture->common = common;
  }
  m->aperture = owner->aperture->Lock(&m->bus, &m->cpu);
  if (!m->aperture) m->cpu = nullptr;
  return m->aperture;
}

Mapping MapByKind(Surface3d* s) {
  Mapping m;
  const MmBlock* b = s->block != nullptr ? s->block : (s->master != nullptr ? s->master->block : nullptr);
  if (b == nullptr) return m;
  MmHostAperture* aperture = OwnersWindow(s);
  switch (s->MemoryKind()) {
    case 0:
    case 7:
      if (aperture == nullptr) {
        m.cpu = b->cpuAddress;
        if (m.cpu == nullptr && s->owner != nullptr && s->owner->common != nullptr &&
            s->owner->common->memoryManager != nullptr)
          m.cpu = s->owner->common->memoryManager->FrameBufferWindowAddress(b->busAddress, b->size);
        m.bus = b->busAddress;
        if (m.cpu != nullptr) return m;
      }
      (void)LockLocalWindow(s, b, &m);
      return m;
    case 1:
      if (aperture != nullptr) {
        m.aperture = aperture->Lock(&m.bus, &m.cpu);
        if (!m.aperture) m.cpu = nullptr;
      }
      return m;
    case 2:
    case 3:
    case 6:
      m.cpu = b->cpuAddress;
      m.bus = b->busAddress;
      return m;
    case 4:
      m.cpu = b->cpuAddress;
      return m;
    default:
      return m;
  }
}

void Unmap(Surface3d* s, const Mapping& m) {
  MmHostAperture* aperture = OwnersWindow(s);
  if (m.aperture && aperture != nullptr) aperture->Unlock();
}

// Bytes from the surface's address to the end of its memory (0: unknown).
uint64_t MemoryBytes(const Surface3d* s) {
  const MmBlock* b = s->block != nullptr ? s->block : (s->master != nullptr ? s->master->block : nullptr);
  return b != nullptr ? b->size : 0;
}

// The byte offset of a texture-set level inside the set's block.
uint64_t SetOffsetOf(const Surface3d* s) {
  if (!s->inSet) return 0;
  // The small levels share one packed area, each at its own place in it.
  const uint64_t packed = s->levelEntry.packIndex != kNotPacked ? s->levelEntry.packOffset : 0;
  return uint64_t{s->levelEntry.offset} + s->setOffset + packed;
}

uint32_t StoredWidth(const Surface3d* s) { return s->Bordered() ? s->width + 2 : s->width; }
uint32_t StoredHeight(const Surface3d* s) { return s->Bordered() ? s->height + 2 : s->height; }

uint64_t SurfaceSlicePitch(const Surface3d* s) {
  const uint64_t rows = IsCompressed(s) ? RoundUp64(StoredHeight(s), kBlockSide) : StoredHeight(s);
  return uint64_t{s->pitch} * rows;
}

// The region of the request, checked against the surface and against the
// client memory; false for anything reversed, negative or outside either.
bool RegionOf(const Surface3d* s, const SurfaceLockRequest& r, bool box, Region* out) {
  const bool read = r.direction == kLockRead;
  uint32_t left, top, right, bottom, front = 0, back = 1, px, py, pz = 0;
  if ((r.flags & kLockWhole) != 0) {
    left = top = 0;
    right = StoredWidth(s);
    bottom = StoredHeight(s);
    back = box ? s->depth : 1;
    px = py = 0;
  } else if (box) {
    left = r.box[0];
    top = r.box[1];
    right = r.box[2];
    bottom = r.box[3];
    front = r.box[4];
    back = r.box[5];
    px = r.boxDestX;
    py = r.boxDestY;
    pz = r.boxDestZ;
  } else {
    if (r.source[0] < 0 || r.source[1] < 0 || r.source[2] < 0 || r.source[3] < 0) return false;
    left = static_cast<uint32_t>(r.source[0]);
    top = static_cast<uint32_t>(r.source[1]);
    right = static_cast<uint32_t>(r.source[2]);
    bottom = static_cast<uint32_t>(r.source[3]);
    px = r.destX;
    py = r.destY;
  }
  if (right < left || bottom < top || back < front) return false;
  Region g;
  g.w = right - left;
  g.h = bottom - top;
  g.d = back - front;
  if (read) {
    g.sx = left, g.sy = top, g.sz = front;
    g.cx = px, g.cy = py, g.cz = pz;
  } else {
    g.cx = left, g.cy = top, g.cz = front;
    g.sx = px, g.sy = py, g.sz = pz;
  }
  *out = g;
  if (g.w == 0 || g.h == 0 || g.d == 0) return true;
  if (uint64_t{g.sx} + g.w > StoredWidth(s) || uint64_t{g.sy} + g.h > StoredHeight(s) ||
      uint64_t{g.sz} + g.d > s->depth)
    return false;
  if (r.clientAddress == 0) return false;
  // The client's last byte, from the last slice, row and column the region
  // reaches. The client's origin is anything the caller sends: every sum is
  // taken in 64 bits, and a total that does not fit is outside the memory.
  uint64_t slice, row, column;
  if (IsCompressed(s)) {
    const uint64_t blockBytes = uint64_t{s->bitsPerPixel} * 2;
    const uint64_t columns = (uint64_t{g.sx % kBlockSide} + g.w + kBlockSide - 1) / kBlockSide;
    const uint64_t rows = (uint64_t{g.sy % kBlockSide} + g.h + kBlockSide - 1) / kBlockSide;
    slice = (uint64_t{g.cz} + g.d - 1) * r.clientSlicePitch;
    row = (uint64_t{g.cy / kBlockSide} + rows - 1) * kBlockSide * r.clientPitch;
    column = (uint64_t{g.cx / kBlockSide} + columns) * blockBytes;
  } else {
    slice = (uint64_t{g.cz} + g.d - 1) * r.clientSlicePitch;
    row = (uint64_t{g.cy} + g.h - 1) * r.clientPitch;
    column = (uint64_t{g.cx} + g.w) * s->bytesPerPixel;
  }
  uint64_t last;
  if (__builtin_add_overflow(slice, row, &last) || __builtin_add_overflow(last, column, &last)) return false;
  return last <= r.clientSize;
}

// Copies one row of pixels, converting format 16.
void MoveRow(uint8_t* to, const uint8_t* from, uint64_t bytes, bool wide, bool read) {
  if (!wide) {
    LocMemCpy(to, from, bytes);
    return;
  }
  for (uint64_t i = 0; i + 4 <= bytes; i += 4) {
    uint32_t v;
    memcpy(&v, from + i, 4);
    v = read ? NarrowFormat16(v) : WidenFormat16(v);
    memcpy(to + i, &v, 4);
  }
}

}  // namespace

// ---- Transfers ---------------------------------------------------------------------------------

namespace {

bool LinearTransfer(Surface3d* s, const SurfaceLockRequest& r, const Region& g, const Mapping& m) {
  const bool read = r.direction == kLockRead;
  uint8_t* base = m.cpu + SetOffsetOf(s) + (s->view.active ? s->view.offset : 0);
  auto* client = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.clientAddress));
  const uint64_t memory = MemoryBytes(s);
  const uint64_t slicePitch = SurfaceSlicePitch(s);
  const bool wide = s->format != nullptr && s->format->code == kFormatWide;
  const bool packed = s->format != nullptr && (s->format->code == kFormatPackedA || s->format->code == kFormatPackedB);
  const uint64_t rowBytes = uint64_t{g.w} * s->bytesPerPixel;
  const uint64_t origin = SetOffsetOf(s) + (s->view.active ? s->view.offset : 0);
  // Checked once: the last row ends inside the memory (rows grow with y
  // and z), so nothing moves for a region that does not fit.
  if (memory != 0 && origin + (uint64_t{g.sz} + g.d - 1) * slicePitch + (uint64_t{g.sy} + g.h - 1) * s->pitch +
                             uint64_t{g.sx} * s->bytesPerPixel + rowBytes >
                         memory)
    return false;
  for (uint32_t z = 0; z < g.d; ++z) {
    for (uint32_t y = 0; y < g.h; ++y) {
      const uint64_t surfaceAt = (uint64_t{g.sz} + z) * slicePitch + (uint64_t{g.sy} + y) * s->pitch +
                                 uint64_t{g.sx} * s->bytesPerPixel + origin;
      const uint64_t clientAt = (uint64_t{g.cz} + z) * r.clientSlicePitch + (uint64_t{g.cy} + y) * r.clientPitch +
                                uint64_t{g.cx} * s->bytesPerPixel;
      uint64_t bytes = rowBytes;
      if (packed) {
        // Whole words, but never past the client's memory or the surface's.
        bytes = RoundUp64(rowBytes, 4);
        if (clientAt + bytes > r.clientSize) bytes = rowBytes;
        if (memory != 0 && surfaceAt + bytes > memory) bytes = rowBytes;
      }
      uint8_t* surfaceRow = base + surfaceAt - origin;
      if (read) {
        MoveRow(client + clientAt, surfaceRow, bytes, wide, true);
      } else {
        MoveRow(surfaceRow, client + clientAt, bytes, wide, false);
      }
    }
  }
  return true;
}

bool CompressedTransfer(Surface3d* s, const SurfaceLockRequest& r, const Region& g, const Mapping& m) {
  const bool read = r.direction == kLockRead;
  uint8_t* base = m.cpu + SetOffsetOf(s) + (s->view.active ? s->view.offset : 0);
  auto* client = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.clientAddress));
  const uint64_t blockBytes = uint64_t{s->bitsPerPixel} * 2;
  const uint32_t firstColumn = g.sx / kBlockSide, lastColumn = (g.sx + g.w + kBlockSide - 1) / kBlockSide;
  const uint32_t firstRow = g.sy / kBlockSide, lastRow = (g.sy + g.h + kBlockSide - 1) / kBlockSide;
  const uint64_t rowBytes = uint64_t{lastColumn - firstColumn} * blockBytes;
  const uint64_t slicePitch = SurfaceSlicePitch(s);
  const uint64_t memory = MemoryBytes(s);
  const uint64_t origin = SetOffsetOf(s) + (s->view.active ? s->view.offset : 0);
  if (memory != 0 && origin + (uint64_t{g.sz} + g.d - 1) * slicePitch +
                             (uint64_t{lastRow} - 1) * kBlockSide * s->pitch + firstColumn * blockBytes + rowBytes >
                         memory)
    return false;
  for (uint32_t z = 0; z < g.d; ++z) {
    for (uint32_t row = 0; row < lastRow - firstRow; ++row) {
      const uint64_t surfaceAt = (uint64_t{g.sz} + z) * slicePitch +
                                 (uint64_t{firstRow} + row) * kBlockSide * s->pitch + firstColumn * blockBytes;
      const uint64_t clientAt = (uint64_t{g.cz} + z) * r.clientSlicePitch +
                                (uint64_t{g.cy / kBlockSide} + row) * kBlockSide * r.clientPitch +
                                uint64_t{g.cx / kBlockSide} * blockBytes;
      if (read) {
        memmove(client + clientAt, base + surfaceAt, rowBytes);
      } else {
        memmove(base + surfaceAt, client + clientAt, rowBytes);
      }
    }
  }
  return true;
}

template <uint32_t kBytes>
void TiledRows(uint8_t* base, uint8_t* client, const SurfaceLockRequest& r, const Region& g, uint32_t ox,
               uint32_t oy, uint32_t width, uint32_t depth) {
  const bool read = r.direction == kLockRead;
  for (uint32_t z = 0; z < g.d; ++z)
    for (uint32_t y = 0; y < g.h; ++y) {
      uint8_t* c = client + (uint64_t{g.cz} + z) * r.clientSlicePitch + (uint64_t{g.cy} + y) * r.clientPitch +
                   uint64_t{g.cx} * kBytes;
      for (uint32_t x = 0; x < g.w; ++x, c += kBytes) {
        uint8_t* t = base + TiledPixelOffset(g.sx + x + ox, g.sy + y + oy, g.sz + z, width, depth, kBytes);
        if (read) {
          memcpy(c, t, kBytes);
        } else {
          memcpy(t, c, kBytes);
        }
      }
    }
}

// The end of the last tile a region reaches: tile starts grow with the
// row of tiles, the column and the slice.
uint64_t TiledEnd(uint32_t lastX, uint32_t lastY, uint32_t lastZ, uint32_t width, uint32_t depth, uint32_t shift) {
  const uint64_t w32 = RoundUp64(width, kTileWidth);
  const uint64_t tile = ((uint64_t{lastY >> 4} * w32) + lastX) >> 5;
  return (tile * depth + lastZ + 1) << shift;
}

bool TiledTransfer(Surface3d* s, const SurfaceLockRequest& r, const Region& g, const Mapping& m) {
  const uint32_t bpp = s->bytesPerPixel;
  if (bpp != 1 && bpp != 2 && bpp != 4) return false;
  uint32_t ox = 0, oy = 0;
  if (s->view.active) {
    ox = s->view.x;
    oy = s->view.y;
  }
  const uint64_t memory = MemoryBytes(s);
  const uint32_t shift = bpp == 4 ? 11 : bpp == 2 ? 10 : 9;
  // Checked once: every pixel lies below the end of the last tile.
  if (memory != 0 && SetOffsetOf(s) + TiledEnd(g.sx + g.w - 1 + ox, g.sy + g.h - 1 + oy, g.sz + g.d - 1, s->width,
                                               s->depth, shift) > memory)
    return false;
  uint8_t* base = m.cpu + SetOffsetOf(s);
  auto* client = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.clientAddress));
  if (bpp == 4) {
    TiledRows<4>(base, client, r, g, ox, oy, s->width, s->depth);
  } else if (bpp == 2) {
    TiledRows<2>(base, client, r, g, ox, oy, s->width, s->depth);
  } else {
    TiledRows<1>(base, client, r, g, ox, oy, s->width, s->depth);
  }
  return true;
}

bool TiledCompressedTransfer(Surface3d* s, const SurfaceLockRequest& r, const Region& g, const Mapping& m) {
  const bool read = r.direction == kLockRead;
  const uint64_t blockBytes = uint64_t{s->bitsPerPixel} * 2;
  uint8_t* base = m.cpu + SetOffsetOf(s);
  auto* client = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.clientAddress));
  const uint64_t memory = MemoryBytes(s);
  const uint32_t x0 = g.sx / kBlockSide * kBlockSide, y0 = g.sy / kBlockSide * kBlockSide;
  if (memory != 0 && SetOffsetOf(s) + TiledEnd(g.sx + g.w - 1, g.sy + g.h - 1, g.sz + g.d - 1, s->width, s->depth,
                                               s->format->code == 1 ? 8 : 9) > memory)
    return false;
  for (uint32_t z = 0; z < g.d; ++z)
    for (uint32_t y = y0; y < g.sy + g.h; y += kBlockSide)
      for (uint32_t x = x0; x < g.sx + g.w; x += kBlockSide) {
        const uint64_t at = TiledBlockOffset(x, y, g.sz + z, s->width, s->depth, s->format->code, s->bitsPerPixel);
        uint8_t* c = client + (uint64_t{g.cz} + z) * r.clientSlicePitch +
                     (uint64_t{g.cy / kBlockSide} + (y - y0) / kBlockSide) * kBlockSide * r.clientPitch +
                     (uint64_t{g.cx / kBlockSide} + (x - x0) / kBlockSide) * blockBytes;
        if (read) {
          LocMemCpy(c, base + at, blockBytes);
        } else {
          LocMemCpy(base + at, c, blockBytes);
        }
      }
  return true;
}

// One variant over a checked region, between the engine wait and the
// aperture's unlock.
bool Transfer(Surface3d* s, const SurfaceLockRequest& r) {
  const bool box = (r.flags & kLockBox) != 0;
  const bool tiled = s->layoutType == kLayoutTypeTiledMemory;
  Region g;
  if (!RegionOf(s, r, box || (tiled && (r.flags & kLockWhole) != 0), &g)) return false;
  if (g.w == 0 || g.h == 0 || g.d == 0) return true;
  if (s->format == nullptr || (s->bytesPerPixel == 0 && !IsCompressed(s))) return false;
  if (!s->AwaitEngine()) return false;
  const Mapping m = MapByKind(s);
  if (m.cpu == nullptr) {
    Unmap(s, m);
    return false;
  }
  bool ok;
  if (IsCompressed(s)) {
    ok = tiled ? TiledCompressedTransfer(s, r, g, m) : CompressedTransfer(s, r, g, m);
  } else {
    ok = tiled ? TiledTransfer(s, r, g, m) : LinearTransfer(s, r, g, m);
  }
  Unmap(s, m);
  return ok;
}

// The bordered space of (width + 2) x (height + 2) cut into the pieces the
// surface stores apart: interior with right and bottom border at (x - 1,
// y - 1), the top border row below the bottom one, the left border column
// right of the right one, the corner at the far corner. The client's
// pixels stay where the bordered space has them.
bool BorderedTransfer(Surface3d* s, const SurfaceLockRequest& r) {
  const bool read = r.direction == kLockRead;
  int64_t left, top, right, bottom;
  if ((r.flags & kLockWhole) != 0) {
    left = top = 0;
    right = int64_t{s->width} + 2;
    bottom = int64_t{s->height} + 2;
  } else {
    left = r.source[0];
    top = r.source[1];
    right = r.source[2];
    bottom = r.source[3];
  }
  if (left < 0 || top < 0 || right < left || bottom < top || right > int64_t{s->width} + 2 ||
      bottom > int64_t{s->height} + 2)
    return false;
  struct Piece {
    int64_t l, t, r, b;
    int64_t storedX, storedY;  // where (l, t) is stored
  };
  const int64_t w = s->width, h = s->height;
  const int64_t l1 = left < 1 ? 1 : left, t1 = top < 1 ? 1 : top;
  const Piece pieces[4] = {
      {l1, t1, right, bottom, l1 - 1, t1 - 1},
      {l1, top, right, top == 0 ? 1 : top, l1 - 1, h + 1},
      {left, t1, left == 0 ? 1 : left, bottom, w + 1, t1 - 1},
      {left, top, left == 0 ? 1 : left, top == 0 ? 1 : top, w + 1, h + 1},
  };
  // Every piece is checked before any moves.
  SurfaceLockRequest parts[4];
  bool present[4] = {};
  for (int i = 0; i < 4; ++i) {
    const Piece& p = pieces[i];
    if (p.r <= p.l || p.b <= p.t) continue;
    if ((i == 1 && top != 0) || (i == 2 && left != 0) || (i == 3 && (left != 0 || top != 0))) continue;
    SurfaceLockRequest q = r;
    q.flags &= ~(kLockWhole | kLockBordered | kLockBox);
    const int64_t pw = p.r - p.l, ph = p.b - p.t;
    if (read) {
      q.source[0] = static_cast<int32_t>(p.storedX);
      q.source[1] = static_cast<int32_t>(p.storedY);
      q.source[2] = static_cast<int32_t>(p.storedX + pw);
      q.source[3] = static_cast<int32_t>(p.storedY + ph);
      q.destX = static_cast<uint32_t>(p.l);
      q.destY = static_cast<uint32_t>(p.t);
    } else {
      q.source[0] = static_cast<int32_t>(p.l);
      q.source[1] = static_cast<int32_t>(p.t);
      q.source[2] = static_cast<int32_t>(p.r);
      q.source[3] = static_cast<int32_t>(p.b);
      q.destX = static_cast<uint32_t>(p.storedX);
      q.destY = static_cast<uint32_t>(p.storedY);
    }
    Region g;
    if (!RegionOf(s, q, false, &g)) return false;
    parts[i] = q;
    present[i] = true;
  }
  for (int i = 0; i < 4; ++i)
    if (present[i] && !Transfer(s, parts[i])) return false;
  return true;
}

}  // namespace

bool Surface3d::LockWithRequest(SurfaceLockRequest* request) {
  if (request == nullptr) return false;
  const bool read = request->direction == kLockRead;
  if (read) {
    if (!inSync && !syncSuspended) RunSyncSequence();
  } else {
    PrepareAccess(2);
  }
  const bool ok = (request->flags & kLockBordered) != 0 ? BorderedTransfer(this, *request) : Transfer(this, *request);
  if (ok && !read) MarkWritten();
  return ok;
}

uint64_t Surface3d::Lock(uint64_t* busAddress) {
  if (!inSync && !syncSuspended) RunSyncSequence();
  PrepareAccess(2);
  if (accessThroughLockedCopy) {
    const uint64_t cpu = ReadIntoLockedPages();
    if (busAddress != nullptr) *busAddress = cpu != 0 ? lockedCopy.bus : 0;
    return cpu;
  }
  // Planar video formats have their second plane behind a multi-plane
  // aperture this kernel does not make.
  if (view.chroma.active) return 0;
  if (!AwaitEngine()) return 0;
  const Mapping m = MapByKind(this);
  if (m.cpu == nullptr) {
    Unmap(this, m);
    return 0;
  }
  uint64_t cpu = reinterpret_cast<uintptr_t>(m.cpu) + SetOffsetOf(this);
  uint64_t bus = m.bus != 0 ? m.bus + SetOffsetOf(this) : 0;
  if (view.active) {
    cpu += view.offset;
    if (bus != 0) bus += view.offset;
  }
  if (busAddress != nullptr) *busAddress = bus;
  return cpu;
}

void Surface3d::Unlock() {
  if (accessThroughLockedCopy) {
    (void)WriteBackLockedPages();
  } else {
    Unmap(this, Mapping{nullptr, 0, KindUsesAperture(MemoryKind())});
  }
  MarkWritten();
}

void Surface3d::UnlockRead() {
  if (!accessThroughLockedCopy) Unmap(this, Mapping{nullptr, 0, KindUsesAperture(MemoryKind())});
}

// ---- Page-locked copy --------------------------------------------------------------------------

uint64_t Surface3d::GetLockedPages(LockedCopy* copy) {
  if (copy == nullptr) return 0;
  if (copy->allocated) return copy->cpu;
  if (copy->owner == nullptr || copy->owner->common == nullptr || copy->size == 0) return 0;
  const uint32_t page = OsGetPageSize();
  const uint64_t pages = (uint64_t{copy->size} + page - 1) / page;
  void* cpu = nullptr;
  uint64_t bus = 0;
  if (pages > 0xFFFFFFFFu ||
      !MmAllocateLockedPages(copy->owner->common, copy->owner->unit, static_cast<uint32_t>(pages), &cpu, &bus))
    return 0;
  copy->cpu = reinterpret_cast<uintptr_t>(cpu);
  copy->bus = bus;
  copy->allocated = 1;
  return copy->cpu;
}

namespace {

SurfaceLockRequest LockedCopyRequest(Surface3d* s, uint32_t direction) {
  SurfaceLockRequest r;
  r.flags = kLockWhole;
  r.direction = direction;
  r.clientAddress = s->lockedCopy.cpu;
  r.clientPitch = s->lockedCopy.rowPitch;
  r.clientSize = s->lockedCopy.size;
  if (s->SurfaceClass() == kSurfaceVolume) {
    r.flags |= kLockBox;
    r.clientSlicePitch = s->lockedCopy.slicePitch;
  }
  return r;
}

void SizeLockedCopy(Surface3d* s) {
  Surface3d::LockedCopy& c = s->lockedCopy;
  if (c.allocated) return;
  c.owner = s->owner;
  c.rowPitch = s->pitch;
  const uint64_t slice = SurfaceSlicePitch(s);
  const uint64_t size = slice * s->depth;
  c.slicePitch = slice <= 0xFFFFFFFFu ? static_cast<uint32_t>(slice) : 0;
  c.size = size <= 0xFFFFFFFFu ? static_cast<uint32_t>(size) : 0;
}

}  // namespace

uint64_t Surface3d::ReadIntoLockedPages() {
  SizeLockedCopy(this);
  if (GetLockedPages(&lockedCopy) == 0) return 0;
  const SurfaceLockRequest r = LockedCopyRequest(this, kLockRead);
  if (!Transfer(this, r)) return 0;
  return lockedCopy.cpu;
}

bool Surface3d::WriteBackLockedPages() {
  if (!lockedCopy.allocated) return false;
  const SurfaceLockRequest r = LockedCopyRequest(this, 0);
  return Transfer(this, r);
}

// ---- Synchronisation ---------------------------------------------------------------------------

void Surface3d::PrepareAccess(uint32_t mode) {
  if (inSync || mode == 1) return;
  changed = 1;
  FlushIfRenderTarget();
}

void Surface3d::MarkWritten() {
  if (inSync || syncSuspended) return;
  pendingPost = 1;
  Surface3d* other = Companion();
  if (other != nullptr && SurfaceClass() != kSurfaceNoCompanion) other->pendingPost = 1;
  changed = 1;
  if (resourceTable != nullptr) resourceTable->InvalidateBindings(resourceType, resourceHandle);
  flagsWord |= kSurfCpuWritten;
  RunSyncSequence();
}

void Surface3d::SuspendSync() {
  if (inSync || syncSuspended) {
    syncSuspended = 1;
    return;
  }
  RunSyncSequence();
  syncSuspended = 1;
}

void Surface3d::ResumeSync() {
  syncSuspended = 0;
  MarkWritten();
}

Surface3d::DeferredWork* Surface3d::CompletePendingWork() {
  // Deferred render-state work is attached by the render contexts; none
  // of it can be pending before they attach it.
  if (workPending && pendingWork != nullptr) return pendingWork;
  return &workRecord;
}

void Surface3d::FlushIfRenderTarget() {
  if (!skipDeferredWork) (void)CompletePendingWork();
  CommonData* common = resourceTable != nullptr ? resourceTable->common : nullptr;
  if (common != nullptr && common->openRenderTarget == this) FlushRenderTarget(this, common, 1);
}

void Surface3d::RunSyncSequence() {
  inSync = 1;
  FlushIfRenderTarget();
  if (pendingPost) {
    ReplicateLastColumn();
    ReplicateLastRow();
    if (companionActive) (void)SurfaceCompanionLink::CopyContents(companionLink);
  }
  pendingPost = 0;
  inSync = 0;
}

namespace {

// Copies rows [from, from + count) to [to, to + count) of the surface's
// processor view, each `bytes` long, when all of them lie in its memory.
void CopyRowsInPlace(Surface3d* s, uint32_t from, uint32_t to, uint32_t count, uint64_t bytes) {
  if (!s->AwaitEngine()) return;
  const Mapping m = MapByKind(s);
  if (m.cpu != nullptr) {
    uint8_t* base = m.cpu + SetOffsetOf(s) + (s->view.active ? s->view.offset : 0);
    const uint64_t memory = MemoryBytes(s);
    const uint64_t end = (uint64_t{to > from ? to : from} + count - 1) * s->pitch + bytes + SetOffsetOf(s);
    if (memory == 0 || end <= memory) {
      for (uint32_t i = count; i-- > 0;)
        memmove(base + uint64_t{to + i} * s->pitch, base + uint64_t{from + i} * s->pitch, bytes);
    }
  }
  Unmap(s, m);
}

}  // namespace

void Surface3d::ReplicateLastRow() {
  if (layoutType != kLayoutTypeLinear || (height & 1) == 0 || bytesPerPixel == 0) return;
  const uint32_t usage = owner != nullptr && owner->common != nullptr ? owner->common->revisionBits : 0;
  if ((usage & kUsageNoRowReplication) != 0) return;
  if (Bordered()) {
    CopyRowsInPlace(this, height, height + 1, 2, uint64_t{width + 2} * bytesPerPixel);
  } else if (height > 1) {
    CopyRowsInPlace(this, height - 1, height, 1, uint64_t{width} * bytesPerPixel);
  }
}

void Surface3d::ReplicateLastColumn() {
  // A planar surface whose used width ends inside its rounded rows: the
  // column after the used ones repeats the last, in the luma rows used and
  // in the chroma plane (its rows all used for three planes, half of them
  // for two). The planes have no processor view: the copies are the
  // engine's.
  const ViewWindow::ChromaPlane& c = view.chroma;
  if (!c.active || c.width == 0) return;
  if ((c.width + 31) / 32 == (width + 31) / 32) return;
  auto column = [](Surface3d* s, uint32_t to, uint32_t top, uint32_t rows) {
    if (s == nullptr || to == 0 || rows == 0) return;
    const uint32_t stored = s->Bordered() ? s->width + 2 : s->width;
    const uint32_t storedRows = s->Bordered() ? s->height + 2 : s->height;
    if (to >= stored || top >= storedRows) return;
    if (rows > storedRows - top) rows = storedRows - top;
    SurfaceCopyRequest q;
    const uint32_t from[4] = {to - 1, top, to, top + rows}, into[4] = {to, top, to + 1, top + rows};
    memcpy(q.source, from, sizeof(from));
    memcpy(q.destination, into, sizeof(into));
    (void)Surface3d::CopyRect(s, s, q);
  };
  column(this, c.width, c.offset, c.height);
  const uint32_t chromaRows = format != nullptr && format->code == 39 ? c.height : c.height / 2;
  column(c.plane, c.width / 2, 0, chromaRows);
}

bool SurfaceCompanionLink::CopyContents(const SurfaceCompanionLink& link) {
  Surface3d* from = link.surface;
  Surface3d* to = link.companion;
  if (from == nullptr || to == nullptr || from == to) return false;
  if (!from->AwaitEngine() || !to->AwaitEngine()) return false;
  const Mapping a = MapByKind(from);
  const Mapping b = MapByKind(to);
  bool ok = a.cpu != nullptr && b.cpu != nullptr;
  if (ok) {
    const uint32_t rows = from->height < to->height ? from->height : to->height;
    uint64_t bytes = uint64_t{from->width} * from->bytesPerPixel;
    const uint64_t room = uint64_t{to->width} * to->bytesPerPixel;
    if (room < bytes) bytes = room;
    const uint64_t fromMemory = MemoryBytes(from), toMemory = MemoryBytes(to);
    for (uint32_t y = 0; y < rows; ++y) {
      const uint64_t f = uint64_t{y} * from->pitch + SetOffsetOf(from);
      const uint64_t t = uint64_t{y} * to->pitch + SetOffsetOf(to);
      if ((fromMemory != 0 && f + bytes > fromMemory) || (toMemory != 0 && t + bytes > toMemory)) {
        ok = false;
        break;
      }
      memmove(b.cpu + t, a.cpu + f, bytes);
    }
  }
  Unmap(to, b);
  Unmap(from, a);
  return ok;
}

// ---- What the requests, tokens and render targets read and ask of a surface ---------------------

void Surface3dSetExpandedKey(Surface3d* surface, uint32_t value, uint32_t usage) {
  if (surface == nullptr) return;
  uint32_t argb = 0;
  if (surface->format != nullptr && surface->format->ExpandToArgb(&argb, value, usage)) {
    surface->expandedKey = argb;
    surface->expandedKeyValid = 0xFFFFFFFF;
  } else {
    surface->expandedKey = 0xFFFFFFFF;
    surface->expandedKeyValid = 0;
  }
  if (surface->resourceTable != nullptr)
    surface->resourceTable->InvalidateBindings(surface->resourceType, surface->resourceHandle);
}

uint32_t Surface3dMemoryKind(Surface3d* surface) { return surface != nullptr ? surface->Placement() : 0; }

uint32_t Surface3dFlagByte(Surface3d* surface) { return surface != nullptr ? surface->flagsWord & 0xFF : 0; }

void Surface3dExtent(Surface3d* surface, uint32_t* width, uint32_t* height) {
  if (width != nullptr) *width = surface != nullptr ? surface->width : 0;
  if (height != nullptr) *height = surface != nullptr ? surface->height : 0;
}

uint32_t Surface3dBitsPerPixel(Surface3d* surface) { return surface != nullptr ? surface->bitsPerPixel : 0; }

bool Surface3dIsSyncSuspended(Surface3d* surface) { return surface != nullptr && surface->IsSyncSuspended(); }

void Surface3dFlushIfRenderTarget(Surface3d* surface) {
  if (surface != nullptr) surface->FlushIfRenderTarget();
}

void Surface3dCompletePendingWork(Surface3d* surface) {
  if (surface != nullptr) (void)surface->CompletePendingWork();
}

uint32_t Surface3dFlipAddress(Surface3d* surface, bool second) {
  if (surface == nullptr) return 0;
  const uint32_t chosen = surface->flipStart[second ? 1 : 0];
  if (chosen != 0) return chosen;
  // The address word's low two bits say where the memory is: 0 local.
  const uint32_t word = surface->hw.records[0].word0;
  if (surface->Placement() != kNibbleLocal || (word & 3u) != kMemLocal) return 0;
  return word & ~3u;
}

uint32_t Surface3dSecondWord(Surface3d* surface) { return surface != nullptr ? surface->subAddress[1] : 0; }

void Surface3dWriteSyncTag(Surface3d* surface) {
  if (surface == nullptr || surface->owner == nullptr) return;
  (void)PostCompletionTag(surface->owner->common, surface, nullptr, false);
}

bool Surface3dWriteImage(Surface3d* surface, const void* image, uint32_t bytes) {
  if (surface == nullptr || image == nullptr) return false;
  const uint64_t row = uint64_t{surface->width} * surface->bytesPerPixel;
  if (row == 0 || row > 0xFFFFFFFFu || row * surface->height > bytes) return false;
  SurfaceLockRequest request;
  request.flags = kLockWhole;
  request.direction = 0;
  request.clientAddress = reinterpret_cast<uintptr_t>(image);
  request.clientPitch = static_cast<uint32_t>(row);
  request.clientSize = bytes;
  return surface->LockWithRequest(&request);
}
