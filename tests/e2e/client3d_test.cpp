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
// reference; the lit triangles in the engine trace (the copied vertices,
// the constants and the program register). The test of the light block is
// written and registered disabled; it says what it waits for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/board/chip_3d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/client3d/scene.h"
#include "platform/xserver/xf86_server.h"
#include "kernel/3d/tnl/fixed_programs.h"
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
// The vertex engine's program start register (register index 0x40).
constexpr uint32_t kRegProgramStart = 0x40;

class E2eClient3d : public Desktop {
 protected:
  // The scene's first steps on screen 0: its device from the driver's
  // hook, the context, the command buffer, the drawable's rectangles and,
  // with `surfaces`, the targets and the primary surface; then the 3D
  // context.
  void StartScene(bool surfaces) { StartClientScene(kClientProcess, surfaces, &scene); }
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

// The product a x b of row-major matrices, and the transpose.
std::vector<float> Multiply(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> m(16, 0.0f);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) m[r * 4 + c] += a[r * 4 + k] * b[k * 4 + c];
  return m;
}
std::vector<float> Transposed(const std::vector<float>& a) {
  std::vector<float> t(16);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t[c * 4 + r] = a[r * 4 + c];
  return t;
}

// Whether constant `index` of every unit of the vertex engine holds the
// four values.
::testing::AssertionResult ConstantHolds(const orvsim::VertexEngine& engine, unsigned index, const float want[4]) {
  for (unsigned unit = 0; unit < orvsim::kVertexConstantUnits; ++unit) {
    const uint32_t* e = engine.Entry(orvsim::kVertexConstantKind, unit, index);
    for (int k = 0; k < 4; ++k) {
      float f;
      memcpy(&f, &e[k], 4);
      if (!(std::fabs(f - want[k]) <= 1e-5f * (1.0f + std::fabs(want[k]))))
        return ::testing::AssertionFailure() << "constant " << index << " of unit " << unit << " value " << k
                                             << " is " << f << ", expected " << want[k];
    }
  }
  return ::testing::AssertionSuccess();
}

// The lit triangles go out as vertices copied into the 3D stream (nine
// words a vertex: a layout the vertex engine transforms); the board
// records them, and the engine state before them uploads the constants
// and the programs.
//
// The reference composite: the kernel stores each matrix of the transform
// token transposed, and the set-up multiplies the stored matrices as world
// x view x projection; the product's storage is column-major and goes
// into constants 0-3 as it lies, one column to a constant. So constant i
// holds column i of W' x V' x P' (X' the transpose of the client's
// row-major X), that is row i of P x V x W. The projection alone goes to
// 329-332 the same way (row i of P).
TEST_F(E2eClient3d, TheLitTrianglesReachTheEngineWithTheReferenceMatricesAndProgram) {
  ASSERT_NO_FATAL_FAILURE(StartScene(true));
  RunSealed(scene->StateStream(), true);
  // The copied vertices also count their draw on the status page: the
  // stream is run and waited for without the batch count.
  ASSERT_EQ(scene->Run(scene->LitStream()), 0);
  ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
  EXPECT_FALSE(Dma().Busy());
  ASSERT_NE(Board().vertex, nullptr);
  ASSERT_NE(Board().engine3d, nullptr);

  const std::vector<float> composite = Transposed(Multiply(
      Multiply(Transposed(Scene::WorldMatrix()), Transposed(Scene::ViewMatrix())), Transposed(scene->ProjectionMatrix())));
  const std::vector<float> projection = scene->ProjectionMatrix();
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_TRUE(ConstantHolds(*Board().vertex, i, &composite[4 * i]));
    EXPECT_TRUE(ConstantHolds(*Board().vertex, 329 + i, &projection[4 * i]));
  }

  // The recorded primitives: one copied-vertex command whose triangles
  // carry the client's vertices word for word, in the client's order.
  const std::vector<client3d::LitVertex> lit = Scene::LitTriangles();
  std::vector<const orvsim::Engine3d::Primitive*> triangles;
  for (const orvsim::Engine3d::Primitive& p : Board().engine3d->Primitives())
    if (p.assembled) triangles.push_back(&p);
  ASSERT_EQ(triangles.size(), lit.size() / 3);
  for (size_t t = 0; t < triangles.size(); ++t) {
    const orvsim::Engine3d::Primitive& p = *triangles[t];
    EXPECT_EQ(p.kind, orvsim::Engine3d::Kind::kTriangle);
    EXPECT_EQ(p.command >> 26 & 7, 5u) << "copied vertices";
    ASSERT_EQ(p.vertexWords, sizeof(client3d::LitVertex) / 4);
    for (unsigned k = 0; k < 3; ++k) {
      EXPECT_TRUE(p.fetched[k]) << "triangle " << t << " vertex " << k;
      EXPECT_EQ(memcmp(p.words[k], &lit[3 * t + k], sizeof(client3d::LitVertex)), 0)
          << "triangle " << t << " vertex " << k;
    }
  }

  // Register 0x40, as the stream left it, names the first instruction of a
  // program in the page-locked program memory: the last upload's fixed
  // program 1, whose slots hold its code byte for byte.
  const uint32_t named = Board().board.Peek(orvsim::kDmaRegWindow + 4 * kRegProgramStart, 4);
  const FixedProgramCode one = FixedProgramCodeOf(1);
  ASSERT_NE(one.code, nullptr);
  EXPECT_EQ(named & 3u, orvsim::kBusPciLocked) << std::hex << named;
  const uint8_t* slots = Dma().SystemMemoryAt((named & ~3u) * 3, one.size);
  ASSERT_NE(slots, nullptr) << std::hex << named;
  EXPECT_EQ(memcmp(slots, one.code, one.size), 0);
}

// The scene's light in the vertex engine's first light block (224-230: its
// one directional light, with no spot or point light before it): words
// 8-11 its diffuse colour, 12-14 its specular colour and 15 the material's
// power (0), 16-18 its ambient colour; the light's own colours, since the
// lit stream takes the material's colours from the vertices.
//
// Disabled: the token set gives a client no way to enable a light. Token
// 33 only stores the light's record; the list of enabled lights is written
// only by a state block's light-enable values, which a block captures from
// that same list, and no token reaches the state-block operations. So no
// light is ever collected, and the light blocks stay empty. Waits for a
// decision on how a client enables a light.
TEST_F(E2eClient3d, DISABLED_TheScenesLightReachesTheEnginesFirstLightBlock) {
  ASSERT_NO_FATAL_FAILURE(StartScene(true));
  RunSealed(scene->StateStream(), true);
  ASSERT_EQ(scene->Run(scene->LitStream()), 0);
  ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
  ASSERT_NE(Board().vertex, nullptr);
  const client3d::LightWords light = Scene::Light();
  constexpr unsigned kFirstLightBlock = 224;
  const float diffuse[4] = {light.diffuse[0], light.diffuse[1], light.diffuse[2], light.diffuse[3]};
  const float specular[4] = {light.specular[0], light.specular[1], light.specular[2], 0};
  const float ambient[4] = {light.ambient[0], light.ambient[1], light.ambient[2], 0};
  EXPECT_TRUE(ConstantHolds(*Board().vertex, kFirstLightBlock + 2, diffuse));
  EXPECT_TRUE(ConstantHolds(*Board().vertex, kFirstLightBlock + 3, specular));
  EXPECT_TRUE(ConstantHolds(*Board().vertex, kFirstLightBlock + 4, ambient));
}

}  // namespace
}  // namespace e2e
