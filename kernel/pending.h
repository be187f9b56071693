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
class ContextState3d;
class EngineOwner3d;
class PixelProgramCache;
class StateBlockTable;
struct RenderState3d;
struct Context3d;
struct ClientRequest;
struct RenderContextRequest3d;
struct TokenContext3d;
class SurfaceList3d;
class ResourceTable;

// X(init, cleanup, entry): bool init(PDEV*), void cleanup(PDEV*).
#define ORV_PENDING_KERNEL_ROWS(X)                                          \
  X(InitSharedSurfaces3d, CleanupSharedSurfaces3d, 20)

#define ORV_DECLARE_PENDING_KERNEL_ROW(init, cleanup, entry) \
  bool init(PDEV* pdev);                                     \
  void cleanup(PDEV* pdev);
ORV_PENDING_KERNEL_ROWS(ORV_DECLARE_PENDING_KERNEL_ROW)
#undef ORV_DECLARE_PENDING_KERNEL_ROW

// The 3D engine's part of enabling a device object: the value the
// device's surface owner puts into the engine's initial state.
uint32_t SurfaceOwnerInitialValue3d(PDEV* pdev);

// What render contexts and their render state ask of the engine state and
// the parts that validate and emit it. A bool answers whether the step
// succeeded.
//
// The engine owner's wait count, and the device's target-mode word it
// keeps.
void EngineOwner3dSetWaitCount(EngineOwner3d* owner, uint32_t count);
uint32_t EngineOwner3dTargetMode(EngineOwner3d* owner);
// The board switch's value for a render context's state.
uint32_t ContextStateSwitchValue3d(PDEV* device);
// The device's surface owner: resynchronised after a target-mode switch,
// and the target kind of the engine control word.
void SurfaceOwnerResync3d(PDEV* device);
uint32_t SurfaceOwnerTargetKind3d(PDEV* device);
// What the auxiliary surfaces ask of a surface: a sync-tag packet before
// the processor writes it, and an image written into it.
void Surface3dWriteSyncTag(Surface3d* surface);
// A fill of the rectangle [left, right) x [top, bottom) of a surface
// (value and write mask, fill mode); closing the drawing into the board's
// fast-cleared depth surface when another clear takes over.
bool Surface3dFillRect(Surface3d* surface, int32_t left, int32_t top, int32_t right, int32_t bottom,
                       uint32_t value, uint32_t mask, uint32_t mode);
void FlushRenderTarget(Surface3d* surface, PDEV* device, uint32_t flag);
bool Surface3dWriteImage(Surface3d* surface, const void* image, uint32_t bytes);
// ---- What the 3D client contexts, their requests and the token interpreter
// ask of later parts ------------------------------------------------------------------

// Hands the filled range of the context's own stream, and of its progress
// stream, to the primary stream.
void RenderContext3dHandOverStream(RenderContext3d* context);
void RenderContext3dHandOverProgressStream(RenderContext3d* context);
// A re-attached 3D context re-emits its saved target synchronisation.
void Context3dReemitSavedTargets(Context3d* context);

// Token handlers not written yet (the interpreter names all of them in
// ORV_TOKEN_HANDLERS of kernel/3d/client/token_interpreter.h, with their
// arguments).
#define ORV_PENDING_TOKENS(X)                         \
  X(10, EmitUpdateSurfaceBoxes)                       \
  X(55, EmitSetSurfaceValues)
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
