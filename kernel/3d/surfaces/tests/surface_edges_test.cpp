// What a surface's creation request asks for, seen in what the surface
// then does: the second flags word's bits 3 to 6 become the surface's
// option bits 2, 1, 3 and 0, which decide whether a depth target takes a
// work buffer and whether a colour target waits for a flip in flight. And
// the per-unit lists of resource tables: the last unit slot has one, a
// unit number past the slots gets none and touches nothing beside them.
#include <gtest/gtest.h>

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/tests/render_context_fixture.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_binding.h"
#include "kernel/3d/targets/target_validation.h"

namespace {

constexpr uint32_t kClient = 79;
constexpr uint32_t kDepthFormat = 19;
constexpr uint32_t kColourFormat = 11;

class SurfaceEdges : public rtest::RenderContextBoard {
 protected:
  SurfaceEdges() : RenderContextBoard(kClient) {}

  void TearDown() override {
    SharedLocked()->pendingSubmissions = 0;
    RenderContextBoard::TearDown();
  }

  // A surface of the format made through the client's resource table with
  // the second flags; placed where render targets live.
  Surface3d* Make(uint32_t format, uint8_t flags2) { return Target(format, 256, 256, flags2); }
};

// The option bits in the surface's flag byte, by the request's second
// flags: bit 3 -> 2, bit 4 -> 1, bit 5 -> 3, bit 6 -> 0. Option bit 3 asks
// for a work buffer, which the board's switch grants with its low bits 3;
// option bit 2 lets a switch of 2 in bits 1-3 grant it as well. Option
// bit 1 makes a colour target wait while a flip is in flight; the request
// bit behind it also makes the surface the displayed one.
TEST_F(SurfaceEdges, SecondFlagsBitsThreeToSixBecomeTheSurfacesOptionBits) {
  struct Row {
    const char* name;
    uint8_t flags2;
    uint32_t switchBits;
    uint32_t options;  // the flag byte's low four bits
    bool workBuffer;
    bool waitsForFlips;
  };
  const Row rows[] = {
      {"none, switch 3", 0x00, 3, 0x0, false, false},
      {"bit 5, switch 3", 0x20, 3, 0x8, true, false},
      {"bit 5, switch 2 in bits 1-3", 0x20, 4, 0x8, false, false},
      {"bits 3 and 5, switch 2 in bits 1-3", 0x28, 4, 0xC, true, false},
      {"bit 3, switch 2 in bits 1-3", 0x08, 4, 0x4, false, false},
      {"bit 3, switch 3", 0x08, 3, 0x4, false, false},
      {"bit 4, switch 3", 0x10, 3, 0x2, false, true},
      {"bit 6, switch 3", 0x40, 3, 0x1, false, false},
      {"bits 4 and 6, switch 2 in bits 1-3", 0x50, 4, 0x3, false, true},
      {"bits 3 to 6, switch 2 in bits 1-3", 0x78, 4, 0xF, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BlitEngine3dSetDisplayedSurface(pdev, nullptr);
    RenderContext3d* c = Create();
    ASSERT_NE(c, nullptr);
    // The board's record lives while a render context does.
    TargetBoard3d* board3d = TargetBoard(Common());
    ASSERT_NE(board3d, nullptr);
    board3d->switches.memoryBits = row.switchBits;
    board3d->switches.sizeMiB = 8.0f;
    Surface3d* depth = Make(kDepthFormat, row.flags2);
    Surface3d* colour = Make(kColourFormat, row.flags2);
    ASSERT_NE(depth, nullptr);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(Surface3dFlagByte(depth) & 0xF, row.options);
    EXPECT_EQ(Surface3dFlagByte(colour) & 0xF, row.options);
    // Bit 4 also makes the first such surface the displayed one.
    EXPECT_EQ(BlitEngine3dDisplayedSurface(pdev), row.waitsForFlips ? depth : nullptr);

    // The depth target's draw: a work buffer of its own, or none.
    Bind(c, nullptr, depth);
    ASSERT_TRUE(c->state.Apply());
    EXPECT_EQ(c->targetState->kind, row.workBuffer ? kWorkBufferOwn : kWorkBufferNone);
    EXPECT_EQ(c->targetState->workBufferMode, row.workBuffer ? kWbInUse : kWbNotInUse);

    // The colour target with a flip in flight.
    Bind(c, colour, nullptr);
    SharedLocked()->pendingSubmissions = 1;
    EXPECT_EQ(IsTargetFlipDone(c), !row.waitsForFlips);
    SharedLocked()->pendingSubmissions = 0;
    EXPECT_TRUE(IsTargetFlipDone(c));
    DestroyRenderContext(c->handle);
    table->DestroyResource(kSurfaceType, colour->resourceHandle);
    table->DestroyResource(kSurfaceType, depth->resourceHandle);
  }
}

// ---- The unit lists of resource tables --------------------------------------------------------------

// Unit 3 is the last of the four slots and gets its list; a device object
// naming unit 4 gets none: its component entry fails, and neither a slot
// nor what lies after them in the board's data changes.
TEST_F(SurfaceEdges, TheLastUnitSlotHasAListAndTheUnitPastTheSlotsNone) {
  CommonData* common = Common();
  ASSERT_EQ(common->resourceTables[3], nullptr);
  PDEV* last = Enable(other(), 3);
  ASSERT_NE(last, nullptr);
  EXPECT_NE(common->resourceTables[3], nullptr);
  ResourceTable* t = CreateResourceTable(last, 91);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(FindResourceTable(last, 91), t);
  EXPECT_EQ(DestroyResourceTable(last, 91), 1);

  // The board data as it is; then this device object names unit 4.
  const size_t size = sizeof(CommonData);
  std::vector<uint8_t> before(size);
  memcpy(before.data(), common, size);
  const uint32_t unit = pdev->unit;
  pdev->unit = 4;
  const Held held = Holding();
  EXPECT_FALSE(InitResourceTableList(pdev));
  EXPECT_EQ(CreateResourceTable(pdev, 92), nullptr);
  EXPECT_EQ(FindResourceTable(pdev, 92), nullptr);
  EXPECT_EQ(DestroyResourceTable(pdev, 92), 0);
  CleanupResourceTableList(pdev);
  EXPECT_EQ(Holding(), held);
  pdev->unit = unit;
  EXPECT_EQ(memcmp(common, before.data(), size), 0) << "the board data changed";
  DestroyPdev(kdev, last);
}

}  // namespace
