// The kernel device object's own operations (its class is core/pdev.h's in
// the kernel build): enable and disable, and entry 2 of its component table.
#pragma once

class PDEV;

// Starts the device object (ioctl 22).
void EnablePdev(PDEV* pdev);
// Stops it (ioctl 23, a failed construction, the destructor): runs only the
// steps whose components exist, each wait bounded.
void DisablePdev(PDEV* pdev);

// Entry 2: the register handle of the device that owns the creating context,
// kept in the common data by the first device object of the board.
bool InitHwRegisterMap(PDEV* pdev);
void CleanupHwRegisterMap(PDEV* pdev);

// The component entries that are the 3D engine's, from entry 15 on.
inline constexpr int kEntryEngineOwner3d = 15;
