// The image of the 3D engine's register state that one user (a render
// context, a device, the engine owner's presets, the blit engine) wants the
// engine to hold: seven register blocks with their dirty bits in three
// shared dirty words. The render contexts and the render-state application
// write its flag byte, dirty words, engine control word, the driver-switch
// value and the vertex-engine block; its construction, defaults, emission
// and the engine owner that makes it current are the engine owner's.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "kernel/3d/render/vertex_engine_block.h"

class EngineOwner3d;
struct RenderContext3d;

// A set of masks in the form of the dirty words: three words of register
// groups (the first: engine blocks; the second: texture stages, 3 bits
// each; the third: texture units, 2 bits each) and the flag fields.
struct ContextStateMasks {
  uint32_t words[3];
  uint32_t flagWord;
  uint8_t flagByte;
  uint32_t flagWord2;
};

// Bits of the state's first dirty word, by byte (bytes 24 to 27 of the
// record).
inline constexpr uint32_t kCsDirtyControlWord = 0x01;         // byte 24: the engine control word
inline constexpr uint32_t kCsDirtyAllBlocks = 0x80;           // byte 24: every block
inline constexpr uint32_t kCsDirtyLayout = 0x01u << 8;        // byte 25: the vertex layout
inline constexpr uint32_t kCsDirtyPrimitiveType = 0x08u << 8; // byte 25: the primitive type
inline constexpr uint32_t kCsDirtyFence = 0x80u << 16;        // byte 26: the vertex-engine fence

// Bits of the state's flag byte.
inline constexpr uint8_t kCsFlagClientA = 0x02;
inline constexpr uint8_t kCsFlagClientB = 0x04;
inline constexpr uint8_t kCsFlagRenderContext = 0x80;

// The engine's pending-operation record, reset when a render context takes
// the state.
struct ContextStatePending {
  uint32_t operation;
  uint32_t words[7];
};

class ContextState3d : public OsHeapObject {
 public:
  EngineOwner3d* owner;
  ContextState3d* previous;
  ContextState3d* next;
  ContextStateMasks dirty;          // dirty words at bytes 24 to 35
  ContextStateMasks emitMask;
  ContextStateMasks changedByOthers;
  uint8_t flags;                    // kCsFlag*
  RenderContext3d* renderContext;   // the render context that owns it, or null
  ContextStatePending pending;
  uint32_t controlWord;             // the engine control word the render state builds
  uint32_t driverSwitchValue;       // the board switch's answer for the owning context

  uint32_t rasterBlock[10];
  uint32_t depthStencilBlock[8];
  uint32_t fogBlock[70];
  VertexEngineBlock vertexEngine;
  uint8_t textureUnitBlock[664];
  uint32_t coordinateBlock[34];
  uint32_t operationBlock[17];
};
static_assert(offsetof(ContextState3d, dirty) == 24);
