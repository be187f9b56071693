// The kernel core over its glue stand-in and a simulated board, as the
// kernel would drive it: the module loaded, the board's device made, files
// opened and requests sent through the glue. The board has its DMA engine
// (fetching system memory from the glue's arena), its interrupt controller
// (whose line the glue serves) and its flip latch.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/kernel_device.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace ktest {

// A mode record for the enable request of one unit.
inline OrvEnableRequest EnableRecord(uint32_t unit, uint8_t guardFlag = 1) {
  OrvEnableRequest request;
  memset(&request, 0, sizeof(request));
  request.mode.desktopKind = 0;
  request.mode.bitsPerPixel = 32;
  request.mode.bytesPerPixel = 4;
  request.mode.unit = unit;
  request.mode.controller = unit;
  request.mode.callerFlag80 = guardFlag;
  request.mode.registerWindowSize = 8192;
  return request;
}

// Bus-master flags of the test boards: page-locked system memory for the
// command buffers (0x100004), four buffers per stream (0x200004).
inline constexpr uint32_t kTestBmFlags = 0x300004;

inline kglue::BoardOptions TestBoardOptions(uint32_t bmFlags = kTestBmFlags) {
  kglue::BoardOptions options;
  options.bm_flags = bmFlags;
  return options;
}

// The board of the kernel tests: DMA engine, interrupt controller, flip
// latch, aperture windows and the vertex engine's memories.
inline orvmachine::BoardSpec KernelBoard(const orvsim::BoardConfig& config) {
  orvmachine::BoardSpec spec;
  spec.config = config;
  spec.parts = orvmachine::kDma | orvmachine::kFlips | orvmachine::kWindows | orvmachine::kVertex;
  return spec;
}

class KernelTest : public ::testing::Test {
 protected:
  explicit KernelTest(const orvsim::BoardConfig& config = orvsim::BoardConfig(),
                      const kglue::BoardOptions& options = TestBoardOptions())
      : parts(machine.AddBoard(KernelBoard(config))), board(parts.board), dma(*parts.dma),
        irq(*parts.irq), flips(*parts.flips), windows(*parts.windows),
        module(machine.LoadKernelModule(
            parts, {.file = "",
                    .table = &orv_kstrn_driver,
                    .bmFlags = options.bm_flags,
                    .minor = static_cast<uint32_t>(options.minor < 0 ? 0 : options.minor),
                    .makeDevice = false})),
        glue(module.glue), device(module.device) {}

  // Makes the board's device; the test fails when the core refuses.
  KernelDevice* MakeDevice() {
    kdev = glue.CreateDevice(device);
    EXPECT_NE(kdev, nullptr);
    return kdev;
  }

  KernelClient* ClientOf(kglue::File* file) { return glue.ClientOf(file); }

  // Ioctl 20 of the file for a unit: the device object, or null when the
  // request answered 0.
  PDEV* Enable(kglue::File* file, uint32_t unit, uint8_t guardFlag = 1) {
    OrvEnableRequest request = EnableRecord(unit, guardFlag);
    const int answer =
        glue.Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&request));
    if (answer != 1) return nullptr;
    return reinterpret_cast<PDEV*>(static_cast<uintptr_t>(request.kernelHandle));
  }

  CommonData* Common() const { return kdev != nullptr ? kdev->commonData : nullptr; }
  SharedLockedData_t* SharedLocked() const { return kdev->sharedLocked; }

  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts;
  orvsim::Board& board;
  orvsim::DmaEngine& dma;
  orvsim::InterruptController& irq;
  orvsim::FlipLatch& flips;
  orvsim::ApertureWindows& windows;  // the processor reaches local memory through the slots
  orvmachine::KernelModule& module;
  kglue::Glue& glue;
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
};

}  // namespace ktest
