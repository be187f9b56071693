// The pixel-program tokens of the command stream: client programs created
// (70) and deleted (71) in the current render context's cache, the pixel
// constants set (72), and a client program's parameters (73).
#include <string.h>

#include "core/os.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/pixel_program.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"

namespace {

PixelProgramCache* CacheOf(TokenContext3d* token) {
  return token != nullptr && token->current != nullptr ? token->current->programCache : nullptr;
}

// Token 70's entry: the id word, the description and a word that keeps the
// program under its id (non-zero) or builds it into the scratch program.
constexpr uint32_t kCreateEntryBytes = 1656;
constexpr uint32_t kCreateKeepOffset = 4 + sizeof(PipelineRecord);
static_assert(kCreateKeepOffset + 4 <= kCreateEntryBytes);

}  // namespace

void tokens::CreatePixelProgram(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  PixelProgramCache* cache = CacheOf(token);
  if (cache == nullptr) return;
  RenderState3d& rs = token->current->state;
  auto* description = static_cast<PipelineRecord*>(memAlloc(sizeof(PipelineRecord)));
  if (description == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = payload + static_cast<size_t>(i) * kCreateEntryBytes;
    uint32_t word;
    memcpy(&word, entry, 4);
    memcpy(static_cast<void*>(description), entry + 4, sizeof *description);
    uint32_t keep;
    memcpy(&keep, entry + kCreateKeepOffset, 4);
    const uint32_t id = word + 1;
    cache->CreateProgram(id, description, keep != 0);
    if (id == rs.pixel.programSelector) rs.pixel.dirty |= kPxProgram;
  }
  memFree(description);
}

void tokens::DeletePixelProgram(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  PixelProgramCache* cache = CacheOf(token);
  if (cache == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t word;
    memcpy(&word, payload + 8u * i, 4);
    cache->DeleteProgram(word + 1);
  }
}

void tokens::SetPixelConstants(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr) return;
  RenderContext3d* context = token->current;
  RenderState3d& rs = context->state;
  // The client program the constants also go to, looked up once: nothing
  // in the loop changes the selector or the cache's programs.
  PixelProgram* program =
      context->programCache != nullptr ? context->programCache->FindById(rs.pixel.programSelector) : nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = payload + 24u * i;
    uint32_t index, bank;
    memcpy(&index, entry, 4);
    memcpy(&bank, entry + 4, 4);
    // Slot 2 x bank + index of twenty.
    if (index > 1 || bank >= kPipelineConstants / 2) continue;
    const uint32_t slot = 2 * bank + index;
    memcpy(rs.pipelineState.constants[slot], entry + 8, 16);
    rs.pipelineState.dirtyConstants |= 1u << slot;
    rs.pixel.dirty |= slot < kPipelineBlockConstants ? kPpsConstantBlock | kPpsConstants : kPpsConstants;
    if (program != nullptr) program->SetConstant(index, bank, entry + 8);
  }
}

void tokens::SetPixelProgramParams(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  PixelProgramCache* cache = CacheOf(token);
  if (cache == nullptr) return;
  RenderState3d& rs = token->current->state;
  if (rs.pixel.programMode != 1) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = payload + 20u * i;
    uint32_t unit;
    float c[4];
    memcpy(&unit, entry, 4);
    memcpy(c, entry + 4, 16);
    cache->SetProgramParams(rs.pixel.programSelector, unit, c);
    rs.pixel.dirty |= kPxProgram;
  }
}
