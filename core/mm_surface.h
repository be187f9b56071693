// Surfaces of the memory manager: the hardware surface descriptor with its
// alignment, pitch and size rules, the placed memory block, and the surface
// record that ties a descriptor to its block, its host aperture, its clones
// and the engine's progress.
//
// Both builds have them. The descriptor rules (core/mm_surf_desc.cpp) and the
// surface rings, clones and notifications (core/mm_surface_ring.cpp) are
// shared; binding a surface to a block and asking the engine whether it
// still uses the surface are each build's own (core/mm_surface.cpp for the X
// driver, kernel/vidmem/mm_surface_kernel.cpp for the kernel module), as is
// the block's layout.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/chip_ids.h"
#include "core/heap_object.h"
#include "core/mm_block.h"
#include "core/orv_abi.h"
#include "core/regs/engine2d.h"

// MmSurfaceManager, MmSurfaceMapper and MmHostAperture are each build's
// own, declared with its block (core/mm_block.h).

// ---- Descriptor fields ------------------------------------------------------------
// Memory bits of word 0 (also the low bits of every bus address).
inline constexpr uint32_t kMemBitsMask = 0x3;
inline constexpr uint32_t kMemLocal = 0;
inline constexpr uint32_t kMemAgp = 2;
inline constexpr uint32_t kMemPciLocked = 3;
inline constexpr uint32_t kDescAddressMask = 0xFFFFFFFC;

// Words 1 and 2 are the 2D engine's mode and dimensions words, their fields
// Mode2d* and Dim2d* (core/regs/engine2d.h). Word 1 bit 13 is both the top
// width bit and the 8192-pixel pitch flag.
inline constexpr uint32_t kDescFixedPitch = 0x2000;

// Layouts.
inline constexpr uint32_t kLayoutPlain = 0;
inline constexpr uint32_t kLayoutPitchLinear = 1;
inline constexpr uint32_t kLayoutTiledFirst = 2;
inline constexpr uint32_t kLayoutTiledLast = 5;

// Marks a description the chip cannot hold.
inline constexpr uint32_t kMmInvalid = 0xFFFFFFFF;

inline constexpr uint32_t kFixedPitchPixels = 8192;
inline constexpr uint32_t kWidthGranularity = 32;
inline constexpr uint32_t kSystemHeightGranularity = 16;

// The chip's surface descriptor (words 0-3) and the chip revision bits.
struct MmSurfDesc {
  uint32_t word0 = 1;        // memory bits and address
  uint32_t word1 = 0;        // width, layout, format
  uint32_t word2 = 0x10000;  // height, depth (1)
  uint32_t size = 0;         // bytes, plain buffers
  uint32_t revision = 0;     // HwRevisionID bits

  uint32_t MemoryBits() const { return word0 & kMemBitsMask; }
  uint32_t Width() const { return Mode2dPitch::Get(word1); }
  uint32_t Layout() const { return Mode2dLayout::Get(word1); }
  uint32_t Format() const { return Mode2dFormat::Get(word1); }
  uint32_t Height() const { return Dim2dHeight::Get(word2); }
  uint32_t Depth() const { return Dim2dDepth::Get(word2); }
  bool IsLaterGeneration() const { return IsLaterGenerationRevision(revision); }

  // Builds word 1 and word 2 from their fields.
  static uint32_t MakeWord1(uint32_t width, uint32_t layout, uint32_t format) {
    return Mode2dPitch::Word(width) | Mode2dLayout::Word(layout) | Mode2dFormat::Word(format);
  }
  static uint32_t MakeWord2(uint32_t height, uint32_t depth) {
    return Dim2dHeight::Word(height) | Dim2dDepth::Word(depth);
  }

  // 0 for format codes the chip does not know.
  uint32_t GetBitsPerPixel() const;
  // kMmInvalid for combinations the chip cannot hold. The flag selects the
  // stricter of the two local-memory alignments.
  uint32_t GetRequiredAlignment(bool strict) const;
  uint32_t GetAlignmentAndGranularityREVB(bool strict) const;
  uint32_t GetWidthGranularity() const { return kWidthGranularity; }
  uint32_t GetHeightGranularity() const;
  // Bytes the surface occupies; kMmInvalid for an invalid description,
  // including one whose size does not fit in 32 bits.
  uint32_t GetPhysicalMemSize(bool strict) const;
  // Layout seen through a host aperture; 0 for an invalid description.
  uint32_t GetHostAperturePitch() const;
  uint32_t GetHostApertureSize() const;
};
static_assert(sizeof(MmSurfDesc) == 20);

