// The Velan encoder's mode sequences: TV out from either controller, colour
// bars, pass-through, YUV / ITU-656, CRT out, the pixel PLL and disable.
// Each ends, when the status is still ok or a warning, by storing the TV
// mode state.
#include "hwsharing/encoders/velan.h"

#include "core/regs/video_port.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/cve2_encoder.h"

namespace {

const VLNFUNCTIONS& Vln(const BOARDHANDLE* h) { return *h->pVLNFunctions; }

// A byte converted through the encoder table's format slot.
void WriteFormatted8(BOARDHANDLE* h, uint8_t reg, uint32_t value) {
  uint8_t bytes[4] = {};
  Vln(h).ConvertToRegisterFormat(h, value, kCve2Kind8, bytes);
  Vln(h).I2CWrite(h, reg, bytes, 1);
}

// TV source routing through jump-table slots 32 and 33.
void Route(BOARDHANDLE* h, uint32_t code) {
  h->oJumpTable.Slot32(h, code);
  h->oJumpTable.Slot33(h, code);
}

void Store(BOARDHANDLE* h, uint8_t state) {
  if (!HalFailed(h->status)) h->ucTvModeState = state;
}

// Encoder parameters of the stored standard, reset, load.
void LoadEncoder(BOARDHANDLE* h, CVE2PARAMS* params) {
  Vln(h).GetEncoderParameters(h, h->ucTvStandard, params);
  Vln(h).Reset(h);
  Vln(h).SetEncoderRegister(h, params);
}

void OutputPath(BOARDHANDLE* h) {
  VlnModify8(h, kVlnRegGpio, static_cast<uint8_t>(~0x06), 0);
  VlnModify8(h, kVlnRegControlBF, 0xFF, 0x02);
}

// The YUV / ITU-656 path once the encoder registers are loaded: data
// transfer on, PLL byte 0xA0, the input selection (with register 0xD3's
// low bits when asked), the mode byte and register 0x33.
void YuvPath(BOARDHANDLE* h, bool selectInput, uint8_t mode94, uint32_t byte33) {
  Vln(h).EnableDataTransfer(h, 1);
  VlnWrite8(h, kVlnRegPllP, 0xA0);
  if (selectInput) VlnModify8(h, kVlnRegD3, 0xFC, 0x01);
  VlnModify8(h, kVlnRegControl8C, 0x0F, 0x10);
  VlnModify8(h, kVlnRegMode94, 0x0F, mode94);
  WriteFormatted8(h, 0x33, byte33);
  VlnModify8(h, kVlnRegControl8D, 0x08, 0x03);
  OutputPath(h);
}

// Proc-amp and cable from the handle, the YUV route, then the encoder on.
void YuvFinish(BOARDHANDLE* h) {
  Vln(h).SetTVProcAmp(h, &h->oTvProcAmp, 0);
  Vln(h).SetTVCableType(h, h->ucTvCableType);
  Route(h, kTvRouteYuv);
  VlnWrite8(h, kVlnRegPllP, 0x20);
  Vln(h).EnableEncoder(h, 1);
  Store(h, kTvStateYuv);
}

uint32_t RoundDown8(uint32_t v) { return v & ~7u; }

// The timing block of a monitor mode: CRT out and the pixel PLL.
struct MonitorTiming {
  uint32_t hfp, hs, hbp, w, h, vfp, vs, vbp, htotal, vtotal;
};
MonitorTiming TimingOf(const MODEINFO* r, bool roundPorches) {
  MonitorTiming t{};
  t.hfp = roundPorches ? RoundDown8(r->ulHFPorch) : r->ulHFPorch;
  t.hs = roundPorches ? RoundDown8(r->ulHSync) : r->ulHSync;
  t.hbp = roundPorches ? RoundDown8(r->ulHBPorch) : r->ulHBPorch;
  t.w = r->ulDispWidth;
  t.h = r->ulDispHeight;
  t.vfp = r->ulVFPorch;
  t.vs = r->ulVSync;
  t.vbp = r->ulVBPorch;
  t.htotal = t.hs + t.hbp + t.w + t.hfp;
  t.vtotal = t.vs + t.vbp + t.h + t.vfp;
  return t;
}

void FillMonitorBlock(const MonitorTiming& t, uint32_t m, uint32_t n, uint32_t p, uint32_t s,
                      VLNTIMING* b) {
  uint32_t* w = b->aulWord;
  w[0] = m;
  w[1] = n;
  w[2] = p | ((s * 8) & 0xFF) | 0x80 | ((s >> 5) << 8);
  w[3] = w[4] = 0;
  w[5] = t.hs;
  w[6] = t.hs + t.hbp - 4;
  w[7] = t.hs + t.hbp + t.w;
  w[8] = w[15] = RoundDown8(t.htotal + 1) - 2;
  w[9] = t.vs - 1;
  w[10] = t.vs + t.vbp;
  w[11] = t.vs + t.vbp + t.h;
  w[12] = t.vtotal - 1;
  w[13] = w[14] = 0;
  w[16] = t.htotal - 34;
  w[17] = t.vtotal - 2;
  w[18] = 46;
  w[19] = 0;
}

constexpr uint32_t kPllKindPixel = 0;
constexpr uint32_t kPllKindVelan = 2;
constexpr uint32_t kOutputSecondModule = 0x00080000;

// ITU-656 input formats of the second controller.
struct Itu656Format {
  uint32_t bpp[2];
  uint32_t bits21;
  uint32_t low3C4C;
  uint32_t pitchFactor;
};
constexpr Itu656Format kItu656Formats[] = {
    {{15, 15}, 1, 0, 2},           {{16, 16}, 2, 0, 2},           {{32, 32}, 4, 0, 4},
    {{0x10000, 0x10000}, 4, 0, 4}, {{0x20000, 0x30000}, 7, 7, 2}, {{0x40000, 0x40000}, 5, 135, 2},
    {{0x50000, 0x50000}, 5, 7, 2}, {{0x60000, 0x60000}, 4, 0, 2}, {{0x70000, 0x80000}, 7, 7, 1},
    {{0x90000, 0x90000}, 5, 135, 1}, {{0xA0000, 0xA0000}, 5, 7, 1},
};
constexpr Itu656Format kItu656Other = {{0, 0}, 0, 0, 1};


HALSTATUS TvOut(BOARDHANDLE* h, MODEINFO* r, uint32_t route) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnTvOutNoVelan);
  const uint8_t standard = static_cast<uint8_t>((r->flSignalMode >> 4) & 0xF);
  if (standard != h->ucTvStandard) h->ucTvStandard = standard;
  Vln(h).EnableEncoder(h, 0);
  Route(h, route);
  CVE2PARAMS params{};
  VLNTIMING block{};
  Vln(h).GetEncoderParameters(h, standard, &params);
  Vln(h).GetTimingParameters(h, standard, r, &block);
  Vln(h).Reset(h);
  Vln(h).SetEncoderRegister(h, &params);
  Vln(h).EnableDataTransfer(h, 1);
  VlnModify8(h, kVlnRegCable, 0x07, 0x08);
  OutputPath(h);
  VlnModify8(h, kVlnRegMode94, 0x0F, 0xB1);
  Vln(h).SetPLL(h, &block);
  VlnWrite8(h, kVlnRegControl8C, 0x20);
  VlnModify8(h, kVlnRegControl8D, 0x0C, 0);
  Vln(h).SetCRTC(h, r, &block);
  Vln(h).SetTVProcAmp(h, &h->oTvProcAmp, 0);
  Vln(h).SetTVCableType(h, h->ucTvCableType);
  Vln(h).AdjustTVPosition(h, r);
  Vln(h).EnableEncoder(h, 1);
  Vln(h).Sync(h);
  Vln(h).ApplyVrstPatch(h, r);
  Store(h, kTvStateTvOut);
  return h->status;
}

}  // namespace

