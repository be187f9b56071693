// Vertex attribute fetch and conversion: the formats as a table, the slot
// layout, and converted vertices as the board's attribute path receives
// them (culling, points and sprites, projected texture coordinates, flat
// colours).
#include <gtest/gtest.h>

#include <math.h>

#include "kernel/3d/draw/tests/draw_fixture.h"

namespace {

using dtest::Bits;
using dtest::Element;
using dtest::Float;
using dtest::kUseDiffuse;
using dtest::kUsePosition;
using dtest::kUseSize;
using dtest::kUseSpecular;
using dtest::kUseTexture0;

constexpr uint32_t kOne = 0x3F800000;

// ---- Formats -----------------------------------------------------------------------------------

TEST(VertexFetchFormats, EachCodeConverts) {
  struct Row {
    const char* name;
    Element element;
    std::vector<uint8_t> bytes;
    uint32_t out[4];
  };
  auto f = [](float x) { return Bits(x); };
  auto s16 = [](std::initializer_list<int16_t> v) {
    std::vector<uint8_t> b;
    for (int16_t x : v) {
      b.push_back(static_cast<uint8_t>(x & 0xFF));
      b.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
    }
    return b;
  };
  const std::vector<uint8_t> colour = {255, 0, 128, 255};
  const Row rows[] = {
      {"code 1", Element(0, 0, 1, 5), colour, {f(255), f(0), f(128), f(255)}},
      {"code 2", Element(0, 0, 2, 5), colour, {kOne, 0, f(128.0f / 255.0f), kOne}},
      {"code 3", Element(0, 0, 3, 5), colour, {255, 0, 128, 255}},
      {"code 7", Element(0, 0, 7, 5), colour, {255, 0, 128, 255}},
      {"code 5", Element(0, 0, 5, 5), colour, {f(128), f(0), f(255), f(255)}},
      {"code 6", Element(0, 0, 6, 5), colour, {f(128.0f / 255.0f), 0, kOne, kOne}},
      {"code 11 of -1", Element(0, 0, 11, 7), s16({-1, 32767}), {f(-1.0f / 65535.0f), kOne, 0, 0}},
      {"code 10, four", Element(0, 0, 10, 7, 0x2), s16({-3, 7, -32768, 1}), {f(-3), f(7), f(-32768), f(1)}},
      {"code 8", Element(0, 0, 8, 7), s16({-1, 2}), {f(65535), f(2), 0, 0}},
      // Two components; the missing ones take their default bits 2 and 3.
      {"code 9, two", Element(0, 0, 9, 7, 0, 0xC), s16({-1, 0}), {kOne, 0, kOne, kOne}},
      {"code 9, two, no defaults", Element(0, 0, 9, 7, 0, 0x3), s16({0, -1}), {0, kOne, 0, 0}},
      // Raw words: components 0 and 2 read, 1 and 3 their defaults.
      {"code 0", Element(0, 0, 0, 0, 0x5, 0x8), {1, 0, 0, 0, 2, 0, 0, 0}, {1, 0, 2, kOne}},
  };
  VertexFetch fetch;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> memory(4, 0xEE);  // a word before the vertex
    memory.insert(memory.end(), row.bytes.begin(), row.bytes.end());
    fetch.SetSourceWindow(memory.data(), memory.data() + memory.size());
    Element at = row.element;
    at.b[0] = 1;
    uint32_t out[4] = {9, 9, 9, 9};
    fetch.FetchAttribute(memory.data(), at.b, out);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(out[c], row.out[c]) << "component " << c << ": " << Float(out[c]);
  }
}

