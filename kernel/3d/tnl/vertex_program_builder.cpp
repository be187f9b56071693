#include "kernel/3d/tnl/vertex_program_builder.h"

#include <string.h>

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/engine3d.h"
#include "kernel/3d/tnl/fixed_programs.h"
#include "kernel/register_guard.h"

namespace {

// Boards whose revision bits carry any of these take the clip fragments
// unless the clipping type asks otherwise.
constexpr uint32_t kClipFragmentBoards = 0x7FC00;
constexpr uint32_t kAssemblyReserve = 256;

// Prebuilt ids in the order they are made and destroyed.
constexpr uint32_t kPrebuiltOrder[kPrebuiltPrograms] = {16, 0, 15, 1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 17};
// Ids that hold a stored pointer (id 4 selects the indexed programs).
constexpr uint32_t kStoredIds = 0x39FCF;

template <class T>
bool Reserve(Otl::Vector<T>* list, size_t count) {
  return list->Reserve(count) != 0;
}

uint32_t SwitchU8(DriverSwitchU8* s) { return s != nullptr ? s->GetValue() : 0; }
uint32_t SwitchU32(DriverSwitchU32* s) { return s != nullptr ? s->GetValue() : 0; }

DriverSwitchesCommon* SwitchesOf(CommonData* common) {
  return common != nullptr ? common->driverSwitches : nullptr;
}

uint32_t CacheModeSwitch(CommonData* common) {
  DriverSwitchesCommon* s = SwitchesOf(common);
  return s != nullptr ? SwitchU8(s->VECacheMode) & 1 : 0;
}

void FillPrebuilt(VertexProgram* p, const FixedProgramCode& code) {
  p->SetCode(code.code, code.size, false);
  p->permanent = 1;
}

}  // namespace

// ---- VertexProgram -------------------------------------------------------------------------

VertexProgram::VertexProgram() = default;

VertexProgram::~VertexProgram() {
  reserved[0] = reserved[1] = reserved[2] = 0;
  if (ownsCode && code != nullptr) memFree(const_cast<uint8_t*>(code));
  code = nullptr;
}

void VertexProgram::SetCode(const uint8_t* buffer, uint32_t size, bool owns) {
  if (ownsCode && code != nullptr && code != buffer) memFree(const_cast<uint8_t*>(code));
  code = buffer;
  codeSize = size;
  ownsCode = owns ? 1 : 0;
  slotCount = SlotCountOf(size);
}

uint32_t VertexProgram::BuildFromShader(VertexProgram*, const void*, uint32_t, uint32_t, const void*) {
  return 1;
}

// ---- VertexProgramList ---------------------------------------------------------------------

VertexProgramList::VertexProgramList() {
  sentinel_.next = sentinel_.previous = &sentinel_;
}

VertexProgramList::~VertexProgramList() {
  while (VertexProgramNode* node = Head()) {
    Unlink(node);
    delete node;
  }
}

bool VertexProgramList::Append(VertexProgram* program) {
  VertexProgramNode* node = new VertexProgramNode;
  if (node == nullptr) return false;
  node->program = program;
  node->previous = sentinel_.previous;
  node->next = &sentinel_;
  sentinel_.previous->next = node;
  sentinel_.previous = node;
  ++count_;
  return true;
}

void VertexProgramList::Unlink(VertexProgramNode* node) {
  node->previous->next = node->next;
  node->next->previous = node->previous;
  node->next = node->previous = nullptr;
  --count_;
}

// ---- The builder ---------------------------------------------------------------------------

VertexProgramBuilder::VertexProgramBuilder(CommonData* commonData, SharedLockedData_t* sharedLocked,
                                           uint8_t* success) {
  common = commonData;
  shared = sharedLocked;
  *success = 1;
  directOverflow = 0;
  directTotal = 0;
  ringStart = 0;
  clipFragments = 0;
  // The switches, then the catalogue for the clip fragments they choose.
  slotMode = CacheModeSwitch(common);
  ReadClipping();
  InitMicrocodeCatalogue(&catalogue, clipFragments);
  // The assembly lists, reserved once.
  if (!Reserve(&fragments, kAssemblyReserve) || !Reserve(&patches, kAssemblyReserve) ||
      !Reserve(&fixups, kAssemblyReserve)) {
    *success = 0;
    return;
  }
  // The prebuilt programs and the indexed light-combination programs.
  for (uint32_t id : kPrebuiltOrder) {
    VertexProgram* p = new VertexProgram;
    if (p == nullptr) {
      *success = 0;
      return;
    }
    FillPrebuilt(p, FixedProgramCodeOf(id));
    prebuilt[id] = p;
  }
  indexed = static_cast<VertexProgram*>(memAlloc(sizeof(VertexProgram) * kIndexedPrograms));
  if (indexed == nullptr) {
    *success = 0;
    return;
  }
  for (uint32_t i = 0; i < kIndexedPrograms; ++i) {
    ::new (static_cast<void*>(&indexed[i])) VertexProgram;
    FillPrebuilt(&indexed[i], IndexedProgramCodeOf(i));
  }
  // The program memory, which loads the fixed programs.
  memoryCpu = nullptr;
  memoryBus = 0;
  slot0Cpu = nullptr;
  slot0Bus = 0;
  SetUpProgramMemory();
  memoryChanged = 1;
}

