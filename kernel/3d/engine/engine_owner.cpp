#include "kernel/3d/engine/engine_owner.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/render/context_state.h"
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
constexpr uint32_t kGapCommand = 0x17000001;
constexpr uint32_t kFloat0_9 = 0x3F666666;
constexpr uint32_t kFloat0_0625 = 0x3D800000;
constexpr uint32_t kFloat10 = 0x41200000;
constexpr uint32_t kFloat11 = 0x41300000;
// The engine's initial-state register: the enable writes the surface
// owner's value into it.
constexpr uint32_t kInitialStateRegister = 3008;

bool UnitNeedsFlushA(uint32_t control) {
  const uint32_t f = control >> 19 & 0x1F;
  return f == 2 || f == 3 || f == 9 || f == 10 || f == 14;
}

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
  GroupPacket p;
  if (tagPair != 0) {
    p.G({0xC0, 0xAF, 0xAF, 0xC0}, {lastOperation, tag, tag | 1, closing});
  } else if (singleTag != 0) {
    p.G({0xC0, 0xAF, 0xC0}, {lastOperation, tag | 1, closing});
  } else {
    p.G({0xC0, 0xC0}, {lastOperation, closing});
  }
  if ((reemit & kEoReemitExtraTag) != 0) p.G({0xAF}, {tag | 1});
  p.WriteTo(stream);
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
  // What differs goes first, then the operation of the kind.
  state->Emit(stream);
  GroupPacket p;
  // The start register's data word carries no value: 0, so the engine never
  // reads a stale buffer word.
  switch (w[kOpKind]) {
    case 2:
      p.G({0x88, 0x89, 0x8C, 0x8D}, {w[10], w[14], w[12], w[16]})
          .G({0xC9, 0xC6, 0xC5}, {w[3], w[5], w[6]})
          .G({0xC0, 0xC2, 0xC1, 0xE3}, {w[2], w[7], w[8], w[9]})
          .G({0xDD}, {0});
      break;
    case 3:
      p.G({0x8A, 0x8B, 0xC5}, {w[11], w[15], w[6]})
          .G({0xC0, 0xC2, 0xC9, 0xE3}, {w[2], w[7], w[3], w[9]})
          .G({0xDD}, {0});
      break;
    case 1:
      p.G({0x88, 0x89, 0x8C, 0x8D}, {w[10], w[14], w[12], w[16]})
          .G({0xC9}, {w[3]})
          .G({0xC0, 0xC2, 0xC1, 0xE3}, {w[2], w[7], w[8], w[9]})
          .G({0xDD}, {0});
      break;
  }
  p.WriteTo(stream);
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
      GroupPacket p;
      p.G({0xDE}, {0});
      p.WriteTo(stream);
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
    pendingWord = 0x80000000;
    builder->memoryChanged = 0;
  }
  {
    GroupPacket p;
    p.G({0xDD}, {0})
        .G({0x3C, 0x3C, 0x3C, 0x4C}, {0x20000000, 0x20000000, pendingWord, 0x2000})
        .G({0x40, 0x41, 0x44}, {start, start, 3});
    p.WriteTo(stream);
  }
  MarkCurrent(kCsDirtyProgramFence | kCsDirtyEngineA | kCsDirtyEngineB);
  {
    GroupPacket p;
    p.G({0x2D, 0x2E}, {0, 0xA0000000});
    p.WriteTo(stream);
  }
  MarkCurrent(kCsDirtyCoordC);
  stream->ExecutePending();
  {
    GroupPacket p;
    p.G({0x87, 0xDD}, {0, 0}).G({0x80, 0x81, 0x82, 0x83}, {kTuPassStage, 0, 0, 0});
    p.WriteTo(stream);
    GroupPacket q;
    if (Capable()) {
      q.G({0xC0, 0xBD}, {0x2010CC, kFloat31});
      lastOperation = 0x2010CC;
      MarkCurrent(kCsDirtyStageEnable);
    } else {
      q.G({0xC0}, {0x10CC});
      lastOperation = 0x10CC;
    }
    q.WriteTo(stream);
  }
  for (uint32_t unit : {0u, 2u, 4u, 8u, 10u}) {
    GroupPacket p;
    p.G({0x99, 0x9B, 0x98, 0x9A}, {0x200 | unit, 0x400400, 0x200, 0x400400});
    p.WriteTo(stream);
  }
  MarkCurrent(0, kAllOnes, kAllOnes);
  {
    GroupPacket p;
    if (Capable()) {
      p.G({0xC0, 0xCA, 0xCB, 0xBD}, {0x8002CD, 0xFFF0FFF, 0, kFloat31});
      MarkCurrent(kCsDirtyStageEnable);
    } else {
      p.G({0xC0, 0xCA, 0xCB}, {0x8002CD, 0xFFF0FFF, 0});
    }
    p.WriteTo(stream);
    lastOperation = 0x8002CD;
    MarkCurrent(kCsDirtyRasterA | kCsDirtyControlWord);
  }
  {
    GroupPacket p;
    p.G({0x00, 0x10, 0x2C}, {contextWord, 4, 0x20020});
    p.WriteTo(stream);
    stream->ExecutePending();
    MarkCurrent(kCsDirtyCoordA);
  }
  // The gap the engine uses is zeroed, then a range of its own points at
  // it.
  if (uint32_t* gap = stream->Reserve(kGapWords)) {
    memset(gap, 0, 4 * kGapWords);
    uint32_t gapStart = 0, gapEnd = 0;
    if (stream->head != nullptr && stream->head->busType != 0) {
      gapStart = stream->head->BusOf(gap);
      gapEnd = stream->head->BusOf(gap + kGapWords);
    }
    stream->start = stream->cursor;
    if (uint32_t* at = stream->Reserve(3)) {
      at[0] = kGapCommand;
      at[1] = gapStart;
      at[2] = gapEnd;
      stream->ExecutePending();
    }
  }
}

