// A 3D client's surfaces and textures, the device-wide masters of the
// shared kinds, and the tokens that reach client surfaces (10 and 55).
#include "kernel/3d/client/client_surfaces.h"

#include <string.h>

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/mm_block.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/hw_state_block.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/flip_controller.h"

namespace {

constexpr uint32_t kClientResourceType = 1;
constexpr uint32_t kFillMode = 192;
constexpr uint32_t kBlockSide = 4;
// Formats that never take the engine's plain copy.
constexpr uint32_t kFormatBlitOnlyA = 13;
constexpr uint32_t kFormatBlitOnlyB = 14;
// A colour source into this format takes the second level-copy state.
constexpr uint32_t kFormatSecondState = 31;
constexpr uint32_t kClassFour = 4;
// Formats UseTextiled never lays out in tiles.
constexpr uint32_t kFormatUntiledA = 41;
constexpr uint32_t kFormatUntiledB = 42;
// Every level and face of a texture.
constexpr uint32_t kMaxLevelSurfaces = kClientMaxLevels * 6;

ClientObject* Placeholder() { return reinterpret_cast<ClientObject*>(kLevelIdPlaceholder); }

bool IsCompressed(const Surface3d* s) { return s->format != nullptr && s->format->formatClass == kClassBlockCompressed; }
uint32_t StoredWidth(const Surface3d* s) { return s->Bordered() ? s->width + 2 : s->width; }
uint32_t StoredHeight(const Surface3d* s) { return s->Bordered() ? s->height + 2 : s->height; }

// How a level lies in memory from its processor address: rows of bytes at
// a stride, slices at a stride.
struct LevelLayout {
  uint64_t rowBytes = 0;
  uint64_t rows = 0;
  uint64_t rowStride = 0;
  uint64_t slices = 1;
  uint64_t sliceStride = 0;
  uint64_t Bytes() const { return rowBytes * rows * slices; }
  // Bytes from the first row to the end of the last.
  uint64_t Span() const {
    if (rows == 0 || slices == 0) return 0;
    return (slices - 1) * sliceStride + (rows - 1) * rowStride + rowBytes;
  }
};

uint64_t SlicePitchOf(const Surface3d* s) {
  const uint64_t rows = IsCompressed(s) ? (uint64_t{StoredHeight(s)} + kBlockSide - 1) / kBlockSide * kBlockSide
                                        : StoredHeight(s);
  return uint64_t{s->pitch} * rows;
}

LevelLayout LayoutOf(const Surface3d* s) {
  LevelLayout l;
  const uint64_t width = StoredWidth(s);
  if (IsCompressed(s)) {
    l.rowBytes = (width + kBlockSide - 1) / kBlockSide * (uint64_t{s->bitsPerPixel} * 2);
    l.rows = (uint64_t{StoredHeight(s)} + kBlockSide - 1) / kBlockSide;
    l.rowStride = uint64_t{s->pitch} * kBlockSide;
  } else {
    l.rowBytes = width * s->bitsPerPixel / 8;
    l.rows = StoredHeight(s);
    l.rowStride = s->pitch;
  }
  if (l.rowBytes > l.rowStride) l.rowBytes = l.rowStride;
  l.slices = s->depth != 0 ? s->depth : 1;
  l.sliceStride = SlicePitchOf(s);
  return l;
}

// Bytes of memory from a level's processor address to the end of its block.
uint64_t LevelRoom(const Surface3d* s) {
  const MmBlock* b = s->block != nullptr ? s->block : (s->master != nullptr ? s->master->block : nullptr);
  if (b == nullptr) return 0;
  uint64_t offset = s->inSet ? uint64_t{s->levelEntry.offset} + s->setOffset : 0;
  // A small level lies at its place in the set's packed area.
  if (s->inSet && s->levelEntry.packIndex != kNotPacked) offset += s->levelEntry.packOffset;
  if (s->view.active) offset += s->view.offset;
  return b->size > offset ? b->size - offset : 0;
}

// The level surface of any surface (the set's for a texture level).
Surface3d* LevelOfSurface(Surface3d* s, bool texture, uint32_t faces, uint32_t level, uint32_t face) {
  if (s == nullptr || face >= faces) return nullptr;
  TextureSurfaceSet* set = s->set;
  if (!texture || set == nullptr) return level == 0 ? s : nullptr;
  if (level >= kClientMaxLevels) return nullptr;
  const int64_t bucket = int64_t{set->largest} - level;
  if (bucket < set->smallest || bucket < 0) return nullptr;
  return set->Level(face, static_cast<uint32_t>(bucket));
}

// A processor lock of one level surface: its address (0 when none).
uint64_t LockSurfaceCpu(Surface3d* s, uint64_t* bus) {
  if (bus != nullptr) *bus = 0;
  if (s == nullptr || s->MemoryKind() == kMemoryKindNone) return 0;
  if (s->ring != nullptr) return reinterpret_cast<uintptr_t>(s->ring->Lock(false, false));
  return s->Lock(bus);
}

void UnlockSurfaceCpu(Surface3d* s, bool written) {
  if (s->ring != nullptr) {
    s->ring->Unlock();
  } else if (written) {
    s->Unlock();
  } else {
    s->UnlockRead();
  }
}

SharedSurfaces3d* SharedOf(PDEV* device) { return device != nullptr ? device->sharedSurfaces3d : nullptr; }

void DestroyMaster(SharedSurfaces3d* shared, PDEV* device, SharedKind3d kind) {
  Surface3d*& master = shared->masters[kind];
  if (master == nullptr) return;
  if (kind == kSharedBackBuffer) {
    if (shared->flipSlotTaken && shared->flips != nullptr && device != nullptr)
      (void)shared->flips->ReleaseBuffer(static_cast<uint32_t>(shared->flipSlot), device->displayMask);
    shared->flipSlot = -1;
    shared->flipSlotTaken = 0;
  }
  if (kind == kSharedPrimary) shared->primaryState = -1;
  if (shared->table != nullptr && master->resourceHandle != 0) {
    shared->table->DestroyResource(kClientResourceType, master->resourceHandle);
  } else {
    DestroySurface3d(master);
  }
  master = nullptr;
  shared->counts[kind] = 0;
}

}  // namespace

// ---- Info ---------------------------------------------------------------------------------------

bool ClientSurfaceInfo::FromDescription(PDEV* device, const ClientSurfaceDescription& d, ClientSurfaceInfo* out) {
  ClientSurfaceInfo info;
  if (device == nullptr || device->formatCatalogue == nullptr) return false;
  const uint32_t shared = d.flags & kDescSharedKinds;
  const bool texture = d.kind == kDescKindTexture || d.kind == kDescKindVolume || d.kind == kDescKindCube;
  // One device-wide kind at most, and never a texture: a master is one
  // surface.
  if ((shared & (shared - 1)) != 0 || (texture && shared != 0)) return false;
  if (texture) info.flagsA |= kInfoTexture;
  if (d.kind == kDescKindVolume) info.flagsA |= kInfoVolume;
  if (d.kind == kDescKindCube) info.flagsA |= kInfoCube;
  if (d.flags & kDescMipmapped) info.flagsA |= kInfoMipmapped;
  if (d.flags & kDescSharedOne) info.flagsA |= kInfoSharedOne;
  if (d.flags & kDescSharedTwo) info.flagsA |= kInfoSharedTwo;
  if (d.flags & kDescVideoOnly) info.flagsA |= kInfoVideoOnly;
  if (d.flags & kDescBordered) info.flagsA |= kInfoBordered;
  if (d.flags & kDescExtra) info.flagsB |= kInfoExtra;
  if (d.flags & kDescPrimary) info.flagsB |= kInfoPrimary;
  if (d.flags & kDescBackBuffer) info.flagsB |= kInfoBackBuffer;
  info.owner = device;
  info.common = device->common;
  if (d.flags & (kDescPrimary | kDescBackBuffer)) {
    BlitEngine3d* engine = BlitEngineOf(device);
    info.format = engine != nullptr ? device->formatCatalogue->Find(engine->formatCode) : nullptr;
    info.width = device->mode.virtualWidth;
    info.height = device->mode.virtualHeight;
  } else {
    info.format = device->formatCatalogue->FindByClientFormat(d.format);
    info.width = d.width;
    if (d.height != 0) info.height = d.height;
    if (d.depth != 0) info.depth = d.depth;
    const uint64_t levels = uint64_t{d.levels} + 1;
    if (levels > kClientMaxLevels) return false;
    info.levels = static_cast<uint32_t>(levels);
  }
  if (info.format == nullptr || info.width == 0 || info.height == 0) return false;
  if (info.width > kMaxSurfaceSide || info.height > kMaxSurfaceSide || info.depth > kMaxSurfaceDepth) return false;
  *out = info;
  return true;
}