HALSTATUS HSLVLNSetTVOutMode(BOARDHANDLE* h, MODEINFO* r) {
  return TvOut(h, r, kTvRouteFirstController);
}

HALSTATUS HSLVLNSetTVOutModeCRTC2(BOARDHANDLE* h, MODEINFO* r) {
  return TvOut(h, r, kTvRouteSecondController);
}

HALSTATUS HSLVLNSetTVColorBarMode(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnColorBarNoVelan);
  CVE2PARAMS params{};
  VLNTIMING block{};
  Vln(h).EnableEncoder(h, 0);
  Vln(h).GetEncoderParameters(h, h->ucTvStandard, &params);
  Vln(h).GetColorBarTimingParameters(h, h->ucTvStandard, &block);
  Vln(h).Reset(h);
  Vln(h).SetEncoderRegister(h, &params);
  Vln(h).EnableEncoder(h, 1);
  Vln(h).EnableDataTransfer(h, 1);
  VlnModify8(h, kVlnRegCable, 0x07, 0);
  OutputPath(h);
  VlnModify8(h, kVlnRegMode94, 0x0F, 0x80);
  Vln(h).SetPLL(h, &block);
  VlnWrite8(h, kVlnRegControl8C, 0x20);
  VlnModify8(h, kVlnRegControl8D, 0x0C, 0x10);
  Vln(h).SetCRTC(h, &h->aModeInfo[0], &block);
  Vln(h).SetTVProcAmp(h, &h->oTvProcAmp, 0);
  Vln(h).SetTVCableType(h, h->ucTvCableType);
  Vln(h).Sync(h);
  Route(h, kTvRouteOff);
  Store(h, kTvStateColorBars);
  return h->status;
}

