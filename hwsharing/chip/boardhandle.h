// BOARDHANDLE: everything the hardware library knows about one board. The
// caller allocates it (20,392 bytes) and passes it to every call; set-up
// clears all of it but the client record pointer in its last 16 bytes.
// Fields belong to the parts of the library that use them; room that no
// part has claimed yet is kept as reserved bytes so the size stays fixed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/board_description.h"
#include "core/client_services.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/chip/mcs.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/haltypes.h"
#include "hwsharing/chip/miscio.h"

inline constexpr uint32_t kBoardSignature = 15292;
inline constexpr uint32_t kLibraryVersion = 584;
inline constexpr uint32_t kSecondSignature[3] = {0x56BABE78, 448, 1};
inline constexpr uint32_t kVersionPair[2] = {4632, 1};

// ---- Board flags -------------------------------------------------------------
inline constexpr uint32_t kBoardFlagVgaDevice = 1u << 0;       // decodes VGA
inline constexpr uint32_t kBoardFlagHwInitialised = 1u << 1;
inline constexpr uint32_t kBoardFlagCustomSysClock = 1u << 2;
inline constexpr uint32_t kBoardFlagPinsNotFromRom = 1u << 3;
// Outputs 0 and 1 are swapped: their monitor records trade places, and the
// analog EDID reads take each other's DDC port (0 and 5).
inline constexpr uint32_t kBoardFlagMonitorsSwapped = 1u << 4;
inline constexpr uint32_t kBoardFlagsLowBandwidthMask = 0x7u << 5;
inline constexpr uint32_t kBoardFlagBothPanelsDigital = 1u << 8;
inline constexpr uint32_t kBoardFlagAcpiOff = 1u << 17;
inline constexpr uint32_t kBoardFlagsCfg40Shift = 25;           // bits 25-26
inline constexpr uint32_t kBoardFlagsCfg40Mask = 0x3u << 25;
// The two controller modules run in step: every synchronise resets both,
// and the preload counts are not split between the modules.
inline constexpr uint32_t kBoardFlagModulesInStep = 1u << 29;
inline constexpr uint32_t kBoardFlagVgaClass = 1u << 30;        // set with bit 0 at set-up

// ---- Board feature word ----------------------------------------------------------
inline constexpr uint32_t kFeaturePort16BoardLines = 1u << 24;  // also Chrontel encoder 0 found
inline constexpr uint32_t kFeatureStereoConnector = 1u << 29;
// Companion chips add-on detection found: DVI transmitters 0 and 1 (bits
// 13, 14) and Chrontel encoders 0 and 1 (bits 24, 25; bit 24 is the same
// bit as the port-16 routing).
inline constexpr uint32_t kFeatureTransmitter0 = 1u << 13;
inline constexpr uint32_t kFeatureTransmitter1 = 1u << 14;
inline constexpr uint32_t kFeatureTransmitters = kFeatureTransmitter0 | kFeatureTransmitter1;
inline constexpr uint32_t kFeatureEncoder0 = kFeaturePort16BoardLines;
inline constexpr uint32_t kFeatureEncoder1 = 1u << 25;
inline constexpr uint32_t kFeatureEncoders = kFeatureEncoder0 | kFeatureEncoder1;

// ---- Output word (see ulOutputCaps) --------------------------------------------
inline constexpr uint32_t kOutputCapsDigitalRoute0 = 1u << 29;  // first digital output via the module
inline constexpr uint32_t kOutputCapsDigitalRoute1 = 1u << 30;  // second digital output via the module

// One colour look-up record per controller.
struct LUTRECORD {
  uint32_t flLutState;
  uint32_t ulLutKind;  // 0: red, green, blue ramps of 256; 1: one ramp of 1024
  uint16_t ausLutEntry[1024];
};
static_assert(sizeof(LUTRECORD) == 2056);

struct CABLEINFO {
  uint8_t ucCableType;
  uint32_t ulCaps;
};
static_assert(sizeof(CABLEINFO) == 8);

