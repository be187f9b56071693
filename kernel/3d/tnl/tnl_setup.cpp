// The transform-and-lighting set-up: construction with its constant map,
// attachment to a render context's record, the switches it caches, and the
// update pass: a table of steps (its own below, those of tnl_derived.cpp
// and tnl_layouts.cpp), each with the changes that run it, run in their
// fixed order before a draw.
#include "kernel/3d/tnl/tnl_setup.h"

#include <string.h>

#include <array>
#include <initializer_list>
#include <type_traits>

#include "core/driver_switches.h"
#include "core/hot_inline.h"
#include "core/pdev.h"
#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_internal.h"
#include "kernel/3d/tnl/vertex_format.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

using namespace tnl_detail;

namespace {

constexpr uint32_t kShadingWord = 0x3F803F80;
// The four uploads (header, light combination, constants, parameter
// block), and the same bits of the record's second program byte.
constexpr uint8_t kUploadBits = kVeR2Header | kVeR2LightCombination | kVeR2Constants | kVeR2Parameters;
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
  key.keyDirty[1] |= kKd1Mode;
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

// The steps of the pass in their fixed order, each with the changes that
// run it. A step sees the key's dirty bytes and the update flags as the
// steps before it left them.
constexpr auto TnlSetup::PassSteps() {
  return std::to_array<PassStep>({
    // Coordinate sources and generation, and the stages' argument summaries.
    {{.texCoords = kTcStageInputs, .texCoordSets = kTcSets | kTcSetSources | kTcSetArguments},
     &TnlSetup::Run<&TnlSetup::AnalyseTextureStages>},
    // The group's three values into 373 y, z, w; its value for 333 y.
    {{.texCoords = kTcValues}, &TnlSetup::WriteCoordValues},
    {{.third = kThConstant}, &TnlSetup::WriteThirdConstant},
    {{.transform = kVxViewport}, &TnlSetup::SelectBlockLayout},
    {{.texCoords = kTcFlags}, &TnlSetup::UpdateCoordControls},
    {{.fog = kVfgFog}, &TnlSetup::UpdateVertexFog},
    {{.transform = kVxVertexBlend}, &TnlSetup::WriteFactor},
    {{.transform = kVxViewport, .texCoordSets = kTcSets | kTcSetSources}, &TnlSetup::UpdateRouting},
    {{.transform = kVxVertexBlend, .updateFlags = kTnlUpdLayoutFormat}, &TnlSetup::Run<&TnlSetup::UpdateVertexBlend>,
     nullptr, &TnlSetup::KeepBlendCount},
    // Kind, fill mode and class; a kind beyond the table ends the pass.
    {{.transform = kVxPrimitiveMode | kVxFillMode}, &TnlSetup::UpdatePrimitive, nullptr, &TnlSetup::KeepClass},
    {{.transform = kVxPrimitiveMode | kVxDriver13, .key0 = kKd0BlendCount}, &TnlSetup::UpdateStipple},
    {{.transform = kVxPoint, .viewport = kVpScale}, &TnlSetup::UpdatePointAttenuation},
    {{.transform = kVxFillMode | kVxDepthBias, .viewport = kVpDepth | kVpDepthFormat, .key0 = kKd0Class},
     &TnlSetup::Run<&TnlSetup::UpdateDepthOffset>},
    {{.transform = kVxFillMode | kVxPoint | kVxDriver27 | kVxDriver13,
      .third = kThPointSize,
      .viewport = kVpScale | kVpShadow,
      .key0 = kKd0Class,
      .updateFlags = kTnlUpdLayoutFormat},
     &TnlSetup::Run<&TnlSetup::UpdatePointSize>},
    {{.transform = kVxPoint, .texCoordSets = kTcSets, .key0 = kKd0Class | kKd0PointProgram},
     &TnlSetup::Run<&TnlSetup::UpdateGuardBand>},
    // Any fill-mode change reaches the fill field: a change between points
    // and solid fill changes no class.
    {{.transform = kVxFillMode, .key0 = kKd0Class}, &TnlSetup::Run<&TnlSetup::UpdateFillMode>},
    {{.transform = kVxShadeMode}, &TnlSetup::UpdateSpecular},
    {{.transform = kVxLighting | kVxTwoSide | kVxTwoSideMode, .key0 = kKd0Class}, &TnlSetup::UpdateTwoSided},
    {{.transform = kVxAmbient}, &TnlSetup::UpdateGlobalAmbientFlag},
    {{.transform = kVxMaterial}, &TnlSetup::UpdateMaterialFlags},
    {{.transform = kVxCullMode | kVxLighting | kVxTwoSide, .key0 = kKd0Class}, &TnlSetup::UpdateCull},
    {{.transform = kVxMaterial | kVxAmbient | kVxMaterialSource, .updateFlags = kTnlUpdLayoutFormat},
     &TnlSetup::Run<&TnlSetup::UpdateMaterialSources>, &TnlSetup::LightingSwitchedOn},
    {{.transform = kVxLight, .updateFlags = kTnlUpdCollect}, &TnlSetup::CollectEnabledLights},
    {{.transform = kVxTextureTransforms, .matrices = ~0u, .texCoordSets = kTcSets | kTcSetSources | kTcSetMatrices},
     &TnlSetup::UpdateTextureMatrices},
    {{.transform = kVxScreenMapping, .viewport = kVpMapping | kVpDepthRange | kVpScale},
     &TnlSetup::Run<&TnlSetup::UpdateViewport>, &TnlSetup::MappingFollows},
    {{.transform = kVxFillMode | kVxPoint,
      .texCoordSets = kTcSets,
      .key0 = kKd0Class | kKd0BlendCount,
      .updateFlags = kTnlUpdLayoutFormat},
     &TnlSetup::Run<&TnlSetup::UpdateTransformEnable>},
    {{.transform = kVxLighting | kVxLocalViewer | kVxPoint,
      .fog = kVfgFog,
      .key0 = kKd0Lights | kKd0Class | kKd0PointProgram,
      .key1 = kKd1ClipCount,
      .key3 = kKd3StageSummaryA | kKd3StageSummaryB},
     &TnlSetup::Run<&TnlSetup::UpdateLightingFlags>},
    // The clip planes' enable and count, the matrices, the planes.
    {{.transform = kVxClipPlaneEnable}, &TnlSetup::UpdateClipEnable, &TnlSetup::BlendCountBecameNonZero},
    {{.matrices = kMxViewWorld | kMxProjection,
      .worlds = ~0u,
      .key0 = kKd0IndexedBlend | kKd0BlendCount,
      .key1 = kKd1EyeSpace},
     &TnlSetup::UpdateBlendMatrices, &TnlSetup::BlendMatricesFollow},
    {{.transform = kVxClipPlaneEnable | kVxViewport, .matrices = kMxViewWorld | kMxProjection},
     &TnlSetup::UpdateClipPlaneConstants},
    {{.transform = kVxMaterial | kVxLight | kVxLighting | kVxAmbient | kVxLocalViewer | kVxMaterialSource |
                   kVxClipPlanes,
      .key2 = kKd2ColourSources | kKd2TwoSided,
      .updateFlags = kTnlUpdLights},
     &TnlSetup::RebuildLights},
    // The programs: the main-program key, the main and fixed programs, the
    // half line width, the lighting programs (or the shader mode's fetch
    // flags), the fetch layout, the light combination and the start
    // addresses.
    {{.transform = kVxFillMode | kVxId16 | kVxDriver27,
      .key0 = kKd0Class | kKd0BlendCount,
      .key1 = kKd1ClipCount,
      .key3 = kKd3PointLineMode | kKd3CoordGeneration},
     &TnlSetup::MarkMainKey},
    {{.transform = kVxPoint | kVxDriver13, .third = kThPointSize, .key3 = kKd3Kind2, .updateFlags = kTnlUpdMainKey},
     &TnlSetup::Run<&TnlSetup::SelectPrograms>, &TnlSetup::ProgramsFollow},
    {{.transform = kVxDriver27}, &TnlSetup::WriteLineWidth},
    {{.always = true}, &TnlSetup::SelectLightingOrFetchFlags},
    {{.always = true}, &TnlSetup::Run<&TnlSetup::BuildFetchLayout>},
    {{.always = true}, &TnlSetup::Run<&TnlSetup::EnterLightCombination>},
    {{.always = true}, &TnlSetup::Run<&TnlSetup::EnterStartAddresses>},
    // The program header and the parameter blocks; the image of the mode.
    {{.always = true}, &TnlSetup::Run<&TnlSetup::WriteHeaderAndBlocks>},
    {{.always = true}, &TnlSetup::BindImageOfMode},
    {{.always = true}, &TnlSetup::TrackIndexedBlend},
  });
}

template <auto Step>
bool TnlSetup::Run(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw) {
  using Block = const VertexProcessingBlock&;
  auto call = [&] {
    if constexpr (std::is_invocable_v<decltype(Step), TnlSetup*, Block, VertexFetchControl*, VertexEngineBlock*>)
      return (this->*Step)(b, fetch, hw);
    else if constexpr (std::is_invocable_v<decltype(Step), TnlSetup*, Block, VertexEngineBlock*>)
      return (this->*Step)(b, hw);
    else if constexpr (std::is_invocable_v<decltype(Step), TnlSetup*, Block>)
      return (this->*Step)(b);
    else
      return (this->*Step)(hw);
  };
  if constexpr (std::is_same_v<decltype(call()), bool>) {
    return call();
  } else {
    call();
    return true;
  }
}

template <size_t I>
ORV_HOT_INLINE bool TnlSetup::RunPassStep(const VertexProcessingBlock& b, VertexFetchControl* fetch,
                                          VertexEngineBlock* hw) {
  constexpr PassStep step = PassSteps()[I];
  constexpr PassTrigger t = step.when;
  bool fires = t.always;
  if constexpr (!t.always) {
    const PassChanges& c = pass_;
    const uint8_t* kd = key.keyDirty;
    const uint32_t changed = (t.transform & c.transform) | (t.matrices & c.matrices) | (t.worlds & c.worlds) |
                             (t.texCoords & c.texCoords) | (t.texCoordSets & c.texCoordSets) | (t.fog & c.fog) |
                             (t.third & c.third) | (t.viewport & c.viewport) | (t.updateFlags & updateFlags) |
                             (t.key0 & kd[0]) | (t.key1 & kd[1]) | (t.key2 & kd[2]) | (t.key3 & kd[3]);
    fires = changed != 0;
    if constexpr (step.also != nullptr) fires = fires || (this->*step.also)(b);
  }
  if (fires) return (this->*step.run)(b, fetch, hw);
  if constexpr (step.otherwise != nullptr) (this->*step.otherwise)();
  return true;
}

template <size_t... I>
bool TnlSetup::RunPassSteps(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw,
                            std::index_sequence<I...>) {
  return (RunPassStep<I>(b, fetch, hw) && ...);
}

bool TnlSetup::Update(VertexProcessingBlock* block, VertexFetchControl* fetch, VertexEngineBlock* hw) {
  if (block == nullptr || fetch == nullptr || hw == nullptr) return false;
  const VertexProcessingBlock& b = *block;
  pass_ = PassChanges{b.transformDirty,
                      b.matrixDirty,
                      b.worldDirty,
                      b.texCoords.dirty,
                      b.texCoords.dirty1 & ~kTcSetsUnfollowed,
                      b.fog.dirty,
                      b.third.dirty,
                      b.viewportGroup.dirty};
  passSets_ = SetCount(b);
  hw_ = hw;
  updateFlags &= kTnlUpdKept;
  oldClass_ = key.Class();

  // Unless forced, a pass where nothing but the matrices changed does the
  // matrix work alone. (Read from the block: the words just stored would
  // come back slowly as one.)
  if (force == 0 && (b.transformDirty & ~(kVxTextureTransforms | kVxNoMatrixWork)) == 0 &&
      (b.matrixDirty & kMxTextures) == 0) {
    UpdateMatricesOnly(b);
    return Finish(block, hw);
  }
  if (!RunPassSteps(b, fetch, hw, std::make_index_sequence<PassSteps().size()>())) return false;
  return Finish(block, hw);
}

void TnlSetup::UpdateMatricesOnly(const VertexProcessingBlock& b) {
  const uint32_t viewOrProjection = b.matrixDirty & (kMxViewWorld | kMxProjection);
  const bool noMatrixWork =
      (b.transformDirty & (kVxNoMatrixWork | kVxTextureTransforms)) == kVxNoMatrixWork && viewOrProjection == 0;
  if (noMatrixWork || fixedFunction == 0) return;
  UpdateMatrices(b, false);
  if (clipPlanesInUse != 0 && viewOrProjection != 0) UpdateClipPlanes(b);
}

// ---- Steps of the table --------------------------------------------------------------------

bool TnlSetup::WriteCoordValues(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  const float* now = F(kCTexValues);
  float v[4] = {now[0], BitsFloat(b.texCoords.values[0]), BitsFloat(b.texCoords.values[1]),
                BitsFloat(b.texCoords.values[2])};
  SetBoth(kCTexValues, v);
  return true;
}

bool TnlSetup::WriteThirdConstant(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  float v[4];
  memcpy(v, F(kCThird), sizeof v);
  v[1] = static_cast<float>(static_cast<int32_t>(b.third.constant333y));
  SetConst(&fixedImage, kCThird, v);
  return true;
}

// The layout record's entry, or the vertex shader's while the block names
// one.
bool TnlSetup::SelectBlockLayout(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  uint32_t layoutKey[6];
  if ((b.vertexFlags & kVfwShaderLayout) != 0) {
    const uint32_t shaderKey[6] = {b.vertexShader, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    memcpy(layoutKey, shaderKey, sizeof layoutKey);
  } else {
    memcpy(layoutKey, b.layout, sizeof layoutKey);
  }
  SelectInputLayout(layoutKey);
  return true;
}

// The flags byte's two bits into vertex controls 1 and 2.
bool TnlSetup::UpdateCoordControls(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  uint32_t control = hw->vertexControl & ~6u;
  control |= (b.texCoords.flags & 1u) << 1 | (b.texCoords.flags & 2u) << 1;
  if (control != hw->vertexControl) {
    hw->vertexControl = control;
    hw->dirtyR1 |= kVeR1Controls;
  }
  hw->fogFallback = 0;
  hw->clipFallback = 0;
  return true;
}

// Fog from the first range into 334, or per vertex from the second range
// into 340; vertex control 5 while either is on.
bool TnlSetup::UpdateVertexFog(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
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
        hw->dirtyR1 |= kVeR1Controls;
      }
    }
    control |= 0x20;
  } else {
    control &= ~0x20u;
  }
  if (control != hw->vertexControl) {
    hw->vertexControl = control;
    hw->dirtyR1 |= kVeR1Controls;
  }
  hw->fogFallback = 0;
  return true;
}

