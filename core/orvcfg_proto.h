// Wire protocol of the "ORVCFG" X extension.
//
// Every request is the extension's major opcode, a minor opcode, the length
// in 4-byte units and the screen number, followed by 32-bit fields. Every
// reply is the X protocol's 32-byte reply, its data starting at byte 8,
// followed by the extra words listed here.
#pragma once

#include <stdint.h>

#include "core/orvcfg_records.h"

#define ORVCFG_EXTENSION_NAME "ORVCFG"

enum OrvCfgMinorOpcode : uint8_t {
  X_ORVCFGGetVersion = 1,
  X_ORVCFGGetNBBoard = 2,
  X_ORVCFGGetBoardByAddress = 3,
  X_ORVCFGValidateMode = 4,
  X_ORVCFGGetGenericBoardCap = 5,
  X_ORVCFGGetSpecificBoardCap = 6,
  X_ORVCFGGetOutputState = 7,
  X_ORVCFGGetGenericBoardState = 8,
  X_ORVCFGValidateModeEDID = 9,
  X_ORVCFGGetDetailledTiming = 10,
};

// Request lengths in 4-byte units.
constexpr uint16_t kOrvCfgLenGetVersion = 2;
constexpr uint16_t kOrvCfgLenGetNBBoard = 2;
constexpr uint16_t kOrvCfgLenGetBoardByAddress = 5;
constexpr uint16_t kOrvCfgLenValidateMode = 5 + sizeof(ORVCFGVideoMode) / 4;
constexpr uint16_t kOrvCfgLenGetGenericBoardCap = 3;
constexpr uint16_t kOrvCfgLenGetSpecificBoardCap = 4;
constexpr uint16_t kOrvCfgLenGetOutputState = 4;
constexpr uint16_t kOrvCfgLenGetGenericBoardState = 3;
constexpr uint16_t kOrvCfgLenGetDetailledTiming = 5;
static_assert(kOrvCfgLenValidateMode == 23);

// A reply carries 24 data bytes in its 32-byte body; longer records follow
// as extra words.
constexpr uint32_t kOrvCfgReplyDataOffset = 8;
constexpr uint32_t kOrvCfgReplyInlineBytes = 24;
constexpr uint32_t OrvCfgExtraWords(uint32_t ulRecordBytes) {
  return ulRecordBytes <= kOrvCfgReplyInlineBytes
             ? 0
             : (ulRecordBytes - kOrvCfgReplyInlineBytes + 3) / 4;
}
static_assert(OrvCfgExtraWords(sizeof(ORVCFGGenericBoardCap)) == 32);
static_assert(OrvCfgExtraWords(sizeof(ORVCFGOutputState)) == 489);
static_assert(OrvCfgExtraWords(sizeof(ORVCFGVideoMode)) == 12);
static_assert(OrvCfgExtraWords(sizeof(ORVCFGGenericBoardState)) == 0);
