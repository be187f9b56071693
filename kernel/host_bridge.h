// Chipset workarounds applied once when the kernel creates a board's device:
// bus-interface options chosen from the board, its revision, the host
// bridge, a chip configuration dword and the bus-master flags.
#pragma once

#include <stdint.h>

struct KernelDevice;

// What the workarounds are chosen from (Shared data words 8, 12, 16 and 20,
// Shared locked data word 224).
struct HostBridgeInput {
  uint32_t board;        // PCI dword 0 of the board
  uint32_t classRevision;
  uint32_t hostBridge;   // PCI dword 0 of the host bridge, 0 when none
  uint32_t configF4;     // PCI dword 0xF4 of the board
  uint32_t bmFlags;
};

// Writes the workaround registers, sets the local-buffer bit of the
// BmDebugFlags module parameter where needed and logs the names applied.
void ApplyHostBridgeWorkarounds(KernelDevice* device);
