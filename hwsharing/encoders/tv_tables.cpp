#include "hwsharing/encoders/tv_tables.h"

namespace {

constexpr uint32_t kNoAdjust = 0xFFFFFFFF;  // all four adjustment words -1

// A TV timing row of the YUV table: the timing words of MODEINFO bytes
// 28-75 and the same adjustment word in all four adjustment words.
constexpr VLNTVROW TvRow(uint8_t standard, uint32_t width, uint32_t height, uint32_t refresh,
                         uint32_t hrate, uint32_t clock, uint32_t hfp, uint32_t vfp,
                         uint32_t signal, uint32_t adjust) {
  VLNTVROW row{};
  row.ucStandard = standard;
  row.ucId = kTvParamIdSingle;
  row.ulWidth = width;
  row.ulHeight = height;
  row.aulMode[0] = refresh;
  row.aulMode[1] = hrate;
  row.aulMode[2] = clock;
  row.aulMode[3] = hfp;
  row.aulMode[7] = vfp;
  row.aulMode[11] = signal;
  for (unsigned i = 12; i < 16; ++i) row.aulMode[i] = adjust;
  return row;
}

constexpr VLNTVROW kTvEnd = {kTvTableEnd, 0, {0, 0}, 0, 0, {}, {}, {}};

// Adjustment words of the 576- and 480-line rows: offsets 48 and 42 (or 37)
// for the encoder groups.
constexpr uint32_t kAdjust576 = 707799600;
constexpr uint32_t kAdjust480 = 623912240;

constexpr VLNPROCAMPROW ProcAmp(uint8_t standard, uint8_t id, uint8_t level,
                                TVPROCAMP values) {
  return VLNPROCAMPROW{standard, id, level, 0, values};
}
// Words 0-6, then 8-11 (word 7 is reserved).
constexpr TVPROCAMP Values(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4,
                           uint32_t w5, uint32_t w6, uint32_t w8, uint32_t w9, uint32_t w10 = 0,
                           uint32_t w11 = 0) {
  return TVPROCAMP{{w0, w1, w2, w3, w4, w5, w6, 0, w8, w9, w10, w11}};
}
template <class Row>
uint8_t FirstByte(const Row& row) {
  return *reinterpret_cast<const uint8_t*>(&row);
}

template <class Row, class Match>
const Row* Scan(const Row* table, Match match) {
  for (const Row* row = table; FirstByte(*row) != kTvTableEnd; ++row)
    if (match(*row)) return row;
  return nullptr;
}

}  // namespace

// No rows of this library's parameter IDs.
const VLNTVROW VlnTVTable[] = {kTvEnd};

const VLNTVROW VlnTV_YUVTable[] = {
    TvRow(0, 720, 576, 50, 31, 27000, 144, 24, 0x1, kAdjust576),  // 720x576 @ 50 Hz
    TvRow(0, 720, 578, 50, 31, 27000, 144, 23, 0x1, kNoAdjust),   // 720x578 @ 50 Hz
    TvRow(9, 720, 576, 50, 31, 27000, 144, 24, 0x1, kAdjust576),
    TvRow(9, 720, 578, 50, 31, 27000, 144, 23, 0x1, kNoAdjust),
    TvRow(1, 720, 480, 60, 0, 27000, 138, 22, 0x11, kAdjust480),  // 720x480 @ 60 Hz
    TvRow(1, 720, 484, 60, 0, 27000, 138, 20, 0x11, kNoAdjust),   // 720x484 @ 60 Hz
    TvRow(2, 720, 480, 60, 0, 27000, 138, 22, 0x11, kAdjust480),
    TvRow(2, 720, 484, 60, 0, 27000, 138, 20, 0x11, kNoAdjust),
    TvRow(3, 720, 480, 60, 0, 27000, 138, 22, 0x11, kAdjust480),
    TvRow(3, 720, 484, 60, 0, 27000, 138, 20, 0x11, kNoAdjust),
    TvRow(5, 720, 480, 60, 0, 27000, 138, 22, 0x11, kAdjust480),
    TvRow(5, 720, 484, 60, 0, 27000, 138, 20, 0x11, kNoAdjust),
    TvRow(7, 768, 576, 50, 0, 29500, 176, 24, 0x1, 0),            // 768x576 @ 50 Hz
    TvRow(6, 640, 480, 60, 0, 24545, 140, 22, 0x1, 0),            // 640x480 @ 60 Hz
    TvRow(8, 640, 480, 60, 0, 24545, 140, 22, 0x1, 0),
    kTvEnd,
};

