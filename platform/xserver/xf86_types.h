// The records that the X server and a loaded video driver share: screens
// (the server's per-screen record and the driver-facing screen information),
// display modes and clock ranges, monitors, configured devices and screens,
// bus entities, PCI information, driver options, visuals and colours, and the
// driver's and the module's own records.
//
// The layouts are this stand-in's own (the driver is built against this
// header); the field names are those the driver interface names. C linkage,
// as a loadable module sees them. Fields the stand-in never sets are kept
// where a driver may read them, and stay zero.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/xserver/xservices.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int Bool;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
typedef void* pointer;
typedef int32_t INT32;
typedef int16_t INT16;
typedef uint32_t XID;
typedef uint32_t Pixel;
typedef unsigned char Uchar;

// One private slot of a record: the driver keeps a pointer (or a value) there.
typedef union _DevUnion {
  pointer ptr;
  long val;
  unsigned long uval;
  pointer (*fptr)(void);
} DevUnion;

// ---- Colours and visuals --------------------------------------------------

typedef struct {
  CARD32 red, green, blue;
} rgb;

typedef struct {
  float red, green, blue;
} Gamma;

// One colour map entry as LoadPalette receives it.
typedef struct {
  unsigned short red, green, blue;
} LOCO;

// Visual classes.
#define StaticGray 0
#define GrayScale 1
#define StaticColor 2
#define PseudoColor 3
#define TrueColor 4
#define DirectColor 5
// Masks of visual classes, one bit per class.
#define StaticGrayMask (1 << StaticGray)
#define GrayScaleMask (1 << GrayScale)
#define StaticColorMask (1 << StaticColor)
#define PseudoColorMask (1 << PseudoColor)
#define TrueColorMask (1 << TrueColor)
#define DirectColorMask (1 << DirectColor)

typedef struct _Visual {
  XID vid;
  short visualClass;
  short bitsPerRGBValue;
  short ColormapEntries;
  short nplanes;
  unsigned long redMask, greenMask, blueMask;
  int offsetRed, offsetGreen, offsetBlue;
} VisualRec, *VisualPtr;

typedef struct _Depth {
  unsigned char depth;
  short numVids;
  XID* vids;
} DepthRec, *DepthPtr;

// ---- Display modes ------------------------------------------------------

// Outcome of a mode check. Drivers answer MODE_OK or MODE_BAD from their
// ValidMode hook; the server's own checks name the reason.
typedef enum {
  MODE_OK = 0,
  MODE_HSYNC,         // horizontal sync out of range
  MODE_VSYNC,         // vertical refresh out of range
  MODE_H_ILLEGAL,     // horizontal timing unusable
  MODE_V_ILLEGAL,     // vertical timing unusable
  MODE_BAD_WIDTH,     // no line pitch fits the width
  MODE_NOMODE,        // no mode of that name
  MODE_NO_INTERLACE,  // interlace not allowed
  MODE_NO_DBLESCAN,   // double scan not allowed
  MODE_NO_VSCAN,      // multi-scan not allowed
  MODE_MEM,           // not enough video memory
  MODE_VIRTUAL_X,     // wider than the virtual width
  MODE_VIRTUAL_Y,     // taller than the virtual height
  MODE_MEM_VIRT,      // virtual size needs more memory
  MODE_NOCLOCK,       // no clock available
  MODE_CLOCK_HIGH,    // clock above every range
  MODE_CLOCK_LOW,     // clock below every range
  MODE_CLOCK_RANGE,   // clock in a gap between ranges
  MODE_BAD_HVALUE,    // horizontal value too large
  MODE_BAD_VVALUE,    // vertical value too large
  MODE_BAD_VSCAN,     // bad VScan value
  MODE_ERROR = -1,    // the check itself failed
  MODE_BAD = -2,      // refused, no reason given
} ModeStatus;

