#include "kernel/host_bridge.h"

#include <string.h>

#include "core/chip_ids.h"
#include "core/regs/bus.h"
#include "core/regs/dma.h"
#include "core/regs/misc_io.h"
#include "kernel/kernel_device.h"
#include "kernel/register_guard.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr uint32_t kBoardKestrion1 = KestrionVendorDevice(kDeviceKestrion1);
constexpr uint32_t kBoardKestrion2 = KestrionVendorDevice(kDeviceKestrion2);
constexpr uint32_t kBoardKestrionNext1 = KestrionVendorDevice(kDeviceKestrionNext1);

// Host bridges the workarounds know.
constexpr uint32_t kBridgeNeedsEobTag = 0x03051106;
constexpr uint32_t kBridgePciReadA = 0x25008086;
constexpr uint32_t kBridgePciReadB = 0x25018086;

// Bus-master flag: command buffers may lie in local memory.
constexpr uint32_t kBmFlagLocalBuffers = 0x2;
// BmDebugFlags bit the local-buffer workaround sets.
constexpr uint32_t kBmDebugLocalBuffers = 0x10;

bool HasLocalBuffers(const HostBridgeInput& in) { return (in.bmFlags & kBmFlagLocalBuffers) != 0; }

// The bus-option bits beyond the power bits, in the order they are named.
struct BusOptionRule {
  uint32_t bit;
  const char* name;
  bool (*applies)(const HostBridgeInput& in);
};
constexpr BusOptionRule kBusOptionRules[] = {
    {kBusOptEobTag, "EOBTag ",
     [](const HostBridgeInput& in) {
       return (in.board == kBoardKestrion2 && HasLocalBuffers(in)) ||
              (in.board == kBoardKestrion1 && in.hostBridge == kBridgeNeedsEobTag);
     }},
    {kBusOptCap66Mhz, "Cap66Mhz ",
     [](const HostBridgeInput& in) { return in.board != kBoardKestrion1; }},
    {kBusOptPciRead, "PciRead ",
     [](const HostBridgeInput& in) {
       return in.hostBridge == kBridgePciReadA || in.hostBridge == kBridgePciReadB;
     }},
};

// Command buffers in local memory need the debug bit on these boards. The
// class-and-revision word is compared whole.
bool NeedsLocalBufferBit(const HostBridgeInput& in) {
  if (!HasLocalBuffers(in)) return false;
  return in.board == kBoardKestrion1 || (in.board == kBoardKestrion2 && in.classRevision < 6) ||
         (in.board == kBoardKestrionNext1 && in.classRevision <= 1);
}

}  // namespace

void ApplyHostBridgeWorkarounds(KernelDevice* device) {
  const SharedData_t* shared = device->sharedData;
  SharedLockedData_t* locked = device->sharedLocked;
  const HostBridgeInput in = {shared->pciId, shared->pciClassRevision, shared->hostBridgeId,
                              shared->pciConfigF4, locked->busFlags};
  void* regs = GetDeviceRegisterHandle(device);
  char names[96] = "";

  GuardedWrite(regs, locked, kRegDeviceWordA, kDeviceWordAValue);
  GuardedWrite(regs, locked, kRegDeviceWordB, kDeviceWordBValue);

  uint32_t options =
      (GuardedRead(regs, locked, kRegBusOptions) & kBusOptKeep) | BusPowerFields(in.configF4);
  strcat(names, "PowerM ");
  for (const BusOptionRule& rule : kBusOptionRules) {
    if (!rule.applies(in)) continue;
    options |= rule.bit;
    strcat(names, rule.name);
  }
  GuardedWrite(regs, locked, kRegBusOptions, options);

  if (NeedsLocalBufferBit(in)) {
    if (auto* flags = static_cast<uint32_t*>(OrvKstrnParameterLookup("System", "BmDebugFlags")))
      *flags |= kBmDebugLocalBuffers;
    strcat(names, "BmLocal ");
  }
  GuardedWrite(regs, locked, kRegMiscIoHigh,
               in.board == kBoardKestrion2 ? kMiscIoHighCompBypassKestrion2 : kMiscIoHighCompBypass);
  strcat(names, "CompBypass ");

  dbgOutput("[orv] Kestrion patches applied: %s\n", names);
}
