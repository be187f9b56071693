// A stand-in for the kernel module's character device, for tests that run
// the X driver before (or without) the kernel core: it answers the device
// node's requests from tables the test fills and logs every call.
//
//   0x01  allocates a zeroed buffer and answers its mmap offset, which is
//         also its bus address for the DMA engine (AGP pages can be refused)
//   0x02  frees it (refused while it is mapped)
//   0x03  reads or writes a named parameter of the table
//   0x06  answers the minor of a PCI location (0xFFFFFFFF when unknown)
//   0x14  answers 1 and fills a kernel handle
//   0x15..0x1c answer 0
//   0x1d  records the VSync request, keeps it while it is switched on and
//         answers 0; a vertical sync the test signals then runs the
//         transform sequences the requests name (see VerticalSync)
// A code whose direction or size field does not match its request's record
// is refused with EINVAL; other codes with ENOTTY.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/xserver/endpoint.h"

namespace orvsim {
class Board;
class DmaEngine;
}

namespace xstub {

// Request codes: direction in bits 30-31, record size in bits 16-29, type
// 'F' in bits 8-15, number in bits 0-7.
inline constexpr unsigned long kIocAllocBuffer = 0xC0184601;
inline constexpr unsigned long kIocFreeBuffer = 0x40184602;
inline constexpr unsigned long kIocParameter = 0xC03C4603;
inline constexpr unsigned long kIocMinorByLocation = 0xC0104606;
inline constexpr unsigned long kIocEnable = 0xC0804614;
inline constexpr unsigned long kIocDisable = 0xC0084615;
inline constexpr unsigned long kIocStart = 0x40084616;
inline constexpr unsigned long kIocStop = 0x40044617;
inline constexpr unsigned long kIocAllocBlock = 0xC0804618;
inline constexpr unsigned long kIocFreeBlock = 0x40804619;
inline constexpr unsigned long kIocLocalMemory = 0xC060461A;
inline constexpr unsigned long kIocPostDma = 0xC018461B;
inline constexpr unsigned long kIocPrimarySurface = 0x4018461C;
inline constexpr unsigned long kIocVSyncState = 0x4010461D;

inline constexpr uint32_t kUnknownMinor = 0xFFFFFFFF;

// Record of requests 0x01 and 0x02.
struct BufferRecord {
  uint32_t kind;
  uint32_t flags;
  uint32_t reserved;
  uint32_t size;
  uint64_t offset;
};
static_assert(sizeof(BufferRecord) == 24);

// Record of request 0x03.
struct ParameterRecord {
  uint32_t operation;  // 1 read, 0 write
  uint32_t value;
  char name[52];
};
static_assert(sizeof(ParameterRecord) == 60);

// Record of request 0x06.
struct LocationRecord {
  uint32_t bus;
  uint32_t device;
  uint32_t function;
  uint32_t minor;
};
static_assert(sizeof(LocationRecord) == 16);

inline constexpr size_t kEnableHandleOffset = 120;  // u64 after the mode

// The record size a request code carries in bits 16-29.
constexpr size_t IocRecordSize(unsigned long code) { return (code >> 16) & 0x3FFF; }

// Each code's size field is the size of the record it carries.
static_assert(IocRecordSize(kIocAllocBuffer) == sizeof(BufferRecord));
static_assert(IocRecordSize(kIocFreeBuffer) == sizeof(BufferRecord));
static_assert(IocRecordSize(kIocParameter) == sizeof(ParameterRecord));
static_assert(IocRecordSize(kIocMinorByLocation) == sizeof(LocationRecord));
static_assert(IocRecordSize(kIocEnable) == kEnableHandleOffset + sizeof(uint64_t));
static_assert(IocRecordSize(kIocDisable) == sizeof(uint64_t));  // the kernel handle
static_assert(IocRecordSize(kIocStart) == sizeof(uint64_t));    // the kernel handle
static_assert(IocRecordSize(kIocStop) == sizeof(uint32_t));     // the unit

// Record of request 0x1d: what a VSync interrupt is wanted for (0x10000000
// a feature transform, 0x20000000 the video overlay, 2 display
// processing), the interrupt (or controller) number, on (1) or off (0),
// and the identity of the transform interface: its pending slot in the
// shared locked block.
struct VSyncRequest {
  uint32_t flags;
  uint32_t interrupt;
  uint32_t state;
  uint32_t identity;
  bool operator==(const VSyncRequest&) const = default;
};
static_assert(IocRecordSize(kIocVSyncState) == sizeof(VSyncRequest));

struct KernelCall {
  uint32_t minor;
  unsigned long code;
  std::vector<uint8_t> record;  // as the caller sent it; empty for by-value
  uint64_t value;               // the argument of by-value requests
  int answer;                   // as the endpoint answered (negative errno)
};

class FakeKernel : public Endpoint {
 public:
  struct Buffer {
    uint32_t kind;
    uint32_t flags;
    uint32_t size;    // as asked
    uint64_t offset;  // the mmap offset answered
    uint8_t* memory;
    size_t length;  // size rounded up to pages
    unsigned maps;
  };

  // Largest buffer request 0x01 grants.
  static constexpr uint32_t kMaxBufferSize = 64u << 20;

