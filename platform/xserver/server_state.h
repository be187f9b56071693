// Internal state of the X server stand-in's screen side, shared by its
// service files.
#pragma once

#include <memory>
#include <vector>

#include "platform/xserver/server.h"

namespace xstub::detail {

// A screen record with its private slots; the server owns both.
struct ScrnInfoBox {
  ScrnInfoRec rec{};
  DevUnion privates[kPrivateSlots]{};
};

struct ScreenBox {
  ScreenRec rec{};
  DevUnion privates[kPrivateSlots]{};
};

class ServerState {
 public:
  // In screen-index order; xf86Screens points at `table`.
  std::vector<std::unique_ptr<ScrnInfoBox>> scrn_infos;
  std::vector<ScrnInfoPtr> table;
  std::vector<std::unique_ptr<ScreenBox>> screens;

  void Publish();  // refreshes xf86Screens and xf86NumScreens
};

// The installed server's state, or null.
ServerState* CurrentServer();

}  // namespace xstub::detail
