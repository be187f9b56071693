// The kernel 3D engine's surface: a texture level, cube face or volume
// slice, a render target, a depth buffer or a buffer view. It is a memory
// manager surface (the manager places, discards, restores and clones it)
// with what the engine needs beside: its format, sizes and pitch, a
// hardware descriptor with one record per usage, its links to a shadow and
// a companion surface, and its place in a client's resource table.
// TextureSurfaceSet groups the surfaces of one texture (mip levels, cube
// faces, volume slices) by face and size class.
//
// Creation and placement (surface_placement.cpp) take a client's
// SurfaceCreateRequest: every size in it is client data and is checked
// before anything is allocated.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "kernel/3d/surfaces/format_catalogue.h"

class PDEV;
class ResourceTable;
class BmBufferRing;
class Surface3d;
struct RenderContext3d;
struct TextureSurfaceSet;
struct SurfaceLockRequest;
struct SurfaceFillRequest;
struct SurfaceCopyRequest;
struct SurfaceBlitRequest;

// A surface whose block has no memory kind the processor can reach.
inline constexpr uint32_t kMemoryKindNone = 5;

// ---- Creation requests -----------------------------------------------------------------------

// Placement flags (first byte of the request).
inline constexpr uint8_t kPlaceAgp = 0x1;
inline constexpr uint8_t kPlaceLocal = 0x2;
inline constexpr uint8_t kPlaceSystem = 0x4;
inline constexpr uint8_t kPlaceWhere = kPlaceAgp | kPlaceLocal | kPlaceSystem;
inline constexpr uint8_t kSetMipChain = 0x8;
inline constexpr uint8_t kSetCube = 0x10;
inline constexpr uint8_t kSetVolume = 0x20;
inline constexpr uint8_t kSetAny = kSetMipChain | kSetCube | kSetVolume;
inline constexpr uint8_t kRequestBordered = 0x40;
inline constexpr uint8_t kRequestNoCompanion = 0x80;

// Second flags.
inline constexpr uint8_t kRequestOwnerValue = 0x1;
inline constexpr uint8_t kRequestLinear = 0x4;
inline constexpr uint8_t kRequestDisplayed = 0x10;

// Limits of what a client may ask for: descriptors hold 14-bit widths and
// heights and 12-bit depths; a texture set's size classes end at 11.
inline constexpr uint32_t kMaxSurfaceSide = 16383;
inline constexpr uint32_t kMaxSurfaceDepth = 4095;
inline constexpr uint32_t kMaxSetSide = 4095;
inline constexpr uint32_t kSizeClasses = 12;
inline constexpr uint32_t kCubeFaces = 6;

// Memory-manager surface types the creation code names.
inline constexpr uint32_t kMmTypeCompanion = 9;
inline constexpr uint32_t kMmTypeTiled = 10;
inline constexpr uint32_t kMmTypeSystem = 11;
// Requested locations of the memory manager.
inline constexpr uint32_t kLocationLocal = 0;
inline constexpr uint32_t kLocationAgp = 2;
inline constexpr uint32_t kLocationSystem = 4;
// The memory manager's block kind that makes a surface's layout type 3.
inline constexpr uint32_t kBlockKindTiled = 2;
// Block kind with a processor address only.
inline constexpr uint32_t kBlockKindCpuOnly = 4;

struct SurfaceCreateRequest {
  uint8_t placement = 0;   // kPlace*, kSet*, kRequestBordered, kRequestNoCompanion
  uint8_t flags2 = 0;      // kRequestOwnerValue, kRequestLinear, bits 3-6 copied, kRequestDisplayed
  uint8_t reserved[2] = {};
  const FormatDescriptor* format = nullptr;
  uint32_t surfaceType = 0;  // the memory manager's surface type
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t levels = 0;
  uint32_t depth = 0;
  uint32_t ownerValue = 0;
  uint32_t fixedHandle = 0;  // 0: the first free handle
  // A clone shares this surface's block (a 3D surface, or the display's
  // primary surface).
  MmSurface* master = nullptr;
};
static_assert(offsetof(SurfaceCreateRequest, format) == 8);

