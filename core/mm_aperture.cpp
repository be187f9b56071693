#include "core/mm_aperture.h"

#include "core/hw_register_access.h"
#include "core/lnx_device.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"

uint64_t MmApertureSpan(uint64_t size) {
  return (size + kApertureGranule - 1) / kApertureGranule * kApertureGranule + kApertureGranule;
}

// ---- MmHostAperture --------------------------------------------------------------------

MmHostAperture::MmHostAperture(MmSurfaceMapper* mapper, uint32_t apertureWord,
                               const MmSurfDesc& desc)
    : mapper(mapper), apertureWord(apertureWord) {
  options.apertureWord = apertureWord;
  options.desc = desc;
  if (mapper != nullptr) common = mapper->common;
}

bool MmHostAperture::Lock(uint64_t* apertureAddress, uint8_t** cpuAddress) {
  if (block == nullptr && (mapper == nullptr || !mapper->AllocateAperture(this))) return false;
  ++lockCount;
  released = 0;
  if (apertureAddress != nullptr) *apertureAddress = block->offset + multiOffset;
  if (cpuAddress != nullptr) *cpuAddress = block->cpuAddress + multiOffset;
  return true;
}

void MmHostAperture::Unlock() {
  if (lockCount > 0) --lockCount;
  if (lockCount == 0) released = 1;
  if (released != 0 && slotIndex == kSlotReleaseOnUnlock && mapper != nullptr) {
    mapper->ReleaseAperture(this);
  }
}

// ---- MmMultiAperture -------------------------------------------------------------------

MmMultiAperture::~MmMultiAperture() {
  if (block != nullptr && count > 0) {
    MmHostAperture* first = members[0].aperture;
    first->mapper->ReleaseAperture(first);
  }
  for (uint32_t i = 0; i < count; ++i) {
    members[i].aperture->multi = nullptr;
    members[i].aperture->multiOffset = 0;
  }
}

bool MmMultiAperture::AddAperture(MmHostAperture* aperture, uint32_t offset) {
  if (count == kMultiApertureMembers) return false;
  aperture->multi = this;
  aperture->multiOffset = offset;
  members[count++] = Member{aperture, offset};
  return true;
}

bool MmMultiAperture::Lock(uint64_t* apertureAddress, uint8_t** cpuAddress) {
  if (block == nullptr && !mapper->AllocateMultiAperture(this)) return false;
  for (uint32_t i = 0; i < count; ++i) members[i].aperture->Lock(nullptr, nullptr);
  if (apertureAddress != nullptr) *apertureAddress = block->offset;
  if (cpuAddress != nullptr) *cpuAddress = block->cpuAddress;
  return true;
}

void MmMultiAperture::Unlock() {
  for (uint32_t i = 0; i < count; ++i) members[i].aperture->Unlock();
}

// ---- MmSurfaceMapper --------------------------------------------------------------------

MmSurfaceMapper::MmSurfaceMapper(uint8_t* ok, CommonData* common)
    : shared(common != nullptr ? common->sharedLocked : nullptr), common(common) {
  *ok = (common != nullptr && shared != nullptr) ? 1 : 0;
}

uint32_t MmSurfaceMapper::GetApertureSize() const { return shared->frameBufferSize; }

bool MmSurfaceMapper::AllocateAperture(MmHostAperture* aperture) {
  if (aperture->multi != nullptr) return AllocateMultiAperture(aperture->multi);
  int32_t slot = kSlotNone;
  MmBlock* newBlock = AllocateApertureBlock(aperture->options, &slot);
  if (newBlock == nullptr) return false;
  if (slot == kSlotNone) {
    FreeApertureBlock(newBlock);
    return false;
  }
  const MmSurfDesc& desc = aperture->options.desc;
  aperture->block = newBlock;
  aperture->slotIndex = slot;
  aperture->mapper = this;
  aperture->released = 1;
  aperture->lockCount = 0;
  aperture->common = common;
  aperture->pitch = desc.GetHostAperturePitch();
  aperture->size = desc.GetHostApertureSize();
  aperture->bytesPerPixel = desc.GetBitsPerPixel() / 8;
  aperture->apertureWord = aperture->options.apertureWord;
  aperture->record = common->memoryRecord;
  return true;
}

void MmSurfaceMapper::ReleaseAperture(MmHostAperture* aperture) {
  if (aperture->multi != nullptr) {
    ReleaseMultiAperture(aperture->multi);
    return;
  }
  if (aperture->block != nullptr) {
    FreeApertureBlock(aperture->block);
    aperture->block = nullptr;
    aperture->slotIndex = kSlotNone;
    aperture->lockCount = 0;
    aperture->released = 1;
  }
}

