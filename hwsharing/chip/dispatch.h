// The board handle's device jump table (55 slots, filled per chip) and the
// nine static dispatch tables of the library's sub-layers. Every slot takes
// the board handle first and returns its status word, except the EDID
// decoding slots of EDIDFunctions, which read EDID bytes alone.
//
// Each table is described once, by an X-macro list of its slots:
//   X(index, Slot, SlotType, Function)
// The list makes the table's struct (one pointer of SlotType per slot, its
// offset checked against the index), the const table itself and a
// static_assert that each Function has the SlotType of its slot
// (dispatch.cpp). In the jump table, Function is what the chip layer fills
// the slot with on every supported chip (kSlotNotFilled: nothing; the slot
// keeps the not-initialised function).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "hwsharing/chip/haltypes.h"

struct I2CTRANSACTION;
struct CVE2PARAMS;
struct CVE2LUMA;
struct CVE2ITU656;
struct VLNGAMMA;
struct VLNTIMING;
struct EDID2LAYOUT;
struct PUBLICLUT;
struct VGAINFO;
struct OUTPUTINFO;

// ---- Slot types --------------------------------------------------------------------
// Function types; a slot holds a pointer to one.
using HalSlotNoArgs = HALSTATUS(BOARDHANDLE* h);
using HalSlotMode = HALSTATUS(BOARDHANDLE* h, MODEINFO* mode);
using HalSlotModeU32 = HALSTATUS(BOARDHANDLE* h, MODEINFO* mode, uint32_t value);
using HalSlotModeOut = HALSTATUS(BOARDHANDLE* h, MODEINFO* mode, uint32_t* out);
using HalSlotU32 = HALSTATUS(BOARDHANDLE* h, uint32_t value);
using HalSlotOut = HALSTATUS(BOARDHANDLE* h, uint32_t* out);
using HalSlotTwoU32 = HALSTATUS(BOARDHANDLE* h, uint32_t first, uint32_t second);
using HalSlotU32Out = HALSTATUS(BOARDHANDLE* h, uint32_t value, uint32_t* out);
using HalSlotRecord = HALSTATUS(BOARDHANDLE* h, void* record);
using HalSlotOutputInfo = HALSTATUS(BOARDHANDLE* h, OUTPUTINFO* info, uint32_t requestMask);
using HalSlotSysClock = HALSTATUS(BOARDHANDLE* h, SYSCLOCKINFO* clock);
using HalSlotDisplayStart = HALSTATUS(BOARDHANDLE* h, uint32_t controller, uint32_t x,
                                      uint32_t y);
using HalSlotGetProcAmp = HALSTATUS(BOARDHANDLE* h, TVPROCAMP* values, uint32_t standard,
                                    uint32_t level);
using HalSlotSetProcAmp = HALSTATUS(BOARDHANDLE* h, TVPROCAMP* values, uint32_t flags);
using HalSlotOpenPort = HALSTATUS(BOARDHANDLE* h, uint32_t* clockClass, uint32_t port);
using HalSlotReadByte = HALSTATUS(BOARDHANDLE* h, uint32_t index, uint8_t* value);
using HalSlotWriteByte = HALSTATUS(BOARDHANDLE* h, uint32_t index, uint8_t value);
using HalSlotCall = HALSTATUS(BOARDHANDLE* h, uint32_t code, void* in, void* out);
using HalSlotSetLut = HALSTATUS(BOARDHANDLE* h, uint32_t first, uint32_t count,
                                const PUBLICLUT* table, uint32_t controller);
using HalSlotIoControl = HALSTATUS(BOARDHANDLE* h, uint32_t code, const void* in, uint32_t inSize,
                                   void* out, uint32_t outSize, uint32_t* written);
using HalSlotFormats = HALSTATUS(BOARDHANDLE* h, uint32_t* formats, uint32_t count);
using HalSlotVgaInfo = HALSTATUS(BOARDHANDLE* h, VGAINFO* info);
using HalSlotComputePll = HALSTATUS(BOARDHANDLE* h, uint32_t khz, uint32_t kind, uint32_t* m,
                                    uint32_t* n, uint32_t* p, uint32_t* s);
using HalSlotRegisterBytes = HALSTATUS(BOARDHANDLE* h, uint32_t reg, uint8_t* data,
                                       uint32_t count);
using HalSlotByteOut = HALSTATUS(BOARDHANDLE* h, uint8_t* value);
using HalSlotByte = HALSTATUS(BOARDHANDLE* h, uint8_t value);
using HalSlotPortReadByte = HALSTATUS(BOARDHANDLE* h, uint32_t port, uint32_t reg,
                                      uint8_t* value);
using HalSlotPortWriteByte = HALSTATUS(BOARDHANDLE* h, uint32_t port, uint32_t reg,
                                       uint8_t value);
// The TV encoder table's own shapes.
using HalSlotProcAmp = HALSTATUS(BOARDHANDLE* h, TVPROCAMP* values);
using HalSlotToFormat = HALSTATUS(BOARDHANDLE* h, uint32_t value, uint32_t kind,
                                  uint8_t* bytes);
using HalSlotFromFormat = HALSTATUS(BOARDHANDLE* h, uint8_t* bytes, uint32_t kind,
                                    uint32_t* value);
