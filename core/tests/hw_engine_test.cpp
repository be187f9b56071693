// Hardware engine objects against the simulated board: the register-write
// guard, the processor-side DMA executor on scripted packet streams, the 2D
// restore packets and the engine helpers.
#include "core/hw_device.h"
#include "core/hw_manager.h"
#include "core/hw_register_access.h"
#include "core/hw_revision.h"
#include "core/hw_thread2d.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "core/wait_bounds.h"

#include <string.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/bm_prim_int.h"
#include "core/chip_ids.h"
#include "core/tests/pdev_fixture.h"
#include "tests/support/test_ids.h"

namespace {

using orvsim::RegAccessRecord;
using orvsim::RegOp;

struct Access {
  RegOp op;
  uint32_t offset;
  uint32_t value;
  bool operator==(const Access&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Access& a) {
  return out << (a.op == RegOp::kRead ? "R " : "W ") << std::hex << a.offset << "=" << a.value;
}

class EngineTest : public coretest::LocalBoardTest {
 protected:
  void SetUp() override {
    LocalBoardTest::SetUp();
    AddBoard();
    head_ = &Construct(0);
    ASSERT_EQ(head_->ok, 1);
    common_ = head_->pdev->common;
    shared_ = head_->pdev->sharedLocked;
    board_->ClearLog();
  }

  std::vector<Access> Accesses() const {
    std::vector<Access> out;
    for (const RegAccessRecord& r : board_->Log()) out.push_back({r.op, r.offset, r.value});
    return out;
  }
  std::vector<Access> Writes() const {
    std::vector<Access> out;
    for (const RegAccessRecord& r : board_->LoggedWrites()) {
      out.push_back({r.op, r.offset, r.value});
    }
    return out;
  }

  // Keeps a register at `before` for `reads` reads, then answers `after`
  // (in place of the DMA engine's own status there).
  void ScriptRegister(uint32_t reg, uint32_t before, int reads, uint32_t after) {
    board_->ClearHooks(reg);
    auto count = std::make_shared<int>(0);
    board_->SetReadHook(reg, 4, [=](orvsim::Board&, orvsim::RegAccess, uint32_t) {
      return (*count)++ < reads ? before : after;
    });
  }

  coretest::Head* head_ = nullptr;
  CommonData* common_ = nullptr;
  SharedLockedData_t* shared_ = nullptr;
};

constexpr Access W(uint32_t offset, uint32_t value) { return {RegOp::kWrite, offset, value}; }
constexpr Access R(uint32_t offset, uint32_t value) { return {RegOp::kRead, offset, value}; }

// ---- Register-write guard --------------------------------------------------------------

struct GuardCase {
  const char* name;
  uint32_t enable;
  uint32_t last;
  uint32_t reg;
  bool dummy;
};

void PrintTo(const GuardCase& c, std::ostream* out) { *out << c.name; }

const GuardCase kGuardCases[] = {
    {"JustAbove", 1, 0x1000, 0x1004, true},
    {"AtTheWindowEnd", 1, 0x1000, 0x1080, true},
    {"PastTheWindow", 1, 0x1000, 0x1084, false},
    {"SameRegister", 1, 0x1000, 0x1000, false},
    {"Below", 1, 0x1004, 0x1000, false},
    {"AfterARead", 1, kLastRegNone, 0x10, false},
    {"FromZero", 1, 0, 0x80, true},
    {"GuardOff", 0, 0x1000, 0x1004, false},
};

class Guard : public EngineTest, public testing::WithParamInterface<GuardCase> {};

TEST_P(Guard, DummyWriteExactlyWhenTheLastRegisterIsJustBelow) {
  const GuardCase& c = GetParam();
  shared_->regGuardEnable = c.enable;
  shared_->lastRegWritten = c.last;
  HwWriteRegister(common_, c.reg, 0xCAFE);
  std::vector<Access> expected;
  if (c.dummy) expected.push_back(W(0x384, 0));
  expected.push_back(W(c.reg, 0xCAFE));
  EXPECT_EQ(Accesses(), expected);
  EXPECT_EQ(shared_->lastRegWritten, c.enable ? c.reg : c.last);
}

INSTANTIATE_TEST_SUITE_P(Cases, Guard, testing::ValuesIn(kGuardCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AReadUnderTheGuardDropsTheNextDummyWrite) {
  shared_->regGuardEnable = 1;
  HwWriteRegister(common_, 0x404, 1);
  HwReadRegister(common_, 0x41C);
  EXPECT_EQ(shared_->lastRegWritten, kLastRegNone);
  HwWriteRegister(common_, 0x408, 2);
  HwWriteRegister(common_, 0x40C, 3);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x404, 1), W(0x408, 2), W(0x384, 0), W(0x40C, 3)}));
}

