// Compiled in the kernel's layout (ORV_KERNEL_BUILD, set for this file
// alone): reads fields of the module's records, calls nothing.
#include "tests/e2e/loss_probe.h"

#include <string.h>

#include "core/common_data_kernel.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/kernel_device.h"

namespace e2e {

ProgramMemory ReadProgramMemory(const KernelDevice* device) {
  ProgramMemory out;
  const CommonData* common = device != nullptr ? device->commonData : nullptr;
  const VertexProgramBuilder* builder = common != nullptr ? common->vertexProgramBuilder : nullptr;
  if (builder == nullptr) return out;
  out.found = true;
  out.slotMode = builder->slotMode;
  out.ringStart = builder->ringStart;
  out.ringHead = builder->ringHead;
  for (int id : {6, 7, 8, 9, 10, 11, 12, 17}) {
    const VertexProgram* p = builder->prebuilt[id];
    if (p == nullptr) {
      out.programs.push_back({id, false, false, 0, 0, false});
      continue;
    }
    ResidentProgram r{id, p->resident != 0, p->loadPending != 0, p->firstSlot, p->slotCount, false};
    const bool inRing = builder->slot0Cpu != nullptr && p->code != nullptr && p->firstSlot < kProgramSlots &&
                        p->codeSize <= uint64_t{kProgramSlots - p->firstSlot} * kSlotBytes;
    r.slotBytesEqualCode =
        inRing && memcmp(builder->slot0Cpu + uint64_t{p->firstSlot} * kSlotBytes, p->code, p->codeSize) == 0;
    out.programs.push_back(r);
  }
  return out;
}

}  // namespace e2e
