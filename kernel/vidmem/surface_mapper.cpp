#include "kernel/vidmem/surface_mapper.h"

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "kernel/locked_pages.h"
#include "platform/kglue/kglue.h"
#include "kernel/register_guard.h"

namespace {

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }

// MmDebugFlags bit 0: releasable windows never get a slot.
constexpr uint32_t kMmDebugNoSlotsForReleasable = 0x1;

uint32_t MmDebugFlagsOf(CommonData* common) {
  DriverSwitchesCommon* switches = common != nullptr ? common->driverSwitches : nullptr;
  if (switches == nullptr || switches->MmDebugFlags == nullptr) return 0;
  return switches->MmDebugFlags->GetValue();
}

uint64_t WindowAddress(const MmHostAperture* window) {
  return window->block != nullptr ? window->block->offset : 0;
}

}  // namespace

// ---- MmHostAperture ---------------------------------------------------------------------------

MmHostAperture::MmHostAperture(const MmHostApertureDesc& d)
    : options(d.options), releasable(d.releasable != 0 ? 1 : 0), desc(d.desc),
      explicitSize(d.explicitSize), fixedOffset(d.fixedOffset) {}

MmHostAperture::~MmHostAperture() {
  if (lockCount != 0 && mapped != nullptr) {
    OsUnmapMemory(BoardGlueDevice(common), mapped, hostSize);
    mapped = nullptr;
  }
  if (block != nullptr && mapper != nullptr) mapper->ReleaseAperture(this);
}

uint64_t MmHostAperture::RequestedSize() const {
  if (options & kApertureExplicitSize) return explicitSize;
  return desc.GetHostApertureSize();
}

bool MmHostAperture::Lock(uint64_t* apertureOffset, uint8_t** cpu) {
  if (mapper == nullptr) return false;
  if (block == nullptr && !mapper->AllocateAperture(this)) return false;
  if (lockCount == 0) {
    OrvDevice* device = BoardGlueDevice(common);
    mapped = device != nullptr ? static_cast<uint8_t*>(OsMapPhysicalMemory(device, block->busAddress, hostSize))
                               : nullptr;
    if (mapped == nullptr) {
      mapper->ReleaseAperture(this);
      return false;
    }
    block->cpuAddress = mapped;
  }
  ++lockCount;
  unlocked = 0;
  if (apertureOffset != nullptr) *apertureOffset = block->offset + surfaceOffset;
  if (cpu != nullptr) *cpu = mapped + surfaceOffset;
  return true;
}

void MmHostAperture::Unlock() {
  if (lockCount == 0) return;
  if (--lockCount != 0) return;
  unlocked = 1;
  if (mapped != nullptr) OsUnmapMemory(BoardGlueDevice(common), mapped, hostSize);
  mapped = nullptr;
  if (block != nullptr) block->cpuAddress = nullptr;
  if (mapper != nullptr) mapper->ReleaseAperture(this);
}

// ---- MmSurfaceMapper ----------------------------------------------------------------------------

MmSurfaceMapper::MmSurfaceMapper(uint8_t* ok, uint32_t bus, uint32_t, uint32_t apertureSize,
                                 CommonData* c)
    : common(c), apertureBus(bus) {
  *ok = 0;
  addressBits = bus & kSlotAddressBits;
  uint8_t heapOk = 0;
  heap = new MmRegionHeap(&heapOk, c, kHeapDeviceAddress, bus, nullptr,
                          apertureSize & ~(kApertureGranule - 1), kApertureGranule);
  if (heap == nullptr || !heapOk) return;
  bookkeeping = new MmSystemHeap(kSystemPlain, c, 0);
  if (bookkeeping == nullptr) return;
  if (!MakeReserved()) return;
  *ok = 1;
}

MmSurfaceMapper::~MmSurfaceMapper() {
  DropReserved();
  delete bookkeeping;
  bookkeeping = nullptr;
  ResetWindow();
  // Windows still holding blocks lose them with the heap.
  for (MmHostAperture*& slot : slots) {
    if (slot != nullptr) {
      slot->block = nullptr;
      slot->slotIndex = kSlotNone;
    }
    slot = nullptr;
  }
  delete heap;
  heap = nullptr;
}

