// The board handle's device jump table (55 slots, filled per chip) and the
// nine static dispatch tables of the library's sub-layers. Every slot takes
// the board handle first and returns its status word. Slot types follow the
// functions that fill them.
#pragma once

#include <cstdint>

#include "core/client_services.h"
#include "hwsharing/bios_pins.h"
#include "hwsharing/haltypes.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/i2c_master.h"
#include "hwsharing/miscio.h"
#include "hwsharing/stubs/standins.h"

// Slots that no chip fills.
using PFN_SLOT_SETSYSTEMCLOCK = HALSTATUS (*)(BOARDHANDLE* h, SYSCLOCKINFO* clock);
using PFN_SLOT_SETDISPLAYORG = HALSTATUS (*)(BOARDHANDLE* h, uint32_t controller, uint32_t org);
using PFN_SLOT_TVMODE = HALSTATUS (*)(BOARDHANDLE* h, uint32_t mode);
using PFN_SLOT_NOARGS = HALSTATUS (*)(BOARDHANDLE* h);
using PFN_SLOT_TVROUTE = HALSTATUS (*)(BOARDHANDLE* h, uint32_t argument);

struct DEVICEJUMPTABLE {
  decltype(&HSLKSTSetPowerState) SetPowerState;                      // 0
  decltype(&HSLKSTValidateMode) ValidateMode;                        // 1
  decltype(&HSLKSTValidateVideoParameters) ValidateVideoParameters;  // 2
  decltype(&HSLKSTSwitchToVGA) SwitchToVGA;                          // 3
  decltype(&HSLKSTSetMode) SetMode;                                  // 4
  PFN_SLOT_SETSYSTEMCLOCK SetSystemClock;                            // 5
  PFN_SLOT_SETDISPLAYORG SetDisplayOrg;                              // 6
  decltype(&HSLKSTSetDisplayStart) SetDisplayStart;                  // 7
  decltype(&HSLTVEGetTVParameters) GetTVParameters;                  // 8
  decltype(&HSLCHRModifyTVParameters) ModifyTVParameters;            // 9
  decltype(&HSLKSTGetTVProcAmp) GetTVProcAmp;                        // 10
  decltype(&HSLKSTSetTVProcAmp) SetTVProcAmp;                        // 11
  decltype(&HSLKSTSetTVStandard) SetTVStandard;                      // 12
  decltype(&HSLKSTSetTVCableType) SetTVCableType;                    // 13
  decltype(&HSLKSTDetectTV) DetectTV;                                // 14
  PFN_SLOT_TVMODE SetTVOutMode;                                      // 15
  PFN_SLOT_TVMODE SetTVColorBarMode;                                 // 16
  PFN_SLOT_TVMODE SetTVPassThroughMode;                              // 17
  PFN_SLOT_TVMODE SetTVDisableMode;                                  // 18
  decltype(&HSLKSTI2COpenPort) I2COpenPort;                          // 19
  decltype(&HSLKSTI2CClosePort) I2CClosePort;                        // 20
  decltype(&HSLKSTI2CSetSCL) I2CSetSCL;                              // 21
  decltype(&HSLKSTI2CGetSCL) I2CGetSCL;                              // 22
  decltype(&HSLKSTI2CSetSDA) I2CSetSDA;                              // 23
  decltype(&HSLKSTI2CGetSDA) I2CGetSDA;                              // 24
  decltype(&HSLDACGetMaxI2CClock) GetMaxI2CClock;                    // 25
  PFN_SLOT_NOARGS InitAccess;                                        // 26
  decltype(&HSLKSTGetBoardInfo) GetBoardInfo;                        // 27
  decltype(&HSLKSTGetMonitorEDID_OLD) GetMonitorEDID_OLD;            // 28
  decltype(&HSLKSTGetAddOnInfo) GetAddOnInfo;                        // 29
  PFN_SLOT_NOARGS Slot30;                                            // 30
  PFN_SLOT_NOARGS InitExtraJmpTbl;                                   // 31
  PFN_SLOT_TVROUTE Slot32;                                           // 32
  PFN_SLOT_TVROUTE Slot33;                                           // 33
  decltype(&HSLKSTInitializeHardware) InitializeHardware;            // 34
  decltype(&HSLKSTValidatePhysAddr) ValidatePhysAddr;                // 35
  decltype(&HSLKSTConfigOverride) ConfigOverride;                    // 36
  decltype(&HSLKSTCustomCall) CustomCall;                            // 37
  decltype(&HSLKSTValidateDualCRTCConfig) ValidateDualCRTCConfig;    // 38
  decltype(&HSLKSTGetModeBandwidth) GetModeBandwidth;                // 39
  decltype(&HSLKSTClearDisplay) ClearDisplay;                        // 40
  decltype(&HSLKSTSetColorLUT) SetColorLUT;                          // 41
  decltype(&HSLKSTDeviceIoControl) DeviceIoControl;                  // 42
  decltype(&HSLKSTGetAllMonitorInfo) GetAllMonitorInfo;              // 43
  decltype(&HSLKSTValidateDigitalOutputFormat) ValidateDigitalOutputFormat;  // 44
  decltype(&HSLKSTSetDigitalOutputFormat) SetDigitalOutputFormat;    // 45
  decltype(&HSLKSTSetOverscanColor) SetOverscanColor;                // 46
  decltype(&HSLCHRGetDTVModeInfo) GetDTVModeInfo;                    // 47
  decltype(&HSLKSTGetOutputInfo) GetOutputInfo;                      // 48
  decltype(&HSLKSTGetFreeFS) GetFreeFS;                              // 49
  decltype(&HSLKSTGetGclk) GetGclk;                                  // 50
  decltype(&HSLKSTGetPInSSystemCLock) GetPInSSystemCLock;            // 51
  decltype(&HSLKSTSetSystemCLock) SetSystemCLock;                    // 52
  decltype(&HSLKSTGetSystemCLock) GetSystemCLock;                    // 53
  decltype(&HSLKSTHardwareReset) HardwareReset;                      // 54
};
inline constexpr unsigned kJumpTableSlots = 55;
static_assert(sizeof(DEVICEJUMPTABLE) == kJumpTableSlots * sizeof(void*));