// Mode flags (DisplayModeRec.Flags), the bits of a configuration mode line.
#define V_PHSYNC 0x0001
#define V_NHSYNC 0x0002
#define V_PVSYNC 0x0004
#define V_NVSYNC 0x0008
#define V_INTERLACE 0x0010
#define V_DBLSCAN 0x0020
#define V_CSYNC 0x0040
#define V_PCSYNC 0x0080
#define V_NCSYNC 0x0100
#define V_HSKEW 0x0200

// Mode origins (DisplayModeRec.type).
#define M_T_BUILTIN 0x01
#define M_T_CLOCK_C 0x02
#define M_T_CRTC_C 0x06
#define M_T_DEFAULT 0x10
#define M_T_USERDEF 0x20

// A display mode. Mode lists of a screen are circular through next and prev;
// a monitor's list ends in null.
typedef struct _DisplayModeRec {
  struct _DisplayModeRec* prev;
  struct _DisplayModeRec* next;
  char* name;
  ModeStatus status;
  int type;

  // Timing as configured; Clock in kHz.
  int Clock;
  int HDisplay, HSyncStart, HSyncEnd, HTotal, HSkew;
  int VDisplay, VSyncStart, VSyncEnd, VTotal, VScan;
  int Flags;

  // Set by the server's mode validation.
  int ClockIndex;
  int SynthClock;  // kHz, the clock actually programmed
  int CrtcHDisplay, CrtcHBlankStart, CrtcHSyncStart, CrtcHSyncEnd, CrtcHBlankEnd,
      CrtcHTotal, CrtcHSkew;
  int CrtcVDisplay, CrtcVBlankStart, CrtcVSyncStart, CrtcVSyncEnd, CrtcVBlankEnd,
      CrtcVTotal;
  Bool CrtcHAdjusted, CrtcVAdjusted;

  // Driver-private data of the mode.
  int PrivSize;
  INT32* Private;
  int PrivFlags;

  float HSync;     // kHz, 0 = compute from the timing
  float VRefresh;  // Hz, 0 = compute from the timing
} DisplayModeRec, *DisplayModePtr;

// One range of pixel clocks a driver offers mode validation.
typedef struct _ClockRange {
  struct _ClockRange* next;
  int minClock;  // kHz
  int maxClock;  // kHz
  int clockIndex;  // -1: programmable clock
  Bool interlaceAllowed;
  Bool doubleScanAllowed;
  int ClockMulFactor;
  int ClockDivFactor;
  int PrivFlags;
} ClockRange, *ClockRangePtr;

// Mode validation strategies (flags of xf86ValidateModes).
#define LOOKUP_DEFAULT 0
#define LOOKUP_BEST_REFRESH 1
#define LOOKUP_CLOSEST_CLOCK 2
#define LOOKUP_LIST_ORDER 3
#define LOOKUP_CLKDIV2 0x0100
#define LOOKUP_OPTIONAL_TOLERANCES 0x0200

// Flags of xf86SetCrtcForModes.
#define INTERLACE_HALVE_V 0x0001

// ---- Monitors -------------------------------------------------------------

// A sync range: kHz for horizontal, Hz for vertical.
typedef struct {
  float hi, lo;
} range;

#define MAX_HSYNC 8
#define MAX_VREFRESH 8

struct xf86Monitor;

typedef struct {
  char* id;
  char* vendor;
  char* model;
  int nHsync;
  range hsync[MAX_HSYNC];
  int nVrefresh;
  range vrefresh[MAX_VREFRESH];
  DisplayModePtr Modes;  // mode lines of the monitor section, null-ended
  DisplayModePtr Last;
  Gamma gamma;
  int widthmm;
  int heightmm;
  pointer options;
  struct xf86Monitor* DDC;  // the interpreted EDID the driver attached
  Bool reducedblanking;
} MonRec, *MonPtr;

// ---- Configured devices and screens -----------------------------------------

#define MAXDACSPEEDS 4
#define MAXCLOCKS 128

struct _confscreenrec;