ClientSurfaceInfo ClientSurfaceInfo::FromSurface(Surface3d* s) {
  ClientSurfaceInfo info;
  info.format = s->format;
  info.firstLevelId = s->resourceHandle;
  info.width = s->width;
  info.height = s->height;
  info.depth = s->depth;
  if (s->set != nullptr) {
    info.flagsA |= kInfoTexture;
    info.levels = static_cast<uint32_t>(s->set->largest - s->set->smallest + 1);
    if (info.levels > 1) info.flagsA |= kInfoMipmapped;
  }
  if (s->SurfaceClass() == kSurfaceVolume) info.flagsA |= kInfoVolume;
  if (s->SurfaceClass() == kSurfaceCubeLevel) info.flagsA |= kInfoCube;
  if (s->Bordered()) info.flagsA |= kInfoBordered;
  info.owner = s->owner;
  info.common = s->owner != nullptr ? s->owner->common : nullptr;
  return info;
}

SharedKind3d ClientSurfaceInfo::SharedKind() const {
  if (flagsA & kInfoSharedOne) return kSharedOne;
  if (flagsA & kInfoSharedTwo) return kSharedTwo;
  if (flagsB & kInfoPrimary) return kSharedPrimary;
  if (flagsB & kInfoBackBuffer) return kSharedBackBuffer;
  return kSharedNone;
}

void ClientSurfaceInfo::ToCreateRequest(SurfaceCreateRequest* request) const {
  *request = SurfaceCreateRequest();
  uint32_t usage = kUsageIndexPlain;
  if (flagsA & kInfoTexture) usage = kUsageIndexTexture;
  if (flagsA & kInfoSharedOne) usage = kUsageIndexSharedOne;
  if (flagsB & (kInfoPrimary | kInfoBackBuffer)) {
    usage = kUsageIndexDisplay;
    request->flags2 = static_cast<uint8_t>(kDisplayFlags2 | ((flagsB & kInfoPrimary) != 0 ? kRequestDisplayed : 0));
  } else if (flagsA & kInfoVideoOnly) {
    usage = kUsageIndexVideoOnly;
  }
  request->width = width;
  request->height = height;
  request->levels = levels;
  request->depth = depth;
  request->format = format;
  request->fixedHandle = firstLevelId;
  if (flagsA & kInfoVolume) request->placement |= kSetVolume;
  if (flagsA & kInfoCube) request->placement |= kSetCube;
  // Levels are a texture's: a plain surface, and every clone of a master,
  // is one surface whatever the flag says.
  if ((flagsA & kInfoMipmapped) != 0 && (flagsA & kInfoTexture) != 0) request->placement |= kSetMipChain;
  if (flagsA & kInfoBordered) request->placement |= kRequestBordered;
  // A texture's levels live in a set even when it has one level.
  if ((flagsA & kInfoTexture) != 0 && (request->placement & kSetAny) == 0) request->placement |= kSetMipChain;
  if ((flagsA & kInfoTexture) != 0 && (flagsA & kInfoVideoOnly) == 0 && common != nullptr && format != nullptr &&
      common->driverSwitches != nullptr && common->driverSwitches->UseTextiled != nullptr &&
      common->driverSwitches->UseTextiled->GetValue() != 0 && format->bitsPerPixel != 32 &&
      format->code != kFormatUntiledA && format->code != kFormatUntiledB)
    usage = kUsageIndexTiled;
  request->surfaceType = usage;
}

void ClientSurfaceInfo::ToDescription(ClientSurfaceDescription* d) const {
  uint32_t flags = 0;
  if (flagsA & kInfoVideoOnly) flags |= kDescVideoOnly;
  if (flagsA & kInfoSharedOne) flags |= kDescSharedOne;
  if (flagsA & kInfoMipmapped) flags |= kDescMipmapped;
  if (flagsA & kInfoBordered) flags |= kDescBordered;
  if (flagsB & kInfoExtra) flags |= kDescExtra;
  if (flagsB & kInfoPrimary) flags |= kDescPrimary;
  if (flagsA & kInfoSharedTwo) flags |= kDescSharedTwo;
  if (flagsB & kInfoBackBuffer) flags |= kDescBackBuffer;
  d->flags = flags;
  d->kind = kDescKindPlain;
  if (flagsA & kInfoTexture) d->kind = kDescKindTexture;
  if (flagsA & kInfoVolume) d->kind = kDescKindVolume;
  if (flagsA & kInfoCube) d->kind = kDescKindCube;
  d->format = format != nullptr ? FormatCatalogue::ToClientFormat(format->code) : 0;
  d->width = width;
  d->height = height;
  d->depth = depth;
  d->levels = levels;
}

// ---- Objects ------------------------------------------------------------------------------------

Surface3d* ClientObject::LevelSurface(uint32_t level, uint32_t face) const {
  return LevelOfSurface(surface, (info.flagsA & kInfoTexture) != 0, info.Faces(), level, face);
}

uint32_t ClientObject::LevelCount() const {
  if (surface == nullptr || surface->set == nullptr || (info.flagsA & kInfoTexture) == 0) return 1;
  const int64_t count = int64_t{surface->set->largest} - surface->set->smallest + 1;
  return count < 1 ? 1 : count > kClientMaxLevels ? kClientMaxLevels : static_cast<uint32_t>(count);
}

uint64_t ClientObject::LockLevel(ClientSurfaceLock* lock) {
  Surface3d* level = LevelSurface(lock->level, lock->face);
  if (level == nullptr) return 0;
  if (locked != nullptr) Unlock();
  uint64_t bus = 0;
  const uint64_t cpu = LockSurfaceCpu(level, &bus);
  if (cpu == 0) return 0;
  locked = level;
  const uint64_t slice = (info.flagsA & kInfoTexture) != 0 ? SlicePitchOf(level) : 0;
  lock->pitch = level->pitch;
  lock->slicePitch = slice <= 0xFFFFFFFFu ? static_cast<uint32_t>(slice) : 0;
  lock->address = bus;
  return cpu;
}

void ClientObject::Unlock() {
  if (locked == nullptr) return;
  Surface3d* level = locked;
  locked = nullptr;
  if (surface != nullptr && level->MemoryKind() != kMemoryKindNone) UnlockSurfaceCpu(level, true);
}

