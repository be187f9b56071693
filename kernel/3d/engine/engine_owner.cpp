#include "kernel/3d/engine/engine_owner.h"

#include <string.h>

#include "core/common_data.h"
#include "core/float_bits.h"
#include "core/pdev.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFF;
constexpr uint32_t kStageAllGroups = 0x80001FFF;
constexpr uint32_t kFlushSequenceProgram = 16;
constexpr uint32_t kGapWords = 8;
// Bit 21 of an operation code: set where the later chips' stretch bias
// (0xBD) goes out with it.
constexpr uint32_t kOperationLaterBit = 0x200000;
// The clip rectangle every operation below opens: (0, 0) to (4095, 4095).
constexpr uint32_t kClipAll = 0xFFF0FFF;
// The render-target set-up's operation.
constexpr uint32_t kTargetOperation = 0xC4;

bool UnitNeedsFlushA(uint32_t control) {
  const uint32_t f = control >> 19 & 0x1F;
  return f == 2 || f == 3 || f == 9 || f == 10 || f == 14;
}

// ---- The flush sequence's fixed packets ------------------------------------------------------
// The flush program's fences: three program control words, the vertex
// engine word; then its start address twice and the attribute layout.
constexpr uint32_t kFlushFenceHeader =
    PacketHeader(k3dIdxProgramControl, k3dIdxProgramControl, k3dIdxProgramControl, k3dIdxVertexEngineWord);
constexpr uint32_t kFlushStartHeader = PacketHeader(k3dIdxProgramStart, k3dIdxProgramStartAlt, k3dIdxAttributeLayout);
constexpr uint32_t kFlushFence = 0x20000000;
constexpr uint32_t kFlushMemoryChanged = 0x80000000;
constexpr uint32_t kFlushEngineWord = 0x2000;
constexpr uint32_t kFlushLayout = 3;

constexpr RegGroup kFlushElements[] = {
    {PacketHeader(k3dIdxElementIndex, k3dIdxElementData), {0, 0xA0000000}},  // element 0, the last
};
constexpr RegGroup kFlushUnitsOff[] = {
    {PacketHeader(k3dIdxUnitSync, k2dIdxSyncZero), {0, 0}},
    {kPacketAllUnits, {k3dUnitControlPass, 0, 0, 0}},  // every unit passes, off
};
// The flush operation, with the stretch bias on the later chips.
constexpr uint32_t kFlushOperation = 0x10CC;
constexpr RegGroup kFlushOperationLater[] = {
    {PacketHeader(k2dIdxControl, k3dIdxStretchBias), {kFlushOperation | kOperationLaterBit, kFloat31}},
};
constexpr RegGroup kFlushOperationEarly[] = {
    {kPacketControl, {kFlushOperation}},
};
// The default combiner stages of the hardware units 0, 2, 4, 8 and 10,
// one packet each.
constexpr RegGroup FlushStage(uint32_t unit) {
  return {kPacketStageWithOption, {0x200 | unit, k3dStageSecondDefault, 0x200, k3dStageSecondDefault}};
}
constexpr RegGroup kFlushStages[] = {FlushStage(0), FlushStage(2), FlushStage(4), FlushStage(8), FlushStage(10)};
// The clip operation, with the stretch bias on the later chips.
constexpr uint32_t kClipOperation = 0x8002CD;
constexpr RegGroup kFlushClipLater[] = {
    {PacketHeader(k2dIdxControl, k2dIdxClipTopLeft, k2dIdxClipBottomRight, k3dIdxStretchBias),
     {kClipOperation, kClipAll, 0, kFloat31}},
};
constexpr RegGroup kFlushClipEarly[] = {
    {PacketHeader(k2dIdxControl, k2dIdxClipTopLeft, k2dIdxClipBottomRight), {kClipOperation, kClipAll, 0}},
};
// The stream's context word into stream 0's address, the stride 4 and the
// flush's primitive control word.
constexpr uint32_t kFlushCoordinateHeader =
    PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0, k3dIdxPrimitiveControl);
constexpr uint32_t kFlushStride = 4;
constexpr uint32_t kFlushPrimitiveControl = 0x20020;

