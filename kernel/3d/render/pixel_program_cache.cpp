// The pixel-program cache: keyed and client programs, and the selection
// before each draw.
#include "kernel/3d/render/pixel_program_cache.h"

#include <string.h>

#include "core/os.h"
#include "core/same_bytes.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"

namespace {

// The register class of an argument in a stage code: registers 0-4 keep
// their number, 14 is 5, 16 is 6, 17 is 7, other registers below 18 are 0
// and 18 and above 8.
constexpr uint8_t kKeyClasses[18] = {0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 6, 7};
inline uint32_t KeyClass(uint32_t reg) { return reg < 18 ? kKeyClasses[reg] : 8; }

inline uint32_t HalfCode(const StageArgumentSet& s) {
  const uint32_t first = KeyClass(s.args[0].index);
  const uint32_t second = KeyClass(s.args[1].index);
  const uint32_t third = KeyClass(s.args[2].index);
  return ((((third * 9 + second) * 9 + first) * 3 + s.word4) * 8 + s.operation) & 0xFFFF;
}

// Whether any argument of a half carries a modifier word.
inline bool HasModifier(const StageArgumentSet& s) {
  return (s.args[0].value[0] | s.args[0].value[1] | s.args[1].value[0] | s.args[1].value[1] | s.args[2].value[0] |
          s.args[2].value[1]) != 0;
}

// The bytes of a stage record a fixed-function build reads: both argument
// sets and the word between them that says whether the second is used.
constexpr size_t kStageBuildBytes = offsetof(StageRecord, alphaEnable);
static_assert(kStageBuildBytes % 4 == 0);

// Whether a keyed program was built from this description: the parts a
// fixed-function build reads are equal (the count, the argument sets of the
// stages it counts, and from the kind word on, the kind, the texture count
// and the textures).
bool SameDescription(const PixelProgram* program, const PipelineRecord* d) {
  const PipelineRecord* s = program->source;
  if (s == nullptr || d == nullptr || s->count != d->count) return false;
  const uint32_t stages = d->count < kPipelineStages ? d->count : kPipelineStages;
  constexpr size_t kTail = sizeof(PipelineRecord) - offsetof(PipelineRecord, kind);
  static_assert(kTail % 4 == 0);
  bool same = SameBytes(&s->kind, &d->kind, kTail);
  for (uint32_t i = 0; i < stages; ++i) same &= SameBytes(&s->stages[i], &d->stages[i], kStageBuildBytes);
  return same;
}

}  // namespace

PixelProgramCache::PixelProgramCache() = default;

PixelProgramCache::~PixelProgramCache() {
  for (auto it = programsById.begin(); it != programsById.end(); ++it) delete it->second;
  for (auto it = programsByKey.begin(); it != programsByKey.end(); ++it) delete it->second;
  programsById.clear();
  programsByKey.clear();
}

bool PixelProgramCache::Init(RenderContext3d* owner) {
  context = owner;
  if (owner != nullptr && owner->engineOwner != nullptr)
    caps.bits = owner->engineOwner->capabilities & (kCapsLaterBits | kCapsMiddleBits);
  if (owner != nullptr && owner->contextState != nullptr) {
    owner->contextState->dirty.words[0] |= kCsDirtyStageEnable;
    owner->contextState->dirty.words[1] |= kTuAllBit;
  }
  return true;
}

// ---- Keys -------------------------------------------------------------------------------------

