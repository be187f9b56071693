// Creating and placing surfaces and texture sets: local video memory, then
// AGP memory, then system memory, among the places a request allows; the
// sizes of every level, the packing of small mip levels into one area, and
// the blocks the surface manager hands out.
#include <string.h>

#include <initializer_list>

#include "core/common_data.h"
#include "core/hw_device.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/kglue/kglue.h"

namespace {

// Small levels share one area: where each lies in it, by packing index.
constexpr uint32_t kPackedLevels = 5;
constexpr uint32_t kPackX[kPackedLevels] = {0, 16, 24, 16, 24};
constexpr uint32_t kPackY[kPackedLevels] = {0, 0, 0, 8, 8};
constexpr uint32_t kPackPixelOffset[kPackedLevels] = {0, 16, 24, 272, 280};
// A packed level after the first is described as this size.
constexpr uint32_t kPackedWidth = 32;
constexpr uint32_t kPackedHeight = 16;
constexpr uint32_t kPackedSide = 16;
constexpr uint32_t kPackedVolumeDepth = 32;
constexpr uint32_t kBlockSide = 4;  // block-compressed formats
constexpr uint32_t kSystemAlignment = 32;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }
uint32_t AtLeastOne(uint32_t value) { return value == 0 ? 1 : value; }
uint32_t RoundUp(uint32_t value, uint32_t granule) { return (value + granule - 1) / granule * granule; }

bool IsBlockCompressed(const FormatDescriptor* format) { return format->formatClass == kClassBlockCompressed; }

uint32_t LayoutTypeFor(const SurfaceCreateRequest& request) {
  if (IsBlockCompressed(request.format)) return kLayoutTypeBlocks;
  if (request.surfaceType == kMmTypeTiled) return kLayoutTypeTiled;
  if (request.flags2 & kRequestLinear) return kLayoutTypePlain;
  return kLayoutTypeLinear;
}

// Second-flags bits 3, 4, 5, 6 go to surface flag bits 2, 1, 3, 0.
uint32_t CreationOptions(uint8_t flags2) {
  return ((flags2 >> 3) & 1) << 2 | ((flags2 >> 4) & 1) << 1 | ((flags2 >> 5) & 1) << 3 | ((flags2 >> 6) & 1);
}

bool IsBordered(const SurfaceCreateRequest& request) { return (request.placement & kRequestBordered) != 0; }

// The used and described side of level i: bordered sides lose their border
// before halving and get it back around the halved side.
void LevelSide(uint32_t side, uint32_t level, bool bordered, uint32_t* used, uint32_t* described) {
  if (bordered) {
    *used = AtLeastOne((side - 2) >> level);
    *described = *used + 2;
  } else {
    *used = *described = AtLeastOne(side >> level);
  }
}

uint32_t OwnerValue(PDEV* pdev, const SurfaceCreateRequest& request) {
  return (request.flags2 & kRequestOwnerValue) != 0 ? request.ownerValue : pdev->unit;
}

MmSurfaceManager* ManagerOf(PDEV* pdev) { return pdev != nullptr ? pdev->surfaceManager : nullptr; }

// A new surface of the device in the format: sizes per pixel and its class.
Surface3d* NewSurface(PDEV* pdev, const SurfaceCreateRequest& request) {
  Surface3d* surface = new Surface3d();
  if (surface == nullptr) return nullptr;
  surface->owner = pdev;
  surface->format = request.format;
  surface->bitsPerPixel = request.format->bitsPerPixel;
  surface->bytesPerPixel = surface->bitsPerPixel / 8;
  surface->SetClassField(request.format->formatClass);
  if (IsBordered(request)) surface->flagsWord |= kSurfBordered;
  return surface;
}

