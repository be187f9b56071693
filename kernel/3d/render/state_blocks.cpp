#include "kernel/3d/render/state_blocks.h"

#include <stddef.h>
#include <string.h>

#include <type_traits>

#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/tnl/tnl_setup.h"

const uint16_t kPixelRenderStateIds[39] = {7,  8,  9,  10, 14, 15, 16, 19, 20, 23, 24, 25, 26,
                                           33, 36, 37, 38, 40, 27, 47, 52, 53, 54, 55, 56, 57,
                                           58, 59, 60, 128, 129, 130, 131, 132, 133, 134, 135, 168, 171};
const uint16_t kVertexRenderStateIds[38] = {9,   29,  22,  28,  34,  35,  36,  37,  38,  48,  139, 141, 140,
                                            136, 137, 143, 142, 148, 147, 145, 146, 151, 152, 153, 154, 155,
                                            156, 157, 158, 159, 160, 161, 162, 163, 164, 166, 167, 170};
const uint16_t kAllRenderStateIds[73] = {
    29,  7,   8,   9,   10,  14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  28,  33,  34,  35,
    36,  37,  38,  40,  27,  47,  48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130,
    131, 132, 133, 134, 135, 139, 141, 140, 136, 137, 143, 142, 148, 147, 145, 146, 151, 152, 153,
    154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 166, 167, 168, 170, 171};
const uint8_t kAllStageStateIds[27] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 13, 14, 15,
                                       16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28};
const uint8_t kVertexStageStateIds[2] = {11, 24};
const uint16_t kTransformIds[kTransformIdCount] = {
    1,   2,   3,   4,   5,   6,   16,  17,  18,  19,  20,  21,  22,  23,  256, 257,
    258, 259, 260, 261, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271, 272, 273,
    274, 275, 276, 277, 278, 279, 280, 281, 282, 283, 284, 285, 286, 287, 288};

// Transform slots: ids 1-6, 16-23 and 256-288, in that order.
int32_t TransformSlots::SlotOf(uint32_t id, uint32_t slots) {
  int32_t slot = -1;
  if (id >= 1 && id <= 6) slot = static_cast<int32_t>(id - 1);
  else if (id >= 16 && id <= 23) slot = static_cast<int32_t>(id - 16 + 6);
  else if (id >= 256 && id <= 288) slot = static_cast<int32_t>(id - 256 + 14);
  return slot < static_cast<int32_t>(slots) ? slot : -1;
}
uint32_t TransformSlots::IdOf(uint32_t slot) { return slot < kTransformIdCount ? kTransformIds[slot] : 0; }

namespace {

constexpr uint32_t kSpotLight = 2;
constexpr uint32_t kStrideLimit = 65534;
constexpr double kDegrees = 3.14159265358979323846 / 180.0;

template <class Map>
void Drop(Map& map) {
  if (map.ok()) map.DeleteAll();
}

uint32_t Bits(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}
float Float(uint32_t w) {
  float f;
  memcpy(&f, &w, sizeof f);
  return f;
}

}  // namespace

// ---- StateBlock ------------------------------------------------------------------------------

