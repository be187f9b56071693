// The blocks a client allocated with request 24: host-aperture windows and
// surfaces of video memory, each recorded in the client's block list, and
// how each goes again (request 25, the client's release, the board's last
// device object).
#pragma once

#include <stdint.h>

#include "core/kcore_names.h"

struct KernelClient;
struct ClientBlockRecord;
class MmSurface;

// Frees the record's object: a window is unlocked and released, a surface's
// block goes back to its heap; device objects whose primary surface it was
// forget it, and surfaces that used a freed window as their aperture clone
// drop it. The object is deleted; the record is not.
void FreeClientBlockObject(KernelClient* client, ClientBlockRecord* record);
