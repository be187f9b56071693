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
#include "kernel/3d/tnl/fixed_programs.h"
#include "kernel/3d/tnl/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"

namespace {

constexpr uint32_t kCheckRounds = 100;
constexpr uint32_t kCheckUnits = 4;
constexpr uint32_t kCheckEntry = 8;
constexpr uint32_t kLoadHeader = 0x4106000F;
constexpr uint32_t kLoadTail[8] = {0, 64, 128, 192, 256, 320, 0, 0};
constexpr uint32_t kLoadWords = 1 + 4 + 4 + 8;
constexpr uint32_t kDoneMask = 0x03020000;
constexpr uint32_t kDoneValue = 0x00020000;

// The set-up of the test program as register packets: {count, four index
// bytes (0x21 pads), data}.
constexpr uint32_t kProgramControlOpen = 0x20000028;
constexpr uint32_t kProgramControlRun = 0xA0000028;

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
  const uint32_t words[] = {
      1, 0x2121212D, 0,                                                   // 0x2D = 0
      4, 0x2E2E2E2E, 0, 0, 0, 0,                                          // four words to 0x2E
      3, 0x212C1000, 0, 4, 0x2305C,                                       // 0x00, 0x10, 0x2C
      4, 0x41403C3C, kProgramControlOpen, kProgramControlOpen, address, address,  // 0x3C twice, 0x40, 0x41
      1, 0x2121213C, kProgramControlRun,                                  // 0x3C
  };
  uint32_t* at = stream->Reserve(sizeof words / 4);
  if (at == nullptr) return false;
  memcpy(at, words, sizeof words);
  return Submit(stream);
}

bool WriteLoad(BmBufferPool* stream, uint32_t a, uint32_t b) {
  uint32_t* at = stream->Reserve(kLoadWords);
  if (at == nullptr) return false;
  at[0] = kLoadHeader;
  for (uint32_t w = 0; w < 4; ++w) {
    at[1 + w] = a;
    at[5 + w] = b;
  }
  memcpy(at + 9, kLoadTail, sizeof kLoadTail);
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
      if (memcmp(got, want, sizeof got) != 0) {
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
