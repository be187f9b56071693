#include "xdriver/engine2d_startup.h"

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/chip_ids.h"
#include "core/dbg_output.h"
#include "core/hw_register_access.h"
#include "core/pdev.h"
#include "core/poll.h"
#include "core/wait_bounds.h"
#include "core/regs/dma.h"
#include "core/regs/engine2d.h"
#include "core/regs/engine3d.h"
#include "xdriver/kstrn_device.h"

namespace {

// ---- The register program ----------------------------------------------------------------
// The 2D engine takes a 1 by 1 copy from descriptor 1 to descriptor 0, then
// the start-up tag. Both descriptors name the same pixel of local memory,
// so the copy writes back the value it read: the engine runs its copy and
// no memory changes. (Descriptor 0 must not take the memory bits 3 of an
// address word: that would send the pixel to system memory at whatever bus
// address the rest of the word holds, 0 on a first start.)

// The engine's tag register reads 8..15 once the program ran.
constexpr uint32_t kStartupTagLow = 8;
constexpr uint32_t kStartupTagHigh = 15;
// The copy's control word (copy, source descriptor 1, destination
// descriptor 0); the sync packets restore it while it is saved.
constexpr uint32_t kControlStartup = 0x1C2;
// The pixel the copy reads and writes: descriptor 1's first pixel, in local
// memory (memory bits 0).
constexpr uint32_t kStartupPixelAddress = 0x00100000;
static_assert((kStartupPixelAddress & k2dAddressMemoryBits) == 0);

// What a row writes: its value; the value as descriptor 0's address, which
// the device caches; or the value as the 2D control word the sync packets
// restore.
enum class StartupWrite : uint8_t { kValue, kCachedAddress, kSavedControl };

struct StartupRow {
  uint32_t reg;
  uint32_t value;
  StartupWrite kind;
};

constexpr StartupRow kStartupProgram[] = {
    {k2dRegPlaneMask, 0xFFFFFFFF, StartupWrite::kValue},                   // every plane
    {k2dRegClipTopLeft, 0, StartupWrite::kValue},                          // clip from (0, 0)
    {k2dRegClipBottomRight, 0x08000800, StartupWrite::kValue},             // to (2048, 2048)
    {k2dRegDescAddress0, kStartupPixelAddress, StartupWrite::kCachedAddress},  // the pixel
    {k2dRegDescMode0, 0x30010400, StartupWrite::kValue},                   // format 0x30, pitch 0x400
    {k2dRegDescAddress1, kStartupPixelAddress, StartupWrite::kValue},      // the same pixel
    {k2dRegDescMode1, 0x30030400, StartupWrite::kValue},
    {kReg2dControl, kControlStartup, StartupWrite::kSavedControl},
    {k2dRegStart, 0, StartupWrite::kValue},
    {k2dRegOrigin, 0, StartupWrite::kValue},
    {k2dRegSizeGo, 0x00010001, StartupWrite::kValue},                      // 1 by 1, draws
    {kReg2dControl, k2dControlIdle, StartupWrite::kValue},
    {k2dRegSyncZero, 0, StartupWrite::kValue},
    {kRegSyncTag, kStartupTagLow, StartupWrite::kValue},                   // the start-up tag
};

// ---- The engines' preset -----------------------------------------------------------------
// The preset's groups (core/bm_preset.cpp), each reserved on its own.
template <size_t N>
void WriteGroups(BmPrimInt* prim, const RegGroup (&groups)[N]) {
  for (const RegGroup& group : groups) {
    if (uint32_t* at = prim->Reserve(1 + PacketDataWords(group.header))) BmWriteGroups(at, &group, 1);
  }
}

bool IsChip5D62(const PDEV* pdev) {
  return pdev->common != nullptr && (pdev->common->revisionBits & kRevKestrionNext2) != 0;
}

}  // namespace

uint32_t ApplyEAR547(PDEV* pdev) {
  if (IsChip5D62(pdev)) return kKstrnSuccess;
  CommonData* common = pdev->common;
  SharedLockedData_t* shared = pdev->sharedLocked;
  for (const StartupRow& row : kStartupProgram) {
    HwWriteRegister(common, row.reg, row.value);
    if (row.kind == StartupWrite::kCachedAddress) pdev->reg1220Cache = row.value;
    if (row.kind == StartupWrite::kSavedControl) shared->last1300Value = row.value;
  }
  const bool reached = WaitFor("the engine's start-up tag", kEngineWaitMicroseconds, [&] {
    const uint32_t tag = HwReadRegister(common, kRegSyncTagReached);
    return tag >= kStartupTagLow && tag <= kStartupTagHigh;
  });
  if (!reached) return kKstrnKernelRefused;
  // The start-up tag goes to the engine past the shared tag counter. When
  // no tag was issued yet it becomes the newest issued: the engine reports
  // it (in the shared block when the kernel module runs the streams), and a
  // reached tag newer than every issued one would make the never-drawn
  // blocks (tag 0) read as busy and the next tag issued (8 again) read as
  // reached before the engine ran its packets.
  if (shared->syncTagCounter == 0) shared->syncTagCounter = kStartupTagLow;
  return kKstrnSuccess;
}

void SetupHardwareForDisplayDriver(PDEV* pdev) {
  BmPrimInt* prim = pdev->primInt;
  if (prim == nullptr) return;
  for (const auto& unit : kPresetUnitGroups) WriteGroups(prim, unit);
  WriteGroups(prim, kPresetEngine);
  SharedLockedData_t* shared = pdev->sharedLocked;
  const uint32_t tag = BmNextSyncTag(shared->syncTagCounter);
  shared->syncTagCounter = tag;
  if (uint32_t* at = prim->Reserve(BmSyncTagWords(k2dIdxSyncTag))) {
    BmWriteSyncTag(at, tag | (prim->postingFlags & kBmPostingTagFlag), k2dIdxSyncTag, tag);
  }
  prim->Start();
}
