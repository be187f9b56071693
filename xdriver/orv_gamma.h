// Per-head gamma, the "ORVGamma" extension through which configuration
// clients set and read it, and the power-management hook.
#pragma once

#include "platform/xserver/dix.h"
#include "platform/xserver/xf86_types.h"

struct ORVRec;

// Heads with a gamma slot.
inline constexpr int kOrvGammaHeads = 4;

// The extension's set-up (the server calls it for every generation) and
// its request procedures.
void ORVGammaExtensionInit(void);
int ProcORVGammaDispatch(ClientPtr client);
int SProcORVGammaDispatch(ClientPtr client);
void ORVGammaResetProc(ExtensionEntry* extension);

// Loads a head's colour table from three gamma values and records them;
// answers 0.
int ORVChangeGammaCrtc(int scrnIndex, int head, float red, float green, float blue);
// The recorded gamma of a head; answers 0.
int ORVGetGammaCrtc(int scrnIndex, Gamma* out, int head);
// The recorded gamma of the screen's own head (1 when it drives head 1,
// else 0).
int ORVGetGamma(int scrnIndex, Gamma* out);
// Loads three 256-entry ramps (16-bit entries) into a head; answers 0.
int ORVChangeGammaRampCrtc(int scrnIndex, int head, const CARD16* red, const CARD16* green,
                           const CARD16* blue);
// The screen's gamma hook: every head its desktop covers gets the gamma.
int ORVChangeGamma(int scrnIndex, Gamma gamma);
// The DPMS hook: levels 0-3 switch the board's outputs.
void ORVDisplayPowerManagementSet(ScrnInfoPtr screen, int mode, int flags);

// The head a screen drives: 3, 2 or 1 when its record marks it as driving
// that head index, else 0.
int ORVScreenHead(const ORVRec* rec);
// This driver's record of X screen n (screenInfo's slot n), or null when
// the slot is out of range, empty or another driver's.
ORVRec* ORVRecOfScreen(unsigned n);
