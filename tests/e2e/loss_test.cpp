// Device loss and recovery on the running desktop: the console switch.
// The X server leaves the virtual terminal (LeaveVT: request 23 per unit),
// another user of the board overwrites the local memory the kernel handed
// out, and the server comes back (EnterVT: requests 22 and 28 per unit).
// The 3D client's context is lost meanwhile: every request answers -3
// until the client re-attaches (request 3), which re-creates its
// video-only targets at their handles with their contents.
//
// The checks: the answers on the way, the vertex programs the engine runs
// resident again after the start, the targets' contents byte for byte,
// every render-state group and vertex constant sent again, and the next
// frame's pictures (the desktop on both monitors and the 3D window) equal
// to the first frame's; twice in a row. Any decode error or fault of the
// board's engines fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/board/chip_3d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/client3d/scene.h"
#include "platform/xserver/xf86_server.h"
#include "tests/e2e/desktop_fixture.h"
#include "tests/e2e/loss_probe.h"

namespace e2e {
namespace {

using client3d::Rect;
using client3d::Scene;

constexpr uint32_t kClientProcess = 2000;
constexpr int32_t kNotRunning = -3;
constexpr uint32_t kRequestReattach = 3;
constexpr uint32_t kRequestWaitIdle = 4;
constexpr uint32_t kRequestReadRect = 31;
// Register 0x920: the vertex engine's program mode (bit 0 slot mode).
constexpr uint32_t kProgramModeRegister = orvsim::kVertexRegProgramMode;
// The DMA window of the engine's registers.
constexpr uint32_t kWindowFirst = orvsim::kDmaRegWindow;
constexpr uint32_t kWindowEnd = orvsim::kDmaRegWindow + 4 * 256;
// What another user of the board leaves in local memory.
constexpr uint8_t kOverwrite = 0xA5;

// One target's bytes as request 31 reads them (rows bottom-up).
using TargetBytes = std::vector<uint8_t>;

class E2eLoss : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_NO_FATAL_FAILURE(StartClientScene(kClientProcess, true, &scene, &device));
    Glue().DeclareUserMemory(kClientProcess, box, sizeof box);
    Board().board.SetLogCapacity(1u << 20);
  }
  void TearDown() override {
    scene.reset();
    Desktop::TearDown();
  }

  // A frame: the desktop drawn on both screens (as the server paints it),
  // then the client's streams and the present of its target. `written`:
  // the registers of the engine's window the client's streams wrote.
  void DrawFrame(std::set<uint32_t>* written) {
    DrawOnEveryScreen(maindraw::DrawScene);
    Dma().ClearWrites();
    for (const client3d::TokenWriter& stream : {scene->StateStream(), scene->ClearStream(), scene->ScreenStream()})
      ASSERT_EQ(scene->Run(stream), 0);
    ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    *written = WindowRegistersWritten();
    for (const auto& w : Dma().Writes()) {
      if (w.reg == kWindowFirst + 4 * 0x88) colourAt = w.value;
      if (w.reg == kWindowFirst + 4 * 0x8A) depthAt = w.value;
    }
    ASSERT_EQ(scene->Present(), 0);
    ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    EXPECT_FALSE(Dma().Busy());
  }

  std::vector<std::vector<uint8_t>> Desktops() {
    std::vector<std::vector<uint8_t>> out;
    for (const maindraw::ScreenState& s : Screens()) out.push_back(maindraw::FramebufferPixels(Board(), s));
    return out;
  }

  // The whole of a target of the window's size, 16 bits a pixel, read back
  // through request 31.
  TargetBytes ReadTarget(uint64_t handle) {
    const uint32_t w = scene->Width(), h = scene->Height();
    TargetBytes bytes(static_cast<size_t>(w) * h * 2, 0);
    Glue().DeclareUserMemory(kClientProcess, bytes.data(), bytes.size());
    const uint32_t words[6] = {0, 0, 0, w, h, 1};
    memcpy(box, words, sizeof box);
    client3d::Client& c = scene->client();
    c.Put64(16, handle);
    c.Put64(24, reinterpret_cast<uintptr_t>(box));
    c.Put32(32, w * 2);
    c.Put64(40, reinterpret_cast<uintptr_t>(bytes.data()));
    EXPECT_EQ(c.Run(kRequestReadRect), 0) << "target " << handle;
    return bytes;
  }

