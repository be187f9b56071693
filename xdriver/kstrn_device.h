// The driver core's device binding as the X front end calls it: enabling a
// head (the board's device node, the kernel's enable request and the device
// object), starting and stopping it (the engines' start-up of
// engine2d_startup.h, the primary surface, its declaration to the kernel
// module), the feature manager, client processes and device buffers.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

class PDEV;
struct FeatureInfo;

// Status codes of the core's entry points.
enum KstrnStatus : uint32_t {
  kKstrnSuccess = 1,
  kKstrnNoMemory = 2,
  kKstrnOpenFailed = 3,
  kKstrnNoKernelModule = 4,
  kKstrnKernelRefused = 5,
  kKstrnNoDevice = 6,
  kKstrnBadArgument = 7,
  kKstrnSetupFailed = 8,
  kKstrnNoAperture = 9,
};

// Desktop kinds of the enable request.
inline constexpr uint32_t kDesktopSingle = 0;
inline constexpr uint32_t kDesktopMergedKind = 1;
inline constexpr uint32_t kDesktopThreeHead = 2;
inline constexpr uint32_t kDesktopFourHead = 3;

// The head as the front end describes it to the core. The device object
// keeps pointing at `mode`, so the description must outlive the device.
struct KstrnDesktopDesc {
  uint32_t bus, device, function;
  uint32_t width, height;                // visible
  uint32_t virtualWidth, virtualHeight;
  uint32_t lines;                        // frame-buffer lines at the pitch
  uint32_t refresh;
  uint32_t bitsPerPixel;                 // 8, 16, 30, 32
  uint32_t redMask, greenMask, blueMask;
  int32_t hwRotation;                    // 0, 1 clockwise, -1 counter-clockwise
  uint32_t desktopKind;                  // kDesktop*
  uint32_t busMastering;                 // 0 kernel, 1 emulated, 2 local
  uint32_t head;
  uint32_t controller;
  uint8_t videoBridge;
  uint32_t* trackingWord;                // in: the caller's; out: the one in use
  uint8_t* registers;
  uint8_t* frameBuffer;
  uint32_t registerSize;                 // 8192
  uint32_t frameBufferSize;
  PDEV* pdev;                            // out
  VideoMode mode;                        // the device object's record
};

// What a started head hands back.
struct KstrnStartResult {
  uint64_t common1, common2;   // two words of the board's common data
  uint32_t frameBufferOffset;  // the primary surface in the frame buffer
  uint32_t displayOffset;      // the primary surface's display offset, bytes
  uint64_t cursorAperture;     // the cursor surface in the frame-buffer mapping, bytes
  uint32_t cursorOffset;
};

uint32_t KstrnInitDriver(const char* moduleName);
void KstrnCleanupDriver();
uint32_t KstrnEnableDevice(KstrnDesktopDesc* desc);
void KstrnDisableDevice(PDEV* pdev);
uint32_t KstrnStartDevice(PDEV* pdev, KstrnStartResult* result);
uint32_t KstrnStopDevice(PDEV* pdev);

uint32_t KstrnNotifyFeatureMgr(PDEV* pdev, FeatureInfo* features);
uint32_t KstrnStartFeatures(PDEV* pdev);
uint32_t KstrnStopFeatures(PDEV* pdev);

struct KstrnUserProcess {
  uint32_t minor;
  uint64_t pdevHandle;
};
uint32_t KstrnEnableUserProcess(PDEV* pdev, KstrnUserProcess* out);
uint32_t KstrnDisableUserProcess(PDEV* pdev, uint32_t flag);

// A device buffer for a client: size, kind 0..3, two flag bytes; the core
// fills the addresses and the handle.
struct KstrnDeviceBuffer {
  uint32_t size;
  uint32_t kind;
  uint8_t flagged;
  uint8_t extra;
  void* address;
  uint64_t handle;
};
uint32_t KstrnAllocateDeviceBuffer(PDEV* pdev, KstrnDeviceBuffer* request);
uint32_t KstrnFreeDeviceBuffer(PDEV* pdev, KstrnDeviceBuffer* request);
