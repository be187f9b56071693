#include "hwsharing/encoders/velan.h"

#include <cstring>
#include <initializer_list>

#include "core/regs/video_port.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/cve2_encoder.h"

namespace {

constexpr uint32_t kVlnRefKHz = 27000;
constexpr uint32_t kVlnMaxM = 13;
constexpr uint32_t kVlnMaxN = 126;
constexpr uint32_t kVlnFirstP = 7;
constexpr uint64_t kVlnMaxPClock = 220000000;
// VCO ranges: below 100 MHz, below 140 MHz, up to 179.999 MHz, above.
constexpr uint32_t kVlnRangeLimitKHz[] = {100000, 140000, 180000};
constexpr uint32_t kVlnGammaBit7MaxLevel = 9;

}  // namespace

VLNPLL VlnComputePll(uint32_t clockKHz) {
  // The post divider starts one step below 7; the reduction below only
  // fires for clocks above 55 GHz, so kHz clocks always try P = 3, then 1.
  uint32_t p = (kVlnFirstP - 1) / 2;
  while (p > 0 && static_cast<uint64_t>(p + 1) * clockKHz > kVlnMaxPClock) p = (p - 1) / 2;
  VLNPLL best{0, 0, 0, 0};
  uint32_t bestDiff = UINT32_MAX;
  for (; p > 0; p = (p - 1) / 2) {
    for (uint32_t m = 1; m <= kVlnMaxM; ++m) {
      for (uint32_t n = 1; n <= kVlnMaxN; ++n) {
        const uint32_t f = kVlnRefKHz * (n + 1) / ((p + 1) * (m + 1));
        const uint32_t diff = f > clockKHz ? f - clockKHz : clockKHz - f;
        if (diff < bestDiff) {
          bestDiff = diff;
          best = VLNPLL{m, n, p, 0};
        }
      }
    }
  }
  const uint32_t vco = kVlnRefKHz * (best.n + 1) / (best.m + 1);
  best.range = 0;
  while (best.range < 3 && vco >= kVlnRangeLimitKHz[best.range]) ++best.range;
  return best;
}

void VlnPackGamma(uint32_t level, const VLNGAMMA& gamma, uint8_t (&regs)[kVlnGammaRegisters]) {
  const uint32_t* g = gamma.aulG;
  auto byte = [](uint32_t v) { return static_cast<uint8_t>(v); };
  regs[0] = byte((g[6] & 0x7F) | (level <= kVlnGammaBit7MaxLevel ? 0x80 : 0));
  regs[1] = byte(g[10]);
  regs[2] = byte(g[13]);
  regs[3] = byte((g[2] & 0xF) | (g[0] << 4));
  regs[4] = byte((g[4] & 7) | ((g[1] & 4) << 3) | (g[3] << 4));
  regs[5] = byte((g[8] & 7) | ((g[1] & 2) << 3) | (g[7] << 4));
  regs[6] = byte((g[12] & 7) | ((g[1] & 1) << 3) | (g[11] << 4));
  regs[7] = byte(g[5]);
  regs[8] = byte(g[9]);
}

int32_t VlnAdjustWord(const MODEINFO* mode, unsigned word) {
  int32_t v = 0;
  std::memcpy(&v, mode->acTvAdjust[word & 3], sizeof(v));
  return v;
}

void SetVlnAdjustWord(MODEINFO* mode, unsigned word, int32_t value) {
  std::memcpy(mode->acTvAdjust[word & 3], &value, sizeof(value));
}

bool VlnNoAdjustment(const MODEINFO* mode) {
  for (unsigned i = 0; i < 4; ++i)
    if (VlnAdjustWord(mode, i) != -1) return false;
  return true;
}

// ---- Board-handle operations --------------------------------------------------------

bool VlnRegisterTransfer(BOARDHANDLE* h, const I2cTarget& t, uint32_t reg, uint8_t* data,
                         uint32_t count, bool read) {
  bool ok = I2cStep(h, t, kI2cOpWrite, read ? t.address | 1 : t.address, kI2cStart | kI2cAck) &&
            I2cStep(h, t, kI2cOpWrite, reg, kI2cAck);
  for (uint32_t i = 0; ok && i < count; ++i) {
    const bool last = i + 1 == count;
    if (read)
      ok = I2cStep(h, t, kI2cOpRead, 0, last ? (kI2cNak | kI2cStop) : kI2cAck, &data[i]);
    else
      ok = I2cStep(h, t, kI2cOpWrite, data[i], last ? (kI2cStop | kI2cAck) : kI2cAck);
  }
  if (!ok) I2cSendStop(h, t, read);
  return ok;
}

namespace {

const VLNFUNCTIONS& Vln(const BOARDHANDLE* h) { return *h->pVLNFunctions; }

constexpr uint32_t kVlnPort = 1;
constexpr unsigned kVlnAttempts = 3;

// One attempt: the Velan at its add-on address on port 1.
bool VlnAttempt(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count, bool read) {
  const I2cTarget t = I2cOpen(h, kVlnPort, AddOn(h, kAddOnVelanAddress));
  const bool ok = VlnRegisterTransfer(h, t, reg, data, count, read);
  if (!ok) SetError(h, read ? kErrVlnI2cRead : kErrVlnI2cWrite);
  I2cClose(h);
  return ok;
}

HALSTATUS VlnTransfer(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count, bool read) {
  if (HalFailed(h->status) || count == 0) return h->status;
  // Each attempt starts from a clear status; the last one's status stands.
  for (unsigned attempt = 0; attempt < kVlnAttempts; ++attempt) {
    h->status = kHalOk;
    VlnAttempt(h, reg, data, count, read);
    if (!HalFailed(h->status)) break;
  }
  return h->status;
}

constexpr uint32_t kSecondHd15Port = 1;

// Pixel-depth correction of the horizontal start.
int32_t DepthCorrection(uint32_t bpp) {
  switch (bpp) {
    case 15:
    case 16: return 10;
    case 24: return 14;
    case 32: return 15;
    default: return 0;
  }
}

struct ModeSize {
  uint32_t w, h;
};
constexpr ModeSize kVlnSizes[] = {{640, 400}, {640, 480}, {720, 480},
                                  {720, 576}, {800, 600}, {1024, 768}};

constexpr uint32_t kVlnWideMode = 800;
constexpr uint32_t kVlnVersionNarrowBorder = 19;
constexpr uint32_t kVlnMaxScaledWidth = 92288;  // width x scale
constexpr uint32_t kVlnScaledLimit = 92160;

constexpr uint8_t kCableBits[][2] = {{1, 2}, {5, 0}, {7, 5}, {8, 1}};

}  // namespace

