// Pixel programs: the build from a pipeline description, the commit with
// its texture-unit, register and stage steps, and the emission into the
// render context's state.
#include "kernel/3d/render/pixel_program.h"

#include <math.h>
#include <string.h>

#include "core/os.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"

namespace {

// The levelled debug output of the texture checks: silent in the delivered
// build.
void ProgramDebugOutput(uint32_t, const char*) {}

constexpr float kLodMax = 15.0f;
constexpr float kBiasLimit = 4.0f;
constexpr float kCoefficientLimit = 16.0f;
constexpr float kCoefficientFactor = 1.0638298f;
constexpr uint32_t kUnitSize2048 = 2048;
constexpr uint32_t kUsageMaskStart = 31;
constexpr uint32_t kUsageVideo = 32;
constexpr uint32_t kUsageKind1 = 16;

// The class tables of a sampler kind 0-3 (kind-1 descriptions).
constexpr uint32_t kSamplerClasses[3][4] = {{0, 2, 2, 3}, {0, 2, 2, 3}, {1, 1, 2, 2}};

// The 32-row unit-kind table: a class byte and a class word per kind. A
// kind whose row has class byte 1 and class word 3 samples the surface's
// second surface.
struct UnitKindRow {
  uint8_t classByte;
  uint32_t classWord;
};
constexpr UnitKindRow kUnitKindTable[kUnitKinds] = {
    {0, 0}, {0, 1}, {0, 1}, {0, 2}, {0, 1}, {0, 1}, {0, 2}, {0, 1}, {0, 1}, {0, 1}, {0, 3},
    {0, 3}, {0, 2}, {1, 3}, {0, 2}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 0}, {0, 0},
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
};

uint32_t ClassOfKind(uint32_t kind) {
  switch (kind) {
    case 4: case 5: case 8: case 9: case 16: case 17: case 18: case 19:
      return 1;
    case 6: case 12: case 14:
      return 2;
    case 10: case 11: case 13:
      return 3;
    default:
      return 0;
  }
}

// Score tables: a (low, high) pair per channel-mask class, by the device's
// texture-capability bits. Single channels score lowest, the whole set
// highest; every kind and level mode reads the same pair.
struct ScorePair {
  float low;
  float high;
};
ScorePair ScoreOf(bool later, uint32_t mask) {
  const uint32_t channels = static_cast<uint32_t>(__builtin_popcount(mask & 0xF));
  if (!later) {
    switch (channels) {
      case 1: return {1.0f, 2.0f};
      case 2: return {2.0f, 3.0f};
      case 4: return {3.0f, 4.0f};
      default: return {0.0f, 0.0f};
    }
  }
  switch (channels) {
    case 1: return {1.5f, 2.5f};
    case 2: return {2.5f, 3.5f};
    case 4: return {3.5f, 4.0f};
    default: return {0.0f, 0.0f};
  }
}

// Candidate tables: the same candidates for every selection entry of a
// unit count; the later chips' set puts channel pairs first.
uint32_t CandidatesFor(bool later, uint32_t units, PixelCandidate* out) {
  uint32_t n = 0;
  auto add = [&](uint8_t a, uint8_t b, uint8_t c, uint8_t d) { out[n++] = PixelCandidate{{a, b, c, d}, {}}; };
  switch (units) {
    case 0: add(0, 0, 0, 0); break;
    case 1:
      if (later) add(3, 0, 0, 0);
      add(15, 0, 0, 0);
      add(1, 0, 0, 0);
      break;
    case 2:
      add(3, 12, 0, 0);
      add(1, 2, 0, 0);
      break;
    case 3:
      add(3, 4, 8, 0);
      add(1, 2, 4, 0);
      break;
    default:
      add(1, 2, 4, 8);
      break;
  }
  return n;
}

float Clamp(float v, float lo, float hi) {
  if (!(v == v)) return 0.0f;
  return v < lo ? lo : v > hi ? hi : v;
}

}  // namespace

// ---- Conversions and checks ------------------------------------------------------------------

uint32_t LodField(float lod) { return static_cast<uint32_t>(Clamp(lod, 0.0f, kLodMax) * 16.0f) & 0xFF; }

uint32_t BiasField(float bias, float extraBias) {
  float b = Clamp(bias, -kBiasLimit, kBiasLimit);
  if (b < 0.0f) b = truncf(b);
  b = Clamp(b + Clamp(extraBias, -2 * kBiasLimit, 2 * kBiasLimit), -kBiasLimit, kBiasLimit);
  return static_cast<uint32_t>(static_cast<int32_t>((b - 4.0f) * 16.0f)) & 0x1FF;
}

uint16_t CoefficientField(float c, bool factor) {
  const float v = Clamp(c, -kCoefficientLimit, kCoefficientLimit) * 2047.0f * (factor ? kCoefficientFactor : 1.0f);
  return static_cast<uint16_t>(static_cast<int32_t>(v) & 0xFFFF);
}

