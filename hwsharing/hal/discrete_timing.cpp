#include "hwsharing/hal/discrete_timing.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/hal/timing_tables.h"

namespace {

// {identifier, target} rows of the table-backed groups; identifier 255 ends a
// table.
struct DISCRETEROW {
  uint32_t ulId;
  uint32_t ulTarget;
};
constexpr uint32_t kDiscreteEnd = 255;

// Group 0: DMT identifier to VESA row.
constexpr DISCRETEROW DTable_DMTr10[] = {
    {0, 7},   {1, 8},   {2, 13},  {3, 9},   {4, 10},  {5, 11},  {6, 12},  {7, 15},
    {8, 16},  {9, 17},  {10, 18}, {11, 19}, {12, 14}, {13, 20}, {14, 21}, {15, 22},
    {16, 23}, {17, 24}, {18, 25}, {19, 28}, {20, 29}, {21, 30}, {22, 31}, {23, 32},
    {24, 33}, {25, 34}, {26, 35}, {27, 36}, {28, 37}, {29, 42}, {30, 43}, {31, 44},
    {32, 45}, {33, 38}, {34, 39}, {35, 40}, {36, 41}, {37, 46}, {38, 47}, {39, 48},
    {40, 49}, {41, 50}, {42, 51}, {43, 52}, {44, 53}, {45, 54}, {46, 55}, {47, 56},
    {48, 57}, {49, 58}, {50, 60}, {51, 59}, {52, 61}, {53, 62}, {54, 63}, {55, 64},
    {kDiscreteEnd, 0},
};
static_assert(sizeof(DTable_DMTr10) / sizeof(DTable_DMTr10[0]) == 57);

// Group 1: identifier to the TV mode code of the first TV-encoder family.
constexpr DISCRETEROW DTable_Chrontel7009[] = {
    {0, 37},  {1, 38},  {2, 0},   {3, 1},   {4, 2},   {5, 3},   {6, 4},   {7, 5},
    {8, 6},   {9, 7},   {10, 8},  {11, 9},  {12, 10}, {13, 11}, {14, 12}, {15, 13},
    {16, 14}, {17, 15}, {18, 16}, {19, 17}, {20, 18}, {21, 19}, {22, 20}, {23, 21},
    {24, 22}, {25, 23}, {26, 24}, {27, 25}, {28, 26}, {29, 27}, {30, 28}, {31, 29},
    {32, 30}, {33, 31}, {34, 32}, {35, 33}, {36, 34}, {37, 35}, {38, 36},
    {kDiscreteEnd, 0},
};
static_assert(sizeof(DTable_Chrontel7009) / sizeof(DTable_Chrontel7009[0]) == 40);

// Group 2: identifier to the TV mode code of the second TV-encoder family.
constexpr DISCRETEROW DTable_Chrontel7303[] = {
    {0, 48},   {1, 49},   {2, 60},   {3, 50},   {4, 103},  {5, 99},  {6, 100}, {7, 104},
    {8, 101},  {9, 102},  {10, 105}, {11, 52},  {12, 51},  {13, 55}, {14, 106}, {15, 56},
    {16, 53},  {17, 107}, {18, 54},  {19, 57},  {20, 108}, {21, 59}, {22, 58}, {23, 109},
    {kDiscreteEnd, 0},
};
static_assert(sizeof(DTable_Chrontel7303) / sizeof(DTable_Chrontel7303[0]) == 25);

struct GroupTable {
  const DISCRETEROW* rows;
  uint32_t count;  // with the end row
};
constexpr GroupTable kGroupTables[] = {
    {DTable_DMTr10, sizeof(DTable_DMTr10) / sizeof(DISCRETEROW)},
    {DTable_Chrontel7009, sizeof(DTable_Chrontel7009) / sizeof(DISCRETEROW)},
    {DTable_Chrontel7303, sizeof(DTable_Chrontel7303) / sizeof(DISCRETEROW)},
};
constexpr uint32_t kTableGroups = 3;
constexpr uint32_t kGroupCvt = 3;
constexpr uint32_t kGroupCvtReduced = 4;

// Refresh rates and aspect ratios of the CVT groups.
constexpr uint32_t g_uiRefreshRate[] = {50, 60, 75, 85};
constexpr uint32_t g_uiRBRefreshRate[] = {60, 120};
struct AspectPair {
  uint32_t num, den;
};
constexpr AspectPair g_uiAspectRatio[] = {{4, 3}, {5, 4}, {15, 9}, {16, 9}, {16, 10}};
constexpr uint32_t kAspectPairs = sizeof(g_uiAspectRatio) / sizeof(g_uiAspectRatio[0]);

// Field layout of a CVT member: exponents of 2, 3, 5 and 7 of the height,
// then the refresh and aspect indexes.
struct CvtFields {
  uint32_t refreshShift, refreshMask, aspectShift;
};
constexpr CvtFields kCvtFields = {10, 0x3, 12};
constexpr CvtFields kCvtReducedFields = {10, 0x1, 11};
constexpr uint32_t kAspectMask = 0x7;

// Sets the mode's size from a CVT member; false when its aspect index is out
// of range.
bool CvtSize(uint32_t member, const CvtFields& f, MODEINFO* mode) {
  const uint32_t aspect = (member >> f.aspectShift) & kAspectMask;
  if (aspect >= kAspectPairs) return false;
  const uint32_t height = ComputeExponent(2, member & 0xF) * ComputeExponent(3, (member >> 4) & 0x7) *
                          ComputeExponent(5, (member >> 7) & 0x3) * ComputeExponent(7, (member >> 9) & 0x1);
  mode->ulDispHeight = height;
  mode->ulDispWidth = (height * g_uiAspectRatio[aspect].num / g_uiAspectRatio[aspect].den) & ~7u;
  return true;
}

}  // namespace

