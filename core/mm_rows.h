// Component-table rows of the physical memory mapper (row 1) and the memory
// manager (row 9): the first device object of a board builds the board's
// objects, every one points to them, the last one deletes them.
#pragma once

class PDEV;

bool InitPhysMemMapper(PDEV* pdev);
void CleanupPhysMemMapper(PDEV* pdev);
bool InitMemoryManager(PDEV* pdev);
void CleanupMemoryManager(PDEV* pdev);
