// Os services of the X-driver build: each operation becomes one request of
// the device node, answered by the fake kernel endpoint.
#include "core/os.h"

#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include "core/lnx_device.h"
#include "core/orv_ioctl.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr uint32_t kMajor = 241;

class OsServices : public testing::Test {
 protected:
  void SetUp() override {
    box.AddCharDevice(kMajor, "orv");
    box.RegisterEndpoint(kMajor, &kernel);
    box.MakeDirectories("/dev/orvane");
    ASSERT_TRUE(device.Open());
  }
  void TearDown() override { device.Close(); }

  template <class Record>
  Record Sent(uint8_t nr, size_t index = 0) {
    auto calls = kernel.CallsTo(nr);
    Record record = {};
    if (index < calls.size() && calls[index].record.size() == sizeof(Record)) {
      memcpy(&record, calls[index].record.data(), sizeof(Record));
    } else {
      ADD_FAILURE() << "no record of request " << int(nr);
    }
    return record;
  }

  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  LnxDevice device{0};
};

uint32_t Word(const OrvBlockRequest& r, size_t offset) {
  uint32_t value;
  memcpy(&value, reinterpret_cast<const uint8_t*>(&r) + offset, 4);
  return value;
}

TEST_F(OsServices, PostingRanges) {
  EXPECT_TRUE(OsPostBusmasteringBuffer(&device, 0x100, 0x100, 3));
  EXPECT_TRUE(kernel.Calls().empty());  // an empty range sends nothing

  EXPECT_TRUE(OsPostBusmasteringBuffer(&device, 0x100, 0x200, 0x3));
  auto primary = Sent<OrvDmaPostRequest>(0x1B);
  EXPECT_EQ(primary.kind, kDmaPostPrimary);
  EXPECT_EQ(primary.start, 0x100u);
  EXPECT_EQ(primary.end, 0x203u);

  EXPECT_TRUE(OsPostBusmasteringBufferVideo(&device, 0x10, 0x20, 0x1, 7, 8, 9));
  auto video = Sent<OrvDmaPostRequest>(0x1B, 1);
  EXPECT_EQ(video.kind, kDmaPostVideo);
  EXPECT_EQ(video.end, 0x21u);
  EXPECT_EQ(video.video[0], 7u);
  EXPECT_EQ(video.video[2], 9u);

  kernel.SetAnswer(0x1B, -EBUSY);
  EXPECT_FALSE(OsPostBusmasteringBuffer(&device, 0, 4, 0));
}

TEST_F(OsServices, RegistryReadsHonourTheWidth) {
  kernel.SetParameter("swBmDebugFlags", 0x12345678);
  struct Case {
    uint32_t width;
    uint32_t expected;
  };
  for (const Case& c : {Case{1, 0xAAAAAA78}, Case{2, 0xAAAA5678}, Case{4, 0x12345678},
                        Case{7, 0x12345678}}) {
    uint32_t out = 0xAAAAAAAA;
    EXPECT_TRUE(OsReadDrvSwitchValue(&device, "BmDebugFlags", &out, c.width));
    EXPECT_EQ(out, c.expected) << "width " << c.width;
  }
  auto sent = Sent<OrvParameterRequest>(0x03);
  EXPECT_EQ(sent.operation, kParameterRead);
  EXPECT_STREQ(sent.name, "swBmDebugFlags");

  uint32_t out = 0xAAAAAAAA;
  EXPECT_FALSE(OsReadRegistryValue(&device, "3D", "Unknown", &out, 4));
  EXPECT_EQ(out, 0xAAAAAAAAu);  // a failed read leaves the value alone
}

TEST_F(OsServices, RegistryWritesTakeTheWidth) {
  kernel.SetParameter("reg3DLevel", 0);
  const uint32_t in = 0xCAFEBEEF;
  struct Case {
    uint32_t width;
    uint32_t stored;
  };
  for (const Case& c : {Case{1, 0xEF}, Case{2, 0xBEEF}, Case{4, 0xCAFEBEEF}}) {
    EXPECT_TRUE(OsWriteRegistryValue(&device, "3D", "Level", &in, c.width));
    EXPECT_EQ(kernel.Parameter("reg3DLevel"), c.stored) << "width " << c.width;
  }
  EXPECT_EQ(Sent<OrvParameterRequest>(0x03).operation, kParameterWrite);
}

