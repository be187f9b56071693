// Test-facing control of the X server stand-in's screen side: the loader,
// the configuration, the PCI bus and its entities, the video BIOS, and the
// server's order of driver calls (set-up, probe, PreInit per screen).
//
// One XServer may be installed at a time; it lives inside a test after the
// Sandbox (whose file, PCI and message services it uses) and owns every
// record it makes: screens, configuration records, entities, modules.
#pragma once

#include <stdint.h>

#include <compare>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xserver/dix.h"
#include "platform/xserver/xf86_cursor.h"
#include "platform/xserver/xf86_server.h"

namespace xstub {

namespace detail {
class ServerState;
}

// Private slots each record carries; an index beyond them is refused.
inline constexpr int kPrivateSlots = 64;

// The server's video-driver interface: release 7.2.0, driver ABI 1.1.
inline constexpr uint32_t kServerVersion = 70200000;
inline constexpr uint32_t kVideoDriverAbi = 0x00010001;

struct PciLocationId {
  int bus = 0;
  int device = 0;
  int function = 0;
  auto operator<=>(const PciLocationId&) const = default;
};

// A board's video BIOS as int10 runs it: the VBE calls "get current mode"
// (AX 0x4F03) and "set mode" (AX 0x4F02); every other call fails. The test
// owns the model and reads its call log.
struct VbeModel {
  struct Call {
    int ax;      // as the driver asked
    int bx;
    int ax_out;  // as the call left it
    int bx_out;
  };
  uint16_t current_mode = 3;  // the console's mode (BX of 0x4F03)
  bool fail = false;          // every call answers failure (AX 0x014F)
  std::vector<Call> calls;
};

// A sub-module a driver asked for.
struct SubModuleLoad {
  std::string name;
  int screen;  // -1 when the driver itself asked
  bool loaded;
};

// One xf86SetOperatingState call.
struct ResourceState {
  std::vector<resRange> ranges;
  int mask;  // ResUnusedOpr or ResDisableOpr
};

// A screen-layer set-up call a driver made (backing store, silken mouse,
// software cursor, power management, shadow framebuffer, ...).
struct ScreenCall {
  std::string name;
  int screen;
};

// The access callbacks of an entity, as the server runs them around other
// devices' accesses.
enum class AccessKind { kMem, kIo, kIoMem };

// A cursor a test shows: a two-colour image (source and mask bits) or an
// ARGB one, with its hot spot and colours, in the records the cursor layer
// hands to a driver.
class TestCursor {
 public:
  TestCursor(int width, int height, int xhot = 0, int yhot = 0, bool argb = false);
  CursorPtr get() { return &cursor_; }
  void SetSource(int x, int y, bool on = true);
  void SetMask(int x, int y, bool on = true);
  void SetArgb(int x, int y, CARD32 pixel);
  // 16-bit components.
  void SetColours(CARD16 fr, CARD16 fg, CARD16 fb, CARD16 br, CARD16 bg, CARD16 bb);

 private:
  size_t RowBytes() const { return (static_cast<size_t>(bits_.width) + 31) / 32 * 4; }
  std::vector<unsigned char> source_, mask_;
  std::vector<CARD32> argb_;
  CursorBits bits_{};
  CursorRec cursor_{};
};

class XServer {
 public:
  // Installs the server; a second one while one is installed aborts.
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  static XServer* Current();

  // ---- Configuration ----------------------------------------------------
  // Reads an X configuration text through the configuration library's
  // parser; false (with the parser's message on stderr) when it is refused.
  // The active layout is the first ServerLayout section, else the first
  // Screen section; the Device sections of its screens are the ones drivers
  // see.
  bool ReadConfig(std::string_view text);
  // The same for a file of the sandbox.
  bool ReadConfigFile(std::string_view system_path);

