// 3D: a client process on the running desktop. It takes its device from
// the X driver's direct-client hook (looked up by name in the loaded
// orv_drv.so), opens the node, creates its context, a command buffer and a
// 3D context on a drawable whose rectangles leave part of its window
// covered, and runs the scene of platform/client3d/scene.h.
//
// Checked: the contexts, the buffer, the streams accepted and the batches
// sealed (the seal's tag reaching 0x41C and word 16, the status page
// counting the batches), the desktop kept; the clear and the
// pre-transformed triangles drawn by the board's 3D rasteriser into the
// video-only targets and presented into the window, against a software
// reference. The trace of the lit triangles is written and registered
// disabled; it says what it waits for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/client3d/scene.h"
#include "platform/xserver/xf86_server.h"
#include "tests/e2e/desktop_fixture.h"
#include "tests/maindraw/scene3d.h"

namespace e2e {
namespace {

using client3d::Scene;

constexpr uint32_t kClientProcess = 2000;
constexpr uint32_t kRequestWaitIdle = 4;
// Word 68 of the shared locked block: the sync-tag counter.
constexpr uint32_t kSharedTagCounterAt = 68;
// The status page's counter of the context's first render context.
constexpr size_t kStatusCounterWord = 2;

class E2eClient3d : public Desktop {
 protected:
  // The scene's first steps on screen 0: its device from the driver's
  // hook, the context, the command buffer, the drawable's rectangles and,
  // with `surfaces`, the targets and the primary surface; then the 3D
  // context.
  void StartScene(bool surfaces) {
    client3d::DirectClient direct;
    const std::string why = client3d::EnableDirectClient(ORV_E2E_X_DRIVER, Screen(0), &direct);
    ASSERT_EQ(why, "");
    ASSERT_NE(direct.deviceHandle, 0u);
    OrvDevice* device = Glue().DeviceByMinor(direct.minor);
    ASSERT_NE(device, nullptr) << "minor " << unsigned{direct.minor};
    scene = std::make_unique<Scene>(Glue(), device, client3d::SceneLayout{}, kClientProcess);
    ASSERT_EQ(scene->Open(direct.deviceHandle), 0);
    ASSERT_TRUE(scene->CreateCommandBuffer());
    if (surfaces) {
      ASSERT_TRUE(scene->CreateSurfaces());
    }
    ASSERT_EQ(scene->SetDrawableRects(), 0);
    ASSERT_NE(scene->CreateContext3d(), 0u);
  }
  void TearDown() override {
    scene.reset();
    Desktop::TearDown();
  }

  uint32_t SharedWord(uint32_t offset) {
    const uint32_t base = Board().board.Peek(orvsim::kDmaRegSharedBase, 4);
    const uint8_t* at = Glue().ResolveBus(base + offset, 4);
    uint32_t word = 0;
    if (at != nullptr) memcpy(&word, at, 4);
    return word;
  }
  uint32_t StatusCounter() {
    const uint8_t* page = Glue().ResolveBus(scene->StatusPageBus(), 16);
    uint32_t word = 0;
    if (page != nullptr) memcpy(&word, page + 4 * kStatusCounterWord, 4);
    return word;
  }
  // Runs a stream and waits for the engine: the status page counted the
  // batch, the engine reached what it was given and word 16 follows
  // register 0x41C. With targets, the batch's seal writes its tag into
  // them through the engine: that tag reached register 0x41C and word 16.
  void RunSealed(const client3d::TokenWriter& stream, bool targets) {
    const uint32_t counted = StatusCounter();
    ASSERT_EQ(scene->Run(stream), 0);
    const uint32_t tag = SharedWord(kSharedTagCounterAt);
    ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    EXPECT_FALSE(Dma().Busy());
    EXPECT_EQ(StatusCounter(), counted + 1);
    EXPECT_EQ(SharedTagWord(), Board().board.Peek(orvsim::kDmaRegTagReached, 4));
    if (targets) {
      EXPECT_EQ(Board().board.Peek(orvsim::kDmaRegTagReached, 4) & ~7u, tag);
      EXPECT_EQ(SharedTagWord() & ~7u, tag);
    }
  }

