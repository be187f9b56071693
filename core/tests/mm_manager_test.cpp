// The memory manager: its record and rows, the local-DMA heaps on the
// simulated board, and placement through the kernel module's requests.
#include "core/bm_rows.h"
#include "core/mm_rows.h"
#include "core/mm_surface_manager.h"

#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/driver_switches.h"
#include "core/phys_mem_mapper.h"
#include "core/tests/mm_fixture.h"

namespace {

using mmtest::KernelMm;
using mmtest::LocalMm;
using mmtest::MakePlain;

constexpr uint32_t kMB = 1u << 20;

// ---- Record and rows ----------------------------------------------------------------------

struct SizeCase {
  uint64_t memory;
  uint64_t base;      // frame-buffer base, aligned to the size
  bool ok;
  uint64_t apertureOffsetBase;
};

void PrintTo(const SizeCase& c, std::ostream* out) { *out << (c.memory >> 20) << "MB"; }

class FrameBufferSizes : public LocalMm, public testing::WithParamInterface<SizeCase> {};

TEST_P(FrameBufferSizes, GiveTheApertureOffsetBaseOrFailTheRow) {
  const SizeCase& c = GetParam();
  EXPECT_EQ(Start(c.memory, c.base), c.ok);
  if (!c.ok) {
    EXPECT_EQ(pdev()->initialisedCount, 9);  // stopped at the memory manager's row
    EXPECT_EQ(pdev()->common->memoryRecord, nullptr);
    return;
  }
  EXPECT_EQ(record()->frameBufferSize, c.memory);
  EXPECT_EQ(record()->apertureOffsetBase, c.apertureOffsetBase);
  EXPECT_EQ(record()->manager, pdev()->surfaceManager);
  EXPECT_EQ(pdev()->common->memoryManager, pdev()->surfaceManager);
  EXPECT_EQ(record()->apertureCpuBase, pdev()->common->frameBuffer);
}

INSTANTIATE_TEST_SUITE_P(MemoryManager, FrameBufferSizes,
                         testing::Values(SizeCase{32u << 20, 0xC2000000, false, 0},
                                         SizeCase{64u << 20, 0xC4000000, true, 0x6000000},
                                         SizeCase{128u << 20, 0xC8000000, true, 0x4000000},
                                         SizeCase{256u << 20, 0xD0000000, true, 0}),
                         testing::PrintToStringParamName());

TEST_F(LocalMm, SecondHeadSharesTheBoardsManagerAndTheLastDeletesIt) {
  ASSERT_TRUE(Start());
  coretest::Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  EXPECT_EQ(second.pdev->memoryRecord, record());
  EXPECT_EQ(second.pdev->surfaceManager, pdev()->surfaceManager);
  EXPECT_EQ(second.pdev->physMemMapper, pdev()->physMemMapper);
  EXPECT_EQ(g_poPhysMemMapper, pdev()->physMemMapper);
  CommonData* common = pdev()->common;
  Destroy(*head_);
  EXPECT_NE(common->memoryRecord, nullptr);
  EXPECT_EQ(second.pdev->surfaceManager, common->memoryManager);
  Destroy(second);
  EXPECT_EQ(g_poPhysMemMapper, nullptr);
}

TEST_F(LocalMm, PrimaryCommandBufferFillsTheFirstHeapUntilBusMasteringGoes) {
  ASSERT_TRUE(Start());
  const MemoryHeap* first = manager()->HeapOf(kHeapSelFirst);
  ASSERT_NE(first, nullptr);
  BmPrimInt* prim = pdev()->primInt;
  ASSERT_NE(prim, nullptr);
  EXPECT_EQ(prim->head->busAddress, first->start);
  EXPECT_EQ(prim->head->size, first->size);
  EXPECT_EQ(first->lowMark, first->highMark);
  // The linear frame-buffer view is the buffer's processor address.
  EXPECT_EQ(prim->head->cpuAddress,
            const_cast<uint8_t*>(pdev()->common->frameBuffer) + first->start);
  CleanupBusmastering(pdev());
  EXPECT_EQ(first->lowMark, first->start);
  EXPECT_EQ(manager()->surfaceList->next, manager()->surfaceList);
}

TEST_F(LocalMm, FakeHostApertureIsRefusedWithoutSimulatorMemory) {
  ASSERT_TRUE(Start());
  // Bus mastering keeps its command buffer in the manager: it goes first.
  CleanupBusmastering(pdev());
  CleanupMemoryManager(pdev());
  EXPECT_EQ(pdev()->common->memoryRecord, nullptr);
  DsFakeHostAperture* fake = pdev()->common->driverSwitches->FakeHostAperture;
  ASSERT_NE(fake, nullptr);
  fake->current = 1;
  EXPECT_FALSE(InitMemoryManager(pdev()));
  EXPECT_EQ(pdev()->common->memoryRecord, nullptr);
  EXPECT_EQ(pdev()->surfaceManager, nullptr);
  fake->current = 0;
  EXPECT_TRUE(InitMemoryManager(pdev()));
  EXPECT_TRUE(InitBusmastering(pdev()));
}

// ---- Local-DMA heaps ----------------------------------------------------------------------

class LocalHeaps : public LocalMm {
 protected:
  void SetUp() override {
    LocalMm::SetUp();
    ASSERT_TRUE(Start());
    // The heaps are watched from empty: bus mastering gives its command
    // buffer (the whole first heap) back.
    CleanupBusmastering(pdev());
  }
  void TearDown() override {
    for (auto& surface : surfaces_) manager()->DestroySurface(surface.get());
    surfaces_.clear();
    LocalMm::TearDown();
  }
  MmSurface* Place(uint32_t kind, uint32_t selector, uint32_t bytes, uint32_t alignment = 0) {
    auto surface = std::make_unique<MmSurface>();
    MakePlain(surface.get(), kind, selector, bytes, alignment);
    if (!manager()->CreateSurface(surface.get())) return nullptr;
    surfaces_.push_back(std::move(surface));
    return surfaces_.back().get();
  }
  void Destroy(MmSurface* surface) {
    auto it = std::find_if(surfaces_.begin(), surfaces_.end(),
                           [&](const auto& owned) { return owned.get() == surface; });
    ASSERT_NE(it, surfaces_.end());
    manager()->DestroySurface(surface);
    surfaces_.erase(it);
  }