bool TnlSetup::WriteFactor(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  float v[4];
  memcpy(v, F(kCFactor), sizeof v);
  v[3] = BitsFloat(b.factor);
  SetConst(&fixedImage, kCFactor, v);
  return true;
}

// One nibble per coordinate set: its source plus 3; in the shader mode the
// fixed routing 0x6543. Every set's dimension goes back to 4.
bool TnlSetup::UpdateRouting(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  uint32_t routing = 0x6543;
  if (fixedFunction != 0) {
    routing = hw->routing;
    const uint32_t sets = SetCount(b);
    for (uint32_t k = 0; k < sets; ++k) {
      routing = (routing & ~(0xFu << (4 * k))) | ((key.coords[k].source & 7) + 3) << (4 * k);
      if (key.coords[k].dimension != 4) {
        key.coords[k].dimension = 4;
        key.keyDirty[2] |= kKd2CoordDimension;
      }
    }
  }
  if (routing != hw->routing) {
    hw->routing = routing;
    hw->dirtyR1 |= kVeR1Controls;
  }
  return true;
}

void TnlSetup::KeepBlendCount() { key.previousBlendCount = key.blendCount; }

bool TnlSetup::UpdatePrimitive(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  uint8_t* kd = key.keyDirty;
  const uint32_t kind = b.control & 0xF;
  // A kind beyond the table has no class: nothing can be drawn.
  if (kind > kMaxPrimitiveKind) return false;
  const uint32_t fill = b.control >> 4 & 3;
  const uint32_t oldKind = key.primitiveKind, oldFill = key.fillMode;
  if (kind != oldKind) {
    const uint8_t flags6 = static_cast<uint8_t>((key.flags6 & ~0x20) | (kind == 2 ? 0x20 : 0));
    if (flags6 != key.flags6) kd[3] |= kKd3Kind2;
    key.flags6 = flags6;
  }
  const uint32_t cls = kClassOfKind[kind];
  const bool edgeKind = kind == 8 || kind == 12, oldEdgeKind = oldKind == 8 || oldKind == 12;
  if (cls != key.Class() || (kind != oldKind && (edgeKind || oldEdgeKind)) ||
      (fill != oldFill && (fill == 2 || oldFill == 2))) {
    key.previousClass = key.Class();
    key.modeClassClip = static_cast<uint8_t>((key.modeClassClip & ~(kTnlClassMask << kTnlClassShift)) |
                                             cls << kTnlClassShift);
    kd[0] |= cls == 4 ? kKd0Class | kKd0PointProgram : kKd0Class;
    const uint32_t index = 2 * (cls < 5 ? cls : 5) + (fill == 2 && edgeKind ? 1 : 0);
    SetSetup(hw, kSetupA[index], kSetupB[index]);
  }
  // The fill mode is kept whatever it changed from: the fill and offset
  // steps read it.
  key.fillMode = fill;
  key.primitiveKind = kind;
  return true;
}

