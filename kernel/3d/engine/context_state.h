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
#include "kernel/3d/engine/texture_units.h"
#include "kernel/3d/engine/vertex_engine_block.h"

class BmBufferPool;
class EngineOwner3d;
struct RenderContext3d;
struct VertexProgram;
struct VecConstShadow;

// Bits of the state's first dirty word, by byte (bytes 24 to 27 of the
// record).
inline constexpr uint32_t kCsDirtyControlWord = 0x01;         // byte 24: the engine control word
inline constexpr uint32_t kCsDirtyAllBlocks = 0x80;           // byte 24: every block
inline constexpr uint32_t kCsDirtyLayout = 0x01u << 8;        // byte 25: the vertex layout
inline constexpr uint32_t kCsDirtyPrimitiveType = 0x08u << 8; // byte 25: the primitive type
inline constexpr uint32_t kCsDirtyFence = 0x80u << 16;        // byte 26: the vertex-engine fence

// The register groups behind the bits of the first dirty word.
inline constexpr uint32_t kCsDirtyPlaneMask = 0x02;           // {0xC9}
inline constexpr uint32_t kCsDirtySurfacesA = 0x04;           // {0x88, 0x89, 0x8C, 0x8D}
inline constexpr uint32_t kCsDirtySurfacesB = 0x08;           // {0x8A, 0x8B}
inline constexpr uint32_t kCsDirtySurfacesC = 0x10;           // {0x8E, 0x8F}
inline constexpr uint32_t kCsDirtyColours = 0x20;             // {0xC6, 0xC5}
inline constexpr uint32_t kCsDirtyPlacement = 0x40;           // {0xC2, 0xC1, 0xE3 or 0xC3}
inline constexpr uint32_t kCsDirtySync = 0x80;                // {0xC0, 0xAF, 0xAF, 0xAC}
inline constexpr uint32_t kCsDirtyCoordA = 0x01u << 8;        // {0x00, 0x10, 0x2C}
inline constexpr uint32_t kCsDirtyCoordB = 0x02u << 8;        // 0x01-0x07, 0x11-0x13, 0x18, 0x19
inline constexpr uint32_t kCsDirtyCoordC = 0x04u << 8;        // {0x2D, 0x2E}
inline constexpr uint32_t kCsDirtyEngineA = 0x20u << 8;       // vertex-engine registers 0x3C-0x44
inline constexpr uint32_t kCsDirtyEngineB = 0x40u << 8;
inline constexpr uint32_t kCsDirtyProgramFence = 0x01u << 16; // byte 26: a program went up
inline constexpr uint32_t kCsDirtyUpload1 = 0x02u << 16;
inline constexpr uint32_t kCsDirtyUpload2 = 0x04u << 16;
inline constexpr uint32_t kCsDirtyUpload3 = 0x08u << 16;
inline constexpr uint32_t kCsDirtyUpload4 = 0x10u << 16;
inline constexpr uint32_t kCsDirtyUpload3Fold = 0x20u << 16;
inline constexpr uint32_t kCsDirtyFog = 0x01u << 24;          // {0xB5, 0xB6, 0xB7}
inline constexpr uint32_t kCsDirtyFogTable = 0x02u << 24;     // 0xB8 x 64
inline constexpr uint32_t kCsDirtyDepth = 0x04u << 24;        // {0xB2, 0xB3, 0xB4}
inline constexpr uint32_t kCsDirtyStencil = 0x08u << 24;      // {0xB0, 0xB1}
inline constexpr uint32_t kCsDirtyStageEnable = 0x10u << 24;  // {0xBD}
inline constexpr uint32_t kCsDirtyRasterA = 0x20u << 24;      // {0xCA, 0xCB, 0xBF, 0xBE}
inline constexpr uint32_t kCsDirtyRasterB = 0x40u << 24;      // {0xBA, 0xB9, 0xBC, 0xBB}
// Every group of the blocks the state writes itself.
inline constexpr uint32_t kCsDirtyBlockGroups = 0xFF | kCsDirtyCoordA | kCsDirtyCoordB | kCsDirtyCoordC |
                                                kCsDirtyFog | kCsDirtyFogTable | kCsDirtyDepth |
                                                kCsDirtyStencil | kCsDirtyStageEnable | kCsDirtyRasterA |
                                                kCsDirtyRasterB;

