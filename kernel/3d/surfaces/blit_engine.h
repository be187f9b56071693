// The blit engine of a device object: the engine states its blits and
// presents run with, the blit set-up, and the surface the display shows.
// It lives in the device object's blit-engine bytes, made by component
// entry 18 and undone by its clean-up.
#pragma once

#include <stdint.h>

class ContextState3d;
class PDEV;
class Surface3d;

inline constexpr uint32_t kBlitFormat8 = 29;
inline constexpr uint32_t kBlitFormat16 = 10;
inline constexpr uint32_t kBlitFormatOther = 11;
inline constexpr uint32_t kBlitSetupBytes = 1200;

struct BlitEngine3d {
  // Clears the engine states, the displayed surface and the blit set-up.
  void Init();

  // Records the surface the display now shows; true.
  bool SetDisplayedSurface(Surface3d* surface);
  // Unless the surface keeps its place on the display, waits (bounded)
  // until no flip is pending for the device's displays and shows their
  // buffer 0; then forgets the surface.
  void ReleaseDisplayedSurface();

  PDEV* device;
  uint32_t words[2];
  ContextState3d* states[2];  // blits, presents
  uint32_t formatCode;
  Surface3d* displayed;
  // The blit transform state and texture-stage set-up, made in place.
  alignas(8) uint8_t transformState[kBlitSetupBytes / 2];
  alignas(8) uint8_t stageSetup[kBlitSetupBytes / 2];
};
static_assert(sizeof(BlitEngine3d) <= 1344);

// The device's blit engine (in its blit-engine bytes).
BlitEngine3d* BlitEngineOf(PDEV* pdev);

// What the 3D surfaces ask of a device's blit engine: the surface it
// records as displayed (null for none), recording one, and releasing it.
Surface3d* BlitEngine3dDisplayedSurface(PDEV* pdev);
void BlitEngine3dSetDisplayedSurface(PDEV* pdev, Surface3d* surface);
void BlitEngine3dReleaseDisplayedSurface(PDEV* pdev);

// Component entry 18.
bool InitBlitEngine3d(PDEV* pdev);
void CleanupBlitEngine3d(PDEV* pdev);