void TnlSetup::KeepClass() { key.previousClass = key.Class(); }

// Line stipple, for lines drawn through a transform while the switch
// allows it: 382 from the block's factor.
bool TnlSetup::UpdateStipple(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  const bool on =
      (b.flags & kVfLineStipple) != 0 && stippleAllowed != 0 && key.Class() == 2 && key.blendCount != 0;
  key.flags6 = static_cast<uint8_t>((key.flags6 & ~0x10) | (on ? 0x10 : 0));
  if (on) {
    const float w = 16.0f * static_cast<float>(b.lineStippleFactor);
    float v[4];
    memcpy(v, F(kCStipple), sizeof v);
    v[0] = 0.0f;
    v[2] = w == 0.0f ? 0.0f : 0.5f / w;
    v[3] = w;
    SetBoth(kCStipple, v);
    hw->dirtyR2 |= kVeR2Parameters;
  }
  return true;
}

// The point attenuation over the viewport's scale into 370 x, y, z, and
// the size range into 371 (at most 2048).
bool TnlSetup::UpdatePointAttenuation(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
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
  return true;
}

// The specular bit from the primitive word's selector (3 has no entry:
// off).
bool TnlSetup::UpdateSpecular(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  const uint32_t selector = b.control >> 6 & 3;
  const uint8_t specular = selector == 1 ? 1 : 0;
  if (specular != hw->specular) {
    hw->specular = specular;
    hw->dirtyR2 |= kVeR2Registers;
  }
  return true;
}

