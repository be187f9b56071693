#include "xdriver/temp_bit.h"

#include <new>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/engine2d_state.h"

static_assert(sizeof(TempBitBuffer) <= kTempBitBufferPlaceSize,
              "a board-wide scratch buffer is built in its place in the common data");

namespace {

// Memory of each buffer type: the memory manager's memory type (heap
// selector), the location option (requested kind) and the descriptor's
// location bits.
struct TypeMemory {
  uint32_t memoryType;
  uint32_t location;
  uint32_t locationBits;
};
constexpr TypeMemory kTypeMemory[] = {
    {17, kSurfAgp, 2},         // 0
    {16, kSurfAgp, 2},         // 1
    {17, kSurfPciLocked, 3},   // 2
    {16, kSurfPciLocked, 3},   // 3
    {19, kSurfLocal, 0},       // 4
    {21, kSurfLocal, 0},       // 5
    {20, kSurfLocal, 0},       // 6
};

bool PerDevice(TempBitType type) {
  return type == kTempBitLocalFirst || type == kTempBitLocalSecond || type == kTempBitLocalThird;
}

// Bus-master flags that choose the scratch memory.
constexpr uint32_t kBusFlagSyncWrite = 0x2;
constexpr uint32_t kBusFlagPciLockedA = 0x4;
constexpr uint32_t kBusFlagAgpMemory = 0x10;
constexpr uint32_t kBusFlagAgpMask = 0x30;
constexpr uint32_t kBusFlagLocalPreferred = 0x8000;
constexpr uint32_t kBusFlagPciLockedFirst = 0x100000;
constexpr uint32_t kBusFlagPciLockedThird = 0x200000;

constexpr uint32_t kSmallScratch = 0x20000;  // pixels
constexpr uint32_t kLargeScratch = 0x80000;

// The view of a system-memory buffer: rows of 4096 pixels.
constexpr uint32_t kSystemViewPitch = 4096;
constexpr uint32_t kLocalViewLines = 8192;
constexpr uint32_t kLargeLocalBuffer = 0x81FFF;

uint32_t Log2(uint32_t value) {
  uint32_t log = 0;
  while ((1u << (log + 1)) <= value) ++log;
  return log;
}

}  // namespace

// ---- TempBitBuffer ---------------------------------------------------------------------------

TempBitBuffer::TempBitBuffer(PDEV* pdev, uint32_t pixels, TempBitType t, uint8_t* ok) : type(t) {
  *ok = 0;
  if (t > kTempBitNone) return;
  prim = pdev->primInt;
  memoryId = pdev->data2d.memoryId;
  size = pixels * pdev->mode.bytesPerPixel;
  const TypeMemory memory = t == kTempBitNone ? TypeMemory{0, kSurfNone, 0} : kTypeMemory[t];
  options.desc.word0 = memory.locationBits;
  options.desc.word1 = MmSurfDesc::MakeWord1(32, 0, pdev->mode.pixelFormat);
  options.desc.word2 = MmSurfDesc::MakeWord2(1, 1);
  options.desc.size = size;
  options.desc.revision = pdev->revisionBits;
  options.heapSelector = memory.memoryType;
  options.requestedKind = memory.location;
  options.physicalSize = options.desc.GetPhysicalMemSize(true);
  options.alignment = options.desc.GetRequiredAlignment(true);
  options.word28 = memoryId;
  *ok = 1;
}

TempBitBuffer::~TempBitBuffer() { size = 0; }

uint32_t TempBitBuffer::AllocSurfaceGen(uint32_t n) {
  uint32_t start = cursor;
  cursor += n;
  if (cursor > size || cursor < start || used_ == kTempBitRanges) {
    // Start again at 0 in the other table; the ranges of this one are what
    // the next writes must wait for.
    waitFrom_ = 0;
    waitCount_ = used_;
    table_ ^= 1;
    used_ = 0;
    start = 0;
    cursor = n;
  }
  const Range* waiting = tables[table_ ^ 1];
  while (waitFrom_ < waitCount_ && waiting[waitFrom_].end < cursor) {
    waitTag = waiting[waitFrom_].tag;
    ++waitFrom_;
  }
  tables[table_][used_++] = Range{start, 0};
  allocStart = start;
  return start;
}

void TempBitBuffer::SetRangeTag(uint32_t tag) {
  if (used_ != 0) tables[table_][used_ - 1].tag = tag;
}