  // ---- Loader -----------------------------------------------------------
  struct LoadResult {
    bool ok = false;
    int errmaj = 0;
    int errmin = 0;
    std::string error;  // why it failed, for the test's message
  };
  // Loads a module file with dlopen, checks its version record (the two
  // magic words, ABI class "X.Org Video Driver", ABI major 1 and minor at
  // most 1) and runs its set-up function. The module's data record is the
  // symbol "<name>ModuleData", the name being the file's base name up to
  // its first '_'.
  LoadResult LoadModule(const std::string& host_path);
  // The same for a module linked into the test.
  LoadResult LoadModuleData(std::string_view name, const XF86ModuleData* data);
  // xf86LoadSubModule of this name answers null from now on.
  void WithholdSubModule(std::string_view name);
  const std::vector<SubModuleLoad>& SubModuleLoads() const;
  bool SubModuleLoaded(std::string_view name) const;
  // Every symbol of LoaderRefSymLists, and of xf86LoaderReqSymLists and
  // xf86LoaderReqSymbols, in order.
  const std::vector<std::string>& ReferencedSymbols() const;
  const std::vector<std::string>& RequiredSymbols() const;
  // A symbol that xf86LoaderCheckSymbol and LoaderSymbol find: what a loaded
  // server module offers. Null removes it.
  void OfferSymbol(std::string_view name, void* address);
  const std::vector<ExtensionModule>& Extensions() const;
  const std::vector<DriverPtr>& Drivers() const;

  // ---- Bus, entities, BIOS ------------------------------------------------
  // The primary display device; by default the first VGA-class display
  // device with I/O decoding on, in bus order.
  void SetPrimaryPci(PciLocationId at);
  // Registering the resources of this board fails.
  void ForceResourceConflict(PciLocationId at);
  // The video BIOS of a board for int10; without one, xf86InitInt10 fails.
  void SetVbe(PciLocationId at, VbeModel* model);
  int NumEntities() const;
  const EntityInfoRec* Entity(int index) const;
  bool EntityClaimed(int index) const;
  const std::vector<ResourceState>& OperatingStates(int entity) const;
  bool ResourcesRegistered(int entity) const;
  // Runs the entity's enable callback of that kind; false when it has none.
  bool RunAccessEnable(int entity, AccessKind kind);
  // Mappings of xf86MapPciMem still in place.
  size_t VideoMappingCount() const;
  // Screens whose monitor description xf86SetDDCproperties received.
  const std::vector<int>& DdcPropertyScreens() const;

  // ---- The server's order -------------------------------------------------
  // Runs every registered driver's Probe with the flags (PROBE_DETECT for a
  // detect-only run), then gives each screen its configured Screen section
  // and monitor. True when any driver found a board.
  bool Probe(int flags = PROBE_DEFAULT);
  // PreInit of every screen in index order; a screen whose PreInit fails
  // gets FreeScreen and leaves the table. Answers the number of screens
  // left.
  int PreInitScreens();
  // ScreenInit of every screen in index order, each on a fresh ScreenRec
  // after its access callback; then the modules' extensions are set up.
  // False at the first screen that fails (the server would stop there).
  bool InitScreens();
  // LeaveVT of every screen in order; EnterVT of every screen in order
  // (after its access callback), the palette reloaded where colormap
  // handling is installed. EnterVT answers whether every screen came back.
  void LeaveVT();
  bool EnterVT();
  // The server's mode switch of one screen: the driver's SwitchMode, then
  // the current mode and, with CMAP_RELOAD_ON_MODE_SWITCH, the palette.
  bool SwitchMode(int scrnIndex, DisplayModePtr mode);
  // Runs the main loop `iterations` times: each screen's BlockHandler, then
  // its WakeupHandler.
  void RunMainLoop(int iterations = 1);
  // CloseScreen of every screen from the last to the first.
  void CloseScreens();
  // FreeScreen of every screen in order; the table is empty afterwards.
  void FreeScreens();

