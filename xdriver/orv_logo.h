// The start-up logo: the screen is cleared to the logo's main colour and
// the logo drawn over it (one copy per monitor of the desktop), then held
// for two seconds.
#pragma once

#include <stddef.h>

#include "xdriver/orv_rec.h"

extern const char* const kOrvLogoPlain[];
extern const size_t kOrvLogoPlainLines;
extern const char* const kOrvLogoAccelerated[];
extern const size_t kOrvLogoAcceleratedLines;

// Whether ScreenInit shows the logo: unless the option NoLogo is given, with
// any value.
bool ORVLogoWanted(ScrnInfoPtr screen);
void ORVDisplayLogo(ScrnInfoPtr screen);
// Draws an XPM image of `count` lines; pixels outside the head's
// framebuffer and those of the transparent colour are left alone.
void ORVDisplayXPM(ScrnInfoPtr screen, const char* const* lines, size_t count);
