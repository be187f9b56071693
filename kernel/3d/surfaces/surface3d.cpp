// The surface object: construction and destruction, the hardware
// descriptor, the links, the texture-set table and the client set-up.
#include "kernel/3d/surfaces/surface3d.h"

#include <initializer_list>

#include "core/bm_buffer.h"
#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/locked_pages.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/kglue/kglue.h"

namespace {

uint32_t UsageWord(PDEV* owner) {
  return owner != nullptr && owner->common != nullptr ? owner->common->revisionBits : 0;
}

uint32_t LayoutCode(const MmSurfDesc& r) { return r.Layout(); }

void SetLayoutCode(MmSurfDesc* r, uint32_t code) {
  r->word1 = Mode2dLayout::Set(r->word1, code);
}

void SetWidthField(MmSurfDesc* r, uint32_t width) {
  r->word1 = Mode2dPitch::Set(r->word1, width);
}

void SetHeightField(MmSurfDesc* r, uint32_t height) {
  r->word2 = Dim2dHeight::Set(r->word2, height);
}

void SetDepthField(MmSurfDesc* r, uint32_t depth) {
  r->word2 = Dim2dDepth::Set(r->word2, depth);
}

}  // namespace

// ---- Hardware descriptor -----------------------------------------------------------------------

void SurfaceHwDesc::Build(SurfaceHwDesc* desc, PDEV* owner, const FormatDescriptor* format, uint32_t location,
                          uint32_t width, uint32_t height, uint32_t depth, uint32_t layoutMode, uint32_t face,
                          bool bordered, bool tiled, bool plain) {
  desc->format = format;
  if (format == nullptr) return;
  const uint32_t usageWord = UsageWord(owner);
  for (uint32_t usage = 0; usage < kUsageCount; ++usage) {
    const FormatCapability* entry = format->capabilities[usage];
    if (entry == nullptr) continue;
    MmSurfDesc& r = desc->records[usage];
    const uint32_t options = entry->p1;
    r.word0 = location & kMemBitsMask;
    r.word1 = (r.word1 & (kHwAgpBit14 | kHwAgpBit15)) | Mode2dPitch::Word(width) |
              (layoutMode & kHwLayoutModeMask) << kHwLayoutModeShift | (bordered ? kHwBordered : 0) |
              ((options & 1) != 0 ? kHwOptionBit : 0) | Mode2dFormat::Word(entry->hardwareCode) |
              ((entry->p3 & 1) != 0 ? kHwFlagBit : 0) | (entry->p4 != 0 ? kHwExtraBit : 0);
    r.word2 = Dim2dHeight::Word(height) | Dim2dDepth::Word(depth) |
              (face & 0xF) << kHwFaceShift;
    r.size = 0;
    r.revision = usageWord;

    if (layoutMode == 3) {
      if (options & kOptionCubeWidth) {
        SetWidthField(&r, 32);
        SetHeightField(&r, width >> 5);
      } else {
        SetHeightField(&r, width);
        SetDepthField(&r, width);
      }
    }
    if (options & kOptionWidthRounded) SetWidthField(&r, (r.Width() + 31) & ~31u);
    if ((options & kOptionBorderRemoved) && bordered) {
      SetWidthField(&r, r.Width() - 2);
      SetHeightField(&r, r.Height() - 2);
      SetDepthField(&r, r.Depth() - 2);
    }
    if (options & kOptionLayoutCleared) r.word1 &= ~(kHwLayoutModeMask << kHwLayoutModeShift);
    if (layoutMode == 1 && (options & kOptionSingleDepth)) SetDepthField(&r, 1);
    if (options & kOptionFaceCleared) r.word2 &= ~(0xFu << kHwFaceShift);

    uint32_t code;
    if (usage == kUsageSurface || usage == kUsageSurfaceB || usage == kUsageSurfaceC) {
      code = 3;
    } else if (usage == kUsageCpuView) {
      code = tiled ? 4 : 3;
    } else {
      code = tiled ? 4 : 2;
    }
    if (usage != kUsageSurface && FormatClassOf(entry->format) == kClassBlockCompressed) code = 5;
    SetLayoutCode(&r, code);
  }
  if (plain) {
    const MmSurfDesc& memory = desc->records[kUsageMemoryView];
    const uint32_t elements = memory.Width() * memory.Height();
    for (uint32_t usage = 0; usage < kUsageCount; ++usage) {
      if (format->capabilities[usage] != nullptr) SetLayoutCode(&desc->records[usage], 0);
    }
    for (uint32_t usage : {kUsageCpuView, kUsageMemoryView}) {
      if (format->capabilities[usage] != nullptr) desc->records[usage].size = elements;
    }
  }
  SetLocation(desc, owner, 0);
}

