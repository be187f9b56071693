// The screen layer: the server's order of screen calls, wrapped CloseScreen
// and BlockHandler, the framebuffer layer with its visuals and software
// renderer, colormap handling with the driver's LoadPalette, the off-screen
// manager and the configuration module stand-in.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/orvcfg/fake_orvcfg_module.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"

namespace {

std::vector<std::string> g_calls;

Bool InitHook(int index, ScreenPtr, int, char**) {
  g_calls.push_back("ScreenInit " + std::to_string(index));
  return TRUE;
}
Bool EnterHook(int index, int) {
  g_calls.push_back("EnterVT " + std::to_string(index));
  return TRUE;
}
void LeaveHook(int index, int) { g_calls.push_back("LeaveVT " + std::to_string(index)); }
void FreeHook(int index, int) { g_calls.push_back("FreeScreen " + std::to_string(index)); }

// A driver's CloseScreen wrapper, one per screen.
CloseScreenProcPtr g_wrapped[2];
Bool CloseHook(int index, ScreenPtr screen) {
  g_calls.push_back("CloseScreen " + std::to_string(index));
  screen->CloseScreen = g_wrapped[index];
  return screen->CloseScreen(index, screen);
}

ScrnInfoPtr FakeScreen(xstub::XServer& server) {
  ScrnInfoPtr s = server.NewScrnInfo();
  s->ScreenInit = InitHook;
  s->EnterVT = EnterHook;
  s->LeaveVT = LeaveHook;
  s->FreeScreen = FreeHook;
  return s;
}

TEST(XserverScreenLayer, TheServersOrderOfScreenCalls) {
  xstub::Sandbox box;
  xstub::XServer server;
  FakeScreen(server);
  FakeScreen(server);
  g_calls.clear();
  ASSERT_TRUE(server.InitScreens());
  for (int i = 0; i < 2; ++i) {
    ScreenPtr screen = xf86Screens[i]->pScreen;
    g_wrapped[i] = screen->CloseScreen;
    screen->CloseScreen = CloseHook;
  }
  server.LeaveVT();
  EXPECT_TRUE(server.EnterVT());
  server.CloseScreens();
  EXPECT_TRUE(server.ScreenClosed(0));
  EXPECT_TRUE(server.ScreenClosed(1));
  server.FreeScreens();
  EXPECT_EQ(server.NumScreens(), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"ScreenInit 0", "ScreenInit 1", "LeaveVT 0",
                                               "LeaveVT 1", "EnterVT 0", "EnterVT 1",
                                               "CloseScreen 1", "CloseScreen 0", "FreeScreen 0",
                                               "FreeScreen 1"}));
}

ScreenBlockHandlerProcPtr g_saved_block;
int g_wrapper_runs;
void WrappingBlockHandler(int index, pointer data, pointer timeout, pointer mask) {
  ScreenPtr screen = xf86Screens[index]->pScreen;
  ++g_wrapper_runs;
  screen->BlockHandler = g_saved_block;
  screen->BlockHandler(index, data, timeout, mask);
  screen->BlockHandler = WrappingBlockHandler;
}

TEST(XserverScreenLayer, TheMainLoopRunsTheWrappedBlockHandler) {
  xstub::Sandbox box;
  xstub::XServer server;
  FakeScreen(server);
  ASSERT_TRUE(server.InitScreens());
  ScreenPtr screen = xf86Screens[0]->pScreen;
  g_saved_block = screen->BlockHandler;
  screen->BlockHandler = WrappingBlockHandler;
  g_wrapper_runs = 0;
  server.RunMainLoop(3);
  EXPECT_EQ(g_wrapper_runs, 3);
  EXPECT_EQ(server.BlockHandlerRuns(0), 3);
}

class XserverFb : public testing::Test {
 protected:
  // A screen of `depth` over `memory` with the given pitch in pixels.
  ScreenPtr Screen(int depth, int bpp, int width, int height, int pitch) {
    ScrnInfoPtr info = server.NewScrnInfo();
    info->depth = depth;
    info->bitsPerPixel = bpp;
    memory.assign(static_cast<size_t>(pitch) * height * bpp / 8, 0);
    ScreenPtr screen = server.NewScreen(info);
    miClearVisualTypes();
    const int visuals = depth > 8 ? TrueColorMask : miGetDefaultVisualMask(depth);
    EXPECT_TRUE(miSetVisualTypes(depth, visuals, 8, depth > 8 ? TrueColor : PseudoColor));
    EXPECT_TRUE(miSetPixmapDepths());
    EXPECT_TRUE(fbScreenInit(screen, memory.data(), width, height, 75, 75, pitch, bpp));
    return screen;
  }
  xstub::Sandbox box;
  xstub::XServer server;
  std::vector<uint8_t> memory;
};