// ---- The operations' vertex images -------------------------------------------------------------
// Groups of the vertex records: place k's w3, then w2, w1 (or w1Alt) and a
// slot's w0.
constexpr PacketIndex Place(uint32_t k) { return k3dIdxVertexW3 + k; }
constexpr RegGroup Zeros(PacketIndex a, PacketIndex b, PacketIndex c, PacketIndex d) {
  return {PacketHeader(a, b, c, d), {0, 0, 0, 0}};
}
// The last four groups of every image: texture slot s of place 3 cleared,
// slot 3 through w1Alt.
constexpr RegGroup SlotCleared(uint32_t slot) {
  return Zeros(Place(3), k3dIdxVertexW2, slot == 3 ? k3dIdxVertexW1Alt : k3dIdxVertexW1, k3dIdxVertexTex0 + slot);
}

constexpr RegGroup kTargetImage[] = {
    Zeros(Place(3), k3dIdxVertexW2, k3dIdxVertexW1, k3dIdxVertexPosition),
    Zeros(Place(3), k3dIdxVertexW1, k3dIdxVertexPosition, Place(1)),
    {PacketHeader(k3dIdxVertexPosition, Place(2), k3dIdxVertexW1, k3dIdxVertexPosition),
     {FloatBits(0.0625f), 0, FloatBits(0.0625f), 0}},
    SlotCleared(0),
    SlotCleared(1),
    SlotCleared(2),
    SlotCleared(3),
};
// The stage operations' images: 0x1000F4's, then 0x5000F5's.
constexpr RegGroup kStageImageA[] = {
    Zeros(Place(3), k3dIdxVertexW1, k3dIdxVertexPosition, Place(1)),
    {PacketHeader(k3dIdxVertexPosition, Place(2), k3dIdxVertexW1, k3dIdxVertexPosition),
     {FloatBits(0.9f), 0, FloatBits(0.9f), 0}},
    SlotCleared(0),
    SlotCleared(1),
    SlotCleared(2),
    SlotCleared(3),
};
constexpr RegGroup kStageImageB[] = {
    {PacketHeader(Place(3), k3dIdxVertexW1, k3dIdxVertexPosition, Place(1)),
     {0, FloatBits(10.0f), FloatBits(10.0f), 0}},
    {PacketHeader(k3dIdxVertexW1, k3dIdxVertexPosition, kIdxDiscard, kIdxDiscard),
     {FloatBits(10.0f), FloatBits(11.0f), 0, 0}},
    SlotCleared(0),
    SlotCleared(1),
    SlotCleared(2),
    SlotCleared(3),
};

}  // namespace

EngineOwner3d::EngineOwner3d(PDEV* d, CommonData* c) : device(d), common(c) {}

EngineOwner3d::~EngineOwner3d() {
  // States still listed lose their owner link: none may point here.
  for (ContextState3d* s = head; s != nullptr;) {
    ContextState3d* n = s->next;
    s->owner = nullptr;
    s->previous = s->next = nullptr;
    s = n;
  }
  head = current = nullptr;
}

BmSecondaryInt* EngineOwner3d::Stream() const { return common != nullptr ? common->secondaryStream : nullptr; }

void EngineOwner3d::Register(ContextState3d* state) {
  state->previous = nullptr;
  state->next = head;
  if (head != nullptr) head->previous = state;
  head = state;
}

void EngineOwner3d::Unregister(ContextState3d* state) {
  if (state == current) {
    for (ContextState3d* s = head; s != nullptr; s = s->next)
      for (int i = 0; i < 3; ++i) s->changedByOthers.words[i] |= state->changedByOthers.words[i];
    current = nullptr;
  }
  if (state->previous != nullptr) state->previous->next = state->next;
  if (state->next != nullptr) state->next->previous = state->previous;
  if (head == state) head = state->next;
  state->previous = state->next = nullptr;
}

void EngineOwner3d::MarkChanged(const uint32_t bits[3]) {
  if (current == nullptr) return;
  for (int i = 0; i < 3; ++i) {
    current->dirty.words[i] |= bits[i];
    current->changedByOthers.words[i] |= bits[i];
  }
}