const VLNVSCALEROW VlnVScaleTVTable[] = {{kTvTableEnd, {}, {}, 0, 0, {}, {}, 0, 0, 0, 0, 0, {}}};

// Subcarrier, registers 4, 44, 8, 10, 9, 41, samples per line, lines per
// frame, registers 11, 12, 53, blank, black and white levels, the two
// saturation gains, hue, standard control.
const CVE2PARMROW CVE2PARMTable[] = {
    {0, 6, {}, {{705268427, 0, 24, 126, 138, 58, 26, 1440, 625, 44, 44, 13, 224, 224, 881, 163, 163, 0, 73}}},
    {1, 6, {}, {{569408543, 0, 32, 126, 118, 68, 22, 1440, 525, 64, 0, 16, 200, 249, 869, 151, 151, 0, 2}}},
    {2, 6, {}, {{705268427, 0, 32, 126, 118, 68, 22, 1440, 525, 44, 44, 13, 224, 224, 881, 163, 163, 0, 70}}},
    {9, 6, {}, {{705268427, 0, 24, 126, 138, 58, 26, 1440, 625, 40, 40, 13, 224, 224, 881, 177, 177, 0, 73}}},
    {3, 6, {}, {{569408543, 0, 32, 126, 118, 68, 22, 1440, 525, 40, 40, 16, 200, 249, 869, 180, 180, 0, 0}}},
    {5, 6, {}, {{705268427, 0, 32, 126, 118, 68, 22, 1440, 525, 44, 44, 13, 224, 224, 881, 163, 163, 0, 70}}},
    {7, 6, {}, {{645499916, 0, 46, 138, 168, 70, 28, 1536, 625, 44, 44, 13, 224, 224, 881, 163, 163, 0, 73}}},
    {6, 6, {}, {{626349397, 0, 44, 114, 122, 64, 20, 1280, 525, 64, 0, 16, 200, 249, 869, 151, 151, 0, 2}}},
    {8, 6, {}, {{775809637, 0, 44, 114, 122, 64, 20, 1280, 525, 44, 44, 13, 224, 224, 881, 163, 163, 0, 70}}},
    {kTvTableEnd, 0, {}, {}},
};

const VLNTIMINGROW VlnTimingTable[] = {{kTvTableEnd, 0, {}, 0, 0, {}}};
const VLNCOLORBARROW VlnTimingColorBarTable[] = {{kTvTableEnd, 0, {}, {}, {}}};

