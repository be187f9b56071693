// Memory-controller programming against the simulated board's banked
// controller registers.
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

using orvsim::McWrite;

using hwtest::PutPinsDword;

// Where each dword of a first-generation block lands.
constexpr uint32_t kBlockRegs[13] = {0xF08, 0xF04, 0xF0C, 0xF20, 0xF14, 0xF18, 0xF1C,
                                     0xF10, 0xF48, 0xF4C, 0xF54, 0xF58, 0xF50};
constexpr uint32_t kBlockAt[4] = {164, 216, 268, 320};  // controllers 1, 2, 4, 8

// A recognisable block word: controller index in the top nibble.
uint32_t BlockWord(unsigned controller, unsigned k) {
  return (controller << 28) | (0x0ABC0000u + (k << 8) + 0x11 * k);
}

class MemCtl : public hwtest::ClockBoardTest {
 protected:
  explicit MemCtl(uint16_t device = 0x0A41) : ClockBoardTest(device) {}
  std::vector<uint32_t> WritesOf(unsigned controller, uint32_t reg) {
    std::vector<uint32_t> out;
    for (const McWrite& w : clocks->McWrites())
      if (w.controller == controller && w.reg == reg) out.push_back(w.value);
    return out;
  }
};

struct ControllerCase {
  const char* name;
  uint16_t device;
  uint32_t options;
  bool programmed[4];  // controllers 1, 2, 4, 8
};

void PrintTo(const ControllerCase& c, std::ostream* out) { *out << c.name; }

class MemCtlPerDevice : public testing::TestWithParam<ControllerCase> {};

