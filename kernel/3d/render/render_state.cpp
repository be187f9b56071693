// The render state's setters, dirty tracking and its application before a
// draw.
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/state_blocks.h"

#include <stddef.h>
#include <string.h>

#include <type_traits>
#include <utility>

#include "core/float_bits.h"
#include "core/hot_inline.h"
#include "core/os.h"
#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/group_defaults.h"
#include "kernel/3d/render/pixel_program_cache.h"

namespace {

template <class T>
bool Store(T* field, T value) {
  if (*field == value) return false;
  *field = value;
  return true;
}



// Primitive class of each primitive type (0 to 13); types beyond take 0.
constexpr uint8_t kPrimitiveCodes[] = {0, 1, 1, 3, 4, 4, 4, 7, 7, 9, 10, 11, 12, 13};

// Minification and mip filters of render state 18, by value 1 to 6.
constexpr uint8_t kMinMip[6][2] = {{1, 0}, {2, 0}, {1, 1}, {2, 1}, {1, 2}, {2, 2}};

// Material source fields (2 bits each): diffuse, specular, ambient, emissive.
constexpr uint32_t kSourceDiffuse = 0;
constexpr uint32_t kSourceSpecular = 2;
constexpr uint32_t kSourceAmbient = 4;
constexpr uint32_t kSourceEmissive = 6;

constexpr float kPi = 3.1415927f;

}  // namespace

bool NoOpEmitter3d(RenderContext3d*, const void*) { return true; }

StageRecord::StageRecord() {
  memset(this, 0, sizeof *this);
  StageArgumentSet* const sets[] = {&colour, &alpha};
  for (StageArgumentSet* set : sets) {
    set->word4 = 4;
    set->word12 = 1;
    for (auto& arg : set->args) arg.index = 255;
  }
  colourEnable = 1;
}

PipelineTextureRecord::PipelineTextureRecord() {
  memset(this, 0, sizeof *this);
  bound = 1;
}

RenderState3d::RenderState3d() {
  for (uint32_t i = 0; i < kConstRingRecords; ++i) constRing[i] = &constHomes[i];
  pipeline.count = 0;
  pipeline.kind = 0;
  pipeline.textureCount = 0;
  pipelineState.Reset(nullptr);
}

RenderState3d::~RenderState3d() {
  if (stateBlocks != nullptr) DestroyStateBlockTable3d(stateBlocks);
  for (LightRecord*& light : lights) {
    memFree(light);
    light = nullptr;
  }
}

bool RenderState3d::Init(RenderContext3d* context) {
  if (context == nullptr) return false;
  owner = context;
  stateBlocks = CreateStateBlockTable3d(this);
  deviceTargetMode = context->engineOwner != nullptr ? context->engineOwner->targetMode : 0;
  LoadDefaults();
  // What the vertex group reads of the rest of the state.
  vertex.lightTable = lights;
  vertex.lightTableSize = kMaxLightIndex + 1;
  vertex.pixelShadowMode = &pixel.shadowMode;
  // Coordinates are not scaled until a target asks for it.
  vertex.viewportGroup.scale[0] = vertex.viewportGroup.scale[1] = FloatBits(1.0f);
  SyncEnabledLights();
  for (uint32_t i = 0; i < kConstRingRecords; ++i) constRing[i] = &constHomes[i];
  constPending = 0;
  MarkAllDirty();
  return true;
}

void RenderState3d::LoadDefaults() {
  LoadRenderStateDefaults3d(this);
  SyncVertexFog();
}

// ---- Render states -----------------------------------------------------------------------------

void RenderState3d::MarkStage(uint32_t stage, uint32_t bits) {
  stages[stage].dirty |= bits;
  pixel.stageSummary |= stages[stage].dirty;
  pixel.dirty |= kPxStages;
}

// ---- The render states' translation ---------------------------------------------------------

