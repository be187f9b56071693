// Device nodes route open, ioctl and mmap to the endpoint of their major.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr uint32_t kMajor = 231;

// Records what reaches it; ioctl answers the code's low byte, or the errno
// the test chose; mmap serves one 3-page buffer from offset 0x10000.
class RecordingEndpoint : public xstub::Endpoint {
 public:
  struct Event {
    char what;  // o, c, i, m, u
    uint32_t minor;
    uint64_t value;
    size_t length;
  };

  int Open(uint32_t minor) override {
    events.push_back({'o', minor, 0, 0});
    return open_error;
  }
  void Close(uint32_t minor) override { events.push_back({'c', minor, 0, 0}); }
  int Ioctl(uint32_t minor, unsigned long code, void* arg) override {
    events.push_back({'i', minor, code, 0});
    last_arg = arg;
    return ioctl_error ? ioctl_error : static_cast<int>(code & 0xFF);
  }
  void* Mmap(uint32_t minor, uint64_t offset, size_t length) override {
    events.push_back({'m', minor, offset, length});
    if (offset != 0x10000 || length > sizeof memory) return nullptr;
    return memory;
  }
  void Unmap(uint32_t minor, void* address, size_t length) override {
    events.push_back({'u', minor, reinterpret_cast<uintptr_t>(address), length});
  }

  std::vector<Event> events;
  int open_error = 0;
  int ioctl_error = 0;
  void* last_arg = nullptr;
  alignas(4096) unsigned char memory[3 * 4096] = {};
};

class XserverRouter : public testing::Test {
 protected:
  void SetUp() override {
    box.MakeDirectories("/dev/test");
    box.MakeNode("/dev/test/node3", kMajor, 3);
    box.RegisterEndpoint(kMajor, &endpoint);
  }

  RecordingEndpoint endpoint;
  xstub::Sandbox box;
};

TEST_F(XserverRouter, IoctlReachesTheEndpointWithMinorCodeAndRecord) {
  int fd = xf86open("/dev/test/node3", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);  // a real descriptor number
  unsigned char record[24] = {};
  EXPECT_EQ(xf86ioctl(fd, 0xC0184601, record), 0x01);
  EXPECT_EQ(endpoint.last_arg, record);
  endpoint.ioctl_error = -EPERM;
  EXPECT_EQ(xf86ioctl(fd, 0x40184602, record), -1);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(box.OpenDeviceCount(), 1u);
  EXPECT_EQ(xf86close(fd), 0);
  EXPECT_EQ(box.OpenDeviceCount(), 0u);

  ASSERT_EQ(endpoint.events.size(), 4u);
  EXPECT_EQ(endpoint.events[0].what, 'o');
  EXPECT_EQ(endpoint.events[1].what, 'i');
  EXPECT_EQ(endpoint.events[1].minor, 3u);
  EXPECT_EQ(endpoint.events[1].value, 0xC0184601u);
  EXPECT_EQ(endpoint.events[3].what, 'c');
  EXPECT_EQ(endpoint.events[3].minor, 3u);
}

TEST_F(XserverRouter, MmapGivesTheEndpointsMemoryInWholePages) {
  int fd = xf86open("/dev/test/node3", O_RDWR);
  ASSERT_GE(fd, 0);
  void* p = xf86mmap(nullptr, 5000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0x10000);
  ASSERT_NE(p, MAP_FAILED);
  EXPECT_EQ(p, endpoint.memory);
  EXPECT_EQ(endpoint.events.back().length, 8192u);
  static_cast<unsigned char*>(p)[4999] = 0xA5;
  EXPECT_EQ(endpoint.memory[4999], 0xA5);
  EXPECT_EQ(box.MappingCount(), 1u);

  EXPECT_EQ(xf86munmap(p, 5000), 0);
  EXPECT_EQ(endpoint.events.back().what, 'u');
  EXPECT_EQ(endpoint.events.back().length, 8192u);
  EXPECT_EQ(box.MappingCount(), 0u);
  EXPECT_EQ(xf86munmap(p, 5000), -1);  // not mapped any more
  EXPECT_EQ(errno, EINVAL);
  xf86close(fd);
}

