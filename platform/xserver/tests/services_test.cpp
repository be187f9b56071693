// Device nodes, files, messages, the allocator, time and the module loader.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

// The device number as the driver computes it before comparing with stat.
uint64_t DriverDeviceNumber(uint64_t major, uint64_t minor) {
  return ((major & 0xFFF) << 8) | (minor & 0xFF) | ((minor & 0xFFFFFF00) << 12) |
         ((major & 0xFFFFF000) << 32);
}

struct NodeCase {
  uint32_t major;
  uint32_t minor;
};

void PrintTo(const NodeCase& c, std::ostream* out) {
  *out << "major" << c.major << "minor" << c.minor;
}

class XserverNodeNumbers : public testing::TestWithParam<NodeCase> {};

TEST_P(XserverNodeNumbers, StatReportsTheDeviceNumberGivenToMknod) {
  const NodeCase c = GetParam();
  xstub::Sandbox box;
  ASSERT_EQ(xf86mkdir("/dev/orvane", 0755), 0);
  const dev_t device = DriverDeviceNumber(c.major, c.minor);
  ASSERT_EQ(xf86mknod("/dev/orvane/orv0", S_IFCHR | 0666, device), 0);
  struct stat st;
  ASSERT_EQ(xf86stat("/dev/orvane/orv0", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, device);
  auto node = box.Node("/dev/orvane/orv0");
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->major, c.major);
  EXPECT_EQ(node->minor, c.minor);
  EXPECT_EQ(xstub::MakeDevice(c.major, c.minor), device);
}

INSTANTIATE_TEST_SUITE_P(Majors, XserverNodeNumbers,
                         testing::Values(NodeCase{226, 0}, NodeCase{254, 3},
                                         NodeCase{4095, 255}, NodeCase{4096, 256},
                                         NodeCase{0x12345, 0xABCDE}),
                         testing::PrintToStringParamName());

