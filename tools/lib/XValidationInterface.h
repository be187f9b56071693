// Mode-line checks of the mode-line editor, always against board 0.
#pragma once

#include "tools/lib/ModelineUtils.h"

// The output type word of the output's state (0 without the extension).
int XValidGetOutputType(int output);
// 0 unless each of the two timing rows strictly increases; then the driver's
// verdict, 1 when valid.
int XValidValidateModeLine(int output, const UiModeLine* mode);
int XValidValidateModeLineEDID(int output, const UiModeLine* mode);
// Fills `out` with the driver's timing for the resolution; answers 1.
int XValidFindModeLine(int ignored, int width, int height, int refresh, UiModeLine* out);