// The processor's pitch of a placed surface whose rows are `described`
// pixels wide: a separate linear description's, a processor-only block's
// own rows, else the CPU view's host-aperture pitch (the rows again when the
// surface has no such view).
uint32_t PitchOf(const Surface3d* surface, uint32_t described) {
  if (surface->linear.active) return surface->linear.pitch;
  const uint32_t rows = described * surface->bitsPerPixel / 8;
  if (surface->block != nullptr && surface->block->kind == kBlockKindCpuOnly) return rows;
  const uint32_t pitch = surface->hw.records[kUsageCpuView].GetHostAperturePitch();
  return pitch != 0 ? pitch : rows;
}

void SetLinearDescription(Surface3d* surface) {
  surface->linear.active = 1;
  surface->linear.owner = surface;
  surface->linear.pitch = RoundUp(surface->width, kBlockSide) * surface->bitsPerPixel / 8;
  surface->linear.size = surface->linear.pitch * RoundUp(surface->height, kBlockSide);
}

// Block size and alignment of a description; false when it cannot be laid
// out.
bool SizeOf(const Surface3d* surface, uint32_t* size, uint32_t* alignment) {
  const MmSurfDesc& memory = surface->MemoryRecord();
  *size = memory.GetPhysicalMemSize(false);
  *alignment = memory.GetRequiredAlignment(false);
  if (*size == kMmInvalid || *size == 0 || *alignment == kMmInvalid) return false;
  // The processor and the 2D engine step rows by the CPU view's pitch: the
  // block holds every row at that pitch, so neither leaves it.
  const uint32_t view = surface->hw.records[kUsageCpuView].GetHostApertureSize();
  if (view != kMmInvalid && view > *size) *size = view;
  return true;
}

// Runs a creation over the allowed places in the fixed order, each try with
// exactly its own place bit set; the request's first word is restored.
template <class Made, class Create>
Made* OverPlaces(SurfaceCreateRequest* request, Create create) {
  uint8_t first[4];
  memcpy(first, static_cast<const void*>(request), sizeof(first));
  const uint8_t allowed = request->placement;
  Made* made = nullptr;
  for (uint8_t place : {kPlaceLocal, kPlaceAgp, kPlaceSystem}) {
    if ((allowed & place) == 0) continue;
    request->placement = static_cast<uint8_t>((allowed & ~kPlaceWhere) | place);
    made = create(place);
    if (made != nullptr) break;
  }
  memcpy(static_cast<void*>(request), first, sizeof(first));
  return made;
}

}  // namespace

// ---- Single surfaces ---------------------------------------------------------------------------

bool Surface3d::RequestIsSound(const SurfaceCreateRequest& request) {
  if (request.format == nullptr) return false;
  if (request.width == 0 || request.height == 0) return false;
  if (request.width > kMaxSurfaceSide || request.height > kMaxSurfaceSide) return false;
  if (IsBordered(request) && (request.width < 3 || request.height < 3)) return false;
  return true;
}

Surface3d* Surface3d::CreatePlaced(PDEV* pdev, SurfaceCreateRequest* request) {
  if (request == nullptr || !RequestIsSound(*request)) return nullptr;
  return OverPlaces<Surface3d>(request, [&](uint8_t place) {
    return place == kPlaceSystem ? CreateInSystemMemory(pdev, *request) : CreateInVideoMemory(pdev, *request);
  });
}

Surface3d* Surface3d::CreateInSystemMemory(PDEV* pdev, const SurfaceCreateRequest& request) {
  MmSurfaceManager* manager = ManagerOf(pdev);
  if (manager == nullptr) return nullptr;
  Surface3d* surface = NewSurface(pdev, request);
  if (surface == nullptr) return nullptr;
  const bool bordered = IsBordered(request);
  surface->width = bordered ? request.width - 2 : request.width;
  surface->height = bordered ? request.height - 2 : request.height;
  uint32_t blockWidth = request.width;
  uint32_t blockHeight = request.height;
  if (IsBlockCompressed(request.format)) {
    if (blockWidth < kBlockSide) blockWidth = kBlockSide;
    if (blockHeight < kBlockSide) blockHeight = kBlockSide;
  }
  const uint64_t size = uint64_t{blockWidth} * blockHeight * surface->bitsPerPixel / 8;
  surface->options.alignment = kSystemAlignment;
  surface->options.heapSelector = kMmTypeSystem;
  surface->options.physicalSize = static_cast<uint32_t>(size);
  surface->options.unit = pdev->unit;
  surface->options.requestedKind = kLocationSystem;
  surface->SetPlacement(kNibbleSystem);
  if (size == 0 || size > 0xFFFFFFFFu || !manager->CreateSurface(surface)) {
    delete surface;
    return nullptr;
  }
  surface->pitch = PitchOf(surface, request.width);
  return surface;
}

