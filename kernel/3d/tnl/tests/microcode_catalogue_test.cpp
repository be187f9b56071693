// The fragment catalogue after InitMicrocodeCatalogue: the directory's
// shape, the named recipes and telling rows, the defaults of the kind
// tables, what the clip fragments change, and that every number and
// every recipe record stays inside what it refers to.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string.h>
#include <vector>

#include "kernel/3d/tnl/microcode_catalogue.h"

namespace {

std::unique_ptr<MicrocodeCatalogue> Made(uint8_t clip) {
  auto c = std::make_unique<MicrocodeCatalogue>();
  InitMicrocodeCatalogue(c.get(), clip);
  return c;
}

uint32_t Instructions(const MicrocodeCatalogue& c, uint32_t fragment) {
  return c.directory[fragment].size / 12;
}

TEST(MicrocodeCatalogue, TheDirectoryHasTheLibrarysShape) {
  auto c = Made(0);
  EXPECT_EQ(c->directory[0].size, 8u);
  EXPECT_EQ(c->directory[0].code, nullptr);
  std::vector<uint32_t> sizes;
  uint64_t total = 0;
  unsigned withEntries = 0;
  for (uint32_t f = 1; f < kFragmentEntries; ++f) {
    const FragmentDirEntry& e = c->directory[f];
    ASSERT_NE(e.code, nullptr) << f;
    ASSERT_EQ(e.size % 12, 0u) << f;
    sizes.push_back(e.size);
    total += e.size;
    if (e.entryCount != 0) ++withEntries;
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes.size(), 574u);
  EXPECT_EQ(total, 468504u);
  EXPECT_EQ(sizes.front(), 12u);
  EXPECT_EQ(sizes.back(), 6744u);
  EXPECT_EQ((sizes[286] + sizes[287]) / 2, 120u) << "median";
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 12u), 201);
  EXPECT_EQ(c->directory[201].size, 12u) << "the padding fragment";
  EXPECT_EQ(withEntries, 1u);
  ASSERT_EQ(c->directory[304].entryCount, 3u);
  EXPECT_EQ(std::vector<uint32_t>(c->directory[304].entryPoints, c->directory[304].entryPoints + 3),
            (std::vector<uint32_t>{0, 0, 4}));
  EXPECT_GT(Instructions(*c, 304), 4u);
  // Fragments the assembly patches are longer than the instructions it
  // patches in them.
  const std::pair<uint32_t, uint32_t> patched[] = {{6, 7},    {65, 3},   {80, 5},
                                                   {339, 45}, {341, 475}, {342, 134},
                                                   {345, 6},  {361, 230}, {362, 307}};
  for (const auto& [fragment, instruction] : patched)
    EXPECT_GT(Instructions(*c, fragment), instruction) << fragment;
}

std::vector<std::pair<uint32_t, uint32_t>> Records(const FixupRecipe& r) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t i = 0; i < r.count; ++i) out.push_back({r.records[i].instruction, r.records[i].selector});
  return out;
}

TEST(MicrocodeCatalogue, NamedRecipesAndTellingRows) {
  auto c = Made(0);
  using R = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Named {
    const char* name;
    uint32_t p, k, count;
    R records;  // empty: only the count is known
  };
  const Named named[] = {
      {"aPI1L", 0, 0, 5, {{0, 0}, {3, 1}, {7, 1}, {8, 2}, {9, 2}}},
      {"aPL1L", 1, 0, 4, {{0, 0}, {4, 2}, {7, 1}, {9, 2}}},
      {"aSI1L", 2, 1, 7, {{0, 0}, {3, 1}, {4, 2}, {5, 1}, {8, 1}, {9, 2}, {10, 2}}},
      {"aSL1L", 3, 1, 6, {{0, 0}, {4, 2}, {5, 1}, {8, 1}, {9, 2}, {10, 2}}},
      {"aDI1L", 4, 2, 4, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
      {"aDL1L", 5, 2, 4, {{0, 0}, {1, 2}, {2, 1}, {4, 1}}},
      {"aPI2L", 8, 0, 10, {}},   {"aPL2L", 9, 0, 8, {}},    {"aSPL2L", 9, 1, 10, {}},
      {"aSI2L", 10, 1, 14, {}},  {"aSL2L", 11, 1, 12, {}},  {"aPDI2L", 12, 0, 9, {}},
      {"aSDI2L", 12, 1, 11, {}}, {"aDI2L", 12, 2, 8, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}}},
      {"aSDL2L", 13, 1, 10, {}}, {"aDL2L", 13, 2, 8, {}},
  };
  for (const Named& n : named) {
    const FixupRecipe& r = c->fixupRecipes[LightPairKey(n.p, n.k, 0, 0, 0)];
    EXPECT_EQ(r.count, n.count) << n.name;
    if (!n.records.empty()) {
      EXPECT_EQ(Records(r), n.records) << n.name;
    }
  }
  EXPECT_EQ(LightPairKey(4, 2, 0, 0, 0), 648u);
  EXPECT_EQ(Records(c->fixupRecipes[0]).size(), 5u);

  // Single point light, infinite and local viewer; single directional light.
  struct Telling {
    uint32_t p, k;
    std::set<uint32_t> fragments;
  };
  const Telling telling[] = {{0, 0, {387, 388, 389}}, {1, 0, {405, 406, 407}}, {4, 2, {363, 365, 367}}};
  for (const Telling& t : telling) {
    std::set<uint32_t> seen;
    for (uint32_t a = 0; a < 3; ++a)
      for (uint32_t b = 0; b < 3; ++b)
        for (uint32_t d = 0; d < 4; ++d) seen.insert(c->lightPair[LightPairKey(t.p, t.k, a, b, d)]);
    EXPECT_EQ(seen, t.fragments) << "pair code " << t.p;
  }
}

