// The kernel module's layout of the driver core's per-board record
// (selected by core/common_data.h): the 9,288-byte "Common data" region of
// the board's device, zeroed when made and shared by every kernel device
// object of the board. It holds the board-wide objects of the kernel
// component table and the fields the core's own rows keep in it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/emul_dma_state.h"
#include "core/ioc_request_mgr.h"
#include "core/kcore_names.h"
#include "core/orv_abi.h"

// Sizes of the common data and the common locked block.
inline constexpr uint32_t kCommonDataSize = 9288;
inline constexpr uint32_t kCommonLockedSize = 4;

class PDEV;
class PhysMemMapper;
class RegistrySwitchManager;
class DriverSwitchesCommon;
class InterruptManager;
struct MmHeapSet;
struct MmBoardRecord;
class BmSecondaryInt;
class VertexProgramBuilder;
class SyncTagManager;
class FlipController;
class RangeMap;
class MmSurface;
class FormatCatalogue;
class ResourceTableList;
class EngineOwner3d;
struct RenderContext3d;
struct TargetBoard3d;

inline constexpr unsigned kRenderTargetSlots = 16;
inline constexpr size_t kRenderTargetSlotSize = 32;
inline constexpr size_t kFrameBufferLayoutSize = 192;
// Per-unit slots of 24 bytes (the video-memory policies read their first byte).
inline constexpr unsigned kUnitSlots = 4;
inline constexpr size_t kUnitSlotSize = 24;

struct CommonData {
  PDEV* ringHead;                    // must stay the first word
  uint8_t* commonLocked;
  SharedLockedData_t* sharedLocked;
  SharedData_t* sharedData;

  void* registers;                   // the glue's register handle (entry 2)
  uint32_t revisionBits;

  // Rows of the driver core.
  IocRequestSlot requestSlots[kIocRequestSlots];
  PhysMemMapper* physMemMapper;
  RegistrySwitchManager* registrySwitches;
  DriverSwitchesCommon* driverSwitches;
  uint8_t* bmFlags;
  HwEmulDmaState emulDma;

  // Board-wide objects of the kernel component table.
  InterruptManager* interruptManager;
  MmHeapSet* heapTable;
  MmSurfaceManager* memoryManager;
  MmBoardRecord* memoryRecord;
  BmPrimInt* primaryStream;
  BmSecondaryInt* secondaryStream;
  uint8_t* bmMarker;
  VertexProgramBuilder* vertexProgramBuilder;
  SyncTagManager* syncTagManager;
  FlipController* flipController;
  RangeMap* rangeMap;

  // 3D render targets.
  MmSurface* openRenderTarget;       // the render target open for drawing
  alignas(8) uint8_t renderTargetSlots[kRenderTargetSlots][kRenderTargetSlotSize];
  MmSurface* primarySurface;
  uint64_t primarySurfacePair;

  alignas(8) uint8_t frameBufferLayout[kFrameBufferLayoutSize];
  uint8_t unitSlots[kUnitSlots][kUnitSlotSize];

  // The 3D surfaces: the board's format catalogue (entry 16) and each
  // unit's list of resource tables (entry 17).
  FormatCatalogue* formatCatalogue;
  ResourceTableList* resourceTables[kUnitSlots];

  // The 3D engine: the board's engine owner (entry 15) and the render
  // context that drew last on the board.
  EngineOwner3d* engineOwner3d;
  RenderContext3d* renderedLast3d;
  // The render targets' board record: switches, counter read-back surface,
  // fast-cleared depth surface.
  TargetBoard3d* targetBoard3d;

  // Room for the components that keep board-wide state here; a component
  // that adds a field above takes its bytes from this area.
  alignas(8) uint8_t componentArea[kCommonDataSize - 2168];
};
static_assert(sizeof(CommonData) == kCommonDataSize);
static_assert(offsetof(CommonData, ringHead) == 0);
