// The tools' view of the configuration extension. The connection is tried
// once per process, at the first call; without the extension every call
// answers its "absent" value and a single notice is printed.
#pragma once

#include <cstdint>

#include "core/orvcfg_records.h"
#include "tools/lib/ModelineUtils.h"

int ORVCommIsORVCfgExtFound();
// 1 when the mode is valid (a request without reply counts as valid);
// 0 when the extension is absent.
int ORVCommValidateMode(int board, int output, int outputType, const UiModeLine* mode);
int ORVCommValidateModeEDID(int board, int output, int outputType, const UiModeLine* mode);
// The request's result; the reply's timing (zero without reply) goes into
// `out`, whose name is kept. Absent: 0 and `out` untouched.
int ORVCommGetDetailledTiming(int width, int height, int refresh, UiModeLine* out);
// -1 when the request fails, 0 when absent.
int ORVCommGetSpecificBoardCap(int board, int capability);
int ORVCommGetBoardByAddress(int bus, int device, int function);
// 0 when the request fails or absent.
int ORVCommGetNBBoard();
// 1 when the extension is there, also when the request failed.
int ORVCommGetVersion(int* major, int* minor, int* patch);
int ORVCommGetGenericBoardCap(int board, ORVCFGGenericBoardCap* cap);
int ORVCommGetGenericBoardState(int board, ORVCFGGenericBoardState* state);
int ORVCommGetOutputState(int board, int output, ORVCFGOutputState* state);
// Boards of the first chip generation cannot drive the largest digital modes.
bool ORVCommIsBoardDVIResolutionLimited(int board);
bool ORVCommIsMonitorContainsEdid(int board, int output);
void ORVCommShutdown();

void ConvertUiModeLineToORVCFGVideoMode(ORVCFGVideoMode* out, const UiModeLine* mode);
void ConvertORVCFGValidateOutputToUiModeLine(UiModeLine* out, const ORVCFGVideoMode* mode);

// Tests only: forget the connection and its outcome, as at process start.
void ORVCommResetForTesting();
