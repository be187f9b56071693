// The generic VGA layer: a record per screen in a private slot, with register
// access through the driver's memory-mapped aperture (port P at
// aperture + offset + P).
#include "platform/xserver/server_state.h"
#include "platform/xserver/vgahw.h"

namespace {

constexpr int kMiscOutRead = 0x3CC;
constexpr int kMiscOutWrite = 0x3C2;
constexpr int kSeqIndex = 0x3C4;
constexpr int kGfxIndex = 0x3CE;
constexpr int kAttrIndex = 0x3C0;
constexpr int kAttrRead = 0x3C1;
constexpr int kDacMask = 0x3C6;
constexpr int kDacReadAddr = 0x3C7;
constexpr int kDacWriteAddr = 0x3C8;
constexpr int kDacData = 0x3C9;
constexpr int kCrtcIndexOffset = 0x04;  // from IOBase
constexpr int kStatus1Offset = 0x0A;    // from IOBase
constexpr int kCrtcProtect = 0x11;      // bit 7 locks CRTC 0-7
constexpr int kSeqClocking = 0x01;      // bit 5 blanks the screen

int g_vga_index = -1;

volatile CARD8* Port(vgaHWPtr hw, int port) {
  return static_cast<volatile CARD8*>(hw->MMIOBase) + hw->MMIOOffset + port;
}
CARD8 In(vgaHWPtr hw, int port) { return xf86ReadMmio8(Port(hw, 0), static_cast<uint32_t>(port)); }
void Out(vgaHWPtr hw, int port, CARD8 value) {
  xf86WriteMmio8(Port(hw, 0), static_cast<uint32_t>(port), value);
}

void WriteCrtc(vgaHWPtr hw, CARD8 index, CARD8 value) {
  Out(hw, hw->IOBase + kCrtcIndexOffset, index);
  Out(hw, hw->IOBase + kCrtcIndexOffset + 1, value);
}
CARD8 ReadCrtc(vgaHWPtr hw, CARD8 index) {
  Out(hw, hw->IOBase + kCrtcIndexOffset, index);
  return In(hw, hw->IOBase + kCrtcIndexOffset + 1);
}
void WriteSeq(vgaHWPtr hw, CARD8 index, CARD8 value) {
  Out(hw, kSeqIndex, index);
  Out(hw, kSeqIndex + 1, value);
}
CARD8 ReadSeq(vgaHWPtr hw, CARD8 index) {
  Out(hw, kSeqIndex, index);
  return In(hw, kSeqIndex + 1);
}
void WriteGr(vgaHWPtr hw, CARD8 index, CARD8 value) {
  Out(hw, kGfxIndex, index);
  Out(hw, kGfxIndex + 1, value);
}
CARD8 ReadGr(vgaHWPtr hw, CARD8 index) {
  Out(hw, kGfxIndex, index);
  return In(hw, kGfxIndex + 1);
}
// The attribute controller flips between index and data on each write; a
// read of input status 1 resets it to index.
void WriteAttr(vgaHWPtr hw, CARD8 index, CARD8 value) {
  (void)In(hw, hw->IOBase + kStatus1Offset);
  Out(hw, kAttrIndex, static_cast<CARD8>(index | (hw->paletteEnabled ? 0 : 0x20)));
  Out(hw, kAttrIndex, value);
}
CARD8 ReadAttr(vgaHWPtr hw, CARD8 index) {
  (void)In(hw, hw->IOBase + kStatus1Offset);
  Out(hw, kAttrIndex, static_cast<CARD8>(index | (hw->paletteEnabled ? 0 : 0x20)));
  return In(hw, kAttrRead);
}
void WriteMiscOut(vgaHWPtr hw, CARD8 value) { Out(hw, kMiscOutWrite, value); }
CARD8 ReadMiscOut(vgaHWPtr hw) { return In(hw, kMiscOutRead); }
void WriteDacMask(vgaHWPtr hw, CARD8 value) { Out(hw, kDacMask, value); }
CARD8 ReadDacMask(vgaHWPtr hw) { return In(hw, kDacMask); }
void WriteDacWriteAddr(vgaHWPtr hw, CARD8 value) { Out(hw, kDacWriteAddr, value); }
void WriteDacReadAddr(vgaHWPtr hw, CARD8 value) { Out(hw, kDacReadAddr, value); }
void WriteDacData(vgaHWPtr hw, CARD8 value) { Out(hw, kDacData, value); }
CARD8 ReadDacData(vgaHWPtr hw) { return In(hw, kDacData); }
CARD8 ReadST01(vgaHWPtr hw) { return In(hw, hw->IOBase + kStatus1Offset); }

bool Mapped(vgaHWPtr hw) { return hw != nullptr && hw->MMIOBase != nullptr; }

}  // namespace