Surface3d* Surface3d::CreateInVideoMemory(PDEV* pdev, const SurfaceCreateRequest& request) {
  if (ManagerOf(pdev) == nullptr) return nullptr;
  Surface3d* surface = NewSurface(pdev, request);
  if (surface == nullptr) return nullptr;
  const bool noCompanion = (request.placement & kRequestNoCompanion) != 0;
  surface->SetSurfaceClass(noCompanion ? kSurfaceNoCompanion : kSurfacePlain);
  const uint32_t layoutMode = noCompanion ? 3 : 0;
  surface->flagsWord |= CreationOptions(request.flags2);
  surface->layoutType = LayoutTypeFor(request);
  const bool local = (request.placement & kPlaceLocal) != 0;
  surface->SetPlacement(local ? kNibbleLocal : kNibbleAgp);
  SurfaceHwDesc::Build(&surface->hw, pdev, request.format, local ? kMemLocal : kMemAgp, request.width,
                       request.height, 1, layoutMode, 0, IsBordered(request),
                       surface->layoutType == kLayoutTypeTiled, surface->layoutType == kLayoutTypePlain);
  surface->width = request.width;
  surface->height = request.height;
  if (request.flags2 & kRequestLinear) surface->elementCount = request.width * request.height;
  if (!AllocateBlock(surface, request)) {
    delete surface;
    return nullptr;
  }
  surface->TakePlacement();
  return surface;
}

bool Surface3d::AllocateBlock(Surface3d* surface, const SurfaceCreateRequest& request) {
  PDEV* pdev = surface->owner;
  MmSurfaceManager* manager = ManagerOf(pdev);
  if (manager == nullptr) return false;
  if ((request.placement & kPlaceAgp) != 0 && (request.format->flags & kFormatAgpAllowed) == 0) return false;
  surface->options.unit = OwnerValue(pdev, request);
  surface->options.desc = surface->hw.records[kUsageCpuView];
  surface->options.heapSelector = request.surfaceType;
  if (request.placement & kPlaceLocal) {
    surface->options.requestedKind = kLocationLocal;
  } else if (request.placement & kPlaceAgp) {
    surface->options.requestedKind = kLocationAgp;
  }
  uint32_t size = 0;
  uint32_t alignment = 0;
  if (!SizeOf(surface, &size, &alignment)) return false;
  surface->options.physicalSize = size;
  surface->options.alignment = alignment;
  if (request.master != nullptr) return manager->CreateSurfaceClone(surface, request.master);
  return manager->CreateSurface(surface);
}

void Surface3d::TakePlacement() {
  if (block != nullptr && block->kind == kBlockKindTiled) layoutType = kLayoutTypeTiledMemory;
  SurfaceHwDesc::SetLocation(&hw, owner, Placement() > kNibbleSystem ? busWord : 0);
  if (format != nullptr && IsBlockCompressed(format) && (!IsPowerOfTwo(width) || width < 32))
    SetLinearDescription(this);
  pitch = PitchOf(this, width);
}

