// The kernel glue as the kernel core sees it: the operations the core calls
// and the entry table through which the glue calls the core.
//
// In a real system the glue is the small, source-shipped part of the kernel
// module that owns module loading, the character device, mmap, interrupts
// and PCI access. Here it is a user-space stand-in (platform/kglue/, see its
// README) that drives the simulated boards; the core cannot tell the
// difference. Handles are opaque: the core only passes them back.
//
// The services the core also knows from core/os.h (memory, register access,
// the interlocked operations, the floating-point bracket, the page size)
// carry the same declarations there; the page and mapping services take
// the glue's device handle.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

struct OrvDevice;     // a board the glue drives
struct OrvContext;    // an open file of the device node, or a device's own
struct OrvRegion;     // memory the kernel allocates and user space may map
struct OrvPciDevice;  // a PCI function

// The core's records behind the glue's handles; the glue never looks inside.
struct KernelDevice;
struct KernelClient;

// ---- Entry table of the core ---------------------------------------------------
struct OrvKstrnDriver {
  int (*KernelCoreInit)();
  int (*KernelCoreExit)();
  KernelDevice* (*CreateDevice)(OrvDevice* device, OrvContext* ownContext);
  void (*DestroyDevice)(KernelDevice* device);
  KernelClient* (*OpenClient)(KernelDevice* device, OrvContext* context);
  void (*ReleaseClient)(KernelDevice* device, KernelClient* client);
  // 1 when deferred work is wanted, 0 when not, -1 without a device.
  int (*CollectInterrupts)(KernelDevice* device);
  void (*RunDeferredInterruptWork)(KernelDevice* device);
};

// ---- Device, context and PCI ---------------------------------------------------
// The KernelClient the core returned for an open file.
KernelClient* OrvContext_GetPrivate(OrvContext* context);
OrvPciDevice* OrvDevice_GetPciHandle(OrvDevice* device);
// Regions describing the board's register window and frame buffer: their
// physical address and size (never mapped through these handles).
OrvRegion* OrvDevice_GetRegisters(OrvDevice* device);
OrvRegion* OrvDevice_GetFrameBuffer(OrvDevice* device);
uint32_t OrvDevice_GetBmFlags(OrvDevice* device);
// The sizes of the board's two local-memory partitions (partition 1 from
// local address 0x8000000; 0 when the board has one partition). The host
// aperture is the frame-buffer range (OrvDevice_GetFrameBuffer), which may be
// smaller than local memory.
void OrvDevice_GetLocalMemory(OrvDevice* device, uint32_t* partition0, uint32_t* partition1);
// The register handle that memReadDword and memWriteDword take.
void* OrvDevice_GetRegisterHandle(OrvDevice* device);
// The machine's host bridge (PCI 00:00.0), or null.
OrvPciDevice* OrvPciDevice_GetHostHandle();
// 0 on success.
int ClientPciConfigReadDword(OrvPciDevice* pci, uint32_t offset, uint32_t* out);

// ---- Regions ----------------------------------------------------------------------
enum : uint32_t {
  kOrvRegionLocked = 1,  // locked pages, with a bus address
  kOrvRegionPlain = 3,
};
// Flag 2: user space may map the region (the blocks shared with the X
// driver). Regions without it stay private to the kernel.
inline constexpr uint32_t kOrvRegionShared = 2;

// The pool is the context whose device owns the region. Zeroed; null on
// failure. The reference count starts at 0.
OrvRegion* OrvRegion_Alloc(OrvContext* pool, uint32_t size, uint32_t type, uint32_t flags,
                           uint32_t reserved);
void* OrvRegion_GetLinear(OrvRegion* region);
uint64_t OrvRegion_GetPhys(OrvRegion* region);
uint32_t OrvRegion_GetSize(OrvRegion* region);
// The region of the device whose linear address is exactly `linear`.
OrvRegion* OrvRegion_FindFromVirtual(OrvDevice* device, const void* linear);
void OrvRegion_IncrementRefCount(OrvRegion* region);
void OrvRegion_DecrementRefCount(OrvRegion* region);
// Non-zero when the count reached 0.
int OrvRegion_DecrementRefCountAndTest(OrvRegion* region);
void OrvRegion_Free(OrvContext* pool, OrvRegion* region);

// Non-zero when [bus, bus + size) lies inside one buffer of locked pages that
// the open file `context` asked the glue for (its request 0x01) and still
// holds; a size of 0 asks whether bus lies in such a buffer or at its end.
int OrvContext_OwnsLockedPages(OrvContext* context, uint64_t bus, uint64_t size);