HALSTATUS HSLVLNSetTVPassThroughMode(BOARDHANDLE* h, uint32_t master) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnPassThroughNoVelan);
  Route(h, kTvRoutePassThrough);
  Vln(h).EnableEncoder(h, 0);
  CVE2PARAMS params{};
  LoadEncoder(h, &params);
  Vln(h).EnableDataTransfer(h, 1);
  if (master) VlnWrite8(h, kVlnRegD3, 0);
  const uint8_t mode94 = static_cast<uint8_t>((VlnRead8(h, kVlnRegMode94) & 0x0F) | (master ? 0xC0 : 0x80));
  VlnWrite8(h, kVlnRegMode94, mode94);
  VlnWrite8(h, kVlnRegPllP, master ? mode94 : 0x20);
  WriteFormatted8(h, 0x33, 0x15);
  VlnModify8(h, kVlnRegControl8D, 0x08, 0x03);
  OutputPath(h);
  Vln(h).EnableEncoder(h, 1);
  Vln(h).SetTVProcAmp(h, &h->oTvProcAmp, 0);
  Vln(h).SetTVCableType(h, h->ucTvCableType);
  Vln(h).ResetVFCIInterface(h);
  Store(h, master ? kTvStatePassThroughMaster : kTvStatePassThrough);
  return h->status;
}

HALSTATUS HSLVLNSetTVYUVMode(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnYuvNoVelan);
  Vln(h).EnableEncoder(h, 0);
  CVE2PARAMS params{};
  LoadEncoder(h, &params);
  YuvPath(h, true, 0xA0, 0x15);
  YuvFinish(h);
  return h->status;
}

HALSTATUS HSLVLNSetTVYUVModeKalvoRev0(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnYuvNoVelan);
  Vln(h).EnableEncoder(h, 0);
  CVE2PARAMS params{};
  LoadEncoder(h, &params);
  YuvPath(h, false, 0xB0, 0x15);
  Vln(h).EnableEncoder(h, 1);
  Vln(h).SetTVProcAmp(h, &h->oTvProcAmp, 0);
  Vln(h).SetTVCableType(h, h->ucTvCableType);
  const bool ntsc = h->ucTvStandard == 1;
  if (ntsc) {
    static constexpr uint32_t kNtscLine = 1714;
    VlnWrite16(h, kVlnRegTimingA0, kNtscLine);
    VlnWrite16(h, kVlnRegTiming96, kNtscLine);
    VlnModify8(h, kVlnRegCable, 0x7F, 0);
    VlnModify8(h, kVlnRegControl8C, static_cast<uint8_t>(~0x10), 0);
  }
  VlnModify8(h, kVlnRegVfciReset, static_cast<uint8_t>(~0x02), ntsc ? 0x02 : 0);
  if (ntsc) Vln(h).Sync(h);
  Route(h, kTvRouteYuv);
  Vln(h).ResetVFCIInterface(h);
  Store(h, kTvStateYuv);
  return h->status;
}

HALSTATUS HSLVLNSetTVDisableMode(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnDisableNoVelan);
  const uint8_t a = VlnRead8(h, kVlnRegDetect3E);
  const uint8_t bf = VlnRead8(h, kVlnRegControlBF);
  if (a == 0 || bf != 0) {
    Vln(h).EnableEncoder(h, 0);
    const uint8_t p = VlnRead8(h, kVlnRegPllP);
    if (!(p & 0x80)) VlnWrite8(h, kVlnRegPllP, p | 0x80);
    VlnWrite8(h, kVlnRegControl8C, 0);
    VlnModify8(h, kVlnRegMode94, 0x0F, 0xA0);
    Route(h, kTvRouteOff);
    Vln(h).Reset(h);
  }
  Store(h, kTvStateDisabled);
  return h->status;
}