void ClientObject::Release(SharedSurfaces3d* shared) {
  Unlock();
  if (!ownsSurface || surface == nullptr) return;
  Surface3d* s = surface;
  surface = nullptr;
  if (s->set != nullptr && (info.flagsA & kInfoTexture) != 0) {
    delete s->set;
  } else {
    DestroySurface3d(s);
  }
  const SharedKind3d kind = info.SharedKind();
  if (kind == kSharedNone || shared == nullptr || shared->counts[kind] == 0) return;
  if (--shared->counts[kind] == 0) DestroyMaster(shared, info.owner, kind);
}

void ClientObject::SetSurfaceValue(uint32_t value) {
  info.flagsB |= kInfoValueSet;
  info.surfaceValue = value;
  Surface3dSetExpandedKey(surface, value, kUsageTexture);
}

bool ClientObject::Fill(uint32_t value, const uint32_t* box, uint32_t mask) {
  if (surface == nullptr || box == nullptr) return false;
  SurfaceFillRequest request;
  request.rect[0] = box[0];
  request.rect[1] = box[1];
  request.rect[2] = box[3];
  request.rect[3] = box[4];
  request.value = value;
  request.mask = mask;
  request.rop = kFillMode;
  return surface->Fill(request);
}

bool ClientObject::CopyRect(ClientObject* source, const uint32_t* sourceBox, const uint32_t* destinationBox,
                            uint32_t level, uint32_t face, uint32_t mask) {
  if (source == nullptr || sourceBox == nullptr || destinationBox == nullptr) return false;
  LevelCopyRequest request;
  const uint32_t* boxes[2] = {sourceBox, destinationBox};
  int32_t* rects[2] = {request.source, request.destination};
  for (int i = 0; i < 2; ++i) {
    rects[i][0] = static_cast<int32_t>(boxes[i][0]);
    rects[i][1] = static_cast<int32_t>(boxes[i][1]);
    rects[i][2] = static_cast<int32_t>(boxes[i][3]);
    rects[i][3] = static_cast<int32_t>(boxes[i][4]);
  }
  return CopyLevel(source, &request, level, face, mask);
}

namespace {

// A rectangle (or box) clipped to a surface's stored extent; false when
// nothing is left.
bool ClipTo(const Surface3d* s, int64_t* l, int64_t* t, int64_t* r, int64_t* b, int64_t* f, int64_t* k) {
  if (*l < 0) *l = 0;
  if (*t < 0) *t = 0;
  if (*f < 0) *f = 0;
  if (*r > StoredWidth(s)) *r = StoredWidth(s);
  if (*b > StoredHeight(s)) *b = StoredHeight(s);
  if (*k > s->depth) *k = s->depth;
  return *r > *l && *b > *t && *k > *f;
}

// The processor's copy between a source and a destination rectangle (or
// box) of equal extent: both clipped to their surfaces, the extent the
// smaller of the two. What it gives back: the source and destination
// origins and the extent; false when nothing is left.
struct CpuRegion {
  int64_t sx, sy, sz, dx, dy, dz, w, h, d;
};

bool CpuRegionOf(const Surface3d* src, const Surface3d* dst, const LevelCopyRequest& r, CpuRegion* out) {
  const bool box = (r.flags & kLevelCopyBox) != 0;
  int64_t s[6], d[6];
  for (int i = 0; i < 4; ++i) {
    s[i] = box ? r.sourceBox[i] : r.source[i];
    d[i] = box ? r.destinationBox[i] : r.destination[i];
  }
  s[4] = box ? r.sourceBox[4] : 0;
  s[5] = box ? r.sourceBox[5] : 1;
  d[4] = box ? r.destinationBox[4] : 0;
  d[5] = box ? r.destinationBox[5] : 1;
  if (!ClipTo(src, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5])) return false;
  if (!ClipTo(dst, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5])) return false;
  CpuRegion g;
  g.sx = s[0], g.sy = s[1], g.sz = s[4];
  g.dx = d[0], g.dy = d[1], g.dz = d[4];
  g.w = s[2] - s[0] < d[2] - d[0] ? s[2] - s[0] : d[2] - d[0];
  g.h = s[3] - s[1] < d[3] - d[1] ? s[3] - s[1] : d[3] - d[1];
  g.d = s[5] - s[4] < d[5] - d[4] ? s[5] - s[4] : d[5] - d[4];
  *out = g;
  return true;
}

// Both sides in processor-only memory: rows copied from lock to lock.
bool CopyBetweenCpu(Surface3d* dst, Surface3d* src, const LevelCopyRequest& r) {
  CpuRegion g;
  if (!CpuRegionOf(src, dst, r, &g)) return true;
  if (IsCompressed(src) || IsCompressed(dst) || src->bitsPerPixel != dst->bitsPerPixel || src->bitsPerPixel < 8)
    return false;
  const uint64_t bpp = src->bitsPerPixel / 8;
  const uint64_t rowBytes = uint64_t(g.w) * bpp;
  const uint64_t srcSlice = SlicePitchOf(src), dstSlice = SlicePitchOf(dst);
  const uint64_t srcEnd = (uint64_t(g.sz + g.d) - 1) * srcSlice + (uint64_t(g.sy + g.h) - 1) * src->pitch +
                          uint64_t(g.sx) * bpp + rowBytes;
  const uint64_t dstEnd = (uint64_t(g.dz + g.d) - 1) * dstSlice + (uint64_t(g.dy + g.h) - 1) * dst->pitch +
                          uint64_t(g.dx) * bpp + rowBytes;
  if (srcEnd > LevelRoom(src) || dstEnd > LevelRoom(dst)) return false;
  const uint64_t from = LockSurfaceCpu(src, nullptr);
  if (from == 0) return false;
  const uint64_t to = src == dst ? from : LockSurfaceCpu(dst, nullptr);
  if (to == 0) {
    UnlockSurfaceCpu(src, false);
    return false;
  }
  for (int64_t z = 0; z < g.d; ++z) {
    for (int64_t y = 0; y < g.h; ++y) {
      const uint64_t at = uint64_t(g.sz + z) * srcSlice + uint64_t(g.sy + y) * src->pitch + uint64_t(g.sx) * bpp;
      const uint64_t into = uint64_t(g.dz + z) * dstSlice + uint64_t(g.dy + y) * dst->pitch + uint64_t(g.dx) * bpp;
      memmove(reinterpret_cast<uint8_t*>(to) + into, reinterpret_cast<const uint8_t*>(from) + at, rowBytes);
    }
  }
  if (src != dst) UnlockSurfaceCpu(dst, true);
  UnlockSurfaceCpu(src, src == dst);
  return true;
}