// A write 0x40 bytes above the last one is guarded unless a register read
// comes between them: a plain read (the helpers' read-modify-write and mode
// test) drops the dummy write just as a poll read does.
struct ReadBetweenCase {
  const char* name;
  void (*between)(CommonData*);
  std::vector<Access> reads;
  bool dummy;
};

const ReadBetweenCase kReadBetweenCases[] = {
    {"NoRead", [](CommonData*) {}, {}, true},
    {"PlainRead", [](CommonData* c) { HwReadRegister(c, 0x1900); }, {R(0x1900, 0x3)}, false},
    {"InterlacedModeTest", [](CommonData* c) { HwDevice::IsInterlacedMode(c, 0); },
     {R(0x1900, 0x3)}, false},
    {"PollRead",
     [](CommonData* c) {
       (void)HwPollRegister(c, 0x1924, kLineCounterMask, 0, "line", kFrameWaitMicroseconds);
     },
     {R(0x1924, 0x7000)}, false},
};

void PrintTo(const ReadBetweenCase& c, std::ostream* out) { *out << c.name; }

class ReadBetween : public EngineTest, public testing::WithParamInterface<ReadBetweenCase> {};

TEST_P(ReadBetween, DecidesTheDummyWriteOfTheNextWrite) {
  const ReadBetweenCase& c = GetParam();
  board_->Poke(0x1900, 4, 0x3);
  board_->Poke(0x1924, 4, 0x7000);
  shared_->regGuardEnable = 1;
  shared_->directWriteCount = 0;
  board_->ClearLog();
  HwWriteRegister(common_, 0x17C0, 1);
  c.between(common_);
  HwWriteRegister(common_, 0x1800, 2);
  std::vector<Access> expected{W(0x17C0, 1)};
  expected.insert(expected.end(), c.reads.begin(), c.reads.end());
  if (c.dummy) expected.push_back(W(0x384, 0));
  expected.push_back(W(0x1800, 2));
  EXPECT_EQ(Accesses(), expected);
  EXPECT_EQ(shared_->lastRegWritten, 0x1800u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadBetween, testing::ValuesIn(kReadBetweenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, PrimarySurfaceReadModifyWriteIsNeverGuarded) {
  board_->Poke(0x1800, 4, 0x30);
  shared_->regGuardEnable = 1;
  shared_->directWriteCount = 0;
  board_->ClearLog();
  HwWriteRegister(common_, 0x17C0, 1);  // would guard a direct write of 0x1800
  EXPECT_TRUE(HwDevice::EnablePrimarySurface(common_, true, 0));
  EXPECT_EQ(Accesses(), (std::vector<Access>{W(0x17C0, 1), R(0x1800, 0x30), W(0x1800, 0x31)}));
  EXPECT_EQ(shared_->lastRegWritten, 0x1800u);
}

TEST_F(EngineTest, SeventeenthWriteWaitsForTheDmaStatusAndRestartsTheCount) {
  ScriptRegister(kRegDmaStatus, 0, 3, 1u << 22);
  shared_->directWriteCount = 0;  // bus mastering's start-up writes counted too
  for (uint32_t i = 0; i < 16; ++i) HwWriteRegister(common_, 0x1000 + 4 * i, i);
  EXPECT_EQ(board_->Log().size(), 16u);  // no read yet
  EXPECT_EQ(shared_->directWriteCount, 16u);
  board_->ClearLog();

  HwWriteRegister(common_, 0x1100, 17);
  EXPECT_EQ(Accesses(), (std::vector<Access>{R(0x450, 0), R(0x450, 0), R(0x450, 0),
                                             R(0x450, 1u << 22), W(0x1100, 17)}));
  EXPECT_EQ(shared_->directWriteCount, 0u);

  // The next 16 writes run without a wait again.
  board_->ClearLog();
  for (uint32_t i = 0; i < 16; ++i) HwWriteRegister(common_, 0x1000, i);
  EXPECT_EQ(board_->Log().size(), 16u);
}

// ---- Emulated DMA ------------------------------------------------------------------------

struct DmaCase {
  const char* name;
  std::vector<uint32_t> stream;
  std::vector<Access> writes;
};

void PrintTo(const DmaCase& c, std::ostream* out) { *out << c.name; }

const DmaCase kDmaCases[] = {
    {"FourIndexes", {0x13121110, 1, 2, 3, 4},
     {W(0x1040, 1), W(0x1044, 2), W(0x1048, 3), W(0x104C, 4)}},
    {"PaddingStartsANewHeader", {0x21212110, 0xA, 0x21211211, 0xB, 0xC},
     {W(0x1040, 0xA), W(0x1044, 0xB), W(0x1048, 0xC)}},
    {"PaddingInTheMiddle", {0x11211110, 1, 2, 0x21212112, 3},
     {W(0x1040, 1), W(0x1044, 2), W(0x1048, 3)}},
    {"SilentIndexesConsumeTheirData", {0x24201029, 5, 6, 7, 8, 0x21212827, 9, 10},
     {W(0x1040, 6)}},
    {"DropIndexEndsTheHeader", {0x11102310, 1, 0, 0x21212112, 3},
     {W(0x1040, 1), W(0x1048, 3)}},
    // A span list: 0x22 loads the header to repeat, 0x23 how often; the
    // repeated headers take no dword of their own.
    {"RepeatedHeaderTakesTheNextDataWords", {0x21212322, 0x21211110, 2, 1, 2, 3, 4, 0x21212112, 5},
     {W(0x1088, 0x21211110), W(0x1040, 1), W(0x1044, 2), W(0x1040, 3), W(0x1044, 4),
      W(0x1048, 5)}},
    {"SyncTagWithoutWait", {0x212121AF, 0x40}, {W(0x12BC, 0x40)}},
    {"HighIndexes", {0x2121FFC0, 0x705, 0x77}, {W(0x1300, 0x705), W(0x13FC, 0x77)}},
};

class EmulDma : public EngineTest, public testing::WithParamInterface<DmaCase> {};

TEST_P(EmulDma, WritesTheRegistersOfTheStream) {
  const DmaCase& c = GetParam();
  HwDevice::ExecuteEmulDma(common_, c.stream.data(), c.stream.data() + c.stream.size());
  EXPECT_EQ(Accesses(), c.writes);
}

INSTANTIATE_TEST_SUITE_P(Streams, EmulDma, testing::ValuesIn(kDmaCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, SyncTagWithBitZeroWaitsForTheEngineToReachIt) {
  ScriptRegister(kRegSyncTagReached, 0x38, 2, 0x40);
  const uint32_t stream[] = {0x2121AF10, 9, 0x41};
  HwDevice::ExecuteEmulDma(common_, stream, stream + 3);
  EXPECT_EQ(Accesses(), (std::vector<Access>{W(0x1040, 9), W(0x12BC, 0x40), R(0x41C, 0x38),
                                             R(0x41C, 0x38), R(0x41C, 0x40)}));
}

TEST_F(EngineTest, HeaderSplitAcrossTwoRangesResumes) {
  const uint32_t stream[] = {0x13121110, 1, 2, 3, 4};
  HwDevice::ExecuteEmulDma(common_, stream, stream + 3);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x1040, 1), W(0x1044, 2)}));
  board_->ClearLog();
  HwDevice::ExecuteEmulDma(common_, stream + 3, stream + 5);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x1048, 3), W(0x104C, 4)}));
}