// How a render state reaches its group: most store the value into one field
// (whole, under a mask, into bits at a shift, or as a flag set while the
// value is not 0) and mark dirty bits in one dirty word or stage 0; a few
// have rules of their own (TranslateOwnRule). A row covers `count` ids in
// a row, each the next field (`stride` bytes on) or the next bits
// (`shiftStep` on).
namespace {

enum class Into : uint8_t { kNone, kWord, kMasked, kBits, kFlag, kOwnRule };
enum class Mark : uint8_t { kNone, kWord, kStage0 };

struct Field {
  uint16_t at;    // byte offset in RenderState3d
  uint8_t width;  // 1 or 4
};
struct Dirty {
  Mark mark;
  uint16_t at;     // kWord: the dirty word's byte offset
  uint32_t set;
  uint32_t clear;  // bits cleared before `set`
};

struct RenderStateRow {
  uint32_t id = 0;
  Into into = Into::kNone;
  Field field = {};
  uint32_t mask = 0;
  uint8_t shift = 0;
  Dirty dirty = {};
  bool vertexFog = false;  // the vertex engine's fog follows
  uint8_t count = 1;
  uint8_t stride = 0;
  uint8_t shiftStep = 0;
};

static_assert(std::is_standard_layout_v<RenderState3d>);
#define ORV_RS_FIELD(member)                                            \
  Field {                                                               \
    static_cast<uint16_t>(offsetof(RenderState3d, member)),             \
        static_cast<uint8_t>(sizeof(std::declval<RenderState3d&>().member)) \
  }
#define ORV_RS_DIRTY(word, bits) \
  Dirty { Mark::kWord, static_cast<uint16_t>(offsetof(RenderState3d, word)), bits, 0 }

constexpr Dirty Stage0(uint32_t bits) { return {Mark::kStage0, 0, bits, 0}; }
constexpr Dirty Replacing(Dirty d, uint32_t cleared) {
  d.clear = cleared;
  return d;
}

constexpr RenderStateRow Word(uint32_t id, Field f, Dirty d) { return {id, Into::kWord, f, 0, 0, d}; }
constexpr RenderStateRow Masked(uint32_t id, Field f, uint32_t mask, Dirty d) {
  return {id, Into::kMasked, f, mask, 0, d};
}
constexpr RenderStateRow Bits(uint32_t id, Field f, uint32_t mask, uint8_t shift, Dirty d) {
  return {id, Into::kBits, f, mask, shift, d};
}
constexpr RenderStateRow Flag(uint32_t id, Field f, uint32_t flag, Dirty d) { return {id, Into::kFlag, f, flag, 0, d}; }
constexpr RenderStateRow OwnRule(uint32_t id) { return {id, Into::kOwnRule}; }
constexpr RenderStateRow WithVertexFog(RenderStateRow r) {
  r.vertexFog = true;
  return r;
}
constexpr RenderStateRow Repeated(RenderStateRow r, uint8_t count, uint8_t stride, uint8_t shiftStep = 0) {
  r.count = count;
  r.stride = stride;
  r.shiftStep = shiftStep;
  return r;
}

constexpr RenderStateRow kRenderStateRows[] = {
    OwnRule(kRsIdAntialias),
    OwnRule(kRsIdStage0Address),
    Flag(kRsIdWrapU, ORV_RS_FIELD(pixel.wrap), 1, ORV_RS_DIRTY(pixel.dirty, kPxWrap)),
    Flag(kRsIdWrapV, ORV_RS_FIELD(pixel.wrap), 2, ORV_RS_DIRTY(pixel.dirty, kPxWrap)),
    Word(kRsIdDepthEnable, ORV_RS_FIELD(depthStencil.depthEnable), ORV_RS_DIRTY(depthStencil.dirty, kDsDepth)),
    Bits(kRsIdFillMode, ORV_RS_FIELD(vertex.control), 3, 4, ORV_RS_DIRTY(vertex.transformDirty, kVxFillMode)),
    Bits(kRsIdShadeMode, ORV_RS_FIELD(vertex.control), 3, 6, ORV_RS_DIRTY(vertex.transformDirty, kVxShadeMode)),
    OwnRule(kRsIdLinePattern),
    Word(kRsIdRasterOp, ORV_RS_FIELD(raster.rasterOp), ORV_RS_DIRTY(raster.dirty, kRsRasterOp)),
    Word(kRsIdPlaneMask, ORV_RS_FIELD(raster.planeMask),
         Replacing(ORV_RS_DIRTY(raster.dirty, kRsPlaneMask), kRsColourWriteMask)),
    Word(kRsIdDepthWrite, ORV_RS_FIELD(depthStencil.depthWrite), ORV_RS_DIRTY(depthStencil.dirty, kDsDepth)),
    Word(kRsIdAlphaTestEnable, ORV_RS_FIELD(raster.alphaTestEnable), ORV_RS_DIRTY(raster.dirty, kRsAlphaTest)),
    Flag(kRsIdVertexControlBit1, ORV_RS_FIELD(vertex.controlByte), 0x2, ORV_RS_DIRTY(vertex.transformDirty, kVxId16)),
    OwnRule(kRsIdStage0MagFilter),
    OwnRule(kRsIdStage0MinMipFilter),
    OwnRule(kRsIdSrcBlend),
    OwnRule(kRsIdDstBlend),
    OwnRule(kRsIdTextureBlendPreset),
    Masked(kRsIdCullMode, ORV_RS_FIELD(vertex.cullMode), 3, ORV_RS_DIRTY(vertex.transformDirty, kVxCullMode)),
    Word(kRsIdDepthFunc, ORV_RS_FIELD(depthStencil.depthFunc), ORV_RS_DIRTY(depthStencil.dirty, kDsDepth)),
    Word(kRsIdAlphaRef, ORV_RS_FIELD(raster.alphaRef), ORV_RS_DIRTY(raster.dirty, kRsAlphaTest)),
    Word(kRsIdAlphaFunc, ORV_RS_FIELD(raster.alphaFunc), ORV_RS_DIRTY(raster.dirty, kRsAlphaTest)),
    Word(kRsIdDither, ORV_RS_FIELD(raster.dither), ORV_RS_DIRTY(raster.dirty, kRsDither)),
    Word(kRsIdBlendEnable, ORV_RS_FIELD(raster.blendEnable), ORV_RS_DIRTY(raster.dirty, kRsBlend)),
    WithVertexFog(Flag(kRsIdFogEnable, ORV_RS_FIELD(fog.enables), 1, ORV_RS_DIRTY(fog.dirty, kFgEnable))),
    Flag(kRsIdSpecularEnable, ORV_RS_FIELD(pixel.control), 1, ORV_RS_DIRTY(pixel.dirty, kPxSpecular)),
    Word(kRsIdFogColour, ORV_RS_FIELD(fog.colour), ORV_RS_DIRTY(fog.dirty, kFgColour)),
    WithVertexFog(Word(kRsIdFogTableMode, ORV_RS_FIELD(fog.tableMode), ORV_RS_DIRTY(fog.dirty, kFgTable))),
    WithVertexFog(Word(kRsIdFogStart, ORV_RS_FIELD(fog.start), ORV_RS_DIRTY(fog.dirty, kFgTable))),
    WithVertexFog(Word(kRsIdFogEnd, ORV_RS_FIELD(fog.end), ORV_RS_DIRTY(fog.dirty, kFgTable))),
    WithVertexFog(Word(kRsIdFogDensity, ORV_RS_FIELD(fog.density), ORV_RS_DIRTY(fog.dirty, kFgTable))),
    OwnRule(kRsIdStippleEnable),
    Flag(kRsIdColourKeyEnable, ORV_RS_FIELD(pixel.control), 2, ORV_RS_DIRTY(pixel.dirty, kPxColourKey)),
    Word(kRsIdStage0Border, ORV_RS_FIELD(stages[0].border), Stage0(kSgBorder)),
    Masked(kRsIdStage0AddressU, ORV_RS_FIELD(stages[0].addressU), 7, Stage0(kSgAddress)),
    Masked(kRsIdStage0AddressV, ORV_RS_FIELD(stages[0].addressV), 7, Stage0(kSgAddress)),
    Word(kRsIdStage0LodBias, ORV_RS_FIELD(stages[0].lodBias), Stage0(kSgLod)),
    OwnRule(kRsIdDepthBias),
    WithVertexFog(Flag(kRsIdRangeFog, ORV_RS_FIELD(fog.enables), 2, ORV_RS_DIRTY(fog.dirty, kFgEnable))),
    Masked(kRsIdStage0Anisotropy, ORV_RS_FIELD(stages[0].anisotropy), 3, Stage0(kSgFilter)),
    // Enable, fail, depth-fail and pass operations, function, reference,
    // mask and write mask.
    Repeated(Word(kRsIdStencilEnable, ORV_RS_FIELD(depthStencil.stencil[0]), ORV_RS_DIRTY(depthStencil.dirty, kDsStencil)),
             8, 4),
    OwnRule(kRsIdTextureFactor),
    OwnRule(kRsIdTargetMode),
    Repeated(Word(kRsIdStippleRow0, ORV_RS_FIELD(stipple.rows[0]), ORV_RS_DIRTY(stipple.dirty, kStRows)), kStippleRows, 4),
    // Three bits per coordinate set.
    Repeated(Bits(kRsIdWrap0, ORV_RS_FIELD(pixel.wrap), 7, 0, ORV_RS_DIRTY(pixel.dirty, kPxWrap)), 8, 0, 3),
    Flag(kRsIdClipping, ORV_RS_FIELD(vertex.flags), kVfClipping, {}),
    Flag(kRsIdLighting, ORV_RS_FIELD(vertex.flags), kVfLighting, ORV_RS_DIRTY(vertex.transformDirty, kVxLighting)),
    OwnRule(kRsIdAmbient),
    WithVertexFog(Word(kRsIdFogVertexMode, ORV_RS_FIELD(fog.vertexMode), ORV_RS_DIRTY(fog.dirty, kFgTable))),
    Flag(kRsIdColourVertex, ORV_RS_FIELD(vertex.flags), kVfColourVertex,
         ORV_RS_DIRTY(vertex.transformDirty, kVxMaterialSource)),
    Flag(kRsIdLocalViewer, ORV_RS_FIELD(vertex.flags), kVfLocalViewer,
         ORV_RS_DIRTY(vertex.transformDirty, kVxLocalViewer)),
    Flag(kRsIdNormalise, ORV_RS_FIELD(vertex.flags), kVfNormalise, ORV_RS_DIRTY(vertex.transformDirty, kVxNormalise)),
    Word(kRsIdColourKeyBlend, ORV_RS_FIELD(pixel.colourKeyBlend), ORV_RS_DIRTY(pixel.dirty, kPxColourKey)),
    // The diffuse, specular, ambient and emissive sources, two bits each.
    Repeated(Bits(kRsIdDiffuseSource, ORV_RS_FIELD(vertex.materialSources), 3, kSourceDiffuse,
                  ORV_RS_DIRTY(vertex.transformDirty, kVxMaterialSource)),
             4, 0, kSourceSpecular - kSourceDiffuse),
    OwnRule(kRsIdVertexBlend),
    Masked(kRsIdClipPlaneEnable, ORV_RS_FIELD(vertex.clipPlaneEnable), 0x3F,
           ORV_RS_DIRTY(vertex.transformDirty, kVxClipPlaneEnable)),
    Word(kRsIdPointSize, ORV_RS_FIELD(vertex.pointSize), ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
    Word(kRsIdPointSizeMin, ORV_RS_FIELD(vertex.pointMin), ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
    Flag(kRsIdPointSprite, ORV_RS_FIELD(vertex.flags), kVfPointSprite, ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
    Flag(kRsIdPointScale, ORV_RS_FIELD(vertex.flags), kVfPointScale, ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
    Repeated(Word(kRsIdPointScaleA, ORV_RS_FIELD(vertex.pointScale[0]), ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
             3, 4),
    OwnRule(kRsIdMultisample),
    Word(kRsIdPointSizeMax, ORV_RS_FIELD(vertex.pointMax), ORV_RS_DIRTY(vertex.transformDirty, kVxPoint)),
    Bits(kRsIdIndexedBlend, ORV_RS_FIELD(vertex.flags), 1, kVfIndexedBlendShift,
         ORV_RS_DIRTY(vertex.transformDirty, kVxVertexBlend)),
    Word(kRsIdColourWriteMask, ORV_RS_FIELD(raster.colourWriteMask),
         Replacing(ORV_RS_DIRTY(raster.dirty, kRsColourWriteMask), kRsPlaneMask)),
    Word(kRsIdTweenFactor, ORV_RS_FIELD(vertex.tweenFactor), ORV_RS_DIRTY(vertex.transformDirty, kVxVertexBlend)),
    Word(kRsIdBlendOp, ORV_RS_FIELD(raster.blendOp), ORV_RS_DIRTY(raster.dirty, kRsBlend)),
};
#undef ORV_RS_FIELD
#undef ORV_RS_DIRTY

// The rows by id, each repeated row spread over its ids; ids without a row
// are stored only. An id with two rows, or past 171, stops the build here.
void RenderStateIdTwiceOrPastTheGroups() {}
struct RenderStateRowsById {
  RenderStateRow row[kTranslatedStateIds + 1];
};
constexpr RenderStateRowsById MakeRowsById() {
  RenderStateRowsById t{};
  for (const RenderStateRow& r : kRenderStateRows) {
    for (uint32_t k = 0; k < r.count; ++k) {
      const uint32_t id = r.id + k;
      if (id > kTranslatedStateIds || t.row[id].into != Into::kNone) RenderStateIdTwiceOrPastTheGroups();
      RenderStateRow& e = t.row[id];
      e = r;
      e.id = id;
      e.field.at = static_cast<uint16_t>(r.field.at + k * r.stride);
      e.shift = static_cast<uint8_t>(r.shift + k * r.shiftStep);
      e.count = 1;
    }
  }
  return t;
}
constexpr RenderStateRowsById kRowsById = MakeRowsById();

template <uint8_t Width>
ORV_HOT_INLINE uint32_t LoadField(const unsigned char* at) {
  static_assert(Width == 1 || Width == 4);
  if constexpr (Width == 1) {
    return *at;
  } else {
    uint32_t v;
    memcpy(&v, at, sizeof v);
    return v;
  }
}
template <uint8_t Width>
ORV_HOT_INLINE void StoreField(unsigned char* at, uint32_t v) {
  static_assert(Width == 1 || Width == 4);
  if constexpr (Width == 1) {
    *at = static_cast<unsigned char>(v);
  } else {
    memcpy(at, &v, sizeof v);
  }
}

}  // namespace

// A render state's translation, made at compile time from its row: the
// stores and marks of its id and nothing else.
template <uint32_t Id>
ORV_HOT_INLINE void RenderState3d::TranslateRenderState(uint32_t value, uint32_t old) {
  if constexpr (Id == kRsIdStage0Texture) {
    // The stage-0 texture: a change between none and one also changes
    // what the stage samples at all.
    stages[0].texture = value;
    stages[0].textureKind = kStageTextureHandle;
    MarkStage(0, (old == 0) != (value == 0) ? kSgTexture | kSgPresence : kSgTexture);
  } else {
    constexpr RenderStateRow r = kRowsById.row[Id];
    if constexpr (r.into == Into::kNone) {
      return;  // stored only
    } else if constexpr (r.into == Into::kOwnRule) {
      TranslateOwnRule(Id, value);
    } else {
      unsigned char* const self = reinterpret_cast<unsigned char*>(this);
      unsigned char* const field = self + r.field.at;
      if constexpr (r.into == Into::kWord) {
        StoreField<r.field.width>(field, value);
      } else if constexpr (r.into == Into::kMasked) {
        StoreField<r.field.width>(field, value & r.mask);
      } else if constexpr (r.into == Into::kBits) {
        StoreField<r.field.width>(field, (LoadField<r.field.width>(field) & ~(r.mask << r.shift)) |
                                             (value & r.mask) << r.shift);
      } else {
        const uint32_t was = LoadField<r.field.width>(field);
        StoreField<r.field.width>(field, value != 0 ? was | r.mask : was & ~r.mask);
      }
      if constexpr (r.dirty.mark == Mark::kStage0) {
        MarkStage(0, r.dirty.set);
      } else if constexpr (r.dirty.mark == Mark::kWord) {
        uint32_t* word = reinterpret_cast<uint32_t*>(self + r.dirty.at);
        *word = (*word & ~r.dirty.clear) | r.dirty.set;
      }
      if constexpr (r.vertexFog) SyncVertexFog();
    }
  }
}

ORV_HOT_INLINE void RenderState3d::TranslateOwnRule(uint32_t id, uint32_t value) {
  TextureStage& s0 = stages[0];
  switch (id) {
    case kRsIdAntialias:
      raster.antialias = value == 1 ? 2 : value == 2 ? 3 : 0;
      raster.dirty |= kRsAntialias;
      break;
    case kRsIdStage0Address:
      s0.addressU = s0.addressV = static_cast<uint8_t>(value & 7);
      MarkStage(0, kSgAddress);
      break;
    case kRsIdLinePattern:
      stipple.id10 = value;
      pixel.id10 = value;
      vertex.factor = value;
      stipple.dirty |= kStId10;
      pixel.dirty |= kPxId10;
      vertex.transformDirty |= kVxDriver13;
      break;
    case kRsIdStage0MagFilter:
      s0.magFilter = value == 2 ? (values[kRsIdStage0Anisotropy] > 1 ? 3 : 2) : 1;
      MarkStage(0, kSgFilter);
      break;
    case kRsIdStage0MinMipFilter:
      if (value >= 1 && value <= 6) {
        uint8_t min = kMinMip[value - 1][0];
        if (min == 2 && values[kRsIdStage0Anisotropy] > 1) min = 3;
        s0.minFilter = min;
        s0.mipFilter = kMinMip[value - 1][1];
        MarkStage(0, kSgFilter);
      }
      break;
    case kRsIdSrcBlend:
      raster.srcBlend[0] = raster.srcBlend[1] = value;
      raster.dirty |= kRsBlend;
      break;
    case kRsIdDstBlend:
      raster.dstBlend[0] = raster.dstBlend[1] = value;
      raster.dirty |= kRsBlend;
      break;
    case kRsIdTextureBlendPreset:
      PresetBlendMode(value);
      break;
    case kRsIdStippleEnable:
      pixel.stippleEnable = static_cast<uint8_t>(value);
      pixel.stageSummary |= kSgStipple;
      pixel.dirty |= kPxStages;
      break;
    case kRsIdDepthBias:
      vertex.flags = value != 0 ? vertex.flags | kVfDepthBias : vertex.flags & ~kVfDepthBias;
      vertex.depthBias = static_cast<float>(value);
      vertex.depthBiasQuarter = static_cast<float>(value) * 0.25f;
      vertex.transformDirty |= kVxDepthBias;
      break;
    case kRsIdTextureFactor: {
      const float factor[4] = {static_cast<float>(value >> 16 & 0xFF) / 255.0f,
                               static_cast<float>(value >> 8 & 0xFF) / 255.0f,
                               static_cast<float>(value & 0xFF) / 255.0f,
                               static_cast<float>(value >> 24) / 255.0f};
      for (uint32_t s = 0; s < kFactorStages; ++s) {
        memcpy(stages[s].factor, factor, sizeof factor);
        stages[s].dirty |= kSgFactor;
      }
      pixel.stageSummary |= kSgFactor;
      pixel.dirty |= kPxStages;
      break;
    }
    case kRsIdTargetMode:
      if ((value & 0xFF) != 0) {
        if (owner != nullptr) owner->targetModeFlag = 1;
        SetTargetMode(true);
        if (owner != nullptr && owner->engineOwner != nullptr) owner->engineOwner->ResyncSurfaceOwner();
      } else {
        if (owner != nullptr) {
          owner->targetModeFlag = 0;
          ++owner->targetModeSwitches;
        }
        SetTargetMode(false);
      }
      break;
    case kRsIdAmbient:
      vertex.ambient[0] = static_cast<float>(value >> 16 & 0xFF) / 255.0f;
      vertex.ambient[1] = static_cast<float>(value >> 8 & 0xFF) / 255.0f;
      vertex.ambient[2] = static_cast<float>(value & 0xFF) / 255.0f;
      vertex.ambient[3] = static_cast<float>(value >> 24) / 255.0f;
      vertex.transformDirty |= kVxAmbient;
      break;
    case kRsIdVertexBlend: {
      const uint32_t mode = value == 255 ? 4 : value == 256 ? 5 : value & 7;
      vertex.tnlMode = (vertex.tnlMode & ~(7u << 14)) | mode << 14;
      vertex.transformDirty |= kVxVertexBlend;
      break;
    }
    case kRsIdMultisample:
      raster.antialias = value == 0 ? 0 : 3;
      raster.dirty |= kRsAntialias;
      break;
    default:
      break;
  }
}

// The translations by id, for ids known only at run time.
template <uint32_t Id>
void RenderState3d::Translate(RenderState3d* state, uint32_t value, uint32_t old) {
  state->TranslateRenderState<Id>(value, old);
}
template <uint32_t... I>
constexpr RenderState3d::Translations RenderState3d::TranslationsOf(std::integer_sequence<uint32_t, I...>) {
  return {{&RenderState3d::Translate<I>...}};
}
constexpr RenderState3d::Translations RenderState3d::kTranslations =
    TranslationsOf(std::make_integer_sequence<uint32_t, kTranslatedStateIds + 1>());

// An unchanged value is the common case: it is passed over before the
// lock is read (either one skips the state).
ORV_HOT_INLINE bool RenderState3d::StoreRenderState(uint32_t id, uint32_t value, uint32_t* old) {
  *old = values[id];
  if (*old == value) return false;
  const uint32_t bit = id - 1;
  if ((locks[bit >> 5] >> (bit & 31) & 1) != 0) return false;
  values[id] = value;
  return true;
}

ORV_HOT_INLINE void RenderState3d::SetRenderState(uint32_t id, uint32_t value) {
  uint32_t old;
  if (!StoreRenderState(id, value, &old) || id > kTranslatedStateIds) return;
  kTranslations.of[id](this, value, old);
}

// Inlined into each caller, the id a constant: a render state comes to the
// stores of its translation.
template <uint32_t Id>
ORV_HOT_INLINE void RenderState3d::SetRenderStateOf(uint32_t value) {
  uint32_t old;
  if (!StoreRenderState(Id, value, &old)) return;
  if constexpr (Id <= kTranslatedStateIds) TranslateRenderState<Id>(value, old);
}

void RenderState3d::SetRenderStates(const uint32_t* pairs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = pairs[2 * i];
    const uint32_t value = pairs[2 * i + 1];
    if (id >= 1 && id < kRenderStateIds) {
      SetRenderState(id, value);
    } else if (id >= kLockControlFirst && id <= kLockControlLast) {
      const uint32_t bit = id - kLockControlFirst;
      if (value != 0)
        locks[bit >> 5] |= 1u << (bit & 31);
      else
        locks[bit >> 5] &= ~(1u << (bit & 31));
    }
  }
}

// The ids that feed the groups (1-171) each get their own copy of the
// setter, the id a constant, in ascending order: a held id costs the few
// stores its translation makes, with no dispatch on the id. A 64-id word
// with no id held is passed over whole. The ids stored only (172-256) are
// walked bit by bit. The copies take the state, the word of held bits and
// the values as arguments, so that they stay in registers across the
// stores.
void RenderState3d::SetRenderStatesHeld(const uint64_t held[kRenderStateWords],
                                        const uint32_t from[kRenderStateIds]) {
  const auto one = []<uint32_t Id>(RenderState3d* rs, uint64_t word, const uint32_t* values) {
    if ((word >> (Id & 63) & 1) != 0) rs->template SetRenderStateOf<Id>(values[Id]);
  };
  // Ids First + I of one word of held bits.
  const auto run = [one]<uint32_t First, uint32_t... I>(RenderState3d* rs, uint64_t word, const uint32_t* values,
                                                          std::integer_sequence<uint32_t, I...>) {
    if (word == 0) return;
    (one.template operator()<First + I>(rs, word, values), ...);
  };
  static_assert(kTranslatedStateIds == 171 && kRenderStateWords == 5);
  run.template operator()<1>(this, held[0], from, std::make_integer_sequence<uint32_t, 63>());     // 1-63
  run.template operator()<64>(this, held[1], from, std::make_integer_sequence<uint32_t, 64>());    // 64-127
  run.template operator()<128>(this, held[2], from, std::make_integer_sequence<uint32_t, 44>());   // 128-171
  // Stored only: the compare and store come to one store.
  for (uint32_t w = kTranslatedStateIds / 64; w < kRenderStateWords; ++w) {
    uint64_t bits = held[w];
    if (w == kTranslatedStateIds / 64) bits &= ~uint64_t{0} << (kTranslatedStateIds % 64 + 1);
    for (; bits != 0; bits &= bits - 1) {
      const uint32_t id = 64 * w + static_cast<uint32_t>(__builtin_ctzll(bits));
      const uint32_t bit = id - 1;
      if (id < kRenderStateIds && (locks[bit >> 5] >> (bit & 31) & 1) == 0) values[id] = from[id];
    }
  }
}


// The vertex engine's fog: per vertex while fog is on with a vertex fog
// mode and no table mode (a table mode fogs per pixel instead), from the
// client's start, end and density. Its dirty bit is set only on a change.
void RenderState3d::SyncVertexFog() {
  VertexFogGroup& g = vertex.fog;
  const uint8_t on = (fog.enables & 1) != 0 && fog.vertexMode != 0 && fog.tableMode == 0 ? 1 : 0;
  bool changed = Store(&g.vertexFog, on);
  changed |= Store(&g.startEnd[1][0], fog.start);
  changed |= Store(&g.startEnd[1][1], fog.end);
  changed |= Store(&g.density, fog.density);
  changed |= Store(&g.mode, fog.vertexMode);
  if (changed) {
    g.dirty |= kVfgFog;
    // The fog values ask the vertex engine for a pass of its own.
    fogValues.flags |= 1;
  }
}

void RenderState3d::PresetBlendMode(uint32_t value) {
  uint8_t colourOp = 2;
  uint8_t alphaOp = 2;
  bool keepSecond = true;
  switch (value) {
    case 2: case 6: colourOp = 4; alphaOp = 27; keepSecond = false; break;
    case 4: colourOp = 4; alphaOp = 4; keepSecond = false; break;
    case 3: colourOp = 13; alphaOp = 3; keepSecond = false; break;
    case 8: colourOp = 7; alphaOp = 3; keepSecond = false; break;
    default: break;
  }
  TextureStage& s0 = stages[0];
  s0.colourOp = colourOp;
  s0.alphaOp = alphaOp;
  s0.colourArg1 = 2;
  s0.alphaArg1 = 2;
  if (!keepSecond) {
    s0.colourArg2 = 0;
    s0.alphaArg2 = 0;
  }
  s0.presetFlag = 1;
  MarkStage(0, kSgOps);
  MarkStage(1, kSgOps);
}

// ---- Texture stages and samplers ----------------------------------------------------------------

// Where a stage state's value goes: a field of the stage (one byte or one
// word at a byte offset) that keeps the value under a mask, and the group
// a change marks. States 7-12 have rules of their own (width 0).
struct StageField {
  uint16_t offset;
  uint8_t width;
  uint32_t mask;
  uint32_t bits;
};

#define ORV_STAGE_FIELD(field, mask, bits) \
  { static_cast<uint16_t>(offsetof(TextureStage, field)), static_cast<uint8_t>(sizeof(TextureStage::field)), mask, bits }
constexpr StageField kStageFields[kStageStates + 1] = {
    {0, 0, 0, 0},
    ORV_STAGE_FIELD(colourOp, 0xFF, kSgOps),      // 1
    ORV_STAGE_FIELD(colourArg1, 0xFF, kSgOps),    // 2
    ORV_STAGE_FIELD(colourArg2, 0xFF, kSgOps),    // 3
    ORV_STAGE_FIELD(alphaOp, 0xFF, kSgOps),       // 4
    ORV_STAGE_FIELD(alphaArg1, 0xFF, kSgOps),     // 5
    ORV_STAGE_FIELD(alphaArg2, 0xFF, kSgOps),     // 6
    {0, 0, 0, 0},                                 // 7-10: the bump matrix
    {0, 0, 0, 0},
    {0, 0, 0, 0},
    {0, 0, 0, 0},
    {0, 0, 0, 0},                                 // 11: coordinate index and generation
    {0, 0, 0, 0},                                 // 12: both addressing modes
    ORV_STAGE_FIELD(addressU, 7, kSgAddress),     // 13
    ORV_STAGE_FIELD(addressV, 7, kSgAddress),     // 14
    ORV_STAGE_FIELD(border, ~0u, kSgBorder),      // 15
    ORV_STAGE_FIELD(magFilter, 7, kSgFilter),     // 16
    ORV_STAGE_FIELD(minFilter, 7, kSgFilter),     // 17
    ORV_STAGE_FIELD(mipFilter, 7, kSgFilter),     // 18
    ORV_STAGE_FIELD(lodBias, ~0u, kSgLod),        // 19
    ORV_STAGE_FIELD(maxMipLevel, ~0u, kSgLod),    // 20
    ORV_STAGE_FIELD(anisotropy, 3, kSgFilter),    // 21
    ORV_STAGE_FIELD(bumpScale, ~0u, kSgBump),     // 22
    ORV_STAGE_FIELD(bumpOffset, ~0u, kSgBump),    // 23
    ORV_STAGE_FIELD(transformFlags, 0x107, kSgTexGen),  // 24
    ORV_STAGE_FIELD(addressW, 7, kSgAddress),     // 25
    ORV_STAGE_FIELD(colourArg0, 0xFF, kSgOps),    // 26
    ORV_STAGE_FIELD(alphaArg0, 0xFF, kSgOps),     // 27
    ORV_STAGE_FIELD(resultArg, 0xFF, kSgOps),     // 28
};
#undef ORV_STAGE_FIELD

namespace {

// Stores a valid stage state's value (state 1-28) into the stage's fields
// and its kept value: the stage's group bits it changed. Most states are
// a masked store into one field, looked up rather than switched on.
ORV_HOT_INLINE uint32_t StoreStageState(TextureStage& s, uint32_t& kept, uint32_t state, uint32_t value) {
  kept = value;
  const StageField& f = kStageFields[state];
  unsigned char* at = reinterpret_cast<unsigned char*>(&s) + f.offset;
  const uint32_t masked = value & f.mask;
  if (f.width == 1) {
    if (*at == masked) return 0;
    *at = static_cast<unsigned char>(masked);
    return f.bits;
  }
  if (f.width == 4) {
    uint32_t old;
    memcpy(&old, at, sizeof old);
    if (old == masked) return 0;
    memcpy(at, &masked, sizeof masked);
    return f.bits;
  }
  const uint8_t low3 = static_cast<uint8_t>(value & 7);
  uint32_t bits = 0;
  switch (state) {
    case 7: case 8: case 9: case 10:
      // Compared as floats, as the client set them.
      if (BitsFloat(s.bumpMatrix[state - 7]) != BitsFloat(value)) {
        s.bumpMatrix[state - 7] = value;
        bits = kSgBump;
      }
      break;
    case 11:
      if (Store(&s.coordIndex, low3)) bits |= kSgCoordIndex;
      if (Store(&s.texGen, static_cast<uint8_t>(value >> 16 & 3))) bits |= kSgTexGen;
      break;
    case 12: {
      const bool u = Store(&s.addressU, low3);
      const bool v = Store(&s.addressV, low3);
      if (u || v) bits = kSgAddress;
      break;
    }
    default: break;
  }
  return bits;
}

}  // namespace

void RenderState3d::SetStageState(uint32_t stage, uint32_t state, uint32_t value) {
  if (stage >= kStateStages || state == 0 || state > kStageStates) return;
  const uint32_t bits = StoreStageState(stages[stage], stageValues[stage][state], state, value);
  if (bits != 0) MarkStage(stage, bits);
  if ((state == 11 || state == 24) && stage < kTexCoordSets) SyncTexCoordSet(stage);
}

// Marking the groups once for the whole run sets what marking them after
// each state would: the marks only ever add bits, and nothing in between
// reads them. Each state 1-28 has its own copy of the store, the state a
// constant, in ascending order: a held state costs the compare and store
// of its field, with no look-up or dispatch on the state.
void RenderState3d::SetStageStates(uint32_t stage, uint32_t held, const uint32_t values[kStageStates + 1]) {
  if (stage >= kStateStages) return;
  const bool texCoords = stage < kTexCoordSets;
  TextureStage& s = stages[stage];
  uint32_t* kept = stageValues[stage];
  uint32_t bits = 0;
  const auto one = [&]<uint32_t State>() {
    if ((held >> State & 1) == 0) return;
    bits |= StoreStageState(s, kept[State], State, values[State]);
    if constexpr (State == 11 || State == 24) {
      if (texCoords) SyncTexCoordSet(stage);
    }
  };
  [&]<uint32_t... I>(std::integer_sequence<uint32_t, I...>) {
    (one.template operator()<I + 1>(), ...);
  }(std::make_integer_sequence<uint32_t, kStageStates>());
  if (bits != 0) MarkStage(stage, bits);
}

// The vertex engine's entry of a coordinate set: the source set (bits 3-5)
// and the generation mode (bits 6-8) of the stage's control word, and the
// stage's transform flags. A change asks for the stages to be analysed and
// routed again and for each set's texture matrix.
void RenderState3d::SyncTexCoordSet(uint32_t stage) {
  const TextureStage& s = stages[stage];
  VertexTexCoordGroup& g = vertex.texCoords;
  const uint32_t control = (g.sets[stage].control & ~kTcControlFields) | uint32_t{s.coordIndex} << kTcSourceShift |
                           uint32_t{s.texGen} << kTcGenerationShift;
  if (Store(&g.sets[stage].control, control)) g.dirty1 |= kTcSets;
  if (Store(&g.sets[stage].transformFlags, s.transformFlags)) g.dirty1 |= kTcSets;
}

void RenderState3d::SetStageTexture(uint32_t stage, uint32_t value, uint32_t kind) {
  if (stage >= kStateStages) return;
  TextureStage& s = stages[stage];
  if (s.texture != value || s.textureKind != kind) {
    const bool presence = (s.texture == 0) != (value == 0);
    s.texture = value;
    s.textureKind = kind;
    s.dirty |= presence ? kSgTexture | kSgPresence : kSgTexture;
  }
  pixel.stageSummary |= s.dirty;
  pixel.dirty |= kPxStages;
}

void RenderState3d::SetSamplerStates(const uint16_t* triples, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t* t = triples + 4 * i;
    const uint32_t stage = t[0];
    const uint32_t state = t[1];
    uint32_t value;
    memcpy(&value, t + 2, sizeof value);
    // Each stage has sampler states 0 to 10; state 10 is kept but feeds
    // nothing.
    if (stage >= kStateStages || state >= kSamplerStates) continue;
    if (samplers[stage][state] == value) continue;
    samplers[stage][state] = value;
    TextureStage& s = stages[stage];
    if (state >= 1 && state <= 5) {
      s.samplerFields[state - 1] = static_cast<uint8_t>(value & 0xF);
      s.dirty |= kSgTexGen;
    } else if (state >= 6 && state <= 8) {
      s.samplerWords[state - 6] = value;
      s.dirty |= kSgLod;
    } else if (state == 9) {
      const float f = BitsFloat(value);
      const int32_t whole = f >= -2147483648.0f && f < 2147483648.0f ? static_cast<int32_t>(f) : 0;
      s.anisotropy = static_cast<uint8_t>(whole & 3);
      s.dirty |= kSgFilter;
    }
    pixel.stageSummary |= s.dirty;
    pixel.dirty |= kPxStages;
  }
}

// ---- Driver, mode and float states --------------------------------------------------------------

void RenderState3d::SetDriverStates(const uint32_t* pairs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = pairs[2 * i];
    const uint32_t value = pairs[2 * i + 1];
    if (id >= kDriverStateIds) continue;
    if (driverValues[id] == value) continue;
    driverValues[id] = value;
    auto flag = [&](uint32_t bit, uint32_t dirtyBit) {
      vertex.flags = value != 0 ? vertex.flags | bit : vertex.flags & ~bit;
      vertex.transformDirty |= dirtyBit;
    };
    switch (id) {
      case 1: flag(kVfDriver1, kVxDriver1); break;
      case 2: flag(kVfDriver2, kVxDriver2); break;
      case 13: flag(kVfDriver13, kVxDriver13); break;
      case 18: flag(kVfDriver18, kVxViewport); break;
      case 4: flag(kVfDriver4, kVxNormalise); break;
      case 5:
        vertex.blendFlags = value & 3;
        vertex.transformDirty |= kVxDriver5;
        break;
      case 9: case 10: case 11: case 12:
        raster.blendConstants[id - 9] = value;
        raster.dirty |= kRsBlend;
        break;
      case 19:
        pixel.programSelector = static_cast<uint8_t>(value);
        pixel.dirty |= kPxProgram;
        break;
      case 20:
        if (value + 1 != pixel.constantBlock) {
          if (owner != nullptr) PixelProgramCacheLoadConstantBlock(owner->programCache, value + 1, this);
          pixel.constantBlock = value + 1;
        }
        pixel.dirty |= kPxProgram;
        break;
      case 21: case 22:
        vertex.depthBiasWords[id - 21] = value;
        vertex.transformDirty |= kVxDepthBias;
        break;
      case 23: flag(kVfDriver23, kVxDepthBias); break;
      case 24: flag(kVfDriver24, kVxDepthBias); break;
      case 25: flag(kVfDriver25, kVxDepthBias); break;
      case 26:
        fog.driverWord = value;
        fog.dirty |= kFgTable;
        break;
      case 27:
        vertex.driverWord27 = value;
        vertex.transformDirty |= kVxDriver27;
        break;
      default:
        break;  // stored only
    }
  }
}

void RenderState3d::SetModeStates(const uint32_t* pairs, uint32_t count) {
  static constexpr uint32_t kSelection[kModeStateLast + 1] = {
      0,
      1u << kSourceDiffuse,
      1u << kSourceAmbient,
      1u << kSourceSpecular,
      1u << kSourceEmissive,
      1u << kSourceDiffuse | 1u << kSourceAmbient,
  };
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t value = pairs[2 * i];
    const uint32_t mode = pairs[2 * i + 1];
    if (mode > kModeStateLast) continue;
    vertex.materialSources = kSelection[mode];
    vertex.materialSourcesB = value == 3 ? kSelection[mode] : 0;
  }
}

void RenderState3d::SetFloat4StateA(const uint32_t value[4]) {
  if (SameBytes(raster.float4A, value, sizeof raster.float4A)) return;
  memcpy(raster.float4A, value, sizeof raster.float4A);
  raster.dirty |= kRsFloat4A;
}

void RenderState3d::SetFloat4StateB(const float* values4, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const float* v = values4 + 4 * i;
    if (SameBytes(vertex.ambient, v, sizeof vertex.ambient)) continue;
    memcpy(vertex.ambient, v, sizeof vertex.ambient);
    vertex.transformDirty |= kVxAmbient;
  }
}

