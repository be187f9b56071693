// A started surface board with one client's resource table, on which a
// test makes render contexts, gives them render targets made through the
// table, sets their render states and draws: the draw's state applied, the
// context's engine state made current, and what reached the streams run by
// the engine. The render-context table is emptied and the resource table
// destroyed after every test.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include <initializer_list>
#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"

namespace rtest {

class RenderContextBoard : public stest::SurfaceBoard {
 protected:
  // The resource table's type of surfaces.
  static constexpr uint32_t kSurfaceType = 1;

  // The contexts and surfaces belong to the client `client`.
  explicit RenderContextBoard(uint32_t client) : client_(client) {}

  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, client_);
    ASSERT_NE(table, nullptr);
  }
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, client_);
    SurfaceBoard::TearDown();
  }

  // A render context of the client; a refused creation hands out no handle.
  RenderContext3d* Create() {
    RenderContextRequest3d request{nullptr, pdev, client_, 0, {nullptr, nullptr}, 0};
    if (!CreateRenderContext(&request)) {
      EXPECT_EQ(request.handle, 0u);
      return nullptr;
    }
    return RenderContextTableGet(request.handle);
  }

  // A render target of the format made through the client's table with the
  // second flags, of the memory kind targets live in.
  Surface3d* Target(uint32_t code, uint32_t width = 64, uint32_t height = 32, uint8_t flags2 = 0) {
    SurfaceCreateRequest r = Request(code, width, height);
    r.flags2 = flags2;
    Surface3d* s = table->CreateSurface(kSurfaceType, &r);
    EXPECT_NE(s, nullptr) << code;
    if (s != nullptr) s->SetPlacement(4);
    return s;
  }

  // The colour and depth targets bound to the context (either may be none).
  static void Bind(RenderContext3d* c, Surface3d* colour, Surface3d* depth) {
    BoundSurfaceRecord r{};
    r.colour.flags = 0x1;
    r.colour.surface = colour;
    r.depth.flags = 0x4;
    r.depth.surface = depth;
    c->SetTargets(r);
  }

  // Render states as (id, value) pairs.
  static void Set(RenderContext3d* c, std::initializer_list<uint32_t> pairs) {
    std::vector<uint32_t> v(pairs);
    c->state.SetRenderStates(v.data(), static_cast<uint32_t>(v.size() / 2));
  }

  // A draw's state applied and the context's engine state made current;
  // the engine runs what reached the streams. False when the render state
  // was refused.
  bool Draw(RenderContext3d* c) {
    const bool applied = c->state.Apply();
    c->PrepareTargets();
    Secondary()->ExecutePending();
    dma.RunPending();
    return applied;
  }

  // A register of the 3D engine, by its index.
  uint32_t Reg(uint8_t index) const { return board.Peek(0x1000 + 4u * index, 4); }

  ResourceTable* table = nullptr;

 private:
  const uint32_t client_;
};

}  // namespace rtest