uint32_t ComputeExponent(uint32_t base, uint32_t n) {
  uint32_t result = 1;
  for (uint32_t i = 0; i < n; ++i) result *= base;
  return result;
}

HALSTATUS HALEnumDiscreteVidParmGroupID(BOARDHANDLE* h, uint32_t n, uint32_t* group) {
  h->status = kHalOk;
  if (n >= kDiscreteGroups) return SetError(h, kErrDiscreteIdRange);
  *group = n;
  return h->status;
}

HALSTATUS HALEnumDiscreteVidParmID(BOARDHANDLE* h, uint32_t group, uint32_t index, uint32_t* id) {
  h->status = kHalOk;
  if (group < kTableGroups) {
    const GroupTable& table = kGroupTables[group];
    if (index >= table.count || table.rows[index].ulId == kDiscreteEnd) return SetError(h, kErrDiscreteIdRange);
    *id = table.rows[index].ulId | (group << 16);
  } else if (group == kGroupCvt && index < kDiscreteCvtMembers) {
    *id = index | (kGroupCvt << 16);
  } else if (group == kGroupCvtReduced && index < kDiscreteCvtReducedMembers) {
    *id = index | (kGroupCvtReduced << 16);
  } else {
    return SetError(h, kErrDiscreteIdRange);
  }
  return h->status;
}

HALSTATUS HALPGetDiscreteVidParmGroupInformation(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  return SetError(h, kErrDiscreteIdRange);
}

HALSTATUS HALPGetDiscreteVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t identifier) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t group = identifier >> 16;
  const uint32_t member = identifier & 0xFFFF;
  if (group < kTableGroups) {
    // The group's rows name a VESA row (group 0) or a TV-encoder mode code.
    const GroupTable& table = kGroupTables[group];
    for (uint32_t i = 0; i < table.count && table.rows[i].ulId != kDiscreteEnd; ++i) {
      if (table.rows[i].ulId != member) continue;
      const uint32_t target = table.rows[i].ulTarget;
      if (group == 0) {
        HALGetVESAParametersByIndex(h, mode, target);
      } else {
        HSLCHRGetTVModeInfoByVideoCode(h, mode, target);
      }
      if (!HalFailed(h->status)) break;
    }
  } else if (group == kGroupCvt || group == kGroupCvtReduced) {
    const bool reduced = group == kGroupCvtReduced;
    const CvtFields& f = reduced ? kCvtReducedFields : kCvtFields;
    if (!CvtSize(member, f, mode)) return SetError(h, kErrDiscreteIdRange);
    const uint32_t r = (member >> f.refreshShift) & f.refreshMask;
    HALGetVerticalCVTParams(h, mode, reduced ? g_uiRBRefreshRate[r] : g_uiRefreshRate[r], reduced ? 1 : 0);
  }
  return h->status;
}
