// The pixel-pipeline state record: its reset image, the auxiliary samplers
// of a render context, and what a program's copy takes from the live
// record by comparison and by the live record's marks.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/render/pixel_pipeline_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"

namespace {

uint32_t U32(const void* base, size_t at) {
  uint32_t v;
  memcpy(&v, static_cast<const uint8_t*>(base) + at, 4);
  return v;
}
float F32(const void* base, size_t at) {
  float v;
  memcpy(&v, static_cast<const uint8_t*>(base) + at, 4);
  return v;
}

struct Records {
  Records() : copy(new PixelPipelineState()), live(new PixelPipelineState()) {
    live->Reset(nullptr);
    copy->CopyFrom(*live);
  }
  std::unique_ptr<PixelPipelineState> copy;
  std::unique_ptr<PixelPipelineState> live;
};

TEST(PixelPipelineRecord, ResetImage) {
  auto state = std::make_unique<PixelPipelineState>();
  memset(static_cast<void*>(state.get()), 0xA5, sizeof *state);
  state->Reset(nullptr);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(state.get());
  EXPECT_EQ(U32(b, 0), 0u);
  EXPECT_EQ(U32(b, 4), 0u);
  EXPECT_EQ(U32(b, 8), 0xFFFFFFFFu);   // compareMask
  EXPECT_EQ(U32(b, 12), 0xFFFFFFFFu);  // constantMask
  EXPECT_EQ(U32(b, 16), 0u);
  EXPECT_EQ(U32(b, 24), 0xFFFFFFFFu);  // stageDirtyMask
  EXPECT_EQ(U32(b, 1328), 0x1FFFFu);   // stageMask
  EXPECT_EQ(U32(b, 1332), 0u);
  EXPECT_EQ(U32(b, 1344), 0u);
  for (size_t at = 1348; at < 1668; ++at) ASSERT_EQ(b[at], 0) << at;
  for (size_t at = 1668; at < 1708; ++at) ASSERT_EQ(b[at], 0) << at;
  EXPECT_EQ(U32(b, 1708), 0xFFFFFFu);
  EXPECT_EQ(U32(b, 1712), 0u);
  EXPECT_EQ(U32(b, 1716), 0u);
  for (uint32_t i = 0; i < kPipelineEntries; ++i) {
    SCOPED_TRACE(i);
    const uint8_t* e = b + 28 + 130 * i;
    EXPECT_EQ(U32(e, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32(e, 8), 1u);
    EXPECT_EQ(U32(e, 12), 0u);
    EXPECT_EQ(e[16], 0x20 | (0xA5 & 0x18));  // bit 5 set, bits 3-4 kept
    EXPECT_EQ(e[17], 0x49);
    EXPECT_EQ(e[18], 2);
    EXPECT_EQ(e[19], 0xA0);                  // bits 4-7 kept
    EXPECT_EQ(U32(e, 20), 0u);
    EXPECT_EQ(U32(e, 32), 1000u);
    EXPECT_EQ(F32(e, 36), -1000.0f);
    EXPECT_EQ(F32(e, 40), 1000.0f);
    EXPECT_EQ(U32(e, 44), 1u);
    EXPECT_EQ(U32(e, 60), 1u);
    EXPECT_EQ(U32(e, 76), 1u);
    for (size_t at = 80; at < 96; ++at) EXPECT_EQ(e[at], 0);
    const float block[6] = {1.0f, 0, 0, 1.0f, 1.0f, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(F32(e, 96 + 4 * k), block[k]);
    EXPECT_EQ(U32(e, 120), 0u);
    EXPECT_EQ(e[124], 0);
    EXPECT_EQ(e[125], 0);
  }
  uint8_t unit[kUnitBindingBytes];
  memset(unit, 0xEE, sizeof unit);
  ClearUnitRecord(unit);
  for (uint32_t i = 0; i < kUnitBindingBytes; ++i) EXPECT_EQ(unit[i], i == 92 ? 0x40 : 0) << i;
}

// Constant slot i of the live record, set to a value.
void SetConstant(PixelPipelineState& s, uint32_t slot, float value) {
  memcpy(s.constants[slot], &value, 4);
}

TEST(PixelPipelineRecord, ConstantsInTheBlockMarkAllOthersOnlyTheirOwn) {
  Records r;
  SetConstant(*r.live, 3, 2.5f);
  TakeChanges(*r.copy, *r.live, 0);
  EXPECT_EQ(+r.copy->dirty, kPpsConstantBlock);
  EXPECT_EQ(+r.copy->dirtyConstants, 0xFFFFFFFFu);
  EXPECT_EQ(memcmp(r.copy->constants, r.live->constants, sizeof r.live->constants), 0);

  SetConstant(*r.live, 12, 1.0f);
  TakeChanges(*r.copy, *r.live, 0);
  EXPECT_EQ(+r.copy->dirty, kPpsConstants);
  EXPECT_EQ(+r.copy->dirtyConstants, 1u << 12);

  // A slot the constant mask leaves out is not compared, nor kept.
  r.copy->constantMask = ~(1u << 13);
  SetConstant(*r.live, 13, 1.0f);
  TakeChanges(*r.copy, *r.live, 0);
  EXPECT_EQ(+r.copy->dirty, 0u);
  EXPECT_NE(memcmp(r.copy->constants[13], r.live->constants[13], 16), 0);
}

// One field of a stage entry changed in the live record, and the dirty
// word the comparison gives that entry.
struct EntryCase {
  const char* name;
  void (*change)(PipelineStageEntry&);
  uint32_t dirty;
};

const EntryCase kEntryCases[] = {
    {"U addressing", [](PipelineStageEntry& e) { e.sampling[0] ^= 0x01; }, kPeTexture | kPeAddressU},
    {"coordinate generation", [](PipelineStageEntry& e) { e.sampling[0] ^= 0x08; }, kPeTexture | kPeTexGen},
    {"V addressing", [](PipelineStageEntry& e) { e.sampling[0] ^= 0x40; }, kPeTexture | kPeAddressVOrCoord},
    {"coordinate index", [](PipelineStageEntry& e) { e.sampling[1] ^= 0x01; }, kPeTexture | kPeAddressVOrCoord},
    {"mip filter", [](PipelineStageEntry& e) { e.sampling[1] ^= 0x80; }, kPeTexture | kPeFilters},
    {"anisotropic", [](PipelineStageEntry& e) { e.sampling[2] ^= 0x01; }, kPeTexture | kPeFilters},
    {"minification filter", [](PipelineStageEntry& e) { e.sampling[2] ^= 0x02; }, kPeTexture | kPeFilters},
    {"magnification filter", [](PipelineStageEntry& e) { e.sampling[2] ^= 0x40; }, kPeTexture | kPeFilters},
    {"filter range, low bit", [](PipelineStageEntry& e) { e.sampling[2] ^= 0x80; }, kPeTexture | kPeFilters},
    {"filter range, high bit", [](PipelineStageEntry& e) { e.sampling[3] ^= 0x01; }, kPeTexture | kPeFilters},
    {"W addressing", [](PipelineStageEntry& e) { e.sampling[3] ^= 0x10; }, kPeTexture | kPeTexGen},
    {"border", [](PipelineStageEntry& e) { e.border = 7; }, kPeTexture | kPeBorder},
    {"maximum mip level", [](PipelineStageEntry& e) { e.maxMipLevel = 7; }, kPeTexture | kPeLod},
    {"texture factor", [](PipelineStageEntry& e) { e.textureFactor[3] = 7; }, kPeTexture | kPeTextureFactor},
    {"bump environment", [](PipelineStageEntry& e) { e.bumpEnvironment[5] = 2.0f; },
     kPeTexture | kPeBumpEnvironment},
    {"transform flags", [](PipelineStageEntry& e) { e.transformFlags = 7; }, kPeTexture | kPeTexGen},
    {"lod words", [](PipelineStageEntry& e) { e.lodRange[0] = 0.5f; }, kPeTexture | kPeLod},
    {"byte 124", [](PipelineStageEntry& e) { e.enables[0] = 1; }, kPeTexture | kPeEnables},
    {"byte 125", [](PipelineStageEntry& e) { e.enables[1] = 1; }, kPeTexture | kPeEnables},
};

TEST(PixelPipelineRecord, TakeChangesMarksEachFieldOfAnEntry) {
  for (const EntryCase& c : kEntryCases) {
    SCOPED_TRACE(c.name);
    Records r;
    c.change(r.live->entries[2]);
    TakeChanges(*r.copy, *r.live, 3);
    EXPECT_EQ(+r.copy->entries[2].dirty, c.dirty);
    // Entries without a change only take their texture words.
    EXPECT_EQ(+r.copy->entries[1].dirty, kPeTexture);
    EXPECT_EQ(+r.copy->stageDirty, c.dirty);
    EXPECT_EQ(+r.copy->dirty, kPpsStages);
    EXPECT_EQ(memcmp(reinterpret_cast<const uint8_t*>(&r.copy->entries[2]) + 4,
                     reinterpret_cast<const uint8_t*>(&r.live->entries[2]) + 4, 122), 0);
    // Taken once: the next comparison finds nothing new.
    TakeChanges(*r.copy, *r.live, 3);
    EXPECT_EQ(+r.copy->entries[2].dirty, kPeTexture);
  }
}

TEST(PixelPipelineRecord, TakeChangesMarksTheRecordWords) {
  struct Case {
    const char* name;
    void (*change)(PixelPipelineState&);
    uint32_t dirty;
  };
  static uint32_t linkedA[8] = {};
  static uint32_t linkedB[8] = {};
  const Case cases[] = {
      {"option bit 0", [](PixelPipelineState& s) { s.options ^= 1; }, kPpsOptionBit0},
      {"option bits 1-2", [](PixelPipelineState& s) { s.options ^= 4; }, kPpsOptionBits12},
      {"option field", [](PixelPipelineState& s) { s.options ^= 1u << 29; }, kPpsOptionField},
      {"option bits 30-31", [](PixelPipelineState& s) { s.options ^= 3u << 30; }, 0},
      {"stage mask", [](PixelPipelineState& s) { s.stageMask = 3; }, kPpsStageMask},
      {"first link", [](PixelPipelineState& s) { s.firstLinked = linkedA; linkedA[5] = 9; }, kPpsLinkedFirst},
      {"second link", [](PixelPipelineState& s) { s.secondLinked = linkedB; linkedB[4] = 9; }, kPpsLinkedSecond},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Records r;
    c.change(*r.live);
    TakeChanges(*r.copy, *r.live, 0);
    EXPECT_EQ(+r.copy->dirty, c.dirty);
    EXPECT_EQ(+r.copy->stageDirty, 0u);
  }
  // The compare mask and stage-dirty mask keep what is reported.
  Records r;
  r.copy->compareMask = ~kPpsStageMask;
  r.live->stageMask = 3;
  r.live->entries[0].border = 1;
  r.copy->stageDirtyMask = ~kPeBorder & ~kPeTexture;
  TakeChanges(*r.copy, *r.live, 0);
  EXPECT_EQ(+r.copy->dirty, 0u);
  EXPECT_EQ(+r.copy->stageMask, 0x1FFFFu);
  EXPECT_EQ(+r.copy->stageDirty, 0u);
}

TEST(PixelPipelineRecord, StageCountsAboveTenActAsTen) {
  for (uint32_t count : {10u, 11u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(count);
    Records r;
    r.live->entries[9].border = 5;
    TakeChanges(*r.copy, *r.live, count);
    EXPECT_EQ(+r.copy->entries[9].dirty, kPeTexture | kPeBorder);
    r.live->entries[9].border = 6;
    r.live->entries[9].dirty = kPeBorder;
    r.live->dirty = kPpsStages;
    TakeMarked(*r.copy, *r.live, count);
    EXPECT_EQ(+r.copy->entries[9].border, 6u);
  }
  // Entries at and past the count are left alone.
  Records r;
  r.live->entries[4].border = 5;
  TakeChanges(*r.copy, *r.live, 4);
  EXPECT_EQ(+r.copy->entries[4].border, 0u);
  EXPECT_EQ(+r.copy->stageDirty, kPeTexture);
}

TEST(PixelPipelineRecord, TakeMarkedCopiesOnlyTheMarkedGroups) {
  Records r;
  PixelPipelineState& live = *r.live;
  PixelPipelineState& copy = *r.copy;
  // Everything changes; only some of it is marked.
  live.options = 0x9;
  live.stageMask = 0x7;
  for (uint32_t i = 0; i < kPipelineConstants; ++i) SetConstant(live, i, 1.0f + i);
  live.entries[0].textureA = 2;
  live.entries[0].textureB = 77;
  live.entries[0].border = 4;
  live.entries[0].textureFactor[0] = 8;
  live.entries[0].transformFlags = 3;
  live.entries[1].textureB = 78;
  live.entries[1].bumpEnvironment[1] = 0.5f;
  live.entries[0].dirty = kPeTexture | kPeTextureFactor;
  live.entries[1].dirty = kPeBumpEnvironment;
  live.dirty = kPpsConstants | kPpsStageMask;
  live.dirtyConstants = (1u << 2) | (1u << 15);
  live.stageDirty = kPeTexture | kPeTextureFactor | kPeBumpEnvironment;

  TakeMarked(copy, live, 2);
  EXPECT_EQ(+copy.entries[0].textureA, 2u);
  EXPECT_EQ(+copy.entries[0].textureB, 77u);
  EXPECT_EQ(+copy.entries[0].textureFactor[0], 8u);
  EXPECT_EQ(+copy.entries[0].border, 0u);
  EXPECT_EQ(+copy.entries[0].transformFlags, 0u);
  EXPECT_EQ(+copy.entries[1].textureB, 78u);  // the handle word always
  EXPECT_EQ(+copy.entries[1].bumpEnvironment[1], 0.5f);
  EXPECT_EQ(+copy.options, 0u);
  EXPECT_EQ(+copy.stageMask, 0x7u);
  for (uint32_t i = 0; i < kPipelineConstants; ++i) {
    const bool taken = i == 2 || i == 15;
    EXPECT_EQ(memcmp(copy.constants[i], live.constants[i], 16) == 0, taken) << i;
  }
  EXPECT_EQ(+copy.dirty, live.dirty);
  EXPECT_EQ(+copy.dirtyConstants, live.dirtyConstants);
  EXPECT_EQ(+copy.stageDirty, live.stageDirty);
  EXPECT_EQ(+copy.entries[1].dirty, kPeBumpEnvironment);

  // The option word goes with any of bits 4-6, the block with bit 1.
  live.dirty = kPpsOptionBits12 | kPpsConstantBlock;
  TakeMarked(copy, live, 0);
  EXPECT_EQ(+copy.options, 0x9u);
  EXPECT_EQ(memcmp(copy.constants, live.constants, 16 * kPipelineBlockConstants), 0);
}

TEST(PixelPipelineRecord, CopyFromRefreshesTheLinkedValues) {
  Records r;
  uint32_t first[6] = {0, 0, 0, 0, 0, 21};
  uint32_t second[5] = {0, 0, 0, 0, 22};
  r.live->firstLinked = first;
  r.live->secondLinked = second;
  r.copy->CopyFrom(*r.live);
  EXPECT_EQ(+r.copy->firstLinkedValue, 21u);
  EXPECT_EQ(+r.copy->secondLinkedValue, 22u);
  EXPECT_EQ(r.live->firstLinkedValue, 0u);
}

class PipelineOfContext : public stest::SurfaceBoard {
 protected:
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, kClient);
    SurfaceBoard::TearDown();
  }
  static constexpr uint32_t kClient = 77;
};

TEST_F(PipelineOfContext, AuxiliarySamplersTakeTheContextsSurfaces) {
  ASSERT_NE(CreateResourceTable(pdev, kClient), nullptr);
  RenderContextRequest3d request{nullptr, pdev, kClient, 0, {nullptr, nullptr}, 0};
  ASSERT_TRUE(CreateRenderContext(&request));
  RenderContext3d* context = RenderContextTableGet(request.handle);
  ASSERT_NE(context, nullptr);
  auto state = std::make_unique<PixelPipelineState>();
  state->Reset(context);
  ASSERT_NE(context->aux.selected[0], nullptr);
  ASSERT_NE(context->aux.selected[1], nullptr);
  EXPECT_EQ(+state->entries[8].textureA, 0u);
  EXPECT_EQ(+state->entries[8].textureB, Surface3dResourceHandle(context->aux.selected[0]));
  EXPECT_EQ(+state->entries[9].textureA, 0u);
  EXPECT_EQ(+state->entries[9].textureB, Surface3dResourceHandle(context->aux.selected[1]));
  EXPECT_NE(+state->entries[8].textureB, +state->entries[9].textureB);
  EXPECT_EQ(+state->entries[7].textureA, 1u);
}

}  // namespace