bool CandidatePasses(const UnitCheckView* units, uint32_t count, const PixelDeviceCaps& caps,
                     uint32_t totalDependents) {
  bool firstSeen = false;
  for (uint32_t i = 0; i < count; ++i) {
    const UnitCheckView& u = units[i];
    const uint32_t m = u.mask;
    if (m == 3 && !(caps.level >= 2 && (caps.flags & 1) != 0)) return false;
    if (m == 12 && !(caps.level >= 4 && (caps.flags & 2) != 0)) return false;
    if (m == 15 && !(caps.level >= 4 && (caps.flags & 3) != 0)) return false;
    if (u.kind == 14 && m != 8) return false;
    if (u.kind == 1 && (u.derivedMask & 1) == 0) return false;
    const bool set = m == 3 || m == 12 || m == 5;
    if (set && !(u.kind == 0 || u.kind == 4 || u.kind == 16 || u.kind == 17)) return false;
    if (m == 15 && u.kind != 0) return false;
    if ((set || m == 15) && u.dependents != 0) return false;
    if ((u.derivedMask & 1) != 0 && u.dependents != 0) {
      if (!firstSeen && !(m == 1 || u.maxDependentSelection == 2)) return false;
      firstSeen = true;
    }
    if (u.kind == 6 && u.boundWords[0] == u.boundWords[1]) return false;
    if ((caps.bits & kCapsLaterBits) != 0 &&
        ((m == 1 && u.derivedMask == 2) || (m == 4 && u.derivedMask == 8)) && totalDependents < 3)
      return false;
  }
  return true;
}

float UnitScore(const PixelDeviceCaps& caps, uint32_t mask, uint32_t, uint32_t, const uint32_t sampling[3],
                uint32_t width, uint32_t height) {
  const bool later = (caps.bits & kCapsLaterBits) != 0;
  if (mask == 15 && !(sampling[0] == 3 || sampling[1] == 3)) return 0.0f;
  const ScorePair p = ScoreOf(later, mask);
  const double s = static_cast<double>(width) * static_cast<double>(height);
  return static_cast<float>(p.low + (p.high - p.low) * (1.0 - s / 4194304.0));
}

float ScoreCap(const PixelDeviceCaps& caps, uint32_t stageCount) {
  float cap = stageCount >= 6 ? 2.0f : 4.0f;
  if ((caps.bits & kCapsLaterBits) != 0) cap /= 2;
  return cap;
}

// ---- Construction and build -------------------------------------------------------------------

PixelProgram::PixelProgram() {
  memset(constants, 0, sizeof constants);
  memset(units, 0, sizeof units);
  memset(images, 0, sizeof images);
  block.dirty = &blockDirty;
  block.LoadDefaults();
  Reset();
}

PixelProgram::~PixelProgram() { memFree(source); }

void PixelProgram::Reset() {
  built = valid = redo = 0;
  changed = 0;
  unitCountShadow = stageCountShadow = 0;
  mode = kProgramModeFixed;
  samplerCount = unitCount = stageCount = 0;
  dirty = kPgFirstCommit;
  for (uint32_t i = 0; i < kProgramUnits; ++i) {
    textureToUnit[i] = unitToTexture[i] = i;
    formats[i] = UnitFormatEntry{0, kTuHardwareUnit[i], 0, 0, 8, 0};
    units[i] = PixelUnit{};
    units[i].placement = -1;
  }
  for (CombinerStage& s : stages) s.Clear();
  stageHead = nullptr;
  appendedStages = 0;
  imageCount = 0;
  imagesCurrent = 0;
  candidateFlag = 0;
  acceptedCount = 0;
  chosen = -1;
  finalStage = 0;
  stageSteps = 0;
  takesTarget = 0;
  targetTaken = nullptr;
  state.Reset(nullptr);
  ClearUnitRecord(unitBinding);
}

void PixelProgram::SetUpUnit(uint32_t index, const PipelineRecord& d, uint32_t texture, uint32_t kind) {
  PixelUnit& u = units[index];
  u = PixelUnit{};
  u.placement = -1;
  u.kind = kind;
  u.texture = texture;
  const PipelineTextureRecord* t = texture < kPipelineTextures ? &d.textures[texture] : nullptr;
  if ((t != nullptr && t->bound == 1) || kind == 3 || kind == 4 || kind == 13) u.flags |= kPuDirect;
  if (d.kind == 1 && t != nullptr) {
    u.sizes[0] = u.sizes[1] = kUnitSize2048;
    const uint32_t samplerKind = t->dependentCount & 3;
    for (uint32_t k = 0; k < 3; ++k) u.classValues[k] = kSamplerClasses[k][samplerKind];
    if (t->status == 0) u.status = 1;
  } else if (t != nullptr) {
    // Dependents: present textures below 4, at most four of them.
    const uint32_t n = t->dependentCount < kProgramDependents ? t->dependentCount : kProgramDependents;
    for (uint32_t k = 0; k < n; ++k) {
      const uint32_t dep = t->dependents[k];
      if (dep < kPipelineTextures && d.textures[dep].presence != 0 && dep != texture)
        u.dependents[u.dependentCount++] = dep;
    }
  }
  u.cls = ClassOfKind(kind);
  if (kind == 2 || kind == 3 || kind == 9 || kind == 10) {
    u.mode[0] = u.mode[1] = 0;
  } else if (kind == 14) {
    u.mode[0] = 0;
    u.mode[1] = 1;
  } else {
    u.mode[0] = 1;
  }
  u.usageMask = kUsageMaskStart;
  u.image[1] = kWordBDefault;
  u.image[0] = kWordADefault;
}

void PixelProgram::FinishUnit(PixelUnit& u) {
  // The flag bits of the kind: 3, 8, 9, 10 and 14 on one side.
  const bool special = u.kind == 3 || u.kind == 8 || u.kind == 9 || u.kind == 10 || u.kind == 14;
  u.flagWord |= special ? 0x10000u : 0x20000u;
  if (u.kind == 14) u.flagWord |= 0x40000u;
  if (u.kind == 4) u.flagWord |= 0x80000u;
}

