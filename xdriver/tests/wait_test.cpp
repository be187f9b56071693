// Every wait of the X driver on the engine, on a display position or on the
// command lock ends when the engine stalls or another process keeps the
// lock: with one error line, a failure its caller acts on, the lock never
// taken over, and a device that draws again once the engine goes on.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/bm_packets.h"
#include "core/emul_dma_executor.h"
#include "core/engine_wait.h"
#include "core/hw_device.h"
#include "core/hw_register_access.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

using twodtest::Local2dTest;

enum class Stall {
  kEngine,       // a drawing with a sync tag started, and the engine never runs it
  kCommandLock,  // another process holds the command lock
  kLineCounter,  // the display controller's line counter stands still
  kWriteReady,   // the display never takes a register write
};

struct Waiting {
  PDEV* pdev;
  uint32_t tag;  // the stalled drawing's sync tag
};

struct WaitCase {
  const char* name;
  Stall stall;
  bool (*wait)(Waiting& w);  // what the wait's caller answers
  const char* line;          // the start of the wait's error line
};

const WaitCase kWaitCases[] = {
    {"EngineIdle", Stall::kEngine,
     [](Waiting& w) { return WaitEngineIdle(w.pdev->common, HwReadRegister); },
     "[orv] *ERROR* engine idle: no progress after 2000000 us\n"},
    {"EngineDrained", Stall::kEngine,
     [](Waiting& w) { return WaitEngineDrained(w.pdev->common, HwReadRegister); },
     "[orv] *ERROR* DMA drain: engine idle:"},
    {"PrimarySyncTag", Stall::kEngine, [](Waiting& w) { return w.pdev->primInt->WaitForSyncTag(w.tag); },
     "[orv] *ERROR* sync tag: "},
    {"DrawingSyncTag", Stall::kEngine,
     [](Waiting& w) { return Sync2dWaitForTag(w.pdev->common, w.tag, "test"); },
     "[orv] *ERROR* sync tag 0x"},
    {"StartIntoABusyEngine", Stall::kEngine,
     [](Waiting& w) {
       BmPrimInt* prim = w.pdev->primInt;
       const uint32_t* start = prim->start;
       prim->WriteSyncPacket();
       const bool started = prim->Start();
       EXPECT_EQ(prim->start, start) << "the range stays for the next start";
       return started;
     },
     "[orv] *ERROR* engine idle:"},
    {"OneBufferSwitch", Stall::kEngine,
     [](Waiting& w) {
       BmPrimInt* prim = w.pdev->primInt;
       EXPECT_EQ(prim->bufferCount, 1u);
       const uint32_t* cursor = prim->cursor;
       prim->SwitchToNewBuffer();
       EXPECT_EQ(prim->cursor, cursor) << "the buffer the engine reads is not written again";
       return prim->cursor != cursor;
     },
     "[orv] *ERROR* engine idle:"},
    {"EmulatedSyncWait", Stall::kEngine,
     [](Waiting& w) {
       CommonData* common = w.pdev->common;
       const uint32_t tag = Sync2dNewTag(w.pdev->sharedLocked);
       const uint32_t packets[] = {
           0x21212100 | kDmaIndexSyncTag, tag | kSyncTagWait,  // wait for a fresh tag
           PacketHeader(k2dIdxForeground), 0x12345678,          // given up with the rest
       };
       HwDevice::ExecuteEmulDma(common, packets, packets + 4);
       return HwReadRegister(common, DmaWindowReg(k2dIdxForeground)) == 0x12345678;
     },
     "[orv] *ERROR* emulated DMA sync tag: "},
    {"LocalDmaReset", Stall::kEngine, [](Waiting& w) { return w.pdev->primInt->Reset(); },
     "[orv] *ERROR* DMA drain: engine idle:"},
    {"CommandLock", Stall::kCommandLock,
     [](Waiting& w) { return BmAcquireCommandLock(w.pdev->sharedLocked, kCmdLockOwnerXDriver); },
     "[orv] *ERROR* command lock: "},
    {"DrawingBracket", Stall::kCommandLock,
     [](Waiting& w) {
       w.pdev->data2d.bracket.lockDrawing = 1;
       BmPrimInt* prim = w.pdev->primInt;
       const uint32_t* cursor = prim->cursor;
       bool drawing = false;
       {
         DrawBracket bracket(w.pdev);
         drawing = bracket.Drawing();
       }
       w.pdev->data2d.bracket.lockDrawing = 0;
       EXPECT_EQ(prim->cursor, cursor) << "nothing written without the lock";
       return drawing;
     },
     "[orv] *ERROR* command lock: "},
    {"RegisterWriteReady", Stall::kWriteReady,
     [](Waiting& w) {
       // The wait comes with the write after a run of direct writes; the
       // write goes on after it.
       CommonData* common = w.pdev->common;
       const uint32_t reg = DmaWindowReg(k2dIdxForeground);
       for (uint32_t i = 0; i <= kDirectWritesPerWait; ++i) HwWriteRegister(common, reg, i);
       EXPECT_EQ(HwReadRegister(common, reg), kDirectWritesPerWait);
       return false;  // a write has no answer: the line is what it leaves
     },
     "[orv] *ERROR* register write ready: no progress after 100000 us\n"},
    {"PrimarySurfaceOff", Stall::kLineCounter,
     [](Waiting& w) { return HwDevice::EnablePrimarySurface(w.pdev->common, false, 0); },
     "[orv] *ERROR* line counter at line 1: no progress after 100000 us\n"},
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class StalledWait : public Local2dTest, public testing::WithParamInterface<WaitCase> {
 protected:
  std::vector<std::string> ErrorLines() const {
    std::vector<std::string> lines;
    for (const auto& m : box_.Messages())
      if (m.text.find("*ERROR*") != std::string::npos) lines.push_back(m.text);
    return lines;
  }

  // A drawing reaches the engine and the engine gets to its sync tag.
  void ExpectTheDeviceDraws(PDEV* pdev) {
    SharedLockedData_t* shared = pdev->sharedLocked;
    ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
    const uint32_t tag = Sync2dWritePacket(pdev->primInt);
    ASSERT_NE(tag, 0u);
    EXPECT_TRUE(pdev->primInt->Start());
    BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
    EXPECT_TRUE(Sync2dWaitForTag(pdev->common, tag, "after the stall"));
    EXPECT_EQ(shared->commandLock, 0);
  }
};

TEST_P(StalledWait, EndsWithItsErrorLineAndTheDeviceDrawsAfterwards) {
  const WaitCase& c = GetParam();
  PDEV* pdev = Head(0);
  SharedLockedData_t* shared = pdev->sharedLocked;
  const int32_t otherHolder = static_cast<int32_t>(kCmdLockOwnerKernel << kCmdLockOwnerShift | 1);
  Waiting w{pdev, 0};
  board_->SetLogging(false, false);
  switch (c.stall) {
    case Stall::kEngine:
      engine_->SetLatencyReads(UINT_MAX);
      ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
      w.tag = Sync2dWritePacket(pdev->primInt);
      ASSERT_TRUE(pdev->primInt->Start());
      BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
      break;
    case Stall::kCommandLock:
      shared->commandLock = 1;
      shared->commandLockDepth = otherHolder;
      break;
    case Stall::kLineCounter:
      board_->Poke(ControllerReg(kRegLineCounter, 0), 4, 0x200);
      break;
    case Stall::kWriteReady:
      engine_->HoldFifoRoomClear(true);
      shared->directWriteCount = 0;
      break;
  }
  box_.ClearMessages();

  EXPECT_FALSE(c.wait(w));
  const std::vector<std::string> lines = ErrorLines();
  ASSERT_EQ(lines.size(), 1u) << box_.LogText();
  EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];

  switch (c.stall) {
    case Stall::kEngine:
      engine_->SetLatencyReads(0);
      engine_->RunPending();
      break;
    case Stall::kCommandLock:
      // Never released nor taken over by the waiter.
      EXPECT_EQ(shared->commandLock, 1);
      EXPECT_EQ(shared->commandLockDepth, otherHolder);
      shared->commandLockDepth = 0;
      shared->commandLock = 0;
      break;
    case Stall::kLineCounter:
      break;
    case Stall::kWriteReady:
      engine_->HoldFifoRoomClear(false);
      break;
  }
  box_.ClearMessages();
  ExpectTheDeviceDraws(pdev);
  EXPECT_TRUE(ErrorLines().empty()) << box_.LogText();
}

INSTANTIATE_TEST_SUITE_P(XDriverWaits, StalledWait, testing::ValuesIn(kWaitCases),
                         [](const testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

}  // namespace
