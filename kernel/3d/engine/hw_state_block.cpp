// The hardware state blocks' records and their flushes, and the texture
// coordinates of a blit quad.
#include "kernel/3d/engine/hw_state_block.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "kernel/3d/engine/packets.h"

namespace {

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// a / b, 0 for b = 0.
float Ratio(float a, float b) { return b != 0.0f ? a / b : 0.0f; }

}  // namespace

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

StageStateBlock::StageStateBlock() {
  for (HwStageRecord& s : stages) s = HwStageRecord{};
}

bool StageStateBlock::FlushPending() {
  if (pending == 0) return true;
  if (!EmitPending()) return false;
  pending = 0;
  emitted = 1;
  return true;
}

void RotateTexCoords(uint32_t turns, float& left, float& right, float& top, float& bottom) {
  const float l = left, r = right, t = top, b = bottom;
  switch (turns & 3) {
    case 1:
      left = 1.0f - b, right = 1.0f - t, top = l, bottom = r;
      break;
    case 2:
      left = 1.0f - r, right = 1.0f - l, top = 1.0f - b, bottom = 1.0f - t;
      break;
    case 3:
      left = t, right = b, top = 1.0f - r, bottom = 1.0f - l;
      break;
    default:
      break;
  }
}

bool ComputeBlitTexCoords(StageStateBlock& block, BmBufferPool* stream, const BlitRect& source,
                          const BlitRect& outer, const BlitRect& inner, uint32_t textureWidth,
                          uint32_t textureHeight, uint32_t rotation, uint32_t mirror, uint32_t halfTexelMode,
                          bool bias) {
  const float ow = static_cast<float>(int64_t{outer.right} - outer.left);
  const float oh = static_cast<float>(int64_t{outer.bottom} - outer.top);
  float left = Ratio(static_cast<float>(int64_t{inner.left} - outer.left), ow);
  float right = Ratio(static_cast<float>(int64_t{inner.right} - outer.left), ow);
  float top = Ratio(static_cast<float>(int64_t{inner.top} - outer.top), oh);
  float bottom = Ratio(static_cast<float>(int64_t{inner.bottom} - outer.top), oh);
  RotateTexCoords((0u - rotation) & 3, left, right, top, bottom);
  const float tw = static_cast<float>(textureWidth), th = static_cast<float>(textureHeight);
  const float sw = static_cast<float>(int64_t{source.right} - source.left);
  const float sh = static_cast<float>(int64_t{source.bottom} - source.top);
  const float su = Ratio(sw, tw), sv = Ratio(sh, th);
  const float uL = left * su + Ratio(static_cast<float>(source.left), tw);
  const float uR = right * su + Ratio(static_cast<float>(source.left), tw);
  const float vT = top * sv + Ratio(static_cast<float>(source.top), th);
  const float vB = bottom * sv + Ratio(static_cast<float>(source.top), th);
  const uint32_t turns = rotation & 3;
  const bool across = turns == 1 || turns == 3;
  for (uint32_t s = 0; s < kHwStageRecords; ++s) {
    const HwStageRecord& st = block.stages[s];
    if (StageStateBlock::Disabled(st)) continue;
    const float w = static_cast<float>(st.width), h = static_cast<float>(st.height);
    // The steps per destination pixel, in the stage's texels (the source's
    // sides exchanged when turned a quarter).
    float du = Ratio(su * st.uScale * w, across ? sh : sw);
    float dv = Ratio(sv * st.vScale * h, across ? sw : sh);
    if ((mirror & 1) != 0) du = -du;
    if (turns == 2 || turns == 3) du = -du;
    if ((mirror & 2) != 0) dv = -dv;
    if (turns == 1 || turns == 2) dv = -dv;
    float hu = Ratio(0.5f, w), hv = Ratio(0.5f, h);
    if ((halfTexelMode & 1) == 0 && du != 0.0f) hu *= du;
    if ((halfTexelMode & 2) == 0 && dv != 0.0f) hv *= dv;
    float l = uL * st.uScale + (st.uOffset + hu), r = uR * st.uScale + (st.uOffset + hu);
    float t = vT * st.vScale + (st.vOffset + hv), b = vB * st.vScale + (st.vOffset + hv);
    if (bias) {
      t -= Ratio(0.5f, h);
      b -= Ratio(0.5f, h);
    }
    if ((mirror & 1) != 0) {
      const float x = l;
      l = r, r = x;
    }
    if ((mirror & 2) != 0) {
      const float x = t;
      t = b, b = x;
    }
    const float corners[4][3][2] = {{{l, t}, {r, t}, {l, b}},
                                     {{l, b}, {l, t}, {r, b}},
                                     {{r, b}, {l, b}, {r, t}},
                                     {{r, t}, {r, b}, {l, t}}};
    const float(&c)[3][2] = corners[turns];
    const uint8_t unit = static_cast<uint8_t>(0x63 + s);
    StreamSink sink{stream};
    if (!PutPacket(sink, PacketHeader(0x58, 0x5D, 0x5E, unit), 0, 0, FloatBits(c[0][1]), FloatBits(c[0][0]),
                   PacketHeader(0x59, 0x5D, 0x5E, unit), 0, 0, FloatBits(c[1][1]), FloatBits(c[1][0]),
                   PacketHeader(0x5A, 0x5D, 0x5E, unit), 0, 0, FloatBits(c[2][1]), FloatBits(c[2][0])))
      return false;
  }
  return true;
}
