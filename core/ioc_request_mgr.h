// The request managers of the display units (row 0 of the component
// table): per unit, the device through which its requests go.
#pragma once

#include <stdint.h>

#include "core/os.h"

class IDriver;
struct CommonData;

// The device through which a unit's requests go. It lives in the unit's
// request-manager slot of the board's common data.
class IocRequestMgr {
 public:
  explicit IocRequestMgr(OsDevice* device) : device_(device) {}
  OsDevice* Device() const { return device_; }
  void ClearDevice() { device_ = nullptr; }

  static bool Init(IDriver*) { return true; }
  static void Cleanup(IDriver*) {}
  // The device of the unit's slot in the board's common data (see
  // IocRequestGet); null for null common data.
  static OsDevice* Get(const CommonData* common, uint32_t index);

 private:
  OsDevice* device_;
};
static_assert(sizeof(IocRequestMgr) == 8);

struct IocRequestSlot {
  IocRequestMgr* manager = nullptr;
  alignas(IocRequestMgr) unsigned char storage[sizeof(IocRequestMgr)];
};
static_assert(sizeof(IocRequestSlot) == 16);
inline constexpr uint32_t kIocRequestSlots = 4;
inline constexpr uint32_t kIocAnyUnit = 0xFFFFFFFF;

// Builds the manager in the slot's storage; false when the slot was filled.
bool IocRequestPlace(IocRequestSlot& slot, OsDevice* device);
// Clears the manager's device and the slot.
void IocRequestClear(IocRequestSlot& slot);
// The device of slot index (0..3), or of the first filled slot for
// kIocAnyUnit; null for null slots, an empty slot or any other index.
OsDevice* IocRequestGet(const IocRequestSlot* slots, uint32_t index);
