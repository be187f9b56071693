// The command-token interpreter: runs a stream of command tokens that a 3D
// client wrote into the command buffer of one of its 3D contexts (request
// 1), then seals the batch with a sync tag, a progress mark and a DMA
// start.
//
// The command buffer is client memory that the client may rewrite while
// the stream runs: the interpreter reads every token header and payload
// once into kernel memory (the context's scratch copy), checks it lies
// inside the stream, and hands only that copy on. No token writes client
// memory.
//
// Token: u32 opcode, u32 count, then count entries of the opcode's fixed
// size, and for some opcodes trailing bytes:
//   24: each entry is followed by its n u32 words (n at entry byte 4);
//   28, 33, 80: each entry's last u32 counts its bytes; the data follow
//       the entries, the sum rounded up to 4;
//   64: the first entry's u32 at bytes 4 and 8, summed;
//   67: 16 x the first entry's second u32.
#pragma once

#include <stddef.h>
#include <stdint.h>

class PDEV;
struct Context3d;
struct ClientRequest;
struct CommonData;
struct RenderContext3d;

inline constexpr uint32_t kTokenHeaderBytes = 8;
inline constexpr uint32_t kTokenOpcodes = 82;

// Opcodes the interpreter itself acts on.
inline constexpr uint32_t kTokenSkip = 0;
inline constexpr uint32_t kTokenUpdateSurfaceBoxes = 10;
inline constexpr uint32_t kTokenSetTextureStages = 14;
inline constexpr uint32_t kTokenClearBatch = 21;
inline constexpr uint32_t kTokenDrawIndexed = 24;
inline constexpr uint32_t kTokenDrawUserPrimitives = 28;
inline constexpr uint32_t kTokenSetTransforms = 32;
inline constexpr uint32_t kTokenSetLights = 33;
inline constexpr uint32_t kTokenLoadVertexDeclaration = 64;
inline constexpr uint32_t kTokenSetVertexConstRange = 67;
inline constexpr uint32_t kTokenWriteBufferData = 80;
inline constexpr uint32_t kTokenSelectRenderContext = 81;

// Texture stages a token 14 entry may name: 0 to 9.
inline constexpr uint32_t kTextureStages = 10;

// Packets of the batch seal.
inline constexpr uint32_t kTargetColour = 0x100;
inline constexpr uint32_t kTargetDepth = 0x200;
inline constexpr uint32_t kTargetTagWords = 6;
inline constexpr uint32_t kSecondarySubmitMode = 2;

// The target tag packet {count, header, mask | 7, tag | 1, tag, V} of the
// targets in mask (kTargetColour, kTargetDepth), written into the device's
// secondary stream and run; false when the stream has no room.
bool EmitTargetTagPacket(CommonData* common, uint32_t mask, uint32_t tag);

// Fixed entry sizes by opcode; 0 for an opcode nothing handles.
inline constexpr uint32_t kTokenEntrySizes[kTokenOpcodes] = {
    8,  0,  0,  0,  0,  8,  8,  24, 32, 0,     // 0-9
    72, 0,  8,  32, 8,  0,  0,  0,  16, 0,     // 10-19
    0,  36, 0,  0,  32, 32, 24, 40, 40, 0,     // 20-29
    0,  0,  68, 8,  72, 16, 8,  20, 16, 8,     // 30-39
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,     // 40-49
    0,  0,  0,  16, 8,  16, 0,  0,  0,  0,     // 50-59
    0,  0,  0,  0,  12, 4,  4,  8,  48, 1648,  // 60-69
    1656, 8, 24, 20, 0, 0,  0,  0,  0,  0,     // 70-79
    16, 8,                                     // 80-81
};

// The fixed entry size of an opcode; 0 for an opcode nothing handles.
constexpr uint32_t TokenEntrySize(uint32_t opcode) {
  return opcode < kTokenOpcodes ? kTokenEntrySizes[opcode] : 0;
}

// What a token's handler works on.
struct TokenContext3d {
  Context3d* context;
  PDEV* device;
  CommonData* common;
  ClientRequest* request;
  RenderContext3d* current;
  int currentIndex;  // 0 or 1
};

// The handlers of the tokens the interpreter hands on, by opcode. Each gets
// the kernel's copy of the token's entries and of its trailing bytes
// (payload + count x entry size), the count of entries to apply and the
// trailing byte count.
#define ORV_TOKEN_HANDLERS(X)                 \
  X(5, RenderState3dSetDriverStates)          \
  X(6, RenderState3dSetSamplerStates)         \
  X(7, RenderState3dSetViewport)              \
  X(8, EmitSetStreamSources)                  \
  X(10, EmitUpdateSurfaceBoxes)               \
  X(12, RenderState3dSetRenderStates)         \
  X(13, EmitSyncTargets)                      \
  X(14, RenderState3dSetTextureStages)        \
  X(18, RenderState3dSetRectA)                \
  X(21, EmitClearBatch)                       \
  X(24, EmitDrawIndexed)                      \
  X(25, EmitDrawStrip)                        \
  X(26, EmitExecuteRanges)                    \
  X(27, EmitDrawIndexedPrimitives)            \
  X(28, EmitDrawUserPrimitives)               \
  X(32, RenderState3dSetTransforms)           \
  X(33, EmitSetLights)                        \
  X(34, EmitSetVertexConstants)               \
  X(35, RenderState3dSetFloat4StatesB)        \
  X(36, RenderState3dSetModeStates)           \
  X(37, RenderState3dSetClipPlanes)           \
  X(38, RenderState3dSetRectB)                \
  X(39, RenderState3dSetDepthRange)           \
  X(53, RenderState3dSetFloat4StateA)         \
  X(54, RenderState3dSetFloatPair)            \
  X(55, EmitSetSurfaceValues)                 \
  X(64, TnlSetupLoadVertexDeclaration)        \
  X(65, TnlSetupDeleteVertexShader)           \
  X(66, RenderState3dSetVertexShader)         \
  X(68, EmitDrawBatch)                        \
  X(69, RenderState3dLoadPipelineRecord)      \
  X(70, PixelProgramCacheCreateProgram)       \
  X(71, PixelProgramCacheDeleteProgram)       \
  X(72, RenderState3dSetPixelConstants)       \
  X(73, PixelProgramCacheSetProgramParams)    \
  X(80, EmitWriteBufferData)
#define ORV_DECLARE_TOKEN_HANDLER(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_TOKEN_HANDLERS(ORV_DECLARE_TOKEN_HANDLER)
#undef ORV_DECLARE_TOKEN_HANDLER

// Runs the stream of the request (offset at byte 16, length at 560) on the
// context and writes the result word: 0 when the stream ran to its end and
// the batch was sealed, -1 otherwise.
void CommandTokenInterpreter(Context3d* context, PDEV* device, ClientRequest* request);

// The end-of-batch sequence (end of stream, opcodes 10 and 21): a new sync
// tag, the targets' last-write tags, the target tag packet through the
// secondary stream, the render context's stream handed to the primary
// stream, and the tag given to the vertex programs the batch used. The tag
// taken.
uint32_t SealBatch(TokenContext3d& token);
// The stream close after the last seal: progress counter and packet, DMA
// start. False when the primary stream had no room.
bool CloseStream(TokenContext3d& token);
