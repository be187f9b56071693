#include "hwsharing/chip/board_setup.h"

#include <cstring>

#include "core/chip_ids.h"
#include "core/regs/pci.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

// Address layout of a device: masks of the two apertures and whether the
// frame-buffer base register comes second.
struct ApertureLayout {
  uint16_t device;
  uint32_t registerMask;
  uint32_t frameBufferMask;
};

// Older chips: the library knows where their apertures are, though the chip
// layer refuses them.
const ApertureLayout kOlderChips[] = {
    {kDeviceOlder6A19, 0xffffc000, 0xff800000},
    {kDeviceOlder6A1A, 0xffffffff, 0xfffffff0},  // base registers swapped on revision 2 and lower
    {kDeviceOlder6A1B, 0xffffc000, 0xff000000},
    {kDeviceOlder6A1E, 0xffffc000, 0xff000000},
    {kDeviceOlder6A1F, 0xffffc000, 0xff000000},
    {kDeviceOlder6A20, 0xffffc000, 0xff000000},
    {kDeviceOlder6A21, 0xffffc000, 0xff000000},
    {kDeviceOlder6A25, 0xffffc000, 0xff000000},
    {kDeviceOlder6C27, 0xffffc000, 0xff000000},
};
constexpr uint32_t kSupportedRegisterMask = 0xffffff00;
constexpr uint32_t kSupportedFrameBufferMask = 0xff000000;
constexpr uint32_t kSwappedBarsMaxRevision = 2;

uint8_t ReadCommand(BOARDHANDLE* h) { return CfgReadByte(h, kCfgCommand); }

bool Is64BitBar(uint32_t bar) { return (bar & kBarTypeMask) == kBarType64; }

void InitColourTables(BOARDHANDLE* h) {
  for (LUTRECORD& lut : h->aLut) {
    lut.flLutState = 0;
    lut.ulLutKind = 0;
    for (unsigned k = 0; k < 256; ++k) {
      const auto v = static_cast<uint16_t>(k * 257);
      lut.ausLutEntry[k] = v;        // red
      lut.ausLutEntry[256 + k] = v;  // green
      lut.ausLutEntry[512 + k] = v;  // blue
    }
  }
}

}  // namespace

HALSTATUS HALPGetBoardConfigSpaceInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const HALSTATUS status = h->status;
  std::memset(h, 0, kBoardHandleClearedBytes);
  h->status = status;
  h->ulSignature = kBoardSignature;
  h->ulLibraryVersion = kLibraryVersion;
  for (size_t i = 0; i < 3; ++i) h->aulSecondSignature[i] = kSecondSignature[i];
  for (size_t i = 0; i < 2; ++i) h->aulVersionPair[i] = kVersionPair[i];
  InitColourTables(h);

  const uint32_t id = CfgRead(h, kCfgVendorDevice);
  h->usVendorId = static_cast<uint16_t>(id);
  h->usDeviceId = static_cast<uint16_t>(id >> 16);
  h->ulSubsystemIds = CfgRead(h, kCfgSubsystem);
  const uint32_t classRevision = CfgRead(h, kCfgClassRevision);
  h->ulRevision = CfgRevision::Get(classRevision);
  if (CfgSubclass::Get(classRevision) == 0) {
    h->ulBoardFlags |= kBoardFlagVgaDevice | kBoardFlagVgaClass;
  }

  // A VGA-class board that does not decode I/O is not the VGA device: it
  // gives up VGA decoding and gets its memory decoding switched on.
  if ((h->ulBoardFlags & kBoardFlagVgaDevice) && !(ReadCommand(h) & kCommandIoDecode)) {
    CfgWrite(h, kCfgChipOptions, CfgRead(h, kCfgChipOptions) & ~kChipOptionsVgaBit);
    CfgWriteByte(h, kCfgCommand, static_cast<uint8_t>(ReadCommand(h) | kCommandMemoryDecode));
    h->ulBoardFlags &= ~kBoardFlagVgaDevice;
  }
  if (!(ReadCommand(h) & kCommandMemoryDecode)) SetError(h, kErrMemoryDecodingOff);

  uint32_t registerMask = 0;
  uint32_t frameBufferMask = 0;
  bool swapped = false;
  if (IsSupportedChip(h->usDeviceId)) {
    h->ulBoardFlags |= (CfgRead(h, kCfgChipOptions) & kChipOptionsLowBits) << kBoardFlagsCfg40Shift;
    registerMask = kSupportedRegisterMask;
    frameBufferMask = kSupportedFrameBufferMask;
  } else {
    const ApertureLayout* layout = nullptr;
    for (const ApertureLayout& row : kOlderChips)
      if (row.device == h->usDeviceId) layout = &row;
    if (layout == nullptr) return SetError(h, kErrUnknownDeviceId);  // apertures stay zero
    registerMask = layout->registerMask;
    frameBufferMask = layout->frameBufferMask;
    swapped = h->usDeviceId == kDeviceOlder6A1A && h->ulRevision <= kSwappedBarsMaxRevision;
  }

  const uint32_t firstOffset = swapped ? kCfgBar1 : kCfgBar0;
  const uint32_t first = CfgRead(h, firstOffset);
  uint32_t firstHigh = 0;
  uint32_t secondOffset = swapped ? kCfgBar0 : kCfgBar1;
  if (Is64BitBar(first)) {
    firstHigh = CfgRead(h, firstOffset + 4);
    secondOffset = firstOffset + 8;
  }
  const uint32_t second = CfgRead(h, secondOffset);
  // The second register has an upper half only when it is a 64-bit base
  // itself; the dword after a 32-bit base belongs to something else.
  const uint32_t secondHigh = Is64BitBar(second) ? CfgRead(h, secondOffset + 4) : 0;

  h->ulFrameBufferApertureLow = first & frameBufferMask;
  h->ulFrameBufferApertureHigh = firstHigh;
  h->ulRegisterApertureLow = second & registerMask;
  h->ulRegisterApertureHigh = secondHigh;
  return h->status;
}