TEST_F(EngineTest, TwoDControlIsKeptUnlessItIsTransient) {
  shared_->last1300Value = 0x11;
  const uint32_t transient[] = {0x2121C0C0, 0x106, 0x2207};
  HwDevice::ExecuteEmulDma(common_, transient, transient + 3);
  EXPECT_EQ(shared_->last1300Value, 0x11u);
  const uint32_t kept[] = {0x212121C0, 0x708};
  HwDevice::ExecuteEmulDma(common_, kept, kept + 2);
  EXPECT_EQ(shared_->last1300Value, 0x708u);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x1300, 0x106), W(0x1300, 0x2207), W(0x1300, 0x708)}));
}

TEST_F(EngineTest, RangesThatAreEmptyBackwardsOrMisalignedStopInside) {
  alignas(4) uint32_t stream[] = {0x21212110, 0xA, 0x21212111, 0xB};
  // Start past the end: nothing at all.
  HwDevice::ExecuteEmulDma(common_, stream + 2, stream);
  HwDevice::ExecuteEmulDma(common_, stream, stream);
  EXPECT_TRUE(Accesses().empty());
  EXPECT_EQ(common_->emulDma.indexesLeft, 0u);

  // An end two bytes into the data dword: the header is taken, the partial
  // dword is not executed.
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(stream);
  HwDevice::ExecuteEmulDma(common_, stream, bytes + 6);
  EXPECT_TRUE(Accesses().empty());
  HwDevice::ExecuteEmulDma(common_, stream + 1, stream + 4);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x1040, 0xA), W(0x1044, 0xB)}));
}

