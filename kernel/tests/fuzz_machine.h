// For a kernel fuzz target that keeps one machine for the whole run: the
// module loaded on the glue with the board's device made, opened and one
// device object enabled, or loaded on a machine's board with no device
// made yet; and the fixture that holds it made once per
// process and never destroyed (the fuzzer ends the process, and a
// destruction at exit would only slow every run down).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/kernel_device.h"
#include "platform/board/board.h"
#include "platform/board/chip_dma.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace orvfuzz {

// The buffer-manager flags the module is loaded with.
inline constexpr uint32_t kModuleBmFlags = 0x300004;

// What a started device is reached through.
struct StartedDevice {
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;
};

// The module loaded with the board's DMA engine served (its faults
// reported, not fatal), the board's device made and opened, and one device
// object enabled at 32 bits a pixel. A step that fails aborts the run,
// naming the target (`who`) and the step.
inline StartedDevice StartDevice(kglue::Glue& glue, orvsim::Board& board, orvsim::DmaEngine& dma,
                                 const char* who) {
  const auto check = [who](bool ok, const char* what) {
    if (!ok) {
      fprintf(stderr, "%s: %s\n", who, what);
      abort();
    }
  };
  StartedDevice started;
  dma.SetFaultsFatal(false);
  glue.Use(&orv_kstrn_driver);
  glue.ServeDma(dma);
  started.device = glue.AddBoard(board, kglue::BoardOptions{kModuleBmFlags, 0, nullptr});
  glue.Load();
  started.kdev = glue.CreateDevice(started.device);
  check(started.kdev != nullptr, "the device was not made");
  started.file = glue.Open(started.device);
  OrvEnableRequest enable;
  memset(&enable, 0, sizeof(enable));
  enable.mode.bitsPerPixel = 32;
  enable.mode.bytesPerPixel = 4;
  enable.mode.registerWindowSize = 8192;
  check(glue.Ioctl(started.file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) == 1,
        "the device object was not made");
  started.pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
  return started;
}

// The module loaded on the machine's board, unit 0, with no device made
// yet.
inline orvmachine::KernelModule& LoadModule(orvmachine::Machine& machine, orvmachine::MachineBoard& parts) {
  return machine.LoadKernelModule(parts, {.file = "",
                                          .table = &orv_kstrn_driver,
                                          .bmFlags = kModuleBmFlags,
                                          .minor = 0,
                                          .makeDevice = false});
}

// The one fixture of the process, made on first use.
template <typename Fixture>
Fixture& KeptFixture() {
  static Fixture* fixture = new Fixture;
  return *fixture;
}

// A record made again where it lies, as OsNew makes one: its destructor
// run, its memory cleared, then constructed.
template <typename Record>
void RenewInPlace(Record* record) {
  record->~Record();
  memset(static_cast<void*>(record), 0, sizeof *record);
  ::new (static_cast<void*>(record)) Record();
}

}  // namespace orvfuzz
