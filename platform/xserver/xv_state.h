// Internal state of the X server stand-in's video extension layer: atoms,
// generic adaptors, the adaptors and off-screen images each screen
// registered, and the windows of Xv clients.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/xserver/server_state.h"
#include "platform/xserver/xv.h"
#include "platform/xserver/xv_server.h"

namespace xstub::detail {

enum class XvPortStatus { kOff, kPending, kOn };

struct XvPort {
  XID id;
  pointer data;  // the driver's port private
  XvPortStatus status = XvPortStatus::kOff;
  XID drawable = 0;  // where it last put an image
};

// The layer's copy of a registered adaptor: the record, its strings and
// arrays owned here, its ports.
struct XvAdaptor {
  XF86VideoAdaptorRec rec{};
  std::string name;
  std::vector<XF86VideoEncodingRec> encodings;
  std::vector<std::unique_ptr<std::string>> encoding_names;
  std::vector<XF86VideoFormatRec> formats;
  std::vector<XF86AttributeRec> attributes;
  std::vector<std::unique_ptr<std::string>> attribute_names;
  std::vector<XF86ImageRec> images;
  std::vector<XvPort> ports;
};

struct XvScreenState {
  ScreenPtr screen = nullptr;
  std::vector<std::unique_ptr<XvAdaptor>> adaptors;
  // The driver's off-screen image records: the server keeps pointing at
  // them, so they must live until the screen closes. Registering them
  // alone does not wrap the screen's close: the server's own close of the
  // screen drops them.
  XF86OffscreenImagePtr offscreen = nullptr;
  int offscreen_count = 0;
  CloseScreenProcPtr wrapped_close = nullptr;
  bool adaptors_registered = false;
};

struct XvState {
  std::map<std::string, Atom> atoms;
  std::vector<std::string> atom_names;  // atom - kFirstAtom
  std::map<int, std::vector<XF86VideoAdaptorPtr>> generic;
  std::vector<std::unique_ptr<XvScreenState>> screens;
  std::vector<XvWindow> windows;
  XID next_port = 0x400;
  uint16_t sequence = 0;

  // The screen's state, made on first use.
  XvScreenState& Screen(ScreenPtr screen);
  XvScreenState* Find(ScreenPtr screen);
  // Drops what the layer kept for the screen (at its close).
  void Forget(ScreenPtr screen);
  // The port of that id with its adaptor and screen, or null.
  XvPort* FindPort(XID id, XvAdaptor** adaptor, XvScreenState** screen);
  const XvWindow* FindWindow(XID id) const;
};

// Atoms below this are the protocol's predefined ones.
inline constexpr Atom kFirstAtom = 69;

// The installed server's Xv state, or null without a server.
XvState* CurrentXv();

}  // namespace xstub::detail
