// XAA's info record, its private slot on the screens and the generic
// rectangle filler.
#include "platform/xserver/xaa.h"

#include "platform/xserver/xf86_server.h"

extern "C" {

int XAAScreenIndex = -1;

XAAInfoRecPtr XAACreateInfoRec(void) {
  return static_cast<XAAInfoRecPtr>(xcalloc(1, sizeof(XAAInfoRec)));
}

void XAADestroyInfoRec(XAAInfoRecPtr infoRec) {
  if (infoRec == nullptr) return;
  ScrnInfoPtr scrn = infoRec->pScrn;
  if (scrn != nullptr && scrn->pScreen != nullptr && XAAScreenIndex >= 0 &&
      scrn->pScreen->devPrivates[XAAScreenIndex].ptr == infoRec) {
    scrn->pScreen->devPrivates[XAAScreenIndex].ptr = nullptr;
  }
  xfree(infoRec);
}

Bool XAAInit(ScreenPtr pScreen, XAAInfoRecPtr infoRec) {
  if (pScreen == nullptr || infoRec == nullptr || infoRec->Sync == nullptr) return FALSE;
  if (XAAScreenIndex < 0) XAAScreenIndex = AllocateScreenPrivateIndex();
  if (XAAScreenIndex < 0) return FALSE;
  infoRec->pScrn = xf86Screens[pScreen->myNum];
  infoRec->NeedToSync = FALSE;
  infoRec->ClipBox = nullptr;
  pScreen->devPrivates[XAAScreenIndex].ptr = infoRec;
  return TRUE;
}

XAAInfoRecPtr XAAGetInfoRec(ScreenPtr pScreen) {
  if (pScreen == nullptr || XAAScreenIndex < 0) return nullptr;
  return static_cast<XAAInfoRecPtr>(pScreen->devPrivates[XAAScreenIndex].ptr);
}

void XAAFillSolidRects(ScrnInfoPtr pScrn, int fg, int rop, unsigned int planemask, int nBox,
                       BoxPtr pBox) {
  XAAInfoRecPtr infoRec = pScrn != nullptr ? XAAGetInfoRec(pScrn->pScreen) : nullptr;
  if (infoRec == nullptr || infoRec->SetupForSolidFill == nullptr ||
      infoRec->SubsequentSolidFillRect == nullptr || nBox <= 0) {
    return;
  }
  infoRec->SetupForSolidFill(pScrn, fg, rop, planemask);
  for (int i = 0; i < nBox; ++i) {
    infoRec->SubsequentSolidFillRect(pScrn, pBox[i].x1, pBox[i].y1, pBox[i].x2 - pBox[i].x1,
                                     pBox[i].y2 - pBox[i].y1);
  }
  infoRec->NeedToSync = TRUE;
}

}  // extern "C"