// What an emitter overwrote in the engine: the current state writes those
// groups again, and every other state learns of them at its next switch.
void EngineOwner3d::MarkCurrent(uint32_t word0, uint32_t stageWord, uint32_t unitWord) {
  const uint32_t bits[3] = {word0, stageWord, unitWord};
  MarkChanged(bits);
}

void EngineOwner3d::CloseRange() {
  if (BmSecondaryInt* s = Stream()) s->ExecutePending();
}

void EngineOwner3d::Switch(ContextState3d* state) {
  if (current != nullptr) {
    for (ContextState3d* s = head; s != nullptr; s = s->next)
      for (int i = 0; i < 3; ++i) s->changedByOthers.words[i] |= current->changedByOthers.words[i];
    memset(&current->changedByOthers, 0, sizeof current->changedByOthers);
  }
  current = state;
  ContextStateMasks& c = state->changedByOthers;
  bool textures = false;
  for (int i = 0; i < 3; ++i) {
    // Every group another state wrote is written again: the emit mask only
    // widens the set (a group this state never wrote still holds another's
    // value in the engine).
    state->dirty.words[i] |= c.words[i];
    if (i > 0 && c.words[i] != 0) textures = true;
    c.words[i] = 0;
  }
  if (textures) {
    state->dirty.words[1] |= 0xFFF | kTuAllBit;
    state->dirty.words[2] |= 0xFFFFF | kTuAllBit;
  }
  if ((state->dirty.words[0] & kCsDirtyUpload3) != 0) state->dirty.words[0] |= kCsDirtyUpload3Fold;
  emitPending |= kEoEmitPending;
  reemit |= 0x01;
}

void EngineOwner3d::ResetAll(ContextState3d* state) {
  cachedStreamValue = kAllOnes;
  operationWord = kAllOnes;
  for (int i = 0; i < 3; ++i) state->dirty.words[i] = kAllOnes;
  emitPending |= kEoEmitPending;
  started = 2;
}

void EngineOwner3d::EmitSyncPoint() {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr || common == nullptr || common->sharedLocked == nullptr) return;
  // The board's tag counter: a tag the engine reaches is never below one
  // the kernel already waits for.
  const uint32_t tag = TakeNextTag(common->sharedLocked);
  const uint32_t closing = current != nullptr ? current->controlWord : lastOperation;
  // The operation word, the tag (a pair, one, or none) and the closing
  // word; with the extra-tag bit a last group of the tag again.
  constexpr uint32_t pair = PacketHeader(k2dIdxControl, k2dIdxSyncTag, k2dIdxSyncTag, k2dIdxControl);
  constexpr uint32_t single = PacketHeader(k2dIdxControl, k2dIdxSyncTag, k2dIdxControl);
  constexpr uint32_t none = PacketHeader(k2dIdxControl, k2dIdxControl);
  constexpr uint32_t extra = PacketHeader(k2dIdxSyncTag);
  StreamSink sink{stream};
  if ((reemit & kEoReemitExtraTag) != 0) {
    if (tagPair != 0) PutPacket(sink, pair, lastOperation, tag, tag | 1, closing, extra, tag | 1);
    else if (singleTag != 0) PutPacket(sink, single, lastOperation, tag | 1, closing, extra, tag | 1);
    else PutPacket(sink, none, lastOperation, closing, extra, tag | 1);
  } else {
    if (tagPair != 0) PutPacket(sink, pair, lastOperation, tag, tag | 1, closing);
    else if (singleTag != 0) PutPacket(sink, single, lastOperation, tag | 1, closing);
    else PutPacket(sink, none, lastOperation, closing);
  }
  reemit = 0;
}

