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
#include "kernel/3d/render/context_state.h"
#include "kernel/pending.h"
#include "platform/kglue/kglue.h"
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

// ---- Render contexts and render state ---------------------------------------------------------
// A call that answers a bool succeeds unless a test chose a non-zero
// result; the stand-in's action runs with the render context (or the
// record it was handed). Objects of later parts that a render context owns
// are made here through the glue, so the glue's accounting sees them.

namespace {

bool StandInStep(const char* name, void* subject) {
  uint32_t chosen = 0;
  return !orvstandin::Called(name, &chosen, subject) || chosen == 0;
}

void StandInVoid(const char* name, void* subject) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored, subject);
}

uint32_t StandInValue(const char* name, void* subject, uint32_t answer) {
  uint32_t chosen = 0;
  return orvstandin::Called(name, &chosen, subject) ? chosen : answer;
}

void* StandInObject(const char* name, size_t size, void* subject) {
  if (!StandInStep(name, subject)) return nullptr;
  void* object = memAlloc(size);
  if (object != nullptr) memset(object, 0, size);
  return object;
}

bool StandInDrawEmitter(RenderContext3d*, const void*) { return true; }
bool StandInIndexEmitter(RenderContext3d*, const void*) { return true; }

}  // namespace

ContextState3d* NewContextState3d(EngineOwner3d* owner) {
  auto* state = static_cast<ContextState3d*>(StandInObject("NewContextState3d", sizeof(ContextState3d), owner));
  if (state != nullptr) state->owner = owner;
  return state;
}
void DeleteContextState3d(ContextState3d* state) {
  StandInVoid("DeleteContextState3d", state);
  memFree(state);
}
void VertexEngineBlockSetUp(VertexEngineBlock* block) { StandInVoid("VertexEngineBlockSetUp", block); }
bool EngineOwner3dExecute(EngineOwner3d*, ContextState3d* state, uint32_t operation, uint32_t flag) {
  const bool result = StandInStep("EngineOwner3dExecute", state);
  orvstandin::LogArg(operation);
  orvstandin::LogArg(flag);
  return result;
}
void EngineOwner3dSetWaitCount(EngineOwner3d* owner, uint32_t count) {
  StandInVoid("EngineOwner3dSetWaitCount", owner);
  orvstandin::LogArg(count);
}
uint32_t EngineOwner3dTargetMode(EngineOwner3d* owner) { return StandInValue("EngineOwner3dTargetMode", owner, 0); }
uint32_t ContextStateSwitchValue3d(PDEV* device) { return StandInValue("ContextStateSwitchValue3d", device, 0); }

bool RenderTargetStateBind(RenderContext3d* c) { return StandInStep("RenderTargetStateBind", c); }
bool FogTableBind(RenderContext3d* c) { return StandInStep("FogTableBind", c); }
bool VertexStreamSetupBind(RenderContext3d* c) { return StandInStep("VertexStreamSetupBind", c); }
void ReleaseRenderTargetMemory3d(RenderContext3d* c) { StandInVoid("ReleaseRenderTargetMemory3d", c); }
void PrepareRenderTargetState3d(RenderContext3d* c, RenderContext3d* renderedLast) {
  StandInVoid("PrepareRenderTargetState3d", c);
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(renderedLast));
}
void RenderTargetStateSetMode(RenderContext3d* c, uint32_t mode) {
  StandInVoid("RenderTargetStateSetMode", c);
  orvstandin::LogArg(mode);
}
bool ValidateDepthStencil3d(RenderContext3d* c) { return StandInStep("ValidateDepthStencil3d", c); }
bool ValidateRasterBlend3d(RenderContext3d* c) { return StandInStep("ValidateRasterBlend3d", c); }
bool ValidateTargetBinding3d(RenderContext3d* c) { return StandInStep("ValidateTargetBinding3d", c); }
void BindRenderTargets3d(RenderContext3d* c) { StandInVoid("BindRenderTargets3d", c); }
void SurfaceOwnerResync3d(PDEV* device) { StandInVoid("SurfaceOwnerResync3d", device); }
uint32_t SurfaceOwnerTargetKind3d(PDEV* device) { return StandInValue("SurfaceOwnerTargetKind3d", device, 0); }
StateBlockTable* CreateStateBlockTable3d(RenderState3d* state) {
  return static_cast<StateBlockTable*>(StandInObject("CreateStateBlockTable3d", 16, state));
}
void DestroyStateBlockTable3d(StateBlockTable* table) {
  StandInVoid("DestroyStateBlockTable3d", table);
  memFree(table);
}

bool FogTableUpdate(RenderContext3d* c) { return StandInStep("FogTableUpdate", c); }
void VertexStreamSetStreamSources(RenderContext3d* c) { StandInVoid("VertexStreamSetStreamSources", c); }
void VertexStreamSetIndexSource(RenderContext3d* c) { StandInVoid("VertexStreamSetIndexSource", c); }
void VertexStreamSetVertexElements(RenderContext3d* c) { StandInVoid("VertexStreamSetVertexElements", c); }
void VertexStreamComputeAddresses(RenderContext3d* c) { StandInVoid("VertexStreamComputeAddresses", c); }
void VertexStreamSetIndexStart(RenderContext3d* c) { StandInVoid("VertexStreamSetIndexStart", c); }
void VertexStreamSetPrimitiveType(RenderContext3d* c) { StandInVoid("VertexStreamSetPrimitiveType", c); }
bool VertexStreamComputeVertexLimit(RenderContext3d* c) { return StandInStep("VertexStreamComputeVertexLimit", c); }
void VertexFetchSetElements(RenderContext3d* c) { StandInVoid("VertexFetchSetElements", c); }
uint32_t VertexFetchEmitLayout(RenderContext3d* c, bool layout) {
  const uint32_t word = StandInValue("VertexFetchEmitLayout", c, 0);
  orvstandin::LogArg(layout ? 1 : 0);
  return word;
}