struct MISCFUNCTIONS {
  decltype(&::ReturnCorrectError) MergeStatus;
  decltype(&::SetError) RecordError;
  decltype(&HSLVGAReadVgaInfo) ReadVgaInfo;
  decltype(&HSLVGAWriteVgaInfo) WriteVgaInfo;
  decltype(&HSLBIOSReadPins) ReadPins;
  PFN_SLOT_NOARGS Empty[4];
};

struct CLIENTFUNCTIONS {
  decltype(&ClientReadConfigSpaceByte) ReadConfigSpaceByte;
  decltype(&ClientReadConfigSpaceDword) ReadConfigSpaceDword;
  decltype(&ClientWriteConfigSpaceByte) WriteConfigSpaceByte;
  decltype(&ClientWriteConfigSpaceDword) WriteConfigSpaceDword;
  decltype(&ClientOpenRegisterBase) OpenRegisterBase;
  decltype(&ClientCloseRegisterBase) CloseRegisterBase;
  decltype(&ClientReadRegisterByte) ReadRegisterByte;
  decltype(&ClientReadRegisterDword) ReadRegisterDword;
  decltype(&ClientWriteRegisterByte) WriteRegisterByte;
  decltype(&ClientWriteRegisterDword) WriteRegisterDword;
  decltype(&ClientOpenMemoryBase) OpenMemoryBase;
  decltype(&ClientCloseMemoryBase) CloseMemoryBase;
  decltype(&ClientReadMemoryByte) ReadMemoryByte;
  decltype(&ClientReadMemoryDword) ReadMemoryDword;
  decltype(&ClientWriteMemoryByte) WriteMemoryByte;
  decltype(&ClientWriteMemoryDword) WriteMemoryDword;
  decltype(&ClientOpenSystemDevice) OpenSystemDevice;
  decltype(&ClientCloseSystemDevice) CloseSystemDevice;
  decltype(&ClientReadSystemDeviceByte) ReadSystemDeviceByte;
  decltype(&ClientReadSystemDeviceDword) ReadSystemDeviceDword;
  decltype(&ClientWriteSystemDeviceByte) WriteSystemDeviceByte;
  decltype(&ClientWriteSystemDeviceDword) WriteSystemDeviceDword;
  decltype(&ClientWait) Wait;
  decltype(&ClientGetBiosInfo) GetBiosInfo;
  decltype(&ClientReadDDCEdid) ReadDDCEdid;
  decltype(&ClientDetectHostInterface) DetectHostInterface;
  decltype(&ClientReadRegShadowDword) ReadRegShadowDword;
  decltype(&ClientWriteRegShadowDword) WriteRegShadowDword;
};
static_assert(sizeof(CLIENTFUNCTIONS) == 28 * sizeof(void*));

