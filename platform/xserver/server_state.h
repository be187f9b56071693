// Internal state of the X server stand-in's screen side, shared by its
// service files.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/xserver/dix_state.h"
#include "platform/xserver/int10.h"
#include "platform/xserver/dga.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xf86_edid.h"

struct XConfFile;
struct XConfOption;

namespace xstub::detail {

struct XvState;

// Entities a screen may drive at once.
inline constexpr int kMaxScreenEntities = 4;

// A screen record with its private slots and entity lists; the server owns
// them.
struct ScrnInfoBox {
  ScrnInfoRec rec{};
  DevUnion privates[kPrivateSlots]{};
  int entities[kMaxScreenEntities]{};
  int instances[kMaxScreenEntities]{};
};

struct ScreenBox {
  ScreenRec rec{};
  DevUnion privates[kPrivateSlots]{};
};

// The configuration as the server keeps it: records built from the parsed
// file, owned here.
struct ConfigMonitor {
  MonRec rec{};
  std::string id, vendor, model;
  // The monitor's modes (mode lines, then the server's built-in modes),
  // linked through next and prev, null-ended.
  std::vector<std::unique_ptr<DisplayModeRec>> modes;
  std::vector<std::unique_ptr<std::string>> texts;
};

struct ConfigDisplay {
  DispRec rec{};
  std::vector<std::string> names;
  std::vector<char*> name_ptrs;  // null-ended, into names
};

struct ConfigDevice {
  GDevRec rec{};
  std::string identifier, vendor, board, chipset, ramdac, driver, busid, clockchip;
};

struct ConfigScreen {
  confScreenRec rec{};
  std::string id;
  std::vector<std::unique_ptr<ConfigDisplay>> displays;
  std::vector<DispRec> display_array;  // what rec.displays points at
};

// One board claimed (or found) by a driver: the server's entity.
struct Entity {
  EntityInfoRec info{};
  pciVideoPtr pci = nullptr;
  std::vector<GDevPtr> instances;  // device sections by head, in Screen order
  bool claimed = false;
  bool sharable = false;
  int screens = 0;  // screens that drive it
  DevUnion privates[kPrivateSlots]{};
  xf86AccessRec access_mem{}, access_io{}, access_io_mem{};
  bool access_set = false;
  std::vector<ResourceState> operating;  // xf86SetOperatingState calls
  bool registered = false;               // xf86RegisterResources succeeded
};

struct VbeBoard {
  PciLocationId at;
  VbeModel* model;
};

PciLocationId LocationOf(const pciVideoRec& pci);

struct VideoMapping {
  void* user;        // what the driver got
  void* mapped;      // page-aligned start of the mapping
  size_t length;     // whole pages
};

// A visual class set registered for a depth (miSetVisualTypes).
struct VisualTypes {
  int depth;
  int visuals;  // class mask
  int bitsPerRGB;
  int preferred;
  unsigned long redMask, greenMask, blueMask;  // 0: the depth's defaults
};

// What the screen layer keeps for one ScreenRec.
struct LayerScreen {
  ScreenPtr screen = nullptr;
  // Framebuffer layer.
  bool fb = false;
  PixmapRec pixmap{};
  std::vector<VisualRec> visuals;
  std::vector<std::vector<XID>> depth_vids;
  std::vector<DepthRec> depths;
  CloseScreenProcPtr fb_wrapped_close = nullptr;
  bool picture = false;
  // Colormaps.
  std::unique_ptr<ColormapRec> default_cmap;
  ColormapPtr installed = nullptr;
  xf86LoadPaletteProc load_palette = nullptr;
  unsigned int cmap_flags = 0;
  int max_colors = 0;
  int palette_loads = 0;
  // Off-screen manager.
  bool fbman = false;
  BoxRec full_box{};
  std::vector<BoxRec> free_boxes;
  std::vector<std::unique_ptr<FBArea>> areas;
  // Shadow framebuffer.
  RefreshAreaFuncPtr shadow_refresh = nullptr;
  // DGA: the driver's functions and modes.
  DGAFunctionPtr dga_funcs = nullptr;
  DGAModePtr dga_modes = nullptr;
  int dga_num = 0;
  bool closed = false;
  int block_handler_runs = 0;
};

class ServerState {
 public:
  ~ServerState();

