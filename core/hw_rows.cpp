// Component-table rows of the hardware engine objects that both builds run:
// register access and engine owner (nothing to build: the register handle
// and the guard words suffice) and the hardware device, whose first device
// object of a board readies the emulated DMA executor's state.
#include "core/emul_dma_state.h"
#include "core/hw_device.h"
#include "core/hw_register_access.h"
#include "core/pdev.h"

bool InitHwRegAccess(PDEV*) { return true; }
void CleanupHwRegAccess(PDEV*) {}
bool InitHwEngineOwner(PDEV*) { return true; }
void CleanupHwEngineOwner(PDEV*) {}

bool InitHwDevice(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) ResetEmulatedDma(pdev->common->emulDma);
  return true;
}
void CleanupHwDevice(PDEV*) {}
