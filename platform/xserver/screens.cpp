// The server object, the screen table and the private slots of screen
// records.
#include <stdio.h>
#include <stdlib.h>

#include "platform/xserver/dix.h"
#include "platform/xserver/server_state.h"
#include "platform/xserver/xv_state.h"
#include "tools/lib/parser/xconfig.h"

extern "C" {
ScrnInfoPtr* xf86Screens = nullptr;
int xf86NumScreens = 0;
unsigned long serverGeneration = 1;
}

namespace xstub {
namespace detail {
void CountBlockHandlerRun(ScreenPtr screen);

namespace {

ServerState* g_server = nullptr;
XServer* g_owner = nullptr;

// Indexes are handed out once per process, as drivers keep them in statics.
int g_scrn_info_indexes = 0;
int g_screen_indexes = 0;

[[noreturn]] void Die(const char* why) {
  fprintf(stderr, "xserver stand-in: %s\n", why);
  abort();
}

void FreeModeList(DisplayModePtr first) {
  // Circular lists end where they started; null-ended ones at null.
  DisplayModePtr mode = first;
  while (mode != nullptr) {
    DisplayModePtr next = mode->next;
    FreeMode(mode);
    if (next == first) break;
    mode = next;
  }
}

// The server's own screen hooks, under whatever layers wrap them.
Bool ServerCloseScreen(int, ScreenPtr screen) {
  if (ServerState* s = g_server) {
    s->Layer(screen).closed = true;
    // The video extension's privates of the screen go with it.
    if (s->xv) s->xv->Forget(screen);
  }
  return TRUE;
}

void ServerBlockHandler(int, pointer blockData, pointer, pointer) {
  CountBlockHandlerRun(static_cast<ScreenPtr>(blockData));
}

Bool ServerCreateColormap(ColormapPtr) { return TRUE; }
void ServerInstallColormap(ColormapPtr colormap) {
  if (ServerState* s = g_server) s->Layer(colormap->pScreen).installed = colormap;
}

}  // namespace

ServerState* CurrentServer() { return g_server; }

void CountBlockHandlerRun(ScreenPtr screen) {
  if (ServerState* s = g_server) ++s->Layer(screen).block_handler_runs;
}

void ServerState::Publish() {
  xf86Screens = table.empty() ? nullptr : table.data();
  xf86NumScreens = static_cast<int>(table.size());
}

ScrnInfoBox* ServerState::BoxOf(ScrnInfoPtr info) {
  for (auto& box : scrn_infos) {
    if (&box->rec == info) return box.get();
  }
  return nullptr;
}

XConfOption* ServerState::TakeOptions(XConfOption* list) {
  if (list != nullptr) option_lists.push_back(list);
  return list;
}

ServerState::~ServerState() {
  // Modes the validation built are the screen's; monitors' EDID records
  // were attached by drivers.
  for (auto& box : scrn_infos) FreeModeList(box->rec.modes);
  for (auto& monitor : monitors) {
    if (monitor->rec.DDC != nullptr) xfree(monitor->rec.DDC);
  }
  for (XConfOption* list : option_lists) xf86optionListFree(list);
  FreeConfig();
  ReleaseVideoMappings(*this);
  CloseModules(*this);
}

}  // namespace detail

XServer::XServer() : state_(std::make_unique<detail::ServerState>()) {
  if (detail::g_server != nullptr) detail::Die("a second X server was created while one is installed");
  detail::g_server = state_.get();
  detail::g_owner = this;
  state_->Publish();
  // A new server starts its first generation with no screens and without
  // its own Xinerama.
  serverGeneration = 1;
  screenInfo = ScreenInfo{};
  noPanoramiXExtension = TRUE;
}

XServer::~XServer() {
  state_.reset();
  detail::g_server = nullptr;
  detail::g_owner = nullptr;
  xf86Screens = nullptr;
  xf86NumScreens = 0;
  screenInfo = ScreenInfo{};
}

XServer* XServer::Current() { return detail::g_owner; }

ScrnInfoPtr XServer::NewScrnInfo() {
  auto box = std::make_unique<detail::ScrnInfoBox>();
  ScrnInfoPtr info = &box->rec;
  info->privates = box->privates;
  info->entityList = box->entities;
  info->entityInstanceList = box->instances;
  info->scrnIndex = static_cast<int>(state_->table.size());
  info->origIndex = info->scrnIndex;
  state_->table.push_back(info);
  state_->scrn_infos.push_back(std::move(box));
  state_->Publish();
  return info;
}

ScreenPtr XServer::NewScreen(ScrnInfoPtr info) {
  auto box = std::make_unique<detail::ScreenBox>();
  ScreenPtr screen = &box->rec;
  screen->devPrivates = box->privates;
  screen->myNum = info->scrnIndex;
  screen->CloseScreen = detail::ServerCloseScreen;
  screen->BlockHandler = detail::ServerBlockHandler;
  screen->blockData = screen;
  screen->CreateColormap = detail::ServerCreateColormap;
  screen->InstallColormap = detail::ServerInstallColormap;
  info->pScreen = screen;
  state_->screens.push_back(std::move(box));
  // The server's screens, by index.
  if (info->scrnIndex >= 0 && info->scrnIndex < MAXSCREENS) SetScreenSlot(info->scrnIndex, screen);
  return screen;
}

int XServer::NumScreens() const { return static_cast<int>(state_->table.size()); }

}  // namespace xstub

extern "C" {

ScrnInfoPtr xf86AllocateScreen(DriverPtr driver, int) {
  xstub::XServer* server = xstub::XServer::Current();
  if (server == nullptr) xstub::detail::Die("xf86AllocateScreen without an X server");
  ScrnInfoPtr info = server->NewScrnInfo();
  info->drv = driver;
  return info;
}

void xf86DeleteScreen(int scrnIndex, int) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || scrnIndex < 0 || scrnIndex >= static_cast<int>(s->table.size())) return;
  ScrnInfoPtr gone = s->table[static_cast<size_t>(scrnIndex)];
  for (int i = 0; i < gone->numEntities; ++i) {
    if (xstub::detail::Entity* e = s->EntityAt(gone->entityList[i])) --e->screens;
  }
  s->table.erase(s->table.begin() + scrnIndex);
  for (size_t i = 0; i < s->table.size(); ++i) s->table[i]->scrnIndex = static_cast<int>(i);
  // The record itself stays owned until the server ends: a driver may still
  // hold it while FreeScreen runs.
  gone->scrnIndex = -1;
  s->Publish();
}

int xf86AllocateScrnInfoPrivateIndex(void) {
  if (xstub::detail::g_scrn_info_indexes >= xstub::kPrivateSlots) return -1;
  return xstub::detail::g_scrn_info_indexes++;
}

int AllocateScreenPrivateIndex(void) {
  if (xstub::detail::g_screen_indexes >= xstub::kPrivateSlots) return -1;
  return xstub::detail::g_screen_indexes++;
}

}  // extern "C"