void SurfaceHwDesc::SetLocation(SurfaceHwDesc* desc, PDEV* owner, uint32_t address) {
  const FormatDescriptor* format = desc->format;
  if (format == nullptr) return;
  const uint32_t usageWord = UsageWord(owner);
  const bool agp = (address & kMemBitsMask) == kMemAgp;
  for (uint32_t usage = 0; usage < kUsageCount; ++usage) {
    if (format->capabilities[usage] == nullptr) continue;
    MmSurfDesc& r = desc->records[usage];
    r.word0 = address;
    if (!agp) continue;
    const uint32_t code = LayoutCode(r);
    if (code >= 2 && code <= 4) SetLayoutCode(&r, 4);
    if ((usageWord & kUsageGroupA) != 0 && format->code == 1) r.word2 = (r.word2 | kHwAgpBit15) & ~kHwAgpBit14;
    if ((usageWord & kUsageGroupB) != 0) {
      if (format->formatClass == kClassBlockCompressed || (LayoutCode(r) == 4 && r.GetBitsPerPixel() == 8)) {
        r.word2 = (r.word2 | kHwAgpBit15) & ~kHwAgpBit14;
      } else if (format->code == 1) {
        r.word2 |= kHwAgpBit14 | kHwAgpBit15;
      }
    }
  }
}

// ---- Links -------------------------------------------------------------------------------------

void SurfaceShadowLink::Init(Surface3d* ownerSurface) {
  active = 0;
  creator = nullptr;
  shadow = nullptr;
  owner = ownerSurface;
  scaleX = 1.0f;
  scaleY = 1.0f;
}

void SurfaceShadowLink::Assign(const SurfaceShadowLink& other) {
  if (&other == this) return;
  active = other.active;
  owner = other.owner;
  shadow = other.shadow;
  scaleX = other.scaleX;
  scaleY = other.scaleY;
}

// ---- Surface3d ---------------------------------------------------------------------------------

Surface3d::Surface3d() {
  shadowLink.Init(nullptr);
  flagsWord = 9u << kSurfNibbleShift | kSurfaceFresh << kSurfKindShift;
}

Surface3d::~Surface3d() {
  if (owner != nullptr) ForgetOpenRenderTarget(owner->common, this);
  if (bindingOwner != nullptr) UnbindSurfaceReferences(bindingOwner, this);
  bindingOwner = nullptr;
  if (ring != nullptr) DetachFromRing();
  if (master != nullptr) {
    DetachCloneFromMaster();
  } else if (block != nullptr && manager != nullptr) {
    manager->DestroySurface(this);
  }
  if (inSet && set != nullptr) {
    TextureSurfaceSet* from = set;
    TextureLevelTable::Remove(from, this);
    inSet = 0;
    set = nullptr;
    if (from->total == 0) delete from;
  }
  if (lockedCopy.allocated && owner != nullptr) {
    MmFreeLockedPages(owner->common, owner->unit, reinterpret_cast<void*>(static_cast<uintptr_t>(lockedCopy.cpu)));
    lockedCopy.allocated = 0;
  }
  // Either half of a pair unlinks the other first; the surface the pair was
  // made for destroys its companion, the companion leaves its surface be.
  if (Surface3d* other = Companion()) {
    const bool mainHalf = companionLink.surface == this;
    other->companionLink = SurfaceCompanionLink();
    other->companionActive = 0;
    companionLink = SurfaceCompanionLink();
    companionActive = 0;
    if (mainHalf) DestroySurface3d(other);
  }
  if (shadowOwned && shadowLink.shadow != nullptr && shadowLink.shadow != this && shadowLink.creator == this)
    delete shadowLink.shadow;
  shadowLink.shadow = nullptr;
  shadowOwned = 0;
  pendingWork = nullptr;
  workPending = 0;
  view = ViewWindow();
  colourKeyPresent = 0;
  inSync = pendingPost = syncSuspended = 0;
}

// ---- Views over buffer rings --------------------------------------------------------------------

