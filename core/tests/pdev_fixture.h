// Device objects in the two set-ups of the X driver: local DMA on a
// simulated board (the emulated device over /dev/mem), and the kernel
// module's device node answered by the fake kernel endpoint.
#pragma once

#include <stdint.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <memory>
#include <string>
#include <vector>

#include "core/client_services.h"
#include "core/lnx_device.h"
#include "core/mm_aperture.h"
#include "core/mm_surface.h"
#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/machine/machine.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "tests/standins/standin_log.h"

namespace coretest {

// A mode record as the X driver fills it for a 1024x768 desktop at 32 bits.
inline VideoMode MakeMode(uint32_t unit, uint32_t* lastRegWord, bool localDma) {
  VideoMode mode = {};
  mode.desktopKind = 0;
  mode.dimension1 = 1024;
  mode.dimension2 = 768;
  mode.bitsPerPixel = 32;
  mode.bytesPerPixel = 4;
  mode.storageBits = 32;
  mode.pixelFormat = 50;
  mode.pixelFormat2 = 48;
  mode.localDma = localDma ? 1 : 0;
  mode.unit = unit;
  mode.controller = unit;
  mode.lastRegWritten = reinterpret_cast<uintptr_t>(lastRegWord);
  mode.registerWindowSize = 8192;
  return mode;
}

// One head of a device object with the caller's records that must outlive it.
struct Head {
  uint32_t lastRegWord = 0;
  VideoMode mode = {};
  PDEV* pdev = nullptr;
  uint8_t ok = 0;
};

// The smallest frame buffer the memory manager accepts.
inline constexpr uint64_t kLocalBoardMemory = 64u << 20;

inline orvsim::BoardConfig LocalBoardConfig() {
  orvsim::BoardConfig config;
  config.memory_size = kLocalBoardMemory;
  return config;
}

// A board of the simulated machine with its DMA engine alone.
inline orvmachine::BoardSpec DmaBoard(const orvsim::BoardConfig& config) {
  orvmachine::BoardSpec spec;
  spec.config = config;
  spec.parts = orvmachine::kDma;
  return spec;
}

class LocalBoardTest : public testing::Test {
 protected:
  void SetUp() override { orvstandin::Reset(); }
  void TearDown() override {
    for (auto& head : heads_) delete head->pdev;
    heads_.clear();
    device_.reset();
    orvstandin::Reset();
  }

  // Adds the board with its DMA engine (bus mastering starts it) and the
  // machine's `parts` besides, and opens the emulated device on it.
  orvsim::Board& AddBoard(const orvsim::BoardConfig& config = LocalBoardConfig(),
                          uint32_t more = 0) {
    orvmachine::BoardSpec spec = DmaBoard(config);
    spec.parts |= more;
    orvmachine::MachineBoard& parts = machine_.AddBoard(spec);
    board_ = &parts.board;
    engine_ = parts.dma.get();
    box_.AttachBus(&sim_.Pci());
    box_.AttachPhysicalMap(&sim_.Phys());
    box_.AttachClock(&sim_.GetClock());
    auto at = board_->Location();
    device_ = std::make_unique<EmulatedLnxDevice>(pciGetHandle(at.bus, at.device, at.function));
    EXPECT_TRUE(device_->Open());
    return *board_;
  }

  // Constructs a head; the object is deleted at tear-down unless the test
  // takes it with Destroy.
  Head& Construct(uint32_t unit, uint32_t lastRegValue = 0) {
    auto head = std::make_unique<Head>();
    head->lastRegWord = lastRegValue;
    head->mode = MakeMode(unit, &head->lastRegWord, true);
    head->pdev = new PDEV(device_.get(), &head->mode, 0, &head->ok);
    heads_.push_back(std::move(head));
    return *heads_.back();
  }

  void Destroy(Head& head) {
    delete head.pdev;
    head.pdev = nullptr;
  }

