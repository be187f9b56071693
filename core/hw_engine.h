// The core's views of the chip: the frame-buffer and register mappings, the
// chip revision code, the register-write guard, the processor-side executor
// of DMA command packets, the shadowed 2D engine state and the board's
// hardware manager.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/orv_abi.h"

class IDriver;
class PDEV;

// ---- Registers ------------------------------------------------------------------
inline constexpr uint32_t kRegGuardDummy = 0x384;     // written with 0 by the guard
inline constexpr uint32_t kRegSyncTagReached = 0x41C;
inline constexpr uint32_t kRegDmaStatus = 0x450;
inline constexpr uint32_t kDmaStatusWriteReady = 1u << 22;
inline constexpr uint32_t kRegDmaWindow = 0x1000;     // packet index i writes 0x1000 + 4 * i
inline constexpr uint32_t kRegSyncTag = 0x12BC;       // index 0xAF
inline constexpr uint32_t kReg2dControl = 0x1300;     // index 0xC0
inline constexpr uint32_t kRegPrimaryControl = 0x1800;  // + 512 * controller, bit 0 enable
inline constexpr uint32_t kPrimaryEnable = 0x1;
inline constexpr uint32_t kRegDisplayMode = 0x1900;   // + 512 * controller, bit 0 interlaced
inline constexpr uint32_t kDisplayInterlaced = 0x1;
inline constexpr uint32_t kRegLineCounter = 0x1924;   // + 512 * controller
inline constexpr uint32_t kLineCounterMask = 0xFFF;
inline constexpr uint32_t kControllerStride = 512;

// The guard puts a dummy write before a write at most this many bytes above
// the last register written.
inline constexpr uint32_t kGuardWindowBytes = 128;
// Direct writes allowed between two waits on the DMA status register.
inline constexpr uint32_t kDirectWritesPerWait = 16;

// ---- Register access through the board's register mapping ----------------------------
// A write under the register-write guard.
void HwWriteRegister(CommonData* common, uint32_t reg, uint32_t value);
// A read; under the guard it first forgets the last register written.
uint32_t HwReadRegister(CommonData* common, uint32_t reg);
// Reads the register until (value & mask) == expected; no time limit.
uint32_t HwPollRegister(CommonData* common, uint32_t reg, uint32_t mask, uint32_t expected);

// ---- Chip revision ----------------------------------------------------------------------
// One bit per chip and revision.
inline constexpr uint32_t kRevSecondChip = 0x3C0;
inline constexpr uint32_t kRevNextFirstChip = 0x1C00;
inline constexpr uint32_t kRevFirstChipRev3 = 0x10;

class HwRevisionID {
 public:
  // The bits of a vendor-and-device dword and revision byte; 0 for other chips.
  static uint32_t Compute(uint32_t vendorDevice, uint32_t revision);
  // Copies the bits from the shared locked block into the device object and
  // the common data; true.
  static bool Init(IDriver* driver);
  static void Setup(SharedLockedData_t* shared, uint32_t vendorDevice, uint32_t revision);
  static void Setup(IDriver* driver, uint32_t vendorDevice, uint32_t revision);
  static void Cleanup(IDriver*) {}
};

// ---- Processor-side engine helpers --------------------------------------------------------
class HwDevice {
 public:
  // Executes the packets in [start, end): each dword that lies wholly in the
  // range is consumed; a start at or past the end executes nothing.
  static void ExecuteEmulDma(CommonData* common, const void* start, const void* end);

  static void EnablePrimarySurface(CommonData* common, bool enable, uint32_t controller);
  static void ShowPrimary(CommonData* common, uint32_t controller);
  static bool IsInterlacedMode(CommonData* common, uint32_t controller);
  static uint32_t GetMaxVolumeDepth(uint32_t width, uint32_t height, bool bordered);

  // Debug helpers over the register shadow.
  static uint32_t GetDwordFromBuffer(CommonData* common, uint32_t index);
  static void ExecuteShaderList(CommonData*) {}
  static void PrintDbgPacket(CommonData*) {}
};

// Packet indexes with their own meaning.
inline constexpr uint32_t kDmaIndexPadding = 0x21;
inline constexpr uint32_t kDmaIndexDropHeader = 0x23;
inline constexpr uint32_t kDmaIndexSyncTag = 0xAF;
inline constexpr uint32_t kDmaIndex2dControl = 0xC0;
inline constexpr uint32_t kSyncTagWait = 0x1;

// ---- 2D engine state ------------------------------------------------------------------------
class HwThread2d {
 public:
  // Initial values of the 2D control and clip words.
  static constexpr uint32_t kInitial1300 = 0x707;
  static constexpr uint32_t kInitial1324 = 0xFFFFFFFF;

  static void Reset(SharedLockedData_t* shared);
  // Emits a restore packet for each dirty bit of the state mask at the
  // command interface's write position; each packet is reserved whole, so
  // one that would pass the buffer's limit goes to the next buffer.
  static void SetupHardware(SharedLockedData_t* shared, BmPrimInt* dma);
  static void PrintHwDirtyFlags(SharedLockedData_t*) {}
};

// ---- Hardware manager ---------------------------------------------------------------------------
class HwManager : public OsHeapObject {
 public:
  HwManager(uint8_t* ok, CommonData* common, CFeatureMgr* feature);
  CommonData* common;
  CFeatureMgr* feature;
};
// Called by the feature manager. The first device object of the board
// creates the manager; every one keeps the board's manager.
bool InitHwManager(PDEV* pdev);
void CleanupHwManager(PDEV* pdev);

// ---- Component-table rows ---------------------------------------------------------------------
bool InitHwMemoryMap(PDEV* pdev);
void CleanupHwMemoryMap(PDEV* pdev);
bool InitHwRegisterMap(PDEV* pdev);
void CleanupHwRegisterMap(PDEV* pdev);
bool InitHwRegAccess(PDEV* pdev);
void CleanupHwRegAccess(PDEV* pdev);
bool InitHwDevice(PDEV* pdev);
void CleanupHwDevice(PDEV* pdev);
bool InitHwEngineOwner(PDEV* pdev);
void CleanupHwEngineOwner(PDEV* pdev);
bool InitHwThread2d(PDEV* pdev);
void CleanupHwThread2d(PDEV* pdev);

// The frame-buffer mapping gives up halving below this size.
inline constexpr uint32_t kFrameBufferMapFloor = 0x3FFFFFF;
