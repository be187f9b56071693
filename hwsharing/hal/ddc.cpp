#include "hwsharing/hal/ddc.h"

#include <cstring>

#include "core/client_services.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/edid_text.h"
#include "hwsharing/hal/monitor.h"

namespace {

// Timing words of a DDC transaction: wait units per half bit.
constexpr uint32_t kDdcTimingNormal = 10;
constexpr uint32_t kDdcTimingSlow = 20;
// The normal-speed reads use the DDC line of the port only.
constexpr uint32_t kDdcPortLineMask = 0x1F;
constexpr uint32_t kDdcSettleUnits = 500;
constexpr uint32_t kTiedLinesSettleUnits = 100;
constexpr uint32_t kDdcWriteAttempts = 8;
constexpr uint32_t kSameEdidBytes = 20;
constexpr uint32_t kSameEdid2Bytes = 56;

constexpr uint32_t kDdcPorts[kMonitorOutputs] = {0, 5, 17, 18};

// The box's command and reply registers, its handshake and how long it may
// take to answer.
constexpr uint32_t kExpanderCommandRegister = 0xA0;
constexpr uint32_t kExpanderReplyRegister = 0;
constexpr uint8_t kExpanderQuery[4] = {3, 0, 0, 0};
constexpr uint8_t kExpanderMagicQuery[4] = {4, 2, 1, 0};
constexpr uint8_t kExpanderStateMask = 0x8F;
constexpr uint8_t kExpanderIdle = 0;
constexpr uint8_t kExpanderMagicReady = 2;
constexpr uint32_t kExpanderReplyBytes = 4;
constexpr uint32_t kExpanderMaxPolls = 10000;
constexpr uint32_t kExpanderRepliesWanted = 3;
constexpr char kDesktopExpanderVendor[] = "ORV";

// Control words of the DDC transfers.
constexpr uint32_t kCtlAddress = kI2cStart | kI2cAck | kI2cCheckScl;  // 0x51
constexpr uint32_t kCtlByte = kI2cAck | kI2cCheckScl;                 // 0x50
constexpr uint32_t kCtlReadAck = kI2cAck;                             // 0x10
constexpr uint32_t kCtlReadLast = kI2cNak | kI2cStop;                 // 0x22
constexpr uint32_t kCtlWriteAddress = kI2cStart | kI2cAck;            // 0x11
constexpr uint32_t kCtlWriteByte = kI2cAck;                           // 0x10
constexpr uint32_t kCtlWriteLast = kI2cStop;                          // 0x02

// One transaction record on an open port; a failure stays recorded until
// the transfer ends.
struct DdcTransfer {
  BOARDHANDLE* h;
  uint32_t port;
  I2CTRANSACTION t{};
  bool failed = false;

  DdcTransfer(BOARDHANDLE* board, uint32_t p, uint32_t timing) : h(board), port(p) {
    uint32_t clockClass = 0;
    h->oJumpTable.I2COpenPort(h, &clockClass, port);
    t.ulHalfBitTime = timing;
  }
  bool Step(uint32_t op, uint32_t control, uint32_t data = 0) {
    t.ulOpCode = op;
    t.flI2CControl = control;
    t.ucData = data & 0xFF;
    HALPI2CExecute(h, port, &t);
    if (t.ulI2CStatus != kI2cDone) failed = true;
    return t.ulI2CStatus == kI2cDone;
  }
  void Stop(uint32_t control) {
    t.ulOpCode = kI2cOpNull;
    t.flI2CControl = control;
    HALPI2CExecute(h, port, &t);
  }
  HALSTATUS Close() {
    h->oJumpTable.I2CClosePort(h);
    if (failed) SetError(h, kErrDdcNoAck);
    return h->status;
  }
};

HALSTATUS ReadBytes(BOARDHANDLE* h, uint32_t port, uint32_t timing, uint32_t address, uint32_t offset,
                    uint8_t* buffer, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  if (count == 0) return h->status;
  DdcTransfer x(h, port, timing);
  auto abandon = [&x, h] {
    x.Stop(kCtlReadLast);
    ClientWait(h, kDdcSettleUnits);
  };
  if (!x.Step(kI2cOpWrite, kCtlAddress, address)) {
    abandon();
    return x.Close();
  }
  if (!x.Step(kI2cOpWrite, kCtlByte, offset)) {
    abandon();
    return x.Close();
  }
  ClientWait(h, kDdcSettleUnits);
  if (x.Step(kI2cOpWrite, kCtlAddress, address | 1)) {
    for (uint32_t i = 0; i + 1 < count; ++i) {
      x.Step(kI2cOpRead, kCtlReadAck);
      buffer[i] = static_cast<uint8_t>(x.t.ucData);
    }
  }
  if (!x.Step(kI2cOpRead, kCtlReadLast)) abandon();
  buffer[count - 1] = static_cast<uint8_t>(x.t.ucData);
  return x.Close();
}

HALSTATUS ReadEdidBlock(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t block, uint32_t slow,
                        uint8_t* buffer) {
  if (HalFailed(h->status)) return h->status;
  if (block > 1) return SetError(h, kErrEdidBlockNumber);
  uint8_t bytes[kEdidBlockSize];
  const uint32_t offset = block * kEdidBlockSize;
  if (slow != 0) {
    HALPReadSlowDDCByte(h, port, address, offset, bytes, kEdidBlockSize);
  } else {
    HALPReadDDCByte(h, port, address, offset, bytes, kEdidBlockSize);
  }
  if (HalFailed(h->status)) return h->status;
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  if (sum != 0) return SetError(h, kErrEdidBlockChecksum);
  std::memcpy(buffer, bytes, kEdidBlockSize);
  return h->status;
}

// The output has no EDID: nothing of a monitor that no longer answers stays
// behind for the EDID queries to find.
void ForgetEdid(MONITORINFO& mi) {
  mi.flMonitor &= ~kMonitorEdidValid;
  mi.ulEdidVersion = 0;
  std::memset(mi.aucEdid, 0, sizeof(mi.aucEdid));
}

}  // namespace