TEST_P(MemCtlPerDevice, ProgramsTheControllersOfTheDeviceAndOptions) {
  const ControllerCase& c = GetParam();
  hwtest::HwBoard hw(hwtest::Config(c.device));
  ASSERT_EQ(hw.Open(), 0u);
  BOARDHANDLE* h = hw.h();
  std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
  for (unsigned ctl = 0; ctl < 4; ++ctl)
    for (unsigned k = 0; k < 13; ++k) PutPinsDword(h, kBlockAt[ctl] + 4 * k, BlockWord(ctl, k));
  PutPinsDword(h, 140, c.options);
  orvsim::ChipClocks& clocks = *hw.AddParts(orvmachine::kClocks).clocks;
  hw.board().SetLogging(false, true);
  hw.board().Poke(0xF00, 4, 0x00000100);  // controller 2 selected beforehand
  hw.board().Poke(0x1C00, 4, 0x11);
  hw.board().Poke(0x1800, 4, 0x21);

  EXPECT_EQ(HWKSTInitializeMemoryController(h), 0u);

  for (unsigned ctl = 0; ctl < 4; ++ctl) {
    const uint32_t h16 = BlockWord(ctl, 0) & 0x0FFF0000u;
    std::vector<uint32_t> status;
    for (const McWrite& w : clocks.McWrites())
      if (w.controller == ctl && w.reg == 0xF08) status.push_back(w.value);
    if (!c.programmed[ctl]) {
      EXPECT_EQ(clocks.McReg(ctl, 0xF04), 0u) << c.name << " controller " << ctl;
      continue;
    }
    for (unsigned k = 1; k < 13; ++k)
      EXPECT_EQ(clocks.McReg(ctl, kBlockRegs[k]), BlockWord(ctl, k))
          << c.name << " controller " << ctl << " dword " << k;
    ASSERT_GE(status.size(), 4u) << c.name;
    const std::vector<uint32_t> head(status.begin(), status.begin() + 4);
    EXPECT_EQ(head, (std::vector<uint32_t>{0x1004, h16 + 0x9004, h16 + 0x9005,
                                           BlockWord(ctl, 0)}))
        << c.name << " controller " << ctl;
    EXPECT_EQ(clocks.McReg(ctl, 0xF5C), 0x100u);
  }
  // Every controller's phase error is reset and cleared afterwards.
  for (unsigned ctl = 0; ctl < 4; ++ctl) {
    std::vector<uint32_t> phase;
    for (const McWrite& w : clocks.McWrites())
      if (w.controller == ctl && w.reg == 0xF24) phase.push_back(w.value);
    ASSERT_EQ(phase.size(), 2u) << c.name;
    EXPECT_EQ(phase[0] & 0x10000u, 0x10000u);
    EXPECT_EQ(phase[1] & 0x10000u, 0u);
    EXPECT_EQ(clocks.McReg(ctl, 0xF08) & 4u, 0u);
  }
  // Held registers and the select register come back as they were.
  EXPECT_EQ(hw.Reg(0xF00), 0x00000100u);
  EXPECT_EQ(hw.Reg(0x1C00), 0x11u);
  EXPECT_EQ(hw.Reg(0x1800), 0x21u);
  std::vector<uint32_t> held;
  for (const orvsim::RegAccessRecord& r : hw.board().LoggedWrites())
    if (r.offset == 0x1C00 || r.offset == 0x1800) held.push_back(r.value);
  EXPECT_EQ(held, (std::vector<uint32_t>{0x31, 0x20, 0x11, 0x21})) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, MemCtlPerDevice,
    testing::Values(ControllerCase{"0A41 all", 0x0A41, 0, {true, true, true, true}},
                    ControllerCase{"0A42 no 4 and 8", 0x0A42, 8, {true, true, false, false}},
                    ControllerCase{"5D61", 0x5D61, 0, {false, true, false, true}},
                    ControllerCase{"5D62 no 4 and 8", 0x5D62, 8, {false, true, false, false}},
                    ControllerCase{"erased options", 0x0A41, 0xFFFFFFF7, {true, true, true, true}}),
    [](const testing::TestParamInfo<ControllerCase>& i) {
      std::string n = i.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(MemCtl, AccessorsReachOnlyTheChosenControllerAndRestoreTheSelect) {
  hw.board().Poke(0xF00, 4, 0x12000001);  // controller 1 and foreign bits
  EXPECT_EQ(WriteMemoryControllerDword(h, 0xF10, 4, 0xCAFE), 0u);
  EXPECT_EQ(clocks->McReg(2, 0xF10), 0xCAFEu);
  EXPECT_EQ(clocks->McReg(0, 0xF10), 0u);
  EXPECT_EQ(hw.Reg(0xF00), 0x12000001u);
  // Selecting keeps the bits that are not controller enables.
  std::vector<uint32_t> selects = hw.WritesTo(0xF00);
  ASSERT_FALSE(selects.empty());
  EXPECT_EQ(selects[0], 0x12010000u);

  clocks->SetMcReg(3, 0xF14, 0x5A5A);
  uint32_t value = 0;
  EXPECT_EQ(ReadMemoryControllerDword(h, 0xF14, 8, &value), 0u);
  EXPECT_EQ(value, 0x5A5Au);
  EXPECT_EQ(hw.Reg(0xF00), 0x12000001u);
}

TEST_F(MemCtl, IdleWaitGivesUpAfterItsBound) {
  struct Row {
    uint32_t busyReads;
    bool idle;
  } rows[] = {{kMemoryIdleMaxReads - 1, true}, {kMemoryIdleMaxReads, false}};
  for (const Row& row : rows) {
    clocks->SetMcBusyReads(row.busyReads);
    WriteMemoryControllerDword(h, 0xF08, 2, 0);  // starts the busy period
    EXPECT_EQ(WaitForMemoryIdle(h, 2), row.idle) << row.busyReads;
  }
}

TEST_F(MemCtl, FailedStatusTouchesNothing) {
  h->status = 0xB0000001;
  hw.board().ClearLog();
  EXPECT_EQ(HWKSTInitializeMemoryController(h), 0xB0000001u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

class B90MemCtl : public MemCtl {
 protected:
  B90MemCtl() : MemCtl(0x5D63) {}
};

TEST_F(B90MemCtl, ProgramsBothControllersFromTheBoardDescription) {
  for (uint32_t off = 528; off < 704; off += 4) PutPinsDword(h, off, 0x10000000u + off);
  hw.board().Poke(0xFFC, 4, 2);
  EXPECT_EQ(HWB90InitializeMemoryController(h), 0u);

  // Expected contents from the layout: shared rows, then per-controller rows,
  // then the four training words.
  const uint32_t shared[20] = {0xF00, 0xF04, 0xF08, 0xF10, 0xF1C, 0xF20, 0xF24,
                               0xF28, 0xF2C, 0xF44, 0xF94, 0xF98, 0xF9C, 0xFA0,
                               0xFC0, 0xFC4, 0xFC8, 0xFCC, 0xFF0, 0xFF8};
  const uint32_t own[12] = {0xF14, 0xF18, 0xF48, 0xF4C, 0xF58, 0xF5C,
                            0xF68, 0xF6C, 0xF70, 0xF74, 0xF8C, 0xF90};
  std::map<uint32_t, uint32_t> want[2];
  for (unsigned i = 0; i < 20; ++i) want[0][shared[i]] = want[1][shared[i]] = 0x10000000u + 528 + 4 * i;
  for (unsigned i = 0; i < 12; ++i) {
    want[0][own[i]] = 0x10000000u + 528 + 80 + 4 * i;
    want[1][own[i]] = 0x10000000u + 528 + 128 + 4 * i;
  }
  const uint32_t train[4] = {0xF48, 0xF4C, 0xF58, 0xF5C};
  for (unsigned i = 0; i < 4; ++i) {
    want[0][train[i]] = 0x10000000u + 616 + 4 * i;
    want[1][train[i]] = 0x10000000u + 664 + 4 * i;
  }
  // Both take controller 1's configuration word with the second-phase bit.
  want[0][0xF00] = want[1][0xF00] = (0x10000000u + 528) | (1u << 30);
  for (unsigned c = 0; c < 2; ++c) {
    for (const auto& [reg, value] : want[c])
      EXPECT_EQ(clocks->McReg(c, reg), value) << "controller " << c + 1 << " reg " << std::hex << reg;
    EXPECT_EQ(WritesOf(c, 0xFF4), (std::vector<uint32_t>{1, 0, 1})) << c;
  }
  EXPECT_EQ(hw.Reg(0xFFC), 2u);
}

TEST_F(B90MemCtl, IdleWaitGivesUpOnAControllerThatStaysBusy) {
  clocks->SetMcBusyReads(orvsim::ChipClocks::kForever);
  WriteB90MemoryControllerDword(h, 0xFF4, 3, 1);
  hw.board().Poke(0xFFC, 4, 3);
  EXPECT_FALSE(WaitForB90MemoryIdle(h));
  EXPECT_EQ(hw.Reg(0xFFC), 3u);
  clocks->SetMcBusyReads(kMemoryIdleMaxReads - 1);
  WriteB90MemoryControllerDword(h, 0xFF4, 3, 1);
  EXPECT_TRUE(WaitForB90MemoryIdle(h));
}

}  // namespace
