// A render context over a started board with the board's attribute path
// watching what its stream writes, and the means to build client vertex
// elements and vertices.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"
#include "platform/board/chip_attributes.h"

namespace dtest {

inline uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}
inline float Float(uint32_t b) {
  float f;
  memcpy(&f, &b, 4);
  return f;
}

// A client element: offset in words, stream, format code, usage, the raw
// component mask (format 0; its bit 1 is also the four-component bit of
// the 16-bit formats) and the default bits (bit i: component i is 1.0).
struct Element {
  uint8_t b[4];
  Element(uint32_t offset, uint32_t stream, uint32_t format, uint32_t usage, uint32_t mask = 0,
          uint32_t defaults = 0) {
    b[0] = static_cast<uint8_t>(offset);
    b[1] = static_cast<uint8_t>((stream & 7) | (format & 0xF) << 3 | (usage & 1) << 7);
    b[2] = static_cast<uint8_t>(((usage >> 1) & 7) | (mask & 0xF) << 3 | (defaults & 1) << 7);
    b[3] = static_cast<uint8_t>((defaults >> 1) & 7);
  }
};

// Usages.
inline constexpr uint32_t kUsePosition = 0;
inline constexpr uint32_t kUseSize = 4;
inline constexpr uint32_t kUseDiffuse = 5;
inline constexpr uint32_t kUseSpecular = 6;
inline constexpr uint32_t kUseTexture0 = 7;

class DrawBoard : public stest::SurfaceBoard {
 protected:
  static constexpr uint32_t kClient = 4321;

  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, kClient);
    ASSERT_NE(table, nullptr);
    RenderContextRequest3d request{nullptr, pdev, kClient, 0, {nullptr, nullptr}, 0};
    ASSERT_TRUE(CreateRenderContext(&request));
    context = RenderContextTableGet(request.handle);
    ASSERT_NE(context, nullptr);
    setup = &context->streamSetup;
    fetch = &setup->fetch;
    dma.RunPending();
    dma.ClearWrites();
    path.ClearDraws();
  }
  void TearDown() override {
    EmptyRenderContextTable();
    DestroyResourceTable(pdev, kClient);
    SurfaceBoard::TearDown();
  }

  void Rs(uint32_t id, uint32_t value) { context->state.values[id] = value; }
  void RsFloat(uint32_t id, float value) { context->state.values[id] = Bits(value); }

  // Elements into the vertex fetch, laid out.
  uint32_t Layout(std::vector<Element> elements, bool points = false) {
    fetch->SetElements(elements.empty() ? nullptr : elements[0].b, static_cast<uint32_t>(elements.size()));
    return fetch->EmitLayout(context->secondaryStream, points);
  }

  // Vertex memory of the test, the only window fetches may read.
  const uint8_t* Vertices(const std::vector<float>& words, size_t stride = 16) {
    memory.assign(words.begin(), words.end());
    const uint8_t* base = reinterpret_cast<const uint8_t*>(memory.data());
    fetch->SetSourceWindow(base, base + memory.size() * 4);
    vertexStride = stride;
    return base;
  }
  const uint8_t* V(uint32_t i) const { return reinterpret_cast<const uint8_t*>(memory.data()) + i * vertexStride; }

  // What reached the board.
  const std::vector<orvsim::AttributePath::Draw>& Draws() {
    dma.RunPending();
    return path.Draws();
  }
  size_t WritesOf(uint32_t index) {
    dma.RunPending();
    size_t n = 0;
    for (const auto& w : dma.Writes()) n += w.reg == 0x1000 + 4 * index ? 1 : 0;
    return n;
  }
  std::vector<float> SlotAt(const orvsim::AttributePath::Draw& d, unsigned place, unsigned slot) {
    std::vector<float> out;
    for (unsigned c = 0; c < 4; ++c) out.push_back(Float(d.slots[place][slot][c]));
    return out;
  }

  ResourceTable* table = nullptr;
  RenderContext3d* context = nullptr;
  VertexStreamSetup* setup = nullptr;
  VertexFetch* fetch = nullptr;
  orvsim::AttributePath path{dma};
  std::vector<float> memory;
  size_t vertexStride = 16;
};

}  // namespace dtest
