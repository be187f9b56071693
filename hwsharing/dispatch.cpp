#include "hwsharing/dispatch.h"

#include "hwsharing/boardhandle.h"

namespace {

// The not-initialised stub in the shape of any slot.
template <class... Args>
HALSTATUS NotInitSlot(BOARDHANDLE* h, Args...) {
  return HSLTBLNotInitFunction(h);
}
template <class... Args>
void SetNotInit(HALSTATUS (*&slot)(BOARDHANDLE*, Args...)) {
  slot = &NotInitSlot<Args...>;
}

void FillAllNotInit(DEVICEJUMPTABLE& t) {
  SetNotInit(t.SetPowerState);
  SetNotInit(t.ValidateMode);
  SetNotInit(t.ValidateVideoParameters);
  SetNotInit(t.SwitchToVGA);
  SetNotInit(t.SetMode);
  SetNotInit(t.SetSystemClock);
  SetNotInit(t.SetDisplayOrg);
  SetNotInit(t.SetDisplayStart);
  SetNotInit(t.GetTVParameters);
  SetNotInit(t.ModifyTVParameters);
  SetNotInit(t.GetTVProcAmp);
  SetNotInit(t.SetTVProcAmp);
  SetNotInit(t.SetTVStandard);
  SetNotInit(t.SetTVCableType);
  SetNotInit(t.DetectTV);
  SetNotInit(t.SetTVOutMode);
  SetNotInit(t.SetTVColorBarMode);
  SetNotInit(t.SetTVPassThroughMode);
  SetNotInit(t.SetTVDisableMode);
  SetNotInit(t.I2COpenPort);
  SetNotInit(t.I2CClosePort);
  SetNotInit(t.I2CSetSCL);
  SetNotInit(t.I2CGetSCL);
  SetNotInit(t.I2CSetSDA);
  SetNotInit(t.I2CGetSDA);
  SetNotInit(t.GetMaxI2CClock);
  SetNotInit(t.InitAccess);
  SetNotInit(t.GetBoardInfo);
  SetNotInit(t.GetMonitorEDID_OLD);
  SetNotInit(t.GetAddOnInfo);
  SetNotInit(t.Slot30);
  SetNotInit(t.InitExtraJmpTbl);
  SetNotInit(t.Slot32);
  SetNotInit(t.Slot33);
  SetNotInit(t.InitializeHardware);
  SetNotInit(t.ValidatePhysAddr);
  SetNotInit(t.ConfigOverride);
  SetNotInit(t.CustomCall);
  SetNotInit(t.ValidateDualCRTCConfig);
  SetNotInit(t.GetModeBandwidth);
  SetNotInit(t.ClearDisplay);
  SetNotInit(t.SetColorLUT);
  SetNotInit(t.DeviceIoControl);
  SetNotInit(t.GetAllMonitorInfo);
  SetNotInit(t.ValidateDigitalOutputFormat);
  SetNotInit(t.SetDigitalOutputFormat);
  SetNotInit(t.SetOverscanColor);
  SetNotInit(t.GetDTVModeInfo);
  SetNotInit(t.GetOutputInfo);
  SetNotInit(t.GetFreeFS);
  SetNotInit(t.GetGclk);
  SetNotInit(t.GetPInSSystemCLock);
  SetNotInit(t.SetSystemCLock);
  SetNotInit(t.GetSystemCLock);
  SetNotInit(t.HardwareReset);
}

uint16_t DeviceIdFromConfigSpace(BOARDHANDLE* h) {
  uint32_t id = 0;
  uint32_t subsystem = 0;
  ClientReadConfigSpaceDword(h, 0x00, &id);
  ClientReadConfigSpaceDword(h, 0x2C, &subsystem);
  return static_cast<uint16_t>(id >> 16);
}

HALSTATUS EmptySlot(BOARDHANDLE* h) { return h->status; }

}  // namespace

// ---- The static dispatch tables ---------------------------------------------------