namespace {

bool IsTransformId(uint32_t id) {
  for (uint16_t t : kTransformIds)
    if (t == id) return true;
  return false;
}

// Whether an id (and stage) fits the component of the kind.
bool Accepts(uint32_t kind, uint32_t id, uint32_t stage) {
  switch (kind) {
    case kSbRenderStates: return id >= 1 && id < kRenderStateIds;
    case kSbStageStates: return stage < kBlockStages && id <= kStageStates;
    case kSbTransforms: return IsTransformId(id);
    case kSbClipPlanes: return id < kMaxClipPlanes;
    case kSbLights:
    case kSbLightEnables: return id <= kMaxLightIndex;
    case kSbMaterial:
    case kSbViewport:
    case kSbDepthRange:
    case kSbPixelProgram:
    case kSbVertexShader:
    case kSbIndexSource: return id == 0;
    case kSbPixelConstants: return id < kBlockPixelConstants;
    case kSbVertexConstants: return id <= kMaxVertexConstantId;
    case kSbStreams: return id < kBlockStreams;
    default: return false;
  }
}

// The matrix a transform id names in the render state; capture reads id
// 288 from the slot of id 16.
Matrix4Words* TransformOf(VertexProcessingBlock& v, uint32_t id) {
  if (id == 1) return &v.model;
  if (id == 2) return &v.view;
  if (id == 3) return &v.projection;
  if (id >= 4 && id <= 6) return &v.further[id - 4];
  if (id >= 16 && id <= 23) return &v.texture[id - 16];
  if (id >= 256 && id < 256 + kWorldMatrices) return &v.world[id - 256];
  if (id == kTransformCapturedOnly) return &v.texture[0];
  return nullptr;
}

// The material the render state keeps: the four colours in the fixed-
// function constant image of the context's transform-and-lighting set-up.
VecConstShadow* MaterialImage(RenderState3d* rs) {
  TnlSetup* setup = rs->owner != nullptr ? rs->owner->tnl : nullptr;
  return setup != nullptr ? &setup->fixedImage : nullptr;
}

}  // namespace

StateBlock::StateBlock(RenderState3d* state, uint32_t blockKey) : owner(state), key(blockKey) {}

StateBlock::~StateBlock() {
  for (uint32_t kind = 0; kind < kSbKinds; ++kind) {
    const uint32_t stages = kind == kSbStageStates ? kBlockStages : 1;
    for (uint32_t s = 0; s < stages; ++s) StateBlockVisit(*this, kind, s, [](auto& m) { Drop(m); });
  }
}

bool StateBlock::ok() const {
  bool all = true;
  StateBlock& self = const_cast<StateBlock&>(*this);
  for (uint32_t kind = 0; kind < kSbKinds; ++kind) {
    const uint32_t stages = kind == kSbStageStates ? kBlockStages : 1;
    for (uint32_t s = 0; s < stages; ++s) StateBlockVisit(self, kind, s, [&](auto& m) { all = all && m.ok(); });
  }
  return all;
}

bool StateBlock::AddKey(uint32_t kind, uint32_t id, uint32_t stage) {
  if (!Accepts(kind, id, stage)) return false;
  bool added = false;
  StateBlockVisit(*this, kind, stage, [&](auto& m) { added = m.AddIfAbsent(id) != 0; });
  return added;
}

// Every light the render state holds a record of, into lights and enables.
void StateBlock::AddLights() {
  if (owner == nullptr) return;
  for (uint32_t i = 1; i <= kMaxLightIndex; ++i) {
    if (owner->lights[i] == nullptr) continue;
    AddKey(kSbLights, i, 0);
    AddKey(kSbLightEnables, i, 0);
  }
}

void StateBlock::Capture(uint32_t kind) {
  captureKind = kind;
  const bool all = kind == kCaptureAll || kind == kCaptureAllStreams;
  switch (kind) {
    case kCaptureAll:
    case kCaptureAllStreams:
      for (uint16_t id : kAllRenderStateIds) AddKey(kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kAllStageStateIds) AddKey(kSbStageStates, id, s);
      AddLights();
      AddKey(kSbViewport, 0, 0);
      AddKey(kSbDepthRange, 0, 0);
      for (uint16_t id : kTransformIds) AddKey(kSbTransforms, id, 0);
      for (uint32_t p = 0; p < kMaxClipPlanes; ++p) AddKey(kSbClipPlanes, p, 0);
      AddKey(kSbMaterial, 0, 0);
      break;
    case kCaptureVertex:
      for (uint16_t id : kVertexRenderStateIds) AddKey(kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kVertexStageStateIds) AddKey(kSbStageStates, id, s);
      AddLights();
      break;
    case kCapturePixel:
      for (uint16_t id : kPixelRenderStateIds) AddKey(kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kAllStageStateIds) AddKey(kSbStageStates, id, s);
      break;
    default:
      return;
  }
  if (all || kind == kCaptureVertex) {
    for (uint32_t c = 0; c <= kMaxVertexConstantId; ++c) AddKey(kSbVertexConstants, c, 0);
    AddKey(kSbVertexShader, 0, 0);
  }
  if (all || kind == kCapturePixel) {
    AddKey(kSbPixelProgram, 0, 0);
    for (uint32_t c = 0; c < kBlockPixelConstants; ++c) AddKey(kSbPixelConstants, c, 0);
  }
  if (kind == kCaptureAllStreams) {
    AddKey(kSbIndexSource, 0, 0);
    for (uint32_t s = 0; s < kBlockStreams; ++s) AddKey(kSbStreams, s, 0);
  }
}

