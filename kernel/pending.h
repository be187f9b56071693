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
#define ORV_PENDING_KERNEL_ROWS(X)

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
  X(13, EmitSyncTargets)                              \
  X(24, EmitDrawIndexed)                              \
  X(25, EmitDrawStrip)                                \
  X(27, EmitDrawIndexedPrimitives)                    \
  X(28, EmitDrawUserPrimitives)                       \
  X(68, EmitDrawBatch)
#define ORV_DECLARE_PENDING_TOKEN(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_PENDING_TOKENS(ORV_DECLARE_PENDING_TOKEN)
#undef ORV_DECLARE_PENDING_TOKEN

// Request 31's engine copy of one row of a surface (width pixels from
// left) into a staging page at its bus address, through the engine owner's
// copy state and stream, handed to the primary stream.
void EngineOwner3dCopyRow(PDEV* device, Surface3d* surface, uint32_t row, uint32_t left,
                          uint32_t width, uint64_t stagingBus);