void EngineOwner3d::EmitTargetOperation(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  packetMode = 2;
  {
    GroupPacket p;
    p.G({0xC9, 0x20, 0xB3, 0xB4}, {0xFFFFFFFF, 0, d, c});
    p.WriteTo(stream);
    stream->ExecutePending();
  }
  {
    GroupPacket p;
    const uint32_t code = Capable() ? 0x2000C4 : 0xC4;
    p.G({0xC0, 0xCB, 0xCA, 0xB2}, {code, 0xFFF0FFF, 0, b});
    if (Capable()) {
      p.G({0x20, 0xBF, 0xBD}, {0, a, kFloat31});
    } else {
      p.G({0x20, 0xBF}, {0, a});
    }
    p.WriteTo(stream);
    lastOperation = code;
    stream->ExecutePending();
  }
  {
    GroupPacket p;
    p.G({0x5B, 0x5D, 0x5E, 0x60}, {0, 0, 0, 0})
        .G({0x5B, 0x5E, 0x60, 0x59}, {0, 0, 0, 0})
        .G({0x60, 0x5A, 0x5E, 0x60}, {kFloat0_0625, 0, kFloat0_0625, 0})
        .G({0x5B, 0x5D, 0x5E, 0x63}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5E, 0x64}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5E, 0x65}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5F, 0x66}, {0, 0, 0, 0});
    p.WriteTo(stream);
    stream->ExecutePending();
  }
  uint32_t bits = kCsDirtyDepth | kCsDirtyRasterA | kCsDirtyRasterB | kCsDirtyControlWord |
                  kCsDirtyPlaneMask | kCsDirtySurfacesA | kCsDirtySurfacesB;
  if (Capable()) bits |= kCsDirtyStageEnable;
  MarkCurrent(bits);
}

void EngineOwner3d::SetUpOperationStages(bool flag, uint32_t operation) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  const uint32_t base = flag ? 0x50100 : 0x40100;
  uint32_t control[4];
  for (uint32_t i = 0; i < 4; ++i) {
    control[i] = (base & ~0xFu) | (1u << i);
    GroupPacket p;
    p.G({static_cast<uint8_t>(0x80 + i), 0x77, 0x78, 0x79}, {control[i], 0, 0x32020001, 0x10001});
    if (Capable()) {
      p.G({0x70, 0x71, 0x7A}, {0, 0, 0});
    } else {
      p.G({0x70, 0x71}, {0, 0});
    }
    p.WriteTo(stream);
  }
  stream->ExecutePending();
  if (!Capable()) {
    MarkCurrent(0, kStageAllGroups, kAllOnes);
    return;
  }
  // Each slot reads its own unit: no stage is paired with another.
  GroupPacket p;
  p.G({0x80, 0x7A, 0x81, 0x7A}, {control[0], 0, control[1], 0})
      .G({0x82, 0x7A, 0x83, 0x7A}, {control[2], 0, control[3], 0})
      .G({0xBD, 0xC0}, {kFloat16, operation & ~0x200000u});
  p.WriteTo(stream);
  lastOperation = operation & ~0x200000u;
  stream->ExecutePending();
  MarkCurrent(kCsDirtyStageEnable | kCsDirtyControlWord, kStageAllGroups, kAllOnes);
}

void EngineOwner3d::EmitStageOperation(uint32_t operation, bool flag) {
  BmSecondaryInt* stream = Stream();
  if (stream == nullptr) return;
  packetMode = 2;
  if (operation == kStageOperationA) {
    GroupPacket p;
    p.G({0xC9, 0xB5}, {0, 0});
    p.WriteTo(stream);
    stream->ExecutePending();
    MarkCurrent(kCsDirtyFog);
  }
  {
    const uint32_t* w = current != nullptr ? current->operationBlock : nullptr;
    const uint32_t w10 = w != nullptr ? w[10] : 0;
    const uint32_t w14 = w != nullptr ? w[14] : 0;
    GroupPacket p;
    p.G({0xC0, 0xCA, 0xCB, 0xB2}, {operation, 0, 0x00010001, 0})
        .G({0xB9, 0xBF, 0x88, 0x89}, {1, 0, w10, (w14 & 0xC0FFFFFF) | 0x32000000});
    p.WriteTo(stream);
    lastOperation = operation;
    stream->ExecutePending();
  }
  SetUpOperationStages(flag, operation);
  {
    GroupPacket p;
    if (operation == kStageOperationA) {
      p.G({0x5B, 0x5E, 0x60, 0x59}, {0, 0, 0, 0}).G({0x60, 0x5A, 0x5E, 0x60}, {kFloat0_9, 0, kFloat0_9, 0});
    } else {
      p.G({0x5B, 0x5E, 0x60, 0x59}, {0, kFloat10, kFloat10, 0}).G({0x5E, 0x60, 0x20, 0x20}, {kFloat10, kFloat11, 0, 0});
    }
    p.G({0x5B, 0x5D, 0x5E, 0x63}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5E, 0x64}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5E, 0x65}, {0, 0, 0, 0})
        .G({0x5B, 0x5D, 0x5F, 0x66}, {0, 0, 0, 0});
    p.WriteTo(stream);
    stream->ExecutePending();
  }
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
  KernelWriteRegister(common, kInitialStateRegister, owner->initialStateValue);
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
