// Registers of the drawing engine's command path: engine status and flush,
// the DMA engine, sync tags, the register-write guard's dummy register, the
// bus-time wait register and the packet window the DMA packets write.
#pragma once

#include <stdint.h>

#include "core/regs/interrupts.h"

// ---- Engine status and flush -----------------------------------------------------
inline constexpr uint32_t kRegEngineFlush = 0x314;        // all chips but 0x5D63
inline constexpr uint32_t kRegEngineStatus = 0x318;       // idle test; flush on 0x5D63
inline constexpr uint32_t kRegEngineStatusNext3 = 0x31C;  // idle test on 0x5D63
inline constexpr uint32_t kEngineFlush = 1;
// Idle values of the engine status register.
inline constexpr uint32_t kEngineStatusMask = 0x57;
inline constexpr uint32_t kEngineStatusIdle = 0x50;
inline constexpr uint32_t kEngineStatusIdleBit = 0x1;  // 0x5D62 and 0x5D63

// Written with 0 by the register-write guard before a write that follows
// another one closely.
inline constexpr uint32_t kRegGuardDummy = 0x384;

// ---- DMA engine and sync tags ------------------------------------------------------
// Bus address of the shared locked block: the engine copies every sync tag
// it reaches into the block's word 16.
inline constexpr uint32_t kRegDmaSharedBase = 0x400;
inline constexpr uint32_t kRegDmaStartAddress = 0x404;
inline constexpr uint32_t kRegDmaEndAddress = 0x408;  // writing it starts local DMA
inline constexpr uint32_t kRegSyncTagReached = 0x41C;
inline constexpr uint32_t kRegDmaStatus = 0x450;
inline constexpr uint32_t kDmaStatusWriteReady = 1u << 22;
inline constexpr uint32_t kRegEngineIdle = 0x8F0;
inline constexpr uint32_t kEngineIdleDma = 0x20000;

// Read by ClientWait, three times per unit: the delay is bus time. It is the
// interrupt controller's pending word, which reading leaves as it is.
inline constexpr uint32_t kRegWaitDummy = kRegIrqPending;

// ---- Packet window ----------------------------------------------------------------------
// Packet index i writes register kRegDmaWindow + 4 * i.
inline constexpr uint32_t kRegDmaWindow = 0x1000;
inline constexpr uint32_t DmaWindowReg(uint32_t index) { return kRegDmaWindow + 4 * index; }
inline constexpr uint32_t kRegSyncTag = 0x12BC;    // index 0xAF
// Two engine words the kernel sets once when it creates a board's device.
inline constexpr uint32_t kRegDeviceWordA = 0x10B0;  // index 0x2C
inline constexpr uint32_t kDeviceWordAValue = 16;
inline constexpr uint32_t kRegDeviceWordB = 0x12B8;  // index 0xAE
inline constexpr uint32_t kDeviceWordBValue = 0x00070601;
inline constexpr uint32_t kReg2dControl = 0x1300;  // index 0xC0
static_assert(DmaWindowReg(0xAF) == kRegSyncTag);
static_assert(DmaWindowReg(0xC0) == kReg2dControl);
