// The texture-unit block's emission into a sink of packets.h, inline so
// that the context state's emission runs it in one piece with its other
// blocks (the cursor and the dirty words stay in registers).
#pragma once

#include <string.h>

#include <bit>

#include "core/hot_inline.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/texture_units.h"

namespace texture_units_detail {

// The stage registers of one stage by its three dirty bits: the first
// group always, the second and third by bits 1 and 2. Image word k of the
// stage is record word k (words 2 to 13).
template <class Sink>
ORV_HOT_INLINE void PutStage(const TextureUnitBlock& block, Sink& sink, uint32_t i, uint32_t bits,
                                            bool capable) {
  const uint32_t* w = block.stages[i].words;
  if (PacketWords p = OpenPacket(
          sink, 5, PacketHeader(k3dIdxUnitControl0 + i, k3dIdxTexAddress, k3dIdxTexMode, k3dIdxTexDimensions)))
    p.Pair(w[1], w[11]).Copy<2>(&w[12]);  // control, address; mode, dimensions
  if ((bits & 2) != 0) {
    if (PacketWords p =
            OpenPacket(sink, 5, PacketHeader(k3dIdxTexFilter, k3dIdxTexWord585, k3dIdxTexWordD4, k3dIdxTexWordD8)))
      p.Pair(w[3], w[5]).Copy<2>(&w[9]);  // filter, word 585; words D4, D8
  }
  if ((bits & 4) != 0) {
    const PacketIndex pair = capable ? k3dIdxTexTable : kIdxDiscard;
    if (PacketWords p = OpenPacket(sink, 5, PacketHeader(k3dIdxTexWordCC, k3dIdxTexWordD0, k3dIdxTexWordC8, pair)))
      p.Copy<2>(&w[7]).Pair(w[6], w[2]);  // words CC, D0; word C8, the pair
  }
}

// The four stage control words (with the pair words on a capable device):
// the stages in use go to the discarding index, the stages from the count
// on take their (disabled) control words.
template <class Sink>
ORV_HOT_INLINE void PutStageControls(const TextureUnitBlock& block, Sink& sink, bool capable) {
  const uint32_t count = block.stageCount < kTuStages ? block.stageCount : kTuStages;
  const TextureStageRecord* st = block.stages;
  const uint32_t* pair = block.pairWords;
  if (!capable) {
    if (PacketWords p = OpenPacket(sink, 5, kTuStageHeader[count]))
      p.Pair(st[0].words[1], st[1].words[1]).Pair(st[2].words[1], st[3].words[1]);
  } else {
    if (PacketWords p = OpenPacket(sink, 10, kTuFirstPairHeader[count])) {
      p.Pair(st[0].words[1], pair[0]).Pair(st[1].words[1], pair[1]);
      p.Pair(kTuSecondPairHeader[count], st[2].words[1]).Pair(pair[2], st[3].words[1]).Word(pair[3]);
    }
  }
}

// One unit: its first group (the control word carrying the hardware unit
// number), and the second when both is set.
template <class Sink>
ORV_HOT_INLINE void PutUnit(const TextureUnitBlock& block, Sink& sink, uint32_t u, bool both) {
  const uint32_t* r = block.units[u].words;
  const uint32_t first = (r[2] & ~0x1Fu) | kTuHardwareUnit[u];
  constexpr uint32_t header =
      PacketHeader(k3dIdxStageControl, k3dIdxStageOption, k3dIdxStageSecond, k3dIdxStageOption2);
  if (PacketWords p = OpenPacket(sink, both ? 10 : 5, header)) {
    p.Pair(first, r[8]).Pair(r[3], r[9]);
    if (both)  // the four constants
      p.Word(PacketHeader(k3dIdxStageConst0, k3dIdxStageConst1, k3dIdxStageConst2, k3dIdxStageConst3)).Copy<4>(&r[4]);
  }
}

}  // namespace texture_units_detail

template <class Sink>
ORV_HOT_INLINE void TextureUnitBlock::EmitTo(Sink& out, bool capable, bool stageSupport) {
  using namespace texture_units_detail;
  // A copy the writers keep in a register: the stores of packet words
  // cannot then force the cursor back to memory. The dirty words likewise
  // are read once and written back once.
  Sink sink = out;
  ContextStateMasks& masks = *dirty;
  if ((flags[0] & kTuFlagStageEnable) != 0 || (masks.words[0] & kCsDirtyStageEnable) != 0) {
    if (PacketWords p = OpenPacket(sink, 2, PacketHeader(k3dIdxStretchBias))) p.Word(stageEnable);
    flags[0] &= ~kTuFlagStageEnable;
    masks.words[0] &= ~kCsDirtyStageEnable;
  }

  const uint32_t count = !stageSupport ? 0 : (stageCount < kTuStages ? stageCount : kTuStages);
  const uint32_t stageDirty = masks.words[1];
  uint32_t bits = (((1u << (3 * count)) - 1) | kTuAllBit) & stageDirty;
  if (bits != 0) {
    masks.words[1] = stageDirty & ~bits;
    // Bit 31 rewrites every stage in use.
    if ((bits & kTuAllBit) != 0) bits = ~0u;
    if (PacketWords p = OpenPacket(sink, 3, PacketHeader(k3dIdxUnitSync, k2dIdxSyncZero))) p.Pair(0, 0);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t b = bits >> (3 * i) & 7;
      if (b != 0) PutStage(*this, sink, i, b, capable);
    }
    if (count < kTuStages) {
      if (count == 0) {
        memset(&stages[0], 0, sizeof stages[0]);
        stages[0].words[1] = k3dUnitControlPass;
      }
      for (uint32_t i = count == 0 ? 1 : count; i < kTuStages; ++i) memset(&stages[i], 0, sizeof stages[i]);
    }
    PutStageControls(*this, sink, capable);
  }

  // Units: the dirty ones only, found by their bits. Any bit writes the
  // first group; the second bit adds the second.
  const uint32_t used = unitCount < kTuUnits ? unitCount : kTuUnits;
  const uint32_t usedBits = (1u << (2 * used)) - 1;
  const uint32_t unitDirty = masks.words[2];
  const uint32_t ubits = unitDirty & (usedBits | kTuAllBit);
  const bool all = (ubits & kTuAllBit) != 0;
  if (all) {
    for (uint32_t u = 0; u < used; ++u) PutUnit(*this, sink, u, true);
  } else {
    for (uint32_t any = (ubits | ubits >> 1) & 0x55555u; any != 0; any &= any - 1) {
      const uint32_t u = static_cast<uint32_t>(std::countr_zero(any)) / 2;
      PutUnit(*this, sink, u, (ubits >> (2 * u) & 2) != 0);
    }
  }
  masks.words[2] = unitDirty & ~usedBits & ~(all ? kTuAllBit : 0u);
  if (all) {
    const uint32_t end = used <= kTuSmallUnitSet ? kTuSmallUnitSet : kTuUnits;
    if (unitReset != 0 && used < end) {
      if (PacketWords p = OpenPacket(sink, 3 * (end - used))) {
        for (uint32_t u = used; u < end; ++u)
          p.Pair(PacketHeader(k3dIdxStageControl, k3dIdxStageSecond), 0x80u | kTuHardwareUnit[u])
              .Word(k3dStageSecondDefault);
      }
    }
  }
  out = sink;
}