Surface3d* Surface3d::CreateOverRing(ResourceTable* table, BmBufferRing* bufferRing, uint32_t type) {
  if (table == nullptr || bufferRing == nullptr) return nullptr;
  auto* surface = new Surface3d();
  if (surface == nullptr) return nullptr;
  surface->ring = bufferRing;
  if (bufferRing->view == nullptr) bufferRing->view = surface;
  surface->resourceTable = table;
  surface->resourceType = type;
  surface->owner = table->device;
  surface->SetClassField(kClassFieldOverRing);
  surface->SetSurfaceClass(kSurfaceOverRing);
  surface->colourKeyPresent = 0;
  surface->SetPlacement(bufferRing->memoryKind == kBmMemAgp     ? kNibbleAgp
                        : bufferRing->memoryKind == kBmMemLocal ? kNibbleLocal
                                                                : kNibbleOther);
  surface->ringSize = bufferRing->Size();
  table->InvalidateBindings(type, surface->resourceHandle);
  return surface;
}

void Surface3d::DetachFromRing() {
  SetPlacement(0);
  if (ring != nullptr && ring->view == this) ring->view = nullptr;
  ring = nullptr;
  if (resourceTable != nullptr) resourceTable->InvalidateBindings(resourceType, resourceHandle);
}

uint32_t Surface3dResourceHandle(Surface3d* surface) { return surface != nullptr ? surface->resourceHandle : 0; }

bool Surface3d::OnDiscard() { return MmSurface::OnDiscard() ? 1 : 0; }
void Surface3d::OnDestroy() { MmSurface::OnDestroy(); }
void Surface3d::OnRestore() { MmSurface::OnRestore(); }
void Surface3d::OnDiscardMaster() { MmSurface::OnDiscardMaster(); }
void Surface3d::OnRestoreMaster() { MmSurface::OnRestoreMaster(); }

void Surface3d::OnDestroyMaster() {
  if (master != nullptr) {
    DetachCloneFromMaster();
  } else if (manager != nullptr) {
    manager->DestroySurface(this);
  }
}

void Surface3d::SetPlacement(uint32_t nibble) {
  flagsWord = (flagsWord & ~(0xFu << kSurfPlacementShift)) | (nibble & 0xF) << kSurfPlacementShift;
}

void Surface3d::SetClassField(uint32_t value) {
  flagsWord = (flagsWord & ~(kSurfClassFieldMask << kSurfClassFieldShift)) |
              (value & kSurfClassFieldMask) << kSurfClassFieldShift;
}

void Surface3d::SetSurfaceClass(uint32_t value) {
  flagsWord = (flagsWord & ~(0xFu << kSurfKindShift)) | (value & 0xF) << kSurfKindShift;
}

void Surface3d::SetFace(uint32_t face) {
  flagsWord = (flagsWord & ~(0xFu << kSurfFaceShift)) | (face & 0xF) << kSurfFaceShift;
}

const MmSurfDesc& Surface3d::MemoryRecord() const {
  const bool hasMemoryView = format != nullptr && format->capabilities[kUsageMemoryView] != nullptr;
  return hw.records[hasMemoryView ? kUsageMemoryView : kUsageCpuView];
}

void Surface3d::ExpandColourKey() {
  expandedKey = 0xFFFFFFFF;
  expandedKeyValid = 0;
  if (!colourKeyPresent || format == nullptr) return;
  uint32_t value = 0;
  if (format->ExpandToArgb(&value, colourKey, kUsageSurface)) {
    expandedKey = value;
    expandedKeyValid = 0xFFFFFFFF;
  } else {
    colourKeyPresent = 0;
  }
}

Surface3d* Surface3d::Companion() const {
  if (companionLink.companion == nullptr || companionLink.surface == nullptr) return nullptr;
  return companionLink.companion == this ? companionLink.surface : companionLink.companion;
}

void DestroySurface3d(Surface3d* surface) {
  if (surface == nullptr) return;
  ResourceTable* table = surface->resourceTable;
  if (table != nullptr && surface->resourceHandle != 0 &&
      table->Get(surface->resourceType, surface->resourceHandle) == surface) {
    table->DestroyResource(surface->resourceType, surface->resourceHandle);
  } else {
    delete surface;
  }
}

// ---- Client set-up -----------------------------------------------------------------------------

namespace {

void SetUpForClient(Surface3d* surface, ResourceTable* table, uint32_t type) {
  surface->resourceType = type;
  surface->resourceTable = table;
  surface->processId = OsGetCurrentProcessId();
  surface->ExpandColourKey();
  table->InvalidateBindings(type, surface->resourceHandle);
}

}  // namespace