// munmap must name a whole mapping: a shorter length would leave pages
// mapped on a real system, so the stand-in refuses it and keeps the mapping.
TEST_F(XserverRouter, MunmapNeedsTheStartAndTheWholeLength) {
  int fd = xf86open("/dev/test/node3", O_RDWR);
  ASSERT_GE(fd, 0);
  auto* p = static_cast<unsigned char*>(
      xf86mmap(nullptr, 3 * 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0x10000));
  ASSERT_NE(p, MAP_FAILED);
  const size_t events = endpoint.events.size();
  const struct {
    const char* name;
    void* address;
    size_t length;
  } refused[] = {
      {"one page of three", p, 4096},
      {"two pages and a byte short", p, 2 * 4096},
      {"zero length", p, 0},
      {"a page more", p, 4 * 4096},
      {"inside the mapping", p + 4096, 2 * 4096},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    errno = 0;
    EXPECT_EQ(xf86munmap(r.address, r.length), -1);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(box.MappingCount(), 1u);
  EXPECT_EQ(endpoint.events.size(), events) << "the endpoint saw no unmap";
  // Any length that rounds up to the mapping's pages is the whole mapping.
  EXPECT_EQ(xf86munmap(p, 2 * 4096 + 1), 0);
  EXPECT_EQ(box.MappingCount(), 0u);
  EXPECT_EQ(endpoint.events.back().what, 'u');
  xf86close(fd);
}

TEST_F(XserverRouter, BadMappingsAreRefused) {
  int fd = xf86open("/dev/test/node3", O_RDWR);
  ASSERT_GE(fd, 0);
  struct Case {
    const char* name;
    size_t length;
    int flags;
    off_t offset;
  };
  const Case cases[] = {
      {"unaligned offset", 4096, MAP_SHARED, 0x10004},
      {"zero length", 0, MAP_SHARED, 0x10000},
      {"fixed address", 4096, MAP_SHARED | MAP_FIXED, 0x10000},
      {"no sharing kind", 4096, 0, 0x10000},
      {"private copy", 4096, MAP_PRIVATE, 0x10000},
      {"endpoint refuses", 4096, MAP_SHARED, 0x20000},
      {"longer than the buffer", 4 * 4096, MAP_SHARED, 0x10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xf86mmap(nullptr, c.length, PROT_READ, c.flags, fd, c.offset), MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(box.MappingCount(), 0u);
  xf86close(fd);
}

TEST_F(XserverRouter, NodesWithoutADriverAndPlainFiles) {
  box.MakeNode("/dev/test/orphan", kMajor + 1, 0);
  EXPECT_EQ(xf86open("/dev/test/orphan", O_RDWR), -1);
  EXPECT_EQ(errno, ENXIO);

  endpoint.open_error = -EBUSY;
  EXPECT_EQ(xf86open("/dev/test/node3", O_RDWR), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(box.OpenDeviceCount(), 0u);

  int fd = xf86open("/proc/devices", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(xf86ioctl(fd, 0xC0184601, nullptr), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0), MAP_FAILED);
  EXPECT_EQ(errno, ENODEV);
  xf86close(fd);
}

TEST_F(XserverRouter, UnregisteringCutsOpenDescriptorsAndMappings) {
  int fd = xf86open("/dev/test/node3", O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_NE(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0x10000), MAP_FAILED);
  box.UnregisterEndpoint(kMajor);
  EXPECT_EQ(box.MappingCount(), 0u);
  EXPECT_EQ(xf86ioctl(fd, 0xC0184601, nullptr), -1);
  EXPECT_EQ(errno, ENODEV);
  const size_t events = endpoint.events.size();
  EXPECT_EQ(xf86close(fd), 0);
  EXPECT_EQ(endpoint.events.size(), events);  // the endpoint is not called
}

// An endpoint that tells its open files apart, and maps a board's
// register window the way a kernel module maps a physical range.
class FileEndpoint : public xstub::Endpoint {
 public:
  struct Event {
    char what;
    uint64_t file;
  };
  int Ioctl(uint32_t, unsigned long, void*) override { return -EBADF; }
  int OpenFile(uint32_t, uint64_t file) override {
    events.push_back({'o', file});
    return 0;
  }
  void CloseFile(uint32_t, uint64_t file) override { events.push_back({'c', file}); }
  int FileIoctl(uint32_t, uint64_t file, unsigned long, void*) override {
    events.push_back({'i', file});
    return static_cast<int>(file);
  }
  void* FileMmap(uint32_t, uint64_t file, uint64_t, size_t) override {
    events.push_back({'m', file});
    return registers;
  }
  void FileUnmap(uint32_t, uint64_t file, void*, size_t) override {
    events.push_back({'u', file});
  }
  std::vector<Event> events;
  void* registers = nullptr;
};

TEST(XserverRouterFiles, EachOpenIsItsOwnFileAndRegisterMappingsReachTheBoard) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard(orvsim::BoardConfig());
  FileEndpoint endpoint;
  endpoint.registers = board.Registers();
  xstub::Sandbox box;
  box.MakeDirectories("/dev/test");
  box.MakeNode("/dev/test/node0", kMajor, 0);
  box.RegisterEndpoint(kMajor, &endpoint);

  const int first = xf86open("/dev/test/node0", O_RDWR);
  const int second = xf86open("/dev/test/node0", O_RDWR);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  const int fileA = xf86ioctl(first, 0xC0184601, nullptr);
  const int fileB = xf86ioctl(second, 0xC0184601, nullptr);
  EXPECT_NE(fileA, fileB);
  EXPECT_EQ(xf86ioctl(first, 0xC0184601, nullptr), fileA);

  // Register accesses through a mapping of the second file go to the board.
  void* regs = xf86mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, second, 0);
  ASSERT_EQ(regs, board.Registers());
  board.ClearLog();
  xf86WriteMmio32(regs, 0x400, 0x1234);
  ASSERT_EQ(board.LoggedWrites().size(), 1u);
  EXPECT_EQ(board.LoggedWrites()[0].offset, 0x400u);
  EXPECT_EQ(xf86munmap(regs, 8192), 0);
  board.ClearLog();
  xf86WriteMmio32(regs, 0x400, 0x5678);  // plain memory again
  EXPECT_TRUE(board.LoggedWrites().empty());

  xf86close(first);
  xf86close(second);
  const std::vector<char> order = {'o', 'o', 'i', 'i', 'i', 'm', 'u', 'c', 'c'};
  ASSERT_EQ(endpoint.events.size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(endpoint.events[i].what, order[i]) << i;
  EXPECT_EQ(endpoint.events[5].file, static_cast<uint64_t>(fileB));  // mapped through the second
  EXPECT_EQ(endpoint.events[6].file, static_cast<uint64_t>(fileB));
  EXPECT_EQ(endpoint.events[7].file, static_cast<uint64_t>(fileA));
}

}  // namespace
