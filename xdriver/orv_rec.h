// The X driver's records: ORVEntityRec, one per board (the heads of a board
// share it through the server's entity-private slot), ORVRec, one per
// screen (head), and the private record hung on the modes the driver
// builds itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/xserver/dga.h"
#include "platform/xserver/int10.h"
#include "platform/xserver/xf86_types.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_cursor.h"
#include "xdriver/orv_hal.h"

struct BOARDHANDLE;
struct FeatureInfo;
class PDEV;

// Heads a board drives at most.
inline constexpr int kOrvMaxHeads = 4;

// Bus-mastering mode of a head.
enum OrvBusMastering : int32_t {
  kBusMasteringKernel = 0,  // bus mastering through the kernel module
  kBusMasteringEmulated = 1,
  kBusMasteringLocal = 2,  // the driver starts the chip's DMA itself
};

// Rotation words: 0 none, 1 clockwise, -1 counter-clockwise.
inline constexpr int32_t kRotateCW = 1;
inline constexpr int32_t kRotateCCW = -1;

// TV standard codes of the screen record (the feature list has its own).
inline constexpr int32_t kOrvTvNone = 0;
inline constexpr int32_t kOrvTvNtsc = 8;
inline constexpr int32_t kOrvTvPal = 16;
inline constexpr int32_t kOrvTvPal60 = 0x8000;

// Placement of the merged desktop's second head (Monitor2Position).
enum OrvHeadPosition : int32_t {
  kPositionLeftOf = 0,
  kPositionRightOf = 1,
  kPositionAbove = 2,
  kPositionBelow = 3,
  kPositionClone = 4,
};

// The access argument of the PCI access callbacks: the board's tag, the
// command word as the driver last set it, and whether each enable callback
// (memory, I/O, both) has written it yet. It lives in the board's entity
// record, so every board is switched on once.
struct OrvPciAccessArg {
  PCITAG tag;
  uint32_t savedCommand;
  int32_t written[3];
};

// Per board; zeroed at creation, 240 bytes.
struct ORVEntityRecFields {
  int32_t instanceCount;  // -1 at creation; the probed heads count up from 0
  void* pClient;          // the hardware library's client record
  BOARDHANDLE* pBoard;
  void* pHwInfo;
  pciVideoPtr pPci;
  PCITAG pciTag;
  EntityInfoPtr pEntityInfo;
  uint32_t videoMemBytes;
  uint32_t offscreenBudget;  // bytes left for the heads' off-screen memory
  uint32_t boardOpenCount;
  ScrnInfoPtr heads[kOrvMaxHeads];
  int32_t initialised;     // the first head's PreInit has run
  uint32_t bridgeStatus;   // the tracking word of a screen without device
  uint32_t controllerMask[kOrvMaxHeads];
  uint32_t biosWords[4];   // register aperture words 0, 4, 8, 12 at console time
  int32_t biosWordsSaved;
  // The PCI access records handed to the server (memory, I/O, both) and
  // their shared argument.
  xf86AccessPtr pAccessMem;
  xf86AccessPtr pAccessIo;
  xf86AccessPtr pAccessIoMem;
  OrvPciAccessArg accessArg;
  // The hardware cursor's state of the board.
  OrvCursorBoard cursor;
};
struct ORVEntityRec : ORVEntityRecFields {
  uint8_t reserved[240 - sizeof(ORVEntityRecFields)];
};
static_assert(sizeof(ORVEntityRec) == 240);

// The record hung on a mode the driver builds (Private, PrivSize 0).
enum OrvModeKind : int32_t {
  kModeMergedPair = 0,
  kModeRotated = 1,
  kModeThreeHead = 2,
  kModeFourHead = 3,
};
struct OrvMergedPair {
  DisplayModePtr mode1;  // head 1's mode
  DisplayModePtr mode2;  // head 2's mode
  int32_t position;      // OrvHeadPosition
};
struct OrvModePrivate {
  int32_t kind;  // OrvModeKind
  // A merged pair: OrvMergedPair*; the others: DisplayModePtr[1], the mode
  // the built one comes from.
  void* source;
};
static_assert(sizeof(OrvModePrivate) == 16);

// The driver's own mode of a server mode, or null for a plain one.
inline OrvModePrivate* OrvModePriv(const DisplayModeRec* mode) {
  return mode != nullptr && mode->PrivSize == 0 ? reinterpret_cast<OrvModePrivate*>(mode->Private)
                                                : nullptr;
}

typedef Bool (*OrvModeInitProc)(ScrnInfoPtr screen, DisplayModePtr mode);

