#include "kernel/3d/targets/render_target_state.h"

#include <math.h>
#include <string.h>

#include <initializer_list>

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/regs/dma.h"
#include "core/mm_block.h"
#include "core/shared_word.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/target_binding.h"
#include "kernel/3d/targets/target_tables.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "kernel/vidmem/surface_manager.h"
#include "kernel/vidmem/surface_mapper.h"

namespace {

constexpr uint32_t kBufferFormat = 0x10;
constexpr uint32_t kPlacementMain0 = 3;
constexpr uint32_t kSurfaceAsksForBuffer = 0x8;
constexpr uint32_t kSurfaceAltBuffer = 0x4;
constexpr uint32_t kMemoryAlwaysBit = 16;
constexpr uint32_t kMemorySizedBit = 64;
constexpr double kFactorArea = 786432.0;
constexpr double kFactorDiagonal = 1280.0;
constexpr uint32_t kMemoryKindTargetA = 3;
constexpr uint32_t kMemoryKindTargetB = 4;
constexpr uint32_t kSizeWordLowBits = 0x3FFF;

WorkBufferSlot* Slots(CommonData* common) {
  return reinterpret_cast<WorkBufferSlot*>(common->renderTargetSlots);
}
static_assert(sizeof(CommonData::renderTargetSlots) == kRenderTargetSlots * sizeof(WorkBufferSlot));

// The slot of a render-context handle; handles grow without bound, and
// those past the 16 slots have none.
WorkBufferSlot* SlotOf(CommonData* common, uint32_t handle) {
  return handle < kRenderTargetSlots ? &Slots(common)[handle] : nullptr;
}

void Hand(BmSecondaryInt* stream) {
  if (stream != nullptr) stream->ExecutePending();
}

// A packet into the stream, when there is one.
template <class... W>
bool WriteGroup(BmSecondaryInt* stream, W... words) {
  return stream != nullptr && WritePacket(stream, words...);
}

// The operation tag 0x207 without V: the tag that precedes a mode change
// while sync tags are on.
void WriteModeTag(CommonData* common, BmSecondaryInt* stream) {
  const uint32_t tag = TakeNextTag(common->sharedLocked);
  WriteGroup(stream, OperationTagHeader(), 0x207u, tag | kTagProgress, tag);
}

// The operation tag of the operation, with V: answers the tag.
uint32_t WriteOperationTag(CommonData* common, BmSecondaryInt* stream, uint32_t operation) {
  const uint32_t tag = TakeNextTag(common->sharedLocked);
  const TagValue base = ReadTagValue(common->sharedLocked);
  if (stream != nullptr) {
    StreamSink sink{stream};
    PutOperationTag(sink, operation, tag, base);
  }
  ControlWordOverwritten(common);
  return tag;
}

// Register 788 (792, the status register, on the wide chips) after the engine let go of memory
// the processor reads or writes.
void FlushEngineCaches(CommonData* common) {
  KernelWriteRegister(common, (common->revisionBits & kCapsWide) != 0 ? kRegEngineStatus : kRegEngineFlush, 1);
}

void PrepareLinear(MmSurface* s, CommonData* common, uint32_t size) {
  s->shared = common->sharedLocked;
  s->options.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, kBufferFormat);
  s->options.desc.word2 = MmSurfDesc::MakeWord2(1, 1);
  s->options.desc.revision = common->revisionBits;
  s->options.desc.size = size;
  s->options.physicalSize = s->options.desc.GetPhysicalMemSize(false);
  s->options.alignment = s->options.desc.GetRequiredAlignment(false);
  s->options.requestedKind = kSurfLocal;
  s->options.heapSelector = kPlacementMain0;
}

void FlushOwner(CommonData* common) {
  if (common->engineOwner3d != nullptr) common->engineOwner3d->EmitFlushSequence(false);
}

}  // namespace

