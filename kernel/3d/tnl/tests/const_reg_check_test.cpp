// The constant-register check against the board: the test program written
// directly, the set-up packets, 400 pattern loads the board carries out,
// every constant read back; a held bit fails it; creation runs it only with
// both switches on.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "core/regs/engine3d.h"
#include "kernel/3d/tnl/fixed_programs.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_vertex.h"

namespace {

class CheckTest : public ktest::StartedBoard {
 protected:
  VertexProgramBuilder* B() { return Common()->vertexProgramBuilder; }
  size_t Commands(uint32_t word) const {
    size_t n = 0;
    for (const auto& e : dma.Trace()) n += e.kind == orvsim::DmaEngine::TraceKind::kCommand && e.a == word;
    return n;
  }
  orvsim::VertexEngine& vertex = *parts.vertex;
};

TEST_F(CheckTest, AHealthyBoardPassesEveryRound) {
  dma.ClearWrites();
  dma.ClearTrace();
  EXPECT_EQ(B()->CheckConstantRegisters(pdev), 1u);
  EXPECT_EQ(vertex.SelfTestLoads(), 400u);
  EXPECT_EQ(Commands(0x4106000F), 400u);
  // The set-up, as the packets wrote it (the program sits at address 0);
  // the primary stream's execute packets (0x10A0, 0x10A4) left out.
  std::vector<std::pair<uint32_t, uint32_t>> setUp;
  for (const auto& w : dma.Writes())
    if (w.reg >= 0x1000 && w.reg < 0x1200 && w.reg != 0x10A0 && w.reg != 0x10A4 && setUp.size() < 13)
      setUp.push_back({w.reg, w.value});
  const std::vector<std::pair<uint32_t, uint32_t>> want = {
      {0x10B4, 0},          {0x10B8, 0},          {0x10B8, 0},          {0x10B8, 0},    {0x10B8, 0},
      {0x1000, 0},          {0x1040, 4},          {0x10B0, 0x2305C},    {0x10F0, 0x20000028},
      {0x10F0, 0x20000028}, {0x1100, 0},          {0x1104, 0},          {0x10F0, 0xA0000028}};
  EXPECT_EQ(setUp, want);
  // The test program went into the engine's memory from 0, and stays there.
  EXPECT_EQ(B()->directTotal, kConstantCheckProgramBytes);
  const FixedProgramCode code = ConstantCheckProgramCode();
  EXPECT_EQ(memcmp(vertex.ProgramMemory().data(), code.code, code.size), 0);
  EXPECT_EQ(board.Peek(kRegVertexProgramMode, 4), 0u) << "the check runs with 0x920 = 0";
  // The last pass loaded 0x00 into even and 0xFF into odd constants.
  EXPECT_EQ(vertex.Entry(orvsim::kVertexConstantKind, 3, 382)[0], 0u);
  EXPECT_EQ(vertex.Entry(orvsim::kVertexConstantKind, 3, 383)[0], 0xFFFFFFFFu);
}

TEST_F(CheckTest, AHeldBitFailsTheCheckAndClearsThatConstantsByte) {
  vertex.HoldConstantBit(1, 9, 2, 5, true);
  EXPECT_EQ(B()->CheckConstantRegisters(pdev), 0u);
  // The comparison itself, after a load of A = 0x00, B = 0xFF: constant 9
  // (odd) holds its bit at 1, as B wants; after A = 0xFF, B = 0x00 it fails.
  std::vector<uint8_t> results(384, 1);
  const uint32_t ones[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  const uint32_t zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(B()->CompareConstantRegisters(pdev, zeros, ones, results.data()), 1u);
  EXPECT_EQ(std::vector<uint8_t>(results), std::vector<uint8_t>(384, 1));
  for (unsigned unit = 0; unit < 4; ++unit)
    for (unsigned c = 0; c < 384; ++c) {
      const uint32_t* want = c & 1 ? zeros : ones;
      memcpy(vertex.Entry(orvsim::kVertexConstantKind, unit, c), want, 16);
    }
  vertex.HoldConstantBit(1, 9, 2, 5, true);
  EXPECT_EQ(B()->CompareConstantRegisters(pdev, ones, zeros, results.data()), 0u);
  for (unsigned c = 0; c < 384; ++c) EXPECT_EQ(results[c], c == 9 ? 0 : 1) << c;
}

TEST_F(CheckTest, AnEngineThatNeverFinishesEndsTheCheck) {
  expectErrors = true;
  vertex.SetPortStatusBusyReads(UINT64_MAX);
  EXPECT_EQ(B()->CheckConstantRegisters(pdev), 0u);
  EXPECT_EQ(vertex.SelfTestLoads(), 0u);
  vertex.SetPortStatusBusyReads(0);
}

// Creation runs the check only when both switches are on, before 0x920
// takes the slot mode.
class CheckAtCreate : public ktest::StartedBoard {
 protected:
  void SetUp() override {}
  void Start(uint32_t check, uint32_t loxar) {
    glue.SetParameter("reg3DPerformCRegCheck", check);
    glue.SetParameter("reg3DLoxarEnable", loxar);
    StartedBoard::SetUp();
  }
  orvsim::VertexEngine& vertex = *parts.vertex;
};

TEST_F(CheckAtCreate, BothSwitchesOn) {
  Start(1, 1);
  EXPECT_EQ(vertex.SelfTestLoads(), 400u);
  VertexProgramBuilder* b = Common()->vertexProgramBuilder;
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->directTotal, kConstantCheckProgramBytes);
  EXPECT_EQ(board.Peek(kRegVertexProgramMode, 4), kProgramModeSlots);
}

TEST_F(CheckAtCreate, OnlyTheCheckSwitch) {
  Start(1, 0);
  EXPECT_EQ(vertex.SelfTestLoads(), 0u);
}

TEST_F(CheckAtCreate, OnlyTheEngineSwitch) {
  Start(0, 1);
  EXPECT_EQ(vertex.SelfTestLoads(), 0u);
}

}  // namespace
