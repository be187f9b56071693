// The 3D clients' requests of the device node: create a 3D client context
// (31), destroy it (32), and run the request its client wrote into the
// context's request block (33).
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

struct KernelClient;

// The create-context record (request 31), 56 bytes.
struct Create3dContextRecord {
  uint64_t deviceHandle;   // in: the device object
  uint64_t requestBlock;   // out: the request block's map offset (its bus address)
  uint8_t switchA;         // out
  uint8_t one;             // out: 1
  uint8_t switchB;         // out
  uint8_t switchC;         // out
  float guardBand[4];      // out
  uint32_t eight;          // out: 8
  uint32_t maxIndex;       // out: 65535
  uint8_t zero[2];         // out
  uint8_t reserved[10];
};
static_assert(sizeof(Create3dContextRecord) == 56);
static_assert(offsetof(Create3dContextRecord, guardBand) == 20);
static_assert(offsetof(Create3dContextRecord, eight) == 36);
static_assert(offsetof(Create3dContextRecord, zero) == 44);

inline constexpr float kGuardBand = 8160.0f;

int IoctlCreate3dContext(KernelClient* client, uint32_t code, unsigned long argument);
int IoctlDestroy3dContext(KernelClient* client, uint32_t code, unsigned long argument);
int IoctlExecute3dRequest(KernelClient* client, uint32_t code, unsigned long argument);
