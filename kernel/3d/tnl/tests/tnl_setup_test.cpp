// The transform-and-lighting set-up of a render context over a started
// board with its program builder: construction and attachment, the derived
// constants against a double-precision reference, the lights, the steps the
// dirty words trigger, the programs it binds with their start addresses,
// the input and fetch layouts, and the constants the board receives.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "core/driver_switches.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/tests/tnl_fixture.h"
#include "kernel/3d/tnl/vertex_format.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "platform/board/chip_vertex.h"

namespace {

using Mat = std::array<double, 16>;  // row-major

using tnltest::Bits;
using tnltest::kLayout;

float Flt(uint32_t b) {
  float f;
  memcpy(&f, &b, 4);
  return f;
}

Mat Mul(const Mat& a, const Mat& b) {
  Mat r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r[4 * i + j] += a[4 * i + k] * b[4 * k + j];
  return r;
}
Mat Transpose(const Mat& a) {
  Mat r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[4 * i + j] = a[4 * j + i];
  return r;
}
Mat Inverse(Mat a) {
  Mat r{};
  for (int i = 0; i < 4; ++i) r[5 * i] = 1;
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int i = c + 1; i < 4; ++i)
      if (fabs(a[4 * i + c]) > fabs(a[4 * p + c])) p = i;
    for (int k = 0; k < 4; ++k) {
      std::swap(a[4 * c + k], a[4 * p + k]);
      std::swap(r[4 * c + k], r[4 * p + k]);
    }
    const double d = a[5 * c];
    for (int k = 0; k < 4; ++k) {
      a[4 * c + k] /= d;
      r[4 * c + k] /= d;
    }
    for (int i = 0; i < 4; ++i) {
      if (i == c) continue;
      const double f = a[4 * i + c];
      for (int k = 0; k < 4; ++k) {
        a[4 * i + k] -= f * a[4 * c + k];
        r[4 * i + k] -= f * r[4 * c + k];
      }
    }
  }
  return r;
}

// The fixture's position layout with pre-transformed positions.
constexpr uint32_t kLayoutRhw[6] = {0x1 | 0x4 | 0x20 | 2u << 16 | 1u << 11, 0x100, 0x0, 0x0000FF00, 0, 0xFF};

class TnlTest : public tnltest::TnlBoard {
 public:
  Mat Random(std::mt19937& rng, uint32_t* words) {
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    Mat m{};
    for (int i = 0; i < 16; ++i) {
      const float v = d(rng) + (i % 5 == 0 ? 2.5f : 0.0f);
      words[i] = Bits(v);
      m[i] = v;
    }
    return m;
  }
  static Mat Of(const uint32_t* words) {
    Mat m{};
    for (int i = 0; i < 16; ++i) m[i] = Flt(words[i]);
    return m;
  }
  bool Pass(uint32_t t, uint32_t m = 0, uint32_t w = 0) {
    block->transformDirty = t;
    block->matrixDirty = m;
    block->worldDirty = w;
    return setup->Update(block.get(), &fetch, &hw);
  }
  const float* F(uint32_t c) { return setup->F(c); }
  void Settle();
  bool AllChangesTaken() const;
  const float* S(uint32_t c) { return setup->S(c); }
  // Constants c..c+3 as the matrix m (component r of constant c + i is
  // m(r, i)).
  void ExpectMatrix(uint32_t c, const Mat& m, const char* what) {
    for (int i = 0; i < 4; ++i)
      for (int r = 0; r < 4; ++r)
        EXPECT_NEAR(F(c + i)[r], m[4 * r + i], 2e-4 * (1 + fabs(m[4 * r + i]))) << what << " c" << c + i << "." << r;
  }
  // Constants c..c+2 as the normal matrix of wv.
  void ExpectNormals(uint32_t c, const Mat& wv, const char* what) {
    const Mat inv = Inverse(wv);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(F(c + i)[j], inv[4 * i + j], 2e-4 * (1 + fabs(inv[4 * i + j]))) << what << " c" << c + i;
  }
  void Enable(std::initializer_list<uint32_t> indices) {
    uint32_t n = 0;
    for (uint32_t i : indices) block->enabledLights[n++] = i;
    block->enabledLightCount = static_cast<uint8_t>(n);
  }
  void SetConst(uint32_t c, float x, float y, float z, float w) {
    const float v[4] = {x, y, z, w};
    memcpy(setup->fixedImage.image[c].w, v, 16);
  }

  orvsim::VertexEngine& vertex = *parts.vertex;
};

// ---- Construction and attachment ------------------------------------------------------------

TEST_F(TnlTest, ConstructionLaysOutBothImagesAndTheirDirtySets) {
  TnlSetup s;
  const std::vector<uint32_t> dirtyF = {333, 352, 353, 370, 371, 372, 373, 376, 381, 382};
  const std::vector<uint32_t> dirtyS = {352, 353, 370, 371, 372, 373, 376, 377, 378, 379, 380, 381, 382};
  for (uint32_t c = 0; c < kVecConstCount; ++c) {
    EXPECT_EQ(s.fixedImage.Dirty(c), std::count(dirtyF.begin(), dirtyF.end(), c) != 0) << c;
    EXPECT_EQ(s.shaderImage.Dirty(c), std::count(dirtyS.begin(), dirtyS.end(), c) != 0) << c;
  }
  struct Row {
    uint32_t c;
    bool shader;
    float v[4];
  } rows[] = {{333, false, {0, 0, 0, 32}},          {352, false, {0, 0, 0, 1}},
              {352, true, {0, 0, 0, 1}},            {370, true, {1, 0, 0, 1}},
              {371, false, {1, 1, 0.5f, -0.5f}},    {371, true, {-0.5f, -0.5f, 0.5f, 0.5f}},
              {372, true, {8160, 8160, -8160, -8160}}, {373, false, {128, 0, 0, 0}},
              {376, true, {0, 0, 0.5f, 786432.0f}}, {379, true, {1.442695f, -0.7213475f, 0.4808984f, -0.3606738f}},
              {380, true, {1, 0.2885390f, -0.2404492f, 0.2060993f}},
              {381, false, {8388608.0f, 0.05f, 31.0f, 0.032258064f}}, {382, true, {0, 0.0625f, 0, 0}}};
  for (const Row& r : rows)
    for (int k = 0; k < 4; ++k) EXPECT_EQ((r.shader ? s.S(r.c) : s.F(r.c))[k], r.v[k]) << r.c << "." << k;
  // The series of 2^-x within one unit in the last place of a double
  // reference.
  const double ln2 = log(2.0);
  const double series[8] = {-ln2, ln2 * ln2 / 2, -pow(ln2, 3) / 6, pow(ln2, 4) / 24,
                            1.0, -pow(ln2, 5) / 120, pow(ln2, 6) / 720, -pow(ln2, 7) / 5040};
  for (int i = 0; i < 8; ++i) {
    const float want = static_cast<float>(series[i]);
    const float got = s.S(377 + i / 4)[i % 4];
    EXPECT_LE(fabsf(got - want), fabsf(nextafterf(want, 0) - want)) << i;
  }
  EXPECT_EQ(s.optionWord, 0x03800015u);
  const uint32_t head[8] = {224, 352, 128, 2048, 0, 1, 2, 3};
  EXPECT_EQ(memcmp(s.fixedBlock, head, sizeof head), 0);
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t words[4] = {256 + i, 352, 128, 2048};
    EXPECT_EQ(memcmp(&s.shaderBlock[4 * i], words, sizeof words), 0) << i;
  }
  EXPECT_EQ(s.imageSelect, 0) << "the shader image until the first pass";
}

