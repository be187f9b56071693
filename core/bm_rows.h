// Component-table rows of bus mastering: the BmFlags object (row 7), the
// sync objects (row 10), the transform manager (row 11) and the primary
// command interface (row 13). The first device object of a board builds
// the board's objects, every one points to them, the last one deletes them.
#pragma once

class PDEV;

bool InitBmFlags(PDEV* pdev);
void CleanupBmFlags(PDEV* pdev);
bool InitSyncObjects(PDEV* pdev);
void CleanupSyncObjects(PDEV* pdev);
bool InitBmXformMgr(PDEV* pdev);
void CleanupBmXformMgr(PDEV* pdev);
bool InitBusmastering(PDEV* pdev);
void CleanupBusmastering(PDEV* pdev);
