// Program assembly and the program cache over the board's builder: linked
// programs read back as their fragments (placeholder fragments carry their
// fragment and instruction numbers in w2), the padding rules, the kind
// programs' fragment orders and entries, the fixed-function order, the
// light pairing rule, the key masks, the lookups and eviction.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <vector>

#include "kernel/3d/tnl/tests/program_fixture.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/sync_tags.h"

namespace {

uint32_t Field(const uint32_t* w, int word, int low, int width) { return w[word] >> low & ((1u << width) - 1); }

class AssemblyTest : public tnltest::ProgramBoard {
 protected:

  // The linked program's fragments in order. Placeholder instruction j of
  // fragment f holds f | j << 10 in w2, opcode (7f + j) & 0xFF in w2 bits
  // 23-30 and (1021f + 7j) & 0xFFFFF in w0's low bits; a patch may cover
  // w2's low bits (kinds 23, 24, 35) or w0's (kinds 0-5), not both.
  bool StartsFragment(const uint32_t* w, uint32_t* fragment) {
    const uint32_t opcode = Field(w, 2, 23, 8);
    const uint32_t f2 = Field(w, 2, 0, 10);
    if (Field(w, 2, 10, 10) == 0 && (7 * f2 & 0xFF) == opcode && f2 < kFragmentEntries) {
      *fragment = f2;
      return true;
    }
    const uint32_t low = Field(w, 0, 0, 20);
    if (low % 1021 == 0 && low / 1021 < kFragmentEntries && (7 * (low / 1021) & 0xFF) == opcode) {
      *fragment = low / 1021;
      return true;
    }
    return false;
  }
  std::vector<uint32_t> Fragments(const VertexProgram* p) {
    std::vector<uint32_t> out;
    const auto* w = reinterpret_cast<const uint32_t*>(p->code);
    const uint32_t n = p->codeSize / 12;
    uint32_t i = 0;
    while (i < n) {
      uint32_t f = 0;
      if (!StartsFragment(w + 3 * i, &f) || B()->catalogue.directory[f].size < 12) {
        ADD_FAILURE() << "no fragment at instruction " << i;
        return out;
      }
      out.push_back(f);
      i += B()->catalogue.directory[f].size / 12;
    }
    return out;
  }
  const uint32_t* Instruction(const VertexProgram* p, uint32_t index) {
    return reinterpret_cast<const uint32_t*>(p->code) + 3 * index;
  }
  // Fragments with runs of padding written as one 201 each followed by the
  // count: {201, n}.
  static std::vector<uint32_t> Folded(const std::vector<uint32_t>& fragments) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < fragments.size();) {
      if (fragments[i] != kFragmentPadding) {
        out.push_back(fragments[i++]);
        continue;
      }
      uint32_t n = 0;
      while (i < fragments.size() && fragments[i] == kFragmentPadding) ++n, ++i;
      out.push_back(kFragmentPadding);
      out.push_back(n);
    }
    return out;
  }
  VertexProgram* Kind(uint32_t kind) {
    VertexProgram* p = FindOrBuildKindProgram(B(), ProgramStateWord(render, tnl), kind, render, tnl, &list);
    return p;
  }
  uint32_t Size(uint32_t f) { return B()->catalogue.directory[f].size; }
};

// ---- Primitives -----------------------------------------------------------------------------

TEST_F(AssemblyTest, FrontPaddingFillsTheLastBlock) {
  const struct {
    uint32_t size, padding;
  } cases[] = {{384, 0}, {396, 31}, {0, 0}, {12 * 31, 1}, {768, 0}, {780, 31}};
  for (const auto& c : cases) {
    B()->ResetAssembly();
    B()->AppendFragment(2);
    EXPECT_EQ(B()->PadFrontToBlock(c.size), c.padding) << c.size;
    ASSERT_EQ(B()->fragments.size(), c.padding + 1);
    for (uint32_t i = 0; i < c.padding; ++i) EXPECT_EQ(B()->fragments[i].entry, kFragmentPadding);
    EXPECT_EQ(B()->fragments[c.padding].entry, 2u);
    EXPECT_EQ(B()->assembledSize, Size(2) + 12 * c.padding);
  }
  B()->ResetAssembly();
  uint32_t counter = 40;
  EXPECT_EQ(B()->PadToBlock(&counter, 2), 22u);
  EXPECT_EQ(counter, 62u);
}

