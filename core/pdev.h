// The device object of the driver core: one per display unit (head). It
// ties the head to its board's device, common data and shared blocks, and
// brings the core's components up and down through the component table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/lnx_device.h"
#include "core/orv_abi.h"
#include "xdriver/data2d.h"

class DriverSwitchesLocal;
class HwManager;
class MmSurfaceManager;
class BmPrimInt;
class PhysMemMapper;

// The view of a device object that component init functions take.
class IDriver {
 public:
  uint64_t reserved = 0;
  CommonData* common = nullptr;
  SharedLockedData_t* sharedLocked = nullptr;
  SharedData_t* sharedData = nullptr;
  uint32_t revisionBits = 0;  // chip revision code, 0 until HwRevisionID::Init
  LnxDevice* device = nullptr;
};

inline constexpr int kPdevComponentCount = 22;

class PDEV : public IDriver, public OsHeapObject {
 public:
  // A null device gives an inert object. The mode is copied whole; its
  // last-register-written field (a pointer to the caller's word) is
  // redirected to the shared locked block's word for the object's lifetime
  // and handed back when the object goes, so the mode record must outlive
  // the object. *ok is 1 only when every step succeeded; on 0 the caller
  // deletes the object at once.
  PDEV(LnxDevice* device, VideoMode* mode, uint64_t kernelHandle, uint8_t* ok);
  ~PDEV();
  PDEV(const PDEV&) = delete;
  PDEV& operator=(const PDEV&) = delete;

  // True when no other device object in the ring has this unit.
  bool IsFirstForThisUnit() const;
  bool IsLastForThisUnit() const;
  // True when the ring holds only this object: board-wide objects are
  // created and destroyed under this test.
  bool IsFirstForBoard() const { return next == this; }

  // The first active object of the unit, starting at the ring head.
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
  PhysMemMapper* physMemMapper = nullptr;
  MmSurfaceManager* surfaceManager = nullptr;
  MmManagerRecord* memoryRecord = nullptr;
  void* primarySurface = nullptr;
  BmPrimInt* primInt = nullptr;
  uint8_t* bmFlags = nullptr;

  uint8_t* commonLocked = nullptr;
  uint64_t kernelHandle = 0;
  VideoMode mode;
  Data2d data2d;
  uint32_t localDma = 0;

 private:
  void UnlinkAndRelease();

  // Where the caller's last-register-written pointer lives and what it held.
  VideoMode* callerMode_ = nullptr;
  uint32_t* callerLastReg_ = nullptr;
};

// One row of the component table.
struct PdevComponent {
  bool (*init)(PDEV* pdev);
  void (*cleanup)(PDEV* pdev);
  const char* name;
};
extern const PdevComponent kPdevComponents[kPdevComponentCount];