void RenderState3d::LoadPipelineRecord(const PipelineRecord* record) {
  if (record == nullptr) return;
  memcpy(&pipeline, record, sizeof pipeline);
  pixel.dirty |= kPxProgram;
  // The record's count is the client's: at most the record's ten stages.
  const uint32_t count = pipeline.count < kPipelineStages ? pipeline.count : kPipelineStages;
  for (uint32_t s = 0; s < count; ++s) {
    memset(pixel.stageRecords[s], 0, sizeof pixel.stageRecords[s]);
    const StageRecord& stage = pipeline.stages[s];
    if ((stage.colourEnable & 0xFF) != 0) {
      memcpy(pixel.stageRecords[s][0], &stage.colour, 16);
      pixel.dirty |= kPxStageRecords;
    }
    if ((stage.alphaEnable & 0xFF) != 0) {
      memcpy(pixel.stageRecords[s][1], &stage.alpha, 16);
      pixel.dirty |= kPxStageRecords;
    }
  }
}

void RenderState3d::SetPrimitiveMode(uint32_t type) {
  streams.primitiveType = type;
  vertex.control = (vertex.control & ~0xFu) | (type & 0xF);
  vertex.transformDirty |= kVxPrimitiveMode;
  streams.flags |= kSfPrimitiveType;
  const uint32_t code = type < sizeof kPrimitiveCodes ? kPrimitiveCodes[type] : 0;
  if (Store(&raster.primitiveCode, code)) raster.dirty |= kRsPrimitiveMode;
}

