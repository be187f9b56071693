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

// Token handlers not written yet (the interpreter names all of them in
// ORV_TOKEN_HANDLERS of kernel/3d/client/token_interpreter.h, with their
// arguments).
#define ORV_PENDING_TOKENS(X)
#define ORV_DECLARE_PENDING_TOKEN(opcode, name) \
  void name(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing);
ORV_PENDING_TOKENS(ORV_DECLARE_PENDING_TOKEN)
#undef ORV_DECLARE_PENDING_TOKEN