bool PixelProgram::Build(PixelProgramCache* owner, const PipelineRecord* d, uint32_t buildMode) {
  if (d == nullptr) return false;
  Reset();
  mode = buildMode;
  cache = owner;

  // Units: one for each present texture, in order.
  uint32_t unitOf[kPipelineTextures];
  for (uint32_t i = 0; i < kPipelineTextures; ++i) {
    unitOf[i] = kProgramUnits;
    if (d->textures[i].presence == 0) continue;
    unitOf[i] = unitCount;
    SetUpUnit(unitCount, *d, i, d->kind == 1 ? kUnitKindTexture : d->kind);
    ++unitCount;
  }
  for (uint32_t i = 0; i < kPipelineTextures; ++i) {
    if (unitOf[i] == kProgramUnits) continue;
    const uint32_t u = unitOf[i];
    const uint32_t other = unitToTexture[u];
    // Texture i uses unit u.
    textureToUnit[other] = textureToUnit[i];
    unitToTexture[textureToUnit[i]] = other;
    textureToUnit[i] = u;
    unitToTexture[u] = i;
    if (samplerCount < i + 1) samplerCount = i + 1;
    for (uint32_t k = 0; k < units[u].dependentCount; ++k) {
      const uint32_t dep = unitOf[units[u].dependents[k]];
      if (dep < kProgramUnits && dep != u) {
        memcpy(units[dep].coefficients, units[u].coefficients, sizeof units[u].coefficients);
        units[dep].sizes[0] = units[u].sizes[0];
        units[dep].sizes[1] = units[u].sizes[1];
      }
    }
  }
  // The auxiliary samplers, for fixed-function pipelines with a unit left.
  if (mode == kProgramModeFixed && cache != nullptr) {
    const PixelPipelineState* live = cache->LiveState();
    for (uint32_t aux = 0; aux < 2 && live != nullptr; ++aux) {
      if (!live->AuxSamplerOn(aux) || unitCount >= kProgramUnits) continue;
      const uint32_t kind = kUnitKindAuxFirst + aux;
      SetUpUnit(unitCount, *d, kPipelineAuxFirst + aux, kind);
      if (d->kind != 1) units[unitCount].flags |= kPuDirect;
      units[unitCount].texture = kPipelineAuxFirst + aux;
      ++unitCount;
      samplerCount = kPipelineAuxFirst + aux + 1;
    }
  }

  // Stages: at most ten, each with both halves.
  const uint32_t count = d->count < kProgramOrdinaryStages ? d->count : kProgramOrdinaryStages;
  for (uint32_t s = 0; s < count; ++s) {
    const StageRecord& r = d->stages[s];
    CombinerStage& stage = stages[s];
    // (Reset cleared every stage object.)
    stage.index = s;
    ++stageCount;
    stage.colour.Build(r.colour, formats, false);
    stage.alpha.Build(r.colourEnable == 1 ? r.alpha : r.colour, formats, true);
  }
  if (mode == kProgramModeClient) {
    for (uint32_t s = 0; s < count; ++s) {
      const uint8_t* r = reinterpret_cast<const uint8_t*>(&d->stages[s]);
      for (uint32_t k = 0; k < 2; ++k) {
        if (r[108 + 20 * k] == 0) continue;
        SetConstant(k, s, r + 112 + 20 * k);
        float c[4];
        memcpy(c, r + 112 + 20 * k, 16);
        stages[s].SetConstantImage(k, c);
      }
    }
  }

  // Finish: the units, the constant compare bits and the texture-use mask.
  for (uint32_t u = 0; u < unitCount; ++u) {
    FinishUnit(units[u]);
    memcpy(units[u].baseSizes, units[u].sizes, sizeof units[u].baseSizes);
  }
  uint32_t textureUse = 0;
  uint32_t constantCompare = 0;
  for (uint32_t s = 0; s < stageCount; ++s) {
    if (stages[s].type != kStageOrdinary) continue;
    constantCompare |= 3u << (2 * s);
    uint32_t textures = 0;
    for (const CombinerSlot& slot : stages[s].colour.slots) textures += (slot.word & kSlotKindMask) == kSlotTexture;
    if (textures > 0) textureUse |= 1u << (2 * s);
    if (textures > 1) textureUse |= 1u << (2 * s + 1);
  }
  state.constantMask = constantCompare != 0 ? constantCompare : 0xFFFFFFFF;
  state.stageMask = textureUse | 0x1FFFF;

  // The description is kept whole: programs whose keys collide differ here.
  if (source == nullptr) source = static_cast<PipelineRecord*>(memAlloc(sizeof(PipelineRecord)));
  if (source != nullptr) memcpy(static_cast<void*>(source), d, sizeof *source);
  built = 1;
  return true;
}

// ---- Constants and parameters -----------------------------------------------------------------

bool PixelProgram::SetConstant(uint32_t a, uint32_t b, const void* bytes) {
  if (a > 1 || b >= kPipelineConstants / 2) return false;
  const uint32_t slot = 2 * b + a;
  memcpy(constants[slot].bytes, bytes, 16);
  constants[slot].set = 1;
  return true;
}

void PixelProgram::ReadConstants(uint8_t (*out)[16], uint32_t limit) const {
  for (uint32_t i = 0; i < limit && i < kPipelineConstants; ++i)
    if (constants[i].set != 0) memcpy(out[i], constants[i].bytes, 16);
}