using HalSlotEncoderRecord = HALSTATUS(BOARDHANDLE* h, CVE2PARAMS* params);
using HalSlotEncoderParams = HALSTATUS(BOARDHANDLE* h, uint32_t standard, CVE2PARAMS* params);
using HalSlotLuma = HALSTATUS(BOARDHANDLE* h, uint32_t standard, CVE2LUMA* luma);
using HalSlotGamma = HALSTATUS(BOARDHANDLE* h, uint32_t level, VLNGAMMA* gamma);
using HalSlotItu656 = HALSTATUS(BOARDHANDLE* h, MODEINFO* mode, CVE2ITU656* record);
using HalSlotTiming = HALSTATUS(BOARDHANDLE* h, VLNTIMING* block);
using HalSlotModeTiming = HALSTATUS(BOARDHANDLE* h, MODEINFO* mode, VLNTIMING* block);
using HalSlotStandardTiming = HALSTATUS(BOARDHANDLE* h, uint32_t standard, VLNTIMING* block);
using HalSlotModeStandardTiming = HALSTATUS(BOARDHANDLE* h, uint32_t standard, MODEINFO* mode,
                                            VLNTIMING* block);
using HalSlotSizeTiming = HALSTATUS(BOARDHANDLE* h, uint32_t standard, uint32_t width,
                                    uint32_t height, VLNTIMING* block);
using HalSlotVlnPll = HALSTATUS(BOARDHANDLE* h, uint32_t khz, uint32_t* m, uint32_t* n,
                                uint32_t* p, uint32_t* range);