TEST_F(TnlTest, AttachFillsTheRecordAndReadsTheSwitches) {
  EXPECT_FALSE(setup->AttachContext(nullptr));
  EXPECT_EQ(record.programDirty[0], 0xF0);
  EXPECT_EQ(record.programDirty[1], 0x1F);
  EXPECT_EQ(record.fixedProgram3.program, B()->GetFixedProgram(3, 0));
  EXPECT_EQ(record.fixedProgram3.header, setup->programHeader);
  EXPECT_EQ(record.fixedProgram3.headerCount, 8u);
  EXPECT_EQ(record.fixedProgram3.parameters, setup->fixedBlock);
  EXPECT_EQ(record.fixedProgram3.parameterCount, 16u);
  EXPECT_EQ(record.fixedPrograms[0], B()->GetFixedProgram(0, 0));
  EXPECT_EQ(record.fixedPrograms[1], B()->GetFixedProgram(1, 0));
  EXPECT_EQ(record.fixedPrograms[2], B()->GetFixedProgram(17, 0));
  EXPECT_EQ(record.constantImage, &setup->shaderImage);

  DriverSwitchesCommon* sw = Common()->driverSwitches;
  const struct {
    uint32_t guard, stored, mask;
  } cases[] = {{5, 2, 0x0FDB}, {2, 2, 0x0FDB}, {1, 1, 0x0FC0}, {0, 0, 0x0FC0}};
  for (const auto& c : cases) {
    sw->GuardBandClipping->current = c.guard;
    sw->LightingType->current = 7;
    sw->CullNoneMode->current = 5;
    auto s = Make();
    EXPECT_EQ(s->guardBandClipping, c.stored) << c.guard;
    EXPECT_EQ(s->clipControlMask, c.mask) << c.guard;
    EXPECT_EQ(s->lightingType, 2u);
    EXPECT_EQ(s->cullNoneMode, 3u);
  }
}

// ---- Matrices ------------------------------------------------------------------------------

TEST_F(TnlTest, OneWorldMatrixWithoutEyeSpaceIsTheFullProduct) {
  std::mt19937 rng(11);
  for (int round = 0; round < 8; ++round) {
    const Mat w = Random(rng, block->world[0].m), v = Random(rng, block->view.m), p = Random(rng, block->projection.m);
    ASSERT_TRUE(Full());
    ExpectMatrix(0, Mul(Mul(w, v), p), "world x view x projection");
    ExpectNormals(4, Mul(w, v), "normals of world x view");
  }
  // One world matrix changed alone: the pass's per-draw path.
  const Mat w = Random(rng, block->world[0].m);
  ASSERT_TRUE(Pass(0, 1, 1));
  ExpectMatrix(0, Mul(Mul(w, Of(block->view.m)), Of(block->projection.m)), "after a world change");
}

TEST_F(TnlTest, EyeSpaceKeepsWorldTimesViewAndThePoductIn329) {
  std::mt19937 rng(12);
  block->flags |= kVfLighting;
  Light(1, 1);
  Enable({1});
  const Mat w = Random(rng, block->world[0].m), v = Random(rng, block->view.m), p = Random(rng, block->projection.m);
  ASSERT_TRUE(Full());
  ASSERT_NE(setup->key.flags5 & 1, 0) << "a point light needs eye space";
  ExpectMatrix(0, Mul(w, v), "world x view");
  ExpectNormals(4, Mul(w, v), "normals");
  ExpectMatrix(329, Mul(Mul(w, v), p), "world x view x projection");
}

TEST_F(TnlTest, BlendedWorldMatricesGoPerBlockWithTheProjectionIn329) {
  std::mt19937 rng(13);
  for (uint32_t mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    setup = Make();
    block->tnlMode = mode << 14;
    std::vector<Mat> worlds;
    for (uint32_t i = 0; i <= mode; ++i) worlds.push_back(Random(rng, block->world[i].m));
    const Mat v = Random(rng, block->view.m), p = Random(rng, block->projection.m);
    ASSERT_TRUE(Full());
    EXPECT_EQ(setup->key.blendCount, mode + 1);
    for (uint32_t i = 0; i <= mode; ++i) {
      ExpectMatrix(7 * i, Mul(worlds[i], v), "world i x view");
      ExpectNormals(7 * i + 4, Mul(worlds[i], v), "normals");
    }
    ExpectMatrix(329, p, "projection");
  }
  // Indexed blending: all 32 blocks.
  setup = Make();
  block->tnlMode = 5u << 14;
  block->flags |= 1u << kVfIndexedBlendShift;
  std::vector<Mat> worlds;
  for (uint32_t i = 0; i < 32; ++i) worlds.push_back(Random(rng, block->world[i].m));
  ASSERT_TRUE(Full());
  ASSERT_NE(setup->key.flags4 & 2, 0);
  for (uint32_t i = 0; i < 32; ++i) ExpectMatrix(7 * i, Mul(worlds[i], Of(block->view.m)), "indexed block");
  // One world matrix of the 32 changes: only its block is written.
  setup->fixedImage.FoldSent();
  for (uint32_t w = 0; w <= kVecConstWords; ++w) setup->fixedImage.dirty[w] = 0;
  setup->fixedImage.dirtySummary = 0;
  worlds[9] = Random(rng, block->world[9].m);
  ASSERT_TRUE(Pass(0, 1, 1u << 9));
  ExpectMatrix(63, Mul(worlds[9], Of(block->view.m)), "block 9");
  for (uint32_t c = 0; c < 224; ++c) EXPECT_EQ(setup->fixedImage.Dirty(c), c >= 63 && c < 70) << c;
}

TEST_F(TnlTest, ClipPlanesGoPackedThroughTheTransposedInverseOfTheProjection) {
  std::mt19937 rng(14);
  const Mat p = Random(rng, block->projection.m);
  block->clipPlaneEnable = 0x9;  // planes 0 and 3
  const float planes[2][4] = {{1, 2, 3, 4}, {-0.5f, 0.25f, 1, -2}};
  for (int k = 0; k < 4; ++k) {
    block->clipPlanes[0][k] = Bits(planes[0][k]);
    block->clipPlanes[3][k] = Bits(planes[1][k]);
  }
  ASSERT_TRUE(Full());
  EXPECT_EQ(hw.clipEnable, 2);
  EXPECT_EQ(hw.clipWord >> 16, 0x3u);
  EXPECT_EQ(setup->key.ClipCount(), 2u);
  const Mat clip = Transpose(Inverse(p));
  for (int n = 0; n < 2; ++n)
    for (int r = 0; r < 4; ++r) {
      double want = 0;
      for (int c = 0; c < 4; ++c) want += clip[4 * r + c] * planes[n][c];
      EXPECT_NEAR(F(364 + n)[r], want, 2e-4 * (1 + fabs(want))) << n << "." << r;
      EXPECT_EQ(F(364 + n)[r], S(364 + n)[r]);
    }
}

TEST_F(TnlTest, ScreenMappingAndTextureMatrices) {
  block->viewportGroup.origin[0] = 10;
  block->viewportGroup.origin[1] = 20;
  block->viewportGroup.targetOrigin[0] = 4;
  block->viewportGroup.targetOrigin[1] = 8;
  block->viewportGroup.scale[0] = Bits(2.0f);
  block->viewportGroup.scale[1] = Bits(0.5f);
  block->depthRange[0] = Bits(0.75f);
  block->depthRange[1] = Bits(0.125f);
  for (uint32_t kind : {5u, 0u}) {  // polygons, then class 1
    block->control = kind | 3u << 4;
    ASSERT_TRUE(Full());
    const float shift = kind == 0 ? 0.046875f : 0.0f;
    const float sx = 640 * 0.5f * 2.0f, sy = -480 * 0.5f * 0.5f;
    const float scale[4] = {sx, sy, 0.75f, 1.0f};
    const float offset[4] = {14 * 2.0f + sx - shift, 28 * 0.5f - sy - shift, 0.125f, 480.0f};
    for (int k = 0; k < 4; ++k) {
      EXPECT_FLOAT_EQ(F(352)[k], scale[k]) << kind;
      EXPECT_FLOAT_EQ(S(353)[k], offset[k]) << kind;
    }
  }
  // Texture matrices: set k takes the client's matrix of its source.
  std::mt19937 rng(15);
  block->texCoords.setCount = 2;
  block->texCoords.sets[0] = {3u << 3, 2};
  block->texCoords.sets[1] = {5u << 3, 3};
  const Mat t3 = Random(rng, block->texture[3].m), t5 = Random(rng, block->texture[5].m);
  ASSERT_TRUE(Full());
  ExpectMatrix(313, t3, "set 0");
  ExpectMatrix(317, t5, "set 1");
  EXPECT_EQ(hw.routing & 0xFF, (5u + 3) << 4 | (3u + 3));
}

// ---- Lights --------------------------------------------------------------------------------

