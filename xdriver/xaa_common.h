// The steps XAA's drawing callbacks share: finding the screen's data,
// binding the target's surface descriptor, the raster operation and colour
// widths, and the two shapes every callback has. A set-up runs inside the
// drawing bracket, keeps only the clip of the dirty word, programs the 2D
// state shadow and arms what it marked; a subsequent callback sends the
// state the set-up made dirty and the control preamble ahead of its own
// packet, starts it and marks that XAA must sync.
#pragma once

#include <stdint.h>

#include "core/bm_prim_int.h"
#include "core/hw_thread2d.h"
#include "core/pdev.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/xaa_setup.h"

// XAA's colour -1: no transparency key for a copy or an image, a
// transparent background for a fill or an expansion.
inline constexpr int kXaaNoTransparency = -1;
inline constexpr int kXaaTransparentBackground = -1;

// Binds the target's surface descriptor (reusing one it holds), marks the
// descriptor in the 2D state shadow with the target's words, and answers
// the descriptor word (index << 10).
uint32_t KstrnXaaBindTarget(KstrnXaaData* data);
// Before a packet: a control word whose raster operation is not copy is
// preceded by 0x707 (and an unknown one, 0xFFFFFFFF, by 0x707 alone).
void KstrnXaaControlPreamble(KstrnXaaData* data);
// The control word's raster operation (bits 4-7) for an X GC function.
uint32_t KstrnXaaRop(int rop);
// A colour or plane mask at the screen's pixel size (32 bits at depth 30).
inline uint32_t KstrnXaaReplicate(const KstrnXaaData* data, uint32_t value) {
  return Replicate2d(value, data->device->mode.storageBits);
}

// The box a callback drew into the target (w x h pixels at x, y) waits
// for the post-draw step; nothing happens while no transform is on.
inline void KstrnXaaDrawn(KstrnXaaData* data, int x, int y, int w, int h) {
  PostDrawXformAddBox(data->device, x, y, x + w, y + h);
}

// A set-up: `body(data, shared)` programs the shadow and answers the dirty
// bits it marked.
template <typename Body>
void KstrnXaaSetup(ScrnInfoPtr scrn, Body body) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  DrawBracket bracket(data->device);
  SharedLockedData_t* shared = data->device->sharedLocked;
  Shadow2dDirty(shared) &= k2dDirtyClip;
  Shadow2dDirty(shared) |= body(data, shared);
  Shadow2dArm(shared);
}

// A subsequent callback: `body(data, prim)` writes its packet.
template <typename Body>
void KstrnXaaDraw(ScrnInfoPtr scrn, Body body) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    HwThread2d::SetupHardware(pdev->sharedLocked, prim);
    KstrnXaaControlPreamble(data);
    body(data, prim);
    prim->Start();
  }
  data->info->NeedToSync = TRUE;
}
