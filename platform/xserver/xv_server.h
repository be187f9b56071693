// Test-facing control of the X server stand-in's video extension layer:
// the generic adaptors other modules offer, what a driver registered, the
// windows Xv clients draw into, and the requests of Xv clients as they
// arrive on the wire (both byte orders).
//
// The request decoder serves the requests that reach a driver's adaptors:
// QueryBestSize, SetPortAttribute, GetPortAttribute, QueryImageAttributes,
// PutImage and StopVideo. Like the server's, it checks the request lengths
// and that a PutImage's data covers the size the adaptor's
// QueryImageAttributes gives for the request's width and height, and it
// passes every coordinate and size on as the client sent it: the driver
// alone has to keep its arithmetic and its buffers safe.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "platform/xserver/xv.h"

namespace xstub {

// The extension's request numbers (minor opcodes) that reach an adaptor.
inline constexpr uint8_t kXvStopVideo = 9;
inline constexpr uint8_t kXvQueryBestSize = 12;
inline constexpr uint8_t kXvSetPortAttribute = 13;
inline constexpr uint8_t kXvGetPortAttribute = 14;
inline constexpr uint8_t kXvQueryImageAttributes = 17;
inline constexpr uint8_t kXvPutImage = 18;
// The extension's own errors: a port that does not exist.
inline constexpr int kXvErrorBase = 128;
inline constexpr int kXvBadPort = kXvErrorBase + 0;

// What xf86XVListGenericAdaptors answers for the screen from now on (the
// test owns the records).
void SetGenericXvAdaptors(int scrnIndex, std::vector<XF86VideoAdaptorPtr> adaptors);

// An adaptor as the layer keeps it for a screen, with its port ids.
struct XvAdaptorView {
  const XF86VideoAdaptorRec* adaptor;  // the layer's copy, names included
  std::vector<XID> ports;
};
// The adaptors registered for the screen, in order; empty when none.
std::vector<XvAdaptorView> XvAdaptors(int scrnIndex);
// The off-screen image records registered for the screen (the driver's).
std::vector<const XF86OffscreenImageRec*> XvOffscreenImages(int scrnIndex);
// Whether the port shows video (a PutImage succeeded on an adaptor with
// VIDEO_OVERLAID_IMAGES and nothing stopped it).
bool XvPortOn(XID port);

// A window of a screen: its position on the screen, its size and its clip
// list in screen coordinates (empty: the window's rectangle).
struct XvWindow {
  XID id;
  int screen;
  short x, y;
  unsigned short width, height;
  std::vector<BoxRec> clip;
};
void AddXvWindow(const XvWindow& window);

// The answer to one request: Success with the reply bytes (none for a
// request without a reply), or an error code with the value it reports.
struct XvAnswer {
  int error = Success;
  uint32_t errorValue = 0;
  std::vector<uint8_t> reply;
};
// One request as a client sent it: `size` bytes from the major opcode on,
// multi-byte fields in the client's byte order (`swapped`: the client's
// order is not the server's). A size that differs from the request's
// length field answers BadLength.
XvAnswer XvRequest(const uint8_t* request, size_t size, bool swapped);

}  // namespace xstub
