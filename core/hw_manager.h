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
// creates the manager; every one keeps the board's manager.
bool InitHwManager(PDEV* pdev);
void CleanupHwManager(PDEV* pdev);