void PixelProgram::SetParams(uint32_t unit, const float c[4]) {
  if (unit >= kProgramUnits) return;
  PixelUnit& u = units[unit];
  const bool factor = !(u.kind >= 10 && u.kind <= 14);
  for (uint32_t k = 0; k < 4; ++k) u.coefficients[k] = CoefficientField(c[k], factor);
  u.image[4] = uint32_t{u.coefficients[0]} | uint32_t{u.coefficients[1]} << 16;
  u.image[5] = uint32_t{u.coefficients[2]} | uint32_t{u.coefficients[3]} << 16;
  u.change |= 2;
  dirty |= kPgUnitsChanged;
}

void PixelProgram::LoadClientConstants() {
  for (uint32_t s = 0; s < stageCount && s < kProgramOrdinaryStages; ++s) {
    for (uint32_t k = 0; k < 2; ++k) {
      if (constants[2 * s + k].set == 0) continue;
      float c[4];
      memcpy(c, constants[2 * s + k].bytes, 16);
      stages[s].SetConstantImage(k, c);
    }
  }
}

// ---- The texture-unit step --------------------------------------------------------------------

bool PixelProgram::UsageCheck(PixelUnit& u) {
  uint32_t required = 0;
  Surface3d* s = u.surface;
  const uint32_t cls = s != nullptr && s->format != nullptr ? s->format->formatClass : 0;
  if (s != nullptr) required = cls == kClassVideo ? kUsageVideo : kUsageMaskStart;
  if (u.kind == kUnitKindTexture) required |= kUsageKind1;
  for (uint32_t k = 0; k < u.dependentCount; ++k) {
    const uint32_t dep = textureToUnit[u.dependents[k] & 3];
    if (dep < unitCount) required |= units[dep].usageMask;
  }
  // What each placement of the surface can do: the texture usage, and the
  // signed texture usage.
  const uint32_t code = s != nullptr && s->format != nullptr ? s->format->code : 0;
  const uint32_t word3 = (FindFormatCapability(code, kUsageTexture) != nullptr ? kUsageMaskStart | kUsageKind1 : 0) |
                         (cls == kClassVideo ? kUsageVideo : 0);
  const uint32_t word2 = FindFormatCapability(code, kUsageTextureSigned) != nullptr ? kUsageMaskStart : 0;
  int32_t placement;
  if ((word3 & required) == required) {
    placement = 3;
  } else if ((word2 & required) == required) {
    placement = 2;
  } else {
    u.flags |= kPuFlagged;
    ProgramDebugOutput(2, "This texture cannot be used for this usage\r\n");
    return false;
  }
  if (placement != u.placement) {
    u.image[1] |= 1u << 29;
    u.change |= 1;
  }
  u.placement = placement;
  u.usageMask = required;
  return true;
}

bool PixelProgram::UnitParameters(PixelUnit& u, const PipelineStageEntry& e) {
  if (u.kind == 9 || u.kind == 10 || u.kind == 14) u.sizes[0] = u.sizes[1] = u.sizes[2] = kUnitSize2048;
  const uint32_t width = u.sizes[0] & 0x3FFF;
  const uint32_t height = u.sizes[1] & 0x3FFF;
  const uint32_t pitch = u.sizes[2] & 0xFFF;
  // The LOD and bias fields: converted only when their inputs changed.
  uint32_t inputs[4];
  memcpy(inputs, reinterpret_cast<const uint8_t*>(&e) + offsetof(PipelineStageEntry, lodRange), 8);
  inputs[2] = e.lodBias;
  memcpy(&inputs[3], &u.extraBias, 4);
  if (u.paramsMade == 0 || ((inputs[0] ^ u.paramInputs[0]) | (inputs[1] ^ u.paramInputs[1]) |
                            (inputs[2] ^ u.paramInputs[2]) | (inputs[3] ^ u.paramInputs[3])) != 0) {
    float lod[2];
    float bias;
    memcpy(lod, inputs, sizeof lod);
    memcpy(&bias, &inputs[2], 4);
    u.paramFields = LodField(lod[0]) | LodField(lod[1]) << 8 | BiasField(bias, u.extraBias) << 16;
    memcpy(u.paramInputs, inputs, sizeof inputs);
    u.paramsMade = 1;
  }
  // Word by word: the image words the unit step just stored are not read
  // back as a block.
  const uint32_t w0 = (u.image[0] & 0x3FF) | (u.paramFields & 0xFFFF) << 10;
  const uint32_t w2 = width | height << 14;
  const uint32_t w3 = pitch | (u.paramFields >> 16) << 12;
  const uint32_t w4 = uint32_t{u.coefficients[0]} | uint32_t{u.coefficients[1]} << 16;
  const uint32_t w5 = uint32_t{u.coefficients[2]} | uint32_t{u.coefficients[3]} << 16;
  // The first group is 0x99, 0x9B, 0x98, 0x9A; the second 0x9E-0xA1.
  if (w0 != u.image[0]) u.change |= 1;
  if (w2 != u.image[2] || w3 != u.image[3] || w4 != u.image[4] || w5 != u.image[5]) u.change |= 2;
  u.image[0] = w0;
  u.image[2] = w2;
  u.image[3] = w3;
  u.image[4] = w4;
  u.image[5] = w5;
  return true;
}

