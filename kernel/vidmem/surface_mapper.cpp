#include "kernel/vidmem/surface_mapper.h"

#include <string.h>

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "kernel/dma_streams.h"
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
  return window->block != nullptr ? window->block->offset + window->surfaceOffset : 0;
}

// Flushes the board's primary stream and waits (bounded) until the engine
// is idle: false when it did not become idle in time.
bool WaitForEngine(CommonData* common) {
  BmPrimInt* stream = common != nullptr ? common->primaryStream : nullptr;
  if (stream == nullptr || !stream->IsOpen()) return true;
  stream->Kick();
  return stream->WaitEngineIdle();
}

}  // namespace

// ---- MmHostAperture ---------------------------------------------------------------------------

MmHostAperture::MmHostAperture(const MmHostApertureDesc& d)
    : options(d.options), releasable(d.releasable != 0 ? 1 : 0), desc(d.desc),
      explicitSize(d.explicitSize), fixedOffset(d.fixedOffset) {}

MmHostAperture::~MmHostAperture() {
  if (multi != nullptr) {
    // A member leaves its group whole: the group's block goes back first,
    // and no member stays locked.
    MmMultiAperture* group = multi;
    if (group->block != nullptr && group->mapper != nullptr) {
      if (group->mapped != nullptr) OsUnmapMemory(BoardGlueDevice(common), group->mapped,
                                                  static_cast<uint32_t>(group->Span()));
      group->mapped = nullptr;
      group->lockCount = 0;
      group->mapper->ReleaseMultiAperture(group);
      for (uint32_t i = 0; i < group->count; ++i) {
        group->members[i].aperture->lockCount = 0;
        group->members[i].aperture->unlocked = 1;
      }
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < group->count; ++i)
      if (group->members[i].aperture != this) group->members[kept++] = group->members[i];
    group->count = kept;
    multi = nullptr;
    return;
  }
  if (lockCount != 0 && mapped != nullptr) {
    OsUnmapMemory(BoardGlueDevice(common), mapped, hostSize);
    mapped = nullptr;
  }
  if (block != nullptr && mapper != nullptr) mapper->ReleaseAperture(this);
}

uint32_t MmHostAperture::MappingId() const {
  return block != nullptr ? static_cast<uint32_t>(block->busAddress + surfaceOffset) : 0;
}

uint64_t MmHostAperture::RequestedSize() const {
  if (options & kApertureExplicitSize) return explicitSize;
  return desc.GetHostApertureSize();
}

bool MmHostAperture::Lock(uint64_t* apertureOffset, uint8_t** cpu) {
  if (multi != nullptr) {
    uint8_t* base = nullptr;
    if (!multi->Lock(nullptr, &base)) return false;
    if (apertureOffset != nullptr) *apertureOffset = block->offset + surfaceOffset;
    if (cpu != nullptr) *cpu = base + surfaceOffset;
    return true;
  }
  if (mapper == nullptr) return false;
  if (block == nullptr && !mapper->AllocateAperture(this)) return false;
  if (shadow != nullptr) {
    // Without a slot the window works on its copy.
    ++lockCount;
    unlocked = 0;
    if (apertureOffset != nullptr) *apertureOffset = block->offset + surfaceOffset;
    if (cpu != nullptr) *cpu = shadow->cpuAddress;
    return true;
  }
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
  if (multi != nullptr) {
    multi->Unlock();
    return;
  }
  if (lockCount == 0) return;
  if (--lockCount != 0) return;
  unlocked = 1;
  if (mapped != nullptr) OsUnmapMemory(BoardGlueDevice(common), mapped, hostSize);
  mapped = nullptr;
  if (block != nullptr) block->cpuAddress = nullptr;
  if (mapper != nullptr) mapper->ReleaseAperture(this);
}

// ---- MmMultiAperture ----------------------------------------------------------------------------

