// The far side of a character device node in the sandbox: what a kernel
// module's character device does with open, ioctl and mmap. The kernel core
// (through its glue) and the test doubles register one under a major number.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace xstub {

class Endpoint {
 public:
  virtual ~Endpoint() = default;

  // 0, or a negative errno that the open reports.
  virtual int Open(uint32_t minor) {
    (void)minor;
    return 0;
  }
  virtual void Close(uint32_t minor) { (void)minor; }

  // The answer of the request (0 or positive), or a negative errno; the
  // caller of xf86ioctl then sees -1 and errno set, as with a real driver.
  // arg is the request's record, or a value cast to a pointer.
  virtual int Ioctl(uint32_t minor, unsigned long code, void* arg) = 0;

  // Host memory that backs [offset, offset + length) of the device, or null
  // when the range cannot be mapped. length is a whole number of pages.
  virtual void* Mmap(uint32_t minor, uint64_t offset, size_t length) {
    (void)minor;
    (void)offset;
    (void)length;
    return nullptr;
  }
  // A mapping made by Mmap was undone by munmap. Mappings cut by
  // unregistering the endpoint or left at the end of the sandbox are
  // dropped without this call.
  virtual void Unmap(uint32_t minor, void* address, size_t length) {
    (void)minor;
    (void)address;
    (void)length;
  }

  // ---- Per-open file identity ------------------------------------------------
  // Every successful open of a node gets a new file number, never reused
  // while the sandbox lives; the router calls these with it, as a character
  // device sees each open file. By default they forward to the calls above,
  // so an endpoint that does not care about files implements only those. A
  // mapping carries the number of the file it was made through.
  virtual int OpenFile(uint32_t minor, uint64_t file) {
    (void)file;
    return Open(minor);
  }
  virtual void CloseFile(uint32_t minor, uint64_t file) {
    (void)file;
    Close(minor);
  }
  virtual int FileIoctl(uint32_t minor, uint64_t file, unsigned long code, void* arg) {
    (void)file;
    return Ioctl(minor, code, arg);
  }
  virtual void* FileMmap(uint32_t minor, uint64_t file, uint64_t offset, size_t length) {
    (void)file;
    return Mmap(minor, offset, length);
  }
  virtual void FileUnmap(uint32_t minor, uint64_t file, void* address, size_t length) {
    (void)file;
    Unmap(minor, address, length);
  }
};

}  // namespace xstub