// One side in processor-only memory: the other side's transfer with the
// locked side as its client memory.
bool CopyThroughTransfer(Surface3d* dst, Surface3d* src, const LevelCopyRequest& r, bool fromSystem) {
  CpuRegion g;
  if (!CpuRegionOf(src, dst, r, &g)) return true;
  Surface3d* system = fromSystem ? src : dst;
  Surface3d* other = fromSystem ? dst : src;
  const uint64_t cpu = LockSurfaceCpu(system, nullptr);
  if (cpu == 0) return false;
  SurfaceLockRequest q;
  q.direction = fromSystem ? 0 : kLockRead;
  q.clientAddress = cpu;
  q.clientPitch = system->pitch;
  const uint64_t slice = SlicePitchOf(system);
  q.clientSlicePitch = slice <= 0xFFFFFFFFu ? static_cast<uint32_t>(slice) : 0;
  q.clientSize = LevelRoom(system);
  // The client-side origin is the system side's, the surface-side origin
  // the other's.
  const int64_t cx = fromSystem ? g.sx : g.dx, cy = fromSystem ? g.sy : g.dy, cz = fromSystem ? g.sz : g.dz;
  const int64_t px = fromSystem ? g.dx : g.sx, py = fromSystem ? g.dy : g.sy, pz = fromSystem ? g.dz : g.sz;
  if ((r.flags & kLevelCopyBox) != 0) {
    q.flags = kLockBox;
    // Write: the box names the client side; read: the surface side.
    const int64_t bx = fromSystem ? cx : px, by = fromSystem ? cy : py, bz = fromSystem ? cz : pz;
    q.box[0] = static_cast<uint32_t>(bx);
    q.box[1] = static_cast<uint32_t>(by);
    q.box[2] = static_cast<uint32_t>(bx + g.w);
    q.box[3] = static_cast<uint32_t>(by + g.h);
    q.box[4] = static_cast<uint32_t>(bz);
    q.box[5] = static_cast<uint32_t>(bz + g.d);
    q.boxDestX = static_cast<uint32_t>(fromSystem ? px : cx);
    q.boxDestY = static_cast<uint32_t>(fromSystem ? py : cy);
    q.boxDestZ = static_cast<uint32_t>(fromSystem ? pz : cz);
  } else {
    const int64_t bx = fromSystem ? cx : px, by = fromSystem ? cy : py;
    q.source[0] = static_cast<int32_t>(bx);
    q.source[1] = static_cast<int32_t>(by);
    q.source[2] = static_cast<int32_t>(bx + g.w);
    q.source[3] = static_cast<int32_t>(by + g.h);
    q.destX = static_cast<uint32_t>(fromSystem ? px : cx);
    q.destY = static_cast<uint32_t>(fromSystem ? py : cy);
  }
  const bool ok = other->LockWithRequest(&q);
  UnlockSurfaceCpu(system, !fromSystem);
  return ok;
}

}  // namespace

bool ClientObject::CopyLevel(ClientObject* sourceObject, LevelCopyRequest* request, uint32_t level, uint32_t face,
                             uint32_t mask) {
  if (sourceObject == nullptr || request == nullptr) return false;
  Surface3d* dst = LevelSurface(level, face);
  Surface3d* src = sourceObject->LevelSurface(level, face);
  if (dst == nullptr || src == nullptr || src->format == nullptr || dst->format == nullptr) return false;
  if (src->Bordered()) request->flags |= kLevelCopyBordered;
  const bool srcCpu = src->MemoryKind() == kBlockKindCpuOnly;
  const bool dstCpu = dst->MemoryKind() == kBlockKindCpuOnly;
  if (srcCpu && dstCpu) return CopyBetweenCpu(dst, src, *request);
  if (srcCpu) {
    request->direction = kLevelCopyFromSystem;
    return CopyThroughTransfer(dst, src, *request, true);
  }
  if (dstCpu) {
    request->direction = kLevelCopyToSystem;
    return CopyThroughTransfer(dst, src, *request, false);
  }
  const FormatDescriptor* sf = src->format;
  const FormatDescriptor* df = dst->format;
  const bool sameFormat = sf == df || (sf->formatClass == kClassColour && df->formatClass == kClassColour &&
                                       sf->masks[kChannelRed] == df->masks[kChannelRed]);
  int32_t* s = request->source;
  int32_t d[4] = {request->destination[0], request->destination[1], request->destination[2],
                  request->destination[3]};
  uint32_t mirror = 0;
  if (d[2] < d[0]) {
    const int32_t left = d[0];
    d[0] = static_cast<int32_t>(static_cast<uint32_t>(d[2]) + 1);
    d[2] = static_cast<int32_t>(static_cast<uint32_t>(left) + 1);
    mirror = 1;
  }
  if (d[3] < d[1]) {
    const int32_t top = d[1];
    d[1] = static_cast<int32_t>(static_cast<uint32_t>(d[3]) + 1);
    d[3] = static_cast<int32_t>(static_cast<uint32_t>(top) + 1);
    mirror = 2;
  }
  const bool stretch = int64_t{s[2]} - s[0] != int64_t{d[2]} - d[0] || int64_t{s[3]} - s[1] != int64_t{d[3]} - d[1];
  const bool forced = sf->code == kFormatBlitOnlyA || sf->code == kFormatBlitOnlyB || df->code == kFormatBlitOnlyA ||
                      df->code == kFormatBlitOnlyB;
  if (sameFormat && mirror == 0 && !stretch && !forced) {
    SurfaceCopyRequest copy;
    for (int i = 0; i < 4; ++i) {
      copy.source[i] = static_cast<uint32_t>(s[i]);
      copy.destination[i] = static_cast<uint32_t>(d[i]);
    }
    copy.mask = mask;
    return Surface3d::CopyRect(dst, src, copy);
  }
  SurfaceBlitRequest* blit = OsNew<SurfaceBlitRequest>();
  LevelCopyState* first = new LevelCopyState();
  LevelCopyState* second = new LevelCopyState();
  bool ok = false;
  if (blit != nullptr && first != nullptr && second != nullptr) {
    for (int i = 0; i < 4; ++i) {
      blit->source[i] = s[i];
      blit->clipped[i] = d[i];
      blit->full[i] = d[i];
    }
    blit->mask = mask;
    blit->options[1] = mirror;
    if (sf->formatClass == kClassColour && df->code == kFormatSecondState) {
      blit->flags |= kBlitCallerTransform;
      blit->transform = static_cast<HwStateBlock*>(second);
    } else if (sf->formatClass == kClassColour && df->formatClass == kClassFour) {
      blit->flags |= kBlitCallerTransform;
      blit->transform = static_cast<HwStateBlock*>(first);
    }
    ok = Surface3d::Blit(dst, src, *blit);
  }
  OsDelete(blit);
  delete first;
  delete second;
  return ok;
}

bool ClientObject::CopyLevels(ClientObject* source, const uint32_t* sourceBox, const uint32_t* destinationBox) {
  if (source == nullptr || sourceBox == nullptr || destinationBox == nullptr) return false;
  const uint32_t levels = (source->info.flagsA & kInfoMipmapped) != 0 ? source->LevelCount() : 1;
  const uint32_t faces = info.Faces();
  const bool volume = (info.flagsA & kInfoVolume) != 0;
  const bool bordered = (info.flagsA & kInfoBordered) != 0;
  // left, top, front, right, bottom, back; 64 bits while halving.
  int64_t boxes[2][6];
  for (int i = 0; i < 6; ++i) {
    boxes[0][i] = sourceBox[i];
    boxes[1][i] = destinationBox[i];
  }
  bool ok = true;
  for (uint32_t level = 0; level < levels; ++level) {
    for (uint32_t face = 0; face < faces; ++face) {
      LevelCopyRequest request;
      request.flags = volume ? kLevelCopyBox : 0;
      const int64_t* b[2] = {boxes[0], boxes[1]};
      int32_t* rects[2] = {request.source, request.destination};
      int32_t* cubes[2] = {request.sourceBox, request.destinationBox};
      for (int k = 0; k < 2; ++k) {
        rects[k][0] = static_cast<int32_t>(b[k][0]);
        rects[k][1] = static_cast<int32_t>(b[k][1]);
        rects[k][2] = static_cast<int32_t>(b[k][3]);
        rects[k][3] = static_cast<int32_t>(b[k][4]);
        cubes[k][0] = rects[k][0];
        cubes[k][1] = rects[k][1];
        cubes[k][2] = rects[k][2];
        cubes[k][3] = rects[k][3];
        cubes[k][4] = static_cast<int32_t>(b[k][2]);
        cubes[k][5] = static_cast<int32_t>(b[k][5]);
      }
      if (!CopyLevel(source, &request, level, face, 0xFFFFFFFF)) ok = false;
    }
    for (int64_t* box : boxes) {
      if (bordered) {
        box[3] += 1;
        box[4] += 1;
      }
      for (int lo = 0; lo < 3; ++lo) {
        const int hi = lo + 3;
        box[lo] >>= 1;
        box[hi] = (box[hi] + 1) >> 1;
        if (box[hi] == box[lo]) box[hi] += 1;
      }
    }
  }
  return ok;
}