extern "C" {

int vgaHWGetIndex(void) {
  if (g_vga_index < 0) g_vga_index = xf86AllocateScrnInfoPrivateIndex();
  return g_vga_index;
}

Bool vgaHWGetHWRec(ScrnInfoPtr screen) {
  if (screen == nullptr || vgaHWGetIndex() < 0) return FALSE;
  if (VGAHWPTR(screen) != nullptr) return TRUE;
  auto* hw = static_cast<vgaHWPtr>(xcalloc(1, sizeof(vgaHWRec)));
  if (hw == nullptr) return FALSE;
  hw->pScrn = screen;
  hw->IOBase = 0x3D0;
  hw->SavedReg.numCRTC = VGA_NUM_CRTC;
  hw->SavedReg.numSequencer = VGA_NUM_SEQ;
  hw->SavedReg.numGraphics = VGA_NUM_GFX;
  hw->SavedReg.numAttribute = VGA_NUM_ATTR;
  hw->ModeReg = hw->SavedReg;
  screen->privates[vgaHWGetIndex()].ptr = hw;
  return TRUE;
}

void vgaHWFreeHWRec(ScrnInfoPtr screen) {
  if (screen == nullptr || vgaHWGetIndex() < 0) return;
  xfree(VGAHWPTR(screen));
  screen->privates[vgaHWGetIndex()].ptr = nullptr;
}

void vgaHWSetMmioFuncs(vgaHWPtr hw, CARD8* base, int offset) {
  if (hw == nullptr) return;
  hw->MMIOBase = base;
  hw->MMIOOffset = offset;
  hw->writeCrtc = WriteCrtc;
  hw->readCrtc = ReadCrtc;
  hw->writeGr = WriteGr;
  hw->readGr = ReadGr;
  hw->writeSeq = WriteSeq;
  hw->readSeq = ReadSeq;
  hw->writeAttr = WriteAttr;
  hw->readAttr = ReadAttr;
  hw->writeMiscOut = WriteMiscOut;
  hw->readMiscOut = ReadMiscOut;
  hw->writeDacMask = WriteDacMask;
  hw->readDacMask = ReadDacMask;
  hw->writeDacWriteAddr = WriteDacWriteAddr;
  hw->writeDacReadAddr = WriteDacReadAddr;
  hw->writeDacData = WriteDacData;
  hw->readDacData = ReadDacData;
  hw->readST01 = ReadST01;
}

// Bit 0 of the miscellaneous output register selects colour (0x3Dx) or
// monochrome (0x3Bx) addresses.
void vgaHWGetIOBase(vgaHWPtr hw) {
  if (!Mapped(hw)) return;
  hw->IOBase = (ReadMiscOut(hw) & 0x01) ? 0x3D0 : 0x3B0;
}

void vgaHWUnlock(vgaHWPtr hw) {
  if (!Mapped(hw)) return;
  WriteCrtc(hw, kCrtcProtect, static_cast<CARD8>(ReadCrtc(hw, kCrtcProtect) & ~0x80));
}

void vgaHWLock(vgaHWPtr hw) {
  if (!Mapped(hw)) return;
  WriteCrtc(hw, kCrtcProtect, static_cast<CARD8>(ReadCrtc(hw, kCrtcProtect) | 0x80));
}

void vgaHWProtect(ScrnInfoPtr screen, Bool on) {
  vgaHWPtr hw = screen != nullptr ? VGAHWPTR(screen) : nullptr;
  if (!Mapped(hw)) return;
  const CARD8 clocking = ReadSeq(hw, kSeqClocking);
  WriteSeq(hw, kSeqClocking, static_cast<CARD8>(on ? clocking | 0x20 : clocking & ~0x20));
}

Bool vgaHWSaveScreen(ScreenPtr, int) { return TRUE; }

void vgaHWSave(ScrnInfoPtr screen, vgaRegPtr save, int flags) {
  vgaHWPtr hw = screen != nullptr ? VGAHWPTR(screen) : nullptr;
  if (!Mapped(hw) || save == nullptr) return;
  if (flags & VGA_SR_MODE) {
    save->MiscOutReg = ReadMiscOut(hw);
    for (int i = 0; i < save->numCRTC && i < VGA_NUM_CRTC; ++i)
      save->CRTC[i] = ReadCrtc(hw, static_cast<CARD8>(i));
    for (int i = 0; i < save->numSequencer && i < VGA_NUM_SEQ; ++i)
      save->Sequencer[i] = ReadSeq(hw, static_cast<CARD8>(i));
    for (int i = 0; i < save->numGraphics && i < VGA_NUM_GFX; ++i)
      save->Graphics[i] = ReadGr(hw, static_cast<CARD8>(i));
    for (int i = 0; i < save->numAttribute && i < VGA_NUM_ATTR; ++i)
      save->Attribute[i] = ReadAttr(hw, static_cast<CARD8>(i));
  }
  if (flags & VGA_SR_CMAP) {
    WriteDacReadAddr(hw, 0);
    for (int i = 0; i < 768; ++i) save->DAC[i] = ReadDacData(hw);
    hw->cmapSaved = TRUE;
  }
}

void vgaHWRestore(ScrnInfoPtr screen, vgaRegPtr restore, int flags) {
  vgaHWPtr hw = screen != nullptr ? VGAHWPTR(screen) : nullptr;
  if (!Mapped(hw) || restore == nullptr) return;
  if (flags & VGA_SR_MODE) {
    WriteMiscOut(hw, restore->MiscOutReg);
    for (int i = 1; i < restore->numSequencer && i < VGA_NUM_SEQ; ++i)
      WriteSeq(hw, static_cast<CARD8>(i), restore->Sequencer[i]);
    // CRTC 0-7 stay locked while bit 7 of register 0x11 is set.
    WriteCrtc(hw, kCrtcProtect, static_cast<CARD8>(restore->CRTC[kCrtcProtect] & ~0x80));
    for (int i = 0; i < restore->numCRTC && i < VGA_NUM_CRTC; ++i)
      WriteCrtc(hw, static_cast<CARD8>(i), restore->CRTC[i]);
    for (int i = 0; i < restore->numGraphics && i < VGA_NUM_GFX; ++i)
      WriteGr(hw, static_cast<CARD8>(i), restore->Graphics[i]);
    for (int i = 0; i < restore->numAttribute && i < VGA_NUM_ATTR; ++i)
      WriteAttr(hw, static_cast<CARD8>(i), restore->Attribute[i]);
  }
  if ((flags & VGA_SR_CMAP) && hw->cmapSaved) {
    WriteDacWriteAddr(hw, 0);
    for (int i = 0; i < 768; ++i) WriteDacData(hw, restore->DAC[i]);
  }
}

Bool vgaHWInit(ScrnInfoPtr, DisplayModePtr) { return TRUE; }
Bool vgaHWMapMem(ScrnInfoPtr) { return TRUE; }
void vgaHWddc1SetSpeed(ScrnInfoPtr, int) {}

}  // extern "C"