void RenderState3d::CaptureInto(StateBlock* block) {
  RenderState3d* rs = this;
  VertexProcessingBlock& v = rs->vertex;
  // The constant image first takes every posted update.
  if (!block->vertexConstants.empty()) rs->FlushVertexConstants();
  for (auto it = block->renderStates.begin(); it != block->renderStates.end(); ++it)
    it->second->value = rs->values[it->first];
  for (uint32_t s = 0; s < kBlockStages; ++s) {
    for (auto it = block->stageStates[s].begin(); it != block->stageStates[s].end(); ++it)
      it->second->value = it->first == 0 ? rs->stages[s].texture : rs->stageValues[s][it->first];
  }
  for (auto it = block->viewport.begin(); it != block->viewport.end(); ++it) memcpy(it->second->word, v.viewport, 16);
  for (auto it = block->depthRange.begin(); it != block->depthRange.end(); ++it)
    memcpy(it->second->word, v.depthRange, sizeof it->second->word);
  for (auto it = block->material.begin(); it != block->material.end(); ++it) {
    // Without a set-up the render state keeps no material: the block
    // holds zeros rather than what its memory held.
    const VecConstShadow* image = MaterialImage(rs);
    for (uint32_t i = 0; i < 4; ++i) {
      if (image != nullptr)
        memcpy(it->second->vector[i], image->image[kCMaterialDiffuse + i].w, 16);
      else
        memset(it->second->vector[i], 0, 16);
    }
  }
  for (auto it = block->clipPlanes.begin(); it != block->clipPlanes.end(); ++it)
    memcpy(it->second->word, v.clipPlanes[it->first], 16);
  for (auto it = block->transforms.begin(); it != block->transforms.end(); ++it)
    if (const Matrix4Words* m = TransformOf(v, it->first)) *it->second = *m;
  if (const VecConstShadow* shadow = rs->constShadow) {
    for (auto it = block->vertexConstants.begin(); it != block->vertexConstants.end(); ++it)
      memcpy(it->second->word, shadow->image[it->first].w, 16);
  }
  for (auto it = block->vertexShader.begin(); it != block->vertexShader.end(); ++it) it->second->value = v.vertexShader;
  // A light the render state holds no record of keeps what the block had.
  for (auto it = block->lights.begin(); it != block->lights.end(); ++it) {
    const LightRecord* light = rs->lights[it->first];
    if (light != nullptr) memcpy(it->second, light, sizeof *light);
  }
  for (auto it = block->lightEnables.begin(); it != block->lightEnables.end(); ++it) it->second->value = 0;
  for (uint32_t i = 0; i < kActiveLights; ++i) {
    const uint32_t index = rs->activeLights[i];
    if (index == 0) continue;
    auto it = block->lightEnables.find(index);
    if (it != block->lightEnables.end()) it->second->value = index;
  }
  for (auto it = block->pixelProgram.begin(); it != block->pixelProgram.end(); ++it)
    it->second->value = rs->pixel.programSelector;
  for (auto it = block->pixelConstants.begin(); it != block->pixelConstants.end(); ++it)
    memcpy(it->second->word, rs->pixel.pixelConstants[0][it->first], 16);
  for (auto it = block->indexSource.begin(); it != block->indexSource.end(); ++it) {
    it->second->word[0] = 0;
    it->second->word[1] = rs->streams.indexSource.handle;
    it->second->word[2] = rs->streams.indexKind;
  }
  for (auto it = block->streams.begin(); it != block->streams.end(); ++it) {
    const StreamBinding& b = rs->streams.bindings[it->first];
    it->second->word[0] = it->first;
    it->second->word[1] = b.handle;
    it->second->word[2] = b.stride;
  }
}