TEST_F(OsServices, EmulatedDeviceHasNoNamedParameters) {
  EmulatedLnxDevice local(pciTag(0, 1, 0));
  uint8_t out = 0x5A;
  EXPECT_FALSE(OsReadRegistryValue(&local, "Driver", "Anything", &out, 1));
  EXPECT_EQ(out, 0x5A);
}

TEST_F(OsServices, BlockRequestsCarryDefaultsAndAnswers) {
  kernel.SetHandler(0x18, [](uint32_t, void* arg) {
    auto* r = static_cast<OrvBlockRequest*>(arg);
    r->handle = 0x500000007ull;
    r->second = 22;
    r->third = 33;
    r->fourth = 44;
    return 0;
  });
  uint8_t surfaceOptions[kSurfAllocOptSize];
  for (size_t i = 0; i < sizeof(surfaceOptions); ++i) surfaceOptions[i] = static_cast<uint8_t>(i + 1);
  uint32_t handle = 0, second = 0, third = 0, fourth = 0;
  ASSERT_TRUE(OsAllocSurfaceBlockMemory(
      &device, reinterpret_cast<const MmSurfAllocOpt*>(surfaceOptions), &handle, &second, &third));
  EXPECT_EQ(handle, 7u);
  EXPECT_EQ(second, 22u);
  EXPECT_EQ(third, 33u);
  auto surface = Sent<OrvBlockRequest>(0x18);
  EXPECT_EQ(surface.kind, kBlockKindSurface);
  EXPECT_EQ(memcmp(surface.surfaceOptions, surfaceOptions, sizeof(surfaceOptions)), 0);
  // The aperture area keeps its defaults.
  struct Default {
    size_t offset;
    uint32_t value;
  };
  for (const Default& d : {Default{92, 0}, Default{96, 1}, Default{100, 1}, Default{104, 0},
                           Default{108, 0x10000}, Default{112, 0}, Default{116, 0}}) {
    EXPECT_EQ(Word(surface, d.offset), d.value) << "offset " << d.offset;
  }

  ASSERT_TRUE(OsAllocApertureBlockMemory(&device, nullptr, &handle, &second, &third, &fourth));
  EXPECT_EQ(fourth, 44u);
  auto aperture = Sent<OrvBlockRequest>(0x18, 1);
  EXPECT_EQ(aperture.kind, kBlockKindAperture);
  for (const Default& d :
       {Default{24, 24}, Default{28, 10}, Default{32, 0}, Default{36, 0}, Default{40, 0xFFFFFFFF},
        Default{44, 0}, Default{56, 0}, Default{60, 0}, Default{64, 1}, Default{68, 0},
        Default{72, 0x10000}, Default{76, 0}, Default{80, 0}, Default{84, 1}, Default{96, 1}}) {
    EXPECT_EQ(Word(aperture, d.offset), d.value) << "offset " << d.offset;
  }

  EXPECT_TRUE(OsFreeSurfaceBlockMemory(&device, 7, 22, 33));
  auto freed = Sent<OrvBlockRequest>(0x19);
  EXPECT_EQ(freed.handle, 7u);
  EXPECT_EQ(freed.second, 22u);
  EXPECT_EQ(freed.third, 33u);
  EXPECT_EQ(freed.kind, kBlockKindSurface);
  EXPECT_TRUE(OsFreeApertureBlockMemory(&device, 1, 2, 3));
  EXPECT_EQ(Sent<OrvBlockRequest>(0x19, 1).kind, kBlockKindAperture);

  kernel.SetAnswer(0x18, -ENOMEM);
  handle = 0xEE;
  EXPECT_FALSE(OsAllocSurfaceBlockMemory(&device, nullptr, &handle, &second, &third));
  EXPECT_EQ(handle, 0xEEu);
}

