// Host apertures: windows of the board's aperture that the chip maps onto a
// surface in local memory, so the processor can reach it. The mapper hands
// out aperture blocks, from the kernel module or, in local-DMA mode, by
// programming the chip's aperture slot registers itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "core/orv_abi.h"
#include "core/regs/aperture.h"

struct MmManagerRecord;
class MmMultiAperture;
class MmSurfaceMapper;

// The request for an aperture block.
struct MmHostApertureOpt {
  uint32_t word0 = 0;
  uint32_t apertureWord = 1;
  MmSurfDesc desc;
  uint32_t reserved[2] = {0, 0};
};
static_assert(sizeof(MmHostApertureOpt) == kHostApertureOptSize);
static_assert(offsetof(MmHostApertureOpt, desc) == 8);

// Slot index values.
inline constexpr int32_t kSlotNone = -1;           // not allocated
inline constexpr int32_t kSlotReleaseOnUnlock = -2;  // given back when its last lock ends

class MmHostAperture : public OsHeapObject {
 public:
  MmHostAperture(MmSurfaceMapper* mapper, uint32_t apertureWord, const MmSurfDesc& desc);
  ~MmHostAperture() = default;
  MmHostAperture(const MmHostAperture&) = delete;
  MmHostAperture& operator=(const MmHostAperture&) = delete;

  // Maps the window on first use; either output may be null.
  bool Lock(uint64_t* apertureAddress, uint8_t** cpuAddress);
  void Unlock();

  MmSurfaceMapper* mapper;
  CommonData* common = nullptr;
  MmHostApertureOpt options;
  uint32_t released = 1;
  uint32_t lockCount = 0;
  MmBlock* block = nullptr;
  int32_t slotIndex = kSlotNone;
  uint32_t size = 0;
  uint32_t pitch = 0;
  uint32_t bytesPerPixel = 0;
  uint32_t apertureWord;
  MmManagerRecord* record = nullptr;
  MmMultiAperture* multi = nullptr;
  uint32_t multiOffset = 0;
};

enum AperturePriority : uint32_t { kAperturePriorityNormal = 0 };
inline constexpr uint32_t kMultiApertureMembers = 20;

class MmMultiAperture : public OsHeapObject {
 public:
  MmMultiAperture(MmSurfaceMapper* mapper, uint32_t value, AperturePriority priority)
      : mapper(mapper), value(value), priority(priority) {}
  ~MmMultiAperture();
  MmMultiAperture(const MmMultiAperture&) = delete;
  MmMultiAperture& operator=(const MmMultiAperture&) = delete;

  bool AddAperture(MmHostAperture* aperture, uint32_t offset);
  bool Lock(uint64_t* apertureAddress, uint8_t** cpuAddress);
  void Unlock();

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
};

class MmSurfaceMapper : public OsHeapObject {
 public:
  MmSurfaceMapper(uint8_t* ok, CommonData* common);
  virtual ~MmSurfaceMapper() = default;
  MmSurfaceMapper(const MmSurfaceMapper&) = delete;
  MmSurfaceMapper& operator=(const MmSurfaceMapper&) = delete;

  // A block for the options and its slot index, or null.
  virtual MmBlock* AllocateApertureBlock(const MmHostApertureOpt& options, int32_t* slotIndex);
  virtual void FreeApertureBlock(MmBlock* block);

  uint32_t GetApertureSize() const;
  bool AllocateAperture(MmHostAperture* aperture);
  void ReleaseAperture(MmHostAperture* aperture);
  // Multi-apertures are not supported by these mappers.
  bool AllocateMultiAperture(MmMultiAperture*) { return false; }
  void ReleaseMultiAperture(MmMultiAperture*) {}
  bool IsApertureInUse(MmHostAperture*) const { return false; }
  bool LockDown(MmSurface*, uint32_t) { return false; }
  bool UnlockDown(MmSurface*, uint32_t) { return false; }

  SharedLockedData_t* shared;
  CommonData* common;
};

// Window offsets lie below the base bits of the key.
inline constexpr uint32_t kApertureOffsetLimit = 0x02000000;
// Windows start on this granule and keep one granule of space after them.
inline constexpr uint32_t kApertureGranule = 0x40000;

class EmulMmSurfaceMapper : public MmSurfaceMapper {
 public:
  EmulMmSurfaceMapper(uint8_t* ok, CommonData* common);
  ~EmulMmSurfaceMapper() override = default;

  MmBlock* AllocateApertureBlock(const MmHostApertureOpt& options, int32_t* slotIndex) override;
  void FreeApertureBlock(MmBlock* block) override;
  // Forgets the next-offset hint; live windows keep their space.
  void Reset();

  struct Slot {
    uint32_t desc0;
    uint32_t desc1;
    uint32_t desc2;
    uint32_t key;
  };
  Slot slots[kApertureSlots] = {};
  uint32_t slotCount = 0;
  uint32_t nextFreeOffset = 0;  // end of the highest live window's space
  uint32_t baseBits = 0;

 private:
  // Aperture space each live slot holds: [offset, end).
  struct Span {
    uint32_t offset;
    uint32_t end;
  };
  void WriteSlot(uint32_t index);
  bool FindSpace(uint32_t size, uint32_t* offset) const;
  void UpdateNextFreeOffset();
  Span spans_[kApertureSlots] = {};
};

// Aperture space a window of size bytes holds from its start.
uint64_t MmApertureSpan(uint64_t size);