  std::vector<std::unique_ptr<MmSurface>> surfaces_;
};

TEST_F(LocalHeaps, SixtyFourMegabytesAreCarvedIntoTheFiveHeaps) {
  struct Row {
    uint32_t selector;
    uint32_t start;
    uint32_t size;
  };
  const Row rows[] = {
      {kHeapSelFirst, 31 * kMB, 1 * kMB},
      {kHeapSelSecond, 0, 31 * kMB},
      {kHeapSelThird, kBankBOffset, 4 * kMB},
      {kHeapSelFourth, kBankBOffset + 31 * kMB, 1 * kMB},
      {kHeapSelFifth, kBankBOffset + 4 * kMB, 27 * kMB},
  };
  for (const Row& row : rows) {
    const MemoryHeap* heap = manager()->HeapOf(row.selector);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(heap->start, row.start) << row.selector;
    EXPECT_EQ(heap->size, row.size) << row.selector;
    EXPECT_EQ(heap->lowMark, row.start) << row.selector;
    EXPECT_EQ(heap->highMark, row.start + row.size) << row.selector;
  }
  EXPECT_EQ(manager()->HeapOf(24), nullptr);
}

TEST_F(LocalHeaps, FirstPlacementsAreBottomUpAndSelectorOneTakesWholeMegabytes) {
  MmSurface* one = Place(kSurfLocal, kHeapSelSecond, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->block->busAddress, 0u);
  EXPECT_EQ(manager()->HeapOf(kHeapSelSecond)->lowMark, kMB);
  MmSurface* next = Place(kSurfLocal, kHeapSelSecond, 5000);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->block->busAddress, kMB);

  MmSurface* third = Place(kSurfLocal, kHeapSelThird, 5000);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->block->busAddress, kBankBOffset);
  EXPECT_EQ(third->busWord, kBankBOffset | kMemLocal);
  EXPECT_EQ(third->options.desc.word0, kBankBOffset);
  // The block's size is what the host aperture shows of it.
  EXPECT_EQ(third->block->size, 5024u);
  EXPECT_EQ(Place(kSurfLocal, kHeapSelThird, 5000)->block->busAddress, kBankBOffset + 5056);
  EXPECT_EQ(Place(kSurfLocal, kHeapSelFifth, 64)->block->busAddress, kBankBOffset + 4 * kMB);
  EXPECT_EQ(Place(kSurfLocal, kHeapSelFirst, 64)->block->busAddress, 31 * kMB);
  EXPECT_EQ(Place(kSurfLocal, kHeapSelFourth, 64)->block->busAddress, kBankBOffset + 31 * kMB);
}

