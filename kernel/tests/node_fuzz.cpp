// Fuzz target of the kernel core behind its device node: the input is a
// program of opens, closes, requests (every code the node knows, numbers it
// does not, arbitrary records and values; frees and primary-surface
// declarations with the block ids the allocations answered), mappings of the
// shared locked block with arbitrary writes into it, writes aimed at the words the kernel
// watches there (locks, counters, the tag ring and event slots, the pending
// post slots), vertical blanks and engine events, and arbitrary mappings;
// then the files are closed, the device destroyed and the module unloaded.
// The board's DMA engine records what a real engine would stop on with a
// bus error (posted ranges are arbitrary addresses) instead of ending the
// run. Nothing
// may be left once the mappings are undone: no memory, region, page or
// mapping of the glue (a page the core frees while it is mapped stays the
// process's until the unmap, as the glue's mappings promise), no misuse of
// the glue; the sanitizers and the glue's own checks (the floating-point
// bracket, double frees) end the run on any other fault.
//
// Program: a sequence of operations, each an opcode byte and its operands;
// missing bytes read as 0. The program's length modulo 3 chooses where the
// command buffers lie (local video memory, page-locked or AGP memory). See
// tests/data/kernel_node_fuzz/README.md.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "core/orv_abi.h"
#include "kernel/kernel_device.h"
#include "kernel/tests/fuzz_reader.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/chip_vertex.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

// Every request the node serves, then sizes and numbers it does not.
constexpr uint32_t kCodes[] = {
    ORV_IOCTL_ALLOC_BUFFER,       ORV_IOCTL_FREE_BUFFER,       ORV_IOCTL_PARAMETER,
    ORV_IOCTL_GET_MINOR,          ORV_IOCTL_ENABLE_DEVICE,     ORV_IOCTL_DISABLE_DEVICE,
    ORV_IOCTL_START_DEVICE,       ORV_IOCTL_STOP_DEVICE,       ORV_IOCTL_ALLOC_BLOCK,
    ORV_IOCTL_FREE_BLOCK,         ORV_IOCTL_LOCAL_MEMORY,      ORV_IOCTL_POST_DMA,
    ORV_IOCTL_DECLARE_PRIMARY,    ORV_IOCTL_VSYNC_STATE,       ORV_IOCTL_CREATE_3D_CONTEXT,
    ORV_IOCTL_DESTROY_3D_CONTEXT, ORV_IOCTL_EXECUTE_3D,        OrvIocCode(kIocRW, 0x14, 120),
    OrvIocCode(kIocRW, 0x1E, 16), OrvIocCode(kIocRW, 0x05, 8), OrvIocCode(kIocRW, 0x22, 0),
};
constexpr size_t kCodeCount = sizeof(kCodes) / sizeof(kCodes[0]);

// Words of the Shared locked data the kernel reads or keeps: the DMA busy
// lock, last end, pending submissions, command lock, the 0x1300 value, the
// engine mode, the DMA mode word, then the tag ring, the event slots and the
// pending post slots word by word.
constexpr uint32_t kWatchedWords[] = {68, 76, 80, 112, 116, 120, 124, 140, 156, 216, 2300};
constexpr uint32_t kRingWords = 1048 / 4;
constexpr uint32_t kSlotWords = 1024 / 4;
constexpr uint32_t kPendingWords = 360 / 4;

uint32_t WatchedOffset(uint32_t pick) {
  constexpr uint32_t named = sizeof(kWatchedWords) / sizeof(kWatchedWords[0]);
  pick %= named + kRingWords + kSlotWords + kPendingWords;
  if (pick < named) return kWatchedWords[pick];
  pick -= named;
  if (pick < kRingWords) return 228 + 4 * pick;
  pick -= kRingWords;
  if (pick < kSlotWords) return 1276 + 4 * pick;
  return 2304 + 4 * (pick - kSlotWords);
}

// Vertical blanks come with virtual time too: each yield of the core is 1
// microsecond, so a flip waiting for one latches within 50 yields.
constexpr uint64_t kFramePeriodNs = 50000;
constexpr uint64_t kMaxEngineWords = 1u << 16;

// Bus-master flags by the program's length modulo 3: command buffers in
// local video memory, in page-locked memory (four a stream) or in AGP
// memory; bit 1 for the host-bridge workarounds.
constexpr uint32_t kBusMasterFlags[3] = {0x2, 0x300006, 0x12};

constexpr size_t kMaxFiles = 4;
constexpr int kMaxSteps = 256;
constexpr size_t kMaxHandles = 8;
constexpr size_t kRecordBytes = 256;

struct Mapping {
  kglue::File* file;
  uint8_t* address;
  size_t length;
};

