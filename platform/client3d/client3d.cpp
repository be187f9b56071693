#include "platform/client3d/client3d.h"

#include "core/orv_ioctl.h"

namespace client3d {

Client::Client(kglue::Glue& glue, OrvDevice* device, uint32_t processId) : glue_(glue) {
  file_ = glue_.Open(device, processId);
}

Client::~Client() {
  if (file_ == nullptr) return;
  for (Buffer& buffer : buffers_) {
    if (buffer.mapped != nullptr) glue_.Munmap(file_, buffer.mapped, buffer.size);
  }
  if (block_ != nullptr) glue_.Munmap(file_, block_, kglue::kPageSize);
  glue_.Close(file_);
}

int Client::CreateContext(uint64_t deviceHandle, ContextInfo* info) {
  ContextInfo record = {};
  record.deviceHandle = deviceHandle;
  const int answer = glue_.Ioctl(file_, ORV_IOCTL_CREATE_3D_CONTEXT, reinterpret_cast<unsigned long>(&record));
  if (info != nullptr) *info = record;
  if (answer != 0) return answer;
  block_ = static_cast<uint8_t*>(glue_.Mmap(file_, record.requestBlock, kglue::kPageSize));
  return block_ != nullptr ? 0 : -1;
}

int Client::DestroyContext() {
  for (Buffer& buffer : buffers_) {
    if (buffer.mapped != nullptr) glue_.Munmap(file_, buffer.mapped, buffer.size);
    buffer.mapped = nullptr;
  }
  buffers_.clear();
  if (block_ != nullptr) glue_.Munmap(file_, block_, kglue::kPageSize);
  block_ = nullptr;
  return glue_.IoctlWithValue(file_, ORV_IOCTL_DESTROY_3D_CONTEXT, 0);
}

int Client::Execute() { return glue_.IoctlWithValue(file_, ORV_IOCTL_EXECUTE_3D, 0); }

int32_t Client::Run(uint32_t code) {
  Put32(0, code);
  Put32(kResultAt, 0x7FFFFFFF);
  Execute();
  return Result();
}

bool Client::CreateBuffer(uint32_t size, uint32_t kind, Buffer* out) {
  Put32(16, size);
  Put32(24, kind);
  if (Run(5) != 0) return false;
  Buffer buffer;
  buffer.handle = Get64(32);
  buffer.size = Get64(16);
  buffer.bus = Get64(40);
  buffer.mapped = static_cast<uint8_t*>(glue_.Mmap(file_, buffer.bus, buffer.size));
  if (buffer.mapped == nullptr) return false;
  buffers_.push_back(buffer);
  if (out != nullptr) *out = buffer;
  return true;
}

uint32_t Client::CreateContext3d(uint64_t drawableKey, const Buffer& commands, uint32_t target0,
                                 uint32_t target1) {
  Put64(16, drawableKey);
  Put64(24, commands.handle);
  Put32(32, target0);
  Put32(40, target1);
  return Run(10) == 0 ? Get32(48) : 0;
}

int32_t Client::RunTokens(uint32_t context3d, uint32_t offset, uint32_t length) {
  Put32(8, context3d);
  Put32(16, offset);
  Put32(kLengthAt, length);
  return Run(1);
}

TokenWriter& TokenWriter::Token(uint32_t opcode, uint32_t count, const void* payload, size_t bytes) {
  Word(opcode);
  Word(count);
  return Raw(payload, bytes);
}

TokenWriter& TokenWriter::Raw(const void* bytes, size_t size) {
  if (size != 0) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    bytes_.insert(bytes_.end(), b, b + size);
  }
  return *this;
}

bool TokenWriter::WriteTo(const Buffer& buffer, size_t offset) const {
  if (buffer.mapped == nullptr || offset > buffer.size || bytes_.size() > buffer.size - offset) return false;
  // An empty stream writes nothing (its storage may not exist yet).
  if (!bytes_.empty()) memcpy(buffer.mapped + offset, bytes_.data(), bytes_.size());
  return true;
}

}  // namespace client3d