// ---- Ioctls -----------------------------------------------------------------------
// The glue calls handler(client of the file, code, argument) and returns its
// result to the caller. The argument is the caller's record address, or the
// value itself for requests that carry one.
using OrvIoctlHandler = int (*)(KernelClient* client, uint32_t code, unsigned long argument);
// 0 on success; a code registered twice is refused.
int OrvIoctl_Register(uint32_t code, OrvIoctlHandler handler, int kind, int a, int b);
void OrvIoctl_UnRegister(uint32_t code);

// ---- Module parameters ------------------------------------------------------------
// The glue's table of the module's parameters, ended by a null name: one per
// named parameter of the driver, each a 32-bit value that is read or written
// as 1, 2 or 4 bytes from its address. Only a parameter that was given
// (at load, or written by request 0x03) can be looked up.
struct OrvModuleParameter {
  const char* name;  // full name: prefix and key ("regSysBmDebugFlags")
  uint32_t value;
  uint8_t given;
};
extern OrvModuleParameter g_aoOrvModKstrnParms[];
// Hands the table to the glue's look-up; once at init.
void OrvParm_InitLut(int version, OrvModuleParameter* table);
// The address of the parameter's value, or null. The name is built as the
// X driver builds it: prefix "reg3D" for a section beginning with '3' or
// 'O', "sw" for 'D' and for a null section (driver switches), "regSys" for
// 'S', none otherwise; then the key, the whole cut to 49 characters.
void* OrvKstrnParameterLookup(const char* section, const char* key);

// ---- User memory ------------------------------------------------------------------
// 0 on success, non-zero when any byte of the user range is not user memory
// of the calling process (nothing is copied then).
int ClientCopyFromUserSpace(void* kernel, const void* user, size_t size);
int ClientCopyToUserSpace(void* user, const void* kernel, size_t size);

// ---- Memory -----------------------------------------------------------------------
// Zeroed; null on failure. The same declarations as core/os.h's.
void* memAlloc(size_t size);
void* memFileAlloc(size_t size, const char* file, int line);
// Null is ignored; anything not live from memAlloc ends the test.
bool memFree(void* address);
// Fills size bytes at destination with the low byte of value; destination.
void* LocMemSet(void* destination, int value, size_t size);
// Copies size bytes from source to destination (the two ranges may
// overlap); destination.
void* LocMemCpy(void* destination, const void* source, size_t size);

// ---- Registers ----------------------------------------------------------------------
// One access of the board's register window through a register handle
// (OrvDevice_GetRegisterHandle); the same declarations as core/os.h's.
void memReadDword(const volatile void* handle, uint32_t offset, uint32_t* out);
void memReadWord(const volatile void* handle, uint32_t offset, uint16_t* out);
void memReadByte(const volatile void* handle, uint32_t offset, uint8_t* out);
void memWriteDword(volatile void* handle, uint32_t offset, uint32_t value);
void memWriteWord(volatile void* handle, uint32_t offset, uint16_t value);
void memWriteByte(volatile void* handle, uint32_t offset, uint8_t value);

// ---- Locked pages and mappings --------------------------------------------------------
// Zeroed pages the chip can reach: their bus address (the CPU address in
// *cpu), 0 on failure. The two flags say AGP and locked; both are recorded.
uint64_t OsAllocLockedPages(OrvDevice* device, uint32_t pageCount, uint32_t agp,
                            uint32_t locked, void** cpu);
// Non-zero on success: the three values must name pages of the device.
int OsFreeLockedPages(OrvDevice* device, uint64_t bus, void* cpu, uint32_t pageCount);
// A CPU mapping of a bus range: arena memory, or a board's physical range
// (its frame buffer shows local memory through the board's windows).
void* OsMapPhysicalMemory(OrvDevice* device, uint64_t bus, uint32_t size);
void OsUnmapMemory(OrvDevice* device, void* cpu, uint32_t size);
uint32_t OsGetPageSize();

// ---- Processor services -----------------------------------------------------------
// Atomic on 32-bit words shared with user space; the new value for the
// increment and decrement, the old one for the exchange.
int32_t OsInterlockedExchange(volatile int32_t* word, int32_t value);
int32_t OsInterlockedIncrement(volatile int32_t* word);
int32_t OsInterlockedDecrement(volatile int32_t* word);
// The floating-point bracket: its depth must be 0 whenever an entry point
// of the core returns.
void OsEnterFPUMode();
void OsExitFPUMode();
// Yields: virtual time moves on, and pending interrupts may be delivered.
void OsSchedule();
uint32_t OsGetCurrentProcessId();
uint32_t ClientGetNbCPUs();

// ---- Log ------------------------------------------------------------------------------
void ClientPrintLevel(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void dbgOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats into buffer (size bytes, always terminated); the length written.
int dbgOutputToStringVA(char* buffer, size_t size, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
