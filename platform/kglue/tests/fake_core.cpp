#include "platform/kglue/tests/fake_core.h"

namespace kglue_test {

FakeCore* g_core = nullptr;
namespace {

int FakeInit() {
  OrvParm_InitLut(1, g_aoOrvModKstrnParms);
  OrvIoctl_Register(kEchoCode, EchoHandler, 1, 0, 1);
  OrvIoctl_Register(kValueCode, EchoHandler, 1, 0, 1);
  OrvIoctl_Register(kIndirectCode, EchoHandler, 1, 0, 1);
  return 0;
}

int FakeExit() {
  OrvIoctl_UnRegister(kEchoCode);
  OrvIoctl_UnRegister(kValueCode);
  OrvIoctl_UnRegister(kIndirectCode);
  return 0;
}

// The fake device record holds the board's register handle.
KernelDevice* FakeCreate(OrvDevice* device, OrvContext*) {
  void** record = static_cast<void**>(memAlloc(sizeof(void*)));
  if (record != nullptr) *record = OrvDevice_GetRegisterHandle(device);
  return reinterpret_cast<KernelDevice*>(record);
}

void FakeDestroy(KernelDevice* device) { memFree(device); }

KernelClient* FakeOpen(KernelDevice*, OrvContext*) {
  auto* client = static_cast<KernelClient*>(memAlloc(16));
  if (g_core != nullptr) {
    g_core->opened.push_back(client);
    if (g_core->leaveFpuOpen) OsEnterFPUMode();
  }
  return client;
}

void FakeRelease(KernelDevice*, KernelClient* client) {
  if (g_core != nullptr) g_core->released.push_back(client);
  memFree(client);
}

constexpr uint32_t kPending = 0x8F4;
constexpr uint32_t kAcknowledge = 0x8F8;

int FakeCollect(KernelDevice* device) {
  if (g_core == nullptr || device == nullptr) return -1;
  ++g_core->collects;
  if (g_core->collectClosesFpu) OsExitFPUMode();
  void* registers = *reinterpret_cast<void**>(device);
  uint32_t pending = 0;
  memReadDword(registers, kPending, &pending);
  if (g_core->acknowledge && pending != 0) memWriteDword(registers, kAcknowledge, pending);
  return g_core->wantDeferred;
}

void FakeDeferred(KernelDevice*) {
  if (g_core != nullptr) ++g_core->deferredRuns;
}

}  // namespace

const OrvKstrnDriver kFakeDriver = {FakeInit, FakeExit,    FakeCreate,  FakeDestroy,
                                    FakeOpen, FakeRelease, FakeCollect, FakeDeferred};

int EchoHandler(KernelClient* client, uint32_t code, unsigned long argument) {
  g_core->handled.push_back(code);
  g_core->lastClient = client;
  g_core->lastArgument = argument;
  if (code == kValueCode) {
    if (g_core->yieldInFpu) {
      OsEnterFPUMode();
      OsSchedule();
      OsExitFPUMode();
    }
    return static_cast<int>(argument & 0xFF);
  }
  if (code == kIndirectCode) {
    uint64_t pointer = 0;
    uint8_t data[16];
    if (ClientCopyFromUserSpace(&pointer, reinterpret_cast<const void*>(argument), 8) != 0 ||
        ClientCopyFromUserSpace(data, reinterpret_cast<const void*>(pointer), 16) != 0)
      return -14;
    return static_cast<int>(OsGetCurrentProcessId());
  }
  uint8_t record[16];
  if (ClientCopyFromUserSpace(record, reinterpret_cast<const void*>(argument), 16) != 0)
    return -14;
  for (uint8_t& b : record) ++b;
  if (ClientCopyToUserSpace(reinterpret_cast<void*>(argument), record, 16) != 0) return -14;
  return static_cast<int>(OsGetCurrentProcessId());
}

}  // namespace kglue_test
