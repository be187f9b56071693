// A transform-and-lighting set-up over a started board with its program
// builder, attached to a state record, and the vertex-processing block it
// updates from: a triangle list, filled, over a 640 by 480 viewport, with
// identity matrices, an empty light table of sixteen and the layout below.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>

#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/tests/stream_fixture.h"

namespace tnltest {

inline uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}

// A position layout: three floats in stream 0, a normal packed after
// them, diffuse format 2 in stream 1, two-float coordinates of set 0.
inline constexpr uint32_t kLayout[6] = {0x1 | 0x4 | 0x20 | 2u << 16, 0x100, 0x0, 0x0000FF00, 0, 0xFF};

// Public: the tests' helpers outside the fixture reach its parts.
class TnlBoard : public ktest::StartedBoard {
 public:
  void SetUp() override {
    StartedBoard::SetUp();
    block = std::make_unique<VertexProcessingBlock>();
    memset(block.get(), 0, sizeof *block);
    for (auto& l : lights) memset(&l, 0, sizeof l);
    for (auto*& t : table) t = nullptr;
    block->lightTable = table;
    block->lightTableSize = 16;
    memcpy(block->layout, kLayout, sizeof kLayout);
    block->control = 5 | 3u << 4;  // a triangle list, filled
    block->viewportGroup.scale[0] = block->viewportGroup.scale[1] = Bits(1.0f);
    block->viewportGroup.size[0] = 640;
    block->viewportGroup.size[1] = 480;
    block->pointSize = Bits(1.0f);
    block->lineWidth = Bits(1.0f);
    Identity(block->view.m);
    Identity(block->projection.m);
    for (auto& w : block->world) Identity(w.m);
    setup = Make();
  }
  void TearDown() override {
    setup.reset();
    StartedBoard::TearDown();
  }

  // A set-up over the board's builder, attached to the record, in mode 1.
  std::unique_ptr<TnlSetup> Make() {
    auto s = std::unique_ptr<TnlSetup>(new TnlSetup);
    s->SetProgramBuilder(B());
    EXPECT_TRUE(s->AttachContext(&record));
    s->SetModeBits(1);
    return s;
  }
  VertexProgramBuilder* B() { return Common()->vertexProgramBuilder; }
  static void Identity(uint32_t* m) {
    for (int i = 0; i < 16; ++i) m[i] = Bits(i % 5 == 0 ? 1.0f : 0.0f);
  }

  // Everything dirty, the set-up forced: a full pass.
  bool Full() {
    block->transformDirty = block->matrixDirty = block->worldDirty = ~0u;
    block->texCoords.dirty = block->texCoords.dirty1 = ~0u;
    block->fog.dirty = block->third.dirty = block->viewportGroup.dirty = ~0u;
    setup->force = 1;
    return setup->Update(block.get(), &fetch, &hw);
  }

  // Light `index` of the table, of the type: diffuse, specular and ambient
  // of 0.75, constant attenuation 1, pointing along z.
  LightRecord* Light(uint32_t index, uint32_t type) {
    LightRecord& l = lights[index];
    l.type = type;
    for (int k = 0; k < 4; ++k) l.diffuse[k] = l.specular[k] = l.ambient[k] = Bits(0.75f);
    l.attenuation[0] = Bits(1.0f);
    l.direction[2] = Bits(1.0f);
    table[index] = &l;
    return &l;
  }

  std::unique_ptr<VertexProcessingBlock> block;
  TnlStateRecord record = {};
  VertexEngineBlock hw = {};
  VertexFetchControl fetch = {};
  LightRecord lights[16];
  LightRecord* table[16];
  std::unique_ptr<TnlSetup> setup;
};

}  // namespace tnltest
