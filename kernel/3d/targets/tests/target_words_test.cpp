// The words the target steps of a draw write, as the board receives them:
// of the plane mask and the colour write mask set before one draw, the
// later one decides the write-mask register; a state changed and changed
// back before a draw computes the words the engine already holds, and
// none of their groups is sent again.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_context_fixture.h"
#include "kernel/3d/targets/render_target_state.h"

namespace {

constexpr uint32_t kClient = 78;
// Render-state ids.
constexpr uint32_t kPlaneMask = 13;
constexpr uint32_t kColourWriteMask = 168;
// The write-mask register of the engine.
constexpr uint8_t kWriteMaskIndex = 0xBC;

class TargetWords : public rtest::RenderContextBoard {
 protected:
  TargetWords() : RenderContextBoard(kClient) {}

  // The packet writes of the draw before are forgotten first.
  bool Draw(RenderContext3d* c) {
    dma.ClearWrites();
    return RenderContextBoard::Draw(c);
  }
  size_t WritesTo(uint8_t index) const { return PacketWrites(0x1000 + 4u * index).size(); }
};

// Both masks set before one draw, in either order: the later one gives the
// register, on a 32-bit target (red, green, blue, alpha one byte each) and
// on a 16-bit one (5, 6, 5 bits, the mask repeated in both halves).
TEST_F(TargetWords, OfPlaneMaskAndColourWriteMaskTheLaterDecidesTheWriteMask) {
  struct Row {
    const char* name;
    uint32_t format;
    std::vector<uint32_t> pairs;
    uint32_t mask;
  };
  const Row rows[] = {
      {"colour write mask, then plane mask", 11, {kColourWriteMask, 0x1, kPlaneMask, 0x0000FF00}, 0x0000FF00},
      {"plane mask, then colour write mask", 11, {kPlaneMask, 0x0000FF00, kColourWriteMask, 0x1}, 0x00FF0000},
      {"16 bits: colour write mask, then plane mask", 10, {kColourWriteMask, 0x4, kPlaneMask, 0x07E0}, 0x07E007E0},
      {"16 bits: plane mask, then colour write mask", 10, {kPlaneMask, 0x07E0, kColourWriteMask, 0x4}, 0x001F001F},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RenderContext3d* c = Create();
    ASSERT_NE(c, nullptr);
    Surface3d* colour = Target(row.format);
    ASSERT_NE(colour, nullptr);
    Bind(c, colour, nullptr);
    // A first draw with the masks that differ from both of the row's.
    Set(c, {kColourWriteMask, 0xF, kPlaneMask, 0xFFFFFFFF});
    ASSERT_TRUE(Draw(c));
    ASSERT_EQ(Reg(kWriteMaskIndex), 0xFFFFFFFFu);
    c->state.SetRenderStates(row.pairs.data(), static_cast<uint32_t>(row.pairs.size() / 2));
    ASSERT_TRUE(Draw(c));
    EXPECT_EQ(Reg(kWriteMaskIndex), row.mask);
    DestroyRenderContext(c->handle);
  }
}

// A state set to another value and back before the draw: the target steps
// run again and compute the words the engine holds; their groups are not
// sent again. Only the target control group goes with every validation.
TEST_F(TargetWords, AWordEqualToTheOneHeldIsNotSentAgain) {
  // The registers of each group: raster words, depth test, stencil.
  const std::vector<uint8_t> raster = {0xB9, 0xBA, 0xBB, 0xBC};
  const std::vector<uint8_t> depth = {0xB2, 0xB3, 0xB4};
  const std::vector<uint8_t> stencil = {0xB0, 0xB1};
  struct Row {
    const char* name;
    uint32_t id, other;
    std::vector<uint8_t> group;
  };
  const Row rows[] = {
      {"nothing changed", 0, 0, raster},
      {"colour write mask", kColourWriteMask, 0x3, raster},
      {"raster operation", 12, 6, raster},
      {"source blend factor", 19, 7, raster},
      {"blend enable", 27, 1, raster},
      {"alpha test enable", 15, 1, raster},
      {"alpha reference", 24, 0x40, raster},
      {"dither", 26, 0, raster},
      {"depth enable", 7, 1, depth},
      {"depth function", 23, 2, depth},
      {"stencil enable", 52, 1, stencil},
      {"stencil reference", 57, 9, stencil},
  };
  RenderContext3d* c = Create();
  ASSERT_NE(c, nullptr);
  Surface3d* colour = Target(11);
  Surface3d* depthTarget = Target(19);
  ASSERT_NE(colour, nullptr);
  ASSERT_NE(depthTarget, nullptr);
  Bind(c, colour, depthTarget);
  ASSERT_TRUE(Draw(c));
  ASSERT_GT(WritesTo(0xBC), 0u) << "the first draw sends every group";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.id != 0) {
      const uint32_t held = c->state.GetStateValues()[row.id];
      ASSERT_NE(held, row.other);
      Set(c, {row.id, row.other, row.id, held});
    }
    ASSERT_TRUE(Draw(c));
    for (uint8_t index : row.group) EXPECT_EQ(WritesTo(index), 0u) << std::hex << "register 0x" << int{index};
  }
  // A change that does give another word still goes out.
  Set(c, {kColourWriteMask, 0x3});
  ASSERT_TRUE(Draw(c));
  EXPECT_EQ(WritesTo(kWriteMaskIndex), 1u);
  EXPECT_EQ(Reg(kWriteMaskIndex), 0x00FFFF00u);
}

}  // namespace
