#include "kernel/3d/engine/texture_units.h"

#include <bit>

#include "kernel/3d/engine/packets.h"
#include "kernel/3d/render/context_state.h"

const uint32_t kTuStageHeader[5] = {0x83828180, 0x83828120, 0x83822020, 0x83202020, 0x20202020};
const uint32_t kTuFirstPairHeader[5] = {0x7A817A80, 0x7A812020, 0x20202020, 0x20202020, 0x20202020};
const uint32_t kTuSecondPairHeader[5] = {0x7A837A82, 0x7A837A82, 0x7A837A82, 0x7A832020, 0x20202020};

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

namespace {

// The stage registers of one stage by its three dirty bits.
template <class Sink>
void PutStage(const TextureUnitBlock& block, Sink& sink, uint32_t i, uint32_t bits, bool capable) {
  // Image word k of the stage is record word k (words 2 to 13).
  const uint32_t* w = block.stages[i].words;
  PutPacket(sink, PacketHeader(static_cast<uint8_t>(0x80 + i), 0x77, 0x78, 0x79), w[1], w[11], w[12], w[13]);
  if ((bits & 2) != 0) PutPacket(sink, PacketHeader(0x70, 0x71, 0x75, 0x76), w[3], w[5], w[9], w[10]);
  if ((bits & 4) != 0) {
    PutPacket(sink, PacketHeader(0x73, 0x74, 0x72, capable ? uint8_t{0x7A} : kDummyIndex), w[7], w[8], w[6], w[2]);
  }
}

// The four stage control words (with the pair words on a capable device),
// the stages past the count going to the dummy register.
template <class Sink>
void PutStageControls(const TextureUnitBlock& block, Sink& sink, bool capable) {
  const uint32_t count = block.stageCount < kTuStages ? block.stageCount : kTuStages;
  const TextureStageRecord* st = block.stages;
  const uint32_t* pair = block.pairWords;
  if (!capable) {
    PutPacket(sink, kTuStageHeader[count], st[0].words[1], st[1].words[1], st[2].words[1], st[3].words[1]);
  } else {
    PutPacket(sink, kTuFirstPairHeader[count], st[0].words[1], pair[0], st[1].words[1], pair[1],
              kTuSecondPairHeader[count], st[2].words[1], pair[2], st[3].words[1], pair[3]);
  }
}

}  // namespace

void TextureUnitBlock::EmitStage(BmBufferPool* stream, uint32_t i, uint32_t bits, bool capable) {
  StreamSink sink{stream};
  PutStage(*this, sink, i, bits, capable);
}

void TextureUnitBlock::EmitStageControls(BmBufferPool* stream, bool capable) {
  StreamSink sink{stream};
  PutStageControls(*this, sink, capable);
}

void TextureUnitBlock::Emit(BmBufferPool* stream, bool capable, bool stageSupport) {
  WriteBounded(stream, kTuMaxEmitWords, [&](auto& sink) { EmitTo(sink, capable, stageSupport); });
}

template <class Sink>
void TextureUnitBlock::EmitTo(Sink& out, bool capable, bool stageSupport) {
  // A copy the loops keep in a register: the stores of packet words cannot
  // then force the cursor back to memory.
  Sink sink = out;
  uint32_t& stageDirty = StageDirty();
  uint32_t& unitDirty = UnitDirty();
  if ((flags[0] & kTuFlagStageEnable) != 0 || (dirty->words[0] & kCsDirtyStageEnable) != 0) {
    PutPacket(sink, PacketHeader(0xBD), stageEnable);
    flags[0] &= ~kTuFlagStageEnable;
    dirty->words[0] &= ~kCsDirtyStageEnable;
  }

  const uint32_t count = !stageSupport ? 0 : (stageCount < kTuStages ? stageCount : kTuStages);
  uint32_t bits = (((1u << (3 * count)) - 1) | kTuAllBit) & stageDirty;
  if (bits != 0) {
    stageDirty &= ~bits;
    // Bit 31 rewrites every stage in use.
    if ((bits & kTuAllBit) != 0) bits |= (1u << (3 * count)) - 1;
    PutPacket(sink, PacketHeader(0x87, 0xDD), 0, 0);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t b = bits >> (3 * i) & 7;
      if (b != 0) PutStage(*this, sink, i, (bits & kTuAllBit) != 0 ? 7 : b, capable);
    }
    if (count < kTuStages) {
      if (count == 0) {
        memset(&stages[0], 0, sizeof stages[0]);
        stages[0].words[1] = kTuPassStage;
      }
      for (uint32_t i = count == 0 ? 1 : count; i < kTuStages; ++i) memset(&stages[i], 0, sizeof stages[i]);
    }
    PutStageControls(*this, sink, capable);
  }

  // Units: the dirty ones only, found by their bits. Any bit writes the
  // first group; the second bit adds the second.
  const uint32_t used = unitCount < kTuUnits ? unitCount : kTuUnits;
  const uint32_t usedBits = (1u << (2 * used)) - 1;
  const uint32_t mask = usedBits | kTuAllBit;
  const uint32_t ubits = unitDirty & mask;
  const bool all = (ubits & kTuAllBit) != 0;
  auto putUnit = [&](uint32_t u, bool both) {
    const uint32_t* r = units[u].words;
    const uint32_t first = (r[2] & ~0x1Fu) | kTuHardwareUnit[u];
    if (both) {
      PutPacket(sink, PacketHeader(0x99, 0x98, 0x9B, 0x9A), first, r[8], r[3], r[9],
                PacketHeader(0x9E, 0x9F, 0xA0, 0xA1), r[4], r[5], r[6], r[7]);
    } else {
      PutPacket(sink, PacketHeader(0x99, 0x98, 0x9B, 0x9A), first, r[8], r[3], r[9]);
    }
  };
  if (all) {
    for (uint32_t u = 0; u < used; ++u) putUnit(u, true);
  } else {
    for (uint32_t any = (ubits | ubits >> 1) & 0x55555u; any != 0; any &= any - 1) {
      const uint32_t u = static_cast<uint32_t>(std::countr_zero(any)) / 2;
      putUnit(u, (ubits >> (2 * u) & 2) != 0);
    }
  }
  unitDirty &= ~usedBits;
  if (all) {
    unitDirty &= ~kTuAllBit;
    const uint32_t end = used <= kTuSmallUnitSet ? kTuSmallUnitSet : kTuUnits;
    if (unitReset != 0 && used < end) {
      if (uint32_t* at = sink.Take(1 + 3 * (end - used))) {
        *at++ = 3 * (end - used) - 1;
        for (uint32_t u = used; u < end; ++u) {
          *at++ = PacketHeader(0x99, 0x9B);
          *at++ = 0x80u | kTuHardwareUnit[u];
          *at++ = 0x400400;
        }
      }
    }
  }
  out = sink;
}

template void TextureUnitBlock::EmitTo<StreamSink>(StreamSink&, bool, bool);
template void TextureUnitBlock::EmitTo<DirectSink>(DirectSink&, bool, bool);

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
    GroupPacket p;
    p.G({0x80, 0x81, 0x82, 0x83},
        {stages[0].words[1], stages[1].words[1], stages[2].words[1], stages[3].words[1]});
    p.WriteTo(stream);
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
  GroupPacket sync;
  sync.G({0x87, 0xDD}, {0, 0});
  sync.WriteTo(stream);
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
