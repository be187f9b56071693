// PCI configuration space, /dev/mem and memory-mapped access reach the
// simulated boards.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

class XserverBoardAccess : public testing::Test {
 protected:
  XserverBoardAccess() {
    orvsim::BoardConfig config;
    config.device_id = orvsim::kDeviceKestrionNext2;
    config.revision = 3;
    config.subsystem_id = 0x1234;
    config.location = orvsim::PciLocation{0, 5, 0};
    board = &sim.AddBoard(config);
  }

  void* MapPhysical(uint64_t physical, size_t length) {
    return xf86mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                    static_cast<off_t>(physical));
  }

  void SetUp() override {
    mem = xf86open("/dev/mem", O_RDWR);
    ASSERT_GE(mem, 0);
  }
  void TearDown() override { xf86close(mem); }

  orvsim::Simulation sim;  // made first: it outlives the sandbox's mappings
  orvsim::Board* board;
  xstub::Sandbox box;
  int mem = -1;
};

TEST_F(XserverBoardAccess, ConfigurationReadsThroughTheTag) {
  const PCITAG tag = pciTag(0, 5, 0);
  EXPECT_EQ(tag, 5u << 3);
  EXPECT_EQ(pciReadWord(tag, 0), orvsim::kKestrionVendorId);
  EXPECT_EQ(pciReadLong(tag, 0),
            (uint32_t{orvsim::kDeviceKestrionNext2} << 16) | orvsim::kKestrionVendorId);
  EXPECT_EQ(pciReadByte(tag, 8), 3);
  EXPECT_EQ(pciReadWord(tag, 0x2E), 0x1234);
  // An empty slot and a function the device does not have read all-ones.
  EXPECT_EQ(pciReadLong(pciTag(0, 6, 0), 0), 0xFFFFFFFFu);
  EXPECT_EQ(pciReadWord(pciTag(0, 5, 1), 0), 0xFFFF);
}

TEST_F(XserverBoardAccess, TagLayoutReachesFunctionsBehindABridge) {
  sim.AddBridge(orvsim::PciLocation{0, 1, 0}, 2);
  orvsim::BoardConfig config;
  config.device_id = orvsim::kDeviceKestrion2;
  config.location = orvsim::PciLocation{2, 31, 0};
  sim.AddBoard(config);
  sim.AddFunction(orvsim::PciLocation{2, 31, 7}, 0x1E7A, 0x7777, 0x048000);
  EXPECT_EQ(pciTag(2, 31, 7), 0x2FFu);
  EXPECT_EQ(pciReadByte(pciTag(0, 1, 0), 0x19), 2);  // secondary bus
  EXPECT_EQ(pciReadWord(pciTag(2, 31, 0), 2), orvsim::kDeviceKestrion2);
  EXPECT_EQ(pciReadWord(pciTag(2, 31, 7), 2), 0x7777);
}

TEST_F(XserverBoardAccess, ConfigurationWritesSizeAndRestoreABar) {
  const PCITAG tag = pciTag(0, 5, 0);
  const uint32_t original = pciReadLong(tag, orvsim::kRegisterBar32);
  pciWriteLong(tag, orvsim::kRegisterBar32, 0xFFFFFFFF);
  const uint32_t mask = pciReadLong(tag, orvsim::kRegisterBar32);
  pciWriteLong(tag, orvsim::kRegisterBar32, original);
  EXPECT_EQ(~(mask & ~0xFu) + 1, board->RegisterBarSize());
  EXPECT_EQ(pciReadLong(tag, orvsim::kRegisterBar32), original);
  pciWriteWord(tag, orvsim::kPciCommand, 0);
  EXPECT_FALSE(board->Pci().MemoryDecode());
  pciWriteByte(tag, orvsim::kPciCommand, orvsim::kPciCommandMemory);
  EXPECT_TRUE(board->Pci().MemoryDecode());
}

TEST_F(XserverBoardAccess, MappedRegistersGoThroughTheBoard) {
  const orvsim::BarInfo regs = board->Bar(orvsim::ResourceKind::kRegisters).value();
  void* base = MapPhysical(regs.base, regs.size);
  ASSERT_NE(base, MAP_FAILED);
  EXPECT_EQ(base, board->Registers());

  board->SetReadHook(0x1FDA, 1, [](orvsim::Board&, orvsim::RegAccess, uint32_t) {
    return 0x08u;  // input status with its retrace bit
  });
  board->ClearLog();
  xf86WriteMmio32(base, 0x0E30, 0xDEADBEEF);
  xf86WriteMmio16(base, 0x1FD4, 0x1234);
  xf86WriteMmio8(base, 0x1FC2, 0x67);
  EXPECT_EQ(xf86ReadMmio32(base, 0x0E30), 0xDEADBEEFu);
  EXPECT_EQ(xf86ReadMmio8(base, 0x1FDA), 0x08);
  EXPECT_EQ(xf86ReadMmio16(base, 0x1FD4), 0x1234);

  using orvsim::RegOp;
  const auto log = board->Log();
  ASSERT_EQ(log.size(), 6u);
  const struct {
    RegOp op;
    uint8_t width;
    uint32_t offset;
    uint32_t value;
  } expected[] = {
      {RegOp::kWrite, 4, 0x0E30, 0xDEADBEEF}, {RegOp::kWrite, 2, 0x1FD4, 0x1234},
      {RegOp::kWrite, 1, 0x1FC2, 0x67},       {RegOp::kRead, 4, 0x0E30, 0xDEADBEEF},
      {RegOp::kRead, 1, 0x1FDA, 0x08},        {RegOp::kRead, 2, 0x1FD4, 0x1234},
  };
  for (size_t i = 0; i < log.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(log[i].op, expected[i].op);
    EXPECT_EQ(log[i].width, expected[i].width);
    EXPECT_EQ(log[i].offset, expected[i].offset);
    EXPECT_EQ(log[i].value, expected[i].value);
  }
  // Register reads cost simulated time.
  EXPECT_EQ(log[5].time_ns - log[4].time_ns, sim.GetClock().ReadCost());

  // After the unmap the address is no longer routed to the board.
  EXPECT_EQ(xf86munmap(base, regs.size), 0);
  board->ClearLog();
  board->Poke(0x100, 4, 0x55);
  EXPECT_EQ(xf86ReadMmio32(base, 0x100), 0x55u);
  EXPECT_TRUE(board->Log().empty());
}

