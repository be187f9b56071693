// The blit engine's colour transform and texture-stage set-up.
#include "kernel/3d/surfaces/blit_setup.h"

#include <math.h>
#include <string.h>

#include <new>

#include "core/utils.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"

// ---- Colour transform --------------------------------------------------------------------------

// Studio-range BT.601: Y' in 16/255..235/255, Cb and Cr around 128/255
// within 224/255; the bias terms are the transform's own.
const BlitMatrix kBlitRgbToYuv = {{{0.2567882f, 0.5041294f, 0.0979059f, 0.0f},
                                   {-0.1482229f, -0.2909928f, 0.4392157f, 0.0f},
                                   {0.4392157f, -0.3677883f, -0.0714274f, 0.0f},
                                   {0.0f, 0.0f, 0.0f, 1.0f}}};
const BlitMatrix kBlitYuvToRgb = {{{1.1643836f, 0.0f, 1.5960268f, 0.0f},
                                   {1.1643836f, -0.3917623f, -0.8129676f, 0.0f},
                                   {1.1643836f, 2.0172321f, 0.0f, 0.0f},
                                   {0.0f, 0.0f, 0.0f, 1.0f}}};

namespace {

constexpr float kMatrixScale = 0.2490234375f;  // 255 / 1024
constexpr float kBiasScale = 0.25f;
constexpr float kOffset[3] = {0.0625f, 0.5f, 0.5f};

BlitMatrix Identity() {
  BlitMatrix m{};
  for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
  return m;
}

BlitMatrix Multiply(const BlitMatrix& a, const BlitMatrix& b) {
  BlitMatrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a.m[i][k] * b.m[k][j];
      r.m[i][j] = sum;
    }
  return r;
}

void Apply(const BlitMatrix& m, const float* v, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = m.m[i][0] * v[0] + m.m[i][1] * v[1] + m.m[i][2] * v[2];
}

bool SameOrNaN(float a, float b) { return !isnan(a) && !isnan(b) && a == b; }

uint32_t Field(uint32_t word, uint32_t shift, uint32_t bits, uint32_t value) {
  const uint32_t mask = ((1u << bits) - 1) << shift;
  return (word & ~mask) | ((value << shift) & mask);
}

uint32_t Low(uint32_t word, float v) { return (word & ~0x7FFu) | BlitCoefficientField(v); }
uint32_t High(uint32_t word, float v) { return (word & ~(0x7FFu << 16)) | BlitCoefficientField(v) << 16; }

// Bits every word A the transform sets has cleared: 10-13, 19-23, 27-31.
constexpr uint32_t kAClear = 0xF << 10 | 0x1F << 19 | 0x1Fu << 27;

}  // namespace

uint32_t BlitCoefficientField(float value) {
  const double scaled = static_cast<double>(value) * 1024.0;
  int32_t fixed;
  if (isnan(scaled)) {
    fixed = 0;
  } else if (scaled >= 2147483647.0) {
    fixed = INT32_MAX;
  } else if (scaled <= -2147483648.0) {
    fixed = INT32_MIN;
  } else {
    fixed = static_cast<int32_t>(scaled);  // toward zero
  }
  return static_cast<uint32_t>(fixed) & 0x7FF;
}

TransformState::TransformState() {
  result = Identity();
}

bool TransformState::SetSourceMode(uint32_t mode) {
  if (sourceMode != mode) dirty = true;
  sourceMode = mode;
  return true;
}

bool TransformState::SetDestinationMode(uint32_t mode) {
  if (destinationMode != mode) dirty = true;
  destinationMode = mode;
  return true;
}

bool TransformState::SetControls(const BlitColourControls* record) {
  if (record == nullptr) {
    if (controls.enabled) dirty = true;
    controls.enabled = 0;
    return true;
  }
  if (record->enabled == controls.enabled && SameOrNaN(record->brightness, controls.brightness) &&
      SameOrNaN(record->contrast, controls.contrast) && record->saturation == controls.saturation &&
      SameOrNaN(record->hue, controls.hue))
    return true;
  if (record->enabled) {
    brightness = record->brightness;
    contrast = record->contrast;
    saturation[0] = saturation[1] = record->saturation;
    const float c = static_cast<float>(LocCos(static_cast<double>(record->hue)));
    const float s = static_cast<float>(LocSin(static_cast<double>(record->hue)));
    hueRotation[0] = c;
    hueRotation[1] = s;
    hueRotation[2] = -s;
    hueRotation[3] = c;
  }
  dirty = true;
  controls = *record;
  return true;
}

bool TransformState::Setup(uint32_t source, uint32_t destination, const BlitColourControls* record) {
  return SetSourceMode(source) && SetDestinationMode(destination) && SetControls(record);
}

