// Records exchanged with the configuration extension module "orvcfg".
//
// The X driver fills them when it registers a board and its outputs with the
// module; the configuration tools receive the same bytes through the
// extension's replies. Both sides include this header, so the layout is fixed
// here once. All words are little-endian 32-bit unless stated.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Flags of ORVCFGVideoMode::ulFlags.
#define ORVCFG_MODE_HSYNC_POSITIVE 0x4u
#define ORVCFG_MODE_VSYNC_POSITIVE 0x8u

// One display timing, 18 words. Units are those of the hardware library's
// mode records: the values are copied across without conversion.
typedef struct ORVCFGVideoMode {
  uint32_t ulRefreshRate;   // Hz
  uint32_t ulLineRate;      // kHz
  uint32_t ulPixClock;      // kHz
  uint32_t ulHActive;
  uint32_t ulHFrontPorch;
  uint32_t ulHSyncWidth;
  uint32_t ulHBackPorch;
  uint32_t ulHReserved;     // 0
  uint32_t ulVActive;
  uint32_t ulVFrontPorch;
  uint32_t ulVSyncWidth;
  uint32_t ulVBackPorch;
  uint32_t ulVReserved;     // 0
  uint32_t ulFlags;         // ORVCFG_MODE_*
  uint32_t aulReserved[4];  // 0
} ORVCFGVideoMode;

#define ORVCFG_BOARD_NAME_SIZE 128
#define ORVCFG_DRIVER_FAMILY_ORV 1u

// What a board can do, as the driver describes it.
typedef struct ORVCFGGenericBoardCap {
  char szName[ORVCFG_BOARD_NAME_SIZE];  // NUL-terminated
  uint32_t ulDriverFamily;              // ORVCFG_DRIVER_FAMILY_ORV
  uint32_t ulSubsystemId;               // the board's PCI subsystem id
  uint32_t ulDeviceId;                  // the chip's PCI device id
  uint32_t ulMaxOutputs;
  uint32_t ulOpenGL;                    // 1 when OpenGL is available
  uint32_t ulRotation;                  // 1 when rotated desktops work
} ORVCFGGenericBoardCap;

// Monitor input types of ORVCFGOutputState::ulInputType.
#define ORVCFG_INPUT_ANALOG 1u
#define ORVCFG_INPUT_DIGITAL 2u
#define ORVCFG_INPUT_SPECIAL_CABLE 3u

#define ORVCFG_EDID_TEXT_SIZE 32
#define ORVCFG_EDID_MODE_COUNT 25
#define ORVCFG_OUTPUT_COUNT 4

// One output and the monitor on it. Without a monitor the texts are empty
// and the timings zero.
typedef struct ORVCFGOutputState {
  uint32_t ulOutput;                        // 0..3
  char szVendor[ORVCFG_EDID_TEXT_SIZE];     // EDID vendor sign
  char szName[ORVCFG_EDID_TEXT_SIZE];       // EDID monitor name
  char szSerial[ORVCFG_EDID_TEXT_SIZE];     // EDID serial number
  uint32_t ulInputType;                     // ORVCFG_INPUT_*
  ORVCFGVideoMode oPreferred;
  uint32_t ulEdidModeCount;                 // always ORVCFG_EDID_MODE_COUNT
  ORVCFGVideoMode aoEdidModes[ORVCFG_EDID_MODE_COUNT];
} ORVCFGOutputState;

// Six words of board state; the tools give them no meaning.
typedef struct ORVCFGGenericBoardState {
  uint32_t aulWord[6];
} ORVCFGGenericBoardState;

// What the module hands to the mode validation callbacks.
typedef struct OrvCfgModeRequest {
  uint32_t ulOutput;      // 0..3
  uint32_t ulOutputType;  // ORVCFG_INPUT_ANALOG or ORVCFG_INPUT_DIGITAL
  ORVCFGVideoMode oMode;
} OrvCfgModeRequest;

struct OrvCfgBoardRecord;

// Callbacks through which the module asks the driver about a board. Each
// receives the board record the driver registered and reads the board
// handle back from it.
typedef int32_t (*OrvCfgGetSpecificCapProc)(struct OrvCfgBoardRecord* pRecord,
                                            uint32_t ulCapability);
typedef int32_t (*OrvCfgReservedProc)(struct OrvCfgBoardRecord* pRecord);
typedef uint32_t (*OrvCfgValidateModeProc)(struct OrvCfgBoardRecord* pRecord,
                                           const OrvCfgModeRequest* pRequest);
typedef int32_t (*OrvCfgGetDetailedTimingProc)(struct OrvCfgBoardRecord* pRecord,
                                               uint32_t ulWidth, uint32_t ulHeight,
                                               uint32_t ulRefresh,
                                               ORVCFGVideoMode* pOut);

