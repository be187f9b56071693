// Services that the X server offers to a loaded video driver module: the
// libc wrappers for files, device nodes, ioctl and mmap, the kernel-module
// loader, PCI configuration access, memory-mapped register access, memory
// allocation and the server's message log.
//
// This tree has no X server; platform/xserver implements these calls over a
// sandbox (a directory that stands for "/") and the simulated boards, so the
// driver runs unchanged in tests. The calls keep C linkage, as a loadable
// module sees them.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t CARD8;
typedef uint16_t CARD16;
typedef uint32_t CARD32;

// A PCI function's tag: function in bits 0-2, device in bits 3-7, bus in
// bits 8-15.
typedef uint32_t PCITAG;

// ---- Files, directories and device nodes --------------------------------
// Paths are absolute system paths ("/dev/orvane/orv0"); the server resolves
// them. Flags, modes and errno values are the usual POSIX ones. Failures
// return -1 (or null) and set errno.
int xf86open(const char* path, int flags, ...);
int xf86close(int fd);
// The argument is the request's record, or a plain value cast to a pointer
// for requests that carry their argument by value.
int xf86ioctl(int fd, unsigned long request, void* argument);
// Returns MAP_FAILED on failure.
void* xf86mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset);
int xf86munmap(void* address, size_t length);
int xf86stat(const char* path, struct stat* out);
int xf86mknod(const char* path, mode_t mode, dev_t device);
int xf86mkdir(const char* path, mode_t mode);
int xf86chmod(const char* path, mode_t mode);
int xf86remove(const char* path);
FILE* xf86fopen(const char* path, const char* mode);
char* xf86fgets(char* buffer, int size, FILE* file);
int xf86fclose(FILE* file);
int xf86sscanf(const char* text, const char* format, ...);
int xf86getpagesize(void);
void xf86usleep(unsigned long microseconds);
// Whole seconds on the simulated clock; answers 0 (no signal cut it short).
unsigned int xf86sleep(unsigned int seconds);

// Loads a kernel module by name; non-zero on success.
int xf86LoadKernelModule(const char* name);

// ---- PCI configuration space ---------------------------------------------
PCITAG pciTag(int bus, int device, int function);
CARD8 pciReadByte(PCITAG tag, int offset);
CARD16 pciReadWord(PCITAG tag, int offset);
CARD32 pciReadLong(PCITAG tag, int offset);
void pciWriteByte(PCITAG tag, int offset, CARD8 value);
void pciWriteWord(PCITAG tag, int offset, CARD16 value);
void pciWriteLong(PCITAG tag, int offset, CARD32 value);

// ---- Memory-mapped device access ------------------------------------------
// Single accesses of the stated width at base + offset, never split or
// merged. base is an address returned by xf86mmap (or any process memory).
CARD8 xf86ReadMmio8(volatile void* base, uint32_t offset);
CARD16 xf86ReadMmio16(volatile void* base, uint32_t offset);
CARD32 xf86ReadMmio32(volatile void* base, uint32_t offset);
void xf86WriteMmio8(volatile void* base, uint32_t offset, CARD8 value);
void xf86WriteMmio16(volatile void* base, uint32_t offset, CARD16 value);
void xf86WriteMmio32(volatile void* base, uint32_t offset, CARD32 value);

// ---- Memory ---------------------------------------------------------------
void* xalloc(size_t size);
void* xcalloc(size_t count, size_t size);  // zeroed
void* xrealloc(void* address, size_t size);
void xfree(void* address);

// ---- Messages ---------------------------------------------------------------
typedef enum {
  X_PROBED,   // value found by probing
  X_CONFIG,   // value from the configuration file
  X_DEFAULT,  // default value
  X_CMDLINE,  // value from the command line
  X_NOTICE,
  X_ERROR,
  X_WARNING,
  X_INFO,
  X_NONE,
  X_NOT_IMPLEMENTED,
} MessageType;

void ErrorF(const char* format, ...) __attribute__((format(printf, 1, 2)));
void VErrorF(const char* format, va_list arguments);
void xf86DrvMsg(int screen, MessageType type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void xf86DrvMsgVerb(int screen, MessageType type, int verbosity,
                    const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void xf86Msg(MessageType type, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif
