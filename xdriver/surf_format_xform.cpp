#include "xdriver/surf_format_xform.h"

#include "core/bm_prim_int.h"
#include "core/bm_transform.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/device_bitmap.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/primary_surface.h"
#include "xdriver/surf_desc_list.h"

namespace {

// The 8-to-10-bit copy reads the drawn pixels as 8 bits per component:
// mode 2 and format 50 in the texture's mode word.
constexpr uint32_t k8to10ModeKeep = 0xF2FAFFFF;
constexpr uint32_t k8to10ModeSet = 0x32020000;
// The pivot loads both surfaces linear (mode 2) with their own format code.
constexpr uint32_t kPivotModeKeep = 0xC0F8FFFF;
constexpr uint32_t kPivotModeLinear = 0x20000;
constexpr uint32_t kPivotHeightMask = 0x3FFF;
// The pivot's sequence starts by setting the tag register to 8 and flushes
// the texture cache around the draw.
constexpr uint32_t kPivotTag = 8;
constexpr uint32_t kPivotFlushBefore = 16;
constexpr uint32_t kPivotFlushAfter = 24;
constexpr uint32_t kNoRestore = 0xFFFFFFFF;
// A bitmap in use by unposted drawing.
constexpr int32_t kBlockBusy = -1;

uint32_t PivotMode(const DeviceBitmap* b) {
  return (b->ModeWord() & kPivotModeKeep) | kPivotModeLinear | Mode2dFormat::Word(b->formatCode);
}

// The device's primary surface when it holds memory, else none.
DeviceBitmap* PlacedPrimary(PDEV* pdev) {
  DeviceBitmap& primary = pdev->data2d.Primary();
  return primary.enabled ? &primary : nullptr;
}

// Describes the device's second embedded bitmap for a desktop of `size`.
// The X server draws into it, off-screen pixmaps included: the framebuffer
// manager hands out the head's memory lines below the desktop from its
// start, so it holds them all. The copies read only the desktop.
DeviceBitmap& DescribeXformBitmap(PDEV* pdev, LSIZE size) {
  DeviceBitmap& b = pdev->data2d.bitmaps[1];
  b.memoryId = pdev->data2d.memoryId;
  const uint32_t pitch = (static_cast<uint32_t>(size.width) + 31) & 0x3FE0;
  b.Describe(pdev, pitch, k2dLayoutBitmap, pdev->mode.pixelFormat & 0x3F,
             HeadMemoryLines(pdev, pitch, static_cast<uint32_t>(size.height)), k2dMemoryPrimary,
             k2dLocationLocal);
  return b;
}

// Gives the transform's bitmap back; drawing goes to the primary surface
// again (so that its own clean-up finds it).
void ReleaseXformBitmap(PDEV* pdev) {
  Data2d& data = pdev->data2d;
  DeviceBitmap* bitmap = &data.bitmaps[1];
  if (data.target == bitmap || bitmap->enabled) bitmap->Destroy();
  if (data.target == bitmap) data.target = PlacedPrimary(pdev);
}

// Finishes a transform whose bitmap is placed: the X server draws into it
// from now on.
bool AttachXform(PDEV* pdev, DeviceBitmap& bitmap, XformFunction function, LSIZE size) {
  Data2d& data = pdev->data2d;
  PostDrawXform& x = data.xform;
  bitmap.flags |= kDevBitPrimary;
  data.target = &bitmap;
  x.SetXformOperation(&bitmap, PlacedPrimary(pdev), function);
  x.width = static_cast<uint32_t>(size.width);
  x.height = static_cast<uint32_t>(size.height);
  return (x.flags & kXformDisabled) == 0;
}

}  // namespace

// ---- 8 to 10 bits --------------------------------------------------------------------------

bool InitSurfFormatXform_8to10(PDEV*) { return true; }

bool CreateSurfFormatXform_8to10(PDEV* pdev) {
  const LSIZE desktop = PrimaryDesktopSize(pdev);
  DeviceBitmap& bitmap = DescribeXformBitmap(pdev, desktop);
  if (!bitmap.Create(pdev, kXform8to10BitmapFormat)) return false;
  if (!AttachXform(pdev, bitmap, SurfFormatXform_8to10, desktop)) {
    CleanupSurfFormatXform_8to10(pdev);
    return false;
  }
  PostDrawXform& x = pdev->data2d.xform;
  x.Enable(pdev);
  x.flags |= kXformId8to10;
  return true;
}

void CleanupSurfFormatXform_8to10(PDEV* pdev) {
  PostDrawXform& x = pdev->data2d.xform;
  x.flags &= ~kXformId8to10;
  x.Disable(pdev);
  ReleaseXformBitmap(pdev);
}

void SurfFormatXform_8to10(const PostDrawXform* x) {
  const int32_t index = x->current;
  if (index != 0 && index != 1) return;
  if ((x->rectWords[index] & kXformRectPending) == 0) return;
  if (x->source == nullptr || x->destination == nullptr) return;
  LRECT r = x->rects[index];
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  // Only the desktop is copied: the bitmap's lines below it hold off-screen
  // pixmaps.
  const int32_t width = static_cast<int32_t>(x->width < x->source->width ? x->width : x->source->width);
  const int32_t height = static_cast<int32_t>(x->height < x->source->height ? x->height : x->source->height);
  if (r.right > width) r.right = width;
  if (r.bottom > height) r.bottom = height;
  if (r.left >= r.right || r.top >= r.bottom) return;
  // The displayed surface is drawn, the X server's bitmap read.
  DevBitXform_8To10(x->destination, x->source, &r, &r);
}

