// The glue behind the X server stand-in's device node: what a process does
// with /dev/orvane/orv<minor> reaches the core as the kernel would pass it.
#include "platform/kglue/node_bridge.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "core/orv_ioctl.h"
#include "platform/board/simulation.h"
#include "platform/kglue/tests/fake_core.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

using namespace kglue_test;

constexpr uint32_t kMajor = 240;

class NodeBridgeTest : public ::testing::Test {
 protected:
  NodeBridgeTest() : board(sim.AddBoard(orvsim::BoardConfig())), bridge(glue, 77) {
    g_core = &core;
    glue.Use(&kFakeDriver);
    device = glue.AddBoard(board, kglue::BoardOptions{0, 2});
    glue.Load();
    glue.CreateDevice(device);
    box.ProvideKernelModule("orv", kMajor, &bridge);
    EXPECT_EQ(xf86LoadKernelModule("orv"), 1);
    box.MakeDirectories("/dev/orvane");
    box.MakeNode("/dev/orvane/orv2", kMajor, 2);
    box.MakeNode("/dev/orvane/orv3", kMajor, 3);
  }
  ~NodeBridgeTest() override { g_core = nullptr; }

  orvsim::Simulation sim;
  orvsim::Board& board;
  FakeCore core;
  kglue::Glue glue;
  kglue::NodeBridge bridge;
  OrvDevice* device;
  xstub::Sandbox box;
};

TEST_F(NodeBridgeTest, EachOpenIsOneClientOfTheCoreUntilItsClose) {
  const int a = xf86open("/dev/orvane/orv2", O_RDWR);
  const int b = xf86open("/dev/orvane/orv2", O_RDWR);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_EQ(core.opened.size(), 2u);
  EXPECT_NE(core.opened[0], core.opened[1]);
  EXPECT_EQ(glue.OpenFileCount(), 2u);

  uint8_t record[16] = {9};
  EXPECT_EQ(xf86ioctl(b, kEchoCode, record), 77);  // the bridge's process
  EXPECT_EQ(record[0], 10);
  EXPECT_EQ(core.lastClient, core.opened[1]);
  EXPECT_EQ(xf86ioctl(a, kValueCode, reinterpret_cast<void*>(0x2A)), 0x2A);
  EXPECT_EQ(core.lastClient, core.opened[0]);

  // A copy fault and a refused code come back as errno.
  glue.MarkFaulty(record, 1);
  EXPECT_EQ(xf86ioctl(a, kEchoCode, record), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(xf86ioctl(a, OrvIocCode(kIocRW, 0x14, 20), record), -1);
  EXPECT_EQ(errno, EINVAL);

  xf86close(a);
  ASSERT_EQ(core.released.size(), 1u);
  EXPECT_EQ(core.released[0], core.opened[0]);
  xf86close(b);
  EXPECT_EQ(glue.OpenFileCount(), 0u);

  // A minor the glue has no board for does not open.
  EXPECT_EQ(xf86open("/dev/orvane/orv3", O_RDWR), -1);
  EXPECT_EQ(errno, ENXIO);
}

TEST_F(NodeBridgeTest, MappingsReachRegionsAndTheBoardsRegisters) {
  const int fd = xf86open("/dev/orvane/orv2", O_RDWR);
  ASSERT_GE(fd, 0);
  orv_ioctl_buffer buffer = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 6000, 0};
  ASSERT_EQ(xf86ioctl(fd, ORV_IOCTL_ALLOC_BUFFER, &buffer), 0);
  auto* pages = static_cast<uint8_t*>(
      xf86mmap(nullptr, 6000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.offset));
  ASSERT_NE(pages, MAP_FAILED);
  pages[5999] = 0x5A;
  EXPECT_EQ(glue.ResolveBus(buffer.offset + 5999, 1)[0], 0x5A);  // what the engine would read

  const auto regs = board.Bar(orvsim::ResourceKind::kRegisters);
  void* window = xf86mmap(nullptr, regs->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                          static_cast<off_t>(regs->base));
  ASSERT_NE(window, MAP_FAILED);
  board.ClearLog();
  xf86WriteMmio32(window, 0x1300, 0x707);
  EXPECT_EQ(xf86ReadMmio32(window, 0x1300), 0x707u);
  ASSERT_EQ(board.Log().size(), 2u);
  EXPECT_EQ(board.Log()[0].offset, 0x1300u);

  // Nothing the glue knows is at this offset.
  EXPECT_EQ(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0x7000000), MAP_FAILED);

  EXPECT_EQ(xf86munmap(window, regs->size), 0);
  EXPECT_EQ(xf86munmap(pages, 6000), 0);
  EXPECT_EQ(glue.LiveUserMappings(), 0u);
  EXPECT_EQ(xf86ioctl(fd, ORV_IOCTL_FREE_BUFFER, &buffer), 0);
  EXPECT_EQ(glue.LiveLockedPages(), 0u);
  xf86close(fd);
}

}  // namespace
