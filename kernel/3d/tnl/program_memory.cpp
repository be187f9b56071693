// Program memory and residency: the slot ring in host memory the engine
// fetches programs from, fenced by sync tags, and the direct writes into the
// engine's own program memory.
#include <string.h>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/os.h"
#include "core/regs/dma.h"
#include "core/regs/vertex_engine.h"
#include "core/shared_word.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr uint32_t kAddressSpaceAgp = 2;
constexpr uint32_t kAddressSpacePci = 3;

// The ring's tag's kind bits, written to the sync-tag register.
constexpr uint32_t kRingTagKind = 5;

uint32_t EntryOffset(const VertexProgram* program, uint32_t entry) {
  return entry < kProgramEntries ? program->entryOffsets[entry] : 0;
}

}  // namespace

// ---- Tags and batches ----------------------------------------------------------------------

bool VertexProgramBuilder::TagPassed(uint32_t tag) const {
  uint32_t engine;
  if (common != nullptr && common->syncTagManager != nullptr) {
    engine = common->syncTagManager->EngineTag();
  } else {
    engine = KernelReadRegister(common, kRegSyncTagReached) & ~kSyncTagIgnoredBits;
  }
  return ORVVideoTagPassed(tag, engine, ReadShared(&shared->syncTagCounter));
}

void VertexProgramBuilder::NoteInBatch(VertexProgram* program) {
  if (program->permanent || program->inBatch) return;
  program->inBatch = 1;
  program->nextInBatch = batchPrograms;
  batchPrograms = program;
}

void VertexProgramBuilder::ForgetInBatch(VertexProgram* program) {
  if (!program->inBatch) return;
  for (VertexProgram** at = &batchPrograms; *at != nullptr; at = &(*at)->nextInBatch) {
    if (*at != program) continue;
    *at = program->nextInBatch;
    break;
  }
  program->inBatch = 0;
  program->nextInBatch = nullptr;
}

void VertexProgramBuilder::SealBatchTag(uint32_t tag) {
  VertexProgram* p = batchPrograms;
  batchPrograms = nullptr;
  while (p != nullptr) {
    VertexProgram* next = p->nextInBatch;
    p->tag = tag;
    p->inBatch = 0;
    p->nextInBatch = nullptr;
    p = next;
  }
  // The slots of programs detached while this batch used them wait for its
  // tag too.
  if (slotsAwaitSeal_) {
    for (ProgramSlot& slot : slots)
      if (slot.program == nullptr && slot.fence == kSlotAwaitingSeal) slot.fence = tag;
    slotsAwaitSeal_ = false;
  }
}

// ---- Program memory ------------------------------------------------------------------------

