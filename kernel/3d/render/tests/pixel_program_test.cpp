// Pixel programs and their cache over a started board: the build from a
// description, the commit and what it hands the context state, the stage
// step's candidates and scores, the unit parameters, and the cache's maps,
// keys, eviction and selection.
#include <gtest/gtest.h>

#include <string.h>

#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"

namespace {

constexpr uint32_t kClient = 91;

// A description with stages of operation 1 over registers 6 and 7 (or the
// arguments given), and textures present as asked.
std::unique_ptr<PipelineRecord> Description(uint32_t stages, uint32_t textures = 0) {
  auto d = std::make_unique<PipelineRecord>();
  d->count = stages;
  for (uint32_t s = 0; s < kPipelineStages; ++s) {
    d->stages[s].colour.operation = 1;
    d->stages[s].colour.args[0].index = 6;
    d->stages[s].colour.args[1].index = 7;
  }
  for (uint32_t t = 0; t < textures && t < kPipelineTextures; ++t) d->textures[t].presence = 1;
  return d;
}

class Programs : public stest::SurfaceBoard {
 protected:
  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, kClient);
    ASSERT_NE(table, nullptr);
    RenderContextRequest3d request{nullptr, pdev, kClient, 0, {nullptr, nullptr}, 0};
    ASSERT_TRUE(CreateRenderContext(&request));
    context = RenderContextTableGet(request.handle);
    ASSERT_NE(context, nullptr);
    cache = context->programCache;
    ASSERT_NE(cache, nullptr);
    live = &context->state.pipelineState;
    target = context->contextState;
    ASSERT_NE(target, nullptr);
  }
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, kClient);
    SurfaceBoard::TearDown();
  }

  // A texture of 11 in the client's table.
  Surface3d* Texture(uint32_t width, uint32_t height) {
    SurfaceCreateRequest r = Request(11, width, height);
    return table->CreateSurface(1, &r);
  }

  ResourceTable* table = nullptr;
  RenderContext3d* context = nullptr;
  PixelProgramCache* cache = nullptr;
  PixelPipelineState* live = nullptr;
  ContextState3d* target = nullptr;
};

// ---- Build ------------------------------------------------------------------------------------

TEST_F(Programs, BuildTakesBothHalvesAndBoundsTheStages) {
  auto d = Description(2);
  d->stages[0].colourEnable = 1;
  d->stages[0].alpha.operation = 0;
  d->stages[0].alpha.args[0].index = 9;
  d->stages[1].colourEnable = 0;  // word 52 = 0: the first set twice
  d->stages[1].alpha.operation = 0;
  d->stages[1].alpha.args[0].index = 9;
  auto program = std::make_unique<PixelProgram>();
  EXPECT_FALSE(program->Build(cache, nullptr, kProgramModeFixed));
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_EQ(program->stageCount, 2u);
  EXPECT_EQ(program->stages[0].alpha.wordA >> 5 & 0x1F, 9u);
  EXPECT_EQ(program->stages[1].alpha.wordA, program->stages[1].colour.wordA);
  EXPECT_EQ(program->stages[1].alpha.wordB & 0xFF00, 0xC00u);

  // A client's count above ten builds ten stages.
  d->count = 0xFFFFFFFF;
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_EQ(program->stageCount, 10u);
}

TEST_F(Programs, ClientConstantsStoreTheirElevenBitSteps) {
  auto d = Description(3);
  uint8_t* record = reinterpret_cast<uint8_t*>(&d->stages[2]);
  const float first[4] = {2.0f, -2.0f, 0.5f, 1.0f};   // x, y, z, w
  const float second[4] = {-0.25f, 0.0f, 0.0f, 0.0f};
  record[108] = 1;
  memcpy(record + 112, first, 16);
  record[128] = 1;
  memcpy(record + 132, second, 16);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeClient));
  EXPECT_EQ(program->stages[2].constantImages[0][0], 1023u | 1023u << 16);  // x | w << 16
  EXPECT_EQ(program->stages[2].constantImages[0][1], 512u | 0x400u << 16);  // z | y << 16
  EXPECT_EQ(program->stages[2].constantImages[1][0], static_cast<uint32_t>(-256) & 0x7FF);
  EXPECT_EQ(program->stages[2].constantCount, 2u);
  EXPECT_EQ(program->constants[4].set, 1);
  EXPECT_EQ(program->constants[5].set, 1);
  EXPECT_EQ(memcmp(program->constants[4].bytes, first, 16), 0);
  // Fixed-function builds take no constants from the record.
  auto fixed = std::make_unique<PixelProgram>();
  ASSERT_TRUE(fixed->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_EQ(fixed->constants[4].set, 0);
}

TEST_F(Programs, AuxiliarySamplersJoinFixedFunctionOnlyWithAUnitLeft) {
  live->entries[8].enables[0] = 1;
  live->entries[9].enables[1] = 1;
  cache->state = live;  // a selection under way
  struct Case {
    uint32_t textures;
    uint32_t mode;
    uint32_t units;
    uint32_t samplerCount;
  };
  const Case cases[] = {
      {0, kProgramModeFixed, 2, 10}, {2, kProgramModeFixed, 4, 10}, {3, kProgramModeFixed, 4, 9},
      {4, kProgramModeFixed, 4, 4},  {1, kProgramModeClient, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.textures << " textures, mode " << c.mode);
    auto d = Description(1, c.textures);
    auto program = std::make_unique<PixelProgram>();
    ASSERT_TRUE(program->Build(cache, d.get(), c.mode));
    EXPECT_EQ(program->unitCount, c.units);
    EXPECT_EQ(program->samplerCount, c.samplerCount);
    if (c.units > c.textures) {
      EXPECT_EQ(program->units[c.textures].kind, 8u);
    }
  }
  // Only sampler 9 on: one unit of kind 9.
  live->entries[8].enables[0] = 0;
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_EQ(program->unitCount, 2u);
  EXPECT_EQ(program->units[1].kind, 9u);
  EXPECT_EQ(program->samplerCount, 10u);
  cache->state = nullptr;
}

TEST_F(Programs, DependentListsAreBoundedToPresentTextures) {
  auto d = Description(1, 2);
  d->textures[0].dependentCount = 0xFFFFFFFF;
  d->textures[0].dependents[0] = 1;
  d->textures[0].dependents[1] = 3;          // not present
  d->textures[0].dependents[2] = 0x7FFFFFFF;  // out of range
  d->textures[0].dependents[3] = 0;          // itself
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_EQ(program->units[0].dependentCount, 1u);
  EXPECT_EQ(program->units[0].dependents[0], 1u);
}

// ---- Commit -----------------------------------------------------------------------------------

TEST_F(Programs, CommitNeedsABuildAValidUnitStepAndATarget) {
  auto d = Description(1);
  auto program = std::make_unique<PixelProgram>();
  EXPECT_FALSE(program->Commit(0, *live, target, cache->caps));
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_FALSE(program->Commit(0, *live, nullptr, cache->caps));
  // A texture whose handle kind is not a resource type makes the unit step
  // fail.
  auto textured = Description(1, 1);
  live->entries[0].textureA = 7;
  live->entries[0].textureB = 3;
  ASSERT_TRUE(program->Build(cache, textured.get(), kProgramModeFixed));
  EXPECT_FALSE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(program->valid, 0);
  live->entries[0].textureA = 1;
  live->entries[0].textureB = 0;
  ASSERT_TRUE(program->Build(cache, textured.get(), kProgramModeFixed));
  EXPECT_TRUE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(program->valid, 1);
  // A unit kind outside the kind table fails the unit.
  textured->kind = 32;
  ASSERT_TRUE(program->Build(cache, textured.get(), kProgramModeFixed));
  EXPECT_FALSE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(program->valid, 0);
}

