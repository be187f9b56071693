// The chipset workarounds at device create, as they reach the registers,
// the module's parameter and the log; and the register-write guard every
// kernel write passes.
#include <string>
#include <vector>

#include "kernel/register_guard.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

struct WorkaroundCase {
  const char* name;
  uint16_t device;
  uint32_t classCode;
  uint8_t revision;
  uint32_t hostBridge;  // 0: none
  uint32_t bmFlags;
  uint32_t configF4;
  uint32_t busOptionsBefore;
  uint32_t busOptions;  // what register 768 gets
  uint32_t compBypass;  // what register 776 gets
  bool localBufferBit;  // BmDebugFlags bit 4 set
  const char* names;
};

const WorkaroundCase kCases[] = {
    {"first chip, nothing else", 0x0A41, 0x030000, 0, 0, 0, 0, 0, 0x100, 1, false,
     "PowerM CompBypass "},
    {"first chip keeps the other fields as read", 0x0A41, 0x030000, 0, 0, 0, 0, 0xFFFFFFFF,
     0xE0E0FF3F, 1, false, "PowerM CompBypass "},
    {"first chip behind the EOB-tag bridge, local buffers", 0x0A41, 0x030000, 3, 0x03051106, 2,
     0, 0, 0x140, 1, true, "PowerM EOBTag BmLocal CompBypass "},
    {"second chip, local buffers, read-workaround bridge", 0x0A42, 0x030000, 5, 0x25008086, 2, 0,
     0, 0x801C0, 131, false, "PowerM EOBTag Cap66Mhz PciRead CompBypass "},
    {"second chip whose class-and-revision word is below 6", 0x0A42, 0, 5, 0, 2, 0, 0, 0x80140,
     131, true, "PowerM EOBTag Cap66Mhz BmLocal CompBypass "},
    {"second chip at class-and-revision word 6", 0x0A42, 0, 6, 0, 2, 0, 0, 0x80140, 131, false,
     "PowerM EOBTag Cap66Mhz CompBypass "},
    {"second chip without local buffers", 0x0A42, 0x030000, 1, 0x03051106, 0, 0, 0, 0x80100, 131,
     false, "PowerM Cap66Mhz CompBypass "},
    {"later chip at word 1, other read bridge, local buffers", 0x5D61, 0, 1, 0x25018086, 2, 0, 0,
     0x80180, 1, true, "PowerM Cap66Mhz PciRead BmLocal CompBypass "},
    {"later chip behind no listed bridge without local buffers", 0x5D61, 0x030000, 1, 0x12345678,
     0, 0, 0, 0x80100, 1, false, "PowerM Cap66Mhz CompBypass "},
    {"later chip at word 2", 0x5D61, 0, 2, 0, 2, 0, 0, 0x80100, 1, false,
     "PowerM Cap66Mhz CompBypass "},
    {"power fields from dword 0xF4", 0x5D62, 0x030000, 0, 0, 0, 0xA5000017, 0, 0xA51F0100, 1,
     false, "PowerM Cap66Mhz CompBypass "},
};

void PrintTo(const WorkaroundCase& c, std::ostream* out) { *out << c.name; }

class Workarounds : public ::testing::TestWithParam<WorkaroundCase> {};