struct MDACFUNCTIONS {
  decltype(&HSLDACPowerUp) PowerUp;
  decltype(&HSLDACWaitForVSync) WaitForVSync;
  decltype(&HSLDACScreenState) ScreenState;
  decltype(&HSLDACScreenOff) ScreenOff;
  decltype(&HSLDACScreenOn) ScreenOn;
  decltype(&HSLDACPIXPLLSET) PixPllSet;
  decltype(&HSLDACSYSPLLSET) SysPllSet;
  decltype(&HSLDACInit) Init;
  decltype(&HSLDACComputePLLParam) ComputePLLParam;
  decltype(&HSLDACReadRegister) ReadRegister;
  decltype(&HSLDACWriteRegister) WriteRegister;
  decltype(&HSLDACI2CSetSCL) I2CSetSCL;
  decltype(&HSLDACI2CGetSCL) I2CGetSCL;
  decltype(&HSLDACI2CAltGetSCL) I2CAltGetSCL;
  decltype(&HSLDACI2CSetSDA) I2CSetSDA;
  decltype(&HSLDACI2CGetSDA) I2CGetSDA;
  decltype(&HSLDACI2CAltGetSDA) I2CAltGetSDA;
  decltype(&HSLDACGetMaxI2CClock) GetMaxI2CClock;
  decltype(&HSLDACSetZoom) SetZoom;
  decltype(&HSLDACSenceMonitorLoad) SenceMonitorLoad;
  decltype(&HSLDACDisableOutput) DisableOutput;
  decltype(&HSLDACAdjustSystemPLL) AdjustSystemPLL;
};
static_assert(sizeof(MDACFUNCTIONS) == 22 * sizeof(void*));

struct I2CFUNCTIONS {
  decltype(&HALPI2CExecute) Execute;
  decltype(&HALPReadI2C) Read;
  decltype(&HALPWriteI2C) Write;
  decltype(&HALPNullI2C) Null;
  decltype(&HALPResetI2C) Reset;
  decltype(&HALPI2CStop) Stop;
  decltype(&HALPI2CStart) Start;
  decltype(&HALPI2CAck) Ack;
  decltype(&HALPI2CNak) Nak;
  decltype(&HALPI2CReadByte) ReadByte;
  decltype(&HALPI2CWriteByte) WriteByte;
  decltype(&HALPI2CWaitAck) WaitAck;
};
static_assert(sizeof(I2CFUNCTIONS) == 12 * sizeof(void*));

struct CRTCFUNCTIONS {
  decltype(&HSLCRTUseLineDoubling) UseLineDoubling;
  decltype(&HSLCRTCSet) Set;
  decltype(&HSLCRTCLock) Lock;
  decltype(&HSLCRTCUnLock) UnLock;
  decltype(&HSLCRTCSetDisplayStart) SetDisplayStart;
  decltype(&HSLCRTCSetPitch) SetPitch;
  decltype(&HSLCRTCSelectHiresMode) SelectHiresMode;
  decltype(&HSLCRTCSetPriorityRequest) SetPriorityRequest;
  decltype(&HSLCRTCDisable) Disable;
  decltype(&HSLCRTCEnable) Enable;
  decltype(&HSLCRTCAdjustVideoParameters) AdjustVideoParameters;
  decltype(&HSLCRTCValidateHwSync) ValidateHwSync;
  decltype(&HSLCRTCCompareCurrentResolution) CompareCurrentResolution;
};
static_assert(sizeof(CRTCFUNCTIONS) == 13 * sizeof(void*));

