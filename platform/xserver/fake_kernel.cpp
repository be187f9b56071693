#include "platform/xserver/fake_kernel.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "platform/board/chip_dma.h"
#include "platform/xserver/sandbox.h"

namespace xstub {
namespace {

struct RequestRow {
  uint8_t nr;
  unsigned long code;
  bool by_value;  // the argument is the value itself
};

// One row per request the device node serves.
constexpr RequestRow kRequests[] = {
    {0x01, kIocAllocBuffer, false},      // allocate a mappable buffer
    {0x02, kIocFreeBuffer, false},       // free it
    {0x03, kIocParameter, false},        // named parameter
    {0x06, kIocMinorByLocation, false},  // minor by PCI location
    {0x14, kIocEnable, false},           // enable a head
    {0x15, kIocDisable, true},           // disable a head (kernel handle)
    {0x16, kIocStart, true},             // start a head (kernel handle)
    {0x17, kIocStop, true},              // stop a head (unit)
    {0x18, kIocAllocBlock, false},       // allocate an aperture or surface block
    {0x19, kIocFreeBlock, false},        // free it
    {0x1a, kIocLocalMemory, false},      // local memory information
    {0x1b, kIocPostDma, false},          // post a DMA range
    {0x1c, kIocPrimarySurface, false},   // declare the primary surface
    {0x1d, kIocVSyncState, false},       // VSync interrupt state
};

constexpr unsigned kIocType = 'F';
constexpr uint32_t kBufferKindAgp = 2;  // of request 0x01
// The shared locked block and its pending command slots (24 bytes each,
// the first word the slot's posting type, all ones when free).
constexpr uint32_t kSharedLockedBytes = 2784;
constexpr uint32_t kPendingSlotsAt = 2304;
constexpr uint32_t kPendingSlotStride = 24;
constexpr uint32_t kPendingSlots = 15;
constexpr uint32_t kPendingSlotFree = 0xFFFFFFFF;
// Further words of the shared locked block the stand-in reads and writes.
constexpr size_t kSharedCompletedTag = 16;
constexpr size_t kSharedCompletedBuffer = 32;
constexpr size_t kSharedPendingSubmissions = 120;
constexpr size_t kSharedCommandLock = 124;

const RequestRow* FindRequest(uint8_t nr) {
  for (const RequestRow& r : kRequests) {
    if (r.nr == nr) return &r;
  }
  return nullptr;
}

}  // namespace

FakeKernel::~FakeKernel() {
  for (Buffer& b : buffers_) free(b.memory);
}

int FakeKernel::Open(uint32_t minor) {
  ++opens_[minor];
  return 0;
}

void FakeKernel::Close(uint32_t minor) {
  auto it = opens_.find(minor);
  if (it != opens_.end() && --it->second == 0) opens_.erase(it);
}

unsigned FakeKernel::OpenCount(uint32_t minor) const {
  auto it = opens_.find(minor);
  return it == opens_.end() ? 0 : it->second;
}

int FakeKernel::Ioctl(uint32_t minor, unsigned long code, void* arg) {
  KernelCall call{minor, code, {}, 0, 0};
  const RequestRow* row = nullptr;
  if (((code >> 8) & 0xFF) == kIocType && (code >> 32) == 0) row = FindRequest(code & 0xFF);

  if (row == nullptr) {
    call.answer = -ENOTTY;
  } else if (code != row->code) {
    call.answer = -EINVAL;  // direction or record size does not match
  } else if (row->by_value) {
    call.value = reinterpret_cast<uintptr_t>(arg);
  } else if (arg == nullptr) {
    call.answer = -EFAULT;
  } else {
    const uint8_t* bytes = static_cast<const uint8_t*>(arg);
    call.record.assign(bytes, bytes + IocRecordSize(code));
  }

  if (call.answer == 0) {
    if (auto h = handlers_.find(row->nr); h != handlers_.end()) {
      call.answer = h->second(minor, arg);
    } else {
      switch (row->nr) {
        case 0x01: {
          BufferRecord record;
          memcpy(&record, arg, sizeof record);
          call.answer = AllocBuffer(record);
          if (call.answer == 0) memcpy(arg, &record, sizeof record);
          break;
        }
        case 0x02: {
          BufferRecord record;
          memcpy(&record, arg, sizeof record);
          call.answer = FreeBuffer(record);
          break;
        }
        case 0x03: {
          ParameterRecord record;
          memcpy(&record, arg, sizeof record);
          call.answer = NamedParameter(record);
          if (call.answer == 0) memcpy(arg, &record, sizeof record);
          break;
        }
        case 0x06: {
          LocationRecord record;
          memcpy(&record, arg, sizeof record);
          auto it = minors_.find({record.bus, record.device, record.function});
          record.minor = it == minors_.end() ? kUnknownMinor : it->second;
          memcpy(arg, &record, sizeof record);
          break;
        }
        case 0x1b:
          if (dma_ != nullptr) call.answer = RunPostedRange(arg);
          break;
        case 0x1d:
          call.answer = VSyncState(arg);
          break;
        case 0x14: {
          uint64_t handle = next_handle_++;
          memcpy(static_cast<uint8_t*>(arg) + kEnableHandleOffset, &handle, sizeof handle);
          call.answer = 1;
          break;
        }
        default:
          break;
      }
    }
  }
  calls_.push_back(call);
  return calls_.back().answer;
}

int FakeKernel::AllocBuffer(BufferRecord& record) {
  if (record.kind < 1 || record.kind > 3 || record.size == 0) return -EINVAL;
  if (record.size > kMaxBufferSize) return -ENOMEM;
  if (record.kind == kBufferKindAgp && refuse_agp_) return -ENOMEM;
  size_t length = (record.size + kPageSize - 1) / kPageSize * kPageSize;
  auto* memory = static_cast<uint8_t*>(aligned_alloc(kPageSize, length));
  if (memory == nullptr) return -ENOMEM;
  memset(memory, 0, length);
  record.offset = next_offset_;
  next_offset_ += length;
  if (record.size == kSharedLockedBytes) {
    // The module makes the shared locked block with its pending command
    // slots free.
    for (uint32_t i = 0; i < kPendingSlots; ++i)
      memset(memory + kPendingSlotsAt + kPendingSlotStride * i, 0xFF, sizeof(uint32_t));
  }
  buffers_.push_back(
      Buffer{record.kind, record.flags, record.size, record.offset, memory, length, 0});
  if (record.size == kSharedLockedBytes) PointEngineAtShared();
  return 0;
}

int FakeKernel::FreeBuffer(const BufferRecord& record) {
  for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
    if (it->offset != record.offset) continue;
    if (it->size != record.size || it->kind != record.kind) return -EINVAL;
    if (it->maps != 0) return -EBUSY;  // the caller must unmap first
    const bool shared = it->size == kSharedLockedBytes;
    free(it->memory);
    buffers_.erase(it);
    if (shared) PointEngineAtShared();
    return 0;
  }
  return -EINVAL;
}

