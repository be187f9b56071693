// The real windows under a private X server: the program starts on a
// fixture system with one two-output board, and its windows are checked
// and photographed.
#include <gtest/gtest.h>
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/testsupport/fixture_root.h"
#include "tools/testsupport/xvfb.h"

namespace fs = std::filesystem;

// GTK keeps its allocations to the end: no leak report for this test.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

std::vector<std::string> WindowNames(Display* dpy) {
  std::vector<std::string> names;
  std::vector<Window> todo{DefaultRootWindow(dpy)};
  while (!todo.empty()) {
    Window w = todo.back();
    todo.pop_back();
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name != nullptr) {
      XWindowAttributes a;
      if (XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable) names.push_back(name);
      XFree(name);
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n)) {
      for (unsigned i = 0; i < n; ++i) todo.push_back(children[i]);
      if (children) XFree(children);
    }
  }
  return names;
}

// The board of the fixture bus: two outputs.
constexpr uint16_t kTwoOutputSubsysId = 0x0080;

bool Has(const std::vector<std::string>& names, const std::string& n) {
  return std::find(names.begin(), names.end(), n) != names.end();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(tools_test::kXvfbPath, X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    xvfb_ = std::make_unique<tools_test::XvfbServer>(
        std::initializer_list<const char*>{"-screen", "0", "1024x768x24"});
    ASSERT_FALSE(xvfb_->Display().empty()) << "Xvfb did not start";
    dpy_ = XOpenDisplay(xvfb_->Display().c_str());
    ASSERT_NE(dpy_, nullptr) << "Xvfb did not start";

    char pattern[] = "/tmp/gui-window-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string root = dir_ + "/root";
    const std::string src = std::getenv("ORV_SOURCE_DIR") ? std::getenv("ORV_SOURCE_DIR") : ".";
    tools_test::InstallBoardDatabase(root, src);
    tools_test::WriteFixtureBoard(root, kTwoOutputSubsysId);
    conf_ = dir_ + "/xorg.conf";
    fs::copy_file(src + "/data/xorg.conf.seed", conf_);
    root_ = root;
  }

  void TearDown() override {
    if (app_ > 0) {
      kill(app_, SIGTERM);
      waitpid(app_, nullptr, 0);
    }
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
    xvfb_.reset();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  void StartApp() {
    app_ = fork();
    if (app_ == 0) {
      setenv("DISPLAY", xvfb_->Display().c_str(), 1);
      setenv("ORV_SYSROOT", root_.c_str(), 1);
      setenv("XORGCONFIG", conf_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      execl(ORVANECONFIG_PATH, "orvaneconfig", static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  std::vector<std::string> WaitFor(const std::string& title) {
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
      names = WindowNames(dpy_);
      if (Has(names, title)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return names;
  }

  // The whole screen as a PNG beside the test's build files.
  void Screenshot(const std::string& file) {
    GdkDisplay* display = gdk_display_open(xvfb_->Display().c_str());
    ASSERT_NE(display, nullptr);
    GdkWindow* root = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
    int w = 0, h = 0;
    gdk_drawable_get_size(root, &w, &h);
    GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, root, nullptr, 0, 0, 0, 0, w, h);
    ASSERT_NE(shot, nullptr);
    EXPECT_TRUE(gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr));
    g_object_unref(shot);
    gdk_display_close(display);
  }

  std::unique_ptr<tools_test::XvfbServer> xvfb_;
  pid_t app_ = -1;
  Display* dpy_ = nullptr;
  std::string dir_, root_, conf_;
};

TEST_F(WindowTest, MainWindowWithTheExtensionWarningOnTop) {
  StartApp();
  auto names = WaitFor("Warning");
  EXPECT_TRUE(Has(names, "OrvaneConfig")) << "main window missing";
  EXPECT_TRUE(Has(names, "Warning")) << "no warning about the missing extension";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(ORV_ARTIFACT_DIR "/orvaneconfig-main.png");
  int status = 0;
  EXPECT_EQ(waitpid(app_, &status, WNOHANG), 0) << "the program ended";
}

// On a machine without the board the window opens all the same, its
// settings waiting and saying why.
TEST_F(WindowTest, MainWindowWithoutABoard) {
  tools_test::WriteFile(root_ + "/proc/bus/pci/devices", "");
  StartApp();
  auto names = WaitFor("OrvaneConfig");
  EXPECT_TRUE(Has(names, "OrvaneConfig")) << "main window missing";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(ORV_ARTIFACT_DIR "/orvaneconfig-main-without-board.png");
  int status = 0;
  EXPECT_EQ(waitpid(app_, &status, WNOHANG), 0) << "the program ended";
}

}  // namespace