// ---- Hardware descriptor -----------------------------------------------------------------------

// Word 1 and word 2 fields of a record beyond those MmSurfDesc names.
inline constexpr uint32_t kHwLayoutModeShift = 19;
inline constexpr uint32_t kHwLayoutModeMask = 0x3;
inline constexpr uint32_t kHwBordered = 1u << 22;
inline constexpr uint32_t kHwOptionBit = 1u << 23;
inline constexpr uint32_t kHwFlagBit = 1u << 30;
inline constexpr uint32_t kHwExtraBit = 1u << 31;
inline constexpr uint32_t kHwAgpBit14 = 1u << 14;
inline constexpr uint32_t kHwAgpBit15 = 1u << 15;
inline constexpr uint32_t kHwFaceShift = 28;

// Option bits of a capability entry (its P1 word) that shape its record.
inline constexpr uint32_t kOptionLayoutCleared = 0x1;
inline constexpr uint32_t kOptionFaceCleared = 0x2;
inline constexpr uint32_t kOptionWidthRounded = 0x4;
inline constexpr uint32_t kOptionSingleDepth = 0x8;
inline constexpr uint32_t kOptionBorderRemoved = 0x10;
inline constexpr uint32_t kOptionCubeWidth = 0x20;

// Revision-bit groups of the owner device that change AGP records.
inline constexpr uint32_t kUsageGroupA = 0x3C0;
inline constexpr uint32_t kUsageGroupB = 0x7FC00;

struct SurfaceHwDesc {
  const FormatDescriptor* format = nullptr;
  MmSurfDesc records[kUsageCount];

  // Fills the record of every usage the format has, then sets the address
  // word 0.
  static void Build(SurfaceHwDesc* desc, PDEV* owner, const FormatDescriptor* format, uint32_t location,
                    uint32_t width, uint32_t height, uint32_t depth, uint32_t layoutMode, uint32_t face,
                    bool bordered, bool tiled, bool plain);
  // Stores the address word in every record the format has; an AGP address
  // changes the layout codes and the height word's AGP bits.
  static void SetLocation(SurfaceHwDesc* desc, PDEV* owner, uint32_t address);
};
static_assert(offsetof(SurfaceHwDesc, records) == 8);
static_assert(sizeof(MmSurfDesc) == 20);

// ---- Surface links -----------------------------------------------------------------------------

struct SurfaceShadowLink {
  uint8_t active = 0;
  Surface3d* creator = nullptr;
  Surface3d* owner = nullptr;
  Surface3d* shadow = nullptr;
  float scaleX = 1.0f;
  float scaleY = 1.0f;

  void Init(Surface3d* ownerSurface);
  bool HasShadow() const { return shadow != nullptr; }
  bool IsActive() const { return active != 0; }
  void Assign(const SurfaceShadowLink& other);

  // The shadow round trip (box: {left, top, front, right, bottom, back} of
  // the owner, or null for the whole surface). Enter blits the owner into
  // the shadow, scaled by the factors, unless the link is active (or, with
  // the skip flag, the owner is its device's open render target); Leave
  // blits it back. Each waits (bounded) until both surfaces are idle and
  // answers false when the blit fails or the wait runs out.
  bool Enter(bool skipIfCurrentTarget, const uint32_t* box = nullptr);
  bool EnterIfInactive(const uint32_t* box = nullptr) { return Enter(false, box); }
  bool Leave(const uint32_t* box = nullptr);
};

// Both surfaces of a pair hold the same pair {companion, surface}.
struct SurfaceCompanionLink {
  Surface3d* companion = nullptr;
  Surface3d* surface = nullptr;

  // The surface's whole contents copied into its companion by the CPU;
  // false when either cannot be locked.
  static bool CopyContents(const SurfaceCompanionLink& link);
};