void TempBitBuffer::AlignCursor(uint32_t granule) { cursor = (cursor + granule - 1) & ~(granule - 1); }

// ---- TempBit ----------------------------------------------------------------------------------

TempBit::TempBit(PDEV* d, TempBitBuffer* b, uint8_t* ok)
    : pdev(d), prim(d->primInt), common(d->common), buffer(b) {
  const uint32_t bytes = d->mode.bytesPerPixel;
  pixelShift = bytes >= 4 ? 2 : (bytes == 2 ? 1 : 0);
  *ok = (common != nullptr && prim != nullptr) ? 1 : 0;
}

TempBit::~TempBit() {
  DropViewAperture();
  if (master != nullptr) DetachCloneFromMaster();
  if (apertureView.master != nullptr) apertureView.DetachCloneFromMaster();
  if (buffer != nullptr && PerDevice(buffer->type)) {
    buffer->Disable(pdev->surfaceManager);
    delete buffer;
  }
  buffer = nullptr;
}

bool TempBit::IsSystemMemory() const { return buffer->LocationBits() != 0; }

bool TempBit::Enable(MmSurfaceManager* m) {
  if (buffer->type == kTempBitNone) return true;
  if (!buffer->Enable(m)) return false;
  if (master == nullptr) buffer->CreateClone(this);
  if (apertureView.master == nullptr) buffer->CreateClone(&apertureView);
  Surface2d::Enable(m);
  tilePitch = 0;
  tilePitchLog = 0;
  lines = 0;
  minPitch = 64;
  minPitchLog = 6;
  MmSurfDesc view;
  if (IsSystemMemory()) {
    view = buffer->options.desc;
    view.word1 = MmSurfDesc::MakeWord1(kSystemViewPitch, 1, 0);
    view.word2 = MmSurfDesc::MakeWord2(buffer->size >> 12, view.Depth());
    sizeWords[0] = 16;
    sizeWords[1] = 2048;
  } else {
    view = apertureView.options.desc;
    view.word1 = Mode2dLayout::Set(view.word1, k2dLayoutBitmap);
    view.word2 = MmSurfDesc::MakeWord2(kLocalViewLines, view.Depth());
    if (buffer->size > kLargeLocalBuffer) {
      while (minPitch < (buffer->size >> 13)) {
        minPitch <<= 1;
        ++minPitchLog;
      }
    }
    sizeWords[0] = 64;
  }
  viewMode = Mode2dFormat::Set(view.word1, pdev->mode.pixelFormat);
  viewDimensions = view.word2;
  if (!IsSystemMemory()) {
    MmSurfDesc desc = view;
    desc.word0 = buffer->busWord;
    desc.word1 = viewMode;
    desc.word2 = viewDimensions;
    if (viewAperture == nullptr) {
      viewAperture = new MmHostAperture(buffer->lockMapper, buffer->options.apertureWord, desc);
    } else {
      viewAperture->options.desc = desc;
    }
  }
  return true;
}

void TempBit::DropViewAperture() {
  if (viewAperture == nullptr) return;
  if (viewAperture->mapper != nullptr) viewAperture->mapper->ReleaseAperture(viewAperture);
  delete viewAperture;
  viewAperture = nullptr;
}

void TempBit::Disable(MmSurfaceManager* m) {
  DropViewAperture();
  if (master != nullptr) DetachCloneFromMaster();
  if (apertureView.master != nullptr) apertureView.DetachCloneFromMaster();
  enabled = 0;
  tempBit = nullptr;
  if (buffer->type != kTempBitNone && !IsSystemMemory()) buffer->Disable(m);
}

void TempBit::OnAssertMode(PDEV* d, uint8_t enable) {
  if (enable) {
    Enable(d->surfaceManager);
  } else {
    Disable(d->surfaceManager);
  }
}

void TempBit::SetSurfModeTiled(uint32_t width, uint32_t newLines) {
  uint32_t pitch = minPitch;
  while (pitch < width) pitch <<= 1;
  if (pitch == tilePitch && newLines == lines) return;
  tilePitch = pitch;
  tilePitchLog = Log2(pitch);
  lines = newLines;
  pitchBytes = pitch << pixelShift;
  const uint32_t product = newLines * pitch;
  if (!IsSystemMemory()) {
    const uint32_t code = newLines == 1 ? 0x10 : (newLines == 2 ? 0x20 : 0x30);
    viewMode = Mode2dFormat::Set(Mode2dPitch::Set(viewMode, pitch), code);
    if (viewAperture != nullptr) {
      // Remapped with the new layout at its next lock.
      if (viewAperture->mapper != nullptr) viewAperture->mapper->ReleaseAperture(viewAperture);
      viewAperture->options.desc.word1 = viewMode;
    }
    sizeWords[1] = sizeWords[0] * product;
  }
}