void EngineOwner3d::CollectFlushRequests(ContextState3d* state) {
  if (state->flushRequest != 0) {
    flushRequests |= kFlushSequence;
    state->flushRequest = 0;
  }
  const uint32_t units = state->textureUnits.unitCount < kTuUnits ? state->textureUnits.unitCount : kTuUnits;
  for (uint32_t u = 0; u < units; ++u) {
    const uint32_t control = state->textureUnits.units[u].words[2];
    if (UnitNeedsFlushA(control)) flushRequests |= 0x05;
    const uint32_t mode = control >> 16 & 7;
    if ((state->operationBlock[kOpCode] & 0xF) == 5 && (mode == 5 || mode >= 7)) flushRequests |= 0x06;
  }
  if (Capable() && (state->dirty.words[0] & kCsDirtySurfacesB) != 0) flushRequests |= kFlushSyncPair;
  if (Capable() && (state->lodControl & 3) != 0) flushRequests |= kFlushStageLimit;
  if ((deviceFlags2 & 0x04) != 0 && state->stageWord != 0) flushRequests |= kFlushThirdChannel;
}

void EngineOwner3d::RunFlushActions() {
  EmitFlushSequence(false);
  if ((flushRequests & kFlushStageA) != 0) EmitStageOperation(kStageOperationA, false);
  if ((flushRequests & kFlushStageB) != 0) EmitStageOperation(kStageOperationB, true);
  if ((flushRequests & kFlushSyncPair) != 0) {
    reemit |= kEoReemitTagPair;
    tagPair = 1;
    EmitSyncPoint();
  }
  if (current != nullptr && Capable() && (current->lodControl & 3) != 0) {
    uint32_t& e = current->textureUnits.stageEnable;
    if (e == kFloat32) e = kFloat31;
    else if (e == kFloat16) e = kFloat15;
    current->dirty.words[0] |= kCsDirtyStageEnable;
  }
  if ((flushRequests & kFlushThirdChannel) != 0 && (deviceFlags2 & 0x04) != 0)
    EmitStageOperation(kStageOperationA, false);
  flushRequests = 0;
}

void EngineOwner3d::EmitOperation(ContextState3d* state) {
  BmSecondaryInt* stream = Stream();
  const uint32_t* w = state->operationBlock;
  if (w[kOpKind] < 1 || w[kOpKind] > 3) {
    state->Emit(stream);
    return;
  }
  // What differs goes first, then the operation of the kind: its surfaces
  // (descriptors 0 and 2, or 1), colours and mask, the operation code with
  // its placement and size, and the start. The start register's data word
  // carries no value: 0, so the engine never reads a stale buffer word.
  state->Emit(stream);
  constexpr uint32_t surfaces =
      PacketHeader(k2dIdxDescAddress0, k2dIdxDescMode0, k2dIdxDescAddress2, k2dIdxDescMode2);
  constexpr uint32_t start = PacketHeader(k2dIdxSyncZero);
  StreamSink sink{stream};
  switch (w[kOpKind]) {
    case 2:
      PutPacket(sink, surfaces, w[kOpSurface88], w[kOpSurface89], w[kOpSurface88 + 2], w[kOpSurface89 + 2],
                PacketHeader(k2dIdxPlaneMask, k2dIdxBackground, k2dIdxForeground), w[kOpPlaneMask],
                w[kOpBackground], w[kOpForeground],
                PacketHeader(k2dIdxControl, k2dIdxOrigin, k2dIdxStart, k2dIdxSizeGo), w[kOpCode], w[kOpOrigin],
                w[kOpStart], w[kOpSizeGo], start, 0);
      break;
    case 3:
      PutPacket(sink, PacketHeader(k2dIdxDescAddress1, k2dIdxDescMode1, k2dIdxForeground), w[kOpSurface88 + 1],
                w[kOpSurface89 + 1], w[kOpForeground],
                PacketHeader(k2dIdxControl, k2dIdxOrigin, k2dIdxPlaneMask, k2dIdxSizeGo), w[kOpCode], w[kOpOrigin],
                w[kOpPlaneMask], w[kOpSizeGo], start, 0);
      break;
    case 1:
      PutPacket(sink, surfaces, w[kOpSurface88], w[kOpSurface89], w[kOpSurface88 + 2], w[kOpSurface89 + 2],
                PacketHeader(k2dIdxPlaneMask), w[kOpPlaneMask],
                PacketHeader(k2dIdxControl, k2dIdxOrigin, k2dIdxStart, k2dIdxSizeGo), w[kOpCode], w[kOpOrigin],
                w[kOpStart], w[kOpSizeGo], start, 0);
      break;
  }
  lastOperation = w[kOpCode];
  // The operation's groups carry the state's own images, but 0xC0 now holds
  // the operation code.
  if (w[kOpCode] != state->controlWord) state->dirty.words[0] |= kCsDirtyControlWord;
}

