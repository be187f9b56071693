// The glue stand-in on its own, driven through a small fake core: what it
// hands out, what it refuses, and the rules it holds the core to.
#include "platform/kglue/glue.h"

#include <errno.h>
#include <stdarg.h>
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/orv_ioctl.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/kglue.h"
#include "platform/kglue/tests/fake_core.h"

namespace {

using namespace kglue_test;

int ToString(char* buffer, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int length = dbgOutputToStringVA(buffer, size, format, arguments);
  va_end(arguments);
  return length;
}

class GlueTest : public ::testing::Test {
 protected:
  GlueTest() : board(sim.AddBoard(orvsim::BoardConfig())) {
    g_core = &core;
    glue.Use(&kFakeDriver);
    device = glue.AddBoard(board, kglue::BoardOptions{0x10, 5});
    glue.Load();
    glue.CreateDevice(device);
  }
  ~GlueTest() override { g_core = nullptr; }

  orvsim::Simulation sim;
  orvsim::Board& board;
  FakeCore core;
  kglue::Glue glue;
  OrvDevice* device;
};

TEST_F(GlueTest, RegionsComeFromTheArenaZeroedWithTheirBookkeeping) {
  OrvContext* pool = glue.OwnContext(device);
  OrvRegion* a = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, kOrvRegionShared, 0);
  OrvRegion* b = OrvRegion_Alloc(pool, 2784, kOrvRegionLocked, kOrvRegionShared, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (OrvRegion* r : {a, b}) {
    const uint64_t bus = OrvRegion_GetPhys(r);
    EXPECT_GE(bus, kglue::kArenaBusBase);
    EXPECT_LT(bus, kglue::kArenaBusBase + kglue::kArenaSize);
    EXPECT_EQ(bus % kglue::kPageSize, 0u);
    const auto* bytes = static_cast<const uint8_t*>(OrvRegion_GetLinear(r));
    for (uint32_t i = 0; i < OrvRegion_GetSize(r); ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(glue.ResolveBus(bus, OrvRegion_GetSize(r)), bytes);
    EXPECT_EQ(glue.ResolveBus(bus, OrvRegion_GetSize(r) + 1), nullptr);  // past the size
  }
  EXPECT_NE(OrvRegion_GetPhys(a), OrvRegion_GetPhys(b));
  EXPECT_EQ(OrvRegion_FindFromVirtual(device, OrvRegion_GetLinear(b)), b);
  EXPECT_EQ(OrvRegion_FindFromVirtual(device, static_cast<uint8_t*>(OrvRegion_GetLinear(b)) + 4),
            nullptr);

  EXPECT_EQ(glue.RegionRefCount(OrvRegion_GetLinear(a)), 0);
  OrvRegion_IncrementRefCount(a);
  OrvRegion_IncrementRefCount(a);
  EXPECT_EQ(OrvRegion_DecrementRefCountAndTest(a), 0);
  EXPECT_EQ(OrvRegion_DecrementRefCountAndTest(a), 1);
  const uint64_t busB = OrvRegion_GetPhys(b);
  OrvRegion_Free(pool, a);
  OrvRegion_Free(pool, b);
  EXPECT_TRUE(glue.Misuses().empty());
  EXPECT_EQ(glue.LiveRegions(), 0u);
  EXPECT_EQ(glue.ArenaBytesInUse(), 0u);
  EXPECT_EQ(glue.ResolveBus(busB, 4), nullptr);

  // Misuse is counted, not silent.
  EXPECT_EQ(OrvRegion_Alloc(pool, 24, 2, 0, 0), nullptr);
  OrvRegion* held = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, 0, 0);
  OrvRegion_IncrementRefCount(held);
  OrvRegion_Free(pool, held);
  EXPECT_EQ(glue.Misuses().size(), 2u);
}

// Freed pages read zero when taken again, whether they were a small run
// (cleared whole) or a large one (its touched pages cleared), wholly or
// partly written.
TEST_F(GlueTest, FreedPagesReadZeroWhenTakenAgain) {
  for (uint32_t size : {24u, 16u * kglue::kPageSize, 17u * kglue::kPageSize, 1u << 20}) {
    void* cpu = nullptr;
    const uint64_t bus = OsAllocLockedPages(device, (size + kglue::kPageSize - 1) / kglue::kPageSize,
                                            0, 1, &cpu);
    ASSERT_NE(bus, 0u) << size;
    memset(cpu, 0xA5, (size + kglue::kPageSize - 1) / kglue::kPageSize * kglue::kPageSize);
    ASSERT_NE(OsFreeLockedPages(device, bus, cpu,
                                (size + kglue::kPageSize - 1) / kglue::kPageSize), 0);
    OrvRegion* again = OrvRegion_Alloc(glue.OwnContext(device), size, kOrvRegionPlain, 0, 0);
    ASSERT_EQ(OrvRegion_GetPhys(again), bus) << size;
    const auto* bytes = static_cast<const uint8_t*>(OrvRegion_GetLinear(again));
    for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], 0) << size << " at " << i;
    OrvRegion_Free(glue.OwnContext(device), again);
  }
  // A long run of which only a few scattered pages were written.
  constexpr uint32_t kPages = 300;
  void* cpu = nullptr;
  const uint64_t bus = OsAllocLockedPages(device, kPages, 0, 1, &cpu);
  ASSERT_NE(bus, 0u);
  auto* written = static_cast<uint8_t*>(cpu);
  for (uint32_t page : {0u, 7u, 256u, kPages - 1}) written[page * kglue::kPageSize + 100] = 0x5A;
  ASSERT_NE(OsFreeLockedPages(device, bus, cpu, kPages), 0);
  OrvRegion* again = OrvRegion_Alloc(glue.OwnContext(device), kPages * kglue::kPageSize, kOrvRegionPlain, 0, 0);
  ASSERT_EQ(OrvRegion_GetPhys(again), bus);
  const auto* bytes = static_cast<const uint8_t*>(OrvRegion_GetLinear(again));
  for (uint32_t i = 0; i < kPages * kglue::kPageSize; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
  OrvRegion_Free(glue.OwnContext(device), again);
  EXPECT_TRUE(glue.Misuses().empty());
}