void InstallIndex32Emitters3d(RenderContext3d* c) { StandInVoid("InstallIndex32Emitters3d", c); }
bool (*ProgramDrawEmitter3d(uint32_t kind, uint32_t type))(RenderContext3d*, const void*) {
  StandInVoid("ProgramDrawEmitter3d", nullptr);
  orvstandin::LogArg(kind);
  orvstandin::LogArg(type);
  return StandInDrawEmitter;
}
bool (*ProgramIndexEmitter3d(uint32_t kind, uint32_t type))(RenderContext3d*, const void*) {
  StandInVoid("ProgramIndexEmitter3d", nullptr);
  orvstandin::LogArg(kind);
  orvstandin::LogArg(type);
  return StandInIndexEmitter;
}
bool (*PrimitiveDrawEmitter3d(uint32_t type))(RenderContext3d*, const void*) {
  StandInVoid("PrimitiveDrawEmitter3d", nullptr);
  orvstandin::LogArg(type);
  return StandInDrawEmitter;
}
bool (*PrimitiveIndexEmitter3d(uint32_t type))(RenderContext3d*, const void*) {
  StandInVoid("PrimitiveIndexEmitter3d", nullptr);
  orvstandin::LogArg(type);
  return StandInIndexEmitter;
}

void InitBlitSetup3d(void* transformState, void*) { StandInVoid("InitBlitSetup3d", transformState); }
void CleanupBlitSetup3d(void* transformState, void*) { StandInVoid("CleanupBlitSetup3d", transformState); }

PixelProgramCache* NewPixelProgramCache(RenderContext3d* c) {
  return static_cast<PixelProgramCache*>(StandInObject("NewPixelProgramCache", 16, c));
}
void DeletePixelProgramCache(PixelProgramCache* cache) {
  StandInVoid("DeletePixelProgramCache", cache);
  memFree(cache);
}
bool PixelProgramCacheSelect(PixelProgramCache* cache, RenderState3d*) {
  return StandInStep("PixelProgramCacheSelect", cache);
}
bool PixelProgramCacheValid(PixelProgramCache* cache) { return StandInStep("PixelProgramCacheValid", cache); }
void PixelProgramCacheLoadConstantBlock(PixelProgramCache* cache, uint32_t block, RenderState3d*) {
  StandInVoid("PixelProgramCacheLoadConstantBlock", cache);
  orvstandin::LogArg(block);
}
void LoadRenderStateDefaults3d(RenderState3d* state) { StandInVoid("LoadRenderStateDefaults3d", state); }

void Surface3dWriteSyncTag(Surface3d* surface) {
  StandInVoid("Surface3dWriteSyncTag", surface);
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
}
bool Surface3dFill(Surface3d* surface, uint32_t value, uint32_t mask) {
  const bool result = StandInStep("Surface3dFill", surface);
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
  orvstandin::LogArg(value);
  orvstandin::LogArg(mask);
  return result;
}
// The image's bytes are read whole, so a short image shows as a sanitizer
// report; their sum is logged beside the pointer and size.
bool Surface3dWriteImage(Surface3d* surface, const void* image, uint32_t bytes) {
  const bool result = StandInStep("Surface3dWriteImage", surface);
  uint64_t sum = 0;
  const auto* p = static_cast<const uint8_t*>(image);
  for (uint32_t i = 0; i < bytes; ++i) sum += p[i];
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
  orvstandin::LogArg(bytes);
  orvstandin::LogArg(sum);
  return result;
}

TnlSetup* NewTnlSetup() { return static_cast<TnlSetup*>(StandInObject("NewTnlSetup", 16, nullptr)); }
void DeleteTnlSetup(TnlSetup* setup) {
  StandInVoid("DeleteTnlSetup", setup);
  memFree(setup);
}
void TnlSetupSetProgramBuilder(TnlSetup* setup, VertexProgramBuilder*) {
  StandInVoid("TnlSetupSetProgramBuilder", setup);
}
bool TnlSetupAttachContext(TnlSetup*, RenderContext3d* c, uint32_t flags) {
  const bool result = StandInStep("TnlSetupAttachContext", c);
  orvstandin::LogArg(flags);
  return result;
}
void TnlSetupSetModeBits(TnlSetup* setup, uint32_t bits) {
  StandInVoid("TnlSetupSetModeBits", setup);
  orvstandin::LogArg(bits);
}
bool TnlSetupUpdate(TnlSetup* setup, bool fixedFunctionNeeded, VertexProcessingBlock*, VertexSubBlock*,
                    VertexEngineBlock*) {
  const bool result = StandInStep("TnlSetupUpdate", setup);
  orvstandin::LogArg(fixedFunctionNeeded ? 1 : 0);
  return result;
}
void VertexProgramBuilderResetSlots(VertexProgramBuilder* builder, uint32_t first) {
  StandInVoid("VertexProgramBuilderResetSlots", builder);
  orvstandin::LogArg(first);
}
