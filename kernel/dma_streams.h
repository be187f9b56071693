// The kernel's DMA streams: the board's primary stream, whose end address
// the kernel writes into the engine's DMA end register (1032) to start the
// engine on new commands, and the secondary stream, whose filled ranges the
// primary stream executes. Both are kernel builds of the driver core's
// buffer pool (core/bm_buffer.h) over page-locked system memory.
//
// Producers: the X driver's posts (request 27, and the pending post slots of
// the periodic post), the sync-tag and flip machinery and, later, the 3D
// engine through the secondary stream.
//
// Words of the Shared locked data that user space can write are never used
// as addresses: the stream keeps its own copies of the last end address
// (word 116), the bus address of the progress word (word 76) and of the
// block (word 64), and writes the block's words only for show.
//
// The X driver has a primary stream class of the same name
// (core/bm_prim_int.h): this one is the kernel core's, in namespace kcore
// (core/kcore_names.h).
#pragma once

#include <stdint.h>

#include "core/bm_buffer.h"
#include "core/kcore_names.h"
#include "core/orv_abi.h"

class PDEV;
class BmSecondaryInt;

// Mode flags of the primary stream.
inline constexpr uint32_t kStreamSwitchBits = 0x3;       // bits 0-1 of the BmDebugFlags switch
inline constexpr uint32_t kStreamSyncPrologue = 0x2;     // a sync prologue at each start
inline constexpr uint32_t kStreamPciLocked = 0x4;        // the buffer's address flags are 3
inline constexpr uint32_t kStreamNoAddressFlags = 0x8;   // the current buffer has none
inline constexpr uint32_t kStreamEventsPending = 0x10;
inline constexpr uint32_t kStreamProcessorMode = 0x20;   // DMA mode word 1
inline constexpr uint32_t kStreamMultiCpu = 0x80;        // take the DMA busy lock
inline constexpr uint32_t kStreamBusFlag7 = 0x100;       // bus-master flag bit 7 (kinds 0, 2)
inline constexpr uint32_t kStreamBusFlag6 = 0x200;       // bus-master flag bit 6 (kinds 0, 2)

// BmDebugFlags bits the streams read besides the mode-flag bits.
inline constexpr uint32_t kBmDebugSharedBaseAligned = 0x4;  // 1024 gets the base & ~31

// Words kept free at the end of every buffer; the buffer-switch packet is
// written into them.
inline constexpr uint32_t kStreamReserveWords = 128;

// A post record (request 27 and the pending post slots): OrvDmaPostRequest.
inline constexpr uint32_t kPostTypeEvent = 2;
inline constexpr uint32_t kPostType3d = 3;
inline constexpr uint32_t kEngineMode2d = 1;
inline constexpr uint32_t kEngineMode3d = 3;
inline constexpr uint32_t kAddressFlagBits = 0x3;

namespace kcore {

class BmPrimInt : public BmBufferPool {
 public:
  BmPrimInt(CommonData* common, uint32_t unit, const CreateOptions& options, uint8_t constructionByte);
  ~BmPrimInt() override = default;

  // Pool open, the mode flags and pad granule, Reset, the end-address base.
  bool Open() override;
  // The next buffer of the ring that is neither current nor fenced by an
  // unpassed progress mark gets the write position; the old buffer ends with
  // the switch-and-jump packet at its write position, and the stream is
  // kicked. With one buffer: kick, wait as Reset does, restart it. When no
  // buffer comes free (bounded wait) nothing moves.
  void SwitchToNewBuffer() override;
  // The kick: sync prologue, padding, busy lock, pending events, end address.
  virtual bool Start();