TEST_F(Programs, TheFirstCommitEmitsEverythingLaterOnesOnlyWhatChanged) {
  Surface3d* texture = Texture(64, 32);
  ASSERT_NE(texture, nullptr);
  live->entries[0].textureA = 1;
  live->entries[0].textureB = texture->resourceHandle;
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  target->dirty.words[2] = 0;
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  TextureUnitBlock& units = target->textureUnits;
  EXPECT_EQ(units.unitCount, 1u);
  EXPECT_EQ(units.units[0].words[4] & 0x3FFF, 64u);
  EXPECT_EQ(units.units[0].words[4] >> 14 & 0x3FFF, 32u);
  EXPECT_EQ(units.units[0].words[8], texture->hw.records[kUsageTexture].word0);
  EXPECT_EQ(target->dirty.words[2] & 3, 3u);
  EXPECT_EQ(program->dirty, 0u);

  // Nothing changed: nothing is marked again.
  target->dirty.words[2] = 0;
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(target->dirty.words[2] & 3, 0u);

  // A new program commits everything whatever changed says.
  auto second = std::make_unique<PixelProgram>();
  ASSERT_TRUE(second->Build(cache, d.get(), kProgramModeFixed));
  target->dirty.words[2] = 0;
  ASSERT_TRUE(second->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(target->dirty.words[2] & 3, 3u);
}

TEST_F(Programs, TheBindingRecordReachesTheRenderContext) {
  PipelineSubBlock& sub = context->state.pipelineSub;
  sub.first = sub.second = 0;
  sub.bindingFlags = 0;
  // A stage that reads register 16 (slot A of operation 1).
  auto reads = Description(1);
  reads->stages[0].colour.args[0].index = 16;
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, reads.get(), kProgramModeFixed));
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(sub.bindingFlags, 1u);
  EXPECT_EQ(sub.second, 1u);
  EXPECT_EQ(sub.first, 0xFFFFFFFFu);
  EXPECT_EQ(sub.control & kPsubTargetKind2, kPsubTargetKind2);

  // The context's change words are cleared after a draw; a commit with
  // nothing changed marks nothing.
  sub.first = sub.second = 0;
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(sub.first, 0u);
  EXPECT_EQ(sub.second, 0u);

  // A program that reads neither register takes over: the binding changed.
  auto plain = Description(1);
  auto other = std::make_unique<PixelProgram>();
  ASSERT_TRUE(other->Build(cache, plain.get(), kProgramModeFixed));
  ASSERT_TRUE(other->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(sub.bindingFlags, 0u);
  EXPECT_EQ(sub.second, 0u);
  EXPECT_EQ(sub.first, 0xFFFFFFFFu);
  // The first again, taking over with its flags: compared with the
  // context's, they differ.
  sub.first = sub.second = 0;
  ASSERT_TRUE(program->Commit(1, *live, target, cache->caps));
  EXPECT_EQ(sub.bindingFlags, 1u);
  EXPECT_EQ(sub.second, 1u);
  EXPECT_EQ(sub.first, 0xFFFFFFFFu);
}

