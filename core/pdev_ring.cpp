// The ring of a board's device objects, the same in both builds: which
// object is the first or last of its unit, and the active object of a unit.
#include "core/pdev.h"

bool PDEV::IsFirstForThisUnit() const {
  if (next == nullptr) return true;
  for (const PDEV* other = next; other != this; other = other->next) {
    if (other->unit == unit) return false;
  }
  return true;
}

bool PDEV::IsLastForThisUnit() const { return IsFirstForThisUnit(); }

PDEV* PDEV::GetActive(CommonData* common, uint32_t unit) {
  if (common == nullptr || common->ringHead == nullptr) return nullptr;
  PDEV* head = common->ringHead;
  PDEV* pdev = head;
  do {
    if (pdev->active && (unit == kAnyUnit || pdev->unit == unit)) return pdev;
    pdev = pdev->next;
  } while (pdev != head && pdev != nullptr);
  return nullptr;
}