TEST_F(LocalHeaps, RefusedRequests) {
  EXPECT_EQ(Place(kSurfPciLocked, kHeapSelSecond, 4096), nullptr);
  EXPECT_EQ(Place(kSurfLocal, 24, 4096), nullptr);               // no such heap
  EXPECT_EQ(Place(kSurfLocal, kHeapSelFirst, 2 * kMB), nullptr);  // larger than the heap
  MmSurface invalid;
  MakePlain(&invalid, kSurfLocal, kHeapSelSecond, 64);
  invalid.options.physicalSize = kMmInvalid;
  EXPECT_FALSE(manager()->CreateSurface(&invalid));
  invalid.options.physicalSize = 0;
  EXPECT_FALSE(manager()->CreateSurface(&invalid));
  EXPECT_EQ(manager()->surfaceList->next, manager()->surfaceList);
}

TEST_F(LocalHeaps, ProcessMemorySurfaceHasNoBlockAndIsNotListed) {
  MmSurface* process = Place(kSurfProcess, kHeapSelSecond, 4096);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->placedKind, kSurfProcess);
  EXPECT_EQ(process->block, nullptr);
  EXPECT_EQ(manager()->surfaceList->next, manager()->surfaceList);
}

TEST_F(LocalHeaps, CreatedSurfacesAreListedNewestFirstAndLeaveTheListWhenDestroyed) {
  MmSurface* a = Place(kSurfLocal, kHeapSelThird, 64);
  MmSurface* b = Place(kSurfLocal, kHeapSelThird, 64);
  MmSurface* head = manager()->surfaceList;
  EXPECT_EQ(head->next, b);
  EXPECT_EQ(b->next, a);
  EXPECT_EQ(a->next, head);
  EXPECT_EQ(a->manager, manager());
  EXPECT_EQ(a->lockMapper, mapper());
  EXPECT_EQ(a->shared, pdev()->sharedLocked);
  EXPECT_EQ(a->placedKind, kSurfLocal);
  EXPECT_TRUE(manager()->CreateSurface(a));  // placed already: nothing new
  EXPECT_EQ(head->next, b);
  Destroy(b);
  EXPECT_EQ(head->next, a);
  EXPECT_EQ(manager()->HeapOf(kHeapSelThird)->BlockCount(), 1u);
}

TEST_F(LocalHeaps, FreeingAnyBlockFreesThatBlock) {
  MmSurface* a = Place(kSurfLocal, kHeapSelSecond, 64);
  MmSurface* b = Place(kSurfLocal, kHeapSelSecond, 64);
  MmSurface* c = Place(kSurfLocal, kHeapSelSecond, 64);
  ASSERT_NE(c, nullptr);
  const uint32_t bAddress = b->block->busAddress;
  Destroy(a);  // not the most recent one
  MmSurface* d = Place(kSurfLocal, kHeapSelSecond, 64);
  EXPECT_EQ(d->block->busAddress, 0u);
  EXPECT_NE(d->block->busAddress, c->block->busAddress);
  EXPECT_EQ(b->block->busAddress, bAddress);
}

TEST_F(LocalHeaps, SelectorTwentyTwoGivesEveryLiveSurfaceItsOwnMemory) {
  MmSurface* a = Place(kSurfLocal, kHeapSelFifth, 4096);
  MmSurface* b = Place(kSurfLocal, kHeapSelFifth, 4096);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->block->busAddress, kBankBOffset + 4 * kMB);  // the heap's base, as before
  EXPECT_EQ(b->block->busAddress, kBankBOffset + 4 * kMB + 4096);
  Destroy(a);
  EXPECT_EQ(Place(kSurfLocal, kHeapSelFifth, 4096)->block->busAddress, kBankBOffset + 4 * kMB);
}

TEST_F(LocalHeaps, AlignmentIsHonoured) {
  ASSERT_NE(Place(kSurfLocal, kHeapSelThird, 64), nullptr);
  MmSurface* aligned = Place(kSurfLocal, kHeapSelThird, 64, 8192);
  ASSERT_NE(aligned, nullptr);
  EXPECT_EQ(aligned->block->busAddress, kBankBOffset + 8192);
  MmSurface* after = Place(kSurfLocal, kHeapSelThird, 64);
  EXPECT_EQ(after->block->busAddress, kBankBOffset + 64);  // the gap below is used
}

