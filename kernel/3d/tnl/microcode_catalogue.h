// The microcode fragment catalogue: the directory of the fragment library
// and the tables that turn transform-and-lighting state into fragment
// numbers and the fix-up and patch recipes that adapt a fragment to a
// light or texture set-up. The directory and the light-keyed tables (most
// of the catalogue's size) depend on nothing but the constant data: the
// module fills them once and every builder's catalogue reads them in
// place. The small tables, the kind table among them (it follows the clip
// fragments), are each catalogue's own copy. All of it is read-only once
// filled; the fragments themselves are constant data that linking copies.
#pragma once

#include <stdint.h>

#include "kernel/3d/tnl/microcode_data.h"

// A directory entry: the fragment's size in bytes (a multiple of 12), its
// secondary entry points and its instruction words.
struct FragmentDirEntry {
  uint32_t size;
  uint32_t entryCount;
  const uint32_t* code;
  const uint32_t* entryPoints;
};

// A reference to a recipe: count 0 and null when empty.
template <class Record>
struct RecipeRef {
  uint32_t count;
  const Record* records;
};
using FixupRecipe = RecipeRef<FixupRecipeRecord>;
using PatchRecipe = RecipeRef<PatchRecipeRecord>;

// Fragment numbers the rules name.
inline constexpr uint32_t kFragmentPadding = 201;       // one instruction
inline constexpr uint32_t kFragmentWithEntries = 304;  // the one entry table
inline constexpr uint32_t kFragmentKindDefault = 325;
inline constexpr uint32_t kFragmentKind0Default = 326;
inline constexpr uint32_t kEmptyEntrySize = 8;

// Light-pair key: d + 4 x (b + 3 x a + 9 x k + 36 x p), p the pair code
// (0-63), k the first light's kind (0-2), a and b 0-2, d 0-3.
constexpr uint32_t LightPairKey(uint32_t p, uint32_t k, uint32_t a, uint32_t b, uint32_t d) {
  return d + 4 * (b + 3 * a + 9 * k + 36 * p);
}

// The module-wide part: the directory and the light-keyed recipe tables.
struct MicrocodeSharedTables {
  FragmentDirEntry directory[kFragmentEntries];
  uint32_t lightPair[kLightKeyCount];
  FixupRecipe fixupRecipes[kLightKeyCount];
  PatchRecipe patchRecipes[3][kLightKeyCount];
  // Index pair code x 4 + first kind; the second and third by code x 4 + j.
  PatchRecipe extraRecipes[3][64 * 4];
};

struct MicrocodeCatalogue {
  // Into the module-wide tables (null until InitMicrocodeCatalogue).
  const FragmentDirEntry* directory = nullptr;         // [kFragmentEntries]
  const uint32_t* lightPair = nullptr;                 // [kLightKeyCount]
  const FixupRecipe* fixupRecipes = nullptr;           // [kLightKeyCount]
  const PatchRecipe (*patchRecipes)[kLightKeyCount] = nullptr;  // [3]
  const PatchRecipe (*extraRecipes)[64 * 4] = nullptr;          // [3]
  PatchRecipe countedA[4];
  PatchRecipe countedB[4];
  uint32_t transform[4][7][4];
  uint32_t kind[3][3][3][5][5];  // [t][s][a][c][k]
  uint32_t kind0[3][3][3];       // [t][s][a]
  uint32_t texture[2][64];
};

// Fills the module-wide tables and a finished catalogue without and one
// with the clip fragments; the module does it once at load, before any
// device exists. Later calls find them filled and return.
void InitMicrocodeSharedTables();

// Makes the catalogue the module's finished one of the flag (filling the
// module-wide tables first if nothing has yet): it points at the shared
// tables and has its own copy of the small ones. With the clip fragments
// the kind table takes the entries that carry them.
void InitMicrocodeCatalogue(MicrocodeCatalogue* catalogue, uint8_t clipFragments);
