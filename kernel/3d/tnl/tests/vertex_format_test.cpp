// Vertex formats from codes, declarations and layout records: where each
// attribute lands, the strides, the defaults of absent attributes, the
// element words bit for bit (written out by hand here), and every input
// that must be refused.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/3d/tnl/vertex_format.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

// The declaration's constant list allocates through the kernel glue.
class VertexFormatDeclaration : public ::testing::Test {
 protected:
  orvsim::Simulation sim;
  kglue::Glue glue;
};

// Element word fields, spelt out: offset, stream, usage, type, defaults,
// write mask, described.
constexpr uint32_t Elem(uint32_t offset, uint32_t stream, uint32_t usage, uint32_t type,
                        uint32_t defaults, uint32_t writes) {
  return offset | stream << 8 | usage << 11 | type << 15 | defaults << 20 | writes << 24 |
         0x40000000u;
}

struct ElemCase {
  uint32_t index;
  uint32_t word;
};

struct FvfCase {
  const char* name;
  uint32_t code;
  uint32_t stride;
  std::vector<ElemCase> elements;
};

TEST(VertexFormatFvf, CodesPlaceAttributesAndDefaults) {
  const FvfCase cases[] = {
      {"position, normal, diffuse, one set", 0x152, 36,
       {{0, 0x47818000}, {4, 0x47819803}, {8, 0x41042806}, {16, 0x43813807},
        {9, Elem(6, 0, 6, 0, 0, 0)}, {17, Elem(7, 0, 7, 0, 8, 0)}}},
      {"pre-transformed, diffuse, specular, one set", 0x1C4, 32,
       {{0, Elem(0, 0, 0, 4, 0, 15)}, {8, Elem(4, 0, 5, 8, 0, 1)}, {9, Elem(5, 0, 6, 8, 0, 1)},
        {16, Elem(6, 0, 7, 2, 8, 3)}, {4, 0}}},
      {"one weight packed as indices", 0x1006, 16,
       {{2, 0}, {3, Elem(3, 0, 2, 9, 0, 1)}, {4, Elem(3, 0, 3, 0, 8, 0)}}},
      {"three weights, the last as indices, point size", 0x102A, 28,
       {{2, Elem(3, 0, 1, 2, 0, 3)}, {3, Elem(5, 0, 2, 9, 0, 1)}, {7, Elem(6, 0, 4, 1, 0, 8)}}},
      {"four float weights", 0xC, 28, {{2, Elem(3, 0, 1, 4, 0, 15)}}},
      {"position alone: absent normal, diffuse, specular", 0x2, 12,
       {{4, Elem(0, 0, 3, 0, 8, 0)}, {8, Elem(0, 0, 5, 0, 15, 0)}, {9, Elem(0, 0, 6, 0, 0, 0)},
        {16, Elem(0, 0, 7, 0, 8, 0)}, {23, Elem(0, 0, 7, 0, 8, 0)}}},
      {"eight sets of each format", 0x2 | 0x800 | 0xE4E40000, 12 + 4 * (2 + 3 + 4 + 1 + 2 + 3 + 4 + 1),
       {{16, Elem(3, 0, 7, 2, 8, 3)}, {17, Elem(5, 0, 7, 3, 8, 7)}, {18, Elem(8, 0, 7, 4, 0, 15)},
        {19, Elem(12, 0, 7, 1, 8, 1)}, {23, Elem(22, 0, 7, 1, 8, 1)}}},
  };
  for (const FvfCase& c : cases) {
    auto f = std::make_unique<VertexFormat>();
    ASSERT_EQ(f->FromFvf(c.code), 0u) << c.name;
    EXPECT_EQ(f->kind, uint32_t{kVtxFormatFvf}) << c.name;
    EXPECT_EQ(f->built, 1) << c.name;
    EXPECT_EQ(f->streamOffset[0], c.stride) << c.name;
    for (const ElemCase& e : c.elements)
      EXPECT_EQ(f->elements[e.index].word, e.word) << c.name << ", element " << e.index;
  }
  auto f = std::make_unique<VertexFormat>();
  ASSERT_EQ(f->FromFvf(0x1C4), 0u);
  EXPECT_EQ(f->present.wellKnown, 1);
  EXPECT_EQ(f->present.preTransformed, 1);
  ASSERT_EQ(f->FromFvf(0x1006), 0u);
  EXPECT_EQ(f->blendWeightCount, 0u);
  EXPECT_EQ(f->present.blendWeights, 1);
  EXPECT_EQ(f->present.blendIndices, 1);
  EXPECT_EQ(f->present.wellKnown, 0);
  ASSERT_EQ(f->FromFvf(0x152), 0u);
  EXPECT_EQ(f->texComponents[0], 2u);
  EXPECT_EQ(f->present.diffuse, 1);
  EXPECT_EQ(f->present.specular, 0);
}

