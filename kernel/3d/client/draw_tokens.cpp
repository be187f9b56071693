// The draw, clear and copy tokens of the command-token interpreter that
// change the current render context's state for later draws: lights
// (token 33) and the two stored vertex-engine matrices (token 34).
//
// Entries and their trailing bytes are the interpreter's kernel copy of
// client data: every count and byte length is bounded by what the token
// carries.
#include <string.h>

#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vec_const_shadow.h"

namespace {

// Token 33: {u32 light index, u32 byte count}; the bytes follow the
// entries in entry order, one light record each.
constexpr uint32_t kLightEntryBytes = 8;

// Token 34: {u32 kind, 16 u32 matrix, u32 extra}.
constexpr uint32_t kMatrixEntryWords = 18;
constexpr uint32_t kMatrixExtraWord = 11;
constexpr uint32_t kFirstMatrixConst = 308;
constexpr uint32_t kSecondMatrixConst = 342;
constexpr uint32_t kMatrixConsts = 4;

void StoreMatrix(VecConstShadow* shadow, uint32_t first, const uint32_t matrix[16]) {
  if (memcmp(&shadow->image[first], matrix, kMatrixConsts * sizeof(VecConst)) == 0) return;
  memcpy(&shadow->image[first], matrix, kMatrixConsts * sizeof(VecConst));
  shadow->MarkDirty(first, first + kMatrixConsts - 1);
}

}  // namespace

void EmitSetLights(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  if (token == nullptr || token->current == nullptr || payload == nullptr) return;
  RenderState3d& state = token->current->state;
  const uint8_t* data = payload + static_cast<size_t>(count) * kLightEntryBytes;
  uint64_t used = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[2];
    memcpy(entry, payload + static_cast<size_t>(i) * kLightEntryBytes, sizeof entry);
    const uint32_t bytes = entry[1];
    // A record past the trailing bytes ends the token; one too short to
    // hold a light is skipped.
    if (bytes > trailing - used) return;
    if (bytes >= sizeof(LightRecord)) {
      LightRecord light;
      memcpy(&light, data + used, sizeof light);
      state.SetLight(entry[0], &light);
    }
    used += bytes;
  }
}

void EmitSetVertexConstants(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || payload == nullptr) return;
  VecConstShadow* shadow = RenderContext3dVecConstShadow(token->current);
  if (shadow == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[kMatrixEntryWords];
    memcpy(entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    const uint32_t kind = entry[0];
    if (kind < 1 || kind > 3) continue;
    uint32_t matrix[16];
    memcpy(matrix, entry + 1, sizeof matrix);
    matrix[kMatrixExtraWord] = entry[17];
    if ((kind & 1) != 0) StoreMatrix(shadow, kFirstMatrixConst, matrix);
    if ((kind & 2) != 0) StoreMatrix(shadow, kSecondMatrixConst, matrix);
  }
}
