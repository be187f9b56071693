#include "core/hw_mapping.h"

#include "core/os.h"
#include "core/pdev.h"

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