namespace {

// Copies N bytes (onto the same bits where they are the same), 64 bits at
// a time with no branch on the way: 1 when any of them differed.
template <uint32_t N>
uint64_t CopyBytes(void* to, const void* from) {
  static_assert(N % 8 == 0);
  unsigned char* x = static_cast<unsigned char*>(to);
  const unsigned char* y = static_cast<const unsigned char*>(from);
  uint64_t d = 0;
  for (uint32_t i = 0; i < N; i += 8) {
    uint64_t p, q;
    memcpy(&p, x + i, 8);
    memcpy(&q, y + i, 8);
    memcpy(x + i, &q, 8);
    d |= p ^ q;
  }
  return d != 0 ? 1 : 0;
}

// Where each transform slot's matrix lies in the vertex group: slots 0-5
// (ids 1-6) are the model, view, projection and further matrices, slots
// 6-13 (ids 16-23) the texture matrices, slots 14-45 (ids 256-287) the
// world matrices; slot 46 (id 288) is never applied.
constexpr uint32_t kAppliedTransforms = kTransformIdCount - 1;
struct TransformOffsets {
  constexpr TransformOffsets() {
    for (uint32_t slot = 0; slot < kAppliedTransforms; ++slot) {
      const uint32_t size = sizeof(Matrix4Words);
      at[slot] = slot < 6    ? static_cast<uint32_t>(offsetof(VertexProcessingBlock, model)) + size * slot
                 : slot < 14 ? static_cast<uint32_t>(offsetof(VertexProcessingBlock, texture)) + size * (slot - 6)
                             : static_cast<uint32_t>(offsetof(VertexProcessingBlock, world)) + size * (slot - 14);
    }
  }
  uint32_t at[kAppliedTransforms] = {};
};
constexpr TransformOffsets kTransformOffsets;
static_assert(offsetof(VertexProcessingBlock, view) == offsetof(VertexProcessingBlock, model) + 64 &&
              offsetof(VertexProcessingBlock, projection) == offsetof(VertexProcessingBlock, model) + 128 &&
              offsetof(VertexProcessingBlock, further) == offsetof(VertexProcessingBlock, model) + 192,
              "transforms 1-6 lie one after the other");
static_assert(kTransformIdCount == 47 && kWorldMatrices == 32 && kTextureMatrices == 8);

}  // namespace

// Each matrix that differs is copied into the slot its id names; the
// dirty bits of all that changed are set at once after, as SetTransform of
// each would set them: the view-and-world bit for ids 1, 2, 4-6 and
// 256-287, the projection bit for id 3, a texture matrix's own bit, a world
// matrix's world-slot bit. Ids 1 and 4-6 also set the world-slot bits 0-3
// of the slots they share with ids 256-259.
void StateBlock::ApplyTransforms() {
  if (transforms.empty()) return;
  VertexProcessingBlock& v = owner->vertex;
  static_assert(decltype(transforms)::kWords == 1);
  const Matrix4Words* from = transforms.Values();
  unsigned char* base = reinterpret_cast<unsigned char*>(&v);
  uint64_t changed = 0;
  for (uint64_t bits = transforms.BitsWord(0) & ((uint64_t{1} << kAppliedTransforms) - 1); bits != 0;
       bits &= bits - 1) {
    const uint32_t slot = static_cast<uint32_t>(__builtin_ctzll(bits));
    Matrix4Words* stored = reinterpret_cast<Matrix4Words*>(base + kTransformOffsets.at[slot]);
    if (SameBytes(stored, from + slot, sizeof(Matrix4Words))) continue;
    *stored = from[slot];
    changed |= uint64_t{1} << slot;
  }
  if (changed == 0) return;
  constexpr uint64_t kViewWorldSlots = 0x3Bu | (uint64_t{0xFFFFFFFF} << 14);  // ids 1, 2, 4-6, 256-287
  if ((changed & kViewWorldSlots) != 0) v.matrixDirty |= kMxViewWorld;
  if ((changed & 4) != 0) {
    v.matrixDirty |= kMxProjection;
    v.projectionChanged = 1;
  }
  v.matrixDirty |= static_cast<uint32_t>(changed >> 6 & 0xFF) << kMxTextureShift;
  v.worldDirty |= static_cast<uint32_t>(changed >> 14) | static_cast<uint32_t>(changed & 1) |
                  static_cast<uint32_t>(changed >> 3 & 7) << 1;
}

