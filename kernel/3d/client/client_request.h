// The request block of a 3D client: 568 bytes in one page-locked page of its
// client context, mapped into the client. The client writes a request code
// and its arguments, then sends the execute ioctl; the kernel answers in the
// result word. The block is client memory: the ioctl handler dispatches on a
// snapshot in kernel memory and writes back only the results of the code.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

inline constexpr size_t kClientRequestSize = 568;

// Request codes.
enum ClientRequestCode : uint32_t {
  kRequestRunTokens = 1,
  kRequestReattach = 3,
  kRequestWaitIdle = 4,
  kRequestCreateBuffer = 5,
  kRequestDestroyBuffer = 6,
  kRequestNop = 9,
  kRequestCreateContext3d = 10,
  kRequestDestroyContext3d = 11,
  kRequestCreateSurface = 12,
  kRequestDestroySurface = 13,
  kRequestLockSurface = 14,
  kRequestUnlockSurface = 15,
  kRequestPresentSurface = 16,
  kRequestCreateVertexLayout = 17,
  kRequestDestroyVertexLayout = 18,
  kRequestCreateDataBuffer = 20,
  kRequestDestroyDataBuffer = 21,
  kRequestWriteDataBuffer = 22,
  kRequestFlipSurface = 28,
  kRequestSetDrawableRects = 29,
  kRequestBindDrawable = 30,
  kRequestReadRect = 31,
};

// Results.
inline constexpr int32_t kRequestOk = 0;
inline constexpr int32_t kRequestRefused = -1;
inline constexpr int32_t kRequestNotRunning = -3;
inline constexpr int32_t kRequestBusy = -4;

// Offsets of the block.
inline constexpr size_t kRequestCodeAt = 0;
inline constexpr size_t kRequestHandleAt = 8;
inline constexpr size_t kRequestArgsAt = 16;
inline constexpr size_t kRequestLengthAt = 560;
inline constexpr size_t kRequestResultAt = 564;

// Sizes of the user records some codes point at.
inline constexpr size_t kSurfaceDescriptionSize = 28;   // code 12, pointer at 16
inline constexpr size_t kLockRecordSize = 32;           // code 14, pointer at 24
inline constexpr size_t kPresentBoxSize = 24;           // code 16, pointers at 48 and 56
inline constexpr size_t kLayoutElementSize = 32;        // code 17, pointers at 24
inline constexpr size_t kReadRectBoxSize = 24;          // code 31, pointer at 24

struct alignas(8) ClientRequest {
  uint8_t bytes[kClientRequestSize];

  uint32_t U32(size_t offset) const {
    uint32_t value;
    memcpy(&value, bytes + offset, sizeof(value));
    return value;
  }
  uint64_t U64(size_t offset) const {
    uint64_t value;
    memcpy(&value, bytes + offset, sizeof(value));
    return value;
  }
  int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  void SetU32(size_t offset, uint32_t value) { memcpy(bytes + offset, &value, sizeof(value)); }
  void SetU64(size_t offset, uint64_t value) { memcpy(bytes + offset, &value, sizeof(value)); }

  uint32_t Code() const { return U32(kRequestCodeAt); }
  int32_t Result() const { return I32(kRequestResultAt); }
  void SetResult(int32_t result) { SetU32(kRequestResultAt, static_cast<uint32_t>(result)); }
};
static_assert(sizeof(ClientRequest) == kClientRequestSize);
