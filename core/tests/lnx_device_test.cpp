// The device node and its requests, in the X server stand-in's sandbox with
// the fake kernel endpoint behind the node.
#include "core/lnx_device.h"

#include "core/common_data.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr uint32_t kMajor = 240;

class DeviceNode : public testing::Test {
 protected:
  void SetUp() override {
    box.SetProcDevices("Character devices:\n  1 mem\n  4 tty\n");
    box.AddCharDevice(kMajor, "orv");
    box.RegisterEndpoint(kMajor, &kernel);
    box.MakeDirectories("/dev/orvane");
  }

  mode_t StatMode(const char* path) {
    struct stat info;
    EXPECT_EQ(xf86stat(path, &info), 0) << path;
    return info.st_mode;
  }

  xstub::FakeKernel kernel;  // outlives the sandbox's registration
  xstub::Sandbox box;
};

TEST_F(DeviceNode, MissingNodeIsCreatedWithTheKernelsNumber) {
  LnxDevice device(3);
  ASSERT_TRUE(device.Open());
  EXPECT_EQ(device.major, kMajor);
  EXPECT_GE(device.fd, 0);
  auto node = box.Node("/dev/orvane/orv3");
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->major, kMajor);
  EXPECT_EQ(node->minor, 3u);
  EXPECT_EQ(StatMode("/dev/orvane/orv3"), static_cast<mode_t>(S_IFCHR | 0666));
  EXPECT_EQ(kernel.OpenCount(3), 1u);
}

TEST_F(DeviceNode, NodeWithAWrongNumberIsReplaced) {
  box.MakeNode("/dev/orvane/orv3", kMajor, 9, 0600);
  LnxDevice device(3);
  ASSERT_TRUE(device.Open());
  auto node = box.Node("/dev/orvane/orv3");
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->minor, 3u);
  EXPECT_EQ(StatMode("/dev/orvane/orv3"), static_cast<mode_t>(S_IFCHR | 0666));
  EXPECT_EQ(StatMode("/dev/orvane") & 07777, 0755u);
}

TEST_F(DeviceNode, CorrectNodeIsKeptAndGetsTheNodeMode) {
  box.MakeNode("/dev/orvane/orv1", kMajor, 1, 0600);
  LnxDevice device(1);
  ASSERT_TRUE(device.Open());
  EXPECT_EQ(StatMode("/dev/orvane/orv1"), static_cast<mode_t>(S_IFCHR | 0666));
}

TEST_F(DeviceNode, MissingDirectoryIsCreatedWithDirectoryMode) {
  box.MakeDirectories("/tmp");  // the sandbox root needs /dev only
  ASSERT_EQ(xf86remove("/dev/orvane"), 0);
  LnxDevice device(2);
  ASSERT_TRUE(device.Open());
  EXPECT_EQ(StatMode("/dev/orvane"), static_cast<mode_t>(S_IFDIR | 0755));
  EXPECT_TRUE(box.Node("/dev/orvane/orv2").has_value());
}

TEST_F(DeviceNode, DeviceNumberEncoding) {
  struct Case {
    uint32_t major, minor;
  };
  for (const Case& c : {Case{240, 3}, Case{4095, 255}, Case{300, 70000}, Case{5000, 1 << 19}}) {
    EXPECT_EQ(LnxDevice::DeviceNumber(c.major, c.minor),
              static_cast<uint64_t>(xstub::MakeDevice(c.major, c.minor)))
        << c.major << ":" << c.minor;
  }
}

TEST_F(DeviceNode, OpenCountsAndCloseClosesOnceAtZero) {
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  ASSERT_TRUE(device.Open());
  EXPECT_EQ(device.openCount, 2);
  EXPECT_EQ(box.OpenDeviceCount(), 1u);
  device.Close();
  EXPECT_EQ(box.OpenDeviceCount(), 1u);
  device.Close();
  EXPECT_EQ(device.fd, -1);
  EXPECT_EQ(box.OpenDeviceCount(), 0u);
  device.Close();  // one close too many changes nothing
  EXPECT_EQ(device.openCount, 0);
}

TEST_F(DeviceNode, DestroyingAnOpenDeviceClosesItsDescriptor) {
  auto* device = new LnxDevice(4);
  ASSERT_TRUE(device->Open());
  ASSERT_TRUE(device->Open());  // two heads still hold it
  EXPECT_EQ(kernel.OpenCount(4), 1u);
  delete device;
  EXPECT_EQ(box.OpenDeviceCount(), 0u);
  EXPECT_EQ(kernel.OpenCount(4), 0u);
}