Surface3d* Surface3d::CreateClone(Surface3d* source) {
  if (source == nullptr) return nullptr;
  Surface3d* clone = new Surface3d();
  if (clone == nullptr) return nullptr;
  clone->owner = source->owner;
  clone->format = source->format;
  clone->width = source->width;
  clone->height = source->height;
  clone->depth = source->depth;
  clone->bitsPerPixel = source->bitsPerPixel;
  clone->bytesPerPixel = source->bytesPerPixel;
  clone->layoutType = source->layoutType;
  clone->linear = source->linear;
  if (clone->linear.active) clone->linear.owner = clone;
  clone->hw = source->hw;
  clone->flagsWord = source->flagsWord;
  clone->pitch = source->pitch;
  clone->elementCount = source->elementCount;
  clone->subAddress[0] = source->subAddress[0];
  clone->subAddress[1] = source->subAddress[1];
  clone->surfaceValue = source->surfaceValue;
  clone->colourKey = source->colourKey;
  clone->colourKeyPresent = source->colourKeyPresent;
  clone->expandedKey = source->expandedKey;
  clone->expandedKeyValid = source->expandedKeyValid;
  clone->ringSize = source->ringSize;
  // The clone hears of its source's table but stands under no handle of
  // it: nothing is ever destroyed by the source's handle through the clone.
  // It owns nothing of the source (page-locked copy, shadow, companion, set
  // membership, pending work).
  clone->resourceType = source->resourceType;
  clone->resourceTable = source->resourceTable;
  clone->resourceHandle = 0;
  clone->processId = OsGetCurrentProcessId();
  if (!clone->CreateCloneFrom(source)) {
    delete clone;
    return nullptr;
  }
  return clone;
}

// ---- Texture sets ------------------------------------------------------------------------------

