#include "hwsharing/hal/timing_tables.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"

namespace {

// A row: size, zoom (0 = any), refresh in Hz, pixel clock in kHz, porches and
// syncs, flSignalMode. The horizontal rate is the clock over the line total,
// truncated to whole kHz.
constexpr MODEINFO Timing(uint32_t width, uint32_t height, uint32_t zoom, uint32_t refresh, uint32_t clockKhz,
                          uint32_t hFront, uint32_t hSync, uint32_t hBack, uint32_t vFront, uint32_t vSync,
                          uint32_t vBack, uint32_t signal) {
  MODEINFO m{};
  m.ulDispWidth = width;
  m.ulDispHeight = height;
  m.ulZoom = zoom;
  m.ulRefreshRate = refresh;
  m.ulPixClock = clockKhz;
  m.ulHorizRate = clockKhz / (width + hFront + hSync + hBack);
  m.ulHFPorch = hFront;
  m.ulHSync = hSync;
  m.ulHBPorch = hBack;
  m.ulVFPorch = vFront;
  m.ulVSync = vSync;
  m.ulVBPorch = vBack;
  m.flSignalMode = signal;
  return m;
}

constexpr MODEINFO EndRow() {
  MODEINFO m{};
  m.ulDispWidth = kVesaEndWidth;
  return m;
}

}  // namespace