// Two-sided lighting of lit polygons: mode 2 gives 2, mode 3 gives 1.
bool TnlSetup::UpdateTwoSided(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  const uint32_t cls = key.Class();
  uint8_t value = 0;
  bool on = false;
  if ((b.flags & kVfTwoSide) != 0 && (b.flags & kVfLighting) != 0 && (cls == 3 || cls == 5)) {
    if (b.twoSideMode == 2) value = 2, on = true;
    else if (b.twoSideMode == 3) value = 1, on = true;
  }
  if (value != hw->twoSide) {
    hw->twoSide = value;
    hw->dirtyR2 |= kVeR2Registers;
  }
  SetKeyBit(&key.flags5, 0x20, on, &key.keyDirty[2], kKd2TwoSided);
  return true;
}

bool TnlSetup::UpdateGlobalAmbientFlag(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  globalAmbientFlag = b.ambient[0] != 0.0f || b.ambient[1] != 0.0f || b.ambient[2] != 0.0f ? 1 : 0;
  return true;
}

bool TnlSetup::UpdateMaterialFlags(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock*) {
  const float* a = F(kCMaterialAmbient);
  const float* e = F(kCMaterialEmissive);
  ambientFlag = a[0] != 0.0f || a[1] != 0.0f || a[2] != 0.0f ? 1 : 0;
  emissiveFlag = e[0] != 0.0f || e[1] != 0.0f || e[2] != 0.0f ? 1 : 0;
  return true;
}

