#include "xdriver/orv_xinerama.h"

#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_gamma.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_wire.h"

namespace {

// Process-wide, as the server knows one such extension: whether it answers
// with the heads, its major opcode and the generation it was added in.
int g_active = 0;
int g_major = -1;
unsigned long g_generation = 0;

enum PsramaRequest : uint8_t {
  kQueryVersion = 0,
  kGetState = 1,
  kGetScreenCount = 2,
  kGetScreenSize = 3,
  kIsActive = 4,
  kQueryScreens = 5,
};

// Request lengths in 4-byte units.
constexpr int kRequestLength[] = {
    2,  // QueryVersion
    2,  // GetState
    2,  // GetScreenCount
    3,  // GetScreenSize
    1,  // IsActive
    1,  // QueryScreens
};
constexpr int kRequests = sizeof(kRequestLength) / sizeof(kRequestLength[0]);

constexpr uint16_t kVersionMajor = 1;
constexpr uint16_t kVersionMinor = 1;

// X screen 0's record, when it is this driver's.
ORVRec* ScreenZero() {
  if (xf86NumScreens < 1 || xf86Screens[0] == nullptr || xf86Screens[0]->PreInit != ORVPreInit)
    return nullptr;
  return ORVPTR(xf86Screens[0]);
}

int HeadCount(const ORVRec* rec) {
  if (rec->headCount < 0) return 0;
  return rec->headCount > kOrvMaxHeads ? kOrvMaxHeads : rec->headCount;
}

void SetActive(int active) {
  g_active = active;
  if (ORVRec* rec = ScreenZero()) rec->pseudoXineramaActive = static_cast<uint8_t>(active != 0);
}

// The window of GetState, GetScreenCount and GetScreenSize must exist.
bool WindowKnown(ClientPtr client) {
  const XID window = OrvGet32(OrvRequestBytes(client) + 4);
  if (LookupWindow(window, client) != nullptr) return true;
  client->errorValue = window;
  return false;
}

void Send(ClientPtr client, uint8_t* reply, size_t bytes) {
  WriteToClient(client, static_cast<int>(bytes), reply);
}

// The six requests; each is called with its length checked.
int ProcPSRAMAQueryVersion(ClientPtr client) {
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  OrvPut16(reply + 8, kVersionMajor, client->swapped);
  OrvPut16(reply + 10, kVersionMinor, client->swapped);
  Send(client, reply, kOrvReplyBytes);
  return client->noClientException;
}

int ProcPSRAMAGetState(ClientPtr client) {
  if (!WindowKnown(client)) return BadWindow;
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  reply[1] = static_cast<uint8_t>(g_active);
  Send(client, reply, kOrvReplyBytes);
  return client->noClientException;
}

int ProcPSRAMAGetScreenCount(ClientPtr client) {
  if (!WindowKnown(client)) return BadWindow;
  const ORVRec* rec = ScreenZero();
  if (rec == nullptr) return BadRequest;
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  reply[1] = static_cast<uint8_t>(HeadCount(rec));
  Send(client, reply, kOrvReplyBytes);
  return client->noClientException;
}

int ProcPSRAMAGetScreenSize(ClientPtr client) {
  if (!WindowKnown(client)) return BadWindow;
  const ORVRec* rec = ScreenZero();
  if (rec == nullptr) return BadRequest;
  const uint32_t head = OrvGet32(OrvRequestBytes(client) + 8);
  if (head >= static_cast<uint32_t>(HeadCount(rec))) {
    client->errorValue = head;
    return BadValue;
  }
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  OrvPut32(reply + 8, static_cast<uint32_t>(rec->headRects[head][2]), client->swapped);
  OrvPut32(reply + 12, static_cast<uint32_t>(rec->headRects[head][3]), client->swapped);
  Send(client, reply, kOrvReplyBytes);
  return client->noClientException;
}

int ProcPSRAMAIsActive(ClientPtr client) {
  uint8_t reply[kOrvReplyBytes];
  OrvReplyHeader(reply, client, 0);
  OrvPut32(reply + 8, static_cast<uint32_t>(g_active), client->swapped);
  Send(client, reply, kOrvReplyBytes);
  return client->noClientException;
}

int ProcPSRAMAQueryScreens(ClientPtr client) {
  const ORVRec* rec = ScreenZero();
  if (rec == nullptr) return BadRequest;
  const bool swapped = client->swapped;
  uint8_t reply[kOrvReplyBytes + kOrvMaxHeads * kOrvRectBytes];
  OrvReplyHeader(reply, client, 0);
  const int count = g_active ? HeadCount(rec) : 0;
  OrvPut32(reply + 4, 2u * static_cast<uint32_t>(count), swapped);
  OrvPut32(reply + 8, static_cast<uint32_t>(count), swapped);
  for (int h = 0; h < count; ++h)
    OrvPutRect(reply + kOrvReplyBytes + kOrvRectBytes * h, rec->headRects[h], swapped);
  Send(client, reply, kOrvReplyBytes + kOrvRectBytes * static_cast<size_t>(count));
  return client->noClientException;
}

// By minor opcode, in the order of PsramaRequest.
int (*const kRequestProcs[])(ClientPtr) = {ProcPSRAMAQueryVersion,   ProcPSRAMAGetState,
                                           ProcPSRAMAGetScreenCount, ProcPSRAMAGetScreenSize,
                                           ProcPSRAMAIsActive,       ProcPSRAMAQueryScreens};
static_assert(sizeof(kRequestProcs) / sizeof(kRequestProcs[0]) == kRequests);
static_assert(kQueryVersion == 0 && kGetState == 1 && kGetScreenCount == 2 && kGetScreenSize == 3 &&
              kIsActive == 4 && kQueryScreens == 5);

int Dispatch(ClientPtr client) {
  const uint8_t minor = OrvMinorOpcode(client);
  if (minor >= kRequests) return BadRequest;
  if (client->req_len != kRequestLength[minor]) return BadLength;
  return kRequestProcs[minor](client);
}

}  // namespace