uint8_t VlnRead8(BOARDHANDLE* h, uint8_t reg) {
  uint8_t v = 0;
  h->pVLNFunctions->I2CRead(h, reg, &v, 1);
  return v;
}
void VlnWrite8(BOARDHANDLE* h, uint8_t reg, uint32_t value) {
  uint8_t v = static_cast<uint8_t>(value);
  h->pVLNFunctions->I2CWrite(h, reg, &v, 1);
}
void VlnWrite16(BOARDHANDLE* h, uint8_t reg, uint32_t value) {
  uint8_t v[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  h->pVLNFunctions->I2CWrite(h, reg, v, 2);
}
uint32_t VlnRead16(BOARDHANDLE* h, uint8_t reg) {
  uint8_t v[2] = {};
  h->pVLNFunctions->I2CRead(h, reg, v, 2);
  return v[0] | (v[1] << 8);
}
void VlnModify8(BOARDHANDLE* h, uint8_t reg, uint8_t keep, uint8_t set) {
  VlnWrite8(h, reg, (VlnRead8(h, reg) & keep) | set);
}

HALSTATUS HSLVLNI2CRead(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count) {
  return VlnTransfer(h, reg, data, count, true);
}

HALSTATUS HSLVLNI2CWrite(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count) {
  return VlnTransfer(h, reg, data, count, false);
}

HALSTATUS HSLVLNI2CReadSecondHD15Module(BOARDHANDLE* h, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = 0;
  const bool ok = I2cByteTransferOnPort(h, kSecondHd15Port, AddOn(h, kAddOnSecondHd15Address), &v, true);
  *value = ok ? v : 0;
  return h->status;
}

HALSTATUS HSLVLNI2CWriteSecondHD15Module(BOARDHANDLE* h, uint8_t value) {
  if (HalFailed(h->status)) return h->status;
  I2cByteTransferOnPort(h, kSecondHd15Port, AddOn(h, kAddOnSecondHd15Address), &value, false);
  return h->status;
}

HALSTATUS HSLVLNSync(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  VlnWrite8(h, kVlnRegSync, 0x20);
  return h->status;
}

HALSTATUS HSLVLNEnableDataTransfer(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  VlnWrite8(h, kVlnRegDataTransfer, on ? 1 : 0);
  return h->status;
}

HALSTATUS HSLVLNResetVFCIInterface(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  VlnWrite8(h, kVlnRegVfciReset, 1);
  VlnWrite8(h, kVlnRegVfciReset, 0);
  return h->status;
}

HALSTATUS HSLVLNReset(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t state = 0;
  Vln(h).GetGPIOOutputState(h, &state);
  Vln(h).SetGPIO(h, 1);
  uint8_t reset[2] = {0xFF, 0x1E};
  Vln(h).I2CWrite(h, kVlnRegReset8E, reset, 2);
  VlnWrite8(h, kVlnRegDetectC6, 1);
  Vln(h).SetGPIO(h, state != 0 ? 1 : 0);
  return h->status;
}

HALSTATUS HSLVLNValidateMode(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnValidateNoVelan);
  bool size = false;
  for (const ModeSize& s : kVlnSizes) size |= s.w == r->ulDispWidth && s.h == r->ulDispHeight;
  if (!size) return SetError(h, kErrVlnModeSize);
  if (r->ulZoom != 1) return SetError(h, kErrVlnModeZoom);
  if (r->ulDispWidth < r->ulDeskWidth || r->ulDispHeight < r->ulDeskHeight)
    return SetError(h, kErrVlnModeDesktop);
  return h->status;
}

HALSTATUS HSLVLNValidateVideoParameters(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  switch ((r->flSignalMode >> 4) & 0xF) {
    case 0:
      if (r->ulRefreshRate != 50) SetError(h, kErrVlnRefresh);
      break;
    case 1:
      if (r->ulRefreshRate != 60) SetError(h, kErrVlnRefresh);
      break;
    default:
      SetError(h, kErrVlnStandardUnknown);
      break;
  }
  return h->status;
}

HALSTATUS HSLVLNSetTVStandard(BOARDHANDLE* h, uint32_t standard) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnStandardNoVelan);
  if (standard > 1) return SetError(h, kErrVlnStandard);
  h->ucTvStandard = static_cast<uint8_t>(standard);
  if (h->ucTvModeState == kTvStateColorBars) Vln(h).SetTVColorBarMode(h);
  return h->status;
}

HALSTATUS HSLVLNSetTVCableType(BOARDHANDLE* h, uint32_t cable) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnCableNoVelan);
  uint8_t v = VlnRead8(h, kVlnRegCable) & 0xF8;
  bool known = false;
  for (const auto& c : kCableBits)
    if (c[0] == cable) {
      v |= c[1];
      known = true;
    }
  if (!known) SetError(h, kErrVlnCable);
  VlnWrite8(h, kVlnRegCable, v);
  if (!HalFailed(h->status)) h->ucTvCableType = static_cast<uint8_t>(cable);
  return h->status;
}

