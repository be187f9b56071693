// The display controllers: a controller's clock select, its timing and
// surface registers (the DC parameter record), dimming, enable and disable,
// the video-parameter patch of TV output 1, the video reset that restarts
// the modules in step, and synchronising the two modules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrNoSurfaceFormat = 0xB1E01131;

// Module argument of HSLKSTApplyVidReset: both modules.
inline constexpr uint32_t kBothModules = 0xFFFFFFFF;

// Kinds of HSLKSTComputeIntermediateVidParm.
inline constexpr uint32_t kVidParmHorizontal = 1;
inline constexpr uint32_t kVidParmVertical = 2;

// The register words of one controller's timing and surface, built by
// HSLKSTGetDCParameters (84 bytes).
struct DCPARAMS {
  uint32_t ulController;
  uint32_t ulModule;
  uint32_t ulDisplayMode;   // 0x1900: bit 0 interlaced
  uint32_t ulHBlank;        // 0x1908
  uint32_t ulVBlank;        // 0x1920
  uint32_t ulHTotal;        // 0x1910
  uint32_t ulVTotal;        // 0x192C
  uint32_t ulHSync;         // 0x1914
  uint32_t ulVSync;         // 0x1930
  uint32_t aulPreload[2];   // 0x191C (module 0), 0x1B1C (module 1)
  uint32_t ulHalfLine;      // 0x1934, interlaced only
  uint32_t ulSecondSize;    // 0x190C, controllers 2/3
  uint32_t ulSecondHeight;  // 0x1928, controllers 2/3
  uint32_t ulControl;       // 0x1800
  uint32_t ulPitch;         // 0x1834
  uint32_t ulSecondControl; // 0x19A8
  uint32_t ulSecondPitch;   // 0x19D8
  uint32_t ulOutputCtl;     // 0x1888
  uint32_t ulSecondFormat;  // 0x19E4
  uint32_t ulVTotalCopy;    // 0x1918
};
static_assert(sizeof(DCPARAMS) == 84);
static_assert(offsetof(DCPARAMS, aulPreload) == 36);

HALSTATUS HSLKSTSelectDisplayControllerClock(BOARDHANDLE* h, MODEINFO* mode, uint32_t code);
HALSTATUS HSLKSTComputeIntermediateVidParm(BOARDHANDLE* h, uint32_t kind, const MODEINFO* mode,
                                           uint32_t* total, uint32_t* active,
                                           uint32_t* blankStart, uint32_t* blankEnd,
                                           uint32_t* syncStart, uint32_t* syncEnd);
HALSTATUS HSLKSTGetDCParameters(BOARDHANDLE* h, MODEINFO* mode, DCPARAMS* dc);
HALSTATUS HSLKSTSetDCParameters(BOARDHANDLE* h, MODEINFO* mode, const DCPARAMS* dc);
HALSTATUS HSLKSTGetCrtcPreloadCount(BOARDHANDLE* h, const MODEINFO* mode, uint32_t module,
                                    uint32_t* counts);
HALSTATUS HSLKSTIsDCInUse(BOARDHANDLE* h, uint32_t controller, uint32_t* inUse);
HALSTATUS HSLKSTDimController(BOARDHANDLE* h, uint32_t module, uint32_t on, uint32_t level);
HALSTATUS HSLKSTSetDisableDisplayController(BOARDHANDLE* h, MODEINFO* mode, uint32_t keep);
HALSTATUS HSLKSTDisableDisplayController(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTEnableDisplayController(BOARDHANDLE* h, MODEINFO* mode, uint32_t code);
HALSTATUS HSLKSTApplyVidParmPatch(BOARDHANDLE* h, MODEINFO* mode, uint32_t enabling);
HALSTATUS HSLKSTApplyVidReset(BOARDHANDLE* h, uint32_t module);
HALSTATUS HSLKSTSynchronizeDC(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTSetDefaultPriorityLevels(BOARDHANDLE* h);

// The surface format code of the record's pixel format; false for a format
// without one.
bool GetSurfFormat(const BOARDHANDLE* h, const MODEINFO* mode, uint32_t* code);