void DevBitXform_8To10(DeviceBitmap* target, DeviceBitmap* texture, const LRECT* p, const LRECT* t) {
  PDEV* pdev = target->pdev;
  BmPrimInt* stream = pdev->primInt;
  if (stream == nullptr) return;
  if ((target->flags & kDevBitBoundLinear) == 0 && target->surfDescList != nullptr) {
    target->surfDescList->current = &target->surfDescList->nodes[0];
    target->surfDescList->AssignCurrentSurfDescTo(target, true);
  }
  target->flags &= ~kDevBitHostCopy;
  if (texture->block != nullptr) texture->block->drawSyncTag = kBlockBusy;

  SharedLockedData_t* shared = pdev->sharedLocked;
  XformWriteTagPacket(stream, Sync2dNewTag(shared));
  XformWriteRenderSetup(stream, texture->addressWord,
                        (texture->ModeWord() & k8to10ModeKeep) | k8to10ModeSet,
                        texture->DimensionsWord());
  const float w = static_cast<float>(texture->width);
  const float h = static_cast<float>(texture->height);
  DrawTexturedRectangleEx(stream, *p, static_cast<float>(t->left) / w, static_cast<float>(t->top) / h,
                          static_cast<float>(t->right) / w, static_cast<float>(t->bottom) / h, 0);
  XformWriteDraw(stream);
  XformWriteTagPacket(stream, Sync2dNewTag(shared));
  stream->Start();
}

// ---- Pivot ------------------------------------------------------------------------------------

bool InitSurfFormatXform_Pivot(PDEV*) { return true; }

bool GetXformId_Pivot(PDEV* pdev, uint32_t* id) {
  *id = pdev->data2d.xform.flags & kXformIdMask;
  return true;
}

bool CreateSurfFormatXform_Pivot(PDEV* pdev) {
  PostDrawXform& x = pdev->data2d.xform;
  x.flags = (x.flags & ~kXformIdMask) | (pdev->bindingFlags & kXformRotationMask);
  // The desktop as the X server sees it: the displayed size, turned for
  // the quarter turns.
  LSIZE size = PrimaryDesktopSize(pdev);
  x.TranslateSize(&size);
  DeviceBitmap& bitmap = DescribeXformBitmap(pdev, size);
  if (!bitmap.Create(pdev, static_cast<const LSIZE*>(nullptr)) ||
      !AttachXform(pdev, bitmap, SurfFormatXform_Pivot, size)) {
    CleanupSurfFormatXform_Pivot(pdev);
    return false;
  }
  x.Enable(pdev);
  return true;
}

void CleanupSurfFormatXform_Pivot(PDEV* pdev) {
  PostDrawXform& x = pdev->data2d.xform;
  x.flags &= ~kXformRotationMask;
  x.Disable(pdev);
  ReleaseXformBitmap(pdev);
}

void SurfFormatXform_Pivot(const PostDrawXform* x) {
  const LSIZE size = {static_cast<int32_t>(x->width), static_cast<int32_t>(x->height)};
  LRECT desktop = {0, 0, size.width, size.height};
  LRECT displayed = desktop;
  x->TranslateRect(&displayed, &size);
  if (x->source == nullptr || x->destination == nullptr) return;
  if (desktop.left < 0) desktop.left = 0;
  if (desktop.top < 0) desktop.top = 0;
  if (desktop.left >= desktop.right || desktop.top >= desktop.bottom) return;
  // The displayed surface is drawn at its corners, the desktop read.
  DevBitXform_Pivot(x->destination, x->source, &displayed, &desktop, x->flags & kXformIdMask);
}

void DevBitXform_Pivot(DeviceBitmap* target, DeviceBitmap* texture, const LRECT* p, const LRECT* t,
                       uint32_t rotation) {
  PDEV* pdev = target->pdev;
  CFeatureMgr* features = pdev->featureMgr;
  BmXformInt* stream = features != nullptr && pdev->unit < kFeaturePivotInterfaces
                           ? features->xformInterfaces[pdev->unit]
                           : nullptr;
  if (stream == nullptr) return;
  const int32_t b = t->bottom;
  if (!stream->BeginCmd()) return;
  if (uint32_t* at = stream->Reserve(7)) {
    at = BmWriteSyncTag(at, kPivotTag);
    at[0] = DescriptorHeader(0);
    at[1] = target->addressWord;
    at[2] = PivotMode(target);
  }
  if (texture->block != nullptr) texture->block->drawSyncTag = kBlockBusy;
  SendCacheFlushInv3dNoWrite(stream, kPivotFlushBefore, kNoRestore);
  XformWriteRenderSetup(stream, texture->addressWord, PivotMode(texture),
                        (texture->DimensionsWord() & ~kPivotHeightMask) |
                            (static_cast<uint32_t>(b) & kPivotHeightMask));
  const float w = static_cast<float>(texture->width);
  const float h = static_cast<float>(b);
  DrawTexturedRectangleEx(stream, *p, static_cast<float>(t->left) / w, static_cast<float>(t->top) / h,
                          static_cast<float>(t->right) / w, static_cast<float>(t->bottom) / h,
                          (rotation & kXformRotationMask) >> kXformRotationShift);
  XformWriteDraw(stream);
  SendCacheFlushInv3dNoWrite(stream, kPivotFlushAfter, kNoRestore);
  stream->EndCmd();
}
