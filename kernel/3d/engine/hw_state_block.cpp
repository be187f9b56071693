// The hardware state blocks: unit and stage register images written into a
// DMA stream as count-prefixed register groups, or folded into a context
// state, and the texture coordinates of a blit quad.
#include "kernel/3d/engine/hw_state_block.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/float_bits.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"

const uint32_t kHwCoordinateFormats[5][kHwStageRecords] = {
    {0, 0, 0, 0},
    {0x500000, 0x500000, 0x500000, 0x500000},
    {0x500000, 0x500000, 0x500000, 0x500000},
    {0x1600000, 0x1600000, 0x400000, 0x400000},
    {0x1600000, 0x1600000, 0x1600000, 0x1600000},
};

namespace {

constexpr float kLodLimitFew = 32.0f;   // below three stages
constexpr float kLodLimitMany = 16.0f;
constexpr uint32_t kFewStages = 3;

// The most words Emit writes: two packets of a count word and five words
// for every record.
constexpr uint32_t kHwMaxEmitWords = kHwUnitRecords * 2 * 6;
// The most words ComputeBlitTexCoords writes: one packet of a count word
// and three groups of five words for every stage.
constexpr uint32_t kHwMaxCoordinateWords = kHwStageRecords * 16;

}  // namespace

// ---- Units -------------------------------------------------------------------------------------

HwStateBlock::HwStateBlock() {
  for (uint32_t i = 0; i < kHwUnitRecords; ++i) {
    units[i] = HwUnitRecord{};
    units[i].a = i == 0 ? 0 : kHwWordADefault;
    units[i].b = kHwWordBDefault;
  }
}

void HwStateBlock::ResetRecord(uint32_t index) {
  HwUnitRecord& r = units[index];
  r.flags = 0;
  r.a = kHwWordADefault;
  r.b = kHwWordBDefault;
}

bool HwStateBlock::Flush(uint8_t* wasPending) {
  if (wasPending != nullptr) *wasPending = pending;
  if (pending != 0) {
    if (!EmitPending()) return false;
    pending = 0;
    emitted = 1;
  }
  for (uint32_t i = unitCount, end = RecordsInUse(); i < end; ++i) ResetRecord(i);
  return true;
}

bool HwStateBlock::Emit(BmBufferPool* stream) {
  if (!Flush()) return false;
  emitted = 1;
  bool written = true;
  // Straight at the cursor when the buffer holds every group the records
  // can give (one check for the run), else packet by packet.
  WriteBounded(stream, kHwMaxEmitWords, [this, &written](auto& sink) {
    for (uint32_t i = 0, n = RecordsInUse(); i < n && written; ++i) {
      HwUnitRecord& r = units[i];
      r.a = (r.a & ~kHwUnitNumberMask) | kHwUnitNumber[i];
      const uint32_t first = (r.flags & kHwUnitFull) != 0 ? kPacketStageWithOption : kHwHeaderPadded;
      written = PutPacket(sink, first, r.a, r.b, r.c, r.d);
      if (written && (r.flags & kHwUnitSecondGroup) != 0)
        written = PutPacket(sink, kHwHeaderSecond, r.e, r.f, r.g, r.h);
    }
  });
  emitted = 0;
  return written;
}

bool HwStateBlock::ApplyTo(ContextState3d& state) {
  if (!Flush()) return false;
  TextureUnitBlock& block = state.textureUnits;
  const uint32_t n = RecordsInUse();
  uint32_t changed = block.unitCount != n ? kTuAllBit : 0;
  block.unitCount = n;
  // The unit images by register: stage control, second, the four
  // constants, option and option 2 in record words 2 to 9. A and B, then E-H, are neighbours in both
  // layouts: copied as runs. Words 8 and 9 are C and D of a full record,
  // else A and B less the derived bits: one pair picked whole.
  constexpr uint64_t kDerived = uint64_t{~kHwDerivedClear} << 32 | ~kHwDerivedClear;
  for (uint32_t i = 0; i < n; ++i) {
    const HwUnitRecord& r = units[i];
    uint32_t* w = block.units[i].words;
    uint64_t ab, cd;
    uint32_t eh[4];
    memcpy(&ab, &r.a, sizeof ab);
    memcpy(&cd, &r.c, sizeof cd);
    memcpy(eh, &r.e, sizeof eh);
    const uint64_t last = (r.flags & kHwUnitFull) != 0 ? cd : ab & kDerived;
    memcpy(&w[2], &ab, sizeof ab);
    memcpy(&w[4], eh, sizeof eh);
    memcpy(&w[8], &last, sizeof last);
  }
  changed |= (1u << (2 * n)) - 1;
  if (block.dirty != nullptr) block.UnitDirty() |= changed;
  return true;
}

bool LevelCopyState::EmitPending() {
  units[0] = HwUnitRecord{};
  units[0].b = (kHwWordBDefault & ~7u) | 3;
  unitCount = 1;
  return true;
}

// ---- Stages ------------------------------------------------------------------------------------

