// CRTC programming of controller 0.
#include "hwsharing/chip/crtc.h"

#include <cstdlib>

#include "core/regs/memctl.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/vga.h"

namespace {

constexpr uint32_t kScreenSettleUnits = 10;

uint32_t Bit(uint32_t v, uint32_t n) { return (v >> n) & 1; }

bool Interlaced(const MODEINFO* m) { return (m->flSignalMode & 0x1) != 0; }

// Bits per pixel for the offset register (15 counts as 16).
uint32_t PitchBits(uint32_t bpp) { return bpp == 15 ? 16 : bpp; }

// Extension 3's value for a depth: high resolution plus bytes per pixel - 1.
uint8_t ModeByte(uint32_t bpp) {
  switch (bpp) {
    case 15:
    case 16:
      return 0x81;
    case 24:
      return 0x82;
    case 32:
      return 0x83;
    default:
      return 0x80;
  }
}

uint32_t ScreenOn(BOARDHANDLE* h) {
  uint32_t on = 0;
  h->pMDACFunctions->ScreenState(h, &on);
  return on;
}

}  // namespace

HALSTATUS HSLCRTUseLineDoubling(BOARDHANDLE* h, MODEINFO* mode, uint32_t* doubled) {
  if (HalFailed(h->status)) return h->status;
  *doubled = 0;
  if (Interlaced(mode)) return h->status;
  const uint64_t htotal =
      uint64_t{mode->ulHFPorch} + mode->ulDispWidth + mode->ulHSync + mode->ulHBPorch;
  const uint64_t vtotal2 =
      uint64_t{mode->ulVFPorch} + 2ull * mode->ulDispHeight + mode->ulVSync + mode->ulVBPorch;
  if (htotal != 0 && vtotal2 != 0) {
    const uint64_t rate = uint64_t{mode->ulPixClock} * 1000 / htotal / vtotal2;
    const uint64_t want = mode->ulRefreshRate;
    *doubled = (rate > want ? rate - want : want - rate) <= kLineDoublingToleranceHz ? 1 : 0;
  }
  if (*doubled)
    mode->flSignalMode |= 0x100;
  else
    mode->flSignalMode &= ~0x100u;
  return h->status;
}

