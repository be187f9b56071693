// Kept apart so that only users of the BIOS parameter block need the
// library's look-up.
#include "core/client_services.h"

void* HWKSTGetPINS(BOARDHANDLE* board) { return ORVGetPinsPointer(board); }