namespace {

enum class SetKind { kMipChain, kCube, kVolume };

// What each level of a set in video memory is, before the block exists.
struct LevelPlan {
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t faceStride = 0;
  bool packed = false;
  bool firstPacked = false;
};

uint32_t FacesOf(SetKind kind) { return kind == SetKind::kCube ? kCubeFaces : 1; }

// Deletes what a failed creation made: the levels not yet in the set, then
// the set with the levels in it and its master (or the master alone).
void Abandon(Surface3d* (&levels)[kCubeFaces][kSizeClasses], TextureSurfaceSet* set, Surface3d* master) {
  for (auto& face : levels) {
    for (Surface3d*& level : face) {
      if (level != nullptr && !level->inSet) delete level;
      level = nullptr;
    }
  }
  if (set != nullptr) {
    set->owner = master;
    delete set;
  } else {
    delete master;
  }
}

TextureSurfaceSet* CreateInVideo(PDEV* pdev, const SurfaceCreateRequest& request, SetKind kind) {
  MmSurfaceManager* manager = ManagerOf(pdev);
  if (manager == nullptr) return nullptr;
  const FormatDescriptor* format = request.format;
  const bool agp = (request.placement & kPlaceAgp) != 0;
  if (agp && (format->flags & kFormatAgpAllowed) == 0) return nullptr;
  const bool bordered = IsBordered(request);
  if (kind == SetKind::kVolume &&
      request.depth > HwDevice::GetMaxVolumeDepth(request.width, request.height, bordered))
    return nullptr;
  const uint32_t faces = FacesOf(kind);
  const uint32_t layoutType = LayoutTypeFor(request);
  const bool tiled = layoutType == kLayoutTypeTiled;
  const bool plain = layoutType == kLayoutTypePlain;
  const uint32_t layoutMode = (request.placement & kRequestNoCompanion) != 0 ? 3 : 0;
  const uint32_t location = agp ? kMemAgp : kMemLocal;
  const uint32_t surfaceClass = kind == SetKind::kCube     ? kSurfaceCubeLevel
                                : kind == SetKind::kVolume ? kSurfaceVolume
                                : layoutMode == 3          ? kSurfaceNoCompanion
                                                           : kSurfacePlain;

  Surface3d* levels[kCubeFaces][kSizeClasses] = {};
  LevelPlan plans[kSizeClasses];
  uint64_t running = 0;
  int firstPacked = -1;
  uint32_t packedCount = 0;
  for (uint32_t i = 0; i < request.levels; ++i) {
    uint32_t usedW, usedH, describedW, describedH;
    LevelSide(request.width, i, bordered, &usedW, &describedW);
    LevelSide(request.height, i, bordered, &usedH, &describedH);
    const uint32_t depth = kind == SetKind::kVolume ? AtLeastOne(request.depth >> i) : 1;
    LevelPlan& plan = plans[i];
    plan.packed = describedW <= kPackedSide && describedH <= kPackedSide &&
                  (kind != SetKind::kVolume || depth < kPackedVolumeDepth);
    plan.firstPacked = plan.packed && firstPacked < 0;
    const bool laterPacked = plan.packed && !plan.firstPacked;
    if (plan.packed && kind != SetKind::kVolume && packedCount >= kPackedLevels) {
      Abandon(levels, nullptr, nullptr);
      return nullptr;
    }
    // How the level is described.
    uint32_t descW = describedW, descH = describedH, descDepth = depth;
    if (laterPacked) {
      if (kind == SetKind::kVolume) {
        const MmSurfDesc& first = levels[0][firstPacked]->MemoryRecord();
        descW = first.GetWidthGranularity();
        descH = first.GetHeightGranularity();
        descDepth = levels[0][firstPacked]->depth;
      } else {
        descW = kPackedWidth;
        descH = kPackedHeight;
      }
    }
    for (uint32_t face = 0; face < faces; ++face) {
      Surface3d* level = NewSurface(pdev, request);
      if (level == nullptr) {
        Abandon(levels, nullptr, nullptr);
        return nullptr;
      }
      levels[face][i] = level;
      level->SetSurfaceClass(surfaceClass);
      level->SetFace(kind == SetKind::kCube ? face : 0);
      level->width = usedW;
      level->height = usedH;
      level->depth = depth;
      SurfaceHwDesc::Build(&level->hw, pdev, format, location, descW, descH, descDepth, layoutMode,
                           kind == SetKind::kCube ? face : 0, bordered, tiled, plain);
    }
    if (laterPacked) {
      plan.offset = plans[firstPacked].offset;
      plan.size = plans[firstPacked].size;
      plan.faceStride = plans[firstPacked].size;
    } else {
      uint32_t size = 0, alignment = 0;
      if (!SizeOf(levels[0][i], &size, &alignment)) {
        Abandon(levels, nullptr, nullptr);
        return nullptr;
      }
      plan.offset = static_cast<uint32_t>(running);
      plan.size = size;
      plan.faceStride = size;
      running += uint64_t{faces} * size;
      if (running > 0xFFFFFFFFu) {
        Abandon(levels, nullptr, nullptr);
        return nullptr;
      }
      if (plan.firstPacked) firstPacked = static_cast<int>(i);
    }
    for (uint32_t face = 0; face < faces; ++face) {
      TextureLevelEntry& entry = levels[face][i]->levelEntry;
      entry.level = i;
      entry.levelsBelow = request.levels - 1 - i;
      entry.offset = plan.offset + face * plan.faceStride;
      entry.size = plan.size;
      entry.face = kind == SetKind::kCube ? face : 0;
      if (plan.packed && kind != SetKind::kVolume) {
        const uint32_t r = packedCount;
        entry.packIndex = r;
        entry.packX = kPackX[r];
        entry.packY = kPackY[r];
        const uint32_t blockBytes = format->bitsPerPixel * 2;
        entry.packOffset = IsBlockCompressed(format)
                               ? (kPackX[r] / 4) * blockBytes + (kPackY[r] / 4) * blockBytes * 8
                               : format->bitsPerPixel * kPackPixelOffset[r] / 8;
      }
    }
    if (plan.packed) ++packedCount;
  }

  // The master holds the block of the whole set.
  uint32_t level0Size = 0, level0Alignment = 0;
  SizeOf(levels[0][0], &level0Size, &level0Alignment);
  const uint64_t total = level0Alignment > 1 ? (running + level0Alignment - 1) / level0Alignment * level0Alignment
                                             : running;
  Surface3d* master = NewSurface(pdev, request);
  if (master == nullptr || total > 0xFFFFFFFFu) {
    Abandon(levels, nullptr, master);
    return nullptr;
  }
  master->layoutType = layoutType == kLayoutTypeBlocks || layoutType == kLayoutTypeTiled ? layoutType
                                                                                          : kLayoutTypeLinear;
  master->width = request.width;
  master->height = request.height;
  master->depth = kind == SetKind::kVolume ? request.depth : 1;
  master->SetPlacement(agp ? kNibbleAgp : kNibbleLocal);
  SurfaceHwDesc::Build(&master->hw, pdev, format, location, request.width, request.height, request.levels - 1,
                       layoutMode, 0, bordered, tiled, plain);
  uint32_t masterSize = 0, masterAlignment = 0;
  const bool described = SizeOf(master, &masterSize, &masterAlignment);
  master->options.unit = OwnerValue(pdev, request);
  master->options.desc = master->hw.records[kUsageCpuView];
  master->options.physicalSize = static_cast<uint32_t>(total);
  master->options.alignment = described ? masterAlignment : level0Alignment;
  master->options.heapSelector = request.surfaceType;
  master->options.requestedKind = agp ? kLocationAgp : kLocationLocal;
  if (!manager->CreateSurface(master)) {
    Abandon(levels, nullptr, master);
    return nullptr;
  }
  if (master->block != nullptr && master->block->kind == kBlockKindTiled)
    master->layoutType = kLayoutTypeTiledMemory;
  SurfaceHwDesc::SetLocation(&master->hw, pdev, master->busWord);
  master->pitch = PitchOf(master, request.width);

  TextureSurfaceSet* set = new TextureSurfaceSet();
  if (set == nullptr) {
    Abandon(levels, nullptr, master);
    return nullptr;
  }
  set->owner = master;
  for (uint32_t i = 0; i < request.levels; ++i) {
    for (uint32_t face = 0; face < faces; ++face) {
      Surface3d* level = levels[face][i];
      level->layoutType = master->layoutType;
      level->SetPlacement(master->Placement());
      if (!level->CreateCloneFrom(master) || !TextureLevelTable::Insert(set, level)) {
        Abandon(levels, set, master);
        return nullptr;
      }
      level->set = set;
      level->inSet = 1;
      SurfaceHwDesc::SetLocation(&level->hw, pdev, master->busWord + level->levelEntry.offset);
      if (plans[i].packed && !plans[i].firstPacked && firstPacked >= 0) {
        const Surface3d* first = levels[face][firstPacked];
        for (uint32_t usage : {kUsageTexture, kUsageTextureSigned}) {
          if (format->capabilities[usage] != nullptr) level->hw.records[usage] = first->hw.records[usage];
        }
      }
      if ((IsBlockCompressed(format) && !IsPowerOfTwo(level->width)) ||
          master->layoutType == kLayoutTypeTiledMemory)
        SetLinearDescription(level);
      uint32_t usedW, describedW;
      LevelSide(request.width, i, bordered, &usedW, &describedW);
      level->pitch = PitchOf(level, describedW);
    }
  }
  return set;
}

}  // namespace