HALSTATUS HSLVLNDetectTV(BOARDHANDLE* h, uint32_t* detected) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) {
    h->ucTvDetected = 0;
    *detected = 0;
    return h->status;
  }
  const uint8_t a = VlnRead8(h, kVlnRegDetect3E);
  const uint8_t c = VlnRead8(h, kVlnRegDetectC6);
  if (a == 0 && c == 0) h->ucTvDetected = 15;
  if (h->ucTvModeState == kTvStateDisabled && a != 0) {
    Vln(h).Reset(h);
    uint8_t bytes[4] = {};
    Vln(h).ConvertToRegisterFormat(h, 0xA0, kCve2Kind8, bytes);
    Vln(h).I2CWrite(h, 0x35, bytes, 1);
    Vln(h).ConvertToRegisterFormat(h, 0xA0, kCve2Kind10, bytes);
    for (uint8_t reg : {uint8_t(0x10), uint8_t(0x0E), uint8_t(0x3C)})
      Vln(h).I2CWrite(h, reg, bytes, 2);
    VlnWrite16(h, kVlnRegTiming9A, VlnRead16(h, kVlnRegTimingA0) - 2);
    Vln(h).EnableDataTransfer(h, 1);
    VlnModify8(h, kVlnRegControlBF, 0xFF, 0x10);
    VlnWrite8(h, kVlnRegCable, 1);
    VlnWrite8(h, 0x0B, 0);
    VlnRead8(h, 0x06);
    VlnWrite8(h, 0x06, 0xF9);
    const uint8_t v = VlnRead8(h, kVlnRegSense) & 0x0F;
    Vln(h).Reset(h);
    if (!HalFailed(h->status)) h->ucTvDetected = static_cast<uint8_t>(~v & 0x0F);
  }
  *detected = (h->ucTvDetected != 0 && h->ucTvDetected != 7) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLVLNSetGPIODirect(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnGpioNoVelan);
  VlnModify8(h, kVlnRegControl8C, static_cast<uint8_t>(~0x40), 0);
  VlnModify8(h, kVlnRegGpio, static_cast<uint8_t>(~0x30), on ? 0x30 : 0x10);
  return h->status;
}

HALSTATUS HSLVLNSetGPIO(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  if (!on) return Vln(h).SetGPIODirect(h, 0);
  for (unsigned i = 0; i < 8; ++i) Vln(h).SetGPIODirect(h, i & 1);
  return h->status;
}

HALSTATUS HSLVLNGetGPIOOutputState(BOARDHANDLE* h, uint32_t* state) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnGpioStateNoVelan);
  const uint8_t v = VlnRead8(h, kVlnRegGpio);
  if (!HalFailed(h->status)) *state = v & 0x20;
  return h->status;
}

HALSTATUS HSLVLNSynchPol(BOARDHANDLE* h, uint32_t first, uint32_t second) {
  if (HalFailed(h->status)) return h->status;
  if (h->ulFeatures & kAddOnVelanB) {
    uint8_t v = 0;
    Vln(h).I2CReadSecondHD15Module(h, &v);
    v = static_cast<uint8_t>(first == 0 ? v | 0x08 : v & ~0x08);
    v = static_cast<uint8_t>(second == 0 ? v | 0x10 : v & ~0x10);
    return Vln(h).I2CWriteSecondHD15Module(h, v);
  }
  static constexpr uint32_t kSyncPolarityWaitUnits = 10000;
  Vln(h).SetGPIODirect(h, 1);
  RegWrite(h, kRegTvSyncPolarity, 2);
  Delay(h, kSyncPolarityWaitUnits);
  RegWrite(h, kRegTvSyncPolarity, 0);
  Delay(h, kSyncPolarityWaitUnits);
  const uint32_t pulses = first ? (second ? 0 : 3) : (second ? 1 : 2);
  for (uint32_t i = 0; i < pulses; ++i) {
    Vln(h).SetGPIODirect(h, 0);
    Vln(h).SetGPIODirect(h, 1);
  }
  return h->status;
}

HALSTATUS HSLVLNComputePLLParam(BOARDHANDLE* h, uint32_t clockKHz, uint32_t* m, uint32_t* n,
                                uint32_t* p, uint32_t* range) {
  if (HalFailed(h->status)) return h->status;
  const VLNPLL pll = VlnComputePll(clockKHz);
  *m = pll.m;
  *n = pll.n;
  *p = pll.p;
  *range = pll.range;
  return h->status;
}

HALSTATUS HSLVLNSetPLL(BOARDHANDLE* h, VLNTIMING* b) {
  if (HalFailed(h->status)) return h->status;
  VlnWrite8(h, kVlnRegPllM, b->aulWord[0]);
  VlnWrite8(h, kVlnRegPllN, b->aulWord[1]);
  VlnWrite8(h, kVlnRegPllP, b->aulWord[2]);
  return h->status;
}