// Option bit 0 asks fixed-function programs for their final stage: a
// program built and first committed while it is set has the stage, as one
// that saw the bit change later does.
TEST_F(Programs, TheFinalStageFollowsOptionBitZeroFromTheFirstCommit) {
  auto d = Description(2, 0);
  live->options |= kPpsOptionMode;
  live->dirty |= kPpsOptionBit0;
  auto fresh = std::make_unique<PixelProgram>();
  ASSERT_TRUE(fresh->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(fresh->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(fresh->finalStage & 1, 1);

  // The same program seeing the bit set after its first commit.
  live->options &= ~kPpsOptionMode;
  auto later = std::make_unique<PixelProgram>();
  ASSERT_TRUE(later->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(later->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(later->finalStage & 1, 0);
  live->options |= kPpsOptionMode;
  live->dirty |= kPpsOptionBit0;
  ASSERT_TRUE(later->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(later->finalStage & 1, 1);
  EXPECT_EQ(later->imageCount, fresh->imageCount);
}

// A commit that marks the constants keeps the images of stages whose
// constants did not change and makes again only the constant images that
// did; after every step the images are those of a fresh program committed
// for the same state, flag words included.
TEST_F(Programs, AConstantChangeReachesTheImagesOfTheStagesThatReadIt) {
  // Five stages (constants 0-9) and a unit on entry 0 without a surface.
  auto d = Description(5, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  ASSERT_EQ(program->imageCount, 5u);
  auto expectFresh = [&](const char* step) {
    SCOPED_TRACE(step);
    auto fresh = std::make_unique<PixelProgram>();
    std::unique_ptr<ContextState3d> own(NewContextState3d(nullptr));
    ASSERT_TRUE(fresh->Build(cache, d.get(), kProgramModeFixed));
    ASSERT_TRUE(fresh->Commit(0, *live, own.get(), cache->caps));
    ASSERT_EQ(fresh->imageCount, program->imageCount);
    for (uint32_t i = 0; i < program->imageCount; ++i)
      EXPECT_EQ(memcmp(&fresh->images[i], &program->images[i], sizeof(CombinerStageImage)), 0) << "image " << i;
  };
  auto setConstant = [&](uint32_t slot, float x) {
    const float c[4] = {x, -x, x / 2, 0.25f};
    memcpy(live->constants[slot], c, 16);
    live->dirty |= slot < kPipelineBlockConstants ? kPpsConstants | kPpsConstantBlock : kPpsConstants;
    live->dirtyConstants |= 1u << slot;
  };
  // A commit, telling which images it wrote: their flag words are marked
  // before and put back where the commit left them.
  bool written[kProgramStages] = {};
  auto commit = [&] {
    uint32_t flags[kProgramStages];
    for (uint32_t i = 0; i < kProgramStages; ++i) {
      flags[i] = program->images[i].flags;
      program->images[i].flags = 0xFFFFFFFF;
    }
    ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
    for (uint32_t i = 0; i < kProgramStages; ++i) {
      written[i] = program->images[i].flags != 0xFFFFFFFF;
      if (!written[i]) program->images[i].flags = flags[i];
    }
    live->dirty = live->dirtyConstants = 0;
  };

  // (The second commit lays the stages out again: every image is written.)
  setConstant(2, 0.25f);
  commit();
  for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(written[i]) << i;
  // Slot 2 is stage 1's first constant: only its image is written again,
  // its constants x | w << 16 and z | y << 16 in 11-bit steps.
  setConstant(2, 0.5f);
  commit();
  EXPECT_TRUE(written[1]);
  for (uint32_t i : {0u, 2u, 3u, 4u}) EXPECT_FALSE(written[i]) << i;
  EXPECT_EQ(program->images[1].constants[0], 512u | 256u << 16);
  EXPECT_EQ(program->images[1].constants[1], 256u | 0x600u << 16);
  expectFresh("stage 1's first constant");
  // Slot 9, stage 4's second constant, beyond the constant block.
  setConstant(9, -0.75f);
  commit();
  EXPECT_TRUE(written[4]);
  for (uint32_t i : {0u, 1u, 2u, 3u}) EXPECT_FALSE(written[i]) << i;
  expectFresh("stage 4's second constant");

  // An emission without the constants marked (a matrix value of entry 0)
  // writes the images without them; the next constant change writes every
  // stage's image again with its constants.
  live->entries[0].bumpEnvironment[4] = 2.0f;
  commit();
  EXPECT_TRUE(written[0]);
  EXPECT_EQ(program->images[0].flags & kImageConstantsPresent, 0u);
  setConstant(4, 0.125f);
  commit();
  for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(written[i]) << i;
  expectFresh("after an emission without constants");

  // A new stage list (the final stage switched on) is written whole; then
  // a constant change writes only the stage that reads it, not the final
  // stage, which reads none.
  live->options |= kPpsOptionMode;
  setConstant(0, 1.0f);
  commit();
  ASSERT_EQ(program->imageCount, 6u);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_TRUE(written[i]) << i;
  expectFresh("with the final stage");
  setConstant(6, -1.0f);
  commit();
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(written[i], i == 3) << i;
  expectFresh("stage 3's first constant with the final stage");

  // An emission without the constants marked writes the ordinary stages
  // without them; a second one writes nothing: every image stands as such
  // an emission writes it.
  live->entries[0].bumpEnvironment[4] = 3.0f;
  commit();
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(written[i], i < 5) << i;
  live->entries[0].bumpEnvironment[4] = 4.0f;
  commit();
  for (uint32_t i = 0; i < 6; ++i) EXPECT_FALSE(written[i]) << i;
}

TEST_F(Programs, AProgramTakingOverComparesWithWhatTheTargetHolds) {
  Surface3d* texture = Texture(64, 64);
  ASSERT_NE(texture, nullptr);
  live->entries[0].textureA = 1;
  live->entries[0].textureB = texture->resourceHandle;
  auto d = Description(1, 1);
  auto first = std::make_unique<PixelProgram>();
  auto second = std::make_unique<PixelProgram>();
  ASSERT_TRUE(first->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(second->Build(cache, d.get(), kProgramModeFixed));
  const float c[4] = {1.0f, 0, 0, 0};
  second->SetParams(0, c);
  ASSERT_TRUE(first->Commit(0, *live, target, cache->caps));
  ASSERT_TRUE(second->Commit(0, *live, target, cache->caps));
  ASSERT_TRUE(first->Commit(1, *live, target, cache->caps));
  EXPECT_EQ(target->textureUnits.units[0].words[6], first->units[0].image[4]);
  target->dirty.words[2] = 0;
  // The second program takes over: only its coefficients differ.
  ASSERT_TRUE(second->Commit(1, *live, target, cache->caps));
  EXPECT_EQ(target->dirty.words[2] & 3, 2u);
  EXPECT_EQ(target->textureUnits.units[0].words[6], second->units[0].image[4]);
  target->dirty.words[2] = 0;
  ASSERT_TRUE(first->Commit(1, *live, target, cache->caps));
  EXPECT_EQ(target->dirty.words[2] & 3, 2u);
  EXPECT_EQ(target->textureUnits.units[0].words[6], first->units[0].image[4]);
}

TEST_F(Programs, UnitParameterFields) {
  EXPECT_EQ(LodField(-1.0f), 0u);
  EXPECT_EQ(LodField(2.5f), 40u);
  EXPECT_EQ(LodField(15.0f), 240u);
  EXPECT_EQ(LodField(1000.0f), 240u);
  EXPECT_EQ(LodField(__builtin_nanf("")), 0u);
  EXPECT_EQ(BiasField(4.0f, 0.0f), 0u);
  EXPECT_EQ(BiasField(100.0f, 0.0f), 0u);
  EXPECT_EQ(BiasField(-4.0f, 0.0f), static_cast<uint32_t>(-128) & 0x1FF);
  EXPECT_EQ(BiasField(-2.7f, 0.0f), static_cast<uint32_t>(-96) & 0x1FF);  // truncated towards zero
  EXPECT_EQ(BiasField(1.5f, 0.0f), static_cast<uint32_t>(-40) & 0x1FF);
  EXPECT_EQ(BiasField(3.0f, 2.0f), 0u);  // with the extra bias, still at most 4
  EXPECT_EQ(BiasField(__builtin_nanf(""), 1e30f), 0u);
  EXPECT_EQ(CoefficientField(-16.0f, true), 0x77E6);
  EXPECT_EQ(CoefficientField(16.0f, true), 0x881A);
  EXPECT_EQ(CoefficientField(1e9f, true), 0x881A);
  EXPECT_EQ(CoefficientField(__builtin_nanf(""), true), 0);
  EXPECT_EQ(CoefficientField(1.0f, false), 2047);

  // Sizes are masked to 14, 14 and 12 bits, LOD and bias placed.
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  live->entries[0].lodRange[0] = 1.0f;
  live->entries[0].lodRange[1] = 20.0f;
  const float bias = -1.0f;
  memcpy(reinterpret_cast<uint8_t*>(&live->entries[0]) + offsetof(PipelineStageEntry, lodBias), &bias, 4);
  program->units[0].sizes[0] = 0x4000 | 100;
  program->units[0].sizes[1] = 0xC000 | 50;
  program->units[0].sizes[2] = 0x1000 | 256;
  const float c[4] = {-16.0f, 16.0f, 0.0f, 1.0f};
  program->SetParams(0, c);
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  const uint32_t* w = target->textureUnits.units[0].words;
  EXPECT_EQ(w[2] >> 10 & 0xFF, 16u);
  EXPECT_EQ(w[2] >> 18 & 0xFF, 240u);
  EXPECT_EQ(w[4], 100u | 50u << 14);
  EXPECT_EQ(w[5] & 0xFFF, 256u);
  EXPECT_EQ(w[5] >> 12 & 0x1FF, static_cast<uint32_t>(-80) & 0x1FF);
  EXPECT_EQ(w[6], 0x77E6u | 0x881Au << 16);
}

// The LOD and bias fields follow every change of their inputs commit after
// commit, also where the inputs come back to earlier values or only a
// NaN's payload changes.
TEST_F(Programs, LodAndBiasChangesReachTheUnitCommitAfterCommit) {
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  const float nan1 = __builtin_nanf("1");
  const float nan2 = __builtin_nanf("2");
  struct Step {
    float lod0, lod1, bias;
  };
  const Step steps[] = {
      {1.0f, 20.0f, -1.0f}, {1.0f, 20.0f, -1.0f}, {1.0f, 20.0f, 2.5f}, {3.0f, 20.0f, 2.5f}, {3.0f, 7.5f, 2.5f},
      {1.0f, 20.0f, -1.0f}, {nan1, nan1, nan1},   {nan2, nan2, nan2},  {-0.0f, 0.0f, -0.0f}, {0.0f, -0.0f, 0.0f},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.lod0 << " " << s.lod1 << " " << s.bias);
    live->entries[0].lodRange[0] = s.lod0;
    live->entries[0].lodRange[1] = s.lod1;
    memcpy(reinterpret_cast<uint8_t*>(&live->entries[0]) + offsetof(PipelineStageEntry, lodBias), &s.bias, 4);
    ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
    const uint32_t* w = target->textureUnits.units[0].words;
    EXPECT_EQ(w[2] >> 10 & 0xFF, LodField(s.lod0));
    EXPECT_EQ(w[2] >> 18 & 0xFF, LodField(s.lod1));
    EXPECT_EQ(w[5] >> 12 & 0x1FF, BiasField(s.bias, 0.0f));
  }
}

// ---- The stage step ---------------------------------------------------------------------------

TEST(PixelStageStep, UnitCheckRules) {
  struct Case {
    const char* name;
    UnitCheckView unit;
    PixelDeviceCaps caps;
    uint32_t totalDependents;
    bool passes;
  };
  PixelDeviceCaps none{};
  none.level = 0;
  none.flags = 0;
  PixelDeviceCaps level2bit0{0, 2, 1, 0xFFFFFFFF};
  PixelDeviceCaps level4bit1{0, 4, 2, 0xFFFFFFFF};
  PixelDeviceCaps level4bit0{0, 4, 1, 0xFFFFFFFF};
  PixelDeviceCaps later{0x400, 4, 3, 0xFFFFFFFF};
  const Case cases[] = {
      {"mask 3 needs level 2 and bit 0", {0, 3, 3, 0, 0, {0, 1}}, level2bit0, 0, true},
      {"mask 3 without bit 0", {0, 3, 3, 0, 0, {0, 1}}, level4bit1, 0, false},
      {"mask 3 at level 1", {0, 3, 3, 0, 0, {0, 1}}, PixelDeviceCaps{0, 1, 3, 0}, 0, false},
      {"mask 12 needs level 4 and bit 1", {0, 12, 0, 0, 0, {0, 1}}, level4bit1, 0, true},
      {"mask 12 at level 2", {0, 12, 0, 0, 0, {0, 1}}, PixelDeviceCaps{0, 2, 3, 0}, 0, false},
      {"mask 15 with either bit", {0, 15, 1, 0, 0, {0, 1}}, level4bit0, 0, true},
      {"mask 15 without bits", {0, 15, 1, 0, 0, {0, 1}}, PixelDeviceCaps{0, 4, 0, 0}, 0, false},
      {"kind 14 needs mask 8", {14, 8, 0, 0, 0, {0, 1}}, none, 0, true},
      {"kind 14 with mask 4", {14, 4, 0, 0, 0, {0, 1}}, none, 0, false},
      {"kind 1 needs derived bit 0", {1, 2, 2, 0, 0, {0, 1}}, none, 0, false},
      {"kind 1 with derived bit 0", {1, 1, 1, 0, 0, {0, 1}}, none, 0, true},
      {"mask 5 needs kind 0, 4, 16 or 17", {16, 5, 1, 0, 0, {0, 1}}, none, 0, true},
      {"mask 5 of kind 2", {2, 5, 1, 0, 0, {0, 1}}, none, 0, false},
      {"mask 15 needs kind 0", {4, 15, 1, 0, 0, {0, 1}}, level4bit0, 0, false},
      {"a set with dependents", {0, 3, 3, 1, 1, {0, 1}}, level2bit0, 1, false},
      {"dependents with mask 2 and no selection 2", {0, 2, 3, 1, 1, {0, 1}}, none, 1, false},
      {"dependents with mask 2 and selection 2", {0, 2, 3, 1, 2, {0, 1}}, none, 1, true},
      {"dependents with mask 1", {0, 1, 3, 1, 0, {0, 1}}, none, 1, true},
      {"kind 6 with equal bound words", {6, 1, 1, 0, 0, {5, 5}}, none, 0, false},
      {"kind 6 with different bound words", {6, 1, 1, 0, 0, {5, 6}}, none, 0, true},
      {"mask 1 derived 2 on a later chip, two dependents", {0, 1, 2, 0, 0, {0, 1}}, later, 2, false},
      {"mask 1 derived 2 on a later chip, three dependents", {0, 1, 2, 0, 0, {0, 1}}, later, 3, true},
      {"mask 4 derived 8 on an earlier chip", {0, 4, 8, 0, 0, {0, 1}}, none, 0, true},
  };
  for (const Case& c : cases) EXPECT_EQ(CandidatePasses(&c.unit, 1, c.caps, c.totalDependents), c.passes) << c.name;
  // Only the first unit with dependents and derived bit 0 is checked.
  const UnitCheckView two[2] = {{0, 1, 1, 1, 0, {0, 1}}, {0, 2, 3, 1, 0, {0, 1}}};
  EXPECT_TRUE(CandidatePasses(two, 2, none, 2));
}

TEST(PixelStageStep, ScoreCapsAndValues) {
  PixelDeviceCaps earlier{};
  PixelDeviceCaps later{0x400, 4, 3, 0xFFFFFFFF};
  EXPECT_EQ(ScoreCap(earlier, 5), 4.0f);
  EXPECT_EQ(ScoreCap(earlier, 6), 2.0f);
  EXPECT_EQ(ScoreCap(later, 5), 2.0f);
  EXPECT_EQ(ScoreCap(later, 6), 1.0f);
  const uint32_t sampling[3] = {0, 0, 0};
  // low + (high - low) x (1 - s / 4,194,304).
  EXPECT_FLOAT_EQ(UnitScore(earlier, 1, 1, 0, sampling, 2048, 1024), 1.5f);
  EXPECT_FLOAT_EQ(UnitScore(earlier, 1, 1, 0, sampling, 0, 0), 2.0f);
  // A whole-set unit without a sampling value of 3 scores nothing.
  EXPECT_EQ(UnitScore(earlier, 15, 0, 0, sampling, 16, 16), 0.0f);
  const uint32_t three[3] = {3, 0, 0};
  EXPECT_GT(UnitScore(earlier, 15, 0, 0, three, 16, 16), 3.0f);
}

TEST_F(Programs, TheStageStepPicksTheStrictlyLargestScore) {
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  program->valid = 1;
  program->candidateFlag = 1;
  program->dirty = kPgFinalStage;
  program->units[0].sampling[0] = 3;
  // Three candidates: mask 1 scores at most 2, mask 15 above 3, and a
  // second mask 15 with the same score comes later.
  program->accepted[0] = PixelCandidate{{1, 0, 0, 0}, {}};
  program->accepted[1] = PixelCandidate{{15, 0, 0, 0}, {}};
  program->accepted[2] = PixelCandidate{{15, 0, 0, 0}, {1}};
  program->acceptedCount = 3;
  ASSERT_TRUE(program->StageStep(cache->caps));
  EXPECT_EQ(program->chosen, 1);
  EXPECT_EQ(program->formats[0].channelMask, 15);
  EXPECT_NE(program->dirty & kPgChosen, 0u);
  EXPECT_LE(program->score, 4.0f);

  // A budget that cannot hold rejects every candidate.
  program->stageCount = 10;
  program->finalStage = 1;
  program->dirty = kPgFinalStage;
  EXPECT_FALSE(program->StageStep(cache->caps));
}

TEST_F(Programs, TheBudgetCountsFixedStagesAndAsksForARedoWithVideo) {
  auto d = Description(9, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  uint32_t count = 0;
  program->units[0].kind = 3;
  EXPECT_TRUE(program->CountStages(&count));
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(program->units[0].flagWord & 0xFF, 0x08u);
  program->units[0].kind = 15;
  program->units[0].classValues[1] = 3;
  EXPECT_FALSE(program->CountStages(&count));
  EXPECT_EQ(count, 12u);
  EXPECT_EQ(program->units[0].flagWord & 0xFF, 0x80u);
  EXPECT_EQ(program->redo, 0);
}

TEST_F(Programs, AVideoTextureOverBudgetAsksForARedo) {
  SurfaceCreateRequest r = Request(39, 64, 64);
  Surface3d* video = table->CreateSurface(1, &r);
  ASSERT_NE(video, nullptr);
  ASSERT_EQ(video->format->formatClass, kClassVideo);
  auto d = Description(7, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  program->units[0].surface = video;
  uint32_t count = 0;
  EXPECT_TRUE(program->CountStages(&count));  // 7 + 3
  EXPECT_EQ(count, 10u);
  EXPECT_NE(program->units[0].flagWord & (1u << 10), 0u);
  EXPECT_EQ(program->redo, 0);
  program->stageCount = 8;
  EXPECT_FALSE(program->CountStages(&count));
  EXPECT_EQ(program->redo, 1);
}

TEST_F(Programs, TheUsageCheckFallsBackToPlacementTwoOrFails) {
  // A format with only the signed texture usage takes placement 2; one
  // with neither fails the unit.
  uint32_t signedOnly = 0, neither = 0;
  for (uint32_t code = 1; code < kFormatCodeLimit; ++code) {
    const bool plain = FindFormatCapability(code, kUsageTexture) != nullptr;
    const bool withSign = FindFormatCapability(code, kUsageTextureSigned) != nullptr;
    if (!plain && withSign && signedOnly == 0 && Format(code) != nullptr) signedOnly = code;
    if (!plain && !withSign && neither == 0 && Format(code) != nullptr && FormatClassOf(code) != kClassVideo)
      neither = code;
  }
  ASSERT_NE(neither, 0u);
  auto d = Description(1, 1);
  int tried = 0;
  for (uint32_t code : {signedOnly, neither}) {
    if (code == 0) continue;
    SCOPED_TRACE(code);
    SurfaceCreateRequest r = Request(code, 16, 16);
    Surface3d* texture = table->CreateSurface(1, &r);
    if (texture == nullptr) continue;
    ++tried;
    live->entries[0].textureA = 1;
    live->entries[0].textureB = texture->resourceHandle;
    auto program = std::make_unique<PixelProgram>();
    ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
    const bool ok = program->Commit(0, *live, target, cache->caps);
    EXPECT_EQ(ok, code == signedOnly);
    if (code == signedOnly) {
      EXPECT_EQ(program->units[0].placement, 2);
    } else {
      EXPECT_NE(program->units[0].flags & kPuFlagged, 0u);
    }
  }
  EXPECT_GT(tried, 0);
}

TEST_F(Programs, FixedStagesNeverPassTheEleventhObject) {
  auto d = Description(10, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  program->units[0].flagWord = 0xFF | 0x0F << 8;  // every fixed sequence
  program->finalStage = 1;
  program->AppendFixedStages();
  uint32_t linked = 0;
  for (CombinerStage* s = program->stageHead; s != nullptr; s = s->next) ++linked;
  EXPECT_EQ(linked, kProgramStages);
  EXPECT_EQ(program->appendedStages, 1u);
  EXPECT_EQ(program->stages[10].type, kStageSingle18);

  // Without units only the final stage can follow.
  auto plain = Description(2);
  ASSERT_TRUE(program->Build(cache, plain.get(), kProgramModeFixed));
  program->finalStage = 1;
  program->AppendFixedStages();
  EXPECT_EQ(program->appendedStages, 1u);
  EXPECT_EQ(program->stages[2].type, kStageSingle17);
}

TEST_F(Programs, TheUsageCheckPicksAPlacementOrFails) {
  Surface3d* texture = Texture(16, 16);
  ASSERT_NE(texture, nullptr);
  ASSERT_NE(FindFormatCapability(11, kUsageTexture), nullptr);
  live->entries[0].textureA = 1;
  live->entries[0].textureB = texture->resourceHandle;
  auto d = Description(1, 1);
  auto program = std::make_unique<PixelProgram>();
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(program->units[0].placement, 3);
  // A surface the engine cannot reach fails the unit.
  const uint32_t placement = texture->Placement();
  texture->SetPlacement(1);
  ASSERT_TRUE(program->Build(cache, d.get(), kProgramModeFixed));
  EXPECT_FALSE(program->Commit(0, *live, target, cache->caps));
  EXPECT_EQ(program->valid, 0);
  texture->SetPlacement(placement);
}

// ---- The cache --------------------------------------------------------------------------------

TEST_F(Programs, KeysOfStatesAndWhatCannotBeKeyed) {
  auto d = Description(2, 2);
  d->stages[1].colourEnable = 1;
  d->stages[1].alpha.operation = 2;
  d->stages[1].alpha.args[0].index = 16;
  d->textures[1].flags = 1;
  live->description = d.get();
  live->options = 1;
  live->entries[0].sampling[2] = 0x1 | 2 << 1 | 1 << 4;  // c 1, a 2, b 1
  live->entries[0].sampling[1] = 0x80;                    // d 2
  PixelStateKey key;
  ASSERT_TRUE(PixelProgramCache::BuildKey(*live, &key));
  uint32_t w[6];
  memcpy(w, key.state, sizeof w);
  // (((third x 9 + second) x 9 + first) x 3 + second word) x 8 + operation;
  // registers 6 and 7 are class 0, 16 class 6, none (255) class 8, and the
  // second word (the destination) is 4 by default.
  auto code = [](uint32_t first, uint32_t second, uint32_t third, uint32_t word, uint32_t op) {
    return ((((third * 9 + second) * 9 + first) * 3 + word) * 8 + op) & 0xFFFF;
  };
  const uint32_t colour = code(0, 0, 8, 4, 1);
  const uint32_t alpha = code(6, 8, 8, 4, 2);
  // Stage 0 has its own alpha half (enabled by default): an empty one.
  EXPECT_EQ(w[0], colour << 16 | code(8, 8, 8, 4, 0) | 1u << 31);
  EXPECT_EQ(w[1], colour << 16 | alpha | 1u << 15);
  const uint32_t tex0 = (2 + 6 * 1) * 6 + (4 * 1 + 2);
  const uint32_t tex1 = (1 + 6 * 0) * 6 + (4 * 0 + 1);  // the reset fields: a 1, d 1
  EXPECT_EQ(w[4], tex0 << 8 | tex1);
  EXPECT_EQ(w[5], 0u);

  struct Unkeyable {
    const char* name;
    void (*change)(PipelineRecord&, PixelPipelineState&);
  };
  const Unkeyable cases[] = {
      {"five stages", [](PipelineRecord& r, PixelPipelineState&) { r.count = 5; }},
      {"a modifier word", [](PipelineRecord& r, PixelPipelineState&) { r.stages[1].colour.args[2].value[0] = 1; }},
      {"a second modifier word", [](PipelineRecord& r, PixelPipelineState&) { r.stages[0].alpha.args[0].value[1] = 1; }},
      {"sampler 8", [](PipelineRecord&, PixelPipelineState& s) { s.entries[8].enables[0] = 1; }},
      {"sampler 9", [](PipelineRecord&, PixelPipelineState& s) { s.entries[9].enables[1] = 1; }},
  };
  for (const Unkeyable& c : cases) {
    auto copy = std::make_unique<PipelineRecord>(*d);
    auto state = std::make_unique<PixelPipelineState>();
    state->CopyFrom(*live);
    state->description = copy.get();
    c.change(*copy, *state);
    EXPECT_FALSE(PixelProgramCache::BuildKey(*state, &key)) << c.name;
  }
}

TEST_F(Programs, TheFiftyFirstKeyEvictsTheFirstInTheMapsOrder) {
  auto d = Description(1);
  live->description = d.get();
  std::vector<PixelProgram*> made;
  for (uint32_t i = 0; i < kKeyedPrograms; ++i) {
    d->stages[0].colour.operation = i % 11;
    d->stages[0].colour.args[0].index = i / 11;  // registers 0-4: distinct classes
    live->dirty = kPpsProgram;
    ASSERT_TRUE(cache->Select(*live, target)) << i;
    made.push_back(cache->current);
  }
  EXPECT_EQ(cache->programsByKey.size(), kKeyedPrograms);
  EXPECT_EQ(std::set<PixelProgram*>(made.begin(), made.end()).size(), kKeyedPrograms);
  const PixelStateKey first = cache->programsByKey.begin()->first;
  PixelProgram* firstProgram = cache->programsByKey.begin()->second;
  d->stages[0].colour.operation = 3;
  d->stages[0].colour.args[0].index = 17;
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->programsByKey.size(), kKeyedPrograms);
  EXPECT_EQ(cache->current, firstProgram);  // its object, rebuilt
  EXPECT_EQ(cache->FindByKey(first), nullptr);
  // The first entry has the largest bytes: nothing filed sorts before it.
  for (auto it = cache->programsByKey.begin(); it != cache->programsByKey.end(); ++it)
    EXPECT_GE(memcmp(first.state, it->first.state, kPixelStateBytes), 0);
  // A state seen before is a hit.
  d->stages[0].colour.operation = 0;
  d->stages[0].colour.args[0].index = 4;
  live->dirty = kPpsProgram;
  PixelProgram* before = cache->FindByKey([&] {
    PixelStateKey k;
    PixelProgramCache::BuildKey(*live, &k);
    return k;
  }());
  ASSERT_NE(before, nullptr);
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, before);
}

TEST_F(Programs, UnkeyableAndCollidingStatesGoToScratch) {
  auto d = Description(5);
  live->description = d.get();
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, &cache->scratch);
  EXPECT_EQ(cache->programsByKey.size(), 0u);
  EXPECT_EQ(cache->scratch.stageCount, 5u);

  // A modifier word: built again into scratch at every dirty selection.
  d->count = 1;
  d->stages[0].colour.args[0].value[0] = 2;
  for (int i = 0; i < 2; ++i) {
    live->dirty = kPpsProgram;
    cache->scratch.built = 0;
    ASSERT_TRUE(cache->Select(*live, target));
    EXPECT_EQ(cache->current, &cache->scratch);
    EXPECT_EQ(cache->scratch.built, 1);
  }
  EXPECT_EQ(cache->programsByKey.size(), 0u);

  // Two descriptions with one key: destination words 0 and 3 pack into the
  // same factor of 3 as operation... here: destination 3 versus
  // operation + 24.
  d->stages[0].colour.args[0].value[0] = 0;
  d->stages[0].colour.word4 = 1;
  d->stages[0].colour.operation = 0;
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  PixelProgram* keyed = cache->current;
  ASSERT_NE(keyed, &cache->scratch);
  auto other = std::make_unique<PipelineRecord>(*d);
  other->stages[0].colour.word4 = 0;
  other->stages[0].colour.operation = 8;  // (0 x 3 + 1) x 8 + 0 == (0 x 3 + 0) x 8 + 8
  PixelStateKey a, b;
  ASSERT_TRUE(PixelProgramCache::BuildKey(*live, &a));
  live->description = other.get();
  ASSERT_TRUE(PixelProgramCache::BuildKey(*live, &b));
  ASSERT_EQ(memcmp(a.state, b.state, kPixelStateBytes), 0);
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, &cache->scratch);
  EXPECT_EQ(cache->programsByKey.size(), 1u);

  // Descriptions under the keyed one's key that differ only where the key
  // does not look (the argument sets' other words, the kind, the texture
  // records) go to scratch too; one that differs only in a stage's words a
  // fixed-function build does not read takes the program.
  struct Variant {
    const char* what;
    void (*change)(PipelineRecord&);
    bool shares;
  };
  const Variant variants[] = {
      {"the colour half's third word", [](PipelineRecord& r) { r.stages[0].colour.word8 = 3; }, false},
      {"the alpha half's third word", [](PipelineRecord& r) { r.stages[0].alpha.word8 = 2; }, false},
      {"the kind word", [](PipelineRecord& r) { r.kind = 3; }, false},
      {"a texture record", [](PipelineRecord& r) { r.textures[3].dependents[0] = 1; }, false},
      {"a stage's trailing words", [](PipelineRecord& r) { r.stages[0].words[2] = 5; }, true},
  };
  ASSERT_EQ(d->stages[0].colourEnable, 1u);  // the alpha half is in use
  for (const Variant& v : variants) {
    auto variant = std::make_unique<PipelineRecord>(*d);
    v.change(*variant);
    live->description = d.get();
    ASSERT_TRUE(PixelProgramCache::BuildKey(*live, &a));
    live->description = variant.get();
    ASSERT_TRUE(PixelProgramCache::BuildKey(*live, &b)) << v.what;
    ASSERT_EQ(memcmp(a.state, b.state, kPixelStateBytes), 0) << v.what;
    live->dirty = kPpsProgram;
    ASSERT_TRUE(cache->Select(*live, target)) << v.what;
    EXPECT_EQ(cache->current == keyed, v.shares) << v.what;
    EXPECT_EQ(cache->current == &cache->scratch, !v.shares) << v.what;
  }
}

// The map's order compares the 24 state bytes as unsigned bytes, first
// byte first, and runs descending: a before b when b's bytes are smaller.
TEST(PixelStateKeys, TheOrderIsTheByteOrderDescending) {
  const Otl::less<PixelStateKey> less;
  const uint32_t places[] = {0, 3, 7, 8, 15, 16, 23};
  const uint8_t values[][2] = {{0x00, 0x01}, {0x7F, 0x80}, {0xFE, 0xFF}};
  for (uint32_t at : places) {
    for (const auto& pair : values) {
      PixelStateKey a{}, b{};
      memset(a.state, 0x40, sizeof a.state);
      memcpy(b.state, a.state, sizeof b.state);
      a.state[at] = pair[0];
      b.state[at] = pair[1];
      // A later byte that points the other way does not count.
      if (at + 1 < kPixelStateBytes) a.state[at + 1] = 0xFF;
      EXPECT_EQ(less(a, b), memcmp(b.state, a.state, kPixelStateBytes) < 0) << at;
      EXPECT_EQ(less(b, a), memcmp(a.state, b.state, kPixelStateBytes) < 0) << at;
      EXPECT_TRUE(less(b, a)) << at;
      EXPECT_FALSE(less(a, b)) << at;
    }
    PixelStateKey same{};
    same.word = 1;
    PixelStateKey other{};
    other.word = 2;  // the word takes no part
    EXPECT_FALSE(less(same, other));
    EXPECT_FALSE(less(other, same));
  }
}

TEST_F(Programs, SelectionWithoutRelevantChangesRecommits) {
  auto d = Description(1);
  live->description = d.get();
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  PixelProgram* current = cache->current;
  live->dirty = 0;
  live->stageDirty = 0;
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, current);
  EXPECT_EQ(cache->committed, 1);
  EXPECT_TRUE(PixelProgramCacheValid(cache));
  // Without a target the commit fails.
  EXPECT_FALSE(cache->Select(*live, nullptr));
  EXPECT_EQ(cache->state, nullptr);
}

TEST_F(Programs, ClientPrograms) {
  auto d = Description(2);
  EXPECT_EQ(cache->CreateProgram(5, d.get(), true), 0u);
  PixelProgram* program = cache->FindById(5);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->mode, kProgramModeClient);
  live->clientProgram = 1;
  live->programId = 5;
  live->dirty = kPpsProgram;
  ASSERT_TRUE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, program);
  // An unknown id fails.
  live->programId = 6;
  EXPECT_FALSE(cache->Select(*live, target));
  // Deleting the current program clears it; the next clean selection fails.
  EXPECT_EQ(cache->DeleteProgram(5), 0u);
  EXPECT_EQ(cache->current, nullptr);
  EXPECT_EQ(cache->FindById(5), nullptr);
  live->dirty = 0;
  EXPECT_FALSE(cache->Select(*live, target));
  EXPECT_EQ(cache->DeleteProgram(5), 0u);

  // Constants: slot 2b + a, refused out of range; read back by id.
  ASSERT_EQ(cache->CreateProgram(7, d.get(), true), 0u);
  const float value[4] = {1, 2, 3, 4};
  EXPECT_TRUE(cache->SetConstant(7, 1, 9, value));
  EXPECT_FALSE(cache->SetConstant(7, 2, 0, value));
  EXPECT_FALSE(cache->SetConstant(7, 0, 10, value));
  EXPECT_FALSE(cache->SetConstant(7, 0xFFFFFFFF, 0x7FFFFFFF, value));
  EXPECT_FALSE(cache->SetConstant(8, 0, 0, value));
  uint8_t out[kPipelineConstants][16];
  memset(out, 0xEE, sizeof out);
  cache->ReadConstants(7, out);
  EXPECT_EQ(memcmp(out[19], value, 16), 0);
  EXPECT_EQ(out[18][0], 0xEE);
  memset(out, 0xEE, sizeof out);
  cache->ReadConstants(0, out);
  cache->ReadFirstConstants(7, out);
  EXPECT_EQ(out[19][0], 0xEE);
  // Parameters for units 0-3 only.
  const float c[4] = {16.0f, 0, 0, 0};
  cache->SetProgramParams(7, 3, c);
  EXPECT_EQ(cache->FindById(7)->units[3].coefficients[0], 0x881A);
  cache->SetProgramParams(7, 4, c);
  cache->SetProgramParams(99, 0, c);
}

// Token 72 writes each entry's constant into the live record and into
// the selected client program; entries out of range change neither.
TEST_F(Programs, ConstantTokensReachTheLiveRecordAndTheSelectedProgram) {
  auto d = Description(2);
  ASSERT_EQ(cache->CreateProgram(7, d.get(), true), 0u);
  ASSERT_EQ(cache->CreateProgram(8, d.get(), true), 0u);
  context->state.pixel.programSelector = 7;
  TokenContext3d token{};
  token.current = context;
  struct Entry {
    uint32_t index, bank;
    float values[4];
  };
  const Entry entries[] = {
      {0, 1, {1, 2, 3, 4}}, {1, 1, {5, 6, 7, 8}}, {2, 0, {9, 9, 9, 9}}, {1, 9, {-1, -2, -3, -4}}, {0, 10, {7, 7, 7, 7}},
  };
  std::vector<uint8_t> payload(24 * std::size(entries), 0);
  for (size_t i = 0; i < std::size(entries); ++i) {
    memcpy(&payload[24 * i], &entries[i].index, 4);
    memcpy(&payload[24 * i + 4], &entries[i].bank, 4);
    memcpy(&payload[24 * i + 8], entries[i].values, 16);
  }
  tokens::SetPixelConstants(&token, payload.data(), static_cast<uint32_t>(std::size(entries)), 0);
  uint8_t out[kPipelineConstants][16];
  memset(out, 0xEE, sizeof out);
  cache->ReadConstants(7, out);
  for (uint32_t slot : {2u, 3u, 19u}) {
    const Entry& e = slot == 2 ? entries[0] : slot == 3 ? entries[1] : entries[3];
    EXPECT_EQ(memcmp(out[slot], e.values, 16), 0) << slot;
    EXPECT_EQ(memcmp(live->constants[slot], e.values, 16), 0) << slot;
  }
  EXPECT_EQ(live->dirtyConstants, 1u << 2 | 1u << 3 | 1u << 19);
  for (uint32_t slot = 0; slot < kPipelineConstants; ++slot) {
    const bool written = slot == 2 || slot == 3 || slot == 19;
    EXPECT_TRUE(written || out[slot][0] == 0xEE) << slot;
  }
  // The program not selected takes none of them.
  memset(out, 0xEE, sizeof out);
  cache->ReadConstants(8, out);
  for (uint32_t slot = 0; slot < kPipelineConstants; ++slot) EXPECT_EQ(out[slot][0], 0xEE) << slot;
}

TEST_F(Programs, ClientProgramsAreLimitedAndAllocationFailuresChangeNothing) {
  auto d = Description(1);
  for (uint32_t id = 1; id <= kClientPrograms; ++id) ASSERT_EQ(cache->CreateProgram(id, d.get(), true), 0u) << id;
  EXPECT_EQ(cache->CreateProgram(kClientPrograms + 1, d.get(), true), 1u);
  EXPECT_EQ(cache->programsById.size(), kClientPrograms);
  // Replacing an id stays within the limit.
  EXPECT_EQ(cache->CreateProgram(3, d.get(), true), 0u);
  for (uint32_t id = 1; id <= kClientPrograms; ++id) cache->DeleteProgram(id);

  for (uint64_t nth = 1; nth < 12; ++nth) {
    glue.FailAllocation(nth);
    const uint32_t result = cache->CreateProgram(40, d.get(), true);
    glue.FailAllocation(0);
    if (result == 1) {
      EXPECT_EQ(cache->FindById(40), nullptr) << nth;
    }
    cache->DeleteProgram(40);
  }
  live->description = d.get();
  for (uint64_t nth = 1; nth < 12; ++nth) {
    d->stages[0].colour.operation = static_cast<uint32_t>(nth % 11);
    d->stages[0].colour.args[2].index = 1;
    const size_t before = cache->programsByKey.size();
    live->dirty = kPpsProgram;
    glue.FailAllocation(nth);
    const bool ok = cache->Select(*live, target);
    glue.FailAllocation(0);
    if (!ok) {
      EXPECT_EQ(cache->programsByKey.size(), before) << nth;
    }
  }
}

// A texture stage whose handle names nothing samples the colour target.
// The unit takes the target bound at each draw, and what reaches the
// context state's texture unit is the target's (or nothing, once it goes),
// as a fresh program built for the same state has it.
TEST_F(Programs, AUnitOnTheColourTargetFollowsTheTargetAndForgetsItWhenItGoes) {
  RenderState3d& state = context->state;
  state.pipeline = *Description(1, 1);
  state.pixel.dirty |= kPxProgram;
  state.SetStageTexture(0, 77, 1);  // no such handle
  Surface3d* first = Texture(16, 16);
  Surface3d* second = Texture(64, 32);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  auto unitWords = [&]() { return target->textureUnits.units[0].words; };
  auto expectFresh = [&]() {
    PixelProgram* current = cache->current;
    ASSERT_NE(current, nullptr);
    auto fresh = std::make_unique<PixelProgram>();
    std::unique_ptr<ContextState3d> own(NewContextState3d(nullptr));
    cache->state = live;
    ASSERT_TRUE(fresh->Build(cache, current->source, kProgramModeFixed));
    cache->state = nullptr;
    ASSERT_TRUE(fresh->Commit(0, *live, own.get(), cache->caps));
    EXPECT_EQ(memcmp(fresh->units[0].image, current->units[0].image, sizeof fresh->units[0].image), 0);
    for (uint32_t k = 0; k < 8; ++k) EXPECT_EQ(unitWords()[2 + k], fresh->units[0].image[k]) << k;
  };
  auto address = [](const Surface3d* s) { return s->hw.records[kUsageTexture].word0; };

  context->colourTarget = first;
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cache->current->units[0].surface, first);
  EXPECT_EQ(unitWords()[2 + 6], address(first));
  expectFresh();

  // Another target, and nothing else of the state changes.
  context->colourTarget = second;
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cache->current->units[0].surface, second);
  EXPECT_EQ(unitWords()[2 + 6], address(second));
  EXPECT_EQ(unitWords()[2 + 2], 64u | 32u << 14);
  expectFresh();

  // The target goes: no program keeps it, and the unit samples nothing.
  UnbindSurfaceReferences(context, second);
  EXPECT_EQ(cache->current->units[0].surface, nullptr);
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cache->current->units[0].surface, nullptr);
  EXPECT_EQ(unitWords()[2 + 6], 0u);
  EXPECT_EQ(unitWords()[2 + 7], 0u);
  expectFresh();
}

