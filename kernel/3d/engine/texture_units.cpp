#include "kernel/3d/engine/texture_units.h"

#include <initializer_list>

#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/texture_units_emit.h"

namespace {

// Stage i's place in the control headers: its control word, or (for the
// stages below the count) the discarding index.
constexpr PacketIndex Place(PacketIndex index, uint32_t stage, uint32_t count) {
  return stage < count ? kIdxDiscard : index;
}
constexpr PacketIndex Control(uint32_t stage, uint32_t count) {
  return Place(k3dIdxUnitControl0 + stage, stage, count);
}
constexpr uint32_t ControlsHeader(uint32_t count) {
  return PacketHeader(Control(0, count), Control(1, count), Control(2, count), Control(3, count));
}
// Stages first and first + 1, each with its pair word.
constexpr uint32_t PairHeader(uint32_t first, uint32_t count) {
  return PacketHeader(Control(first, count), Place(k3dIdxTexTable, first, count), Control(first + 1, count),
                      Place(k3dIdxTexTable, first + 1, count));
}

}  // namespace

const uint32_t kTuStageHeader[5] = {ControlsHeader(0), ControlsHeader(1), ControlsHeader(2), ControlsHeader(3),
                                    ControlsHeader(4)};
const uint32_t kTuFirstPairHeader[5] = {PairHeader(0, 0), PairHeader(0, 1), PairHeader(0, 2), PairHeader(0, 3),
                                        PairHeader(0, 4)};
const uint32_t kTuSecondPairHeader[5] = {PairHeader(2, 0), PairHeader(2, 1), PairHeader(2, 2), PairHeader(2, 3),
                                         PairHeader(2, 4)};
static_assert(ControlsHeader(0) == 0x83828180 && ControlsHeader(1) == 0x83828120 && ControlsHeader(4) == 0x20202020);
static_assert(PairHeader(0, 0) == 0x7A817A80 && PairHeader(0, 1) == 0x7A812020 && PairHeader(0, 2) == 0x20202020);
static_assert(PairHeader(2, 2) == 0x7A837A82 && PairHeader(2, 3) == 0x7A832020 && PairHeader(2, 4) == 0x20202020);

bool IsPlainUnitFormat(uint32_t format) {
  switch (format) {
    case 2: case 3: case 8: case 9: case 10: case 14:
      return false;
    default:
      return true;
  }
}

uint32_t IsNarrowFormat(uint32_t format) {
  const uint32_t low = format & 0xF;
  if (low > 12) return 2;
  if (low == 4 || low == 5 || low == 12) return 0;
  if (low <= 3) return 1;
  return 2;
}

void TextureUnitBlock::LoadDefaults() {
  stageCount = 0;
  unitCount = 0;
  flags[0] = flags[1] = 0;
  unitReset = 0;
  flagWord = 0;
  stageEnable = kFloat32;
  scale[0] = scale[1] = kFloat32;
  for (uint32_t i = 0; i < kTuStages; ++i) {
    TextureStageRecord& s = stages[i];
    memset(&s, 0, sizeof s);
    s.words[1] = (1u << i) | kTuModeDisabled;
    s.words[2 + 5] = 0xFF000000;  // image word 5
    pairWords[i] = 0;
  }
  // The change bits and flag byte start clear too, so that a block taken
  // over never moves words nobody marked.
  for (TextureUnitRecord& u : units) memset(&u, 0, sizeof u);
}

void TextureUnitBlock::EmitStage(BmBufferPool* stream, uint32_t i, uint32_t bits, bool capable) {
  StreamSink sink{stream};
  texture_units_detail::PutStage(*this, sink, i, bits, capable);
}

void TextureUnitBlock::EmitStageControls(BmBufferPool* stream, bool capable) {
  StreamSink sink{stream};
  texture_units_detail::PutStageControls(*this, sink, capable);
}

void TextureUnitBlock::Emit(BmBufferPool* stream, bool capable, bool stageSupport) {
  WriteBounded(stream, kTuMaxEmitWords, [&](auto& sink) { EmitTo(sink, capable, stageSupport); });
}

