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

// A register's index in a packet header. One is made only from a name in
// core/regs/ (or from a register of the window by IndexOfReg), so that a
// header names its registers; a run of registers (the texture units, the
// surface descriptors, the vertex places) is its first register plus a
// count.
class PacketIndex {
 public:
  explicit constexpr PacketIndex(uint8_t index) : index_(index) {}
  constexpr uint8_t Byte() const { return index_; }
  constexpr PacketIndex operator+(uint32_t n) const { return PacketIndex(static_cast<uint8_t>(index_ + n)); }
  friend constexpr bool operator==(const PacketIndex&, const PacketIndex&) = default;

 private:
  uint8_t index_;
};

// The register an index writes; the second form for an index a decoder
// read out of a header.
inline constexpr uint32_t DmaWindowReg(PacketIndex index) { return kRegDmaWindow + 4 * index.Byte(); }
inline constexpr uint32_t DmaWindowReg(uint32_t index) { return kRegDmaWindow + 4 * index; }
// The index of a register of the window (DmaWindowReg the other way).
constexpr PacketIndex IndexOfReg(uint32_t reg) { return PacketIndex(static_cast<uint8_t>((reg - kRegDmaWindow) / 4)); }

// ---- Command-path indexes ---------------------------------------------------------------
// Takes its data word and writes nothing.
inline constexpr PacketIndex kIdxDiscard{0x20};
// Pads a header and takes no data word; pads fill a header's high bytes.
inline constexpr PacketIndex kIdxPad{0x21};
// The stream's buffer-report address, then the counter the engine writes
// there (a counter index followed in one header by the report index).
inline constexpr PacketIndex kIdxBufferReport{0x24};
inline constexpr PacketIndex kIdxBufferCounter{0x25};
// Raises the engine interrupt and pauses the engine until the next start.
inline constexpr PacketIndex kIdxEvent{0x26};
// Fetching goes on at the data word.
inline constexpr PacketIndex kIdxJump{0x27};
// Runs the range [start, end) of the two data words.
inline constexpr PacketIndex kIdxExecuteStart{0x28};
inline constexpr PacketIndex kIdxExecuteEnd{0x29};

// A packet header of four register indexes, the first in the low byte.
constexpr uint32_t PacketHeader(PacketIndex first, PacketIndex second = kIdxPad, PacketIndex third = kIdxPad,
                                PacketIndex fourth = kIdxPad) {
  return uint32_t{first.Byte()} | uint32_t{second.Byte()} << 8 | uint32_t{third.Byte()} << 16 |
         uint32_t{fourth.Byte()} << 24;
}
// The data words a header takes: one per index other than the pad.
constexpr uint32_t PacketDataWords(uint32_t header) {
  uint32_t n = 0;
  for (unsigned shift = 0; shift < 32; shift += 8) n += ((header >> shift) & 0xFF) != kIdxPad.Byte() ? 1 : 0;
  return n;
}

inline constexpr uint32_t kRegSyncTag = 0x12BC;    // index 0xAF
// Two engine words the kernel sets once when it creates a board's device.
inline constexpr uint32_t kRegDeviceWordA = 0x10B0;  // index 0x2C
inline constexpr uint32_t kDeviceWordAValue = 16;
inline constexpr uint32_t kRegDeviceWordB = 0x12B8;  // index 0xAE
inline constexpr uint32_t kDeviceWordBValue = 0x00070601;
inline constexpr uint32_t kReg2dControl = 0x1300;  // index 0xC0
static_assert(IndexOfReg(kRegSyncTag).Byte() == 0xAF && DmaWindowReg(kIdxDiscard) == 0x1080);
static_assert(IndexOfReg(kReg2dControl).Byte() == 0xC0);
static_assert(PacketHeader(kIdxBufferCounter, kIdxBufferReport) == 0x21212425);
static_assert(PacketDataWords(PacketHeader(kIdxBufferCounter, kIdxBufferReport)) == 2);
