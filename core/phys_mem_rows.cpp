// Component-table row of the physical memory mapper, the same in both
// builds: the first device object of a board builds the board's mapper,
// every one points to it, the last one deletes it.
#include "core/mm_rows.h"
#include "core/pdev.h"
#include "core/phys_mem_mapper.h"

bool InitPhysMemMapper(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard() && common->physMemMapper == nullptr) {
    PhysMemMapper* mapper = new PhysMemMapper(common);
    if (mapper == nullptr) return false;
    if (!mapper->ok()) {
      delete mapper;
      return false;
    }
    common->physMemMapper = mapper;
  }
  if (common->physMemMapper == nullptr) return false;
  pdev->physMemMapper = common->physMemMapper;
  g_poPhysMemMapper = common->physMemMapper;
  return true;
}

void CleanupPhysMemMapper(PDEV* pdev) {
  CommonData* common = pdev->common;
  pdev->physMemMapper = nullptr;
  if (!pdev->IsFirstForBoard() || common->physMemMapper == nullptr) return;
  if (g_poPhysMemMapper == common->physMemMapper) g_poPhysMemMapper = nullptr;
  delete common->physMemMapper;
  common->physMemMapper = nullptr;
}
