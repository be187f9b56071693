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

// The handlers of the tokens the interpreter hands on, by opcode, each
// named after its token (tokens::SetTransforms runs token 32). Each gets
// the kernel's copy of the token's entries and of its trailing bytes
// (payload + count x entry size), the count of entries to apply and the
// trailing byte count.
#define ORV_TOKEN_HANDLERS(X)         \
  X(5, SetDriverStates)         \
  X(6, SetSamplerStates)        \
  X(7, SetViewport)             \
  X(8, SetStreamSources)        \
  X(10, UpdateSurfaceBoxes)     \
  X(12, SetRenderStates)        \
  X(13, SyncTargets)            \
  X(14, SetTextureStages)       \
  X(18, SetRectA)               \
  X(21, ClearBatch)             \
  X(24, DrawIndexed)            \
  X(25, DrawStrip)              \
  X(26, ExecuteRanges)          \
  X(27, DrawIndexedPrimitives)  \
  X(28, DrawUserPrimitives)     \
  X(32, SetTransforms)          \
  X(33, SetLights)              \
  X(34, SetVertexConstants)     \
  X(35, SetFloat4StatesB)       \
  X(36, SetModeStates)          \
  X(37, SetClipPlanes)          \
  X(38, SetRectB)               \
  X(39, SetDepthRange)          \
  X(53, SetFloat4StateA)        \
  X(54, SetFloatPair)           \
  X(55, SetSurfaceValues)       \
  X(64, LoadVertexDeclaration)  \
  X(65, DeleteVertexShader)     \
  X(66, SetVertexShader)        \
  X(68, DrawBatch)              \
  X(69, LoadPipelineRecord)     \
  X(70, CreatePixelProgram)     \
  X(71, DeletePixelProgram)     \
  X(72, SetPixelConstants)      \
  X(73, SetPixelProgramParams)  \
  X(80, WriteBufferData)
namespace tokens {
#define ORV_DECLARE_TOKEN_HANDLER(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_TOKEN_HANDLERS(ORV_DECLARE_TOKEN_HANDLER)
#undef ORV_DECLARE_TOKEN_HANDLER
}  // namespace tokens

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