struct HWOUTPUTENTRY {
  uint32_t ulUsable;
  uint32_t ulDetectedType;
  uint32_t ulCaps;
  int32_t lController, lDac, lDvo, lFpga, lEncoder;
  int32_t alTransmitter[4];
  uint32_t ulTransmitterPair, ulTransmitterPairBase;
  uint32_t ulFpgaPair, ulFpgaPairBase;
};
static_assert(sizeof(HWOUTPUTENTRY) == 64);
// The hardware output table: entry k for output k.
using HWOUTPUTTABLE = HWOUTPUTENTRY[4];

// The board description block as read from the video BIOS or the EEPROM
// (its layout: core/board_description.h).
inline constexpr size_t kBiosVersionTextSize = 32;
struct PINSDATA {
  uint8_t aucData[kPinsDataSize];
  uint32_t ulBiosVersion;
  uint32_t ulBiosFlags;  // option byte; bit 8 TV BIOS, bit 9 text's fourth character 'I'
  char szBiosVersion[kBiosVersionTextSize];
};

// The expansion-module record; its first word is the board's multi-output
// flag.
struct CEMSTRUCTURE {
  uint32_t ulPresent;
  uint32_t ulBoardType;
  uint16_t usControlByte;  // the control word is code << 16 plus this byte
  uint16_t usModuleCode;
  uint32_t ulProgMethod;
  uint32_t ulCntlMethod;
  uint32_t aulMethodData[6];
};

// Limits of one output decoded from the board description.
struct OUTPUTLIMIT {
  uint32_t ulKind;
  uint32_t ulMaxClock;     // kHz
  uint32_t ulSecondLimit;  // kHz; 0 = none
};

// What the board description says about the board (version-6 layout).
inline constexpr size_t kBoardTextSize = 32;
struct BOARDINFO {
  uint32_t ulBoardWord1;
  uint32_t ulBoardWord2;  // its low byte 12 marks a board the CRTC treats apart
  uint32_t ulBoardWord3;  // (w >> 4) << 16 | (w & 15)
  char szSerialNumber[kBoardTextSize];
  char szBoardText[kBoardTextSize];
  uint32_t ulMemorySize;      // bytes
  uint32_t ulAvailMemorySize; // bytes
  uint32_t ulClock;           // kHz, 0 before version 0x604
  uint32_t ulRefClock;        // kHz
  uint32_t ulInfoLevel;
  OUTPUTLIMIT aOutputLimit[4];
  uint32_t ulCapability;
  uint32_t ulReserved;
};
static_assert(sizeof(BOARDINFO) % 8 == 0);

// The VGA state the facade saves and restores: the VGA register block with
// the 768-byte palette at byte 62.
inline constexpr size_t kVgaStateSize = 830;

// What the console's return needs besides the saved VGA block, kept per
// board: the encoders that carry the console (found by the output-state
// probe) and the expansion FPGAs' register sets, each a list of {register,
// value} byte pairs ended by register 255. A cleared handle stands for the
// defaults: encoders 0 and 1 and the first preset sets (vga_return.cpp).
inline constexpr size_t kFpgaSetBytes = 256;
struct VGARETURNSTATE {
  uint32_t ulValid;
  uint32_t ulPrimaryChrontel;
  uint32_t ulSecondaryChrontel;
  uint8_t aucFpgaSet[2][kFpgaSetBytes];
};
static_assert(sizeof(VGARETURNSTATE) == 524);

