#include "xdriver/device_bitmap.h"

#include <string.h>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/surf_desc_list.h"

namespace {

// Format codes of bitmaps made from a descriptor, by bytes per pixel.
uint32_t FormatCodeOfBytes(uint32_t bytes) {
  switch (bytes) {
    case 1:
      return 17;
    case 2:
      return 40;
    default:
      return 50;
  }
}

// Format codes as the device compares them: 16-17 are 16, 32, 33 and 40
// are 32, 48, 50 and 51 are 48.
uint32_t NormalisedFormat(uint32_t format) {
  switch (format) {
    case 16: case 17:
      return 16;
    case 32: case 33: case 40:
      return 32;
    case 48: case 50: case 51:
      return 48;
    default:
      return format;
  }
}

// Mode-word bits a derived bitmap's descriptor must not have.
constexpr uint32_t kDerivedRefusedModeBits = (1u << 19) | (1u << 20) | (1u << 22) | (1u << 23) |
                                            (1u << 30) | (1u << 31);

// A bound bitmap's block is in use by the engine until it is unbound.
constexpr int32_t kBlockInUse = -1;

}  // namespace

// ---- DeviceBitmap ------------------------------------------------------------------------

bool DeviceBitmap::OnDiscard() { return true; }

void DeviceBitmap::Disable(MmSurfaceManager* m) {
  if (surfDescList != nullptr) surfDescList->UnassignSurfDescFrom(this);
  Surface2d::Disable((flags & kDevBitDerived) ? nullptr : m);
}

bool DeviceBitmap::Create(PDEV* d, const LSIZE* size) {
  pdev = d;
  if (size != nullptr) {
    bytesPerPixel = d->mode.bytesPerPixel;
    bitsPerPixel = d->mode.bitsPerPixel;
    formatCode = d->mode.pixelFormat;
    memoryId = d->data2d.memoryId;
    Describe(d, (static_cast<uint32_t>(size->width) + 31) & 0x3FE0, k2dLayoutBitmap,
             d->mode.pixelFormat, static_cast<uint32_t>(size->height), k2dMemoryDeviceBitmap,
             k2dLocationLocal);
  } else {
    bytesPerPixel = options.desc.GetBitsPerPixel() / 8;
    bitsPerPixel = bytesPerPixel == 1 ? 8 : (bytesPerPixel == 2 ? 16 : 32);
    formatCode = FormatCodeOfBytes(bytesPerPixel);
  }
  flags = 0;
  // The processor sees the bitmap through its aperture at the surface's
  // own pitch (the display pitch rule: width rounded up to 32, no power of
  // two), so that is the host pitch.
  hostPitch = options.desc.Width() * bytesPerPixel;
  assignedWord = kNoDescriptor;
  surfDescList = d->data2d.surfDescList;
  width = options.desc.Width();
  height = options.desc.Height();
  return Enable(d->surfaceManager);
}

bool DeviceBitmap::Create(PDEV* d, uint32_t code) {
  const bool ok = Create(d, static_cast<const LSIZE*>(nullptr));
  formatCode = code;
  return ok;
}

bool DeviceBitmap::CreateDerived(PDEV* d, MmSurface* s) {
  if (s == nullptr || s->aperture == nullptr) return false;
  MmSurfDesc desc = s->aperture->options.desc;
  const uint32_t format = NormalisedFormat(desc.Format());
  if (format != d->mode.pixelFormat2) return false;
  if (desc.MemoryBits() != 0) return false;
  if (desc.Layout() != 2 && desc.Layout() != 3) return false;
  if ((desc.word1 & kDerivedRefusedModeBits) != 0 || desc.Depth() != 1) return false;

  if (!CreateCloneFrom(s)) return false;
  desc.word1 = Mode2dFormat::Set(Mode2dLayout::Set(desc.word1, k2dLayoutBitmap), format);
  options.desc = desc;
  s->aperture->options.desc = desc;
  if (Create(d, static_cast<const LSIZE*>(nullptr))) {
    flags |= kDevBitDerived;
    return true;
  }
  if (master != nullptr) {
    DetachCloneFromMaster();
  } else if (d->surfaceManager != nullptr) {
    d->surfaceManager->DestroySurface(this);
  }
  return false;
}

DeviceBitmap::~DeviceBitmap() { ReleaseHostCopy(); }

