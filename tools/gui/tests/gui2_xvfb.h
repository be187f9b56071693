// A private Xvfb for tests that open a display: started once per process,
// GTK initialised on it. Tests skip when Xvfb is not installed.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>

#include "tools/testsupport/xvfb.h"

class PrivateXvfb {
 public:
  // True when GTK runs on a display of our own.
  static bool Ready() {
    static PrivateXvfb server;
    return server.ready_;
  }

 private:
  PrivateXvfb() {
    if (xvfb_.Display().empty()) return;
    setenv("DISPLAY", xvfb_.Display().c_str(), 1);
    ready_ = gtk_init_check(nullptr, nullptr);
  }

  tools_test::XvfbServer xvfb_{"-screen", "0", "1024x768x24"};
  bool ready_ = false;
};

#define REQUIRE_XVFB()                                              \
  do {                                                              \
    if (!PrivateXvfb::Ready()) GTEST_SKIP() << "Xvfb is not available"; \
  } while (0)

// Runs the GTK main loop until nothing is pending.
inline void DrainEvents() {
  for (int i = 0; i < 50; ++i) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  }
}
