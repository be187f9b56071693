#include "core/hw_manager.h"

#include "core/pdev.h"

HwManager::HwManager(uint8_t* ok, CommonData* c, CFeatureMgr* f) : common(c), feature(f) {
  *ok = 1;
}

bool InitHwManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    uint8_t ok = 0;
    common->hwManager = new HwManager(&ok, common, common->featureMgr);
    if (common->hwManager != nullptr && !ok) {
      delete common->hwManager;
      common->hwManager = nullptr;
    }
    if (common->hwManager == nullptr) return false;
  }
  pdev->hwManager = common->hwManager;
  return true;
}

void CleanupHwManager(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) {
    delete pdev->common->hwManager;
    pdev->common->hwManager = nullptr;
  }
  pdev->hwManager = nullptr;
}
