// The 3D clients' requests of the device node (31 to 33).
#include "kernel/ioctl_3d.h"

#include <string.h>

#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/dispatcher.h"
#include "kernel/kernel_device.h"
#include "kernel/kernel_wait.h"
#include "kernel/pending.h"
#include "kernel/x_requests.h"
#include "platform/kglue/kglue.h"

namespace {

constexpr int kErrnoBusy = -16;
constexpr int kErrnoInterrupted = -4;

// Copies client memory in; false when the copy fails.
bool CopyIn(void* kernel, uint64_t user, size_t size) {
  if (size == 0) return true;
  if (user == 0) return false;
  return ClientCopyFromUserSpace(kernel, reinterpret_cast<const void*>(static_cast<uintptr_t>(user)), size) == 0;
}

bool CopyOut(uint64_t user, const void* kernel, size_t size) {
  if (user == 0) return false;
  return ClientCopyToUserSpace(reinterpret_cast<void*>(static_cast<uintptr_t>(user)), kernel, size) == 0;
}

// The bytes a data-buffer request may move: what it names, bounded by the
// largest ring a data buffer can have.
constexpr uint32_t kDataCopyMax = 16u << 20;

// Copies the user records of the request into kernel memory. -14 when a copy
// fails, -12 when a kernel buffer cannot be had; 0 otherwise.
int CopyRecordsIn(ClientContext* client, ClientRequest* request, RequestCopies* copies,
                  uint8_t** data) {
  switch (request->Code()) {
    case kRequestCreateSurface:
      if (!CopyIn(copies->record, request->U64(16), kSurfaceDescriptionSize)) return kErrnoFault;
      copies->haveRecord = true;
      return 0;
    case kRequestLockSurface:
      if (!CopyIn(copies->record, request->U64(24), kLockRecordSize)) return kErrnoFault;
      copies->haveRecord = true;
      return 0;
    case kRequestPresentSurface:
      for (int i = 0; i < 2; ++i) {
        const uint64_t user = request->U64(48 + 8 * i);
        if (user == 0) continue;
        if (!CopyIn(copies->box[i], user, kPresentBoxSize)) return kErrnoFault;
        copies->haveBox[i] = true;
      }
      return 0;
    case kRequestCreateDataBuffer:
    case kRequestWriteDataBuffer: {
      const bool create = request->Code() == kRequestCreateDataBuffer;
      const uint64_t user = request->U64(create ? 16 : 48);
      uint32_t size = request->U32(create ? 24 : 32);
      if (!create) {
        // Only what fits behind the offset of the named buffer's ring.
        DataBuffer3d* buffer = client->DataBuffer(request->U32(16));
        if (buffer == nullptr || buffer->ring == nullptr) return 0;
        const uint32_t ring = BmBufferRingSize(buffer->ring);
        const uint32_t offset = request->U32(24);
        const uint32_t room = offset < ring ? ring - offset : 0;
        if (size > room) size = room;
      }
      if (size > kDataCopyMax) size = kDataCopyMax;
      if (size == 0 || user == 0) return 0;
      *data = static_cast<uint8_t*>(memAlloc(size));
      if (*data == nullptr) return kErrnoNoMemory;
      if (!CopyIn(*data, user, size)) return kErrnoFault;
      copies->data = *data;
      copies->dataSize = size;
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace

int IoctlCreate3dContext(KernelClient* client, uint32_t, unsigned long argument) {
  Create3dContextRecord record;
  if (!CopyUserData(&record, reinterpret_cast<const void*>(argument), sizeof(record), kCopyFromUser))
    return kErrnoFault;
  KernelDevice* device = client->device;
  CommonData* common = device != nullptr ? device->commonData : nullptr;
  PDEV* pdev = common != nullptr ? FindPdev(common->ringHead, record.deviceHandle) : nullptr;
  if (pdev == nullptr) return kErrnoInvalid;
  if (client->context3d != nullptr) return kErrnoBusy;
  ClientContext* context = new ClientContext();
  if (context == nullptr) return kErrnoInvalid;
  OsEnterFPUMode();
  const bool made = context->Init(pdev, OsGetCurrentProcessId());
  if (!made) context->Cleanup();
  OsExitFPUMode();
  if (!made) {
    delete context;
    return kErrnoInvalid;
  }
  client->context3d = context;
  record.requestBlock = context->requestBlockBus;
  record.switchA = 0;
  record.one = 1;
  record.switchB = 0;
  record.switchC = 0;
  for (float& value : record.guardBand) value = 0.0f;
  record.eight = 8;
  record.maxIndex = 65535;
  record.zero[0] = record.zero[1] = 0;
  if (!CopyUserData(&record, reinterpret_cast<const void*>(argument), sizeof(record), kCopyToUser))
    return kErrnoFault;
  return 0;
}

int IoctlDestroy3dContext(KernelClient* client, uint32_t, unsigned long) {
  if (client->context3d == nullptr || client->context3d->device == nullptr) return kErrnoInvalid;
  DestroyClientContext3d(client);
  return 0;
}

int IoctlExecute3dRequest(KernelClient* client, uint32_t, unsigned long) {
  ClientContext* context = client->context3d;
  if (context == nullptr || context->requestBlock == nullptr) return kErrnoInvalid;
  ClientRequest* block = context->requestBlock;
  ClientRequest* request = &context->request;
  // The snapshot: everything below reads the kernel's copy only.
  memcpy(request, block, sizeof(ClientRequest));
  const uint32_t code = request->Code();
  auto answer = [block](int32_t result) {
    const uint32_t word = static_cast<uint32_t>(result);
    memcpy(block->bytes + kRequestResultAt, &word, sizeof(word));
  };
  if (context->lost && code != kRequestReattach) {
    answer(kRequestNotRunning);
    return 0;
  }
  if (context->device == nullptr || context->device->primarySurface == nullptr) {
    answer(kRequestNotRunning);
    return 0;
  }
  SharedLockedData_t* shared = context->common->sharedLocked;
  if (!KernelWait("3D command lock", [&] { return OsInterlockedExchange(&shared->commandLock, 1) == 0; })) {
    answer(kErrnoInterrupted);
    return kErrnoBusy;
  }
  RequestCopies copies = {};
  uint8_t* data = nullptr;
  OsEnterFPUMode();
  int status = CopyRecordsIn(context, request, &copies, &data);
  if (status == 0) {
    DispatchClientRequest(context, request, &copies);
    // Only the code's results go back into the client's block.
    switch (code) {
      case kRequestCreateBuffer:
        memcpy(block->bytes + 16, request->bytes + 16, 8);
        memcpy(block->bytes + 32, request->bytes + 32, 16);
        break;
      case kRequestCreateContext3d:
        memcpy(block->bytes + 48, request->bytes + 48, 32);
        break;
      case kRequestCreateSurface:
        memcpy(block->bytes + 24, request->bytes + 24, 8);
        if (copies.haveRecord && !CopyOut(request->U64(16), copies.record, kSurfaceDescriptionSize))
          status = kErrnoFault;
        break;
      case kRequestLockSurface:
        if (copies.haveRecord && !CopyOut(request->U64(24), copies.record, kLockRecordSize))
          status = kErrnoFault;
        break;
      case kRequestCreateDataBuffer:
        memcpy(block->bytes + 24, request->bytes + 24, 4);
        memcpy(block->bytes + 32, request->bytes + 32, 4);
        break;
      default:
        break;
    }
    answer(request->Result());
  }
  OsExitFPUMode();
  memFree(data);
  OsInterlockedExchange(&shared->commandLock, 0);
  return status;
}