MmMultiAperture::~MmMultiAperture() {
  if (mapped != nullptr && block != nullptr && mapper != nullptr)
    OsUnmapMemory(BoardGlueDevice(mapper->common), mapped, static_cast<uint32_t>(Span()));
  mapped = nullptr;
  lockCount = 0;
  if (block != nullptr && mapper != nullptr) mapper->ReleaseMultiAperture(this);
  for (uint32_t i = 0; i < count; ++i) {
    members[i].aperture->multi = nullptr;
    members[i].aperture->surfaceOffset = 0;
    members[i].aperture->lockCount = 0;
    members[i].aperture->unlocked = 1;
  }
  count = 0;
}

bool MmMultiAperture::AddAperture(MmHostAperture* aperture, uint32_t offset) {
  if (aperture == nullptr || count >= kMultiApertureMembers) return false;
  if (aperture->multi != nullptr || aperture->block != nullptr) return false;
  aperture->multi = this;
  aperture->surfaceOffset = offset;
  members[count++] = Member{aperture, offset};
  return true;
}

uint64_t MmMultiAperture::Span() const {
  uint64_t end = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t memberEnd = uint64_t{members[i].offset} + members[i].aperture->RequestedSize();
    if (memberEnd > end) end = memberEnd;
  }
  return end;
}

bool MmMultiAperture::Lock(uint64_t* apertureOffset, uint8_t** cpu) {
  if (mapper == nullptr || count == 0) return false;
  if (block == nullptr && !mapper->AllocateMultiAperture(this)) return false;
  if (lockCount == 0) {
    OrvDevice* device = BoardGlueDevice(mapper->common);
    const uint64_t span = Span();
    mapped = device != nullptr ? static_cast<uint8_t*>(OsMapPhysicalMemory(
                                     device, block->busAddress, static_cast<uint32_t>(span)))
                               : nullptr;
    if (mapped == nullptr) {
      mapper->ReleaseMultiAperture(this);
      return false;
    }
    block->cpuAddress = mapped;
  }
  ++lockCount;
  for (uint32_t i = 0; i < count; ++i) {
    ++members[i].aperture->lockCount;
    members[i].aperture->unlocked = 0;
  }
  if (apertureOffset != nullptr) *apertureOffset = block->offset;
  if (cpu != nullptr) *cpu = mapped;
  return true;
}