Surface3d* Surface3d::InitForClient(ResourceTable* table, SurfaceCreateRequest* request, uint32_t type) {
  Surface3d* surface = CreatePlaced(table->device, request);
  if (surface == nullptr) return nullptr;
  SetUpForClient(surface, table, type);
  return surface;
}

bool Surface3d::WantsCompanion(const SurfaceCreateRequest& request) {
  const FormatDescriptor* f = request.format;
  return (request.placement & kRequestNoCompanion) == 0 && (request.surfaceType & 0x0B) != 0 &&
         request.height == 1 && request.width >= 64 && (request.width & 1) == 0 && f != nullptr &&
         f->formatClass != kClassBlockCompressed && f->formatClass != kClassVideo;
}

bool Surface3d::MakeCompanion(SurfaceCreateRequest* request) {
  if (resourceTable == nullptr || !WantsCompanion(*request)) return false;
  // The companion is a surface of its own: a free handle, never the
  // displayed one.
  SurfaceCreateRequest copy = *request;
  copy.surfaceType = kMmTypeCompanion;
  copy.placement |= kRequestNoCompanion;
  copy.fixedHandle = 0;
  copy.flags2 &= static_cast<uint8_t>(~kRequestDisplayed);
  Surface3d* made = resourceTable->CreateSurface(resourceType, &copy);
  if (made == nullptr) return false;
  companionLink = SurfaceCompanionLink{made, this};
  made->companionLink = companionLink;
  companionActive = 1;
  made->companionActive = 1;
  return true;
}

TextureSurfaceSet* Surface3d::InitSetForClient(ResourceTable* table, SurfaceCreateRequest* request,
                                               uint32_t type) {
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(table->device, request);
  if (set == nullptr) return nullptr;
  for (uint32_t face = 0; face < kCubeFaces; ++face) {
    for (uint32_t c = 0; c < kSizeClasses; ++c) {
      if (Surface3d* level = set->table[face][c]) SetUpForClient(level, table, type);
    }
  }
  if (set->owner != nullptr) {
    set->owner->resourceType = type;
    set->owner->resourceTable = table;
    set->owner->processId = OsGetCurrentProcessId();
  }
  return set;
}

// ---- Texture sets ------------------------------------------------------------------------------

uint32_t SizeClassOf(uint32_t width, uint32_t height, uint32_t depth) {
  uint32_t largest = width > height ? width : height;
  if (depth > largest) largest = depth;
  uint32_t sizeClass = 0;
  while (largest > 1) {
    largest >>= 1;
    ++sizeClass;
  }
  return sizeClass;
}

bool TextureLevelTable::Insert(TextureLevelTable* set, Surface3d* surface) {
  const uint32_t c = SizeClassOf(surface->width, surface->height, surface->depth);
  const uint32_t face = surface->Face();
  if (c >= kSizeClasses || face >= kCubeFaces || set->table[face][c] != nullptr) return false;
  set->table[face][c] = surface;
  if (set->total == 0) {
    set->smallest = set->largest = static_cast<int32_t>(c);
  } else {
    if (static_cast<int32_t>(c) < set->smallest) set->smallest = static_cast<int32_t>(c);
    if (static_cast<int32_t>(c) > set->largest) set->largest = static_cast<int32_t>(c);
  }
  ++set->total;
  ++set->classCount[c];
  return true;
}

void TextureLevelTable::Remove(TextureLevelTable* set, Surface3d* surface) {
  const uint32_t c = SizeClassOf(surface->width, surface->height, surface->depth);
  const uint32_t face = surface->Face();
  if (c >= kSizeClasses || face >= kCubeFaces || set->table[face][c] != surface) return;
  set->table[face][c] = nullptr;
  --set->total;
  --set->classCount[c];
  if (set->total == 0) {
    set->smallest = set->largest = 0;
  } else if (set->classCount[c] == 0) {
    if (set->smallest == static_cast<int32_t>(c)) {
      ++set->smallest;
    } else if (set->largest == static_cast<int32_t>(c)) {
      --set->largest;
    }
  }
}

TextureSurfaceSet::~TextureSurfaceSet() {
  for (uint32_t face = 0; face < kCubeFaces; ++face) {
    for (int32_t c = kSizeClasses - 1; c >= 0; --c) {
      Surface3d* level = table[face][c];
      if (level == nullptr) continue;
      Remove(this, level);
      level->inSet = 0;
      level->set = nullptr;
      DestroySurface3d(level);
    }
  }
  delete owner;
  owner = nullptr;
}
