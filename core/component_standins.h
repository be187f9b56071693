// Component-table rows of the 2D subsystem, which is not part of this core
// yet. Each succeeds and undoes nothing; the real components replace them
// row by row.
//
// A probe lets tests watch them and make one of them fail.
#pragma once

class PDEV;

bool InitSurfDesc2dList(PDEV* pdev);
void CleanupSurfDesc2dList(PDEV* pdev);
bool InitDeviceBitmap(PDEV* pdev);
void CleanupDeviceBitmap(PDEV* pdev);
bool InitPrimarySurface(PDEV* pdev);
void CleanupPrimarySurface(PDEV* pdev);
bool InitTempBit(PDEV* pdev);
void CleanupTempBit(PDEV* pdev);
bool InitContext2d(PDEV* pdev);
void CleanupContext2d(PDEV* pdev);
bool InitPreDrawPostDraw(PDEV* pdev);
void CleanupPreDrawPostDraw(PDEV* pdev);
bool InitPointer(PDEV* pdev);
void CleanupPointer(PDEV* pdev);
bool InitFeatureMgr(PDEV* pdev);
void CleanupFeatureMgr(PDEV* pdev);

// Test probe: every call of a stand-in (and every Data2d construction and
// destruction) is recorded; the stand-in of failRow answers false.
struct StandInEvent {
  enum Kind : unsigned char { kInit, kCleanup, kData2dBuilt, kData2dDestroyed } kind;
  int row;  // component-table row; -1 for Data2d events
};
struct StandInProbe {
  static constexpr int kMaxEvents = 512;
  int failRow = -1;
  int eventCount = 0;
  StandInEvent events[kMaxEvents];

  void Reset() {
    failRow = -1;
    eventCount = 0;
  }
};
StandInProbe& GetStandInProbe();
