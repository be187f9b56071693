// The built module orv_drv as the server sees it: its version record read
// from the file as the tools read it, its exports and undefined symbols,
// and, loaded by the X server stand-in, driving a screen on a simulated board
// from PreInit to FreeScreen. This program links none of the driver's code.
#include <dlfcn.h>
#include <stdio.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/board/chip_2d.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/ddc_devices.h"
#include "platform/xserver/xaa_front.h"
#include "tests/support/module_symbols.h"
#include "tools/lib/elfloader.h"
#include "xdriver/orv_rec.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using testsupport::DefinedIn;
using testsupport::InRuntime;
using testsupport::UndefinedIn;

TEST(OrvDrvModule, TheToolsReadVersionOneFourSevenFromTheFile) {
  int major = 0, minor = 0, patch = 0;
  ASSERT_EQ(GetModuleVersion(ORV_DRV_PATH, &major, &minor, &patch), 0);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 4);
  EXPECT_EQ(patch, 7);
}

// The hooks the board's OpenGL module looks up in the driver module.
const char* const kGlxHooks[] = {"ORVGLXInitialize",         "ORVGLXCleanup",
                                 "ORVGLXEnableDirectClient", "ORVGLXDisableDirectClient",
                                 "ORVGLXAllocateClientBuffer", "ORVGLXFreeClientBuffer",
                                 "ORVGLXGetModeInfo"};

TEST(OrvDrvModule, ExportsOnlyItsRecordsAndTheOpenGlHooks) {
  std::set<std::string> ours;
  for (const std::string& s : testsupport::ExportedBy(ORV_DRV_PATH)) {
    if (s != "_init" && s != "_fini") ours.insert(s);
  }
  std::set<std::string> expected = {"orvExtensionModules", "orvModuleData"};
  expected.insert(std::begin(kGlxHooks), std::end(kGlxHooks));
  EXPECT_EQ(ours, expected);
}

// A stand-in of the board's OpenGL module: it finds the driver's hooks by
// name in the loaded driver module, as the real one does.
struct OpenGlModule {
  using Initialize = int (*)(ScreenPtr, void (*)(int, int));
  using Cleanup = int (*)(ScreenPtr);
  using GetModeInfo = int (*)(ScreenPtr, uint32_t*);

  explicit OpenGlModule(const char* driver) : handle(dlopen(driver, RTLD_NOW | RTLD_NOLOAD)) {
    if (handle == nullptr) return;
    for (const char* name : kGlxHooks) found += dlsym(handle, name) != nullptr;
    initialize = reinterpret_cast<Initialize>(dlsym(handle, "ORVGLXInitialize"));
    cleanup = reinterpret_cast<Cleanup>(dlsym(handle, "ORVGLXCleanup"));
    getModeInfo = reinterpret_cast<GetModeInfo>(dlsym(handle, "ORVGLXGetModeInfo"));
  }
  ~OpenGlModule() {
    if (handle != nullptr) dlclose(handle);
  }
  OpenGlModule(const OpenGlModule&) = delete;
  OpenGlModule& operator=(const OpenGlModule&) = delete;

  void* handle;
  int found = 0;
  Initialize initialize = nullptr;
  Cleanup cleanup = nullptr;
  GetModeInfo getModeInfo = nullptr;
};

void ModeSwitchNotice(int, int) { ADD_FAILURE() << "a refused module gets no notice"; }

TEST(OrvDrvModule, EveryUndefinedSymbolIsAServerServiceOrTheRuntime) {
  const std::set<std::string> services = DefinedIn(ORV_XSERVER_LIB);
  const std::set<std::string> log = DefinedIn(ORV_STANDIN_LOG_LIB);
  ASSERT_FALSE(services.empty());
  // The module that ships needs the server's services and nothing else.
  const std::set<std::string> shipped = UndefinedIn(ORV_DRV_PATH);
  ASSERT_FALSE(shipped.empty());
  for (const std::string& name : shipped) {
    EXPECT_TRUE(services.count(name) || InRuntime(name)) << name;
    EXPECT_EQ(log.count(name), 0u) << name;
  }
  EXPECT_EQ(shipped.count("xf86DrvMsg"), 1u);
  EXPECT_EQ(shipped.count("xf86MatchPciInstances"), 1u);
  EXPECT_EQ(shipped.count("XAAInit"), 1u);
}

TEST(OrvDrvModule, TheServerLoadsItOnceAndASecondSetUpIsRefused) {
  xstub::Sandbox box;
  xstub::XServer server;
  xstub::XServer::LoadResult r = server.LoadModule(ORV_DRV_PATH);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(server.Drivers().size(), 1u);
  EXPECT_STREQ(server.Drivers()[0]->driverName, "orv");
  EXPECT_EQ(server.Drivers()[0]->driverVersion, 4000);
  ASSERT_EQ(server.Extensions().size(), 1u);
  EXPECT_STREQ(server.Extensions()[0].name, "ORVGamma");
  xstub::XServer::LoadResult again = server.LoadModule(ORV_DRV_PATH);
  EXPECT_FALSE(again.ok);
  EXPECT_EQ(again.errmaj, LDR_ONCEONLY);
  EXPECT_EQ(server.Drivers().size(), 1u);
}

