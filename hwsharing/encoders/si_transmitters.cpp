#include "hwsharing/encoders/si_transmitters.h"

#include "core/chip_ids.h"
#include "core/regs/transmitters.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/companion.h"

namespace {

constexpr SIPARAMS kInitialParams = {
    {0x39, 0x00, 0x89},
    {0x30, 0x00, 0x90, 0x89, 0x31},
    {0x44, 0x4C, 0x01, 0x80, 0x00, 0x89, 0x60, 0x34, 0x35},
};
constexpr uint8_t kEdgeBit = 0x02;

// Registers written per kind, one per parameter byte.
constexpr uint8_t kRegs164[] = {8, 10, 12};
constexpr uint8_t kRegs1162[] = {8, 9, 10, 12, 8};
constexpr uint8_t kRegs1178[] = {15, 15, 14, 10, 9, 12, 13, 8, 8};

constexpr uint8_t kControlDualLink = 0x04;   // register 8, cleared for dual link
constexpr uint8_t kDualLink1178 = 0x10;      // register 13
constexpr uint8_t kPowerDown164 = 0x38;

void Write(BOARDHANDLE* h, uint32_t index, uint8_t reg, uint8_t value) {
  HSLSI164I2CWrite(h, index, reg, &value, 1);
}
void Modify(BOARDHANDLE* h, uint32_t index, uint8_t reg, uint8_t keep, uint8_t set) {
  uint8_t v = 0;
  HSLSI164I2CRead(h, index, reg, &v, 1);
  Write(h, index, reg, static_cast<uint8_t>((v & keep) | set));
}

uint32_t Kind(const BOARDHANDLE* h, uint32_t index) {
  return index < 4 ? h->aSiI164[index].ulData : 0xFFFFFFFF;
}

}  // namespace

SIPARAMS SiParamsOf(const BOARDHANDLE* h) {
  SIPARAMS p = kInitialParams;
  if (h->ucSiParamsEdge) {
    p.Si164Param[0] |= kEdgeBit;
    p.Si1162Param[0] |= kEdgeBit;
    p.Si1162Param[4] |= kEdgeBit;
    p.Si1178Param[7] |= kEdgeBit;
    p.Si1178Param[8] |= kEdgeBit;
  }
  return p;
}

HALSTATUS HSLSI164Enable(BOARDHANDLE* h, uint32_t index) {
  if (HalFailed(h->status)) return h->status;
  // The blocks keep the edge bit of the last enable.
  h->ucSiParamsEdge = (h->usDeviceId == kDeviceKestrionNext3 && h->ucTransmitterEdge != 0) ? 1 : 0;
  const SIPARAMS p = SiParamsOf(h);
  switch (Kind(h, index)) {
    case kSiKind164:
    case kSiKind164B:
      for (size_t i = 0; i < kSi164ParamBytes; ++i) Write(h, index, kRegs164[i], p.Si164Param[i]);
      break;
    case kSiKind1162:
      for (size_t i = 0; i < kSi1162ParamBytes; ++i) Write(h, index, kRegs1162[i], p.Si1162Param[i]);
      break;
    case kSiKind1178:
      for (size_t i = 0; i < kSi1178ParamBytes; ++i) Write(h, index, kRegs1178[i], p.Si1178Param[i]);
      break;
    default:
      break;
  }
  return h->status;
}

HALSTATUS HSLSI164Disable(BOARDHANDLE* h, uint32_t index) {
  if (HalFailed(h->status)) return h->status;
  switch (Kind(h, index)) {
    case kSiKind164:
    case kSiKind164B: Write(h, index, kSiRegControl, kPowerDown164); break;
    case kSiKind1162:
    case kSiKind1178: Write(h, index, kSiRegControl, SiParamsOf(h).Si1162Param[0]); break;
    default: break;
  }
  return h->status;
}

HALSTATUS HSLSI164EnableDualLinkMode(BOARDHANDLE* h, uint32_t index) {
  if (HalFailed(h->status)) return h->status;
  switch (Kind(h, index)) {
    case kSiKind164:
    case kSiKind164B:
      Modify(h, index, kSiRegControl, static_cast<uint8_t>(~kControlDualLink), 0);
      break;
    case kSiKind1178: Modify(h, index, kSiRegDualLink1178, 0xFF, kDualLink1178); break;
    default: break;
  }
  return h->status;
}

HALSTATUS HSLSI164DisableDualLinkMode(BOARDHANDLE* h, uint32_t index) {
  if (HalFailed(h->status)) return h->status;
  if (Kind(h, index) == kSiKind1178)
    Modify(h, index, kSiRegDualLink1178, static_cast<uint8_t>(~kDualLink1178), 0);
  return h->status;
}