void VertexProgramBuilder::SetUpProgramMemory() {
  // The memory held so far goes, its slots emptied first.
  if (memoryCpu != nullptr) {
    ResetSlots(true);
    ReleaseProgramMemory();
  }
  memoryCpu = nullptr;
  memoryBus = 0;
  slot0Cpu = nullptr;
  slot0Bus = 0;
  ringHead = ringStart = 0;
  // Program memory in AGP or page-locked PCI memory; without it, no slots.
  if (slotMode) {
    const uint32_t busFlags = shared != nullptr ? ReadShared(&shared->busFlags) : 0;
    DriverSwitchesCommon* s = common != nullptr ? common->driverSwitches : nullptr;
    const bool forcePci = s != nullptr && s->ForcePCIAllocation != nullptr && s->ForcePCIAllocation->GetValue() != 0;
    void* cpu = nullptr;
    uint64_t bus = 0;
    auto tryPci = [&] {
      if (!MmAllocatePciLockedBuffer(common, 0, kProgramMemoryPages, &cpu, &bus)) return false;
      allocRoutine = MmAllocatePciLockedBuffer;
      freeRoutine = MmFreePciLockedBuffer;
      addressSpaceBits = kAddressSpacePci;
      return true;
    };
    bool have = false;
    if (!forcePci && (busFlags & kBusFlagAgp)) {
      if (MmAllocateAGPBuffer(common, 0, kProgramMemoryPages, &cpu, &bus)) {
        allocRoutine = MmAllocateAGPBuffer;
        freeRoutine = MmFreeAGPBuffer;
        addressSpaceBits = busFlags & kBusFlagAgpAsPci ? kAddressSpacePci : kAddressSpaceAgp;
        have = true;
      } else {
        have = tryPci();
      }
    } else if ((busFlags & kBusFlagsPciLocked) == kBusFlagsPciLocked) {
      have = tryPci();
    }
    if (have) {
      memoryCpu = static_cast<uint8_t*>(cpu);
      memoryBus = bus;
    } else {
      slotMode = 0;
    }
  }
  // The slots from the first aligned address.
  if (slotMode) {
    slot0Bus = (memoryBus + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment;
    slot0Cpu = memoryCpu + (slot0Bus - memoryBus);
    memset(slots, 0, sizeof slots);
    slotsHeld_ = false;
  }
  memoryChanged = 1;
  ReloadFixedPrograms();
}

void VertexProgramBuilder::ResetSlots(bool allSlots) {
  const uint32_t first = allSlots ? 0 : ringStart;
  if (!allSlots || slotsHeld_) {
    for (uint32_t i = first; i < kProgramSlots; ++i) {
      if (slots[i].program != nullptr) slots[i].program->resident = 0;
      slots[i] = ProgramSlot{};
    }
    if (allSlots) slotsHeld_ = false;
  }
  ringHead = ringStart = first;
  memoryChanged = 1;
}

void VertexProgramBuilder::ClearProgramSlots(VertexProgram* program) {
  // A resident program holds exactly its run.
  if (program->resident) {
    const uint32_t end = program->firstSlot + program->slotCount;
    for (uint32_t k = program->firstSlot; k < end && k < kProgramSlots; ++k)
      if (slots[k].program == program) slots[k] = ProgramSlot{};
  }
  program->resident = 0;
}

void VertexProgramBuilder::DetachProgram(VertexProgram* program, RecentPrograms* recent) {
  if (program != nullptr) {
    // The code stays where it is for the engine until the last batch that
    // used it is passed; the slots forget the program, which goes.
    uint32_t fence = 0;
    if (program->inBatch) {
      fence = kSlotAwaitingSeal;
    } else if (!TagPassed(program->tag)) {
      fence = program->tag;
    }
    for (ProgramSlot& slot : slots) {
      if (slot.program != program) continue;
      if (fence == 0) {
        slot = ProgramSlot{};
      } else {
        slot.program = nullptr;
        slot.fence = fence;
        if (fence == kSlotAwaitingSeal) slotsAwaitSeal_ = true;
      }
    }
    program->resident = 0;
    ForgetInBatch(program);
  }
  if (recent == nullptr) return;
  for (VertexProgram*& r : recent->programs)
    if (r == program) r = nullptr;
}

// ---- Residency -----------------------------------------------------------------------------

uint32_t VertexProgramBuilder::MakeResident(VertexProgram* program, bool batchStart, uint32_t entry,
                                            CommonData* waitContext) {
  if (program == nullptr) return 0;
  placementFailed_ = false;
  const uint32_t address = slotMode ? GetSlotStartAddress(program, entry, waitContext)
                                    : WriteProgramDirect(program, batchStart, entry);
  program->SetStartAddress(address);
  if (placementFailed_) {
    ClientPrintLevel(1, "[orv] *ERROR* vertex program of %u bytes could not be placed\n", program->codeSize);
    return 0;
  }
  NoteInBatch(program);
  return address;
}

uint32_t VertexProgramBuilder::GetSlotStartAddress(VertexProgram* program, uint32_t entry,
                                                   CommonData* waitContext) {
  if (!program->resident && UploadToSlots(program, waitContext) == 0) {
    placementFailed_ = true;
    return 0;
  }
  const uint64_t byteAddress = uint64_t{program->firstSlot} * kSlotBytes + slot0Bus;
  const uint64_t address = byteAddress / 3 + 4 * uint64_t{EntryOffset(program, entry)};
  return (static_cast<uint32_t>(address) & ~3u) | (addressSpaceBits & 3);
}

uint32_t VertexProgramBuilder::UploadToSlots(VertexProgram* program, CommonData* waitContext) {
  const uint32_t n = program->slotCount;
  const uint32_t first = AllocProgramSlots(n, waitContext);
  if (first == kNoSlot) return 0;
  if (program->code != nullptr) memcpy(slot0Cpu + size_t{first} * kSlotBytes, program->code, program->codeSize);
  program->firstSlot = first;
  program->resident = 1;
  for (uint32_t k = 0; k < n; ++k) slots[first + k] = ProgramSlot{program, n - k, 0};
  slotsHeld_ = true;
  return 1;
}

bool VertexProgramBuilder::SlotReusable(const ProgramSlot& slot) const {
  const VertexProgram* p = slot.program;
  if (p == nullptr) return slot.fence == 0 || (slot.fence != kSlotAwaitingSeal && TagPassed(slot.fence));
  return !p->permanent && p->reclaimable && !p->inBatch && TagPassed(p->tag);
}

bool VertexProgramBuilder::FindRun(uint32_t n, uint32_t* candidate, bool* needsRelease) const {
  const uint32_t origin = ringHead;
  uint32_t c = ringHead;
  bool wrapped = false;
  // Each step moves past at least one slot; a full turn ends the search.
  for (uint32_t step = 0; step <= 2 * kProgramSlots; ++step) {
    if (c + n > kProgramSlots) {
      c = ringStart;
      wrapped = true;
    }
    bool release = false;
    uint32_t blocked = kNoSlot;
    for (uint32_t i = c; i < c + n; ++i) {
      const ProgramSlot& slot = slots[i];
      if (slot.program == nullptr && slot.fence == 0) continue;
      if (!SlotReusable(slot)) {
        blocked = i;
        break;
      }
      // A detached program's slot whose batch is passed is simply taken.
      if (slot.program != nullptr) release = true;
    }
    if (blocked == kNoSlot) {
      *candidate = c;
      *needsRelease = release;
      return true;
    }
    uint32_t next = blocked + (slots[blocked].runLength != 0 ? slots[blocked].runLength : 1);
    if (next > kLastSlot) {
      next = ringStart;
      if (wrapped) return false;
      wrapped = true;
    }
    if (wrapped && next >= origin) return false;
    c = next;
  }
  return false;
}

bool VertexProgramBuilder::IssueRingTag(CommonData* waitContext) {
  BmSecondaryInt* stream = waitContext->secondaryStream;
  if (stream == nullptr) return false;
  uint32_t* at = stream->Reserve(3);
  if (at == nullptr) return false;
  const uint32_t tag = TakeNextTag(shared);
  DirectSink sink{at};
  PutPacket(sink, PacketHeader(k2dIdxSyncTag), tag | kRingTagKind);
  return stream->ExecutePending();
}

uint32_t VertexProgramBuilder::AllocProgramSlots(uint32_t n, CommonData* waitContext) {
  if (n == 0 || ringStart > kLastSlot || n > kProgramSlots - ringStart) {
    ClientPrintLevel(1, "[orv] *ERROR* %u program slots asked, the ring holds %u\n", n,
                 ringStart > kLastSlot ? 0 : kProgramSlots - ringStart);
    return kNoSlot;
  }
  uint32_t c = 0;
  bool release = false;
  if (!FindRun(n, &c, &release)) {
    // A full turn found nothing: with a wait context a new tag lets the
    // engine's tag move on; then the ring is tried again until the bound.
    bool issued = false;
    const bool found = KernelWait("vertex program slots", [&] {
      if (waitContext != nullptr && !issued) issued = IssueRingTag(waitContext);
      return FindRun(n, &c, &release);
    });
    if (!found) return kNoSlot;
  }
  if (release) {
    for (uint32_t i = c; i < c + n; ++i) {
      if (slots[i].program != nullptr) {
        ClearProgramSlots(slots[i].program);
      } else {
        slots[i] = ProgramSlot{};
      }
    }
    memoryChanged = 1;
  }
  ringHead = c + n < kProgramSlots ? c + n : ringStart;
  return c;
}

bool VertexProgramBuilder::WaitProgramPort() {
  volatile SharedLockedData_t* words = shared;
  // The DMA is drained and the engine idle.
  if (!KernelWait("vertex program: pending submissions", [&] { return words->pendingSubmissions == 0; }))
    return false;
  (void)KernelReadRegister(common, kRegEngineIdle);
  if (!KernelWait("vertex program: engine idle",
                  [&] { return (KernelReadRegister(common, kRegEngineIdle) & kEngineIdleDma) != 0; }))
    return false;
  if (!KernelWait("vertex program: DMA status",
                  [&] { return KernelReadRegister(common, kRegDmaStatus) == words->expectedDmaStatus; }))
    return false;
  words->directWriteCount = 0;
  // The program port is idle.
  if (!KernelWait("vertex program: port status", [&] {
        return (KernelReadRegister(common, kRegVertexPortStatus) & kVertexPortStatusMask) == kVertexPortStatusIdle;
      }))
    return false;
  if (!KernelWait("vertex program: port level", [&] {
        const uint32_t status = KernelReadRegister(common, kRegVertexPortStatus);
        const uint32_t level = KernelReadRegister(common, kRegVertexPortLevel);
        return (level & kVertexPortLevelMask) == kVertexPortLevelIdle && (status & kVertexPortStatusMask) == kVertexPortStatusIdle;
      }))
    return false;
  // And the vertex engine's busy bits are clear.
  (void)KernelReadRegister(common, kRegEngineIdle);
  return KernelWait("vertex program: engine busy bits",
                    [&] { return (KernelReadRegister(common, kRegEngineIdle) & kVertexEngineBusyBits) == 0; });
}

uint32_t VertexProgramBuilder::WriteProgramDirect(VertexProgram* program, bool batchStart, uint32_t entry) {
  // A batch starts at the memory's beginning; what would not fit fails.
  if (batchStart) {
    directTotal = 0;
    directOverflow = 0;
  }
  if (program->code == nullptr || directTotal + program->codeSize > kDirectLimit) {
    directOverflow = 1;
    placementFailed_ = true;
    return 0;
  }
  // What the stream holds runs first; then the port must be idle.
  if (common->secondaryStream != nullptr) (void)common->secondaryStream->ExecutePending();
  if (!WaitProgramPort()) {
    placementFailed_ = true;
    return 0;
  }
  // The code word by word through the port from the batch's next index.
  KernelWriteRegister(common, kRegVertexProgramIndex, directTotal / kInstructionBytes);
  const uint32_t wordCount = program->codeSize / 4;
  for (uint32_t w = 0; w < wordCount; ++w) {
    uint32_t word;
    memcpy(&word, program->code + 4 * w, sizeof word);
    KernelWriteRegister(common, kRegVertexProgramData, word);
  }
  // The program's address: its first instruction's, plus its entry.
  const uint32_t old = directTotal;
  directTotal += program->codeSize;
  return (old / kInstructionBytes) * 4 + 4 * EntryOffset(program, entry);
}
