// The fake configuration-extension server as the display of a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/orvcfg/fake_orvcfg_server.h"

namespace tools_test {

// A reply body: `n` bytes from `p`.
inline std::vector<uint8_t> Bytes(const void* p, size_t n) {
  auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

// Starts `server` and makes it the display the library connects to.
inline testing::AssertionResult ServeAsDisplay(FakeOrvCfgServer& server) {
  if (!server.Start()) return testing::AssertionFailure() << "the fake extension server did not start";
  setenv("DISPLAY", server.DisplayName().c_str(), 1);
  return testing::AssertionSuccess();
}

}  // namespace tools_test
