#include "hwsharing/encoders/fan_pwm.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/companion.h"

namespace {


}  // namespace

HALSTATUS HSLPWMTC664Detect(BOARDHANDLE* h, uint32_t selector, uint32_t* present) {
  if (HalFailed(h->status)) return h->status;
  uint8_t id = 0;
  HSLTC664I2CRead(h, selector, kTc664RegId, &id);
  if (h->status != kHalOk) {
    *present = 0;
    h->status = kHalOk;
    return h->status;
  }
  *present = id == kTc664Id ? 1 : 0;
  return h->status;
}

HALSTATUS HSLPWMInit(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  HSLTC664I2CWrite(h, selector, kTc664RegDuty, 0x0F);
  HSLTC664I2CWrite(h, selector, kTc664RegConfig, 0x3C);
  HSLTC664I2CWrite(h, selector, kTc664RegControl, 0xA4);
  HSLTC664I2CWrite(h, selector, kTc664RegControl, 0x24);
  return h->status;
}

HALSTATUS HSLPWMPowerDown(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  HSLTC664I2CRead(h, selector, kTc664RegControl, &v);
  v |= kTc664ControlShutdown;
  HSLTC664I2CWrite(h, selector, kTc664RegControl, v);
  v |= kTc664ControlReset;
  HSLTC664I2CWrite(h, selector, kTc664RegControl, v);
  v = static_cast<uint8_t>(v & ~kTc664ControlReset);
  HSLTC664I2CWrite(h, selector, kTc664RegControl, v);
  return h->status;
}

HALSTATUS HSLPWMPowerUp(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  HSLTC664I2CRead(h, selector, kTc664RegControl, &v);
  HSLTC664I2CWrite(h, selector, kTc664RegControl, static_cast<uint8_t>(v & ~kTc664ControlShutdown));
  return HSLPWMInit(h, selector);
}
