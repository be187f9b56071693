// The transform-and-lighting set-up: construction with its constant map,
// attachment to a render context's record, the switches it caches, and the
// update pass that runs the steps of tnl_derived.cpp and tnl_layouts.cpp
// in their fixed order before a draw.
#include "kernel/3d/tnl/tnl_setup.h"

#include <string.h>

#include <initializer_list>

#include "core/driver_switches.h"
#include "core/pdev.h"
#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_engine_block.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_internal.h"
#include "kernel/3d/tnl/vertex_format.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

using namespace tnl_detail;

namespace {

constexpr uint32_t kShadingWord = 0x3F803F80;
// R2 bits 1-4, and the same bits of the record's second program byte: the
// four uploads (header, light combination, constants, parameter block).
constexpr uint8_t kUploadBits = 0x1E;
constexpr double kLn2 = 0.69314718055994530942;

void Put(VecConstShadow* image, uint32_t c, float x, float y, float z, float w) {
  const float v[4] = {x, y, z, w};
  memcpy(image->image[c].w, v, sizeof v);
}

// 2^n / n! of the series, as the engine's exponent fragment takes them.
float SeriesTerm(int n, double factorial, bool negative) {
  const double term = LocPow(kLn2, n) / factorial;
  return static_cast<float>(negative ? -term : term);
}

}  // namespace

TnlSetup::TnlSetup() {
  sentinel_.next = sentinel_.previous = &sentinel_;
  for (uint32_t i = 0; i < 32; ++i) {
    worldViews[i].p = F(7 * i);
    normals[i].p = F(7 * i + 4);
  }
  // (The views are bound to their constants, not assigned: assignment
  // copies values into the viewed constants.)
  for (uint32_t k = 0; k < 4; ++k) worldViews[32 + k].p = F(kCTextureMatrices + 4 * k);
  worldViews[36].p = F(kCProjection);

  static constexpr uint32_t kFixedHead[8] = {224, 352, 128, 2048, 0, 1, 2, 3};
  memcpy(fixedBlock, kFixedHead, sizeof kFixedHead);
  for (uint32_t i = 0; i < 4; ++i) {
    shaderBlock[4 * i] = 256 + i;
    shaderBlock[4 * i + 1] = 352;
    shaderBlock[4 * i + 2] = 128;
    shaderBlock[4 * i + 3] = 2048;
  }

  VecConstShadow* f = &fixedImage;
  VecConstShadow* s = &shaderImage;
  Put(f, kCThird, 0, 0, 0, 32.0f);
  for (VecConstShadow* img : {f, s}) {
    Put(img, kCScale, 0, 0, 0, 1.0f);
    Put(img, kCPoint, 1.0f, 0, 0, 1.0f);
    Put(img, kCGuardBand, 8160.0f, 8160.0f, -8160.0f, -8160.0f);
    Put(img, kCTexValues, 128.0f, 0, 0, 0);
    Put(img, kCRaster, 0, 0, 0.5f, 786432.0f);
    Put(img, kCFixed381, 8388608.0f, 0.05f, 31.0f, 0.032258064f);
    Put(img, kCStipple, 0, 0.0625f, 0, 0);
  }
  Put(f, kCPointRange, 1.0f, 1.0f, 0.5f, -0.5f);
  Put(s, kCPointRange, -0.5f, -0.5f, 0.5f, 0.5f);
  Put(s, kCSeries, SeriesTerm(1, 1, true), SeriesTerm(2, 2, false), SeriesTerm(3, 6, true),
      SeriesTerm(4, 24, false));
  Put(s, kCSeries + 1, 1.0f, SeriesTerm(5, 120, true), SeriesTerm(6, 720, false), SeriesTerm(7, 5040, true));
  Put(s, kCSeries + 2, 1.442695f, -0.7213475f, 0.4808984f, -0.3606738f);
  Put(s, kCSeries + 3, 1.0f, 0.2885390f, -0.2404492f, 0.2060993f);

  for (uint32_t c : {kCThird, kCScale, kCOffset, kCFixed381, kCStipple, kCRaster}) f->MarkDirty(c, 0);
  f->MarkDirty(kCPoint, kCTexValues);
  s->MarkDirty(kCScale, kCOffset);
  s->MarkDirty(kCPoint, kCTexValues);
  s->MarkDirty(kCRaster, kCStipple);
}

TnlSetup::~TnlSetup() {
  ReleaseAll();
  // Whatever is left of the layout list (ReleaseAll emptied it).
  while (sentinel_.next != &sentinel_) DestroyEntry(sentinel_.next);
}

void TnlSetup::SetModeBits(uint32_t mode) {
  const uint8_t bits = static_cast<uint8_t>((key.modeClassClip & ~kTnlModeMask) | (mode & kTnlModeMask));
  if (bits == key.modeClassClip) return;
  key.modeClassClip = bits;
  key.keyDirty[1] |= 0x80;
}

