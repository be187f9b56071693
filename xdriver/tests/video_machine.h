// A machine for the video tests, the Xv fuzz target and the video
// benchmark: a simulated board with its DMA and 2D engines, the kernel
// module's node answered by the fake endpoint (posts run on the board's DMA
// engine at once; surface blocks are placed first fit in the board's local
// memory at their alignment, their bus address being their local address),
// and one device object in bus-mastering mode 0 on it. No test framework:
// the fixtures wrap it.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/chip_ids.h"
#include "core/hw_revision.h"
#include "core/lnx_device.h"
#include "core/mm_aperture.h"
#include "core/mm_surface.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/machine/machine.h"
#include "core/client_services.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xservices.h"
#include "xdriver/orv_rec.h"

namespace videotest {

// One surface block the fake module placed.
struct PlacedBlock {
  uint32_t bus;
  uint32_t size;
  uint32_t memoryType;  // the surface's heap selector
  bool freed = false;
};

inline constexpr uint32_t kVideoMajor = 241;

// The kernel module's surface blocks as the fake endpoint answers them:
// placed first fit between `from` and `end` of the board's local memory at
// their alignment, their bus address being their local address; an
// aperture onto a surface shows its plain view.
class SurfaceBlocks {
 public:
  static constexpr uint32_t kApertureHandle = 0xA0000000;
  static constexpr uint32_t kApertureSlot = 3;

  SurfaceBlocks(uint32_t from, uint32_t end) : from_(from), end_(end) {}
  // The endpoint's place and free requests come here.
  void Attach(xstub::FakeKernel& kernel) {
    kernel.SetHandler(0x18, [this](uint32_t, void* arg) { return PlaceBlock(arg); });
    kernel.SetHandler(0x19, [this](uint32_t, void* arg) { return FreeBlock(arg); });
  }
  // Blocks placed since the last call.
  std::vector<PlacedBlock> TakeBlocks() {
    std::vector<PlacedBlock> out = blocks;
    blocks.clear();
    return out;
  }

  std::vector<PlacedBlock> blocks;  // every surface block placed, in order
  int refuseBlocks = 0;             // the next so many surface blocks are refused

 private:
  int PlaceBlock(void* arg) {
    auto* record = static_cast<OrvBlockRequest*>(arg);
    if (record->kind == kBlockKindAperture) {
      // A window onto the surface the options describe (the one just placed
      // when they name none) shows the plain view at its local address.
      MmHostApertureOpt aperture;
      std::memcpy(&aperture, record->apertureOptions, sizeof aperture);
      const uint32_t address = aperture.desc.word0 & ~kMemBitsMask;
      record->handle = kApertureHandle;
      record->second = 4096;
      record->third = address != 0 ? address : lastBlock_;
      record->fourth = kApertureSlot;
      return 0;
    }
    MmSurfAllocOpt options;
    std::memcpy(&options, record->surfaceOptions, sizeof options);
    const uint64_t align = options.alignment > 1 ? options.alignment : 1;
    const uint64_t size = options.physicalSize;
    if (refuseBlocks > 0) {
      --refuseBlocks;
      return -12;  // ENOMEM
    }
    if (size == 0) return -22;
    // First fit between the live blocks.
    uint64_t at = from_;
    for (const auto& [bus, bytes] : live_) {
      at = (at + align - 1) / align * align;
      if (at + size <= bus) break;
      at = std::max<uint64_t>(at, uint64_t{bus} + bytes);
    }
    at = (at + align - 1) / align * align;
    if (at + size > end_) return -12;
    live_[static_cast<uint32_t>(at)] = static_cast<uint32_t>(size);
    blocks.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(size), options.heapSelector});
    lastBlock_ = static_cast<uint32_t>(at);
    record->handle = at;
    record->second = static_cast<uint32_t>(size);
    record->third = static_cast<uint32_t>(at);
    return 0;
  }

  int FreeBlock(void* arg) {
    auto* record = static_cast<OrvBlockRequest*>(arg);
    if (record->kind != kBlockKindSurface) return 0;
    const auto bus = static_cast<uint32_t>(record->handle);
    live_.erase(bus);
    for (PlacedBlock& b : blocks)
      if (b.bus == bus) b.freed = true;
    return 0;
  }

  uint32_t from_, end_;
  std::map<uint32_t, uint32_t> live_;  // bus address -> size
  uint32_t lastBlock_ = 0;
};


class VideoMachine {
 public:
  static constexpr uint64_t kBoardMemory = 64u << 20;
  static constexpr uint32_t kLocalBase = 0x100000;   // the X driver's local memory
  static constexpr uint32_t kLocalSize = 48u << 20;
  static constexpr uint32_t kPlaceFrom = 0x200000;   // blocks go from here
  static constexpr uint32_t kApertureHandle = SurfaceBlocks::kApertureHandle;
  static constexpr uint32_t kApertureSlot = SurfaceBlocks::kApertureSlot;
  static constexpr size_t kRegisterBytes = 8192;

