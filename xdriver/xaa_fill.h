// XAA's solid fills on the 2D engine: the set-up and rectangle hooks, the
// rectangle list and the span list, each turned into DMA command packets in
// the primary command buffer; and the steps every drawing hook shares
// (binding the target's surface descriptor, the control-register preamble).
#pragma once

#include <stdint.h>

#include "platform/xserver/xaa.h"

class KstrnXaaData;

void KstrnXAASetupForSolidFill(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask);
void KstrnXAASubsequentSolidFillRect(ScrnInfoPtr scrn, int x, int y, int w, int h);
void KstrnXAAFillSolidRects(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int nBox,
                            BoxPtr pBox);
void KstrnXAAFillSolidSpans(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int n,
                            DDXPointPtr points, int* widths, int sorted);

// Binds the target's surface descriptor (reusing one it holds), marks the
// descriptor in the 2D state shadow with the target's words, and answers
// the descriptor word (index << 10).
uint32_t KstrnXaaBindTarget(KstrnXaaData* data);
// Before a packet: a control word whose raster operation is not copy is
// preceded by 0x707 (and an unknown one, 0xFFFFFFFF, by 0x707 alone).
void KstrnXaaControlPreamble(KstrnXaaData* data);