TEST_F(DeviceNode, FailedOpenNeverClosesAnInvalidDescriptor) {
  box.SetProcDevices("Character devices:\n  1 mem\n");  // the module is not there
  auto* device = new LnxDevice(0);
  EXPECT_FALSE(device->Open());
  EXPECT_EQ(device->fd, -1);
  EXPECT_EQ(device->openCount, 1);
  errno = 0;
  device->Close();
  EXPECT_EQ(errno, 0) << "closed descriptor -1";
  EXPECT_EQ(device->openCount, 0);
  ASSERT_TRUE(device->Open() == false);
  errno = 0;
  delete device;  // the destructor closes once
  EXPECT_EQ(errno, 0);
}

TEST_F(DeviceNode, RequestCodesMatchTheKernelSide) {
  struct Case {
    const char* name;
    uint32_t code;
    unsigned long kernelCode;
    uint32_t recordSize;
  };
  const Case cases[] = {
      {"alloc buffer", ORV_IOCTL_ALLOC_BUFFER, xstub::kIocAllocBuffer, sizeof(orv_ioctl_buffer)},
      {"free buffer", ORV_IOCTL_FREE_BUFFER, xstub::kIocFreeBuffer, sizeof(orv_ioctl_buffer)},
      {"parameter", ORV_IOCTL_PARAMETER, xstub::kIocParameter, sizeof(OrvParameterRequest)},
      {"minor", ORV_IOCTL_GET_MINOR, xstub::kIocMinorByLocation, sizeof(OrvMinorRequest)},
      {"enable", ORV_IOCTL_ENABLE_DEVICE, xstub::kIocEnable, 128},
      {"disable", ORV_IOCTL_DISABLE_DEVICE, xstub::kIocDisable, 8},
      {"start", ORV_IOCTL_START_DEVICE, xstub::kIocStart, 8},
      {"stop", ORV_IOCTL_STOP_DEVICE, xstub::kIocStop, 4},
      {"alloc block", ORV_IOCTL_ALLOC_BLOCK, xstub::kIocAllocBlock, sizeof(OrvBlockRequest)},
      {"free block", ORV_IOCTL_FREE_BLOCK, xstub::kIocFreeBlock, sizeof(OrvBlockRequest)},
      {"local memory", ORV_IOCTL_LOCAL_MEMORY, xstub::kIocLocalMemory,
       sizeof(OrvLocalMemoryRequest)},
      {"post", ORV_IOCTL_POST_DMA, xstub::kIocPostDma, sizeof(OrvDmaPostRequest)},
      {"primary", ORV_IOCTL_DECLARE_PRIMARY, xstub::kIocPrimarySurface, 24},
      {"vsync", ORV_IOCTL_VSYNC_STATE, xstub::kIocVSyncState, sizeof(OrvVSyncStateRequest)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.code, c.kernelCode) << c.name;
    EXPECT_EQ(OrvIocSize(c.code), c.recordSize) << c.name;
    EXPECT_EQ((c.code >> 8) & 0xFF, static_cast<uint32_t>('F')) << c.name;
  }
}

TEST_F(DeviceNode, IoctlRefusesMismatchedRecordsWithoutASystemCall) {
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  OrvParameterRequest record = {};
  struct Case {
    const char* name;
    uint32_t code;
    void* buffer;
    uint32_t size;
    bool issued;
  };
  const Case cases[] = {
      {"no direction bits", ORV_IOCTL_PARAMETER & 0x3FFFFFFF, &record, 60, false},
      {"size one short", ORV_IOCTL_PARAMETER, &record, 59, false},
      {"size field differs", ORV_IOCTL_PARAMETER, &record, 24, false},
      {"matching record", ORV_IOCTL_PARAMETER, &record, 60, true},
      {"null buffer, any size", ORV_IOCTL_STOP_DEVICE, nullptr, 99, true},
      {"null buffer, no direction", 0x4617, nullptr, 0, true},
  };
  for (const Case& c : cases) {
    kernel.ClearCalls();
    const int answer = device.Ioctl(c.code, c.buffer, c.size);
    EXPECT_EQ(kernel.Calls().size(), c.issued ? 1u : 0u) << c.name;
    if (!c.issued) {
      EXPECT_EQ(answer, -1) << c.name;
    }
  }
}

