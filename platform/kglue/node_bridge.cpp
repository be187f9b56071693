#include "platform/kglue/node_bridge.h"

#include <errno.h>

namespace kglue {

NodeBridge::NodeBridge(Glue& glue, uint32_t processId) : glue_(glue), process_id_(processId) {}

File* NodeBridge::FileOf(uint64_t file) const {
  auto it = files_.find(file);
  return it == files_.end() ? nullptr : it->second;
}

int NodeBridge::Ioctl(uint32_t, unsigned long, void*) { return -EBADF; }

int NodeBridge::OpenFile(uint32_t minor, uint64_t file) {
  OrvDevice* device = glue_.DeviceByMinor(minor);
  if (device == nullptr || glue_.KernelDeviceOf(device) == nullptr) return -ENXIO;
  File* opened = glue_.Open(device, process_id_);
  if (opened == nullptr) return -ENOMEM;
  files_[file] = opened;
  return 0;
}

void NodeBridge::CloseFile(uint32_t, uint64_t file) { glue_.Close(FileOf(file)); }

int NodeBridge::FileIoctl(uint32_t, uint64_t file, unsigned long code, void* arg) {
  File* opened = FileOf(file);
  if (opened == nullptr) return -EBADF;
  // Request codes are 32-bit; a wider value names no request.
  if (code > UINT32_MAX) return -ENOTTY;
  return glue_.Ioctl(opened, static_cast<uint32_t>(code), reinterpret_cast<unsigned long>(arg));
}

void* NodeBridge::FileMmap(uint32_t, uint64_t file, uint64_t offset, size_t length) {
  return glue_.Mmap(FileOf(file), offset, length);
}

void NodeBridge::FileUnmap(uint32_t, uint64_t file, void* address, size_t length) {
  glue_.Munmap(FileOf(file), address, length);
}

}  // namespace kglue