// Polygons only: cull mode 2 gives 1, 3 gives 2, and 1 gives 3 while lit
// and two-sided, else the switch's value.
bool TnlSetup::UpdateCull(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  const uint32_t cls = key.Class();
  uint8_t cull = 0;
  if (cls == 3 || cls == 5) {
    const uint32_t mode = b.cullMode & 3;
    if (mode == 2) cull = 1;
    else if (mode == 3) cull = 2;
    else if (mode == 1 && (key.flags5 & 0x20) != 0 && (b.flags & kVfLighting) != 0) cull = 3;
    else cull = static_cast<uint8_t>(cullNoneMode);
  }
  if (cull != hw->cull) {
    hw->cull = cull;
    hw->dirtyR2 |= kVeR2Registers;
  }
  return true;
}

// Lighting turned on or off matters to the material sources only while on.
bool TnlSetup::LightingSwitchedOn(const VertexProcessingBlock& b) const {
  return (pass_.transform & kVxLighting) != 0 && (b.flags & kVfLighting) != 0;
}

bool TnlSetup::CollectEnabledLights(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  updateFlags |= kTnlUpdCollect;
  if ((b.flags & kVfLighting) == 0 || fixedFunction == 0) return true;
  const uint32_t count = b.enabledLightCount & 0xF;
  enabledLights = count < kTnlLights ? count : kTnlLights;
  CollectLights(b);
  return true;
}