TEST_F(AssemblyTest, RecordsPastTheirFragmentAreNotRecorded) {
  B()->ResetAssembly();
  EXPECT_FALSE(B()->AddPatchRecord(1, 1, 0)) << "no fragment yet";
  B()->AppendFragment(2);  // one instruction
  EXPECT_TRUE(B()->AddPatchRecord(1, 1, 0));
  EXPECT_FALSE(B()->AddPatchRecord(1, 1, 1));
  EXPECT_FALSE(B()->AddFixup(1, 0, 1));
  EXPECT_EQ(B()->fragments[0].patchCount, 1u);
  EXPECT_EQ(B()->fragments[0].fixupCount, 0u);
  EXPECT_FALSE(B()->AppendFragment(575));
  EXPECT_FALSE(B()->AppendFragment(0));
}

// ---- Kinds 2-6 ------------------------------------------------------------------------------

// Class 0 takes the full transform path: a = 1 (mode pair 1 gives 0).
TEST_F(AssemblyTest, KindSixWithClipFragmentsIsPaddedBeforeItsLastFragment) {
  B()->clipFragments = 1;
  tnl.modeClassClip = 2;  // mode pair 2, class 0
  const uint32_t main = B()->catalogue.kind[0][0][1][4][4];
  for (uint8_t flag2 : {0, 4}) {
    ClearList();
    tnl.flags4 = flag2;
    VertexProgram* p = Kind(6);
    ASSERT_NE(p, nullptr);
    const uint32_t before = Size(315) + Size(317) + Size(318) + Size(main);
    const uint32_t k = before / 12 % 32;
    const uint32_t pad = k == 0 ? 0 : 32 - k;
    std::vector<uint32_t> want;
    if (pad) want = {kFragmentPadding, pad};
    for (uint32_t f : {315u, 317u, 318u, main, flag2 ? 313u : 312u}) want.push_back(f);
    EXPECT_EQ(Folded(Fragments(p)), want);
    EXPECT_EQ(p->entryOffsets[6], pad);
    EXPECT_EQ(p->IsLoadPending(), 1u);
  }
}

TEST_F(AssemblyTest, KindSixWithoutClipFragmentsHasNoPaddingAndEntryZero) {
  B()->clipFragments = 0;
  tnl.modeClassClip = 2 | 3 << kTnlClipCountShift;  // three clip planes
  const struct {
    uint8_t third;
    uint32_t t, fog;
  } cases[] = {{0, 0, 0}, {0x02, 1, 309}, {0x40, 1, 309}};
  for (const auto& c : cases) {
    ClearList();
    render.thirdFlags = c.third;
    VertexProgram* p = Kind(6);
    ASSERT_NE(p, nullptr);
    const uint32_t main = B()->catalogue.kind[c.t][0][1][4][4];
    std::vector<uint32_t> want = {315, main};
    if (c.t > 0) want.push_back(308);
    want.push_back(311);
    EXPECT_EQ(Fragments(p), want) << int(c.third);
    EXPECT_EQ(p->entryOffsets[6], 0u);
    if (c.t > 0) {
      // The fog patch 2^(3 + 15) on the main fragment's first instruction.
      const uint32_t* w = Instruction(p, Size(315) / 12);
      EXPECT_EQ(Field(w, 1, 22, 10) | Field(w, 2, 0, 22) << 10, 1u << 18);
    }
  }
  // Five or more planes: t = 2.
  ClearList();
  tnl.modeClassClip = 2 | 5 << kTnlClipCountShift;
  render.thirdFlags = 2;
  VertexProgram* p = Kind(6);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Fragments(p), (std::vector<uint32_t>{315, B()->catalogue.kind[2][0][1][4][4], 309, 311}));
}