// The registers are written into the constant image (those that do not
// differ onto the same bits) and those that differ marked dirty, runs of
// neighbours at once. Every update posted before is retired first, so
// that none of them lands on a register afterwards. The registers go 64
// at a time: those that differ are gathered in a mask as they are
// copied, its runs marked after.
void StateBlock::ApplyVertexConstants() {
  VecConstShadow* shadow = owner->constShadow;
  if (shadow == nullptr || vertexConstants.empty()) return;
  owner->FlushVertexConstants();
  static_assert(kMaxVertexConstantId + 1 <= kVecConstCount && sizeof(Dword4) == sizeof(VecConst));
  const Dword4* values = vertexConstants.Values();
  for (uint32_t w = 0; w < vertexConstants.kWords; ++w) {
    const uint64_t held = vertexConstants.BitsWord(w);
    if (held == 0) continue;
    const Dword4* from = values + 64 * w;
    VecConst* image = shadow->image + 64 * w;
    uint64_t changed = 0;
    if (held == ~uint64_t{0}) {
      // All 64 held: each copied, whether it differed gathered in the mask.
#pragma GCC unroll 64
      for (uint32_t i = 0; i < 64; ++i) changed |= CopyBytes<sizeof(VecConst)>(image + i, from + i) << i;
    } else {
      for (uint64_t bits = held; bits != 0; bits &= bits - 1) {
        const uint32_t i = static_cast<uint32_t>(__builtin_ctzll(bits));
        changed |= CopyBytes<sizeof(VecConst)>(image + i, from + i) << i;
      }
    }
    // Each run of set bits: its first is the lowest set bit, its end the
    // lowest clear bit above.
    while (changed != 0) {
      const uint32_t first = static_cast<uint32_t>(__builtin_ctzll(changed));
      const uint64_t above = ~changed & (~uint64_t{0} << first);
      const uint32_t end = above != 0 ? static_cast<uint32_t>(__builtin_ctzll(above)) : 64;
      shadow->MarkDirty(64 * w + first, 64 * w + end - 1);
      changed = end < 64 ? changed & (~uint64_t{0} << end) : 0;
    }
  }
}

// A changed vertex shader word is stored and selects the input layout
// again; a shader handle (bit 0 set) brings its pending constants into the
// constant image, as selecting it by token does.
void StateBlock::ApplyVertexShader() {
  VertexProcessingBlock& v = owner->vertex;
  for (auto it = vertexShader.begin(); it != vertexShader.end(); ++it) {
    const uint32_t value = it->second->value;
    if (v.vertexShader != value) {
      v.vertexShader = value;
      v.transformDirty |= kVxViewport;
      owner->vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
      SelectVertexLayout3d(owner->owner, value);
    }
    if ((value & 1) != 0) LoadVertexShaderConstants3d(owner->owner, value);
  }
}

