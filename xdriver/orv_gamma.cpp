#include "xdriver/orv_gamma.h"

#include <math.h>
#include <string.h>

#include <initializer_list>

#include "platform/xserver/xf86_server.h"

#include "xdriver/orv_driver.h"
#include "hwsharing/chip/lut.h"
#include "xdriver/orv_hal.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_wire.h"

namespace {

// The extension's major opcode once added.
int g_gammaMajor = -1;

enum GammaRequest : uint8_t {
  kSetGamma = 0,
  kGetGamma = 1,
  kSetGammaRamp = 2,
  kQueryScreen = 4,
  kGetHeads = 5,
};

// Request lengths in 4-byte units.
constexpr int kSetGammaLength = 8;
constexpr int kGetGammaLength = 8;
constexpr int kSetGammaRampLength = 386;
constexpr int kQueryLength = 2;

// Gamma values cross the wire multiplied by this.
constexpr float kWireScale = 10000.0f;

constexpr int kLutEntries = 256;
constexpr unsigned kLutShift = 6;  // a 10-bit value in the upper bits of 16
constexpr double kLutTop = 1023.0;

// The colour table the hardware library loads: the library's public table
// of the ramps kind (a zero word, then the red, green and blue entries).
struct GammaTable {
  PUBLICLUT lut{};
  uint16_t* Channel(int c) { return lut.ausEntry + c * kLutEntries; }
};

void LoadTable(ORVRec* rec, int head, GammaTable* table) {
  table->lut.ulKind = kLutKindRamps;
  ORVSetColorLUT(rec->pBoard, static_cast<uint32_t>(head), 0, &table->lut, kLutEntries);
}

ORVRec* RecOfIndex(int scrnIndex) {
  if (scrnIndex < 0 || scrnIndex >= xf86NumScreens) return nullptr;
  ScrnInfoPtr info = xf86Screens[scrnIndex];
  if (info == nullptr || info->PreInit != ORVPreInit) return nullptr;
  return ORVPTR(info);
}

bool ValidHead(uint32_t head) { return head < kOrvGammaHeads; }

// A recorded gamma as the wire carries it, truncated toward zero; values a
// 32-bit word cannot hold are held at its ends.
uint32_t WireValue(float gamma) {
  const double v = static_cast<double>(gamma * kWireScale);
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFF;
  return static_cast<uint32_t>(v);
}

// The screen's slot in the server, or null.
ScreenPtr ScreenSlot(unsigned n) {
  if (n >= static_cast<unsigned>(screenInfo.numScreens) || n >= MAXSCREENS) return nullptr;
  return screenInfo.screens[n];
}

int SetGamma(ClientPtr client) {
  if (client->req_len != kSetGammaLength) return BadLength;
  const uint8_t* req = OrvRequestBytes(client);
  const unsigned screen = OrvGet16(req + 4);
  const uint32_t head = OrvGet32(req + 20);
  // A screen of another driver has no gamma slots; nor has a head above 3.
  ORVRec* rec = ORVRecOfScreen(screen);
  if (rec == nullptr || !ValidHead(head)) return BadValue;
  const float red = static_cast<float>(OrvGet32(req + 8)) / kWireScale;
  const float green = static_cast<float>(OrvGet32(req + 12)) / kWireScale;
  const float blue = static_cast<float>(OrvGet32(req + 16)) / kWireScale;
  if (ORVChangeGammaCrtc(ScreenSlot(screen)->myNum, static_cast<int>(head), red, green, blue) != 0)
    return BadValue;
  return client->noClientException;
}

int GetGamma(ClientPtr client) {
  if (client->req_len != kGetGammaLength) return BadLength;
  const uint8_t* req = OrvRequestBytes(client);
  const unsigned screen = OrvGet16(req + 4);
  const uint32_t head = OrvGet32(req + 8);
  ORVRec* rec = ORVRecOfScreen(screen);
  if (rec == nullptr || !ValidHead(head)) return BadValue;
  Gamma gamma;
  ORVGetGammaCrtc(ScreenSlot(screen)->myNum, &gamma, static_cast<int>(head));
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  OrvPut32(reply + 8, WireValue(gamma.red), client->swapped);
  OrvPut32(reply + 12, WireValue(gamma.green), client->swapped);
  OrvPut32(reply + 16, WireValue(gamma.blue), client->swapped);
  WriteToClient(client, sizeof(reply), reply);
  return client->noClientException;
}

int SetGammaRamp(ClientPtr client) {
  if (client->req_len != kSetGammaRampLength) return BadLength;
  const uint8_t* req = OrvRequestBytes(client);
  const unsigned screen = OrvGet16(req + 4);
  const uint32_t head = OrvGet16(req + 6);
  ORVRec* rec = ORVRecOfScreen(screen);
  if (rec == nullptr || !ValidHead(head)) return BadValue;
  CARD16 ramps[3][kLutEntries];
  memcpy(ramps, req + 8, sizeof(ramps));
  ORVChangeGammaRampCrtc(ScreenSlot(screen)->myNum, static_cast<int>(head), ramps[0], ramps[1],
                         ramps[2]);
  return client->noClientException;
}

// The screen number of QueryScreen and GetHeads: 32 bits at 4, of which a
// swapped client's bytes 4-5 are swapped here.
unsigned QueriedScreen(ClientPtr client) {
  uint8_t* req = OrvRequestBytes(client);
  if (client->swapped) OrvSwap16(req + 4);
  return OrvGet32(req + 4);
}

int QueryScreen(ClientPtr client) {
  if (client->req_len != kQueryLength) return BadLength;
  const unsigned screen = QueriedScreen(client);
  if (ScreenSlot(screen) == nullptr) return BadValue;
  const ORVRec* rec = ORVRecOfScreen(screen);
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  if (rec != nullptr) {
    const bool s = client->swapped;
    OrvPut32(reply + 8, 1, s);
    OrvPut32(reply + 12, static_cast<uint32_t>(rec->headCount), s);
    OrvPut32(reply + 16, static_cast<uint32_t>(rec->shadowRotate), s);
    OrvPut32(reply + 20, static_cast<uint32_t>(rec->hwRotate), s);
    OrvPut32(reply + 24, rec->pseudoXineramaActive ? 1 : 0, s);
  }
  WriteToClient(client, sizeof(reply), reply);
  return client->noClientException;
}

int GetHeads(ClientPtr client) {
  if (client->req_len != kQueryLength) return BadLength;
  const unsigned screen = QueriedScreen(client);
  if (ScreenSlot(screen) == nullptr) return BadValue;
  const ORVRec* rec = ORVRecOfScreen(screen);
  if (rec == nullptr) return BadRequest;
  const int heads = rec->headCount < 0 ? 0 : rec->headCount > kOrvMaxHeads ? kOrvMaxHeads
                                                                              : rec->headCount;
  uint8_t reply[kOrvReplyBytes + kOrvMaxHeads * kOrvRectBytes];
  OrvReplyHeader(reply, client, 2u * static_cast<uint32_t>(heads));
  OrvPut32(reply + 8, static_cast<uint32_t>(heads), client->swapped);
  for (int h = 0; h < heads; ++h)
    OrvPutRect(reply + kOrvReplyBytes + kOrvRectBytes * h, rec->headRects[h], client->swapped);
  WriteToClient(client, static_cast<int>(kOrvReplyBytes + kOrvRectBytes * heads), reply);
  return client->noClientException;
}

int Dispatch(ClientPtr client) {
  switch (OrvMinorOpcode(client)) {
    case kSetGamma:
      return SetGamma(client);
    case kGetGamma:
      return GetGamma(client);
    case kSetGammaRamp:
      return SetGammaRamp(client);
    case kQueryScreen:
      return QueryScreen(client);
    case kGetHeads:
      return GetHeads(client);
    default:
      return BadRequest;
  }
}

}  // namespace

