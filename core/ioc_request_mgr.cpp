#include "core/ioc_request_mgr.h"

#include <new>

#include "core/common_data.h"

bool IocRequestPlace(IocRequestSlot& slot, OsDevice* device) {
  if (slot.manager != nullptr) return false;
  slot.manager = new (slot.storage) IocRequestMgr(device);
  return true;
}

void IocRequestClear(IocRequestSlot& slot) {
  if (slot.manager == nullptr) return;
  slot.manager->ClearDevice();
  slot.manager = nullptr;
}

OsDevice* IocRequestMgr::Get(const CommonData* common, uint32_t index) {
  return common == nullptr ? nullptr : IocRequestGet(common->requestSlots, index);
}

OsDevice* IocRequestGet(const IocRequestSlot* slots, uint32_t index) {
  if (slots == nullptr) return nullptr;
  if (index < kIocRequestSlots) {
    return slots[index].manager != nullptr ? slots[index].manager->Device() : nullptr;
  }
  if (index == kIocAnyUnit) {
    for (uint32_t i = 0; i < kIocRequestSlots; ++i) {
      if (slots[i].manager != nullptr) return slots[i].manager->Device();
    }
  }
  return nullptr;
}