// VESA display modes. Rows 0-6 and the zoom 2 and zoom 4 rows of 1152x864 are
// not VESA DMT modes: row 0 and the zoom rows keep the library's own values
// (zoom 2 runs the DMT timing of zoom 1), rows 1-6 are the GTF timings of
// their size and refresh. Every other row is the public VESA DMT timing named
// in its comment, with the DMT's borders counted in the porches. Signal bits:
// 1 interlaced (vertical values per field, refresh in frames), 4 positive
// horizontal sync, 8 positive vertical sync, 0x80 reduced blanking (skipped
// by the look-ups by size; the reduced-blanking 1920x1200 row is found).
constexpr MODEINFO VesaParam[kVesaRows] = {
    Timing(320, 200, 0, 75, 12918, 8, 32, 48, 3, 3, 16, 0),  //  0: 320x200 @ 75 Hz
    Timing(320, 200, 0, 85, 6604, 0, 24, 24, 1, 3, 7, 8),  //  1: 320x200 @ 85 Hz (GTF)
    Timing(320, 240, 0, 85, 8262, 8, 24, 32, 1, 3, 9, 8),  //  2: 320x240 @ 85 Hz (GTF)
    Timing(320, 240, 0, 75, 6929, 0, 24, 24, 1, 3, 7, 8),  //  3: 320x240 @ 75 Hz (GTF)
    Timing(320, 400, 0, 85, 14889, 16, 32, 48, 1, 3, 17, 8),  //  4: 320x400 @ 85 Hz (GTF)
    Timing(400, 300, 0, 75, 11302, 8, 32, 40, 1, 3, 10, 8),  //  5: 400x300 @ 75 Hz (GTF)
    Timing(512, 384, 0, 85, 22520, 24, 48, 72, 1, 3, 16, 8),  //  6: 512x384 @ 85 Hz (GTF)
    Timing(640, 350, 0, 85, 31500, 32, 64, 96, 32, 3, 60, 4),  //  7: 640x350 @ 85 Hz (DMT 0x01)
    Timing(640, 400, 0, 85, 31500, 32, 64, 96, 1, 3, 41, 8),  //  8: 640x400 @ 85 Hz (DMT 0x02)
    Timing(640, 480, 0, 60, 25175, 16, 96, 48, 10, 2, 33, 0),  //  9: 640x480 @ 60 Hz (DMT 0x04)
    Timing(640, 480, 0, 72, 31500, 24, 40, 128, 9, 3, 28, 0),  // 10: 640x480 @ 72 Hz (DMT 0x05)
    Timing(640, 480, 0, 75, 31500, 16, 64, 120, 1, 3, 16, 0),  // 11: 640x480 @ 75 Hz (DMT 0x06)
    Timing(640, 480, 0, 85, 36000, 56, 56, 80, 1, 3, 25, 0),  // 12: 640x480 @ 85 Hz (DMT 0x07)
    Timing(720, 400, 0, 85, 35500, 36, 72, 108, 1, 3, 42, 8),  // 13: 720x400 @ 85 Hz (DMT 0x03)
    Timing(848, 480, 0, 60, 33750, 16, 112, 112, 6, 8, 23, 12),  // 14: 848x480 @ 60 Hz (DMT 0x0e)
    Timing(800, 600, 0, 56, 36000, 24, 72, 128, 1, 2, 22, 12),  // 15: 800x600 @ 56 Hz (DMT 0x08)
    Timing(800, 600, 0, 60, 40000, 40, 128, 88, 1, 4, 23, 12),  // 16: 800x600 @ 60 Hz (DMT 0x09)
    Timing(800, 600, 0, 72, 50000, 56, 120, 64, 37, 6, 23, 12),  // 17: 800x600 @ 72 Hz (DMT 0x0a)
    Timing(800, 600, 0, 75, 49500, 16, 80, 160, 1, 3, 21, 12),  // 18: 800x600 @ 75 Hz (DMT 0x0b)
    Timing(800, 600, 0, 85, 56250, 32, 64, 152, 1, 3, 27, 12),  // 19: 800x600 @ 85 Hz (DMT 0x0c)
    Timing(1024, 768, 0, 43, 44900, 8, 176, 56, 0, 4, 20, 13),  // 20: 1024x768 @ 43 Hz interlaced (DMT 0x0f)
    Timing(1024, 768, 0, 60, 65000, 24, 136, 160, 3, 6, 29, 0),  // 21: 1024x768 @ 60 Hz (DMT 0x10)
    Timing(1024, 768, 0, 70, 75000, 24, 136, 144, 3, 6, 29, 0),  // 22: 1024x768 @ 70 Hz (DMT 0x11)
    Timing(1024, 768, 0, 75, 78750, 16, 96, 176, 1, 3, 28, 12),  // 23: 1024x768 @ 75 Hz (DMT 0x12)
    Timing(1024, 768, 0, 85, 94500, 48, 96, 208, 1, 3, 36, 12),  // 24: 1024x768 @ 85 Hz (DMT 0x13)
    Timing(1152, 864, 1, 75, 108000, 64, 128, 256, 1, 3, 32, 12),  // 25: 1152x864 @ 75 Hz, zoom 1 (DMT 0x15)
    Timing(1152, 864, 2, 75, 108000, 64, 128, 256, 1, 3, 32, 12),  // 26: 1152x864 @ 75 Hz, zoom 2
    Timing(1152, 864, 4, 75, 110150, 128, 128, 256, 1, 3, 32, 12),  // 27: 1152x864 @ 75 Hz, zoom 4
    Timing(1280, 768, 0, 60, 68250, 48, 32, 80, 3, 7, 12, 132),  // 28: 1280x768 @ 60 Hz reduced blanking (DMT 0x16)
    Timing(1280, 768, 0, 60, 79500, 64, 128, 192, 3, 7, 20, 8),  // 29: 1280x768 @ 60 Hz (DMT 0x17)
    Timing(1280, 768, 0, 75, 102250, 80, 128, 208, 3, 7, 27, 8),  // 30: 1280x768 @ 75 Hz (DMT 0x18)
    Timing(1280, 768, 0, 85, 117500, 80, 136, 216, 3, 7, 31, 8),  // 31: 1280x768 @ 85 Hz (DMT 0x19)
    Timing(1280, 960, 0, 60, 108000, 96, 112, 312, 1, 3, 36, 12),  // 32: 1280x960 @ 60 Hz (DMT 0x20)
    Timing(1280, 960, 0, 85, 148500, 64, 160, 224, 1, 3, 47, 12),  // 33: 1280x960 @ 85 Hz (DMT 0x21)
    Timing(1280, 1024, 0, 60, 108000, 48, 112, 248, 1, 3, 38, 12),  // 34: 1280x1024 @ 60 Hz (DMT 0x23)
    Timing(1280, 1024, 0, 75, 135000, 16, 144, 248, 1, 3, 38, 12),  // 35: 1280x1024 @ 75 Hz (DMT 0x24)
    Timing(1280, 1024, 0, 85, 157500, 64, 160, 224, 1, 3, 44, 12),  // 36: 1280x1024 @ 85 Hz (DMT 0x25)
    Timing(1360, 768, 0, 60, 85500, 64, 112, 256, 3, 6, 18, 12),  // 37: 1360x768 @ 60 Hz (DMT 0x27)
    Timing(1440, 900, 0, 60, 88750, 48, 32, 80, 3, 6, 17, 132),  // 38: 1440x900 @ 60 Hz reduced blanking (DMT 0x2e)
    Timing(1440, 900, 0, 60, 106500, 80, 152, 232, 3, 6, 25, 8),  // 39: 1440x900 @ 60 Hz (DMT 0x2f)
    Timing(1440, 900, 0, 75, 136750, 96, 152, 248, 3, 6, 33, 8),  // 40: 1440x900 @ 75 Hz (DMT 0x30)
    Timing(1440, 900, 0, 85, 157000, 104, 152, 256, 3, 6, 39, 8),  // 41: 1440x900 @ 85 Hz (DMT 0x31)
    Timing(1400, 1050, 0, 60, 101000, 48, 32, 80, 3, 4, 23, 132),  // 42: 1400x1050 @ 60 Hz reduced blanking (DMT 0x29)
    Timing(1400, 1050, 0, 60, 121750, 88, 144, 232, 3, 4, 32, 8),  // 43: 1400x1050 @ 60 Hz (DMT 0x2a)
    Timing(1400, 1050, 0, 75, 156000, 104, 144, 248, 3, 4, 42, 8),  // 44: 1400x1050 @ 75 Hz (DMT 0x2b)
    Timing(1400, 1050, 0, 85, 179500, 104, 152, 256, 3, 4, 48, 8),  // 45: 1400x1050 @ 85 Hz (DMT 0x2c)
    Timing(1600, 1200, 0, 60, 162000, 64, 192, 304, 1, 3, 46, 12),  // 46: 1600x1200 @ 60 Hz (DMT 0x33)
    Timing(1600, 1200, 0, 65, 175500, 64, 192, 304, 1, 3, 46, 12),  // 47: 1600x1200 @ 65 Hz (DMT 0x34)
    Timing(1600, 1200, 0, 70, 189000, 64, 192, 304, 1, 3, 46, 12),  // 48: 1600x1200 @ 70 Hz (DMT 0x35)
    Timing(1600, 1200, 0, 75, 202500, 64, 192, 304, 1, 3, 46, 12),  // 49: 1600x1200 @ 75 Hz (DMT 0x36)
    Timing(1600, 1200, 0, 85, 229500, 64, 192, 304, 1, 3, 46, 12),  // 50: 1600x1200 @ 85 Hz (DMT 0x37)
    Timing(1680, 1050, 0, 60, 119000, 48, 32, 80, 3, 6, 21, 132),  // 51: 1680x1050 @ 60 Hz reduced blanking (DMT 0x39)
    Timing(1680, 1050, 0, 60, 146250, 104, 176, 280, 3, 6, 30, 8),  // 52: 1680x1050 @ 60 Hz (DMT 0x3a)
    Timing(1680, 1050, 0, 75, 187000, 120, 176, 296, 3, 6, 40, 8),  // 53: 1680x1050 @ 75 Hz (DMT 0x3b)
    Timing(1680, 1050, 0, 85, 214750, 128, 176, 304, 3, 6, 46, 8),  // 54: 1680x1050 @ 85 Hz (DMT 0x3c)
    Timing(1792, 1344, 0, 60, 204750, 128, 200, 328, 1, 3, 46, 8),  // 55: 1792x1344 @ 60 Hz (DMT 0x3e)
    Timing(1792, 1344, 0, 75, 261000, 96, 216, 352, 1, 3, 69, 8),  // 56: 1792x1344 @ 75 Hz (DMT 0x3f)
    Timing(1856, 1392, 0, 60, 218250, 96, 224, 352, 1, 3, 43, 8),  // 57: 1856x1392 @ 60 Hz (DMT 0x41)
    Timing(1856, 1392, 0, 75, 288000, 128, 224, 352, 1, 3, 104, 8),  // 58: 1856x1392 @ 75 Hz (DMT 0x42)
    Timing(1920, 1200, 0, 60, 193250, 136, 200, 336, 3, 6, 36, 8),  // 59: 1920x1200 @ 60 Hz (DMT 0x45)
    Timing(1920, 1200, 0, 60, 154000, 48, 32, 80, 3, 6, 26, 4),  // 60: 1920x1200 @ 60 Hz reduced blanking (DMT 0x44)
    Timing(1920, 1200, 0, 75, 245250, 136, 208, 344, 3, 6, 46, 8),  // 61: 1920x1200 @ 75 Hz (DMT 0x46)
    Timing(1920, 1200, 0, 85, 281250, 144, 208, 352, 3, 6, 53, 8),  // 62: 1920x1200 @ 85 Hz (DMT 0x47)
    Timing(1920, 1440, 0, 60, 234000, 128, 208, 344, 1, 3, 56, 8),  // 63: 1920x1440 @ 60 Hz (DMT 0x49)
    Timing(1920, 1440, 0, 75, 297000, 144, 224, 352, 1, 3, 56, 8),  // 64: 1920x1440 @ 75 Hz (DMT 0x4a)
    EndRow(),  // 65: end of the table
};