TEST(VertexFetchFormats, NothingIsReadOutsideTheWindow) {
  VertexFetch fetch;
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t out[4] = {7, 7, 7, 7};
  // Formats that convert nothing leave the output alone.
  fetch.SetSourceWindow(bytes, bytes + 8);
  fetch.FetchAttribute(bytes, Element(0, 0, 4, 5).b, out);
  EXPECT_EQ(out[0], 7u);
  fetch.FetchAttribute(bytes, Element(0, 0, 13, 5).b, out);
  EXPECT_EQ(out[3], 7u);
  // An attribute reaching past the window reads as its defaults.
  fetch.FetchAttribute(bytes, Element(1, 0, 0, 0, 0xF, 0x9).b, out);  // 16 bytes from byte 4
  EXPECT_EQ(out[0], kOne);
  EXPECT_EQ(out[1], 0u);
  EXPECT_EQ(out[3], kOne);
  fetch.FetchAttribute(bytes, Element(1, 0, 2, 5).b, out);  // four bytes from byte 4: inside
  EXPECT_EQ(out[0], Bits(5.0f / 255.0f));
  fetch.SetSourceWindow(nullptr, nullptr);
  fetch.FetchAttribute(bytes, Element(0, 0, 1, 5).b, out);
  EXPECT_EQ(out[0], 0u);
}

// ---- Layout ------------------------------------------------------------------------------------

class Fetch : public dtest::DrawBoard {};

TEST_F(Fetch, SlotsAreOrderedAndAnnounced) {
  context->state.fog.vertexMode = 3;  // the specular element also fills the fog slot
  const uint32_t mask = Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseDiffuse),
                                Element(5, 0, 2, kUseSpecular), Element(6, 0, 0, kUseTexture0, 3),
                                Element(8, 0, 0, kUseTexture0 + 1, 3), Element(10, 0, 0, kUseTexture0 + 2, 3),
                                Element(12, 0, 0, kUseTexture0 + 3, 3)},
                               true);
  EXPECT_EQ(mask, 0xF27u);
  const uint8_t expected[] = {0, 3, 1, 4, 2, 5, 7, 6, 8};
  ASSERT_EQ(fetch->orderCount, 9u);
  for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(fetch->order[i], expected[i]) << i;
  EXPECT_EQ(fetch->slots[kSlotFog].element, fetch->slots[kSlotSpecular].element);
  EXPECT_EQ(fetch->slots[kSlotPointSize].element, nullptr);  // the corner, no source
  dma.RunPending();
  EXPECT_EQ(path.Layout(), 0xF27u);
  EXPECT_EQ(fetch->slots[5].reg, 0x1194u);
}

TEST_F(Fetch, ASizeElementNeedsThePointFlag) {
  EXPECT_EQ(Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 0, kUseSize, 0x8)}), 0x1u);
  EXPECT_EQ(fetch->orderCount, 1u);
  EXPECT_EQ(fetch->slots[kSlotPointSize].used, 0u);
  // With it, the size element is the slot's source.
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 0, kUseSize, 0x8)}, true);
  EXPECT_EQ(fetch->orderCount, 2u);
  EXPECT_NE(fetch->slots[kSlotPointSize].element, nullptr);
  EXPECT_EQ(fetch->sizeElementGiven, 1u);
  // Without a fog mode and with table fog, the specular colour keeps to its
  // slot.
  Rs(kRsFogEnable, 1);
  Rs(kRsFogTableMode, 3);
  EXPECT_EQ(Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseSpecular)}), 0x5u);
  // Vertex fog off and no table: the fog slot too.
  Rs(kRsFogTableMode, 0);
  EXPECT_EQ(Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseSpecular)}), 0x25u);
}

// ---- Triangles ---------------------------------------------------------------------------------

TEST_F(Fetch, CullModesAndTheWindingParity) {
  Layout({Element(0, 0, 0, kUsePosition, 0xF)});
  // Counter-clockwise on screen (y down): e > 0; then e < 0; then a line.
  const uint8_t* v = Vertices({0, 0, 0, 1, 10, 0, 0, 1, 0, 10, 0, 1,  //
                               0, 0, 0, 1, 0, 10, 0, 1, 10, 0, 0, 1,  //
                               0, 0, 0, 1, 5, 5, 0, 1, 10, 10, 0, 1});
  (void)v;
  struct Row {
    uint32_t mode;
    uint32_t first;  // vertex of the triangle's a
    bool parity;
    bool culled;
  };
  const Row rows[] = {
      {2, 0, false, true},  {2, 0, true, false}, {2, 3, false, false}, {2, 3, true, true},
      {3, 0, false, false}, {3, 3, false, true}, {1, 0, false, false}, {1, 3, true, false},
      {2, 6, false, false}, {3, 6, false, false}, {1, 6, true, false},  {3, 6, true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "mode " << r.mode << " vertex " << r.first << " parity " << r.parity);
    Rs(kRsCullMode, r.mode);
    path.ClearDraws();
    uint32_t ra[4], rb[4], rc[4];
    EXPECT_EQ(fetch->EmitTriangleAt(V(r.first), V(r.first + 1), V(r.first + 2), ra, rb, rc, nullptr, 0, 1, 2,
                                    r.parity),
              r.culled);
    ASSERT_EQ(Draws().size(), r.culled ? 0u : 1u);
    if (!r.culled) {
      EXPECT_EQ(Draws()[0].place, 2u);
      EXPECT_EQ(Float(Draws()[0].slots[1][0][0]), Float(rb[0]));
    }
  }
}