// A unit without a surface: what the surface gave it (sizes, format,
// address, placement and usage) goes back to what the build gave it, so
// that it samples nothing of a surface it no longer holds, and equals a
// unit that never had one.
void PixelProgram::DropSurface(PixelUnit& u) {
  u.surface = nullptr;
  u.checkedSurface = nullptr;
  u.checkedPlacement = 0;
  u.flags &= ~kPuBound;
  memcpy(u.sizes, u.baseSizes, sizeof u.sizes);
  u.formatValue = 0;
  u.placement = -1;
  u.usageMask = kUsageMaskStart;
  const uint32_t word1 = u.image[1] & ~(1u << 29);
  if (u.image[6] != 0 || u.image[7] != 0 || u.image[1] != word1) u.change |= 1;
  u.image[1] = word1;
  u.image[6] = u.image[7] = 0;
}

bool PixelProgram::TargetMoved() const {
  const RenderContext3d* context = cache != nullptr ? cache->context : nullptr;
  return takesTarget != 0 && context != nullptr && context->colourTarget != targetTaken;
}

bool PixelProgram::ForgetSurface(const Surface3d* gone) {
  if (gone == nullptr) return false;
  const Surface3d* companion = gone->Companion();
  auto names = [&](const Surface3d* s) { return s != nullptr && (s == gone || s == companion); };
  bool named = false;
  for (PixelUnit& u : units) {
    if (!names(u.surface) && !names(u.checkedSurface)) continue;
    DropSurface(u);
    named = true;
  }
  if (targetTaken == gone) {
    targetTaken = nullptr;
    named = true;
  }
  // The units take their surfaces again, and what follows from them (the
  // candidates, the stage count, the fixed stages) is decided again.
  if (named) dirty |= kPgUnitsChanged;
  return named;
}

bool PixelProgram::UnitStep(const PixelDeviceCaps& caps) {
  RenderContext3d* context = cache != nullptr ? cache->context : nullptr;
  takesTarget = 0;
  targetTaken = nullptr;
  for (uint32_t i = 0; i < unitCount; ++i) {
    PixelUnit& u = units[i];
    // A kind outside the kind table cannot be sampled.
    if (u.kind >= kUnitKinds) {
      valid = 0;
      return false;
    }
    const PipelineStageEntry& e = state.entries[u.texture < kPipelineEntries ? u.texture : 0];
    // Sampling values: the device's override, else the entry's fields.
    uint32_t fields[3];
    const uint32_t w = e.sampling[0] | uint32_t{e.sampling[1]} << 8 | uint32_t{e.sampling[2]} << 16 |
                       uint32_t{e.sampling[3]} << 24;
    fields[0] = (w & kSampleMinFilter) >> 17;
    fields[1] = 4 * ((w & kSampleAnisotropic) >> 16) + ((w & kSampleMipFilter) >> 14);
    fields[2] = (w & kSampleMagFilter) >> 20;
    const uint32_t range = 2 * ((w & kSampleRangeHigh) >> 24) + ((w & kSampleRangeLow) >> 23);
    for (uint32_t k = 0; k < 3; ++k) {
      const uint32_t over = caps.samplingOverride >> (8 * k) & 0xFF;
      uint32_t v = over != 0xFF ? over : fields[k];
      const uint32_t limit = range == 2 ? 5 : 2;
      u.sampling[k] = v < limit ? v : limit;
    }
    const uint32_t samplingWord = (u.image[1] & ~0x1FFu) | u.sampling[0] | u.sampling[1] << 3 | u.sampling[2] << 6;
    if (samplingWord != u.image[1]) u.change |= 1;
    u.image[1] = samplingWord;

    // The bound surface: by its handle kind in the client's resource table.
    Surface3d* surface = nullptr;
    const uint32_t handle = e.textureB;
    u.flags &= ~kPuOnTarget;
    if (handle != 0) {
      if (e.textureA > 2) {
        valid = 0;
        return false;
      }
      if (context != nullptr && context->resources != nullptr) surface = context->resources->Get(e.textureA, handle);
      if (surface == nullptr && context != nullptr) {
        // A handle that names nothing samples the colour target: a target
        // that changes later makes the units take it again.
        surface = context->colourTarget;
        u.flags |= kPuOnTarget;
        takesTarget = 1;
        targetTaken = surface;
      }
      // Kinds whose row has class byte 1 and class word 3 sample the
      // surface's companion.
      const UnitKindRow& row = kUnitKindTable[u.kind];
      if (surface != nullptr && row.classByte == 1 && row.classWord == 3 && surface->Companion() != nullptr)
        surface = surface->Companion();
    }
    // Another surface (or none) can change the candidates, the stage count
    // and the fixed stages' format words.
    Surface3d* const held = u.surface;
    if (surface != held) dirty |= kPgUnitsChanged;
    u.surface = surface;
    if (surface != nullptr) {
      u.flags |= kPuBound;
      if (surface->Placement() < 2) {
        ProgramDebugOutput(1, "This texture cannot be used for this operation\r\n");
        valid = 0;
        return false;
      }
      // The usage check runs when the surface or its placement changed.
      if (surface != u.checkedSurface || surface->Placement() != u.checkedPlacement) {
        if (!UsageCheck(u)) {
          u.checkedSurface = nullptr;
          valid = 0;
          return false;
        }
        u.checkedSurface = surface;
        u.checkedPlacement = surface->Placement();
      }
      const MmSurfDesc& r = surface->hw.records[kUsageTexture];
      if (u.sizes[0] != surface->width || u.sizes[1] != surface->height || u.formatValue != r.word1) {
        u.sizes[0] = surface->width;
        u.sizes[1] = surface->height;
        u.sizes[2] = r.Width();
        u.formatValue = r.word1;
      }
      if (u.image[6] != r.word0 || u.image[7] != r.word1) u.change |= 1;
      u.image[6] = r.word0;
      u.image[7] = r.word1;
    } else if (held != nullptr) {
      DropSurface(u);
    } else {
      u.flags &= ~kPuBound;
    }
    if (!UnitParameters(u, e)) {
      valid = 0;
      return false;
    }
  }
  valid = 1;
  return true;
}

