#include "hwsharing/encoders/flat_panel.h"

#include "core/regs/dac.h"
#include "core/regs/transmitters.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/encoders/av9110.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"

namespace {

const FPFUNCTIONS& Fp(const BOARDHANDLE* h) { return *h->pFPFunctions; }

constexpr uint32_t kPanelPort = 1;

// Module byte bits.
constexpr uint8_t kModuleOutputOn = 0x40;
constexpr uint8_t kModuleOutputBlocked = 0x10;
constexpr uint8_t kModuleReadBack = 0x20;
constexpr uint8_t kModuleOn = 0xFB;
constexpr uint8_t kModuleOnA = 0xBB;
constexpr uint8_t kModuleOnB = 0xEB;
constexpr uint8_t kModuleOff = 0xFF;

// AV9110 serial load through the module register.
constexpr uint8_t kAvKeep = 0x73;
constexpr uint8_t kAvData = 0x04;
constexpr uint8_t kAvClock = 0x80;
constexpr uint8_t kAvDone = 0x88;
constexpr unsigned kAvWordBits = 24;

constexpr uint8_t kHotPlugKeep = 0x8F;
constexpr uint8_t kHotPlugEnable = 0x10;
constexpr uint8_t kHotPlugLatched = 0x01;
constexpr uint8_t kHotPlugPresent = 0x02;

// Feature-connector interface: bits of the DAC's output control.
constexpr uint8_t kVfciOff = 0x02;
constexpr uint8_t kVfciOffBoth = 0x06;

}  // namespace

HALSTATUS HSLReadPanelLinkModuleRegister(BOARDHANDLE* h, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  const bool ok = I2cByteTransferOnPort(h, kPanelPort, AddOn(h, kAddOnPanelLinkAddress), &v, true);
  *value = ok ? v : 0;
  return h->status;
}

HALSTATUS HSLWritePanelLinkModuleRegister(BOARDHANDLE* h, uint8_t value) {
  if (HalFailed(h->status)) return h->status;
  I2cByteTransferOnPort(h, kPanelPort, AddOn(h, kAddOnPanelLinkAddress), &value, false);
  return h->status;
}

HALSTATUS HSLGetPanelLinkModuleOutputState(BOARDHANDLE* h, uint32_t* state) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  Fp(h).ReadPanelLinkModuleRegister(h, &v);
  *state = ((v & kModuleOutputOn) && !(v & kModuleOutputBlocked)) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLEnablePanelLinkModuleOutput(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t version = h->ulPanelLinkVersion;
  if (version != 0) {
    Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegControl, static_cast<uint8_t>(0xF8 | (on ? 1 : 0)));
    Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegHotPlug, 0x9F);
    Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegOutput, 0x81);
    if (version == kPanelLinkVersion40001)
      Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegVersionSpecific, 0x8D);
    else if (version == kPanelLinkVersion60001)
      Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegVersionSpecific, 0x89);
    return h->status;
  }
  if (!on) return Fp(h).WritePanelLinkModuleRegister(h, kModuleOff);
  Fp(h).WritePanelLinkModuleRegister(h, kModuleOn);
  uint8_t back = 0;
  Fp(h).ReadPanelLinkModuleRegister(h, &back);
  return Fp(h).WritePanelLinkModuleRegister(h, (back & kModuleReadBack) ? kModuleOnA : kModuleOnB);
}

HALSTATUS HSLFlatEnableVFCI(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  HSLDACReadRegister(h, kDacOutputCtl, &v);
  v = on ? static_cast<uint8_t>(v & ~kVfciOff) : static_cast<uint8_t>(v | kVfciOffBoth);
  HSLDACWriteRegister(h, kDacOutputCtl, v);
  return h->status;
}

HALSTATUS HSLReadSIPanelLinkRegister(BOARDHANDLE* h, uint32_t port, uint32_t reg, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  if (!I2cRegisterTransferOnPort(h, port, AddOn(h, kAddOnPanelLinkAddress), reg, value, 1, true, 1))
    SetError(h, kErrPanelLinkRead);
  return h->status;
}

HALSTATUS HSLWriteSIPanelLinkRegister(BOARDHANDLE* h, uint32_t port, uint32_t reg, uint8_t value) {
  if (HalFailed(h->status)) return h->status;
  if (!I2cRegisterTransferOnPort(h, port, AddOn(h, kAddOnPanelLinkAddress), reg, &value, 1, false, 1))
    SetError(h, kErrPanelLinkWrite);
  return h->status;
}

HALSTATUS HSLGetSIPanelLinkVersion(BOARDHANDLE* h, uint32_t port, uint32_t* version) {
  if (HalFailed(h->status)) return h->status;
  uint32_t v = 0;
  for (uint32_t reg = 0; reg < 4; ++reg) {
    uint8_t b = 0;
    Fp(h).ReadSIPanelLinkRegister(h, port, reg, &b);
    v |= static_cast<uint32_t>(b) << (8 * reg);
  }
  *version = v;
  return h->status;
}

HALSTATUS HSLEnableSIPanelLinkHotPlug(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  Fp(h).ReadSIPanelLinkRegister(h, kPanelPort, kSiRegHotPlug, &v);
  return Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegHotPlug,
                                        static_cast<uint8_t>((v & kHotPlugKeep) + (on ? kHotPlugEnable : 0)));
}

HALSTATUS HSLGetSIPanelLinkHotPlugStatus(BOARDHANDLE* h, uint32_t* status) {
  if (HalFailed(h->status)) return h->status;
  *status = 0;
  uint8_t v = 0;
  Fp(h).ReadSIPanelLinkRegister(h, kPanelPort, kSiRegHotPlug, &v);
  if (HalFailed(h->status)) return h->status;
  if (!(v & kHotPlugLatched)) {
    *status |= 2;
    Fp(h).WriteSIPanelLinkRegister(h, kPanelPort, kSiRegHotPlug, static_cast<uint8_t>(v | kHotPlugLatched));
  }
  if (v & kHotPlugPresent) *status |= 1;
  return h->status;
}

HALSTATUS HSLFlatAV9110WriteRegister(BOARDHANDLE* h, uint32_t word) {
  if (HalFailed(h->status)) return h->status;
  uint8_t base = 0;
  Fp(h).ReadPanelLinkModuleRegister(h, &base);
  base &= kAvKeep;
  Fp(h).WritePanelLinkModuleRegister(h, base);
  for (unsigned i = 0; i < kAvWordBits; ++i) {
    const uint8_t b = static_cast<uint8_t>(base | (((word >> i) & 1) ? kAvData : 0));
    Fp(h).WritePanelLinkModuleRegister(h, b);
    Fp(h).WritePanelLinkModuleRegister(h, static_cast<uint8_t>(b | kAvClock));
    Fp(h).WritePanelLinkModuleRegister(h, b);
  }
  return Fp(h).WritePanelLinkModuleRegister(h, static_cast<uint8_t>(base | kAvDone));
}

HALSTATUS HSLAV9110SetPixelPLL(BOARDHANDLE* h, uint32_t clockKHz) {
  if (HalFailed(h->status)) return h->status;
  AV9110PLL pll{};
  if (!Av9110ComputePll(clockKHz, &pll)) return SetError(h, kErrAv9110Clock);
  return HSLFlatAV9110WriteRegister(h, pll.word);
}