TEST_F(Fetch, FlatShadingSendsTheColourOnceFromItsVertex) {
  Rs(kRsShadeMode, 1);
  Rs(kRsCullMode, 1);
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseDiffuse)});
  // Vertices of five words: position, then an RGBA colour.
  std::vector<float> words;
  const uint8_t colours[3][4] = {{10, 20, 30, 40}, {50, 60, 70, 80}, {255, 0, 255, 0}};
  for (int i = 0; i < 3; ++i) {
    for (float x : {float(i), float(i * i), 0.5f, 1.0f}) words.push_back(x);
    float c;
    memcpy(&c, colours[i], 4);
    words.push_back(c);
  }
  Vertices(words, 20);
  EXPECT_FALSE(fetch->EmitTriangle(V(0), V(1), V(2), V(2)));
  ASSERT_EQ(Draws().size(), 1u);
  const auto& d = Draws()[0];
  EXPECT_EQ(SlotAt(d, 3, kSlotDiffuse), (std::vector<float>{1.0f, 0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(WritesOf(0x61), 1u);
  // The vertices' own groups carried no colour.
  for (unsigned place = 0; place < 3; ++place) EXPECT_EQ(SlotAt(d, place, kSlotDiffuse)[0], 0.0f) << place;
  EXPECT_EQ(SlotAt(d, 1, kSlotPosition), (std::vector<float>{1, 1, 0.5f, 1}));

  // Gouraud shading: each vertex its own.
  Rs(kRsShadeMode, 2);
  path.ClearDraws();
  fetch->EmitTriangle(V(0), V(1), V(2), V(2));
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotDiffuse)[0], 10.0f / 255.0f);
  EXPECT_EQ(SlotAt(Draws()[0], 1, kSlotDiffuse)[3], 80.0f / 255.0f);
  EXPECT_EQ(WritesOf(0x61), 4u);
}

TEST_F(Fetch, ProjectedTextureCoordinates) {
  Rs(kRsCullMode, 1);
  uint8_t params[kStageParamBytes] = {};
  fetch->SetStageParameters(params);
  for (uint32_t count : {3u, 2u, 4u}) {
    SCOPED_TRACE(count);
    params[kStageEntryFirst + 1] = static_cast<uint8_t>(kStageProjected | count << 1);
    Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 0, kUseTexture0, 0xF)});
    Vertices({0, 0, 0, 1, 1, 2, 3, 4, 5, 0, 0, 1, 1, 2, 3, 4, 0, 5, 0, 1, 1, 2, 3, 4}, 32);
    path.ClearDraws();
    fetch->EmitTriangle(V(0), V(1), V(2), nullptr);
    ASSERT_EQ(Draws().size(), 1u);
    const std::vector<float> expected = count == 3   ? std::vector<float>{1, 2, 0, 3}
                                        : count == 2 ? std::vector<float>{1, 0, 3, 2}
                                                     : std::vector<float>{1, 2, 3, 4};
    for (unsigned place = 0; place < 3; ++place) EXPECT_EQ(SlotAt(Draws()[0], place, kSlotTexture0), expected);
  }
}

// ---- Points ------------------------------------------------------------------------------------

