#include "core/hw_thread2d.h"

#include <string.h>

#include "core/bm_prim_int.h"
#include "core/pdev.h"

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

constexpr uint32_t kHeaderFullRestore = 0x21E3C1C2;

const RestorePacket kRestorePackets[] = {
    {0, 0x21218988, 2, {nullptr, nullptr, nullptr}},  // source/destination pair 0
    {2, 0x21218D8C, 2, {nullptr, nullptr, nullptr}},  // pair 2
    {1, 0x21218B8A, 2, {nullptr, nullptr, nullptr}},  // pair 1
    {3, 0x21218F8E, 2, {nullptr, nullptr, nullptr}},  // pair 3
    {7, 0x212121C6, 1, {&SharedHwThread2d::reg1318, nullptr, nullptr}},
    {8, 0x212121C5, 1, {&SharedHwThread2d::reg1314, nullptr, nullptr}},
    {6, 0x2121C8C7, 2, {&SharedHwThread2d::reg131C, &SharedHwThread2d::reg1320, nullptr}},
    {5, 0x212121C9, 1, {&SharedHwThread2d::reg1324, nullptr, nullptr}},
    {10, 0x2121CBCA, 2, {&SharedHwThread2d::reg1328, &SharedHwThread2d::reg132C, nullptr}},
    {4, 0x212121C0, 1, {&SharedHwThread2d::reg1300, nullptr, nullptr}},
    {9, 0x21C3C1C2, 3,
     {&SharedHwThread2d::reg1308, &SharedHwThread2d::reg1304, &SharedHwThread2d::reg130C}},
};

// The pair packets send element (header byte 0 - 0x88) / 2 of the even and
// odd arrays.
constexpr uint32_t kPairIndexBase = 0x88;

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
