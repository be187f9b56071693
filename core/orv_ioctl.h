// Requests of the board's device node (/dev/orvane/orv<minor>) and the
// records they carry. These records are the binary interface with the kernel
// module: both builds use this one definition.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Request code: direction in bits 30-31, record size in bits 16-29, type 'F'
// in bits 8-15, number in bits 0-7.
inline constexpr uint32_t kIocDirWrite = 1;  // the caller hands data in
inline constexpr uint32_t kIocDirRead = 2;   // the module hands data back
inline constexpr uint32_t kIocType = 'F';

constexpr uint32_t OrvIocCode(uint32_t direction, uint32_t number, uint32_t size) {
  return (direction << 30) | ((size & 0x3FFF) << 16) | (kIocType << 8) | (number & 0xFF);
}
constexpr uint32_t OrvIocSize(uint32_t code) { return (code >> 16) & 0x3FFF; }
constexpr uint32_t OrvIocDirection(uint32_t code) { return code >> 30; }

inline constexpr uint32_t kIocRW = kIocDirWrite | kIocDirRead;

// Served by the kernel glue.
inline constexpr uint32_t ORV_IOCTL_ALLOC_BUFFER = OrvIocCode(kIocRW, 0x01, 24);
inline constexpr uint32_t ORV_IOCTL_FREE_BUFFER = OrvIocCode(kIocDirWrite, 0x02, 24);
inline constexpr uint32_t ORV_IOCTL_PARAMETER = OrvIocCode(kIocRW, 0x03, 60);
inline constexpr uint32_t ORV_IOCTL_GET_MINOR = OrvIocCode(kIocRW, 0x06, 16);
// Served by the kernel core.
inline constexpr uint32_t ORV_IOCTL_ENABLE_DEVICE = OrvIocCode(kIocRW, 0x14, 128);
inline constexpr uint32_t ORV_IOCTL_DISABLE_DEVICE = OrvIocCode(kIocRW, 0x15, 8);
inline constexpr uint32_t ORV_IOCTL_START_DEVICE = OrvIocCode(kIocDirWrite, 0x16, 8);
inline constexpr uint32_t ORV_IOCTL_STOP_DEVICE = OrvIocCode(kIocDirWrite, 0x17, 4);
inline constexpr uint32_t ORV_IOCTL_ALLOC_BLOCK = OrvIocCode(kIocRW, 0x18, 128);
inline constexpr uint32_t ORV_IOCTL_FREE_BLOCK = OrvIocCode(kIocDirWrite, 0x19, 128);
inline constexpr uint32_t ORV_IOCTL_LOCAL_MEMORY = OrvIocCode(kIocRW, 0x1A, 96);
inline constexpr uint32_t ORV_IOCTL_POST_DMA = OrvIocCode(kIocRW, 0x1B, 24);
inline constexpr uint32_t ORV_IOCTL_DECLARE_PRIMARY = OrvIocCode(kIocDirWrite, 0x1C, 24);
inline constexpr uint32_t ORV_IOCTL_VSYNC_STATE = OrvIocCode(kIocDirWrite, 0x1D, 16);
// Requests of 3D clients, served by the kernel core.
inline constexpr uint32_t ORV_IOCTL_CREATE_3D_CONTEXT = OrvIocCode(kIocRW, 0x1F, 56);
inline constexpr uint32_t ORV_IOCTL_DESTROY_3D_CONTEXT = OrvIocCode(0, 0x20, 0);
inline constexpr uint32_t ORV_IOCTL_EXECUTE_3D = OrvIocCode(0, 0x21, 0);

static_assert(ORV_IOCTL_ALLOC_BUFFER == 0xC0184601);
static_assert(ORV_IOCTL_FREE_BUFFER == 0x40184602);
static_assert(ORV_IOCTL_PARAMETER == 0xC03C4603);
static_assert(ORV_IOCTL_GET_MINOR == 0xC0104606);
static_assert(ORV_IOCTL_ENABLE_DEVICE == 0xC0804614);
static_assert(ORV_IOCTL_DISABLE_DEVICE == 0xC0084615);
static_assert(ORV_IOCTL_START_DEVICE == 0x40084616);
static_assert(ORV_IOCTL_STOP_DEVICE == 0x40044617);
static_assert(ORV_IOCTL_ALLOC_BLOCK == 0xC0804618);
static_assert(ORV_IOCTL_FREE_BLOCK == 0x40804619);
static_assert(ORV_IOCTL_LOCAL_MEMORY == 0xC060461A);
static_assert(ORV_IOCTL_POST_DMA == 0xC018461B);
static_assert(ORV_IOCTL_DECLARE_PRIMARY == 0x4018461C);
static_assert(ORV_IOCTL_VSYNC_STATE == 0x4010461D);
static_assert(ORV_IOCTL_CREATE_3D_CONTEXT == 0xC038461F);
static_assert(ORV_IOCTL_DESTROY_3D_CONTEXT == 0x00004620);
static_assert(ORV_IOCTL_EXECUTE_3D == 0x00004621);