// CEA-861 television timings by video code, from the public CEA-861 table.
// Codes whose timing runs at 59.94 or 60 Hz take the 60.00 Hz variant (the
// clock scaled by 1001/1000: 25.200, 27.027 and 54.054 MHz). Codes 2 and 3
// keep the library's positive syncs. Interlaced rows give the field rate and
// vertical values per field.
const DTVPARAM DTVParam[kDtvRows] = {
    {1, Timing(640, 480, 0, 60, 25200, 16, 96, 48, 10, 2, 33, 0)},  // 640x480 @ 60 Hz
    {2, Timing(720, 480, 0, 60, 27027, 16, 62, 60, 9, 6, 30, 12)},  // 720x480 @ 60 Hz
    {3, Timing(720, 480, 0, 60, 27027, 16, 62, 60, 9, 6, 30, 12)},  // 720x480 @ 60 Hz
    {4, Timing(1280, 720, 0, 60, 74250, 110, 40, 220, 5, 5, 20, 12)},  // 1280x720 @ 60 Hz
    {5, Timing(1920, 1080, 0, 60, 74250, 88, 44, 148, 2, 5, 15, 13)},  // 1920x1080 @ 60 Hz interlaced
    {14, Timing(1440, 480, 0, 60, 54054, 32, 124, 120, 9, 6, 30, 0)},  // 1440x480 @ 60 Hz
    {15, Timing(1440, 480, 0, 60, 54054, 32, 124, 120, 9, 6, 30, 0)},  // 1440x480 @ 60 Hz
    {16, Timing(1920, 1080, 0, 60, 148500, 88, 44, 148, 4, 5, 36, 12)},  // 1920x1080 @ 60 Hz
    {17, Timing(720, 576, 0, 50, 27000, 12, 64, 68, 5, 5, 39, 0)},  // 720x576 @ 50 Hz
    {18, Timing(720, 576, 0, 50, 27000, 12, 64, 68, 5, 5, 39, 0)},  // 720x576 @ 50 Hz
    {19, Timing(1280, 720, 0, 50, 74250, 440, 40, 220, 5, 5, 20, 12)},  // 1280x720 @ 50 Hz
    {20, Timing(1920, 1080, 0, 50, 74250, 528, 44, 148, 2, 5, 15, 13)},  // 1920x1080 @ 50 Hz interlaced
    {29, Timing(1440, 576, 0, 50, 54000, 24, 128, 136, 5, 5, 39, 0)},  // 1440x576 @ 50 Hz
    {30, Timing(1440, 576, 0, 50, 54000, 24, 128, 136, 5, 5, 39, 0)},  // 1440x576 @ 50 Hz
    {31, Timing(1920, 1080, 0, 50, 148500, 528, 44, 148, 4, 5, 36, 12)},  // 1920x1080 @ 50 Hz
    {32, Timing(1920, 1080, 0, 24, 74250, 638, 44, 148, 4, 5, 36, 12)},  // 1920x1080 @ 24 Hz
    {33, Timing(1920, 1080, 0, 25, 74250, 528, 44, 148, 4, 5, 36, 12)},  // 1920x1080 @ 25 Hz
    {34, Timing(1920, 1080, 0, 30, 74250, 88, 44, 148, 4, 5, 36, 12)},  // 1920x1080 @ 30 Hz
    {kDtvEndCode, MODEINFO{}},  // end of the table
};

