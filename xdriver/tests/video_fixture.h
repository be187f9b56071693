// The video machine (video_machine.h) as a test fixture: a device object in
// bus-mastering mode 0 on a simulated board with its DMA and 2D engines,
// over the fake kernel module. A derived fixture may choose the chip in its
// constructor.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/standins/standin_log.h"
#include "xdriver/tests/video_machine.h"

namespace videotest {

class KernelVideoTest : public testing::Test {
 protected:
  void SetUp() override {
    orvstandin::Reset();
    machine_ = std::make_unique<VideoMachine>(device_id_);
    ASSERT_EQ(machine_->ok, 1);
    board_ = machine_->board;
    engine_ = machine_->dma;
    engine2d_ = machine_->engine2d;
    kernel_ = &machine_->kernel;
    box_ = &machine_->box;
    pdev_ = machine_->pdev;
  }
  void TearDown() override {
    machine_.reset();
    orvstandin::Reset();
  }

  // Blocks placed since the last call.
  std::vector<PlacedBlock> TakeBlocks() { return machine_->TakeBlocks(); }

  // The words written into the device's current buffer since `from`.
  static std::vector<uint32_t> WordsSince(const BmPrimInt* prim, const uint32_t* from) {
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(prim->cursor));
  }

  uint16_t device_id_ = orvsim::kDeviceKestrion1;
  std::unique_ptr<VideoMachine> machine_;
  orvsim::Board* board_ = nullptr;
  orvsim::DmaEngine* engine_ = nullptr;
  orvsim::Engine2d* engine2d_ = nullptr;
  xstub::FakeKernel* kernel_ = nullptr;
  xstub::Sandbox* box_ = nullptr;
  PDEV* pdev_ = nullptr;
};

}  // namespace videotest
