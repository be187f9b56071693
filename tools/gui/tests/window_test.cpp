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

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

// GTK keeps its allocations to the end: no leak report for this test.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

void Spit(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

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

bool Has(const std::vector<std::string>& names, const std::string& n) {
  return std::find(names.begin(), names.end(), n) != names.end();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    for (display_ = 91; display_ < 150; ++display_)
      if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(display_)) &&
          !fs::exists("/tmp/.X" + std::to_string(display_) + "-lock"))
        break;
    xvfb_ = fork();
    if (xvfb_ == 0) {
      std::string d = ":" + std::to_string(display_);
      execl("/usr/bin/Xvfb", "Xvfb", d.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string name = ":" + std::to_string(display_);
    for (int i = 0; i < 100 && dpy_ == nullptr; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      dpy_ = XOpenDisplay(name.c_str());
    }
    ASSERT_NE(dpy_, nullptr) << "Xvfb did not start";

    char pattern[] = "/tmp/gui-window-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string root = dir_ + "/root";
    const std::string src = std::getenv("ORV_SOURCE_DIR") ? std::getenv("ORV_SOURCE_DIR") : ".";
    fs::create_directories(root + "/usr/share/orvane/current");
    fs::copy_file(src + "/data/orvcards", root + "/usr/share/orvane/current/orvcards");
    // One board of the maker, subsystem 0x0080: two outputs.
    Spit(root + "/proc/bus/pci/devices", "0100\t1e7a5d62\tb\tf0000008\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\n");
    std::string config(64, '\0');
    auto put16 = [&](int at, unsigned v) {
      config[size_t(at)] = char(v & 0xff);
      config[size_t(at) + 1] = char(v >> 8);
    };
    put16(0, 0x1E7A);
    put16(2, 0x5D62);
    put16(10, 0x0300);
    put16(44, 0x1E7A);
    put16(46, 0x0080);
    Spit(root + "/proc/bus/pci/01/00.0", config);
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
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  void StartApp() {
    app_ = fork();
    if (app_ == 0) {
      setenv("DISPLAY", (":" + std::to_string(display_)).c_str(), 1);
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
    const std::string name = ":" + std::to_string(display_);
    GdkDisplay* display = gdk_display_open(name.c_str());
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

  int display_ = 0;
  pid_t xvfb_ = -1, app_ = -1;
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

}  // namespace
