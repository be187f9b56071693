// The kernel module loaded into the test process with its glue, behind the
// X server stand-in's device node, and the X driver's device-node code open
// on it: a board with its DMA engine and interrupt controller, command
// buffers in the memory the bus-master flags choose (page-locked by
// default), the module loaded and the board's device made.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/lnx_device.h"
#include "kernel/tests/module_on_node.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "tests/standins/standin_log.h"

namespace ktest {

class NodeFixture : public ::testing::Test {
 protected:
  explicit NodeFixture(const orvsim::BoardConfig& config = orvsim::BoardConfig(),
                       uint32_t bmFlags = kPageLockedBuffers)
      : board(sim.AddBoard(config)), dma(board), irq(board), windows(board),
        // The stand-ins' log starts empty before the module loads.
        module((orvstandin::Reset(), board), dma, irq, ORV_TEST_MODULE_FILE, bmFlags),
        glue(module.glue), device(module.device) {
    EXPECT_TRUE(module.Ready()) << module.error;
    module.ProvideTo(box);
    EXPECT_EQ(xf86LoadKernelModule("orv"), 1);
    box.MakeDirectories("/dev/orvane");
    node = std::make_unique<LnxDevice>(kNodeMinor);
    EXPECT_TRUE(node->Open());
  }
  ~NodeFixture() override { node.reset(); }

  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::DmaEngine dma;
  orvsim::InterruptController irq;
  orvsim::ApertureWindows windows;  // the processor reaches local memory through the slots
  ModuleOnNode module;
  kglue::Glue& glue;
  OrvDevice* device = nullptr;
  xstub::Sandbox box;
  std::unique_ptr<LnxDevice> node;
};

}  // namespace ktest
