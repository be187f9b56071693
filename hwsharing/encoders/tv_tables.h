// Constant tables of the TV encoders: TV timings, encoder parameters,
// proc-amp limits, luma levels and gamma curves, one row per (standard,
// parameter ID[, size or level]). Every table ends with a row whose first
// byte is 0xFF. Only the rows of the parameter IDs this library selects (6,
// and 7 on quad boards) are held; tables without such rows hold only their
// end row, so their look-ups fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint8_t kTvTableEnd = 0xFF;

// Parameter IDs of this library's boards.
inline constexpr uint8_t kTvParamIdSingle = 6;
inline constexpr uint8_t kTvParamIdQuad = 7;

// ---- TVPROCAMP words ---------------------------------------------------------------
inline constexpr unsigned kProcAmpFlags = 0;       // bit 0 text filter, 1 dot crawl, 2 b/w
inline constexpr unsigned kProcAmpDeflicker = 1;   // 0-2
inline constexpr unsigned kProcAmpSaturation = 2;
inline constexpr unsigned kProcAmpBrightness = 3;
inline constexpr unsigned kProcAmpContrast = 4;
inline constexpr unsigned kProcAmpHue = 5;
inline constexpr unsigned kProcAmpGamma = 6;
inline constexpr unsigned kProcAmpBlackTrim = 8;   // 127 = none
inline constexpr unsigned kProcAmpWhiteTrim = 9;   // 127 = none
inline constexpr unsigned kProcAmpSharpness = 10;  // the quad boards' encoders
inline constexpr unsigned kProcAmpTextFlicker = 11;
inline constexpr uint32_t kProcAmpFlagTextFilter = 0x1;
inline constexpr uint32_t kProcAmpFlagDotCrawl = 0x2;
inline constexpr uint32_t kProcAmpFlagBlackWhite = 0x4;

// Proc-amp levels of a table row.
inline constexpr uint8_t kProcAmpLevelMin = 0;
inline constexpr uint8_t kProcAmpLevelDefault = 1;
inline constexpr uint8_t kProcAmpLevelMax = 2;
inline constexpr uint8_t kProcAmpLevelStep = 3;
inline constexpr uint8_t kProcAmpLevelCurrent = 4;  // answered from the board handle
inline constexpr uint8_t kProcAmpLevelDefault2 = 5;
inline constexpr uint8_t kProcAmpLevelCaps = 6;

// ---- Rows ----------------------------------------------------------------------------
// TV timing of one mode: words 8-23 are MODEINFO bytes 28-91 (the timing
// words, flSignalMode and the four adjustment words).
inline constexpr size_t kTvModeWords = 16;
struct VLNTVROW {
  uint8_t ucStandard, ucId, aucPad[2];
  uint32_t ulWidth, ulHeight;
  uint32_t aulUnused3[5];
  uint32_t aulMode[kTvModeWords];
  uint32_t aulUnused24[9];
};
static_assert(sizeof(VLNTVROW) == 132);

// TV timing with a vertical-scale step.
struct VLNVSCALEROW {
  uint8_t ucId, aucPad[3];
  uint32_t aulBlock[4];      // words 1-4: timing-block values
  uint32_t ulWidth, ulHeight;  // words 5, 6
  uint32_t aulUnused7[5];
  uint32_t aulTiming[11];    // words 12-22: MODEINFO bytes 28-71
  uint32_t flSignalMode;     // word 23 (bit 4 the standard)
  uint32_t ulUnused24;       // bytes 96-99, never read
  uint32_t ulAdjust;         // word 25: MODEINFO byte 80
  uint32_t ulUnused26;
  uint32_t ulVScaleStep;     // word 27
  uint32_t aulUnused28[9];
};
static_assert(sizeof(VLNVSCALEROW) == 148);

// The encoder parameter record: 19 words in load order.
inline constexpr size_t kCve2ParamWords = 19;
struct CVE2PARAMS {
  uint32_t aulWord[kCve2ParamWords];
};
static_assert(sizeof(CVE2PARAMS) == 76);
struct CVE2PARMROW {
  uint8_t ucStandard, ucId, aucPad[2];
  CVE2PARAMS oParams;
};
static_assert(sizeof(CVE2PARMROW) == 80);

