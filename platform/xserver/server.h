// Test-facing control of the X server stand-in's screen side: the screen
// table, the private slots of screens, and (as they are added) the loader,
// the configuration, probing and the screens' lifecycle.
//
// One XServer may be installed at a time; it lives inside a test (after the
// Sandbox, whose services it uses) and owns every screen record it makes.
#pragma once

#include <memory>

#include "platform/xserver/xf86_server.h"

namespace xstub {

namespace detail {
class ServerState;
}

// Private slots each record carries; an index beyond them is refused.
inline constexpr int kPrivateSlots = 64;

class XServer {
 public:
  // Installs the server; a second one while one is installed aborts.
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  static XServer* Current();

  // A driver-facing screen record at the end of the screen table, as the
  // server makes one for a probed screen (xf86AllocateScreen).
  ScrnInfoPtr NewScrnInfo();
  // The screen layer's record of a screen: myNum is the screen's index, the
  // private slots are empty and the record is linked as its pScreen.
  ScreenPtr NewScreen(ScrnInfoPtr info);
  int NumScreens() const;

  detail::ServerState& state() { return *state_; }

 private:
  std::unique_ptr<detail::ServerState> state_;
};

}  // namespace xstub
