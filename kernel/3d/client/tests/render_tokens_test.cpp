// What the 3D client contexts' interpreter hands the render state: the
// render-state tokens over the kernel's copy of their entries (at any
// alignment), the batch seal's target tags, the drawable's viewport and the
// targets dropped when the device stops.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/render_tokens.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"

namespace {

constexpr uint32_t kClient = 77;

class Tokens : public stest::SurfaceBoard {
 protected:
  void SetUp() override {
    SurfaceBoard::SetUp();
    ASSERT_NE(CreateResourceTable(pdev, kClient), nullptr);
    RenderContextRequest3d request{nullptr, pdev, kClient, 0, {nullptr, nullptr}, 0};
    ASSERT_TRUE(CreateRenderContext(&request));
    context = RenderContextTableGet(request.handle);
    ASSERT_NE(context, nullptr);
    token = TokenContext3d{nullptr, pdev, pdev->common, nullptr, context, 0};
    context->state.ClearDirty();
  }
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, kClient);
    SurfaceBoard::TearDown();
  }

  // The words as the interpreter's copy holds them, one byte off any word
  // boundary: handlers must not read them in place as words.
  const uint8_t* Payload(const std::vector<uint32_t>& words) {
    bytes.assign(words.size() * 4 + 1, 0);
    memcpy(bytes.data() + 1, words.data(), words.size() * 4);
    return bytes.data() + 1;
  }

  RenderContext3d* context = nullptr;
  TokenContext3d token{};
  std::vector<uint8_t> bytes;
};

TEST_F(Tokens, RenderStatesAndDriverStatesApplyEveryEntryInOrder) {
  RenderState3d& state = context->state;
  tokens::SetRenderStates(&token, Payload({7, 1, 7, 0, 257, 1, 1, 9}), 4, 0);
  EXPECT_EQ(state.values[7], 0u);  // set, then reset
  EXPECT_EQ(state.values[1], 0u);  // locked before it came
  EXPECT_EQ(state.depthStencil.dirty, kDsDepth);
  tokens::SetDriverStates(&token, Payload({9, 5, 29, 1}), 2, 0);
  EXPECT_EQ(state.raster.blendConstants[0], 5u);
  tokens::SetModeStates(&token, Payload({3, 5}), 1, 0);
  EXPECT_EQ(state.vertex.materialSourcesB, 0x11u);
}

TEST_F(Tokens, LongTokensApplyTheirEntriesInOrderAcrossBatches) {
  RenderState3d& state = context->state;
  // Depth enable set 31 times, then locked by the 32nd entry: the entries
  // after it (a later batch) leave it; depth write takes its last value.
  std::vector<uint32_t> words;
  for (uint32_t i = 0; i < 31; ++i) words.insert(words.end(), {7, i + 1});
  words.insert(words.end(), {257 + 6, 1, 7, 99});
  for (uint32_t i = 0; i < 40; ++i) words.insert(words.end(), {14, i + 1});
  tokens::SetRenderStates(&token, Payload(words), static_cast<uint32_t>(words.size() / 2), 0);
  EXPECT_EQ(state.values[7], 31u);
  EXPECT_EQ(state.values[14], 40u);
  // Sampler states across a batch: the last value of each stays.
  std::vector<uint32_t> samplers;
  for (uint32_t i = 0; i < 70; ++i) samplers.insert(samplers.end(), {(i % 2) | 7u << 16, i});
  tokens::SetSamplerStates(&token, Payload(samplers), 70, 0);
  EXPECT_EQ(state.samplers[0][7], 68u);
  EXPECT_EQ(state.samplers[1][7], 69u);
}

TEST_F(Tokens, SamplerStatesTextureStagesAndThePipelineRecord) {
  RenderState3d& state = context->state;
  // {stage 3, state 10, value}, {stage 9, state 10, value}, {stage 10, ...}.
  tokens::SetSamplerStates(&token, Payload({3 | 10u << 16, 44, 9 | 10u << 16, 45, 10 | 1u << 16, 46}), 3, 0);
  EXPECT_EQ(state.samplers[3][10], 44u);
  EXPECT_EQ(state.samplers[4][0], 0u);
  EXPECT_EQ(state.samplers[9][10], 45u);

  // Token 14: with a handle the stage takes the texture of that handle,
  // without one the value; 0 <-> non-zero also marks presence.
  tokens::SetTextureStages(&token, Payload({2 | 5u << 16, 0, 4, 0x1234}), 2, 0);
  EXPECT_EQ(state.stages[2].texture, 5u);
  EXPECT_EQ(state.stages[2].textureKind, kStageTextureHandle);
  EXPECT_EQ(state.stages[4].texture, 0x1234u);
  EXPECT_EQ(state.stages[4].dirty, kSgTexture | kSgPresence);
  state.ClearDirty();
  tokens::SetTextureStages(&token, Payload({4, 0x1235}), 1, 0);
  EXPECT_EQ(state.stages[4].dirty, kSgTexture);
  EXPECT_EQ(state.pixel.dirty, kPxStages);
  // A texture of the client's table that goes marks the stage.
  state.ClearDirty();
  state.ForgetBuffer(1, 5);
  EXPECT_EQ(state.stages[2].dirty, kSgTexture);
  EXPECT_EQ(state.stages[4].dirty, 0u);

  std::vector<uint32_t> record(1648 / 4, 0);
  record[0] = 2;                                  // count
  record[1] = 0xAB;                               // stage 0's colour operation
  record[1 + 13] = 1;                             // its colour enable
  state.ClearDirty();
  tokens::LoadPipelineRecord(&token, Payload(record), 1, 0);
  EXPECT_EQ(state.pipeline.count, 2u);
  uint32_t op;
  memcpy(&op, state.pixel.stageRecords[0][0], 4);
  EXPECT_EQ(op, 0xABu);
  EXPECT_EQ(state.pixel.dirty, kPxProgram | kPxStageRecords);
}