// A Device section of the configuration.
typedef struct {
  char* identifier;
  char* vendor;
  char* board;
  char* chipset;
  char* ramdac;
  char* driver;
  struct _confscreenrec* myScreenSection;
  Bool claimed;
  int dacSpeeds[MAXDACSPEEDS];
  int numclocks;
  int clock[MAXCLOCKS];
  char* clockchip;
  char* busID;
  Bool active;
  Bool inUse;
  int videoRam;  // kB, 0 = unset
  int textClockFreq;
  unsigned long BiosBase;  // 0 = unset
  unsigned long MemBase;   // 0 = unset
  unsigned long IOBase;    // 0 = unset
  int chipID;   // -1 = unset
  int chipRev;  // -1 = unset
  pointer options;
  int irq;
  int screen;  // the Screen number of a multi-head board
} GDevRec, *GDevPtr;

// A Display subsection of a Screen section.
typedef struct {
  int frameX0, frameY0;
  int virtualX, virtualY;
  int depth;
  int fbbpp;
  rgb weight;
  rgb blackColour;
  rgb whiteColour;
  int defaultVisual;  // -1 = unset
  char** modes;       // null-ended mode names
  pointer options;
} DispRec, *DispPtr;

// A Screen section of the configuration.
typedef struct _confscreenrec {
  char* id;
  int screennum;
  int defaultdepth;
  int defaultbpp;
  int defaultfbbpp;
  MonPtr monitor;
  GDevPtr device;
  int numdisplays;
  DispPtr displays;
  int numxvadaptors;
  pointer xvadaptors;
  pointer options;
} confScreenRec, *confScreenPtr;

// ---- Buses, entities and PCI ---------------------------------------------------

typedef enum { BUS_NONE, BUS_ISA, BUS_PCI, BUS_SBUS, BUS_last } BusType;

typedef struct {
  int bus;
  int device;
  int func;
} PciBusId;

typedef struct {
  BusType type;
  union {
    PciBusId pci;
  } id;
} BusRec, *BusPtr;

// One address range of a resource list.
typedef struct {
  unsigned long type;
  unsigned long rBegin;
  unsigned long rEnd;
} resRange, *resList;

// Resource types: the kind in the low bits, the access in the next.
#define ResMem 0x0001
#define ResIo 0x0002
#define ResPhysMask 0x000F
#define ResExclusive 0x0010
#define ResShared 0x0020
#define ResAny 0x0040
#define ResAccMask 0x0070
#define ResBlock 0x0100
#define ResSparse 0x0200
#define ResEnd 0xFFFFFFFFul
#define _END {ResEnd, 0, 0}

typedef struct _resRec {
  resRange val;
  int entityIndex;
  struct _resRec* next;
} resRec, *resPtr;

// Operating states of a resource while the server runs.
typedef enum { ResUnusedOpr = 0, ResDisableOpr = 1 } xf86State;

struct _DriverRec;

typedef struct {
  int index;
  BusRec location;
  int chipset;
  Bool active;
  resPtr resources;
  struct _DriverRec* driver;
  GDevPtr device;
} EntityInfoRec, *EntityInfoPtr;

// A PCI display device as the server found it on the bus.
typedef struct {
  int vendor;
  int chipType;
  int chipRev;
  int subsysVendor;
  int subsysCard;
  int bus;
  int device;
  int func;
  int pciClass;
  int subclass;
  int interface;
  unsigned long memBase[6];
  unsigned long ioBase[6];
  int size[6];  // log2 of each region's size, 0 when absent
  unsigned char type[6];
  unsigned long biosBase;
  int biosSize;
  pointer thisCard;
  Bool validSize;
  Bool validate;
  CARD32 listed_class;
} pciVideoRec, *pciVideoPtr;

// A driver's name for a chipset token.
typedef struct {
  int token;
  const char* name;
} SymTabRec, *SymTabPtr;

// PCI identifier of a chipset token, with the resources it takes.
typedef struct {
  int numChipset;
  int PCIid;
  resRange* resList;
} PciChipsets;

// Access callbacks the server runs around other devices' accesses.
typedef void (*xf86AccessProcPtr)(void* argument);
typedef struct {
  xf86AccessProcPtr AccessDisable;
  xf86AccessProcPtr AccessEnable;
  void* arg;
} xf86AccessRec, *xf86AccessPtr;

