// The board-wide hardware manager.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"

class PDEV;

class HwManager : public OsHeapObject {
 public:
  HwManager(uint8_t* ok, CommonData* common, CFeatureMgr* feature);
  CommonData* common;
  CFeatureMgr* feature;
};
// Called by the feature manager. The first device object of the board
// that asks creates the manager; every one that asks keeps the board's
// manager, and the last of them to clean up deletes it.
bool InitHwManager(PDEV* pdev);
void CleanupHwManager(PDEV* pdev);