  // Overwrites all of the board's local memory, as another user of the
  // board would while the server is away.
  void OverwriteLocalMemory() {
    memset(Board().board.LocalMemory(), kOverwrite, Board().board.LocalMemorySize());
  }
  // Overwrites what the kernel handed out for the pictures: both screens'
  // frame buffers and the client's two targets (where the first frame
  // bound them).
  void OverwriteScreensAndTargets() {
    uint8_t* local = Board().board.LocalMemory();
    const uint64_t size = Board().board.LocalMemorySize();
    auto overwrite = [&](uint64_t at, uint64_t bytes) {
      ASSERT_LE(at, size);
      memset(local + at, kOverwrite, std::min(bytes, size - at));
    };
    for (const maindraw::ScreenState& s : Screens())
      overwrite(s.fbLocal, uint64_t(s.pitch) * uint64_t(s.shape.height) * uint64_t(s.shape.bitsPerPixel / 8));
    ASSERT_NE(colourAt, 0u);
    ASSERT_NE(depthAt, 0u);
    overwrite(colourAt, uint64_t{scene->Width()} * scene->Height() * 2);
    overwrite(depthAt, uint64_t{scene->Width()} * scene->Height() * 2);
  }

  // Every request code but 3 (and 3 itself while the device is away).
  static std::vector<uint32_t> RequestCodes() {
    std::vector<uint32_t> codes;
    for (uint32_t code = 0; code <= 33; ++code)
      if (code != kRequestReattach) codes.push_back(code);
    return codes;
  }
  // Each code's answer, the block otherwise as the last request left it.
  std::map<uint32_t, int32_t> Answers(const std::vector<uint32_t>& codes) {
    std::map<uint32_t, int32_t> answers;
    for (uint32_t code : codes) answers[code] = scene->client().Run(code);
    return answers;
  }
  static std::map<uint32_t, int32_t> All(const std::vector<uint32_t>& codes, int32_t answer) {
    std::map<uint32_t, int32_t> all;
    for (uint32_t code : codes) all[code] = answer;
    return all;
  }

  // The registers of the engine's window the DMA wrote since the last
  // clear.
  std::set<uint32_t> WindowRegistersWritten() const {
    std::set<uint32_t> regs;
    for (const auto& w : const_cast<E2eLoss*>(this)->Dma().Writes())
      if (w.reg >= kWindowFirst && w.reg < kWindowEnd) regs.insert(w.reg);
    return regs;
  }

  // What of the pictures a cycle compares with the first frame's: both
  // desktops whole, or only the 3D window's visible part of screen 0.
  enum class Compare { kDesktops, kWindow };
  void ConsoleSwitches(int cycles, const std::function<void()>& overwriteWhileAway,
                       Compare laterCycles = Compare::kDesktops);
  // The pixels of the window's visible rectangles on screen 0.
  std::vector<uint8_t> WindowPixels(const std::vector<uint8_t>& desktop) const {
    std::vector<uint8_t> out;
    const maindraw::ScreenState& screen = Screens()[0];
    const size_t bytes = static_cast<size_t>(screen.shape.bitsPerPixel / 8);
    for (const Rect& r : scene->layout().visible)
      for (int32_t y = r.top; y < r.bottom; ++y) {
        const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(screen.shape.width) + static_cast<size_t>(r.left)) * bytes;
        out.insert(out.end(), desktop.begin() + static_cast<ptrdiff_t>(at),
                   desktop.begin() + static_cast<ptrdiff_t>(at + static_cast<size_t>(r.right - r.left) * bytes));
      }
    return out;
  }

  size_t RequestsSoFar() const { return Node().Requests().size(); }
  // The X driver's requests among `numbers` after the first `from`.
  std::vector<std::string> SequenceSince(size_t from, const std::vector<uint32_t>& numbers) const {
    std::vector<std::string> out;
    const std::vector<NodeRequest>& all = Node().Requests();
    for (size_t i = from; i < all.size(); ++i)
      for (uint32_t n : numbers)
        if (all[i].number == n) out.push_back(std::to_string(n) + ":" + std::to_string(all[i].unit) + "=" +
                                              std::to_string(all[i].answer));
    return out;
  }

  OrvDevice* device = nullptr;
  std::unique_ptr<Scene> scene;
  alignas(8) uint32_t box[6] = {};
  // Where the client's colour and depth targets lie in local memory, as
  // the last frame bound them (registers 0x88 and 0x8A).
  uint64_t colourAt = 0, depthAt = 0;
};