TEST_F(AssemblyTest, TheCountedFragmentFollows315) {
  B()->clipFragments = 0;
  tnl.modeClassClip = 2;
  tnl.coordGeneration = 1;
  render.entryCount = 3;
  render.entrySelectors[0] = 0x15;
  render.entrySelectors[2] = 7;
  VertexProgram* p = Kind(6);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Fragments(p), (std::vector<uint32_t>{315, 194, B()->catalogue.kind[0][0][1][4][4], 311}));
  // Patch lists A[0], B[0] then A[1], B[1]: selector & 15, entry + 3.
  std::vector<uint32_t> values;
  for (const PatchRecord& r : B()->patches) values.push_back(r.value);
  std::vector<uint32_t> want;
  for (uint32_t k = 0; k < 2; ++k) {
    const uint32_t a = k == 0 ? 5 : 7, b = k == 0 ? 3 : 5;
    for (uint32_t r = 0; r < B()->catalogue.countedA[k].count; ++r)
      if (B()->catalogue.countedA[k].records[r].instruction < Size(194) / 12) want.push_back(a);
    for (uint32_t r = 0; r < B()->catalogue.countedB[k].count; ++r)
      if (B()->catalogue.countedB[k].records[r].instruction < Size(194) / 12) want.push_back(b);
  }
  EXPECT_EQ(values, want);
}

TEST_F(AssemblyTest, MainFragment304GivesTheSubEntriesBehindThePadding) {
  tnl.modeClassClip = 2;
  B()->catalogue.kind[0][0][1][4][0] = 304;  // kind 2's main fragment
  VertexProgram* p = Kind(2);
  ASSERT_NE(p, nullptr);
  const uint32_t before = Size(304) + Size(315) + Size(316);
  const uint32_t k = before / 12 % 32;
  const uint32_t pad = k == 0 ? 0 : 32 - k;
  std::vector<uint32_t> want;
  if (pad) want = {kFragmentPadding, pad};
  for (uint32_t f : {304u, 315u, 316u, 305u}) want.push_back(f);
  EXPECT_EQ(Folded(Fragments(p)), want);
  EXPECT_EQ(p->hasEntryTable, 1);
  EXPECT_EQ(p->entryOffsets[2], pad);
  EXPECT_EQ(p->entryOffsets[4], pad);
  EXPECT_EQ(p->entryOffsets[3], pad + 4);
  EXPECT_EQ(p->entryOffsets[5], pad + 4);
}

TEST_F(AssemblyTest, OneFragmentKindSixPrograms) {
  // Class 2 (c from render first-flag bit 1), flag bit 2: the second path.
  tnl.modeClassClip = 2 << kTnlClassShift | 1;
  tnl.flags4 = 4;
  const struct {
    uint8_t third;     // t: 0, 1 (count below 5)
    uint32_t modeWord;
    uint8_t clip;
    uint8_t selector;  // s = 0, 1, 2 for 1, 2, 3
    uint32_t fragment;
    std::vector<std::pair<uint32_t, uint32_t>> kind29;  // (instruction, value)
  } cases[] = {
      {0, 0, 0, 1, 347, {}},
      {0, 3, 0, 1, 348, {}},
      {0, 3, 0, 2, 349, {}},
      {0, 3, 0, 3, 350, {}},
      {0, 3, 1, 1, 361, {}},
      {0, 3, 1, 2, 361, {{203, 1}}},
      {0, 3, 1, 3, 361, {{203, 1}, {229, 6}}},
      {2, 0, 0, 1, 352, {}},
      {2, 3, 0, 1, 353, {}},
      {2, 3, 0, 2, 354, {}},
      {2, 3, 0, 3, 355, {}},
      {2, 3, 1, 2, 362, {{280, 1}}},
      {2, 3, 1, 3, 362, {{280, 1}, {306, 6}}},
  };
  for (const auto& c : cases) {
    ClearList();
    render.thirdFlags = c.third;
    tnl.pointLineMode = c.modeWord;
    B()->clipFragments = c.clip;
    render.selector = c.selector;
    VertexProgram* p = Kind(6);
    ASSERT_NE(p, nullptr) << c.fragment;
    EXPECT_EQ(Fragments(p), std::vector<uint32_t>{c.fragment}) << c.fragment;
    for (const auto& [at, value] : c.kind29) EXPECT_EQ(Field(Instruction(p, at), 0, 14, 4), value) << c.fragment;
    EXPECT_EQ(Kind(2), nullptr) << "kinds 2-5 have no program here";
  }
}