struct VLNFUNCTIONS {
  decltype(&HSLTVEGetTVParameters) GetTVParameters;                      // 0
  decltype(&HSLTVEGetVScaleTVParameters) GetVScaleTVParameters;          // 1
  decltype(&HSLVLNModifyTVParameters) ModifyTVParameters;                // 2
  decltype(&HSLTVEGetTVProcAmp) GetTVProcAmp;                            // 3
  decltype(&HSLVLNSetTVProcAmp) SetTVProcAmp;                            // 4
  decltype(&HSLTVEGetCVE2ITU656Parameters) GetCVE2ITU656Parameters;      // 5
  decltype(&HSLVLNValidateMode) ValidateMode;                            // 6
  decltype(&HSLVLNValidateVideoParameters) ValidateVideoParameters;      // 7
  decltype(&HSLVLNSetTVStandard) SetTVStandard;                          // 8
  decltype(&HSLVLNSetTVCableType) SetTVCableType;                        // 9
  decltype(&HSLVLNDetectTV) DetectTV;                                    // 10
  decltype(&HSLVLNSetTVDisableMode) SetTVDisableMode;                    // 11
  decltype(&HSLVLNSetTVOutMode) SetTVOutMode;                            // 12
  decltype(&HSLVLNSetTVOutModeCRTC2) SetTVOutModeCRTC2;                  // 13
  decltype(&HSLVLNSetCRTOutMode) SetCRTOutMode;                          // 14
  decltype(&HSLVLNSetTVColorBarMode) SetTVColorBarMode;                  // 15
  decltype(&HSLVLNSetTVYUVMode) SetTVYUVMode;                            // 16
  decltype(&HSLVLNSetGPIO) SetGPIO;                                      // 17
  decltype(&HSLVLNSetGPIODirect) SetGPIODirect;                          // 18
  decltype(&HSLVLNSynchPol) SynchPol;                                    // 19
  decltype(&HSLVLNI2CRead) I2CRead;                                      // 20
  decltype(&HSLVLNI2CWrite) I2CWrite;                                    // 21
  decltype(&HSLCVE2ConvertMUINT32ToRegisterFormat) ConvertToRegisterFormat;  // 22
  decltype(&HSLCVE2ConvertRegisterFormatToMUINT32) ConvertToMUINT32;     // 23
  decltype(&HSLVLNSync) Sync;                                            // 24
  decltype(&HSLVLNReset) Reset;                                          // 25
  decltype(&HSLCVE2SetEncoderRegister) SetEncoderRegister;               // 26
  PFN_SLOT_NOARGS Empty27;                                               // 27
  decltype(&HSLCVE2EnableEncoder) EnableEncoder;                         // 28
  decltype(&HSLVLNEnableDataTransfer) EnableDataTransfer;                // 29
  decltype(&HSLVLNSetCRTC) SetCRTC;                                      // 30
  decltype(&HSLVLNSetPLL) SetPLL;                                        // 31
  decltype(&HSLVLNResetVFCIInterface) ResetVFCIInterface;                // 32
  decltype(&HSLVLNPIXPLLSET) PixPllSet;                                  // 33
  decltype(&HSLVLNAdjustTVPosition) AdjustTVPosition;                    // 34
  decltype(&HSLVLNCalculateTVPosition) CalculateTVPosition;              // 35
  decltype(&HSLVLNValidateTVPosition) ValidateTVPosition;                // 36
  decltype(&HSLVLNGetGPIOOutputState) GetGPIOOutputState;                // 37
  decltype(&HSLVLNI2CReadSecondHD15Module) I2CReadSecondHD15Module;      // 38
  decltype(&HSLVLNI2CWriteSecondHD15Module) I2CWriteSecondHD15Module;    // 39
  decltype(&HSLVLNComputePLLParam) ComputePLLParam;                      // 40
  decltype(&HSLVLNApplyVrstPatch) ApplyVrstPatch;                        // 41
  decltype(&HSLVLNCRTC2SetITU656) CRTC2SetITU656;                        // 42
  decltype(&HSLTVEGetEncoderParameters) GetEncoderParameters;            // 43
  PFN_SLOT_NOARGS Empty44;                                               // 44
  decltype(&HSLTVEGetTimingParametersOldMethod) GetTimingParametersOldMethod;  // 45
  decltype(&HSLTVEGetTimingParameters) GetTimingParameters;              // 46
  decltype(&HSLTVEGetGammaParameters) GetGammaParameters;                // 47
  decltype(&HSLTVEGetLumaParameters) GetLumaParameters;                  // 48
  decltype(&HSLTVEGetColorBarTimingParameters) GetColorBarTimingParameters;  // 49
  decltype(&HSLTVEGetIDForParameters) GetIDForParameters;                // 50
  decltype(&HSLVLNSetGamma) SetGamma;                                    // 51
  decltype(&HSLCVE2SetBrightness) SetBrightness;                         // 52
  decltype(&HSLCVE2SetContrast) SetContrast;                             // 53
  decltype(&HSLCVE2SetHue) SetHue;                                       // 54
  decltype(&HSLCVE2SetSaturation) SetSaturation;                         // 55
  decltype(&HSLCVE2SetOutputBW) SetOutputBW;                             // 56
  decltype(&HSLCVE2SetDotCrawlFreeze) SetDotCrawlFreeze;                 // 57
  decltype(&HSLVLNSetTextFilter) SetTextFilter;                          // 58
  decltype(&HSLVLNSetDeflicker) SetDeflicker;                            // 59
  PFN_SLOT_NOARGS Empty60;                                               // 60
  decltype(&HSLVLNSetTVPassThroughMode) SetTVPassThroughMode;            // 61
};
static_assert(sizeof(VLNFUNCTIONS) == 62 * sizeof(void*));