  // ---- The screen layer as the driver left it ------------------------------
  // The server's own BlockHandler runs (under any wrappers).
  int BlockHandlerRuns(int scrnIndex) const;
  // Whether the server's own CloseScreen ran for the screen.
  bool ScreenClosed(int scrnIndex) const;
  // LoadPalette calls made by colormap handling.
  int PaletteLoads(int scrnIndex) const;
  // Screen-layer set-up calls, in order.
  const std::vector<ScreenCall>& ScreenCalls() const;
  bool ScreenCalled(std::string_view name, int scrnIndex) const;

  // ---- Clients, extensions and windows (dix.h) ------------------------------
  // A client of the server; a swapped one sends and receives multi-byte
  // fields in the other byte order. The server owns it.
  ClientPtr NewClient(bool swapped = false);
  // One request from the client: the server counts the client's sequence
  // number, reads the length from the header in the client's byte order and
  // hands the extension of the major opcode a buffer of exactly that many
  // 4-byte units (bytes beyond `bytes` read as zero, bytes beyond the length
  // are not part of it), through its swapped procedure for a swapped
  // client. A length of 0, or an opcode no extension has, answers the
  // error itself. A status other than Success is sent to the client as an
  // X error packet. Answers the status.
  int Request(ClientPtr client, const std::vector<uint8_t>& bytes);
  // What was written to the client since the last call: replies and error
  // packets in order.
  std::vector<uint8_t> TakeOutput(ClientPtr client);
  // The major opcode of an extension added in this generation, else -1.
  int ExtensionMajor(std::string_view name) const;
  // The next AddExtension answers null.
  void FailNextAddExtension();
  // A server reset: the extensions' CloseDown procedures run (last added
  // first), the table empties and serverGeneration counts one more.
  void ResetServer();
  // A window LookupWindow finds, on the screen of that index (or none).
  WindowPtr AddWindow(XID id, int scrnIndex = 0);
  // The server's own Xinerama (noPanoramiXExtension is its negation).
  void SetXinerama(bool on);
  // screenInfo's slot of that index; numScreens grows to include it. A null
  // screen leaves an empty slot. NewScreen fills the slot of its screen.
  void SetScreenSlot(int index, ScreenPtr screen);

  // ---- Cursor layer (xf86_cursor.h) ----------------------------------------
  // The server shows `cursor` with its hot spot at (x, y): when the screen
  // has a hardware cursor whose record takes the cursor (its size within
  // the maximum, the use callback agreeing; an ARGB cursor needs the ARGB
  // callbacks) the layer calls hide, the image load (two-colour images
  // realised in the layout of the record's flags), the colours (two-colour
  // only), the position and show. Otherwise the software cursor takes it,
  // after a hide when the hardware cursor was showing. Answers whether the
  // hardware cursor shows it.
  bool DisplayCursor(int scrnIndex, CursorPtr cursor, int x, int y);
  // The pointer moved: the hardware cursor's position (x, y less the hot
  // spot) is set.
  void MoveCursor(int scrnIndex, int x, int y);
  // Every callback the layer called for the screen, by name ("UseHWCursor",
  // "UseHWCursorARGB", "HideCursor", "LoadCursorImage", "LoadCursorARGB",
  // "SetCursorColors", "SetCursorPosition", "ShowCursor"), in order.
  const std::vector<std::string>& CursorCalls(int scrnIndex);
  // Forgets them (a harness that shows millions of cursors).
  void ClearCursorCalls(int scrnIndex);
  // The record xf86InitCursor gave the screen, or null.
  xf86CursorInfoPtr CursorInfo(int scrnIndex);

  // ---- Power management ------------------------------------------------------
  // The server sets a DPMS level on the screen through the hook that
  // xf86DPMSInit installed; false when there is none.
  bool SetDPMS(int scrnIndex, int level);

  // ---- Bare records for unit tests ----------------------------------------
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