HALSTATUS HSLVLNSetCRTC(BOARDHANDLE* h, MODEINFO* r, VLNTIMING* b) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t* w = b->aulWord;
  VlnWrite8(h, kVlnRegTiming90, w[3]);
  static constexpr struct {
    uint8_t reg;
    unsigned word;
  } kPairs[] = {{kVlnRegTiming91, 4},  {kVlnRegTiming9A, 5},  {kVlnRegTiming9C, 6},
                {kVlnRegTiming9E, 7},  {kVlnRegTimingA0, 8},  {kVlnRegTimingA2, 9},
                {kVlnRegTimingA4, 10}, {kVlnRegTimingA6, 11}, {kVlnRegTimingA8, 12},
                {kVlnRegTiming98, 13}, {kVlnRegTimingAE, 14}, {kVlnRegTiming96, 15}};
  for (const auto& p : kPairs) VlnWrite16(h, p.reg, w[p.word]);
  VlnWrite16(h, kVlnRegHStart, w[16] + static_cast<uint32_t>(DepthCorrection(r->ulBpp)));
  VlnWrite16(h, kVlnRegTimingAC, w[17]);
  VlnWrite8(h, kVlnRegTimingBE, w[18]);
  VlnWrite8(h, kVlnRegTimingC2, w[19]);
  return h->status;
}

HALSTATUS HSLVLNCalculateTVPosition(BOARDHANDLE* h, MODEINFO* r, VLNTIMING* b) {
  if (HalFailed(h->status)) return h->status;
  uint32_t* w = b->aulWord;
  const int64_t hoff = VlnAdjustWord(r, kVlnAdjustHOffset);
  const int64_t voff = VlnAdjustWord(r, kVlnAdjustVOffset);
  const int64_t third = VlnAdjustWord(r, kVlnAdjustThird);
  const int64_t width = r->ulDispWidth, height = r->ulDispHeight;
  const bool wide = r->ulDispWidth >= kVlnWideMode;
  const int64_t w3 = third + 64;
  w[3] = static_cast<uint32_t>(w3);
  w[5] = static_cast<uint32_t>(static_cast<int64_t>(w[6]) + hoff + 1);
  w[16] = static_cast<uint32_t>(width + (wide ? 8 : -2) + r->ulHFPorch + hoff - 32 +
                                DepthCorrection(r->ulBpp));
  w[17] = static_cast<uint32_t>(voff);
  int64_t w19 = (768 - w3 * (hoff + width) / 128) >> 1;
  if (wide)
    w19 -= 2;
  else if (VelanVersion(h) == kVlnVersionNarrowBorder)
    w19 += 1;
  w[19] = static_cast<uint32_t>(w19);
  int64_t w18 = ((((voff + height) * static_cast<int64_t>(w[4])) >> 15) - 256) >> 1;
  if (wide) w18 += 2;
  w[18] = static_cast<uint32_t>(w18);
  w[9] = static_cast<uint32_t>(voff + r->ulVSync + r->ulVBPorch + 1);
  int64_t w7 = width + hoff + (wide ? 20 : 12);
  if (w3 * w7 > kVlnMaxScaledWidth - 1 && w3 != 0) w7 = kVlnScaledLimit / w3;
  w[7] = static_cast<uint32_t>(w7);
  w[11] = r->ulVBPorch + 2;
  return h->status;
}

HALSTATUS HSLVLNValidateTVPosition(BOARDHANDLE* h, MODEINFO* r, VLNTIMING* b) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t* w = b->aulWord;
  const int64_t w16 = static_cast<int32_t>(w[16]);
  const int64_t limit16 = static_cast<int64_t>(r->ulDispWidth) + r->ulHBPorch + r->ulHFPorch +
                          r->ulHSync - 25 - (r->ulDispWidth < kVlnWideMode ? 10 : 0) +
                          DepthCorrection(r->ulBpp);
  const bool ok = w[3] >= 64 && w[3] <= 128 &&
                  static_cast<uint64_t>(r->ulDispWidth) * w[3] < kVlnMaxScaledWidth &&
                  w[4] <= 0x7FFF && w[19] < 256 && w[18] < 256 && w[5] <= 0xFFFF &&
                  w[9] <= 0xFFFF && w[7] <= 0xFFFF && w[8] >= w[7] && w[11] <= 0xFFFF &&
                  w[17] <= 0xFFFF && w16 >= 0 && w16 <= limit16;
  if (!ok) SetError(h, kErrVlnPosition);
  return h->status;
}