TEST_F(GlueTest, FailureInjectionAimsAtTheNthAllocationOfAKind) {
  OrvContext* pool = glue.OwnContext(device);
  glue.FailAllocation(2, kglue::AllocKind::kRegion);
  void* memory = memAlloc(16);  // not a region: not counted
  OrvRegion* first = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, 0, 0);
  OrvRegion* second = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, 0, 0);
  OrvRegion* third = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, 0, 0);
  EXPECT_NE(memory, nullptr);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  glue.FailAllocation(1);  // any kind: the next one
  EXPECT_EQ(memAlloc(4), nullptr);
  void* next = memAlloc(4);  // one shot
  EXPECT_NE(next, nullptr);
  EXPECT_EQ(glue.FailedAllocations(), 2u);
  memFree(next);
  memFree(memory);
  OrvRegion_Free(pool, first);
  OrvRegion_Free(pool, third);
}

TEST_F(GlueTest, MemoryIsZeroedAndAccountedByFileAndLine) {
  const size_t before = glue.LiveBlocks().size();
  const kglue::Glue::BlockTotals totals = glue.LiveBlockTotals();
  EXPECT_EQ(totals.count, before);
  auto* block = static_cast<uint8_t*>(memFileAlloc(40, "heaps.cpp", 77));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(glue.LiveBlockTotals(), (kglue::Glue::BlockTotals{before + 1, totals.bytes + 40}));
  for (int i = 0; i < 40; ++i) EXPECT_EQ(block[i], 0);
  bool found = false;
  for (const kglue::LiveBlock& live : glue.LiveBlocks()) {
    if (live.address == block) {
      found = true;
      EXPECT_EQ(live.size, 40u);
      EXPECT_EQ(live.file, "heaps.cpp");
      EXPECT_EQ(live.line, 77);
    }
  }
  EXPECT_TRUE(found);
  memFree(block);
  EXPECT_EQ(glue.LiveBlocks().size(), before);
  EXPECT_EQ(glue.LiveBlockTotals(), totals);
}

using GlueDeathTest = GlueTest;

TEST_F(GlueDeathTest, DoubleAndForeignFreesEndTheTest) {
  void* block = memAlloc(8);
  memFree(block);
  // The address sanitizer may see the read of the freed block first.
  EXPECT_DEATH(memFree(block), "not a live block of memAlloc|heap-use-after-free");
  uint64_t local[8] = {};
  EXPECT_DEATH(memFree(&local[7]), "not a live block of memAlloc");
}

TEST_F(GlueDeathTest, AnEntryPointThatLeavesTheFpuBracketOpenEndsTheTest) {
  EXPECT_DEATH(OsExitFPUMode(), "without OsEnterFPUMode");
  core.leaveFpuOpen = true;
  EXPECT_DEATH(glue.Open(device), "OpenClient returned with the floating-point bracket open");
}

TEST_F(GlueDeathTest, ABoardInsideTheArenaIsRefused) {
  orvsim::BoardConfig config;
  config.register_base = kglue::kArenaBusBase + 0x100000;
  orvsim::Board& inside = sim.AddBoard(config);
  EXPECT_DEATH(glue.AddBoard(inside), "overlaps the glue's bus arena");
}