TEST_F(AssemblyTest, KindZeroInClassTwoIsTheChain337To344) {
  tnl.modeClassClip = 2 << kTnlClassShift | 1;
  const struct {
    uint8_t option, third;
    uint32_t elements;
    std::vector<uint32_t> tail;  // after the padding (339 [340] pad)
    bool chain;
  } cases[] = {
      {0x00, 0, 1, {337}, false},
      {0x00, 2, 1, {338}, false},
      {0x10, 0, 1, {342, 343}, true},
      {0x50, 2, 3, {341, 344}, true},
  };
  for (const auto& c : cases) {
    tnl.flags6 = c.option;
    render.thirdFlags = c.third;
    render.elementCount = c.elements;
    B()->ResetAssembly();
    ASSERT_TRUE(B()->AssembleKind0Program(render, tnl));
    std::vector<uint32_t> got;
    for (const FragmentRef& f : B()->fragments) got.push_back(f.entry);
    std::vector<uint32_t> want;
    if (c.chain) {
      want.push_back(339);
      uint32_t count = Size(339) / 12;
      if (c.third) {
        want.push_back(340);
        count += Size(340) / 12;
      }
      for (uint32_t i = 0; i < (32 - count % 32) % 32; ++i) want.push_back(201);
    }
    want.insert(want.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(got, want) << int(c.option);
    VertexProgram p;
    p.ownsCode = 0;
    EXPECT_TRUE(B()->LinkInto(&p)) << "the linker takes it";
  }
}

// ---- Fixed-function programs ----------------------------------------------------------------

TEST_F(AssemblyTest, NoTransformInClassTwoIsOneTwoTheTexturePartAnd200) {
  tnl = TnlStateKey();
  tnl.flags4 = 0;
  tnl.modeClassClip = 2 << kTnlClassShift | 1;
  tnl.blendCount = 0;
  render.elementCount = 1;
  render.elements[0].flags = 0;  // four coordinates, sources 0
  RecentPrograms recent;
  VertexProgram* p = FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl);
  ASSERT_NE(p, nullptr);
  std::vector<uint32_t> want = {1, 2};
  for (uint32_t k = 0; k < 4; ++k)
    if (uint32_t f = B()->catalogue.texture[k >> 1][0]) want.push_back(f);
  want.push_back(200);
  EXPECT_EQ(Fragments(p), want);
  // Without elements the texture part is empty.
  render.elementCount = 0;
  p = FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Fragments(p), (std::vector<uint32_t>{1, 2, 200}));
}

TEST_F(AssemblyTest, TexturePatchesNameRegister89Plus4IPlusK) {
  tnl.blendCount = 1;
  tnl.flags4 = 0x80;
  render.elementCount = 2;
  for (uint32_t i = 0; i < 2; ++i) {
    render.elements[i].flags = 2 << 1;  // two coordinates
    render.elements[i].sources[0] = 0x21;
  }
  B()->ResetAssembly();
  B()->SelectTextureFragments(tnl, render);
  // Per appended component fragment: kind 9 = r & 15, kind 17 = r >> 4.
  std::vector<std::pair<uint32_t, uint32_t>> got;  // (kind 9, kind 17)
  uint32_t p = 0;
  for (const FragmentRef& f : B()->fragments) {
    uint32_t k9 = 99, k17 = 99;
    for (uint32_t r = 0; r < f.patchCount; ++r, ++p) {
      if (B()->patches[p].kind == 9) k9 = B()->patches[p].value;
      if (B()->patches[p].kind == 17) k17 = B()->patches[p].value;
    }
    if (f.entry >= 471) got.push_back({k9, k17});
  }
  std::vector<std::pair<uint32_t, uint32_t>> want;
  for (uint32_t i = 0; i < 2; ++i)
    for (uint32_t k = 0; k < 2; ++k) {
      const uint32_t source = k == 0 ? 1 : 2;
      if (B()->catalogue.texture[0][(source * 2 + 1) * 2] == 0) continue;
      const uint32_t r = 89 + 4 * i + k;
      want.push_back({r & 15, r >> 4 & 7});
    }
  EXPECT_EQ(got, want);
  EXPECT_FALSE(want.empty());
}

