// Component-table rows whose code is not written yet. They are declared
// here so that the device object's component table can name them; test
// executables and benchmarks link the recording stand-ins of tests/standins/
// in their place, and a shipped module cannot link until each is written.
// Every row of the X driver's table is written now; the list stays for the
// stand-in machinery.
//
// When a row is written, its line goes from this list and its declarations
// move to the header of the file that defines them.
#pragma once

class PDEV;

// X(Name, component-table row): bool InitName(PDEV*), void CleanupName(PDEV*).
#define ORV_PENDING_COMPONENT_ROWS(X)

#define ORV_DECLARE_PENDING_ROW(Name, row) \
  bool Init##Name(PDEV* pdev);             \
  void Cleanup##Name(PDEV* pdev);
ORV_PENDING_COMPONENT_ROWS(ORV_DECLARE_PENDING_ROW)
#undef ORV_DECLARE_PENDING_ROW