TEST_F(XserverFb, VisualsDepthsAndTheScreenPixmap) {
  ScreenPtr screen = Screen(16, 16, 100, 50, 128);
  ASSERT_EQ(screen->numVisuals, 1);
  const VisualRec& v = screen->visuals[0];
  EXPECT_EQ(v.visualClass, TrueColor);
  EXPECT_EQ(v.redMask, 0xF800ul);
  EXPECT_EQ(v.offsetGreen, 5);
  EXPECT_EQ(screen->rootVisual, v.vid);
  EXPECT_EQ(screen->rootDepth, 16);
  PixmapPtr pixmap = fbGetScreenPixmap(screen);
  ASSERT_NE(pixmap, nullptr);
  EXPECT_EQ(pixmap->devPrivate, memory.data());
  EXPECT_EQ(pixmap->devKind, 256);
  EXPECT_EQ(screen->width, 100);
  EXPECT_TRUE(fbPictureInit(screen, nullptr, 0));
  EXPECT_FALSE(fbScreenInit(screen, memory.data(), 200, 50, 75, 75, 128, 16));  // pitch < width
}

TEST_F(XserverFb, TheRendererFillsAndCopiesInsideThePixmap) {
  ScreenPtr screen = Screen(24, 32, 64, 32, 64);
  PixmapPtr p = fbGetScreenPixmap(screen);
  fbSolidFill(p, -2, 30, 5, 10, 0x00ABCDEF);  // clipped to (0,30)-(3,32)
  EXPECT_EQ(fbGetPixel(p, 0, 31), 0x00ABCDEFu);
  EXPECT_EQ(fbGetPixel(p, 2, 30), 0x00ABCDEFu);
  EXPECT_EQ(fbGetPixel(p, 3, 30), 0u);
  // An overlapping copy one line down keeps the source's rows.
  for (int y = 0; y < 4; ++y) fbSolidFill(p, 10, y, 4, 1, 0x100u + static_cast<CARD32>(y));
  fbCopyArea(p, p, 10, 0, 10, 1, 4, 4);
  for (int y = 1; y < 5; ++y) EXPECT_EQ(fbGetPixel(p, 11, y), 0x100u + static_cast<CARD32>(y - 1));
  // Bytes land at pitch x y + x x 4.
  fbSolidFill(p, 5, 7, 1, 1, 0x11223344);
  EXPECT_EQ(memory[7 * 256 + 5 * 4], 0x44);
}

std::vector<std::pair<int, std::vector<LOCO>>> g_palettes;
std::vector<std::vector<int>> g_indices;
void RecordPalette(ScrnInfoPtr, int n, int* indices, LOCO* colors, VisualPtr) {
  g_palettes.push_back({n, std::vector<LOCO>(colors, colors + n)});
  g_indices.push_back(std::vector<int>(indices, indices + n));
}

TEST_F(XserverFb, PseudoColourPaletteLoadsAndStoredEntries) {
  ScreenPtr screen = Screen(8, 8, 64, 32, 64);
  xf86SetBlackWhitePixels(screen);
  xf86Screens[0]->rgbBits = 8;
  ASSERT_TRUE(miCreateDefColormap(screen));
  g_palettes.clear();
  g_indices.clear();
  ASSERT_TRUE(xf86HandleColormaps(screen, 256, 8, RecordPalette, nullptr,
                                  CMAP_RELOAD_ON_MODE_SWITCH));
  ASSERT_EQ(g_palettes.size(), 1u);
  EXPECT_EQ(g_palettes[0].first, 256);
  EXPECT_EQ(g_palettes[0].second[1].green, 255);  // white, 16 bits cut to 8
  EXPECT_EQ(g_palettes[0].second[0].red, 0);
  const LOCO two[2] = {{0x1234, 0x8000, 0xFFFF}, {0, 0, 0x0100}};
  xf86StoreColors(screen, 7, 2, two);
  ASSERT_EQ(g_palettes.size(), 2u);
  EXPECT_EQ(g_indices[1], (std::vector<int>{7, 8}));
  EXPECT_EQ(g_palettes[1].second[0].red, 0x12);
  EXPECT_EQ(g_palettes[1].second[0].green, 0x80);
  EXPECT_EQ(server.PaletteLoads(0), 2);
}

TEST_F(XserverFb, TrueColourRampsThroughTheGamma) {
  ScreenPtr screen = Screen(16, 16, 64, 32, 64);
  ScrnInfoPtr info = xf86Screens[0];
  info->weight = {5, 6, 5};
  info->rgbBits = 8;
  info->gamma = {1.0f, 1.0f, 2.0f};
  ASSERT_TRUE(miCreateDefColormap(screen));
  g_palettes.clear();
  ASSERT_TRUE(xf86HandleColormaps(screen, 256, 8, RecordPalette, nullptr,
                                  CMAP_PALETTED_TRUECOLOR | CMAP_RELOAD_ON_MODE_SWITCH));
  ASSERT_EQ(g_palettes.size(), 1u);
  ASSERT_EQ(g_palettes[0].first, 64);  // the widest channel: 6 bits of green
  const auto& c = g_palettes[0].second;
  EXPECT_EQ(c[63].green, 255);
  EXPECT_EQ(c[21].green, 85);   // 21/63 of 255
  EXPECT_EQ(c[31].red, 255);    // red has 32 levels and stays at the top
  EXPECT_EQ(c[40].red, 255);
  EXPECT_EQ(c[16].red, 132);    // 16/31 of 255
  EXPECT_EQ(c[16].blue, 183);   // (16/31)^(1/2) of 255
  // The driver's mode switch reloads it, with the flag.
  info->SwitchMode = [](int, DisplayModePtr, int) -> Bool { return TRUE; };
  DisplayModeRec mode{};
  EXPECT_TRUE(server.SwitchMode(0, &mode));
  EXPECT_EQ(info->currentMode, &mode);
  EXPECT_EQ(server.PaletteLoads(0), 2);
}