TEST_F(GlueTest, RequestsAreCheckedForTypeAndSizeBeforeTheirHandler) {
  kglue::File* file = glue.Open(device, 42);
  ASSERT_NE(file, nullptr);
  uint8_t record[16] = {1, 2, 3};
  const unsigned long arg = reinterpret_cast<unsigned long>(record);
  struct Row {
    const char* what;
    uint32_t code;
    int answer;
  };
  const Row rows[] = {
      {"registered", kEchoCode, 42},
      {"type is not 'F'", (kEchoCode & ~0xFF00u) | ('G' << 8), -ENOTTY},
      {"unknown number", OrvIocCode(kIocRW, 0x30, 16), -ENOTTY},
      {"registered number, other size", OrvIocCode(kIocRW, 0x14, 12), -EINVAL},
      {"registered number, other direction", OrvIocCode(kIocDirRead, 0x14, 16), -EINVAL},
      {"glue request, other size", OrvIocCode(kIocRW, 0x03, 56), -EINVAL},
  };
  for (const Row& row : rows) {
    core.handled.clear();
    EXPECT_EQ(glue.Ioctl(file, row.code, arg), row.answer) << row.what;
    EXPECT_EQ(core.handled.size(), row.answer == 42 ? 1u : 0u) << row.what;
  }
  EXPECT_EQ(record[0], 2);  // the one handled request copied back
  EXPECT_EQ(core.lastClient, glue.ClientOf(file));
  EXPECT_EQ(glue.Ioctl(file, kValueCode, 0x1234), 0x34);  // a value, not a record
  EXPECT_EQ(core.lastArgument, 0x1234u);
}

TEST_F(GlueTest, UserCopiesReachOnlyTheCallersMemory) {
  kglue::File* file = glue.Open(device, 42);
  kglue::File* other = glue.Open(device, 43);
  // Locked pages the other process maps are its memory, not this one's.
  orv_ioctl_buffer buffer = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 4096, 0};
  ASSERT_EQ(glue.Ioctl(other, ORV_IOCTL_ALLOC_BUFFER, reinterpret_cast<unsigned long>(&buffer)),
            0);
  auto* othersPage = static_cast<uint8_t*>(glue.Mmap(other, buffer.offset, 4096));
  ASSERT_NE(othersPage, nullptr);
  buffer.offset = 0;
  ASSERT_EQ(glue.Ioctl(file, ORV_IOCTL_ALLOC_BUFFER, reinterpret_cast<unsigned long>(&buffer)), 0);
  auto* ownPage = static_cast<uint8_t*>(glue.Mmap(file, buffer.offset, 4096));
  ASSERT_NE(ownPage, nullptr);

  uint8_t declared[16] = {};
  uint8_t stack[16] = {};
  glue.DeclareUserMemory(42, declared, sizeof(declared));
  struct Row {
    const char* what;
    const void* data;
    int answer;
  };
  const Row rows[] = {
      {"a page the process mapped", ownPage + 100, 42},
      {"the end of that page", ownPage + 4096 - 16, 42},
      {"across the end of that page", ownPage + 4096 - 8, -14},
      {"memory declared for the process", declared, 42},
      {"a page another process mapped", othersPage, -14},
      {"memory nobody declared", stack, -14},
      {"a null pointer", nullptr, -14},
  };
  for (const Row& row : rows) {
    const uint64_t pointer = reinterpret_cast<uint64_t>(row.data);
    EXPECT_EQ(glue.Ioctl(file, kIndirectCode, reinterpret_cast<unsigned long>(&pointer)),
              row.answer)
        << row.what;
  }
  // The record is user memory only as far as its code sizes it.
  struct {
    uint64_t pointer;
    uint8_t data[16];
  } inRecord;
  inRecord.pointer = reinterpret_cast<uint64_t>(inRecord.data);
  EXPECT_EQ(glue.Ioctl(file, kIndirectCode, reinterpret_cast<unsigned long>(&inRecord)), -14);
  // Outside a request no memory is user memory.
  uint8_t kernel[16];
  EXPECT_NE(ClientCopyFromUserSpace(kernel, declared, 1), 0);
  glue.MarkFaulty(ownPage + 104, 1);
  const uint64_t faulty = reinterpret_cast<uint64_t>(ownPage + 100);
  EXPECT_EQ(glue.Ioctl(file, kIndirectCode, reinterpret_cast<unsigned long>(&faulty)), -14);
  EXPECT_EQ(glue.Munmap(file, ownPage, 4096), 0);
  EXPECT_EQ(glue.Munmap(other, othersPage, 4096), 0);
}

