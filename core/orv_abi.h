// The binary interface between the X driver and the kernel module: the two
// blocks mapped into both (SharedData_t, SharedLockedData_t), the mode record
// handed to every device object (VideoMode) and the request records of the
// device node (core/orv_ioctl.h, included here). Both builds use this one
// definition; every offset below is fixed.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "core/orv_ioctl.h"

// ---- Shared data block ---------------------------------------------------------
// Written by the kernel module when it creates the device; the X driver keeps
// its address and does not read it. 24 zero bytes in local-DMA mode.
struct SharedData_t {
  uint32_t blockSize;          // 24
  uint32_t blockPhysAddr;
  uint32_t pciId;              // board's configuration dword 0 (device << 16 | vendor)
  uint32_t pciClassRevision;   // board's configuration dword 8
  uint32_t hostBridgeId;       // host bridge's configuration dword 0, 0 when none
  uint32_t pciConfigF4;        // board's configuration dword 0xF4
};
static_assert(sizeof(SharedData_t) == 24);
static_assert(offsetof(SharedData_t, blockPhysAddr) == 4);
static_assert(offsetof(SharedData_t, pciId) == 8);
static_assert(offsetof(SharedData_t, pciClassRevision) == 12);
static_assert(offsetof(SharedData_t, hostBridgeId) == 16);
static_assert(offsetof(SharedData_t, pciConfigF4) == 20);

// ---- Shared locked data block ------------------------------------------------------

// A pending command-buffer slot of the transform interfaces.
inline constexpr uint32_t kPendingSlotFree = 0xFFFFFFFF;
inline constexpr unsigned kPendingSlotCount = 15;
struct SharedPendingSlot {
  uint32_t postType;   // kPendingSlotFree when the slot is free
  uint32_t busStart;   // bus address of the first command
  uint32_t busEnd;     // bus address of the end, OR the buffer's bus type
  uint32_t unused[3];
};
static_assert(sizeof(SharedPendingSlot) == 24);

// Shadowed state of the 2D engine. Each value is named after the register it
// is restored to.
struct SharedHwThread2d {
  uint32_t emittedFlags;   // its two low bytes are tested as flag bytes
  uint8_t fullRestore;
  uint8_t pad0[3];
  uint32_t stateMask;
  uint8_t cleared0;
  uint8_t pad1[3];
  uint32_t dirtyBits;      // the kernel module sets them all on each periodic post
  uint8_t cleared1;
  uint8_t pad2[3];
  uint32_t reg1300;        // initially 0x707
  uint32_t reg1328;
  uint32_t reg132C;
  uint32_t reg1324;        // initially 0xFFFFFFFF
  uint32_t reg1318;
  uint32_t reg1314;
  uint32_t reg131C;
  uint32_t reg1320;
  uint32_t reg1308;
  uint32_t reg1304;
  uint32_t reg130C;        // 0x138C on a full restore
  uint32_t even[4];        // 0x1220, 0x1228, 0x1230, 0x1238
  uint32_t odd[4];         // 0x1224, 0x122C, 0x1234, 0x123C
  uint32_t extra[4];
};
static_assert(sizeof(SharedHwThread2d) == 116);

// Sync-tag ring and event slots: owned by the kernel module.
inline constexpr size_t kSyncTagRingSize = 1048;
inline constexpr unsigned kSyncTagEventCount = 32;
inline constexpr size_t kSyncTagEventSize = 32;

// DMA mode word values.
inline constexpr uint32_t kDmaModePost = 0;     // ranges posted to the kernel module
inline constexpr uint32_t kDmaModeEmulate = 1;  // the processor executes the commands
inline constexpr uint32_t kDmaModeLocal = 2;    // the X driver starts the chip's DMA

inline constexpr uint32_t kLastRegNone = 0xFFFFFFFF;

