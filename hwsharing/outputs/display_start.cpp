// Display start: surface address and window of a controller.
#include "hwsharing/outputs/display_start.h"

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/cem_fpga.h"

namespace {

constexpr uint32_t kEar66Period = 16;
constexpr uint32_t kEar66Phase = 12;
constexpr uint32_t kEar66MinX = 11;

}  // namespace

HALSTATUS HSLKSTGetAddressAlignmentMask(BOARDHANDLE* h, const MODEINFO* mode, uint32_t* mask) {
  if (HalFailed(h->status)) return h->status;
  uint32_t shift = 11;
  if (mode->ulBpp == 16) shift = 12;
  if (mode->ulBpp == 32 || mode->ulBpp == 0xC0000) shift = 13;
  if (IsLaterKestrion(h->usDeviceId)) --shift;
  *mask = 0xFFFFFFFFu << shift;
  return h->status;
}

HALSTATUS HSLKSTDetectEAR66(BOARDHANDLE* h, const MODEINFO* mode, uint32_t x, uint32_t,
                            uint32_t* flag) {
  if (HalFailed(h->status)) return h->status;
  *flag = RecordInterlaced(*mode) && x > kEar66MinX && x % kEar66Period == kEar66Phase ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTGetDisplayStartParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t x, uint32_t y,
                                          DSPARAMS* ds) {
  if (HalFailed(h->status)) return h->status;
  *ds = DSPARAMS{};
  ds->ulController = SelectDC(mode);
  const uint32_t bytes = GetBytePerPixel(mode->ulBpp);
  // A zoom half of 0 counts as 1; without a high half both ways take the low one.
  const uint32_t zoom = mode->ulZoom == 0 ? 1 : mode->ulZoom;
  uint32_t hzoom = zoom & 0xFFFF;
  uint32_t vzoom = zoom >> 16;
  if (hzoom == 0) hzoom = 1;
  if (vzoom == 0) vzoom = hzoom;
  uint32_t ear66 = 0;
  HSLKSTDetectEAR66(h, mode, x, y, &ear66);
  if (ear66) {
    if (x == 0) return SetError(h, kErrDisplayStartEar66);
    --x;
  }
  const uint32_t width = mode->ulDispWidth / hzoom;
  const uint32_t height = mode->ulDispHeight / vzoom;
  uint64_t offset = uint64_t{mode->ulDisplayOrg} * bytes;
  bool moved = false;
  if (uint64_t{x} + width > kDisplayStartLimit) {
    offset += uint64_t{x} * bytes;
    x = 0;
    moved = true;
  }
  if (uint64_t{y} + height > kDisplayStartLimit) {
    offset += uint64_t{y} * mode->ulFBPitch * bytes;
    y = 0;
    moved = true;
  }
  uint32_t mask = 0;
  HSLKSTGetAddressAlignmentMask(h, mode, &mask);
  const uint32_t masked = static_cast<uint32_t>(offset) & mask;
  HSLKST_Register_PriSurfAddr_Set(h, masked, 0, &ds->ulAddress);
  if (RecordInterlaced(*mode)) HSLKST_Register_PriSurfAddr_Set(h, masked, 1, &ds->ulAddress2);
  uint32_t cut = 0;
  if (moved && bytes != 0) {
    uint32_t back = 0;
    HSLKST_Register_PriSurfAddr_Get(h, ds->ulAddress, &back);
    cut = static_cast<uint32_t>(offset - back) / bytes;
  }
  ds->ulStartX = (x + cut) & kHalfMask;
  ds->ulEndX = (x + width - 1 + cut) & kHalfMask;
  ds->ulStartY = y & kHalfMask;
  ds->ulEndY = (y + height - 1) & kHalfMask;
  return h->status;
}

HALSTATUS HSLKSTSetDisplayStartParameters(BOARDHANDLE* h, MODEINFO* mode, const DSPARAMS* ds) {
  if (HalFailed(h->status)) return h->status;
  const DisplayStartRegs& r = ds->ulController < 2 ? kDisplayStartFirst : kDisplayStartSecond;
  const uint32_t at = kControllerStride * (ds->ulController & 1);
  RegWrite(h, r.address + at, ds->ulAddress);
  if (RecordInterlaced(*mode)) RegWrite(h, r.address2 + at, ds->ulAddress2);
  RegWrite(h, r.x0 + at, ds->ulStartX);
  RegWrite(h, r.x1 + at, ds->ulEndX);
  RegWrite(h, r.y0 + at, ds->ulStartY);
  RegWrite(h, r.y1 + at, ds->ulEndY);
  return h->status;
}

HALSTATUS HSLKSTInternalSetDisplayStart(BOARDHANDLE* h, MODEINFO* mode, uint32_t x, uint32_t y) {
  if (HalFailed(h->status)) return h->status;
  DSPARAMS ds;
  HSLKSTGetDisplayStartParameters(h, mode, x, y, &ds);
  HSLKSTSetDisplayStartParameters(h, mode, &ds);
  if (HalFailed(h->status)) return h->status;
  mode->ulDisplayStartX = x;
  mode->ulDisplayStartY = y;
  return h->status;
}

HALSTATUS HSLKSTSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3) return SetError(h, kErrDisplayStartController);
  MODEINFO& record = h->aModeInfo[controller];
  MODEINFO scratch{}, translated{};
  HSLKSTTranslateFPGAVideoParameters(h, &record, &scratch, &translated);
  HSLKSTInternalSetDisplayStart(h, &translated, x, y);
  if (HalFailed(h->status)) return h->status;
  record.ulDisplayStartX = x;
  record.ulDisplayStartY = y;
  return h->status;
}