// A texture that goes leaves no program naming it: neither the current one
// nor one kept under its key for later.
TEST_F(Programs, ADestroyedTextureLeavesNoProgramNamingIt) {
  RenderState3d& state = context->state;
  Surface3d* texture = Texture(32, 32);
  ASSERT_NE(texture, nullptr);
  const uint32_t handle = texture->resourceHandle;
  state.pipeline = *Description(1, 1);
  state.pixel.dirty |= kPxProgram;
  state.SetStageTexture(0, handle, 1);
  ASSERT_TRUE(state.Apply());
  PixelProgram* first = cache->current;
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->units[0].surface, texture);

  // Another description: the first program stays in the map, not current.
  state.pipeline = *Description(2, 1);
  state.pixel.dirty |= kPxProgram;
  ASSERT_TRUE(state.Apply());
  PixelProgram* second = cache->current;
  ASSERT_NE(second, first);
  ASSERT_EQ(second->units[0].surface, texture);

  table->DestroyResource(1, handle);
  for (PixelProgram* p : {first, second}) {
    EXPECT_EQ(p->units[0].surface, nullptr);
    EXPECT_EQ(p->units[0].checkedSurface, nullptr);
    EXPECT_EQ(p->units[0].image[6], 0u);
  }
  // The next draw commits the current one again: its unit reaches the
  // context state without the texture.
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(target->textureUnits.units[0].words[2 + 6], 0u);
}