TEST_F(DeviceNode, ParameterNames) {
  const std::string key60(60, 'k');
  struct Case {
    const char* section;
    std::string key;
    std::string name;
  };
  const Case cases[] = {
      {"3D", "Antialias", "reg3DAntialias"},
      {"OpenGL", "Vsync", "reg3DVsync"},
      {"Driver", "BmDebugFlags", "swBmDebugFlags"},
      {"System", "Agp", "regSysAgp"},
      {"Video", "Overlay", "Overlay"},
      {"", "Plain", "Plain"},
      {"3D", key60, "reg3D" + key60.substr(0, 44)},
      {"Driver", key60, "sw" + key60.substr(0, 47)},
      {"Xtra", key60, key60.substr(0, 49)},
      {"S", "", "regSys"},
  };
  for (const Case& c : cases) {
    char out[64];
    memset(out, 'X', sizeof(out));
    LnxGetParameterName(c.section, c.key.c_str(), out);
    EXPECT_EQ(std::string(out), c.name) << "section " << c.section;
    EXPECT_LE(strlen(out), kParameterNameMax);
  }
  LnxGetParameterName("3D", "x", nullptr);  // nothing happens
}

TEST_F(DeviceNode, BuffersAreAllocatedMappedAndFreed) {
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  orv_ioctl_buffer buffer = {kOrvBufferShared, kOrvBufferFlagCommon, 0, 24, 0x77};
  auto* mapped = static_cast<uint8_t*>(device.AllocateBuffer(buffer));
  ASSERT_NE(mapped, nullptr);
  ASSERT_EQ(kernel.CallsTo(0x01).size(), 1u);
  // The sender clears the offset; the module fills it.
  orv_ioctl_buffer sent;
  memcpy(&sent, kernel.CallsTo(0x01)[0].record.data(), sizeof(sent));
  EXPECT_EQ(sent.offset, 0u);
  const xstub::FakeKernel::Buffer* kept = kernel.FindBuffer(buffer.offset);
  ASSERT_NE(kept, nullptr);
  mapped[5] = 0x5A;
  EXPECT_EQ(kept->memory[5], 0x5A);
  EXPECT_EQ(box.MappingCount(), 1u);

  EXPECT_TRUE(device.FreeBuffer(mapped, buffer));
  EXPECT_EQ(box.MappingCount(), 0u);
  ASSERT_EQ(kernel.CallsTo(0x02).size(), 1u);
  EXPECT_EQ(memcmp(kernel.CallsTo(0x02)[0].record.data(), &buffer, sizeof(buffer)), 0);
  EXPECT_EQ(kernel.BufferCount(), 0u);
}

// A kernel module whose buffers cannot be mapped.
class UnmappableKernel : public xstub::FakeKernel {
 public:
  void* Mmap(uint32_t, uint64_t, size_t) override { return nullptr; }
};

TEST_F(DeviceNode, BufferThatCannotBeMappedIsGivenBack) {
  UnmappableKernel unmappable;
  box.RegisterEndpoint(kMajor, &unmappable);
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  orv_ioctl_buffer buffer = {kOrvBufferSharedLocked, kOrvBufferFlagCommon, 0, 2784, 0};
  EXPECT_EQ(device.AllocateBuffer(buffer), nullptr);
  ASSERT_EQ(unmappable.CallsTo(0x01).size(), 1u);
  ASSERT_EQ(unmappable.CallsTo(0x02).size(), 1u);
  EXPECT_EQ(memcmp(unmappable.CallsTo(0x02)[0].record.data(), &buffer, sizeof(buffer)), 0);
  EXPECT_EQ(unmappable.CallsTo(0x02)[0].answer, 0);
  EXPECT_EQ(unmappable.BufferCount(), 0u);
  device.Close();
  box.RegisterEndpoint(kMajor, &kernel);
}

TEST_F(DeviceNode, RefusedAllocationMapsNothing) {
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  kernel.SetAnswer(0x01, -ENOMEM);
  orv_ioctl_buffer buffer = {kOrvBufferShared, kOrvBufferFlagCommon, 0, 24, 0};
  EXPECT_EQ(device.AllocateBuffer(buffer), nullptr);
  EXPECT_EQ(box.MappingCount(), 0u);
}

