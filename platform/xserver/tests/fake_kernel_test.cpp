// The fake kernel endpoint answers the device node's requests through the
// router, as the X driver sends them.
#include "platform/xserver/fake_kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr uint32_t kMajor = 243;

// A board with its DMA engine behind the endpoint, whose node is open;
// with its board given, the endpoint also points the engine at the shared
// block as the module does.
struct EngineEndpoint {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard(orvsim::BoardConfig());
  orvsim::DmaEngine engine{board};
  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  int fd = -1;

  bool Open(bool withBoard) {
    kernel.AttachDmaEngine(&engine, withBoard ? &board : nullptr);
    box.RegisterEndpoint(kMajor, &kernel);
    box.MakeDirectories("/dev/orvane");
    box.MakeNode("/dev/orvane/orv0", kMajor, 0);
    fd = xf86open("/dev/orvane/orv0", O_RDWR);
    return fd >= 0;
  }
  ~EngineEndpoint() {
    if (fd >= 0) xf86close(fd);
  }
};

class XserverFakeKernel : public testing::Test {
 protected:
  void SetUp() override {
    box.RegisterEndpoint(kMajor, &kernel);
    box.MakeDirectories("/dev/orvane");
    box.MakeNode("/dev/orvane/orv2", kMajor, 2);
    fd = xf86open("/dev/orvane/orv2", O_RDWR);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { xf86close(fd); }

  void* Map(uint64_t offset, size_t size) {
    return xf86mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                    static_cast<off_t>(offset));
  }

  int Parameter(uint32_t operation, const char* name, uint32_t* value) {
    xstub::ParameterRecord r = {};
    r.operation = operation;
    r.value = *value;
    strncpy(r.name, name, sizeof r.name - 1);
    int answer = xf86ioctl(fd, xstub::kIocParameter, &r);
    *value = r.value;
    return answer;
  }

  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  int fd = -1;
};

TEST_F(XserverFakeKernel, AllocatedBuffersAreMappedAtTheirOffsetAndFreedAfterUnmap) {
  xstub::BufferRecord shared = {1, 2, 0, 2784, 0};
  xstub::BufferRecord data = {3, 2, 0, 24, 0};
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &shared), 0);
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &data), 0);
  EXPECT_NE(shared.offset, 0u);
  EXPECT_NE(shared.offset, data.offset);
  EXPECT_EQ(shared.offset % 4096, 0u);
  EXPECT_EQ(data.offset % 4096, 0u);

  auto* a = static_cast<unsigned char*>(Map(shared.offset, shared.size));
  auto* b = static_cast<unsigned char*>(Map(data.offset, data.size));
  ASSERT_NE(a, MAP_FAILED);
  ASSERT_NE(b, MAP_FAILED);
  // Zeroed, but for the 15 pending command slots of the shared locked
  // block (24 bytes from 2304 each), whose posting type says free.
  for (unsigned i = 0; i < shared.size; ++i) {
    const bool slotType = i >= 2304 && i < 2304 + 15 * 24 && (i - 2304) % 24 < 4;
    ASSERT_EQ(a[i], slotType ? 0xFF : 0) << i;
  }
  a[2783] = 0x11;
  b[0] = 0x22;
  EXPECT_EQ(kernel.FindBuffer(shared.offset)->memory[2783], 0x11);
  EXPECT_EQ(kernel.FindBuffer(data.offset)->memory[0], 0x22);

  // Freeing a mapped buffer is refused; after the unmap it succeeds.
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocFreeBuffer, &shared), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(xf86munmap(a, shared.size), 0);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocFreeBuffer, &shared), 0);
  EXPECT_EQ(kernel.FindBuffer(shared.offset), nullptr);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocFreeBuffer, &shared), -1);  // twice
  EXPECT_EQ(Map(shared.offset, 4096), MAP_FAILED);
  EXPECT_EQ(kernel.BufferCount(), 1u);
  EXPECT_EQ(xf86munmap(b, data.size), 0);
}