void RenderState3d::SetViewport(const uint32_t words[6]) {
  memcpy(vertex.viewport, words, sizeof vertex.viewport);
  vertex.transformDirty |= kVxViewport;
  // The screen mapping follows the origin (left, top) and the size.
  VertexViewportGroup& g = vertex.viewportGroup;
  bool changed = Store(&g.origin[0], words[0]);
  changed |= Store(&g.origin[1], words[1]);
  changed |= Store(&g.size[0], words[2]);
  changed |= Store(&g.size[1], words[3]);
  if (changed) g.dirty |= kVpMapping;
}

bool RenderState3d::SetLight(uint32_t index, const LightRecord* light) {
  if (index > kMaxLightIndex || light == nullptr) return false;
  LightRecord copy = *light;
  if (captureRunning == 0) {
    if (copy.type == 2) {
      // A spot light's cone angle arrives in degrees; the engine takes its
      // cosine.
      const double radians = static_cast<double>(BitsFloat(copy.theta)) * kPi / 180.0;
      copy.theta = FloatBits(static_cast<float>(LocCos(radians)));
    } else if (copy.type == 3) {
      memcpy(copy.direction, copy.position, sizeof copy.direction);
    }
  }
  LightRecord*& stored = lights[index];
  if (stored == nullptr) {
    stored = static_cast<LightRecord*>(memAlloc(sizeof(LightRecord)));
    if (stored == nullptr) return false;
    memset(stored, 0, sizeof *stored);
    memcpy(stored, &copy, sizeof copy);
    vertex.transformDirty |= kVxLight;
    return true;
  }
  if (!SameBytes(stored, &copy, sizeof copy)) {
    memcpy(stored, &copy, sizeof copy);
    vertex.transformDirty |= kVxLight;
  }
  return true;
}