LRECT TempBit::GetSurfaceRect() const {
  const uint32_t start = buffer->allocStart;
  const uint32_t end = buffer->cursor;
  if (IsSystemMemory()) {
    return LRECT{0, static_cast<int32_t>(start >> 14), 4096,
                 static_cast<int32_t>((end / 4 + 4095) >> 12)};
  }
  const uint32_t sp = start >> pixelShift;
  const uint32_t ep = end >> pixelShift;
  if (Mode2dLayout::Get(viewMode) == k2dLayoutBitmap) {
    LRECT r{0, static_cast<int32_t>((sp >> 17) * 32), 4096,
            static_cast<int32_t>(((ep + 0x1FFFF) >> 17) * 32)};
    if ((sp >> 17) == (ep >> 17)) {
      r.left = static_cast<int32_t>((sp >> 5) & 0xFFF);
      const uint32_t right = (ep >> 5) & 0xFFF;
      r.right = right == 0 ? 4096 : static_cast<int32_t>(right);
    }
    return r;
  }
  return LRECT{0, static_cast<int32_t>((sp >> 12) & ~1u), 4096,
               static_cast<int32_t>(((ep + 8191) & ~0x1FFFu) >> 12)};
}

uint8_t* TempBit::OpenSurfaceWrite(uint32_t) {
  SharedLockedData_t* shared = pdev->sharedLocked;
  if (buffer->allocStart == 0) {
    // The buffer wrapped: the engine is brought back to a known control
    // word, with a sync tag when the bus asks for one.
    if (shared->busFlags & kBusFlagSyncWrite) {
      const uint32_t tag = Sync2dNewTag(shared);
      BmBatch batch(prim);
      if (uint32_t* at = batch.Put(5)) {
        at[0] = PacketHeader(k2dIdxControl, k2dIdxSyncZero, k2dIdxSyncTag, k2dIdxSyncTag);
        at[1] = k2dControlIdle;
        at[2] = 0;
        at[3] = tag | Sync2dStreamBit(prim);
        at[4] = tag;
      }
      if (uint32_t* at = batch.Put(2)) {
        at[0] = PacketHeader(k2dIdxControl);
        at[1] = shared->last1300Value;
      }
    } else if (uint32_t* at = prim->Reserve(3)) {
      at[0] = PacketHeader(k2dIdxControl, k2dIdxControl);
      at[1] = k2dControlIdle;
      at[2] = shared->last1300Value;
    }
  }
  if (LockBuffer() == nullptr) return nullptr;
  if (!Sync2dWaitForTag(common, buffer->waitTag, "scratch buffer")) {
    CloseSurfaceWrite();
    return nullptr;
  }
  return cpu + buffer->allocStart;
}

uint8_t* TempBit::OpenSurfaceRead(uint32_t tag) {
  if (LockBuffer() == nullptr) return nullptr;
  if (!Sync2dWaitForTag(common, tag, "scratch buffer read")) {
    CloseSurfaceWrite();
    return nullptr;
  }
  return cpu + buffer->allocStart;
}

uint8_t* TempBit::LockBuffer() {
  if (IsSystemMemory()) {
    cpu = LockSurfaceCpu(buffer);
  } else if (viewAperture == nullptr || !viewAperture->Lock(nullptr, &cpu)) {
    cpu = nullptr;
  }
  return cpu;
}

void TempBit::CloseSurfaceWrite() {
  if (cpu == nullptr) return;
  if (IsSystemMemory()) {
    ReleaseSurfaceCpu(buffer);
  } else if (viewAperture != nullptr) {
    viewAperture->Unlock();
  }
  cpu = nullptr;
}

TempBit* TempBitFor(PDEV* pdev, DeviceBitmap* bitmap) {
  TempBit* first = pdev->data2d.tempBits[0];
  if (bitmap == nullptr) return first;
  if (bitmap->tempBit != nullptr) return bitmap->tempBit;
  TempBit* second = pdev->data2d.tempBits[1];
  TempBit* chosen = first;
  if (second != nullptr && second->enabled &&
      ((second->addressWord ^ bitmap->addressWord) & k2dAddressBankB) != 0) {
    chosen = second;
  }
  bitmap->tempBit = chosen;
  return chosen;
}