HALSTATUS HSLCRTCSet(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->ulDispWidth;
  const uint32_t hb = mode->ulHBorder, vb = mode->ulVBorder;
  const uint32_t hfp = mode->ulHFPorch, hsync = mode->ulHSync, hbp = mode->ulHBPorch;
  uint32_t vfp = mode->ulVFPorch, vsync = mode->ulVSync, vbp = mode->ulVBPorch;
  uint32_t v = mode->ulDispHeight;
  uint8_t modeControl = kModeControlNormal;
  if (v >= kTallModeLines) {
    v /= 2;
    vfp /= 2;
    vsync /= 2;
    vbp /= 2;
    modeControl = kModeControlTall;
  }
  const bool interlaced = Interlaced(mode);
  if (interlaced) v /= 2;
  uint32_t doubled = 0;
  h->pCRTCFunctions->UseLineDoubling(h, mode, &doubled);
  if (doubled) v *= 2;

  const uint32_t ht = (w + 2 * hb + hfp + hbp + hsync) / 8 - 5;
  const uint32_t hde = w / 8 - 1;
  const uint32_t hbs = hde + hb / 8;
  const uint32_t hss = hbs + hfp / 8;
  const uint32_t hse = hss + hsync / 8;
  const uint32_t hbe = hbs + (hfp + hsync + hbp) / 8;
  const uint32_t vde = v - 1;
  const uint32_t vbs = vde + vb;
  const uint32_t vss = vbs + vfp;
  const uint32_t vse = vss + vsync;
  const uint32_t vbe = vbs + vfp + vbp + vsync;
  const uint32_t vt = v + 2 * vb + vfp + vbp + vsync - 2;

  SetVgaCrtc(h, kCrtcVSyncEnd, VgaCrtc(h, kCrtcVSyncEnd) & ~kCrtcProtect);
  SetVgaCrtc(h, kCrtcHTotal, ht);
  // At 24 bits per pixel the chip needs 107 where the arithmetic gives 106.
  SetVgaCrtc(h, kCrtcHDisplayEnd, mode->ulBpp == 24 && hde == 106 ? 107 : hde);
  SetVgaCrtc(h, kCrtcHBlankStart, hbs);
  SetVgaCrtc(h, kCrtcHBlankEnd, hbe & 0x1F);
  SetVgaCrtc(h, kCrtcHSyncStart, hss);
  SetVgaCrtc(h, kCrtcHSyncEnd, (hse & 0x1F) | ((hbe & 0x20) << 2));
  SetVgaCrtc(h, kCrtcVTotal, vt);
  SetVgaCrtc(h, kCrtcOverflow, Bit(vt, 8) | Bit(vde, 8) << 1 | Bit(vss, 8) << 2 | Bit(vbs, 8) << 3 |
                                Bit(vt, 9) << 5 | Bit(vde, 9) << 6 | Bit(vss, 9) << 7);
  SetVgaCrtc(h, kCrtcPresetRowScan, 0);
  SetVgaCrtc(h, kCrtcMaxScanLine, Bit(vbs, 9) << 5 | (doubled ? 1 : 0));
  SetVgaCrtc(h, kCrtcVSyncStart, vss);
  SetVgaCrtc(h, kCrtcVSyncEnd, (VgaCrtc(h, kCrtcVSyncEnd) & 0xF0) | (vse & 0x0F));
  SetVgaCrtc(h, kCrtcVDisplayEnd, vde);
  SetVgaCrtc(h, kCrtcVBlankStart, vbs);
  SetVgaCrtc(h, kCrtcVBlankEnd, vbe);
  SetVgaCrtc(h, kCrtcModeControl, modeControl);
  SetVgaCrtc(h, kCrtcLineCompare, 0);

  const uint8_t ext0 = VgaCrtcExt(h, kCrtcExtAddress);
  SetVgaCrtcExt(h, kCrtcExtAddress, interlaced ? ext0 | kExt0Interlace : ext0 & ~kExt0Interlace);
  uint32_t ext1 = Bit(ht, 8) | Bit(hbs, 8) << 1 | Bit(hss, 8) << 2 | Bit(hbe, 6) << 6;
  if ((h->oBoardInfo.ulBoardWord2 & 0xFF) == kBoardInfoResetEnable)
    ext1 |= kExt1HReset | kExt1VReset;
  SetVgaCrtcExt(h, kCrtcExtHorizontal, ext1);
  SetVgaCrtcExt(h, kCrtcExtVertical, ((vt >> 10) & 3) | Bit(vde, 10) << 2 | ((vbs >> 10) & 3) << 3 |
                                  ((vss >> 10) & 3) << 5);
  SetVgaCrtcExt(h, kCrtcExtMode, ModeByte(mode->ulBpp));
  const uint32_t half =
      interlaced ? ((hfp + w + hbp) / 8 * 10 + 5) / (HorizontalZoom(mode->ulZoom) * 20) : 0;
  SetVgaCrtcExt(h, kCrtcExtHalfCount, half);
  return h->status;
}

HALSTATUS HSLCRTCLock(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  SetVgaCrtc(h, kCrtcVSyncEnd, VgaCrtc(h, kCrtcVSyncEnd) | kCrtcProtect);
  return h->status;
}

HALSTATUS HSLCRTCUnLock(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  RegWriteByte(h, kVgaMiscOutWrite, RegReadByte(h, kVgaMiscOutRead));
  SetVgaCrtc(h, kCrtcVSyncEnd, VgaCrtc(h, kCrtcVSyncEnd) & ~kCrtcProtect);
  return h->status;
}