TEST_F(Tokens, TransformsRectanglesPlanesAndTheFirstOrLastEntry) {
  RenderState3d& state = context->state;
  std::vector<uint32_t> transforms;
  for (uint32_t id : {2u, 17u, 300u}) {
    transforms.push_back(id);
    for (uint32_t i = 0; i < 16; ++i) transforms.push_back(i == 0 || i == 5 || i == 10 || i == 15 ? 0x3F800000 : 0);
  }
  tokens::SetTransforms(&token, Payload(transforms), 3, 0);
  EXPECT_EQ(state.vertex.matrixDirty, kMxViewWorld | 1u << 3);
  EXPECT_EQ(state.vertex.view.m[5], 0x3F800000u);
  state.ClearDirty();
  tokens::SetTransforms(&token, Payload(transforms), 1, 0);  // view again: unchanged
  EXPECT_EQ(state.vertex.matrixDirty, 0u);

  tokens::SetRectA(&token, Payload({1, 2, 3, 4}), 1, 0);
  tokens::SetRectB(&token, Payload({1, 2, 3, 4}), 1, 0);
  EXPECT_EQ(state.vertex.transformDirty, kVxRectA | kVxRectB);
  tokens::SetClipPlanes(&token, Payload({6, 1, 1, 1, 1, 5, 9, 8, 7, 6}), 2, 0);
  EXPECT_EQ(state.vertex.clipPlanes[5][0], 9u);

  // 7 takes its first entry; 39, 53 and 54 their last.
  tokens::SetViewport(&token, Payload({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), 2, 0);
  EXPECT_EQ(state.vertex.viewport[0], 1u);
  tokens::SetDepthRange(&token, Payload({1, 2, 0x3F000000, 0x3F800000}), 2, 0);
  EXPECT_EQ(state.vertex.depthRange[0], 0x3F000000u);
  tokens::SetFloat4StateA(&token, Payload({1, 2, 3, 4, 5, 6, 7, 8}), 2, 0);
  EXPECT_EQ(state.raster.float4A[0], 5u);
  tokens::SetFloatPair(&token, Payload({1, 2, 3, 4}), 2, 0);
  EXPECT_EQ(state.vertex.floatPair[1], 4u);
  tokens::SetFloat4StatesB(&token, Payload({0x3F800000, 0, 0, 0}), 1, 0);
  EXPECT_EQ(state.vertex.ambient[0], 1.0f);
}

TEST_F(Tokens, TheSealTagsTargetsOfKindThreeAndFourAndAnswersTheMask) {
  Surface3d* colour = context->aux.polygon;
  Surface3d* depth = context->aux.constant;
  EXPECT_EQ(RenderContext3dSealTargets(context, 0x40), 0u);
  context->colourTarget = colour;
  EXPECT_EQ(RenderContext3dSealTargets(context, 0x40), 0x100u);
  context->depthTarget = depth;
  const uint32_t placements[2] = {colour->Placement(), depth->Placement()};
  struct Row {
    uint32_t kind;
    bool tagged;
  };
  const Row rows[] = {{1, false}, {2, false}, {3, true}, {4, true}, {5, false}};
  uint32_t tag = 0x48;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    // The memory kind is the placement nibble.
    colour->SetPlacement(row.kind);
    depth->SetPlacement(row.kind);
    colour->lastWriteTag = depth->lastWriteTag = 0;
    EXPECT_EQ(RenderContext3dSealTargets(context, tag), 0x300u);
    EXPECT_EQ(colour->lastWriteTag, row.tagged ? tag : 0u);
    EXPECT_EQ(depth->lastWriteTag, row.tagged ? tag : 0u);
    tag += 8;
  }
  colour->SetPlacement(placements[0]);
  depth->SetPlacement(placements[1]);

  RenderContext3dDropTargets(context);
  EXPECT_EQ(context->colourTarget, nullptr);
  EXPECT_EQ(context->depthTarget, nullptr);
  EXPECT_EQ(context->targetFlags, 263u);
  EXPECT_EQ(RenderContext3dSealTargets(context, 0x50), 0u);
}

TEST_F(Tokens, TheDrawableViewportMarksOnlyAChange) {
  RenderState3d& state = context->state;
  RenderState3dSetDrawableViewport(context, 10, 20, 300, 200);
  EXPECT_EQ(state.vertex.viewport[0], 10u);
  EXPECT_EQ(state.vertex.viewport[3], 200u);
  EXPECT_EQ(state.vertex.transformDirty, kVxViewport);
  state.ClearDirty();
  RenderState3dSetDrawableViewport(context, 10, 20, 300, 200);
  EXPECT_EQ(state.vertex.transformDirty, 0u);
  RenderContext3dSetStamp(context, 5);
  EXPECT_EQ(context->stamp, 5u);
  EXPECT_EQ(state.raster.stamp, 5u);
}

}  // namespace