TEST_F(EngineTest, ShadowKeepsTheLastDataOfEveryIndex) {
  const uint32_t stream[] = {0x23102010, 1, 2, 3, 4};
  HwDevice::ExecuteEmulDma(common_, stream, stream + 5);
  EXPECT_EQ(HwDevice::GetDwordFromBuffer(common_, 0x10), 3u);
  EXPECT_EQ(HwDevice::GetDwordFromBuffer(common_, 0x20), 2u);
  EXPECT_EQ(HwDevice::GetDwordFromBuffer(common_, 0x23), 4u);
}

TEST_F(EngineTest, RepeatCountReplaysTheSavedHeaderWithoutConsumingADword) {
  common_->emulDma.repeatCount = 1;
  common_->emulDma.savedHeader = 0x21212130;
  const uint32_t stream[] = {5, 0x21212131, 6};
  HwDevice::ExecuteEmulDma(common_, stream, stream + 3);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x10C0, 5), W(0x10C4, 6)}));
  EXPECT_EQ(common_->emulDma.repeatCount, 0u);
}

TEST_F(EngineTest, ExecutorWritesPassTheGuard) {
  shared_->regGuardEnable = 1;
  shared_->lastRegWritten = kLastRegNone;
  const uint32_t stream[] = {0x21211110, 1, 2};
  HwDevice::ExecuteEmulDma(common_, stream, stream + 3);
  EXPECT_EQ(Writes(), (std::vector<Access>{W(0x1040, 1), W(0x384, 0), W(0x1044, 2)}));
}

// ---- 2D restore packets ---------------------------------------------------------------------

void FillThread2d(SharedHwThread2d& s) {
  s.reg1300 = 0x1300;
  s.reg1328 = 0x1328;
  s.reg132C = 0x132C;
  s.reg1324 = 0x1324;
  s.reg1318 = 0x1318;
  s.reg1314 = 0x1314;
  s.reg131C = 0x131C;
  s.reg1320 = 0x1320;
  s.reg1308 = 0x1308;
  s.reg1304 = 0x1304;
  s.reg130C = 0x130C;
  for (uint32_t i = 0; i < 4; ++i) {
    s.even[i] = 0xE0 + i;
    s.odd[i] = 0xD0 + i;
  }
}

