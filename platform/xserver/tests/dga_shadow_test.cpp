// The stand-in's DGA (the driver's modes and functions kept per screen, a
// client that maps the framebuffer through /dev/mem and calls them), the
// shadow framebuffer's refresh after each drawing request, and sleeping on
// the simulated clock.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/dga.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "platform/xserver/xservices.h"

namespace {

// A driver's DGA functions that record their calls.
std::vector<std::string> g_dga;
unsigned long g_fbBus = 0;
Bool OpenFb(ScrnInfoPtr, char** name, unsigned char** mem, int* size, int* offset, int* flags) {
  g_dga.push_back("open");
  *name = nullptr;
  *mem = reinterpret_cast<unsigned char*>(g_fbBus + 0x2000);
  *size = 0x10000;
  *offset = 0;
  *flags = DGA_NEED_ROOT;
  return TRUE;
}
void CloseFb(ScrnInfoPtr) { g_dga.push_back("close"); }
Bool SetMode(ScrnInfoPtr, DGAModePtr mode) {
  g_dga.push_back(mode != nullptr ? "mode " + std::to_string(mode->num) : "leave");
  return TRUE;
}
void SetViewport(ScrnInfoPtr, int x, int y, int flags) {
  g_dga.push_back("viewport " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(flags));
}
int GetViewport(ScrnInfoPtr) { return 7; }
void Fill(ScrnInfoPtr, int x, int y, int w, int h, unsigned long color) {
  g_dga.push_back("fill " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                  std::to_string(h) + " " + std::to_string(color));
}
void Blit(ScrnInfoPtr, int sx, int sy, int w, int h, int dx, int dy) {
  g_dga.push_back("blit " + std::to_string(sx) + "," + std::to_string(sy) + " " + std::to_string(w) + "x" +
                  std::to_string(h) + " to " + std::to_string(dx) + "," + std::to_string(dy));
}

TEST(XserverDga, TheClientMapsTheFramebufferAndReachesTheDriversFunctions) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard(orvsim::BoardConfig{});
  g_fbBus = board.Bar(orvsim::ResourceKind::kMemory).value().base;
  xstub::Sandbox box;
  xstub::XServer server;
  ScreenPtr screen = server.NewScreen(server.NewScrnInfo());
  DGAFunctionRec funcs = {OpenFb, CloseFb, SetMode, SetViewport, GetViewport, nullptr, Fill, Blit, nullptr};
  DGAModeRec modes[2] = {};
  xstub::DgaClient client(0);
  EXPECT_FALSE(client.Available());
  EXPECT_FALSE(DGAInit(screen, &funcs, modes, 0));
  ASSERT_TRUE(DGAInit(screen, &funcs, modes, 2));
  EXPECT_TRUE(server.ScreenCalled("DGAInit", 0));
  ASSERT_EQ(client.ModeCount(), 2);
  EXPECT_EQ(client.Mode(2)->num, 2);
  EXPECT_EQ(client.Mode(3), nullptr);

  g_dga.clear();
  ASSERT_TRUE(client.OpenFramebuffer());
  EXPECT_EQ(client.OpenFlags(), DGA_NEED_ROOT);
  EXPECT_FALSE(client.NamedDevice());
  client.Framebuffer()[0x10] = 0x5A;
  EXPECT_EQ(board.Memory()[0x2010], 0x5A) << "the mapping is the board's memory at the bus address";
  EXPECT_TRUE(client.SetMode(2));
  client.SetViewport(3, 4, DGA_FLIP_RETRACE);
  EXPECT_EQ(client.GetViewport(), 7);
  client.Sync();  // the driver left it out
  client.FillRect(1, 2, 3, 4, 5);
  client.BlitRect(1, 2, 3, 4, 5, 6);
  client.BlitTransRect(1, 2, 3, 4, 5, 6, 7);  // left out too
  EXPECT_TRUE(client.SetMode(0));
  EXPECT_FALSE(client.SetMode(5));
  client.CloseFramebuffer();
  EXPECT_EQ(g_dga, (std::vector<std::string>{"open", "mode 2", "viewport 3,4 2", "fill 1,2 3x4 5",
                                             "blit 1,2 3x4 to 5,6", "leave", "close"}));
}

std::vector<std::vector<BoxRec>> g_refreshes;
void Refresh(ScrnInfoPtr, int n, BoxPtr boxes) { g_refreshes.emplace_back(boxes, boxes + n); }

bool SameBox(const BoxRec& a, const BoxRec& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TEST(XserverShadow, EachDrawingRequestHandsItsBoxesToTheRefresh) {
  xstub::Sandbox box;
  xstub::XServer server;
  ScrnInfoPtr info = server.NewScrnInfo();
  info->depth = 24;
  info->bitsPerPixel = 32;
  info->virtualX = 64;
  info->virtualY = 32;
  ScreenPtr screen = server.NewScreen(info);
  std::vector<uint8_t> shadow(64 * 32 * 4);
  miClearVisualTypes();
  ASSERT_TRUE(miSetVisualTypes(24, TrueColorMask, 8, TrueColor));
  ASSERT_TRUE(fbScreenInit(screen, shadow.data(), 64, 32, 75, 75, 64, 32));
  PixmapPtr p = fbGetScreenPixmap(screen);
  fbSolidFill(p, 1, 1, 2, 2, 1);
  EXPECT_TRUE(g_refreshes.empty()) << "no shadow framebuffer yet";
  ASSERT_TRUE(ShadowFBInit(screen, Refresh));
  fbSolidFill(p, 60, 30, 10, 10, 1);
  fbCopyArea(p, p, 0, 0, 5, 6, 3, 2);
  xstub::XaaFront front(screen);  // no XAA: everything in software
  xstub::XaaGC gc;
  gc.fg = 7;
  front.FillRects(gc, {BoxRec{10, 10, 12, 11}, BoxRec{20, 3, 21, 5}});
  ASSERT_EQ(g_refreshes.size(), 3u);
  EXPECT_TRUE(SameBox(g_refreshes[0][0], BoxRec{60, 30, 64, 32})) << "clipped to the screen";
  EXPECT_TRUE(SameBox(g_refreshes[1][0], BoxRec{5, 6, 8, 8}));
  EXPECT_TRUE(SameBox(g_refreshes[2][0], BoxRec{10, 3, 21, 11})) << "the request's bounds";
}

TEST(XserverSleep, SecondsPassOnTheSimulatedClock) {
  orvsim::Simulation sim;
  xstub::Sandbox box;
  const uint64_t before = sim.GetClock().Now();
  EXPECT_EQ(xf86sleep(2), 0u);
  EXPECT_EQ(sim.GetClock().Now() - before, 2000000000u);
  EXPECT_EQ(box.SleptMicroseconds(), 2000000u);
}

}  // namespace
