// The engines' preset: the state the X driver's first start writes and the
// kernel's re-initialisation on a mode change writes again.
#include "core/bm_packets.h"
#include "core/float_bits.h"

namespace {

// Every channel of a unit passed through, the unit off.
constexpr uint32_t kUnitsOff = 0x1000F;
// A combiner stage's default control (its stage number) with its option
// word and the default second words.
constexpr RegGroup StageDefault(uint32_t stage) {
  return {kPacketStageWithOption, {0x80 | stage, k3dStageSecondDefault, 0x80, k3dStageSecondDefault}};
}
// A texture unit on, its filter and word C8 clear, word 585; then its four
// words after the filter, the first all ones.
constexpr RegGroup UnitOn(uint32_t u) { return {UnitStateHeader(u), {PresetUnitOn(u), 0, k3dTexWord585, 0}}; }
constexpr RegGroup kUnitWords = {kPacketUnitWords, {0xFFFFFFFF, 0, 0, 0}};

}  // namespace

const RegGroup kPresetUnitGroups[kPresetUnits][2] = {
    {UnitOn(0), kUnitWords},  // texture unit 0
    {UnitOn(1), kUnitWords},  // texture unit 1
    {UnitOn(2), kUnitWords},  // texture unit 2
    {UnitOn(3), kUnitWords},  // texture unit 3
};

// The later chips' table word of each unit.
const RegGroup kPresetUnitTable = {kPacketUnitTable, {0x100000}};

const RegGroup kPresetEngine[13] = {
    {kPacketSyncZero, {0}},                                 // written 0, as the sync packets write it
    {kPacketAllUnits, {kUnitsOff, 0, 0, 0}},                // every unit off
    {kPacketControl, {0x2010CC}},                           // the 3D engine's control word
    StageDefault(0),                                        // combiner stages 0, 2, 4, 8, 10
    StageDefault(2),
    StageDefault(4),
    StageDefault(8),
    StageDefault(10),
    {kPacketEngineWordsA, {0, 0xFFFFFFFF, 0x7FFFFFFF, 0}},
    {kPacketEngineWordsB, {0, 0, 0xFFFF, 0x1FF}},
    {kPacketMaskAndColours, {0xFFFFFFFF, 0, 0, 0}},         // every plane, black on black
    {kPacketClipAndPlace, {0, 0x10001000, 0, 0}},           // clip (0, 0) to (4096, 4096)
    {kPacketStretchBias, {kFloat31}},
};

uint32_t BmEnginePresetWords(bool unitTables) {
  uint32_t n = RegGroupWords(kPresetEngine);
  for (const auto& unit : kPresetUnitGroups) n += RegGroupWords(unit) + (unitTables ? 2 : 0);
  return n;
}

uint32_t* BmWriteEnginePreset(uint32_t* at, bool unitTables) {
  for (const auto& unit : kPresetUnitGroups) {
    at = BmWriteGroups(at, unit);
    if (unitTables) at = BmWriteGroups(at, &kPresetUnitTable, 1);
  }
  return BmWriteGroups(at, kPresetEngine);
}
