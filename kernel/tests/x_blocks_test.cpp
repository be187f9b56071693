// Requests 24 to 26 and 28 through the glue over a started board: the words
// a block allocation answers, who may free what, the local-memory answer,
// the primary surface, and copy faults that change nothing.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/client_blocks.h"
#include "kernel/tests/stream_fixture.h"
#include "kernel/vidmem/surface_manager.h"

namespace {

using ktest::StartedBoard;

class XBlocks : public StartedBoard {
 protected:
  int Request(kglue::File* f, uint32_t code, void* record) {
    return glue.Ioctl(f, code, reinterpret_cast<unsigned long>(record));
  }
  // A 1024x64 surface at 32 bits, pitch-linear, of a type and placement.
  static OrvBlockRequest SurfaceRequest(uint32_t type, uint32_t placement) {
    OrvBlockRequest request = {};
    request.kind = kBlockKindSurface;
    MmSurfAllocOpt options;
    options.requestedKind = type;
    options.heapSelector = placement;
    options.desc.word1 = MmSurfDesc::MakeWord1(1024, kLayoutPitchLinear, 0x30);
    options.desc.word2 = MmSurfDesc::MakeWord2(64, 1);
    options.physicalSize = options.desc.GetPhysicalMemSize(true);
    options.alignment = options.desc.GetRequiredAlignment(true);
    options.mapper = reinterpret_cast<MmSurfaceMapper*>(0x1234);  // the caller's pointer
    memcpy(request.surfaceOptions, &options, sizeof(options));
    return request;
  }
  static OrvBlockRequest WindowRequest(uint32_t options, uint32_t size, uint32_t fixedOffset = 0) {
    OrvBlockRequest request = {};
    request.kind = kBlockKindAperture;
    MmHostApertureDesc d = {};
    d.options = options;
    d.releasable = 1;
    d.explicitSize = size;
    d.fixedOffset = fixedOffset;
    d.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
    d.desc.size = size;
    memcpy(request.apertureOptions, &d, sizeof(d));
    return request;
  }
  size_t Records(kglue::File* f) {
    size_t n = 0;
    for (ClientBlockRecord* r = ClientOf(f)->blocks; r != nullptr; r = r->next) ++n;
    return n;
  }
};

TEST_F(XBlocks, ASurfaceAnswersItsAddressSizeAndOffsetAndIsTheClientsToFree) {
  OrvBlockRequest request = SurfaceRequest(7, 24);  // the X driver's local command kind, default selector
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &request), 0);
  ClientBlockRecord* record = ClientOf(file)->blocks;
  ASSERT_NE(record, nullptr);
  auto* surface = static_cast<MmSurface*>(record->object);
  EXPECT_EQ(record->kind, 0u);
  EXPECT_EQ(record->id, static_cast<uint32_t>(request.handle));
  EXPECT_EQ(request.handle, surface->block->busAddress);  // a device address in local memory
  EXPECT_LT(request.handle, 16u << 20);                   // partition 0's main heap
  EXPECT_EQ(request.second, surface->block->size);
  EXPECT_EQ(request.third, static_cast<uint32_t>(request.handle));
  EXPECT_EQ(surface->options.mapper, nullptr);
  EXPECT_EQ(surface->placedKind, 0u);
  EXPECT_EQ(surface->placement, 3u);

  // Another client cannot free it; a kind that does not match finds nothing.
  OrvBlockRequest free = {};
  free.handle = request.handle;
  free.kind = kBlockKindSurface;
  EXPECT_EQ(Request(other(), ORV_IOCTL_FREE_BLOCK, &free), -22);
  free.kind = kBlockKindAperture;
  EXPECT_EQ(Request(file, ORV_IOCTL_FREE_BLOCK, &free), -22);
  free.kind = kBlockKindSurface;
  const uint32_t before = Common()->memoryManager->heapSet->First(kListMain0)->heap->GetFreeBytes();
  EXPECT_EQ(Request(file, ORV_IOCTL_FREE_BLOCK, &free), 0);
  EXPECT_EQ(Records(file), 0u);
  EXPECT_GT(Common()->memoryManager->heapSet->First(kListMain0)->heap->GetFreeBytes(), before);
}