bool TransformState::SetupBlit(const Surface3d* source, const Surface3d* destination,
                               const BlitColourControls* record) {
  if (source == nullptr || destination == nullptr || source->format == nullptr || destination->format == nullptr)
    return false;
  const uint32_t sc = source->format->code, sk = source->format->formatClass;
  uint32_t from;
  if (sk == kClassVideo) {
    from = sc == 39 ? kBlitModePlanar3 : sc == 40 ? kBlitModePlanar2 : kBlitModeRgb;
  } else if (sk == 2 || sk == 1 || sk == 3 || sc == 29 || sc == 31 || sc == 32) {
    from = kBlitModeYuv;
  } else {
    return false;
  }
  const uint32_t dc = destination->format->code, dk = destination->format->formatClass;
  uint32_t to;
  if (dc == 43) {
    to = kBlitModeRgb;
  } else if (dk == 2 || dk == 3 || dc == 29 || dc == 32) {
    to = kBlitModeYuv;
  } else {
    return false;
  }
  return Setup(from, to, record);
}

bool TransformState::Compute() {
  const bool withControls = controls.enabled != 0;
  // The control matrices: contrast and saturation, then the hue rotation
  // of the chroma plane.
  BlitMatrix scale = Identity();
  scale.m[0][0] = contrast;
  scale.m[1][1] = saturation[0];
  scale.m[2][2] = saturation[1];
  BlitMatrix hue = Identity();
  hue.m[1][1] = hueRotation[0];
  hue.m[1][2] = hueRotation[2];
  hue.m[2][1] = hueRotation[1];
  hue.m[2][2] = hueRotation[3];
  const BlitMatrix control = Multiply(hue, scale);
  const float lift[3] = {brightness, 0.0f, 0.0f};
  // Controls applied around the centre of Y'CbCr: out = P (in - o) + o + lift.
  auto centred = [&](const BlitMatrix& p) {
    const float minusO[3] = {-kOffset[0], -kOffset[1], -kOffset[2]};
    float moved[3];
    Apply(p, minusO, moved);
    result = p;
    for (int i = 0; i < 3; ++i) bias[i] = moved[i] + kOffset[i] + lift[i];
  };

  if (sourceMode == destinationMode && !withControls) {
    active = 0;
    return true;
  }
  if ((sourceMode == kBlitModeRgb || sourceMode == kBlitModePlanar3 || sourceMode == kBlitModePlanar2) &&
      destinationMode == kBlitModeYuv) {
    active = 1;
    result = withControls ? Multiply(*toYuv, control) : *toYuv;
    float moved[3] = {0.0f, 0.0f, 0.0f};
    if (withControls) Apply(result, lift, moved);
    for (int i = 0; i < 3; ++i) bias[i] = moved[i] - kOffset[i];
    return true;
  }
  if ((sourceMode == kBlitModeYuv || sourceMode == kBlitModePlanar2) && destinationMode == kBlitModeRgb) {
    if (!withControls) {
      active = 0;
      return true;
    }
    active = 1;
    centred(control);
    return true;
  }
  const uint32_t pair = sourceMode << 16 | destinationMode;
  if (pair == (kBlitModeYuv << 16 | kBlitModeRgb)) {
    // Reached only if the step above changes; kept as the mode table has it.
    active = 1;
    result = withControls ? Multiply(*toRgb, control) : *toRgb;
    float moved[3];
    const float minusO[3] = {-kOffset[0], -kOffset[1], -kOffset[2]};
    Apply(result, minusO, moved);
    for (int i = 0; i < 3; ++i) bias[i] = moved[i] + (withControls ? lift[i] : 0.0f);
    return true;
  }
  if (pair == (kBlitModeYuv << 16 | kBlitModeYuv)) {
    if (!withControls) {
      active = 0;
      return true;
    }
    active = 1;
    centred(control);
    return true;
  }
  return false;
}