int FakeKernel::NamedParameter(ParameterRecord& record) {
  if (memchr(record.name, '\0', sizeof record.name) == nullptr) return -EINVAL;
  auto it = parameters_.find(std::string_view(record.name));
  if (it == parameters_.end()) return -EINVAL;
  switch (record.operation) {
    case 1:
      record.value = it->second;
      return 0;
    case 0:
      it->second = record.value;
      return 0;
    default:
      return -EINVAL;
  }
}

void* FakeKernel::Mmap(uint32_t, uint64_t offset, size_t length) {
  for (Buffer& b : buffers_) {
    if (b.offset == offset && length <= b.length) {
      ++b.maps;
      return b.memory;
    }
  }
  return nullptr;
}

void FakeKernel::Unmap(uint32_t, void* address, size_t) {
  for (Buffer& b : buffers_) {
    if (b.memory == address && b.maps != 0) {
      --b.maps;
      return;
    }
  }
}

void FakeKernel::SetParameter(std::string_view name, uint32_t value) {
  parameters_[std::string(name)] = value;
}

std::optional<uint32_t> FakeKernel::Parameter(std::string_view name) const {
  auto it = parameters_.find(name);
  if (it == parameters_.end()) return std::nullopt;
  return it->second;
}

void FakeKernel::SetMinor(uint32_t bus, uint32_t device, uint32_t function, uint32_t minor) {
  minors_[{bus, device, function}] = minor;
}

void FakeKernel::SetHandler(uint8_t nr, Handler handler) {
  if (!handler) {  // back to the request's own behaviour
    handlers_.erase(nr);
    return;
  }
  handlers_[nr] = std::move(handler);
}

void FakeKernel::SetAnswer(uint8_t nr, int answer) {
  SetHandler(nr, [answer](uint32_t, void*) { return answer; });
}

