// A render context: everything the 3D engine keeps for one client drawing
// context (its render state, its engine state, its transform-and-lighting
// set-up, its pixel-program cache, its auxiliary surfaces and the surfaces
// it draws into), kept in the module-wide table of render contexts under a
// handle from 1.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "kernel/3d/render/aux_surfaces.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/handle_table.h"

class PDEV;
class BmPrimInt;
class BmSecondaryInt;
class ContextState3d;
class EngineOwner3d;
class PixelProgramCache;
class ResourceTable;
class Surface3d;
class TnlSetup;
struct CommonData;

inline constexpr uint32_t kRenderContextTableStep = 16;
inline constexpr uint32_t kBoundTargets = 4;
inline constexpr uint32_t kBoundFurther = 9;
inline constexpr uint32_t kTargetFlagsDefault = 0x107;
inline constexpr uint32_t kTargetDepthBound = 0x100;
inline constexpr uint32_t kTargetColourBound = 0x200;
inline constexpr uint32_t kVertexFormatDefault = 0x1C4;
inline constexpr uint32_t kRenderContextStamp = 1;

// Bits of a surface's flags word the render contexts read.
inline constexpr uint32_t kSurfFlagKeepDisplayed = 0x4;
inline constexpr uint32_t kSurfFlagNewlyPlaced = 0x10;

// What a 3D context hands the render context it creates.
struct RenderContextRecord {
  PDEV* device;            // the device object of the 3D context's unit
  uint32_t clientId;       // its client's key in the unit's resource tables
  uint32_t contextWord;    // a word of the 3D context
  uint32_t secondWord;
  uint32_t handle;         // written by CreateRenderContext
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

  bool Init(RenderContextRecord* record);
  void SetStamp(uint32_t value);
  void SetTargets(const BoundSurfaceRecord& record);
  void PrepareTargets();
  void SetSuspended(bool suspended);

  // Links copied from the device object.
  PDEV* device = nullptr;
  CommonData* common = nullptr;
  uint32_t deviceWord = 0;
  uint32_t handle = 0;
  uint32_t unit = 0;
  ContextState3d* contextState = nullptr;   // owned
  EngineOwner3d* engineOwner = nullptr;
  TnlSetup* tnl = nullptr;                   // owned
  PixelProgramCache* programCache = nullptr; // owned
  BmPrimInt* primaryStream = nullptr;
  BmSecondaryInt* secondaryStream = nullptr;
  uint32_t stamp = 0;
  uint32_t contextWord = 0;
  uint32_t secondWord = 0;

  RenderState3d state;
  ResourceTable* resources = nullptr;  // shared with the client's other contexts
  AuxSurfaces3d aux;

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

// The module-wide table: made when the first render context is, emptied
// (every context destroyed) when the module goes.
HandleTable<RenderContext3d>* RenderContextTable();
void EmptyRenderContextTable();
// Render contexts constructed since load.
uint32_t RenderContextsConstructed();
// The live render context under a handle, or null.
RenderContext3d* FindRenderContext(uint32_t handle);

// 1 with the handle in the record, or 0 with nothing left.
int CreateRenderContext(RenderContextRecord* record);
void DestroyRenderContext(uint32_t handle);
