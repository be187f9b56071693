// The X driver's layout of the driver core's per-board record (selected by
// core/common_data.h). It lives in a 51,696-byte zeroed block that every
// device object of the board shares; the fields below are those the core
// knows, the component area after them belongs to the components that fill
// it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/emul_dma_state.h"
#include "core/ioc_request_mgr.h"
#include "core/orv_abi.h"

// Sizes of the common data and the common locked block.
inline constexpr uint32_t kCommonDataSize = 51696;
inline constexpr uint32_t kCommonLockedSize = 1;

class PDEV;
class HwManager;
class PhysMemMapper;
class MmSurfaceManager;
class BmPrimInt;
class RegistrySwitchManager;
class DriverSwitchesCommon;
class CFeatureMgr;
class SurfDesc2dList;
class Context2d;
struct MmManagerRecord;

inline constexpr size_t kXformBufferOptionsSize = 64;
// Places of the board's three scratch buffers of the 2D layer.
inline constexpr unsigned kTempBitBufferPlaces = 3;
inline constexpr size_t kTempBitBufferPlaceSize = 8488;
class HardPointerBuffer;
// Cursor buffers per image kind: one for each display controller.
inline constexpr unsigned kHardCursorBuffers = 4;

// One display-processing manager slot: a used word and the room the
// manager is built in.
class CDPSManager;
inline constexpr unsigned kDpsManagerSlots = 4;
inline constexpr size_t kDpsManagerSlotSize = 5888;
struct DpsManagerSlot {
  uint32_t used;
  alignas(16) uint8_t room[kDpsManagerSlotSize];
};

struct CommonData {
  PDEV* ringHead;                    // must stay the first word
  uint8_t* commonLocked;
  SharedLockedData_t* sharedLocked;
  SharedData_t* sharedData;

  // Board-wide state of the hardware engine objects.
  HwEmulDmaState emulDma;
  volatile uint8_t* frameBuffer;     // process mapping of the frame buffer
  bool frameBufferIsCallers;         // mapping came from the caller: never unmapped here
  volatile uint8_t* registers;       // process mapping of the register window
  bool registersAreCallers;
  uint32_t registerMapSize;
  uint32_t frameBufferMapSize;

  PhysMemMapper* physMemMapper;
  HwManager* hwManager;
  MmSurfaceManager* memoryManager;
  MmManagerRecord* memoryRecord;

  // Bus mastering.
  BmPrimInt* primInt;
  uint8_t* bmMarker;
  uint8_t* bmFlags;
  void* dmaBufferMemory;

  // 2D.
  SurfDesc2dList* surfDesc2dList;
  Context2d* context2d;
  HardPointerBuffer* twoColourCursors[kHardCursorBuffers];
  HardPointerBuffer* sixteenColourCursors[kHardCursorBuffers];

  RegistrySwitchManager* registrySwitches;
  DriverSwitchesCommon* driverSwitches;
  CFeatureMgr* featureMgr;

  IocRequestSlot requestSlots[kIocRequestSlots];
  uint32_t revisionBits;
  alignas(8) uint8_t xformBufferOptions[kXformBufferOptionsSize];

  // The 2D layer's board-wide scratch buffers, built in place.
  alignas(16) uint8_t tempBitBufferPlaces[kTempBitBufferPlaces][kTempBitBufferPlaceSize];
  uint8_t tempBitBufferBuilt[kTempBitBufferPlaces];

  // Display processing: the board's manager slots, the manager that runs
  // (null when none) and how many managers run.
  DpsManagerSlot dpsManagerSlots[kDpsManagerSlots];
  CDPSManager* activeDpsManager;
  uint32_t activeDpsCount;

  // Room for the components that keep board-wide state here; a component
  // that adds a field above takes its bytes from this area.
  alignas(8) uint8_t componentArea[kCommonDataSize - 1424 -
                                   kTempBitBufferPlaces * kTempBitBufferPlaceSize - 8 -
                                   kDpsManagerSlots * sizeof(DpsManagerSlot) - 16];
};
static_assert(sizeof(CommonData) == kCommonDataSize);
static_assert(offsetof(CommonData, ringHead) == 0);