TargetSurfaceMapping::TargetSurfaceMapping(CommonData* common, MmSurface* surface, uint32_t size) {
  if (common == nullptr || surface == nullptr || surface->block == nullptr) return;
  cpu = surface->block->cpuAddress;
  if (cpu == nullptr && common->memoryManager != nullptr)
    cpu = common->memoryManager->FrameBufferWindowAddress(surface->block->busAddress, size);
  if (cpu != nullptr || common->memoryRecord == nullptr || common->memoryRecord->mapper == nullptr) return;
  MmHostApertureDesc window = {};
  window.desc = surface->options.desc;  // its first word is the surface's device address now
  aperture_ = new MmHostAperture(window);
  if (aperture_ == nullptr) return;
  aperture_->mapper = common->memoryRecord->mapper;
  aperture_->common = common;
  if (!aperture_->Lock(nullptr, &cpu)) {
    cpu = nullptr;
    delete aperture_;
    aperture_ = nullptr;
  }
}

TargetSurfaceMapping::~TargetSurfaceMapping() {
  if (aperture_ == nullptr) return;
  aperture_->Unlock();
  delete aperture_;
}

TargetBoard3d* TargetBoard(CommonData* common) {
  if (common == nullptr) return nullptr;
  if (common->targetBoard3d == nullptr) common->targetBoard3d = new TargetBoard3d();
  return common->targetBoard3d;
}

// ---- The work buffer -----------------------------------------------------------------------

bool TargetWorkBuffer::CreateBuffer(CommonData* common, uint32_t size) {
  if (common->memoryManager == nullptr) return false;
  options = MmSurfAllocOpt();
  PrepareLinear(this, common, size);
  placed_ = common->memoryManager->CreateSurface(this);
  return placed_;
}

void TargetWorkBuffer::DestroyBuffer(CommonData* common) {
  if (!placed_) return;
  if (common != nullptr && common->memoryManager != nullptr) common->memoryManager->DestroySurface(this);
  placed_ = false;
}

RenderTargetState::RenderTargetState() = default;

RenderTargetState::~RenderTargetState() {
  for (Surface3d** s : {&colourRequested, &colourCurrent, &depthRequested, &depthCurrent}) {
    if (*s != nullptr && (*s)->bindingOwner == context) (*s)->bindingOwner = nullptr;
    *s = nullptr;
  }
  for (TargetClearRecord* record : {&colourClear, &depthClear}) *record = TargetClearRecord{};
  if (common != nullptr) {
    if (kind == kWorkBufferOwn || kind == kWorkBufferOwnNoKey || kind == kWorkBufferShared)
      ReleaseTargetMemory(this, true);
    if (common->targetBoard3d != nullptr && common->targetBoard3d->drewLast == this)
      common->targetBoard3d->drewLast = nullptr;
  }
  DestroyBuffer(common);
}

void RenderTargetState::Attach(CommonData* board, BmSecondaryInt* commandStream, uint32_t contextHandle) {
  common = board;
  stream = commandStream;
  handle = contextHandle;
}

bool RenderTargetState::Bind(RenderContext3d* renderContext) {
  if (renderContext == nullptr || renderContext->common == nullptr) return false;
  context = renderContext;
  for (TargetClearRecord* record : {&colourClear, &depthClear}) {
    record->context = renderContext;
    record->state = this;
  }
  Attach(renderContext->common, renderContext->secondaryStream != nullptr ? renderContext->secondaryStream
                                                                          : renderContext->common->secondaryStream,
         renderContext->handle);
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return false;
  const double bytes = static_cast<double>(board->switches.sizeMiB) * kMiB;
  requestedSize = isfinite(bytes) && bytes > 0 && bytes < 4294967295.0 ? static_cast<uint32_t>(bytes) : 0;
  return CreateReadbackSurface(common);
}

bool CreateReadbackSurface(CommonData* common) {
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return false;
  if (board->readback == nullptr) {
    MmSurface* s = new MmSurface();
    if (s == nullptr) return false;
    PrepareLinear(s, common, kReadbackSize);
    if (common->memoryManager == nullptr || !common->memoryManager->CreateSurface(s)) {
      delete s;
      return false;
    }
    TargetSurfaceMapping map(common, s, kReadbackSize);
    if (map.cpu != nullptr) memset(map.cpu, 0, kReadbackSize);
    board->readback = s;
  }
  return true;
}

double WorkBufferFactor(uint32_t width, uint32_t height, uint32_t bits) {
  if ((bits & kMemorySizedBit) == 0) return 1.0;
  const double w = width;
  const double h = height;
  const double byArea = w * h / kFactorArea;
  const double byDiagonal = sqrt(w * w + h * h) / kFactorDiagonal;
  return byArea > byDiagonal ? byArea : byDiagonal;
}

