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
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace orvbench {

struct StartedKernel {
  StartedKernel() {
    orvmachine::BoardSpec spec;
    spec.parts = orvmachine::kDma | orvmachine::kVertex;
    orvmachine::MachineBoard& b = machine.AddBoard(spec);
    b.board.SetLogging(false, false);
    orvmachine::KernelModuleOptions options;
    options.table = &orv_kstrn_driver;
    options.bmFlags = 0x300004;
    orvmachine::KernelModule& module = machine.LoadKernelModule(b, options);
    glue = &module.glue;
    file = glue->Open(module.device);
    OrvEnableRequest enable;
    memset(&enable, 0, sizeof enable);
    enable.mode.bitsPerPixel = 32;
    enable.mode.bytesPerPixel = 4;
    enable.mode.registerWindowSize = 8192;
    (void)glue->Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable));
    pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
    common = module.created != nullptr ? module.created->commonData : nullptr;
  }

  orvmachine::Machine machine;
  kglue::Glue* glue = nullptr;
  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;  // null when the enable failed
  CommonData* common = nullptr;
};

}  // namespace orvbench
