// Device objects in the two set-ups of the X driver: local DMA on a
// simulated board (the emulated device over /dev/mem), and the kernel
// module's device node answered by the fake kernel endpoint.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/client_services.h"
#include "core/lnx_device.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "core/pending.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "tests/standins/standin_log.h"

namespace coretest {

// The component-table rows that are still stand-ins, with the names their
// calls are logged under.
struct StandInRow {
  int row;
  const char* init;
  const char* cleanup;
};
inline constexpr StandInRow kStandInRows[] = {
#define ORV_STANDIN_ROW_NAMES(Name, row) {row, "Init" #Name, "Cleanup" #Name},
    ORV_PENDING_COMPONENT_ROWS(ORV_STANDIN_ROW_NAMES)
#undef ORV_STANDIN_ROW_NAMES
};

// One logged call of a stand-in row.
struct StandInEvent {
  enum Kind { kInit, kCleanup } kind;
  int row;  // component-table row
};

// The stand-in calls since the last orvstandin::Reset, oldest first.
inline std::vector<StandInEvent> StandInEvents() {
  std::vector<StandInEvent> events;
  for (size_t i = 0; i < orvstandin::CallCount(); ++i) {
    const std::string name = orvstandin::CallAt(i);
    for (const StandInRow& row : kStandInRows) {
      if (name == row.init) events.push_back({StandInEvent::kInit, row.row});
      if (name == row.cleanup) events.push_back({StandInEvent::kCleanup, row.row});
    }
  }
  return events;
}

// Makes the stand-in init of `row` fail from now on.
inline void FailStandInRow(int row) {
  for (const StandInRow& r : kStandInRows)
    if (r.row == row) orvstandin::SetResult(r.init, 1);
}

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

class LocalBoardTest : public testing::Test {
 protected:
  void SetUp() override { orvstandin::Reset(); }
  void TearDown() override {
    for (auto& head : heads_) delete head->pdev;
    heads_.clear();
    device_.reset();
    orvstandin::Reset();
  }

  // Adds the board with its DMA engine (bus mastering starts it) and opens
  // the emulated device on it.
  orvsim::Board& AddBoard(const orvsim::BoardConfig& config = LocalBoardConfig()) {
    board_ = &sim_.AddBoard(config);
    engine_ = std::make_unique<orvsim::DmaEngine>(*board_);
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

  orvsim::Simulation sim_;
  xstub::Sandbox box_;
  orvsim::Board* board_ = nullptr;
  std::unique_ptr<orvsim::DmaEngine> engine_;
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

}  // namespace coretest