// Where a level of a texture set lies in the set's block.
inline constexpr uint32_t kNotPacked = 0xFFFFFFFF;
struct TextureLevelEntry {
  uint32_t level = 0;
  uint32_t levelsBelow = 0;
  uint32_t offset = 0;       // in the set's block
  uint32_t size = 0;
  uint32_t packIndex = kNotPacked;
  uint32_t packX = 0;
  uint32_t packY = 0;
  uint32_t packOffset = 0;   // bytes inside the packing area
  uint32_t face = 0;
};

// The linear description of a block-compressed surface whose width the
// engine cannot lay out.
struct LinearDescription {
  uint8_t active = 0;
  Surface3d* owner = nullptr;
  uint32_t pitch = 0;
  uint32_t size = 0;
};

// ---- Flags word --------------------------------------------------------------------------------

inline constexpr uint32_t kSurfOptionsMask = 0xF;
inline constexpr uint32_t kSurfCpuWritten = 0x10;
inline constexpr uint32_t kSurfBordered = 0x40;
inline constexpr uint32_t kSurfPlacementShift = 8;
inline constexpr uint32_t kSurfNibbleShift = 12;
inline constexpr uint32_t kSurfClassFieldShift = 17;
inline constexpr uint32_t kSurfClassFieldMask = 0x1F;
inline constexpr uint32_t kSurfKindShift = 22;
inline constexpr uint32_t kSurfFaceShift = 26;

// Bits of a surface's flags word the render contexts read.
inline constexpr uint32_t kSurfFlagKeepDisplayed = 0x4;
inline constexpr uint32_t kSurfFlagNewlyPlaced = 0x10;

// Placement nibble.
inline constexpr uint32_t kNibbleSystem = 1;
inline constexpr uint32_t kNibbleOther = 2;
inline constexpr uint32_t kNibbleAgp = 3;
inline constexpr uint32_t kNibbleLocal = 4;

// Surface classes (bits 22-25).
inline constexpr uint32_t kSurfacePlain = 0;
inline constexpr uint32_t kSurfaceCubeLevel = 1;
inline constexpr uint32_t kSurfaceVolume = 2;
inline constexpr uint32_t kSurfaceNoCompanion = 3;
inline constexpr uint32_t kSurfaceOverRing = 4;
inline constexpr uint32_t kSurfaceFresh = 5;
// Format-class field of a view over a buffer ring.
inline constexpr uint32_t kClassFieldOverRing = 9;

// Layout types.
inline constexpr uint32_t kLayoutTypePlain = 0;
inline constexpr uint32_t kLayoutTypeLinear = 1;
inline constexpr uint32_t kLayoutTypeTiled = 2;
inline constexpr uint32_t kLayoutTypeTiledMemory = 3;
inline constexpr uint32_t kLayoutTypeBlocks = 4;

class Surface3d : public MmSurface {
 public:
  Surface3d();
  ~Surface3d() override;

  bool OnDiscard() override;
  void OnDestroy() override;
  void OnRestore() override;
  void OnDestroyMaster() override;
  void OnDiscardMaster() override;
  void OnRestoreMaster() override;

  // ---- Creation and placement ----
  // Tries local video, AGP, then system memory among the allowed places;
  // the request's first word is as the caller passed it on return. Null
  // for a request out of bounds or when no place succeeds.
  static Surface3d* CreatePlaced(PDEV* pdev, SurfaceCreateRequest* request);
  static Surface3d* CreateInVideoMemory(PDEV* pdev, const SurfaceCreateRequest& request);
  static Surface3d* CreateInSystemMemory(PDEV* pdev, const SurfaceCreateRequest& request);
  static bool AllocateBlock(Surface3d* surface, const SurfaceCreateRequest& request);
  // A surface sharing the source's block, with none of its ownership.
  static Surface3d* CreateClone(Surface3d* source);
  // After the block is placed: the layout type of tiled memory, the
  // descriptor's address and the pitch.
  void TakePlacement();
  // Whether a single surface's request is within bounds.
  static bool RequestIsSound(const SurfaceCreateRequest& request);