bool TransformState::EmitPending() {
  if (!Compute()) return false;
  word0 = 1;
  if (active == 0) {
    units[0].flags = 0;
    units[0].a = 0;
    units[0].b = kHwWordBDefault;
    unitCount = 1;
    return true;
  }
  if (active != 1) return false;
  float m[3][3], b[3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[r][c] = result.m[r][c] * kMatrixScale;
    b[r] = bias[r] * kBiasScale;
  }
  const bool planar = sourceMode == kBlitModePlanar3 || sourceMode == kBlitModePlanar2;
  HwUnitRecord& r0 = units[0];
  r0.flags = (r0.flags & ~1u) | 0x6;
  r0.a = (15u << 14 | 7u << 24) & ~kAClear;
  r0.b = (planar ? 0x4u : 0x3u) | 1u << 11 | 4u << 20;
  r0.e = Low(r0.e, m[0][0]);
  r0.f = High(Low(r0.f, m[2][0]), m[1][0]);
  r0.g = Low(r0.g, b[0]);
  r0.h = High(Low(r0.h, b[2]), b[1]);

  HwUnitRecord& r1 = units[1];
  r1.flags = r0.flags & ~4u;
  r1.a = Field(r1.a, 14, 5, 4);
  if (sourceMode == kBlitModePlanar3) r1.a = Field(r1.a, 5, 5, 2);
  if (sourceMode == kBlitModePlanar2) r1.a = Field(r1.a, 5, 5, 1);
  r1.a &= ~kAClear;
  if (sourceMode == kBlitModePlanar3) {
    r1.b |= 0x4;
  } else if (sourceMode == kBlitModePlanar2) {
    r1.b &= ~0x4u;
  } else {
    r1.b = Field(r1.b, 0, 2, 2);
  }
  r1.e = Low(r1.e, m[0][1]);
  r1.f = High(Low(r1.f, m[2][1]), m[1][1]);
  r1.g = Low(r1.g, b[0]);
  r1.h = High(Low(r1.h, b[2]), b[1]);

  HwUnitRecord& r2 = units[2];
  r2.flags = r1.flags;
  r2.a = Field(r2.a, 14, 5, 4);
  if (sourceMode == kBlitModePlanar3) r2.a = Field(r2.a, 5, 5, 1);
  r2.a &= ~kAClear;
  r2.b = planar ? r2.b | 0x4 : Field(r2.b, 0, 2, 1);
  r2.b = Field(Field(r2.b, 17, 3, 0x2), 20, 4, count);
  r2.e = Low(r2.e, m[0][2]);
  r2.f = High(Low(r2.f, m[2][2]), m[1][2]);

  unitCount = 3;
  if (destinationMode == kBlitModeRgb) {
    const uint32_t s = count <= 5 ? count : 0;
    HwUnitRecord& r3 = units[3];
    r3.flags = (r3.flags | 0x2) & ~0x5u;
    r3.a = (s << 5 | 14u << 14 | 7u << 24) & ~kAClear;
    r3.b = 1u << 10 | 1u << 11 | 1u << 12 | 1u << 14 | (count & 0xF) << 20;
    r3.e = (r3.e & ~0x7FFu) | 0x3AC;
    r3.f = (r3.f & ~(0x7FFu | 0x7FFu << 16)) | 0x3C0 | 0x3C0u << 16;
    HwUnitRecord& r4 = units[4];
    r4.flags = r3.flags;
    r4.a = (Field(Field(r4.a, 5, 5, 14), 14, 5, s) | 7u << 24) & ~kAClear;
    r4.b = r3.b;
    r4.e &= ~0x7FFu;
    r4.f = (r4.f & ~(0x7FFu | 0x7FFu << 16)) | 64 | 64u << 16;
    unitCount = 5;
  }
  dirty = false;
  return true;
}

// ---- Texture stages ----------------------------------------------------------------------------

uint8_t& StageControlByte(HwStageRecord& stage, uint32_t k) {
  return reinterpret_cast<uint8_t*>(&stage.words[kStageWordControl])[k & 15];
}

TextureStageSetup::TextureStageSetup() {
  for (uint32_t i = 1; i < kHwStageRecords; ++i) sources[i] = BlitSource{};
}

bool TextureStageSetup::SetSources(const BlitSource* main, const BlitSource* optional1,
                                   const BlitSource* optional2, const BlitSource* optional3) {
  if (main == nullptr) return false;
  const BlitSource* given[kHwStageRecords] = {main, optional1, optional2, optional3};
  for (uint32_t i = 0; i < kHwStageRecords; ++i) sources[i] = given[i] != nullptr ? *given[i] : BlitSource{};
  mainPresent = 1;
  pending = 1;
  return true;
}

void TextureStageSetup::ClearStage(uint32_t i) {
  HwStageRecord& st = stages[i];
  memset(&st, 0, sizeof(st));
  st.words[0] = kHwStageDisabled;
  StageControlByte(st, 12) = static_cast<uint8_t>((StageControlByte(st, 12) & 0xF0) | 14);
  StageControlByte(st, 14) = static_cast<uint8_t>((StageControlByte(st, 14) & 0xF8) | 1);
  st.words[kStageWordPalette] = 0xFFFFFFFF;
}

