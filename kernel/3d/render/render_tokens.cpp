// Render-state tokens: each entry is copied out of the token's bytes
// (which may lie at any alignment) and handed to the render state of the
// current render context.
#include "kernel/3d/render/render_tokens.h"

#include <string.h>

#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"

namespace {

RenderState3d* StateOf(TokenContext3d* token) {
  return token != nullptr && token->current != nullptr ? &token->current->state : nullptr;
}

template <class Entry>
Entry EntryAt(const uint8_t* payload, uint32_t index) {
  Entry entry;
  memcpy(&entry, payload + uint64_t{index} * sizeof(Entry), sizeof(Entry));
  return entry;
}

struct Pair {
  uint32_t words[2];
};
struct Quad {
  uint32_t words[4];
};
struct Viewport {
  uint32_t words[6];
};
struct ClipPlane {
  uint32_t plane;
  uint32_t coefficients[4];
};
struct Transform {
  uint32_t id;
  Matrix4Words matrix;
};
struct StageEntry {
  uint16_t stage;
  uint16_t handle;
  uint32_t value;
};
static_assert(sizeof(Transform) == 68);
static_assert(sizeof(StageEntry) == 8);

// The pipeline record leads each 1,648-byte entry of token 69.
constexpr uint32_t kPipelineEntryBytes = 1648;

}  // namespace

void RenderState3dSetDriverStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const Pair pair = EntryAt<Pair>(payload, i);
    state->SetDriverStates(pair.words, 1);
  }
}

void RenderState3dSetSamplerStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t triple[4];
    memcpy(triple, payload + uint64_t{i} * sizeof triple, sizeof triple);
    state->SetSamplerStates(triple, 1);
  }
}

void RenderState3dSetViewport(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  const Viewport viewport = EntryAt<Viewport>(payload, 0);
  state->SetViewport(viewport.words);
}

void RenderState3dSetRenderStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const Pair pair = EntryAt<Pair>(payload, i);
    state->SetRenderStates(pair.words, 1);
  }
}

void RenderState3dSetTextureStages(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const StageEntry entry = EntryAt<StageEntry>(payload, i);
    if (entry.handle != 0)
      state->SetStageTexture(entry.stage, entry.handle, kStageTextureHandle);
    else
      state->SetStageTexture(entry.stage, entry.value, kStageTextureValue);
  }
}

void RenderState3dSetRectA(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) state->SetRectA(EntryAt<Quad>(payload, i).words);
}

void RenderState3dSetRectB(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) state->SetRectB(EntryAt<Quad>(payload, i).words);
}

void RenderState3dSetTransforms(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const Transform transform = EntryAt<Transform>(payload, i);
    state->SetTransform(transform.id, transform.matrix);
  }
}

void RenderState3dSetFloat4StatesB(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    float values[4];
    memcpy(values, payload + uint64_t{i} * sizeof values, sizeof values);
    state->SetFloat4StateB(values, 1);
  }
}

void RenderState3dSetModeStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) state->SetModeStates(EntryAt<Pair>(payload, i).words, 1);
}

void RenderState3dSetClipPlanes(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const ClipPlane plane = EntryAt<ClipPlane>(payload, i);
    state->SetClipPlane(plane.plane, plane.coefficients);
  }
}

void RenderState3dSetDepthRange(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetDepthRange(EntryAt<Pair>(payload, count - 1).words);
}

void RenderState3dSetFloat4StateA(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetFloat4StateA(EntryAt<Quad>(payload, count - 1).words);
}

void RenderState3dSetFloatPair(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetFloatPair(EntryAt<Pair>(payload, count - 1).words);
}

void RenderState3dLoadPipelineRecord(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    // Copied whole out of the token: the record's own words are read once.
    PipelineRecord record;
    memcpy(static_cast<void*>(&record), payload + uint64_t{i} * kPipelineEntryBytes, sizeof record);
    state->LoadPipelineRecord(&record);
  }
}
