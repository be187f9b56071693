#include "kernel/x_requests.h"

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/regs/interrupts.h"
#include "kernel/dma_streams.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_device.h"
#include "kernel/pdev_kernel.h"
#include "kernel/pending.h"
#include "kernel/register_guard.h"

namespace {

PDEV* RingHead(KernelClient* client) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  return common != nullptr ? common->ringHead : nullptr;
}

// The device object behind a handle, when it is in the board ring and the
// calling client enabled it (the node may be opened by anyone).
PDEV* OwnDeviceObject(KernelClient* client, uint64_t handle) {
  PDEV* pdev = FindPdev(RingHead(client), handle);
  return pdev != nullptr && pdev->owner == client->context ? pdev : nullptr;
}

}  // namespace

int IoctlEnableDevice(KernelClient* client, uint32_t, unsigned long argument) {
  OrvEnableRequest request;
  const void* user = reinterpret_cast<const void*>(argument);
  if (!CopyUserData(&request, user, sizeof(request), kCopyFromUser)) return 0;
  uint8_t ok = 0;
  PDEV* pdev = new PDEV(client->context, &request.mode, &ok);
  if (pdev == nullptr) return 0;
  if (ok) {
    pdev->owner = client->context;
    request.kernelHandle = reinterpret_cast<uintptr_t>(pdev);
    if (CopyUserData(&request, user, sizeof(request), kCopyToUser)) return 1;
  }
  delete pdev;
  return 0;
}

int IoctlDisableDevice(KernelClient* client, uint32_t, unsigned long handle) {
  PDEV* pdev = OwnDeviceObject(client, handle);
  if (pdev == nullptr) return kErrnoInvalid;
  DestroyPdev(client->device, pdev);
  return 0;
}

int IoctlStartDevice(KernelClient* client, uint32_t, unsigned long handle) {
  PDEV* pdev = OwnDeviceObject(client, handle);
  if (pdev == nullptr) return kErrnoInvalid;
  EnablePdev(pdev);
  pdev->primarySurface = nullptr;
  return 0;
}

int IoctlStopDevice(KernelClient* client, uint32_t, unsigned long unit) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  PDEV* pdev = PDEV::GetActive(common, static_cast<uint32_t>(unit));
  if (pdev == nullptr || pdev->owner != client->context) return kErrnoInvalid;
  DisablePdev(pdev);
  pdev->primarySurface = nullptr;
  for (KernelClient* other = client->device->clients; other != nullptr; other = other->next) {
    if (other->context3d != nullptr && ClientContext3dDevice(other->context3d) == pdev)
      MarkClientContext3dLost(other);
  }
  return 0;
}

int IoctlPostBusmasteringBuffer(KernelClient* client, uint32_t, unsigned long argument) {
  OrvDmaPostRequest record;
  if (!CopyUserData(&record, reinterpret_cast<const void*>(argument), sizeof(record), kCopyFromUser))
    return kErrnoFault;
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  if (common == nullptr || common->primaryStream == nullptr) return kErrnoInvalid;
  SubmitClientDmaBuffer(common, record);
  return 0;
}

int IoctlSetVSyncInterruptState(KernelClient* client, uint32_t, unsigned long argument) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  if (common == nullptr) return kErrnoInvalid;
  OrvVSyncStateRequest request;
  if (!CopyUserData(&request, reinterpret_cast<const void*>(argument), sizeof(request), kCopyFromUser))
    return kErrnoFault;
  const uint32_t kind = request.word[0];
  const uint32_t which = request.word[1];
  const bool enable = request.word[2] != 0;
  const uint32_t slot = request.word[3];
  InterruptManager* interrupts = common->interruptManager;
  if (interrupts == nullptr) return 0;
  uint32_t source;
  if (which == 0) {
    source = kSourceVBlank0;
  } else if (which == 1) {
    source = kSourceVBlank1;
  } else if (which == 2 &&
             (KernelReadRegister(common, kRegDisplayConfig) & kDisplayConfigThirdVBlank) != 0) {
    source = kSourceVBlank2;
  } else {
    return 0;
  }
  if (kind != kVSyncEventPost && kind != kVSyncEventKindA && kind != kVSyncEventKindB) return 0;
  InterruptSource& s = interrupts->sources[source];
  if (enable) {
    s.AddPostSlot(slot);
    s.EnableEvent(kEventPeriodicPost, true);
  } else {
    s.DisableEvent(kEventPeriodicPost, false);
    s.RemovePostSlot(slot);
  }
  return 0;
}
