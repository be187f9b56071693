#include "tools/lib/XCommInterface.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/chip_ids.h"
#include "tools/lib/XCommChannel.h"

namespace {

Display* poDisplay = nullptr;
int s_extFound = 0;
int s_isLibraryInit = 0;

// The display to talk to, or null when the extension is absent.
Display* Connection() {
  if (s_isLibraryInit) return s_extFound ? poDisplay : nullptr;
  s_isLibraryInit = 1;
  poDisplay = ORVCFGInitialize();
  if (!poDisplay) {
    std::printf("Extension ORVCFG cannot be found\n");
    std::fflush(stdout);
    return nullptr;
  }
  s_extFound = 1;
  return poDisplay;
}

// Truncates toward zero into a 32-bit word; what does not fit gives 0.
uint32_t ToWord(double value) {
  if (!(value >= 0.0) || value >= 4294967296.0) return 0;
  return uint32_t(value);
}

uint32_t Diff(int32_t a, int32_t b) { return uint32_t(int64_t(a) - int64_t(b)); }

}  // namespace

int ORVCommIsORVCfgExtFound() {
  Display* dpy = Connection();
  return dpy && ORVCFGIsExtFound(dpy) ? 1 : 0;
}

int ORVCommValidateMode(int board, int output, int outputType, const UiModeLine* mode) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  ORVCFGVideoMode m;
  ConvertUiModeLineToORVCFGVideoMode(&m, mode);
  return ORVCFGValidateMode(dpy, uint32_t(board), uint32_t(output), uint32_t(outputType), &m) == 0
             ? 1
             : 0;
}

int ORVCommValidateModeEDID(int /*board*/, int output, int outputType, const UiModeLine* mode) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  ORVCFGVideoMode m;
  ConvertUiModeLineToORVCFGVideoMode(&m, mode);
  return ORVCFGValidateModeEDID(dpy, uint32_t(output), uint32_t(outputType), &m) == 0 ? 1 : 0;
}

int ORVCommGetDetailledTiming(int width, int height, int refresh, UiModeLine* out) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  ORVCFGVideoMode m{};
  int result = ORVCFGGetDetailledTiming(dpy, uint32_t(width), uint32_t(height),
                                        uint32_t(refresh), &m);
  ConvertORVCFGValidateOutputToUiModeLine(out, &m);
  return result;
}

int ORVCommGetSpecificBoardCap(int board, int capability) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  int32_t value;
  if (!ORVCFGGetSpecificBoardCap(dpy, uint32_t(board), uint32_t(capability), &value)) return -1;
  return value;
}

int ORVCommGetBoardByAddress(int bus, int device, int function) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  int index;
  if (!ORVCFGGetBoardByAddress(dpy, uint32_t(bus), uint32_t(device), uint32_t(function), &index))
    return -1;
  return index;
}

int ORVCommGetNBBoard() {
  Display* dpy = Connection();
  if (!dpy) return 0;
  int count;
  return ORVCFGGetNBBoard(dpy, &count) ? count : 0;
}

int ORVCommGetVersion(int* major, int* minor, int* patch) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  ORVCFGGetVersion(dpy, major, minor, patch);
  return 1;
}

int ORVCommGetGenericBoardCap(int board, ORVCFGGenericBoardCap* cap) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  return ORVCFGGetGenericBoardCap(dpy, uint32_t(board), cap);
}

int ORVCommGetGenericBoardState(int board, ORVCFGGenericBoardState* state) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  return ORVCFGGetGenericBoardState(dpy, uint32_t(board), state);
}

int ORVCommGetOutputState(int board, int output, ORVCFGOutputState* state) {
  Display* dpy = Connection();
  if (!dpy) return 0;
  return ORVCFGGetOutputState(dpy, uint32_t(board), uint32_t(output), state);
}

bool ORVCommIsBoardDVIResolutionLimited(int board) {
  ORVCFGGenericBoardCap cap{};
  ORVCommGetGenericBoardCap(board, &cap);
  return cap.ulDeviceId <= 0xFFFF && IsEarlyKestrion(static_cast<uint16_t>(cap.ulDeviceId));
}