struct BOARDHANDLE {
  uint32_t ulSignature;
  uint32_t ulLibraryVersion;
  HALSTATUS status;
  MODEINFO aModeInfo[4];  // controllers 0..3
  uint16_t usVendorId;
  uint16_t usDeviceId;
  uint32_t ulRevision;
  uint32_t ulSubsystemIds;
  uint32_t ulFeatures;
  uint32_t ulBoardFlags;
  uint32_t ulInterruptConfig;
  // The outputs the board offers, decided by add-on detection. One word with
  // several names: the output-enable word (chip bring-up, add-on detection),
  // the output-capability word (cables, mode validation, library entries),
  // the capability-flags word (connectors), and, for bits 29 and 30, the
  // digital-output routing bits (board capabilities).
  uint32_t ulOutputCaps;
  uint32_t aulDigitalOutputFormat[4];
  LUTRECORD aLut[4];
  MONITORINFO aMonitorInfo[4];
  SYSCLOCKINFO oSystemClock;
  SYSCLOCKINFO oStandardSystemClock;
  uint8_t ucTvStandard;
  uint8_t ucTvCableType;
  uint8_t ucTvDetected;
  uint8_t ucTvModeState;
  TVPROCAMP oTvProcAmp;
  CABLEINFO aCableInfo[4];
  HWOUTPUTTABLE aHwOutput;
  uint32_t ulRegisterApertureLow, ulRegisterApertureHigh;
  uint32_t ulFrameBufferApertureLow, ulFrameBufferApertureHigh;
  uint8_t aucAddOnPresent[16];
  PINSDATA oPins;
  uint32_t ulSavedE20, ulSavedE2C;
  uint32_t aulConfigOverride[2];
  I2CPORTINFO oI2cPort;
  uint32_t ulI2cActive;  // 0xFFFF while a port is open
  I2CCLOCKSTATE oI2cClockState;
  // Board-description words of the I2C ports: bits 2 and 3 say that ports 1
  // and 16 exist, bits 0x40000 and 0x80000 that they run fast. Decoding the
  // board information derives them from the lines the description wires.
  uint32_t ulPinsPortWord;
  uint32_t ulPinsPortSpeed;
  I2CDEVICE aChrontel[4];
  I2CDEVICE aSiI164[4];
  I2CDEVICE oCfgEeprom;
  I2CDEVICE aFpga[2];
  I2CDEVICE oCpld;
  // multi-output flag (ulPresent), board type and expansion-module code.
  CEMSTRUCTURE oCem;
  uint32_t ulSaved360, ulSaved364;
  uint32_t ulPixClockSourceCaps;
  BOARDINFO oBoardInfo;
  // The library interface's own words: a second signature with its two
  // words and a version pair (written at set-up), the four output capability
  // words (packed-pixel and dual-link capabilities the X driver sets), the
  // port word of the last I2C port opened through the interface, and the
  // VGA state saved for this board.
  uint32_t aulSecondSignature[3];
  uint32_t aulVersionPair[2];
  uint32_t aulOutputCapsWord[4];
  uint32_t ulI2cPortWord;
  // The colour-compensation records of the two modules (MCS blocks 0, 1).
  MCSRECORD aMcs[2];
  DACINFO oDac;
  // The request copy (the working mode record): the record of the mode set
  // in progress as its caller gave it, before the set adapts it to the
  // output path; the encoders, the expansion module and the DVO and DVI
  // code read it. It stands for "the saved mode record" of the quad boards
  // and of a record whose horizontal timing is doubled.
  MODEINFO oWorkingMode;
  // What add-on detection found of the audio processor and the PanelLink
  // transmitter or module.
  uint32_t ulMspVersion;
  uint32_t ulPanelLinkVersion;
  // The DVI transmitters' edge setting, and whether this board's parameter
  // blocks carry it (the state the last transmitter enable left).
  uint8_t ucTransmitterEdge;
  uint8_t ucSiParamsEdge;
  // The TV-encoder kind of the TV state: 5 once the integrated encoder
  // runs, its bits 0 and 2 cleared when TV output 1 goes off; 0 leaves the
  // kind to the detected Velan's version (tv_state.h).
  uint8_t ucTvEncoderKind;
  uint8_t ucEncoderPad;
  // The horizontal-link cancel word of each hardware output table entry
  // (aHwOutput): 1 when a horizontal display-start change must not carry
  // the entry's linked outputs along.
  uint32_t aulHwOutputLinkCancel[4];
  // The clocks in use per output, and the Chrontel encoders whose TV clock
  // a quad board may share (bit n: encoder n).
  CLOCKINFO aClockInfo[4];
  uint32_t ulTvClockSourceMask;
  VGARETURNSTATE oVgaReturn;
  uint8_t aucVgaState[kVgaStateSize];
  uint8_t aucReserved[4056 - sizeof(BOARDINFO) - 10 * sizeof(uint32_t) - kVgaStateSize -
                      sizeof(VGARETURNSTATE) -
                      2 * sizeof(MCSRECORD) - sizeof(DACINFO) - sizeof(MODEINFO) -
                      3 * sizeof(uint32_t) - 4 * sizeof(uint32_t) - 4 * sizeof(CLOCKINFO) - sizeof(uint32_t)];
  DEVICEJUMPTABLE oJumpTable;
  const MISCFUNCTIONS* pMISCFunctions;
  const CLIENTFUNCTIONS* pClientFunctions;
  const MDACFUNCTIONS* pMDACFunctions;
  const CRTCFUNCTIONS* pCRTCFunctions;
  void* pUnused;
  const I2CFUNCTIONS* pI2CFunctions;
  const VLNFUNCTIONS* pVLNFunctions;
  const FPFUNCTIONS* pFPFunctions;
  const ADDONFUNCTIONS* pADDONFunctions;
  const EDIDFUNCTIONS* pEDIDFunctions;
  // Stored when the library is opened; set-up leaves it alone.
  ORVClientRecord* pClient;
  uint8_t aucTail[8];
};
inline constexpr size_t kBoardHandleClearedBytes = 20376;
static_assert(sizeof(BOARDHANDLE) == kBoardHandleSize);
static_assert(offsetof(BOARDHANDLE, pClient) == kBoardHandleClientOffset);
static_assert(offsetof(BOARDHANDLE, pClient) == kBoardHandleClearedBytes);
static_assert(offsetof(BOARDHANDLE, oPins) == kBoardHandlePinsOffset);
static_assert(offsetof(BOARDHANDLE, status) == 8);
static_assert(offsetof(BOARDHANDLE, aModeInfo) == 12);