MISCFUNCTIONS MISCFunctions = {
    ReturnCorrectError,
    SetError,
    HSLVGAReadVgaInfo,
    HSLVGAWriteVgaInfo,
    HSLBIOSReadPins,
    {EmptySlot, EmptySlot, EmptySlot, EmptySlot},
};

CLIENTFUNCTIONS ClientFunctions = {
    ClientReadConfigSpaceByte,
    ClientReadConfigSpaceDword,
    ClientWriteConfigSpaceByte,
    ClientWriteConfigSpaceDword,
    ClientOpenRegisterBase,
    ClientCloseRegisterBase,
    ClientReadRegisterByte,
    ClientReadRegisterDword,
    ClientWriteRegisterByte,
    ClientWriteRegisterDword,
    ClientOpenMemoryBase,
    ClientCloseMemoryBase,
    ClientReadMemoryByte,
    ClientReadMemoryDword,
    ClientWriteMemoryByte,
    ClientWriteMemoryDword,
    ClientOpenSystemDevice,
    ClientCloseSystemDevice,
    ClientReadSystemDeviceByte,
    ClientReadSystemDeviceDword,
    ClientWriteSystemDeviceByte,
    ClientWriteSystemDeviceDword,
    ClientWait,
    ClientGetBiosInfo,
    ClientReadDDCEdid,
    ClientDetectHostInterface,
    ClientReadRegShadowDword,
    ClientWriteRegShadowDword,
};

MDACFUNCTIONS MDACFunctions = {
    HSLDACPowerUp,
    HSLDACWaitForVSync,
    HSLDACScreenState,
    HSLDACScreenOff,
    HSLDACScreenOn,
    HSLDACPIXPLLSET,
    HSLDACSYSPLLSET,
    HSLDACInit,
    HSLDACComputePLLParam,
    HSLDACReadRegister,
    HSLDACWriteRegister,
    HSLDACI2CSetSCL,
    HSLDACI2CGetSCL,
    HSLDACI2CAltGetSCL,
    HSLDACI2CSetSDA,
    HSLDACI2CGetSDA,
    HSLDACI2CAltGetSDA,
    HSLDACGetMaxI2CClock,
    HSLDACSetZoom,
    HSLDACSenceMonitorLoad,
    HSLDACDisableOutput,
    HSLDACAdjustSystemPLL,
};

I2CFUNCTIONS I2CFunctions = {
    HALPI2CExecute,
    HALPReadI2C,
    HALPWriteI2C,
    HALPNullI2C,
    HALPResetI2C,
    HALPI2CStop,
    HALPI2CStart,
    HALPI2CAck,
    HALPI2CNak,
    HALPI2CReadByte,
    HALPI2CWriteByte,
    HALPI2CWaitAck,
};

CRTCFUNCTIONS CRTCFunctions = {
    HSLCRTUseLineDoubling,
    HSLCRTCSet,
    HSLCRTCLock,
    HSLCRTCUnLock,
    HSLCRTCSetDisplayStart,
    HSLCRTCSetPitch,
    HSLCRTCSelectHiresMode,
    HSLCRTCSetPriorityRequest,
    HSLCRTCDisable,
    HSLCRTCEnable,
    HSLCRTCAdjustVideoParameters,
    HSLCRTCValidateHwSync,
    HSLCRTCCompareCurrentResolution,
};

