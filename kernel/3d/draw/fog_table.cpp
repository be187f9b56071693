// The fog table: 64 samples of the fog factor over distance (range fog) or
// over depth at the non-uniform sample points, each entry carrying its
// factor and the slope to the next sample.
#include "kernel/3d/draw/fog_table.h"

#include <string.h>

#include "core/float_bits.h"
#include "core/utils.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"

namespace {

constexpr float SampleOffset(uint32_t i) {
  if (i >= 64) return 0.0f;
  if (i >= 60) return (1.0f - static_cast<float>(i - 60) * 0.25f) / 32768.0f;
  float scale = 1.0f;
  for (uint32_t k = 0; k < i / 4; ++k) scale *= 0.5f;
  return scale * (1.0f - static_cast<float>(i % 4) / 8.0f);
}

constexpr uint32_t kMaxMark = 0xFFFFFF;
constexpr uint32_t kEntryKeptBits = 0x7F0000;
constexpr int32_t kSlopeMin = -256;
constexpr int32_t kSlopeMax = 255;

bool IsNan(float x) { return x != x; }

// A float clamped to [lo, hi] and truncated; NaN gives 0 clamped.
int32_t ClampToInt(float x, int32_t lo, int32_t hi) {
  if (IsNan(x)) return lo > 0 ? lo : (hi < 0 ? hi : 0);
  if (x <= static_cast<float>(lo)) return lo;
  if (x >= static_cast<float>(hi)) return hi;
  return static_cast<int32_t>(x);
}

uint32_t Mark(float depth) {
  return static_cast<uint32_t>(ClampToInt(depth * static_cast<float>(kMaxMark), 0, static_cast<int32_t>(kMaxMark)));
}


}  // namespace

const float FogSampleOffsets[kFogSamples] = {
#define ORV_FOG_ROW(i) SampleOffset(i), SampleOffset(i + 1), SampleOffset(i + 2), SampleOffset(i + 3),
    ORV_FOG_ROW(0) ORV_FOG_ROW(4) ORV_FOG_ROW(8) ORV_FOG_ROW(12) ORV_FOG_ROW(16) ORV_FOG_ROW(20)
    ORV_FOG_ROW(24) ORV_FOG_ROW(28) ORV_FOG_ROW(32) ORV_FOG_ROW(36) ORV_FOG_ROW(40) ORV_FOG_ROW(44)
    ORV_FOG_ROW(48) ORV_FOG_ROW(52) ORV_FOG_ROW(56) ORV_FOG_ROW(60)
#undef ORV_FOG_ROW
    SampleOffset(64)};

FogTable::FogTable() : valid(1) {
  ownRecord_[kFogRecordEnd] = kFogMarkEndDefault;
}

bool FogTable::Bind(RenderContext3d* renderContext) {
  if (renderContext == nullptr) return false;
  context = renderContext;
  if (renderContext->contextState != nullptr) record_ = renderContext->contextState->fogBlock;
  MarkDirty(kCsDirtyFog);
  return true;
}

void FogTable::MarkDirty(uint32_t bits) {
  if (context != nullptr && context->contextState != nullptr) context->contextState->dirty.words[0] |= bits;
}

float FogTable::DepthToDistance(float z) const {
  return nearTimesFar / (farPlane - (z - depthOffset) / depthScale * farMinusNear);
}

float FogTable::DistanceToDepth(float d) const {
  return (farPlane / farMinusNear - nearTimesFar / (farMinusNear * d)) * depthScale + depthOffset;
}

float FogTable::FogFactor(float x) const {
  const float d = inputIsDistance == 0 ? DepthToDistance(x) : x;
  float f;
  if (mode == kFogExp) {
    f = static_cast<float>(LocExp(-static_cast<double>(density) * d));
  } else if (mode == kFogExp2) {
    const double t = static_cast<double>(density) * d;
    f = static_cast<float>(LocExp(-(t * t)));
  } else {
    f = (end - d) * linearScale;
  }
  // A factor of no number (0 x infinity, infinity - infinity) is no fog.
  return IsNan(f) ? 1.0f : f;
}

void FogTable::TakeState(const FogState& state) {
  mode = state.mode;
  density = state.density;
  start = state.start;
  end = state.end;
  linearScale = end == start ? kFogLinearScaleFlat : 1.0f / (end - start);
  if (IsNan(linearScale)) linearScale = kFogLinearScaleFlat;
  nearPlane = state.nearPlane;
  farPlane = state.farPlane;
  farMinusNear = farPlane - nearPlane;
  nearTimesFar = nearPlane * farPlane;
  depthOffset = state.depthOffset;
  // A depth range of no extent maps every depth to its offset.
  depthScale = state.depthScale != 0.0f && !IsNan(state.depthScale) ? state.depthScale : 1.0f;
}

void FogTable::PutEntry(uint32_t i, float f0, float slope) {
  uint32_t& entry = record_[kFogRecordEntries + i];
  const uint32_t value = static_cast<uint32_t>(ClampToInt(f0 * 255.0f, 0, 255));
  const int32_t scaled = ClampToInt(slope * 255.0f, kSlopeMin, kSlopeMax);
  entry = (i & 0x3F) | value << 8 | (entry & kEntryKeptBits) | (static_cast<uint32_t>(scaled) & 0x1FF) << 23;
}

