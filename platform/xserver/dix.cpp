// The request side of the server: extensions registered per server
// generation, clients whose requests are read at their declared length and
// dispatched by major opcode to the normal or the swapped procedure, errors
// sent as X error packets, replies captured per client, the window table,
// the screens and the server's own Xinerama switch.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/xserver/server_state.h"

extern "C" {
ScreenInfo screenInfo = {0, {}};
Bool noPanoramiXExtension = TRUE;
}

namespace xstub {
namespace detail {
namespace {

// Extensions take the major opcodes from 128 up to 255.
constexpr int kFirstExtensionOpcode = 128;
constexpr int kLastOpcode = 255;
constexpr size_t kRequestHeaderBytes = 4;
constexpr size_t kErrorBytes = 32;

[[noreturn]] void Die(const char* why) {
  fprintf(stderr, "xserver stand-in: %s\n", why);
  abort();
}

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }

void Put16(uint8_t* at, uint16_t v, bool swapped) {
  if (swapped) v = Swap16(v);
  memcpy(at, &v, 2);
}
void Put32(uint8_t* at, uint32_t v, bool swapped) {
  if (swapped) v = Swap32(v);
  memcpy(at, &v, 4);
}

ClientBox* BoxOfClient(DixState& d, ClientPtr client) {
  for (auto& box : d.clients) {
    if (&box->rec == client) return box.get();
  }
  return nullptr;
}

// The X error packet for a failed request, in the client's byte order.
void SendError(ClientBox& box, int code, uint8_t major, uint16_t minor) {
  uint8_t packet[kErrorBytes] = {};
  packet[0] = X_Error;
  packet[1] = static_cast<uint8_t>(code);
  Put16(packet + 2, box.rec.sequence, box.rec.swapped);
  Put32(packet + 4, box.rec.errorValue, box.rec.swapped);
  Put16(packet + 8, minor, box.rec.swapped);
  packet[10] = major;
  box.output.insert(box.output.end(), packet, packet + kErrorBytes);
}

}  // namespace
}  // namespace detail

ClientPtr XServer::NewClient(bool swapped) {
  auto& clients = state_->dix.clients;
  clients.push_back(std::make_unique<detail::ClientBox>());
  ClientRec& rec = clients.back()->rec;
  rec.index = static_cast<int>(clients.size());  // 0 is the server itself
  rec.swapped = swapped ? TRUE : FALSE;
  rec.noClientException = Success;
  return &rec;
}

int XServer::Request(ClientPtr client, const std::vector<uint8_t>& bytes) {
  detail::DixState& d = state_->dix;
  detail::ClientBox* box = detail::BoxOfClient(d, client);
  if (box == nullptr) detail::Die("Request for a client this server did not make");
  if (bytes.size() < detail::kRequestHeaderBytes) detail::Die("Request shorter than its header");
  ClientRec& rec = box->rec;
  ++rec.sequence;
  rec.errorValue = 0;
  const uint8_t major = bytes[0];
  uint16_t length;
  memcpy(&length, &bytes[2], 2);
  if (rec.swapped) length = detail::Swap16(length);

  const int index = major - detail::kFirstExtensionOpcode;
  const bool known = index >= 0 && index < static_cast<int>(d.extensions.size());
  if (length == 0) {  // big requests are not served
    detail::SendError(*box, BadLength, major, 0);
    return BadLength;
  }
  if (!known) {
    detail::SendError(*box, BadRequest, major, 0);
    return BadRequest;
  }
  // The request lives in a buffer of exactly its declared size, so a
  // procedure that reads past it is caught; bytes the test did not give read
  // as zero.
  const size_t size = size_t{length} * 4;
  uint8_t* request = static_cast<uint8_t*>(malloc(size));
  memset(request, 0, size);
  memcpy(request, bytes.data(), bytes.size() < size ? bytes.size() : size);
  rec.requestBuffer = request;
  rec.req_len = length;
  const detail::AddedExtension& e = d.extensions[static_cast<size_t>(index)];
  const uint16_t reportedMinor = e.entry->MinorOpcode != nullptr ? e.entry->MinorOpcode(&rec) : 0;
  const int status = rec.swapped ? e.swapped(&rec) : e.main(&rec);
  rec.requestBuffer = nullptr;
  free(request);
  if (status != Success) detail::SendError(*box, status, major, reportedMinor);
  return status;
}

std::vector<uint8_t> XServer::TakeOutput(ClientPtr client) {
  detail::ClientBox* box = detail::BoxOfClient(state_->dix, client);
  if (box == nullptr) detail::Die("TakeOutput for a client this server did not make");
  std::vector<uint8_t> out;
  out.swap(box->output);
  return out;
}

