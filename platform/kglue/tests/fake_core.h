// A fake kernel core for the glue's own tests: just enough of an entry
// table to reach every glue service. Its interrupt entry acknowledges the
// board's pending sources (unless told not to) and can ask for the deferred
// work. Its handler serves three requests:
//   kEchoCode      copies its 16-byte record in, adds 1 to each byte, copies
//                  it back and answers the caller's process id;
//   kValueCode     answers the low byte of its argument value;
//   kIndirectCode  reads the 16 bytes its 8-byte record points at and
//                  answers the process id (-14 on a copy fault).
#pragma once

#include <stdint.h>

#include <vector>

#include "core/orv_ioctl.h"
#include "platform/kglue/kglue.h"

namespace kglue_test {

inline constexpr uint32_t kEchoCode = OrvIocCode(kIocRW, 0x14, 16);
inline constexpr uint32_t kValueCode = OrvIocCode(kIocDirWrite, 0x16, 8);
inline constexpr uint32_t kIndirectCode = OrvIocCode(kIocDirWrite, 0x15, 8);

struct FakeCore {
  std::vector<uint32_t> handled;  // codes the handler saw
  KernelClient* lastClient = nullptr;
  unsigned long lastArgument = 0;
  std::vector<KernelClient*> opened;
  std::vector<KernelClient*> released;
  bool leaveFpuOpen = false;  // OpenClient leaves the bracket open
  // kValueCode opens the bracket, yields once (OsSchedule) and closes it.
  bool yieldInFpu = false;
  // The interrupt entry closes a bracket it did not open.
  bool collectClosesFpu = false;
  // Interrupts: the entry reads the pending register and writes it back to
  // the acknowledge register when `acknowledge`; answers `wantDeferred`.
  bool acknowledge = true;
  int wantDeferred = 0;
  int collects = 0;
  int deferredRuns = 0;
};

// The core's state while a test uses the table; set it before Load.
extern FakeCore* g_core;
extern const OrvKstrnDriver kFakeDriver;

int EchoHandler(KernelClient* client, uint32_t code, unsigned long argument);

}  // namespace kglue_test