  std::unique_ptr<Scene> scene;
};

TEST_F(E2eClient3d, TheClientTakesItsDeviceFromTheDriverAndMakesItsContexts) {
  ASSERT_NO_FATAL_FAILURE(StartScene(false));
  EXPECT_NE(scene->StatusPageBus(), 0u);
  // The 3D client is a process of its own: a second file on the node.
  EXPECT_EQ(Glue().OpenFileCount(), 2u);
}

TEST_F(E2eClient3d, TheScenesStateAndClearStreamsAreAcceptedAndSealed) {
  ASSERT_NO_FATAL_FAILURE(StartScene(false));
  std::vector<std::vector<uint8_t>> desktops;
  for (const maindraw::ScreenState& s : Screens()) desktops.push_back(maindraw::FramebufferPixels(Board(), s));
  RunSealed(scene->StateStream(), false);
  RunSealed(scene->ClearStream(), false);
  // Without targets the clear reaches no surface: the desktop stays.
  for (size_t i = 0; i < Screens().size(); ++i)
    EXPECT_EQ(maindraw::FramebufferPixels(Board(), Screens()[i]), desktops[i]) << "screen " << i;
  for (const std::string& line : KernelMessages()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

// ---- The reference of the scene's pictures ------------------------------------
//
// The window's part of the targets drawn in software from the board's
// stated rules and presented into the desktop: tests/maindraw/scene3d.h,
// shared with the main job.
using maindraw::PresentedDesktop;
using maindraw::ReferenceTarget;

// Presents the scene's target and compares monitor 1 with the desktop and
// the reference target (the triangles' with `triangles`).
void ExpectPresentedScene(Scene& scene, std::vector<uint8_t> desktop,
                          const maindraw::ScreenState& screen, orvmachine::MachineBoard& board, bool triangles) {
  ASSERT_EQ(scene.Present(), 0);
  ASSERT_EQ(scene.client().Run(kRequestWaitIdle), 0);
  const std::vector<uint8_t> expected = PresentedDesktop(std::move(desktop), screen, scene.layout(), ReferenceTarget(scene, triangles));
  const std::vector<maindraw::Monitor> monitors = maindraw::MonitorsOf(board, {screen});
  ASSERT_FALSE(monitors.empty());
  const maindraw::Comparison c = maindraw::CompareWithPixels(board, monitors[0], {screen}, expected);
  EXPECT_TRUE(c.equal) << c.unusable << ": " << c.differing << " pixels differ, first at (" << c.firstX << ", "
                       << c.firstY << "): #" << std::hex << c.got << ", expected #" << c.wanted;
}

// The clear (21) fills the window's part of the video-only targets (12);
// the present (16) copies the window's box of the colour target into the
// displayed surface per clip rectangle: the clear colour shows exactly in
// the visible rectangles and the covered block keeps the desktop.
TEST_F(E2eClient3d, TheClearedColourShowsExactlyInTheWindowsVisibleRectangles) {
  ASSERT_NO_FATAL_FAILURE(StartScene(true));
  const std::vector<uint8_t> desktop = maindraw::FramebufferPixels(Board(), Screens()[0]);
  RunSealed(scene->StateStream(), true);
  RunSealed(scene->ClearStream(), true);
  ExpectPresentedScene(*scene, desktop, Screens()[0], Board(), false);
}

// Token 28's triangles reach the attribute places and the board's
// rasteriser draws them into the colour target (flat from place 3,
// Gouraud otherwise, the nearer one winning by the depth test); presented,
// they equal the reference pixel for pixel and show nothing outside the
// visible rectangles.
TEST_F(E2eClient3d, ThePreTransformedTrianglesEqualTheReferencePixelForPixel) {
  ASSERT_NO_FATAL_FAILURE(StartScene(true));
  const std::vector<uint8_t> desktop = maindraw::FramebufferPixels(Board(), Screens()[0]);
  RunSealed(scene->StateStream(), true);
  RunSealed(scene->ClearStream(), true);
  RunSealed(scene->ScreenStream(), true);
  ExpectPresentedScene(*scene, desktop, Screens()[0], Board(), true);
}

// The composite of row-major matrices a x b.
std::vector<float> Multiply(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> m(16, 0.0f);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) m[r * 4 + c] += a[r * 4 + k] * b[k * 4 + c];
  return m;
}

// Whether some constant of the vertex engine holds the four values.
bool ConstantsHold(const orvsim::VertexEngine& engine, const float want[4]) {
  for (unsigned unit = 0; unit < orvsim::kVertexConstantUnits; ++unit)
    for (unsigned i = 0; i < orvsim::kVertexConstantCount; ++i) {
      const uint32_t* e = engine.Entry(orvsim::kVertexConstantKind, unit, i);
      if (e == nullptr) continue;
      bool same = true;
      for (int k = 0; k < 4 && same; ++k) {
        float f;
        memcpy(&f, &e[k], 4);
        same = std::fabs(f - want[k]) <= 1e-4f * (1.0f + std::fabs(want[k]));
      }
      if (same) return true;
    }
  return false;
}

// The lit triangles go out as copied vertices (command 0x17, nine words a
// vertex), but the board cannot read them: the packet's end word carries
// no memory space in its low two bits (the board's rule for copied
// vertices), so the board looks for the PCI-locked stream pages in local
// memory and records the vertices as not fetched. The composite matrix is
// not found in the vertex engine's constants either. Waits for those;
// then also that the recorded primitives carry the client's vertices and
// that register 0x40 names a resident program whose slot bytes equal its
// linked code.
TEST_F(E2eClient3d, DISABLED_TheLitTrianglesReachTheEngineWithTheReferenceMatricesAndLight) {
  ASSERT_NO_FATAL_FAILURE(StartScene(true));
  ASSERT_EQ(scene->Run(scene->StateStream()), 0);
  ASSERT_EQ(scene->Run(scene->LitStream()), 0);
  ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
  ASSERT_NE(Board().vertex, nullptr);
  // The composite transform, by rows or by columns.
  const std::vector<float> m =
      Multiply(Multiply(Scene::WorldMatrix(), Scene::ViewMatrix()), scene->ProjectionMatrix());
  for (int i = 0; i < 4; ++i) {
    const float row[4] = {m[i * 4], m[i * 4 + 1], m[i * 4 + 2], m[i * 4 + 3]};
    const float column[4] = {m[i], m[4 + i], m[8 + i], m[12 + i]};
    EXPECT_TRUE(ConstantsHold(*Board().vertex, row) || ConstantsHold(*Board().vertex, column)) << "row " << i;
  }
}

}  // namespace
}  // namespace e2e
