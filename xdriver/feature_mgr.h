// The board's feature manager: the desktop features that act after drawing
// (the 8-to-10-bit surface transform, the pivot transform and display
// processing on a TV output), made by the last row of the device object's
// component table, prepared when a device starts and switched on and off
// with the X driver's feature start and stop.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/os.h"
#include "core/utils.h"

class BmXformInt;
class CDPSManager;
class PDEV;

// Transform interfaces of the manager: the pivot of device 0 and 1, then
// display processing.
inline constexpr unsigned kFeatureXformInterfaces = 3;
inline constexpr unsigned kFeaturePivotInterfaces = 2;
inline constexpr unsigned kFeatureDpsInterface = 2;
// Posting types of the interfaces the manager takes.
inline constexpr uint32_t kXformKindPivot = 1;
inline constexpr uint32_t kXformKindDisplayProcessing = 3;

// Feature bits: display processing is wanted with bit 0 or 1.
inline constexpr uint32_t kFeatureDisplayProcessing = 0x3;
// The device's transform word: bit 31 selects the 8-to-10-bit transform,
// bits 28-30 the pivot (rotation code 1, 2 or 4 in bits 28-30).
inline constexpr uint32_t kXformWord8to10 = 0x80000000;
inline constexpr uint32_t kXformWordPivot = 0x70000000;
// The flag word of a pivot VSync request.
inline constexpr uint32_t kVSyncFlagPivot = 0x10000000;
// The TV standard with 484 lines; any other value is the 576-line one.
inline constexpr uint32_t kTvStandard484 = 1;
// The output kind whose output types are 16 and 32.
inline constexpr uint32_t kTvOutputKind3 = 3;
// The procamp kind display processing asks for.
inline constexpr int kProcampKindDisplayProcessing = 2;

class CFeatureMgr : public OsHeapObject {
 public:
  // Zero-filled: every feature starts off.
  explicit CFeatureMgr(uint8_t* ok);
  CFeatureMgr(const CFeatureMgr&) = delete;
  CFeatureMgr& operator=(const CFeatureMgr&) = delete;

  bool Setup(PDEV* pdev);
  bool Enable(PDEV* pdev);
  // Switches the features off and drains the engine; false when the drain
  // gave up.
  bool Disable(PDEV* pdev);
  void Cleanup(PDEV* pdev);

  bool DisplayProcessingWanted() const { return (flags & kFeatureDisplayProcessing) != 0; }
  bool GetDstResolution(PDEV* pdev, LSIZE& size, unsigned which) const;
  bool SetDPSResources(PDEV* pdev, CDPSManager* manager);
  bool AllocateDPSResources(PDEV* pdev, CDPSManager* manager);
  bool FreeDPSResources(PDEV* pdev, CDPSManager* manager);
  bool DesktopPreScaleInit(CDPSManager* manager);
  static uint32_t GetInterruptFromRequester(uint32_t requester);

  CDPSManager* manager = nullptr;
  uint32_t flags = 0;
  uint32_t outputKind = 0;
  uint32_t tvStandard = 0;
  LRECT srcRect = {};
  LRECT dstRect = {};
  SProcampValues procamp = {};
  BmXformInt* xformInterfaces[kFeatureXformInterfaces] = {};
  // The device whose start set display processing up: the board has one
  // TV picture, and only that device runs, stops and frees it.
  PDEV* dpsOwner = nullptr;

 private:
  bool RunsDisplayProcessing(const PDEV* pdev) const {
    return DisplayProcessingWanted() && dpsOwner == pdev;
  }
  // The pivot's interface slot of a device (0 or 1), or -1.
  static int PivotSlot(const PDEV* pdev);
  bool PivotSelected(const PDEV* pdev) const;
  bool SendPivotVSync(PDEV* pdev, uint32_t on);
};

// Row 21 of the component table: the board's first device makes the
// manager, every device shares it; the last one destroys it.
bool InitFeatureMgr(PDEV* pdev);
void CleanupFeatureMgr(PDEV* pdev);

// Clamps each value to its range (gamma at least 1). True.
bool EnsureProcampValuesWithinValidRange(int kind, SProcampValues& values);
// The board's procamp values, clamped, for kinds 1-4; false otherwise or
// without a feature manager.
bool GetProcampValues(PDEV* pdev, int kind, SProcampValues* out);
// Takes nothing, changes nothing.
uint32_t SetProcampValues();