StageStateBlock::StageStateBlock() {
  for (HwStageRecord& s : stages) {
    s = HwStageRecord{};
  }
}

bool StageStateBlock::FlushPending() {
  if (pending == 0) return true;
  if (!EmitPending()) return false;
  pending = 0;
  emitted = 1;
  return true;
}

bool StageStateBlock::ApplyTo(ContextState3d& state) {
  const bool result = FlushPending();
  if (!result) return false;
  TextureUnitBlock& block = state.textureUnits;
  const uint32_t count = StagesInUse();
  uint32_t changed = block.stageCount > count ? kTuAllBit : 0;
  block.stageCount = count;
  // Stage image: word 1 the control word, word 2 the coordinate format,
  // words 3-4 the pair, words 5-13 the nine images.
  // The eleven words from the pair on go as three 16-byte copies, the last
  // overlapping the second by one word (written twice with one value):
  // fewer stores than a copy of 44 bytes, and each later read of the
  // emission lies within one of them.
  for (uint32_t i = 0; i < count; ++i) {
    const HwStageRecord& s = stages[i];
    uint32_t* w = block.stages[i].words;
    Put2(&w[1], s.words[0], kHwCoordinateFormats[count][i]);
    memcpy(&w[3], &s.words[1], 16);  // the pair, then the nine images
    memcpy(&w[7], &s.words[5], 16);
    memcpy(&w[10], &s.words[8], 16);
  }
  changed |= (1u << (3 * count)) - 1;
  if (block.dirty != nullptr) block.StageDirty() |= changed;
  const EngineOwner3d* owner = state.owner;
  if (owner != nullptr && (owner->capabilities & kEoCapabilityBits) != 0) {
    state.lodControl |= 1;
    block.stageEnable = FloatBits(count < kFewStages ? kLodLimitFew : kLodLimitMany);
    state.dirty.words[0] |= kCsDirtyStageEnable;
  }
  return result;
}

bool StageStateBlock::EmitStage(const HwStageRecord& s, uint32_t number, BmBufferPool* stream) {
  StreamSink sink{stream};
  const PacketIndex control = k3dIdxUnitControl0 + number;
  const uint32_t* w = s.words;
  if (Disabled(s)) return PutPacket(sink, PacketHeader(control), w[0]);
  return PutPacket(sink, PacketHeader(control, k3dIdxTexFilter, k3dIdxTexWord585, k3dIdxTexWordC8), w[0], w[1], w[3],
                   w[4]) &&
         PutPacket(sink, PacketHeader(k3dIdxTexWordCC, k3dIdxTexWordD0, k3dIdxTexWordD4, k3dIdxTexWordD8), w[5], w[6],
                   w[7], w[8]) &&
         PutPacket(sink, PacketHeader(k3dIdxTexAddress, k3dIdxTexMode, k3dIdxTexDimensions, kIdxDiscard), w[9], w[10],
                   w[11], w[0]);
}

// ---- Blit coordinates --------------------------------------------------------------------------

void RotateTexCoords(uint32_t turns, float& left, float& right, float& top, float& bottom) {
  const float l = left, r = right, t = top, b = bottom;
  switch (turns & 3) {
    case 1:
      left = 1 - b, right = 1 - t, top = l, bottom = r;
      break;
    case 2:
      left = 1 - r, right = 1 - l, top = 1 - b, bottom = 1 - t;
      break;
    case 3:
      left = t, right = b, top = 1 - r, bottom = 1 - l;
      break;
    default:
      break;
  }
}

namespace {

// Four floats worked lane by lane (one instruction for the four divisions
// where the processor has one); every lane rounds as the same scalar
// operation does.
using Float4 = float __attribute__((vector_size(16)));
using Bits4 = int32_t __attribute__((vector_size(16)));

// a / b lane by lane; a zero divisor gives 0 (an empty rectangle or
// texture maps to the origin).
Float4 Ratios(Float4 a, Float4 b) {
  const Bits4 nonzero = b != Float4{};
  const Float4 one = {1.0f, 1.0f, 1.0f, 1.0f};
  const Float4 divisor = reinterpret_cast<Float4>((reinterpret_cast<Bits4>(b) & nonzero) |
                                                  (reinterpret_cast<Bits4>(one) & ~nonzero));
  return reinterpret_cast<Float4>(reinterpret_cast<Bits4>(a / divisor) & nonzero);
}

float Difference(int32_t a, int32_t b) { return static_cast<float>(static_cast<int64_t>(a) - b); }

}  // namespace

