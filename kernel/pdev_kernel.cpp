// The kernel device object: its 22-entry component table, construction and
// destruction, enable (ioctl 22) and disable (ioctl 23), and entry 2, which
// gives the board's common data the glue's register handle.
#include "kernel/pdev_kernel.h"

#include "core/bm_packets.h"
#include "core/bm_rows.h"
#include "core/driver_switches.h"
#include "core/hw_device.h"
#include "core/hw_register_access.h"
#include "core/hw_revision.h"
#include "core/mm_rows.h"
#include "core/pdev.h"
#include "core/request_mgr_rows.h"
#include "core/shared_blocks.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_device.h"
#include "kernel/range_map.h"
#include "kernel/sync_tags.h"
#include "kernel/vidmem/frame_buffer_layout.h"
#include "kernel/vidmem/surface_manager.h"

// The kernel's component table, SubsystemTable: entries in the order they
// are run; board-wide entries act only in the device object that is alone
// in the board ring when they run.
const PdevComponent SubsystemTable[kPdevComponentCount] = {
    {InitRequestMgr, CleanupRequestMgr, ""},                             // 0
    {InitPhysMemMapper, CleanupPhysMemMapper, ""},                       // 1
    {InitHwRegisterMap, CleanupHwRegisterMap, ""},                       // 2
    {InitHwRegAccess, CleanupHwRegAccess, ""},                           // 3
    {InitHwDevice, CleanupHwDevice, ""},                                 // 4
    {InitInterruptManager, CleanupInterruptManager, ""},                 // 5
    {InitHwEngineOwner, CleanupHwEngineOwner, ""},                       // 6
    {InitDriverSwitchManager, CleanupDriverSwitchManager, ""},           // 7
    {InitBmFlags, CleanupBmFlags, ""},                                   // 8
    {InitFrameBufferLayout, CleanupFrameBufferLayout, ""},               // 9
    {InitMemoryManager, CleanupMemoryManager, ""},                       // 10
    {InitSyncObjects, CleanupSyncObjects, ""},                           // 11
    {InitBusmastering, CleanupBusmastering, ""},                         // 12
    {InitSyncTagManager, CleanupSyncTagManager, ""},                     // 13
    {InitFlipController, CleanupFlipController, ""},                     // 14
    {InitEngineOwner3d, CleanupEngineOwner3d, ""},                       // 15
    {InitFormatCatalogue, CleanupFormatCatalogue, ""},                   // 16
    {InitResourceTableList, CleanupResourceTableList, ""},               // 17
    {InitBlitEngine3d, CleanupBlitEngine3d, ""},                         // 18
    {CreateVertexProgramBuilder, DestroyVertexProgramBuilder, ""},       // 19
    {InitSharedSurfaces3d, CleanupSharedSurfaces3d, ""},                 // 20
    {InitRangeMap, CleanupRangeMap, ""},                                 // 21
};

bool InitHwRegisterMap(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) pdev->common->registers = GetContextRegisterHandle(pdev->device);
  return pdev->common->registers != nullptr;
}

void CleanupHwRegisterMap(PDEV* pdev) {
  if (pdev->IsFirstForBoard()) pdev->common->registers = nullptr;
}

