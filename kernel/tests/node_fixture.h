// The kernel module loaded into the test process with its glue, behind the
// X server stand-in's device node, and the X driver's device-node code open
// on it: a board of the simulated machine with its DMA engine, interrupt
// controller and aperture windows, command buffers in the memory the
// bus-master flags choose (page-locked by default), the shipped module
// loaded and the board's device made.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/lnx_device.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace ktest {

inline constexpr uint32_t kNodeMinor = 0;
using orvmachine::kPageLockedBuffers;

inline orvmachine::BoardSpec NodeBoard(const orvsim::BoardConfig& config) {
  orvmachine::BoardSpec spec;
  spec.config = config;
  spec.parts = orvmachine::kDma | orvmachine::kInterrupts | orvmachine::kWindows | orvmachine::kVertex;
  return spec;
}

class NodeFixture : public ::testing::Test {
 protected:
  explicit NodeFixture(const orvsim::BoardConfig& config = orvsim::BoardConfig(),
                       uint32_t bmFlags = kPageLockedBuffers)
      : parts(machine.AddBoard(NodeBoard(config))), board(parts.board), dma(*parts.dma),
        module(machine.LoadKernelModule(parts, {.file = ORV_MODULE_FILE, .bmFlags = bmFlags,
                                                .minor = kNodeMinor})),
        glue(module.glue), device(module.device) {
    EXPECT_TRUE(module.Ready()) << module.error;
    module.ProvideTo(box);
    EXPECT_EQ(xf86LoadKernelModule("orv"), 1);
    box.MakeDirectories("/dev/orvane");
    node = std::make_unique<LnxDevice>(kNodeMinor);
    EXPECT_TRUE(node->Open());
  }
  ~NodeFixture() override { node.reset(); }

  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts;
  orvsim::Board& board;
  orvsim::DmaEngine& dma;
  orvmachine::KernelModule& module;
  kglue::Glue& glue;
  OrvDevice* device = nullptr;
  xstub::Sandbox box;
  std::unique_ptr<LnxDevice> node;
};

}  // namespace ktest