void EngineOwner3d::Execute(ContextState3d* state, uint32_t operation, bool checkFlush) {
  if (state == nullptr) return;
  BmSecondaryInt* stream = Stream();
  operationWord = operation;
  packetMode = 2;
  for (int i = 0; i < 3; ++i) state->emitMask.words[i] |= state->dirty.words[i];
  if (state != current) Switch(state);
  if (started != 2) ResetAll(state);
  if ((reemit & 0x0F) != 0) EmitSyncPoint();
  if (checkFlush) CollectFlushRequests(state);
  if (operationWord != 0 && deviceStarted != 0) RunFlushActions();
  if (pendingChannels != 0) {
    const uint32_t count = state->textureUnits.stageCount < kTuStages ? state->textureUnits.stageCount : kTuStages;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t channels = state->textureUnits.stages[i].words[1] & kTuChannelMask;
      if (channels != 0) {
        state->dirty.words[1] |= 1u << (3 * i);
        pendingChannels &= ~channels;
      }
    }
  }
  // What this state writes is what every other state must write again
  // once it is current.
  for (int i = 0; i < 3; ++i) state->changedByOthers.words[i] |= state->dirty.words[i];
  EmitOperation(state);
  state->operationBlock[kOpPending] = 0;
  if (stream != nullptr) stream->ExecutePending();
}

void EngineOwner3d::EmitFlushSequence(bool force) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  packetMode = 2;
  if ((deviceFlags & 0x3E) == 0) {
    if ((flushRequests & kFlushSequence) != 0) {
      // The flush start's data word carries no value: 0.
      WritePacket(stream, PacketHeader(k3dIdxFlushStart), 0);
      stream->ExecutePending();
    }
    return;
  }
  if ((flushRequests & kFlushSequence) == 0 && !force) return;
  uint32_t start = 0;
  VertexProgramBuilder* builder = common != nullptr ? common->vertexProgramBuilder : nullptr;
  if (builder != nullptr) {
    if (VertexProgram* program = builder->GetFixedProgram(kFlushSequenceProgram, 0))
      start = builder->MakeResident(program, true, 8, common);
  }
  uint32_t pendingWord = 0;
  if (builder != nullptr && builder->memoryChanged != 0) {
    pendingWord = kFlushMemoryChanged;
    builder->memoryChanged = 0;
  }
  // The sequence's packets go out as one batch (the program is resident:
  // nothing else writes to the stream until the end), committed where the
  // engine takes them.
  BmBatch batch(stream);
  BatchSink sink{&batch};
  // The flush program: the start, its fences and its start addresses.
  PutPacket(sink, PacketHeader(k2dIdxSyncZero), 0, kFlushFenceHeader, kFlushFence, kFlushFence, pendingWord,
            kFlushEngineWord, kFlushStartHeader, start, start, kFlushLayout);
  MarkCurrent(kCsDirtyProgramFence | kCsDirtyEngineA | kCsDirtyEngineB);
  PutGroups(sink, kFlushElements);
  MarkCurrent(kCsDirtyCoordC);
  batch.Commit();
  stream->ExecutePending();
  PutGroups(sink, kFlushUnitsOff);
  if (Capable()) {
    PutGroups(sink, kFlushOperationLater);
    lastOperation = kFlushOperation | kOperationLaterBit;
    MarkCurrent(kCsDirtyStageEnable);
  } else {
    PutGroups(sink, kFlushOperationEarly);
    lastOperation = kFlushOperation;
  }
  for (const RegGroup& stage : kFlushStages) PutGroups(sink, &stage, 1);
  MarkCurrent(0, kAllOnes, kAllOnes);
  if (Capable()) {
    PutGroups(sink, kFlushClipLater);
    MarkCurrent(kCsDirtyStageEnable);
  } else {
    PutGroups(sink, kFlushClipEarly);
  }
  lastOperation = kClipOperation;
  MarkCurrent(kCsDirtyRasterA | kCsDirtyControlWord);
  PutPacket(sink, kFlushCoordinateHeader, contextWord, kFlushStride, kFlushPrimitiveControl);
  batch.Commit();
  stream->ExecutePending();
  MarkCurrent(kCsDirtyCoordA);
  // The gap the engine uses is zeroed, then a range of its own points at
  // it: a draw of the copied words, one to a vertex.
  if (uint32_t* gap = batch.Put(kGapWords)) {
    memset(gap, 0, 4 * kGapWords);
    uint32_t gapStart = 0, gapEnd = 0;
    if (stream->head != nullptr && stream->head->busType != 0) {
      gapStart = stream->head->BusOf(gap);
      gapEnd = stream->head->BusOf(gap + kGapWords);
    }
    batch.Commit();
    stream->start = stream->cursor;
    if (PacketWords p{batch.Put(3)}) {
      p.Word(CopiedVerticesCommand(1)).Pair(gapStart, gapEnd);
      batch.Commit();
      stream->ExecutePending();
    }
  }
}