TEST(VertexFormatFvf, CodesOutsideTheFormatAreRefused) {
  const uint32_t refused[] = {
      0x0,     // no position
      0xE,     // position kind 7
      0x1002,  // indices without weights
      0x1004,  // indices on a pre-transformed position
      0x902,   // nine texture sets: the element table holds eight
      0xF02,
  };
  for (uint32_t code : refused) {
    auto f = std::make_unique<VertexFormat>();
    EXPECT_EQ(f->FromFvf(code), 1u) << std::hex << code;
    EXPECT_EQ(f->built, 0) << std::hex << code;
  }
}

// Declaration tokens.
constexpr uint32_t Stream(uint32_t s) { return 1u << 29 | s; }
constexpr uint32_t Data(uint32_t reg, uint32_t type) { return 2u << 29 | type << 16 | reg; }
constexpr uint32_t Skip(uint32_t words) { return 2u << 29 | 1u << 28 | words << 16; }
constexpr uint32_t Consts(uint32_t n, uint32_t first) { return 4u << 29 | n << 25 | first; }
constexpr uint32_t kEnd = 0xE0000000;

std::vector<uint32_t> Decl(uint32_t program, std::vector<uint32_t> tokens) {
  std::vector<uint32_t> words = {0xAAAA, 0xBBBB, program};
  words.insert(words.end(), tokens.begin(), tokens.end());
  return words;
}

TEST_F(VertexFormatDeclaration, StreamsOffsetsSkipsAndConstants) {
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
    std::vector<uint32_t> strides;  // streams 0..
    std::vector<ElemCase> elements;
  };
  const Case cases[] = {
      {"position and diffuse: the default normal at the position", 
       Decl(0, {Stream(1), Data(0, 2), Data(5, 4), kEnd}), {0, 16},
       {{0, Elem(0, 1, 0, 3, 8, 7)}, {8, Elem(3, 1, 5, 8, 0, 1)}, {4, Elem(0, 1, 3, 0, 8, 0)},
        {9, Elem(0, 1, 6, 0, 0, 0)}}},
      {"a skip grows the offset by its words", 
       Decl(0, {Stream(0), Data(0, 2), Skip(2), Data(5, 4), Data(7, 1), kEnd}), {32},
       {{8, Elem(5, 0, 5, 8, 0, 1)}, {16, Elem(6, 0, 7, 2, 8, 3)}}},
      {"two streams; point size writes w only", 
       Decl(0, {Stream(0), Data(0, 3), Stream(3), Data(4, 0), Data(16, 2), kEnd}), {16, 0, 0, 16},
       {{0, Elem(0, 0, 0, 4, 0, 15)}, {7, Elem(0, 3, 4, 1, 8, 8)}, {5, Elem(1, 3, 2, 3, 8, 7)}}},
      {"program mode: the register is the element",
       Decl(1, {Stream(0), Data(20, 7), Data(3, 6), kEnd}), {12},
       {{20, Elem(0, 0, 4, 13, 0, 3)}, {3, Elem(2, 0, 3, 11, 8, 1)}, {4, 0}, {8, 0}}},
      {"constants end the selection; a new selector goes on",
       Decl(0, {Stream(0), Data(0, 2), Consts(2, 9), 1, 2, 3, 4, 5, 6, 7, 8, Stream(1), Data(3, 2), kEnd}),
       {12, 12}, {{4, Elem(0, 1, 3, 3, 8, 7)}}},
  };
  for (const Case& c : cases) {
    auto f = std::make_unique<VertexFormat>();
    ASSERT_EQ(f->FromDeclaration(c.words.data(), c.words.size()), 0u) << c.name;
    EXPECT_EQ(f->kind, uint32_t{kVtxFormatDeclaration}) << c.name;
    for (size_t s = 0; s < c.strides.size(); ++s)
      EXPECT_EQ(f->streamOffset[s], c.strides[s]) << c.name << ", stream " << s;
    for (const ElemCase& e : c.elements)
      EXPECT_EQ(f->elements[e.index].word, e.word) << c.name << ", element " << e.index;
  }
  auto f = std::make_unique<VertexFormat>();
  const auto words = cases[4].words;
  ASSERT_EQ(f->FromDeclaration(words.data(), words.size()), 0u);
  ASSERT_EQ(f->constants.size(), 2u);
  EXPECT_EQ(f->constants[0].reg, 9u);
  EXPECT_EQ(f->constants[1].reg, 10u);
  EXPECT_EQ(f->constants[1].value[3], 8u);
  EXPECT_EQ(f->streamUsed[0] + f->streamUsed[1] + f->streamUsed[2], 2);
  EXPECT_EQ(f->fixedFunction, 1u);
  const auto program = cases[3].words;
  ASSERT_EQ(f->FromDeclaration(program.data(), program.size()), 0u);
  EXPECT_EQ(f->fixedFunction, 0u);
  EXPECT_TRUE(f->constants.empty()) << "a new build starts with no constants";
}