TEST_F(Programs, TheRenderStateSelectsThroughTheCache) {
  RenderState3d& state = context->state;
  ASSERT_TRUE(state.Apply());
  EXPECT_TRUE(PixelProgramCacheValid(cache));
  // A bound client program that does not exist makes the draw a no-op and
  // keeps the pixel group dirty.
  const uint32_t selector[] = {19, 9};
  state.SetDriverStates(selector, 1);
  EXPECT_FALSE(state.Apply());
  EXPECT_NE(state.pixel.dirty, 0u);
  EXPECT_EQ(state.drawEmitter, NoOpEmitter3d);
}

// ---- The texture walk of a selection -----------------------------------------------------------

TEST_F(Programs, TheTextureWalkStopsAtItsMarksAndRefusesWhatTheEngineCannotSample) {
  std::vector<uint32_t> handles;
  for (int i = 0; i < 6; ++i) {
    Surface3d* t = Texture(8, 8);
    ASSERT_NE(t, nullptr);
    ASSERT_GE(t->Placement(), 2u);
    handles.push_back(t->resourceHandle);
  }
  Surface3d* system = Texture(8, 8);
  ASSERT_NE(system, nullptr);
  system->SetPlacement(1);
  const uint32_t free = system->resourceHandle + 1;  // inside the table, no surface
  ASSERT_EQ(table->Get(1, free), nullptr);
  constexpr uint32_t kReset = 1, kBound = 0;  // the colour operation: at its reset mark, or past it
  // Entry words: the colour operation, the handle's kind, the handle, the second colour argument.
  struct Entry {
    uint32_t colourOp, kind, handle, colourArg1;
  };
  const Entry good = {kBound, 1, handles[0], 0};
  const Entry bad = {kBound, 7, handles[0], 0};  // a kind that names no table
  const Entry empty = {kBound, 1, 0, 0};
  const Entry end = {kBound, 1, 0, 2};
  auto texture = [&](uint32_t i) { return Entry{kBound, 1, handles[i], 0}; };
  const struct {
    const char* name;
    std::vector<Entry> entries;  // the rest stay at their reset values
    bool usable;
  } cases[] = {
      {"a reset state", {}, true},
      {"the first entry at its mark ends the walk at once", {{kReset, 7, handles[0], 0}, bad}, true},
      {"a later entry at its mark ends it", {good, good, {kReset, 7, 1, 0}, bad}, true},
      {"an entry without a texture whose second colour argument is 2 ends it", {good, end, bad}, true},
      {"one whose second colour argument is not 2 goes on", {good, empty, bad}, false},
      {"the second colour argument ends the walk only without a texture", {good, {kBound, 1, handles[1], 2}, bad}, false},
      {"a kind other than 0, 1 or 2", {good, bad}, false},
      {"a handle outside its table", {{kBound, 1, 60000, 0}}, false},
      {"a handle that names no surface", {{kBound, 1, free, 0}}, false},
      {"a surface the engine cannot reach", {good, {kBound, 1, system->resourceHandle, 0}}, false},
      {"four textures", {texture(0), texture(1), texture(2), texture(3)}, true},
      {"five textures", {texture(0), texture(1), texture(2), texture(3), texture(4)}, false},
      {"eight entries at most", {empty, empty, empty, empty, empty, empty, empty, empty, bad}, true},
  };
  for (const auto& c : cases) {
    live->Reset(context);
    for (size_t i = 0; i < c.entries.size(); ++i) {
      PipelineStageEntry& e = live->entries[i];
      e.colourOp = c.entries[i].colourOp;
      e.textureA = c.entries[i].kind;
      e.textureB = c.entries[i].handle;
      e.colourArgs[1] = c.entries[i].colourArg1;
    }
    EXPECT_EQ(cache->CanUseTextures(*live), c.usable) << c.name;
  }
}

