#include "kernel/kernel_device.h"

#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "kernel/host_bridge.h"
#include "kernel/client_blocks.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/vidmem/surface_manager.h"

namespace {

KernelClient* NewClient(KernelDevice* device, OrvContext* context) {
  auto* client = static_cast<KernelClient*>(memAlloc(sizeof(KernelClient)));
  if (client == nullptr) return nullptr;
  client->context = context;
  client->device = device;
  return client;
}

void Unlink(KernelDevice* device, KernelClient* client) {
  for (KernelClient** link = &device->clients; *link != nullptr; link = &(*link)->next) {
    if (*link == client) {
      *link = client->next;
      return;
    }
  }
}

PDEV* RingHead(KernelDevice* device) {
  return device->commonData != nullptr ? device->commonData->ringHead : nullptr;
}

// The first device object of the ring that the client owns and that is, or
// is not, of unit 0.
PDEV* FindOwned(KernelDevice* device, KernelClient* client, bool unitZero) {
  PDEV* head = RingHead(device);
  if (head == nullptr) return nullptr;
  PDEV* pdev = head;
  do {
    if (pdev->owner == client->context && (pdev->unit == 0) == unitZero) return pdev;
    pdev = pdev->next;
  } while (pdev != head);
  return nullptr;
}

}  // namespace

KernelDevice* CreateDevice(OrvDevice* glueDevice, OrvContext* ownContext) {
  auto* device = static_cast<KernelDevice*>(memAlloc(sizeof(KernelDevice)));
  if (device == nullptr) return nullptr;
  device->glueDevice = glueDevice;
  device->own = NewClient(device, ownContext);
  if (device->own == nullptr) {
    memFree(device);
    return nullptr;
  }
  device->commonData = nullptr;
  device->commonLocked = nullptr;
  device->sharedData = nullptr;
  device->sharedLocked = nullptr;
  if (AllocateSharedBuffers(device) == 0) {
    memFree(device->own);
    memFree(device);
    return nullptr;
  }
  ApplyHostBridgeWorkarounds(device);
  return device;
}

void DestroyDevice(KernelDevice* device) {
  if (device == nullptr) return;
  while (PDEV* head = RingHead(device)) DestroyPdev(device, head);
  FreeSharedBuffers(device);
  ReleaseClient(device, device->own);
  memFree(device);
}

KernelClient* OpenClient(KernelDevice* device, OrvContext* context) {
  if (device == nullptr) return nullptr;
  KernelClient* client = NewClient(device, context);
  if (client == nullptr) return nullptr;
  client->next = device->clients;
  device->clients = client;
  return client;
}

void ReleaseClient(KernelDevice* device, KernelClient* client) {
  if (device == nullptr || client == nullptr) return;
  if (client->context3d != nullptr) DestroyClientContext3d(client);
  FreeClientBlocks(client);
  // Units other than 0 first: unit 0 holds what the board's other units use.
  while (PDEV* pdev = FindOwned(device, client, false)) DestroyPdev(device, pdev);
  while (PDEV* pdev = FindOwned(device, client, true)) DestroyPdev(device, pdev);
  Unlink(device, client);
  memFree(client);
}

KernelClient* ClientOfContext(OrvContext* context) {
  return context != nullptr ? OrvContext_GetPrivate(context) : nullptr;
}

KernelDevice* DeviceOfContext(OrvContext* context) {
  KernelClient* client = ClientOfContext(context);
  return client != nullptr ? client->device : nullptr;
}

void* GetDeviceRegisterHandle(KernelDevice* device) {
  if (device == nullptr || device->glueDevice == nullptr) return nullptr;
  return OrvDevice_GetRegisterHandle(device->glueDevice);
}

void* GetContextRegisterHandle(OrvContext* context) {
  return GetDeviceRegisterHandle(DeviceOfContext(context));
}

int CopyUserData(void* kernel, const void* user, size_t size, int direction) {
  const int failed = direction != 0 ? ClientCopyFromUserSpace(kernel, user, size)
                                    : ClientCopyToUserSpace(const_cast<void*>(user), kernel, size);
  return failed == 0 ? 1 : 0;
}

PDEV* FindPdev(PDEV* ringHead, uint64_t handle) {
  if (ringHead == nullptr || handle == 0) return nullptr;
  PDEV* pdev = ringHead;
  do {
    if (reinterpret_cast<uintptr_t>(pdev) == handle) return pdev;
    pdev = pdev->next;
  } while (pdev != ringHead);
  return nullptr;
}

ClientBlockRecord* FindClientBlock(KernelClient* client, uint32_t id, uint32_t kind) {
  for (ClientBlockRecord* record = client->blocks; record != nullptr; record = record->next) {
    if (record->kind == kind && record->id == id) return record;
  }
  return nullptr;
}

void FreeClientBlocks(KernelClient* client) {
  while (ClientBlockRecord* record = client->blocks) {
    client->blocks = record->next;
    FreeClientBlockObject(client, record);
    memFree(record);
  }
}

void FreeClientBlockObject(KernelClient* client, ClientBlockRecord* record) {
  CommonData* common = client->device != nullptr ? client->device->commonData : nullptr;
  PDEV* ring = common != nullptr ? common->ringHead : nullptr;
  if (record->kind == kClientBlockAperture) {
    auto* window = static_cast<MmHostAperture*>(record->object);
    // Surfaces of any client that took this window as their aperture clone.
    for (KernelClient* c = client->device != nullptr ? client->device->clients : nullptr; c != nullptr; c = c->next) {
      for (ClientBlockRecord* r = c->blocks; r != nullptr; r = r->next) {
        if (r->kind == kClientBlockAperture) continue;
        auto* surface = static_cast<MmSurface*>(r->object);
        if (surface->aperture == window) {
          surface->aperture = nullptr;
          surface->options.flags &= ~kSurfForeignAperture;
        }
      }
    }
    if (ring == nullptr) {
      // The board's mapper is gone, and the window's space with it.
      window->block = nullptr;
      window->mapper = nullptr;
    }
    while (window->lockCount != 0) window->Unlock();
    delete window;
    return;
  }
  auto* surface = static_cast<MmSurface*>(record->object);
  if (ring != nullptr) {
    PDEV* pdev = ring;
    do {
      if (pdev->primarySurface == surface) pdev->primarySurface = nullptr;
      pdev = pdev->next;
    } while (pdev != ring);
  }
  // An aperture clone belongs to its own block record.
  if (surface->options.flags & kSurfForeignAperture) {
    surface->aperture = nullptr;
    surface->options.flags &= ~kSurfForeignAperture;
  }
  if (ring != nullptr && surface->manager != nullptr) {
    surface->manager->DestroySurfaceClone(surface);
  } else {
    surface->block = nullptr;
  }
  delete surface;
}

void DestroyPdev(KernelDevice* device, PDEV* pdev) {
  for (KernelClient* client = device->clients; client != nullptr; client = client->next) {
    if (client->context3d != nullptr && ClientContext3dDevice(client->context3d) == pdev)
      DestroyClientContext3d(client);
  }
  // The last device object of the board takes every client's blocks with it.
  if (pdev->next == pdev) {
    for (KernelClient* client = device->clients; client != nullptr; client = client->next)
      FreeClientBlocks(client);
  }
  delete pdev;
}
