// Component-table rows 2 and 3: the process's mappings of the board's frame
// buffer and register window, made by the first device object of a board
// (or taken from the caller) and kept in the common data.
#pragma once

#include <stdint.h>

class PDEV;

bool InitHwMemoryMap(PDEV* pdev);
void CleanupHwMemoryMap(PDEV* pdev);
bool InitHwRegisterMap(PDEV* pdev);
void CleanupHwRegisterMap(PDEV* pdev);

// The frame-buffer mapping gives up halving below this size.
inline constexpr uint32_t kFrameBufferMapFloor = 0x3FFFFFF;