HALSTATUS HSLVLNAdjustTVPosition(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status) || VlnNoAdjustment(r)) return h->status;
  VLNTIMING b{};
  Vln(h).GetTimingParameters(h, h->ucTvStandard, r, &b);
  Vln(h).CalculateTVPosition(h, r, &b);
  Vln(h).ValidateTVPosition(h, r, &b);
  const uint32_t* w = b.aulWord;
  VlnWrite8(h, kVlnRegTiming90, w[3]);
  VlnWrite8(h, kVlnRegTimingC2, w[19]);
  VlnWrite8(h, kVlnRegTimingBE, w[18]);
  VlnWrite16(h, kVlnRegTiming9A, w[5]);
  VlnWrite16(h, kVlnRegTimingA2, w[9]);
  VlnWrite16(h, kVlnRegTiming9E, w[7]);
  VlnWrite16(h, kVlnRegTimingA6, w[11]);
  VlnWrite16(h, kVlnRegHStart, w[16]);
  VlnWrite16(h, kVlnRegTimingAC, w[17]);
  return h->status;
}

HALSTATUS HSLVLNModifyTVParameters(BOARDHANDLE* h, MODEINFO* r, uint32_t step) {
  if (HalFailed(h->status)) return h->status;
  if (VlnNoAdjustment(r)) SetError(h, kErrVlnStepNoAdjust);
  VLNTIMING b{};
  Vln(h).GetTimingParameters(h, h->ucTvStandard, r, &b);
  auto add = [r](unsigned word, int32_t delta) {
    SetVlnAdjustWord(r, word, VlnAdjustWord(r, word) + delta);
  };
  // Moves `amount` from one porch to the other when the source has that much.
  auto move = [h](uint32_t& from, uint32_t& to, uint32_t amount) {
    if (from < amount) {
      SetError(h, kErrVlnStep);
      return;
    }
    from -= amount;
    to += amount;
  };
  static constexpr int32_t kMaxVScaleStep = 5;
  switch (step) {
    case 13: add(kVlnAdjustHOffset, 4); break;
    case 14: add(kVlnAdjustHOffset, -4); break;
    case 15: add(kVlnAdjustVOffset, -2); break;
    case 16: add(kVlnAdjustVOffset, 2); break;
    case 17: add(kVlnAdjustThird, 1); break;
    case 19: add(kVlnAdjustThird, -1); break;
    case 18:
    case 20: {
      add(kVlnAdjustVScaleStep, step == 18 ? 1 : -1);
      const int32_t s = VlnAdjustWord(r, kVlnAdjustVScaleStep);
      if (step == 18 ? s > kMaxVScaleStep : s < 1) {
        SetError(h, kErrVlnStep);
      } else {
        Vln(h).GetVScaleTVParameters(h, r, h->ucTvStandard);
        Vln(h).GetTimingParameters(h, h->ucTvStandard, r, &b);
      }
      break;
    }
    case 24: case 35: move(r->ulHBPorch, r->ulHFPorch, 8); break;
    case 26: case 33: move(r->ulHFPorch, r->ulHBPorch, 8); break;
    case 27: case 38:
      if (r->ulVBPorch < 2) SetError(h, kErrVlnStep);
      else move(r->ulVBPorch, r->ulVFPorch, 1);
      break;
    case 29: case 36:
      if (r->ulVFPorch < 2) SetError(h, kErrVlnStep);
      else move(r->ulVFPorch, r->ulVBPorch, 1);
      break;
    default:
      SetError(h, (step == 0 || step > 38) ? kErrVlnStep : kErrVlnStepNoAdjust);
      break;
  }
  Vln(h).CalculateTVPosition(h, r, &b);
  Vln(h).ValidateTVPosition(h, r, &b);
  return h->status;
}

