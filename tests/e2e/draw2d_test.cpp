// 2D: the main job's fixed scene, drawn on both screens through the
// driver's hooks, goes to the kernel as posts (request 27) that the board's
// engine decodes without error; the driver's sync waits end on the tag the
// engine writes into word 16 of the shared locked block; both pictures
// equal the scene drawn in software.
#include <gtest/gtest.h>

#include "platform/board/chip_dma.h"
#include "tests/e2e/desktop_fixture.h"

namespace e2e {
namespace {

using E2eDraw2d = Desktop;

TEST_F(E2eDraw2d, TheSceneGoesOutAsPostsTheEngineDecodes) {
  const size_t postsBefore = Node().Count(27);
  const uint64_t rangesBefore = Dma().RangesRun();
  DrawOnEveryScreen(maindraw::DrawScene);
  EXPECT_GT(Node().Count(27), postsBefore);
  EXPECT_GT(Dma().RangesRun(), rangesBefore);
  for (const NodeRequest& r : Node().Requests())
    if (r.number == 27) {
      EXPECT_EQ(r.answer, 0);
    }
  EXPECT_EQ(EngineErrors(), std::vector<std::string>{});
}

TEST_F(E2eDraw2d, SyncWaitsEndOnTheTagTheEngineWritesIntoWord16) {
  DrawOnEveryScreen(maindraw::DrawScene);
  uint32_t lastTag = 0;
  for (const auto& e : Dma().Trace())
    if (e.kind == orvsim::DmaEngine::TraceKind::kTag) lastTag = e.a;
  ASSERT_NE(lastTag, 0u);
  // The scene ends in a sync: the engine has reached the last tag it was
  // given, and word 16 holds it.
  EXPECT_EQ(SharedTagWord(), lastTag);
  EXPECT_EQ(Board().board.Peek(orvsim::kDmaRegTagReached, 4), lastTag);
  EXPECT_FALSE(Dma().Busy());
  // No wait ran out on either side.
  for (const std::string& line : KernelMessages()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
  for (const std::string& line : DriverMessages()) EXPECT_NE(line.rfind("(EE)", 0), 0u) << line;
}

TEST_F(E2eDraw2d, BothPicturesEqualTheSceneDrawnInSoftware) {
  DrawOnEveryScreen(maindraw::DrawScene);
  ExpectFinishedPicturesEqual(2);
}

}  // namespace
}  // namespace e2e
