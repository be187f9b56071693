// Set-up of a fresh board handle from the board's PCI configuration space.
#include <cstring>

#include "hwsharing/boardhandle.h"
#include "hwsharing/dispatch.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/regs_pci.h"

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
    {0x6A19, 0xffffc000, 0xff800000},
    {0x6A1A, 0xffffffff, 0xfffffff0},  // base registers swapped on revision 2 and lower
    {0x6A1B, 0xffffc000, 0xff000000},
    {0x6A1E, 0xffffc000, 0xff000000},
    {0x6A1F, 0xffffc000, 0xff000000},
    {0x6A20, 0xffffc000, 0xff000000},
    {0x6A21, 0xffffc000, 0xff000000},
    {0x6A25, 0xffffc000, 0xff000000},
    {0x6C27, 0xffffc000, 0xff000000},
};
constexpr uint32_t kSupportedRegisterMask = 0xffffff00;
constexpr uint32_t kSupportedFrameBufferMask = 0xff000000;
constexpr uint16_t kDevSwappedBars = 0x6A1A;
constexpr uint32_t kSwappedBarsMaxRevision = 2;

uint32_t ReadCfg(BOARDHANDLE* h, uint32_t offset) {
  uint32_t v = 0;
  ClientReadConfigSpaceDword(h, offset, &v);
  return v;
}

uint8_t ReadCommand(BOARDHANDLE* h) {
  uint8_t v = 0;
  ClientReadConfigSpaceByte(h, kCfgCommand, &v);
  return v;
}

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
  InitColourTables(h);

  const uint32_t id = ReadCfg(h, kCfgId);
  h->usVendorId = static_cast<uint16_t>(id);
  h->usDeviceId = static_cast<uint16_t>(id >> 16);
  h->ulSubsystemIds = ReadCfg(h, kCfgSubsystem);
  const uint32_t classRevision = ReadCfg(h, kCfgClassRevision);
  h->ulRevision = classRevision & 0xff;
  if (((classRevision >> kSubclassShift) & 0xff) == 0) h->ulBoardFlags |= kBoardFlagVgaDevice | kBoardFlagVgaClass;

  // A VGA-class board that does not decode I/O is not the VGA device: it
  // gives up VGA decoding and gets its memory decoding switched on.
  if ((h->ulBoardFlags & kBoardFlagVgaDevice) && !(ReadCommand(h) & kCommandIoDecode)) {
    ClientWriteConfigSpaceDword(h, kCfgChipOptions, ReadCfg(h, kCfgChipOptions) & ~kChipOptionsVgaBit);
    ClientWriteConfigSpaceByte(h, kCfgCommand, static_cast<uint8_t>(ReadCommand(h) | kCommandMemoryDecode));
    h->ulBoardFlags &= ~kBoardFlagVgaDevice;
  }
  if (!(ReadCommand(h) & kCommandMemoryDecode)) SetError(h, kErrMemoryDecodingOff);

  uint32_t registerMask = 0;
  uint32_t frameBufferMask = 0;
  bool swapped = false;
  if (IsSupportedChip(h->usDeviceId)) {
    h->ulBoardFlags |= (ReadCfg(h, kCfgChipOptions) & kChipOptionsLowBits) << kBoardFlagsCfg40Shift;
    registerMask = kSupportedRegisterMask;
    frameBufferMask = kSupportedFrameBufferMask;
  } else {
    const ApertureLayout* layout = nullptr;
    for (const ApertureLayout& row : kOlderChips)
      if (row.device == h->usDeviceId) layout = &row;
    if (layout == nullptr) return SetError(h, kErrUnknownDeviceId);  // apertures stay zero
    registerMask = layout->registerMask;
    frameBufferMask = layout->frameBufferMask;
    swapped = h->usDeviceId == kDevSwappedBars && h->ulRevision <= kSwappedBarsMaxRevision;
  }

  const uint32_t firstOffset = swapped ? kCfgBar1 : kCfgBar0;
  const uint32_t first = ReadCfg(h, firstOffset);
  uint32_t firstHigh = 0;
  uint32_t secondOffset = swapped ? kCfgBar0 : kCfgBar1;
  if (Is64BitBar(first)) {
    firstHigh = ReadCfg(h, firstOffset + 4);
    secondOffset = firstOffset + 8;
  }
  const uint32_t second = ReadCfg(h, secondOffset);
  // The second register has an upper half only when it is a 64-bit base
  // itself; the dword after a 32-bit base belongs to something else.
  const uint32_t secondHigh = Is64BitBar(second) ? ReadCfg(h, secondOffset + 4) : 0;

  h->ulFrameBufferApertureLow = first & frameBufferMask;
  h->ulFrameBufferApertureHigh = firstHigh;
  h->ulRegisterApertureLow = second & registerMask;
  h->ulRegisterApertureHigh = secondHigh;
  return h->status;
}