TEST_F(VertexFormatDeclaration, RefusedTokens) {
  std::vector<uint32_t> longRun = {Stream(0)};
  for (int i = 0; i < 17; ++i) longRun.push_back(Skip(15));  // 255 words
  longRun.push_back(Data(0, 0));
  longRun.push_back(kEnd);
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {"stream 2 selected twice", Decl(0, {Stream(2), Data(0, 2), Stream(2), kEnd})},
      {"a selector with bit 28", Decl(0, {Stream(0) | 1u << 28, kEnd})},
      {"stream 8", Decl(0, {Stream(8), kEnd})},
      {"data before a selector", Decl(0, {Data(0, 2), kEnd})},
      {"data after constants without a new selector",
       Decl(0, {Stream(0), Consts(1, 0), 1, 2, 3, 4, Data(0, 2), kEnd})},
      {"token type 3", Decl(0, {Stream(0), 3u << 29, kEnd})},
      {"token type 5", Decl(0, {Stream(0), 5u << 29, kEnd})},
      {"token type 6", Decl(0, {Stream(0), 6u << 29, kEnd})},
      {"no end token", Decl(0, {Stream(0), Data(0, 2)})},
      {"constants past the end", Decl(0, {Stream(0), Consts(2, 0), 1, 2, 3, 4, 5, 6, 7})},
      {"fixed-function register 17", Decl(0, {Stream(0), Data(17, 2), kEnd})},
      {"program register 24", Decl(1, {Stream(0), Data(24, 2), kEnd})},
      {"data type 8", Decl(0, {Stream(0), Data(0, 8), kEnd})},
      {"data type 15", Decl(0, {Stream(0), Data(0, 15), kEnd})},
      {"a running offset past 255 words", Decl(0, longRun)},
      {"fewer words than the header", {0, 0}},
  };
  for (const Case& c : cases) {
    auto f = std::make_unique<VertexFormat>();
    EXPECT_EQ(f->FromDeclaration(c.words.data(), c.words.size()), 1u) << c.name;
  }
  // The same run one word shorter fits.
  longRun[17] = Skip(14);
  auto f = std::make_unique<VertexFormat>();
  const auto fits = Decl(0, longRun);
  EXPECT_EQ(f->FromDeclaration(fits.data(), fits.size()), 0u);
  EXPECT_EQ(f->elements[0].word, Elem(254, 0, 0, 1, 8, 1));
}