  // ---- Client set-up ----
  // A placed surface of the table's client (not yet under a handle).
  static Surface3d* InitForClient(ResourceTable* table, SurfaceCreateRequest* request, uint32_t type);
  static TextureSurfaceSet* InitSetForClient(ResourceTable* table, SurfaceCreateRequest* request, uint32_t type);
  // A view over a buffer ring for the table's client (not yet under a
  // handle); the ring's first view is the one it knows.
  static Surface3d* CreateOverRing(ResourceTable* table, BmBufferRing* ring, uint32_t type);
  // Leaves the ring: placement 0, the ring forgets the view, the table
  // hears of it.
  void DetachFromRing();
  // Makes and links the companion of a one-row surface that wants one
  // (entered in the table at a free handle); false when none is wanted or
  // it cannot be had.
  bool MakeCompanion(SurfaceCreateRequest* request);
  static bool WantsCompanion(const SurfaceCreateRequest& request);

  // ---- Flags word ----
  uint32_t Placement() const { return (flagsWord >> kSurfPlacementShift) & 0xF; }
  void SetPlacement(uint32_t nibble);
  uint32_t ClassField() const { return (flagsWord >> kSurfClassFieldShift) & kSurfClassFieldMask; }
  void SetClassField(uint32_t value);
  uint32_t SurfaceClass() const { return (flagsWord >> kSurfKindShift) & 0xF; }
  void SetSurfaceClass(uint32_t value);
  uint32_t Face() const { return (flagsWord >> kSurfFaceShift) & 0xF; }
  void SetFace(uint32_t face);
  bool Bordered() const { return (flagsWord & kSurfBordered) != 0; }

  // The record that gives allocation size and alignment: the memory view's
  // when the format has one, else the processor view's.
  const MmSurfDesc& MemoryRecord() const;
  // The key in ARGB (absent when the format cannot expand it).
  void ExpandColourKey();
  // The surface of the other half of its companion pair, or null.
  Surface3d* Companion() const;

  uint32_t layoutType = kLayoutTypeLinear;
  PDEV* owner = nullptr;
  SurfaceHwDesc hw;
  uint32_t subAddress[2] = {};
  uint32_t processId = 0;
  const FormatDescriptor* format = nullptr;
  uint32_t flagsWord = 0;
  uint8_t skipDeferredWork = 0;
  uint32_t resourceType = 0;
  ResourceTable* resourceTable = nullptr;
  uint32_t resourceHandle = 0;
  BmBufferRing* ring = nullptr;
  uint8_t changed = 0;
  uint32_t bytesPerPixel = 0;
  uint32_t bitsPerPixel = 0;
  uint32_t width = 0;
  uint32_t height = 1;
  uint32_t ringSize = 0;
  uint32_t depth = 1;
  RenderContext3d* bindingOwner = nullptr;
  uint32_t surfaceValue = 0;
  SurfaceShadowLink shadowLink;
  uint8_t shadowOwned = 0;
  struct LockedCopy {
    PDEV* owner = nullptr;
    uint64_t bus = 0;
    uint32_t size = 0;
    uint32_t rowPitch = 0;
    uint32_t slicePitch = 0;
    uint64_t cpu = 0;
    uint8_t allocated = 0;
  } lockedCopy;
  uint8_t accessThroughLockedCopy = 0;
  SurfaceCompanionLink companionLink;
  uint8_t companionActive = 0;
  TextureSurfaceSet* set = nullptr;
  uint8_t inSet = 0;
  uint32_t setOffset = 0;
  struct ViewWindow {
    uint8_t active = 0;
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t offset = 0;
    struct ChromaPlane {
      uint32_t width = 0;
      uint32_t height = 0;
      uint32_t offset = 0;
      Surface3d* plane = nullptr;
      uint8_t active = 0;
    } chroma;
  } view;
  uint32_t colourKey = 0;
  uint8_t colourKeyPresent = 0;
  struct DeferredWork {
    uint32_t words[8] = {};
  } workRecord;
  DeferredWork* pendingWork = nullptr;
  uint8_t workPending = 0;
  uint32_t expandedKey = 0xFFFFFFFF;
  uint32_t expandedKeyValid = 0;
  uint8_t inSync = 0;
  uint8_t pendingPost = 0;
  uint8_t syncSuspended = 0;

