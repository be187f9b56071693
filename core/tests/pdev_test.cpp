// Device objects: shared blocks, the ring of a board's heads and the
// component table, on the simulated board (local DMA) and against the fake
// kernel endpoint.
#include "core/pdev.h"

#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/driver_switches.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/shared_blocks.h"
#include "core/tests/pdev_fixture.h"

namespace {

using coretest::Head;
using coretest::KernelNodeTest;
using coretest::LocalBoardTest;

// ---- Local DMA on the simulated board ------------------------------------------------

struct LocalCase {
  const char* name;
  uint16_t deviceId;
  uint8_t revision;
  bool frameBuffer64;
  uint64_t memorySize;
  uint32_t registerBar;       // where the register window must come from
  uint32_t revisionBits;
};

void PrintTo(const LocalCase& c, std::ostream* out) { *out << c.name; }

const LocalCase kLocalCases[] = {
    {"Kestrion1Rev3", orvsim::kDeviceKestrion1, 3, false, 128u << 20, 0x14, 0x10},
    {"Kestrion2Rev6", orvsim::kDeviceKestrion2, 6, false, 64u << 20, 0x14, 0x100},
    {"Next1Rev2With64BitFrameBuffer", orvsim::kDeviceKestrionNext1, 2, true, 128u << 20, 0x18,
     0x800},
    {"Next3Rev7With64BitFrameBuffer", orvsim::kDeviceKestrionNext3, 7, true, 64u << 20, 0x18,
     0x40000},
};

class LocalSharedBlock : public LocalBoardTest,
                         public testing::WithParamInterface<LocalCase> {};

TEST_P(LocalSharedBlock, IsFilledFromConfigurationSpace) {
  const LocalCase& c = GetParam();
  orvsim::BoardConfig config;
  config.device_id = c.deviceId;
  config.revision = c.revision;
  config.frame_buffer_64bit = c.frameBuffer64;
  config.memory_size = c.memorySize;
  // The block holds 32-bit physical addresses: keep the range below 4 GiB.
  config.frame_buffer_base = 0xC0000000;
  orvsim::Board& board = AddBoard(config);
  EXPECT_EQ(board.RegisterBarOffset(), c.registerBar);

  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  const SharedLockedData_t* shared = head.pdev->sharedLocked;

  const std::optional<orvsim::BarInfo> memory = board.Bar(orvsim::ResourceKind::kMemory);
  const std::optional<orvsim::BarInfo> registers = board.Bar(orvsim::ResourceKind::kRegisters);
  ASSERT_TRUE(memory.has_value());
  ASSERT_TRUE(registers.has_value());
  EXPECT_EQ(shared->frameBufferPhys, memory->base);
  EXPECT_EQ(shared->frameBufferSize, memory->size);
  EXPECT_EQ(shared->frameBufferHalf[0], memory->size / 2);
  EXPECT_EQ(shared->frameBufferHalf[1], memory->size / 2);
  EXPECT_EQ(shared->registerPhys, registers->base);
  EXPECT_EQ(shared->registerSize, registers->size);
  EXPECT_EQ(shared->revisionBits, c.revisionBits);
  EXPECT_EQ(head.pdev->revisionBits, c.revisionBits);
  EXPECT_EQ(head.pdev->common->revisionBits, c.revisionBits);
  EXPECT_EQ(shared->dmaMode, kDmaModeLocal);

  // The shared data block is 24 zero bytes without the kernel module.
  const uint8_t zeros[sizeof(SharedData_t)] = {};
  EXPECT_EQ(memcmp(head.pdev->sharedData, zeros, sizeof(zeros)), 0);

  // The register mapping reaches the board: a guarded write shows in its log.
  EXPECT_EQ(shared->registerMapping, reinterpret_cast<uintptr_t>(head.pdev->common->registers));
  EXPECT_NE(shared->frameBufferMapping, 0u);
}

INSTANTIATE_TEST_SUITE_P(Boards, LocalSharedBlock, testing::ValuesIn(kLocalCases),
                         [](const testing::TestParamInfo<LocalCase>& info) {
                           return std::string(info.param.name);
                         });

using LocalPdev = LocalBoardTest;

TEST_F(LocalPdev, LastRegisterWordIsSharedAndHandedBack) {
  AddBoard();
  Head& head = Construct(0, 0x1234);
  ASSERT_EQ(head.ok, 1);
  SharedLockedData_t* shared = head.pdev->sharedLocked;
  EXPECT_EQ(shared->lastRegWritten, 0x1234u);
  EXPECT_EQ(head.mode.lastRegWritten, reinterpret_cast<uintptr_t>(&shared->lastRegWritten));
  // The object's copy carries the rewritten pointer too.
  EXPECT_EQ(head.pdev->mode.lastRegWritten, head.mode.lastRegWritten);

  shared->lastRegWritten = 0x1A04;
  Destroy(head);
  // The caller's pointer is back on its own word, which holds the last value.
  EXPECT_EQ(head.mode.lastRegWritten, reinterpret_cast<uintptr_t>(&head.lastRegWord));
  EXPECT_EQ(head.lastRegWord, 0x1A04u);
}

TEST_F(LocalPdev, NullDeviceGivesAnInertObject) {
  uint32_t word = 7;
  VideoMode mode = coretest::MakeMode(0, &word, true);
  uint64_t live = box_.LiveAllocations();
  uint8_t ok = 0xEE;
  PDEV* pdev = new PDEV(nullptr, &mode, 0, &ok);
  ASSERT_NE(pdev, nullptr);
  EXPECT_EQ(ok, 0);
  delete pdev;
  EXPECT_EQ(box_.LiveAllocations(), live);
  EXPECT_EQ(mode.lastRegWritten, reinterpret_cast<uintptr_t>(&word));
}

// What a construction that stopped at `failRow` must leave once the object
// is deleted: nothing of the rows before it (allocations, mappings, the
// board's blocks).
void ExpectOnlyTheRowsBeforeUndone(Head& head, int failRow, const LnxDevice& device,
                                   uint64_t liveBefore, const xstub::Sandbox& box) {
  delete head.pdev;
  head.pdev = nullptr;
  for (const LnxBufferRecord& record : device.buffers) EXPECT_EQ(record.address, nullptr);
  EXPECT_EQ(box.LiveAllocations(), liveBefore) << "failed at row " << failRow;
  EXPECT_EQ(box.MappingCount(), 0u) << "failed at row " << failRow;
}

// What the rows before a failure built, and that the failing real row left
// nothing of its own behind.
void ExpectRowsBuiltBefore(const PDEV* pdev, int failRow) {
  const CommonData* common = pdev->common;
  EXPECT_EQ(common->physMemMapper != nullptr, failRow > 1) << failRow;
  EXPECT_EQ(common->registers != nullptr, failRow > 3) << failRow;
  EXPECT_EQ(common->bmFlags != nullptr, failRow > 7) << failRow;
  EXPECT_EQ(common->driverSwitches != nullptr, failRow > 8) << failRow;
  EXPECT_EQ(common->memoryRecord != nullptr, failRow > 9) << failRow;
  EXPECT_EQ(common->surfDesc2dList != nullptr, failRow > 12) << failRow;
  EXPECT_EQ(common->primInt != nullptr, failRow > 13) << failRow;
  EXPECT_EQ(pdev->data2d.hostCache != nullptr, failRow > 14) << failRow;
  EXPECT_EQ(pdev->data2d.tempBits[0] != nullptr, failRow > 16) << failRow;
  EXPECT_EQ(common->context2d != nullptr, failRow > 17) << failRow;
  EXPECT_EQ(common->twoColourCursors[3] != nullptr, failRow > 20) << failRow;
  EXPECT_EQ(pdev->pointer.sixteenColour[3] != nullptr, failRow > 20) << failRow;
  EXPECT_EQ(common->featureMgr != nullptr, failRow > 21) << failRow;
}

TEST_F(LocalPdev, RefusedAllocationAnywhereStopsAtItsRowAndUndoesTheRowsBefore) {
  AddBoard();
  // A complete construction gives the number of allocations to refuse.
  const uint64_t live = box_.LiveAllocations();
  const uint64_t before = box_.AllocationCount();
  {
    Head& head = Construct(0);
    ASSERT_EQ(head.ok, 1);
    Destroy(head);
  }
  const uint64_t total = box_.AllocationCount() - before;
  ASSERT_EQ(box_.LiveAllocations(), live);

  std::vector<int> failedRows;
  for (uint64_t nth = 1; nth <= total; ++nth) {
    orvstandin::Reset();
    box_.FailAllocation(nth);
    Head& head = Construct(0);
    box_.FailAllocation(0);
    if (head.pdev == nullptr) continue;  // the object itself was refused
    if (head.ok) {  // a refusal the components get over
      Destroy(head);
      EXPECT_EQ(box_.LiveAllocations(), live) << "allocation " << nth;
      continue;
    }
    if (!head.pdev->buffersHeld) {
      // Refused while getting the board's blocks: no row ran; the blocks
      // obtained so far stay with the device until it releases them.
      EXPECT_EQ(head.pdev->initialisedCount, 0);
      Destroy(head);
      OsReleaseCommonBuffers(device_.get());
      EXPECT_EQ(box_.LiveAllocations(), live) << "allocation " << nth;
      continue;
    }
    const int row = head.pdev->initialisedCount;
    if (failedRows.empty() || failedRows.back() != row) failedRows.push_back(row);
    ExpectRowsBuiltBefore(head.pdev, row);
    ExpectOnlyTheRowsBeforeUndone(head, row, *device_, live, box_);
    if (HasFailure()) {
      ADD_FAILURE() << "refused allocation " << nth << " of " << total;
      break;
    }
  }
  // Every real row that allocates was made to fail.
  for (int row : {1, 7, 8, 9, 12, 13, 14, 16, 17, 20, 21}) {
    EXPECT_NE(std::find(failedRows.begin(), failedRows.end(), row), failedRows.end()) << row;
  }
}

TEST_F(LocalPdev, FrameBufferSizeTheMemoryManagerRefusesStopsAtItsRow) {
  orvsim::BoardConfig config = coretest::LocalBoardConfig();
  config.memory_size = 32u << 20;
  AddBoard(config);
  const uint64_t live = box_.LiveAllocations();
  Head& head = Construct(0);
  EXPECT_EQ(head.ok, 0);
  ASSERT_EQ(head.pdev->initialisedCount, 9);
  ExpectRowsBuiltBefore(head.pdev, 9);
  ExpectOnlyTheRowsBeforeUndone(head, 9, *device_, live, box_);
}

TEST_F(LocalPdev, CompleteObjectRanEveryRowOnce) {
  AddBoard();
  ASSERT_EQ(Construct(0).ok, 1);
  orvstandin::Reset();
  Head& head = Construct(2);
  ASSERT_EQ(head.ok, 1);
  EXPECT_EQ(head.pdev->initialisedCount, kPdevComponentCount);
  // The real rows' objects, shared by the board and pointed to by the head.
  PDEV* pdev = head.pdev;
  ExpectRowsBuiltBefore(pdev, kPdevComponentCount);
  EXPECT_EQ(pdev->physMemMapper, pdev->common->physMemMapper);
  EXPECT_EQ(pdev->bmFlags, pdev->common->bmFlags);
  EXPECT_EQ(pdev->memoryRecord, pdev->common->memoryRecord);
  EXPECT_EQ(pdev->surfaceManager, pdev->common->memoryManager);
  EXPECT_EQ(pdev->primInt, pdev->common->primInt);
  EXPECT_EQ(pdev->surfaceManager->primInt, pdev->primInt);
  // Row 0: the unit's request manager holds the device.
  EXPECT_EQ(IocRequestGet(head.pdev->common->requestSlots, 2), device_.get());
  EXPECT_EQ(IocRequestGet(head.pdev->common->requestSlots, 1), nullptr);
}

TEST_F(LocalPdev, TwoHeadsShareTheBoardAndTheLastReleasesIt) {
  AddBoard();
  Head& first = Construct(0);
  ASSERT_EQ(first.ok, 1);
  const LnxBufferRecord recordsBefore[4] = {device_->buffers[0], device_->buffers[1],
                                            device_->buffers[2], device_->buffers[3]};
  uint64_t allocationsBefore = box_.AllocationCount();
  Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);