struct FPFUNCTIONS {
  decltype(&HSLEnablePanelLinkModuleOutput) EnablePanelLinkModuleOutput;
  decltype(&HSLFlatEnableVFCI) FlatEnableVFCI;
  decltype(&HSLReadPanelLinkModuleRegister) ReadPanelLinkModuleRegister;
  decltype(&HSLWritePanelLinkModuleRegister) WritePanelLinkModuleRegister;
  decltype(&HSLGetPanelLinkModuleOutputState) GetPanelLinkModuleOutputState;
  decltype(&HSLReadSIPanelLinkRegister) ReadSIPanelLinkRegister;
  decltype(&HSLWriteSIPanelLinkRegister) WriteSIPanelLinkRegister;
  decltype(&HSLGetSIPanelLinkVersion) GetSIPanelLinkVersion;
  decltype(&HSLEnableSIPanelLinkHotPlug) EnableSIPanelLinkHotPlug;
  decltype(&HSLGetSIPanelLinkHotPlugStatus) GetSIPanelLinkHotPlugStatus;
};
static_assert(sizeof(FPFUNCTIONS) == 10 * sizeof(void*));

struct ADDONFUNCTIONS {
  decltype(&HALPDetectAddOn) DetectAddOn;
  decltype(&HSLDetectVelan) DetectVelan;
  decltype(&HSLDetectVideoDecoder) DetectVideoDecoder;
  decltype(&HSLDetectPanelLinkModule) DetectPanelLinkModule;
  decltype(&HSLDetectVB2) DetectVB2;
  decltype(&HSLDetectMSP) DetectMSP;
  decltype(&HSLDetectDVD) DetectDVD;
  decltype(&HSLDetectMJPEG) DetectMJPEG;
  decltype(&HSLDetectTVTuner) DetectTVTuner;
  decltype(&HSLDetectSecondHD15) DetectSecondHD15;
  decltype(&HSLDetectSIPanelLink) DetectSIPanelLink;
};
static_assert(sizeof(ADDONFUNCTIONS) == 11 * sizeof(void*));

