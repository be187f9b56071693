// XAA set-up and engine synchronisation: the per-screen state every XAA
// callback finds through a screen-private slot, the info record's hooks and
// flags, the engine sync, the hardware clip rectangle and the raster
// operation table.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "platform/xserver/xaa.h"

class DeviceBitmap;
class PDEV;
class TempBit;

// The X GC function 0-15 in bits 4-7 of the drawing control word: its four
// bits reversed (GXcopy 3 gives 0xC).
extern const uint32_t g_adwKstrnXaaBopTable[16];
// The screen-private slot of the screens' XAA data, -1 until the first
// KstrnXAAInit.
extern int g_iKstrnXaaPrivateIndex;

inline constexpr uint32_t kXaaExpansionBufferBytes = 0x10000;
// The XAA record's flags: pixmap cache, off-screen pixmaps, linear framebuffer.
inline constexpr int kXaaRecordFlags = PIXMAP_CACHE | OFFSCREEN_PIXMAPS | LINEAR_FRAMEBUFFER;
inline constexpr int kXaaClippingFlags = 0x250000;
inline constexpr int kXaaPatternFlags = 0x230200;
inline constexpr int kXaaExpandFlags = SYNC_AFTER_COLOR_EXPAND;

class KstrnXaaData : public OsHeapObject {
 public:
  KstrnXaaData(XAAInfoRec* info, PDEV* pdev);
  KstrnXaaData(const KstrnXaaData&) = delete;
  KstrnXaaData& operator=(const KstrnXaaData&) = delete;

  void SetupInfoRec();

  PDEV* device;
  uint32_t* control;       // the control word of the 2D state shadow
  uint8_t clipping = 0;    // 1 while a clip rectangle is set
  uint32_t* clipTopLeft;
  uint32_t* clipBottomRight;
  int32_t* depth;          // the command lock's nesting word
  DeviceBitmap* target;    // where XAA draws: the primary surface
  TempBit* expansionTemp;  // the scratch bitmap colour expansion goes through
  uint8_t patternPending = 0;
  uint8_t expansionBuffer[kXaaExpansionBufferBytes];
  int32_t x = 0, y = 0, height = 0, width = 0, skipLeft = 0;
  uint8_t expansionPending = 0;
  XAAInfoRec* info;
};

// The screen's XAA data, or null.
KstrnXaaData* KstrnXaaDataOf(ScrnInfoPtr scrn);

// Keeps the private index, makes the screen's XAA data and disables the
// clip: 1, 2 when the data cannot be allocated, 7 for a screen without a
// private slot (a server out of slots answers -1).
uint32_t KstrnXAAInit(PDEV* pdev, ScrnInfoRec* scrn, int privateIndex, XAAInfoRec* info);
// Deletes the screen's XAA data and empties its slot.
void KstrnXAACleanup(PDEV* pdev, ScrnInfoRec* scrn);

void KstrnXAASync(ScrnInfoRec* scrn);
// The clip rectangle (inclusive), sent with the next drawing.
void KstrnXAASetClippingRectangle(ScrnInfoRec* scrn, int left, int top, int right, int bottom);
void KstrnXAADisableClipping(ScrnInfoRec* scrn);
void KstrnXAARestoreAccelState(ScrnInfoRec* scrn);
