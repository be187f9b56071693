// The host-aperture surface mapper: windows of the board's host aperture
// through which the processor reaches surfaces in local memory. Windows are
// blocks of a region heap over the aperture (256 KB granules); each window
// with a slot programs one of the chip's 20 aperture slots (kept in
// increasing window address). A releasable window that finds no slot is
// mapped without one and works on a shadow copy of its surface in kernel
// memory, copied in when it is made and back when it goes. A multi-aperture
// puts the planes of one surface in one block, each plane a member window
// with a slot of its own. MmHostAperture::Lock maps a window into the
// kernel's address space while a caller holds it.
//
// The X driver has classes of the same names (core/mm_aperture.h): these
// are the kernel core's, in namespace kcore (core/kcore_names.h).
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/kcore_names.h"
#include "core/mm_surface.h"
#include "kernel/vidmem/heaps.h"

struct CommonData;
struct MmBoardRecord;

// Option bits of a window.
inline constexpr uint32_t kApertureFixedOffset = 0x2;
inline constexpr uint32_t kApertureExplicitSize = 0x4;
inline constexpr uint32_t kAperturePlaceHigh = 0x8;

inline constexpr int32_t kSlotNone = -1;
inline constexpr int32_t kSlotUnmapped = -2;  // a window without a slot

inline constexpr uint32_t kApertureGranule = 0x40000;  // 256 KB
inline constexpr uint32_t kMapperSlots = 20;
inline constexpr uint32_t kSlotEnable = 0x10000000;
inline constexpr uint32_t kSlotAddressBits = 0x0E000000;
inline constexpr uint32_t kReservedWindowBytes = 1024;

// A window as the X driver describes it (request 24, kind 1): 36 bytes.
struct MmHostApertureDesc {
  uint32_t options;      // kApertureFixedOffset, kApertureExplicitSize, kAperturePlaceHigh
  uint32_t releasable;
  MmSurfDesc desc;
  uint32_t explicitSize;
  uint32_t fixedOffset;  // in the aperture
};
static_assert(sizeof(MmHostApertureDesc) == kHostApertureOptSize);

namespace kcore {

class MmHostAperture : public OsHeapObject {
 public:
  MmHostAperture() = default;
  explicit MmHostAperture(const MmHostApertureDesc& description);
  ~MmHostAperture();
  MmHostAperture(const MmHostAperture&) = delete;
  MmHostAperture& operator=(const MmHostAperture&) = delete;

  // Gets a window when it has none and maps it on the first lock: the
  // surface's offset in the aperture and its CPU address (a window without a
  // slot: its shadow copy). False, holding nothing, when no window or no
  // mapping can be had. A member of a multi-aperture locks the whole group.
  bool Lock(uint64_t* apertureOffset, uint8_t** cpu);
  // The last unlock unmaps the window and releases it; an unlock without a
  // lock does nothing.
  void Unlock();
  // Bytes of aperture the window asks for.
  uint64_t RequestedSize() const;
  // The window's mapping id: the low 32 bits of its bus address, the id
  // request 24 hands out for it.
  uint32_t MappingId() const;

  MmSurfaceMapper* mapper = nullptr;
  CommonData* common = nullptr;
  uint32_t options = 0;
  uint8_t releasable = 0;
  MmSurfDesc desc;
  uint32_t explicitSize = 0;
  uint32_t fixedOffset = 0;
  uint8_t unlocked = 1;
  uint32_t lockCount = 0;
  MmBlock* block = nullptr;
  uint32_t hostPitch = 0;
  uint32_t hostSize = 0;
  uint32_t bytesPerPixel = 0;
  int32_t slotIndex = kSlotNone;
  MmBoardRecord* record = nullptr;
  MmMultiAperture* multi = nullptr;  // the group it belongs to, or null
  uint32_t surfaceOffset = 0;  // of the surface inside its window (a member: in the group's block)
  uint8_t* mapped = nullptr;   // while locked (a plain window with a slot)
  MmBlock* shadow = nullptr;   // the copy a window without a slot works on
  MmHostAperture* nextUnslotted = nullptr;  // the mapper's windows without a slot
};

enum AperturePriority : uint32_t { kAperturePriorityNormal = 0 };
inline constexpr uint32_t kMultiApertureMembers = 20;

// The windows of one surface's planes in one aperture block: each member
// shows its plane at its offset in the block through a slot of its own.
// Locking the group maps the block once and locks every member.
class MmMultiAperture : public OsHeapObject {
 public:
  MmMultiAperture(MmSurfaceMapper* mapper, uint32_t value, AperturePriority priority)
      : mapper(mapper), value(value), priority(priority) {}
  // Unmaps and gives the block back; the members are detached, not deleted.
  ~MmMultiAperture();
  MmMultiAperture(const MmMultiAperture&) = delete;
  MmMultiAperture& operator=(const MmMultiAperture&) = delete;