TEST_F(GlueTest, ParametersAreOneTableForTheLookupAndRequest3) {
  EXPECT_EQ(glue.ParameterTableCalls(), 1);
  EXPECT_TRUE(glue.ParameterTableHandedOver());
  // Not given at load: no value, so the switch's own default applies.
  EXPECT_EQ(OrvKstrnParameterLookup("OGL", "Spanthree"), nullptr);
  glue.SetParameter("reg3DSpanthree", 1);
  glue.SetParameter("swOverlayEnable", 0);
  void* overlay = OrvKstrnParameterLookup("DirectX", "OverlayEnable");
  ASSERT_NE(overlay, nullptr);
  struct Row {
    const char* section;
    const char* key;
    bool found;
  };
  const Row rows[] = {
      {"System", "BmDebugFlags", true},  // given from load
      {"Sys", "MmFlags", false},         // right prefix, not given
      {"OGL", "Spanthree", true},
      {"3D", "Spanthree", true},
      {"Driver", "OverlayEnable", true},
      {nullptr, "OverlayEnable", true},  // a driver switch
      {"3D", "OverlayEnable", false},
      {"", "swOverlayEnable", true},     // no prefix
      {"X", "swOverlayEnable", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(OrvKstrnParameterLookup(row.section, row.key) != nullptr, row.found)
        << (row.section ? row.section : "(null)") << "/" << row.key;
  }
  EXPECT_EQ(OrvKstrnParameterLookup(nullptr, "OverlayEnable"), overlay);

  kglue::File* file = glue.Open(device);
  auto request = [&](uint32_t operation, const char* name, uint32_t value, uint32_t* out) {
    OrvParameterRequest record = {};
    record.operation = operation;
    record.value = value;
    strncpy(record.name, name, sizeof(record.name));
    const int answer =
        glue.Ioctl(file, ORV_IOCTL_PARAMETER, reinterpret_cast<unsigned long>(&record));
    if (out != nullptr) *out = record.value;
    return answer;
  };
  uint32_t value = 0;
  EXPECT_EQ(request(kParameterRead, "regSysMmFlags", 0, &value), -EINVAL);  // not given
  ASSERT_EQ(request(kParameterWrite, "regSysMmFlags", 0x155, nullptr), 0);
  auto* flags = static_cast<uint8_t*>(OrvKstrnParameterLookup("System", "MmFlags"));
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags[0], 0x55);  // one value for the lookup and the request
  flags[0] = 0x77;
  ASSERT_EQ(request(kParameterRead, "regSysMmFlags", 0, &value), 0);
  EXPECT_EQ(value, 0x177u);
  EXPECT_EQ(request(kParameterRead, "swNoSuchSwitch", 0, nullptr), -EINVAL);
  EXPECT_EQ(request(kParameterWrite, "swNoSuchSwitch", 1, nullptr), -EINVAL);
  OrvParameterRequest unterminated = {};
  memset(unterminated.name, 'x', sizeof(unterminated.name));
  EXPECT_EQ(glue.Ioctl(file, ORV_IOCTL_PARAMETER, reinterpret_cast<unsigned long>(&unterminated)),
            -EINVAL);
}

TEST_F(GlueTest, Request6AnswersTheBoardsMinorOrUnknown) {
  kglue::File* file = glue.Open(device);
  const orvsim::PciLocation at = board.Location();
  OrvMinorRequest request = {at.bus, at.device, at.function, kMinorUnknown};
  ASSERT_EQ(glue.Ioctl(file, ORV_IOCTL_GET_MINOR, reinterpret_cast<unsigned long>(&request)), 0);
  EXPECT_EQ(request.minor, 5u);
  request = {at.bus, at.device + 1, at.function, kMinorUnknown};
  ASSERT_EQ(glue.Ioctl(file, ORV_IOCTL_GET_MINOR, reinterpret_cast<unsigned long>(&request)), 0);
  EXPECT_EQ(request.minor, kMinorUnknown);
}

TEST_F(GlueTest, Request1HandsOutSharedRegionsAndPagesMappableByBusAddress) {
  OrvContext* pool = glue.OwnContext(device);
  OrvRegion* shared = OrvRegion_Alloc(pool, 2784, kOrvRegionLocked, kOrvRegionShared, 0);
  OrvRegion* secret = OrvRegion_Alloc(pool, 9288, kOrvRegionPlain, 0, 0);
  kglue::File* file = glue.Open(device);
  auto ask = [&](uint32_t kind, uint32_t flags, uint32_t size, uint64_t* offset) {
    orv_ioctl_buffer buffer = {kind, flags, 0, size, 0};
    const int answer =
        glue.Ioctl(file, ORV_IOCTL_ALLOC_BUFFER, reinterpret_cast<unsigned long>(&buffer));
    *offset = buffer.offset;
    return answer;
  };
  uint64_t offset = 0;
  ASSERT_EQ(ask(kOrvBufferSharedLocked, kOrvBufferFlagCommon, 2784, &offset), 0);
  EXPECT_EQ(offset, OrvRegion_GetPhys(shared));
  EXPECT_EQ(ask(kOrvBufferShared, kOrvBufferFlagCommon, 9288, &offset), -EINVAL);  // private
  EXPECT_EQ(ask(kOrvBufferSharedLocked, kOrvBufferFlagCommon, 24, &offset), -EINVAL);

  auto* mapped = static_cast<uint32_t*>(glue.Mmap(file, OrvRegion_GetPhys(shared), 4096));
  ASSERT_EQ(mapped, OrvRegion_GetLinear(shared));
  EXPECT_EQ(glue.Mmap(file, OrvRegion_GetPhys(secret), 4096), nullptr);
  EXPECT_EQ(glue.Mmap(file, OrvRegion_GetPhys(shared) + 4096, 4096), nullptr);  // past it

  uint64_t pages = 0;
  ASSERT_EQ(ask(kOrvBufferAgp, kOrvBufferFlagLocked, 8192, &pages), 0);
  EXPECT_EQ(glue.LiveLockedPages(), 1u);
  auto* second = static_cast<uint8_t*>(glue.Mmap(file, pages + 4096, 4096));  // any page of it
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(glue.ResolveBus(pages + 4096, 4), second);
  orv_ioctl_buffer free = {kOrvBufferAgp, kOrvBufferFlagLocked, 0, 8192, pages};
  EXPECT_EQ(glue.Ioctl(file, ORV_IOCTL_FREE_BUFFER, reinterpret_cast<unsigned long>(&free)),
            -EBUSY);  // still mapped
  EXPECT_EQ(glue.Munmap(file, second, 4096), 0);
  EXPECT_EQ(glue.Munmap(file, second, 4096), -EINVAL);
  EXPECT_EQ(glue.Ioctl(file, ORV_IOCTL_FREE_BUFFER, reinterpret_cast<unsigned long>(&free)), 0);
  EXPECT_EQ(glue.LiveLockedPages(), 0u);

  // Pages left allocated go with the file.
  ASSERT_EQ(ask(kOrvBufferShared, kOrvBufferFlagLocked, 100, &pages), 0);
  EXPECT_EQ(glue.Munmap(file, mapped, 4096), 0);
  glue.Close(file);
  EXPECT_EQ(glue.LiveLockedPages(), 0u);
  OrvRegion_Free(pool, shared);
  OrvRegion_Free(pool, secret);
}