bool MmSurfaceMapper::MakeReserved() {
  reserved = new MmHostAperture();
  if (reserved == nullptr) return false;
  reserved->options = kApertureExplicitSize;
  reserved->explicitSize = kReservedWindowBytes;
  if (!AllocateAperture(reserved)) {
    delete reserved;
    reserved = nullptr;
    return false;
  }
  return true;
}

void MmSurfaceMapper::DropReserved() {
  if (reserved == nullptr) return;
  ReleaseAperture(reserved);
  delete reserved;
  reserved = nullptr;
}

bool MmSurfaceMapper::HasSlot(const MmHostAperture* window) const {
  for (uint32_t i = 0; i < slotCount && i < kMapperSlots; ++i)
    if (slots[i] == window && window != nullptr) return true;
  return false;
}

void MmSurfaceMapper::ProgramSlot(uint32_t index) {
  const MmHostAperture* w = slots[index];
  const uint32_t reg = 16 * (baseSlot + index);
  const uint32_t address = static_cast<uint32_t>(w->block->offset + w->surfaceOffset);
  KernelWriteRegister(common, reg + 0, address | kSlotEnable | addressBits);
  KernelWriteRegister(common, reg + 4, w->desc.word0);
  KernelWriteRegister(common, reg + 8, w->desc.word1);
  KernelWriteRegister(common, reg + 12, w->desc.word2);
}

void MmSurfaceMapper::ClearSlot(uint32_t index) {
  KernelWriteRegister(common, 16 * (baseSlot + index), 0);
}

void MmSurfaceMapper::ProgramAllSlots() {
  for (uint32_t i = 0; i < slotCount && i < kMapperSlots; ++i) {
    if (programming && slots[i] != nullptr) {
      ProgramSlot(i);
    } else {
      ClearSlot(i);
    }
  }
}

void MmSurfaceMapper::Enable() {
  if (enableCount++ == 0) {
    programming = 1;
    ProgramAllSlots();
  }
}

void MmSurfaceMapper::Disable() {
  if (enableCount == 0) return;
  if (--enableCount == 0) {
    programming = 0;
    ProgramAllSlots();
  }
}

bool MmSurfaceMapper::MakeRoom(uint64_t bytes) {
  while (heap->GetLargestFree() < bytes) {
    MmHostAperture* victim = nullptr;
    for (uint32_t i = 0; i < slotCount && i < kMapperSlots && victim == nullptr; ++i) {
      MmHostAperture* w = slots[i];
      if (w != nullptr && w->lockCount == 0 && w->releasable) victim = w;
    }
    if (victim == nullptr) break;
    ReleaseAperture(victim);
  }
  return heap->GetLargestFree() >= bytes;
}

bool MmSurfaceMapper::TakeSlot(MmHostAperture* window) {
  const uint32_t count = slotCount < kMapperSlots ? slotCount : kMapperSlots;
  const uint64_t address = WindowAddress(window);
  // The insertion point: the first used slot whose window lies above.
  uint32_t at = count;
  uint32_t lastUsed = count;
  for (uint32_t i = 0; i < count; ++i) {
    if (slots[i] == nullptr) continue;
    lastUsed = i;
    if (at == count && WindowAddress(slots[i]) > address) at = i;
  }
  if (at == count) at = lastUsed == count ? 0 : lastUsed + 1;
  // A free slot at or after the insertion point: the windows between move up.
  uint32_t free = count;
  for (uint32_t i = at; i < count && free == count; ++i)
    if (slots[i] == nullptr) free = i;
  if (free != count) {
    for (uint32_t i = free; i > at; --i) {
      slots[i] = slots[i - 1];
      slots[i]->slotIndex = static_cast<int32_t>(i);
      if (programming) ProgramSlot(i);
    }
  } else {
    // Else one before it: the windows between move down.
    for (uint32_t i = at; i-- > 0 && free == count;)
      if (slots[i] == nullptr) free = i;
    if (free == count) return false;
    for (uint32_t i = free; i + 1 < at; ++i) {
      slots[i] = slots[i + 1];
      slots[i]->slotIndex = static_cast<int32_t>(i);
      if (programming) ProgramSlot(i);
    }
    at -= 1;
  }
  // The vacated slot is cleared before it takes the window.
  if (programming && free != at) ClearSlot(at);
  slots[at] = window;
  window->slotIndex = static_cast<int32_t>(at);
  return true;
}

