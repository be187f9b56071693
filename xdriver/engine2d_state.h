// The 2D layer's view of the drawing engine: the shadow of its registers in
// the shared locked block, colour replication, sync tags and the bounded
// wait for the engine.
//
// The shadow keeps the last value programmed into each 2D register and a
// dirty word; set-up callbacks store values and mark them, and
// HwThread2d::SetupHardware sends the marked registers that the enable mask
// also holds. In the shared block (SharedHwThread2d) the dirty word is
// stateMask and the enable mask is dirtyBits.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/orv_abi.h"

class BmPrimInt;

// ---- Dirty bits of the shadow ------------------------------------------------------------
inline constexpr uint32_t k2dDirtyDescriptor0 = 1u << 0;  // descriptor d: bit d
inline constexpr uint32_t k2dDirtyControl = 1u << 4;
inline constexpr uint32_t k2dDirtyPlaneMask = 1u << 5;
inline constexpr uint32_t k2dDirtyPattern = 1u << 6;
inline constexpr uint32_t k2dDirtyBackground = 1u << 7;
inline constexpr uint32_t k2dDirtyForeground = 1u << 8;
inline constexpr uint32_t k2dDirtyOriginStartSize = 1u << 9;
inline constexpr uint32_t k2dDirtyClip = 1u << 10;

// Named views of the shadow's words.
inline uint32_t& Shadow2dDirty(SharedLockedData_t* shared) { return shared->thread2d.stateMask; }
inline uint32_t& Shadow2dEnable(SharedLockedData_t* shared) { return shared->thread2d.dirtyBits; }
inline uint32_t& Shadow2dControl(SharedLockedData_t* shared) { return shared->thread2d.reg1300; }
inline uint32_t& Shadow2dClipTopLeft(SharedLockedData_t* shared) { return shared->thread2d.reg1328; }
inline uint32_t& Shadow2dClipBottomRight(SharedLockedData_t* shared) { return shared->thread2d.reg132C; }
inline uint32_t& Shadow2dForeground(SharedLockedData_t* shared) { return shared->thread2d.reg1314; }
inline uint32_t& Shadow2dBackground(SharedLockedData_t* shared) { return shared->thread2d.reg1318; }
inline uint32_t& Shadow2dPlaneMask(SharedLockedData_t* shared) { return shared->thread2d.reg1324; }
inline uint32_t& Shadow2dPatternLow(SharedLockedData_t* shared) { return shared->thread2d.reg131C; }
inline uint32_t& Shadow2dPatternHigh(SharedLockedData_t* shared) { return shared->thread2d.reg1320; }
// Every set-up ends by copying the dirty word into the enable mask.
inline void Shadow2dArm(SharedLockedData_t* shared) { Shadow2dEnable(shared) = Shadow2dDirty(shared); }

// A colour or plane mask widened to 32 bits: taken as it is at 32 bits per
// pixel, the low half doubled at 16, the low byte repeated four times at any
// other depth.
inline uint32_t Replicate2d(uint32_t value, uint32_t bitsPerPixel) {
  if (bitsPerPixel == 32) return value;
  if (bitsPerPixel == 16) return (value & 0xFFFF) | (value & 0xFFFF) << 16;
  return (value & 0xFF) * 0x01010101u;
}

// ---- Sync tags --------------------------------------------------------------------------
// Tags of the transfers' scratch ranges carry this bit; the engine's tag
// compare ignores the low three bits.
inline constexpr uint32_t k2dTransferTagMark = 0x4;

// The next sync tag (the counter plus 8, never 0), stored back as the counter.
uint32_t Sync2dNewTag(SharedLockedData_t* shared);
// Bit 0 of the primary interface's posting flags: ORed into every tag word.
uint32_t Sync2dStreamBit(const BmPrimInt* prim);
// Writes {0x21AFDDC0, 0x707, 0, tag | stream bit} with a new tag at the
// cursor (a new buffer first when it does not fit) and answers the tag; 0
// when no buffer can hold it (nothing is written then).
uint32_t Sync2dWritePacket(BmPrimInt* prim);
// The tag the engine has completed, its low three bits cleared: register
// 0x41C (read through the register-write guard) when the DMA mode word is
// not 0, the kernel module's completed-tag word otherwise.
uint32_t Sync2dCompletedTag(CommonData* common);
// Whether the engine has passed tag, right across the wrap of the counter.
bool Sync2dTagPassed(CommonData* common, uint32_t tag);
// Waits until the engine has passed tag; false, logged with the tag and
// `what`, when it has not within the engine's bound (core/wait_bounds.h).
bool Sync2dWaitForTag(CommonData* common, uint32_t tag, const char* what);
// A sync packet with a new tag, started, then the wait for it; false when
// no packet could be written or the wait gave up.
bool Sync2dAndWait(CommonData* common, BmPrimInt* prim, const char* what);