  orvmachine::Machine machine_;
  orvsim::Simulation& sim_ = machine_.sim;
  xstub::Sandbox box_;
  orvsim::Board* board_ = nullptr;
  orvsim::DmaEngine* engine_ = nullptr;
  std::unique_ptr<EmulatedLnxDevice> device_;
  std::vector<std::unique_ptr<Head>> heads_;
};

inline constexpr uint32_t kFakeMajor = 241;

// The kernel module's node, answered by the fake endpoint; the caller maps
// registers and frame buffer itself (plain memory here, 64 MB: the least
// the memory manager accepts).
class KernelNodeTest : public testing::Test {
 protected:
  void SetUp() override {
    orvstandin::Reset();
    box_.AddCharDevice(kFakeMajor, "orv");
    box_.RegisterEndpoint(kFakeMajor, &kernel_);
    box_.MakeDirectories("/dev/orvane");
    device_ = std::make_unique<LnxDevice>(0);
    ASSERT_TRUE(device_->Open());
  }
  void TearDown() override {
    for (auto& head : heads_) delete head->pdev;
    heads_.clear();
    device_.reset();
    orvstandin::Reset();
  }

  Head& Construct(uint32_t unit, uint32_t lastRegValue = 0) {
    auto head = std::make_unique<Head>();
    head->lastRegWord = lastRegValue;
    head->mode = MakeMode(unit, &head->lastRegWord, false);
    head->mode.registerMapping = reinterpret_cast<uintptr_t>(registers_.data());
    head->mode.frameBufferMapping = reinterpret_cast<uintptr_t>(frameBuffer_.data());
    head->mode.frameBufferMapSize = static_cast<uint32_t>(frameBuffer_.size());
    head->pdev = new PDEV(device_.get(), &head->mode, 0x55 + unit, &head->ok);
    heads_.push_back(std::move(head));
    return *heads_.back();
  }

  void Destroy(Head& head) {
    delete head.pdev;
    head.pdev = nullptr;
  }

  xstub::FakeKernel kernel_;
  xstub::Sandbox box_;
  std::vector<uint8_t> registers_ = std::vector<uint8_t>(8192);
  std::vector<uint8_t> frameBuffer_ = std::vector<uint8_t>(64u << 20);
  std::unique_ptr<LnxDevice> device_;
  std::vector<std::unique_ptr<Head>> heads_;
};

// The kernel module's memory manager as the mode-0 tests model it: it
// leaves 48 MB of local memory to the X driver and places surface blocks in
// it one after the other, each at a megabyte, their bus address being their
// local address. Its aperture window onto a surface shows the plain
// frame-buffer view at the surface's local address.
class KernelMemory {
 public:
  static constexpr uint32_t kLocalBase = 0x100000;  // local memory left to the X driver
  static constexpr uint32_t kLocalSize = 48u << 20;
  static constexpr uint32_t kBlockAlign = 1u << 20;
  static constexpr uint32_t kApertureHandle = 0xA0000000;
  static constexpr uint32_t kApertureSlot = 3;

  // Answers the local-memory and block requests of `kernel`.
  void Install(xstub::FakeKernel& kernel) {
    kernel.SetHandler(0x1A, [](uint32_t, void* arg) {
      auto* record = static_cast<OrvLocalMemoryRequest*>(arg);
      record->size = kLocalSize;
      record->offset = kLocalBase;
      return 0;
    });
    kernel.SetHandler(0x18, [this](uint32_t, void* arg) {
      auto* record = static_cast<OrvBlockRequest*>(arg);
      if (record->kind == kBlockKindAperture) {
        // A window onto the surface the options describe (the last one
        // placed when they name none).
        MmHostApertureOpt aperture;
        memcpy(&aperture, record->apertureOptions, sizeof aperture);
        const uint32_t address = aperture.desc.word0 & ~3u;
        record->handle = kApertureHandle;
        record->second = lastBlockBytes_;
        record->third = address != 0 ? address : lastSurface_;
        record->fourth = kApertureSlot;
        return 0;
      }
      MmSurfAllocOpt options;
      memcpy(&options, record->surfaceOptions, sizeof options);
      const uint32_t bytes = (options.physicalSize + kBlockAlign - 1) & ~(kBlockAlign - 1);
      if (bytes == 0 || nextLocal_ + bytes > kLocalBase + kLocalSize) return -ENOMEM;
      lastSurface_ = nextLocal_;
      lastBlockBytes_ = bytes;
      record->handle = nextLocal_;
      record->second = bytes;
      record->third = nextLocal_ - kLocalBase;
      nextLocal_ += bytes;
      return 0;
    });
  }