  // False with 20 members, for a window of another group, or one that
  // already holds a block of its own.
  bool AddAperture(MmHostAperture* aperture, uint32_t offset);
  // Gets the block and the members' slots when there are none, maps the
  // block on the first lock, and locks every member: the block's offset in
  // the aperture and its CPU address. False, holding nothing, on failure
  // (the outputs are left as they were).
  bool Lock(uint64_t* apertureOffset, uint8_t** cpu);
  // The last unlock unmaps the block and releases the group.
  void Unlock();
  // Bytes from the block's start to the end of its furthest member.
  uint64_t Span() const;

  struct Member {
    MmHostAperture* aperture;
    uint32_t offset;
  };
  MmSurfaceMapper* mapper;
  uint32_t value;
  AperturePriority priority;
  MmBlock* block = nullptr;
  uint32_t count = 0;
  Member members[kMultiApertureMembers] = {};
  uint32_t lockCount = 0;
  uint8_t* mapped = nullptr;
};

class MmSurfaceMapper : public OsHeapObject {
 public:
  // Over the aperture [bus, bus + size) (size rounded down to 256 KB).
  MmSurfaceMapper(uint8_t* ok, uint32_t apertureBus, uint32_t cpuBase, uint32_t apertureSize,
                  CommonData* common);
  ~MmSurfaceMapper();
  MmSurfaceMapper(const MmSurfaceMapper&) = delete;
  MmSurfaceMapper& operator=(const MmSurfaceMapper&) = delete;

  bool AllocateAperture(MmHostAperture* window);
  void ReleaseAperture(MmHostAperture* window);
  // One block for the whole group, then a slot for each member in turn;
  // when a member gets none, the others' slots and the block go back.
  bool AllocateMultiAperture(MmMultiAperture* multi);
  void ReleaseMultiAperture(MmMultiAperture* multi);
  // Lock or unlock the mapped window (with a slot or a shadow copy) whose
  // mapping id is id; false when there is none (or the lock fails).
  bool LockDown(uint32_t id);
  bool UnlockDown(uint32_t id);
  // The mapped window whose mapping id is id, or null.
  MmHostAperture* FindMapped(uint32_t id) const;
  void ProgramAllSlots();
  uint32_t GetApertureSize() const { return heap != nullptr ? heap->size : 0; }
  void ResetWindow();
  bool RestrictWindow(uint32_t baseSlot, uint32_t count, uint32_t windowStart, uint32_t windowLength);
  bool HasSlot(const MmHostAperture* window) const;
  // Use-counted: slot programming is on while enabled (device start to
  // stop); every slot is written when it changes.
  void Enable();
  void Disable();

  MmHostAperture* slots[kMapperSlots] = {};
  uint32_t baseSlot = 0;
  uint32_t slotCount = kMapperSlots;
  MmBlock* guards[2] = {};
  MmRegionHeap* heap = nullptr;
  MmSystemHeap* bookkeeping = nullptr;
  MmHostAperture* reserved = nullptr;
  CommonData* common;
  uint32_t addressBits = 0;
  uint32_t programming = 0;
  uint32_t enableCount = 0;
  uint32_t apertureBus;
  MmHostAperture* unslotted = nullptr;  // windows working on a shadow copy

 private:
  bool MakeRoom(uint64_t bytes);
  // Takes a slot for the window's address, keeping the table ordered:
  // false when all are used.
  bool TakeSlot(MmHostAperture* window);
  void ProgramSlot(uint32_t index);
  void ClearSlot(uint32_t index);
  bool MakeReserved();
  void DropReserved();
  // Fills the window's fields once it holds its block.
  void FillWindow(MmHostAperture* window, MmBlock* block);
  // Takes a shadow buffer and copies the surface into it.
  bool MakeShadow(MmHostAperture* window);
  // Copies between the surface in local memory and the window's shadow
  // buffer: the reserved window gives up its slot, the engine is flushed
  // and waited for, and the window's own block shows the surface through
  // that slot for the copy; then the reserved window is made again.
  bool CopyShadow(MmHostAperture* window, bool intoShadow);
  void Unlink(MmHostAperture* window);
};

}  // namespace kcore

using kcore::kAperturePriorityNormal;