HALSTATUS HSLCRTCSetDisplayStart(BOARDHANDLE* h, uint32_t x, uint32_t y) {
  if (HalFailed(h->status)) return h->status;
  MODEINFO& m0 = h->aModeInfo[0];
  const uint64_t pixels = uint64_t{x} + uint64_t{y} * m0.ulFBPitch + m0.ulDisplayOrg;
  uint64_t addr;
  switch (m0.ulBpp) {
    case 15:
    case 16:
      addr = pixels / 4;
      break;
    case 24:
      addr = pixels * 3 / 8;
      break;
    case 32:
      addr = pixels / 2;
      break;
    default:
      addr = pixels / 8;
      break;
  }
  SetVgaCrtc(h, kCrtcStartLow, addr);
  SetVgaCrtc(h, kCrtcStartHigh, addr >> 8);
  const uint8_t ext0 = VgaCrtcExt(h, kCrtcExtAddress);
  SetVgaCrtcExt(h, kCrtcExtAddress, (ext0 & 0xB0) | ((addr >> 16) & kExt0StartHigh) |
                                 ((addr & (1u << 20)) ? kExt0StartBit20 : 0));
  if (!HalFailed(h->status)) {
    m0.ulDisplayStartX = x;
    m0.ulDisplayStartY = y;
  }
  return h->status;
}

HALSTATUS HSLCRTCSetPitch(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t off = mode->ulFBPitch * PitchBits(mode->ulBpp) / 128;
  if (mode->flOutput & 0x10000) off *= 2;
  if (Interlaced(mode)) off *= 2;
  SetVgaCrtc(h, kCrtcOffset, off);
  // Written once more when it does not read back.
  if (VgaCrtc(h, kCrtcOffset) != static_cast<uint8_t>(off)) SetVgaCrtc(h, kCrtcOffset, off);
  const uint8_t ext0 = VgaCrtcExt(h, kCrtcExtAddress);
  SetVgaCrtcExt(h, kCrtcExtAddress, (ext0 & 0xCF) | ((off >> 4) & kExt0PitchHigh));
  h->aModeInfo[0].ulFBPitch = mode->ulFBPitch;
  return h->status;
}

HALSTATUS HSLCRTCSelectHiresMode(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t ext3 = VgaCrtcExt(h, kCrtcExtMode);
  if (ext3 & kExt3Hires) return h->status;
  const uint32_t on = ScreenOn(h);
  h->pMDACFunctions->ScreenOff(h);
  Delay(h, kScreenSettleUnits);
  SetVgaCrtcExt(h, kCrtcExtMode, ext3 | kExt3Hires);
  RegWriteByte(h, kVgaMiscOutWrite,
            (RegReadByte(h, kVgaMiscOutRead) & ~kVgaMiscRamEnable) | kVgaMiscIoAddress);
  SetVgaSeq(h, kVgaSeqClocking, kVgaSeqScreenOff);
  if (on) h->pMDACFunctions->ScreenOn(h);
  return h->status;
}

HALSTATUS HSLCRTCSetPriorityRequest(BOARDHANDLE* h) {
  const uint32_t on = ScreenOn(h);
  const int64_t s = VgaCrtcExt(h, kCrtcExtMode) & kExt3Scale;
  const uint32_t t = MemoryType::Get(RegRead(h, kRegMemoryConfig));
  const int64_t u = t == 1 ? 41 : t == 2 ? 32 : 52;
  // The memory clock: the system clock's MHz times the ratio's high nibble
  // over its low nibble.
  const uint32_t word = h->oSystemClock.aulWord[0];
  const uint32_t ratio = (word >> 16) & 0xFF;
  const int64_t base = int64_t{word & 0xFFFF} * 1000;
  const int64_t mclk = (ratio & 15) != 0 ? base * (ratio >> 4) / (ratio & 15) : 0;
  const int64_t p = h->aModeInfo[0].ulPixClock;
  int64_t hi = 0, max = 0;
  // Without a memory clock there is nothing to weigh: both levels stay 0.
  if (mclk > 0) {
    hi = (368 * mclk - (s + 1) * (mclk + u * p)) / (64 * mclk);
    if (hi < 0) hi = 0;
    max = (s + 1) * p / mclk;
  }
  const uint32_t value = static_cast<uint32_t>((hi & 7) | (((hi < max ? hi : max) & 7) << 4));
  h->pMDACFunctions->ScreenOff(h);
  SetVgaCrtcExt(h, kCrtcExtPriority, value);
  if (on) h->pMDACFunctions->ScreenOn(h);
  return h->status;
}

HALSTATUS HSLCRTCDisable(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  SetVgaScreenOff(h, true);
  return h->status;
}

HALSTATUS HSLCRTCEnable(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  SetVgaScreenOff(h, false);
  return h->status;
}

