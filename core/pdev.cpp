#include "core/pdev.h"

#include "core/bm_rows.h"
#include "core/driver_switches.h"
#include "core/hw_device.h"
#include "core/hw_mapping.h"
#include "core/hw_register_access.h"
#include "core/hw_revision.h"
#include "core/hw_thread2d.h"
#include "core/mm_rows.h"
#include "core/request_mgr_rows.h"
#include "core/shared_blocks.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/pointer.h"
#include "xdriver/primary_surface.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/temp_bit.h"

// Rows in the order they are run; it is the order of their dependencies
// (bus mastering needs the flags, the switches, the memory manager, the sync
// objects and the transform manager; the 2D rows need all of those).
const PdevComponent kPdevComponents[kPdevComponentCount] = {
    {InitRequestMgr, CleanupRequestMgr, ""},                    // 0
    {InitPhysMemMapper, CleanupPhysMemMapper, ""},              // 1
    {InitHwMemoryMap, CleanupHwMemoryMap, ""},                  // 2
    {InitHwRegisterMap, CleanupHwRegisterMap, ""},              // 3
    {InitHwRegAccess, CleanupHwRegAccess, ""},                  // 4
    {InitHwDevice, CleanupHwDevice, ""},                        // 5
    {InitHwEngineOwner, CleanupHwEngineOwner, ""},              // 6
    {InitBmFlags, CleanupBmFlags, ""},                          // 7
    {InitDriverSwitchManager, CleanupDriverSwitchManager, ""},  // 8
    {InitMemoryManager, CleanupMemoryManager, ""},              // 9
    {InitSyncObjects, CleanupSyncObjects, ""},                  // 10
    {InitBmXformMgr, CleanupBmXformMgr, ""},                    // 11
    {InitSurfDesc2dList, CleanupSurfDesc2dList, ""},            // 12
    {InitBusmastering, CleanupBusmastering, ""},                // 13
    {InitDeviceBitmap, CleanupDeviceBitmap, ""},                // 14
    {InitPrimarySurface, CleanupPrimarySurface, "PrimarySurface"},  // 15
    {InitTempBit, CleanupTempBit, "TempBit"},                   // 16
    {InitContext2d, CleanupContext2d, "Context2d"},             // 17
    {InitPreDrawPostDraw, CleanupPreDrawPostDraw, "PreDrawPostDraw"},  // 18
    {InitHwThread2d, CleanupHwThread2d, ""},                    // 19
    {InitPointer, CleanupPointer, ""},                          // 20
    {InitFeatureMgr, CleanupFeatureMgr, ""},                    // 21
};

PDEV::PDEV(OsDevice* dev, VideoMode* callerMode, uint64_t handle, uint8_t* ok) {
  *ok = 0;
  initialisedCount = 0;
  buffersHeld = 0;
  if (dev == nullptr) return;

  active = 0;
  localDma = callerMode->localDma;
  IocRequestMgr::Init(this);
  device = dev;
  kernelHandle = handle;
  unit = callerMode->unit;

  if (!GetCommonBuffers(this)) return;
  buffersHeld = 1;

  // From now on the caller, this process's register-write guard and the
  // kernel module share one last-register-written word.
  uint32_t* callerWord =
      reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(callerMode->lastRegWritten));
  if (callerWord != nullptr) sharedLocked->lastRegWritten = *callerWord;
  callerMode_ = callerMode;
  callerLastReg_ = callerWord;
  callerMode->lastRegWritten = reinterpret_cast<uintptr_t>(&sharedLocked->lastRegWritten);

  PDEV* head = common->ringHead;
  if (head == nullptr) {
    next = previous = this;
    common->ringHead = this;
  } else {
    next = head->next;
    previous = head;
    head->next->previous = this;
    head->next = this;
  }

  mode = *callerMode;

  if (!HwRevisionID::Init(this)) return;

  for (int row = 0; row < kPdevComponentCount; ++row) {
    if (!kPdevComponents[row].init(this)) return;
    ++initialisedCount;
  }
  *ok = 1;
}

PDEV::~PDEV() {
  if (!buffersHeld) return;  // only the embedded 2D data goes
  for (int row = initialisedCount - 1; row >= 0; --row) kPdevComponents[row].cleanup(this);
  initialisedCount = 0;
  UnlinkAndRelease();
}

void PDEV::UnlinkAndRelease() {
  // Hand the caller its own word back, carrying the shared value over, so
  // its pointer never refers to a block that is about to be released.
  uint32_t* shared = &sharedLocked->lastRegWritten;
  if (callerMode_ != nullptr &&
      callerMode_->lastRegWritten == reinterpret_cast<uintptr_t>(shared)) {
    if (callerLastReg_ != nullptr) *callerLastReg_ = *shared;
    callerMode_->lastRegWritten = reinterpret_cast<uintptr_t>(callerLastReg_);
  }

  if (next == this) {
    common->ringHead = nullptr;
    next = previous = nullptr;
    ReleaseCommonBuffers(this);
  } else {
    PDEV* following = next;
    previous->next = next;
    next->previous = previous;
    next = previous = nullptr;
    common->ringHead = following;
  }
}

