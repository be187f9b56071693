// The server's order of driver calls: every driver's Probe, then PreInit of
// each screen in index order, FreeScreen for the refused ones.
#include "platform/xserver/server_state.h"

namespace xstub {

bool XServer::Probe(int flags) {
  detail::ServerState& s = *state_;
  s.detecting = (flags & PROBE_DETECT) != 0;
  bool found = false;
  const std::vector<DriverPtr> drivers = s.drivers;
  for (DriverPtr driver : drivers) {
    if (driver->Probe != nullptr && driver->Probe(driver, flags)) found = true;
  }
  s.detecting = false;
  for (ScrnInfoPtr screen : s.table) detail::AttachConfiguredScreen(s, screen);
  return found;
}

int XServer::PreInitScreens() {
  detail::ServerState& s = *state_;
  const std::vector<ScrnInfoPtr> screens = s.table;
  for (ScrnInfoPtr screen : screens) {
    if (screen->PreInit != nullptr && screen->PreInit(screen, 0)) continue;
    const int index = screen->scrnIndex;
    if (screen->FreeScreen != nullptr) screen->FreeScreen(index, 0);
    xf86DeleteScreen(index, 0);
  }
  return static_cast<int>(s.table.size());
}

const std::vector<int>& XServer::DdcPropertyScreens() const { return state_->ddc_properties; }

}  // namespace xstub