TEST_F(GlueTest, AFileIsReleasedWithItsLastMappingAndFreedMemoryWaitsForTheUnmap) {
  OrvContext* pool = glue.OwnContext(device);
  OrvRegion* shared = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, kOrvRegionShared, 0);
  const uint64_t bus = OrvRegion_GetPhys(shared);
  kglue::File* file = glue.Open(device);
  void* mapped = glue.Mmap(file, bus, 4096);
  ASSERT_NE(mapped, nullptr);
  glue.Close(file);
  EXPECT_TRUE(core.released.empty());  // the mapping holds the file
  OrvRegion_Free(pool, shared);        // freed by the core while mapped
  EXPECT_EQ(glue.FreedWhileMapped(), 1u);
  EXPECT_EQ(glue.LiveRegions(), 1u);
  EXPECT_EQ(glue.ResolveBus(bus, 4), nullptr);  // no longer live for the engine
  EXPECT_EQ(glue.Munmap(file, mapped, 24), 0);
  EXPECT_EQ(core.released.size(), 1u);
  EXPECT_EQ(glue.LiveRegions(), 0u);
  EXPECT_EQ(glue.ArenaBytesInUse(), 0u);
}

TEST_F(GlueTest, KernelMappingsAndLockedPagesAreMatchedOnRelease) {
  void* cpu = nullptr;
  const uint64_t bus = OsAllocLockedPages(device, 3, 0, 1, &cpu);
  ASSERT_NE(bus, 0u);
  EXPECT_EQ(glue.ResolveBus(bus + 8192, 16), static_cast<uint8_t*>(cpu) + 8192);
  EXPECT_EQ(OsFreeLockedPages(device, bus, cpu, 2), 0);  // wrong count
  EXPECT_EQ(glue.Misuses().size(), 1u);
  EXPECT_NE(OsFreeLockedPages(device, bus, cpu, 3), 0);

  const auto fb = board.Bar(orvsim::ResourceKind::kMemory);
  auto* window = static_cast<uint8_t*>(OsMapPhysicalMemory(device, fb->base + 0x1000, 4096));
  ASSERT_NE(window, nullptr);
  window[0] = 0xAB;
  EXPECT_EQ(board.Memory()[0x1000], 0xAB);
  EXPECT_EQ(glue.LiveKernelMappings(), 1u);
  OsUnmapMemory(device, window, 8192);  // not what was mapped
  EXPECT_EQ(glue.Misuses().size(), 2u);
  OsUnmapMemory(device, window, 4096);
  EXPECT_EQ(glue.LiveKernelMappings(), 0u);
}

TEST_F(GlueTest, DeviceRangesAndHostBridgeComeFromConfigurationSpace) {
  const auto regs = board.Bar(orvsim::ResourceKind::kRegisters);
  EXPECT_EQ(OrvRegion_GetPhys(OrvDevice_GetRegisters(device)), regs->base);
  EXPECT_EQ(OrvRegion_GetSize(OrvDevice_GetRegisters(device)), regs->size);
  EXPECT_EQ(OrvRegion_GetSize(OrvDevice_GetFrameBuffer(device)), board.MemorySize());
  EXPECT_EQ(OrvDevice_GetBmFlags(device), 0x10u);
  uint32_t id = 0;
  ASSERT_EQ(ClientPciConfigReadDword(OrvDevice_GetPciHandle(device), 0, &id), 0);
  EXPECT_EQ(id, 0x0A411E7Au);
  EXPECT_EQ(OrvPciDevice_GetHostHandle(), nullptr);  // 00:00.0 is the board

  uint32_t value = 0;
  memWriteDword(OrvDevice_GetRegisterHandle(device), 0x1234, 0xCAFE);
  memReadDword(OrvDevice_GetRegisterHandle(device), 0x1234, &value);
  EXPECT_EQ(value, 0xCAFEu);
  const auto log = board.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].op, orvsim::RegOp::kWrite);
  EXPECT_EQ(log.back().offset, 0x1234u);
}