TEST_F(LocalHeaps, RandomAllocationsAndFreesNeverOverlapALiveSurface) {
  struct Heap {
    uint32_t selector, start, size;
  };
  const Heap heaps[] = {
      {kHeapSelFirst, 31 * kMB, kMB},
      {kHeapSelSecond, 0, 31 * kMB},
      {kHeapSelThird, kBankBOffset, 4 * kMB},
      {kHeapSelFourth, kBankBOffset + 31 * kMB, kMB},
      {kHeapSelFifth, kBankBOffset + 4 * kMB, 27 * kMB},
  };
  std::mt19937 random(20240611);
  // Reference: live ranges by start, each with its surface.
  std::map<uint64_t, std::pair<uint64_t, MmSurface*>> live;
  int placed = 0;
  for (int step = 0; step < 3000; ++step) {
    if (!live.empty() && random() % 3 == 0) {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      MmSurface* victim = it->second.second;
      live.erase(it);
      Destroy(victim);
      continue;
    }
    const Heap& heap = heaps[random() % 5];
    const uint32_t bytes = 1 + random() % (heap.selector == kHeapSelSecond ? 3 * kMB : 96 * 1024);
    const uint32_t alignment = 32u << (random() % 9);  // 32 .. 8192
    MmSurface* surface = Place(kSurfLocal, heap.selector, bytes, alignment);
    if (surface == nullptr) continue;
    ++placed;
    const uint64_t start = surface->block->busAddress;
    uint64_t length = surface->options.physicalSize;
    if (heap.selector == kHeapSelSecond) length = (length + kMB - 1) / kMB * kMB;
    ASSERT_EQ(start % alignment, 0u) << "step " << step;
    ASSERT_GE(start, heap.start) << "step " << step;
    ASSERT_LE(start + length, uint64_t{heap.start} + heap.size) << "step " << step;
    auto next = live.lower_bound(start);
    if (next != live.end()) {
      ASSERT_LE(start + length, next->first) << "step " << step;
    }
    if (next != live.begin()) {
      auto before = std::prev(next);
      ASSERT_LE(before->first + before->second.first, start) << "step " << step;
    }
    live[start] = {length, surface};
  }
  EXPECT_GT(placed, 1000);
}

TEST_F(LocalHeaps, VertexWindowGivesLocalSurfacesInsideItADirectAddress) {
  uint8_t* cpu = reinterpret_cast<uint8_t*>(uintptr_t{0x7f0000000000});
  MmVertexWindow window;
  window.busBase = kBankBOffset;
  window.cpuBase = cpu;
  window.offset = 0x40;
  window.size = 0x10000;
  manager()->vertexWindow = &window;
  ASSERT_NE(Place(kSurfLocal, kHeapSelThird, 0x8000), nullptr);
  MmSurface* inside = Place(kSurfLocal, kHeapSelThird, 0x1000);
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(inside->cpuAddress, cpu + 0x40 + 0x8000);
  EXPECT_EQ(inside->aperture, nullptr);
  // Past the window's end, or barred from it: a host aperture instead.
  MmSurface* across = Place(kSurfLocal, kHeapSelThird, 0x8000);
  ASSERT_NE(across, nullptr);
  EXPECT_EQ(across->cpuAddress, nullptr);
  EXPECT_NE(across->aperture, nullptr);
  auto barred = std::make_unique<MmSurface>();
  MakePlain(barred.get(), kSurfLocal7, kHeapSelFifth, 64);
  barred->windowBarred = 1;
  window.busBase = kBankBOffset + 4 * kMB;
  ASSERT_TRUE(manager()->CreateSurface(barred.get()));
  EXPECT_NE(barred->aperture, nullptr);
  manager()->DestroySurface(barred.get());
  manager()->vertexWindow = nullptr;
}

TEST_F(LocalHeaps, DrawingSyncIsReadFromTheChipInLocalDma) {
  MmSurface* surface = Place(kSurfLocal, kHeapSelThird, 64);
  ASSERT_NE(surface, nullptr);
  ASSERT_EQ(pdev()->sharedLocked->dmaMode, kDmaModeLocal);
  pdev()->sharedLocked->syncTagCounter = 24;
  surface->block->drawSyncTag = 16;
  board_->Poke(kRegSyncTagReached, 4, 8);
  EXPECT_TRUE(surface->IsBusy());
  board_->Poke(kRegSyncTagReached, 4, 0x17);
  EXPECT_FALSE(surface->IsBusy());
}