void EngineOwner3d::EmitTargetOperation(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  packetMode = 2;
  StreamSink sink{stream};
  // The mask open, the depth words d and c.
  PutPacket(sink, PacketHeader(k2dIdxPlaneMask, kIdxDiscard, k3dIdxWordCC, k3dIdxWordD0), kAllOnes, 0, d, c);
  stream->ExecutePending();
  // The target operation over the whole clip, the depth word b, the raster
  // word a (and the stretch bias on the later chips).
  const uint32_t code = Capable() ? kTargetOperation | kOperationLaterBit : kTargetOperation;
  constexpr uint32_t operation =
      PacketHeader(k2dIdxControl, k2dIdxClipBottomRight, k2dIdxClipTopLeft, k3dIdxWordC8);
  if (Capable()) {
    PutPacket(sink, operation, code, kClipAll, 0, b, PacketHeader(kIdxDiscard, k3dIdxWordFC, k3dIdxStretchBias), 0,
              a, kFloat31);
  } else {
    PutPacket(sink, operation, code, kClipAll, 0, b, PacketHeader(kIdxDiscard, k3dIdxWordFC), 0, a);
  }
  lastOperation = code;
  stream->ExecutePending();
  PutGroups(sink, kTargetImage);
  stream->ExecutePending();
  uint32_t bits = kCsDirtyDepth | kCsDirtyRasterA | kCsDirtyRasterB | kCsDirtyControlWord |
                  kCsDirtyPlaneMask | kCsDirtySurfacesA | kCsDirtySurfacesB;
  if (Capable()) bits |= kCsDirtyStageEnable;
  MarkCurrent(bits);
}

void EngineOwner3d::SetUpOperationStages(bool flag, uint32_t operation) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  BmBatch batch(stream);
  BatchSink sink{&batch};
  const uint32_t base = flag ? 0x50100 : 0x40100;
  uint32_t control[k3dTextureUnits];
  // Each unit on with its own unit bit, its address 0, mode and dimensions
  // fixed, its filter and word 585 clear (and its table word on the later
  // chips).
  constexpr uint32_t mode = 0x32020001;
  constexpr uint32_t dimensions = 0x10001;
  for (uint32_t i = 0; i < k3dTextureUnits; ++i) {
    control[i] = (base & ~0xFu) | (1u << i);
    const uint32_t unit = PacketHeader(k3dIdxUnitControl0 + i, k3dIdxTexAddress, k3dIdxTexMode, k3dIdxTexDimensions);
    if (Capable()) {
      PutPacket(sink, unit, control[i], 0, mode, dimensions,
                PacketHeader(k3dIdxTexFilter, k3dIdxTexWord585, k3dIdxTexTable), 0, 0, 0);
    } else {
      PutPacket(sink, unit, control[i], 0, mode, dimensions, PacketHeader(k3dIdxTexFilter, k3dIdxTexWord585), 0, 0);
    }
  }
  batch.Commit();
  stream->ExecutePending();
  if (!Capable()) {
    MarkCurrent(0, kStageAllGroups, kAllOnes);
    return;
  }
  // Each slot reads its own unit: no stage is paired with another.
  const PacketIndex unit0 = k3dIdxUnitControl0;
  PutPacket(sink, PacketHeader(unit0, k3dIdxTexTable, unit0 + 1, k3dIdxTexTable), control[0], 0, control[1], 0,
            PacketHeader(unit0 + 2, k3dIdxTexTable, unit0 + 3, k3dIdxTexTable), control[2], 0, control[3], 0,
            PacketHeader(k3dIdxStretchBias, k2dIdxControl), kFloat16, operation & ~kOperationLaterBit);
  lastOperation = operation & ~kOperationLaterBit;
  batch.Commit();
  stream->ExecutePending();
  MarkCurrent(kCsDirtyStageEnable | kCsDirtyControlWord, kStageAllGroups, kAllOnes);
}