void TextureStageSetup::BuildStage(uint32_t i) {
  const BlitSource& src = sources[i];
  const Surface3d* s = src.surface;
  HwStageRecord& st = stages[i];
  st.words[0] = 0;
  st.words[kStageWordAddress] = s->hw.records[0].word0;
  st.words[kStageWordFormat] = s->hw.records[0].word1;
  st.words[kStageWordHeight] = s->hw.records[0].word2;
  const uint32_t w = s->width & 0x3FFF;
  uint32_t h = s->height & 0x3FFF;
  if ((src.flags & kBlitSourceHeightFromBottom) != 0) h = static_cast<uint32_t>(src.bottom) & 0x3FFF;
  st.width = static_cast<int32_t>(w);
  st.height = static_cast<int32_t>(h);
  const float fw = w != 0 ? static_cast<float>(w) : 1.0f;
  const float fh = h != 0 ? static_cast<float>(h) : 1.0f;
  float s0 = 0.0f, t0 = 0.0f;
  if (s->view.active) {
    s0 = static_cast<float>(s->view.x) / fw;
    t0 = static_cast<float>(s->view.y) / fh;
  }
  st.uOffset = s0 + static_cast<float>(src.left) / fw;
  st.vOffset = t0 + static_cast<float>(src.top) / fh;
  st.uScale = static_cast<float>(int64_t{src.right} - src.left) / fw;
  st.vScale = static_cast<float>(int64_t{src.bottom} - src.top) / fh;

  auto byte = [&](uint32_t k) -> uint8_t& { return StageControlByte(st, k); };
  byte(0) = static_cast<uint8_t>((byte(0) & 0xF0) | (1u << i));
  byte(4) = static_cast<uint8_t>((byte(4) & 0x3F) | 0x40);
  if (src.filter == kBlitFilterOther) {
    byte(4) = static_cast<uint8_t>((byte(4) & 0x6D) | 9);
  } else if (src.filter == kBlitFilterLinear) {
    byte(4) = static_cast<uint8_t>((byte(4) & ~9) | 18);
  } else {
    byte(4) = static_cast<uint8_t>(byte(4) & 0xE4);
  }
  byte(12) = static_cast<uint8_t>((byte(12) & 0xC9) | 9);
  uint16_t word6;
  memcpy(&word6, &byte(12), 2);
  word6 = static_cast<uint16_t>((word6 & ~(7u << 6)) | 1u << 6);
  memcpy(&byte(12), &word6, 2);
  byte(14) = 255;
  byte(15) = 0;
  byte(5) = static_cast<uint8_t>(byte(5) | 0x10);
  byte(2) = 0;
  byte(1) = static_cast<uint8_t>(byte(1) & 0xF0);
  byte(3) = static_cast<uint8_t>(byte(3) & ~0x1B);
  if ((src.flags & kBlitSourcePalette) != 0) {
    // The palette itself is loaded by the stage emitter from the argument.
    byte(13) = static_cast<uint8_t>(byte(13) & ~0x6);
    st.words[kStageWordPalette] = 0xFFFFFFFF;
    st.words[kStageWordPaletteNext] = src.palette;
  } else {
    st.words[kStageWordPalette] = 0xFFFFFFFF;
    st.words[kStageWordPaletteNext] = 0;
  }
}

bool TextureStageSetup::BuildStages() {
  uint32_t n = 0;
  while (n < kHwStageRecords && sources[n].surface != nullptr) BuildStage(n++);
  stageCount = n;
  stageMask = n == 0 ? 0 : ((1u << n) - 1) << 12;
  for (uint32_t i = n; i < kHwStageRecords; ++i) ClearStage(i);
  return true;
}

void TextureStageSetup::FlushSources() {
  for (uint32_t i = 0; i < kHwStageRecords && sources[i].surface != nullptr; ++i) {
    Surface3d* s = sources[i].surface;
    if (s->inSync) continue;
    s->RunSyncSequence();
  }
}

bool TextureStageSetup::StampSources(uint32_t value) {
  for (uint32_t i = 0; i < kHwStageRecords && sources[i].surface != nullptr; ++i) sources[i].surface->usageStamp = value;
  return true;
}

// ---- The blit engine's set-up, made in place -------------------------------------------------

static_assert(sizeof(TransformState) <= 600);
static_assert(sizeof(TextureStageSetup) <= 600);

void InitBlitSetup3d(void* transformState, void* stageSetup) {
  ::new (transformState) TransformState();
  ::new (stageSetup) TextureStageSetup();
}

void CleanupBlitSetup3d(void* transformState, void* stageSetup) {
  static_cast<TransformState*>(transformState)->~TransformState();
  static_cast<TextureStageSetup*>(stageSetup)->~TextureStageSetup();
}