TEST_F(AssemblyTest, LightsPairByTheNineRows) {
  const struct {
    uint32_t counts[3];
    uint32_t left[3];
    uint32_t bits, kind;
  } rows[] = {
      {{2, 0, 0}, {0, 0, 0}, 10, 1}, {{1, 1, 0}, {0, 0, 0}, 8, 1}, {{1, 0, 3}, {0, 0, 2}, 12, 1},
      {{1, 0, 0}, {0, 0, 0}, 2, 1},  {{0, 2, 1}, {0, 0, 1}, 8, 0}, {{0, 1, 1}, {0, 0, 0}, 12, 0},
      {{0, 1, 0}, {0, 0, 0}, 0, 0},  {{0, 0, 2}, {0, 0, 0}, 12, 2}, {{0, 0, 1}, {0, 0, 0}, 4, 2},
  };
  for (const auto& r : rows) {
    uint32_t counts[3] = {r.counts[0], r.counts[1], r.counts[2]};
    uint32_t bits = 99, kind = 99;
    ASSERT_TRUE(VertexProgramBuilder::NextLightStep(counts, &bits, &kind));
    EXPECT_EQ(bits, r.bits) << r.counts[0] << r.counts[1] << r.counts[2];
    EXPECT_EQ(kind, r.kind);
    EXPECT_EQ(std::vector<uint32_t>(counts, counts + 3), std::vector<uint32_t>(r.left, r.left + 3));
  }
  uint32_t none[3] = {0, 0, 0}, bits, kind;
  EXPECT_FALSE(VertexProgramBuilder::NextLightStep(none, &bits, &kind));
  // Two directional lights and a spot: the spot is taken off first, then
  // one pair of code 12 (+ 16 without second-flag bit 4) with the light
  // number 1 as the fix-ups' block.
  tnl.spotLights = 1;
  tnl.directionalLights = 2;
  tnl.flags5 = 0;
  B()->ResetAssembly();
  B()->SelectLightFragments(tnl, render);
  const uint32_t key = LightPairKey(12 + 16, 2, 0, 0, 0);
  ASSERT_EQ(B()->fragments.size(), 1u);
  EXPECT_EQ(B()->fragments[0].entry, B()->catalogue.lightPair[key]);
  EXPECT_EQ(B()->fragments[0].fixupCount, B()->catalogue.fixupRecipes[key].count);
  for (const FixupRecord& f : B()->fixups) EXPECT_EQ(f.block, 1u);
}

// ---- The cache ------------------------------------------------------------------------------

