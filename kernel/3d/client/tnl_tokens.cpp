// The vertex-shader tokens of the command stream: a declaration loaded into
// a shader entry (64), shader entries deleted (65), and a shader selected
// (66).
#include <string.h>

#include "core/heap_object.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_format.h"

namespace {

TnlSetup* SetupOf(TokenContext3d* token) {
  return token != nullptr && token->current != nullptr ? token->current->tnl : nullptr;
}

uint32_t WordAt(const uint8_t* payload, uint64_t index) {
  uint32_t word;
  memcpy(&word, payload + 4 * index, sizeof word);
  return word;
}

}  // namespace

void tokens::LoadVertexDeclaration(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  TnlSetup* setup = SetupOf(token);
  if (setup == nullptr || count == 0) return;
  // The whole payload: twelve bytes an entry and the trailing bytes, as
  // words (the first the shader handle).
  const uint64_t bytes = uint64_t{count} * TokenEntrySize(64) + trailing;
  const uint64_t words = bytes / 4;
  if (words == 0 || words > 0x100000) return;
  uint32_t* copy = static_cast<uint32_t*>(memAlloc(words * 4));
  if (copy == nullptr) return;
  for (uint64_t i = 0; i < words; ++i) copy[i] = WordAt(payload, i);
  setup->LoadVertexDeclaration(copy, words);
  memFree(copy);
}

void tokens::DeleteVertexShader(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  TnlSetup* setup = SetupOf(token);
  if (setup == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) setup->DeleteVertexShader(WordAt(payload, i));
}

void tokens::SetVertexShader(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || count == 0) return;
  RenderContext3d* context = token->current;
  const uint32_t handle = WordAt(payload, 0);
  RenderState3d& state = context->state;
  if (state.vertex.vertexShader != handle) {
    state.vertex.vertexShader = handle;
    state.vertex.transformDirty |= kVxViewport;  // the layout
    state.vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
    SelectVertexLayout3d(context, handle);
  }
  LoadVertexShaderConstants3d(context, handle);
}
