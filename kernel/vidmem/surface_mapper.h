// The host-aperture surface mapper: windows of the board's host aperture
// through which the processor reaches surfaces in local memory. Windows are
// blocks of a region heap over the aperture (256 KB granules); each window
// with a slot programs one of the chip's 20 aperture slots (kept in
// increasing window address), and a releasable window that finds no slot is
// mapped without one. MmHostAperture::Lock maps a window into the kernel's
// address space while a caller holds it.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "kernel/vidmem/heaps.h"

struct CommonData;
struct MmBoardRecord;
class MmSurfaceMapper;

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

class MmHostAperture : public OsHeapObject {
 public:
  MmHostAperture() = default;
  explicit MmHostAperture(const MmHostApertureDesc& description);
  ~MmHostAperture();
  MmHostAperture(const MmHostAperture&) = delete;
  MmHostAperture& operator=(const MmHostAperture&) = delete;

  // Gets a window when it has none and maps it on the first lock: the
  // surface's offset in the aperture and its CPU address. False, holding
  // nothing, when no window or no mapping can be had.
  bool Lock(uint64_t* apertureOffset, uint8_t** cpu);
  // The last unlock unmaps the window and releases it; an unlock without a
  // lock does nothing.
  void Unlock();
  // Bytes of aperture the window asks for.
  uint64_t RequestedSize() const;

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
  void* multi = nullptr;       // multi-apertures are not made by this mapper
  uint32_t surfaceOffset = 0;  // of the surface inside its window
  uint8_t* mapped = nullptr;   // while locked
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
  bool AllocateMultiAperture(void*) { return false; }
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

 private:
  bool MakeRoom(uint64_t bytes);
  // Takes a slot for the window's address, keeping the table ordered:
  // false when all are used.
  bool TakeSlot(MmHostAperture* window);
  void ProgramSlot(uint32_t index);
  void ClearSlot(uint32_t index);
  bool MakeReserved();
  void DropReserved();
};