HALSTATUS HSLVLNApplyVrstPatch(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t hstart = VlnRead16(h, kVlnRegHStart);
  const uint32_t a = VlnRead16(h, kVlnRegTiming9A);
  const uint32_t b = VlnRead16(h, kVlnRegTiming9C);
  const uint32_t d = (hstart - (a > b ? a : b)) & 3;
  uint32_t f = d;
  if (r->flOutput & kOutModule1) {
    if (r->ulBpp == 15 || r->ulBpp == 16 || r->ulBpp == 32) f = 1;
  } else {
    switch (r->ulBpp) {
      case 8: f = 0; break;
      case 15: case 16: case 24: f = 2; break;
      case 32: f = 3; break;
      default: break;
    }
  }
  if ((r->flSignalMode & (0x8000000 | 0x2000000)) && r->ulDispWidth <= 640) f = d;
  VlnWrite16(h, kVlnRegHStart, hstart + f - d + (f < d ? 4 : 0));
  return h->status;
}

HALSTATUS HSLVLNSetGamma(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t level = p->aulValue[kProcAmpGamma] & 0xFF;
  VLNGAMMA g{};
  Vln(h).GetGammaParameters(h, level, &g);
  if (HalFailed(h->status)) return h->status;
  uint8_t regs[kVlnGammaRegisters] = {};
  VlnPackGamma(level, g, regs);
  Vln(h).I2CWrite(h, kVlnRegGamma, regs, kVlnGammaRegisters);
  VlnModify8(h, kVlnRegControl8D, static_cast<uint8_t>(~0x04), (level != 0 && level != 10) ? 0x04 : 0);
  return h->status;
}

HALSTATUS HSLVLNSetDeflicker(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  static constexpr uint8_t kDeflicker[] = {0x00, 0xB1, 0xA2};
  const uint32_t level = p->aulValue[kProcAmpDeflicker];
  // Levels above 2 have no register value: nothing is written.
  if (level < sizeof(kDeflicker)) VlnWrite8(h, kVlnRegDeflicker, kDeflicker[level]);
  return h->status;
}

HALSTATUS HSLVLNSetTextFilter(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  VlnModify8(h, kVlnRegControl8D, static_cast<uint8_t>(~0x08),
          (p->aulValue[kProcAmpFlags] & kProcAmpFlagTextFilter) ? 0x08 : 0);
  return h->status;
}

HALSTATUS HSLVLNSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* p, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnProcAmpNoVelan);
  if (mask == 0) mask = kVlnProcAmpAll;
  uint32_t* stored = h->oTvProcAmp.aulValue;
  const uint32_t* v = p->aulValue;
  if (mask & kVlnProcAmpFilters) {
    Vln(h).SetTextFilter(h, p);
    Vln(h).SetDotCrawlFreeze(h, p);
    Vln(h).SetOutputBW(h, p);
    if (!HalFailed(h->status)) stored[kProcAmpFlags] = v[kProcAmpFlags];
  }
  if (mask & kVlnProcAmpDeflicker) {
    Vln(h).SetDeflicker(h, p);
    if (!HalFailed(h->status)) stored[kProcAmpDeflicker] = v[kProcAmpDeflicker];
  }
  if (mask & kVlnProcAmpSaturation) {
    Vln(h).SetSaturation(h, p);
    if (!HalFailed(h->status)) stored[kProcAmpSaturation] = v[kProcAmpSaturation];
  }
  if (mask & kVlnProcAmpHue) {
    Vln(h).SetHue(h, p);
    if (!HalFailed(h->status)) stored[kProcAmpHue] = v[kProcAmpHue];
  }
  if (mask & (kVlnProcAmpBrightness | kVlnProcAmpContrast)) {
    if (mask == kVlnProcAmpBrightness) p->aulValue[kProcAmpContrast] = stored[kProcAmpContrast];
    if (mask == kVlnProcAmpContrast) p->aulValue[kProcAmpBrightness] = stored[kProcAmpBrightness];
    Vln(h).SetBrightness(h, p);
    if (!HalFailed(h->status)) {
      stored[kProcAmpBrightness] = v[kProcAmpBrightness];
      stored[kProcAmpContrast] = v[kProcAmpContrast];
    }
  }
  if (mask & kVlnProcAmpGamma) {
    Vln(h).SetGamma(h, p);
    if (!HalFailed(h->status)) stored[kProcAmpGamma] = v[kProcAmpGamma];
  }
  return h->status;
}