  // Waits (bounded) for the engine to drain and points its start register
  // at the write position and its shared-base register at the block. False
  // when the engine does not drain: it may still run the old range, so
  // nothing is written.
  [[nodiscard]] bool Reset();
  // Register 1032 directly when the stream has no mode flags, else Start.
  void Kick();
  // The interrupt path's kick (engine source): one pending submission done,
  // the last end address written again, or left to the holder of the busy
  // lock.
  void KickFromInterrupt();
  // The DMA busy lock of a multi-processor board (word 112: 0 free, 1 held,
  // 2 held with a kick the interrupt path asked for). Acquire waits
  // (bounded) for 0 and answers false when the holder never lets go: the
  // caller then neither kicks nor releases. Release does the asked-for kick.
  [[nodiscard]] bool AcquireBusyLock();
  void ReleaseBusyLock();
  // Bounded wait for the drawing engine to be idle.
  [[nodiscard]] bool WaitEngineIdle();

  uint32_t EndAddressOf(const uint32_t* position) const;
  uint32_t LastEnd() const { return lastEnd_; }
  // Bus address of the block's progress word (word 32).
  uint32_t ProgressBus() const { return progressBus_; }
  bool IsOpen() const { return openCount != 0; }

  CommonData* commonData;
  SharedLockedData_t* shared;
  uint32_t eventCount = 0;
  uint32_t granule = 0;      // dwords; 0: no padding
  uint32_t modeFlags = 0;
  uint32_t endBase = 0;      // bus base of the current buffer | its address flags
  uint8_t constructionByte;

 private:
  // Switches first when fewer than `words` fit below the limit.
  bool EnsureRoom(uint32_t words);
  void WriteSyncPrologue();
  void PadToGranule();
  [[nodiscard]] bool WaitDrained();

  uint32_t lastEnd_ = 0;
  uint32_t progressBus_ = 0;  // bus address of the block's word 32
  uint32_t sharedBus_ = 0;    // bus address of the block
};

}  // namespace kcore

class BmSecondaryInt : public BmBufferPool {
 public:
  BmSecondaryInt(CommonData* common, uint32_t unit, const CreateOptions& options, BmPrimInt* primary);
  ~BmSecondaryInt() override = default;

  // Executes the filled range, appends a progress mark, kicks, fences the
  // buffer and moves to the next free buffer of the ring.
  void SwitchToNewBuffer() override;
  // Executes [start, end) from the primary stream: nothing when start is
  // not below end; without end flags the engine must be idle first.
  bool ExecuteBuffer(uint32_t start, uint32_t end, uint32_t startFlags, uint32_t endFlags);
  // Executes what was written since the last execution and marks it
  // executed; false when nothing was: no buffer, nothing written since, or
  // no primary stream to execute it. Those checks are inline, since the
  // writers hand over after each packet group and often have nothing new.
  bool ExecutePending() {
    if (head == nullptr || cursor == nullptr || start == cursor || primary == nullptr) return false;
    return ExecuteWritten();
  }

  BmPrimInt* primary;
  uint32_t startFlags = 2;
  uint32_t secondFlag = 1;

 private:
  // ExecutePending past its checks.
  bool ExecuteWritten();
};

// The pool options of the two streams for a board (bus-master flags,
// BmDebugFlags, local memory size).
struct StreamOptions {
  BmBufferPool::CreateOptions primary;
  BmBufferPool::CreateOptions secondary;
};
StreamOptions MakeStreamOptions(uint32_t busFlags, uint32_t debugFlags, uint32_t memorySize);

// Submits a post record to the board's primary stream (request 27, the
// periodic post): re-initialises the engine state on a change to 2D mode
// (or from no mode to 3D), executes the range and posts its display event.
// The record is not trusted: false, with nothing written, for a range whose
// start lies above its end (flag bits masked), or without an open stream.
bool SubmitClientDmaBuffer(CommonData* common, const OrvDmaPostRequest& record);

// The engine-state re-initialisation programme of a mode change.
void ReinitEngineState(CommonData* common);

// Writes the progress-tag sync packet: tag word T | 1, then T again.
bool WriteProgressTag(BmPrimInt* stream, uint32_t tag);

// Component entry 12.
bool InitBusmastering(PDEV* pdev);
void CleanupBusmastering(PDEV* pdev);
