#include "hwsharing/encoders/fan_pwm.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/companion.h"

namespace {

constexpr uint8_t kRegConfig = 2;
constexpr uint8_t kRegControl = 4;
constexpr uint8_t kRegDuty = 6;
constexpr uint8_t kControlShutdown = 0x01;
constexpr uint8_t kControlReset = 0x80;

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
  HSLTC664I2CWrite(h, selector, kRegDuty, 0x0F);
  HSLTC664I2CWrite(h, selector, kRegConfig, 0x3C);
  HSLTC664I2CWrite(h, selector, kRegControl, 0xA4);
  HSLTC664I2CWrite(h, selector, kRegControl, 0x24);
  return h->status;
}

HALSTATUS HSLPWMPowerDown(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  HSLTC664I2CRead(h, selector, kRegControl, &v);
  v |= kControlShutdown;
  HSLTC664I2CWrite(h, selector, kRegControl, v);
  v |= kControlReset;
  HSLTC664I2CWrite(h, selector, kRegControl, v);
  v = static_cast<uint8_t>(v & ~kControlReset);
  HSLTC664I2CWrite(h, selector, kRegControl, v);
  return h->status;
}

HALSTATUS HSLPWMPowerUp(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  HSLTC664I2CRead(h, selector, kRegControl, &v);
  HSLTC664I2CWrite(h, selector, kRegControl, static_cast<uint8_t>(v & ~kControlShutdown));
  return HSLPWMInit(h, selector);
}