// Two mappings of the same registers: undoing one keeps the other routed to
// the board, so its accesses still reach the hooks, the log and the clock.
TEST_F(XserverBoardAccess, RegistersMappedTwiceStayRoutedUntilTheLastUnmap) {
  const orvsim::BarInfo regs = board->Bar(orvsim::ResourceKind::kRegisters).value();
  void* first = MapPhysical(regs.base, regs.size);
  void* second = MapPhysical(regs.base, regs.size);
  ASSERT_NE(first, MAP_FAILED);
  ASSERT_EQ(second, first);
  ASSERT_EQ(xf86munmap(first, regs.size), 0);
  board->ClearLog();
  xf86WriteMmio32(second, 0x200, 0x1234);
  EXPECT_EQ(board->Log().size(), 1u) << "still routed through the board";
  ASSERT_EQ(xf86munmap(second, regs.size), 0);
  board->ClearLog();
  EXPECT_EQ(xf86ReadMmio32(second, 0x200), 0x1234u);
  EXPECT_TRUE(board->Log().empty());
  EXPECT_EQ(xf86munmap(second, regs.size), -1) << "nothing left to undo";
}

TEST_F(XserverBoardAccess, PartOfTheRegisterRangeKeepsItsOffsets) {
  const orvsim::BarInfo regs = board->Bar(orvsim::ResourceKind::kRegisters).value();
  void* high = MapPhysical(regs.base + 4096, 4096);
  ASSERT_NE(high, MAP_FAILED);
  board->ClearLog();
  xf86WriteMmio32(high, 0x10, 7);
  ASSERT_EQ(board->Log().size(), 1u);
  EXPECT_EQ(board->Log()[0].offset, 0x1010u);
  EXPECT_EQ(board->Peek(0x1010, 4), 7u);
  EXPECT_EQ(xf86munmap(high, 4096), 0);
}

TEST_F(XserverBoardAccess, MappedFrameBufferIsTheBoardsMemory) {
  const orvsim::BarInfo fb = board->Bar(orvsim::ResourceKind::kMemory).value();
  void* p = MapPhysical(fb.base + 0x100000, 0x10000);
  ASSERT_NE(p, MAP_FAILED);
  xf86WriteMmio32(p, 0x20, 0xCAFEF00D);
  static_cast<volatile uint8_t*>(p)[0xFFFF] = 0x9C;
  EXPECT_EQ(board->Memory()[0x100020], 0x0D);
  EXPECT_EQ(board->Memory()[0x100023], 0xCA);
  EXPECT_EQ(board->Memory()[0x10FFFF], 0x9C);
  EXPECT_TRUE(board->Log().empty());
  EXPECT_EQ(xf86munmap(p, 0x10000), 0);
}

TEST_F(XserverBoardAccess, UndecodedRangesCannotBeMapped) {
  const orvsim::BarInfo fb = board->Bar(orvsim::ResourceKind::kMemory).value();
  // Past the end of the frame buffer.
  EXPECT_EQ(MapPhysical(fb.base + fb.size - 4096, 8192), MAP_FAILED);
  EXPECT_EQ(errno, EINVAL);
  // With memory decoding off nothing answers.
  pciWriteWord(pciTag(0, 5, 0), orvsim::kPciCommand, 0);
  EXPECT_EQ(MapPhysical(fb.base, 4096), MAP_FAILED);
  EXPECT_EQ(box.MappingCount(), 0u);
}

TEST(XserverBoardAccessWithoutBus, ConfigurationReadsAnswerAllOnes) {
  xstub::Sandbox box;
  EXPECT_EQ(pciReadLong(pciTag(0, 0, 0), 0), 0xFFFFFFFFu);
  EXPECT_EQ(pciReadByte(pciTag(0, 0, 0), 0), 0xFF);
  int mem = xf86open("/dev/mem", O_RDWR);
  ASSERT_GE(mem, 0);
  EXPECT_EQ(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, mem, 0x80000000), MAP_FAILED);
  xf86close(mem);
}

}  // namespace
