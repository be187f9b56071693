// The pixel-program cache of a render context: it hands the render-state
// application a committed pixel program for the current pipeline state.
// Programs built from fixed-function state are filed under a 24-byte state
// key (at most 50 of them), so that a state seen before costs a look-up
// instead of a build; programs a client creates under its own id go into a
// second map; state that cannot be keyed is built every time into one
// scratch program.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_map.h"
#include "kernel/3d/render/pixel_program.h"
#include "kernel/pixel_state_key.h"

class ContextState3d;
class Surface3d;
struct PipelineRecord;
struct RenderContext3d;
struct RenderState3d;

inline constexpr uint32_t kKeyedPrograms = 50;
// The most programs a client keeps under its own ids in one cache.
inline constexpr uint32_t kClientPrograms = 256;
// Descriptions of more stages than this cannot be keyed.
inline constexpr uint32_t kKeyableStages = 4;
// The texture walk of a selection: at most this many stage entries, and
// fewer textures than the limit.
inline constexpr uint32_t kTextureWalkEntries = 8;
inline constexpr uint32_t kTextureWalkLimit = 5;

struct SamplerEntry {
  uint8_t present;
  uint32_t classValues[3];
  uint32_t parameter;
};

class PixelProgramCache : public OsHeapObject {
 public:
  PixelProgramCache();
  ~PixelProgramCache();
  PixelProgramCache(const PixelProgramCache&) = delete;
  PixelProgramCache& operator=(const PixelProgramCache&) = delete;

  // False when the maps could not be made.
  bool Ok() const { return programsById.ok() && programsByKey.ok(); }
  bool Init(RenderContext3d* owner);

  // Makes a program current and committed for the state, emitting into the
  // target. A state whose textures cannot be used selects nothing.
  bool Select(PixelPipelineState& live, ContextState3d* targetState);
  // Whether the engine can sample the textures the state's stage entries
  // name: the walk looks at the first eight entries at most and stops at an
  // entry still marked as reset (word 44 at 1) or at an entry without a
  // texture whose word 52 is 2. Each texture is looked up by its handle's
  // kind in the context's resource tables and counts when it is placed
  // where the engine reaches it (placement class 2 or more). False for a
  // texture placed below that, for a handle kind other than 0, 1 or 2, for
  // a handle that names no surface, and when five textures are counted.
  bool CanUseTextures(const PixelPipelineState& live) const;
  // The key of a state; false when it cannot be keyed.
  static bool BuildKey(const PixelPipelineState& live, PixelStateKey* key);
  PixelProgram* FindByKey(const PixelStateKey& key) const;
  PixelProgram* InsertOrRecycle(const PixelStateKey& key);

  // 0 on success, 1 on failure.
  uint32_t CreateProgram(uint32_t id, const PipelineRecord* description, bool keep);
  uint32_t DeleteProgram(uint32_t id);
  void SetProgramParams(uint32_t id, uint32_t unit, const float coefficients[4]);
  bool SetConstant(uint32_t id, uint32_t a, uint32_t b, const void* bytes);
  void ReadConstants(uint32_t id, uint8_t (*out)[16]) const;
  void ReadFirstConstants(uint32_t id, uint8_t (*out)[16]) const;
  PixelProgram* FindById(uint32_t id) const;

  const PixelPipelineState* LiveState() const { return state; }

  // Whether the current program must be committed again although the
  // render state marks nothing: a surface it sampled went, or the colour
  // target its units take changed.
  // (Inline: the render state's application asks before every draw; the
  // target is looked at only for a program whose units take it.)
  bool NeedsCommit() const {
    return current != nullptr && (current->dirty != 0 || (current->takesTarget != 0 && current->TargetMoved()));
  }
  // A surface goes: every program lets go of it (the scratch program, the
  // keyed and the client programs), and the next application commits the
  // current one again.
  void ForgetSurface(const Surface3d* surface);

  Otl::Map<uint32_t, PixelProgram*> programsById;
  Otl::Map<PixelStateKey, PixelProgram*> programsByKey;
  RenderContext3d* context = nullptr;
  PixelPipelineState* state = nullptr;
  ContextState3d* target = nullptr;
  PixelProgram scratch;
  uint32_t programKind = 0;
  SamplerEntry samplers[4] = {};
  uint8_t changed = 1;
  uint8_t built = 0;
  uint8_t committed = 0;
  PixelProgram* current = nullptr;
  uint8_t entries[8][24] = {};
  PixelDeviceCaps caps;

 private:
  bool Recommit();
  void Forget(PixelProgram* program);
};

// What render contexts and their render state ask of the cache: made for a
// context (null when memory runs out) and deleted; a program selected and
// committed for the render state; whether the current program is valid;
// the constants of a client program loaded into the live pipeline record.
PixelProgramCache* NewPixelProgramCache(RenderContext3d* context);
void DeletePixelProgramCache(PixelProgramCache* cache);
bool PixelProgramCacheSelect(PixelProgramCache* cache, RenderState3d* state);
inline bool PixelProgramCacheValid(PixelProgramCache* cache) {
  return cache != nullptr && cache->current != nullptr && cache->current->valid != 0;
}
inline bool PixelProgramCacheNeedsCommit(const PixelProgramCache* cache) {
  return cache != nullptr && cache->NeedsCommit();
}
void PixelProgramCacheForgetSurface(PixelProgramCache* cache, const Surface3d* surface);
void PixelProgramCacheLoadConstantBlock(PixelProgramCache* cache, uint32_t block, RenderState3d* state);

// The live pipeline record of a render state brought up to date with the
// render state's pixel group and texture stages before a selection.
void SyncPipelineState(RenderState3d* renderState);
