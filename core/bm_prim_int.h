// The primary command interface of a board: a pool of command buffers whose
// written ranges reach the chip's primary DMA engine in one of three ways,
// chosen by the DMA mode word of the shared locked block: posted to the
// kernel module (0), executed by the processor (1) or started by writing
// the DMA registers (2, local DMA).
//
// Writers take the command lock, reserve room (Reserve switches buffers
// when the words would pass the limit and answers null for more than a
// fresh buffer holds), store their packets, call Start and release the lock.
#pragma once

#include <stdint.h>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"

// State flags.
inline constexpr uint32_t kBmStateLocalBuffer = 0x8;   // mode 2, head in local memory
inline constexpr uint32_t kBmStateEmulated = 0x20;     // mode 1
inline constexpr uint32_t kBmPostingTagFlag = 0x1;     // mode 0; copied into sync tags

// The switch packet must always fit behind the limit.
inline constexpr uint32_t kBmMinReserve = kProgressWords;

class BmPrimInt : public BmBufferPool {
 public:
  BmPrimInt(CommonData* common, uint32_t unit, const CreateOptions& options);
  ~BmPrimInt() override = default;

  bool Open() override;
  void SwitchToNewBuffer() override;
  // Hands everything written since the last start to the chip. False when a
  // post to the kernel module failed: the start pointer then stays, so the
  // range is handed over again by the next Start.
  virtual bool Start();
  virtual bool StartVideo(uint32_t a, uint32_t b, uint32_t c);

  // Mode 2: waits for the engine to drain and points its DMA registers at
  // the cursor. False (logged) when it does not drain: nothing is written.
  [[nodiscard]] bool Reset();

  // Writes a sync packet with a new tag at the cursor and answers the tag.
  uint32_t WriteSyncPacket();
  // The tag the engine has reached (low three bits cleared).
  uint32_t ReachedSyncTag();
  bool IsSyncTagPending(uint32_t tag);
  // False (logged) when the engine does not reach the tag in time.
  [[nodiscard]] bool WaitForSyncTag(uint32_t tag);

  SharedLockedData_t* shared;
  CommonData* commonData;
  // Every head of a board holds the same device, so posts take the first
  // filled slot: a board driven only on unit 1, 2 or 3 posts as well.
  uint32_t requestSlot = kIocAnyUnit;
  uint32_t postingFlags = 0;
  uint32_t stateFlags = 0;
  // Ranges dropped because their post failed during a buffer switch.
  uint32_t droppedPosts = 0;

 protected:
  // Inline where they are defined (and only used): Start runs after every
  // few commands, and calls down to the register would cost as much as the
  // register access itself.
  [[nodiscard]] inline bool WaitEngineIdle();
  [[nodiscard]] bool WaitEngineIdleAfterBusyRead();
  [[nodiscard]] bool WaitEngineDrained();
  [[nodiscard]] inline bool RunsOnProcessor() const;
  [[nodiscard]] inline bool StartLocalDma();
  bool RunRange(bool video, uint32_t a, uint32_t b, uint32_t c);
  inline void ReleaseSurfaceDescriptors();
};