uint64_t ClientObject::DataSize() const {
  uint64_t bytes = 0;
  const uint32_t levels = LevelCount();
  for (uint32_t face = 0; face < info.Faces(); ++face) {
    for (uint32_t level = 0; level < levels; ++level) {
      if (Surface3d* s = LevelSurface(level, face)) bytes += LayoutOf(s).Bytes();
    }
  }
  return bytes;
}

void ClientObjectCopyRect(ClientObject* destination, ClientObject* source, const uint32_t* sourceBox,
                          const uint32_t* destinationBox, const ClientRequest* request) {
  if (destination == nullptr) return;
  (void)destination->CopyRect(source, sourceBox, destinationBox, request->U32(64), request->U32(72),
                              request->U32(80));
}

void ClientObjectFill(ClientObject* destination, const uint32_t* box, const ClientRequest* request) {
  if (destination == nullptr) return;
  (void)destination->Fill(request->U32(96), box, request->U32(80));
}

// ---- Device-wide masters -----------------------------------------------------------------------

bool InitSharedSurfaces3d(PDEV* pdev) {
  SharedSurfaces3d* shared = OsNew<SharedSurfaces3d>();
  if (shared == nullptr) return false;
  shared->flips = pdev->common != nullptr ? pdev->common->flipController : nullptr;
  // The device-wide table stands alone. Entered in the unit's list of the
  // processes' tables under the low 32 bits of this object's address, it
  // took that key from the process whose id it equals: that client's
  // context was refused (or this object, when the client came first).
  uint8_t ok = 0;
  shared->table = new ResourceTable(pdev, &ok);
  if (shared->table == nullptr || !ok) {
    delete shared->table;
    OsDelete(shared);
    return false;
  }
  pdev->sharedSurfaces3d = shared;
  return true;
}

void CleanupSharedSurfaces3d(PDEV* pdev) {
  SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
  if (shared == nullptr) return;
  for (uint32_t kind = 0; kind < kSharedKinds; ++kind) DestroyMaster(shared, pdev, static_cast<SharedKind3d>(kind));
  delete shared->table;
  shared->table = nullptr;
  OsDelete(shared);
  pdev->sharedSurfaces3d = nullptr;
}

// ---- The list ----------------------------------------------------------------------------------

bool SurfaceList3d::List::Append(uint64_t handle, SavedClientSurface* record) {
  Node* node = OsNew<Node>();
  if (node == nullptr) return false;
  node->handle = handle;
  node->record = record;
  node->next = &sentinel;
  node->previous = sentinel.previous;
  sentinel.previous->next = node;
  sentinel.previous = node;
  ++count;
  return true;
}

void SurfaceList3d::List::Remove(uint64_t handle) {
  for (Node* node = sentinel.next; node != &sentinel;) {
    Node* next = node->next;
    if (node->handle == handle) {
      node->previous->next = node->next;
      node->next->previous = node->previous;
      OsDelete(node);
      --count;
    }
    node = next;
  }
}

void SurfaceList3d::List::Clear() {
  for (Node* node = sentinel.next; node != &sentinel;) {
    Node* next = node->next;
    OsDelete(node);
    node = next;
  }
  sentinel.next = sentinel.previous = &sentinel;
  count = 0;
}

SurfaceList3d::SurfaceList3d() = default;

SurfaceList3d::~SurfaceList3d() {
  FreeRecords();
  levelIds_.DetachAll();
  SharedSurfaces3d* shared = Shared();
  for (uint32_t handle = 1; handle < objects_.Capacity(); ++handle) {
    ClientObject* object = objects_.Get(handle);
    if (object == nullptr) continue;
    objects_.Detach(handle);
    object->Release(shared);
    OsDelete(object);
  }
  if (levelChain_.ok()) levelChain_.clear();
  plainList_.Clear();
  savedList_.Clear();
  savedRecords_.Clear();
}

bool SurfaceList3d::Init(ClientContext* owner, PDEV* device, ResourceTable* resources) {
  client_ = owner;
  device_ = device;
  resources_ = resources;
  return levelChain_.ok();
}

SharedSurfaces3d* SurfaceList3d::Shared() const { return SharedOf(device_); }

ClientObject* SurfaceList3d::Object(uint64_t handle) const {
  return handle != 0 && handle <= kClientMaxSurfaceHandle ? objects_.Get(static_cast<uint32_t>(handle)) : nullptr;
}

Surface3d* SurfaceList3d::Surface(uint64_t handle) const {
  ClientObject* object = Object(handle);
  return object != nullptr ? object->surface : nullptr;
}

namespace {

// A primary-kind surface shares the screen's frame buffer, whose rows the X
// driver laid out at its surface's pitch (the pixel pitch of its
// descriptor), not at the rows the surface's own description would give
// (a power of two for the engine layouts): processor and engine step its
// rows by that pitch.
void TakeScreenRows(Surface3d* surface, const MmSurface* screen) {
  if (surface == nullptr || screen == nullptr || surface->linear.active) return;
  const uint64_t pitch = uint64_t{Mode2dPitch::Get(screen->options.desc.word1)} * surface->bytesPerPixel;
  const uint64_t row = uint64_t{surface->width} * surface->bytesPerPixel;
  if (pitch >= row && pitch <= 0xFFFFFFFFu) surface->pitch = static_cast<uint32_t>(pitch);
}

}  // namespace

Surface3d* SurfaceList3d::CreateClientSurface3d(SurfaceCreateRequest* request, const ClientSurfaceInfo& info) {
  if (resources_ == nullptr) return nullptr;
  const SharedKind3d kind = info.SharedKind();
  if (kind == kSharedNone) return resources_->CreateSurface(kClientResourceType, request);
  SharedSurfaces3d* shared = Shared();
  if (shared == nullptr || shared->table == nullptr) return nullptr;
  Surface3d*& master = shared->masters[kind];
  const bool madeMaster = master == nullptr;
  if (madeMaster) {
    SurfaceCreateRequest own = *request;
    own.fixedHandle = 0;
    if (kind == kSharedPrimary) {
      if (device_->primarySurface == nullptr) return nullptr;
      own.master = device_->primarySurface;
      own.surfaceType = kUsageIndexDisplay;
      own.flags2 &= static_cast<uint8_t>(~kRequestDisplayed);
      master = shared->table->CreateSurface(kClientResourceType, &own);
      if (master == nullptr) return nullptr;
      TakeScreenRows(master, device_->primarySurface);
      shared->primaryState = 0;
    } else {
      master = shared->table->CreateSurface(kClientResourceType, &own);
      if (master == nullptr) return nullptr;
      SurfaceFillRequest fill;
      fill.rect[2] = master->width;
      fill.rect[3] = master->height;
      fill.value = 0;
      fill.mask = 0xFFFFFFFF;
      fill.rop = kFillMode;
      (void)master->Fill(fill);
      if (kind == kSharedBackBuffer) {
        const int32_t slot =
            shared->flips != nullptr ? shared->flips->AssignBuffer(master->busWord, device_->displayMask) : -1;
        shared->flipSlot = slot < 0 ? 0 : slot;
        shared->flipSlotTaken = slot < 0 ? 0 : 1;
      }
    }
    shared->counts[kind] = 0;
  }
  SurfaceCreateRequest clone = *request;
  clone.master = master;
  Surface3d* surface = resources_->CreateSurface(kClientResourceType, &clone);
  if (surface == nullptr) {
    // A master no clone uses does not stay.
    if (shared->counts[kind] == 0) DestroyMaster(shared, device_, kind);
    return nullptr;
  }
  if (kind == kSharedPrimary) TakeScreenRows(surface, device_->primarySurface);
  ++shared->counts[kind];
  return surface;
}