TEST_F(XserverFakeKernel, BadBufferRequestsAreRefused) {
  xstub::BufferRecord zero = {1, 2, 0, 0, 0};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &zero), -1);
  xstub::BufferRecord bad_kind = {7, 2, 0, 4096, 0};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &bad_kind), -1);
  xstub::BufferRecord huge = {2, 1, 0, xstub::FakeKernel::kMaxBufferSize + 1, 0};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &huge), -1);
  EXPECT_EQ(errno, ENOMEM);
  xstub::BufferRecord good = {2, 1, 0, 8192, 0};
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &good), 0);
  xstub::BufferRecord wrong_size = good;
  wrong_size.size = 4096;
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocFreeBuffer, &wrong_size), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(kernel.BufferCount(), 1u);
}

TEST_F(XserverFakeKernel, AgpPagesCanBeRefusedAndLockedPagesAreReachedByTheirBusAddress) {
  kernel.RefuseAgpBuffers(true);
  xstub::BufferRecord agp = {2, 1, 0, 8192, 0};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &agp), -1);
  EXPECT_EQ(errno, ENOMEM);
  xstub::BufferRecord locked = {1, 1, 0, 8192, 0};
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &locked), 0);
  // The mmap offset is the address the engine reads the pages at.
  EXPECT_EQ(kernel.ResolveBus(locked.offset + 4096, 16),
            kernel.FindBuffer(locked.offset)->memory + 4096);
  EXPECT_EQ(kernel.ResolveBus(locked.offset + 8190, 16), nullptr) << "past its pages";
  kernel.RefuseAgpBuffers(false);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &agp), 0);
}

TEST_F(XserverFakeKernel, NamedParametersComeFromTheTable) {
  kernel.SetParameter("swEnableDma", 1);
  uint32_t value = 0;
  EXPECT_EQ(Parameter(1, "swEnableDma", &value), 0);
  EXPECT_EQ(value, 1u);
  value = 77;
  EXPECT_EQ(Parameter(0, "swEnableDma", &value), 0);
  EXPECT_EQ(kernel.Parameter("swEnableDma"), 77u);
  EXPECT_EQ(Parameter(1, "swUnknown", &value), -1);
  EXPECT_EQ(Parameter(0, "swUnknown", &value), -1);
  EXPECT_FALSE(kernel.Parameter("swUnknown").has_value());
  EXPECT_EQ(Parameter(2, "swEnableDma", &value), -1);

  xstub::ParameterRecord unterminated;
  unterminated.operation = 1;
  memset(unterminated.name, 'a', sizeof unterminated.name);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocParameter, &unterminated), -1);
}

TEST_F(XserverFakeKernel, MinorByLocation) {
  kernel.SetMinor(1, 0, 0, 5);
  xstub::LocationRecord known = {1, 0, 0, 0xFFFFFFFF};
  xstub::LocationRecord unknown = {2, 0, 0, 0xFFFFFFFF};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocMinorByLocation, &known), 0);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocMinorByLocation, &unknown), 0);
  EXPECT_EQ(known.minor, 5u);
  EXPECT_EQ(unknown.minor, xstub::kUnknownMinor);
}

TEST_F(XserverFakeKernel, EnableAnswersOneAndFillsDistinctHandles) {
  unsigned char first[128];
  unsigned char second[128];
  memset(first, 0x33, sizeof first);
  memset(second, 0x33, sizeof second);
  kernel.SetNextHandle(0xFFFF888000001000);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocEnable, first), 1);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocEnable, second), 1);
  uint64_t h1, h2;
  memcpy(&h1, first + xstub::kEnableHandleOffset, 8);
  memcpy(&h2, second + xstub::kEnableHandleOffset, 8);
  EXPECT_EQ(h1, 0xFFFF888000001000u);
  EXPECT_NE(h1, h2);
  EXPECT_EQ(first[119], 0x33);  // the mode is left alone
  // The log keeps the record as sent, before the handle was filled.
  auto calls = kernel.CallsTo(0x14);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].record.size(), 128u);
  EXPECT_EQ(calls[0].record[120], 0x33);
  EXPECT_EQ(calls[0].answer, 1);
}