TEST(VertexFormatLayout, RecordsPlaceAttributesPerStream) {
  struct Case {
    const char* name;
    uint32_t record[6];
    std::vector<uint32_t> strides;
    std::vector<ElemCase> elements;
  };
  const Case cases[] = {
      {"offset 255 packs after the stream's previous attribute",
       // position 3 floats s0 @0; normal s0 packed; diffuse format 2 s1 @0; set 0 two floats s0 packed
       {0x1 | 0x4 | 0x20 | 2u << 16, 0x100, 0x0, 0x0000FF00, 0, 0xFF}, {32, 4},
       {{0, Elem(0, 0, 0, 3, 8, 7)}, {4, Elem(3, 0, 3, 3, 8, 7)}, {8, Elem(0, 1, 5, 7, 0, 1)},
        {16, Elem(6, 0, 7, 2, 8, 3)}, {9, Elem(0, 0, 6, 0, 0, 0)}, {17, Elem(0, 0, 8, 0, 8, 0)},
        {20, 0}}},
      {"point size follows the position's stream; element 6 and 10",
       {0x2 | 1u << 28 | 0x80 | 1u << 29 | 0x500 | 0x800, 0x20002000, 0, 0x05000000, 0x09000005, 0},
       {36, 0, 40},
       {{0, Elem(0, 0, 0, 4, 0, 15)}, {7, Elem(4, 0, 4, 1, 0, 8)}, {6, Elem(5, 2, 4, 3, 8, 7)},
        {9, Elem(5, 0, 6, 4, 0, 15)}, {10, Elem(9, 2, 0, 1, 0, 1)}, {4, Elem(0, 0, 3, 0, 12, 0)}}},
      {"specular format 6 reads ones, the normal absent", {0x3 | 0x600, 0, 0, 0, 0, 0}, {8},
       {{0, Elem(0, 0, 0, 13, 0, 3)}, {9, Elem(0, 0, 6, 0, 15, 0)}, {8, Elem(0, 0, 5, 0, 8, 0)}}},
      {"offsets out of order: the stride covers the furthest",
       {0x1 | 0x4, 0, 0, 0x00000004, 0, 0}, {28}, {{0, Elem(4, 0, 0, 3, 8, 7)}, {4, Elem(0, 0, 3, 3, 8, 7)}}},
  };
  for (const Case& c : cases) {
    auto f = std::make_unique<VertexFormat>();
    ASSERT_EQ(f->FromLayout(c.record), 0u) << c.name;
    EXPECT_EQ(f->kind, uint32_t{kVtxFormatLayout}) << c.name;
    EXPECT_EQ(f->sourceSixth, c.record[5]) << c.name;
    for (size_t s = 0; s < c.strides.size(); ++s)
      EXPECT_EQ(f->streamOffset[s], c.strides[s]) << c.name << ", stream " << s;
    for (const ElemCase& e : c.elements)
      EXPECT_EQ(f->elements[e.index].word, e.word) << c.name << ", element " << e.index;
  }
  auto f = std::make_unique<VertexFormat>();
  ASSERT_EQ(f->FromLayout(cases[1].record), 0u);
  EXPECT_EQ(f->present.pointSize, 1);
  EXPECT_EQ(f->present.extra1, 1);
  EXPECT_EQ(f->present.preTransformed, 1);
  EXPECT_EQ(f->streamUsed[0] + f->streamUsed[2], 2);
  EXPECT_EQ(f->streamUsed[1], 0);
}

TEST(VertexFormatLayout, FormatsOutsideTheTablesAndLongOffsetsAreRefused) {
  struct Case {
    const char* name;
    uint32_t record[6];
  };
  const Case cases[] = {
      {"diffuse format 7", {0x1 | 0x70, 0, 0, 0, 0, 0}},
      {"specular format 7", {0x1 | 0x700, 0, 0, 0, 0, 0}},
      {"texture format 5", {0x1 | 5u << 16, 0, 0, 0, 0, 0}},
      {"texture 3 format 7", {0x1 | 7u << 25, 0, 0, 0, 0, 0}},
      {"normal format 2", {0x1 | 0x8, 0, 0, 0, 0, 0}},
      {"element 10 format 2", {0x1 | 2u << 29, 0, 0, 0, 0, 0}},
      {"an offset byte of 254 for three words", {0x1, 0, 0, 254, 0, 0}},
      {"packing past 255 words", {0x1 | 0x4, 0, 0, 0x0000FFFC, 0, 0}},
  };
  for (const Case& c : cases) {
    auto f = std::make_unique<VertexFormat>();
    EXPECT_EQ(f->FromLayout(c.record), 1u) << c.name;
    EXPECT_EQ(f->built, 0) << c.name;
  }
}

}  // namespace