// The established timings the library offers are those of the VESA rows of
// the same mode.
constexpr MODEINFO EstabParam[kEstabRows] = {
    VesaParam[16],  // byte 35 bit 0: 800x600 @ 60 Hz
    VesaParam[15],  // byte 35 bit 1: 800x600 @ 56 Hz
    VesaParam[11],  // byte 35 bit 2: 640x480 @ 75 Hz
    VesaParam[10],  // byte 35 bit 3: 640x480 @ 72 Hz
    MODEINFO{},     // byte 35 bit 4: 640x480 @ 67 Hz
    VesaParam[9],   // byte 35 bit 5: 640x480 @ 60 Hz
    MODEINFO{},     // byte 35 bit 6: 720x400 @ 88 Hz
    MODEINFO{},     // byte 35 bit 7: 720x400 @ 70 Hz
    VesaParam[35],  // byte 36 bit 0: 1280x1024 @ 75 Hz
    VesaParam[23],  // byte 36 bit 1: 1024x768 @ 75 Hz
    VesaParam[22],  // byte 36 bit 2: 1024x768 @ 70 Hz
    VesaParam[21],  // byte 36 bit 3: 1024x768 @ 60 Hz
    VesaParam[20],  // byte 36 bit 4: 1024x768 @ 43 Hz interlaced
    MODEINFO{},     // byte 36 bit 5: 832x624 @ 75 Hz
    VesaParam[18],  // byte 36 bit 6: 800x600 @ 75 Hz
    VesaParam[17],  // byte 36 bit 7: 800x600 @ 72 Hz
    MODEINFO{}, MODEINFO{}, MODEINFO{}, MODEINFO{},  // byte 37: manufacturer timings
    MODEINFO{}, MODEINFO{}, MODEINFO{}, MODEINFO{},
};