bool PixelProgramCache::BuildKey(const PixelPipelineState& live, PixelStateKey* key) {
  memset(key, 0, sizeof *key);
  const PipelineRecord* d = live.description;
  if (d == nullptr || live.AuxSamplerOn(0) || live.AuxSamplerOn(1)) return false;
  // Stage codes take words 1 to 4: more stages would run into the texture
  // word and past the key.
  const uint32_t count = d->count;
  if (count > kKeyableStages) return false;
  for (uint32_t s = 0; s < count; ++s)
    if (HasModifier(d->stages[s].colour) || HasModifier(d->stages[s].alpha)) return false;
  // The words are kept apart (not in an array) so that they stay in
  // registers until the key is stored.
  static_assert(kKeyableStages == 4);
  auto stageWord = [&](uint32_t s) -> uint32_t {
    if (s >= count) return 0;
    const StageRecord& r = d->stages[s];
    const uint32_t colour = HalfCode(r.colour);
    const uint32_t alpha = r.colourEnable == 1 ? HalfCode(r.alpha) : colour;
    return colour << 16 | alpha;
  };
  auto flagBit = [&](uint32_t i) -> uint32_t {
    return d->textures[i].presence != 0 ? (d->textures[i].flags & 1) << 15 : 0;
  };
  const uint32_t w0 = stageWord(0) | flagBit(0) | (live.options & kPpsOptionMode) << 31;
  const uint32_t w1 = stageWord(1) | flagBit(1);
  const uint32_t w2 = stageWord(2) | flagBit(2);
  const uint32_t w3 = stageWord(3) | flagBit(3);
  uint32_t textures = 0;
  for (uint32_t i = 0; i < kPipelineTextures; ++i) {
    if (d->textures[i].presence == 0) continue;
    const PipelineStageEntry& e = live.entries[i];
    const uint32_t a = e.sampling[2] >> 1 & 7;
    const uint32_t b = e.sampling[2] >> 4 & 7;
    const uint32_t c = e.sampling[2] & 1;
    const uint32_t dd = e.sampling[1] >> 6 & 3;
    textures = textures << 8 | (((a + 6 * b) * 6 + (4 * c + dd)) & 0xFF);
  }
  key->word = 1;
  // Stored in the eight-byte pieces the map's order reads them in.
  static_assert(sizeof key->state == 24);
  const uint64_t first = w0 | uint64_t{w1} << 32;
  const uint64_t second = w2 | uint64_t{w3} << 32;
  const uint64_t third = textures;
  memcpy(key->state, &first, 8);
  memcpy(key->state + 8, &second, 8);
  memcpy(key->state + 16, &third, 8);
  return true;
}

PixelProgram* PixelProgramCache::FindByKey(const PixelStateKey& key) const {
  auto it = programsByKey.find(key);
  return it != programsByKey.end() ? it->second : nullptr;
}

PixelProgram* PixelProgramCache::FindById(uint32_t id) const {
  auto it = programsById.lower_bound(id);
  return it != programsById.end() && it->first == id ? it->second : nullptr;
}

PixelProgram* PixelProgramCache::InsertOrRecycle(const PixelStateKey& key) {
  built = committed = 0;
  programKind = 0;
  PixelProgram* program = nullptr;
  if (programsByKey.size() >= kKeyedPrograms) {
    auto first = programsByKey.begin();
    program = first->second;
    programsByKey.erase(first);
  } else {
    program = new PixelProgram();
  }
  if (program == nullptr) return nullptr;
  built = program->Build(this, state->description, kProgramModeFixed) ? 1 : 0;
  if (built == 0) {
    Forget(program);
    delete program;
    return nullptr;
  }
  auto inserted = programsByKey.insert(Otl::Pair<const PixelStateKey, PixelProgram*>{key, program});
  if (!inserted.second) {
    Forget(program);
    delete program;
    return nullptr;
  }
  return program;
}

void PixelProgramCache::Forget(PixelProgram* program) {
  if (current == program) current = nullptr;
}

void PixelProgramCache::ForgetSurface(const Surface3d* surface) {
  if (surface == nullptr) return;
  scratch.ForgetSurface(surface);
  for (auto it = programsById.begin(); it != programsById.end(); ++it) it->second->ForgetSurface(surface);
  for (auto it = programsByKey.begin(); it != programsByKey.end(); ++it) it->second->ForgetSurface(surface);
}

// ---- Selection --------------------------------------------------------------------------------

namespace {

// The stop words of the texture walk: an entry still at its reset mark, and
// an entry without a texture that ends the stages.
constexpr uint32_t kWalkEndMark = 1;
constexpr uint32_t kWalkEndUnbound = 2;
// The placement class from which the engine reaches a surface.
constexpr uint32_t kEnginePlacement = 2;

}  // namespace

bool PixelProgramCache::CanUseTextures(const PixelPipelineState& live) const {
  const ResourceTable* resources = context != nullptr ? context->resources : nullptr;
  uint32_t textures = 0;
  for (uint32_t i = 0; i < kTextureWalkEntries && textures < kTextureWalkLimit; ++i) {
    const PipelineStageEntry& e = live.entries[i];
    if (e.colourOp == kWalkEndMark) break;
    const uint32_t handle = e.textureB;
    if (handle == 0) {
      if (e.colourArgs[1] == kWalkEndUnbound) break;
      continue;
    }
    // The handle's kind names one of the three resource tables.
    const uint32_t kind = e.textureA;
    if (kind >= kResourceTypes) return false;
    const Surface3d* surface = resources != nullptr ? resources->Get(kind, handle) : nullptr;
    if (surface == nullptr || surface->Placement() < kEnginePlacement) return false;
    ++textures;
  }
  return textures < kTextureWalkLimit;
}