TEST_F(AssemblyTest, TheMaskTableHoldsThePartsRows) {
  const uint32_t kind0[6] = {0xFF0019E3, 0xFF0019E3, 0xFF0099E3, 0xFF0019E3, 0xFF0019E3, 0xFF0019E3};
  const uint32_t kind0m2[6] = {0xFF0019E3, 0xFF0019E3, 0xFF0098E3, 0xFF0019E3, 0xFF0019E3, 0xFF0019E3};
  const uint32_t kind23[6] = {0xFF001903, 0xFF001903, 0xFF00811F, 0xFF001903, 0xFF001903, 0xFF001903};
  const uint32_t kind23m2[6] = {0xFF00011F, 0xFF00011F, 0xFF008503, 0xFF00011F, 0xFF00011F, 0xFF00011F};
  const uint32_t kind45[6] = {0xFF001900, 0xFF001900, 0xFF00811C, 0xFF001900, 0xFF001900, 0xFF001900};
  const uint32_t kind45m2[6] = {0xFF001900, 0xFF001900, 0xFF008500, 0xFF001900, 0xFF001900, 0xFF001900};
  const uint32_t kind6[6][6] = {
      {0xFF001BE3, 0xFF0003E3, 0xFF0083FF, 0xFF0003E3, 0xFF0003E3, 0xFF0003E3},
      {0xFF0003FF, 0xFF001BFF, 0xFF0083FF, 0xFF0003FF, 0xFF0003FF, 0xFF0003FF},
      {0xFF0003FF, 0xFF0003FF, 0xFF0083FF, 0xFF0003FF, 0xFF0003FF, 0xFF0003FF},
      {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF001BE3, 0xFF0003E3, 0xFF001BE3},
      {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF0003E3, 0xFF001BE3, 0xFF0003E3},
      {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF001BE3, 0xFF0003E3, 0xFF001BE3},
  };
  uint32_t checked = 0;
  for (uint32_t kind = 0; kind < 7; ++kind)
    for (uint32_t stored = 0; stored < 6; ++stored)
      for (uint32_t current = 0; current < 6; ++current) {
        uint32_t want = 0;
        switch (kind) {
          case 0: want = (stored == 2 ? kind0m2 : kind0)[current]; break;
          case 1: want = 0xFF000100; break;
          case 2:
          case 3: want = (stored == 2 ? kind23m2 : kind23)[current]; break;
          case 4:
          case 5: want = (stored == 2 ? kind45m2 : kind45)[current]; break;
          default: want = kind6[stored][current]; break;
        }
        EXPECT_EQ(ProgramKeyMask(kind, stored, current), want) << kind << " " << stored << " " << current;
        ++checked;
      }
  EXPECT_EQ(checked, 252u);
  EXPECT_EQ(ProgramKeyMask(7, 0, 0), 0u);
  EXPECT_EQ(ProgramKeyMask(6, 6, 0), 0u);
}

TEST_F(AssemblyTest, KeyMatchesFollowTheSelectorAndOptionRules) {
  // A program keyed in class 2 with option bit 4, element count 2 and
  // selector 1; then the current state changes one thing at a time.
  tnl.modeClassClip = 2 << kTnlClassShift | 1;
  tnl.flags6 = 0x10;
  render.elementCount = 2;
  render.selector = 1;
  struct Case {
    const char* name;
    uint32_t kind;
    std::function<void(TnlProgramInputs&, TnlStateKey&)> change;
    bool match;
  };
  const Case cases[] = {
      {"kind 0, same state", 0, [](auto&, auto&) {}, true},
      {"kind 0, option bit 4 differs", 0, [](auto&, auto& t) { t.flags6 = 0; }, false},
      {"kind 0, option bit 5 differs", 0, [](auto&, auto& t) { t.flags6 = 0x30; }, false},
      {"kind 0, element count 6 (same low bits)", 0, [](auto& r, auto&) { r.elementCount = 6; }, false},
      {"kind 0, element count 3", 0, [](auto& r, auto&) { r.elementCount = 3; }, false},
      {"kind 6, selector differs", 6, [](auto& r, auto&) { r.selector = 2; }, false},
      {"kind 4, selector differs", 4, [](auto& r, auto&) { r.selector = 2; }, true},
      {"kind 2, same", 2, [](auto&, auto&) {}, true},
  };
  for (const Case& c : cases) {
    VertexProgram p;
    p.SetKey(c.kind, render, tnl);
    TnlProgramInputs r = render;
    TnlStateKey t = tnl;
    c.change(r, t);
    EXPECT_EQ(ProgramKeyMatches(&p, ProgramStateWord(r, t), c.kind, r, t), c.match) << c.name;
  }
  // Kinds 2, 3 and 6 keyed with both clip bits match any selector.
  render.secondFlags = 0x30;
  VertexProgram p;
  p.SetKey(6, render, tnl);
  TnlProgramInputs r = render;
  r.selector = 3;
  EXPECT_TRUE(ProgramKeyMatches(&p, ProgramStateWord(r, tnl), 6, r, tnl));
}