 private:
  uint32_t nextLocal_ = 2 * kLocalBase;
  uint32_t lastSurface_ = 0;
  uint32_t lastBlockBytes_ = 0;
};

// Mode 0 on a simulated board: the kernel module's node is answered by the
// fake endpoint, which runs posted ranges (and, at a vertical sync the test
// signals, transform sequences) on the board's DMA engine; its memory
// manager is KernelMemory; registers are reached
// through /dev/mem, so the engine's status reads are its own. A fixture
// inherits it beside its testing::Test and calls SetUpBoard and
// TearDownBoard.
class KernelBoard {
 protected:
  static constexpr uint32_t kLocalBase = KernelMemory::kLocalBase;
  static constexpr uint32_t kLocalSize = KernelMemory::kLocalSize;
  static constexpr size_t kRegisterBytes = 8192;

  // The board with its DMA engine and the machine's `more` parts besides.
  void SetUpBoard(uint32_t more = 0) {
    orvmachine::BoardSpec spec = DmaBoard(LocalBoardConfig());
    spec.parts |= more;
    orvmachine::MachineBoard& parts = machine_.AddBoard(spec);
    board_ = &parts.board;
    engine_ = parts.dma.get();
    kernel_.AttachDmaEngine(engine_);
    memory_.Install(kernel_);
    box_.AttachBus(&sim_.Pci());
    box_.AttachPhysicalMap(&sim_.Phys());
    box_.AttachClock(&sim_.GetClock());
    box_.AddCharDevice(kFakeMajor, "orv");
    box_.RegisterEndpoint(kFakeMajor, &kernel_);
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
  }

  void TearDownBoard() {
    for (auto& head : heads_) delete head->pdev;
    heads_.clear();
    device_.reset();
    if (registers_ != nullptr && registers_ != MAP_FAILED) xf86munmap(registers_, kRegisterBytes);
    registers_ = nullptr;
    if (mem_ >= 0) xf86close(mem_);
    mem_ = -1;
  }

  // A head on `unit` (and the controller of the same number); deleted at
  // tear-down.
  Head& Construct(uint32_t unit, uint32_t width = 1024, uint32_t height = 768) {
    auto head = std::make_unique<Head>();
    head->mode = MakeMode(unit, &head->lastRegWord, false);
    head->mode.dimension1 = width;
    head->mode.dimension2 = height;
    head->mode.registerMapping = reinterpret_cast<uintptr_t>(registers_);
    head->mode.frameBufferMapping = reinterpret_cast<uintptr_t>(board_->Memory());
    head->mode.frameBufferMapSize = static_cast<uint32_t>(board_->MemorySize());
    head->pdev = new PDEV(device_.get(), &head->mode, 0x55 + unit, &head->ok);
    heads_.push_back(std::move(head));
    return *heads_.back();
  }

  orvmachine::Machine machine_;  // first: outlives the sandbox's mappings
  orvsim::Simulation& sim_ = machine_.sim;
  orvsim::Board* board_ = nullptr;
  orvsim::DmaEngine* engine_ = nullptr;
  xstub::FakeKernel kernel_;
  xstub::Sandbox box_;
  int mem_ = -1;
  void* registers_ = nullptr;
  KernelMemory memory_;
  std::unique_ptr<LnxDevice> device_;
  std::vector<std::unique_ptr<Head>> heads_;
};

}  // namespace coretest