void TnlSetup::ReadSwitches() {
  CommonData* common = builder != nullptr ? builder->common : nullptr;
  DriverSwitchesCommon* s = common != nullptr ? common->driverSwitches : nullptr;
  auto value = [](auto* sw) -> uint32_t { return sw != nullptr ? sw->GetValue() : 0; };
  const uint32_t lighting = s != nullptr ? value(s->LightingType) : 0;
  lightingType = lighting > 2 ? 2 : lighting;
  cullNoneMode = s != nullptr && value(s->CullNoneMode) != 0 ? 3 : 0;
  zFactor = static_cast<float>(s != nullptr ? value(s->TnLZFactor) : 1);
  const uint32_t guard = s != nullptr ? value(s->GuardBandClipping) : 0;
  guardBandClipping = guard > 1 ? 2 : guard;
  clipControlMask = guard > 1 ? 0x0FDB : 0x0FC0;
  vertexShaderOptions = s != nullptr ? value(s->VertexShaderOptions) : 0;
  volumetricShadow = s != nullptr ? value(s->VolumetricShadow) : 0;
  const uint32_t stipple = s != nullptr ? value(s->LineStipple) : 0;
  stippleAllowed = stipple & 1;
  key.flags6 = static_cast<uint8_t>((key.flags6 & ~0x40) | ((stipple >> 1 & 1) << 6));
}

bool TnlSetup::AttachContext(TnlStateRecord* r) {
  if (r == nullptr) return false;
  record = r;
  ReadSwitches();
  builderMode = builder != nullptr ? builder->clipFragments : 0;
  r->programDirty[0] |= 0xF0;
  r->programDirty[1] |= 0x1F;
  auto fixed = [&](int32_t id) { return builder != nullptr ? builder->GetFixedProgram(id, 0) : nullptr; };
  r->fixedProgram3.program = fixed(3);
  r->fixedProgram3.header = programHeader;
  r->fixedProgram3.headerCount = 8;
  r->fixedProgram3.parameters = fixedBlock;
  r->fixedProgram3.parameterCount = 16;
  r->fixedPrograms[0] = fixed(0);
  r->fixedPrograms[1] = fixed(1);
  r->fixedPrograms[2] = fixed(17);
  r->constantImage = imageSelect != 0 ? &fixedImage : &shaderImage;
  depthScale = 1.0f;
  return true;
}

// ---- Constant writes ---------------------------------------------------------------------

bool TnlSetup::SetConst(VecConstShadow* image, uint32_t c, const float v[4]) {
  // Bits, not values: a NaN a client sends is written once.
  if (SameBytes(image->image[c].w, v, 16)) return false;
  memcpy(image->image[c].w, v, 16);
  image->MarkDirty(c, 0);
  return true;
}

bool TnlSetup::SetBoth(uint32_t c, const float v[4]) {
  const bool a = SetConst(&fixedImage, c, v);
  const bool b = SetConst(&shaderImage, c, v);
  return a || b;
}

// ---- The update pass ----------------------------------------------------------------------

