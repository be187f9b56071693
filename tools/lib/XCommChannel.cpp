#include "tools/lib/XCommChannel.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// clang-format off
#include <X11/Xlibint.h>
#include <X11/extensions/Xext.h>
// The extension utility header has no C++ linkage block of its own.
extern "C" {
#include <X11/extensions/extutil.h>
}
// clang-format on

#include "core/orvcfg_proto.h"

namespace {

constexpr size_t kRequestHeaderBytes = 8;  // opcodes, length, screen
constexpr size_t kReplyBytes = 32;

XExtensionInfo* orvrdp_info = nullptr;
const char* const orvrdp_extension_name = ORVCFG_EXTENSION_NAME;

int close_display(Display* dpy, XExtCodes* /*codes*/) {
  return XextRemoveDisplay(orvrdp_info, dpy);
}

// An error answering one of our requests ends that request with "no reply";
// the client library would otherwise end the whole process.
int error_hook(Display* /*dpy*/, xError* err, XExtCodes* codes, int* retCode) {
  if (err->majorCode != codes->major_opcode) return False;
  *retCode = 0;
  return True;
}

XExtensionHooks orvrdp_extension_hooks = {
    nullptr,        // create_gc
    nullptr,        // copy_gc
    nullptr,        // flush_gc
    nullptr,        // free_gc
    nullptr,        // create_font
    nullptr,        // free_font
    close_display,  // close_display
    nullptr,        // wire_to_event
    nullptr,        // event_to_wire
    error_hook,     // error
    nullptr,        // error_string
};

XExtDisplayInfo* find_display(Display* dpy) {
  if (!orvrdp_info) {
    orvrdp_info = XextCreateExtension();
    if (!orvrdp_info) return nullptr;
  }
  XExtDisplayInfo* info = XextFindDisplay(orvrdp_info, dpy);
  if (!info)
    info = XextAddDisplay(orvrdp_info, dpy, orvrdp_extension_name, &orvrdp_extension_hooks, 0,
                          nullptr);
  return info;
}

// Reads the data of a reply already received into `out`: the 24 bytes of
// its body from offset 8, then the extra words. A reply shorter than the
// record counts as no reply; words beyond the record are skipped.
bool ReadReplyData(Display* dpy, const xReply& rep, void* out, size_t outBytes) {
  const uint32_t wanted = OrvCfgExtraWords(uint32_t(outBytes));
  const uint32_t sent = rep.generic.length;
  if (sent < wanted) {
    _XEatDataWords(dpy, sent);
    return false;
  }
  std::vector<uint8_t> buffer(kReplyBytes + size_t(wanted) * 4);
  std::memcpy(buffer.data(), &rep, kReplyBytes);
  if (wanted > 0) _XRead(dpy, reinterpret_cast<char*>(buffer.data() + kReplyBytes), long(wanted) * 4);
  if (sent > wanted) _XEatDataWords(dpy, sent - wanted);
  std::memcpy(out, buffer.data() + kOrvCfgReplyDataOffset, outBytes);
  return true;
}

// Sends one request (`body` follows the screen number) and reads the
// reply's data into `out`.
bool Transact(Display* dpy, uint8_t minor, const void* body, size_t bodyBytes, void* out,
              size_t outBytes) {
  if (!dpy) return false;
  XExtDisplayInfo* info = find_display(dpy);
  if (!info || !XextHasExtension(info)) return false;

  LockDisplay(dpy);
  auto* req = static_cast<uint8_t*>(
      _XGetRequest(dpy, uint8_t(info->codes->major_opcode), kRequestHeaderBytes + bodyBytes));
  bool ok = false;
  if (req) {
    req[1] = minor;
    uint32_t screen = uint32_t(DefaultScreen(dpy));
    std::memcpy(req + 4, &screen, 4);
    if (bodyBytes) std::memcpy(req + kRequestHeaderBytes, body, bodyBytes);
    xReply rep;
    if (_XReply(dpy, &rep, 0, xFalse)) ok = ReadReplyData(dpy, rep, out, outBytes);
  }
  UnlockDisplay(dpy);
  SyncHandle();
  return ok;
}

struct ModeRequestBody {
  uint32_t board;
  uint32_t output;
  uint32_t outputType;
  ORVCFGVideoMode mode;
};
static_assert(sizeof(ModeRequestBody) + kRequestHeaderBytes == kOrvCfgLenValidateMode * 4u);

uint32_t ValidateRequest(Display* dpy, uint8_t minor, uint32_t board, uint32_t output,
                         uint32_t outputType, const ORVCFGVideoMode* mode) {
  ModeRequestBody body{board, output, outputType, {}};
  if (mode) body.mode = *mode;
  uint32_t status = 0;
  if (!Transact(dpy, minor, &body, sizeof body, &status, sizeof status)) return 0;
  return status;
}

}  // namespace