void DeviceBitmap::ReleaseHostCopy() {
  if ((flags & kDevBitHostCopy) && pdev != nullptr && pdev->data2d.hostCache != nullptr) {
    pdev->data2d.hostCache->Release(this);
  }
}

void DeviceBitmap::Destroy() {
  ReleaseHostCopy();
  flags &= ~kDevBitDiscarded;
  if (enabled && pdev != nullptr) Disable(pdev->surfaceManager);
  if (flags & kDevBitDerived) {
    if (master != nullptr) {
      DetachCloneFromMaster();
    } else if (pdev != nullptr && pdev->surfaceManager != nullptr) {
      pdev->surfaceManager->DestroySurface(this);
    }
    flags &= ~kDevBitDerived;
  }
}

bool DeviceBitmap::Uncache() {
  if (flags & kDevBitDerived) return false;
  if (OnDiscard() && pdev != nullptr) Disable(pdev->surfaceManager);
  return true;
}

bool DeviceBitmap::Recache() {
  if ((flags & kDevBitDiscarded) == 0) return true;
  if (flags & kDevBitDerived) return false;
  if (!Enable(pdev->surfaceManager)) return false;
  SharedLockedData_t* shared = pdev->sharedLocked;
  // Without the lock the context is not set: the bitmap stays discarded and
  // the next recache tries again.
  if (!BmAcquireCommandLock(shared, kCmdLockOwnerXDriver)) return false;
  if ((pdev->data2d.bracket.preDraw & kPreDrawSetContext) && pdev->data2d.context != nullptr) {
    pdev->data2d.context->SetContext(pdev);
  }
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
  flags &= ~kDevBitDiscarded;
  return true;
}

void DeviceBitmap::RecacheAllDevBits(PDEV* d) {
  for (DeviceBitmap* b = d->data2d.recacheList; b != nullptr; b = b->next) b->Recache();
}

void DeviceBitmap::ProgSurfDesc() {
  uint32_t* at = pdev->primInt->Reserve(3);
  if (at == nullptr) return;
  at[0] = DescriptorHeader(assignedWord != 0 ? 1 : 0);
  at[1] = addressWord;
  at[2] = ModeWord();
}

void DeviceBitmap::ClearSurface() {
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    if (!bracket.Drawing()) return;
    {
      // The two packets go out as one batch.
      BmBatch batch(prim);
      if (uint32_t* at = batch.Put(5)) {
        // Descriptor 3 := this bitmap; fill into descriptor 3 with copy, foreground 0.
        at[0] = PacketHeader(k2dIdxDescAddress3, k2dIdxDescMode3, k2dIdxControl, k2dIdxForeground);
        at[1] = addressWord;
        at[2] = ModeWord();
        at[3] = k2dOpFill | Control2dRop::Word(k2dRopCopy) | Control2dDest::Word(3);
        at[4] = 0;
      }
      if (uint32_t* at = batch.Put(3)) {
        at[0] = PacketHeader(k2dIdxOrigin, k2dIdxSizeGo);
        at[1] = 0;
        at[2] = height << 16 | width;
      }
    }
    prim->Start();
  }
  if (surfDescList != nullptr) surfDescList->UnassignSurfDescFrom(this);
  if (block != nullptr) block->drawSyncTag = kBlockInUse;
  if ((flags & kDevBitHostCopy) && hostCopy != nullptr) memset(hostCopy, 0, size_t{height} * hostPitch);
  flags |= kDevBitCleared;
}