TEST(GlueHost, TheHostBridgeIsReadThroughItsHandle) {
  orvsim::Simulation sim;
  sim.AddHostBridge(0x25018086);
  kglue::Glue glue;
  OrvPciDevice* host = OrvPciDevice_GetHostHandle();
  ASSERT_NE(host, nullptr);
  uint32_t id = 0;
  ASSERT_EQ(ClientPciConfigReadDword(host, 0, &id), 0);
  EXPECT_EQ(id, 0x25018086u);
}

TEST_F(GlueTest, TheIoctlTableKeepsEveryCallAndRefusesASecondHandlerForANumber) {
  EXPECT_EQ(glue.Registrations().size(), 3u);
  EXPECT_EQ(OrvIoctl_Register(OrvIocCode(kIocRW, 0x14, 24), EchoHandler, 1, 0, 1), -16);
  glue.DestroyDevice(device);
  glue.Unload();
  const std::vector<kglue::IoctlTableCall> expected = {
      {true, kEchoCode, 1, 0, 1},
      {true, kValueCode, 1, 0, 1},
      {true, kIndirectCode, 1, 0, 1},
      {true, OrvIocCode(kIocRW, 0x14, 24), 1, 0, 1},
      {false, kEchoCode, 0, 0, 0},
      {false, kValueCode, 0, 0, 0},
      {false, kIndirectCode, 0, 0, 0},
  };
  EXPECT_EQ(glue.IoctlTableCalls(), expected);
  EXPECT_TRUE(glue.Registrations().empty());
}

TEST_F(GlueTest, ScheduleAdvancesVirtualTimeAndLogLinesAreCaptured) {
  const uint64_t before = sim.GetClock().Now();
  glue.SetScheduleCost(2500);
  OsSchedule();
  OsSchedule();
  EXPECT_EQ(sim.GetClock().Now() - before, 5000u);
  EXPECT_EQ(glue.ScheduleCount(), 2u);
  ClientPrintLevel(1, "[orv] *ERROR* %s (sz: %u)\n", "Failed", 24u);
  dbgOutput("[orv] %d\n", 3);
  ASSERT_EQ(glue.Log().size(), 2u);
  EXPECT_EQ(glue.Log()[0].level, 1);
  EXPECT_EQ(glue.Log()[0].text, "[orv] *ERROR* Failed (sz: 24)\n");
  EXPECT_EQ(glue.Log()[1].level, -1);
  char buffer[8];
  EXPECT_EQ(ToString(buffer, sizeof(buffer), "%s-%d", "abcdef", 12), 7);
  EXPECT_STREQ(buffer, "abcdef-");
}

// A harness that keeps one glue for many runs renews it between them: the
// next run meets the glue as a fresh one.
TEST_F(GlueTest, RenewGivesAFreshGlueForTheNextRun) {
  OrvContext* pool = glue.OwnContext(device);
  kglue::File* file = glue.Open(device, 7);
  OrvRegion* first = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, kOrvRegionShared, 0);
  const uint64_t firstBus = OrvRegion_GetPhys(first);
  void* mapped = glue.Mmap(file, firstBus, 4096);
  OrvRegion_Free(pool, first);  // freed while mapped
  OrvRegion_IncrementRefCount(OrvDevice_GetRegisters(device));
  glue.SetParameter("regSysMmFlags", 5);
  glue.FailAllocation(50);
  dbgOutput("a line\n");
  OsSchedule();
  EXPECT_EQ(OrvRegion_DecrementRefCountAndTest(OrvDevice_GetFrameBuffer(device)), 1);
  ASSERT_EQ(glue.Misuses().size(), 1u);
  EXPECT_DEATH(glue.Renew(), "module is loaded");
  void* left = memAlloc(8);
  glue.DestroyDevice(device);
  glue.Unload();
  EXPECT_DEATH(glue.Renew(), "memory, regions, pages or kernel mappings");
  memFree(left);
  EXPECT_EQ(glue.Munmap(file, mapped, 4096), -EINVAL) << "released with its device";

  glue.SetBusMasterFlags(device, 0x22);
  glue.Renew();
  EXPECT_EQ(glue.OpenFileCount(), 0u);
  EXPECT_TRUE(glue.Misuses().empty());
  EXPECT_EQ(glue.FreedWhileMapped(), 0u);
  EXPECT_EQ(glue.AllocationCount(), 0u);
  EXPECT_TRUE(glue.Log().empty());
  EXPECT_TRUE(glue.IoctlTableCalls().empty());
  EXPECT_EQ(glue.ParameterTableCalls(), 0);
  EXPECT_EQ(glue.ScheduleCount(), 0u);
  uint32_t value = 0;
  EXPECT_FALSE(glue.ReadParameter("regSysMmFlags", &value));

  // The next run: the same board with its new flags, the arena from its
  // start, the device's ranges with no references left over.
  glue.Load();
  ASSERT_NE(glue.CreateDevice(device), nullptr);
  EXPECT_EQ(OrvDevice_GetBmFlags(device), 0x22u);
  EXPECT_DEATH(glue.SetBusMasterFlags(device, 0), "while the core has the device");
  EXPECT_EQ(glue.Registrations().size(), 3u);
  OrvRegion* again = OrvRegion_Alloc(glue.OwnContext(device), 24, kOrvRegionPlain, 0, 0);
  EXPECT_EQ(OrvRegion_GetPhys(again), firstBus);
  EXPECT_EQ(OrvRegion_DecrementRefCountAndTest(OrvDevice_GetRegisters(device)), 1);
  EXPECT_EQ(glue.Misuses().size(), 1u) << "no reference was left to drop";
  OrvRegion_Free(glue.OwnContext(device), again);
  EXPECT_EQ(glue.FailedAllocations(), 0u);
}