uint32_t DdcPortOfOutput(uint32_t output) { return output < kMonitorOutputs ? kDdcPorts[output] : kDdcPorts[0]; }

HALSTATUS HALPReadDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, uint8_t* buffer,
                          uint32_t count) {
  return ReadBytes(h, port & kDdcPortLineMask, kDdcTimingNormal, address, offset, buffer, count);
}

HALSTATUS HALPReadSlowDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, uint8_t* buffer,
                              uint32_t count) {
  return ReadBytes(h, port, kDdcTimingSlow, address, offset, buffer, count);
}

HALSTATUS HALPWriteDDCByte(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t offset, const uint8_t* data,
                           uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  if (count == 0) return h->status;
  DdcTransfer x(h, port, kDdcTimingNormal);
  bool done = false;
  for (uint32_t attempt = 0; attempt < kDdcWriteAttempts && !done; ++attempt) {
    bool ok = x.Step(kI2cOpWrite, kCtlWriteAddress, address) && x.Step(kI2cOpWrite, kCtlWriteByte, offset);
    if (ok) {
      ClientWait(h, kDdcSettleUnits);
      for (uint32_t i = 0; ok && i + 1 < count; ++i) ok = x.Step(kI2cOpWrite, kCtlWriteByte, data[i]);
      ok = ok && x.Step(kI2cOpWrite, kCtlWriteLast, data[count - 1]);
    }
    if (!ok) x.Stop(kCtlWriteLast);
    done = ok;
  }
  // Only the outcome of the last attempt counts.
  x.failed = !done;
  return x.Close();
}

HALSTATUS HALGetEdidBlockContent(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t block, uint32_t slow,
                                 uint8_t* buffer) {
  h->status = kHalOk;
  return ReadEdidBlock(h, port, address, block, slow, buffer);
}

HALSTATUS HALPGetCustomEDID(BOARDHANDLE* h, uint32_t output, uint8_t* buffer, uint32_t* custom, uint32_t* noEdid) {
  if (HalFailed(h->status)) return h->status;
  *custom = 0;
  *noEdid = 0;
  // 0 from the client means that the buffer holds its EDID.
  if (ClientReadDDCEdid(h, output, buffer, kEdidBufferSize) != 0) return h->status;
  if (HALPIsEDIDBufferValid(buffer)) {
    *custom = 1;
  } else if (HALPGetEDIDVersion(buffer) == 0) {
    *noEdid = 1;
  }
  return h->status;
}

HALSTATUS HALPDetectSameEDID(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address, uint32_t slow,
                             uint8_t* buffer, uint32_t* same, uint32_t* length) {
  if (HalFailed(h->status)) return h->status;
  *same = 0;
  *length = 0;
  if (output >= kMonitorOutputs) return h->status;
  const MONITORINFO& mi = h->aMonitorInfo[output];
  if (!HALPIsEDIDBufferValid(mi.aucEdid)) return h->status;
  const uint32_t n = IsEdid2(HALPGetEDIDVersion(mi.aucEdid)) ? kSameEdid2Bytes : kSameEdidBytes;
  if (slow != 0) {
    HALPReadSlowDDCByte(h, port, address, 0, buffer, n);
  } else {
    HALPReadDDCByte(h, port, address, 0, buffer, n);
  }
  *length = n;
  if (HalFailed(h->status)) return h->status;
  if (std::memcmp(buffer, mi.aucEdid, n) == 0) {
    *same = 1;
    std::memcpy(buffer, mi.aucEdid, HALPGetEDIDBufferSize(mi.aucEdid));
  }
  return h->status;
}