TEST(MicrocodeCatalogue, KeyedTablesHoldTheirCountsAndStayInsideTheirFragments) {
  auto c = Made(0);
  unsigned filled = 0;
  std::set<uint32_t> fragments;
  std::set<const FixupRecipeRecord*> fixups;
  std::set<const PatchRecipeRecord*> arrays[3];
  unsigned patchKeys[3] = {};
  std::set<uint32_t> patchSizes[3];
  for (uint32_t key = 0; key < kLightKeyCount; ++key) {
    const uint32_t f = c->lightPair[key];
    if (f == 0) {
      EXPECT_EQ(c->fixupRecipes[key].count, 0u) << key;
      for (int t = 0; t < 3; ++t) EXPECT_EQ(c->patchRecipes[t][key].count, 0u) << key;
      continue;
    }
    ++filled;
    fragments.insert(f);
    const FixupRecipe& fx = c->fixupRecipes[key];
    ASSERT_GE(fx.count, 4u) << key;
    ASSERT_LE(fx.count, 26u) << key;
    fixups.insert(fx.records);
    for (uint32_t i = 0; i < fx.count; ++i) {
      EXPECT_LT(fx.records[i].instruction, Instructions(*c, f)) << key;
      EXPECT_LE(fx.records[i].selector, 2u) << key;
    }
    for (int t = 0; t < 3; ++t) {
      const PatchRecipe& p = c->patchRecipes[t][key];
      if (p.count == 0) continue;
      ++patchKeys[t];
      arrays[t].insert(p.records);
      patchSizes[t].insert(p.count);
      for (uint32_t i = 0; i < p.count; ++i) {
        EXPECT_LT(p.records[i].instruction, Instructions(*c, f)) << key;
        EXPECT_LE(p.records[i].kind, 35u) << key;
      }
    }
  }
  EXPECT_EQ(filled, 2592u);
  EXPECT_EQ(fragments.size(), 108u);
  EXPECT_EQ(*fragments.begin(), 363u);
  EXPECT_EQ(*fragments.rbegin(), 470u);
  EXPECT_EQ(fixups.size(), 108u);
  EXPECT_EQ(patchKeys[0], 972u);
  EXPECT_EQ(patchKeys[1], 1278u);
  EXPECT_EQ(patchKeys[2], 1230u);
  EXPECT_EQ(arrays[0].size(), 87u);
  EXPECT_EQ(arrays[1].size(), 141u);
  EXPECT_EQ(arrays[2].size(), 137u);
  EXPECT_EQ(patchSizes[0], (std::set<uint32_t>{1, 2, 5, 10}));
  EXPECT_EQ(patchSizes[1], (std::set<uint32_t>{1, 2, 5, 10}));
  EXPECT_EQ(patchSizes[2], (std::set<uint32_t>{1, 2, 3, 5, 10}));

  // Extra tables: the first patches the light-pair fragment of its (code, kind).
  const std::set<uint32_t> extraSizes[3] = {{1, 2}, {1}, {6, 8, 10, 16}};
  const unsigned extraCounts[3] = {28, 18, 36};
  for (int t = 0; t < 3; ++t) {
    unsigned entries = 0;
    for (uint32_t index = 0; index < 256; ++index) {
      const PatchRecipe& p = c->extraRecipes[t][index];
      if (p.count == 0) continue;
      ++entries;
      EXPECT_TRUE(extraSizes[t].count(p.count)) << t << " " << index;
      if (t != 0) continue;
      for (uint32_t a = 0; a < 3; ++a) {
        const uint32_t f = c->lightPair[LightPairKey(index / 4, index % 4, a, 0, 0)];
        ASSERT_NE(f, 0u) << "extra recipe " << index << " of an empty key";
        for (uint32_t i = 0; i < p.count; ++i) EXPECT_LT(p.records[i].instruction, Instructions(*c, f));
      }
    }
    EXPECT_EQ(entries, extraCounts[t]) << "extra table " << t;
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(c->countedA[i].count, 2u);
    ASSERT_EQ(c->countedB[i].count, 6u);
    for (uint32_t r = 0; r < 2; ++r) EXPECT_EQ(c->countedA[i].records[r].value, 0u);
    for (uint32_t r = 0; r < 6; ++r) EXPECT_EQ(c->countedB[i].records[r].value, 0u);
  }
}

