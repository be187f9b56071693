// The server's request side as an extension sees it: extensions with their
// major opcodes, clients with their byte order, sequence numbers and
// request buffers, replies written to a client, X errors, windows, the
// screens of the server and its own Xinerama switch.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in for
// tests; a test makes clients, sends requests and reads what was written
// back through xstub::XServer (server.h).
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Protocol status codes and packet kinds ------------------------------------------
#define Success 0
#define BadRequest 1
#define BadValue 2
#define BadWindow 3
#define BadMatch 8
#define BadAlloc 11
#define BadLength 16

#define X_Error 0  // first byte of an error packet
#define X_Reply 1  // first byte of a reply

// The header every request starts with: major opcode, a byte of the
// request's own (an extension's minor opcode), the length in 4-byte units
// in the client's byte order.
typedef struct {
  CARD8 reqType;
  CARD8 data;
  CARD16 length;
} xReq;

// ---- Clients ------------------------------------------------------------------------------
typedef struct _Client {
  int index;
  // The request being dispatched: exactly req_len x 4 bytes, as the client
  // sent them (multi-byte fields in the client's byte order).
  pointer requestBuffer;
  // The client's byte order differs from the server's: its requests go to
  // the extension's swapped procedure and its replies must be swapped.
  Bool swapped;
  // Sequence number of the request being dispatched (counted per client).
  unsigned short sequence;
  // Request length in 4-byte units, in the server's byte order.
  int req_len;
  // The value an error reports (a resource id or a bad value).
  XID errorValue;
  // What a dispatch procedure answers when nothing went wrong.
  int noClientException;
} ClientRec, *ClientPtr;

// Writes count bytes to the client (a reply, after any swapping the driver
// did); answers count.
int WriteToClient(ClientPtr client, int count, const void* buffer);

// ---- Extensions -------------------------------------------------------------------------
struct _ExtensionEntry;
typedef int (*ExtensionDispatchProc)(ClientPtr client);
typedef void (*ExtensionCloseDownProc)(struct _ExtensionEntry* extension);
typedef unsigned short (*ExtensionMinorOpcodeProc)(ClientPtr client);

typedef struct _ExtensionEntry {
  int index;
  ExtensionCloseDownProc CloseDown;
  const char* name;
  int base;  // the major opcode
  int eventBase, eventLast;
  int errorBase, errorLast;
  ExtensionMinorOpcodeProc MinorOpcode;
} ExtensionEntry;

// Adds an extension for this server generation: its requests (major opcode
// 128 and up, in order of registration) go to mainProc, or to swappedProc
// for a byte-swapped client. Null when the name is taken in this
// generation, a procedure is missing, no major opcode is left, or the test
// made it fail.
ExtensionEntry* AddExtension(const char* name, int numEvents, int numErrors,
                             ExtensionDispatchProc mainProc, ExtensionDispatchProc swappedProc,
                             ExtensionCloseDownProc closeDownProc,
                             ExtensionMinorOpcodeProc minorOpcodeProc);
// The minor opcode of an extension request: its second byte.
unsigned short StandardMinorOpcode(ClientPtr client);

// ---- Windows ---------------------------------------------------------------------------------
typedef struct _Drawable {
  unsigned char type;
  XID id;
  ScreenPtr pScreen;
} DrawableRec;

typedef struct _Window {
  DrawableRec drawable;
} WindowRec, *WindowPtr;

// The window of that id, or null.
WindowPtr LookupWindow(XID id, ClientPtr client);

// ---- Screens and Xinerama ----------------------------------------------------------------
#define MAXSCREENS 16
typedef struct {
  int numScreens;
  ScreenPtr screens[MAXSCREENS];
} ScreenInfo;
// The server's screens (their ScreenRecs, by index).
extern ScreenInfo screenInfo;
// True unless the server runs its own Xinerama over the screens.
extern Bool noPanoramiXExtension;

#ifdef __cplusplus
}  // extern "C"
#endif
