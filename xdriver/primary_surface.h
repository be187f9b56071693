// The primary surface: the device bitmap of the visible desktop, the
// target of all XAA drawing. Row 15 describes it; the device start creates
// it.
#pragma once

#include "core/utils.h"

class PDEV;

// The desktop the primary surface covers: the virtual size when the mode
// record carries it, else the visible size.
LSIZE PrimaryDesktopSize(const PDEV* pdev);
// The lines at `pitch` pixels that hold the head's memory lines (its
// desktop and the off-screen lines the X server's framebuffer manager hands
// out behind it): never fewer than `desktopHeight`, at most a descriptor's
// height.
uint32_t HeadMemoryLines(const PDEV* pdev, uint32_t pitch, uint32_t desktopHeight);

// Row 15: describes the primary bitmap from the device's mode.
bool InitPrimarySurface(PDEV* pdev);
// Destroys it when it was created.
void CleanupPrimarySurface(PDEV* pdev);
// Places it (device start) and makes it the drawing target; false when the
// memory manager cannot place it.
bool CreatePrimarySurface(PDEV* pdev);