TEST_F(AssemblyTest, AKindSixProgramOfClassZeroIsFoundInClassOne) {
  tnl.modeClassClip = 1;  // class 0
  VertexProgram* built = Kind(6);
  ASSERT_NE(built, nullptr);
  built->SetLoadPending(0);
  tnl.modeClassClip = 1 | 1 << kTnlClassShift;  // class 1: mask FF0003E3
  EXPECT_EQ(ProgramKeyMask(6, 0, 1), 0xFF0003E3u);
  EXPECT_EQ(Kind(6), built);
  EXPECT_EQ(built->IsLoadPending(), 1u);
  EXPECT_EQ(list.Count(), 1u);
  // Bits the mask keeps tell programs apart: a clip-plane count.
  tnl.modeClassClip = 1 | 1 << kTnlClassShift | 1 << kTnlClipCountShift;
  EXPECT_NE(Kind(6), built);
  EXPECT_EQ(list.Count(), 2u);
}

TEST_F(AssemblyTest, RecentHitsStayAndListHitsGoRoundRobin) {
  RecentPrograms recent;
  std::vector<VertexProgram*> built;
  for (uint32_t i = 0; i < 7; ++i) {
    render.elementCount = 1;
    render.elements[0].firstWord = i;
    built.push_back(FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl));
    ASSERT_NE(built.back(), nullptr);
  }
  // Built 0..6 went to 1, 2, 3, 4, 0, 1, 2: the index is 2.
  EXPECT_EQ(recent.index, 2u);
  const RecentPrograms before = recent;
  render.elements[0].firstWord = 5;  // in the array
  EXPECT_EQ(FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl), built[5]);
  EXPECT_EQ(memcmp(&recent, &before, sizeof recent), 0) << "a recent hit reorders nothing";
  render.elements[0].firstWord = 0;  // only in the list
  EXPECT_EQ(FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl), built[0]);
  EXPECT_EQ(recent.index, 3u);
  EXPECT_EQ(recent.programs[3], built[0]);
  EXPECT_EQ(list.Count(), 7u);
}

TEST_F(AssemblyTest, EvictionTakesTheOldestFreeProgramOrNone) {
  RecentPrograms recent;
  SharedLocked()->syncTagCounter = 0x800;
  SharedLocked()->completedTag = 0x7F8;
  render.elementCount = 1;
  for (uint32_t i = 0; i < 682; ++i) {
    render.elements[0].firstWord = 1000 + i;
    VertexProgram* p = FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl);
    ASSERT_NE(p, nullptr);
    p->tag = 0x800;  // not passed
  }
  ASSERT_EQ(list.Count(), 682u);
  render.elements[0].firstWord = 5000;
  ASSERT_NE(FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl), nullptr);
  EXPECT_EQ(list.Count(), 683u) << "none passed: the list grows";

  // Passed now; the oldest five each hold one reason to stay.
  SharedLocked()->completedTag = 0x800;
  VertexProgramNode* n = list.Head();
  VertexProgram* kept[5];
  for (VertexProgram*& k : kept) {
    k = n->program;
    n = list.Next(n);
  }
  VertexProgram* victim = n->program;
  kept[0]->resident = 1;
  kept[1]->permanent = 1;
  kept[2]->TakeReference();
  kept[3]->inBatch = 1;
  kept[4]->reclaimable = 0;
  recent = RecentPrograms{};
  B()->EvictProgram(&list, &recent);
  EXPECT_EQ(list.Count(), 682u);
  std::vector<VertexProgram*> left;
  for (VertexProgramNode* m = list.Head(); m != nullptr; m = list.Next(m)) left.push_back(m->program);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(left[i], kept[i]);
  EXPECT_NE(left[5], victim) << "the first free program went";
  kept[0]->resident = 0;
  kept[1]->permanent = 0;
  kept[2]->DropReference();
  kept[3]->inBatch = 0;
  kept[4]->reclaimable = 1;
  // Excluded by the recent array: the next one goes instead.
  recent.programs[2] = kept[0];
  B()->EvictProgram(&list, &recent);
  EXPECT_EQ(list.Head()->program, kept[0]);
  EXPECT_EQ(list.Next(list.Head())->program, kept[2]);
}