// The machine lives for the whole run: the board, its chips and the glue
// are made once and reset after every input, and the module is loaded,
// given its device and unloaded again for every input. An input then runs
// as it runs alone, so that what it finds replays. The reset ends the
// input rather than starting the next one so that what the input made
// the glue and chips record is freed within it: libFuzzer runs an input
// again, and then its leak check, whenever it allocated more than it freed.
struct Machine {
  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::DmaEngine dma;
  orvsim::InterruptController irq;
  orvsim::FlipLatch flips;
  orvsim::ApertureWindows windows;
  // The vertex engine's program port and memories: every enable writes the
  // fixed programs through the port, which would otherwise never read idle.
  orvsim::VertexEngine vertex;
  kglue::Glue glue;
  OrvDevice* device;
  // What one input opened, was answered and mapped; emptied for each
  // input. Their storage is made once for the most an input can hold, so
  // that no input allocates more than it frees (libFuzzer then runs it
  // again for its leak check).
  std::vector<kglue::File*> files;
  std::vector<uint64_t> handles;
  std::vector<uint64_t> blocks;  // ids that request 24 answered
  std::vector<Mapping> mappings;

  Machine()
      : board(AddBoard(sim)), dma(board), irq(board), flips(board, irq), windows(board),
        vertex(board, dma) {
    // Nothing here reads the board's record of register accesses.
    board.SetLogging(false, false);
    dma.SetFaultsFatal(false);
    dma.SetMaxWordsPerStart(kMaxEngineWords);
    irq.SetFramePeriod(kFramePeriodNs);
    dma.SetInterrupts(&irq);
    glue.Use(&orv_kstrn_driver);
    glue.ServeDma(dma);
    device = glue.AddBoard(board, kglue::BoardOptions{0, 0, &irq});
    files.reserve(kMaxFiles);
    handles.reserve(kMaxHandles);
    blocks.reserve(kMaxHandles);
    mappings.reserve(kMaxSteps);
  }

  static orvsim::Board& AddBoard(orvsim::Simulation& sim) {
    sim.AddHostBridge(0x25008086);
    orvsim::BoardConfig config;
    config.device_id = 0x5D61;
    config.revision = 1;
    return sim.AddBoard(config);
  }

  // For the next input: the chips as a fresh machine has them, the
  // interrupt words of the board from a clean start, the aperture's view as
  // its slots say, the glue as a fresh one.
  void Reset() {
    board.Poke(orvsim::kIrqRegPending, 4, 0);
    board.Poke(orvsim::kIrqRegEnable, 4, 0);
    dma.Reset();
    irq.Reset();
    flips.Reset();
    windows.Apply();
    vertex.Reset();
    glue.Renew();
  }
};