struct EDIDFUNCTIONS {
  decltype(&HALPGetEDID1EstablishedTimingNumber) GetEDID1EstablishedTimingNumber;
  decltype(&HALPGetEDID1StandardTimingNumber) GetEDID1StandardTimingNumber;
  decltype(&HALPGetEDID1DetailedTimingNumber) GetEDID1DetailedTimingNumber;
  decltype(&HALPGetEDID1EstablishedTiming) GetEDID1EstablishedTiming;
  decltype(&HALPGetEDID1StandardTiming) GetEDID1StandardTiming;
  decltype(&HALPGetEDID1DetailedTiming) GetEDID1DetailedTiming;
  decltype(&HALPGetEDID1AspectRatio) GetEDID1AspectRatio;
  decltype(&HALPCalcEDID2Offset) CalcEDID2Offset;
  decltype(&HALPGetEDIDDetailedTimingInfo) GetEDIDDetailedTimingInfo;
  decltype(&HALPConvertEDID2toEDID1) ConvertEDID2toEDID1;
  decltype(&HALPComputeAspectRatio) ComputeAspectRatio;
  decltype(&HALPGetTranslatedDetailedTimingInfo) GetTranslatedDetailedTimingInfo;
  decltype(&HALPGetResFromStandardTiming) GetResFromStandardTiming;
  decltype(&HALPGetResFromDetailedTiming) GetResFromDetailedTiming;
  decltype(&HALPGetMonitorInfo) GetMonitorInfo;
  decltype(&HALPGetMonitorProperties) GetMonitorProperties;
  decltype(&HALPGetMonitorLimits) GetMonitorLimits;
  decltype(&HALPGetDDCEstablishedTimingNumber) GetDDCEstablishedTimingNumber;
  decltype(&HALPGetDDCStandardTimingNumber) GetDDCStandardTimingNumber;
  decltype(&HALPGetDDCDetailedTimingNumber) GetDDCDetailedTimingNumber;
  decltype(&HALPGetDDCEstablishedTiming) GetDDCEstablishedTiming;
  decltype(&HALPGetDDCStandardTiming) GetDDCStandardTiming;
  decltype(&HALPGetDDCDetailedTiming) GetDDCDetailedTiming;
  decltype(&HALPDetectHD15ToTVAdaptor) DetectHD15ToTVAdaptor;
  decltype(&HALPGetPrimaryMonitorInfo) GetPrimaryMonitorInfo;
  decltype(&HALPGetSecondMonitorInfo) GetSecondMonitorInfo;
  decltype(&HALPDetectNoTV) DetectNoTV;
  decltype(&HALPReadDDCEDID) ReadDDCEDID;
  decltype(&HALPReadDDCByte) ReadDDCByte;
  decltype(&HALPGetMonitorMinimalResolution) GetMonitorMinimalResolution;
  decltype(&HALPGetMonitorMaximalResolution) GetMonitorMaximalResolution;
  decltype(&HALPGetMonitorAspectRatio) GetMonitorAspectRatio;
  decltype(&HALPGetEDIDVersion) GetEDIDVersion;
  decltype(&HALPGetEDID1EdidModes) GetEDID1EdidModes;
  decltype(&HALPGetEDIDBufferSize) GetEDIDBufferSize;
  decltype(&HALPIsEDIDBufferValid) IsEDIDBufferValid;
};
static_assert(sizeof(EDIDFUNCTIONS) == 36 * sizeof(void*));

// The static tables, one instance per library, shared by every handle.
extern MISCFUNCTIONS MISCFunctions;
extern CLIENTFUNCTIONS ClientFunctions;
extern MDACFUNCTIONS MDACFunctions;
extern I2CFUNCTIONS I2CFunctions;
extern CRTCFUNCTIONS CRTCFunctions;
extern VLNFUNCTIONS VLNFunctions;
extern FPFUNCTIONS FPFunctions;
extern ADDONFUNCTIONS ADDONFunctions;
extern EDIDFUNCTIONS EDIDFunctions;

// Devices of the five supported chips.
inline constexpr uint16_t kDevKestrionA41 = 0x0A41;
inline constexpr uint16_t kDevKestrionA42 = 0x0A42;
inline constexpr uint16_t kDevKestrionD61 = 0x5D61;
inline constexpr uint16_t kDevKestrionD62 = 0x5D62;
inline constexpr uint16_t kDevKestrionD63 = 0x5D63;
bool IsSupportedChip(uint16_t device);

// Set-up of a fresh handle from PCI configuration space.
HALSTATUS HALPGetBoardConfigSpaceInfo(BOARDHANDLE* h);
HALSTATUS HSLInit(BOARDHANDLE* h);
HALSTATUS HSLInitDeviceJumpTable(BOARDHANDLE* h);
HALSTATUS HSLKSTInitExtraJmpTbl(BOARDHANDLE* h);   // slot 31
HALSTATUS HSLKSTInitAccess(BOARDHANDLE* h);        // slot 26
// Fills every slot the chip does not: records 0xb0303065 unless failed.
HALSTATUS HSLTBLNotInitFunction(BOARDHANDLE* h);
HALSTATUS HSLTBLDummyFunction(BOARDHANDLE* h);