// The encoder's 80-byte timing block, words w0..w19.
inline constexpr size_t kVlnTimingWords = 20;
struct VLNTIMING {
  uint32_t aulWord[kVlnTimingWords];
};
static_assert(sizeof(VLNTIMING) == 80);
struct VLNTIMINGROW {
  uint8_t ucStandard, ucId, aucPad[2];
  uint32_t ulWidth, ulHeight;
  VLNTIMING oTiming;
};
static_assert(sizeof(VLNTIMINGROW) == 92);
struct VLNCOLORBARROW {
  uint8_t ucStandard, ucId, aucPad[2];
  uint32_t aulUnused[2];
  VLNTIMING oTiming;
};
static_assert(sizeof(VLNCOLORBARROW) == 92);

struct VLNPROCAMPROW {
  uint8_t ucStandard, ucId, ucLevel, ucPad;
  TVPROCAMP oProcAmp;
};
static_assert(sizeof(VLNPROCAMPROW) == 52);

// Luma levels: L0 lowest black, L1 highest white, L2 and L3 margins, L4
// set-up pedestal, L5 absolute white limit.
inline constexpr size_t kCve2LumaWords = 6;
struct CVE2LUMA {
  uint32_t aulL[kCve2LumaWords];
};
static_assert(sizeof(CVE2LUMA) == 24);
struct CVE2LUMAROW {
  uint8_t ucStandard, ucId, aucPad[2];
  CVE2LUMA oLuma;
};
static_assert(sizeof(CVE2LUMAROW) == 28);

inline constexpr size_t kVlnGammaWords = 14;
struct VLNGAMMA {
  uint32_t aulG[kVlnGammaWords];
};
static_assert(sizeof(VLNGAMMA) == 56);
struct VLNGAMMAROW {
  uint8_t ucLevel, aucPad[3];
  VLNGAMMA oGamma;
};
static_assert(sizeof(VLNGAMMAROW) == 60);

inline constexpr size_t kItu656Words = 8;
struct CVE2ITU656 {
  uint32_t aulR[kItu656Words];
};
static_assert(sizeof(CVE2ITU656) == 32);
struct CVE2ITU656ROW {
  uint8_t ucStandard, ucId, aucPad[2];
  uint32_t ulWidth, ulHeight;
  CVE2ITU656 oRecord;
};
static_assert(sizeof(CVE2ITU656ROW) == 44);

// ---- Tables ----------------------------------------------------------------------------
extern const VLNTVROW VlnTVTable[];
extern const VLNTVROW VlnTV_YUVTable[];
extern const VLNVSCALEROW VlnVScaleTVTable[];
extern const CVE2PARMROW CVE2PARMTable[];
extern const VLNTIMINGROW VlnTimingTable[];
extern const VLNCOLORBARROW VlnTimingColorBarTable[];
extern const VLNPROCAMPROW VlnProcAmpTable[];
extern const CVE2LUMAROW CVE2LumaTable[];
extern const VLNGAMMAROW VlnGammaTable[];
extern const CVE2ITU656ROW CVE2ITU656Table[];

// The first row before the end row whose keys all match, or null. Each
// scan stops at the end row.
const VLNTVROW* FindTvRow(const VLNTVROW* table, uint8_t standard, uint8_t id, uint32_t width,
                          uint32_t height);
// By the whole flSignalMode word, or by its bit 4 (the standard) alone.
const VLNVSCALEROW* FindVScaleRow(uint8_t id, uint32_t width, uint32_t height,
                                  uint32_t signalMode, uint32_t step);
const VLNVSCALEROW* FindVScaleRowByStandard(uint8_t id, uint32_t width, uint32_t height,
                                            uint32_t standard, uint32_t step);
const CVE2PARMROW* FindCve2ParamRow(uint8_t standard, uint8_t id);
const VLNTIMINGROW* FindTimingRow(uint8_t standard, uint8_t id, uint32_t width, uint32_t height);
const VLNCOLORBARROW* FindColorBarRow(uint8_t standard, uint8_t id);
const VLNPROCAMPROW* FindProcAmpRow(uint8_t standard, uint8_t id, uint8_t level);
const CVE2LUMAROW* FindLumaRow(uint8_t standard, uint8_t id);
const VLNGAMMAROW* FindGammaRow(uint8_t level);
const CVE2ITU656ROW* FindItu656Row(uint8_t standard, uint8_t id, uint32_t width, uint32_t height);