using HalSlotI2c = HALSTATUS(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
using HalSlotMergeStatus = HALSTATUS(HALSTATUS current, HALSTATUS next);
using HalSlotRecordError = HALSTATUS(BOARDHANDLE* h, HALSTATUS code);
// Monitor-information slots. The decoding routines read EDID bytes alone
// and take no board handle.
using HalSlotEdidCount = uint32_t(const uint8_t* edid, const MODEINFO* query);
using HalSlotEdidStandardCount = uint32_t(const uint8_t* edid, const MODEINFO* query, bool gtfAllowed);
using HalSlotEdidDetailedCount = uint32_t(const uint8_t* edid, const MODEINFO* query, uint32_t monitorFlags);
using HalSlotEdidTiming = bool(const uint8_t* edid, MODEINFO* query, uint32_t index);
using HalSlotEdidStandardTiming = bool(const uint8_t* edid, MODEINFO* query, uint32_t index, bool gtfAllowed);
using HalSlotEdidDetailedTiming = bool(const uint8_t* edid, MODEINFO* query, uint32_t index,
                                       uint32_t monitorFlags);
using HalSlotEdidFlagsValue = uint32_t(const uint8_t* edid, uint32_t monitorFlags);
using HalSlotEdidValue = uint32_t(const uint8_t* edid);
using HalSlotEdid2Layout = void(const uint8_t* edid, EDID2LAYOUT* layout);
using HalSlotEdidDecode = bool(const uint8_t* descriptor, MODEINFO* mode);
using HalSlotEdidConvert = void(uint8_t* edid);
using HalSlotAspectRatio = uint32_t(uint32_t width, uint32_t height);
using HalSlotEdidTranslate = bool(const uint8_t* descriptor, uint32_t monitorFlags, MODEINFO* mode);
using HalSlotStandardSize = bool(uint32_t version, const uint8_t* bytes, uint32_t* width, uint32_t* height);
using HalSlotDetailedSize = void(const uint8_t* descriptor, uint32_t monitorFlags, uint32_t* width,
                                 uint32_t* height, bool* widthDoubled);
using HalSlotEdidModes = void(const uint8_t* edid, EDIDMODE* list, uint32_t monitorFlags);
using HalSlotDdcCount = HALSTATUS(BOARDHANDLE* h, MODEINFO* query, uint32_t output,
                                  uint32_t* count);
using HalSlotDdcTiming = HALSTATUS(BOARDHANDLE* h, MODEINFO* query, uint32_t output,
                                   uint32_t index);
using HalSlotReadDdcEdid = HALSTATUS(BOARDHANDLE* h, uint32_t output, uint32_t port,
                                     uint32_t address, uint32_t attempts, uint32_t delay);
using HalSlotReadDdcByte = HALSTATUS(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                     uint32_t offset, uint8_t* buffer, uint32_t count);
// Client services answer a plain code, not a status word.
using ClientSlotOpen = uint32_t(BOARDHANDLE* board);
using ClientSlotReadByte = uint32_t(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
using ClientSlotReadDword = uint32_t(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
using ClientSlotWriteByte = uint32_t(BOARDHANDLE* board, uint32_t offset, uint8_t value);
using ClientSlotWriteDword = uint32_t(BOARDHANDLE* board, uint32_t offset, uint32_t value);
using ClientSlotWait = uint32_t(BOARDHANDLE* board, uint32_t units);
using ClientSlotBiosInfo = uint32_t(BOARDHANDLE* board, void* info, void* size);
using ClientSlotReadEdid = uint32_t(BOARDHANDLE* board, uint32_t port, uint8_t* buffer,
                                    uint32_t size);
using ClientSlotHostInterface = uint32_t(BOARDHANDLE* board, void* out);
using ClientSlotWriteShadow = uint32_t(BOARDHANDLE* board, uint32_t reg, const uint32_t* value);

// The jump-table filler of a slot the chip leaves alone.
inline constexpr std::nullptr_t kSlotNotFilled = nullptr;

// ---- Device jump table ---------------------------------------------------------------
#define ORV_DEVICE_JUMP_TABLE(X) \
  X(0, SetPowerState, HalSlotU32, HSLKSTSetPowerState) \
  X(1, ValidateMode, HalSlotMode, HSLKSTValidateMode) \
  X(2, ValidateVideoParameters, HalSlotMode, HSLKSTValidateVideoParameters) \
  X(3, SwitchToVGA, HalSlotNoArgs, HSLKSTSwitchToVGA) \
  X(4, SetMode, HalSlotMode, HSLKSTSetMode) \
  X(5, SetSystemClock, HalSlotSysClock, kSlotNotFilled) \
  X(6, SetDisplayOrg, HalSlotTwoU32, kSlotNotFilled) \
  X(7, SetDisplayStart, HalSlotDisplayStart, HSLKSTSetDisplayStart) \
  X(8, GetTVParameters, HalSlotModeU32, HSLTVEGetTVParameters) \
  X(9, ModifyTVParameters, HalSlotModeU32, HSLCHRModifyTVParameters) \
  X(10, GetTVProcAmp, HalSlotGetProcAmp, HSLKSTGetTVProcAmp) \
  X(11, SetTVProcAmp, HalSlotSetProcAmp, HSLKSTSetTVProcAmp) \
  X(12, SetTVStandard, HalSlotU32, HSLKSTSetTVStandard) \
  X(13, SetTVCableType, HalSlotU32, HSLKSTSetTVCableType) \
  X(14, DetectTV, HalSlotOut, HSLKSTDetectTV) \
  X(15, SetTVOutMode, HalSlotMode, kSlotNotFilled) \
  X(16, SetTVColorBarMode, HalSlotNoArgs, kSlotNotFilled) \
  X(17, SetTVPassThroughMode, HalSlotU32, kSlotNotFilled) \
  X(18, SetTVDisableMode, HalSlotNoArgs, kSlotNotFilled) \
  X(19, I2COpenPort, HalSlotOpenPort, HSLKSTI2COpenPort) \
  X(20, I2CClosePort, HalSlotNoArgs, HSLKSTI2CClosePort) \
  X(21, I2CSetSCL, HalSlotTwoU32, HSLKSTI2CSetSCL) \
  X(22, I2CGetSCL, HalSlotReadByte, HSLKSTI2CGetSCL) \
  X(23, I2CSetSDA, HalSlotTwoU32, HSLKSTI2CSetSDA) \
  X(24, I2CGetSDA, HalSlotReadByte, HSLKSTI2CGetSDA) \
  X(25, GetMaxI2CClock, HalSlotOut, HSLDACGetMaxI2CClock) /* the MDAC table's */ \
  X(26, InitAccess, HalSlotNoArgs, HSLKSTInitAccess) \
  X(27, GetBoardInfo, HalSlotNoArgs, HSLKSTGetBoardInfo) \
  X(28, GetMonitorEDID_OLD, HalSlotU32, HSLKSTGetMonitorEDID_OLD) \
  X(29, GetAddOnInfo, HalSlotNoArgs, HSLKSTGetAddOnInfo) \
  X(30, Slot30, HalSlotNoArgs, kSlotNotFilled) \
  X(31, InitExtraJmpTbl, HalSlotNoArgs, HSLKSTInitExtraJmpTbl) \
  X(32, Slot32, HalSlotU32, kSlotNotFilled) \
  X(33, Slot33, HalSlotU32, kSlotNotFilled) \
  X(34, InitializeHardware, HalSlotNoArgs, HSLKSTInitializeHardware) \
  X(35, ValidatePhysAddr, HalSlotNoArgs, HSLKSTValidatePhysAddr) \
  X(36, ConfigOverride, HalSlotTwoU32, HSLKSTConfigOverride) \
  X(37, CustomCall, HalSlotCall, HSLKSTCustomCall) \
  X(38, ValidateDualCRTCConfig, HalSlotMode, HSLKSTValidateDualCRTCConfig) \
  X(39, GetModeBandwidth, HalSlotModeOut, HSLKSTGetModeBandwidth) \
  X(40, ClearDisplay, HalSlotMode, HSLKSTClearDisplay) \
  X(41, SetColorLUT, HalSlotSetLut, HSLKSTSetColorLUT) \
  X(42, DeviceIoControl, HalSlotIoControl, HSLKSTDeviceIoControl) \
  X(43, GetAllMonitorInfo, HalSlotNoArgs, HSLKSTGetAllMonitorInfo) \
  X(44, ValidateDigitalOutputFormat, HalSlotFormats, HSLKSTValidateDigitalOutputFormat) \
  X(45, SetDigitalOutputFormat, HalSlotFormats, HSLKSTSetDigitalOutputFormat) \
  X(46, SetOverscanColor, HalSlotTwoU32, HSLKSTSetOverscanColor) \
  X(47, GetDTVModeInfo, HalSlotModeU32, HSLCHRGetDTVModeInfo) \
  X(48, GetOutputInfo, HalSlotOutputInfo, HSLKSTGetOutputInfo) \
  X(49, GetFreeFS, HalSlotU32Out, HSLKSTGetFreeFS) \
  X(50, GetGclk, HalSlotModeOut, HSLKSTGetGclk) \
  X(51, GetPInSSystemCLock, HalSlotSysClock, HSLKSTGetPInSSystemCLock) \
  X(52, SetSystemCLock, HalSlotSysClock, HSLKSTSetSystemCLock) \
  X(53, GetSystemCLock, HalSlotSysClock, HSLKSTGetSystemCLock) \
  X(54, HardwareReset, HalSlotNoArgs, HSLKSTHardwareReset)

// Slots that the chip with the later-generation clock services (0x5D63)
// fills with their twins.
#define ORV_LATER_CLOCK_SLOTS(X) \
  X(34, InitializeHardware, HalSlotNoArgs, HSLB90InitializeHardware) \
  X(49, GetFreeFS, HalSlotU32Out, HSLB90GetFreeFS) \
  X(50, GetGclk, HalSlotModeOut, HSLB90GetGclk) \
  X(51, GetPInSSystemCLock, HalSlotSysClock, HSLB90GetPInSSystemCLock) \
  X(52, SetSystemCLock, HalSlotSysClock, HSLB90SetSystemCLock) \
  X(53, GetSystemCLock, HalSlotSysClock, HSLB90GetSystemCLock)

// The slot that the chips with the later hardware reset (0x5D62, 0x5D63)
// fill with it.
#define ORV_LATER_RESET_SLOTS(X) X(54, HardwareReset, HalSlotNoArgs, HSLWQTHardwareReset)

// ---- The nine static tables ---------------------------------------------------------
#define ORV_MISC_TABLE(X) \
  X(0, MergeStatus, HalSlotMergeStatus, ReturnCorrectError) \
  X(1, RecordError, HalSlotRecordError, SetError) \
  X(2, ReadVgaInfo, HalSlotVgaInfo, HSLVGAReadVgaInfo) \
  X(3, WriteVgaInfo, HalSlotVgaInfo, HSLVGAWriteVgaInfo) \
  X(4, ReadPins, HalSlotOut, HSLBIOSReadPins) \
  X(5, Empty5, HalSlotNoArgs, EmptySlot) \
  X(6, Empty6, HalSlotNoArgs, EmptySlot) \
  X(7, Empty7, HalSlotNoArgs, EmptySlot) \
  X(8, Empty8, HalSlotNoArgs, EmptySlot)

#define ORV_CLIENT_TABLE(X) \
  X(0, ReadConfigSpaceByte, ClientSlotReadByte, ClientReadConfigSpaceByte) \
  X(1, ReadConfigSpaceDword, ClientSlotReadDword, ClientReadConfigSpaceDword) \
  X(2, WriteConfigSpaceByte, ClientSlotWriteByte, ClientWriteConfigSpaceByte) \
  X(3, WriteConfigSpaceDword, ClientSlotWriteDword, ClientWriteConfigSpaceDword) \
  X(4, OpenRegisterBase, ClientSlotOpen, ClientOpenRegisterBase) \
  X(5, CloseRegisterBase, ClientSlotOpen, ClientCloseRegisterBase) \
  X(6, ReadRegisterByte, ClientSlotReadByte, ClientReadRegisterByte) \
  X(7, ReadRegisterDword, ClientSlotReadDword, ClientReadRegisterDword) \
  X(8, WriteRegisterByte, ClientSlotWriteByte, ClientWriteRegisterByte) \
  X(9, WriteRegisterDword, ClientSlotWriteDword, ClientWriteRegisterDword) \
  X(10, OpenMemoryBase, ClientSlotOpen, ClientOpenMemoryBase) \
  X(11, CloseMemoryBase, ClientSlotOpen, ClientCloseMemoryBase) \
  X(12, ReadMemoryByte, ClientSlotReadByte, ClientReadMemoryByte) \
  X(13, ReadMemoryDword, ClientSlotReadDword, ClientReadMemoryDword) \
  X(14, WriteMemoryByte, ClientSlotWriteByte, ClientWriteMemoryByte) \
  X(15, WriteMemoryDword, ClientSlotWriteDword, ClientWriteMemoryDword) \
  X(16, OpenSystemDevice, ClientSlotOpen, ClientOpenSystemDevice) \
  X(17, CloseSystemDevice, ClientSlotOpen, ClientCloseSystemDevice) \
  X(18, ReadSystemDeviceByte, ClientSlotReadByte, ClientReadSystemDeviceByte) \
  X(19, ReadSystemDeviceDword, ClientSlotReadDword, ClientReadSystemDeviceDword) \
  X(20, WriteSystemDeviceByte, ClientSlotWriteByte, ClientWriteSystemDeviceByte) \
  X(21, WriteSystemDeviceDword, ClientSlotWriteDword, ClientWriteSystemDeviceDword) \
  X(22, Wait, ClientSlotWait, ClientWait) \
  X(23, GetBiosInfo, ClientSlotBiosInfo, ClientGetBiosInfo) \
  X(24, ReadDDCEdid, ClientSlotReadEdid, ClientReadDDCEdid) \
  X(25, DetectHostInterface, ClientSlotHostInterface, ClientDetectHostInterface) \
  X(26, ReadRegShadowDword, ClientSlotReadDword, ClientReadRegShadowDword) \
  X(27, WriteRegShadowDword, ClientSlotWriteShadow, ClientWriteRegShadowDword)

#define ORV_MDAC_TABLE(X) \
  X(0, PowerUp, HalSlotNoArgs, HSLDACPowerUp) \
  X(1, WaitForVSync, HalSlotNoArgs, HSLDACWaitForVSync) \
  X(2, ScreenState, HalSlotOut, HSLDACScreenState) \
  X(3, ScreenOff, HalSlotNoArgs, HSLDACScreenOff) \
  X(4, ScreenOn, HalSlotNoArgs, HSLDACScreenOn) \
  X(5, PixPllSet, HalSlotMode, HSLDACPIXPLLSET) \
  X(6, SysPllSet, HalSlotU32, HSLDACSYSPLLSET) \
  X(7, Init, HalSlotMode, HSLDACInit) \
  X(8, ComputePLLParam, HalSlotComputePll, HSLDACComputePLLParam) \
  X(9, ReadRegister, HalSlotReadByte, HSLDACReadRegister) \
  X(10, WriteRegister, HalSlotWriteByte, HSLDACWriteRegister) \
  X(11, I2CSetSCL, HalSlotTwoU32, HSLDACI2CSetSCL) \
  X(12, I2CGetSCL, HalSlotReadByte, HSLDACI2CGetSCL) \
  X(13, I2CAltGetSCL, HalSlotReadByte, HSLDACI2CAltGetSCL) \
  X(14, I2CSetSDA, HalSlotTwoU32, HSLDACI2CSetSDA) \
  X(15, I2CGetSDA, HalSlotReadByte, HSLDACI2CGetSDA) \
  X(16, I2CAltGetSDA, HalSlotReadByte, HSLDACI2CAltGetSDA) \
  X(17, GetMaxI2CClock, HalSlotOut, HSLDACGetMaxI2CClock) \
  X(18, SetZoom, HalSlotU32, HSLDACSetZoom) \
  X(19, SenceMonitorLoad, HalSlotOut, HSLDACSenceMonitorLoad) \
  X(20, DisableOutput, HalSlotNoArgs, HSLDACDisableOutput) \
  X(21, AdjustSystemPLL, HalSlotNoArgs, HSLDACAdjustSystemPLL)

#define ORV_I2C_TABLE(X) \
  X(0, Execute, HalSlotI2c, HALPI2CExecute) \
  X(1, Read, HalSlotI2c, HALPReadI2C) \
  X(2, Write, HalSlotI2c, HALPWriteI2C) \
  X(3, Null, HalSlotI2c, HALPNullI2C) \
  X(4, Reset, HalSlotI2c, HALPResetI2C) \
  X(5, Stop, HalSlotI2c, HALPI2CStop) \
  X(6, Start, HalSlotI2c, HALPI2CStart) \
  X(7, Ack, HalSlotI2c, HALPI2CAck) \
  X(8, Nak, HalSlotI2c, HALPI2CNak) \
  X(9, ReadByte, HalSlotI2c, HALPI2CReadByte) \
  X(10, WriteByte, HalSlotI2c, HALPI2CWriteByte) \
  X(11, WaitAck, HalSlotI2c, HALPI2CWaitAck)

#define ORV_CRTC_TABLE(X) \
  X(0, UseLineDoubling, HalSlotModeOut, HSLCRTUseLineDoubling) \
  X(1, Set, HalSlotMode, HSLCRTCSet) \
  X(2, Lock, HalSlotNoArgs, HSLCRTCLock) \
  X(3, UnLock, HalSlotNoArgs, HSLCRTCUnLock) \
  X(4, SetDisplayStart, HalSlotTwoU32, HSLCRTCSetDisplayStart) \
  X(5, SetPitch, HalSlotMode, HSLCRTCSetPitch) \
  X(6, SelectHiresMode, HalSlotNoArgs, HSLCRTCSelectHiresMode) \
  X(7, SetPriorityRequest, HalSlotNoArgs, HSLCRTCSetPriorityRequest) \
  X(8, Disable, HalSlotNoArgs, HSLCRTCDisable) \
  X(9, Enable, HalSlotNoArgs, HSLCRTCEnable) \
  X(10, AdjustVideoParameters, HalSlotMode, HSLCRTCAdjustVideoParameters) \
  X(11, ValidateHwSync, HalSlotOut, HSLCRTCValidateHwSync) \
  X(12, CompareCurrentResolution, HalSlotModeOut, HSLCRTCCompareCurrentResolution)

#define ORV_VLN_TABLE(X) \
  X(0, GetTVParameters, HalSlotModeU32, HSLTVEGetTVParameters) \
  X(1, GetVScaleTVParameters, HalSlotModeU32, HSLTVEGetVScaleTVParameters) \
  X(2, ModifyTVParameters, HalSlotModeU32, HSLVLNModifyTVParameters) \
  X(3, GetTVProcAmp, HalSlotGetProcAmp, HSLTVEGetTVProcAmp) \
  X(4, SetTVProcAmp, HalSlotSetProcAmp, HSLVLNSetTVProcAmp) \
  X(5, GetCVE2ITU656Parameters, HalSlotItu656, HSLTVEGetCVE2ITU656Parameters) \
  X(6, ValidateMode, HalSlotMode, HSLVLNValidateMode) \
  X(7, ValidateVideoParameters, HalSlotMode, HSLVLNValidateVideoParameters) \
  X(8, SetTVStandard, HalSlotU32, HSLVLNSetTVStandard) \
  X(9, SetTVCableType, HalSlotU32, HSLVLNSetTVCableType) \
  X(10, DetectTV, HalSlotOut, HSLVLNDetectTV) \
  X(11, SetTVDisableMode, HalSlotNoArgs, HSLVLNSetTVDisableMode) \
  X(12, SetTVOutMode, HalSlotMode, HSLVLNSetTVOutMode) \
  X(13, SetTVOutModeCRTC2, HalSlotMode, HSLVLNSetTVOutModeCRTC2) \
  X(14, SetCRTOutMode, HalSlotMode, HSLVLNSetCRTOutMode) \
  X(15, SetTVColorBarMode, HalSlotNoArgs, HSLVLNSetTVColorBarMode) \
  X(16, SetTVYUVMode, HalSlotNoArgs, HSLVLNSetTVYUVMode) \
  X(17, SetGPIO, HalSlotU32, HSLVLNSetGPIO) \
  X(18, SetGPIODirect, HalSlotU32, HSLVLNSetGPIODirect) \
  X(19, SynchPol, HalSlotTwoU32, HSLVLNSynchPol) \
  X(20, I2CRead, HalSlotRegisterBytes, HSLVLNI2CRead) \
  X(21, I2CWrite, HalSlotRegisterBytes, HSLVLNI2CWrite) \
  X(22, ConvertToRegisterFormat, HalSlotToFormat, HSLCVE2ConvertMUINT32ToRegisterFormat) \
  X(23, ConvertToMUINT32, HalSlotFromFormat, HSLCVE2ConvertRegisterFormatToMUINT32) \
  X(24, Sync, HalSlotNoArgs, HSLVLNSync) \
  X(25, Reset, HalSlotNoArgs, HSLVLNReset) \
  X(26, SetEncoderRegister, HalSlotEncoderRecord, HSLCVE2SetEncoderRegister) \
  X(27, Empty27, HalSlotNoArgs, EmptySlot) \
  X(28, EnableEncoder, HalSlotU32, HSLCVE2EnableEncoder) \
  X(29, EnableDataTransfer, HalSlotU32, HSLVLNEnableDataTransfer) \
  X(30, SetCRTC, HalSlotModeTiming, HSLVLNSetCRTC) \
  X(31, SetPLL, HalSlotTiming, HSLVLNSetPLL) \
  X(32, ResetVFCIInterface, HalSlotNoArgs, HSLVLNResetVFCIInterface) \
  X(33, PixPllSet, HalSlotMode, HSLVLNPIXPLLSET) \
  X(34, AdjustTVPosition, HalSlotMode, HSLVLNAdjustTVPosition) \
  X(35, CalculateTVPosition, HalSlotModeTiming, HSLVLNCalculateTVPosition) \
  X(36, ValidateTVPosition, HalSlotModeTiming, HSLVLNValidateTVPosition) \
  X(37, GetGPIOOutputState, HalSlotOut, HSLVLNGetGPIOOutputState) \
  X(38, I2CReadSecondHD15Module, HalSlotByteOut, HSLVLNI2CReadSecondHD15Module) \
  X(39, I2CWriteSecondHD15Module, HalSlotByte, HSLVLNI2CWriteSecondHD15Module) \
  X(40, ComputePLLParam, HalSlotVlnPll, HSLVLNComputePLLParam) \
  X(41, ApplyVrstPatch, HalSlotMode, HSLVLNApplyVrstPatch) \
  X(42, CRTC2SetITU656, HalSlotMode, HSLVLNCRTC2SetITU656) \
  X(43, GetEncoderParameters, HalSlotEncoderParams, HSLTVEGetEncoderParameters) \
  X(44, Empty44, HalSlotNoArgs, EmptySlot) \
  X(45, GetTimingParametersOldMethod, HalSlotSizeTiming, HSLTVEGetTimingParametersOldMethod) \
  X(46, GetTimingParameters, HalSlotModeStandardTiming, HSLTVEGetTimingParameters) \
  X(47, GetGammaParameters, HalSlotGamma, HSLTVEGetGammaParameters) \
  X(48, GetLumaParameters, HalSlotLuma, HSLTVEGetLumaParameters) \
  X(49, GetColorBarTimingParameters, HalSlotStandardTiming, HSLTVEGetColorBarTimingParameters) \
  X(50, GetIDForParameters, HalSlotByteOut, HSLTVEGetIDForParameters) \
  X(51, SetGamma, HalSlotProcAmp, HSLVLNSetGamma) \
  X(52, SetBrightness, HalSlotProcAmp, HSLCVE2SetBrightness) \
  X(53, SetContrast, HalSlotProcAmp, HSLCVE2SetContrast) \
  X(54, SetHue, HalSlotProcAmp, HSLCVE2SetHue) \
  X(55, SetSaturation, HalSlotProcAmp, HSLCVE2SetSaturation) \
  X(56, SetOutputBW, HalSlotProcAmp, HSLCVE2SetOutputBW) \
  X(57, SetDotCrawlFreeze, HalSlotProcAmp, HSLCVE2SetDotCrawlFreeze) \
  X(58, SetTextFilter, HalSlotProcAmp, HSLVLNSetTextFilter) \
  X(59, SetDeflicker, HalSlotProcAmp, HSLVLNSetDeflicker) \
  X(60, Empty60, HalSlotNoArgs, EmptySlot) \
  X(61, SetTVPassThroughMode, HalSlotU32, HSLVLNSetTVPassThroughMode)

#define ORV_FP_TABLE(X) \
  X(0, EnablePanelLinkModuleOutput, HalSlotU32, HSLEnablePanelLinkModuleOutput) \
  X(1, FlatEnableVFCI, HalSlotU32, HSLFlatEnableVFCI) \
  X(2, ReadPanelLinkModuleRegister, HalSlotByteOut, HSLReadPanelLinkModuleRegister) \
  X(3, WritePanelLinkModuleRegister, HalSlotByte, HSLWritePanelLinkModuleRegister) \
  X(4, GetPanelLinkModuleOutputState, HalSlotOut, HSLGetPanelLinkModuleOutputState) \
  X(5, ReadSIPanelLinkRegister, HalSlotPortReadByte, HSLReadSIPanelLinkRegister) \
  X(6, WriteSIPanelLinkRegister, HalSlotPortWriteByte, HSLWriteSIPanelLinkRegister) \
  X(7, GetSIPanelLinkVersion, HalSlotU32Out, HSLGetSIPanelLinkVersion) \
  X(8, EnableSIPanelLinkHotPlug, HalSlotU32, HSLEnableSIPanelLinkHotPlug) \
  X(9, GetSIPanelLinkHotPlugStatus, HalSlotOut, HSLGetSIPanelLinkHotPlugStatus)

#define ORV_ADDON_TABLE(X) \
  X(0, DetectAddOn, HalSlotNoArgs, HALPDetectAddOn) \
  X(1, DetectVelan, HalSlotOut, HSLDetectVelan) \
  X(2, DetectVideoDecoder, HalSlotOut, HSLDetectVideoDecoder) \
  X(3, DetectPanelLinkModule, HalSlotOut, HSLDetectPanelLinkModule) \
  X(4, DetectVB2, HalSlotOut, HSLDetectVB2) \
  X(5, DetectMSP, HalSlotOut, HSLDetectMSP) \
  X(6, DetectDVD, HalSlotOut, HSLDetectDVD) \
  X(7, DetectMJPEG, HalSlotOut, HSLDetectMJPEG) \
  X(8, DetectTVTuner, HalSlotOut, HSLDetectTVTuner) \
  X(9, DetectSecondHD15, HalSlotOut, HSLDetectSecondHD15) \
  X(10, DetectSIPanelLink, HalSlotOut, HSLDetectSIPanelLink)

#define ORV_EDID_TABLE(X) \
  X(0, GetEDID1EstablishedTimingNumber, HalSlotEdidCount, HALPGetEDID1EstablishedTimingNumber) \
  X(1, GetEDID1StandardTimingNumber, HalSlotEdidStandardCount, HALPGetEDID1StandardTimingNumber) \
  X(2, GetEDID1DetailedTimingNumber, HalSlotEdidDetailedCount, HALPGetEDID1DetailedTimingNumber) \
  X(3, GetEDID1EstablishedTiming, HalSlotEdidTiming, HALPGetEDID1EstablishedTiming) \
  X(4, GetEDID1StandardTiming, HalSlotEdidStandardTiming, HALPGetEDID1StandardTiming) \
  X(5, GetEDID1DetailedTiming, HalSlotEdidDetailedTiming, HALPGetEDID1DetailedTiming) \
  X(6, GetEDID1AspectRatio, HalSlotEdidFlagsValue, HALPGetEDID1AspectRatio) \
  X(7, CalcEDID2Offset, HalSlotEdid2Layout, HALPCalcEDID2Offset) \
  X(8, GetEDIDDetailedTimingInfo, HalSlotEdidDecode, HALPGetEDIDDetailedTimingInfo) \
  X(9, ConvertEDID2toEDID1, HalSlotEdidConvert, HALPConvertEDID2toEDID1) \
  X(10, ComputeAspectRatio, HalSlotAspectRatio, HALPComputeAspectRatio) \
  X(11, GetTranslatedDetailedTimingInfo, HalSlotEdidTranslate, HALPGetTranslatedDetailedTimingInfo) \
  X(12, GetResFromStandardTiming, HalSlotStandardSize, HALPGetResFromStandardTiming) \
  X(13, GetResFromDetailedTiming, HalSlotDetailedSize, HALPGetResFromDetailedTiming) \
  X(14, GetMonitorInfo, HalSlotU32, HALPGetMonitorInfo) \
  X(15, GetMonitorProperties, HalSlotU32, HALPGetMonitorProperties) \
  X(16, GetMonitorLimits, HalSlotU32, HALPGetMonitorLimits) \
  X(17, GetDDCEstablishedTimingNumber, HalSlotDdcCount, HALPGetDDCEstablishedTimingNumber) \
  X(18, GetDDCStandardTimingNumber, HalSlotDdcCount, HALPGetDDCStandardTimingNumber) \
  X(19, GetDDCDetailedTimingNumber, HalSlotDdcCount, HALPGetDDCDetailedTimingNumber) \
  X(20, GetDDCEstablishedTiming, HalSlotDdcTiming, HALPGetDDCEstablishedTiming) \
  X(21, GetDDCStandardTiming, HalSlotDdcTiming, HALPGetDDCStandardTiming) \
  X(22, GetDDCDetailedTiming, HalSlotDdcTiming, HALPGetDDCDetailedTiming) \
  X(23, DetectHD15ToTVAdaptor, HalSlotU32Out, HALPDetectHD15ToTVAdaptor) \
  X(24, GetPrimaryMonitorInfo, HalSlotNoArgs, HALPGetPrimaryMonitorInfo) \
  X(25, GetSecondMonitorInfo, HalSlotNoArgs, HALPGetSecondMonitorInfo) \
  X(26, DetectNoTV, HalSlotOut, HALPDetectNoTV) \
  X(27, ReadDDCEDID, HalSlotReadDdcEdid, HALPReadDDCEDID) \
  X(28, ReadDDCByte, HalSlotReadDdcByte, HALPReadDDCByte) \
  X(29, GetMonitorMinimalResolution, HalSlotU32, HALPGetMonitorMinimalResolution) \
  X(30, GetMonitorMaximalResolution, HalSlotU32, HALPGetMonitorMaximalResolution) \
  X(31, GetMonitorAspectRatio, HalSlotU32, HALPGetMonitorAspectRatio) \
  X(32, GetEDIDVersion, HalSlotEdidValue, HALPGetEDIDVersion) \
  X(33, GetEDID1EdidModes, HalSlotEdidModes, HALPGetEDID1EdidModes) \
  X(34, GetEDIDBufferSize, HalSlotEdidValue, HALPGetEDIDBufferSize) \
  X(35, IsEDIDBufferValid, HalSlotEdidValue, HALPIsEDIDBufferValid)

// ---- The table structs -----------------------------------------------------------------
#define ORV_SLOT_MEMBER(index, Slot, SlotType, Function) SlotType* Slot;
#define ORV_SLOT_OFFSET(index, Slot, SlotType, Function) +1
#define ORV_TABLE_STRUCT(Name, LIST)                                        \
  struct Name {                                                             \
    LIST(ORV_SLOT_MEMBER)                                                   \
  };                                                                        \
  inline constexpr size_t Name##_SLOTS = 0 LIST(ORV_SLOT_OFFSET);           \
  static_assert(sizeof(Name) == Name##_SLOTS * sizeof(void*));

ORV_TABLE_STRUCT(DEVICEJUMPTABLE, ORV_DEVICE_JUMP_TABLE)
ORV_TABLE_STRUCT(MISCFUNCTIONS, ORV_MISC_TABLE)
ORV_TABLE_STRUCT(CLIENTFUNCTIONS, ORV_CLIENT_TABLE)
ORV_TABLE_STRUCT(MDACFUNCTIONS, ORV_MDAC_TABLE)
ORV_TABLE_STRUCT(I2CFUNCTIONS, ORV_I2C_TABLE)
ORV_TABLE_STRUCT(CRTCFUNCTIONS, ORV_CRTC_TABLE)
ORV_TABLE_STRUCT(VLNFUNCTIONS, ORV_VLN_TABLE)
ORV_TABLE_STRUCT(FPFUNCTIONS, ORV_FP_TABLE)
ORV_TABLE_STRUCT(ADDONFUNCTIONS, ORV_ADDON_TABLE)
ORV_TABLE_STRUCT(EDIDFUNCTIONS, ORV_EDID_TABLE)
#undef ORV_TABLE_STRUCT
#undef ORV_SLOT_OFFSET
#undef ORV_SLOT_MEMBER

inline constexpr unsigned kJumpTableSlots = 55;
static_assert(DEVICEJUMPTABLE_SLOTS == kJumpTableSlots);
static_assert(MISCFUNCTIONS_SLOTS == 9 && CLIENTFUNCTIONS_SLOTS == 28 &&
              MDACFUNCTIONS_SLOTS == 22 && I2CFUNCTIONS_SLOTS == 12 &&
              CRTCFUNCTIONS_SLOTS == 13 && VLNFUNCTIONS_SLOTS == 62 && FPFUNCTIONS_SLOTS == 10 &&
              ADDONFUNCTIONS_SLOTS == 11 && EDIDFUNCTIONS_SLOTS == 36);

// The static tables, one instance per library, shared by every handle.
extern const MISCFUNCTIONS MISCFunctions;
extern const CLIENTFUNCTIONS ClientFunctions;
extern const MDACFUNCTIONS MDACFunctions;
extern const I2CFUNCTIONS I2CFunctions;
extern const CRTCFUNCTIONS CRTCFunctions;
extern const VLNFUNCTIONS VLNFunctions;
extern const FPFUNCTIONS FPFunctions;
extern const ADDONFUNCTIONS ADDONFunctions;
extern const EDIDFUNCTIONS EDIDFunctions;

// Set-up of a fresh handle's tables.
HALSTATUS HSLInit(BOARDHANDLE* h);
HALSTATUS HSLInitDeviceJumpTable(BOARDHANDLE* h);
HALSTATUS HSLKSTInitExtraJmpTbl(BOARDHANDLE* h);  // slot 31
HALSTATUS HSLKSTInitAccess(BOARDHANDLE* h);       // slot 26
// Fills every slot the chip does not: records 0xb0303065 unless failed.
HALSTATUS HSLTBLNotInitFunction(BOARDHANDLE* h);
HALSTATUS HSLTBLDummyFunction(BOARDHANDLE* h);
