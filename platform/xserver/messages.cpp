// The server's message log, kept for the test to read.
#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

namespace {

std::string Format(const char* format, va_list args) {
  if (format == nullptr) return {};
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

const char* Marker(MessageType type) {
  switch (type) {
    case X_PROBED: return "(--) ";
    case X_CONFIG: return "(**) ";
    case X_DEFAULT: return "(==) ";
    case X_CMDLINE: return "(++) ";
    case X_NOTICE: return "(!!) ";
    case X_ERROR: return "(EE) ";
    case X_WARNING: return "(WW) ";
    case X_INFO: return "(II) ";
    case X_NOT_IMPLEMENTED: return "(NI) ";
    case X_NONE: break;
  }
  return "";
}

void Log(xstub::MessageSource source, MessageType type, int screen, int verbosity,
         std::string text) {
  xstub::detail::State* s = xstub::detail::Current();
  if (s == nullptr || s->echo) {
    std::string prefix = Marker(type);
    if (screen >= 0) prefix += "screen " + std::to_string(screen) + ": ";
    fprintf(stderr, "%s%s", prefix.c_str(), text.c_str());
  }
  if (s != nullptr) {
    s->messages.push_back(xstub::Message{source, type, screen, verbosity, std::move(text)});
  }
}

}  // namespace

extern "C" {

void VErrorF(const char* format, va_list arguments) {
  Log(xstub::MessageSource::kErrorF, X_NONE, -1, 1, Format(format, arguments));
}

void ErrorF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VErrorF(format, args);
  va_end(args);
}

void xf86DrvMsg(int screen, MessageType type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Log(xstub::MessageSource::kDrvMsg, type, screen, 1, Format(format, args));
  va_end(args);
}

void xf86DrvMsgVerb(int screen, MessageType type, int verbosity, const char* format,
                    ...) {
  va_list args;
  va_start(args, format);
  Log(xstub::MessageSource::kDrvMsg, type, screen, verbosity, Format(format, args));
  va_end(args);
}

void xf86Msg(MessageType type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Log(xstub::MessageSource::kMsg, type, -1, 1, Format(format, args));
  va_end(args);
}

}  // extern "C"
