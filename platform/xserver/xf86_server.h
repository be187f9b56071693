// Server services that a video driver calls on its screens, beyond the libc
// wrappers and hardware access of xservices.h: the screen table and the
// private slots of screens and screen records.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in
// (platform/xserver) for tests; a test controls it through xstub::XServer
// (server.h).
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Screens ------------------------------------------------------------------

// The driver-facing records of the screens, by screen index.
extern ScrnInfoPtr* xf86Screens;
extern int xf86NumScreens;

// Counts server generations: 1 for the first start, one more per reset.
extern unsigned long serverGeneration;

// A new driver-facing screen record at the end of the table, owned by the
// server, with its private slots; flags are unused.
ScrnInfoPtr xf86AllocateScreen(DriverPtr driver, int flags);
// Removes a screen record (a refused screen) and renumbers the rest.
void xf86DeleteScreen(int scrnIndex, int flags);

// A new index into the private slots of every ScrnInfoRec (privates[]);
// -1 when none is left. Indexes live for the whole process.
int xf86AllocateScrnInfoPrivateIndex(void);
// A new index into the private slots of every ScreenRec (devPrivates[]);
// -1 when none is left.
int AllocateScreenPrivateIndex(void);


// ---- Loader ---------------------------------------------------------------------

// Marks symbol lists (each null-ended; the argument list ends with null) as
// referenced by the module, so that they resolve once their modules load.
void LoaderRefSymLists(const char** list0, ...);
// Symbol lists (or single symbols) the module needs now; the server records
// those that no loaded module offers.
void xf86LoaderReqSymLists(const char** list0, ...);
void xf86LoaderReqSymbols(const char* symbol0, ...);
// Whether a loaded module offers the symbol; its address, or null.
Bool xf86LoaderCheckSymbol(const char* name);
void* LoaderSymbol(const char* name);
// Loads a sub-module of the server ("vgahw", "int10", "ddc", "xaa", "fb",
// "ramdac", "shadowfb", ...); null when it cannot be loaded.
pointer xf86LoadSubModule(ScrnInfoPtr screen, const char* name);
pointer xf86LoadDrvSubModule(DriverPtr driver, const char* name);
void xf86UnloadSubModule(pointer module);
// Adds a module's extension; it is initialised when the server sets up its
// extensions.
void LoadExtension(ExtensionModule* extension, Bool builtin);
// Registers a video driver with the server.
void xf86AddDriver(DriverPtr driver, pointer module, int flags);

// ---- Configuration, probing and entities --------------------------------------------

// The Device sections of the active layout whose Driver is drivername, as a
// null-ended array (xalloc'd; the caller frees it, not the sections).
int xf86MatchDevice(const char* drivername, GDevPtr** sections);
// The PCI display devices found on the bus, null-ended; owned by the server.
pciVideoPtr* xf86GetPciVideoInfo(void);
// Matches the boards of a vendor against a chipset table and the Device
// sections; each matched section is one instance of its board's entity.
// Answers the number of instances and sets *foundEntities (xalloc'd) to the
// entity index of each, in order.
int xf86MatchPciInstances(const char* driverName, int vendorID, SymTabPtr chipsets,
                          PciChipsets* PCIchipsets, GDevPtr* devList, int numDevs,
                          DriverPtr driver, int** foundEntities);
typedef void (*EntityProc)(int entityIndex, pointer private_data);
// Claims an entity for a screen (a new one when screen is null) and answers
// the screen.
ScrnInfoPtr xf86ConfigPciEntity(ScrnInfoPtr screen, int scrnFlag, int entityIndex,
                                PciChipsets* p_chip, resList res, EntityProc init,
                                EntityProc enter, EntityProc leave, pointer private_data);
void xf86SetEntitySharable(int entityIndex);
Bool xf86IsEntitySharable(int entityIndex);
// True once a sharable entity drives more than one screen.
Bool xf86IsEntityShared(int entityIndex);
void xf86SetEntityInstanceForScreen(ScrnInfoPtr screen, int entityIndex, int instance);
int xf86GetNumEntityInstances(int entityIndex);
GDevPtr xf86GetDevFromEntity(int entityIndex, int instance);
// A copy of the entity's record (xalloc'd; the caller frees it).
EntityInfoPtr xf86GetEntityInfo(int entityIndex);
pciVideoPtr xf86GetPciInfoForEntity(int entityIndex);
Bool xf86IsPrimaryPci(pciVideoPtr pci);
Bool xf86IsEntityPrimary(int entityIndex);
int xf86AllocateEntityPrivateIndex(void);
// The entity's private slot of the index; null for a bad entity or index.
DevUnion* xf86GetEntityPrivate(int entityIndex, int privIndex);
// Prints the driver's chipset names: "<drvname>: <drvmsg>: name, name, ..."
void xf86PrintChipsets(const char* drvname, const char* drvmsg, SymTabPtr chips);
Bool xf86ServerIsOnlyDetecting(void);
int xf86GetVerbosity(void);

// ---- Resources and access -----------------------------------------------------------

