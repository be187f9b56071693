#include "core/request_mgr_rows.h"

#include "core/pdev.h"

bool InitRequestMgr(PDEV* pdev) {
  if (pdev->unit >= kIocRequestSlots) return false;
  IocRequestSlot& slot = pdev->common->requestSlots[pdev->unit];
  if (pdev->IsFirstForThisUnit() && slot.manager == nullptr) IocRequestPlace(slot, pdev->device);
  return slot.manager != nullptr;
}

void CleanupRequestMgr(PDEV* pdev) {
  if (pdev->unit >= kIocRequestSlots) return;
  IocRequestSlot& slot = pdev->common->requestSlots[pdev->unit];
  if (pdev->IsLastForThisUnit() && slot.manager != nullptr) IocRequestClear(slot);
}