// Requests 0x15 to 0x1d answer 0 and are logged with their record or value.
TEST_F(XserverFakeKernel, DeviceRequestsAnswerZeroAndAreLogged) {
  struct Case {
    unsigned long code;
    size_t record;  // 0: by value
  };
  const Case cases[] = {
      {xstub::kIocDisable, 0},         {xstub::kIocStart, 0},
      {xstub::kIocStop, 0},            {xstub::kIocAllocBlock, 128},
      {xstub::kIocFreeBlock, 128},     {xstub::kIocLocalMemory, 96},
      {xstub::kIocPostDma, 24},        {xstub::kIocPrimarySurface, 24},
      {xstub::kIocVSyncState, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    kernel.ClearCalls();
    unsigned char record[128];
    for (unsigned i = 0; i < sizeof record; ++i) record[i] = static_cast<unsigned char>(i);
    void* arg = c.record ? static_cast<void*>(record) : reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(xf86ioctl(fd, c.code, arg), 0);
    ASSERT_EQ(kernel.Calls().size(), 1u);
    const xstub::KernelCall& call = kernel.Calls()[0];
    EXPECT_EQ(call.minor, 2u);
    EXPECT_EQ(call.code, c.code);
    ASSERT_EQ(call.record.size(), c.record);
    if (c.record) {
      EXPECT_EQ(call.record.back(), c.record - 1);
    } else {
      EXPECT_EQ(call.value, 0x1234u);
    }
  }
}

TEST_F(XserverFakeKernel, CodesThatDoNotMatchTheirRecordAreRefused) {
  unsigned char record[128] = {};
  struct Case {
    const char* name;
    unsigned long code;
    void* arg;
    int error;
  };
  const Case cases[] = {
      {"size field one short", 0xC0174601, record, EINVAL},
      {"size field of another request", 0xC0804601, record, EINVAL},
      {"no direction bits", 0x00184601, record, EINVAL},
      {"enable with 120 bytes", 0xC0784614, record, EINVAL},
      {"unknown number", 0xC0184605, record, ENOTTY},
      {"another type", 0xC0184701, record, ENOTTY},
      {"null record", xstub::kIocPostDma, nullptr, EFAULT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xf86ioctl(fd, c.code, c.arg), -1);
    EXPECT_EQ(errno, c.error);
  }
  EXPECT_EQ(kernel.Calls().size(), std::size(cases));
  EXPECT_EQ(kernel.BufferCount(), 0u);
}

TEST_F(XserverFakeKernel, HandlersReplaceAnAnswer) {
  kernel.SetAnswer(0x14, 0);
  unsigned char record[128] = {};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocEnable, record), 0);
  uint64_t handle;
  memcpy(&handle, record + xstub::kEnableHandleOffset, 8);
  EXPECT_EQ(handle, 0u);

  kernel.SetHandler(0x1a, [](uint32_t, void* arg) {
    uint32_t size = 0x100000;
    memcpy(static_cast<unsigned char*>(arg) + 80, &size, 4);
    return 0;
  });
  unsigned char info[96] = {};
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocLocalMemory, info), 0);
  uint32_t size;
  memcpy(&size, info + 80, 4);
  EXPECT_EQ(size, 0x100000u);
  kernel.SetAnswer(0x1b, -EIO);
  EXPECT_EQ(xf86ioctl(fd, xstub::kIocPostDma, info), -1);
  EXPECT_EQ(errno, EIO);
}

