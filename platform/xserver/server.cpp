// The server's order of driver calls: every driver's Probe, then PreInit of
// each screen in index order, FreeScreen for the refused ones.
#include <algorithm>

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

namespace {

// The server's first viewport of a screen after its PreInit: the Display
// subsection's, else centred on the virtual screen, the size of the first
// mode, kept inside the virtual screen.
void InitViewport(ScrnInfoPtr screen) {
  if (screen->modes == nullptr) return;
  const int w = screen->modes->HDisplay, h = screen->modes->VDisplay;
  if (screen->display != nullptr && screen->display->frameX0 >= 0) {
    screen->frameX0 = screen->display->frameX0;
    screen->frameY0 = screen->display->frameY0;
  } else {
    screen->frameX0 = (screen->virtualX - w) / 2;
    screen->frameY0 = (screen->virtualY - h) / 2;
  }
  screen->frameX0 = std::max(0, std::min(screen->frameX0, screen->virtualX - w));
  screen->frameY0 = std::max(0, std::min(screen->frameY0, screen->virtualY - h));
  screen->frameX1 = screen->frameX0 + w - 1;
  screen->frameY1 = screen->frameY0 + h - 1;
}

}  // namespace

int XServer::PreInitScreens() {
  detail::ServerState& s = *state_;
  const std::vector<ScrnInfoPtr> screens = s.table;
  for (ScrnInfoPtr screen : screens) {
    if (screen->PreInit != nullptr && screen->PreInit(screen, 0)) {
      InitViewport(screen);
      continue;
    }
    const int index = screen->scrnIndex;
    if (screen->FreeScreen != nullptr) screen->FreeScreen(index, 0);
    xf86DeleteScreen(index, 0);
  }
  return static_cast<int>(s.table.size());
}

const std::vector<int>& XServer::DdcPropertyScreens() const { return state_->ddc_properties; }

}  // namespace xstub

namespace xstub {
namespace {

void EnableAccess(ScrnInfoPtr screen) {
  if (screen->access.AccessEnable != nullptr) screen->access.AccessEnable(screen->access.arg);
}

}  // namespace

bool XServer::InitScreens() {
  detail::ServerState& s = *state_;
  const std::vector<ScrnInfoPtr> screens = s.table;
  for (ScrnInfoPtr info : screens) {
    ScreenPtr screen = NewScreen(info);
    EnableAccess(info);
    if (info->ScreenInit == nullptr || !info->ScreenInit(info->scrnIndex, screen, 0, nullptr)) {
      s.failed_screen_inits.push_back(info->scrnIndex);
      return false;
    }
  }
  for (const ExtensionModule& e : s.extensions) {
    if (e.initFunc != nullptr && (e.disablePtr == nullptr || !*e.disablePtr)) e.initFunc();
  }
  return true;
}

void XServer::LeaveVT() {
  for (ScrnInfoPtr info : state_->table) {
    if (info->LeaveVT != nullptr) info->LeaveVT(info->scrnIndex, 0);
  }
}

bool XServer::EnterVT() {
  detail::ServerState& s = *state_;
  bool all = true;
  for (ScrnInfoPtr info : s.table) {
    EnableAccess(info);
    if (info->EnterVT == nullptr || !info->EnterVT(info->scrnIndex, 0)) {
      all = false;
      continue;
    }
    if (info->pScreen != nullptr) detail::LoadPalette(s, s.Layer(info->pScreen), {});
  }
  return all;
}

bool XServer::SwitchMode(int scrnIndex, DisplayModePtr mode) {
  detail::ServerState& s = *state_;
  if (scrnIndex < 0 || scrnIndex >= static_cast<int>(s.table.size())) return false;
  ScrnInfoPtr info = s.table[static_cast<size_t>(scrnIndex)];
  if (info->SwitchMode == nullptr || !info->SwitchMode(scrnIndex, mode, 0)) return false;
  info->currentMode = mode;
  if (info->pScreen != nullptr) {
    detail::LayerScreen& layer = s.Layer(info->pScreen);
    if (layer.cmap_flags & CMAP_RELOAD_ON_MODE_SWITCH) detail::LoadPalette(s, layer, {});
  }
  return true;
}

void XServer::RunMainLoop(int iterations) {
  for (int i = 0; i < iterations; ++i) {
    for (ScrnInfoPtr info : state_->table) {
      ScreenPtr screen = info->pScreen;
      if (screen == nullptr) continue;
      int timeout = 0;
      if (screen->BlockHandler != nullptr)
        screen->BlockHandler(info->scrnIndex, screen->blockData, &timeout, nullptr);
      if (screen->WakeupHandler != nullptr)
        screen->WakeupHandler(info->scrnIndex, screen->wakeupData, 0, nullptr);
    }
  }
}

void XServer::CloseScreens() {
  const std::vector<ScrnInfoPtr> screens = state_->table;
  for (auto it = screens.rbegin(); it != screens.rend(); ++it) {
    ScreenPtr screen = (*it)->pScreen;
    if (screen != nullptr && screen->CloseScreen != nullptr)
      screen->CloseScreen((*it)->scrnIndex, screen);
  }
}

void XServer::FreeScreens() {
  detail::ServerState& s = *state_;
  const std::vector<ScrnInfoPtr> screens = s.table;
  for (ScrnInfoPtr info : screens) {
    if (info->FreeScreen != nullptr) info->FreeScreen(info->scrnIndex, 0);
  }
  while (!s.table.empty()) xf86DeleteScreen(0, 0);
}

int XServer::BlockHandlerRuns(int scrnIndex) const {
  for (const auto& l : state_->layers) {
    if (l->screen != nullptr && l->screen->myNum == scrnIndex) return l->block_handler_runs;
  }
  return 0;
}

bool XServer::ScreenClosed(int scrnIndex) const {
  for (const auto& l : state_->layers) {
    if (l->screen != nullptr && l->screen->myNum == scrnIndex) return l->closed;
  }
  return false;
}

int XServer::PaletteLoads(int scrnIndex) const {
  for (const auto& l : state_->layers) {
    if (l->screen != nullptr && l->screen->myNum == scrnIndex) return l->palette_loads;
  }
  return 0;
}

const std::vector<ScreenCall>& XServer::ScreenCalls() const { return state_->screen_calls; }

bool XServer::ScreenCalled(std::string_view name, int scrnIndex) const {
  for (const ScreenCall& c : state_->screen_calls) {
    if (c.name == name && c.screen == scrnIndex) return true;
  }
  return false;
}

}  // namespace xstub