const VLNPROCAMPROW VlnProcAmpTable[] = {
    // standard 0: minimum, default, maximum, step, second default, capability
    ProcAmp(0, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(0, 6, 1, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(0, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(0, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(0, 6, 5, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(0, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 1: minimum, default, maximum, step, second default, capability
    ProcAmp(1, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(1, 6, 1, Values(0, 0, 151, 176, 239, 0, 0, 127, 127)),
    ProcAmp(1, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(1, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(1, 6, 5, Values(0, 0, 151, 176, 239, 0, 0, 127, 127)),
    ProcAmp(1, 6, 6, Values(6, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 2: minimum, default, maximum, step, second default, capability
    ProcAmp(2, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(2, 6, 1, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(2, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(2, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(2, 6, 5, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(2, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 3: minimum, default, maximum, step, second default, capability
    ProcAmp(3, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(3, 6, 1, Values(0, 0, 180, 162, 255, 0, 0, 127, 127)),
    ProcAmp(3, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(3, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(3, 6, 5, Values(0, 0, 180, 162, 255, 0, 0, 127, 127)),
    ProcAmp(3, 6, 6, Values(6, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 5: minimum, default, maximum, step, second default, capability
    ProcAmp(5, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(5, 6, 1, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(5, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(5, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(5, 6, 5, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(5, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 6: minimum, default, maximum, step, second default, capability
    ProcAmp(6, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(6, 6, 1, Values(0, 0, 151, 176, 239, 0, 0, 127, 127)),
    ProcAmp(6, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(6, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(6, 6, 5, Values(0, 0, 151, 176, 239, 0, 0, 127, 127)),
    ProcAmp(6, 6, 6, Values(6, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 7: minimum, default, maximum, step, second default, capability
    ProcAmp(7, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(7, 6, 1, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(7, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(7, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(7, 6, 5, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(7, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 8: minimum, default, maximum, step, second default, capability
    ProcAmp(8, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(8, 6, 1, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(8, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(8, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(8, 6, 5, Values(0, 0, 163, 162, 255, 0, 0, 127, 127)),
    ProcAmp(8, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // standard 9: minimum, default, maximum, step, second default, capability
    ProcAmp(9, 6, 0, Values(0, 0, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(9, 6, 1, Values(0, 0, 177, 162, 255, 0, 0, 127, 127)),
    ProcAmp(9, 6, 2, Values(0, 0, 255, 255, 255, 255, 0, 255, 255)),
    ProcAmp(9, 6, 3, Values(0, 0, 1, 1, 1, 1, 0, 1, 1)),
    ProcAmp(9, 6, 5, Values(0, 0, 177, 162, 255, 0, 0, 127, 127)),
    ProcAmp(9, 6, 6, Values(4, 0, 1, 1, 1, 1, 0, 0, 0)),
    // The quad boards' encoders: minimum, default, maximum, step, capability.
    ProcAmp(0, 7, 0, Values(0, 0, 0, 65, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(0, 7, 1, Values(0, 2, 0, 113, 1, 0, 0, 0, 0, 3, 1)),
    ProcAmp(0, 7, 2, Values(0, 3, 0, 208, 7, 0, 0, 0, 0, 7, 3)),
    ProcAmp(0, 7, 3, Values(0, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1)),
    ProcAmp(0, 7, 6, Values(0, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1)),
    ProcAmp(1, 7, 0, Values(0, 0, 0, 65, 0, 0, 0, 0, 0, 0, 0)),
    ProcAmp(1, 7, 1, Values(0, 2, 0, 133, 1, 0, 0, 0, 0, 2, 1)),
    ProcAmp(1, 7, 2, Values(2, 3, 0, 208, 7, 0, 0, 0, 0, 7, 3)),
    ProcAmp(1, 7, 3, Values(2, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1)),
    ProcAmp(1, 7, 6, Values(2, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1)),
    {kTvTableEnd, 0, 0, 0, {}},
};

const CVE2LUMAROW CVE2LumaTable[] = {
    {0, 6, {}, {{272, 876, 64, 64, 0, 968}}},
    {7, 6, {}, {{272, 876, 64, 64, 0, 968}}},
    {1, 6, {}, {{256, 872, 64, 64, 0, 968}}},
    {6, 6, {}, {{256, 872, 64, 64, 0, 968}}},
    {2, 6, {}, {{270, 874, 64, 64, 0, 968}}},
    {8, 6, {}, {{270, 874, 64, 64, 0, 968}}},
    {9, 6, {}, {{272, 880, 64, 64, 0, 968}}},
    {3, 6, {}, {{272, 878, 64, 64, 0, 968}}},
    {5, 6, {}, {{272, 878, 64, 64, 0, 968}}},
    {kTvTableEnd, 0, {}, {}},
};

// Gamma curves by level; levels 0 and 10 are neutral.
const VLNGAMMAROW VlnGammaTable[] = {
    {0, {}, {{1, 0, 15, 1, 0, 100, 0, 1, 0, 200, 0, 1, 0, 0}}},
    {4, {}, {{0, 7, 15, 7, 5, 91, 3, 13, 4, 156, 57, 15, 3, 223}}},
    {10, {}, {{1, 0, 15, 1, 0, 100, 0, 1, 0, 200, 0, 1, 0, 0}}},
    {40, {}, {{15, 0, 8, 15, 4, 78, 119, 14, 5, 165, 158, 9, 5, 183}}},
    {kTvTableEnd, {}, {}},
};

const CVE2ITU656ROW CVE2ITU656Table[] = {{kTvTableEnd, 0, {}, 0, 0, {}}};

const VLNTVROW* FindTvRow(const VLNTVROW* table, uint8_t standard, uint8_t id, uint32_t width,
                          uint32_t height) {
  return Scan(table, [&](const VLNTVROW& r) {
    return r.ucStandard == standard && r.ucId == id && r.ulWidth == width && r.ulHeight == height;
  });
}

const VLNVSCALEROW* FindVScaleRow(uint8_t id, uint32_t width, uint32_t height,
                                  uint32_t signalMode, uint32_t step) {
  return Scan(VlnVScaleTVTable, [&](const VLNVSCALEROW& r) {
    return r.ucId == id && r.ulWidth == width && r.ulHeight == height &&
           r.flSignalMode == signalMode && r.ulVScaleStep == step;
  });
}

const VLNVSCALEROW* FindVScaleRowByStandard(uint8_t id, uint32_t width, uint32_t height,
                                            uint32_t standard, uint32_t step) {
  return Scan(VlnVScaleTVTable, [&](const VLNVSCALEROW& r) {
    return r.ucId == id && r.ulWidth == width && r.ulHeight == height &&
           ((r.flSignalMode >> 4) & 1) == standard && r.ulVScaleStep == step;
  });
}

const CVE2PARMROW* FindCve2ParamRow(uint8_t standard, uint8_t id) {
  return Scan(CVE2PARMTable,
              [&](const CVE2PARMROW& r) { return r.ucStandard == standard && r.ucId == id; });
}

const VLNTIMINGROW* FindTimingRow(uint8_t standard, uint8_t id, uint32_t width, uint32_t height) {
  return Scan(VlnTimingTable, [&](const VLNTIMINGROW& r) {
    return r.ucStandard == standard && r.ucId == id && r.ulWidth == width && r.ulHeight == height;
  });
}

const VLNCOLORBARROW* FindColorBarRow(uint8_t standard, uint8_t id) {
  return Scan(VlnTimingColorBarTable,
              [&](const VLNCOLORBARROW& r) { return r.ucStandard == standard && r.ucId == id; });
}

const VLNPROCAMPROW* FindProcAmpRow(uint8_t standard, uint8_t id, uint8_t level) {
  return Scan(VlnProcAmpTable, [&](const VLNPROCAMPROW& r) {
    return r.ucStandard == standard && r.ucId == id && r.ucLevel == level;
  });
}

const CVE2LUMAROW* FindLumaRow(uint8_t standard, uint8_t id) {
  return Scan(CVE2LumaTable,
              [&](const CVE2LUMAROW& r) { return r.ucStandard == standard && r.ucId == id; });
}

const VLNGAMMAROW* FindGammaRow(uint8_t level) {
  return Scan(VlnGammaTable, [&](const VLNGAMMAROW& r) { return r.ucLevel == level; });
}

const CVE2ITU656ROW* FindItu656Row(uint8_t standard, uint8_t id, uint32_t width,
                                   uint32_t height) {
  return Scan(CVE2ITU656Table, [&](const CVE2ITU656ROW& r) {
    return r.ucStandard == standard && r.ucId == id && r.ulWidth == width && r.ulHeight == height;
  });
}