PDEV::PDEV(OrvContext* context, const VideoMode* videoMode, uint8_t* ok) {
  *ok = 0;
  active = 0;
  initialisedCount = 0;
  constructed = 0;
  if (context == nullptr || videoMode == nullptr) return;

  device = context;
  unitIndex = videoMode->unit;
  unit = videoMode->unit;
  // The unit indexes per-unit slots of the board: a client's word is not
  // trusted beyond them.
  if (unit > kMaxUnit) return;
  if (!GetCommonBuffers(this)) return;

  constructed = 1;
  PDEV* head = common->ringHead;
  if (head == nullptr) {
    next = previous = this;
    common->ringHead = this;
  } else {
    next = head;
    previous = head->previous;
    head->previous->next = this;
    head->previous = this;
  }

  mode = *videoMode;
  // The shared word carries the chip's revision bits, which the X driver
  // reads; the unit stays in this object.
  HwRevisionID::Setup(sharedLocked, sharedData->pciId, sharedData->pciClassRevision & 0xFF);
  if (!HwRevisionID::Init(this)) return;

  for (int entry = 0; entry < kPdevComponentCount; ++entry) {
    if (!SubsystemTable[entry].init(this)) {
      DisablePdev(this);
      return;
    }
    ++initialisedCount;
  }

  sharedLocked->regGuardEnable = mode.callerFlag80 != 0 ? 1 : 0;
  common->openRenderTarget = nullptr;
  common->primarySurface = nullptr;
  common->primarySurfacePair = 0;
  ResetEngineMode3d(this);
  *ok = 1;
}

PDEV::~PDEV() {
  if (!constructed) return;
  if (active) DisablePdev(this);
  for (int entry = initialisedCount - 1; entry >= 0; --entry) SubsystemTable[entry].cleanup(this);
  initialisedCount = 0;
  LeaveRing();
  ReleaseCommonBuffers(this);
  constructed = 0;
}

void PDEV::LeaveRing() {
  if (next == this) {
    common->ringHead = nullptr;
  } else {
    previous->next = next;
    next->previous = previous;
    common->ringHead = next;
  }
  next = previous = nullptr;
}

void EnablePdev(PDEV* pdev) {
  pdev->active = 1;
  if (DriverSwitchesCommon* switches = pdev->common->driverSwitches)
    switches->manager.Validate(pdev, kDsGroupEveryHead);
  if (DriverSwitchesLocal* local = pdev->driverSwitchesLocal)
    local->manager.Validate(pdev, kDsGroupEveryHead);
  if (pdev->surfaceMapper != nullptr && !pdev->mapperEnabled) {
    pdev->surfaceMapper->Enable();
    pdev->mapperEnabled = 1;
  }
  RestoreVertexPrograms3d(pdev);
  InitContextState3d(pdev);
  if (InterruptManager* interrupts = pdev->common->interruptManager) {
    if (!pdev->interruptsAcquired) interrupts->AcquireEnable();
    pdev->interruptsAcquired = 1;
  }
}

void DisablePdev(PDEV* pdev) {
  CommonData* common = pdev->common;
  // The engine is done with everything before this object goes: a closing
  // tag behind it, waited for (bounded).
  BmPrimInt* stream = pdev->primaryStream;
  SyncTagManager* tags = common->syncTagManager;
  if (stream != nullptr && tags != nullptr) {
    if (uint32_t* at = stream->Reserve(BmSyncTagWords())) {
      const uint32_t tag = TakeNextTag(pdev->sharedLocked);
      BmWriteSyncTag(at, tag | kTagProgress);
      stream->Kick();
      // Logged when it runs out; the object goes either way, and the
      // streams' buffers go only with the board's device.
      (void)tags->WaitForTag(tag);
    }
  }
  if (pdev->interruptsAcquired && common->interruptManager != nullptr)
    common->interruptManager->ReleaseEnable();
  pdev->interruptsAcquired = 0;
  // Only what the construction brought up is taken down again. The render
  // target open for drawing is forgotten with the engine mode off; the
  // engine draws nothing more into it once its closing tag passed.
  if (pdev->initialisedCount > kEntryEngineOwner3d) {
    if (common->openRenderTarget != nullptr)
      FlushRenderTarget(static_cast<Surface3d*>(common->openRenderTarget), common, 0);
    ReleaseRenderTargets3d(pdev);
  }
  if (pdev->mapperEnabled && pdev->surfaceMapper != nullptr) pdev->surfaceMapper->Disable();
  pdev->mapperEnabled = 0;
  // The primary surface is a block of its client's list, freed with it.
  pdev->primarySurface = nullptr;
  pdev->active = 0;
}