// ---- The register and stage steps -------------------------------------------------------------

void PixelProgram::RegisterStep() {
  if (unitCountShadow != unitCount || stageCountShadow != stageCount) dirty |= kPgStageLayout;
  unitCountShadow = unitCount;
  stageCountShadow = stageCount;
  if ((dirty & (kPgFirstCommit | kPgUnitsChanged)) != 0) {
    blockDirty.words[2] = 0xFFFFFFFF;
    const uint32_t all = 0xFFFFFFFF;
    memcpy(unitBinding + kUbShadow, &all, 4);
  }
}

void PixelProgram::ApplyCandidate(const PixelCandidate& c) {
  // The entries' flags change, which the halves read at emission.
  imagesCurrent = 0;
  for (uint32_t i = unitCount; i-- > 0;) {
    PixelUnit& u = units[i];
    u.selection = c.masks[i];
    uint32_t derived = c.masks[i] & 1;
    for (uint32_t k = 0; k < u.dependentCount; ++k) {
      const uint32_t dep = textureToUnit[u.dependents[k] & 3];
      if (dep < unitCount) derived |= c.masks[dep];
    }
    UnitFormatEntry& f = formats[i];
    f.channelMask = c.masks[i] & 0xF;
    f.derivedMask = static_cast<uint8_t>(derived & 0xF);
    f.flags |= 7;
  }
}

bool PixelProgram::CountStages(uint32_t* count) {
  uint32_t n = stageCount + ((finalStage & 1) != 0 ? 1 : 0);
  bool video = false;
  for (uint32_t i = unitCount; i-- > 0;) {
    PixelUnit& u = units[i];
    uint32_t flags = 0;
    if (u.surface != nullptr && (u.flags & kPuBound) != 0 && (u.flags & kPuDirect) != 0) {
      if ((formats[i].flags & kUfRead) == 0) {
        flags |= 1u << 9;
        ++n;
      } else {
        flags |= 1u << 8;
      }
    }
    switch (u.kind) {
      case 3: flags |= 1u << 3; ++n; break;
      case 12: flags |= 1u << 4; ++n; break;
      case 5: flags |= 1u << 5; ++n; break;
      case 15:
        flags |= (u.classValues[0] == 3 || u.classValues[1] == 3) ? 1u << 7 : 1u << 6;
        n += 3;
        break;
      default: break;
    }
    if (u.surface != nullptr && u.surface->format != nullptr && u.surface->format->formatClass == kClassVideo) {
      flags |= 1u << 10;
      n += 3;
      video = true;
    }
    if ((u.flags & kPuDirect) != 0 && (u.flags & kPuBound) == 0 && u.kind == kUnitKindTexture) {
      flags |= 1u << 11;
      ++n;
    }
    u.flagWord = (u.flagWord & ~0xFFFFu) | flags;
  }
  *count = n;
  if (n > kStageBudget) {
    if (video) redo = 1;
    return false;
  }
  return true;
}

