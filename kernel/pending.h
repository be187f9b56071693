// Functions of the kernel core whose code is not written yet: the component
// rows of the kernel device object that later parts bring, the 3D engine's parts of device enable
// and disable and of a DMA mode change, and the 3D client contexts. They are
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

// X(init, cleanup, entry): bool init(PDEV*), void cleanup(PDEV*).
#define ORV_PENDING_KERNEL_ROWS(X)                                          \
  X(InitEngineOwner3d, CleanupEngineOwner3d, 15)                            \
  X(InitBlitEngine3d, CleanupBlitEngine3d, 18)                              \
  X(InitSharedSurfaces3d, CleanupSharedSurfaces3d, 20)                      \
  X(InitRangeMap, CleanupRangeMap, 21)

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

// The device object a client's 3D context is bound to; the context's
// clean-up and release (the client's pointer is cleared); marking it lost
// when its device object stops.
PDEV* ClientContext3dDevice(ClientContext* context);
void DestroyClientContext3d(KernelClient* client);
void MarkClientContext3dLost(KernelClient* client);

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

// Request handlers of later parts: the 3D clients' context requests (31 to
// 33).
#define ORV_PENDING_REQUESTS(X)      \
  X(IoctlCreate3dContext)            \
  X(IoctlDestroy3dContext)           \
  X(IoctlExecute3dRequest)
#define ORV_DECLARE_PENDING_REQUEST(name) \
  int name(KernelClient* client, uint32_t code, unsigned long argument);
ORV_PENDING_REQUESTS(ORV_DECLARE_PENDING_REQUEST)
#undef ORV_DECLARE_PENDING_REQUEST
