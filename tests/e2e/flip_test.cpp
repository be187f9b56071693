// Flips of a 3D client on the running desktop: request 28 on the client's
// colour target. The flip's display event waits for its tag; the tag's
// interrupt hands the slot to the vertical-blank flip of the first
// controller, which selects it with sync, and the display controller takes
// the new start address when its raster begins a blank. The next flip's
// wait for the one in flight ends instead of running out, and once the
// client is gone the display shows the desktop again.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/board/chip_controllers.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_interrupts.h"
#include "platform/client3d/scene.h"
#include "tests/e2e/desktop_fixture.h"

namespace e2e {
namespace {

using client3d::Scene;

constexpr uint32_t kClientProcess = 2000;
constexpr uint32_t kRequestFlip = 28;
// A flip value above 1 asks for the flip at the vertical blank after the
// engine passed the frame.
constexpr uint32_t kFlipAtVerticalBlank = 2;
// Screen 0's unit flips display 1, which controller 0 shows.
constexpr unsigned kDisplay1 = 0;
constexpr unsigned kController0 = 0;
// Time steps of a few lines: a blank of the desktop's mode lasts dozens.
constexpr uint64_t kStepNs = 50000;
constexpr uint64_t kStepsBound = 4000;  // 200 ms, a dozen frames

class E2eFlip : public Desktop {
 protected:
  void TearDown() override {
    scene.reset();
    Desktop::TearDown();
  }
  void StartScene() {
    client3d::DirectClient direct;
    ASSERT_EQ(client3d::EnableDirectClient(ORV_E2E_X_DRIVER, Screen(0), &direct), "");
    OrvDevice* device = Glue().DeviceByMinor(direct.minor);
    ASSERT_NE(device, nullptr);
    scene = std::make_unique<Scene>(Glue(), device, client3d::SceneLayout{}, kClientProcess);
    ASSERT_EQ(scene->Open(direct.deviceHandle), 0);
    ASSERT_TRUE(scene->CreateCommandBuffer());
    ASSERT_TRUE(scene->CreateSurfaces());
  }
  int32_t Flip(uint64_t surface, uint32_t value) {
    scene->client().Put64(16, surface);
    scene->client().Put32(24, value);
    return scene->client().Run(kRequestFlip);
  }
  uint32_t Shown() { return orvsim::ReadControllerSurface(Board().board, kController0).address; }
  // Runs virtual time in small steps, serving interrupts after each, until
  // the controller shows another address than `from`. Whether a blank of
  // controller 0's raster began in the step that changed it; false when
  // nothing changed within the bound.
  bool ChangedAtABlank(uint32_t from) {
    orvsim::ChipRaster& raster = Board().display->Raster();
    for (uint64_t step = 0; step < kStepsBound; ++step) {
      const uint64_t blanks = raster.VBlanks(0);
      Board().board.GetClock().Advance(kStepNs);
      Glue().DeliverInterrupts();
      if (Shown() != from) return raster.VBlanks(0) > blanks;
    }
    ADD_FAILURE() << "the address shown stayed " << from;
    return false;
  }
  std::vector<std::string> KernelErrors() const {
    std::vector<std::string> errors;
    for (const std::string& line : KernelMessages())
      if (line.find("*ERROR*") != std::string::npos) errors.push_back(line);
    return errors;
  }

  std::unique_ptr<Scene> scene;
};

TEST_F(E2eFlip, AClientsFlipIsShownFromTheNextBlankAndTheNextFlipDoesNotWaitItOut) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  orvsim::FlipLatch& latch = *Board().flips;
  const uint32_t desktop = Shown();
  EXPECT_EQ(latch.Current(kDisplay1), 0u);

  ASSERT_EQ(Flip(scene->ColourTarget(), kFlipAtVerticalBlank), 0);
  // Not shown before a blank: the slot is written, the display still
  // shows the desktop.
  EXPECT_EQ(Shown(), desktop);
  EXPECT_TRUE(ChangedAtABlank(desktop));
  const uint32_t target = Shown();
  EXPECT_NE(target, desktop);
  EXPECT_EQ(target, latch.DisplayedStart(kDisplay1));
  EXPECT_NE(latch.Current(kDisplay1), 0u);
  EXPECT_EQ(latch.Waiting(kDisplay1), -1);

  // Two flips in a row, the colour target again and then the depth
  // target: the second one's wait for the first ends, it is taken, and
  // shown from a blank.
  ASSERT_EQ(Flip(scene->ColourTarget(), kFlipAtVerticalBlank), 0);
  ASSERT_EQ(Flip(scene->DepthTarget(), kFlipAtVerticalBlank), 0);
  const uint32_t before = Shown();
  EXPECT_TRUE(ChangedAtABlank(before));
  EXPECT_NE(Shown(), target);
  EXPECT_EQ(KernelErrors(), std::vector<std::string>{});

  // The client goes: the display is back on the desktop.
  scene.reset();
  EXPECT_EQ(Shown(), desktop);
  EXPECT_EQ(latch.Current(kDisplay1), 0u);
  DrawOnEveryScreen(maindraw::DrawScene);
  const std::vector<Picture>& pictures = Finish();
  EXPECT_EQ(Left(), "");
  ASSERT_EQ(pictures.size(), 2u);
  for (const Picture& p : pictures) {
    const maindraw::Comparison& c = p.comparison;
    EXPECT_TRUE(c.equal) << p.monitor.output << " " << c.unusable << ": " << c.differing << " pixels differ";
  }
  EXPECT_EQ(KernelErrors(), std::vector<std::string>{});
}

}  // namespace
}  // namespace e2e