bool ORVCommIsMonitorContainsEdid(int board, int output) {
  auto state = std::make_unique<ORVCFGOutputState>();
  ORVCommGetOutputState(board, output, state.get());
  uint32_t vendorWord, serialWord;
  std::memcpy(&vendorWord, state->szVendor, 4);
  std::memcpy(&serialWord, state->szSerial, 4);
  return vendorWord != 0 && serialWord != 0;
}

void ORVCommShutdown() {
  if (poDisplay) ORVCFGShutdown(poDisplay);
  poDisplay = nullptr;
}

void ORVCommResetForTesting() {
  ORVCommShutdown();
  s_extFound = 0;
  s_isLibraryInit = 0;
}

void ConvertUiModeLineToORVCFGVideoMode(ORVCFGVideoMode* out, const UiModeLine* mode) {
  *out = ORVCFGVideoMode{};
  const double khz = mode->clock * 1000.0;
  const double frame = double(mode->htotal) * double(mode->vtotal);
  if (frame > 0.0) out->ulRefreshRate = ToWord(khz * 1000.0 / frame + 0.5);
  if (mode->htotal > 0) out->ulLineRate = ToWord(khz / mode->htotal + 0.5);
  // Rounded, not truncated: a clock read from the server (32010 kHz is
  // 32.01 MHz, just under it as a double) must go back as the same kHz.
  out->ulPixClock = ToWord(khz + 0.5);
  out->ulHActive = uint32_t(mode->hdisplay);
  out->ulHFrontPorch = Diff(mode->hsyncstart, mode->hdisplay);
  out->ulHSyncWidth = Diff(mode->hsyncend, mode->hsyncstart);
  out->ulHBackPorch = Diff(mode->htotal, mode->hsyncend);
  out->ulVActive = uint32_t(mode->vdisplay);
  out->ulVFrontPorch = Diff(mode->vsyncstart, mode->vdisplay);
  out->ulVSyncWidth = Diff(mode->vsyncend, mode->vsyncstart);
  out->ulVBackPorch = Diff(mode->vtotal, mode->vsyncend);
  if (mode->hpolarity == kPolarityPositive) out->ulFlags |= ORVCFG_MODE_HSYNC_POSITIVE;
  if (mode->vpolarity == kPolarityPositive) out->ulFlags |= ORVCFG_MODE_VSYNC_POSITIVE;
}

void ConvertORVCFGValidateOutputToUiModeLine(UiModeLine* out, const ORVCFGVideoMode* mode) {
  out->clock = ConvertKHzToMHz(int32_t(mode->ulPixClock));
  out->hdisplay = int32_t(mode->ulHActive);
  out->hsyncstart = int32_t(mode->ulHActive + mode->ulHFrontPorch);
  out->hsyncend = int32_t(mode->ulHActive + mode->ulHFrontPorch + mode->ulHSyncWidth);
  out->htotal = int32_t(mode->ulHActive + mode->ulHFrontPorch + mode->ulHSyncWidth +
                        mode->ulHBackPorch);
  out->vdisplay = int32_t(mode->ulVActive);
  out->vsyncstart = int32_t(mode->ulVActive + mode->ulVFrontPorch);
  out->vsyncend = int32_t(mode->ulVActive + mode->ulVFrontPorch + mode->ulVSyncWidth);
  out->vtotal = int32_t(mode->ulVActive + mode->ulVFrontPorch + mode->ulVSyncWidth +
                        mode->ulVBackPorch);
  out->hpolarity = (mode->ulFlags & ORVCFG_MODE_HSYNC_POSITIVE) ? kPolarityPositive
                                                                 : kPolarityNegative;
  out->vpolarity = (mode->ulFlags & ORVCFG_MODE_VSYNC_POSITIVE) ? kPolarityPositive
                                                                 : kPolarityNegative;
}
