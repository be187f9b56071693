#pragma once

#include <cstdint>

// Result codes of the library routines; 0 is success and kErrOneCardOnly a
// warning that callers treat as success.
enum ErrorCode : int32_t {
  kErrNone = 0,
  kErrParseConfig = 1,
  kErrNoConfigFile = 2,
  kErrOneCardOnly = 3,
  kErrWritePermission = 4,
  kErrCardNotInDatabase = 5,
  kErrKvdWithQlb = 6,
  kErrOneBpp = 7,
  kErrOneRefresh = 8,
  kErrOneRotate = 9,
  kErrOneResolution = 10,
  kErrRotateUnsupported = 11,
  kErrRefreshTooLow = 12,
  kErrRefreshTooHigh = 13,
  kErrQlbOutputs = 14,
  kErrOrvOutputs = 15,
  kErrKvdOutputs = 16,
  kErrDriverCapability = 17,
  kErrKvdCapability = 18,
  kErrGlCapability = 19,
  kErrOutputCapability = 20,
  kErrBpp = 21,
  kErrXineramaBpp = 22,
  kErrSquareLayout = 23,
  kErrVerticalLayout = 24,
  kErrTwoModesSections = 25,
  kErrNoCard = 26,
  // Outside the message table: the configuration file was refused, and the
  // library has printed why on standard error. The program ends with status
  // 1 and writes nothing.
  kErrConfigRefused = -2,
};

constexpr int kErrorCodeCount = 27;

extern const char* const szErrorMsg[kErrorCodeCount];

// Message text of a code; codes outside the table give an empty text.
const char* ErrorCodeToString(int32_t code);