bool SurfaceList3d::ReserveLevelIds(Surface3d* surface, const ClientSurfaceInfo& info) {
  uint32_t ids[kMaxLevelSurfaces];
  uint32_t reserved[kMaxLevelSurfaces];
  uint32_t count = 0, newly = 0;
  const bool texture = (info.flagsA & kInfoTexture) != 0;
  uint32_t levels = 1;
  if (texture && surface->set != nullptr) {
    const int64_t span = int64_t{surface->set->largest} - surface->set->smallest + 1;
    levels = span < 1 ? 1 : span > kClientMaxLevels ? kClientMaxLevels : static_cast<uint32_t>(span);
  }
  bool ok = levelChain_.ok();
  for (uint32_t level = 0; ok && level < levels; ++level) {
    for (uint32_t face = 0; ok && face < info.Faces(); ++face) {
      Surface3d* s = LevelOfSurface(surface, texture, info.Faces(), level, face);
      if (s == nullptr) continue;
      // A level that stands under a handle carries that handle as its id.
      uint32_t id = s->resourceHandle;
      if (id != 0) {
        const bool taken = levelIds_.Get(id) != nullptr;
        if (levelIds_.InsertAt(Placeholder(), id) != id) ok = false;
        if (ok && !taken) reserved[newly++] = id;
      } else {
        id = levelIds_.Insert(Placeholder());
        if (id == 0) ok = false;
        if (ok) reserved[newly++] = id;
      }
      if (ok) ids[count++] = id;
    }
  }
  // Each id leads to the next level's; the last ends the chain.
  for (uint32_t i = 0; ok && i < count; ++i) {
    const uint32_t next = i + 1 < count ? ids[i + 1] : 0;
    auto it = levelChain_.find(ids[i]);
    if (it != levelChain_.end()) {
      it->second = next;
    } else if (!levelChain_.insert(Otl::Pair<const uint32_t, uint32_t>{ids[i], next}).second) {
      ok = false;
    }
  }
  if (ok && count != 0) return true;
  for (uint32_t i = 0; i < newly; ++i) {
    levelIds_.Detach(reserved[i]);
    auto it = levelChain_.ok() ? levelChain_.find(reserved[i]) : levelChain_.end();
    if (it != levelChain_.end()) levelChain_.erase(it);
  }
  return false;
}

void SurfaceList3d::DetachLevels(ClientObject* object) {
  const ClientSurfaceInfo& info = object->info;
  const bool texture = (info.flagsA & kInfoTexture) != 0;
  for (uint32_t level = 0; level < kClientMaxLevels; ++level) {
    for (uint32_t face = 0; face < info.Faces(); ++face) {
      Surface3d* s = LevelOfSurface(object->surface, texture, info.Faces(), level, face);
      if (s == nullptr) return;
      HandleTable<SurfaceObject>* table =
          s->resourceTable != nullptr ? s->resourceTable->TableOf(s->resourceType) : nullptr;
      if (table != nullptr && s->resourceHandle != 0 && table->Get(s->resourceHandle) == s) table->Detach(s->resourceHandle);
      s->resourceHandle = 0;
    }
  }
}

void SurfaceList3d::AssignLevelIds(ClientObject* object) {
  const ClientSurfaceInfo& info = object->info;
  const bool texture = (info.flagsA & kInfoTexture) != 0;
  uint32_t id = info.firstLevelId;
  for (uint32_t level = 0; level < kClientMaxLevels; ++level) {
    for (uint32_t face = 0; face < info.Faces(); ++face) {
      Surface3d* s = LevelOfSurface(object->surface, texture, info.Faces(), level, face);
      if (s == nullptr) return;
      HandleTable<SurfaceObject>* table =
          s->resourceTable != nullptr ? s->resourceTable->TableOf(s->resourceType) : nullptr;
      if (table == nullptr) continue;
      // The level goes back under its id; should that be taken, under any
      // free handle, so that it still leaves the table with its set.
      uint32_t handle = id != 0 && table->Get(id) == nullptr ? table->InsertAt(s, id) : 0;
      if (handle != id || table->Get(handle) != s) handle = table->Insert(s);
      s->resourceHandle = table->Get(handle) == s ? handle : 0;
      if (id != 0) {
        auto it = levelChain_.ok() ? levelChain_.find(id) : levelChain_.end();
        id = it != levelChain_.end() ? it->second : 0;
      }
    }
  }
}

void SurfaceList3d::FreeLevelIds(uint32_t first) {
  uint32_t id = first;
  // A chain is never longer than the ids reserved.
  for (uint32_t steps = 0; id != 0 && steps <= levelIds_.Capacity(); ++steps) {
    levelIds_.Detach(id);
    uint32_t next = 0;
    if (levelChain_.ok()) {
      auto it = levelChain_.find(id);
      if (it != levelChain_.end()) {
        next = it->second;
        levelChain_.erase(it);
      }
    }
    id = next;
  }
}

uint64_t SurfaceList3d::RegisterSurface(Surface3d* surface, bool owns) {
  ClientObject* object = OsNew<ClientObject>();
  if (object == nullptr) return 0;
  object->info = ClientSurfaceInfo::FromSurface(surface);
  object->surface = surface;
  object->ownsSurface = owns ? 1 : 0;
  const uint32_t handle = surface->resourceHandle;
  if (handle == 0 || objects_.Get(handle) != nullptr || !ReserveLevelIds(surface, object->info) ||
      objects_.InsertAt(object, handle) != handle || objects_.Get(handle) != object) {
    object->ownsSurface = 0;
    OsDelete(object);
    return 0;
  }
  object->info.handle = handle;
  return handle;
}

uint64_t SurfaceList3d::AddSurface(Surface3d* surface) {
  if (surface == nullptr) return 0;
  const uint64_t handle = RegisterSurface(surface, false);
  if (handle == 0) return 0;
  if (!plainList_.Append(handle, nullptr)) {
    DestroySurface(handle);
    return 0;
  }
  return handle;
}