// The projection into 329-332, and each transformed coordinate set's
// texture matrix into 313 + 4k when its matrix, the sets or its generation
// call for it.
bool TnlSetup::UpdateTextureMatrices(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  const uint32_t m = pass_.matrices;
  if ((m & kMxProjection) != 0) {
    worldViews[36] = MatrixOf(b.projection.m);
    fixedImage.MarkDirty(kCProjection, kCProjection + 3);
    combined[1] = 0;
    combined[2] = 1;
  }
  const uint32_t sets = SetCount(b);
  for (uint32_t k = 0; k < sets; ++k) {
    if (b.texCoords.sets[k].transformFlags == 0) continue;
    const uint32_t s = key.coords[k].source & 7;
    if ((m >> (s + kMxTextureShift) & 1) != 0 || (pass_.texCoordSets & kTcSets) != 0 ||
        key.coords[k].generation != 0) {
      worldViews[32 + k] = MatrixOf(b.texture[s].m);
      fixedImage.MarkDirty(kCTextureMatrices + 4 * k, kCTextureMatrices + 4 * k + 3);
    }
  }
  return true;
}

// The screen mapping follows a class change to or from class 1, and the
// blend count going to or from zero.
bool TnlSetup::MappingFollows(const VertexProcessingBlock&) const {
  const bool classOne = (key.keyDirty[0] & kKd0Class) != 0 && (key.Class() == 1 || key.previousClass == 1);
  const bool zeroChange = (key.blendCount == 0) != (key.previousBlendCount == 0);
  return classOne || zeroChange;
}

bool TnlSetup::BlendCountBecameNonZero(const VertexProcessingBlock&) const {
  return key.previousBlendCount == 0 && key.blendCount != 0;
}

