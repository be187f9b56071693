// Linking: each patch kind writes only its field (the field table is
// written out here from the instruction word's description), fix-ups
// renumber by seven registers per block, records stay with their fragment,
// bad lists write nothing, and a linked program read back by a small
// disassembler shows each catalogue instruction with its changes.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "kernel/3d/tnl/microcode_catalogue.h"
#include "kernel/3d/tnl/program_linker.h"

namespace {

// A run of bits of one word that a patch writes, taking the value's bits
// from `from` up.
struct Bits {
  int word, low, high, from;
};
struct KindFields {
  int kind;
  std::vector<Bits> bits;
};

// The patch kinds: field and width, the aliases 18, 28 and 29, and the
// split values of kinds 23 and 35.
const KindFields kKinds[] = {
    {0, {{0, 0, 3, 0}}},   {1, {{0, 4, 7, 0}}},   {2, {{0, 8, 9, 0}}},   {3, {{0, 10, 13, 0}}},
    {4, {{0, 14, 17, 0}}}, {5, {{0, 18, 19, 0}}}, {6, {{0, 20, 23, 0}}}, {7, {{0, 24, 24, 0}}},
    {8, {{0, 25, 26, 0}}}, {9, {{0, 27, 30, 0}}}, {10, {{0, 31, 31, 0}}}, {11, {{1, 0, 1, 0}}},
    {12, {{1, 2, 5, 0}}},  {13, {{1, 6, 6, 0}}},  {14, {{1, 7, 8, 0}}},  {15, {{1, 9, 12, 0}}},
    {16, {{1, 13, 13, 0}}}, {17, {{1, 14, 16, 0}}}, {18, {{1, 0, 1, 0}}}, {19, {{1, 20, 21, 0}}},
    {20, {{1, 22, 24, 0}}}, {21, {{1, 25, 26, 0}}}, {22, {{1, 27, 29, 0}}},
    {23, {{1, 30, 31, 0}, {2, 0, 9, 2}}},
    {24, {{2, 10, 21, 0}}}, {25, {{2, 22, 22, 0}}}, {26, {{2, 23, 30, 0}}}, {27, {{2, 31, 31, 0}}},
    {28, {{0, 10, 13, 0}}}, {29, {{0, 14, 17, 0}}}, {30, {{0, 18, 18, 0}}}, {31, {{0, 19, 19, 0}}},
    {32, {{0, 20, 24, 0}}}, {33, {{0, 27, 31, 0}}}, {34, {{1, 2, 6, 0}}},
    {35, {{1, 22, 31, 0}, {2, 0, 21, 10}}},
};

uint32_t RunMask(const Bits& b) {
  const int width = b.high - b.low + 1;
  return (width == 32 ? 0xFFFFFFFFu : (1u << width) - 1) << b.low;
}

// The words the test's own table expects from writing value into the kind's
// field(s) of `before`.
std::vector<uint32_t> Expected(const KindFields& k, std::vector<uint32_t> w, uint32_t value) {
  for (const Bits& b : k.bits) {
    const uint32_t mask = RunMask(b);
    w[b.word] = (w[b.word] & ~mask) | (((value >> b.from) << b.low) & mask);
  }
  return w;
}

// A directory of test fragments.
struct TestLibrary {
  std::vector<std::vector<uint32_t>> code;
  std::vector<FragmentDirEntry> directory;
  void Add(std::vector<uint32_t> words) {
    code.push_back(std::move(words));
    directory.clear();
    for (const auto& c : code)
      directory.push_back(FragmentDirEntry{static_cast<uint32_t>(c.size() * 4), 0, c.data(), nullptr});
  }
};

std::vector<uint32_t> LinkOne(const std::vector<uint32_t>& words, const std::vector<PatchRecord>& patches,
                              const std::vector<FixupRecord>& fixups, bool* ok = nullptr) {
  TestLibrary lib;
  lib.Add(words);
  const FragmentRef ref{0, static_cast<uint32_t>(patches.size()), static_cast<uint32_t>(fixups.size())};
  const ProgramLists lists{&ref, 1, patches.data(), patches.size(), fixups.data(), fixups.size()};
  std::vector<uint32_t> out(words.size(), 0xDDDDDDDD);
  const bool linked = LinkVertexProgram(lists, lib.directory.data(), lib.directory.size(),
                                        reinterpret_cast<uint8_t*>(out.data()), out.size() * 4);
  if (ok != nullptr) *ok = linked;
  return out;
}

TEST(ProgramLinker, EachPatchKindWritesOnlyItsFieldTruncated) {
  const std::vector<uint32_t> zeros = {0, 0, 0}, ones = {~0u, ~0u, ~0u};
  const uint32_t values[] = {0xFFFFFFFF, 0, 0xA5A5A5A5, 0x00010000, 0x5A5};
  for (const KindFields& k : kKinds) {
    for (const auto& before : {zeros, ones}) {
      for (uint32_t v : values) {
        EXPECT_EQ(LinkOne(before, {{0, static_cast<uint32_t>(k.kind), v}}, {}), Expected(k, before, v))
            << "kind " << k.kind << " value " << std::hex << v;
      }
    }
  }
  // The example of kind 35: 0x00010000 gives w1 bits 22-31 = 0, w2 bits 0-21 = 0x40.
  EXPECT_EQ(LinkOne({0, 0xFFFFFFFF, 0xFFFFFFFF}, {{0, 35, 0x00010000}}, {}),
            (std::vector<uint32_t>{0, 0x003FFFFF, 0xFFC00040}));
  // Kinds above 35 leave the instruction unchanged.
  for (uint32_t kind : {36u, 37u, 100u, 0xFFFFFFFFu})
    EXPECT_EQ(LinkOne({1, 2, 3}, {{0, kind, 0xFFFFFFFF}}, {}), (std::vector<uint32_t>{1, 2, 3})) << kind;
}

TEST(ProgramLinker, FixupsRenumberBySevenRegistersPerBlock) {
  struct Case {
    uint32_t kind, block;
    std::vector<uint32_t> before, after;
  };
  const Case cases[] = {
      // Operand 5 in register field 2, block 2: 19 = field 3, high bits 1, selector 1.
      {1, 2, {5u << 27, 0, 0}, {3u << 27, 1u << 14 | 1u << 17, 0}},
      {0, 2, {0, 5u << 2, 0}, {0, 3u << 2 | 1u << 14, 0}},
      {2, 2, {5u << 20, 0, 0}, {3u << 20, 1u << 14 | 2u << 17, 0}},
      // Old high bits are not added; a large block wraps within the fields.
      {0, 1, {0, 15u << 2 | 7u << 14 | 7u << 17, 0}, {0, 6u << 2 | 1u << 14, 0}},
      {2, 40, {15u << 20, 0, 0}, {7u << 20, 2u << 14 | 2u << 17, 0}},  // 295: high bits 0x12 & 7
      {1, 0, {0xFFFFFFFF, 0, 0}, {0xFFFFFFFF, 1u << 17, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LinkOne(c.before, {}, {{0, c.kind, c.block}}), c.after) << c.kind << " " << c.block;
}

TEST(ProgramLinker, RecordsStayWithTheirFragments) {
  TestLibrary lib;
  lib.Add({0, 0, 0, 0, 0, 0});  // two instructions
  lib.Add({0, 0, 0});           // one, no records
  lib.Add({0, 0, 0, 0, 0, 0});
  // Fragment 0: a fix-up of kind 3 (consumed, not applied), a patch on
  // instruction 1; fragment 1 none; fragment 2: a fix-up and a patch.
  const FragmentRef refs[] = {{0, 1, 1}, {1, 0, 0}, {2, 1, 1}};
  const PatchRecord patches[] = {{1, 0, 0xF}, {0, 12, 0x9}};
  const FixupRecord fixups[] = {{0, 3, 5}, {1, 1, 1}};
  std::vector<uint32_t> out(15, 0xDDDDDDDD);
  const ProgramLists lists{refs, 3, patches, 2, fixups, 2};
  ASSERT_TRUE(LinkVertexProgram(lists, lib.directory.data(), lib.directory.size(),
                                reinterpret_cast<uint8_t*>(out.data()), out.size() * 4));
  EXPECT_EQ(out, (std::vector<uint32_t>{0, 0, 0, 0xF, 0, 0,  // fragment 0
                                        0, 0, 0,              // fragment 1 untouched
                                        0, 0x9u << 2, 0,      // fragment 2: patch on 0
                                        7u << 27, 1u << 17, 0}));  // fix-up on 1
}

TEST(ProgramLinker, BadListsWriteNothing) {
  TestLibrary lib;
  lib.Add({1, 2, 3, 4, 5, 6});  // entry 0: two instructions
  lib.Add({7, 8, 9});
  FragmentDirEntry noCode{12, 0, nullptr, nullptr};
  std::vector<FragmentDirEntry> dir = lib.directory;
  dir.push_back(noCode);
  struct Case {
    const char* name;
    std::vector<FragmentRef> refs;
    std::vector<PatchRecord> patches;
    std::vector<FixupRecord> fixups;
    size_t destination;
  };
  const Case cases[] = {
      {"a patch past the fragment", {{1, 0, 0}, {0, 1, 0}}, {{2, 0, 1}}, {}, 36},
      {"a fix-up past the fragment", {{0, 0, 1}}, {}, {{2, 0, 1}}, 36},
      {"more patches counted than remain", {{0, 2, 0}}, {{0, 0, 1}}, {}, 36},
      {"more fix-ups counted than remain", {{0, 0, 1}, {1, 0, 1}}, {}, {{0, 0, 1}}, 36},
      {"a destination smaller than the fragments", {{0, 0, 0}, {1, 0, 0}}, {}, {}, 35},
      {"an entry beyond the directory", {{3, 0, 0}}, {}, {}, 36},
      {"an entry without code", {{2, 0, 0}}, {}, {}, 36},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(48, 0xDD);
    const ProgramLists lists{c.refs.data(), c.refs.size(), c.patches.data(), c.patches.size(),
                             c.fixups.data(), c.fixups.size()};
    EXPECT_FALSE(LinkVertexProgram(lists, dir.data(), dir.size(), out.data(), c.destination)) << c.name;
    EXPECT_EQ(out, std::vector<uint8_t>(48, 0xDD)) << c.name;
  }
}

// ---- A disassembler of linked programs --------------------------------------------
// Placeholder fragments carry their fragment and instruction numbers in w2
// bits 0-9 and 10-19; the register fields are read by the instruction
// word's field table.
struct Decoded {
  uint32_t fragment, instruction, reg1, reg2, reg3, high, selector, opcode;
  bool operator==(const Decoded&) const = default;
};

uint32_t Field(const uint32_t* w, int word, int low, int width) {
  return w[word] >> low & ((1u << width) - 1);
}

Decoded Disassemble(const uint32_t* w) {
  return Decoded{Field(w, 2, 0, 10), Field(w, 2, 10, 10), Field(w, 1, 2, 4),  Field(w, 0, 27, 4),
                 Field(w, 0, 20, 4), Field(w, 1, 14, 3),  Field(w, 1, 17, 3), Field(w, 2, 23, 8)};
}

std::ostream& operator<<(std::ostream& os, const Decoded& d) {
  return os << "(" << d.fragment << ", " << d.instruction << ") r1 " << d.reg1 << " r2 " << d.reg2
            << " r3 " << d.reg3 << " high " << d.high << " sel " << d.selector << " op " << d.opcode;
}

TEST(ProgramLinker, ALinkedProgramReadsBackAsItsFragmentsWithTheirChanges) {
  auto catalogue = std::make_unique<MicrocodeCatalogue>();
  InitMicrocodeCatalogue(catalogue.get(), 0);
  const MicrocodeCatalogue& c = *catalogue;
  // A single point light (key 0: its fragment with aPI1L, block 2), the
  // padding fragment, fragment 6 with four patches of kind 4, fragment 65
  // without records, a directional light (key 648, aDI1L, block 1) and
  // fragment 361 with a kind-29 patch at instruction 203.
  std::vector<FragmentRef> refs;
  std::vector<FixupRecord> fixups;
  std::vector<PatchRecord> patches;
  auto light = [&](uint32_t key, uint32_t block) {
    const FixupRecipe& r = c.fixupRecipes[key];
    refs.push_back({c.lightPair[key], 0, r.count});
    for (uint32_t i = 0; i < r.count; ++i) fixups.push_back({r.records[i].instruction, r.records[i].selector, block});
  };
  light(0, 2);
  refs.push_back({kFragmentPadding, 0, 0});
  refs.push_back({6, 4, 0});
  for (uint32_t i = 3; i <= 6; ++i) patches.push_back({i, 4, 2});
  refs.push_back({65, 0, 0});
  light(648, 1);
  refs.push_back({361, 1, 0});
  patches.push_back({203, 29, 1});

  size_t bytes = 0;
  for (const FragmentRef& r : refs) bytes += c.directory[r.entry].size;
  std::vector<uint32_t> program(bytes / 4);
  const ProgramLists lists{refs.data(), refs.size(), patches.data(), patches.size(), fixups.data(), fixups.size()};
  ASSERT_TRUE(LinkVertexProgram(lists, c.directory, kFragmentEntries,
                                reinterpret_cast<uint8_t*>(program.data()), bytes));

  // The listing the records call for, from the catalogue's own words.
  std::vector<Decoded> expected;
  std::vector<std::vector<uint32_t>> expectedWords;
  std::vector<bool> renumbered;
  size_t fix = 0, pat = 0;
  for (const FragmentRef& r : refs) {
    const FragmentDirEntry& e = c.directory[r.entry];
    const size_t first = expected.size();
    for (uint32_t i = 0; i < e.size / 12; ++i) {
      expected.push_back(Disassemble(e.code + 3 * i));
      expectedWords.push_back({e.code[3 * i], e.code[3 * i + 1], e.code[3 * i + 2]});
      renumbered.push_back(false);
      ASSERT_EQ(expected.back().fragment, r.entry);
      ASSERT_EQ(expected.back().instruction, i);
      ASSERT_EQ(expected.back().high, 0u) << "catalogue operands are 0-15";
    }
    for (uint32_t n = 0; n < r.fixupCount; ++n, ++fix) {
      Decoded& d = expected[first + fixups[fix].instruction];
      renumbered[first + fixups[fix].instruction] = true;
      uint32_t* field = fixups[fix].kind == 0 ? &d.reg1 : fixups[fix].kind == 1 ? &d.reg2 : &d.reg3;
      const uint32_t reg = *field + 7 * fixups[fix].block;
      *field = reg & 15;
      d.high = reg >> 4 & 7;
      d.selector = fixups[fix].kind;
    }
    for (uint32_t n = 0; n < r.patchCount; ++n, ++pat) {
      std::vector<uint32_t>& w = expectedWords[first + patches[pat].instruction];
      w = Expected(kKinds[patches[pat].kind], w, patches[pat].value);
    }
  }
  ASSERT_EQ(expected.size(), program.size() / 3);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(Disassemble(&program[3 * i]), expected[i]) << "instruction " << i;
    if (!renumbered[i]) {
      EXPECT_EQ(std::vector<uint32_t>(&program[3 * i], &program[3 * i] + 3), expectedWords[i])
          << "instruction " << i << ": copied, or patched in its field only";
    }
  }
  // The patched fields (none of them a register field) hold the values.
  size_t at = 0, patchedSeen = 0;
  pat = 0;
  for (const FragmentRef& r : refs) {
    for (uint32_t n = 0; n < r.patchCount; ++n, ++pat) {
      const size_t i = at + patches[pat].instruction;
      const std::vector<uint32_t> got(&program[3 * i], &program[3 * i] + 3);
      EXPECT_EQ(got, Expected(kKinds[patches[pat].kind], got, patches[pat].value));
      EXPECT_EQ(got[0] >> 14 & 15, patches[pat].kind == 4 ? 2u : got[0] >> 14 & 15);
      ++patchedSeen;
    }
    at += c.directory[r.entry].size / 12;
  }
  EXPECT_EQ(patchedSeen, 5u);
}

}  // namespace