// The words of every group with all state dirty and a full restore, and the
// register writes the chip's DMA engine makes of them (index i names
// register 0x1000 + 4 * i; index 0x21 pads).
const std::vector<uint32_t> kAllGroups = {
    0x21218988, 0xE0, 0xD0,                  // bit 0
    0x21218D8C, 0xE2, 0xD2,                  // bit 2
    0x21218B8A, 0xE1, 0xD1,                  // bit 1
    0x21218F8E, 0xE3, 0xD3,                  // bit 3
    0x212121C6, 0x1318,                      // bit 7
    0x212121C5, 0x1314,                      // bit 8
    0x2121C8C7, 0x131C, 0x1320,              // bit 6
    0x212121C9, 0x1324,                      // bit 5
    0x2121CBCA, 0x1328, 0x132C,              // bit 10
    0x212121C0, 0x1300,                      // bit 4
    0x21E3C1C2, 0x1308, 0x1304, 0x130C,      // bit 9, full restore
};
using EngineWrite = orvsim::DmaEngine::RegWrite;
const std::vector<EngineWrite> kAllGroupWrites = {
    {0x1220, 0xE0},   {0x1224, 0xD0},   {0x1230, 0xE2},   {0x1234, 0xD2},
    {0x1228, 0xE1},   {0x122C, 0xD1},   {0x1238, 0xE3},   {0x123C, 0xD3},
    {0x1318, 0x1318}, {0x1314, 0x1314}, {0x131C, 0x131C}, {0x1320, 0x1320},
    {0x1324, 0x1324}, {0x1328, 0x1328}, {0x132C, 0x132C}, {0x1300, 0x1300},
    {0x1308, 0x1308}, {0x1304, 0x1304}, {0x138C, 0x130C},
};

class SetupHardwareTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    prim_ = head_->pdev->primInt;
    ASSERT_NE(prim_, nullptr);
    engine_->RunPending();
    engine_->ClearWrites();
  }
  // The words written at the command interface since `from`.
  std::vector<uint32_t> WrittenSince(const uint32_t* from) const {
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(prim_->cursor));
  }
  BmPrimInt* prim_ = nullptr;
};

TEST_F(SetupHardwareTest, EmitsEveryDirtyGroupInItsFixedOrderAndTheEngineAppliesThem) {
  SharedHwThread2d& state = shared_->thread2d;
  FillThread2d(state);
  state.stateMask = 0x7FF;
  state.dirtyBits = 0xFFFFFFFF;
  state.fullRestore = 1;
  const uint32_t* from = prim_->cursor;
  HwThread2d::SetupHardware(shared_, prim_);
  EXPECT_EQ(WrittenSince(from), kAllGroups);
  EXPECT_EQ(state.fullRestore, 0);
  EXPECT_EQ(state.dirtyBits, 0u);
  EXPECT_EQ(state.emittedFlags, 0u);
  EXPECT_EQ(shared_->last1300Value, 0x1300u);

  ASSERT_TRUE(prim_->Start());
  engine_->RunPending();
  EXPECT_EQ(engine_->Writes(), kAllGroupWrites);
  EXPECT_TRUE(engine_->DecodeErrors().empty());
}

TEST_F(SetupHardwareTest, APacketThatWouldPassTheLimitGoesWholeToTheNextBuffer) {
  SharedHwThread2d& state = shared_->thread2d;
  FillThread2d(state);
  state.stateMask = 0x7FF;
  state.dirtyBits = 0xFFFFFFFF;
  state.fullRestore = 1;
  // Two words of room before the limit, filled with padding headers: the
  // first group (three words) must not be split around the switch.
  const uint32_t room = static_cast<uint32_t>(prim_->limit - prim_->cursor);
  uint32_t* pad = prim_->Reserve(room - 2);
  for (uint32_t i = 0; i < room - 2; ++i) pad[i] = 0x21212121;
  HwThread2d::SetupHardware(shared_, prim_);
  EXPECT_EQ(WrittenSince(prim_->head->Begin()), kAllGroups);

  ASSERT_TRUE(prim_->Start());
  engine_->RunPending();
  EXPECT_EQ(engine_->Writes(), kAllGroupWrites);
  EXPECT_TRUE(engine_->DecodeErrors().empty());
}