bool PixelProgramCache::Recommit() {
  if (current == nullptr) return false;
  committed = current->Commit(changed, *state, target, caps) ? 1 : 0;
  if (committed != 0) changed = 0;
  return committed != 0;
}

bool PixelProgramCache::Select(PixelPipelineState& live, ContextState3d* targetState) {
  committed = 0;
  if (!CanUseTextures(live)) return false;
  state = &live;
  target = targetState;
  bool result;
  PixelProgram* program = nullptr;
  bool select = true;
  if (live.clientProgram != 0) {
    if ((live.dirty & kPpsProgram) == 0) {
      select = false;
    } else {
      program = FindById(live.programId);
      if (program == nullptr) {
        state = nullptr;
        target = nullptr;
        return false;
      }
      changed = program != current ? 1 : changed;
    }
  } else if ((live.dirty & (kPpsProgram | kPpsOptionBit0)) == 0 &&
             (live.stageDirty & (kPeFilters | kSgOps | kPeEnables)) == 0) {
    // (An auxiliary sampler switched on or off changes the units too.)
    select = false;
  } else {
    // A description without a usable key is built in the scratch program.
    auto buildScratch = [&] {
      program = &scratch;
      if (!scratch.Build(this, live.description, kProgramModeFixed)) {
        state = nullptr;
        target = nullptr;
        return false;
      }
      changed = 1;
      return true;
    };
    PixelStateKey key;
    if (!BuildKey(live, &key)) {
      current = &scratch;
      if (!buildScratch()) return false;
    } else {
      program = FindByKey(key);
      if (program != nullptr && !SameDescription(program, live.description)) {
        // Keys collide: this description is built on its own.
        if (!buildScratch()) return false;
      } else if (program != nullptr) {
        changed = program != current ? 1 : changed;
      } else {
        program = InsertOrRecycle(key);
        changed = 1;
      }
    }
  }
  if (select) {
    current = program;
    if (program == nullptr) {
      result = false;
    } else {
      result = Recommit();
    }
  } else {
    result = Recommit();
  }
  state = nullptr;
  target = nullptr;
  return result;
}

// ---- Client programs --------------------------------------------------------------------------

uint32_t PixelProgramCache::CreateProgram(uint32_t id, const PipelineRecord* description, bool keep) {
  DeleteProgram(id);
  built = committed = 0;
  if (keep && programsById.size() >= kClientPrograms) return 1;
  PixelProgram* program = keep ? new PixelProgram() : &scratch;
  if (program == nullptr) return 1;
  if (program == current) current = nullptr;
  program->Build(this, description, keep ? kProgramModeClient : kProgramModeFixed);
  programKind = description != nullptr ? description->kind : 0;
  for (uint32_t i = 0; i < 4; ++i) {
    samplers[i] = SamplerEntry{};
    if (programKind != 1 || description == nullptr) continue;
    const PipelineTextureRecord& t = description->textures[i];
    if (i >= description->textureCount || t.presence == 0) continue;
    static constexpr uint32_t kClasses[3][4] = {{0, 2, 2, 3}, {0, 2, 2, 3}, {1, 1, 2, 2}};
    samplers[i].present = 1;
    for (uint32_t k = 0; k < 3; ++k) samplers[i].classValues[k] = kClasses[k][t.dependentCount & 3];
    samplers[i].parameter = t.dependents[0];
  }
  if (keep) {
    auto inserted = programsById.insert(Otl::Pair<const uint32_t, PixelProgram*>{id, program});
    if (!inserted.second) {
      delete program;
      return 1;
    }
  }
  return 0;
}

uint32_t PixelProgramCache::DeleteProgram(uint32_t id) {
  auto it = programsById.lower_bound(id);
  if (it == programsById.end() || it->first != id) return 0;
  PixelProgram* program = it->second;
  Forget(program);
  delete program;
  programsById.erase(it);
  return 0;
}

void PixelProgramCache::SetProgramParams(uint32_t id, uint32_t unit, const float coefficients[4]) {
  if (unit > 3) return;
  if (PixelProgram* program = FindById(id)) program->SetParams(unit, coefficients);
}

bool PixelProgramCache::SetConstant(uint32_t id, uint32_t a, uint32_t b, const void* bytes) {
  PixelProgram* program = FindById(id);
  return program != nullptr && program->SetConstant(a, b, bytes);
}