// The server loads the module and runs a screen of it on a board with its
// engines and a monitor, in local-DMA mode.
TEST(OrvDrvModule, TheLoadedModuleBringsAScreenUpAndTheEngineDrawsIntoIt) {
  orvstandin::Reset();
  fetest::Description() = fetest::BoardDescription();
  orvsim::Simulation sim;
  orvsim::BoardConfig config;
  config.device_id = 0x5D63;
  config.subsystem_id = 0x0301;
  config.memory_size = uint64_t{64} << 20;
  config.location = orvsim::PciLocation{1, 4, 0};
  orvsim::Board& board = sim.AddBoard(config);
  orvsim::ChipRomFlash rom(board);
  rom.SetFlash(orvsim::FlashKind::kSst, fetest::DescriptionRom());
  // The monitor on the first connector's DDC line.
  orvsim::ChipGpioI2c pins(board);
  pins.WireDefault();
  board.I2c(orvsim::kBusDdcConnector0).Emplace<orvsim::EdidEeprom>(fetest::MonitorEdid());
  orvsim::DmaEngine dma(board);
  orvsim::Engine2d engine(board, dma);
  orvsim::ApertureWindows windows(board);
  {
    xstub::Sandbox box;
    xstub::XServer server;
    ASSERT_TRUE(server.ReadConfig(fetest::FrontEnd::Config(1, "  Option \"NoLogo\"\n")));
    xstub::XServer::LoadResult r = server.LoadModule(ORV_DRV_PATH);
    if (!r.ok) {
      // An earlier test of this process set the module up already.
      ASSERT_EQ(r.errmaj, LDR_ONCEONLY) << r.error;
      GTEST_SKIP() << "the module's set-up runs once per process";
    }
    ASSERT_TRUE(server.Probe());
    ASSERT_EQ(server.PreInitScreens(), 1) << box.LogText();
    ASSERT_TRUE(server.InitScreens()) << box.LogText();
    std::vector<std::string> expected = {"Device Name [Kestrion KB-600 Dual Display]",
                                         "Local Busmastering is enabled", "Kestrion device started.",
                                         "Using 384 lines for offscreen memory.",
                                         "Memory manager initialized to (0,0) (1024,1152)"};
    size_t at = 0;
    for (const auto& m : box.Messages()) {
      if (at < expected.size() && m.text.find(expected[at]) != std::string::npos) ++at;
    }
    EXPECT_EQ(at, expected.size()) << box.LogText();

    const ORVRec* rec = ORVPTR(xf86Screens[0]);
    xstub::XaaFront front(xf86Screens[0]->pScreen);
    xstub::XaaGC gc;
    gc.fg = 0x1234;
    front.FillRects(gc, {{8, 2, 12, 3}});
    front.Sync();
    auto pixel = [&](int x, int y) {
      uint16_t v;
      std::memcpy(&v, board.LocalMemory() + rec->fbOffset + (y * 1024 + x) * 2, 2);
      return v;
    };
    EXPECT_EQ(pixel(8, 2), 0x1234);
    EXPECT_EQ(pixel(11, 2), 0x1234);
    EXPECT_EQ(pixel(12, 2), 0);
    EXPECT_EQ(pixel(8, 3), 0);

    // The OpenGL module finds the seven hooks in the loaded driver; on a
    // screen without bus mastering through the kernel it is refused.
    {
      OpenGlModule gl(ORV_DRV_PATH);
      ASSERT_NE(gl.handle, nullptr) << dlerror();
      EXPECT_EQ(gl.found, 7);
      ScreenPtr pScreen = xf86Screens[0]->pScreen;
      EXPECT_EQ(gl.initialize(pScreen, ModeSwitchNotice), 0);
      EXPECT_TRUE(box.Logged(
          "OpenGL is disabled on this screen because it is not hardware accelerated\n", X_WARNING));
      uint32_t mode[4] = {};
      EXPECT_EQ(gl.getModeInfo(pScreen, mode), 0);
      EXPECT_EQ(mode[0], 1024u);
      EXPECT_EQ(mode[1], 768u);
      EXPECT_EQ(mode[2], 16u);
      EXPECT_EQ(gl.cleanup(pScreen), 1);
      ASSERT_NE(xf86Screens[0]->currentMode->next, nullptr);
      server.SwitchMode(0, xf86Screens[0]->currentMode->next);
    }

    server.LeaveVT();
    EXPECT_TRUE(server.EnterVT());
    server.CloseScreens();
    server.FreeScreens();
    EXPECT_TRUE(box.Logged("Kestrion device stopped.\n", X_INFO));
  }
  orvstandin::Reset();
}

}  // namespace
