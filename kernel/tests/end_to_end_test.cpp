// The X driver's core in DMA mode 0 against the kernel module over the device
// node, in one process: the module makes the device object (request 0x14),
// the X build's device object maps the shared blocks, asks for its local
// memory and takes its command buffers from the kernel's heaps (page-locked,
// AGP or local memory, as the board's bus-master flags say); 2D
// packets written through the X build's primary interface are posted (0x1b)
// and run by the board's engine in order; the X side's sync wait ends on the
// tag the engine reports and its buffer switches see the progress word
// advance; teardown leaves nothing behind on either side.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/bm_buffer.h"
#include "core/bm_prim_int.h"
#include "core/common_data.h"
#include "core/lnx_device.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/kglue/node_bridge.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "kernel/tests/node_fixture.h"

namespace {

constexpr uint32_t kRegisterGroup = 0x212121C6;  // one write of 0x1318

orvsim::BoardConfig SixtyFourMegabytes() {
  orvsim::BoardConfig config;
  config.memory_size = 64u << 20;  // the least the X driver's memory manager takes
  return config;
}

struct BufferMemory {
  const char* name;
  uint32_t bmFlags;
  uint32_t memoryType;  // of the X side's command buffers
};

void PrintTo(const BufferMemory& c, std::ostream* out) { *out << c.name; }

class EndToEnd : public ktest::NodeFixture, public ::testing::WithParamInterface<BufferMemory> {
 protected:
  EndToEnd() : NodeFixture(SixtyFourMegabytes(), GetParam().bmFlags) {}
};

TEST_P(EndToEnd, TheXDriversCorePostsThroughTheModuleAndLeavesNothing) {
  const size_t xAllocations = box.LiveAllocations();
  // The X driver's front end: request 0x14 for unit 0, then its device object.
  OrvEnableRequest enable = {};
  enable.mode.bitsPerPixel = 32;
  enable.mode.bytesPerPixel = 4;
  enable.mode.pixelFormat = 50;
  enable.mode.dimension1 = 1024;
  enable.mode.dimension2 = 768;
  enable.mode.registerWindowSize = 8192;
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_ENABLE_DEVICE, &enable, sizeof(enable)), 1);
  ASSERT_NE(enable.kernelHandle, 0u);

  VideoMode mode = enable.mode;
  uint32_t lastRegWord = 0;
  mode.lastRegWritten = reinterpret_cast<uintptr_t>(&lastRegWord);
  const uint64_t registers = board.Bar(orvsim::ResourceKind::kRegisters)->base;
  const uint64_t frameBuffer = board.Bar(orvsim::ResourceKind::kMemory)->base;
  void* registerMapping = node->Map(registers, 8192);
  void* frameBufferMapping = node->Map(frameBuffer, 64u << 20);
  ASSERT_NE(registerMapping, nullptr);
  ASSERT_NE(frameBufferMapping, nullptr);
  mode.registerMapping = reinterpret_cast<uintptr_t>(registerMapping);
  mode.frameBufferMapping = reinterpret_cast<uintptr_t>(frameBufferMapping);
  mode.frameBufferMapSize = 64u << 20;
  uint8_t ok = 0;
  auto* pdev = new PDEV(node.get(), &mode, enable.kernelHandle, &ok);
  ASSERT_EQ(ok, 1);
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_START_DEVICE, reinterpret_cast<void*>(enable.kernelHandle), 8), 0);

  // The shared blocks are the module's: the revision bits at 104.
  SharedLockedData_t* shared = pdev->common->sharedLocked;
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->revisionBits, 0x2u);
  EXPECT_EQ(shared->dmaMode, kDmaModePost);
  // Its command buffers came from the kernel's heap of their memory:
  // system memory at bus addresses of the glue's arena, local memory at
  // device addresses inside the board's memory.
  BmPrimInt* prim = pdev->common->primInt;
  ASSERT_NE(prim, nullptr);
  ASSERT_NE(prim->head, nullptr);
  EXPECT_EQ(prim->head->memoryType, GetParam().memoryType);
  if (GetParam().memoryType == kBmMemLocal) {
    EXPECT_LE(prim->head->busAddress + prim->head->size, board.LocalMemorySize());
  } else {
    EXPECT_GE(prim->head->busAddress, kglue::kArenaBusBase);
  }

  // Numbered register writes, a sync packet, posted.
  dma.ClearWrites();
  for (uint32_t i = 1; i <= 50; ++i) {
    uint32_t* at = prim->Reserve(2);
    ASSERT_NE(at, nullptr);
    at[0] = kRegisterGroup;
    at[1] = i;
  }
  const uint32_t tag = prim->WriteSyncPacket();
  ASSERT_TRUE(prim->Start());
  ASSERT_TRUE(prim->WaitForSyncTag(tag));
  EXPECT_FALSE(prim->IsSyncTagPending(tag));
  std::vector<uint32_t> values;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1318) values.push_back(w.value);
  // The X driver's own set-up went first; ours follow in order.
  ASSERT_GE(values.size(), 50u);
  const std::vector<uint32_t> ours(values.end() - 50, values.end());
  for (uint32_t i = 0; i < 50; ++i) EXPECT_EQ(ours[i], i + 1);
  EXPECT_EQ(shared->completedTag & ~7u, tag);

  // A buffer switch: the progress word follows the counter.
  const uint32_t counterBefore = shared->bufferCounter;
  prim->SwitchToNewBuffer();
  ASSERT_TRUE(prim->Start());
  EXPECT_NE(shared->bufferCounter, counterBefore);
  EXPECT_EQ(shared->completedBufferCounter, shared->bufferCounter);
  EXPECT_TRUE(dma.DecodeErrors().empty());
  EXPECT_EQ(prim->droppedPosts, 0u);

  // Teardown as the X driver does it.
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_STOP_DEVICE, reinterpret_cast<void*>(uintptr_t{0}), 4), 0);
  delete pdev;
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_DISABLE_DEVICE, reinterpret_cast<void*>(enable.kernelHandle), 8), 0);
  node->Unmap(registerMapping, 8192);
  node->Unmap(frameBufferMapping, 64u << 20);
  node.reset();
  // Nothing of the X side is left: memory, descriptors, mappings.
  EXPECT_EQ(box.LiveAllocations(), xAllocations);
  EXPECT_EQ(box.OpenDeviceCount(), 0u);
  EXPECT_EQ(box.MappingCount(), 0u);
  glue.DestroyDevice(device);
  glue.Unload();
  EXPECT_TRUE(glue.LiveBlocks().empty());
  EXPECT_EQ(glue.LiveRegions(), 0u);
  EXPECT_EQ(glue.LiveLockedPages(), 0u);
  EXPECT_EQ(glue.LiveKernelMappings(), 0u);
  EXPECT_EQ(glue.LiveUserMappings(), 0u);
  EXPECT_TRUE(glue.Misuses().empty());
  EXPECT_FALSE(glue.Logged("*ERROR*")) << glue.LogText();
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandBuffers, EndToEnd,
    ::testing::Values(BufferMemory{"page_locked", ktest::kPageLockedBuffers, kBmMemPciLocked},
                      BufferMemory{"agp", 0x10, kBmMemAgp},
                      BufferMemory{"local", 0, kBmMemLocal}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
