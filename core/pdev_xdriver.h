// The X driver's device object (selected by core/pdev.h through
// ORV_KERNEL_BUILD): its layout and construction.
#pragma once

#include <stdint.h>

#include "core/lnx_device.h"
#include "xdriver/data2d.h"
#include "xdriver/pointer.h"

class DriverSwitchesLocal;
class HwManager;
class CFeatureMgr;
class MmSurfaceManager;
class BmPrimInt;
class PhysMemMapper;

// Bits of PDEV::bindingFlags.
inline constexpr uint32_t kPdevLocalDmaRunning = 0x1;
inline constexpr uint32_t kPdevStartedOnce = 0x2;
inline constexpr uint32_t kPdevPrimaryDeclared = 0x4;
inline constexpr uint32_t kPdevRotateCW = 0x10000000;
inline constexpr uint32_t kPdevRotateCCW = 0x40000000;

class PDEV : public IDriver, public OsHeapObject {
 public:
  // A null device gives an inert object. The mode is copied whole; its
  // last-register-written field (a pointer to the caller's word) is
  // redirected to the shared locked block's word for the object's lifetime
  // and handed back when the object goes, so the mode record must outlive
  // the object. *ok is 1 only when every step succeeded; on 0 the caller
  // deletes the object at once.
  PDEV(OsDevice* device, VideoMode* mode, uint64_t kernelHandle, uint8_t* ok);
  ~PDEV();
  PDEV(const PDEV&) = delete;
  PDEV& operator=(const PDEV&) = delete;

  // True when no other device object in the ring has this unit.
  bool IsFirstForThisUnit() const;
  bool IsLastForThisUnit() const;
  // True when the ring holds only this object: board-wide objects are
  // created and destroyed under this test.
  bool IsFirstForBoard() const { return next == this; }

  // The first active object of the unit (any unit for kAnyUnit), starting
  // at the ring head.
  static PDEV* GetActive(CommonData* common, uint32_t unit);
  void Activate() { active = 1; }
  void Desactivate() { active = 0; }

  PDEV* next = nullptr;
  PDEV* previous = nullptr;
  uint8_t active = 0;
  int32_t initialisedCount = 0;
  uint8_t buffersHeld = 0;
  uint32_t unit = 0;

  // Per-head component slots.
  DriverSwitchesLocal* driverSwitchesLocal = nullptr;
  HwManager* hwManager = nullptr;
  CFeatureMgr* featureMgr = nullptr;  // the board's, shared by its devices
  uint32_t requester = 0;             // bits 0-3 choose the feature interrupt
  PhysMemMapper* physMemMapper = nullptr;
  MmSurfaceManager* surfaceManager = nullptr;
  MmManagerRecord* memoryRecord = nullptr;
  void* primarySurface = nullptr;
  BmPrimInt* primInt = nullptr;
  uint8_t* bmFlags = nullptr;

  uint8_t* commonLocked = nullptr;
  uint64_t kernelHandle = 0;
  // The X driver's device binding: the hardware rotation (kPdevRotate*),
  // whether the local DMA engine runs, whether the device has been started
  // once, whether its primary surface is declared to the kernel module; and
  // the value last written to register 0x1220 by the engine start-up.
  uint32_t bindingFlags = 0;
  uint32_t reg1220Cache = 0;
  VideoMode mode;
  Data2d data2d;
  Pointer pointer;  // the board's cursor buffers
  uint32_t localDma = 0;

 private:
  void UnlinkAndRelease();

  // Where the caller's last-register-written pointer lives and what it held.
  VideoMode* callerMode_ = nullptr;
  uint32_t* callerLastReg_ = nullptr;
};