typedef struct {
  xf86AccessPtr mem;
  xf86AccessPtr io;
  xf86AccessPtr io_mem;
} xf86SetAccessFuncRec, *xf86SetAccessFuncPtr;

// ---- Driver options -------------------------------------------------------------

typedef enum {
  OPTV_NONE = 0,
  OPTV_INTEGER,
  OPTV_STRING,  // a non-empty string
  OPTV_ANYSTR,  // any string, the empty one included
  OPTV_REAL,
  OPTV_BOOLEAN,
  OPTV_PERCENT,
  OPTV_FREQ,
} OptionValueType;

typedef enum { OPTUNITS_HZ = 1, OPTUNITS_KHZ, OPTUNITS_MHZ } OptFreqUnits;

typedef union {
  unsigned long num;
  char* str;
  double realnum;
  Bool boolean;
  struct {
    double freq;
    int units;
  } freq;
} ValueUnion;

typedef struct {
  int token;
  const char* name;
  OptionValueType type;
  ValueUnion value;
  Bool found;
} OptionInfoRec, *OptionInfoPtr;

// ---- Screens -------------------------------------------------------------------

struct _Screen;
struct _ScrnInfoRec;
struct _DriverRec;

typedef struct _Screen* ScreenPtr;
typedef struct _ScrnInfoRec* ScrnInfoPtr;
typedef struct _DriverRec* DriverPtr;

// Hooks the server calls on a screen's driver.
typedef Bool (*xf86ProbeProc)(DriverPtr driver, int flags);
typedef Bool (*xf86PreInitProc)(ScrnInfoPtr screen, int flags);
typedef Bool (*xf86ScreenInitProc)(int scrnIndex, ScreenPtr screen, int argc, char** argv);
typedef Bool (*xf86SwitchModeProc)(int scrnIndex, DisplayModePtr mode, int flags);
typedef void (*xf86AdjustFrameProc)(int scrnIndex, int x, int y, int flags);
typedef Bool (*xf86EnterVTProc)(int scrnIndex, int flags);
typedef void (*xf86LeaveVTProc)(int scrnIndex, int flags);
typedef void (*xf86FreeScreenProc)(int scrnIndex, int flags);
typedef ModeStatus (*xf86ValidModeProc)(int scrnIndex, DisplayModePtr mode, Bool verbose,
                                        int flags);
typedef int (*xf86ChangeGammaProc)(int scrnIndex, Gamma gamma);
typedef void (*xf86PointerMovedProc)(int scrnIndex, int x, int y);
typedef void (*xf86LoadPaletteProc)(ScrnInfoPtr screen, int count, int* indices, LOCO* colors,
                                    VisualPtr visual);
typedef void (*xf86DPMSSetProc)(ScrnInfoPtr screen, int mode, int flags);
typedef Bool (*xf86EnableDisableFBAccessProc)(int scrnIndex, Bool enable);

// Flags of the ValidMode hook: bit 0 asks for the final check of a mode that
// passed the server's own checks.
#define MODECHECK_INITIAL 0
#define MODECHECK_FINAL 1

