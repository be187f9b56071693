#include "core/hw_manager.h"

#include "core/pdev.h"

HwManager::HwManager(uint8_t* ok, CommonData* c, CFeatureMgr* f) : common(c), feature(f) {
  *ok = 1;
}

bool InitHwManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  // The first device of the board that asks makes the manager: the feature
  // manager asks when a device starts, so the board may have more devices
  // by then.
  if (common->hwManager == nullptr) {
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
  CommonData* common = pdev->common;
  pdev->hwManager = nullptr;
  if (common->hwManager == nullptr) return;
  // The manager goes with the last device that holds it.
  for (PDEV* d = pdev->next; d != nullptr && d != pdev; d = d->next) {
    if (d->hwManager == common->hwManager) return;
  }
  delete common->hwManager;
  common->hwManager = nullptr;
}
