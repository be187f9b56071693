// Steps of a draw's state application that hand the engine state words
// only when they differ from what it holds: the stream set-up's addresses,
// strides and vertex window, applied again over the same bindings, and a
// pixel program taking over the target from one whose unit images it
// shares. Neither marks a group for emission.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "kernel/3d/draw/tests/draw_fixture.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/pixel_program.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/engine/texture_units.h"

namespace {

using dtest::Element;
using dtest::kUsePosition;

class UnchangedWords : public dtest::DrawBoard {};

// The same bindings, elements and primitive applied again with every group
// marked: the stream words the context state holds are the ones the set-up
// computes, and their group (addresses 1-7, strides, window) stays clear.
TEST_F(UnchangedWords, StreamWordsAppliedAgainMarkNothing) {
  RenderState3d& state = context->state;
  state.streams.bindings[0] = StreamBinding{kBindingAddress, 0x40000, 16, 1600, 0};
  state.streams.bindings[1] = StreamBinding{kBindingAddress, 0x50000, 8, 800, 0};
  std::vector<uint8_t> list = {2, 0, 0, 0};
  for (const Element& e : {Element(0, 0, 0, kUsePosition, 0xF), Element(0, 1, 2, 5)})
    list.insert(list.end(), e.b, e.b + 4);
  ASSERT_TRUE(setup->StoreElementList(list.data(), static_cast<uint32_t>(list.size())));
  state.SetPrimitiveMode(5);
  state.MarkAllDirty();
  ASSERT_TRUE(state.Apply());
  ContextState3d* cs = context->contextState;
  ASSERT_EQ(cs->coordinateBlock[1], 0x50000u);
  ASSERT_EQ(cs->coordinateBlock[8], 16u | 8u << 16);
  cs->dirty.words[0] &= ~kCsDirtyCoordB;
  state.MarkAllDirty();
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(cs->dirty.words[0] & kCsDirtyCoordB, 0u);
  // Another stride does go out.
  state.streams.bindings[1].stride = 12;
  state.streams.changedMask = 0x2;
  ASSERT_TRUE(state.Apply());
  EXPECT_NE(cs->dirty.words[0] & kCsDirtyCoordB, 0u);
  EXPECT_EQ(cs->coordinateBlock[8], 16u | 12u << 16);
}

// Two programs built from one description with the same parameters: the
// second taking over the target finds every unit image the same and
// marks no unit group.
TEST_F(UnchangedWords, AProgramTakingOverWithTheSameUnitImagesMarksNoUnit) {
  SurfaceCreateRequest r = Request(11, 64, 64);
  Surface3d* texture = table->CreateSurface(1, &r);
  ASSERT_NE(texture, nullptr);
  PixelPipelineState* live = &context->state.pipelineState;
  live->entries[0].textureA = 1;
  live->entries[0].textureB = texture->resourceHandle;
  auto d = std::make_unique<PipelineRecord>();
  d->count = 1;
  for (uint32_t s = 0; s < kPipelineStages; ++s) {
    d->stages[s].colour.operation = 1;
    d->stages[s].colour.args[0].index = 6;
    d->stages[s].colour.args[1].index = 7;
  }
  d->textures[0].presence = 1;
  PixelProgramCache* cache = context->programCache;
  ContextState3d* target = context->contextState;
  auto first = std::make_unique<PixelProgram>();
  auto second = std::make_unique<PixelProgram>();
  ASSERT_TRUE(first->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(second->Build(cache, d.get(), kProgramModeFixed));
  ASSERT_TRUE(first->Commit(0, *live, target, cache->caps));
  ASSERT_TRUE(second->Commit(0, *live, target, cache->caps));
  ASSERT_TRUE(first->Commit(1, *live, target, cache->caps));
  const TextureUnitRecord held = target->textureUnits.units[0];
  target->dirty.words[2] = 0;
  ASSERT_TRUE(second->Commit(1, *live, target, cache->caps));
  EXPECT_EQ(target->dirty.words[2] & 3, 0u) << "a unit group marked for the same images";
  EXPECT_EQ(memcmp(&target->textureUnits.units[0], &held, sizeof held), 0);
}

}  // namespace