  PDEV* a = first.pdev;
  PDEV* b = second.pdev;
  EXPECT_EQ(a->common, b->common);
  EXPECT_EQ(a->sharedLocked, b->sharedLocked);
  EXPECT_EQ(a->sharedData, b->sharedData);
  EXPECT_EQ(a->commonLocked, b->commonLocked);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(device_->buffers[i].address, recordsBefore[i].address) << i;
    EXPECT_EQ(device_->buffers[i].size, recordsBefore[i].size) << i;
  }
  // The second head allocates only itself, its local switch set and its
  // own 2D objects: the host cache (object, memory, slot owners), the
  // device-bitmap pool (object, one chunk), the scratch buffer of its
  // controller and its three temporary bitmaps.
  EXPECT_EQ(box_.AllocationCount() - allocationsBefore, 2u + 3u + 2u + 1u + 3u);

  // Inserted after the head, which stays.
  EXPECT_EQ(a->common->ringHead, a);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, a);
  EXPECT_EQ(a->previous, b);
  EXPECT_TRUE(a->IsFirstForThisUnit());
  EXPECT_FALSE(a->IsFirstForBoard());

  CommonData* common = a->common;
  Destroy(first);
  EXPECT_EQ(common->ringHead, b);
  EXPECT_EQ(b->next, b);
  EXPECT_EQ(device_->buffers[0].address, common);
  // The board-wide objects stay for the remaining head.
  EXPECT_NE(common->registers, nullptr);
  EXPECT_NE(common->driverSwitches, nullptr);
  EXPECT_EQ(IocRequestGet(common->requestSlots, 1), device_.get());
  EXPECT_EQ(IocRequestGet(common->requestSlots, 0), nullptr);

  Destroy(second);
  for (const LnxBufferRecord& record : device_->buffers) EXPECT_EQ(record.address, nullptr);

  // A new object starts from fresh, zeroed common data.
  Head& third = Construct(0);
  ASSERT_EQ(third.ok, 1);
  EXPECT_EQ(third.pdev->common->ringHead, third.pdev);
  EXPECT_EQ(IocRequestGet(third.pdev->common->requestSlots, 1), nullptr);
  const uint8_t* area = third.pdev->common->componentArea;
  for (size_t i = 0; i < sizeof(third.pdev->common->componentArea); ++i) {
    ASSERT_EQ(area[i], 0) << i;
  }
}