// Zeroed by its creator. The kernel module fills it at device create; in
// local-DMA mode the X driver fills the fields the kernel module would.
struct SharedLockedData_t {
  uint32_t word0;
  uint32_t unused4[3];
  uint32_t completedTag;             // 16: DMA progress as the kernel module reports it
  uint32_t unused20[3];
  uint32_t completedBufferCounter;   // 32: buffer counter the engine has finished
  uint32_t unused36[7];
  // 64: the kernel module stores the block's physical address here; the
  // feature manager reads the 64-bit word at 64 (see FeatureWord below).
  uint32_t blockPhysAddr;
  uint32_t syncTagCounter;           // 68
  uint32_t word72;
  uint32_t bufferReportWord;         // 76: sent to 0x1090 in buffer-switch packets
  uint32_t bufferCounter;            // 80
  uint32_t notBusyOverride;          // 84
  uint32_t blockSize;                // 88: kernel module: 2784
  uint32_t unused92;
  uint64_t blockPhysAddr64;          // 96: kernel module
  uint32_t revisionBits;             // 104
  uint32_t multiProcessor;           // 108
  int32_t dmaBusyLock;               // 112: kernel module only
  uint32_t lastDmaEnd;               // 116
  int32_t pendingSubmissions;        // 120
  int32_t commandLock;               // 124
  int32_t commandLockDepth;          // 128
  uint32_t regGuardEnable;           // 132
  uint32_t lastRegWritten;           // 136
  uint32_t last1300Value;            // 140: kLastRegNone when there is none
  uint32_t directWriteCount;         // 144
  uint32_t unused148;
  uint32_t interruptEnableCopy;      // 152
  uint32_t expectedDmaStatus;        // 156
  uint64_t frameBufferMapping;       // 160: X driver process address
  uint32_t frameBufferPhys;          // 168
  uint32_t frameBufferSize;          // 172
  uint32_t word176;
  uint32_t unused180;
  uint32_t frameBufferHalf[2];       // 184, 188
  uint64_t registerMapping;          // 192: X driver process address
  uint32_t registerPhys;             // 200
  uint32_t registerSize;             // 204
  uint32_t word208;
  uint32_t unused212;
  uint32_t primaryEngineMode;        // 216: kernel module
  uint32_t word220;
  uint32_t busFlags;                 // 224
  uint8_t syncTagRing[kSyncTagRingSize];                    // 228
  uint8_t syncTagEvents[kSyncTagEventCount][kSyncTagEventSize];  // 1276
  uint32_t dmaMode;                  // 2300
  SharedPendingSlot pendingSlots[kPendingSlotCount];        // 2304
  SharedHwThread2d thread2d;         // 2664
  uint32_t unused2780;
};

// The feature manager's 64-bit word at offset 64 (it spans offset 68).
inline uint64_t FeatureWord(const SharedLockedData_t* shared) {
  uint64_t value;
  memcpy(&value, &shared->blockPhysAddr, sizeof(value));
  return value;
}

