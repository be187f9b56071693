// The state tokens of a client's command stream that act on the render
// state of the current render context. Each handler gets the kernel's copy
// of the token's entries (count of them, each of the opcode's fixed size,
// at any alignment) and applies them in order; for opcode 7 only the first
// entry counts, for 39, 53 and 54 only the last.
#pragma once

#include <stdint.h>

struct TokenContext3d;

// Opcode and handler of every render-state token.
#define ORV_RENDER_STATE_TOKENS(X)           \
  X(5, RenderState3dSetDriverStates)         \
  X(6, RenderState3dSetSamplerStates)        \
  X(7, RenderState3dSetViewport)             \
  X(12, RenderState3dSetRenderStates)        \
  X(14, RenderState3dSetTextureStages)       \
  X(18, RenderState3dSetRectA)               \
  X(32, RenderState3dSetTransforms)          \
  X(35, RenderState3dSetFloat4StatesB)       \
  X(36, RenderState3dSetModeStates)          \
  X(37, RenderState3dSetClipPlanes)          \
  X(38, RenderState3dSetRectB)               \
  X(39, RenderState3dSetDepthRange)          \
  X(53, RenderState3dSetFloat4StateA)        \
  X(54, RenderState3dSetFloatPair)           \
  X(69, RenderState3dLoadPipelineRecord)

#define ORV_DECLARE_RENDER_STATE_TOKEN(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_RENDER_STATE_TOKENS(ORV_DECLARE_RENDER_STATE_TOKEN)
#undef ORV_DECLARE_RENDER_STATE_TOKEN
