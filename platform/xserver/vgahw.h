// The server's generic VGA layer: one record per screen with the VGA
// register state and the functions that reach the registers, through I/O
// ports or, once a driver sets memory-mapped access, through its register
// aperture.
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VGA_NUM_CRTC 25
#define VGA_NUM_SEQ 5
#define VGA_NUM_GFX 9
#define VGA_NUM_ATTR 21

// One saved VGA state.
typedef struct {
  unsigned char MiscOutReg;
  unsigned char CRTC[VGA_NUM_CRTC];
  unsigned char Sequencer[VGA_NUM_SEQ];
  unsigned char Graphics[VGA_NUM_GFX];
  unsigned char Attribute[VGA_NUM_ATTR];
  unsigned char DAC[768];
  int numCRTC, numSequencer, numGraphics, numAttribute;
} vgaRegRec, *vgaRegPtr;

struct _vgaHWRec;
typedef struct _vgaHWRec* vgaHWPtr;
typedef void (*vgaHWWriteIndexProcPtr)(vgaHWPtr hw, CARD8 index, CARD8 value);
typedef CARD8 (*vgaHWReadIndexProcPtr)(vgaHWPtr hw, CARD8 index);
typedef void (*vgaHWWriteProcPtr)(vgaHWPtr hw, CARD8 value);
typedef CARD8 (*vgaHWReadProcPtr)(vgaHWPtr hw);

typedef struct _vgaHWRec {
  pointer Base;  // the VGA memory window, unused here
  int IOBase;    // 0x3D0 (colour) or 0x3B0 (mono)
  pointer MMIOBase;  // the register aperture once memory-mapped access is set
  int MMIOOffset;    // where port 0 lies in the aperture
  vgaRegRec SavedReg;
  vgaRegRec ModeReg;
  Bool ShowOverscan;
  Bool paletteEnabled;
  Bool cmapSaved;
  ScrnInfoPtr pScrn;
  vgaHWWriteIndexProcPtr writeCrtc;
  vgaHWReadIndexProcPtr readCrtc;
  vgaHWWriteIndexProcPtr writeGr;
  vgaHWReadIndexProcPtr readGr;
  vgaHWWriteIndexProcPtr writeSeq;
  vgaHWReadIndexProcPtr readSeq;
  vgaHWWriteIndexProcPtr writeAttr;
  vgaHWReadIndexProcPtr readAttr;
  vgaHWWriteProcPtr writeMiscOut;
  vgaHWReadProcPtr readMiscOut;
  vgaHWWriteProcPtr writeDacMask;
  vgaHWReadProcPtr readDacMask;
  vgaHWWriteProcPtr writeDacWriteAddr;
  vgaHWWriteProcPtr writeDacReadAddr;
  vgaHWWriteProcPtr writeDacData;
  vgaHWReadProcPtr readDacData;
  vgaHWReadProcPtr readST01;
} vgaHWRec;

// What vgaHWSave and vgaHWRestore cover.
#define VGA_SR_MODE 0x01
#define VGA_SR_FONTS 0x02
#define VGA_SR_CMAP 0x04
#define VGA_SR_ALL (VGA_SR_MODE | VGA_SR_FONTS | VGA_SR_CMAP)

// The screen's private slot that holds its record.
int vgaHWGetIndex(void);
#define VGAHWPTR(p) ((vgaHWPtr)((p)->privates[vgaHWGetIndex()].ptr))

Bool vgaHWGetHWRec(ScrnInfoPtr screen);
void vgaHWFreeHWRec(ScrnInfoPtr screen);
// Register access through the aperture: port P is at base + offset + P.
void vgaHWSetMmioFuncs(vgaHWPtr hw, CARD8* base, int offset);
void vgaHWGetIOBase(vgaHWPtr hw);
void vgaHWUnlock(vgaHWPtr hw);
void vgaHWLock(vgaHWPtr hw);
void vgaHWProtect(ScrnInfoPtr screen, Bool on);
Bool vgaHWSaveScreen(ScreenPtr screen, int mode);
void vgaHWSave(ScrnInfoPtr screen, vgaRegPtr save, int flags);
void vgaHWRestore(ScrnInfoPtr screen, vgaRegPtr restore, int flags);
Bool vgaHWInit(ScrnInfoPtr screen, DisplayModePtr mode);
Bool vgaHWMapMem(ScrnInfoPtr screen);
void vgaHWddc1SetSpeed(ScrnInfoPtr screen, int speed);

#ifdef __cplusplus
}  // extern "C"
#endif
