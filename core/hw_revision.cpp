#include "core/hw_revision.h"

#include "core/chip_ids.h"
#include "core/pdev.h"

namespace {

// A revision of kAnyRevision matches every revision not listed before it.
constexpr uint32_t kAnyRevision = 0xFFFFFFFF;

struct RevisionBitRow {
  uint16_t device;
  uint32_t revision;
  uint32_t bit;
};

// Rows of one device are searched in order; its kAnyRevision row comes last.
constexpr RevisionBitRow kRevisionBits[] = {
    {kDeviceOlder6A25, kAnyRevision, 0x1},          // older chip, every revision
    {kDeviceOlder6C27, kAnyRevision, 0x1},          // older chip, every revision
    {kDeviceKestrion1, 0, 0x2},                     // 0x0A41 revision 0
    {kDeviceKestrion1, 1, 0x4},                     // 0x0A41 revision 1
    {kDeviceKestrion1, 2, 0x8},                     // 0x0A41 revision 2
    {kDeviceKestrion1, 3, kRevKestrion1Rev3},       // 0x0A41 revision 3
    {kDeviceKestrion1, kAnyRevision, 0x20},         // 0x0A41 later revisions
    {kDeviceKestrion2, 1, 0x40},                    // 0x0A42 revision 1
    {kDeviceKestrion2, 2, 0x80},                    // 0x0A42 revision 2
    {kDeviceKestrion2, 6, 0x100},                   // 0x0A42 revision 6
    {kDeviceKestrion2, kAnyRevision, 0x200},        // 0x0A42 any other revision
    {kDeviceKestrionNext1, 1, 0x400},               // 0x5D61 revision 1
    {kDeviceKestrionNext1, 2, 0x800},               // 0x5D61 revision 2
    {kDeviceKestrionNext1, kAnyRevision, 0x1000},   // 0x5D61 any other revision
    {kDeviceKestrionNext2, 0, 0x2000},              // 0x5D62 revision 0
    {kDeviceKestrionNext2, 1, 0x4000},              // 0x5D62 revision 1
    {kDeviceKestrionNext2, kAnyRevision, 0x8000},   // 0x5D62 later revisions
    {kDeviceKestrionNext3, 0, 0x10000},             // 0x5D63 revision 0
    {kDeviceKestrionNext3, 1, 0x20000},             // 0x5D63 revision 1
    {kDeviceKestrionNext3, kAnyRevision, 0x40000},  // 0x5D63 later revisions
};

// Every row's bit belongs to its device's group mask.
constexpr uint32_t GroupOf(uint16_t device) {
  switch (device) {
    case kDeviceOlder6A25:
    case kDeviceOlder6C27: return kRevOlderChips;
    case kDeviceKestrion1: return kRevKestrion1;
    case kDeviceKestrion2: return kRevKestrion2;
    case kDeviceKestrionNext1: return kRevKestrionNext1;
    case kDeviceKestrionNext2: return kRevKestrionNext2;
    case kDeviceKestrionNext3: return kRevKestrionNext3;
    default: return 0;
  }
}
constexpr bool RowsMatchTheirGroups() {
  for (const RevisionBitRow& row : kRevisionBits)
    if ((row.bit & GroupOf(row.device)) != row.bit) return false;
  return true;
}
static_assert(RowsMatchTheirGroups());

}  // namespace

uint32_t HwRevisionID::Compute(uint32_t vendorDevice, uint32_t revision) {
  if ((vendorDevice & 0xFFFF) != kKestrionVendorId) return 0;
  const auto device = static_cast<uint16_t>(vendorDevice >> 16);
  for (const RevisionBitRow& row : kRevisionBits) {
    if (row.device != device) continue;
    if (row.revision == kAnyRevision || row.revision == revision) return row.bit;
  }
  return 0;
}

bool HwRevisionID::Init(IDriver* driver) {
  driver->revisionBits = driver->sharedLocked->revisionBits;
  driver->common->revisionBits = driver->revisionBits;
  return true;
}

void HwRevisionID::Setup(SharedLockedData_t* shared, uint32_t vendorDevice, uint32_t revision) {
  shared->revisionBits = Compute(vendorDevice, revision);
}

void HwRevisionID::Setup(IDriver* driver, uint32_t vendorDevice, uint32_t revision) {
  driver->revisionBits = Compute(vendorDevice, revision);
}
