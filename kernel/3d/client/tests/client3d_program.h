// The programs of the 3D client requests' fuzz target as a client process
// runs them: the opcodes and operands of tests/data/kernel_client3d_fuzz
// (README.md there) turned into request blocks, token streams, pointers
// and surface requests sent through the device node. What a program asks
// beyond the node (the device stopped and started, the kernel's state
// checked, draw and clear steps on the render context) goes to a host: the
// fuzz target reaches into the kernel there; a client process, as the
// end-to-end tests' hostile client is, cannot, and only reads past what
// those steps would have read.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kernel/tests/fuzz_reader.h"
#include "platform/client3d/client3d.h"
#include "platform/kglue/glue.h"

namespace client3dfuzz {

// The client's buffers the draw tokens name: the command buffer (plain
// pages, which the engine never fetches) and a page-locked one whose words
// are pairs {count 0, an all-padding header}, so that a range of it that
// starts and ends on a pair decodes cleanly.
struct ClientBuffers {
  const client3d::Buffer* commands;
  const client3d::Buffer* locked;
};

// A draw set-up the token program asks for: the drawable's rectangles
// (request 29) and an element list stored on the render context.
struct DrawSetUp {
  uint32_t rectCount = 0;
  int32_t rects[4][4] = {};
  uint32_t elementCount = 0;
  uint8_t elements[16] = {};
};

inline constexpr uint32_t kCommandBytes = 8192;
inline constexpr uint32_t kCommandBufferKind = 4;  // plain pages
inline constexpr uint32_t kLockedBytes = 4096;
inline constexpr uint32_t kLockedBufferKind = 2;  // page-locked
inline constexpr uint32_t kPaddingHeader = 0x21212121;
// A light record of token 33 as the client sends it.
inline constexpr uint32_t kLightRecordBytes = 104;

// A surface description of request 12 and a lock record of request 14, as
// the client writes them.
struct Description {
  uint32_t flags, kind, format, width, height, depth, levels;
};
static_assert(sizeof(Description) == 28);
struct LockRecord {
  uint32_t level, face, pitch, slicePitch;
  uint64_t address;
  uint8_t unused[8];
};
static_assert(sizeof(LockRecord) == 32);

// A stream of render-state tokens from the input: render states with ids
// 0 to 600, driver states 0 to 40, sampler states and texture stages of
// stages 0 to 15 and states 0 to 15, mode states of modes 0 to 7,
// pipeline records with any count, transforms, clip planes 0 to 7, the
// float states and locks; pixel-program tokens; draw tokens of any field;
// a draw set-up into `setUp`.
client3d::TokenWriter StateTokens(orvfuzz::Reader& in, const ClientBuffers& buffers, DrawSetUp* setUp);

// What a program does beyond the node.
class Host {
 public:
  virtual ~Host() = default;
  // Whether the device runs, and whether the client's context is lost:
  // draws and clears are sent only while it runs and is not lost.
  virtual bool Running() const = 0;
  virtual bool Lost() const = 0;
  // The device stopped (bit 0), started (bit 1) and its primary surface
  // declared again (bit 2).
  virtual void StopAndStart(uint8_t how) = 0;
  // After a request the program sent; after a surface request.
  virtual void AfterRequest() = 0;
  virtual void AfterSurfaceRequest() = 0;
  // The element list of a draw set-up on the 3D context's render context.
  virtual void StoreElements(uint32_t context3d, const DrawSetUp& setUp) = 0;
  // A draw step on the 3D context after its tokens ran.
  virtual void DrawStep(uint32_t context3d) = 0;
  // A draw step and a clear of the 3D context's targets, its operands read
  // from `in`.
  virtual void ClearStep(uint32_t context3d, orvfuzz::Reader& in) = 0;
};

// Reads what a clear step reads, for a host that takes no such step.
void SkipClearOperands(orvfuzz::Reader& in);

// The user memory a program names: memory the client owns, memory that
// faults, and the records of the surface requests.
struct ProgramMemory {
  alignas(8) uint8_t user[256];
  alignas(8) uint8_t faulty[64];
  // A description at 0, a lock record at 32, the boxes of a present at 64
  // and 88.
  alignas(8) uint8_t records[128];
};

// Runs a program on a client whose context exists (request 31 answered):
// its command buffer and page-locked buffer are made, its memory declared
// for `process`, then the operations run, at most 256. Answers the 3D
// context the draw steps used (0: none).
uint32_t RunProgram(const uint8_t* data, size_t size, kglue::Glue& glue, client3d::Client& client, uint32_t process,
                    ProgramMemory* memory, Host& host);

}  // namespace client3dfuzz
