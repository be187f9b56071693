// The two post-draw transforms of a device: the 8-to-10-bit transform,
// which re-renders what the X server drew into the displayed surface in
// that surface's format after each drawing operation, and the pivot, which
// renders the drawn desktop rotated into the displayed surface and which
// the kernel module runs again at each vertical sync.
#pragma once

#include <stdint.h>

#include "core/utils.h"

class DeviceBitmap;
class PDEV;
class PostDrawXform;

// The format code the 8-to-10-bit transform's bitmap is created with.
inline constexpr uint32_t kXform8to10BitmapFormat = 52;

bool CreateSurfFormatXform_8to10(PDEV* pdev);
void CleanupSurfFormatXform_8to10(PDEV* pdev);
void SurfFormatXform_8to10(const PostDrawXform* xform);
bool InitSurfFormatXform_8to10(PDEV* pdev);

bool CreateSurfFormatXform_Pivot(PDEV* pdev);
void CleanupSurfFormatXform_Pivot(PDEV* pdev);
void SurfFormatXform_Pivot(const PostDrawXform* xform);
bool InitSurfFormatXform_Pivot(PDEV* pdev);
// The pivot's id bits (its rotation code). True.
bool GetXformId_Pivot(PDEV* pdev, uint32_t* id);

// The copies, each on the stream of its kind. `target` is the surface the
// engine draws into (bound to descriptor 0), `texture` the one it reads;
// `positions` lie in the target, `coordinates` in the texture.
void DevBitXform_8To10(DeviceBitmap* target, DeviceBitmap* texture, const LRECT* positions,
                       const LRECT* coordinates);
void DevBitXform_Pivot(DeviceBitmap* target, DeviceBitmap* texture, const LRECT* positions,
                       const LRECT* coordinates, uint32_t rotation);
