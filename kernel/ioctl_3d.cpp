// The 3D clients' requests of the device node (31 to 33).
#include "kernel/ioctl_3d.h"

#include <string.h>

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/os.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/dispatcher.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/fpu_bracket.h"
#include "kernel/kernel_device.h"
#include "kernel/kernel_wait.h"
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

// Request 17: the vertex data ((u32 at 32) x (u32 at 40) bytes from the u64
// at 56), the (u32 at 16) pointers at 24 to 32-byte element records, and
// each record's (u32 at 16) words from the u64 at 24. All of it lands in one
// kernel block; a request beyond the bounds is refused before anything is
// allocated.
int CopyLayoutIn(ClientRequest* request, RequestCopies* copies, uint8_t** block) {
  const uint32_t count = request->U32(16);
  const uint64_t records = request->U64(24);
  const uint64_t vertexBytes = uint64_t{request->U32(32)} * request->U32(40);
  const uint64_t vertices = request->U64(56);
  const bool withElements = count != 0 && records != 0;
  const bool withVertices = vertexBytes != 0 && vertices != 0;
  if ((withElements && count > kLayoutMaxElements) || vertexBytes > kLayoutMaxBytes) {
    copies->layoutRefused = true;
    return 0;
  }
  const uint32_t elements = withElements ? count : 0;
  // The record headers first, to learn how many words follow.
  auto* pointers = static_cast<uint64_t*>(memAlloc(sizeof(uint64_t) * (elements != 0 ? elements : 1)));
  auto* headers = static_cast<uint8_t*>(memAlloc(size_t{32} * (elements != 0 ? elements : 1)));
  int status = 0;
  uint64_t words = 0;
  if (pointers == nullptr || headers == nullptr) {
    status = kErrnoNoMemory;
  } else if (elements != 0 && !CopyIn(pointers, records, sizeof(uint64_t) * elements)) {
    status = kErrnoFault;
  } else {
    for (uint32_t i = 0; i < elements && status == 0; ++i) {
      uint8_t* header = headers + size_t{32} * i;
      if (!CopyIn(header, pointers[i], 32)) status = kErrnoFault;
      uint32_t type, wordCount;
      memcpy(&type, header + 8, 4);
      memcpy(&wordCount, header + 16, 4);
      if (type > kLayoutMaxType || wordCount == 0 || wordCount > kLayoutMaxWords) copies->layoutRefused = true;
      words += wordCount;
    }
  }
  if (status == 0 && !copies->layoutRefused && words * 4 > kLayoutMaxBytes) copies->layoutRefused = true;
  if (status == 0 && !copies->layoutRefused) {
    const uint64_t bytes = sizeof(LayoutElementCopy) * uint64_t{elements} + words * 4 +
                           (withVertices ? vertexBytes : 0);
    *block = static_cast<uint8_t*>(memAlloc(bytes != 0 ? static_cast<size_t>(bytes) : 1));
    if (*block == nullptr) status = kErrnoNoMemory;
    auto* out = reinterpret_cast<LayoutElementCopy*>(*block);
    auto* pool = reinterpret_cast<uint32_t*>(*block + sizeof(LayoutElementCopy) * elements);
    for (uint32_t i = 0; i < elements && status == 0; ++i) {
      const uint8_t* header = headers + size_t{32} * i;
      uint64_t user;
      memcpy(&out[i].type, header + 8, 4);
      memcpy(&out[i].wordCount, header + 16, 4);
      memcpy(&user, header + 24, 8);
      if (!CopyIn(pool, user, size_t{out[i].wordCount} * 4)) status = kErrnoFault;
      out[i].words = pool;
      pool += out[i].wordCount;
    }
    if (status == 0 && withVertices) {
      if (!CopyIn(pool, vertices, static_cast<size_t>(vertexBytes))) status = kErrnoFault;
      copies->data = reinterpret_cast<const uint8_t*>(pool);
      copies->dataSize = static_cast<uint32_t>(vertexBytes);
    }
    copies->elements = out;
    copies->elementCount = elements;
  }
  memFree(pointers);
  memFree(headers);
  return status;
}

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
        const uint32_t ring = buffer->ring->Size();
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
    case kRequestCreateVertexLayout:
      return CopyLayoutIn(request, copies, data);
    case kRequestReadRect:
      if (!CopyIn(copies->box[0], request->U64(24), kReadRectBoxSize)) return kErrnoFault;
      copies->haveBox[0] = true;
      return 0;
    default:
      return 0;
  }
}

// A board switch's value, 0 without the switch.
template <class Switch>
uint32_t SwitchValue(Switch* value) {
  return value != nullptr ? static_cast<uint32_t>(value->GetValue()) : 0;
}

// What the client is told of the board: hardware transform and lighting
// (16), vertex shaders (18), clip rejection (19), and the guard band when
// guard-band clipping is on.
void FillBoardValues(CommonData* common, Create3dContextRecord* record) {
  DriverSwitchesCommon* switches = common->driverSwitches;
  const bool present = switches != nullptr;
  record->switchA = static_cast<uint8_t>(present ? SwitchValue(switches->HwTransformLight) : 0);
  record->one = 1;
  record->switchB = static_cast<uint8_t>(present ? SwitchValue(switches->VertexShader) : 0);
  record->switchC = static_cast<uint8_t>(present ? SwitchValue(switches->ClipReject) : 0);
  const bool guard = present && SwitchValue(switches->GuardBandClipping) != 0;
  const float band[4] = {-kGuardBand, -kGuardBand, kGuardBand, kGuardBand};
  for (int i = 0; i < 4; ++i) record->guardBand[i] = guard ? band[i] : 0.0f;
  record->eight = 8;
  record->maxIndex = 65535;
  record->zero[0] = record->zero[1] = 0;
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
  OpenFpuBracket();
  const bool made = context->Init(pdev, OsGetCurrentProcessId());
  if (!made) context->Cleanup();
  CloseFpuBracket();
  if (!made) {
    delete context;
    return kErrnoInvalid;
  }
  client->context3d = context;
  record.requestBlock = context->requestBlockBus;
  FillBoardValues(common, &record);
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
  // A stop of the device (request 23) may have come between the check
  // above and the lock: it marked the context lost under the lock.
  if ((context->lost && code != kRequestReattach) || context->device == nullptr ||
      context->device->primarySurface == nullptr) {
    OsInterlockedExchange(&shared->commandLock, 0);
    answer(kRequestNotRunning);
    return 0;
  }
  RequestCopies copies = {};
  uint8_t* data = nullptr;
  OpenFpuBracket();
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
      case kRequestCreateVertexLayout:
        memcpy(block->bytes + 64, request->bytes + 64, 8);
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
  CloseFpuBracket();
  memFree(data);
  OsInterlockedExchange(&shared->commandLock, 0);
  return status;
}