// The VGA ranges drivers give up while they run.
extern resRange resVgaIo[];
extern resRange resVgaMem[];
// Sets how the entity uses the listed ranges while the server runs.
Bool xf86SetOperatingState(resList list, int entityIndex, int mask);
// Registers the entity's resources (its PCI ranges when list is null) with
// the access given; null on success, else the conflicting resources
// (owned by the server).
resPtr xf86RegisterResources(int entityIndex, resList list, int access);
// Installs the entity's access callbacks (memory, I/O, both).
void xf86SetAccessFuncs(EntityInfoPtr entity, xf86SetAccessFuncPtr funcs,
                        xf86SetAccessFuncPtr oldFuncs);

// ---- Options ----------------------------------------------------------------------

// Compares option names as the server does: case, blanks and underscores
// are ignored.
int xf86NameCmp(const char* s1, const char* s2);
// Gathers the screen's options (Screen, Monitor, Device and Display
// sections, then extra) into screen->options.
void xf86CollectOptions(ScrnInfoPtr screen, pointer extraOpts);
// Fills the table from the option list: each row whose option is present
// gets its parsed value and found set; a "No" prefix inverts a boolean. The
// options used are marked.
void xf86ProcessOptions(int scrnIndex, pointer options, OptionInfoPtr table);
OptionInfoPtr xf86TokenToOptinfo(const OptionInfoRec* table, int token);
const char* xf86TokenToOptName(const OptionInfoRec* table, int token);
Bool xf86IsOptionSet(const OptionInfoRec* table, int token);
char* xf86GetOptValString(const OptionInfoRec* table, int token);
Bool xf86GetOptValBool(const OptionInfoRec* table, int token, Bool* value);
Bool xf86ReturnOptValBool(const OptionInfoRec* table, int token, Bool def);
Bool xf86GetOptValInteger(const OptionInfoRec* table, int token, int* value);
Bool xf86GetOptValULong(const OptionInfoRec* table, int token, unsigned long* value);
Bool xf86GetOptValReal(const OptionInfoRec* table, int token, double* value);
// Logs every option of the list that nothing used.
void xf86ShowUnusedOptions(int scrnIndex, pointer options);
// The option of that name in a list, its value (null without one).
pointer xf86FindOption(pointer options, const char* name);
const char* xf86FindOptionValue(pointer options, const char* name);

// ---- Depth, visual, gamma ----------------------------------------------------------

// Frame-buffer formats a driver supports beside its default.
#define Support24bppFb 0x01
#define Support32bppFb 0x02
#define SupportConvert24to32 0x04
#define SupportConvert32to24 0x08
#define PreferConvert24to32 0x10
#define PreferConvert32to24 0x20

// Sets depth, bits per pixel and the Display subsection from the driver's
// defaults and the configuration; false for a combination it cannot serve.
Bool xf86SetDepthBpp(ScrnInfoPtr screen, int depth, int dummy, int fbbpp, int depth24flags);
void xf86PrintDepthBpp(ScrnInfoPtr screen);
// Colour weight and masks; zero weights take the configured or the depth's
// default.
Bool xf86SetWeight(ScrnInfoPtr screen, rgb weight, rgb mask);
// -1 takes the configured visual, else the depth's default.
Bool xf86SetDefaultVisual(ScrnInfoPtr screen, int visual);
// Zero values take the monitor's gamma, else 1.0.
Bool xf86SetGamma(ScrnInfoPtr screen, Gamma gamma);
void xf86SetDpi(ScrnInfoPtr screen, int x, int y);

// ---- Video memory -------------------------------------------------------------------

#define VIDMEM_FRAMEBUFFER 0x01
#define VIDMEM_MMIO 0x02
#define VIDMEM_MMIO_32BIT 0x04
#define VIDMEM_READSIDEEFFECT 0x08
#define VIDMEM_SPARSE 0x10
#define VIDMEM_READONLY 0x20

// Maps physical memory of a PCI device (through /dev/mem); null on failure.
pointer xf86MapPciMem(int scrnIndex, int flags, PCITAG tag, unsigned long base,
                      unsigned long size);
void xf86UnMapVidMem(int scrnIndex, pointer base, unsigned long size);

// ---- Mode validation -----------------------------------------------------------------

// Validates the named modes of availModes (all of them when modeNames is
// null or empty) for the screen and builds screen->modes, a circular list
// holding one entry per name, failed ones marked by their status. Answers
// the number of usable modes, or -1 when the arguments or the virtual size
// cannot work.
int xf86ValidateModes(ScrnInfoPtr screen, DisplayModePtr availModes, char** modeNames,
                      ClockRangePtr clockRanges, int* linePitches, int minPitch, int maxPitch,
                      int pitchInc, int minHeight, int maxHeight, int virtualX, int virtualY,
                      int apertureSize, int strategy);
// Drops the modes whose status is not MODE_OK, with a message for each.
void xf86PruneDriverModes(ScrnInfoPtr screen);
void xf86SetCrtcForModes(ScrnInfoPtr screen, int adjustFlags);
void xf86PrintModes(ScrnInfoPtr screen);
// Unlinks a mode from a list (circular or not) and frees it.
void xf86DeleteMode(DisplayModePtr* modeList, DisplayModePtr mode);
// kHz and Hz of a mode's timing (or its stored values).
double xf86ModeHSync(const DisplayModeRec* mode);
double xf86ModeVRefresh(const DisplayModeRec* mode);
const char* xf86ModeStatusToString(ModeStatus status);

#ifdef __cplusplus
}  // extern "C"
#endif