bool ComputeBlitTexCoords(StageStateBlock& block, BmBufferPool* stream, const BlitRect& src, const BlitRect& outer,
                          const BlitRect& inner, uint32_t textureWidth, uint32_t textureHeight, uint32_t rotation,
                          uint32_t mirror, uint32_t halfTexelMode, bool bias) {
  const float outerWidth = Difference(outer.right, outer.left);
  const float outerHeight = Difference(outer.bottom, outer.top);
  const float width = static_cast<float>(textureWidth);
  const float height = static_cast<float>(textureHeight);
  const float srcWidth = Difference(src.right, src.left);
  const float srcHeight = Difference(src.bottom, src.top);
  // The inner rectangle within the outer one, and the source's size and
  // origin within the texture.
  const Float4 place = Ratios(Float4{Difference(inner.left, outer.left), Difference(inner.right, outer.left),
                                     Difference(inner.top, outer.top), Difference(inner.bottom, outer.top)},
                              Float4{outerWidth, outerWidth, outerHeight, outerHeight});
  const Float4 scale = Ratios(Float4{srcWidth, srcHeight, static_cast<float>(src.left), static_cast<float>(src.top)},
                              Float4{width, height, width, height});
  float left = place[0], right = place[1], top = place[2], bottom = place[3];
  RotateTexCoords((0u - rotation) & 3, left, right, top, bottom);

  const float su = scale[0];
  const float sv = scale[1];
  const float uL = left * su + scale[2];
  const float uR = right * su + scale[2];
  const float vT = top * sv + scale[3];
  const float vB = bottom * sv + scale[3];
  const uint32_t turn = rotation & 3;
  const bool sideways = turn == 1 || turn == 3;
  const float acrossTexels = sideways ? srcHeight : srcWidth;
  const float downTexels = sideways ? srcWidth : srcHeight;
  const bool keepU = halfTexelMode == 1 || halfTexelMode == 3;
  const bool keepV = halfTexelMode == 2 || halfTexelMode == 3;

  bool written = true;
  // Straight at the cursor when the buffer holds the packets of every
  // stage (one check for the run), else packet by packet.
  WriteBounded(stream, kHwMaxCoordinateWords, [&](auto& sink) {
    for (uint32_t s = 0; s < kHwStageRecords && written; ++s) {
      const HwStageRecord& stage = block.stages[s];
      if (StageStateBlock::Disabled(stage)) continue;
      const float w = static_cast<float>(stage.width);
      const float h = static_cast<float>(stage.height);
      // The texel steps across and down, and half a texel of the stage.
      const Float4 step = Ratios(Float4{su * stage.uScale * w, sv * stage.vScale * h, 0.5f, 0.5f},
                                 Float4{acrossTexels, downTexels, w, h});
      float du = step[0];
      float dv = step[1];
      if ((mirror & 1) != 0) du = -du;
      if (turn == 2 || turn == 3) du = -du;
      if ((mirror & 2) != 0) dv = -dv;
      if (turn == 1 || turn == 2) dv = -dv;
      float hu = step[2];
      float hv = step[3];
      if (!keepU && du != 0.0f) hu *= du;
      if (!keepV && dv != 0.0f) hv *= dv;
      float uL2 = uL * stage.uScale + (stage.uOffset + hu);
      float uR2 = uR * stage.uScale + (stage.uOffset + hu);
      float vT2 = vT * stage.vScale + (stage.vOffset + hv);
      float vB2 = vB * stage.vScale + (stage.vOffset + hv);
      if (bias) {
        vT2 -= step[3];
        vB2 -= step[3];
      }
      if ((mirror & 1) != 0) {
        const float t = uL2;
        uL2 = uR2;
        uR2 = t;
      }
      if ((mirror & 2) != 0) {
        const float t = vT2;
        vT2 = vB2;
        vB2 = t;
      }
      float corner[3][2];  // (u, v)
      switch (turn) {
        case 0:
          corner[0][0] = uL2, corner[0][1] = vT2, corner[1][0] = uR2, corner[1][1] = vT2;
          corner[2][0] = uL2, corner[2][1] = vB2;
          break;
        case 1:
          corner[0][0] = uL2, corner[0][1] = vB2, corner[1][0] = uL2, corner[1][1] = vT2;
          corner[2][0] = uR2, corner[2][1] = vB2;
          break;
        case 2:
          corner[0][0] = uR2, corner[0][1] = vB2, corner[1][0] = uL2, corner[1][1] = vB2;
          corner[2][0] = uR2, corner[2][1] = vT2;
          break;
        default:
          corner[0][0] = uR2, corner[0][1] = vT2, corner[1][0] = uR2, corner[1][1] = vB2;
          corner[2][0] = uL2, corner[2][1] = vT2;
          break;
      }
      // Each corner k of the quad: place k's w3 and w2 clear, then v and u
      // into the stage's texture slot.
      const PacketIndex slot = k3dIdxVertexTex0 + s;
      written = PutPacket(sink, PacketHeader(k3dIdxVertexW3, k3dIdxVertexW2, k3dIdxVertexW1, slot), 0, 0,
                          FloatBits(corner[0][1]), FloatBits(corner[0][0]),
                          PacketHeader(k3dIdxVertexW3 + 1, k3dIdxVertexW2, k3dIdxVertexW1, slot), 0, 0,
                          FloatBits(corner[1][1]), FloatBits(corner[1][0]),
                          PacketHeader(k3dIdxVertexW3 + 2, k3dIdxVertexW2, k3dIdxVertexW1, slot), 0, 0,
                          FloatBits(corner[2][1]), FloatBits(corner[2][0]));
    }
  });
  return written;
}