// Words of the operation block: the kind (1, 2, 3, or 0 for the full
// state), the operation code (register 0xC0 of the operation) and the
// register images of the operation's groups.
inline constexpr uint32_t kOpKind = 0;
inline constexpr uint32_t kOpPending = 1;   // the operation-pending byte
inline constexpr uint32_t kOpCode = 2;      // 0xC0
inline constexpr uint32_t kOpPlaneMask = 3; // 0xC9
inline constexpr uint32_t kOpScale = 4;
inline constexpr uint32_t kOpBackground = 5;  // 0xC6
inline constexpr uint32_t kOpForeground = 6;  // 0xC5
inline constexpr uint32_t kOpOrigin = 7;      // 0xC2
inline constexpr uint32_t kOpStart = 8;       // 0xC1
inline constexpr uint32_t kOpSizeGo = 9;      // 0xE3
inline constexpr uint32_t kOpSurface88 = 10;  // 0x88, 0x8A, 0x8C, 0x8E: words 10-13
inline constexpr uint32_t kOpSurface89 = 14;  // 0x89, 0x8B, 0x8D, 0x8F: words 14-17 (per unit)
inline constexpr uint32_t kOpSize = 18;       // 0xC3
inline constexpr uint32_t kOpTagWord = 19;    // 0xAC
inline constexpr uint32_t kOpWords = 20;

// One of the four vertex-program upload slots of the state: the program,
// its microcode words and their count; the third takes the dirty constants
// of the constant shadow instead of microcode.
struct VertexUploadSlot {
  VertexProgram* program;
  const uint32_t* words;
  uint32_t count;
};

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
  // Loads every block's defaults and registers with the owner (which may
  // be null: a state no owner makes current).
  explicit ContextState3d(EngineOwner3d* owner);
  ~ContextState3d();
  ContextState3d(const ContextState3d&) = delete;
  ContextState3d& operator=(const ContextState3d&) = delete;

  // Writes every dirty group into the stream as register-group packets and
  // clears the bits of the groups written.
  void Emit(BmBufferPool* stream);

  void LoadRasterDefaults();
  void LoadDepthStencilDefaults();
  void LoadFogDefaults();
  void LoadCoordinateDefaults();
  void LoadOperationDefaults();
  void LoadVertexEngineDefaults();

  // The vertex engine's program uploads and its writer groups, as the
  // state's emission sends them.
  void EmitVertexUploads(BmBufferPool* stream);
  void EmitVertexWriters(BmBufferPool* stream);
  // One program upload of slot 0-3.
  void EmitUpload(BmBufferPool* stream, uint32_t slot);

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

  // Register images: raster words 2, 3, 8, 9 go to 0xCA, 0xCB, 0xBF,
  // 0xBE and words 4, 7, 6, 5 to 0xBA, 0xB9, 0xBC, 0xBB; depth-stencil
  // words 4-6 to 0xB2-0xB4 and 2, 3 to 0xB0, 0xB1; fog words 0-2 to
  // 0xB5-0xB7 and 3-66 the table through 0xB8; coordinate words 0-16 to
  // 0x00-0x07, 0x10-0x13, 0x18, 0x19, 0x2C, 0x2D, 0x2E.
  uint32_t rasterBlock[10];
  uint32_t depthStencilBlock[8];
  uint32_t fogBlock[70];
  VertexEngineBlock vertexEngine;
  TextureUnitBlock textureUnits;
  uint32_t coordinateBlock[34];
  uint32_t operationBlock[kOpWords];
  // The byte the flush requests read (bits 0-1: the stage-enable limit is
  // lowered), the flush-request byte and the word the third-channel flush
  // reads.
  uint8_t lodControl;
  uint8_t flushRequest;
  uint32_t stageWord;
  VertexUploadSlot uploads[4];
  VecConstShadow* constShadow;   // the render context's, for the third upload
};

static_assert(offsetof(ContextState3d, dirty) == 24);