void RenderState3d::EnableLight(uint32_t index, bool on) {
  if (!on) {
    for (uint32_t& entry : activeLights) {
      if (entry != index || index == 0) continue;
      entry = 0;
      if (activeLightCount > 0) --activeLightCount;
      vertex.transformDirty |= kVxLight;
    }
    SyncEnabledLights();
    return;
  }
  if (index == 0 || activeLightCount >= kActiveLights) return;
  uint32_t* free = nullptr;
  for (uint32_t& entry : activeLights) {
    if (entry == index) return;
    if (entry == 0 && free == nullptr) free = &entry;
  }
  if (free == nullptr) return;
  *free = index;
  ++activeLightCount;
  vertex.transformDirty |= kVxLight;
  SyncEnabledLights();
}

void RenderState3d::SyncEnabledLights() {
  // The vertex group lists the lights on in the order they were listed,
  // without the gaps a light turned off leaves.
  uint32_t n = 0;
  for (uint32_t index : activeLights)
    if (index != 0 && n < kMaxEnabledLights) vertex.enabledLights[n++] = index;
  for (uint32_t i = n; i < kMaxEnabledLights; ++i) vertex.enabledLights[i] = 0;
  vertex.enabledLightCount = static_cast<uint8_t>(n);
}

void RenderState3d::SetTargetMode(bool on) {
  const uint32_t mode = on ? deviceTargetMode : deviceTargetMode & ~1u;
  if (raster.targetMode == mode) return;
  raster.targetMode = mode;
  depthStencil.targetMode = mode;
  raster.dirty |= kRsAntialias | kRsTargetMode;
  depthStencil.dirty |= kDsTargetMode;
  if (owner != nullptr) RenderTargetStateSetMode(owner, mode);
}