TEST_F(Fetch, APointBecomesASpriteOfItsSize) {
  Rs(kRsPointScale, 0);
  RsFloat(kRsPointSize, 10.0f);
  RsFloat(kRsPointSizeMin, 1.0f);
  RsFloat(kRsPointSizeMax, 64.0f);
  Layout({Element(0, 0, 0, kUsePosition, 0xF)}, true);
  Vertices({100, 50, 0.25f, 1});
  fetch->EmitPoint(V(0), true);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(Draws()[0].place, 3u);
  EXPECT_EQ(SlotAt(Draws()[0], 3, kSlotPosition), (std::vector<float>{95, 45, 0.25f, 1}));
  EXPECT_EQ(SlotAt(Draws()[0], 3, kSlotPointSize), (std::vector<float>{105, 55, 0, 0}));

  // The size limit, whatever the largest size says; and the smallest.
  struct Row {
    float size, smallest, largest, half;
  };
  const Row rows[] = {{5000, 1, 10000, 1024}, {3, 8, 64, 4}, {100, 1, 64, 32}, {NAN, 1, 64, 0.5f},
                      {INFINITY, 0, INFINITY, 1024}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    RsFloat(kRsPointSize, r.size);
    RsFloat(kRsPointSizeMin, r.smallest);
    RsFloat(kRsPointSizeMax, r.largest);
    Layout({Element(0, 0, 0, kUsePosition, 0xF)}, true);
    path.ClearDraws();
    fetch->EmitPoint(V(0), true);
    ASSERT_EQ(Draws().size(), 1u);
    EXPECT_EQ(SlotAt(Draws()[0], 3, kSlotPointSize)[0], 100 + r.half);
    EXPECT_EQ(SlotAt(Draws()[0], 3, kSlotPosition)[0], 100 - r.half);
  }

  // Without the point flag the position goes as it is.
  Layout({Element(0, 0, 0, kUsePosition, 0xF)});
  path.ClearDraws();
  fetch->EmitPoint(V(0), true);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 3, kSlotPosition), (std::vector<float>{100, 50, 0.25f, 1}));
}

TEST_F(Fetch, ScaledPointsFollowTheViewportAndTheirDistance) {
  context->targetState->viewport[3] = 200;
  RsFloat(kRsPointSize, 1.0f);
  RsFloat(kRsPointSizeMin, 0.0f);
  RsFloat(kRsPointSizeMax, 1000.0f);
  Rs(kRsPointScale, 1);
  RsFloat(kRsPointScaleA, 0.0f);
  RsFloat(kRsPointScaleB, 0.0f);
  RsFloat(kRsPointScaleC, 1.0f);
  Layout({Element(0, 0, 0, kUsePosition, 0xF)}, true);
  Vertices({3, 4, 0, 1});  // d = 5: size 200 x sqrt(1 / 25) = 40
  fetch->EmitPoint(V(0), true);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_FLOAT_EQ(SlotAt(Draws()[0], 3, kSlotPointSize)[0], 23.0f);
  // Terms that sum to nothing keep the size.
  RsFloat(kRsPointScaleC, 0.0f);
  path.ClearDraws();
  fetch->EmitPoint(V(0), true);
  EXPECT_FLOAT_EQ(SlotAt(Draws()[0], 3, kSlotPointSize)[0], 3.5f);
}

TEST_F(Fetch, SpritesSendTheirCornersWithTheFirstPointOnly) {
  Rs(kRsPointScale, 0);
  RsFloat(kRsPointSize, 2.0f);
  RsFloat(kRsPointSizeMax, 64.0f);
  Rs(kRsPointSprite, 1);
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 0, kUseTexture0, 0x3),
          Element(6, 0, 0, kUseTexture0 + 2, 0x3)},
         true);
  Vertices({10, 10, 0, 1, 0.3f, 0.7f, 0.1f, 0.9f, 20, 20, 0, 1, 0.3f, 0.7f, 0.1f, 0.9f}, 32);
  fetch->EmitPoint(V(0), true);
  ASSERT_EQ(Draws().size(), 1u);
  for (unsigned slot : {kSlotTexture0, kSlotTexture0 + 2}) {
    EXPECT_EQ(SlotAt(Draws()[0], 0, slot), (std::vector<float>{0, 0, 0, 0})) << slot;
    EXPECT_EQ(SlotAt(Draws()[0], 1, slot), (std::vector<float>{1, 0, 0, 0})) << slot;
    EXPECT_EQ(SlotAt(Draws()[0], 2, slot), (std::vector<float>{0, 1, 0, 0})) << slot;
  }
  const size_t texWrites = WritesOf(0x63) + WritesOf(0x65);
  EXPECT_EQ(texWrites, 6u);
  fetch->EmitPoint(V(1), false);
  EXPECT_EQ(Draws().size(), 2u);
  EXPECT_EQ(WritesOf(0x63) + WritesOf(0x65), texWrites);
  EXPECT_EQ(SlotAt(Draws()[1], 3, kSlotPosition)[0], 19.0f);

  // Sprites off: every point sends its own coordinates at the three
  // corners.
  Rs(kRsPointSprite, 0);
  path.ClearDraws();
  fetch->EmitPoint(V(1), false);
  ASSERT_EQ(Draws().size(), 1u);
  for (unsigned place = 0; place < 3; ++place)
    EXPECT_EQ(SlotAt(Draws()[0], place, kSlotTexture0), (std::vector<float>{0.3f, 0.7f, 0, 0})) << place;
}

// ---- Per-vertex steps --------------------------------------------------------------------------

TEST_F(Fetch, TheFogSlotTakesTheDistanceOrTheSpecularAlpha) {
  Rs(kRsCullMode, 1);
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseSpecular)});
  ASSERT_EQ(fetch->slots[kSlotFog].used, 0u);
  context->state.fog.vertexMode = 3;
  context->state.fog.start = Bits(0.0f);
  context->state.fog.end = Bits(8.0f);
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseSpecular)});
  std::vector<float> words;
  const uint8_t specular[4] = {0, 0, 0, 51};
  float s;
  memcpy(&s, specular, 4);
  for (float rhw : {0.5f, 0.25f, 1.0f}) {
    for (float x : {rhw * 8, rhw, 0.0f, rhw}) words.push_back(x);
    words.push_back(s);
  }
  Vertices(words, 20);
  fetch->EmitTriangle(V(0), V(1), V(2), nullptr);
  ASSERT_EQ(Draws().size(), 1u);
  // 1 / rhw over the fog range.
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotFog), (std::vector<float>{0, 0, 0, 0.25f}));
  EXPECT_EQ(SlotAt(Draws()[0], 1, kSlotFog), (std::vector<float>{0, 0, 0, 0.5f}));
  // Without a vertex fog mode the specular alpha.
  context->state.fog.vertexMode = 0;
  Rs(kRsFogEnable, 1);
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseSpecular)});
  path.ClearDraws();
  fetch->EmitTriangle(V(0), V(1), V(2), nullptr);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 2, kSlotFog), (std::vector<float>{0, 0, 0, 0.2f}));
}

TEST_F(Fetch, TextureCoordinateAdjustments) {
  Rs(kRsCullMode, 1);
  uint8_t params[kStageParamBytes] = {};
  fetch->SetStageParameters(params);
  std::vector<Element> elements = {Element(0, 0, 0, kUsePosition, 0xF)};
  for (uint32_t t = 0; t < 4; ++t) elements.push_back(Element(4 + 4 * t, 0, 0, kUseTexture0 + t, 0xF));
  const float scale = 2.0f;
  memcpy(&params[kStageEntryFirst + 4], &scale, 4);
  params[kStageEntryFirst + 1] = kStageScale;
  params[kStageParamFlags] = kStageFlagNormalise;
  Layout(elements);
  // Sets: 1 2 3 4 | 1 2 3 3 | 0 4 0 4 | 0 0 12 0 (w of sets 1-3: 3, 4, 0)
  std::vector<float> one = {0, 0, 0, 1, 1, 2, 3, 4, 1, 2, 3, 3, 0, 4, 0, 4, 0, 0, 12, 0};
  std::vector<float> words;
  for (int i = 0; i < 3; ++i) words.insert(words.end(), one.begin(), one.end());
  Vertices(words, 80);
  fetch->EmitTriangle(V(0), V(1), V(2), nullptr);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotTexture0), (std::vector<float>{2, 4, 6, 4}));
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotTexture0 + 1), (std::vector<float>{1, 2, 3, 0.6f}));
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotTexture0 + 2), (std::vector<float>{0, 4, 0, 0.8f}));

  // The limit: the largest diagonal component is 12.
  params[kStageParamFlags] = kStageFlagLimit | kStageFlagReplaceW;
  const uint32_t w[3] = {Bits(7), Bits(8), Bits(9)};
  memcpy(&params[kStageParamWords], w, sizeof w);
  Layout(elements);
  path.ClearDraws();
  fetch->EmitTriangle(V(0), V(1), V(2), nullptr);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 2, kSlotTexture0 + 3), (std::vector<float>{0, 0, 1, 9}));
  EXPECT_EQ(SlotAt(Draws()[0], 2, kSlotTexture0 + 1), (std::vector<float>{1 / 12.0f, 2 / 12.0f, 3 / 12.0f, 7}));
}

