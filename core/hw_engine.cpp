#include "core/hw_engine.h"

#include <string.h>

#include "core/bm_prim_int.h"
#include "core/os.h"
#include "core/pdev.h"

// ---- Register access -------------------------------------------------------------

void HwWriteRegister(CommonData* common, uint32_t reg, uint32_t value) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (++shared->directWriteCount > kDirectWritesPerWait) {
    shared->directWriteCount = 0;
    HwPollRegister(common, kRegDmaStatus, kDmaStatusWriteReady, kDmaStatusWriteReady);
  }
  if (shared->regGuardEnable != 0) {
    uint32_t last = shared->lastRegWritten;
    if (last < reg && reg - last <= kGuardWindowBytes) {
      memWriteDword(common->registers, kRegGuardDummy, 0);
    }
    shared->lastRegWritten = reg;
  }
  memWriteDword(common->registers, reg, value);
}

uint32_t HwReadRegister(CommonData* common, uint32_t reg) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (shared->regGuardEnable != 0) shared->lastRegWritten = kLastRegNone;
  uint32_t value = 0;
  memReadDword(common->registers, reg, &value);
  return value;
}

uint32_t HwPollRegister(CommonData* common, uint32_t reg, uint32_t mask, uint32_t expected) {
  for (;;) {
    uint32_t value = HwReadRegister(common, reg);
    if ((value & mask) == expected) return value;
  }
}

// ---- Chip revision ------------------------------------------------------------------

namespace {

constexpr uint32_t kIdFirstGenA = 0x6A251E7A;
constexpr uint32_t kIdFirstGenB = 0x6C271E7A;
constexpr uint32_t kIdKestrion1 = 0x0A411E7A;
constexpr uint32_t kIdKestrion2 = 0x0A421E7A;
constexpr uint32_t kIdNext1 = 0x5D611E7A;
constexpr uint32_t kIdNext2 = 0x5D621E7A;
constexpr uint32_t kIdNext3 = 0x5D631E7A;

}  // namespace

uint32_t HwRevisionID::Compute(uint32_t id, uint32_t revision) {
  switch (id) {
    case kIdFirstGenA:
    case kIdFirstGenB:
      return 0x1;
    case kIdKestrion1:
      switch (revision) {
        case 0: return 0x2;
        case 1: return 0x4;
        case 2: return 0x8;
        case 3: return 0x10;
        default: return 0x20;
      }
    case kIdKestrion2:
      switch (revision) {
        case 1: return 0x40;
        case 2: return 0x80;
        case 6: return 0x100;
        default: return 0x200;
      }
    case kIdNext1:
      switch (revision) {
        case 1: return 0x400;
        case 2: return 0x800;
        default: return 0x1000;
      }
    case kIdNext2:
      switch (revision) {
        case 0: return 0x2000;
        case 1: return 0x4000;
        default: return 0x8000;
      }
    case kIdNext3:
      switch (revision) {
        case 0: return 0x10000;
        case 1: return 0x20000;
        default: return 0x40000;
      }
    default:
      return 0;
  }
}

bool HwRevisionID::Init(IDriver* driver) {
  driver->revisionBits = driver->sharedLocked->revisionBits;
  driver->common->revisionBits = driver->revisionBits;
  return true;
}

void HwRevisionID::Setup(SharedLockedData_t* shared, uint32_t id, uint32_t revision) {
  shared->revisionBits = Compute(id, revision);
}

void HwRevisionID::Setup(IDriver* driver, uint32_t id, uint32_t revision) {
  driver->revisionBits = Compute(id, revision);
}

// ---- Emulated DMA --------------------------------------------------------------------

namespace {

// Indexes whose data dword is consumed without a register write.
bool IsSilentIndex(uint32_t index) {
  switch (index) {
    case 0x20:
    case 0x24:
    case 0x27:
    case 0x28:
    case 0x29:
      return true;
    default:
      return false;
  }
}

// Low 4 bits of a 2D control value that are not kept for the sync packet.
bool Is2dControlTransient(uint32_t value) {
  uint32_t low = value & 0xF;
  return low == 6 || low == 7;
}

}  // namespace