void RenderState3d::SetStamp(uint32_t value) {
  raster.stamp = value;
  depthStencil.stamp = value;
  fog.stamp = value;
  pixel.stamp = value;
  vertex.control = (vertex.control & ~1u) | (value & 1);
}

void RenderState3d::SetIndexSize(uint8_t size) {
  if (streams.indexSize == size) return;
  streams.indexSize = size;
  streams.flags |= kSfIndexSize;
  streams.emitterSelector = 4;
}

float RenderState3d::ComputeFogDistance(float rhw) const {
  const float start = BitsFloat(fog.start);
  const float end = BitsFloat(fog.end);
  if (rhw == 0.0f || end == start) return 0.0f;
  return (1.0f / rhw - start) / (end - start);
}

// ---- Transforms and the vertex group's words -----------------------------------------------------

void RenderState3d::SetTransform(uint32_t id, const Matrix4Words& matrix) {
  auto differs = [&](const Matrix4Words& stored) { return !SameBytes(&stored, &matrix, sizeof matrix); };
  if (id == 1) {
    vertex.model = matrix;
    vertex.matrixDirty |= kMxViewWorld;
  } else if (id == 2) {
    if (differs(vertex.view)) {
      vertex.view = matrix;
      vertex.matrixDirty |= kMxViewWorld;
    }
  } else if (id == 3) {
    if (differs(vertex.projection)) {
      vertex.projection = matrix;
      vertex.matrixDirty |= kMxProjection;
      vertex.projectionChanged = 1;
    }
  } else if (id >= 4 && id <= 6) {
    vertex.further[id - 4] = matrix;
    vertex.matrixDirty |= kMxViewWorld;
  } else if (id >= 16 && id <= 23) {
    vertex.texture[id - 16] = matrix;
    vertex.matrixDirty |= 1u << (id - 14);
  } else if (id >= 256 && id < 256 + kWorldMatrices) {
    vertex.world[id - 256] = matrix;
    vertex.worldDirty |= 1u << (id - 256);
    vertex.matrixDirty |= kMxViewWorld;
  }
}

