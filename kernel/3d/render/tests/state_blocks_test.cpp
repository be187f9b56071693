// State blocks over a render state: the id tables, blocks created, replaced
// and erased, recording with nesting, capture and apply of render states,
// stage states, lights, light enables, streams and the index source, and a
// table left unchanged when memory runs out.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <set>

#include "core/heap_object.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_state_fixture.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/render/tests/state_block_queries.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_format.h"

namespace {

// The vertex block's matrix under a transform id of a block.
const Matrix4Words* MatrixOf(const VertexProcessingBlock& v, uint32_t id) {
  return id == 1     ? &v.model
         : id == 2   ? &v.view
         : id == 3   ? &v.projection
         : id <= 6   ? &v.further[id - 4]
         : id < 256  ? &v.texture[id - 16]
                     : &v.world[id - 256];
}

class Blocks : public rtest::RenderStateTest {
 protected:
  void SetUp() override {
    RenderStateTest::SetUp();
    if (HasFatalFailure()) return;
    table = new StateBlockTable(state);
    ASSERT_TRUE(table->ok());
  }
  void TearDown() override {
    delete table;
    RenderStateTest::TearDown();
  }

  StateBlockTable* table = nullptr;
};

TEST(StateBlockIds, TheCaptureTables) {
  EXPECT_EQ(std::size(kPixelRenderStateIds), 39u);
  EXPECT_EQ(std::size(kVertexRenderStateIds), 38u);
  EXPECT_EQ(std::size(kAllRenderStateIds), 73u);
  EXPECT_EQ(std::size(kAllStageStateIds), 27u);
  EXPECT_EQ(std::size(kVertexStageStateIds), 2u);
  EXPECT_EQ(std::size(kTransformIds), 47u);
  // No id twice; the stage table lacks 12; all = pixel + vertex.
  std::set<uint32_t> all(std::begin(kAllRenderStateIds), std::end(kAllRenderStateIds));
  EXPECT_EQ(all.size(), 73u);
  std::set<uint32_t> both(std::begin(kPixelRenderStateIds), std::end(kPixelRenderStateIds));
  both.insert(std::begin(kVertexRenderStateIds), std::end(kVertexRenderStateIds));
  EXPECT_EQ(both, all);
  EXPECT_EQ(std::count(std::begin(kAllStageStateIds), std::end(kAllStageStateIds), 12), 0);
}

TEST_F(Blocks, CaptureKindsHoldTheirIds) {
  struct Case {
    uint32_t type;
    size_t renderStates, stageStates;
  };
  for (const Case c : {Case{1, 73, 27}, Case{2, 39, 27}, Case{3, 38, 2}, Case{9, 0, 0}}) {
    ASSERT_EQ(table->Create(c.type, c.type), 1u);
    StateBlock* b = table->Find(c.type);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(StateBlockCount(*b, kSbRenderStates), c.renderStates) << c.type;
    for (uint32_t s = 0; s < kBlockStages; ++s)
      EXPECT_EQ(StateBlockCount(*b, kSbStageStates, s), c.stageStates) << c.type;
  }
}

TEST_F(Blocks, CaptureKindsHoldTheOtherComponents) {
  struct Case {
    uint32_t type;
    size_t transforms, clipPlanes, single, vertexConstants, pixelConstants;
  };
  // Types 1 all, 2 pixel, 3 vertex. Only "all" holds the material; the
  // pixel program goes with the pixel constants.
  for (const Case c : {Case{1, 47, 6, 1, 256, 8}, Case{2, 0, 0, 0, 0, 8}, Case{3, 0, 0, 0, 256, 0}}) {
    SCOPED_TRACE(c.type);
    ASSERT_EQ(table->Create(c.type, c.type), 1u);
    const StateBlock* b = table->Find(c.type);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(StateBlockCount(*b, kSbTransforms), c.transforms);
    EXPECT_EQ(StateBlockCount(*b, kSbClipPlanes), c.clipPlanes);
    EXPECT_EQ(StateBlockCount(*b, kSbViewport), c.single);
    EXPECT_EQ(StateBlockCount(*b, kSbDepthRange), c.single);
    EXPECT_EQ(StateBlockCount(*b, kSbVertexShader), c.vertexConstants != 0 ? 1u : 0u);
    EXPECT_EQ(StateBlockCount(*b, kSbVertexConstants), c.vertexConstants);
    EXPECT_EQ(StateBlockCount(*b, kSbPixelConstants), c.pixelConstants);
    EXPECT_EQ(StateBlockCount(*b, kSbMaterial), c.single);
    EXPECT_EQ(StateBlockCount(*b, kSbPixelProgram), c.pixelConstants != 0 ? 1u : 0u);
  }
  // Ids outside a component's range are refused.
  StateBlock* b = table->Find(1);
  EXPECT_FALSE(b->AddKey(kSbTransforms, 7, 0));
  EXPECT_FALSE(b->AddKey(kSbTransforms, 289, 0));
  EXPECT_FALSE(b->AddKey(kSbClipPlanes, 6, 0));
  EXPECT_FALSE(b->AddKey(kSbVertexConstants, 256, 0));
  EXPECT_FALSE(b->AddKey(kSbPixelConstants, 8, 0));
  EXPECT_FALSE(b->AddKey(kSbMaterial, 1, 0));
  EXPECT_FALSE(b->AddKey(kSbPixelProgram, 1, 0));
}

Matrix4Words Filled(uint32_t base) {
  Matrix4Words m;
  for (uint32_t i = 0; i < 16; ++i) m.m[i] = base + i;
  return m;
}

TEST_F(Blocks, TransformsViewportDepthRangeClipPlanesAndShaderComeBack) {
  VertexProcessingBlock& v = state->vertex;
  for (uint32_t id : {1u, 2u, 3u, 4u, 6u, 16u, 17u, 256u, 287u}) state->SetTransform(id, Filled(id * 100));
  const uint32_t viewport[6] = {1, 2, 300, 400, 5, 6};
  state->SetViewport(viewport);
  const uint32_t range[2] = {0x3E800000, 0x3F400000};  // 0.25, 0.75
  state->SetDepthRange(range);
  const uint32_t plane[4] = {9, 8, 7, 6};
  state->SetClipPlane(5, plane);
  v.vertexShader = 0x2A1;
  ASSERT_EQ(table->Create(3, 1), 1u);
  const StateBlock* b = table->Find(3);
  // Id 288 is taken from the slot of id 16.
  EXPECT_EQ(memcmp(b->transforms.find(288)->second, &v.texture[0], sizeof(Matrix4Words)), 0);

  for (uint32_t id : {1u, 2u, 3u, 4u, 6u, 16u, 17u, 256u, 287u}) state->SetTransform(id, Filled(7));
  const uint32_t otherViewport[6] = {0, 0, 10, 10, 5, 6};
  state->SetViewport(otherViewport);
  const uint32_t otherRange[2] = {0, 0x3F800000};
  state->SetDepthRange(otherRange);
  const uint32_t otherPlane[4] = {1, 1, 1, 1};
  state->SetClipPlane(5, otherPlane);
  v.vertexShader = 0x1C4;
  state->ClearDirty();
  v.matrixDirty = v.worldDirty = 0;
  state->vertexSub.bytes[4] = 0;

  ASSERT_EQ(table->ApplyBlock(3), 1u);
  for (uint32_t id : {1u, 2u, 3u, 4u, 6u, 16u, 17u, 256u, 287u}) {
    const Matrix4Words expected = Filled(id * 100);
    const Matrix4Words* now = MatrixOf(v, id);
    EXPECT_EQ(memcmp(now, &expected, sizeof expected), 0) << id;
  }
  // World slots: id 1 and 256 bit 0, id 4 bit 1, id 6 bit 3, id 287 bit 31;
  // view and projection, texture matrices 0 and 1.
  EXPECT_EQ(v.worldDirty, 1u | 1u << 1 | 1u << 3 | 1u << 31);
  EXPECT_EQ(v.matrixDirty & (kMxViewWorld | kMxProjection | 1u << 2 | 1u << 3),
            kMxViewWorld | kMxProjection | 1u << 2 | 1u << 3);
  EXPECT_EQ(memcmp(v.viewport, viewport, 16), 0);
  EXPECT_EQ(v.viewport[4], 5u);  // the block keeps four words
  // The vertex engine's viewport group follows, with its mapping bit.
  EXPECT_EQ(v.viewportGroup.origin[0], 1u);
  EXPECT_EQ(v.viewportGroup.origin[1], 2u);
  EXPECT_EQ(v.viewportGroup.size[0], 300u);
  EXPECT_EQ(v.viewportGroup.size[1], 400u);
  EXPECT_NE(v.viewportGroup.dirty & kVpMapping, 0u);
  EXPECT_EQ(memcmp(v.depthRange, range, sizeof range), 0);
  EXPECT_EQ(memcmp(v.clipPlanes[5], plane, sizeof plane), 0);
  EXPECT_EQ(v.vertexShader, 0x2A1u);
  EXPECT_NE(v.transformDirty & (kVxViewport | kVxDepthRange | kVxClipPlanes), 0u);
  EXPECT_EQ(state->vertexSub.bytes[4] & (kVsubLayoutElements | kVsubLayoutChanged),
            kVsubLayoutElements | kVsubLayoutChanged);

  // Applying again marks nothing.
  state->ClearDirty();
  v.matrixDirty = v.worldDirty = 0;
  state->vertexSub.bytes[4] = 0;
  ASSERT_EQ(table->ApplyBlock(3), 1u);
  EXPECT_EQ(v.transformDirty, 0u);
  EXPECT_EQ(v.matrixDirty, 0u);
  EXPECT_EQ(v.worldDirty, 0u);
  EXPECT_EQ(state->vertexSub.bytes[4], 0u);
}

TEST_F(Blocks, VertexAndPixelConstants) {
  VecConstShadow* shadow = OsNew<VecConstShadow>();
  ASSERT_NE(shadow, nullptr);
  state->constShadow = shadow;
  shadow->image[5].w[0] = 0x11;
  shadow->image[255].w[3] = 0x22;
  state->pixel.pixelConstants[0][7][1] = 0x33;
  ASSERT_EQ(table->Create(4, 1), 1u);
  const StateBlock* b = table->Find(4);
  EXPECT_EQ(b->vertexConstants.find(5)->second->word[0], 0x11u);
  EXPECT_EQ(b->pixelConstants.find(7)->second->word[1], 0x33u);

  shadow->image[5].w[0] = 0x99;
  memset(shadow->dirty, 0, sizeof shadow->dirty);
  shadow->dirtySummary = 0;
  state->pixel.pixelConstants[0][7][1] = 0x44;
  ASSERT_EQ(table->ApplyBlock(4), 1u);
  EXPECT_EQ(shadow->image[5].w[0], 0x11u);
  EXPECT_EQ(shadow->image[255].w[3], 0x22u);
  EXPECT_TRUE(shadow->Dirty(5));
  EXPECT_FALSE(shadow->Dirty(6));
  EXPECT_FALSE(shadow->Dirty(255));
  // Pixel constants are captured, never written back.
  EXPECT_EQ(state->pixel.pixelConstants[0][7][1], 0x44u);
  state->constShadow = nullptr;
  OsDelete(shadow);
}

TEST_F(Blocks, TheMaterialComesBackAndMarksTheLightingGroup) {
  context->tnl = new TnlSetup;
  ASSERT_NE(context->tnl, nullptr);
  VecConstShadow& image = context->tnl->fixedImage;
  uint32_t material[16];
  for (uint32_t i = 0; i < 16; ++i) material[i] = 0x3F000000 + i;
  state->SetMaterial(material);
  ASSERT_EQ(table->Create(1, 1), 1u);
  ASSERT_EQ(table->Create(3, 3), 1u);  // a vertex block holds no material
  EXPECT_EQ(memcmp(table->Find(1)->material.find(0)->second, material, sizeof material), 0);

  uint32_t other[16] = {};
  other[5] = 0x40000000;
  state->SetMaterial(other);
  memset(image.dirty, 0, sizeof image.dirty);
  image.dirtySummary = 0;
  state->vertex.transformDirty = 0;
  ASSERT_EQ(table->ApplyBlock(3), 1u);
  EXPECT_EQ(memcmp(image.image[kCMaterialDiffuse].w, other, sizeof other), 0);
  EXPECT_EQ(state->vertex.transformDirty & kVxMaterial, 0u);

  ASSERT_EQ(table->ApplyBlock(1), 1u);
  EXPECT_EQ(memcmp(image.image[kCMaterialDiffuse].w, material, sizeof material), 0);
  for (uint32_t c = kCMaterialDiffuse; c <= kCMaterialEmissive; ++c) EXPECT_TRUE(image.Dirty(c)) << c;
  EXPECT_FALSE(image.Dirty(kCMaterialEmissive + 1));
  EXPECT_NE(state->vertex.transformDirty & kVxMaterial, 0u);

  // The same material again marks nothing.
  memset(image.dirty, 0, sizeof image.dirty);
  state->vertex.transformDirty = 0;
  ASSERT_EQ(table->ApplyBlock(1), 1u);
  EXPECT_FALSE(image.Dirty(kCMaterialDiffuse));
  EXPECT_EQ(state->vertex.transformDirty & kVxMaterial, 0u);
}

TEST_F(Blocks, WithoutASetUpTheMaterialIsCapturedAsZeros) {
  ASSERT_EQ(context->tnl, nullptr);
  ASSERT_EQ(table->Create(1, 1), 1u);
  const MaterialRecord* m = table->Find(1)->material.find(0)->second;
  for (const auto& vector : m->vector)
    for (float f : vector) EXPECT_EQ(f, 0.0f);
  ASSERT_EQ(table->ApplyBlock(1), 1u);  // and applying it is harmless
}

TEST_F(Blocks, APixelBlockLeavesThePixelProgramAndItsConstants) {
  const uint32_t bind[2] = {19, 5};
  state->SetDriverStates(bind, 1);
  state->pixel.pixelConstants[0][2][0] = 0x1234;
  Set(7, 1);
  ASSERT_EQ(table->Create(2, 2), 1u);
  const StateBlock* b = table->Find(2);
  EXPECT_EQ(b->pixelProgram.find(0)->second->value, 5u);
  EXPECT_EQ(b->pixelConstants.find(2)->second->word[0], 0x1234u);

  const uint32_t rebind[2] = {19, 7};
  state->SetDriverStates(rebind, 1);
  state->pixel.pixelConstants[0][2][0] = 0x5678;
  Set(7, 0);
  state->ClearDirty();
  ASSERT_EQ(table->ApplyBlock(2), 1u);
  EXPECT_EQ(state->values[7], 1u);  // render states come back
  EXPECT_EQ(state->pixel.programSelector, 7u);
  EXPECT_EQ(state->pixel.pixelConstants[0][2][0], 0x5678u);
  EXPECT_EQ(state->pixel.dirty & kPxProgram, 0u);
}

TEST_F(Blocks, AShaderHandleBringsItsPendingConstants) {
  context->tnl = new TnlSetup;
  ASSERT_NE(context->tnl, nullptr);
  VecConstShadow* shadow = RenderContext3dVecConstShadow(context);
  ASSERT_NE(shadow, nullptr);
  state->constShadow = shadow;
  // A shader entry with two constants of its own.
  const uint32_t key[6] = {0x2A1, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  VertexShaderEntry* entry = context->tnl->AddEntry(key);
  ASSERT_NE(entry, nullptr);
  entry->layoutFlag = 0;
  entry->handle = 0x2A1;
  entry->format = new VertexFormat;
  ASSERT_NE(entry->format, nullptr);
  const VertexDeclConstant constants[2] = {{{1, 2, 3, 4}, 9}, {{5, 6, 7, 8}, 40}};
  ASSERT_EQ(entry->format->constants.Insert(entry->format->constants.end(), 1, constants[0]), 1);
  ASSERT_EQ(entry->format->constants.Insert(entry->format->constants.end(), 1, constants[1]), 1);

  state->vertex.vertexShader = 0x2A1;
  ASSERT_EQ(table->Create(1, 3), 1u);
  state->vertex.vertexShader = 0x0C4;  // a format code
  shadow->image[9].w[0] = 0xEE;
  shadow->image[40].w[3] = 0xEE;
  ASSERT_EQ(table->Create(2, 3), 1u);
  memset(shadow->dirty, 0, sizeof shadow->dirty);
  shadow->dirtySummary = 0;

  ASSERT_EQ(table->ApplyBlock(1), 1u);
  EXPECT_EQ(state->vertex.vertexShader, 0x2A1u);
  EXPECT_NE(state->vertex.transformDirty & kVxViewport, 0u);
  EXPECT_EQ(memcmp(shadow->image[9].w, constants[0].value, 16), 0);
  EXPECT_EQ(memcmp(shadow->image[40].w, constants[1].value, 16), 0);
  EXPECT_TRUE(shadow->Dirty(9));
  EXPECT_TRUE(shadow->Dirty(40));

  // A format code brings no constants: block 2's image words return.
  memset(shadow->dirty, 0, sizeof shadow->dirty);
  ASSERT_EQ(table->ApplyBlock(2), 1u);
  EXPECT_EQ(state->vertex.vertexShader, 0x0C4u);
  EXPECT_EQ(shadow->image[9].w[0], 0xEEu);
  EXPECT_EQ(shadow->image[40].w[3], 0xEEu);
  state->constShadow = nullptr;
}

TEST_F(Blocks, CreatingUnderAKeyThatExistsDiscardsTheOldIds) {
  ASSERT_EQ(table->Create(7, 1), 1u);
  EXPECT_TRUE(StateBlockHolds(*table->Find(7), kSbRenderStates, 29));
  ASSERT_EQ(table->Create(7, 2), 1u);
  EXPECT_FALSE(StateBlockHolds(*table->Find(7), kSbRenderStates, 29));  // vertex-only id gone
  EXPECT_EQ(StateBlockCount(*table->Find(7), kSbRenderStates), 39u);
  EXPECT_EQ(table->blocks.size(), 1u);
  table->Erase(7);
  table->Erase(7);
  EXPECT_EQ(table->Find(7), nullptr);
  EXPECT_EQ(table->ApplyBlock(7), 0u);
  EXPECT_EQ(CaptureStateBlockAgain(*table, 7), 0u);
}

TEST_F(Blocks, ApplyRestoresCapturedValuesAndMarksOnlyChanges) {
  Set(7, 1);
  Set(19, 5);
  state->SetStageState(0, 1, 4);
  state->SetStageState(3, 11, 2);
  ASSERT_EQ(table->Create(1, 1), 1u);
  Set(7, 0);
  Set(19, 2);
  state->SetStageState(0, 1, 7);
  state->SetStageState(3, 11, 5);
  state->ClearDirty();
  ASSERT_EQ(table->ApplyBlock(1), 1u);
  EXPECT_EQ(state->values[7], 1u);
  EXPECT_EQ(state->values[19], 5u);
  EXPECT_EQ(state->stageValues[0][1], 4u);
  EXPECT_EQ(state->stageValues[3][11], 2u);
  EXPECT_NE(state->depthStencil.dirty & kDsDepth, 0u);
  EXPECT_NE(state->raster.dirty & kRsBlend, 0u);
  // Applying again changes nothing.
  state->ClearDirty();
  ASSERT_EQ(table->ApplyBlock(1), 1u);
  EXPECT_EQ(state->depthStencil.dirty, 0u);
  EXPECT_EQ(state->raster.dirty, 0u);
}

TEST_F(Blocks, AnEmptyStageMapStopsTheReplay) {
  ASSERT_EQ(table->Add(5), 1u);
  StateBlock* b = table->Find(5);
  for (uint32_t s : {0u, 1u, 3u}) ASSERT_TRUE(b->AddKey(kSbStageStates, 1, s));
  state->CaptureInto(b);
  for (uint32_t s : {0u, 1u, 3u}) state->SetStageState(s, 1, 9);
  table->ApplyBlock(5);
  EXPECT_EQ(state->stageValues[0][1], 0u);
  EXPECT_EQ(state->stageValues[1][1], 0u);
  EXPECT_EQ(state->stageValues[3][1], 9u);  // stage 2 was empty: the walk stopped
}

TEST_F(Blocks, LightEnables) {
  for (uint32_t i = 1; i <= 12; ++i) state->EnableLight(i, true);
  EXPECT_EQ(state->activeLightCount, 12u);
  state->EnableLight(13, true);  // a thirteenth is ignored
  EXPECT_EQ(state->activeLightCount, 12u);
  state->EnableLight(5, false);
  state->EnableLight(5, true);
  state->EnableLight(5, true);  // already active: nothing changes
  EXPECT_EQ(state->activeLightCount, 12u);
  EXPECT_EQ(std::count(std::begin(state->activeLights), std::end(state->activeLights), 5u), 1);

  ASSERT_EQ(table->Add(2), 1u);
  StateBlock* b = table->Find(2);
  ASSERT_TRUE(b->AddKey(kSbLightEnables, 5, 0));
  ASSERT_TRUE(b->AddKey(kSbLightEnables, 40, 0));
  EXPECT_FALSE(b->AddKey(kSbLightEnables, kMaxLightIndex + 1, 0));
  state->CaptureInto(b);  // 5 on, 40 off
  state->EnableLight(5, false);
  table->ApplyBlock(2);
  EXPECT_EQ(std::count(std::begin(state->activeLights), std::end(state->activeLights), 5u), 1);
  EXPECT_EQ(std::count(std::begin(state->activeLights), std::end(state->activeLights), 40u), 0);
}

TEST_F(Blocks, StreamsAndTheIndexSource) {
  ASSERT_EQ(table->Add(3), 1u);
  StateBlock* b = table->Find(3);
  ASSERT_TRUE(b->AddKey(kSbStreams, 2, 0));
  EXPECT_FALSE(b->AddKey(kSbStreams, 8, 0));
  ASSERT_TRUE(b->AddKey(kSbIndexSource, 0, 0));
  b->streams.find(2)->second->word[1] = 77;
  b->streams.find(2)->second->word[2] = 65535;
  b->indexSource.find(0)->second->word[1] = 9;
  state->streams.changedMask = 0;
  table->ApplyBlock(3);
  EXPECT_EQ(state->streams.bindings[2].handle, 77u);
  EXPECT_EQ(state->streams.bindings[2].stride, 65534u);
  EXPECT_EQ(state->streams.changedMask, 1u << 2);
  EXPECT_EQ(state->streams.indexSource.handle, 9u);
  EXPECT_NE(state->streams.flags & kSfIndexSource, 0);
}

TEST_F(Blocks, NestedRecordingRestoresTheFirstSavedStateOnce) {
  Set(7, 1);
  ASSERT_EQ(BeginStateBlock(*table, 10), 1u);
  Set(7, 2);
  table->RecordState(kSbRenderStates, 7, 0);
  ASSERT_EQ(BeginStateBlock(*table, 11), 1u);
  Set(7, 3);
  table->RecordState(kSbRenderStates, 19, 0);
  EXPECT_EQ(EndStateBlock(*table, 11), 1u);
  EXPECT_EQ(state->values[7], 3u);  // inner end restores nothing
  EXPECT_EQ(EndStateBlock(*table, 10), 0u);
  EXPECT_EQ(state->values[7], 1u);  // the state of the first begin
  EXPECT_EQ(table->saved, nullptr);
  // Both blocks recorded what was set while they recorded.
  EXPECT_TRUE(StateBlockHolds(*table->Find(10), kSbRenderStates, 7));
  EXPECT_TRUE(StateBlockHolds(*table->Find(10), kSbRenderStates, 19));
  EXPECT_FALSE(StateBlockHolds(*table->Find(11), kSbRenderStates, 7));
  EXPECT_TRUE(StateBlockHolds(*table->Find(11), kSbRenderStates, 19));
  EXPECT_EQ(table->Find(10)->renderStates.find(7)->second->value, 3u);
  table->ApplyBlock(10);
  EXPECT_EQ(state->values[7], 3u);
  EXPECT_EQ(EndStateBlock(*table, 10), 0u);  // no recording: the depth stays 0
}

TEST_F(Blocks, ASpotLightRestoredKeepsDegreesInTheBlock) {
  LightRecord light = {};
  light.type = 2;
  const float sixty = 60.0f;
  memcpy(&light.theta, &sixty, 4);
  memcpy(&light.phi, &sixty, 4);
  state->captureRunning = 1;
  ASSERT_TRUE(state->SetLight(3, &light));
  state->captureRunning = 0;
  ASSERT_EQ(BeginStateBlock(*table, 1), 1u);
  EXPECT_EQ(EndStateBlock(*table, 1), 0u);  // the restore writes the half-angle cosine
  float theta = 0;
  memcpy(&theta, &state->lights[3]->theta, 4);
  EXPECT_NEAR(theta, cos(30.0 * M_PI / 180.0), 1e-6);
  // A block applied by the client writes its record as it holds it, twice
  // the same.
  ASSERT_EQ(table->Create(2, 1), 1u);
  table->ApplyBlock(2);
  table->ApplyBlock(2);
  memcpy(&theta, &state->lights[3]->theta, 4);
  EXPECT_NEAR(theta, cos(30.0 * M_PI / 180.0), 1e-6);
}

TEST_F(Blocks, AllocationFailuresLeaveTheTableUnchanged) {
  ASSERT_EQ(table->Create(1, 1), 1u);
  StateBlock* before = table->Find(1);
  for (uint64_t nth = 1; nth < 64; ++nth) {
    glue.FailAllocation(nth);
    const uint32_t added = table->Add(1);
    glue.FailAllocation(0);
    if (added == 1) break;
    EXPECT_EQ(table->Find(1), before) << nth;
    EXPECT_EQ(table->blocks.size(), 1u);
  }
  for (uint64_t nth = 1; nth < 64; ++nth) {
    glue.FailAllocation(nth);
    const uint32_t begun = table->BeginRecording(2);
    glue.FailAllocation(0);
    if (begun == 1) break;
    EXPECT_EQ(table->depth, 0u) << nth;
    EXPECT_EQ(table->saved, nullptr);
  }
}

}  // namespace

// Applying a block writes its render states, stage states, transforms,
// clip planes and vertex constants in bulk; the result must be what their
// setters give value by value, in the block's order: every field and every
// dirty bit, byte for byte. Two render states start alike and take the
// same random changes (values from small pools, so that many are equal,
// locked ids among them); one applies a block, the other the block's
// values one at a time.
class BulkApply : public Blocks {
 protected:
  void SetUp() override {
    Blocks::SetUp();
    other = OsNew<RenderContext3d>();
    ASSERT_NE(other, nullptr);
    ref = &other->state;
    ref->owner = other;
    ref->ClearDirty();
    for (RenderState3d* rs : {state, ref}) {
      rs->constShadow = OsNew<VecConstShadow>();
      ASSERT_NE(rs->constShadow, nullptr);
    }
  }
  void TearDown() override {
    for (RenderState3d* rs : {state, ref}) {
      OsDelete(rs->constShadow);
      rs->constShadow = nullptr;
    }
    OsDelete(other);
    Blocks::TearDown();
  }

