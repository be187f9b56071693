// Fuzz target of the driver's two X extensions behind the server stand-in's
// request side: any request (minor opcode, declared length and bytes) from
// a client of either byte order, on screens whose count, kind and head
// layout the input chooses.
//
// Input: byte 0 flags (bit 0 swapped client, bit 1 XINERAMA instead of
// ORVGamma, bit 2 X screen 0 of another driver, bits 3-5 the number of
// screens the server lists (0-7, at most 4 exist), bit 6 an empty screen
// slot 1); byte 1 the head count (signed); bytes 2-33 the head rectangles
// (16-bit values); the rest the request, whose first byte becomes the
// extension's major opcode.
#include <stdint.h>
#include <stdlib.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_gamma.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xinerama.h"

namespace {

constexpr int kScreens = 4;
constexpr size_t kLayoutBytes = 34;
constexpr XID kWindows[] = {0x200001, 0x200002, 0x400001};

HALSTATUS IgnoreLut(BOARDHANDLE* h, uint32_t, uint32_t, const PUBLICLUT*, uint32_t) { return h->status; }

// Built once: a server with four screens (0, 1 and 3 this driver's, 2
// another's), both extensions added, a client of each byte order.
struct Env {
  Env() {
    board = static_cast<BOARDHANDLE*>(calloc(1, sizeof(BOARDHANDLE)));
    board->oJumpTable.SetColorLUT = IgnoreLut;
    for (int i = 0; i < kScreens; ++i) {
      ScrnInfoPtr info = server.NewScrnInfo();
      server.NewScreen(info);
      screens[i] = info;
      if (i == 2) continue;
      info->PreInit = ORVPreInit;
      info->driverPrivate = &recs[i];
      recs[i].pBoard = board;
      recs[i].pEnt = &entity;
      recs[i].merged = 1;
      if (i == 0) PSRAMAExtensionInit();  // one screen yet: it registers, active
    }
    ORVGammaExtensionInit();
    gamma = server.ExtensionMajor("ORVGamma");
    xinerama = server.ExtensionMajor("XINERAMA");
    for (XID w : kWindows) server.AddWindow(w);
    clients[0] = server.NewClient(false);
    clients[1] = server.NewClient(true);
  }
  xstub::Sandbox box;
  xstub::XServer server;
  BOARDHANDLE* board;
  ORVEntityRec entity{};
  ORVRec recs[kScreens]{};
  ScrnInfoPtr screens[kScreens];
  int gamma = -1;
  int xinerama = -1;
  ClientPtr clients[2];
};

Env& Environment() {
  static Env* env = new Env;  // lives for the process
  return *env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Env& env = Environment();
  if (size < kLayoutBytes) return 0;
  const uint8_t flags = data[0];
  const bool swapped = (flags & 1) != 0;
  const int major = (flags & 2) ? env.xinerama : env.gamma;
  if (major < 0) return 0;

  ORVRec& rec = env.recs[0];
  rec.headCount = static_cast<int8_t>(data[1]);
  for (int h = 0; h < kOrvMaxHeads; ++h) {
    for (int k = 0; k < 4; ++k) {
      int16_t v;
      std::memcpy(&v, data + 2 + 2 * (4 * h + k), 2);
      rec.headRects[h][k] = v;
    }
  }
  env.screens[0]->PreInit = (flags & 4) ? nullptr : ORVPreInit;
  screenInfo.numScreens = (flags >> 3) & 7;
  for (int i = 0; i < kScreens; ++i) screenInfo.screens[i] = env.screens[i]->pScreen;
  if (flags & 0x40) screenInfo.screens[1] = nullptr;

  std::vector<uint8_t> request(data + kLayoutBytes, data + size);
  if (request.size() < 4) request.resize(4, 0);
  request[0] = static_cast<uint8_t>(major);
  ClientPtr client = env.clients[swapped ? 1 : 0];
  env.server.Request(client, request);
  // Every reply is whole: a header of 32 bytes and 8 bytes per rectangle.
  const std::vector<uint8_t> out = env.server.TakeOutput(client);
  if (out.size() % 8 != 0) abort();
  return 0;
}