HALSTATUS HSLVLNSetCRTOutMode(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  MODEINFO rounded = *r;
  const MonitorTiming t = TimingOf(r, true);
  rounded.ulHFPorch = t.hfp;
  rounded.ulHSync = t.hs;
  rounded.ulHBPorch = t.hbp;
  Vln(h).Reset(h);
  VlnRead8(h, kVlnRegCable);
  VlnWrite8(h, kVlnRegCable, 3);
  VlnModify8(h, kVlnRegGpio, static_cast<uint8_t>(~0x06), 0x02);
  VlnModify8(h, kVlnRegControlBF, 0xFF, 0x22);
  VlnModify8(h, kVlnRegControl8D, 0x0C, 0);
  VlnWrite8(h, kVlnRegControl8C, 0x20);
  VlnModify8(h, kVlnRegMode94, 0x0F, 0xB0);
  uint32_t m = 0, n = 0, p = 0, s = 0;
  HSLDACComputePLLParam(h, r->ulPixClock, kPllKindVelan, &m, &n, &p, &s);
  VLNTIMING block{};
  FillMonitorBlock(t, m, n, p, s, &block);
  Vln(h).SetPLL(h, &block);
  Vln(h).SetCRTC(h, &rounded, &block);
  Vln(h).EnableDataTransfer(h, 1);
  Route(h, (r->flOutput & kOutputSecondModule) ? kTvRouteSecondController
                                               : kTvRouteFirstController);
  Vln(h).ApplyVrstPatch(h, &rounded);
  Store(h, kTvStateCrtOut);
  return h->status;
}

HALSTATUS HSLVLNPIXPLLSET(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  if (!VelanPresent(h)) return SetError(h, kErrVlnPixPllNoVelan);
  Vln(h).Reset(h);
  uint32_t m = 0, n = 0, p = 0, s = 0;
  HSLDACComputePLLParam(h, r->ulPixClock, kPllKindPixel, &m, &n, &p, &s);
  const MonitorTiming t = TimingOf(r, false);
  VLNTIMING block{};
  FillMonitorBlock(t, m, n, p, s, &block);
  block.aulWord[8] = t.htotal + 1;
  block.aulWord[9] = 14;
  block.aulWord[15] = t.htotal;
  Vln(h).SetPLL(h, &block);
  Vln(h).SetCRTC(h, r, &block);
  Vln(h).EnableDataTransfer(h, 1);
  VlnWrite8(h, kVlnRegControl8C, 0x20);
  VlnModify8(h, kVlnRegMode94, 0x0F, 0xA0);
  Store(h, kTvStatePixPll);
  return h->status;
}

HALSTATUS HSLVLNCRTC2SetITU656(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  CVE2ITU656 itu{};
  Vln(h).GetCVE2ITU656Parameters(h, r, &itu);
  if (HalFailed(h->status)) return h->status;
  const uint32_t* rr = itu.aulR;
  const Itu656Format* f = &kItu656Other;
  for (const Itu656Format& g : kItu656Formats)
    if (r->ulBpp == g.bpp[0] || r->ulBpp == g.bpp[1]) f = &g;
  const uint32_t control = Itu656InputFormat::Set(RegRead(h, kRegItu656Control), f->bits21);
  const uint32_t pixels = (RegRead(h, kRegItu656Pixels) & ~0xFFu) | f->low3C4C;
  RegWrite(h, kRegItu656Control, control);
  RegWrite(h, kRegItu656Pixels, pixels);
  RegWrite(h, kRegItu656H, (rr[0] << 16) | rr[1]);
  RegWrite(h, kRegItu656H2, 0);
  RegWrite(h, kRegItu656V, (rr[2] << 16) | rr[3]);
  RegWrite(h, kRegItu656V2, 0);
  RegWrite(h, kRegItu656Pitch, r->ulFBPitch * f->pitchFactor);
  RegWrite(h, kRegItu656Lines, Itu656Lines::Set(RegRead(h, kRegItu656Lines), rr[2] + 2));
  Vln(h).EnableEncoder(h, 0);
  CVE2PARAMS params{};
  Vln(h).GetEncoderParameters(h, h->ucTvStandard, &params);
  params.aulWord[7] = rr[4];
  params.aulWord[2] = rr[5];
  params.aulWord[4] = rr[6];
  Vln(h).SetEncoderRegister(h, &params);
  YuvPath(h, true, 0xA0, rr[7]);
  YuvFinish(h);
  return h->status;
}