TEST_F(SetupHardwareTest, SendsOnlyDirtyBitsOfTheStateMask) {
  SharedHwThread2d& state = shared_->thread2d;
  FillThread2d(state);
  state.stateMask = 0x210;  // bits 4 and 9
  state.dirtyBits = 0x20F;  // bits 0-3 and 9
  const uint32_t* from = prim_->cursor;
  HwThread2d::SetupHardware(shared_, prim_);
  EXPECT_EQ(WrittenSince(from), (std::vector<uint32_t>{0x21C3C1C2, 0x1308, 0x1304, 0x130C}));
  EXPECT_EQ(state.dirtyBits, 0u);

  // Nothing dirty under the mask: nothing sent, nothing cleared.
  state.dirtyBits = 0x1;
  from = prim_->cursor;
  HwThread2d::SetupHardware(shared_, prim_);
  EXPECT_TRUE(WrittenSince(from).empty());
  EXPECT_EQ(state.dirtyBits, 0x1u);

  ASSERT_TRUE(prim_->Start());
  engine_->RunPending();
  EXPECT_EQ(engine_->Writes(),
            (std::vector<EngineWrite>{{0x1308, 0x1308}, {0x1304, 0x1304}, {0x130C, 0x130C}}));
}

TEST_F(EngineTest, EveryDeviceObjectResetsThe2dState) {
  SharedHwThread2d& state = shared_->thread2d;
  EXPECT_EQ(state.reg1300, 0x707u);
  EXPECT_EQ(state.reg1324, 0xFFFFFFFFu);
  state.dirtyBits = 0x55;
  state.reg1308 = 9;
  coretest::Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  EXPECT_EQ(state.dirtyBits, 0u);
  EXPECT_EQ(state.reg1308, 0u);
  EXPECT_EQ(state.reg1300, 0x707u);
}

// ---- Engine helpers ---------------------------------------------------------------------------

TEST_F(EngineTest, DisablingThePrimarySurfaceWaitsForOneLineCounterCycle) {
  board_->Poke(0x1A00, 4, 0x31);  // controller 1
  // The line counter runs 5, 1, 1, 0 in its low 12 bits.
  auto reads = std::make_shared<int>(0);
  board_->SetReadHook(0x1B24, 4, [reads](orvsim::Board&, orvsim::RegAccess, uint32_t) {
    const uint32_t sequence[] = {0x7005, 0x7001, 0x7001, 0x7000};
    int i = (*reads)++;
    return sequence[i < 3 ? i : 3];
  });
  EXPECT_TRUE(HwDevice::EnablePrimarySurface(common_, false, 1));
  EXPECT_EQ(Accesses(), (std::vector<Access>{R(0x1A00, 0x31), W(0x1A00, 0x30), R(0x1B24, 0x7005),
                                             R(0x1B24, 0x7001), R(0x1B24, 0x7001),
                                             R(0x1B24, 0x7000)}));
  board_->ClearLog();
  EXPECT_TRUE(HwDevice::EnablePrimarySurface(common_, true, 1));
  EXPECT_EQ(Accesses(), (std::vector<Access>{R(0x1A00, 0x30), W(0x1A00, 0x31)}));
}

TEST_F(EngineTest, InterlacedModeIsBitZeroOfTheControllersModeRegister) {
  board_->Poke(0x1900 + 2 * 512, 4, 0x3);
  board_->Poke(0x1900, 4, 0x2);
  EXPECT_TRUE(HwDevice::IsInterlacedMode(common_, 2));
  EXPECT_FALSE(HwDevice::IsInterlacedMode(common_, 0));
}