bool PixelProgram::StageStep(const PixelDeviceCaps& caps) {
  if (valid == 0) return false;
  const bool later = (caps.bits & kCapsLaterBits) != 0;
  if ((dirty & (kPgFirstCommit | kPgUnitsChanged)) != 0) {
    if (built == 0) {
      candidateFlag = 0;
      return false;
    }
    PixelCandidate all[kMaxCandidates];
    const uint32_t n = CandidatesFor(later, unitCount, all);
    acceptedCount = 0;
    uint32_t totalDependents = 0;
    for (uint32_t i = 0; i < unitCount; ++i) totalDependents += units[i].dependentCount;
    for (uint32_t c = 0; c < n; ++c) {
      ApplyCandidate(all[c]);
      UnitCheckView views[kProgramUnits];
      for (uint32_t i = 0; i < unitCount; ++i) {
        uint32_t maxSel = 0;
        for (uint32_t k = 0; k < units[i].dependentCount; ++k) {
          const uint32_t dep = textureToUnit[units[i].dependents[k] & 3];
          if (dep < unitCount && units[dep].selection > maxSel) maxSel = units[dep].selection;
        }
        views[i] = UnitCheckView{units[i].kind, formats[i].channelMask, formats[i].derivedMask,
                                 units[i].dependentCount, maxSel, {units[i].image[6], units[i].image[7]}};
      }
      if (CandidatePasses(views, unitCount, caps, totalDependents)) accepted[acceptedCount++] = all[c];
    }
    if (acceptedCount == 0) {
      candidateFlag = 0;
      return false;
    }
    dirty |= kPgCandidates;
    candidateFlag = 1;
  }
  if (candidateFlag == 0) return false;
  // The final stage follows option bit 0. On a program's first commit the
  // register step has not yet run, so the stage-count shadow is still 0:
  // the flag is decided then too, or a program built while the bit is set
  // would go without its final stage until the bit changed again.
  if ((dirty & (kPpsOptionBit0 | kPgUnitsChanged)) != 0 &&
      (stageCountShadow != 0 || (dirty & kPgFirstCommit) != 0)) {
    const uint8_t flag = (state.options & kPpsOptionMode) != 0 && mode == kProgramModeFixed ? 1 : 0;
    if (flag != (finalStage & 1)) {
      finalStage = static_cast<uint8_t>((finalStage & ~1) | flag);
      stageSteps = 0;
      dirty |= kPgFinalStage | kPgStageLayout;
    }
  }
  if ((dirty & (kPgFirstCommit | kPgUnitsChanged | kPgFinalStage | kPgStageLayout)) == 0) return true;

  uint32_t saved[kProgramUnits];
  for (uint32_t i = 0; i < kProgramUnits; ++i) saved[i] = units[i].flagWord;
  const uint32_t savedBudget = budgetStages;
  float best = 0.0f;
  int32_t pick = -1;
  int32_t lastApplied = -1;
  for (uint32_t c = 0; c < acceptedCount; ++c) {
    ApplyCandidate(accepted[c]);
    lastApplied = static_cast<int32_t>(c);
    uint32_t count = 0;
    if (!CountStages(&count)) continue;
    const float cap = ScoreCap(caps, count);
    float value = cap;
    for (uint32_t i = 0; i < unitCount; ++i) {
      float v = UnitScore(caps, formats[i].channelMask, units[i].kind, 0, units[i].sampling, units[i].sizes[0],
                          units[i].sizes[1]);
      if (later && unitCount >= 3) v /= 2;
      if (v < value) value = v;
    }
    if (pick < 0 || value > best) {
      best = value;
      pick = static_cast<int32_t>(c);
      budgetStages = count;
    }
  }
  if (pick < 0) return false;
  if (pick != lastApplied) {
    ApplyCandidate(accepted[pick]);
    uint32_t count = 0;
    CountStages(&count);
  }
  score = best;
  for (uint32_t i = 0; i < kProgramUnits; ++i)
    if (units[i].flagWord != saved[i]) dirty |= kPgStageLayout;
  if (budgetStages != savedBudget) dirty |= kPgStageLayout;
  if (pick != chosen) dirty |= kPgChosen;
  chosen = pick;
  ++stageSteps;
  return true;
}

void PixelProgram::AppendFixedStages() {
  imagesCurrent = 0;
  appendedStages = 0;
  CombinerStage* last = nullptr;
  stageHead = nullptr;
  auto link = [&](CombinerStage* s) {
    s->next = nullptr;
    if (last != nullptr) last->next = s; else stageHead = s;
    last = s;
  };
  for (uint32_t s = 0; s < stageCount; ++s) link(&stages[s]);
  // Fixed stages take the objects after the ordinary ones, never past the
  // eleventh.
  auto append = [&]() -> CombinerStage* {
    const uint32_t at = stageCount + appendedStages;
    if (at >= kProgramStages) return nullptr;
    ++appendedStages;
    CombinerStage* s = &stages[at];
    s->index = at;
    link(s);
    return s;
  };
  if (unitCount == 0) {
    if ((finalStage & 1) != 0)
      if (CombinerStage* s = append()) s->BuildSingle17();
    return;
  }
  for (uint32_t i = 0; i < unitCount; ++i) {
    const uint32_t byte1 = units[i].flagWord & 0xFF;
    const uint32_t byte2 = units[i].flagWord >> 8 & 0xFF;
    if ((byte2 & 1) != 0) formats[i].flags |= kUfRemap; else formats[i].flags &= ~kUfRemap;
    if ((byte2 & 2) != 0) {
      if (CombinerStage* s = append()) s->BuildSingle18(units[i].formatValue);
      if ((byte2 & 8) != 0)
        if (CombinerStage* s = append()) s->BuildSingle19();
    } else if ((byte2 & 8) != 0) {
      if (CombinerStage* s = append()) s->BuildSingle19();
    }
    const uint32_t pairs[3][2] = {{8, 0}, {4, 0}, {4, 1}};
    for (uint32_t p = 0; p < 3; ++p) {
      if ((byte1 >> p & 1) == 0) continue;
      if (CombinerStage* s = append()) s->BuildPair(kStagePairFirst, pairs[p][0], units[i].formatValue);
      if (CombinerStage* s = append()) s->BuildPair(kStagePairSecond, pairs[p][1], units[i].formatValue);
    }
    if ((byte2 & 4) != 0)
      for (uint32_t k = 0; k < 3; ++k)
        if (CombinerStage* s = append()) s->BuildTriple14(k);
    const uint32_t singles[3][2] = {{0, 1}, {2, 3}, {0, 2}};
    for (uint32_t p = 0; p < 3; ++p)
      if ((byte1 >> (3 + p) & 1) != 0)
        if (CombinerStage* s = append()) s->BuildSingle5(singles[p][0], singles[p][1]);
    if ((byte1 & 0x40) != 0)
      for (uint32_t k = 0; k < 3; ++k)
        if (CombinerStage* s = append()) s->BuildTriple6(k);
    if ((byte1 & 0x80) != 0)
      for (uint32_t k = 0; k < 3; ++k)
        if (CombinerStage* s = append()) s->BuildTriple9(k);
  }
  if ((finalStage & 1) != 0)
    if (CombinerStage* s = append()) s->BuildSingle17();
}