void HwDevice::ExecuteEmulDma(CommonData* common, const void* start, const void* end) {
  HwEmulDmaState& state = common->emulDma;
  uintptr_t at = reinterpret_cast<uintptr_t>(start);
  const uintptr_t stop = reinterpret_cast<uintptr_t>(end);

  // Only whole dwords inside the range are executed: a start past the end or
  // a misaligned end never runs beyond it.
  while (at < stop && stop - at >= sizeof(uint32_t)) {
    if (state.indexesLeft == 0 || (state.header & 0xFF) == kDmaIndexPadding) {
      if (state.repeatCount != 0) {
        --state.repeatCount;
        state.header = state.savedHeader;
      } else {
        memcpy(&state.header, reinterpret_cast<const void*>(at), sizeof(uint32_t));
        at += sizeof(uint32_t);
      }
      state.indexesLeft = 4;
      continue;
    }

    uint32_t index = state.header & 0xFF;
    state.header >>= 8;
    uint32_t data;
    memcpy(&data, reinterpret_cast<const void*>(at), sizeof(uint32_t));
    at += sizeof(uint32_t);
    state.shadow[index] = data;
    --state.indexesLeft;

    if (index == kDmaIndexDropHeader) {
      state.indexesLeft = 0;
    } else if (IsSilentIndex(index)) {
      // consumed only
    } else if (index == kDmaIndexSyncTag) {
      uint32_t tag = data & ~kSyncTagWait;
      HwWriteRegister(common, kRegSyncTag, tag);
      if (data & kSyncTagWait) HwPollRegister(common, kRegSyncTagReached, 0xFFFFFFFF, tag);
    } else {
      HwWriteRegister(common, kRegDmaWindow + 4 * index, data);
      if (index == kDmaIndex2dControl && !Is2dControlTransient(data)) {
        common->sharedLocked->last1300Value = data;
      }
    }
  }
}

void HwDevice::EnablePrimarySurface(CommonData* common, bool enable, uint32_t controller) {
  uint32_t reg = kRegPrimaryControl + kControllerStride * controller;
  uint32_t value = HwReadRegister(common, reg);
  value = enable ? (value | kPrimaryEnable) : (value & ~kPrimaryEnable);
  HwWriteRegister(common, reg, value);
  if (!enable) {
    // Let the controller finish the frame that still shows the surface.
    uint32_t counter = kRegLineCounter + kControllerStride * controller;
    HwPollRegister(common, counter, kLineCounterMask, 1);
    HwPollRegister(common, counter, kLineCounterMask, 0);
  }
}

void HwDevice::ShowPrimary(CommonData* common, uint32_t controller) {
  EnablePrimarySurface(common, true, controller);
  uint32_t counter = kRegLineCounter + kControllerStride * controller;
  for (int cycle = 0; cycle < 2; ++cycle) {
    HwPollRegister(common, counter, kLineCounterMask, 1);
    HwPollRegister(common, counter, kLineCounterMask, 0);
  }
  EnablePrimarySurface(common, false, controller);
}

bool HwDevice::IsInterlacedMode(CommonData* common, uint32_t controller) {
  return (HwReadRegister(common, kRegDisplayMode + kControllerStride * controller) &
          kDisplayInterlaced) != 0;
}

uint32_t HwDevice::GetMaxVolumeDepth(uint32_t width, uint32_t height, bool bordered) {
  if (bordered) {
    width += 2;
    height += 2;
  }
  uint32_t largest = width > height ? width : height;
  if (largest <= 256) return 256;
  if (largest <= 512) return 64;
  if (largest <= 1024) return 16;
  if (largest <= 2048) return 4;
  return 0;
}

uint32_t HwDevice::GetDwordFromBuffer(CommonData* common, uint32_t index) {
  return common->emulDma.shadow[index & (kDmaIndexCount - 1)];
}

// ---- 2D engine state -------------------------------------------------------------------

