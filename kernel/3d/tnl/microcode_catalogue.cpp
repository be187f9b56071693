#include "kernel/3d/tnl/microcode_catalogue.h"

#include <string.h>

namespace {

// The module-wide tables, and a finished catalogue without and with the
// clip fragments: filled once, read-only afterwards.
MicrocodeSharedTables g_sharedTables;
MicrocodeCatalogue g_catalogues[2];
bool g_sharedTablesFilled = false;

PatchRecipe PatchRecipeAt(uint16_t index) {
  if (index == kNoRecipe || index >= microcode::kPatchRecipeCount) return PatchRecipe{0, nullptr};
  const MicrocodeSpan span = microcode::kPatchRecipes[index];
  return PatchRecipe{span.count, microcode::kPatchRecords + span.first};
}

FixupRecipe FixupRecipeAt(uint16_t index) {
  if (index >= microcode::kFixupRecipeCount) return FixupRecipe{0, nullptr};
  const MicrocodeSpan span = microcode::kFixupRecipes[index];
  return FixupRecipe{span.count, microcode::kFixupRecords + span.first};
}

void InitFragmentDirectory(MicrocodeSharedTables* c) {
  for (uint32_t f = 0; f < kFragmentEntries; ++f) {
    FragmentDirEntry& e = c->directory[f];
    e.size = microcode::kFragmentBytes[f];
    e.code = microcode::kFragmentCode[f];
    e.entryCount = 0;
    e.entryPoints = nullptr;
  }
  c->directory[0] = FragmentDirEntry{kEmptyEntrySize, 0, nullptr, nullptr};
  c->directory[kFragmentWithEntries].entryCount = 3;
  c->directory[kFragmentWithEntries].entryPoints = microcode::kEntryTable304;
}

void FillLightTables(MicrocodeSharedTables* c) {
  for (unsigned i = 0; i < microcode::kLightPairRowCount; ++i) {
    const LightPairRow& row = microcode::kLightPairRows[i];
    if (row.key >= kLightKeyCount) continue;
    c->lightPair[row.key] = row.fragment;
    c->fixupRecipes[row.key] = FixupRecipeAt(row.fixup);
    for (int t = 0; t < 3; ++t) c->patchRecipes[t][row.key] = PatchRecipeAt(row.patch[t]);
  }
}

void FillExtraTables(MicrocodeSharedTables* c, uint8_t firstTable, uint8_t lastTable) {
  for (unsigned i = 0; i < microcode::kExtraRowCount; ++i) {
    const ExtraRecipeRow& row = microcode::kExtraRows[i];
    if (row.table < firstTable || row.table > lastTable) continue;
    c->extraRecipes[row.table][row.index] = PatchRecipeAt(row.recipe);
  }
}

void FillKindRows(MicrocodeCatalogue* c, const KindRow* rows, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    const KindRow& r = rows[i];
    if (r.t < 3 && r.s < 3 && r.a < 3 && r.c < 5 && r.k < 5) c->kind[r.t][r.s][r.a][r.c][r.k] = r.fragment;
  }
}

// A catalogue's own tables, after the shared tables are filled. With the
// clip fragments the kind table takes the entries that carry them.
void FillCatalogue(MicrocodeCatalogue* c, uint8_t clipFragments) {
  // The directory and the light-keyed tables are the module's; the
  // transform table is the catalogue's own.
  c->directory = g_sharedTables.directory;
  c->lightPair = g_sharedTables.lightPair;
  c->fixupRecipes = g_sharedTables.fixupRecipes;
  c->patchRecipes = g_sharedTables.patchRecipes;
  c->extraRecipes = g_sharedTables.extraRecipes;
  memset(c->transform, 0, sizeof c->transform);
  for (unsigned i = 0; i < microcode::kTransformRowCount; ++i) {
    const TransformRow& r = microcode::kTransformRows[i];
    if (r.i < 4 && r.j < 7 && r.l < 4) c->transform[r.i][r.j][r.l] = r.fragment;
  }

  // The defaults of the kind tables are real fragments, used wherever
  // no other entry applies (every entry with a = 2).
  for (auto& t : c->kind)
    for (auto& s : t)
      for (auto& a : s)
        for (auto& cc : a)
          for (uint32_t& k : cc) k = kFragmentKindDefault;
  for (auto& t : c->kind0)
    for (auto& s : t)
      for (uint32_t& a : s) a = kFragmentKind0Default;

  // The kind tables, the texture table and the counted lists.
  FillKindRows(c, microcode::kKindRows, microcode::kKindRowCount);
  if (clipFragments == 1) FillKindRows(c, microcode::kClipKindRows, microcode::kClipKindRowCount);
  for (unsigned i = 0; i < microcode::kKind0RowCount; ++i) {
    const KindRow& r = microcode::kKind0Rows[i];
    if (r.t < 3 && r.s < 3 && r.a < 3) c->kind0[r.t][r.s][r.a] = r.fragment;
  }
  for (int h = 0; h < 2; ++h)
    for (int w = 0; w < 64; ++w) c->texture[h][w] = microcode::kTextureTable[h][w];
  for (int i = 0; i < 4; ++i) {
    c->countedA[i] = PatchRecipeAt(microcode::kCountedA[i]);
    c->countedB[i] = PatchRecipeAt(microcode::kCountedB[i]);
  }
}

}  // namespace

void InitMicrocodeSharedTables() {
  if (g_sharedTablesFilled) return;
  MicrocodeSharedTables* c = &g_sharedTables;
  // The key-indexed tables start empty (static storage, filled once); then
  // the light tables with the first two extra tables, the directory, the
  // third extra table, and the two finished catalogues.
  FillLightTables(c);
  FillExtraTables(c, 0, 1);
  InitFragmentDirectory(c);
  FillExtraTables(c, 2, 2);
  FillCatalogue(&g_catalogues[0], 0);
  FillCatalogue(&g_catalogues[1], 1);
  g_sharedTablesFilled = true;
}

void InitMicrocodeCatalogue(MicrocodeCatalogue* c, uint8_t clipFragments) {
  InitMicrocodeSharedTables();
  *c = g_catalogues[clipFragments == 1 ? 1 : 0];
}