TEST(XserverNodes, CreationFollowsTheUmaskAndChmodSetsTheBits) {
  xstub::Sandbox box;
  // The driver creates the directory with the node's mode: no search bit.
  ASSERT_EQ(xf86mkdir("/dev/orvane", 0x21B6), 0);
  ASSERT_EQ(xf86mknod("/dev/orvane/orv1", 0x21B6, xstub::MakeDevice(250, 1)), 0);
  struct stat st;
  ASSERT_EQ(xf86stat("/dev/orvane", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(xf86stat("/dev/orvane/orv1", &st), 0);
  EXPECT_EQ(st.st_mode, static_cast<mode_t>(S_IFCHR | 0644));
  ASSERT_EQ(xf86chmod("/dev/orvane/orv1", 0x21B6), 0);
  ASSERT_EQ(xf86stat("/dev/orvane/orv1", &st), 0);
  EXPECT_EQ(st.st_mode, static_cast<mode_t>(S_IFCHR | 0666));
}

TEST(XserverNodes, RemoveAndRecreate) {
  xstub::Sandbox box;
  box.MakeDirectories("/dev/orvane");
  box.MakeNode("/dev/orvane/orv0", 10, 0);
  EXPECT_EQ(xf86mknod("/dev/orvane/orv0", S_IFCHR | 0666, xstub::MakeDevice(250, 0)), -1);
  EXPECT_EQ(errno, EEXIST);
  ASSERT_EQ(xf86remove("/dev/orvane/orv0"), 0);
  struct stat st;
  EXPECT_EQ(xf86stat("/dev/orvane/orv0", &st), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(box.Node("/dev/orvane/orv0").has_value());
  ASSERT_EQ(xf86mknod("/dev/orvane/orv0", S_IFCHR | 0666, xstub::MakeDevice(250, 0)), 0);
  EXPECT_EQ(box.Node("/dev/orvane/orv0")->major, 250u);
  // A missing directory is reported as such.
  EXPECT_EQ(xf86mknod("/dev/nodir/orv0", S_IFCHR | 0666, 0), -1);
  EXPECT_EQ(errno, ENOENT);
  // A file the test puts in the node's place is a plain file, not the node.
  box.WriteFile("/dev/orvane/orv0", "x");
  ASSERT_EQ(xf86stat("/dev/orvane/orv0", &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

// The log of calls that change the tree shows what was done and what was
// not: a missing node is made without a remove, a wrong one is replaced.
TEST(XserverNodes, FileCallsAreLoggedWithTheirResults) {
  using xstub::FileCall;
  using xstub::FileOp;
  xstub::Sandbox box;
  EXPECT_TRUE(box.FileCalls().empty()) << "the fixtures are not the driver's calls";
  const dev_t device = xstub::MakeDevice(243, 0);

  ASSERT_EQ(xf86mkdir("/dev/orvane", 0x21B6), 0);
  ASSERT_EQ(xf86mknod("/dev/orvane/orv0", 0x21B6, device), 0);
  ASSERT_EQ(xf86chmod("/dev/orvane/orv0", 0x21B6), 0);
  std::vector<FileCall> expected = {
      {FileOp::kMkdir, "/dev/orvane", 0x21B6, 0, 0, 0},
      {FileOp::kMknod, "/dev/orvane/orv0", 0x21B6, device, 0, 0},
      {FileOp::kChmod, "/dev/orvane/orv0", 0x21B6, 0, 0, 0},
  };
  EXPECT_EQ(box.FileCalls(), expected);

  // Failed calls are logged with their errno, and errno still reaches the
  // caller.
  box.ClearFileCalls();
  EXPECT_EQ(xf86mkdir("/dev/orvane", 0x21B6), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(xf86remove("/dev/orvane/orv9"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(xf86remove("/dev/orvane/orv0"), 0);
  EXPECT_EQ(xf86mknod("/dev/orvane/orv0", 0x21B6, device + 1), 0);
  EXPECT_EQ(xf86chmod("/../outside", 0777), -1);
  EXPECT_EQ(errno, EACCES);
  expected = {
      {FileOp::kMkdir, "/dev/orvane", 0x21B6, 0, -1, EEXIST},
      {FileOp::kRemove, "/dev/orvane/orv9", 0, 0, -1, ENOENT},
      {FileOp::kRemove, "/dev/orvane/orv0", 0, 0, 0, 0},
      {FileOp::kMknod, "/dev/orvane/orv0", 0x21B6, device + 1, 0, 0},
      {FileOp::kChmod, "/../outside", 0777, 0, -1, EACCES},
  };
  EXPECT_EQ(box.FileCalls(), expected);

  // Reading the tree is not logged.
  box.ClearFileCalls();
  struct stat st;
  ASSERT_EQ(xf86stat("/dev/orvane/orv0", &st), 0);
  int fd = xf86open("/proc/devices", O_RDONLY);
  ASSERT_GE(fd, 0);
  xf86close(fd);
  EXPECT_TRUE(box.FileCalls().empty());
}

TEST(XserverFiles, ReadLinesWriteFilesAndScan) {
  xstub::Sandbox box;
  box.AddCharDevice(247, "orv");
  FILE* f = xf86fopen("/proc/devices", "r");
  ASSERT_NE(f, nullptr);
  char line[255];
  unsigned major = 0;
  bool found = false;
  bool in_block_section = false;
  while (xf86fgets(line, sizeof line, f) != nullptr) {
    if (strstr(line, "Block devices:")) in_block_section = true;
    if (!found && strstr(line, "orv")) {
      found = xf86sscanf(line, "%u", &major) == 1;
      EXPECT_FALSE(in_block_section);
    }
  }
  EXPECT_EQ(xf86fclose(f), 0);
  EXPECT_TRUE(found);
  EXPECT_EQ(major, 247u);

  EXPECT_EQ(xf86fopen("/etc/written", "w"), nullptr);  // no /etc yet
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(xf86mkdir("/etc", 0755), 0);
  FILE* out = xf86fopen("/etc/written", "w");
  ASSERT_NE(out, nullptr);
  fputs("hello\n", out);
  EXPECT_EQ(xf86fclose(out), 0);
  EXPECT_EQ(box.ReadFile("/etc/written"), "hello\n");
}

TEST(XserverFiles, AddModuleMakesTheFirstTokenTheName) {
  xstub::Sandbox box;
  box.SetProcModules("");
  box.AddModule("orv");
  box.AddModule("other");
  EXPECT_EQ(box.ReadFile("/proc/modules")->substr(0, 4), "orv ");
  box.SetProcDevices("Character devices:\n  1 mem");  // no final newline
  box.AddCharDevice(240, "orv");
  EXPECT_EQ(box.ReadFile("/proc/devices"), "Character devices:\n  1 mem\n240 orv\n");
}

// Descriptors and streams that the stand-in did not open are never touched.
TEST(XserverFiles, ForeignDescriptorsAndStreamsAreRefused) {
  xstub::Sandbox box;
  int mine = open("/dev/null", O_RDONLY);
  ASSERT_GE(mine, 0);
  EXPECT_EQ(xf86close(mine), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_NE(fcntl(mine, F_GETFD), -1);
  EXPECT_EQ(xf86ioctl(mine, 0, nullptr), -1);
  EXPECT_EQ(errno, EBADF);
  close(mine);

  FILE* stream = tmpfile();
  char line[8];
  EXPECT_EQ(xf86fgets(line, sizeof line, stream), nullptr);
  EXPECT_EQ(xf86fclose(stream), EOF);
  EXPECT_EQ(errno, EBADF);
  fclose(stream);

  int fd = xf86open("/proc/modules", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(xf86close(fd), 0);
  EXPECT_EQ(xf86close(fd), -1);  // twice
  EXPECT_EQ(errno, EBADF);
}

TEST(XserverMessages, EveryKindIsLoggedWithItsFields) {
  xstub::Sandbox box;
  ErrorF(" Falling back to Local DMA \n");
  xf86DrvMsg(1, X_ERROR, "bad %s %d\n", "mode", 7);
  xf86DrvMsgVerb(0, X_INFO, 5, "detail\n");
  xf86Msg(X_WARNING, "w\n");
  ASSERT_EQ(box.Messages().size(), 4u);
  const xstub::Message& m = box.Messages()[1];
  EXPECT_EQ(m.source, xstub::MessageSource::kDrvMsg);
  EXPECT_EQ(m.type, X_ERROR);
  EXPECT_EQ(m.screen, 1);
  EXPECT_EQ(m.text, "bad mode 7\n");
  EXPECT_EQ(box.Messages()[2].verbosity, 5);
  EXPECT_EQ(box.Messages()[0].source, xstub::MessageSource::kErrorF);
  EXPECT_TRUE(box.Logged(" Falling back to Local DMA \n"));
  EXPECT_TRUE(box.Logged("bad mode", X_ERROR));
  EXPECT_FALSE(box.Logged("bad mode", X_INFO));
  EXPECT_EQ(box.LogText(), " Falling back to Local DMA \nbad mode 7\ndetail\nw\n");
  // A long message is kept whole; a percent in the text is not a format.
  std::string long_text(1000, 'x');
  ErrorF("%s", long_text.c_str());
  EXPECT_EQ(box.Messages().back().text, long_text);
  box.ClearMessages();
  EXPECT_TRUE(box.Messages().empty());
}

TEST(XserverAllocator, TheNthAllocationFails) {
  xstub::Sandbox box;
  box.FailAllocation(2);
  void* a = xalloc(16);
  void* b = xcalloc(4, 4);
  void* c = xalloc(16);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(box.FailedAllocations(), 1u);
  EXPECT_EQ(box.AllocationCount(), 3u);
  EXPECT_EQ(box.LiveAllocations(), 2u);

  // A failing reallocation keeps the block and its contents.
  memset(a, 0x5A, 16);
  box.FailAllocation(1);
  EXPECT_EQ(xrealloc(a, 4096), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(a)[15], 0x5A);
  void* grown = xrealloc(a, 4096);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(grown)[15], 0x5A);
  xfree(grown);
  xfree(c);
  xfree(nullptr);
  EXPECT_EQ(box.LiveAllocations(), 0u);
}

TEST(XserverAllocator, CallocZeroesAndRefusesOverflow) {
  xstub::Sandbox box;
  auto* p = static_cast<unsigned char*>(xcalloc(100, 3));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(p[i], 0) << i;
  xfree(p);
  EXPECT_EQ(xcalloc(SIZE_MAX / 2, 4), nullptr);
}

TEST(XserverAllocatorDeathTest, FreeingTwiceEndsTheTest) {
  xstub::Sandbox box;
  void* p = xalloc(8);
  xfree(p);
  EXPECT_DEATH(xfree(p), "not a live block");
}

TEST(XserverTime, SleepAdvancesTheSimulatedClockOnly) {
  orvsim::Simulation sim;
  xstub::Sandbox box;
  const uint64_t before = sim.GetClock().Now();
  xf86usleep(250000);
  EXPECT_EQ(sim.GetClock().Now() - before, 250000u * 1000u);
  EXPECT_EQ(box.SleptMicroseconds(), 250000u);
  EXPECT_EQ(xf86getpagesize(), 4096);
}

TEST(XserverKernelModule, LoadingListsTheModuleAndRoutesItsNode) {
  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  EXPECT_EQ(xf86LoadKernelModule("orv"), 0);  // nothing provided yet
  box.ProvideKernelModule("orv", 243, &kernel);
  EXPECT_EQ(xf86LoadKernelModule("orv"), 1);
  EXPECT_EQ(xf86LoadKernelModule("orv"), 1);
  EXPECT_EQ(box.KernelModuleLoads(), (std::vector<std::string>{"orv", "orv", "orv"}));

  const std::string modules = *box.ReadFile("/proc/modules");
  EXPECT_NE(modules.find("\norv 16384"), std::string::npos);
  const std::string devices = *box.ReadFile("/proc/devices");
  EXPECT_NE(devices.find("243 orv\n"), std::string::npos);
  EXPECT_EQ(devices.find("orv"), devices.rfind("orv"));  // listed once

  box.MakeDirectories("/dev/orvane");
  box.MakeNode("/dev/orvane/orv0", 243, 0);
  int fd = xf86open("/dev/orvane/orv0", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(kernel.OpenCount(0), 1u);
  EXPECT_EQ(xf86close(fd), 0);
  EXPECT_EQ(kernel.OpenCount(0), 0u);
}

}  // namespace
