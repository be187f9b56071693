// Operating-system services of the driver core: the one seam between the
// X-driver build (core/os_xdriver.cpp, over the X server and the device node)
// and the kernel build, which supplies its own definitions of the same
// functions. Everything environment-specific in the core goes through here.
//
// Os services that need the kernel module take the board's device and turn
// each operation into one request of the device node. bool results are true
// for success; a refused or failed request leaves out values untouched.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The handle every Os service takes: the board's device node in the X
// driver; in the kernel module's build (ORV_KERNEL_BUILD) the kernel glue's
// context of the file that made the device object.
#if defined(ORV_KERNEL_BUILD)
struct OrvContext;
using OsDevice = OrvContext;
#else
class LnxDevice;
using OsDevice = LnxDevice;
#endif
class IocRequestMgr;
struct MmSurfAllocOpt;     // 64 bytes
struct MmHostApertureOpt;  // 36 bytes

// Seven procamp values of a head.
struct SProcampValues {
  int32_t value[7];
};
static_assert(sizeof(SProcampValues) == 28);

// Answer of the local memory request.
struct OsLocalMemoryInfo {
  uint64_t value72;  // handed on to the memory manager
  uint32_t size;     // bytes of local memory left to the X driver
  uint64_t offset;   // from the start of the frame buffer
};

// Width codes of the registry services: 1 byte, 2 word, anything else dword.
inline constexpr uint32_t kRegistryWidthByte = 1;
inline constexpr uint32_t kRegistryWidthWord = 2;
inline constexpr uint32_t kRegistryWidthDword = 4;

// ---- Interlocked operations --------------------------------------------------
// Atomic; implements the command lock and the engine ownership words shared
// with the kernel module. The kernel glue supplies it to the kernel build;
// the X driver's is the processor's locked exchange, inline, as the drawing
// code takes the command lock around every run of commands.
#if defined(ORV_KERNEL_BUILD)
int32_t OsInterlockedExchange(volatile int32_t* word, int32_t value);
#else
inline int32_t OsInterlockedExchange(volatile int32_t* word, int32_t value) {
  return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}
#endif
// Plain operations (the X driver has one thread); return the new value.
int32_t OsInterlockedIncrement(volatile int32_t* word);
int32_t OsInterlockedDecrement(volatile int32_t* word);

// ---- DMA -----------------------------------------------------------------
bool OsPostBusmasteringBuffer(OsDevice* device, uint32_t start, uint32_t end, uint32_t flags);
bool OsPostBusmasteringBufferVideo(OsDevice* device, uint32_t start, uint32_t end,
                                   uint32_t flags, uint32_t video0, uint32_t video1,
                                   uint32_t video2);

// ---- Pages and mappings ------------------------------------------------------
// Returns the pages' offset (their bus address) and stores the mapped address;
// 0 on failure.
uint64_t OsAllocLockedPages(OsDevice* device, uint32_t pageCount, bool agp, bool locked,
                            void** address);
bool OsFreeLockedPages(OsDevice* device, uint64_t offset, void* address, uint32_t pageCount,
                       bool agp, bool locked);
// For the emulated device the offset is a physical address (/dev/mem).
void* OsMapPhysicalMemory(OsDevice* device, uint64_t offset, uint32_t size);
bool OsUnmapMemory(OsDevice* device, void* address, uint32_t size);

// ---- Named parameters --------------------------------------------------------
bool OsReadRegistryValue(OsDevice* device, const char* section, const char* key, void* out,
                         uint32_t width);
bool OsWriteRegistryValue(OsDevice* device, const char* section, const char* key,
                          const void* in, uint32_t width);
// Section "Driver": the name gets the prefix "sw".
bool OsReadDrvSwitchValue(OsDevice* device, const char* key, void* out, uint32_t width);

// ---- Memory blocks of the kernel module ----------------------------------------
// handle receives the low 32 bits of the block handle.
bool OsAllocApertureBlockMemory(OsDevice* device, const MmHostApertureOpt* options,
                                uint32_t* handle, uint32_t* second, uint32_t* third,
                                uint32_t* fourth);
bool OsFreeApertureBlockMemory(OsDevice* device, uint32_t handle, uint32_t second,
                               uint32_t third);
bool OsAllocSurfaceBlockMemory(OsDevice* device, const MmSurfAllocOpt* options,
                               uint32_t* handle, uint32_t* second, uint32_t* third);
bool OsFreeSurfaceBlockMemory(OsDevice* device, uint32_t handle, uint32_t second,
                              uint32_t third);
bool OsGetLocalMemoryInfo(OsDevice* device, uint32_t index, OsLocalMemoryInfo* out);

// ---- Interrupts and display ----------------------------------------------------
struct OrvVSyncStateRequest;
bool OsSetVSyncInterruptState(OsDevice* device, const OrvVSyncStateRequest* record);
bool OsGetProcampValues(IocRequestMgr* manager, uint32_t unit, SProcampValues* out);
bool OsSetProcampValues(IocRequestMgr* manager, uint32_t unit, const SProcampValues* values);

// ---- Time and floating point -----------------------------------------------------
void OsSleepMicroSeconds(uint32_t microseconds);
void OsEnterFPUMode();
void OsExitFPUMode();
uint32_t OsGetPageSize();

// ---- mem services ------------------------------------------------------------
// Zeroed allocation; null on failure.
void* memAlloc(size_t size);
void* memFileAlloc(size_t size, const char* file, int line);
bool memFree(void* address);

// One access of the stated width at base + offset, never split or merged.
void memReadDword(const volatile void* base, uint32_t offset, uint32_t* out);
void memReadWord(const volatile void* base, uint32_t offset, uint16_t* out);
void memReadByte(const volatile void* base, uint32_t offset, uint8_t* out);
void memWriteDword(volatile void* base, uint32_t offset, uint32_t value);
void memWriteWord(volatile void* base, uint32_t offset, uint16_t value);
void memWriteByte(volatile void* base, uint32_t offset, uint8_t value);

// Copies in the widest unit that the device-side address (base + offset)
// allows; the other side may be unaligned. Always true.
bool memRead(const volatile void* base, uint32_t offset, void* destination, uint32_t count);
bool memWrite(volatile void* base, uint32_t offset, const void* source, uint32_t count);