bool TextureSurfaceSet::RequestIsSound(const SurfaceCreateRequest& request) {
  if (request.format == nullptr || (request.placement & kSetAny) == 0) return false;
  const bool volume = (request.placement & (kSetCube | kSetVolume)) == kSetVolume;
  if (request.width == 0 || request.height == 0 || request.levels == 0) return false;
  if (request.width > kMaxSetSide || request.height > kMaxSetSide) return false;
  if (volume && (request.depth == 0 || request.depth > kMaxSetSide)) return false;
  if (!volume && request.depth > kMaxSurfaceDepth) return false;
  if (IsBordered(request) && (request.width < 3 || request.height < 3)) return false;
  uint32_t largest = request.width > request.height ? request.width : request.height;
  if (volume && request.depth > largest) largest = request.depth;
  return request.levels <= SizeClassOf(largest, 0, 0) + 1;
}

TextureSurfaceSet* TextureSurfaceSet::CreatePlaced(PDEV* pdev, SurfaceCreateRequest* request) {
  if (request == nullptr || !RequestIsSound(*request)) return nullptr;
  return OverPlaces<TextureSurfaceSet>(request, [&](uint8_t place) -> TextureSurfaceSet* {
    if (place == kPlaceSystem) return CreateInSystemMemory(pdev, *request);
    if (request->placement & kSetCube) return CreateCube(pdev, *request);
    if (request->placement & kSetVolume) return CreateVolume(pdev, *request);
    if (request->placement & kSetMipChain) return CreateMipChain(pdev, *request);
    return nullptr;
  });
}

