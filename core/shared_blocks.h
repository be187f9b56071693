// The four blocks every board shares: CommonData, the one-byte common locked
// block, SharedData_t and SharedLockedData_t. The last two come from the
// kernel module (or from process memory in local-DMA mode); the board's
// device holds all four, so every device object of the board gets the same
// addresses.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"
#include "core/os.h"

class PDEV;

enum CommonBufferIndex : int {
  kCommonBufferData = 0,
  kCommonBufferLocked = 1,
  kCommonBufferShared = 2,
  kCommonBufferSharedLocked = 3,
};

// Four sizes in, four addresses out, in the order above.
struct CommonBufferRequest {
  uint32_t size[4];
  void* address[4];
};

// Obtains (first call for the device) or finds the four blocks. A record
// that exists is reused only for the same size. Records obtained before a
// failure stay recorded and are reused by the next call.
bool OsGetCommonBuffers(OsDevice* device, CommonBufferRequest* request);
// Releases every block the device holds; always true.
bool OsReleaseCommonBuffers(OsDevice* device);

// The device object's view of the two calls above.
bool GetCommonBuffers(PDEV* pdev);
bool ReleaseCommonBuffers(PDEV* pdev);
