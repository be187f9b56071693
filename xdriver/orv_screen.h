// The life of a screen after PreInit: its initialisation and close, the
// virtual-terminal switches, frame adjustment and mode validation.
#pragma once

#include "xdriver/orv_rec.h"

// Rounds a panning origin down: x to 16 pixels, y to the heads' vertical
// panning granularity.
void ORVAdjustGranularity(ScrnInfoPtr screen, int* x, int* y);