// The driver-facing record of one screen (one head of a board here).
typedef struct _ScrnInfoRec {
  int driverVersion;
  char* driverName;
  ScreenPtr pScreen;
  int scrnIndex;
  Bool configured;
  int origIndex;

  // Pixmap formats.
  int imageByteOrder;
  int bitmapScanlineUnit;
  int bitmapScanlinePad;
  int bitmapBitOrder;

  // Depth and colour.
  int bitsPerPixel;
  int depth;
  MessageType depthFrom;
  MessageType bitsPerPixelFrom;
  rgb weight;
  rgb mask;
  rgb offset;
  int rgbBits;
  Gamma gamma;
  int defaultVisual;

  // Sizes, in pixels.
  int maxHValue;
  int maxVValue;
  int virtualX;
  int virtualY;
  int xInc;
  MessageType virtualFrom;
  int displayWidth;  // the pitch
  int frameX0, frameY0, frameX1, frameY1;  // the viewport, inclusive
  int zoomLocked;

  // Modes: a circular list, its current mode, and a pool of candidates.
  DisplayModePtr modePool;
  DisplayModePtr modes;
  DisplayModePtr currentMode;

  confScreenPtr confScreen;
  MonPtr monitor;
  DispPtr display;
  int* entityList;
  int numEntities;
  int* entityInstanceList;  // the instance (head) of each entity this screen drives
  int widthmm, heightmm;
  int xDpi, yDpi;
  const char* name;
  pointer driverPrivate;
  DevUnion* privates;
  DriverPtr drv;
  pointer module;
  int colorKey;
  int overlayFlags;

  // Chip and board.
  const char* chipset;
  const char* ramdac;
  const char* clockchip;
  Bool progClock;
  int numClocks;
  int clock[MAXCLOCKS];
  int videoRam;  // kB
  unsigned long biosBase;
  unsigned long memPhysBase;
  unsigned long fbOffset;
  int memClk;
  int textClockFreq;
  Bool flipPixels;
  pointer options;
  int chipID;
  int chipRev;

  // Resources and access.
  int racMemFlags;
  int racIoFlags;
  xf86AccessRec access;
  Bool vtSema;  // the screen owns the hardware
  Bool silkenMouse;
  ClockRangePtr clockRanges;
  int adjustFlags;

  // Hooks.
  xf86ProbeProc Probe;
  xf86PreInitProc PreInit;
  xf86ScreenInitProc ScreenInit;
  xf86SwitchModeProc SwitchMode;
  xf86AdjustFrameProc AdjustFrame;
  xf86EnterVTProc EnterVT;
  xf86LeaveVTProc LeaveVT;
  xf86FreeScreenProc FreeScreen;
  xf86ValidModeProc ValidMode;
  xf86EnableDisableFBAccessProc EnableDisableFBAccess;
  xf86ChangeGammaProc ChangeGamma;
  xf86PointerMovedProc PointerMoved;
  xf86DPMSSetProc DPMSSet;
  xf86LoadPaletteProc LoadPalette;
} ScrnInfoRec;

// ---- The screen layer's record ------------------------------------------------------

typedef Bool (*CloseScreenProcPtr)(int scrnIndex, ScreenPtr screen);
typedef Bool (*SaveScreenProcPtr)(ScreenPtr screen, int on);
typedef void (*ScreenBlockHandlerProcPtr)(int scrnIndex, pointer blockData, pointer timeout,
                                          pointer readmask);
typedef void (*ScreenWakeupHandlerProcPtr)(int scrnIndex, pointer wakeupData,
                                           unsigned long result, pointer readmask);

struct _ColormapRec;
typedef struct _ColormapRec* ColormapPtr;
typedef Bool (*CreateColormapProcPtr)(ColormapPtr colormap);
typedef void (*DestroyColormapProcPtr)(ColormapPtr colormap);
typedef void (*InstallColormapProcPtr)(ColormapPtr colormap);
typedef void (*StoreColorsProcPtr)(ColormapPtr colormap, int count, pointer items);

// A drawable pixmap: the screen pixmap of the framebuffer layer, or any
// pixmap of a screen.
typedef struct _Pixmap {
  ScreenPtr pScreen;
  int width;
  int height;
  int depth;
  int bitsPerPixel;
  int devKind;  // bytes per line
  pointer devPrivate;  // the pixels
} PixmapRec, *PixmapPtr;

typedef PixmapPtr (*CreatePixmapProcPtr)(ScreenPtr screen, int width, int height, int depth);
typedef Bool (*DestroyPixmapProcPtr)(PixmapPtr pixmap);

