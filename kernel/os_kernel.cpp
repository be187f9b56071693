// The kernel build of the driver core's named-parameter services: they
// reach the module's parameters through the glue's look-up instead of the
// device node.
#include <string.h>

#include "core/os.h"
#include "core/poll.h"
#include "kernel/fpu_bracket.h"
#include "kernel/interrupts.h"
#include "platform/kglue/kglue.h"

namespace {

void CopyOut(const void* value, void* out, uint32_t width) {
  if (width == kRegistryWidthByte) {
    memcpy(out, value, 1);
  } else if (width == kRegistryWidthWord) {
    memcpy(out, value, 2);
  } else {
    memcpy(out, value, 4);
  }
}

}  // namespace

bool OsReadRegistryValue(OsDevice*, const char* section, const char* key, void* out,
                         uint32_t width) {
  const void* value = OrvKstrnParameterLookup(section, key);
  if (value == nullptr || out == nullptr) return false;
  CopyOut(value, out, width);
  return true;
}

bool OsWriteRegistryValue(OsDevice*, const char* section, const char* key, const void* in,
                          uint32_t width) {
  void* value = OrvKstrnParameterLookup(section, key);
  if (value == nullptr || in == nullptr) return false;
  CopyOut(in, value, width);
  return true;
}

bool OsReadDrvSwitchValue(OsDevice* device, const char* key, void* out, uint32_t width) {
  return OsReadRegistryValue(device, nullptr, key, out, width);
}

namespace {

// The brackets this thread opened through OpenFpuBracket.
thread_local uint32_t fpuBrackets = 0;

}  // namespace

void OpenFpuBracket() {
  OsEnterFPUMode();
  ++fpuBrackets;
}

void CloseFpuBracket() {
  if (fpuBrackets == 0) return;
  --fpuBrackets;
  OsExitFPUMode();
}

uint32_t OpenFpuBrackets() { return fpuBrackets; }

// A wait's pause hands the processor back: the glue serves interrupts there,
// so a wait sees what only the interrupt path moves on. The interrupt path
// itself may not: its waits end after their back-to-back tries. The
// processor is never given away inside the floating-point bracket: the
// brackets open are closed for the yield and opened again after it.
bool OsWaitPause() {
  if (InInterruptPath()) return false;
  const uint32_t open = fpuBrackets;
  for (uint32_t i = 0; i < open; ++i) CloseFpuBracket();
  OsSchedule();
  for (uint32_t i = 0; i < open; ++i) OpenFpuBracket();
  return true;
}

void OsWaitTimedOut(const char* what, uint32_t boundMicroseconds) {
  ClientPrintLevel(1, "[orv] *ERROR* %s: no progress after %u us\n", what, boundMicroseconds);
}