void StateBlock::Apply(bool applying) {
  RenderState3d* rs = owner;
  if (rs == nullptr) return;
  VertexProcessingBlock& v = rs->vertex;
  // Render states in ascending id order, straight from the block's array.
  if (!renderStates.empty()) {
    static_assert(sizeof(U32Record) == sizeof(uint32_t) && std::is_standard_layout_v<U32Record> &&
                  decltype(renderStates)::kWords == kRenderStateWords);
    uint64_t held[kRenderStateWords];
    for (uint32_t w = 0; w < kRenderStateWords; ++w) held[w] = renderStates.BitsWord(w);
    // The records are the values, one word each, indexed by id.
    rs->SetRenderStatesHeld(held, &renderStates.Values()->value);
  }
  // Stages in order; the first stage without states ends the walk. A
  // stage's texture (id 0) comes first, then its other states go to the
  // setter at once.
  for (uint32_t s = 0; s < kBlockStages; ++s) {
    const auto& stage = stageStates[s];
    if (stage.empty()) break;
    static_assert(sizeof(U32Record) == sizeof(uint32_t) &&
                  std::remove_reference_t<decltype(stage)>::kWords == 1);
    const uint32_t* values = &stage.Values()->value;  // a word per state, by id
    const uint32_t held = static_cast<uint32_t>(stage.BitsWord(0));
    if ((held & 1) != 0) rs->SetStageTexture(s, values[0], rs->stages[s].textureKind);
    rs->SetStageStates(s, held & ~1u, values);
  }
  for (auto it = depthRange.begin(); it != depthRange.end(); ++it) rs->SetDepthRange(it->second->word);
  for (auto it = viewport.begin(); it != viewport.end(); ++it) {
    if (SameBytes(v.viewport, it->second->word, 16)) continue;
    uint32_t words[6];
    memcpy(words, v.viewport, sizeof words);
    memcpy(words, it->second->word, 16);
    rs->SetViewport(words);
  }
  // The material: stored, constants 308-311 marked and the lighting group
  // marked, only when it differs.
  for (auto it = material.begin(); it != material.end(); ++it) {
    uint32_t words[16];
    memcpy(words, it->second->vector, sizeof words);
    rs->SetMaterial(words);
  }
  for (auto it = lights.begin(); it != lights.end(); ++it) {
    LightRecord copy = *it->second;
    // The restore at the end of a recording takes the angles as the client
    // gave them: the written copy gets their half-angle cosines, the block
    // keeps degrees.
    if (!applying && copy.type == kSpotLight) {
      copy.theta = Bits(static_cast<float>(LocCos(Float(copy.theta) * kDegrees * 0.5)));
      copy.phi = Bits(static_cast<float>(LocCos(Float(copy.phi) * kDegrees * 0.5)));
    }
    const uint8_t running = rs->captureRunning;
    rs->captureRunning = 1;  // stored as given
    rs->SetLight(it->first, &copy);
    rs->captureRunning = running;
  }
  for (auto it = lightEnables.begin(); it != lightEnables.end(); ++it) rs->EnableLight(it->first, it->second->value != 0);
  ApplyTransforms();
  clipPlanes.ForEach([&](uint32_t plane, const Dword4& p) {
    if (plane >= kMaxClipPlanes || SameBytes(v.clipPlanes[plane], p.word, 16)) return;
    rs->SetClipPlane(plane, p.word);
  });
  ApplyVertexConstants();
  ApplyVertexShader();
  for (auto it = indexSource.begin(); it != indexSource.end(); ++it) {
    if (rs->streams.indexSource.handle != it->second->word[1] || rs->streams.indexKind != it->second->word[2]) {
      rs->streams.indexSource.handle = it->second->word[1];
      rs->streams.indexKind = it->second->word[2];
    }
    rs->streams.flags |= kSfIndexSource;
  }
  for (auto it = streams.begin(); it != streams.end(); ++it) {
    const uint32_t s = it->first;
    if (s >= kBlockStreams) continue;
    StreamBinding& b = rs->streams.bindings[s];
    const uint32_t stride = it->second->word[2] > kStrideLimit ? kStrideLimit : it->second->word[2];
    if ((rs->streams.flaggedMask >> s & 1) != 0 || b.handle != it->second->word[1] || b.stride != stride) {
      b.handle = it->second->word[1];
      b.stride = stride;
      rs->streams.changedMask |= static_cast<uint8_t>(1u << s);
    }
  }
}