uint64_t SurfaceList3d::CreateSurface(ClientSurfaceDescription* description) {
  ClientSurfaceInfo info;
  if (description == nullptr || !ClientSurfaceInfo::FromDescription(device_, *description, &info)) return 0;
  SurfaceCreateRequest request;
  info.ToCreateRequest(&request);
  request.placement = static_cast<uint8_t>((request.placement & ~kPlaceWhere) | kPlaceLocal);
  Surface3d* surface = CreateClientSurface3d(&request, info);
  if (surface == nullptr && (info.flagsA & kInfoVideoOnly) == 0) {
    request.placement = static_cast<uint8_t>((request.placement & ~kPlaceLocal) | kPlaceAgp);
    surface = CreateClientSurface3d(&request, info);
  }
  if (surface == nullptr) return 0;
  // The object keeps the description's kinds; the surface gives the rest.
  ClientObject* object = OsNew<ClientObject>();
  const uint32_t handle = surface->resourceHandle;
  info.firstLevelId = handle;
  if (object != nullptr) {
    object->info = info;
    object->surface = surface;
  }
  if (object == nullptr || handle == 0 || objects_.Get(handle) != nullptr || !ReserveLevelIds(surface, info) ||
      objects_.InsertAt(object, handle) != handle || objects_.Get(handle) != object) {
    if (object != nullptr) {
      object->Release(Shared());
      OsDelete(object);
    } else {
      ClientObject undo;
      undo.info = info;
      undo.surface = surface;
      undo.Release(Shared());
    }
    return 0;
  }
  object->info.handle = handle;
  const bool saved = info.SharedKind() != kSharedNone || (info.flagsA & kInfoVideoOnly) != 0;
  if (!(saved ? savedList_ : plainList_).Append(handle, nullptr)) {
    DestroySurface(handle);
    return 0;
  }
  // A 3D context may have named the handle of any level before it held a
  // surface: its stages look again.
  {
    const bool texture = (info.flagsA & kInfoTexture) != 0;
    for (uint32_t level = 0; level < kClientMaxLevels; ++level)
      for (uint32_t face = 0; face < info.Faces(); ++face)
        if (Surface3d* s = LevelOfSurface(surface, texture, info.Faces(), level, face))
          resources_->InvalidateBindings(kClientResourceType, s->resourceHandle);
  }
  if (info.flagsB & kInfoPrimary) info.ToDescription(description);
  return handle;
}

void SurfaceList3d::DropObject(uint64_t handle) {
  ClientObject* object = Object(handle);
  if (object == nullptr) return;
  objects_.Detach(static_cast<uint32_t>(handle));
  object->Release(Shared());
  OsDelete(object);
}

void SurfaceList3d::DestroySurface(uint64_t handle) {
  ClientObject* object = Object(handle);
  if (object == nullptr) return;
  plainList_.Remove(handle);
  savedList_.Remove(handle);
  FreeLevelIds(object->info.firstLevelId);
  DropObject(handle);
}

SavedClientSurface* SurfaceList3d::Save(ClientObject* object) {
  SavedClientSurface* record = OsNew<SavedClientSurface>();
  if (record == nullptr) return nullptr;
  record->info = object->info;
  if (object->info.SharedKind() != kSharedNone) return record;
  const uint64_t size = object->DataSize();
  record->content = size != 0 && size <= SIZE_MAX ? static_cast<uint8_t*>(memAlloc(static_cast<size_t>(size))) : nullptr;
  if (record->content == nullptr) {
    OsDelete(record);
    return nullptr;
  }
  record->contentSize = size;
  uint64_t at = 0;
  const uint32_t levels = object->LevelCount();
  for (uint32_t face = 0; face < object->info.Faces(); ++face) {
    for (uint32_t level = 0; level < levels; ++level) {
      Surface3d* s = object->LevelSurface(level, face);
      if (s == nullptr) continue;
      const LevelLayout l = LayoutOf(s);
      const uint64_t cpu = l.Span() <= LevelRoom(s) && at + l.Bytes() <= size ? LockSurfaceCpu(s, nullptr) : 0;
      if (cpu == 0) {
        memFree(record->content);
        OsDelete(record);
        return nullptr;
      }
      for (uint64_t z = 0; z < l.slices; ++z) {
        for (uint64_t y = 0; y < l.rows; ++y) {
          memcpy(record->content + at, reinterpret_cast<const uint8_t*>(cpu) + z * l.sliceStride + y * l.rowStride,
                 static_cast<size_t>(l.rowBytes));
          at += l.rowBytes;
        }
      }
      UnlockSurfaceCpu(s, false);
    }
  }
  return record;
}

void SurfaceList3d::SaveAndRelease() {
  for (Node* n = savedList_.sentinel.next; n != &savedList_.sentinel; n = n->next) {
    ClientObject* object = Object(n->handle);
    if (object == nullptr) continue;
    SavedClientSurface* record = Save(object);
    // A save that fails leaves an empty entry: the restore stops there.
    // Without room for the entry the surface would vanish unnoticed: the
    // restore refuses as it does at an empty entry.
    if (!savedRecords_.Append(n->handle, record)) {
      if (record != nullptr) memFree(record->content);
      OsDelete(record);
      recordMissing_ = 1;
    }
  }
  // Every level id of a saved surface stays reserved for its re-creation.
  for (Node* n = savedList_.sentinel.next; n != &savedList_.sentinel; n = n->next) DropObject(n->handle);
}

ClientObject* SurfaceList3d::RecreateSurface(const SavedClientSurface& record) {
  SurfaceCreateRequest request;
  record.info.ToCreateRequest(&request);
  // Any handle for now: the levels go back under their ids once every
  // saved surface is made again (Restore).
  request.fixedHandle = 0;
  request.placement = static_cast<uint8_t>((request.placement & ~kPlaceWhere) | kPlaceLocal);
  Surface3d* surface = CreateClientSurface3d(&request, record.info);
  // A surface that was allowed into AGP memory when it was made may come
  // back there: local memory alone could refuse it on every request 3
  // (a kind whose placements are AGP only, or a fuller local memory), and
  // the client could never come back.
  if (surface == nullptr && (record.info.flagsA & kInfoVideoOnly) == 0) {
    request.placement = static_cast<uint8_t>((request.placement & ~kPlaceLocal) | kPlaceAgp);
    surface = CreateClientSurface3d(&request, record.info);
  }
  if (surface == nullptr) return nullptr;
  ClientObject* object = OsNew<ClientObject>();
  if (object == nullptr) {
    ClientObject undo;
    undo.info = record.info;
    undo.surface = surface;
    undo.Release(Shared());
    return nullptr;
  }
  object->info = record.info;
  object->surface = surface;
  if (object->info.flagsB & kInfoValueSet) object->SetSurfaceValue(object->info.surfaceValue);
  if (record.content == nullptr) return object;
  uint64_t at = 0;
  const uint32_t levels = object->LevelCount();
  bool ok = true;
  for (uint32_t face = 0; ok && face < object->info.Faces(); ++face) {
    for (uint32_t level = 0; ok && level < levels; ++level) {
      Surface3d* s = object->LevelSurface(level, face);
      if (s == nullptr) continue;
      const LevelLayout l = LayoutOf(s);
      const uint64_t cpu =
          l.Span() <= LevelRoom(s) && at + l.Bytes() <= record.contentSize ? LockSurfaceCpu(s, nullptr) : 0;
      if (cpu == 0) {
        ok = false;
        break;
      }
      for (uint64_t z = 0; z < l.slices; ++z) {
        for (uint64_t y = 0; y < l.rows; ++y) {
          memcpy(reinterpret_cast<uint8_t*>(cpu) + z * l.sliceStride + y * l.rowStride, record.content + at,
                 static_cast<size_t>(l.rowBytes));
          at += l.rowBytes;
        }
      }
      UnlockSurfaceCpu(s, true);
    }
  }
  if (!ok) {
    object->Release(Shared());
    OsDelete(object);
    return nullptr;
  }
  return object;
}

bool SurfaceList3d::Restore() {
  if (recordMissing_) return false;
  for (Node* n = savedRecords_.sentinel.next; n != &savedRecords_.sentinel; n = n->next) {
    ClientObject* object = n->record != nullptr && Object(n->handle) == nullptr ? RecreateSurface(*n->record) : nullptr;
    const uint32_t handle = static_cast<uint32_t>(n->handle);
    if (object != nullptr && objects_.InsertAt(object, handle) == handle && objects_.Get(handle) == object) continue;
    if (object != nullptr) {
      object->Release(Shared());
      OsDelete(object);
    }
    // What this attempt re-created goes again; the records stay.
    for (Node* m = savedRecords_.sentinel.next; m != n; m = m->next) DropObject(m->handle);
    return false;
  }
  // The re-created levels took whatever handles were free, some of them
  // other levels' ids: all leave the table first, then each goes back
  // under its own id (free now: only saved surfaces held them).
  for (Node* n = savedRecords_.sentinel.next; n != &savedRecords_.sentinel; n = n->next)
    if (ClientObject* object = Object(n->handle)) DetachLevels(object);
  for (Node* n = savedRecords_.sentinel.next; n != &savedRecords_.sentinel; n = n->next)
    if (ClientObject* object = Object(n->handle)) AssignLevelIds(object);
  FreeRecords();
  return true;
}

