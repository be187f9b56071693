// The device object's view of the common-buffer calls, the same in both
// builds: the board's four blocks are asked for with their sizes and their
// addresses kept in the device object and the common data.
#include "core/common_data.h"
#include "core/pdev.h"
#include "core/shared_blocks.h"

bool GetCommonBuffers(PDEV* pdev) {
  CommonBufferRequest request = {
      {kCommonDataSize, kCommonLockedSize, kSharedDataSize, kSharedLockedSize}, {}};
  if (!OsGetCommonBuffers(pdev->device, &request)) return false;
  pdev->common = static_cast<CommonData*>(request.address[kCommonBufferData]);
  pdev->commonLocked = static_cast<uint8_t*>(request.address[kCommonBufferLocked]);
  pdev->sharedData = static_cast<SharedData_t*>(request.address[kCommonBufferShared]);
  pdev->sharedLocked =
      static_cast<SharedLockedData_t*>(request.address[kCommonBufferSharedLocked]);
  pdev->common->commonLocked = pdev->commonLocked;
  pdev->common->sharedData = pdev->sharedData;
  pdev->common->sharedLocked = pdev->sharedLocked;
  return true;
}

bool ReleaseCommonBuffers(PDEV* pdev) { return OsReleaseCommonBuffers(pdev->device); }