void EngineOwner3d::EmitStageOperation(uint32_t operation, bool flag) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  packetMode = 2;
  StreamSink sink{stream};
  if (operation == kStageOperationA) {
    PutPacket(sink, PacketHeader(k2dIdxPlaneMask, k3dIdxWordD4), 0, 0);
    stream->ExecutePending();
    MarkCurrent(kCsDirtyFog);
  }
  {
    const uint32_t* w = current != nullptr ? current->operationBlock : nullptr;
    const uint32_t address = w != nullptr ? w[kOpSurface88] : 0;
    const uint32_t mode = w != nullptr ? w[kOpSurface89] : 0;
    // The operation with an empty clip from (0, 0) to (1, 1), then
    // descriptor 0 as the state has it in format 50.
    PutPacket(sink, PacketHeader(k2dIdxControl, k2dIdxClipTopLeft, k2dIdxClipBottomRight, k3dIdxWordC8), operation, 0,
              0x00010001, 0, PacketHeader(k3dIdxWordE4, k3dIdxWordFC, k2dIdxDescAddress0, k2dIdxDescMode0), 1, 0,
              address, Mode2dFormat::Set(mode, 50));
    lastOperation = operation;
    stream->ExecutePending();
  }
  SetUpOperationStages(flag, operation);
  if (operation == kStageOperationA) {
    PutGroups(sink, kStageImageA);
  } else {
    PutGroups(sink, kStageImageB);
  }
  stream->ExecutePending();
  MarkCurrent(kCsDirtyControlWord | kCsDirtyPlaneMask | kCsDirtySurfacesA | kCsDirtyDepth | kCsDirtyRasterA |
              kCsDirtyRasterB);
}

// ---- Component entry 15, enable and mode change ------------------------------------------------

namespace {

// The presets of the engine operations: the default state with no units,
// the first unit's format 15 (bits 16-18 = 1), the surfaces cleared, the
// operation 0x30000C with scale 31.0.
bool MakePreset(EngineOwner3d* owner, ContextState3d** slot, bool variant) {
  auto* s = new ContextState3d(owner);
  if (s == nullptr) return false;
  *slot = s;
  TextureUnitBlock& t = s->textureUnits;
  t.unitCount = 0;
  t.units[0].words[2] = (t.units[0].words[2] & ~(0xFu << 19) & ~(7u << 16)) | 15u << 19 | 1u << 16;
  for (uint32_t u = 0; u < 4; ++u)
    for (uint32_t k = 3; k < 10; ++k) t.units[u].words[k] = 0;
  s->depthStencilBlock[2] = 0x80000000;
  uint32_t* w = s->operationBlock;
  w[14] = 0;
  w[3] = 0;
  w[kOpCode] = 0x30000C;
  s->controlWord = 0x30000C;
  w[kOpScale] = kFloat31;
  for (uint32_t u = 1; u < 4; ++u) w[kOpSurface89 + u] = (w[kOpSurface89 + u] & 0xC0E0FFFF) | 3u << 16 | 50u << 24;
  if (variant) s->rasterBlock[8] &= ~(7u << 14);
  s->dirty.words[0] |= kCsDirtySurfacesA | kCsDirtyPlaneMask | kCsDirtyStencil | kCsDirtyRasterA;
  s->dirty.words[2] |= kTuAllBit;
  return true;
}

}  // namespace