// Multi-output flag, board type and the two expansion-module codes.
inline uint32_t MultiOutputFlag(const BOARDHANDLE* h) { return h->oCem.ulPresent; }
inline uint32_t BoardType(const BOARDHANDLE* h) { return h->oCem.ulBoardType; }
inline uint16_t CemModuleCode(const BOARDHANDLE* h) { return h->oCem.usModuleCode; }
inline uint8_t PinsCemCode(const BOARDHANDLE* h) { return h->oPins.aucData[kPinsCemCode]; }
// The connector code of a connector: the low six bits of its byte.
inline constexpr uint32_t kConnectorCodeMask = 0x3F;
inline uint32_t PinsConnectorCode(const BOARDHANDLE* h, uint32_t connector) {
  return h->oPins.aucData[kPinsConnectorCodes + (connector & 3)] & kConnectorCodeMask;
}
// Bits of a connector description byte.
inline constexpr uint8_t kConnectorAnalog = 0x01;
inline constexpr uint8_t kConnectorDigital = 0x02;
inline constexpr uint8_t kConnectorTv = 0x04;
inline constexpr uint8_t kConnectorAnalogB = 0x08;
inline constexpr uint8_t kConnectorDualLink = 0x10;
inline constexpr uint8_t kConnectorAnalogVariant = 0x20;
inline constexpr uint8_t kConnectorRouted = 0x40;       // through the expansion module
inline constexpr uint8_t kConnectorQuadExpansion = 0x80;
inline uint8_t PinsConnectorByte(const BOARDHANDLE* h, uint32_t connector) {
  return h->oPins.aucData[kPinsConnectorBytes + (connector & 3)];
}
inline uint16_t PinsVersion(const BOARDHANDLE* h) {
  return static_cast<uint16_t>(h->oPins.aucData[4] | (h->oPins.aucData[5] << 8));
}
inline uint32_t PinsDword(const BOARDHANDLE* h, size_t offset) {
  const uint8_t* p = h->oPins.aucData + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void SetPinsDword(BOARDHANDLE* h, size_t offset, uint32_t value) {
  uint8_t* p = h->oPins.aucData + offset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