// The stages that write only some colour channels: a last stage takes the
// channels no stage writes, and for each channel the stage that writes it
// last gets its registers.
void TextureUnitBlock::EmitMasked(BmBufferPool* stream, bool capable) {
  uint32_t count = stageCount < kTuStages ? stageCount : kTuStages;
  uint32_t channels = 0;
  for (uint32_t i = 0; i < count; ++i) channels |= stages[i].words[1] & kTuChannelMask;
  if (channels < kTuChannelMask && count < kTuStages) {
    memset(&stages[count], 0, sizeof stages[count]);
    stages[count].words[1] = (~channels & kTuChannelMask) | kTuModeDisabled;
    ++count;
    for (uint32_t i = count; i < kTuStages; ++i) memset(&stages[i], 0, sizeof stages[i]);
    stageCount = count;
  }
  uint32_t& stageDirty = StageDirty();
  const uint32_t bits = (((1u << (3 * count)) - 1) | kTuAllBit) & stageDirty;
  if (bits == 0) {
    WritePacket(stream, kPacketAllUnits, stages[0].words[1], stages[1].words[1], stages[2].words[1],
                stages[3].words[1]);
    return;
  }
  stageDirty &= ~bits;
  uint32_t chosen = 0;  // stage bits
  for (uint32_t channel = 0; channel < 4; ++channel) {
    for (uint32_t i = count; i-- > 0;) {
      const uint32_t c = stages[i].words[1];
      const bool enabled = (c & kTuModeMask) != kTuModeDisabled && (c >> 19 & 0xF) != 0;
      const bool pass = (c & kTuModeMask) == kTuModeDisabled && (c & 0xF00) == 0;
      if ((c >> channel & 1) != 0 && (enabled || pass)) {
        chosen |= 1u << i;
        break;
      }
    }
  }
  WritePacket(stream, PacketHeader(k3dIdxUnitSync, k2dIdxSyncZero), 0, 0);
  for (uint32_t i = 0; i < count; ++i)
    if ((chosen >> i & 1) != 0) EmitStage(stream, i, 7, capable);
  EmitStageControls(stream, capable);
}

void TextureUnitBlock::CountChanged(uint32_t oldCount, uint32_t newCount) {
  if (oldCount == newCount) return;
  UnitDirty() |= kTuAllBit;
  if ((oldCount <= kTuSmallUnitSet) != (newCount <= kTuSmallUnitSet)) UnitDirty() = 0xFFFFFFFF;
}

void TextureUnitBlock::CopyFrom(const TextureUnitBlock& source) {
  CountChanged(unitCount, source.unitCount);
  if (stageCount > source.stageCount) StageDirty() |= kTuAllBit;
  ContextStateMasks* keep = dirty;
  *this = source;
  dirty = keep;
}

void TextureUnitBlock::TakeChanges(TextureUnitBlock& source) {
  const uint32_t sourceFlags = source.flagWord;
  CountChanged(unitCount, source.unitCount);
  if (stageCount != 0 && source.stageCount == 0) StageDirty() |= kTuAllBit;
  stageCount = source.stageCount < kTuStages ? source.stageCount : kTuStages;
  unitCount = source.unitCount < kTuUnits ? source.unitCount : kTuUnits;
  flags[1] = source.flags[1];
  flags[0] = 1;
  if ((sourceFlags & 1) != 0) {
    stageEnable = source.stageEnable;
    dirty->words[0] |= kCsDirtyStageEnable;
  }
  for (uint32_t i = 0; i < stageCount; ++i) {
    uint32_t* from = source.stages[i].words;
    uint32_t* to = stages[i].words;
    const uint32_t change = from[0] & 7;
    from[0] = 0;
    // Image word k is record word k.
    if ((change & 1) != 0) {
      for (uint32_t k : {1u, 11u, 12u, 13u}) to[k] = from[k];
      pairWords[i] = source.pairWords[i];
    }
    if ((change & 2) != 0)
      for (uint32_t k : {3u, 4u, 5u, 9u, 10u}) to[k] = from[k];
    if ((change & 4) != 0)
      for (uint32_t k : {2u, 6u, 7u, 8u}) to[k] = from[k];
    StageDirty() |= change << (3 * i);
  }
  for (uint32_t u = 0; u < unitCount; ++u) {
    uint32_t* from = source.units[u].words;
    uint32_t* to = units[u].words;
    const uint32_t change = from[0] & 3;
    from[0] = 0;
    if ((change & 1) != 0)
      for (uint32_t k : {2u, 3u, 8u, 9u}) to[k] = from[k];
    if ((change & 2) != 0)
      for (uint32_t k : {4u, 5u, 6u, 7u}) to[k] = from[k];
    to[1] = (to[1] & ~0xFFu) | (from[1] & 0xFF);
    UnitDirty() |= change << (2 * u);
  }
  source.flagWord = 0;
}
