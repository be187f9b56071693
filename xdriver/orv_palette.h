// The heads' colour tables at 8 bits per pixel: the colormap hook keeps
// the changed entries and the block handler loads them; the start-up logo
// loads both tables of heads 0 and 1 at once.
#pragma once

#include <stdint.h>

#include "xdriver/orv_rec.h"

void ORVLoadPalette(ScrnInfoPtr screen, int count, int* indices, LOCO* colours, VisualPtr visual);
// Run by the block handler: writes the changed entries into the tables the
// desktop shows them through.
void ORVLoadPaletteCallback(ScrnInfoPtr screen);
void ORVLoadBothPalette(ScrnInfoPtr screen, int count, const int* indices, const LOCO* colours);
// 256 palette entries {flag, red, green, blue} as the hardware library's
// three 256-entry channel tables.
void ORVConvertPALToQLBLUT(const uint8_t (*palette)[4], uint16_t* red, uint16_t* green, uint16_t* blue);
