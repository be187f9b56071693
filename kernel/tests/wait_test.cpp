// Every wait of the kernel core on the engine or on the DMA busy lock ends
// when the engine stalls or a user-space holder keeps the lock: with one
// error line, a failure its caller acts on, the lock never taken over, and
// a board whose engine runs the next range once it goes on.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/regs/dma.h"
#include "kernel/tests/stream_fixture.h"
#include "kernel/vidmem/heaps.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/kglue/glue.h"

namespace ktest {
namespace {

enum class Stall {
  kEngine,    // a range with a sync tag kicked, and the engine never runs it
  kBusyLock,  // user space holds the DMA busy lock
};

struct Waiting {
  CommonData* common;
  uint32_t tag;  // the stalled range's sync tag
  kglue::Glue* glue;
};

struct WaitCase {
  const char* name;
  Stall stall;
  bool (*wait)(Waiting& w);  // what the wait's caller answers
  const char* line;          // the start of the wait's error line
};

const WaitCase kWaitCases[] = {
    {"EngineIdle", Stall::kEngine, [](Waiting& w) { return w.common->primaryStream->WaitEngineIdle(); },
     "[orv] *ERROR* engine idle: no progress after 2000000 us\n"},
    {"StreamReset", Stall::kEngine, [](Waiting& w) { return w.common->primaryStream->Reset(); },
     "[orv] *ERROR* DMA drain: engine idle:"},
    {"SyncTag", Stall::kEngine, [](Waiting& w) { return w.common->syncTagManager->WaitForTag(w.tag); },
     "[orv] *ERROR* sync tag wait:"},
    {"SecondaryIntoABusyEngine", Stall::kEngine,
     [](Waiting& w) { return w.common->secondaryStream->ExecuteBuffer(0x1000, 0x1010, 0, 0); },
     "[orv] *ERROR* engine idle:"},
    {"PageBlockFree", Stall::kEngine,
     [](Waiting& w) {
       MmHeap* heap = w.common->memoryManager->heapSet->First(kListPciPages)->heap;
       MmBlock* block = heap->Allocate(100, 64);
       EXPECT_NE(block, nullptr);
       if (block == nullptr) return true;
       block->dmaStamp = w.tag;
       const size_t pages = w.glue->LiveLockedPages();
       heap->Free(block);
       const bool freed = w.glue->LiveLockedPages() != pages;
       EXPECT_FALSE(freed) << "set aside until the device goes";
       return freed;
     },
     "[orv] *ERROR* system memory free:"},
    {"BusyLock", Stall::kBusyLock, [](Waiting& w) { return w.common->primaryStream->AcquireBusyLock(); },
     "[orv] *ERROR* DMA busy lock:"},
    {"KickUnderTheBusyLock", Stall::kBusyLock,
     [](Waiting& w) {
       BmPrimInt* stream = w.common->primaryStream;
       const uint32_t* start = stream->start;
       const uint32_t lastEnd = w.common->sharedLocked->lastDmaEnd;
       EXPECT_TRUE(WriteProgressTag(stream, TakeNextTag(w.common->sharedLocked)));
       const bool started = stream->Start();
       EXPECT_EQ(stream->start, start) << "the range stays for the next start";
       EXPECT_EQ(w.common->sharedLocked->lastDmaEnd, lastEnd) << "nothing handed to the engine";
       return started;
     },
     "[orv] *ERROR* DMA busy lock:"},
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class StalledWait : public StartedBoard, public testing::WithParamInterface<WaitCase> {
 protected:
  void SetUp() override {
    glue.SetCpuCount(2);  // the streams take the busy lock
    StartedBoard::SetUp();
  }

  std::vector<std::string> ErrorLines() const {
    std::vector<std::string> lines;
    for (const auto& l : glue.Log())
      if (l.text.find("*ERROR*") != std::string::npos) lines.push_back(l.text);
    return lines;
  }
};

TEST_P(StalledWait, EndsWithItsErrorLineAndTheEngineRunsAfterwards) {
  const WaitCase& c = GetParam();
  SharedLockedData_t* shared = SharedLocked();
  Waiting w{Common(), 0, &glue};
  ASSERT_NE(Primary()->modeFlags & kStreamMultiCpu, 0u);
  switch (c.stall) {
    case Stall::kEngine:
      dma.SetLatencyReads(UINT_MAX);
      ASSERT_TRUE(Tags()->EmitTag(kNoEventSlot, Primary(), false, &w.tag));
      Primary()->Kick();
      ASSERT_TRUE(dma.Busy());
      break;
    case Stall::kBusyLock:
      shared->dmaBusyLock = 1;
      break;
  }
  expectErrors = true;
  glue.ClearLog();

  EXPECT_FALSE(c.wait(w));
  const std::vector<std::string> lines = ErrorLines();
  ASSERT_EQ(lines.size(), 1u) << glue.LogText();
  EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];

  switch (c.stall) {
    case Stall::kEngine:
      dma.SetLatencyReads(0);
      dma.RunPending();
      break;
    case Stall::kBusyLock:
      EXPECT_EQ(shared->dmaBusyLock, 1) << "never released nor taken over";
      shared->dmaBusyLock = 0;
      break;
  }
  glue.ClearLog();
  uint32_t tag = 0;
  ASSERT_TRUE(Tags()->EmitTag(kNoEventSlot, Primary(), false, &tag));
  Primary()->Kick();
  EXPECT_TRUE(Tags()->WaitForTag(tag));
  EXPECT_EQ(Tags()->EngineTag(), tag);
  EXPECT_EQ(shared->dmaBusyLock, 0);
  EXPECT_TRUE(ErrorLines().empty()) << glue.LogText();
}

INSTANTIATE_TEST_SUITE_P(KernelWaits, StalledWait, testing::ValuesIn(kWaitCases),
                         [](const testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ktest
