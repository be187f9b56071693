// Texture-stage combiners: the operation table as it reaches the images,
// register classes, destinations, the two families, the register-5
// substitution, the modifier remap at emission, the register reads and
// the stage's read slots and constant images.
#include <gtest/gtest.h>

#include <string.h>

#include "kernel/3d/render/combiners.h"
#include "kernel/3d/render/pixel_pipeline_state.h"
#include "kernel/3d/render/render_state.h"

namespace {

StageArgumentSet Instruction(uint32_t op, uint32_t dest, uint32_t a, uint32_t b, uint32_t c) {
  StageArgumentSet s;
  memset(&s, 0, sizeof s);
  s.operation = op;
  s.word4 = dest;
  s.args[0].index = a;
  s.args[1].index = b;
  s.args[2].index = c;
  return s;
}

uint32_t RegField(uint32_t a, int k) { return a >> (5 + 9 * k) & 0x1F; }
uint32_t ModField(uint32_t a, int k) { return a >> (10 + 9 * k) & 0xF; }

struct Entries {
  Entries() {
    for (uint32_t i = 0; i < 4; ++i) e[i] = UnitFormatEntry{0, 20 + i, 0, 0, 8, 0};
  }
  UnitFormatEntry e[4];
};

TEST(Combiners, OperationTableSlotsAndFlags) {
  // Arguments 6, 7, 8 (other registers) name which argument feeds each
  // slot; an empty slot keeps register field 0 and kind 2.
  struct Row {
    uint32_t op;
    int reg[3];  // -1: empty
    uint32_t flags;
  };
  const Row rows[] = {
      {0, {6, -1, -1}, 0x400}, {1, {6, 7, -1}, 0xC00}, {2, {6, 7, -1}, 0x600},   {3, {6, -1, 7}, 0x0},
      {4, {6, -1, 7}, 0x1000}, {5, {6, -1, 7}, 0x2000}, {6, {7, 8, 6}, 0x800},   {7, {6, 7, 8}, 0xA00},
      {8, {6, 7, 8}, 0x4C00},  {9, {6, 7, 8}, 0x5C00},  {10, {6, 7, 8}, 0x7C00}, {11, {6, -1, -1}, 0x400},
      {0xFFFFFFFF, {6, -1, -1}, 0x400},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.op);
    CombinerHalf half;
    half.Build(Instruction(r.op, 9, 6, 7, 8), nullptr, false);
    EXPECT_EQ(half.wordB & 0xFF00, r.flags & 0xFF00);
    EXPECT_EQ(half.wordB >> 20 & 0xF, 9u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(RegField(half.wordA, k), r.reg[k] < 0 ? 0u : static_cast<uint32_t>(r.reg[k])) << k;
      EXPECT_EQ(half.slots[k].word & kSlotKindMask, kSlotOther) << k;
    }
    EXPECT_EQ(half.noDestination, 1);
  }
}

TEST(Combiners, RegisterClassesAndTextureArguments) {
  struct Case {
    uint32_t reg;
    RegisterClass cls;
    bool texture;
  };
  const Case cases[] = {{0, {3, 0}, true},   {3, {3, 3}, true},    {4, {0, 0}, false},  {5, {0, 1}, false},
                        {14, {2, 0}, false}, {15, {2, 1}, false},  {16, {1, 0}, false}, {17, {1, 1}, false},
                        {9, {0, 0}, false},  {31, {0, 0}, false},  {32, {0, 0}, false}, {255, {0, 0}, false},
                        {0x80000001, {0, 0}, false}};
  for (const Case& c : cases) {
    const RegisterClass got = ClassOfRegister(c.reg);
    EXPECT_EQ(got.cls, c.cls.cls) << c.reg;
    EXPECT_EQ(got.index, c.cls.index) << c.reg;
    EXPECT_EQ(IsTextureRegister(c.reg), c.texture) << c.reg;
  }
  // A texture argument takes its unit's entry; register 4 or above never.
  Entries e;
  CombinerHalf half;
  half.Build(Instruction(7, 2, 1, 4, 255), e.e, false);
  EXPECT_EQ(half.slots[0].word & kSlotKindMask, kSlotTexture);
  EXPECT_EQ(half.slots[0].entry, &e.e[1]);
  EXPECT_EQ(half.slots[1].word & kSlotKindMask, kSlotOther);
  EXPECT_EQ(half.slots[2].word & kSlotKindMask, kSlotOther);
  EXPECT_EQ(half.slots[2].entry, nullptr);
  // The destination is a texture register: its entry is marked written.
  EXPECT_EQ(half.noDestination, 0);
  EXPECT_EQ(half.destination, &e.e[2]);
  EXPECT_NE(e.e[2].flags & kUfWritten, 0u);
  // A texture read after the write carries the written bit.
  CombinerHalf later;
  later.Build(Instruction(0, 5, 2, 255, 255), e.e, false);
  EXPECT_EQ(later.slots[0].word, kSlotTexture | kSlotWritten);
}