void CopyTimingFromRefresh(MODEINFO* dst, const MODEINFO* src) {
  dst->ulRefreshRate = src->ulRefreshRate;
  dst->ulHorizRate = src->ulHorizRate;
  dst->ulPixClock = src->ulPixClock;
  dst->ulHFPorch = src->ulHFPorch;
  dst->ulHSync = src->ulHSync;
  dst->ulHBPorch = src->ulHBPorch;
  dst->ulHBorder = src->ulHBorder;
  dst->ulVFPorch = src->ulVFPorch;
  dst->ulVSync = src->ulVSync;
  dst->ulVBPorch = src->ulVBPorch;
  dst->ulVBorder = src->ulVBorder;
  dst->flSignalMode = src->flSignalMode;
}

namespace {

bool SameSize(const MODEINFO& row, const MODEINFO* mode) {
  return row.ulDispWidth == mode->ulDispWidth && row.ulDispHeight == mode->ulDispHeight;
}

// A VESA row that a look-up by size may answer with.
bool VesaRowFits(const MODEINFO& row, const MODEINFO* mode) {
  return SameSize(row, mode) && (row.ulZoom == 0 || row.ulZoom == mode->ulZoom) &&
         (row.flSignalMode & kSignalReducedBlankingRow) == 0;
}

// The n-th CEA-861 row of the mode's size (and refresh, when asked).
const MODEINFO* NthDtvRow(const MODEINFO* mode, uint32_t n, bool matchRefresh) {
  for (const DTVPARAM& row : DTVParam) {
    if ((row.ulVideoCode & 0xFF) == kDtvEndCode) break;
    if (!SameSize(row.oMode, mode)) continue;
    if (matchRefresh && row.oMode.ulRefreshRate != mode->ulRefreshRate) continue;
    if (n-- == 0) return &row.oMode;
  }
  return nullptr;
}

}  // namespace

