#include "core/mm_rows.h"

#include "core/driver_switches.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/phys_mem_mapper.h"

namespace {

void DeleteRecord(CommonData* common) {
  MmManagerRecord* record = common->memoryRecord;
  if (record == nullptr) return;
  // The device goes: memory set aside after a wait for the engine ran out
  // goes back to its heap before the heaps themselves go.
  if (record->manager != nullptr) record->manager->ReleaseSetAside();
  delete record->manager;
  delete record->mapper;
  memFree(record);
  common->memoryRecord = nullptr;
  common->memoryManager = nullptr;
}

bool FakeHostApertureOn(CommonData* common) {
  DriverSwitchesCommon* switches = common->driverSwitches;
  return switches != nullptr && switches->FakeHostAperture != nullptr &&
         switches->FakeHostAperture->GetValue() != 0;
}

bool BuildRecord(PDEV* pdev) {
  CommonData* common = pdev->common;
  auto* record = static_cast<MmManagerRecord*>(memAlloc(sizeof(MmManagerRecord)));
  if (record == nullptr) return false;
  common->memoryRecord = record;

  // The fake host aperture needs simulator memory, which this driver does
  // not have: refuse rather than build addresses on a missing base.
  if (FakeHostApertureOn(common)) {
    uint8_t* simulator = static_cast<uint8_t*>(GetSimulatorMemory(pdev));
    if (simulator == nullptr) return false;
    record->realMappingBase = const_cast<uint8_t*>(common->frameBuffer);
    record->apertureCpuBase = simulator + 0x4000000;
  } else {
    record->apertureCpuBase = const_cast<uint8_t*>(common->frameBuffer);
  }

  record->frameBufferSize = pdev->sharedLocked->frameBufferSize & kFrameBufferSizeMask;
  if (!MmApertureOffsetBase(record->frameBufferSize, &record->apertureOffsetBase)) return false;

  uint8_t ok = 0;
  if (pdev->localDma != 0) {
    record->mapper = new EmulMmSurfaceMapper(&ok, common);
  } else {
    record->mapper = new MmSurfaceMapper(&ok, common);
  }
  if (record->mapper == nullptr || !ok) return false;

  ok = 0;
  if (pdev->localDma != 0) {
    record->manager = new EmulMmSurfaceManager(&ok, record->mapper, common);
  } else {
    record->manager = new MmSurfaceManager(&ok, record->mapper, common);
  }
  if (record->manager == nullptr || !ok) return false;

  record->localMemorySize = record->manager->localMemorySize;
  common->memoryManager = record->manager;
  return true;
}

}  // namespace

bool InitMemoryManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard() && common->memoryRecord == nullptr && !BuildRecord(pdev)) {
    DeleteRecord(common);
    return false;
  }
  if (common->memoryRecord == nullptr) return false;
  pdev->memoryRecord = common->memoryRecord;
  pdev->surfaceManager = common->memoryRecord->manager;
  return true;
}

void CleanupMemoryManager(PDEV* pdev) {
  pdev->memoryRecord = nullptr;
  pdev->surfaceManager = nullptr;
  if (pdev->IsFirstForBoard()) DeleteRecord(pdev->common);
}

