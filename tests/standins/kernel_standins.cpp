// Stand-ins of the kernel core's pending functions (kernel/pending.h), in
// the kernel build. Each logs its call under its own name. A component init
// succeeds, and a request handler answers -22, unless a test chose another
// result (a non-zero code fails an init; a handler answers the chosen code
// as a signed number); the 3D engine's parts do nothing, but the blit
// engine's displayed surface is kept in the log's out-values. The last
// entry's clean-up, the first of every destruction, also logs the unit of
// the device object ("CleanupRangeMap unit <n>"), so tests see which object
// went when.
#include <string.h>

#include "core/pdev.h"
#include "kernel/pending.h"
#include "tests/standins/standin_log.h"

namespace {

bool StandInInit(const char* name) {
  uint32_t chosen = 0;
  return !orvstandin::Called(name, &chosen) || chosen == 0;
}

void StandInCall(const char* name) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored);
}

void StandInCleanup(const char* name, PDEV* pdev) {
  static const char* const kUnits[] = {"CleanupRangeMap unit 0", "CleanupRangeMap unit 1",
                                       "CleanupRangeMap unit 2", "CleanupRangeMap unit 3"};
  StandInCall(name);
  if (strcmp(name, "CleanupRangeMap") == 0 && pdev->unit < 4) StandInCall(kUnits[pdev->unit]);
}

int StandInAnswer(const char* name, int answer) {
  uint32_t chosen = 0;
  return orvstandin::Called(name, &chosen) ? static_cast<int>(chosen) : answer;
}

}  // namespace

#define ORV_DEFINE_KERNEL_ROW(init, cleanup, entry)   \
  bool init(PDEV*) { return StandInInit(#init); }   \
  void cleanup(PDEV* pdev) { StandInCleanup(#cleanup, pdev); }
ORV_PENDING_KERNEL_ROWS(ORV_DEFINE_KERNEL_ROW)
#undef ORV_DEFINE_KERNEL_ROW

bool InitContextState3d(PDEV*) { return StandInInit("InitContextState3d"); }
void ReleaseRenderTargets3d(PDEV*) { StandInCall("ReleaseRenderTargets3d"); }
void ResetEngineMode3d(PDEV*) { StandInCall("ResetEngineMode3d"); }

PDEV* ClientContext3dDevice(ClientContext*) {
  StandInCall("ClientContext3dDevice");
  return nullptr;
}
void DestroyClientContext3d(KernelClient*) { StandInCall("DestroyClientContext3d"); }
void MarkClientContext3dLost(KernelClient*) { StandInCall("MarkClientContext3dLost"); }

void FlushEngineState3d(CommonData*) { StandInCall("FlushEngineState3d"); }

// The blit engine's displayed surface is the value a test chose (out-value 0
// of "BlitEngine3dDisplayedSurface"); recording and releasing one change it.
Surface3d* BlitEngine3dDisplayedSurface(PDEV*) {
  StandInCall("BlitEngine3dDisplayedSurface");
  return reinterpret_cast<Surface3d*>(orvstandin::OutValue("BlitEngine3dDisplayedSurface", 0));
}
void BlitEngine3dSetDisplayedSurface(PDEV*, Surface3d* surface) {
  StandInCall("BlitEngine3dSetDisplayedSurface");
  orvstandin::SetOutValue("BlitEngine3dDisplayedSurface", 0, reinterpret_cast<uintptr_t>(surface));
}
void BlitEngine3dReleaseDisplayedSurface(PDEV*) {
  StandInCall("BlitEngine3dReleaseDisplayedSurface");
  orvstandin::SetOutValue("BlitEngine3dDisplayedSurface", 0, 0);
}
void AuxSurfaces3dReleaseAll(RenderContext3d*) { StandInCall("AuxSurfaces3dReleaseAll"); }
void AuxSurfaces3dRebuild(RenderContext3d*, PDEV*) { StandInCall("AuxSurfaces3dRebuild"); }
void UnbindSurfaceReferences(RenderContext3d*, Surface3d* surface) {
  StandInCall("UnbindSurfaceReferences");
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
}
void RenderState3dForgetBuffer(RenderContext3d*, uint32_t type, uint32_t handle) {
  StandInCall("RenderState3dForgetBuffer");
  orvstandin::LogArg(type);
  orvstandin::LogArg(handle);
}
void RenderState3dMarkAllDirty(RenderContext3d*) { StandInCall("RenderState3dMarkAllDirty"); }
void RenderContext3dForgetResourceTable(RenderContext3d*) { StandInCall("RenderContext3dForgetResourceTable"); }

#define ORV_DEFINE_REQUEST(name) \
  int name(KernelClient*, uint32_t, unsigned long) { return StandInAnswer(#name, -22); }
ORV_PENDING_REQUESTS(ORV_DEFINE_REQUEST)
#undef ORV_DEFINE_REQUEST