TEST_F(EngineTest, HardwareManagerIsMadeByTheFirstObjectAndSharedByTheOthers) {
  PDEV* first = head_->pdev;
  ASSERT_TRUE(InitHwManager(first));
  HwManager* manager = common_->hwManager;
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->common, common_);
  EXPECT_EQ(first->hwManager, manager);

  coretest::Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  ASSERT_TRUE(InitHwManager(second.pdev));
  EXPECT_EQ(second.pdev->hwManager, manager);
  // Only the last object that holds it deletes it.
  CleanupHwManager(second.pdev);
  EXPECT_EQ(common_->hwManager, manager);
  EXPECT_EQ(second.pdev->hwManager, nullptr);
  Destroy(second);
  CleanupHwManager(first);
  EXPECT_EQ(common_->hwManager, nullptr);

  box_.FailAllocation(1);
  EXPECT_FALSE(InitHwManager(first));
  box_.FailAllocation(0);

  // A board with two devices: the one that asks makes it and deletes it.
  coretest::Head& third = Construct(1);
  ASSERT_EQ(third.ok, 1);
  ASSERT_TRUE(InitHwManager(third.pdev));
  ASSERT_NE(common_->hwManager, nullptr);
  EXPECT_EQ(first->hwManager, nullptr);
  CleanupHwManager(third.pdev);
  EXPECT_EQ(common_->hwManager, nullptr);
}

TEST(GetMaxVolumeDepth, FollowsTheLargerSide) {
  struct Case {
    uint32_t width, height;
    bool bordered;
    uint32_t depth;
  } const cases[] = {
      {256, 256, false, 256}, {256, 256, true, 64}, {100, 512, false, 64},
      {1024, 3, false, 16},   {1023, 10, true, 4},   {1022, 1, true, 16}, {2048, 2048, false, 4},
      {2047, 1, true, 0},     {4096, 16, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HwDevice::GetMaxVolumeDepth(c.width, c.height, c.bordered), c.depth)
        << c.width << "x" << c.height << (c.bordered ? " bordered" : "");
  }
}

// ---- Revision bits ------------------------------------------------------------------------------

TEST(HwRevisionID, OneBitPerChipAndRevision) {
  struct Case {
    uint32_t id, revision, bits;
  } const cases[] = {
      {0x6A251E7A, 0, 0x1},      {0x6C271E7A, 9, 0x1},
      {0x0A411E7A, 0, 0x2},      {0x0A411E7A, 1, 0x4},      {0x0A411E7A, 2, 0x8},
      {0x0A411E7A, 3, 0x10},     {0x0A411E7A, 4, 0x20},
      {0x0A421E7A, 0, 0x200},    {0x0A421E7A, 1, 0x40},     {0x0A421E7A, 2, 0x80},
      {0x0A421E7A, 6, 0x100},    {0x0A421E7A, 3, 0x200},
      {0x5D611E7A, 0, 0x1000},   {0x5D611E7A, 1, 0x400},    {0x5D611E7A, 2, 0x800},
      {0x5D621E7A, 0, 0x2000},   {0x5D621E7A, 1, 0x4000},   {0x5D621E7A, 2, 0x8000},
      {0x5D631E7A, 0, 0x10000},  {0x5D631E7A, 1, 0x20000},  {0x5D631E7A, 5, 0x40000},
      {KestrionVendorDevice(kTestUnknownDeviceId), 0, 0},                     // unknown device
      {(uint32_t{kDeviceKestrion1} << 16) | kTestOtherVendorId, 0, 0},       // another vendor
  };
  for (const Case& c : cases) {
    SharedLockedData_t shared = {};
    HwRevisionID::Setup(&shared, c.id, c.revision);
    EXPECT_EQ(shared.revisionBits, c.bits) << std::hex << c.id << " rev " << c.revision;
  }
}

}  // namespace