TEST_F(LocalPdev, UnitTestsSeeOnlyOtherObjectsOfTheSameUnit) {
  AddBoard();
  Head& zero = Construct(0);
  ASSERT_EQ(zero.ok, 1);
  Head& a = Construct(1);
  Head& b = Construct(1);
  Head& c = Construct(3);
  ASSERT_TRUE(a.ok && b.ok && c.ok);
  EXPECT_FALSE(a.pdev->IsFirstForThisUnit());
  EXPECT_FALSE(b.pdev->IsLastForThisUnit());
  EXPECT_TRUE(c.pdev->IsFirstForThisUnit());
  // The unit keeps its request manager until its last object goes.
  CommonData* common = a.pdev->common;
  Destroy(a);
  EXPECT_EQ(IocRequestGet(common->requestSlots, 1), device_.get());
  Destroy(b);
  EXPECT_EQ(IocRequestGet(common->requestSlots, 1), nullptr);
  EXPECT_EQ(IocRequestGet(common->requestSlots, 3), device_.get());
}

// A board driven only on a later head: its board-wide requests go through
// the device in that head's slot, and unit 0's slot stays empty.
class HeadWithoutUnitZero : public LocalBoardTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(HeadWithoutUnitZero, BuildsTheBoardAndGivesEverythingBack) {
  AddBoard();
  const uint64_t live = box_.LiveAllocations();
  Head& head = Construct(GetParam());
  ASSERT_EQ(head.ok, 1);
  EXPECT_EQ(head.pdev->initialisedCount, kPdevComponentCount);
  const CommonData* common = head.pdev->common;
  EXPECT_EQ(IocRequestGet(common->requestSlots, 0), nullptr);
  EXPECT_EQ(IocRequestGet(common->requestSlots, GetParam()), device_.get());
  EXPECT_NE(common->memoryManager, nullptr);
  Destroy(head);
  for (const LnxBufferRecord& record : device_->buffers) EXPECT_EQ(record.address, nullptr);
  EXPECT_EQ(box_.LiveAllocations(), live);
  EXPECT_EQ(box_.MappingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Units, HeadWithoutUnitZero, testing::Values(1u, 2u, 3u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           return "Unit" + std::to_string(info.param);
                         });

TEST_F(LocalPdev, GetActiveAnswersTheFirstActiveObjectOfTheUnitFromTheHead) {
  EXPECT_EQ(PDEV::GetActive(nullptr, 0), nullptr);
  AddBoard();
  Head& a = Construct(0);
  Head& b = Construct(0);
  Head& c = Construct(0);
  ASSERT_TRUE(a.ok && b.ok && c.ok);
  CommonData* common = a.pdev->common;
  EXPECT_EQ(PDEV::GetActive(common, 0), nullptr);
  // Ring order from the head: a, c, b (each new object goes right after it).
  b.pdev->Activate();
  c.pdev->Activate();
  EXPECT_EQ(PDEV::GetActive(common, 0), c.pdev);
  EXPECT_EQ(PDEV::GetActive(common, 1), nullptr);
  c.pdev->Desactivate();
  EXPECT_EQ(PDEV::GetActive(common, 0), b.pdev);
}

TEST_F(LocalPdev, CommonBufferRequestOfAnotherSizeFailsAndKeepsTheRecord) {
  AddBoard();
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  const LnxBufferRecord kept = device_->buffers[kCommonBufferSharedLocked];
  for (int index = 0; index < 4; ++index) {
    CommonBufferRequest request = {
        {kCommonDataSize, kCommonLockedSize, kSharedDataSize, kSharedLockedSize}, {}};
    request.size[index] += 8;
    EXPECT_FALSE(OsGetCommonBuffers(device_.get(), &request)) << index;
  }
  EXPECT_EQ(device_->buffers[kCommonBufferSharedLocked].address, kept.address);
  EXPECT_EQ(device_->buffers[kCommonBufferSharedLocked].size, kept.size);
}

TEST_F(LocalPdev, MappingsReachTheBoardsFrameBufferAndRegisters) {
  orvsim::Board& board = AddBoard();
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  CommonData* common = head.pdev->common;
  ASSERT_NE(common->frameBuffer, nullptr);
  common->frameBuffer[0x1234] = 0x5A;
  EXPECT_EQ(board.Memory()[0x1234], 0x5A);
  board.ClearLog();
  memWriteDword(common->registers, 0x1040, 0x600D);
  ASSERT_EQ(board.LoggedWrites().size(), 1u);
  EXPECT_EQ(board.LoggedWrites()[0].offset, 0x1040u);
  EXPECT_EQ(board.LoggedWrites()[0].value, 0x600Du);
  Destroy(head);
  EXPECT_EQ(box_.MappingCount(), 0u);
}

// ---- Kernel module ------------------------------------------------------------------------

using KernelPdev = KernelNodeTest;

TEST_F(KernelPdev, SharedBlocksAreMappedFromTheModuleAndFreedWithTheSameRecords) {
  Head& head = Construct(0, 0x2200);
  ASSERT_EQ(head.ok, 1);
  EXPECT_EQ(head.pdev->kernelHandle, 0x55u);

  auto allocations = kernel_.CallsTo(0x01);
  ASSERT_EQ(allocations.size(), 2u);
  xstub::BufferRecord sent[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(allocations[i].record.size(), sizeof(xstub::BufferRecord));
    memcpy(&sent[i], allocations[i].record.data(), sizeof(sent[i]));
    EXPECT_EQ(sent[i].flags, 2u);
    EXPECT_EQ(sent[i].reserved, 0u);
    EXPECT_EQ(sent[i].offset, 0u);
  }
  EXPECT_EQ(sent[0].kind, 3u);
  EXPECT_EQ(sent[0].size, 24u);
  EXPECT_EQ(sent[1].kind, 1u);
  EXPECT_EQ(sent[1].size, 2784u);
  EXPECT_EQ(box_.MappingCount(), 2u);

  // The blocks are the module's memory.
  const LnxBufferRecord& locked = device_->buffers[kCommonBufferSharedLocked];
  const xstub::FakeKernel::Buffer* buffer = kernel_.FindBuffer(locked.offset);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->kind, 1u);
  head.pdev->sharedLocked->syncTagCounter = 0xABCD;
  uint32_t inModule;
  memcpy(&inModule, buffer->memory + offsetof(SharedLockedData_t, syncTagCounter), 4);
  EXPECT_EQ(inModule, 0xABCDu);
  EXPECT_EQ(head.pdev->sharedLocked->lastRegWritten, 0x2200u);