TEST_F(XBlocks, SystemMemorySurfacesAreBusAddressesTheProcessCanMap) {
  OrvBlockRequest request = SurfaceRequest(3, 24);  // PCI-locked pages
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &request), 0);
  EXPECT_GE(request.handle, kglue::kArenaBusBase);
  EXPECT_EQ(request.second % 4096, 0u);
  EXPECT_EQ(request.third, 0u);
  void* mapped = glue.Mmap(file, request.handle, request.second);
  EXPECT_NE(mapped, nullptr);
  EXPECT_EQ(glue.Munmap(file, mapped, request.second), 0);
}

TEST_F(XBlocks, AWindowAnswersItsApertureAddressAndSlot) {
  OrvBlockRequest request = WindowRequest(kApertureExplicitSize, 0x40000);
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &request), 0);
  auto* window = static_cast<MmHostAperture*>(ClientOf(file)->blocks->object);
  const uint64_t apertureBus = OrvRegion_GetPhys(OrvDevice_GetFrameBuffer(device));
  EXPECT_EQ(request.handle, apertureBus + request.third);
  EXPECT_EQ(request.second, 0x40000u);
  EXPECT_EQ(request.fourth, static_cast<uint32_t>(window->slotIndex));
  EXPECT_LT(request.fourth, 20u);
  EXPECT_EQ(window->lockCount, 1u);
  // The slot shows the window once the device started the mapper.
  EXPECT_EQ(board.Peek(16 * request.fourth, 4) & 0x01FFFFFF, request.third);
  OrvBlockRequest free = {};
  free.handle = request.handle;
  free.kind = kBlockKindAperture;
  EXPECT_EQ(Request(file, ORV_IOCTL_FREE_BLOCK, &free), 0);
  EXPECT_EQ(board.Peek(16 * request.fourth, 4), 0u);
}

TEST_F(XBlocks, ValuesThatIndexKernelTablesAreChecked) {
  struct Case {
    const char* name;
    OrvBlockRequest request;
  };
  OrvBlockRequest badUnit = SurfaceRequest(0, 3);
  MmSurfAllocOpt o;
  memcpy(&o, badUnit.surfaceOptions, sizeof(o));
  o.unit = 5;
  memcpy(badUnit.surfaceOptions, &o, sizeof(o));
  const Case cases[] = {
      {"surface type 9", SurfaceRequest(9, 3)},
      {"placement 23", SurfaceRequest(0, 23)},
      {"unit 5", badUnit},
      {"fixed offset past the aperture", WindowRequest(kApertureExplicitSize | kApertureFixedOffset, 0x40000, 32u << 20)},
      {"size larger than the aperture", WindowRequest(kApertureExplicitSize, (32u << 20) + 4096)},
      {"explicit size 0", WindowRequest(kApertureExplicitSize, 0)},
  };
  for (const Case& c : cases) {
    OrvBlockRequest request = c.request;
    EXPECT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &request), -22) << c.name;
  }
  EXPECT_EQ(Records(file), 0u);
}

// What a request may change, for the copy-fault table.
struct Snapshot {
  size_t deviceObjects, records, glueBlocks, lockedPages, kernelMappings, engineTrace;
  uint32_t freeMain0, interruptEnable;
  const uint32_t* primaryCursor;
  const MmSurface* primarySurface;
  std::vector<uint32_t> slots;
  bool operator==(const Snapshot&) const = default;
};

