// A kernel module loaded on a simulated board with the DMA and vertex
// engines, its first device enabled at 32 bits per pixel through the
// device node, as the kernel's benchmarks start from.
#pragma once

#include <stdint.h>
#include <string.h>

#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/kernel_device.h"
#include "platform/board/chip_dma.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace orvbench {

struct StartedKernel {
  // The board carries `parts` and `memoryBytes` of local memory (0: the
  // board's default).
  explicit StartedKernel(uint32_t parts = orvmachine::kDma | orvmachine::kVertex, uint32_t memoryBytes = 0) {
    orvmachine::BoardSpec spec;
    spec.parts = parts;
    if (memoryBytes != 0) spec.config.memory_size = memoryBytes;
    orvmachine::MachineBoard& b = machine.AddBoard(spec);
    b.board.SetLogging(false, false);
    // Nor does its DMA engine list what it ran: the loops run millions of words.
    if (b.dma) b.dma->SetRecording(false);
    orvmachine::KernelModuleOptions options;
    options.table = &orv_kstrn_driver;
    options.bmFlags = 0x300004;
    orvmachine::KernelModule& module = machine.LoadKernelModule(b, options);
    if (!module.Ready()) return;
    glue = &module.glue;
    file = glue->Open(module.device);
    OrvEnableRequest enable;
    memset(&enable, 0, sizeof enable);
    enable.mode.bitsPerPixel = 32;
    enable.mode.bytesPerPixel = 4;
    enable.mode.registerWindowSize = 8192;
    if (glue->Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) != 1) return;
    pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
    common = module.created != nullptr ? module.created->commonData : nullptr;
  }
  // The device destroyed and the module unloaded, as the machine's loader does.
  ~StartedKernel() { machine.UnloadKernelModule(); }
  StartedKernel(const StartedKernel&) = delete;
  StartedKernel& operator=(const StartedKernel&) = delete;

  orvmachine::Machine machine;
  kglue::Glue* glue = nullptr;  // null when the module did not load
  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;  // null when the enable failed
  CommonData* common = nullptr;
};

}  // namespace orvbench
