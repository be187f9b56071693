// A render context: everything the 3D engine keeps for one client drawing
// context (its render state, its engine state, its transform-and-lighting
// set-up, its pixel-program cache, its auxiliary surfaces and the surfaces
// it draws into), kept in the module-wide table of render contexts under a
// handle from 1.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/kcore_names.h"
#include "kernel/3d/draw/fog_table.h"
#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/render/aux_surfaces.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/handle_table.h"

class PDEV;
class BmSecondaryInt;
class ContextState3d;
class EngineOwner3d;
class PixelProgramCache;
class RenderTargetState;
class ResourceTable;
class Surface3d;
class TnlSetup;
struct CommonData;
struct Context3d;

inline constexpr uint32_t kRenderContextTableStep = 16;
inline constexpr uint32_t kBoundTargets = 4;
inline constexpr uint32_t kBoundFurther = 9;
inline constexpr uint32_t kTargetFlagsDefault = 0x107;
inline constexpr uint32_t kTargetDepthBound = 0x100;
inline constexpr uint32_t kTargetColourBound = 0x200;
inline constexpr uint32_t kVertexFormatDefault = 0x1C4;
inline constexpr uint32_t kRenderContextStamp = 1;

// What a render context is made from (the pending render-context table
// creates it, writes its handle and answers whether it is usable).
struct RenderContextRequest3d {
  struct Context3d* owner;
  PDEV* device;
  uint32_t processKey;
  uint32_t index;          // 0 or 1 within its 3D context
  Surface3d* targets[2];   // colour and depth target, or none
  uint32_t handle;         // out
};

// The surfaces a draw binds: up to four render targets, the colour and the
// depth target, and further surfaces.
struct TargetListEntry {
  Surface3d* surface;
  uint32_t words[3];
};
struct BoundSurfaceRecord {
  struct {
    uint32_t enable;
    uint32_t count;
    const TargetListEntry* entries;
  } targets;
  struct {
    uint8_t flags;       // bit 0: colour target given, bit 2: depth target given
    Surface3d* surface;
  } colour, depth;
  struct {
    uint8_t bytes[5];    // count: (byte 2 bit 0) x 8 + (byte 1 >> 5); enable: byte 4 bit 3
    Surface3d* const* surfaces;
  } further;
};

struct RenderContext3d : OsHeapObject {
  RenderContext3d();
  ~RenderContext3d();
  RenderContext3d(const RenderContext3d&) = delete;
  RenderContext3d& operator=(const RenderContext3d&) = delete;

  // From the 3D context's request record: its device, client key and
  // target description.
  bool Init(RenderContextRequest3d* request);
  void SetStamp(uint32_t value);
  void SetTargets(const BoundSurfaceRecord& record);
  void PrepareTargets();
  void SetSuspended(bool suspended);
  // Hands what was written into the context's command stream (the
  // device's secondary stream, where its state, draws and progress words
  // go) since the last hand-over to the primary stream, in submission
  // mode 2. Nothing when nothing was written.
  void HandOverStream();

  // Links copied from the device object.
  PDEV* device = nullptr;
  CommonData* common = nullptr;
  uint32_t deviceWord = 0;
  uint32_t handle = 0;
  uint32_t unit = 0;
  ContextState3d* contextState = nullptr;   // owned
  EngineOwner3d* engineOwner = nullptr;
  TnlSetup* tnl = nullptr;                   // owned
  TnlStateRecord tnlRecord = {};             // what the set-up attaches to
  PixelProgramCache* programCache = nullptr; // owned
  RenderTargetState* targetState = nullptr;  // owned: targets, work buffer, counters
  BmPrimInt* primaryStream = nullptr;
  BmSecondaryInt* secondaryStream = nullptr;
  uint32_t stamp = 0;
  Context3d* owner3d = nullptr;    // the 3D context that made it
  uint32_t index = 0;              // 0 or 1 within it

  RenderState3d state;
  ResourceTable* resources = nullptr;  // shared with the client's other contexts
  AuxSurfaces3d aux;
  FogTable fogTable;
  VertexStreamSetup streamSetup;

  Surface3d* targets[kBoundTargets] = {};
  uint32_t targetCount = 0;
  Surface3d* depthTarget = nullptr;
  Surface3d* colourTarget = nullptr;
  Surface3d* further[kBoundFurther] = {};
  uint32_t furtherCount = 0;
  uint32_t targetFlags = 0;
  uint32_t suspended = 0;
  uint32_t resumeCount = 0;

  // What the render-state application keeps of the context.
  uint32_t vertexControl = 0;
  uint8_t targetModeFlag = 0;
  uint32_t targetModeSwitches = 0;
  uint32_t targetStatusMode = 0;
  uint32_t targetStatus[kTargetStatuses] = {};
  uint8_t revalidating = 0;
};

// The module-wide table (null while no render context lives): made with
// the first render context, freed with the last, and emptied (every
// context destroyed) when the module goes.
HandleTable<RenderContext3d>* RenderContextTable();
void EmptyRenderContextTable();
// The live render context under a handle, or null.
RenderContext3d* RenderContextTableGet(uint32_t handle);

// True with the handle in the request, or false with nothing left (handle
// 0).
bool CreateRenderContext(RenderContextRequest3d* request);
// Handles beyond the table and free ones are ignored.
void DestroyRenderContext(uint32_t handle);

// What the 3D client contexts and their token interpreter ask of a render
// context: its stamp; its targets dropped when the device stops (target
// flags back to their start value); the batch's tag stored as the last
// write of its colour and depth targets of memory kind 3 or 4, answering
// the mask of the targets present (0x100 colour, 0x200 depth); its
// vertex constants flushed; the drawable's rectangle as its viewport's
// origin and size, marked dirty only when it changed.
void RenderContext3dSetStamp(RenderContext3d* context, uint32_t stamp);
void RenderContext3dDropTargets(RenderContext3d* context);
// Binds the colour and depth targets again (either may be null), as the
// 3D context's creation bound them; both are bound at the next
// application.
void RenderContext3dRestoreTargets(RenderContext3d* context, Surface3d* colour, Surface3d* depth);
// The context's command stream handed to the primary stream
// (RenderContext3d::HandOverStream); its progress words share that stream,
// so the progress stream's hand-over is the same. Nothing without a context.
void RenderContext3dHandOverStream(RenderContext3d* context);
void RenderContext3dHandOverProgressStream(RenderContext3d* context);
uint32_t RenderContext3dSealTargets(RenderContext3d* context, uint32_t tag);
void RenderState3dFlushVertexConstants(RenderContext3d* context);
void RenderState3dSetDrawableViewport(RenderContext3d* context, int32_t left, int32_t top, int32_t width,
                                      int32_t height);

// What the 3D surfaces ask of a render context: a surface that goes leaves
// every place the context holds it; the context's link to its resource
// table is cleared when the table goes; bindings of a resource dropped from
// its render state's streams and stages; every state group marked dirty.
void UnbindSurfaceReferences(RenderContext3d* bindingOwner, Surface3d* surface);
void RenderContext3dForgetResourceTable(RenderContext3d* context);
void RenderState3dForgetBuffer(RenderContext3d* context, uint32_t type, uint32_t handle);
// A surface of the context's resource table goes: its pixel programs let
// go of it.
void RenderContext3dForgetSurface(RenderContext3d* context, const Surface3d* surface);
void RenderState3dMarkAllDirty(RenderContext3d* context);