Display* ORVCFGInitialize() {
  const char* name = std::getenv("DISPLAY");
  if (!name) return nullptr;
  Display* dpy = XOpenDisplay(name);
  if (!dpy) return nullptr;
  XExtDisplayInfo* info = find_display(dpy);
  if (info && XextHasExtension(info)) return dpy;
  XMissingExtension(dpy, orvrdp_extension_name);
  return nullptr;
}

void ORVCFGShutdown(Display* dpy) {
  if (dpy) XCloseDisplay(dpy);
}

bool ORVCFGIsExtFound(Display* dpy) {
  if (!dpy) return false;
  XExtDisplayInfo* info = find_display(dpy);
  return info && XextHasExtension(info);
}

int ORVCFGGetVersion(Display* dpy, int* major, int* minor, int* patch) {
  uint32_t data[3];
  if (!Transact(dpy, X_ORVCFGGetVersion, nullptr, 0, data, sizeof data)) return 0;
  *major = int(data[0]);
  *minor = int(data[1]);
  *patch = int(data[2]);
  return 1;
}

int ORVCFGGetNBBoard(Display* dpy, int* count) {
  uint32_t n;
  if (!Transact(dpy, X_ORVCFGGetNBBoard, nullptr, 0, &n, sizeof n)) return 0;
  *count = int(n);
  return 1;
}

int ORVCFGGetBoardByAddress(Display* dpy, uint32_t bus, uint32_t device, uint32_t function,
                            int* board) {
  const uint32_t body[3] = {bus, device, function};
  uint32_t index;
  if (!Transact(dpy, X_ORVCFGGetBoardByAddress, body, sizeof body, &index, sizeof index))
    return 0;
  *board = int(index);
  return 1;
}

uint32_t ORVCFGValidateMode(Display* dpy, uint32_t board, uint32_t output, uint32_t outputType,
                            const ORVCFGVideoMode* mode) {
  return ValidateRequest(dpy, X_ORVCFGValidateMode, board, output, outputType, mode);
}

uint32_t ORVCFGValidateModeEDID(Display* dpy, uint32_t output, uint32_t outputType,
                                const ORVCFGVideoMode* mode) {
  return ValidateRequest(dpy, X_ORVCFGValidateModeEDID, 0, output, outputType, mode);
}

int ORVCFGGetGenericBoardCap(Display* dpy, uint32_t board, ORVCFGGenericBoardCap* cap) {
  ORVCFGGenericBoardCap data;
  if (!Transact(dpy, X_ORVCFGGetGenericBoardCap, &board, sizeof board, &data, sizeof data))
    return 0;
  *cap = data;
  return 1;
}

int ORVCFGGetSpecificBoardCap(Display* dpy, uint32_t board, uint32_t capability,
                              int32_t* value) {
  const uint32_t body[2] = {board, capability};
  int32_t data;
  if (!Transact(dpy, X_ORVCFGGetSpecificBoardCap, body, sizeof body, &data, sizeof data))
    return 0;
  *value = data;
  return 1;
}

int ORVCFGGetOutputState(Display* dpy, uint32_t board, uint32_t output,
                         ORVCFGOutputState* state) {
  const uint32_t body[2] = {board, output};
  auto data = std::make_unique<ORVCFGOutputState>();
  if (!Transact(dpy, X_ORVCFGGetOutputState, body, sizeof body, data.get(), sizeof *data))
    return 0;
  *state = *data;
  return 1;
}

int ORVCFGGetGenericBoardState(Display* dpy, uint32_t board, ORVCFGGenericBoardState* state) {
  ORVCFGGenericBoardState data;
  if (!Transact(dpy, X_ORVCFGGetGenericBoardState, &board, sizeof board, &data, sizeof data))
    return 0;
  *state = data;
  return 1;
}

int ORVCFGGetDetailledTiming(Display* dpy, uint32_t width, uint32_t height, uint32_t refresh,
                             ORVCFGVideoMode* mode) {
  const uint32_t body[3] = {width, height, refresh};
  ORVCFGVideoMode data;
  if (!Transact(dpy, X_ORVCFGGetDetailledTiming, body, sizeof body, &data, sizeof data))
    return 0;
  *mode = data;
  return 1;
}
