#include "xdriver/pointer.h"

#include <string.h>

#include "core/dbg_output.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "xdriver/engine2d_state.h"

namespace {

// Where the cursor buffers are placed: the first heap of the first memory
// bank, reached by the processor through an aperture. In local-DMA mode the
// primary command buffer fills that heap, so they go to the rest of the
// first bank instead, which the processor reaches through the frame-buffer
// mapping (an aperture window onto a plain buffer would reach over the
// command buffer's part of the mapping).
constexpr uint32_t kCursorMemoryType = kHeapSelFirst;
constexpr uint32_t kCursorLocation = kSurfLocalAperture;
constexpr uint32_t kCursorMemoryTypeLocalDma = kHeapSelSecond;
constexpr uint32_t kCursorLocationLocalDma = kSurfLocalMapped;
constexpr uint32_t kCursorPitchField = 32;
constexpr uint32_t kCursorLayoutLinear = 0;
constexpr uint32_t kCursorOptionFlags = 1;
constexpr uint32_t kCursorApertureWord = 1;
constexpr unsigned kFormatShift = 24;

}  // namespace

// ---- HardPointerBuffer -----------------------------------------------------------------------

HardPointerBuffer::HardPointerBuffer(PDEV* pdev, uint32_t n, PointerType type, uint8_t* ok) {
  *ok = 0;
  sharedLocked = pdev->sharedLocked;
  if (n == 0 || n > UINT32_MAX / sizeof(HardPointerEntry) - 1) return;
  entries = static_cast<HardPointerEntry*>(memAlloc(n * sizeof(HardPointerEntry)));
  if (entries == nullptr) return;
  memset(entries, 0, n * sizeof(HardPointerEntry));
  count = n;
  const bool two = type == kTwoColour;
  slotSize = two ? kTwoColourSlotBytes : kSixteenColourSlotBytes;
  const uint32_t format = two ? kTwoColourFormat : kSixteenColourFormat;
  formatWord = format << kFormatShift;
  for (uint32_t i = 0; i < count; ++i) entries[i].offset = i * slotSize;
  spareOffset = count * slotSize;

  memoryId = pdev->data2d.memoryId;
  options.desc.word0 = 0;
  options.desc.word1 = MmSurfDesc::MakeWord1(kCursorPitchField, kCursorLayoutLinear, format);
  options.desc.word2 = MmSurfDesc::MakeWord2(1, 1);
  options.desc.size = (count + 1) * slotSize;
  options.desc.revision = pdev->revisionBits;
  const bool localDma = sharedLocked != nullptr && sharedLocked->dmaMode == kDmaModeLocal;
  options.heapSelector = localDma ? kCursorMemoryTypeLocalDma : kCursorMemoryType;
  options.requestedKind = localDma ? kCursorLocationLocalDma : kCursorLocation;
  options.physicalSize = options.desc.GetPhysicalMemSize(true);
  options.alignment = options.desc.GetRequiredAlignment(true);
  options.word28 = memoryId;
  options.word8 = 0;
  options.flags = kCursorOptionFlags;
  options.apertureWord = kCursorApertureWord;
  *ok = 1;
}

HardPointerBuffer::~HardPointerBuffer() {
  if (entries != nullptr) memFree(entries);
  entries = nullptr;
}

void HardPointerBuffer::InvalidateCache() {
  for (uint32_t i = 0; i < count; ++i) {
    entries[i].key1 = 0;
    entries[i].key2 = 0;
    entries[i].valid = 0;
    entries[i].value = kInvalidValue;
  }
  spareValue = kInvalidValue;
}