TEST(Combiners, FieldsAreMaskedAndEmissionPlacesUnitsAndRemaps) {
  Entries e;
  e.e[0].flags = kUfRemap;
  StageArgumentSet in = Instruction(1, 3, 0, 1, 255);
  in.word8 = 0xFF;   // shift: 3 bits
  in.word12 = 0xFF;  // saturate: 1 bit
  in.args[0].value[0] = 0x12;  // modifier 2
  in.args[0].value[1] = 0x7;   // selector 3
  in.args[1].value[0] = 6;
  CombinerHalf half;
  half.Build(in, e.e, false);
  EXPECT_EQ(ModField(half.wordA, 0), 2u);
  EXPECT_EQ(half.wordB & 3, 3u);
  EXPECT_EQ(half.wordB >> 17 & 7, 7u);
  EXPECT_EQ(half.wordB >> 24 & 1, 1u);
  EXPECT_EQ(half.wordB >> 25, 0u);
  uint32_t image[2];
  uint32_t binding = 0;
  ASSERT_TRUE(half.Emit(image, &binding));
  // Units replace the texture registers and the destination; the entry
  // with remapping turns modifier 2 into 2, the other keeps 6.
  EXPECT_EQ(RegField(image[0], 0), 20u);
  EXPECT_EQ(RegField(image[0], 1), 21u);
  EXPECT_EQ(image[1] >> 20 & 0xF, 23u & 0xF);
  EXPECT_EQ(ModField(image[0], 1), 6u);
  for (uint32_t m = 0; m < 16; ++m) {
    CombinerHalf h;
    in.args[0].value[0] = m;
    h.Build(in, e.e, false);
    h.Emit(image, nullptr);
    EXPECT_EQ(ModField(image[0], 0), kModifierRemap[m]) << m;
  }
  EXPECT_EQ(std::vector<uint8_t>(kModifierRemap, kModifierRemap + 16),
            (std::vector<uint8_t>{4, 5, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15}));
  // Without a texture destination bits 20-23 keep the register Build put
  // there.
  CombinerHalf plain;
  plain.Build(Instruction(0, 9, 6, 255, 255), e.e, false);
  plain.Emit(image, nullptr);
  EXPECT_EQ(image[1] >> 20 & 0xF, 9u);
}

TEST(Combiners, TheFamiliesTestDifferentSlotBits) {
  // A texture read with modifier 2 of a unit not yet written drops the
  // unit's read mark in both families; once written only the colour family
  // (which tests bit 3, never set) still drops it.
  for (bool alpha : {false, true}) {
    for (bool written : {false, true}) {
      SCOPED_TRACE(testing::Message() << "alpha " << alpha << " written " << written);
      Entries e;
      e.e[1].flags = kUfRead | (written ? kUfWritten : 0);
      StageArgumentSet in = Instruction(0, 9, 1, 255, 255);
      in.args[0].value[0] = 2;
      CombinerHalf half;
      half.Build(in, e.e, alpha);
      const bool dropped = (e.e[1].flags & kUfRead) == 0;
      EXPECT_EQ(dropped, !alpha || !written);
    }
  }
  // Modifiers 0 and 1 keep it.
  Entries e;
  e.e[1].flags = kUfRead;
  StageArgumentSet in = Instruction(0, 9, 1, 255, 255);
  in.args[0].value[0] = 1;
  CombinerHalf half;
  half.Build(in, e.e, false);
  EXPECT_NE(e.e[1].flags & kUfRead, 0u);
}

