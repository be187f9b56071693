// Teardown: a 3D client on the running desktop goes, then the X server
// closes its screens and the kernel module is unloaded, as the product
// does it: the client with request 11 (its 3D context), ioctl 32 (its
// client context) and the close of its file; the X server with CloseScreen
// from the last screen to the first and FreeScreen; the kernel with
// DestroyDevice and Unload. Nothing may be left: no block, region, mapping
// or locked page of the glue, no allocation of the X server stand-in, no
// leak, and no fault or decode error of the board's engines.
//
// A client may also just die: its file is released with no request, while
// its work runs, or while its device is lost (the VT left: ioctl 23). The
// same holds then, and the desktop keeps drawing after the client is gone.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/orv_ioctl.h"
#include "platform/board/chip_dma.h"
#include "platform/client3d/scene.h"
#include "tests/e2e/desktop_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_E2E_LEAK_CHECK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORV_E2E_LEAK_CHECK 1
#endif
#if defined(ORV_E2E_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif

namespace e2e {
namespace {

using client3d::Scene;

constexpr uint32_t kClientProcess = 2000;
constexpr uint32_t kRequestWaitIdle = 4;
constexpr uint32_t kRequestDestroyContext3d = 11;
constexpr uint32_t kRequestReattach = 3;
constexpr int32_t kNotRunning = -3;
constexpr size_t kContext3dAt = 16;
// Status reads a started range waits before it runs, while the client is
// killed with work on the engine.
constexpr unsigned kEngineLatencyReads = 50;

class E2eTeardown : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    if (HasFatalFailure()) return;
    // What the X side holds once its screens are up; the client's
    // process holds nothing of the server's.
    xAllocationsUp = Box().LiveAllocations();
  }
  void TearDown() override {
    scene.reset();
    Desktop::TearDown();
  }

  // The scene's client on screen 0: its device from the driver's hook, the
  // context, the command buffer, the targets and primary surface, the
  // drawable's rectangles and the 3D context.
  void StartScene() {
    ASSERT_NO_FATAL_FAILURE(StartClientScene(kClientProcess, true, &scene));
    ASSERT_EQ(Glue().OpenFileCount(), 2u);
  }
  // The scene's streams, each run to its end on the engine, and a present.
  void RunScene() {
    for (const client3d::TokenWriter& stream : {scene->StateStream(), scene->ClearStream(), scene->ScreenStream()}) {
      ASSERT_EQ(scene->Run(stream), 0);
      ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    }
    // A present takes a tag of the client's ring, which its clean-up
    // waits for.
    ASSERT_EQ(scene->Present(), 0);
    ASSERT_EQ(scene->client().Run(kRequestWaitIdle), 0);
    EXPECT_FALSE(Dma().Busy());
  }

  // The screens closed, the module unloaded; then nothing may be left of
  // the kernel's side, the X server's side or the process's heap.
  const std::vector<Picture>& FinishAndExpectNothingLeft() {
    const std::vector<Picture>& pictures = Finish();
    EXPECT_EQ(Left(), "");
    EXPECT_EQ(Glue().LiveKernelMappings(), 0u);
    EXPECT_EQ(Glue().LiveUserMappings(), 0u);
    EXPECT_EQ(Glue().OpenFileCount(), 0u);
    // The screens' closing gave back what their bring-up took (the rest,
    // the server's own, goes with the server: the fixture checks it), and
    // nothing of the device node is mapped.
    EXPECT_LT(Box().LiveAllocations(), xAllocationsUp);
    EXPECT_EQ(Box().MappingCount(), 0u);
    EXPECT_EQ(EngineErrors(), std::vector<std::string>{});
#if defined(ORV_E2E_LEAK_CHECK)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (printed above)";
#endif
    return pictures;
  }

  // The main job's 2D scene on both screens, then both pictures against it
  // drawn in software.
  void ExpectTheDesktopDraws(const std::vector<Picture>& pictures) {
    ASSERT_EQ(pictures.size(), 2u);
    for (const Picture& p : pictures) {
      const maindraw::Comparison& c = p.comparison;
      EXPECT_TRUE(c.equal) << p.monitor.output << " " << c.unusable << ": " << c.differing
                           << " pixels differ, first at (" << c.firstX << ", " << c.firstY << ")";
    }
  }

  // Kernel log lines that tell of a wait that ran out or an error.
  std::vector<std::string> KernelComplaints() const {
    std::vector<std::string> out;
    for (const std::string& line : KernelMessages())
      if (line.find("ERROR") != std::string::npos || line.find("timed out") != std::string::npos ||
          line.find("timeout") != std::string::npos)
        out.push_back(line);
    return out;
  }

  std::unique_ptr<Scene> scene;
  size_t xAllocationsUp = 0;
};

