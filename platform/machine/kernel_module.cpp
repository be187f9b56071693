// The kernel module loaded for a board of the machine.
#include "platform/machine/kernel_module.h"

#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/machine/machine.h"

namespace orvmachine {

KernelModule::KernelModule(MachineBoard& board, const KernelModuleOptions& options)
    : bridge(glue), makeDevice_(options.makeDevice) {
  if (board.dma) glue.ServeDma(*board.dma);
  device = glue.AddBoard(board.board, kglue::BoardOptions{options.bmFlags,
                                                          static_cast<int>(options.minor),
                                                          board.irq.get()});
  if (!options.file.empty()) {
    error = glue.OpenModule(options.file);
    if (!error.empty()) return;
  } else if (options.table != nullptr) {
    glue.Use(options.table);
  } else {
    error = "no module file and no entry table";
    return;
  }
  loaded = glue.Load() == 0;
  if (loaded && makeDevice_) created = glue.CreateDevice(device);
}

int KernelModule::DestroyAndUnload() {
  if (created != nullptr) glue.DestroyDevice(device);
  created = nullptr;
  if (!glue.Loaded()) return 0;
  loaded = false;
  return glue.Unload();
}

}  // namespace orvmachine
