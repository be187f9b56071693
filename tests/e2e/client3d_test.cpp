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

namespace e2e {
namespace {

using client3d::Rect;
using client3d::Scene;
using client3d::ScreenVertex;

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
// The window's part of the targets drawn in software. The targets are laid
// out like the screen, so the window's pixels lie in them where they lie on
// the screen. The clear fills the viewport (the window) with the colour
// target's value of the clear colour (each channel c becomes
// trunc(c x max / 255) of its field, 5:6:5 here) and the depth target with
// 0xFFFF for depth 1.0. The triangles follow the board's stated rules
// (platform/board/README.md, "The 3D rasteriser"): x and y snapped to
// 1/16 pixel, pixel centres at +0.5, taken in clockwise order with a
// top-left fill rule; each vertex's channels and depth turned into
// integers first, a value at a centre the exact edge-weighted mean rounded
// to the nearest, halves up; flat shading from the colour the driver sends
// at place 3 (the primitive's last vertex) or Gouraud shading per channel;
// 5:6:5 keeping the top bits of each channel; the depth test
// less-or-equal with writes on, 16 depth bits.
struct Target {
  uint32_t width, height;
  std::vector<uint16_t> colour;  // R5G6B5
  std::vector<uint32_t> depth;   // 0..65535
};

constexpr uint32_t kDepthMax = 65535;

// round(v), halves away from 0.
int64_t Snap(float v) {
  const double s = static_cast<double>(v) * 16.0;
  return static_cast<int64_t>(s < 0 ? -std::floor(-s + 0.5) : std::floor(s + 0.5));
}

struct Fixed {
  int64_t x, y;
  uint32_t colour;
  uint32_t z;
};

int64_t Edge(const Fixed& a, const Fixed& b, int64_t x, int64_t y) {
  return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// A top edge (horizontal, running right) or a left edge (running up) of
// a clockwise triangle, y down.
bool TopLeft(const Fixed& a, const Fixed& b) { return (a.y == b.y && b.x > a.x) || b.y < a.y; }

uint32_t Channel(uint32_t colour, int shift) { return colour >> shift & 0xFF; }

// (e0 v0 + e1 v1 + e2 v2) / A, rounded to the nearest, halves up (all
// terms non-negative).
uint64_t Mean(const int64_t e[3], const uint64_t v[3], int64_t area) {
  unsigned __int128 sum = 0;
  for (int k = 0; k < 3; ++k) sum += static_cast<unsigned __int128>(e[k]) * v[k];
  return static_cast<uint64_t>((2 * sum + static_cast<unsigned __int128>(area)) / (2 * static_cast<unsigned __int128>(area)));
}

uint16_t Rgb565TopBits(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

void DrawTriangle(Target* t, const std::vector<ScreenVertex>& in, bool flat) {
  const uint32_t flatColour = in[2].colour;
  std::vector<Fixed> v;
  for (const ScreenVertex& s : in) {
    const float z = std::clamp(s.z, 0.0f, 1.0f);
    v.push_back({Snap(s.x), Snap(s.y), s.colour, static_cast<uint32_t>(std::floor(z * kDepthMax + 0.5))});
  }
  int64_t area = Edge(v[0], v[1], v[2].x, v[2].y);
  if (area == 0) return;
  if (area < 0) {
    std::swap(v[1], v[2]);
    area = -area;
  }
  for (uint32_t y = 0; y < t->height; ++y)
    for (uint32_t x = 0; x < t->width; ++x) {
      const int64_t cx = int64_t{x} * 16 + 8, cy = int64_t{y} * 16 + 8;
      const int64_t e[3] = {Edge(v[1], v[2], cx, cy), Edge(v[2], v[0], cx, cy), Edge(v[0], v[1], cx, cy)};
      const bool tl[3] = {TopLeft(v[1], v[2]), TopLeft(v[2], v[0]), TopLeft(v[0], v[1])};
      bool covered = true;
      for (int k = 0; k < 3; ++k) covered = covered && (e[k] > 0 || (e[k] == 0 && tl[k]));
      if (!covered) continue;
      const uint64_t zs[3] = {v[0].z, v[1].z, v[2].z};
      const uint32_t z = static_cast<uint32_t>(Mean(e, zs, area));
      const size_t at = static_cast<size_t>(y) * t->width + x;
      if (!(z <= t->depth[at])) continue;
      t->depth[at] = z;
      uint32_t c[3] = {};
      for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        const uint64_t cs[3] = {Channel(v[0].colour, shift), Channel(v[1].colour, shift), Channel(v[2].colour, shift)};
        const uint64_t value = flat ? Channel(flatColour, shift) : Mean(e, cs, area);
        c[k] = static_cast<uint32_t>(value > 255 ? 255 : value);
      }
      t->colour[at] = Rgb565TopBits(c[0], c[1], c[2]);
    }
}

Target ReferenceTarget(const Scene& s, bool triangles) {
  Target t{s.TargetWidth(), s.TargetHeight(), {}, {}};
  t.colour.assign(static_cast<size_t>(t.width) * t.height, 0);
  t.depth.assign(t.colour.size(), 0);
  // The clear's value: each channel scaled to its field, truncated.
  const uint32_t clear = s.layout().clearColour;
  const uint16_t value = static_cast<uint16_t>(Channel(clear, 16) * 31 / 255 << 11 | Channel(clear, 8) * 63 / 255 << 5 |
                                               Channel(clear, 0) * 31 / 255);
  const uint32_t depth = static_cast<uint32_t>(std::min(std::floor(s.layout().clearDepth * 65536.0), 65535.0));
  const Rect& w = s.layout().window;
  for (int32_t y = w.top; y < w.bottom; ++y)
    for (int32_t x = w.left; x < w.right; ++x) {
      const size_t at = static_cast<size_t>(y) * t.width + static_cast<size_t>(x);
      t.colour[at] = value;
      t.depth[at] = depth;
    }
  if (triangles) {
    // In the stream's order: the nearer Gouraud triangle, then the flat
    // one behind it.
    DrawTriangle(&t, s.OnTarget(Scene::GouraudTriangle()), false);
    DrawTriangle(&t, s.OnTarget(Scene::FlatTriangle()), true);
  }
  return t;
}

// The desktop of screen 0 (16 bits a pixel) with the target presented into
// the window's visible rectangles.
std::vector<uint8_t> PresentedDesktop(std::vector<uint8_t> desktop, const maindraw::ScreenState& screen,
                                      const Scene& s, const Target& t) {
  for (const Rect& r : s.layout().visible)
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const uint16_t pixel = t.colour[static_cast<size_t>(y) * t.width + static_cast<size_t>(x)];
        memcpy(desktop.data() + (static_cast<size_t>(y) * static_cast<size_t>(screen.shape.width) +
                                 static_cast<size_t>(x)) * 2,
               &pixel, 2);
      }
  return desktop;
}

// Presents the scene's target and compares monitor 1 with the desktop and
// the reference target (the triangles' with `triangles`).
void ExpectPresentedScene(Scene& scene, std::vector<uint8_t> desktop,
                          const maindraw::ScreenState& screen, orvmachine::MachineBoard& board, bool triangles) {
  ASSERT_EQ(scene.Present(), 0);
  ASSERT_EQ(scene.client().Run(kRequestWaitIdle), 0);
  const std::vector<uint8_t> expected = PresentedDesktop(std::move(desktop), screen, scene, ReferenceTarget(scene, triangles));
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
