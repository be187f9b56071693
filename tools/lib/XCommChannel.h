// Client side of the "ORVCFG" X extension: one routine per request.
//
// Requests returning a record answer 1 when the reply came (the out fields
// are then filled) and 0 otherwise, with the out fields untouched. The two
// validation requests answer the reply's status word (0 = valid), and 0 when
// no reply came.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

#include "core/orvcfg_records.h"

// Opens the display named by "DISPLAY" and returns it when the server has
// the extension. Without it the client library's missing-extension report
// is printed and null is returned (the connection stays open).
Display* ORVCFGInitialize();
void ORVCFGShutdown(Display* dpy);
bool ORVCFGIsExtFound(Display* dpy);

int ORVCFGGetVersion(Display* dpy, int* major, int* minor, int* patch);
int ORVCFGGetNBBoard(Display* dpy, int* count);
int ORVCFGGetBoardByAddress(Display* dpy, uint32_t bus, uint32_t device, uint32_t function,
                            int* board);
uint32_t ORVCFGValidateMode(Display* dpy, uint32_t board, uint32_t output, uint32_t outputType,
                            const ORVCFGVideoMode* mode);
int ORVCFGGetGenericBoardCap(Display* dpy, uint32_t board, ORVCFGGenericBoardCap* cap);
int ORVCFGGetSpecificBoardCap(Display* dpy, uint32_t board, uint32_t capability,
                              int32_t* value);
int ORVCFGGetOutputState(Display* dpy, uint32_t board, uint32_t output,
                         ORVCFGOutputState* state);
int ORVCFGGetGenericBoardState(Display* dpy, uint32_t board, ORVCFGGenericBoardState* state);
uint32_t ORVCFGValidateModeEDID(Display* dpy, uint32_t output, uint32_t outputType,
                                const ORVCFGVideoMode* mode);
int ORVCFGGetDetailledTiming(Display* dpy, uint32_t width, uint32_t height, uint32_t refresh,
                             ORVCFGVideoMode* mode);
