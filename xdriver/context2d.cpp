#include "xdriver/context2d.h"

#include "core/bm_packets.h"
#include "core/pdev.h"
#include "xdriver/board_object.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/surf_desc_list.h"

// ---- Context2d -------------------------------------------------------------------------

void Context2d::SetContext(PDEV* pdev) {
  if (pdev->data2d.surfDescList != nullptr) pdev->data2d.surfDescList->UnassignAll();
  ForEachDeviceOfBoard(pdev, [](PDEV* d) { d->data2d.bracket.preDraw &= ~kPreDrawSetContext; });
}

void Context2d::InvalidateContext() {
  ForEachDeviceOfBoard(owner, [](PDEV* d) { d->data2d.bracket.preDraw |= kPreDrawSetContext; });
}

bool InitContext2d(PDEV* pdev) {
  return ShareBoardObject(pdev, pdev->common->context2d, pdev->data2d.context);
}

void CleanupContext2d(PDEV* pdev) {
  ReleaseBoardObject(pdev, pdev->common->context2d, pdev->data2d.context);
}

// ---- PreDrawPostDraw ---------------------------------------------------------------------

void PreDrawPostDraw::MakeConstantPreDraw() {
  if (((preDraw | postDraw) & kPreDrawOwnerCheck) != 0 && shared->primaryEngineMode != kEngineOwner2d) {
    preDraw |= kPreDrawSetContext;
  }
  if ((preDraw & kPreDrawSetContext) != 0 && owner->data2d.context != nullptr) {
    owner->data2d.context->SetContext(owner);
  }
}

void PreDrawPostDraw::MakeConstantPostDraw() {
  // What was drawn into the transform's bitmap reaches the displayed
  // surface before any wait for the engine.
  if ((postDraw & kPostDrawXform) != 0) PostDrawXformRun(owner);
  if ((postDraw & kPostDrawWait) == 0 || owner->primInt == nullptr) return;
  Sync2dAndWait(owner->common, owner->primInt, "after drawing");
}

DrawBracket::DrawBracket(PDEV* pdev)
    : bracket_(pdev->data2d.bracket), locked_(false), drawing_(true) {
  if (bracket_.lockDrawing != 0) {
    locked_ = BmAcquireCommandLock(bracket_.shared, kCmdLockOwnerXDriver);
    drawing_ = locked_;
  }
  if (drawing_ && (bracket_.preDraw & (kPreDrawSetContext | kPreDrawOwnerCheck)) != 0) {
    bracket_.MakeConstantPreDraw();
  }
}

DrawBracket::~DrawBracket() {
  if (drawing_ && (bracket_.postDraw & kPostDrawSteps) != 0) bracket_.MakeConstantPostDraw();
  if (locked_) BmReleaseCommandLock(bracket_.shared, kCmdLockOwnerXDriver);
}

bool InitPreDrawPostDraw(PDEV* pdev) {
  PreDrawPostDraw& bracket = pdev->data2d.bracket;
  bracket.owner = pdev;
  bracket.shared = pdev->sharedLocked;
  bracket.depth = &pdev->sharedLocked->commandLockDepth;
  return true;
}

void CleanupPreDrawPostDraw(PDEV*) {}