// The server's record of one screen. The hooks are wrappable: a layer keeps
// the hook it found and puts its own in place.
typedef struct _Screen {
  int myNum;
  unsigned long id;
  short width, height;  // pixels
  short mmWidth, mmHeight;
  short numDepths;
  unsigned char rootDepth;
  DepthPtr allowedDepths;
  unsigned long rootVisual;
  unsigned long defColormap;
  short minInstalledCmaps, maxInstalledCmaps;
  char backingStoreSupport, saveUnderSupport;
  unsigned long whitePixel, blackPixel;
  int numVisuals;
  VisualPtr visuals;
  DevUnion* devPrivates;  // by the index AllocateScreenPrivateIndex gave
  pointer devPrivate;     // the screen pixmap of the framebuffer layer

  CloseScreenProcPtr CloseScreen;
  SaveScreenProcPtr SaveScreen;
  ScreenBlockHandlerProcPtr BlockHandler;
  ScreenWakeupHandlerProcPtr WakeupHandler;
  pointer blockData;
  pointer wakeupData;
  CreatePixmapProcPtr CreatePixmap;
  DestroyPixmapProcPtr DestroyPixmap;
  CreateColormapProcPtr CreateColormap;
  DestroyColormapProcPtr DestroyColormap;
  InstallColormapProcPtr InstallColormap;
  StoreColorsProcPtr StoreColors;
} ScreenRec;

// ---- The driver's and the module's records ---------------------------------------------

typedef struct _DriverRec {
  int driverVersion;
  const char* driverName;
  void (*Identify)(int flags);
  Bool (*Probe)(struct _DriverRec* driver, int flags);
  const OptionInfoRec* (*AvailableOptions)(int chipid, int bustype);
  pointer module;
  int refCount;
} DriverRec;

// Probe flags.
#define PROBE_DEFAULT 0x00
#define PROBE_DETECT 0x01
#define PROBE_TRYHARD 0x02

// The version record a module exports (through its module data record).
typedef struct {
  const char* modname;
  const char* vendor;
  CARD32 _modinfo1_;  // MODINFOSTRING1
  CARD32 _modinfo2_;  // MODINFOSTRING2
  CARD32 xf86version;
  CARD8 majorversion;
  CARD8 minorversion;
  CARD16 patchlevel;
  const char* abiclass;
  CARD32 abiversion;
  const char* moduleclass;
  CARD32 checksum[4];
} XF86ModuleVersionInfo;

#define MODINFOSTRING1 0xef23fdc5u
#define MODINFOSTRING2 0x10dc023au
#define ABI_CLASS_VIDEODRV "X.Org Video Driver"
#define MOD_CLASS_VIDEODRV "X.Org Video Driver"

typedef pointer (*ModuleSetupProc)(pointer module, pointer options, int* errmaj, int* errmin);
typedef void (*ModuleTearDownProc)(pointer teardownData);

// "<name>ModuleData", what the loader looks up in a module.
typedef struct {
  XF86ModuleVersionInfo* vers;
  ModuleSetupProc setup;
  ModuleTearDownProc teardown;
} XF86ModuleData;

// Loader errors a set-up function reports in errmaj.
typedef enum {
  LDR_NOERROR = 0,
  LDR_NOMEM,
  LDR_NOENT,
  LDR_NOSUBENT,
  LDR_NOSPACE,
  LDR_NOMODOPEN,
  LDR_UNKTYPE,
  LDR_NOLOAD,
  LDR_ONCEONLY,  // 8: the module may be set up only once
  LDR_NOPORTDRV,
  LDR_NOHARDWARE,
  LDR_MISMATCH,
  LDR_BADUSAGE,
  LDR_INVALID,
  LDR_BADOS,
  LDR_MODSPECIFIC,
} LoaderErrorCode;

// An extension a module adds to the server.
typedef void (*InitExtension)(void);
typedef struct {
  InitExtension initFunc;
  const char* name;
  Bool* disablePtr;
  InitExtension setupFunc;
  const char** initDependencies;
} ExtensionModule;

#ifdef __cplusplus
}  // extern "C"

static_assert(offsetof(XF86ModuleVersionInfo, majorversion) == 28);
static_assert(offsetof(XF86ModuleVersionInfo, minorversion) == 29);
static_assert(offsetof(XF86ModuleVersionInfo, patchlevel) == 30);
static_assert(offsetof(XF86ModuleData, vers) == 0);
#endif
