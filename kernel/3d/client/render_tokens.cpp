// Render-state tokens: each entry is copied out of the token's bytes
// (which may lie at any alignment) and handed to the render state of the
// current render context.
#include "kernel/3d/client/render_tokens.h"

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

// Hands a token's entries on in aligned batches, one call per batch
// rather than per entry; the members apply their entries in order, so the
// result is that of one entry at a time.
template <class Word, uint32_t kWordsPerEntry, class Apply>
void InBatches(const uint8_t* payload, uint32_t count, Apply apply) {
  constexpr uint32_t kBatch = 32;
  constexpr size_t kEntryBytes = sizeof(Word) * kWordsPerEntry;
  if (count == 1) {
    // Most state tokens: one entry, no batch.
    Word entry[kWordsPerEntry];
    memcpy(entry, payload, kEntryBytes);
    apply(entry, 1);
    return;
  }
  Word words[kBatch * kWordsPerEntry];
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = count - done < kBatch ? count - done : kBatch;
    // Entry by entry: a copy of fixed size is a few moves, not a call.
    for (uint32_t i = 0; i < n; ++i)
      memcpy(words + i * kWordsPerEntry, payload + uint64_t{done + i} * kEntryBytes, kEntryBytes);
    apply(words, n);
    done += n;
  }
}

// The pipeline record leads each 1,648-byte entry of token 69.
constexpr uint32_t kPipelineEntryBytes = 1648;

}  // namespace

void tokens::SetDriverStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  InBatches<uint32_t, 2>(payload, count, [state](const uint32_t* pairs, uint32_t n) { state->SetDriverStates(pairs, n); });
}

void tokens::SetSamplerStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  InBatches<uint16_t, 4>(payload, count,
                         [state](const uint16_t* triples, uint32_t n) { state->SetSamplerStates(triples, n); });
}

void tokens::SetViewport(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  const Viewport viewport = EntryAt<Viewport>(payload, 0);
  state->SetViewport(viewport.words);
}

void tokens::SetRenderStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  InBatches<uint32_t, 2>(payload, count, [state](const uint32_t* pairs, uint32_t n) { state->SetRenderStates(pairs, n); });
}

void tokens::SetTextureStages(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
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

void tokens::SetRectA(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) state->SetRectA(EntryAt<Quad>(payload, i).words);
}

void tokens::SetRectB(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) state->SetRectB(EntryAt<Quad>(payload, i).words);
}

void tokens::SetTransforms(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const Transform transform = EntryAt<Transform>(payload, i);
    state->SetTransform(transform.id, transform.matrix);
  }
}

void tokens::SetFloat4StatesB(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  InBatches<float, 4>(payload, count, [state](const float* values, uint32_t n) { state->SetFloat4StateB(values, n); });
}

void tokens::SetModeStates(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  InBatches<uint32_t, 2>(payload, count, [state](const uint32_t* pairs, uint32_t n) { state->SetModeStates(pairs, n); });
}

void tokens::SetClipPlanes(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const ClipPlane plane = EntryAt<ClipPlane>(payload, i);
    state->SetClipPlane(plane.plane, plane.coefficients);
  }
}

void tokens::SetDepthRange(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetDepthRange(EntryAt<Pair>(payload, count - 1).words);
}

void tokens::SetFloat4StateA(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetFloat4StateA(EntryAt<Quad>(payload, count - 1).words);
}

void tokens::SetFloatPair(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr || count == 0) return;
  state->SetFloatPair(EntryAt<Pair>(payload, count - 1).words);
}

void tokens::LoadPipelineRecord(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  RenderState3d* state = StateOf(token);
  if (state == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    // Copied whole out of the token: the record's own words are read once.
    PipelineRecord record;
    memcpy(static_cast<void*>(&record), payload + uint64_t{i} * kPipelineEntryBytes, sizeof record);
    state->LoadPipelineRecord(&record);
  }
}