// The enable request answers 1 for success; every other request answers 0.
inline constexpr int kIocEnableOk = 1;

// ---- 0x01 / 0x02: a buffer the kernel module allocates and the process maps.
enum : uint32_t {
  kOrvBufferSharedLocked = 1,  // the shared locked block, or locked pages
  kOrvBufferAgp = 2,           // AGP pages
  kOrvBufferShared = 3,        // the shared data block, or plain pages
};
enum : uint32_t {
  kOrvBufferFlagLocked = 1,  // page allocation
  kOrvBufferFlagCommon = 2,  // one of the board's common buffers
};
struct orv_ioctl_buffer {
  uint32_t kind;
  uint32_t flags;
  uint32_t reserved;
  uint32_t size;    // bytes
  uint64_t offset;  // filled by the module: the mmap offset (for locked pages also the bus address)
};
static_assert(sizeof(orv_ioctl_buffer) == 24);
static_assert(offsetof(orv_ioctl_buffer, size) == 12);
static_assert(offsetof(orv_ioctl_buffer, offset) == 16);

// ---- 0x03: read or write a named parameter.
inline constexpr uint32_t kParameterRead = 1;
inline constexpr uint32_t kParameterWrite = 0;
inline constexpr size_t kParameterNameSize = 52;
inline constexpr size_t kParameterNameMax = 49;  // characters, without the terminator
struct OrvParameterRequest {
  uint32_t operation;
  uint32_t value;
  char name[kParameterNameSize];
};
static_assert(sizeof(OrvParameterRequest) == 60);
static_assert(offsetof(OrvParameterRequest, name) == 8);

// ---- 0x06: minor number of a board by PCI location.
inline constexpr uint32_t kMinorUnknown = 0xFFFFFFFF;
struct OrvMinorRequest {
  uint32_t bus;
  uint32_t device;
  uint32_t function;
  uint32_t minor;  // sent as kMinorUnknown, filled by the module
};
static_assert(sizeof(OrvMinorRequest) == 16);

// ---- 0x18 / 0x19: aperture and surface blocks.
inline constexpr uint32_t kBlockKindSurface = 0;
inline constexpr uint32_t kBlockKindAperture = 1;
inline constexpr size_t kSurfAllocOptSize = 64;       // MmSurfAllocOpt
inline constexpr size_t kHostApertureOptSize = 36;    // MmHostApertureOpt
struct OrvBlockRequest {
  uint64_t handle;   // filled on allocation; the caller's on free
  uint32_t second;
  uint32_t third;
  uint32_t kind;
  uint32_t unused20;
  uint8_t surfaceOptions[kSurfAllocOptSize];
  uint32_t fourth;   // returned for an aperture allocation
  uint8_t apertureOptions[kHostApertureOptSize];
};
static_assert(sizeof(OrvBlockRequest) == 128);
static_assert(offsetof(OrvBlockRequest, second) == 8);
static_assert(offsetof(OrvBlockRequest, third) == 12);
static_assert(offsetof(OrvBlockRequest, kind) == 16);
static_assert(offsetof(OrvBlockRequest, surfaceOptions) == 24);
static_assert(offsetof(OrvBlockRequest, fourth) == 88);
static_assert(offsetof(OrvBlockRequest, apertureOptions) == 92);

// ---- 0x1a: local memory information.
struct OrvLocalMemoryRequest {
  uint32_t index;  // memory asked for; the memory manager asks for 0
  uint8_t unused4[68];
  uint64_t value72;
  uint32_t size;    // bytes of local memory left to the X driver
  uint32_t unused84;
  uint64_t offset;  // from the start of the frame buffer
};
static_assert(sizeof(OrvLocalMemoryRequest) == 96);
static_assert(offsetof(OrvLocalMemoryRequest, value72) == 72);
static_assert(offsetof(OrvLocalMemoryRequest, size) == 80);
static_assert(offsetof(OrvLocalMemoryRequest, offset) == 88);

// ---- 0x1b: post a DMA range.
inline constexpr uint32_t kDmaPostPrimary = 0;
inline constexpr uint32_t kDmaPostVideo = 2;
struct OrvDmaPostRequest {
  uint32_t kind;
  uint32_t start;
  uint32_t end;  // OR the caller's flags
  uint32_t video[3];  // video kind only
};
static_assert(sizeof(OrvDmaPostRequest) == 24);

// ---- 0x1d: VSync interrupt state (the caller's record).
// ---- 0x1c: the primary surface of a started head, declared to the kernel
// module: the block handles of its surface and of its host aperture, and
// the head's kernel handle.
struct OrvDeclarePrimaryRequest {
  uint64_t surfaceBlock;
  uint64_t apertureBlock;
  uint64_t pdevHandle;
};
static_assert(sizeof(OrvDeclarePrimaryRequest) == 24);

struct OrvVSyncStateRequest {
  uint32_t word[4];
};
static_assert(sizeof(OrvVSyncStateRequest) == 16);