  const uint64_t sharedOffset = device_->buffers[kCommonBufferShared].offset;
  const uint64_t lockedOffset = locked.offset;
  Destroy(head);

  auto frees = kernel_.CallsTo(0x02);
  ASSERT_EQ(frees.size(), 2u);
  xstub::BufferRecord freed[2];
  for (int i = 0; i < 2; ++i) memcpy(&freed[i], frees[i].record.data(), sizeof(freed[i]));
  EXPECT_EQ(freed[0].kind, 3u);
  EXPECT_EQ(freed[0].flags, 2u);
  EXPECT_EQ(freed[0].size, 24u);
  EXPECT_EQ(freed[0].offset, sharedOffset);
  EXPECT_EQ(freed[1].kind, 1u);
  EXPECT_EQ(freed[1].flags, 2u);
  EXPECT_EQ(freed[1].size, 2784u);
  EXPECT_EQ(freed[1].offset, lockedOffset);
  EXPECT_EQ(frees[0].answer, 0);
  EXPECT_EQ(frees[1].answer, 0);
  EXPECT_EQ(box_.MappingCount(), 0u);
  EXPECT_EQ(kernel_.BufferCount(), 0u);
  EXPECT_EQ(head.lastRegWord, 0x2200u);
}

TEST_F(KernelPdev, CallersMappingsAreUsedAndKept) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  CommonData* common = head.pdev->common;
  EXPECT_EQ(common->frameBuffer, frameBuffer_.data());
  EXPECT_EQ(common->registers, registers_.data());
  const SharedLockedData_t* shared = head.pdev->sharedLocked;
  EXPECT_EQ(shared->frameBufferSize, frameBuffer_.size());
  EXPECT_EQ(shared->frameBufferMapping, reinterpret_cast<uintptr_t>(frameBuffer_.data()));
  EXPECT_EQ(shared->registerMapping, reinterpret_cast<uintptr_t>(registers_.data()));
  // Only the two shared blocks are mapped from the node.
  EXPECT_EQ(box_.MappingCount(), 2u);
}