void FogTable::BuildDistanceTable() {
  linearScale = end == start ? kFogLinearScaleFlat : 1.0f / (end - start);
  if (IsNan(linearScale)) linearScale = kFogLinearScaleFlat;
  inputIsDistance = 1;
  const bool flat = (mode != kFogExp && mode != kFogExp2) && start == end;
  for (uint32_t i = 0; i < kFogEntries; ++i) {
    const float f0 = FogFactor(nearPlane + static_cast<float>(i) / 64.0f * farMinusNear);
    const float f1 = FogFactor(nearPlane + static_cast<float>(i + 1) / 64.0f * farMinusNear);
    float slope = f1 - f0;
    if (flat) {
      slope = 0.0f;
    } else if (f1 < 0.0f) {
      if (f0 < 0.0f)
        slope = 0.0f;
      else if (f0 > 0.0f)
        slope = -f0;
    } else if (f1 > 1.0f) {
      if (f0 > 1.0f) slope = 0.0f;
    } else if (f1 < 1.0f && f0 > 1.0f) {
      slope = f1 - 1.0f;
    }
    PutEntry(i, f0, slope);
  }
  uint32_t& control = record_[kFogRecordControl];
  control = (control & ~(kFogControlDepthTable | kFogControlDistanceTable)) | kFogControlDistanceTable;
  record_[kFogRecordNear] = FloatBits(nearPlane);
  record_[kFogRecordFar] = FloatBits(farPlane);
}

void FogTable::BuildDepthTable() {
  inputIsDistance = 0;
  record_[kFogRecordStart] = kFogMarkStartDefault;
  record_[kFogRecordEnd] = kFogMarkEndDefault;
  alternateSampling = 0;
  const bool fromNear = alternateSampling == 0;
  auto depthAt = [&](uint32_t i) { return fromNear ? 1.0f - FogSampleOffsets[i] : FogSampleOffsets[i]; };
  const bool flat = (mode != kFogExp && mode != kFogExp2) && start == end;

  uint32_t& control = record_[kFogRecordControl];
  control = (control & ~(kFogControlDepthTable | kFogControlDistanceTable | kFogControlFromNear)) |
            kFogControlDepthTable | (fromNear ? kFogControlFromNear : 0);
  for (uint32_t i = 0; i < kFogEntries; ++i) {
    const float z0 = depthAt(i);
    const float z1 = depthAt(i + 1);
    const float f0 = FogFactor(z0);
    const float f1 = FogFactor(z1);
    float slope = f1 - f0;
    if (flat) {
      slope = 0.0f;
    } else if (f1 < 0.0f) {
      if (f0 < 0.0f) {
        slope = 0.0f;
      } else if (f0 > 0.0f) {
        slope = slope > -1.0f ? slope : -1.0f;
        // The factor reaches 0 between the two samples: fog is whole from
        // there on.
        const float step = z1 - z0;
        if (step != 0.0f && slope != 0.0f) {
          const uint32_t mark = Mark(z0 - f0 / (slope / step)) & 0xFFFF00;
          record_[kFogRecordEnd] = mark;
        }
      }
    } else if (f1 > 1.0f) {
      if (f0 > 1.0f) slope = 0.0f;
    } else if (f1 < 1.0f && f0 > 1.0f) {
      slope = f1 - 1.0f;
      record_[kFogRecordStart] = Mark(z0);
    }
    PutEntry(i, f0, slope);
  }
}

bool FogTable::Update(const FogState& state) {
  TakeState(state);
  uint32_t& control = record_[kFogRecordControl];
  if (state.enabled == 0) {
    control &= ~(kFogControlOn | kFogControlDepthTable | kFogControlDistanceTable | kFogControlFromNear);
    MarkDirty(kCsDirtyFog);
    return true;
  }
  control |= kFogControlOn;
  if (state.range != 0)
    BuildDistanceTable();
  else
    BuildDepthTable();
  MarkDirty(kCsDirtyFog | kCsDirtyFogTable);
  return true;
}

// ---- The render context's fog unit -------------------------------------------------------------

bool FogTableBind(RenderContext3d* context) { return context != nullptr && context->fogTable.Bind(context); }

FogState FogStateOf(const RenderContext3d* context) {
  const RenderState3d& rs = context->state;
  FogState s;
  s.enabled = rs.fog.enables & 1;
  s.range = (rs.fog.enables >> 1) & 1;
  s.mode = rs.fog.tableMode != 0 ? rs.fog.tableMode : rs.fog.vertexMode;
  s.density = BitsFloat(rs.fog.density);
  s.start = BitsFloat(rs.fog.start);
  s.end = BitsFloat(rs.fog.end);
  // The projection's depth terms: z' = q z + t with q = f / (f - n) and
  // t = -n f / (f - n) give n = -t / q and f = t / (1 - q).
  const float q = BitsFloat(rs.vertex.projection.m[10]);
  const float t = BitsFloat(rs.vertex.projection.m[14]);
  if (q != 0.0f && q != 1.0f) {
    s.nearPlane = -t / q;
    s.farPlane = t / (1.0f - q);
  }
  const float minZ = BitsFloat(rs.vertex.depthRange[0]);
  const float maxZ = BitsFloat(rs.vertex.depthRange[1]);
  s.depthOffset = minZ;
  s.depthScale = maxZ - minZ;
  return s;
}

bool FogTableUpdate(RenderContext3d* context) {
  if (context == nullptr) return false;
  return context->fogTable.Update(FogStateOf(context));
}
