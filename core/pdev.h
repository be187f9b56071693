// The device object of the driver core: one per display unit (head). It
// ties the head to its board's device, common data and shared blocks, and
// brings the core's components up and down through the component table.
//
// Both builds share the IDriver view that component rows take and the ring
// operations (core/pdev_ring.cpp). The object's layout and its construction
// are the X driver's (core/pdev_xdriver.h) or the kernel module's
// (core/pdev_kernel.h), selected by ORV_KERNEL_BUILD.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/orv_abi.h"
#include "core/os.h"

// The view of a device object that component init functions take.
class IDriver {
 public:
  uint64_t reserved = 0;
  CommonData* common = nullptr;
  SharedLockedData_t* sharedLocked = nullptr;
  SharedData_t* sharedData = nullptr;
  uint32_t revisionBits = 0;  // chip revision code, 0 until HwRevisionID::Init
  OsDevice* device = nullptr;
};

inline constexpr int kPdevComponentCount = 22;
// GetActive's unit for any unit of the board.
inline constexpr uint32_t kAnyUnit = 0xFFFFFFFF;

#if defined(ORV_KERNEL_BUILD)
#include "core/pdev_kernel.h"
#else
#include "core/pdev_xdriver.h"
#endif

// One row of the component table.
struct PdevComponent {
  bool (*init)(PDEV* pdev);
  void (*cleanup)(PDEV* pdev);
  const char* name;
};
extern const PdevComponent kPdevComponents[kPdevComponentCount];