static_assert(sizeof(SharedLockedData_t) == 2784);
static_assert(offsetof(SharedLockedData_t, completedTag) == 16);
static_assert(offsetof(SharedLockedData_t, completedBufferCounter) == 32);
static_assert(offsetof(SharedLockedData_t, blockPhysAddr) == 64);
static_assert(offsetof(SharedLockedData_t, syncTagCounter) == 68);
static_assert(offsetof(SharedLockedData_t, word72) == 72);
static_assert(offsetof(SharedLockedData_t, bufferReportWord) == 76);
static_assert(offsetof(SharedLockedData_t, bufferCounter) == 80);
static_assert(offsetof(SharedLockedData_t, notBusyOverride) == 84);
static_assert(offsetof(SharedLockedData_t, blockSize) == 88);
static_assert(offsetof(SharedLockedData_t, blockPhysAddr64) == 96);
static_assert(offsetof(SharedLockedData_t, revisionBits) == 104);
static_assert(offsetof(SharedLockedData_t, multiProcessor) == 108);
static_assert(offsetof(SharedLockedData_t, dmaBusyLock) == 112);
static_assert(offsetof(SharedLockedData_t, lastDmaEnd) == 116);
static_assert(offsetof(SharedLockedData_t, pendingSubmissions) == 120);
static_assert(offsetof(SharedLockedData_t, commandLock) == 124);
static_assert(offsetof(SharedLockedData_t, commandLockDepth) == 128);
static_assert(offsetof(SharedLockedData_t, regGuardEnable) == 132);
static_assert(offsetof(SharedLockedData_t, lastRegWritten) == 136);
static_assert(offsetof(SharedLockedData_t, last1300Value) == 140);
static_assert(offsetof(SharedLockedData_t, directWriteCount) == 144);
static_assert(offsetof(SharedLockedData_t, interruptEnableCopy) == 152);
static_assert(offsetof(SharedLockedData_t, expectedDmaStatus) == 156);
static_assert(offsetof(SharedLockedData_t, frameBufferMapping) == 160);
static_assert(offsetof(SharedLockedData_t, frameBufferPhys) == 168);
static_assert(offsetof(SharedLockedData_t, frameBufferSize) == 172);
static_assert(offsetof(SharedLockedData_t, word176) == 176);
static_assert(offsetof(SharedLockedData_t, frameBufferHalf) == 184);
static_assert(offsetof(SharedLockedData_t, registerMapping) == 192);
static_assert(offsetof(SharedLockedData_t, registerPhys) == 200);
static_assert(offsetof(SharedLockedData_t, registerSize) == 204);
static_assert(offsetof(SharedLockedData_t, word208) == 208);
static_assert(offsetof(SharedLockedData_t, primaryEngineMode) == 216);
static_assert(offsetof(SharedLockedData_t, word220) == 220);
static_assert(offsetof(SharedLockedData_t, busFlags) == 224);
static_assert(offsetof(SharedLockedData_t, syncTagRing) == 228);
static_assert(offsetof(SharedLockedData_t, syncTagEvents) == 1276);
static_assert(offsetof(SharedLockedData_t, dmaMode) == 2300);
static_assert(offsetof(SharedLockedData_t, pendingSlots) == 2304);
static_assert(offsetof(SharedLockedData_t, thread2d) == 2664);
static_assert(offsetof(SharedLockedData_t, thread2d.emittedFlags) == 2664);
static_assert(offsetof(SharedLockedData_t, thread2d.fullRestore) == 2668);
static_assert(offsetof(SharedLockedData_t, thread2d.stateMask) == 2672);
static_assert(offsetof(SharedLockedData_t, thread2d.cleared0) == 2676);
static_assert(offsetof(SharedLockedData_t, thread2d.dirtyBits) == 2680);
static_assert(offsetof(SharedLockedData_t, thread2d.cleared1) == 2684);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1300) == 2688);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1328) == 2692);
static_assert(offsetof(SharedLockedData_t, thread2d.reg132C) == 2696);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1324) == 2700);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1318) == 2704);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1314) == 2708);
static_assert(offsetof(SharedLockedData_t, thread2d.reg131C) == 2712);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1320) == 2716);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1308) == 2720);
static_assert(offsetof(SharedLockedData_t, thread2d.reg1304) == 2724);
static_assert(offsetof(SharedLockedData_t, thread2d.reg130C) == 2728);
static_assert(offsetof(SharedLockedData_t, thread2d.even) == 2732);
static_assert(offsetof(SharedLockedData_t, thread2d.odd) == 2748);
static_assert(offsetof(SharedLockedData_t, thread2d.extra) == 2764);