  explicit VideoMachine(uint16_t deviceId = orvsim::kDeviceKestrion1) : deviceId_(deviceId) {
    orvmachine::BoardSpec spec;
    spec.config.memory_size = kBoardMemory;
    spec.config.device_id = deviceId;
    spec.parts = orvmachine::k2d;
    orvmachine::MachineBoard& parts = hardware.AddBoard(spec);
    board = &parts.board;
    dma = parts.dma.get();
    engine2d = parts.engine2d.get();
    kernel.AttachDmaEngine(dma);
    kernel.SetHandler(0x1A, [](uint32_t, void* arg) {
      auto* record = static_cast<OrvLocalMemoryRequest*>(arg);
      record->size = kLocalSize;
      record->offset = kLocalBase;
      return 0;
    });
    placer.Attach(kernel);
    box.AttachBus(&sim.Pci());
    box.AttachPhysicalMap(&sim.Phys());
    box.AttachClock(&sim.GetClock());
    box.AddCharDevice(kVideoMajor, "orv");
    box.RegisterEndpoint(kVideoMajor, &kernel);
    box.MakeDirectories("/dev/orvane");
    mem = xf86open("/dev/mem", O_RDWR);
    if (mem < 0) return;
    for (const orvsim::BarInfo& bar : board->Bars()) {
      if (bar.kind == orvsim::ResourceKind::kRegisters) {
        void* at = xf86mmap(nullptr, kRegisterBytes, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                            static_cast<off_t>(bar.base));
        if (at != MAP_FAILED) registers = at;
      }
    }
    if (registers == nullptr) return;
    device = std::make_unique<LnxDevice>(0);
    if (!device->Open()) return;
    mode = MakeMode();
    pdev = new PDEV(device.get(), &mode, 0x55, &ok);
    if (!ok) return;
    // The module writes the board's revision bits into the shared block
    // when it makes the device.
    pdev->sharedLocked->revisionBits = HwRevisionID::Compute(KestrionVendorDevice(deviceId_), 0);
    HwRevisionID::Init(pdev);
    pdev->sharedLocked->last1300Value = kLastRegNone;  // the short sync form
    // The plane mask as the device start's engine preset leaves it.
    board->Poke(orvsim::k2dRegPlaneMask, 4, 0xFFFFFFFF);
  }

  ~VideoMachine() {
    delete pdev;
    device.reset();
    if (registers != nullptr) xf86munmap(registers, kRegisterBytes);
    if (mem >= 0) xf86close(mem);
  }
  VideoMachine(const VideoMachine&) = delete;
  VideoMachine& operator=(const VideoMachine&) = delete;

  // Blocks placed since the last call.
  std::vector<PlacedBlock> TakeBlocks() { return placer.TakeBlocks(); }

  orvmachine::Machine hardware;  // first: outlives the sandbox's mappings
  orvsim::Simulation& sim = hardware.sim;
  orvsim::Board* board = nullptr;
  orvsim::DmaEngine* dma = nullptr;
  orvsim::Engine2d* engine2d = nullptr;
  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  int mem = -1;
  void* registers = nullptr;
  std::unique_ptr<LnxDevice> device;
  uint32_t lastRegWord = 0;
  VideoMode mode = {};
  PDEV* pdev = nullptr;
  uint8_t ok = 0;  // the device object came up
  SurfaceBlocks placer{kPlaceFrom, kLocalBase + kLocalSize};
  std::vector<PlacedBlock>& blocks = placer.blocks;
  int& refuseBlocks = placer.refuseBlocks;

 private:
  // A 1024x768 head at 32 bits in mode 0, mapped onto the board.
  VideoMode MakeMode() {
    VideoMode m = {};
    m.dimension1 = 1024;
    m.dimension2 = 768;
    m.bitsPerPixel = 32;
    m.bytesPerPixel = 4;
    m.storageBits = 32;
    m.pixelFormat = 50;
    m.pixelFormat2 = 48;
    m.lastRegWritten = reinterpret_cast<uintptr_t>(&lastRegWord);
    m.registerWindowSize = kRegisterBytes;
    m.registerMapping = reinterpret_cast<uintptr_t>(registers);
    m.frameBufferMapping = reinterpret_cast<uintptr_t>(board->Memory());
    m.frameBufferMapSize = static_cast<uint32_t>(board->MemorySize());
    return m;
  }

  uint16_t deviceId_;
};

// A screen of the X server stand-in whose driver record is bound to the
// machine: its device object in mode 0 and a board handle whose client
// record reaches the board's registers and memory (all the Xv adaptor and
// the GLX hooks use of the hardware library). The whole screen shows,
// vtSema set; the primary surface is at the start of local memory.
class VideoScreen {
 public:
  VideoScreen(VideoMachine& machine, xstub::XServer& server, int width, int height, int depth)
      : handle_(kBoardHandleSize) {
    info = server.NewScrnInfo();
    info->depth = depth;
    info->bitsPerPixel = depth == 16 ? 16 : 32;
    info->virtualX = width;
    info->virtualY = height;
    info->displayWidth = width;
    info->frameX1 = width - 1;
    info->frameY1 = height - 1;
    info->vtSema = TRUE;
    screen = server.NewScreen(info);
    screen->width = static_cast<short>(width);
    screen->height = static_cast<short>(height);
    rec = static_cast<ORVRec*>(xcalloc(1, sizeof(ORVRec)));
    info->driverPrivate = rec;
    rec->pdev = machine.pdev;
    rec->busMastering = kBusMasteringKernel;
    rec->fbOffset = 0;
    client_.registers = static_cast<volatile uint8_t*>(machine.registers);
    client_.frameBuffer = machine.board->Memory();
    ORVClientRecord* pointer = &client_;
    std::memcpy(handle_.data() + kBoardHandleClientOffset, &pointer, sizeof pointer);
    rec->pBoard = reinterpret_cast<BOARDHANDLE*>(handle_.data());
  }
  // The owner closes what it set up on the screen (Xv) first.
  ~VideoScreen() {
    xfree(rec);
    info->driverPrivate = nullptr;
  }
  VideoScreen(const VideoScreen&) = delete;
  VideoScreen& operator=(const VideoScreen&) = delete;

  ScrnInfoPtr info = nullptr;
  ScreenPtr screen = nullptr;
  ORVRec* rec = nullptr;

 private:
  ORVClientRecord client_;
  std::vector<uint8_t> handle_;
};

}  // namespace videotest