  uint32_t Next() {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<uint32_t>(seed);
  }
  uint32_t Value() {
    static constexpr uint32_t kPool[] = {0, 1, 2, 3, 4, 7, 8, 255, 256, 0x10107, 0x30002, 0x3F800000, 0x80000000};
    return kPool[Next() % std::size(kPool)];
  }
  Matrix4Words Matrix() {
    Matrix4Words m;
    const uint32_t base = Next() % 3;
    for (uint32_t i = 0; i < 16; ++i) m.m[i] = base * (i + 1);
    return m;
  }

  // The same random changes to both render states.
  void Mutate() {
    const uint64_t start = seed;
    uint64_t end = 0;
    for (RenderState3d* rs : {state, ref}) {
      seed = start;
      for (uint32_t i = 0; i < 60; ++i) {
        const uint32_t id = 1 + Next() % 256;
        const uint32_t pair[2] = {id, Value()};
        rs->SetRenderStates(pair, 1);
      }
      for (uint32_t i = 0; i < 4; ++i) {  // locks and unlocks
        const uint32_t pair[2] = {kLockControlFirst + Next() % 180, Next() % 2};
        rs->SetRenderStates(pair, 1);
      }
      for (uint32_t i = 0; i < 60; ++i) rs->SetStageState(Next() % kBlockStages, 1 + Next() % kStageStates, Value());
      for (uint32_t i = 0; i < 4; ++i) rs->SetStageTexture(Next() % kBlockStages, Value(), Next() % 2);
      for (uint32_t i = 0; i < 12; ++i) rs->SetTransform(kTransformIds[Next() % kTransformIdCount], Matrix());
      for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t plane[4] = {Value(), Value(), 0, 0};
        rs->SetClipPlane(Next() % kMaxClipPlanes, plane);
      }
      for (uint32_t i = 0; i < 40; ++i) {
        const uint32_t c = Next() % (kMaxVertexConstantId + 1);
        rs->constShadow->image[c].w[Next() % 4] = Value();
      }
      end = seed;
    }
    seed = end;
  }