TEST_F(DeviceNode, StartAndStopHeads) {
  LnxDevice device(0);
  ASSERT_TRUE(device.Open());
  PDEV* head = reinterpret_cast<PDEV*>(0x1000);
  EXPECT_TRUE(device.StopHead(1));  // nothing started: no request
  EXPECT_TRUE(kernel.Calls().empty());

  kernel.SetAnswer(0x16, -EINVAL);
  EXPECT_FALSE(device.StartHead(head, 0xABCD));
  EXPECT_EQ(device.started, nullptr);
  kernel.SetAnswer(0x16, 0);
  EXPECT_TRUE(device.StartHead(head, 0xABCD));
  EXPECT_EQ(device.started, head);
  ASSERT_EQ(kernel.CallsTo(0x16).size(), 2u);
  EXPECT_EQ(kernel.CallsTo(0x16)[1].value, 0xABCDu);

  EXPECT_TRUE(device.StopHead(2));
  ASSERT_EQ(kernel.CallsTo(0x17).size(), 1u);
  EXPECT_EQ(kernel.CallsTo(0x17)[0].value, 2u);
  EXPECT_EQ(device.started, head);  // stop leaves it
  kernel.SetAnswer(0x17, -EIO);
  EXPECT_FALSE(device.StopHead(2));
}

TEST_F(DeviceNode, MinorFromTheKernelOrThePciHandle) {
  kernel.SetMinor(1, 2, 3, 7);
  EXPECT_EQ(LnxDevice::GetMinor(1, 2, 3, false), 7u);
  ASSERT_EQ(kernel.CallsTo(0x06).size(), 1u);
  EXPECT_TRUE(box.Node("/dev/orvane/orv0").has_value());  // the probe's node
  EXPECT_EQ(box.OpenDeviceCount(), 0u);
  // Unknown location, local mode, and no module: the PCI handle.
  EXPECT_EQ(LnxDevice::GetMinor(4, 5, 6, false), pciTag(4, 5, 6));
  kernel.ClearCalls();
  EXPECT_EQ(LnxDevice::GetMinor(1, 2, 3, true), pciTag(1, 2, 3));
  EXPECT_TRUE(kernel.Calls().empty());
  box.SetProcDevices("Character devices:\n");
  EXPECT_EQ(LnxDevice::GetMinor(1, 2, 3, false), pciTag(1, 2, 3));
}

