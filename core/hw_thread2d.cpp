#include "core/hw_thread2d.h"

#include <string.h>

#include "core/bm_prim_int.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"

void HwThread2d::Reset(SharedLockedData_t* shared) {
  memset(&shared->thread2d, 0, sizeof(shared->thread2d));
  shared->thread2d.reg1300 = k2dControlIdle;
  shared->thread2d.reg1324 = kInitial1324;
}

namespace {

// One restore packet: its dirty bit, header and the shadowed values sent.
struct RestorePacket {
  uint32_t bit;
  uint32_t header;
  uint8_t count;
  uint32_t SharedHwThread2d::*value[3];
};

// The placement packet of a full restore: origin, start, size and go.
constexpr uint32_t kHeaderFullRestore = PacketHeader(k2dIdxOrigin, k2dIdxStart, k2dIdxSizeGo);

const RestorePacket kRestorePackets[] = {
    {0, DescriptorHeader(0), 2, {nullptr, nullptr, nullptr}},  // source/destination pair 0
    {2, DescriptorHeader(2), 2, {nullptr, nullptr, nullptr}},  // pair 2
    {1, DescriptorHeader(1), 2, {nullptr, nullptr, nullptr}},  // pair 1
    {3, DescriptorHeader(3), 2, {nullptr, nullptr, nullptr}},  // pair 3
    {7, PacketHeader(k2dIdxBackground), 1, {&SharedHwThread2d::reg1318, nullptr, nullptr}},
    {8, PacketHeader(k2dIdxForeground), 1, {&SharedHwThread2d::reg1314, nullptr, nullptr}},
    {6, PacketHeader(k2dIdxPatternLow, k2dIdxPatternHigh), 2,
     {&SharedHwThread2d::reg131C, &SharedHwThread2d::reg1320, nullptr}},
    {5, PacketHeader(k2dIdxPlaneMask), 1, {&SharedHwThread2d::reg1324, nullptr, nullptr}},
    {10, PacketHeader(k2dIdxClipTopLeft, k2dIdxClipBottomRight), 2,
     {&SharedHwThread2d::reg1328, &SharedHwThread2d::reg132C, nullptr}},
    {4, PacketHeader(k2dIdxControl), 1, {&SharedHwThread2d::reg1300, nullptr, nullptr}},
    {9, PacketHeader(k2dIdxOrigin, k2dIdxStart, k2dIdxSize), 3,
     {&SharedHwThread2d::reg1308, &SharedHwThread2d::reg1304, &SharedHwThread2d::reg130C}},
};

// The pair packets send element (header byte 0 - descriptor 0's address
// index) / 2 of the even and odd arrays.
constexpr uint32_t kPairIndexBase = k2dIdxDescAddress0.Byte();

}  // namespace

void HwThread2d::SetupHardware(SharedLockedData_t* shared, BmPrimInt* dma) {
  SharedHwThread2d& state = shared->thread2d;
  state.emittedFlags = state.stateMask & state.dirtyBits;
  if (state.emittedFlags == 0) return;

  // The dirty groups go out as one batch: the buffer's cursor is stored
  // once for all of them.
  BmBatch batch(dma);
  for (const RestorePacket& packet : kRestorePackets) {
    if ((state.emittedFlags & (1u << packet.bit)) == 0) continue;
    const bool fullRestore = packet.bit == 9 && state.fullRestore;
    const uint32_t header = fullRestore ? kHeaderFullRestore : packet.header;
    uint32_t* out = batch.Put(1u + packet.count);
    // No buffer holds the packet: the groups stay dirty for the next call.
    if (out == nullptr) return;
    if (fullRestore) state.fullRestore = 0;
    out[0] = header;
    if (packet.value[0] == nullptr) {
      uint32_t pair = ((header & 0xFF) - kPairIndexBase) / 2;
      out[1] = state.even[pair];
      out[2] = state.odd[pair];
    } else {
      for (unsigned i = 0; i < packet.count; ++i) out[1 + i] = state.*packet.value[i];
    }
    if (packet.bit == 4) shared->last1300Value = state.reg1300;
  }
  state.emittedFlags = 0;
  state.dirtyBits = 0;
}

bool InitHwThread2d(PDEV* pdev) {
  HwThread2d::Reset(pdev->sharedLocked);
  return true;
}
void CleanupHwThread2d(PDEV*) {}
