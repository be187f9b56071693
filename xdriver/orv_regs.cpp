#include "xdriver/orv_regs.h"

#include "core/hw_register_access.h"
#include "core/register_guard.h"
#include "platform/xserver/xservices.h"

namespace {

// Before a write at `offset`: the dummy write when it follows the last
// write closely, then the offset becomes the last one.
void TrackWrite(ORVRec* rec, uint8_t* aperture, uint32_t offset) {
  if (!rec->videoBridge || rec->pBridgeStatus == nullptr) return;
  RegGuardBeforeWrite(rec->pBridgeStatus, offset,
                      [&](uint32_t dummy) { xf86WriteMmio32(aperture, dummy, 0); });
}

void TrackRead(ORVRec* rec) {
  if (rec->videoBridge && rec->pBridgeStatus != nullptr) RegGuardForget(rec->pBridgeStatus);
}

}  // namespace

void ORV_OUT_REG8(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint8_t value) {
  TrackWrite(rec, aperture, offset);
  xf86WriteMmio8(aperture, offset, value);
}

void ORV_OUT_REG16(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint16_t value) {
  TrackWrite(rec, aperture, offset);
  xf86WriteMmio16(aperture, offset, value);
}

void ORV_OUT_REG32(ORVRec* rec, uint8_t* aperture, uint32_t offset, uint32_t value) {
  TrackWrite(rec, aperture, offset);
  xf86WriteMmio32(aperture, offset, value);
}

uint8_t ORV_IN_REG8(ORVRec* rec, uint8_t* aperture, uint32_t offset) {
  TrackRead(rec);
  return xf86ReadMmio8(aperture, offset);
}

uint16_t ORV_IN_REG16(ORVRec* rec, uint8_t* aperture, uint32_t offset) {
  TrackRead(rec);
  return xf86ReadMmio16(aperture, offset);
}

uint32_t ORV_IN_REG32(ORVRec* rec, uint8_t* aperture, uint32_t offset) {
  TrackRead(rec);
  return xf86ReadMmio32(aperture, offset);
}