bool TnlSetup::Update(VertexProcessingBlock* block, VertexFetchControl* fetch, VertexEngineBlock* hw) {
  if (block == nullptr || fetch == nullptr || hw == nullptr) return false;
  const VertexProcessingBlock& b = *block;
  stepsRun = 0;
  auto step = [&](int n) { stepsRun |= uint64_t{1} << n; };

  const uint32_t T = b.transformDirty;
  const uint32_t t0 = T & 0xFF, t1 = T >> 8 & 0xFF, t2 = T >> 16 & 0xFF, t3 = T >> 24;
  const uint32_t M = b.matrixDirty, W = b.worldDirty;
  const uint32_t X0 = b.texCoords.dirty, X1 = b.texCoords.dirty1 & ~2u;
  const uint32_t G = b.fog.dirty, H = b.third.dirty, V = b.viewportGroup.dirty;
  const bool lighting = (b.flags & kVfLighting) != 0;
  uint8_t* kd = key.keyDirty;
  pass_ = Pass{T, M, W, X1, G};
  passSets_ = SetCount(b);
  hw_ = hw;

  // 1.
  updateFlags &= kTnlUpdLights | kTnlUpdCollect | kTnlUpdMatrices;
  oldClass_ = key.Class();

  // 2. Nothing but the matrices (or nothing at all) changed.
  if (force == 0 && (T & ~0x48u) == 0 && (M & 0x3FC) == 0) {
    step(2);
    if (!((t0 & 0x40) != 0 && (t0 & 0x08) == 0 && (M & 3) == 0) && fixedFunction != 0) {
      UpdateMatrices(b, false);
      if (clipPlanesInUse != 0 && (M & 3) != 0) UpdateClipPlanes(b);
    }
    return Finish(block, hw);
  }

  // 3.
  if ((X1 & 0x35) != 0 || (X0 & 0x0C) != 0) {
    step(3);
    AnalyseTextureStages(b, hw);
  }
  // 4.
  if ((X0 & 2) != 0) {
    step(4);
    const float* now = F(kCTexValues);
    float v[4] = {now[0], BitsFloat(b.texCoords.values[0]), BitsFloat(b.texCoords.values[1]),
                  BitsFloat(b.texCoords.values[2])};
    SetBoth(kCTexValues, v);
  }
  // 5.
  if ((H & 1) != 0) {
    step(5);
    float v[4];
    memcpy(v, F(kCThird), sizeof v);
    v[1] = static_cast<float>(static_cast<int32_t>(b.third.constant333y));
    SetConst(&fixedImage, kCThird, v);
  }
  // 6.
  if ((t0 & 0x20) != 0) {
    step(6);
    uint32_t layoutKey[6];
    if ((b.vertexFlags & kVfwShaderLayout) != 0) {
      const uint32_t shaderKey[6] = {b.vertexShader, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
      memcpy(layoutKey, shaderKey, sizeof layoutKey);
    } else {
      memcpy(layoutKey, b.layout, sizeof layoutKey);
    }
    SelectInputLayout(layoutKey);
  }
  // 7.
  if ((X0 & 1) != 0) {
    step(7);
    uint32_t control = hw->vertexControl & ~6u;
    control |= (b.texCoords.flags & 1u) << 1 | (b.texCoords.flags & 2u) << 1;
    if (control != hw->vertexControl) {
      hw->vertexControl = control;
      hw->dirtyR1 |= 0x20;
    }
    hw->fogFallback = 0;
    hw->clipFallback = 0;
  }
  // 8.
  if ((G & 1) != 0) {
    step(8);
    uint32_t control = hw->vertexControl;
    if (b.fog.firstRange != 0 || b.fog.vertexFog != 0) {
      if (b.fog.firstRange != 0) {
        const float start = BitsFloat(b.fog.startEnd[0][0]), end = BitsFloat(b.fog.startEnd[0][1]);
        const float r = SafeReciprocal(end - start);
        float v[4];
        memcpy(v, F(kCFogLinear), sizeof v);
        v[0] = r;
        v[1] = r == 0.0f ? 0.0f : -start * r;
        SetConst(&fixedImage, kCFogLinear, v);
      } else {
        const float start = BitsFloat(b.fog.startEnd[1][0]), end = BitsFloat(b.fog.startEnd[1][1]);
        const float r = SafeReciprocal(end - start);
        const float density = BitsFloat(b.fog.density);
        const float v[4] = {start, r == 0.0f ? 0.0f : end * r, r,
                            (b.fog.mode == 2 ? density * density : density) * 1.442695f};
        SetConst(&fixedImage, kCFogRange, v);
        if (hw->fogNibble != 2) {
          hw->fogNibble = 2;
          hw->dirtyR1 |= 0x20;
        }
      }
      control |= 0x20;
    } else {
      control &= ~0x20u;
    }
    if (control != hw->vertexControl) {
      hw->vertexControl = control;
      hw->dirtyR1 |= 0x20;
    }
    hw->fogFallback = 0;
  }
  // 9.
  if ((t2 & 2) != 0) {
    step(9);
    float v[4];
    memcpy(v, F(kCFactor), sizeof v);
    v[3] = BitsFloat(b.factor);
    SetConst(&fixedImage, kCFactor, v);
  }
  // 10.
  if ((X1 & 5) != 0 || (t0 & 0x20) != 0) {
    step(10);
    uint32_t routing = 0x6543;
    if (fixedFunction != 0) {
      routing = hw->routing;
      const uint32_t sets = SetCount(b);
      for (uint32_t k = 0; k < sets; ++k) {
        routing = (routing & ~(0xFu << (4 * k))) | ((key.coords[k].source & 7) + 3) << (4 * k);
        if (key.coords[k].dimension != 4) {
          key.coords[k].dimension = 4;
          kd[2] |= 0x04;
        }
      }
    }
    if (routing != hw->routing) {
      hw->routing = routing;
      hw->dirtyR1 |= 0x20;
    }
  }
  // 11.
  if ((updateFlags & kTnlUpdLayoutFormat) != 0 || (t2 & 2) != 0) {
    step(11);
    UpdateVertexBlend(b);
  } else {
    key.previousBlendCount = key.blendCount;
  }
  // 12.
  if ((t0 & 0x81) != 0) {
    step(12);
    const uint32_t kind = b.control & 0xF;
    // A kind beyond the table has no class: nothing can be drawn.
    if (kind > kMaxPrimitiveKind) return false;
    const uint32_t fill = b.control >> 4 & 3;
    const uint32_t oldKind = key.primitiveKind, oldFill = key.fillMode;
    if (kind != oldKind) {
      const uint8_t flags6 = static_cast<uint8_t>((key.flags6 & ~0x20) | (kind == 2 ? 0x20 : 0));
      if (flags6 != key.flags6) kd[3] |= 0x20;
      key.flags6 = flags6;
    }
    const uint32_t cls = kClassOfKind[kind];
    const bool edgeKind = kind == 8 || kind == 12, oldEdgeKind = oldKind == 8 || oldKind == 12;
    if (cls != key.Class() || (kind != oldKind && (edgeKind || oldEdgeKind)) ||
        (fill != oldFill && (fill == 2 || oldFill == 2))) {
      key.previousClass = key.Class();
      key.modeClassClip = static_cast<uint8_t>((key.modeClassClip & ~(kTnlClassMask << kTnlClassShift)) |
                                               cls << kTnlClassShift);
      kd[0] |= cls == 4 ? 0x30 : 0x10;
      const uint32_t index = 2 * (cls < 5 ? cls : 5) + (fill == 2 && edgeKind ? 1 : 0);
      SetSetup(hw, kSetupA[index], kSetupB[index]);
    }
    // The fill mode is kept whatever it changed from: the fill and offset
    // steps read it.
    key.fillMode = fill;
    key.primitiveKind = kind;
  } else {
    key.previousClass = key.Class();
  }
  const uint32_t cls = key.Class();
  const bool polygon = cls == 3 || cls == 5;
  // 13.
  if ((kd[0] & 0x80) != 0 || (t3 & 4) != 0 || (t0 & 1) != 0) {
    step(13);
    const bool on = (b.flags & kVfLineStipple) != 0 && stippleAllowed != 0 && cls == 2 && key.blendCount != 0;
    key.flags6 = static_cast<uint8_t>((key.flags6 & ~0x10) | (on ? 0x10 : 0));
    if (on) {
      const float w = 16.0f * static_cast<float>(b.lineStippleFactor);
      float v[4];
      memcpy(v, F(kCStipple), sizeof v);
      v[0] = 0.0f;
      v[2] = w == 0.0f ? 0.0f : 0.5f / w;
      v[3] = w;
      SetBoth(kCStipple, v);
      hw->dirtyR2 |= 0x10;
    }
  }
  // 14.
  if ((t2 & 4) != 0 || (V & 0x400) != 0) {
    step(14);
    const float s = BitsFloat(b.viewportGroup.scale[0]);
    for (VecConstShadow* img : {&fixedImage, &shaderImage}) {
      float v[4];
      memcpy(v, img->image[kCPoint].w, sizeof v);
      for (int i = 0; i < 3; ++i) v[i] = s == 0.0f ? 0.0f : BitsFloat(b.pointScale[i]) / s;
      SetConst(img, kCPoint, v);
    }
    float v[4];
    memcpy(v, F(kCPointRange), sizeof v);
    v[0] = BitsFloat(b.pointMin) * s;
    v[1] = BitsFloat(b.pointMax) * s;
    if (v[1] > 2048.0f) v[1] = 2048.0f;
    SetConst(&fixedImage, kCPointRange, v);
  }
  // 15.
  if ((t3 & 1) != 0 || (t0 & 0x80) != 0 || (kd[0] & 0x10) != 0 || (V & 0x202) != 0) {
    step(15);
    UpdateDepthOffset(b, hw);
  }
  // 16.
  if ((updateFlags & kTnlUpdLayoutFormat) != 0 || (kd[0] & 0x10) != 0 || (t2 & 4) != 0 || (t3 & 6) != 0 ||
      (t0 & 0x80) != 0 || (H & 8) != 0 || (V & 0xC00) != 0) {
    step(16);
    UpdatePointSize(b, hw);
  }
  // 17.
  if ((X1 & 1) != 0 || (t2 & 4) != 0 || (kd[0] & 0x30) != 0) {
    step(17);
    UpdateGuardBand(hw);
    if ((kd[0] & 0x10) != 0 || (t0 & 0x80) != 0) UpdateFillMode(hw);
  }
  // 18. Selector 3 has no entry: off.
  if ((t1 & 1) != 0) {
    step(18);
    const uint32_t selector = b.control >> 6 & 3;
    const uint8_t specular = selector == 1 ? 1 : 0;
    if (specular != hw->specular) {
      hw->specular = specular;
      hw->dirtyR2 |= 1;
    }
  }
  // 19.
  if ((kd[0] & 0x10) != 0 || (t2 & 0x30) != 0 || (t1 & 0x10) != 0) {
    step(19);
    uint8_t value = 0;
    bool on = false;
    if ((b.flags & kVfTwoSide) != 0 && lighting && polygon) {
      if (b.twoSideMode == 2) value = 2, on = true;
      else if (b.twoSideMode == 3) value = 1, on = true;
    }
    if (value != hw->twoSide) {
      hw->twoSide = value;
      hw->dirtyR2 |= 1;
    }
    SetKeyBit(&key.flags5, 0x20, on, &kd[2], 0x10);
  }
  // 20.
  if ((t1 & 0x20) != 0) {
    step(20);
    globalAmbientFlag = b.ambient[0] != 0.0f || b.ambient[1] != 0.0f || b.ambient[2] != 0.0f ? 1 : 0;
  }
  if ((t0 & 2) != 0) {
    step(20);
    const float* a = F(kCMaterialAmbient);
    const float* e = F(kCMaterialEmissive);
    ambientFlag = a[0] != 0.0f || a[1] != 0.0f || a[2] != 0.0f ? 1 : 0;
    emissiveFlag = e[0] != 0.0f || e[1] != 0.0f || e[2] != 0.0f ? 1 : 0;
  }
  // 21.
  if ((kd[0] & 0x10) != 0 || (t1 & 0x14) != 0 || (t2 & 0x10) != 0) {
    step(21);
    uint8_t cull = 0;
    if (polygon) {
      const uint32_t mode = b.cullMode & 3;
      if (mode == 2) cull = 1;
      else if (mode == 3) cull = 2;
      else if (mode == 1 && (key.flags5 & 0x20) != 0 && lighting) cull = 3;
      else cull = static_cast<uint8_t>(cullNoneMode);
    }
    if (cull != hw->cull) {
      hw->cull = cull;
      hw->dirtyR2 |= 1;
    }
  }
  // 22.
  if ((updateFlags & kTnlUpdLayoutFormat) != 0 || (t1 & 0x20) != 0 || (t0 & 2) != 0 || (t2 & 1) != 0 ||
      ((t1 & 0x10) != 0 && lighting)) {
    step(22);
    UpdateMaterialSources(b);
  }
  // 23.
  if ((t0 & 4) != 0) updateFlags |= kTnlUpdCollect;
  if (lighting && fixedFunction != 0 && (updateFlags & kTnlUpdCollect) != 0) {
    step(23);
    const uint32_t count = b.enabledLightCount & 0xF;
    enabledLights = count < kTnlLights ? count : kTnlLights;
    CollectLights(b);
  }
  // 24.
  if ((t0 & 8) != 0 || M != 0 || (X1 & 0x0D) != 0) {
    step(24);
    if ((M & 2) != 0) {
      worldViews[36] = MatrixOf(b.projection.m);
      fixedImage.MarkDirty(kCProjection, kCProjection + 3);
      combined[1] = 0;
      combined[2] = 1;
    }
    const uint32_t sets = SetCount(b);
    for (uint32_t k = 0; k < sets; ++k) {
      if (b.texCoords.sets[k].transformFlags == 0) continue;
      const uint32_t s = key.coords[k].source & 7;
      if ((M >> (s + 2) & 1) != 0 || (X1 & 1) != 0 || key.coords[k].generation != 0) {
        worldViews[32 + k] = MatrixOf(b.texture[s].m);
        fixedImage.MarkDirty(kCTextureMatrices + 4 * k, kCTextureMatrices + 4 * k + 3);
      }
    }
  }
  // 25.
  const bool zeroChange = (key.blendCount == 0) != (key.previousBlendCount == 0);
  if ((V & 0x460) != 0 || (t2 & 0x40) != 0 ||
      ((kd[0] & 0x10) != 0 && (cls == 1 || key.previousClass == 1)) || zeroChange) {
    step(25);
    UpdateViewport(b);
  }
  // 26.
  if ((kd[0] & 0x90) != 0 || (X1 & 1) != 0 || (updateFlags & kTnlUpdLayoutFormat) != 0 || (t2 & 4) != 0 ||
      (t0 & 0x80) != 0) {
    step(26);
    UpdateTransformEnable(hw);
  }
  // 27.
  if ((t1 & 0x50) != 0 || (t2 & 4) != 0 || (G & 1) != 0 || (kd[0] & 0x3E) != 0 || (kd[1] & 0x40) != 0 ||
      (kd[3] & 0x0C) != 0) {
    step(27);
    UpdateLightingFlags(b);
  }
  // 28.
  const bool becameNonZero = key.previousBlendCount == 0 && key.blendCount != 0;
  if ((t0 & 0x10) != 0 || becameNonZero) {
    step(28);
    uint8_t enable = hw->clipEnable;
    uint32_t word = hw->clipWord;
    if (fixedFunction != 0 && key.blendCount == 0) {
      enable = 0;
      clipPlanesInUse = 0;
    } else {
      const uint32_t n = Popcount(b.clipPlaneEnable & 0x3F);
      const uint8_t mcc = static_cast<uint8_t>((key.modeClassClip & ~(kTnlClipCountMask << kTnlClipCountShift)) |
                                               n << kTnlClipCountShift);
      if (mcc != key.modeClassClip) kd[1] |= 0x40;
      key.modeClassClip = mcc;
      enable = n != 0 ? 2 : 0;
      word = (word & 0xFFFF) | (n != 0 ? ((1u << n) - 1) << 16 : 0);
      clipPlanesInUse = n != 0 ? 1 : 0;
    }
    if (enable != hw->clipEnable || word != hw->clipWord) {
      hw->clipEnable = enable;
      hw->clipWord = word;
      hw->dirtyR2 |= 1;
    }
  }
  if (fixedFunction != 0) {
    if (becameNonZero) {
      step(28);
      UpdateMatrices(b, true);
    } else if (key.blendCount != 0 &&
               (W != 0 || (M & 3) != 0 || (kd[0] & 0x81) != 0 || (kd[1] & 2) != 0 ||
                ((t1 & 0x10) != 0 && lighting) || ((t0 & 4) != 0 && enabledLights != 0) ||
                ((t0 & 0x10) != 0 && clipPlanesInUse != 0) || ((t0 & 0x20) != 0 && imageSelect == 0))) {
      step(28);
      UpdateMatrices(b, false);
    }
  }
  if (clipPlanesInUse != 0 && ((t0 & 0x30) != 0 || (M & 3) != 0)) UpdateClipPlanes(b);
  // 29.
  if ((t0 & 6) != 0 || (t1 & 0x70) != 0 || (t2 & 9) != 0 || (kd[2] & 0x18) != 0) updateFlags |= kTnlUpdLights;
  if (lighting && fixedFunction != 0 && (updateFlags & kTnlUpdLights) != 0) {
    step(29);
    UpdateLights(b);
    updateFlags &= ~(kTnlUpdLights | kTnlUpdCollect | kTnlUpdMatrices);
    constexpr uint32_t kLightingOptions = 0x10F0u << 2;
    if (lightingType == 0 && lightPath == 0) optionWord |= kLightingOptions;
    else optionWord &= ~kLightingOptions;
  }
  // 30.
  if ((t1 & 2) != 0 || (t3 & 2) != 0 || (t0 & 0x80) != 0 || (kd[0] & 0x90) != 0 || (kd[1] & 0x40) != 0 ||
      (kd[3] & 0x12) != 0)
    updateFlags |= kTnlUpdMainKey;
  if ((updateFlags & kTnlUpdMainKey) != 0 || (kd[3] & 0x20) != 0 || (H & 8) != 0 || (t2 & 4) != 0 ||
      (t3 & 4) != 0 || ((t1 & 4) != 0 && (b.cullMode & 3) < 3) || SetCount(b) != coordSets) {
    step(30);
    if (!SelectPrograms(b, hw)) return false;
  }
  if ((t3 & 2) != 0) {
    const float width = BitsFloat(b.lineWidth);
    for (VecConstShadow* img : {&fixedImage, &shaderImage}) {
      float v[4];
      memcpy(v, img->image[kCRaster].w, sizeof v);
      v[2] = width >= 2.0f ? LocFloor(width) * 0.5f : 0.5f;
      SetConst(img, kCRaster, v);
    }
  }
  if (fixedFunction != 0) {
    if (!SelectLightingPrograms(b, hw)) return false;
  } else {
    UpdateFetchFlags(b, hw);
  }
  BuildFetchLayout(b, fetch, hw);
  if (!EnterLightCombination(hw)) return false;
  if (!EnterStartAddresses(hw)) return false;
  // 31.
  step(31);
  WriteHeaderAndBlocks(b, hw);
  // 32.
  if (fixedFunction != imageSelect) {
    step(32);
    BindImage(hw);
  }
  const uint8_t indexed = key.flags4 & 0x02;
  if (lastIndexedBlend != 0 && indexed == 0) hw->dirtyR2 |= 0x10;
  lastIndexedBlend = indexed;
  return Finish(block, hw);
}

bool TnlSetup::Finish(VertexProcessingBlock* block, VertexEngineBlock* hw) {
  // 33. The pass took every change: the dirty words are cleared.
  stepsRun |= uint64_t{1} << 33;
  block->transformDirtyCopy = 0;
  block->transformDirty = block->matrixDirty = block->worldDirty = 0;
  block->texCoords.dirty = block->texCoords.dirty1 = 0;
  block->fog.dirty = block->third.dirty = block->viewportGroup.dirty = 0;
  if (BoundImage()->dirtySummary != 0) hw->dirtyR2 |= 0x08;
  coordSets = SetCount(*block);
  // The key's changes were taken too (a refused pass keeps them).
  memset(key.keyDirty, 0, sizeof key.keyDirty);
  force = 0;
  return true;
}

void TnlSetup::LinkUploads(VertexEngineBlock* hw, VertexUploadSlot uploads[4], uint32_t* dirtyWord) {
  if (hw == nullptr || uploads == nullptr || dirtyWord == nullptr) return;
  VertexProgram* header = record != nullptr ? record->fixedProgram3.program : nullptr;
  uploads[0] = VertexUploadSlot{header, programHeader, 8};
  uploads[1] = VertexUploadSlot{hw->lightCombination.program,
                                static_cast<const uint32_t*>(hw->lightCombinationParameters),
                                hw->lightCombinationCount};
  // The constants go with the program that reads them: the draw's main
  // program, or the bound fixed program while there is none.
  VertexProgram* main = MainSlot(hw).program;
  uploads[2] = VertexUploadSlot{main != nullptr ? main : hw->fixedProgram.program, nullptr, 0};
  uploads[3] = VertexUploadSlot{hw->fixedProgram.program, static_cast<const uint32_t*>(hw->fixedParameters),
                                hw->fixedParameterCount};
  uint8_t bits = hw->dirtyR2 & kUploadBits;
  if (record != nullptr) {
    bits |= record->programDirty[1] & kUploadBits;
    record->programDirty[1] &= static_cast<uint8_t>(~kUploadBits);
  }
  *dirtyWord |= uint32_t{bits} << 16;
}

void TnlSetup::SetSetup(VertexEngineBlock* hw, uint8_t a, uint8_t b) {
  if (a == hw->setupA && b == hw->setupB) return;
  hw->setupA = a;
  hw->setupB = b;
  hw->dirtyR2 |= 1;
}

// ---- Step 30: the light-combination program and the start addresses -----------------------

bool TnlSetup::EnterLightCombination(VertexEngineBlock* hw) {
  const uint32_t n = lightRecordCount;
  VertexProgram* program = nullptr;
  if (n != 0 && n <= kMaxLightCombination && builder != nullptr) program = builder->GetFixedProgram(4, n - 1);
  if (program != nullptr) {
    SetSlot(&hw->lightCombination, program);
    hw->lightCombinationParameters = lightRecords;
    hw->lightCombinationCount = kLightRecordWords * n;
    hw->dirtyR2 |= 0x04;
  } else {
    // None, or more records than any light-combination program takes.
    SetSlot(&hw->lightCombination, nullptr);
    hw->lightCombinationParameters = nullptr;
    hw->lightCombinationCount = 0;
    hw->dirtyR2 &= static_cast<uint8_t>(~0x04);
  }
  return true;
}

void TnlSetup::SetSlot(VertexEngineProgramSlot* slot, VertexProgram* program) {
  if (slot->program == program) return;
  if (slot->program != nullptr) slot->program->DropReference();
  slot->program = program;
  if (program != nullptr) program->TakeReference();
}

bool TnlSetup::EnterStartAddresses(VertexEngineBlock* hw) {
  auto enter = [&](VertexEngineProgramSlot& slot) {
    const uint32_t address = slot.program != nullptr ? slot.program->GetStartAddress() : 0;
    if (address == slot.startAddress) return;
    slot.startAddress = address;
    if (record != nullptr) record->programDirty[1] |= 1;
  };
  enter(hw->transformPrograms[0]);
  if (builderMode != 0) {
    enter(hw->pointPrograms[0]);
    enter(hw->pointPrograms[1]);
  }
  if (clipPlanesInUse != 0) enter(hw->clipProgram);
  hw->clipPlaneCount = key.ClipCount();
  VertexEngineProgramSlot& main = MainSlot(hw);
  if (main.program != nullptr) {
    if (main.program->resident == 0 || main.program->IsLoadPending() != 0) {
      CommonData* common = builder != nullptr ? builder->common : nullptr;
      const uint32_t kind = &main == &hw->mainPrograms[0] ? 0 : 6;
      const uint32_t address = builder != nullptr ? builder->MakeResident(main.program, false, kind, common) : 0;
      if (address == 0 && (builder == nullptr || builder->LastPlacementFailed())) return false;
    }
    enter(main);
  }
  if (hw->cull != 1) enter(hw->transformPrograms[1]);
  return true;
}

VertexEngineProgramSlot& TnlSetup::MainSlot(VertexEngineBlock* hw) {
  return hw->mainPrograms[6].program != nullptr || hw->mainPrograms[0].program == nullptr ? hw->mainPrograms[6]
                                                                                         : hw->mainPrograms[0];
}

// ---- Step 31 and 32 ------------------------------------------------------------------------

uint32_t TnlSetup::PrimitiveControlWord(const VertexEngineBlock* hw) {
  // Bits 0-1 cull, bit 2 transform enable, bits 3-4 clip enable, bits 5-6
  // two-side, bits 7-8 fill.
  return (uint32_t{hw->cull} & 3) | (uint32_t{hw->transformEnable} & 1) << 2 | (uint32_t{hw->clipEnable} & 3) << 3 |
         (uint32_t{hw->twoSide} & 3) << 5 | (uint32_t{hw->fill} & 3) << 7;
}

void TnlSetup::WriteHeaderAndBlocks(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  const uint32_t cls = key.Class();
  uint32_t header[8];
  header[0] = optionWord;
  memcpy(&header[1], optionFloats, sizeof optionFloats);
  header[3] = hw->transformPrograms[1].startAddress;
  header[4] = kShadingWord;
  header[5] = hw->transformPrograms[0].startAddress;
  header[6] = hw->clipProgram.startAddress;
  header[7] = MainSlot(hw).startAddress;
  const bool pointOff = lastPointProgram == 1 && hw->pointProgram == 0;
  const bool classSwitch = ((oldClass_ == 3 || oldClass_ == 5) && cls == 2) ||
                           (oldClass_ == 2 && (cls == 3 || cls == 5));
  if (pointOff || (pass_.T & 0x80) != 0 || classSwitch || !SameBytes(header, programHeader, sizeof header)) {
    memcpy(programHeader, header, sizeof header);
    hw->dirtyR2 |= 0x02;
  }
  lastPointProgram = hw->pointProgram;
  const uint8_t sprite = (cls == 4 || hw->pointProgram != 0) && (b.flags & kVfPointSprite) != 0 ? 1 : 0;
  hw->pointSprite = sprite;

  const uint32_t control = PrimitiveControlWord(hw);
  const uint32_t tail[6] = {control & ~0x78u, control, hw->transformPrograms[0].startAddress,
                            hw->clipProgram.startAddress, hw->pointPrograms[0].startAddress,
                            hw->pointPrograms[1].startAddress};
  if (!SameBytes(&fixedBlock[10], tail, sizeof tail) || !SameBytes(&shaderBlock[18], tail, sizeof tail)) {
    memcpy(&fixedBlock[10], tail, sizeof tail);
    memcpy(&shaderBlock[18], tail, sizeof tail);
    hw->dirtyR2 |= 0x10;
  }
}

void TnlSetup::BindImage(VertexEngineBlock* hw) {
  VecConstShadow* from = BoundImage();
  const bool fixedMode = fixedFunction != 0;
  VertexProgram* program = builder != nullptr ? builder->GetFixedProgram(fixedMode ? 1 : 2, 0) : nullptr;
  SetSlot(&hw->fixedProgram, program);
  hw->fixedParameters = fixedMode ? fixedBlock : shaderBlock;
  hw->fixedParameterCount = fixedMode ? 16 : 24;
  hw->dirtyR2 |= 0x10;
  imageSelect = fixedFunction;
  VecConstShadow* to = BoundImage();
  if (to != from) to->TakeOver(from);
  hw->constantImage = to;
  if (record != nullptr) record->constantImage = to;
}

// ---- Releasing programs --------------------------------------------------------------------

void TnlSetup::ReleaseProgram(VertexProgram* program) {
  if (program == nullptr) return;
  if (builder != nullptr) builder->DetachProgram(program, &recent);
  delete program;
}

void TnlSetup::ReleaseAll() {
  // The record stops naming the programs before they go.
  if (hw_ != nullptr) DropSlots(hw_);
  ReleaseShaderPrograms();
  for (VertexProgramList* list : {&mainList, &fixedList, &releaseList}) {
    while (VertexProgramNode* node = list->Head()) {
      VertexProgram* program = node->program;
      list->Unlink(node);
      delete node;
      ReleaseProgram(program);
    }
  }
  for (VertexProgram*& p : recent.programs) p = nullptr;
}

void TnlSetup::DropSlots(VertexEngineBlock* hw) {
  for (VertexEngineProgramSlot& s : hw->mainPrograms) SetSlot(&s, nullptr);
  for (VertexEngineProgramSlot* s : {&hw->transformPrograms[0], &hw->transformPrograms[1], &hw->pointPrograms[0],
                                     &hw->pointPrograms[1], &hw->clipProgram, &hw->lightingPrograms[0],
                                     &hw->lightingPrograms[1], &hw->lightCombination, &hw->fixedProgram})
    SetSlot(s, nullptr);
}

Matrix MatrixOf(const uint32_t words[16]) {
  float values[16];
  memcpy(values, words, sizeof values);
  return Matrix(values);
}
