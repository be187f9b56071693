// A device object in bus-mastering mode 0 on a simulated board with its DMA
// and 2D engines, the kernel module's node answered by the fake endpoint:
// posts run on the board's DMA engine, surface blocks are placed in the
// board's local memory one after the other at their alignment, and their
// bus address is their local address. For the tests of the video layer
// and the Xv adaptor.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/hw_revision.h"
#include "core/mm_surface.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "core/tests/pdev_fixture.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace videotest {

// One surface block the fake module placed.
struct PlacedBlock {
  uint32_t bus;
  uint32_t size;
  uint32_t memoryType;  // the surface's heap selector
  bool freed = false;
};

class KernelVideoTest : public testing::Test {
 protected:
  static constexpr uint32_t kLocalBase = 0x100000;  // the X driver's local memory
  static constexpr uint32_t kLocalSize = 48u << 20;
  static constexpr uint32_t kApertureHandle = 0xA0000000;
  static constexpr uint32_t kApertureSlot = 3;
  static constexpr size_t kRegisterBytes = 8192;

  void SetUp() override {
    orvstandin::Reset();
    orvsim::BoardConfig config;
    config.memory_size = coretest::kLocalBoardMemory;
    config.device_id = device_id_;
    board_ = &sim_.AddBoard(config);
    engine_ = std::make_unique<orvsim::DmaEngine>(*board_);
    engine2d_ = std::make_unique<orvsim::Engine2d>(*board_, *engine_);
    kernel_.AttachDmaEngine(engine_.get());
    kernel_.SetHandler(0x1A, [](uint32_t, void* arg) {
      auto* record = static_cast<OrvLocalMemoryRequest*>(arg);
      record->size = kLocalSize;
      record->offset = kLocalBase;
      return 0;
    });
    kernel_.SetHandler(0x18, [this](uint32_t, void* arg) { return PlaceBlock(arg); });
    kernel_.SetHandler(0x19, [this](uint32_t, void* arg) {
      auto* record = static_cast<OrvBlockRequest*>(arg);
      for (PlacedBlock& b : blocks_)
        if (record->kind == kBlockKindSurface && b.bus == static_cast<uint32_t>(record->handle))
          b.freed = true;
      return 0;
    });
    box_.AttachBus(&sim_.Pci());
    box_.AttachPhysicalMap(&sim_.Phys());
    box_.AttachClock(&sim_.GetClock());
    box_.AddCharDevice(coretest::kFakeMajor, "orv");
    box_.RegisterEndpoint(coretest::kFakeMajor, &kernel_);
    box_.MakeDirectories("/dev/orvane");
    mem_ = xf86open("/dev/mem", O_RDWR);
    ASSERT_GE(mem_, 0);
    for (const orvsim::BarInfo& bar : board_->Bars()) {
      if (bar.kind == orvsim::ResourceKind::kRegisters) {
        registers_ = xf86mmap(nullptr, kRegisterBytes, PROT_READ | PROT_WRITE, MAP_SHARED, mem_,
                              static_cast<off_t>(bar.base));
      }
    }
    ASSERT_NE(registers_, nullptr);
    ASSERT_NE(registers_, MAP_FAILED);
    device_ = std::make_unique<LnxDevice>(0);
    ASSERT_TRUE(device_->Open());
    Construct(0);
    ASSERT_EQ(head_.ok, 1);
    pdev_ = head_.pdev;
    // The module writes the board's revision bits into the shared block
    // when it makes the device.
    pdev_->sharedLocked->revisionBits =
        HwRevisionID::Compute(KestrionVendorDevice(device_id_), 0);
    HwRevisionID::Init(pdev_);
    pdev_->sharedLocked->last1300Value = kLastRegNone;
    // The plane mask as the device start's engine preset leaves it.
    board_->Poke(orvsim::k2dRegPlaneMask, 4, 0xFFFFFFFF);
  }

  void TearDown() override {
    delete head_.pdev;
    head_.pdev = nullptr;
    device_.reset();
    if (registers_ != nullptr && registers_ != MAP_FAILED) xf86munmap(registers_, kRegisterBytes);
    if (mem_ >= 0) xf86close(mem_);
    engine2d_.reset();
    orvstandin::Reset();
  }

  void Construct(uint32_t unit) {
    head_.mode = coretest::MakeMode(unit, &head_.lastRegWord, false);
    head_.mode.registerMapping = reinterpret_cast<uintptr_t>(registers_);
    head_.mode.frameBufferMapping = reinterpret_cast<uintptr_t>(board_->Memory());
    head_.mode.frameBufferMapSize = static_cast<uint32_t>(board_->MemorySize());
    head_.pdev = new PDEV(device_.get(), &head_.mode, 0x55 + unit, &head_.ok);
  }

  int PlaceBlock(void* arg) {
    auto* record = static_cast<OrvBlockRequest*>(arg);
    if (record->kind == kBlockKindAperture) {
      record->handle = kApertureHandle;
      record->second = 4096;
      record->third = lastBlock_;
      record->fourth = kApertureSlot;
      return 0;
    }
    MmSurfAllocOpt options;
    std::memcpy(&options, record->surfaceOptions, sizeof options);
    const uint32_t align = options.alignment > 1 ? options.alignment : 1;
    const uint32_t at = (nextLocal_ + align - 1) / align * align;
    const uint32_t size = options.physicalSize;
    if (refuseBlocks_ > 0) {
      --refuseBlocks_;
      return -12;  // ENOMEM
    }
    if (size == 0 || at + static_cast<uint64_t>(size) > kLocalBase + kLocalSize) return -12;
    blocks_.push_back({at, size, options.heapSelector});
    lastBlock_ = at;
    record->handle = at;
    record->second = size;
    record->third = at;
    nextLocal_ = at + size;
    return 0;
  }

  // Blocks placed since the last call.
  std::vector<PlacedBlock> TakeBlocks() {
    std::vector<PlacedBlock> out = blocks_;
    blocks_.clear();
    return out;
  }

  // The words written into the device's current buffer since `from`.
  static std::vector<uint32_t> WordsSince(const BmPrimInt* prim, const uint32_t* from) {
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(prim->cursor));
  }

  uint16_t device_id_ = orvsim::kDeviceKestrion1;
  orvsim::Simulation sim_;  // first: outlives the sandbox's mappings
  orvsim::Board* board_ = nullptr;
  std::unique_ptr<orvsim::DmaEngine> engine_;
  std::unique_ptr<orvsim::Engine2d> engine2d_;
  xstub::FakeKernel kernel_;
  xstub::Sandbox box_;
  int mem_ = -1;
  void* registers_ = nullptr;
  std::unique_ptr<LnxDevice> device_;
  coretest::Head head_;
  PDEV* pdev_ = nullptr;
  std::vector<PlacedBlock> blocks_;
  uint32_t nextLocal_ = 0x200000;
  uint32_t lastBlock_ = 0;
  int refuseBlocks_ = 0;  // the next so many surface blocks are refused
};

}  // namespace videotest
