// What the kernel module keeps of the board's resident vertex programs,
// read from the loaded module's records (the fields only: nothing of the
// module is called). Compiled in the kernel's layout, apart from the
// tests, which see only this plain record.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct KernelDevice;

namespace e2e {

struct ResidentProgram {
  int id;
  bool resident;
  bool loadPending;
  uint32_t firstSlot;
  uint32_t slotCount;
  // The program's linked code equals the bytes of its slots in the
  // program memory the engine fetches.
  bool slotBytesEqualCode;
};

struct ProgramMemory {
  bool found = false;  // the board has a vertex program builder
  uint32_t slotMode = 0;
  uint32_t ringStart = 0;
  uint32_t ringHead = 0;
  std::vector<ResidentProgram> programs;  // ids 6-12 and 17
};

ProgramMemory ReadProgramMemory(const KernelDevice* device);

}  // namespace e2e