TEST_F(LocalHeaps, ResetEmptiesEveryHeap) {
  ASSERT_NE(Place(kSurfLocal, kHeapSelThird, 64), nullptr);
  manager()->Reset();
  const MemoryHeap* heap = manager()->HeapOf(kHeapSelThird);
  EXPECT_EQ(heap->BlockCount(), 0u);
  EXPECT_EQ(heap->lowMark, kBankBOffset);
  EXPECT_EQ(heap->highMark, kBankBOffset + 4 * kMB);
}

TEST(MemoryHeap, TopAndBottomBlocksMoveTheirMarks) {
  MemoryBank bank;
  bank.start = 0x1000;
  bank.size = 0x1000;
  bank.Reset();
  uint8_t ok = 0;
  EXPECT_EQ(bank.Allocate(&ok, 0x100, true), 0x1F00u);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(bank.Allocate(&ok, 0x100, false), 0x1000u);
  EXPECT_EQ(bank.lowMark, 0x1100u);
  EXPECT_EQ(bank.highMark, 0x1F00u);
  EXPECT_EQ(bank.FreeSpace(), 0xE00u);
  EXPECT_EQ(bank.Allocate(&ok, 0xE01, false), 0u);
  EXPECT_EQ(ok, 0);
  MemoryHeap heap;
  ASSERT_TRUE(bank.CreateHeap(&heap, 0xE00, false));
  EXPECT_EQ(heap.base, 0x1100u);
  EXPECT_EQ(heap.end, 0x1F00u);
  EXPECT_FALSE(bank.CreateHeap(&heap, 1, true));
  EXPECT_TRUE(bank.Free(0x1F00));
  EXPECT_FALSE(bank.Free(0x1F00));
  EXPECT_EQ(bank.highMark, 0x2000u);
  bank.ResetHeap(&heap, true);
  EXPECT_EQ(heap.size, 0u);
  EXPECT_EQ(heap.highMark, 0u);
}

// ---- Kernel placement ---------------------------------------------------------------------

class KernelPlacement : public KernelMm {
 protected:
  void SetUp() override {
    KernelMm::SetUp();
    kernel_.SetHandler(0x1A, [](uint32_t, void* arg) {
      auto* record = static_cast<OrvLocalMemoryRequest*>(arg);
      if (record->index != 0) return -EINVAL;
      record->size = 48u << 20;
      record->offset = 0x100000;
      return 0;
    });
    kernel_.SetHandler(0x18, [this](uint32_t, void* arg) {
      auto* record = static_cast<OrvBlockRequest*>(arg);
      requests_.push_back(*record);
      record->handle = 0xABCD00000000ull | nextBus_;
      record->second = record->kind == kBlockKindAperture ? 0x20000 : 0x3000;
      record->third = nextBus_ - 0x1000000;
      record->fourth = slotAnswer_;
      nextBus_ += 0x100000;
      return 0;
    });
    // Bus mastering places its command buffers first, elsewhere; the tests
    // watch only their own requests.
    nextBus_ = 0x2200000;
    ASSERT_TRUE(Start());
    ASSERT_FALSE(requests_.empty());
    requests_.clear();
    nextBus_ = 0x1200000;
  }

  std::vector<OrvBlockRequest> requests_;
  uint32_t nextBus_ = 0x1200000;
  uint32_t slotAnswer_ = 3;
};

TEST_F(KernelPlacement, LocalMemoryInfoGivesTheManagersBaseAndSize) {
  EXPECT_EQ(manager()->localMemorySize, 48u << 20);
  EXPECT_EQ(pdev()->memoryRecord->localMemorySize, 48u << 20);
  EXPECT_EQ(manager()->frameBufferCpuBase, frameBuffer() + 0x100000);
  EXPECT_EQ(kernel_.CallsTo(0x1A).size(), 1u);
}

