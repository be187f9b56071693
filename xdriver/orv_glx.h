// The seven hooks the board's OpenGL module finds in the driver module by
// name. Each takes the X screen; its first word, the screen number, selects
// the screen. Answers are 1 for success and 0 for a refusal, unless stated.
#pragma once

#include <stdint.h>

#include "platform/xserver/xf86_types.h"

extern "C" {

// The module's notice before every mode switch: (screen number, 0).
typedef void (*OrvGlxModeSwitchProc)(int screen, int flags);

// Takes part in the screen: refused (0, with a warning) unless the screen
// runs real bus mastering; stores the callback.
int ORVGLXInitialize(ScreenPtr screen, OrvGlxModeSwitchProc callback);
// Leaves the screen: mode switches no longer call the callback.
int ORVGLXCleanup(ScreenPtr screen);
// Registers a direct-rendering client with the accelerator device: its
// minor's low byte and the device's kernel handle; 0 when an out is missing.
int ORVGLXEnableDirectClient(ScreenPtr screen, uint8_t* minor, uint64_t* handle);
// Unregisters it; answers the device's status.
int ORVGLXDisableDirectClient(ScreenPtr screen);
// One page of device memory for a client: its address and handle; answers
// whether the handle is non-zero.
int ORVGLXAllocateClientBuffer(ScreenPtr screen, void** address, uint64_t* handle);
int ORVGLXFreeClientBuffer(ScreenPtr screen, void* address, uint64_t handle);
// Display width and height, bits per pixel, and 1 when rotated; answers
// the rotated flag.
int ORVGLXGetModeInfo(ScreenPtr screen, uint32_t* modeInfo);

}  // extern "C"