// The whole cycle, `cycles` times: leave, overwrite, enter, re-attach, the
// next frame.
void E2eLoss::ConsoleSwitches(int cycles, const std::function<void()>& overwriteWhileAway, Compare laterCycles) {
  std::set<uint32_t> groups;
  ASSERT_NO_FATAL_FAILURE(DrawFrame(&groups));
  ASSERT_FALSE(groups.empty());
  const std::vector<std::vector<uint8_t>> first = Desktops();
  const TargetBytes colour = ReadTarget(scene->ColourTarget());
  const TargetBytes depth = ReadTarget(scene->DepthTarget());

  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    // ---- Leave: request 23 for each unit; the client is lost.
    size_t mark = RequestsSoFar();
    Server().LeaveVT();
    EXPECT_EQ(SequenceSince(mark, {20, 21, 22, 23, 28}),
              (std::vector<std::string>{"23:-1=0", "23:-1=0"}));
    const std::vector<uint32_t> codes = RequestCodes();
    EXPECT_EQ(Answers(codes), All(codes, kNotRunning));
    EXPECT_EQ(scene->client().Run(kRequestReattach), kNotRunning);

    // ---- Away: another user of the board overwrites local memory.
    ASSERT_NO_FATAL_FAILURE(overwriteWhileAway());

    // ---- Enter: requests 22 and 28 for each unit, in the driver's order.
    mark = RequestsSoFar();
    Board().board.ClearLog();
    Board().board.SetLogging(false, true);
    ASSERT_TRUE(Server().EnterVT());
    Board().board.SetLogging(false, false);
    EXPECT_EQ(SequenceSince(mark, {20, 21, 22, 23, 28}),
              (std::vector<std::string>{"22:0=0", "28:0=0", "22:1=0", "28:1=0"}));
    // The vertex engine's program mode was written again, slot mode.
    bool modeWritten = false;
    for (const orvsim::RegAccessRecord& r : Board().board.LoggedWrites())
      modeWritten = modeWritten || (r.offset == kProgramModeRegister && r.value == 1);
    EXPECT_TRUE(modeWritten);
    EXPECT_EQ(Board().board.LogDropped(), 0u);
    // The fixed programs are resident again at the start of the ring.
    const ProgramMemory programs = ReadProgramMemory(Glue().KernelDeviceOf(device));
    ASSERT_TRUE(programs.found);
    EXPECT_EQ(programs.slotMode, 1u);
    EXPECT_EQ(programs.ringStart, 11u);
    uint32_t nextSlot = 0;
    for (const ResidentProgram& p : programs.programs) {
      EXPECT_TRUE(p.resident) << "program " << p.id;
      EXPECT_TRUE(p.loadPending) << "program " << p.id;
      EXPECT_EQ(p.firstSlot, nextSlot) << "program " << p.id;
      EXPECT_TRUE(p.slotBytesEqualCode) << "program " << p.id;
      nextSlot = p.firstSlot + p.slotCount;
    }
    EXPECT_EQ(nextSlot, 11u);

    // ---- Still lost until the client re-attaches.
    EXPECT_EQ(Answers(codes), All(codes, kNotRunning));
    ASSERT_EQ(scene->client().Run(kRequestReattach), 0);
    EXPECT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    // The targets came back at their handles with their contents, although
    // local memory was overwritten.
    EXPECT_TRUE(ReadTarget(scene->ColourTarget()) == colour);
    EXPECT_TRUE(ReadTarget(scene->DepthTarget()) == depth);

    // ---- The next frame: every render-state group and constant is sent
    // again, and the pictures are the first frame's.
    std::set<uint32_t> again;
    ASSERT_NO_FATAL_FAILURE(DrawFrame(&again));
    EXPECT_EQ(again, groups);
    if (cycle == 0 || laterCycles == Compare::kDesktops) {
      EXPECT_EQ(Desktops(), first);
    } else {
      EXPECT_TRUE(WindowPixels(Desktops()[0]) == WindowPixels(first[0]));
    }
    EXPECT_EQ(EngineErrors(), std::vector<std::string>{});
    EXPECT_EQ(Board().engine3d->Faults(), std::vector<std::string>{});
  }
  for (const std::string& line : KernelMessages()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

// The other user draws over both screens and the client's targets.
TEST_F(E2eLoss, TheDesktopAndTheClientComeBackAfterAConsoleSwitch) {
  ConsoleSwitches(1, [this] { OverwriteScreensAndTargets(); });
}

// Two switches in a row. At each EnterVT the X driver places its scratch
// surfaces again, and with the 3D client's surfaces taking memory the
// second placement lands on an address that is not page-aligned (0x8282800
// instead of 0x8283000): the scene's image and text then go through an
// aperture window onto that address.
TEST_F(E2eLoss, TheDesktopAndTheClientComeBackAfterTwoConsoleSwitches) {
  ConsoleSwitches(2, [this] { OverwriteScreensAndTargets(); });
}

// The same two switches, the second cycle's pictures compared in the 3D
// window only.
TEST_F(E2eLoss, TheClientComesBackAfterTwoConsoleSwitches) {
  ConsoleSwitches(2, [this] { OverwriteScreensAndTargets(); }, Compare::kWindow);
}

// The other user overwrites all of local memory, once.
TEST_F(E2eLoss, TheDesktopAndTheClientComeBackAfterAllOfLocalMemoryWasOverwritten) {
  ConsoleSwitches(1, [this] { OverwriteLocalMemory(); });
}

}  // namespace
}  // namespace e2e