// Requests 20 and 24 to 29 with records the caller cannot hand over
// (faulty) or cannot take the answer back into (read-only): each answers
// -14 (20: 0) and leaves the device as it was. What an allocation had made
// before its answer failed is undone.
TEST_F(XBlocks, CopyFaultsAnswerFourteenAndChangeNothing) {
  OrvBlockRequest held = SurfaceRequest(0, 3);  // a block the client holds, named by 25 and 28
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &held), 0);
  Common()->sharedLocked->primaryEngineMode = 1;
  auto snapshot = [&] {
    Snapshot s = {};
    for (PDEV* p = Common()->ringHead; p != nullptr && s.deviceObjects < 8;
         p = p->next == Common()->ringHead ? nullptr : p->next)
      ++s.deviceObjects;
    s.records = Records(file);
    s.glueBlocks = glue.LiveBlocks().size();
    s.lockedPages = glue.LiveLockedPages();
    s.kernelMappings = glue.LiveKernelMappings();
    s.engineTrace = dma.Trace().size();
    s.freeMain0 = Common()->memoryManager->heapSet->First(kListMain0)->heap->GetFreeBytes();
    s.interruptEnable = board.Peek(0x8FC, 4);
    s.primaryCursor = Primary()->cursor;
    s.primarySurface = pdev->primarySurface;
    // The windows the slots show; a released window leaves its slot empty
    // where it was, so the order may change but not what is shown.
    for (uint32_t slot = 0; slot < 20; ++slot)
      if (const uint32_t window = board.Peek(16 * slot, 4); window != 0) s.slots.push_back(window);
    std::sort(s.slots.begin(), s.slots.end());
    return s;
  };
  const uint32_t range = XRange({0x212121C6, 1});

  enum Fault { kFaulty, kReadOnly };
  struct Case {
    const char* name;
    uint32_t code;
    Fault fault;
    int answer;
  };
  const Case cases[] = {
      {"20 enable", ORV_IOCTL_ENABLE_DEVICE, kFaulty, 0},
      {"20 enable, answer", ORV_IOCTL_ENABLE_DEVICE, kReadOnly, 0},
      {"24 surface", ORV_IOCTL_ALLOC_BLOCK, kFaulty, -14},
      {"24 surface, answer", ORV_IOCTL_ALLOC_BLOCK, kReadOnly, -14},
      {"24 system surface, answer", ORV_IOCTL_ALLOC_BLOCK, kReadOnly, -14},
      {"24 window, answer", ORV_IOCTL_ALLOC_BLOCK, kReadOnly, -14},
      {"25 free", ORV_IOCTL_FREE_BLOCK, kFaulty, -14},
      {"26 local memory", ORV_IOCTL_LOCAL_MEMORY, kFaulty, -14},
      {"26 local memory, answer", ORV_IOCTL_LOCAL_MEMORY, kReadOnly, -14},
      {"27 post", ORV_IOCTL_POST_DMA, kFaulty, -14},
      {"28 primary", ORV_IOCTL_DECLARE_PRIMARY, kFaulty, -14},
      {"29 vertical sync", ORV_IOCTL_VSYNC_STATE, kFaulty, -14},
  };
  for (const Case& c : cases) {
    alignas(8) uint8_t record[128] = {};
    auto put = [&](const auto& value) { memcpy(record, &value, sizeof(value)); };
    const std::string name = c.name;
    if (c.code == ORV_IOCTL_ENABLE_DEVICE) {
      put(ktest::EnableRecord(1));
    } else if (c.code == ORV_IOCTL_ALLOC_BLOCK) {
      put(name.find("window") != std::string::npos   ? WindowRequest(kApertureExplicitSize, 0x40000)
          : name.find("system") != std::string::npos ? SurfaceRequest(3, 24)
                                                     : SurfaceRequest(0, 3));
    } else if (c.code == ORV_IOCTL_FREE_BLOCK) {
      put(held);
    } else if (c.code == ORV_IOCTL_POST_DMA) {
      put(OrvDmaPostRequest{0, range, (range + 8) | 3, {}});
    } else if (c.code == ORV_IOCTL_DECLARE_PRIMARY) {
      put(OrvDeclarePrimaryRequest{held.handle, 0, reinterpret_cast<uintptr_t>(pdev)});
    } else if (c.code == ORV_IOCTL_VSYNC_STATE) {
      put(OrvVSyncStateRequest{{2, 0, 1, 5}});
    }
    const Snapshot before = snapshot();
    if (c.fault == kFaulty) {
      glue.MarkFaulty(record, sizeof(record));
    } else {
      glue.MarkReadOnly(record, sizeof(record));
    }
    EXPECT_EQ(glue.Ioctl(file, c.code, reinterpret_cast<unsigned long>(record)), c.answer) << c.name;
    glue.ClearUserMemory();
    EXPECT_TRUE(snapshot() == before) << c.name;
  }
  // The record itself was fine all along.
  alignas(8) uint8_t record[128] = {};
  memcpy(record, &held, sizeof(held));
  EXPECT_EQ(glue.Ioctl(file, ORV_IOCTL_FREE_BLOCK, reinterpret_cast<unsigned long>(record)), 0);
}