// Capability numbers of OrvCfgGetSpecificCapProc.
#define ORVCFG_CAP_KVD 0u

// The board record the driver registers, zeroed before it is filled. The
// module copies what it keeps.
typedef struct OrvCfgBoardRecord {
  uint64_t ullReserved0;                  // 0
  void* pBoardHandle;                     // hardware library board handle
  ORVCFGGenericBoardCap oCap;
  uint32_t ulPciBus;
  uint32_t ulPciDevice;
  uint32_t ulPciFunction;
  uint32_t ulInterruptLine;               // PCI configuration byte 0x3C
  uint32_t ulRealBusMastering;            // 1 with kernel bus mastering
  uint32_t ulReserved1;                   // 0
  OrvCfgGetSpecificCapProc pfnGetSpecificCap;
  OrvCfgReservedProc pfnReserved;
  OrvCfgValidateModeProc pfnValidateMode;
  OrvCfgValidateModeProc pfnValidateModeEdid;
  OrvCfgGetDetailedTimingProc pfnGetDetailedTiming;
} OrvCfgBoardRecord;

// The module's two registration entry points, looked up by name.
#define ORVCFG_REGISTER_BOARD_SYMBOL "ORVCFGRegisterBoard"
#define ORVCFG_REGISTER_OUTPUT_SYMBOL "ORVCFGRegisterOutput"
typedef int (*ORVCFGRegisterBoardProc)(OrvCfgBoardRecord* pRecord);
typedef int (*ORVCFGRegisterOutputProc)(int iBoard, ORVCFGOutputState* pState);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(ORVCFGVideoMode) == 72);
static_assert(offsetof(ORVCFGVideoMode, ulHActive) == 12);
static_assert(offsetof(ORVCFGVideoMode, ulVActive) == 32);
static_assert(offsetof(ORVCFGVideoMode, ulFlags) == 52);

static_assert(sizeof(ORVCFGGenericBoardCap) == 152);
static_assert(offsetof(ORVCFGGenericBoardCap, ulDriverFamily) == 128);
static_assert(offsetof(ORVCFGGenericBoardCap, ulSubsystemId) == 132);
static_assert(offsetof(ORVCFGGenericBoardCap, ulDeviceId) == 136);
static_assert(offsetof(ORVCFGGenericBoardCap, ulMaxOutputs) == 140);
static_assert(offsetof(ORVCFGGenericBoardCap, ulOpenGL) == 144);
static_assert(offsetof(ORVCFGGenericBoardCap, ulRotation) == 148);

static_assert(sizeof(ORVCFGOutputState) == 1980);
static_assert(offsetof(ORVCFGOutputState, szVendor) == 4);
static_assert(offsetof(ORVCFGOutputState, szName) == 36);
static_assert(offsetof(ORVCFGOutputState, szSerial) == 68);
static_assert(offsetof(ORVCFGOutputState, ulInputType) == 100);
static_assert(offsetof(ORVCFGOutputState, oPreferred) == 104);
static_assert(offsetof(ORVCFGOutputState, ulEdidModeCount) == 176);
static_assert(offsetof(ORVCFGOutputState, aoEdidModes) == 180);

static_assert(sizeof(ORVCFGGenericBoardState) == 24);
static_assert(sizeof(OrvCfgModeRequest) == 80);

static_assert(sizeof(OrvCfgBoardRecord) == 232);
static_assert(offsetof(OrvCfgBoardRecord, pBoardHandle) == 8);
static_assert(offsetof(OrvCfgBoardRecord, oCap) == 16);
static_assert(offsetof(OrvCfgBoardRecord, oCap) + offsetof(ORVCFGGenericBoardCap, ulSubsystemId) == 148);
static_assert(offsetof(OrvCfgBoardRecord, oCap) + offsetof(ORVCFGGenericBoardCap, ulDeviceId) == 152);
static_assert(offsetof(OrvCfgBoardRecord, ulPciBus) == 168);
static_assert(offsetof(OrvCfgBoardRecord, ulInterruptLine) == 180);
static_assert(offsetof(OrvCfgBoardRecord, ulRealBusMastering) == 184);
static_assert(offsetof(OrvCfgBoardRecord, pfnGetSpecificCap) == 192);
static_assert(offsetof(OrvCfgBoardRecord, pfnReserved) == 200);
static_assert(offsetof(OrvCfgBoardRecord, pfnValidateMode) == 208);
static_assert(offsetof(OrvCfgBoardRecord, pfnValidateModeEdid) == 216);
static_assert(offsetof(OrvCfgBoardRecord, pfnGetDetailedTiming) == 224);
#endif