Machine& TheMachine() {
  static Machine* machine = new Machine;
  return *machine;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kernel node fuzz: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Machine& machine = TheMachine();
  kglue::Glue& glue = machine.glue;
  orvsim::InterruptController& irq = machine.irq;
  OrvDevice* device = machine.device;
  glue.SetBusMasterFlags(device, kBusMasterFlags[size % 3]);
  glue.Load();
  KernelDevice* kdev = glue.CreateDevice(device);
  Check(kdev != nullptr, "the device was not made");

  Reader in(data, size);
  std::vector<kglue::File*>& files = machine.files;
  std::vector<uint64_t>& handles = machine.handles;
  std::vector<uint64_t>& blocks = machine.blocks;
  std::vector<Mapping>& mappings = machine.mappings;
  files.clear();
  handles.clear();
  blocks.clear();
  mappings.clear();
  alignas(8) uint8_t record[kRecordBytes];
  int steps = 0;
  while (in.More() && ++steps < kMaxSteps) {
    const uint8_t op = in.Byte() % 11;
    kglue::File* file = files.empty() ? nullptr : files[in.Byte() % files.size()];
    switch (op) {
      case 0:  // open
        if (files.size() < kMaxFiles) {
          if (kglue::File* opened = glue.Open(device, 1000 + in.Byte() % 3)) files.push_back(opened);
        }
        break;
      case 1:  // close; the file goes with its last mapping
        if (file != nullptr) {
          glue.Close(file);
          std::erase(files, file);
        }
        break;
      case 2:  // a request of the node, with an arbitrary record or value
      case 3: {  // any code at all
        if (file == nullptr) break;
        const uint32_t code = op == 2 ? kCodes[in.Byte() % kCodeCount] : in.Word();
        memset(record, 0, sizeof(record));
        in.Bytes(record, in.Byte() % (kRecordBytes + 1));
        // The record, or a value: a device-object handle, any 64 bits, a unit.
        const uint8_t how = in.Byte() % 4;
        unsigned long value = 0;
        if (how == 1) {
          value = handles.empty() ? 0 : handles[in.Byte() % handles.size()];
        } else if (how == 2) {
          value = in.Quad();
        } else if (how == 3) {
          value = in.Byte();
        }
        const int answer = how == 0 ? glue.Ioctl(file, code, reinterpret_cast<unsigned long>(record))
                                    : glue.IoctlWithValue(file, code, value);
        if (code == ORV_IOCTL_ENABLE_DEVICE && answer == 1 && handles.size() < kMaxHandles) {
          uint64_t handle;
          memcpy(&handle, record + offsetof(OrvEnableRequest, kernelHandle), sizeof(handle));
          handles.push_back(handle);
        }
        if (code == ORV_IOCTL_ALLOC_BLOCK && how == 0 && answer == 0 && blocks.size() < kMaxHandles) {
          uint64_t id;
          memcpy(&id, record, sizeof(id));
          blocks.push_back(id);
        }
        break;
      }
      case 4: {  // map the shared locked block
        if (file == nullptr) break;
        orv_ioctl_buffer buffer = {kOrvBufferSharedLocked, kOrvBufferFlagCommon, 0,
                                   kSharedLockedSize, 0};
        if (glue.Ioctl(file, ORV_IOCTL_ALLOC_BUFFER, reinterpret_cast<unsigned long>(&buffer)) != 0)
          break;
        if (auto* mapped = static_cast<uint8_t*>(glue.Mmap(file, buffer.offset, kglue::kPageSize)))
          mappings.push_back(Mapping{file, mapped, kglue::kPageSize});
        break;
      }
      case 5: {  // what user space writes into it
        if (mappings.empty()) break;
        const Mapping& m = mappings[in.Byte() % mappings.size()];
        const uint32_t offset = (in.Byte() | (uint32_t{in.Byte()} << 8)) % (kSharedLockedSize - 3);
        const uint32_t value = in.Word();
        memcpy(m.address + offset, &value, sizeof(value));
        break;
      }
      case 6: {  // unmap
        if (mappings.empty()) break;
        const size_t index = in.Byte() % mappings.size();
        Check(glue.Munmap(mappings[index].file, mappings[index].address,
                          mappings[index].length) == 0,
              "a mapping could not be undone");
        mappings.erase(mappings.begin() + static_cast<long>(index));
        break;
      }
      case 7: {  // map anything
        if (file == nullptr) break;
        const uint64_t offset = uint64_t{in.Word()} << 12;
        const size_t length = (1 + in.Byte() % 4) * kglue::kPageSize;
        if (void* mapped = glue.Mmap(file, offset, length))
          Check(glue.Munmap(file, mapped, length) == 0, "an arbitrary mapping stuck");
        break;
      }
      case 8: {  // what user space writes into a word the kernel watches
        const uint32_t offset = WatchedOffset(in.Byte() | (uint32_t{in.Byte()} << 8));
        const uint32_t value = in.Word();
        if (kdev->sharedLocked != nullptr)
          memcpy(reinterpret_cast<uint8_t*>(kdev->sharedLocked) + offset, &value, sizeof(value));
        break;
      }
      case 10: {  // free a block, or declare a primary surface, by ids answered before
        if (file == nullptr) break;
        auto pick = [&](const std::vector<uint64_t>& from) -> uint64_t {
          const uint8_t b = in.Byte();
          return from.empty() ? b : from[b % from.size()];
        };
        memset(record, 0, sizeof(record));
        if (in.Byte() % 2 == 0) {
          OrvBlockRequest free = {};
          free.handle = pick(blocks);
          free.kind = in.Byte() % 2;
          memcpy(record, &free, sizeof(free));
          glue.Ioctl(file, ORV_IOCTL_FREE_BLOCK, reinterpret_cast<unsigned long>(record));
        } else {
          OrvDeclarePrimaryRequest declare = {pick(blocks), pick(blocks), pick(handles)};
          memcpy(record, &declare, sizeof(declare));
          glue.Ioctl(file, ORV_IOCTL_DECLARE_PRIMARY, reinterpret_cast<unsigned long>(record));
        }
        break;
      }
      case 9: {  // a vertical blank of a controller, or an engine event, served
        const uint8_t which = in.Byte() % 4;
        if (which < 3) {
          irq.VerticalBlank(which);
        } else {
          irq.Raise(orvsim::kIrqEngine);
        }
        glue.DeliverInterrupts();
        break;
      }
    }
  }

  for (const Mapping& m : mappings) Check(glue.Munmap(m.file, m.address, m.length) == 0, "unmap");
  for (kglue::File* f : files) glue.Close(f);
  glue.DestroyDevice(device);
  glue.Unload();
  Check(glue.OpenFileCount() == 0, "a file is still open");
  Check(glue.LiveBlocks().empty(), "memory of the glue is left");
  Check(glue.LiveRegions() == 0 && glue.LiveLockedPages() == 0, "a region or pages are left");
  Check(glue.LiveKernelMappings() == 0 && glue.LiveUserMappings() == 0, "a mapping is left");
  Check(glue.Misuses().empty(), "the glue was misused");
  Check(glue.FpuDepth() == 0, "the floating-point bracket is open");
  machine.Reset();
  return 0;
}
