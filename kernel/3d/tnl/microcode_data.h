// The microcode fragment library and the catalogue's selection tables as
// constant data. microcode_data.cpp is written by gen_microcode_data.py
// (run it from this folder to regenerate); its instruction words and the
// rows no listing of the chip gives are placeholders of the right shape.
#pragma once

#include <stdint.h>

inline constexpr unsigned kFragmentEntries = 575;  // entry 0 is empty
inline constexpr unsigned kLightKeyCount = 9216;

// A fix-up recipe record: the light renumbers the operand that the
// selector (0-2) names in the instruction.
struct FixupRecipeRecord {
  uint32_t instruction;
  uint32_t selector;
};

// A patch recipe record: a value for one field of one instruction.
struct PatchRecipeRecord {
  uint32_t instruction;
  uint32_t kind;
  uint32_t value;
};

// A recipe's records lie at [first, first + count) of their record array.
struct MicrocodeSpan {
  uint16_t first;
  uint16_t count;
};
inline constexpr uint16_t kNoRecipe = 0xFFFF;

// One filled light-pair key: its fragment, fix-up recipe and the three
// patch recipes (kNoRecipe when the key has none).
struct LightPairRow {
  uint16_t key;
  uint16_t fragment;
  uint16_t fixup;
  uint16_t patch[3];
};

// One entry of an extra recipe table: the table (0-2), the index and the
// patch recipe.
struct ExtraRecipeRow {
  uint8_t table;
  uint8_t index;
  uint16_t recipe;
};

// One entry of the kind table ([t][s][a][c][k]) or of the kind-0 table
// (c and k 0).
struct KindRow {
  uint8_t t, s, a, c, k;
  uint16_t fragment;
};

// One entry of the transform table [i][j][l].
struct TransformRow {
  uint8_t i, j, l;
  uint16_t fragment;
};

namespace microcode {

extern const uint32_t* const kFragmentCode[kFragmentEntries];
extern const uint32_t kFragmentBytes[kFragmentEntries];
// Fragment 304's secondary entry points.
extern const uint32_t kEntryTable304[3];

extern const FixupRecipeRecord kFixupRecords[];
extern const MicrocodeSpan kFixupRecipes[];
extern const unsigned kFixupRecipeCount;
extern const PatchRecipeRecord kPatchRecords[];
extern const MicrocodeSpan kPatchRecipes[];
extern const unsigned kPatchRecipeCount;

extern const LightPairRow kLightPairRows[];
extern const unsigned kLightPairRowCount;
extern const ExtraRecipeRow kExtraRows[];
extern const unsigned kExtraRowCount;
extern const TransformRow kTransformRows[];
extern const unsigned kTransformRowCount;
extern const KindRow kKindRows[];
extern const unsigned kKindRowCount;
// The kind-table entries that take other fragments when the main program
// carries the clip fragments.
extern const KindRow kClipKindRows[];
extern const unsigned kClipKindRowCount;
extern const KindRow kKind0Rows[];
extern const unsigned kKind0RowCount;
extern const uint16_t kTextureTable[2][64];
extern const uint16_t kCountedA[4];  // patch recipes
extern const uint16_t kCountedB[4];

}  // namespace microcode