bool ReserveTargetMemory(RenderTargetState* state, Surface3d* surface, uintptr_t key) {
  if (state == nullptr || state->common == nullptr || surface == nullptr) return false;
  CommonData* common = state->common;
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return false;
  const uint32_t bits = board->switches.memoryBits;
  const uint32_t surfaceFlags = surface->flagsWord;
  if ((surfaceFlags & kSurfaceAsksForBuffer) == 0 && (bits & kMemoryAlwaysBit) == 0) return false;
  const bool allowed = (bits & 3) == 3 || ((surfaceFlags & kSurfaceAltBuffer) != 0 && ((bits >> 1) & 7) == 2);
  if (!allowed) return false;

  // Sizes in 64 bits; a factor or size that is not a finite number takes
  // no buffer.
  const double factor = WorkBufferFactor(surface->width, surface->height, bits);
  const double wanted = factor * static_cast<double>(board->switches.sizeMiB) * kMiB;
  if (!isfinite(factor) || !isfinite(wanted) || wanted < 0) return false;

  // A buffer the state owns already goes before the new one is placed.
  if (state->kind == kWorkBufferOwn || state->kind == kWorkBufferOwnNoKey) ReleaseTargetMemory(state, true);

  WorkBufferSlot* slot = SlotOf(common, state->handle);
  if (key != 0 && state->kind == kWorkBufferNone) {
    for (uint32_t i = 0; i < kRenderTargetSlots; ++i) {
      WorkBufferSlot& other = Slots(common)[i];
      if (other.kind == kWorkBufferOwn && other.key == key && other.owner != state) {
        state->kind = kWorkBufferShared;
        state->key = key;
        state->requestedSize = other.size;
        // The sharer programs the owner's buffer.
        if (other.owner != nullptr) {
          memcpy(state->addressWords, other.owner->addressWords, sizeof state->addressWords);
          state->sizeWord = other.owner->sizeWord;
        }
        if (slot != nullptr) *slot = {kWorkBufferShared, state, other.size, key};
        return true;
      }
    }
  }
  const uint32_t kind = key != 0 ? kWorkBufferOwn : kWorkBufferOwnNoKey;

  uint64_t clamp = kWorkBufferClampFirst;
  if ((common->revisionBits & kCapsWide) != 0)
    clamp = kWorkBufferClampWide;
  else if ((common->revisionBits & kCapsLater) != 0)
    clamp = kWorkBufferClampLater;
  uint64_t size = wanted >= static_cast<double>(clamp) ? clamp : static_cast<uint64_t>(wanted);
  size &= ~uint64_t{255};
  if (size == 0) return false;

  for (;;) {
    if (state->CreateBuffer(common, static_cast<uint32_t>(size))) break;
    if (size < uint64_t{kWorkBufferMinimum} + kWorkBufferStep) {
      state->kind = kWorkBufferFailed;
      return false;
    }
    size -= kWorkBufferStep;
  }

  // The engine may still read memory this block held before: wait until it
  // is idle, flush its caches, then clear the buffer.
  if (!KernelWait("work buffer idle", [&] { return !state->IsBusy(); })) {
    state->DestroyBuffer(common);
    state->kind = kWorkBufferFailed;
    return false;
  }
  FlushEngineCaches(common);
  {
    TargetSurfaceMapping map(common, state, static_cast<uint32_t>(size));
    if (map.cpu == nullptr) {
      state->DestroyBuffer(common);
      state->kind = kWorkBufferFailed;
      return false;
    }
    memset(map.cpu, 0, size);
  }
  state->sizeWord = (state->sizeWord & kSizeWordLowBits) |
                    (static_cast<uint32_t>((size & ~uint64_t{255}) * 64) & ~kSizeWordLowBits);
  state->kind = kind;
  state->key = key;
  state->requestedSize = static_cast<uint32_t>(size);
  const uint32_t bus = state->block != nullptr ? static_cast<uint32_t>(state->block->busAddress) : 0;
  for (uint32_t i = 0; i < 6; ++i) state->addressWords[i] = bus;
  if (slot != nullptr) *slot = {kind, state, static_cast<uint32_t>(size), key};
  return true;
}