// ---- Row 16 ---------------------------------------------------------------------------------

void ChooseTempBits(uint32_t controller, uint32_t f, uint32_t bankA, uint32_t bankB,
                    TempBitChoice out[3]) {
  for (unsigned i = 0; i < 3; ++i) out[i] = TempBitChoice{kTempBitNone, 0};
  if (controller != 0) {
    out[0] = {kTempBitLocalSecond, kSmallScratch};
    return;
  }
  if (((f & kBusFlagLocalPreferred) || !(f & kBusFlagAgpMemory)) && bankA != 0 && bankB != 0) {
    out[0] = {kTempBitLocalFirst, kSmallScratch};
    out[1] = {kTempBitLocalSecond, kSmallScratch};
  } else if (f & kBusFlagAgpMemory) {
    out[0] = {kTempBitAgp, kLargeScratch};
  } else if ((f & kBusFlagPciLockedFirst) && (f & kBusFlagPciLockedA)) {
    out[0] = {kTempBitAgpSecond, kLargeScratch};
  }
  if ((f & kBusFlagPciLockedThird) && (f & kBusFlagPciLockedA)) {
    out[2] = {kTempBitPciSecond, kLargeScratch};
  } else if ((f & kBusFlagAgpMask) == kBusFlagAgpMemory) {
    out[2] = {kTempBitPci, kSmallScratch};
  }
}

namespace {

TempBitBuffer* BoardPlace(CommonData* common, unsigned slot) {
  return reinterpret_cast<TempBitBuffer*>(common->tempBitBufferPlaces[slot]);
}

void DestroyBoardPlaces(PDEV* pdev) {
  CommonData* common = pdev->common;
  for (unsigned slot = 0; slot < kTempBitSlots; ++slot) {
    if (!common->tempBitBufferBuilt[slot]) continue;
    TempBitBuffer* buffer = BoardPlace(common, slot);
    buffer->Disable(pdev->surfaceManager);
    buffer->~TempBitBuffer();
    common->tempBitBufferBuilt[slot] = 0;
  }
}

}  // namespace

bool InitTempBit(PDEV* pdev) {
  CommonData* common = pdev->common;
  SharedLockedData_t* shared = pdev->sharedLocked;
  TempBitChoice choice[3];
  ChooseTempBits(pdev->mode.controller, shared->busFlags, shared->frameBufferHalf[0],
                 shared->frameBufferHalf[1], choice);
  for (unsigned slot = 0; slot < kTempBitSlots; ++slot) {
    uint8_t ok = 0;
    TempBitBuffer* buffer = nullptr;
    if (PerDevice(choice[slot].type)) {
      buffer = new TempBitBuffer(pdev, choice[slot].pixels, choice[slot].type, &ok);
      if (buffer != nullptr && !ok) {
        delete buffer;
        buffer = nullptr;
      }
    } else {
      // The board's buffer of this slot, built by the first device that needs it.
      if (!common->tempBitBufferBuilt[slot]) {
        ::new (common->tempBitBufferPlaces[slot])
            TempBitBuffer(pdev, choice[slot].pixels, choice[slot].type, &ok);
        if (ok) {
          common->tempBitBufferBuilt[slot] = 1;
        } else {
          BoardPlace(common, slot)->~TempBitBuffer();
        }
      }
      if (common->tempBitBufferBuilt[slot]) buffer = BoardPlace(common, slot);
    }
    TempBit* bit = buffer != nullptr ? new TempBit(pdev, buffer, &ok) : nullptr;
    if (bit == nullptr || !ok) {
      if (bit != nullptr) {
        delete bit;
      } else if (buffer != nullptr && PerDevice(buffer->type)) {
        delete buffer;
      }
      CleanupTempBit(pdev);
      return false;
    }
    pdev->data2d.tempBits[slot] = bit;
  }
  return true;
}

void CleanupTempBit(PDEV* pdev) {
  for (TempBit*& bit : pdev->data2d.tempBits) {
    delete bit;
    bit = nullptr;
  }
  if (pdev->IsFirstForBoard()) DestroyBoardPlaces(pdev);
}