// A harness that keeps the module loaded drops the records of released
// files between runs; open files and their mappings stay.
TEST_F(GlueTest, DropReleasedFilesKeepsOpenOnes) {
  kglue::File* open = glue.Open(device, 7);
  kglue::File* closed = glue.Open(device, 8);
  kglue::File* mapped = glue.Open(device, 9);
  OrvContext* pool = glue.OwnContext(device);
  OrvRegion* region = OrvRegion_Alloc(pool, 24, kOrvRegionPlain, kOrvRegionShared, 0);
  void* at = glue.Mmap(mapped, OrvRegion_GetPhys(region), 4096);
  ASSERT_NE(at, nullptr);
  glue.Close(closed);
  glue.Close(mapped);  // released with its last mapping
  glue.DropReleasedFiles();
  EXPECT_EQ(glue.OpenFileCount(), 2u);
  EXPECT_EQ(glue.ProcessOf(open), 7u);
  EXPECT_EQ(glue.Munmap(mapped, at, 4096), 0);
  EXPECT_EQ(glue.OpenFileCount(), 1u);
  glue.DropReleasedFiles();
  EXPECT_EQ(glue.OpenFileCount(), 1u);
  glue.Close(open);
  OrvRegion_Free(pool, region);
}

// ---- Interrupts and the DMA engine ----------------------------------------------------

class GlueInterrupts : public ::testing::Test {
 protected:
  GlueInterrupts() : board(sim.AddBoard(orvsim::BoardConfig())), irq(board), dma(board) {
    g_core = &core;
    glue.Use(&kFakeDriver);
    kglue::BoardOptions options;
    options.interrupts = &irq;
    device = glue.AddBoard(board, options);
    glue.Load();
    glue.CreateDevice(device);
    registers = OrvDevice_GetRegisterHandle(device);
    memWriteDword(registers, orvsim::kIrqRegEnable, orvsim::kIrqEngine);
  }
  ~GlueInterrupts() override { g_core = nullptr; }

  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::InterruptController irq;
  orvsim::DmaEngine dma;
  FakeCore core;
  kglue::Glue glue;
  OrvDevice* device;
  void* registers;
};

TEST_F(GlueInterrupts, DeliveredAtOsScheduleAndAfterEntryPointsNeverInsideARegisterAccess) {
  // A register whose write raises the engine's interrupt, as a chip would.
  constexpr uint32_t kRaising = 0x1234 & ~3u;
  board.SetWriteHook(kRaising, 4, [this](orvsim::Board&, orvsim::RegAccess, uint32_t value, uint32_t) {
    irq.Raise(orvsim::kIrqEngine);
    return value;
  });
  memWriteDword(registers, kRaising, 1);
  EXPECT_TRUE(irq.LineUp());
  EXPECT_EQ(core.collects, 0);
  OsSchedule();
  EXPECT_EQ(core.collects, 1);
  EXPECT_FALSE(irq.LineUp());
  EXPECT_EQ(core.deferredRuns, 0);

  // Raised inside a request: served once the handler has returned.
  irq.Raise(orvsim::kIrqEngine);
  kglue::File* file = glue.Open(device);
  EXPECT_EQ(core.collects, 2);  // the open was an entry point too
  irq.Raise(orvsim::kIrqEngine);
  EXPECT_EQ(glue.Ioctl(file, kValueCode, 5), 5);
  EXPECT_EQ(core.collects, 3);
  EXPECT_EQ(glue.InterruptsDelivered(), 3u);
  // Latched but not enabled: no delivery.
  irq.VerticalBlank(0);
  EXPECT_FALSE(glue.DeliverInterrupts());
  EXPECT_EQ(core.collects, 3);
  EXPECT_TRUE(glue.Misuses().empty());
  board.ClearHooks(kRaising);
}

// A kernel may not give the processor away inside the floating-point
// bracket: a request that yields there ends the test. An interrupt served
// while a bracket of the serving thread is open must leave it as it found
// it.
TEST_F(GlueInterrupts, AYieldInsideTheFpuBracketEndsTheTestAndInterruptsLeaveItAsTheyFoundIt) {
  core.yieldInFpu = true;
  kglue::File* file = glue.Open(device);
  EXPECT_DEATH(glue.Ioctl(file, kValueCode, 5), "OsSchedule inside the floating-point bracket \\(depth 1\\)");
  core.yieldInFpu = false;
  EXPECT_EQ(glue.Ioctl(file, kValueCode, 5), 5);
  OsEnterFPUMode();
  irq.Raise(orvsim::kIrqEngine);
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_EQ(glue.FpuDepth(), 1);
  EXPECT_FALSE(irq.LineUp());
  core.collectClosesFpu = true;
  irq.Raise(orvsim::kIrqEngine);
  EXPECT_DEATH(glue.DeliverInterrupts(), "CollectInterrupts closed the floating-point bracket it was called in");
  core.collectClosesFpu = false;
  EXPECT_TRUE(glue.DeliverInterrupts());
  OsExitFPUMode();
}