// Per screen (head); zeroed, 2,112 bytes.
struct ORVRecFields {
  // The board handle group, shared with the other heads of the board.
  void* pClient;
  BOARDHANDLE* pBoard;
  void* pHwInfo;
  ORVEntityRec* pEnt;
  int32_t head;  // 0..3
  GDevPtr pDevSection;
  OptionInfoPtr pOptions;  // private copy of the option table
  unsigned long fbPhysAddress;
  uint32_t fbMemSize;       // on-screen plus off-screen bytes
  uint32_t drawOrg;         // bytes
  uint32_t displayOrg;      // bytes
  int32_t shadowFB;
  QLBMODEINFO modeInfo;  // the head's mode record for the hardware library
  FeatureInfo* pFeatures;
  int32_t chipId;
  int32_t chipRev;
  int32_t minClock;  // kHz
  int32_t maxClock;  // kHz
  unsigned long ioPhysAddress;
  unsigned long biosAddress;
  int32_t primaryVga;
  int32_t primaryPci;
  int32_t head2, head3, head4;  // head index 1, 2, 3
  int32_t spanthree, spanfour, s3i, s4i;
  int32_t packedPixel;
  int32_t dualLink;
  int32_t packedPixelType;
  int32_t xfb;
  int32_t invertedQuad;
  int32_t monitorInputType;
  int32_t hwCursor;
  int32_t busMastering;  // OrvBusMastering
  int32_t noAccel;
  int32_t kvd, kvdtv, gnlk;
  int32_t tvStandard;  // kOrvTv*
  int32_t tvScaling;   // 0 none, 1 underscan, 3 overscan
  int32_t maxOutputs;  // number of outputs less one
  int32_t merged;
  ScrnInfoPtr aux[3];  // merged second head; three- and four-head helpers
  DisplayModePtr modes2;        // the merged second head's mode list
  DisplayModePtr currentMode2;  // and its current mode
  DisplayModePtr savedModes;    // the list the mode builders replaced
  OrvModeInitProc modeInit;
  float offScreen;
  int32_t pseudoXinerama;
  int32_t videoBridge;
  int32_t digital1, digital2;
  int32_t quadBoard;
  int32_t cursorWidth, cursorHeight;
  int32_t shadowRotate, hwRotate;
  int32_t savedBpp, savedDepth, savedDisplayWidth;
  rgb savedWeight;
  DisplayModePtr savedMode;
  uint8_t savedState;
  int32_t monitor2Position;
  xf86Int10InfoPtr pInt10;
  int32_t backupQuery;
  uint32_t consoleMode;  // 0xFFFF: unknown
  int32_t monitorMaxClock;  // kHz, 0 unknown
  void (*deferredBlockHandler)(ScrnInfoPtr screen);

  // Mapped apertures.
  uint8_t* ioBase;  // 8 KB register aperture
  uint8_t* fbBase;
  uint32_t* pBridgeStatus;  // register-write tracking word in use

  // Device binding.
  KstrnDesktopDesc desktop;  // the device object keeps pointing at its mode record
  PDEV* pdev;
  int32_t deviceStarted;
  uint32_t fbOffset;        // primary surface in the frame buffer, bytes
  uint32_t displayOffset;   // primary surface's display offset, bytes
  unsigned long cursorAperture;
  uint32_t cursorOffset;

  // Screen lifecycle.
  CloseScreenProcPtr CloseScreen;
  ScreenBlockHandlerProcPtr BlockHandler;
  xf86PointerMovedProc PointerMoved;
  uint8_t* shadowPtr;
  int32_t shadowPitch;
  void* pXaaInfo;
  void* pCursorInfo;
  uint32_t savedPitch;
  uint32_t savedDeskWidth;
  uint8_t palette[256][4];  // changed flag, red, green, blue
  // DGA: the mode list offered (one per screen mode); its count and state
  // sit with the small fields at the end.
  DGAModePtr dgaModes;
  MonPtr ownedMonitor;  // the merged second head's monitor copy
  ClockRangePtr clockRanges;

  // Multi-head desktops.
  int32_t head1Frame[4];  // merged head 1's viewport x0, y0, x1, y1
  int32_t firstHeadOrigin[2];
  int32_t headBeingSet;
  int32_t tripleOutputChoice;
  int32_t headCount;
  int32_t headRects[kOrvMaxHeads][4];  // x, y, width, height

  // OpenGL module.
  int32_t glxActive;
  void (*glxModeSwitch)(int screen, int flags);

  // Xv: the driver's adaptor with its ports, the off-screen image records
  // the server keeps pointing at, and the screen's video-layer slot.
  void* xvAdaptor;
  void* xvOffscreen;
  void* xvVideo;

  // Gamma of each head (red, green, blue), as last set.
  float gamma[kOrvMaxHeads][3];
  // The pseudo-Xinerama extension answers with this screen's heads.
  uint8_t pseudoXineramaActive;
  // The head of the desktop that shows the cursor (0 none yet, 1..4), and
  // the engine a single head's last position update showed (0 none, 1 the
  // primary, 2 the secondary).
  uint8_t cursorFrame;
  uint8_t cursorShownOn;
  // DGA: whether a DGA mode is on, the viewport-change word GetViewport
  // answers, the flag raised while a transparent blit is set up, and the
  // number of modes offered. The saved* fields above are the mode block
  // DGA saves and overrides.
  uint8_t inDGA;
  uint8_t dgaViewportChange;
  uint8_t dgaTransparentCopy;
  int16_t dgaModeCount;
};
struct ORVRec : ORVRecFields {
  uint8_t reserved[2112 - sizeof(ORVRecFields)];
};
static_assert(sizeof(ORVRec) == 2112);

// The screen's record, or the entity's.
inline ORVRec* ORVPTR(ScrnInfoPtr screen) { return static_cast<ORVRec*>(screen->driverPrivate); }

// The head's primary surface in the mapped frame buffer, or null before
// the frame buffer is mapped.
inline uint8_t* ORVHeadFramebuffer(const ORVRec* rec) {
  return rec->fbBase != nullptr ? rec->fbBase + rec->fbOffset : nullptr;
}
