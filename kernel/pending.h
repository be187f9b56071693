// Functions of the kernel core whose code is not written yet: the component
// rows of the kernel device object that later parts bring, the 3D engine's parts of device enable
// and disable and of a DMA mode change, and what the 3D client contexts ask of
// later parts. They are
// declared here so that the component table and the device lifetime can name
// them; test executables and the test build of the module link the recording
// stand-ins of tests/standins/kernel_standins.cpp in their place, and the
// shipped module cannot be loaded until each is written.
//
// When one is written, its line goes from this list and its declaration
// moves to the header of the file that defines it.
#pragma once

#include <stdint.h>

class PDEV;
class ClientContext;
class Surface3d;
struct RenderContext3d;
struct CommonData;
struct KernelClient;
struct KernelDevice;
struct Context3d;
struct ClientRequest;
struct RenderContextRequest3d;
struct TokenContext3d;
struct VecConstShadow;
class SurfaceList3d;
class ResourceTable;

// X(init, cleanup, entry): bool init(PDEV*), void cleanup(PDEV*).
#define ORV_PENDING_KERNEL_ROWS(X)                                          \
  X(InitEngineOwner3d, CleanupEngineOwner3d, 15)                            \
  X(InitBlitEngine3d, CleanupBlitEngine3d, 18)                              \
  X(InitSharedSurfaces3d, CleanupSharedSurfaces3d, 20)

#define ORV_DECLARE_PENDING_KERNEL_ROW(init, cleanup, entry) \
  bool init(PDEV* pdev);                                     \
  void cleanup(PDEV* pdev);
ORV_PENDING_KERNEL_ROWS(ORV_DECLARE_PENDING_KERNEL_ROW)
#undef ORV_DECLARE_PENDING_KERNEL_ROW

// The 3D engine's part of enabling and disabling a device object: create
// the device's context state;
// close the render target open for drawing and release the memory of the
// board's render-target slots; clear the engine-mode bit of the render
// contexts when a device object is complete.
bool InitContextState3d(PDEV* pdev);
void ReleaseRenderTargets3d(PDEV* pdev);
void ResetEngineMode3d(PDEV* pdev);

// Marks the board's 3D engine state dirty and writes all of it into the
// secondary stream, before the engine state is re-initialised.
void FlushEngineState3d(CommonData* common);

// What the 3D surfaces ask of the render contexts and the blit engine: the
// surface the device's blit engine records as displayed (null for none),
// recording one, and releasing it (pending flips waited for and cancelled
// first); a render context's auxiliary surfaces, released or rebuilt for a
// device (none: released); the references a render context's binding array
// holds to a surface that goes; bindings of a resource dropped from a render
// state's streams; every state group marked dirty; the context's link to its
// resource table cleared.
Surface3d* BlitEngine3dDisplayedSurface(PDEV* pdev);
void BlitEngine3dSetDisplayedSurface(PDEV* pdev, Surface3d* surface);
void BlitEngine3dReleaseDisplayedSurface(PDEV* pdev);
void AuxSurfaces3dReleaseAll(RenderContext3d* context);
void AuxSurfaces3dRebuild(RenderContext3d* context, PDEV* device);
void UnbindSurfaceReferences(RenderContext3d* bindingOwner, Surface3d* surface);
void RenderState3dForgetBuffer(RenderContext3d* context, uint32_t type, uint32_t handle);
void RenderState3dMarkAllDirty(RenderContext3d* context);
void RenderContext3dForgetResourceTable(RenderContext3d* context);

// ---- What the 3D client contexts, their requests and the token interpreter
// ask of later parts ------------------------------------------------------------------

// Render contexts in the module-wide table: creation from a request record
// (the handle written into it; false when the context is not usable),
// destruction by handle, lookup (null for a free or unknown handle).
bool CreateRenderContext(RenderContextRequest3d* request);
void DestroyRenderContext(uint32_t handle);
RenderContext3d* RenderContextTableGet(uint32_t handle);
void RenderContext3dSetStamp(RenderContext3d* context, uint32_t stamp);
// The device stopped: the context's target pointers cleared, its target
// state word 263.
void RenderContext3dDropTargets(RenderContext3d* context);
// Stores the tag as the last-write tag of the context's colour and depth
// targets of memory kind 3 or 4; answers the target mask (0x100 colour,
// 0x200 depth present).
uint32_t RenderContext3dSealTargets(RenderContext3d* context, uint32_t tag);
// Hands the filled range of the context's own stream, and of its progress
// stream, to the primary stream.
void RenderContext3dHandOverStream(RenderContext3d* context);
void RenderContext3dHandOverProgressStream(RenderContext3d* context);
// The context's vertex-engine constant shadow (its transform set-up's).
VecConstShadow* RenderContext3dVecConstShadow(RenderContext3d* context);
// Whether the flip controller finished the pending flip of the context's
// current target.
bool IsTargetFlipDone(RenderContext3d* context);
void RenderState3dFlushVertexConstants(RenderContext3d* context);
// The drawable's rectangle as the render state's viewport origin and size,
// marked dirty only when it changed.
void RenderState3dSetDrawableViewport(RenderContext3d* context, int32_t left, int32_t top,
                                      int32_t width, int32_t height);