VLNFUNCTIONS VLNFunctions = {
    HSLTVEGetTVParameters,                  // 0
    HSLTVEGetVScaleTVParameters,            // 1
    HSLVLNModifyTVParameters,               // 2
    HSLTVEGetTVProcAmp,                     // 3
    HSLVLNSetTVProcAmp,                     // 4
    HSLTVEGetCVE2ITU656Parameters,          // 5
    HSLVLNValidateMode,                     // 6
    HSLVLNValidateVideoParameters,          // 7
    HSLVLNSetTVStandard,                    // 8
    HSLVLNSetTVCableType,                   // 9
    HSLVLNDetectTV,                         // 10
    HSLVLNSetTVDisableMode,                 // 11
    HSLVLNSetTVOutMode,                     // 12
    HSLVLNSetTVOutModeCRTC2,                // 13
    HSLVLNSetCRTOutMode,                    // 14
    HSLVLNSetTVColorBarMode,                // 15
    HSLVLNSetTVYUVMode,                     // 16
    HSLVLNSetGPIO,                          // 17
    HSLVLNSetGPIODirect,                    // 18
    HSLVLNSynchPol,                         // 19
    HSLVLNI2CRead,                          // 20
    HSLVLNI2CWrite,                         // 21
    HSLCVE2ConvertMUINT32ToRegisterFormat,  // 22
    HSLCVE2ConvertRegisterFormatToMUINT32,  // 23
    HSLVLNSync,                             // 24
    HSLVLNReset,                            // 25
    HSLCVE2SetEncoderRegister,              // 26
    EmptySlot,                              // 27
    HSLCVE2EnableEncoder,                   // 28
    HSLVLNEnableDataTransfer,               // 29
    HSLVLNSetCRTC,                          // 30
    HSLVLNSetPLL,                           // 31
    HSLVLNResetVFCIInterface,               // 32
    HSLVLNPIXPLLSET,                        // 33
    HSLVLNAdjustTVPosition,                 // 34
    HSLVLNCalculateTVPosition,              // 35
    HSLVLNValidateTVPosition,               // 36
    HSLVLNGetGPIOOutputState,               // 37
    HSLVLNI2CReadSecondHD15Module,          // 38
    HSLVLNI2CWriteSecondHD15Module,         // 39
    HSLVLNComputePLLParam,                  // 40
    HSLVLNApplyVrstPatch,                   // 41
    HSLVLNCRTC2SetITU656,                   // 42
    HSLTVEGetEncoderParameters,             // 43
    EmptySlot,                              // 44
    HSLTVEGetTimingParametersOldMethod,     // 45
    HSLTVEGetTimingParameters,              // 46
    HSLTVEGetGammaParameters,               // 47
    HSLTVEGetLumaParameters,                // 48
    HSLTVEGetColorBarTimingParameters,      // 49
    HSLTVEGetIDForParameters,               // 50
    HSLVLNSetGamma,                         // 51
    HSLCVE2SetBrightness,                   // 52
    HSLCVE2SetContrast,                     // 53
    HSLCVE2SetHue,                          // 54
    HSLCVE2SetSaturation,                   // 55
    HSLCVE2SetOutputBW,                     // 56
    HSLCVE2SetDotCrawlFreeze,               // 57
    HSLVLNSetTextFilter,                    // 58
    HSLVLNSetDeflicker,                     // 59
    EmptySlot,                              // 60
    HSLVLNSetTVPassThroughMode,             // 61
};

FPFUNCTIONS FPFunctions = {
    HSLEnablePanelLinkModuleOutput,
    HSLFlatEnableVFCI,
    HSLReadPanelLinkModuleRegister,
    HSLWritePanelLinkModuleRegister,
    HSLGetPanelLinkModuleOutputState,
    HSLReadSIPanelLinkRegister,
    HSLWriteSIPanelLinkRegister,
    HSLGetSIPanelLinkVersion,
    HSLEnableSIPanelLinkHotPlug,
    HSLGetSIPanelLinkHotPlugStatus,
};

ADDONFUNCTIONS ADDONFunctions = {
    HALPDetectAddOn,
    HSLDetectVelan,
    HSLDetectVideoDecoder,
    HSLDetectPanelLinkModule,
    HSLDetectVB2,
    HSLDetectMSP,
    HSLDetectDVD,
    HSLDetectMJPEG,
    HSLDetectTVTuner,
    HSLDetectSecondHD15,
    HSLDetectSIPanelLink,
};