TEST_F(GlueInterrupts, DeferredWorkRunsWhenTheCoreAsksForIt) {
  core.wantDeferred = 1;
  irq.Raise(orvsim::kIrqEngine);
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_EQ(core.collects, 1);
  EXPECT_EQ(core.deferredRuns, 1);
}

TEST_F(GlueInterrupts, AServiceThatAcknowledgesNothingIsAMisuse) {
  core.acknowledge = false;
  irq.Raise(orvsim::kIrqEngine);
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_EQ(core.collects, 1);
  ASSERT_EQ(glue.Misuses().size(), 1u);
  EXPECT_NE(glue.Misuses()[0].find("stays up"), std::string::npos);
  core.acknowledge = true;
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_FALSE(irq.LineUp());
}

TEST_F(GlueInterrupts, ASecondThreadDeliversAndTheCoresThreadThenNever) {
  glue.StartInterruptThread();
  {
    // Registers are locked against the thread while the core's thread uses them.
    uint32_t value = 0;
    memReadDword(registers, orvsim::kIrqRegEnable, &value);
    EXPECT_EQ(value, orvsim::kIrqEngine);
  }
  irq.Raise(orvsim::kIrqEngine);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (glue.InterruptsDelivered() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  glue.StopInterruptThread();
  EXPECT_EQ(glue.InterruptsDelivered(), 1u);
  EXPECT_FALSE(irq.LineUp());
}

TEST_F(GlueInterrupts, TheEngineFetchesTheArenaAndEachYieldIsOneStepOfItsLatency) {
  glue.ServeDma(dma);
  dma.SetLatencyReads(2);
  void* cpu = nullptr;
  const uint64_t bus = OsAllocLockedPages(device, 1, 0, 1, &cpu);
  ASSERT_NE(bus, 0u);
  const uint32_t words[] = {0x212121AF, 0x40};
  memcpy(cpu, words, sizeof(words));
  memWriteDword(registers, orvsim::kDmaRegStart, static_cast<uint32_t>(bus));
  memWriteDword(registers, orvsim::kDmaRegEnd, static_cast<uint32_t>(bus + 8) | 3);
  EXPECT_TRUE(dma.Busy());
  OsSchedule();
  EXPECT_TRUE(dma.Busy());
  OsSchedule();
  EXPECT_FALSE(dma.Busy());
  EXPECT_EQ(dma.ReachedTag(), 0x40u);
  OsFreeLockedPages(device, bus, cpu, 1);
}

// The mapping service holds what it maps, as a kernel's page reference
// count does: locked pages the core frees while a process maps them stay
// that process's, and no later allocation gets them until the unmap.
TEST_F(GlueTest, LockedPagesFreedWhileMappedStayTheProcesssUntilTheUnmap) {
  void* cpu = nullptr;
  const uint64_t bus = OsAllocLockedPages(device, 1, 0, 0, &cpu);
  ASSERT_NE(bus, 0u);
  kglue::File* file = glue.Open(device);
  auto* mapped = static_cast<uint8_t*>(glue.Mmap(file, bus, kglue::kPageSize));
  ASSERT_NE(mapped, nullptr);
  ASSERT_NE(OsFreeLockedPages(device, bus, cpu, 1), 0);
  EXPECT_EQ(glue.FreedWhileMapped(), 1u);
  EXPECT_EQ(glue.ResolveBus(bus, 4), nullptr) << "the engine no longer reaches it";
  EXPECT_TRUE(glue.Misuses().empty());
  // The process still writes its page; what the core allocates next is
  // another page, zeroed.
  memset(mapped, 0x5A, kglue::kPageSize);
  std::vector<std::pair<uint64_t, void*>> later;
  for (int i = 0; i < 4; ++i) {
    void* other = nullptr;
    const uint64_t at = OsAllocLockedPages(device, 1, 0, 0, &other);
    ASSERT_NE(at, 0u);
    EXPECT_NE(at, bus) << i;
    EXPECT_EQ(static_cast<const uint8_t*>(other)[0], 0) << i;
    later.emplace_back(at, other);
  }
  EXPECT_EQ(mapped[kglue::kPageSize - 1], 0x5A);
  // The unmap lets it go.
  const uint64_t held = glue.ArenaBytesInUse();
  EXPECT_EQ(glue.Munmap(file, mapped, kglue::kPageSize), 0);
  EXPECT_EQ(glue.ArenaBytesInUse(), held - kglue::kPageSize);
  for (const auto& [at, other] : later) OsFreeLockedPages(device, at, other, 1);
  glue.Close(file);
  EXPECT_EQ(glue.ArenaBytesInUse(), 0u);
}

}  // namespace