TEST_F(XBlocks, LocalMemoryInformationOfAHeapList) {
  OrvLocalMemoryRequest request = {};
  request.index = 0;
  ASSERT_EQ(Request(file, ORV_IOCTL_LOCAL_MEMORY, &request), 0);
  const MmHeap* heap = Common()->memoryManager->heapSet->First(kListMain0)->heap;
  EXPECT_EQ(request.size, heap->size);
  EXPECT_EQ(request.offset, 0u);
  uint32_t words[16];
  memcpy(words, &request, 64);
  EXPECT_EQ(words[2], heap->size);            // 8
  EXPECT_EQ(words[10], board.Partition0Size());  // 40
  EXPECT_EQ(words[12], board.Partition1Size());  // 48
  request.index = 1;
  ASSERT_EQ(Request(file, ORV_IOCTL_LOCAL_MEMORY, &request), 0);
  EXPECT_EQ(request.offset, 0x8200000u);  // partition 1's main heap
  for (uint32_t index : {8u, 0xFFFFFFFFu}) {
    request.index = index;
    EXPECT_EQ(Request(file, ORV_IOCTL_LOCAL_MEMORY, &request), -22) << index;
  }
}

TEST_F(XBlocks, ThePrimarySurfaceStaysWhenTheWindowIsForeignAndGoesWithItsBlock) {
  OrvBlockRequest surface = SurfaceRequest(0, 1);
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &surface), 0);
  OrvBlockRequest window = WindowRequest(kApertureExplicitSize, 0x40000);
  ASSERT_EQ(Request(other(), ORV_IOCTL_ALLOC_BLOCK, &window), 0);  // another client's
  OrvDeclarePrimaryRequest declare = {surface.handle, window.handle, reinterpret_cast<uintptr_t>(pdev)};
  EXPECT_EQ(Request(file, ORV_IOCTL_DECLARE_PRIMARY, &declare), -22);
  auto* object = static_cast<MmSurface*>(ClientOf(file)->blocks->object);
  EXPECT_EQ(pdev->primarySurface, object);  // kept: the surface became primary first
  // With its own window it gets the clone; the handle of a device object
  // another client enabled is refused.
  OrvBlockRequest own = WindowRequest(kApertureExplicitSize, 0x40000);
  ASSERT_EQ(Request(file, ORV_IOCTL_ALLOC_BLOCK, &own), 0);
  declare.apertureBlock = own.handle;
  EXPECT_EQ(Request(file, ORV_IOCTL_DECLARE_PRIMARY, &declare), 0);
  EXPECT_NE(object->aperture, nullptr);
  EXPECT_EQ(Request(other(), ORV_IOCTL_DECLARE_PRIMARY, &declare), -22);
  // Freeing it clears the slot first.
  OrvBlockRequest free = {};
  free.handle = surface.handle;
  free.kind = kBlockKindSurface;
  EXPECT_EQ(Request(file, ORV_IOCTL_FREE_BLOCK, &free), 0);
  EXPECT_EQ(pdev->primarySurface, nullptr);
}

TEST_F(XBlocks, AClientsReleaseFreesEveryBlockItHolds) {
  kglue::File* third = glue.Open(device);
  OrvBlockRequest a = SurfaceRequest(0, 3);
  OrvBlockRequest b = SurfaceRequest(3, 24);
  OrvBlockRequest c = WindowRequest(kApertureExplicitSize, 0x40000);
  ASSERT_EQ(Request(third, ORV_IOCTL_ALLOC_BLOCK, &a), 0);
  ASSERT_EQ(Request(third, ORV_IOCTL_ALLOC_BLOCK, &b), 0);
  ASSERT_EQ(Request(third, ORV_IOCTL_ALLOC_BLOCK, &c), 0);
  const size_t pages = glue.LiveLockedPages();
  const size_t mappings = glue.LiveKernelMappings();
  glue.Close(third);
  EXPECT_EQ(glue.LiveLockedPages(), pages - 1);
  EXPECT_EQ(glue.LiveKernelMappings(), mappings - 1);
}

}  // namespace