// ---- Mode record ---------------------------------------------------------------------
// Filled by the X driver and copied whole by every device object. Fields
// marked "caller's" are passed through untouched by the core.
struct VideoMode {
  uint32_t desktopKind;        // 0..3
  uint32_t dimension1;
  uint32_t dimension2;
  uint32_t bitsPerPixel;       // 8, 16, 30, 32
  uint32_t bytesPerPixel;
  uint32_t storageBits;        // 8, 16, 32, 32
  uint32_t pixelFormat;        // 17, 40, 52, 50
  uint32_t pixelFormat2;       // 16, 32, 52, 48
  uint32_t caller32;
  uint32_t redMask;
  uint32_t greenMask;
  uint32_t blueMask;
  uint32_t redBits;
  uint32_t virtualWidth;       // pixels; the pitch of the primary surface follows it
  uint32_t lines;              // lines of the frame buffer at this pitch
  uint32_t virtualHeight;
  uint32_t caller64;
  uint32_t localDma;           // non-zero without the kernel module
  uint32_t unit;
  uint32_t controller;
  uint8_t callerFlag80;
  uint8_t pad81[7];
  // In the process: address of the caller's 32-bit last-register-written
  // word. In the enable request: that word's value.
  uint64_t lastRegWritten;
  uint64_t registerMapping;    // caller's register mapping, or 0
  uint64_t frameBufferMapping; // caller's frame-buffer mapping, or 0
  uint32_t registerWindowSize; // 8192
  uint32_t frameBufferMapSize; // bytes of the caller's frame-buffer mapping
};
static_assert(sizeof(VideoMode) == 120);
static_assert(offsetof(VideoMode, dimension1) == 4);
static_assert(offsetof(VideoMode, dimension2) == 8);
static_assert(offsetof(VideoMode, bitsPerPixel) == 12);
static_assert(offsetof(VideoMode, bytesPerPixel) == 16);
static_assert(offsetof(VideoMode, storageBits) == 20);
static_assert(offsetof(VideoMode, pixelFormat) == 24);
static_assert(offsetof(VideoMode, pixelFormat2) == 28);
static_assert(offsetof(VideoMode, caller32) == 32);
static_assert(offsetof(VideoMode, redMask) == 36);
static_assert(offsetof(VideoMode, greenMask) == 40);
static_assert(offsetof(VideoMode, blueMask) == 44);
static_assert(offsetof(VideoMode, redBits) == 48);
static_assert(offsetof(VideoMode, virtualWidth) == 52);
static_assert(offsetof(VideoMode, lines) == 56);
static_assert(offsetof(VideoMode, virtualHeight) == 60);
static_assert(offsetof(VideoMode, caller64) == 64);
static_assert(offsetof(VideoMode, localDma) == 68);
static_assert(offsetof(VideoMode, unit) == 72);
static_assert(offsetof(VideoMode, controller) == 76);
static_assert(offsetof(VideoMode, callerFlag80) == 80);
static_assert(offsetof(VideoMode, lastRegWritten) == 88);
static_assert(offsetof(VideoMode, registerMapping) == 96);
static_assert(offsetof(VideoMode, frameBufferMapping) == 104);
static_assert(offsetof(VideoMode, registerWindowSize) == 112);
static_assert(offsetof(VideoMode, frameBufferMapSize) == 116);

// ---- 0x14: enable a head --------------------------------------------------------------
// The mode record, with the last-register word's value at offset 88, and the
// kernel handle that the module fills.
struct OrvEnableRequest {
  VideoMode mode;
  uint64_t kernelHandle;
};
static_assert(sizeof(OrvEnableRequest) == 128);
static_assert(offsetof(OrvEnableRequest, kernelHandle) == 120);

// ---- Shared blocks -------------------------------------------------------------------------
// Sizes of the two blocks shared with the kernel module. (The common data and
// the common locked block are private to each side: core/common_data.h.)
inline constexpr uint32_t kSharedDataSize = sizeof(SharedData_t);
inline constexpr uint32_t kSharedLockedSize = sizeof(SharedLockedData_t);
