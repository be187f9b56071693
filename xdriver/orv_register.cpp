#include "xdriver/orv_register.h"

#include <string.h>

#include "core/client_services.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_pci.h"

namespace {

// Output bits of a mode request: analog outputs 0-3, digital outputs 0-3.
constexpr uint32_t kAnalogOutputBits[4] = {0x2, 0x4, 0x8, 0x10};
constexpr uint32_t kDigitalOutputBits[4] = {0x20, 0x40, 0x80, 0x100};
constexpr uint32_t kOutputValidate = 0x100000;
constexpr uint32_t kTvStandardWord = 1;
constexpr uint32_t kTvCableWord = 5;
constexpr uint32_t kCfgInterruptLine = 0x3C;
constexpr uint32_t kClosedBoardStatus = 0x80000000;  // error severity
constexpr int kOutputs = ORVCFG_OUTPUT_COUNT;

// Open board handles; the process drives few boards.
constexpr int kMaxOpenBoards = 16;
BOARDHANDLE* g_openBoards[kMaxOpenBoards];

BOARDHANDLE* BoardOf(const OrvCfgBoardRecord* record) {
  if (record == nullptr || !OrvBoardIsOpen(record->pBoardHandle)) return nullptr;
  return static_cast<BOARDHANDLE*>(record->pBoardHandle);
}

void CopyText(char* out, size_t size, const char* in, size_t inSize) {
  size_t n = strnlen(in, inSize);
  if (n >= size) n = size - 1;
  memcpy(out, in, n);
  out[n] = '\0';
}

}  // namespace

void OrvNoteBoardOpen(BOARDHANDLE* board) {
  for (BOARDHANDLE*& slot : g_openBoards) {
    if (slot == nullptr) {
      slot = board;
      return;
    }
  }
}

void OrvNoteBoardClosed(BOARDHANDLE* board) {
  for (BOARDHANDLE*& slot : g_openBoards) {
    if (slot == board) slot = nullptr;
  }
}

bool OrvBoardIsOpen(const void* board) {
  if (board == nullptr) return false;
  for (BOARDHANDLE* slot : g_openBoards) {
    if (slot == board) return true;
  }
  return false;
}

void OrvModeInfoToVideoMode(const QLBMODEINFO* m, ORVCFGVideoMode* out) {
  *out = {};
  out->ulRefreshRate = m->ulRefreshRate;
  out->ulLineRate = m->ulHorizRate;
  out->ulPixClock = m->ulPixClock;
  out->ulHActive = m->ulDispWidth;
  out->ulHFrontPorch = m->ulHFPorch;
  out->ulHSyncWidth = m->ulHSync;
  out->ulHBackPorch = m->ulHBPorch;
  out->ulVActive = m->ulDispHeight;
  out->ulVFrontPorch = m->ulVFPorch;
  out->ulVSyncWidth = m->ulVSync;
  out->ulVBackPorch = m->ulVBPorch;
  out->ulFlags = m->flSignalMode;
}

void OrvVideoModeToModeInfo(const OrvCfgModeRequest* request, QLBMODEINFO* out) {
  memset(out, 0, sizeof(*out));
  const ORVCFGVideoMode& v = request->oMode;
  out->ulRefreshRate = v.ulRefreshRate;
  out->ulHorizRate = v.ulLineRate;
  out->ulPixClock = v.ulPixClock;
  out->ulDispWidth = v.ulHActive;
  out->ulHFPorch = v.ulHFrontPorch;
  out->ulHSync = v.ulHSyncWidth;
  out->ulHBPorch = v.ulHBackPorch;
  out->ulDispHeight = v.ulVActive;
  out->ulVFPorch = v.ulVFrontPorch;
  out->ulVSync = v.ulVSyncWidth;
  out->ulVBPorch = v.ulVBackPorch;
  out->flSignalMode = v.ulFlags;
  if (request->ulOutput < kOutputs) {
    if (request->ulOutputType == ORVCFG_INPUT_ANALOG) out->flOutput = kAnalogOutputBits[request->ulOutput];
    if (request->ulOutputType == ORVCFG_INPUT_DIGITAL) out->flOutput = kDigitalOutputBits[request->ulOutput];
  }
  out->flOutput |= kOutputValidate;
  out->ulTvStandard = kTvStandardWord;
  out->ulTvCableType = kTvCableWord;
}

int32_t OrvBoardCbGetSpecificCap(OrvCfgBoardRecord* record, uint32_t capability) {
  BOARDHANDLE* board = BoardOf(record);
  if (board == nullptr || capability != ORVCFG_CAP_KVD) return -1;
  return ORVIsQuadBoard(board) ? 1 : 0;
}

int32_t OrvBoardCbReserved(OrvCfgBoardRecord*) { return -1; }

uint32_t OrvBoardCbValidateMode(OrvCfgBoardRecord* record, const OrvCfgModeRequest* request) {
  BOARDHANDLE* board = BoardOf(record);
  if (board == nullptr || request == nullptr) return kClosedBoardStatus;
  QLBMODEINFO mode;
  OrvVideoModeToModeInfo(request, &mode);
  return ORVValidateVideoParameters(board, &mode);
}