TEST(MicrocodeCatalogue, FragmentNumberTablesKeepTheirRangesAndDefaults) {
  auto c = Made(0);
  for (int t = 0; t < 3; ++t)
    for (int s = 0; s < 3; ++s) {
      EXPECT_EQ(c->kind0[t][s][2], 326u);
      for (int a = 0; a < 2; ++a) {
        EXPECT_GE(c->kind0[t][s][a], 327u);
        EXPECT_LE(c->kind0[t][s][a], 336u);
      }
      for (int cc = 0; cc < 5; ++cc)
        for (int k = 0; k < 5; ++k) {
          EXPECT_EQ(c->kind[t][s][2][cc][k], 325u) << "a = 2 keeps the default";
          for (int a = 0; a < 2; ++a) {
            EXPECT_GE(c->kind[t][s][a][cc][k], 229u);
            EXPECT_LE(c->kind[t][s][a][cc][k], 325u);
          }
        }
    }
  std::set<uint32_t> transform;
  for (auto& i : c->transform)
    for (auto& j : i)
      for (uint32_t f : j)
        if (f != 0) transform.insert(f);
  EXPECT_EQ(*transform.begin(), 111u);
  EXPECT_EQ(*transform.rbegin(), 166u);
  std::set<uint32_t> texture;
  for (const auto& half : c->texture) {
    for (int pair = 0; pair < 12; ++pair) EXPECT_EQ(half[2 * pair + 1], 0u) << "first twelve pairs: first word only";
    for (uint32_t f : half)
      if (f != 0) texture.insert(f);
  }
  EXPECT_EQ(texture.size(), 104u);
  EXPECT_EQ(*texture.begin(), 471u);
  EXPECT_EQ(*texture.rbegin(), 574u);
}

TEST(MicrocodeCatalogue, ClipFragmentsChangeExactlyThirtySixKindEntries) {
  auto off = Made(0);
  auto on = Made(1);
  std::map<std::pair<uint32_t, uint32_t>, int> changes;
  int changed = 0;
  for (int t = 0; t < 3; ++t)
    for (int s = 0; s < 3; ++s)
      for (int a = 0; a < 3; ++a)
        for (int cc = 0; cc < 5; ++cc)
          for (int k = 0; k < 5; ++k) {
            const uint32_t before = off->kind[t][s][a][cc][k], after = on->kind[t][s][a][cc][k];
            if (before == after) continue;
            ++changed;
            if (before == 306) {
              EXPECT_EQ(after, 307u);
              ++changes[{306, 307}];
            } else {
              EXPECT_GE(before, 236u);
              EXPECT_LE(before, 241u);
              EXPECT_TRUE(after == 242 || after == 243) << after;
              ++changes[{236, 242}];
            }
          }
  EXPECT_EQ(changed, 36);
  EXPECT_EQ((changes[{306, 307}]), 18);
  EXPECT_EQ((changes[{236, 242}]), 18);
  // Nothing else depends on the flag: the directory and the keyed tables
  // are the module's, read in place by every catalogue.
  EXPECT_EQ(off->directory, on->directory);
  EXPECT_EQ(off->lightPair, on->lightPair);
  EXPECT_EQ(off->fixupRecipes, on->fixupRecipes);
  EXPECT_EQ(off->patchRecipes, on->patchRecipes);
  EXPECT_EQ(off->extraRecipes, on->extraRecipes);
  EXPECT_EQ(memcmp(off->kind0, on->kind0, sizeof off->kind0), 0);
}

}  // namespace