TEST(Combiners, SubstituteRegister5) {
  CombinerHalf colour;
  colour.Build(Instruction(7, 5, 5, 6, 5), nullptr, false);
  colour.wordB |= (1u << 2) | (1u << 9);
  bool stop = false;
  colour.SubstituteRegister5(&stop, false);
  EXPECT_EQ(RegField(colour.wordA, 0), 15u);
  EXPECT_EQ(RegField(colour.wordA, 1), 6u);
  EXPECT_EQ(RegField(colour.wordA, 2), 15u);
  EXPECT_NE(colour.wordB & (1u << 1), 0u);
  EXPECT_EQ(colour.wordB & (1u << 2), 0u);
  EXPECT_EQ(colour.wordB & (1u << 4), 0u);
  EXPECT_NE(colour.wordB & (1u << 7), 0u);
  EXPECT_EQ(colour.wordB & (1u << 9), 0u);
  EXPECT_FALSE(stop);  // the colour family never stops

  CombinerHalf alpha;
  alpha.Build(Instruction(1, 5, 6, 5, 255), nullptr, true);
  alpha.SubstituteRegister5(&stop, true);
  EXPECT_EQ(RegField(alpha.wordA, 1), 15u);
  EXPECT_NE(alpha.wordB & (1u << 4), 0u);
  EXPECT_TRUE(stop);
  // Stopped: nothing changes any more.
  CombinerHalf after;
  after.Build(Instruction(0, 9, 5, 255, 255), nullptr, false);
  const uint32_t a = after.wordA;
  after.SubstituteRegister5(&stop, false);
  EXPECT_EQ(after.wordA, a);
}

TEST(Combiners, RegisterReadsByOperationClass) {
  struct Case {
    uint32_t op;
    int argWith16;  // the instruction argument holding register 16
    bool reads;
  };
  const Case cases[] = {
      {0, 0, true},   // slot A always
      {1, 1, true},   // 0xC00: bit 11 reads slot B
      {2, 1, true},   // 0x600: bit 9 reads slot B
      {3, 1, true},   // 0x000: bit 10 clear reads slot C (argument 1)
      {0, 1, false},  // operation 0 has no slot B
      {7, 2, true},   // 0xA00: bit 10 clear reads slot C
      {0, 2, false},  // operation 0 has no slot C
      {4, 2, false},  // 0x1000: class 1, slot C fed by argument 1
      {8, 2, true},   // class 4: all slots
      {10, 2, true},  // class 7: all slots
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    uint32_t args[3] = {6, 6, 6};
    args[c.argWith16] = 16;
    CombinerHalf half;
    half.Build(Instruction(c.op, 9, args[0], args[1], args[2]), nullptr, false);
    const bool expected = c.reads;
    EXPECT_EQ(half.readsRegister16 != 0, expected);
    EXPECT_EQ(half.readsRegister17, 0);
    uint32_t binding = 0, image[2];
    half.Emit(image, &binding);
    EXPECT_EQ(binding, expected ? 1u : 0u);
  }
  CombinerHalf half;
  half.Build(Instruction(9, 9, 17, 6, 6), nullptr, false);
  EXPECT_EQ(half.readsRegister17, 1);
}

TEST(Combiners, ReadSlotsFromFourteenAtMostTwo) {
  CombinerStage stage;
  stage.NoteRead(3, 0x1B);
  stage.NoteRead(3, 0x1B);  // reused
  stage.NoteRead(4, 0x55);
  EXPECT_EQ(stage.generalCount, 1u);
  EXPECT_EQ(stage.replicatedCount, 1u);
  EXPECT_EQ(stage.readMask, (1u << 3) | (1u << 4));
  EXPECT_TRUE(stage.AssignReadSlots());
  EXPECT_EQ(stage.general[0].slot, 14u);
  EXPECT_EQ(stage.replicated[0].slot, 15u);
  EXPECT_EQ(stage.slotsUsed, 2u);
  stage.NoteRead(5, 0xE4);
  EXPECT_FALSE(stage.AssignReadSlots());  // the replicated read found no slot
  EXPECT_EQ(stage.slotsUsed, 2u);
  EXPECT_EQ(stage.replicated[0].slot, 0u);
}

TEST(Combiners, ConstantImagesAndTriple14) {
  EXPECT_EQ(ConstantStep(2.0f), 1023);
  EXPECT_EQ(ConstantStep(-2.0f), -1024);
  EXPECT_EQ(ConstantStep(0.5f), 512);
  EXPECT_EQ(ConstantStep(-0.0009f), 0);
  EXPECT_EQ(ConstantStep(__builtin_nanf("")), 0);
  EXPECT_EQ(ConstantStep(1e30f), 1023);
  CombinerStage stage;
  const float c[4] = {2.0f, 0.25f, -2.0f, 0.5f};  // x, y, z, w
  stage.SetConstantImage(1, c);
  EXPECT_EQ(stage.constantImages[1][0], 1023u | 512u << 16);
  EXPECT_EQ(stage.constantImages[1][1], 0x400u | 256u << 16);
  EXPECT_EQ(stage.constantCount, 2u);

  CombinerStage triple;
  triple.BuildTriple14(0);
  EXPECT_EQ(triple.type, kStageTriple14);
  EXPECT_EQ(triple.constantImages[0][0], 297u);
  EXPECT_EQ(triple.constantImages[0][1], 297u | 297u << 16);
  EXPECT_EQ(triple.constantImages[1][0], static_cast<uint32_t>(-222) & 0x7FF);
  EXPECT_EQ(triple.constantImages[1][1], (static_cast<uint32_t>(-276) & 0x7FF) | 135u << 16);
  CombinerStage second;
  second.BuildTriple14(1);
  EXPECT_EQ(second.type, kStageTriple14 + 1);
  EXPECT_EQ(second.constantsPresent, 0);
}

