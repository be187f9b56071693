// Stand-ins of the kernel core's pending functions (kernel/pending.h), in
// the kernel build. Each logs its call under its own name. A component init
// succeeds, and a request handler answers -22, unless a test chose another
// result (a non-zero code fails an init; a handler answers the chosen code
// as a signed number); the capability table and the 3D engine's parts do
// nothing. The last
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

void InitFormatCapabilityTable() { StandInCall("InitFormatCapabilityTable"); }

void RestoreVertexPrograms3d(PDEV*) { StandInCall("RestoreVertexPrograms3d"); }
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

#define ORV_DEFINE_REQUEST(name) \
  int name(KernelClient*, uint32_t, unsigned long) { return StandInAnswer(#name, -22); }
ORV_PENDING_REQUESTS(ORV_DEFINE_REQUEST)
#undef ORV_DEFINE_REQUEST