void SurfaceList3d::FreeRecords() {
  for (Node* n = savedRecords_.sentinel.next; n != &savedRecords_.sentinel; n = n->next) {
    if (n->record == nullptr) continue;
    memFree(n->record->content);
    OsDelete(n->record);
    n->record = nullptr;
  }
  savedRecords_.Clear();
}

int32_t SurfaceList3d::Request(ClientRequest* request, uint8_t* record) {
  switch (request->Code()) {
    case kRequestCreateSurface: {
      if (record == nullptr) return kRequestRefused;
      ClientSurfaceDescription description;
      memcpy(&description, record, sizeof(description));
      const uint64_t handle = CreateSurface(&description);
      if (handle == 0) return kRequestRefused;
      memcpy(record, &description, sizeof(description));
      request->SetU64(24, handle);
      return kRequestOk;
    }
    case kRequestDestroySurface:
      if (Object(request->U64(16)) == nullptr) return kRequestRefused;
      DestroySurface(request->U64(16));
      return kRequestOk;
    case kRequestLockSurface:
      return LockSurface(request->U64(16), record);
    case kRequestUnlockSurface:
      return UnlockSurface(request->U64(16));
    default:
      return kRequestRefused;
  }
}

int32_t SurfaceList3d::LockSurface(uint64_t handle, uint8_t* record) {
  ClientObject* object = Object(handle);
  if (object == nullptr || record == nullptr) return kRequestRefused;
  ClientSurfaceLock lock;
  memcpy(&lock, record, sizeof(lock));
  if (object->LockLevel(&lock) == 0) return kRequestRefused;
  memcpy(record, &lock, sizeof(lock));
  return kRequestOk;
}

int32_t SurfaceList3d::UnlockSurface(uint64_t handle) {
  ClientObject* object = Object(handle);
  if (object == nullptr) return kRequestRefused;
  object->Unlock();
  return kRequestOk;
}

SurfaceList3d* SurfaceList3dCreate(PDEV* device, ClientContext* client, ResourceTable* resources) {
  SurfaceList3d* list = OsNew<SurfaceList3d>();
  if (list == nullptr) return nullptr;
  if (!list->Init(client, device, resources)) {
    OsDelete(list);
    return nullptr;
  }
  return list;
}

void SurfaceList3dDestroy(SurfaceList3d* list) { OsDelete(list); }

// ---- Tokens -------------------------------------------------------------------------------------

void tokens::SetSurfaceValues(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  ClientContext* client = token->context != nullptr ? token->context->client : nullptr;
  SurfaceList3d* list = client != nullptr ? client->surfaces : nullptr;
  if (list == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t entry[2];
    memcpy(entry, payload + 16 * i, sizeof(entry));
    if (ClientObject* object = list->Object(entry[0])) object->SetSurfaceValue(static_cast<uint32_t>(entry[1]));
  }
}

namespace {

constexpr uint32_t kBoxEntryBytes = 72;

// The box of one entry copied from the client buffer into the level: rows
// of the box width packed in the buffer, slices of the box height.
void UpdateSurfaceBox(ClientContext* client, const uint8_t* entry) {
  uint64_t words[3];
  uint32_t box[6], level, face;
  memcpy(words, entry, sizeof(words));
  memcpy(box, entry + 24, sizeof(box));
  memcpy(&level, entry + 48, 4);
  memcpy(&face, entry + 56, 4);
  ClientBuffer3d* buffer = client->Buffer(words[0]);
  ClientObject* object = client->surfaces->Object(words[2]);
  if (buffer == nullptr || object == nullptr || buffer->linear == nullptr) return;
  if (buffer->kind == kClientBufferAgp || buffer->kind == 3) return;
  Surface3d* s = object->LevelSurface(level, face);
  if (s == nullptr || s->format == nullptr) return;
  // left, top, front, right, bottom, back, clipped to the level.
  int64_t l = box[0], t = box[1], f = box[2], r = box[3], b = box[4], k = box[5];
  if (r > StoredWidth(s)) r = StoredWidth(s);
  if (b > StoredHeight(s)) b = StoredHeight(s);
  if (k > s->depth) k = s->depth;
  if (r <= l || b <= t || k <= f) return;
  uint64_t rowSize = uint64_t(r - l) * s->bitsPerPixel / 8;
  if (s->format->formatClass == kClassBlockCompressed && r - l < int64_t{kBlockSide})
    rowSize = uint64_t{kBlockSide} * s->bitsPerPixel / 8;
  const uint64_t height = uint64_t(b - t);
  const uint64_t sliceSize = rowSize * height;
  const uint64_t bytes = sliceSize * uint64_t(k - f);
  const uint64_t offset = words[1];
  if (rowSize == 0 || offset > buffer->size || bytes > buffer->size - offset) return;
  const uint8_t* from = static_cast<const uint8_t*>(buffer->linear) + offset;
  if (s->MemoryKind() == 1 && !IsCompressed(s)) {
    const uint64_t bpp = s->bitsPerPixel / 8;
    const uint64_t slice = SlicePitchOf(s);
    const uint64_t end = uint64_t(k - 1) * slice + uint64_t(b - 1) * s->pitch + uint64_t(l) * bpp + rowSize;
    if (end > LevelRoom(s)) return;
    const uint64_t cpu = LockSurfaceCpu(s, nullptr);
    if (cpu == 0) return;
    for (int64_t z = f; z < k; ++z)
      for (int64_t y = t; y < b; ++y)
        memcpy(reinterpret_cast<uint8_t*>(cpu) + uint64_t(z) * slice + uint64_t(y) * s->pitch + uint64_t(l) * bpp,
               from + uint64_t(z - f) * sliceSize + uint64_t(y - t) * rowSize, static_cast<size_t>(rowSize));
    UnlockSurfaceCpu(s, true);
    return;
  }
  SurfaceLockRequest q;
  q.flags = kLockBox;
  q.direction = 0;
  q.clientAddress = reinterpret_cast<uintptr_t>(from);
  q.clientPitch = static_cast<uint32_t>(rowSize);
  q.clientSlicePitch = sliceSize <= 0xFFFFFFFFu ? static_cast<uint32_t>(sliceSize) : 0;
  q.clientSize = bytes;
  q.box[0] = 0;
  q.box[1] = 0;
  q.box[2] = static_cast<uint32_t>(r - l);
  q.box[3] = static_cast<uint32_t>(height);
  q.box[4] = 0;
  q.box[5] = static_cast<uint32_t>(k - f);
  q.boxDestX = static_cast<uint32_t>(l);
  q.boxDestY = static_cast<uint32_t>(t);
  q.boxDestZ = static_cast<uint32_t>(f);
  (void)s->LockWithRequest(&q);
}

}  // namespace

void tokens::UpdateSurfaceBoxes(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  ClientContext* client = token->context != nullptr ? token->context->client : nullptr;
  if (client == nullptr || client->surfaces == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) UpdateSurfaceBox(client, payload + uint64_t{kBoxEntryBytes} * i);
}