// Pre-transformed vertices in the fixed-function mode have no clip planes;
// otherwise the enabled planes are counted into the key and the clip word.
bool TnlSetup::UpdateClipEnable(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw) {
  uint8_t enable = hw->clipEnable;
  uint32_t word = hw->clipWord;
  if (fixedFunction != 0 && key.blendCount == 0) {
    enable = 0;
    clipPlanesInUse = 0;
  } else {
    const uint32_t n = Popcount(b.clipPlaneEnable & 0x3F);
    const uint8_t mcc = static_cast<uint8_t>((key.modeClassClip & ~(kTnlClipCountMask << kTnlClipCountShift)) |
                                             n << kTnlClipCountShift);
    if (mcc != key.modeClassClip) key.keyDirty[1] |= kKd1ClipCount;
    key.modeClassClip = mcc;
    enable = n != 0 ? 2 : 0;
    word = (word & 0xFFFF) | (n != 0 ? ((1u << n) - 1) << 16 : 0);
    clipPlanesInUse = n != 0 ? 1 : 0;
  }
  if (enable != hw->clipEnable || word != hw->clipWord) {
    hw->clipEnable = enable;
    hw->clipWord = word;
    hw->dirtyR2 |= kVeR2Registers;
  }
  return true;
}

// Besides the world and view-projection changes of the trigger, the blend
// matrices follow a blend count just made non-zero, lighting switched on,
// lights changed while some are enabled, the clip-plane enables while
// planes are in use, and the layout while the shader image is bound.
bool TnlSetup::BlendMatricesFollow(const VertexProcessingBlock& b) const {
  const uint32_t t = pass_.transform;
  return BlendCountBecameNonZero(b) || LightingSwitchedOn(b) || ((t & kVxLight) != 0 && enabledLights != 0) ||
         ((t & kVxClipPlaneEnable) != 0 && clipPlanesInUse != 0) || ((t & kVxViewport) != 0 && imageSelect == 0);
}

// In the fixed-function mode: every matrix once the blend count became
// non-zero, else the changed ones while it is non-zero.
bool TnlSetup::UpdateBlendMatrices(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  if (fixedFunction == 0) return true;
  if (BlendCountBecameNonZero(b)) UpdateMatrices(b, true);
  else if (key.blendCount != 0) UpdateMatrices(b, false);
  return true;
}

bool TnlSetup::UpdateClipPlaneConstants(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  if (clipPlanesInUse != 0) UpdateClipPlanes(b);
  return true;
}

// The light blocks and records while lit in the fixed-function mode; the
// lighting option bits follow the path the lights took.
bool TnlSetup::RebuildLights(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  updateFlags |= kTnlUpdLights;
  if ((b.flags & kVfLighting) == 0 || fixedFunction == 0) return true;
  UpdateLights(b);
  updateFlags &= ~kTnlUpdKept;
  constexpr uint32_t kLightingOptions = 0x10F0u << 2;
  if (lightingType == 0 && lightPath == 0) optionWord |= kLightingOptions;
  else optionWord &= ~kLightingOptions;
  return true;
}

bool TnlSetup::MarkMainKey(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock*) {
  updateFlags |= kTnlUpdMainKey;
  return true;
}

// The programs also follow the cull mode (below 3) and the number of
// coordinate sets.
bool TnlSetup::ProgramsFollow(const VertexProcessingBlock& b) const {
  return ((pass_.transform & kVxCullMode) != 0 && (b.cullMode & 3) < 3) || SetCount(b) != coordSets;
}

// Half the floored line width into 376 z from a width of 2 on, else 0.5.
bool TnlSetup::WriteLineWidth(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*) {
  const float width = BitsFloat(b.lineWidth);
  for (VecConstShadow* img : {&fixedImage, &shaderImage}) {
    float v[4];
    memcpy(v, img->image[kCRaster].w, sizeof v);
    v[2] = width >= 2.0f ? LocFloor(width) * 0.5f : 0.5f;
    SetConst(img, kCRaster, v);
  }
  return true;
}

bool TnlSetup::SelectLightingOrFetchFlags(const VertexProcessingBlock& b, VertexFetchControl*,
                                          VertexEngineBlock* hw) {
  if (fixedFunction != 0) return SelectLightingPrograms(b, hw);
  UpdateFetchFlags(b, hw);
  return true;
}