TEST_F(TnlTest, LightsRunSpotPointDirectionalFromBlock224) {
  block->flags |= kVfLighting;
  LightRecord* d = Light(1, 3);
  LightRecord* p = Light(2, 1);
  LightRecord* s = Light(3, 2);
  LightRecord* s2 = Light(4, 2);
  p->position[0] = Bits(5.0f);
  s->position[1] = Bits(6.0f);
  s->direction[0] = Bits(3.0f);
  s->direction[1] = Bits(4.0f);
  s->direction[2] = 0;
  s->falloff = 0;
  s->theta = Bits(0.5f);
  s2->falloff = Bits(1.0f);
  s2->theta = Bits(0.25f);
  d->direction[2] = Bits(2.0f);
  SetConst(310, 0, 0, 0, 10.0f);
  Enable({1, 2, 3, 4});
  ASSERT_TRUE(Full());
  EXPECT_EQ(setup->key.spotLights, 2u);
  EXPECT_EQ(setup->key.pointLights, 1u);
  EXPECT_EQ(setup->key.directionalLights, 1u);
  // Spot 3 in block 0, spot 4 in block 1, the point light in block 2, the
  // directional light in block 3.
  auto word = [&](uint32_t block, uint32_t w) { return F(224 + 7 * block + w / 4)[w % 4]; };
  EXPECT_EQ(word(0, 1), 6.0f);
  EXPECT_EQ(word(0, 3), -1.0f) << "positions are sent with w = -1";
  EXPECT_FLOAT_EQ(word(0, 4), -0.6f);
  EXPECT_FLOAT_EQ(word(0, 5), -0.8f);
  EXPECT_EQ(word(0, 23), 1.0f) << "falloff 0";
  EXPECT_EQ(word(0, 27), 2.0f);
  EXPECT_EQ(word(1, 23), 0.25f) << "falloff 1";
  EXPECT_EQ(word(1, 27), 1.0f);
  EXPECT_EQ(word(2, 0), 5.0f);
  EXPECT_EQ(word(2, 3), -1.0f);
  EXPECT_EQ(word(3, 6), -1.0f) << "the direction towards a directional light";
  EXPECT_EQ(word(2, 15), 10.0f) << "the material's power";
  EXPECT_EQ(setup->lightRecordCount, 4u);
  EXPECT_EQ(setup->key.lightLayout, 2u | 1u << 8 | 1u << 16);
}