// A re-attached 3D context re-emits its saved target synchronisation.
void Context3dReemitSavedTargets(Context3d* context);

// Token handlers not written yet (the interpreter names all of them in
// ORV_TOKEN_HANDLERS of kernel/3d/client/token_interpreter.h, with their
// arguments).
#define ORV_PENDING_TOKENS(X)                         \
  X(5, RenderState3dSetDriverStates)                  \
  X(6, RenderState3dSetSamplerStates)                 \
  X(7, RenderState3dSetViewport)                      \
  X(8, EmitSetStreamSources)                          \
  X(10, EmitUpdateSurfaceBoxes)                       \
  X(12, RenderState3dSetRenderStates)                 \
  X(13, EmitSyncTargets)                              \
  X(14, RenderState3dSetTextureStages)                \
  X(18, RenderState3dSetRectA)                        \
  X(21, EmitClearBatch)                               \
  X(24, EmitDrawIndexed)                              \
  X(25, EmitDrawStrip)                                \
  X(26, EmitExecuteRanges)                            \
  X(27, EmitDrawIndexedPrimitives)                    \
  X(28, EmitDrawUserPrimitives)                       \
  X(32, RenderState3dSetTransforms)                   \
  X(33, EmitSetLights)                                \
  X(34, EmitSetVertexConstants)                       \
  X(35, RenderState3dSetFloat4StatesB)                \
  X(36, RenderState3dSetModeStates)                   \
  X(37, RenderState3dSetClipPlanes)                   \
  X(38, RenderState3dSetRectB)                        \
  X(39, RenderState3dSetDepthRange)                   \
  X(53, RenderState3dSetFloat4StateA)                 \
  X(54, RenderState3dSetFloatPair)                    \
  X(55, EmitSetSurfaceValues)                         \
  X(64, TnlSetupLoadVertexDeclaration)                \
  X(65, TnlSetupDeleteVertexShader)                   \
  X(66, RenderState3dSetVertexShader)                 \
  X(68, EmitDrawBatch)                                \
  X(69, RenderState3dLoadPipelineRecord)              \
  X(70, PixelProgramCacheCreateProgram)               \
  X(71, PixelProgramCacheDeleteProgram)               \
  X(72, RenderState3dSetPixelConstants)               \
  X(73, PixelProgramCacheSetProgramParams)            \
  X(80, EmitWriteBufferData)
#define ORV_DECLARE_PENDING_TOKEN(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_PENDING_TOKENS(ORV_DECLARE_PENDING_TOKEN)
#undef ORV_DECLARE_PENDING_TOKEN

// A client's surface list: made over its resource table, destroyed; its
// surfaces released from the device (device stopped) and restored
// (request 3; false when it cannot); requests 12 to 15 with the kernel's
// copy of their record (null for 13 and 15), answering the request's
// result; the surface of an index (null for none).
SurfaceList3d* SurfaceList3dCreate(PDEV* device, ResourceTable* resources);
void SurfaceList3dDestroy(SurfaceList3d* list);
void SurfaceList3dRelease(SurfaceList3d* list);
bool SurfaceList3dRestore(SurfaceList3d* list);
int32_t SurfaceList3dRequest(SurfaceList3d* list, ClientRequest* request, uint8_t* record);
Surface3d* SurfaceList3dGet(SurfaceList3d* list, uint64_t index);
// Surface fields the requests read: memory kind (low four bits of the kind
// byte) and the flag byte (bit 1 displayable).
uint32_t Surface3dMemoryKind(Surface3d* surface);
uint32_t Surface3dFlagByte(Surface3d* surface);
// A surface's width and height, and its bits per pixel.
void Surface3dExtent(Surface3d* surface, uint32_t* width, uint32_t* height);
uint32_t Surface3dBitsPerPixel(Surface3d* surface);
// Whether the surface's synchronisation is held back; flushing the drawing
// of the context whose current render target it is.
bool Surface3dIsSyncSuspended(Surface3d* surface);
void Surface3dFlushIfRenderTarget(Surface3d* surface);
// Before a flip: the surface's pending work completed and its busy mark
// cleared; the start address a flip shows (the second one when the
// surface's flag bit 1 is set).
void Surface3dCompletePendingWork(Surface3d* surface);
uint32_t Surface3dFlipAddress(Surface3d* surface, bool second);
// Request 31's engine copy of one row of a surface (width pixels from
// left) into a staging page at its bus address, through the engine owner's
// copy state and stream, handed to the primary stream.
void EngineOwner3dCopyRow(PDEV* device, Surface3d* surface, uint32_t row, uint32_t left,
                          uint32_t width, uint64_t stagingBus);
// A present's copy or fill over one pair of boxes {left, top, front, right,
// bottom, back} (level, face, mask and value from the request).
void ClientObjectCopyRect(ClientContext* client, Surface3d* destination, Surface3d* source,
                          const uint32_t* sourceBox, const uint32_t* destinationBox,
                          const ClientRequest* request);
void ClientObjectFill(ClientContext* client, Surface3d* destination, const uint32_t* box,
                      const ClientRequest* request);
// A surface's second placement word.
uint32_t Surface3dSecondWord(Surface3d* surface);