// Surface kinds (requested and placed).
enum : uint32_t {
  kSurfLocal = 0,        // local; CPU through the vertex window or an aperture
  kSurfLocalAperture = 1,
  kSurfAgp = 2,
  kSurfPciLocked = 3,
  kSurfProcess = 4,      // process memory, no block
  kSurfSystem = 5,
  kSurfLocalMapped = 6,  // CPU through the frame-buffer mapping
  kSurfLocal7 = 7,
  kSurfAgpNoCpu = 8,
  kSurfNone = 10,
};

// Surface flags.
inline constexpr uint32_t kSurfKeepAddress = 0x4;                // descriptor address stays
inline constexpr uint32_t kSurfForeignAperture = 0x80000000;     // aperture owned elsewhere

inline constexpr uint32_t kHeapSelectorDefault = 24;
inline constexpr uint32_t kUnitAny = 0xFFFFFFFF;

// What a surface asks for; handed to the block allocators and copied into
// the kernel module's block requests.
struct MmSurfAllocOpt {
  uint32_t heapSelector = kHeapSelectorDefault;
  uint32_t requestedKind = kSurfNone;
  uint32_t word8 = 0;
  uint32_t flags = 0;
  uint32_t unit = kUnitAny;
  uint32_t physicalSize = 0;
  uint32_t alignment = 0;
  uint32_t word28 = 0;
  MmSurfaceMapper* mapper = nullptr;
  MmSurfDesc desc;
  uint32_t apertureWord = 1;  // passed on to the surface's host aperture
};
static_assert(sizeof(MmSurfAllocOpt) == kSurfAllocOptSize);
static_assert(offsetof(MmSurfAllocOpt, mapper) == 32);
static_assert(offsetof(MmSurfAllocOpt, desc) == 40);
static_assert(offsetof(MmSurfAllocOpt, apertureWord) == 60);

// A placed piece of memory: each build has its own layout
// (core/mm_block.h).
// The manager's window onto local memory that surfaces of kinds 0 and 7 may
// use instead of a host aperture.
struct MmVertexWindow {
  uint32_t busBase = 0;
  uint8_t* cpuBase = nullptr;
  uint32_t offset = 0;
  uint32_t size = 0;
};

// Tags asked of IsBusyDWG.
inline constexpr uint32_t kSyncTagOfBlock = 1;
inline constexpr uint32_t kSyncTagNew = 0xFFFFFFFF;

// List roles.
enum : uint32_t { kRoleSurface = 0, kRoleClone = 1, kRoleListHead = 2 };

class MmSurface : public OsHeapObject {
 public:
  MmSurface() = default;
  virtual ~MmSurface();
  MmSurface(const MmSurface&) = delete;
  MmSurface& operator=(const MmSurface&) = delete;

  // Notifications; derived surfaces override them.
  virtual bool OnDiscard();
  virtual void OnDestroy();
  virtual void OnRestore();
  virtual void OnDestroyMaster();
  virtual void OnDiscardMaster();
  virtual void OnRestoreMaster();

  void AttachToBlock(MmBlock* block);
  void DetachFromBlock();

  bool IsBusyDMA() const;
  bool IsBusyDWG(uint32_t* tag, bool update);
  bool IsBusy();

  bool CreateClone(MmSurface* clone);
  bool CreateCloneFrom(MmSurface* master) { return master->CreateClone(this); }
  bool CreateCloneApertureFrom(MmHostAperture* aperture);
  bool DetachCloneFromMaster();
  void UpdateMembersFromMaster();

  // A list is a head surface of role 2 linked to itself.
  static bool InitList(MmSurface** head);
  static void DeleteList(MmSurface** head);
  // Inserts right after the head; unlinks from whatever list holds it.
  void InsertAfter(MmSurface* head);
  void Unlink();

  bool CanUseVertexHostAperture() const;
  bool LockDown(uint32_t value);
  bool UnlockDown(uint32_t value);

  void DebugDump() const {}
  void Dump() const {}
  void UpdateDumpFlags() {}

  MmSurfAllocOpt options;
  int32_t cloneFlags = 0;  // bit 0: a clone attaches to the master's block
  uint64_t word64 = 0;
  uint32_t listRole = kRoleSurface;
  MmSurface* previous = nullptr;
  MmSurface* next = nullptr;
  MmSurfaceManager* manager = nullptr;
  MmBlock* block = nullptr;
  uint32_t placedKind = kSurfNone;
  // Kernel module: the placement code the surface was placed with, and
  // whether a policy may evict it to make room.
  uint32_t placement = 0;
  uint8_t discardable = 0;
  uint32_t windowBarred = 0;
  uint8_t* cpuAddress = nullptr;
  uint32_t busWord = 0;
  MmSurfaceMapper* lockMapper = nullptr;
  MmHostAperture* aperture = nullptr;
  MmSurface* master = nullptr;
  MmSurface* cloneList = nullptr;
  SharedLockedData_t* shared = nullptr;

 private:
  void ForgetMasterMemory();
};

inline constexpr int32_t kCloneAttachesToBlock = 0x1;