  FakeKernel() = default;
  ~FakeKernel() override;
  FakeKernel(const FakeKernel&) = delete;
  FakeKernel& operator=(const FakeKernel&) = delete;

  int Open(uint32_t minor) override;
  void Close(uint32_t minor) override;
  int Ioctl(uint32_t minor, unsigned long code, void* arg) override;
  void* Mmap(uint32_t minor, uint64_t offset, size_t length) override;
  void Unmap(uint32_t minor, void* address, size_t length) override;

  // Named parameters of request 0x03; only names in the table are known.
  void SetParameter(std::string_view name, uint32_t value);
  std::optional<uint32_t> Parameter(std::string_view name) const;

  // Buffer kind 2 of request 0x01 (AGP pages) is refused with ENOMEM while
  // this is set, as on a machine without AGP memory: the driver then has to
  // take page-locked PCI memory (kind 1).
  void RefuseAgpBuffers(bool refuse) { refuse_agp_ = refuse; }

  // Minors answered by request 0x06.
  void SetMinor(uint32_t bus, uint32_t device, uint32_t function, uint32_t minor);

  // The handle that the next enable (0x14) fills in; later ones count up.
  void SetNextHandle(uint64_t handle) { next_handle_ = handle; }

  // Replaces the behaviour of a request number: the handler's answer is the
  // request's answer (a negative errno fails it) and it may fill the record.
  // The call is still checked and logged. An empty handler restores the
  // request's own behaviour.
  using Handler = std::function<int(uint32_t minor, void* arg)>;
  void SetHandler(uint8_t nr, Handler handler);
  void SetAnswer(uint8_t nr, int answer);

  const std::vector<KernelCall>& Calls() const { return calls_; }
  std::vector<KernelCall> CallsTo(uint8_t nr) const;
  void ClearCalls() { calls_.clear(); }

  // Posted ranges (0x1b) run on the board's DMA engine instead of only
  // being logged: while a range runs, the pending-submission count (byte 120
  // of the shared locked block) is raised; afterwards the completed tag
  // (byte 16) and completed buffer counter (byte 32) show what the engine
  // reached. The shared locked block is the first 2,784-byte buffer of
  // request 0x01. Buffers of request 0x01 are system memory for the engine,
  // their mmap offset being their bus address (see ResolveBus).
  // With the engine's board given, the endpoint also points the engine at
  // the shared locked block (register 0x400, its bus address) while the
  // block exists, as the module does when it opens its stream: every tag
  // the engine reaches, a tag the processor writes to 0x12BC included,
  // then shows in byte 16 at once.
  void AttachDmaEngine(orvsim::DmaEngine* engine, orvsim::Board* board = nullptr);
  // Host bytes of [bus, bus + length) inside one buffer of request 0x01.
  uint8_t* ResolveBus(uint64_t bus, uint64_t length) const;

  // Every VSync request in order, and those switched on now (one per flag
  // word, interrupt and identity).
  const std::vector<VSyncRequest>& VSyncRequests() const { return vsync_requests_; }
  const std::vector<VSyncRequest>& ActiveVSyncRequests() const { return vsync_active_; }
  // A vertical sync of `interrupt`, as the kernel module serves it: unless
  // the command lock (byte 124 of the shared locked block) is held, the
  // range in the pending slot named by each request switched on for that
  // interrupt runs on the DMA engine (slot s: 24 bytes at 2304 + 24 s, its
  // posting type, bus start and bus end with the bus type in bits 0-1; a
  // free or empty slot runs nothing); afterwards bytes 16 and 32 show what
  // the engine reached, as after a post. Answers the sequences run.
  unsigned VerticalSync(uint32_t interrupt);
  // Vertical syncs that found the command lock held and ran nothing.
  unsigned SkippedVerticalSyncs() const { return skipped_syncs_; }

  const Buffer* FindBuffer(uint64_t offset) const;
  size_t BufferCount() const { return buffers_.size(); }
  unsigned OpenCount(uint32_t minor) const;

 private:
  int AllocBuffer(BufferRecord& record);
  int FreeBuffer(const BufferRecord& record);
  int NamedParameter(ParameterRecord& record);
  int RunPostedRange(const void* record);
  int VSyncState(const void* record);
  // The shared locked block (the first buffer of its size), or null; and
  // its memory.
  const Buffer* SharedLockedBuffer() const;
  uint8_t* SharedLocked() const;
  // Register 0x400 of the attached board := the shared locked block's bus
  // address, 0 without a block.
  void PointEngineAtShared();
  // Bytes 16 and 32 after the engine ran.
  void ReportProgress(uint8_t* shared);

  std::map<std::string, uint32_t, std::less<>> parameters_;
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, uint32_t> minors_;
  std::map<uint8_t, Handler> handlers_;
  std::map<uint32_t, unsigned> opens_;
  std::vector<Buffer> buffers_;
  std::vector<KernelCall> calls_;
  uint64_t next_offset_ = 0x100000;
  uint64_t next_handle_ = 0x1000;
  orvsim::DmaEngine* dma_ = nullptr;
  orvsim::Board* board_ = nullptr;
  bool refuse_agp_ = false;
  std::vector<VSyncRequest> vsync_requests_;
  std::vector<VSyncRequest> vsync_active_;
  unsigned skipped_syncs_ = 0;
};

}  // namespace xstub