bool PSRAMAIsActive(void) { return g_active != 0; }

void PSRAMAExtensionInit(void) {
  if (!noPanoramiXExtension) {
    xf86DrvMsg(0, X_WARNING, "Xinerama active, not initializing Pseudo-Xinerama\n");
    SetActive(0);
    return;
  }
  if (xf86NumScreens > 1) {
    xf86DrvMsg(0, X_WARNING, "More than one screen detected, not initializing Pseudo-Xinerama\n");
    SetActive(0);
    return;
  }
  if (g_generation == serverGeneration) {
    xf86DrvMsg(0, X_ERROR, "Failed to initialize Pseudo-Xinerama extension\n");
    SetActive(0);
    return;
  }
  ExtensionEntry* e = AddExtension("XINERAMA", 0, 0, ProcPSRAMADispatch, SProcPSRAMADispatch,
                                   PSRAMAResetProc, StandardMinorOpcode);
  if (e == nullptr) {
    xf86DrvMsg(0, X_ERROR, "Failed to initialize Pseudo-Xinerama extension\n");
    SetActive(0);
    return;
  }
  g_major = e->base;
  g_generation = serverGeneration;
  xf86DrvMsg(0, X_INFO, "Initialized Pseudo-Xinerama extension\n");
  SetActive(0);

  const ORVRec* rec = ScreenZero();
  if (rec == nullptr) return;
  if (rec->head > 1) {
    xf86DrvMsg(0, X_ERROR, "Pseudo-Xinerama: Disabled. More than 1 screen detected : %d\n",
               rec->head);
  } else if (rec->shadowRotate != 0 && rec->quadBoard) {
    xf86DrvMsg(0, X_ERROR, "Pseudo-Xinerama: Disabled. KVD and Pivot combination is unsupported.\n");
  } else if (rec->shadowRotate != 0 && rec->spanthree) {
    xf86DrvMsg(0, X_ERROR,
               "Pseudo-Xinerama: Disabled. Spanthree and Pivot combination is unsupported.\n");
  } else if (rec->shadowRotate != 0 && rec->spanfour) {
    xf86DrvMsg(0, X_ERROR,
               "Pseudo-Xinerama: Disabled. Spanfour and Pivot combination is unsupported.\n");
  } else if (!rec->merged && !rec->quadBoard) {
    xf86DrvMsg(0, X_INFO, "Pseudo-Xinerama: Disabled.\n");
  } else {
    SetActive(1);
    xf86DrvMsg(0, X_INFO, "Pseudo-Xinerama: Enabled.\n");
  }
}

void PSRAMAResetProc(ExtensionEntry*) {}

int ProcPSRAMADispatch(ClientPtr client) { return Dispatch(client); }

// A swapped client's length, window and screen fields are put in the
// server's order, each only where the request is long enough to hold it.
int SProcPSRAMADispatch(ClientPtr client) {
  uint8_t* req = OrvRequestBytes(client);
  OrvSwap16(req + 2);
  const uint8_t minor = OrvMinorOpcode(client);
  const bool window = minor == kGetState || minor == kGetScreenCount || minor == kGetScreenSize;
  if (window && client->req_len >= 2) OrvSwap32(req + 4);
  if (minor == kGetScreenSize && client->req_len >= 3) OrvSwap32(req + 8);
  return Dispatch(client);
}
