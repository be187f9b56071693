// A 3D client as the kernel module meets it, for tests: it opens the
// device node through the kernel glue stand-in, creates its client context
// (request 31), maps the request block at its bus address, makes command
// buffers with request code 5 and maps them, writes token streams into them
// (a writer for every opcode, and raw bytes) and sends requests (33).
// Nothing here calls driver code: it sees the module only through the
// glue's node, as a client process would.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "platform/kglue/glue.h"

namespace client3d {

inline constexpr size_t kRequestBlockSize = 568;
inline constexpr size_t kResultAt = 564;
inline constexpr size_t kLengthAt = 560;

// The answer of request 31.
struct ContextInfo {
  uint64_t deviceHandle;
  uint64_t requestBlock;
  uint8_t values[4];
  float guardBand[4];
  uint32_t eight;
  uint32_t maxIndex;
  uint8_t zero[2];
  uint8_t reserved[10];
};
static_assert(sizeof(ContextInfo) == 56);

// A buffer of request code 5 as the client maps it.
struct Buffer {
  uint64_t handle = 0;
  uint64_t size = 0;
  uint64_t bus = 0;
  uint8_t* mapped = nullptr;
};

class Client {
 public:
  Client(kglue::Glue& glue, OrvDevice* device, uint32_t processId = kglue::kDefaultProcessId);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  kglue::File* File() const { return file_; }
  // Request 31 for the device object: its answer, or the negative errno.
  int CreateContext(uint64_t deviceHandle, ContextInfo* info = nullptr);
  int DestroyContext();
  // The mapped request block (null before CreateContext).
  uint8_t* Block() const { return block_; }
  void Put32(size_t offset, uint32_t value) { memcpy(block_ + offset, &value, 4); }
  void Put64(size_t offset, uint64_t value) { memcpy(block_ + offset, &value, 8); }
  uint32_t Get32(size_t offset) const {
    uint32_t v;
    memcpy(&v, block_ + offset, 4);
    return v;
  }
  uint64_t Get64(size_t offset) const {
    uint64_t v;
    memcpy(&v, block_ + offset, 8);
    return v;
  }
  int32_t Result() const { return static_cast<int32_t>(Get32(kResultAt)); }
  // Request 33 with the block as it is: the ioctl's answer.
  int Execute();
  // Writes the code (and clears the result to 0x7FFFFFFF), then Execute:
  // the block's result word.
  int32_t Run(uint32_t code);

  // Code 5 and a mapping of the buffer: false when either is refused.
  bool CreateBuffer(uint32_t size, uint32_t kind, Buffer* out);
  // Code 10: the 3D context handle, or 0.
  uint32_t CreateContext3d(uint64_t drawableKey, const Buffer& commands, uint32_t target0 = 0,
                           uint32_t target1 = 0);
  // Code 1: runs the stream at [offset, offset + length) of the buffer.
  int32_t RunTokens(uint32_t context3d, uint32_t offset, uint32_t length);

 private:
  kglue::Glue& glue_;
  kglue::File* file_ = nullptr;
  uint8_t* block_ = nullptr;
  std::vector<Buffer> buffers_;
};

// Writes a token stream: opcode, count, then the payload.
class TokenWriter {
 public:
  // A token with count entries whose bytes (entries and trailing bytes)
  // follow.
  TokenWriter& Token(uint32_t opcode, uint32_t count, const void* payload = nullptr, size_t bytes = 0);
  TokenWriter& Token(uint32_t opcode, uint32_t count, const std::vector<uint32_t>& words) {
    return Token(opcode, count, words.data(), words.size() * 4);
  }
  TokenWriter& Raw(const void* bytes, size_t size);
  TokenWriter& Word(uint32_t value) { return Raw(&value, 4); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t Size() const { return bytes_.size(); }
  // Copies the stream into the buffer at the offset: false when it does not
  // fit.
  bool WriteTo(const Buffer& buffer, size_t offset) const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace client3d