// Transform sequences wait in the pending slots of the shared locked
// block; a vertical sync runs those whose VSync request is on for it.
TEST(XserverFakeKernelVSync, RequestsOnRunTheirSlotsAtTheirVerticalSync) {
  EngineEndpoint e;
  ASSERT_TRUE(e.Open(false));
  orvsim::DmaEngine& engine = e.engine;
  xstub::FakeKernel& kernel = e.kernel;
  const int fd = e.fd;
  xstub::BufferRecord shared = {1, 2, 0, 2784, 0};
  xstub::BufferRecord commands = {3, 1, 0, 4096, 0};
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &shared), 0);
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &commands), 0);
  uint8_t* block = kernel.FindBuffer(shared.offset)->memory;
  auto* words = reinterpret_cast<uint32_t*>(kernel.FindBuffer(commands.offset)->memory);
  // Foreground and background registers from the buffer's system memory.
  words[0] = 0x2121C6C5;
  words[1] = 0x11;
  words[2] = 0x22;
  auto slot = [block](uint32_t s) { return reinterpret_cast<uint32_t*>(block + 2304 + 24 * s); };
  const auto bus = static_cast<uint32_t>(commands.offset);
  slot(5)[0] = 1;
  slot(5)[1] = bus;
  slot(5)[2] = (bus + 12) | 3;
  auto request = [fd](uint32_t flags, uint32_t interrupt, uint32_t state, uint32_t identity) {
    xstub::VSyncRequest r = {flags, interrupt, state, identity};
    return xf86ioctl(fd, xstub::kIocVSyncState, &r);
  };
  const std::vector<orvsim::DmaEngine::RegWrite> drawn = {{0x1314, 0x11}, {0x1318, 0x22}};

  EXPECT_EQ(kernel.VerticalSync(2), 0u) << "no request yet";
  ASSERT_EQ(request(0x10000000, 2, 1, 5), 0);
  ASSERT_EQ(request(0x10000000, 2, 1, 5), 0);  // the same request once
  ASSERT_EQ(request(2, 2, 1, 9), 0);           // its slot is free: runs nothing
  ASSERT_EQ(request(2, 2, 1, 99), 0);          // no such slot
  EXPECT_EQ(kernel.ActiveVSyncRequests().size(), 3u);
  EXPECT_EQ(kernel.VerticalSync(1), 0u) << "another interrupt";
  EXPECT_EQ(kernel.VerticalSync(2), 1u);
  EXPECT_EQ(engine.Writes(), drawn);
  EXPECT_EQ(kernel.VerticalSync(2), 1u) << "again at every sync";
  EXPECT_EQ(engine.Writes().size(), 4u);

  // While the command lock is held the sync is left out.
  engine.ClearWrites();
  block[124] = 1;
  EXPECT_EQ(kernel.VerticalSync(2), 0u);
  EXPECT_EQ(kernel.SkippedVerticalSyncs(), 1u);
  block[124] = 0;
  EXPECT_TRUE(engine.Writes().empty());

  ASSERT_EQ(request(0x10000000, 2, 0, 5), 0);
  EXPECT_EQ(kernel.VerticalSync(2), 0u) << "switched off";
  EXPECT_EQ(kernel.VSyncRequests().size(), 5u);
  EXPECT_EQ(kernel.VSyncRequests().back(), (xstub::VSyncRequest{0x10000000, 2, 0, 5}));
}

// With its board given, the endpoint points the engine at the shared
// locked block while it exists: a tag the processor writes straight to
// the sync-tag register shows in the block's completed-tag word at once,
// with no post in between.
TEST(XserverFakeKernelDma, EnginePointedAtSharedBlockReportsEveryTag) {
  EngineEndpoint e;
  ASSERT_TRUE(e.Open(true));
  orvsim::Board& board = e.board;
  orvsim::DmaEngine& engine = e.engine;
  xstub::FakeKernel& kernel = e.kernel;
  const int fd = e.fd;
  xstub::BufferRecord other = {1, 2, 0, 4096, 0};
  xstub::BufferRecord shared = {1, 2, 0, 2784, 0};
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &other), 0);
  EXPECT_EQ(board.Peek(orvsim::kDmaRegSharedBase, 4), 0u) << "no shared block yet";
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocAllocBuffer, &shared), 0);
  EXPECT_EQ(board.Peek(orvsim::kDmaRegSharedBase, 4), static_cast<uint32_t>(shared.offset));

  board.RegWrite(orvsim::kDmaRegSyncTag, 4, 0x29);
  uint32_t completed;
  memcpy(&completed, kernel.FindBuffer(shared.offset)->memory + 16, 4);
  EXPECT_EQ(completed, 0x29u);

  // Gone with the block: the engine writes into no freed memory.
  ASSERT_EQ(xf86ioctl(fd, xstub::kIocFreeBuffer, &shared), 0);
  EXPECT_EQ(board.Peek(orvsim::kDmaRegSharedBase, 4), 0u);
  board.RegWrite(orvsim::kDmaRegSyncTag, 4, 0x31);
  EXPECT_EQ(engine.ReachedTag(), 0x31u);
}

}  // namespace