  // Creation's own records.
  uint32_t pitch = 0;
  uint32_t elementCount = 0;
  LinearDescription linear;
  TextureLevelEntry levelEntry;

  // Read by the client surface list and the flips.
  uint32_t flipStart[2] = {};
  uint32_t lastWriteTag = 0;
  // The depth the engine last cleared the surface to.
  float clearDepth = 0.0f;
  Surface3d* inUseNext = nullptr;
  uint32_t syncTag = 0;
  uint32_t usageStamp = 0;
  uint32_t palette = 0;

  // ---- Processor access (surface_access.cpp) ----
  // The processor address of the surface (0 when it has none or the
  // engine did not give it up in time); the bus address where there is one.
  uint64_t Lock(uint64_t* busAddress = nullptr);
  void Unlock();
  // Ends a lock that only read: nothing written back, nothing marked.
  void UnlockRead();
  // A whole transfer between the surface and client memory; false for a
  // request out of bounds (nothing moved) or when the surface has no
  // processor address.
  bool LockWithRequest(SurfaceLockRequest* request);
  // The page-locked copy: filled from the surface (its address, 0 without
  // pages), written back (false without pages).
  uint64_t ReadIntoLockedPages();
  bool WriteBackLockedPages();
  // The page-locked copy's address, allocated on first use (0 when it
  // cannot be had).
  static uint64_t GetLockedPages(LockedCopy* copy);
  // The memory kind of the surface's block (kMemoryKindNone without one).
  uint32_t MemoryKind() const;
  // Waits (bounded) until the engine is done with the surface, then flushes
  // its write caches; false when the wait ran out.
  bool AwaitEngine();

