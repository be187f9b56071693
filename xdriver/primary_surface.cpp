#include "xdriver/primary_surface.h"

#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/device_bitmap.h"

// The primary surface covers the desktop the framebuffer layer draws: the
// virtual size when the mode record carries it, else the visible size; its
// pitch is the width rounded up to 32 pixels, as the framebuffer layer's.
LSIZE PrimaryDesktopSize(const PDEV* pdev) {
  const VideoMode& mode = pdev->mode;
  const uint32_t width = mode.virtualWidth != 0 ? mode.virtualWidth : mode.dimension1;
  const uint32_t height = mode.virtualHeight != 0 ? mode.virtualHeight : mode.dimension2;
  // Under a quarter turn in hardware the mode carries the desktop as the X
  // server sees it; the displayed surface is that turned.
  if ((pdev->bindingFlags & (kPdevRotateCW | kPdevRotateCCW)) != 0)
    return {static_cast<int32_t>(height), static_cast<int32_t>(width)};
  return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// The head's memory lines (its desktop and the off-screen lines behind it,
// which the X server's framebuffer manager hands out from the start of the
// surface it draws into) are the head's own: that surface's block covers
// them, so that no other surface (another head's primary surface among
// them) is placed there.
uint32_t HeadMemoryLines(const PDEV* pdev, uint32_t pitch, uint32_t desktopHeight) {
  if (pitch == 0) return desktopHeight;
  const VideoMode& mode = pdev->mode;
  const uint64_t lines = (uint64_t{mode.lines} * mode.virtualWidth + pitch - 1) / pitch;
  if (lines <= desktopHeight) return desktopHeight;
  return lines < Dim2dHeight::kMask ? static_cast<uint32_t>(lines) : Dim2dHeight::kMask;
}

namespace {

// The lines the primary surface's block holds. Under a quarter turn in
// hardware the X server draws into a bitmap of its own and the primary
// surface is only what is displayed.
uint32_t PrimaryLines(const PDEV* pdev, uint32_t pitch, uint32_t desktopHeight) {
  if ((pdev->bindingFlags & (kPdevRotateCW | kPdevRotateCCW)) != 0) return desktopHeight;
  return HeadMemoryLines(pdev, pitch, desktopHeight);
}

void DescribePrimary(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  const LSIZE desktop = PrimaryDesktopSize(pdev);
  DeviceBitmap& primary = data.Primary();
  primary.memoryId = data.memoryId;
  const uint32_t pitch = (static_cast<uint32_t>(desktop.width) + 31) & 0x3FE0;
  primary.Describe(pdev, pitch, k2dLayoutBitmap, pdev->mode.pixelFormat,
                   PrimaryLines(pdev, pitch, static_cast<uint32_t>(desktop.height)), k2dMemoryPrimary,
                   k2dLocationLocal);
}

}  // namespace

bool InitPrimarySurface(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  if (data.surfDescList == nullptr) return false;
  DescribePrimary(pdev);
  data.target = nullptr;
  data.secondTarget = nullptr;
  return true;
}

void CleanupPrimarySurface(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  if (data.target == nullptr) return;
  data.Primary().Destroy();
  data.target = nullptr;
}

bool CreatePrimarySurface(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  DeviceBitmap& primary = data.Primary();
  // The device binding sets the rotation after construction: describe the
  // surface again before it is placed.
  if (primary.block == nullptr) DescribePrimary(pdev);
  if (!primary.Create(pdev, static_cast<const LSIZE*>(nullptr))) return false;
  primary.flags |= kDevBitPrimary;
  data.target = &primary;
  return true;
}
