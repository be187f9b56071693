// The real windows under a private X server: the program starts on a
// fixture system with one two-output board, and its windows are checked
// and photographed.
#include <gtest/gtest.h>
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
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
    // The program's windows come and go while they are looked at: a window
    // gone by the time of the query is no failure of the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });

    char pattern[] = "/tmp/gui-window-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string root = dir_ + "/root";
    const std::string src = std::getenv("ORV_SOURCE_DIR") ? std::getenv("ORV_SOURCE_DIR") : ".";
    tools_test::InstallBoardDatabase(root, src);
    tools_test::WriteFixtureBoard(root, kTwoOutputSubsysId);
    conf_ = dir_ + "/xorg.conf";
    fs::copy_file(src + "/data/xorg.conf.seed", conf_);
    // A home as a desktop user has it: the file chooser keeps its list of
    // recent files there.
    fs::create_directories(dir_ + "/.local/share");
    fs::create_directories(dir_ + "/.config");
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

  // Starts the program; `checkLeaks` runs it as a user would run the
  // sanitizer build, its leak check on, with what it prints kept in
  // `out_` and `err_`.
  void StartApp(bool checkLeaks = false) {
    out_ = dir_ + "/app.out";
    err_ = dir_ + "/app.err";
    app_ = fork();
    if (app_ == 0) {
      setenv("DISPLAY", xvfb_->Display().c_str(), 1);
      setenv("ORV_SYSROOT", root_.c_str(), 1);
      setenv("XORGCONFIG", conf_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      if (checkLeaks) {
        unsetenv("ASAN_OPTIONS");
        unsetenv("LSAN_OPTIONS");
        if (!std::freopen(out_.c_str(), "w", stdout) || !std::freopen(err_.c_str(), "w", stderr)) _exit(126);
      } else {
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      }
      execl(ORVANECONFIG_PATH, "orvaneconfig", static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  // The mapped dialog window of the program (a message or a question),
  // waited for; None when none comes.
  Window WaitForDialog(const std::string& title) {
    const Atom type = XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    for (int i = 0; i < 400; ++i) {
      Window root, parent, *children = nullptr;
      unsigned n = 0;
      Window found = None;
      if (XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &parent, &children, &n)) {
        for (unsigned k = 0; k < n && found == None; ++k) {
          XWindowAttributes a;
          if (!XGetWindowAttributes(dpy_, children[k], &a) || a.map_state != IsViewable) continue;
          Atom actual;
          int format;
          unsigned long items, after;
          unsigned char* value = nullptr;
          if (XGetWindowProperty(dpy_, children[k], type, 0, 1, False, XA_ATOM, &actual, &format, &items, &after,
                                 &value) == Success &&
              value != nullptr) {
            const bool isDialog = items == 1 && *reinterpret_cast<Atom*>(value) == dialog;
            XFree(value);
            char* name = nullptr;
            std::string text;
            if (XFetchName(dpy_, children[k], &name) && name != nullptr) {
              text = name;
              XFree(name);
            }
            if (isDialog && text == title) found = children[k];
          }
        }
        if (children) XFree(children);
      }
      if (found != None) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return None;
  }

  // A key press and release as the keyboard would send them to `window`.
  void PressKey(Window window, KeySym key, unsigned state) {
    for (int type : {KeyPress, KeyRelease}) {
      XEvent e{};
      e.xkey.type = type;
      e.xkey.display = dpy_;
      e.xkey.window = window;
      e.xkey.root = DefaultRootWindow(dpy_);
      e.xkey.time = CurrentTime;
      e.xkey.x = e.xkey.y = e.xkey.x_root = e.xkey.y_root = 1;
      e.xkey.same_screen = True;
      e.xkey.state = state;
      e.xkey.keycode = XKeysymToKeycode(dpy_, key);
      XSendEvent(dpy_, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
    }
    XFlush(dpy_);
  }

  // The program's exit status, waited for; -1 when it does not end in time.
  int WaitForExit() {
    for (int i = 0; i < 600; ++i) {
      int status = 0;
      if (waitpid(app_, &status, WNOHANG) == app_) {
        app_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
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
  std::string dir_, root_, conf_, out_, err_;
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

// The sanitizer build as a user runs it: start, close the start-up warning,
// quit and confirm. The font and toolkit libraries keep their caches until
// the process ends, which the leak checker is told; the program's own
// memory is all given back, so the run ends with status 0 and prints
// nothing on standard error.
TEST_F(WindowTest, CleanQuitEndsWithoutALeakReport) {
  StartApp(true);
  const Window warning = WaitForDialog("Warning");
  ASSERT_NE(warning, None) << tools_test::ReadFile(err_);
  PressKey(warning, XK_Escape, 0);
  auto names = WaitFor("OrvaneConfig");
  ASSERT_TRUE(Has(names, "OrvaneConfig"));
  std::vector<Window> mains;
  {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    ASSERT_TRUE(XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &parent, &children, &n));
    for (unsigned k = 0; k < n; ++k) {
      char* name = nullptr;
      if (XFetchName(dpy_, children[k], &name) && name != nullptr) {
        if (std::string(name) == "OrvaneConfig") mains.push_back(children[k]);
        XFree(name);
      }
    }
    if (children) XFree(children);
  }
  ASSERT_EQ(mains.size(), 1u);
  // The secondary windows and the file chooser once each: Ctrl+D opens
  // Advanced, Alt+O its file chooser, Escape closes each again; Alt+I
  // opens Info.
  PressKey(mains[0], XK_d, ControlMask);
  WaitFor("OrvaneConfig - Advanced");
  const Window advanced = WaitForDialog("OrvaneConfig - Advanced");
  ASSERT_NE(advanced, None);
  PressKey(advanced, XK_o, Mod1Mask);
  const Window chooser = WaitForDialog("OrvaneConfig - FileChooser");
  ASSERT_NE(chooser, None);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  PressKey(chooser, XK_Escape, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  PressKey(advanced, XK_Escape, 0);
  PressKey(mains[0], XK_i, Mod1Mask);
  const Window info = WaitForDialog("OrvaneConfig - Info");
  ASSERT_NE(info, None);
  PressKey(info, XK_Escape, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Reset, then Apply answered No.
  PressKey(mains[0], XK_r, ControlMask);
  PressKey(mains[0], XK_a, ControlMask);
  const Window apply = WaitForDialog("");
  ASSERT_NE(apply, None);
  PressKey(apply, XK_n, Mod1Mask);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Ctrl+Q is the Quit button's accelerator; Alt+Y answers Yes.
  PressKey(mains[0], XK_q, ControlMask);
  const Window question = WaitForDialog("");
  ASSERT_NE(question, None);
  PressKey(question, XK_y, Mod1Mask);
  EXPECT_EQ(WaitForExit(), 0);
  // Only the client library's report of the missing configuration
  // extension, which the program gives at start without it.
  EXPECT_EQ(tools_test::ReadFile(err_),
            "Xlib:  extension \"ORVCFG\" missing on display \"" + xvfb_->Display() + "\".\n");
}

}  // namespace