  // In screen-index order; xf86Screens points at `table`.
  std::vector<std::unique_ptr<ScrnInfoBox>> scrn_infos;
  std::vector<ScrnInfoPtr> table;
  std::vector<std::unique_ptr<ScreenBox>> screens;
  void Publish();  // refreshes xf86Screens and xf86NumScreens
  ScrnInfoBox* BoxOf(ScrnInfoPtr info);

  // Configuration.
  XConfFile* config = nullptr;
  std::vector<std::unique_ptr<ConfigMonitor>> monitors;
  std::vector<std::unique_ptr<ConfigDevice>> devices;  // of the active layout
  std::vector<std::unique_ptr<ConfigScreen>> conf_screens;
  std::vector<std::unique_ptr<DispRec>> default_displays;  // made by xf86SetDepthBpp
  std::vector<XConfOption*> option_lists;  // every list handed out, freed at the end
  XConfOption* TakeOptions(XConfOption* list);
  void FreeConfig();

  // Loader.
  struct Module {
    std::string name;
    void* handle;  // dlopen handle, null for a module linked in
    const XF86ModuleData* data;
  };
  std::vector<Module> modules;
  std::set<std::string> withheld;
  std::vector<SubModuleLoad> sub_loads;
  std::vector<std::string> referenced_symbols;
  std::vector<std::string> required_symbols;
  std::map<std::string, void*> offered_symbols;
  std::vector<ExtensionModule> extensions;
  std::vector<DriverPtr> drivers;

  // Bus and entities.
  bool pci_scanned = false;
  std::vector<std::unique_ptr<pciVideoRec>> pci_devices;
  std::vector<pciVideoPtr> pci_list;  // null-ended
  void ScanPci();
  int primary = -1;  // index into pci_devices, -1 until known
  bool primary_set = false;
  std::vector<std::unique_ptr<Entity>> entities;
  Entity* EntityAt(int index);
  std::set<PciLocationId> conflicts;  // boards whose registration fails
  std::vector<std::unique_ptr<resRec>> conflict_records;
  bool detecting = false;

  // Mappings of xf86MapPciMem.
  std::vector<VideoMapping> video_mappings;
  int mem_fd = -1;

  // int10 models by board.
  std::vector<VbeBoard> vbe;
  VbeModel* VbeFor(int entityIndex);
  std::vector<std::unique_ptr<xf86Int10InfoRec>> int10_records;

  // EDID records interpreted for screens, freed by whoever keeps them.
  std::vector<int> ddc_properties;  // screen indexes given to xf86SetDDCproperties

  // Screen layer.
  std::vector<VisualTypes> visual_types;
  bool pixmap_depths = false;
  std::vector<std::unique_ptr<LayerScreen>> layers;
  LayerScreen& Layer(ScreenPtr screen);
  std::vector<ScreenCall> screen_calls;  // recorded set-up calls
  void Record(const char* name, ScreenPtr screen);
  XID next_id = 0x100;
  std::vector<int> failed_screen_inits;

  // Clients, extensions, windows and the cursor layer.
  DixState dix;
  // The video extension layer (xv_state.h), made on first use.
  std::unique_ptr<XvState> xv;
};

// The installed server's state, or null.
ServerState* CurrentServer();

// Loads the screen's palette through the driver's LoadPalette (every entry,
// or only the listed ones of a pseudo-colour map).
void LoadPalette(ServerState& s, LayerScreen& layer, const std::vector<int>& only);

// Hands boxes the server drew on a screen's pixmap to the shadow
// framebuffer's refresh function, clipped to the screen; nothing without
// ShadowFBInit.
void ShadowDamage(ScreenPtr screen, const std::vector<BoxRec>& boxes);

// Text of one configured Display's or Monitor's records, built once.
void BuildConfigRecords(ServerState& s);

// Gives a probed screen the Screen section of its Device section and that
// section's monitor (the default monitor without one).
void AttachConfiguredScreen(ServerState& s, ScrnInfoPtr screen);

// Frees a server-made mode (xalloc'd record and name).
void FreeMode(DisplayModePtr mode);

// Closes the modules opened with dlopen; the last step of a server's end.
void CloseModules(ServerState& s);
// Unmaps what xf86MapPciMem left mapped and closes /dev/mem.
void ReleaseVideoMappings(ServerState& s);

}  // namespace xstub::detail