TEST_F(Programs, ASelectionWhoseTexturesCannotBeUsedSelectsNothing) {
  Surface3d* texture = Texture(16, 16);
  ASSERT_NE(texture, nullptr);
  auto d = Description(1, 1);
  live->description = d.get();
  live->dirty = kPpsProgram;
  live->entries[0].colourOp = 0;
  live->entries[0].textureA = 1;
  live->entries[0].textureB = texture->resourceHandle;
  live->entries[1].colourArgs[1] = 2;
  ASSERT_TRUE(cache->Select(*live, target));
  PixelProgram* selected = cache->current;
  ASSERT_NE(selected, nullptr);
  // Moved where the engine cannot sample it: the selection fails before
  // any program is looked up, built or committed.
  const uint32_t placement = texture->Placement();
  texture->SetPlacement(1);
  auto other = Description(2, 1);
  live->description = other.get();
  live->dirty = kPpsProgram;
  const size_t keyed = cache->programsByKey.size();
  EXPECT_FALSE(cache->Select(*live, target));
  EXPECT_EQ(cache->current, selected);
  EXPECT_EQ(cache->programsByKey.size(), keyed);
  EXPECT_EQ(cache->committed, 0);
  texture->SetPlacement(placement);
  EXPECT_TRUE(cache->Select(*live, target));
  EXPECT_NE(cache->current, selected);
}

}  // namespace