int XServer::ExtensionMajor(std::string_view name) const {
  for (const detail::AddedExtension& e : state_->dix.extensions) {
    if (*e.name == name) return e.entry->base;
  }
  return -1;
}

void XServer::FailNextAddExtension() { state_->dix.fail_next_add = true; }

void XServer::ResetServer() {
  std::vector<detail::AddedExtension> gone;
  gone.swap(state_->dix.extensions);
  for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
    if (it->entry->CloseDown != nullptr) it->entry->CloseDown(it->entry.get());
  }
  // Generations after a reset are new over the whole test process, since
  // drivers keep the generation they registered in in statics.
  static unsigned long lastGeneration = 1;
  if (lastGeneration < serverGeneration) lastGeneration = serverGeneration;
  serverGeneration = ++lastGeneration;
}

WindowPtr XServer::AddWindow(XID id, int scrnIndex) {
  auto window = std::make_unique<WindowRec>();
  window->drawable.id = id;
  window->drawable.pScreen =
      scrnIndex >= 0 && scrnIndex < screenInfo.numScreens ? screenInfo.screens[scrnIndex] : nullptr;
  WindowPtr w = window.get();
  state_->dix.windows[id] = std::move(window);
  return w;
}

void XServer::SetXinerama(bool on) { noPanoramiXExtension = on ? FALSE : TRUE; }

void XServer::SetScreenSlot(int index, ScreenPtr screen) {
  if (index < 0 || index >= MAXSCREENS) detail::Die("SetScreenSlot beyond MAXSCREENS");
  screenInfo.screens[index] = screen;
  if (screenInfo.numScreens <= index) screenInfo.numScreens = index + 1;
}

bool XServer::SetDPMS(int scrnIndex, int level) {
  if (scrnIndex < 0 || scrnIndex >= static_cast<int>(state_->table.size())) return false;
  ScrnInfoPtr info = state_->table[static_cast<size_t>(scrnIndex)];
  if (info->DPMSSet == nullptr) return false;
  info->DPMSSet(info, level, 0);
  return true;
}

}  // namespace xstub

extern "C" {

int WriteToClient(ClientPtr client, int count, const void* buffer) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  xstub::detail::ClientBox* box = s != nullptr ? xstub::detail::BoxOfClient(s->dix, client) : nullptr;
  if (box == nullptr || count < 0 || (count > 0 && buffer == nullptr)) return -1;
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  box->output.insert(box->output.end(), bytes, bytes + count);
  return count;
}

ExtensionEntry* AddExtension(const char* name, int numEvents, int numErrors,
                             ExtensionDispatchProc mainProc, ExtensionDispatchProc swappedProc,
                             ExtensionCloseDownProc closeDownProc,
                             ExtensionMinorOpcodeProc minorOpcodeProc) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || name == nullptr || mainProc == nullptr || swappedProc == nullptr) return nullptr;
  xstub::detail::DixState& d = s->dix;
  if (d.fail_next_add) {
    d.fail_next_add = false;
    return nullptr;
  }
  for (const auto& e : d.extensions) {
    if (*e.name == name) return nullptr;
  }
  const int opcode = xstub::detail::kFirstExtensionOpcode + static_cast<int>(d.extensions.size());
  if (opcode > xstub::detail::kLastOpcode || numEvents < 0 || numErrors < 0) return nullptr;
  xstub::detail::AddedExtension added;
  added.name = std::make_unique<std::string>(name);
  added.main = mainProc;
  added.swapped = swappedProc;
  added.entry = std::make_unique<ExtensionEntry>();
  ExtensionEntry* entry = added.entry.get();
  entry->index = static_cast<int>(d.extensions.size());
  entry->CloseDown = closeDownProc;
  entry->name = added.name->c_str();
  entry->base = opcode;
  entry->MinorOpcode = minorOpcodeProc;
  // Events and errors of extensions are not numbered here: none is sent.
  entry->eventBase = entry->eventLast = 0;
  entry->errorBase = entry->errorLast = 0;
  d.extensions.push_back(std::move(added));
  return entry;
}

unsigned short StandardMinorOpcode(ClientPtr client) {
  if (client == nullptr || client->requestBuffer == nullptr) return 0;
  return static_cast<const uint8_t*>(client->requestBuffer)[1];
}

WindowPtr LookupWindow(XID id, ClientPtr) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr) return nullptr;
  auto it = s->dix.windows.find(id);
  return it == s->dix.windows.end() ? nullptr : it->second.get();
}

}  // extern "C"