HALSTATUS HALPReadDDCEDID(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address, uint32_t attempts,
                          uint32_t wait) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  uint8_t buffer[kEdidBufferSize] = {};
  uint32_t custom = 0;
  uint32_t noEdid = 0;
  HALPGetCustomEDID(h, output, buffer, &custom, &noEdid);
  h->status = kHalOk;

  bool ok = custom != 0;
  if (!ok && (noEdid != 0 || attempts == 0)) {
    ForgetEdid(mi);
    return h->status;
  }
  for (uint32_t i = 0; !ok && i < attempts; ++i) {
    std::memset(buffer, 0, sizeof(buffer));
    const uint32_t slow = i >= kDdcFirstSlowAttempt ? 1 : 0;
    uint32_t same = 0;
    uint32_t length = 0;
    HALPDetectSameEDID(h, output, port, address, slow, buffer, &same, &length);
    if (same == 0) {
      HALPReadDDCByte(h, port, address, length, buffer + length, kEdidBlockSize - length);
      if (HALPGetEDIDBufferSize(buffer) == kEdidBufferSize)
        ReadEdidBlock(h, port, address, 1, slow, buffer + kEdidBlockSize);
    }
    ok = !HalFailed(h->status) && HALPIsEDIDBufferValid(buffer);
    if (!ok) {
      h->status = kHalOk;
      ClientWait(h, wait);
    }
  }
  if (!ok) {
    ForgetEdid(mi);
    return h->status;
  }
  std::memset(mi.aucEdid, 0, sizeof(mi.aucEdid));
  std::memcpy(mi.aucEdid, buffer, HALPGetEDIDBufferSize(buffer));
  mi.flMonitor |= kMonitorPresent | kMonitorEdidValid;
  mi.ulEdidVersion = HALPGetEDIDVersion(buffer);
  return h->status;
}

HALSTATUS HALPDetectShortDDCPort(BOARDHANDLE* h, uint32_t port, uint32_t* tied) {
  if (HalFailed(h->status)) return h->status;
  *tied = 0;
  uint32_t clockClass = 0;
  DEVICEJUMPTABLE& j = h->oJumpTable;
  j.I2COpenPort(h, &clockClass, port);
  j.I2CSetSDA(h, port, 1);
  uint8_t scl = 0;
  uint8_t sda = 0;
  j.I2CGetSCL(h, port, &scl);
  j.I2CGetSDA(h, port, &sda);
  if ((scl & 1) && (sda & 1)) {
    // Pull SDA low: on tied lines SCL follows it.
    j.I2CSetSDA(h, port, 0);
    ClientWait(h, kTiedLinesSettleUnits);
    j.I2CGetSCL(h, port, &scl);
    if (!(scl & 1)) *tied = 1;
  }
  j.I2CSetSDA(h, port, 1);
  j.I2CClosePort(h);
  return h->status;
}

HALSTATUS HALPDetectHD15ToTVAdaptor(BOARDHANDLE* h, uint32_t output, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  HALPDetectShortDDCPort(h, DdcPortOfOutput(output), found);
  h->status = kHalOk;  // no adaptor is no error
  return h->status;
}

HALSTATUS HALPPollDesktopExpanderCommunication(BOARDHANDLE* h, uint32_t port, uint8_t* reply) {
  if (HalFailed(h->status)) return h->status;
  uint32_t answers = 0;
  for (uint32_t i = 0; i < kExpanderMaxPolls && answers < kExpanderRepliesWanted; ++i) {
    if (HalFailed(HALPReadDDCByte(h, port, kDesktopExpanderAddress, kExpanderReplyRegister, reply,
                                  kExpanderReplyBytes)))
      break;
    if (reply[1] != 0) ++answers;
  }
  return h->status;
}

HALSTATUS HALPGetDesktopExpanderMagicWord(BOARDHANDLE* h, uint32_t port, uint32_t* magic) {
  if (HalFailed(h->status)) return h->status;
  *magic = kNoDesktopExpanderMagic;
  uint8_t reply[kExpanderReplyBytes] = {};
  HALPWriteDDCByte(h, port, kDesktopExpanderAddress, kExpanderCommandRegister, kExpanderQuery, sizeof(kExpanderQuery));
  HALPPollDesktopExpanderCommunication(h, port, reply);
  if (HalFailed(h->status) || reply[1] == 0 || (reply[2] & kExpanderStateMask) != kExpanderIdle) return h->status;
  std::memset(reply, 0, sizeof(reply));
  HALPWriteDDCByte(h, port, kDesktopExpanderAddress, kExpanderCommandRegister, kExpanderMagicQuery,
                   sizeof(kExpanderMagicQuery));
  HALPPollDesktopExpanderCommunication(h, port, reply);
  if (!HalFailed(h->status) && reply[1] != 0 && (reply[2] & kExpanderStateMask) == kExpanderMagicReady)
    *magic = reply[3];
  return h->status;
}

HALSTATUS HALPDetectSpanbox(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  char letters[4];
  ORVGetVendorSign(mi.aucEdid, letters);
  if (std::strcmp(letters, kDesktopExpanderVendor) != 0) return h->status;
  uint32_t magic = kNoDesktopExpanderMagic;
  HALPGetDesktopExpanderMagicWord(h, DdcPortOfOutput(output), &magic);
  if (magic == kDesktopExpanderMagic) mi.flMonitor |= kMonitorDesktopExpander;
  h->status = kHalOk;  // no box is no error
  return h->status;
}
