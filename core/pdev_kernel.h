// The kernel module's device object (selected by core/pdev.h through
// ORV_KERNEL_BUILD): one per display unit that the X driver enables, 1,744
// bytes, over the same IDriver view as the X driver's. Its 22-entry
// component table, its construction and its enable and disable are the
// kernel core's (kernel/pdev_kernel.cpp); the ring operations are shared
// (core/pdev_ring.cpp). IDriver::device is the glue context that made it.
#pragma once

#include <stdint.h>

#include "core/kcore_names.h"
#include "core/orv_abi.h"

class DriverSwitchesLocal;
class PhysMemMapper;
class BmSecondaryInt;
class MmSurface;
class FormatCatalogue;
struct MmBoardRecord;
struct FrameBufferLayout;

// The kernel keeps per-unit state for units 0 to 3 only.
inline constexpr uint32_t kMaxUnit = 3;

class PDEV : public IDriver, public OsHeapObject {
 public:
  // Builds the device object for the glue context with a copy of the mode
  // record: obtains the board's four blocks, joins the board ring and runs
  // the component table. *ok is 1 only when every step succeeded; on 0 the
  // caller deletes the object, whose destructor undoes exactly what was done.
  PDEV(OrvContext* context, const VideoMode* mode, uint8_t* ok);
  ~PDEV();
  PDEV(const PDEV&) = delete;
  PDEV& operator=(const PDEV&) = delete;

  bool IsFirstForThisUnit() const;
  bool IsLastForThisUnit() const;
  // True when the ring holds only this object: board-wide objects are made
  // by the first device object of a board and undone by the last.
  bool IsFirstForBoard() const { return next == this; }
  // The started object of the unit (any unit for kAnyUnit).
  static PDEV* GetActive(CommonData* common, uint32_t unit);

  uint32_t unit = 0;  // display unit, from the mode record
  PDEV* next = nullptr;
  PDEV* previous = nullptr;
  uint8_t active = 0;  // started (ioctl 22)
  int32_t initialisedCount = 0;
  uint8_t constructed = 0;
  uint32_t unitIndex = 0;  // the mode record's unit word as given

  BmPrimInt* primaryStream = nullptr;
  BmSecondaryInt* secondaryStream = nullptr;
  VideoMode mode;
  uint32_t displayMask = 0;  // displays this object flips (1, 2, 4, 8)
  MmSurface* primarySurface = nullptr;  // declared by ioctl 28
  OrvContext* owner = nullptr;          // the client that enabled it (ioctl 20)

  // Slots the component rows fill.
  uint8_t* commonLocked = nullptr;
  DriverSwitchesLocal* driverSwitchesLocal = nullptr;
  PhysMemMapper* physMemMapper = nullptr;
  uint8_t* bmFlags = nullptr;
  MmBoardRecord* memoryRecord = nullptr;
  MmSurfaceManager* surfaceManager = nullptr;
  MmSurfaceMapper* surfaceMapper = nullptr;
  // The interrupt enable this object holds (taken at enable, given back at
  // disable).
  uint8_t interruptsAcquired = 0;
  // The aperture mapper's enable this object holds (start to stop).
  uint8_t mapperEnabled = 0;
  // The board's frame-buffer layout (entry 9).
  FrameBufferLayout* frameBufferLayout = nullptr;

  // The device's blit engine (1,344 bytes) with its two context states,
  // made in place here by the 3D engine's component entry.
  alignas(8) uint8_t blitEngine[1344];
  // The board's format catalogue (entry 16).
  FormatCatalogue* formatCatalogue = nullptr;
  // The device-wide masters of clients' shared surfaces (entry 20).
  struct SharedSurfaces3d* sharedSurfaces3d = nullptr;
  // Room for the fields later parts add; their bytes come from here.
  uint8_t spare[64];

 private:
  void LeaveRing();
};
static_assert(sizeof(PDEV) == 1744);
