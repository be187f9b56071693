// Row 0 of the component table: the unit's request manager in the board's
// common data.
#pragma once

class PDEV;

// The first device object of a unit places a manager holding its device in
// the unit's slot; answers whether the slot is filled.
bool InitRequestMgr(PDEV* pdev);
// The last device object of a unit clears the slot.
void CleanupRequestMgr(PDEV* pdev);