TEST_F(E2eTeardown, TheProductsOrderLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  ASSERT_NO_FATAL_FAILURE(RunScene());
  // The client: its 3D context (request 11), its client context (32), its
  // file.
  scene->client().Put32(kContext3dAt, scene->Context3d());
  EXPECT_EQ(scene->client().Run(kRequestDestroyContext3d), 0);
  EXPECT_EQ(scene->client().DestroyContext(), 0);
  scene.reset();
  EXPECT_EQ(Glue().OpenFileCount(), 1u);
  // The desktop draws on after the client went.
  const size_t posts = Node().Count(27);
  DrawOnEveryScreen(maindraw::DrawScene);
  EXPECT_GT(Node().Count(27), posts);
  const size_t before = Node().Requests().size();
  ExpectTheDesktopDraws(FinishAndExpectNothingLeft());
  EXPECT_EQ(KernelComplaints(), std::vector<std::string>{});
  // Each screen's closing stops its device (23) and disables it (21), both
  // answered.
  std::vector<uint32_t> closing;
  for (size_t i = before; i < Node().Requests().size(); ++i) {
    const NodeRequest& r = Node().Requests()[i];
    if (r.number != 21 && r.number != 23) continue;
    closing.push_back(r.number);
    EXPECT_EQ(r.answer, 0) << "request " << r.number;
  }
  EXPECT_EQ(closing, (std::vector<uint32_t>{23, 21, 23, 21}));
}

// Killed with its work in flight: the streams sent and still on the
// engine, then the file released without a request.
TEST_F(E2eTeardown, AClientKilledWhileItRunsLeavesNothingAndTheDesktopDrawsOn) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  // The engine takes its time: a started range runs only after some reads
  // of its status, so the client's last streams are still the engine's
  // when the file goes.
  Dma().SetLatencyReads(kEngineLatencyReads);
  ASSERT_EQ(scene->Run(scene->StateStream()), 0);
  ASSERT_EQ(scene->Run(scene->ClearStream()), 0);
  ASSERT_EQ(scene->Run(scene->ScreenStream()), 0);
  EXPECT_TRUE(Dma().Busy());
  scene.reset();
  Dma().SetLatencyReads(0);
  EXPECT_EQ(Glue().OpenFileCount(), 1u);
  const size_t posts = Node().Count(27);
  DrawOnEveryScreen(maindraw::DrawScene);
  EXPECT_GT(Node().Count(27), posts);
  ExpectTheDesktopDraws(FinishAndExpectNothingLeft());
  EXPECT_EQ(KernelComplaints(), std::vector<std::string>{});
}

// Killed while the VT is left: the device stopped (ioctl 23), the client's
// context lost with its video-only targets saved; the file is released
// then. Its saved records go with it, the engine is not waited on, and
// when the VT comes back the desktop draws as before.
TEST_F(E2eTeardown, AClientKilledWhileItsDeviceIsLostLeavesNothingAndTheDesktopDrawsOn) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  ASSERT_NO_FATAL_FAILURE(RunScene());
  const size_t stops = Node().Count(23);
  Server().LeaveVT();
  ASSERT_GT(Node().Count(23), stops) << "LeaveVT gave no ioctl 23";
  // Lost: every request but 3 answers -3.
  EXPECT_EQ(scene->client().Run(kRequestWaitIdle), kNotRunning);
  // While the VT is away the engine does not answer for this desktop: its
  // DMA status never reads back what the kernel expects (as while the
  // display is off).
  Dma().HoldFifoRoomClear(true);
  const size_t kernelLines = KernelMessages().size();
  scene.reset();
  EXPECT_EQ(Glue().OpenFileCount(), 1u);
  // The release waited on nothing: no wait ran out.
  const std::vector<std::string> log = KernelMessages();
  EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(kernelLines), log.end()),
            std::vector<std::string>{});
  Dma().HoldFifoRoomClear(false);
  ASSERT_TRUE(Server().EnterVT());
  const size_t posts = Node().Count(27);
  DrawOnEveryScreen(maindraw::DrawScene);
  EXPECT_GT(Node().Count(27), posts);
  ExpectTheDesktopDraws(FinishAndExpectNothingLeft());
  EXPECT_EQ(KernelComplaints(), std::vector<std::string>{});
}

// The same in the client's own order while lost, the engine not
// answering: request 11 answers -3, ioctl 32 takes the client context with
// its 3D context, then the file goes.
TEST_F(E2eTeardown, AClientThatEndsWhileItsDeviceIsLostLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  ASSERT_NO_FATAL_FAILURE(RunScene());
  Server().LeaveVT();
  Dma().HoldFifoRoomClear(true);
  scene->client().Put32(kContext3dAt, scene->Context3d());
  EXPECT_EQ(scene->client().Run(kRequestDestroyContext3d), kNotRunning);
  EXPECT_EQ(scene->client().DestroyContext(), 0);
  scene.reset();
  Dma().HoldFifoRoomClear(false);
  ASSERT_TRUE(Server().EnterVT());
  DrawOnEveryScreen(maindraw::DrawScene);
  ExpectTheDesktopDraws(FinishAndExpectNothingLeft());
  EXPECT_EQ(KernelComplaints(), std::vector<std::string>{});
}

// A lost client that came back (request 3 after EnterVT) and is then
// killed leaves nothing either: its re-created surfaces go with it.
TEST_F(E2eTeardown, AClientKilledAfterItCameBackLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartScene());
  ASSERT_NO_FATAL_FAILURE(RunScene());
  Server().LeaveVT();
  ASSERT_TRUE(Server().EnterVT());
  ASSERT_EQ(scene->client().Run(kRequestReattach), 0);
  ASSERT_NO_FATAL_FAILURE(RunScene());
  scene.reset();
  DrawOnEveryScreen(maindraw::DrawScene);
  ExpectTheDesktopDraws(FinishAndExpectNothingLeft());
  EXPECT_EQ(KernelComplaints(), std::vector<std::string>{});
}

}  // namespace
}  // namespace e2e
