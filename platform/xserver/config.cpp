// The configuration as drivers see it: the file is read by the configuration
// library's parser, and the server's records (monitors with their modes,
// Device sections, Screen sections and their Display subsections) are built
// from the sections of the active layout.
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server_state.h"
#include "platform/xserver/state.h"
#include "tools/lib/parser/xconfig.h"

namespace xstub::detail {
namespace {

// The server's built-in modes: the VESA display monitor timings that a
// monitor offers beside the mode lines of its configuration.
struct DefaultMode {
  const char* name;
  int clock;  // kHz
  int h[4];   // display, sync start, sync end, total
  int v[4];
  int flags;
};

constexpr int kPP = V_PHSYNC | V_PVSYNC;
constexpr int kNN = V_NHSYNC | V_NVSYNC;
constexpr int kNP = V_NHSYNC | V_PVSYNC;

const DefaultMode kDefaultModes[] = {
    {"640x480", 25175, {640, 656, 752, 800}, {480, 490, 492, 525}, kNN},          // 60 Hz
    {"640x480", 31500, {640, 664, 704, 832}, {480, 489, 492, 520}, kNN},          // 72 Hz
    {"640x480", 31500, {640, 656, 720, 840}, {480, 481, 484, 500}, kNN},          // 75 Hz
    {"640x480", 36000, {640, 696, 752, 832}, {480, 481, 484, 509}, kNN},          // 85 Hz
    {"800x600", 36000, {800, 824, 896, 1024}, {600, 601, 603, 625}, kPP},         // 56 Hz
    {"800x600", 40000, {800, 840, 968, 1056}, {600, 601, 605, 628}, kPP},         // 60 Hz
    {"800x600", 50000, {800, 856, 976, 1040}, {600, 637, 643, 666}, kPP},         // 72 Hz
    {"800x600", 49500, {800, 816, 896, 1056}, {600, 601, 604, 625}, kPP},         // 75 Hz
    {"800x600", 56250, {800, 832, 896, 1048}, {600, 601, 604, 631}, kPP},         // 85 Hz
    {"1024x768", 65000, {1024, 1048, 1184, 1344}, {768, 771, 777, 806}, kNN},     // 60 Hz
    {"1024x768", 75000, {1024, 1048, 1184, 1328}, {768, 771, 777, 806}, kNN},     // 70 Hz
    {"1024x768", 78750, {1024, 1040, 1136, 1312}, {768, 769, 772, 800}, kPP},     // 75 Hz
    {"1024x768", 94500, {1024, 1072, 1168, 1376}, {768, 769, 772, 808}, kPP},     // 85 Hz
    {"1152x864", 108000, {1152, 1216, 1344, 1600}, {864, 865, 868, 900}, kPP},    // 75 Hz
    {"1280x960", 108000, {1280, 1376, 1488, 1800}, {960, 961, 964, 1000}, kPP},   // 60 Hz
    {"1280x960", 148500, {1280, 1344, 1504, 1728}, {960, 961, 964, 1011}, kPP},   // 85 Hz
    {"1280x1024", 108000, {1280, 1328, 1440, 1688}, {1024, 1025, 1028, 1066}, kPP},  // 60 Hz
    {"1280x1024", 135000, {1280, 1296, 1440, 1688}, {1024, 1025, 1028, 1066}, kPP},  // 75 Hz
    {"1280x1024", 157500, {1280, 1344, 1504, 1728}, {1024, 1025, 1028, 1072}, kPP},  // 85 Hz
    {"1600x1200", 162000, {1600, 1664, 1856, 2160}, {1200, 1201, 1204, 1250}, kPP},  // 60 Hz
    {"1600x1200", 175500, {1600, 1664, 1856, 2160}, {1200, 1201, 1204, 1250}, kPP},  // 65 Hz
    {"1600x1200", 189000, {1600, 1664, 1856, 2160}, {1200, 1201, 1204, 1250}, kPP},  // 70 Hz
    {"1600x1200", 202500, {1600, 1664, 1856, 2160}, {1200, 1201, 1204, 1250}, kPP},  // 75 Hz
    {"1600x1200", 229500, {1600, 1664, 1856, 2160}, {1200, 1201, 1204, 1250}, kPP},  // 85 Hz
    {"1792x1344", 204750, {1792, 1920, 2120, 2448}, {1344, 1345, 1348, 1394}, kNP},  // 60 Hz
    {"1856x1392", 218250, {1856, 1952, 2176, 2528}, {1392, 1393, 1396, 1439}, kNP},  // 60 Hz
    {"1920x1440", 234000, {1920, 2048, 2256, 2600}, {1440, 1441, 1444, 1500}, kNP},  // 60 Hz
};

char* Keep(std::vector<std::unique_ptr<std::string>>& store, const char* text) {
  if (text == nullptr) return nullptr;
  store.push_back(std::make_unique<std::string>(text));
  return store.back()->data();
}

DisplayModePtr AppendMode(ConfigMonitor& monitor, const char* name,
                          int clock, const int h[4], const int v[4], int flags, int hskew,
                          int vscan, int type) {
  auto mode = std::make_unique<DisplayModeRec>();
  mode->name = Keep(monitor.texts, name);
  mode->status = MODE_OK;
  mode->type = type;
  mode->Clock = clock;
  mode->HDisplay = h[0];
  mode->HSyncStart = h[1];
  mode->HSyncEnd = h[2];
  mode->HTotal = h[3];
  mode->HSkew = hskew;
  mode->VDisplay = v[0];
  mode->VSyncStart = v[1];
  mode->VSyncEnd = v[2];
  mode->VTotal = v[3];
  mode->VScan = vscan;
  mode->Flags = flags;
  DisplayModePtr p = mode.get();
  if (monitor.rec.Last != nullptr) {
    monitor.rec.Last->next = p;
    p->prev = monitor.rec.Last;
  } else {
    monitor.rec.Modes = p;
  }
  monitor.rec.Last = p;
  monitor.modes.push_back(std::move(mode));
  return p;
}

void AppendModeLines(ConfigMonitor& monitor, XConfModeLine* lines) {
  for (XConfModeLine* l = lines; l != nullptr; l = l->next) {
    const int h[4] = {l->hdisplay, l->hsyncstart, l->hsyncend, l->htotal};
    const int v[4] = {l->vdisplay, l->vsyncstart, l->vsyncend, l->vtotal};
    AppendMode(monitor, l->identifier, l->clock, h, v, l->flags, l->hskew, l->vscan,
               M_T_USERDEF);
  }
}

ConfigMonitor* BuildMonitor(ServerState& s, XConfMonitor* conf) {
  for (size_t i = 0; i < s.monitors.size(); ++i) {
    if (conf != nullptr && s.monitors[i]->id == conf->identifier) return s.monitors[i].get();
  }
  auto monitor = std::make_unique<ConfigMonitor>();
  MonRec& rec = monitor->rec;
  if (conf != nullptr) {
    monitor->id = conf->identifier ? conf->identifier : "";
    monitor->vendor = conf->vendor ? conf->vendor : "";
    monitor->model = conf->model ? conf->model : "";
    rec.nHsync = conf->n_hsync < MAX_HSYNC ? conf->n_hsync : MAX_HSYNC;
    for (int i = 0; i < rec.nHsync; ++i) rec.hsync[i] = {conf->hsync[i].hi, conf->hsync[i].lo};
    rec.nVrefresh = conf->n_vrefresh < MAX_VREFRESH ? conf->n_vrefresh : MAX_VREFRESH;
    for (int i = 0; i < rec.nVrefresh; ++i)
      rec.vrefresh[i] = {conf->vrefresh[i].hi, conf->vrefresh[i].lo};
    rec.gamma = {conf->gamma_red, conf->gamma_green, conf->gamma_blue};
    rec.widthmm = conf->width;
    rec.heightmm = conf->height;
    rec.options = s.TakeOptions(xf86optionListDup(conf->options));
    AppendModeLines(*monitor, conf->modelines);
    for (XConfModesLink* link = conf->modes_links; link != nullptr; link = link->next) {
      if (link->modes != nullptr) AppendModeLines(*monitor, link->modes->modelines);
    }
  } else {
    monitor->id = "<default monitor>";
  }
  rec.id = monitor->id.data();
  rec.vendor = monitor->vendor.data();
  rec.model = monitor->model.data();
  for (const DefaultMode& d : kDefaultModes) {
    AppendMode(*monitor, d.name, d.clock, d.h, d.v, d.flags, 0, 0, M_T_DEFAULT);
  }
  s.monitors.push_back(std::move(monitor));
  return s.monitors.back().get();
}

int VisualByName(const char* name) {
  if (name == nullptr) return -1;
  static const struct {
    const char* name;
    int visual;
  } kVisuals[] = {{"StaticGray", StaticGray}, {"GrayScale", GrayScale},
                  {"StaticColor", StaticColor}, {"PseudoColor", PseudoColor},
                  {"TrueColor", TrueColor}, {"DirectColor", DirectColor}};
  for (const auto& v : kVisuals) {
    if (xf86nameCompare(v.name, name) == 0) return v.visual;
  }
  return -1;
}

ConfigDevice* BuildDevice(ServerState& s, XConfDevice* conf) {
  for (auto& d : s.devices) {
    if (d->identifier == (conf->identifier ? conf->identifier : "")) return d.get();
  }
  auto device = std::make_unique<ConfigDevice>();
  auto text = [](const char* t) { return std::string(t ? t : ""); };
  device->identifier = text(conf->identifier);
  device->vendor = text(conf->vendor);
  device->board = text(conf->board);
  device->chipset = text(conf->chipset);
  device->ramdac = text(conf->ramdac);
  device->driver = text(conf->driver);
  device->busid = text(conf->busid);
  device->clockchip = text(conf->clockchip);
  GDevRec& rec = device->rec;
  auto ptr = [](std::string& t) { return t.empty() ? nullptr : t.data(); };
  rec.identifier = device->identifier.data();
  rec.vendor = ptr(device->vendor);
  rec.board = ptr(device->board);
  rec.chipset = ptr(device->chipset);
  rec.ramdac = ptr(device->ramdac);
  rec.driver = ptr(device->driver);
  rec.busID = ptr(device->busid);
  rec.clockchip = ptr(device->clockchip);
  for (int i = 0; i < MAXDACSPEEDS && i < kConfMaxDacSpeeds; ++i) rec.dacSpeeds[i] = conf->dacspeeds[i];
  rec.numclocks = conf->clocks < MAXCLOCKS ? conf->clocks : MAXCLOCKS;
  for (int i = 0; i < rec.numclocks; ++i) rec.clock[i] = conf->clock[i];
  rec.active = TRUE;
  rec.videoRam = conf->videoram;
  rec.textClockFreq = conf->textclockfreq;
  rec.BiosBase = conf->bios_base;
  rec.MemBase = conf->mem_base;
  rec.IOBase = conf->io_base;
  rec.chipID = conf->chipid;
  rec.chipRev = conf->chiprev;
  rec.irq = conf->irq;
  rec.screen = conf->screen < 0 ? 0 : conf->screen;
  rec.options = s.TakeOptions(xf86optionListDup(conf->options));
  s.devices.push_back(std::move(device));
  return s.devices.back().get();
}

void BuildScreen(ServerState& s, XConfScreen* conf, int number) {
  auto screen = std::make_unique<ConfigScreen>();
  screen->id = conf->identifier ? conf->identifier : "";
  confScreenRec& rec = screen->rec;
  rec.id = screen->id.data();
  rec.screennum = number;
  rec.defaultdepth = conf->default_depth;
  rec.defaultbpp = conf->default_bpp;
  rec.defaultfbbpp = conf->default_fbbpp;
  rec.monitor = &BuildMonitor(s, conf->monitor)->rec;
  rec.options = s.TakeOptions(xf86optionListDup(conf->options));
  for (XConfDisplay* d = conf->displays; d != nullptr; d = d->next) {
    auto display = std::make_unique<ConfigDisplay>();
    DispRec& dr = display->rec;
    dr.frameX0 = d->viewport_x;
    dr.frameY0 = d->viewport_y;
    dr.virtualX = d->virtual_x;
    dr.virtualY = d->virtual_y;
    dr.depth = d->depth;
    dr.fbbpp = d->fbbpp;
    dr.weight = {static_cast<CARD32>(d->weight_red), static_cast<CARD32>(d->weight_green),
                 static_cast<CARD32>(d->weight_blue)};
    dr.blackColour = {static_cast<CARD32>(d->black_red), static_cast<CARD32>(d->black_green),
                      static_cast<CARD32>(d->black_blue)};
    dr.whiteColour = {static_cast<CARD32>(d->white_red), static_cast<CARD32>(d->white_green),
                      static_cast<CARD32>(d->white_blue)};
    dr.defaultVisual = VisualByName(d->visual);
    for (XConfModeName* m = d->modes; m != nullptr; m = m->next) display->names.emplace_back(m->name);
    for (std::string& n : display->names) display->name_ptrs.push_back(n.data());
    display->name_ptrs.push_back(nullptr);
    dr.modes = display->name_ptrs.data();
    dr.options = s.TakeOptions(xf86optionListDup(d->options));
    screen->displays.push_back(std::move(display));
  }
  for (auto& d : screen->displays) screen->display_array.push_back(d->rec);
  // Display records live in one array, as the server keeps them; the name
  // arrays stay with their ConfigDisplay.
  rec.numdisplays = static_cast<int>(screen->display_array.size());
  rec.displays = screen->display_array.empty() ? nullptr : screen->display_array.data();
  if (conf->device != nullptr) {
    ConfigDevice* device = BuildDevice(s, conf->device);
    device->rec.myScreenSection = &screen->rec;
    rec.device = &device->rec;
  }
  s.conf_screens.push_back(std::move(screen));
}

}  // namespace

void BuildConfigRecords(ServerState& s) {
  XConfFile* file = s.config;
  if (file == nullptr) return;
  if (file->layouts != nullptr) {
    int number = 0;
    for (XConfAdjacency* a = file->layouts->adjacencies; a != nullptr; a = a->next) {
      if (a->screen == nullptr) continue;
      BuildScreen(s, a->screen, a->screen_num >= 0 ? a->screen_num : number);
      ++number;
    }
  } else if (file->screens != nullptr) {
    BuildScreen(s, file->screens, 0);
  }
}

void AttachConfiguredScreen(ServerState& s, ScrnInfoPtr screen) {
  GDevPtr device = nullptr;
  if (screen->numEntities > 0)
    device = xf86GetDevFromEntity(screen->entityList[0], screen->entityInstanceList[0]);
  screen->confScreen = device != nullptr ? device->myScreenSection : nullptr;
  screen->monitor = screen->confScreen != nullptr ? screen->confScreen->monitor
                                                  : &BuildMonitor(s, nullptr)->rec;
}

void ServerState::FreeConfig() {
  conf_screens.clear();
  devices.clear();
  monitors.clear();
  if (config != nullptr) {
    xf86freeConfig(config);
    config = nullptr;
  }
}

}  // namespace xstub::detail

