// The chip revision code: one bit per chip and revision (core/chip_ids.h
// names the groups), computed once per board and copied into every device
// object.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

class IDriver;

class HwRevisionID {
 public:
  // The bits of a vendor-and-device dword and revision byte; 0 for other chips.
  static uint32_t Compute(uint32_t vendorDevice, uint32_t revision);
  // Copies the bits from the shared locked block into the device object and
  // the common data; true.
  static bool Init(IDriver* driver);
  static void Setup(SharedLockedData_t* shared, uint32_t vendorDevice, uint32_t revision);
  static void Setup(IDriver* driver, uint32_t vendorDevice, uint32_t revision);
  static void Cleanup(IDriver*) {}
};
