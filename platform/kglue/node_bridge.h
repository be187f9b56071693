// The device node /dev/orvane/orv<minor> of the X server stand-in, served
// by the kernel glue: give a NodeBridge to
// xstub::Sandbox::ProvideKernelModule("orv", major, &bridge), and the X
// driver's own device-node code (open, ioctl, mmap, close) reaches the
// kernel core in-process, each open being one file of the glue.
#pragma once

#include <stdint.h>

#include <map>

#include "platform/kglue/glue.h"
#include "platform/xserver/endpoint.h"

namespace kglue {

class NodeBridge : public xstub::Endpoint {
 public:
  // Every open is a file of this process (the X server's, by default).
  explicit NodeBridge(Glue& glue, uint32_t processId = kDefaultProcessId);

  void SetProcessId(uint32_t processId) { process_id_ = processId; }
  // The glue's file behind an open of the router, or null.
  File* FileOf(uint64_t file) const;

  // Only the per-file calls reach the glue.
  int Ioctl(uint32_t minor, unsigned long code, void* arg) override;

  int OpenFile(uint32_t minor, uint64_t file) override;
  void CloseFile(uint32_t minor, uint64_t file) override;
  int FileIoctl(uint32_t minor, uint64_t file, unsigned long code, void* arg) override;
  void* FileMmap(uint32_t minor, uint64_t file, uint64_t offset, size_t length) override;
  void FileUnmap(uint32_t minor, uint64_t file, void* address, size_t length) override;

 private:
  Glue& glue_;
  uint32_t process_id_;
  std::map<uint64_t, File*> files_;
};

}  // namespace kglue