TEST_F(TnlTest, LightPathFlagsAndTheEnabledCount) {
  block->flags |= kVfLighting;
  const struct Case {
    const char* name;
    uint32_t flags;
    std::function<void(TnlTest*)> make;
  } cases[] = {
      {"17 records", kPathTooManyRecords | kPathManyPositional,
       [](TnlTest* t) {
         // Nine spot lights two-sided: 18 records.
         t->block->flags |= kVfTwoSide;
         t->block->twoSideMode = 2;
         for (uint32_t i = 1; i <= 9; ++i) t->Light(i, 2)->falloff = Bits(1.0f);
         t->Enable({1, 2, 3, 4, 5, 6, 7, 8, 9});
       }},
      {"power 128", kPathFrontPower,
       [](TnlTest* t) {
         t->SetConst(310, 0, 0, 0, 128.0f);
         t->Light(1, 3);
         t->Light(2, 3);
         t->Enable({1, 2});
       }},
      {"nine spot and point", kPathManyPositional,
       [](TnlTest* t) {
         for (uint32_t i = 1; i <= 9; ++i) t->Light(i, i % 2 ? 1 : 2)->falloff = Bits(1.0f);
         t->Enable({1, 2, 3, 4, 5, 6, 7, 8, 9});
       }},
      {"falloff 0.5", kPathSpotFalloff,
       [](TnlTest* t) {
         t->Light(1, 2)->falloff = Bits(0.5f);
         t->Light(2, 3);
         t->Enable({1, 2});
       }},
      {"one point light", kPathSinglePoint,
       [](TnlTest* t) {
         t->Light(1, 1);
         t->Enable({1});
       }},
      {"one light, attenuation 0.5", kPathWeakAttenuation,
       [](TnlTest* t) {
         LightRecord* l = t->Light(1, 2);
         l->falloff = Bits(1.0f);
         l->attenuation[0] = Bits(0.25f);
         l->attenuation[2] = Bits(0.25f);
         t->Enable({1});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto& e : table) e = nullptr;
    block->flags &= ~kVfTwoSide;
    block->twoSideMode = 0;
    setup = Make();
    SetConst(310, 0, 0, 0, 1.0f);
    c.make(this);
    ASSERT_TRUE(Full());
    EXPECT_EQ(setup->lightPath, c.flags);
  }
  // An index past the table is skipped; fifteen enabled count twelve.
  setup = Make();
  for (auto& e : table) e = nullptr;
  Light(1, 3);
  Light(2, 3);
  block->enabledLights[0] = 1;
  block->enabledLights[1] = 200;
  block->enabledLights[2] = 2;
  block->enabledLightCount = 3;
  ASSERT_TRUE(Full());
  EXPECT_EQ(setup->key.directionalLights, 2u);
  block->enabledLightCount = 15;
  for (uint32_t i = 0; i < 12; ++i) block->enabledLights[i] = 1;
  ASSERT_TRUE(Pass(kVxLight));
  EXPECT_EQ(setup->enabledLights, 12u);
  EXPECT_EQ(setup->key.directionalLights, 12u);
}

TEST_F(TnlTest, TheColourScaleFollowsTheLargestComponent) {
  block->flags |= kVfLighting;
  const struct {
    float m, scale;
  } cases[] = {{0.1f, 0.125f}, {0.25f, 0.25f}, {0.49f, 0.25f}, {0.5f, 0.5f},
               {0.99f, 0.5f},  {1.0f, 1.0f},   {7.9f, 1.0f},   {8.0f, 8.0f}, {100.0f, 8.0f}};
  for (const auto& c : cases) {
    setup = Make();
    SetConst(308, 1, 1, 1, 1);
    SetConst(310, 1, 1, 1, 1);
    LightRecord* l = Light(1, 3);
    for (int k = 0; k < 4; ++k) l->diffuse[k] = l->specular[k] = Bits(k == 1 ? c.m : 0.0f);
    Enable({1});
    ASSERT_TRUE(Full());
    EXPECT_EQ(F(334)[2], 1.0f / c.scale) << c.m;
    EXPECT_EQ(F(334)[3], 1.0f / c.scale) << c.m;
    EXPECT_EQ((setup->key.flags6 & 1) != 0, c.scale != 1.0f) << c.m;
  }
}

// ---- The update pass -----------------------------------------------------------------------

// What one step of the pass produces, seen from outside: a value that the
// step alone writes is spoiled before a pass, and the step ran when the
// pass set it right again.
struct StepProbe {
  const char* step;
  std::function<void(TnlTest&)> spoil;
  std::function<bool(TnlTest&)> setRight;
};

const std::vector<StepProbe>& StepProbes() {
  static const std::vector<StepProbe> probes = {
      {"stage analysis", [](TnlTest& t) { t.hw.stageCount = 99; }, [](TnlTest& t) { return t.hw.stageCount == 1; }},
      {"coordinate values", [](TnlTest& t) { t.setup->F(373)[1] = 77; },
       [](TnlTest& t) { return t.F(373)[1] == 0.0f; }},
      {"constant 333", [](TnlTest& t) { t.setup->F(333)[1] = 77; }, [](TnlTest& t) { return t.F(333)[1] == 0.0f; }},
      {"input layout", [](TnlTest& t) { t.setup->SelectInputLayout(kLayoutRhw); },
       [](TnlTest& t) { return t.setup->currentLayout->key[0] == kLayout[0]; }},
      {"coordinate controls", [](TnlTest& t) { t.hw.clipFallback = 1; },
       [](TnlTest& t) { return t.hw.clipFallback == 0; }},
      {"vertex fog", [](TnlTest& t) { t.hw.vertexControl |= 0x20; },
       [](TnlTest& t) { return (t.hw.vertexControl & 0x20) == 0; }},
      {"factor", [](TnlTest& t) { t.setup->F(341)[3] = 77; }, [](TnlTest& t) { return t.F(341)[3] == 0.0f; }},
      {"routing", [](TnlTest& t) { t.hw.routing ^= 0xF; }, [](TnlTest& t) { return (t.hw.routing & 0xF) == 3; }},
      {"vertex blend", [](TnlTest& t) { t.setup->key.blendCount = 4; },
       [](TnlTest& t) { return t.setup->key.blendCount == 1; }},
      {"primitive", [](TnlTest& t) { t.setup->key.primitiveKind = 3; },
       [](TnlTest& t) { return t.setup->key.primitiveKind == 5; }},
      {"stipple", [](TnlTest& t) { t.setup->key.flags6 |= 0x10; },
       [](TnlTest& t) { return (t.setup->key.flags6 & 0x10) == 0; }},
      {"point attenuation", [](TnlTest& t) { t.setup->F(370)[0] = 77; },
       [](TnlTest& t) { return t.F(370)[0] == 0.0f; }},
      {"depth offset", [](TnlTest& t) { t.hw.offsetEnable = 1; }, [](TnlTest& t) { return t.hw.offsetEnable == 0; }},
      {"point size", [](TnlTest& t) { t.setup->F(370)[3] = 77; }, [](TnlTest& t) { return t.F(370)[3] != 77.0f; }},
      {"guard band", [](TnlTest& t) { t.setup->guardBand[0] = 0; },
       [](TnlTest& t) { return t.setup->guardBand[0] == 8160.0f; }},
      {"fill", [](TnlTest& t) { t.hw.fill = 1; }, [](TnlTest& t) { return t.hw.fill == 0; }},
      {"specular", [](TnlTest& t) { t.hw.specular = 1; }, [](TnlTest& t) { return t.hw.specular == 0; }},
      {"two-sided lighting", [](TnlTest& t) { t.hw.twoSide = 1; }, [](TnlTest& t) { return t.hw.twoSide == 0; }},
      {"global ambient flag", [](TnlTest& t) { t.setup->globalAmbientFlag = 1; },
       [](TnlTest& t) { return t.setup->globalAmbientFlag == 0; }},
      {"material flags", [](TnlTest& t) { t.setup->ambientFlag = 1; },
       [](TnlTest& t) { return t.setup->ambientFlag == 0; }},
      {"cull", [](TnlTest& t) { t.hw.cull = 2; }, [](TnlTest& t) { return t.hw.cull == 0; }},
      {"material sources", [](TnlTest& t) { t.setup->F(312)[0] = 77; },
       [](TnlTest& t) { return t.F(312)[0] == 0.0f; }},
      {"light collection", [](TnlTest& t) { t.setup->enabledLights = 7; },
       [](TnlTest& t) { return t.setup->enabledLights == 0; }},
      {"texture matrices", [](TnlTest& t) { t.setup->F(313)[0] = 77; },
       [](TnlTest& t) { return t.F(313)[0] != 77.0f; }},
      {"screen mapping", [](TnlTest& t) { t.setup->F(352)[3] = 77; },
       [](TnlTest& t) { return t.F(352)[3] == 1.0f; }},
      {"transform enable", [](TnlTest& t) { t.hw.transformEnable = 0; },
       [](TnlTest& t) { return t.hw.transformEnable == 1; }},
      {"lighting flags", [](TnlTest& t) { t.setup->key.flags5 |= 0x01; },
       [](TnlTest& t) { return (t.setup->key.flags5 & 0x01) == 0; }},
      {"light constants", [](TnlTest& t) { t.setup->lightPath = kPathSpotFalloff; },
       [](TnlTest& t) { return t.setup->lightPath == 0; }},
      {"programs", [](TnlTest& t) { TnlSetup::SetSlot(&t.hw.transformPrograms[1], nullptr); },
       [](TnlTest& t) { return t.hw.transformPrograms[1].program != nullptr; }},
      // Every pass past the matrices writes the program header.
      {"program header", [](TnlTest& t) { t.setup->programHeader[4] = 0; },
       [](TnlTest& t) { return t.setup->programHeader[4] == 0x3F803F80u; }},
  };
  return probes;
}

const StepProbe& Probe(const char* step) {
  for (const StepProbe& p : StepProbes())
    if (strcmp(p.step, step) == 0) return p;
  ADD_FAILURE() << "no probe " << step;
  return StepProbes().front();
}

// A set-up whose every step has run, with one coordinate set that carries
// a texture matrix, so that each probe has something to set right.
void TnlTest::Settle() {
  block->texCoords.setCount = 1;
  block->texCoords.sets[0] = {0, 2};
  setup = Make();
  ASSERT_TRUE(Full());
}

bool TnlTest::AllChangesTaken() const {
  return block->transformDirty == 0 && block->matrixDirty == 0 && block->worldDirty == 0 &&
         block->texCoords.dirty == 0 && block->texCoords.dirty1 == 0 && block->fog.dirty == 0 &&
         block->third.dirty == 0 && block->viewportGroup.dirty == 0;
}

TEST_F(TnlTest, NothingDirtyWritesNothingAndBindsNothing) {
  // No step runs: the pass stops after the matrices (which find nothing to
  // write).
  for (const StepProbe& p : StepProbes()) {
    SCOPED_TRACE(p.step);
    Settle();
    p.spoil(*this);
    ASSERT_TRUE(Pass(0));
    EXPECT_FALSE(p.setRight(*this));
    EXPECT_TRUE(AllChangesTaken());
  }
  setup = Make();
  ASSERT_TRUE(Full());
  setup->fixedImage.FoldSent();
  for (VecConstShadow* img : {&setup->fixedImage, &setup->shaderImage}) {
    for (uint32_t& w : img->dirty) w = 0;
    img->dirtySummary = 0;
  }
  const VertexEngineBlock before = hw;
  const TnlStateRecord recordBefore = record;
  hw.dirtyR1 = hw.dirtyR2 = 0;
  ASSERT_TRUE(Pass(0));
  EXPECT_EQ(setup->fixedImage.dirtySummary, 0u);
  EXPECT_EQ(hw.dirtyR1, 0);
  EXPECT_EQ(hw.dirtyR2, 0);
  EXPECT_EQ(memcmp(hw.mainPrograms, before.mainPrograms, sizeof hw.mainPrograms), 0);
  EXPECT_EQ(hw.constantImage, before.constantImage);
  EXPECT_EQ(memcmp(&record, &recordBefore, sizeof record), 0);
}

TEST_F(TnlTest, EachChangeRunsTheStepsThatFollowIt) {
  // For each change, the steps named must set their spoiled value right
  // and the steps listed after them must leave theirs alone; the pass
  // takes every change.
  auto expectSteps = [&](const std::function<void()>& change, const std::vector<const char*>& run,
                         const std::vector<const char*>& never) {
    for (const auto& [steps, ran] : {std::pair{run, true}, std::pair{never, false}}) {
      for (const char* step : steps) {
        SCOPED_TRACE(step);
        Settle();
        const StepProbe& p = Probe(step);
        p.spoil(*this);
        change();
        EXPECT_EQ(p.setRight(*this), ran);
        EXPECT_TRUE(AllChangesTaken());
      }
    }
  };
  struct Case {
    const char* name;
    uint32_t t, m, w, x0, x1, g, h, v;
    std::vector<const char*> run, never;
  } cases[] = {
      {"texture-coordinate values", 0, 0, 0, kTcValues, 0, 0, 0, 0, {"coordinate values"},
       {"stage analysis", "constant 333", "coordinate controls", "vertex fog", "primitive", "point attenuation",
        "light collection", "light constants"}},
      {"texture-coordinate flags", 0, 0, 0, kTcFlags, 0, 0, 0, 0, {"coordinate controls"},
       {"coordinate values", "vertex fog", "point attenuation"}},
      {"the third group's constant", 0, 0, 0, 0, 0, 0, kThConstant, 0, {"constant 333"},
       {"coordinate values", "coordinate controls", "vertex fog", "point attenuation", "point size"}},
      {"the third group's point size", 0, 0, 0, 0, 0, 0, kThPointSize, 0, {"point size", "programs"},
       {"constant 333", "point attenuation"}},
      {"vertex fog", 0, 0, 0, 0, 0, kVfgFog, 0, 0, {"vertex fog", "lighting flags"},
       {"coordinate values", "point attenuation"}},
      {"the viewport's scale", 0, 0, 0, 0, 0, 0, 0, kVpScale, {"point attenuation", "point size", "screen mapping"},
       {"vertex fog", "primitive"}},
      {"the viewport's depth", 0, 0, 0, 0, 0, 0, 0, kVpDepth, {"depth offset"},
       {"point attenuation", "point size", "screen mapping"}},
      {"the coordinate sets", 0, 0, 0, 0, kTcSets, 0, 0, 0,
       {"stage analysis", "routing", "guard band", "texture matrices", "transform enable"},
       {"primitive", "point attenuation"}},
      {"the primitive kind", kVxPrimitiveMode, 0, 0, 0, 0, 0, 0, 0, {"primitive", "stipple"},
       {"point attenuation", "texture matrices"}},
      {"the fill mode", kVxFillMode, 0, 0, 0, 0, 0, 0, 0,
       {"primitive", "depth offset", "point size", "fill", "transform enable", "programs"},
       {"point attenuation", "texture matrices"}},
      {"vertex blending", kVxVertexBlend, 0, 0, 0, 0, 0, 0, 0, {"factor", "vertex blend"},
       {"primitive", "point attenuation"}},
      {"the point group", kVxPoint, 0, 0, 0, 0, 0, 0, 0,
       {"point attenuation", "point size", "guard band", "transform enable", "lighting flags", "programs"},
       {"primitive", "texture matrices", "fill"}},
      {"the projection alone: matrices only", 0, kMxProjection, 0, 0, 0, 0, 0, 0, {},
       {"program header", "primitive", "texture matrices"}},
      {"texture matrix 0", 0, 1u << kMxTextureShift, 0, 0, 0, 0, 0, 0, {"texture matrices", "program header"},
       {"primitive", "point attenuation"}},
      {"texture transforms alone: matrices only", kVxTextureTransforms, 0, 0, 0, 0, 0, 0, 0, {},
       {"program header", "texture matrices"}},
      {"the shade mode", kVxShadeMode, 0, 0, 0, 0, 0, 0, 0, {"specular"}, {"primitive", "two-sided lighting"}},
      {"lighting", kVxLighting, 0, 0, 0, 0, 0, 0, 0, {"two-sided lighting", "cull", "lighting flags"},
       {"primitive", "specular"}},
      {"the global ambient", kVxAmbient, 0, 0, 0, 0, 0, 0, 0, {"global ambient flag", "material sources"},
       {"primitive", "two-sided lighting"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectSteps(
        [&] {
          block->texCoords.dirty = c.x0;
          block->texCoords.dirty1 = c.x1;
          block->fog.dirty = c.g;
          block->third.dirty = c.h;
          block->viewportGroup.dirty = c.v;
          // The apply step forces the pass for any change it tracks: group
          // words alone would take the matrices-only path.
          setup->force = c.t == 0 && c.m == 0 ? 1 : 0;
          ASSERT_TRUE(Pass(c.t, c.m, c.w));
        },
        c.run, c.never);
  }
  // Key dirty bits left by what ran between passes (a mode change, a
  // layout) are taken by the next forced pass.
  const struct {
    const char* name;
    uint32_t byte;
    uint8_t bit;
    std::vector<const char*> run, never;
  } keyCases[] = {
      {"blend count", 0, kKd0BlendCount, {"stipple", "transform enable", "programs"},
       {"primitive", "point attenuation", "two-sided lighting"}},
      {"class", 0, kKd0Class,
       {"depth offset", "point size", "guard band", "fill", "two-sided lighting", "cull", "transform enable",
        "lighting flags", "programs"},
       {"primitive", "point attenuation"}},
      {"spot lights", 0, kKd0SpotLights, {"lighting flags"},
       {"primitive", "depth offset", "point size", "two-sided lighting"}},
      {"clip planes", 1, kKd1ClipCount, {"lighting flags", "programs"}, {"primitive", "point size"}},
      {"kind 2", 3, kKd3Kind2, {"programs"}, {"primitive", "point size", "lighting flags"}},
      {"stage summary", 3, kKd3StageSummaryA, {"lighting flags"}, {"primitive", "point size", "programs"}},
  };
  for (const auto& k : keyCases) {
    SCOPED_TRACE(k.name);
    expectSteps(
        [&] {
          setup->key.keyDirty[k.byte] |= k.bit;
          setup->force = 1;
          ASSERT_TRUE(Pass(0));
          EXPECT_EQ(setup->key.keyDirty[k.byte], 0) << "taken by the pass";
        },
        k.run, k.never);
  }
}

TEST_F(TnlTest, PointSizeStippleAndTheRasterTables) {
  // A point size of 3.2 in point fill: 3 after rounding, odd.
  block->pointSize = Bits(3.2f);
  block->pointMin = Bits(1.0f);
  block->pointMax = Bits(64.0f);
  block->control = 5 | 1u << 4;
  ASSERT_TRUE(Full());
  EXPECT_EQ(F(370)[3], 1.5f);
  EXPECT_EQ(S(370)[3], 3.0f);
  EXPECT_EQ(setup->key.flags6 & 2, 0) << "3 is odd";
  EXPECT_EQ(hw.pointProgram, 1);

  // Stipple 3 on lines with the switch's permission.
  Common()->driverSwitches->LineStipple->current = 1;
  setup = Make();
  block->control = 3 | 3u << 4;
  block->flags |= kVfLineStipple;
  block->lineStippleFactor = 3;
  ASSERT_TRUE(Full());
  for (const float* c : {F(382), S(382)}) {
    EXPECT_EQ(c[3], 48.0f);
    EXPECT_EQ(c[2], 0.5f / 48.0f);
    EXPECT_EQ(c[0], 0.0f);
  }
  // A factor of 0 divides by nothing.
  block->lineStippleFactor = 0;
  ASSERT_TRUE(Full());
  EXPECT_EQ(F(382)[2], 0.0f);
  EXPECT_EQ(F(382)[3], 0.0f);

  // Set-up values A and B by class, and lines of kinds 8 and 12.
  block->flags &= ~kVfLineStipple;
  const struct {
    uint32_t kind, fill;
    uint8_t a, b;
  } setups[] = {{0, 3, 0, 0}, {1, 3, 2, 2}, {2, 3, 1, 1}, {5, 3, 2, 1}, {9, 3, 3, 0},
                {8, 2, 1, 1}, {12, 2, 1, 1}, {5, 2, 2, 2}, {11, 3, 1, 1}};
  for (const auto& s : setups) {
    block->control = s.kind | s.fill << 4;
    ASSERT_TRUE(Full());
    const uint32_t index = 2 * std::min<uint32_t>(setup->key.Class(), 5) +
                           (s.fill == 2 && (s.kind == 8 || s.kind == 12) ? 1 : 0);
    const uint8_t wantA[12] = {2, 2, 0, 0, 1, 1, 2, 1, 3, 3, 2, 1};
    const uint8_t wantB[12] = {2, 2, 0, 0, 1, 1, 2, 1, 0, 0, 2, 1};
    EXPECT_EQ(hw.setupA, wantA[index]) << s.kind << "/" << s.fill;
    EXPECT_EQ(hw.setupB, wantB[index]) << s.kind << "/" << s.fill;
  }
  // A kind beyond the table: no class, no draw.
  block->control = 13 | 3u << 4;
  EXPECT_FALSE(Full());
}

// A change of the fill mode alone (as the render state sends it) reaches
// the hardware fill field, also between points and solid fill, which
// change neither the class nor, at a point size of 1, the point program.
TEST_F(TnlTest, TheFillFieldFollowsEveryFillModeChange) {
  const struct {
    uint32_t from, to;
    uint8_t fill;
  } cases[] = {{1, 3, 0}, {3, 1, 2}, {3, 2, 1}, {2, 1, 2}, {1, 2, 1}, {2, 3, 0}};
  for (const auto& c : cases) {
    setup = Make();
    block->control = 5 | c.from << 4;  // a triangle list
    ASSERT_TRUE(Full());
    ASSERT_EQ(hw.pointProgram, 0) << "a point size of 1 needs no point program";
    block->control = 5 | c.to << 4;
    hw.dirtyR2 = 0;
    ASSERT_TRUE(Pass(kVxFillMode));
    EXPECT_EQ(hw.fill, c.fill) << c.from << " to " << c.to;
    EXPECT_NE(hw.dirtyR2 & kVeR2Registers, 0) << c.from << " to " << c.to;
  }
}

TEST_F(TnlTest, CullAndTwoSidedLighting) {
  const struct {
    uint32_t kind, cull, twoSideMode;
    bool twoSideBit, lighting;
    uint8_t wantCull, wantTwoSide;
    bool wantOn;
  } cases[] = {
      {5, 2, 0, false, false, 1, 0, false}, {5, 3, 0, false, false, 2, 0, false},
      {5, 1, 0, false, false, 3, 0, false},  // CullNoneMode 5 is stored as 3
      {5, 0, 0, false, false, 3, 0, false}, {5, 1, 2, true, true, 3, 2, true},
      {5, 2, 3, true, true, 1, 1, true},    {5, 2, 1, true, true, 1, 0, false},
      {5, 2, 2, true, false, 1, 0, false},  {2, 2, 2, true, true, 0, 0, false},
      {9, 3, 2, true, true, 2, 2, true},
  };
  Common()->driverSwitches->CullNoneMode->current = 5;
  for (const auto& c : cases) {
    setup = Make();
    block->control = c.kind | 3u << 4;
    block->cullMode = c.cull;
    block->twoSideMode = c.twoSideMode;
    block->flags = (c.twoSideBit ? kVfTwoSide : 0) | (c.lighting ? kVfLighting : 0);
    ASSERT_TRUE(Full());
    EXPECT_EQ(hw.cull, c.wantCull) << c.kind << "/" << c.cull << "/" << c.twoSideMode;
    EXPECT_EQ(hw.twoSide, c.wantTwoSide) << c.kind << "/" << c.cull << "/" << c.twoSideMode;
    EXPECT_EQ((setup->key.flags5 & 0x20) != 0, c.wantOn);
  }
}

// Client values that would divide by zero, or index past a table.
TEST_F(TnlTest, ClientValuesNeverDivideByZeroOrIndexPastATable) {
  block->flags |= kVfLighting;
  block->fog.firstRange = 1;
  block->fog.startEnd[0][0] = block->fog.startEnd[0][1] = Bits(5.0f);
  block->viewportGroup.scale[0] = 0;
  block->pointScale[0] = Bits(3.0f);
  LightRecord* spot = Light(1, 2);
  spot->falloff = 0;
  spot->theta = 0;
  spot->direction[0] = spot->direction[1] = spot->direction[2] = 0;
  Enable({1});
  block->control = 5 | 3u << 4 | 3u << 6;  // specular selector 3
  block->texCoords.setCount = 7;
  ASSERT_TRUE(Full());
  EXPECT_EQ(F(334)[0], 0.0f) << "fog end equal to start";
  EXPECT_EQ(F(334)[1], 0.0f);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(F(370)[k], 0.0f) << "viewport scale 0";
  auto word = [&](uint32_t w) { return F(224 + w / 4)[w % 4]; };
  EXPECT_EQ(word(27), 0.0f) << "a second spot value of 0";
  for (uint32_t w = 4; w < 7; ++w) EXPECT_EQ(word(w), 0.0f) << "a zero direction stays zero";
  EXPECT_EQ(hw.specular, 0) << "selector 3 is off";
  EXPECT_EQ(setup->coordSets, 4u) << "more than four sets count four";
  // A changed main program drops the record's reference on the old one.
  VertexProgram* before = hw.mainPrograms[6].program;
  ASSERT_NE(before, nullptr);
  const uint32_t held = before->references;
  block->control = 3 | 3u << 4;  // lines: another key
  ASSERT_TRUE(Full());
  ASSERT_NE(hw.mainPrograms[6].program, before);
  EXPECT_EQ(before->references, held - 1);
}

// ---- Programs ------------------------------------------------------------------------------

TEST_F(TnlTest, ProgramsAreBoundWithTheirStartAddresses) {
  ASSERT_TRUE(Full());
  VertexProgram* main = hw.mainPrograms[6].program;
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->resident, 1);
  EXPECT_EQ(hw.mainPrograms[6].startAddress, main->GetStartAddress());
  EXPECT_EQ(hw.transformPrograms[0].program, B()->GetFixedProgram(6, 0));
  EXPECT_EQ(hw.transformPrograms[0].startAddress, B()->GetFixedProgram(6, 0)->GetStartAddress());
  EXPECT_EQ(hw.transformPrograms[1].program, B()->GetFixedProgram(12, 0));
  EXPECT_EQ(hw.clipProgram.program, B()->GetFixedProgram(9, 0));
  EXPECT_NE(record.programDirty[1] & 1, 0);
  EXPECT_EQ(setup->programHeader[7], hw.mainPrograms[6].startAddress);
  EXPECT_EQ(setup->programHeader[4], 0x3F803F80u);
  EXPECT_GT(main->references, 0u) << "the record names the program";
  // The fixed-function image is bound with fixed program 1.
  EXPECT_EQ(hw.constantImage, &setup->fixedImage);
  EXPECT_EQ(record.constantImage, &setup->fixedImage);
  EXPECT_EQ(hw.fixedProgram.program, B()->GetFixedProgram(1, 0));
  EXPECT_EQ(hw.fixedParameterCount, 16u);
  // Polygon offset switches the transform programs to 7 and 10.
  block->flags |= kVfDriver25;
  block->depthBiasWords[0] = Bits(2.0f);
  ASSERT_TRUE(Full());
  EXPECT_EQ(hw.transformPrograms[0].program, B()->GetFixedProgram(7, 0));
  EXPECT_EQ(hw.clipProgram.program, B()->GetFixedProgram(10, 0));
  EXPECT_EQ(hw.setupB, 6);
  EXPECT_EQ(F(376)[0], 2.0f);
  // When the set-up goes, its programs leave the record's slots.
  setup.reset();
  EXPECT_EQ(hw.mainPrograms[6].program, nullptr);
}

TEST_F(TnlTest, LightParameterRecordsSelectTheLightCombinationProgram) {
  block->flags |= kVfLighting;
  for (uint32_t n : {1u, 4u, 12u}) {
    setup = Make();
    for (auto& e : table) e = nullptr;
    std::vector<uint32_t> ids;
    for (uint32_t i = 1; i <= n; ++i) Light(i, 3);
    for (uint32_t i = 0; i < n; ++i) block->enabledLights[i] = i + 1;
    block->enabledLightCount = static_cast<uint8_t>(n);
    ASSERT_TRUE(Full());
    EXPECT_EQ(hw.lightCombination.program, B()->GetFixedProgram(4, n - 1)) << n;
    EXPECT_EQ(hw.lightCombinationCount, 8 * n);
    EXPECT_EQ(hw.lightCombinationParameters, setup->lightRecords);
    EXPECT_NE(hw.dirtyR2 & 4, 0);
  }
  // Eighteen records (nine lights, two-sided): no program takes them.
  setup = Make();
  block->flags |= kVfTwoSide;
  block->twoSideMode = 2;
  for (uint32_t i = 1; i <= 9; ++i) Light(i, 3);
  for (uint32_t i = 0; i < 9; ++i) block->enabledLights[i] = i + 1;
  block->enabledLightCount = 9;
  ASSERT_TRUE(Full());
  EXPECT_EQ(setup->lightRecordCount, 18u);
  EXPECT_EQ(hw.lightCombination.program, nullptr);
  EXPECT_EQ(hw.lightCombinationCount, 0u);
  EXPECT_EQ(hw.dirtyR2 & 4, 0);
}

TEST_F(TnlTest, AFailedBuildAnswersFalseAndTheNextPassSendsAgain) {
  int failures = 0;
  for (uint64_t nth = 1; nth < 200; ++nth) {
    setup = Make();
    const uint64_t failedBefore = glue.FailedAllocations();
    glue.FailAllocation(nth);
    const bool ok = Full();
    glue.FailAllocation(0);
    if (glue.FailedAllocations() == failedBefore) break;
    if (!ok) {
      ++failures;
      // Everything stays dirty; the next pass takes it all.
      EXPECT_NE(block->transformDirty, 0u);
      EXPECT_TRUE(setup->Update(block.get(), &fetch, &hw));
      EXPECT_NE(hw.mainPrograms[6].program, nullptr);
      EXPECT_EQ(block->transformDirty, 0u);
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(TnlTest, ShaderModeBindsFixedProgramTwoAndTheOtherImageAndBack) {
  ASSERT_TRUE(Full());
  // Both images emitted: what each sent and loaded.
  setup->fixedImage.FoldSent();
  setup->shaderImage.FoldSent();
  auto bit = [](const uint32_t* set, uint32_t c) { return (set[c >> 5] >> (c & 31) & 1) != 0; };
  // A switch with nothing else changed: the new image is dirty exactly
  // where the old one sent and the new one had loaded.
  auto expectTakeOver = [&](const VecConstShadow& from, const VecConstShadow& to,
                            const std::vector<uint32_t>& sentBefore) {
    for (uint32_t c = 0; c < kVecConstCount; ++c)
      EXPECT_EQ(to.Dirty(c), bit(sentBefore.data(), c) && bit(to.loaded, c)) << c;
    EXPECT_EQ(from.sentSummary, 0u) << "what the old image sent is taken over";
  };
  std::vector<uint32_t> sent(setup->fixedImage.sent, setup->fixedImage.sent + kVecConstWords);
  setup->fixedFunction = 0;
  setup->force = 1;
  ASSERT_TRUE(Pass(0));
  EXPECT_EQ(hw.fixedProgram.program, B()->GetFixedProgram(2, 0));
  EXPECT_EQ(hw.fixedParameters, setup->shaderBlock);
  EXPECT_EQ(hw.fixedParameterCount, 24u);
  EXPECT_EQ(hw.constantImage, &setup->shaderImage);
  EXPECT_EQ(record.constantImage, &setup->shaderImage);
  expectTakeOver(setup->fixedImage, setup->shaderImage, sent);
  EXPECT_TRUE(setup->shaderImage.Dirty(352)) << "the screen mapping both images hold";
  // The routing word of the shader mode.
  block->texCoords.dirty1 = 1;
  ASSERT_TRUE(Pass(0x80));
  EXPECT_EQ(hw.routing, 0x6543u);
  // And back.
  setup->shaderImage.FoldSent();
  sent.assign(setup->shaderImage.sent, setup->shaderImage.sent + kVecConstWords);
  setup->fixedFunction = 1;
  setup->force = 1;
  ASSERT_TRUE(Pass(0));
  EXPECT_EQ(hw.fixedProgram.program, B()->GetFixedProgram(1, 0));
  EXPECT_EQ(hw.fixedParameterCount, 16u);
  EXPECT_EQ(hw.constantImage, &setup->fixedImage);
  expectTakeOver(setup->shaderImage, setup->fixedImage, sent);
}

// ---- Layouts -------------------------------------------------------------------------------

TEST_F(TnlTest, InputLayoutsAreKeptOnceAndBounded) {
  EXPECT_EQ(setup->SelectInputLayout(kLayout), 1u);
  VertexShaderEntry* first = setup->currentLayout;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(setup->updateFlags & (kTnlUpdLayoutFormat | kTnlUpdLayoutProgram),
            kTnlUpdLayoutFormat | kTnlUpdLayoutProgram);
  setup->updateFlags = 0;
  EXPECT_EQ(setup->SelectInputLayout(kLayout), 1u);
  EXPECT_EQ(setup->entryCount, 1u);
  EXPECT_EQ(setup->updateFlags, 0u);
  EXPECT_EQ(setup->SelectInputLayout(kLayoutRhw), 1u);
  EXPECT_EQ(setup->entryCount, 2u);
  EXPECT_EQ(setup->updateFlags & (kTnlUpdLayoutFormat | kTnlUpdLayoutProgram), kTnlUpdLayoutFormat)
      << "no program on either: bit 4 stays";
  // Deleting the current entry clears it.
  EXPECT_EQ(setup->RemoveEntry(kLayoutRhw), 0u);
  EXPECT_EQ(setup->currentLayout, nullptr);
  EXPECT_EQ(setup->RemoveEntry(kLayoutRhw), 1u);
  // A refused layout keeps the previous one.
  setup->SelectInputLayout(kLayout);
  const uint32_t bad[6] = {0x1 | 0x8, 0, 0, 0, 0, 0};
  EXPECT_EQ(setup->SelectInputLayout(bad), 1u);
  EXPECT_EQ(setup->currentLayout, first);
  // Many keys: at most the limit, the current one kept.
  for (uint32_t i = 0; i < 200; ++i) {
    uint32_t k[6];
    memcpy(k, kLayout, sizeof k);
    k[4] = i + 1;
    setup->SelectInputLayout(k);
    EXPECT_LE(setup->entryCount, kMaxInputLayouts);
  }
  EXPECT_NE(setup->currentLayout, nullptr);
  EXPECT_EQ(setup->currentLayout->key[4], 200u);
  // An even handle to a declaration changes nothing.
  const uint32_t words[4] = {2, 0, 0, 0};
  const uint32_t count = setup->entryCount;
  EXPECT_EQ(setup->LoadVertexDeclaration(words, 4), 0u);
  EXPECT_EQ(setup->entryCount, count);
  EXPECT_EQ(setup->FindVertexShader(2), nullptr);
}

TEST_F(TnlTest, DescriptorsSortByStreamThenOffsetInInsertionOrder) {
  VertexShaderEntry e;
  const uint32_t in[][2] = {{1, 4}, {0, 8}, {0, 4}, {1, 0}, {0, 4}};
  for (uint32_t i = 0; i < 5; ++i) e.InsertDescriptor(FetchDescriptor(in[i][1], in[i][0], 3, 7, i));
  const uint32_t order[5] = {2, 4, 1, 3, 0};  // by register: insertion index
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(e.descriptors[i] >> 15 & 0xF, order[i]) << i;
  // The descriptor's fields.
  const uint32_t d = FetchDescriptor(0x12, 3, 13, 0x5, 9);
  EXPECT_EQ(d, 0x12u | 3u << 8 | 10u << 11 | 9u << 15 | 5u << 19 | 0u << 23 | 2u << 27 | 1u << 30);
  EXPECT_EQ(FetchDescriptor(0, 0, 3, 0, 0) >> 11 & 0xF, 0u) << "no flag nibble, no format";
  EXPECT_EQ(FetchDescriptor(0, 0, 19, 1, 0), 0u) << "beyond the type table";
}

TEST_F(TnlTest, PrimitiveCodesEdgeFlagsAndElementSelection) {
  const uint8_t codes[13] = {13, 12, 5, 5, 5, 4, 4, 4, 4, 4, 4, 5, 4};
  const uint8_t kinds[13] = {3, 3, 2, 2, 2, 1, 1, 1, 1, 0, 0, 2, 1};
  for (uint32_t kind = 0; kind <= 12; ++kind) {
    block->control = kind | 3u << 4;
    ASSERT_TRUE(Full());
    const uint32_t cls = setup->key.Class();
    uint32_t want = codes[kind];
    if (hw.pointProgram != 0) want = 12;
    EXPECT_EQ(fetch.primitiveBits >> 1 & 0xF, want) << kind << " class " << cls;
    EXPECT_EQ(fetch.kind, kinds[kind]) << kind;
  }
  // Polygons in point and line fill modes; wide lines.
  const struct {
    uint32_t kind, fill;
    float width;
    uint32_t code;
  } overrides[] = {{5, 2, 1, 5}, {9, 2, 1, 5}, {2, 3, 2.5f, 12}};  // wide lines take the point program
  for (const auto& o : overrides) {
    block->control = o.kind | o.fill << 4;
    block->lineWidth = Bits(o.width);
    ASSERT_TRUE(Full());
    EXPECT_EQ(fetch.primitiveBits >> 1 & 0xF, o.code) << o.kind << "/" << o.fill;
  }
  block->lineWidth = Bits(1.0f);
  // Kinds 8 and 12 drawn as lines fetch edge flags.
  for (uint32_t kind : {8u, 12u}) {
    block->control = kind | 2u << 4;
    block->vertexFlags = 2;
    ASSERT_TRUE(Full());
    EXPECT_EQ(fetch.edgeFlags[0], 0x40);
    EXPECT_EQ(fetch.edgeFlags[1], 1);
    EXPECT_NE(fetch.lineFlags & 2, 0);
  }
  // Element selection: the diffuse colour only when unlit or sourced.
  block->control = 5 | 3u << 4;
  auto fetchedRegisters = [&]() {
    std::vector<uint32_t> regs;
    const VertexShaderEntry* e = setup->currentLayout;
    for (uint32_t i = 0; i < e->descriptorCount; ++i) regs.push_back(e->descriptors[i] >> 15 & 0xF);
    std::sort(regs.begin(), regs.end());
    return regs;
  };
  const struct {
    const char* name;
    uint32_t flags;
    uint32_t sources;
    std::vector<uint32_t> regs;
  } selections[] = {
      {"unlit: position, normal only when lit, diffuse", 0, 0, {0, 8}},
      {"lit: no diffuse", kVfLighting, 0, {0}},
      {"lit with the diffuse from the first colour", kVfLighting | kVfColourVertex, 1, {0, 8}},
  };
  for (const auto& s : selections) {
    block->flags = s.flags;
    block->materialSources = s.sources;
    ASSERT_TRUE(Full());
    EXPECT_EQ(fetchedRegisters(), s.regs) << s.name;
    EXPECT_EQ(fetch.descriptors, setup->currentLayout->descriptors);
  }
}

// ---- What the board receives ---------------------------------------------------------------

TEST_F(TnlTest, TheBoardHoldsTheBoundImageAfterEveryPass) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<uint32_t> pick(0, 9);
  block->flags |= kVfLighting;
  Light(1, 2)->falloff = Bits(1.0f);
  Light(2, 3);
  block->clipPlaneEnable = 3;
  for (int step = 0; step < 60; ++step) {
    switch (pick(rng)) {
      case 0: Random(rng, block->world[0].m); block->matrixDirty |= 1; block->worldDirty |= 1; break;
      case 1: Random(rng, block->view.m); block->matrixDirty |= 1; break;
      case 2: Random(rng, block->projection.m); block->matrixDirty |= 2; break;
      case 3: Enable({1, 2}); block->transformDirty |= kVxLight; break;
      case 4: Enable({2}); block->transformDirty |= kVxLight; break;
      case 5: block->control = (rng() % 13) | 3u << 4; block->transformDirty |= kVxPrimitiveMode; break;
      case 6: block->tnlMode = (rng() % 4) << 14; block->transformDirty |= kVxVertexBlend; break;
      case 7: block->viewportGroup.size[0] = rng() % 2048; block->viewportGroup.dirty |= 0x20; break;
      case 8: block->pointSize = Bits(static_cast<float>(rng() % 64)); block->transformDirty |= kVxPoint; break;
      default: block->clipPlaneEnable = rng() & 0x3F; block->transformDirty |= kVxClipPlaneEnable; break;
    }
    setup->force = step == 0 ? 1 : 0;
    ASSERT_TRUE(setup->Update(block.get(), &fetch, &hw)) << step;
    VecConstShadow* bound = setup->BoundImage();
    ASSERT_TRUE(bound->CopyDirty(Secondary()));
    Secondary()->ExecutePending();
    bound->FoldSent();
    for (uint32_t& w : bound->dirty) w = 0;
    bound->dirtySummary = 0;
    ASSERT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
    for (uint32_t c = 0; c < kVecConstCount; ++c) {
      if ((bound->loaded[c >> 5] >> (c & 31) & 1) == 0) continue;
      ASSERT_EQ(memcmp(vertex.Entry(orvsim::kVertexConstantKind, 0, c), bound->image[c].w, 16), 0)
          << "step " << step << " constant " << c;
    }
  }
}

// ---- Vertex shaders made from a declaration ---------------------------------------------------

// A shader's words: its handle, the declaration's two unread words and its
// program word, then the tokens (stream 0: position as three floats, the
// diffuse colour packed).
std::vector<uint32_t> ShaderWords(uint32_t handle, uint32_t program) {
  return {handle, 0xAAAA, 0xBBBB, program, 1u << 29 | 0, 2u << 29 | 2u << 16 | 0, 2u << 29 | 4u << 16 | 5,
          0xE0000000};
}

TEST_F(TnlTest, ACreatedVertexShaderIsALayoutEntryTheShaderLookUpDoesNotFind) {
  const uint32_t key[6] = {7, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  const std::vector<uint32_t> words = ShaderWords(7, 0);
  ASSERT_EQ(setup->CreateVertexShader(words.data(), words.size()), 0u);
  EXPECT_EQ(setup->entryCount, 1u);
  VertexShaderEntry* entry = setup->FindInputLayout(key);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->layoutFlag, 1);
  EXPECT_EQ(entry->handle, 7u);
  EXPECT_EQ(setup->FindVertexShader(7), nullptr) << "it carries the layout flag";
  // Its format is the declaration's, and its descriptors the format's
  // present elements: the position at word 0, the colour at word 3.
  ASSERT_NE(entry->format, nullptr);
  VertexFormat parsed;
  ASSERT_EQ(parsed.FromDeclaration(words.data() + 1, words.size() - 1), 0u);
  EXPECT_EQ(entry->format->kind, uint32_t{kVtxFormatDeclaration});
  EXPECT_EQ(memcmp(entry->format->elements, parsed.elements, sizeof parsed.elements), 0);
  EXPECT_EQ(entry->format->streamOffset[0], 16u);
  ASSERT_EQ(entry->descriptorCount, 2u);
  EXPECT_EQ(entry->descriptors[0] & 0xFF, 0u);
  EXPECT_EQ(entry->descriptors[1] & 0xFF, 3u);
  EXPECT_EQ(entry->program, nullptr) << "no function, no program";
  // The same handle again replaces it: the handle names one entry.
  ASSERT_EQ(setup->CreateVertexShader(words.data(), words.size()), 0u);
  EXPECT_EQ(setup->entryCount, 1u);
  EXPECT_NE(setup->FindInputLayout(key), nullptr);
  setup->DeleteVertexShader(7);
  EXPECT_EQ(setup->FindInputLayout(key), nullptr);
  EXPECT_EQ(setup->entryCount, 0u);
}

TEST_F(TnlTest, AVertexShaderThatCannotBeMadeLeavesNoEntry) {
  ASSERT_EQ(setup->SelectInputLayout(kLayout), 1u);
  VertexShaderEntry* current = setup->currentLayout;
  const size_t blocks = glue.LiveBlocks().size();
  const uint32_t key[6] = {9, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  std::vector<uint32_t> refused = ShaderWords(9, 0);
  refused[4] = 2u << 29 | 2u << 16;  // stream data before any stream selector
  const std::vector<uint32_t> function = ShaderWords(9, 1);
  const struct {
    const char* name;
    std::vector<uint32_t> words;
  } cases[] = {
      {"no words", {}},
      {"a refused token", refused},
      // The builder compiles nothing from client shader data: the program
      // record goes with the entry.
      {"a declaration with a function", function},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(setup->CreateVertexShader(c.words.empty() ? nullptr : c.words.data(), c.words.size()), 1u) << c.name;
    EXPECT_EQ(setup->FindInputLayout(key), nullptr) << c.name;
    EXPECT_EQ(setup->entryCount, 1u) << c.name;
    EXPECT_EQ(setup->currentLayout, current) << c.name;
    EXPECT_EQ(glue.LiveBlocks().size(), blocks) << c.name;
  }
  // Each allocation failing in turn leaves nothing either.
  const std::vector<uint32_t> words = ShaderWords(9, 0);
  bool made = false;
  for (uint64_t nth = 1; nth < 20 && !made; ++nth) {
    glue.FailAllocation(nth, kglue::AllocKind::kMemory);
    made = setup->CreateVertexShader(words.data(), words.size()) == 0;
    glue.FailAllocation(0);
    if (!made) {
      EXPECT_EQ(setup->FindInputLayout(key), nullptr) << nth;
      EXPECT_EQ(glue.LiveBlocks().size(), blocks) << nth;
    }
  }
  EXPECT_TRUE(made);
  EXPECT_EQ(setup->entryCount, 2u);
}

}  // namespace