void ReleaseTargetMemory(RenderTargetState* state, bool clearSlot) {
  if (state == nullptr) return;
  CommonData* common = state->common;
  if (state->kind == kWorkBufferOwn || state->kind == kWorkBufferOwnNoKey) state->DestroyBuffer(common);
  if (clearSlot && common != nullptr) {
    WorkBufferSlot* slot = SlotOf(common, state->handle);
    if (slot != nullptr && slot->owner == state) *slot = {};
  }
  if (state->kind != kWorkBufferNone) state->kind = kWorkBufferReleased;
}

// ---- Register 0xC0 -------------------------------------------------------------------------

void WriteEngineModeWord(CommonData* common, BmSecondaryInt* stream, bool on, bool alternate) {
  if (common == nullptr) return;
  EngineModeCache& cache = EngineMode3d();
  const bool later = (common->revisionBits & kCapsLater) != 0;
  if (EngineModeIs(later, on, alternate)) return;
  uint32_t mode;
  if (later) {
    mode = EngineModeWord(on, alternate);
    cache.modeWord = mode;
    if (cache.syncTagsOn != 0) WriteModeTag(common, stream);
  } else {
    mode = EngineModeWord(on, false);
  }
  const TagValue base = ReadTagValue(common->sharedLocked);
  WriteGroup(stream, PacketHeader(k2dIdxControl, base.index), mode, base.word);
  Hand(stream);
  ControlWordOverwritten(common);
  cache.on = on ? 1 : 0;
}

void SetEngineModeFlag(bool on) {
  EngineModeCache& cache = EngineMode3d();
  cache.on = on ? 1 : 0;
  cache.modeWord = on ? cache.modeWord | kEngineModeOnBit : cache.modeWord & ~kEngineModeOnBit;
}

void WriteClearModeWord(CommonData* common, BmSecondaryInt* stream, bool force) {
  if (common == nullptr) return;
  EngineModeCache& cache = EngineMode3d();
  const uint32_t mode = cache.syncTagsOn != 0 ? kClearModeTags : kClearModeNoTags;
  if (!force && (cache.clearWord & kEngineModeOnBit) == (mode & kEngineModeOnBit) && cache.clearFlag != 0) return;
  if (cache.syncTagsOn != 0) WriteModeTag(common, stream);
  const TagValue base = ReadTagValue(common->sharedLocked);
  WriteGroup(stream, PacketHeader(k2dIdxControl, base.index), mode, base.word);
  Hand(stream);
  ControlWordOverwritten(common);
  cache.clearWord = mode;
  cache.clearFlag = 1;
}

bool IsClearModeIdle() {
  const EngineModeCache& cache = EngineMode3d();
  return (cache.clearWord & kEngineModeOnBit) == 0 && cache.syncTagsOn == 0;
}

// ---- Engine counters -----------------------------------------------------------------------