  // A block of some or all ids of the five kinds, captured from state.
  StateBlock* MakeBlock(bool all) {
    EXPECT_EQ(table->Add(1), 1u);
    StateBlock* b = table->Find(1);
    const auto pick = [&] { return all || Next() % 3 == 0; };
    for (uint32_t id = 1; id < kRenderStateIds; ++id)
      if (pick()) b->AddKey(kSbRenderStates, id, 0);
    // Some stages empty, which ends the walk there.
    for (uint32_t s = 0; s < kBlockStages; ++s)
      if (all || Next() % 5 != 0)
        for (uint32_t id = 0; id <= kStageStates; ++id)
          if (pick()) b->AddKey(kSbStageStates, id, s);
    for (uint16_t id : kTransformIds)
      if (pick()) b->AddKey(kSbTransforms, id, 0);
    for (uint32_t p = 0; p < kMaxClipPlanes; ++p)
      if (pick()) b->AddKey(kSbClipPlanes, p, 0);
    for (uint32_t c = 0; c <= kMaxVertexConstantId; ++c)
      if (all || Next() % 4 != 0) b->AddKey(kSbVertexConstants, c, 0);
    state->CaptureInto(b);
    ref->FlushVertexConstants();  // as the capture did to state
    return b;
  }

  // The block's values through the setters, one at a time, as an apply
  // did before it wrote them in bulk.
  void ApplyOneByOne(const StateBlock& b) {
    for (const auto& [id, record] : b.renderStates) {
      const uint32_t pair[2] = {id, record->value};
      ref->SetRenderStates(pair, 1);
    }
    for (uint32_t s = 0; s < kBlockStages && !b.stageStates[s].empty(); ++s) {
      for (const auto& [id, record] : b.stageStates[s]) {
        if (id == 0)
          ref->SetStageTexture(s, record->value, ref->stages[s].textureKind);
        else
          ref->SetStageState(s, id, record->value);
      }
    }
    VertexProcessingBlock& v = ref->vertex;
    for (const auto& [id, m] : b.transforms) {
      const Matrix4Words* now = MatrixOf(v, id);
      if (id == kTransformCapturedOnly || memcmp(now, m, sizeof *m) == 0) continue;
      ref->SetTransform(id, *m);
      if (id == 1) v.worldDirty |= 1;
      if (id >= 4 && id <= 6) v.worldDirty |= 1u << (id - 3);
    }
    for (const auto& [plane, p] : b.clipPlanes)
      if (memcmp(v.clipPlanes[plane], p->word, 16) != 0) ref->SetClipPlane(plane, p->word);
    ref->FlushVertexConstants();
    for (const auto& [c, value] : b.vertexConstants) {
      VecConst& image = ref->constShadow->image[c];
      if (memcmp(image.w, value->word, 16) == 0) continue;
      memcpy(image.w, value->word, 16);
      ref->constShadow->MarkDirty(c, c);
    }
  }