bool MmSurfaceMapper::AllocateAperture(MmHostAperture* window) {
  if (window == nullptr || window->multi != nullptr) return false;
  if (window->block != nullptr) return true;
  window->mapper = this;
  window->common = common;
  uint64_t bytes = window->RequestedSize();
  if (bytes == 0 || bytes > heap->size) return false;
  const bool fixed = (window->options & kApertureFixedOffset) != 0;
  bool withSlot = false;
  MmBlock* block = nullptr;
  if (!(window->releasable && (MmDebugFlagsOf(common) & kMmDebugNoSlotsForReleasable))) {
    MmHeapRequest request;
    request.size = bytes;
    request.alignment = 1;
    request.flags = (window->options & kAperturePlaceHigh) ? kRequestHigh : kRequestLow;
    if (fixed) {
      request.flags |= kRequestFixed;
      request.fixedOffset = window->fixedOffset;
    }
    // A window of whole granules keeps one granule of space after it.
    if (!(window->options & (kApertureFixedOffset | kApertureExplicitSize)) &&
        bytes % kApertureGranule == 0)
      request.size = bytes + kApertureGranule;
    MakeRoom(request.size);
    block = heap->AllocateRequest(request);
    if (block != nullptr) {
      window->block = block;
      if (TakeSlot(window)) {
        withSlot = true;
      } else {
        window->block = nullptr;
        block->Release();
        block = nullptr;
      }
    }
  }
  if (block == nullptr) {
    if (fixed || !window->releasable) return false;
    // Without a slot: the window still needs its aperture space.
    if (!MakeRoom(bytes)) return false;
    block = heap->Allocate(bytes, 1);
    if (block == nullptr) return false;
    window->slotIndex = kSlotUnmapped;
  }
  window->block = block;
  window->unlocked = 1;
  window->lockCount = 0;
  window->hostPitch = window->desc.GetHostAperturePitch();
  window->hostSize = static_cast<uint32_t>(window->RequestedSize());
  window->bytesPerPixel = window->desc.GetBitsPerPixel() / 8;
  window->record = common != nullptr ? common->memoryRecord : nullptr;
  if (withSlot && programming) ProgramSlot(static_cast<uint32_t>(window->slotIndex));
  return true;
}

void MmSurfaceMapper::ReleaseAperture(MmHostAperture* window) {
  if (window == nullptr || window->block == nullptr) return;
  if (window->slotIndex >= 0 && static_cast<uint32_t>(window->slotIndex) < kMapperSlots &&
      slots[window->slotIndex] == window) {
    if (programming) ClearSlot(static_cast<uint32_t>(window->slotIndex));
    slots[window->slotIndex] = nullptr;
  }
  window->block->Release();
  window->block = nullptr;
  window->slotIndex = kSlotNone;
}

void MmSurfaceMapper::ResetWindow() {
  baseSlot = 0;
  slotCount = kMapperSlots;
  for (MmBlock*& guard : guards) {
    if (guard != nullptr) guard->Release();
    guard = nullptr;
  }
}

bool MmSurfaceMapper::RestrictWindow(uint32_t base, uint32_t count, uint32_t windowStart,
                                     uint32_t windowLength) {
  DropReserved();
  ResetWindow();
  baseSlot = base;
  slotCount = count;
  const uint64_t start = AlignUp(windowStart, kApertureGranule);
  bool ok = true;
  if (start > 0) {
    MmHeapRequest first;
    first.size = start;
    first.flags = kRequestFixed;
    first.fixedOffset = 0;
    guards[0] = heap->AllocateRequest(first);
    ok = guards[0] != nullptr;
  }
  const uint64_t usable = windowLength > start - windowStart
                              ? (windowLength - (start - windowStart)) & ~uint64_t{kApertureGranule - 1}
                              : 0;
  const uint64_t second = start + usable;
  if (ok && second < heap->size) {
    MmHeapRequest last;
    last.size = heap->size - second;
    last.flags = kRequestFixed;
    last.fixedOffset = static_cast<uint32_t>(second);
    guards[1] = heap->AllocateRequest(last);
    ok = guards[1] != nullptr;
  }
  if (ok) ok = MakeReserved();
  if (!ok) ResetWindow();
  return ok;
}