TEST_F(AssemblyTest, EachStepOfTheFixedFunctionMatchSeesItsField) {
  // A state in which every step runs: five world matrices, lighting, both
  // auxiliary bytes, polygon offset, mode-2 pair, class 2 with option bit 4.
  tnl.blendCount = 5;
  tnl.modeClassClip = 2 | 2 << kTnlClassShift | 1 << kTnlClipCountShift;
  tnl.flags4 = 0x04 | 0x10;
  tnl.flags6 = 0x10;
  tnl.spotLights = 1;
  tnl.pointLineMode = 3;
  render.firstFlags = 0x08;
  render.aux = TnlAuxRecord{1, 1, 2, 1, 0};
  render.elementCount = 1;
  render.elements[0].firstWord = 7;
  render.elementWords[0] = 2;
  VertexProgram program;
  program.SetFixedFunctionKey(render, tnl);
  ASSERT_TRUE(program.MatchesFixedFunctionKey(render, tnl));
  struct Step {
    const char* name;
    std::function<void(TnlProgramInputs&, TnlStateKey&)> change;
  };
  const Step steps[] = {
      {"1: flag word 0x90A", [](auto&, auto& t) { t.flags5 ^= 0x08; }},
      {"1: element flag bit 2", [](auto& r, auto&) { r.elementFlags ^= 4; }},
      {"1: second aux byte", [](auto& r, auto&) { r.aux.second = 0; }},
      {"1: first flag bit 4", [](auto& r, auto&) { r.firstFlags ^= 0x10; }},
      {"1: count", [](auto&, auto& t) { t.modeClassClip ^= 1 << kTnlClipCountShift; }},
      {"1: transform word", [](auto&, auto& t) { t.blendCount = 2; }},
      {"2: mode pair 2", [](auto&, auto& t) { t.modeClassClip ^= 3; }},
      {"3: flag bit 7", [](auto&, auto& t) { t.flags4 ^= 0x80; }},
      {"4: aux mode", [](auto& r, auto&) { r.aux.mode = 2; }},
      {"5: flag word 0x600 at five", [](auto&, auto& t) { t.flags5 ^= 0x02; }},
      {"6: light counts", [](auto&, auto& t) { t.pointLights = 1; }},
      {"6: colour source 0", [](auto&, auto& t) { t.colourSources[0] = 1; }},
      {"6: further word", [](auto& r, auto&) { r.furtherWord ^= 1; }},
      {"7: class 4", [](auto&, auto& t) { t.modeClassClip = (t.modeClassClip & ~0x1C) | 4 << kTnlClassShift; }},
      {"8: mode word", [](auto&, auto& t) { t.pointLineMode = 1; }},
      {"9: flag bit 4", [](auto&, auto& t) { t.flags4 ^= 0x10; }},
      {"10: element word", [](auto& r, auto&) { r.elementWords[0] = 3; }},
      {"10: element first word", [](auto& r, auto&) { r.elements[0].firstWord = 8; }},
      {"10: element count", [](auto& r, auto&) { r.elementCount = 2; }},
      {"11: option bit 4", [](auto&, auto& t) { t.flags6 ^= 0x10; }},
  };
  for (const Step& s : steps) {
    TnlProgramInputs r = render;
    TnlStateKey t = tnl;
    s.change(r, t);
    EXPECT_FALSE(program.MatchesFixedFunctionKey(r, t)) << s.name;
  }
  // Back colour sources count only outside mode pair 2.
  TnlStateKey t = tnl;
  t.colourSources[1] = 2;
  EXPECT_TRUE(program.MatchesFixedFunctionKey(render, t));
}

TEST_F(AssemblyTest, AFailedAllocationLeavesNoProgramOnTheList) {
  RecentPrograms recent;
  tnl.blendCount = 1;
  bool built = false;
  for (uint64_t nth = 1; nth < 20 && !built; ++nth) {
    glue.FailAllocation(nth, kglue::AllocKind::kMemory);
    VertexProgram* p = FindOrBuildFixedFunctionProgram(B(), &list, &recent, render, tnl);
    glue.FailAllocation(0);
    built = p != nullptr;
    EXPECT_EQ(list.Count(), built ? 1u : 0u) << nth;
  }
  EXPECT_TRUE(built);
}

}  // namespace