void RenderState3d::SetRectA(const uint32_t words[4]) {
  if (SameBytes(vertex.rectA, words, sizeof vertex.rectA)) return;
  memcpy(vertex.rectA, words, sizeof vertex.rectA);
  vertex.transformDirty |= kVxRectA;
}

void RenderState3d::SetRectB(const uint32_t words[4]) {
  if (SameBytes(vertex.rectB, words, sizeof vertex.rectB)) return;
  memcpy(vertex.rectB, words, sizeof vertex.rectB);
  vertex.transformDirty |= kVxRectB;
}

void RenderState3d::SetClipPlane(uint32_t plane, const uint32_t coefficients[4]) {
  if (plane >= kMaxClipPlanes) return;
  memcpy(vertex.clipPlanes[plane], coefficients, sizeof vertex.clipPlanes[plane]);
  vertex.transformDirty |= kVxClipPlanes;
}

void RenderState3d::SetDepthRange(const uint32_t words[2]) {
  if (BitsFloat(vertex.depthRange[0]) == BitsFloat(words[0]) &&
      BitsFloat(vertex.depthRange[1]) == BitsFloat(words[1]))
    return;
  memcpy(vertex.depthRange, words, sizeof vertex.depthRange);
  vertex.transformDirty |= kVxDepthRange | kVxViewport;
  // The depth range is the screen mapping's z.
  vertex.viewportGroup.dirty |= kVpDepthRange;
}

