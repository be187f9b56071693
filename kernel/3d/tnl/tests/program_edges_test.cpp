// The vertex programs' edges: the linker takes the last entry of the
// fragment directory it is given and refuses the entry one past it, even
// when memory behind the directory holds a fragment; and the program
// cache tells a point size of 2.0 or more from a smaller one where the key
// keeps that bit (vertex-processing mode 2), so that two look-ups that
// differ only there build two programs.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/3d/tnl/program_linker.h"
#include "kernel/3d/tnl/tests/program_fixture.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

namespace {

// ---- The directory's edge ---------------------------------------------------------------------

// Three fragments of one instruction each; the linker is told of the
// first two only, so the third lies just past the directory it knows.
TEST(ProgramLinkerEdges, TheLastDirectoryEntryLinksAndTheOnePastItIsRefused) {
  const uint32_t code[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  const FragmentDirEntry directory[3] = {
      {12, 0, code[0], nullptr}, {12, 0, code[1], nullptr}, {12, 0, code[2], nullptr}};
  constexpr size_t kKnown = 2;
  struct Row {
    const char* name;
    uint32_t entry;
    bool links;
    std::vector<uint32_t> words;
  };
  const Row rows[] = {
      {"the last entry", kKnown - 1, true, {4, 5, 6}},
      {"one past the last", kKnown, false, {0xDD, 0xDD, 0xDD}},
      {"two past the last", kKnown + 1, false, {0xDD, 0xDD, 0xDD}},
  };
  for (const Row& row : rows) {
    std::vector<uint32_t> out(3, 0xDD);
    const FragmentRef ref{row.entry, 0, 0};
    const ProgramLists lists{&ref, 1, nullptr, 0, nullptr, 0};
    EXPECT_EQ(LinkVertexProgram(lists, directory, kKnown, reinterpret_cast<uint8_t*>(out.data()), 12), row.links)
        << row.name;
    EXPECT_EQ(out, row.words) << row.name;
  }
  // One bad reference among good ones refuses the whole program.
  const FragmentRef refs[] = {{0, 0, 0}, {kKnown, 0, 0}};
  const ProgramLists lists{refs, 2, nullptr, 0, nullptr, 0};
  std::vector<uint32_t> out(6, 0xDD);
  EXPECT_FALSE(LinkVertexProgram(lists, directory, kKnown, reinterpret_cast<uint8_t*>(out.data()), 24));
  EXPECT_EQ(out, std::vector<uint32_t>(6, 0xDD));
}

// ---- The large-point bit of the program key ----------------------------------------------------

class ProgramKeys : public tnltest::ProgramBoard {
 protected:
  VertexProgram* Find(uint32_t kind, float pointSize) {
    render.pointSize = pointSize;
    const uint32_t state = ProgramStateWord(render, tnl);
    return kind == 0 ? FindOrBuildVertexProgram(B(), state, 0, render, tnl, &list)
                     : FindOrBuildKindProgram(B(), state, kind, render, tnl, &list);
  }
};

// Two look-ups that differ only in the point size: where the key keeps the
// large-point bit (vertex-processing mode 2) a size of 2.0 or more and one
// below it get a program each; sizes on the same side of 2.0, or any sizes
// in a mode whose key leaves the bit out, share one.
TEST_F(ProgramKeys, APointSizeOfTwoOrMoreIsItsOwnProgramInModeTwo) {
  struct Row {
    const char* name;
    uint32_t kind, mode;
    float first, second;
    bool twoPrograms;
  };
  const Row rows[] = {
      {"kind 0, mode 2: 1.0 and 2.0", 0, 2, 1.0f, 2.0f, true},
      {"kind 0, mode 2: 2.0 and 1.0", 0, 2, 2.0f, 1.0f, true},
      {"kind 0, mode 2: 1.9999 and 2.0", 0, 2, 1.9999f, 2.0f, true},
      {"kind 0, mode 2: 2.0 and 64.0", 0, 2, 2.0f, 64.0f, false},
      {"kind 0, mode 2: 0.5 and 1.9999", 0, 2, 0.5f, 1.9999f, false},
      {"kind 0, mode 0: 1.0 and 2.0", 0, 0, 1.0f, 2.0f, false},
      {"kind 6, mode 2: 1.0 and 2.0", 6, 2, 1.0f, 2.0f, true},
      {"kind 6, mode 2: 3.0 and 2.0", 6, 2, 3.0f, 2.0f, false},
      {"kind 6, mode 1: 1.0 and 2.0", 6, 1, 1.0f, 2.0f, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClearList();
    tnl = TnlStateKey();
    render = TnlProgramInputs{};
    tnl.modeClassClip = static_cast<uint8_t>(row.mode << kTnlClassShift | 1);
    VertexProgram* first = Find(row.kind, row.first);
    ASSERT_NE(first, nullptr);
    VertexProgram* second = Find(row.kind, row.second);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second != first, row.twoPrograms);
    EXPECT_EQ(list.Count(), row.twoPrograms ? 2u : 1u);
    // Each size finds its own program again.
    EXPECT_EQ(Find(row.kind, row.first), first);
    EXPECT_EQ(Find(row.kind, row.second), second);
    EXPECT_EQ(list.Count(), row.twoPrograms ? 2u : 1u);
  }
}

}  // namespace
