// Component-table rows of the bus-master flags and the sync objects, the
// same in both builds.
#include "core/bm_rows.h"
#include "core/os.h"
#include "core/pdev.h"

bool InitBmFlags(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard() && common->bmFlags == nullptr) {
    common->bmFlags = static_cast<uint8_t*>(memAlloc(1));
  }
  pdev->bmFlags = common->bmFlags;
  return common->bmFlags != nullptr;
}

void CleanupBmFlags(PDEV* pdev) {
  CommonData* common = pdev->common;
  pdev->bmFlags = nullptr;
  if (!pdev->IsFirstForBoard() || common->bmFlags == nullptr) return;
  memFree(common->bmFlags);
  common->bmFlags = nullptr;
}

bool InitSyncObjects(PDEV*) { return true; }
void CleanupSyncObjects(PDEV*) {}