namespace {

bool OwnsBuffer(const RenderTargetState* state) {
  return state->kind == kWorkBufferOwn || state->kind == kWorkBufferOwnNoKey;
}

constexpr float kCopyRows[3][4] = {{1.0f, 0.5f, 0.5f, 0.25f}, {1.0f, 0.5f, 0.5f, 3.5f}, {1.0f, 0.5f, 1.5f, 0.25f}};

uint32_t Bits(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

}  // namespace

bool SaveTargetCounters(RenderTargetState* state) {
  if (state == nullptr || state->common == nullptr) return false;
  if (state->pendingSwitch == 0 || !OwnsBuffer(state)) {
    memset(state->counters, 0, sizeof state->counters);
    return false;
  }
  CommonData* common = state->common;
  TargetBoard3d* board = TargetBoard(common);
  BmSecondaryInt* stream = common->secondaryStream;
  if (board == nullptr || stream == nullptr || board->readback == nullptr) return false;
  FlushOwner(common);
  const bool wasOn = EngineMode3d().on != 0;
  if (wasOn) WriteEngineModeWord(common, state->stream, false, false);

  WriteOperationTag(common, stream, 0xC07);
  WriteGroup(stream, QuadCornerHeader(0), Bits(kCopyRows[0][0]), Bits(kCopyRows[0][1]), Bits(kCopyRows[0][2]),
             Bits(kCopyRows[0][3]), QuadCornerHeader(1), Bits(kCopyRows[1][0]), Bits(kCopyRows[1][1]),
             Bits(kCopyRows[1][2]), Bits(kCopyRows[1][3]), QuadCornerHeader(2), Bits(kCopyRows[2][0]),
             Bits(kCopyRows[2][1]), Bits(kCopyRows[2][2]), Bits(kCopyRows[2][3]));
  const uint32_t tag = WriteOperationTag(common, stream, 0x207);
  if (board->readback->block != nullptr) board->readback->block->drawSyncTag = tag;
  Hand(stream);

  MmSurface* readback = board->readback;
  if (KernelWait("counter read-back", [&] { return !readback->IsBusy(); })) {
    FlushEngineCaches(common);
    TargetSurfaceMapping map(common, readback, kReadbackSize);
    auto* words = reinterpret_cast<uint32_t*>(map.cpu);
    if (words != nullptr) {
      for (uint32_t group = 0; group < 2; ++group) {
        for (uint32_t i = 0; i < 4; ++i) {
          uint32_t& w = words[group * 32 + i];
          state->counters[group][i] = w & kCounterMask;
          w = 0;
        }
      }
    }
  } else {
    memset(state->counters, 0, sizeof state->counters);
  }
  if (wasOn) WriteEngineModeWord(common, state->stream, true, false);
  return wasOn;
}

void RestoreTargetCounters(RenderTargetState* state, bool wasOn) {
  if (state == nullptr || state->common == nullptr) return;
  if ((state->pendingSwitch == 0 && !wasOn) || !OwnsBuffer(state)) return;
  CommonData* common = state->common;
  BmSecondaryInt* stream = common->secondaryStream;
  if (!wasOn) WriteOperationTag(common, stream, 0xC07);
  const uint32_t* a = state->counters[0];
  const uint32_t* b = state->counters[1];
  const PacketIndex bankA = k3dIdxCounterA0, bankB = k3dIdxCounterB0;
  WriteGroup(stream, PacketHeader(bankA, bankA + 1, bankA + 2, bankA + 3), a[0], a[1], a[2], a[3],
             PacketHeader(bankB, bankB + 1, bankB + 2, bankB + 3), b[0], b[1], b[2], b[3]);
  Hand(stream);
}

void EmitPendingRenderTargetSetup(RenderTargetState* state) {
  if (state == nullptr || state->common == nullptr) return;
  if (state->pendingSwitch == 0 || !OwnsBuffer(state)) return;
  CommonData* common = state->common;
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return;
  RenderTargetState* last = board->drewLast;
  if (last != state) {
    if (last != nullptr) {
      const bool wasOn = SaveTargetCounters(last);
      if (!wasOn) FlushOwner(common);
      RestoreTargetCounters(state, wasOn);
    }
    board->drewLast = state;
  } else {
    HandleTable<RenderContext3d>* table = RenderContextTable();
    if (table != nullptr && table->Count() > 1) FlushOwner(common);
  }

  BmSecondaryInt* stream = state->stream;
  const uint32_t* w = state->addressWords;
  EngineOwner3d* owner = common->engineOwner3d;
  const bool operation = owner != nullptr && owner->targetOperation != 0;
  // The address groups and the mode word, each packet as WritePacket
  // would place it, under one check of the buffer's room (the chip's
  // target operation, when it takes one, goes before the mode word).
  if (stream != nullptr) {
    auto addresses = [&](auto& sink) {
      PutPacket(sink, PacketHeader(k2dIdxDescAddress0, k2dIdxDescMode0, k2dIdxDescAddress2, k2dIdxDescMode2), w[0],
                w[1], w[4], w[5]);
      PutPacket(sink, PacketHeader(k2dIdxDescAddress1, k2dIdxDescMode1), w[2], w[3]);
    };
    auto mode = [&](auto& sink) {
      const TagValue base = ReadTagValue(common->sharedLocked);
      PutPacket(sink, PacketHeader(k2dIdxControl, base.index), 9u, base.word);
    };
    // Words with their counts: 6 and 4 the address groups, 4 the mode word.
    constexpr uint32_t kAddressWords = 6 + 4;
    constexpr uint32_t kModeWords = 4;
    if (operation) {
      WriteBounded(stream, kAddressWords, addresses);
      owner->EmitTargetOperation(state->setupWords[0], state->setupWords[1], state->setupWords[2],
                                 state->setupWords[3]);
      WriteBounded(stream, kModeWords, mode);
    } else {
      WriteBounded(stream, kAddressWords + kModeWords, [&](auto& sink) {
        addresses(sink);
        mode(sink);
      });
    }
  } else if (operation) {
    owner->EmitTargetOperation(state->setupWords[0], state->setupWords[1], state->setupWords[2],
                               state->setupWords[3]);
  }
  // The tags follow in the board's stream: a context stream of its own is
  // handed over first, the board's own once at the end.
  BmSecondaryInt* boardStream = common->secondaryStream;
  if (stream != boardStream) Hand(stream);
  auto tagTarget = [&](Surface3d* surface, uint32_t tagOperation) {
    if (surface == nullptr) return;
    const uint32_t tag = WriteOperationTag(common, boardStream, tagOperation);
    const uint32_t kind = Surface3dMemoryKind(surface);
    if (kind == kMemoryKindTargetA || kind == kMemoryKindTargetB) surface->lastWriteTag = tag;
  };
  tagTarget(state->colourCurrent, 0x107);
  tagTarget(state->depthCurrent, 0x207);
  Hand(boardStream);

  // The engine's target registers changed behind the context's state.
  if (state->context != nullptr && state->context->contextState != nullptr) {
    const uint32_t bits[3] = {kCsDirtySurfacesA | kCsDirtySurfacesB | kCsDirtySurfacesC | kCsDirtyControlWord, 0, 0};
    if (owner != nullptr) owner->MarkChanged(bits);
  }
  state->pendingSwitch = 0;
  if (state->stateWord == 2) state->stateWord = 1;
}

// ---- Binding the targets -------------------------------------------------------------------

namespace {

constexpr uint32_t kSurfWBuffer = 0x100;
constexpr uint32_t kMinimumColourKind = 2;

void Unbind(RenderTargetState* state, Surface3d** slot) {
  if (*slot != nullptr && (*slot)->bindingOwner == state->context) (*slot)->bindingOwner = nullptr;
  *slot = nullptr;
}

// A clear record takes the bound surface and the first three words of its
// usage record (the plain surface record when the format has none).
void SetClearTarget(TargetClearRecord* record, const Surface3d* surface, uint32_t usage) {
  record->target = surface;
  if (surface == nullptr) {
    memset(record->addressWords, 0, sizeof record->addressWords);
    return;
  }
  const FormatDescriptor* format = surface->format;
  const bool own = format != nullptr && format->capabilities[usage] != nullptr;
  const MmSurfDesc& r = surface->hw.records[own ? usage : kUsageSurface];
  record->addressWords[0] = r.word0;
  record->addressWords[1] = r.word1;
  record->addressWords[2] = r.word2;
}

Surface3d* CurrentOf(Surface3d* surface, bool useShadow) {
  return surface != nullptr && useShadow && surface->shadowLink.HasShadow() ? surface->shadowLink.shadow : surface;
}

void Link(RenderTargetState* state, Surface3d* surface) {
  if (surface != nullptr && state->context != nullptr) surface->bindingOwner = state->context;
}

}  // namespace

void BindDepthTarget(RenderTargetState* state, Surface3d* surface, bool useShadow) {
  if (state == nullptr || state->common == nullptr) return;
  TargetBoard3d* board = TargetBoard(state->common);
  if (board != nullptr && board->fastClearedDepth != nullptr)
    WriteEngineModeWord(state->common, state->stream, board->fastClearedDepth == surface, false);
  Unbind(state, &state->depthRequested);
  Unbind(state, &state->depthCurrent);
  state->wBuffer = surface != nullptr && (surface->flagsWord & kSurfWBuffer) != 0 ? 1 : 0;
  state->depthRequested = surface;
  state->depthCurrent = CurrentOf(surface, useShadow);
  Link(state, state->depthRequested);
  Link(state, state->depthCurrent);
  SetClearTarget(&state->depthClear, state->depthCurrent, kUsageDepthStencil);
  const FormatDescriptor* format = surface != nullptr ? surface->format : nullptr;
  state->depthCode = DepthFormatEngineCode(GetDepthFormatCode(format != nullptr ? format->code : 0));
  const float scale = surface != nullptr ? DepthScale(format) : kDepthScaleNone;
  if (scale != state->depthScale) {
    state->depthScale = scale;
    state->depthScaleChanged = 1;
  }
}

bool BindColourTarget(RenderTargetState* state, Surface3d* surface, bool useShadow) {
  if (state == nullptr || state->common == nullptr) return false;
  Unbind(state, &state->colourRequested);
  Unbind(state, &state->colourCurrent);
  state->colourFormat = nullptr;
  SetClearTarget(&state->colourClear, nullptr, kUsageRenderTarget);
  if (surface == nullptr || Surface3dMemoryKind(surface) < kMinimumColourKind) return false;
  const FormatDescriptor* format = surface->format;
  if (format != nullptr) {
    const uint32_t bound = BoundColourFormatCode(format->code);
    FormatCatalogue* catalogue = state->common->formatCatalogue;
    if (bound != format->code && catalogue != nullptr && catalogue->Find(bound) != nullptr)
      format = catalogue->Find(bound);
  }
  state->colourFormat = format;
  state->colourRequested = surface;
  state->colourCurrent = CurrentOf(surface, useShadow);
  Link(state, state->colourRequested);
  Link(state, state->colourCurrent);
  SetClearTarget(&state->colourClear, state->colourCurrent, kUsageRenderTarget);
  return true;
}

void UnbindClearTargets(RenderTargetState* state) {
  if (state == nullptr) return;
  SetClearTarget(&state->colourClear, nullptr, kUsageRenderTarget);
  SetClearTarget(&state->depthClear, nullptr, kUsageDepthStencil);
}

void ForgetClearTarget(RenderTargetState* state, const Surface3d* surface) {
  if (state == nullptr || surface == nullptr) return;
  if (state->colourClear.target == surface) SetClearTarget(&state->colourClear, nullptr, kUsageRenderTarget);
  if (state->depthClear.target == surface) SetClearTarget(&state->depthClear, nullptr, kUsageDepthStencil);
}

// ---- Render contexts ----------------------------------------------------------------------

bool BindRenderTargetState3d(RenderContext3d* context) {
  if (context == nullptr) return false;
  if (context->targetState == nullptr) context->targetState = new RenderTargetState();
  return context->targetState != nullptr && context->targetState->Bind(context);
}

void PrepareRenderTargetState3d(RenderContext3d* context, RenderContext3d* renderedLast) {
  if (context == nullptr || context->targetState == nullptr || context->common == nullptr) return;
  RenderTargetState* state = context->targetState;
  CommonData* common = context->common;
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return;
  Surface3d* fast = board->fastClearedDepth;
  const bool usesFast = fast != nullptr && state->UsesSurface(fast);
  if (fast != nullptr && !usesFast) WriteEngineModeWord(common, state->stream, false, false);
  if (renderedLast != nullptr && renderedLast != context && renderedLast->targetState != nullptr) {
    const bool wasOn = SaveTargetCounters(renderedLast->targetState);
    RestoreTargetCounters(state, wasOn);
  }
  if (usesFast) WriteEngineModeWord(common, state->stream, true, false);
}

// ---- The device lifetime's parts -----------------------------------------------------------

void ReleaseRenderTargets3d(PDEV* pdev) {
  CommonData* common = pdev != nullptr ? pdev->common : nullptr;
  if (common == nullptr) return;
  for (uint32_t i = 0; i < kRenderTargetSlots; ++i) {
    WorkBufferSlot& slot = Slots(common)[i];
    if (slot.owner != nullptr) ReleaseTargetMemory(slot.owner, false);
    slot = {};
  }
  ReleaseTargetBoard3d(common);
}

void ReleaseTargetBoard3d(CommonData* common) {
  TargetBoard3d* board = common != nullptr ? common->targetBoard3d : nullptr;
  if (board == nullptr) return;
  if (board->readback != nullptr) {
    if (board->readback->IsBusy()) return;
    if (common->memoryManager != nullptr) common->memoryManager->DestroySurface(board->readback);
    delete board->readback;
  }
  delete board;
  common->targetBoard3d = nullptr;
}

void ResetEngineMode3d(PDEV*) { SetEngineModeFlag(false); }