void PixelProgramCache::ReadConstants(uint32_t id, uint8_t (*out)[16]) const {
  if (id == 0) return;
  if (const PixelProgram* program = FindById(id)) program->ReadConstants(out, kPipelineConstants);
}

void PixelProgramCache::ReadFirstConstants(uint32_t id, uint8_t (*out)[16]) const {
  if (id == 0) return;
  if (const PixelProgram* program = FindById(id)) program->ReadConstants(out, kPipelineBlockConstants);
}

// ---- The render state's side ------------------------------------------------------------------

void SyncPipelineState(RenderState3d* rs) {
  PixelPipelineState& live = rs->pipelineState;
  const PixelGroup& px = rs->pixel;
  live.description = &rs->pipeline;
  // The pixel group's dirty bits sit where the record keeps them.
  live.dirty = px.dirty & 0xFF;
  if ((live.dirty & (kPpsConstants | kPpsConstantBlock)) == 0) live.dirtyConstants = 0;
  live.stageDirty = px.stageSummary;
  live.options = (px.control & 1u) | (px.control & 2u) | (px.colourKeyBlend & 1u) << 2 | (px.wrap & 0xFFFFFFu) << 3;
  live.programId = px.programSelector;
  live.clientProgram = px.programSelector != 0 ? 1 : 0;
  for (uint32_t s = 0; s < kStateStages; ++s) {
    const TextureStage& t = rs->stages[s];
    PipelineStageEntry& e = live.entries[s];
    e.dirty = t.dirty;
    if (t.dirty == 0) continue;
    e.textureA = t.texture != 0 ? t.textureKind : 1;
    e.textureB = t.texture;
    e.sampling[0] = static_cast<uint8_t>((t.addressU & 7) | (t.texGen & 3) << 3 | (t.addressV & 7) << 5);
    e.sampling[1] = static_cast<uint8_t>((t.coordIndex & 0x3F) | (t.mipFilter & 3) << 6);
    e.sampling[2] = static_cast<uint8_t>((t.anisotropy > 1 ? 1 : 0) | (t.minFilter & 7) << 1 | (t.magFilter & 7) << 4);
    e.sampling[3] = static_cast<uint8_t>((e.sampling[3] & 0xE0) | (t.addressW & 0xF) << 1);
    // Each field goes where the entry's dirty bit of the stage's setter
    // takes it: the LOD bias and level to the LOD words too.
    e.border = t.border;
    e.lodBias = t.lodBias;
    e.maxMipLevel = t.maxMipLevel;
    e.lodRange[0] = static_cast<float>(t.maxMipLevel & 0xF);
    memcpy(e.bumpEnvironment, t.bumpMatrix, 16);
    memcpy(&e.bumpEnvironment[4], &t.bumpScale, 4);
    memcpy(&e.bumpEnvironment[5], &t.bumpOffset, 4);
    memcpy(e.textureFactor, t.factor, 16);
    e.transformFlags = t.transformFlags;
  }
  live.entries[kPipelineAuxFirst].enables[0] = px.stippleEnable != 0 ? 1 : 0;
}

// ---- What the render contexts ask of the cache -----------------------------------------------

PixelProgramCache* NewPixelProgramCache(RenderContext3d* context) {
  auto* cache = new PixelProgramCache();
  if (cache == nullptr) return nullptr;
  if (!cache->Ok() || !cache->Init(context)) {
    delete cache;
    return nullptr;
  }
  return cache;
}

void DeletePixelProgramCache(PixelProgramCache* cache) { delete cache; }

bool PixelProgramCacheSelect(PixelProgramCache* cache, RenderState3d* state) {
  if (cache == nullptr || state == nullptr) return false;
  SyncPipelineState(state);
  ContextState3d* target = cache->context != nullptr ? cache->context->contextState : nullptr;
  return cache->Select(state->pipelineState, target);
}

void PixelProgramCacheForgetSurface(PixelProgramCache* cache, const Surface3d* surface) {
  if (cache != nullptr) cache->ForgetSurface(surface);
}

void PixelProgramCacheLoadConstantBlock(PixelProgramCache* cache, uint32_t block, RenderState3d* state) {
  if (cache == nullptr || state == nullptr) return;
  cache->ReadConstants(block, state->pipelineState.constants);
  state->pipelineState.dirtyConstants = 0xFFFFFFFF;
  state->pixel.dirty |= kPpsConstantBlock | kPpsConstants;
}
