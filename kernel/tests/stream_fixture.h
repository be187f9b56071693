// A board whose first device object is made and started (requests 20 and
// 22): its DMA streams, sync tags, interrupt manager and flip controller
// work over the simulated board's DMA engine, interrupt controller and flip
// latch, with a vertical blank every 50 yields of the core. Ranges an X
// driver would post are built in page-locked memory of the glue's arena.
#pragma once

#include <string.h>

#include <vector>

#include "core/common_data.h"
#include "core/mm_surface.h"
#include "core/orv_ioctl.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/interrupts.h"
#include "kernel/sync_tags.h"
#include "kernel/tests/kernel_fixture.h"

namespace ktest {

class StartedBoard : public KernelTest {
 protected:
  using KernelTest::KernelTest;

  // Vertical blanks come with virtual time: each yield of the core is 1
  // microsecond, a frame 50.
  static constexpr uint64_t kFramePeriodNs = 50000;

  void SetUp() override {
    irq.SetFramePeriod(kFramePeriodNs);
    MakeDevice();
    file = glue.Open(device);
    pdev = Enable(file, 0);
    ASSERT_NE(pdev, nullptr);
    ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev)), 0);
    // The engine ran the initial 3D state of the enable; tests see what
    // comes after it.
    dma.RunPending();
    dma.ClearTrace();
    dma.ClearWrites();
  }

  // The board goes: files released, the device destroyed. Every wait of the
  // kernel on the way ends in time, unless the test said it expects errors.
  void TearDown() override {
    glue.DestroyDevice(device);
    kdev = nullptr;
    if (!expectErrors) {
      EXPECT_FALSE(glue.Logged("*ERROR*")) << glue.LogText();
    }
    EXPECT_TRUE(glue.Misuses().empty());
  }

  BmPrimInt* Primary() { return Common()->primaryStream; }
  BmSecondaryInt* Secondary() { return Common()->secondaryStream; }
  SyncTagManager* Tags() { return Common()->syncTagManager; }
  InterruptManager* Interrupts() { return Common()->interruptManager; }
  FlipController* Flips() { return Common()->flipController; }
  uint32_t BlockBus() {
    return static_cast<uint32_t>(OrvRegion_GetPhys(OrvRegion_FindFromVirtual(device, SharedLocked())));
  }

  // A range of commands in a page of its own that the client's file asked
  // the glue for, as the X driver posts them: its bus start (the end is
  // start + 4 * words).
  uint32_t XRange(const std::vector<uint32_t>& words, kglue::File* owner = nullptr) {
    orv_ioctl_buffer request = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 4096, 0};
    EXPECT_EQ(glue.Ioctl(owner != nullptr ? owner : file, ORV_IOCTL_ALLOC_BUFFER,
                         reinterpret_cast<unsigned long>(&request)),
              0);
    auto* at = reinterpret_cast<uint32_t*>(glue.ResolveBus(request.offset, 4096));
    EXPECT_NE(at, nullptr);
    for (size_t i = 0; at != nullptr && i < words.size() && i < 1024; ++i) at[i] = words[i];
    return static_cast<uint32_t>(request.offset);
  }

  // A block of local memory the file asked for (request 24, the X driver's
  // local command kind), `rows` rows of 1024 bytes, `bytes` long (0: the
  // rows' own size). The kernel's answer: the block's device address in
  // `handle`, the size it placed in `second`.
  OrvBlockRequest LocalCommandBlock(kglue::File* owner, uint32_t rows, uint32_t bytes = 0) {
    OrvBlockRequest request = {};
    request.kind = kBlockKindSurface;
    MmSurfAllocOpt options;
    options.requestedKind = 7;
    options.heapSelector = 24;
    options.desc.word1 = MmSurfDesc::MakeWord1(1024, kLayoutPitchLinear, 0x30);
    options.desc.word2 = MmSurfDesc::MakeWord2(rows, 1);
    options.physicalSize = bytes != 0 ? bytes : options.desc.GetPhysicalMemSize(true);
    options.alignment = options.desc.GetRequiredAlignment(true);
    memcpy(request.surfaceOptions, &options, sizeof(options));
    EXPECT_EQ(glue.Ioctl(owner, ORV_IOCTL_ALLOC_BLOCK, reinterpret_cast<unsigned long>(&request)), 0);
    return request;
  }

  int Post(const OrvDmaPostRequest& record) {
    OrvDmaPostRequest copy = record;
    return glue.Ioctl(file, ORV_IOCTL_POST_DMA, reinterpret_cast<unsigned long>(&copy));
  }

  // Tags the engine reached, in order.
  std::vector<uint32_t> ReachedTags() const {
    std::vector<uint32_t> out;
    for (const auto& e : dma.Trace())
      if (e.kind == orvsim::DmaEngine::TraceKind::kTag) out.push_back(e.a);
    return out;
  }
  size_t TraceCount(orvsim::DmaEngine::TraceKind kind) const {
    size_t n = 0;
    for (const auto& e : dma.Trace()) n += e.kind == kind ? 1 : 0;
    return n;
  }
  // The value last written to a register by the processor (board logging
  // of writes on); 0xFFFFFFFF when none was.
  uint32_t LastWrite(uint32_t reg) const {
    uint32_t value = 0xFFFFFFFF;
    for (const auto& a : board.LoggedWrites())
      if (a.offset == reg) value = a.value;
    return value;
  }
  // Register writes the engine's packets made to one register, in order.
  std::vector<uint32_t> PacketWrites(uint32_t reg) const {
    std::vector<uint32_t> out;
    for (const auto& w : dma.Writes())
      if (w.reg == reg) out.push_back(w.value);
    return out;
  }

  // A second client of the board, opened on first use.
  kglue::File* other() {
    if (other_ == nullptr) other_ = glue.Open(device);
    return other_;
  }

  kglue::File* file = nullptr;
  PDEV* pdev = nullptr;
  bool expectErrors = false;

 private:
  kglue::File* other_ = nullptr;
};

}  // namespace ktest
