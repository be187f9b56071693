// Internal state of the stand-in's request side (clients, extensions,
// windows) and of its cursor layer, kept in the server's state.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/xserver/dix.h"
#include "platform/xserver/xf86_cursor.h"

namespace xstub::detail {

struct ClientBox {
  ClientRec rec{};
  std::vector<uint8_t> output;  // what was written to the client, in order
};

struct AddedExtension {
  std::unique_ptr<ExtensionEntry> entry;
  std::unique_ptr<std::string> name;  // entry->name points into it
  ExtensionDispatchProc main;
  ExtensionDispatchProc swapped;
};

// The cursor layer's view of one screen.
struct CursorScreen {
  xf86CursorInfoPtr info = nullptr;
  CursorPtr current = nullptr;
  bool hardware = false;  // the current cursor is shown by the driver
  std::vector<std::string> calls;
};

struct DixState {
  std::vector<AddedExtension> extensions;  // this generation's, by opcode
  bool fail_next_add = false;
  std::vector<std::unique_ptr<ClientBox>> clients;
  std::map<XID, std::unique_ptr<WindowRec>> windows;
  std::map<int, CursorScreen> cursors;  // by screen index
};

}  // namespace xstub::detail