ORVRec* ORVRecOfScreen(unsigned n) {
  ScreenPtr screen = ScreenSlot(n);
  return screen != nullptr ? RecOfIndex(screen->myNum) : nullptr;
}

int ORVScreenHead(const ORVRec* rec) {
  if (rec->head4) return 3;
  if (rec->head3) return 2;
  if (rec->head2) return 1;
  return 0;
}

void ORVGammaExtensionInit(void) {
  ExtensionEntry* e = AddExtension("ORVGamma", 0, 0, ProcORVGammaDispatch, SProcORVGammaDispatch,
                                   ORVGammaResetProc, StandardMinorOpcode);
  if (e != nullptr) g_gammaMajor = e->base;
}

void ORVGammaResetProc(ExtensionEntry*) {}

int ProcORVGammaDispatch(ClientPtr client) { return Dispatch(client); }

// A swapped client's fields are put in the server's order first; fields
// beyond the header only once the length says they are there.
int SProcORVGammaDispatch(ClientPtr client) {
  uint8_t* req = OrvRequestBytes(client);
  switch (OrvMinorOpcode(client)) {
    case kSetGamma:
      if (client->req_len != kSetGammaLength) return BadLength;
      OrvSwap16(req + 2);
      OrvSwap16(req + 4);
      for (size_t at : {8, 12, 16, 20}) OrvSwap32(req + at);
      break;
    case kGetGamma:
      if (client->req_len != kGetGammaLength) return BadLength;
      OrvSwap16(req + 2);
      OrvSwap16(req + 4);
      OrvSwap16(req + 8);
      break;
    case kSetGammaRamp:
      if (client->req_len != kSetGammaRampLength) return BadLength;
      OrvSwap16(req + 2);
      OrvSwap16(req + 6);
      OrvSwap16(req + 4);
      for (size_t i = 0; i < 3 * kLutEntries; ++i) OrvSwap16(req + 8 + 2 * i);
      break;
    default:
      break;  // QueryScreen and GetHeads swap their field themselves
  }
  return Dispatch(client);
}

