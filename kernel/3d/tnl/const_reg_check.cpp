// The constant-register check: the engine runs a test program that loads
// two bit patterns into the even and odd constants of its four units, and
// the constants are read back and compared, for 100 rounds of four pattern
// pairs.
#include <string.h>

#include "core/bm_buffer.h"
#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/dma.h"
#include "core/regs/engine3d.h"
#include "core/regs/vertex_engine.h"
#include "core/same_bytes.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/tnl/fixed_programs.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"

namespace {

constexpr uint32_t kCheckRounds = 100;
constexpr uint32_t kCheckUnits = 4;
constexpr uint32_t kCheckEntry = 8;
// The self-test's load command has the shape of a three-constant packet.
constexpr uint32_t kLoadHeader = VertexConstantsHeader(3);
constexpr uint32_t kLoadTail[8] = {0, 64, 128, 192, 256, 320, 0, 0};
constexpr uint32_t kLoadWords = 1 + 4 + 4 + 8;
constexpr uint32_t kDoneMask = 0x03020000;
constexpr uint32_t kDoneValue = 0x00020000;

// The set-up of the test program's packets, in one reservation.
constexpr uint32_t kSetUpWords = 3 + 6 + 5 + 6 + 3;

struct PatternPair {
  uint8_t a, b;
};
constexpr PatternPair kPasses[4] = {{0xAA, 0x55}, {0x55, 0xAA}, {0xFF, 0x00}, {0x00, 0xFF}};

uint32_t Fill(uint8_t byte) { return 0x01010101u * byte; }

BmBufferPool* StreamOf(PDEV* pdev) {
  if (pdev->secondaryStream != nullptr) return pdev->secondaryStream;
  return pdev->common->secondaryStream;
}

bool Submit(BmBufferPool* stream) {
  return static_cast<BmSecondaryInt*>(stream)->ExecutePending();
}

bool WriteSetUp(BmBufferPool* stream, uint32_t address) {
  uint32_t* at = stream->Reserve(kSetUpWords);
  if (at == nullptr) return false;
  // Element 0, four element words 0; stream 0 at 0 with the stride 4 and
  // the primitive control word; the program fence open and the program's
  // start twice; then the self-test's load.
  DirectSink sink{at};
  const PacketIndex element = k3dIdxElementData;
  PutPacket(sink, PacketHeader(k3dIdxElementIndex), 0);
  PutPacket(sink, PacketHeader(element, element, element, element), 0, 0, 0, 0);
  PutPacket(sink, PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0, k3dIdxPrimitiveControl), 0, 4, 0x2305C);
  PutPacket(sink, PacketHeader(k3dIdxProgramControl, k3dIdxProgramControl, k3dIdxProgramStart, k3dIdxProgramStartAlt),
            k3dProgramOpen, k3dProgramOpen, address, address);
  PutPacket(sink, PacketHeader(k3dIdxProgramControl), k3dProgramSelfTest);
  return Submit(stream);
}

bool WriteLoad(BmBufferPool* stream, uint32_t a, uint32_t b) {
  PacketWords p{stream->Reserve(kLoadWords)};
  if (!p) return false;
  // The header, four words of a, four of b, then the tail.
  p.Word(kLoadHeader).Pair(a, a).Pair(a, a).Pair(b, b).Pair(b, b).Copy<8>(kLoadTail);
  return Submit(stream);
}

}  // namespace

uint32_t VertexProgramBuilder::CompareConstantRegisters(PDEV* pdev, const uint32_t a[4], const uint32_t b[4],
                                                        uint8_t* results) {
  uint32_t all = 1;
  for (uint32_t unit = 0; unit < kCheckUnits; ++unit) {
    for (uint32_t c = 0; c < kVecConstCount; ++c) {
      uint32_t got[4] = {};
      (void)ReadVertexEngineMemory(got, pdev, kVertexMemConstants, unit, c);
      const uint32_t* want = (c & 1) ? b : a;
      if (!SameBytes(got, want, sizeof got)) {
        results[c] = 0;
        all = 0;
      }
    }
  }
  return all;
}

uint32_t VertexProgramBuilder::CheckConstantRegisters(PDEV* pdev) {
  // One result per constant, each 1 until a pass finds it wrong.
  uint8_t* results = static_cast<uint8_t*>(memAlloc(kVecConstCount));
  if (results == nullptr) return 0;
  memset(results, 1, kVecConstCount);
  uint32_t overall = 0;
  BmBufferPool* stream = StreamOf(pdev);
  // The test program in the engine's own memory.
  KernelWriteRegister(common, kRegVertexProgramMode, 0);
  VertexProgram* program = new VertexProgram;
  if (program != nullptr && stream != nullptr) {
    const FixedProgramCode code = ConstantCheckProgramCode();
    program->SetCode(code.code, code.size, false);
    const uint32_t address = WriteProgramDirect(program, true, kCheckEntry);
    // The program started, then the rounds of pattern pairs loaded and
    // read back.
    if (!placementFailed_ && WriteSetUp(stream, address)) {
      overall = 1;
      bool waited = true;
      for (uint32_t round = 0; round < kCheckRounds && waited; ++round) {
        for (const PatternPair& pass : kPasses) {
          const uint32_t a[4] = {Fill(pass.a), Fill(pass.a), Fill(pass.a), Fill(pass.a)};
          const uint32_t b[4] = {Fill(pass.b), Fill(pass.b), Fill(pass.b), Fill(pass.b)};
          if (!WriteLoad(stream, a[0], b[0]) ||
              !KernelWait("vertex constant check", [&] {
                return (KernelReadRegister(common, kRegEngineIdle) & kDoneMask) == kDoneValue;
              })) {
            overall = 0;
            waited = false;
            break;
          }
          overall &= CompareConstantRegisters(pdev, a, b, results);
        }
      }
    }
  }
  delete program;
  memFree(results);
  return overall;
}