const MODEINFO* FindVesaRow(const MODEINFO* mode, uint32_t refresh) {
  for (const MODEINFO& row : VesaParam)
    if (VesaRowFits(row, mode) && row.ulRefreshRate == refresh) return &row;
  return nullptr;
}

uint32_t HALGetVESATableLenght() { return kVesaRows; }

HALSTATUS HALGetVESAParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t n) {
  h->status = kHalOk;
  uint32_t found = 0;
  for (const MODEINFO& row : VesaParam) {
    if (!VesaRowFits(row, mode)) continue;
    if (found++ == n) {
      CopyTimingFromRefresh(mode, &row);
      return h->status;
    }
  }
  return SetError(h, found == 0 ? kErrVesaNoRow : kErrVesaNotEnoughRows);
}

HALSTATUS HALGetVESAParametersByIndex(BOARDHANDLE* h, MODEINFO* mode, uint32_t index) {
  h->status = kHalOk;
  if (index >= kVesaRows) return SetError(h, kErrVesaIndex);
  const MODEINFO& row = VesaParam[index];
  mode->ulDispWidth = row.ulDispWidth;
  mode->ulDispHeight = row.ulDispHeight;
  CopyTimingFromRefresh(mode, &row);
  return h->status;
}

HALSTATUS HALGetVESAMode(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh) {
  h->status = kHalOk;
  const MODEINFO* row = FindVesaRow(mode, refresh);
  if (row == nullptr) return SetError(h, kErrVesaNoRow);
  CopyTimingFromRefresh(mode, row);
  return h->status;
}

HALSTATUS HALEnumerateDTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  const MODEINFO* row = NthDtvRow(mode, n, false);
  if (row == nullptr) return SetError(h, kErrDtvNoRow);
  CopyTimingFromRefresh(mode, row);
  return h->status;
}

HALSTATUS HALGetDTVParametersForResolution(BOARDHANDLE* h, MODEINFO* mode, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  const MODEINFO* row = NthDtvRow(mode, n, true);
  if (row == nullptr) return SetError(h, kErrDtvNoRow);
  const uint32_t refresh = mode->ulRefreshRate;
  CopyTimingFromRefresh(mode, row);
  mode->ulRefreshRate = refresh;
  return h->status;
}

uint32_t HALPGetDTVParametersFromVideoCode(MODEINFO* mode, uint32_t code) {
  for (const DTVPARAM& row : DTVParam) {
    if ((row.ulVideoCode & 0xFF) == kDtvEndCode) break;
    if ((row.ulVideoCode & 0xFF) != (code & 0xFF)) continue;
    mode->ulDispWidth = row.oMode.ulDispWidth;
    mode->ulDispHeight = row.oMode.ulDispHeight;
    CopyTimingFromRefresh(mode, &row.oMode);
    return 1;
  }
  return 0;
}