TEST_F(OsServices, LocalMemoryInfo) {
  EXPECT_FALSE(OsGetLocalMemoryInfo(&device, 0, nullptr));
  EXPECT_TRUE(kernel.Calls().empty());
  kernel.SetHandler(0x1A, [](uint32_t, void* arg) {
    auto* r = static_cast<OrvLocalMemoryRequest*>(arg);
    r->value72 = 0x1122334455ull;
    r->size = 0x800000;
    r->offset = 0x200000;
    return 0;
  });
  OsLocalMemoryInfo info = {};
  ASSERT_TRUE(OsGetLocalMemoryInfo(&device, 0, &info));
  EXPECT_EQ(info.value72, 0x1122334455ull);
  EXPECT_EQ(info.size, 0x800000u);
  EXPECT_EQ(info.offset, 0x200000u);
  EXPECT_EQ(Sent<OrvLocalMemoryRequest>(0x1A).index, 0u);
}

TEST_F(OsServices, LockedPagesUseTheKindRule) {
  struct Case {
    bool agp, locked;
    uint32_t kind;
  };
  for (const Case& c : {Case{true, true, 2}, Case{false, true, 1}, Case{false, false, 3}}) {
    kernel.ClearCalls();
    void* address = nullptr;
    const uint64_t offset = OsAllocLockedPages(&device, 3, c.agp, c.locked, &address);
    ASSERT_NE(offset, 0u);
    ASSERT_NE(address, nullptr);
    auto sent = Sent<orv_ioctl_buffer>(0x01);
    EXPECT_EQ(sent.kind, c.kind);
    EXPECT_EQ(sent.flags, kOrvBufferFlagLocked);
    EXPECT_EQ(sent.size, 3u * 4096);
    EXPECT_TRUE(OsFreeLockedPages(&device, offset, address, 3, c.agp, c.locked));
    auto freed = Sent<orv_ioctl_buffer>(0x02);
    EXPECT_EQ(freed.kind, c.kind);
    EXPECT_EQ(freed.offset, offset);
    EXPECT_EQ(freed.size, 3u * 4096);
  }
  EXPECT_EQ(box.MappingCount(), 0u);
  kernel.SetAnswer(0x01, -ENOMEM);
  void* address = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(OsAllocLockedPages(&device, 1, false, false, &address), 0u);
  EXPECT_EQ(address, reinterpret_cast<void*>(0x1));
}

TEST_F(OsServices, VSyncProcampAndSmallServices) {
  OrvVSyncStateRequest record = {{1, 2, 3, 4}};
  EXPECT_TRUE(OsSetVSyncInterruptState(&device, &record));
  EXPECT_EQ(Sent<OrvVSyncStateRequest>(0x1D).word[3], 4u);

  SProcampValues values;
  memset(&values, 0xFF, sizeof(values));
  EXPECT_TRUE(OsGetProcampValues(nullptr, 0, &values));
  const int32_t expected[7] = {25, 750, 1, 10000, 100, 0, 10000};
  EXPECT_EQ(memcmp(values.value, expected, sizeof(expected)), 0);
  EXPECT_TRUE(OsSetProcampValues(nullptr, 0, &values));

  volatile int32_t lock = 0;
  EXPECT_EQ(OsInterlockedExchange(&lock, 1), 0);
  EXPECT_EQ(OsInterlockedExchange(&lock, 1), 1);
  EXPECT_EQ(OsInterlockedIncrement(&lock), 2);
  EXPECT_EQ(OsInterlockedDecrement(&lock), 1);
  EXPECT_EQ(OsGetPageSize(), 4096u);

  const uint64_t before = box.SleptMicroseconds();
  OsSleepMicroSeconds(250);
  EXPECT_EQ(box.SleptMicroseconds() - before, 250u);
}

TEST_F(OsServices, MemAllocationIsZeroedAndFailureIsNull) {
  auto* block = static_cast<uint8_t*>(memAlloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
  EXPECT_TRUE(memFree(block));
  box.FailAllocation(1);
  EXPECT_EQ(memFileAlloc(16, "file", 1), nullptr);
}

}  // namespace
