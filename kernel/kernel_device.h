// The kernel core's per-board device and per-open client records, and the
// device lifetime the glue drives through the entry table: device create and
// destroy, open and release, the shared blocks, and the helpers the request
// handlers share.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/orv_abi.h"
#include "platform/kglue/kglue.h"

class PDEV;
struct CommonData;
class InterruptSource;
class ClientContext;

// One block a client allocated with the block request: a host aperture
// (kind 1) or a video-memory surface (any other kind).
struct ClientBlockRecord {
  ClientBlockRecord* next;
  uint32_t kind;
  uint32_t id;     // the block's address as handed to the client
  void* object;    // MmHostAperture or MmSurface
};
static_assert(sizeof(ClientBlockRecord) == 24);

inline constexpr uint32_t kClientBlockAperture = 1;

// One open file of the device node.
struct KernelClient {
  KernelClient* next;           // device's list, newest first
  OrvContext* context;          // the glue's handle of the file
  KernelDevice* device;
  ClientBlockRecord* blocks;
  ClientContext* context3d;     // null when none
  uint8_t reserved[16];
};
static_assert(sizeof(KernelClient) == 56);

inline constexpr unsigned kDeferredSourceSlots = 4;

// One per board.
struct KernelDevice {
  OrvDevice* glueDevice;
  // The four shared regions by linear address; 0 while absent.
  CommonData* commonData;
  uint8_t* commonLocked;
  SharedData_t* sharedData;
  SharedLockedData_t* sharedLocked;
  // Interrupt sources recorded for the deferred work, and their count.
  InterruptSource* deferredSources[kDeferredSourceSlots];
  uint32_t deferredCount;
  KernelClient* clients;        // newest first
  KernelClient* own;            // made at create; its context is the region pool
  uint8_t reserved[48];
};
static_assert(sizeof(KernelDevice) == 144);
static_assert(offsetof(KernelDevice, commonData) == 8);
static_assert(offsetof(KernelDevice, clients) == 80);

// ---- Entry points (slots 2 to 5 of the entry table) --------------------------------
KernelDevice* CreateDevice(OrvDevice* device, OrvContext* ownContext);
void DestroyDevice(KernelDevice* device);
KernelClient* OpenClient(KernelDevice* device, OrvContext* context);
void ReleaseClient(KernelDevice* device, KernelClient* client);

// ---- Shared blocks -------------------------------------------------------------------
// 0 and nothing changes when either block exists already; else allocates,
// fills and takes one reference on both: 1, or 0 when an allocation failed
// (nothing is left then).
int AllocateSharedBuffers(KernelDevice* device);
void FreeSharedBuffers(KernelDevice* device);

// ---- Helpers of the request handlers ---------------------------------------------------
// The device and the client behind a glue context; null when a link is missing.
KernelClient* ClientOfContext(OrvContext* context);
KernelDevice* DeviceOfContext(OrvContext* context);
void* GetContextRegisterHandle(OrvContext* context);
void* GetDeviceRegisterHandle(KernelDevice* device);
// direction non-zero copies from the user; 1 on success.
int CopyUserData(void* kernel, const void* user, size_t size, int direction);
inline constexpr int kCopyFromUser = 1;
inline constexpr int kCopyToUser = 0;
// The device object whose address is the handle, found in the board ring.
PDEV* FindPdev(PDEV* ringHead, uint64_t handle);
ClientBlockRecord* FindClientBlock(KernelClient* client, uint32_t id, uint32_t kind);
void FreeClientBlocks(KernelClient* client);
// Destroys what is bound to the device object, then the object itself.
void DestroyPdev(KernelDevice* device, PDEV* pdev);