void FakeKernel::AttachDmaEngine(orvsim::DmaEngine* engine, orvsim::Board* board) {
  dma_ = engine;
  board_ = engine != nullptr ? board : nullptr;
  if (engine != nullptr) {
    engine->SetSystemMemory(
        [this](uint32_t bus, uint32_t length) { return ResolveBus(bus, length); });
  }
  PointEngineAtShared();
}

void FakeKernel::PointEngineAtShared() {
  if (board_ == nullptr) return;
  const Buffer* shared = SharedLockedBuffer();
  board_->Poke(orvsim::kDmaRegSharedBase, 4, shared != nullptr ? static_cast<uint32_t>(shared->offset) : 0);
}

uint8_t* FakeKernel::ResolveBus(uint64_t bus, uint64_t length) const {
  for (const Buffer& b : buffers_) {
    if (bus >= b.offset && length <= b.length && bus - b.offset <= b.length - length)
      return b.memory + (bus - b.offset);
  }
  return nullptr;
}

namespace {

int32_t& SharedWord(uint8_t* shared, size_t offset) {
  return *reinterpret_cast<int32_t*>(shared + offset);
}

}  // namespace

const FakeKernel::Buffer* FakeKernel::SharedLockedBuffer() const {
  for (const Buffer& b : buffers_) {
    if (b.size == kSharedLockedBytes) return &b;
  }
  return nullptr;
}

uint8_t* FakeKernel::SharedLocked() const {
  const Buffer* shared = SharedLockedBuffer();
  return shared != nullptr ? shared->memory : nullptr;
}

void FakeKernel::ReportProgress(uint8_t* shared) {
  dma_->RunPending();
  if (shared == nullptr) return;
  SharedWord(shared, kSharedCompletedTag) = static_cast<int32_t>(dma_->ReachedTag());
  SharedWord(shared, kSharedCompletedBuffer) = static_cast<int32_t>(dma_->BufferCounter());
}

int FakeKernel::RunPostedRange(const void* record) {
  // Record of request 0x1b: kind, start, end OR bus type, three video words.
  uint32_t words[6];
  memcpy(words, record, sizeof words);
  uint8_t* shared = SharedLocked();
  if (shared != nullptr) ++SharedWord(shared, kSharedPendingSubmissions);
  dma_->Execute(words[1], words[2] & ~3u, words[2] & 3u);
  ReportProgress(shared);
  if (shared != nullptr) --SharedWord(shared, kSharedPendingSubmissions);
  return 0;
}

int FakeKernel::VSyncState(const void* record) {
  VSyncRequest request;
  memcpy(&request, record, sizeof request);
  vsync_requests_.push_back(request);
  auto same = [&request](const VSyncRequest& r) {
    return r.flags == request.flags && r.interrupt == request.interrupt &&
           r.identity == request.identity;
  };
  std::erase_if(vsync_active_, same);
  if (request.state != 0) vsync_active_.push_back(request);
  return 0;
}

unsigned FakeKernel::VerticalSync(uint32_t interrupt) {
  uint8_t* shared = SharedLocked();
  if (shared == nullptr || dma_ == nullptr) return 0;
  // The interrupt path tries the command lock once and leaves its work for
  // the next sync when the lock is held.
  if (SharedWord(shared, kSharedCommandLock) != 0) {
    ++skipped_syncs_;
    return 0;
  }
  unsigned run = 0;
  for (const VSyncRequest& r : vsync_active_) {
    if (r.interrupt != interrupt || r.identity >= kPendingSlots) continue;
    uint32_t slot[3];
    memcpy(slot, shared + kPendingSlotsAt + kPendingSlotStride * r.identity, sizeof slot);
    const uint32_t end = slot[2] & ~3u;
    if (slot[0] == kPendingSlotFree || slot[1] == end) continue;
    dma_->Execute(slot[1], end, slot[2] & 3u);
    ++run;
  }
  ReportProgress(shared);
  return run;
}

std::vector<KernelCall> FakeKernel::CallsTo(uint8_t nr) const {
  std::vector<KernelCall> out;
  for (const KernelCall& c : calls_) {
    if ((c.code & 0xFF) == nr) out.push_back(c);
  }
  return out;
}

const FakeKernel::Buffer* FakeKernel::FindBuffer(uint64_t offset) const {
  for (const Buffer& b : buffers_) {
    if (b.offset == offset) return &b;
  }
  return nullptr;
}

}  // namespace xstub