void HwThread2d::Reset(SharedLockedData_t* shared) {
  memset(&shared->thread2d, 0, sizeof(shared->thread2d));
  shared->thread2d.reg1300 = kInitial1300;
  shared->thread2d.reg1324 = kInitial1324;
}

namespace {

// One restore packet: its dirty bit, header and the shadowed values sent.
struct RestorePacket {
  uint32_t bit;
  uint32_t header;
  uint8_t count;
  uint32_t SharedHwThread2d::*value[3];
};

constexpr uint32_t kHeaderFullRestore = 0x21E3C1C2;

const RestorePacket kRestorePackets[] = {
    {0, 0x21218988, 2, {nullptr, nullptr, nullptr}},  // source/destination pair 0
    {2, 0x21218D8C, 2, {nullptr, nullptr, nullptr}},  // pair 2
    {1, 0x21218B8A, 2, {nullptr, nullptr, nullptr}},  // pair 1
    {3, 0x21218F8E, 2, {nullptr, nullptr, nullptr}},  // pair 3
    {7, 0x212121C6, 1, {&SharedHwThread2d::reg1318, nullptr, nullptr}},
    {8, 0x212121C5, 1, {&SharedHwThread2d::reg1314, nullptr, nullptr}},
    {6, 0x2121C8C7, 2, {&SharedHwThread2d::reg131C, &SharedHwThread2d::reg1320, nullptr}},
    {5, 0x212121C9, 1, {&SharedHwThread2d::reg1324, nullptr, nullptr}},
    {10, 0x2121CBCA, 2, {&SharedHwThread2d::reg1328, &SharedHwThread2d::reg132C, nullptr}},
    {4, 0x212121C0, 1, {&SharedHwThread2d::reg1300, nullptr, nullptr}},
    {9, 0x21C3C1C2, 3,
     {&SharedHwThread2d::reg1308, &SharedHwThread2d::reg1304, &SharedHwThread2d::reg130C}},
};

// The pair packets send element (header byte 0 - 0x88) / 2 of the even and
// odd arrays.
constexpr uint32_t kPairIndexBase = 0x88;

}  // namespace

void HwThread2d::SetupHardware(SharedLockedData_t* shared, BmPrimInt* dma) {
  SharedHwThread2d& state = shared->thread2d;
  state.emittedFlags = state.stateMask & state.dirtyBits;
  if (state.emittedFlags == 0) return;

  for (const RestorePacket& packet : kRestorePackets) {
    if ((state.emittedFlags & (1u << packet.bit)) == 0) continue;
    const bool fullRestore = packet.bit == 9 && state.fullRestore;
    const uint32_t header = fullRestore ? kHeaderFullRestore : packet.header;
    uint32_t* out = dma->Reserve(1u + packet.count);
    // No buffer holds the packet: the groups stay dirty for the next call.
    if (out == nullptr) return;
    if (fullRestore) state.fullRestore = 0;
    out[0] = header;
    if (packet.value[0] == nullptr) {
      uint32_t pair = ((header & 0xFF) - kPairIndexBase) / 2;
      out[1] = state.even[pair];
      out[2] = state.odd[pair];
    } else {
      for (unsigned i = 0; i < packet.count; ++i) out[1 + i] = state.*packet.value[i];
    }
    if (packet.bit == 4) shared->last1300Value = state.reg1300;
  }
  state.emittedFlags = 0;
  state.dirtyBits = 0;
}

// ---- Hardware manager ---------------------------------------------------------------------

HwManager::HwManager(uint8_t* ok, CommonData* c, CFeatureMgr* f) : common(c), feature(f) {
  *ok = 1;
}

bool InitHwManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    uint8_t ok = 0;
    common->hwManager = new HwManager(&ok, common, common->featureMgr);
    if (common->hwManager != nullptr && !ok) {
      delete common->hwManager;
      common->hwManager = nullptr;
    }
    if (common->hwManager == nullptr) return false;
  }
  pdev->hwManager = common->hwManager;
  return true;
}