void PixelProgram::EmitStages() {
  imageCount = 0;
  imageSummary = 0;
  bindingFlags = 0;
  // Over the same stages, a stage that would write its image as it stands
  // (a constant change it does not read, a fixed stage) keeps it.
  const bool keep = imagesCurrent != 0;
  for (CombinerStage* s = stageHead; s != nullptr && imageCount < kProgramStages; s = s->next) {
    CombinerStageImage& image = images[imageCount++];
    if (keep && s->KeepsImage(state)) {
      imageSummary |= static_cast<uint8_t>(s->KeepImage(&bindingFlags));
      continue;
    }
    s->EmitImage(state, &image, &bindingFlags);
    imageSummary |= static_cast<uint8_t>(image.flags);
  }
  imagesCurrent = 1;
  if (imageCount >= 6) imageSummary |= 0x20;
  const uint32_t flags = bindingFlags & 3;
  memcpy(unitBinding + kUbFlags, &flags, 4);
}

// The binding record into the render context's: a first commit, a new
// target or binding flags that differ from those in force there mark the
// whole binding changed and the flags in the second change word; the
// register shadow's marks go into the first.
void PixelProgram::HandOverBinding(ContextState3d* target, bool all) {
  RenderContext3d* context = target->renderContext;
  if (context == nullptr) return;
  PipelineSubBlock& sub = context->state.pipelineSub;
  uint32_t shadow;
  uint32_t flags;
  memcpy(&shadow, unitBinding + kUbShadow, 4);
  memcpy(&flags, unitBinding + kUbFlags, 4);
  if (all || flags != sub.bindingFlags) {
    shadow = 0xFFFFFFFF;
    sub.second |= flags;
    sub.bindingFlags = flags;
  }
  sub.first |= shadow;
  shadow = 0;
  memcpy(unitBinding + kUbShadow, &shadow, 4);
  constexpr uint8_t kTargetFlags = kPsubTargetTag | kPsubTargetKind2;
  if (((sub.control ^ unitBinding[kUbControl]) & kTargetFlags) != 0)
    sub.control = static_cast<uint8_t>((sub.control & ~kTargetFlags) | (unitBinding[kUbControl] & kTargetFlags));
}

// ---- Commit -----------------------------------------------------------------------------------

bool PixelProgram::Commit(uint32_t changedArgument, const PixelPipelineState& live, ContextState3d* target,
                          const PixelDeviceCaps& caps) {
  if (built == 0) return false;
  if ((dirty & kPgFirstCommit) != 0) {
    state.CopyFrom(live);
    state.dirty = state.dirtyConstants = state.stageDirty = 0xFFFFFFFF;
    for (PipelineStageEntry& e : state.entries) e.dirty = 0xFFFFFFFF;
    if (mode == kProgramModeClient) LoadClientConstants();
  } else {
    changed |= changedArgument;
    if (changed == 0 && (live.stageDirty & kPeFilters) == 0)
      TakeChanges(state, live, samplerCount);
    else
      TakeMarked(state, live, samplerCount);
  }
  dirty |= state.dirty | state.stageDirty;
  if (TargetMoved()) dirty |= kPgUnitsChanged;
  redo = 0;

  for (int pass = 0; pass < 2; ++pass) {
    if (dirty != 0 && !UnitStep(caps)) return false;
    if ((dirty & kPgRegisterStepSkip) == 0 || dirty == 0) RegisterStep();
    if ((dirty & kPgStageStep) != 0 && !StageStep(caps)) return false;
    if (redo == 0) break;
    redo = 0;
  }
  if (valid == 0 || target == nullptr) return false;

  if ((dirty & (kPgFirstCommit | kPgUnitsChanged | kPgChosen | kPgStageLayout)) != 0) AppendFixedStages();
  if ((dirty & kPgEmitStages) != 0) EmitStages();

  // The units into the register block, then the block's changes into the
  // target's texture units.
  // A first commit or a new target takes every group; a program that
  // takes over from another (changed) compares its images with what the
  // target holds.
  block.unitCount = unitCount;
  const bool all = (dirty & kPgFirstCommit) != 0 || target != lastTarget;
  for (uint32_t i = 0; i < unitCount; ++i) {
    PixelUnit& u = units[i];
    uint32_t* w = block.units[i].words;
    uint32_t change = all ? 3 : u.change;
    if (changed != 0 && i < kTuUnits) {
      const uint32_t* held = target->textureUnits.units[i].words;
      static constexpr uint32_t kFirstGroup[4] = {0, 1, 6, 7};
      for (uint32_t k : kFirstGroup)
        if (held[2 + k] != u.image[k]) change |= 1;
      for (uint32_t k = 2; k < 6; ++k)
        if (held[2 + k] != u.image[k]) change |= 2;
    }
    w[0] = change;
    w[1] = u.flagWord >> 16 & 0xFF;
    for (uint32_t k = 0; k < 8; ++k) w[2 + k] = u.image[k];
    u.change = 0;
  }
  HandOverBinding(target, all);
  if (target->textureUnits.dirty != nullptr) target->textureUnits.TakeChanges(block);
  lastTarget = target;

  state.dirty = state.dirtyConstants = state.stageDirty = 0;
  for (PipelineStageEntry& e : state.entries) e.dirty = 0;
  dirty = 0;
  changed = 0;
  return true;
}