TEST_F(XserverFb, OffscreenMemoryBesideTheScreen) {
  ScreenPtr screen = Screen(16, 16, 1024, 768, 1024);
  BoxRec all = {0, 0, 1024, 2000};
  ASSERT_TRUE(xf86InitFBManager(screen, &all));
  EXPECT_FALSE(xf86InitFBManager(screen, &all));
  int w = 0, h = 0;
  ASSERT_TRUE(xf86QueryLargestOffscreenArea(screen, &w, &h, 0, 0, 0));
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 2000 - 768);
  FBAreaPtr a = xf86AllocateOffscreenArea(screen, 100, 1000, 64, nullptr, nullptr, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->box.y1, 768);
  EXPECT_EQ(a->box.x1 % 64, 0);
  EXPECT_EQ(xf86AllocateOffscreenArea(screen, 1024, 1000, 1, nullptr, nullptr, nullptr), nullptr);
  xf86FreeOffscreenArea(a);
  EXPECT_NE(xf86AllocateOffscreenArea(screen, 1024, 1000, 1, nullptr, nullptr, nullptr), nullptr);
  BoxRec none = {0, 0, 1024, 768};
  ScreenPtr other = Screen(16, 16, 1024, 768, 1024);
  EXPECT_FALSE(xf86InitFBManager(other, &none));
}

int32_t g_cap_calls;
int32_t Cap(OrvCfgBoardRecord* r, uint32_t cap) {
  ++g_cap_calls;
  return r->ulPciBus == 7 && cap == 0 ? 1 : -1;
}

TEST(XserverOrvcfgModule, EntriesResolveOnlyWhileLoadedAndRecordsAreCopies) {
  xstub::Sandbox box;
  xstub::XServer server;
  EXPECT_FALSE(xf86LoaderCheckSymbol(ORVCFG_REGISTER_BOARD_SYMBOL));
  {
    xstub::FakeOrvcfgModule module(server);
    ASSERT_TRUE(xf86LoaderCheckSymbol(ORVCFG_REGISTER_BOARD_SYMBOL));
    auto reg = reinterpret_cast<ORVCFGRegisterBoardProc>(LoaderSymbol(ORVCFG_REGISTER_BOARD_SYMBOL));
    auto out = reinterpret_cast<ORVCFGRegisterOutputProc>(LoaderSymbol(ORVCFG_REGISTER_OUTPUT_SYMBOL));
    OrvCfgBoardRecord record{};
    record.ulPciBus = 7;
    record.pfnGetSpecificCap = Cap;
    EXPECT_EQ(reg(&record), 0);
    record.ulPciBus = 9;  // the caller owns its record
    ORVCFGOutputState state{};
    state.ulOutput = 2;
    EXPECT_EQ(out(0, &state), 0);
    EXPECT_EQ(out(3, &state), -1);
    ASSERT_EQ(module.Boards().size(), 1u);
    EXPECT_EQ(module.Boards()[0].record.ulPciBus, 7u);
    EXPECT_EQ(module.Boards()[0].outputs[0].ulOutput, 2u);
    EXPECT_EQ(module.RefusedOutputs(), 1);
    g_cap_calls = 0;
    EXPECT_EQ(module.GetSpecificCap(0, 0), 1);
    EXPECT_EQ(module.GetSpecificCap(0, 1), -1);
    EXPECT_EQ(g_cap_calls, 2);
  }
  EXPECT_EQ(LoaderSymbol(ORVCFG_REGISTER_OUTPUT_SYMBOL), nullptr);
}

TEST(XserverScreenLayer, RecordedSetUpCalls) {
  xstub::Sandbox box;
  xstub::XServer server;
  ScreenPtr screen = server.NewScreen(server.NewScrnInfo());
  miInitializeBackingStore(screen);
  xf86SetSilkenMouse(screen);
  EXPECT_TRUE(miDCInitialize(screen, xf86GetPointerScreenFuncs()));
  EXPECT_TRUE(xf86DPMSInit(screen, [](ScrnInfoPtr, int, int) {}, 0));
  EXPECT_NE(xf86Screens[0]->DPMSSet, nullptr);
  EXPECT_TRUE(server.ScreenCalled("miDCInitialize", 0));
  EXPECT_FALSE(server.ScreenCalled("ShadowFBInit", 0));
  EXPECT_EQ(server.ScreenCalls().size(), 4u);
}

}  // namespace