TextureSurfaceSet* TextureSurfaceSet::CreateMipChain(PDEV* pdev, const SurfaceCreateRequest& request) {
  return RequestIsSound(request) ? CreateInVideo(pdev, request, SetKind::kMipChain) : nullptr;
}

TextureSurfaceSet* TextureSurfaceSet::CreateCube(PDEV* pdev, const SurfaceCreateRequest& request) {
  return RequestIsSound(request) ? CreateInVideo(pdev, request, SetKind::kCube) : nullptr;
}

TextureSurfaceSet* TextureSurfaceSet::CreateVolume(PDEV* pdev, const SurfaceCreateRequest& request) {
  return RequestIsSound(request) ? CreateInVideo(pdev, request, SetKind::kVolume) : nullptr;
}

TextureSurfaceSet* TextureSurfaceSet::CreateInSystemMemory(PDEV* pdev, const SurfaceCreateRequest& request) {
  MmSurfaceManager* manager = ManagerOf(pdev);
  if (manager == nullptr || !RequestIsSound(request)) return nullptr;
  const bool cube = (request.placement & kSetCube) != 0;
  const bool volume = !cube && (request.placement & kSetVolume) != 0;
  const uint32_t faces = cube ? kCubeFaces : 1;
  const bool bordered = IsBordered(request);
  TextureSurfaceSet* set = new TextureSurfaceSet();
  if (set == nullptr) return nullptr;
  for (uint32_t face = 0; face < faces; ++face) {
    for (uint32_t i = 0; i < request.levels; ++i) {
      Surface3d* level = NewSurface(pdev, request);
      if (level == nullptr) {
        delete set;
        return nullptr;
      }
      uint32_t usedW, usedH, describedW, describedH;
      LevelSide(request.width, i, bordered, &usedW, &describedW);
      LevelSide(request.height, i, bordered, &usedH, &describedH);
      const uint32_t depth = AtLeastOne(request.depth >> i);
      level->width = usedW;
      level->height = usedH;
      level->depth = depth;
      if (IsBlockCompressed(request.format)) {
        if (describedW < kBlockSide) describedW = kBlockSide;
        if (describedH < kBlockSide) describedH = kBlockSide;
      }
      const uint64_t size = uint64_t{describedW} * describedH * depth * level->bitsPerPixel / 8;
      level->options.alignment = kSystemAlignment;
      level->options.heapSelector = kMmTypeSystem;
      level->options.physicalSize = static_cast<uint32_t>(size);
      level->options.unit = pdev->unit;
      level->options.requestedKind = kLocationSystem;
      level->SetPlacement(kNibbleSystem);
      level->SetFace(cube ? face : 0);
      if (cube) level->SetSurfaceClass(kSurfaceCubeLevel);
      if (volume) level->SetSurfaceClass(kSurfaceVolume);
      level->levelEntry.level = i;
      level->levelEntry.levelsBelow = request.levels - 1 - i;
      level->levelEntry.offset = 0;
      level->levelEntry.size = describedW * describedH * level->bytesPerPixel;
      level->levelEntry.face = cube ? face : 0;
      if (size == 0 || size > 0xFFFFFFFFu || !manager->CreateSurface(level) ||
          !TextureLevelTable::Insert(set, level)) {
        delete level;
        delete set;
        return nullptr;
      }
      level->set = set;
      level->inSet = 1;
      level->pitch = PitchOf(level, describedW);
    }
  }
  return set;
}
