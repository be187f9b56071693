// The X driver's entry points as the server and the driver's own files see
// them: the module records, the driver record's hooks and the screen hooks.
#pragma once

#include "platform/xserver/xf86_types.h"
#include "xdriver/orv_rec.h"

#define ORV_NAME "ORV"
#define ORV_DRIVER_NAME "orv"
inline constexpr int kOrvDriverVersion = 4000;
inline constexpr int kOrvVersionMajor = 1;
inline constexpr int kOrvVersionMinor = 4;
inline constexpr int kOrvVersionPatch = 7;

extern "C" {
// The module's exports: its data record and its extension list.
extern XF86ModuleData orvModuleData;
extern ExtensionModule orvExtensionModules[];
}

pointer ORVSetup(pointer module, pointer options, int* errmaj, int* errmin);
void ORVIdentify(int flags);
Bool ORVProbe(DriverPtr driver, int flags);
const OptionInfoRec* ORVAvailableOptions(int chipid, int busid);
extern DriverRec ORV;
extern SymTabRec ORVChipsets[];
extern PciChipsets ORVPciChipsets[];

Bool ORVGetRec(ScrnInfoPtr screen);
void ORVFreeRec(ScrnInfoPtr screen);
// The entity-private slot of the boards' ORVEntityRec, -1 until the first
// probe allocates it.
int ORVEntityPrivateIndex();
ORVEntityRec* ORVEntityOf(int entityIndex);

// Screen hooks.
Bool ORVPreInit(ScrnInfoPtr screen, int flags);
Bool ORVScreenInit(int scrnIndex, ScreenPtr screen, int argc, char** argv);
Bool ORVSwitchMode(int scrnIndex, DisplayModePtr mode, int flags);
void ORVAdjustFrame(int scrnIndex, int x, int y, int flags);
void ORVAdjustFrameCrtc2(int scrnIndex, int x, int y, int flags);
void ORVAdjustFrameCrtc3(int scrnIndex, int x, int y, int flags);
void ORVAdjustFrameCrtc4(int scrnIndex, int x, int y, int flags);
Bool ORVEnterVT(int scrnIndex, int flags);
void ORVLeaveVT(int scrnIndex, int flags);
void ORVFreeScreen(int scrnIndex, int flags);
ModeStatus ORVValidMode(int scrnIndex, DisplayModePtr mode, Bool verbose, int flags);
Bool ORVCloseScreen(int scrnIndex, ScreenPtr screen);
void ORVBlockHandler(int scrnIndex, pointer blockData, pointer timeout, pointer readmask);
Bool ORVSaveScreen(ScreenPtr screen, int on);
Bool ORVSaveScreenCrtc2(ScreenPtr screen, int on);
Bool ORVSaveScreenCrtc3(ScreenPtr screen, int on);
Bool ORVSaveScreenCrtc4(ScreenPtr screen, int on);
// XAA for the screen: false when its depth has no acceleration or XAA
// cannot be set up.
Bool ORVAccelInit(ScreenPtr screen);
// Returns the primary head to the text console.
void ORVRestoreConsole(ScrnInfoPtr screen);

// The gamma extension's set-up.
void ORVGammaExtensionInit(void);
