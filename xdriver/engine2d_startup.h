// The drawing engines' start-up on a device's first start: the register
// program that brings the 2D engine to its first sync tag, and the preset
// of the engines' state that the X driver's own command streams begin
// with (the kernel module presets the engines for the streams it runs).
#pragma once

#include <stdint.h>

class PDEV;

// Runs the register program on every chip but 0x5D62 and waits, bounded,
// until the engine reports the start-up tag. kKstrnSuccess, or
// kKstrnKernelRefused (logged) when the engine never reached it.
uint32_t ApplyEAR547(PDEV* pdev);
// Writes the preset and a sync tag into the device's command stream and
// posts it; nothing without a stream.
void SetupHardwareForDisplayDriver(PDEV* pdev);