TEST(Combiners, StageImage) {
  auto state = std::make_unique<PixelPipelineState>();
  state->Reset(nullptr);
  const float c4[4] = {0.5f, 0, 0, 0}, c5[4] = {-0.5f, 0, 0, 1.0f};
  memcpy(state->constants[4], c4, 16);
  memcpy(state->constants[5], c5, 16);
  state->dirty = kPpsConstants;
  CombinerStage stage;
  stage.index = 2;
  stage.colour.Build(Instruction(1, 9, 15, 6, 255), nullptr, false);
  stage.alpha.Build(Instruction(0, 9, 7, 255, 255), nullptr, true);
  CombinerStageImage image;
  memset(&image, 0xFF, sizeof image);
  uint32_t binding = 0;
  ASSERT_TRUE(stage.EmitImage(*state, &image, &binding));
  EXPECT_EQ(image.flags, kImageConstantsPresent);
  EXPECT_EQ(image.register15 & 0xFF, 1u);
  EXPECT_EQ(image.colour[0], stage.colour.wordA);
  EXPECT_EQ(image.alpha[1], stage.alpha.wordB);
  EXPECT_EQ(image.constants[0], 512u);
  EXPECT_EQ(image.constants[2], (static_cast<uint32_t>(-512) & 0x7FF) | 1023u << 16);
  EXPECT_EQ(stage.constantsPresent, 0);

  // A pair's first stage takes four copies of words 5 and 6 of its entry's
  // block.
  CombinerStage pair;
  pair.BuildPair(kStagePairFirst, 3, 0);
  state->entries[3].bumpEnvironment[4] = 0.25f;
  state->entries[3].bumpEnvironment[5] = -1.0f;
  state->dirty = 0;
  ASSERT_TRUE(pair.EmitImage(*state, &image, &binding));
  EXPECT_EQ(image.constants[0], 256u | 256u << 16);
  EXPECT_EQ(image.constants[1], 256u | 256u << 16);
  EXPECT_EQ(image.constants[3], 0x400u | 0x400u << 16);
}

// An ordinary stage emitted again takes the constants it is given each
// time: the same ones, changed ones, and the state's after another writer
// replaced its images in between.
TEST(Combiners, StageImagesFollowTheConstantsOfEveryEmission) {
  auto state = std::make_unique<PixelPipelineState>();
  state->Reset(nullptr);
  state->dirty = kPpsConstants;
  CombinerStage stage;
  stage.index = 1;
  stage.colour.Build(Instruction(1, 9, 15, 6, 255), nullptr, false);
  auto setConstants = [&](float first, float second) {
    const float c2[4] = {first, 0, 0, 0}, c3[4] = {second, 0, 0, 0};
    memcpy(state->constants[2], c2, 16);
    memcpy(state->constants[3], c3, 16);
  };
  auto emit = [&] {
    CombinerStageImage image;
    memset(&image, 0xFF, sizeof image);
    uint32_t binding = 0;
    EXPECT_TRUE(stage.EmitImage(*state, &image, &binding));
    EXPECT_EQ(image.flags & kImageConstantsPresent, kImageConstantsPresent);
    return image;
  };
  setConstants(0.5f, -0.5f);
  EXPECT_EQ(emit().constants[0], 512u);
  CombinerStageImage again = emit();
  EXPECT_EQ(again.constants[0], 512u);
  EXPECT_EQ(again.constants[2], static_cast<uint32_t>(-512) & 0x7FF);
  setConstants(0.25f, -0.5f);
  EXPECT_EQ(emit().constants[0], 256u);
  // Another writer's images give way to the state's constants again.
  const int32_t fixed[4] = {7, 7, 7, 7};
  stage.SetConstantImageFixed(0, fixed);
  EXPECT_EQ(emit().constants[0], 256u);
  // NaN is 0 and values beyond the range are clamped.
  setConstants(__builtin_nanf(""), 4.0f);
  CombinerStageImage clamped = emit();
  EXPECT_EQ(clamped.constants[0], 0u);
  EXPECT_EQ(clamped.constants[2], 1023u);
  setConstants(-4.0f, 0.99999f);
  clamped = emit();
  EXPECT_EQ(clamped.constants[0], static_cast<uint32_t>(-1024) & 0x7FF);
  EXPECT_EQ(clamped.constants[2], 1023u);
}