bool TnlSetup::BindImageOfMode(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock* hw) {
  if (fixedFunction != imageSelect) BindImage(hw);
  return true;
}

// Indexed blending turned off sends the parameter blocks again.
bool TnlSetup::TrackIndexedBlend(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock* hw) {
  const uint8_t indexed = key.flags4 & 0x02;
  if (lastIndexedBlend != 0 && indexed == 0) hw->dirtyR2 |= kVeR2Parameters;
  lastIndexedBlend = indexed;
  return true;
}

bool TnlSetup::Finish(VertexProcessingBlock* block, VertexEngineBlock* hw) {
  // The pass took every change: the dirty words are cleared.
  block->transformDirtyCopy = 0;
  block->transformDirty = block->matrixDirty = block->worldDirty = 0;
  block->texCoords.dirty = block->texCoords.dirty1 = 0;
  block->fog.dirty = block->third.dirty = block->viewportGroup.dirty = 0;
  if (BoundImage()->dirtySummary != 0) hw->dirtyR2 |= kVeR2Constants;
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
  hw->dirtyR2 |= kVeR2Registers;
}

// ---- The light-combination program and the start addresses ------------------------------

bool TnlSetup::EnterLightCombination(VertexEngineBlock* hw) {
  const uint32_t n = lightRecordCount;
  VertexProgram* program = nullptr;
  if (n != 0 && n <= kMaxLightCombination && builder != nullptr) program = builder->GetFixedProgram(4, n - 1);
  if (program != nullptr) {
    SetSlot(&hw->lightCombination, program);
    hw->lightCombinationParameters = lightRecords;
    hw->lightCombinationCount = kLightRecordWords * n;
    hw->dirtyR2 |= kVeR2LightCombination;
  } else {
    // None, or more records than any light-combination program takes.
    SetSlot(&hw->lightCombination, nullptr);
    hw->lightCombinationParameters = nullptr;
    hw->lightCombinationCount = 0;
    hw->dirtyR2 &= static_cast<uint8_t>(~kVeR2LightCombination);
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

// ---- The program header, the parameter blocks and the bound image --------------------------

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
  if (pointOff || (pass_.transform & kVxFillMode) != 0 || classSwitch ||
      !SameBytes(header, programHeader, sizeof header)) {
    memcpy(programHeader, header, sizeof header);
    hw->dirtyR2 |= kVeR2Header;
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
    hw->dirtyR2 |= kVeR2Parameters;
  }
}

void TnlSetup::BindImage(VertexEngineBlock* hw) {
  VecConstShadow* from = BoundImage();
  const bool fixedMode = fixedFunction != 0;
  VertexProgram* program = builder != nullptr ? builder->GetFixedProgram(fixedMode ? 1 : 2, 0) : nullptr;
  SetSlot(&hw->fixedProgram, program);
  hw->fixedParameters = fixedMode ? fixedBlock : shaderBlock;
  hw->fixedParameterCount = fixedMode ? 16 : 24;
  hw->dirtyR2 |= kVeR2Parameters;
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

VecConstShadow* RenderContext3dVecConstShadow(RenderContext3d* context) {
  return context != nullptr && context->tnl != nullptr ? &context->tnl->shaderImage : nullptr;
}

void LoadVertexShaderConstants3d(RenderContext3d* context, uint32_t handle) {
  TnlSetup* setup = context != nullptr ? context->tnl : nullptr;
  VecConstShadow* shadow = RenderContext3dVecConstShadow(context);
  const VertexShaderEntry* entry = setup != nullptr ? setup->FindVertexShader(handle) : nullptr;
  if (entry == nullptr || entry->format == nullptr || shadow == nullptr) return;
  // The shader's own constants, each into the client constants it names.
  for (const VertexDeclConstant& c : entry->format->constants) {
    if (c.reg >= kVecConstPostable) continue;
    memcpy(shadow->image[c.reg].w, c.value, sizeof c.value);
    shadow->MarkDirty(c.reg, 0);
  }
}