TEST_F(Fetch, LinesAndStripVerticesTakeTheirPlaces) {
  Layout({Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 2, kUseDiffuse)});
  std::vector<float> words;
  for (int i = 0; i < 3; ++i) {
    for (float x : {float(i), 1.0f, 0.0f, 1.0f}) words.push_back(x);
    words.push_back(0);
  }
  Vertices(words, 20);
  fetch->EmitLine(V(0), V(1), V(1));
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(Draws()[0].place, 1u);
  EXPECT_EQ(SlotAt(Draws()[0], 0, kSlotPosition)[0], 0.0f);
  EXPECT_EQ(SlotAt(Draws()[0], 1, kSlotPosition)[0], 1.0f);
  uint32_t record[4];
  fetch->EmitLineStripVertex(V(2), 0, record, V(2));
  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[1].place, 0u);
  EXPECT_EQ(Float(record[0]), 2.0f);
  EXPECT_EQ(SlotAt(Draws()[1], 0, kSlotPosition)[0], 2.0f);
  EXPECT_EQ(SlotAt(Draws()[1], 1, kSlotPosition)[0], 1.0f);
  EXPECT_EQ(path.Strays(), 0u);
}

TEST_F(Fetch, ATriangleVertexJoinsTheRecordsOfItsNeighbours) {
  Rs(kRsCullMode, 2);
  Layout({Element(0, 0, 0, kUsePosition, 0xF)});
  Vertices({0, 0, 0, 1, 0, 10, 0, 1, 10, 0, 0, 1, 10, 10, 0, 1});
  uint32_t r0[4], r1[4], r2[4], r3[4];
  EXPECT_FALSE(fetch->EmitTriangleAt(V(0), V(1), V(2), r0, r1, r2, nullptr, 0, 1, 2, false));
  // (1, 2, 3) winds the other way: the strip's parity draws it.
  EXPECT_TRUE(fetch->EmitTriangleVertex(r1, r2, V(3), 0, r3, nullptr, false));
  EXPECT_FALSE(fetch->EmitTriangleVertex(r1, r2, V(3), 0, r3, nullptr, true));
  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[1].place, 0u);
  EXPECT_EQ(SlotAt(Draws()[1], 0, kSlotPosition), (std::vector<float>{10, 10, 0, 1}));
  EXPECT_EQ(SlotAt(Draws()[1], 1, kSlotPosition), (std::vector<float>{0, 10, 0, 1}));
}

TEST_F(Fetch, PositionsMapToTheTarget) {
  Rs(kRsCullMode, 1);
  setup->offsets[0] = 2;
  setup->offsets[1] = -1;
  context->targetState->scaleX = 0.5f;
  context->targetState->scaleY = 2.0f;
  Layout({Element(0, 0, 0, kUsePosition, 0xF)});
  Vertices({4, 4, 0.5f, 2});
  uint32_t out[4];
  fetch->Position(V(0), out);
  EXPECT_EQ(Float(out[0]), 3.0f);
  EXPECT_EQ(Float(out[1]), 6.0f);
  EXPECT_EQ(Float(out[2]), 0.5f);
  EXPECT_EQ(Float(out[3]), 2.0f);
}

}  // namespace