namespace xstub {

bool XServer::ReadConfig(std::string_view text) {
  detail::ServerState& s = *state_;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.emplace_back(text.substr(start, end - start));
    start = end;
  }
  std::vector<const char*> pointers;
  for (const std::string& l : lines) pointers.push_back(l.c_str());
  pointers.push_back(nullptr);
  xf86setBuiltinConfig(pointers.data());
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  if (file == nullptr) return false;
  s.FreeConfig();
  s.config = file;
  detail::BuildConfigRecords(s);
  return true;
}

bool XServer::ReadConfigFile(std::string_view system_path) {
  detail::State* sandbox = detail::Current();
  if (sandbox == nullptr || sandbox->owner == nullptr) return false;
  std::optional<std::string> text = sandbox->owner->ReadFile(system_path);
  return text.has_value() && ReadConfig(*text);
}

}  // namespace xstub

extern "C" int xf86MatchDevice(const char* drivername, GDevPtr** sections) {
  if (sections != nullptr) *sections = nullptr;
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || drivername == nullptr || sections == nullptr) return 0;
  std::vector<GDevPtr> found;
  for (auto& d : s->devices) {
    if (d->rec.driver != nullptr && xf86NameCmp(d->rec.driver, drivername) == 0)
      found.push_back(&d->rec);
  }
  if (found.empty()) return 0;
  auto* list = static_cast<GDevPtr*>(xcalloc(found.size() + 1, sizeof(GDevPtr)));
  if (list == nullptr) return 0;
  for (size_t i = 0; i < found.size(); ++i) list[i] = found[i];
  *sections = list;
  return static_cast<int>(found.size());
}