void DeviceBitmap::XferBitmap(void* mem, int32_t pitch, const LRECT* r, const LPOINT* p,
                              bool toDevice) {
  // The rectangle on the bitmap and the point in system memory, clipped to
  // the bitmap.
  int32_t bx, by, mx, my;
  int32_t w = r->right - r->left, h = r->bottom - r->top;
  if (toDevice) {
    bx = r->left, by = r->top, mx = p->x, my = p->y;
  } else {
    bx = p->x, by = p->y, mx = r->left, my = r->top;
  }
  if (bx < 0) { mx -= bx; w += bx; bx = 0; }
  if (by < 0) { my -= by; h += by; by = 0; }
  if (w > static_cast<int32_t>(width) - bx) w = static_cast<int32_t>(width) - bx;
  if (h > static_cast<int32_t>(height) - by) h = static_cast<int32_t>(height) - by;
  if (w <= 0 || h <= 0) return;

  uint8_t* base = LockSurfaceCpu(this);
  if (base == nullptr) return;
  const size_t rowBytes = size_t(w) * bytesPerPixel;
  uint8_t* device = base + size_t(by) * hostPitch + size_t(bx) * bytesPerPixel;
  uint8_t* system = static_cast<uint8_t*>(mem) + int64_t{my} * pitch + int64_t{mx} * bytesPerPixel;
  uint8_t* to = toDevice ? device : system;
  const uint8_t* from = toDevice ? system : device;
  const int64_t toPitch = toDevice ? int64_t{hostPitch} : pitch;
  const int64_t fromPitch = toDevice ? pitch : int64_t{hostPitch};
  if (toPitch == static_cast<int64_t>(rowBytes) && fromPitch == static_cast<int64_t>(rowBytes)) {
    memcpy(to, from, rowBytes * size_t(h));
  } else {
    const bool aligned = ((reinterpret_cast<uintptr_t>(to) | reinterpret_cast<uintptr_t>(from)) & 3) == 0;
    for (int32_t row = 0; row < h; ++row, to += toPitch, from += fromPitch) {
      if (aligned) {
        const size_t dwords = rowBytes / 4;
        for (size_t i = 0; i < dwords; ++i) {
          uint32_t v;
          memcpy(&v, from + 4 * i, 4);
          memcpy(to + 4 * i, &v, 4);
        }
        memcpy(to + 4 * dwords, from + 4 * dwords, rowBytes & 3);
      } else {
        memcpy(to, from, rowBytes);
      }
    }
  }
  ReleaseSurfaceCpu(this);
  if (toDevice) {
    if (uint32_t* at = pdev->primInt->Reserve(2)) {
      at[0] = PacketHeader(k2dIdxControl);
      at[1] = k2dControlIdle;
    }
  }
}

// ---- HostBitmapCache ------------------------------------------------------------------------

HostBitmapCache::HostBitmapCache(uint32_t size, uint32_t count) : slotSize(size), slotCount(count) {
  memory = static_cast<uint8_t*>(memAlloc(size_t{size} * count));
  owners = static_cast<DeviceBitmap**>(memAlloc(sizeof(DeviceBitmap*) * count));
  valid = memory != nullptr && owners != nullptr && count != 0;
  if (owners != nullptr)
    for (uint32_t i = 0; i < count; ++i) owners[i] = &empty;
}

HostBitmapCache::~HostBitmapCache() {
  if (owners != nullptr) memFree(owners);
  if (memory != nullptr) memFree(memory);
}

void HostBitmapCache::Release(DeviceBitmap* b) {
  if (owners != nullptr && b->hostSlot < slotCount && owners[b->hostSlot] == b) {
    owners[b->hostSlot] = &empty;
  }
  b->flags &= ~kDevBitHostCopy;
  b->hostCopy = nullptr;
}

bool HostBitmapCache::AllocateHostBitmap(DeviceBitmap* b) {
  if (!valid || uint64_t{b->height} * b->hostPitch > slotSize) return false;
  uint32_t index = nextSlot;
  if (owners[index]->flags & kDevBitHostCopy) {
    for (uint32_t i = 1; i < slotCount; ++i) {
      const uint32_t candidate = (nextSlot + i) % slotCount;
      if ((owners[candidate]->flags & kDevBitHostCopy) == 0) {
        index = candidate;
        break;
      }
    }
    if (owners[index]->flags & kDevBitHostCopy) {
      owners[index]->flags &= ~kDevBitHostCopy;
      owners[index]->hostCopy = nullptr;
    }
  }
  b->flags |= kDevBitHostCopy;
  b->hostSlot = index;
  b->hostCopy = memory + size_t{index} * slotSize;
  owners[index] = b;
  nextSlot = (index + 1) % slotCount;
  return true;
}

// ---- Row 14 ---------------------------------------------------------------------------------

bool InitDeviceBitmap(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  data.hostCache = new HostBitmapCache(pdev->mode.bytesPerPixel * kHostCacheSlotPixels, kHostCacheSlots);
  if (data.hostCache == nullptr) return false;
  data.pool = new MmObjectPool<DeviceBitmap>(kDeviceBitmapPoolSize, kDeviceBitmapPoolSize);
  return true;
}

void CleanupDeviceBitmap(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  delete data.pool;
  data.pool = nullptr;
  delete data.hostCache;
  data.hostCache = nullptr;
}