VertexProgramBuilder::~VertexProgramBuilder() {
  ResetSlots(true);
  batchPrograms = nullptr;
  DestroyPrograms();
  ReleaseProgramMemory();
}

void VertexProgramBuilder::DestroyPrograms() {
  for (uint32_t id : kPrebuiltOrder) {
    delete prebuilt[id];
    prebuilt[id] = nullptr;
  }
  if (indexed != nullptr) {
    for (uint32_t i = kIndexedPrograms; i-- > 0;) indexed[i].~VertexProgram();
    memFree(indexed);
    indexed = nullptr;
  }
}

void VertexProgramBuilder::ReleaseProgramMemory() {
  if (memoryCpu != nullptr && freeRoutine != nullptr) (void)freeRoutine(common, 0, memoryCpu);
  memoryCpu = nullptr;
  memoryBus = 0;
  slot0Cpu = nullptr;
  slot0Bus = 0;
}

void VertexProgramBuilder::ReadClipping() {
  DriverSwitchesCommon* s = SwitchesOf(common);
  clippingType = s != nullptr ? SwitchU32(s->ClippingType) : 0;
  const uint32_t revision = common != nullptr ? common->revisionBits : 0;
  if (revision & kClipFragmentBoards) {
    clipFragments = clippingType == 0 || clippingType == 2 ? 1 : 0;
  } else {
    clipFragments = clippingType == 2 ? 1 : 0;
  }
}

VertexProgram* VertexProgramBuilder::GetFixedProgram(int32_t id, uint32_t index) const {
  if (id < 0 || id >= static_cast<int32_t>(kFixedProgramIds)) return nullptr;
  if (id == 4) return indexed != nullptr && index < kIndexedPrograms ? &indexed[index] : nullptr;
  if ((kStoredIds >> id & 1) == 0) return nullptr;
  return prebuilt[id];
}

void VertexProgramBuilder::RefreshCacheMode() {
  const uint32_t mode = CacheModeSwitch(common);
  if (mode == slotMode) return;
  slotMode = mode;
  const uint8_t hadClipFragments = clipFragments;
  ReadClipping();
  // The kind table's entries follow the clip fragments: refilled when the
  // flag changed, so programs and table agree.
  if (clipFragments != hadClipFragments) InitMicrocodeCatalogue(&catalogue, clipFragments);
  SetUpProgramMemory();
}

void VertexProgramBuilder::ReloadFixedPrograms() {
  // Fixed programs 6-12 resident from a new batch, and 17 in the slot
  // mode; the ring starts after them, and each loads again before use.
  (void)MakeResident(prebuilt[6], true, 2, nullptr);
  for (uint32_t id = 7; id <= 12; ++id) (void)MakeResident(prebuilt[id], false, 2, nullptr);
  if (slotMode) {
    (void)MakeResident(prebuilt[17], false, 2, nullptr);
    prebuilt[17]->SetLoadPending(1);
  }
  ringStart = ringHead;
  for (uint32_t id = 6; id <= 12; ++id) prebuilt[id]->SetLoadPending(1);
}

void VertexProgramBuilder::RestoreAfterReset(PDEV*) {
  ResetSlots(true);
  ReloadFixedPrograms();
  KernelWriteRegister(common, kRegVertexProgramMode, slotMode ? kProgramModeSlots : 0);
}

// ---- Component entry 19 --------------------------------------------------------------------

bool CreateVertexProgramBuilder(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    uint8_t success = 0;
    VertexProgramBuilder* builder = new VertexProgramBuilder(common, common->sharedLocked, &success);
    common->vertexProgramBuilder = builder;
    if (builder == nullptr || !success) {
      delete builder;
      common->vertexProgramBuilder = nullptr;
      return false;
    }
    DriverSwitchesCommon* s = common->driverSwitches;
    if (s != nullptr && SwitchU8(s->LoxarEnable) != 0 && SwitchU8(s->PerformCRegCheck) != 0)
      (void)builder->CheckConstantRegisters(pdev);
  } else if (common->vertexProgramBuilder != nullptr) {
    common->vertexProgramBuilder->RefreshCacheMode();
  }
  VertexProgramBuilder* builder = common->vertexProgramBuilder;
  KernelWriteRegister(common, kRegVertexProgramMode,
                      builder != nullptr && builder->slotMode ? kProgramModeSlots : 0);
  return true;
}

void DestroyVertexProgramBuilder(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard() || common->vertexProgramBuilder == nullptr) return;
  delete common->vertexProgramBuilder;
  common->vertexProgramBuilder = nullptr;
}

void RestoreVertexPrograms3d(PDEV* pdev) {
  if (VertexProgramBuilder* builder = pdev->common->vertexProgramBuilder) builder->RestoreAfterReset(pdev);
}