bool InitEngineOwner3d(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard()) return common->engineOwner3d != nullptr;
  auto* owner = new EngineOwner3d(pdev, common);
  if (owner == nullptr) return false;
  common->engineOwner3d = owner;
  // The device's capability word and flag bytes are its revision bits:
  // bits 10-18 the later generation (pair registers, stage-enable
  // register), bits 1-5 of the low byte the chips of the full flush
  // sequence.
  owner->capabilities = common->revisionBits;
  owner->deviceFlags = static_cast<uint8_t>(common->revisionBits);
  owner->deviceFlags2 = static_cast<uint8_t>(common->revisionBits >> 8);
  bool made = true;
  for (int i = 0; i < 3 && made; ++i) {
    made = MakePreset(owner, &owner->presets[i], i > 0);
    // The presets of the three operation shapes.
    if (made) owner->presets[i]->operationBlock[kOpKind] = static_cast<uint32_t>(i + 1);
  }
  if (made) {
    owner->defaults = new ContextState3d(owner);
    made = owner->defaults != nullptr;
  }
  // A failed entry's cleanup never runs: what was made goes here.
  if (!made) CleanupEngineOwner3d(pdev);
  return made;
}

void CleanupEngineOwner3d(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard()) return;
  EngineOwner3d* owner = common->engineOwner3d;
  if (owner == nullptr) return;
  delete owner->defaults;
  for (ContextState3d*& s : owner->presets) {
    delete s;
    s = nullptr;
  }
  common->engineOwner3d = nullptr;
  delete owner;
}

bool InitContextState3d(PDEV* pdev) {
  CommonData* common = pdev->common;
  EngineOwner3d* owner = common->engineOwner3d;
  if (owner == nullptr) return false;
  auto* state = new ContextState3d(owner);
  if (state == nullptr) return false;
  KernelWriteRegister(common, k3dRegInitialState, owner->initialStateValue);
  state->textureUnits.stageCount = 4;
  state->textureUnits.unitCount = 5;
  for (uint32_t& w : state->dirty.words) w = kAllOnes;
  owner->Execute(state, 0, false);
  owner->deviceStarted = 1;
  owner->CloseRange();
  delete state;
  return true;
}

void FlushEngineState3d(CommonData* common) {
  EngineOwner3d* owner = common != nullptr ? common->engineOwner3d : nullptr;
  if (owner == nullptr) return;
  ContextState3d* state = owner->current != nullptr ? owner->current : owner->defaults;
  if (state == nullptr) return;
  owner->started = 0;
  owner->Execute(state, 0, false);
}

ContextState3d* NewContextState3d(EngineOwner3d* owner) { return new ContextState3d(owner); }

void DeleteContextState3d(ContextState3d* state) { delete state; }

void VertexEngineBlockSetUp(VertexEngineBlock* block) {
  if (block == nullptr || block->owner == nullptr) return;
  CommonData* common = block->owner->common;
  if (common != nullptr && common->vertexProgramBuilder != nullptr) {
    block->flags |= kVeFlagEngineCapable;
  } else {
    block->flags &= ~kVeFlagEngineCapable;
  }
}

bool EngineOwner3dExecute(EngineOwner3d* owner, ContextState3d* state, uint32_t operation, uint32_t flag) {
  if (owner == nullptr || state == nullptr) return false;
  owner->Execute(state, operation, flag != 0);
  return true;
}

// Register 0xC0 also holds the engine control word of the engine state
// that is current: after a mode word that state writes its control word
// again, and the others learn of it at their next switch.
void ControlWordOverwritten(CommonData* common) {
  if (common == nullptr || common->engineOwner3d == nullptr) return;
  const uint32_t bits[3] = {kCsDirtyControlWord, 0, 0};
  common->engineOwner3d->MarkChanged(bits);
}