EDIDFUNCTIONS EDIDFunctions = {
    HALPGetEDID1EstablishedTimingNumber,
    HALPGetEDID1StandardTimingNumber,
    HALPGetEDID1DetailedTimingNumber,
    HALPGetEDID1EstablishedTiming,
    HALPGetEDID1StandardTiming,
    HALPGetEDID1DetailedTiming,
    HALPGetEDID1AspectRatio,
    HALPCalcEDID2Offset,
    HALPGetEDIDDetailedTimingInfo,
    HALPConvertEDID2toEDID1,
    HALPComputeAspectRatio,
    HALPGetTranslatedDetailedTimingInfo,
    HALPGetResFromStandardTiming,
    HALPGetResFromDetailedTiming,
    HALPGetMonitorInfo,
    HALPGetMonitorProperties,
    HALPGetMonitorLimits,
    HALPGetDDCEstablishedTimingNumber,
    HALPGetDDCStandardTimingNumber,
    HALPGetDDCDetailedTimingNumber,
    HALPGetDDCEstablishedTiming,
    HALPGetDDCStandardTiming,
    HALPGetDDCDetailedTiming,
    HALPDetectHD15ToTVAdaptor,
    HALPGetPrimaryMonitorInfo,
    HALPGetSecondMonitorInfo,
    HALPDetectNoTV,
    HALPReadDDCEDID,
    HALPReadDDCByte,
    HALPGetMonitorMinimalResolution,
    HALPGetMonitorMaximalResolution,
    HALPGetMonitorAspectRatio,
    HALPGetEDIDVersion,
    HALPGetEDID1EdidModes,
    HALPGetEDIDBufferSize,
    HALPIsEDIDBufferValid,
};

// ---- Jump table set-up ----------------------------------------------------------------

bool IsSupportedChip(uint16_t device) {
  switch (device) {
    case kDevKestrionA41:
    case kDevKestrionA42:
    case kDevKestrionD61:
    case kDevKestrionD62:
    case kDevKestrionD63:
      return true;
    default:
      return false;
  }
}

HALSTATUS HSLTBLNotInitFunction(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  return SetError(h, kErrSlotNotInitialised);
}

HALSTATUS HSLTBLDummyFunction(BOARDHANDLE* h) { return h->status; }

HALSTATUS HSLKSTInitAccess(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  // The X driver maps the window itself; the client is still told which.
  ClientOpenRegisterBase(h);
  return h->status;
}

HALSTATUS HSLInit(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  FillAllNotInit(h->oJumpTable);
  HSLInitDeviceJumpTable(h);
  // Each slot tests the status itself.
  h->oJumpTable.InitAccess(h);
  h->oJumpTable.InitExtraJmpTbl(h);
  h->oJumpTable.GetBoardInfo(h);
  h->aulConfigOverride[1] = 0;
  return h->status;
}

HALSTATUS HSLInitDeviceJumpTable(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  h->pMISCFunctions = &MISCFunctions;
  h->pClientFunctions = &ClientFunctions;
  h->pMDACFunctions = &MDACFunctions;
  h->pI2CFunctions = &I2CFunctions;
  h->pCRTCFunctions = &CRTCFunctions;
  h->pADDONFunctions = &ADDONFunctions;
  h->pEDIDFunctions = &EDIDFunctions;
  h->pVLNFunctions = &VLNFunctions;

  // The device id alone decides; the vendor is checked by the library's
  // board-support query.
  if (!IsSupportedChip(DeviceIdFromConfigSpace(h))) return SetError(h, kErrChipNotSupported);
  h->pFPFunctions = &FPFunctions;
  h->oJumpTable.InitAccess = HSLKSTInitAccess;
  h->oJumpTable.GetBoardInfo = HSLKSTGetBoardInfo;
  h->oJumpTable.InitExtraJmpTbl = HSLKSTInitExtraJmpTbl;
  return h->status;
}