// ---- StateBlockTable -------------------------------------------------------------------------

StateBlockTable::StateBlockTable(RenderState3d* state) : owner(state) {}

StateBlockTable::~StateBlockTable() {
  if (saved != nullptr) delete saved;
  if (blocks.ok()) {
    for (auto it = blocks.begin(); it != blocks.end(); ++it) delete it->second;
  }
}

StateBlock* StateBlockTable::Find(uint32_t key) const {
  if (!blocks.ok()) return nullptr;
  auto it = blocks.lower_bound(key);
  return it != blocks.end() && it->first == key ? it->second : nullptr;
}

uint32_t StateBlockTable::Add(uint32_t key) {
  if (!blocks.ok()) return 0;
  StateBlock* fresh = new StateBlock(owner, key);
  if (fresh == nullptr) return 0;
  if (!fresh->ok()) {
    delete fresh;
    return 0;
  }
  auto it = blocks.lower_bound(key);
  if (it != blocks.end() && it->first == key) {
    delete it->second;
    it->second = fresh;
    return 1;
  }
  if (blocks.size() >= kMaxStateBlocks) {
    delete fresh;
    return 0;
  }
  if (!blocks.insert({key, fresh}).second) {
    delete fresh;
    return 0;
  }
  return 1;
}

void StateBlockTable::Erase(uint32_t key) {
  if (!blocks.ok()) return;
  auto it = blocks.lower_bound(key);
  if (it == blocks.end() || it->first != key) return;
  delete it->second;
  blocks.erase(it);
}

uint32_t StateBlockTable::BeginRecording(uint32_t key) {
  if (depth == 0) {
    StateBlock* s = new StateBlock(owner, 0);
    if (s == nullptr) return 0;
    if (!s->ok()) {
      delete s;
      return 0;
    }
    s->Capture(kCaptureAllStreams);
    if (owner != nullptr) owner->CaptureInto(s);
    saved = s;
  }
  if (StateBlock* b = Find(key)) b->recording = 1;
  ++depth;
  return 1;
}

uint32_t StateBlockTable::EndRecording(uint32_t key) {
  if (StateBlock* b = Find(key)) b->recording = 0;
  if (depth == 0) return 0;
  if (depth == 1 && saved != nullptr) {
    saved->Apply(false);
    delete saved;
    saved = nullptr;
  }
  return --depth;
}

uint32_t StateBlockTable::RecordState(uint32_t kind, uint32_t id, uint32_t stage) {
  if (!blocks.ok()) return 1;
  for (auto it = blocks.begin(); it != blocks.end(); ++it)
    if (it->second->recording != 0) it->second->AddKey(kind, id, stage);
  return 1;
}

uint32_t StateBlockTable::Create(uint32_t key, uint32_t type) {
  if (Add(key) == 0) return 0;
  StateBlock* b = Find(key);
  if (b == nullptr) return 0;
  const uint32_t kind = type == 1 ? kCaptureAll : type == 2 ? kCapturePixel : type == 3 ? kCaptureVertex
                                                                                           : kCaptureRecorded;
  b->Capture(kind);
  if (owner != nullptr) owner->CaptureInto(b);
  return 1;
}

uint32_t StateBlockTable::ApplyBlock(uint32_t key) {
  StateBlock* b = Find(key);
  if (b == nullptr) return 0;
  applying = 1;
  b->Apply(true);
  applying = 0;
  return 1;
}

// ---- The render state's table ------------------------------------------------------------------

StateBlockTable* CreateStateBlockTable3d(RenderState3d* state) {
  StateBlockTable* table = new StateBlockTable(state);
  if (table != nullptr && !table->ok()) {
    delete table;
    return nullptr;
  }
  return table;
}

void DestroyStateBlockTable3d(StateBlockTable* table) { delete table; }