HALSTATUS HSLCRTCAdjustVideoParameters(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t htotal = mode->ulHFPorch + mode->ulDispWidth + mode->ulHBPorch + mode->ulHSync;
  uint32_t g;
  switch (HorizontalZoom(mode->ulZoom)) {
    case 1:
      g = 16;
      break;
    case 2:
      g = 32;
      break;
    case 4:
      g = 64;
      break;
    default:
      return h->status;  // no granule for another zoom
  }
  uint32_t units;
  switch (mode->ulBpp) {
    case 8:
      units = htotal / 8;
      break;
    case 15:
    case 16:
      units = htotal / 4;
      break;
    case 24:
      units = htotal * 3 / 8;
      break;
    case 32:
      units = htotal / 2;
      break;
    default:
      return h->status;
  }
  if (htotal != 0 && g - units % g == 1) {
    mode->ulHBPorch += 8;
    mode->ulPixClock += static_cast<uint32_t>(uint64_t{mode->ulPixClock} * 8 / htotal);
  }
  return h->status;
}

HALSTATUS HSLCRTCValidateHwSync(BOARDHANDLE* h, uint32_t* sane) {
  if (HalFailed(h->status)) return h->status;
  *sane = 1;
  const uint8_t e3 = VgaCrtcExt(h, kCrtcExtMode);
  const uint8_t e1 = VgaCrtcExt(h, kCrtcExtHorizontal);
  *sane = (e1 & (kExt1HSyncOff | kExt1VSyncOff)) == 0 ? 1 : 0;
  if (!*sane) return h->status;
  const bool hires = (e3 & kExt3Hires) != 0;
  const uint32_t htotal = VgaCrtc(h, kCrtcHTotal) + (hires && (e1 & kExt1HTotal8) ? 0x100 : 0);
  const uint32_t hend = VgaCrtc(h, kCrtcHDisplayEnd);
  *sane = htotal > hend ? 1 : 0;
  if (!*sane) return h->status;
  const uint8_t overflow = VgaCrtc(h, kCrtcOverflow);
  uint32_t vtotal = VgaCrtc(h, kCrtcVTotal) + Bit(overflow, 0) * 0x100 + Bit(overflow, 5) * 0x200;
  uint32_t vend = VgaCrtc(h, kCrtcVDisplayEnd) + Bit(overflow, 1) * 0x100 + Bit(overflow, 6) * 0x200;
  if (hires) {
    const uint8_t e2 = VgaCrtcExt(h, kCrtcExtVertical);
    vtotal += Bit(e2, 0) * 0x400 + Bit(e2, 1) * 0x800;
    vend += Bit(e2, 2) * 0x400;
  }
  *sane = vtotal > vend ? 1 : 0;
  return h->status;
}

HALSTATUS HSLCRTCCompareCurrentResolution(BOARDHANDLE* h, MODEINFO* mode, uint32_t* same) {
  if (HalFailed(h->status)) return h->status;
  *same = 0;
  const MODEINFO& m0 = h->aModeInfo[0];
  if (mode->flOutput & (kOutModule1 | kOutControllerOff)) return h->status;
  if (mode->ulDispWidth != m0.ulDispWidth || mode->ulDispHeight != m0.ulDispHeight ||
      mode->ulDeskWidth != m0.ulDeskWidth || mode->ulDeskHeight != m0.ulDeskHeight ||
      mode->flOutput != m0.flOutput)
    return h->status;
  if (!(VgaCrtcExt(h, kCrtcExtMode) & kExt3Hires)) return h->status;
  if ((VgaCrtc(h, kCrtcHDisplayEnd) + 1u) * 8 != mode->ulDispWidth) return h->status;
  const uint8_t overflow = VgaCrtc(h, kCrtcOverflow);
  const uint32_t vend = VgaCrtc(h, kCrtcVDisplayEnd) + Bit(overflow, 1) * 0x100 +
                        Bit(overflow, 6) * 0x200 + Bit(VgaCrtcExt(h, kCrtcExtVertical), 2) * 0x400;
  *same = vend + 1 == mode->ulDispHeight ? 1 : 0;
  return h->status;
}