int ORVChangeGammaCrtc(int scrnIndex, int head, float red, float green, float blue) {
  ORVRec* rec = RecOfIndex(scrnIndex);
  if (rec == nullptr || !ValidHead(static_cast<uint32_t>(head))) return 0;
  GammaTable table{};
  const float values[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    const double exponent = 1.0 / static_cast<double>(values[c]);
    for (int i = 0; i < kLutEntries; ++i) {
      // The 8-bit index widened to 10 bits by repeating its top two bits.
      const double x = (4.0 * i + i / 64) / kLutTop;
      const double y = pow(x, exponent) * kLutTop;
      const uint32_t entry = y >= 0.0 && y <= kLutTop ? static_cast<uint32_t>(y) : 0;
      table.Channel(c)[i] = static_cast<uint16_t>(entry << kLutShift);
    }
  }
  LoadTable(rec, head, &table);
  rec->gamma[head][0] = red;
  rec->gamma[head][1] = green;
  rec->gamma[head][2] = blue;
  return 0;
}

int ORVGetGammaCrtc(int scrnIndex, Gamma* out, int head) {
  ORVRec* rec = RecOfIndex(scrnIndex);
  if (rec == nullptr || !ValidHead(static_cast<uint32_t>(head))) return 0;
  out->red = rec->gamma[head][0];
  out->green = rec->gamma[head][1];
  out->blue = rec->gamma[head][2];
  return 0;
}

int ORVGetGamma(int scrnIndex, Gamma* out) {
  ORVRec* rec = RecOfIndex(scrnIndex);
  if (rec == nullptr) return 0;
  return ORVGetGammaCrtc(scrnIndex, out, rec->head2 ? 1 : 0);
}

int ORVChangeGammaRampCrtc(int scrnIndex, int head, const CARD16* red, const CARD16* green,
                           const CARD16* blue) {
  ORVRec* rec = RecOfIndex(scrnIndex);
  if (rec == nullptr || !ValidHead(static_cast<uint32_t>(head))) return 0;
  GammaTable table{};
  const CARD16* ramps[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < kLutEntries; ++i)
      table.Channel(c)[i] = static_cast<uint16_t>(ramps[c][i] << kLutShift);
  }
  LoadTable(rec, head, &table);
  return 0;
}

int ORVChangeGamma(int scrnIndex, Gamma gamma) {
  ORVRec* rec = RecOfIndex(scrnIndex);
  if (rec == nullptr) return 0;
  const int own = ORVScreenHead(rec);
  int heads[5];
  int n = 0;
  if (rec->merged) {
    heads[n++] = 1;
  } else if (rec->spanthree || rec->s3i) {
    for (int h : {0, 1, 2, 3}) heads[n++] = h;
  } else if (rec->spanfour || rec->s4i) {
    for (int h : {0, 2, 1, 3}) heads[n++] = h;
  }
  heads[n++] = own;
  int result = 0;
  for (int i = 0; i < n; ++i)
    result = ORVChangeGammaCrtc(scrnIndex, heads[i], gamma.red, gamma.green, gamma.blue);
  xf86Screens[scrnIndex]->gamma = gamma;
  return result;
}

namespace {
const char* const kDpmsMessages[] = {
    "DPMS Mode : On\n",       // DPMSModeOn
    "DPMS Mode : Standby\n",  // DPMSModeStandby
    "DPMS Mode : Suspend\n",  // DPMSModeSuspend
    "DPMS Mode : Off\n",      // DPMSModeOff
};
}  // namespace

void ORVDisplayPowerManagementSet(ScrnInfoPtr screen, int mode, int) {
  if (mode < 0 || mode >= static_cast<int>(sizeof(kDpmsMessages) / sizeof(kDpmsMessages[0])))
    return;
  xf86DrvMsg(screen->scrnIndex, X_INFO, "%s", kDpmsMessages[mode]);
  ORVSetDPMS(ORVPTR(screen)->pBoard, static_cast<uint32_t>(mode));
}
