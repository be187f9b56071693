// The GLX hooks on a screen in bus-mastering mode 0 (and one without it):
// refusal, the mode-switch callback's lifetime, direct clients and one-page
// client buffers through the fake kernel module, and the mode information.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/xserver/server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_glx.h"
#include "xdriver/orv_rec.h"
#include "xdriver/tests/video_fixture.h"

namespace {

int g_switches = 0;
int g_switchScreen = -1, g_switchFlags = -1;
void ModeSwitch(int screen, int flags) {
  ++g_switches;
  g_switchScreen = screen;
  g_switchFlags = flags;
}
// The mode set itself is not what these tests are about.
Bool NoModeSet(ScrnInfoPtr, DisplayModePtr) { return FALSE; }

class GlxHooks : public videotest::KernelVideoTest {
 protected:
  void SetUp() override {
    KernelVideoTest::SetUp();
    g_switches = 0;
    server_ = std::make_unique<xstub::XServer>();
    view_ = std::make_unique<videotest::VideoScreen>(*machine_, *server_, 1024, 768, 24);
    info_ = view_->info;
    screen_ = view_->screen;
    rec_ = view_->rec;
    rec_->modeInit = NoModeSet;
  }
  // The server's mode switch of the screen, as far as the driver's hook.
  void SwitchMode() { ORVSwitchMode(info_->scrnIndex, &mode_, 0); }

  void TearDown() override {
    view_.reset();
    server_.reset();
    KernelVideoTest::TearDown();
  }

  std::unique_ptr<xstub::XServer> server_;
  std::unique_ptr<videotest::VideoScreen> view_;
  ScrnInfoPtr info_ = nullptr;
  ScreenPtr screen_ = nullptr;
  ORVRec* rec_ = nullptr;
  DisplayModeRec mode_{};
};

TEST_F(GlxHooks, WithoutBusMasteringOpenGlIsRefusedAndNothingIsKept) {
  rec_->busMastering = kBusMasteringLocal;
  EXPECT_EQ(ORVGLXInitialize(screen_, ModeSwitch), 0);
  EXPECT_TRUE(box_->Logged("OpenGL is disabled on this screen because it is not hardware accelerated\n",
                           X_WARNING));
  EXPECT_EQ(rec_->glxActive, 0);
  EXPECT_EQ(rec_->glxModeSwitch, nullptr);
  SwitchMode();
  EXPECT_EQ(g_switches, 0) << "a refused module's callback is never called";
}

TEST_F(GlxHooks, TheCallbackIsKeptWhileTheModuleTakesPart) {
  ASSERT_EQ(ORVGLXInitialize(screen_, ModeSwitch), 1);
  EXPECT_EQ(rec_->glxActive, 1);
  EXPECT_EQ(rec_->glxModeSwitch, ModeSwitch);
  SwitchMode();
  EXPECT_EQ(g_switches, 1);
  EXPECT_EQ(g_switchScreen, info_->scrnIndex);
  EXPECT_EQ(g_switchFlags, 0);
  EXPECT_EQ(ORVGLXCleanup(screen_), 1);
  EXPECT_EQ(rec_->glxModeSwitch, ModeSwitch) << "the stored callback stays";
  SwitchMode();
  EXPECT_EQ(g_switches, 1) << "mode switches no longer call it";
}

TEST_F(GlxHooks, DirectClientsNeedBothOutsAndGetTheDevicesMinorAndHandle) {
  uint8_t minor = 0xAA;
  uint64_t handle = 0x1234;
  EXPECT_EQ(ORVGLXEnableDirectClient(screen_, nullptr, &handle), 0);
  EXPECT_EQ(ORVGLXEnableDirectClient(screen_, &minor, nullptr), 0);
  EXPECT_EQ(minor, 0xAA);
  EXPECT_EQ(handle, 0x1234u);
  ASSERT_EQ(ORVGLXEnableDirectClient(screen_, &minor, &handle), 1);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(handle, pdev_->kernelHandle);
  // The device's answer, whatever it is.
  EXPECT_EQ(static_cast<uint32_t>(ORVGLXDisableDirectClient(screen_)),
            KstrnDisableUserProcess(pdev_, 0));
}

TEST_F(GlxHooks, AClientBufferIsOnePageOfType3) {
  kernel_->ClearCalls();
  void* address = nullptr;
  uint64_t handle = 0;
  ASSERT_EQ(ORVGLXAllocateClientBuffer(screen_, &address, &handle), 1);
  ASSERT_NE(address, nullptr);
  auto asks = kernel_->CallsTo(0x01);
  ASSERT_EQ(asks.size(), 1u);
  xstub::BufferRecord record;
  std::memcpy(&record, asks[0].record.data(), sizeof record);
  EXPECT_EQ(record.kind, 3u);
  EXPECT_EQ(record.size, 4096u);
  EXPECT_EQ(record.flags, 3u) << "both flag bytes set";
  EXPECT_EQ(record.reserved, 1u);
  ASSERT_NE(kernel_->FindBuffer(handle), nullptr) << "the handle is the buffer's offset";
  EXPECT_EQ(ORVGLXFreeClientBuffer(screen_, address, handle), 1);
  EXPECT_EQ(kernel_->FindBuffer(handle), nullptr);
  EXPECT_EQ(ORVGLXFreeClientBuffer(screen_, address, handle), 0) << "freed once";

  kernel_->SetAnswer(0x01, -12);
  EXPECT_EQ(ORVGLXAllocateClientBuffer(screen_, &address, &handle), 0);
}

TEST_F(GlxHooks, ModeInformationIsSizeDepthAndRotation) {
  rec_->modeInfo.ulDispWidth = 1280;
  rec_->modeInfo.ulDispHeight = 1024;
  uint32_t words[4] = {};
  EXPECT_EQ(ORVGLXGetModeInfo(screen_, words), 0);
  EXPECT_EQ(words[0], 1280u);
  EXPECT_EQ(words[1], 1024u);
  EXPECT_EQ(words[2], 32u);
  EXPECT_EQ(words[3], 0u);
  rec_->hwRotate = -1;
  EXPECT_EQ(ORVGLXGetModeInfo(screen_, words), 1);
  EXPECT_EQ(words[3], 1u);
}

}  // namespace