uint32_t OrvBoardCbValidateModeEdid(OrvCfgBoardRecord* record, const OrvCfgModeRequest* request) {
  BOARDHANDLE* board = BoardOf(record);
  if (board == nullptr || request == nullptr) return kClosedBoardStatus;
  QLBMODEINFO mode;
  OrvVideoModeToModeInfo(request, &mode);
  return ORVValidateTimingsWithEdid(board, request->ulOutput, &mode);
}

int32_t OrvBoardCbGetDetailedTiming(OrvCfgBoardRecord* record, uint32_t width, uint32_t height,
                                    uint32_t refresh, ORVCFGVideoMode* out) {
  BOARDHANDLE* board = BoardOf(record);
  if (board == nullptr || out == nullptr) return 0;
  QLBMODEINFO mode;
  memset(&mode, 0, sizeof(mode));
  mode.ulDispWidth = width;
  mode.ulDispHeight = height;
  ORVGetVideoParameters(board, &mode, refresh);
  OrvModeInfoToVideoMode(&mode, out);
  return 1;
}

int OrvRegisterBoardToExtension(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  auto registerBoard =
      reinterpret_cast<ORVCFGRegisterBoardProc>(LoaderSymbol(ORVCFG_REGISTER_BOARD_SYMBOL));
  if (registerBoard == nullptr) return -1;
  OrvCfgBoardRecord record;
  memset(&record, 0, sizeof(record));
  record.pBoardHandle = rec->pBoard;
  ORVGetDeviceNameStr(screen, record.oCap.szName, sizeof(record.oCap.szName));
  record.oCap.ulDriverFamily = ORVCFG_DRIVER_FAMILY_ORV;
  const pciVideoRec* pci = rec->pEnt->pPci;
  record.oCap.ulSubsystemId = static_cast<uint32_t>(pci->subsysCard);
  record.oCap.ulDeviceId = static_cast<uint32_t>(pci->chipType);
  record.oCap.ulMaxOutputs = ORVGetMaxOutputs(rec->pBoard);
  record.oCap.ulOpenGL = 1;
  record.oCap.ulRotation = 1;
  record.ulPciBus = static_cast<uint32_t>(pci->bus);
  record.ulPciDevice = static_cast<uint32_t>(pci->device);
  record.ulPciFunction = static_cast<uint32_t>(pci->func);
  uint8_t line = 0;
  ClientReadConfigSpaceByte(rec->pBoard, kCfgInterruptLine, &line);
  record.ulInterruptLine = line;
  record.ulRealBusMastering = rec->busMastering == kBusMasteringKernel ? 1 : 0;
  record.pfnGetSpecificCap = OrvBoardCbGetSpecificCap;
  record.pfnReserved = OrvBoardCbReserved;
  record.pfnValidateMode = OrvBoardCbValidateMode;
  record.pfnValidateModeEdid = OrvBoardCbValidateModeEdid;
  record.pfnGetDetailedTiming = OrvBoardCbGetDetailedTiming;
  return registerBoard(&record);
}

int OrvRegisterBoardOutputToExtension(ScrnInfoPtr screen, int board, int output) {
  ORVRec* rec = ORVPTR(screen);
  auto registerOutput =
      reinterpret_cast<ORVCFGRegisterOutputProc>(LoaderSymbol(ORVCFG_REGISTER_OUTPUT_SYMBOL));
  if (registerOutput == nullptr) return -1;
  auto* state = static_cast<ORVCFGOutputState*>(xcalloc(1, sizeof(ORVCFGOutputState)));
  auto* info = static_cast<DEVICEEDIDINFO*>(xcalloc(1, sizeof(DEVICEEDIDINFO)));
  if (state == nullptr || info == nullptr) {
    xfree(state);
    xfree(info);
    return -1;
  }
  ORVGetDeviceEdidInfo(rec->pBoard, static_cast<uint32_t>(output), info);
  state->ulOutput = static_cast<uint32_t>(output);
  CopyText(state->szVendor, sizeof(state->szVendor), info->szVendorSign, sizeof(info->szVendorSign));
  CopyText(state->szName, sizeof(state->szName), info->szMonitorName, sizeof(info->szMonitorName));
  CopyText(state->szSerial, sizeof(state->szSerial), info->szSerialNumber, sizeof(info->szSerialNumber));
  state->ulInputType = ORVGetMonitorInputType(rec->pBoard, static_cast<uint32_t>(output));
  OrvModeInfoToVideoMode(&info->oPreferredTiming, &state->oPreferred);
  state->ulEdidModeCount = ORVCFG_EDID_MODE_COUNT;
  for (int i = 0; i < ORVCFG_EDID_MODE_COUNT; ++i)
    OrvModeInfoToVideoMode(&info->aoModes[i], &state->aoEdidModes[i]);
  const int answer = registerOutput(board, state);
  xfree(info);
  xfree(state);
  return answer;
}

void ORVRegisterWithExtension(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->head != 0 || !xf86LoaderCheckSymbol(ORVCFG_REGISTER_BOARD_SYMBOL)) return;
  const int board = OrvRegisterBoardToExtension(screen);
  for (int output = 0; output < kOutputs; ++output)
    OrvRegisterBoardOutputToExtension(screen, board, output);
}
