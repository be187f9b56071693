// Processor-side helpers of the drawing engine and the display controllers
// (HwDevice), and component-table row 5 that readies the emulated DMA
// executor.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/emul_dma_executor.h"

class PDEV;

class HwDevice {
 public:
  // The emulated DMA executor (core/emul_dma_executor.h).
  static void ExecuteEmulDma(CommonData* common, const void* start, const void* end) {
    ExecuteEmulatedDma(common, start, end);
  }

  // Turning the surface off waits for the end of the frame that still shows
  // it; false (logged) when the controller's line counter never gets there,
  // and the surface may then still be read.
  [[nodiscard]] static bool EnablePrimarySurface(CommonData* common, bool enable, uint32_t controller);
  [[nodiscard]] static bool ShowPrimary(CommonData* common, uint32_t controller);
  static bool IsInterlacedMode(CommonData* common, uint32_t controller);
  // The deepest volume texture of the size the engine takes (both builds:
  // the kernel's 3D surfaces ask it too).
  static uint32_t GetMaxVolumeDepth(uint32_t width, uint32_t height, bool bordered) {
    if (bordered) {
      width += 2;
      height += 2;
    }
    const uint32_t largest = width > height ? width : height;
    if (largest <= 256) return 256;
    if (largest <= 512) return 64;
    if (largest <= 1024) return 16;
    if (largest <= 2048) return 4;
    return 0;
  }

  // Debug helpers over the register shadow.
  static uint32_t GetDwordFromBuffer(CommonData* common, uint32_t index);
  static void ExecuteShaderList(CommonData*) {}
  static void PrintDbgPacket(CommonData*) {}
};

// Row 5: the first device object of a board readies the executor.
bool InitHwDevice(PDEV* pdev);
void CleanupHwDevice(PDEV* pdev);