  // ---- Fills, copies and blits (surface_fill.cpp, surface_blit.cpp) ----
  // Each picks the 2D engine, the 3D engine or the processor by layout,
  // memory kind, format and size; false when the request is out of bounds
  // or the path chosen cannot run it.
  bool Fill(const SurfaceFillRequest& request);
  // Fill with the raster operation given: rect is left, top, right, bottom.
  bool FillRect(uint32_t value, const uint32_t* rect, uint32_t mask, uint32_t rop);
  bool FillCpu(const SurfaceFillRequest& request);
  bool FillEngine(const SurfaceFillRequest& request);
  static bool CopyRect(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
  static bool CopyCpu(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
  static bool CopyEngine(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
  static bool CopyOverlapping(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request);
  static bool Blit(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);
  static bool BlitSoftware(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);
  static bool BlitTextured(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);
  static bool BlitPlanar2(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);
  static bool BlitPlanar3(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request);

  // ---- Synchronisation after processor writes ----
  void PrepareAccess(uint32_t mode);
  void MarkWritten();
  void SuspendSync();
  void ResumeSync();
  bool IsSyncSuspended() const { return syncSuspended != 0; }
  void FlushIfRenderTarget();
  DeferredWork* CompletePendingWork();
  // Set in-sync; flush a render target; pending edge replication and the
  // companion copy; clear pending and in-sync.
  void RunSyncSequence();
  void ReplicateLastRow();
  void ReplicateLastColumn();
};

// ---- Texture sets ------------------------------------------------------------------------------

// floor(log2(max(width, height, depth))), 0 for a largest side of 0 or 1.
uint32_t SizeClassOf(uint32_t width, uint32_t height, uint32_t depth);

struct TextureLevelTable {
  uint32_t total = 0;
  int32_t smallest = 0;
  int32_t largest = 0;
  uint32_t classCount[kSizeClasses] = {};
  Surface3d* table[kCubeFaces][kSizeClasses] = {};

  // False for a taken slot, a class above 11 or a face above 5.
  static bool Insert(TextureLevelTable* set, Surface3d* surface);
  static void Remove(TextureLevelTable* set, Surface3d* surface);
};

static_assert(offsetof(TextureLevelTable, classCount) == 12);
static_assert(offsetof(TextureLevelTable, table) == 64);
static_assert(sizeof(TextureLevelTable) == 64 + kCubeFaces * kSizeClasses * sizeof(void*));

struct TextureSurfaceSet : TextureLevelTable, OsHeapObject {
  TextureSurfaceSet() = default;
  ~TextureSurfaceSet();
  TextureSurfaceSet(const TextureSurfaceSet&) = delete;
  TextureSurfaceSet& operator=(const TextureSurfaceSet&) = delete;

  // Tries local video, AGP, then system memory among the allowed places;
  // the request's first word is as the caller passed it on return.
  static TextureSurfaceSet* CreatePlaced(PDEV* pdev, SurfaceCreateRequest* request);
  static TextureSurfaceSet* CreateMipChain(PDEV* pdev, const SurfaceCreateRequest& request);
  static TextureSurfaceSet* CreateCube(PDEV* pdev, const SurfaceCreateRequest& request);
  static TextureSurfaceSet* CreateVolume(PDEV* pdev, const SurfaceCreateRequest& request);
  static TextureSurfaceSet* CreateInSystemMemory(PDEV* pdev, const SurfaceCreateRequest& request);
  static bool RequestIsSound(const SurfaceCreateRequest& request);

  Surface3d* Level(uint32_t face, uint32_t sizeClass) const {
    return face < kCubeFaces && sizeClass < kSizeClasses ? table[face][sizeClass] : nullptr;
  }

  Surface3d* owner = nullptr;  // the set's master surface (null in system memory)
  uint32_t flags = 0;
};

// The handle under which the surface stands in its resource table.
uint32_t Surface3dResourceHandle(Surface3d* surface);

// ---- What the requests, tokens and render targets read and ask of a surface ----
// A null surface answers 0 (false, nothing done).
//
// The memory kind the requests and render targets read: the placement
// nibble (0 none, 1 system memory: processor only, 2 and above the engine
// reaches it; 3 AGP and 4 local video memory may be render targets).
uint32_t Surface3dMemoryKind(Surface3d* surface);
// The surface's constant colour: value expanded to 32-bit ARGB by its
// format for the usage, valid word -1 (a format without the conversion
// leaves -1 with valid word 0); every 3D context bound to the surface is
// told that it changed.
void Surface3dSetExpandedKey(Surface3d* surface, uint32_t value, uint32_t usage);
// The first byte of the flags word: the creation options (bit 1
// displayable), bit 4 written by the processor, bit 6 bordered.
uint32_t Surface3dFlagByte(Surface3d* surface);
// The used width and height, and the bits per pixel.
void Surface3dExtent(Surface3d* surface, uint32_t* width, uint32_t* height);
uint32_t Surface3dBitsPerPixel(Surface3d* surface);
bool Surface3dIsSyncSuspended(Surface3d* surface);
void Surface3dFlushIfRenderTarget(Surface3d* surface);
// Before a flip: the surface's deferred render-state work completed.
void Surface3dCompletePendingWork(Surface3d* surface);
// The start address a flip shows: the surface's flip address (the second
// one when asked), else where its memory starts in local video memory (0
// for a surface elsewhere: the display scans out local memory only).
uint32_t Surface3dFlipAddress(Surface3d* surface, bool second);
// The second of the surface's two extra placement words (0 unless
// something placed there sets it).
uint32_t Surface3dSecondWord(Surface3d* surface);
// Before the processor writes a surface the engine may still read: a
// completion tag in the secondary stream, stored in the surface's block,
// so the write waits (bounded) until the engine passed what went before.
void Surface3dWriteSyncTag(Surface3d* surface);
// The whole surface written from an image of exactly its rows (width x
// bytes per pixel each, packed); false when the image is shorter or the
// surface cannot be written.
bool Surface3dWriteImage(Surface3d* surface, const void* image, uint32_t bytes);

// Destroys a surface through its resource table when it stands there under
// its handle, else deletes it.
void DestroySurface3d(Surface3d* surface);