TEST_F(KernelPdev, HeadWithoutUnitZeroAsksTheModuleThroughItsOwnSlot) {
  Head& head = Construct(2);
  ASSERT_EQ(head.ok, 1);
  EXPECT_EQ(IocRequestGet(head.pdev->common->requestSlots, 0), nullptr);
  // The memory manager's local-memory request reached the module, and so do
  // its aperture blocks.
  EXPECT_EQ(kernel_.CallsTo(0x1a).size(), 1u);
  MmSurfaceMapper* mapper = head.pdev->memoryRecord->mapper;
  int32_t slot = kSlotNone;
  MmBlock* block = mapper->AllocateApertureBlock(MmHostApertureOpt(), &slot);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(kernel_.CallsTo(0x18).size(), 1u);
  mapper->FreeApertureBlock(block);
  EXPECT_EQ(kernel_.CallsTo(0x19).size(), 1u);
  Destroy(head);
  EXPECT_EQ(kernel_.BufferCount(), 0u);
  EXPECT_EQ(box_.MappingCount(), 0u);
}

TEST_F(KernelPdev, RefusedSharedBlockStopsConstructionBeforeAnyRow) {
  kernel_.SetAnswer(0x01, -ENOMEM);
  Head& head = Construct(0);
  EXPECT_EQ(head.ok, 0);
  EXPECT_EQ(head.pdev->buffersHeld, 0);
  EXPECT_EQ(head.pdev->initialisedCount, 0);
  EXPECT_EQ(box_.MappingCount(), 0u);
  // The caller's word stays its own.
  EXPECT_EQ(head.mode.lastRegWritten, reinterpret_cast<uintptr_t>(&head.lastRegWord));
  // The process blocks obtained before the refusal stay with the device.
  EXPECT_NE(device_->buffers[kCommonBufferData].address, nullptr);
  OsReleaseCommonBuffers(device_.get());
}

}  // namespace