bool HardPointerBuffer::Enable(MmSurfaceManager* manager) {
  InvalidateCache();
  const bool placedNow = block == nullptr;
  if (!Surface2d::Enable(manager)) return false;
  // The engine may still read an image of the memory's previous owner (or
  // of the buffer's own, placed before). When it does not finish in time,
  // memory just placed is set aside until the device goes, so that neither
  // the cursor nor anyone else writes it; the buffer keeps memory of its
  // own with the tag still pending.
  if (!WaitFor("cursor buffer: DMA", kEngineWaitMicroseconds, [&] { return !IsBusyDMA(); }) ||
      !WaitFor("cursor buffer: drawing", kEngineWaitMicroseconds, [&] {
        uint32_t tag = kSyncTagOfBlock;
        return !IsBusyDWG(&tag, false);
      })) {
    if (placedNow && manager != nullptr) {
      manager->SetAsideSurface(this);
      enabled = 0;
      addressWord = 0;
    }
    return false;
  }
  if (block != nullptr) block->drawSyncTag = 0;
  // The local-DMA manager gives blocks no processor address; the first bank
  // shows in the frame-buffer mapping at its local address.
  if (placedKind == kSurfLocalMapped && cpuAddress == nullptr && block != nullptr &&
      manager != nullptr && manager->frameBufferCpuBase != nullptr)
    cpuAddress = manager->frameBufferCpuBase + block->offset;
  return true;
}

HardPointerEntry* HardPointerBuffer::GetSurface(uint32_t key1, uint32_t key2, uint8_t* hit) {
  if (key1 != 0 && key2 != 0) {
    for (uint32_t i = 0; i < count; ++i) {
      if (entries[i].key1 == key1 && entries[i].key2 == key2) {
        *hit = 1;
        return &entries[i];
      }
    }
  }
  *hit = 0;
  HardPointerEntry* entry = &entries[nextReplace];
  nextReplace = nextReplace + 1 == count ? 0 : nextReplace + 1;
  // The slot last handed out for this entry becomes the spare.
  const uint32_t offset = entry->offset;
  const uint32_t value = entry->value;
  entry->offset = spareOffset;
  entry->value = spareValue;
  spareOffset = offset;
  spareValue = value;
  return entry;
}

// ---- Pointer -----------------------------------------------------------------------------------

bool Pointer::OnInit(PDEV* device) {
  pdev = device;
  CommonData* common = device->common;
  if (device->IsFirstForBoard()) {
    for (unsigned i = 0; i < kPointerControllers; ++i) {
      uint8_t ok = 0;
      HardPointerBuffer* two =
          new HardPointerBuffer(device, kPointerSlotsPerBuffer, HardPointerBuffer::kTwoColour, &ok);
      if (two != nullptr && !ok) {
        delete two;
        two = nullptr;
      }
      common->twoColourCursors[i] = two;
      ok = 0;
      HardPointerBuffer* sixteen = new HardPointerBuffer(device, kPointerSlotsPerBuffer,
                                                         HardPointerBuffer::kSixteenColour, &ok);
      if (sixteen != nullptr && !ok) {
        delete sixteen;
        sixteen = nullptr;
      }
      common->sixteenColourCursors[i] = sixteen;
    }
  }
  for (unsigned i = 0; i < kPointerControllers; ++i) {
    twoColour[i] = common->twoColourCursors[i];
    sixteenColour[i] = common->sixteenColourCursors[i];
    if (twoColour[i] == nullptr || sixteenColour[i] == nullptr) {
      // A failed row gets no cleanup: the first device gives back what it
      // made here.
      OnCleanup(device);
      return false;
    }
  }
  return true;
}

void Pointer::OnCleanup(PDEV* device) {
  for (unsigned i = 0; i < kPointerControllers; ++i) {
    twoColour[i] = nullptr;
    sixteenColour[i] = nullptr;
  }
  if (!device->IsFirstForBoard()) return;
  CommonData* common = device->common;
  for (int i = kPointerControllers - 1; i >= 0; --i) {
    delete common->sixteenColourCursors[i];
    delete common->twoColourCursors[i];
    common->sixteenColourCursors[i] = nullptr;
    common->twoColourCursors[i] = nullptr;
  }
}

bool InitPointer(PDEV* pdev) { return pdev->pointer.OnInit(pdev); }

void CleanupPointer(PDEV* pdev) { pdev->pointer.OnCleanup(pdev); }