TEST_F(DeviceNode, EmulatedDeviceAnswersItself) {
  EmulatedLnxDevice device(pciTag(0, 5, 0));
  EXPECT_EQ(device.modeWord, 2u);
  ASSERT_TRUE(device.Open());
  EXPECT_GE(device.fd, 0);  // /dev/mem
  uint8_t record[128] = {};
  struct Case {
    uint32_t code;
    int answer;
  };
  const Case cases[] = {
      {ORV_IOCTL_ENABLE_DEVICE, 1}, {ORV_IOCTL_PARAMETER, -1},  {ORV_IOCTL_START_DEVICE, 0},
      {ORV_IOCTL_STOP_DEVICE, 0},   {ORV_IOCTL_DECLARE_PRIMARY, 0}, {ORV_IOCTL_ALLOC_BLOCK, 0},
      {ORV_IOCTL_POST_DMA, 0},      {ORV_IOCTL_LOCAL_MEMORY, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(device.Ioctl(c.code, record, OrvIocSize(c.code)), c.answer) << std::hex << c.code;
  }
  for (uint8_t byte : record) ASSERT_EQ(byte, 0);  // nothing filled: kernel handle stays 0
  orv_ioctl_buffer buffer = {1, 2, 0, 2784, 0};
  EXPECT_EQ(device.AllocateBuffer(buffer), nullptr);
  EXPECT_FALSE(device.FreeBuffer(nullptr, buffer));
  EXPECT_TRUE(kernel.Calls().empty());
}

TEST_F(DeviceNode, MajorNumberFromProcDevices) {
  struct Case {
    const char* contents;
    bool found;
    uint32_t major;
  };
  const Case cases[] = {
      {"Character devices:\n  1 mem\n240 orv\n241 orvx\n", true, 240},
      {"Character devices:\n  1 mem\n", false, 0},
      {"Character devices for orv:\n 250 orv\n", true, 250},  // a line without a number
      {"", false, 0},
  };
  for (const Case& c : cases) {
    box.SetProcDevices(c.contents);
    uint32_t major = 99;
    EXPECT_EQ(LnxGetMajorDeviceNumber(&major), c.found) << c.contents;
    EXPECT_EQ(major, c.major) << c.contents;
  }
  EXPECT_FALSE(LnxGetMajorDeviceNumber(nullptr));
}

TEST_F(DeviceNode, ModuleLoadedFromProcModules) {
  struct Case {
    const char* contents;
    bool loaded;
  };
  const Case cases[] = {
      {"video 1 0 - Live 0x0\norv 12345 0 - Live 0x0\n", true},
      {"video 1 0 - Live 0x0 orv\n", false},  // only the first token counts
      {"\t  orv_core 1 0\n", true},
      {"", false},
  };
  for (const Case& c : cases) {
    box.SetProcModules(c.contents);
    EXPECT_EQ(LnxIsModuleLoaded(), c.loaded) << c.contents;
  }
}

TEST_F(DeviceNode, RequestManagerSlots) {
  LnxDevice a(0), b(1);
  auto common = std::make_unique<CommonData>();
  IocRequestSlot* slots = common->requestSlots;
  EXPECT_EQ(IocRequestGet(slots, kIocAnyUnit), nullptr);
  ASSERT_TRUE(IocRequestPlace(slots[2], &a));
  EXPECT_FALSE(IocRequestPlace(slots[2], &b));  // filled slots stay
  EXPECT_EQ(static_cast<void*>(slots[2].manager), static_cast<void*>(slots[2].storage));
  struct Case {
    uint32_t index;
    LnxDevice* device;
  };
  for (const Case& c : {Case{0, nullptr}, Case{2, &a}, Case{4, nullptr}, Case{kIocAnyUnit, &a},
                        Case{0xFFFFFFFE, nullptr}}) {
    EXPECT_EQ(IocRequestGet(slots, c.index), c.device) << c.index;
    EXPECT_EQ(IocRequestMgr::Get(common.get(), c.index), c.device) << c.index;
  }
  EXPECT_EQ(IocRequestGet(nullptr, 2), nullptr);
  EXPECT_EQ(IocRequestMgr::Get(nullptr, 2), nullptr);
  IocRequestPlace(slots[1], &b);
  EXPECT_EQ(IocRequestGet(slots, kIocAnyUnit), &b);
  IocRequestClear(slots[1]);
  EXPECT_EQ(slots[1].manager, nullptr);
  EXPECT_EQ(IocRequestGet(slots, kIocAnyUnit), &a);
}

class DeviceTable : public DeviceNode {};

TEST_F(DeviceTable, PrepareCreatesTheDirectoryAndLoadsTheModule) {
  ASSERT_EQ(xf86remove("/dev/orvane"), 0);
  box.SetProcModules("");
  box.ProvideKernelModule("orv", kMajor, &kernel);
  EXPECT_TRUE(LnxDeviceTable::Prepare());
  EXPECT_EQ(StatMode("/dev/orvane"), static_cast<mode_t>(S_IFDIR | 0755));
  EXPECT_EQ(box.KernelModuleLoads(), std::vector<std::string>{"orv"});
  EXPECT_TRUE(LnxDeviceTable::Prepare());  // loaded now: no second load
  EXPECT_EQ(box.KernelModuleLoads().size(), 1u);
}

TEST_F(DeviceTable, NoModuleMeansLocalDma) {
  box.SetProcModules("");
  EXPECT_FALSE(LnxDeviceTable::Prepare());
  // The binding, which knows the screen, logs the fall-back.
  EXPECT_FALSE(box.Logged(" Falling back to Local DMA \n"));
}

TEST_F(DeviceTable, HeadsOfOneBoardShareOneDevice) {
  LnxDeviceTable table;
  LnxDevice* first = table.Acquire(3, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(table.Acquire(3, false), first);
  EXPECT_EQ(first->openCount, 2);
  EXPECT_EQ(table.Size(), 1u);
  LnxDevice* local = table.Acquire(pciTag(0, 9, 0), true);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local->modeWord, 2u);
  table.Release(first);
  EXPECT_EQ(table.Find(3), first);
  table.Release(first);
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_EQ(table.Size(), 1u);
  EXPECT_EQ(kernel.OpenCount(3), 0u);
}

TEST_F(DeviceTable, DeviceWhoseFirstOpenFailsIsDropped) {
  box.SetProcDevices("Character devices:\n");
  LnxDeviceTable table;
  EXPECT_EQ(table.Acquire(3, false), nullptr);
  EXPECT_EQ(table.Size(), 0u);
}

}  // namespace