TEST_F(KernelPlacement, SurfaceBlockIsAskedOfTheKernelAndGivenBack) {
  MmSurface surface;
  MakePlain(&surface, kSurfLocalMapped, 21, 5000);
  surface.options.unit = 0;
  const MmSurfAllocOpt asked = surface.options;
  ASSERT_TRUE(manager()->CreateSurface(&surface));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].kind, kBlockKindSurface);
  EXPECT_EQ(memcmp(requests_[0].surfaceOptions, &asked, sizeof(asked)), 0);
  const MmHostApertureOpt defaults;
  EXPECT_EQ(memcmp(requests_[0].apertureOptions, &defaults, sizeof(defaults)), 0);

  ASSERT_NE(surface.block, nullptr);
  EXPECT_EQ(surface.block->busAddress, 0x1200000u);
  EXPECT_EQ(surface.block->size, 0x3000u);
  EXPECT_EQ(surface.block->offset, 0x200000u);
  EXPECT_EQ(surface.block->state, MmBlock::kHoldsMemory);
  EXPECT_EQ(surface.cpuAddress, frameBuffer() + 0x100000 + 0x200000);
  EXPECT_EQ(surface.options.desc.word0, 0x1200000u);

  ASSERT_TRUE(manager()->DestroySurface(&surface));
  const auto frees = kernel_.CallsTo(0x19);
  ASSERT_EQ(frees.size(), 1u);
  OrvBlockRequest freed;
  memcpy(&freed, frees[0].record.data(), sizeof(freed));
  EXPECT_EQ(freed.kind, kBlockKindSurface);
  EXPECT_EQ(freed.handle & 0xFFFFFFFF, 0x1200000u);
  EXPECT_EQ(freed.second, 0x3000u);
  EXPECT_EQ(freed.third, 0x200000u);
  EXPECT_EQ(surface.block, nullptr);
}

// A block in system memory is mapped for the processor; when that mapping
// fails the kernel module's block goes back and no surface is made. The
// fake kernel maps only its own buffers, so the blocks it answers here
// cannot be mapped.
TEST_F(KernelPlacement, ASystemBlockThatCannotBeMappedIsGivenBackToTheKernel) {
  struct Case {
    const char* name;
    uint32_t kind;
    bool made;
  };
  const Case cases[] = {
      {"AGP", kSurfAgp, false},
      {"page-locked", kSurfPciLocked, false},
      {"local, not mapped", kSurfLocal, true},
  };
  for (const Case& c : cases) {
    requests_.clear();
    const size_t freesBefore = kernel_.CallsTo(0x19).size();
    const uint32_t bus = nextBus_;
    MmSurface surface;
    MakePlain(&surface, c.kind, 21, 5000);
    surface.options.unit = 0;
    EXPECT_EQ(manager()->CreateSurface(&surface), c.made) << c.name;
    ASSERT_EQ(requests_.size(), 1u) << c.name;
    const auto frees = kernel_.CallsTo(0x19);
    if (c.made) {
      EXPECT_EQ(frees.size(), freesBefore) << c.name;
      manager()->DestroySurface(&surface);
      continue;
    }
    EXPECT_EQ(surface.block, nullptr) << c.name;
    ASSERT_EQ(frees.size(), freesBefore + 1) << c.name;
    OrvBlockRequest freed;
    memcpy(&freed, frees.back().record.data(), sizeof(freed));
    EXPECT_EQ(freed.handle & 0xFFFFFFFF, bus) << c.name;
    EXPECT_EQ(freed.second, 0x3000u) << c.name;
    EXPECT_EQ(freed.third, bus - 0x1000000) << c.name;
  }
}

TEST_F(KernelPlacement, RefusedBlockCreatesNoSurface) {
  kernel_.SetAnswer(0x18, -ENOMEM);
  MmSurface surface;
  MakePlain(&surface, kSurfLocal, 21, 5000);
  MmSurface* const listed = manager()->surfaceList->next;  // the command buffers
  EXPECT_FALSE(manager()->CreateSurface(&surface));
  EXPECT_EQ(surface.block, nullptr);
  EXPECT_EQ(manager()->surfaceList->next, listed);
}