void MmMultiAperture::Unlock() {
  if (lockCount == 0) return;
  --lockCount;
  for (uint32_t i = 0; i < count; ++i) {
    MmHostAperture* member = members[i].aperture;
    if (member->lockCount != 0) --member->lockCount;
    member->unlocked = member->lockCount == 0 ? 1 : 0;
  }
  if (lockCount != 0) return;
  if (mapped != nullptr && mapper != nullptr)
    OsUnmapMemory(BoardGlueDevice(mapper->common), mapped, static_cast<uint32_t>(Span()));
  mapped = nullptr;
  if (block != nullptr) block->cpuAddress = nullptr;
  if (mapper != nullptr) mapper->ReleaseMultiAperture(this);
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
  // Shadow copies go with the bookkeeping heap; their windows lose them.
  while (MmHostAperture* w = unslotted) {
    unslotted = w->nextUnslotted;
    w->nextUnslotted = nullptr;
    w->shadow = nullptr;
    w->block = nullptr;
    w->slotIndex = kSlotNone;
  }
  delete bookkeeping;
  bookkeeping = nullptr;
  ResetWindow();
  // Windows still holding blocks lose them with the heap (a group's block
  // too).
  for (MmHostAperture*& slot : slots) {
    if (slot != nullptr) {
      if (slot->multi != nullptr) slot->multi->block = nullptr;
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

// A mapper without the board's common data has no registers to write.
void MmSurfaceMapper::ProgramSlot(uint32_t index) {
  const MmHostAperture* w = slots[index];
  if (common == nullptr || w == nullptr) return;
  const uint32_t reg = 16 * (baseSlot + index);
  const uint32_t address = static_cast<uint32_t>(w->block->offset + w->surfaceOffset);
  HwRegAccess::Write(common, reg + 0, address | kSlotEnable | addressBits);
  HwRegAccess::Write(common, reg + 4, w->desc.word0);
  HwRegAccess::Write(common, reg + 8, w->desc.word1);
  HwRegAccess::Write(common, reg + 12, w->desc.word2);
}

void MmSurfaceMapper::ClearSlot(uint32_t index) {
  if (common == nullptr) return;
  HwRegAccess::Write(common, 16 * (baseSlot + index), 0);
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

void MmSurfaceMapper::FillWindow(MmHostAperture* window, MmBlock* block) {
  window->mapper = this;
  window->common = common;
  window->block = block;
  window->unlocked = 1;
  window->lockCount = 0;
  window->hostPitch = window->desc.GetHostAperturePitch();
  window->hostSize = static_cast<uint32_t>(window->RequestedSize());
  window->bytesPerPixel = window->desc.GetBitsPerPixel() / 8;
  window->record = common != nullptr ? common->memoryRecord : nullptr;
}

bool MmSurfaceMapper::AllocateAperture(MmHostAperture* window) {
  if (window == nullptr) return false;
  if (window->multi != nullptr) return AllocateMultiAperture(window->multi);
  if (window->block != nullptr) return true;
  window->mapper = this;
  window->common = common;
  uint64_t bytes = window->RequestedSize();
  if (bytes == 0 || bytes > heap->size) return false;
  const bool fixed = (window->options & kApertureFixedOffset) != 0;
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
      if (!TakeSlot(window)) {
        window->block = nullptr;
        block->Release();
        block = nullptr;
      }
    }
    if (block != nullptr) {
      FillWindow(window, block);
      if (programming) ProgramSlot(static_cast<uint32_t>(window->slotIndex));
      return true;
    }
  }
  if (fixed || !window->releasable) return false;
  // Without a slot: the window still needs its aperture space, and works on
  // a copy of its surface that the processor can reach.
  if (!MakeRoom(bytes)) return false;
  block = heap->Allocate(bytes, 1);
  if (block == nullptr) return false;
  FillWindow(window, block);
  window->slotIndex = kSlotUnmapped;
  if (!MakeShadow(window)) {
    window->block = nullptr;
    window->slotIndex = kSlotNone;
    block->Release();
    return false;
  }
  window->nextUnslotted = unslotted;
  unslotted = window;
  return true;
}

bool MmSurfaceMapper::MakeShadow(MmHostAperture* window) {
  if (bookkeeping == nullptr || window->hostSize == 0) return false;
  window->shadow = bookkeeping->Allocate(window->hostSize, 16);
  if (window->shadow == nullptr) return false;
  if (!CopyShadow(window, true)) {
    window->shadow->Release();
    window->shadow = nullptr;
    return false;
  }
  return true;
}

bool MmSurfaceMapper::CopyShadow(MmHostAperture* window, bool intoShadow) {
  // The reserved window's slot shows the surface while the copy runs.
  DropReserved();
  // A copy in waits for the engine to leave the surface alone; a copy back
  // goes even when the wait ran out, so the processor's writes are kept.
  bool ok = WaitForEngine(common) || !intoShadow;
  if (ok) ok = TakeSlot(window);
  if (ok) {
    const uint32_t slot = static_cast<uint32_t>(window->slotIndex);
    ProgramSlot(slot);
    OrvDevice* device = BoardGlueDevice(common);
    const uint32_t length = window->surfaceOffset + window->hostSize;
    auto* view = device != nullptr
                     ? static_cast<uint8_t*>(OsMapPhysicalMemory(device, window->block->busAddress, length))
                     : nullptr;
    if (view != nullptr) {
      uint8_t* surface = view + window->surfaceOffset;
      if (intoShadow) {
        memcpy(window->shadow->cpuAddress, surface, window->hostSize);
      } else {
        memcpy(surface, window->shadow->cpuAddress, window->hostSize);
      }
      OsUnmapMemory(device, view, length);
    }
    ok = view != nullptr;
    // The slot goes back: the window stays without one.
    ClearSlot(slot);
    slots[slot] = nullptr;
    window->slotIndex = kSlotUnmapped;
  }
  MakeReserved();
  return ok;
}

void MmSurfaceMapper::Unlink(MmHostAperture* window) {
  for (MmHostAperture** at = &unslotted; *at != nullptr; at = &(*at)->nextUnslotted) {
    if (*at == window) {
      *at = window->nextUnslotted;
      window->nextUnslotted = nullptr;
      return;
    }
  }
}

void MmSurfaceMapper::ReleaseAperture(MmHostAperture* window) {
  if (window == nullptr) return;
  if (window->multi != nullptr) {
    ReleaseMultiAperture(window->multi);
    return;
  }
  if (window->block == nullptr) return;
  if (window->shadow != nullptr) {
    // What the processor wrote into the copy goes back to the surface.
    CopyShadow(window, false);
    window->shadow->Release();
    window->shadow = nullptr;
    Unlink(window);
  }
  if (window->slotIndex >= 0 && static_cast<uint32_t>(window->slotIndex) < kMapperSlots &&
      slots[window->slotIndex] == window) {
    if (programming) ClearSlot(static_cast<uint32_t>(window->slotIndex));
    slots[window->slotIndex] = nullptr;
  }
  window->block->Release();
  window->block = nullptr;
  window->slotIndex = kSlotNone;
}

bool MmSurfaceMapper::AllocateMultiAperture(MmMultiAperture* multi) {
  if (multi == nullptr || multi->count == 0) return false;
  if (multi->block != nullptr) return true;
  const uint64_t span = multi->Span();
  if (span == 0 || span > heap->size) return false;
  MakeRoom(span);
  MmBlock* block = heap->Allocate(span, 1);
  if (block == nullptr) return false;
  multi->block = block;
  multi->mapper = this;
  for (uint32_t i = 0; i < multi->count; ++i) {
    MmHostAperture* member = multi->members[i].aperture;
    member->surfaceOffset = multi->members[i].offset;
    FillWindow(member, block);
    if (!TakeSlot(member)) {
      // This part gets no window: the others give theirs back.
      member->block = nullptr;
      member->slotIndex = kSlotNone;
      ReleaseMultiAperture(multi);
      return false;
    }
    if (programming) ProgramSlot(static_cast<uint32_t>(member->slotIndex));
  }
  return true;
}

void MmSurfaceMapper::ReleaseMultiAperture(MmMultiAperture* multi) {
  if (multi == nullptr || multi->block == nullptr) return;
  for (uint32_t i = 0; i < multi->count; ++i) {
    MmHostAperture* member = multi->members[i].aperture;
    if (member->slotIndex >= 0 && static_cast<uint32_t>(member->slotIndex) < kMapperSlots &&
        slots[member->slotIndex] == member) {
      if (programming) ClearSlot(static_cast<uint32_t>(member->slotIndex));
      slots[member->slotIndex] = nullptr;
    }
    member->block = nullptr;
    member->slotIndex = kSlotNone;
  }
  multi->block->Release();
  multi->block = nullptr;
}

MmHostAperture* MmSurfaceMapper::FindMapped(uint32_t id) const {
  for (uint32_t i = 0; i < kMapperSlots; ++i)
    if (slots[i] != nullptr && slots[i] != reserved && slots[i]->MappingId() == id) return slots[i];
  for (MmHostAperture* w = unslotted; w != nullptr; w = w->nextUnslotted)
    if (w->MappingId() == id) return w;
  return nullptr;
}

bool MmSurfaceMapper::LockDown(uint32_t id) {
  MmHostAperture* window = FindMapped(id);
  return window != nullptr && window->Lock(nullptr, nullptr);
}

bool MmSurfaceMapper::UnlockDown(uint32_t id) {
  MmHostAperture* window = FindMapped(id);
  if (window == nullptr || window->lockCount == 0) return false;
  window->Unlock();
  return true;
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