void RenderState3d::SetMaterial(const uint32_t words[16]) {
  TnlSetup* setup = owner != nullptr ? owner->tnl : nullptr;
  if (setup == nullptr) return;
  VecConstShadow& image = setup->fixedImage;
  if (SameBytes(image.image[kCMaterialDiffuse].w, words, 4 * 16)) return;
  for (uint32_t i = 0; i < 4; ++i) memcpy(image.image[kCMaterialDiffuse + i].w, words + 4 * i, 16);
  image.MarkDirty(kCMaterialDiffuse, kCMaterialDiffuse + 3);
  vertex.transformDirty |= kVxMaterial;
}

void RenderState3d::SetFloatPair(const uint32_t words[2]) {
  if (BitsFloat(vertex.floatPair[0]) == BitsFloat(words[0]) &&
      BitsFloat(vertex.floatPair[1]) == BitsFloat(words[1]))
    return;
  memcpy(vertex.floatPair, words, sizeof vertex.floatPair);
  vertex.transformDirty |= kVxFloatPair;
}

// ---- Buffers, dirty bits and constants ----------------------------------------------------------

void RenderState3d::ForgetBuffer(uint32_t kind, uint32_t handle) {
  if (kind == 2) {
    for (uint32_t s = 0; s < kStreams; ++s) {
      const StreamBinding& b = streams.bindings[s];
      if (b.kind == 0 && b.handle == handle) streams.changedMask |= static_cast<uint8_t>(1u << s);
    }
    if (streams.indexSource.handle == handle) streams.flags |= kSfIndexSource;
    return;
  }
  if (handle != 0 && depthBinding[0] == kind && depthBinding[1] == handle) depthStencil.dirty |= kDsTargetGone;
  if (handle != 0 && colourBinding[0] == kind && colourBinding[1] == handle) raster.dirty |= kRsTargetGone;
  for (uint32_t s = 0; s < kStateStages; ++s) {
    if (stages[s].textureKind == kind && stages[s].texture == handle && handle != 0) MarkStage(s, kSgTexture);
  }
}

void RenderState3d::MarkAllDirty() {
  raster.dirty = rasterSub.flags = ~0u;
  depthStencil.dirty = depthStencilSub.flags = ~0u;
  fog.dirty = fogValues.flags = ~0u;
  pixel.dirty = pipelineSub.first = pipelineSub.second = pixel.stageSummary = ~0u;
  for (TextureStage& s : stages) s.dirty = ~0u;
  streams.flaggedMask = 0xFF;
  stipple.dirty = ~0u;
  extraWord = ~0u;
  vertex.transformDirty = vertex.matrixDirty = vertex.worldDirty = ~0u;
  vertex.texCoords.dirty = vertex.texCoords.dirty1 = ~0u;
  vertex.fog.dirty = vertex.third.dirty = vertex.viewportGroup.dirty = ~0u;
  memset(vertexSub.bytes, 0xFF, sizeof vertexSub.bytes);
  streams.changedMask = 0xFF;
  streams.flags = 0xFF;
  if (VecConstShadow* shadow = constShadow) {
    // Whatever the shadow's open update records hold counts as dirty too.
    for (const VecConstUpdate& record : shadow->updates) {
      if (record.open == 0) continue;
      for (uint32_t w = 0; w < kVecConstPostable / 32; ++w)
        if ((record.wordMask >> w & 1) != 0) shadow->dirty[w] |= record.covered[w];
      shadow->dirtySummary |= record.wordMask;
    }
  }
}

void RenderState3d::ClearDirty() {
  raster.dirty = rasterSub.flags = 0;
  depthStencil.dirty = depthStencilSub.flags = 0;
  fog.dirty = fogValues.flags = 0;
  pixel.dirty = pipelineSub.first = pipelineSub.second = pixel.stageSummary = 0;
  for (TextureStage& s : stages) s.dirty = 0;
  streams.flaggedMask = 0;
  stipple.dirty = 0;
  extraWord = 0;
  vertex.transformDirty = vertex.matrixDirty = vertex.worldDirty = 0;
  vertex.texCoords.dirty = vertex.texCoords.dirty1 = 0;
  vertex.fog.dirty = vertex.third.dirty = vertex.viewportGroup.dirty = 0;
  memset(vertexSub.bytes, 0, sizeof vertexSub.bytes);
  streams.changedMask = 0;
  streams.flags = 0;
}

void RenderState3d::FlushVertexConstants() {
  const uint32_t records = constPending + 1 < kConstRingRecords ? constPending + 1 : kConstRingRecords;
  for (uint32_t i = 0; i < records; ++i) {
    if (constRing[i] != &constHomes[i] && constRing[i] != nullptr) {
      memcpy(&constHomes[i], constRing[i], sizeof constHomes[i]);
      constRing[i] = &constHomes[i];
    }
  }
  constPending = 2;
  if (constShadow != nullptr) constShadow->RetireAll();
}
