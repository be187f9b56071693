// The device's blit engine and component entry 18.
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/blit_setup.h"

#include <new>
#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/flip_controller.h"

BlitEngine3d* BlitEngineOf(PDEV* pdev) {
  return pdev != nullptr ? reinterpret_cast<BlitEngine3d*>(pdev->blitEngine) : nullptr;
}

void BlitEngine3d::Init() {
  memset(this, 0, sizeof *this);
  InitBlitSetup3d(transformState, stageSetup);
}

bool BlitEngine3d::SetDisplayedSurface(Surface3d* surface) {
  displayed = surface;
  return true;
}

void BlitEngine3d::ReleaseDisplayedSurface() {
  Surface3d* surface = displayed;
  if (surface != nullptr && (surface->flagsWord & kSurfFlagKeepDisplayed) == 0 && device != nullptr) {
    FlipController* flips = device->common != nullptr ? device->common->flipController : nullptr;
    if (flips != nullptr) {
      // A flip still in flight would show the surface after it is gone: the
      // displays go back to their buffer 0 once it is done, or at once when
      // the wait runs out.
      (void)flips->WaitNoFlipPending(device->displayMask);
      flips->SelectDisplayedBuffer(device->displayMask, 0, 0);
    }
  }
  displayed = nullptr;
}

Surface3d* BlitEngine3dDisplayedSurface(PDEV* pdev) {
  BlitEngine3d* engine = BlitEngineOf(pdev);
  return engine != nullptr ? engine->displayed : nullptr;
}

void BlitEngine3dSetDisplayedSurface(PDEV* pdev, Surface3d* surface) {
  if (BlitEngine3d* engine = BlitEngineOf(pdev)) engine->SetDisplayedSurface(surface);
}

void BlitEngine3dReleaseDisplayedSurface(PDEV* pdev) {
  if (BlitEngine3d* engine = BlitEngineOf(pdev)) engine->ReleaseDisplayedSurface();
}

bool InitBlitEngine3d(PDEV* pdev) {
  BlitEngine3d* engine = BlitEngineOf(pdev);
  new (engine) BlitEngine3d();
  engine->Init();
  engine->device = pdev;
  engine->words[0] = pdev->unitIndex;
  engine->words[1] = pdev->displayMask;
  switch (pdev->mode.bitsPerPixel) {
    case 8: engine->formatCode = kBlitFormat8; break;
    case 16: engine->formatCode = kBlitFormat16; break;
    default: engine->formatCode = kBlitFormatOther; break;
  }
  EngineOwner3d* owner = pdev->common != nullptr ? pdev->common->engineOwner3d : nullptr;
  engine->states[0] = NewContextState3d(owner);
  if (engine->states[0] == nullptr) return false;
  engine->states[1] = NewContextState3d(owner);
  if (engine->states[1] != nullptr) return true;
  // A failed entry runs no clean-up: the first state goes here.
  DeleteContextState3d(engine->states[0]);
  engine->states[0] = nullptr;
  return false;
}

void CleanupBlitEngine3d(PDEV* pdev) {
  BlitEngine3d* engine = BlitEngineOf(pdev);
  for (ContextState3d*& state : engine->states) {
    if (state != nullptr) DeleteContextState3d(state);
    state = nullptr;
  }
  CleanupBlitSetup3d(engine->transformState, engine->stageSetup);
  engine->displayed = nullptr;
}