// A stage says it keeps its image only where emitting again would write
// the image as it stands: through a run of emissions with the constants
// marked or not, changed or not, a constant image set in between and a
// pair's matrix values changed, each stage's answer is checked against an
// emission into a copy of its last image.
TEST(Combiners, AStageKeepsItsImageOnlyWhereAnEmissionWouldWriteItUnchanged) {
  auto state = std::make_unique<PixelPipelineState>();
  state->Reset(nullptr);
  auto setConstant = [&](uint32_t slot, float x) {
    const float c[4] = {x, -x, x / 4, 1.0f};
    memcpy(state->constants[slot], c, 16);
  };
  setConstant(2, 0.5f);
  setConstant(3, -0.25f);
  struct Step {
    const char* what;
    uint32_t dirty;
    void (*change)(PixelPipelineState&, CombinerStage&);
    // Expected answers: the ordinary stage, the first of three 14 stages,
    // the pair's first stage, the final stage.
    bool keeps[4];
  };
  const Step steps[] = {
      {"first emission", kPpsConstants, nullptr, {false, false, false, false}},
      {"the same constants marked", kPpsConstants, nullptr, {true, false, false, true}},
      {"the same again", kPpsConstantBlock, nullptr, {true, true, false, true}},
      {"constants not marked", 0, nullptr, {false, true, false, true}},
      {"not marked again", 0, nullptr, {true, true, false, true}},
      {"marked, unchanged", kPpsConstants, nullptr, {false, true, false, true}},
      {"the second constant changed", kPpsConstants,
       [](PixelPipelineState& st, CombinerStage&) {
         const float c[4] = {0.75f, 0, 0, 0};
         memcpy(st.constants[3], c, 16);
       },
       {false, true, false, true}},
      {"marked, unchanged", kPpsConstants, nullptr, {true, true, false, true}},
      {"a constant image set", kPpsConstants,
       [](PixelPipelineState&, CombinerStage& stage) {
         const int32_t v[4] = {7, 7, 7, 7};
         stage.SetConstantImageFixed(0, v);
       },
       {false, false, false, false}},
      {"the pair's matrix values", 0,
       [](PixelPipelineState& st, CombinerStage&) { st.entries[3].bumpEnvironment[4] = -0.5f; }, {false, false, false, false}},
      {"not marked, unchanged", 0, nullptr, {true, true, false, true}},
  };
  CombinerStage stages[4];
  stages[0].index = 1;
  stages[0].colour.Build(Instruction(1, 9, 15, 6, 255), nullptr, false);
  stages[0].alpha.Build(Instruction(0, 9, 16, 255, 255), nullptr, true);
  stages[1].BuildTriple14(0);
  stages[2].BuildPair(kStagePairFirst, 3, 0);
  stages[3].BuildSingle17();
  CombinerStageImage images[4];
  memset(images, 0xA5, sizeof images);
  for (const Step& step : steps) {
    for (uint32_t k = 0; k < 4; ++k) {
      SCOPED_TRACE(testing::Message() << step.what << ", stage " << k);
      state->dirty = step.dirty;
      if (step.change != nullptr) step.change(*state, stages[k]);
      const bool keeps = stages[k].KeepsImage(*state);
      EXPECT_EQ(keeps, step.keeps[k]);
      CombinerStage copy = stages[k];
      uint32_t keptBinding = 0;
      const uint32_t keptFlags = copy.KeepImage(&keptBinding);
      CombinerStageImage emitted = images[k];
      uint32_t binding = 0;
      ASSERT_TRUE(stages[k].EmitImage(*state, &emitted, &binding));
      if (keeps) {
        EXPECT_EQ(memcmp(&emitted, &images[k], sizeof emitted), 0);
        EXPECT_EQ(keptFlags, emitted.flags);
        EXPECT_EQ(keptBinding, binding);
        EXPECT_EQ(copy.constantCount, stages[k].constantCount);
      }
      images[k] = emitted;
    }
  }
}

}  // namespace