TEST_F(KernelPlacement, ApertureBlockCarriesTheSurfacesDescriptorAndSlot) {
  MmSurface surface;
  MakePlain(&surface, kSurfLocalAperture, 21, 5000);
  surface.options.apertureWord = 5;
  ASSERT_TRUE(manager()->CreateSurface(&surface));
  uint64_t apertureAddress = 0;
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(surface.aperture->Lock(&apertureAddress, &cpu));
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[1].kind, kBlockKindAperture);
  MmHostApertureOpt sent;
  memcpy(&sent, requests_[1].apertureOptions, sizeof(sent));
  EXPECT_EQ(sent.apertureWord, 5u);
  EXPECT_EQ(sent.desc.word0, surface.busWord);
  EXPECT_EQ(sent.desc.size, 5000u);
  EXPECT_EQ(surface.aperture->slotIndex, 3);
  EXPECT_EQ(apertureAddress, 0x300000u);
  EXPECT_EQ(cpu, frameBuffer() + 0x300000);
  EXPECT_EQ(surface.aperture->size, 5024u);
  surface.aperture->Unlock();
  ASSERT_TRUE(manager()->DestroySurface(&surface));
  EXPECT_EQ(kernel_.CallsTo(0x19).size(), 2u);  // the aperture block and the surface block
}

TEST_F(KernelPlacement, ApertureWithoutSlotIsGivenBackAtOnce) {
  slotAnswer_ = 0xFFFFFFFF;
  MmSurface surface;
  MakePlain(&surface, kSurfLocalAperture, 21, 5000);
  ASSERT_TRUE(manager()->CreateSurface(&surface));
  EXPECT_FALSE(surface.aperture->Lock(nullptr, nullptr));
  EXPECT_EQ(surface.aperture->block, nullptr);
  EXPECT_EQ(kernel_.CallsTo(0x19).size(), 1u);
  manager()->DestroySurface(&surface);
}

TEST_F(KernelPlacement, WindowMarkedForReleaseGoesBackWithItsLastLock) {
  slotAnswer_ = static_cast<uint32_t>(kSlotReleaseOnUnlock);
  MmSurface surface;
  MakePlain(&surface, kSurfLocalAperture, 21, 5000);
  ASSERT_TRUE(manager()->CreateSurface(&surface));
  ASSERT_TRUE(surface.aperture->Lock(nullptr, nullptr));
  ASSERT_TRUE(surface.aperture->Lock(nullptr, nullptr));
  surface.aperture->Unlock();
  EXPECT_NE(surface.aperture->block, nullptr);
  surface.aperture->Unlock();
  EXPECT_EQ(surface.aperture->block, nullptr);
  EXPECT_EQ(kernel_.CallsTo(0x19).size(), 1u);
  manager()->DestroySurface(&surface);
}

TEST_F(KernelPlacement, AgpBufferIsDeclaredToThePhysicalMapperUntilFreed) {
  void* cpu = nullptr;
  uint64_t bus = 0;
  CommonData* common = pdev()->common;
  ASSERT_TRUE(MmAllocateAGPBuffer(common, 0, 3, &cpu, &bus));
  const auto allocs = kernel_.CallsTo(0x01);
  ASSERT_FALSE(allocs.empty());
  orv_ioctl_buffer sent;
  memcpy(&sent, allocs.back().record.data(), sizeof(sent));
  EXPECT_EQ(sent.kind, kOrvBufferAgp);
  EXPECT_EQ(sent.size, 3u * 4096);
  EXPECT_EQ(common->physMemMapper->GetBufferLinAddress(bus + 0x2345),
            reinterpret_cast<uint64_t>(cpu) + 0x2345);
  static_cast<uint8_t*>(cpu)[3 * 4096 - 1] = 1;  // the whole buffer is mapped

  ASSERT_TRUE(MmFreeAGPBuffer(common, 0, cpu));
  EXPECT_EQ(common->physMemMapper->BufferCount(), 0u);
  EXPECT_FALSE(MmFreeAGPBuffer(common, 0, cpu));  // not declared any more
}

TEST_F(KernelPlacement, PciLockedBufferUsesTheLockedKind) {
  void* cpu = nullptr;
  uint64_t bus = 0;
  ASSERT_TRUE(MmAllocatePciLockedBuffer(pdev()->common, 0, 1, &cpu, &bus));
  orv_ioctl_buffer sent;
  memcpy(&sent, kernel_.CallsTo(0x01).back().record.data(), sizeof(sent));
  EXPECT_EQ(sent.kind, kOrvBufferSharedLocked);
  EXPECT_TRUE(MmFreePciLockedBuffer(pdev()->common, 0, cpu));
  kernel_.SetAnswer(0x01, -ENOMEM);
  EXPECT_FALSE(MmAllocatePciLockedBuffer(pdev()->common, 0, 1, &cpu, &bus));
}

}  // namespace