void CleanupHwManager(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) {
    delete pdev->common->hwManager;
    pdev->common->hwManager = nullptr;
  }
  pdev->hwManager = nullptr;
}

// ---- Component-table rows -------------------------------------------------------------------

bool InitHwMemoryMap(PDEV* pdev) {
  CommonData* common = pdev->common;
  SharedLockedData_t* shared = pdev->sharedLocked;
  if (pdev->IsFirstForBoard() && common->frameBuffer == nullptr) {
    if (pdev->mode.frameBufferMapping != 0) {
      common->frameBuffer =
          reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(pdev->mode.frameBufferMapping));
      common->frameBufferIsCallers = true;
      common->frameBufferMapSize = pdev->mode.frameBufferMapSize;
      shared->frameBufferSize = pdev->mode.frameBufferMapSize;
    } else {
      // The full range first; a large one that cannot be mapped is tried at
      // half the size, down to 64 MiB.
      uint32_t size = shared->frameBufferSize;
      void* mapping = nullptr;
      while (size != 0) {
        mapping = OsMapPhysicalMemory(pdev->device, shared->frameBufferPhys, size);
        if (mapping != nullptr) break;
        size /= 2;
        if (size <= kFrameBufferMapFloor) break;
      }
      if (mapping != nullptr) {
        common->frameBuffer = static_cast<volatile uint8_t*>(mapping);
        common->frameBufferIsCallers = false;
        common->frameBufferMapSize = size;
      }
    }
    if (common->frameBuffer != nullptr) {
      shared->frameBufferMapping = reinterpret_cast<uintptr_t>(common->frameBuffer);
    }
  }
  return common->frameBuffer != nullptr;
}

void CleanupHwMemoryMap(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard() || common->frameBuffer == nullptr) return;
  if (!common->frameBufferIsCallers) {
    OsUnmapMemory(pdev->device, const_cast<uint8_t*>(common->frameBuffer),
                  common->frameBufferMapSize);
  }
  common->frameBuffer = nullptr;
  common->frameBufferIsCallers = false;
  common->frameBufferMapSize = 0;
  pdev->sharedLocked->frameBufferMapping = 0;
}

bool InitHwRegisterMap(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return true;
  CommonData* common = pdev->common;
  SharedLockedData_t* shared = pdev->sharedLocked;
  if (pdev->mode.registerMapping != 0) {
    common->registers =
        reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(pdev->mode.registerMapping));
    common->registersAreCallers = true;
    common->registerMapSize = 0;
  } else {
    void* mapping = OsMapPhysicalMemory(pdev->device, shared->registerPhys, shared->registerSize);
    common->registers = static_cast<volatile uint8_t*>(mapping);
    common->registersAreCallers = false;
    common->registerMapSize = shared->registerSize;
  }
  shared->registerMapping = reinterpret_cast<uintptr_t>(common->registers);
  return common->registers != nullptr;
}

void CleanupHwRegisterMap(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard() || common->registers == nullptr) return;
  if (!common->registersAreCallers) {
    OsUnmapMemory(pdev->device, const_cast<uint8_t*>(common->registers), common->registerMapSize);
  }
  common->registers = nullptr;
  common->registersAreCallers = false;
  common->registerMapSize = 0;
  pdev->sharedLocked->registerMapping = 0;
}

bool InitHwRegAccess(PDEV*) { return true; }
void CleanupHwRegAccess(PDEV*) {}
bool InitHwEngineOwner(PDEV*) { return true; }
void CleanupHwEngineOwner(PDEV*) {}

bool InitHwDevice(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) {
    HwEmulDmaState& state = pdev->common->emulDma;
    state.indexesLeft = 0;
    state.header = 0;
    state.repeatCount = 0;
    state.spare = 0;
  }
  return true;
}
void CleanupHwDevice(PDEV*) {}

bool InitHwThread2d(PDEV* pdev) {
  HwThread2d::Reset(pdev->sharedLocked);
  return true;
}
void CleanupHwThread2d(PDEV*) {}