  void ExpectSame() {
    const auto same = [](const auto& a, const auto& b) { return memcmp(&a, &b, sizeof a) == 0; };
    EXPECT_TRUE(same(state->values, ref->values));
    EXPECT_TRUE(same(state->locks, ref->locks));
    EXPECT_TRUE(same(state->raster, ref->raster));
    EXPECT_TRUE(same(state->depthStencil, ref->depthStencil));
    EXPECT_TRUE(same(state->fog, ref->fog));
    EXPECT_TRUE(same(state->fogValues, ref->fogValues));
    EXPECT_TRUE(same(state->pixel, ref->pixel));
    EXPECT_TRUE(same(state->stipple, ref->stipple));
    EXPECT_TRUE(same(state->vertex, ref->vertex));
    EXPECT_TRUE(same(state->vertexSub, ref->vertexSub));
    EXPECT_TRUE(same(state->stages, ref->stages));
    EXPECT_TRUE(same(state->stageValues, ref->stageValues));
    EXPECT_TRUE(same(*state->constShadow, *ref->constShadow));
    EXPECT_EQ(context->targetModeFlag, other->targetModeFlag);
    EXPECT_EQ(context->targetModeSwitches, other->targetModeSwitches);
  }

  RenderContext3d* other = nullptr;
  RenderState3d* ref = nullptr;
  uint64_t seed = 0x9E3779B97F4A7C15u;
};

TEST_F(BulkApply, ABlockAppliedSetsWhatItsValuesSetOneAtATime) {
  for (uint32_t round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    Mutate();
    StateBlock* b = MakeBlock(round % 4 == 0);
    Mutate();
    for (RenderState3d* rs : {state, ref}) {
      rs->ClearDirty();
      memset(rs->constShadow->dirty, 0, sizeof rs->constShadow->dirty);
      rs->constShadow->dirtySummary = 0;
    }
    ExpectSame();
    ASSERT_EQ(table->ApplyBlock(1), 1u);
    ApplyOneByOne(*b);
    ExpectSame();
    if (HasFailure()) return;
  }
}