MmBlock* MmSurfaceMapper::AllocateApertureBlock(const MmHostApertureOpt& options,
                                                int32_t* slotIndex) {
  MmBlock* newBlock = new MmBlock();
  if (newBlock == nullptr) return nullptr;
  uint32_t bus = 0, size = 0, offset = 0, slot = 0;
  LnxDevice* device = IocRequestGet(common->requestSlots, kIocAnyUnit);
  if (device == nullptr ||
      !OsAllocApertureBlockMemory(device, &options, &bus, &size, &offset, &slot)) {
    delete newBlock;
    return nullptr;
  }
  newBlock->busAddress = bus;
  newBlock->size = size;
  newBlock->offset = offset;
  newBlock->cpuAddress = const_cast<uint8_t*>(common->frameBuffer) + offset;
  newBlock->state = MmBlock::kHoldsMemory;
  *slotIndex = static_cast<int32_t>(slot);
  return newBlock;
}

void MmSurfaceMapper::FreeApertureBlock(MmBlock* block) {
  LnxDevice* device = IocRequestGet(common->requestSlots, kIocAnyUnit);
  if (device != nullptr) {
    OsFreeApertureBlockMemory(device, block->busAddress, static_cast<uint32_t>(block->size),
                              static_cast<uint32_t>(block->offset));
  }
  delete block;
}

// ---- EmulMmSurfaceMapper ----------------------------------------------------------------

EmulMmSurfaceMapper::EmulMmSurfaceMapper(uint8_t* ok, CommonData* common)
    : MmSurfaceMapper(ok, common) {
  if (shared != nullptr) baseBits = shared->frameBufferPhys & kApertureBaseBitsMask;
}

void EmulMmSurfaceMapper::WriteSlot(uint32_t index) {
  const uint32_t reg = kRegApertureSlotStride * index;
  HwWriteRegister(common, reg + kRegApertureDesc0, slots[index].desc0);
  HwWriteRegister(common, reg + kRegApertureDesc1, slots[index].desc1);
  HwWriteRegister(common, reg + kRegApertureDesc2, slots[index].desc2);
  HwWriteRegister(common, reg + kRegApertureKey, slots[index].key);
}

// Lowest offset whose window fits before the next live window and inside
// the aperture. Slots are sorted by key, which orders them by offset.
bool EmulMmSurfaceMapper::FindSpace(uint32_t size, uint32_t* offset) const {
  uint64_t limit = GetApertureSize();
  if (limit > kApertureOffsetLimit) limit = kApertureOffsetLimit;
  const uint64_t span = MmApertureSpan(size);
  uint64_t candidate = 0;
  for (uint32_t i = 0; i < slotCount; ++i) {
    if (candidate + span <= spans_[i].offset) break;
    if (spans_[i].end > candidate) candidate = spans_[i].end;
  }
  if (candidate + size > limit) return false;
  *offset = static_cast<uint32_t>(candidate);
  return true;
}

void EmulMmSurfaceMapper::UpdateNextFreeOffset() {
  nextFreeOffset = 0;
  for (uint32_t i = 0; i < slotCount; ++i) {
    if (spans_[i].end > nextFreeOffset) nextFreeOffset = spans_[i].end;
  }
}

MmBlock* EmulMmSurfaceMapper::AllocateApertureBlock(const MmHostApertureOpt& options,
                                                    int32_t* slotIndex) {
  const uint32_t size = options.desc.GetHostApertureSize();
  uint32_t offset = 0;
  if (size == 0 || slotCount == kApertureSlots || !FindSpace(size, &offset)) return nullptr;
  MmBlock* newBlock = new MmBlock();
  if (newBlock == nullptr) return nullptr;

  const uint32_t key = offset | baseBits | kApertureSlotEnable;
  uint32_t position = 0;
  while (position < slotCount && slots[position].key <= key) ++position;
  for (uint32_t i = slotCount; i > position; --i) {
    slots[i] = slots[i - 1];
    spans_[i] = spans_[i - 1];
    WriteSlot(i);
  }
  slots[position] = Slot{options.desc.word0, options.desc.word1, options.desc.word2, key};
  spans_[position] = Span{offset, static_cast<uint32_t>(offset + MmApertureSpan(size))};
  WriteSlot(position);
  ++slotCount;
  UpdateNextFreeOffset();

  *slotIndex = static_cast<int32_t>(position);
  newBlock->offset = offset;
  newBlock->busAddress = offset;
  newBlock->size = size;
  newBlock->cpuAddress = const_cast<uint8_t*>(common->frameBuffer) + offset;
  newBlock->state = MmBlock::kHoldsMemory;
  return newBlock;
}

void EmulMmSurfaceMapper::FreeApertureBlock(MmBlock* block) {
  const uint32_t key = block->busAddress | baseBits | kApertureSlotEnable;
  uint32_t index = 0;
  while (index < slotCount && !(slots[index].key == key && spans_[index].offset == block->busAddress)) {
    ++index;
  }
  if (index < slotCount) {
    for (uint32_t i = index; i + 1 < slotCount; ++i) {
      slots[i] = slots[i + 1];
      spans_[i] = spans_[i + 1];
      WriteSlot(i);
    }
    const uint32_t last = slotCount - 1;
    HwWriteRegister(common, kRegApertureSlotStride * last + kRegApertureKey, 0);
    slots[last] = Slot{};
    spans_[last] = Span{};
    --slotCount;
    UpdateNextFreeOffset();
  }
  delete block;
}

void EmulMmSurfaceMapper::Reset() { UpdateNextFreeOffset(); }
