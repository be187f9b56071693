// The display-processing manager: it shows the desktop on a TV output by
// texturing it, scaled and converted to YCbCr, into a back buffer and
// flipping the TV's display controller to that buffer. A board has four
// manager slots in its common data; the feature manager takes one.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/os.h"
#include "core/utils.h"
#include "xdriver/dps_hw.h"
#include "xdriver/dps_surface.h"
#include "xdriver/dps_types.h"

class PDEV;

// The flag word of a display-processing VSync request.
inline constexpr uint32_t kVSyncFlagDisplayProcessing = 2;

class CDPSManager {
 public:
  CDPSManager(uint32_t revisionBits, SharedLockedData_t* shared);
  CDPSManager(const CDPSManager&) = delete;
  CDPSManager& operator=(const CDPSManager&) = delete;

  // Takes the board's first free slot and builds a manager in it.
  static bool AllocateDPSManager(CommonData* common, CDPSManager** manager);
  // Destroys the manager and gives its slot back.
  static bool FreeDPSManager(CommonData* common, CDPSManager* manager);

  // The table's defaults; the back buffers, surfaces and list emptied.
  void Reset();
  bool SetGenericValues(EDPSOwnerID owner, EDPSSrcUnit unit, uint32_t value, EDPSOutputType type,
                        const LRECT* dst, EDPSController controller, uint32_t keepAspect);
  bool IsValid() const { return commonData != nullptr && commonData->sharedLocked != nullptr; }
  static bool IsBltNeeded(int32_t width, int32_t height) {
    return width > kDpsMaxBltSize || height > kDpsMaxBltSize;
  }

  bool Start(PDEV* pdev);
  bool Stop(PDEV* pdev);
  // Draws one TV picture from the scaler's source; always 0.
  uint32_t Scale(PDEV* pdev, EDPSScalerID id);
  bool DoScaling(PDEV* pdev, CDPSSurface* source, CDPSSurface* target);
  bool EnableInterruptHandler(PDEV* pdev, uint32_t on);
  bool BeforeScaleSteps() { return true; }
  bool AfterScaleSteps() { return true; }
  // The filtering for the current source and back-buffer viewports.
  EDPSFiltering ChooseFiltering(const CDPSSurface& source) const;

  CDPSHwManager hw;  // first: the back buffers keep a pointer to it
  CDPSBackBuffersMgr backBuffers;
  CDPSSurface preScaleSurface;
  CDPSSurface secondSource;
  CDPSSurface desktopSource;
  CommonData* commonData = nullptr;
  uint32_t preScale = 0;
  uint32_t filteringOn = 1;
  uint32_t keepAspect = 1;
  uint32_t running = 0;
  EDPSController controller = kDpsNoController;
  EDPSOutputType outputType = kDpsOutputRgb;
  EDPSOwnerID owner = 0;
  uint32_t value = 0;
  EDPSSrcUnit srcUnit = -1;
  LRECT dstRect = {};
};
static_assert(sizeof(CDPSManager) <= kDpsManagerSlotSize);

// The board's manager slots: the first device object of the board starts
// with all four free (no manager can be live before its feature manager);
// cleanup leaves them to the managers' own frees.
bool InitDesktopPreScale(PDEV* pdev);
void CleanupDesktopPreScale(PDEV* pdev);

bool DPS_Enable(uint32_t on, PDEV* pdev, CDPSManager* manager);
bool DPS_Activate(PDEV* pdev, CDPSManager* manager);
bool DPS_Desactivate(PDEV* pdev, CDPSManager* manager);
// Pre-draw and post-draw bit 3, set in every device object of the board
// while one of its managers runs: re-establish the 2D context when another
// engine owner used it, and run the post-draw step.
inline constexpr uint32_t kDrawFlagsDisplayProcessing = 0x8;
// Counts the board's running managers; the first start sets and the last
// stop clears bit 3 of every device's pre-draw and post-draw flags.
bool DPS_StateChangeNotify(PDEV* pdev, uint32_t on);
bool DPS_UpdateProcamp(CDPSManager* manager, const SProcampValues* values);
bool DPS_ProcampChangeNotification(uint32_t kind, const SProcampValues* values,
                                   unsigned long manager);
bool DPS_IsEnable(const PDEV* pdev);