TEST_P(Workarounds, OneWriteOfEachRegisterTheParameterBitAndTheLogLine) {
  const WorkaroundCase& c = GetParam();
  orvsim::Simulation sim;
  if (c.hostBridge != 0) sim.AddHostBridge(c.hostBridge);
  orvsim::BoardConfig config;
  config.device_id = c.device;
  config.class_code = c.classCode;
  config.revision = c.revision;
  config.config_f4 = c.configF4;
  orvsim::Board& board = sim.AddBoard(config);
  board.Poke(0x300, 4, c.busOptionsBefore);
  kglue::Glue glue;
  glue.Use(&orv_kstrn_driver);
  OrvDevice* device = glue.AddBoard(board, kglue::BoardOptions{c.bmFlags, 0});
  glue.Load();
  board.ClearLog();
  ASSERT_NE(glue.CreateDevice(device), nullptr);

  // 776 follows 768 closely: the guard's dummy write comes first.
  const std::vector<orvsim::RegAccessRecord> writes = board.LoggedWrites();
  ASSERT_EQ(writes.size(), 5u);
  const uint32_t expected[][2] = {
      {4272, 16}, {4792, 0x00070601}, {768, c.busOptions}, {900, 0}, {776, c.compBypass}};
  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].offset, expected[i][0]) << i;
    EXPECT_EQ(writes[i].value, expected[i][1]) << i << " (register " << writes[i].offset << ")";
    EXPECT_EQ(writes[i].width, 4u);
  }
  uint32_t debugFlags = 0;
  ASSERT_TRUE(glue.ReadParameter("regSysBmDebugFlags", &debugFlags));
  EXPECT_EQ(debugFlags, c.localBufferBit ? 0x10u : 0u);
  EXPECT_EQ(glue.LogText(), std::string("[orv] Kestrion patches applied: ") + c.names + "\n");
}

INSTANTIATE_TEST_SUITE_P(Boards, Workarounds, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WorkaroundCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST_F(KernelTest, TheLocalBufferBitJoinsTheFlagsAlreadyGiven) {
  glue.SetParameter("regSysBmDebugFlags", 0x5);
  // A second board of the first chip whose command buffers may be local.
  orvsim::Board& board2 = machine.sim.AddBoard(orvsim::BoardConfig());
  OrvDevice* second = glue.AddBoard(board2, kglue::BoardOptions{2, 1});
  ASSERT_NE(glue.CreateDevice(second), nullptr);
  uint32_t flags = 0;
  ASSERT_TRUE(glue.ReadParameter("regSysBmDebugFlags", &flags));
  EXPECT_EQ(flags, 0x15u);
}

// The guard rule on its own: which writes get a dummy write of 0 to 900.
TEST_F(KernelTest, TheGuardWritesTheDummyExactlyWithin128BytesAbove) {
  MakeDevice();
  SharedLockedData_t* shared = SharedLocked();
  void* regs = OrvDevice_GetRegisterHandle(device);
  struct Row {
    uint32_t enabled;
    uint32_t last;
    uint32_t reg;
    bool dummy;
  } rows[] = {
      {1, 0x400, 0x404, true},      {1, 0x400, 0x480, true},  // 128 above
      {1, 0x400, 0x481, false},                              // 129 above
      {1, 0x400, 0x400, false},     {1, 0x400, 0x3FC, false},
      {1, 0xFFFFFFFF, 0x8, false},  // nothing written since the last read
      {0, 0x400, 0x404, false},     // guard off
  };
  for (const Row& row : rows) {
    shared->regGuardEnable = row.enabled;
    shared->lastRegWritten = row.last;
    board.ClearLog();
    GuardedWrite(regs, shared, row.reg, 0x55);
    const auto writes = board.LoggedWrites();
    ASSERT_EQ(writes.size(), row.dummy ? 2u : 1u) << row.last << " -> " << row.reg;
    if (row.dummy) {
      EXPECT_EQ(writes[0].offset, 900u);
      EXPECT_EQ(writes[0].value, 0u);
    }
    EXPECT_EQ(writes.back().offset, row.reg);
    EXPECT_EQ(writes.back().value, 0x55u);
    EXPECT_EQ(shared->lastRegWritten, row.enabled ? row.reg : row.last);
  }
  // Every read forgets the last register, guard on or off.
  for (uint32_t enabled : {1u, 0u}) {
    shared->regGuardEnable = enabled;
    shared->lastRegWritten = 0x400;
    (void)GuardedRead(regs, shared, 0x404);
    EXPECT_EQ(shared->lastRegWritten, 0xFFFFFFFFu);
  }
}

}  // namespace