HALSTATUS HSLKSTInitExtraJmpTbl(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  DEVICEJUMPTABLE& t = h->oJumpTable;
  const bool b90 = h->usDeviceId == kDevKestrionD63;
  const bool wqt = h->usDeviceId == kDevKestrionD62 || h->usDeviceId == kDevKestrionD63;

  t.SetPowerState = HSLKSTSetPowerState;                            // 0
  t.ValidateMode = HSLKSTValidateMode;                              // 1
  t.ValidateVideoParameters = HSLKSTValidateVideoParameters;        // 2
  t.SwitchToVGA = HSLKSTSwitchToVGA;                                // 3
  t.SetMode = HSLKSTSetMode;                                        // 4
  t.SetDisplayStart = HSLKSTSetDisplayStart;                        // 7
  t.GetTVParameters = HSLTVEGetTVParameters;                        // 8
  t.ModifyTVParameters = HSLCHRModifyTVParameters;                  // 9
  t.GetTVProcAmp = HSLKSTGetTVProcAmp;                              // 10
  t.SetTVProcAmp = HSLKSTSetTVProcAmp;                              // 11
  t.SetTVStandard = HSLKSTSetTVStandard;                            // 12
  t.SetTVCableType = HSLKSTSetTVCableType;                          // 13
  t.DetectTV = HSLKSTDetectTV;                                      // 14
  t.I2COpenPort = HSLKSTI2COpenPort;                                // 19
  t.I2CClosePort = HSLKSTI2CClosePort;                              // 20
  t.I2CSetSCL = HSLKSTI2CSetSCL;                                    // 21
  t.I2CGetSCL = HSLKSTI2CGetSCL;                                    // 22
  t.I2CSetSDA = HSLKSTI2CSetSDA;                                    // 23
  t.I2CGetSDA = HSLKSTI2CGetSDA;                                    // 24
  t.GetMaxI2CClock = h->pMDACFunctions->GetMaxI2CClock;             // 25
  t.InitAccess = HSLKSTInitAccess;                                  // 26
  t.GetBoardInfo = HSLKSTGetBoardInfo;                              // 27
  t.GetMonitorEDID_OLD = HSLKSTGetMonitorEDID_OLD;                  // 28
  t.GetAddOnInfo = HSLKSTGetAddOnInfo;                              // 29
  t.InitExtraJmpTbl = HSLKSTInitExtraJmpTbl;                        // 31
  t.InitializeHardware = b90 ? HSLB90InitializeHardware : HSLKSTInitializeHardware;  // 34
  t.ValidatePhysAddr = HSLKSTValidatePhysAddr;                      // 35
  t.ConfigOverride = HSLKSTConfigOverride;                          // 36
  t.CustomCall = HSLKSTCustomCall;                                  // 37
  t.ValidateDualCRTCConfig = HSLKSTValidateDualCRTCConfig;          // 38
  t.GetModeBandwidth = HSLKSTGetModeBandwidth;                      // 39
  t.ClearDisplay = HSLKSTClearDisplay;                              // 40
  t.SetColorLUT = HSLKSTSetColorLUT;                                // 41
  t.DeviceIoControl = HSLKSTDeviceIoControl;                        // 42
  t.GetAllMonitorInfo = HSLKSTGetAllMonitorInfo;                    // 43
  t.ValidateDigitalOutputFormat = HSLKSTValidateDigitalOutputFormat;  // 44
  t.SetDigitalOutputFormat = HSLKSTSetDigitalOutputFormat;          // 45
  t.SetOverscanColor = HSLKSTSetOverscanColor;                      // 46
  t.GetDTVModeInfo = HSLCHRGetDTVModeInfo;                          // 47
  t.GetOutputInfo = HSLKSTGetOutputInfo;                            // 48
  t.GetFreeFS = b90 ? HSLB90GetFreeFS : HSLKSTGetFreeFS;            // 49
  t.GetGclk = b90 ? HSLB90GetGclk : HSLKSTGetGclk;                  // 50
  t.GetPInSSystemCLock = b90 ? HSLB90GetPInSSystemCLock : HSLKSTGetPInSSystemCLock;  // 51
  t.SetSystemCLock = b90 ? HSLB90SetSystemCLock : HSLKSTSetSystemCLock;              // 52
  t.GetSystemCLock = b90 ? HSLB90GetSystemCLock : HSLKSTGetSystemCLock;              // 53
  t.HardwareReset = wqt ? HSLWQTHardwareReset : HSLKSTHardwareReset;                 // 54
  return h->status;
}

void* ORVGetPinsPointer(BOARDHANDLE* h) { return &h->oPins; }
